#include "engine/rules/request_result.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/testing/temp_root.h"

namespace zv::engine {
namespace {

CRequestResult Result(int code, std::vector<std::string> extra = {}) {
  CRequestResult r;
  r.Init();
  r.CheckRange = 3;
  r.LimitDays = 0;
  r.LimitDate = 20260131;
  r.MaxPages = 50;
  r.PageCount = 12;
  r.MaxPages_Color = 20;
  r.PageCount_Color = 3;
  r.SetResultMessage(code, extra);
  return r;
}

const char kLimit[] =
    "\r\n[PrintLimit]\r\nCheckRange=3\r\nLimitDate=20260131\r\nMaxPages=50\r\nPageCount=12\r\n"
    "MaxPages_Color=20\r\nPageCount_Color=3\r\n";

TEST(RequestResult, AnswerTextsByteForByte) {
  struct Case {
    int code;
    std::vector<std::string> extra;
    bool normal, error;
    std::string message_section;  // between "Result=" line and the limit section
  };
  const std::vector<Case> cases = {
      {0, {}, true, true, "\r\n[NormalMessage]\r\nTitle=Zelvoraサーバ\r\nMessage=印刷が完了しました。\r\n"},
      {0, {}, false, true, ""},
      {4, {}, true, false, ""},
      {4,
       {},
       true,
       true,
       "\r\n[ErrorMessage]\r\nTitle=Zelvoraサーバ\r\nMessage=モノクロ印刷可能枚数に達しています。##KAIGYOU_POS##"
       "モノクロ印刷可能枚数を超えた印刷は禁止されています。\r\n"},
      {6, {"a", "b"}, false, true, "\r\n[ErrorMessage]\r\nTitle=プリントエラー\r\nMessage=a##KAIGYOU_POS##b\r\n"},
      {6, {}, false, true, "\r\n[ErrorMessage]\r\nTitle=プリントエラー\r\nMessage=印刷に失敗しました。\r\n"},
      {1,
       {"[プリンタ名]が指定されていません"},
       false,
       true,
       "\r\n[ErrorMessage]\r\nTitle=Zelvoraサーバ\r\nMessage=印刷依頼情報に不備があります。##KAIGYOU_POS##"
       "[プリンタ名]が指定されていません\r\n"},
      {2,
       {"tanaka"},
       false,
       true,
       "\r\n[ErrorMessage]\r\nTitle=Zelvoraサーバ\r\nMessage=ユーザ登録されていないため印刷の権限がありません。"
       "##KAIGYOU_POS##tanaka\r\n"},
      {3,
       {"P1"},
       false,
       true,
       "\r\n[ErrorMessage]\r\nTitle=Zelvoraサーバ\r\nMessage=指定された[プリンタ]は、管理プリンタではありません。"
       "##KAIGYOU_POS##P1\r\n"},
      {5,
       {},
       false,
       true,
       "\r\n[ErrorMessage]\r\nTitle=Zelvoraサーバ\r\nMessage=印刷ジョブファイルがオープンできませんでした。\r\n"},
      {7, DatabaseErrorLines(), false, true,
       "\r\n[ErrorMessage]\r\nTitle=Zelvoraサーバ\r\nMessage=データベースのアクセスエラーが発生しました。"
       "##KAIGYOU_POS##至急、管理者にご連絡ください。\r\n"},
      {8,
       {},
       false,
       true,
       "\r\n[ErrorMessage]\r\nTitle=Zelvoraサーバ\r\nMessage=印刷中のジョブ名と同一の印刷が行われました。"
       "##KAIGYOU_POS##印刷中の２重印刷は禁止されています。\r\n"},
      {9,
       {},
       false,
       true,
       "\r\n[ErrorMessage]\r\nTitle=Zelvoraサーバ\r\nMessage=カラー印刷可能枚数に達しています。##KAIGYOU_POS##"
       "カラー印刷可能枚数を超えた印刷は禁止されています。\r\n"},
      {42,
       {},
       false,
       true,
       "\r\n[ErrorMessage]\r\nTitle=Zelvoraサーバ\r\nMessage=サーバ側印刷実行部で内部エラーが発生しました。"
       "##KAIGYOU_POS##至急、管理者にご連絡ください。\r\n"},
      // Empty lines are left out; a line break inside a message cannot break the file.
      {6,
       {"a", "", "b\r\nc"},
       false,
       true,
       "\r\n[ErrorMessage]\r\nTitle=プリントエラー\r\nMessage=a##KAIGYOU_POS##b##KAIGYOU_POS##c\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    std::string want = "[PrintResult]\r\nResult=" + std::to_string(c.code) + "\r\n" + c.message_section + kLimit;
    EXPECT_EQ(Result(c.code, c.extra).ComposeResultText(c.normal, c.error), want);
  }
}

TEST(RequestResult, UnsetValuesAndNDayPeriod) {
  CRequestResult r;
  r.Init();
  r.SetResultMessage(2, {"x"});
  EXPECT_EQ(r.ComposeResultText(false, false),
            "[PrintResult]\r\nResult=2\r\n\r\n[PrintLimit]\r\nCheckRange=-1\r\nLimitDate=-1\r\nMaxPages=-1\r\n"
            "PageCount=-1\r\nMaxPages_Color=-1\r\nPageCount_Color=-1\r\n");
  r.CheckRange = 4;
  r.LimitDays = 30;
  EXPECT_NE(r.ComposeResultText(false, false).find("\r\nCheckRange=4,30\r\n"), std::string::npos);
  r.CheckRange = 2;
  EXPECT_NE(r.ComposeResultText(false, false).find("\r\nCheckRange=2\r\n"), std::string::npos);
  // SetResultMessage appends; Init empties.
  r.SetResultMessage(0, {});
  EXPECT_EQ(r.Messages, (std::vector<std::string>{"ユーザ登録されていないため印刷の権限がありません。", "x",
                                                  "印刷が完了しました。"}));
}

TEST(RequestResult, FilesAreWrittenWholeAndFailuresReported) {
  zv::testing::TempRoot root;
  auto r = Result(0);
  const std::string path = root.str() + "/tanaka-PC01.ans";
  ASSERT_TRUE(r.CreateResultFile(path, true, true).ok());
  std::ifstream in(path, std::ios::binary);
  std::stringstream got;
  got << in.rdbuf();
  EXPECT_EQ(got.str(), r.ComposeResultText(true, true));
  size_t files = 0;
  for (auto& e : std::filesystem::directory_iterator(root.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 1u);  // no temporary file left behind
  EXPECT_FALSE(r.CreateResultFile(root.str() + "/missing/x.ans", true, true).ok());
}

TEST(RequestResult, FileNamesArePlain) {
  EXPECT_EQ(*AnswerFileName("tanaka", "PC01"), "tanaka-PC01.ans");
  EXPECT_EQ(*MonitorCopyName("order07", "tanaka", "PC01"), "order07-tanaka-PC01.an2");
  EXPECT_FALSE(AnswerFileName("../x", "PC01").ok());
  EXPECT_FALSE(AnswerFileName("a", "").ok());
  EXPECT_FALSE(MonitorCopyName("order07", "a", "b/c").ok());
}

}  // namespace
}  // namespace zv::engine
