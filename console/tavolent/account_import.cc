#include "console/tavolent/account_import.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWizardPage>
#include <set>

#include "console/tavolent/admin_dialogs.h"
#include "console/tavolent/dialogs.h"

namespace zv::console {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// The page's title as a heading of its own: the wizard's title area shrinks a face given in
// pixels to an unreadable size.
QLabel* Heading(const char* text) {
  auto* label = new QLabel(text);
  QFont f = ConsoleFont();
  f.setBold(true);
  f.setPixelSize(14);
  label->setFont(f);
  label->setObjectName("title");
  return label;
}

QTreeWidget* AccountList(bool multiple) {
  auto* list = new QTreeWidget;
  list->setObjectName("l1043");
  list->setRootIsDecorated(false);
  list->setAllColumnsShowFocus(true);
  list->setSelectionMode(multiple ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
  list->setHeaderLabels({"アカウント", "ユーザ名"});
  list->header()->setStretchLastSection(true);
  return list;
}

void FillList(QTreeWidget* list, const std::vector<ImportedAccount>& accounts) {
  list->clear();
  for (const auto& a : accounts) new QTreeWidgetItem(list, QStringList{Q(a.account), Q(a.full_name)});
}

}  // namespace

// ---- the account list ----

AccountListPanel::AccountListPanel(const ConsoleContext& ctx, AccountSource source, bool multiple, QWidget* parent)
    : QWidget(parent),
      ctx_(ctx),
      source_(source ? std::move(source) : SystemAccountSource()),
      model_(source_, {}),
      address_(new QLineEdit),
      list_(AccountList(multiple)) {
  address_->setObjectName("e1032");
  address_->setProperty("field", "address");
  auto* label = new QLabel("ドメインまたはコンピュータ(&A):");
  label->setBuddy(address_);
  auto* read = new QPushButton("読み込み(&R)");
  read->setObjectName("b3");
  read->setAutoDefault(false);
  connect(read, &QPushButton::clicked, this, [this] { ReadAccounts(); });
  connect(address_, &QLineEdit::returnPressed, this, [this] { ReadAccounts(); });
  list_->installEventFilter(this);
  list_->header()->setSectionsClickable(true);
  connect(list_->header(), &QHeaderView::sectionClicked, this, [this](int c) { ClickColumn(c); });
  auto* row = new QHBoxLayout;
  row->addWidget(address_, 1);
  row->addWidget(read);
  auto* v = new QVBoxLayout(this);
  v->setContentsMargins(0, 0, 0, 0);
  v->addWidget(label);
  v->addLayout(row);
  v->addWidget(list_, 1);
}

void AccountListPanel::LoadRegistered() {
  std::vector<engine::UserRecord> users;
  std::vector<std::string> registered;
  // A failed read offers every account; adding a registered one is refused by the database.
  if (ctx_.OpenDatabase()->GetUserInfo(&users, 0, 1))
    for (const auto& u : users) registered.push_back(u.Account);
  model_ = AccountListModel(source_, std::move(registered));
}

bool AccountListPanel::eventFilter(QObject* watched, QEvent* e) {
  if (watched == list_ && e->type() == QEvent::Resize) {
    // The new size is set before the view lays out its viewport: measure the frame's inside.
    const int width = list_->contentsRect().width() - style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    list_->header()->resizeSection(0, width * 2 / 5);
  }
  return QWidget::eventFilter(watched, e);
}

void AccountListPanel::ReadAccounts() {
  const std::string address = S(address_->text());
  if (address.empty()) {
    address_->setFocus();
    return;
  }
  bool ok = false;
  {
    WaitCursor wait;
    ok = model_.Read(address);
    list_->clear();
  }
  if (!ok) {
    (void)ShowAppMessage(*ctx_.sink, 38);  // an OK box
    address_->setFocus();
    return;
  }
  Fill({});
  if (QTreeWidgetItem* first = list_->topLevelItem(0)) {
    list_->setCurrentItem(first);
    first->setSelected(true);
  }
  list_->setFocus();
}

void AccountListPanel::ClickColumn(int column) {
  std::vector<std::string> selected;
  for (QTreeWidgetItem* item : list_->selectedItems()) selected.push_back(S(item->text(0)));
  model_.Click(column);
  Fill(selected);
}

void AccountListPanel::Fill(const std::vector<std::string>& selected) {
  FillList(list_, model_.accounts());
  const std::set<std::string> keep(selected.begin(), selected.end());
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = list_->topLevelItem(i);
    if (keep.count(S(item->text(0)))) item->setSelected(true);
  }
  list_->header()->setSortIndicatorShown(true);
  list_->header()->setSortIndicator(model_.sort_column(),
                                    model_.descending() ? Qt::DescendingOrder : Qt::AscendingOrder);
}

std::vector<ImportedAccount> AccountListPanel::TakeSelection() {
  std::vector<ImportedAccount> out;
  for (int i = 0; i < list_->topLevelItemCount(); ++i)
    if (list_->topLevelItem(i)->isSelected()) out.push_back(model_.accounts()[static_cast<size_t>(i)]);
  if (out.empty()) {
    if (list_->topLevelItemCount() > 0) list_->setFocus();
    else address_->setFocus();
  }
  return out;
}

// ---- the wizard's pages ----

class CDomainUserSelectPage : public QWizardPage {
 public:
  explicit CDomainUserSelectPage(CDomainReadWiz* w) : wizard_(w) {
    setObjectName("p114");
    auto* v = new QVBoxLayout(this);
    v->addWidget(Heading("ドメイン読込"));
    v->addWidget(w->panel_);
  }
  void initializePage() override { wizard_->panel_->LoadRegistered(); }
  bool validatePage() override {
    wizard_->chosen_ = wizard_->panel_->TakeSelection();
    return !wizard_->chosen_.empty();
  }

 private:
  CDomainReadWiz* wizard_;
};

class CGroupSelectPage : public QWizardPage {
 public:
  explicit CGroupSelectPage(CDomainReadWiz* w) : wizard_(w) {
    setObjectName("p115");
    group_ = new QLineEdit;
    group_->setObjectName("e1040");
    group_->setProperty("field", "group");
    group_->setReadOnly(true);
    auto* choose = new QPushButton("グループの選択(&C)...");
    choose->setObjectName("b4");
    choose->setAutoDefault(false);
    QObject::connect(choose, &QPushButton::clicked, this, [this] { wizard_->ChooseGroup(); });
    list_ = AccountList(false);
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    auto* label = new QLabel("所属グループ(&G):");
    label->setBuddy(group_);
    auto* row = new QHBoxLayout;
    row->addWidget(group_, 1);
    row->addWidget(choose);
    auto* v = new QVBoxLayout(this);
    v->addWidget(Heading("所属グループの指定"));
    v->addWidget(label);
    v->addLayout(row);
    v->addWidget(new QLabel("追加するユーザの一覧:"));
    v->addWidget(list_, 1);
  }
  void initializePage() override {
    FillList(list_, wizard_->chosen_);
    ShowGroup();
  }
  void ShowGroup() { group_->setText(wizard_->group_.GID != 0 ? Q(wizard_->group_.GroupName) : QString()); }
  bool validatePage() override {
    if (wizard_->group_.GID != 0) return true;
    (void)ShowAppMessage(*wizard_->ctx_.sink, 5);  // an OK box
    group_->setFocus();
    return false;
  }

 private:
  CDomainReadWiz* wizard_;
  QLineEdit* group_;
  QTreeWidget* list_;
};

class CMaxPagesSetPage : public QWizardPage {
 public:
  explicit CMaxPagesSetPage(CDomainReadWiz* w) : wizard_(w) {
    setObjectName("p116");
    const std::pair<const char*, const char*> radios[] = {
        {"r1028", "制限しない(&N)"}, {"r1030", "デフォルトの設定に従う(&S)"}, {"r1031", "グループの設定に従う(&R)"}};
    auto* grid = new QGridLayout(this);
    grid->addWidget(Heading("印刷制限の指定"), 0, 0, 1, 3);
    grid->addWidget(new QLabel("カラー"), 1, 1);
    grid->addWidget(new QLabel("モノクロ"), 1, 2);
    for (int i = 0; i < 3; ++i) {
      radio_[i] = new QRadioButton(radios[i].second);
      radio_[i]->setObjectName(radios[i].first);
      grid->addWidget(radio_[i], i + 2, 0);
    }
    radio_[1]->setChecked(true);
    const std::pair<const char*, int> values[] = {{"s1044", 3}, {"s1038", 3}, {"s1043", 4}, {"s1039", 4}};
    for (int i = 0; i < 4; ++i) {
      value_[i] = new QLabel;
      value_[i]->setObjectName(values[i].first);
      grid->addWidget(value_[i], values[i].second, 1 + i % 2);
    }
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(5, 1);
  }
  void initializePage() override {
    const PageLimits defaults = ImportLimits(1, *wizard_->ctx_.settings, {});
    value_[0]->setText(QString::number(defaults.color));
    value_[1]->setText(QString::number(defaults.mono));
    value_[2]->setText(QString::number(wizard_->group_.MaxPages_Color));
    value_[3]->setText(QString::number(wizard_->group_.MaxPages));
  }
  bool validatePage() override {
    for (int i = 0; i < 3; ++i)
      if (radio_[i]->isChecked()) wizard_->count_shubetsu_ = static_cast<int16_t>(i);
    // A quota file that cannot be written is shown by the writer; the accounts are still
    // imported, and the next change of limits writes their files again.
    (void)WriteImportQuotaFiles(*wizard_->ctx_.settings, wizard_->choice(), wizard_->group_, wizard_->ctx_.today(),
                                wizard_->ctx_.sink);
    return true;
  }

 private:
  CDomainReadWiz* wizard_;
  QRadioButton* radio_[3];
  QLabel* value_[4];
};

CDomainReadWiz::CDomainReadWiz(const ConsoleContext& ctx, const engine::GroupRecord& preset_group,
                               const AccountImportOptions& options, QWidget* parent)
    : QWizard(parent), ctx_(ctx), options_(options), group_(preset_group) {
  setObjectName("wizard113");
  setWindowTitle("Wizard");
  setWindowIcon(ConsoleIcon());
  setFont(ConsoleFont());
  setWizardStyle(QWizard::ClassicStyle);
  setOption(QWizard::HaveHelpButton, true);
  setButtonText(QWizard::BackButton, "< 戻る(&B)");
  setButtonText(QWizard::NextButton, "次へ(&N) >");
  setButtonText(QWizard::FinishButton, "完了");
  setButtonText(QWizard::CancelButton, "キャンセル");
  setButtonText(QWizard::HelpButton, "ヘルプ");
  panel_ = new AccountListPanel(ctx, options.source, true);
  addPage(new CDomainUserSelectPage(this));
  addPage(new CGroupSelectPage(this));
  addPage(new CMaxPagesSetPage(this));
}

ImportedAccounts CDomainReadWiz::choice() const { return {chosen_, group_.GID, count_shubetsu_}; }

void CDomainReadWiz::ChooseGroup() {
  std::optional<engine::GroupRecord> chosen;
  if (options_.choose_group) {
    chosen = options_.choose_group(this, group_);
  } else {
    // The group selection's stored changes reach the main frame's tree when it runs us.
    CGroupSelectDlg select(
        ctx_, group_,
        [this](const engine::GroupRecord& g, int op) {
          ReportGroupChange(parentWidget() ? parentWidget()->window() : nullptr, g, op);
        },
        this);
    if (select.exec() == QDialog::Accepted) chosen = select.chosen();
  }
  if (!chosen) return;
  group_ = *chosen;
  if (auto* page = dynamic_cast<CGroupSelectPage*>(currentPage())) page->ShowGroup();
}

// ---- the picker ----

AccountPickerDialog::AccountPickerDialog(const ConsoleContext& ctx, AccountSource source, QWidget* parent)
    : QDialog(parent), panel_(new AccountListPanel(ctx, std::move(source), false)) {
  setObjectName("d176");
  setWindowTitle("ドメインから選択");
  setWindowIcon(ConsoleIcon());
  setFont(ConsoleFont());
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  box->button(QDialogButtonBox::Ok)->setObjectName("b1");
  box->button(QDialogButtonBox::Cancel)->setObjectName("b2");
  box->button(QDialogButtonBox::Cancel)->setText("キャンセル");
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* v = new QVBoxLayout(this);
  v->addWidget(panel_, 1);
  v->addWidget(box);
  panel_->LoadRegistered();
  resize(420, 320);
}

void AccountPickerDialog::accept() {
  auto selected = panel_->TakeSelection();
  if (selected.empty()) return;
  picked_ = selected.front();
  QDialog::accept();
}

std::optional<ImportedAccounts> RunAccountImportWizard(QWidget* parent, const ConsoleContext& ctx,
                                                       const engine::GroupRecord& preset_group,
                                                       const AccountImportOptions& options) {
  CDomainReadWiz wizard(ctx, preset_group, options, parent);
  if (wizard.exec() != QDialog::Accepted) return std::nullopt;
  return wizard.choice();
}

std::optional<ImportedAccount> RunAccountPicker(QWidget* parent, const ConsoleContext& ctx, AccountSource source) {
  AccountPickerDialog picker(ctx, std::move(source), parent);
  if (picker.exec() != QDialog::Accepted) return std::nullopt;
  return picker.picked();
}

void OfferAccountPicker(CUserPropertyDlg& dialog, const ConsoleContext& ctx, QWidget* parent) {
  dialog.SetAccountPicker([&ctx, parent]() -> std::optional<std::pair<std::string, std::string>> {
    auto picked = RunAccountPicker(parent, ctx);
    if (!picked) return std::nullopt;
    return std::make_pair(picked->account, picked->full_name);
  });
}

}  // namespace zv::console
