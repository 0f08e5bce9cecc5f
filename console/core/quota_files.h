// The files the console keeps for the clients in the server's shared folder: the account's
// quota file "<account>-.ans" and the period file "Aperiod.prd" (WriteLimitAnswerFiles),
// and the printers it offers to manage (ListCandidatePrinters). The engine's own answers
// "<account>-<machine>.ans" are never touched: a client may not have read them yet.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "console/core/registry_config.h"
#include "console/rules/messages.h"
#include "console/rules/periods.h"
#include "platform/base/status.h"
#include "platform/spool/spool.h"

namespace zv::console {

// Takes the registry store; gives the result folder: "<AppPath>\<ShareDir>" as a local
// path joined with "ResultDir" ("Result" when missing). Fails when AppPath or ShareDir is
// missing or the folder name is not a plain name.
Result<std::string> ConsoleResultFolder(CRegistryConfig& config);

// How WriteLimitAnswerFiles fills the limit lines.
enum class QuotaWriteMode {
  kCounts = 0,   // limits and counts (a count of -1 is written as the bare key)
  kCleared = 2,  // the four keys with nothing behind them (a deleted user)
  kUser = 3,     // as kCounts
  kPeriod = 4,   // the period file "<name>.prd": period lines only
};

// Takes the registry store, the name (an account, or "Aperiod" with kPeriod), the limits,
// the mode and the counts, the current period (the main window's; when none, it is computed
// from the registry's "CheckRange" and "WeekFlag" for `today`), today and the sink. Writes
// "<name>-.ans" (or "<name>.prd") in the result folder through a temporary name and a
// rename. A name that is not a plain file name is refused. A failure is returned and shown
// once through the sink: "クォータファイルの書き込みに失敗しました。" and the path.
Status WriteLimitAnswerFiles(CRegistryConfig& config, const std::string& name, int32_t color_limit, int32_t mono_limit,
                             QuotaWriteMode mode, int32_t color_count, int32_t mono_count,
                             const std::optional<LimitPeriod>& period, int32_t today, MessageSink* sink);

// Takes the spooler; gives the names of its printers but the system's own virtual printer
// queues ("Zelvora" in any letter case, and every queue whose device is the zelvora backend
// or the olviport port, such as "Zelvora-Raster"), in the spooler's order.
std::vector<std::string> ListCandidatePrinters(spool::Spooler& spooler);

}  // namespace zv::console
