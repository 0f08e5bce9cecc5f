// The first-run set-up of the administration console: what the set-up wizard's pages store
// on their own (the limit page's Next, the user page's deletion) and what the set-up does
// after Finish (the managed printers, "printers.lst", the quota settings and the lock flag
// that marks the server as set up). No windows: the wizard is handed in as a callback.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "console/core/environment.h"

namespace zv::console {

// The wizard's result codes: Finish, and anything that stops the console.
inline constexpr int kWizardFinish = 12325;
inline constexpr int kWizardStop = 2;

// What the wizard's pages hand to the set-up after Finish.
struct FirstRunChoices {
  std::vector<engine::PrinterRecord> printers;  // the printer page's array (PID 0: new)
  EnvironmentValues values;                     // the limit and action pages' fields
};

// Gives the action page's defaults: the administrator is warned by mail and the clients
// are told of errors.
EnvironmentValues FirstRunDefaults();

// Takes the settings, an open database, the limit page's fields, today and the sink; stores
// "MaxPages", "MaxPages_Color" and "CheckRange" (the days only for a period of days) and
// writes every registered user's quota file with counts of 0. Failures to read the users
// are silent; a file that cannot be written is shown.
void StoreWizardLimits(CConsoleSettings& settings, CConsoleDatabase& db, const EnvironmentValues& values, int32_t today,
                       MessageSink& sink);

// Takes the settings, an open database, the users to delete and the sink; in one
// transaction removes their print-log rows and marks them deleted (message 31 on failure,
// nothing changed), then removes each account's "<account>.ans" and its quota file
// "<account>-.ans" from the result folder. Gives whether the users were deleted.
bool RemoveWizardUsers(CConsoleSettings& settings, CConsoleDatabase& db, const std::vector<engine::UserRecord>& users,
                       MessageSink& sink);

// Takes the settings, the spooler, the wizard's choices, today and the sink; stores the
// chosen printers (new ones added; message 39) and "printers.lst" (message 24 or 42), then
// "MaxPages", "LimitDate" (a period restarted today), "CheckRange", "LimitAction",
// "DispMessage", the mail values when a mail action is on, and last the unlocked lock flag.
// Gives kWizardFinish, or kWizardStop after a message (the registry values then untouched).
int CompleteFirstRun(CConsoleSettings& settings, spool::Spooler& spooler, const FirstRunChoices& choices, int32_t today,
                     MessageSink& sink);

// Takes the settings, the wizard (run modally; fills the choices and gives its result), the
// spooler, today and the sink; gives kWizardFinish at once when "LogEnv1" or "LogEnv2"
// exists, kWizardStop when the wizard ends otherwise than by Finish, else CompleteFirstRun's
// result.
int RunFirstSetup(CConsoleSettings& settings, const std::function<int(FirstRunChoices*)>& wizard,
                  spool::Spooler& spooler, int32_t today, MessageSink& sink);

}  // namespace zv::console
