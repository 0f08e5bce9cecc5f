#include "engine/core/settings_store.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/rules/quota_period.h"
#include "engine/tests/engine_fixture.h"

namespace zv::engine {
namespace {

using SettingsStore = EngineFixture;

TEST_F(SettingsStore, DefaultsFoldersAndWriteBack) {
  Load();
  EXPECT_EQ(settings_.ShareRoot, root_.str() + "/app/share");
  EXPECT_EQ(settings_.PrintInfoPath, root_.str() + "/app/share/PrintInfo");
  EXPECT_EQ(settings_.ResultPath, root_.str() + "/app/share/Result");
  for (const char* d : {"PrintInfo", "Jobs", "Result"})
    EXPECT_TRUE(std::filesystem::is_directory(root_.path() / "app/share" / d)) << d;
  EXPECT_EQ(*key_->GetString("JobsDir"), "Jobs");
  EXPECT_EQ(settings_.MaxPages, 50);
  EXPECT_EQ(settings_.MaxPages_Color, 20);
  EXPECT_EQ(settings_.PeriodIndex, kPeriodMonth);
  EXPECT_EQ(settings_.LimitDate, 20260415);
  EXPECT_EQ(settings_.SMTPPort, 25);
  EXPECT_EQ(settings_.DupCheck, 1);
  EXPECT_EQ(settings_.CheckRequestOwner, 1);
  EXPECT_TRUE(settings_.ShowErrors);
}

TEST_F(SettingsStore, ReadsValues) {
  ASSERT_TRUE(key_->SetString("ResultDir", "Answers").ok());
  ASSERT_TRUE(key_->SetDword("CheckRange", (8u << 28) | 30).ok());
  ASSERT_TRUE(key_->SetDword("LimitAction", 6).ok());
  ASSERT_TRUE(key_->SetDword("DispMessage", 3).ok());
  ASSERT_TRUE(key_->SetDword("MaxPages", 100).ok());
  ASSERT_TRUE(key_->SetDword("LimitDate", 20260420).ok());
  ASSERT_TRUE(key_->SetDword("CheckRequestOwner", 0).ok());
  ASSERT_TRUE(key_->SetString("MaxPages_Color", "wrong type").ok());  // unreadable: default stays
  Load();
  EXPECT_EQ(settings_.CheckRequestOwner, 0);
  EXPECT_EQ(settings_.ResultPath, root_.str() + "/app/share/Answers");
  EXPECT_EQ(settings_.PeriodIndex, kPeriodDays);
  EXPECT_EQ(settings_.LimitDays, 30);
  EXPECT_FALSE(settings_.MailUser);
  EXPECT_TRUE(settings_.MailAdmin && settings_.RefuseOverLimit);
  EXPECT_TRUE(settings_.ShowCompletion && settings_.ShowErrors);
  EXPECT_EQ(settings_.MaxPages, 100);
  EXPECT_EQ(settings_.MaxPages_Color, 20);
  EXPECT_EQ(settings_.LimitDate, 20260420);
}

TEST_F(SettingsStore, FailsWithoutShareOrWithAnEscapingFolder) {
  ASSERT_TRUE(key_->SetString("PrintInfoDir", "../outside").ok());
  EXPECT_FALSE(LoadSettings(&settings_, 20260415).ok());
  EXPECT_FALSE(std::filesystem::exists(root_.path() / "app/outside"));
  ASSERT_TRUE(key_->DeleteValue("ShareDir").ok());
  EXPECT_FALSE(LoadSettings(&settings_, 20260415).ok());
}

TEST_F(SettingsStore, LimitDateRollsOn) {
  Load(20260415);
  settings_.LimitDate = 20260331;
  ASSERT_TRUE(RollOnLimitDate(&settings_, 20260415).ok());
  EXPECT_EQ(settings_.LimitDate, 20260430);
  EXPECT_EQ(*key_->GetDword("LimitDate"), 20260430u);
  ASSERT_TRUE(key_->SetDword("LimitDate", 1).ok());
  ASSERT_TRUE(RollOnLimitDate(&settings_, 20260415).ok());  // current: nothing written
  EXPECT_EQ(*key_->GetDword("LimitDate"), 1u);
}

}  // namespace
}  // namespace zv::engine
