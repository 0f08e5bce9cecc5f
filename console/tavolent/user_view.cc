// The user list (CTavolentUserView): rebuilding for a group, filling and sorting, the user
// commands and their enabling, the in-place rename, the context menu and the status text.
#include "console/tavolent/user_view.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QStyleOptionHeader>
#include <QTimer>
#include <algorithm>
#include <optional>

#include "console/core/environment.h"
#include "console/core/quota_files.h"
#include "console/tavolent/account_import.h"
#include "console/tavolent/admin_dialogs.h"
#include "console/tavolent/dialogs.h"

namespace zv::console {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

constexpr int kUidRole = Qt::UserRole;

// Takes a user dialog, the context and its owner; lets the dialog's group button run the
// group selection, whose stored changes reach the main frame's group tree.
void OfferGroupChoice(CUserPropertyDlg& dialog, const ConsoleContext& ctx, QWidget* owner) {
  dialog.SetGroupChooser([&ctx, owner](const engine::GroupRecord& current) -> std::optional<engine::GroupRecord> {
    CGroupSelectDlg select(
        ctx, current, [owner](const engine::GroupRecord& g, int op) { ReportGroupChange(owner->window(), g, op); },
        owner);
    if (select.exec() != QDialog::Accepted) return std::nullopt;
    return select.chosen();
  });
  OfferAccountPicker(dialog, ctx, owner);
}

}  // namespace

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
  ShowEmptyColumns();
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

void CTavolentUserView::ShowEmptyColumns() {
  // With no group the list still shows what it lists: the titles without printer columns,
  // at the administrator's widths.
  const auto titles = UserColumnTitles({});
  setColumnCount(static_cast<int>(titles.size()));
  QStringList labels;
  for (const auto& t : titles) labels << Q(t);
  setHeaderLabels(labels);
  const auto widths = ctx_.settings->GetColumnWidths();
  for (size_t i = 0; i < titles.size(); ++i)
    setColumnWidth(static_cast<int>(i), std::max(ColumnWidth(widths, i), TitleWidth(Q(titles[i]))));
  header()->show();
  empty_columns_ = true;
}

void CTavolentUserView::StoreWidths() {
  // The titles shown without a group are not the administrator's layout to keep.
  if (columnCount() == 0 || header()->isHidden() || empty_columns_) return;
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
    ShowEmptyColumns();
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
    empty_columns_ = false;
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

void CTavolentUserView::UpdateCommands(bool locked) {
  const size_t selected = SelectedUids().size();
  EnableCommands(actions(), {{kCmdUserAdd, !locked && group_.GID != 0},
                             {kCmdUserEdit, !locked && selected == 1},
                             {kCmdUserDelete, !locked && selected >= 1},
                             {kCmdGraph, selected >= 1}});
}

}  // namespace zv::console
