// Who may ask for an account's pages, and who owns its answers. On a server whose share is
// a folder every user of the machine may write, a request's account name is whatever its
// writer typed; where the machine knows the account (NSS), only that account (or root)
// may place a request for it, and its answer and quota files are handed to it, readable
// by it alone. The machine-key setting "CheckRequestOwner" (default 1) turns both off, for
// shares whose file owners are not the users (network mounts).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/rules/settings.h"
#include "platform/accounts/accounts.h"
#include "platform/base/status.h"
#include "platform/fs/files.h"

namespace zv::engine {

// Takes an account name of a request; gives the machine account of exactly that name, else
// of its lower-case form (clients do not tell case apart, the database neither). NotFound
// when the machine knows neither, IOError when the look-up fails.
Result<accounts::Account> FindMachineAccount(const std::string& account);

// Takes the settings and an account name; gives the owner the account's answer and quota
// files are handed to (the machine account, mode 0600). Nothing where the check is off or
// the machine does not know the account: the files are then written as ever.
std::optional<fs::Ownership> AccountFilesOwner(const EngineSettings& settings, const std::string& account);
// As above, for a writer that reads "CheckRequestOwner" itself (the console): `check` is
// that setting (missing: 1).
std::optional<fs::Ownership> AccountFilesOwner(int32_t check, const std::string& account);

// Takes the settings, the account a request names and the owner of its request file; gives
// Ok when that owner may ask for the account: root, the machine account itself (or an
// account whose name is the account's in another case), or anyone where the check is off
// or the machine does not know the account. InvalidArgument otherwise, naming both.
Status CheckRequestFileOwner(const EngineSettings& settings, const std::string& account, uint32_t owner_uid);

}  // namespace zv::engine
