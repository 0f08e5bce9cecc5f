// The paper settings page and the user-defined size dialog as Qt widgets, thin views over
// PaperPageModel and UserSizeModel; texts from the resource library, Japanese drawn in the
// IPA faces.
#pragma once

#include <QDialog>
#include <QFont>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "driver/dromu/sheets/paper_page_model.h"
#include "driver/dromu/sheets/property_sheets.h"
#include "driver/gastrelo/gastrelo.h"
#include "platform/help/help_window.h"

class QComboBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QLabel;
class QPushButton;

namespace zv::driver::sheets {

// The user-defined size dialog (500).
class UserSizeDialog : public QDialog {
 public:
  // Takes the model (kept by reference), the resources and the parent.
  UserSizeDialog(UserSizeModel& model, const gastrelo::Resources& res, QWidget* parent = nullptr);
  QLineEdit* edit(int which) const { return edits_[which]; }
  // Shows the model's values again.
  void Refresh();

 private:
  UserSizeModel& model_;
  QLineEdit* edits_[2];
  QSpinBox* spins_[2];
};

// The driver's help page, shipped into the install's data folder beside the programs' pages.
inline constexpr char kDriverHelpFileName[] = "Mirrastel.html";

// Takes the printer-driver folder; gives the driver's help page by the programs' rule: the
// page of the driver folder when that regular file is there, else the one of its "2"
// subfolder, else the install's data folder's (the folder's name when none holds it, so the
// window names the page it missed).
std::string HelpFile(const std::string& driver_folder);

// The version information dialog (400): four centred lines and OK.
class VersionDialog : public QDialog {
 public:
  // Takes the resources and the parent.
  explicit VersionDialog(const gastrelo::Resources& res, QWidget* parent = nullptr);
};

// The paper settings page (200).
class PaperPage : public QWidget {
 public:
  // Takes the model (kept by reference), the resources and the parent.
  PaperPage(PaperPageModel& model, const gastrelo::Resources& res, QWidget* parent = nullptr);
  // Shows the model's values again.
  void Refresh();
  QComboBox* paper() const { return paper_; }
  QComboBox* resolution() const { return resolution_; }
  QRadioButton* portrait() const { return portrait_; }
  QRadioButton* landscape() const { return landscape_; }
  QLineEdit* margin_edit(int which) const { return edits_[which]; }
  QSpinBox* margin_spin(int which) const { return spins_[which]; }
  // Runs the user size dialog for the mode; set to show it without blocking in tests.
  std::function<bool(UserSizeDialog&)> run_user_size = [](UserSizeDialog& d) { return d.exec() == QDialog::Accepted; };
  // Runs the version dialog (button 100); set to show it without blocking in tests.
  std::function<void(VersionDialog&)> run_version = [](VersionDialog& d) { d.exec(); };
  QPushButton* version_button() const { return version_; }
  // Runs the help command (command 112, the Help key): closes the help window opened
  // earlier and opens the driver's help file anew in the help window, which closes with
  // the page.
  void Help();
  help::HelpViewer& help_viewer() { return help_; }

 private:
  PaperPageModel& model_;
  const gastrelo::Resources& res_;
  QComboBox* paper_;
  QComboBox* resolution_;
  QRadioButton* portrait_;
  QRadioButton* landscape_;
  QLabel* icon_;
  QPushButton* version_;
  QLineEdit* edits_[4];
  QSpinBox* spins_[4];
  help::HelpViewer help_;
};

// A property sheet's frame: the paper page under its tab name with OK and Cancel.
class SheetDialog : public QDialog {
 public:
  // Takes the title (the printer's name), the model, the resources and the parent.
  SheetDialog(const QString& title, PaperPageModel& model, const gastrelo::Resources& res, QWidget* parent = nullptr);
  PaperPage* page() const { return page_; }

 private:
  PaperPage* page_;
};

// Takes the resources, the title and a hook that, when given, shows and closes the dialog
// itself (tests; the dialog is not run then); gives the page function the sheets run: 1 for
// OK, 0 for Cancel.
ShowPage QtShowPage(const gastrelo::Resources& res, QString title, std::function<void(SheetDialog&)> before = {});
// Takes the resources; gives the prompt of DrvDocumentProperties running the document sheet
// in a Qt dialog.
dromu::SheetRunner QtDocumentSheet(const gastrelo::Resources& res);

// Gives the font the pages draw Japanese text in.
QFont SheetFont();

}  // namespace zv::driver::sheets
