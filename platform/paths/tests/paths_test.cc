#include "platform/paths/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/paths/install_layout.h"
#include "platform/paths/root_session.h"
#include "platform/testing/temp_root.h"

namespace zv::paths {
namespace {

TEST(Paths, MapsNetworkAndLocalPaths) {
  zv::testing::TempRoot root;
  const std::string r = root.str();
  struct Case {
    const char* in;
    std::string out;
  } cases[] = {
      {"\\\\SRV\\Share\\PrintInfo\\order00.lst", r + "/net/SRV/Share/PrintInfo/order00.lst"},
      {"\\\\SRV\\Share", r + "/net/SRV/Share"},
      {"\\\\SRV\\Share\\a\\..\\b\\.\\c", r + "/net/SRV/Share/b/c"},
      {"//SRV/Share/x", r + "/net/SRV/Share/x"},
      {"\\\\SRV\\Share\\dir\\", r + "/net/SRV/Share/dir/"},
      {"/srv/zelvora\\Result\\a.ans", "/srv/zelvora/Result/a.ans"},
      {"relative\\name.txt", "relative/name.txt"},
  };
  for (const auto& c : cases) {
    auto got = ToLocalPath(c.in);
    ASSERT_TRUE(got.ok()) << c.in << ": " << got.status().ToString();
    EXPECT_EQ(*got, c.out) << c.in;
  }
}

// A share the runtime root does not map is found through the machine-wide mapping; the
// root's own entry (even a dangling link) wins, and an unmapped share stays in the root.
TEST(Paths, UnmappedSharesFallBackToTheMachineWideMapping) {
  zv::testing::TempRoot root;
  const std::string r = root.str(), sys = r + "/system";
  std::filesystem::create_directories(sys + "/net/SRV/Share");
  std::filesystem::create_directories(r + "/net/OWN");
  std::filesystem::create_directory_symlink(r + "/missing", r + "/net/OWN/Share");
  std::filesystem::create_directories(sys + "/net/OWN/Share");
  ::setenv("ZELVORA_SYSTEM_CONFIG", sys.c_str(), 1);
  struct Case {
    const char* in;
    std::string out;
  } cases[] = {
      {"\\\\SRV\\Share\\Result\\a.ans", sys + "/net/SRV/Share/Result/a.ans"},
      {"\\\\OWN\\Share\\x", r + "/net/OWN/Share/x"},
      {"\\\\NONE\\Share\\x", r + "/net/NONE/Share/x"},
  };
  for (const auto& c : cases) EXPECT_EQ(ToLocalPath(c.in).value(), c.out) << c.in;
  EXPECT_EQ(SystemConfigFolder(), sys);
  ::unsetenv("ZELVORA_SYSTEM_CONFIG");
  auto exe = ProgramPath();
  ASSERT_TRUE(exe.ok());
  EXPECT_EQ(SystemConfigFolder(), std::filesystem::path(*exe).parent_path().parent_path().string() + "/etc");
}

TEST(Paths, RefusesNetworkPathsThatLeaveTheirShare) {
  zv::testing::TempRoot root;
  for (const char* bad :
       {"", "\\\\", "\\\\SRV", "\\\\SRV\\", "\\\\..\\Share\\x", "\\\\SRV\\..\\x", "\\\\SRV\\Share\\..\\..\\etc",
        "\\\\SRV\\Share\\a\\..\\..\\x", "\\\\SRV\\Sh\x01re\\x", "\\\\SRV\\Share\\a\x1b"}) {
    EXPECT_FALSE(ToLocalPath(bad).ok()) << bad;
  }
}

TEST(Paths, PlainFileNames) {
  for (const char* good : {"order00.lst", "a b.txt", "ユーザ-PC.an2", ".hidden", "a.b.c"}) {
    EXPECT_TRUE(IsPlainFileName(good)) << good;
  }
  std::string nul_name("a\0b", 3);
  for (std::string bad : {std::string(), std::string("."), std::string(".."), std::string("../x"), std::string("a/b"),
                          std::string("a\\b"), std::string("x..y"), std::string("a\nb"), std::string("a\x7f"), nul_name,
                          std::string(256, 'a')}) {
    EXPECT_FALSE(IsPlainFileName(bad)) << bad;
  }
  EXPECT_TRUE(IsPlainFileName(std::string(255, 'a')));
  EXPECT_FALSE(IsPlainFileName("abcdef", 5));
  EXPECT_EQ(JoinInside("/srv/x/", "a.txt").value(), "/srv/x/a.txt");
  EXPECT_FALSE(JoinInside("/srv/x", "..").ok());
  EXPECT_FALSE(JoinInside("/srv/x", "..\\..\\etc\\passwd").ok());
}

TEST(Paths, SafeFileNamesAreDistinctAndPlain) {
  std::set<std::string> seen;
  for (std::string n : std::vector<std::string>{"Hevrasto.exeMultiplexStartingPrevention",
                                                "Zelvora ExplorerMultiplexStartingPrevention", "Ostrane", "ostrane",
                                                "..", "../../etc/passwd", "a/b", "a%2Fb", "a\\b", "", "%",
                                                "ウェルモリック", std::string(300, 'x'), std::string(299, 'x') + "y"}) {
    std::string f = SafeFileName(n);
    EXPECT_TRUE(IsPlainFileName(f)) << n << " -> " << f;
    EXPECT_LE(f.size(), 160u);
    EXPECT_TRUE(seen.insert(f).second) << n << " -> " << f;
  }
  EXPECT_EQ(SafeFileName("Zelvora Service"), "Zelvora%20Service");
}

TEST(Paths, RootFolderStaysUnderTheRoot) {
  zv::testing::TempRoot root;
  auto run = RootFolder("run");
  ASSERT_TRUE(run.ok());
  EXPECT_EQ(*run, root.str() + "/run");
  struct stat st;
  ASSERT_EQ(::stat(run->c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_TRUE(RootFolder("a/b").ok());
  for (const char* bad : {"..", "a/../..", "/etc", "a//b", "a/"}) EXPECT_FALSE(RootFolder(bad).ok()) << bad;
}

TEST(Paths, ProgramAndTemporaryFolders) {
  zv::testing::TempRoot root;
  auto exe = ProgramPath();
  ASSERT_TRUE(exe.ok());
  EXPECT_TRUE(std::filesystem::exists(*exe));
  EXPECT_EQ(ProgramFolder().value(), std::filesystem::path(*exe).parent_path().string());
  EXPECT_EQ(TempFolder().value(), root.str() + "/tmp");
}

TEST(Paths, TemporaryFilesAreUniqueAndExclusive) {
  zv::testing::TempRoot root;
  std::string dir = TempFolder().value();
  std::set<std::string> seen;
  std::regex wxq(".*/WXQ[0-9A-F]{8}\\.tmp");
  for (int i = 0; i < 200; ++i) {
    auto p = CreateTempFile(dir, "WXQ", ".tmp");
    ASSERT_TRUE(p.ok()) << p.status().ToString();
    EXPECT_TRUE(std::regex_match(*p, wxq)) << *p;
    EXPECT_TRUE(seen.insert(*p).second);
    struct stat st;
    ASSERT_EQ(::stat(p->c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
  auto prc = CreateTempFile(dir, "PRC");
  ASSERT_TRUE(prc.ok());
  EXPECT_EQ(std::filesystem::path(*prc).filename().string().substr(0, 3), "PRC");
  EXPECT_FALSE(CreateTempFile(dir, "../x").ok());
  EXPECT_FALSE(CreateTempFile(dir, "a/b").ok());
  EXPECT_FALSE(CreateTempFile(dir, "W", "/.tmp").ok());
  EXPECT_FALSE(CreateTempFile(root.str() + "/missing", "W").ok());
}

}  // namespace
}  // namespace zv::paths

namespace zv::paths {
namespace {

TEST(Paths, RootKeepsItsXdgFoldersInItsRuntimeRoot) {
  zv::testing::TempRoot root;
  const char* names[] = {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"};
  std::vector<std::pair<std::string, std::optional<std::string>>> saved;
  for (const char* n : names) {
    const char* v = std::getenv(n);
    saved.emplace_back(n, v ? std::optional<std::string>(v) : std::nullopt);
    ::unsetenv(n);
  }
  ::setenv("XDG_CACHE_HOME", "/given/cache", 1);  // what the environment names is kept
  ::setenv("XDG_DATA_HOME", "", 1);               // an empty value names nothing
  ASSERT_TRUE(KeepRootOutOfHome().ok());
  auto value = [](const char* n) { return std::string(std::getenv(n) ? std::getenv(n) : "(unset)"); };
  const bool as_root = ::geteuid() == 0;
  const std::string r = root.str() + "/xdg/";
  EXPECT_EQ(value("XDG_RUNTIME_DIR"), as_root ? r + "runtime" : "(unset)");
  EXPECT_EQ(value("XDG_CONFIG_HOME"), as_root ? r + "config" : "(unset)");
  EXPECT_EQ(value("XDG_CACHE_HOME"), "/given/cache");
  EXPECT_EQ(value("XDG_DATA_HOME"), as_root ? r + "data" : "");
  EXPECT_EQ(value("XDG_STATE_HOME"), as_root ? r + "state" : "(unset)");
  if (as_root) {
    struct stat st {};
    ASSERT_EQ(::stat((r + "runtime").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_FALSE(std::filesystem::exists(r + "config"));  // made by whoever writes there
  }
  for (const auto& [n, v] : saved) {
    if (v) ::setenv(n.c_str(), v->c_str(), 1);
    else ::unsetenv(n.c_str());
  }
}

TEST(Paths, FileInFoldersTakesTheSettingsFolderThenTheDataFolder) {
  zv::testing::TempRoot root;
  const std::string app = root.str() + "/app", data = root.str() + "/share/zelvora", none = root.str() + "/none";
  std::filesystem::create_directories(app);
  std::filesystem::create_directories(data);
  std::ofstream(data + "/ZvkHelp.html") << "<html></html>";
  struct Case {
    std::string app, data, want;
  } cases[] = {
      {app, data, data + "/ZvkHelp.html"},   // only the install's data folder holds it
      {none, none, none + "/ZvkHelp.html"},  // nowhere: the settings' folder is named
      {"", data, data + "/ZvkHelp.html"},
  };
  for (const auto& c : cases) EXPECT_EQ(FileInFolders(c.app, c.data, "ZvkHelp.html"), c.want) << c.app;
  std::ofstream(app + "/ZvkHelp.html") << "<html></html>";
  EXPECT_EQ(FileInFolders(app, data, "ZvkHelp.html"), app + "/ZvkHelp.html");
}

}  // namespace
}  // namespace zv::paths
