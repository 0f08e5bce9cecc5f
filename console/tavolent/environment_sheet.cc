#include "console/tavolent/environment_sheet.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "console/core/quota_files.h"
#include "console/rules/validators.h"
#include "console/tavolent/admin_dialogs.h"
#include "console/tavolent/console_context.h"
#include "console/tavolent/dialogs.h"

namespace zv::console {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

constexpr int kPidRole = Qt::UserRole;

template <typename W>
W* Named(W* w, const char* id, const char* field = nullptr) {
  w->setObjectName(id);
  if (field) w->setProperty("field", field);
  return w;
}

QSpinBox* NumberEdit(int value, int upper, const char* id, const char* field) {
  auto* s = Named(new QSpinBox, id, field);
  // Wider than the accepted range, so that the leaving checks name a wrong number.
  s->setRange(0, upper);
  s->setValue(value);
  return s;
}

QTreeWidget* PrinterList(const char* id, const char* title) {
  auto* list = Named(new QTreeWidget, id);
  list->setColumnCount(1);
  list->setHeaderLabels({title});
  list->setRootIsDecorated(false);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->header()->setStretchLastSection(true);
  return list;
}

void AddPrinterItem(QTreeWidget* list, const engine::PrinterRecord& p, int at) {
  auto* item = new QTreeWidgetItem({Q(p.PrinterName)});
  item->setIcon(0, QApplication::style()->standardIcon(QStyle::SP_ComputerIcon));
  item->setData(0, kPidRole, p.PID);
  if (at < 0) list->addTopLevelItem(item);
  else list->insertTopLevelItem(at, item);
}

std::vector<engine::PrinterRecord> Records(QTreeWidget* list, int32_t ptype) {
  std::vector<engine::PrinterRecord> out;
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = list->topLevelItem(i);
    out.push_back({item->data(0, kPidRole).toInt(), S(item->text(0)), ptype, 1});
  }
  return out;
}

}  // namespace

// ---- printer lists ----

PrinterListsBox::PrinterListsBox(const PrinterLists& lists, QWidget* parent)
    : QWidget(parent), modified_(lists.modified) {
  lists_[0] = PrinterList("l1005", "接続されているプリンタ");
  lists_[1] = PrinterList("l1006", "管理対象のプリンタ-カラー");
  lists_[2] = PrinterList("l1001", "管理対象のプリンタ-モノクロ");
  for (const auto& p : lists.connected) AddPrinterItem(lists_[0], p, -1);
  for (const auto& p : lists.color) AddPrinterItem(lists_[1], p, -1);
  for (const auto& p : lists.mono) AddPrinterItem(lists_[2], p, -1);
  const struct {
    const char* id;
    const char* text;
    int from, to;
  } moves[] = {{"b6", "▼", 0, 1}, {"b1008", "▲", 1, 0}, {"b3", "▼", 0, 2}, {"b1007", "▲", 2, 0}};
  for (int i = 0; i < 4; ++i) {
    buttons_[i] = Named(new QPushButton(moves[i].text), moves[i].id);
    QTreeWidget *from = lists_[moves[i].from], *to = lists_[moves[i].to];
    connect(buttons_[i], &QPushButton::clicked, this, [this, from, to] { Move(from, to); });
  }
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->addWidget(lists_[0], 0, 0, 1, 2);
  auto* left = new QHBoxLayout;
  left->addStretch();
  left->addWidget(buttons_[0]);
  left->addWidget(buttons_[1]);
  left->addStretch();
  auto* right = new QHBoxLayout;
  right->addStretch();
  right->addWidget(buttons_[2]);
  right->addWidget(buttons_[3]);
  right->addStretch();
  grid->addLayout(left, 1, 0);
  grid->addLayout(right, 1, 1);
  grid->addWidget(lists_[1], 2, 0);
  grid->addWidget(lists_[2], 2, 1);
  for (QTreeWidget* list : lists_) {
    connect(list, &QTreeWidget::itemSelectionChanged, this, [this] { Enable(); });
  }
  // A list taking the focus clears the selection of the other two.
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    for (QTreeWidget* list : lists_) {
      if (now != list) continue;
      for (QTreeWidget* other : lists_)
        if (other != list) other->clearSelection();
    }
  });
  Enable();
}

std::vector<engine::PrinterRecord> PrinterListsBox::Color() const { return Records(lists_[1], 1); }
std::vector<engine::PrinterRecord> PrinterListsBox::Mono() const { return Records(lists_[2], 0); }

void PrinterListsBox::Move(QTreeWidget* from, QTreeWidget* to) {
  const auto selected = from->selectedItems();
  if (selected.isEmpty()) return;
  // Taken in list order and inserted one after another at the top of the target.
  int at = 0;
  for (int i = 0; i < from->topLevelItemCount();) {
    QTreeWidgetItem* item = from->topLevelItem(i);
    if (!item->isSelected()) {
      ++i;
      continue;
    }
    from->takeTopLevelItem(i);
    item->setSelected(false);
    to->insertTopLevelItem(at++, item);
  }
  modified_ = true;
  Enable();
}

void PrinterListsBox::Enable() {
  buttons_[0]->setEnabled(!lists_[0]->selectedItems().isEmpty());
  buttons_[1]->setEnabled(!lists_[1]->selectedItems().isEmpty());
  buttons_[2]->setEnabled(!lists_[0]->selectedItems().isEmpty());
  buttons_[3]->setEnabled(!lists_[2]->selectedItems().isEmpty());
}

// ---- limit fields ----

CEnvironLimitPage::CEnvironLimitPage(MessageSink& sink, const EnvironmentValues& values, int parts, QWidget* parent)
    : QWidget(parent), sink_(sink), values_(values), parts_(parts) {
  setFont(ConsoleFont());
  auto* grid = new QGridLayout(this);
  int row = 0;
  if (parts & kPartLimits) {
    auto* box = new QGroupBox("デフォルトの印刷可能枚数");
    auto* form = new QGridLayout(box);
    color_ = NumberEdit(values.color, 99999, "e1048", "color");
    mono_ = NumberEdit(values.mono, 99999, "e1047", "mono");
    auto* color_label = new QLabel("カラー(&C):");
    auto* mono_label = new QLabel("モノクロ(&L):");
    color_label->setBuddy(color_);
    mono_label->setBuddy(mono_);
    form->addWidget(color_label, 0, 0);
    form->addWidget(color_, 0, 1);
    form->addWidget(new QLabel("枚"), 0, 2);
    form->addWidget(mono_label, 1, 0);
    form->addWidget(mono_, 1, 1);
    form->addWidget(new QLabel("枚"), 1, 2);
    grid->addWidget(box, row, 0);
  }
  if (parts & kPartPeriod) {
    auto* box = new QGroupBox("印刷制限の範囲");
    auto* form = new QGridLayout(box);
    const char* texts[] = {"無期限(&N)", "1日(&D)", "1週間(&W)", "1ヶ月(&M)", "期間(&B)"};
    auto* group = new QButtonGroup(box);
    for (int i = 0; i < 5; ++i) {
      period_[i] = Named(new QRadioButton(texts[i]), ("r" + std::to_string(1011 + i)).c_str());
      group->addButton(period_[i], i);
      form->addWidget(period_[i], i < 4 ? i / 2 : 2, i < 4 ? i % 2 : 0);
      connect(period_[i], &QRadioButton::toggled, this, [this] { Enable(); });
    }
    days_ = NumberEdit(values.days, 9999, "e1008", "days");
    form->addWidget(days_, 2, 1);
    form->addWidget(new QLabel("日間"), 2, 2);
    period_[std::clamp(values.period_choice, 0, 4)]->setChecked(true);
    grid->addWidget(box, row++, 1);
  } else if (parts & kPartLimits) {
    ++row;
  }
  if (parts & kPartActions) {
    auto* box = new QGroupBox("印刷制限を超えた時の動作");
    auto* v = new QVBoxLayout(box);
    mail_user_ = Named(new QCheckBox("印刷時にユーザへ電子メールで警告(&Z)"), "c1016");
    mail_admin_ = Named(new QCheckBox("印刷時に管理者へ電子メールで警告(&A)"), "c1017");
    refuse_ = Named(new QCheckBox("印刷を禁止(&S)"), "c1018");
    mail_ = Named(new QPushButton("メールの設定(&G)..."), "b1019");
    mail_user_->setChecked(values.mail_user == 1);
    mail_admin_->setChecked(values.mail_admin == 1);
    refuse_->setChecked(values.refuse == 1);
    for (QCheckBox* c : {mail_user_, mail_admin_, refuse_}) {
      v->addWidget(c);
      connect(c, &QCheckBox::toggled, this, [this] { Enable(); });
    }
    v->addWidget(mail_, 0, Qt::AlignRight);
    connect(mail_, &QPushButton::clicked, this, [this] { EditMail(); });
    grid->addWidget(box, row, 0);
  }
  if (parts & kPartCrossing) {
    auto* box = new QGroupBox("印刷制限をまたぐときの動作");
    auto* v = new QVBoxLayout(box);
    crossing_[0] = Named(new QRadioButton("印刷上限値をまたぐ印刷を許可(&O)"), "r1064");
    crossing_[1] = Named(new QRadioButton("印刷上限値をまたぐ印刷を禁止(&K)"), "r1063");
    auto* group = new QButtonGroup(box);
    for (int i = 0; i < 2; ++i) {
      group->addButton(crossing_[i], i);
      v->addWidget(crossing_[i]);
    }
    crossing_[values.over_action == 0 ? 0 : 1]->setChecked(true);
    grid->addWidget(box, row, 1);
  }
  if (parts & (kPartActions | kPartCrossing)) ++row;
  if (parts & kPartNotices) {
    auto* box = new QGroupBox("メッセージボックスによるクライアントへの通知");
    auto* h = new QHBoxLayout(box);
    on_completion_ = Named(new QCheckBox("印刷完了を通知(&P)"), "c1020");
    on_error_ = Named(new QCheckBox("エラーを通知(&E)"), "c1022");
    on_completion_->setChecked(values.on_completion == 1);
    on_error_->setChecked(values.on_error == 1);
    h->addWidget(on_completion_);
    h->addWidget(on_error_);
    grid->addWidget(box, row++, 0, 1, 2);
  }
  grid->setRowStretch(row, 1);
  Enable();
}

void CEnvironLimitPage::Enable() {
  if (days_) {
    const bool days = period_[4]->isChecked();
    // Choosing another period puts a number the spin accepts back into the edit.
    if (!days) days_->setValue(days_->value());
    days_->setEnabled(days);
  }
  if (mail_) mail_->setEnabled(mail_user_->isChecked() || mail_admin_->isChecked());
  if (crossing_[0]) {
    const bool refuse = refuse_ ? refuse_->isChecked() : values_.refuse == 1;
    for (QRadioButton* r : crossing_) r->setEnabled(refuse);
  }
}

EnvironmentValues CEnvironLimitPage::value() const {
  EnvironmentValues v = values_;
  if (color_) v.color = color_->value();
  if (mono_) v.mono = mono_->value();
  if (days_) {
    for (int i = 0; i < 5; ++i)
      if (period_[i]->isChecked()) v.period_choice = i;
    v.days = days_->value();
  }
  if (mail_user_) {
    v.mail_user = mail_user_->isChecked();
    v.mail_admin = mail_admin_->isChecked();
    v.refuse = refuse_->isChecked();
  }
  if (crossing_[0]) v.over_action = crossing_[0]->isChecked() ? 0 : 1;
  if (on_completion_) {
    v.on_completion = on_completion_->isChecked();
    v.on_error = on_error_->isChecked();
  }
  return v;
}

bool CEnvironLimitPage::Leave() {
  const EnvironmentValues v = value();
  LimitPageInput in;
  if (parts_ & kPartLimits) {
    in.color = v.color;
    in.mono = v.mono;
  }
  if (parts_ & kPartPeriod) {
    in.period_choice = v.period_choice;
    in.days = v.days;
  }
  if (parts_ & kPartActions) {
    in.mail_user = v.mail_user;
    in.mail_admin = v.mail_admin;
    in.smtp_server = v.smtp_server;
    in.smtp_port = v.smtp_port;
    in.admin_address = v.admin_address;
    in.sender_address = v.sender_address;
  }
  return ApplyVerdict(this, sink_, CheckLimitPage(in));
}

void CEnvironLimitPage::EditMail() {
  CMailSettingsDlg dialog(
      sink_, {values_.smtp_server, values_.smtp_port, values_.admin_address, values_.sender_address}, this);
  if (dialog.exec() != QDialog::Accepted) return;
  const MailSettings m = dialog.value();
  values_.smtp_server = m.server;
  values_.smtp_port = static_cast<int32_t>(m.port);
  values_.admin_address = m.admin;
  values_.sender_address = m.sender;
}

// ---- sheet ----

CEnvironGenericPage::CEnvironGenericPage(const PrinterLists& lists, bool buttons, std::function<void()> storage,
                                         std::function<void()> log_deletion, QWidget* parent)
    : QWidget(parent) {
  auto* v = new QVBoxLayout(this);
  if (!buttons) v->setContentsMargins(0, 0, 0, 0);
  v->addWidget(
      new QLabel("Zelvoraで印刷枚数を管理するプリンタを指定して下さい。\n"
                 "管理するプリンタは、カラー／モノクロの指定が可能です。"));
  printers_ = new PrinterListsBox(lists);
  v->addWidget(printers_, 1);
  if (!buttons) return;
  auto* row = new QHBoxLayout;
  auto* storage_button = Named(new QPushButton("保存フォルダの変更(&F)..."), "b4");
  auto* logs = Named(new QPushButton("印刷ログの削除(&R)..."), "b5");
  storage_button->setEnabled(static_cast<bool>(storage));
  connect(storage_button, &QPushButton::clicked, this, [storage] {
    if (storage) storage();
  });
  connect(logs, &QPushButton::clicked, this, [log_deletion] {
    if (log_deletion) log_deletion();
  });
  row->addStretch();
  row->addWidget(storage_button);
  row->addWidget(logs);
  v->addLayout(row);
}

CEnvironSheet::CEnvironSheet(const ConsoleContext& ctx, const EnvironmentValues& values,
                             const std::vector<engine::PrinterRecord>& managed,
                             const std::vector<std::string>& candidates, int start_page,
                             std::function<void(QWidget*)> storage_dialog, QWidget* parent)
    : QDialog(parent), ctx_(ctx), before_(values), managed_(managed) {
  setObjectName("environSheet");
  setFont(ConsoleFont());
  setWindowTitle("環境設定");
  setWindowIcon(ConsoleIcon());
  tabs_ = new QTabWidget;
  limits_ = Named(new CEnvironLimitPage(*ctx.sink, values, kPartAll), "d214");
  tabs_->addTab(limits_, "印刷制限");

  std::function<void()> storage;
  if (storage_dialog) storage = [this, storage_dialog] { storage_dialog(this); };
  auto* general = Named(new CEnvironGenericPage(SortPrinterLists(managed, candidates), true, storage,
                                                [this] {
                                                  LogDeletionDialog dialog(ctx_, log_deleted, this);
                                                  dialog.exec();
                                                }),
                        "d112");
  printers_ = general->printers();
  tabs_->addTab(general, "全般");

  tabs_->setCurrentIndex(start_page == 1 ? 1 : 0);
  current_ = tabs_->currentIndex();
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
    if (switching_) return;
    if (!LeavePage(current_)) {
      switching_ = true;
      tabs_->setCurrentIndex(current_);
      switching_ = false;
      return;
    }
    current_ = index;
  });

  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  box->button(QDialogButtonBox::Ok)->setObjectName("b1");
  box->button(QDialogButtonBox::Cancel)->setObjectName("b2");
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(box);
  resize(560, 460);
}

bool CEnvironSheet::LeavePage(int index) {
  if (index == 0) return limits_->Leave();
  if (printers_->Color().empty() && printers_->Mono().empty()) return ShowAppMessage(*ctx_.sink, 4) == kIdYes;
  return true;
}

void CEnvironSheet::accept() {
  if (LeavePage(tabs_->currentIndex())) QDialog::accept();
}

EnvironmentEdit CEnvironSheet::edit() const {
  EnvironmentEdit e;
  e.before = before_;
  e.after = limits_->value();
  e.db_printers = managed_;
  e.printers = printers_->Color();
  for (const auto& p : printers_->Mono()) e.printers.push_back(p);
  e.printers_changed = printers_->modified();
  return e;
}

EnvironmentOutcome RunEnvironmentSettings(const ConsoleContext& ctx, int start_page,
                                          const std::function<void(QWidget*)>& storage_dialog,
                                          const std::function<void()>& log_deleted, QWidget* owner) {
  const EnvironmentValues values = LoadEnvironment(*ctx.settings);
  auto db = ctx.OpenDatabase();
  std::vector<engine::PrinterRecord> managed;
  if (!db->GetPrinterInfo(&managed, 0, 1)) {
    ShowAppMessage(*ctx.sink, 40);
    return {};
  }
  auto spooler = spool::OpenSpooler();
  std::vector<std::string> candidates;
  if (spooler.ok()) candidates = ListCandidatePrinters(**spooler);
  CEnvironSheet sheet(ctx, values, managed, candidates, start_page, storage_dialog, owner);
  sheet.log_deleted = log_deleted;
  if (sheet.exec() != QDialog::Accepted) return {};
  return ApplyEnvironment(*ctx.settings, *db, spooler.ok() ? spooler->get() : nullptr, sheet.edit(), ctx.today(),
                          *ctx.sink);
}

}  // namespace zv::console
