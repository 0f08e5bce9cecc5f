#include "client/config.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/fs/files.h"
#include "platform/registry/registry.h"
#include "platform/testing/temp_root.h"

namespace zv::client {
namespace {

TEST(Config, ServerNamesAreNormalised) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"SRV", "\\\\SRV"}, {"\\\\SRV", "\\\\SRV"}, {" \\\\SRV\\ ", "\\\\SRV"}, {"//SRV/", "\\\\SRV"},
      {"", ""},           {"\\\\", ""},           {"［ローカル印刷］", ""},   {" ［ローカル印刷］ ", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(NormaliseServerName(c.in), c.out) << c.in;
}

TEST(Config, JoinedRootReachesTheServersShare) {
  zv::testing::TempRoot root;
  const std::string share = root.str() + "/server/share";
  ASSERT_TRUE(fs::MakeDirs(share + "/Result").ok());
  ASSERT_TRUE(JoinServer(share, "SRV", "share", root.str() + "/app").ok());
  auto config = LoadClientConfig();
  ASSERT_TRUE(config.ok()) << config.status().ToString();
  EXPECT_EQ(config->server_name, "\\\\SRV");
  EXPECT_TRUE(config->has_server());
  EXPECT_EQ(config->SpoolFolder(), root.str() + "/app/Spool");
  auto result = config->ResultFolder();
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(*result, root.str() + "/net/SRV/share/Result");
  EXPECT_TRUE(std::filesystem::equivalent(*result, share + "/Result"));

  // The local-printing text stored as the server means no server.
  auto key = registry::Key::Open(registry::RootKey::kLocalMachine, kMachineKey);
  ASSERT_TRUE(key.ok());
  ASSERT_TRUE(key->SetString("ServerName", kLocalPrintingText).ok());
  config = LoadClientConfig();
  ASSERT_TRUE(config.ok());
  EXPECT_FALSE(config->has_server());
  EXPECT_FALSE(config->ResultFolder().ok());
  EXPECT_EQ(JoinServer(share, "../x", "share", root.str() + "/app").code(), Status::Code::kInvalidArgument);
}

TEST(Config, AppPathIsAlwaysAbsolute) {
  zv::testing::TempRoot root;
  const std::string share = root.str() + "/server/share";
  ASSERT_TRUE(fs::MakeDirs(share).ok());
  ASSERT_TRUE(JoinServer(share, "SRV", "share", root.str() + "/./x/../app").ok());
  auto key = registry::Key::Open(registry::RootKey::kLocalMachine, kMachineKey).value();
  EXPECT_EQ(key.GetString("AppPath").value(), root.str() + "/app");
  // A relative runtime root still gives an absolute program folder (nothing is made here).
  setenv("ZELVORA_ROOT", "relative-root", 1);
  std::string app = DefaultAppPath();
  setenv("ZELVORA_ROOT", root.str().c_str(), 1);
  EXPECT_EQ(app, (std::filesystem::current_path() / "relative-root/app").string());
}

TEST(Config, AUsersFirstStartFindsTheServerTheInstallerJoined) {
  zv::testing::TempRoot machine;
  const std::string system = machine.str() + "/etc";
  setenv("ZELVORA_SYSTEM_CONFIG", system.c_str(), 1);
  const std::string share = machine.str() + "/server/app/share";
  ASSERT_TRUE(fs::MakeDirs(share + "/PrintInfo").ok());
  ASSERT_TRUE(JoinServerMachineWide(share, "SRV", "ZELVORA").ok());
  ASSERT_TRUE(JoinServerMachineWide(share, "SRV", "ZELVORA").ok());  // again: the same settings
  EXPECT_EQ(JoinServerMachineWide(share, "S/RV", "ZELVORA").code(), Status::Code::kInvalidArgument);
  struct stat st {};
  ASSERT_EQ(::stat((system + "/machine.reg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);  // every user reads it
  auto text = fs::ReadFile(system + "/machine.reg");
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(text->find("AppPath"), std::string::npos);  // each user's own

  {
    zv::testing::TempRoot user;  // nothing stored yet
    auto config = LoadClientConfig();
    ASSERT_TRUE(config.ok()) << config.status().ToString();
    EXPECT_EQ(config->server_name, "\\\\SRV");
    EXPECT_EQ(config->share_name, "ZELVORA");
    EXPECT_EQ(config->app_path, user.str() + "/app");
    EXPECT_TRUE(std::filesystem::is_directory(config->app_path));
    auto requests = config->RequestFolder();
    ASSERT_TRUE(requests.ok());
    EXPECT_EQ(*requests, system + "/net/SRV/ZELVORA/PrintInfo");
    EXPECT_TRUE(std::filesystem::equivalent(*requests, share + "/PrintInfo"));
  }
  unsetenv("ZELVORA_SYSTEM_CONFIG");
}

}  // namespace
}  // namespace zv::client
