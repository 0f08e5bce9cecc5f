#include "printing/sheet_math.h"

#include <gtest/gtest.h>

#include "printing/print_rules.h"

namespace zv::printing {
namespace {

// A small device: 100 dpi, a sheet of 1000 x 1400 pixels with margins 20 left, 30 top,
// 40 right, 50 bottom: printable 940 x 1320.
spool::PageGeometry Device(bool landscape = false) {
  spool::PageGeometry g;
  g.logpixels_x = g.logpixels_y = 100;
  g.physical_width = 1000;
  g.physical_height = 1400;
  g.offset_x = 20;
  g.offset_y = 30;
  g.horzres = 940;
  g.vertres = 1320;
  if (landscape) {
    std::swap(g.physical_width, g.physical_height);
    std::swap(g.horzres, g.vertres);
    std::swap(g.offset_x, g.offset_y);
  }
  return g;
}

std::string Str(const win::RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
         std::to_string(r.bottom);
}

TEST(SheetMath, TenthsToPixelsTruncates) {
  EXPECT_EQ(TenthsToPixels(254, 100), 100);
  EXPECT_EQ(TenthsToPixels(253, 100), 99);
  EXPECT_EQ(TenthsToPixels(-253, 100), -99);  // toward zero
  EXPECT_EQ(TenthsToPixels(100, 600), 236);
}

TEST(SheetMath, CellsPerMode) {
  const auto portrait = Device(false);
  const auto landscape = Device(true);
  SheetSettings plain;
  // Gaps on the portrait device: columns 20 + 40 = 60, rows 30 + 50 = 80.
  struct Case {
    const char* what;
    int mode;
    bool wide;
    int header, footer;
    SheetSettings s;
    std::vector<std::string> rects;
    int resolution;
  } cases[] = {
      {"one page", 0, false, 0, 0, plain, {"0,0,940,1320"}, 100},
      {"one page, header, footer, reduction and offset",
       0,
       false,
       30,
       20,
       {254, 127, 500, -1},
       {"100,80,570,690"},
       100},
      {"two-up on a tall area: one column, two rows", 2, false, 0, 0, plain, {"0,0,940,620", "0,700,940,1320"}, 50},
      {"two-up on a wide area: two columns", 2, true, 0, 0, plain, {"0,0,620,940", "700,0,1320,940"}, 50},
      {"halves on a tall area: bottom first", 3, false, 0, 0, plain, {"0,660,940,1320", "0,0,940,660"}, 50},
      {"halves on a wide area: right first", 3, true, 0, 0, plain, {"660,0,1320,940", "0,0,660,940"}, 50},
      {"four column by column",
       4,
       false,
       0,
       0,
       plain,
       {"0,0,440,620", "0,700,440,1320", "500,0,940,620", "500,700,940,1320"},
       25},
      {"four row by row",
       8,
       false,
       0,
       0,
       plain,
       {"0,0,440,620", "500,0,940,620", "0,700,440,1320", "500,700,940,1320"},
       25},
      {"four with header only",
       4,
       false,
       40,
       0,
       plain,
       {"0,40,440,640", "0,720,440,1320", "500,40,940,640", "500,720,940,1320"},
       25},
      {"four with footer only",
       8,
       false,
       0,
       40,
       plain,
       {"0,0,440,600", "500,0,940,600", "0,680,440,1280", "500,680,940,1280"},
       25},
      {"four with both, reduction",
       4,
       false,
       40,
       20,
       {0, 0, 500, -1},
       {"0,40,220,330", "0,700,220,990", "500,40,720,330", "500,700,720,990"},
       25},
      {"eight on a tall area: two columns, four rows",
       12,
       false,
       0,
       0,
       plain,
       {"0,0,440,270", "0,350,440,620", "0,700,440,970", "0,1050,440,1320", "500,0,940,270"},
       12},
      {"eight on a tall area with header and footer",
       13,
       false,
       40,
       20,
       plain,
       {"0,40,440,290", "500,40,940,290", "0,350,440,620", "500,350,940,620"},
       12},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto& g = c.wide ? landscape : portrait;
    auto plan = PlanSide(c.mode, g, c.s, c.header, c.footer, 0, int(c.rects.size()));
    ASSERT_EQ(plan.cells.size(), c.rects.size());
    for (size_t i = 0; i < c.rects.size(); ++i) {
      EXPECT_EQ(Str(plan.cells[i].rect), c.rects[i]) << "cell " << i;
      EXPECT_EQ(plan.cells[i].page, int(i));
      EXPECT_EQ(plan.cells[i].resolution, c.resolution);
    }
  }
}

TEST(SheetMath, LastSideHoldsOnlyTheRemainingPages) {
  const auto g = Device();
  auto plan = PlanSide(4, g, {}, 0, 0, 8, 10);
  ASSERT_EQ(plan.cells.size(), 2u);
  EXPECT_EQ(plan.cells[0].page, 8);
  EXPECT_EQ(plan.cells[1].page, 9);
  EXPECT_EQ(PlanSide(3, g, {}, 0, 0, 4, 5).cells.size(), 1u);
  EXPECT_TRUE(PlanSide(4, g, {}, 0, 0, 5, 5).cells.empty());
  EXPECT_TRUE(PlanSide(7, g, {}, 0, 0, 0, 5).cells.empty());  // not a layout mode
}

TEST(SheetMath, SeparatorsFollowTheVirtualSheets) {
  const auto g = Device();
  auto lines = [&](int separators, int header, int footer, int pages) {
    std::vector<std::string> out;
    for (const auto& l : PlanSide(4, g, {0, 0, 1000, separators}, header, footer, 0, pages).lines) {
      out.push_back(std::to_string(l.from.x) + "," + std::to_string(l.from.y) + "-" + std::to_string(l.to.x) + "," +
                    std::to_string(l.to.y));
    }
    return out;
  };
  // Columns: the left edge, the first virtual sheet's right edge (cell right 440 + right
  // margin 40) which is the second's left (500 - 20), and the last cell's right edge.
  EXPECT_EQ(lines(1, 0, 0, 4), (std::vector<std::string>{"0,0-0,670", "480,0-480,670", "0,670-0,1320",
                                                         "480,670-480,1320", "940,0-940,670", "940,670-940,1320"}));
  // Rows, with the header and footer room kept free.
  EXPECT_EQ(lines(2, 40, 20, 4), (std::vector<std::string>{"0,40-480,40", "0,670-480,670", "0,1300-480,1300",
                                                           "480,40-940,40", "480,670-940,670", "480,1300-940,1300"}));
  EXPECT_TRUE(lines(3, 0, 0, 4).empty());
  EXPECT_EQ(lines(0, 0, 0, 4).size(), 12u);
  // One page on the side: only its own virtual sheet's edges.
  EXPECT_EQ(lines(0, 0, 0, 1).size(), 4u);
}

TEST(SheetMath, HeaderAndFooterPlacement) {
  using E = std::optional<win::SIZE>;
  auto p =
      PlaceHeaderFooter(1000, 1400, {E{{100, 20}}, E{{200, 24}}, std::nullopt, std::nullopt, E{{60, 18}}, E{{80, 18}}});
  EXPECT_EQ(p.at[0].x, 0);
  EXPECT_EQ(p.at[1].x, 400);
  EXPECT_EQ(p.at[2].x, 1000);
  EXPECT_EQ(p.at[0].y, 0);
  EXPECT_EQ(p.header_height, 24);  // the last non-empty header text
  EXPECT_EQ(p.footer_height, 18);  // the first non-empty footer text
  EXPECT_EQ(p.at[4].x, 470);
  EXPECT_EQ(p.at[5].x, 920);
  EXPECT_EQ(p.at[3].y, 1382);
  auto none = PlaceHeaderFooter(1000, 1400, {});
  EXPECT_EQ(none.header_height, 0);
  EXPECT_EQ(none.footer_height, 0);
  EXPECT_EQ(none.at[4].y, 0);
}

TEST(SheetMath, PageNumbersAndProgress) {
  struct Case {
    int mode, rule, anchor, sides, page, base, shown;
  } cases[] = {
      {0, 0, -1, 0, 4, 2, 1},                          // one page per call, rule 0: 1
      {0, 0, 7, 0, 4, 2, 1},  {0, 1, -1, 0, 4, 2, 3},  // rule 1 without anchor: the page's number in the run
      {0, 1, -1, 2, 6, 2, 5},                          // ... also when a call holds several sides
      {0, 1, 3, 2, 6, 2, 3},                           // with an anchor: the sides of the call
      {0, 0, -1, 2, 6, 2, 3},                          // rule 0, several sides in one call: counted
      {4, 1, -1, 2, 8, 0, 3},                          // grid modes count the sides
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PageNumberShown(c.mode, c.rule, c.anchor, c.sides, c.page, c.base), c.shown)
        << c.mode << " " << c.rule << " " << c.sides;
  }
  EXPECT_TRUE(HeaderFooterOnSide(1, 9, 5, 4));
  EXPECT_TRUE(HeaderFooterOnSide(0, 1, 5, 4));
  EXPECT_FALSE(HeaderFooterOnSide(0, 1, 6, 4));
  EXPECT_FALSE(HeaderFooterOnSide(2, 1, 5, 4));
  EXPECT_EQ(ProgressPosition(4, 3), 75);
  EXPECT_EQ(ProgressPosition(101, 50), 0);
  EXPECT_EQ(ProgressPosition(0, 1), 0);
  EXPECT_EQ(PageLabel(3, 12), "  3/ 12 ページ");
}

}  // namespace
}  // namespace zv::printing
