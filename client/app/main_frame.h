// CMainFrame, the client's main window: status bar with two panes, the left bar (105)
// with the printer and paper lists, the reduction-rate line and the four tab pages (layout,
// header and footer, copies and printer, job list), the bottom bar (103) with the command
// buttons, and the client's view (COstraneView) over the client document in the middle. It
// is a platform window too (class "AfxFrameOrView42" with the property "Zelvora"), so the
// capture side hands it further jobs by WM_COPYDATA on the Qt loop. Every message goes
// through the injected prompt.
//
// Its code stands in several files: main_frame.cc (creation, start-up, jobs arriving,
// settings, status panes, dialogs, header and footer, page-edit commands), frame_printers.cc
// (the printer and paper lists and the printer commands), print_run.cc (the print run and
// its answer) and frame_keys.cc (keyboard and focus).
#pragma once

#include <QMainWindow>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "client/answer.h"
#include "client/app/ostrane_view.h"
#include "client/app/page_edit.h"
#include "client/app/printer_entries.h"
#include "client/app/settings_pages.h"
#include "client/app/start_args.h"
#include "client/client_doc.h"
#include "client/config.h"
#include "client/printer_commands.h"
#include "client/printer_status.h"
#include "client/progress.h"
#include "client/prompt.h"
#include "client/request_file.h"
#include "client/settings_store.h"
#include "platform/help/help_window.h"
#include "platform/winmsg/winmsg.h"

class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QTabWidget;
class QTimer;

namespace zv::viewer {
class CViewerView;
}

namespace zv::client::app {

class ProgressDialog;
class _CPrtList;

// The frame's platform window class and the messages it takes.
inline constexpr char kFrameClass[] = "AfxFrameOrView42";
inline constexpr char kFrameText[] = "Ostrane";
inline constexpr char kFrameProperty[] = "Zelvora";
inline constexpr unsigned kMsgSetClientWindow = 0x40A;  // to the resident program "ZvPermanent"
inline constexpr char kResidentText[] = "ZvPermanent";
inline constexpr unsigned kMsgEndTopmost = 0x464;  // the frame leaves the topmost band
// On a first start the frame is at least kFirstHeight high (the preview's widths are
// COstraneView's).
inline constexpr int kFirstHeight = 760;
// Takes the screen's free area and the frame's minimum size; gives the frame's place on a
// first start: the minimum widened by the preview's gain, at least kFirstHeight high, at the
// area's top-left and within the area.
QRect FirstPlace(const QRect& free_area, const QSize& minimum);
inline constexpr char kOpenFailedAdminText[] = "管理者権限で実行して下さい。";
inline constexpr char kSystemErrorTitle[] = "システムエラー";
inline constexpr char kNoPrinterText[] = "プリンタが存在しません。";
inline constexpr char kPrinterErrorTitle[] = "プリンタエラー";
inline constexpr char kUnprintedJobsText[] = "未印刷のジョブが存在します。\n終了しますか？";
inline constexpr char kCloseConfirmTitle[] = "終了確認";
inline constexpr char kPropertiesFailedText[] = "プリンタのプロパティを表示できませんでした。";

// The printer-status hooks of the frame, each given the printer's address ("IPaddr" of
// printers.lst, empty when the list has none): at start-up with the printer selected
// there, on a printer choice, and on timer 4 (every 5 s). The default does nothing;
// ServiceStatusSource hands them to the printer-status service.
class PrinterStatusSource {
 public:
  virtual ~PrinterStatusSource() = default;
  // Takes the address of the printer selected at start-up.
  virtual void OnStartUp(const std::string& address) { (void)address; }
  // Takes the address of the printer just chosen.
  virtual void OnPrinterSelected(const std::string& address) { (void)address; }
  // Takes whether a print run is under way (the query is then left out).
  virtual void OnTimer4(bool run_active) { (void)run_active; }
};

// Hands the frame's hooks to a PrinterStatusService (which must outlive it).
class ServiceStatusSource : public PrinterStatusSource {
 public:
  explicit ServiceStatusSource(PrinterStatusService* service) : service_(service) {}
  void OnStartUp(const std::string& address) override { service_->OnStartUp(address); }
  void OnPrinterSelected(const std::string& address) override { service_->OnPrinterSelected(address); }
  void OnTimer4(bool run_active) override { service_->OnTimer4(run_active); }

 private:
  PrinterStatusService* service_;
};

struct FrameOptions {
  Prompt* prompt = nullptr;               // required
  PrinterStatusSource* status = nullptr;  // null: no status queries
  bool auto_print = false;
  std::string capture_folder;      // capture files elsewhere are kept
  bool register_window = true;     // make the platform window (tests may skip)
  std::function<void()> on_close;  // the program ends (main quits the Qt loop)
  bool trace = false;              // "LogOutput": trace lines into ZvkTrace.log
  int answer_poll_ms = 0;          // timer 1's period; 0: 2,000 ms (tests go faster)
  // Starts a program by its argument vector and forgets it (the help window's opener of
  // links that leave its page); empty: help::DesktopOpener().
  std::function<bool(const std::vector<std::string>& argv)> run_program;
  // What the machine offers the printer commands (1000, 1072); none: MachinePrinterOffers.
  std::optional<PrinterCommandOffers> printer_offers;
  // Opens the driver's property sheets of a project queue; empty: OpenDriverSheets.
  std::function<Status(const std::string& queue)> open_sheets;
};

// How a print run ended.
enum class PrintOutcome {
  kNothing,     // no pages, or a run is already under way
  kHandedOver,  // the request lies on a server slot; the job monitor shows the answer
  kPrinted,     // a local run printed (code 0 in its answer)
  kFailed,      // not handed over, or a local run with a failure answer
};

class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  // Takes the options; builds the window (590 x 485) and, when asked, its platform window.
  explicit CMainFrame(FrameOptions options, QWidget* parent = nullptr);
  ~CMainFrame() override;

  // Start-up: takes what the command line asked for; opens the document (a failed open
  // shows the open-failure message unless AutoPrint is set), reads the configuration and
  // fills the printer list. Gives false when the configuration key is missing (after its
  // message), true otherwise.
  bool StartUp(const StartArgs& args);

  // A job arriving by copy-data: takes the text '<path> /n "<title>" '; opens it, or
  // appends it to the open document, and adds its row to the job list. Gives 1 when the job
  // was taken, 0 when not (also while AutoPrint runs a job, so the capture side keeps it).
  long OnCopyData(std::string_view text);

  // The print command (1002): saves the settings, builds the request and hands the job to
  // the server, or, without a server, prints it here and shows the client's result text.
  // The hand-over and the local print run on a worker thread; printFinished tells the end.
  // Jobs arriving meanwhile wait and are opened after the run.
  // Before the hand-over the document is saved as "<folder>/AutoSave%03d.prc" in the
  // auto-save folder (the number wraps at "AutoSaveTimes"); a missing folder is told and the
  // print goes on.
  // First the checks: an empty job list ends the program; without a printer or with a page
  // range outside the document the run is refused with its message (the page and field
  // concerned shown); without a server and with the duplicate-print box checked, a job of
  // the top job's name still in the printer's queue ends the program after
  // "2重印刷のため終了します。" (said only when someone is there to read it).
  void Print();
  bool printing() const { return printing_; }

  // The dialogs: options (32795), about (57664); the server settings (1011) are the job
  // list page's. Each runs modally through the viewer's prompter, so tests answer them.
  void RunOptions();
  void RunAbout();

  // The printer commands: the queue (1000, menu 32798) and the properties (1072, menu
  // 32799) of the printer they act on (with a server "Zelvora", else the chosen one), each
  // by the road the machine offers (PrinterCommand). Enabled only where one serves; the
  // buttons' status prompt says what they do, or why they cannot.
  PrinterCommand queue_command() const;
  PrinterCommand properties_command() const;
  void RunQueueCommand();
  void RunPropertiesCommand();

  // Help (1004): closes the help window opened earlier, then opens the help page
  // "ZvkHelp.html" of the program folder, else the install's data folder, in a new one
  // (help::HelpViewer). The window closes when the program ends.
  void RunHelp();
  // Gives the help window's keeper.
  help::HelpViewer& help_viewer() { return help_; }

  // The page-edit commands of the selected page (cut, copy, paste before and after, delete,
  // blank pages before and after, rotation) with their enabling: nothing during a run or
  // without a selected page. Rotation (32806 clockwise, value 1; 32805 counter-clockwise,
  // 16) sets its value on an upright page and puts a turned one back upright; it is refused
  // for a blank page, one page per sheet, the first page, or a page already holding the
  // command's value. Every edit refreshes the job rows, the total and the preview.
  bool CanEditPage(int command) const;
  void EditPage(int command);
  // Builds the page-edit menu ("ページ編集メニュー") with its items enabled as things stand;
  // owned by the caller. A right click on the pages selects the page under the cursor and
  // opens it there.
  QMenu* BuildPageEditMenu(QWidget* parent);

  // Selects page `page` of the view (from 0); a negative page is ignored.
  void PickPage(int page);

  COstraneDoc& document() { return doc_; }
  const JobList& jobs() const { return jobs_; }
  const ClientConfig& config() const { return config_; }
  winmsg::HWND platform_window() const { return hwnd_; }
  int selected_page() const { return selected_page_; }
  const std::string& job_name() const { return job_name_; }
  bool document_opened() const { return document_opened_; }
  _CLayout* layout_page() const { return layout_; }
  _CPrtHdr* header_page() const { return header_; }
  _CPrtSet* copies_page() const { return copies_; }
  // The job list page (its rows, job commands, job files and saving of the pages).
  _CPrtList* job_page() const { return job_page_; }
  // The two status panes' texts (period, pages).
  std::string pane_text(int i) const;
  // Gives the request of the document as the panel stands (account, machine, jobs, layout,
  // copies and range, printer, rotations) with the header and footer texts and font as the
  // print document holds them; the job file is left empty.
  RequestOrder BuildOrder() const;
  // Stores the panel into the settings and writes them.
  Status SaveSettingsNow();
  // Fills the printer combo from the printers of printers.lst (the frame reads the file on
  // a worker), selects the stored printer (the first when it is gone) and its stored paper,
  // and tells the status hooks the selected printer's address.
  void SetPrinterEntries(std::vector<PrinterEntry> printers);
  // Selects the paper of `code` among the selected printer's papers (the document's own
  // paper when the printer lacks it), keeps its code as the current paper and hands the
  // paper to the page view.
  void SetPaper(int32_t code);
  // The current paper code (the request's "PaperSize").
  int32_t paper_code() const { return settings_.paper_size; }
  // Hands both sides' header and footer texts to the print document with the date, time,
  // user, machine and chosen printer put in for their tokens, and redraws the preview (on
  // every edit, list choice, page-rule click and printer change).
  void ApplyHeaderFooter();
  // The font button of the header page (1091): runs the font dialog over the print
  // document's header/footer font and hands the choice back to it.
  void ChooseHeaderFont();
  // The reduction-rate clearing: asks "削減率をクリアします。\nよろしいですか？" and on Yes sets
  // both counters to 0 and the line 1067 to match.
  void ClearReductionRate();
  // Takes the document's pages and, by the pages per sheet, its sheets; shows the line 1067
  // with the totals printed so far and these counted in. Runs whenever the document or the
  // layout changes (a job loaded or appended, pages inserted or deleted).
  void UpdatePageCounts();
  // Whether the frame stands above other windows (for a moment after a job arrives).
  bool topmost() const { return topmost_; }
  // The address of the selected printer, or empty.
  std::string selected_address() const;

 signals:
  void printersLoaded();
  void quotaRefreshed();
  void printFinished(zv::client::app::PrintOutcome outcome);

 protected:
  // The keyboard rules: Esc clears the page selection, Enter prints, Alt+P/R/D/S reach the
  // bar's controls, and letters and digits are shortcuts of the tab page shown (they do not
  // fire while a text field has the focus, which takes them itself).
  void keyPressEvent(class QKeyEvent* event) override;
  // Closing: with jobs in the list asks "未印刷のジョブが存在します。\n終了しますか？" first
  // (No keeps the frame, and a run's answer is polled again); then waits for a local print
  // still running and stores the window's place with the settings.
  void closeEvent(class QCloseEvent* event) override;
  // Minimising is undone while the offset field being edited holds a bad value.
  void changeEvent(class QEvent* event) override;
  // Tab and Shift+Tab: a fixed cycle through the printer and paper lists, the tab control,
  // the shown page's controls and the buttons 1000, 1072, 1002 and 1003 (those enabled).
  bool focusNextPrevChild(bool next) override;
  // A right click inside the page view's page area: the page under the cursor becomes the
  // selected one and the page-edit menu opens there; elsewhere in the view no menu opens.
  void contextMenuEvent(class QContextMenuEvent* event) override;

 public:
  // The bars are fixed (they cannot be hidden, moved or floated), so a right click on the
  // menu bar or a bar opens no menu: gives null.
  QMenu* createPopupMenu() override { return nullptr; }

 private:
  // The job list page works on the frame's document, jobs and configuration; the buttons'
  // default look follows the frame's print run and tab control.
  friend class _CPrtList;
  friend class _CButton;

  // Takes the job list; gives each row's name and page count, so two lists compare equal
  // only when they hold the same jobs.
  static std::vector<std::string> JobNames(const JobList& jobs);
  // Builds the two dialog bars, connects their controls, and builds the menus.
  void BuildBars();
  void RegisterWindow();
  // Reads printers.lst on a worker: with a server its copy from the share first; without
  // one the list is first checked against the installed printers (built anew when missing,
  // printers gone removed, new ones added) while the progress window counts them.
  void LoadPrintersAsync();
  // Takes a state of the printer gathering; shows it in the progress window (180), which
  // hides again when the gathering ends (and stays hidden in an unattended run).
  void ShowProgress(const ProgressModel& state);
  // Reads the quota files of the server on a worker (start-up and timer 2), then shows the
  // period and pages texts in the status panes.
  void RefreshQuotaAsync();
  void ShowStatusTexts();
  // Gives true when the key was a shortcut of the tab page shown.
  bool PageShortcut(int key, bool alt, bool keypad);
  // Opens at the stored place, or at FirstPlace on a first start or off the screen.
  void PlaceWindow();
  void OnPrinterChosen();
  void FillPapers();
  winmsg::LRESULT WindowProc(winmsg::HWND, winmsg::UINT, winmsg::WPARAM, winmsg::LPARAM);
  bool OpenJob(const std::string& path, const std::string& title);

  void AutoSaveJob();
  // Ends the program as the close command does, but without asking about the jobs listed.
  void EndProgram();
  // Enables the printer commands' buttons and menu items as the machine and the printer
  // chosen allow, with their status prompts.
  void UpdatePrinterCommands();
  // Takes a command; runs it by its road.
  void RunPrinterCommand(const PrinterCommand& command);
  // Takes a path; writes the document there, telling "ファイルの保存中に失敗しました。" when it
  // cannot (unless nobody is there to read it). Gives whether it was written.
  bool WriteDocument(const std::string& path);
  // The run proper (timer 3's tick): settings saved, request built, hand-over or local run.
  void OnPrintExecute();
  // Takes a timer's id; does what the timer machine says for its tick.
  void OnTimerTick(int id);
  // The topmost band: set when a job arrives, cleared by 0x464 (posted to the platform
  // window, so it runs after the arrival) unless AutoPrint is set.
  void SetTopmost(bool on);
  void PostEndTopmost();
  // The button that looks like the default: Cancel (1003) during a run, else Print (1002).
  QPushButton* DefaultButton() const;
  // The members of the Tab cycle, in order.
  std::vector<QWidget*> FocusCycle() const;
  // Timer 1's tick during a local run: once the print has ended, reads its answer file;
  // when complete, deletes it, shows the result and ends the run.
  void PollAnswer();
  // Reads the local run's answer file; when it is complete, deletes it, takes its quota and
  // gives it (none while it is incomplete or unreadable).
  std::optional<AnswerInfo> TakeAnswer();
  // Shows an answer's result text (titled "Ostrane" when it has no title).
  void ShowAnswer(const AnswerInfo& answer);
  void FinishRun(PrintOutcome outcome, int run_jobs, bool close_if_alone);
  void RemoveRunJobs(int run_jobs);
  // WM_DELETEPAGES: takes a range of pages (from 0, both included); removes them from the
  // document. When they are all its pages the page view is told first (WM_USER+5), so it
  // lets go of what it shows of them. Gives whether the document removed them.
  bool DeletePages(int first, int last);

  jobdoc::TraceLog trace_;
  QuotaState quota_;
  bool printing_ = false;
  std::vector<CopyDataJob> waiting_;
  FrameOptions options_;
  help::HelpViewer help_;
  ClientSettings settings_;
  _CLayout* layout_ = nullptr;
  _CPrtHdr* header_ = nullptr;
  _CPrtSet* copies_ = nullptr;
  COstraneDoc doc_;
  ClientConfig config_;
  bool config_ok_ = false;
  JobList jobs_;
  PageEditor page_edit_{&doc_.viewer(), &jobs_};
  std::string job_name_;
  bool document_opened_ = false;
  int selected_page_ = -1;
  winmsg::HWND hwnd_ = 0;

  zv::viewer::CViewerView* view_ = nullptr;  // the page view that view_host_ hosts
  COstraneView* view_host_ = nullptr;
  QLabel* panes_[2] = {};
  QComboBox* printer_combo_ = nullptr;
  QComboBox* paper_combo_ = nullptr;
  std::vector<PrinterEntry> printers_;
  QLabel* rate_line_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  _CPrtList* job_page_ = nullptr;
  QTimer* status_timer_ = nullptr;
  QTimer* start_timer_ = nullptr;
  QTimer* answer_timer_ = nullptr;
  ProgressDialog* progress_ = nullptr;
  int progress_total_ = 0;         // the total of the last printer gathering
  bool printers_pending_ = false;  // a printer list is being read on a worker
  bool print_when_loaded_ = false; // a print waits for that list
  std::vector<std::string> print_waiting_jobs_;  // the jobs listed when it was asked for
  bool print_after_list_ = false;  // the print running is the one that waited
  bool no_printer_told_ = false;   // the last list read was empty and the user was told
  bool asking_close_ = false;      // the close question is open
  ProgressModel print_progress_;  // the progress window while a local run prints
  bool topmost_ = false;
  bool ending_ = false;  // EndProgram closes: no question about the jobs listed
  bool local_worker_ = false;  // a local print runs on its worker
  std::string local_answer_;   // its answer file once it has ended
  int run_jobs_ = 0;           // the jobs listed when the run started
  int doc_pages_ = 0, doc_sheets_ = 0;  // the document's, as UpdatePageCounts took them
  int run_pages_ = 0, run_sheets_ = 0;  // the running print's, taken as it started
  FrameTimers timers_;
  QTimer* quota_timer_ = nullptr;
  PrinterCommandOffers offers_;
  QAction* queue_item_ = nullptr;
  QAction* properties_item_ = nullptr;
};

}  // namespace zv::client::app
Q_DECLARE_METATYPE(zv::client::app::PrintOutcome)
