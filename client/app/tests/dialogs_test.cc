// The client's dialogs offscreen, with their screenshots.
#include "client/app/dialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "capture/common/blocks.h"
#include "client/app/page_export.h"
#include "client/config.h"
#include "client/handover.h"
#include "jobdoc/container.h"
#include "jobdoc/sample/sample_document.h"
#include "platform/fs/files.h"
#include "platform/registry/registry.h"
#include "platform/shm/shm.h"
#include "platform/testing/artifacts.h"
#include "platform/testing/bin_dir.h"
#include "platform/testing/latin_texts.h"
#include "platform/testing/qt_app.h"
#include "platform/testing/temp_root.h"
#include "platform/winmsg/winmsg.h"

namespace zv::client::app {
namespace {

namespace fsys = std::filesystem;

void Init() { zv::testing::QtApp(); }

// Saves the window's picture; its texts are Japanese but for names and file formats.
void Shot(QWidget& w, const char* name) {
  w.show();
  QApplication::processEvents();
  w.grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/" + name));
  EXPECT_EQ(zv::testing::LatinTexts(&w, {"Zelvora", "TIFF", "BMP", "JPEG", "OK", "Office"}), std::vector<std::string>{})
      << name;
}

class DialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Init();
    app_ = root_.str() + "/app";
    fsys::create_directories(app_);
  }
  zv::testing::TempRoot root_;
  std::string app_;
  RecordingPrompt prompt_;
};

TEST_F(DialogsTest, OptionsKeepsTheCounterUnlessTheMaximumChanges) {
  struct Case {
    int new_max;
    int counter_after;
  } cases[] = {{10, 4}, {20, 0}};
  for (const auto& c : cases) {
    ClientSettings s;
    s.auto_save_dir = app_;
    s.auto_save_times = 10;
    s.save_times = 4;
    OptionsDialog d(&s, {"Office A", "Office B"}, &prompt_);
    d.findChild<QSpinBox*>("1112")->setValue(c.new_max);
    d.findChild<QRadioButton*>("1127")->click();
    d.findChild<QComboBox*>("1071")->setCurrentIndex(1);
    d.findChild<QRadioButton*>("1138")->click();
    d.accept();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(s.save_times, c.counter_after) << c.new_max;
    EXPECT_EQ(s.auto_save_times, c.new_max);
    EXPECT_EQ(s.def_setting, 0x01u | 0x08u);
    EXPECT_EQ(s.def_printer, "Office B");
    if (c.new_max == 20) Shot(d, "ostrane_options.png");
  }
}

TEST_F(DialogsTest, OptionsFolderRules) {
  ClientSettings s;
  s.auto_save_dir = app_;
  {
    // An empty folder is refused and the dialog stays.
    OptionsDialog d(&s, {}, &prompt_);
    d.findChild<QLineEdit*>("1111")->setText("");
    d.accept();
    EXPECT_NE(d.result(), QDialog::Accepted);
    ASSERT_EQ(prompt_.shown.size(), 1u);
    EXPECT_EQ(prompt_.shown[0].text, "印刷ジョブ格納先フォルダの指定がありません。");
    // With no managed printer the printer cannot be initialised.
    EXPECT_FALSE(d.findChild<QRadioButton*>("1127")->isEnabled());
    EXPECT_FALSE(d.findChild<QComboBox*>("1071")->isEnabled());
  }
  struct Case {
    PromptAnswer answer;
    std::string expected_dir;
    bool created;
  } cases[] = {{PromptAnswer::kNo, app_, false}, {PromptAnswer::kYes, root_.str() + "/saved/jobs", true}};
  for (const auto& c : cases) {
    s.auto_save_dir = app_;
    prompt_.answer = c.answer;
    OptionsDialog d(&s, {}, &prompt_);
    d.findChild<QLineEdit*>("1111")->setText(QString::fromStdString(root_.str() + "/saved/jobs"));
    d.accept();
    EXPECT_EQ(s.auto_save_dir, c.expected_dir);
    EXPECT_EQ(fsys::is_directory(root_.str() + "/saved/jobs"), c.created);
  }
  // Clearing the history deletes only the saved jobs and says so, also when there are none.
  ASSERT_TRUE(fs::WriteFileAtomic(app_ + "/AutoSave000.prc", "x").ok());
  ASSERT_TRUE(fs::WriteFileAtomic(app_ + "/Other.prc", "x").ok());
  s.auto_save_dir = app_;
  s.save_times = 3;
  prompt_.answer = PromptAnswer::kYes;
  OptionsDialog d(&s, {}, &prompt_);
  for (int i = 0; i < 2; ++i) {
    prompt_.shown.clear();
    d.ClearHistory();
    ASSERT_FALSE(prompt_.shown.empty());
    EXPECT_EQ(prompt_.shown.back().title, "印刷ジョブ履歴クリア完了");
  }
  EXPECT_FALSE(fsys::exists(app_ + "/AutoSave000.prc"));
  EXPECT_TRUE(fsys::exists(app_ + "/Other.prc"));
  EXPECT_EQ(s.save_times, 0);
}

TEST_F(DialogsTest, ServerDialogAgainstAShareUnderNet) {
  // A server "SRV" with its share, and a computer "BARE" that has no share.
  const std::string share = root_.str() + "/server-share";
  fsys::create_directories(share + "/PrintInfo");
  ASSERT_TRUE(fs::WriteFileAtomic(share + "/PrintInfo/printers.lst", "[PRINTERS]\r\nOffice A=\r\nOffice B=\r\n").ok());
  ASSERT_TRUE(JoinServer(share, "SRV", "share", app_).ok());
  fsys::create_directories(root_.str() + "/net/BARE");
  ASSERT_TRUE(fs::WriteFileAtomic(app_ + "/printers.lst", "[PRINTERS]\r\nLocal P=\r\n").ok());
  EXPECT_EQ(NetworkComputers(), (std::vector<std::string>{"BARE", "SRV"}));

  auto config = LoadClientConfig();
  ASSERT_TRUE(config.ok());
  config->server_name.clear();  // start from local printing
  _CServerSet d(*config, QuotaState{}, &prompt_);
  auto* list = d.findChild<QPlainTextEdit*>("1055");
  auto* field = d.findChild<QLineEdit*>("1052");
  EXPECT_EQ(field->text().toStdString(), kLocalPrintingText);
  EXPECT_EQ(list->toPlainText().toStdString(), "Local P\n");

  EXPECT_TRUE(d.ChooseComputer("SRV"));
  EXPECT_EQ(list->toPlainText().toStdString(), "Office A\nOffice B\n");
  // A computer without the server's share keeps the previous server and its list.
  EXPECT_FALSE(d.ChooseComputer("BARE"));
  ASSERT_EQ(prompt_.shown.size(), 1u);
  EXPECT_EQ(prompt_.shown[0].title, "コンピュータ選択");
  EXPECT_EQ(field->text().toStdString(), "\\\\SRV");
  EXPECT_EQ(list->toPlainText().toStdString(), "Office A\nOffice B\n");
  // Enter in the field reads it and never closes the dialog.
  d.show();
  QTest::keyClick(field, Qt::Key_Return);
  EXPECT_TRUE(d.isVisible());
  Shot(d, "ostrane_server.png");
  // A monitor runs already, so accepting starts none (else the install's own, <prefix>/bin).
  auto monitor = winmsg::Window::Create(
      kMonitorClass, "monitor",
      [](winmsg::HWND, winmsg::UINT, winmsg::WPARAM, winmsg::LPARAM) -> winmsg::LRESULT { return 0; });
  ASSERT_TRUE(monitor.ok());
  d.accept();
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(d.server_name(), "\\\\SRV");
  auto key = registry::Key::Open(registry::RootKey::kLocalMachine, kMachineKey);
  ASSERT_TRUE(key.ok());
  EXPECT_EQ(*key->GetString("ServerName"), "\\\\SRV");
}

// Typing another server, Enter and then Escape: the dialog filled its working copy only, so
// the program folder's list still names the client's own printers. After a good list is
// read, OK holds the focus, so a second Enter accepts.
TEST_F(DialogsTest, ServerDialogByKeysFillsOnlyItsWorkingCopy) {
  const std::string share = root_.str() + "/server-share";
  fsys::create_directories(share + "/PrintInfo");
  const std::string server_list = "[PRINTERS]\r\nOffice A=\r\n";
  ASSERT_TRUE(fs::WriteFileAtomic(share + "/PrintInfo/printers.lst", server_list).ok());
  ASSERT_TRUE(JoinServer(share, "SRV", "share", app_).ok());
  const std::string own = "[PRINTERS]\r\nLocal P=\r\n";
  ASSERT_TRUE(fs::WriteFileAtomic(app_ + "/printers.lst", own).ok());
  auto config = LoadClientConfig();
  ASSERT_TRUE(config.ok());
  config->server_name.clear();
  // A monitor runs already, so OK starts none.
  auto monitor = winmsg::Window::Create(
      kMonitorClass, "monitor",
      [](winmsg::HWND, winmsg::UINT, winmsg::WPARAM, winmsg::LPARAM) -> winmsg::LRESULT { return 0; });
  ASSERT_TRUE(monitor.ok());
  for (bool cancel : {true, false}) {
    SCOPED_TRACE(cancel ? "Escape" : "Enter");
    _CServerSet d(*config, QuotaState{}, &prompt_);
    EXPECT_EQ(d.working_copy(), config->SpoolFolder() + "/printers.lst");
    d.show();
    d.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
    auto* field = d.findChild<QLineEdit*>("1052");
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, "SRV");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.findChild<QPlainTextEdit*>("1055")->toPlainText().toStdString(), "Office A\n");
    EXPECT_EQ(QApplication::focusWidget(), d.findChild<QPushButton*>("1"));
    if (!cancel) Shot(d, "ostrane_server_keys.png");
    QTest::keyClick(QApplication::focusWidget(), cancel ? Qt::Key_Escape : Qt::Key_Return);
    EXPECT_EQ(d.result(), cancel ? QDialog::Rejected : QDialog::Accepted);
    EXPECT_EQ(*fs::ReadFile(app_ + "/printers.lst"), own);
    EXPECT_EQ(*fs::ReadFile(d.working_copy()), server_list);
  }
}

TEST_F(DialogsTest, ProgressAndAbout) {
  ProgressDialog p;
  ProgressModel m;
  m.Open(ProgressModel::kFirstBuild, 7);
  p.Show(m);
  EXPECT_EQ(p.findChild<QLabel*>("1157")->text(), " 1/ 7");
  EXPECT_EQ(p.windowTitle().toStdString(), kProgressTitle);
  Shot(p, "ostrane_progress.png");
  m.Open(ProgressModel::kPrinting, 0);
  p.Show(m);
  EXPECT_EQ(p.windowTitle().toStdString(), "印刷実行中");
  EXPECT_FALSE(p.findChild<QLabel*>("1159")->isVisible());

  // The build tree has the install's layout: every module is there with the project's version.
  const std::string build = fsys::path(zv::testing::BinDir()).parent_path().string();
  const char* const names[] = {"ostrane",       "ulmerith",      "libvinteko.so",
                               "liblumbrel.so", "libquorvel.so", "libsarquen.so"};
  AboutDialog a(build);
  auto* rows = a.findChild<QTreeWidget*>("1104");
  ASSERT_EQ(rows->topLevelItemCount(), 6);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(rows->topLevelItem(i)->text(0).toStdString(), names[i]);
    EXPECT_EQ(rows->topLevelItem(i)->text(1).toStdString(), ZELVORA_VERSION_TEXT) << names[i];
  }
  Shot(a, "ostrane_about.png");
  // A file without a version record and a missing one keep their rows, without a version.
  fsys::create_directories(app_ + "/bin");
  ASSERT_TRUE(fs::WriteFileAtomic(app_ + "/bin/ostrane", "#!/bin/sh\n").ok());
  const auto modules = InstalledModules(app_);
  ASSERT_EQ(modules.size(), 6u);
  EXPECT_EQ(modules[0].name, "ostrane");
  EXPECT_EQ(modules[0].version, "");
  EXPECT_EQ(modules[2].version, "");
}

TEST(PageExportTest, ImageOptionsAndNames) {
  struct Case {
    std::string text;
    ImageSaveChoice choice;
  } cases[] = {
      {"00000/home/u", {0, 0, false, false, 0, "/home/u"}},
      {"21112/x y", {2, 1, true, true, 2, "/x y"}},
      {"99999", {0, 0, false, false, 0, ""}},  // digits out of range read as 0
  };
  for (const auto& c : cases) {
    ImageSaveChoice got = ParseImageSaveText(c.text);
    EXPECT_EQ(got.size, c.choice.size) << c.text;
    EXPECT_EQ(got.format, c.choice.format) << c.text;
    EXPECT_EQ(got.no_number_first, c.choice.no_number_first) << c.text;
    EXPECT_EQ(got.fixed_digits, c.choice.fixed_digits) << c.text;
    EXPECT_EQ(got.digits, c.choice.digits) << c.text;
    EXPECT_EQ(got.folder, c.choice.folder) << c.text;
  }
  EXPECT_EQ(ComposeImageSaveText(ParseImageSaveText("21112/x y")), "21112/x y");
  // 8.5 x 11 inches at the small size.
  Pixels px = ImagePixels(85 * 28800 / 10, 11 * 28800, 1);
  EXPECT_EQ(px.width, 510);
  EXPECT_EQ(px.height, 660);
  ImageSaveChoice c{1, 2, false, false, 0, "/out/"};
  EXPECT_EQ(ImageOutputText(c, "../a/b"), "060/out/..／a／b.jpg");
  EXPECT_EQ(ImageOutputText(c, ""), "060/out/Tarvessa.jpg");
  c.fixed_digits = true;
  c.digits = 2;
  c.no_number_first = true;
  const std::string block = ImageOptionsBlock(c, {510, 660});
  EXPECT_EQ(block, std::string("\x0c\0\0\0\x03\x02\0\xfe\x01\x94\x02\x07", 12));
}

TEST_F(DialogsTest, PagesSavedAsPdfAndImagesThroughTheConversionLibrary) {
  COstraneDoc doc;
  const std::string prc = root_.str() + "/job.prc";
  ASSERT_TRUE(
      jobdoc::WriteDocumentData(jobdoc::sample::MakeDocument(2, 2, false), jobdoc::DocumentWriteMode::kPacked, prc)
          .ok());
  ASSERT_TRUE(doc.OnOpenDocument(prc, "", &prompt_));
  doc.set_name("a/b");
  const std::string pdf = root_.str() + "/out.pdf";
  Status exported = ExportPages(doc, 100, pdf);
  ASSERT_TRUE(exported.ok()) << exported.ToString();
  auto bytes = fs::ReadFile(pdf);
  ASSERT_TRUE(bytes.ok());
  EXPECT_NE(bytes->find("/Count 2"), std::string::npos);

  // The image dialog writes slot 3's block for the converter and puts the old bytes back.
  auto block = shm::SharedBlock::Create(capture::SlotBlockName(3, 2), capture::SlotBlockSize(3, 2));
  ASSERT_TRUE(block.ok()) << block.status().ToString();
  std::memcpy(block->mutable_bytes().data(), "previous-123", 12);
  const std::string out = root_.str() + "/images";
  fsys::create_directories(out);
  {
    _CImgSave d(&doc, "21000" + out, &prompt_);
    Shot(d, "ostrane_image_save.png");
    d.accept();
    EXPECT_EQ(d.options(), "21000" + out);
  }
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block->bytes().data()), 12), "previous-123");
  int written = 0;
  for (const auto& e : fsys::directory_iterator(out)) {
    EXPECT_EQ(e.path().extension(), ".bmp");
    EXPECT_EQ(e.path().filename().string().rfind("a／b", 0), 0u) << e.path();
    ++written;
  }
  EXPECT_EQ(written, 2);
  EXPECT_TRUE(prompt_.shown.empty());
  // A folder that does not exist: the failure message.
  _CImgSave bad(&doc, "01000" + root_.str() + "/missing", &prompt_);
  bad.accept();
  ASSERT_EQ(prompt_.shown.size(), 1u);
  EXPECT_EQ(prompt_.shown[0].text, "画像ファイルの保存に失敗しました。");
}

TEST_F(DialogsTest, ImagesOfAMixedDocumentTakeEachPagesOwnSize) {
  // A4 pages, one of them turned to landscape, as a capture file (the page trailers carry
  // each page's paper) and as a saved job (the format record and the attribute records).
  struct Case {
    const char* file;
    jobdoc::DocumentWriteMode mode;
    int landscape_page;
  } cases[] = {
      {"WXQmixed.tmp", jobdoc::DocumentWriteMode::kUnpacked, 1},
      {"mixed.prc", jobdoc::DocumentWriteMode::kPacked, 1},
      {"WXQfirst.tmp", jobdoc::DocumentWriteMode::kUnpacked, 0},
      {"first.prc", jobdoc::DocumentWriteMode::kPacked, 0},
  };
  for (const auto& c : cases) {
    jobdoc::DocumentImage d = jobdoc::sample::MakeDocument(2, 2, false);
    for (auto& page : d.pages) page.attributes = {9, 2100, 2970};
    d.pages[c.landscape_page].attributes.word |= jobdoc::kAttrLandscape;
    const std::string in = root_.str() + "/" + c.file;
    ASSERT_TRUE(jobdoc::WriteDocumentData(d, c.mode, in).ok());
    COstraneDoc doc;
    ASSERT_TRUE(doc.OnOpenDocument(in, "mixed", &prompt_)) << c.file;
    doc.set_name("mixed");
    const std::string out = root_.str() + "/images-" + c.file;
    fsys::create_directories(out);
    _CImgSave dialog(&doc, "21000" + out, &prompt_);  // thumbnail size (15 dpi), BMP
    dialog.accept();
    // The BMP header's width and height (offsets 18 and 22) of each page's file.
    std::vector<std::pair<int, int>> sizes;
    for (const char* name : {"/mixed_1.bmp", "/mixed_2.bmp"}) {
      auto bytes = fs::ReadFile(out + name);
      ASSERT_TRUE(bytes.ok()) << c.file << name;
      ASSERT_GE(bytes->size(), 26u);
      auto at = [&](size_t o) {
        std::int32_t v;
        std::memcpy(&v, bytes->data() + o, 4);
        return v;
      };
      sizes.emplace_back(at(18), std::abs(at(22)));
    }
    // 210 x 297 mm at 15 dpi: 124 x 175 pixels, and the landscape page 175 x 124.
    std::vector<std::pair<int, int>> expected = {{124, 175}, {124, 175}};
    expected[c.landscape_page] = {175, 124};
    EXPECT_EQ(sizes, expected) << c.file;
  }
  EXPECT_TRUE(prompt_.shown.empty());
}

}  // namespace
}  // namespace zv::client::app
