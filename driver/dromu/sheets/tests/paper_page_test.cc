#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTextBrowser>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "driver/dromu/sheets/paper_page.h"
#include "driver/dromu/sheets/paper_page_model.h"
#include "platform/paths/install_layout.h"
#include "platform/testing/artifacts.h"
#include "platform/testing/qt_app.h"
#include "platform/testing/temp_root.h"

namespace zv::driver::sheets {
namespace {

QApplication& App() { return zv::testing::QtApp(); }

std::vector<std::string> Names() {
  std::vector<std::string> n;
  for (const auto& p : Papers()) n.push_back(p.name);
  return n;
}

TEST(PaperPageModel, ParseTenths) {
  struct Case {
    const char* text;
    int low, high, def;
    int want;
  };
  const Case cases[] = {
      {"12.34", 0, 300, 0, 123},
      {"31", 0, 300, 0, 300},
      {"-5", 0, 300, 0, 0},
      {"abc", 0, 300, 0, 0},
      {"", 0, 300, 0, 0},
      {"  7.5", 0, 300, 0, 75},
      {"+3", 0, 300, 0, 30},
      {"1.2.3", 0, 300, 0, 0},
      {"3mm", 0, 300, 0, 0},
      {"50", 1000, 8400, 1000, 1000},
      {"900", 1000, 8400, 1000, 8400},
      {"210.0", 1000, 8400, 1000, 2100},
      {"x", 1000, 8400, 1000, 1000},
      {"-300", 1000, 8400, 1000, 1000},
      {"99999999999", 0, 300, 0, 300},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseTenths(c.text, c.low, c.high, c.def), c.want) << c.text;
  EXPECT_EQ(FormatTenths(123), "12.3");
  EXPECT_EQ(FormatTenths(-5), "-0.5");
}

TEST(PaperPageModel, PaperResolutionAndUserSize) {
  MemoryPlatform ops;
  PRIVDEVMODE mode = BuildDefaultDevmode(ops, "Wexlan Printer");
  PaperPageModel m(mode, ops, "Wexlan Printer", Names(), true);
  m.SelectResolution(6);
  EXPECT_EQ(mode.dm.dmPrintQuality, 600);
  EXPECT_EQ(mode.dm.dmYResolution, 600);
  mode.dm.dmFields |= kFieldPaperSize;
  EXPECT_FALSE(m.SelectPaper(2));  // A3
  EXPECT_EQ(mode.dm.dmPaperSize, 8);
  EXPECT_EQ(mode.dm.dmPaperWidth, 2970);
  EXPECT_EQ(mode.dm.dmPaperLength, 4200);
  EXPECT_FALSE(m.SelectPaper(12));  // beyond the rows: nothing changes
  EXPECT_EQ(mode.dm.dmPaperSize, 8);
  // The user-defined paper opens the size dialog, with A4's size for a fresh mode.
  EXPECT_TRUE(m.SelectPaper(11));
  UserSizeModel size = m.UserSize();
  EXPECT_EQ(FormatTenths(size.width()), "210.0");
  EXPECT_EQ(FormatTenths(size.height()), "297.0");
  size.Edit(0, "50");
  size.Spin(1, 9000);
  m.ApplyUserSize(size);
  EXPECT_EQ(mode.priv.user_paper_width, 1000);
  EXPECT_EQ(mode.priv.user_paper_height, 8400);
  EXPECT_EQ(mode.dm.dmPaperWidth, 1000);
  m.SpinMargin(0, -4);
  EXPECT_EQ(m.margin(0), 0);
  m.SpinMargin(1, 301);
  EXPECT_EQ(m.margin(1), 300);
  m.SetLandscape(true);
  EXPECT_EQ(mode.dm.dmOrientation, 2);

  // Without permission nothing changes.
  const PRIVDEVMODE before = mode;
  PaperPageModel ro(mode, ops, "Wexlan Printer", Names(), false);
  ro.SelectPaper(3);
  ro.SelectResolution(0);
  ro.SetLandscape(false);
  ro.EditMargin(2, "1");
  ro.SpinMargin(3, 100);
  ro.ApplyUserSize(UserSizeModel(2000, 2000));
  EXPECT_EQ(0, std::memcmp(&before, &mode, sizeof mode));
}

TEST(PaperPageWindow, HelpFileFallsBackToTheSubfolderThenTheDataFolder) {
  testing::TempRoot root;
  const std::string dir = root.str();
  std::filesystem::create_directories(dir + "/2");
  auto data = paths::InstalledFolder(paths::kDataFolder);
  ASSERT_TRUE(data.ok());
  const std::string name = kDriverHelpFileName;
  struct Case {
    bool top, sub;
    std::string want;
  };
  const Case cases[] = {
      {true, true, dir + "/" + name},
      {false, true, dir + "/2/" + name},
      {false, false, *data + "/" + name},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dir + "/" + name);
    std::filesystem::remove(dir + "/2/" + name);
    if (c.top) std::ofstream(dir + "/" + name) << "help";
    if (c.sub) std::ofstream(dir + "/2/" + name) << "help";
    EXPECT_EQ(HelpFile(dir), c.want) << c.top << c.sub;
  }
  // A folder of that name is not a help page.
  std::filesystem::create_directories(dir + "/" + name);
  std::ofstream(dir + "/2/" + name) << "help";
  EXPECT_EQ(HelpFile(dir), dir + "/2/" + name);
}

TEST(PaperPageWindow, VersionBoxAndHelpWithoutPermission) {
  App();
  auto res = gastrelo::Resources::Load();
  ASSERT_TRUE(res.ok()) << res.status().ToString();
  MemoryPlatform ops;
  PRIVDEVMODE mode = BuildDefaultDevmode(ops, "Wexlan Printer");
  PaperPageModel m(mode, ops, "Wexlan Printer", Names(), false);
  PaperPage page(m, **res);
  page.show();
  QStringList lines;
  QString title;
  page.run_version = [&](VersionDialog& d) {
    d.show();
    title = d.windowTitle();
    for (QLabel* l : d.findChildren<QLabel*>()) lines << l->text();
    d.grab().save(QString::fromStdString(testing::ArtifactsDir() + "/driver_version_dialog.png"));
    d.findChild<QPushButton*>()->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
  };
  ASSERT_TRUE(page.version_button()->isEnabled());
  page.version_button()->click();
  EXPECT_EQ(title, "Version Information");
  EXPECT_EQ(lines, (QStringList{"Wexlan Printer", "Version 1.10.00", "for Microsoft(R) Windows", "Zelvora"}));

  // The Help key opens the driver's help page the build lays into the data folder, in the
  // help window; pressed again, a new window replaces the first; the window goes with the
  // page.
  page.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
  QTest::keyClick(&page, Qt::Key_F1);
  QPointer<help::HelpWindow> first = page.help_viewer().window();
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->page().ends_with("/share/zelvora/Mirrastel.html")) << first->page();
  EXPECT_EQ(first->windowTitle(), "Zelvora プリンタ ヘルプ");
  EXPECT_FALSE(first->browser()->toPlainText().contains("ヘルプファイルを開けません。"));
  EXPECT_TRUE(first->browser()->toPlainText().contains("余白設定"));
  first->grab().save(QString::fromStdString(testing::ArtifactsDir() + "/driver_help_window.png"));
  page.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
  QTest::keyClick(&page, Qt::Key_F1);
  EXPECT_TRUE(first.isNull());
  QPointer<help::HelpWindow> second = page.help_viewer().window();
  ASSERT_NE(second, nullptr);
  QPointer<help::HelpWindow> others;
  {
    PaperPage other(m, **res);
    other.Help();
    others = other.help_viewer().window();
    EXPECT_TRUE(others);
    EXPECT_TRUE(second);  // each page keeps its own window
  }
  EXPECT_TRUE(others.isNull());
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == "zvHelpWindow") {
      EXPECT_EQ(w, second.data());
    }
  }
}

TEST(PaperPageWindow, MarginsPermissionAndScreenshots) {
  App();
  auto res = gastrelo::Resources::Load();
  ASSERT_TRUE(res.ok()) << res.status().ToString();
  MemoryPlatform ops;
  PRIVDEVMODE mode = BuildDefaultDevmode(ops, "Wexlan Printer");
  PaperPageModel m(mode, ops, "Wexlan Printer", Names(), true);
  PaperPage page(m, **res);
  page.show();
  EXPECT_EQ(page.paper()->currentText(), "A4");
  EXPECT_EQ(page.margin_edit(0)->text(), "5.0");
  EXPECT_TRUE(page.portrait()->isChecked());
  page.margin_edit(0)->setFocus();
  page.margin_edit(0)->selectAll();
  QTest::keyClicks(page.margin_edit(0), "12.34");
  EXPECT_EQ(mode.priv.margin_left, 123);
  EXPECT_EQ(page.margin_spin(0)->value(), 123);
  page.Refresh();
  EXPECT_EQ(page.margin_edit(0)->text(), "12.3");
  page.margin_edit(1)->selectAll();
  QTest::keyClicks(page.margin_edit(1), "31");
  EXPECT_EQ(mode.priv.margin_right, 300);
  page.margin_spin(2)->setValue(77);
  EXPECT_EQ(page.margin_edit(2)->text(), "7.7");
  // The user-defined paper: the size dialog opens with the mode's size.
  std::string shown;
  page.run_user_size = [&](UserSizeDialog& d) {
    d.show();
    shown = d.edit(0)->text().toStdString() + " x " + d.edit(1)->text().toStdString();
    d.grab().save(QString::fromStdString(testing::ArtifactsDir() + "/driver_user_size_dialog.png"));
    d.edit(0)->setText("50");
    emit d.edit(0)->editingFinished();
    return true;
  };
  emit page.paper()->activated(11);
  EXPECT_EQ(shown, "210.0 x 297.0");
  EXPECT_EQ(mode.priv.user_paper_width, 1000);  // 50 mm is below the smallest size
  EXPECT_EQ(page.paper()->currentIndex(), 11);
  page.grab().save(QString::fromStdString(testing::ArtifactsDir() + "/driver_paper_page.png"));

  PaperPageModel ro(mode, ops, "Wexlan Printer", Names(), false);
  PaperPage locked(ro, **res);
  locked.show();
  EXPECT_FALSE(locked.paper()->isEnabled());
  EXPECT_FALSE(locked.resolution()->isEnabled());
  EXPECT_FALSE(locked.landscape()->isEnabled());
  for (int i = 0; i < 4; ++i) {
    EXPECT_FALSE(locked.margin_edit(i)->isEnabled());
    EXPECT_FALSE(locked.margin_spin(i)->isEnabled());
  }
  EXPECT_EQ(locked.margin_edit(0)->text(), "12.3");  // values are shown
  locked.grab().save(QString::fromStdString(testing::ArtifactsDir() + "/driver_paper_page_no_permission.png"));
}

TEST(PaperPageWindow, DocumentPropertiesPromptRunsTheSheet) {
  App();
  auto res = gastrelo::Resources::Load();
  ASSERT_TRUE(res.ok());
  MemoryPlatform platform;
  dromu::MemoryQueries queries(platform);
  platform.printers["Zelvora"];
  queries.printers["Zelvora"];
  const PrinterHandle h = platform.OpenPrinter("Zelvora");
  dromu::Host host{platform, queries};
  for (bool ok : {true, false}) {
    std::vector<std::uint8_t> out(564, 0xEE);
    auto show = QtShowPage(**res, "Zelvora", [&](SheetDialog& d) {
      d.show();
      d.page()->landscape()->click();
      if (ok) d.grab().save(QString::fromStdString(testing::ArtifactsDir() + "/driver_document_sheet.png"));
      ok ? d.accept() : d.reject();
    });
    const long r = RunDocumentSheet(host, h, out, {}, dromu::kDmCopy, **res, show);
    EXPECT_EQ(r, ok ? 1 : 0);
    PRIVDEVMODE got;
    std::memcpy(&got, out.data(), sizeof got);
    if (ok) {
      EXPECT_EQ(got.dm.dmOrientation, 2);
    } else {
      EXPECT_EQ(out, std::vector<std::uint8_t>(564, 0xEE));
    }
  }
}

}  // namespace
}  // namespace zv::driver::sheets
