// Playing metafiles built in code onto memory bitmaps, checked at probe pixels.
#include "platform/gdi/player.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/gdi/emf/builder.h"
#include "platform/gdi/surfaces.h"

namespace zv::gdi {
namespace {

using emf::MetafileBuilder;
using win::RGB;
constexpr std::uint32_t kWhite = 0xFFFFFF, kBlack = 0, kRed = 0xFF0000, kBlue = 0x0000FF;
constexpr win::DWORD kStock = win::ENHMETA_STOCK_OBJECT;

std::unique_ptr<MemoryBitmap> NewBitmap(int w = 100, int h = 100) {
  auto b = MemoryBitmap::Create(w, h, 24, 96);
  EXPECT_TRUE(b.ok());
  return std::move(*b);
}

// A 1000 x 1000 pixel reference device on 100 x 100 mm: 10 pixels per millimetre.
MetafileBuilder Builder() { return MetafileBuilder(); }

std::vector<std::uint8_t> RedSquare() {
  return Builder()
      .CreateBrush(1, win::BS_SOLID, RGB(255, 0, 0))
      .SelectObject(1)
      .SelectObject(kStock | win::NULL_PEN)
      .Rectangle(100, 100, 500, 500)
      .Build();
}

TEST(PlayerTest, PlaysShapesOneToOneAndFittedToARectangle) {
  auto mf = RedSquare();
  auto b = NewBitmap(600, 600);
  PlayStats st;
  ASSERT_TRUE(PlayMetafile(b->dc(), mf, nullptr, nullptr, &st).ok());
  EXPECT_EQ(b->Pixel(300, 300), kRed);
  EXPECT_EQ(b->Pixel(50, 50), kWhite);
  EXPECT_EQ(b->Pixel(500, 300), kWhite);
  EXPECT_EQ(st.skipped, 0u);
  EXPECT_EQ(st.played, st.records);

  // Fitted: the frame is the drawing's bounds (100..499 device pixels); it fills (10, 10)-(60, 60).
  auto small = NewBitmap(100, 100);
  RECT dest{10, 10, 60, 60};
  ASSERT_TRUE(PlayMetafile(small->dc(), mf, &dest).ok());
  EXPECT_EQ(small->Pixel(35, 35), kRed);
  EXPECT_EQ(small->Pixel(11, 11), kRed);
  EXPECT_EQ(small->Pixel(5, 5), kWhite);
  EXPECT_EQ(small->Pixel(65, 65), kWhite);
  // The device context's state is the same afterwards.
  EXPECT_EQ(small->dc().GetMapMode(), win::MM_TEXT);
  EXPECT_EQ(small->dc().GetCurrentBrush(), Brush::Solid(RGB(255, 255, 255)));
}

TEST(PlayerTest, HookSkipsChangesAndDrawsInstead) {
  auto mf = Builder()
                .SelectObject(kStock | win::NULL_PEN)
                .CreateBrush(1, win::BS_SOLID, RGB(255, 0, 0))
                .SelectObject(1)
                .Rectangle(0, 0, 10, 10)   // skipped by the hook
                .Rectangle(20, 0, 30, 10)  // played as it is
                .Rectangle(40, 0, 50, 0)   // degenerate: drawn as a line instead
                .Build();
  auto b = NewBitmap(60, 20);
  auto p = Player::Open(mf);
  ASSERT_TRUE(p.ok());
  int rects = 0;
  Status s = p->Play(b->dc(), nullptr, [&](Player& pl, const emf::Record& r) -> Status {
    if (r.type != win::EMR_RECTANGLE) return pl.PlayRecord(r);
    win::EMRRECTANGLE rec;
    std::memcpy(&rec, r.bytes.data(), sizeof(rec));
    ++rects;
    if (rects == 1) return Status::Ok();
    if (rec.rclBox.top == rec.rclBox.bottom) {
      pl.dc().SelectPen(Pen{win::PS_SOLID, 0, RGB(0, 0, 255)});
      pl.dc().MoveToEx(rec.rclBox.left, rec.rclBox.top);
      pl.dc().LineTo(rec.rclBox.right, rec.rclBox.bottom);
      return Status::Ok();
    }
    // A changed copy: moved down by 5.
    rec.rclBox.top += 5;
    std::vector<std::uint8_t> copy(r.bytes.begin(), r.bytes.end());
    std::memcpy(copy.data(), &rec, sizeof(rec));
    return pl.PlayBytes(copy);
  });
  ASSERT_TRUE(s.ok()) << s.ToString();
  EXPECT_EQ(b->Pixel(5, 5), kWhite);
  EXPECT_EQ(b->Pixel(25, 2), kWhite);
  EXPECT_EQ(b->Pixel(25, 7), kRed);
  EXPECT_EQ(b->Pixel(45, 0), kBlue);
  // A hook's error stops the playback and comes back.
  auto p2 = Player::Open(mf);
  Status stop = p2->Play(b->dc(), nullptr, [](Player&, const emf::Record& r) {
    return r.type == win::EMR_RECTANGLE ? Status::Busy("stop") : Status::Ok();
  });
  EXPECT_EQ(stop.code(), Status::Code::kBusy);
}

TEST(PlayerTest, ClippingInReferenceDeviceUnitsAndTheCallersClipAsMetaRegion) {
  const win::RECTL left_half[] = {{0, 0, 500, 1000}};
  auto mf = Builder()
                .SelectObject(kStock | win::NULL_PEN)
                .SelectObject(kStock | win::BLACK_BRUSH)
                .ExtSelectClipRgn(win::RGN_COPY, left_half)
                .Rectangle(0, 0, 1000, 1000)
                .ExtSelectClipRgn(win::RGN_COPY, {})  // reset: still inside the caller's clip
                .Rectangle(0, 900, 1000, 1000)
                .Build();
  auto b = NewBitmap(100, 100);
  DeviceContext& dc = b->dc();
  dc.IntersectClipRect(0, 0, 80, 100);  // the caller's clip
  RECT dest{0, 0, 100, 100};
  // Frame: bounds of the drawing = the whole 1000 x 1000 device.
  ASSERT_TRUE(PlayMetafile(dc, mf, &dest).ok());
  EXPECT_EQ(b->Pixel(20, 50), kBlack);
  EXPECT_EQ(b->Pixel(70, 50), kWhite);  // outside the metafile's clip
  EXPECT_EQ(b->Pixel(70, 95), kBlack);  // clip reset
  EXPECT_EQ(b->Pixel(90, 95), kWhite);  // never outside the caller's clip
  RECT box;
  dc.GetClipBox(&box);
  EXPECT_EQ(box.right, 80);  // the caller's clip is back
}

TEST(PlayerTest, MapModesTextBitmapsAndSkippedRecords) {
  auto dib = emf::MakeTestDib(2, 1, 24);
  dib.bits = {0, 0, 255, 255, 0, 0, 0, 0};  // red, blue
  LOGFONTW lf = MakeLogFont("ＭＳ ゴシック", -40, win::FW_NORMAL, false, win::SHIFTJIS_CHARSET);
  std::vector<std::uint8_t> gradient(36 - 8, 0);
  gradient[24] = win::GRADIENT_FILL_TRIANGLE;  // triangles are not drawn
  auto mf = Builder()
                .SaveDC()
                .SetMapMode(win::MM_ANISOTROPIC)
                .SetWindowExt(100, 100)
                .SetViewportExt(1000, 1000)  // 10 device pixels per logical unit
                .StretchDIBits(0, 0, 20, 10, dib.info, dib.bits)
                .RestoreDC(-1)
                .RestoreDC(-1)  // more restores than saves: ignored
                .CreateFont(1, lf)
                .SelectObject(1)
                .SetBkMode(win::TRANSPARENT)
                .ExtTextOutA(0, 200, "\x8A\xBF\x8E\x9A")
                .ExtTextOutW(0, 250, u"\x0024\x0044", win::ETO_GLYPH_INDEX)
                .Raw(win::EMR_GRADIENTFILL, gradient)
                .Comment(std::vector<std::uint8_t>{'E', 'M', 'F', '+', 1, 0, 0, 0})  // not drawn
                .Comment(std::vector<std::uint8_t>{'n', 'o', 't', 'e'})              // nothing to draw
                .Build();
  auto b = NewBitmap(400, 300);
  auto p = Player::Open(mf);
  ASSERT_TRUE(p.ok());
  ASSERT_TRUE(p->Play(b->dc(), nullptr).ok());
  EXPECT_EQ(b->Pixel(50, 50), kRed);
  EXPECT_EQ(b->Pixel(150, 50), kBlue);
  EXPECT_EQ(b->Pixel(250, 50), kWhite);
  int ink = 0;
  for (int y = 200; y < 250; ++y)
    for (int x = 0; x < 100; ++x) ink += b->Pixel(x, y) != kWhite;
  EXPECT_GT(ink, 50);
  EXPECT_EQ(p->stats().skipped, 3u);
  EXPECT_EQ(p->stats().skipped_by_type.at(win::EMR_GRADIENTFILL), 1u);
  EXPECT_EQ(p->stats().skipped_by_type.at(win::EMR_GDICOMMENT), 1u);
  EXPECT_EQ(p->stats().skipped_by_type.at(win::EMR_EXTTEXTOUTW), 1u);
  for (int y = 250; y < 300; ++y)
    for (int x = 0; x < 100; ++x) ASSERT_EQ(b->Pixel(x, y), kWhite);  // no wrong glyphs
}

TEST(PlayerTest, TransparentBlitKeepsTheDestinationUnderTheKeyColour) {
  auto dib = emf::MakeTestDib(2, 1, 24);
  dib.bits = {0, 0, 255, 0, 255, 0, 0, 0};  // red, green
  win::EMRTRANSPARENTBLT rec{};
  rec.xDest = 0;
  rec.yDest = 0;
  rec.cxDest = 20;
  rec.cyDest = 10;
  rec.dwRop = RGB(0, 255, 0);  // the transparent colour
  rec.xformSrc = XFORM{1, 0, 0, 1, 0, 0};
  rec.offBmiSrc = sizeof(rec);
  rec.cbBmiSrc = win::DWORD(dib.info.size());
  rec.offBitsSrc = win::DWORD(sizeof(rec) + dib.info.size());
  rec.cbBitsSrc = win::DWORD(dib.bits.size());
  rec.cxSrc = 2;
  rec.cySrc = 1;
  std::vector<std::uint8_t> body(reinterpret_cast<std::uint8_t*>(&rec) + 8,
                                 reinterpret_cast<std::uint8_t*>(&rec) + sizeof(rec));
  body.insert(body.end(), dib.info.begin(), dib.info.end());
  body.insert(body.end(), dib.bits.begin(), dib.bits.end());
  auto mf = Builder().Raw(win::EMR_TRANSPARENTBLT, body).Build();
  auto b = NewBitmap(30, 10);
  b->dc().SelectBrush(Brush::Solid(RGB(0, 0, 255)));
  b->dc().PatBlt(0, 0, 30, 10, win::PATCOPY);
  PlayStats st;
  Status s = PlayMetafile(b->dc(), mf, nullptr, nullptr, &st);
  ASSERT_TRUE(s.ok()) << s.ToString();
  EXPECT_EQ(st.skipped, 0u);
  EXPECT_EQ(b->Pixel(5, 5), kRed);
  EXPECT_EQ(b->Pixel(15, 5), kBlue);
}

TEST(PlayerTest, RectangleGradientsRunFromColourToColour) {
  // Two vertices (black at the left, red at the right) and one rectangle.
  std::vector<std::uint8_t> body(28 + 2 * 16 + 8, 0);
  auto put32 = [&](size_t at, std::uint32_t v) { std::memcpy(&body[at], &v, 4); };
  put32(16, 2);  // nVer
  put32(20, 1);  // nTri
  put32(24, win::GRADIENT_FILL_RECT_H);
  win::TRIVERTEX v[2] = {{0, 0, 0, 0, 0, 0}, {256, 10, 0xFF00, 0, 0, 0}};
  std::memcpy(&body[28], v, sizeof v);
  put32(60, 0);
  put32(64, 1);
  auto mf = Builder().Raw(win::EMR_GRADIENTFILL, body).Build();
  auto b = NewBitmap(300, 20);
  PlayStats st;
  ASSERT_TRUE(PlayMetafile(b->dc(), mf, nullptr, nullptr, &st).ok());
  EXPECT_EQ(st.skipped, 0u);
  EXPECT_LT(b->Pixel(2, 5) >> 16, 8u);
  EXPECT_NEAR(int(b->Pixel(128, 5) >> 16), 128, 4);
  EXPECT_GT(b->Pixel(254, 5) >> 16, 0xF8u);
  EXPECT_EQ(b->Pixel(270, 5), kWhite);
  EXPECT_EQ(b->Pixel(128, 15), kWhite);
}

}  // namespace
}  // namespace zv::gdi
