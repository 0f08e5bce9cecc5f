// The console and the real engine agree: a user the console adds prints, limits the console
// sets refuse the next job, the period the console stores is the engine's, and the quota
// file the console writes is the one the client reads.
#include <gtest/gtest.h>

#include "client/quota_cache.h"
#include "console/core/environment.h"
#include "console/core/quota_files.h"
#include "console/db/console_database.h"
#include "console/rules/user_list.h"
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
  // Takes an account and a job file name; prints a two-page job and gives the answer.
  std::string Answer(const std::string& account, const std::string& job) {
    h_->WriteJob(job, 2);
    engine::RequestSpec order;
    order.account = account;
    order.job_file = job;
    std::string slot = h_->Submit(EngineHarness::RequestText(order));
    return h_->WaitForAnswer(account, order.machine, slot);
  }
  int Print(const std::string& account, const std::string& job) {
    return EngineHarness::ResultCode(Answer(account, job));
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

// Takes an answer and a key; gives the key's value in its "[PrintLimit]" section (empty when
// missing).
std::string PrintLimitValue(const std::string& answer, const std::string& key) {
  const size_t section = answer.find("[PrintLimit]");
  if (section == std::string::npos) return {};
  const size_t at = answer.find("\n" + key + "=", section);
  if (at == std::string::npos) return {};
  const size_t begin = at + key.size() + 2;
  return answer.substr(begin, answer.find_first_of("\r\n", begin) - begin);
}

TEST_F(EngineAgreement, TheListShowsTheSystemLimitsTheEngineAnswers) {
  auto db = Db();
  GroupRecord group{0, "Defaults", 0, 0, 0};
  ASSERT_TRUE(db.AddGroup(&group)) << db.ErrorLines.front();
  UserRecord dave;
  dave.Account = "dave";
  dave.UserName = "Dave";
  dave.GID = group.GID;
  dave.CountShubetsu = 1;
  ASSERT_TRUE(db.AddUser(&dave)) << db.ErrorLines.front();

  // The machine key without one or both values: the list's limit columns read what the
  // engine answers for the same user.
  struct Case {
    const char* name;
    std::optional<int32_t> mono, color;
  } cases[] = {{"both missing", std::nullopt, std::nullopt},
               {"colour missing", 40, std::nullopt},
               {"monochrome missing", std::nullopt, 7}};
  int job = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto key = registry::Key::Open(registry::RootKey::kLocalMachine, engine::kZelvoraKey).value();
    if (c.mono) {
      ASSERT_TRUE(settings_.SetMaxPages(*c.mono));
    } else {
      (void)key.DeleteValue("MaxPages");
    }
    if (c.color) {
      ASSERT_TRUE(settings_.SetMaxPages_Color(*c.color));
    } else {
      (void)key.DeleteValue("MaxPages_Color");
    }
    h_->StartEngine();
    const std::string answer = Answer("dave", "d" + std::to_string(++job) + ".prc");
    EXPECT_EQ(h_->StopEngine(), 0);
    ASSERT_EQ(EngineHarness::ResultCode(answer), 0) << answer;

    UserPageRow row;
    static_cast<UserRecord&>(row) = dave;
    const LimitContext limits{SystemLimits(settings_), {group.MaxPages, group.MaxPages_Color}};
    auto shown = [](const std::string& n) {
      char text[32];
      std::snprintf(text, sizeof text, "%4ld枚", std::strtol(n.c_str(), nullptr, 10));
      return std::string(text);
    };
    EXPECT_EQ(UserCellText(row, 2, limits, {}), shown(PrintLimitValue(answer, "MaxPages_Color"))) << answer;
    EXPECT_EQ(UserCellText(row, 3, limits, {}), shown(PrintLimitValue(answer, "MaxPages"))) << answer;
  }
}

}  // namespace
}  // namespace zv::console
