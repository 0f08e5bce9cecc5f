// The account import's headless part: reading the accounts of this machine or its
// directory (platform/accounts) without those already registered, sorting them as the
// list's header asks, the limits of the chosen limit mode, the quota files written on
// Finish, and the user rows the caller adds afterwards.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "console/core/account_import_choice.h"
#include "console/core/registry_config.h"
#include "console/db/console_database.h"
#include "console/rules/messages.h"
#include "platform/base/status.h"

namespace zv::console {

// Takes an address; gives the accounts it names, or a failure.
using AccountSource = std::function<Result<std::vector<ImportedAccount>>(const std::string& address)>;

// Takes the login.defs path; gives the source over NSS that accepts only this machine's
// and its directory's names (every name with an empty full name kept).
AccountSource SystemAccountSource(std::string login_defs = "/etc/login.defs");

// The list of the import's first page and of the account picker: the offered accounts and
// their order.
class AccountListModel {
 public:
  // Takes the source and the accounts already registered.
  AccountListModel(AccountSource source, std::vector<std::string> registered)
      : source_(std::move(source)), registered_(std::move(registered)) {}

  // Takes the address; reads the accounts and keeps those whose account no registered one
  // equals without regard to case, sorted by account ascending. Gives false (and an empty
  // list) when the source fails; the caller shows message 38.
  bool Read(const std::string& address);
  // Takes a header column (0 account, 1 full name); with at least two accounts sorts by it,
  // reversing when it is the current column, else ascending. Stable; case does not matter.
  void Click(int column);

  // Give the offered accounts in list order, the sort column and its direction.
  const std::vector<ImportedAccount>& accounts() const { return accounts_; }
  int sort_column() const { return column_; }
  bool descending() const { return descending_; }

 private:
  void Sort();
  AccountSource source_;
  std::vector<std::string> registered_;
  std::vector<ImportedAccount> accounts_;
  int column_ = 0;
  bool descending_ = false;
};

struct PageLimits {
  int32_t color = 0, mono = 0;
};

// Takes the limit kind (0 none, 1 the defaults, 2 the group's), the registry store and the
// group; gives the limits: 0 and 0; "MaxPages_Color" and "MaxPages" (20 and 50 where
// missing); the group's.
PageLimits ImportLimits(int32_t kind, CRegistryConfig& config, const engine::GroupRecord& group);

// Takes the registry store, the choice, the chosen group, today and the sink; writes each
// chosen account's quota file with the choice's limits and page counts of 0. Stops at the
// first failure (shown once by the writer) and gives it.
Status WriteImportQuotaFiles(CRegistryConfig& config, const ImportedAccounts& chosen, const engine::GroupRecord& group,
                             int32_t today, MessageSink* sink);

// Takes the database, the choice and the sink; adds one user row per chosen account, in
// order (the account's full name as user name, the chosen group, its limit kind as
// "CountShubetsu", no own limits, no mail address). The first failure shows message 29; the
// other accounts are still tried. Gives the number of rows added.
int AddImportedAccounts(CConsoleDatabase& db, const ImportedAccounts& chosen, MessageSink& sink);

}  // namespace zv::console
