#include "client/answer.h"

#include <gtest/gtest.h>

#include "engine/hevrasto/share_files.h"
#include "engine/rules/request_result.h"
#include "platform/fs/files.h"
#include "platform/testing/temp_root.h"

namespace zv::client {
namespace {

TEST(Answer, ReadsWhatTheEngineWrites) {
  engine::CRequestResult r;
  r.Init();
  r.SetResultMessage(engine::kResultMonoLimit, {"tanaka"});
  r.CheckRange = 4;
  r.LimitDays = 30;
  r.LimitDate = 20260430;
  r.MaxPages = 100;
  r.PageCount = 120;
  r.MaxPages_Color = 50;
  r.PageCount_Color = 10;
  AnswerInfo a = ParseAnswer(r.ComposeResultText(true, true), QuotaState{});
  ASSERT_TRUE(a.complete);
  EXPECT_EQ(a.code, 4);
  EXPECT_EQ(a.title, "Zelvoraサーバ");
  EXPECT_EQ(a.message,
            "モノクロ印刷可能枚数に達しています。\nモノクロ印刷可能枚数を超えた印刷は禁止されています。\ntanaka");
  EXPECT_EQ(a.quota, (QuotaState{kKindDays, 30, 20260430, 100, 120, 50, 10}));
}

TEST(Answer, OnlyTheAnswerCarryingTheRequestsKeyIsRead) {
  zv::testing::TempRoot root;
  const std::string mine = "0123456789abcdef01234567", other = "fedcba9876543210fedcba98";
  auto answer_with = [](const std::string& key, int code) {
    engine::CRequestResult r;
    r.Init();
    r.SetResultMessage(code);
    r.RequestID = key;
    return r.ComposeResultText(true, true);
  };
  const std::string path = root.str() + "/order07-tanaka-PC01.an2";
  struct Case {
    const char* what;
    std::string text;  // "" for no file
    bool keyless;
    bool read;
  } cases[] = {
      {"its own", answer_with(mine, 0), false, true},
      {"a copy left from before the slots wrapped", answer_with(other, 4), false, false},
      {"the same, for a client that reads keyless answers", answer_with(other, 4), true, false},
      {"one without a key another member put there", answer_with("", 0), false, false},
      {"one without a key, read where the engine echoes none", answer_with("", 0), true, true},
      {"no answer yet", "", false, false},
  };
  for (const auto& c : cases) {
    ::unlink(path.c_str());
    if (!c.text.empty()) {
      ASSERT_TRUE(fs::WriteFileAtomic(path, c.text).ok());
    }
    auto got = ReadAnswerOf(path, QuotaState{}, mine, c.keyless);
    EXPECT_EQ(got.has_value(), c.read) << c.what;
    if (got) {
      EXPECT_EQ(got->request_id, c.keyless ? "" : mine) << c.what;
    }
  }
}

TEST(Answer, NoAnswerIsToldOnceTheRequestLeftItsSlotForTheGrace) {
  zv::testing::TempRoot root;
  const std::string folder = root.str(), mine = "0123456789abcdef01234567";
  const std::string sealed = share::SealRequestText("[RequestInfo]\nAccountName=a\n", mine);
  struct Case {
    const char* what;
    std::string text;  // "-": no file
    bool waits;
  } cases[] = {
      {"its request", sealed, true},
      {"its request still being written", sealed.substr(0, 30), true},
      {"another request in the slot", share::SealRequestText("[RequestInfo]\n", "fedcba9876543210fedcba98"), false},
      {"the slot empty", "-", false},
  };
  for (const auto& c : cases) {
    ::unlink((folder + "/order07.lst").c_str());
    if (c.text != "-") {
      ASSERT_TRUE(fs::WriteFileAtomic(folder + "/order07.lst", c.text).ok());
    }
    EXPECT_EQ(RequestWaitsInSlot(folder, "order07", mine), c.waits) << c.what;
  }
  using namespace std::chrono_literals;
  const auto t0 = std::chrono::steady_clock::time_point{} + 1h;
  NoAnswerNotice notice(10s);
  EXPECT_FALSE(notice.Due(true, t0));
  EXPECT_FALSE(notice.Due(false, t0 + 1s));   // gone: the grace starts
  EXPECT_FALSE(notice.Due(false, t0 + 10s));  // 9 s
  EXPECT_TRUE(notice.Due(false, t0 + 11s));
  EXPECT_FALSE(notice.Due(false, t0 + 30s));  // told once
}

TEST(Answer, ParseTable) {
  QuotaState before{kKindMonth, 0, 20260101, 1, 2, 3, 4};
  struct Case {
    const char* what;
    std::string text;
    bool complete;
    int code;
    std::string message;
    QuotaState quota;
  } cases[] = {
      {"no [PrintResult]: not complete, nothing read", "[PrintLimit]\r\nMaxPages=9\r\n", false, 0, "", before},
      {"empty Result: not complete", "[PrintResult]\r\nResult=\r\n", false, 0, "", before},
      {"code 0 reads the normal message",
       "[PrintResult]\r\nResult=0\r\n[NormalMessage]\r\nTitle=t\r\nMessage=a##KAIGYOU_POS##b\r\n[ErrorMessage]\r\n"
       "Message=x\r\n",
       true, 0, "a\nb", before},
      {"a week", "[PrintResult]\r\nResult=8\r\n[PrintLimit]\r\nCheckRange=2\r\n", true, 8, "",
       QuotaState{kKindWeek, 0, 20260101, 1, 2, 3, 4}},
      {"30 days", "[PrintResult]\r\nResult=1\r\n[PrintLimit]\r\nCheckRange=4,030\r\nLimitDate=20260305\r\n", true, 1,
       "", QuotaState{kKindDays, 30, 20260305, 1, 2, 3, 4}},
      {"code 3 and 9 are months, 0 none",
       "[PrintResult]\r\nResult=0\r\n[PrintLimit]\r\nCheckRange=9\r\nMaxPages=0\r\nPageCount=\r\n", true, 0, "",
       QuotaState{kKindMonth, 0, 20260101, 0, 2, 3, 4}},
      {"none", "[PrintResult]\r\nResult=0\r\n[PrintLimit]\r\nCheckRange=0\r\n", true, 0, "",
       QuotaState{kKindNone, 0, 20260101, 1, 2, 3, 4}},
  };
  for (const auto& c : cases) {
    AnswerInfo a = ParseAnswer(c.text, before);
    EXPECT_EQ(a.complete, c.complete) << c.what;
    EXPECT_EQ(a.code, c.code) << c.what;
    EXPECT_EQ(a.message, c.message) << c.what;
    EXPECT_EQ(a.quota, c.quota) << c.what;
  }
}

TEST(Answer, ClientResultTable) {
  struct Case {
    int code;
    std::vector<std::string> extra, want;
  } cases[] = {
      {0, {}, {"印刷が完了しました。"}},
      {0, {"x"}, {"x"}},
      {4, {}, {"印刷可能枚数に達しています。", "印刷可能枚数を超えた印刷は禁止されています。"}},
      {6, {}, {"印刷に失敗しました。"}},
      {6, {"指定されたプリンタを選択できませんでした。", "P1"}, {"指定されたプリンタを選択できませんでした。", "P1"}},
      {7, {}, {"内部エラーが発生しました。", "至急、管理者にご連絡ください。"}},
      {2, {"a"}, {"ユーザ登録されていないため印刷の権限がありません。", "a"}},
  };
  for (const auto& c : cases) {
    ResultMessage m = ClientResultMessage(c.code, c.extra);
    EXPECT_EQ(m.title, "印刷実行");
    EXPECT_EQ(m.lines, c.want) << c.code;
  }
}

TEST(Answer, PeriodTextsWithAFixedToday) {
  const int32_t today = 20260415;  // a Wednesday
  struct Case {
    const char* what;
    QuotaState in;
    std::string want;
    int32_t limit_after;
    int32_t count_after;
  } cases[] = {
      {"none", {kKindNone, 0, 20260430, 10, 5, 10, 5}, "対象期間：無期限", 20260430, 5},
      {"one day", {kKindDay, 0, 20260415, 10, 5, 10, 5}, "対象期間：１日（あと1日間）", 20260415, 5},
      {"month",
       {kKindMonth, 0, 20260430, 10, 5, 10, 5},
       "対象期間：１ヶ月  2026/04/01～2026/04/30 （あと16日間）",
       20260430,
       5},
      {"week ending today",
       {kKindWeek, 0, 20260415, 10, 5, 10, 5},
       "対象期間：１週間  2026/04/09～2026/04/15 （あと1日間）",
       20260415,
       5},
      {"30 days",
       {kKindDays, 30, 20260420, 10, 5, 10, 5},
       "対象期間：30日間  2026/03/22～2026/04/20 （あと6日間）",
       20260420,
       5},
      {"no date yet: the month's end",
       {kKindMonth, 0, 0, 10, 5, 10, 5},
       "対象期間：１ヶ月  2026/04/01～2026/04/30 （あと16日間）",
       20260430,
       5},
      {"no date yet: the week's Saturday",
       {kKindWeek, 0, 1900, 10, 5, 10, 5},
       "対象期間：１週間  2026/04/12～2026/04/18 （あと4日間）",
       20260418,
       5},
      {"no date yet: N days from today",
       {kKindDays, 30, 0, 10, 5, 10, 5},
       "対象期間：30日間  2026/04/15～2026/05/14 （あと30日間）",
       20260514,
       5},
      {"a month several periods old rolls on until current, counts 0",
       {kKindMonth, 0, 20260131, 10, 5, 10, 5},
       "対象期間：１ヶ月  2026/04/01～2026/04/30 （あと16日間）",
       20260430,
       0},
      {"a week that ended yesterday",
       {kKindWeek, 0, 20260414, 10, 5, 10, 5},
       "対象期間：１週間  2026/04/15～2026/04/21 （あと7日間）",
       20260421,
       0},
      {"10 days, long ended",
       {kKindDays, 10, 20260301, 10, 5, 10, 5},
       "対象期間：10日間  2026/04/11～2026/04/20 （あと6日間）",
       20260420,
       0},
  };
  for (auto c : cases) {
    EXPECT_EQ(PeriodStatusText(c.in, today), c.want) << c.what;
    EXPECT_EQ(c.in.limit_date, c.limit_after) << c.what;
    EXPECT_EQ(c.in.page_count, c.count_after) << c.what;
  }
}

TEST(Answer, PagesTexts) {
  struct Case {
    QuotaState q;
    std::string want;
  } cases[] = {
      {{kKindMonth, 0, 0, 100, 120, 50, 10}, "上限まで カラー[40]枚 上限超過 モノクロ[20]枚"},
      {{kKindMonth, 0, 0, 100, 20, 50, 60}, "上限超過 カラー[10]枚 上限まで モノクロ[80]枚"},
      {{kKindMonth, 0, 0, 0, 500, 0, 70}, "印刷可能枚数［無制限］"},
      {{kKindMonth, 0, 0, -1, 5, 10, 5}, "カラー[0]枚　モノクロ[0]枚"},
      {{kKindMonth, 0, 0, 100, 9, 0, 3}, "上限なし カラー[3]枚 上限まで モノクロ[91]枚"},
  };
  for (const auto& c : cases) EXPECT_EQ(PagesStatusText(c.q), c.want);
}

TEST(Answer, PrinterAndRangeCheck) {
  struct Case {
    bool printer, chosen;
    int from, to, total;
    int focus, tab;
  } cases[] = {
      {false, false, 1, 1, 5, 0, 1},  {true, false, 9, 1, 5, 0, -1},  {true, true, 1, 5, 5, 0, -1},
      {true, true, 0, 2, 5, 1022, 2}, {true, true, 6, 6, 5, 1022, 2}, {true, true, 1, 0, 5, 1025, 2},
      {true, true, 1, 6, 5, 1025, 2}, {true, true, 3, 2, 5, 1025, 2},
  };
  for (const auto& c : cases) {
    RangeCheck r = CheckPrinterAndRange(c.printer, c.chosen, c.from, c.to, c.total);
    EXPECT_EQ(r.focus, c.focus) << c.from << "-" << c.to;
    EXPECT_EQ(r.tab, c.tab) << c.from << "-" << c.to;
    const char* want = c.tab == 2 ? "印刷ページ範囲が異常です。" : c.tab == 1 ? "プリンタが存在しません。" : "";
    EXPECT_EQ(r.text, want);
  }
}

TEST(Answer, TimersOfALocalRun) {
  using A = FrameTimers::Action;
  FrameTimers t;
  t.Created();
  EXPECT_EQ(t.Tick(kTimerPrinter, false), (std::vector<A>{A::kQueryPrinter}));
  EXPECT_EQ(t.Tick(kTimerQuota, true), (std::vector<A>{A::kRefreshQuota}));
  EXPECT_TRUE(t.Tick(kTimerQuota, false).empty());
  t.PrintPressed();
  EXPECT_EQ(t.Tick(kTimerStart, false), (std::vector<A>{A::kPostPrintExecute}));
  EXPECT_TRUE(t.Tick(kTimerStart, false).empty());    // posted once
  EXPECT_TRUE(t.Tick(kTimerPrinter, false).empty());  // no printer status during a run
  t.LocalRunStarted();
  EXPECT_EQ(t.Tick(kTimerAnswer, true), (std::vector<A>{A::kPollAnswer, A::kRefreshQuota}));
  t.RunEnded();
  EXPECT_FALSE(t.armed(kTimerAnswer));
  EXPECT_TRUE(t.Tick(kTimerAnswer, false).empty());
  EXPECT_EQ(t.Tick(kTimerPrinter, false), (std::vector<A>{A::kQueryPrinter}));
  t.Closing();
  EXPECT_TRUE(t.Tick(kTimerQuota, true).empty());
}

}  // namespace
}  // namespace zv::client
