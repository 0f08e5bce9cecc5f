// The console and the real engine agree: a user the console adds prints, limits the console
// sets refuse the next job, the period the console stores is the engine's, and the quota
// file the console writes is the one the client reads.
#include <gtest/gtest.h>

#include "client/quota_cache.h"
#include "console/core/quota_files.h"
#include "console/db/console_database.h"
#include "engine/core/settings_store.h"
#include "engine/hevrasto/tests/engine_harness.h"
#include "engine/rules/quota_period.h"

namespace zv::console {
namespace {

using engine::testing::EngineHarness;

class EngineAgreement : public ::testing::Test {
 protected:
  void SetUp() override { h_ = std::make_unique<EngineHarness>(root_, 0); }
  void TearDown() override { h_.reset(); }
  CConsoleDatabase Db() {
    std::string dsn, uid, pwd;
    settings_.GetDSN(&dsn);
    settings_.GetUID(&uid);
    settings_.GetPWD(&pwd);
    return CConsoleDatabase(dsn, uid, pwd);
  }
  int Print(const std::string& account, const std::string& job) {
    h_->WriteJob(job, 2);
    engine::RequestSpec order;
    order.account = account;
    order.job_file = job;
    std::string slot = h_->Submit(EngineHarness::RequestText(order));
    return EngineHarness::ResultCode(h_->WaitForAnswer(account, order.machine, slot));
  }
  zv::testing::TempRoot root_;
  std::unique_ptr<EngineHarness> h_;
  CConsoleSettings settings_;
};

TEST_F(EngineAgreement, UsersLimitsAndPeriodsTheConsoleSets) {
  auto db = Db();
  GroupRecord group{0, "Console group", 100, 50, 0};
  ASSERT_TRUE(db.AddGroup(&group)) << db.ErrorLines.front();
  UserRecord carol;
  carol.Account = "carol";
  carol.UserName = "Carol";
  carol.GID = group.GID;
  carol.CountShubetsu = 2;
  ASSERT_TRUE(db.AddUser(&carol)) << db.ErrorLines.front();

  h_->StartEngine();
  EXPECT_EQ(Print("carol", "job1.prc"), 0);

  carol.CountShubetsu = 3;
  carol.MaxPages = 1;
  carol.MaxPages_Color = 0;
  ASSERT_TRUE(db.UpdateUser(carol));
  ASSERT_TRUE(settings_.SetLimitAction(0, 0, 1));
  EXPECT_EQ(Print("carol", "job2.prc"), 4);  // the monochrome limit is reached
  EXPECT_EQ(h_->StopEngine(), 0);

  // The period the console stores is the one the engine reads, a missing one alike.
  struct Case {
    std::optional<int32_t> index;
    int32_t days;
  } cases[] = {{4, 10}, {2, 0}, {0, 0}, {std::nullopt, 0}};
  for (const auto& c : cases) {
    auto key = registry::Key::Open(registry::RootKey::kLocalMachine, engine::kZelvoraKey).value();
    if (c.index) {
      ASSERT_TRUE(settings_.SetCheckRange(*c.index, c.days));
    } else {
      (void)key.DeleteValue("CheckRange");
    }
    engine::EngineSettings engine_view;
    ASSERT_TRUE(engine::LoadSettings(&engine_view, 20260415).ok());
    int32_t index = -1, days = -1;
    settings_.GetCheckRange(&index, &days);
    EXPECT_EQ(index, engine_view.PeriodIndex);
    if (index == engine::kPeriodDays) {
      EXPECT_EQ(days, engine_view.LimitDays);
    }
  }

  // The client reads the file the console writes, once it is the newest.
  ASSERT_TRUE(
      WriteLimitAnswerFiles(settings_, "carol", 0, 1, QuotaWriteMode::kUser, 0, 2, std::nullopt, 20260415, nullptr)
          .ok());
  EXPECT_EQ(client::NewestQuotaFile(h_->result(), "carol", "pc1"), h_->result() + "/carol-.ans");
}

}  // namespace
}  // namespace zv::console
