// The rules behind the environment settings sheet: the values its limit page edits, the
// three printer lists of its general page, and what OK stores (limits, period restart,
// "Aperiod.prd", every account's quota file, actions, messages, mail, the Printers table
// and "printers.lst"). Also the quota-file rewrites the other administration windows share.
// No windows here: the sheet and the first-run wizard only show and collect.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console/core/registry_config.h"
#include "console/db/console_database.h"
#include "console/rules/messages.h"
#include "console/rules/periods.h"
#include "engine/rules/check_rules.h"
#include "platform/base/status.h"
#include "platform/spool/spool.h"

namespace zv::console {

// The limit page's fields, with the sheet's defaults.
struct EnvironmentValues {
  int32_t mono = 50, color = 20;
  int32_t period_choice = 3;  // 0 none, 1 a day, 2 a week, 3 a month, 4 N days
  int32_t days = 1;
  int32_t mail_user = 0, mail_admin = 0, refuse = 0;
  int32_t on_completion = 0, on_error = 0;
  int32_t over_action = 1;  // 0 a job crossing the limit is allowed, 1 refused
  std::string smtp_server;
  int32_t smtp_port = 25;
  std::string admin_address, sender_address;
  bool operator==(const EnvironmentValues&) const = default;
};

// Takes the settings store; gives the fields preset from the registry, each value only when
// it exists (the defaults stay otherwise; the days only for a period with days).
EnvironmentValues LoadEnvironment(CConsoleSettings& settings);

// Takes the system limits' store; gives "MaxPages" and "MaxPages_Color" (50 and 20 when
// missing) as the limits of users that follow the system.
engine::UserLimits SystemLimits(CRegistryConfig& config);

// Takes a user, the system limits and the user's group (null when unknown: then the
// system's, as the engine resolves it); gives the limits the user's quota file carries by
// its CountShubetsu.
engine::UserLimits QuotaLimits(const engine::UserRecord& user, const engine::UserLimits& system,
                               const engine::GroupRecord* group);

// Takes the settings and today; gives the limit period as the registry now holds it
// ("CheckRange", "LimitDate" rolled on when it lies before today, "WeekFlag").
LimitPeriod StoredLimitPeriod(CConsoleSettings& settings, int32_t today);

// Takes the settings, the users and the groups they may follow (looked up by GID), and
// today; writes each user's quota file with page counts of 0 and the user's limits. A
// failure is shown once through the sink and the others are still written; gives the first.
Status WriteZeroCountQuotaFiles(CConsoleSettings& settings, const std::vector<engine::UserRecord>& users,
                                const std::vector<engine::GroupRecord>& groups, int32_t today, MessageSink* sink);

// Which quota files RewriteQuotaFiles writes: every live user's, or those of one group
// (gid), of one user (uid), and of those only the users that follow their group's limits.
struct QuotaScope {
  int32_t gid = 0;
  int32_t uid = 0;
  bool group_followers = false;
};

// Takes the settings, an open database, today, the sink and the scope; writes the quota
// files of the scope's live users with the pages counted in the current period and the
// limits of the user's group as the database now holds it (looked up by GID). A failed
// group read skips the whole rewrite silently; a failed page count skips that group's files
// when every user is rewritten, and writes the counts as unknown (-1) otherwise; a failed
// read of a group's users shows message 32 and gives false (the caller abandons its work).
bool RewriteQuotaFiles(CConsoleSettings& settings, CConsoleDatabase& db, int32_t today, MessageSink& sink,
                       const QuotaScope& scope = {});

// The general page's three lists.
struct PrinterLists {
  std::vector<engine::PrinterRecord> color, mono;  // managed, in array order
  std::vector<engine::PrinterRecord> connected;    // this machine's other printers (PID 0)
  bool modified = false;                           // a managed printer is no longer installed here
};

// Takes the managed printers (the page's array) and this machine's candidate printers;
// keeps each managed printer whose name is a candidate (without regard to case; a second
// record of the same name is dropped), drops the others (modified), and gives the leftover
// candidates as unmanaged records.
PrinterLists SortPrinterLists(const std::vector<engine::PrinterRecord>& managed,
                              const std::vector<std::string>& candidates);

// Takes the settings; gives the path of the managed-printer list for the clients:
// "<AppPath>\<ShareDir>" as a local path joined with "PrintInfoDir" ("PrintInfo" when
// missing) and "printers.lst". NotFound when AppPath or ShareDir is missing.
Result<std::string> PrinterListPath(CRegistryConfig& config);

// Takes the spooler, the managed printers and the list's path; describes each printer
// (message 42 for one that cannot be described) and writes the list (message 42 on
// failure). Gives false after a message.
bool WriteManagedPrinterList(spool::Spooler& spooler, const std::vector<engine::PrinterRecord>& printers,
                             const std::string& path, MessageSink& sink);

// What the sheet hands back on OK.
struct EnvironmentEdit {
  EnvironmentValues before, after;
  std::vector<engine::PrinterRecord> db_printers;  // the managed rows when the sheet opened
  std::vector<engine::PrinterRecord> printers;     // the general page's new array
  bool printers_changed = false;                   // the general page's modified flag
};

// What ApplyEnvironment did.
struct EnvironmentOutcome {
  bool period_restarted = false;  // "LimitDate" and "CheckRange" were written
  bool completed = false;         // every step ran: the user list is to be rebuilt
};

// Takes the settings, an open database, the spooler (null when it cannot be opened: the
// printers cannot be described, message 42), the edit, today and the sink; stores
// the sheet's result in this order: the changed limits and crossing rule; the period (a
// changed kind or day count restarts it from today); "Aperiod.prd"; every user's quota
// file; the changed action, message and mail values; and, when the printers changed, the
// Printers table (rows not in the new array are marked removed, new names added or
// revived) and "printers.lst". A failure shows its message and abandons the rest.
EnvironmentOutcome ApplyEnvironment(CConsoleSettings& settings, CConsoleDatabase& db, spool::Spooler* spooler,
                                    const EnvironmentEdit& edit, int32_t today, MessageSink& sink);

}  // namespace zv::console
