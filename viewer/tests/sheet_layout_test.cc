#include "viewer/sheet_layout.h"

#include <gtest/gtest.h>

namespace zv::viewer {
namespace {

SheetLayout Grid(std::uint32_t pages, int order, std::uint32_t cols, std::uint32_t rows, int orientation = 1,
                 int separators = 0) {
  return SheetLayout{pages, order, separators, cols, rows, orientation};
}

TEST(SheetLayoutTest, OffsetSlotRectTable) {
  // Rectangle top 100, bottom 200; header 20, footer 10: l = 120, k = 190, m = 5.
  struct Case {
    SheetLayout layout;
    int slot;
    int dx, dy;
    int top, bottom;
  } cases[] = {
      {Grid(1, 0, 1, 1), 0, 20, 10, 120, 190},    {Grid(1, 0, 1, 1), 0, 0, 10, 100, 190},
      {Grid(2, 1, 2, 1), 1, 20, 0, 120, 200},     {Grid(2, 1, 1, 2), 0, 20, 10, 120, 205},
      {Grid(2, 1, 1, 2), 1, 20, 10, 105, 190},    {Grid(4, 1, 2, 2, 1), 1, 20, 10, 105, 190},
      {Grid(4, 1, 2, 2, 1), 2, 20, 10, 120, 205}, {Grid(4, 2, 2, 2, 2), 1, 20, 10, 120, 205},
      {Grid(4, 2, 2, 2, 2), 2, 20, 10, 105, 190}, {Grid(8, 1, 4, 2, 1), 3, 20, 10, 105, 190},
      {Grid(8, 2, 4, 2, 2), 3, 20, 10, 120, 205}, {Grid(8, 2, 4, 2, 2), 4, 20, 10, 105, 190},
      {Grid(8, 1, 2, 4, 1), 0, 20, 10, 120, 205}, {Grid(8, 1, 2, 4, 1), 1, 20, 10, 105, 205},
      {Grid(8, 1, 2, 4, 1), 3, 20, 10, 105, 190}, {Grid(8, 1, 2, 4, 1), 4, 20, 10, 120, 205},
      {Grid(8, 2, 2, 4, 2), 1, 20, 10, 120, 205}, {Grid(8, 2, 2, 4, 2), 5, 20, 10, 105, 205},
      {Grid(8, 2, 2, 4, 2), 7, 20, 10, 105, 190}, {Grid(8, 2, 3, 3, 2), 0, 20, 10, 100, 200},  // other grid: unchanged
      {Grid(4, 1, 2, 2, 0), 0, 20, 10, 100, 200},  // other direction: unchanged
  };
  for (const Case& c : cases) {
    RECT r{5, 100, 50, 200};
    EXPECT_EQ(OffsetSlotRect(&r, c.dx, c.dy, c.layout, c.slot), 1);
    EXPECT_EQ(r.top, c.top) << c.layout.columns << "x" << c.layout.rows << " slot " << c.slot;
    EXPECT_EQ(r.bottom, c.bottom) << c.layout.columns << "x" << c.layout.rows << " slot " << c.slot;
    EXPECT_EQ(r.left, 5);
    EXPECT_EQ(r.right, 50);
  }
  EXPECT_EQ(OffsetSlotRect(nullptr, 1, 1, Grid(1, 0, 1, 1), 0), 1);
}

TEST(SheetLayoutTest, GetSlotOffsetTable) {
  // Header 21, footer 11: Hh = 10, Hf = 5, h1 = f1 = 1.
  struct Case {
    SheetLayout layout;
    int direction, slot, header, footer;
    int want;
  } cases[] = {
      {Grid(2, 1, 1, 2), 1, 0, 21, 11, 15},   {Grid(2, 1, 1, 2), 16, 1, 21, 11, -15},
      {Grid(2, 1, 2, 1), 1, 0, 21, 11, 0},    {Grid(4, 1, 2, 2), 1, 2, 21, 11, 15},
      {Grid(4, 1, 2, 2), 1, 3, 21, 11, -15},  {Grid(4, 1, 2, 2), 16, 3, 21, 11, -17},
      {Grid(4, 2, 2, 2), 1, 1, 21, 11, -1},   {Grid(4, 2, 2, 2), 1, 2, 21, 11, -15},
      {Grid(4, 2, 2, 2), 16, 2, 21, 11, -17}, {Grid(4, 2, 2, 2), 16, 3, 21, 11, 0},
      {Grid(4, 2, 2, 2), 16, 1, 0, 11, 0},    {Grid(8, 1, 2, 4), 1, 4, 21, 11, 16},
      {Grid(8, 1, 2, 4), 16, 5, 21, 11, -16}, {Grid(8, 1, 2, 4), 1, 2, 21, 11, 0},
      {Grid(8, 2, 2, 4), 1, 0, 21, 11, 26},   {Grid(8, 2, 2, 4), 1, 2, 21, 11, -16},
      {Grid(8, 1, 4, 2), 1, 2, 21, 11, 16},   {Grid(8, 1, 4, 2), 16, 2, 21, 11, 15},
      {Grid(8, 1, 4, 2), 1, 3, 21, 11, -16},  {Grid(8, 1, 4, 2), 16, 3, 21, 11, -17},
      {Grid(8, 2, 4, 2), 1, 4, 21, 11, -16},  {Grid(8, 2, 4, 2), 1, 2, 21, 11, 0},
      {Grid(8, 2, 4, 2), 16, 2, 21, 11, -1},  {Grid(8, 2, 4, 2), 16, 4, 21, 11, -17},
      {Grid(8, 2, 4, 2), 16, 6, 21, 11, -1},  {Grid(8, 2, 4, 2), 16, 6, 21, 0, 0},
      {Grid(4, 1, 2, 2), 2, 0, 21, 11, 0},    {Grid(1, 0, 1, 1), 1, 0, 21, 11, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetSlotOffset(c.direction, c.header, c.footer, c.layout, c.slot), c.want)
        << c.layout.pages << " pages " << c.layout.columns << "x" << c.layout.rows << " order " << c.layout.order
        << " dir " << c.direction << " slot " << c.slot;
  }
}

TEST(SheetLayoutTest, NextSlotOriginWalksTheGrid) {
  const RECT cell{10, 20, 110, 70};  // 100 x 50
  struct Case {
    SheetLayout layout;
    std::vector<POINT> want;  // origins of slots 1, 2, 3
  } cases[] = {
      {Grid(4, 1, 2, 2), {{10, 70}, {110, 20}, {110, 70}}},  {Grid(4, 2, 2, 2), {{110, 20}, {10, 70}, {110, 70}}},
      {Grid(2, 0, 2, 1), {{110, 20}, {210, 20}, {310, 20}}}, {Grid(2, 0, 1, 2), {{10, 70}, {10, 120}, {10, 170}}},
      {Grid(4, 1, 0, 0), {{110, 20}, {210, 20}, {310, 20}}},  // zero rows: no division
      {Grid(1, 0, 1, 1), {{10, 20}, {10, 20}, {10, 20}}},
  };
  for (const Case& c : cases) {
    POINT o{cell.left, cell.top};
    for (int s = 0; s < 3; ++s) {
      o = NextSlotOrigin(o, cell, s, c.layout);
      EXPECT_EQ(o.x, c.want[s].x) << "slot " << s;
      EXPECT_EQ(o.y, c.want[s].y) << "slot " << s;
    }
  }
}

TEST(SheetLayoutTest, SeparatorsOfATwoByTwoSheet) {
  // Sheet 0..200 x 0..100, cells 100 x 50, printable area inset; header 10, footer 4.
  const RECT cell{0, 0, 100, 50};
  const RECT area{5, 5, 194, 94};
  auto lines = SlotSeparatorLines({0, 0}, cell, area, Grid(4, 1, 2, 2, 1, 3), 10, 4, true);
  // m = 3. Slot 0 (top left): row line at its bottom, column line from below the header.
  // Slot 1 (bottom left): column line down to above the footer. Slot 2 (top right): row
  // line only. Then the four outer lines.
  std::vector<LineSegment> want = {
      {{5, 52}, {100, 52}}, {{99, 15}, {99, 50}}, {{99, 50}, {99, 91}}, {{100, 52}, {195, 52}},
      {{5, 15}, {194, 15}}, {{5, 90}, {194, 90}}, {{5, 15}, {5, 90}},   {{194, 15}, {194, 90}},
  };
  EXPECT_EQ(lines, want);
  // Without the header room the heights do not count.
  auto plain = SlotSeparatorLines({0, 0}, cell, area, Grid(4, 1, 2, 2, 1, 3), 10, 4, false);
  EXPECT_EQ(plain[0], (LineSegment{{5, 49}, {100, 49}}));
  // Setting 0, order 0 or an unknown setting draw nothing.
  EXPECT_TRUE(SlotSeparatorLines({0, 0}, cell, area, Grid(4, 1, 2, 2, 1, 0), 0, 0, true).empty());
  EXPECT_TRUE(SlotSeparatorLines({0, 0}, cell, area, Grid(4, 0, 2, 2, 1, 3), 0, 0, true).empty());
  EXPECT_TRUE(SlotSeparatorLines({0, 0}, cell, area, Grid(4, 1, 2, 2, 1, 7), 0, 0, true).empty());
}

TEST(SheetLayoutTest, SheetNumbersAndTotals) {
  struct Case {
    int next;
    std::uint32_t per_sheet;
    int number;
  } numbers[] = {{1, 1, 1}, {7, 1, 7}, {1, 2, 1}, {2, 2, 1}, {6, 2, 3}, {10, 4, 3}, {3, 4, 1}};
  for (const auto& c : numbers) EXPECT_EQ(SheetNumber(c.next, c.per_sheet), c.number);
  EXPECT_EQ(SheetTotal(10, 2), 5);
  EXPECT_EQ(SheetTotal(7, 4), 2);
  EXPECT_EQ(SheetTotal(7, 1), 7);
  EXPECT_EQ(SheetTotal(0, 8), 0);
  EXPECT_TRUE(HeaderRoomApplies(1, false));
  EXPECT_TRUE(HeaderRoomApplies(0, true));
  EXPECT_FALSE(HeaderRoomApplies(0, false));
  EXPECT_FALSE(HeaderRoomApplies(-1, true));
}

TEST(SheetLayoutTest, FittingKeepsProportionsAndSurvivesZeros) {
  // A landscape A4 box centred in a square fills its width.
  RECT r = FitCentred(RECT{0, 0, 400, 400}, 2970, 2100);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.right, 400);
  EXPECT_EQ(r.bottom - r.top, 400 * 2100 / 2970);
  EXPECT_EQ(r.top, (400 - 400 * 2100 / 2970) / 2);
  // Portrait in a wide rectangle fills its height and is centred across.
  r = FitCentred(RECT{0, 0, 400, 200}, 2100, 2970);
  EXPECT_EQ(r.bottom - r.top, 200);
  EXPECT_EQ(r.left, (400 - 200 * 2100 / 2970) / 2);
  // Empty boxes and rectangles give an empty rectangle, not a fault.
  r = FitCentred(RECT{3, 4, 400, 200}, 0, 100);
  EXPECT_EQ(r.right - r.left, 0);
  r = FitCentred(RECT{3, 4, 3, 200}, 10, 100);
  EXPECT_EQ(r.right - r.left, 0);
  // Page box fitted to the device aspect.
  POINT b = FitPageBox(1000, 2000, 100, 100);
  EXPECT_EQ(b.x, 1000);
  EXPECT_EQ(b.y, 1000);
  b = FitPageBox(3000, 2000, 100, 100);
  EXPECT_EQ(b.x, 2000);
  b = FitPageBox(3000, 2000, 0, 100);
  EXPECT_EQ(b.x, 3000);
  // Page in a cell.
  b = FitPageInCell(2100, 2970, true, 210, 1000);
  EXPECT_EQ(b.x, 210);
  EXPECT_EQ(b.y, 297);
  b = FitPageInCell(2100, 2970, false, 1000, 210);
  EXPECT_EQ(b.x, 297);
  EXPECT_EQ(b.y, 210);
  b = FitPageInCell(0, 2970, true, 100, 100);
  EXPECT_EQ(b.x, 0);
}

TEST(SheetLayoutTest, MarginsOffsetsAndFontHeight) {
  PaperMargins pm{9, 100, 200, 300, 400};
  SheetMargins m = MarginsInPixels(210, 297, 2100, 2970, pm, false);
  EXPECT_EQ(m.left, 10);
  EXPECT_EQ(m.top, 20);
  EXPECT_EQ(m.right, 30);
  EXPECT_EQ(m.bottom, 40);
  m = MarginsInPixels(297, 210, 2970, 2100, pm, true);
  // Left takes bottom, top takes left, right takes top, bottom takes right.
  EXPECT_EQ(m.left, 210 * 400 / 2100);
  EXPECT_EQ(m.top, 297 * 100 / 2970);
  EXPECT_EQ(m.right, 210 * 200 / 2100);
  EXPECT_EQ(m.bottom, 297 * 300 / 2970);
  m = MarginsInPixels(210, 297, 0, 0, pm, false);
  EXPECT_EQ(m.left + m.top + m.right + m.bottom, 0);
  std::vector<PaperMargins> list = {{9, 1, 1, 1, 1}, {8, 2, 2, 2, 2}, {9, 3, 3, 3, 3}};
  EXPECT_EQ(ChooseMargins(list, false, 9).left, 1);
  EXPECT_EQ(ChooseMargins(list, true, 9).left, 3);
  EXPECT_EQ(ChooseMargins(list, true, 5).left, 1);
  EXPECT_EQ(ChooseMargins({}, true, 9).left, 0);
  EXPECT_EQ(OffsetInPixels(5.0f, 210, 2100), 5);
  EXPECT_EQ(OffsetInPixels(-2.55f, 210, 2100), -2);
  EXPECT_EQ(OffsetInPixels(5.0f, 210, 0), 0);
  // 12 points at 96 dpi is 16 pixels; a sheet half the screen wide halves it.
  EXPECT_EQ(HeaderFontHeight(12, 96, 1920, 960), -8);
  EXPECT_EQ(HeaderFontHeight(12, 96, 1920, 0), 0);
  EXPECT_EQ(HeaderFontHeight(12, 96, 0, 960), 0);
  // A thumbnail-sized sheet keeps a one-pixel font, not the mapper's default size.
  EXPECT_EQ(HeaderFontHeight(12, 96, 1920, 90), -1);
}

}  // namespace
}  // namespace zv::viewer
