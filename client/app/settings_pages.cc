#include "client/app/settings_pages.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFontDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/codepage/codepage.h"
#include "platform/gdi/dc.h"
#include "platform/gdi/fonts.h"
#include "viewer/qt/prompter.h"

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

_CLayout::_CLayout(QWidget* parent) : QWidget(parent) {
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
  // Each click runs its handler, which hands the choice to the preview (SetDispSplit).
  auto split = [this](const std::string& handler) {
    Trace("_CLayout::" + handler + " IN");
    Trace("_CLayout::SetDispSplit IN");
    emit splitChanged();
    Trace("_CLayout::SetDispSplit OUT");
    Trace("_CLayout::" + handler + " OUT");
  };
  connect(pages_, &QButtonGroup::idClicked, this, [this, split](int pages) {
    UpdateEnables();
    split("OnLayoutGpage" + std::to_string(pages));
  });
  connect(direction_, &QButtonGroup::idClicked, this,
          [split](int id) { split(id == 1 ? "OnLayoutGdirectTate" : "OnLayoutGdirectYoko"); });
  connect(separator_, &QButtonGroup::idClicked, this, [split](int id) {
    const char* names[] = {"OnLayoutGkugiriAll", "OnLayoutGkugiriTate", "OnLayoutGkugiriYoko", "OnLayoutGkugiriNon"};
    split(names[std::clamp(id, 0, 3)]);
  });
  UpdateEnables();
}

void _CLayout::UpdateEnables() {
  const LayoutEnables e = EnablesFor(pages_->checkedId());
  for (auto* b : direction_->buttons()) b->setEnabled(e.direction);
  for (auto* b : separator_->buttons()) b->setEnabled(e.separators);
}

LayoutChoice _CLayout::choice() const {
  LayoutChoice c;
  c.pages_per_sheet = pages_->checkedId() > 0 ? pages_->checkedId() : 1;
  c.direction = direction_->checkedId() == 2 ? 2 : 1;
  c.separator = separator_->checkedId() >= 0 ? separator_->checkedId() : 3;
  return c;
}

void _CLayout::SetDlgPageFocus() {
  Trace("_CLayout::SetDlgPageFocus IN");
  if (QAbstractButton* chosen = pages_->checkedButton()) chosen->setFocus(Qt::ActiveWindowFocusReason);
  UpdateEnables();
  Trace("_CLayout::SetDlgPageFocus OUT");
}

void _CLayout::ChoosePages(int pages) {
  if (auto* b = pages_->button(pages)) b->click();
}

void _CLayout::Load(const ClientSettings& s) {
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

QLineEdit* _CLayout::OffsetEdit(int id) const {
  return id == 1049 ? top_edit_ : id == 1053 ? left_edit_ : id == 1057 ? scale_edit_ : nullptr;
}

const OffsetField& _CLayout::FieldOf(int id) const {
  return id == 1049 ? kTopOffset : id == 1053 ? kLeftOffset : kScaleOffset;
}

void _CLayout::ShowOffsetError(QLineEdit* edit) {
  if (!message_guard_ && prompt_ != nullptr) {
    message_guard_ = true;
    prompt_->Show("印字補正の補正値が異常です。", "印字補正エラー", PromptIcon::kStop);
    message_guard_ = false;
  }
  edit->setFocus();
  edit->selectAll();
}

void _CLayout::SyncTenths() {
  // The request and the settings carry what the fields show, in tenths.
  offset_top_ = OffsetTenths(ReadOffset(top_edit_->text().toStdString()));
  offset_left_ = OffsetTenths(ReadOffset(left_edit_->text().toStdString()));
  scale_ = OffsetTenths(ReadOffset(scale_edit_->text().toStdString()));
}

bool _CLayout::SetOffset(int id, float value, int step) {
  QLineEdit* edit = OffsetEdit(id);
  if (edit == nullptr) return false;
  const std::string name = std::string("_CLayout::") + (id == 1049   ? "SetOffSetTop"
                                                        : id == 1053 ? "SetOffSetLeft"
                                                                     : "SetOffSetSize");
  Trace(name + " IN");
  const OffsetField& field = FieldOf(id);
  if (value < field.min || value > field.max) {
    ShowOffsetError(edit);
    Trace(name + " 1 OUT");
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
  Trace(name + " OUT");
  return true;
}

void _CLayout::StepField(int id, int delta) {
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

bool _CLayout::CheckOffsetError() {
  Trace("_CLayout::CheckOffSetErr IN");
  for (int id : {1049, 1053, 1057}) {
    QLineEdit* edit = OffsetEdit(id);
    if (!edit->hasFocus()) continue;
    const std::string text = edit->text().toStdString();
    if (!IsOffsetNumber(text)) {
      ShowOffsetError(edit);
      Trace("_CLayout::CheckOffSetErr 2 OUT");
      return false;
    }
    const bool ok = SetOffset(id, ReadOffset(text), 0);
    Trace("_CLayout::CheckOffSetErr 3 OUT");
    return ok;
  }
  Trace("_CLayout::CheckOffSetErr 1 OUT");
  return true;
}

bool _CLayout::eventFilter(QObject* watched, QEvent* event) {
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

void _CLayout::Store(ClientSettings* s) const {
  const LayoutChoice c = choice();
  s->thumbnail = ThumbnailCode(c.pages_per_sheet);
  s->lodrin = c.direction;
  s->page_line = c.separator;
  s->t_offset = offset_top_;
  s->l_offset = offset_left_;
  s->dest_size = scale_;
}

void _CLayout::Fill(RequestOrder* order) const {
  // Each value as its accessor gives it, traced as the accessor.
  auto get = [this](const char* accessor, auto value) {
    Trace(std::string("_CLayout::") + accessor + " IN");
    const auto v = value();
    Trace(std::string("_CLayout::") + accessor + " OUT");
    return v;
  };
  order->orientation = get("GetOrderOrientation", [this] { return choice().direction; });
  order->thumbnail = get("GetOrderThumbnailCount", [this] { return ThumbnailCode(choice().pages_per_sheet); });
  order->separator = get("GetOrderSeparator", [this] { return choice().separator; });
  order->offset_left = get("GetOrderOffsetLeft", [this] { return offset_left_; });
  order->offset_top = get("GetOrderOffsetTop", [this] { return offset_top_; });
  order->scale = get("GetOrderOffsetScale", [this] { return scale_; });
}

namespace {

// The buttons of the header page that show an icon: id, tooltip, the glyph drawn as icon.
struct IconButton {
  int id;
  const char* tip;
  const char* glyph;
};
constexpr IconButton kListButtons[] = {{1084, "名前の変更", "名"}, {1083, "削除", "×"}, {1094, "保存", "保"}};
constexpr IconButton kFontButton = {1091, "フォント", "Ａ"};

// The token buttons: id, tooltip, icon glyph and the token put into the text.
struct TokenButton {
  int id;
  const char* tip;
  const char* glyph;
  const char* token;
};
constexpr TokenButton kTokenButtons[] = {
    {1092, "ページ数", "頁", "<ページ>"},
    {1093, "総ページ数", "総", "<総ページ>"},
    {1095, "日付", "日", "<日付>"},
    {1100, "時刻", "時", "<時刻>"},
    {1096, "ユーザ名", "人", "<ユーザ名>"},
    {1097, "マシン名", "機", "<マシン名>"},
    {1098, "プリンタ名", "印", "<プリンタ名>"},
};
constexpr char kLineBreakToken[] = "<改行>";

// Draws a glyph as a small icon: dark text on a light key.
QIcon GlyphIcon(const char* glyph) {
  QPixmap pm(20, 20);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QColor(0x60, 0x60, 0x60));
  p.setBrush(QColor(0xF4, 0xF4, 0xF0));
  p.drawRoundedRect(QRectF(0.5, 0.5, 19, 19), 3, 3);
  p.setFont(viewer::ViewerFont(false, 13));
  p.setPen(QColor(0x20, 0x30, 0x60));
  p.drawText(QRect(0, 0, 20, 20), Qt::AlignCenter, U(glyph));
  return QIcon(pm);
}

QToolButton* MakeIconButton(QWidget* parent, int id, const char* tip, const char* glyph) {
  auto* b = new QToolButton(parent);
  b->setObjectName(Id(id));
  b->setIcon(GlyphIcon(glyph));
  b->setIconSize(QSize(20, 20));
  b->setToolTip(U(tip));
  b->setAutoRaise(false);
  // A click leaves the focus (and the selection) in the edit the token goes into.
  b->setFocusPolicy(Qt::TabFocus);
  return b;
}

}  // namespace

NameDialog::NameDialog(int mode, Prompt* prompt, const std::string& text, QWidget* parent)
    : QDialog(parent), prompt_(prompt) {
  setObjectName(Id(148));
  setWindowTitle(U(mode == kRename ? "名前の変更" : "ヘッダ・フッタの保存"));
  setFont(viewer::ViewerFont());
  auto* v = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  edit_ = new QLineEdit(QString::fromStdString(text), this);
  edit_->setObjectName(Id(1101));
  edit_->setMinimumWidth(240);
  auto* label = new QLabel(U("名前:"), this);
  label->setBuddy(edit_);
  row->addWidget(label);
  row->addWidget(edit_, 1);
  v->addLayout(row);
  auto* buttons = new QHBoxLayout;
  auto* ok = new QPushButton(U("OK"), this);
  ok->setObjectName(Id(1102));
  ok->setDefault(true);
  auto* cancel = new QPushButton(U("キャンセル"), this);
  cancel->setObjectName(Id(1103));
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  v->addLayout(buttons);
  connect(ok, &QPushButton::clicked, this, &NameDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &NameDialog::reject);
  edit_->selectAll();
}

void NameDialog::accept() {
  if (edit_->text().toStdU32String().size() > kMaxFormatName) {
    if (prompt_) prompt_->Show("入力値が適切ではありません。", kHeaderEditTitle, PromptIcon::kExclamation);
    edit_->setCursorPosition(0);
    edit_->setFocus();
    return;
  }
  name_ = edit_->text().toStdString();
  QDialog::accept();
}

QFont HeaderFontToQt(const win::LOGFONTA& lf) {
  const gdi::Font font = *gdi::FontFromLogFontA(lf, lf.lfHeight, /*substitute=*/true);
  QFont f(QString::fromStdString(gdi::ChooseFont(font.lf).family));
  const int pixels = lf.lfHeight != 0 ? std::abs(lf.lfHeight) : 16;
  f.setPointSize(std::clamp(static_cast<int>(std::lround(pixels * 72.0 / 96.0)), 8, 26));
  f.setBold(lf.lfWeight >= 600);
  f.setItalic(lf.lfItalic != 0);
  return f;
}

win::LOGFONTA HeaderFontFromQt(const QFont& font, int* points) {
  // The dialog gives tenths of a point; the size taken is their whole points.
  const int pt = std::clamp(static_cast<int>(font.pointSizeF() * 10) / 10, 8, 26);
  win::LOGFONTA lf{};
  lf.lfHeight = -static_cast<win::LONG>(std::lround(pt * 96.0 / 72.0));
  lf.lfWeight = font.bold() ? 700 : 400;
  lf.lfItalic = font.italic() ? 1 : 0;
  lf.lfCharSet = 128;  // SHIFTJIS_CHARSET
  auto face = codepage::Utf8ToCp932(font.family().toStdString(), codepage::OnError::kSubstitute);
  if (face.ok()) std::memcpy(lf.lfFaceName, face->data(), codepage::Cp932FitLength(*face, sizeof lf.lfFaceName - 1));
  if (points) *points = pt;
  return lf;
}

bool RunHeaderFontDialog(QWidget* owner, win::LOGFONTA* font, int* points) {
  QFontDialog d(HeaderFontToQt(*font), owner);
  d.setObjectName("HeaderFont");
  d.setOption(QFontDialog::DontUseNativeDialog);
  d.setOption(QFontDialog::ScalableFonts);
  if (viewer::Prompter().RunDialog(&d) != QDialog::Accepted) return false;
  *font = HeaderFontFromQt(d.currentFont(), points);
  return true;
}

_CPrtHdr::_CPrtHdr(Prompt* prompt, QWidget* parent) : QWidget(parent), prompt_(prompt) {
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
  auto* list_row = new QHBoxLayout;
  list_row->addWidget(list_, 1);
  QToolButton* list_buttons[3];
  for (int i = 0; i < 3; ++i) {
    list_buttons[i] = MakeIconButton(g1, kListButtons[i].id, kListButtons[i].tip, kListButtons[i].glyph);
    list_row->addWidget(list_buttons[i]);
  }
  connect(list_buttons[0], &QToolButton::clicked, this, &_CPrtHdr::RenameSelected);
  connect(list_buttons[1], &QToolButton::clicked, this, &_CPrtHdr::DeleteSelected);
  connect(list_buttons[2], &QToolButton::clicked, this, &_CPrtHdr::SaveNew);
  l1->addWidget(header_, 0, 0);
  l1->addWidget(footer, 0, 1);
  l1->addLayout(list_row, 1, 0, 1, 2);
  auto* g2 = Group(this, 1082, "編集");
  auto* l2 = new QGridLayout(g2);
  auto* tools = new QHBoxLayout;
  tools->setSpacing(2);
  auto* font = MakeIconButton(g2, kFontButton.id, kFontButton.tip, kFontButton.glyph);
  connect(font, &QToolButton::clicked, this, [this] { emit fontRequested(); });
  tools->addWidget(font);
  tools->addSpacing(6);
  for (const TokenButton& t : kTokenButtons) {
    auto* b = MakeIconButton(g2, t.id, t.tip, t.glyph);
    connect(b, &QToolButton::clicked, this, [this, id = t.id] { InsertToken(id); });
    tools->addWidget(b);
  }
  auto* line_break = new QPushButton(U("改"), g2);
  line_break->setObjectName(Id(1099));
  line_break->setVisible(false);
  connect(line_break, &QPushButton::clicked, this, [this] { InsertToken(1099); });
  tools->addStretch(1);
  l2->addLayout(tools, 0, 0, 1, 2);
  const char* labels[] = {"左側:", "中央:", "右側:"};
  const int ids[] = {1088, 1089, 1090};
  for (int i = 0; i < 3; ++i) {
    edits_[i] = new QLineEdit(g2);
    edits_[i]->setObjectName(Id(ids[i]));
    edits_[i]->setMaxLength(256);
    edits_[i]->installEventFilter(this);
    l2->addWidget(new QLabel(U(labels[i]), g2), i + 1, 0);
    l2->addWidget(edits_[i], i + 1, 1);
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
  connect(which, &QButtonGroup::idClicked, this, [this](int id) { SwitchSide(id); });
  connect(list_, &QComboBox::activated, this, [this](int index) { SelectFormat(index); });
}

int _CPrtHdr::side() const { return edit_side_; }

bool _CPrtHdr::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn)
    for (int i = 0; i < 3; ++i)
      if (watched == edits_[i]) focused_edit_ = i;
  return QWidget::eventFilter(watched, event);
}

void _CPrtHdr::ShowTexts() {
  const int s = side();
  for (int i = 0; i < 3; ++i) edits_[i]->setText(QString::fromStdString(texts_[s][i]));
}

void _CPrtHdr::KeepTexts() {
  const int s = side();
  for (int i = 0; i < 3; ++i) texts_[s][i] = edits_[i]->text().toStdString();
}

void _CPrtHdr::WriteFormats() {
  // The old file stays when it cannot be written; the list stays as edited.
  if (!folder_.empty()) (void)formats_.Save(folder_);
}

void _CPrtHdr::RefreshList() {
  list_->clear();
  size_t widest = 0;
  for (const auto& it : formats_.items()) {
    list_->addItem(QString::fromStdString(it.name));
    widest = std::max(widest, static_cast<size_t>(list_->itemText(list_->count() - 1).size()));
  }
  // The drop-down is 7 pixels a character of its longest entry wide (at least the box).
  list_->view()->setMinimumWidth(static_cast<int>(7 * widest));
  list_->setCurrentIndex(formats_.selection());
}

void _CPrtHdr::SelectFormat(int index) {
  const auto& items = formats_.items();
  const int count = static_cast<int>(items.size());
  // The texts edited over the format shown before go back into it (not into item 0, nor
  // after a save or a side change, which left other texts in the edits).
  if (!skip_write_back_ && shown_ > 0 && shown_ < count) {
    KeepTexts();
    const std::string* t = texts_[side()];
    if (formats_.SetTexts(shown_, t[0], t[1], t[2])) WriteFormats();
  }
  skip_write_back_ = false;
  formats_.Select(index);
  if (index < 0 || index >= count) return;
  const auto& it = formats_.items()[index];
  const int s = side();
  texts_[s][0] = it.left;
  texts_[s][1] = it.center;
  texts_[s][2] = it.right;
  shown_ = index;
  ShowTexts();
  emit textsChanged();
}

void _CPrtHdr::SwitchSide(int to) {
  const int from = edit_side_;
  if (to == from) return;
  // The side left keeps its texts and its choice in the list; the other comes back.
  for (int i = 0; i < 3; ++i) texts_[from][i] = edits_[i]->text().toStdString();
  side_selection_[from] = list_->currentIndex();
  edit_side_ = to;
  skip_write_back_ = true;
  const int back = side_selection_[to] < list_->count() ? side_selection_[to] : -1;
  list_->setCurrentIndex(back);
  formats_.Select(back);
  shown_ = back;
  ShowTexts();
}

void _CPrtHdr::LoadFormats(const std::string& folder) {
  folder_ = folder;
  formats_.Load(folder);
  if (formats_.items().empty()) formats_.Add("なし", "", "", "", nullptr);
  formats_.Select(0);
  RefreshList();
  side_selection_[0] = side_selection_[1] = 0;
  // The edits start with the first format's texts.
  skip_write_back_ = true;
  SelectFormat(0);
}

bool _CPrtHdr::SaveAs(const std::string& name) {
  KeepTexts();
  const int s = side();
  if (!formats_.Add(name, texts_[s][0], texts_[s][1], texts_[s][2], prompt_)) return false;
  // The new format holds the edited texts; the one shown before keeps its own.
  shown_ = formats_.selection();
  RefreshList();
  WriteFormats();
  return true;
}

void _CPrtHdr::SaveNew() {
  std::string text;
  for (;;) {
    NameDialog d(NameDialog::kSave, prompt_, text, this);
    if (viewer::Prompter().RunDialog(&d) != QDialog::Accepted || d.name().empty()) return;
    if (SaveAs(d.name())) return;
    text = d.name();  // refused: asked again
  }
}

void _CPrtHdr::RenameSelected() {
  formats_.Select(list_->currentIndex());
  if (formats_.items().empty() || formats_.selection() < 0) {
    list_->setFocus();
    return;
  }
  if (!formats_.RenameAllowed(prompt_)) return;
  const int index = formats_.selection();
  const std::string old = formats_.items()[index].name;
  std::string text = old;
  for (;;) {
    NameDialog d(NameDialog::kRename, prompt_, text, this);
    if (viewer::Prompter().RunDialog(&d) != QDialog::Accepted) return;
    if (d.name().empty() || d.name() == old) return;
    if (formats_.Rename(d.name(), prompt_)) break;
    text = d.name();
  }
  RefreshList();
  WriteFormats();
}

void _CPrtHdr::DeleteSelected() {
  formats_.Select(list_->currentIndex());
  if (formats_.selection() < 0) return;
  if (!formats_.DeleteSelected(prompt_)) return;
  // The texts of the deleted format go with it; the edits show the format now selected.
  const int next = formats_.selection();
  RefreshList();
  WriteFormats();
  skip_write_back_ = true;
  if (next >= 0) {
    SelectFormat(next);
  } else {
    shown_ = -1;
    skip_write_back_ = false;
  }
  list_->setFocus();
}

void _CPrtHdr::InsertToken(int id) {
  const char* token = id == 1099 ? kLineBreakToken : nullptr;
  for (const TokenButton& t : kTokenButtons)
    if (t.id == id) token = t.token;
  if (token == nullptr) return;
  QLineEdit* edit = edits_[focused_edit_];
  // insert() replaces the selection and tells textEdited, so the preview follows.
  edit->insert(U(token));
  edit->setFocus();
}

void _CPrtHdr::Fill(RequestOrder* order) const { order->page_mode = first_only_ ? 0 : 1; }

_CPrtSet::_CPrtSet(QWidget* parent) : QWidget(parent) {
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
  // Each label's access key reaches its field (the label is the field's buddy, so the "&"
  // marks the key and is not shown).
  auto* from = new QLabel(U("ページから(&K)"), g1);
  from->setBuddy(first_);
  auto* to = new QLabel(U("ページまで(&M)"), g1);
  to->setBuddy(last_);
  l1->addWidget(first_, 2, 0);
  l1->addWidget(from, 2, 1);
  l1->addWidget(last_, 3, 0);
  l1->addWidget(to, 3, 1);
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
  auto* copies_label = new QLabel(U("部数(&B):"), g2);
  copies_label->setBuddy(copies_);
  l2->addWidget(copies_label, 0, 0);
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
  connect(copies_, &QLineEdit::editingFinished, this, &_CPrtSet::ClampCopiesField);
  all_->setChecked(true);
  spans(false);
}

bool _CPrtSet::eventFilter(QObject* watched, QEvent* event) {
  if (watched == copies_ && event->type() == QEvent::FocusOut) ClampCopiesField();
  return QWidget::eventFilter(watched, event);
}

void _CPrtSet::ClampCopiesField() { copies_->setText(QString::number(ClampCopies(copies_->text().toStdString()))); }

void _CPrtSet::Load(const ClientSettings& s) {
  copies_->setText(QString::number(s.copies >= 1 && s.copies <= 100 ? s.copies : 1));
  collate_->setChecked(s.collate != 0);
  dup_check_->setChecked(s.dup_check != 0);
  own_dup_check_ = s.dup_check != 0;
}

void _CPrtSet::Store(ClientSettings* s) const {
  s->copies = ClampCopies(copies_->text().toStdString());
  s->collate = collate_->isChecked() ? 1 : 0;
  if (dup_check_->isEnabled()) s->dup_check = dup_check_->isChecked() ? 1 : 0;
}

void _CPrtSet::SetDlgDuplication(int mode) {
  if (mode == 1) {
    // Back to the user's decision: the box shows the user's own choice again.
    if (!dup_check_->isEnabled()) dup_check_->setChecked(own_dup_check_);
  } else if (dup_check_->isEnabled()) {
    own_dup_check_ = dup_check_->isChecked();
  }
  dup_check_->setEnabled(mode == 1);
  if (mode != 1) dup_check_->setChecked(true);
}

bool _CPrtSet::GetDuplicationCheck() const { return dup_check_->isChecked(); }

bool _CPrtSet::range_chosen() const { return span_->isChecked(); }
int _CPrtSet::first_page() const { return first_->value(); }
int _CPrtSet::last_page() const { return last_->value(); }

void _CPrtSet::FocusRangeField(int id) {
  QSpinBox* field = id == 1022 ? first_ : id == 1025 ? last_ : nullptr;
  if (field == nullptr) return;
  field->setFocus();
  field->selectAll();
}

void _CPrtSet::Fill(RequestOrder* order) const {
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
