#include "console/core/first_run.h"

#include <filesystem>
#include <system_error>

#include "console/core/quota_files.h"
#include "engine/rules/quota_period.h"
#include "platform/paths/paths.h"

namespace zv::console {

namespace {

CConsoleDatabase OpenDatabase(CRegistryConfig& config) {
  std::string dsn, uid, pwd;
  config.GetDSN(&dsn);
  config.GetUID(&uid);
  config.GetPWD(&pwd);
  return CConsoleDatabase(dsn, uid, pwd);
}

}  // namespace

EnvironmentValues FirstRunDefaults() {
  EnvironmentValues v;
  v.mail_admin = 1;
  v.on_error = 1;
  return v;
}

void StoreWizardLimits(CConsoleSettings& settings, CConsoleDatabase& db, const EnvironmentValues& v, int32_t today,
                       MessageSink& sink) {
  settings.SetMaxPages(v.mono);
  settings.SetMaxPages_Color(v.color);
  settings.SetCheckRange(v.period_choice, v.period_choice == engine::kPeriodDays ? v.days : 0);
  std::vector<engine::UserRecord> users;
  std::vector<engine::GroupRecord> groups;
  if (!db.GetUserInfo(&users, -1, 1) || !db.GetGroupInfo(&groups, -1, -1)) return;
  (void)WriteZeroCountQuotaFiles(settings, users, groups, today, &sink);  // failures were shown
}

bool RemoveWizardUsers(CConsoleSettings& settings, CConsoleDatabase& db, const std::vector<engine::UserRecord>& users,
                       MessageSink& sink) {
  std::vector<int32_t> uids;
  for (const auto& u : users) uids.push_back(u.UID);
  if (!db.DeleteUsers(uids)) {
    ShowAppMessage(sink, 31);
    return false;
  }
  auto folder = ConsoleResultFolder(settings);
  if (!folder.ok()) return true;
  for (const auto& u : users) {
    for (const std::string& name : {u.Account + ".ans", u.Account + "-.ans"}) {
      auto path = paths::JoinInside(*folder, name);
      std::error_code ec;
      if (path.ok()) std::filesystem::remove(*path, ec);  // a file that is not there is fine
    }
  }
  return true;
}

int CompleteFirstRun(CConsoleSettings& settings, spool::Spooler& spooler, const FirstRunChoices& choices, int32_t today,
                     MessageSink& sink) {
  if (!choices.printers.empty()) {
    CConsoleDatabase db = OpenDatabase(settings);
    std::vector<engine::PrinterRecord> printers = choices.printers;
    for (auto& p : printers) {
      if (p.PID != 0) continue;
      bool duplicate = false;
      if (db.AddPrinter(&p, &duplicate)) continue;
      // A set-up stopped after its printers were stored meets them again: take them over.
      engine::PrinterRecord live;
      bool found = false;
      if (duplicate && db.GetPrinterInfo(p.PrinterName, &live, &found) && found) {
        p.PID = live.PID;
        continue;
      }
      ShowAppMessage(sink, 39);
      return kWizardStop;
    }
    auto path = PrinterListPath(settings);
    if (!path.ok()) {
      ShowAppMessage(sink, 24);
      return kWizardStop;
    }
    if (!WriteManagedPrinterList(spooler, printers, *path, sink)) return kWizardStop;
  }

  const EnvironmentValues& v = choices.values;
  int32_t week_flag = 0;
  settings.GetWeekFlag(&week_flag);
  const int32_t days = v.period_choice == engine::kPeriodDays ? v.days : 0;
  settings.SetMaxPages(v.mono);
  settings.SetLimitDate(v.period_choice == engine::kPeriodWeek
                            ? engine::WeekEndDate(today, week_flag)
                            : engine::NextLimitDate(0, today, v.period_choice, days));
  settings.SetCheckRange(v.period_choice, days);
  settings.SetLimitAction(v.mail_user, v.mail_admin, v.refuse);
  settings.SetDispMessage(v.on_completion, v.on_error);
  if (v.mail_user == 1 || v.mail_admin == 1) {
    settings.SetSMTPServer(v.smtp_server);
    settings.SetSMTPPort(v.smtp_port);
    settings.SetAdminMailAddress(v.admin_address);
    settings.SetSenderMailAddress(v.sender_address);
  }
  settings.SetLogEnv1(0);
  return kWizardFinish;
}

int RunFirstSetup(CConsoleSettings& settings, const std::function<int(FirstRunChoices*)>& wizard,
                  spool::Spooler& spooler, int32_t today, MessageSink& sink) {
  int32_t flag = 0;
  std::string scrambled;
  if (settings.GetLogEnv1(&flag) || settings.GetLogEnv2(&scrambled)) return kWizardFinish;
  FirstRunChoices choices;
  choices.values = FirstRunDefaults();
  if (wizard(&choices) != kWizardFinish) return kWizardStop;
  return CompleteFirstRun(settings, spooler, choices, today, sink);
}

}  // namespace zv::console
