// The console's main frame: the tool bar and menus of every command, the status bar with the
// limit period's text and the selected user's remaining pages, and the splitter of the group
// tree (group_view.h) and the user list (user_view.h). It runs the administrator's setting
// commands and their enabling, hands the group and user commands to the views, opens the
// graph windows and the help, and stores its layout when it closes. The windows are thin
// views over the console's rules, registry store and database class; message boxes go through
// the injected MessageSink, and commands are QActions whose object names carry their ids
// ("cmd32771").
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "console/graph/chart_doc.h"
#include "console/rules/periods.h"
#include "console/tavolent/console_context.h"
#include "console/tavolent/group_view.h"
#include "console/tavolent/user_view.h"
#include "platform/help/help_window.h"
#include "platform/winmsg/winmsg.h"

class QLabel;
class QSplitter;
class QTimer;

namespace zv::console {
class CChartFrame;
}

namespace zv::console {

// The window title, also the name a second start looks the first console up by.
inline constexpr char kConsoleTitle[] = "Zelvoraエクスプローラ";
// The single-instance guard's name.
inline constexpr char kConsoleGuard[] = "Zelvora ExplorerMultiplexStartingPrevention";

// The administrator's guide the help command opens.
inline constexpr char kHelpFileName[] = "ZvmHelp.html";

// The main frame.
class CMainFrame : public QMainWindow, public GroupChangeSink {
  Q_OBJECT
 public:
  // Takes the context (kept by reference); builds the bars, the panes and the tree, and
  // starts the five-second refresh. ~CMainFrame removes the listed window.
  explicit CMainFrame(const ConsoleContext& ctx, QWidget* parent = nullptr);
  ~CMainFrame() override;

  // Gives the action of a command id (null for none).
  QAction* action(int id) const;
  // Runs a command as its action would.
  void Run(int id);
  // Re-reads the lock and selection state and enables the commands.
  void UpdateCommands();
  // Recomputes the limit period (writing a rolled "LimitDate" back) and its pane text.
  void UpdatePeriodText();
  // Give the panes of the frame.
  CTavolentGroupView* tree() const { return tree_; }
  CTavolentUserView* list() const { return list_; }
  QLabel* period_pane() const { return period_pane_; }
  QLabel* pages_pane() const { return pages_pane_; }
  // Lists the frame under the console's title for a second start to find; gives success.
  bool RegisterWindow();
  // Gives how often a second start asked the frame to come to the front.
  int raise_count() const { return raise_count_; }
  // Takes a group changed by another window and the operation (1 add, 2 update, 3 delete);
  // hands them to the group tree and gives its result.
  int ForwardGroupChange(const engine::GroupRecord* record, int operation) override;
  // Opens a graph window for the selected users: gives it shown, or null when it could not
  // be opened (message 45) or not be handed the users (message 46, window destroyed).
  CChartFrame* OpenGraphWindow();
  // Gives the graph windows still open.
  std::vector<CChartFrame*> graph_windows() const;
  // Takes a text; gives the width pane 1 takes for it: the wider of the text in the status
  // bar's font and 150, plus 20.
  int PagesPaneWidth(const QString& text) const;

  // Gives the print log the graph windows read (the registry's data source by default;
  // null: the window cannot be opened).
  std::function<std::unique_ptr<GraphSource>()> graph_source;

  // The storage folder dialog the general settings page opens (RunStorageFolderDialog by
  // default; its button is disabled when none is given or the data source has no file).
  std::function<void(QWidget*)> storage_dialog;

  // Gives the keeper of the help window: the help command (57670) closes the window opened
  // earlier and opens the administrator's guide "ZvmHelp.html" anew (the program folder's,
  // else the install's); the window closes when the console ends.
  help::HelpViewer& help_viewer() { return help_; }

 signals:
  // A command ran (its id).
  void commandDone(int id);
  // The user list is to be rebuilt for the selected group (the display period changed).
  void rebuildRequested();

 public slots:
  // Takes which panes to update (0 the period pane, 1 the remaining-pages pane, -1 both)
  // and the remaining-pages text ("" clears it); recomputes the period text for 0 and -1.
  void SetStatusTexts(int which, const QString& text);

 protected:
  void closeEvent(QCloseEvent* e) override;
  void showEvent(QShowEvent* e) override;
  // Shows the prompt of a disabled menu entry under the pointer, which the menu itself
  // passes over.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QAction* AddAction(int id, const char* text, bool checkable = false);
  void LockCommand();
  void PasswordCommand();
  void ThumbnailCommand();
  void SpanCommand(int kind);
  void ChosenSpanCommand();
  void HelpCommand();
  void DomainImportCommand();
  void StoreLayout();

  const ConsoleContext& ctx_;
  QSplitter* splitter_;
  CTavolentGroupView* tree_;
  CTavolentUserView* list_;
  QLabel* period_pane_;
  QLabel* pages_pane_;
  QTimer* timer_;
  std::map<int, QAction*> actions_;
  LimitPeriod period_;
  winmsg::HWND hwnd_ = 0;
  int raise_count_ = 0;
  QString pages_text_;
  std::vector<QPointer<CChartFrame>> graphs_;
  bool layout_stored_ = false;
  bool sized_ = false;
  help::HelpViewer help_;
};

}  // namespace zv::console
