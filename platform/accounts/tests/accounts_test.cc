// Accounts through NSS: the test runs under nss_wrapper with the passwd and group files
// beside it, so the machine's own accounts never show.
#include "platform/accounts/accounts.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "platform/testing/temp_root.h"

namespace zv::accounts {
namespace {

std::string WriteLoginDefs(const zv::testing::TempRoot& root, const std::string& text) {
  std::string path = root.str() + "/login.defs";
  std::ofstream(path) << text;
  return path;
}

TEST(Accounts, NormalAccountsWithTheirFullNames) {
  zv::testing::TempRoot root;
  EnumerateOptions o;
  o.login_defs = WriteLoginDefs(root, "# comment\nUID_MIN\t\t 1000\nUID_MAX 60000\nGID_MIN 1000\n");
  auto got = EnumerateAccounts("\\\\localhost", LocalNames(), o);
  ASSERT_TRUE(got.ok()) << got.status().ToString();
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const auto& a : *got) pairs.emplace_back(a.name, a.full_name);
  const std::vector<std::pair<std::string, std::string>> want = {
      {"alice", "Alice Smith"}, {"Bob", "Bob Jones"}, {"carol", ""}, {"tanaka", "田中 太郎"}, {"dave", "Dave"}};
  EXPECT_EQ(pairs, want);

  // The range comes from the file; without full names only the named accounts stay.
  o.login_defs = WriteLoginDefs(root, "UID_MIN 1001\nUID_MAX 1003\n");
  o.keep_empty_full_names = false;
  got = EnumerateAccounts("localhost", LocalNames(), o);
  ASSERT_TRUE(got.ok());
  ASSERT_EQ(got->size(), 2u);
  EXPECT_EQ((*got)[0].name, "Bob");
  EXPECT_EQ((*got)[1].name, "tanaka");
}

TEST(Accounts, FoundByTheirExactNameOrTheirUid) {
  struct Case {
    std::string name;
    bool found;
    uint32_t uid, gid;
  } cases[] = {{"alice", true, 1000, 1000}, {"Bob", true, 1001, 1000}, {"svc", true, 999, 999},
               {"bob", false, 0, 0},        {"", false, 0, 0},         {"nosuch", false, 0, 0}};
  for (const auto& c : cases) {
    auto a = FindAccount(c.name);
    ASSERT_EQ(a.ok(), c.found) << c.name;
    if (!c.found) {
      EXPECT_EQ(a.status().code(), Status::Code::kNotFound) << c.name;
      continue;
    }
    EXPECT_EQ(a->name, c.name);
    EXPECT_EQ(a->uid, c.uid) << c.name;
    EXPECT_EQ(a->gid, c.gid) << c.name;
  }
  auto tanaka = FindAccountByUid(1003);
  ASSERT_TRUE(tanaka.ok());
  EXPECT_EQ(tanaka->name, "tanaka");
  EXPECT_EQ(tanaka->full_name, "田中 太郎");
  EXPECT_EQ(FindAccountByUid(4242).status().code(), Status::Code::kNotFound);
}

TEST(Accounts, UidRangeDefaultsWhereTheFileSaysNothingUsable) {
  zv::testing::TempRoot root;
  struct Case {
    std::string text;
    uint32_t min, max;
  } cases[] = {
      {"", 1000, 60000},
      {"UID_MIN 500\n", 500, 60000},
      {"UID_MIN abc\nUID_MAX 0x100\n", 1000, 256},
      {"#UID_MIN 5\nUID_MAX 99999999999\n", 1000, 60000},
  };
  for (const auto& c : cases) {
    UidRange r = ReadUidRange(WriteLoginDefs(root, c.text));
    EXPECT_EQ(r.min, c.min) << c.text;
    EXPECT_EQ(r.max, c.max) << c.text;
  }
  EXPECT_EQ(ReadUidRange(root.str() + "/missing").min, 1000u);
}

TEST(Accounts, AddressesNameThisMachineOrItsDirectory) {
  EXPECT_EQ(ServerAddress("srv"), "\\\\srv");
  EXPECT_EQ(ServerAddress("\\srv"), "\\\\srv");
  EXPECT_EQ(ServerAddress("\\\\srv"), "\\\\srv");
  EXPECT_EQ(ServerAddress(""), "");

  const std::vector<std::string> names = {"localhost",        "pc7",  "pc7.corp.example.org",
                                          "corp.example.org", "corp", "192.0.2.7"};
  struct Case {
    const char* address;
    bool want;
  } cases[] = {
      {"\\\\PC7", true},
      {"pc7.corp.example.org.", true},
      {"\\CORP", true},
      {"dc1.corp.example.org", true},
      {"192.0.2.7", true},
      {"\\\\other", false},
      {"example.org", false},
      {"xcorp.example.org", false},
      {"", false},
      {"\\\\", false},
  };
  for (const auto& c : cases) EXPECT_EQ(NamesThisMachine(c.address, names), c.want) << c.address;

  // The real machine's own host name always counts; an unknown host never does.
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  EXPECT_TRUE(NamesThisMachine(host, LocalNames()));
  auto unknown = EnumerateAccounts("\\\\no-such-host.invalid", LocalNames());
  EXPECT_EQ(unknown.status().code(), Status::Code::kNotFound);
  EXPECT_EQ(EnumerateAccounts("  ", LocalNames()).status().code(), Status::Code::kInvalidArgument);
}

}  // namespace
}  // namespace zv::accounts
