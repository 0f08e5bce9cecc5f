#include "platform/registry/registry.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/testing/temp_root.h"

namespace zv::registry {
namespace {

constexpr const char* kKey = "Software\\Orbelin\\Zelvora\\1.0";

TEST(Registry, OpenCreateAndTypedReads) {
  zv::testing::TempRoot root;
  EXPECT_EQ(Key::Open(RootKey::kLocalMachine, kKey).status().code(), Status::Code::kNotFound);
  auto k = Key::Create(RootKey::kLocalMachine, kKey);
  ASSERT_TRUE(k.ok()) << k.status().ToString();
  ASSERT_TRUE(k->SetString("AppPath", "/srv/zelvora").ok());
  ASSERT_TRUE(k->SetDword("MaxPages", 50).ok());
  ASSERT_TRUE(k->SetBinary("LogEnv2", std::string("\x0a\xf5\0", 3)).ok());

  auto again = Key::Open(RootKey::kLocalMachine, "software\\orbelin\\zelvora\\1.0");
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again->GetString("apppath").value(), "/srv/zelvora");
  EXPECT_EQ(again->GetDword("MaxPages").value(), 50u);
  EXPECT_EQ(again->GetBinary("LogEnv2").value(), std::string("\x0a\xf5\0", 3));
  EXPECT_EQ(again->GetValue("AppPath")->data, std::string("/srv/zelvora\0", 13));  // the zero is stored

  struct Case {
    const char* name;
    Status::Code str, dword, bin;
  } cases[] = {
      {"Missing", Status::Code::kNotFound, Status::Code::kNotFound, Status::Code::kNotFound},
      {"AppPath", Status::Code::kOk, Status::Code::kInvalidArgument, Status::Code::kInvalidArgument},
      {"MaxPages", Status::Code::kInvalidArgument, Status::Code::kOk, Status::Code::kInvalidArgument},
      {"LogEnv2", Status::Code::kInvalidArgument, Status::Code::kInvalidArgument, Status::Code::kOk},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(again->GetString(c.name).status().code(), c.str) << c.name;
    EXPECT_EQ(again->GetDword(c.name).status().code(), c.dword) << c.name;
    EXPECT_EQ(again->GetBinary(c.name).status().code(), c.bin) << c.name;
  }
  // A REG_DWORD of the wrong size is refused rather than read past its end.
  ASSERT_TRUE(k->SetValue("Short", kRegDword, "\x01\x02").ok());
  EXPECT_EQ(k->GetDword("Short").status().code(), Status::Code::kInvalidArgument);
  // The user hive is a separate file.
  EXPECT_EQ(Key::Open(RootKey::kCurrentUser, kKey).status().code(), Status::Code::kNotFound);
}

TEST(Registry, QueryValueFollowsTheWindowsBufferRules) {
  zv::testing::TempRoot root;
  auto k = Key::Create(RootKey::kCurrentUser, std::string(kKey) + "\\Settings").value();
  ASSERT_TRUE(k.SetString("Name", "abcd").ok());
  uint32_t type = 0, size = 0;
  ASSERT_TRUE(k.QueryValue("Name", &type, nullptr, &size).ok());
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(size, 5u);
  char buf[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
  size = 3;
  EXPECT_EQ(k.QueryValue("Name", &type, buf, &size).code(), Status::Code::kMoreData);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(buf[0], 'x');
  size = sizeof buf;
  ASSERT_TRUE(k.QueryValue("Name", nullptr, buf, &size).ok());
  EXPECT_EQ(size, 5u);
  EXPECT_STREQ(buf, "abcd");
  EXPECT_EQ(k.QueryValue("Name", nullptr, buf, nullptr).code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(k.QueryValue("Nope", &type, nullptr, &size).code(), Status::Code::kNotFound);
}

TEST(Registry, DeletingValuesAndKeys) {
  zv::testing::TempRoot root;
  auto top = Key::Create(RootKey::kLocalMachine, kKey).value();
  auto sub = Key::Create(RootKey::kLocalMachine, std::string(kKey) + "\\Conv\\Slot1").value();
  ASSERT_TRUE(sub.SetDword("OutKind", 1).ok());
  EXPECT_EQ(top.SubKeyNames().value(), std::vector<std::string>{"Conv"});
  ASSERT_TRUE(sub.DeleteValue("outkind").ok());
  EXPECT_EQ(sub.DeleteValue("OutKind").code(), Status::Code::kNotFound);
  ASSERT_TRUE(top.DeleteSubKey("Conv").ok());
  // The handle of a deleted key reads and writes nothing.
  EXPECT_EQ(sub.GetDword("OutKind").status().code(), Status::Code::kNotFound);
  EXPECT_EQ(sub.SetDword("OutKind", 2).code(), Status::Code::kNotFound);
  EXPECT_TRUE(top.SubKeyNames()->empty());
}

TEST(Registry, HiveFilesAreMode0600AndADamagedHiveIsNotOverwritten) {
  zv::testing::TempRoot root;
  auto k = Key::Create(RootKey::kLocalMachine, kKey).value();
  ASSERT_TRUE(k.SetString("PWD", "secret").ok());
  struct stat st;
  ASSERT_EQ(::stat(HivePath(RootKey::kLocalMachine).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat((root.str() + "/registry").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  { std::ofstream(HivePath(RootKey::kLocalMachine), std::ios::trunc) << "garbage\n"; }
  EXPECT_EQ(k.GetString("PWD").status().code(), Status::Code::kCorruption);
  EXPECT_EQ(k.SetString("PWD", "x").code(), Status::Code::kCorruption);
  std::ifstream in(HivePath(RootKey::kLocalMachine));
  std::string first;
  std::getline(in, first);
  EXPECT_EQ(first, "garbage");
}

TEST(Registry, AChangeThatWouldMakeTheHiveTooLargeIsRefusedAndTheHiveStaysReadable) {
  zv::testing::TempRoot root;
  auto k = Key::Create(RootKey::kLocalMachine, kKey).value();
  ASSERT_TRUE(k.SetDword("Kept", 7).ok());
  // Each value is within the value limit, but escaped they add up to more than a hive holds.
  const std::string big(kMaxValueSize, '%');  // "%25" each in the file
  const size_t count = kMaxHiveFileSize / (3 * kMaxValueSize) + 1;
  Status st = Update(RootKey::kLocalMachine, [&](HiveData& h) {
    for (size_t i = 0; i < count; ++i) {
      Status s = h.Set(kKey, "Big" + std::to_string(i), Value{kRegSz, big});
      if (!s.ok()) return s;
    }
    return Status::Ok();
  });
  EXPECT_EQ(st.code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(k.GetDword("Kept").value(), 7u);
  EXPECT_TRUE(k.SetDword("Kept", 8).ok());
}

TEST(Registry, ChangesOfAnotherProcessAreSeenAtOnce) {
  zv::testing::TempRoot root;
  auto k = Key::Create(RootKey::kLocalMachine, kKey).value();
  int to_child[2], to_parent[2];
  ASSERT_EQ(pipe(to_child), 0);
  ASSERT_EQ(pipe(to_parent), 0);
  pid_t child = fork();
  if (child == 0) {
    auto ck = Key::Open(RootKey::kLocalMachine, kKey);
    bool ok = ck.ok() && ck->SetString("SMTPServer", "mail.example").ok();
    char c = ok ? 'w' : 'f';
    (void)!write(to_parent[1], &c, 1);
    (void)!read(to_child[0], &c, 1);  // parent has changed the value meanwhile
    auto v = ck->GetDword("SMTPPort");
    _exit(v.ok() && *v == 2525 ? 0 : 1);
  }
  char c = 0;
  ASSERT_EQ(read(to_parent[0], &c, 1), 1);
  ASSERT_EQ(c, 'w');
  EXPECT_EQ(k.GetString("SMTPServer").value(), "mail.example");
  ASSERT_TRUE(k.SetDword("SMTPPort", 2525).ok());
  ASSERT_EQ(write(to_child[1], "g", 1), 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int fd : {to_child[0], to_child[1], to_parent[0], to_parent[1]}) close(fd);
  // A hive removed by another hand takes its values with it.
  ASSERT_EQ(::unlink(HivePath(RootKey::kLocalMachine).c_str()), 0);
  EXPECT_FALSE(k.GetString("SMTPServer").ok());
}

Status Increment(HiveData& h) {
  const Value* v = h.Find(kKey, "Counter");
  uint32_t n = 0;
  if (v && v->data.size() == 4) {
    const auto* b = reinterpret_cast<const unsigned char*>(v->data.data());
    n = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
  }
  ++n;
  char b[4] = {static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16), static_cast<char>(n >> 24)};
  return h.Set(kKey, "Counter", Value{kRegDword, std::string(b, 4)});
}

TEST(Registry, TwoProcessesIncrementingOneValueLoseNoUpdate) {
  zv::testing::TempRoot root;
  auto k = Key::Create(RootKey::kLocalMachine, kKey).value();
  ASSERT_TRUE(k.SetString("Other", "kept").ok());
  pid_t kids[2];
  for (pid_t& kid : kids) {
    kid = fork();
    if (kid == 0) {
      for (int i = 0; i < 1000; ++i) {
        if (!Update(RootKey::kLocalMachine, Increment).ok()) _exit(1);
      }
      _exit(0);
    }
  }
  for (pid_t kid : kids) {
    int status = 0;
    waitpid(kid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(k.GetDword("Counter").value(), 2000u);
  EXPECT_EQ(k.GetString("Other").value(), "kept");
  int leftovers = 0;
  for (auto& e : std::filesystem::directory_iterator(root.path() / "registry")) {
    leftovers += e.path().filename().string().find(".tmp") != std::string::npos;
  }
  EXPECT_EQ(leftovers, 0);
}

// A runtime root with a machine-wide folder of its own ($ZELVORA_SYSTEM_CONFIG) holding the
// installer's hive, as every user of an installed machine sees it.
class MachineWide {
 public:
  explicit MachineWide(const zv::testing::TempRoot& root) : folder_(root.str() + "/system") {
    std::filesystem::create_directories(folder_);
    setenv("ZELVORA_SYSTEM_CONFIG", folder_.c_str(), 1);
  }
  ~MachineWide() { unsetenv("ZELVORA_SYSTEM_CONFIG"); }
  void Write(const std::string& text) const { std::ofstream(folder_ + "/machine.reg", std::ios::trunc) << text; }

 private:
  std::string folder_;
};

TEST(Registry, TheMachineHiveIsTheRootsOwnLaidOverTheMachineWideOne) {
  zv::testing::TempRoot root;
  MachineWide system(root);
  system.Write(
      "zelvora-registry 1\n"
      "key \"Software\\Orbelin\\Zelvora\\1.0\"\n"
      "value \"ServerName\" sz \"\\\\SRV%00\"\n"
      "value \"ShareName\" sz \"ZELVORA%00\"\n"
      "key \"Software\\Orbelin\\Zelvora\\1.0\\Only\"\n"
      "value \"Kind\" dword 3\n");
  auto own = Key::Create(RootKey::kLocalMachine, kKey).value();
  ASSERT_TRUE(own.SetString("ShareName", "MINE").ok());
  ASSERT_TRUE(own.SetString("AppPath", "/home/u/app").ok());

  struct Case {
    const char* name;
    const char* want;  // nullptr: missing
  } cases[] = {
      {"ServerName", "\\\\SRV"},    // only machine-wide
      {"ShareName", "MINE"},        // in both: the root's own wins
      {"AppPath", "/home/u/app"},   // only the root's own
      {"Nothing", nullptr},
  };
  for (const auto& c : cases) {
    auto v = own.GetString(c.name);
    if (c.want) {
      EXPECT_EQ(v.value(), c.want) << c.name;
    } else {
      EXPECT_EQ(v.status().code(), Status::Code::kNotFound) << c.name;
    }
  }
  std::vector<std::string> names = own.ValueNames().value();
  EXPECT_EQ(names.size(), 3u);

  // A key only the machine-wide hive has opens and reads; a write gives it a copy of its own.
  auto only = Key::Open(RootKey::kLocalMachine, std::string(kKey) + "\\Only");
  ASSERT_TRUE(only.ok()) << only.status().ToString();
  EXPECT_EQ(own.SubKeyNames().value(), std::vector<std::string>{"Only"});
  EXPECT_EQ(only->GetDword("Kind").value(), 3u);
  ASSERT_TRUE(only->SetDword("Kind", 4).ok());
  EXPECT_EQ(only->GetDword("Kind").value(), 4u);
  std::ifstream machine_wide(SystemHivePath());
  std::string text((std::istreambuf_iterator<char>(machine_wide)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("dword 3"), std::string::npos) << "writes never reach the machine-wide hive";
  EXPECT_EQ(text.find("MINE"), std::string::npos);

  // Deleting the root's own value shows the machine-wide one again; that one cannot go.
  ASSERT_TRUE(own.DeleteValue("ShareName").ok());
  EXPECT_EQ(own.GetString("ShareName").value(), "ZELVORA");
  EXPECT_EQ(own.DeleteValue("ShareName").code(), Status::Code::kNotSupported);
  EXPECT_EQ(own.DeleteValue("Nothing").code(), Status::Code::kNotFound);
  ASSERT_TRUE(own.DeleteSubKey("Only").ok());
  EXPECT_EQ(only->GetDword("Kind").value(), 3u);
  EXPECT_EQ(own.DeleteSubKey("Only").code(), Status::Code::kNotSupported);
  // The user hive has no machine-wide layer.
  EXPECT_EQ(Key::Open(RootKey::kCurrentUser, kKey).status().code(), Status::Code::kNotFound);
}

TEST(Registry, AMissingMachineWideHiveIsAbsentAndADamagedOneIsReported) {
  zv::testing::TempRoot root;
  MachineWide system(root);
  auto own = Key::Create(RootKey::kLocalMachine, kKey).value();
  ASSERT_TRUE(own.SetString("AppPath", "/a").ok());
  EXPECT_EQ(own.GetString("AppPath").value(), "/a");  // no machine-wide hive yet
  std::filesystem::create_directory(SystemHivePath());  // a folder in its place: unreadable
  EXPECT_EQ(own.GetString("AppPath").value(), "/a");
  std::filesystem::remove(SystemHivePath());
  system.Write("zelvora-registry 1\nkey \"A\nvalue\n");
  auto damaged = own.GetString("AppPath");
  EXPECT_EQ(damaged.status().code(), Status::Code::kCorruption);
  EXPECT_NE(damaged.status().message().find(SystemHivePath()), std::string::npos);
}

}  // namespace
}  // namespace zv::registry
