// The storage folder dialog (template 172, "保存フォルダの変更"): copies or moves the
// database file to another folder, stopping the print service meanwhile (StorageFolderModel
// does the work; this is its window).
#pragma once

#include <QDialog>
#include <QFileDialog>
#include <functional>
#include <memory>
#include <string>

#include "console/core/storage_folder.h"

class QLabel;
class QLineEdit;
class QRadioButton;

namespace zv::console {

struct StorageFolderOptions {
  // The print service's control (null: the runtime root's "Zelvora Service").
  PrintServiceControl* service = nullptr;
  // Takes the parent and the folder to start at; gives the chosen folder ("" on cancel).
  // Null: the folder browser.
  std::function<std::string(QWidget*, const std::string&)> browse;
};

// The console's folder browser: the folders from a start folder, the caption, "選択" and
// "キャンセル"; with the show-path flag its status line (14146) reads "選択中のパス：<path>"
// for the folder selected (it never refuses a folder).
class CBrowseDialog : public QFileDialog {
  Q_OBJECT
 public:
  // Takes the parent, the caption, the folder to start at and the show-path flag.
  CBrowseDialog(QWidget* parent, const QString& caption, const std::string& start, bool show_path);
  // Gives the chosen folder ("" before OK).
  std::string chosen() const;
  // Gives the status line.
  QLabel* status() const { return status_; }

 private:
  QLabel* status_;
};

class CStorageFolderDlg : public QDialog {
  Q_OBJECT
 public:
  // Takes the registry store, the sink, the options and the parent; finds the database
  // file and shows its folder as the new one, with copy as the action.
  CStorageFolderDlg(CRegistryConfig& config, MessageSink& sink, const StorageFolderOptions& options = {},
                    QWidget* parent = nullptr);
  // Gives whether the database file was found (else the dialog has nothing to do).
  bool ready() const { return ready_; }
  // Runs the browse button's folder choice.
  void Browse();
  // Checks the folder (empty: focus; current: message 20), then copies or moves; closes
  // with OK on success.
  void accept() override;
  // Give the folder edit (1011), the two action radios (1012, 1013) and the model.
  QLineEdit* folder() const { return folder_; }
  QRadioButton* copy_radio() const { return copy_; }
  QRadioButton* move_radio() const { return move_; }
  const StorageFolderModel& model() const { return *model_; }

 private:
  MessageSink& sink_;
  std::unique_ptr<PrintServiceControl> own_service_;
  std::unique_ptr<StorageFolderModel> model_;
  std::function<std::string(QWidget*, const std::string&)> browse_;
  bool ready_ = false;
  QLineEdit* folder_;
  QRadioButton *copy_, *move_;
};

// Takes the parent, the registry store, the sink and the options; runs the dialog modally.
// A data source without a database file shows message 24 instead.
void RunStorageFolderDialog(QWidget* parent, CRegistryConfig& config, MessageSink& sink,
                            const StorageFolderOptions& options = {});

}  // namespace zv::console
