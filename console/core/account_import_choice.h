// What the account import wizard hands back to the window that ran it: the chosen accounts
// with their full names, the group they join and how their page limits are counted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zv::console {

struct ImportedAccount {
  std::string account;
  std::string full_name;
};

struct ImportedAccounts {
  std::vector<ImportedAccount> accounts;  // in the wizard's order
  int32_t gid = 0;                        // the group they join
  int16_t count_shubetsu = 1;             // 0 no limit, 1 the system's, 2 the group's, 3 own
};

}  // namespace zv::console
