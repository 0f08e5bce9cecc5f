// Test fixture: one metafile with a record of every kind the views read.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/gdi/emf/builder.h"

namespace zv::emf::testing {

template <typename... T>
std::vector<std::uint8_t> Pack(const T&... v) {
  std::vector<std::uint8_t> out;
  auto put = [&out](const auto& x) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&x);
    out.insert(out.end(), p, p + sizeof(x));
  };
  (put(v), ...);
  return out;
}

inline win::LOGFONTW TestFont() {
  win::LOGFONTW lf{};
  lf.lfHeight = -40;
  lf.lfWeight = win::FW_BOLD;
  lf.lfCharSet = win::SHIFTJIS_CHARSET;
  const char16_t face[] = u"IPAGothic";
  std::memcpy(lf.lfFaceName, face, sizeof(face));
  return lf;
}

// Handles: 1 pen, 2 brush, 3 font, 4 extended pen, 5 pattern brush.
inline std::vector<std::uint8_t> RichMetafile() {
  using namespace win;
  MetafileBuilder b;
  const POINTL tri[] = {{10, 10}, {90, 10}, {50, 70}};
  const POINTL two[] = {{0, 0}, {10, 0}, {10, 10}, {100, 100}, {120, 100}, {120, 130}};
  const DWORD counts[] = {3, 3};
  const RECTL clip[] = {{0, 0, 500, 400}, {600, 0, 700, 50}};
  const LONG dx[] = {10, 11, 12};
  const RECTL opaque{5, 5, 60, 30};
  auto dib = MakeTestDib(3, 2, 24);
  for (std::size_t i = 0; i < dib.bits.size(); ++i) dib.bits[i] = std::uint8_t(i);

  b.SetMapMode(MM_TEXT)
      .CreatePen(1, PS_SOLID, 2, RGB(255, 0, 0))
      .CreateBrush(2, BS_SOLID, RGB(0, 0, 255))
      .CreateFont(3, TestFont())
      .SelectObject(1)
      .SelectObject(ENHMETA_STOCK_OBJECT | NULL_BRUSH)
      .Rectangle(100, 200, 300, 400)
      .Poly(EMR_POLYGON, tri)
      .Poly(EMR_POLYLINE16, tri)
      .PolyPolygon(two, counts)
      .ExtSelectClipRgn(RGN_COPY, clip)
      .ExtSelectClipRgn(RGN_COPY, {})
      .SelectObject(3)
      .ExtTextOutW(20, 30, u"abc", ETO_OPAQUE, &opaque, dx)
      .ExtTextOutA(20, 60, "\x82\xa0z")
      .StretchDIBits(400, 500, 30, 20, dib.info, dib.bits)
      .PatBlt(10, 800, 0, 50)
      .Comment(Pack(GDICOMMENT_IDENTIFIER, GDICOMMENT_BEGINGROUP))
      .CommentField(102 | (33u << 16), {});
  // Records without a helper, laid out by hand.
  // Extended pen with two style entries.
  b.Raw(EMR_EXTCREATEPEN, Pack(DWORD(4), DWORD(0), DWORD(0), DWORD(0), DWORD(0),
                               EXTLOGPEN32{PS_GEOMETRIC | PS_USERSTYLE, 5, BS_SOLID, 0, 0, 2}, DWORD(3), DWORD(1)));
  // Pattern brush with a 1-bit 8 x 8 bitmap at offset 32.
  {
    auto mono = MakeTestDib(8, 8, 1);
    const DWORD off_bmi = 32, off_bits = 32 + DWORD(mono.info.size());
    auto body = Pack(DWORD(5), DIB_RGB_COLORS, off_bmi, DWORD(mono.info.size()), off_bits, DWORD(mono.bits.size()));
    body.insert(body.end(), mono.info.begin(), mono.info.end());
    body.insert(body.end(), mono.bits.begin(), mono.bits.end());
    b.Raw(EMR_CREATEDIBPATTERNBRUSHPT, body);
  }
  // Poly-draw with three points and their types.
  b.Raw(EMR_POLYDRAW, Pack(RECTL{1, 2, 30, 40}, DWORD(3), POINTL{1, 2}, POINTL{30, 2}, POINTL{30, 40}, BYTE(PT_MOVETO),
                           BYTE(PT_LINETO), BYTE(PT_LINETO | PT_CLOSEFIGURE), BYTE(0)));
  // Small text out, 8-bit, without rectangle.
  b.Raw(EMR_SMALLTEXTOUT, Pack(LONG(7), LONG(8), DWORD(2), DWORD(ETO_SMALL_CHARS | ETO_NO_RECT), DWORD(GM_COMPATIBLE),
                               1.0f, 1.0f, char('h'), char('i'), short(0)));
  // Fill region with brush 2, one rectangle.
  b.Raw(EMR_FILLRGN, Pack(RECTL{0, 0, 9, 9}, DWORD(48), DWORD(2),
                          RGNDATAHEADER{32, RDH_RECTANGLES, 1, 16, {0, 0, 10, 10}}, RECTL{0, 0, 10, 10}));
  // Set-bits-to-device with 2 of 4 scan lines present.
  {
    auto d = MakeTestDib(4, 4, 8);
    const DWORD scans = 2, bits_size = DWORD(4 * scans);
    const DWORD off_bmi = 76, off_bits = 76 + DWORD(d.info.size());
    auto body = Pack(RECTL{0, 0, 3, 1}, LONG(0), LONG(0), LONG(0), LONG(0), LONG(4), LONG(2), off_bmi,
                     DWORD(d.info.size()), off_bits, bits_size, DIB_RGB_COLORS, DWORD(0), scans);
    body.insert(body.end(), d.info.begin(), d.info.end());
    body.insert(body.end(), d.bits.begin(), d.bits.begin() + bits_size);
    b.Raw(EMR_SETDIBITSTODEVICE, body);
  }
  b.SelectObject(4).SelectObject(5).DeleteObject(1).DeleteObject(5);
  return b.Build();
}

}  // namespace zv::emf::testing
