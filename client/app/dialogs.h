// The client's dialogs: options (179), server settings (136), the folder and computer
// browser, the progress window (180) and the about box (100). Thin views: every message goes
// through the injected prompt, control ids are object names.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "client/client_doc.h"
#include "client/config.h"
#include "client/progress.h"
#include "client/prompt.h"
#include "client/settings_store.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace zv::client::app {

// The browser: computers (the folders under $ZELVORA_ROOT/net/, each a joined server) or
// the folders below a start folder.
class CBrowseDialog : public QDialog {
  Q_OBJECT

 public:
  enum class Kind { kComputers, kFolders };
  // Takes the kind, the caption, the instruction and, for folders, the folder to start at;
  // the OK button reads "選択", cancel "キャンセル".
  CBrowseDialog(Kind kind, const QString& caption, const QString& instruction, const std::string& start,
               QWidget* parent = nullptr);
  // The chosen computer name or folder path ("" before OK).
  std::string chosen() const;
  QListWidget* list() const { return list_; }

 private:
  Kind kind_;
  std::string start_;
  QListWidget* list_ = nullptr;
};

// Gives the computers of this root: the names of the folders under $ZELVORA_ROOT/net/, sorted.
std::vector<std::string> NetworkComputers();

class _CServerSet : public QDialog {
  Q_OBJECT

 public:
  // Takes the client's configuration (server, share, folder names, program folder), the
  // quota state written back with the server, the prompt and the working copy of the printer
  // list (empty: "printers.lst" of the spool folder). The dialog fills only the working
  // copy; the caller copies it over the program folder's list after OK, so a cancelled
  // dialog leaves the client's printers as they were.
  _CServerSet(const ClientConfig& config, const QuotaState& quota, Prompt* prompt, QWidget* parent = nullptr,
              std::string working_copy = {});
  // Copies the chosen computer's printer list over the working copy and shows its printers;
  // with printers shown, OK is the default button and takes the focus. Gives false (with the
  // message when the copy failed) when no printer could be shown.
  bool MakePrinterList();
  // The working copy the dialog fills.
  const std::string& working_copy() const { return working_copy_; }
  // Takes a computer name as chosen in the browser; switches to it when its list can be
  // read, else keeps the previous server and list. Gives whether it switched.
  bool ChooseComputer(const std::string& computer);
  // The server chosen ("\\SRV", or "" for local printing).
  std::string server_name() const;
  void accept() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::string SourcePath(const std::string& field) const;
  ClientConfig config_;
  QuotaState quota_;
  Prompt* prompt_;
  std::string source_;
  std::string working_copy_;
  QLineEdit* computer_ = nullptr;
  QPlainTextEdit* printers_ = nullptr;
  QPushButton* ok_ = nullptr;
};

class OptionsDialog : public QDialog {
  Q_OBJECT

 public:
  // Takes the settings it edits (kept until OK), the managed printers and the prompt.
  OptionsDialog(ClientSettings* settings, const std::vector<std::string>& printers, Prompt* prompt,
                QWidget* parent = nullptr);
  void accept() override;
  // Deletes the saved jobs "AutoSave*.prc" of the folder after asking; resets the counter.
  void ClearHistory();

 private:
  ClientSettings* settings_;
  Prompt* prompt_;
  QLineEdit* folder_ = nullptr;
  QSpinBox* max_ = nullptr;
  QComboBox* printer_ = nullptr;
  QButtonGroup* pairs_[8] = {};
};

// The image save dialog (137): size, format, numbering and folder; OK writes the image
// options into the shared block of slot 3 (restored when the dialog goes) and saves every
// page through the conversion library.
class _CImgSave : public QDialog {
  Q_OBJECT

 public:
  // Takes the document, the remembered options text and the prompt.
  _CImgSave(COstraneDoc* doc, const std::string& options, Prompt* prompt, QWidget* parent = nullptr);
  ~_CImgSave() override;
  // The options text to remember after OK.
  std::string options() const;
  void accept() override;

 private:
  void ApplyRules();
  COstraneDoc* doc_;
  Prompt* prompt_;
  QComboBox* size_ = nullptr;
  QComboBox* format_ = nullptr;
  QCheckBox* no_number_ = nullptr;
  QCheckBox* fixed_ = nullptr;
  QComboBox* digits_ = nullptr;
  QLabel* digits_label_ = nullptr;
  QLineEdit* folder_ = nullptr;
  std::string saved_block_;  // the block's bytes before OK changed them
  std::string last_folder_;
};

class ProgressDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ProgressDialog(QWidget* parent = nullptr);
  // Shows the model's texts and bar.
  void Show(const ProgressModel& model);

 private:
  QLabel* count_label_ = nullptr;
  QLabel* message_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QLabel* counter_ = nullptr;
};

// One row of the about box: the module's file name and its file version ("" when the file
// is missing or carries no version).
struct ModuleVersion {
  std::string name, version;
};
// Takes the install's prefix; gives the client's modules in their order (ostrane, ulmerith,
// libvinteko.so, liblumbrel.so, libquorvel.so, libsarquen.so), each with the file version
// read from its file (programs in <prefix>/bin, libraries in <prefix>/lib).
std::vector<ModuleVersion> InstalledModules(const std::string& prefix);

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  // Takes the install's prefix.
  explicit AboutDialog(const std::string& prefix, QWidget* parent = nullptr);
};

}  // namespace zv::client::app
