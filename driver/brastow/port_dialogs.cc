#include "driver/brastow/port_dialogs.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <iterator>

namespace zv::driver::brastow {
namespace {

constexpr std::uint32_t kBauds[] = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200, 128000};
const char* const kParities[] = {"なし", "奇数", "偶数", "マーク", "スペース"};
const char* const kStopBits[] = {"1", "1.5", "2"};
const char* const kFlows[] = {"Xon / Xoff", "ハードウェア", "なし"};

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

QHBoxLayout* Buttons(QDialog* d, QPushButton** ok_out) {
  auto* ok = new QPushButton("OK");
  auto* cancel = new QPushButton(QString::fromUtf8("キャンセル"));
  ok->setDefault(true);
  QObject::connect(cancel, &QPushButton::clicked, d, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(ok);
  row->addWidget(cancel);
  *ok_out = ok;
  return row;
}

bool Run(QDialog& d, const std::function<void(QDialog&)>& run) {
  if (run) {
    run(d);
    return d.result() == QDialog::Accepted;
  }
  return d.exec() == QDialog::Accepted;
}

}  // namespace

LptTimeoutDialog::LptTimeoutDialog(LptTimeoutModel& model, QWidget* parent) : QDialog(parent), model_(model) {
  setWindowTitle("Configure LPT Port");
  auto* layout = new QVBoxLayout(this);
  auto* group = new QGroupBox("Timeout (seconds)");
  auto* row = new QHBoxLayout(group);
  auto* label = new QLabel("&Transmission Retry:");
  edit_ = new QLineEdit(Q(model_.text()));
  edit_->setMaxLength(6);
  label->setBuddy(edit_);
  row->addWidget(label);
  row->addWidget(edit_);
  layout->addWidget(group);
  layout->addLayout(Buttons(this, &ok_));
  // Every change goes through the model: a value outside 1..999999 is put back to the last
  // good one and selected, so the user can type over it.
  connect(edit_, &QLineEdit::textEdited, this, [this](const QString& text) {
    const std::string shown = model_.Edit(text.toStdString());
    if (Q(shown) != text) edit_->setText(Q(shown));
    if (model_.selected()) edit_->selectAll();
  });
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
}

CommSettingsDialog::CommSettingsDialog(const QString& port, CommSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
  setWindowTitle(port + QString::fromUtf8(" のプロパティ"));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  const char* labels[5] = {
      "ビット/秒(&B):", "データ ビット(&D):", "パリティ(&P):", "ストップ ビット(&S):", "フロー制御(&F):"};
  for (int i = 0; i < 5; ++i) {
    combos_[i] = new QComboBox;
    form->addRow(QString::fromUtf8(labels[i]), combos_[i]);
  }
  for (std::uint32_t b : kBauds) combos_[0]->addItem(QString::number(b), b);
  for (int b = 5; b <= 8; ++b) combos_[1]->addItem(QString::number(b), b);
  for (const char* p : kParities) combos_[2]->addItem(QString::fromUtf8(p));
  for (const char* s : kStopBits) combos_[3]->addItem(s);
  for (const char* f : kFlows) combos_[4]->addItem(QString::fromUtf8(f));
  layout->addLayout(form);
  auto* defaults = new QPushButton(QString::fromUtf8("既定値に戻す(&R)"));
  auto* drow = new QHBoxLayout;
  drow->addStretch();
  drow->addWidget(defaults);
  layout->addLayout(drow);
  layout->addLayout(Buttons(this, &ok_));
  connect(defaults, &QPushButton::clicked, this, [this] { Show(CommSettings{}); });
  connect(ok_, &QPushButton::clicked, this, [this] {
    settings_.baud = combos_[0]->currentData().toUInt();
    settings_.data_bits = static_cast<std::uint8_t>(combos_[1]->currentData().toUInt());
    settings_.parity = static_cast<std::uint8_t>(combos_[2]->currentIndex());
    settings_.stop_bits = static_cast<std::uint8_t>(combos_[3]->currentIndex());
    settings_.flow = static_cast<FlowControl>(combos_[4]->currentIndex());
    accept();
  });
  Show(settings_);
}

void CommSettingsDialog::Show(const CommSettings& s) {
  // A speed the list lacks (a record written elsewhere) is added so it is kept as it is.
  if (combos_[0]->findData(s.baud) < 0) combos_[0]->addItem(QString::number(s.baud), s.baud);
  combos_[0]->setCurrentIndex(combos_[0]->findData(s.baud));
  combos_[1]->setCurrentIndex(combos_[1]->findData(s.data_bits));
  combos_[2]->setCurrentIndex(s.parity);
  combos_[3]->setCurrentIndex(s.stop_bits);
  combos_[4]->setCurrentIndex(static_cast<int>(s.flow));
}

PortUiHooks QtPortUiHooks(QWidget* parent, std::function<void(QDialog&)> run) {
  PortUiHooks ui;
  ui.message = [parent, run](std::string_view text, std::string_view caption) {
    QMessageBox box(QMessageBox::Information, Q(caption), Q(text), QMessageBox::Ok, parent);
    Run(box, run);
  };
  ui.lpt_dialog = [parent, run](LptTimeoutModel& model) {
    LptTimeoutDialog d(model, parent);
    return Run(d, run);
  };
  ui.comm_dialog = [parent, run](std::string_view port, std::vector<std::uint8_t>& config) {
    auto settings = ReadCommSettings(config);
    if (!settings) return false;  // nothing readable to show: as if cancelled
    CommSettingsDialog d(Q(port), *settings, parent);
    if (!Run(d, run)) return false;
    WriteCommSettings(*settings, config);
    return true;
  };
  return ui;
}

}  // namespace zv::driver::brastow
