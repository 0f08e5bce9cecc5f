#include "client/app/start_args.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "client/client_doc.h"
#include "platform/testing/temp_root.h"

namespace zv::client::app {
namespace {

TEST(StartArgsTest, CommandLineTable) {
  const std::string none = kNoJobNameText;
  struct Case {
    std::vector<std::string> args;
    std::string path, name, option = "";
  } cases[] = {
      {{"/r/WXQ1.tmp", "/n", "Report"}, "/r/WXQ1.tmp", "Report"},
      {{"/r/WXQ1.tmp", "/n"}, "/r/WXQ1.tmp", ""},
      {{"/r/WXQ1.tmp", "/n", ""}, "/r/WXQ1.tmp", none},
      {{"/r/WXQ1.tmp", "/n", "   "}, "/r/WXQ1.tmp", none},
      {{"/r/a.prc", "-N", "first", "second"}, "/r/a.prc", "second"},
      {{"/r/a.prc", "/N", "  padded  "}, "/r/a.prc", "padded"},
      // After the name switch nothing is a switch any more.
      {{"/n", "x", "-P", "/r/b.prc"}, "", "/r/b.prc"},
      {{"-d", "/r/a.prc", "-p", "/r/b.prc"}, "/r/b.prc", ""},
      // Absolute paths are never switches; only two-character ones are.
      {{"/home/u/WXQ1.tmp"}, "/home/u/WXQ1.tmp", ""},
      {{"/x", "-y", "/tmp"}, "/tmp", ""},
      {{"/r/with blank/a.prc", "/n", "a b"}, "/r/with blank/a.prc", "a b"},
      {{}, "", ""},
      // Two-dash options are never paths; after the name switch they are titles.
      {{"--help"}, "", "", "--help"},
      {{"/r/a.prc", "--bogus", "--help"}, "/r/a.prc", "", "--bogus"},
      {{"/r/a.prc", "/n", "--help"}, "/r/a.prc", "--help"},
      {{"--", "/r/a.prc"}, "/r/a.prc", ""},
  };
  for (const auto& c : cases) {
    StartArgs a = ParseStartArguments(c.args);
    EXPECT_EQ(a.doc_path, c.path) << ::testing::PrintToString(c.args);
    EXPECT_EQ(a.job_name, c.name) << ::testing::PrintToString(c.args);
    EXPECT_EQ(a.option, c.option) << ::testing::PrintToString(c.args);
  }
}

TEST(StartArgsTest, CopyDataTable) {
  const std::string none = kNoJobNameText;
  struct Case {
    std::string text, path, title;
  } cases[] = {
      {"/r/tmp/WXQ1.tmp /n \"Report\" ", "/r/tmp/WXQ1.tmp", "Report"},
      {std::string("/r/tmp/WXQ1.tmp /n \"Report\" \0", 28), "/r/tmp/WXQ1.tmp", "Report"},
      {std::string("/r/tmp/WXQ1.tmp /n \"Report\" \0/etc/x /n \"Other\"", 46), "/r/tmp/WXQ1.tmp", "Report"},
      {"/r/my docs/WXQ1.tmp /n \"a \"quoted\" title\" ", "/r/my docs/WXQ1.tmp", "a \"quoted\" title"},
      {"/r/a /n \"b\"/WXQ1.tmp /n \"T\" ", "/r/a /n \"b\"/WXQ1.tmp", "T"},
      {"/r/tmp/WXQ1.tmp /n \"\" ", "/r/tmp/WXQ1.tmp", none},
      {"/r/tmp/WXQ1.tmp /n title", "/r/tmp/WXQ1.tmp", none},
      {"  /r/tmp/WXQ1.tmp  ", "/r/tmp/WXQ1.tmp", none},
  };
  for (const auto& c : cases) {
    CopyDataJob j = ParseCopyData(c.text);
    EXPECT_EQ(j.path, c.path) << c.text;
    EXPECT_EQ(j.title, c.title) << c.text;
  }
  CopyDataJob back = ParseCopyData(FormatCopyData("/r/a b/WXQ2.tmp", "x \"y\""));
  EXPECT_EQ(back.path, "/r/a b/WXQ2.tmp");
  EXPECT_EQ(back.title, "x \"y\"");
}

TEST(StartArgsTest, CaptureFolderMembership) {
  zv::testing::TempRoot root;
  const std::string tmp = root.str() + "/tmp";
  std::filesystem::create_directories(tmp + "/sub");
  std::filesystem::create_directory_symlink(tmp, root.str() + "/link");
  struct Case {
    std::string path;
    bool inside;
  } cases[] = {
      {tmp + "/WXQ1.tmp", true},
      {tmp + "/sub/../WXQ1.tmp", true},
      {root.str() + "/link/WXQ1.tmp", true},
      {tmp + "/sub/WXQ1.tmp", false},
      {root.str() + "/WXQ1.tmp", false},
      {tmp + "/../WXQ1.tmp", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsInCaptureFolder(c.path, tmp), c.inside) << c.path;
  EXPECT_FALSE(IsInCaptureFolder(tmp + "/WXQ1.tmp", ""));
}

TEST(StartArgsTest, LogOutputFromTheTraceKeyThenTheProductKey) {
  class Settings : public jobdoc::MachineSettings {
   public:
    std::map<std::string, std::string> values;
    Result<std::string> ReadString(std::string_view key, std::string_view name) const override {
      auto it = values.find(std::string(key) + "|" + std::string(name));
      if (it == values.end()) return Status::NotFound("no value");
      return it->second;
    }
  };
  const std::string trace_key = std::string(jobdoc::kSettingsKeyPath) + "|LogOutput";
  const std::string product_key = std::string(kProductKey) + "|LogOutput";
  struct Case {
    std::map<std::string, std::string> values;
    bool on;
  } cases[] = {
      {{}, false},
      {{{trace_key, "ON"}}, true},
      {{{product_key, "ON"}}, true},
      {{{product_key, "on"}}, false},                      // the comparison is exact
      {{{trace_key, "OFF"}, {product_key, "ON"}}, false},  // the trace log's own key comes first
  };
  for (const auto& c : cases) {
    Settings s;
    s.values = c.values;
    EXPECT_EQ(ReadLogOutput(s), c.on);
  }
}

TEST(StartArgsTest, OutputNamesFromTitles) {
  struct Case {
    std::string title, name;
  } cases[] = {
      {"Report", "Report"},
      {"a/b\\c", "a／b＼c"},
      {"../../etc/passwd", "..／..／etc／passwd"},
      {std::string("x\ny\x01z\x7f", 6), "xyz"},
      {"", "Tarvessa"},
      {"..", "Tarvessa"},
      {"\n\t", "Tarvessa"},
      {"見積書", "見積書"},
  };
  for (const auto& c : cases) {
    std::string n = SafeOutputBaseName(c.title);
    EXPECT_EQ(n, c.name) << c.title;
    EXPECT_EQ(n.find('/'), std::string::npos);
  }
}

TEST(StartArgsTest, JobRowsFollowPageEdits) {
  // Rows of 3, 2 and 4 pages: pages 0-2, 3-4, 5-8.
  auto make = [] {
    JobList l;
    l.Add("a", 3);
    l.Add("b", 2);
    l.Add("c", 4);
    return l;
  };
  auto counts = [](const JobList& l) {
    std::vector<int> v;
    for (const auto& r : l.rows()) v.push_back(r.pages);
    return v;
  };
  struct Case {
    const char* what;
    std::function<void(JobList&)> edit;
    std::vector<int> pages;
  } cases[] = {
      {"insert into a", [](JobList& l) { l.PagesInsertedInRow(0, 1); }, {4, 2, 4}},
      {"insert into b", [](JobList& l) { l.PagesInsertedInRow(1, 1); }, {3, 3, 4}},
      {"insert two into c", [](JobList& l) { l.PagesInsertedInRow(2, 2); }, {3, 2, 6}},
      {"insert into no such row", [](JobList& l) { l.PagesInsertedInRow(3, 1); }, {3, 2, 4}},
      {"remove b's first page", [](JobList& l) { l.PagesRemoved(3, 1); }, {3, 1, 4}},
      {"remove all of b", [](JobList& l) { l.PagesRemoved(3, 2); }, {3, 4}},
      {"remove across rows", [](JobList& l) { l.PagesRemoved(2, 3); }, {2, 4}},
      {"remove beyond the end", [](JobList& l) { l.PagesRemoved(8, 5); }, {3, 2, 3}},
      {"move c up", [](JobList& l) { EXPECT_TRUE(l.Move(2, true)); }, {3, 4, 2}},
      {"move a up (no row above)", [](JobList& l) { EXPECT_FALSE(l.Move(0, true)); }, {3, 2, 4}},
      {"move c down (no row below)", [](JobList& l) { EXPECT_FALSE(l.Move(2, false)); }, {3, 2, 4}},
  };
  for (const auto& c : cases) {
    JobList l = make();
    c.edit(l);
    EXPECT_EQ(counts(l), c.pages) << c.what;
  }
  JobList l = make();
  EXPECT_EQ(l.FirstPage(2), 5);
  EXPECT_EQ(l.RowOfPage(4), 1);
  EXPECT_EQ(l.RowOfPage(9), -1);
  EXPECT_EQ(l.TotalPages(), 9);
}

}  // namespace
}  // namespace zv::client::app
