// Pages recorded with the recorder (or drawn directly) and probed at pixels: faces chosen by
// installed family name, fixed map modes through the reference device, geometric pens,
// reductions by stretch mode, and text under shearing and y-flipping transforms.
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "platform/gdi/player.h"
#include "platform/gdi/recorder/recorder.h"
#include "platform/gdi/surfaces.h"
#include "platform/gdi/testing/installed_family.h"

namespace zv::gdi {
namespace {

using win::RGB;
constexpr std::uint32_t kWhite = 0xFFFFFF, kBlack = 0;

std::unique_ptr<MemoryBitmap> NewBitmap(int w, int h, double dpi = 96) {
  auto b = MemoryBitmap::Create(w, h, 24, dpi);
  EXPECT_TRUE(b.ok()) << b.status().ToString();
  return std::move(*b);
}

Pen MakePen(win::UINT style, win::LONG width, bool extended, std::vector<win::DWORD> dashes = {}) {
  Pen p;
  p.style = style;
  p.width = width;
  p.extended = extended;
  p.style_entries = std::move(dashes);
  return p;
}

// The ink's bounding box and per-row counts.
struct Ink {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
  std::vector<int> per_row;
  double sum_x_top = 0, sum_y_top = 0, n_top = 0, sum_x_bottom = 0, sum_y_bottom = 0, n_bottom = 0;
  // How far the ink leans: the shift right of its top quarter's middle against its bottom
  // quarter's, per pixel of height between them (0 for upright ink).
  double Lean() const {
    const double dy = sum_y_bottom / n_bottom - sum_y_top / n_top;
    return (sum_x_top / n_top - sum_x_bottom / n_bottom) / dy;
  }
};

Ink InkOf(const MemoryBitmap& b) {
  Ink k;
  k.per_row.assign(size_t(b.height()), 0);
  for (int y = 0; y < b.height(); ++y) {
    for (int x = 0; x < b.width(); ++x) {
      if (b.Pixel(x, y) == kWhite) continue;
      ++k.per_row[size_t(y)];
      k.left = std::min(k.left, x);
      k.right = std::max(k.right, x);
      k.top = std::min(k.top, y);
      k.bottom = std::max(k.bottom, y);
    }
  }
  // Mean x of the ink in the top and in the bottom quarter of its box.
  const int quarter = (k.bottom - k.top + 1) / 4;
  for (int y = k.top; y <= k.bottom; ++y) {
    for (int x = 0; x < b.width(); ++x) {
      if (b.Pixel(x, y) == kWhite) continue;
      if (y < k.top + quarter) {
        k.sum_x_top += x;
        k.sum_y_top += y;
        ++k.n_top;
      } else if (y > k.bottom - quarter) {
        k.sum_x_bottom += x;
        k.sum_y_bottom += y;
        ++k.n_bottom;
      }
    }
  }
  return k;
}

// Length of the run of non-white pixels starting at (x, y) going right.
int RunRight(const MemoryBitmap& b, int x, int y) {
  int n = 0;
  while (x + n < b.width() && b.Pixel(x + n, y) != kWhite) ++n;
  return n;
}


TEST(DrawingRulesTest, InstalledFamiliesNamedByFaceAreDrawnInThem) {
  enum Kind { kSerif, kSans, kMono };
  struct Case {
    const char* face;    // as office programs write it
    const char* family;  // the installed family
    Kind kind;
  };
  const Case cases[] = {
      {"Liberation Serif", "Liberation Serif", kSerif},
      {"LiberationSerif", "Liberation Serif", kSerif},
      {"DejaVu Serif", "DejaVu Serif", kSerif},
      {"DejaVu Sans Mono", "DejaVu Sans Mono", kMono},
      {"liberation mono", "Liberation Mono", kMono},
      {"DejaVu Sans", "DejaVu Sans", kSans},
      {"Liberation Sans", "Liberation Sans", kSans},
      {"IPAPMincho", "IPAPMincho", kSerif},
      {"IPA Gothic", "IPAGothic", kMono},
      {"IPAPGothic", "IPAPGothic", kSans},
  };
  for (const Case& c : cases) {
    if (!FamilyInstalled(c.family)) continue;  // scripts/packages.txt installs them all
    SCOPED_TRACE(c.face);
    auto b = NewBitmap(200, 200);
    DeviceContext& dc = b->dc();
    LOGFONTW lf = MakeLogFont(c.face, -120, win::FW_NORMAL, false, win::ANSI_CHARSET);
    lf.lfPitchAndFamily = win::VARIABLE_PITCH;  // and FF_DONTCARE (0)
    dc.SelectFont(Font{lf});
    EXPECT_EQ(dc.GetTextFace(), c.family);
    SIZE narrow, wide;
    ASSERT_TRUE(dc.GetTextExtentPoint32W(u"iiiii", &narrow));
    ASSERT_TRUE(dc.GetTextExtentPoint32W(u"MMMMM", &wide));
    if (c.kind == kMono) {
      EXPECT_EQ(narrow.cx, wide.cx);
    } else {
      EXPECT_LT(narrow.cx * 2, wide.cx);
    }
    // A serif face's "I" is wider at its foot than along its stem.
    dc.SetBkMode(win::TRANSPARENT);
    ASSERT_TRUE(dc.TextOutW(60, 20, u"I"));
    Ink ink = InkOf(*b);
    ASSERT_GT(ink.bottom, ink.top + 20);
    const int foot = ink.per_row[size_t(ink.bottom - 1)], stem = ink.per_row[size_t((ink.top + ink.bottom) / 2)];
    if (c.kind == kSerif) {
      EXPECT_GT(foot, stem * 3 / 2);
    } else if (c.kind == kSans) {
      EXPECT_LE(foot, stem + 2);
    }
  }
}

// A metafile with a 10 mm black square at (100 mm, 100 mm) recorded in MM_LOMETRIC for an A4
// reference device of `dpi`.
std::vector<std::uint8_t> LometricSquare(int dpi) {
  MetafileRecorder::Options o;
  o.device = {int(std::lround(210 / 25.4 * dpi)), int(std::lround(297 / 25.4 * dpi))};
  o.millimeters = {210, 297};
  o.frame = win::RECTL{0, 0, 21000, 29700};
  MetafileRecorder rec(o);
  rec.SetMapMode(win::MM_LOMETRIC);
  rec.SelectStockObject(win::NULL_PEN);
  rec.SelectStockObject(win::BLACK_BRUSH);
  rec.Rectangle(1000, -1000, 1100, -1100);
  auto bytes = rec.Close();
  EXPECT_TRUE(bytes.ok());
  return bytes.ok() ? *bytes : std::vector<std::uint8_t>{};
}

TEST(DrawingRulesTest, FixedMapModesMeasureAgainstTheReferenceDevice) {
  // The same A4 bitmap of 1654 x 2339 pixels (200 dpi) stating different resolutions: 10 mm
  // is 79 pixels in every case, from either reference device.
  const int kW = 1654, kH = 2339;
  for (double stated : {96.0, 200.0, 600.0}) {
    auto b = NewBitmap(kW, kH, stated);
    for (int ref_dpi : {300, 600}) {
      SCOPED_TRACE(testing::Message() << stated << " dpi stated, " << ref_dpi << " dpi reference");
      b->dc().PatBlt(0, 0, kW, kH, win::WHITENESS);
      auto mf = LometricSquare(ref_dpi);
      auto p = Player::Open(mf);
      ASSERT_TRUE(p.ok());
      SIZE ext{0, 0};
      RECT dest{0, 0, kW, kH};
      ASSERT_TRUE(p->Play(b->dc(), &dest, [&](Player& pl, const emf::Record& r) {
                     Status s = pl.PlayRecord(r);
                     if (r.type == win::EMR_SETMAPMODE) ext = pl.dc().GetWindowExtEx();
                     return s;
                   }).ok());
      EXPECT_EQ(ext.cx, 2100);
      EXPECT_EQ(ext.cy, 2970);
      // The row through the square's middle: its ink starts at 100 mm and is 10 mm long.
      const int y = int(std::lround(105 / 25.4 * 200));
      int x = 0;
      while (x < kW && b->Pixel(x, y) == kWhite) ++x;
      EXPECT_NEAR(x, 100 / 25.4 * 200, 1);
      EXPECT_NEAR(RunRight(*b, x, y), 79, 1);
    }
  }
  // Drawn directly, a device context measures against its own resolution.
  for (double dpi : {96.0, 200.0}) {
    auto b = NewBitmap(200, 200, dpi);
    DeviceContext& dc = b->dc();
    dc.SetMapMode(win::MM_LOMETRIC);
    dc.SelectStockObject(win::NULL_PEN);
    dc.SelectStockObject(win::BLACK_BRUSH);
    dc.Rectangle(0, 0, 100, -100);
    EXPECT_NEAR(RunRight(*b, 0, 5), 10 / 25.4 * dpi, 1) << dpi;
  }
}

// A horizontal line with `pen` in a metafile of a 300 dpi reference device 590 x 295 pixels
// (50 x 25 mm), played at `scale` destination pixels per reference pixel.
std::unique_ptr<MemoryBitmap> PlayedLine(const Pen& pen, double scale) {
  MetafileRecorder::Options o;
  o.device = {590, 295};
  o.millimeters = {50, 25};
  o.frame = win::RECTL{0, 0, 5000, 2500};
  MetafileRecorder rec(o);
  rec.SelectPen(pen);
  rec.MoveToEx(20, 150);
  rec.LineTo(570, 150);
  auto bytes = rec.Close();
  EXPECT_TRUE(bytes.ok());
  const int w = int(std::lround(590 * scale)), h = int(std::lround(295 * scale));
  auto b = NewBitmap(w, h);
  RECT dest{0, 0, w, h};
  EXPECT_TRUE(PlayMetafile(b->dc(), *bytes, &dest).ok());
  return b;
}

TEST(DrawingRulesTest, UserStyledDashesScaleWithGeometricPensOnly) {
  struct Case {
    Pen pen;
    double scale;
    int dash;  // expected length of the first dash in destination pixels
  };
  const win::UINT geometric = win::PS_GEOMETRIC | win::PS_USERSTYLE | win::PS_ENDCAP_FLAT;
  const win::UINT cosmetic = win::PS_COSMETIC | win::PS_USERSTYLE;
  const Case cases[] = {
      {MakePen(geometric, 6, true, {60, 60}), 2.0 / 3.0, 40},  // 200 dpi
      {MakePen(geometric, 6, true, {60, 60}), 2.0, 120},       // 600 dpi
      {MakePen(cosmetic, 1, true, {6, 6}), 2.0 / 3.0, 6},
      {MakePen(cosmetic, 1, true, {6, 6}), 2.0, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.pen.style & win::PS_TYPE_MASK) << " at " << c.scale);
    auto b = PlayedLine(c.pen, c.scale);
    const int y = int(std::lround(150 * c.scale)), x0 = int(std::lround(20 * c.scale));
    int x = x0;
    while (x < b->width() && b->Pixel(x, y) == kWhite) ++x;
    EXPECT_LE(x - x0, 1);
    EXPECT_NEAR(RunRight(*b, x, y), c.dash, 1);
  }
}

TEST(DrawingRulesTest, InsideFramePensStayInsideTheBox) {
  struct Case {
    const char* shape;
    Pen pen;
  };
  const Case cases[] = {
      {"rectangle", MakePen(win::PS_INSIDEFRAME, 15, false)},
      {"rectangle", MakePen(win::PS_GEOMETRIC | win::PS_INSIDEFRAME, 14, true)},
      {"ellipse", MakePen(win::PS_INSIDEFRAME, 15, false)},
      {"roundrect", MakePen(win::PS_INSIDEFRAME, 15, false)},
      {"chord", MakePen(win::PS_INSIDEFRAME, 15, false)},
      {"pie", MakePen(win::PS_INSIDEFRAME, 15, false)},
      {"arc", MakePen(win::PS_INSIDEFRAME, 15, false)},
      {"arcto", MakePen(win::PS_GEOMETRIC | win::PS_INSIDEFRAME, 15, true)},
  };
  const RECT box{50, 50, 150, 150};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.shape << " " << c.pen.width);
    auto b = NewBitmap(200, 200);
    DeviceContext& dc = b->dc();
    dc.SelectPen(c.pen);
    dc.SelectStockObject(win::NULL_BRUSH);
    const std::string s = c.shape;
    // Arcs run counter-clockwise from the top through the left side to the bottom.
    if (s == "rectangle") dc.Rectangle(box.left, box.top, box.right, box.bottom);
    if (s == "ellipse") dc.Ellipse(box.left, box.top, box.right, box.bottom);
    if (s == "roundrect") dc.RoundRect(box.left, box.top, box.right, box.bottom, 30, 30);
    if (s == "chord") dc.Chord(box, 100, 0, 100, 200);
    if (s == "pie") dc.Pie(box, 100, 0, 100, 200);
    if (s == "arc") dc.Arc(box, 100, 0, 100, 200);
    if (s == "arcto") {
      dc.MoveToEx(100, 50);
      dc.ArcTo(box, 100, 0, 100, 200);
    }
    Ink ink = InkOf(*b);
    EXPECT_GE(ink.left, box.left);
    EXPECT_GE(ink.top, box.top);
    EXPECT_LT(ink.right, box.right);
    EXPECT_LT(ink.bottom, box.bottom);
    // The outline reaches the box and is as wide as the pen.
    EXPECT_EQ(ink.left, box.left);
    EXPECT_NEAR(RunRight(*b, box.left, 100), c.pen.width, 1);
  }
  // Drawn with a plain solid pen the same outline spills outside.
  auto b = NewBitmap(200, 200);
  b->dc().SelectPen(MakePen(win::PS_SOLID, 15, false));
  b->dc().SelectStockObject(win::NULL_BRUSH);
  b->dc().Ellipse(box.left, box.top, box.right, box.bottom);
  EXPECT_LT(InkOf(*b).left, box.left);
}

TEST(DrawingRulesTest, InsideFrameFiguresAreShrunkFillIncluded) {
  struct Case {
    Pen pen;
    bool corner_inked;  // the box's outermost corner pixel is under the outline
  };
  const win::UINT geometric = win::PS_GEOMETRIC | win::PS_INSIDEFRAME;
  const Case cases[] = {
      {MakePen(win::PS_INSIDEFRAME, 15, false), false},  // round joins
      {MakePen(geometric | win::PS_JOIN_ROUND, 14, true), false},
      {MakePen(geometric | win::PS_JOIN_BEVEL, 15, true), false},
      {MakePen(geometric | win::PS_JOIN_MITER, 15, true), true},
  };
  const RECT box{50, 50, 150, 150};
  const std::uint32_t red = 0xFF0000;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.pen.style << std::dec << " " << c.pen.width);
    auto b = NewBitmap(200, 200);
    DeviceContext& dc = b->dc();
    dc.SelectPen(c.pen);
    dc.SelectBrush(Brush::Solid(RGB(255, 0, 0)));
    dc.Rectangle(box.left, box.top, box.right, box.bottom);
    const POINT corners[] = {{box.left, box.top},
                             {box.right - 1, box.top},
                             {box.left, box.bottom - 1},
                             {box.right - 1, box.bottom - 1}};
    for (const POINT& p : corners) {
      EXPECT_EQ(b->Pixel(p.x, p.y), c.corner_inked ? kBlack : kWhite) << p.x << "," << p.y;
    }
    // The outline keeps its width along the sides and the fill shows inside it.
    EXPECT_EQ(b->Pixel(box.left, 100), kBlack);
    EXPECT_EQ(b->Pixel(box.left + c.pen.width - 1, 100), kBlack);
    EXPECT_EQ(b->Pixel(box.left + c.pen.width, 100), red);
    EXPECT_EQ(b->Pixel(100, 100), red);
  }
}

// A 24-bit checker of 1-pixel black and white squares.
Dib Checker(int n) {
  std::vector<std::uint32_t> px(size_t(n) * n);
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) px[size_t(y) * n + x] = (x + y) % 2 ? kWhite : kBlack;
  return EncodeDib(n, n, px, 24);
}

TEST(DrawingRulesTest, ReductionsCombineEliminatedPixelsAsTheStretchModeSays) {
  enum Expect { kAllBlack, kAllWhite, kBlackOrWhite, kGrey };
  struct Case {
    int mode;
    bool rotated;  // drawn through a rotating world transform (the path vector pages take)
    Expect expect;
  };
  const Case cases[] = {
      {win::BLACKONWHITE, false, kAllBlack},     {win::WHITEONBLACK, false, kAllWhite},
      {win::COLORONCOLOR, false, kBlackOrWhite}, {win::HALFTONE, false, kGrey},
      {win::BLACKONWHITE, true, kAllBlack},      {win::HALFTONE, true, kGrey},
  };
  const Dib checker = Checker(200);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << (c.rotated ? " rotated" : ""));
    auto b = NewBitmap(40, 40);
    DeviceContext& dc = b->dc();
    if (c.rotated) {
      // A quarter turn about (20, 20).
      dc.SetWorldTransform(XFORM{0, 1, -1, 0, 40, 0});
    }
    dc.SetStretchBltMode(c.mode);
    ASSERT_TRUE(dc.StretchDIBits(10, 10, 10, 10, 0, 0, 200, 200, checker.ref(), win::SRCCOPY));
    const int x0 = c.rotated ? 20 : 10, y0 = 10;
    for (int y = y0; y < y0 + 10; ++y) {
      for (int x = x0; x < x0 + 10; ++x) {
        const std::uint32_t v = b->Pixel(x, y);
        switch (c.expect) {
          case kAllBlack:
            ASSERT_EQ(v, kBlack) << x << "," << y;
            break;
          case kAllWhite:
            ASSERT_EQ(v, kWhite) << x << "," << y;
            break;
          case kBlackOrWhite:
            ASSERT_TRUE(v == kBlack || v == kWhite) << x << "," << y;
            break;
          case kGrey:
            ASSERT_NEAR(int(v & 0xFF), 128, 2) << x << "," << y;
            ASSERT_EQ(v, (v & 0xFF) * 0x010101u);
            break;
        }
      }
    }
  }
  // Enlargements are not smoothed, whatever the mode.
  auto b = NewBitmap(40, 40);
  b->dc().SetStretchBltMode(win::HALFTONE);
  const Dib small = Checker(4);
  ASSERT_TRUE(b->dc().StretchDIBits(0, 0, 40, 40, 0, 0, 4, 4, small.ref(), win::SRCCOPY));
  EXPECT_EQ(b->Pixel(5, 5), kBlack);
  EXPECT_EQ(b->Pixel(9, 9), kBlack);
  EXPECT_EQ(b->Pixel(10, 9), kWhite);
}

TEST(DrawingRulesTest, ClippedReductionsShowThePixelsOfTheWholeReduction) {
  struct Case {
    int mode;
    bool mirror_x, mirror_y;
    RECT clip;
  };
  const Case cases[] = {
      {win::BLACKONWHITE, false, false, {23, 17, 41, 52}}, {win::WHITEONBLACK, false, false, {10, 10, 30, 30}},
      {win::HALFTONE, false, false, {31, 12, 70, 29}},     {win::BLACKONWHITE, true, false, {23, 17, 41, 52}},
      {win::HALFTONE, false, true, {12, 40, 66, 71}},      {win::BLACKONWHITE, true, true, {60, 60, 75, 75}},
  };
  // Noise: any pixel taken from the wrong place of the reduction shows.
  std::vector<std::uint32_t> px(size_t(211) * 187);
  std::uint32_t noise = 99;
  for (std::uint32_t& v : px) {
    noise = noise * 1103515245u + 12345u;
    v = (noise >> 8) & 0xFFFFFF;
  }
  const Dib picture = EncodeDib(211, 187, px, 24);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << (c.mirror_x ? " mirrored x" : "")
                                    << (c.mirror_y ? " mirrored y" : ""));
    auto draw = [&](const RECT* clip) {
      auto b = NewBitmap(90, 90);
      DeviceContext& dc = b->dc();
      dc.SetStretchBltMode(c.mode);
      if (clip) dc.IntersectClipRect(clip->left, clip->top, clip->right, clip->bottom);
      // 211 x 187 pixels onto 67 x 61.
      const int x = c.mirror_x ? 77 : 10, cx = c.mirror_x ? -67 : 67;
      const int y = c.mirror_y ? 75 : 14, cy = c.mirror_y ? -61 : 61;
      EXPECT_TRUE(dc.StretchDIBits(x, y, cx, cy, 0, 0, 211, 187, picture.ref(), win::SRCCOPY));
      return b;
    };
    auto whole = draw(nullptr);
    auto part = draw(&c.clip);
    for (int y = 0; y < 90; ++y) {
      for (int x = 0; x < 90; ++x) {
        const bool seen = x >= c.clip.left && x < c.clip.right && y >= c.clip.top && y < c.clip.bottom;
        ASSERT_EQ(part->Pixel(x, y), seen ? whole->Pixel(x, y) : kWhite) << x << "," << y;
      }
    }
  }
}

// Records "T" at 200 px under `setup` on a 600 x 600 pixel reference device (4 pixels per
// millimetre) and plays it 1:1; gives the ink.
Ink PlayedText(const std::function<void(MetafileRecorder&)>& setup, int x, int y) {
  MetafileRecorder::Options o;
  o.device = {600, 600};
  o.millimeters = {150, 150};
  o.frame = win::RECTL{0, 0, 15000, 15000};
  MetafileRecorder rec(o);
  setup(rec);
  rec.SetBkMode(win::TRANSPARENT);
  rec.SelectFont(Font{MakeLogFont("Liberation Sans", -200, win::FW_BOLD, false, win::ANSI_CHARSET)});
  std::vector<int> dx = {120};
  rec.ExtTextOutW(x, y, 0, nullptr, u"T", dx);
  auto bytes = rec.Close();
  EXPECT_TRUE(bytes.ok());
  auto b = NewBitmap(600, 600);
  RECT dest{0, 0, 600, 600};
  EXPECT_TRUE(PlayMetafile(b->dc(), *bytes, &dest).ok());
  return InkOf(*b);
}

TEST(DrawingRulesTest, ShearedTextLeansAndFlippedCompatibleTextStaysUpright) {
  struct Case {
    const char* what;
    std::function<void(MetafileRecorder&)> setup;
    int x, y;
    double lean;   // expected lean of the ink (see Ink::Lean)
    bool bar_top;  // the bar of the T is at the top of the ink
  };
  const Case cases[] = {
      {"plain", [](MetafileRecorder&) {}, 120, 80, 0.0, true},
      {"sheared",
       [](MetafileRecorder& r) {
         r.SetWorldTransform(XFORM{1, 0, -0.5f, 1, 0, 0});
       },
       200, 80, 0.5, true},
      {"MM_LOMETRIC, GM_COMPATIBLE", [](MetafileRecorder& r) { r.SetMapMode(win::MM_LOMETRIC); }, 480, -320, 0.0, true},
      {"MM_LOMETRIC, GM_ADVANCED",
       [](MetafileRecorder& r) {
         r.SetMapMode(win::MM_LOMETRIC);
         r.SetGraphicsMode(int(win::GM_ADVANCED));
       },
       480, -750, 0.0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Ink ink = PlayedText(c.setup, c.x, c.y);
    ASSERT_GT(ink.bottom - ink.top, 50);
    ASSERT_GT(ink.left, 0);
    ASSERT_LT(ink.right, 599);
    ASSERT_GT(ink.n_top, 0);
    ASSERT_GT(ink.n_bottom, 0);
    EXPECT_NEAR(ink.Lean(), c.lean, 0.12);
    // The bar: the widest row is in the top or in the bottom quarter.
    const double height = ink.bottom - ink.top + 1;
    int widest = ink.top;
    for (int y = ink.top; y <= ink.bottom; ++y) {
      if (ink.per_row[size_t(y)] > ink.per_row[size_t(widest)]) widest = y;
    }
    if (c.bar_top) {
      EXPECT_LT(widest, ink.top + height / 4) << ink.top << ".." << ink.bottom;
    } else {
      EXPECT_GT(widest, ink.bottom - height / 4) << ink.top << ".." << ink.bottom;
    }
  }
}

}  // namespace
}  // namespace zv::gdi
