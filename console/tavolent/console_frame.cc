#include "console/tavolent/console_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <QShowEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QStyleOptionHeader>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolBar>
#include <algorithm>

#include "console/core/environment.h"
#include "console/core/quota_files.h"
#include "console/graph/chart_window.h"
#include "console/tavolent/account_import.h"
#include "console/tavolent/admin_dialogs.h"
#include "console/tavolent/dialogs.h"
#include "console/tavolent/environment_sheet.h"
#include "console/tavolent/storage_folder.h"
#include "platform/help/help_page.h"
#include "platform/spool/spool.h"

namespace zv::console {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The in-place editor of the tree and the list: at most 255 characters, as the dialogs'
// name edits.
class NameEditDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* line = qobject_cast<QLineEdit*>(editor)) line->setMaxLength(255);
    return editor;
  }
};
std::string S(const QString& s) { return s.toStdString(); }

constexpr int kGidRole = Qt::UserRole;
constexpr int kUidRole = Qt::UserRole;

// Shows the wait cursor for the life of the object.
struct WaitCursor {
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

// Takes a user dialog, the context and its owner; lets the dialog's group button run the
// group selection, whose stored changes reach the main frame's group tree.
void OfferGroupChoice(CUserPropertyDlg& dialog, const ConsoleContext& ctx, QWidget* owner) {
  dialog.SetGroupChooser([&ctx, owner](const engine::GroupRecord& current) -> std::optional<engine::GroupRecord> {
    CGroupSelectDlg select(
        ctx, current,
        [owner](const engine::GroupRecord& g, int op) {
          if (auto* frame = qobject_cast<CMainFrame*>(owner->window())) frame->ForwardGroupChange(&g, op);
        },
        owner);
    if (select.exec() != QDialog::Accepted) return std::nullopt;
    return select.chosen();
  });
  OfferAccountPicker(dialog, ctx, owner);
}

}  // namespace

// ---- context ----

std::unique_ptr<CConsoleDatabase> ConsoleContext::OpenDatabase() const {
  std::string dsn, uid, pwd;
  settings->GetDSN(&dsn);
  settings->GetUID(&uid);
  settings->GetPWD(&pwd);
  return std::make_unique<CConsoleDatabase>(dsn, uid, pwd);
}

bool ConsoleContext::Locked() const {
  int32_t locked = 1;
  settings->GetLogEnv1(&locked);
  return locked != 0;
}

std::string ConsoleContext::LockPassword(bool* stored) const {
  std::string scrambled;
  *stored = settings->GetLogEnv2(&scrambled);
  return *stored ? ScrambleLockPassword(scrambled) : std::string();
}

// ---- group tree ----

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

// ---- user list ----

CTavolentUserView::CTavolentUserView(const ConsoleContext& ctx, QWidget* parent) : QTreeWidget(parent), ctx_(ctx) {
  setObjectName("userList");
  setFont(ConsoleFont());
  setItemDelegate(new NameEditDelegate(this));
  setRootIsDecorated(false);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setAllColumnsShowFocus(true);
  setContextMenuPolicy(Qt::DefaultContextMenu);
  setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
  header()->setSectionsClickable(true);
  header()->setStretchLastSection(false);
  header()->hide();
  connect(header(), &QHeaderView::sectionClicked, this, [this](int c) { ClickColumn(c); });
  connect(this, &QTreeWidget::itemSelectionChanged, this, [this] {
    if (!filling_) emit statusChanged(Q(StatusText()));
  });
  connect(this, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
    if (filling_ || column != 0) return;
    const int32_t uid = item->data(0, kUidRole).toInt();
    std::string text = S(item->text(0));
    QTimer::singleShot(0, this, [this, uid, text] {
      if (!RenameAccount(uid, text)) Fill(false, SelectedUids());
    });
  });
  connect(this, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem*, int) {
    if (!ctx_.Locked()) QTimer::singleShot(0, this, [this] { EditUserCommand(); });
  });
}

std::unique_ptr<QMenu> CTavolentUserView::ContextMenu(bool keyboard, const QPoint& at, QPoint* global) {
  *global = keyboard ? mapToGlobal(QPoint(5, 5)) : viewport()->mapToGlobal(at);
  auto menu = std::make_unique<QMenu>();
  menu->setFont(ConsoleFont());
  menu->addActions(actions());
  return menu;
}

void CTavolentUserView::contextMenuEvent(QContextMenuEvent* e) {
  QPoint global;
  auto menu = ContextMenu(e->reason() == QContextMenuEvent::Keyboard, viewport()->mapFrom(this, e->pos()), &global);
  menu->exec(global);
}

std::vector<engine::UserRecord> CTavolentUserView::SelectedUsers() const {
  std::vector<engine::UserRecord> out;
  for (int32_t uid : SelectedUids()) {
    auto row = std::find_if(rows_.begin(), rows_.end(), [&](const UserPageRow& r) { return r.UID == uid; });
    if (row != rows_.end()) out.push_back(*row);
  }
  return out;
}

bool CTavolentUserView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  if (trigger != QAbstractItemView::NoEditTriggers && (ctx_.Locked() || index.column() != 0)) return false;
  return QTreeWidget::edit(index, trigger, event);
}

LimitContext CTavolentUserView::Limits() const {
  LimitContext c;
  c.system = SystemLimits(*ctx_.settings);
  c.group = {group_.MaxPages, group_.MaxPages_Color};
  return c;
}

DayRange CTavolentUserView::ListRange() const {
  auto span = ctx_.settings->GetDisplaySpan();
  DisplayPeriod d{span.kind, span.selector, span.before, span.start, span.end};
  int32_t week_flag = 0;
  ctx_.settings->GetWeekFlag(&week_flag);
  DayRange r = DisplayPeriodRange(d, ctx_.today(), week_flag, limit_);
  // The standard period without a limit period counts every row up to its end.
  if ((span.kind < 1 || span.kind > 4) && limit_.index == 0) r.first = 0;
  return r;
}

void CTavolentUserView::StoreWidths() {
  if (columnCount() == 0 || header()->isHidden()) return;
  std::vector<int> widths;
  for (int i = 0; i < columnCount(); ++i) widths.push_back(columnWidth(i));
  ctx_.settings->SetColumnWidths(widths);
}

void CTavolentUserView::RefreshUserList(const engine::GroupRecord& group) {
  StoreWidths();
  group_ = group;
  if (group_.GID == 0) {
    filling_ = true;
    clear();
    setColumnCount(0);
    header()->hide();
    filling_ = false;
    rows_.clear();
    printer_ids_.clear();
    printer_names_.clear();
    return;
  }
  WaitCursor wait;
  auto db = ctx_.OpenDatabase();
  std::vector<UserPageRow> rows;
  if (!db->GetGroupUser(&rows, group_.GID)) {
    ShowAppMessage(*ctx_.sink, 32);
    return;
  }
  std::vector<engine::PrinterRecord> printers;
  if (!rows.empty()) {
    const DayRange r = ListRange();
    if (!db->GetLogPrinters(&printers, rows, r.first, r.last) || !db->SumUserPages(&rows, r.first, r.last)) {
      ShowAppMessage(*ctx_.sink, 37);
      return;
    }
  }
  printer_ids_.clear();
  printer_names_.clear();
  for (const auto& p : printers) {
    printer_ids_.push_back(p.PID);
    printer_names_.push_back(p.PrinterName);
  }
  CompletePrinterCells(&rows, printer_ids_);
  rows_ = std::move(rows);
  SortRows();
  Fill(true, {});
}

void CTavolentUserView::SortRows() {
  int32_t column = 0, direction = 0;
  ctx_.settings->GetListOrder(&column, &direction);
  if (column > 4) column = 0;
  SortUserRows(&rows_, column, direction != 0, Limits(), printer_ids_);
}

void CTavolentUserView::Fill(bool new_columns, const std::vector<int32_t>& select) {
  filling_ = true;
  const LimitContext limits = Limits();
  if (new_columns) {
    clear();
    const auto titles = UserColumnTitles(printer_names_);
    setColumnCount(static_cast<int>(titles.size()));
    QStringList labels;
    for (const auto& t : titles) labels << Q(t);
    setHeaderLabels(labels);
    header()->show();
    // The administrator's widths stay as stored; a column beyond them opens wide enough
    // for its title.
    const auto widths = ctx_.settings->GetColumnWidths();
    for (size_t i = 0; i < titles.size(); ++i) {
      int width = ColumnWidth(widths, i);
      if (i >= widths.size()) width = std::max(width, TitleWidth(Q(titles[i])));
      setColumnWidth(static_cast<int>(i), width);
    }
  } else {
    clear();
  }
  for (const auto& row : rows_) {
    auto* item = new QTreeWidgetItem(this);
    item->setData(0, kUidRole, row.UID);
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    for (int c = 0; c < columnCount(); ++c) {
      item->setText(c, Q(UserCellText(row, c, limits, printer_ids_)));
      // Counts stand at the right, so that their digits line up in a proportional face
      // (whose blanks are narrower than digits).
      if (c >= 2) item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    }
    if (std::find(select.begin(), select.end(), row.UID) != select.end()) item->setSelected(true);
  }
  // The total column's text is long: a new column is widened to show it whole.
  if (new_columns && columnCount() > 4)
    setColumnWidth(4, std::max({columnWidth(4), sizeHintForColumn(4), header()->sectionSizeHint(4)}));
  filling_ = false;
  emit statusChanged(Q(StatusText()));
}

int CTavolentUserView::TitleWidth(const QString& title) const {
  QStyleOptionHeader option;
  option.initFrom(header());
  option.text = title;
  option.fontMetrics = header()->fontMetrics();
  return header()->style()->sizeFromContents(QStyle::CT_HeaderSection, &option, QSize(), header()).width();
}

int CTavolentUserView::WholeColumnsWidth(int printers) const {
  const auto titles = UserColumnTitles(std::vector<std::string>(printers));
  int width = 0;
  for (size_t i = 0; i < titles.size(); ++i) width += std::max(ColumnWidth({}, i), TitleWidth(Q(titles[i])));
  // The total column shows its longest cell whole.
  const int total = fontMetrics().horizontalAdvance(QString::fromUtf8("9999枚/9999枚(999件)")) + 12;
  width += std::max(0, total - std::max(ColumnWidth({}, 4), TitleWidth(Q(titles[4]))));
  return width + 2 * frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent);
}

std::vector<int32_t> CTavolentUserView::SelectedUids() const {
  std::vector<int32_t> out;
  for (int i = 0; i < topLevelItemCount(); ++i)
    if (topLevelItem(i)->isSelected()) out.push_back(topLevelItem(i)->data(0, kUidRole).toInt());
  return out;
}

void CTavolentUserView::SelectUids(const std::vector<int32_t>& uids) {
  for (int i = 0; i < topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = topLevelItem(i);
    item->setSelected(std::find(uids.begin(), uids.end(), item->data(0, kUidRole).toInt()) != uids.end());
  }
}

void CTavolentUserView::ClickColumn(int column) {
  if (rows_.size() < 2) return;
  int32_t sort_column = 0, direction = 0;
  ctx_.settings->GetListOrder(&sort_column, &direction);
  const bool descending = DescendingAfterClick(column, sort_column, direction != 0);
  ctx_.settings->SetListOrder(column, descending ? 1 : 0);
  SortUserRows(&rows_, column, descending, Limits(), printer_ids_);
  Fill(false, SelectedUids());
}

std::vector<KnownUser> CTavolentUserView::LiveUsers(std::vector<engine::UserRecord>* records) const {
  std::vector<engine::UserRecord> users;
  auto db = ctx_.OpenDatabase();
  db->GetUserInfo(&users, 0, 1);
  std::vector<KnownUser> known;
  for (const auto& u : users) known.push_back({u.Account, u.UserName});
  if (records) *records = std::move(users);
  return known;
}

std::vector<engine::GroupRecord> CTavolentUserView::LiveGroups() const {
  std::vector<engine::GroupRecord> groups;
  auto db = ctx_.OpenDatabase();
  db->GetGroupInfo(&groups, 0, 1);
  return groups;
}

bool CTavolentUserView::RenameAccount(int32_t uid, const std::string& account) {
  auto row = std::find_if(rows_.begin(), rows_.end(), [&](const UserPageRow& r) { return r.UID == uid; });
  if (row == rows_.end() || account.empty() || account == row->Account) return false;
  // The user dialog's checks of an account: its length in bytes, then the other users'.
  if (!ApplyVerdict(this, *ctx_.sink, CheckAccountLength(account))) return false;
  WaitCursor wait;
  std::vector<engine::UserRecord> users;
  LiveUsers(&users);
  std::vector<KnownUser> others;
  for (const auto& u : users)
    if (u.UID != uid) others.push_back({u.Account, u.UserName});
  if (!ApplyVerdict(this, *ctx_.sink, CheckAccountTaken(account, {}, others))) return false;
  engine::UserRecord record = *row;
  record.Account = account;
  auto db = ctx_.OpenDatabase();
  if (!db->UpdateUser(record)) {
    ShowAppMessage(*ctx_.sink, 30);
    return false;
  }
  row->Account = account;
  SortRows();
  Fill(false, {uid});
  return true;
}

void CTavolentUserView::AddUserCommand() {
  if (ctx_.Locked()) return;
  CUserPropertyDlg dialog(*ctx_.sink, NewUserRecord(group_.GID), SystemLimits(*ctx_.settings), LiveGroups(),
                          LiveUsers(nullptr), this);
  OfferGroupChoice(dialog, ctx_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  engine::UserRecord user = dialog.value();
  user.UID = 0;
  {
    WaitCursor wait;
    auto db = ctx_.OpenDatabase();
    if (!db->AddUser(&user)) {
      ShowAppMessage(*ctx_.sink, 29);
      return;
    }
  }
  if (user.GID != group_.GID || group_.GID == 0) return;
  UserPageRow row;
  static_cast<engine::UserRecord&>(row) = user;
  rows_.push_back(row);
  CompletePrinterCells(&rows_, printer_ids_);
  SortRows();
  Fill(false, SelectedUids());
}

void CTavolentUserView::EditUserCommand() {
  const auto selected = SelectedUids();
  if (ctx_.Locked() || selected.size() != 1) return;
  auto row = std::find_if(rows_.begin(), rows_.end(), [&](const UserPageRow& r) { return r.UID == selected[0]; });
  if (row == rows_.end()) return;
  CUserPropertyDlg dialog(*ctx_.sink, *row, SystemLimits(*ctx_.settings), LiveGroups(), LiveUsers(nullptr), this);
  OfferGroupChoice(dialog, ctx_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  engine::UserRecord user = dialog.value();
  {
    WaitCursor wait;
    auto db = ctx_.OpenDatabase();
    if (!db->UpdateUser(user)) {
      ShowAppMessage(*ctx_.sink, 30);
      Fill(false, SelectedUids());
      return;
    }
    (void)RewriteQuotaFiles(*ctx_.settings, *db, ctx_.today(), *ctx_.sink, {0, user.UID});  // failures shown
  }
  // The group selection may have rebuilt the rows while the dialog was open.
  row = std::find_if(rows_.begin(), rows_.end(), [&](const UserPageRow& r) { return r.UID == user.UID; });
  if (row == rows_.end()) {
    Fill(false, {});
  } else if (user.GID == group_.GID) {
    static_cast<engine::UserRecord&>(*row) = user;
    SortRows();
    Fill(false, {user.UID});
  } else {
    rows_.erase(row);
    Fill(false, {});
  }
}

void CTavolentUserView::DeleteUsersCommand() {
  const auto uids = SelectedUids();
  if (ctx_.Locked() || uids.empty()) return;
  if (ShowAppMessage(*ctx_.sink, 1) != kIdYes) return;
  WaitCursor wait;
  auto db = ctx_.OpenDatabase();
  if (!db->DeleteUsers(uids)) {
    ShowAppMessage(*ctx_.sink, 31);
    Fill(false, uids);
    return;
  }
  // The clients learn of the deletion from the cleared quota files, written only once the
  // deletion is committed.
  for (const auto& r : rows_) {
    if (std::find(uids.begin(), uids.end(), r.UID) == uids.end()) continue;
    (void)WriteLimitAnswerFiles(*ctx_.settings, r.Account, 0, 0, QuotaWriteMode::kCleared, 0, 0, limit_, ctx_.today(),
                                ctx_.sink);
  }
  std::erase_if(rows_, [&](const UserPageRow& r) { return std::find(uids.begin(), uids.end(), r.UID) != uids.end(); });
  Fill(false, {});
}

std::string CTavolentUserView::StatusText() const {
  const auto uids = SelectedUids();
  if (uids.empty()) return {};
  auto row = std::find_if(rows_.begin(), rows_.end(), [&](const UserPageRow& r) { return r.UID == uids[0]; });
  if (row == rows_.end()) return {};
  const engine::UserLimits limits = RowLimits(*row, Limits());
  if (limits.mono <= 0) return UserStatusText(row->Account, limits, 0, 0);
  // The pages count in the limit period: its last day only for a one-day period, every
  // row up to its end without a period.
  int32_t first = limit_.start, last = limit_.end;
  if (limit_.index == 1) first = last;
  if (limit_.index == 0) first = 0;
  std::vector<UserPageRow> one(1);
  one[0].UID = row->UID;
  auto db = ctx_.OpenDatabase();
  if (!db->SumUserPagesOnly(&one, first, last)) return {};
  return UserStatusText(row->Account, limits, one[0].MonoPages, one[0].ColorPages);
}

// ---- main frame ----

CMainFrame::CMainFrame(const ConsoleContext& ctx, QWidget* parent) : QMainWindow(parent), ctx_(ctx) {
  setObjectName("mainFrame");
  setWindowTitle(kConsoleTitle);
  setFont(ConsoleFont());
  setMinimumSize(300, 150);
  const auto rect = ctx_.settings->GetMainRect();
  if (!rect.Empty() && rect.right > rect.left && rect.bottom > rect.top)
    setGeometry(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);

  splitter_ = new QSplitter(this);
  splitter_->setObjectName("splitter");
  tree_ = new CTavolentGroupView(ctx_, splitter_);
  list_ = new CTavolentUserView(ctx_, splitter_);
  tree_->set_user_list(list_);
  // Without a stored placement the window opens wide enough for the tree and the list's
  // columns with three printers, each whole (within the screen).
  if (rect.Empty() || rect.right <= rect.left || rect.bottom <= rect.top) {
    const int tree = ctx_.settings->GetTreeWidth() > 0 ? ctx_.settings->GetTreeWidth() : 200;
    int width = tree + splitter_->handleWidth() + list_->WholeColumnsWidth(3);
    if (QScreen* screen = QGuiApplication::primaryScreen())
      width = std::min(width, screen->availableGeometry().width());
    resize(width, 480);
  }
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);
  setCentralWidget(splitter_);

  auto* bar = addToolBar("ツールバー");
  bar->setObjectName("t59392");
  bar->setMovable(true);
  bar->setVisible(ctx_.settings->GetToolBar() != 0);
  struct Def {
    int id;
    const char* text;
    bool checkable, on_bar;
    // The status-bar prompt shown while the entry is highlighted and the tool tip, joined
    // by "\n".
    const char* prompt;
  };
  const Def defs[] = {
      {kCmdGroupAdd, "グループの登録", false, true, "新しいグループを登録します\nグループの登録"},
      {kCmdGroupEdit, "グループの編集", false, true, "選択されているグループの設定を変更します\nグループの編集"},
      {kCmdGroupDelete, "グループの削除", false, true, "選択されているグループを削除します\nグループの削除"},
      {kCmdUserAdd, "ユーザの登録", false, true, "新しいユーザを登録します\nユーザの登録"},
      {kCmdUserEdit, "ユーザの編集", false, true, "選択されているユーザの設定を変更します\nユーザの編集"},
      {kCmdUserDelete, "ユーザの削除", false, true, "選択されているユーザを削除します\nユーザの削除"},
      {kCmdGraph, "グラフ", false, true, "選択されているユーザの印刷枚数をグラフで表示します\nグラフ"},
      {kCmdLockToggle, "設定情報のロック", true, true, "設定情報をロックまたは解除します\n設定情報のロック"},
      {kCmdLock, "ロック(&K)...", false, false, "設定情報をロックします\nロック"},
      {kCmdUnlock, "ロックの解除(&U)...", false, false, "設定情報のロックを解除します\nロックの解除"},
      {kCmdPassword, "パスワードの設定(&P)...", false, true, "ロックのパスワードを設定します\nパスワードの設定"},
      {kCmdThumbnail, "強制ｻﾑﾈｲﾙ印刷の設定(&T)...", false, true, "強制ｻﾑﾈｲﾙ印刷の設定\nｻﾑﾈｲﾙ印刷設定"},
      {kCmdStorage, "保存フォルダの変更(&F)...", false, false, "印刷ﾛｸﾞを保存するﾌｫﾙﾀﾞを変更\n保存ﾌｫﾙﾀﾞ変更"},
      {kCmdDeleteLog, "印刷ログの削除(&D)...", false, false, "印刷ログを削除します\n印刷ログの削除"},
      {kCmdSpanStandard, "標準(&N)", true, false, "印刷制限範囲内の印刷枚数、印刷件数を表示\n標準"},
      {kCmdSpanMonth, "今月(&M)", true, false, "今月分の印刷枚数、印刷件数を表示\n今月"},
      {kCmdSpanWeek, "今週(&W)", true, false, "今週分の印刷枚数、印刷件数を表示\n今週"},
      {kCmdSpanToday, "今日(&T)", true, false, "今日の印刷枚数、印刷件数を表示\n今日"},
      {kCmdSpanChosen, "期間指定(&O)...", true, true, "指定された期間の印刷枚数、印刷件数を表示\n期間指定"},
      {kCmdLimitSettings, "印刷制限(&L)...", false, false, "印刷制限に関する設定\n印刷制限"},
      {kCmdGeneralSettings, "全般(&G)...", false, false, "運用に必要な動作環境の設定\n全般"},
      {kCmdDomainImport, "ドメイン読込(&R)...", false, false, "ﾄﾞﾒｲﾝに登録されているﾕｰｻﾞを一括登録\nﾄﾞﾒｲﾝ読込"},
      {kCmdHelp, "ヘルプ", false, true, "ヘルプを表示します\nヘルプ"},
      {kCmdAbout, "バージョン情報", false, false, "プログラムの情報とバージョンを表示します\nバージョン情報"},
      {kCmdToolBar, "ツール バー(&T)", true, false, "ツール バーの表示/非表示を切り替えます\nツール バー"},
      {kCmdStatusBar, "ステータス バー(&S)", true, false,
       "ステータス バーの表示/非表示を切り替えます\nステータス バー"},
  };
  for (const Def& d : defs) {
    QAction* a = AddAction(d.id, d.text, d.checkable);
    SetCommandPrompt(a, QString::fromUtf8(d.prompt));
    if (d.on_bar) bar->addAction(a);
  }
  actions_[kCmdToolBar]->setChecked(bar->isVisibleTo(this));
  connect(bar, &QToolBar::visibilityChanged, actions_[kCmdToolBar], &QAction::setChecked);
  // The menus reach every command, the ones the tool bar lacks included.
  const std::pair<const char*, std::vector<int>> menus[] = {
      {"グループ(&G)", {kCmdGroupAdd, kCmdGroupEdit, kCmdGroupDelete}},
      {"ユーザ(&U)", {kCmdUserAdd, kCmdUserEdit, kCmdUserDelete, 0, kCmdGraph}},
      {"表示(&V)", {kCmdSpanStandard, kCmdSpanMonth, kCmdSpanWeek, kCmdSpanToday, kCmdSpanChosen}},
      {"設定(&S)",
       {kCmdLimitSettings, kCmdGeneralSettings, kCmdThumbnail, kCmdStorage, kCmdDeleteLog, 0, kCmdLock, kCmdUnlock,
        kCmdPassword, 0, kCmdDomainImport}},
      {"ヘルプ(&H)", {kCmdHelp, kCmdAbout}},
  };
  for (const auto& [title, ids] : menus) {
    QMenu* menu = menuBar()->addMenu(QString::fromUtf8(title));
    menu->installEventFilter(this);
    connect(menu, &QMenu::aboutToHide, statusBar(), &QStatusBar::clearMessage);
    for (int id : ids) {
      if (id == 0) menu->addSeparator();
      else menu->addAction(actions_[id]);
    }
    if (ids.front() == kCmdSpanStandard) {
      menu->addSeparator();
      menu->addAction(actions_[kCmdToolBar]);
      menu->addAction(actions_[kCmdStatusBar]);
    }
  }
  for (int id : {kCmdGroupAdd, kCmdGroupEdit, kCmdGroupDelete}) tree_->addAction(actions_[id]);
  for (int id : {kCmdUserAdd, kCmdUserEdit, kCmdUserDelete, kCmdGraph}) list_->addAction(actions_[id]);

  statusBar()->setObjectName("s59393");
  statusBar()->setVisible(ctx_.settings->GetStatusBar() != 0);
  actions_[kCmdStatusBar]->setChecked(statusBar()->isVisibleTo(this));
  period_pane_ = new QLabel;
  period_pane_->setObjectName("pane0");
  pages_pane_ = new QLabel;
  pages_pane_->setObjectName("pane108");
  pages_pane_->setFixedWidth(PagesPaneWidth({}));
  // Pane 0 stretches; a highlighted menu entry's prompt covers it while pane 1 stays.
  statusBar()->addWidget(period_pane_, 1);
  statusBar()->addPermanentWidget(pages_pane_);
  connect(list_, &CTavolentUserView::statusChanged, this, [this](const QString& text) { SetStatusTexts(1, text); });
  connect(tree_, &CTavolentGroupView::selectionCleared, this, [this] { SetStatusTexts(1, {}); });
  connect(this, &CMainFrame::rebuildRequested, tree_, [this] {
    tree_->RefreshSelected();
    SetStatusTexts(1, {});
  });
  setWindowIcon(ConsoleIcon());

  UpdatePeriodText();
  tree_->FillGroupTree();
  UpdateCommands();
  // The panes and the enabling follow the registry and the database at least every five
  // seconds, also when another console changed them.
  timer_ = new QTimer(this);
  timer_->setInterval(5000);
  connect(timer_, &QTimer::timeout, this, [this] {
    UpdatePeriodText();
    UpdateCommands();
  });
  timer_->start();
  connect(tree_, &QTreeWidget::currentItemChanged, this, [this] { UpdateCommands(); });
  connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateCommands(); });
  graph_source = [this]() -> std::unique_ptr<GraphSource> {
    std::string dsn, uid, pwd;
    ctx_.settings->GetDSN(&dsn);
    ctx_.settings->GetUID(&uid);
    ctx_.settings->GetPWD(&pwd);
    return std::make_unique<DatabaseGraphSource>(dsn, uid, pwd);
  };
  storage_dialog = [this](QWidget* owner) { RunStorageFolderDialog(owner, *ctx_.settings, *ctx_.sink); };
}

CMainFrame::~CMainFrame() {
  // The graph windows go first: they raise this window as they close.
  for (const auto& g : graphs_) delete g.data();
  if (hwnd_) winmsg::DestroyWindow(hwnd_);
}

int CMainFrame::ForwardGroupChange(const engine::GroupRecord* record, int operation) {
  return tree_ ? tree_->ApplyGroupChange(record, operation) : 0;
}

int CMainFrame::PagesPaneWidth(const QString& text) const {
  return std::max(statusBar()->fontMetrics().horizontalAdvance(text), 150) + 20;
}

void CMainFrame::SetStatusTexts(int which, const QString& text) {
  if (which == 0 || which == -1) UpdatePeriodText();
  if (which != 1 && which != -1) return;
  pages_text_ = text;
  pages_pane_->setFixedWidth(PagesPaneWidth(pages_text_));
  pages_pane_->setText(pages_text_);
}

namespace {

// What a graph window reads: its print-log source and its document. A child of the window,
// it goes with it, after the window's view.
struct GraphData : QObject {
  std::unique_ptr<GraphSource> source;
  std::unique_ptr<CChartDoc> doc;
};

}  // namespace

CChartFrame* CMainFrame::OpenGraphWindow() {
  const auto users = list_->SelectedUsers();
  if (users.empty()) return nullptr;
  WaitCursor wait;
  auto data = std::make_unique<GraphData>();
  data->source = graph_source ? graph_source() : nullptr;
  if (!data->source) {
    ShowAppMessage(*ctx_.sink, 45);
    return nullptr;
  }
  CConsoleSettings* settings = ctx_.settings;
  auto today = ctx_.today;
  data->doc = std::make_unique<CChartDoc>(*data->source, *ctx_.sink,
                                          [settings, today] { return ReadGraphEnvironment(*settings, today()); });
  data->doc->LoadSettings(settings);
  auto* frame = new CChartFrame(*data->doc, settings, *ctx_.sink, this);
  frame->setAttribute(Qt::WA_DeleteOnClose);
  data.release()->setParent(frame);
  if (!frame->SetItems(users)) {
    delete frame;
    return nullptr;
  }
  std::erase_if(graphs_, [](const QPointer<CChartFrame>& g) { return g.isNull(); });
  graphs_.emplace_back(frame);
  frame->show();
  return frame;
}

std::vector<CChartFrame*> CMainFrame::graph_windows() const {
  std::vector<CChartFrame*> out;
  for (const auto& g : graphs_)
    if (!g.isNull()) out.push_back(g.data());
  return out;
}

QAction* CMainFrame::AddAction(int id, const char* text, bool checkable) {
  auto* a = new QAction(QString::fromUtf8(text), this);
  a->setObjectName(QString("cmd%1").arg(id));
  a->setData(id);
  a->setCheckable(checkable);
  connect(a, &QAction::triggered, this, [this, id] { Run(id); });
  actions_[id] = a;
  addAction(a);
  return a;
}

QAction* CMainFrame::action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::UpdatePeriodText() {
  int32_t index = 0, days = 0, week_flag = 0, limit_date = 0;
  ctx_.settings->GetCheckRange(&index, &days);
  ctx_.settings->GetWeekFlag(&week_flag);
  std::optional<int32_t> stored;
  if (ctx_.settings->GetLimitDate(&limit_date)) stored = limit_date;
  period_ = CurrentLimitPeriod(ctx_.today(), index, days, stored, week_flag);
  if (period_.rolled) ctx_.settings->SetLimitDate(period_.end);
  list_->set_limit_period(period_);
  period_pane_->setText(Q(FormatPeriodStatusText(period_)));
}

void CMainFrame::UpdateCommands() {
  const bool locked = ctx_.Locked();
  bool stored = false;
  (void)ctx_.LockPassword(&stored);
  actions_[kCmdLock]->setEnabled(!locked && stored);
  actions_[kCmdUnlock]->setEnabled(locked);
  actions_[kCmdLockToggle]->setEnabled(stored);
  actions_[kCmdLockToggle]->setChecked(locked);
  for (int id : {kCmdPassword, kCmdThumbnail, kCmdStorage, kCmdDeleteLog, kCmdLimitSettings, kCmdGeneralSettings,
                 kCmdDomainImport})
    actions_[id]->setEnabled(!locked);
  // A database server has no file to move.
  actions_[kCmdStorage]->setEnabled(!locked && StorageFolderAvailable(*ctx_.settings));
  const int kind = ctx_.settings->GetDisplaySpan().kind;
  for (int k = 0; k <= 4; ++k) actions_[kCmdSpanStandard + k]->setChecked(kind == k);

  engine::GroupRecord g;
  const bool group = tree_->SelectedGroup(&g) == 0;
  actions_[kCmdGroupAdd]->setEnabled(!locked);
  actions_[kCmdGroupEdit]->setEnabled(!locked && group);
  actions_[kCmdGroupDelete]->setEnabled(!locked && group && list_->rows().empty());
  const size_t selected = list_->SelectedUids().size();
  actions_[kCmdUserAdd]->setEnabled(!locked && list_->group().GID != 0);
  actions_[kCmdUserEdit]->setEnabled(!locked && selected == 1);
  actions_[kCmdUserDelete]->setEnabled(!locked && selected >= 1);
  actions_[kCmdGraph]->setEnabled(selected >= 1);
}

void CMainFrame::Run(int id) {
  switch (id) {
    case kCmdLock:
    case kCmdUnlock:
    case kCmdLockToggle:
      LockCommand();
      break;
    case kCmdPassword:
      PasswordCommand();
      break;
    case kCmdThumbnail:
      ThumbnailCommand();
      break;
    case kCmdSpanStandard:
    case kCmdSpanMonth:
    case kCmdSpanWeek:
    case kCmdSpanToday:
      SpanCommand(id - kCmdSpanStandard);
      break;
    case kCmdSpanChosen:
      ChosenSpanCommand();
      break;
    case kCmdGroupAdd:
      tree_->AddGroupCommand();
      break;
    case kCmdGroupEdit:
      tree_->EditGroupCommand();
      break;
    case kCmdGroupDelete:
      tree_->DeleteGroupCommand();
      break;
    case kCmdUserAdd:
      list_->AddUserCommand();
      break;
    case kCmdUserEdit:
      list_->EditUserCommand();
      break;
    case kCmdUserDelete:
      list_->DeleteUsersCommand();
      break;
    case kCmdGraph:
      OpenGraphWindow();
      break;
    case kCmdLimitSettings:
    case kCmdGeneralSettings: {
      const EnvironmentOutcome done = RunEnvironmentSettings(
          ctx_, id - kCmdLimitSettings, StorageFolderAvailable(*ctx_.settings) ? storage_dialog : nullptr,
          [this] { tree_->RefreshSelected(); }, this);
      if (done.period_restarted) UpdatePeriodText();
      if (done.completed) tree_->RefreshSelected();
      break;
    }
    case kCmdDeleteLog: {
      LogDeletionDialog dialog(
          ctx_, [this] { tree_->RefreshSelected(); }, this);
      dialog.exec();
      break;
    }
    case kCmdHelp:
      HelpCommand();
      break;
    case kCmdDomainImport:
      DomainImportCommand();
      break;
    case kCmdStorage:
      if (!ctx_.Locked()) RunStorageFolderDialog(this, *ctx_.settings, *ctx_.sink);
      break;
    case kCmdAbout: {
      AboutDialog about(this);
      about.exec();
      break;
    }
    case kCmdToolBar:
      findChild<QToolBar*>("t59392")->setVisible(actions_[kCmdToolBar]->isChecked());
      break;
    case kCmdStatusBar:
      statusBar()->setVisible(actions_[kCmdStatusBar]->isChecked());
      break;
    default:
      break;
  }
  UpdateCommands();
  emit commandDone(id);
}

void CMainFrame::LockCommand() {
  bool stored = false;
  const std::string password = ctx_.LockPassword(&stored);
  const bool locked = ctx_.Locked();
  CSettingsLockDlg dialog(*ctx_.sink, !locked, password, this);
  if (dialog.exec() == QDialog::Accepted) ctx_.settings->SetLogEnv1(locked ? 0 : 1);
}

void CMainFrame::PasswordCommand() {
  if (ctx_.Locked()) return;
  bool stored = false;
  CPasswordDlg dialog(*ctx_.sink, ctx_.LockPassword(&stored), this);
  if (dialog.exec() == QDialog::Accepted) ctx_.settings->SetLogEnv2(ScrambleLockPassword(dialog.password()));
}

void CMainFrame::ThumbnailCommand() {
  if (ctx_.Locked()) return;
  int32_t count = 0;
  ctx_.settings->GetThumbnailCount(&count);
  CThumbnailPrintDlg dialog(count, this);
  if (dialog.exec() == QDialog::Accepted) ctx_.settings->SetThumbnailCount(dialog.value());
}

void CMainFrame::SpanCommand(int kind) {
  if (ctx_.settings->GetDisplaySpan().kind == kind) return;
  ctx_.settings->SetDisplaySpan(kind, 0, 1);
  emit rebuildRequested();
}

void CMainFrame::ChosenSpanCommand() {
  const auto span = ctx_.settings->GetDisplaySpan();
  PeriodChoice preset;
  preset.choice = span.selector;
  preset.months = preset.days = span.before;
  preset.from = span.start;
  preset.to = span.end;
  CPeriodDlg dialog(*ctx_.sink, preset, ctx_.today(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  const PeriodChoice v = dialog.value();
  if (v.choice == 2) {
    ctx_.settings->SetDisplaySpanDates(4, 2, v.from, v.to);
  } else {
    ctx_.settings->SetDisplaySpan(4, v.choice, v.choice == 1 ? v.days : v.months);
  }
  emit rebuildRequested();
}

void CMainFrame::HelpCommand() {
  std::string folder;
  ctx_.settings->GetAppPath(&folder);
  help_.Open(help::HelpPage(folder, kHelpFileName));
}

void CMainFrame::DomainImportCommand() {
  if (ctx_.Locked() || !tree_) return;
  engine::GroupRecord preset;
  (void)tree_->SelectedGroup(&preset);  // the root or nothing leaves an empty record
  auto chosen = RunAccountImportWizard(this, ctx_, preset);
  if (!chosen) return;
  {
    WaitCursor wait;
    auto db = ctx_.OpenDatabase();
    (void)AddImportedAccounts(*db, *chosen, *ctx_.sink);  // failures are shown by message 29
  }
  engine::GroupRecord selected;
  if (tree_->SelectedGroup(&selected) == 0 && selected.GID == chosen->gid) emit rebuildRequested();
}

void CMainFrame::StoreLayout() {
  if (layout_stored_) return;
  layout_stored_ = true;
  const QRect r = isMaximized() || isMinimized() ? normalGeometry() : geometry();
  ctx_.settings->SetMainRect({r.left(), r.top(), r.left() + r.width(), r.top() + r.height()});
  ctx_.settings->SetToolBar(findChild<QToolBar*>("t59392")->isVisibleTo(this) ? 1 : 0);
  ctx_.settings->SetStatusBar(statusBar()->isVisibleTo(this) ? 1 : 0);
  ctx_.settings->SetTreeWidth(splitter_->sizes().value(0));
  list_->StoreWidths();
}

void CMainFrame::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  // The splitter spreads its panes only once it has its width.
  if (sized_) return;
  sized_ = true;
  const int stored = ctx_.settings->GetTreeWidth();
  const int tree = stored > 0 ? stored : 200;
  splitter_->setSizes({tree, std::max(100, splitter_->width() - tree)});
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseMove) {
    if (auto* menu = qobject_cast<QMenu*>(watched)) {
      const QAction* entry = menu->actionAt(static_cast<QMouseEvent*>(event)->position().toPoint());
      if (entry && !entry->isEnabled() && !entry->isSeparator()) statusBar()->showMessage(entry->statusTip());
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::closeEvent(QCloseEvent* e) {
  // The console ends: its help window goes first, then the layout is stored.
  help_.Close();
  StoreLayout();
  QMainWindow::closeEvent(e);
}

bool CMainFrame::RegisterWindow() {
  auto h = winmsg::CreateWindow(kConsoleTitle, kConsoleTitle,
                                [this](winmsg::HWND w, winmsg::UINT m, winmsg::WPARAM wp, winmsg::LPARAM lp) {
                                  if (m == winmsg::WM_ACTIVATE) {
                                    ++raise_count_;
                                    showNormal();
                                    raise();
                                    activateWindow();
                                    return winmsg::LRESULT{1};
                                  }
                                  if (m == winmsg::WM_CLOSE) return winmsg::LRESULT{0};
                                  return winmsg::DefWindowProc(w, m, wp, lp);
                                });
  if (!h.ok()) return false;
  hwnd_ = *h;
  return true;
}

}  // namespace zv::console
