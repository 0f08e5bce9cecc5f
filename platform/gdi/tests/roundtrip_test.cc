// A scene drawn directly and the same scene recorded and played back give the same pixels at
// the probe points; several threads play at once on their own bitmaps.
#include <gtest/gtest.h>

#include <thread>

#include "platform/gdi/player.h"
#include "platform/gdi/recorder/recorder.h"
#include "platform/gdi/surfaces.h"

namespace zv::gdi {
namespace {

using win::RGB;

// Draws a scene on a 400 x 300 device: map mode, clip, shapes, raster operations, text and a
// blit from another bitmap.
void Scene(DeviceContext& dc, const DeviceContext& photo) {
  dc.SetMapMode(win::MM_ANISOTROPIC);
  dc.SetWindowExtEx(800, 600);
  dc.SetViewportExtEx(400, 300);
  dc.SelectStockObject(win::NULL_PEN);
  dc.SelectBrush(Brush::Solid(RGB(0, 0, 255)));
  dc.Rectangle(20, 20, 380, 280);
  dc.SaveDC();
  dc.IntersectClipRect(400, 0, 800, 600);
  dc.SelectBrush(Brush::Solid(RGB(255, 255, 0)));
  dc.Ellipse(300, 300, 700, 560);
  dc.RestoreDC(-1);
  dc.SetROP2(win::R2_XORPEN);
  dc.SelectBrush(Brush::Solid(RGB(255, 255, 255)));
  dc.Rectangle(100, 100, 200, 200);
  dc.SetROP2(win::R2_COPYPEN);
  dc.SelectPen(Pen{win::PS_SOLID, 4, RGB(0, 128, 0)});
  dc.MoveToEx(0, 590);
  dc.LineTo(800, 590);
  dc.SelectFont(Font{MakeLogFont("ＭＳ ゴシック", -60, win::FW_NORMAL, false, win::SHIFTJIS_CHARSET)});
  dc.SetBkMode(win::TRANSPARENT);
  dc.SetTextColor(RGB(255, 0, 0));
  dc.TextOutW(420, 40, u"印刷");
  dc.BitBlt(600, 400, 100, 100, &photo, 0, 0, win::SRCCOPY);
}

TEST(RoundTripTest, RecordedSceneDrawsLikeTheDirectOne) {
  auto photo = MemoryBitmap::Create(100, 100);
  ASSERT_TRUE(photo.ok());
  (*photo)->dc().SelectStockObject(win::NULL_PEN);
  (*photo)->dc().SelectBrush(Brush::Solid(RGB(10, 200, 30)));
  (*photo)->dc().Rectangle(0, 0, 100, 100);

  auto direct = MemoryBitmap::Create(400, 300);
  ASSERT_TRUE(direct.ok());
  Scene((*direct)->dc(), (*photo)->dc());

  auto ref = MemoryBitmap::Create(400, 300);
  MetafileRecorder::Options o;
  o.device = {400, 300};
  o.millimeters = {400, 300};
  o.frame = win::RECTL{0, 0, 40000, 30000};
  o.reference = &(*ref)->dc();
  MetafileRecorder rec(o);
  Scene(rec, (*photo)->dc());
  auto bytes = rec.Close();
  ASSERT_TRUE(bytes.ok()) << bytes.status().ToString();
  auto played = MemoryBitmap::Create(400, 300);
  RECT dest{0, 0, 400, 300};
  PlayStats st;
  ASSERT_TRUE(PlayMetafile((*played)->dc(), *bytes, &dest, nullptr, &st).ok());
  EXPECT_EQ(st.skipped, 0u);

  const POINT probes[] = {{5, 5},     {50, 50},   {75, 75},   {150, 150}, {250, 200},
                          {180, 200}, {330, 270}, {200, 295}, {325, 225}};
  for (const POINT& p : probes) {
    EXPECT_EQ((*played)->Pixel(p.x, p.y), (*direct)->Pixel(p.x, p.y)) << p.x << "," << p.y;
  }
  EXPECT_EQ((*played)->Pixel(75, 75), 0xFFFF00u);    // white XOR blue
  EXPECT_EQ((*played)->Pixel(325, 225), 0x0AC81Eu);  // the blitted photo
  // The text: red ink inside its box on both.
  auto red_ink = [](const MemoryBitmap& b) {
    int n = 0;
    for (int y = 15; y < 60; ++y)
      for (int x = 205; x < 280; ++x) n += b.Pixel(x, y) == 0xFF0000u;
    return n;
  };
  EXPECT_GT(red_ink(**played), 50);
  EXPECT_NEAR(red_ink(**played), red_ink(**direct), red_ink(**direct) / 5);
}

TEST(RoundTripTest, ThreadsPlayAtOnceOnTheirOwnBitmaps) {
  MetafileRecorder::Options o;
  auto ref = MemoryBitmap::Create(100, 100);
  o.reference = &(*ref)->dc();
  MetafileRecorder rec(o);
  rec.SelectFont(Font{MakeLogFont("ＭＳ 明朝", -80, win::FW_NORMAL, false, win::SHIFTJIS_CHARSET)});
  for (int i = 0; i < 20; ++i) rec.TextOutW(100, 100 + i * 150, u"同時に描画する文書 Drawing at once");
  rec.SelectStockObject(win::BLACK_BRUSH);
  rec.Ellipse(200, 200, 1200, 1200);
  auto bytes = rec.Close();
  ASSERT_TRUE(bytes.ok());
  std::vector<std::uint64_t> sums(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      auto b = MemoryBitmap::Create(413, 585, 24, 50);
      RECT dest{0, 0, 413, 585};
      for (int k = 0; k < 3; ++k) {
        b.value()->dc().PatBlt(0, 0, 413, 585, win::WHITENESS);
        if (!PlayMetafile(b.value()->dc(), *bytes, &dest).ok()) return;
      }
      std::uint64_t s = 0;
      for (int y = 0; y < 585; y += 3)
        for (int x = 0; x < 413; x += 3) s += b.value()->Pixel(x, y);
      sums[t] = s;
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_NE(sums[0], 0u);
  for (int t = 1; t < 4; ++t) EXPECT_EQ(sums[t], sums[0]);
}

}  // namespace
}  // namespace zv::gdi
