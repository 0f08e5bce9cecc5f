#include "client/app/settings_pages.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace zv::client::app {
namespace {

QString Id(int id) { return QString::number(id); }
QString U(const char* s) { return QString::fromUtf8(s); }

QRadioButton* Radio(QWidget* parent, QButtonGroup* group, int id, const char* text, int value) {
  auto* r = new QRadioButton(U(text), parent);
  r->setObjectName(Id(id));
  group->addButton(r, value);
  return r;
}

QGroupBox* Group(QWidget* parent, int id, const char* title) {
  auto* g = new QGroupBox(U(title), parent);
  g->setObjectName(Id(id));
  return g;
}

}  // namespace

LayoutPage::LayoutPage(QWidget* parent) : QWidget(parent) {
  setObjectName(Id(135));
  auto* v = new QVBoxLayout(this);
  auto* g1 = Group(this, 1034, "１枚のページ数");
  auto* l1 = new QGridLayout(g1);
  pages_ = new QButtonGroup(this);
  l1->addWidget(Radio(g1, pages_, 1035, "&1ページ", 1), 0, 0);
  l1->addWidget(Radio(g1, pages_, 1037, "&2ページ", 2), 0, 1);
  l1->addWidget(Radio(g1, pages_, 1038, "&4ページ", 4), 1, 0);
  l1->addWidget(Radio(g1, pages_, 1039, "&8ページ", 8), 1, 1);
  auto* g2 = Group(this, 1036, "レイアウト方向");
  auto* l2 = new QVBoxLayout(g2);
  direction_ = new QButtonGroup(this);
  l2->addWidget(Radio(g2, direction_, 1040, "縦方向(&T)", 1));
  l2->addWidget(Radio(g2, direction_, 1041, "横方向(&Y)", 2));
  auto* g3 = Group(this, 1042, "ページ区切り");
  auto* l3 = new QGridLayout(g3);
  separator_ = new QButtonGroup(this);
  l3->addWidget(Radio(g3, separator_, 1043, "縦横(&W)", 0), 0, 0);
  l3->addWidget(Radio(g3, separator_, 1044, "縦(&V)", 1), 0, 1);
  l3->addWidget(Radio(g3, separator_, 1045, "横(&H)", 2), 1, 0);
  l3->addWidget(Radio(g3, separator_, 1046, "なし(&N)", 3), 1, 1);
  // The print-offset group exists and holds values, but is not shown.
  auto* g4 = Group(this, 1047, "印字補正");
  auto* l4 = new QGridLayout(g4);
  auto offset_edit = [&](int id, const char* label, const char* unit, const char* text, int row) {
    auto* e = new QLineEdit(U(text), g4);
    e->setObjectName(Id(id));
    auto* l = new QLabel(U(label), g4);
    l->setBuddy(e);
    l4->addWidget(l, row, 0);
    l4->addWidget(e, row, 1);
    l4->addWidget(new QLabel(U(unit), g4), row, 2);
    e->installEventFilter(this);
    return e;
  };
  top_edit_ = offset_edit(1049, "上位置(&T) :", "mm", "0.0", 0);
  left_edit_ = offset_edit(1053, "左位置(&L) :", "mm", "0.0", 1);
  scale_edit_ = offset_edit(1057, "サイズ(&S) :", "%", "100.0", 2);
  g4->setVisible(false);
  v->addWidget(g1);
  v->addWidget(g2);
  v->addWidget(g3);
  v->addWidget(g4);
  v->addStretch(1);
  pages_->button(1)->setChecked(true);
  direction_->button(1)->setChecked(true);
  separator_->button(3)->setChecked(true);
  connect(pages_, &QButtonGroup::idClicked, this, [this] {
    UpdateEnables();
    emit splitChanged();
  });
  connect(direction_, &QButtonGroup::idClicked, this, [this] { emit splitChanged(); });
  connect(separator_, &QButtonGroup::idClicked, this, [this] { emit splitChanged(); });
  UpdateEnables();
}

void LayoutPage::UpdateEnables() {
  const LayoutEnables e = EnablesFor(pages_->checkedId());
  for (auto* b : direction_->buttons()) b->setEnabled(e.direction);
  for (auto* b : separator_->buttons()) b->setEnabled(e.separators);
}

LayoutChoice LayoutPage::choice() const {
  LayoutChoice c;
  c.pages_per_sheet = pages_->checkedId() > 0 ? pages_->checkedId() : 1;
  c.direction = direction_->checkedId() == 2 ? 2 : 1;
  c.separator = separator_->checkedId() >= 0 ? separator_->checkedId() : 3;
  return c;
}

void LayoutPage::ChoosePages(int pages) {
  if (auto* b = pages_->button(pages)) b->click();
}

void LayoutPage::Load(const ClientSettings& s) {
  pages_->button(PagesPerSheet(s.thumbnail))->setChecked(true);
  direction_->button(s.lodrin == 1 ? 1 : 2)->setChecked(true);
  separator_->button(s.page_line >= 0 && s.page_line <= 3 ? s.page_line : 0)->setChecked(true);
  // Offsets out of range at start-up take their defaults.
  offset_top_ = s.t_offset >= -500 && s.t_offset <= 500 ? s.t_offset : 0;
  offset_left_ = s.l_offset >= -500 && s.l_offset <= 500 ? s.l_offset : 0;
  scale_ = s.dest_size >= 100 && s.dest_size <= 1000 ? s.dest_size : 1000;
  top_ = offset_top_ / 10.0f;
  left_ = offset_left_ / 10.0f;
  scale_value_ = scale_ / 10.0f;
  top_edit_->setText(QString::asprintf("%3.1f", top_));
  left_edit_->setText(QString::asprintf("%3.1f", left_));
  scale_edit_->setText(QString::asprintf("%3.1f", scale_value_));
  UpdateEnables();
  emit splitChanged();
  emit offsetsChanged();
}

QLineEdit* LayoutPage::OffsetEdit(int id) const {
  return id == 1049 ? top_edit_ : id == 1053 ? left_edit_ : id == 1057 ? scale_edit_ : nullptr;
}

const OffsetField& LayoutPage::FieldOf(int id) const {
  return id == 1049 ? kTopOffset : id == 1053 ? kLeftOffset : kScaleOffset;
}

void LayoutPage::ShowOffsetError(QLineEdit* edit) {
  if (!message_guard_ && prompt_ != nullptr) {
    message_guard_ = true;
    prompt_->Show("印字補正の補正値が異常です。", "印字補正エラー", PromptIcon::kStop);
    message_guard_ = false;
  }
  edit->setFocus();
  edit->selectAll();
}

void LayoutPage::SyncTenths() {
  // The request and the settings carry what the fields show, in tenths.
  offset_top_ = OffsetTenths(ReadOffset(top_edit_->text().toStdString()));
  offset_left_ = OffsetTenths(ReadOffset(left_edit_->text().toStdString()));
  scale_ = OffsetTenths(ReadOffset(scale_edit_->text().toStdString()));
}

bool LayoutPage::SetOffset(int id, float value, int step) {
  QLineEdit* edit = OffsetEdit(id);
  if (edit == nullptr) return false;
  const OffsetField& field = FieldOf(id);
  if (value < field.min || value > field.max) {
    ShowOffsetError(edit);
    return false;
  }
  value = StepOffset(value, step, field);
  edit->setText(QString::asprintf("%3.1f", value));
  float& member = id == 1049 ? top_ : id == 1053 ? left_ : scale_value_;
  if (value != member) {
    member = value;
    SyncTenths();
    emit offsetsChanged();
  }
  return true;
}

void LayoutPage::StepField(int id, int delta) {
  QLineEdit* edit = OffsetEdit(id);
  if (edit == nullptr) return;
  const std::string text = edit->text().toStdString();
  if (!IsOffsetNumber(text)) {
    ShowOffsetError(edit);
    return;
  }
  SetOffset(id, ReadOffset(text), delta);
  edit->setFocus();
  edit->selectAll();
}

bool LayoutPage::CheckOffsetError() {
  for (int id : {1049, 1053, 1057}) {
    QLineEdit* edit = OffsetEdit(id);
    if (!edit->hasFocus()) continue;
    const std::string text = edit->text().toStdString();
    if (!IsOffsetNumber(text)) {
      ShowOffsetError(edit);
      return false;
    }
    return SetOffset(id, ReadOffset(text), 0);
  }
  return true;
}

bool LayoutPage::eventFilter(QObject* watched, QEvent* event) {
  auto* edit = qobject_cast<QLineEdit*>(watched);
  if (edit != nullptr && (edit == top_edit_ || edit == left_edit_ || edit == scale_edit_)) {
    const int id = edit->objectName().toInt();
    if (event->type() == QEvent::FocusIn) {
      offset_focus_ = true;
      if (refocus_pending_) {
        refocus_pending_ = false;
        emit offsetResumed();
        edit->selectAll();
      }
    } else if (event->type() == QEvent::FocusOut) {
      const std::string text = edit->text().toStdString();
      const OffsetField& field = FieldOf(id);
      const bool ok = IsOffsetNumber(text) && ReadOffset(text) >= field.min && ReadOffset(text) <= field.max;
      if (ok) {
        SetOffset(id, ReadOffset(text), 0);
        offset_focus_ = false;
      } else if (!message_guard_) {
        message_guard_ = true;
        if (prompt_ != nullptr) prompt_->Show("印字補正の補正値が異常です。", "印字補正エラー", PromptIcon::kStop);
        message_guard_ = false;
        emit offsetRejected();
        QPointer<QLineEdit> back(edit);
        QMetaObject::invokeMethod(
            edit,
            [back] {
              if (back) back->setFocus();
            },
            Qt::QueuedConnection);
        refocus_pending_ = true;
      }
    } else if (event->type() == QEvent::KeyPress) {
      // Enter in a field runs the check, Esc does nothing; the up and down keys step it.
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        CheckOffsetError();
        return true;
      }
      if (key == Qt::Key_Up || key == Qt::Key_Down) {
        StepField(id, key == Qt::Key_Up ? -1 : 1);
        return true;
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

void LayoutPage::Store(ClientSettings* s) const {
  const LayoutChoice c = choice();
  s->thumbnail = ThumbnailCode(c.pages_per_sheet);
  s->lodrin = c.direction;
  s->page_line = c.separator;
  s->t_offset = offset_top_;
  s->l_offset = offset_left_;
  s->dest_size = scale_;
}

void LayoutPage::Fill(RequestOrder* order) const {
  const LayoutChoice c = choice();
  order->orientation = c.direction;
  order->thumbnail = ThumbnailCode(c.pages_per_sheet);
  order->separator = c.separator;
  order->offset_left = offset_left_;
  order->offset_top = offset_top_;
  order->scale = scale_;
}

HeaderPage::HeaderPage(Prompt* prompt, QWidget* parent) : QWidget(parent), prompt_(prompt) {
  setObjectName(Id(146));
  auto* v = new QVBoxLayout(this);
  auto* g1 = Group(this, 1073, "ヘッダ・フッタの選択");
  auto* l1 = new QGridLayout(g1);
  auto* which = new QButtonGroup(this);
  header_ = Radio(g1, which, 1076, "ヘッダ(&T)", 0);
  auto* footer = Radio(g1, which, 1077, "フッタ(&B)", 1);
  header_->setChecked(true);
  list_ = new QComboBox(g1);
  list_->setObjectName(Id(1070));
  l1->addWidget(header_, 0, 0);
  l1->addWidget(footer, 0, 1);
  l1->addWidget(list_, 1, 0, 1, 2);
  auto* g2 = Group(this, 1082, "編集");
  auto* l2 = new QGridLayout(g2);
  const char* labels[] = {"左側:", "中央:", "右側:"};
  const int ids[] = {1088, 1089, 1090};
  for (int i = 0; i < 3; ++i) {
    edits_[i] = new QLineEdit(g2);
    edits_[i]->setObjectName(Id(ids[i]));
    edits_[i]->setMaxLength(256);
    l2->addWidget(new QLabel(U(labels[i]), g2), i, 0);
    l2->addWidget(edits_[i], i, 1);
    connect(edits_[i], &QLineEdit::textEdited, this, [this] {
      KeepTexts();
      emit textsChanged();
    });
  }
  auto* g3 = Group(this, 1075, "適用ページ");
  auto* l3 = new QVBoxLayout(g3);
  auto* applies = new QButtonGroup(this);
  auto* all = Radio(g3, applies, 1079, "全ページ(&E)", 0);
  l3->addWidget(all);
  l3->addWidget(Radio(g3, applies, 1078, "先頭のみ(&1)", 1));
  all->setChecked(true);
  connect(applies, &QButtonGroup::idClicked, this, [this](int id) {
    first_only_ = id == 1;
    emit textsChanged();
  });
  v->addWidget(g1);
  v->addWidget(g2);
  v->addWidget(g3);
  v->addStretch(1);
  connect(which, &QButtonGroup::idClicked, this, [this] { ShowTexts(); });
  connect(list_, &QComboBox::activated, this, [this](int index) {
    formats_.Select(index);
    if (index < 0 || index >= static_cast<int>(formats_.items().size())) return;
    const auto& it = formats_.items()[index];
    const int side = header_->isChecked() ? 0 : 1;
    texts_[side][0] = it.left;
    texts_[side][1] = it.center;
    texts_[side][2] = it.right;
    ShowTexts();
    emit textsChanged();
  });
}

void HeaderPage::ShowTexts() {
  const int side = header_->isChecked() ? 0 : 1;
  for (int i = 0; i < 3; ++i) edits_[i]->setText(QString::fromStdString(texts_[side][i]));
}

void HeaderPage::KeepTexts() {
  const int side = header_->isChecked() ? 0 : 1;
  for (int i = 0; i < 3; ++i) texts_[side][i] = edits_[i]->text().toStdString();
}

void HeaderPage::LoadFormats(const std::string& folder) {
  folder_ = folder;
  formats_.Load(folder);
  if (formats_.items().empty()) formats_.Add("なし", "", "", "", nullptr);
  list_->clear();
  for (const auto& it : formats_.items()) list_->addItem(QString::fromStdString(it.name));
  list_->setCurrentIndex(0);
  formats_.Select(0);
}

bool HeaderPage::SaveAs(const std::string& name) {
  KeepTexts();
  const int side = header_->isChecked() ? 0 : 1;
  if (!formats_.Add(name, texts_[side][0], texts_[side][1], texts_[side][2], prompt_)) return false;
  if (Status st = formats_.Save(folder_); !st.ok()) return false;
  list_->addItem(QString::fromStdString(name));
  list_->setCurrentIndex(list_->count() - 1);
  return true;
}

void HeaderPage::Fill(RequestOrder* order) const {
  order->h_left = texts_[0][0];
  order->h_center = texts_[0][1];
  order->h_right = texts_[0][2];
  order->f_left = texts_[1][0];
  order->f_center = texts_[1][1];
  order->f_right = texts_[1][2];
  order->page_mode = first_only_ ? 0 : 1;
}

CopiesPage::CopiesPage(QWidget* parent) : QWidget(parent) {
  setObjectName(Id(133));
  auto* v = new QVBoxLayout(this);
  auto* g1 = Group(this, 1019, "印刷範囲");
  auto* l1 = new QGridLayout(g1);
  auto* range = new QButtonGroup(this);
  all_ = Radio(g1, range, 1020, "すべて(&W)", 1);
  span_ = Radio(g1, range, 1021, "ページ指定(&G)", 2);
  first_ = new QSpinBox(g1);
  first_->setObjectName(Id(1022));
  last_ = new QSpinBox(g1);
  last_->setObjectName(Id(1025));
  for (QSpinBox* s : {first_, last_}) s->setRange(1, 999);
  l1->addWidget(all_, 0, 0, 1, 2);
  l1->addWidget(span_, 1, 0, 1, 2);
  l1->addWidget(first_, 2, 0);
  l1->addWidget(new QLabel(U("ページから(&K)"), g1), 2, 1);
  l1->addWidget(last_, 3, 0);
  l1->addWidget(new QLabel(U("ページまで(&M)"), g1), 3, 1);
  auto* g2 = Group(this, 1028, "印刷部数");
  auto* l2 = new QGridLayout(g2);
  copies_ = new QLineEdit(g2);
  copies_->setObjectName(Id(1030));
  copies_->setText("1");
  copies_->installEventFilter(this);
  collate_ = new QCheckBox(U("部数単位で印刷(&O)"), g2);
  collate_->setObjectName(Id(1032));
  dup_check_ = new QCheckBox(U("2重印刷をチェックする(&2)"), g2);
  dup_check_->setObjectName(Id(1033));
  l2->addWidget(new QLabel(U("部数(&B):"), g2), 0, 0);
  l2->addWidget(copies_, 0, 1);
  l2->addWidget(collate_, 1, 0, 1, 2);
  l2->addWidget(dup_check_, 2, 0, 1, 2);
  v->addWidget(g1);
  v->addWidget(g2);
  v->addStretch(1);
  auto spans = [this](bool on) {
    first_->setEnabled(on);
    last_->setEnabled(on);
  };
  connect(span_, &QRadioButton::toggled, this, spans);
  connect(copies_, &QLineEdit::editingFinished, this, &CopiesPage::ClampCopiesField);
  all_->setChecked(true);
  spans(false);
}

bool CopiesPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == copies_ && event->type() == QEvent::FocusOut) ClampCopiesField();
  return QWidget::eventFilter(watched, event);
}

void CopiesPage::ClampCopiesField() { copies_->setText(QString::number(ClampCopies(copies_->text().toStdString()))); }

void CopiesPage::Load(const ClientSettings& s) {
  copies_->setText(QString::number(s.copies >= 1 && s.copies <= 100 ? s.copies : 1));
  collate_->setChecked(s.collate != 0);
  dup_check_->setChecked(s.dup_check != 0);
}

void CopiesPage::Store(ClientSettings* s) const {
  s->copies = ClampCopies(copies_->text().toStdString());
  s->collate = collate_->isChecked() ? 1 : 0;
  if (dup_check_->isEnabled()) s->dup_check = dup_check_->isChecked() ? 1 : 0;
}

void CopiesPage::SetDlgDuplication(int mode) {
  dup_check_->setEnabled(mode == 1);
  if (mode != 1) dup_check_->setChecked(true);
}

bool CopiesPage::GetDuplicationCheck() const { return dup_check_->isChecked(); }

bool CopiesPage::range_chosen() const { return span_->isChecked(); }
int CopiesPage::first_page() const { return first_->value(); }
int CopiesPage::last_page() const { return last_->value(); }

void CopiesPage::FocusRangeField(int id) {
  QSpinBox* field = id == 1022 ? first_ : id == 1025 ? last_ : nullptr;
  if (field == nullptr) return;
  field->setFocus();
  field->selectAll();
}

void CopiesPage::Fill(RequestOrder* order) const {
  order->copies = ClampCopies(copies_->text().toStdString());
  order->collate = collate_->isChecked();
  if (span_->isChecked()) {
    order->first_page = first_->value();
    order->last_page = last_->value();
  } else {
    order->first_page = order->last_page = 0;
  }
}

}  // namespace zv::client::app
