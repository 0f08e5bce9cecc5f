#include "console/tavolent/admin_dialogs.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "console/core/environment.h"
#include "console/core/log_deletion.h"
#include "console/rules/user_list.h"
#include "console/tavolent/console_context.h"
#include "console/tavolent/dialogs.h"
#include "platform/base/ascii.h"

namespace zv::console {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

constexpr int kIdRole = Qt::UserRole;

QTreeWidget* ReportList(const char* id, const QStringList& titles) {
  auto* list = new QTreeWidget;
  list->setObjectName(id);
  list->setRootIsDecorated(false);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setAllColumnsShowFocus(true);
  list->setHeaderLabels(titles);
  list->header()->setSectionsClickable(true);
  return list;
}

QPushButton* Button(const char* text, const char* id) {
  auto* b = new QPushButton(text);
  b->setObjectName(id);
  return b;
}

// Takes two texts; gives whether the first sorts before the second without regard to ASCII
// case (bytes above 0x7F compared as they are).
bool LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(LowerAscii(x)) < static_cast<unsigned char>(LowerAscii(y));
  });
}

}  // namespace

// ---- print-log deletion ----

LogDeletionDialog::LogDeletionDialog(const ConsoleContext& ctx, std::function<void()> deleted, QWidget* parent)
    : QDialog(parent), ctx_(ctx), deleted_(std::move(deleted)) {
  setObjectName("d178");
  setFont(ConsoleFont());
  setWindowTitle("印刷ログの削除");
  setWindowIcon(ConsoleIcon());
  tree_ = new QTreeWidget;
  tree_->setObjectName("t1048");
  tree_->setHeaderHidden(true);
  list_ = ReportList("l1043", {"アカウント", "ユーザ名"});
  list_->header()->hide();
  auto* all = Button("全ユーザのログを一括削除(&A)", "b4");
  delete_ = Button("削除(&D)", "b5");
  auto* close = Button("閉じる(&C)", "b2");
  connect(all, &QPushButton::clicked, this, [this] { DeleteAll(); });
  connect(delete_, &QPushButton::clicked, this, [this] { DeleteSelected(); });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  connect(tree_, &QTreeWidget::currentItemChanged, this, [this] { ShowUsers(); });
  connect(list_, &QTreeWidget::itemSelectionChanged, this,
          [this] { delete_->setEnabled(!list_->selectedItems().isEmpty()); });
  connect(list_->header(), &QHeaderView::sectionClicked, this, [this](int c) { ClickColumn(c); });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(
      new QLabel("ログを削除するグループ、及びアカウントを選択して[削除]をクリックして下さい。\n"
                 "一度削除すると復活することは出来ませんので、慎重に操作して下さい。"));
  auto* panes = new QHBoxLayout;
  panes->addWidget(tree_, 2);
  panes->addWidget(list_, 3);
  layout->addLayout(panes, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(all);
  buttons->addStretch();
  buttons->addWidget(delete_);
  buttons->addWidget(close);
  layout->addLayout(buttons);
  resize(560, 360);
  FillTree();
  delete_->setEnabled(false);
}

void LogDeletionDialog::FillTree() {
  tree_->clear();
  auto* root = new QTreeWidgetItem({Q(ctx_.settings->GetRootName())});
  root->setIcon(0, style()->standardIcon(QStyle::SP_DriveNetIcon));
  root->setData(0, kIdRole, 0);
  tree_->addTopLevelItem(root);
  auto db = ctx_.OpenDatabase();
  groups_.clear();
  if (db->GetGroupInfo(&groups_, -1, 1)) {
    for (const auto& g : groups_) {
      auto* item = new QTreeWidgetItem(root, {Q(g.GroupName)});
      item->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
      item->setData(0, kIdRole, g.GID);
    }
  }
  root->sortChildren(0, Qt::AscendingOrder);
  root->setExpanded(true);
}

void LogDeletionDialog::ShowUsers() {
  QTreeWidgetItem* item = tree_->currentItem();
  const int32_t gid = item ? item->data(0, kIdRole).toInt() : 0;
  if (gid == 0) {
    users_.clear();
    list_->clear();
    list_->header()->hide();
  } else {
    std::vector<engine::UserRecord> found;
    auto db = ctx_.OpenDatabase();
    if (!db->GetLogHavingUser(&found, gid)) {
      ShowAppMessage(*ctx_.sink, 35);
      return;
    }
    users_.clear();
    for (const auto& u : found) {
      UserPageRow row;
      static_cast<engine::UserRecord&>(row) = u;
      users_.push_back(row);
    }
    SortUserRows(&users_, sort_column_, descending_, {}, {});
    list_->header()->show();
    FillList();
  }
  delete_->setEnabled(!list_->selectedItems().isEmpty());
}

void LogDeletionDialog::FillList() {
  std::vector<int32_t> selected;
  for (QTreeWidgetItem* item : list_->selectedItems()) selected.push_back(item->data(0, kIdRole).toInt());
  list_->clear();
  for (const auto& u : users_) {
    auto* item = new QTreeWidgetItem({Q(u.Account), Q(u.UserName)});
    item->setData(0, kIdRole, u.UID);
    list_->addTopLevelItem(item);
    if (std::find(selected.begin(), selected.end(), u.UID) != selected.end()) item->setSelected(true);
  }
  const int width = list_->viewport()->width();
  list_->setColumnWidth(0, width * 2 / 5);
  list_->setColumnWidth(1, width - width * 2 / 5);
}

void LogDeletionDialog::ClickColumn(int column) {
  if (users_.empty()) return;
  descending_ = DescendingAfterClick(column, sort_column_, descending_);
  sort_column_ = column;
  SortUserRows(&users_, sort_column_, descending_, {}, {});
  FillList();
}

void LogDeletionDialog::DeleteSelected() {
  if (ShowAppMessage(*ctx_.sink, 2) != kIdYes) return;
  WaitCursor wait;
  std::vector<engine::UserRecord> chosen;
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    if (!list_->topLevelItem(i)->isSelected()) continue;
    const int32_t uid = list_->topLevelItem(i)->data(0, kIdRole).toInt();
    auto it = std::find_if(users_.begin(), users_.end(), [&](const UserPageRow& r) { return r.UID == uid; });
    if (it != users_.end()) chosen.push_back(*it);
  }
  auto db = ctx_.OpenDatabase();
  const bool deleted = DeleteUsersPrintLog(*ctx_.settings, *db, chosen, groups_, ctx_.today(), *ctx_.sink);
  if (deleted && deleted_) deleted_();
  ShowUsers();
}

void LogDeletionDialog::DeleteAll() {
  if (ShowAppMessage(*ctx_.sink, 3) != kIdYes) return;
  WaitCursor wait;
  auto db = ctx_.OpenDatabase();
  const bool deleted = DeleteAllPrintLogs(*ctx_.settings, *db, ctx_.today(), *ctx_.sink);
  if (deleted && deleted_) deleted_();
  ShowUsers();
}

// ---- group selection ----

CGroupSelectDlg::CGroupSelectDlg(const ConsoleContext& ctx, const engine::GroupRecord& preset,
                                 std::function<void(const engine::GroupRecord&, int)> changed, QWidget* parent)
    : QDialog(parent), ctx_(ctx), changed_(std::move(changed)) {
  setObjectName("d177");
  setFont(ConsoleFont());
  setWindowTitle("グループの選択");
  list_ = ReportList("l1044", {"グループ名", "印刷可能枚数-カラー", "印刷可能枚数-モノクロ"});
  auto* add = Button("追加(&A)...", "b3");
  auto* edit = Button("編集(&E)...", "b4");
  auto* remove = Button("削除(&D)", "b5");
  connect(add, &QPushButton::clicked, this, [this] { AddGroup(); });
  connect(edit, &QPushButton::clicked, this, [this] { EditGroup(); });
  connect(remove, &QPushButton::clicked, this, [this] { DeleteGroups(); });
  connect(list_->header(), &QHeaderView::sectionClicked, this, [this](int c) { ClickColumn(c); });
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  ok_ = box->button(QDialogButtonBox::Ok);
  ok_->setObjectName("b1");
  box->button(QDialogButtonBox::Cancel)->setObjectName("b2");
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(list_, &QTreeWidget::itemSelectionChanged, this, [this, edit, remove] {
    const size_t n = Selected().size();
    ok_->setEnabled(n == 1);
    edit->setEnabled(n == 1);
    remove->setEnabled(n >= 1);
  });
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { accept(); });

  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  row->addWidget(list_, 1);
  auto* side = new QVBoxLayout;
  side->addWidget(add);
  side->addWidget(edit);
  side->addWidget(remove);
  side->addStretch();
  row->addLayout(side);
  layout->addLayout(row, 1);
  layout->addWidget(box);
  resize(480, 300);

  auto db = ctx_.OpenDatabase();
  if (!db->GetGroupInfo(&groups_, -1, 1)) groups_.clear();
  std::vector<int32_t> select;
  if (preset.GID != 0) select.push_back(preset.GID);
  Fill(select);
  ok_->setEnabled(Selected().size() == 1);
  edit->setEnabled(Selected().size() == 1);
  remove->setEnabled(!Selected().empty());
}

std::vector<int32_t> CGroupSelectDlg::Selected() const {
  std::vector<int32_t> out;
  for (int i = 0; i < list_->topLevelItemCount(); ++i)
    if (list_->topLevelItem(i)->isSelected()) out.push_back(list_->topLevelItem(i)->data(0, kIdRole).toInt());
  return out;
}

std::vector<std::string> CGroupSelectDlg::NamesBut(int32_t gid) const {
  std::vector<std::string> names;
  for (const auto& g : groups_)
    if (g.GID != gid) names.push_back(g.GroupName);
  return names;
}

void CGroupSelectDlg::Fill(const std::vector<int32_t>& select) {
  auto key = [this](const engine::GroupRecord& a, const engine::GroupRecord& b) {
    switch (sort_column_) {
      case 1:
        return a.MaxPages_Color < b.MaxPages_Color;
      case 2:
        return a.MaxPages < b.MaxPages;
      default:
        return LessNoCase(a.GroupName, b.GroupName);
    }
  };
  std::stable_sort(groups_.begin(), groups_.end(), [&](const engine::GroupRecord& a, const engine::GroupRecord& b) {
    return descending_ ? key(b, a) : key(a, b);
  });
  list_->clear();
  for (const auto& g : groups_) {
    auto* item = new QTreeWidgetItem({Q(g.GroupName), QString::asprintf("%4ld枚", static_cast<long>(g.MaxPages_Color)),
                                      QString::asprintf("%4ld枚", static_cast<long>(g.MaxPages))});
    item->setData(0, kIdRole, g.GID);
    for (int c : {1, 2}) item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    list_->addTopLevelItem(item);
    if (std::find(select.begin(), select.end(), g.GID) != select.end()) {
      item->setSelected(true);
      list_->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
    }
  }
  list_->header()->resizeSections(QHeaderView::ResizeToContents);
}

void CGroupSelectDlg::ClickColumn(int column) {
  if (groups_.size() < 2) return;
  descending_ = DescendingAfterClick(column, sort_column_, descending_);
  sort_column_ = column;
  Fill(Selected());
}

void CGroupSelectDlg::AddGroup() {
  CGroupPropertyDlg dialog(*ctx_.sink, NewGroupRecord(), NamesBut(-1), this);
  if (dialog.exec() != QDialog::Accepted) return;
  engine::GroupRecord g = dialog.value();
  g.GID = 0;
  auto db = ctx_.OpenDatabase();
  if (!db->AddGroup(&g)) {
    ShowAppMessage(*ctx_.sink, 25);
    return;
  }
  if (changed_) changed_(g, 1);
  groups_.push_back(g);
  Fill({g.GID});
}

void CGroupSelectDlg::EditGroup() {
  const auto selected = Selected();
  if (selected.size() != 1) return;
  auto it =
      std::find_if(groups_.begin(), groups_.end(), [&](const engine::GroupRecord& g) { return g.GID == selected[0]; });
  if (it == groups_.end()) return;
  CGroupPropertyDlg dialog(*ctx_.sink, *it, NamesBut(it->GID), this);
  if (dialog.exec() != QDialog::Accepted) return;
  const engine::GroupRecord g = dialog.value();
  if (g.GroupName == it->GroupName && g.MaxPages == it->MaxPages && g.MaxPages_Color == it->MaxPages_Color) return;
  auto db = ctx_.OpenDatabase();
  if (!db->UpdateGroup(g)) {
    ShowAppMessage(*ctx_.sink, 26);
    return;
  }
  *it = g;
  // The followers' quota files change only once the new limits are stored.
  (void)RewriteQuotaFiles(*ctx_.settings, *db, ctx_.today(), *ctx_.sink, {g.GID, 0, true});
  if (changed_) changed_(g, 2);
  Fill({g.GID});
}

void CGroupSelectDlg::DeleteGroups() {
  const auto selected = Selected();
  if (selected.empty() || ShowAppMessage(*ctx_.sink, 0) != kIdYes) return;
  WaitCursor wait;
  auto db = ctx_.OpenDatabase();
  bool kept = false;
  for (int32_t gid : selected) {
    std::vector<UserPageRow> users;
    if (!db->GetGroupUser(&users, gid)) {
      ShowAppMessage(*ctx_.sink, 32);
      break;
    }
    if (!users.empty()) {
      kept = true;
      continue;
    }
    auto it = std::find_if(groups_.begin(), groups_.end(), [&](const engine::GroupRecord& g) { return g.GID == gid; });
    if (it == groups_.end()) continue;
    engine::GroupRecord g = *it;
    if (!db->DeleteGroup(&g)) {
      ShowAppMessage(*ctx_.sink, 27);
      continue;
    }
    groups_.erase(it);
    if (changed_) changed_(g, 3);
  }
  if (kept) ShowAppMessage(*ctx_.sink, 28);
  Fill(Selected());
}

void CGroupSelectDlg::accept() {
  const auto selected = Selected();
  if (selected.size() != 1) return;
  auto it =
      std::find_if(groups_.begin(), groups_.end(), [&](const engine::GroupRecord& g) { return g.GID == selected[0]; });
  if (it == groups_.end()) return;
  chosen_ = *it;
  QDialog::accept();
}

}  // namespace zv::console
