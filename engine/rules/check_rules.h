// The arithmetic of the request check: pages and sheets of a job, the limits that apply to
// a user, and the quota decision. Pure functions.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "engine/rules/request_info.h"

namespace zv::engine {

// Gives the pages per sheet of a ThumbnailCount: 0 -> 1, 1 -> 2, 2 -> 4, 3 -> 8; other
// values count as 0.
int PagesPerSheet(int32_t thumbnail_count);

// Gives the pages of the job: all jobs' pages when the first or last page is 0, 1 when they
// are equal, otherwise last - first + 1.
int64_t RequestPageCount(const CRequestInfo& request);

// Gives the sheets the job uses: pages / pages per sheet rounded up, times the copies
// (below 1 counts as 1). 64-bit, so large copies cannot overflow.
int64_t RequestSheetCount(const CRequestInfo& request, int32_t thumbnail_count);

// How a user's limits are counted (the column CountShubetsu of the users table Main, as stored).
enum CountKind : int32_t {
  kCountNoLimit = 0,
  kCountSystem = 1,  // the system's defaults
  kCountGroup = 2,   // the user's group's
  kCountOwn = 3,     // the user's own
};

// The kind of a printer (the Printers column Ptype, as stored).
enum PrinterKind : int32_t {
  kPrinterMono = 0,
  kPrinterColor = 1,
};

// The limits that apply to a user (0 = no limit).
struct UserLimits {
  int32_t mono = 0;
  int32_t color = 0;
};

// Gives the limits of a user by CountShubetsu: 1 the system's, 2 the group's (the system's
// when `group` is null, i.e. the group is not found), 3 the user's own `own`, anything else
// no limit. The engine's check and renewal and the console all resolve through this.
UserLimits ResolveUserLimits(int32_t count_shubetsu, const UserLimits& own, const UserLimits& system,
                             const UserLimits* group);

// The system's limits where the machine key holds no "MaxPages" / "MaxPages_Color".
inline constexpr UserLimits kDefaultSystemLimits{50, 20};

// Takes a lookup of a machine-key number by value name (nothing where the value is missing
// or not a number); gives the system's limits: "MaxPages" and "MaxPages_Color", each 50 / 20
// where missing. The engine's check, renewal and answers and the console's list, graphs and
// quota files all read the system's limits through this one reader, so a user's figures
// never differ between what is shown and what is enforced.
UserLimits ReadSystemLimits(const std::function<std::optional<int32_t>(const char* name)>& number);

enum class QuotaDecision { kAllow, kRefuseMono, kRefuseColor };

// Decides the quota for a job of `sheets` on a printer of `ptype` when `used` pages of that
// kind are already used: nothing is refused unless `refuse` is set; a limit of 0 or less
// never refuses; with limit_over_action 1 a job that would cross the limit is refused,
// otherwise only a job that starts over the limit. A ptype other than 0 and 1 is never
// refused.
QuotaDecision DecideQuota(bool refuse, int32_t limit_over_action, int32_t ptype, int64_t used, int64_t sheets,
                          const UserLimits& limits);

}  // namespace zv::engine
