// What the account import wizard hands to its caller: the chosen accounts with their full
// names, the group they join and the limit choice (0 none, 1 the defaults, 2 the group's).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zv::console {

struct ImportedAccount {
  std::string account, full_name;
};

struct ImportedAccounts {
  std::vector<ImportedAccount> accounts;
  int32_t gid;
  int32_t limit_choice;
};

}  // namespace zv::console
