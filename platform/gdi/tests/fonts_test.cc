// The font table and what the text queries report about the chosen faces.
#include "platform/gdi/fonts.h"

#include <gtest/gtest.h>

#include "platform/gdi/dc.h"
#include "platform/gdi/surfaces.h"
#include "platform/gdi/testing/installed_family.h"

namespace zv::gdi {
namespace {

TEST(FontsTest, FacesMapToInstalledFamilies) {
  struct Case {
    const char* face;
    win::BYTE charset;
    win::BYTE pitch_family;
    const char* family;     // where `installed` is not installed
    bool known;             // drawn by its own family or a stand-in, not by a fallback of its kind
    const char* installed = nullptr;  // the face of the same design, where installed
    bool raster = false;
  };
  constexpr win::BYTE kVar = win::VARIABLE_PITCH;
  const Case cases[] = {
      // Fixed-pitch Japanese faces stay fixed pitch; their "P" faces are proportional.
      {"ＭＳ ゴシック", 128, 0, "IPAGothic", true},
      {"MS Gothic", 0, 0, "IPAGothic", true},
      {"ＭＳ　明朝", 128, 0, "IPAMincho", true},
      {"MS Mincho", 1, 0, "IPAMincho", true},
      {"ＭＳ Ｐゴシック", 128, 0, "IPAPGothic", true},
      {"ＭＳ Ｐ明朝", 0, 0, "IPAPMincho", true},
      {"MS UI Gothic", 128, 0, "IPAPGothic", true},
      {"@ＭＳ ゴシック", 128, 0, "IPAGothic", true},
      {"System", 128, 0, "IPAGothic", true, nullptr, true},
      {"FIXEDSYS", 128, 0, "IPAGothic", true, nullptr, true},
      {"HGMinchoE", 128, 0, "IPAMincho", false},
      {"HGゴシックM", 128, 0, "IPAGothic", false},
      {"BIZ UDゴシック", 128, 0, "IPAGothic", false},
      {"Noto Sans Mono CJK JP", 128, 0, "IPAGothic", false},
      // Proportional Japanese faces, whatever the character set and family bits say.
      {"Meiryo", 0, 0, "IPAPGothic", false},
      {"Meiryo UI", 128, kVar, "IPAPGothic", false},
      {"メイリオ", 128, win::FF_ROMAN, "IPAPGothic", false},
      {"Yu Gothic", 0, win::FF_SWISS, "IPAPGothic", false},
      {"游ゴシック", 0, win::FF_ROMAN, "IPAPGothic", false},
      {"Yu Gothic UI", 1, 0, "IPAPGothic", false},
      {"游明朝", 0, win::FF_SWISS, "IPAPMincho", false},
      {"Yu Mincho", 0, 0, "IPAPMincho", false},
      {"ヒラギノ角ゴ ProN W3", 128, 0, "IPAPGothic", false},
      {"ヒラギノ明朝 ProN", 128, 0, "IPAPMincho", false},
      {"Hiragino Kaku Gothic Pro", 0, 0, "IPAPGothic", false},
      {"HGPMinchoE", 0, 0, "IPAPMincho", false},
      {"ＨＧＳ創英角ゴシックＵＢ", 0, 0, "IPAPGothic", false},
      {"BIZ UDPゴシック", 128, 0, "IPAPGothic", false},
      {"Noto Sans CJK JP", 0, 0, "IPAPGothic", false},
      {"IPAexGothic", 128, 0, "IPAPGothic", true},
      {"源ノ明朝", 128, 0, "IPAPMincho", false},
      {"HG丸ｺﾞｼｯｸM-PRO", 128, 0, "IPAPGothic", false},
      // Chinese and Korean faces draw their Han characters in the Japanese face of their kind.
      {"Malgun Gothic", 129, 0, "IPAPGothic", false},
      {"SimSun", 0, 0, "IPAPMincho", false},
      // Latin faces of any name: a Latin face of their kind, whatever the character set.
      {"arial", 0, 0, "Liberation Sans", true},
      {"Times New Roman", 0, 0, "Liberation Serif", true},
      {"Courier New", 128, 0, "Liberation Mono", true},
      {"Century Gothic", 0, kVar, "Liberation Sans", false},
      {"Century Gothic", 128, 0, "Liberation Sans", false},
      {"Franklin Gothic Medium", 1, 0, "Liberation Sans", false},
      {"Letter Gothic", 0, kVar, "Liberation Mono", false},
      {"Calibri", 1, 0, "Liberation Sans", false},
      {"Cambria", 0, 0, "Liberation Serif", false},
      {"Consolas", 128, 0, "Liberation Mono", false},
      {"Georgia", 0, win::FF_SWISS, "Liberation Serif", false},
      {"Trebuchet MS", 0, win::FF_ROMAN, "Liberation Sans", false},
      {"Monotype Corsiva", 0, 0, "Liberation Serif", false},
      {"Lucida Bright", 128, 0, "Liberation Serif", false},
      {"Century", 0, 0, "Liberation Serif", true},
      {"Century Schoolbook", 0, 0, "Liberation Serif", true, "C059"},
      {"Book Antiqua", 0, 0, "Liberation Serif", true, "P052"},
      // Names an embedded PDF font carries: PostScript names (the style is the weight and
      // slant), metric twins, URW designs (found as installed) and TeX's Computer Modern.
      {"Times-Roman", 0, 0, "Liberation Serif", true},
      {"Times-BoldItalic", 0, 0, "Liberation Serif", true},
      {"Helvetica", 0, 0, "Liberation Sans", true},
      {"Helvetica-Oblique", 0, 0, "Liberation Sans", true},
      {"Courier-Bold", 0, 0, "Liberation Mono", true, nullptr, true},
      {"ArialMT", 0, 0, "Liberation Sans", true},
      {"Arial,Bold", 0, 0, "Liberation Sans", true},
      {"TimesNewRomanPS-BoldMT", 0, 0, "Liberation Serif", true},
      {"CourierNewPSMT", 0, 0, "Liberation Mono", true},
      {"Arimo", 0, 0, "Liberation Sans", true, "Arimo"},
      {"Nimbus Roman", 0, 0, "Liberation Serif", true, "Nimbus Roman"},
      {"NimbusSans-Bold", 0, 0, "Liberation Sans", true, "Nimbus Sans"},
      {"NimbusMonoPS-Regular", 0, 0, "Liberation Mono", true, "Nimbus Mono PS"},
      {"NimbusRomNo9L-Regu", 0, 0, "Liberation Serif", true, "Nimbus Roman"},
      {"Palatino-Roman", 0, 0, "Liberation Serif", true, "P052"},
      {"URW Gothic", 0, 0, "Liberation Sans", true, "URW Gothic"},
      {"cmr12", 0, 0, "Liberation Serif", false},  // cmr10 itself comes with fonts-lyx
      {"CMTT10", 0, 0, "Liberation Mono", false},
      {"cmss12", 0, 0, "Liberation Sans", false},
      // Unknown faces fall back by language and family.
      {"No Such Face", 128, win::FF_ROMAN, "IPAPMincho", false},
      {"No Such Face", 1, win::FIXED_PITCH, "IPAGothic", false},
      {"No Such Face", 0, win::FF_ROMAN, "Liberation Serif", false},
      {"No Such Face", 0, win::FF_MODERN, "Liberation Mono", false},
      {"見知らぬ書体", 0, 0, "IPAPGothic", false},
      {"", 0, 0, "Liberation Sans", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.face);
    LOGFONTW lf = MakeLogFont(c.face, -12, win::FW_NORMAL, false, c.charset);
    lf.lfPitchAndFamily = c.pitch_family;
    FontChoice fc = ChooseFont(lf);
    EXPECT_EQ(fc.family, c.installed && FamilyInstalled(c.installed) ? c.installed : c.family);
    EXPECT_EQ(fc.raster, c.raster);
    std::string face = c.face;
    if (!face.empty() && face[0] == '@') face.erase(0, 1);
    EXPECT_EQ(FaceKnown(face), c.known);
  }
}

TEST(FontsTest, CharactersAFaceLacksComeFromAFaceOfItsKind) {
  struct Case {
    const char* face;
    win::LONG weight;
    char32_t c;
    const char* family;  // nullptr: no installed face draws it
  };
  const Case cases[] = {
      // Japanese characters from the Japanese face of the face's kind and pitch.
      {"Times New Roman", win::FW_NORMAL, U'カ', "IPAPMincho"},
      {"Times New Roman", win::FW_BOLD, U'漢', "IPAPMincho"},
      {"Liberation Serif", win::FW_NORMAL, U'漢', "IPAPMincho"},
      {"Arial", win::FW_NORMAL, U'漢', "IPAPGothic"},
      {"Courier New", win::FW_NORMAL, U'カ', "IPAGothic"},
      {"Century Gothic", win::FW_NORMAL, U'。', "IPAPGothic"},
      // Symbols from a face of the same kind that has them.
      {"Arial", win::FW_NORMAL, U'✓', "DejaVu Sans"},
      {"Courier New", win::FW_NORMAL, U'✓', "DejaVu Sans Mono"},
      {"Times New Roman", win::FW_NORMAL, U'𝐀', "DejaVu Serif"},
      // ... from another file of the family itself first (DejaVu Serif has 𝐀 in bold only).
      {"DejaVu Serif", win::FW_NORMAL, U'𝐀', "DejaVu Serif"},
      {"ＭＳ Ｐゴシック", win::FW_NORMAL, U'ﬁ', "DejaVu Sans"},
      // Private-use characters mean something else in every face.
      {"Arial", win::FW_NORMAL, U'\uF021', nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.face) + " U+" + std::to_string(std::uint32_t(c.c)));
    LOGFONTW lf = MakeLogFont(c.face, -12, c.weight, false, win::ANSI_CHARSET);
    const FontChoice choice = ChooseFont(lf);
    const bool fixed = choice.family == "Liberation Mono" || choice.family == "IPAGothic";
    const FallbackFaces::Face* face = FallbackFacesFor(choice, c.weight, false, fixed).FaceFor(c.c);
    const std::string* got = face ? &face->family : nullptr;
    if (c.family) {
      ASSERT_NE(got, nullptr);
      EXPECT_EQ(*got, c.family);
    } else {
      EXPECT_EQ(got, nullptr);
    }
  }
}

// Dark pixels (luma below 160) in a rectangle.
int DarkPixels(const MemoryBitmap& b, int left, int top, int right, int bottom) {
  int n = 0;
  for (int y = std::max(0, top); y < std::min(b.height(), bottom); ++y) {
    for (int x = std::max(0, left); x < std::min(b.width(), right); ++x) {
      const std::uint32_t p = b.Pixel(x, y);
      const int luma = (299 * int((p >> 16) & 0xFF) + 587 * int((p >> 8) & 0xFF) + 114 * int(p & 0xFF)) / 1000;
      if (luma < 160) ++n;
    }
  }
  return n;
}

// Every character of a string in a face that lacks it is drawn, upright and turned, each in a
// cell of its own (the advances place one character a cell).
TEST(FontsTest, EveryCharacterIsDrawnInAFaceThatLacksIt) {
  struct Case {
    const char* face;
    std::u16string text;
    int escapement = 0;
  };
  const Case cases[] = {
      {"Liberation Mono", u"Жизнь"},
      {"Courier New", u"Ωμέγα"},
      {"Liberation Mono", u"カタカナ"},
      {"Arial", u"漢字テスト", 900},
      {"Courier New", u"№→✓①"},
      {"Times New Roman", u"𝐀x𝐁", 0},
      {"Times New Roman", u"𝐀カ", 2700},
      {"ＭＳ Ｐゴシック", u"ﬁ✓"},
      {"Meiryo", u"Meiryo：日本語"},
  };
  constexpr int kCell = 40, kEm = 30, kOrigin = 20;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.face);
    // One advance per character; the second unit of a surrogate pair adds nothing.
    std::vector<int> dx;
    int cells = 0;
    for (size_t i = 0; i < c.text.size(); ++i) {
      const bool low = i > 0 && c.text[i] >= 0xDC00 && c.text[i] < 0xE000;
      dx.push_back(low ? 0 : kCell);
      cells += low ? 0 : 1;
    }
    const int length = kOrigin * 2 + cells * kCell;
    const bool upright = c.escapement == 0;
    auto b = MemoryBitmap::Create(upright ? length : 100, upright ? 100 : length, 24, 96);
    ASSERT_TRUE(b.ok());
    DeviceContext& dc = (*b)->dc();
    LOGFONTW lf = MakeLogFont(c.face, -kEm, win::FW_NORMAL, false, win::ANSI_CHARSET);
    lf.lfEscapement = lf.lfOrientation = c.escapement;
    dc.SelectFont(Font{lf});
    dc.SetBkMode(win::TRANSPARENT);
    dc.SetTextAlign(win::TA_BASELINE);
    // Upright text runs right along y = 60; at 90 degrees up from the bottom along x = 60, at
    // 270 degrees down from the top along x = 40.
    const int x = upright ? kOrigin : c.escapement == 900 ? 60 : 40;
    const int y = upright ? 60 : c.escapement == 900 ? length - kOrigin : kOrigin;
    ASSERT_TRUE(dc.ExtTextOutW(x, y, 0, nullptr, c.text, dx));
    for (int i = 0; i < cells; ++i) {
      int ink;
      if (upright) {
        ink = DarkPixels(**b, kOrigin + i * kCell, 0, kOrigin + (i + 1) * kCell, 100);
      } else if (c.escapement == 900) {
        ink = DarkPixels(**b, 0, y - (i + 1) * kCell, 100, y - i * kCell);
      } else {
        ink = DarkPixels(**b, 0, y + i * kCell, 100, y + (i + 1) * kCell);
      }
      EXPECT_GE(ink, 20) << "character " << i;
    }
    // The text is measured with the faces it is drawn with: each character has its width.
    SIZE size;
    ASSERT_TRUE(dc.GetTextExtentPoint32W(c.text, &size));
    EXPECT_GE(size.cx, cells * kEm / 4);
  }
  // A combining mark the face lacks is drawn over the letter before it.
  auto b = MemoryBitmap::Create(200, 100, 24, 96);
  ASSERT_TRUE(b.ok());
  DeviceContext& dc = (*b)->dc();
  dc.SelectFont(Font{MakeLogFont("Times New Roman", -kEm)});
  dc.SetBkMode(win::TRANSPARENT);
  dc.SetTextAlign(win::TA_BASELINE);
  ASSERT_TRUE(dc.ExtTextOutW(20, 60, 0, nullptr, u"x", std::vector<int>{kCell}));
  ASSERT_TRUE(dc.ExtTextOutW(120, 60, 0, nullptr, u"x\u20D7", std::vector<int>{kCell, 0}));
  EXPECT_GE(DarkPixels(**b, 100, 0, 200, 100), DarkPixels(**b, 0, 0, 100, 100) + 20);
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
