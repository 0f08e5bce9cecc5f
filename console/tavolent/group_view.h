// The console's left pane, the group tree: the root named after the system and one item per
// group in use, sorted; the group commands (add, edit, rename in place, delete) with their
// enabling, its context menu, and the group changes other windows report. Selecting an item
// rebuilds the user list for that group.
#pragma once

#include <QMenu>
#include <QTreeWidget>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "console/tavolent/console_context.h"

namespace zv::console {

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
  // Takes whether the settings are locked; enables the group commands among the view's
  // actions: add when not locked, edit also only with a group (not the root) selected, and
  // delete also only while the user list shows no rows.
  void UpdateCommands(bool locked);

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

}  // namespace zv::console
