#include "engine/core/quota_renewal.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/tests/engine_fixture.h"
#include "platform/fs/files.h"
#include "platform/profile/profile.h"

namespace zv::engine {
namespace {

class QuotaRenewalTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    ASSERT_TRUE(key_->SetDword("MaxPages", 70).ok());
    ASSERT_TRUE(key_->SetDword("MaxPages_Color", 7).ok());
    Sql("INSERT INTO Main (UID,Account,GID,CountShubetsu,MaxPages,MaxPages_Color,Used) VALUES"
        " (1,'tanaka',0,1,0,0,1),(2,'sato',10,2,0,0,1),(3,'kato',11,2,0,0,1),(4,'free',0,0,9,9,1),"
        " (5,'own',0,3,10,5,1),(6,'gone',0,1,0,0,0),(7,'x..y',0,1,0,0,1),"
        " (8,'nogroup',0,2,0,0,1)");
    Sql("INSERT INTO Groups (GID,GroupName,MaxPages,MaxPages_Color,Used) VALUES (10,'g',100,30,1),(11,'old',1,1,0)");
    Load(20260415);
    period_ = settings_.ResultPath + "/Aperiod.prd";
  }
  void Period(int index, int limit_date, int days) {
    ASSERT_TRUE(fs::WriteFileAtomic(period_, "[PrintLimit]\r\nCheckRange=" + std::to_string(index) +
                                                 "\r\nLimitDate=" + std::to_string(limit_date) +
                                                 "\r\nLimitDays=" + std::to_string(days) + "\r\n")
                    .ok());
  }
  std::string Quota(const std::string& account) {
    auto t = fs::ReadFile(settings_.ResultPath + "/" + account + ".ans");
    return t.ok() ? *t : "(missing)";
  }
  std::string period_;
};

TEST_F(QuotaRenewalTest, RenewsAnEndedMonth) {
  Period(3, 20260331, 0);
  RenewalReport report;
  ASSERT_TRUE(RenewQuotaPeriod(settings_, 20260415, &report).ok());
  EXPECT_TRUE(report.renewed);
  EXPECT_EQ(report.new_limit_date, 20260430);
  EXPECT_EQ(profile::GetString(period_, "PrintLimit", "LimitDate", ""), "20260430");
  // "<account>.ans": the eight fixed lines; "<account>-.ans" beside it: the answers' layout.
  auto file = [](int mono, int color) {
    return "[PrintLimit]\r\nCheckRange=3\r\nLimitDate=20260430\r\nLimitDays=0\r\nMaxPages_Color=" +
           std::to_string(color) + "\r\nMaxPages=" + std::to_string(mono) +
           "\r\nPageCount_Color=0\r\nPageCount=0\r\n";
  };
  auto dash_file = [](int mono, int color) {
    return "[PrintLimit]\r\nCheckRange=3\r\nLimitDate=20260430\r\nMaxPages=" + std::to_string(mono) +
           "\r\nPageCount=0\r\nMaxPages_Color=" + std::to_string(color) + "\r\nPageCount_Color=0\r\n";
  };
  const struct {
    const char* account;
    int mono, color;
  } cases[] = {
      {"tanaka", 70, 7},    // registry defaults read afresh
      {"sato", 100, 30},    // group
      {"kato", 70, 7},      // no live group: the system's, as the check counts
      {"nogroup", 70, 7},   // no group at all, not the first group listed
      {"free", 0, 0},       //
      {"own", 10, 5},       //
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Quota(c.account), file(c.mono, c.color)) << c.account;
    EXPECT_EQ(Quota(std::string(c.account) + "-"), dash_file(c.mono, c.color)) << c.account;
  }
  EXPECT_EQ(Quota("gone"), "(missing)");
  EXPECT_EQ(Quota("gone-"), "(missing)");
  EXPECT_EQ(report.files_written, 6);
  ASSERT_EQ(report.failures.size(), 1u);  // the account that is no plain name
  EXPECT_EQ(report.failures[0].rfind("x..y", 0), 0u);

  // A second run the same day changes nothing.
  std::filesystem::remove(settings_.ResultPath + "/tanaka.ans");
  ASSERT_TRUE(RenewQuotaPeriod(settings_, 20260415, &report).ok());
  EXPECT_FALSE(report.renewed);
  EXPECT_EQ(Quota("tanaka"), "(missing)");
}

TEST_F(QuotaRenewalTest, UsersThatCannotBeReadLeaveThePeriodForTheNextTry) {
  Period(3, 20260331, 0);
  EngineSettings broken = settings_;
  broken.DSN.clear();
  RenewalReport report;
  EXPECT_FALSE(RenewQuotaPeriod(broken, 20260415, &report).ok());
  EXPECT_FALSE(report.renewed);
  EXPECT_EQ(profile::GetString(period_, "PrintLimit", "LimitDate", ""), "20260331");
  EXPECT_EQ(Quota("tanaka"), "(missing)");
  ASSERT_TRUE(RenewQuotaPeriod(settings_, 20260415, &report).ok());
  EXPECT_TRUE(report.renewed);
  EXPECT_NE(Quota("tanaka").find("LimitDate=20260430\r\n"), std::string::npos);
}

TEST_F(QuotaRenewalTest, PeriodsAndMissingFile) {
  RenewalReport report;
  ASSERT_TRUE(RenewQuotaPeriod(settings_, 20260415, &report).ok());
  EXPECT_FALSE(report.renewed);  // no Aperiod.prd

  ASSERT_TRUE(key_->SetDword("WeekFlag", 1).ok());
  Period(2, 20260411, 0);
  ASSERT_TRUE(RenewQuotaPeriod(settings_, 20260415, &report).ok());
  EXPECT_EQ(report.new_limit_date, 20260419);  // Monday-Sunday week of Wednesday the 15th

  Period(4, 20260101, 10);
  ASSERT_TRUE(RenewQuotaPeriod(settings_, 20260115, &report).ok());
  EXPECT_EQ(report.new_limit_date, 20260121);
  EXPECT_EQ(Quota("own"),
            "[PrintLimit]\r\nCheckRange=4\r\nLimitDate=20260121\r\nLimitDays=10\r\nMaxPages_Color=5\r\n"
            "MaxPages=10\r\nPageCount_Color=0\r\nPageCount=0\r\n");
  EXPECT_EQ(Quota("own-"),
            "[PrintLimit]\r\nCheckRange=4\r\nLimitDate=20260121\r\nLimitDays=10\r\nMaxPages=10\r\n"
            "PageCount=0\r\nMaxPages_Color=5\r\nPageCount_Color=0\r\n");

  Period(4, 20260101, 0);  // N below 1: one day
  ASSERT_TRUE(RenewQuotaPeriod(settings_, 20260115, &report).ok());
  EXPECT_EQ(report.new_limit_date, 20260115);

  Period(3, 0, 0);
  ASSERT_TRUE(RenewQuotaPeriod(settings_, 20260415, &report).ok());
  EXPECT_EQ(report.new_limit_date, 20260430);
}

TEST(QuotaRenewalTimer, FirstTickThenMidnightHourOnly) {
  QuotaRenewalTimer t;
  EXPECT_TRUE(t.Due(14));
  EXPECT_FALSE(t.Due(15));
  EXPECT_TRUE(t.Due(0));
  EXPECT_TRUE(t.Due(0));
  EXPECT_FALSE(t.Due(1));
  t.Clear();
  EXPECT_TRUE(t.Due(23));
}

}  // namespace
}  // namespace zv::engine
