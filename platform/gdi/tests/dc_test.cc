// Drawing on memory bitmaps, checked at probe pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/gdi/dc.h"
#include "platform/gdi/surfaces.h"

namespace zv::gdi {
namespace {

using win::RGB;
constexpr std::uint32_t kWhite = 0xFFFFFF, kBlack = 0, kRed = 0xFF0000, kBlue = 0x0000FF;

std::unique_ptr<MemoryBitmap> NewBitmap(int w = 100, int h = 100, double dpi = 96) {
  auto b = MemoryBitmap::Create(w, h, 24, dpi);
  EXPECT_TRUE(b.ok()) << b.status().ToString();
  return std::move(*b);
}

// Counts pixels in [l, r) x [t, b) that are not white.
int Ink(const MemoryBitmap& b, int l, int t, int r, int bot) {
  int n = 0;
  for (int y = std::max(t, 0); y < std::min(bot, b.height()); ++y)
    for (int x = std::max(l, 0); x < std::min(r, b.width()); ++x) n += b.Pixel(x, y) != kWhite;
  return n;
}

// A small 24-bit bitmap from 0xRRGGBB pixels, top row first, stored bottom-up or top-down.
Dib MakeDib24(int w, int h, const std::vector<std::uint32_t>& px, bool top_down = false) {
  Dib d = EncodeDib(w, h, px, 24);
  if (top_down) {
    win::BITMAPINFOHEADER hdr;
    std::memcpy(&hdr, d.info.data(), sizeof(hdr));
    hdr.biHeight = -h;
    std::memcpy(d.info.data(), &hdr, sizeof(hdr));
    size_t stride = d.bits.size() / h;
    std::vector<std::uint8_t> flipped(d.bits.size());
    for (int y = 0; y < h; ++y) std::memcpy(&flipped[y * stride], &d.bits[(h - 1 - y) * stride], stride);
    d.bits = flipped;
  }
  return d;
}

TEST(DcTest, RectangleFillsInsideOutlinesWithPenAndLeavesOutside) {
  auto b = NewBitmap();
  DeviceContext& dc = b->dc();
  dc.SelectBrush(Brush::Solid(RGB(255, 0, 0)));
  dc.SelectPen(Pen{win::PS_SOLID, 0, RGB(0, 0, 255)});
  dc.Rectangle(10, 10, 50, 40);
  EXPECT_EQ(b->Pixel(30, 25), kRed);
  EXPECT_EQ(b->Pixel(10, 20), kBlue);   // left edge
  EXPECT_EQ(b->Pixel(49, 20), kBlue);   // right edge is the last pixel inside
  EXPECT_EQ(b->Pixel(50, 20), kWhite);  // right coordinate excluded
  EXPECT_EQ(b->Pixel(30, 40), kWhite);
  EXPECT_EQ(b->Pixel(5, 5), kWhite);
  dc.SelectStockObject(win::NULL_PEN);
  dc.SelectStockObject(win::BLACK_BRUSH);
  dc.Ellipse(60, 60, 90, 90);
  EXPECT_EQ(b->Pixel(75, 75), kBlack);
  EXPECT_EQ(b->Pixel(61, 61), kWhite);  // outside the ellipse, inside its box
}

TEST(DcTest, BinaryRasterOperations) {
  auto b = NewBitmap();
  DeviceContext& dc = b->dc();
  dc.SelectStockObject(win::NULL_PEN);
  dc.SelectBrush(Brush::Solid(RGB(255, 0, 0)));
  dc.Rectangle(0, 0, 50, 50);
  // XOR with yellow on red gives green; twice gives red back.
  dc.SetROP2(win::R2_XORPEN);
  dc.SelectBrush(Brush::Solid(RGB(255, 255, 0)));
  dc.Rectangle(20, 20, 80, 80);
  EXPECT_EQ(b->Pixel(30, 30), 0x00FF00u);
  EXPECT_EQ(b->Pixel(60, 60), 0x0000FFu);  // yellow ^ white
  dc.Rectangle(20, 20, 80, 80);
  EXPECT_EQ(b->Pixel(30, 30), kRed);
  EXPECT_EQ(b->Pixel(60, 60), kWhite);
  dc.SetROP2(win::R2_NOT);
  dc.Rectangle(0, 0, 10, 10);
  EXPECT_EQ(b->Pixel(5, 5), 0x00FFFFu);
  dc.SetROP2(win::R2_MASKPEN);  // AND
  dc.SelectBrush(Brush::Solid(RGB(0, 255, 255)));
  dc.Rectangle(0, 0, 10, 10);
  EXPECT_EQ(b->Pixel(5, 5), 0x00FFFFu);
  EXPECT_EQ(b->Pixel(15, 5), kRed);  // outside the rectangle
}

TEST(DcTest, TernaryRasterOperationsAreExact) {
  // Destination 0x336699 everywhere, source 0x0F0F0F, pattern 0xF0CC55.
  const std::uint32_t D = 0x336699, S = 0x0F0F0F, P = 0xF0CC55;
  struct Case {
    win::DWORD rop;
    std::uint32_t want;
  };
  const Case cases[] = {
      {win::SRCCOPY, S},
      {win::SRCAND, S & D},
      {win::SRCPAINT, S | D},
      {win::SRCINVERT, S ^ D},
      {win::NOTSRCCOPY, ~S & 0xFFFFFF},
      {win::SRCERASE, S & ~D & 0xFFFFFF},
      {win::MERGECOPY, P & S},
      {win::PATCOPY, P},
      {win::PATINVERT, P ^ D},
      {win::DSTINVERT, ~D & 0xFFFFFF},
      {win::BLACKNESS, 0},
      {win::WHITENESS, 0xFFFFFF},
      {0x00B8074A, ((D ^ P) & S) ^ P},  // PSDPxax: pattern where the source is 0
      {0x00E20746, D ^ (S & (P ^ D))},  // DSPDxax
  };
  auto src = NewBitmap(10, 10);
  src->dc().SelectStockObject(win::NULL_PEN);
  src->dc().SelectBrush(Brush::Solid(RGB(0x0F, 0x0F, 0x0F)));
  src->dc().Rectangle(0, 0, 10, 10);
  for (const Case& c : cases) {
    auto b = NewBitmap(10, 10);
    DeviceContext& dc = b->dc();
    dc.SelectStockObject(win::NULL_PEN);
    dc.SelectBrush(Brush::Solid(RGB(0x33, 0x66, 0x99)));
    dc.Rectangle(0, 0, 10, 10);
    dc.SelectBrush(Brush::Solid(RGB(0xF0, 0xCC, 0x55)));
    dc.BitBlt(2, 2, 5, 5, &src->dc(), 0, 0, c.rop);
    EXPECT_EQ(b->Pixel(4, 4), c.want) << std::hex << c.rop;
    EXPECT_EQ(b->Pixel(8, 8), D) << std::hex << c.rop;
  }
}

TEST(DcTest, MapModesAndTransforms) {
  auto b = NewBitmap(200, 200, 25.4);  // 1 pixel per millimetre
  DeviceContext& dc = b->dc();
  dc.SelectStockObject(win::NULL_PEN);
  dc.SelectStockObject(win::BLACK_BRUSH);
  // MM_LOMETRIC: 0.1 mm units, y up: (10, -10)..(20, -20) is pixels 1..2 below the origin.
  dc.SetMapMode(win::MM_LOMETRIC);
  dc.SetViewportOrgEx(0, 100);
  POINT p{100, 50};
  dc.LPtoDP(std::span<POINT>(&p, 1));
  EXPECT_EQ(p.x, 10);
  EXPECT_EQ(p.y, 95);
  // MM_ANISOTROPIC: window 1000 x 1000 onto a 200 x 100 viewport.
  dc.SetMapMode(win::MM_ANISOTROPIC);
  dc.SetViewportOrgEx(0, 0);
  dc.SetWindowExtEx(1000, 1000);
  dc.SetViewportExtEx(200, 100);
  p = {500, 500};
  dc.LPtoDP(std::span<POINT>(&p, 1));
  EXPECT_EQ(p.x, 100);
  EXPECT_EQ(p.y, 50);
  // MM_ISOTROPIC keeps the scale equal: the smaller one wins.
  dc.SetMapMode(win::MM_ISOTROPIC);
  dc.SetWindowExtEx(1000, 1000);
  dc.SetViewportExtEx(200, 100);
  SIZE v = dc.GetViewportExtEx();
  EXPECT_EQ(v.cx, 100);
  EXPECT_EQ(v.cy, 100);
  // SaveDC / RestoreDC bring the mode back.
  int level = dc.SaveDC();
  dc.SetMapMode(win::MM_TEXT);
  XFORM shift{1, 0, 0, 1, 50, 0};
  dc.SetWorldTransform(shift);
  dc.Rectangle(0, 0, 10, 10);
  EXPECT_EQ(b->Pixel(55, 5), kBlack);
  EXPECT_EQ(b->Pixel(5, 5), kWhite);
  EXPECT_TRUE(dc.RestoreDC(level));
  EXPECT_EQ(dc.GetMapMode(), win::MM_ISOTROPIC);
  EXPECT_FALSE(dc.RestoreDC(-1));
  XFORM id = dc.GetWorldTransform();
  EXPECT_FLOAT_EQ(id.eDx, 0);
}

TEST(DcTest, ClippingModesAndMetaRegion) {
  auto b = NewBitmap();
  DeviceContext& dc = b->dc();
  dc.SelectStockObject(win::NULL_PEN);
  dc.SelectStockObject(win::BLACK_BRUSH);
  dc.IntersectClipRect(10, 10, 60, 60);
  dc.ExcludeClipRect(20, 20, 30, 30);
  RECT box;
  EXPECT_EQ(dc.GetClipBox(&box), win::COMPLEXREGION);
  EXPECT_EQ(box.left, 10);
  EXPECT_EQ(box.right, 60);
  dc.SetMetaRgn();  // the meta region now limits everything after
  Region wide(RECT{0, 0, 100, 100});
  dc.ExtSelectClipRgn(&wide, win::RGN_COPY);
  dc.Rectangle(0, 0, 100, 100);
  EXPECT_EQ(b->Pixel(15, 15), kBlack);
  EXPECT_EQ(b->Pixel(25, 25), kWhite);  // excluded before the meta region was set
  EXPECT_EQ(b->Pixel(70, 70), kWhite);  // outside the meta region
  // XOR of two overlapping rectangles as the clip.
  auto b2 = NewBitmap();
  DeviceContext& dc2 = b2->dc();
  dc2.SelectStockObject(win::NULL_PEN);
  dc2.SelectStockObject(win::BLACK_BRUSH);
  Region a(RECT{0, 0, 50, 50});
  Region c(RECT{25, 25, 75, 75});
  dc2.ExtSelectClipRgn(&a, win::RGN_COPY);
  dc2.ExtSelectClipRgn(&c, win::RGN_XOR);
  dc2.Rectangle(0, 0, 100, 100);
  EXPECT_EQ(b2->Pixel(10, 10), kBlack);
  EXPECT_EQ(b2->Pixel(30, 30), kWhite);
  EXPECT_EQ(b2->Pixel(60, 60), kBlack);
  EXPECT_EQ(dc2.ExtSelectClipRgn(nullptr, win::RGN_COPY), win::SIMPLEREGION);
  EXPECT_FALSE(dc2.GetClipRgn().has_value());
}

TEST(DcTest, PathsFillAndClip) {
  auto b = NewBitmap();
  DeviceContext& dc = b->dc();
  dc.SelectStockObject(win::BLACK_BRUSH);
  dc.BeginPath();
  dc.MoveToEx(10, 10);
  dc.LineTo(50, 10);
  dc.LineTo(50, 50);
  dc.CloseFigure();
  dc.EndPath();
  dc.FillPath();
  EXPECT_EQ(b->Pixel(45, 15), kBlack);  // inside the triangle
  EXPECT_EQ(b->Pixel(15, 45), kWhite);  // other side of the diagonal
  dc.BeginPath();
  dc.Ellipse(60, 60, 100, 100);
  dc.EndPath();
  dc.SelectClipPath(win::RGN_COPY);
  dc.SelectStockObject(win::NULL_PEN);
  dc.Rectangle(0, 0, 100, 100);
  EXPECT_EQ(b->Pixel(80, 80), kBlack);
  EXPECT_EQ(b->Pixel(61, 61), kWhite);
}

TEST(DcTest, TextInkStaysInsideItsBoxAndUpdatesCurrentPosition) {
  auto b = NewBitmap(300, 100);
  DeviceContext& dc = b->dc();
  for (const char* face : {"Arial", "ＭＳ ゴシック", "NoSuchFace"}) {
    auto bm = NewBitmap(300, 100);
    DeviceContext& d = bm->dc();
    d.SelectFont(Font{MakeLogFont(face, -20, win::FW_NORMAL, false, win::SHIFTJIS_CHARSET)});
    d.SetBkMode(win::TRANSPARENT);
    std::u16string text = u"AB漢字";
    SIZE ext;
    ASSERT_TRUE(d.GetTextExtentPoint32W(text, &ext));
    EXPECT_GT(ext.cx, 40) << face;
    EXPECT_GE(ext.cy, 20) << face;
    d.TextOutW(20, 30, text);
    EXPECT_GT(Ink(*bm, 20, 30, 20 + ext.cx, 30 + ext.cy), 30) << face;
    // Nothing outside the box (one pixel of slack for anti-aliasing).
    EXPECT_EQ(Ink(*bm, 0, 0, 300, 29), 0) << face;
    EXPECT_EQ(Ink(*bm, 21 + ext.cx, 0, 300, 100), 0) << face;
    EXPECT_EQ(Ink(*bm, 0, 31 + ext.cy, 300, 100), 0) << face;
    // The Japanese characters have ink of their own (no empty boxes: the ink of a missing
    // glyph box would be the same for both).
    EXPECT_GT(Ink(*bm, 20 + ext.cx / 2, 30, 20 + ext.cx, 30 + ext.cy), 20) << face;
  }
  // ANSI text in CP932 draws the same characters as the UTF-16 text.
  dc.SelectFont(Font{MakeLogFont("ＭＳ ゴシック", -20, win::FW_NORMAL, false, win::SHIFTJIS_CHARSET)});
  SIZE wide, ansi;
  dc.GetTextExtentPoint32W(u"漢字A", &wide);
  dc.GetTextExtentPoint32A(
      "\x8A\xBF\x8E\x9A"
      "A",
      &ansi);
  EXPECT_EQ(wide.cx, ansi.cx);
  dc.SetTextAlign(win::TA_UPDATECP);
  dc.MoveToEx(10, 10);
  dc.TextOutA(0, 0,
              "\x8A\xBF\x8E\x9A"
              "A");
  EXPECT_EQ(dc.GetCurrentPositionEx().x, 10 + ansi.cx);
  // Advances per byte: the two-byte character takes the sum of its two entries.
  dc.SetTextAlign(win::TA_TOP);
  const int dx[5] = {20, 20, 20, 20, 10};
  dc.ExtTextOutA(0, 50, 0, nullptr,
                 "\x8A\xBF\x8E\x9A"
                 "A",
                 dx);
  EXPECT_GT(Ink(*b, 80, 50, 95, 75), 0);  // "A" starts at 80
}

// An "@" face turns its double-byte glyphs a quarter to the left, as Windows does, so that a
// line written down the page (escapement 2700) stands them upright; single-byte glyphs turn
// with the line only. "一" is one wide stroke and "-" one wide dash: drawn upright or upside
// down their ink is wider than tall, turned a quarter it is taller than wide.
TEST(DcTest, AnAtFaceStandsItsDoubleByteGlyphsUprightDownThePage) {
  struct Case {
    const char* face;
    int escapement;
    const char16_t* text;
    bool wide;  // the ink wider than tall
  } cases[] = {
      {"IPAGothic", 0, u"一", true},     {"@IPAGothic", 0, u"一", false},   {"@IPAGothic", 0, u"-", true},
      {"@IPAGothic", 900, u"一", true},  {"@IPAGothic", 900, u"-", false},  {"@IPAGothic", 2700, u"一", true},
      {"@IPAGothic", 2700, u"-", false}, {"IPAGothic", 2700, u"一", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.face) + " at " + std::to_string(c.escapement));
    auto b = NewBitmap(200, 200);
    DeviceContext& dc = b->dc();
    LOGFONTW lf = MakeLogFont(c.face, -60, win::FW_NORMAL, false, win::SHIFTJIS_CHARSET);
    lf.lfEscapement = lf.lfOrientation = c.escapement;
    dc.SelectFont(Font{lf});
    dc.SetTextAlign(win::TA_BASELINE);
    dc.TextOutW(100, 100, c.text);
    int l = 200, t = 200, r = -1, bot = -1;
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 200; ++x)
        if ((b->Pixel(x, y) & 0xFF) < 128)
          l = std::min(l, x), t = std::min(t, y), r = std::max(r, x), bot = std::max(bot, y);
    ASSERT_GE(r, l) << "no ink";
    EXPECT_EQ(r - l > bot - t, c.wide) << "ink " << r - l + 1 << " x " << bot - t + 1;
    // The glyph stays in the cell beside its reference point.
    EXPECT_LT(std::abs((l + r) / 2 - 100), 70);
    EXPECT_LT(std::abs((t + bot) / 2 - 100), 70);
  }
}

TEST(DcTest, OpaqueAndClippedTextRectangles) {
  auto b = NewBitmap(200, 60);
  DeviceContext& dc = b->dc();
  dc.SelectFont(Font{MakeLogFont("Arial", -30)});
  dc.SetBkColor(RGB(0, 255, 0));
  RECT r{10, 10, 40, 50};
  dc.ExtTextOutW(10, 10, win::ETO_OPAQUE | win::ETO_CLIPPED, &r, u"WWWWWW");
  EXPECT_EQ(b->Pixel(11, 48), 0x00FF00u);  // opaque rectangle
  EXPECT_EQ(Ink(*b, 40, 0, 200, 60), 0);   // clipped at the rectangle
  // Background mode OPAQUE fills the text cell.
  auto b2 = NewBitmap(200, 60);
  b2->dc().SelectFont(Font{MakeLogFont("Arial", -30)});
  b2->dc().SetBkColor(RGB(0, 255, 0));
  b2->dc().TextOutW(0, 0, u"...");
  EXPECT_EQ(b2->Pixel(2, 2), 0x00FF00u);
}

// Pages are drawn on several threads at once; faces are shared between them. More faces (16
// families, each regular, bold, italic and bold italic) are in use than the font backend keeps
// open of its own and than the drawing layer keeps, so faces are let go and made again while
// other threads draw in them.
TEST(DcTest, TextInManyFacesOnSeveralThreadsDrawsAsOnOne) {
  const char* faces[] = {
      "Arial",       "Times New Roman", "Courier New", "MS Mincho",         "MS Gothic",          "MS PGothic",
      "MS PMincho",  "Symbol",          "Palatino",    "Bookman",           "Century Schoolbook", "AvantGarde",
      "DejaVu Sans", "DejaVu Serif",    "Lato",        "Nimbus Sans Narrow"};
  constexpr int kFaces = int(std::size(faces));
  auto draw = [&](int seed) {
    auto b = NewBitmap(400, 260);
    DeviceContext& dc = b->dc();
    dc.SetBkMode(win::TRANSPARENT);
    for (int k = 0; k < 16; ++k) {
      for (int f = 0; f < kFaces; ++f) {
        dc.SelectFont(Font{MakeLogFont(faces[(f + seed + k) % kFaces], -(12 + k % 4 * 3),
                                       k & 1 ? win::FW_BOLD : win::FW_NORMAL, (k & 2) != 0, win::SHIFTJIS_CHARSET)});
        dc.TextOutW(4, 4 + f % 8 * 30, u"Hello 日本語 テスト");
      }
    }
    // The picture compared: one pass in eight faces at one size.
    dc.PatBlt(0, 0, 400, 260, win::WHITENESS);
    for (int f = 0; f < 8; ++f) {
      dc.SelectFont(Font{MakeLogFont(faces[f], -20, win::FW_NORMAL, false, win::SHIFTJIS_CHARSET)});
      dc.TextOutW(4, 4 + f * 30, u"Hello 日本語 テスト");
    }
    std::uint64_t sum = 0;
    for (int y = 0; y < b->height(); ++y)
      for (int x = 0; x < b->width(); ++x) sum = sum * 31 + b->Pixel(x, y);
    return sum;
  };
  const std::uint64_t alone = draw(0);
  std::vector<std::uint64_t> sums(8, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) threads.emplace_back([&, t] { sums[t] = draw(t); });
  for (auto& th : threads) th.join();
  for (int t = 0; t < 8; ++t) EXPECT_EQ(sums[t], alone) << "thread " << t;
}

TEST(DcTest, BitmapsOfEveryDepthAndOrientation) {
  // A 2 x 2 picture: red, green / blue, white (top row first).
  const std::vector<std::uint32_t> px = {kRed, 0x00FF00, kBlue, kWhite};
  std::vector<Dib> dibs = {MakeDib24(2, 2, px), MakeDib24(2, 2, px, true)};
  {
    // 8 bits with a palette, bottom-up rows.
    Dib d;
    win::BITMAPINFOHEADER h{40, 2, 2, 1, 8, win::BI_RGB, 0, 0, 0, 4, 0};
    d.info.resize(40 + 16);
    std::memcpy(d.info.data(), &h, 40);
    const win::RGBQUAD pal[4] = {{0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}, {255, 255, 255, 0}};
    std::memcpy(d.info.data() + 40, pal, 16);
    d.bits = {2, 3, 0, 0, 0, 1, 0, 0};
    dibs.push_back(d);
    // 4 bits, same palette.
    Dib d4 = d;
    win::BITMAPINFOHEADER h4 = h;
    h4.biBitCount = 4;
    std::memcpy(d4.info.data(), &h4, 40);
    d4.bits = {0x23, 0, 0, 0, 0x01, 0, 0, 0};
    dibs.push_back(d4);
    // 16 bits, 5-6-5 bit fields, top-down.
    Dib d16;
    win::BITMAPINFOHEADER h16{40, 2, -2, 1, 16, win::BI_BITFIELDS, 0, 0, 0, 0, 0};
    d16.info.resize(52);
    std::memcpy(d16.info.data(), &h16, 40);
    const win::DWORD masks[3] = {0xF800, 0x07E0, 0x001F};
    std::memcpy(d16.info.data() + 40, masks, 12);
    d16.bits = {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0xFF, 0xFF};
    dibs.push_back(d16);
    // 32 bits.
    Dib d32 = EncodeDib(2, 2, px, 32);
    dibs.push_back(d32);
    // 1 bit: black/white only.
  }
  int i = 0;
  for (const Dib& d : dibs) {
    auto b = NewBitmap(20, 20);
    ASSERT_TRUE(b->dc().StretchDIBits(0, 0, 20, 20, 0, 0, 2, 2, d.ref(), win::SRCCOPY)) << i;
    EXPECT_EQ(b->Pixel(2, 2), kRed) << i;
    EXPECT_EQ(b->Pixel(15, 2), 0x00FF00u) << i;
    EXPECT_EQ(b->Pixel(2, 15), kBlue) << i;
    EXPECT_EQ(b->Pixel(15, 15), kWhite) << i;
    ++i;
  }
}

TEST(DcTest, ScanLinesToDeviceAndAlphaBlend) {
  // A 1 x 4 bottom-up bitmap: rows from the bottom red, green, blue, white; only scan lines
  // 1 and 2 (green, blue) are given.
  Dib part = MakeDib24(1, 2, {kBlue, 0x00FF00});
  win::BITMAPINFOHEADER h;
  std::memcpy(&h, part.info.data(), 40);
  h.biHeight = 4;
  std::memcpy(part.info.data(), &h, 40);
  auto b = NewBitmap(4, 4);
  // Whole bitmap to (0, 0): device rows 0..3 show scan lines 3..0.
  ASSERT_TRUE(b->dc().SetDIBitsToDevice(0, 0, 1, 4, 0, 0, 1, 2, part.ref()));
  EXPECT_EQ(b->Pixel(0, 0), kWhite);  // scan line 3: not given
  EXPECT_EQ(b->Pixel(0, 1), kBlue);
  EXPECT_EQ(b->Pixel(0, 2), 0x00FF00u);
  EXPECT_EQ(b->Pixel(0, 3), kWhite);  // scan line 0: not given
  // Constant alpha: half red over white.
  Dib red = MakeDib24(1, 1, {kRed});
  win::BLENDFUNCTION bf{win::AC_SRC_OVER, 0, 128, 0};
  ASSERT_TRUE(b->dc().DibAlphaBlend(2, 0, 2, 2, red.ref(), 0, 0, 1, 1, bf));
  std::uint32_t p = b->Pixel(3, 1);
  EXPECT_EQ(p >> 16, 0xFFu);
  EXPECT_NEAR(int(p & 0xFF), 127, 2);
}

TEST(DcTest, BadBitmapsAreRefused) {
  Dib good = MakeDib24(4, 4, std::vector<std::uint32_t>(16, kRed));
  struct Case {
    const char* what;
    std::function<void(Dib&)> spoil;
  };
  const Case cases[] = {
      {"bits cut short", [](Dib& d) { d.bits.resize(20); }},
      {"header cut short", [](Dib& d) { d.info.resize(30); }},
      {"huge size",
       [](Dib& d) {
         win::BITMAPINFOHEADER h;
         std::memcpy(&h, d.info.data(), 40);
         h.biWidth = 0x7FFFFFFF;
         h.biHeight = 0x7FFFFFFF;
         std::memcpy(d.info.data(), &h, 40);
       }},
      {"bad bit count", [](Dib& d) { d.info[14] = 7; }},
      {"palette missing", [](Dib& d) { d.info[14] = 8; }},
  };
  for (const Case& c : cases) {
    Dib d = good;
    c.spoil(d);
    EXPECT_FALSE(DecodeDib(d.ref()).ok()) << c.what;
    auto b = NewBitmap(10, 10);
    EXPECT_FALSE(b->dc().StretchDIBits(0, 0, 10, 10, 0, 0, 4, 4, d.ref(), win::SRCCOPY)) << c.what;
    EXPECT_EQ(b->Pixel(5, 5), kWhite) << c.what;
  }
}

TEST(DcTest, MonochromeBitmapMapsToItsPalette) {
  auto b = MemoryBitmap::Create(16, 2, 1, 200);
  ASSERT_TRUE(b.ok());
  DeviceContext& dc = (*b)->dc();
  dc.SelectStockObject(win::NULL_PEN);
  dc.SelectBrush(Brush::Solid(RGB(40, 40, 40)));
  dc.Rectangle(0, 0, 8, 2);
  Dib d = (*b)->ToDib();
  win::BITMAPINFOHEADER h;
  std::memcpy(&h, d.info.data(), 40);
  EXPECT_EQ(h.biBitCount, 1);
  EXPECT_EQ(h.biXPelsPerMeter, 7874);
  ASSERT_EQ(d.bits.size(), 8u);
  EXPECT_EQ(d.bits[0], 0x00);  // dark grey maps to black
  EXPECT_EQ(d.bits[1], 0xFF);  // white
  EXPECT_EQ(dc.GetDeviceCaps(win::LOGPIXELSX), 200);
  EXPECT_FALSE(MemoryBitmap::Create(0, 5).ok());
  EXPECT_FALSE(MemoryBitmap::Create(5, 5, 8).ok());
}

TEST(DcTest, ScreenSurfacePixelsAreQImageRgb32Rows) {
  auto s = ScreenSurface::Create(20, 10);
  ASSERT_TRUE(s.ok());
  (*s)->dc().SelectStockObject(win::NULL_PEN);
  (*s)->dc().SelectBrush(Brush::Solid(RGB(0x12, 0x34, 0x56)));
  (*s)->dc().Rectangle(10, 5, 20, 10);
  (*s)->Flush();
  const std::uint8_t* row = (*s)->data() + 7 * (*s)->stride();
  std::uint32_t px;
  std::memcpy(&px, row + 4 * 15, 4);
  EXPECT_EQ(px & 0xFFFFFF, 0x123456u);
  std::memcpy(&px, row + 4 * 5, 4);
  EXPECT_EQ(px & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_GE((*s)->stride(), 80);
  ASSERT_TRUE((*s)->Resize(40, 40).ok());
  EXPECT_EQ((*s)->dc().GetDeviceCaps(win::HORZRES), 40);
}

TEST(DcTest, HatchedBrushAndMaskBlt) {
  auto b = NewBitmap(16, 16);
  DeviceContext& dc = b->dc();
  dc.SetBkMode(win::TRANSPARENT);
  dc.SelectStockObject(win::NULL_PEN);
  dc.SelectBrush(Brush{win::BS_HATCHED, RGB(0, 0, 0), win::HS_HORIZONTAL, nullptr});
  dc.Rectangle(0, 0, 16, 16);
  int black_rows = 0;
  for (int y = 0; y < 16; ++y) black_rows += b->Pixel(3, y) == kBlack;
  EXPECT_EQ(black_rows, 2);
  EXPECT_EQ(b->Pixel(3, 0), kWhite);
  // MaskBlt: source copied where the mask is 1, destination kept where it is 0.
  auto b2 = NewBitmap(4, 1);
  Dib src = MakeDib24(4, 1, {kRed, kRed, kRed, kRed});
  Dib mask;
  win::BITMAPINFOHEADER h{40, 4, 1, 1, 1, win::BI_RGB, 0, 0, 0, 2, 0};
  mask.info.resize(48);
  std::memcpy(mask.info.data(), &h, 40);
  const win::RGBQUAD pal[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  std::memcpy(mask.info.data() + 40, pal, 8);
  mask.bits = {0xA0, 0, 0, 0};  // 1 0 1 0
  Dib sr = src;
  DibRef mr = mask.ref();
  DibRef srr = sr.ref();
  win::DWORD rop4 = ((0x00AA0029u << 8) & 0xFF000000u) | win::SRCCOPY;
  ASSERT_TRUE(b2->dc().DibMaskBlt(0, 0, 4, 1, &srr, 0, 0, &mr, 0, 0, rop4));
  EXPECT_EQ(b2->Pixel(0, 0), kRed);
  EXPECT_EQ(b2->Pixel(1, 0), kWhite);
  EXPECT_EQ(b2->Pixel(2, 0), kRed);
}

}  // namespace
}  // namespace zv::gdi
