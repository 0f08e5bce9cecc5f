#include "engine/rules/check_rules.h"

#include <algorithm>

namespace zv::engine {

int PagesPerSheet(int32_t thumbnail_count) {
  switch (thumbnail_count) {
    case 1:
      return 2;
    case 2:
      return 4;
    case 3:
      return 8;
    default:
      return 1;
  }
}

int64_t RequestPageCount(const CRequestInfo& r) {
  if (r.FirstPage == 0 || r.LastPage == 0) return r.TotalJobPages();
  if (r.FirstPage == r.LastPage) return 1;
  return int64_t{r.LastPage} - r.FirstPage + 1;
}

int64_t RequestSheetCount(const CRequestInfo& r, int32_t thumbnail_count) {
  int64_t pages = RequestPageCount(r);
  int64_t per = PagesPerSheet(thumbnail_count);
  int64_t sheets = pages <= 0 ? 0 : (pages + per - 1) / per;
  return sheets * std::max<int64_t>(1, r.Copies);
}

QuotaDecision DecideQuota(bool refuse, int32_t limit_over_action, int32_t ptype, int64_t used, int64_t sheets,
                          const UserLimits& limits) {
  if (!refuse || (ptype != kPrinterMono && ptype != kPrinterColor)) return QuotaDecision::kAllow;
  int64_t limit = ptype == kPrinterMono ? limits.mono : limits.color;
  if (limit <= 0) return QuotaDecision::kAllow;
  bool over = limit_over_action == 1 ? used + sheets > limit : used > limit;
  if (!over) return QuotaDecision::kAllow;
  return ptype == kPrinterMono ? QuotaDecision::kRefuseMono : QuotaDecision::kRefuseColor;
}

UserLimits ResolveUserLimits(int32_t count_shubetsu, const UserLimits& own, const UserLimits& system,
                             const UserLimits* group) {
  switch (count_shubetsu) {
    case kCountSystem:
      return system;
    case kCountGroup:
      return group ? *group : system;
    case kCountOwn:
      return own;
    default:
      return {};
  }
}

UserLimits ReadSystemLimits(const std::function<std::optional<int32_t>(const char* name)>& number) {
  return {number("MaxPages").value_or(kDefaultSystemLimits.mono),
          number("MaxPages_Color").value_or(kDefaultSystemLimits.color)};
}

}  // namespace zv::engine
