// The client frame offscreen: start-up, jobs arriving by copy-data through its platform
// window, the job rows with their page counts after page edits, the printer-status calls.
#include "client/app/main_frame.h"

#include <gtest/gtest.h>

#include "client/app/job_list_page.h"
#include "client/app/queue_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QFontDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <regex>
#include <utility>

#include "client/config.h"
#include "client/handover.h"
#include "client/request_file.h"
#include "engine/rules/request_result.h"
#include "jobdoc/container.h"
#include "jobdoc/sample/sample_document.h"
#include "platform/fs/files.h"
#include "platform/registry/registry.h"
#include "platform/spool/folder_spooler.h"
#include "platform/testing/artifacts.h"
#include "platform/testing/latin_texts.h"
#include "platform/testing/qt_app.h"
#include "platform/testing/temp_root.h"
#include "viewer/qt/prompter.h"
#include "viewer/qt/viewer_view.h"
#include "viewer/viewer_doc.h"

namespace zv::client::app {
namespace {

namespace fsys = std::filesystem;

QApplication& App() { return zv::testing::QtApp(); }

class RecordingStatus : public PrinterStatusSource {
 public:
  std::vector<std::string> asked;  // "start <address>", "select <address>", "timer <0|1>"
  void OnStartUp(const std::string& address) override { asked.push_back("start " + address); }
  void OnPrinterSelected(const std::string& address) override { asked.push_back("select " + address); }
  void OnTimer4(bool run_active) override { asked.push_back(run_active ? "timer 1" : "timer 0"); }
};

// Answers the modal dialogs the frame runs through the viewer's prompter, one answer a
// dialog in turn (none left: cancelled), and keeps their titles.
class DialogAnswers : public viewer::ViewerPrompter {
 public:
  DialogAnswers() { viewer::SetPrompter(this); }
  ~DialogAnswers() override { viewer::SetPrompter(nullptr); }
  void Message(QWidget*, const std::string&, viewer::PromptIcon) override {}
  bool AskYesNo(QWidget*, const std::string&) override { return false; }
  std::optional<std::string> ChooseFolder(QWidget*, const std::string&) override { return std::nullopt; }
  std::optional<unsigned> AskPageNumber(QWidget*, int) override { return std::nullopt; }
  std::optional<int> AskZoomPercent(QWidget*, int) override { return std::nullopt; }
  int RunDialog(QDialog* d) override {
    titles.push_back(d->windowTitle().toStdString());
    if (answers.empty()) return QDialog::Rejected;
    auto answer = answers.front();
    answers.erase(answers.begin());
    return answer(d);
  }
  // An answer to the name dialog: types the name and presses OK.
  static std::function<int(QDialog*)> Name(const std::string& name) {
    return [name](QDialog* d) {
      d->findChild<QLineEdit*>("1101")->setText(QString::fromStdString(name));
      d->findChild<QPushButton*>("1102")->click();
      return d->result();
    };
  }
  std::vector<std::function<int(QDialog*)>> answers;
  std::vector<std::string> titles;
};

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    app_ = root_.str() + "/app";
    tmp_ = root_.str() + "/tmp";
    fsys::create_directories(app_);
    fsys::create_directories(tmp_);
    auto key = registry::Key::Create(registry::RootKey::kLocalMachine, kMachineKey);
    ASSERT_TRUE(key.ok());
    ASSERT_TRUE(key->SetString("AppPath", app_).ok());
  }
  // Writes printers.lst: each printer with the address 10.0.0.<n> (n from 1) and, when
  // given, its blocks' paper lines. Each is installed as a folder printer too (unless it
  // is), so the frame's check of the list against the installed printers keeps it.
  void WritePrinters(const std::vector<std::string>& names, const std::vector<std::string>& paper_lines = {}) {
    spool::FolderSpooler spooler;
    for (const auto& n : names)
      if (!spooler.ReadPrinter(n).ok()) {
        ASSERT_TRUE(spooler.AddPrinter(spool::StandardFolderPrinter(n)).ok());
      }
    std::string text = "[PRINTERS]\r\n";
    for (const auto& n : names) text += n + "=\r\n";
    for (size_t i = 0; i < names.size(); ++i) {
      text += "\r\n[" + names[i] + "]\r\nIPaddr=10.0.0." + std::to_string(i + 1) + "\r\n";
      text += i < paper_lines.size() ? paper_lines[i]
                                     : "PaperSize=-1\r\nForms=文書の設定用紙\r\nSize=(,)\r\nMargin=(,,,)\r\n";
    }
    ASSERT_TRUE(fs::WriteFileAtomic(app_ + "/printers.lst", text).ok());
  }
  // Writes a capture file of `pages` pages into `folder`.
  std::string Capture(const std::string& folder, const std::string& name, int pages) {
    std::string path = folder + "/" + name;
    EXPECT_TRUE(jobdoc::WriteDocumentData(jobdoc::sample::MakeDocument(pages, 2, false),
                                          jobdoc::DocumentWriteMode::kUnpacked, path)
                    .ok());
    return path;
  }
  std::unique_ptr<CMainFrame> Make(bool auto_print = false) {
    FrameOptions o;
    o.prompt = &prompt_;
    o.status = &status_;
    o.auto_print = auto_print;
    o.capture_folder = tmp_;
    return std::make_unique<CMainFrame>(o);
  }
  // A frame for print runs: the answer polled every 50 ms, `closed` set when the frame ends
  // the program.
  std::unique_ptr<CMainFrame> MakeRunner(bool* closed, bool auto_print = false) {
    FrameOptions o;
    o.prompt = &prompt_;
    o.capture_folder = tmp_;
    o.answer_poll_ms = 50;
    o.auto_print = auto_print;
    o.on_close = [closed] { *closed = true; };
    return std::make_unique<CMainFrame>(o);
  }
  // Installs the folder printer "Office" at 100 dpi, so runs draw small sheets.
  void InstallOffice(spool::FolderSpooler& spooler) {
    auto office = spool::StandardFolderPrinter("Office");
    office.caps.resolutions = {{100, 100}};
    office.caps.default_resolution = {100, 100};
    ASSERT_TRUE(spooler.AddPrinter(office).ok());
  }
  void WaitPrinters(CMainFrame& f) {
    QSignalSpy spy(&f, &CMainFrame::printersLoaded);
    ASSERT_TRUE(spy.wait(5000));
  }
  // Sends copy-data to the frame's platform window as the capture side does.
  long SendJob(CMainFrame& f, const std::string& path, const std::string& title) {
    const std::string text = FormatCopyData(path, title);
    winmsg::COPYDATASTRUCT cds{};
    cds.cbData = static_cast<std::uint32_t>(text.size() + 1);
    cds.lpData = text.c_str();
    auto r = winmsg::SendMessage(f.platform_window(), winmsg::WM_COPYDATA, 0, reinterpret_cast<winmsg::LPARAM>(&cds));
    return static_cast<long>(r);
  }
  // Runs a page-edit command as the user does, through its item of the page-edit menu
  // enabled as things stand; gives whether the item was enabled (a disabled one does
  // nothing when triggered).
  static bool MenuCommand(CMainFrame& f, int command) {
    std::unique_ptr<QMenu> menu(f.BuildPageEditMenu(nullptr));
    emit menu->aboutToShow();
    QAction* item = menu->findChild<QAction*>(QString::number(command));
    EXPECT_NE(item, nullptr) << command;
    if (item == nullptr) return false;
    const bool enabled = item->isEnabled();
    item->trigger();
    return enabled;
  }
  std::vector<std::pair<std::string, int>> Rows(CMainFrame& f) {
    std::vector<std::pair<std::string, int>> v;
    auto* tree = f.findChild<QTreeWidget*>("1010");
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
      v.emplace_back(tree->topLevelItem(i)->text(0).toStdString(), tree->topLevelItem(i)->text(1).toInt());
    return v;
  }

  zv::testing::TempRoot root_;
  std::string app_, tmp_;
  RecordingPrompt prompt_;
  RecordingStatus status_;
};

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
  QTest::qWait(300);  // let the page worker draw the preview before the picture
  f->grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/ostrane_frame_jobs.png"));
}

TEST_F(FrameTest, JobRowsFollowPageEditsSoLaterDeletesHitTheRightPages) {
  WritePrinters({"P"});
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQa.tmp", 2), "/n", "A"})));
  ASSERT_EQ(SendJob(*f, Capture(tmp_, "WXQb.tmp", 3), "B"), 1);
  ASSERT_EQ(SendJob(*f, Capture(tmp_, "WXQc.tmp", 1), "C"), 1);
  auto* tree = f->findChild<QTreeWidget*>("1010");

  f->PickPage(-1);  // a pick of nothing is ignored
  EXPECT_EQ(f->selected_page(), -1);
  f->PickPage(1);                                   // A's last page
  EXPECT_TRUE(MenuCommand(*f, kCmdBlankAfter));      // A grows to 3
  f->PickPage(3);                                   // B's first page
  EXPECT_TRUE(MenuCommand(*f, kCmdDeletePage));      // B shrinks to 2
  EXPECT_EQ(Rows(*f), (std::vector<std::pair<std::string, int>>{{"A", 3}, {"B", 2}, {"C", 1}}));

  // Moving C up puts its one page before B's two.
  tree->setCurrentItem(tree->topLevelItem(2));
  f->job_page()->MoveSelectedJob(true);
  EXPECT_EQ(Rows(*f), (std::vector<std::pair<std::string, int>>{{"A", 3}, {"C", 1}, {"B", 2}}));
  EXPECT_EQ(f->document().GetAllPage(), 6);
  tree->setCurrentItem(tree->topLevelItem(0));
  f->job_page()->MoveSelectedJob(false);
  EXPECT_EQ(Rows(*f), (std::vector<std::pair<std::string, int>>{{"C", 1}, {"A", 3}, {"B", 2}}));

  // Deleting A removes exactly its three pages.
  tree->setCurrentItem(tree->topLevelItem(1));
  f->job_page()->DeleteSelectedJob();
  EXPECT_EQ(Rows(*f), (std::vector<std::pair<std::string, int>>{{"C", 1}, {"B", 2}}));
  EXPECT_EQ(f->document().GetAllPage(), 3);
  EXPECT_EQ(f->findChild<QLineEdit*>("1014")->text(), "3");
}

TEST_F(FrameTest, JobListFollowsThePreviewTakesArrowKeysAndAsksBeforeDeleting) {
  WritePrinters({"P"});
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQj1.tmp", 3), "/n", "A"})));
  WaitPrinters(*f);
  ASSERT_EQ(SendJob(*f, Capture(tmp_, "WXQj2.tmp", 5), "B"), 1);
  ASSERT_EQ(SendJob(*f, Capture(tmp_, "WXQj3.tmp", 1), "C"), 1);
  auto* tree = f->findChild<QTreeWidget*>("1010");
  f->findChild<QTabWidget*>("1005")->setCurrentIndex(3);

  // The row holding the preview's page: A 0-2, B 3-7, C 8; past the end, the last row.
  for (auto [page, row] : std::vector<std::pair<int, int>>{{0, 0}, {2, 0}, {3, 1}, {7, 1}, {8, 2}, {20, 2}}) {
    f->job_page()->SetJobPos(page);
    EXPECT_EQ(f->job_page()->selected_job_row(), row) << page;
  }
  // A page picked in the view selects its job.
  auto* view = f->findChild<viewer::CViewerView*>();
  emit view->hostMessage(viewer::kMsgPageChanged, 1, 4);
  EXPECT_EQ(f->job_page()->selected_job_row(), 1);
  EXPECT_EQ(f->selected_page(), 4);

  // Arrow and page keys move one row and stop at the ends.
  tree->setFocus();
  struct Key {
    Qt::Key key;
    int row;
  } keys[] = {{Qt::Key_Up, 0},   {Qt::Key_Up, 0},   {Qt::Key_PageDown, 1},
              {Qt::Key_Down, 2}, {Qt::Key_Down, 2}, {Qt::Key_PageUp, 1}};
  for (const auto& k : keys) {
    QTest::keyClick(tree, k.key);
    EXPECT_EQ(f->job_page()->selected_job_row(), k.row) << k.key;
  }
  EXPECT_EQ(view->GetCurrentPage(), 3);  // B's first page, one page per sheet

  // No keeps the job; Yes deletes it and the row after takes its place.
  prompt_.answer = PromptAnswer::kNo;
  f->job_page()->DeleteSelectedJob();
  ASSERT_FALSE(prompt_.shown.empty());
  EXPECT_EQ(prompt_.shown.back().text, "選択したジョブを削除しますか？");
  EXPECT_EQ(prompt_.shown.back().title, "ジョブ編集");
  EXPECT_EQ(Rows(*f).size(), 3u);
  prompt_.answer = PromptAnswer::kYes;
  f->job_page()->DeleteSelectedJob();
  EXPECT_EQ(Rows(*f), (std::vector<std::pair<std::string, int>>{{"A", 3}, {"C", 1}}));
  EXPECT_EQ(f->job_page()->selected_job_row(), 1);
  f->job_page()->DeleteSelectedJob();  // the last row goes: the one before is selected
  EXPECT_EQ(Rows(*f), (std::vector<std::pair<std::string, int>>{{"A", 3}}));
  EXPECT_EQ(f->job_page()->selected_job_row(), 0);
}

TEST(LayoutOffsetTest, OffsetFieldsCheckWhatIsTypedAndKeepTheLastGoodValue) {
  App();
  RecordingPrompt prompt;
  _CLayout page;
  page.set_prompt(&prompt);
  page.findChild<QWidget*>("1047")->setVisible(true);  // hidden in the frame; shown to take focus
  page.show();
  QApplication::setActiveWindow(&page);
  auto* top = page.findChild<QLineEdit*>("1049");
  auto* left = page.findChild<QLineEdit*>("1053");
  auto* scale = page.findChild<QLineEdit*>("1057");
  ASSERT_TRUE(top && left && scale);
  EXPECT_EQ(scale->text(), "100.0");
  QSignalSpy changed(&page, &_CLayout::offsetsChanged);
  QSignalSpy rejected(&page, &_CLayout::offsetRejected);
  QSignalSpy resumed(&page, &_CLayout::offsetResumed);

  // Setters: in range written "%3.1f" and kept; out of range refused with the message.
  struct Case {
    int id;
    float value;
    int step;
    bool ok;
    const char* text;  // the field afterwards
  } cases[] = {
      {1049, 12.5f, 0, true, "12.5"}, {1049, 50.0f, -1, true, "50.0"}, {1053, -50.0f, 1, true, "-50.0"},
      {1053, -3.0f, 1, true, "-3.1"}, {1057, 9.9f, 0, false, "100.0"}, {1049, 50.5f, 0, false, "50.0"},
  };
  for (const auto& c : cases) {
    prompt.shown.clear();
    EXPECT_EQ(page.SetOffset(c.id, c.value, c.step), c.ok) << c.id << " " << c.value;
    EXPECT_EQ(page.findChild<QLineEdit*>(QString::number(c.id))->text().toStdString(), c.text) << c.id;
    EXPECT_EQ(prompt.shown.size(), c.ok ? 0u : 1u);
    if (!c.ok) {
      EXPECT_EQ(prompt.shown[0].text, "印字補正の補正値が異常です。");
    }
  }
  EXPECT_FLOAT_EQ(page.top_offset(), 50.0f);
  EXPECT_FLOAT_EQ(page.left_offset(), -3.1f);
  EXPECT_GE(changed.count(), 4);
  RequestOrder o;
  page.Fill(&o);
  EXPECT_EQ(o.offset_top, 500);
  EXPECT_EQ(o.offset_left, -31);
  EXPECT_EQ(o.scale, 1000);

  // Leaving a field with a bad text: one message, the page asks for the preview to wait,
  // the focus comes back, the last good value stays.
  top->setFocus();
  ASSERT_TRUE(top->hasFocus());
  EXPECT_TRUE(page.offset_focus());
  top->setText("1.2.3");
  prompt.shown.clear();
  left->setFocus();
  EXPECT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(rejected.count(), 1);
  for (int i = 0; i < 100 && !top->hasFocus(); ++i) QTest::qWait(20);
  ASSERT_TRUE(top->hasFocus());
  EXPECT_EQ(resumed.count(), 1);
  EXPECT_TRUE(page.offset_focus());
  EXPECT_FLOAT_EQ(page.top_offset(), 50.0f);
  EXPECT_FALSE(page.CheckOffsetError());  // Enter's check refuses it too
  top->setText("-7.24");
  EXPECT_TRUE(page.CheckOffsetError());
  EXPECT_EQ(top->text(), "-7.2");
  EXPECT_FLOAT_EQ(page.top_offset(), -7.24f);
  // The up key steps the field by 0.1.
  QTest::keyClick(top, Qt::Key_Up);
  EXPECT_EQ(top->text(), "-7.1");
  page.findChild<QRadioButton*>("1035")->setFocus();  // leaving with a good value
  EXPECT_FALSE(page.offset_focus());
}

TEST_F(FrameTest, PaperListFollowsThePrinterAndStatusHooksGetItsAddress) {
  WritePrinters({"Office A", "Office B"},
                {"PaperSize=-1,9,8\r\nForms=文書の設定用紙,A4,A3\r\nSize=(,),(2100,2970),(4200,2970)\r\n"
                 "Margin=(,,,),(1,2,3,4),(10,20,30,40)\r\n",
                 "PaperSize=-1,11\r\nForms=文書の設定用紙,A5\r\nSize=(,),(1480,2100)\r\nMargin=(,,,),(5,5,5,5)\r\n"});
  {
    ClientSettings s;
    ASSERT_TRUE(LoadSettings(&s, app_, false).ok());
    s.output_printer = "Office A";
    s.paper_size = 8;
    ASSERT_TRUE(SaveSettings(s).ok());
  }
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQp.tmp", 1), "/n", "P"})));
  WaitPrinters(*f);
  auto* printers = f->findChild<QComboBox*>("1068");
  auto* papers = f->findChild<QComboBox*>("1071");
  auto items = [&] {
    std::vector<std::string> v;
    for (int i = 0; i < papers->count(); ++i) v.push_back(papers->itemText(i).toStdString());
    return v;
  };
  auto* view = f->findChild<viewer::CViewerView*>();
  ASSERT_NE(view, nullptr);
  viewer::ViewPaper shown;

  // The stored printer and paper; the view gets the paper upright with its margins turned.
  EXPECT_EQ(printers->currentText(), "Office A");
  EXPECT_EQ(items(), (std::vector<std::string>{"文書の設定用紙", "A4", "A3"}));
  EXPECT_EQ(papers->currentIndex(), 2);
  view->GetPaper(&shown);
  EXPECT_EQ(shown.code, 8);
  EXPECT_EQ(shown.width, 2970);
  EXPECT_EQ(shown.height, 4200);
  ASSERT_FALSE(shown.margins.empty());
  EXPECT_EQ(shown.margins[0].left, 20);
  EXPECT_EQ(shown.margins[0].bottom, 10);
  EXPECT_EQ(status_.asked, std::vector<std::string>{"start 10.0.0.1"});

  papers->setCurrentIndex(1);
  EXPECT_EQ(f->paper_code(), 9);
  EXPECT_EQ(f->BuildOrder().paper, 9);

  // Another printer: its papers, and a code it lacks falls back to the document's paper.
  printers->setCurrentIndex(1);
  EXPECT_EQ(items(), (std::vector<std::string>{"文書の設定用紙", "A5"}));
  EXPECT_EQ(papers->currentIndex(), 0);
  EXPECT_EQ(f->paper_code(), -1);
  view->GetPaper(&shown);
  EXPECT_EQ(shown.code, -1);
  EXPECT_EQ(status_.asked, (std::vector<std::string>{"start 10.0.0.1", "select 10.0.0.2"}));

  // Timer 4 tells whether a run is under way.
  auto* timer = f->findChild<QTimer*>("timer4");
  ASSERT_NE(timer, nullptr);
  timer->setInterval(5);
  for (int i = 0; i < 100 && status_.asked.size() < 3; ++i) QTest::qWait(20);
  ASSERT_GE(status_.asked.size(), 3u);
  EXPECT_EQ(status_.asked[2], "timer 0");
  f->grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/ostrane_paper_list.png"));
}

TEST_F(FrameTest, PanelShowsStoredSettingsAndFillsTheRequest) {
  WritePrinters({"Office A"});
  ASSERT_TRUE(fs::WriteFileAtomic(app_ + "/Format.fmt",
                                  ComposeFormatFile({{"なし", "", "", ""}, {"社内", "<日付>", "社外秘", "<ページ>"}}))
                  .ok());
  {
    ClientSettings s;
    ASSERT_TRUE(LoadSettings(&s, app_, false).ok());
    s.thumbnail = 2;  // 4 pages per sheet
    s.lodrin = 2;
    s.page_line = 1;
    s.copies = 3;
    s.collate = 1;
    s.t_offset = 900;  // out of range: the default
    s.l_offset = -25;
    ASSERT_TRUE(SaveSettings(s).ok());
  }
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQa.tmp", 2), "/n", "A"})));
  WaitPrinters(*f);
  auto* header_list = f->findChild<QComboBox*>("1070");
  ASSERT_EQ(header_list->count(), 2);
  header_list->setCurrentIndex(1);
  emit header_list->activated(1);
  EXPECT_EQ(f->findChild<QLineEdit*>("1089")->text().toStdString(), "社外秘");
  // The 2-pages radio leaves direction off and separators on.
  EXPECT_TRUE(f->findChild<QRadioButton*>("1044")->isEnabled());
  f->layout_page()->ChoosePages(2);
  EXPECT_FALSE(f->findChild<QRadioButton*>("1040")->isEnabled());
  EXPECT_TRUE(f->findChild<QRadioButton*>("1043")->isEnabled());
  f->layout_page()->ChoosePages(4);

  auto* copies = f->findChild<QLineEdit*>("1030");
  EXPECT_EQ(copies->text(), "1");  // the copies field starts at 1 whatever was stored
  EXPECT_TRUE(f->findChild<QCheckBox*>("1032")->isChecked());
  copies->setText("250");
  f->copies_page()->ClampCopiesField();
  EXPECT_EQ(copies->text(), "100");

  RequestOrder o = f->BuildOrder();
  EXPECT_EQ(o.thumbnail, 2);
  EXPECT_EQ(o.orientation, 2);
  EXPECT_EQ(o.separator, 1);
  EXPECT_EQ(o.offset_top, 0);
  EXPECT_EQ(o.offset_left, -25);
  EXPECT_EQ(o.copies, 100);
  EXPECT_TRUE(o.collate);
  EXPECT_EQ(o.device, "Office A");
  // The request's header is the print document's: the date put in, the page left.
  EXPECT_TRUE(std::regex_match(o.h_left, std::regex("\\d{4}/\\d{2}/\\d{2}"))) << o.h_left;
  EXPECT_EQ(o.h_right, "<ページ>");
  ASSERT_EQ(o.jobs.size(), 1u);
  EXPECT_EQ(o.jobs[0].name, "A");
  EXPECT_EQ(o.rotations.size(), 2u);

  // A new format lands in Format.fmt; a name that would break the file is refused.
  EXPECT_TRUE(f->header_page()->SaveAs("控え"));
  EXPECT_FALSE(f->header_page()->SaveAs("HeaderFormat"));
  auto text = fs::ReadFile(app_ + "/Format.fmt");
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(ParseFormatFile(*text).size(), 3u);

  // The stored settings follow the panel.
  ASSERT_TRUE(f->SaveSettingsNow().ok());
  ClientSettings back;
  ASSERT_TRUE(LoadSettings(&back, app_, false).ok());
  EXPECT_EQ(back.thumbnail, 2);
  EXPECT_EQ(back.l_offset, -25);
  EXPECT_EQ(back.t_offset, 0);

  f->show();
  const char* names[] = {"ostrane_tab_layout.png", "ostrane_tab_header.png", "ostrane_tab_copies.png"};
  for (int i = 0; i < 3; ++i) {
    f->findChild<QTabWidget*>("1005")->setCurrentIndex(i);
    QTest::qWait(300);  // let the page worker draw the preview before the picture
    f->grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/" + names[i]));
  }
}

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

TEST_F(FrameTest, LocalListFollowsTheInstalledPrinters) {
  spool::FolderSpooler spooler;
  for (const char* n : {"Office", "Annex", "Zelvora"})
    ASSERT_TRUE(spooler.AddPrinter(spool::StandardFolderPrinter(n)).ok());
  auto names = [](CMainFrame& f) {
    std::vector<std::string> v;
    auto* combo = f.findChild<QComboBox*>("1068");
    for (int i = 0; i < combo->count(); ++i) v.push_back(combo->itemText(i).toStdString());
    return v;
  };
  // No list yet: built from every installed printer but the virtual one, counted in the
  // progress window, which goes away at the end.
  {
    auto f = Make();
    ASSERT_TRUE(f->StartUp(ParseStartArguments({})));
    WaitPrinters(*f);
    EXPECT_EQ(names(*f), (std::vector<std::string>{"Annex", "Office"}));
    auto* progress = f->findChild<QDialog*>("180");
    ASSERT_NE(progress, nullptr);
    EXPECT_FALSE(progress->isVisible());
    EXPECT_EQ(progress->findChild<QLabel*>("1157")->text(), " 2/ 2");
  }
  // A listed printer no longer installed leaves the list; an installed one not listed joins.
  ASSERT_TRUE(fs::WriteFileAtomic(app_ + "/printers.lst",
                                  "[PRINTERS]\r\nGone=\r\nOffice=\r\n\r\n[Gone]\r\nIPaddr=\r\n"
                                  "PaperSize=-1\r\nForms=文書の設定用紙\r\nSize=(,)\r\nMargin=(,,,)\r\n\r\n"
                                  "[Office]\r\nIPaddr=10.1.1.1\r\nPaperSize=-1\r\nForms=文書の設定用紙\r\n"
                                  "Size=(,)\r\nMargin=(,,,)\r\n\r\n")
                  .ok());
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({})));
  WaitPrinters(*f);
  EXPECT_EQ(names(*f), (std::vector<std::string>{"Office", "Annex"}));
  f->findChild<QComboBox*>("1068")->setCurrentIndex(0);
  EXPECT_EQ(f->selected_address(), "10.1.1.1");  // the kept entry keeps its block
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

TEST_F(FrameTest, HeaderTokensFollowThePrinterChoice) {
  WritePrinters({"Office A", "Office B"});
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQh.tmp", 1), "/n", "H"})));
  WaitPrinters(*f);
  auto header = [&] {
    int points = 0, rule = -1;
    viewer::HeaderFooterTexts h, foot;
    f->document().viewer().GetHeaderFooter(&points, &h, &foot, &rule);
    return h.left + "|" + h.right + "|" + std::to_string(rule);
  };
  auto* left = f->findChild<QLineEdit*>("1088");
  auto* right = f->findChild<QLineEdit*>("1090");
  left->insert(QString::fromUtf8("<プリンタ名>"));  // typed: the edit tells textEdited
  right->insert(QString::fromUtf8("<マシン名>/<ページ>"));
  const std::string machine = f->config().machine;
  EXPECT_EQ(header(), "Office A|" + machine + "/<ページ>|1");
  f->findChild<QComboBox*>("1068")->setCurrentIndex(1);
  EXPECT_EQ(header(), "Office B|" + machine + "/<ページ>|1");
  f->findChild<QRadioButton*>("1078")->click();  // the first page only
  EXPECT_EQ(header(), "Office B|" + machine + "/<ページ>|0");
  f->findChild<QTabWidget*>("1005")->setCurrentIndex(1);
  f->show();
  QTest::qWait(300);  // let the page worker draw the preview before the picture
  f->grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/ostrane_header_printer.png"));
}

TEST_F(FrameTest, HeaderPageButtonsEditTheFormatFileAndPutTokensAtTheCursor) {
  WritePrinters({"Office A"});
  ASSERT_TRUE(fs::WriteFileAtomic(app_ + "/Format.fmt", ComposeFormatFile({{"なし", "", "", ""},
                                                                           {"社内", "<日付>", "社外秘", "<ページ>"},
                                                                           {"控え", "a", "b", "c"}}))
                  .ok());
  DialogAnswers dialogs;
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQt.tmp", 2), "/n", "T"})));
  WaitPrinters(*f);
  f->findChild<QTabWidget*>("1005")->setCurrentIndex(1);
  f->show();
  QApplication::setActiveWindow(f.get());
  auto* page = f->header_page();
  auto* list = page->findChild<QComboBox*>("1070");
  auto edit = [&](int i) { return page->findChild<QLineEdit*>(QString::number(1088 + i)); };
  auto click = [&](int id) { page->findChild<QAbstractButton*>(QString::number(id))->click(); };
  auto choose = [&](int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
  };
  auto names = [&] {
    std::vector<std::string> v;
    for (const auto& it : ParseFormatFile(*fs::ReadFile(app_ + "/Format.fmt"))) v.push_back(it.name);
    return v;
  };
  auto texts = [&](const std::string& name) {
    for (const auto& it : ParseFormatFile(*fs::ReadFile(app_ + "/Format.fmt")))
      if (it.name == name) return it.left + "|" + it.center + "|" + it.right;
    return std::string("(none)");
  };

  // The icon buttons say what they do in their tooltips; "改" is there but hidden.
  const std::pair<int, const char*> tips[] = {
      {1084, "名前の変更"}, {1083, "削除"},       {1094, "保存"},       {1091, "フォント"},
      {1092, "ページ数"},   {1093, "総ページ数"}, {1095, "日付"},       {1100, "時刻"},
      {1096, "ユーザ名"},   {1097, "マシン名"},   {1098, "プリンタ名"},
  };
  for (const auto& [id, tip] : tips) {
    auto* b = page->findChild<QAbstractButton*>(QString::number(id));
    ASSERT_NE(b, nullptr) << id;
    EXPECT_EQ(b->toolTip().toStdString(), tip) << id;
    EXPECT_FALSE(b->icon().isNull()) << id;
  }
  auto* line_break = page->findChild<QPushButton*>("1099");
  ASSERT_NE(line_break, nullptr);
  EXPECT_EQ(line_break->text().toStdString(), "改");
  EXPECT_TRUE(line_break->isHidden());

  // A token goes where the caret (or the selection) of the edit last focused is, and the
  // preview gets it with this side's values put in.
  const std::string account = f->config().account, machine = f->config().machine;
  struct TokenCase {
    int edit, button;
    int from, to;                 // the selection before the click
    std::string typed, expanded;  // the edit's text after, the print document's ("" : pattern)
  } cases[] = {
      {1, 1092, 1, 1, "A<ページ>B", "A<ページ>B"},
      {1, 1093, 0, 2, "<総ページ>", "<総ページ>"},
      {0, 1096, 2, 2, "AB<ユーザ名>", "AB" + account},
      {2, 1097, 0, 0, "<マシン名>AB", machine + "AB"},
      {1, 1098, 1, 1, "A<プリンタ名>B", "AOffice AB"},
      {0, 1095, 1, 2, "A<日付>", ""},
      {2, 1100, 1, 2, "A<時刻>", ""},
      {1, 1099, 1, 1, "A<改行>B", "A<改行>B"},
  };
  for (const auto& c : cases) {
    for (int i = 0; i < 3; ++i) edit(i)->setText("AB");
    edit(c.edit)->setFocus();
    edit(c.edit)->setSelection(c.from, c.to - c.from);
    if (c.from == c.to) edit(c.edit)->setCursorPosition(c.from);
    click(c.button);
    EXPECT_EQ(edit(c.edit)->text().toStdString(), c.typed) << c.button;
    EXPECT_TRUE(edit(c.edit)->hasFocus()) << c.button;
    int points = 0;
    viewer::HeaderFooterTexts h, foot;
    f->document().viewer().GetHeaderFooter(&points, &h, &foot, nullptr);
    const std::string doc_text = c.edit == 0 ? h.left : c.edit == 1 ? h.centre : h.right;
    if (c.expanded.empty()) {
      EXPECT_TRUE(std::regex_match(doc_text, std::regex("A(\\d{4}/\\d{2}/\\d{2}|\\d{2}:\\d{2})"))) << doc_text;
    } else {
      EXPECT_EQ(doc_text, c.expanded) << c.button;
    }
  }

  // Item 0 is neither renamed nor deleted, and no dialog opens for it.
  choose(0);
  click(1084);
  click(1083);
  EXPECT_TRUE(dialogs.titles.empty());
  std::vector<std::string> said;
  for (const auto& m : prompt_.shown) said.push_back(m.text);
  EXPECT_EQ(said, (std::vector<std::string>{"項目[なし]の名前は変更できません。", "項目[なし]は削除できません。"}));
  prompt_.shown.clear();

  // Rename: a taken name asks again; the name taken reaches the list and the file.
  choose(1);
  EXPECT_EQ(edit(1)->text().toStdString(), "社外秘");
  dialogs.answers = {DialogAnswers::Name("控え"), DialogAnswers::Name("社外")};
  click(1084);
  EXPECT_EQ(dialogs.titles, (std::vector<std::string>{"名前の変更", "名前の変更"}));
  ASSERT_EQ(prompt_.shown.size(), 1u);
  EXPECT_EQ(prompt_.shown[0].text, "その項目名は登録済みです。");
  EXPECT_EQ(prompt_.shown[0].title, "ヘッダ・フッタ編集");
  EXPECT_EQ(list->itemText(1).toStdString(), "社外");
  EXPECT_EQ(names(), (std::vector<std::string>{"なし", "社外", "控え"}));
  click(1084);  // cancelled: nothing changes
  EXPECT_EQ(names(), (std::vector<std::string>{"なし", "社外", "控え"}));

  // Texts edited over a format go back into it when another is chosen.
  edit(0)->setFocus();
  edit(0)->setCursorPosition(0);
  click(1092);
  choose(2);
  EXPECT_EQ(texts("社外"), "<ページ><日付>|社外秘|<ページ>");
  EXPECT_EQ(edit(0)->text().toStdString(), "a");

  // Save: the edited texts become a new format; the one shown before keeps its own.
  edit(0)->setText("");
  edit(0)->insert("新");
  dialogs.titles.clear();
  dialogs.answers = {DialogAnswers::Name("新規")};
  click(1094);
  EXPECT_EQ(dialogs.titles, (std::vector<std::string>{"ヘッダ・フッタの保存"}));
  EXPECT_EQ(names(), (std::vector<std::string>{"なし", "社外", "控え", "新規"}));
  EXPECT_EQ(texts("新規"), "新|b|c");
  EXPECT_EQ(texts("控え"), "a|b|c");
  EXPECT_EQ(list->currentIndex(), 3);

  // Delete asks (No keeps it); deleting the last selects the one before and shows it.
  prompt_.answer = PromptAnswer::kNo;
  click(1083);
  EXPECT_EQ(names().size(), 4u);
  prompt_.answer = PromptAnswer::kYes;
  click(1083);
  EXPECT_EQ(prompt_.shown.back().text, "選択した項目を削除してもよろしいですか？");
  EXPECT_EQ(names(), (std::vector<std::string>{"なし", "社外", "控え"}));
  EXPECT_EQ(list->count(), 3);
  EXPECT_EQ(list->currentIndex(), 2);
  EXPECT_EQ(edit(0)->text().toStdString(), "a");

  // The font button: the dialog starts from the document's font (the default, 12 points)
  // and its choice becomes the document's header and footer font.
  QFont started;
  dialogs.answers = {[&](QDialog* d) {
    auto* fd = static_cast<QFontDialog*>(d);
    started = fd->currentFont();
    fd->setCurrentFont(QFont("IPAGothic", 14));
    return int(QDialog::Accepted);
  }};
  click(1091);
  EXPECT_EQ(started.pointSize(), 12);
  EXPECT_EQ(started.family().toStdString(), "IPAPGothic");
  win::LOGFONTA lf{};
  f->document().viewer().GetHeaderFooterFont(&lf);
  int points = 0;
  f->document().viewer().GetHeaderFooter(&points, nullptr, nullptr, nullptr);
  EXPECT_EQ(points, 14);
  EXPECT_EQ(lf.lfHeight, -19);
  EXPECT_STREQ(lf.lfFaceName, "IPAGothic");

  choose(1);
  QTest::qWait(300);  // let the page worker draw the preview before the picture
  f->grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/ostrane_header_page.png"));
}

TEST(NameDialogTest, TakesNamesUpTo256Characters) {
  App();
  std::string c256;  // 256 characters of three bytes each
  for (int i = 0; i < 256; ++i) c256 += "字";
  struct Case {
    std::string text;
    bool taken;
  } cases[] = {{"", true}, {"控え", true}, {c256, true}, {c256 + "字", false}};
  for (const auto& c : cases) {
    RecordingPrompt prompt;
    NameDialog d(NameDialog::kSave, &prompt, "", nullptr);
    EXPECT_EQ(d.windowTitle().toStdString(), "ヘッダ・フッタの保存");
    d.edit()->setText(QString::fromStdString(c.text));
    d.accept();
    EXPECT_EQ(d.result() == QDialog::Accepted, c.taken) << c.text.size();
    EXPECT_EQ(d.name(), c.taken ? c.text : "");
    EXPECT_EQ(prompt.shown.size(), c.taken ? 0u : 1u);
    if (!c.taken) {
      EXPECT_EQ(prompt.shown[0].text, "入力値が適切ではありません。");
      EXPECT_EQ(d.edit()->cursorPosition(), 0);
    }
  }
  EXPECT_EQ(NameDialog(NameDialog::kRename, nullptr, "x").windowTitle().toStdString(), "名前の変更");
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

TEST_F(FrameTest, ReductionLineCountsTheDocumentWheneverItChanges) {
  WritePrinters({"P"});
  {
    ClientSettings s;
    ASSERT_TRUE(LoadSettings(&s, app_, false).ok());
    s.thumbnail = 1;  // 2 pages per sheet
    s.real_count = 30;
    s.original_count = 40;
    ASSERT_TRUE(SaveSettings(s).ok());
  }
  auto f = Make();
  ASSERT_TRUE(f->StartUp(StartArgs{}));  // the window exists before any job
  auto* line = f->findChild<QLabel*>("1067");
  EXPECT_EQ(line->text().toStdString(), "削減率:25.0%  印刷枚数:30 総ﾍﾟｰｼﾞ数:40");
  WaitPrinters(*f);
  struct Step {
    std::function<void()> act;
    const char* line;
  } steps[] = {
      {[&] { ASSERT_EQ(SendJob(*f, Capture(tmp_, "WXQn1.tmp", 10), "A"), 1); },
       "削減率:30.0%  印刷枚数:35 総ﾍﾟｰｼﾞ数:50"},
      {[&] { f->layout_page()->ChoosePages(4); }, "削減率:34.0%  印刷枚数:33 総ﾍﾟｰｼﾞ数:50"},
      {[&] { ASSERT_EQ(SendJob(*f, Capture(tmp_, "WXQn2.tmp", 3), "B"), 1); },
       "削減率:35.8%  印刷枚数:34 総ﾍﾟｰｼﾞ数:53"},
      {[&] {
         f->PickPage(0);
         EXPECT_TRUE(MenuCommand(*f, kCmdDeletePage));
       },
       "削減率:36.5%  印刷枚数:33 総ﾍﾟｰｼﾞ数:52"},
      {[&] { f->ClearReductionRate(); }, "削減率:75.0%  印刷枚数:3 総ﾍﾟｰｼﾞ数:12"},
  };
  for (const auto& step : steps) {
    step.act();
    EXPECT_EQ(line->text().toStdString(), step.line);
  }
}

TEST_F(FrameTest, RotationCommandsAndJobFiles) {
  WritePrinters({"P"});
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQr.tmp", 3), "/n", "R"})));
  auto rotation = [&](int page) { return f->document().viewer().page(page)->GetRotation(); };
  // One page per sheet: no rotation.
  f->PickPage(1);
  EXPECT_FALSE(MenuCommand(*f, kCmdRotateRight));
  EXPECT_EQ(rotation(1), 0);
  f->layout_page()->ChoosePages(2);
  struct Case {
    int page, command;
    bool allowed;
    std::uint16_t after;
  } cases[] = {
      {0, 32806, false, 0},  // the first page
      {1, 32806, true, 1},   // upright -> clockwise
      {1, 32806, false, 1},  // already clockwise
      {1, 32805, true, 0},   // turned -> upright
      {1, 32805, true, 16},  // upright -> counter-clockwise
      {2, 32805, true, 16},
  };
  for (const auto& c : cases) {
    f->PickPage(c.page);
    EXPECT_EQ(MenuCommand(*f, c.command), c.allowed) << c.page << " " << c.command;
    EXPECT_EQ(rotation(c.page), c.after) << c.page << " " << c.command;
  }
  EXPECT_EQ(f->BuildOrder().rotations, (std::vector<std::uint16_t>{0, 16, 16}));

  // A saved job reads back appended, named after its file.
  const std::string saved = root_.str() + "/saved job.prc";
  ASSERT_TRUE(f->job_page()->SaveJob(saved));
  ASSERT_TRUE(f->job_page()->OpenSavedJob(saved));
  EXPECT_EQ(Rows(*f), (std::vector<std::pair<std::string, int>>{{"R", 3}, {"saved job", 3}}));
  EXPECT_EQ(f->document().GetAllPage(), 6);
  EXPECT_TRUE(fsys::exists(saved));  // a job file is never deleted after reading
}

TEST_F(FrameTest, PageEditMenuEditsThePagesAndTheRequestFollows) {
  WritePrinters({"P"});
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQe1.tmp", 2), "/n", "A"})));
  ASSERT_EQ(SendJob(*f, Capture(tmp_, "WXQe2.tmp", 3), "B"), 1);
  EXPECT_EQ(f->minimumSize(), QSize(590, 485));

  // The menu as shown: every line, submenu commands under their submenu's title.
  std::unique_ptr<QMenu> menu(f->BuildPageEditMenu(nullptr));
  EXPECT_EQ(menu->title().toStdString(), "ページ編集メニュー");
  std::vector<std::pair<std::string, std::string>> lines;
  for (QAction* a : menu->actions()) {
    if (a->isSeparator()) {
      lines.emplace_back("-", "");
    } else if (a->menu() != nullptr) {
      for (QAction* sub : a->menu()->actions())
        lines.emplace_back(a->text().toStdString() + "/" + sub->text().toStdString(), sub->objectName().toStdString());
    } else {
      lines.emplace_back(a->text().toStdString(), a->objectName().toStdString());
    }
  }
  EXPECT_EQ(lines, (std::vector<std::pair<std::string, std::string>>{
                       {"ページ切り取り(&X)", "32771"},
                       {"ページコピー(&C)", "32772"},
                       {"前のページへ貼り付け(&P)", "32773"},
                       {"後ろのページへ貼り付け(&Q)", "32774"},
                       {"-", ""},
                       {"ページ削除(&D)", "32776"},
                       {"-", ""},
                       {"空白ページ(&B)/前のページへ挿入(&N)", "32778"},
                       {"空白ページ(&B)/後ろのページへ挿入(&M)", "32779"},
                       {"-", ""},
                       {"ページの回転(&T)/右90度回転(&R)", "32806"},
                       {"ページの回転(&T)/左90度回転(&L)", "32805"},
                   }));

  // Each edit through the menu's own items: the rows, the total and the request follow.
  f->layout_page()->ChoosePages(2);
  auto line_of = [&](const std::string& key) {
    const std::string text = ComposeRequestText(f->BuildOrder());
    const size_t at = text.find("\n" + key + "=");
    return at == std::string::npos ? std::string() : text.substr(at + key.size() + 2, text.find('\n', at + 1) - at - key.size() - 2);
  };
  EXPECT_EQ(line_of("JobPages"), "2,3");
  struct Step {
    int page, command;
    std::vector<std::pair<std::string, int>> rows;
    const char* rotate;
  } steps[] = {
      {1, kCmdCutPage, {{"A", 1}, {"B", 3}}, "0,0,0,0"},
      {3, kCmdPasteAfter, {{"A", 1}, {"B", 4}}, "0,0,0,0,0"},
      {0, kCmdBlankBefore, {{"A", 2}, {"B", 4}}, "0,0,0,0,0,0"},
      {2, kCmdRotateRight, {{"A", 2}, {"B", 4}}, "0,0,1,0,0,0"},
      {0, kCmdDeletePage, {{"A", 1}, {"B", 4}}, "0,1,0,0,0"},
  };
  for (const auto& s : steps) {
    f->PickPage(s.page);
    std::unique_ptr<QMenu> m(f->BuildPageEditMenu(nullptr));
    emit m->aboutToShow();
    QAction* item = m->findChild<QAction*>(QString::number(s.command));
    ASSERT_NE(item, nullptr) << s.command;
    ASSERT_TRUE(item->isEnabled()) << s.command;
    item->trigger();
    EXPECT_EQ(Rows(*f), s.rows) << s.command;
    int total = 0;
    std::string pages;
    for (const auto& [name, n] : s.rows) {
      total += n;
      pages += (pages.empty() ? "" : ",") + std::to_string(n);
    }
    EXPECT_EQ(f->findChild<QLineEdit*>("1014")->text().toInt(), total) << s.command;
    EXPECT_EQ(f->document().GetAllPage(), total) << s.command;
    EXPECT_EQ(line_of("JobPages"), pages) << s.command;
    EXPECT_EQ(line_of("Rotate"), s.rotate) << s.command;
  }

  // A right click on the pages selects the page under the cursor (and keeps it selected
  // when it was) and opens the menu there; on the view's scroll strip no menu opens.
  f->layout_page()->ChoosePages(1);
  f->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(f.get()));
  QTest::qWait(300);  // let the page worker draw the preview before the picture
  auto* host = f->findChild<QWidget*>("view");
  auto* view = f->findChild<viewer::CViewerView*>();
  ASSERT_NE(view, nullptr);
  win::RECT area{};
  view->GetPageArea(&area);
  const QPoint centre((area.left + area.right) / 2, (area.top + area.bottom) / 2);
  // Takes a point of the view and a picture's name; gives whether the menu opened (and
  // saves the frame with the open menu on it). The check runs until the click is over:
  // the click's own message pump may run it before the menu is there.
  auto right_click = [&](QPoint at, const char* picture) {
    bool opened = false, clicking = true;
    std::function<void()> look = [&] {
      if (!clicking) return;
      QMenu* popup = nullptr;
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* m = qobject_cast<QMenu*>(w); m != nullptr && m->isVisible() && m->objectName() == "139") popup = m;
      if (popup == nullptr) {
        QTimer::singleShot(0, f.get(), look);
        return;
      }
      opened = true;
      if (picture != nullptr) {
        // The menu may reach past the frame: the picture holds both.
        const QRect menu_rect(f->mapFromGlobal(popup->pos()), popup->size());
        const QRect all = f->rect().united(menu_rect);
        QPixmap shot(all.size());
        shot.fill(Qt::darkGray);
        QPainter p(&shot);
        p.drawPixmap(-all.topLeft(), f->grab());
        p.drawPixmap(menu_rect.topLeft() - all.topLeft(), popup->grab());
        p.end();
        shot.save(QString::fromStdString(zv::testing::ArtifactsDir() + "/" + picture));
      }
      popup->close();
    };
    QTimer::singleShot(0, f.get(), look);
    QContextMenuEvent e(QContextMenuEvent::Mouse, at, host->mapToGlobal(at));
    QApplication::sendEvent(host, &e);
    clicking = false;
    return opened;
  };
  EXPECT_TRUE(right_click(centre, "ostrane_page_edit_menu.png"));
  const int picked = f->selected_page();
  EXPECT_GE(picked, 0);
  EXPECT_TRUE(right_click(centre, nullptr));
  EXPECT_EQ(f->selected_page(), picked);
  ASSERT_LT(area.right, host->width());
  EXPECT_FALSE(right_click(QPoint(host->width() - 2, centre.y()), nullptr));
  QCoreApplication::processEvents();  // the check of the click without a menu ends
}

// While a server checks for duplicates the box is checked and greyed; back to local printing
// it shows, and stores, the user's own choice again.
TEST_F(FrameTest, TheDuplicateBoxKeepsTheUsersChoiceAcrossAServer) {
  for (int own : {0, 1}) {
    _CPrtSet page;
    ClientSettings s;
    s.dup_check = own;
    page.Load(s);
    page.SetDlgDuplication(0);
    auto* box = page.findChild<QCheckBox*>("1033");
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isChecked());
    EXPECT_FALSE(box->isEnabled());
    page.SetDlgDuplication(1);
    EXPECT_EQ(box->isChecked(), own == 1) << own;
    EXPECT_TRUE(box->isEnabled());
    ClientSettings back;
    back.dup_check = 1 - own;
    page.Store(&back);
    EXPECT_EQ(back.dup_check, own);
  }
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
  // The stored setting keeps the user's own choice.
  ASSERT_TRUE(f->SaveSettingsNow().ok());
  ClientSettings back;
  ASSERT_TRUE(LoadSettings(&back, app_, false).ok());
  EXPECT_EQ(back.dup_check, 0);
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

namespace zv::client::app {
namespace {

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

// The queue and properties commands: each by the road the machine offers, disabled with
// the reason in its status prompt where none serves.
TEST_F(FrameTest, PrinterCommandsTakeTheRoadTheMachineOffers) {
  WritePrinters({"Office"});
  std::vector<std::vector<std::string>> started;
  std::vector<std::string> sheets;
  auto make = [&](PrinterCommandOffers offers) {
    FrameOptions o;
    o.prompt = &prompt_;
    o.capture_folder = tmp_;
    o.printer_offers = offers;
    o.run_program = [&](const std::vector<std::string>& argv) {
      started.push_back(argv);
      return true;
    };
    o.open_sheets = [&](const std::string& queue) {
      sheets.push_back(queue);
      return Status::NotFound("no sheets here");
    };
    auto f = std::make_unique<CMainFrame>(o);
    EXPECT_TRUE(f->StartUp(ParseStartArguments({})));
    WaitPrinters(*f);
    return f;
  };
  auto button = [](CMainFrame& f, const char* id) { return f.findChild<QPushButton*>(id); };
  auto item = [](CMainFrame& f, const char* id) { return f.findChild<QAction*>(id); };
  // Folder printers and no printer tool: the client's own queue window; no properties.
  {
    spool::FolderSpooler spooler;
    auto mode = spooler.DefaultDevMode("Office");
    ASSERT_TRUE(mode.ok());
    auto first = spooler.StartDoc("Office", {"見積書.pdf"}, *mode);
    auto second = spooler.StartDoc("Office", {"週報.xlsx"}, *mode);
    ASSERT_TRUE(first.ok() && second.ok());
    auto f = make({"", true, false});
    EXPECT_TRUE(button(*f, "1000")->isEnabled());
    EXPECT_TRUE(item(*f, "32798")->isEnabled());
    EXPECT_EQ(button(*f, "1000")->statusTip().toStdString(), kQueuePromptText);
    EXPECT_FALSE(button(*f, "1072")->isEnabled());
    EXPECT_FALSE(item(*f, "32799")->isEnabled());
    EXPECT_EQ(button(*f, "1072")->statusTip().toStdString(), kNotCupsText);
    f->show();
    button(*f, "1000")->click();
    auto* w = f->findChild<CQueueWindow*>();
    ASSERT_NE(w, nullptr);
    QSignalSpy refreshed(w, &CQueueWindow::refreshed);
    ASSERT_TRUE(refreshed.count() > 0 || refreshed.wait(10000));
    EXPECT_EQ(w->windowTitle().toStdString(), "Office - 印刷キュー");
    ASSERT_EQ(w->model()->rowCount(), 2);
    EXPECT_EQ(w->model()->data(w->model()->index(0, 0)).toString().toStdString(), "見積書.pdf");
    EXPECT_EQ(w->model()->headerData(1, Qt::Horizontal).toString().toStdString(), "状態");
    EXPECT_EQ(w->count_text().toStdString(), "キューに2個のドキュメント");
    // A job leaving the queue leaves the window at its next refresh.
    ASSERT_TRUE((*first)->Abort().ok());
    w->findChild<QPushButton*>("refresh")->click();
    ASSERT_TRUE(refreshed.wait(10000));
    EXPECT_EQ(w->model()->rowCount(), 1);
    EXPECT_TRUE(w->grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/ostrane_queue_window.png")));
    // The command again raises the window open rather than opening another.
    item(*f, "32798")->trigger();
    EXPECT_EQ(f->findChildren<CQueueWindow*>().size(), 1u);
    EXPECT_TRUE(started.empty());
  }
  // CUPS with the desktop's printer tool: both commands open it on the chosen printer.
  {
    auto f = make({"/usr/bin/system-config-printer", true, true});
    button(*f, "1000")->click();
    button(*f, "1072")->click();
    EXPECT_EQ(started, (std::vector<std::vector<std::string>>{
                           {"/usr/bin/system-config-printer", "--show-jobs", "Office"},
                           {"/usr/bin/system-config-printer", "--configure-printer", "Office"}}));
  }
  // With a server the commands act on the virtual printer, whose properties are the
  // driver's own sheets; sheets that cannot be shown are told.
  {
    const std::string share = root_.str() + "/share";
    for (const char* d : {"/PrintInfo", "/Jobs", "/Result"}) fsys::create_directories(share + d);
    ASSERT_TRUE(fs::WriteFileAtomic(share + "/PrintInfo/printers.lst", "[PRINTERS]\r\nOffice=\r\n").ok());
    ASSERT_TRUE(JoinServer(share, "SRV", "share", app_).ok());
    prompt_.shown.clear();
    auto f = make({"", true, true});
    EXPECT_TRUE(button(*f, "1072")->isEnabled());
    button(*f, "1072")->click();
    EXPECT_EQ(sheets, std::vector<std::string>{"Zelvora"});
    ASSERT_EQ(prompt_.shown.size(), 1u);
    EXPECT_EQ(prompt_.shown[0].text, kPropertiesFailedText);
  }
  // Nothing serves either: both disabled, each with its reason.
  auto f = make({"", false, false});
  EXPECT_FALSE(button(*f, "1000")->isEnabled());
  EXPECT_EQ(button(*f, "1000")->toolTip().toStdString(), kNoQueueReaderText);
}

}  // namespace
}  // namespace zv::client::app
