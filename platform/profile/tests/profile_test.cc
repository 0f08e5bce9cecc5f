#include "platform/profile/profile.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include <gtest/gtest.h>

#include "platform/fs/files.h"
#include "platform/testing/temp_root.h"

namespace zv::profile {
namespace {

const char* kAnswer =
    "; written by the engine\r\n"
    "[PrintResult]\r\n"
    "Result=0\r\n"
    "\r\n"
    "[NormalMessage]\r\n"
    "  Title = Zelvoraサーバ \r\n"
    "Message=\"  印刷が完了しました。 \"\r\n"
    "Quoted='x'\r\n"
    "NoEquals line\r\n"
    "Message=second copy is ignored\r\n"
    "[printlimit]\r\n"
    "MaxPages=-5\r\n"
    "Used=12abc\r\n"
    "Empty=\r\n"
    "Word=abc\r\n"
    "[PrintResult]\r\n"
    "Result=duplicate section is ignored\r\n";

class ProfileTest : public ::testing::Test {
 protected:
  zv::testing::TempRoot root_;
  std::string path_ = root_.str() + "/a.ans";
  void Put(const std::string& text) { ASSERT_TRUE(fs::WriteFileAtomic(path_, text).ok()); }
  std::string Text() { return fs::ReadFile(path_).value(); }
};

TEST_F(ProfileTest, ReadsLikeTheWindowsProfileFunctions) {
  Put(kAnswer);
  struct Case {
    const char *section, *key, *def, *want;
  } cases[] = {
      {"PrintResult", "Result", "", "0"},
      {"printresult", "RESULT", "", "0"},
      {" PrintResult ", " Result ", "", "0"},
      {"NormalMessage", "Title", "", "Zelvoraサーバ"},
      {"NormalMessage", "Message", "", "  印刷が完了しました。 "},
      {"NormalMessage", "Quoted", "", "x"},
      {"NormalMessage", "NoEquals line", "dflt", "dflt"},
      {"PrintLimit", "Empty", "dflt", ""},
      {"PrintLimit", "Missing", "dflt", "dflt"},
      {"Missing", "Result", "dflt", "dflt"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GetString(path_, c.section, c.key, c.def), c.want) << c.section << "/" << c.key;
  }
  EXPECT_EQ(GetString(root_.str() + "/none.ini", "A", "B", "dflt"), "dflt");
  // Windows cuts a value to the buffer size less one.
  EXPECT_EQ(GetString(path_, "NormalMessage", "Title", "", 8), "Zelvora");
  EXPECT_EQ(GetString(path_, "x", "y", "default", 4), "def");
  // "サーバ" is three 3-byte characters: a cut inside the second keeps only the first.
  EXPECT_EQ(GetString(path_, "NormalMessage", "Title", "", 13), "Zelvoraサ");
  EXPECT_EQ(GetString(path_, "NormalMessage", "Title", "", 11), "Zelvoraサ");
  EXPECT_EQ(GetString(path_, "NormalMessage", "Title", "", 10), "Zelvora");

  EXPECT_EQ(GetInt(path_, "PrintLimit", "MaxPages", 7), -5);
  EXPECT_EQ(GetInt(path_, "PrintLimit", "Used", 7), 12);
  EXPECT_EQ(GetInt(path_, "PrintLimit", "Word", 7), 0);
  EXPECT_EQ(GetInt(path_, "PrintLimit", "Empty", 7), 7);
  EXPECT_EQ(GetInt(path_, "PrintLimit", "Missing", 7), 7);

  EXPECT_EQ(GetSectionNames(path_), (std::vector<std::string>{"PrintResult", "NormalMessage", "printlimit"}));
  EXPECT_EQ(GetKeyNames(path_, "NormalMessage"), (std::vector<std::string>{"Title", "Message", "Quoted"}));
  // "Title\0Message\0Quoted\0\0" needs 22 bytes; in 12 the list is cut after 10.
  EXPECT_EQ(GetKeyNames(path_, "NormalMessage", 12), (std::vector<std::string>{"Title", "Mess"}));
  EXPECT_EQ(GetKeyNames(path_, "NormalMessage", 22).size(), 3u);
  KeyValues limit = GetSection(path_, "PRINTLIMIT");
  ASSERT_EQ(limit.size(), 4u);
  EXPECT_EQ(limit[0], (std::pair<std::string, std::string>{"MaxPages", "-5"}));
}

TEST_F(ProfileTest, WritesInPlaceAndKeepsEverythingElse) {
  Put(kAnswer);
  ASSERT_TRUE(WriteString(path_, "printresult", "result", "3").ok());
  ASSERT_TRUE(WriteString(path_, "PrintResult", "Code", "7").ok());
  ASSERT_TRUE(WriteString(path_, "New", "Key", "v").ok());
  ASSERT_TRUE(DeleteKey(path_, "NormalMessage", "Quoted").ok());
  ASSERT_TRUE(DeleteSection(path_, "PrintLimit").ok());
  EXPECT_EQ(Text(),
            "; written by the engine\r\n"
            "[PrintResult]\r\n"
            "result=3\r\n"
            "Code=7\r\n"
            "\r\n"
            "[NormalMessage]\r\n"
            "  Title = Zelvoraサーバ \r\n"
            "Message=\"  印刷が完了しました。 \"\r\n"
            "NoEquals line\r\n"
            "Message=second copy is ignored\r\n"
            "[PrintResult]\r\n"
            "Result=duplicate section is ignored\r\n"
            "[New]\r\n"
            "Key=v\r\n");
  // Deleting what is not there changes nothing and creates no file.
  ASSERT_TRUE(DeleteKey(path_, "Nope", "x").ok());
  ASSERT_TRUE(DeleteSection(root_.str() + "/missing.ini", "x").ok());
  EXPECT_FALSE(std::filesystem::exists(root_.path() / "missing.ini"));
}

TEST_F(ProfileTest, LineEndsAreTheFilesOwnOrTheCallers) {
  const std::string lf = root_.str() + "/lf.ini", fresh = root_.str() + "/new.ini", crlf = root_.str() + "/c.ini";
  ASSERT_TRUE(fs::WriteFileAtomic(lf, "[A]\nx=1\n").ok());
  ASSERT_TRUE(WriteString(lf, "A", "y", "2").ok());
  EXPECT_EQ(fs::ReadFile(lf).value(), "[A]\nx=1\ny=2\n");
  ASSERT_TRUE(WriteString(fresh, "RequestInfo", "AccountName", "taro").ok());
  EXPECT_EQ(fs::ReadFile(fresh).value(), "[RequestInfo]\r\nAccountName=taro\r\n");
  ASSERT_TRUE(WriteString(crlf, "A", "x", "1", LineEnd::kLf).ok());
  EXPECT_EQ(fs::ReadFile(crlf).value(), "[A]\nx=1\n");
  ASSERT_TRUE(WriteSection(crlf, "PrintLimit", {{"CheckRange", "3"}, {"LimitDate", "20261231"}}, LineEnd::kCrLf).ok());
  ASSERT_TRUE(WriteSection(crlf, "A", {{"z", "9"}}).ok());
  EXPECT_EQ(fs::ReadFile(crlf).value(), "[A]\r\nz=9\r\n[PrintLimit]\r\nCheckRange=3\r\nLimitDate=20261231\r\n");
}

TEST_F(ProfileTest, RefusesWritesThatWouldForgeLines) {
  Put("[A]\r\nx=1\r\n");
  for (auto [sec, key, val] : std::vector<std::tuple<std::string, std::string, std::string>>{{"A", "k", "1\r\n[Evil]"},
                                                                                             {"A", "k\n", "1"},
                                                                                             {"A", "k=j", "1"},
                                                                                             {"A", "[k", "1"},
                                                                                             {"A", "", "1"},
                                                                                             {"A]x", "k", "1"},
                                                                                             {"", "k", "1"},
                                                                                             {"A\n", "k", "1"}}) {
    EXPECT_EQ(WriteString(path_, sec, key, val).code(), Status::Code::kInvalidArgument) << sec << "/" << key;
  }
  EXPECT_EQ(Text(), "[A]\r\nx=1\r\n");
}

TEST_F(ProfileTest, KeepsTheFileModeAndAByteOrderMark) {
  Put("\xEF\xBB\xBF[A]\nx=1\n");
  ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
  EXPECT_EQ(GetString(path_, "A", "x", ""), "1");
  ASSERT_TRUE(WriteString(path_, "A", "x", "2").ok());
  EXPECT_EQ(Text(), "\xEF\xBB\xBF[A]\nx=2\n");
  struct stat st;
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(ProfileTest, ConcurrentWritersInTwoProcessesLoseNoKey) {
  // The second writer names the file by the same path, or through a linked folder.
  std::filesystem::create_directory_symlink(root_.str(), root_.str() + "/link");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {root_.str() + "/same.ini", root_.str() + "/same.ini"},
      {root_.str() + "/linked.ini", root_.str() + "/link/linked.ini"},
  };
  for (const auto& [first, second] : cases) {
    pid_t kids[2];
    for (int k = 0; k < 2; ++k) {
      kids[k] = fork();
      if (kids[k] == 0) {
        const std::string& path = k == 0 ? first : second;
        for (int i = 0; i < 100; ++i) {
          if (!WriteString(path, "S", "p" + std::to_string(k) + "_" + std::to_string(i), "v").ok()) _exit(1);
        }
        _exit(0);
      }
    }
    for (pid_t kid : kids) {
      int status = 0;
      waitpid(kid, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(GetKeyNames(first, "S").size(), 200u) << second;
  }
}

TEST(IniDocument, AnyTextParsesAndWritesBackAsItWas) {
  std::mt19937 rng(5);
  const char alphabet[] = {'[', ']', '=', ';', ' ', '\t', '\n', 'a', 'B', '"', '\'', '\0', '\xe3'};
  for (int i = 0; i < 2000; ++i) {
    std::string t;
    for (int n = static_cast<int>(rng() % 60); n > 0; --n) t += alphabet[rng() % sizeof alphabet];
    IniDocument d = IniDocument::Parse(t);
    for (const auto& s : d.SectionNames()) {
      for (const auto& k : d.KeyNames(s)) EXPECT_TRUE(d.Get(s, k).has_value());
    }
    // Lines are kept byte for byte; only line ends may change.
    std::string lf = d.Serialize(LineEnd::kLf);
    EXPECT_EQ(IniDocument::Parse(lf).Serialize(LineEnd::kLf), lf);
    EXPECT_TRUE(d.Set("Sec", "Key", "v").ok());
    EXPECT_EQ(d.Get("sec", "key").value_or("?"), "v");
  }
}

}  // namespace
}  // namespace zv::profile
