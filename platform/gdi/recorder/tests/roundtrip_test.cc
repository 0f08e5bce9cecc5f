// Recorded pages played back onto memory bitmaps: the pixels land where the drawing calls
// put them, and the header's bounds hold all the ink.
#include <gtest/gtest.h>

#include <memory>

#include "platform/gdi/emf/builder.h"
#include "platform/gdi/emf/reader.h"
#include "platform/gdi/player.h"
#include "platform/gdi/recorder/recorder.h"
#include "platform/gdi/surfaces.h"

namespace zv::gdi {
namespace {

using namespace win;
constexpr std::uint32_t kWhite = 0xFFFFFF, kRed = 0xFF0000, kBlue = 0x0000FF, kGreen = 0x00FF00;

// 400 x 300 pixels on 40 x 30 mm: the recorded page plays one to one onto a bitmap that size.
MetafileRecorder::Options Page(DeviceContext* reference = nullptr) {
  MetafileRecorder::Options o;
  o.device = {400, 300};
  o.millimeters = {40, 30};
  o.reference = reference;
  return o;
}

std::unique_ptr<MemoryBitmap> NewBitmap() {
  auto b = MemoryBitmap::Create(400, 300, 24, 254);
  EXPECT_TRUE(b.ok());
  return std::move(*b);
}

struct Played {
  std::unique_ptr<MemoryBitmap> bitmap;
  emf::Header header;
};

Played PlayBack(MetafileRecorder& rec) {
  Played p;
  auto bytes = rec.Close();
  EXPECT_TRUE(bytes.ok());
  auto mf = emf::Metafile::Parse(*bytes);
  EXPECT_TRUE(mf.ok());
  p.header = mf->header();
  p.bitmap = NewBitmap();
  Status s = PlayMetafile(p.bitmap->dc(), *bytes, nullptr);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return p;
}

// The smallest box (inclusive) of the pixels that are not white; left > right when none.
RECT Ink(const MemoryBitmap& b) {
  RECT r{b.width(), b.height(), -1, -1};
  for (int y = 0; y < b.height(); ++y) {
    for (int x = 0; x < b.width(); ++x) {
      if (b.Pixel(x, y) == kWhite) continue;
      r.left = std::min<LONG>(r.left, x);
      r.top = std::min<LONG>(r.top, y);
      r.right = std::max<LONG>(r.right, x);
      r.bottom = std::max<LONG>(r.bottom, y);
    }
  }
  return r;
}

void ExpectInside(const RECT& ink, const RECTL& bounds) {
  ASSERT_LE(ink.left, ink.right) << "nothing drawn";
  EXPECT_GE(ink.left, bounds.left);
  EXPECT_GE(ink.top, bounds.top);
  EXPECT_LE(ink.right, bounds.right);
  EXPECT_LE(ink.bottom, bounds.bottom);
}

Brush SolidBrush(COLORREF c) { return Brush::Solid(c); }

TEST(RecorderRoundTrip, ShapesClipsAndMappingLandWhereRecorded) {
  MetafileRecorder rec(Page());
  rec.SelectStockObject(NULL_PEN);
  rec.SelectBrush(SolidBrush(RGB(255, 0, 0)));
  rec.Rectangle(10, 10, 60, 40);
  // A blue ellipse clipped to its left half.
  rec.SaveDC();
  rec.IntersectClipRect(100, 0, 150, 300);
  rec.SelectBrush(SolidBrush(RGB(0, 0, 255)));
  rec.Ellipse(100, 100, 200, 200);
  rec.RestoreDC(-1);
  // A green square drawn in a scaled, shifted coordinate space: logical (0,0)-(10,10) is
  // device (300,200)-(340,240).
  rec.SetMapMode(MM_ANISOTROPIC);
  rec.SetWindowExtEx(1, 1);
  rec.SetViewportExtEx(4, 4);
  rec.SetViewportOrgEx(300, 200);
  rec.SelectBrush(SolidBrush(RGB(0, 255, 0)));
  rec.Rectangle(0, 0, 10, 10);
  Played p = PlayBack(rec);
  const MemoryBitmap& b = *p.bitmap;

  EXPECT_EQ(b.Pixel(30, 25), kRed);
  EXPECT_EQ(b.Pixel(70, 25), kWhite);
  EXPECT_EQ(b.Pixel(130, 150), kBlue);
  EXPECT_EQ(b.Pixel(170, 150), kWhite);  // clipped away
  EXPECT_EQ(b.Pixel(320, 220), kGreen);
  EXPECT_EQ(b.Pixel(345, 220), kWhite);
  EXPECT_EQ(b.Pixel(295, 220), kWhite);
  ExpectInside(Ink(b), p.header.bounds);
  // The bounds hug the drawing: the red square's corner and the green square's far corner.
  EXPECT_EQ(p.header.bounds.left, 10);
  EXPECT_EQ(p.header.bounds.right, 339);
}

TEST(RecorderRoundTrip, TextInkLiesInsideTheRecordedBounds) {
  auto reference = NewBitmap();
  MetafileRecorder rec(Page(&reference->dc()));
  rec.SelectFont(Font{MakeLogFont("IPAGothic", -40)});
  win::TEXTMETRICW tm{};
  ASSERT_TRUE(rec.GetTextMetricsW(&tm));
  EXPECT_GT(tm.tmHeight, 30);
  SIZE ext{};
  ASSERT_TRUE(rec.GetTextExtentPoint32W(u"Zelvora", &ext));
  EXPECT_GT(ext.cx, 60);
  rec.SetBkMode(TRANSPARENT);
  rec.ExtTextOutW(50, 100, 0, nullptr, u"Zelvora");
  rec.SetTextAlign(TA_RIGHT | TA_BOTTOM);
  rec.ExtTextOutW(390, 290, 0, nullptr, u"\u65E5\u672C");
  Played p = PlayBack(rec);
  const RECT ink = Ink(*p.bitmap);
  ExpectInside(ink, p.header.bounds);
  EXPECT_GE(ink.left, 50);
  EXPECT_LE(ink.right, 390);
  EXPECT_GT(ink.bottom, 250);
}

TEST(RecorderRoundTrip, BitmapsAndRasterOperationsPlayBack) {
  MetafileRecorder rec(Page());
  // A 2 x 2 bitmap, bottom-up: lower row red, blue; upper row green, white; drawn 10 times.
  auto dib = emf::MakeTestDib(2, 2, 24);
  const std::uint8_t rows[16] = {0, 0,   255, 255, 0,   0,   0, 0,  // red, blue (B, G, R order)
                                 0, 255, 0,   255, 255, 255, 0, 0};
  std::copy(std::begin(rows), std::end(rows), dib.bits.begin());
  EXPECT_TRUE(rec.StretchDIBits(0, 0, 20, 20, 0, 0, 2, 2, DibRef{dib.info, dib.bits}, SRCCOPY));
  // Invert a band across the bitmap's top half: green becomes magenta, white black.
  EXPECT_TRUE(rec.PatBlt(0, 0, 20, 10, DSTINVERT));
  Played p = PlayBack(rec);
  const MemoryBitmap& b = *p.bitmap;
  EXPECT_EQ(b.Pixel(5, 5), 0xFF00FFu);
  EXPECT_EQ(b.Pixel(15, 5), 0x000000u);
  EXPECT_EQ(b.Pixel(5, 15), kRed);
  EXPECT_EQ(b.Pixel(15, 15), kBlue);
  EXPECT_EQ(b.Pixel(25, 5), kWhite);
  ExpectInside(Ink(b), p.header.bounds);
}

}  // namespace
}  // namespace zv::gdi
