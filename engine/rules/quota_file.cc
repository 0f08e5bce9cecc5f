#include "engine/rules/quota_file.h"

namespace zv::engine {

std::string ComposeQuotaFile(int32_t period_index, int32_t limit_date, int32_t limit_days, int32_t max_pages_color,
                             int32_t max_pages) {
  auto n = [](int32_t v) { return std::to_string(v); };
  return "[PrintLimit]\r\nCheckRange=" + n(period_index) + "\r\nLimitDate=" + n(limit_date) +
         "\r\nLimitDays=" + n(limit_days) + "\r\nMaxPages_Color=" + n(max_pages_color) +
         "\r\nMaxPages=" + n(max_pages) + "\r\nPageCount_Color=0\r\nPageCount=0\r\n";
}

}  // namespace zv::engine
