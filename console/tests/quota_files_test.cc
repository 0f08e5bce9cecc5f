#include "console/core/quota_files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/fs/files.h"
#include "platform/spool/folder_spooler.h"
#include "platform/testing/temp_root.h"

namespace zv::console {
namespace {

class RecordingSink : public MessageSink {
 public:
  int Show(const std::string& text, uint32_t style) override {
    shown.push_back(text);
    EXPECT_EQ(style, kStyleError);
    return kIdOk;
  }
  std::vector<std::string> shown;
};

class QuotaFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto key = registry::Key::Create(registry::RootKey::kLocalMachine, "Software\\Orbelin\\Zelvora\\1.0").value();
    ASSERT_TRUE(key.SetString("AppPath", root_.str() + "/app").ok());
    ASSERT_TRUE(key.SetString("ShareDir", "share").ok());
    ASSERT_TRUE(key.SetString("ResultDir", "Result").ok());
    result_ = root_.str() + "/app/share/Result";
    std::filesystem::create_directories(result_);
  }
  std::string Read(const std::string& name) {
    auto t = fs::ReadFile(result_ + "/" + name);
    return t.ok() ? *t : "(missing)";
  }
  testing::TempRoot root_;
  std::string result_;
  CConsoleSettings settings_;
  RecordingSink sink_;
};

TEST_F(QuotaFilesTest, BytesPerMode) {
  const LimitPeriod month = CurrentLimitPeriod(20260415, 3, 0, 20260430, 0);
  const LimitPeriod days = CurrentLimitPeriod(20260415, 4, 10, 20260420, 0);
  const std::string head = "[PrintLimit]\r\nCheckRange=3\r\nLimitDate=20260430\r\n";
  struct Case {
    const char* name;
    QuotaWriteMode mode;
    int32_t color_count, mono_count;
    const LimitPeriod* period;
    const char* file;
    std::string bytes;
  } cases[] = {
      {"tanaka", QuotaWriteMode::kUser, 3, 7, &month, "tanaka-.ans",
       head + "MaxPages=50\r\nPageCount=7\r\nMaxPages_Color=20\r\nPageCount_Color=3\r\n"},
      {"sato", QuotaWriteMode::kCounts, -1, 0, &month, "sato-.ans",
       head + "MaxPages=50\r\nPageCount=0\r\nMaxPages_Color=20\r\nPageCount_Color=\r\n"},
      {"gone", QuotaWriteMode::kCleared, 3, 7, &month, "gone-.ans",
       head + "MaxPages=\r\nPageCount=\r\nMaxPages_Color=\r\nPageCount_Color=\r\n"},
      {"Aperiod", QuotaWriteMode::kPeriod, 0, 0, &days, "Aperiod.prd",
       "[PrintLimit]\r\nCheckRange=4\r\nLimitDate=20260420\r\nLimitDays=10\r\n"},
      // no main window yet: the period from the registry (missing: one month) for today
      {"new", QuotaWriteMode::kUser, 0, 0, nullptr, "new-.ans",
       head + "MaxPages=50\r\nPageCount=0\r\nMaxPages_Color=20\r\nPageCount_Color=0\r\n"},
  };
  for (const auto& c : cases) {
    std::optional<LimitPeriod> period;
    if (c.period) period = *c.period;
    Status s =
        WriteLimitAnswerFiles(settings_, c.name, 20, 50, c.mode, c.color_count, c.mono_count, period, 20260415, &sink_);
    ASSERT_TRUE(s.ok()) << c.name << ": " << s.ToString();
    EXPECT_EQ(Read(c.file), c.bytes) << c.name;
  }
  EXPECT_TRUE(sink_.shown.empty());
}

// An account's quota file is readable by that account alone, as the engine writes it: the
// console runs as root, and a file of root's with mode 0644 would show every user's quota.
// "root" is the one account every machine's NSS knows.
TEST_F(QuotaFilesTest, AnAccountsQuotaFileIsItsOwn) {
  if (::geteuid() != 0) GTEST_SKIP() << "handing files to an account needs root";
  auto key = registry::Key::Open(registry::RootKey::kLocalMachine, "Software\\Orbelin\\Zelvora\\1.0").value();
  struct Case {
    const char* name;
    QuotaWriteMode mode;
    int check;  // -1: "CheckRequestOwner" missing
    const char* file;
    mode_t want;
  } cases[] = {
      {"root", QuotaWriteMode::kUser, -1, "root-.ans", 0600},
      {"ROOT", QuotaWriteMode::kCounts, 1, "ROOT-.ans", 0600},
      {"root", QuotaWriteMode::kUser, 0, "root-.ans", 0644},
      {"zv-no-such-account", QuotaWriteMode::kUser, 1, "zv-no-such-account-.ans", 0644},
      {"Aperiod", QuotaWriteMode::kPeriod, 1, "Aperiod.prd", 0644},
  };
  for (const auto& c : cases) {
    if (c.check < 0) {
      (void)key.DeleteValue("CheckRequestOwner");
    } else {
      ASSERT_TRUE(key.SetDword("CheckRequestOwner", static_cast<uint32_t>(c.check)).ok());
    }
    ASSERT_TRUE(WriteLimitAnswerFiles(settings_, c.name, 20, 50, c.mode, 0, 0, std::nullopt, 20260415, &sink_).ok())
        << c.name;
    struct stat st {};
    ASSERT_EQ(::lstat((result_ + "/" + c.file).c_str(), &st), 0) << c.file;
    EXPECT_EQ(st.st_mode & 07777, c.want) << c.name << " check " << c.check;
    EXPECT_EQ(st.st_uid, 0u) << c.name;
  }
  EXPECT_TRUE(sink_.shown.empty());
}

TEST_F(QuotaFilesTest, LeavesAnswersAloneAndReportsFailuresOnce) {
  ASSERT_TRUE(fs::WriteFileAtomic(result_ + "/tanaka-PC1.ans", "[PrintResult]\r\nResult=0\r\n").ok());
  ASSERT_TRUE(fs::WriteFileAtomic(result_ + "/tanaka2-.ans", "other").ok());
  ASSERT_TRUE(
      WriteLimitAnswerFiles(settings_, "tanaka", 1, 1, QuotaWriteMode::kUser, 0, 0, std::nullopt, 20260415, &sink_)
          .ok());
  EXPECT_EQ(Read("tanaka-PC1.ans"), "[PrintResult]\r\nResult=0\r\n");
  EXPECT_EQ(Read("tanaka2-.ans"), "other");

  for (const std::string bad : {"../x", "a/b", ""}) {
    EXPECT_FALSE(
        WriteLimitAnswerFiles(settings_, bad, 1, 1, QuotaWriteMode::kUser, 0, 0, std::nullopt, 20260415, &sink_).ok())
        << bad;
  }
  EXPECT_EQ(sink_.shown.size(), 3u);
  std::filesystem::remove_all(result_);
  std::filesystem::create_directories(root_.path() / "app/share");
  ASSERT_TRUE(fs::WriteFileAtomic(result_, "a file where the folder should be").ok());
  sink_.shown.clear();
  EXPECT_FALSE(
      WriteLimitAnswerFiles(settings_, "kato", 1, 1, QuotaWriteMode::kUser, 0, 0, std::nullopt, 20260415, &sink_).ok());
  ASSERT_EQ(sink_.shown.size(), 1u);
  EXPECT_EQ(sink_.shown[0], "クォータファイルの書き込みに失敗しました。\n" + result_ + "/kato-.ans");
}

TEST_F(QuotaFilesTest, CandidatePrintersLeaveOutTheVirtualPrinter) {
  for (const std::string name : {"Office A4", "zELVORA", "Color B"}) {
    auto dir = root_.path() / "printers" / std::to_string(std::hash<std::string>{}(name));
    std::filesystem::create_directories(dir);
    ASSERT_TRUE(fs::WriteFileAtomic((dir / "printer.ini").string(), "name=" + name + "\nport=IP_10.0.0.1\n").ok());
  }
  spool::FolderSpooler spooler;
  auto names = ListCandidatePrinters(spooler);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Color B", "Office A4"}));
}

}  // namespace
}  // namespace zv::console
