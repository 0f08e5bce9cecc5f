#include "engine/rules/request_info.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "engine/rules/text_util.h"
#include "platform/testing/temp_root.h"

namespace zv::engine {
namespace {

// A complete request as the client writes it (LF line ends).
std::string FullRequest() {
  return "[RequestInfo]\n"
         "AccountName=tanaka\n"
         "MachineName=PC01\n"
         "JobFileName=job0001.prc\n"
         "JobName=見積書.xlsx\\memo\n"
         "JobPages=3,4\n"
         "Orientation=2\n"
         "ThumbnailCount=2\n"
         "Separator=1\n"
         "OffsetSize=10,20,900\n"
         "DeviceName=Office Color\n"
         "PaperSize=9\n"
         "PrintPages=2,5\n"
         "Copies=2\n"
         "Collate=1\n"
         "H_Left=左\n"
         "H_Center=\n"
         "H_Right=r\n"
         "F_Left=fl\n"
         "F_Center=fc\n"
         "F_Right=fr\n"
         "FontPoint=10\n"
         "LogFont=-13,0,0,0,400,0,0,0,128,0,0,0,0,IPAGothic\n"
         "PrintPageMode=0\n"
         "Rotate=0,1,0\n";
}

CRequestInfo Parse(const std::string& text) {
  CRequestInfo r;
  EXPECT_TRUE(r.ParseRequestText(text)) << text;
  return r;
}

TEST(RequestInfo, ReadsEveryKey) {
  CRequestInfo r = Parse(FullRequest());
  EXPECT_EQ(r.AccountName, "tanaka");
  EXPECT_EQ(r.MachineName, "PC01");
  EXPECT_EQ(r.JobFileName, "job0001.prc");
  ASSERT_EQ(r.Jobs.size(), 2u);
  EXPECT_EQ(r.Jobs[0].name, "見積書.xlsx");
  EXPECT_EQ(r.Jobs[0].pages, 3);
  EXPECT_EQ(r.Jobs[1].name, "memo");
  EXPECT_EQ(r.Jobs[1].pages, 4);
  EXPECT_EQ(r.Orientation, 2);
  EXPECT_EQ(r.ThumbnailCount, 2);
  EXPECT_EQ(r.Separator, 1);
  EXPECT_EQ(r.OffsetX, 10);
  EXPECT_EQ(r.OffsetY, 20);
  EXPECT_EQ(r.OffsetSize, 900);
  EXPECT_EQ(r.DeviceName, "Office Color");
  EXPECT_EQ(r.PaperSize, 9);
  EXPECT_EQ(r.AllPages, 0);
  EXPECT_EQ(r.FirstPage, 2);
  EXPECT_EQ(r.LastPage, 5);
  EXPECT_EQ(r.Copies, 2);
  EXPECT_TRUE(r.Collate);
  EXPECT_EQ(r.H_Left, "左");
  EXPECT_EQ(r.H_Center, "");
  EXPECT_EQ(r.F_Right, "fr");
  EXPECT_EQ(r.FontPoint, 10);
  EXPECT_EQ(r.LogFont, "-13,0,0,0,400,0,0,0,128,0,0,0,0,IPAGothic");
  EXPECT_EQ(r.PrintPageMode, 0);
  EXPECT_EQ(r.Rotate, "0,1,0");
}

// One case: lines after the section header, and what they must give.
struct ParseCase {
  const char* name;
  const char* lines;
  std::function<void(const CRequestInfo&)> check;
};

TEST(RequestInfo, NormalisesValues) {
  const std::vector<ParseCase> cases = {
      {"offset with two items zeroes the size", "offsetsize=5,6\n",
       [](const CRequestInfo& r) {
         EXPECT_EQ(r.OffsetX, 5);
         EXPECT_EQ(r.OffsetY, 6);
         EXPECT_EQ(r.OffsetSize, 0);
       }},
      {"more names than counts pairs the shorter", "JobName=a\\b\\c\nJobPages=3,4\n",
       [](const CRequestInfo& r) {
         ASSERT_EQ(r.Jobs.size(), 2u);
         EXPECT_EQ(r.Jobs[1].name, "b");
         EXPECT_EQ(r.Jobs[1].pages, 4);
       }},
      {"reversed range is swapped", "JobName=a\\b\nJobPages=4,3\nPrintPages=7,3\n",
       [](const CRequestInfo& r) {
         EXPECT_EQ(r.FirstPage, 3);
         EXPECT_EQ(r.LastPage, 7);
         EXPECT_EQ(r.AllPages, 0);
       }},
      {"one page", "JobName=a\\b\nJobPages=4,3\nPrintPages=4\n",
       [](const CRequestInfo& r) {
         EXPECT_EQ(r.FirstPage, 4);
         EXPECT_EQ(r.LastPage, 4);
       }},
      {"first page 0 means all", "JobName=a\nJobPages=9\nPrintPages=0,5\n",
       [](const CRequestInfo& r) {
         EXPECT_EQ(r.AllPages, 1);
         EXPECT_EQ(r.FirstPage, 0);
         EXPECT_EQ(r.LastPage, 0);
       }},
      {"range beyond the total is cut", "JobName=a\\b\nJobPages=2,1\nPrintPages=5,9\n",
       [](const CRequestInfo& r) {
         EXPECT_EQ(r.FirstPage, 3);
         EXPECT_EQ(r.LastPage, 3);
         EXPECT_EQ(r.AllPages, 0);
       }},
      {"range without jobs becomes all", "PrintPages=2,3\n",
       [](const CRequestInfo& r) {
         EXPECT_EQ(r.AllPages, 1);
         EXPECT_EQ(r.LastPage, 0);
       }},
      {"negative pages count as none", "JobName=a\nJobPages=-5\nPrintPages=-2,-1\n",
       [](const CRequestInfo& r) {
         EXPECT_EQ(r.Jobs[0].pages, 0);
         EXPECT_EQ(r.AllPages, 1);
       }},
      {"out-of-range numbers", "Copies=0\nOrientation=0\nThumbnailCount=7\nSeparator=-1\nPrintPageMode=2\nCollate=0\n",
       [](const CRequestInfo& r) {
         EXPECT_EQ(r.Copies, 1);
         EXPECT_EQ(r.Orientation, 1);
         EXPECT_EQ(r.ThumbnailCount, 0);
         EXPECT_EQ(r.Separator, 0);
         EXPECT_EQ(r.PrintPageMode, 1);
         EXPECT_FALSE(r.Collate);
       }},
      {"numbers read as far as they are decimal", "PaperSize=  12abc\nCopies=x3\nFontPoint=99999999999\n",
       [](const CRequestInfo& r) {
         EXPECT_EQ(r.PaperSize, 12);
         EXPECT_EQ(r.Copies, 1);
         EXPECT_EQ(r.FontPoint, 2147483647);
       }},
      {"empty value keeps the earlier list", "JobName=a\\b\nJobName=\nJobPages=1,2\n",
       [](const CRequestInfo& r) { EXPECT_EQ(r.Jobs.size(), 2u); }},
      {"last value wins, keys any case, blanks trimmed", "  accountname =x\nACCOUNTNAME=  y z  \n",
       [](const CRequestInfo& r) { EXPECT_EQ(r.AccountName, "y z"); }},
      {"second section header ends the reading", "AccountName=a\n[RequestInfo]\nMachineName=m\n",
       [](const CRequestInfo& r) {
         EXPECT_EQ(r.AccountName, "a");
         EXPECT_EQ(r.MachineName, "");
       }},
      {"other sections and unknown keys are ignored", "[Other]\nFoo=1\nDeviceName=P\r\n",
       [](const CRequestInfo& r) { EXPECT_EQ(r.DeviceName, "P"); }},
      {"list items are trimmed and empty ones dropped", "JobName= a \\\\ b \nJobPages= 1 ,, 2 \n",
       [](const CRequestInfo& r) {
         ASSERT_EQ(r.Jobs.size(), 2u);
         EXPECT_EQ(r.Jobs[0].name, "a");
         EXPECT_EQ(r.Jobs[1].pages, 2);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.check(Parse(std::string("[RequestInfo]\n") + c.lines));
  }
}

TEST(RequestInfo, NeedsTheSectionAndStartsFresh) {
  CRequestInfo r;
  EXPECT_FALSE(r.ParseRequestText("AccountName=a\n"));
  EXPECT_FALSE(r.ParseRequestText(""));
  EXPECT_TRUE(r.ParseRequestText("\xEF\xBB\xBF[RequestInfo]\r\nAccountName=a\r\n"));
  EXPECT_EQ(r.AccountName, "a");
  // Font and rotation of one request never carry into the next.
  ASSERT_TRUE(r.ParseRequestText(FullRequest()));
  ASSERT_TRUE(r.ParseRequestText("[RequestInfo]\nAccountName=b\n"));
  EXPECT_EQ(r.FontPoint, 0);
  EXPECT_EQ(r.LogFont, "");
  EXPECT_EQ(r.Rotate, "");
  EXPECT_EQ(r.AccountName, "b");
}

TEST(RequestInfo, ValidateNamesTheFirstGap) {
  struct Case {
    std::function<void(CRequestInfo&)> change;
    const char* message;
  };
  const std::vector<Case> cases = {
      {[](CRequestInfo& r) {
         r.AccountName.clear();
         r.DeviceName.clear();
       },
       "[依頼者のアカウント名]が指定されていません"},
      {[](CRequestInfo& r) { r.MachineName.clear(); }, "[依頼者のマシン名]が指定されていません"},
      {[](CRequestInfo& r) { r.JobFileName.clear(); }, "[印刷ファイル]が指定されていません"},
      {[](CRequestInfo& r) { r.Jobs.clear(); }, "[印刷ジョブ名]または、[印刷ジョブページ数]が指定されていません"},
      {[](CRequestInfo& r) { r.DeviceName.clear(); }, "[プリンタ名]が指定されていません"},
      {[](CRequestInfo& r) { r.PaperSize = 0; }, "[用紙サイズ]が指定されていません"},
      {[](CRequestInfo& r) { r.AccountName = "../etc"; }, "[依頼者のアカウント名]に使用できない文字が含まれています"},
      {[](CRequestInfo& r) { r.AccountName = "a\\b"; }, "[依頼者のアカウント名]に使用できない文字が含まれています"},
      {[](CRequestInfo& r) { r.AccountName = std::string(101, 'a'); },
       "[依頼者のアカウント名]に使用できない文字が含まれています"},
      {[](CRequestInfo& r) { r.MachineName = "pc/01"; }, "[依頼者のマシン名]に使用できない文字が含まれています"},
      {[](CRequestInfo& r) { r.MachineName = "pc\x01"; }, "[依頼者のマシン名]に使用できない文字が含まれています"},
      {[](CRequestInfo& r) { r.JobFileName = ".."; }, "[印刷ファイル]に使用できない文字が含まれています"},
      {[](CRequestInfo& r) { r.JobFileName = "/tmp/x.prc"; }, "[印刷ファイル]に使用できない文字が含まれています"},
      {[](CRequestInfo& r) { r.Copies = 1000; }, "[部数]は999部までです"},
      {[](CRequestInfo& r) { r.Copies = 2147483647; }, "[部数]は999部までです"},
  };
  std::vector<std::string> messages;
  CRequestInfo ok = Parse(FullRequest());
  EXPECT_TRUE(ok.ValidateRequest(&messages));
  EXPECT_TRUE(messages.empty());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    CRequestInfo r = ok;
    c.change(r);
    messages = {"stale"};
    EXPECT_FALSE(r.ValidateRequest(&messages));
    EXPECT_EQ(messages, std::vector<std::string>{c.message});
  }
}

TEST(RequestInfo, NumbersAreWholeOrTheRequestIsInvalid) {
  struct Case {
    const char* line;     // appended to a valid request: the last value wins
    const char* message;  // "" when the request stays valid
  };
  const Case cases[] = {
      {"Copies=5", ""},
      {"Copies=+5", ""},
      {"OffsetSize=-3,4,100", ""},
      {"PrintPages=1,2", ""},
      {"Copies= 5", "[Copies]の値が整数ではありません:  5"},
      {"Copies=5x", "[Copies]の値が整数ではありません: 5x"},
      {"copies=0x10", "[copies]の値が整数ではありません: 0x10"},
      {"PaperSize=9.0", "[PaperSize]の値が整数ではありません: 9.0"},
      {"FontPoint=-", "[FontPoint]の値が整数ではありません: -"},
      {"JobPages=1,,2", "[JobPages]の値が整数ではありません: 1,,2"},
      {"OffsetSize=1, 2,3", "[OffsetSize]の値が整数ではありません: 1, 2,3"},
      {"PrintPages=1,2,", "[PrintPages]の値が整数ではありません: 1,2,"},
      {"Collate=yes", "[Collate]の値が整数ではありません: yes"},
      {"FontPoint=12\x01\xE3\x81\x82" "456789012345678", "[FontPoint]の値が整数ではありません: 12????4567890123..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    CRequestInfo r = Parse(FullRequest() + c.line + "\n");
    std::vector<std::string> messages;
    EXPECT_EQ(r.ValidateRequest(&messages), std::string(c.message).empty());
    EXPECT_EQ(messages.empty() ? std::string() : messages.front(), c.message);
  }
}

TEST(RequestInfo, ReportListsTheFirst14Keys) {
  std::vector<std::string> lines = {"own line"};
  Parse(FullRequest()).FormatRequestReport(&lines);
  const std::vector<std::string> want = {"own line",
                                         "------------------------------",
                                         "[RequestInfo]",
                                         "AccountName=tanaka",
                                         "MachineName=PC01",
                                         "JobFileName=job0001.prc",
                                         "JobName=見積書.xlsx,memo",
                                         "JobPages=3,4",
                                         "Orientation=2",
                                         "ThumbnailCount=2",
                                         "Separator=1",
                                         "OffSetSize=10,20,900",
                                         "DeviceName=Office Color",
                                         "PaperSize=9",
                                         "PrintPages=2,5",
                                         "Copies=2",
                                         "Collate=1"};
  EXPECT_EQ(lines, want);
}

TEST(RequestInfo, ReadsFilesAndReportsWhyNot) {
  zv::testing::TempRoot root;
  const std::string path = root.str() + "/order07.lst";
  CRequestInfo r;
  Status s = r.ReadTopRequest(path, 2, std::chrono::milliseconds(1));
  EXPECT_EQ(s.code(), Status::Code::kNotFound);
  { std::ofstream(path) << FullRequest(); }
  ASSERT_TRUE(r.ReadTopRequest(path, 1, std::chrono::milliseconds(0)).ok());
  EXPECT_EQ(r.DeviceName, "Office Color");
  { std::ofstream(path) << "no section\n"; }
  EXPECT_EQ(r.ReadTopRequest(path, 1, std::chrono::milliseconds(0)).code(), Status::Code::kInvalidArgument);
  { std::ofstream(path) << "[RequestInfo]\nRotate=" << std::string(kMaxRequestFileBytes, '0') << "\n"; }
  EXPECT_EQ(r.ReadTopRequest(path, 1, std::chrono::milliseconds(0)).code(), Status::Code::kInvalidArgument);
  EXPECT_FALSE(r.ReadTopRequest(root.str(), 1, std::chrono::milliseconds(0)).ok());
}

TEST(TextUtil, SplitJoinAndNumbers) {
  EXPECT_EQ(SplitList("  a , b ,, c  ", ','), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(SplitList("a,,b", ',', true), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(JoinList({"a", "", "b"}, "##"), "a##b");
  EXPECT_EQ(LeadingInt(" -42x"), -42);
  EXPECT_EQ(LeadingInt("-99999999999"), INT32_MIN);
}

}  // namespace
}  // namespace zv::engine
