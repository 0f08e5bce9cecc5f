// The frame tests' shared pieces: a fixture with its own root, program folder and capture
// folder that writes printers.lst and capture files, makes frames, sends jobs by copy-data
// and reads the job rows; a recording printer-status source; and answers for the modal
// dialogs the frame runs through the viewer's prompter.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>
#include <filesystem>
#include <functional>

#include "client/app/main_frame.h"
#include "client/config.h"
#include "jobdoc/container.h"
#include "jobdoc/sample/sample_document.h"
#include "platform/fs/files.h"
#include "platform/registry/registry.h"
#include "platform/spool/folder_spooler.h"
#include "platform/testing/qt_app.h"
#include "platform/testing/temp_root.h"
#include "viewer/qt/prompter.h"
#include "viewer/qt/viewer_view.h"

namespace zv::client::app {


namespace fsys = std::filesystem;

inline QApplication& App() { return zv::testing::QtApp(); }

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
  // Waits until the frame's preview has drawn its pages, so a picture of the window shows them.
  static void PreviewDrawn(QWidget& f) {
    QApplication::processEvents();
    if (auto* view = f.findChild<viewer::CViewerView*>()) view->WaitForPages();
    QApplication::processEvents();
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

}  // namespace zv::client::app
