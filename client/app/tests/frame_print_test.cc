// The frame's print runs offscreen: local printing and its answer, a print waiting for the
// printer list, the handed-over request's header and font, a run's sheet count, the checks
// before a run, and messages that come once.
#include "client/app/tests/frame_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <regex>
#include <utility>

#include "client/handover.h"
#include "platform/testing/artifacts.h"
#include "platform/testing/small_fs.h"

namespace zv::client::app {
namespace {

TEST_F(FrameTest, LocalPrintingShowsTheClientsResultAndEndsOnlyWhenPrinted) {
  spool::FolderSpooler spooler;
  InstallOffice(spooler);
  struct Case {
    std::string printer;
    PrintOutcome outcome;
    std::string text;
    bool closed;
    int rows_left;
  } cases[] = {
      {"Office", PrintOutcome::kPrinted, "印刷が完了しました。", true, 0},
      {"Nowhere", PrintOutcome::kFailed, "指定されたプリンタを選択できませんでした。\nNowhere", false, 1},
  };
  for (const auto& c : cases) {
    WritePrinters({c.printer});
    prompt_.shown.clear();
    bool closed = false;
    auto f = MakeRunner(&closed);
    ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQp.tmp", 2), "/n", "report"})));
    WaitPrinters(*f);
    auto* printers = f->findChild<QComboBox*>("1068");
    printers->setCurrentIndex(printers->findText(QString::fromStdString(c.printer)));
    // A printer gone after start-up.
    if (c.printer == "Nowhere") {
      ASSERT_TRUE(spooler.RemovePrinter("Nowhere").ok());
    }
    QSignalSpy done(f.get(), &CMainFrame::printFinished);
    f->findChild<QPushButton*>("1002")->click();
    ASSERT_TRUE(done.wait(60000)) << c.printer;
    EXPECT_EQ(done.at(0).at(0).value<PrintOutcome>(), c.outcome) << c.printer;
    ASSERT_FALSE(prompt_.shown.empty());
    EXPECT_EQ(prompt_.shown.back().text, c.text);
    EXPECT_EQ(prompt_.shown.back().title, "印刷実行");
    EXPECT_EQ(closed, c.closed) << c.printer;
    EXPECT_EQ(f->jobs().size(), c.rows_left) << c.printer;
    EXPECT_FALSE(f->printing());
    // Timer 1 took the answer and deleted it.
    EXPECT_FALSE(f->findChild<QTimer*>("timer1")->isActive());
    for (const auto& e : fsys::recursive_directory_iterator(app_)) EXPECT_NE(e.path().extension(), ".ans") << e.path();
  }
  auto jobs = spooler.EnumJobs("Office");
  ASSERT_TRUE(jobs.ok());
  EXPECT_EQ(jobs->size(), 1u);
  // Each run first saved the job in the program folder under the next number.
  EXPECT_TRUE(fsys::exists(app_ + "/AutoSave000.prc"));
  EXPECT_TRUE(fsys::exists(app_ + "/AutoSave001.prc"));
  EXPECT_FALSE(fsys::exists(app_ + "/AutoSave002.prc"));

  // A missing auto-save folder is told, and the print still goes on.
  {
    ClientSettings s;
    ASSERT_TRUE(LoadSettings(&s, app_, false).ok());
    s.auto_save_dir = root_.str() + "/no such folder";
    ASSERT_TRUE(SaveSettings(s).ok());
  }
  prompt_.shown.clear();
  FrameOptions o;
  o.prompt = &prompt_;
  o.capture_folder = tmp_;
  auto f = std::make_unique<CMainFrame>(o);
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQs.tmp", 1), "/n", "saved"})));
  WaitPrinters(*f);
  QSignalSpy done(f.get(), &CMainFrame::printFinished);
  auto* timer3 = f->findChild<QTimer*>("timer3");
  ASSERT_NE(timer3, nullptr);
  f->Print();
  // The run waits for timer 3's tick; the print button and the job list's edit buttons are
  // off meanwhile, so the rows the run removes are the ones it prints.
  EXPECT_TRUE(f->printing());
  EXPECT_TRUE(timer3->isActive());
  for (const char* id : {"1002", "1006", "1007", "1008", "1009", "1012", "1084", "1083", "1011"})
    EXPECT_FALSE(f->findChild<QPushButton*>(id)->isEnabled()) << id;
  ASSERT_TRUE(done.wait(60000));
  EXPECT_FALSE(timer3->isActive());
  EXPECT_FALSE(f->printing());
  // The progress window followed the printing: its title, no printer count, the page label
  // of the last side and a full bar; it is gone now.
  auto* progress = f->findChild<QDialog*>("180");
  ASSERT_NE(progress, nullptr);
  EXPECT_EQ(progress->windowTitle().toStdString(), "印刷実行中");
  EXPECT_FALSE(progress->isVisible());
  EXPECT_EQ(progress->findChild<QLabel*>("1157")->text().toStdString(), "  1/  1 ページ");
  EXPECT_FALSE(progress->findChild<QLabel*>("1159")->isVisibleTo(progress));
  EXPECT_EQ(progress->findChild<QProgressBar*>("1156")->value(), 100);
  ASSERT_GE(prompt_.shown.size(), 2u);
  EXPECT_EQ(prompt_.shown[0].text, "指定されたフォルダがありません。\n自動保存に失敗しました。");
  EXPECT_EQ(prompt_.shown[0].title, "印刷ジョブ自動保存失敗");
  EXPECT_EQ(prompt_.shown.back().title, "印刷実行");
}

// An unattended start presses Print before the printer list is read: the print waits for
// the list rather than being refused for a printer that is only late.
TEST_F(FrameTest, APrintBeforeThePrinterListIsReadWaitsForIt) {
  spool::FolderSpooler spooler;
  InstallOffice(spooler);
  WritePrinters({"Office"});
  prompt_.shown.clear();
  bool closed = false;
  auto f = MakeRunner(&closed);
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQe.tmp", 1), "/n", "early"})));
  QSignalSpy done(f.get(), &CMainFrame::printFinished);
  // No event has run yet, so the worker's list cannot have arrived.
  f->Print();
  EXPECT_EQ(done.count(), 0);
  ASSERT_TRUE(done.count() > 0 || done.wait(60000));
  EXPECT_EQ(done.at(0).at(0).value<PrintOutcome>(), PrintOutcome::kPrinted);
  for (const auto& shown : prompt_.shown) EXPECT_NE(shown.title, kPrinterErrorTitle) << shown.text;
}

// Takes a text; gives a pattern that matches it literally.
std::string Literal(const std::string& s) {
  return std::regex_replace(s, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

TEST_F(FrameTest, HandedOverRequestCarriesTheHeaderAsTheDocumentPrintsItAndItsFont) {
  const std::string share = root_.str() + "/share";
  for (const char* d : {"/PrintInfo", "/Jobs", "/Result"}) fsys::create_directories(share + d);
  ASSERT_TRUE(fs::WriteFileAtomic(share + "/PrintInfo/printers.lst", "[PRINTERS]\r\nOffice=\r\n").ok());
  ASSERT_TRUE(fs::WriteFileAtomic(share + "/PrintInfo/Wakeup.inf", "").ok());
  ASSERT_TRUE(JoinServer(share, "SRV", "share", app_).ok());
  const std::string user = Literal(CurrentUserName()), machine = Literal(CurrentMachineName());
  const std::string date = R"(\d{4}/\d{2}/\d{2})", time = R"(\d{2}:\d{2})";
  // The texts typed on each side (left, centre, right) and the patterns of the request's
  // lines: the tokens this side knows are put in, the page tokens stay for the printer.
  struct Case {
    const char* header[3];
    const char* footer[3];
    std::string keys;
  } cases[] = {
      {{"<日付> 社外秘", "<ページ>/<総ページ>", "<ユーザ名>"},
       {"", "", ""},
       "H_Left=" + date + " 社外秘\nH_Center=<ページ>/<総ページ>\nH_Right=" + user +
           "\nF_Left=\nF_Center=\nF_Right=\n"},
      {{"", "", ""},
       {"<マシン名>", "<プリンタ名> <時刻>", "<改行><ページ>"},
       "H_Left=\nH_Center=\nH_Right=\nF_Left=" + machine + "\nF_Center=Office " + time + "\nF_Right=<改行><ページ>\n"},
      {{"", "", ""}, {"", "", ""}, "H_Left=\nH_Center=\nH_Right=\nF_Left=\nF_Center=\nF_Right=\n"},
  };
  int n = 0;
  for (const auto& c : cases) {
    auto f = Make();
    ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQs" + std::to_string(n++) + ".tmp", 2), "/n", "S"})));
    WaitPrinters(*f);
    for (int side = 0; side < 2; ++side) {
      f->findChild<QRadioButton*>(side == 0 ? "1076" : "1077")->click();
      for (int i = 0; i < 3; ++i) {
        auto* edit = f->findChild<QLineEdit*>(QString::number(1088 + i));
        edit->clear();
        edit->insert(QString::fromUtf8((side == 0 ? c.header : c.footer)[i]));  // typed
      }
    }
    QSignalSpy done(f.get(), &CMainFrame::printFinished);
    f->Print();
    ASSERT_TRUE(done.wait(10000));
    ASSERT_EQ(done.takeFirst().at(0).value<PrintOutcome>(), PrintOutcome::kHandedOver);
    std::string request;
    for (const auto& e : fsys::directory_iterator(share + "/PrintInfo"))
      if (e.path().filename().string().rfind("order", 0) == 0) {
        request = *fs::ReadFile(e.path().string());
        fsys::remove(e.path());
      }
    const size_t from = request.find("H_Left="), to = request.find("FontPoint=");
    ASSERT_NE(to, std::string::npos) << request;
    EXPECT_TRUE(std::regex_match(request.substr(from, to - from), std::regex(c.keys))) << request;
    // The font button was never used: the print document's default font goes.
    EXPECT_NE(request.find("\nFontPoint=12\nLogFont=-16,0,0,0,400,0,0,0,128,0,0,0,0,ＭＳ Ｐゴシック\n"),
              std::string::npos)
        << request;
  }
  // Each hand-over counted its two sheets and pages in the stored totals.
  ClientSettings stored;
  ASSERT_TRUE(LoadSettings(&stored, app_, false).ok());
  EXPECT_EQ(stored.real_count, 6);
  EXPECT_EQ(stored.original_count, 6);
}

// The pages per sheet changed while a run is on its way (here as its hand-over tells that no
// job monitor runs): the run still counts the sheets it printed, in the totals kept after it.
TEST_F(FrameTest, ARunCountsTheSheetsItPrintedWhenThePagesPerSheetChangeMeanwhile) {
  const std::string share = root_.str() + "/share";
  for (const char* d : {"/PrintInfo", "/Jobs", "/Result"}) fsys::create_directories(share + d);
  ASSERT_TRUE(fs::WriteFileAtomic(share + "/PrintInfo/printers.lst", "[PRINTERS]\r\nOffice=\r\n").ok());
  ASSERT_TRUE(fs::WriteFileAtomic(share + "/PrintInfo/Wakeup.inf", "").ok());
  ASSERT_TRUE(JoinServer(share, "SRV", "share", app_).ok());
  struct ActingPrompt : RecordingPrompt {
    std::function<void()> act;
    PromptAnswer Show(std::string_view text, std::string_view title, PromptIcon icon, PromptButtons buttons) override {
      if (act) std::exchange(act, nullptr)();
      return RecordingPrompt::Show(text, title, icon, buttons);
    }
  } prompt;
  FrameOptions o;
  o.prompt = &prompt;
  o.status = &status_;
  o.capture_folder = tmp_;
  auto f = std::make_unique<CMainFrame>(o);
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQc.tmp", 4), "/n", "C"})));
  WaitPrinters(*f);
  QSignalSpy done(f.get(), &CMainFrame::printFinished);
  f->Print();  // four pages, one per sheet
  bool changed = false;
  prompt.act = [&] {
    f->layout_page()->ChoosePages(4);
    changed = true;
  };
  ASSERT_TRUE(done.wait(10000));
  ASSERT_EQ(done.takeFirst().at(0).value<PrintOutcome>(), PrintOutcome::kHandedOver);
  ASSERT_TRUE(changed);
  f->close();  // the totals are stored as the frame closes
  ClientSettings stored;
  ASSERT_TRUE(LoadSettings(&stored, app_, false).ok());
  EXPECT_EQ(stored.real_count, 4);
  EXPECT_EQ(stored.original_count, 4);
}

// Every job file name of this machine taken in the server's jobs folder (another member
// may create them), then the share full: each print is told why with the folder, the job
// stays in the list, and it is handed over when printed again once the cause is gone.
TEST_F(FrameTest, NoJobNameOrAFullShareKeepsTheJobAndItGoesWhenPrintedAgain) {
  const std::string share = root_.str() + "/share", jobs = share + "/Jobs";
  for (const char* d : {"/PrintInfo", "/Jobs", "/Result"}) fsys::create_directories(share + d);
  ASSERT_TRUE(fs::WriteFileAtomic(share + "/PrintInfo/printers.lst", "[PRINTERS]\r\nOffice=\r\n").ok());
  ASSERT_TRUE(fs::WriteFileAtomic(share + "/PrintInfo/Wakeup.inf", "").ok());
  ASSERT_TRUE(JoinServer(share, "SRV", "share", app_).ok());
  const std::string machine = CurrentMachineName(),
                    seen = root_.str() + "/net/SRV/share/Jobs";  // as the client names it
  for (int n = 0; n <= share::kMaxJobFileNumber; ++n)
    std::ofstream(jobs + "/" + machine + std::to_string(n) + ".prc").put('x');
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQn.tmp", 1), "/n", "見積書"})));
  WaitPrinters(*f);
  QSignalSpy done(f.get(), &CMainFrame::printFinished);
  prompt_.shown.clear();
  f->Print();
  ASSERT_TRUE(done.wait(10000));
  EXPECT_EQ(done.takeFirst().at(0).value<PrintOutcome>(), PrintOutcome::kFailed);
  ASSERT_FALSE(prompt_.shown.empty());
  EXPECT_EQ(prompt_.shown.back().text, std::string(kBusyText) + "\n" + kJobNamesTakenText + "\nフォルダ: " + seen);
  EXPECT_EQ(prompt_.shown.back().title, kBusyTitle);
  EXPECT_EQ(f->jobs().size(), 1);
  // The names are free again, and the share is full: told so, the job kept.
  for (int n = 0; n <= share::kMaxJobFileNumber; ++n) fsys::remove(jobs + "/" + machine + std::to_string(n) + ".prc");
  zv::testing::SmallFileSystem small;
  if (std::string why = small.Mount(jobs, "256k"); why.empty()) {
    ASSERT_TRUE(zv::testing::SmallFileSystem::Fill(jobs + "/filler.prc"));
    f->Print();
    ASSERT_TRUE(done.wait(10000));
    EXPECT_EQ(done.takeFirst().at(0).value<PrintOutcome>(), PrintOutcome::kFailed);
    EXPECT_EQ(prompt_.shown.back().text, std::string(kShareFullText) + "\nフォルダ: " + seen);
    EXPECT_EQ(prompt_.shown.back().title, kPrintErrorTitle);
    EXPECT_EQ(f->jobs().size(), 1);
    fsys::remove(jobs + "/filler.prc");
  }
  f->Print();
  ASSERT_TRUE(done.wait(10000));
  EXPECT_EQ(done.takeFirst().at(0).value<PrintOutcome>(), PrintOutcome::kHandedOver);
  EXPECT_TRUE(fsys::exists(jobs + "/" + machine + "0.prc"));
}

TEST_F(FrameTest, PrintChecksEmptyListRangeAndDuplicates) {
  // An empty job list ends the program and prints nothing.
  WritePrinters({"P"});
  {
    bool closed = false;
    auto f = MakeRunner(&closed);
    ASSERT_TRUE(f->StartUp(StartArgs{}));
    WaitPrinters(*f);
    f->Print();
    EXPECT_TRUE(closed);
    EXPECT_FALSE(f->printing());
  }

  // A range outside the document's 3 pages is refused on the copies page, the field
  // concerned focused; no run starts.
  {
    auto f = Make();
    ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQr1.tmp", 3), "/n", "R"})));
    WaitPrinters(*f);
    f->show();
    QApplication::setActiveWindow(f.get());
    f->findChild<QRadioButton*>("1021")->setChecked(true);
    struct Case {
      int from, to;
      const char* focus;
    } cases[] = {{4, 4, "1022"}, {2, 5, "1025"}, {3, 2, "1025"}};
    for (const auto& c : cases) {
      f->findChild<QTabWidget*>("1005")->setCurrentIndex(0);
      f->findChild<QSpinBox*>("1022")->setValue(c.from);
      f->findChild<QSpinBox*>("1025")->setValue(c.to);
      prompt_.shown.clear();
      f->Print();
      ASSERT_EQ(prompt_.shown.size(), 1u) << c.from << "-" << c.to;
      EXPECT_EQ(prompt_.shown[0].text, "印刷ページ範囲が異常です。");
      EXPECT_EQ(prompt_.shown[0].title, "印刷パラメータエラー");
      EXPECT_EQ(f->findChild<QTabWidget*>("1005")->currentIndex(), 2);
      ASSERT_NE(QApplication::focusWidget(), nullptr);
      EXPECT_EQ(QApplication::focusWidget()->objectName(), c.focus) << c.from << "-" << c.to;
      EXPECT_FALSE(f->printing());
    }
  }

  // Without a server a job of the top job's name still in the printer's queue ends the
  // program (silently when unattended); one that has ended does not count. A folder
  // printer keeps its jobs queued until the test ends them.
  spool::FolderSpooler spooler;
  InstallOffice(spooler);
  WritePrinters({"Office"});
  {
    ClientSettings s;
    ASSERT_TRUE(LoadSettings(&s, app_, false).ok());
    s.dup_check = 1;
    ASSERT_TRUE(SaveSettings(s).ok());
  }
  struct Run {
    bool end_last_job, auto_print;
    PrintOutcome outcome;
    bool duplicate_message;
  } runs[] = {
      {false, false, PrintOutcome::kPrinted, false},
      {true, false, PrintOutcome::kPrinted, false},
      {false, false, PrintOutcome::kNothing, true},
      {false, true, PrintOutcome::kNothing, false},
  };
  for (const auto& r : runs) {
    auto jobs = spooler.EnumJobs("Office");
    ASSERT_TRUE(jobs.ok());
    if (r.end_last_job) {
      ASSERT_FALSE(jobs->empty());
      ASSERT_TRUE(spooler.SetJobState("Office", jobs->back().id, spool::JobState::kCompleted).ok());
      jobs = spooler.EnumJobs("Office");
      ASSERT_TRUE(jobs.ok());
    }
    const size_t before = jobs->size();
    prompt_.shown.clear();
    bool closed = false;
    auto f = MakeRunner(&closed, r.auto_print);
    ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQd.tmp", 1), "/n", "見積書"})));
    WaitPrinters(*f);
    auto* printers = f->findChild<QComboBox*>("1068");
    printers->setCurrentIndex(printers->findText("Office"));
    EXPECT_TRUE(f->copies_page()->GetDuplicationCheck());
    QSignalSpy done(f.get(), &CMainFrame::printFinished);
    f->Print();
    ASSERT_TRUE(done.count() > 0 || done.wait(60000));
    EXPECT_EQ(done.at(0).at(0).value<PrintOutcome>(), r.outcome);
    EXPECT_TRUE(closed);
    const bool told = std::any_of(prompt_.shown.begin(), prompt_.shown.end(), [](const auto& m) {
      return m.text == "2重印刷のため終了します。" && m.title == "印刷実行エラー";
    });
    EXPECT_EQ(told, r.duplicate_message);
    jobs = spooler.EnumJobs("Office");
    ASSERT_TRUE(jobs.ok());
    EXPECT_EQ(jobs->size(), before + (r.outcome == PrintOutcome::kPrinted ? 1 : 0));
  }

  // With a server the box is the engine's (checked and greyed) and the client does not
  // look at local queues: the hand-over is tried and finds no server running.
  const std::string share = root_.str() + "/share";
  for (const char* d : {"/PrintInfo", "/Jobs", "/Result"}) fsys::create_directories(share + d);
  ASSERT_TRUE(fs::WriteFileAtomic(share + "/PrintInfo/printers.lst", "[PRINTERS]\r\nOffice=\r\n").ok());
  ASSERT_TRUE(JoinServer(share, "SRV", "share", app_).ok());
  {
    ClientSettings s;
    ASSERT_TRUE(LoadSettings(&s, app_, false).ok());
    s.dup_check = 0;
    ASSERT_TRUE(SaveSettings(s).ok());
  }
  prompt_.shown.clear();
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQs.tmp", 1), "/n", "見積書"})));
  WaitPrinters(*f);
  auto* box = f->findChild<QCheckBox*>("1033");
  EXPECT_TRUE(box->isChecked());
  EXPECT_FALSE(box->isEnabled());
  QSignalSpy done(f.get(), &CMainFrame::printFinished);
  f->Print();
  // Refused in the print command itself, before any save or run starts.
  ASSERT_EQ(done.count(), 1);
  EXPECT_EQ(done.at(0).at(0).value<PrintOutcome>(), PrintOutcome::kFailed);
  ASSERT_FALSE(prompt_.shown.empty());
  EXPECT_EQ(prompt_.shown.back().text, kServerNotRunningText);
  // A share that cannot be reached is told as such, naming the folder and the reason.
  fsys::rename(share, share + ".away");
  f->Print();
  ASSERT_EQ(done.count(), 2);
  EXPECT_EQ(done.at(1).at(0).value<PrintOutcome>(), PrintOutcome::kFailed);
  EXPECT_EQ(prompt_.shown.back().text.rfind(kShareUnreachableText, 0), 0u) << prompt_.shown.back().text;
  EXPECT_NE(prompt_.shown.back().text.find("/PrintInfo\n理由: フォルダが見つかりません。"), std::string::npos)
      << prompt_.shown.back().text;
  fsys::rename(share + ".away", share);
  // The stored setting keeps the user's own choice.
  ASSERT_TRUE(f->SaveSettingsNow().ok());
  ClientSettings back;
  ASSERT_TRUE(LoadSettings(&back, app_, false).ok());
  EXPECT_EQ(back.dup_check, 0);
}

// The messages the frame shows by itself come once for their cause, a print waits for the
// printer list only with the jobs it was asked for, the status panes stay empty without a
// server, and the copies page's labels carry their fields' access keys.
TEST_F(FrameTest, MessagesComeOnceAndAWaitingPrintPrintsOnlyWhatWasAsked) {
  auto count = [this](const std::string& text) {
    return std::count_if(prompt_.shown.begin(), prompt_.shown.end(), [&](const auto& s) { return s.text == text; });
  };
  auto no_answer_left = [this] {
    for (const auto& e : fsys::recursive_directory_iterator(app_))
      if (e.path().extension() == ".ans") return false;
    return true;
  };
  // An empty printer list, with 印刷 pressed while it is read: "プリンタが存在しません。" once.
  {
    ASSERT_TRUE(fs::WriteFileAtomic(app_ + "/printers.lst", "[PRINTERS]\r\n\r\n").ok());
    prompt_.shown.clear();
    auto f = Make();
    ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQn.tmp", 1), "/n", "none"})));
    QSignalSpy done(f.get(), &CMainFrame::printFinished);
    f->Print();
    ASSERT_TRUE(done.wait(10000));
    EXPECT_EQ(done.at(0).at(0).value<PrintOutcome>(), PrintOutcome::kNothing);
    EXPECT_EQ(count(kNoPrinterText), 1);
    EXPECT_EQ(f->findChild<QTabWidget*>("1005")->currentIndex(), 1);
    // Without a server there is no quota to show: both panes are empty.
    EXPECT_EQ(f->pane_text(0), "");
    EXPECT_EQ(f->pane_text(1), "");
    // The copies page: each label's access key is its field's (the "&" marks the key and is
    // not drawn), and Alt with that key moves the focus there.
    f->show();
    f->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(f.get()));
    f->findChild<QTabWidget*>("1005")->setCurrentIndex(2);
    f->findChild<QRadioButton*>("1021")->setChecked(true);
    const std::pair<const char*, const char*> labels[] = {
        {"ページから(&K)", "1022"}, {"ページまで(&M)", "1025"}, {"部数(&B):", "1030"}};
    const Qt::Key keys[] = {Qt::Key_K, Qt::Key_M, Qt::Key_B};
    for (size_t i = 0; i < std::size(labels); ++i) {
      QLabel* label = nullptr;
      for (QLabel* l : f->findChildren<QLabel*>())
        if (l->text() == QString::fromUtf8(labels[i].first)) label = l;
      ASSERT_NE(label, nullptr) << labels[i].first;
      QWidget* field = f->findChild<QWidget*>(labels[i].second);
      EXPECT_EQ(label->buddy(), field) << labels[i].first;
      f->findChild<QWidget*>("1068")->setFocus();
      QTest::keyClick(f.get(), keys[i], Qt::AltModifier);
      EXPECT_TRUE(field->hasFocus() || field->isAncestorOf(QApplication::focusWidget())) << labels[i].first;
    }
    f->grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/ostrane_copies_page.png"));
  }
  spool::FolderSpooler spooler;
  InstallOffice(spooler);
  fsys::remove(app_ + "/printers.lst");  // built anew, under the progress window
  // A print asked for while the list is read, then another job arrives: the job list is no
  // longer the one the user printed, so nothing prints; jobs arriving meanwhile with no
  // print asked for never print either (AutoPrint 0).
  {
    prompt_.shown.clear();
    bool closed = false;
    auto f = MakeRunner(&closed);
    QSignalSpy done(f.get(), &CMainFrame::printFinished);
    ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQa.tmp", 1), "/n", "asked"})));
    f->Print();
    EXPECT_EQ(f->OnCopyData(FormatCopyData(Capture(tmp_, "WXQb.tmp", 1), "arrived")), 1);
    WaitPrinters(*f);
    EXPECT_EQ(f->OnCopyData(FormatCopyData(Capture(tmp_, "WXQc.tmp", 1), "later")), 1);
    // A waiting print would start at the list's arrival, through one posted call.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_FALSE(f->printing());
    EXPECT_FALSE(f->findChild<QTimer*>("timer3")->isActive());
    EXPECT_EQ(done.count(), 0);
    EXPECT_FALSE(closed);
    EXPECT_EQ(f->jobs().size(), 3);
    auto jobs = spooler.EnumJobs("Office");
    ASSERT_TRUE(jobs.ok());
    EXPECT_TRUE(jobs->empty());
  }
  // 印刷 pressed on an empty job list while the list is read ends the program at once, as
  // it does later; a job arriving afterwards is not printed by it.
  {
    fsys::remove(app_ + "/printers.lst");
    bool closed = false;
    auto f = MakeRunner(&closed);
    QSignalSpy done(f.get(), &CMainFrame::printFinished);
    ASSERT_TRUE(f->StartUp(ParseStartArguments({})));
    f->Print();
    EXPECT_TRUE(closed);
    ASSERT_EQ(done.count(), 1);
    EXPECT_EQ(done.at(0).at(0).value<PrintOutcome>(), PrintOutcome::kNothing);
    EXPECT_EQ(f->OnCopyData(FormatCopyData(Capture(tmp_, "WXQd.tmp", 1), "after")), 1);
    WaitPrinters(*f);
    QCoreApplication::processEvents();
    EXPECT_FALSE(f->printing());
    EXPECT_TRUE(spooler.EnumJobs("Office")->empty());
  }
  // 印刷 pressed while "Zelvora起動準備中..." still shows: the print runs once the list is
  // read; one result box, no close question, the answer file removed.
  {
    fsys::remove(app_ + "/printers.lst");
    prompt_.shown.clear();
    bool closed = false;
    auto f = MakeRunner(&closed);
    QSignalSpy done(f.get(), &CMainFrame::printFinished);
    ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQp.tmp", 2), "/n", "early"})));
    f->show();
    f->findChild<QPushButton*>("1002")->click();
    ASSERT_TRUE(done.count() > 0 || done.wait(60000));
    EXPECT_EQ(done.at(0).at(0).value<PrintOutcome>(), PrintOutcome::kPrinted);
    EXPECT_TRUE(closed);
    EXPECT_EQ(count("印刷が完了しました。"), 1);
    EXPECT_EQ(count(kUnprintedJobsText), 0);
    EXPECT_TRUE(no_answer_left());
  }
  // The window closed during a run (answered Yes): the run ends first, its result is shown
  // once and its answer file removed rather than left behind.
  {
    prompt_.shown.clear();
    prompt_.answer = PromptAnswer::kYes;
    bool closed = false;
    auto f = MakeRunner(&closed);
    ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQq.tmp", 1), "/n", "closing"})));
    WaitPrinters(*f);
    f->show();
    f->Print();
    auto* timer1 = f->findChild<QTimer*>("timer1");
    // Timer 1 runs from the moment the local run starts on its worker.
    QTRY_VERIFY_WITH_TIMEOUT(timer1->isActive(), 10000);
    f->close();
    EXPECT_TRUE(closed);
    EXPECT_EQ(count(kUnprintedJobsText), 1);
    EXPECT_EQ(count("印刷が完了しました。"), 1);
    EXPECT_TRUE(no_answer_left());
  }
  EXPECT_EQ(spooler.EnumJobs("Office")->size(), 2u);
}

}  // namespace
}  // namespace zv::client::app
