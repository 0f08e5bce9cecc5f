#include "console/rules/messages.h"

#include <gtest/gtest.h>

#include <vector>

namespace zv::console {
namespace {

class RecordingSink : public MessageSink {
 public:
  int Show(const std::string& text, uint32_t style) override {
    shown.push_back({text, style});
    return answer;
  }
  std::vector<std::pair<std::string, uint32_t>> shown;
  int answer = kIdYes;
};

TEST(Messages, StylesByRowAndOutsideTheTable) {
  for (int i = 0; i < kAppMessageCount; ++i) {
    uint32_t style = 0;
    EXPECT_FALSE(GetAppMessage(i, &style).empty()) << i;
    EXPECT_EQ(style, i <= 4 ? kStyleQuestion : i <= 22 ? kStyleWarning : kStyleError) << i;
  }
  uint32_t style = 77;
  EXPECT_EQ(GetAppMessage(47, &style), "");
  EXPECT_EQ(GetAppMessage(-1, &style), "");
  EXPECT_EQ(style, 77u);
  EXPECT_EQ(GetAppMessage(9, nullptr), "印刷可能枚数の指定に誤りがあります。\n範囲：%3d ～ %3d");

  RecordingSink sink;
  EXPECT_EQ(ShowAppMessage(sink, 47), kIdCancel);
  EXPECT_EQ(ShowAppMessage(sink, -1), kIdCancel);
  EXPECT_TRUE(sink.shown.empty());
  EXPECT_EQ(ShowAppMessage(sink, 1), kIdYes);
  ASSERT_EQ(sink.shown.size(), 1u);
  EXPECT_EQ(sink.shown[0].first, "選択されているユーザを削除しますか？");
  EXPECT_EQ(sink.shown[0].second, kStyleQuestion);
}

TEST(Messages, FillsPlaceholders) {
  EXPECT_EQ(FormatBoundsMessage(9, 1, 32767), "印刷可能枚数の指定に誤りがあります。\n範囲：  1 ～ 32767");
  EXPECT_EQ(FormatBoundsMessage(15, 1, 128), "入力可能文字数を超えています。\n範囲：(半角文字で)  1 ～ 128文字");
  EXPECT_EQ(FormatBoundsMessage(7, 1, 2), "");  // row 7 takes a name, not numbers
  EXPECT_EQ(FormatBoundsMessage(1, 1, 2), "");  // no placeholders
  EXPECT_EQ(FormatTextMessage(7, "山田 %s"), "このアカウントのユーザが既に登録されています。\nユーザ名：山田 %s");
  EXPECT_EQ(FormatTextMessage(12, "2000/01/01", "2099/12/31"),
            "日付の指定に誤りがあります。\n範囲：2000/01/01 ～ 2099/12/31");
  EXPECT_EQ(FormatTextMessage(9, "x"), "");
}

}  // namespace
}  // namespace zv::console
