#include "engine/core/account_owner.h"

#include "platform/base/ascii.h"

namespace zv::engine {

Result<accounts::Account> FindMachineAccount(const std::string& account) {
  auto found = accounts::FindAccount(account);
  if (found.ok() || found.status().code() != Status::Code::kNotFound) return found;
  const std::string lower = ToLowerAscii(account);
  if (lower == account) return found;
  return accounts::FindAccount(lower);
}

std::optional<fs::Ownership> AccountFilesOwner(const EngineSettings& settings, const std::string& account) {
  return AccountFilesOwner(settings.CheckRequestOwner, account);
}

std::optional<fs::Ownership> AccountFilesOwner(int32_t check, const std::string& account) {
  if (!check) return std::nullopt;
  auto found = FindMachineAccount(account);
  if (!found.ok()) return std::nullopt;
  return fs::Ownership{static_cast<uid_t>(found->uid), static_cast<gid_t>(found->gid), 0600};
}

Status CheckRequestFileOwner(const EngineSettings& settings, const std::string& account, uint32_t owner_uid) {
  if (!settings.CheckRequestOwner || owner_uid == 0) return Status::Ok();
  auto owner = accounts::FindAccountByUid(owner_uid);
  // The owner's own account, typed in another case, is the owner's.
  if (owner.ok() && EqualsNoCase(owner->name, account)) return Status::Ok();
  // An account the machine does not know (or cannot look up now) is not checked.
  auto named = FindMachineAccount(account);
  if (!named.ok() || named->uid == owner_uid) return Status::Ok();
  const std::string who = owner.ok() ? owner->name : "uid " + std::to_string(owner_uid);
  return Status::InvalidArgument("written by " + who + " for the account " + named->name +
                                 ": not printed on another user's quota");
}

}  // namespace zv::engine
