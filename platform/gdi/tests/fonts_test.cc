// The font table and what the text queries report about the chosen faces.
#include "platform/gdi/fonts.h"

#include <gtest/gtest.h>

#include "platform/gdi/dc.h"
#include "platform/gdi/surfaces.h"

namespace zv::gdi {
namespace {

TEST(FontsTest, FacesMapToInstalledFamilies) {
  struct Case {
    const char* face;
    win::BYTE charset;
    win::BYTE pitch_family;
    const char* family;
    bool raster;
  };
  const Case cases[] = {
      {"ＭＳ ゴシック", 128, 0, "IPAGothic", false},
      {"ＭＳ 明朝", 128, 0, "IPAMincho", false},
      {"ＭＳ Ｐゴシック", 128, 0, "IPAPGothic", false},
      {"ＭＳ Ｐ明朝", 128, 0, "IPAPMincho", false},
      {"MS UI Gothic", 128, 0, "IPAPGothic", false},
      {"@ＭＳ ゴシック", 128, 0, "IPAGothic", false},
      {"arial", 0, 0, "Liberation Sans", false},
      {"Times New Roman", 0, 0, "Liberation Serif", false},
      {"Courier New", 0, 0, "Liberation Mono", false},
      {"System", 128, 0, "IPAGothic", true},
      {"FIXEDSYS", 128, 0, "IPAGothic", true},
      // Japanese faces that are not installed fall back to a face of the same kind, even
      // when the character set or family would say otherwise.
      {"Meiryo", 0, 0, "IPAGothic", false},
      {"メイリオ", 128, win::FF_ROMAN, "IPAGothic", false},
      {"游ゴシック", 0, win::FF_ROMAN, "IPAGothic", false},
      {"Yu Gothic UI", 0, 0, "IPAGothic", false},
      {"游明朝", 0, win::FF_SWISS, "IPAMincho", false},
      {"Yu Mincho", 0, 0, "IPAMincho", false},
      {"HGPMinchoE", 0, 0, "IPAPMincho", false},
      {"ＭＳ Ｐ明朝", 0, 0, "IPAPMincho", false},
      {"ＨＧＳ創英角ゴシックＵＢ", 0, 0, "IPAGothic", false},
      // Unknown faces fall back by language and family.
      {"No Such Face", 128, win::FF_ROMAN, "IPAPMincho", false},
      {"No Such Face", 1, win::FIXED_PITCH, "IPAGothic", false},
      {"No Such Face", 0, win::FF_ROMAN, "Liberation Serif", false},
      {"No Such Face", 0, win::FF_MODERN, "Liberation Mono", false},
      {"", 0, 0, "Liberation Sans", false},
  };
  for (const Case& c : cases) {
    LOGFONTW lf = MakeLogFont(c.face, -12, win::FW_NORMAL, false, c.charset);
    lf.lfPitchAndFamily = c.pitch_family;
    FontChoice fc = ChooseFont(lf);
    EXPECT_EQ(fc.family, c.family) << c.face;
    EXPECT_EQ(fc.raster, c.raster) << c.face;
  }
}

TEST(FontsTest, MetricsFollowTheHeightRulesAndReportRasterFaces) {
  auto b = MemoryBitmap::Create(10, 10, 24, 96);
  ASSERT_TRUE(b.ok());
  DeviceContext& dc = (*b)->dc();
  win::TEXTMETRICW tm;
  // Negative height: the character height (em) without internal leading.
  dc.SelectFont(Font{MakeLogFont("ＭＳ ゴシック", -20, win::FW_NORMAL, false, 128)});
  ASSERT_TRUE(dc.GetTextMetricsW(&tm));
  EXPECT_EQ(tm.tmHeight - tm.tmInternalLeading, 20);
  EXPECT_TRUE(tm.tmPitchAndFamily & win::TMPF_VECTOR);
  EXPECT_EQ(tm.tmCharSet, 128);
  // Positive height: the cell height.
  dc.SelectFont(Font{MakeLogFont("ＭＳ ゴシック", 20, win::FW_NORMAL, false, 128)});
  ASSERT_TRUE(dc.GetTextMetricsW(&tm));
  EXPECT_NEAR(tm.tmHeight, 20, 1);
  // Half-width characters of the fixed-pitch face are half as wide as full-width ones.
  SIZE half, full;
  dc.GetTextExtentPoint32W(u"AA", &half);
  dc.GetTextExtentPoint32W(u"漢", &full);
  EXPECT_NEAR(half.cx, full.cx, 1);
  // The system font is a raster font for the callers that check.
  dc.SelectStockObject(win::SYSTEM_FONT);
  ASSERT_TRUE(dc.GetTextMetricsW(&tm));
  EXPECT_FALSE(tm.tmPitchAndFamily & win::TMPF_VECTOR);
  // A width scales the characters.
  LOGFONTW wide = MakeLogFont("Arial", -20);
  SIZE normal, stretched;
  dc.SelectFont(Font{wide});
  dc.GetTextExtentPoint32W(u"abcdef", &normal);
  wide.lfWidth = 20;
  dc.SelectFont(Font{wide});
  dc.GetTextExtentPoint32W(u"abcdef", &stretched);
  EXPECT_GT(stretched.cx, normal.cx * 3 / 2);
}

}  // namespace
}  // namespace zv::gdi
