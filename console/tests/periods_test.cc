#include "console/rules/periods.h"

#include <gtest/gtest.h>

namespace zv::console {
namespace {

TEST(Periods, CurrentPeriodAndStatusText) {
  struct Case {
    int32_t today, index, days;
    std::optional<int32_t> limit_date;
    int32_t week_flag;
    int32_t want_end;
    bool rolled;
    const char* text;
  } cases[] = {
      {20260415, 0, 0, std::nullopt, 0, 20260415, false, "対象期間:無期限"},
      {20260415, 1, 0, 20260414, 0, 20260415, true, "対象期間:1日(あと1日間)"},
      // a week ending today has one day left
      {20260419, 2, 0, 20260419, 1, 20260419, false, "対象期間:1週間 2026/04/13～2026/04/19 (あと1日間)"},
      // an ended month rolls on to the month of today
      {20260415, 3, 0, 20260331, 0, 20260430, true, "対象期間:1ヶ月 2026/04/01～2026/04/30 (あと16日間)"},
      // across the year end
      {20270102, 3, 0, 20261130, 0, 20270131, true, "対象期間:1ヶ月 2027/01/01～2027/01/31 (あと30日間)"},
      {20260415, 4, 10, 20260410, 0, 20260420, true, "対象期間:10日間 2026/04/11～2026/04/20 (あと6日間)"},
      // no stored end: the period ends today and nothing is written back
      {20260415, 3, 0, std::nullopt, 0, 20260415, false, "対象期間:1ヶ月 2026/04/01～2026/04/15 (あと1日間)"},
  };
  for (const auto& c : cases) {
    LimitPeriod p = CurrentLimitPeriod(c.today, c.index, c.days, c.limit_date, c.week_flag);
    EXPECT_EQ(p.end, c.want_end) << c.text;
    EXPECT_EQ(p.rolled, c.rolled) << c.text;
    EXPECT_EQ(FormatPeriodStatusText(p), c.text);
  }
}

TEST(Periods, MonthsBackRange) {
  struct Case {
    int32_t end, months;
    DayRange want;
  } cases[] = {
      {20260315, 1, {20260216, 20260315}},  {20260331, 1, {20260301, 20260331}},  // no 31 February
      {20250330, 1, {20250301, 20250330}},                                        // February of 28 days
      {20240329, 1, {20240301, 20240329}},  // 29 February 2024 exists: the day after it
      {20250329, 1, {20250301, 20250329}},  // 2025 has none
      {20240130, 1, {20231231, 20240130}},  // back over the year end
      {20260215, 14, {20241216, 20260215}}, {20260530, 1, {20260501, 20260530}},
      {20260529, 1, {20260430, 20260529}},  {20260331, 0, {20260301, 20260331}},  // counts below 1 count as 1
  };
  for (const auto& c : cases) EXPECT_EQ(MonthsBackRange(c.end, c.months), c.want) << c.end << " " << c.months;
}

TEST(Periods, DisplayPeriodRange) {
  const LimitPeriod limit = CurrentLimitPeriod(20260415, 3, 0, 20260430, 0);
  struct Case {
    DisplayPeriod d;
    int32_t week_flag;
    DayRange want;
  } cases[] = {
      {{0, 0, 1, 0, 0}, 0, {20260401, 20260430}},
      {{1, 0, 1, 0, 0}, 0, {20260401, 20260430}},
      {{2, 0, 1, 0, 0}, 0, {20260412, 20260418}},  // Sunday to Saturday
      {{2, 0, 1, 0, 0}, 1, {20260413, 20260419}},  // Monday to Sunday
      {{3, 0, 1, 0, 0}, 0, {20260415, 20260415}},
      {{4, 0, 2, 0, 0}, 0, {20260216, 20260415}},
      {{4, 1, 10, 0, 0}, 0, {20260406, 20260415}},
      {{4, 1, 0, 0, 0}, 0, {20260415, 20260415}},
      {{4, 2, 1, 20260101, 20260110}, 0, {20260101, 20260110}},
      {{9, 0, 1, 0, 0}, 0, {20260401, 20260430}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DisplayPeriodRange(c.d, 20260415, c.week_flag, limit), c.want) << c.d.kind << "/" << c.d.selector;
  }
}

}  // namespace
}  // namespace zv::console
