#include "jobdoc/trace.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "platform/registry/registry.h"
#include "platform/testing/temp_root.h"

namespace zv::jobdoc {
namespace {

class FakeSettings : public MachineSettings {
 public:
  std::map<std::string, std::string> values;  // "key|name" -> text
  Result<std::string> ReadString(std::string_view key, std::string_view name) const override {
    auto it = values.find(std::string(key) + "|" + std::string(name));
    if (it == values.end()) return Status::NotFound(std::string(name));
    return it->second;
  }
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(TraceLog, SwitchIsExactlyOn) {
  testing::TempRoot root;
  for (auto [value, on] :
       {std::pair{"ON", true}, {"on", false}, {"On", false}, {"ON ", false}, {"", false}, {"1", false}}) {
    SCOPED_TRACE(value);
    FakeSettings s;
    s.values[std::string(kSettingsKeyPath) + "|LogOutput"] = value;
    EXPECT_EQ(ReadTraceSwitch(s), on);
  }
  EXPECT_FALSE(ReadTraceSwitch(FakeSettings{}));
}

TEST(TraceLog, WritesOneLinePerCallOnlyWhenOn) {
  testing::TempRoot root;
  FakeSettings s;
  s.values[std::string(kSettingsKeyPath) + "|LogOutput"] = "ON";
  TraceLog log = TraceLog::FromSettings(s, root.str());
  EXPECT_EQ(log.path(), root.str() + "/ZvkTrace.log");
  Trace(log, "_CImgSave::OnOK IN");
  log.Trace("_CImgSave::OnOK OUT");
  EXPECT_EQ(Slurp(log.path()), "_CImgSave::OnOK IN\n_CImgSave::OnOK OUT\n");

  TraceLog off(false, root.str() + "/off");
  std::filesystem::create_directory(root.path() / "off");
  off.Trace("COstraneDoc::WriteData IN");
  EXPECT_FALSE(std::filesystem::exists(off.path()));

  // A folder that cannot be written: no log, no error.
  std::filesystem::create_directory(root.path() / "ro");
  chmod((root.path() / "ro").c_str(), 0500);
  TraceLog ro(true, (root.path() / "ro").string());
  ro.Trace("x");
  TraceLog missing(true, (root.path() / "missing" / "deeper").string());
  missing.Trace("x");
  EXPECT_FALSE(std::filesystem::exists(missing.path()));
  chmod((root.path() / "ro").c_str(), 0700);
}

TEST(TraceLog, RegistryBacksTheSwitch) {
  testing::TempRoot root;
  RegistryMachineSettings reg;
  EXPECT_FALSE(ReadTraceSwitch(reg));
  auto key = registry::Key::Create(registry::RootKey::kLocalMachine, kSettingsKeyPath);
  ASSERT_TRUE(key.ok());
  ASSERT_TRUE(key->SetString("LogOutput", "ON").ok());
  EXPECT_TRUE(ReadTraceSwitch(reg));
  ASSERT_TRUE(key->SetString("LogOutput", "on").ok());
  EXPECT_FALSE(ReadTraceSwitch(reg));
  TraceLog program = TraceLog::ForProgram(reg);
  EXPECT_FALSE(program.folder().empty());
}

TEST(PlatformChecks, VersionThresholds) {
  struct Case {
    std::string release;
    double version;
    int platform;
  };
  for (const Case& c : {Case{"6.1.0-18-amd64", 6.1, 2}, Case{"5.10.0", 5.1, 2}, Case{"4", 4.0, 2}, Case{"", 0.0, -1},
                        Case{"abc", 0.0, -1}}) {
    SCOPED_TRACE(c.release);
    OsVersion os = OsVersionFromRelease(c.release);
    EXPECT_DOUBLE_EQ(os.version, c.version);
    EXPECT_EQ(os.platform, c.platform);
  }
  EXPECT_EQ(GetOsVersion().platform, 2);

  EXPECT_EQ(SystemErrorText({5.1, 2}), kRunAsAdministratorText);
  EXPECT_EQ(SystemErrorText({5.0, 2}), kInternalErrorText);  // the 2000 generation
  EXPECT_EQ(SystemErrorText({6.1, 1}), kInternalErrorText);
  EXPECT_EQ(SystemErrorText({0.0, -1}), kInternalErrorText);

  EXPECT_TRUE(ForegroundForcingApplies({5.0, 2}));
  EXPECT_FALSE(ForegroundForcingApplies({4.0, 2}));
  EXPECT_TRUE(ForegroundForcingApplies({4.1, 1}));
  EXPECT_FALSE(ForegroundForcingApplies({4.0, 1}));
  EXPECT_FALSE(ForegroundForcingApplies({0.0, -1}));

  int calls = 0;
  ForceForegroundWindow({4.0, 1}, [&] { ++calls; });
  ForceForegroundWindow({5.0, 2}, [&] { ++calls; });
  EXPECT_EQ(calls, 1);

  std::string shown;
  EXPECT_EQ(ReportSystemError({5.1, 2},
                              [&](std::string_view title, std::string_view text) {
                                shown = std::string(title) + "|" + std::string(text);
                                return true;
                              }),
            1);
  EXPECT_EQ(shown, "システムエラー|管理者権限で実行して下さい。");
  EXPECT_EQ(ReportSystemError({5.1, 2}, nullptr), 0);
}

}  // namespace
}  // namespace zv::jobdoc
