// Texts of the document-information dialog and the frame's status.
#include "viewer/view/doc_info.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace zv::viewer::view {
namespace {

TEST(DocInfoTest, PaperRuns) {
  const PaperOfPage a4{9, 2100, 2970}, a4l{9 | 0x8000, 2100, 2970}, b5r{13 | 0x4000, 1820, 2570};
  const PaperOfPage c1{256, 1000, 2000}, c2{256, 2000, 1000}, c3{256, 1000, 1000};
  struct Case {
    const char* what;
    std::vector<PaperOfPage> pages;
    const char* want;
  };
  const Case cases[] = {
      {"one page", {a4}, "Ａ４縦 1ページ"},
      {"A4 portrait then landscape", {a4, a4, a4l}, "Ａ４縦 1～2ページ\r\nＡ４横 3ページ"},
      {"rotated B5 between", {a4, b5r, b5r, a4}, "Ａ４縦 1ページ\r\nＢ５縦 縦横変換 2～3ページ\r\nＡ４縦 4ページ"},
      {"custom sizes compare by area", {c1, c2, c3}, "横:100mm 縦200mm  1～2ページ\r\n横:100mm 縦100mm  3ページ"},
      {"no pages", {}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(PaperListText(c.pages), c.want) << c.what;
}

TEST(DocInfoTest, AttachmentsLabelsAndTips) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  // 2024-03-05 07:08 UTC.
  const std::time_t t = 1709622480;
  EXPECT_EQ(AttachmentListText({{"a.txt", 3, t}, {"long-file-name-here.bin", 12345, t}}, true),
            "a.txt          \t3B\t24/03/05 07:08\r\nlong-file-name-here.bin\t12345B\t24/03/05 07:08");
  EXPECT_EQ(AttachmentListText({}, true), "なし");
  EXPECT_EQ(AttachmentListText({{"a.txt", 3, t}}, false), "ﾌﾟﾚﾋﾞｭｰの場合、添付ﾌｧｲﾙは扱いません");
  EXPECT_EQ(StatusText(2), "3頁表示中     ");
  EXPECT_EQ(ScrollTipText(0), "1 ページ");
  EXPECT_EQ(PageTagText(11), "-12-");
  EXPECT_EQ(ZoomLabel(0, 50), "全体");
  EXPECT_EQ(ZoomLabel(3, 150), "150%");
  EXPECT_EQ(ZoomSliderTip(1, 73), "任意倍率変更(73%相当)");
  EXPECT_EQ(ZoomSliderTip(3, 150), "任意倍率変更");
}

}  // namespace
}  // namespace zv::viewer::view
