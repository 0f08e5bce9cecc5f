// The console's period rules: the current limit period and its status-bar text (rolled on
// by the engine's own function), the past-N-months range and the day range of the user
// list's display period. Pure; callers pass today as yyyymmdd.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zv::console {

// A day range, first and last day as yyyymmdd.
struct DayRange {
  int32_t first = 0;
  int32_t last = 0;
  bool operator==(const DayRange&) const = default;
};

// The current limit period as the main window holds it.
struct LimitPeriod {
  int32_t index = 3;  // 0 none, 1 a day, 2 a week, 3 a month, 4 N days
  int32_t days = 0;   // N of index 4
  int32_t start = 0;
  int32_t end = 0;
  int32_t remaining_days = 1;  // whole days from today to the end, plus 1
  bool rolled = false;         // the end moved on: "LimitDate" is to be written back
};

// Takes today, the period index and N (as the engine reads "CheckRange"), the stored
// "LimitDate" (none when missing) and "WeekFlag"; gives the period: the end is the stored
// one (today when missing), rolled on by the engine's RolledLimitDate when it lies before
// today; the start by the engine's PeriodStartDate.
LimitPeriod CurrentLimitPeriod(int32_t today, int32_t index, int32_t days, std::optional<int32_t> limit_date,
                               int32_t week_flag);

// Takes a period; gives the status-bar text: "対象期間:無期限" for no period,
// "対象期間:1日(あと1日間)" for a day, and the week, month and N-day texts with the
// first and last day and the remaining days.
std::string FormatPeriodStatusText(const LimitPeriod& period);

// Takes an end day (yyyymmdd) and N (1 to 99; other values are brought into that range);
// gives the past N months up to the end: from the same day N months back plus one day, or
// from the first of the next month when that day does not exist in the month reached.
DayRange MonthsBackRange(int32_t end, int32_t months);

// The user list's display period ("DispSpan", "SpanSel", "Before", "sDate", "eDate").
struct DisplayPeriod {
  int32_t kind = 0;      // 0 the limit period, 1 this month, 2 this week, 3 today, 4 chosen
  int32_t selector = 0;  // kind 4: 0 past N months, 1 past N days, 2 from sDate to eDate
  int32_t before = 1;    // N
  int32_t start = 0;     // sDate
  int32_t end = 0;       // eDate
};

// Takes the display period, today, "WeekFlag" and the current limit period; gives the days
// the user list counts: this month, the week that holds today, today, the past N months
// or N days up to today (N below 1 counts as 1), the stored dates, or for kind 0 (and any
// other kind) the limit period's start and end.
DayRange DisplayPeriodRange(const DisplayPeriod& display, int32_t today, int32_t week_flag, const LimitPeriod& limit);

}  // namespace zv::console
