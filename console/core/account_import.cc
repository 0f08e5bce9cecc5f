#include "console/core/account_import.h"

#include <algorithm>

#include "console/core/quota_files.h"
#include "platform/accounts/accounts.h"
#include "platform/base/ascii.h"

namespace zv::console {

AccountSource SystemAccountSource(std::string login_defs) {
  return [login_defs](const std::string& address) -> Result<std::vector<ImportedAccount>> {
    accounts::EnumerateOptions o;
    o.login_defs = login_defs;
    o.keep_empty_full_names = true;
    auto found = accounts::EnumerateAccounts(address, accounts::LocalNames(), o);
    if (!found.ok()) return found.status();
    std::vector<ImportedAccount> out;
    for (auto& a : *found) out.push_back({std::move(a.name), std::move(a.full_name)});
    return out;
  };
}

bool AccountListModel::Read(const std::string& address) {
  accounts_.clear();
  auto found = source_(address);
  if (!found.ok()) return false;
  for (auto& a : *found) {
    const bool registered = std::any_of(registered_.begin(), registered_.end(),
                                        [&](const std::string& r) { return EqualsNoCase(r, a.account); });
    if (!registered) accounts_.push_back(std::move(a));
  }
  column_ = 0;
  descending_ = false;
  Sort();
  return true;
}

void AccountListModel::Click(int column) {
  if (accounts_.size() < 2 || column < 0 || column > 1) return;
  descending_ = column == column_ ? !descending_ : false;
  column_ = column;
  Sort();
}

void AccountListModel::Sort() {
  auto key = [this](const ImportedAccount& a) -> const std::string& { return column_ == 1 ? a.full_name : a.account; };
  std::stable_sort(accounts_.begin(), accounts_.end(), [&](const ImportedAccount& a, const ImportedAccount& b) {
    const int c = CompareNoCase(key(a), key(b));
    return descending_ ? c > 0 : c < 0;
  });
}

PageLimits ImportLimits(int32_t kind, CRegistryConfig& config, const engine::GroupRecord& group) {
  switch (kind) {
    case 1: {
      PageLimits l;
      if (!config.GetMaxPages_Color(&l.color)) l.color = 20;
      if (!config.GetMaxPages(&l.mono)) l.mono = 50;
      return l;
    }
    case 2:
      return {group.MaxPages_Color, group.MaxPages};
    default:
      return {};
  }
}

Status WriteImportQuotaFiles(CRegistryConfig& config, const ImportedAccounts& chosen, const engine::GroupRecord& group,
                             int32_t today, MessageSink* sink) {
  const PageLimits limits = ImportLimits(chosen.count_shubetsu, config, group);
  for (const auto& a : chosen.accounts) {
    Status s = WriteLimitAnswerFiles(config, a.account, limits.color, limits.mono, QuotaWriteMode::kUser, 0, 0,
                                     std::nullopt, today, sink);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

int AddImportedAccounts(CConsoleDatabase& db, const ImportedAccounts& chosen, MessageSink& sink) {
  int added = 0;
  bool shown = false;
  for (const auto& a : chosen.accounts) {
    engine::UserRecord u;
    u.Account = a.account;
    u.UserName = a.full_name;
    u.GID = chosen.gid;
    u.CountShubetsu = chosen.count_shubetsu;
    if (db.AddUser(&u)) {
      ++added;
    } else if (!shown) {
      shown = true;
      (void)ShowAppMessage(sink, 29);  // an OK box: its button tells nothing
    }
  }
  return added;
}

}  // namespace zv::console
