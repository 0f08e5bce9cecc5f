#include "engine/core/answer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/core/request_check.h"
#include "engine/tests/engine_fixture.h"
#include "platform/fs/files.h"

namespace zv::engine {
namespace {

class AnswerTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    ASSERT_TRUE(key_->SetDword("LimitDate", 20260430).ok());
    ASSERT_TRUE(key_->SetDword("DispMessage", 3).ok());
    Sql("INSERT INTO Main (UID,Account,GID,CountShubetsu,Used) VALUES (1,'tanaka',0,1,1)");
    Sql("INSERT INTO Printers (PID,PrinterName,Ptype,Used) VALUES (1,'Mono',0,1)");
    Sql("INSERT INTO PrintLog (ID,UID,PID,PDate,PTime,Pages,Ptype) VALUES (1,1,1,?,?,12,0),(2,1,1,?,?,3,1)",
        {odbc::Date{2026, 4, 2}, odbc::Time{9, 0, 0}, odbc::Date{2026, 4, 3}, odbc::Time{9, 0, 0}});
    Load(20260415);
  }
  CRequestInfo Request(const std::string& account) {
    CRequestInfo r;
    EXPECT_TRUE(r.ParseRequestText("[RequestInfo]\nAccountName=" + account +
                                   "\nMachineName=PC01\nJobFileName=j.prc\nJobName=a\nJobPages=1\n"
                                   "DeviceName=Mono\nPaperSize=9\n"));
    return r;
  }
  std::string Read(const std::string& name) {
    auto t = fs::ReadFile(settings_.ResultPath + "/" + name);
    return t.ok() ? *t : "(missing)";
  }
};

TEST_F(AnswerTest, PrintedJobGetsItsTotals) {
  CRequestInfo request = Request("tanaka");
  CRequestResult result;
  result.Init();
  RequestCheck check(settings_, nullptr);
  ASSERT_EQ(check.Run(request, result), CheckStep::kPassed);
  ASSERT_TRUE(WriteResult(settings_, request, result, check.user(), "order07").ok());
  const std::string want =
      "[PrintResult]\r\nResult=0\r\n\r\n[NormalMessage]\r\nTitle=Zelvoraサーバ\r\nMessage=印刷が完了しました。\r\n"
      "\r\n[PrintLimit]\r\nCheckRange=3\r\nLimitDate=20260430\r\nMaxPages=50\r\nPageCount=12\r\n"
      "MaxPages_Color=20\r\nPageCount_Color=3\r\n";
  EXPECT_EQ(Read("tanaka-PC01.ans"), want);
  EXPECT_EQ(Read("order07-tanaka-PC01.an2"), want);
  // The account's quota file beside it: the same [PrintLimit] section.
  EXPECT_EQ(Read("tanaka-.ans"), want.substr(want.find("[PrintLimit]")));
}

TEST_F(AnswerTest, UnknownUserGetsTheSettingsPeriod) {
  CRequestInfo request = Request("nobody");
  CRequestResult result;
  result.Init();
  RequestCheck check(settings_, nullptr);
  ASSERT_EQ(check.Run(request, result), CheckStep::kRefused);
  ASSERT_TRUE(WriteResult(settings_, request, result, check.user(), "order01").ok());
  EXPECT_EQ(
      Read("nobody-PC01.ans"),
      "[PrintResult]\r\nResult=2\r\n\r\n[ErrorMessage]\r\nTitle=Zelvoraサーバ\r\nMessage=ユーザ登録されていないため"
      "印刷の権限がありません。##KAIGYOU_POS##nobody\r\n\r\n[PrintLimit]\r\nCheckRange=3\r\nLimitDate=20260430\r\n"
      "MaxPages=-1\r\nPageCount=-1\r\nMaxPages_Color=-1\r\nPageCount_Color=-1\r\n");
  EXPECT_EQ(Read("nobody-.ans"), "(missing)");  // no quota values: no quota file
}

TEST_F(AnswerTest, FailedWritesAreReported) {
  CRequestInfo request = Request("tanaka");
  CRequestResult result;
  result.Init();
  result.SetResultMessage(kResultPrintFailed);
  size_t before = Events().size();
  EXPECT_FALSE(WriteResult(settings_, request, result, UserRecord(), "../order01").ok());
  std::filesystem::remove_all(settings_.ResultPath);
  EXPECT_FALSE(WriteResult(settings_, request, result, UserRecord(), "order01").ok());
  request.AccountName = "a/b";
  EXPECT_FALSE(WriteResult(settings_, request, result, UserRecord(), "order01").ok());
  auto events = Events();
  ASSERT_EQ(events.size(), before + 3);
  EXPECT_EQ(events.back().strings[1], "\r\n印刷依頼処理ｽﾚｯﾄﾞｴﾗｰ");
  EXPECT_FALSE(std::filesystem::exists(root_.path() / "app/share/order01-tanaka-PC01.an2"));
}

}  // namespace
}  // namespace zv::engine
