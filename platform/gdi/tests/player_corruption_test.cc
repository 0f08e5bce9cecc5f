// Damaged metafiles: every word of a valid metafile spoiled in turn, and every truncation,
// must give an error or a drawing, never a crash or a read outside the bytes.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/gdi/emf/builder.h"
#include "platform/gdi/player.h"
#include "platform/gdi/surfaces.h"

namespace zv::gdi {
namespace {

std::vector<std::uint8_t> Sample() {
  auto dib = emf::MakeTestDib(3, 2, 8);
  const win::POINTL pts[] = {{0, 0}, {50, 10}, {20, 40}, {5, 30}};
  const win::DWORD counts[] = {2, 2};
  const win::RECTL clip[] = {{0, 0, 60, 60}, {70, 0, 90, 20}};
  const win::LONG ldx[] = {5, 6, 7};
  return emf::MetafileBuilder()
      .CreatePen(1, win::PS_DASH, 1, 0x123456)
      .SelectObject(1)
      .CreateBrush(2, win::BS_HATCHED, 0x00FF00, win::HS_CROSS)
      .SelectObject(2)
      .CreateFont(3, MakeLogFont("Arial", -12))
      .SelectObject(3)
      .Poly(win::EMR_POLYGON16, pts)
      .PolyPolygon(pts, counts)
      .ExtSelectClipRgn(win::RGN_AND, clip)
      .ExtTextOutW(5, 5, u"abc", win::ETO_OPAQUE, &clip[0], ldx)
      .StretchDIBits(0, 0, 30, 20, dib.info, dib.bits)
      .PatBlt(1, 1, 5, 5, win::PATINVERT)
      .DeleteObject(2)
      .Build();
}

TEST(PlayerCorruptionTest, SpoiledWordsAndTruncationsNeverCrash) {
  const std::vector<std::uint8_t> good = Sample();
  ASSERT_FALSE(good.empty());
  auto b = MemoryBitmap::Create(64, 64);
  ASSERT_TRUE(b.ok());
  ASSERT_TRUE(PlayMetafile((*b)->dc(), good, nullptr).ok());
  const std::uint32_t values[] = {0, 1, 3, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFF, 0x10000};
  int errors = 0;
  for (size_t at = 0; at + 4 <= good.size(); at += 4) {
    for (std::uint32_t v : values) {
      std::vector<std::uint8_t> bad = good;
      std::memcpy(bad.data() + at, &v, 4);
      Status s = PlayMetafile((*b)->dc(), bad, nullptr);
      errors += !s.ok();
    }
  }
  EXPECT_GT(errors, 0);
  for (size_t len = 0; len < good.size(); len += 3) {
    std::vector<std::uint8_t> cut(good.begin(), good.begin() + len);
    RECT dest{0, 0, 64, 64};
    Status s = PlayMetafile((*b)->dc(), cut, &dest);
    (void)s;
  }
}

}  // namespace
}  // namespace zv::gdi
