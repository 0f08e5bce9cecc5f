// The first-run set-up wizard: managed printers, limits and period, over-limit actions,
// and the first user accounts. Thin pages over console/core/first_run.h; the limit page's
// Next and the user page's buttons store at once, the rest is read back after Finish.
#pragma once

#include <QWizard>
#include <functional>
#include <optional>
#include <vector>

#include "console/core/account_import_choice.h"
#include "console/core/first_run.h"
#include "platform/help/help_window.h"

class QPushButton;
class QTreeWidget;

namespace zv::console {

struct ConsoleContext;
class CEnvironLimitPage;
class PrinterListsBox;

// Runs the account import wizard (owned by the given window); gives the chosen accounts,
// or nothing on Cancel.
using AccountImportRunner = std::function<std::optional<ImportedAccounts>(QWidget*)>;

// The user page: the registered users with their groups, and import, add, properties and
// delete.
class CFirstWizUserPage : public QWizardPage {
 public:
  // Takes the context, the import wizard (button 3 is disabled without one) and the parent.
  CFirstWizUserPage(const ConsoleContext& ctx, AccountImportRunner import, QWidget* parent = nullptr);
  // Reloads users and groups and fills the list (each time the page is shown).
  void initializePage() override;
  // Sizes the columns: account and user name a third each of the list's client width less
  // a vertical scroll bar, the group the rest.
  void SizeColumns();

 protected:
  void showEvent(QShowEvent* event) override;

 public:
  // Finish: refuses with message 8 while no user is registered.
  bool validatePage() override;
  // The buttons' commands: import (3), add (4), properties (5), delete (6).
  void ImportAccounts();
  void AddUser();
  void EditUser();
  void DeleteUsers();
  // Takes a column; sorts as a header click does.
  void ClickColumn(int column);
  // Gives the list (1043).
  QTreeWidget* list() const { return list_; }

 private:
  void Reload();
  void Fill(const std::vector<int32_t>& select);
  std::vector<int32_t> Selected() const;
  std::optional<engine::GroupRecord> ChooseGroup(const engine::GroupRecord& current);
  const ConsoleContext& ctx_;
  AccountImportRunner import_;
  std::vector<engine::UserRecord> users_;
  std::vector<engine::GroupRecord> groups_;
  QTreeWidget* list_;
  QPushButton *edit_, *delete_;
  int sort_column_ = 0;
  bool descending_ = false;
};

// The wizard "Wizard" with its four pages.
class CFirstWiz : public QWizard {
 public:
  // Takes the context, this machine's candidate printers, the import wizard and the parent.
  CFirstWiz(const ConsoleContext& ctx, const std::vector<std::string>& candidates, AccountImportRunner import,
            QWidget* parent = nullptr);
  // Gives what the set-up reads after Finish.
  FirstRunChoices choices() const;
  // Give the pages' parts.
  PrinterListsBox* printers() const { return printers_; }
  CEnvironLimitPage* limits() const { return limits_; }
  CEnvironLimitPage* actions() const { return actions_; }
  CFirstWizUserPage* users() const { return users_; }
  // The Help button opens the console's guide in the help window.
  help::HelpViewer& help_viewer() { return help_; }

 private:
  const ConsoleContext& ctx_;
  help::HelpViewer help_;
  PrinterListsBox* printers_;
  CEnvironLimitPage* limits_;
  CEnvironLimitPage* actions_;
  CFirstWizUserPage* users_;
};

// Takes the context, the import wizard and the spooler; runs the first-run set-up with
// the wizard (RunFirstSetup). Gives kWizardFinish to go on, kWizardStop to end the console.
int RunFirstSetupWizard(const ConsoleContext& ctx, const AccountImportRunner& import, spool::Spooler& spooler);

}  // namespace zv::console
