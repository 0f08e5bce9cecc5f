#include "console/rules/user_list.h"

#include <gtest/gtest.h>

namespace zv::console {
namespace {

UserPageRow Row(int uid, const std::string& account, int16_t kind, int mono = 0, int color = 0,
                std::vector<PrinterPageSum> cells = {}) {
  UserPageRow r;
  r.UID = uid;
  r.Account = account;
  r.UserName = "n" + account;
  r.CountShubetsu = kind;
  r.MaxPages = mono;
  r.MaxPages_Color = color;
  r.PrinterSums = std::move(cells);
  return r;
}

std::vector<std::string> Accounts(const std::vector<UserPageRow>& rows) {
  std::vector<std::string> a;
  for (const auto& r : rows) a.push_back(r.Account);
  return a;
}

TEST(UserList, CellsAndTotals) {
  LimitContext ctx;  // system limits missing: 50 and 20
  ctx.group = {100, 0};
  const std::vector<int32_t> printers{3, 7};
  std::vector<UserPageRow> rows{Row(1, "sys", 1, 0, 0, {{7, 4, 2, 1}, {3, 5, 1, 0}}), Row(2, "grp", 2),
                                Row(3, "none", 0), Row(4, "own", 3, 1234, 12345)};
  CompletePrinterCells(&rows, printers);
  ASSERT_EQ(rows[0].PrinterSums.size(), 2u);
  EXPECT_EQ(rows[0].PrinterSums[0].PID, 3);
  EXPECT_EQ(rows[1].PrinterSums, (std::vector<PrinterPageSum>{{3, 0, 0, 0}, {7, 0, 0, 0}}));
  struct Case {
    size_t row;
    int column;
    const char* text;
  } cases[] = {
      {0, 0, "sys"},    {0, 1, "nsys"},   {0, 2, "  20枚"},  {0, 3, "  50枚"}, {0, 4, "   4枚/   5枚(  3件)"},
      {0, 5, "   5枚"}, {0, 6, "   4枚"}, {1, 2, "無制限"},  {1, 3, " 100枚"}, {2, 2, "無制限"},
      {2, 3, "無制限"}, {2, 5, "   0枚"}, {3, 2, "12345枚"}, {3, 3, "1234枚"}, {3, 7, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UserCellText(rows[c.row], c.column, ctx, printers), c.text) << c.row << "," << c.column;
  }
  EXPECT_EQ(ColumnWidth({}, 3), 100);
  EXPECT_EQ(ColumnWidth({80, 90}, 1), 90);
  EXPECT_EQ(ColumnWidth({80, 90}, 5), 90);
  EXPECT_EQ(UserColumnTitles({"P1"}).back(), "P1");
}

TEST(UserList, SortKeysTiesAndDirection) {
  LimitContext ctx;
  const std::vector<int32_t> printers{3};
  auto make = [&] {
    std::vector<UserPageRow> rows{Row(1, "beta", 3, 10, 5, {{3, 6, 1, 0}}), Row(2, "Alpha", 1, 0, 0, {{3, 2, 1, 0}}),
                                  Row(3, "gamma", 0, 0, 0, {{3, 6, 1, 0}}), Row(4, "delta", 3, 50, 1, {})};
    CompletePrinterCells(&rows, printers);
    return rows;
  };
  struct Case {
    int column;
    bool descending;
    std::vector<std::string> want;
  } cases[] = {
      {0, false, {"Alpha", "beta", "delta", "gamma"}},
      {0, true, {"gamma", "delta", "beta", "Alpha"}},
      {2, false, {"gamma", "delta", "beta", "Alpha"}},  // 0 (none), 1, 5, 20
      {3, false, {"gamma", "beta", "Alpha", "delta"}},  // 0, 10, then 50 and 50 by account
      {3, true, {"delta", "Alpha", "beta", "gamma"}},
      {4, false, {"delta", "Alpha", "beta", "gamma"}},  // equal totals by account
      {4, true, {"gamma", "beta", "Alpha", "delta"}},
      {5, false, {"delta", "Alpha", "beta", "gamma"}},
  };
  for (const auto& c : cases) {
    auto rows = make();
    SortUserRows(&rows, c.column, c.descending, ctx, printers);
    EXPECT_EQ(Accounts(rows), c.want) << c.column << (c.descending ? " desc" : " asc");
  }
  EXPECT_TRUE(DescendingAfterClick(2, 2, false));
  EXPECT_FALSE(DescendingAfterClick(2, 2, true));
  EXPECT_FALSE(DescendingAfterClick(3, 2, true));
}

TEST(UserList, StatusTexts) {
  const std::string thirty(30, 'a');
  EXPECT_EQ(StatusName(thirty), thirty);
  EXPECT_EQ(StatusName(thirty + "b"), thirty + "...");
  // 15 double-byte characters are 30 bytes; one more makes 32 and is cut at 30
  std::string kana;
  for (int i = 0; i < 16; ++i) kana += "あ";
  EXPECT_EQ(StatusName(kana), kana.substr(0, 45) + "...");
  // a double-byte character straddling byte 30 is left out whole
  EXPECT_EQ(StatusName(std::string(29, 'a') + "あい"), std::string(29, 'a') + "...");

  struct Case {
    engine::UserLimits limits;
    int64_t mono, color;
    const char* text;
  } cases[] = {
      {{0, 20}, 5, 5, "u:印刷可能枚数[無制限]"},
      {{50, 20}, 10, 5, "u:上限まで カラー[15]枚 上限まで モノクロ[40]枚"},
      {{50, 20}, 60, 25, "u:上限超過 カラー[5]枚 上限超過 モノクロ[10]枚"},
      {{50, 20}, 50, 20, "u:上限まで カラー[0]枚 上限まで モノクロ[0]枚"},
      {{50, 0}, 1, 9, "u:カラー[無制限] 上限まで モノクロ[49]枚"},
  };
  for (const auto& c : cases) EXPECT_EQ(UserStatusText("u", c.limits, c.mono, c.color), c.text);
}

}  // namespace
}  // namespace zv::console
