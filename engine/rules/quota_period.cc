#include "engine/rules/quota_period.h"

#include <algorithm>
#include <chrono>

namespace zv::engine {
namespace {

using std::chrono::day;
using std::chrono::month;
using std::chrono::sys_days;
using std::chrono::year;
using std::chrono::year_month_day;

year_month_day ToYmd(int32_t date) {
  return year_month_day{year{date / 10000}, month{static_cast<unsigned>((date / 100) % 100)},
                        day{static_cast<unsigned>(date % 100)}};
}

int32_t FromYmd(const year_month_day& ymd) {
  return static_cast<int32_t>(ymd.year()) * 10000 + static_cast<int32_t>(static_cast<unsigned>(ymd.month())) * 100 +
         static_cast<int32_t>(static_cast<unsigned>(ymd.day()));
}

int64_t Serial(int32_t date) { return sys_days{ToYmd(date)}.time_since_epoch().count(); }

int32_t FromSerial(int64_t serial) {
  year_month_day ymd{sys_days{std::chrono::days{serial}}};
  int y = static_cast<int>(ymd.year());
  if (y < 1) return 10101;
  if (y > 9999) return 99991231;
  return FromYmd(ymd);
}

}  // namespace

bool IsValidDate(int32_t date) {
  if (date < 10101 || date > 99991231) return false;
  return ToYmd(date).ok();
}

int32_t AddDays(int32_t date, int64_t days) {
  if (!IsValidDate(date)) return date;
  return FromSerial(Serial(date) + days);
}

int DayOfWeek(int32_t date) {
  if (!IsValidDate(date)) return -1;
  return static_cast<int>(std::chrono::weekday{sys_days{ToYmd(date)}}.c_encoding());
}

int32_t LastDayOfMonth(int32_t date) {
  if (!IsValidDate(date)) return 0;
  auto ymd = ToYmd(date);
  std::chrono::year_month_day_last last{ymd.year(), std::chrono::month_day_last{ymd.month()}};
  return FromYmd(year_month_day{last});
}

int32_t WeekEndDate(int32_t date, int32_t week_flag) {
  int dow = DayOfWeek(date);
  if (dow < 0) return date;
  // Week flag 1: weeks run Monday to Sunday; otherwise Sunday to Saturday.
  int back = week_flag == 1 ? (dow == 0 ? 6 : dow - 1) : dow;
  return AddDays(date, 6 - back);
}

int32_t EffectiveDays(int32_t days) { return days < 1 ? 1 : days; }

int32_t NextLimitDate(int32_t old_end, int32_t today, int32_t index, int32_t days) {
  bool had_old = IsValidDate(old_end);
  int32_t start = had_old ? old_end : today;
  if (!IsValidDate(start)) return start;
  switch (index) {
    case kPeriodMonth: {
      int32_t end = LastDayOfMonth(start);
      if (end >= today || !IsValidDate(today)) return end;
      return LastDayOfMonth(today);
    }
    case kPeriodDays: {
      int64_t n = EffectiveDays(days);
      int64_t end = Serial(start) + (had_old ? n : n - 1);
      if (IsValidDate(today)) {
        int64_t t = Serial(today);
        // Whole periods are skipped up to today, so the periods keep their rhythm from the
        // old end however long the engine was down.
        if (end < t) end += ((t - end + n - 1) / n) * n;
      }
      return FromSerial(end);
    }
    default:
      return (IsValidDate(today) && start < today) ? today : start;
  }
}

int32_t PeriodStartDate(int32_t end, int32_t index, int32_t days) {
  if (!IsValidDate(end)) return end;
  int64_t length = 1;
  switch (index) {
    case kPeriodWeek:
      length = 7;
      break;
    case kPeriodMonth:
      length = end % 100;
      break;  // a month ends on its last day
    case kPeriodDays:
      length = EffectiveDays(days);
      break;
    default:
      break;
  }
  return AddDays(end, -(length - 1));
}

int32_t RolledLimitDate(int32_t limit_date, int32_t today, int32_t index, int32_t days, int32_t week_flag) {
  if (limit_date >= today) return limit_date;
  switch (index) {
    case kPeriodNone:
      return today;
    case kPeriodWeek:
      return WeekEndDate(today, week_flag);
    default:
      return NextLimitDate(limit_date, today, index, days);
  }
}

PeriodDays PeriodSumDays(int32_t index, int32_t days, int32_t limit_date) {
  PeriodDays p;
  p.last = limit_date;
  switch (index) {
    case kPeriodDay:
      p.form = PeriodDays::kOnDay;
      break;
    case kPeriodWeek:
    case kPeriodMonth:
    case kPeriodDays:
      p.form = PeriodDays::kRange;
      p.first = PeriodStartDate(limit_date, index, days);
      break;
    default:
      p.form = PeriodDays::kUpTo;
      break;
  }
  return p;
}

}  // namespace zv::engine
