// The client frame offscreen: start-up and its failures, jobs arriving by copy-data through
// its platform window, the window's place, closing, the Tab cycle and the keyboard, the
// status panes, the menus and the help window.
#include "client/app/tests/frame_fixture.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QMenuBar>
#include <QRadioButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <utility>

#include "client/app/job_list_page.h"
#include "engine/rules/request_result.h"
#include "platform/testing/artifacts.h"
#include "platform/testing/latin_texts.h"
#include "viewer/qt/viewer_view.h"
#include "viewer/viewer_doc.h"

namespace zv::client::app {
namespace {

TEST_F(FrameTest, StartsWithTheCommandLineJobAndTakesFurtherJobsByCopyData) {
  WritePrinters({"Office A", "Office B"});
  auto f = Make();
  const std::string first = Capture(tmp_, "WXQ0001.tmp", 3);
  ASSERT_TRUE(f->StartUp(ParseStartArguments({first, "/n", "見積書"})));
  WaitPrinters(*f);
  EXPECT_FALSE(fsys::exists(first));  // read from the capture folder, so deleted
  EXPECT_EQ(f->document().GetAllPage(), 3);
  ASSERT_NE(f->platform_window(), 0u);
  EXPECT_EQ(winmsg::FindWindow(kFrameClass, nullptr), f->platform_window());
  EXPECT_NE(winmsg::GetProp(f->platform_window(), kFrameProperty), 0);

  // A capture file outside the capture folder, in a folder with a blank: read and kept.
  fsys::create_directories(root_.str() + "/my docs");
  const std::string outside = Capture(root_.str() + "/my docs", "WXQ0002.tmp", 2);
  EXPECT_EQ(SendJob(*f, outside, "a \"b\" c"), 1);
  EXPECT_TRUE(fsys::exists(outside));
  EXPECT_EQ(SendJob(*f, Capture(tmp_, "WXQ0003.tmp", 1), ""), 1);
  EXPECT_EQ(SendJob(*f, tmp_ + "/WXQmissing.tmp", "gone"), 0);

  EXPECT_EQ(Rows(*f), (std::vector<std::pair<std::string, int>>{{"見積書", 3}, {"a \"b\" c", 2}, {kNoJobNameText, 1}}));
  EXPECT_EQ(f->findChild<QLineEdit*>("1014")->text(), "6");
  EXPECT_EQ(status_.asked, std::vector<std::string>{"start 10.0.0.1"});
  f->findChild<QComboBox*>("1068")->setCurrentIndex(1);
  EXPECT_EQ(status_.asked, (std::vector<std::string>{"start 10.0.0.1", "select 10.0.0.2"}));
  // Folder printers: the queue is the client's own window; properties need CUPS.
  EXPECT_TRUE(f->findChild<QPushButton*>("1000")->isEnabled());
  EXPECT_FALSE(f->findChild<QPushButton*>("1072")->isEnabled());

  f->findChild<QTabWidget*>("1005")->setCurrentIndex(3);
  f->show();
  PreviewDrawn(*f);
  f->grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/ostrane_frame_jobs.png"));
}

TEST_F(FrameTest, TabCycleDefaultLookTopmostAndRateClearing) {
  WritePrinters({"P"});
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQt.tmp", 1), "/n", "T"})));
  WaitPrinters(*f);
  f->show();
  QApplication::setActiveWindow(f.get());
  // The name of the cycle member holding the focus ("1005" for the tab control's bar).
  auto focused = [&] {
    QWidget* w = QApplication::focusWidget();
    auto* tabs = f->findChild<QTabWidget*>("1005");
    if (w != nullptr && w->parentWidget() == tabs && w != tabs->currentWidget()) return std::string("1005");
    return w ? w->objectName().toStdString() : std::string();
  };
  f->findChild<QWidget*>("1068")->setFocus();
  std::vector<std::string> forward;
  for (int i = 0; i < 20 && (forward.empty() || focused() != "1068"); ++i) {
    forward.push_back(focused());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  // The bar's lists, the tab control, the layout page's controls, then the enabled buttons
  // (1072 is disabled with folder printers), and round again.
  ASSERT_GE(forward.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(forward.begin(), forward.begin() + 3),
            (std::vector<std::string>{"1068", "1071", "1005"}));
  EXPECT_EQ(std::vector<std::string>(forward.end() - 3, forward.end()),
            (std::vector<std::string>{"1000", "1002", "1003"}));
  for (size_t i = 3; i + 3 < forward.size(); ++i)
    EXPECT_TRUE(f->layout_page()->isAncestorOf(f->findChild<QWidget*>(QString::fromStdString(forward[i]))))
        << forward[i];
  EXPECT_EQ(focused(), "1068");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
  EXPECT_EQ(focused(), "1003");

  // The default look: Print normally; Help takes it away, the lists give it back.
  auto* print = f->findChild<QPushButton*>("1002");
  auto* help = f->findChild<QPushButton*>("1004");
  f->findChild<QWidget*>("1068")->setFocus();
  EXPECT_TRUE(print->isDefault());
  help->setFocus();
  EXPECT_FALSE(print->isDefault());
  f->findChild<QWidget*>("1071")->setFocus();
  EXPECT_TRUE(print->isDefault());
  // From the tab control to the job list's Up button: Up looks like the default.
  auto* tabs = f->findChild<QTabWidget*>("1005");
  tabs->setCurrentIndex(3);
  tabs->tabBar()->setFocus();
  auto* up = f->findChild<QPushButton*>("1006");
  up->setFocus();
  EXPECT_TRUE(up->isDefault());
  EXPECT_FALSE(print->isDefault());

  // A job arriving brings the window above the others until 0x464 comes.
  EXPECT_FALSE(f->topmost());
  ASSERT_EQ(SendJob(*f, Capture(tmp_, "WXQu.tmp", 1), "next"), 1);
  EXPECT_TRUE(f->topmost());
  for (int i = 0; i < 100 && f->topmost(); ++i) {
    winmsg::PumpMessages();  // the platform window's queue, as ostrane's pump runs it
    QTest::qWait(20);
  }
  EXPECT_FALSE(f->topmost());

  // Clearing the reduction rate asks first.
  auto* rate = f->findChild<QLabel*>("1067");
  for (PromptAnswer a : {PromptAnswer::kNo, PromptAnswer::kYes}) {
    rate->setText("削減率:25.0%  印刷枚数:30 総ﾍﾟｰｼﾞ数:40");
    prompt_.answer = a;
    prompt_.shown.clear();
    f->ClearReductionRate();
    ASSERT_EQ(prompt_.shown.size(), 1u);
    EXPECT_EQ(prompt_.shown[0].text, "削減率をクリアします。\nよろしいですか？");
    // Cleared, the line counts only the document in the window (one page a sheet).
    const std::string pages = std::to_string(f->document().GetAllPage());
    EXPECT_EQ(rate->text().toStdString(), a == PromptAnswer::kYes
                                              ? "削減率: 0.0%  印刷枚数:" + pages + " 総ﾍﾟｰｼﾞ数:" + pages
                                              : "削減率:25.0%  印刷枚数:30 総ﾍﾟｰｼﾞ数:40");
  }
  prompt_.answer = PromptAnswer::kYes;
}

TEST_F(FrameTest, ClosingWithJobsAsksAndMinimisingWaitsForAGoodOffset) {
  WritePrinters({"P"});
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQc.tmp", 1), "/n", "C"})));
  WaitPrinters(*f);
  f->show();
  struct Case {
    PromptAnswer answer;
    bool closed;
  } cases[] = {{PromptAnswer::kNo, false}, {PromptAnswer::kYes, true}};
  for (const auto& c : cases) {
    prompt_.shown.clear();
    prompt_.answer = c.answer;
    EXPECT_EQ(f->close(), c.closed);
    ASSERT_EQ(prompt_.shown.size(), 1u);
    EXPECT_EQ(prompt_.shown[0].text, kUnprintedJobsText);
    EXPECT_EQ(prompt_.shown[0].title, kCloseConfirmTitle);
    EXPECT_EQ(prompt_.shown[0].buttons, PromptButtons::kYesNoDefaultNo);
    EXPECT_EQ(f->isVisible(), !c.closed);
  }

  // A bad text in the offset field being edited keeps the window from minimising.
  auto g = Make();
  ASSERT_TRUE(g->StartUp(ParseStartArguments({})));
  g->findChild<QWidget*>("1047")->setVisible(true);
  g->show();
  QApplication::setActiveWindow(g.get());
  auto* top = g->findChild<QLineEdit*>("1049");
  top->setFocus();
  ASSERT_TRUE(top->hasFocus());
  top->setText("x");
  prompt_.shown.clear();
  g->showMinimized();
  EXPECT_FALSE(g->isMinimized());
  ASSERT_FALSE(prompt_.shown.empty());
  EXPECT_EQ(prompt_.shown[0].text, "印字補正の補正値が異常です。");
  top->setText("2.0");
  g->showMinimized();
  EXPECT_TRUE(g->isMinimized());
}

TEST_F(FrameTest, KeyboardShortcutsOfEachTab) {
  WritePrinters({"P"});
  auto f = Make();
  ASSERT_TRUE(f->StartUp(StartArgs{}));
  auto* tabs = f->findChild<QTabWidget*>("1005");
  auto checked = [&](const char* id) { return f->findChild<QAbstractButton*>(id)->isChecked(); };
  struct Case {
    int tab;
    std::vector<std::pair<int, Qt::KeyboardModifiers>> keys;
    const char* id;  // the button that must be checked afterwards
    bool checked;
  } cases[] = {
      {0, {{Qt::Key_8, Qt::NoModifier}}, "1039", true},
      {0, {{Qt::Key_4, Qt::KeypadModifier}}, "1038", true},
      {0, {{Qt::Key_4, Qt::NoModifier}, {Qt::Key_Y, Qt::NoModifier}}, "1041", true},
      {0, {{Qt::Key_4, Qt::NoModifier}, {Qt::Key_V, Qt::NoModifier}}, "1044", true},
      // With one page per sheet the separators are off, so their key does nothing.
      {0, {{Qt::Key_1, Qt::NoModifier}, {Qt::Key_W, Qt::NoModifier}}, "1043", false},
      {1, {{Qt::Key_B, Qt::AltModifier}}, "1077", true},
      {1, {{Qt::Key_1, Qt::AltModifier}}, "1078", true},
      {1, {{Qt::Key_E, Qt::NoModifier}, {Qt::Key_1, Qt::NoModifier}}, "1078", false},  // without Alt: nothing
      {2, {{Qt::Key_G, Qt::NoModifier}}, "1021", true},
      {2, {{Qt::Key_O, Qt::NoModifier}}, "1032", true},
  };
  for (const auto& c : cases) {
    // Back to the defaults of each page.
    f->layout_page()->ChoosePages(1);
    f->findChild<QAbstractButton*>("1040")->setChecked(true);
    f->findChild<QAbstractButton*>("1046")->setChecked(true);
    f->findChild<QAbstractButton*>("1076")->setChecked(true);
    f->findChild<QAbstractButton*>("1079")->setChecked(true);
    f->findChild<QAbstractButton*>("1020")->setChecked(true);
    f->findChild<QAbstractButton*>("1032")->setChecked(false);
    tabs->setCurrentIndex(c.tab);
    for (const auto& [key, mods] : c.keys) QTest::keyClick(f.get(), static_cast<Qt::Key>(key), mods);
    EXPECT_EQ(checked(c.id), c.checked) << "tab " << c.tab << " button " << c.id;
  }
}

TEST_F(FrameTest, WindowPlaceOnFirstStartAndOffTheScreen) {
  WritePrinters({"P"});
  // A first start and a place off the screen open at the first place, on the screen's free area.
  const QRect first = FirstPlace(QGuiApplication::primaryScreen()->availableGeometry(), Make()->minimumSizeHint());
  struct Case {
    int left, top, width, height;
    QRect expected;
  } cases[] = {
      {0, 0, 0, 0, first},                          // first start: nothing stored
      {40, 30, 700, 500, QRect(40, 30, 700, 500)},  // on the screen
      {5000, 30, 700, 500, first},                  // off the screen
  };
  for (const auto& c : cases) {
    {
      ClientSettings s;
      ASSERT_TRUE(LoadSettings(&s, app_, false).ok());
      s.left = c.left;
      s.top = c.top;
      s.width = c.width;
      s.height = c.height;
      ASSERT_TRUE(SaveSettings(s).ok());
    }
    auto f = Make();
    ASSERT_TRUE(f->StartUp(StartArgs{}));
    EXPECT_EQ(f->geometry(), c.expected) << c.left;
  }
  // Closing stores the place.
  auto f = Make();
  ASSERT_TRUE(f->StartUp(StartArgs{}));
  f->setGeometry(60, 70, 640, 500);
  f->close();
  ClientSettings back;
  ASSERT_TRUE(LoadSettings(&back, app_, false).ok());
  EXPECT_EQ(QRect(back.left, back.top, back.width, back.height), QRect(60, 70, 640, 500));
  // The frame is never smaller than 590 x 485.
  auto small = Make();
  small->setGeometry(60, 70, 300, 200);
  EXPECT_EQ(small->size(), QSize(590, 485));
}

TEST_F(FrameTest, StatusPanesShowTheQuotaFromTheServersResultFolder) {
  const std::string share = root_.str() + "/share";
  for (const char* d : {"/PrintInfo", "/Jobs", "/Result"}) fsys::create_directories(share + d);
  ASSERT_TRUE(fs::WriteFileAtomic(share + "/PrintInfo/printers.lst", "[PRINTERS]\r\nOffice=\r\n").ok());
  ASSERT_TRUE(JoinServer(share, "SRV", "share", app_).ok());
  const std::string ans = share + "/Result/" + CurrentUserName() + "-" + CurrentMachineName() + ".ans";
  ASSERT_TRUE(fs::WriteFileAtomic(ans,
                                  "[PrintLimit]\r\nCheckRange=3\r\nLimitDate=20991231\r\nMaxPages=100\r\n"
                                  "PageCount=7\r\nMaxPages_Color=10\r\nPageCount_Color=12\r\n")
                  .ok());
  auto f = Make();
  QSignalSpy refreshed(f.get(), &CMainFrame::quotaRefreshed);
  QSignalSpy printers(f.get(), &CMainFrame::printersLoaded);
  ASSERT_TRUE(f->StartUp(StartArgs{}));
  ASSERT_TRUE(refreshed.count() > 0 || refreshed.wait(5000));
  EXPECT_EQ(f->pane_text(1), "上限超過 カラー[2]枚 上限まで モノクロ[93]枚");
  EXPECT_FALSE(f->pane_text(0).empty());
  ASSERT_TRUE(printers.count() > 0 || printers.wait(5000));
  EXPECT_EQ(f->findChild<QComboBox*>("1068")->currentText(), "Office");  // the server's list
}

TEST_F(FrameTest, MenuCommandsAndAFailedJobSave) {
  WritePrinters({"P"});
  auto f = Make();
  ASSERT_TRUE(f->StartUp(StartArgs{}));
  WaitPrinters(*f);
  struct Item {
    const char* id;
    const char* text;
    bool enabled_without_pages;
  } items[] = {
      {"32797", "印刷(&P)", false},
      {"32788", "保存されたジョブを開く(&J)...", true},
      {"32800", "ジョブの保存(&V)...", false},
      {"32801", "キャンセル(&C)", true},
      {"32785", "ヘルプ(&H)", true},
  };
  auto show_menus = [&] {
    for (QMenu* m : f->menuBar()->findChildren<QMenu*>()) emit m->aboutToShow();
  };
  show_menus();
  for (const auto& i : items) {
    QAction* a = f->findChild<QAction*>(i.id);
    ASSERT_NE(a, nullptr) << i.id;
    EXPECT_EQ(a->text().toStdString(), i.text) << i.id;
    EXPECT_EQ(a->isEnabled(), i.enabled_without_pages) << i.id;
  }
  ASSERT_EQ(SendJob(*f, Capture(tmp_, "WXQm.tmp", 2), "M"), 1);
  show_menus();
  for (const auto& i : items) EXPECT_TRUE(f->findChild<QAction*>(i.id)->isEnabled()) << i.id;
  // The bars are fixed: a right click on the menu bar or a bar offers no menu of them.
  EXPECT_EQ(f->createPopupMenu(), nullptr);

  // A job file that cannot be written says so.
  prompt_.shown.clear();
  EXPECT_FALSE(f->job_page()->SaveJob(root_.str() + "/no such folder/job.prc"));
  ASSERT_EQ(prompt_.shown.size(), 1u);
  EXPECT_EQ(prompt_.shown[0].text, "ファイルの保存中に失敗しました。");
  EXPECT_EQ(prompt_.shown[0].icon, PromptIcon::kExclamation);
}

TEST_F(FrameTest, StartUpFailures) {
  // An unreadable document: the open-failure message, an empty document, no job name.
  WritePrinters({});
  {
    auto f = Make();
    ASSERT_TRUE(f->StartUp(ParseStartArguments({root_.str() + "/missing.prc", "/n", "x"})));
    WaitPrinters(*f);
    EXPECT_EQ(f->job_name(), "");
    EXPECT_FALSE(f->document_opened());
    EXPECT_EQ(f->findChild<QTabWidget*>("1005")->currentIndex(), 1);
    std::vector<std::string> titles;
    for (const auto& s : prompt_.shown) titles.push_back(s.title);
    EXPECT_EQ(titles, (std::vector<std::string>{"Ostrane", kSystemErrorTitle, kPrinterErrorTitle}));
    EXPECT_EQ(prompt_.shown.back().text, kNoPrinterText);
  }
  // AutoPrint: jobs arriving by copy-data are refused so the capture side keeps them.
  {
    WritePrinters({"P"});
    auto f = Make(true);
    ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQa.tmp", 1), "/n", "A"})));
    const std::string late = Capture(tmp_, "WXQlate.tmp", 1);
    EXPECT_EQ(SendJob(*f, late, "late"), 0);
    EXPECT_TRUE(fsys::exists(late));
    EXPECT_EQ(f->jobs().size(), 1);
  }
  // Without the machine key the program cannot run.
  prompt_.shown.clear();
  ASSERT_TRUE(registry::Update(registry::RootKey::kLocalMachine, [](registry::HiveData& h) {
                h = registry::HiveData{};
                return Status::Ok();
              }).ok());
  auto f = Make();
  EXPECT_FALSE(f->StartUp(StartArgs{}));
  ASSERT_EQ(prompt_.shown.size(), 1u);
  EXPECT_EQ(prompt_.shown[0].title, "初期設定");
}

TEST_F(FrameTest, FirstStartShowsATwoUpSheetWholeBesideTheSettings) {
  WritePrinters({"P"});
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQ0001.tmp", 4), "/n", "月報"})));
  WaitPrinters(*f);
  f->findChild<QRadioButton*>("1037")->click();  // two pages per sheet
  f->show();
  const QScreen* screen = QGuiApplication::primaryScreen();
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(f->size(), FirstPlace(screen->availableGeometry(), f->minimumSizeHint()).size());
  auto* host = f->findChild<QWidget*>("view");
  auto* panel = f->findChild<QWidget*>("105");
  auto* view = f->findChild<viewer::CViewerView*>();
  ASSERT_TRUE(host && panel && view);
  // On this screen and on an office one the sheet lies whole in the preview; on the office
  // screen the preview is as wide as the settings panel and each of the sheet's two pages
  // is readable.
  for (const QRect& area : {screen->availableGeometry(), QRect(0, 0, 1920, 1040)}) {
    f->setGeometry(FirstPlace(area, f->minimumSizeHint()));
    QApplication::processEvents();
    view->WaitForPages();
    const win::RECT r = view->RowRect(0);
    EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= host->width() && r.bottom <= host->height())
        << area.width() << ": " << r.left << "," << r.top << " " << r.right << "," << r.bottom << " in "
        << host->width() << "x" << host->height();
    if (area.width() == 1920) {
      EXPECT_GE(host->width(), panel->width());
      EXPECT_GE((r.right - r.left) / 2, 250);
    }
  }
  // Japanese throughout, but for the names and units the window shows.
  EXPECT_EQ(zv::testing::LatinTexts(f.get(), {"Zelvora", "PDF", "Ostrane", "mm"}), std::vector<std::string>{});
  f->grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/ostrane_frame_default_2up.png"));
}

// Made active on the layout tab, the frame puts the focus on the chosen pages-per-sheet
// radio; however wide the frame, Cancel stands 20 pixels from the bottom bar's right end and
// Print 10 pixels to its left, both centred in the bar.
TEST_F(FrameTest, ActivationFocusesTheLayoutPageAndTheBarKeepsPrintAndCancelRight) {
  WritePrinters({"P"});
  auto f = Make();
  ASSERT_TRUE(f->StartUp(StartArgs{}));
  WaitPrinters(*f);
  f->show();
  f->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(f.get()));
  QApplication::processEvents();
  EXPECT_EQ(QApplication::focusWidget(), f->findChild<QWidget*>("1035"));
  auto* bar = f->findChild<QWidget*>("103");
  auto* print = f->findChild<QPushButton*>("1002");
  auto* cancel = f->findChild<QPushButton*>("1003");
  for (int width : {640, 900}) {
    f->resize(width, 520);
    QApplication::processEvents();
    const QRect p = print->geometry(), c = cancel->geometry();
    EXPECT_EQ(c.x(), bar->width() - c.width() - 20) << width;
    EXPECT_EQ(p.x() + p.width() + 10, c.x()) << width;
    EXPECT_NEAR(c.center().y(), bar->height() / 2, 1) << width;
    EXPECT_NEAR(p.center().y(), bar->height() / 2, 1) << width;
  }
  f->grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/ostrane_frame_bar.png"));
}

TEST_F(FrameTest, HelpOpensTheShippedGuideInAWindowOfItsOwn) {
  WritePrinters({"P"});
  std::vector<std::vector<std::string>> runs;
  FrameOptions o;
  o.prompt = &prompt_;
  o.capture_folder = tmp_;
  o.run_program = [&](const std::vector<std::string>& argv) {
    runs.push_back(argv);
    return true;
  };
  {
    CMainFrame f(o);
    ASSERT_TRUE(f.StartUp(StartArgs{}));
    // The program folder holds no guide: the one the build lays into the data folder opens,
    // in the program's own window (no browser is started).
    f.findChild<QPushButton*>("1004")->click();
    QPointer<help::HelpWindow> first = f.help_viewer().window();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(fsys::path(first->page()).filename(), "ZvkHelp.html");
    EXPECT_EQ(first->windowTitle(), "Ostrane ヘルプ");
    EXPECT_TRUE(first->browser()->toPlainText().contains("Ostrane ヘルプ"));
    auto read = fs::ReadFile(first->page());
    ASSERT_TRUE(read.ok()) << first->page();
    const std::string guide = *read;
    // Every answer the server can give is explained with the server's own words.
    for (int code = 0; code <= 10; ++code) {
      engine::CRequestResult r;
      r.SetResultMessage(code, code == 7 ? engine::DatabaseErrorLines() : std::vector<std::string>{});
      for (const auto& line : r.Messages) EXPECT_NE(guide.find(line), std::string::npos) << code << ": " << line;
    }
    first->grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/ostrane_help_window.png"));
    EXPECT_EQ(runs, std::vector<std::vector<std::string>>{});

    // Help again, from the menu: the earlier window is closed, a new one shows the guide of
    // the settings' program folder, which comes first.
    const std::string own = app_ + "/ZvkHelp.html";
    ASSERT_TRUE(fs::WriteFileAtomic(own, "<html><head><title>own</title></head></html>").ok());
    f.findChild<QAction*>("32785")->trigger();
    EXPECT_TRUE(first.isNull());
    ASSERT_NE(f.help_viewer().window(), nullptr);
    EXPECT_EQ(f.help_viewer().window()->page(), own);

    // The program ends: its help window closes with it.
    QPointer<help::HelpWindow> second = f.help_viewer().window();
    f.close();
    EXPECT_TRUE(second.isNull());
  }
  for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_NE(w->objectName(), "zvHelpWindow");
}

}  // namespace
}  // namespace zv::client::app
