#include "platform/eventlog/eventlog.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/testing/temp_root.h"

namespace zv::eventlog {
namespace {

TEST(EventLog, EntriesReadBackWithTheirStrings) {
  zv::testing::TempRoot root;
  EXPECT_TRUE(ReadAll()->empty());
  ASSERT_TRUE(Report("Zelvora Engine", EventType::kInformation, 1, {"実行部が起動しました"}).ok());
  ASSERT_TRUE(Report("Zelvora Service", EventType::kError, 3,
                     {"GetLastError [5] ", "\r\nｻｰﾋﾞｽの登録に失敗しました", "\r\nCZvmDatbase::Open error\tx\\y"})
                  .ok());
  ASSERT_TRUE(Report("Zelvora Engine", EventType::kWarning, 2, {}).ok());
  EXPECT_EQ(Report("", EventType::kError, 1, {"x"}).code(), Status::Code::kInvalidArgument);

  auto events = ReadAll();
  ASSERT_TRUE(events.ok());
  ASSERT_EQ(events->size(), 3u);
  const Event& e = (*events)[1];
  EXPECT_EQ(e.source, "Zelvora Service");
  EXPECT_EQ(e.type, EventType::kError);
  EXPECT_EQ(e.id, 3u);
  EXPECT_EQ(e.pid, static_cast<long>(getpid()));
  EXPECT_EQ(e.strings, (std::vector<std::string>{"GetLastError [5] ", "\r\nｻｰﾋﾞｽの登録に失敗しました",
                                                 "\r\nCZvmDatbase::Open error\tx\\y"}));
  EXPECT_EQ((*events)[2].type, EventType::kWarning);
  EXPECT_TRUE((*events)[2].strings.empty());

  // Three entries, three lines, whatever the strings held.
  std::ifstream in(LogPath());
  int lines = 0;
  for (std::string l; std::getline(in, l);) ++lines;
  EXPECT_EQ(lines, 3);
}

TEST(EventLog, DamagedLinesAreSkippedAndWritersInSeveralProcessesDoNotMix) {
  zv::testing::TempRoot root;
  ASSERT_TRUE(Report("A", EventType::kInformation, 1, {"first"}).ok());
  {
    std::ofstream(LogPath(), std::ios::app)
        << "garbage\n\t\t\n2026\tA\tbogus\t1\t1\n2026\tA\terror\tx\t1\n2026\tA\terror\t1\t1\tbad\\q\n";
  }
  pid_t kids[3];
  const std::string big(5000, 'z');
  for (pid_t& kid : kids) {
    kid = fork();
    if (kid == 0) {
      for (int i = 0; i < 50; ++i) {
        if (!Report("Zelvora Engine", EventType::kError, 2, {big, std::to_string(i)}).ok()) _exit(1);
      }
      _exit(0);
    }
  }
  for (pid_t kid : kids) {
    int status = 0;
    waitpid(kid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto events = ReadAll();
  ASSERT_TRUE(events.ok());
  ASSERT_EQ(events->size(), 151u);
  for (size_t i = 1; i < events->size(); ++i) {
    ASSERT_EQ((*events)[i].strings.size(), 2u);
    EXPECT_EQ((*events)[i].strings[0], big);
  }
}

TEST(EventLog, AnEventThatCouldNotBeWrittenWholeLeavesNoPartOfItsLine) {
  zv::testing::TempRoot root;
  ASSERT_TRUE(Report("A", EventType::kInformation, 1, {"first"}).ok());
  // A file size limit stands in for a full disk: the long event gets only part way.
  struct rlimit old;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  auto* old_handler = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 200;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  Status st = Report("A", EventType::kError, 2, {std::string(1000, 'z')});
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(st.code(), Status::Code::kIOError);
  ASSERT_TRUE(Report("A", EventType::kInformation, 3, {"third"}).ok());
  auto events = ReadAll();
  ASSERT_TRUE(events.ok());
  ASSERT_EQ(events->size(), 2u);
  EXPECT_EQ((*events)[0].id, 1u);
  EXPECT_EQ((*events)[1].id, 3u);
}

// Writers in several processes past the bound: the log is moved aside to numbered files,
// no file goes past the bound by more than a line, only the newest old files are kept, and
// every line of the files kept is whole (the newest events all there).
TEST(EventLog, TheLogIsRotatedBySizeKeepingAFewOldFiles) {
  zv::testing::TempRoot root;
  constexpr uint64_t kBound = 20000;
  SetRotation(kBound, 2);
  const std::string text(300, 'r');
  pid_t kids[3];
  for (int k = 0; k < 3; ++k) {
    kids[k] = fork();
    if (kids[k] == 0) {
      for (int i = 0; i < 100; ++i)
        if (!Report("R", EventType::kInformation, static_cast<uint32_t>(k), {text, std::to_string(i)}).ok()) _exit(1);
      _exit(0);
    }
  }
  for (pid_t kid : kids) {
    int status = 0;
    waitpid(kid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  SetRotation(0, kDefaultKeptFiles);
  size_t lines = 0;
  for (const std::string suffix : {"", ".1", ".2"}) {
    std::ifstream in(LogPath() + suffix);
    ASSERT_TRUE(in.good()) << suffix;
    std::string line;
    uint64_t bytes = 0;
    while (std::getline(in, line)) {
      EXPECT_TRUE(ParseLine(line).ok()) << suffix;
      bytes += line.size() + 1;
      ++lines;
    }
    EXPECT_LE(bytes, kBound) << suffix;
  }
  EXPECT_NE(::access((LogPath() + ".3").c_str(), F_OK), 0);
  EXPECT_LT(lines, 300u);  // the oldest went
  EXPECT_GT(lines, 2 * kBound / 400);
  auto events = ReadAll();
  ASSERT_TRUE(events.ok());
  ASSERT_FALSE(events->empty());
  int last = 0;
  for (const auto& e : *events) last = std::max(last, std::stoi(e.strings[1]));
  EXPECT_EQ(last, 99);
}

}  // namespace
}  // namespace zv::eventlog
