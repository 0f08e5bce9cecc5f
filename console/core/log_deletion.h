// Deleting print-log rows from the administration console: the chosen users' rows or all
// rows, and then the affected accounts' quota files with page counts of 0. The files are
// written only once the deletion is committed, so a client never sees counts the database
// does not hold.
#pragma once

#include <cstdint>
#include <vector>

#include "console/core/registry_config.h"
#include "console/db/console_database.h"
#include "console/rules/messages.h"

namespace zv::console {

// Takes the settings, an open database, the users (in list order), the groups their limits
// may come from, today and the sink; deletes the users' print-log rows in one statement
// and then writes each user's quota file with counts of 0. A failed deletion shows message
// 36 and leaves the files as they were; gives whether the rows were deleted.
bool DeleteUsersPrintLog(CConsoleSettings& settings, CConsoleDatabase& db, const std::vector<engine::UserRecord>& users,
                         const std::vector<engine::GroupRecord>& groups, int32_t today, MessageSink& sink);

// Takes the settings, an open database, today and the sink; deletes every print-log row
// and then writes every live user's quota file with counts of 0 (limits from the user's
// own group). A failed deletion shows message 36 and leaves the files as they were.
bool DeleteAllPrintLogs(CConsoleSettings& settings, CConsoleDatabase& db, int32_t today, MessageSink& sink);

}  // namespace zv::console
