#include "console/core/environment.h"

#include <algorithm>

#include "client/printer_list.h"
#include "console/core/quota_files.h"
#include "engine/rules/quota_period.h"
#include "platform/base/ascii.h"
#include "platform/paths/paths.h"

namespace zv::console {

namespace {

// Takes a number getter of the store and the preset; gives the stored value, or the preset
// when the value is missing (the store's number getters clear their output then).
template <typename Getter>
int32_t NumberOr(Getter get, int32_t preset) {
  int32_t v = 0;
  return get(&v) ? v : preset;
}

}  // namespace

EnvironmentValues LoadEnvironment(CConsoleSettings& s) {
  EnvironmentValues v;
  int32_t over = -1;
  if (s.GetLimitOverAction(&over) && over >= 0) v.over_action = over;
  v.color = NumberOr([&](int32_t* o) { return s.GetMaxPages_Color(o); }, v.color);
  v.mono = NumberOr([&](int32_t* o) { return s.GetMaxPages(o); }, v.mono);
  int32_t index = 0, days = 0;
  if (s.GetCheckRange(&index, &days)) {
    v.period_choice = index;
    if (index == engine::kPeriodDays) v.days = days;
  }
  s.GetLimitAction(&v.mail_user, &v.mail_admin, &v.refuse);
  s.GetDispMessage(&v.on_completion, &v.on_error);
  s.GetSMTPServer(&v.smtp_server);
  v.smtp_port = NumberOr([&](int32_t* o) { return s.GetSMTPPort(o); }, v.smtp_port);
  s.GetAdminMailAddress(&v.admin_address);
  s.GetSenderMailAddress(&v.sender_address);
  return v;
}

engine::UserLimits SystemLimits(CRegistryConfig& config) {
  return engine::ReadSystemLimits([&](const char* name) -> std::optional<int32_t> {
    int32_t v = 0;
    const bool found = std::string_view(name) == "MaxPages" ? config.GetMaxPages(&v) : config.GetMaxPages_Color(&v);
    if (!found) return std::nullopt;
    return v;
  });
}

engine::UserLimits QuotaLimits(const engine::UserRecord& user, const engine::UserLimits& system,
                               const engine::GroupRecord* group) {
  const engine::UserLimits own{user.MaxPages, user.MaxPages_Color};
  engine::UserLimits g{};
  if (group) g = {group->MaxPages, group->MaxPages_Color};
  return engine::ResolveUserLimits(user.CountShubetsu, own, system, group ? &g : nullptr);
}

LimitPeriod StoredLimitPeriod(CConsoleSettings& s, int32_t today) {
  int32_t index = 0, days = 0, week_flag = 0, limit_date = 0;
  s.GetCheckRange(&index, &days);
  s.GetWeekFlag(&week_flag);
  if (!s.GetLimitDate(&limit_date) || !engine::IsValidDate(limit_date)) {
    limit_date = index == engine::kPeriodWeek ? engine::WeekEndDate(today, week_flag)
                                              : engine::NextLimitDate(0, today, index, days);
  }
  return CurrentLimitPeriod(today, index, days, limit_date, week_flag);
}

Status WriteZeroCountQuotaFiles(CConsoleSettings& settings, const std::vector<engine::UserRecord>& users,
                                const std::vector<engine::GroupRecord>& groups, int32_t today, MessageSink* sink) {
  const engine::UserLimits system = SystemLimits(settings);
  const LimitPeriod period = StoredLimitPeriod(settings, today);
  Status first;
  for (const auto& u : users) {
    auto g = std::find_if(groups.begin(), groups.end(), [&](const engine::GroupRecord& r) { return r.GID == u.GID; });
    const engine::UserLimits l = QuotaLimits(u, system, g == groups.end() ? nullptr : &*g);
    Status s =
        WriteLimitAnswerFiles(settings, u.Account, l.color, l.mono, QuotaWriteMode::kUser, 0, 0, period, today, sink);
    if (!s.ok() && first.ok()) first = s;
  }
  return first;
}

bool RewriteQuotaFiles(CConsoleSettings& settings, CConsoleDatabase& db, int32_t today, MessageSink& sink,
                       const QuotaScope& scope) {
  std::vector<engine::GroupRecord> groups;
  if (!db.GetGroupInfo(&groups, scope.gid > 0 ? scope.gid : -1, 1) || groups.empty()) return true;
  const bool everyone = scope.gid <= 0 && scope.uid <= 0 && !scope.group_followers;
  const LimitPeriod period = StoredLimitPeriod(settings, today);
  const engine::PeriodDays span = engine::PeriodSumDays(period.index, period.days, period.end);
  const int32_t first = span.form == engine::PeriodDays::kOnDay   ? span.last
                        : span.form == engine::PeriodDays::kRange ? span.first
                                                                  : 0;
  const engine::UserLimits system = SystemLimits(settings);
  for (const auto& g : groups) {
    std::vector<UserPageRow> rows;
    if (!db.GetGroupUser(&rows, g.GID)) {
      ShowAppMessage(sink, 32);
      return false;
    }
    std::erase_if(rows, [&](const UserPageRow& r) {
      return (scope.uid > 0 && r.UID != scope.uid) || (scope.group_followers && r.CountShubetsu != 2);
    });
    if (rows.empty()) continue;
    const bool counted = db.SumUserPagesOnly(&rows, first, span.last);
    if (!counted && everyone) continue;
    for (const auto& r : rows) {
      const engine::UserLimits l = QuotaLimits(r, system, &g);
      // A file that cannot be written has been reported; the others are still written.
      (void)WriteLimitAnswerFiles(settings, r.Account, l.color, l.mono, QuotaWriteMode::kUser,
                                  counted ? r.ColorPages : -1, counted ? r.MonoPages : -1, period, today, &sink);
    }
  }
  return true;
}

PrinterLists SortPrinterLists(const std::vector<engine::PrinterRecord>& managed,
                              const std::vector<std::string>& candidates) {
  PrinterLists out;
  std::vector<std::string> left = candidates;
  for (const auto& p : managed) {
    auto it =
        std::find_if(left.begin(), left.end(), [&](const std::string& n) { return EqualsNoCase(n, p.PrinterName); });
    if (it == left.end()) {
      out.modified = true;
      continue;
    }
    left.erase(it);
    (p.Ptype != 0 ? out.color : out.mono).push_back(p);
  }
  for (const auto& n : left) out.connected.push_back(engine::PrinterRecord{0, n, 0, 0});
  return out;
}

Result<std::string> PrinterListPath(CRegistryConfig& config) {
  std::string app, share, info;
  if (!config.GetAppPath(&app) || !config.GetShareDir(&share)) return Status::NotFound("AppPath or ShareDir missing");
  if (!config.GetPrintInfoDir(&info) || info.empty()) info = "PrintInfo";
  auto root = paths::ToLocalPath(app + "\\" + share);
  if (!root.ok()) return root.status();
  auto folder = paths::JoinInside(*root, info);
  if (!folder.ok()) return folder.status();
  return *folder + "/printers.lst";
}

bool WriteManagedPrinterList(spool::Spooler& spooler, const std::vector<engine::PrinterRecord>& printers,
                             const std::string& path, MessageSink& sink) {
  std::vector<client::PrinterInfo> infos;
  for (const auto& p : printers) {
    client::PrinterInfo info;
    if (!client::MakePrnDeviceInfo(spooler, p.PrinterName, &info)) {
      ShowAppMessage(sink, 42);
      return false;
    }
    infos.push_back(std::move(info));
  }
  if (!client::CreatePrinterInfoFile(path, infos).ok()) {
    ShowAppMessage(sink, 42);
    return false;
  }
  return true;
}

namespace {

// Stores the period when its kind or day count changed, restarting it from today.
bool StorePeriod(CConsoleSettings& s, const EnvironmentValues& before, const EnvironmentValues& after, int32_t today) {
  const int32_t kind = after.period_choice;
  int32_t end = 0, days = 0;
  if (kind == engine::kPeriodDays) {
    if (before.period_choice == kind && before.days == after.days) return false;
    days = after.days;
    end = engine::NextLimitDate(0, today, kind, days);
  } else {
    if (before.period_choice == kind) return false;
    int32_t week_flag = 0;
    s.GetWeekFlag(&week_flag);
    end =
        kind == engine::kPeriodWeek ? engine::WeekEndDate(today, week_flag) : engine::NextLimitDate(0, today, kind, 0);
  }
  s.SetLimitDate(end);
  s.SetCheckRange(kind, days);
  return true;
}

bool StorePrinters(CConsoleSettings& settings, CConsoleDatabase& db, spool::Spooler* spooler,
                   const EnvironmentEdit& edit, MessageSink& sink) {
  std::vector<engine::PrinterRecord> printers = edit.printers;
  for (engine::PrinterRecord old : edit.db_printers) {
    auto it = std::find_if(printers.begin(), printers.end(), [&](const engine::PrinterRecord& p) {
      return EqualsNoCase(p.PrinterName, old.PrinterName);
    });
    bool ok = true;
    if (it == printers.end()) {
      ok = db.RemovePrinter(&old);
    } else {
      if (it->PID == 0) it->PID = old.PID;
      if (it->Ptype != old.Ptype) ok = db.UpdatePrinter(engine::PrinterRecord{old.PID, it->PrinterName, it->Ptype, 1});
    }
    if (!ok) {
      ShowAppMessage(sink, 41);
      return false;
    }
  }
  for (auto& p : printers) {
    if (p.PID != 0) continue;
    if (!db.AddPrinter(&p)) {
      ShowAppMessage(sink, 41);
      return false;
    }
  }
  if (!db.PurgeRemovedPrinters()) {
    ShowAppMessage(sink, 41);
    return false;
  }
  auto path = PrinterListPath(settings);
  if (!path.ok()) {
    ShowAppMessage(sink, 24);
    return false;
  }
  if (!spooler) {
    ShowAppMessage(sink, 42);
    return false;
  }
  return WriteManagedPrinterList(*spooler, printers, *path, sink);
}

}  // namespace

EnvironmentOutcome ApplyEnvironment(CConsoleSettings& s, CConsoleDatabase& db, spool::Spooler* spooler,
                                    const EnvironmentEdit& edit, int32_t today, MessageSink& sink) {
  EnvironmentOutcome out;
  const EnvironmentValues &b = edit.before, &a = edit.after;
  if (a.over_action != b.over_action) s.SetLimitOverAction(a.over_action);
  if (a.color != b.color) s.SetMaxPages_Color(a.color);
  if (a.mono != b.mono) s.SetMaxPages(a.mono);
  out.period_restarted = StorePeriod(s, b, a, today);

  // The period file and the accounts' quota files are rewritten even without a change, so
  // that files a client lost or a failed earlier write left behind are brought back.
  (void)WriteLimitAnswerFiles(s, "Aperiod", 0, 0, QuotaWriteMode::kPeriod, 0, 0, StoredLimitPeriod(s, today), today,
                              &sink);  // a failure was shown; the accounts' files still follow
  if (!RewriteQuotaFiles(s, db, today, sink)) return out;

  if (a.mail_user != b.mail_user || a.mail_admin != b.mail_admin || a.refuse != b.refuse)
    s.SetLimitAction(a.mail_user, a.mail_admin, a.refuse);
  if (a.on_completion != b.on_completion || a.on_error != b.on_error) s.SetDispMessage(a.on_completion, a.on_error);
  if (a.smtp_server != b.smtp_server) s.SetSMTPServer(a.smtp_server);
  if (a.smtp_port != b.smtp_port) s.SetSMTPPort(a.smtp_port);
  if (a.admin_address != b.admin_address) s.SetAdminMailAddress(a.admin_address);
  if (a.sender_address != b.sender_address) s.SetSenderMailAddress(a.sender_address);

  if (edit.printers_changed && !StorePrinters(s, db, spooler, edit, sink)) return out;
  out.completed = true;
  return out;
}

}  // namespace zv::console
