// The console's account and print-log dialogs that store their own changes: the print-log
// deletion dialog and the group selection dialog. Thin views over CConsoleDatabase and
// console/core (log_deletion.h, environment.h); controls carry their ids as object names.
#pragma once

#include <QDialog>
#include <functional>
#include <vector>

#include "console/db/console_database.h"

class QPushButton;
class QTreeWidget;

namespace zv::console {

struct ConsoleContext;

// "印刷ログの削除": the groups on the left, the users of the selected group that have print
// log on the right; deletes the chosen users' rows or all rows, then rewrites the affected
// quota files with counts of 0.
class LogDeletionDialog : public QDialog {
 public:
  // Takes the context, what to run after a deletion (the console's lists refresh; may be
  // empty) and the parent; fills the group tree.
  LogDeletionDialog(const ConsoleContext& ctx, std::function<void()> deleted, QWidget* parent = nullptr);
  // Give the group tree (1048) and the user list (1043).
  QTreeWidget* tree() const { return tree_; }
  QTreeWidget* list() const { return list_; }
  // Asks message 2 and deletes the selected users' print log (command 5).
  void DeleteSelected();
  // Asks message 3 and deletes every print-log row (command 4).
  void DeleteAll();
  // Takes a column; sorts the shown users as a header click does.
  void ClickColumn(int column);

 private:
  void FillTree();
  void FillList();
  void ShowUsers();
  std::vector<engine::GroupRecord> groups_;
  std::vector<UserPageRow> users_;
  const ConsoleContext& ctx_;
  std::function<void()> deleted_;
  QTreeWidget* tree_;
  QTreeWidget* list_;
  QPushButton* delete_;
  int sort_column_ = 0;
  bool descending_ = false;
};

// "グループの選択": the live groups with their limits; adds, edits and deletes groups (each
// change stored at once and told through `changed`) and gives the chosen group on OK.
class CGroupSelectDlg : public QDialog {
 public:
  // Takes the context, the preset group (GID 0: none), what to run after a stored change
  // (the group and 1 added, 2 changed, 3 deleted; may be empty) and the parent.
  CGroupSelectDlg(const ConsoleContext& ctx, const engine::GroupRecord& preset,
                  std::function<void(const engine::GroupRecord&, int)> changed, QWidget* parent = nullptr);
  // Gives the chosen group (valid after OK).
  const engine::GroupRecord& chosen() const { return chosen_; }
  // Give the list (1044).
  QTreeWidget* list() const { return list_; }
  // The buttons' commands: add (3), edit (4), delete (5).
  void AddGroup();
  void EditGroup();
  void DeleteGroups();
  // Takes a column; sorts as a header click does.
  void ClickColumn(int column);
  // Closes with OK when exactly one group is selected.
  void accept() override;

 private:
  void Fill(const std::vector<int32_t>& select);
  std::vector<int32_t> Selected() const;
  std::vector<std::string> NamesBut(int32_t gid) const;
  const ConsoleContext& ctx_;
  std::function<void(const engine::GroupRecord&, int)> changed_;
  std::vector<engine::GroupRecord> groups_;
  engine::GroupRecord chosen_;
  QTreeWidget* list_;
  QPushButton* ok_;
  int sort_column_ = 0;
  bool descending_ = false;
};

}  // namespace zv::console
