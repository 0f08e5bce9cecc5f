#include "console/core/registry_config.h"

#include <gtest/gtest.h>

#include "platform/testing/temp_root.h"

namespace zv::console {
namespace {

using registry::RootKey;

constexpr char kKey[] = "Software\\Orbelin\\Zelvora\\1.0";
constexpr char kSettings[] = "Software\\Orbelin\\Zelvora\\1.0\\Settings";

class RegistryConfigTest : public ::testing::Test {
 protected:
  registry::Key Key(const char* path = kKey) { return registry::Key::Create(RootKey::kLocalMachine, path).value(); }
  uint32_t Stored(const char* name, const char* path = kKey) { return Key(path).GetDword(name).value(); }
  testing::TempRoot root_;
  CConsoleSettings settings_;
};

TEST_F(RegistryConfigTest, PackedValuesAndPresets) {
  int32_t a = 9, b = 9, c = 9;
  // missing values give their presets
  EXPECT_FALSE(settings_.GetLimitOverAction(&a));
  EXPECT_EQ(a, -1);
  EXPECT_FALSE(settings_.GetLogEnv1(&a));
  EXPECT_EQ(a, 1);
  EXPECT_FALSE(settings_.GetMaxPages(&a));
  EXPECT_EQ(a, 0);

  struct Case {
    std::function<bool()> set;
    const char* name;
    uint32_t stored;
  } cases[] = {
      {[&] { return settings_.SetLimitAction(1, 0, 1); }, "LimitAction", 5},
      {[&] { return settings_.SetLimitAction(2, 1, 1); }, "LimitAction", 6},
      {[&] { return settings_.SetDispMessage(1, 1); }, "DispMessage", 3},
      {[&] { return settings_.SetLogEnv1(1); }, "LogEnv1", 0},
      {[&] { return settings_.SetLogEnv1(0); }, "LogEnv1", 1},
      {[&] { return settings_.CRegistryConfig::SetCheckRange(2, 7); }, "CheckRange", 0x20000007},
      {[&] { return settings_.SetCheckRange(4, 30); }, "CheckRange", 0x8000001E},
      {[&] { return settings_.SetCheckRange(3, 0); }, "CheckRange", 0x40000000},
      {[&] { return settings_.SetCheckRange(9, 0); }, "CheckRange", 0},
      {[&] { return settings_.SetMaxPages(70); }, "MaxPages", 70},
  };
  for (const auto& k : cases) {
    ASSERT_TRUE(k.set()) << k.name;
    EXPECT_EQ(Stored(k.name), k.stored) << k.name;
  }
  ASSERT_TRUE(settings_.SetLimitAction(1, 0, 1));
  EXPECT_TRUE(settings_.GetLimitAction(&a, &b, &c));
  EXPECT_EQ(std::tie(a, b, c), std::make_tuple(1, 0, 1));
  ASSERT_TRUE(settings_.SetLogEnv1(1));
  EXPECT_TRUE(settings_.GetLogEnv1(&a));
  EXPECT_EQ(a, 1);  // stored 0: locked

  // the stored kind codes and what the console's index reading makes of them
  struct Range {
    uint32_t stored;
    int32_t code, code_days, index, days;
  } ranges[] = {
      {0x8000001E, 8, 30, 4, 30}, {0x40000000, 4, 0, 3, 0}, {0x20000007, 2, 0, 2, 0},
      {0x10000000, 1, 0, 1, 0},   {0x00000000, 0, 0, 0, 0}, {0x30000000, 3, 0, 3, 0},  // unknown: the engine's month
  };
  for (const auto& r : ranges) {
    ASSERT_TRUE(Key().SetDword("CheckRange", r.stored).ok());
    EXPECT_TRUE(settings_.CRegistryConfig::GetCheckRange(&a, &b));
    EXPECT_EQ(std::tie(a, b), std::tie(r.code, r.code_days)) << std::hex << r.stored;
    EXPECT_TRUE(settings_.GetCheckRange(&a, &b));
    EXPECT_EQ(std::tie(a, b), std::tie(r.index, r.days)) << std::hex << r.stored;
  }
  ASSERT_TRUE(Key().DeleteValue("CheckRange").ok());
  EXPECT_FALSE(settings_.GetCheckRange(&a, &b));
  EXPECT_EQ(a, 3);  // missing: one month, as the engine reads it
}

TEST_F(RegistryConfigTest, WrongTypesReadAsMissing) {
  ASSERT_TRUE(Key().SetString("MaxPages", "70").ok());
  ASSERT_TRUE(Key().SetValue("MaxPages_Color", registry::kRegDword, std::string("\x07\x00", 2)).ok());
  ASSERT_TRUE(Key().SetDword("SMTPServer", 5).ok());
  ASSERT_TRUE(Key().SetValue("AdminMailAddress", registry::kRegSz, "no-zero").ok());
  ASSERT_TRUE(Key().SetString("LogEnv2", "plain").ok());
  int32_t n = 9;
  std::string t = "x";
  EXPECT_FALSE(settings_.GetMaxPages(&n));
  EXPECT_EQ(n, 0);
  EXPECT_FALSE(settings_.GetMaxPages_Color(&n));
  EXPECT_FALSE(settings_.GetSMTPServer(&t));
  EXPECT_EQ(t, "");
  EXPECT_FALSE(settings_.GetAdminMailAddress(&t));
  EXPECT_FALSE(settings_.GetLogEnv2(&t));
}

TEST_F(RegistryConfigTest, TextsAndTheScrambledPassword) {
  ASSERT_TRUE(settings_.SetSMTPServer("mail.example"));
  std::string t;
  EXPECT_TRUE(settings_.GetSMTPServer(&t));
  EXPECT_EQ(t, "mail.example");
  EXPECT_EQ(Key().GetValue("SMTPServer").value().data, std::string("mail.example\0", 13));

  EXPECT_EQ(ScrambleLockPassword(std::string("\x01\x80\x0F", 3)), std::string("\x7F\xFE\x0F", 3));
  const std::string pw = "Secret-1";
  ASSERT_TRUE(settings_.SetLogEnv2(ScrambleLockPassword(pw)));
  auto stored = Key().GetBinary("LogEnv2").value();
  EXPECT_EQ(stored.find(pw), std::string::npos);
  EXPECT_EQ(stored.back(), '\0');
  EXPECT_TRUE(settings_.GetLogEnv2(&t));
  EXPECT_EQ(ScrambleLockPassword(t), pw);

  // the base store opens only: it cannot write into a missing key, the settings create it
  ASSERT_TRUE(registry::Key::Open(RootKey::kLocalMachine, kKey).ok());
  CRegistryConfig base;
  EXPECT_FALSE(base.WriteValue(RootKey::kLocalMachine, "Software\\Missing", "v", registry::kRegDword, "1234"));
  EXPECT_TRUE(settings_.WriteValue(RootKey::kLocalMachine, "Software\\Missing", "v", registry::kRegDword, "1234"));
}

TEST_F(RegistryConfigTest, LayoutValuesReadOnceAndSaved) {
  {
    auto k = Key(kSettings);
    ASSERT_TRUE(k.SetDword("Left", 10).ok());
    ASSERT_TRUE(k.SetDword("Top", 20).ok());
    ASSERT_TRUE(k.SetDword("Width", 300).ok());  // no Height: default placement
    ASSERT_TRUE(k.SetDword("ListOrder", (1u << 28) | 3).ok());
    ASSERT_TRUE(k.SetString("ListColumnWidth", "100,120,90").ok());
  }
  EXPECT_TRUE(settings_.GetMainRect().Empty());
  int32_t column = -1, direction = -1;
  settings_.GetListOrder(&column, &direction);
  EXPECT_EQ(column, 3);
  EXPECT_EQ(direction, 1);
  EXPECT_EQ(settings_.GetColumnWidths(), (std::vector<int>{100, 120, 90}));
  EXPECT_EQ(settings_.GetToolBar(), 1);
  EXPECT_EQ(settings_.GetRootName(), "Zelvora");
  auto span = settings_.GetDisplaySpan();
  EXPECT_EQ(span.before, 1);

  ASSERT_TRUE(Key(kSettings).SetDword("ListOrder", 0).ok());  // kept copy wins until saved
  settings_.GetListOrder(&column, &direction);
  EXPECT_EQ(direction, 1);

  settings_.SetListOrder(3, 0);
  settings_.SetMainRect({5, 6, 105, 206});
  settings_.SetDisplaySpanDates(4, 2, 20260101, 20260131);
  settings_.SetColumnWidths({80, 90});
  settings_.SetRootName("本社");
  ASSERT_TRUE(settings_.Save());
  EXPECT_EQ(Stored("ListOrder", kSettings), 3u);
  EXPECT_EQ(Stored("Height", kSettings), 200u);
  EXPECT_EQ(Stored("Before", kSettings), 1u);
  EXPECT_EQ(Stored("eDate", kSettings), 20260131u);
  EXPECT_EQ(Key(kSettings).GetString("ListColumnWidth").value(), "80,90");
  EXPECT_FALSE(Key("Software\\Orbelin\\Zelvora\\1.0\\Graph").GetDword("GraphType").ok());  // never read or set

  CConsoleSettings fresh;
  EXPECT_EQ(fresh.GetMainRect(), (CConsoleSettings::Rect{5, 6, 105, 206}));
  EXPECT_EQ(fresh.GetRootName(), "本社");
}

}  // namespace
}  // namespace zv::console
