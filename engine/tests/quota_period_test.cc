#include "engine/rules/quota_period.h"

#include <gtest/gtest.h>

#include "engine/rules/quota_file.h"
#include "engine/rules/settings.h"

namespace zv::engine {
namespace {

TEST(QuotaPeriod, WeekEndByWeekFlag) {
  struct Case {
    int32_t date;
    int32_t flag;
    int32_t end;
  };
  const Case cases[] = {
      {20260104, 1, 20260104},                           // Sunday, weeks Monday-Sunday: that Sunday
      {20260104, 0, 20260110},                           // Sunday, weeks Sunday-Saturday: the next Saturday
      {20260104, 7, 20260110},                           // any other flag counts as Sunday-Saturday
      {20260105, 1, 20260111},                           // Monday
      {20260110, 0, 20260110},                           // Saturday
      {20251230, 0, 20260103},                           // across the year end
      {20251230, 1, 20260104}, {20240226, 1, 20240303},  // across a leap February
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.date * 10 + c.flag);
    EXPECT_EQ(WeekEndDate(c.date, c.flag), c.end);
  }
}

TEST(QuotaPeriod, NextLimitDate) {
  struct Case {
    int32_t old_end, today, index, days, want;
  };
  const Case cases[] = {
      {20250131, 20250315, kPeriodMonth, 0, 20250331},
      {20251130, 20260110, kPeriodMonth, 0, 20260131},  // December then January of the next year
      {0, 20240210, kPeriodMonth, 0, 20240229},         // no old end: this month
      {20260131, 20260131, kPeriodMonth, 0, 20260131},  // not before today: kept
      {20260101, 20260115, kPeriodDays, 10, 20260121},  // two steps of ten days
      {20260101, 20260111, kPeriodDays, 10, 20260111},
      {20260101, 20260102, kPeriodDays, 10, 20260111},  // the first addition is always made
      {0, 20260115, kPeriodDays, 10, 20260124},         // from today, N - 1 days
      {20251225, 20260103, kPeriodDays, 0, 20260103},   // N below 1 counts as 1
      {20251225, 20260103, kPeriodDays, -5, 20260103},
      {10101, 20260103, kPeriodDays, 1, 20260103},  // far in the past: no loop
      {20260101, 20260115, kPeriodDay, 0, 20260115},
      {20260120, 20260115, kPeriodDay, 0, 20260120},
      {0, 20260115, kPeriodNone, 0, 20260115},
      {20261399, 20260115, kPeriodMonth, 0, 20260131},  // a damaged date counts as none
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.old_end) + " " + std::to_string(c.index));
    EXPECT_EQ(NextLimitDate(c.old_end, c.today, c.index, c.days), c.want);
  }
}

TEST(QuotaPeriod, StartRollOnAndSumDays) {
  EXPECT_EQ(PeriodStartDate(20240229, kPeriodMonth, 0), 20240201);
  EXPECT_EQ(PeriodStartDate(20240229, kPeriodWeek, 0), 20240223);
  EXPECT_EQ(PeriodStartDate(20260103, kPeriodDays, 5), 20251230);
  EXPECT_EQ(PeriodStartDate(20260103, kPeriodDays, 0), 20260103);
  EXPECT_EQ(PeriodStartDate(20260103, kPeriodDay, 0), 20260103);

  EXPECT_EQ(RolledLimitDate(20260131, 20260115, kPeriodMonth, 0, 0), 20260131);  // current
  EXPECT_EQ(RolledLimitDate(20251231, 20260115, kPeriodNone, 0, 0), 20260115);
  EXPECT_EQ(RolledLimitDate(20251231, 20260104, kPeriodWeek, 0, 1), 20260104);
  EXPECT_EQ(RolledLimitDate(20251231, 20260104, kPeriodWeek, 0, 0), 20260110);
  EXPECT_EQ(RolledLimitDate(20251231, 20260115, kPeriodMonth, 0, 0), 20260131);

  auto month = PeriodSumDays(kPeriodMonth, 0, 20260430);
  EXPECT_EQ(month.form, PeriodDays::kRange);
  EXPECT_EQ(month.first, 20260401);
  EXPECT_EQ(PeriodSumDays(kPeriodWeek, 0, 20260110).first, 20260104);
  EXPECT_EQ(PeriodSumDays(kPeriodDay, 0, 20260110).form, PeriodDays::kOnDay);
  EXPECT_EQ(PeriodSumDays(kPeriodNone, 0, 20260110).form, PeriodDays::kUpTo);
  EXPECT_EQ(PeriodSumDays(9, 0, 20260110).form, PeriodDays::kUpTo);
}

TEST(Settings, PackedValues) {
  EngineSettings s;
  s.Init(20260115);
  EXPECT_EQ(s.LimitDate, 20260115);
  EXPECT_EQ(s.PeriodIndex, kPeriodMonth);
  EXPECT_TRUE(s.ShowErrors);
  EXPECT_FALSE(s.ShowCompletion);
  s.ApplyCheckRange((8u << 28) | 30);
  EXPECT_EQ(s.PeriodIndex, kPeriodDays);
  EXPECT_EQ(s.LimitDays, 30);
  s.ApplyCheckRange(4u << 28);
  EXPECT_EQ(s.PeriodIndex, kPeriodMonth);
  s.ApplyCheckRange(0);
  EXPECT_EQ(s.PeriodIndex, kPeriodNone);
  s.ApplyCheckRange((3u << 28) | 7);  // unknown kind keeps the index, takes the days
  EXPECT_EQ(s.PeriodIndex, kPeriodNone);
  EXPECT_EQ(s.LimitDays, 7);
  s.ApplyCheckRange(0xF0000000u);
  EXPECT_EQ(s.PeriodIndex, kPeriodNone);
  EXPECT_EQ(EncodeCheckRange(kPeriodDays, 30), (8u << 28) | 30);
  s.ApplyLimitAction(6);
  EXPECT_FALSE(s.MailUser);
  EXPECT_TRUE(s.MailAdmin);
  EXPECT_TRUE(s.RefuseOverLimit);
  s.ApplyDispMessage(0);
  EXPECT_FALSE(s.ShowCompletion || s.ShowErrors);
}

TEST(QuotaFile, EightLines) {
  EXPECT_EQ(ComposeQuotaFile(4, 20260121, 10, 20, 50),
            "[PrintLimit]\r\nCheckRange=4\r\nLimitDate=20260121\r\nLimitDays=10\r\nMaxPages_Color=20\r\n"
            "MaxPages=50\r\nPageCount_Color=0\r\nPageCount=0\r\n");
  // A period without a day count still has its "LimitDays" line: always eight lines.
  EXPECT_EQ(ComposeQuotaFile(3, 20260131, 0, 20, 50),
            "[PrintLimit]\r\nCheckRange=3\r\nLimitDate=20260131\r\nLimitDays=0\r\nMaxPages_Color=20\r\n"
            "MaxPages=50\r\nPageCount_Color=0\r\nPageCount=0\r\n");
}

TEST(QuotaFile, AccountQuotaTextLeavesOutAMissingDayCount) {
  EXPECT_EQ(ComposeQuotaText({3, 20260131, 0, true, 20, 50, 1, 2}),
            "[PrintLimit]\r\nCheckRange=3\r\nLimitDate=20260131\r\nMaxPages=50\r\nPageCount=2\r\n"
            "MaxPages_Color=20\r\nPageCount_Color=1\r\n");
  EXPECT_EQ(ComposeQuotaText({4, 20260121, 10, false, {}, {}, {}, {}}),
            "[PrintLimit]\r\nCheckRange=4\r\nLimitDate=20260121\r\nLimitDays=10\r\n");
}

}  // namespace
}  // namespace zv::engine
