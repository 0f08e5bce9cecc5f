#include "console/tavolent/first_run_wizard.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "console/core/environment.h"
#include "console/core/quota_files.h"
#include "console/rules/user_list.h"
#include "console/tavolent/account_import.h"
#include "console/tavolent/admin_dialogs.h"
#include "console/tavolent/console_context.h"
#include "console/tavolent/console_frame.h"
#include "console/tavolent/dialogs.h"
#include "console/tavolent/environment_sheet.h"
#include "platform/base/ascii.h"
#include "platform/help/help_page.h"

namespace zv::console {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

constexpr int kUidRole = Qt::UserRole;

// A wizard page whose Next (or Finish) runs a check first.
class CheckedPage : public QWizardPage {
 public:
  CheckedPage(const char* id, const char* title, QWidget* body, std::function<bool()> check)
      : check_(std::move(check)) {
    setObjectName(id);
    setTitle(title);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(body);
  }
  bool validatePage() override { return !check_ || check_(); }

 private:
  std::function<bool()> check_;
};

// The wizard's pages before the users: the managed printers, the default limits with the
// period (stored on Next), and the over-limit actions.
class CFirstWizPrinterPage : public CheckedPage {
 public:
  using CheckedPage::CheckedPage;
};
class CFirstWizLimitPage : public CheckedPage {
 public:
  using CheckedPage::CheckedPage;
};
class CFirstWizActionPage : public CheckedPage {
 public:
  using CheckedPage::CheckedPage;
};

bool LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(LowerAscii(x)) < static_cast<unsigned char>(LowerAscii(y));
  });
}

}  // namespace

// ---- user page ----

CFirstWizUserPage::CFirstWizUserPage(const ConsoleContext& ctx, AccountImportRunner import, QWidget* parent)
    : QWizardPage(parent), ctx_(ctx), import_(std::move(import)) {
  setObjectName("p106");
  setTitle("初期導入ウィザード-ユーザアカウントの登録");
  list_ = new QTreeWidget;
  list_->setObjectName("l1043");
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setAllColumnsShowFocus(true);
  list_->setHeaderLabels({"アカウント", "ユーザ名", "グループ名"});
  list_->header()->setSectionsClickable(true);
  auto* import_button = new QPushButton("ドメイン読込(&R)...");
  import_button->setObjectName("b3");
  import_button->setEnabled(static_cast<bool>(import_));
  auto* add = new QPushButton("登録(&A)...");
  add->setObjectName("b4");
  edit_ = new QPushButton("プロパティ(&P)...");
  edit_->setObjectName("b5");
  delete_ = new QPushButton("削除(&D)");
  delete_->setObjectName("b6");
  connect(import_button, &QPushButton::clicked, this, [this] { ImportAccounts(); });
  connect(add, &QPushButton::clicked, this, [this] { AddUser(); });
  connect(edit_, &QPushButton::clicked, this, [this] { EditUser(); });
  connect(delete_, &QPushButton::clicked, this, [this] { DeleteUsers(); });
  connect(list_->header(), &QHeaderView::sectionClicked, this, [this](int c) { ClickColumn(c); });
  connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] {
    edit_->setEnabled(Selected().size() == 1);
    delete_->setEnabled(!Selected().empty());
  });
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Zelvoraで印刷枚数を管理するユーザのアカウントを登録して下さい。"));
  layout->addWidget(list_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(import_button);
  buttons->addStretch();
  buttons->addWidget(add);
  buttons->addWidget(edit_);
  buttons->addWidget(delete_);
  layout->addLayout(buttons);
}

void CFirstWizUserPage::SizeColumns() {
  const int client = list_->contentsRect().width() - list_->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  const int third = std::max(client / 3, 1);
  list_->header()->setStretchLastSection(true);
  list_->setColumnWidth(0, third);
  list_->setColumnWidth(1, third);
}

void CFirstWizUserPage::showEvent(QShowEvent* event) {
  QWizardPage::showEvent(event);
  SizeColumns();
}

void CFirstWizUserPage::initializePage() {
  Reload();
  Fill(users_.empty() ? std::vector<int32_t>{} : std::vector<int32_t>{users_.front().UID});
}

void CFirstWizUserPage::Reload() {
  auto db = ctx_.OpenDatabase();
  users_.clear();
  groups_.clear();
  if (!db->GetUserInfo(&users_, -1, 1)) users_.clear();
  if (!db->GetGroupInfo(&groups_, -1, 1)) groups_.clear();
}

std::vector<int32_t> CFirstWizUserPage::Selected() const {
  std::vector<int32_t> out;
  for (int i = 0; i < list_->topLevelItemCount(); ++i)
    if (list_->topLevelItem(i)->isSelected()) out.push_back(list_->topLevelItem(i)->data(0, kUidRole).toInt());
  return out;
}

void CFirstWizUserPage::Fill(const std::vector<int32_t>& select) {
  auto group_name = [this](int32_t gid) {
    for (const auto& g : groups_)
      if (g.GID == gid) return g.GroupName;
    return std::string();
  };
  if (sort_column_ == 2) {
    // Each group's users together, the groups by name, the users in their previous order.
    std::stable_sort(users_.begin(), users_.end(), [&](const engine::UserRecord& a, const engine::UserRecord& b) {
      const std::string x = group_name(a.GID), y = group_name(b.GID);
      return descending_ ? LessNoCase(y, x) : LessNoCase(x, y);
    });
  } else {
    std::vector<UserPageRow> rows;
    for (const auto& u : users_) {
      UserPageRow r;
      static_cast<engine::UserRecord&>(r) = u;
      rows.push_back(r);
    }
    SortUserRows(&rows, sort_column_, descending_, {}, {});
    users_.assign(rows.begin(), rows.end());
  }
  list_->clear();
  for (const auto& u : users_) {
    auto* item = new QTreeWidgetItem({Q(u.Account), Q(u.UserName), Q(group_name(u.GID))});
    item->setData(0, kUidRole, u.UID);
    list_->addTopLevelItem(item);
    if (std::find(select.begin(), select.end(), u.UID) != select.end()) item->setSelected(true);
  }
  edit_->setEnabled(Selected().size() == 1);
  delete_->setEnabled(!Selected().empty());
}

void CFirstWizUserPage::ClickColumn(int column) {
  if (users_.size() < 2) return;
  descending_ = DescendingAfterClick(column, sort_column_, descending_);
  sort_column_ = column;
  Fill(Selected());
}

std::optional<engine::GroupRecord> CFirstWizUserPage::ChooseGroup(const engine::GroupRecord& current) {
  CGroupSelectDlg dialog(ctx_, current, nullptr, this);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.chosen();
}

void CFirstWizUserPage::ImportAccounts() {
  if (!import_) return;
  const auto chosen = import_(this);
  if (!chosen) return;
  {
    WaitCursor wait;
    auto db = ctx_.OpenDatabase();
    AddImportedAccounts(*db, *chosen, *ctx_.sink);
  }
  Reload();
  Fill(Selected());
}

namespace {

std::vector<KnownUser> Known(const std::vector<engine::UserRecord>& users) {
  std::vector<KnownUser> out;
  for (const auto& u : users) out.push_back({u.Account, u.UserName});
  return out;
}

}  // namespace

void CFirstWizUserPage::AddUser() {
  engine::UserRecord preset = NewUserRecord(0);
  const auto selected = Selected();
  for (const auto& u : users_)
    if (!selected.empty() && u.UID == selected.front()) preset.GID = u.GID;
  if (preset.GID == 0 && !groups_.empty()) preset.GID = groups_.front().GID;
  CUserPropertyDlg dialog(*ctx_.sink, preset, SystemLimits(*ctx_.settings), groups_, Known(users_), this);
  dialog.SetGroupChooser([this](const engine::GroupRecord& g) { return ChooseGroup(g); });
  OfferAccountPicker(dialog, ctx_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  engine::UserRecord user = dialog.value();
  user.UID = 0;
  {
    auto db = ctx_.OpenDatabase();
    if (!db->AddUser(&user)) ShowAppMessage(*ctx_.sink, 29);
  }
  Reload();
  Fill({user.UID});
}

void CFirstWizUserPage::EditUser() {
  const auto selected = Selected();
  if (selected.size() != 1) return;
  auto it =
      std::find_if(users_.begin(), users_.end(), [&](const engine::UserRecord& u) { return u.UID == selected[0]; });
  if (it == users_.end()) return;
  CUserPropertyDlg dialog(*ctx_.sink, *it, SystemLimits(*ctx_.settings), groups_, Known(users_), this);
  dialog.SetGroupChooser([this](const engine::GroupRecord& g) { return ChooseGroup(g); });
  OfferAccountPicker(dialog, ctx_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  const engine::UserRecord user = dialog.value();
  auto db = ctx_.OpenDatabase();
  if (!db->UpdateUser(user)) {
    ShowAppMessage(*ctx_.sink, 30);
    return;
  }
  // The quota file follows the stored row only.
  (void)RewriteQuotaFiles(*ctx_.settings, *db, ctx_.today(), *ctx_.sink, {0, user.UID});  // failures shown
  *it = user;
  // The group list may have grown in the group selection.
  if (!db->GetGroupInfo(&groups_, -1, 1)) groups_.clear();
  Fill({user.UID});
}

void CFirstWizUserPage::DeleteUsers() {
  const auto selected = Selected();
  if (selected.empty() || ShowAppMessage(*ctx_.sink, 1) != kIdYes) return;
  WaitCursor wait;
  std::vector<engine::UserRecord> chosen;
  for (const auto& u : users_)
    if (std::find(selected.begin(), selected.end(), u.UID) != selected.end()) chosen.push_back(u);
  auto db = ctx_.OpenDatabase();
  if (!RemoveWizardUsers(*ctx_.settings, *db, chosen, *ctx_.sink)) return;
  std::erase_if(users_, [&](const engine::UserRecord& u) {
    return std::find(selected.begin(), selected.end(), u.UID) != selected.end();
  });
  Fill({});
}

bool CFirstWizUserPage::validatePage() {
  if (!users_.empty()) return true;
  ShowAppMessage(*ctx_.sink, 8);
  return false;
}

// ---- wizard ----

CFirstWiz::CFirstWiz(const ConsoleContext& ctx, const std::vector<std::string>& candidates, AccountImportRunner import,
                     QWidget* parent)
    : QWizard(parent), ctx_(ctx) {
  setObjectName("firstWizard");
  // The wizard derives its page titles from the font's point size, so it takes one.
  QFont font = ConsoleFont();
  font.setPointSize(9);
  setFont(font);
  setButtonText(QWizard::BackButton, "< 戻る(&B)");
  setButtonText(QWizard::NextButton, "次へ(&N) >");
  setButtonText(QWizard::FinishButton, "完了");
  setButtonText(QWizard::CancelButton, "キャンセル");
  setWindowTitle("Wizard");
  setWindowIcon(ConsoleIcon());
  setWizardStyle(QWizard::ClassicStyle);
  setOption(QWizard::NoBackButtonOnStartPage, true);
  setOption(QWizard::HaveHelpButton, true);
  setButtonText(QWizard::HelpButton, "ヘルプ");
  connect(this, &QWizard::helpRequested, this, [this] {
    std::string folder;
    ctx_.settings->GetAppPath(&folder);
    help_.Open(help::HelpPage(folder, kHelpFileName));
  });

  auto* printer_body = new CEnvironGenericPage(SortPrinterLists({}, candidates), false, nullptr, nullptr);
  printers_ = printer_body->printers();
  addPage(new CFirstWizPrinterPage("p103", "初期導入ウィザード-管理対象プリンタ", printer_body, [this] {
    if (printers_->Color().empty() && printers_->Mono().empty()) return ShowAppMessage(*ctx_.sink, 4) == kIdYes;
    return true;
  }));

  limits_ = new CEnvironLimitPage(*ctx.sink, FirstRunDefaults(), kPartLimits | kPartPeriod);
  // Alt+N and Alt+B belong to the wizard's 次へ(N) > and < 戻る(B) here: the two period
  // radios that the settings sheet keys N and B take U and R on this page.
  limits_->findChild<QRadioButton*>("r1011")->setText("無期限(&U)");
  limits_->findChild<QRadioButton*>("r1015")->setText("期間(&R)");
  addPage(new CFirstWizLimitPage("p104", "初期導入ウィザード-印刷制限", limits_, [this] {
    if (!limits_->Leave()) return false;
    WaitCursor wait;
    auto db = ctx_.OpenDatabase();
    StoreWizardLimits(*ctx_.settings, *db, limits_->value(), ctx_.today(), *ctx_.sink);
    return true;
  }));

  actions_ = new CEnvironLimitPage(*ctx.sink, FirstRunDefaults(), kPartActions | kPartCrossing);
  addPage(
      new CFirstWizActionPage("p105", "初期導入ウィザード-印刷制限", actions_, [this] { return actions_->Leave(); }));

  users_ = new CFirstWizUserPage(ctx, std::move(import));
  addPage(users_);
  resize(600, 480);
}

FirstRunChoices CFirstWiz::choices() const {
  FirstRunChoices c;
  c.printers = printers_->Mono();
  for (const auto& p : printers_->Color()) c.printers.push_back(p);
  c.values = limits_->value();
  const EnvironmentValues a = actions_->value();
  c.values.mail_user = a.mail_user;
  c.values.mail_admin = a.mail_admin;
  c.values.refuse = a.refuse;
  c.values.over_action = a.over_action;
  c.values.on_completion = a.on_completion;
  c.values.on_error = a.on_error;
  c.values.smtp_server = a.smtp_server;
  c.values.smtp_port = a.smtp_port;
  c.values.admin_address = a.admin_address;
  c.values.sender_address = a.sender_address;
  return c;
}

int RunFirstSetupWizard(const ConsoleContext& ctx, const AccountImportRunner& import, spool::Spooler& spooler) {
  auto wizard = [&](FirstRunChoices* choices) {
    CFirstWiz w(ctx, ListCandidatePrinters(spooler), import);
    if (w.exec() != QDialog::Accepted) return kWizardStop;
    *choices = w.choices();
    return kWizardFinish;
  };
  return RunFirstSetup(*ctx.settings, wizard, spooler, ctx.today(), *ctx.sink);
}

}  // namespace zv::console
