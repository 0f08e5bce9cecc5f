#include "console/tavolent/dialogs.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

namespace zv::console {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// Gives a widget its control id as object name and the field name the checks focus.
template <typename W>
W* Field(W* w, const char* id, const char* field) {
  w->setObjectName(id);
  w->setProperty("field", field);
  return w;
}

QDialogButtonBox* OkCancel(QDialog* d) {
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, d);
  box->button(QDialogButtonBox::Ok)->setObjectName("b1");
  box->button(QDialogButtonBox::Cancel)->setObjectName("b2");
  QObject::connect(box, &QDialogButtonBox::accepted, d, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, d, &QDialog::reject);
  return box;
}

QSpinBox* Spin(int lo, int hi, int v, const char* id, const char* field) {
  auto* s = Field(new QSpinBox, id, field);
  s->setRange(lo, hi);
  s->setValue(v);
  return s;
}

constexpr int kLimitMin = 1, kLimitMax = 32767;

QDate ToDate(int32_t ymd) { return QDate(ymd / 10000, ymd / 100 % 100, ymd % 100); }
int32_t FromDate(const QDate& d) { return d.year() * 10000 + d.month() * 100 + d.day(); }

}  // namespace

QFont ConsoleFont() {
  QFont f("IPAPGothic");
  f.setPixelSize(12);
  return f;
}

QIcon ConsoleIcon() { return QApplication::style()->standardIcon(QStyle::SP_ComputerIcon); }

int QtMessageSink::Show(const std::string& text, uint32_t style) {
  const bool question = style == kStyleQuestion;
  QMessageBox box(question               ? QMessageBox::Question
                  : style == kStyleError ? QMessageBox::Critical
                                         : QMessageBox::Warning,
                  "Zelvoraエクスプローラ", Q(text), question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                  owner_);
  box.setFont(ConsoleFont());
  const int r = box.exec();
  return r == QMessageBox::Yes ? kIdYes : r == QMessageBox::No ? kIdNo : kIdOk;
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("d100");
  setFont(ConsoleFont());
  setWindowTitle("バージョン情報");
  setWindowIcon(ConsoleIcon());
  auto* icon = new QLabel;
  icon->setObjectName("i128");
  icon->setPixmap(ConsoleIcon().pixmap(32, 32));
  auto* text = new QLabel("Zelvoraエクスプローラ\nバージョン " ZELVORA_VERSION_TEXT);
  text->setObjectName("s_about");
  auto* row = new QHBoxLayout;
  row->addWidget(icon, 0, Qt::AlignTop);
  row->addWidget(text, 1);
  auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  ok->button(QDialogButtonBox::Ok)->setObjectName("b1");
  connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* lay = new QVBoxLayout(this);
  lay->addLayout(row);
  lay->addWidget(ok);
}

bool ApplyVerdict(QWidget* dialog, MessageSink& sink, const Verdict& verdict) {
  if (verdict.ok) return true;
  if (verdict.message >= 0) ShowFilledMessage(sink, verdict.message, verdict.text);
  if (!verdict.focus.empty()) {
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
      if (w->property("field").toString() == Q(verdict.focus)) {
        w->setFocus();
        break;
      }
    }
  }
  return false;
}

// ---- lock and password ----

CSettingsLockDlg::CSettingsLockDlg(MessageSink& sink, bool lock_mode, std::string current, QWidget* parent)
    : QDialog(parent), sink_(sink), lock_mode_(lock_mode), current_(std::move(current)) {
  setObjectName("d170");
  setFont(ConsoleFont());
  setWindowTitle(lock_mode ? "設定情報のロック" : "ロックの解除");
  auto* note = new QLabel(lock_mode ? "現在の設定情報を第三者が変更できないようにロックします。"
                                      "パスワードを入力し[OK]をクリックしてください。"
                                    : "設定情報のロックを解除します。パスワードを入力し\n[OK]をクリックしてください。");
  note->setObjectName("s1005");
  note->setWordWrap(true);
  entry_ = Field(new QLineEdit, "e1004", "password");
  entry_->setEchoMode(QLineEdit::Password);
  auto* lay = new QVBoxLayout(this);
  lay->addWidget(note);
  lay->addWidget(entry_);
  lay->addWidget(OkCancel(this));
}

void CSettingsLockDlg::accept() {
  if (ApplyVerdict(this, sink_, CheckLockEntry(S(entry_->text()), current_, lock_mode_))) QDialog::accept();
}

CPasswordDlg::CPasswordDlg(MessageSink& sink, const std::string& preset, QWidget* parent)
    : QDialog(parent), sink_(sink) {
  setObjectName("d169");
  setFont(ConsoleFont());
  setWindowTitle("パスワードの設定");
  password_ = Field(new QLineEdit(Q(preset)), "e1003", "password");
  confirm_ = Field(new QLineEdit, "e1004", "confirm");
  password_->setEchoMode(QLineEdit::Password);
  confirm_->setEchoMode(QLineEdit::Password);
  auto* form = new QFormLayout(this);
  form->addRow("パスワード(&P):", password_);
  form->addRow("パスワードの確認(&C):", confirm_);
  form->addRow(OkCancel(this));
}

std::string CPasswordDlg::password() const { return S(password_->text()); }

void CPasswordDlg::accept() {
  if (ApplyVerdict(this, sink_, CheckNewPassword(S(password_->text()), S(confirm_->text())))) QDialog::accept();
}

// ---- mail settings ----

CMailSettingsDlg::CMailSettingsDlg(MessageSink& sink, const MailSettings& preset, QWidget* parent)
    : QDialog(parent), sink_(sink) {
  setObjectName("d179");
  setFont(ConsoleFont());
  setWindowTitle("メールの設定");
  server_ = Field(new QLineEdit(Q(preset.server)), "e1049", "server");
  port_ = Field(new QLineEdit(QString::number(preset.port)), "e1050", "port");
  port_->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), port_));
  admin_ = Field(new QLineEdit(Q(preset.admin)), "e1051", "admin");
  sender_ = Field(new QLineEdit(Q(preset.sender)), "e1052", "sender");
  auto* form = new QFormLayout(this);
  form->addRow("送信メール(&SMTP):", server_);
  form->addRow("ポート番号(&P):", port_);
  form->addRow("管理者のメールアドレス(&A):", admin_);
  form->addRow("送信元に使用するメールアドレス(&F):", sender_);
  form->addRow(OkCancel(this));
}

MailSettings CMailSettingsDlg::value() const {
  return {S(server_->text()), port_->text().toLongLong(), S(admin_->text()), S(sender_->text())};
}

void CMailSettingsDlg::accept() {
  MailSettings v = value();
  if (ApplyVerdict(this, sink_, CheckMailSettings(v.server, v.port, v.admin, v.sender))) QDialog::accept();
}

// ---- period ----

CPeriodDlg::CPeriodDlg(MessageSink& sink, const PeriodChoice& preset, int32_t today, QWidget* parent)
    : QDialog(parent), sink_(sink) {
  setObjectName("d173");
  setFont(ConsoleFont());
  setWindowTitle("期間指定");
  months_radio_ = Field(new QRadioButton("過去(&M)"), "r1013", "choice");
  days_radio_ = Field(new QRadioButton("過去(&D)"), "r1014", "choice");
  range_radio_ = Field(new QRadioButton("日付指定(&B)"), "r1015", "choice");
  (preset.choice == 1 ? days_radio_ : preset.choice == 2 ? range_radio_ : months_radio_)->setChecked(true);
  months_ = Spin(1, 99, std::clamp(preset.months, 1, 99), "e1016", "months");
  days_ = Spin(1, 999, std::clamp(preset.days, 1, 999), "e1017", "days");
  auto picker = [&](int32_t ymd, const char* id, const char* field) {
    auto* d = Field(new QDateEdit(ToDate(ymd ? ymd : today)), id, field);
    d->setDisplayFormat("yyyy'/'MM'/'dd");
    d->setCalendarPopup(true);
    return d;
  };
  from_ = picker(preset.from, "dt1026", "from");
  to_ = picker(preset.to, "dt1027", "to");
  auto* form = new QFormLayout(this);
  form->addRow(months_radio_, months_);
  form->addRow(new QLabel("ヶ月間"));
  form->addRow(days_radio_, days_);
  form->addRow(new QLabel("日間"));
  form->addRow(range_radio_, from_);
  form->addRow("～", to_);
  form->addRow(OkCancel(this));
  for (QRadioButton* r : {months_radio_, days_radio_, range_radio_})
    connect(r, &QRadioButton::toggled, this, [this] { Enable(); });
  Enable();
}

void CPeriodDlg::Enable() {
  months_->setEnabled(months_radio_->isChecked());
  days_->setEnabled(days_radio_->isChecked());
  from_->setEnabled(range_radio_->isChecked());
  to_->setEnabled(range_radio_->isChecked());
}

PeriodChoice CPeriodDlg::value() const {
  PeriodChoice v;
  v.choice = days_radio_->isChecked() ? 1 : range_radio_->isChecked() ? 2 : 0;
  v.months = months_->value();
  v.days = days_->value();
  v.from = FromDate(from_->date());
  v.to = FromDate(to_->date());
  return v;
}

void CPeriodDlg::accept() {
  PeriodChoice v = value();
  if (ApplyVerdict(this, sink_, CheckPeriodDialog(v.choice, v.months, v.days, v.from, v.to))) QDialog::accept();
}

// ---- thumbnail print ----

CThumbnailPrintDlg::CThumbnailPrintDlg(int32_t count, QWidget* parent) : QDialog(parent) {
  setObjectName("d171");
  setFont(ConsoleFont());
  setWindowTitle("サムネイル印刷設定");
  on_ = new QCheckBox("サムネイル印刷を行なう(&T)");
  on_->setObjectName("c1006");
  on_->setChecked(count != 0);
  const char* texts[3] = {"&2ページ", "&4ページ", "&8ページ"};
  const char* ids[3] = {"r1007", "r1008", "r1009"};
  auto* lay = new QVBoxLayout(this);
  lay->addWidget(on_);
  for (int i = 0; i < 3; ++i) {
    pages_[i] = new QRadioButton(texts[i]);
    pages_[i]->setObjectName(ids[i]);
    lay->addWidget(pages_[i]);
  }
  pages_[count <= 1 ? 0 : count == 2 ? 1 : 2]->setChecked(true);
  lay->addWidget(OkCancel(this));
  connect(on_, &QCheckBox::toggled, this, [this] { Enable(); });
  Enable();
}

void CThumbnailPrintDlg::Enable() {
  for (QRadioButton* r : pages_) r->setEnabled(on_->isChecked());
}

int32_t CThumbnailPrintDlg::value() const {
  if (!on_->isChecked()) return 0;
  return pages_[2]->isChecked() ? 3 : pages_[1]->isChecked() ? 2 : 1;
}

// ---- group and user ----

engine::GroupRecord NewGroupRecord() { return {0, "", 50, 20, 0}; }

engine::UserRecord NewUserRecord(int32_t gid) {
  engine::UserRecord u;
  u.GID = gid;
  u.CountShubetsu = 1;
  u.MaxPages = 100;
  u.MaxPages_Color = 100;
  return u;
}

CGroupPropertyDlg::CGroupPropertyDlg(MessageSink& sink, const engine::GroupRecord& preset,
                                     std::vector<std::string> other_names, QWidget* parent)
    : QDialog(parent), sink_(sink), record_(preset), others_(std::move(other_names)) {
  setObjectName("d168");
  setFont(ConsoleFont());
  setWindowTitle(preset.GID ? "グループのプロパティ" : "グループの登録");
  name_ = Field(new QLineEdit(Q(preset.GroupName)), "e1000", "name");
  // A stored limit outside the range shows as it is (0 for none) rather than clamped: OK
  // refuses it with message 9 instead of storing another number.
  mono_ = new LimitSpin(preset.MaxPages, "e1001", "mono");
  color_ = new LimitSpin(preset.MaxPages_Color, "e1003", "color");
  auto* form = new QFormLayout(this);
  form->addRow("グループ名(&N):", name_);
  form->addRow("印刷可能枚数-カラー(&C):", color_);
  form->addRow("印刷可能枚数-モノクロ(&M):", mono_);
  form->addRow(OkCancel(this));
}

engine::GroupRecord CGroupPropertyDlg::value() const {
  engine::GroupRecord g = record_;
  g.GroupName = S(name_->text());
  g.MaxPages = mono_->limit();
  g.MaxPages_Color = color_->limit();
  return g;
}

void CGroupPropertyDlg::accept() {
  engine::GroupRecord g = value();
  if (ApplyVerdict(this, sink_, CheckGroupDialog(g.GroupName, g.MaxPages, g.MaxPages_Color, others_)))
    QDialog::accept();
}

LimitSpin::LimitSpin(int stored, const char* id, const char* field, QWidget* parent) : QSpinBox(parent) {
  setObjectName(id);
  setProperty("field", field);
  if (stored < kLimitMin || stored > kLimitMax) held_ = stored;
  setRange(kLimitMin, kLimitMax);
  setValue(std::clamp(stored, kLimitMin, kLimitMax));
  lineEdit()->setText(textFromValue(value()));
  // What the administrator types, or a number set, replaces a kept one.
  connect(lineEdit(), &QLineEdit::textEdited, this, [this] { held_.reset(); });
  connect(this, &QSpinBox::valueChanged, this, [this] { Reset(); });
}

int LimitSpin::limit() const { return held_ ? *held_ : value(); }

void LimitSpin::Reset() {
  if (!held_) return;
  held_.reset();
  lineEdit()->setText(textFromValue(value()));
}

void LimitSpin::stepBy(int steps) {
  if (held_) {
    Reset();
    return;
  }
  QSpinBox::stepBy(steps);
}

QString LimitSpin::textFromValue(int value) const {
  return held_ ? QString::number(*held_) : QSpinBox::textFromValue(value);
}

CUserPropertyDlg::CUserPropertyDlg(MessageSink& sink, const engine::UserRecord& preset,
                                   const engine::UserLimits& system, const std::vector<engine::GroupRecord>& groups,
                                   std::vector<KnownUser> users, QWidget* parent)
    : QDialog(parent), sink_(sink), record_(preset), users_(std::move(users)) {
  setObjectName("d174");
  setFont(ConsoleFont());
  setWindowTitle(preset.UID ? "ユーザのプロパティ" : "ユーザの登録");
  for (const auto& g : groups)
    if (g.GID == preset.GID) group_record_ = g;
  group_ = Field(new QLineEdit, "e1040", "group");
  group_->setReadOnly(true);
  account_ = Field(new QLineEdit(Q(preset.Account)), "e1027", "account");
  user_name_ = Field(new QLineEdit(Q(preset.UserName)), "e1029", "username");
  mail_ = Field(new QLineEdit(Q(preset.Mail)), "e1032", "mail");
  // The own limits show the user's own only in the own mode; otherwise the dialog's 100.
  const bool own = preset.CountShubetsu == 3;
  mono_ = new LimitSpin(own ? preset.MaxPages : 100, "e1034", "mono");
  color_ = new LimitSpin(own ? preset.MaxPages_Color : 100, "e1035", "color");
  auto* form = new QFormLayout(this);
  choose_ = new QPushButton("グループの選択(&C)...");
  choose_->setObjectName("b4");
  choose_->setEnabled(false);
  connect(choose_, &QPushButton::clicked, this, [this] {
    if (!chooser_) return;
    const auto chosen = chooser_(group_record_);
    if (!chosen) return;
    group_record_ = *chosen;
    group_changed_ = true;
    ShowGroup();
  });
  pick_ = new QPushButton("ドメインから選択(&D)...");
  pick_->setObjectName("b3");
  pick_->hide();
  connect(pick_, &QPushButton::clicked, this, [this] {
    if (!picker_) return;
    const auto picked = picker_();
    if (!picked) return;
    account_->setText(Q(picked->first));
    user_name_->setText(Q(picked->second));
  });
  auto* account_row = new QHBoxLayout;
  account_row->addWidget(account_, 1);
  account_row->addWidget(pick_);
  // A row holding a layout gets no buddy from the form: give the labels their fields, or the
  // access keys show as a literal "&".
  auto* account_label = new QLabel("アカウント(&A):");
  account_label->setBuddy(account_);
  form->addRow(account_label, account_row);
  form->addRow("ユーザ名(&U):", user_name_);
  auto* group_row = new QHBoxLayout;
  group_row->addWidget(group_, 1);
  group_row->addWidget(choose_);
  auto* group_label = new QLabel("グループ(&G):");
  group_label->setBuddy(group_);
  form->addRow(group_label, group_row);
  form->addRow("メールアドレス(&M):", mail_);

  // The limit modes, each with the limits it brings: the system's and the group's as
  // numbers, the user's own in the two edits.
  auto* box = new QGroupBox("印刷可能枚数");
  auto* grid = new QGridLayout(box);
  mode_ = new QButtonGroup(this);
  const std::pair<const char*, const char*> modes[] = {{"r1028", "制限しない(&N)"},
                                                       {"r1030", "デフォルトの設定に従う(&S)"},
                                                       {"r1031", "グループの設定に従う(&R)"},
                                                       {"r1033", "ユーザ個別に指定する(&P)"}};
  for (int m = 0; m < 4; ++m) {
    auto* radio = new QRadioButton(QString::fromUtf8(modes[m].second));
    radio->setObjectName(modes[m].first);
    radio->setProperty("field", "kind");
    mode_->addButton(radio, m);
    grid->addWidget(radio, m, 0);
  }
  auto number = [](const char* id) {
    auto* l = new QLabel;
    l->setObjectName(id);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->setMinimumWidth(48);
    return l;
  };
  QLabel* system_color = number("s1044");
  QLabel* system_mono = number("s1038");
  system_color->setText(QString::number(system.color));
  system_mono->setText(QString::number(system.mono));
  group_color_ = number("s1043");
  group_mono_ = number("s1039");
  grid->addWidget(new QLabel("カラー:"), 1, 1);
  grid->addWidget(system_color, 1, 2);
  grid->addWidget(new QLabel("モノクロ:"), 1, 3);
  grid->addWidget(system_mono, 1, 4);
  grid->addWidget(new QLabel("カラー:"), 2, 1);
  grid->addWidget(group_color_, 2, 2);
  grid->addWidget(new QLabel("モノクロ:"), 2, 3);
  grid->addWidget(group_mono_, 2, 4);
  auto* color_label = new QLabel("カラー(&K):");
  color_label->setBuddy(color_);
  auto* mono_label = new QLabel("モノクロ(&T):");
  mono_label->setBuddy(mono_);
  grid->addWidget(color_label, 3, 1);
  grid->addWidget(color_, 3, 2);
  grid->addWidget(mono_label, 3, 3);
  grid->addWidget(mono_, 3, 4);
  grid->setColumnStretch(0, 1);
  form->addRow(box);
  form->addRow(OkCancel(this));

  QAbstractButton* chosen = mode_->button(preset.CountShubetsu);
  (chosen ? chosen : mode_->button(0))->setChecked(true);
  auto enable = [this, color_label, mono_label] {
    const bool own_mode = Mode() == 3;
    for (QWidget* w : std::initializer_list<QWidget*>{color_, mono_, color_label, mono_label}) w->setEnabled(own_mode);
  };
  // Choosing a mode first sets both spins to their own positions again: a kept outside
  // number gives way to the nearest limit.
  connect(mode_, &QButtonGroup::idToggled, this, [this, enable](int, bool on) {
    if (!on) return;
    mono_->Reset();
    color_->Reset();
    enable();
  });
  enable();
  ShowGroup();
  // The dialog sees every key before its controls do.
  for (QWidget* w : findChildren<QWidget*>()) w->installEventFilter(this);
  installEventFilter(this);
}

bool CUserPropertyDlg::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride) return QDialog::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  if ((key->key() != Qt::Key_K && key->key() != Qt::Key_T) || mono_->isEnabled())
    return QDialog::eventFilter(watched, event);
  const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
  const bool alt = mods == Qt::AltModifier;
  const bool plain = mods == Qt::NoModifier || mods == Qt::ShiftModifier;
  QWidget* focus = QApplication::focusWidget();
  const bool in_text = focus == account_ || focus == user_name_ || focus == mail_;
  if (!alt && !(plain && !in_text)) return QDialog::eventFilter(watched, event);
  // Taken here: no shortcut fires, and the control never gets the key.
  event->accept();
  return true;
}

int CUserPropertyDlg::Mode() const { return std::max(0, mode_->checkedId()); }

void CUserPropertyDlg::ShowGroup() {
  const bool known = group_record_.GID != 0;
  group_->setText(known ? Q(group_record_.GroupName) : QString());
  group_mono_->setText(known ? QString::number(group_record_.MaxPages) : QString());
  group_color_->setText(known ? QString::number(group_record_.MaxPages_Color) : QString());
}

engine::UserRecord CUserPropertyDlg::value() const {
  engine::UserRecord u = record_;
  u.GID = group_record_.GID;
  u.Account = S(account_->text());
  u.UserName = S(user_name_->text());
  u.Mail = S(mail_->text());
  u.CountShubetsu = static_cast<int16_t>(Mode());
  // The own limits are the user's only in the own mode; other modes keep what was stored.
  if (u.CountShubetsu == 3) {
    u.MaxPages = mono_->limit();
    u.MaxPages_Color = color_->limit();
  }
  return u;
}

void CUserPropertyDlg::accept() {
  engine::UserRecord u = value();
  UserDialogInput in{u.GID,           u.Account,  u.UserName,       u.Mail,
                     u.CountShubetsu, u.MaxPages, u.MaxPages_Color, record_.UID ? record_.Account : std::string()};
  if (!ApplyVerdict(this, sink_, CheckUserDialog(in, users_))) return;
  const engine::UserRecord& o = record_;
  const bool own_same = u.CountShubetsu != 3 || (u.MaxPages == o.MaxPages && u.MaxPages_Color == o.MaxPages_Color);
  if (o.UID != 0 && u.Account == o.Account && u.UserName == o.UserName && u.GID == o.GID &&
      u.CountShubetsu == o.CountShubetsu && own_same && u.Mail == o.Mail && !group_changed_) {
    QDialog::reject();
    return;
  }
  QDialog::accept();
}

void CUserPropertyDlg::SetGroupChooser(
    std::function<std::optional<engine::GroupRecord>(const engine::GroupRecord&)> chooser) {
  chooser_ = std::move(chooser);
  choose_->setEnabled(static_cast<bool>(chooser_));
}

void CUserPropertyDlg::SetAccountPicker(std::function<std::optional<std::pair<std::string, std::string>>()> picker) {
  picker_ = std::move(picker);
  pick_->setVisible(static_cast<bool>(picker_));
}

}  // namespace zv::console
