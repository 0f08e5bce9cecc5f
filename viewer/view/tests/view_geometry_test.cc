// The page view's arithmetic, as tables of cases.
#include "viewer/view/view_geometry.h"

#include <gtest/gtest.h>

#include "viewer/view/page_cache.h"

namespace zv::win {
inline bool operator==(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline void PrintTo(const RECT& r, std::ostream* os) {
  *os << "{" << r.left << "," << r.top << "," << r.right << "," << r.bottom << "}";
}
}  // namespace zv::win

namespace zv::viewer::view {
namespace {

// A4 portrait in page units (2100 x 2970 tenths of a millimetre).
constexpr UnitSize kA4{2100LL * 28800 / 254, 2970LL * 28800 / 254};
constexpr UnitSize kA4Land{kA4.h, kA4.w};

TEST(ZoomTest, ModesPercentagesAndClamping) {
  struct Case {
    const char* what;
    int request, aw, ah;
    UnitSize ref;
    ZoomResult want;
  };
  const Case cases[] = {
      // Page width: (600 - 8) x 28800 / 238110 = 71 dpi, 73 %.
      {"page width", 1, 600, 400, kA4, {false, kPageWidth, 73, 71}},
      // Whole page in a wide area: the height decides, (400 - 8) x 28800 / 336755 = 33.
      {"whole page, wide area", 0, 600, 400, kA4, {false, kWholePage, 34, 33}},
      // Whole page in a tall area: the width decides.
      {"whole page, tall area", 0, 300, 2000, kA4, {false, kWholePage, 36, 35}},
      // A large area lets whole page go beyond 200 %.
      {"whole page above 200", 0, 4000, 6000, kA4, {false, kWholePage, 502, 482}},
      {"maximum", 2, 600, 400, kA4, {false, kMaximum, 200, 192}},
      {"free 150", 150, 600, 400, kA4, {false, kFree, 150, 144}},
      {"free 10", 10, 600, 400, kA4, {false, kFree, 10, 9}},
      {"free 200", 200, 600, 400, kA4, {false, kFree, 200, 192}},
      {"tiny area clamps to 10", 1, 20, 20, kA4, {false, kPageWidth, 10, 9}},
      {"empty area", 0, 0, 0, kA4, {false, kWholePage, 10, 9}},
      {"no reference size", 1, 600, 400, UnitSize{}, {false, kPageWidth, 10, 9}},
      {"3 asks", 3, 600, 400, kA4, {true, kPageWidth, 0, 0}},
      {"9 asks", 9, 600, 400, kA4, {true, kPageWidth, 0, 0}},
      {"250 asks", 250, 600, 400, kA4, {true, kPageWidth, 0, 0}},
      {"negative asks", -1, 600, 400, kA4, {true, kPageWidth, 0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ComputeZoom(c.request, c.aw, c.ah, c.ref, 96), c.want) << c.what;
  }
}

TEST(ZoomTest, ReferenceSizeAndSheetGrid) {
  EXPECT_EQ(ReferenceSize({kA4, kA4Land}, UnitSize{}), (UnitSize{kA4.h, kA4.h})) << "largest each way";
  EXPECT_EQ(ReferenceSize({kA4, kA4}, kA4), kA4);
  EXPECT_EQ(ReferenceSize({kA4Land}, kA4), kA4Land) << "paper turned for landscape pages";
  EXPECT_EQ(ReferenceSize({kA4, kA4Land}, kA4), (UnitSize{kA4.h, kA4.h})) << "mixed: height both ways";

  struct Case {
    std::uint32_t pps;
    UnitSize page0;
    SheetGrid want;
  };
  const Case cases[] = {
      {1, kA4, {1, 1, 1, kA4}},     {2, kA4, {2, 1, 2, kA4Land}},     {2, kA4Land, {1, 2, 1, kA4}},
      {4, kA4, {2, 2, 1, kA4}},     {4, kA4Land, {2, 2, 2, kA4Land}}, {8, kA4, {4, 2, 2, kA4Land}},
      {8, kA4Land, {2, 4, 1, kA4}}, {3, kA4, {1, 1, 1, kA4}},
  };
  for (const Case& c : cases) {
    // The reference is the page's own size (the paper turned to page 0).
    EXPECT_EQ(ComputeSheetGrid(c.pps, c.page0, c.page0), c.want) << c.pps;
  }
}

TEST(ScrollTest, LayoutCurrentRowAndNavigation) {
  // 12 pages of 100 x 200 pixels in an area 300 x 500: content 12 x 204 + 4 = 2452.
  const ScrollLayout s = ComputeScrollLayout(12, 1, 100, 200, 300, 500);
  EXPECT_EQ(s.rows, 12);
  EXPECT_EQ(s.content_height, 2452);
  EXPECT_EQ(s.vertical, (ScrollAxis{true, 1952}));
  EXPECT_FALSE(s.horizontal.enabled);
  EXPECT_EQ(ComputeScrollLayout(12, 4, 100, 200, 300, 500).rows, 3);
  EXPECT_EQ(ComputeScrollLayout(2, 1, 100, 200, 300, 500).vertical, ScrollAxis{}) << "fits";
  EXPECT_EQ(ComputeScrollLayout(1, 1, 400, 200, 300, 500).horizontal, (ScrollAxis{true, 108}));
  EXPECT_EQ(ComputeScrollLayout(0, 1, 100, 200, 300, 500), ScrollLayout{});

  struct Row {
    int pos, want;
  };
  const Row rows[] = {{0, 0}, {204, 1}, {210, 1}, {350, 2}, {408 + 160, 3}, {1951, 10}, {1952, 11}};
  for (const Row& r : rows) EXPECT_EQ(CurrentRow(r.pos, s, 200, 500, 12, 1), r.want) << r.pos;

  struct Nav {
    int count, pos;
    bool enabled, prev, choose, next;
  };
  const Nav navs[] = {
      {12, 0, true, false, true, true},    {12, 4, true, true, true, true},     {12, 1947, true, true, true, true},
      {12, 1948, true, true, true, false}, {1, 100, true, false, false, false}, {12, 100, false, false, false, false},
  };
  for (const Nav& n : navs) {
    const ScrollAxis v{n.enabled, 1952};
    EXPECT_EQ(CanGoPrevious(n.count, v, n.pos), n.prev) << n.pos;
    EXPECT_EQ(CanChoosePage(n.count, v), n.choose) << n.pos;
    EXPECT_EQ(CanGoNext(n.count, v, n.pos), n.next) << n.pos;
  }
  EXPECT_EQ(RowPosition(3, 200, s.vertical), 612);
  EXPECT_EQ(RowPosition(99, 200, s.vertical), 1952) << "beyond the last scrolls to the end";
}

TEST(ScrollTest, RowPlacementAndHitTests) {
  const RECT area{0, 0, 300, 500};
  const ScrollLayout s = ComputeScrollLayout(12, 1, 100, 200, 300, 500);
  EXPECT_EQ(RowRect(0, area, 100, 200, 0, 0, s), (RECT{100, 4, 200, 204})) << "centred across";
  EXPECT_EQ(RowRect(2, area, 100, 200, 0, 300, s), (RECT{100, 112, 200, 312}));
  const ScrollLayout fit = ComputeScrollLayout(1, 1, 100, 200, 300, 500);
  EXPECT_EQ(RowRect(0, area, 100, 200, 0, 0, fit), (RECT{100, 150, 200, 350})) << "centred down";
  EXPECT_EQ(VisibleRows(area, area, 100, 200, 0, 0, s), (RowSpan{0, 2}));
  EXPECT_EQ(VisibleRows(area, area, 100, 200, 0, 1952, s), (RowSpan{9, 11}));
  EXPECT_EQ(RowAt(POINT{150, 210}, area, 100, 200, 0, 0, s), 1);
  EXPECT_EQ(RowAt(POINT{150, 205}, area, 100, 200, 0, 0, s), -1) << "in the gap";
  EXPECT_EQ(RowAt(POINT{50, 100}, area, 100, 200, 0, 0, s), -1) << "beside the column";

  // Slots of a 2 x 2 sheet (200 x 200) in both orders.
  const RECT sheet{0, 0, 200, 200};
  SheetLayout col;
  col.pages = 4;
  col.order = 1;
  col.columns = 2;
  col.rows = 2;
  SheetLayout row = col;
  row.order = 2;
  struct Hit {
    POINT p;
    int by_column, by_row;
  };
  const Hit hits[] = {{{10, 10}, 0, 0}, {{10, 150}, 1, 2}, {{150, 10}, 2, 1}, {{150, 150}, 3, 3}, {{250, 10}, -1, -1}};
  for (const Hit& h : hits) {
    EXPECT_EQ(SlotAt(sheet, col, h.p), h.by_column) << h.p.x << "," << h.p.y;
    EXPECT_EQ(SlotAt(sheet, row, h.p), h.by_row) << h.p.x << "," << h.p.y;
  }
  EXPECT_EQ(SlotRect(sheet, col, 1), (RECT{0, 100, 100, 200}));
  EXPECT_EQ(SlotRect(sheet, row, 1), (RECT{100, 0, 200, 100}));
}

TEST(LensTest, GeometryAndPlacement) {
  EXPECT_EQ(LensRect(POINT{300, 200}), (RECT{100, 50, 500, 350}));
  const RECT page{100, 100, 300, 400};
  struct Case {
    POINT cursor;
    int display;
    POINT want;
  };
  const Case cases[] = {
      // At 96 dpi on screen and 192 in the lens, the page point 50 px in lies 100 px in.
      {{150, 150}, 96, {-100, -100}},
      {{100, 100}, 96, {0, 0}},
      // At 48 dpi on screen the lens magnifies four times.
      {{150, 150}, 48, {-200, -200}},
      // Left of and above the page: clamped to the edge, the remainder added.
      {{90, 80}, 96, {10, 20}},
      // Beyond the right edge.
      {{320, 150}, 96, {-398 - 21, -100}},
  };
  for (const Case& c : cases) {
    const POINT got = LensPlacement(c.cursor, page, c.display, 96);
    EXPECT_EQ(got.x, c.want.x) << c.cursor.x;
    EXPECT_EQ(got.y, c.want.y) << c.cursor.y;
  }
}

TEST(SelectionTest, HandlesDragsAndSteps) {
  const RECT sel{10, 10, 110, 60};
  struct Case {
    POINT p;
    int handle;
  };
  const Case cases[] = {{{10, 10}, 1}, {{108, 11}, 2}, {{12, 58}, 3}, {{109, 59}, 4}, {{50, 30}, 0}, {{110, 60}, 0}};
  for (const Case& c : cases) EXPECT_EQ(HandleAt(sel, c.p), c.handle) << c.p.x << "," << c.p.y;
  EXPECT_EQ(HandleAt(RECT{0, 0, 6, 40}, POINT{1, 1}), 0) << "no handles on a thin rectangle";
  EXPECT_EQ(Normalised(DragHandle(sel, 1, POINT{200, 100})), (RECT{110, 60, 200, 100}));
  EXPECT_EQ(Normalised(DragHandle(sel, 4, POINT{0, 0})), (RECT{0, 0, 10, 10}));
  EXPECT_EQ(Union(RECT{}, sel), sel);
  EXPECT_EQ(Intersect(sel, RECT{200, 200, 300, 300}), RECT{});

  EXPECT_EQ(AutoScrollStep(300, 100, 10), 20);
  EXPECT_EQ(AutoScrollStep(100, 150, 10), -5);
  EXPECT_EQ(AutoScrollStep(100, 105, -3), -1);
  EXPECT_EQ(AutoScrollStep(100, 105, 3), 1);
  EXPECT_EQ(MiddleScroll(POINT{100, 100}, POINT{130, 90}).x, 16);
  EXPECT_EQ(MiddleScroll(POINT{100, 100}, POINT{130, 90}).y, 0);
  EXPECT_EQ(MiddleScroll(POINT{100, 100}, POINT{70, 60}).y, -26);
  EXPECT_EQ(EdgeScroll(RECT{0, 0, 100, 100}, POINT{-20, 140}).x, -10);
  EXPECT_EQ(EdgeScroll(RECT{0, 0, 100, 100}, POINT{-20, 140}).y, 20);
}

TEST(PageCacheTest, NeverAboveSevenAndKeepsWhatIsOnScreen) {
  PageCache<int> cache;
  // Scrolling through 40 rows, three on screen at a time.
  for (int top = 0; top < 38; ++top) {
    for (int r = top; r < top + 3; ++r) {
      if (!cache.Find(r)) {
        ASSERT_TRUE(cache.Insert(r, std::make_unique<int>(r), top, top + 2));
      }
      ASSERT_LE(cache.size(), 7u);
    }
    for (int r = top; r < top + 3; ++r) ASSERT_NE(cache.Find(r), nullptr) << top;
  }
  // The oldest row not on screen goes first.
  PageCache<int> c2;
  for (int r = 0; r < 7; ++r) c2.Insert(r, std::make_unique<int>(r), 0, 0);
  c2.Insert(7, std::make_unique<int>(7), 0, 1);
  EXPECT_EQ(c2.Rows(), (std::vector<int>{0, 1, 3, 4, 5, 6, 7}));
  // A screen full of cached rows refuses an eighth rather than evicting one on screen.
  EXPECT_FALSE(c2.HasRoomFor(0, 7));
  EXPECT_FALSE(c2.Insert(8, std::make_unique<int>(8), 0, 8));
  EXPECT_EQ(c2.size(), 7u);
}

}  // namespace
}  // namespace zv::viewer::view
