#include "engine/core/clock.h"

#include <ctime>

namespace zv::engine {

DateTimeValue LocalDateTime(std::chrono::system_clock::time_point t) {
  std::time_t tt = std::chrono::system_clock::to_time_t(t);
  std::tm tm{};
  localtime_r(&tt, &tm);
  return {(tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday,
          tm.tm_hour * 10000 + tm.tm_min * 100 + tm.tm_sec};
}

int32_t TodayDate() { return LocalDateTime(std::chrono::system_clock::now()).date; }

}  // namespace zv::engine
