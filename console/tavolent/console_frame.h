// The console's windows: the main frame (tool bar, status bar with the period text, the
// setting commands and their enabling), the group tree on the left and the user list on
// the right. They are thin views over the console's rules, registry store and database
// class; message boxes go through the injected MessageSink, and commands are QActions whose
// object names carry their ids ("cmd32771").
#pragma once

#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QTreeWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "console/core/registry_config.h"
#include "console/db/console_database.h"
#include "console/graph/chart_doc.h"
#include "console/rules/messages.h"
#include "console/rules/periods.h"
#include "console/rules/user_list.h"
#include "console/rules/validators.h"
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

// Command ids.
enum Command : int {
  kCmdLock = 32771,
  kCmdUnlock = 32772,
  kCmdThumbnail = 32773,
  kCmdGraph = 32774,
  kCmdDeleteLog = 32775,
  kCmdStorage = 32776,
  kCmdSpanStandard = 32780,
  kCmdSpanMonth = 32781,
  kCmdSpanWeek = 32782,
  kCmdSpanToday = 32783,
  kCmdSpanChosen = 32784,
  kCmdDomainImport = 32790,
  kCmdGroupAdd = 32791,
  kCmdGroupEdit = 32792,
  kCmdGroupDelete = 32793,
  kCmdUserAdd = 32794,
  kCmdUserEdit = 32795,
  kCmdUserDelete = 32796,
  kCmdLimitSettings = 32800,
  kCmdGeneralSettings = 32801,
  kCmdPassword = 32802,
  kCmdLockToggle = 32803,
  // Context-menu entries no window handles: they stand disabled in the group tree's menu.
  kCmdGroupEditDead = 32813,
  kCmdGroupDeleteDead = 32814,
  kCmdToolBar = 59392,
  kCmdStatusBar = 59393,
  kCmdAbout = 57664,
  kCmdHelp = 57670,
};

// What every console window reaches: the settings store, the sink, today's date and the
// database (opened with the registry's DSN, UID and PWD).
struct ConsoleContext {
  CConsoleSettings* settings = nullptr;
  MessageSink* sink = nullptr;
  std::function<int32_t()> today;
  // Gives a database object over the registry's data source.
  std::unique_ptr<CConsoleDatabase> OpenDatabase() const;
  // True when the settings are locked (a missing "LogEnv1" counts as locked).
  bool Locked() const;
  // The stored lock password, unscrambled ("" when none is stored); *stored says whether
  // one is.
  std::string LockPassword(bool* stored) const;
};

class CTavolentUserView;

// The left pane: the root (the "RootName" setting) and one item per live group, sorted.
class CTavolentGroupView : public QTreeWidget {
  Q_OBJECT
 public:
  // Takes the context (kept by reference); the tree is empty until FillGroupTree.
  CTavolentGroupView(const ConsoleContext& ctx, QWidget* parent = nullptr);
  // Takes the list the selection rebuilds.
  void set_user_list(CTavolentUserView* list) { list_ = list; }

  // Rebuilds the tree from the database (the root alone when the read fails).
  void FillGroupTree();
  // Gives 2 with nothing selected, 1 for the root, 0 and the group's record otherwise.
  int SelectedGroup(engine::GroupRecord* out) const;
  // Selects the group item of a GID (the root for 0).
  void SelectGroup(int32_t gid);
  // Takes a group item and a new label; applies the end of an in-place edit: the root's
  // text becomes the root name; a group's new name is refused with message 6 when another
  // group has it without regard to case, else stored. Gives whether the label stands.
  bool RenameItem(QTreeWidgetItem* item, const std::string& text);
  // The group commands: add, edit (dialog), delete (asks message 0).
  void AddGroupCommand();
  void EditGroupCommand();
  void DeleteGroupCommand();
  // Rebuilds the user list for the selected group.
  void RefreshSelected();
  // Gives the root item (null before FillGroupTree).
  QTreeWidgetItem* root() const { return root_; }
  // Takes a GID; gives its item (the root for 0, null for an unknown group).
  QTreeWidgetItem* ItemOf(int32_t gid) const;
  // Takes a group changed elsewhere and the operation (1 add, 2 update, 3 delete); applies
  // it to the items without database change (an update of the selected group rebuilds the
  // user list). Gives 1, or 0 for a null record, an unknown GID or another operation.
  int ApplyGroupChange(const engine::GroupRecord* record, int operation);
  // Takes whether the menu is opened from the keyboard and, for the mouse, the point in
  // the viewport; builds the context menu (add, edit, delete; the disabled 32813 and 32814
  // stand in for edit and delete unless the point is on the selected group's label) and
  // gives it with the global point it opens at in *global.
  std::unique_ptr<QMenu> ContextMenu(bool keyboard, const QPoint& at, QPoint* global);
  // Gives the rectangle of an item's label in the viewport.
  QRect LabelRect(QTreeWidgetItem* item) const;

 signals:
  // The selection changed: the frame clears its remaining-pages pane.
  void selectionCleared();

 protected:
  // Refuses to start an in-place edit while the settings are locked.
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* e) override;

 private:
  QTreeWidgetItem* AddItem(const engine::GroupRecord& g);
  std::vector<std::string> NamesBut(int32_t gid) const;
  bool UpdateGroup(QTreeWidgetItem* item, const engine::GroupRecord& g);

  const ConsoleContext& ctx_;
  CTavolentUserView* list_ = nullptr;
  QTreeWidgetItem* root_ = nullptr;
  std::map<int32_t, engine::GroupRecord> groups_;
  bool applying_ = false;
};

// The right pane: the users of the current group with their limits, the display period's
// pages and one column per printer of the group's print log in that period.
class CTavolentUserView : public QTreeWidget {
  Q_OBJECT
 public:
  // Takes the context (kept by reference); the list is empty until RefreshUserList.
  CTavolentUserView(const ConsoleContext& ctx, QWidget* parent = nullptr);

  // The limit period the frame holds (for kind 0 of the display period and the status).
  void set_limit_period(const LimitPeriod& p) { limit_ = p; }
  // Takes a group (GID 0: none); reads its users and their pages and fills the list. A
  // failed read shows message 32 or 37 and leaves the list as it was.
  void RefreshUserList(const engine::GroupRecord& group);
  // Give the rows in display order and the printers of columns 5 onwards.
  const std::vector<UserPageRow>& rows() const { return rows_; }
  const std::vector<int32_t>& printer_ids() const { return printer_ids_; }
  // Gives the UIDs of the selected rows, in row order.
  std::vector<int32_t> SelectedUids() const;
  // Takes UIDs; selects exactly their rows.
  void SelectUids(const std::vector<int32_t>& uids);
  // Sorts by a column as a header click does (the same column reverses).
  void ClickColumn(int column);
  // Takes a row's UID and a new account; applies an in-place rename (message 7 for an
  // account another user has). Gives whether the rename was stored.
  bool RenameAccount(int32_t uid, const std::string& account);
  // Run the user dialog for a new user of the current group (message 29 when the add
  // fails) or for the one selected user (message 30 when the update fails).
  void AddUserCommand();
  void EditUserCommand();
  // Asks message 1; deletes the selected users and their print-log rows in one
  // transaction (message 31 on failure, nothing changed), then clears their quota files.
  void DeleteUsersCommand();
  // Gives the selected user's status text ("" when none or the count failed).
  std::string StatusText() const;
  // Stores the column widths in the settings.
  void StoreWidths();
  // Takes a column title; gives the width its header needs to show it whole.
  int TitleWidth(const QString& title) const;
  // Takes a number of printer columns; gives the width the list needs to show the fixed
  // columns and that many printer columns whole at their first widths, without scrolling.
  int WholeColumnsWidth(int printers) const;
  // Gives the current group (GID 0: none).
  const engine::GroupRecord& group() const { return group_; }
  // Gives the selected users' records, in row order.
  std::vector<engine::UserRecord> SelectedUsers() const;
  // Takes whether the menu is opened from the keyboard and, for the mouse, the point in
  // the viewport; builds the context menu of the user commands and gives it with the global
  // point it opens at (5 pixels inside the top-left corner from the keyboard) in *global.
  std::unique_ptr<QMenu> ContextMenu(bool keyboard, const QPoint& at, QPoint* global);

 signals:
  // The selected user's status text changed ("" clears the pane).
  void statusChanged(const QString& text);

 protected:
  // Refuses in-place edits while locked and of any column but the account.
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* e) override;

 private:
  void Fill(bool new_columns, const std::vector<int32_t>& select);
  void SortRows();
  LimitContext Limits() const;
  DayRange ListRange() const;
  std::vector<engine::GroupRecord> LiveGroups() const;
  std::vector<KnownUser> LiveUsers(std::vector<engine::UserRecord>* records) const;

  const ConsoleContext& ctx_;
  engine::GroupRecord group_;
  LimitPeriod limit_;
  std::vector<UserPageRow> rows_;
  std::vector<int32_t> printer_ids_;
  std::vector<std::string> printer_names_;
  bool filling_ = false;
};

// The main frame.
class CMainFrame : public QMainWindow {
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
  int ForwardGroupChange(const engine::GroupRecord* record, int operation);
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
