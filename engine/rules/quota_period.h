// Quota period arithmetic on dates held as int32 yyyymmdd: week ends by WeekFlag, the next
// period end, the first day of a period and the day range that a period's page sum covers.
// Pure functions; no clock is read here (callers pass today).
#pragma once

#include <cstdint>

namespace zv::engine {

// Period index as the answer, quota and period files carry it.
enum PeriodIndex : int32_t {
  kPeriodNone = 0,
  kPeriodDay = 1,
  kPeriodWeek = 2,
  kPeriodMonth = 3,
  kPeriodDays = 4,  // a given number of days N
};

// Gives whether `date` (yyyymmdd) names a real calendar day between the years 1 and 9999.
bool IsValidDate(int32_t date);

// Gives `date` moved by `days` (may be negative). An invalid date is given back unchanged.
int32_t AddDays(int32_t date, int64_t days);

// Gives the day of the week of `date`, 0 for Sunday to 6 for Saturday (-1 when invalid).
int DayOfWeek(int32_t date);

// Gives the last day of the month of `date` (0 when invalid).
int32_t LastDayOfMonth(int32_t date);

// Gives the last day of the week that holds `date`: with week_flag 1 weeks run Monday to
// Sunday, with any other value Sunday to Saturday.
int32_t WeekEndDate(int32_t date, int32_t week_flag);

// Gives the N of an N-day period as counted: values below 1 count as 1.
int32_t EffectiveDays(int32_t days);

// Gives the next period end from the old end `old_end` (0 or an invalid date: none) and
// `today`: for a month the last day of the first month from the old end's month whose last
// day is not before today; for N days the old end plus N days (N - 1 from today when there
// was no old end), stepped on by N until it is not before today; for any other index the
// later of the old end and today. N below 1 counts as 1. Computed directly, without loops.
int32_t NextLimitDate(int32_t old_end, int32_t today, int32_t index, int32_t days);

// Gives the first day of the period that ends on `end`: end minus (length - 1) days, the
// length being 7 for a week, the day of the month of `end` for a month, N for N days and
// 1 otherwise.
int32_t PeriodStartDate(int32_t end, int32_t index, int32_t days);

// Gives the period end after a roll-on at `today`: `limit_date` itself while it is not
// before today; otherwise today for no period, the week end of today for a week, and
// NextLimitDate for the others.
int32_t RolledLimitDate(int32_t limit_date, int32_t today, int32_t index, int32_t days, int32_t week_flag);

// The print-log days that a period's page sum covers.
struct PeriodDays {
  enum Form { kOnDay, kUpTo, kRange } form = kUpTo;
  int32_t first = 0;  // kRange only
  int32_t last = 0;   // the period's end
};

// Gives the days to sum for a period index, N and end date: one day sums only that day,
// week, month and N days the range from the period start to the end, no period (or any
// other index) everything up to the end.
PeriodDays PeriodSumDays(int32_t index, int32_t days, int32_t limit_date);

}  // namespace zv::engine
