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

Status SameAccountName(const std::string& requested, const std::string& stored) {
  if (EqualsNoCase(requested, stored)) return Status::Ok();
  return Status::InvalidArgument("the account " + requested + " matched the stored account " + stored +
                                 " only by other case rules: not printed");
}

std::string OwnerName(uint32_t uid) {
  auto owner = accounts::FindAccountByUid(uid);
  return owner.ok() ? owner->name : "uid " + std::to_string(uid);
}

Status DecideRequestOwner(const EngineSettings& settings, const std::string& requested, const std::string& stored,
                          uint32_t owner_uid) {
  Status same = SameAccountName(requested, stored);
  if (!same.ok()) return same;
  if (!settings.CheckRequestOwner || owner_uid == 0) return Status::Ok();
  auto owner = accounts::FindAccountByUid(owner_uid);
  if (owner.ok() && EqualsNoCase(owner->name, stored)) return Status::Ok();
  auto named = FindMachineAccount(stored);
  const std::string whose = named.ok() ? "the account " + named->name
                                       : "the account " + stored + " (no user of this machine: only root may ask)";
  return Status::InvalidArgument("written by " + OwnerName(owner_uid) + " for " + whose +
                                 ": not printed on another user's quota");
}

}  // namespace zv::engine
