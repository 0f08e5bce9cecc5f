// The daily renewal of the quota period: when the end in "Aperiod.prd" of the result
// folder has passed, the next end is written there and every live account's quota file
// "<account>.ans" is rewritten with its limits and counts of 0.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/rules/settings.h"
#include "platform/base/status.h"

namespace zv::engine {

// When the renewal runs: at the first timer tick after the engine starts (or the worker
// restarts) and at every tick between 00:00 and 00:59.
class QuotaRenewalTimer {
 public:
  // Takes the hour of the tick (0..23); gives whether to run the renewal now, marking it run.
  bool Due(int hour);
  // Clears the mark (worker started, frame closed).
  void Clear() { ran_ = false; }

 private:
  bool ran_ = false;
};

struct RenewalReport {
  bool renewed = false;  // the period had ended and "Aperiod.prd" got a new end
  int32_t new_limit_date = 0;
  int files_written = 0;
  std::vector<std::string> failures;  // quota files not written, with the reason
};

// Renews the period at `today` (yyyymmdd). Nothing happens while "Aperiod.prd" is missing
// or its "LimitDate" is not before today. A week period ends on the week end of today by
// "WeekFlag" read afresh from the registry; the others by NextLimitDate. Limits per user by
// CountShubetsu: 0 none, 1 the registry's "MaxPages"/"MaxPages_Color" read afresh (the
// settings' values where that fails), 2 the first live group row of the user's GID (the
// registry's limits when there is none or the look-up fails, as the request check does), 3 the user's own, others none.
// A failed user query writes event 16 and is returned, and the period is not moved on; quota files that cannot be
// written (or whose account is not a plain name) are listed in the report and in event 17.
Status RenewQuotaPeriod(const EngineSettings& settings, int32_t today, RenewalReport* report);

}  // namespace zv::engine
