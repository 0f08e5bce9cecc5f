// The group tree (CTavolentGroupView): filling, the group commands and their enabling, the
// in-place rename, the context menu and the group changes other windows report.
#include "console/tavolent/group_view.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QTimer>
#include <algorithm>

#include "console/core/environment.h"
#include "console/rules/validators.h"
#include "console/tavolent/dialogs.h"
#include "console/tavolent/user_view.h"

namespace zv::console {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

constexpr int kGidRole = Qt::UserRole;

}  // namespace

CTavolentGroupView::CTavolentGroupView(const ConsoleContext& ctx, QWidget* parent) : QTreeWidget(parent), ctx_(ctx) {
  setObjectName("groupTree");
  setFont(ConsoleFont());
  setItemDelegate(new NameEditDelegate(this));
  setHeaderHidden(true);
  setColumnCount(1);
  setContextMenuPolicy(Qt::DefaultContextMenu);
  setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
  connect(this, &QTreeWidget::currentItemChanged, this, [this] {
    RefreshSelected();
    emit selectionCleared();
  });
  connect(this, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
    if (applying_) return;
    const int32_t gid = item->data(0, kGidRole).toInt();
    const std::string old = item == root_ ? ctx_.settings->GetRootName() : groups_[gid].GroupName;
    if (!RenameItem(item, S(item->text(0)))) {
      applying_ = true;
      item->setText(0, Q(old));
      applying_ = false;
    }
  });
  connect(this, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
    if (!ctx_.Locked() && item != root_) QTimer::singleShot(0, this, [this] { EditGroupCommand(); });
  });
}

void CTavolentGroupView::FillGroupTree() {
  applying_ = true;
  clear();
  groups_.clear();
  root_ = new QTreeWidgetItem(this, QStringList{Q(ctx_.settings->GetRootName())});
  root_->setData(0, kGidRole, 0);
  root_->setFlags(root_->flags() | Qt::ItemIsEditable);
  std::vector<engine::GroupRecord> groups;
  auto db = ctx_.OpenDatabase();
  if (db->GetGroupInfo(&groups, 0, 1)) {
    for (const auto& g : groups) {
      groups_[g.GID] = g;
      auto* item = new QTreeWidgetItem(root_, QStringList{Q(g.GroupName)});
      item->setData(0, kGidRole, g.GID);
      item->setFlags(item->flags() | Qt::ItemIsEditable);
    }
    root_->sortChildren(0, Qt::AscendingOrder);
    expandItem(root_);
  }
  applying_ = false;
}

QTreeWidgetItem* CTavolentGroupView::ItemOf(int32_t gid) const {
  if (!root_ || gid == 0) return root_;
  for (int i = 0; i < root_->childCount(); ++i)
    if (root_->child(i)->data(0, kGidRole).toInt() == gid) return root_->child(i);
  return nullptr;
}

QTreeWidgetItem* CTavolentGroupView::AddItem(const engine::GroupRecord& g) {
  groups_[g.GID] = g;
  applying_ = true;
  auto* item = new QTreeWidgetItem(root_, QStringList{Q(g.GroupName)});
  item->setData(0, kGidRole, g.GID);
  item->setFlags(item->flags() | Qt::ItemIsEditable);
  root_->sortChildren(0, Qt::AscendingOrder);
  applying_ = false;
  return item;
}

int CTavolentGroupView::ApplyGroupChange(const engine::GroupRecord* record, int operation) {
  if (!record || !root_) return 0;
  if (operation == 1) {
    AddItem(*record);
    return 1;
  }
  QTreeWidgetItem* item = record->GID == 0 ? nullptr : ItemOf(record->GID);
  if (!item || (operation != 2 && operation != 3)) return 0;
  if (operation == 2) {
    groups_[record->GID] = *record;
    applying_ = true;
    item->setText(0, Q(record->GroupName));
    root_->sortChildren(0, Qt::AscendingOrder);
    applying_ = false;
    if (currentItem() == item) RefreshSelected();
  } else {
    groups_.erase(record->GID);
    delete item;
  }
  return 1;
}

QRect CTavolentGroupView::LabelRect(QTreeWidgetItem* item) const {
  QRect r = visualItemRect(item);
  if (r.isValid()) r.setWidth(std::min(r.width(), fontMetrics().horizontalAdvance(item->text(0)) + 6));
  return r;
}

std::unique_ptr<QMenu> CTavolentGroupView::ContextMenu(bool keyboard, const QPoint& at, QPoint* global) {
  QTreeWidgetItem* selected = currentItem();
  QPoint p = at;
  if (keyboard) {
    const QRect label = selected ? LabelRect(selected) : QRect();
    p = label.isValid() ? label.center() : viewport()->mapFrom(this, QPoint(5, 5));
  }
  *global = viewport()->mapToGlobal(p);
  QTreeWidgetItem* hit = itemAt(p);
  const bool on_group = hit && hit == selected && hit != root_ && LabelRect(hit).contains(p);
  auto menu = std::make_unique<QMenu>();
  menu->setFont(ConsoleFont());
  const std::pair<int, const char*> entries[] = {{kCmdGroupAdd, "登録(&A)..."},
                                                 {kCmdGroupEdit, "編集(&E)..."},
                                                 {kCmdGroupDelete, "削除(&D)"},
                                                 {kCmdGroupEditDead, "編集(&E)..."},
                                                 {kCmdGroupDeleteDead, "削除(&D)"}};
  for (const auto& [id, text] : entries) {
    // On the selected group the working entries stay; elsewhere the stand-ins do.
    if (on_group ? (id == kCmdGroupEditDead || id == kCmdGroupDeleteDead)
                 : (id == kCmdGroupEdit || id == kCmdGroupDelete))
      continue;
    QAction* entry = menu->addAction(QString::fromUtf8(text));
    entry->setObjectName(QString("cmd%1").arg(id));
    entry->setData(id);
    entry->setEnabled(false);
    for (QAction* command : actions()) {
      if (command->data().toInt() != id) continue;
      entry->setEnabled(command->isEnabled());
      connect(entry, &QAction::triggered, command, &QAction::trigger);
    }
  }
  return menu;
}

void CTavolentGroupView::contextMenuEvent(QContextMenuEvent* e) {
  const bool keyboard = e->reason() == QContextMenuEvent::Keyboard;
  QPoint global;
  auto menu = ContextMenu(keyboard, viewport()->mapFrom(this, e->pos()), &global);
  menu->exec(global);
}

void CTavolentGroupView::SelectGroup(int32_t gid) {
  if (QTreeWidgetItem* item = ItemOf(gid)) setCurrentItem(item);
}

int CTavolentGroupView::SelectedGroup(engine::GroupRecord* out) const {
  *out = {};
  QTreeWidgetItem* item = currentItem();
  if (!item) return 2;
  if (item == root_) return 1;
  auto it = groups_.find(item->data(0, kGidRole).toInt());
  if (it == groups_.end()) return 2;
  *out = it->second;
  return 0;
}

std::vector<std::string> CTavolentGroupView::NamesBut(int32_t gid) const {
  std::vector<std::string> names;
  for (const auto& [id, g] : groups_)
    if (id != gid) names.push_back(g.GroupName);
  return names;
}

bool CTavolentGroupView::UpdateGroup(QTreeWidgetItem* item, const engine::GroupRecord& g) {
  {
    WaitCursor wait;
    auto db = ctx_.OpenDatabase();
    if (!db->UpdateGroup(g)) {
      ShowAppMessage(*ctx_.sink, 26);
      return false;
    }
    // The followers' quota files take the new limits once they are stored (the group by id).
    (void)RewriteQuotaFiles(*ctx_.settings, *db, ctx_.today(), *ctx_.sink, {g.GID, 0, true});  // shown
  }
  groups_[g.GID] = g;
  applying_ = true;
  item->setText(0, Q(g.GroupName));
  root_->sortChildren(0, Qt::AscendingOrder);
  applying_ = false;
  return true;
}

bool CTavolentGroupView::RenameItem(QTreeWidgetItem* item, const std::string& text) {
  if (text.empty() || !item) return false;
  if (item == root_) {
    if (text != ctx_.settings->GetRootName()) ctx_.settings->SetRootName(text);
    return true;
  }
  const int32_t gid = item->data(0, kGidRole).toInt();
  auto it = groups_.find(gid);
  if (it == groups_.end()) return false;
  if (text == it->second.GroupName) return true;
  // The group dialog's checks of a name: its length in bytes and the other groups' names.
  if (!ApplyVerdict(this, *ctx_.sink, CheckGroupName(text, NamesBut(gid)))) return false;
  engine::GroupRecord g = it->second;
  g.GroupName = text;
  if (!UpdateGroup(item, g)) return false;
  if (currentItem() == item) RefreshSelected();
  return true;
}

void CTavolentGroupView::AddGroupCommand() {
  if (ctx_.Locked() || !root_) return;
  CGroupPropertyDlg dialog(*ctx_.sink, NewGroupRecord(), NamesBut(-1), this);
  if (dialog.exec() != QDialog::Accepted) return;
  engine::GroupRecord g = dialog.value();
  g.GID = 0;
  {
    WaitCursor wait;
    auto db = ctx_.OpenDatabase();
    if (!db->AddGroup(&g)) {
      ShowAppMessage(*ctx_.sink, 25);
      return;
    }
  }
  AddItem(g);
  expandItem(root_);
}

void CTavolentGroupView::EditGroupCommand() {
  engine::GroupRecord g;
  if (ctx_.Locked() || SelectedGroup(&g) != 0) return;
  CGroupPropertyDlg dialog(*ctx_.sink, g, NamesBut(g.GID), this);
  if (dialog.exec() != QDialog::Accepted) return;
  engine::GroupRecord edited = dialog.value();
  if (edited.GroupName == g.GroupName && edited.MaxPages == g.MaxPages && edited.MaxPages_Color == g.MaxPages_Color)
    return;
  if (UpdateGroup(currentItem(), edited)) RefreshSelected();
}

void CTavolentGroupView::DeleteGroupCommand() {
  engine::GroupRecord g;
  if (ctx_.Locked() || SelectedGroup(&g) != 0 || (list_ && !list_->rows().empty())) return;
  if (ShowAppMessage(*ctx_.sink, 0) != kIdYes) return;
  {
    WaitCursor wait;
    auto db = ctx_.OpenDatabase();
    if (!db->DeleteGroup(&g)) {
      ShowAppMessage(*ctx_.sink, 27);
      return;
    }
  }
  groups_.erase(g.GID);
  delete currentItem();
}

void CTavolentGroupView::RefreshSelected() {
  engine::GroupRecord g;
  SelectedGroup(&g);
  if (list_) list_->RefreshUserList(g);
}

bool CTavolentGroupView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  if (trigger != QAbstractItemView::NoEditTriggers && ctx_.Locked()) return false;
  return QTreeWidget::edit(index, trigger, event);
}

void CTavolentGroupView::UpdateCommands(bool locked) {
  engine::GroupRecord g;
  const bool group = SelectedGroup(&g) == 0;
  // A group that still lists users cannot be deleted.
  EnableCommands(actions(), {{kCmdGroupAdd, !locked},
                             {kCmdGroupEdit, !locked && group},
                             {kCmdGroupDelete, !locked && group && (!list_ || list_->rows().empty())}});
}

}  // namespace zv::console
