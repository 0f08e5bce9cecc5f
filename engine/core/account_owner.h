// Who may ask for an account's pages, and who owns its answers. On a server whose share is
// a folder every user of the machine may write, a request's account name is whatever its
// writer typed; only root, or the user whose NSS name is the account the request is
// charged to, may place a request for it (an account NSS does not know: root alone), and
// its answer and quota files are handed to that user, readable by it alone. The
// machine-key setting "CheckRequestOwner" (default 1) turns both off, for shares whose file
// owners are not the users (network mounts).
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

// Takes the account a request names and the account of the database row it will be
// charged to (its stored spelling); gives Ok when the two are one name by ASCII case
// folding, the comparison every part of the system makes. InvalidArgument otherwise: the
// database matched the name under other folding rules (PostgreSQL folds U+212A KELVIN
// SIGN to "k", U+0130 to "i"), and such a request is charged to nobody's own name.
Status SameAccountName(const std::string& requested, const std::string& stored);

// Takes the settings, the account a request names, the account of the database row it
// will be charged to (stored spelling) and the owner of its request file; decides, once
// for the whole engine, whether that owner may ask for that row: root always; with the
// check off anyone; otherwise only the user whose NSS name is the row's account by ASCII
// case folding. An account NSS does not know is thus served only from root's files. The
// names themselves must fold alike (SameAccountName) whatever the setting.
// InvalidArgument otherwise, naming both owners.
Status DecideRequestOwner(const EngineSettings& settings, const std::string& requested, const std::string& stored,
                          uint32_t owner_uid);

// Takes a uid; gives its NSS name, or "uid N" where NSS knows none.
std::string OwnerName(uint32_t uid);

}  // namespace zv::engine
