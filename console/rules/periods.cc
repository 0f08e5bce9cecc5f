#include "console/rules/periods.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "engine/rules/quota_period.h"

namespace zv::console {
namespace {

namespace ch = std::chrono;

ch::sys_days ToDays(int32_t ymd) {
  return ch::sys_days(ch::year_month_day(ch::year(ymd / 10000), ch::month(static_cast<unsigned>(ymd / 100 % 100)),
                                         ch::day(static_cast<unsigned>(ymd % 100))));
}

int32_t Year(int32_t ymd) { return ymd / 10000; }
int32_t Month(int32_t ymd) { return ymd / 100 % 100; }
int32_t Day(int32_t ymd) { return ymd % 100; }

}  // namespace

LimitPeriod CurrentLimitPeriod(int32_t today, int32_t index, int32_t days, std::optional<int32_t> limit_date,
                               int32_t week_flag) {
  LimitPeriod p;
  p.index = index;
  p.days = days;
  int32_t end = limit_date && engine::IsValidDate(*limit_date) ? *limit_date : today;
  int32_t rolled = engine::RolledLimitDate(end, today, index, days, week_flag);
  p.rolled = rolled != end;
  p.end = rolled;
  p.start = engine::PeriodStartDate(p.end, index, days);
  if (engine::IsValidDate(p.end) && engine::IsValidDate(today)) {
    p.remaining_days = static_cast<int32_t>((ToDays(p.end) - ToDays(today)).count()) + 1;
  }
  return p;
}

std::string FormatPeriodStatusText(const LimitPeriod& p) {
  char buf[256];
  const int32_t s = p.start, e = p.end;
  switch (p.index) {
    case 0:
      return "対象期間:無期限";
    case 1:
      return "対象期間:1日(あと1日間)";
    case 2:
      std::snprintf(buf, sizeof buf, "対象期間:1週間 %d/%02d/%02d～%d/%02d/%02d (あと%d日間)", Year(s), Month(s),
                    Day(s), Year(e), Month(e), Day(e), p.remaining_days);
      return buf;
    case 3:
      std::snprintf(buf, sizeof buf, "対象期間:1ヶ月 %d/%02d/%02d～%d/%02d/%02d (あと%d日間)", Year(s), Month(s),
                    Day(s), Year(e), Month(e), Day(e), p.remaining_days);
      return buf;
    case 4:
      std::snprintf(buf, sizeof buf, "対象期間:%d日間 %d/%02d/%02d～%d/%02d/%02d (あと%d日間)", p.days, Year(s),
                    Month(s), Day(s), Year(e), Month(e), Day(e), p.remaining_days);
      return buf;
    default:
      return "対象期間:無期限";
  }
}

DayRange MonthsBackRange(int32_t end, int32_t months) {
  months = std::clamp(months, 1, 99);
  int32_t y = Year(end), m = Month(end);
  const int32_t d = Day(end);
  y -= months / 12;
  m -= months % 12;
  if (m < 1) {
    m += 12;
    --y;
  }
  const int32_t reached = y * 10000 + m * 100 + 1;
  const int32_t last_of_reached = engine::LastDayOfMonth(reached);
  DayRange r{0, end};
  if (d <= Day(last_of_reached)) {
    r.first = engine::AddDays(y * 10000 + m * 100 + d, 1);
  } else {
    r.first = engine::AddDays(last_of_reached, 1);
  }
  return r;
}

DayRange DisplayPeriodRange(const DisplayPeriod& display, int32_t today, int32_t week_flag, const LimitPeriod& limit) {
  const int32_t n = std::max(display.before, 1);
  switch (display.kind) {
    case 1:
      return {today / 100 * 100 + 1, engine::LastDayOfMonth(today)};
    case 2: {
      int32_t week_end = engine::WeekEndDate(today, week_flag);
      return {engine::AddDays(week_end, -6), week_end};
    }
    case 3:
      return {today, today};
    case 4:
      if (display.selector == 1) return {engine::AddDays(today, -(n - 1)), today};
      if (display.selector == 2) return {display.start, display.end};
      return MonthsBackRange(today, n);
    default:
      return {limit.start, limit.end};
  }
}

}  // namespace zv::console
