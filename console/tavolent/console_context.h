// What every window of the console shares: the context (the settings store, the message
// sink, today's date and the database), the command ids its actions carry, the wait cursor,
// the in-place name editor of the group tree and the user list, and the way a dialog's stored
// group change reaches the main frame's tree without the dialog knowing the frame.
#pragma once

#include <QList>
#include <QStyledItemDelegate>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include "console/core/registry_config.h"
#include "console/db/console_database.h"
#include "console/rules/messages.h"

class QAction;
class QWidget;

namespace zv::console {

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

// Takes a window's actions and command states (id, enabled); enables or disables each action
// whose id (its data) is listed as the state says and leaves the others as they are.
void EnableCommands(const QList<QAction*>& actions, std::initializer_list<std::pair<int, bool>> states);

// Shows the wait cursor for the life of the object.
struct WaitCursor {
  WaitCursor();
  ~WaitCursor();
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

// The in-place editor of the tree and the list: at most 255 characters, as the dialogs'
// name edits.
class NameEditDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  // Gives the default editor, limited to 255 characters when it is a line edit.
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// What takes the group changes that the console's dialogs store (the main frame, which
// hands them to its group tree).
class GroupChangeSink {
 public:
  virtual ~GroupChangeSink() = default;
  // Takes a group changed by another window and the operation (1 add, 2 update, 3 delete);
  // gives 1 when the change was applied, else 0.
  virtual int ForwardGroupChange(const engine::GroupRecord* record, int operation) = 0;
};

// Takes a window (may be null), a group a dialog stored and the operation (1 add, 2 update,
// 3 delete); hands them to the window when it takes group changes (the main frame) and drops
// them otherwise (a dialog run before the main frame exists).
void ReportGroupChange(QWidget* window, const engine::GroupRecord& group, int operation);

}  // namespace zv::console
