#include "engine/rules/quota_file.h"

namespace zv::engine {

std::string ComposeQuotaText(const QuotaFileValues& v) {
  auto line = [](const char* key, std::optional<int32_t> value) {
    return std::string(key) + "=" + (value ? std::to_string(*value) : std::string()) + "\r\n";
  };
  std::string text = "[PrintLimit]\r\n" + line("CheckRange", v.period_index) + line("LimitDate", v.limit_date);
  // The day count is written only for a period that has one: the readers take a missing
  // "LimitDays" as no day count.
  if (v.limit_days > 0) text += line("LimitDays", v.limit_days);
  if (v.limits) {
    text += line("MaxPages", v.max_pages) + line("PageCount", v.page_count) +
            line("MaxPages_Color", v.max_pages_color) + line("PageCount_Color", v.page_count_color);
  }
  return text;
}

std::string ComposeQuotaFile(int32_t period_index, int32_t limit_date, int32_t limit_days, int32_t max_pages_color,
                             int32_t max_pages) {
  // Always these eight lines in this order, whatever the period: readers of "<account>.ans"
  // may take the lines by position.
  auto line = [](const char* key, int32_t value) { return std::string(key) + "=" + std::to_string(value) + "\r\n"; };
  return "[PrintLimit]\r\n" + line("CheckRange", period_index) + line("LimitDate", limit_date) +
         line("LimitDays", limit_days) + line("MaxPages_Color", max_pages_color) + line("MaxPages", max_pages) +
         "PageCount_Color=0\r\nPageCount=0\r\n";
}

}  // namespace zv::engine
