#include "printing/render_sheet.h"

#include <gtest/gtest.h>

#include "printing/print_rules.h"
#include "printing/tests/fixtures.h"

namespace zv::printing {
namespace {

using testing::BitmapDevice;
using testing::BoxDocument;
using testing::InkIn;
using testing::PageColour;
using testing::SmallDevice;

class Recorder : public SheetObserver {
 public:
  void SetPageLabel(std::string_view t) override { labels.emplace_back(t); }
  void SetProgress(int p) override { progress.push_back(p); }
  void ShowMessage(std::string_view t) override { messages.emplace_back(t); }
  std::vector<std::string> labels, messages;
  std::vector<int> progress;
};

HeaderFooter Texts(int rule, std::string header_centre, std::string footer_right) {
  HeaderFooter hf;
  std::snprintf(hf.font.lfFaceName, sizeof hf.font.lfFaceName, "%s", "IPAGothic");
  hf.points = 12;
  hf.texts[kHeaderCentre] = std::move(header_centre);
  hf.texts[kFooterRight] = std::move(footer_right);
  hf.rule = rule;
  return hf;
}

TEST(RenderSheet, PlacesThePagesOfEachSide) {
  BoxDocument doc(6);
  doc.run_.label_total = 2;
  BitmapDevice dev(SmallDevice());
  Recorder rec;
  SheetSettings s;
  s.separators = 0;
  EXPECT_EQ(RenderSheet(doc, dev, 1, 6, kModeFourByColumn, s, &rec), 2);
  ASSERT_EQ(dev.sides.size(), 2u);
  ASSERT_EQ(doc.drawn.size(), 6u);
  const auto first = PlanSide(kModeFourByColumn, SmallDevice(), s, 0, 0, 0, 6);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(doc.drawn[i].index, i);
    EXPECT_EQ(doc.drawn[i].resolution, 12);
    EXPECT_EQ(doc.drawn[i].rect.left, first.cells[i].rect.left);
    EXPECT_EQ(doc.drawn[i].rect.top, first.cells[i].rect.top);
    // The page's colour fills the middle of its cell.
    const auto& r = first.cells[i].rect;
    EXPECT_EQ(dev.sides[0]->Pixel((r.left + r.right) / 2, (r.top + r.bottom) / 2), PageColour(i));
  }
  EXPECT_EQ(doc.drawn[4].index, 4);
  EXPECT_EQ(doc.drawn[5].index, 5);
  // Separators: the first virtual sheet's right edge is a black line on the first side.
  const auto& c0 = first.cells[0].rect;
  const int x = c0.right + RightMargin(SmallDevice());
  EXPECT_EQ(dev.sides[0]->Pixel(x, 20), 0x000000u);
  EXPECT_EQ(rec.labels, (std::vector<std::string>{"  1/  2 ページ", "  2/  2 ページ"}));
  EXPECT_EQ(rec.progress, (std::vector<int>{50, 100}));
  EXPECT_TRUE(rec.messages.empty());
}

TEST(RenderSheet, NeverDrawsPagesOutsideTheDocument) {
  BoxDocument doc(3);
  BitmapDevice dev(SmallDevice());
  struct Case {
    int first, last, mode, sides;
    std::vector<int> pages;
  } cases[] = {
      {2, 9, kModeOneUp, 2, {1, 2}},
      {1, 40, kModeFourByRow, 1, {0, 1, 2}},
      {3, 3, kModeHalves, 1, {2}},
      {4, 9, kModeTwoUp, 0, {}},
      {3, 2, kModeOneUp, 0, {}},
      {0, 2, kModeOneUp, 0, {}},
      {1, 3, 5, 0, {}},
      {0x10002, 0x10003, kModeOneUp, 2, {1, 2}},  // only the low 16 bits count
  };
  for (const auto& c : cases) {
    doc.drawn.clear();
    dev.sides.clear();
    EXPECT_EQ(RenderSheet(doc, dev, c.first, c.last, c.mode, {}, nullptr), c.sides)
        << c.first << "-" << c.last << " mode " << c.mode;
    std::vector<int> pages;
    for (const auto& d : doc.drawn) pages.push_back(d.index);
    EXPECT_EQ(pages, c.pages) << c.first << "-" << c.last << " mode " << c.mode;
    EXPECT_EQ(int(dev.sides.size()), c.sides);
  }
}

TEST(RenderSheet, HeaderAndFooterFollowTheRule) {
  const auto g = SmallDevice();
  struct Case {
    int rule;
    std::vector<bool> inked;
  } cases[] = {{1, {true, true, true}}, {0, {true, false, false}}, {2, {false, false, false}}};
  for (const auto& c : cases) {
    BoxDocument doc(3);
    doc.hf_ = Texts(c.rule, "Title <ページ>/<総ページ>", "page <ページ>");
    doc.run_.label_total = 3;
    doc.run_.numbering_base = 0;
    BitmapDevice dev(g);
    EXPECT_EQ(RenderSheet(doc, dev, 1, 3, kModeOneUp, {}, nullptr), 3);
    // The heights are measured once and kept in the document.
    EXPECT_GT(doc.run_.header_height, 0);
    EXPECT_GT(doc.run_.footer_height, 0);
    ASSERT_EQ(doc.drawn.size(), 3u);
    EXPECT_EQ(doc.drawn[0].rect.top, doc.run_.header_height);
    EXPECT_EQ(doc.drawn[0].rect.bottom, g.vertres - doc.run_.footer_height);
    for (int side = 0; side < 3; ++side) {
      const win::RECT header{0, 0, g.horzres, doc.run_.header_height};
      const win::RECT footer{0, g.vertres - doc.run_.footer_height, g.horzres, g.vertres};
      EXPECT_EQ(InkIn(*dev.sides[side], header) > 0, c.inked[side]) << "rule " << c.rule << " side " << side;
      EXPECT_EQ(InkIn(*dev.sides[side], footer) > 0, c.inked[side]) << "rule " << c.rule << " side " << side;
    }
  }
}

TEST(RenderSheet, PlaceholderTextsAreRecentredWhenTheyWiden) {
  const auto g = SmallDevice();
  BoxDocument doc(12);
  doc.hf_ = Texts(1, "<ページ>", "");
  doc.run_.label_total = 12;
  BitmapDevice dev(g);
  ASSERT_EQ(RenderSheet(doc, dev, 1, 12, kModeOneUp, {}, nullptr), 12);
  // "9" and "10" are both centred: the ink's middle stays near the area's middle.
  for (int side : {8, 9}) {
    int lo = g.horzres, hi = -1;
    for (int y = 0; y < doc.run_.header_height; ++y) {
      for (int x = 0; x < g.horzres; ++x) {
        if (dev.sides[side]->Pixel(x, y) != 0xFFFFFF) {
          lo = std::min(lo, x);
          hi = std::max(hi, x);
        }
      }
    }
    ASSERT_GE(hi, lo) << side;
    EXPECT_NEAR((lo + hi) / 2.0, g.horzres / 2.0, 4.0) << side;
  }
}

TEST(RenderSheet, AnUnusableFontIsReportedOnceAndPrintingGoesOn) {
  BoxDocument doc(2);
  doc.hf_ = Texts(1, "head", "");
  std::memcpy(doc.hf_.font.lfFaceName, "\x81", 2);  // a cut double-byte character
  BitmapDevice dev(SmallDevice());
  Recorder rec;
  EXPECT_EQ(RenderSheet(doc, dev, 1, 2, kModeOneUp, {}, &rec), 2);
  EXPECT_EQ(rec.messages, std::vector<std::string>{kFontFailedMessage});
  EXPECT_GT(InkIn(*dev.sides[1], {0, 0, SmallDevice().horzres, doc.run_.header_height}), 0);
}

TEST(RenderSheet, StopsWhenASideCannotStart) {
  BoxDocument doc(5);
  BitmapDevice dev(SmallDevice());
  dev.fail_start_at = 1;
  EXPECT_EQ(RenderSheet(doc, dev, 1, 5, kModeOneUp, {}, nullptr), 1);
}

TEST(RenderSheet, SeparatorLinesAreClampedIntoThePrintableArea) {
  auto bmp = gdi::MemoryBitmap::Create(50, 40, 24, 50);
  ASSERT_TRUE(bmp.ok());
  DrawSeparatorLine((*bmp)->dc(), 50, 40, {-10, 60}, {70, 60});
  EXPECT_EQ((*bmp)->Pixel(0, 39), 0u);
  EXPECT_EQ((*bmp)->Pixel(48, 39), 0u);  // the end point itself is not drawn
  EXPECT_EQ((*bmp)->Pixel(25, 38), 0xFFFFFFu);
}

}  // namespace
}  // namespace zv::printing
