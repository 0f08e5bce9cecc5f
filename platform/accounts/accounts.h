// The machine's account database, read through NSS (getpwent): the local accounts and, on a
// machine joined to a directory, the directory's users as NSS lists them. Normal accounts
// are those whose UID lies in the UID_MIN..UID_MAX range of login.defs; the full name is
// the first field of the GECOS text. An address names where the accounts come from: this
// machine or the directory it is joined to; any other address is refused, because only
// those accounts can be read from here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/status.h"

namespace zv::accounts {

struct Account {
  std::string name;
  std::string full_name;  // first GECOS field, trimmed; may be empty
  uint32_t uid = 0;
  uint32_t gid = 0;  // the primary group
};

// The UID range of normal accounts.
struct UidRange {
  uint32_t min = 1000;
  uint32_t max = 60000;
};

// Takes the path of a login.defs file; gives its UID_MIN and UID_MAX. A missing file, key
// or unreadable number keeps the default (1000, 60000).
UidRange ReadUidRange(const std::string& login_defs_path);

// Takes an address as typed ("srv", "\srv", "\\srv"); gives it with exactly two leading
// backslashes: one is added to "\srv", two to "srv", "\\srv" is kept. Empty stays empty.
std::string ServerAddress(std::string_view address);

// Gives the names this machine answers to, lower-cased: "localhost", ".", its host name
// (short and full), the addresses of its interfaces, and the domains of its directory
// (the domain of its full host name, the resolver's "domain" and "search" domains, the NIS
// domain) with their first labels. Nothing is looked up over the network.
std::vector<std::string> LocalNames();

// Takes an address (with or without leading backslashes) and the local names; gives whether
// it names this machine, its directory's domain, or a host inside that domain. Case does not
// matter; a trailing dot is ignored.
bool NamesThisMachine(std::string_view address, const std::vector<std::string>& local_names);

struct EnumerateOptions {
  std::string login_defs = "/etc/login.defs";
  // Keep accounts whose full name is empty.
  bool keep_empty_full_names = true;
};

// Takes an address, the local names and the options; gives the normal accounts in the
// order NSS lists them (each name once). InvalidArgument for an empty address, NotFound for
// an address that does not name this machine or its directory.
Result<std::vector<Account>> EnumerateAccounts(std::string_view address, const std::vector<std::string>& local_names,
                                               const EnumerateOptions& options = {});

// Takes an account name; gives the account NSS knows by exactly that name (getpwnam_r).
// NotFound when NSS knows none (an empty name included), IOError when the look-up fails.
Result<Account> FindAccount(const std::string& name);

// Takes a UID; gives the account NSS knows by it (getpwuid_r). NotFound when NSS knows
// none, IOError when the look-up fails.
Result<Account> FindAccountByUid(uint32_t uid);

}  // namespace zv::accounts
