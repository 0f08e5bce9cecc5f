#include "client/config.h"

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

}  // namespace
}  // namespace zv::client
