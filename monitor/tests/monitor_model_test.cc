#include "monitor/core/monitor_model.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "client/config.h"
#include "platform/registry/registry.h"
#include "platform/testing/temp_root.h"

namespace zv::monitor {
namespace {

namespace fs = std::filesystem;

void Write(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}
void SetMtime(const std::string& path, time_t t) {
  struct timespec ts[2] = {{t, 0}, {t, 0}};
  utimensat(AT_FDCWD, path.c_str(), ts, 0);
}

TEST(MonitorHandOver, AcceptsOnlyPlainAnswerNames) {
  struct Case {
    std::string bytes;
    std::optional<std::string> name;
  } cases[] = {
      {std::string("order07-alice-PC1.an2\0", 22), "order07-alice-PC1.an2"},
      {std::string("order07-alice-PC1.ans\0", 22), std::nullopt},
      {std::string("../x.an2\0", 9), std::nullopt},
      {std::string("a/b.an2\0", 8), std::nullopt},
      {std::string(".an2\0", 5), std::nullopt},
      {std::string(128, 'a'), std::nullopt},                         // no terminating zero
      {std::string(123, 'a') + ".an2" + std::string(1, '\0'), "x"},  // 127 bytes
  };
  cases[6].name = std::string(123, 'a') + ".an2";
  for (const Case& c : cases) {
    std::string block = c.bytes;
    block.resize(std::max<size_t>(block.size(), 128), '\0');
    EXPECT_EQ(AnswerNameFromBlock(std::as_bytes(std::span(block.data(), block.size()))), c.name) << c.bytes;
  }
  std::string long_name = std::string(124, 'a') + ".an2";
  long_name.push_back('\0');
  EXPECT_EQ(AnswerNameFromBlock(std::as_bytes(std::span(long_name.data(), long_name.size()))), std::nullopt);
}

TEST(MonitorAnswers, ReadsAndWordsTheAnswer) {
  zv::testing::TempRoot root;
  std::string p = root.str() + "/a.an2";
  struct Case {
    std::string text;
    bool arrived;
    std::string title;
    std::vector<std::string> lines;
  } cases[] = {
      {"[PrintResult]\r\nResult=4\r\n[ErrorMessage]\r\nTitle=印刷制限\r\nMessage=上限です##KAIGYOU_POS##管理者へ\r\n",
       true,
       "印刷制限",
       {"上限です", "管理者へ[4]"}},
      {"[PrintResult]\r\nResult=0\r\n[NormalMessage]\r\nTitle=印刷実行\r\nMessage=印刷しました\r\n[ErrorMessage]\r\n"
       "Title=x\r\n",
       true,
       "印刷実行",
       {"印刷しました"}},
      {"[PrintResult]\r\nResult=\r\n[ErrorMessage]\r\nMessage=x\r\n", false, "", {}},
      {"[ErrorMessage]\r\nMessage=x\r\n", false, "", {}},
  };
  for (const Case& c : cases) {
    Write(p, c.text);
    MonitorAnswer a = ReadAnswer(p);
    EXPECT_EQ(a.arrived, c.arrived) << c.text;
    if (!a.arrived) continue;
    ResultPopupText t = PopupTextFor(a);
    EXPECT_EQ(t.title, c.title);
    EXPECT_EQ(t.lines, c.lines);
  }
  EXPECT_FALSE(ReadAnswer(root.str() + "/missing.an2").arrived);
}

TEST(MonitorAnswers, PollRemovesArrivalsAndDeletesOnlyTheFileRead) {
  zv::testing::TempRoot root;
  std::string silent = root.str() + "/order01-a-PC.an2", loud = root.str() + "/order02-a-PC.an2",
              later = root.str() + "/order03-a-PC.an2";
  Write(silent, "[PrintResult]\r\nResult=0\r\n[NormalMessage]\r\nTitle=t\r\n");
  Write(loud, "[PrintResult]\r\nResult=2\r\n[ErrorMessage]\r\nTitle=t\r\nMessage=m\r\n");
  AnswerQueue q;
  q.Add(silent);
  q.Add(loud);
  q.Add(later);
  std::vector<AnswerQueue::Arrival> shown = q.Poll();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].path, loud);
  EXPECT_FALSE(fs::exists(silent));  // result 0 without a message: removed, no popup
  EXPECT_EQ(q.paths(), std::vector<std::string>{later});

  // A newer answer of the same slot written before the popup closes stays.
  Write(loud, "[PrintResult]\r\nResult=0\r\n[NormalMessage]\r\nTitle=t\r\nMessage=newer answer\r\n");
  SetMtime(loud, time(nullptr) + 5);
  EXPECT_FALSE(DeleteIfUnchanged(loud, shown[0].answer.identity));
  EXPECT_TRUE(fs::exists(loud));
  EXPECT_TRUE(DeleteIfUnchanged(loud, ReadAnswer(loud).identity));
  EXPECT_FALSE(fs::exists(loud));
}

TEST(MonitorAnswers, OnlyTheAnswerCarryingTheRequestsKeyIsShown) {
  // The client passes the request's key behind the name's zero.
  const std::string mine = "0123456789abcdef01234567", other = "fedcba9876543210fedcba98";
  struct KeyCase {
    std::string bytes;
    std::string key;
  } keys[] = {
      {std::string("order07-a-PC.an2\0", 17) + mine + std::string(1, '\0'), mine},
      {std::string("order07-a-PC.an2\0", 17), ""},
      {std::string("order07-a-PC.an2\0", 17) + "not a key" + std::string(1, '\0'), ""},
  };
  for (const KeyCase& c : keys) {
    std::string block = c.bytes;
    block.resize(128, '\0');
    EXPECT_EQ(RequestKeyFromBlock(std::as_bytes(std::span(block.data(), block.size()))), c.key) << c.bytes;
  }
  std::string unended = std::string("order07-a-PC.an2\0", 17) + std::string(111, 'a');
  EXPECT_EQ(RequestKeyFromBlock(std::as_bytes(std::span(unended.data(), unended.size()))), "");

  zv::testing::TempRoot root;
  const std::string copy = root.str() + "/order07-a-PC.an2";
  auto answer = [](const std::string& key, const std::string& message) {
    return "[PrintResult]\r\nResult=4\r\n" + (key.empty() ? "" : "RequestID=" + key + "\r\n") +
           "\r\n[ErrorMessage]\r\nTitle=t\r\nMessage=" + message + "\r\n";
  };
  struct Case {
    const char* what;
    std::string text;
    bool keyless;
    bool shown;
  } cases[] = {
      {"a copy left from before the slots wrapped", answer(other, "old"), false, false},
      {"a copy without a key another member put there", answer("", "forged"), false, false},
      {"the same where keyless answers are read", answer("", "forged"), true, true},
      {"its own", answer(mine, "own"), false, true},
  };
  for (const Case& c : cases) {
    Write(copy, c.text);
    AnswerQueue q;
    q.set_accept_keyless(c.keyless);
    q.Add(copy, mine);
    auto shown = q.Poll();
    EXPECT_EQ(shown.size(), c.shown ? 1u : 0u) << c.what;
    EXPECT_EQ(q.size(), c.shown ? 0u : 1u) << c.what;  // still waited for
    EXPECT_TRUE(fs::exists(copy)) << c.what;           // not this request's: left alone
  }
  // A request handed over without a key (an older client) takes the answer as ever.
  Write(copy, answer(other, "any"));
  AnswerQueue q;
  q.Add(copy);
  EXPECT_EQ(q.Poll().size(), 1u);
}

TEST(MonitorPopup, LayoutFollowsTheMeasuredText) {
  PopupLayout l = LayoutResultPopup(200, 26, 20, 13);
  EXPECT_EQ(l.window_width, 264);
  EXPECT_EQ(l.window_height, 23 + 26 + 84);
  EXPECT_EQ(l.button_x, (264 - 80) / 2);
  EXPECT_EQ(l.button_y, 26 + 44);
  EXPECT_EQ(LayoutResultPopup(10, 13, 20, 13).window_width, 80 + 60);  // the button is wider
}

class MonitorListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    share_ = root_.str() + "/server-share";
    fs::create_directories(share_ + "/PrintInfo");
    fs::create_directories(share_ + "/Result");
    ASSERT_TRUE(client::JoinServer(share_, "SRV", "Zelvora", root_.str() + "/app").ok());
  }
  std::string Request(const std::string& name, const std::string& body, time_t mtime) {
    std::string p = share_ + "/PrintInfo/" + name;
    Write(p, "[RequestInfo]\r\n" + body);
    SetMtime(p, mtime);
    return p;
  }
  zv::testing::TempRoot root_;
  std::string share_;
};

TEST_F(MonitorListTest, ListsTheSlotsOldestFirstWithTheirColumns) {
  time_t t0 = 1700000000;
  Request("order10.lst",
          "JobName=見積書.pdf\r\nAccountName=alice\r\nDeviceName=Office-A4\r\nJobPages=3\r\nPaperSize=9\r\n"
          "ThumbnailCount=1\r\nCopies=2\r\n",
          t0 + 10);
  Request("order02.lst", "JobName=b\r\nPaperSize=-1\r\nThumbnailCount=3\r\n", t0);
  Request("order01.lst", "JobName=c\r\nPaperSize=300\r\nThumbnailCount=7\r\n", t0 + 10);  // same second as order10
  Request("order3.lst", "JobName=short\r\n", t0);                                         // one-digit slot: not listed
  Request("order04.lst.tmp", "JobName=tmp\r\n", t0);
  Write(share_ + "/PrintInfo/order05.lst", "\xff\xfe garbage");
  SetMtime(share_ + "/PrintInfo/order05.lst", t0 + 20);

  RequestList list;
  ListView v = list.Refresh(true);
  ASSERT_EQ(v.rows.size(), 4u);
  EXPECT_EQ(v.count_text, "キューに4個のドキュメント");
  std::vector<std::string> names;
  for (auto& r : v.rows) names.push_back(r[1]);
  EXPECT_EQ(names, (std::vector<std::string>{"b", "c", "見積書.pdf", ""}));
  EXPECT_EQ(v.rows[2],
            (std::vector<std::string>{v.rows[2][0], "見積書.pdf", "alice", "Office-A4", "3", "A4", "2分割", "2"}));
  EXPECT_EQ(v.rows[0][5], "文書の設定用紙");
  EXPECT_EQ(v.rows[0][6], "8分割");
  EXPECT_EQ(v.rows[1][5], "");
  EXPECT_EQ(v.rows[1][6], "");
  EXPECT_EQ(v.rows[0][0].size(), std::string("2023/11/14 22:13:20").size());

  // Paused: nothing listed, count 0.
  ListView paused = list.Refresh(false);
  EXPECT_TRUE(paused.rows.empty());
  EXPECT_EQ(paused.count_text, "キューに0個のドキュメント");
}

TEST_F(MonitorListTest, AMissingRegistryValueIsReportedOnceUntilItComesBack) {
  auto key = registry::Key::Open(registry::RootKey::kLocalMachine, client::kMachineKey);
  ASSERT_TRUE(key.ok());
  ASSERT_TRUE(key->DeleteValue("PrintInfoDir").ok());
  RequestList list;
  EXPECT_EQ(list.Refresh(true).message, kRegistryMissingText);
  EXPECT_EQ(list.Refresh(true).message, "");
  ASSERT_TRUE(key->SetString("PrintInfoDir", "PrintInfo").ok());
  EXPECT_EQ(list.Refresh(true).message, "");
  ASSERT_TRUE(key->DeleteValue("PrintInfoDir").ok());
  EXPECT_EQ(list.Refresh(true).message, kRegistryMissingText);
}

TEST(MonitorSettings, PlacementCycleAndColumnWidths) {
  zv::testing::TempRoot root;
  EXPECT_EQ(ReadPlacement(), Placement{});
  EXPECT_EQ(PollPeriodMs(), 3000);
  EXPECT_EQ(StoredColumnWidths(), std::nullopt);
  auto key = registry::Key::Create(registry::RootKey::kCurrentUser, kSettingsKey);
  ASSERT_TRUE(key.ok());
  ASSERT_TRUE(key->SetDword("Monitor_Cycle", 0).ok());
  EXPECT_EQ(PollPeriodMs(), 3000);
  ASSERT_TRUE(key->SetDword("Monitor_Cycle", 7).ok());
  EXPECT_EQ(PollPeriodMs(), 7000);

  ASSERT_TRUE(SavePlacement({-20, 400, 600, 300}).ok());
  EXPECT_EQ(ReadPlacement(), (Placement{240, 400, 600, 300}));
  ASSERT_TRUE(key->DeleteValue("Monitor_Height").ok());
  EXPECT_EQ(ReadPlacement(), Placement{});

  ASSERT_TRUE(SaveColumnWidths({0, 120, 130, 140, 150, 160, 170, 180}).ok());
  EXPECT_EQ(StoredColumnWidths(), (std::vector<int>{0, 120, 130, 140, 150, 160, 170, 180}));
  ASSERT_TRUE(key->SetDword("Monitor_Col3", 201093785).ok());
  EXPECT_EQ(StoredColumnWidths().value_or(std::vector<int>(8, 0))[3], 100);
  ASSERT_TRUE(key->DeleteValue("Monitor_Col7").ok());
  EXPECT_EQ(StoredColumnWidths(), std::nullopt);
}

}  // namespace
}  // namespace zv::monitor
