// The console's right pane, the user list: the users of the selected group with their limits,
// the display period's pages and jobs and one column per printer they used in it; sorting,
// the user commands (add, edit, rename in place, delete) with their enabling, its context
// menu and the selected user's remaining-pages text.
#pragma once

#include <QMenu>
#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

#include "console/rules/periods.h"
#include "console/rules/user_list.h"
#include "console/rules/validators.h"
#include "console/tavolent/console_context.h"

namespace zv::console {

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
  // Shows the standard titles without rows or printer columns (no group chosen).
  void ShowEmptyColumns();
  // Takes a column title; gives the width its header needs to show it whole.
  int TitleWidth(const QString& title) const;
  // Takes a number of printer columns; gives the width the list needs to show the fixed
  // columns and that many printer columns whole at their first widths, without scrolling.
  int WholeColumnsWidth(int printers) const;
  // Gives the current group (GID 0: none).
  const engine::GroupRecord& group() const { return group_; }
  // Takes whether the settings are locked; enables the user commands among the view's
  // actions: add when not locked and a group is shown, edit also only with one row selected,
  // delete with at least one, and the graph with at least one (also while locked).
  void UpdateCommands(bool locked);
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
  bool empty_columns_ = false;  // the titles without a group are shown
};

}  // namespace zv::console
