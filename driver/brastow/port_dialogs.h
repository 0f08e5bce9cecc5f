// The port monitor user interface's windows as Qt dialogs, thin views over the headless rules
// of port_ui.h: the LPT timeout dialog over LptTimeoutModel, the serial settings dialog over
// the settings of a serial configuration record, and the information message. QtPortUiHooks
// hands them to ConfigurePort.
#pragma once

#include <QDialog>
#include <functional>

#include "driver/brastow/port_ui.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace zv::driver::brastow {

// The LPT port's "Configure LPT Port" dialog: the transmission retry timeout in seconds.
class LptTimeoutDialog : public QDialog {
 public:
  // Takes the model (kept by reference) and the parent.
  explicit LptTimeoutDialog(LptTimeoutModel& model, QWidget* parent = nullptr);
  QLineEdit* edit() const { return edit_; }
  QPushButton* ok() const { return ok_; }

 private:
  LptTimeoutModel& model_;
  QLineEdit* edit_;
  QPushButton* ok_;
};

// A serial port's settings: speed, data bits, parity, stop bits and flow control.
class CommSettingsDialog : public QDialog {
 public:
  // Takes the port's name, the settings (kept by reference, written on OK) and the parent.
  CommSettingsDialog(const QString& port, CommSettings& settings, QWidget* parent = nullptr);
  QComboBox* baud() const { return combos_[0]; }
  QComboBox* data_bits() const { return combos_[1]; }
  QComboBox* parity() const { return combos_[2]; }
  QComboBox* stop_bits() const { return combos_[3]; }
  QComboBox* flow() const { return combos_[4]; }
  QPushButton* ok() const { return ok_; }
  // Shows the given settings in the controls.
  void Show(const CommSettings& settings);

 private:
  CommSettings& settings_;
  QComboBox* combos_[5];
  QPushButton* ok_;
};

// Takes the parent window and, for tests, a function that shows and closes each dialog itself
// (empty: each runs modally); gives the hooks ConfigurePort shows its windows through.
PortUiHooks QtPortUiHooks(QWidget* parent = nullptr, std::function<void(QDialog&)> run = {});

}  // namespace zv::driver::brastow
