// The account import wizard (three pages: the accounts, the group, the limit mode) and the
// account picker that fills one account into the user dialog. Both read the accounts of
// this machine or its directory through AccountListModel; the wizard writes the chosen
// accounts' quota files on Finish and hands the choice to its caller, who adds the users.
#pragma once

#include <QDialog>
#include <QWizard>
#include <functional>
#include <optional>

#include "console/core/account_import.h"
#include "console/core/account_import_choice.h"
#include "console/tavolent/console_context.h"
#include "console/tavolent/dialogs.h"

class QLineEdit;
class QLabel;
class QRadioButton;
class QTreeWidget;

namespace zv::console {

struct AccountImportOptions {
  // Where the accounts come from (null: this machine and its directory through NSS).
  AccountSource source;
  // Takes the parent and the preset group; runs the group selection and gives the chosen
  // group, or nothing on cancel (null: the group selection dialog, whose stored changes
  // reach the main frame's group tree).
  std::function<std::optional<engine::GroupRecord>(QWidget*, const engine::GroupRecord&)> choose_group;
};

// The address edit, the read button and the account list, shared by the wizard's first
// page and the picker.
class AccountListPanel : public QWidget {
  Q_OBJECT
 public:
  // Takes the context, the source and whether several accounts may be selected.
  AccountListPanel(const ConsoleContext& ctx, AccountSource source, bool multiple, QWidget* parent = nullptr);
  // Reads the registered accounts from the database (the list offers none of them).
  void LoadRegistered();
  // Reads the accounts of the address in the edit: an empty one focuses the edit; a failure
  // shows message 38 and focuses the edit; else fills the list, the first item selected.
  void ReadAccounts();
  // Sorts by a header column as a click does; the selected accounts stay selected.
  void ClickColumn(int column);
  // Gives the selected accounts in list order; when there are none, focuses the list (or
  // the edit when the list is empty).
  std::vector<ImportedAccount> TakeSelection();
  // Give the address edit (1032), the list (1043) and the model behind it.
  QLineEdit* address() const { return address_; }
  QTreeWidget* list() const { return list_; }
  const AccountListModel& model() const { return model_; }

 protected:
  // On the list's resizing: the account column takes two fifths of the list's width less a
  // scroll bar, the full name the rest.
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void Fill(const std::vector<std::string>& selected);
  const ConsoleContext& ctx_;
  AccountSource source_;
  AccountListModel model_;
  QLineEdit* address_;
  QTreeWidget* list_;
};

// The import wizard. Its pages are "p114", "p115" and "p116".
class CDomainReadWiz : public QWizard {
  Q_OBJECT
 public:
  // Takes the context, the preset group (GID 0: none) and the options.
  CDomainReadWiz(const ConsoleContext& ctx, const engine::GroupRecord& preset_group,
                 const AccountImportOptions& options = {}, QWidget* parent = nullptr);
  // Gives the choice (valid after Finish).
  ImportedAccounts choice() const;
  // Give the first page's account list and the chosen group.
  AccountListPanel* panel() const { return panel_; }
  const engine::GroupRecord& group() const { return group_; }
  // Runs the group selection as the page's button does.
  void ChooseGroup();

 private:
  friend class CGroupSelectPage;
  friend class CMaxPagesSetPage;
  friend class CDomainUserSelectPage;
  const ConsoleContext& ctx_;
  AccountImportOptions options_;
  AccountListPanel* panel_ = nullptr;
  std::vector<ImportedAccount> chosen_;
  engine::GroupRecord group_;
  int16_t count_shubetsu_ = 1;
};

// The account picker (template 176, "ドメインから選択").
class AccountPickerDialog : public QDialog {
  Q_OBJECT
 public:
  // Takes the context and the source (null: NSS).
  AccountPickerDialog(const ConsoleContext& ctx, AccountSource source = {}, QWidget* parent = nullptr);
  // Gives the picked account (valid after OK).
  const ImportedAccount& picked() const { return picked_; }
  // Gives the account list.
  AccountListPanel* panel() const { return panel_; }
  // Closes with OK only when an account is selected.
  void accept() override;

 private:
  AccountListPanel* panel_;
  ImportedAccount picked_;
};

// Takes the parent, the context, the preset group and the options; runs the wizard
// modally. Gives the choice after Finish (the quota files written), nothing on cancel.
std::optional<ImportedAccounts> RunAccountImportWizard(QWidget* parent, const ConsoleContext& ctx,
                                                       const engine::GroupRecord& preset_group,
                                                       const AccountImportOptions& options = {});

// Takes the parent, the context and the source (null: NSS); runs the picker modally. Gives
// the picked account, nothing on cancel.
std::optional<ImportedAccount> RunAccountPicker(QWidget* parent, const ConsoleContext& ctx, AccountSource source = {});

// Takes a user dialog, the context and the picker's parent; lets the dialog's
// "ドメインから選択(&D)..." button run the account picker over this machine's accounts.
void OfferAccountPicker(CUserPropertyDlg& dialog, const ConsoleContext& ctx, QWidget* parent);

}  // namespace zv::console
