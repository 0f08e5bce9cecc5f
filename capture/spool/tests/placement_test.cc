#include "capture/spool/placement.h"

#include <gtest/gtest.h>

namespace zv::capture {
namespace {

TEST(Placement, PagesTakeThePaperTheirWayAndFitWithoutDistortion) {
  constexpr double kA4W = 595.28, kA4H = 841.89;
  struct Case {
    const char* name;
    const char* paper;
    int dpi;
    double w, h;  // the page, points
    int asked;    // the job's orientation for every page (0: each page's own shape)
    int orientation, paper_w, paper_l, width, height;
    double scale;  // pixels per point: the side that fits first
  } cases[] = {
      {"A4 page on A4", "A4", 200, kA4W, kA4H, 0, 1, 2100, 2970, 1654, 2339, 2339 / kA4H},
      {"landscape page turns the paper", "A4", 200, kA4H, kA4W, 0, 2, 2970, 2100, 2339, 1654, 2339 / kA4H},
      {"landscape page on paper kept upright", "A4", 200, kA4H, kA4W, 1, 1, 2100, 2970, 1654, 2339, 1654 / kA4H},
      {"upright page on paper turned", "A4", 200, kA4W, kA4H, 2, 2, 2970, 2100, 2339, 1654, 1654 / kA4H},
      {"square page stays upright", "A4", 200, 500, 500, 0, 1, 2100, 2970, 1654, 2339, 1654 / 500.0},
      {"Letter page fits A4 by its width", "A4", 200, 612, 792, 0, 1, 2100, 2970, 1654, 2339, 1654 / 612.0},
      {"B4 at 600 dpi rounds to whole pixels", "B4", 600, 728.5, 1031.8, 0, 1, 2570, 3640, 6071, 8598,
       8598 / 1031.8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PagePlacement p = PlacePage(FindPaper(c.paper).value(), c.dpi, c.w, c.h, c.asked);
    EXPECT_EQ(p.orientation, c.orientation);
    EXPECT_EQ(p.paper.width, c.paper_w);
    EXPECT_EQ(p.paper.length, c.paper_l);
    EXPECT_EQ(p.width, c.width);
    EXPECT_EQ(p.height, c.height);
    EXPECT_NEAR(p.scale, c.scale, 1e-9);
  }
}

}  // namespace
}  // namespace zv::capture
