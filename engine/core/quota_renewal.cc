#include "engine/core/quota_renewal.h"

#include <unistd.h>

#include "engine/core/account_owner.h"
#include "engine/core/event_writer.h"
#include "engine/core/settings_store.h"
#include "engine/db/zvm_database.h"
#include "engine/rules/check_rules.h"
#include "engine/rules/quota_file.h"
#include "engine/rules/quota_period.h"
#include "engine/rules/text_util.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"
#include "platform/profile/profile.h"
#include "platform/registry/registry.h"

namespace zv::engine {

bool QuotaRenewalTimer::Due(int hour) {
  if (hour >= 1 && hour <= 23 && ran_) return false;
  ran_ = true;
  return true;
}

Status RenewQuotaPeriod(const EngineSettings& settings, int32_t today, RenewalReport* report) {
  *report = RenewalReport();
  auto period_path = paths::JoinInside(settings.ResultPath, "Aperiod.prd");
  if (!period_path.ok()) return period_path.status();
  if (access(period_path->c_str(), F_OK) != 0) return Status::Ok();
  // Values are read as decimals of at most 32 characters, as the console writes them.
  auto read = [&](const char* key) { return LeadingInt(profile::GetString(*period_path, "PrintLimit", key, "0", 33)); };
  int32_t index = read("CheckRange");
  int32_t limit_date = read("LimitDate");
  int32_t days = read("LimitDays");
  if (limit_date >= today) return Status::Ok();

  auto key = registry::Key::Open(registry::RootKey::kLocalMachine, kZelvoraKey);
  auto dword = [&](const char* name, int32_t fallback) {
    if (!key.ok()) return fallback;
    auto v = key->GetDword(name);
    return v.ok() ? static_cast<int32_t>(*v) : fallback;
  };
  int32_t new_end =
      index == kPeriodWeek ? WeekEndDate(today, dword("WeekFlag", 0)) : NextLimitDate(limit_date, today, index, days);
  // The users are read before the period moves on: when they cannot be read, the period
  // file keeps its old end, so that the next try renews the period and its quota files
  // together instead of leaving the quota files of the old period for a whole period.
  CZvmDatbase db(settings.DSN, settings.UID, settings.PWD);
  std::vector<UserRecord> users;
  if (!db.GetUserInfo(&users, 0, 1)) {
    std::string text = JoinList(db.ErrorLines, "\r\n", true);
    int no_code = 0;
    (void)WriteEventLog(kEngineEventSource, kEvDatabaseError, &text, &no_code);
    return Status::IOError("user list: " + (db.ErrorLines.empty() ? std::string() : db.ErrorLines.front()));
  }
  Status s = profile::WriteString(*period_path, "PrintLimit", "LimitDate", std::to_string(new_end));
  if (!s.ok()) return s;
  report->renewed = true;
  report->new_limit_date = new_end;

  // The system's limits are read afresh, as the check reads them for the next request.
  const UserLimits system =
      key.ok() ? ReadMachineKeyLimits(*key) : UserLimits{settings.MaxPages, settings.MaxPages_Color};
  for (const auto& u : users) {
    UserLimits group{};
    bool have_group = false;
    if (u.CountShubetsu == kCountGroup) {
      std::vector<GroupRecord> groups;
      // A group number of 0 or less filters nothing: such a user has no group.
      if (u.GID > 0 && db.GetGroupInfo(&groups, u.GID, 1) && !groups.empty()) {
        group = {groups.front().MaxPages, groups.front().MaxPages_Color};
        have_group = true;
      }
    }
    const UserLimits limits = ResolveUserLimits(u.CountShubetsu, {u.MaxPages, u.MaxPages_Color},
                                                system, have_group ? &group : nullptr);
    const int32_t mono = limits.mono, color = limits.color;
    auto path = paths::JoinInside(settings.ResultPath, u.Account + ".ans");
    // "<account>.ans" in its eight fixed lines; "<account>-.ans", the file the answers and the
    // console rewrite, in their layout.
    const std::string renewal_text = ComposeQuotaFile(index, new_end, days, color, mono);
    const std::string quota_text = ComposeQuotaText({index, new_end, days, true, color, mono, 0, 0});
    // The account's files, handed to it where the machine knows it.
    const std::optional<fs::Ownership> owner = AccountFilesOwner(settings, u.Account);
    const fs::Ownership* own = owner ? &*owner : nullptr;
    Status w = path.ok() ? fs::WriteFileAtomic(*path, renewal_text, 0644, fs::Durability::kSynced, own)
                         : Status::InvalidArgument("account name is not a plain name");
    if (w.ok()) w = WriteAccountQuotaFile(settings.ResultPath, u.Account, quota_text, own);
    if (w.ok()) {
      ++report->files_written;
    } else {
      report->failures.push_back(u.Account + ": " + w.ToString());
    }
  }
  if (!report->failures.empty()) {
    std::string text = "quota files not written:\r\n" + JoinList(report->failures, "\r\n");
    int no_code = 0;
    (void)WriteEventLog(kEngineEventSource, kEvWorkerError, &text, &no_code);
  }
  return Status::Ok();
}

}  // namespace zv::engine
