#include "platform/gdi/region.h"

#include <gtest/gtest.h>

#include "platform/gdi/dc.h"

namespace zv::gdi {
namespace {

using win::RECT;

TEST(RegionTest, CombineModesGiveExpectedPixelsAndKinds) {
  struct Case {
    int mode;
    bool in_a_only, in_both, in_b_only;
    int kind;
  };
  // a = [0,10)x[0,10), b = [5,15)x[0,10)
  const Case cases[] = {
      {win::RGN_AND, false, true, false, win::SIMPLEREGION}, {win::RGN_OR, true, true, true, win::SIMPLEREGION},
      {win::RGN_XOR, true, false, true, win::COMPLEXREGION}, {win::RGN_DIFF, true, false, false, win::SIMPLEREGION},
      {win::RGN_COPY, false, true, true, win::SIMPLEREGION},
  };
  for (const Case& c : cases) {
    Region a(RECT{0, 0, 10, 10});
    a.Combine(Region(RECT{5, 0, 15, 10}), c.mode);
    EXPECT_EQ(a.Contains(2, 2), c.in_a_only) << c.mode;
    EXPECT_EQ(a.Contains(7, 2), c.in_both) << c.mode;
    EXPECT_EQ(a.Contains(12, 2), c.in_b_only) << c.mode;
    EXPECT_EQ(a.Kind(), c.kind) << c.mode;
  }
}

TEST(RegionTest, BoxOffsetAndEmpty) {
  Region r(std::vector<RECT>{{0, 0, 2, 2}, {10, 10, 12, 14}, {5, 5, 5, 9}});
  RECT b = r.Box();
  EXPECT_EQ(b.left, 0);
  EXPECT_EQ(b.bottom, 14);
  r.Offset(3, -1);
  EXPECT_TRUE(r.Contains(13, 9));
  EXPECT_EQ(Region(RECT{5, 5, 1, 1}).Kind(), win::NULLREGION);
  Region moved = std::move(r);
  EXPECT_EQ(moved.Rects().size(), 2u);
}

TEST(ObjectsTest, TransformsCombineInOrder) {
  XFORM scale{2, 0, 0, 2, 0, 0};
  XFORM shift{1, 0, 0, 1, 10, 0};
  XFORM both = CombineXform(scale, shift);  // scale first, then shift
  EXPECT_FLOAT_EQ(both.eDx, 10);
  XFORM other = CombineXform(shift, scale);
  EXPECT_FLOAT_EQ(other.eDx, 20);
  EXPECT_EQ(FaceName(MakeLogFont("ＭＳ ゴシック", -12)), "ＭＳ ゴシック");
}

}  // namespace
}  // namespace zv::gdi
