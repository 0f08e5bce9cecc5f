#include "client/request_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/rules/request_info.h"
#include "platform/fs/files.h"
#include "platform/testing/temp_root.h"

namespace zv::client {
namespace {

RequestOrder Base() {
  RequestOrder o;
  o.account = "tanaka";
  o.machine = "PC01";
  o.job_file = "PC010.prc";
  o.jobs = {{"見積書", 3}};
  o.device = "Office";
  o.paper = 9;
  o.font_point = 10;
  o.font.lfHeight = -13;
  o.font.lfWeight = 400;
  o.font.lfCharSet = 128;
  std::strcpy(o.font.lfFaceName, "\x82\x6c\x82\x72 Gothic");  // "ＭＳ Gothic" in CP932
  o.rotations = {0, 1, 16};
  return o;
}

std::string Expected(const std::string& jobs, const std::string& pages, const std::string& layout,
                     const std::string& range_copies, const std::string& texts, const std::string& rotate) {
  return "[RequestInfo]\nAccountName=tanaka\nMachineName=PC01\nJobFileName=PC010.prc\nJobName=" + jobs +
         "\nJobPages=" + pages + "\n" + layout + "DeviceName=Office\nPaperSize=9\n" + range_copies + texts +
         "FontPoint=10\nLogFont=-13,0,0,0,400,0,0,0,128,0,0,0,0,ＭＳ Gothic\nPrintPageMode=1\nRotate=" + rotate + "\n";
}

TEST(RequestFile, ByteForByte) {
  const std::string plain_layout = "Orientation=1\nThumbnailCount=0\nSeparator=0\nOffsetSize=0,0,1000\n";
  const std::string all_once = "PrintPages=0\nCopies=1\nCollate=0\n";
  const std::string no_texts = "H_Left=\nH_Center=\nH_Right=\nF_Left=\nF_Center=\nF_Right=\n";
  struct Case {
    const char* what;
    void (*change)(RequestOrder&);
    std::string want;
  } cases[] = {
      {"defaults, all pages", [](RequestOrder&) {},
       Expected("見積書", "3", plain_layout, all_once, no_texts, "0,1,16")},
      {"layout, separators, offsets and scale",
       [](RequestOrder& o) {
         o.orientation = 2;
         o.thumbnail = 2;
         o.separator = 3;
         o.offset_left = 23;
         o.offset_top = 333;
         o.scale = 955;
       },
       Expected("見積書", "3", "Orientation=2\nThumbnailCount=2\nSeparator=3\nOffsetSize=23,333,955\n", all_once,
                no_texts, "0,1,16")},
      {"range 2 to 3, copies, collate: the first page of the range turns 0",
       [](RequestOrder& o) {
         o.first_page = 2;
         o.last_page = 3;
         o.copies = 4;
         o.collate = true;
       },
       Expected("見積書", "3", plain_layout, "PrintPages=2,3\nCopies=4\nCollate=1\n", no_texts, "0,16")},
      {"two jobs, header and footer texts",
       [](RequestOrder& o) {
         o.jobs = {{"a", 1}, {"b", 3}};
         o.h_left = "<日付>";
         o.h_center = "社外秘";
         o.f_right = "<ページ>/<総ページ>";
         o.page_mode = 0;
       },
       "[RequestInfo]\nAccountName=tanaka\nMachineName=PC01\nJobFileName=PC010.prc\nJobName=a\\b\nJobPages=1,3\n" +
           plain_layout + "DeviceName=Office\nPaperSize=9\n" + all_once +
           "H_Left=<日付>\nH_Center=社外秘\nH_Right=\nF_Left=\nF_Center=\nF_Right=<ページ>/<総ページ>\n"
           "FontPoint=10\nLogFont=-13,0,0,0,400,0,0,0,128,0,0,0,0,ＭＳ Gothic\nPrintPageMode=0\nRotate=0,1,16,0\n"},
      {"control characters in values, a backslash and an empty job name",
       [](RequestOrder& o) {
         o.jobs = {{"C:\\tmp\\x.txt", 1}, {"", 2}};
         o.h_left = "line1\r\nline2\tend";
         o.device = "Off\nice";
       },
       "[RequestInfo]\nAccountName=tanaka\nMachineName=PC01\nJobFileName=PC010.prc\nJobName=C:￥tmp￥x.txt\\"
       "\"ジョブ名がありません\"\nJobPages=1,2\n" +
           plain_layout + "DeviceName=Off ice\nPaperSize=9\n" + all_once +
           "H_Left=line1  line2 end\nH_Center=\nH_Right=\nF_Left=\nF_Center=\nF_Right=\n"
           "FontPoint=10\nLogFont=-13,0,0,0,400,0,0,0,128,0,0,0,0,ＭＳ Gothic\nPrintPageMode=1\nRotate=0,1,16\n"},
  };
  for (const auto& c : cases) {
    RequestOrder o = Base();
    c.change(o);
    std::string text = ComposeRequestText(o);
    EXPECT_EQ(text, c.want) << c.what;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 25) << c.what;
    EXPECT_EQ(text.find('\r'), std::string::npos) << c.what;
  }
}

TEST(RequestFile, CleaningTable) {
  struct Case {
    std::string in, value, job;
  } cases[] = {
      {"plain", "plain", "plain"},
      {"a\rb\nc\x01\x7f", "a b c  ", "a b c  "},
      {"x\\y", "x\\y", "x￥y"},
      {"", "", "\"ジョブ名がありません\""},
      {"\n", " ", "\"ジョブ名がありません\""},
      {"日本語\\", "日本語\\", "日本語￥"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CleanRequestValue(c.in), c.value) << c.in;
    EXPECT_EQ(CleanJobName(c.in), c.job) << c.in;
  }
}

TEST(RequestFile, RotateTable) {
  struct Case {
    int first, last;
    std::vector<uint16_t> rotations;
    std::string want;
  } cases[] = {
      {0, 0, {0, 0, 0}, "0,0,0"},        // all pages of three, none turned
      {2, 4, {1, 16, 1, 16}, "0,1,16"},  // pages 2 to 4: 0, then pages 3 and 4
      {1, 1, {16}, "0"},
      {3, 2, {1, 1, 1}, ""},    // an empty range
      {1, 3, {0, 1}, "0,1,0"},  // a page without a known value counts 0
  };
  for (const auto& c : cases) {
    RequestOrder o;
    o.jobs = {{"j", 3}};
    o.first_page = c.first;
    o.last_page = c.last;
    o.rotations = c.rotations;
    EXPECT_EQ(RotateText(o), c.want) << c.first << "-" << c.last;
  }
}

TEST(RequestFile, EngineReadsWhatIsWritten) {
  zv::testing::TempRoot root;
  RequestOrder o = Base();
  o.jobs = {{"a", 2}, {"b", 1}};
  o.first_page = 2;
  o.last_page = 3;
  o.offset_left = 15;
  o.offset_top = 25;
  o.scale = 900;
  o.copies = 2;
  const std::string path = root.str() + "/order.lst";
  ASSERT_TRUE(fs::WriteFileAtomic(path, "old content that must not stay\n").ok());
  ASSERT_TRUE(WriteRequestInfo(path, o).ok());
  EXPECT_EQ(*fs::ReadFile(path), ComposeRequestText(o));  // written anew, never appended to
  engine::CRequestInfo info;
  ASSERT_TRUE(info.ReadTopRequest(path, 1).ok());
  EXPECT_EQ(info.AccountName, "tanaka");
  ASSERT_EQ(info.Jobs.size(), 2u);
  EXPECT_EQ(info.Jobs[1].name, "b");
  EXPECT_EQ(info.OffsetX, 15);
  EXPECT_EQ(info.OffsetY, 25);
  EXPECT_EQ(info.OffsetSize, 900);
  EXPECT_EQ(info.AllPages, 0);
  EXPECT_EQ(info.FirstPage, 2);
  EXPECT_EQ(info.LastPage, 3);
  EXPECT_EQ(info.Copies, 2);
  EXPECT_EQ(info.Rotate, "0,16");
}

}  // namespace
}  // namespace zv::client
