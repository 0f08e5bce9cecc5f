#include "viewer/qt/prompter.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace zv::viewer {

namespace {

class QtPrompter : public ViewerPrompter {
 public:
  void Message(QWidget* parent, const std::string& text, PromptIcon icon) override {
    QMessageBox box(parent);
    box.setFont(ViewerFont());
    box.setWindowTitle(QStringLiteral("Tarvessa文書"));
    box.setText(QString::fromStdString(text));
    box.setIcon(icon == PromptIcon::kExclamation   ? QMessageBox::Warning
                : icon == PromptIcon::kQuestion    ? QMessageBox::Question
                : icon == PromptIcon::kInformation ? QMessageBox::Information
                                                   : QMessageBox::NoIcon);
    box.exec();
  }
  bool AskYesNo(QWidget* parent, const std::string& text) override {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Tarvessa文書"), QString::fromStdString(text),
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setFont(ViewerFont());
    return box.exec() == QMessageBox::Yes;
  }
  std::optional<std::string> ChooseFolder(QWidget* parent, const std::string& title) override {
    const QString dir = QFileDialog::getExistingDirectory(parent, QString::fromStdString(title), QDir::homePath(),
                                                          QFileDialog::ShowDirsOnly);
    if (dir.isEmpty()) return std::nullopt;
    return dir.toStdString();
  }
  std::optional<unsigned> AskPageNumber(QWidget* parent, int current_page) override {
    std::unique_ptr<NumberDialog> d(MakePageNumberDialog(parent, current_page));
    if (d->exec() != QDialog::Accepted) return std::nullopt;
    return d->value();
  }
  std::optional<int> AskZoomPercent(QWidget* parent, int current) override {
    std::unique_ptr<NumberDialog> d(MakeFreeZoomDialog(parent, current));
    if (d->exec() != QDialog::Accepted) return std::nullopt;
    return int(d->value());
  }
  int RunDialog(QDialog* dialog) override { return dialog->exec(); }
};

QtPrompter& QtOne() {
  static QtPrompter p;
  return p;
}
ViewerPrompter* g_prompter = nullptr;

}  // namespace

ViewerPrompter& Prompter() { return g_prompter ? *g_prompter : QtOne(); }
void SetPrompter(ViewerPrompter* prompter) { g_prompter = prompter; }

QFont ViewerFont(bool proportional, int pixel_height) {
  QFont f(proportional ? QStringLiteral("IPAPGothic") : QStringLiteral("IPAGothic"));
  f.setFamilies(
      {proportional ? QStringLiteral("IPAPGothic") : QStringLiteral("IPAGothic"), QStringLiteral("IPAGothic")});
  if (pixel_height > 0) {
    f.setPixelSize(pixel_height);
  } else {
    f.setPointSize(9);
  }
  return f;
}

NumberDialog::NumberDialog(QWidget* parent, const QString& title, const QString& label, int value, int low, int high,
                           std::string error_text, bool clamp_to_range)
    : QDialog(parent),
      previous_(unsigned(value)),
      low_(low),
      high_(high),
      error_(std::move(error_text)),
      clamp_(clamp_to_range) {
  setWindowTitle(title);
  setFont(ViewerFont());
  auto* outer = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(label, this));
  edit_ = new QLineEdit(QString::number(value), this);
  edit_->setObjectName(QStringLiteral("1006"));
  edit_->setFixedWidth(64);
  row->addWidget(edit_);
  auto* spin = new QWidget(this);
  spin->setObjectName(QStringLiteral("1012"));
  auto* spin_box = new QVBoxLayout(spin);
  spin_box->setContentsMargins(0, 0, 0, 0);
  spin_box->setSpacing(0);
  auto* up = new QToolButton(spin);
  up->setArrowType(Qt::UpArrow);
  auto* down = new QToolButton(spin);
  down->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {up, down}) {
    b->setFixedSize(18, 12);
    spin_box->addWidget(b);
  }
  auto step = [this](int d) {
    bool ok = false;
    int v = edit_->text().toInt(&ok);
    if (!ok) v = int(previous_);
    edit_->setText(QString::number(std::clamp(v + d, low_, high_)));
  };
  connect(up, &QToolButton::clicked, this, [step] { step(1); });
  connect(down, &QToolButton::clicked, this, [step] { step(-1); });
  row->addWidget(spin);
  outer->addLayout(row);
  auto* buttons = new QHBoxLayout;
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("1"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
  cancel->setObjectName(QStringLiteral("2"));
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  outer->addLayout(buttons);
  connect(ok, &QPushButton::clicked, this, &NumberDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void NumberDialog::accept() {
  bool ok = false;
  const QString text = edit_->text().trimmed();
  const unsigned v = text.toUInt(&ok);
  if (!ok || (clamp_ && (int(v) < low_ || int(v) > high_))) {
    Prompter().Message(this, error_, PromptIcon::kExclamation);
    edit_->setText(QString::number(previous_));
    return;
  }
  value_ = v;
  QDialog::accept();
}

NumberDialog* MakePageNumberDialog(QWidget* parent, int current_page) {
  return new NumberDialog(parent, QStringLiteral("ページ指定"), QStringLiteral("ページ番号:"), current_page + 1, 1, 999,
                          "ﾍﾟｰｼﾞ番号の指定に誤りがあります", false);
}

NumberDialog* MakeFreeZoomDialog(QWidget* parent, int current) {
  return new NumberDialog(parent, QStringLiteral("倍率指定"), QStringLiteral("表示倍率(%):"),
                          std::clamp(current, 10, 200), 10, 200, "10～200の数値を指定してください", true);
}

}  // namespace zv::viewer
