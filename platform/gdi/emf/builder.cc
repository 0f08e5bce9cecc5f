#include "platform/gdi/emf/builder.h"

#include <algorithm>
#include <cstring>

namespace zv::emf {
namespace {

using namespace win;

Writer::Options DefaultOptions() { return Writer::Options{}; }

template <typename T>
void PutBytes(std::vector<std::uint8_t>& out, const T& v) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&v);
  out.insert(out.end(), p, p + sizeof(T));
}

RECTL BoundsOf(std::span<const POINTL> pts) {
  if (pts.empty()) return {0, 0, -1, -1};
  RECTL b{pts[0].x, pts[0].y, pts[0].x, pts[0].y};
  for (const auto& p : pts) {
    b.left = std::min(b.left, p.x);
    b.top = std::min(b.top, p.y);
    b.right = std::max(b.right, p.x);
    b.bottom = std::max(b.bottom, p.y);
  }
  return b;
}

// Text bounds are not measured here: the reference point's pixel stands in for them.
template <typename Char>
std::vector<std::uint8_t> TextRecord(std::uint32_t type, int x, int y, std::basic_string_view<Char> text,
                                     std::uint32_t options, const RECTL* rect, std::span<const LONG> dx) {
  EMREXTTEXTOUTW h{};
  h.emr = {type, 0};
  h.rclBounds = {x, y, x, y};
  h.iGraphicsMode = GM_COMPATIBLE;
  h.exScale = h.eyScale = 1.0f;
  h.emrtext.ptlReference = {x, y};
  h.emrtext.nChars = std::uint32_t(text.size());
  h.emrtext.fOptions = options;
  if (rect) h.emrtext.rcl = *rect;
  const std::size_t text_bytes = (text.size() * sizeof(Char) + 3) & ~std::size_t(3);
  h.emrtext.offString = sizeof(h);
  h.emrtext.offDx = dx.empty() ? 0 : std::uint32_t(sizeof(h) + text_bytes);
  std::vector<std::uint8_t> out;
  PutBytes(out, h);
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  out.insert(out.end(), p, p + text.size() * sizeof(Char));
  out.resize(sizeof(h) + text_bytes, 0);
  for (LONG d : dx) PutBytes(out, d);
  return out;
}

}  // namespace

MetafileBuilder::MetafileBuilder() : writer_(DefaultOptions()) {}
MetafileBuilder::MetafileBuilder(const Writer::Options& options) : writer_(options) {}

template <typename T>
MetafileBuilder& MetafileBuilder::Put(const T& rec, std::span<const std::uint8_t> tail) {
  writer_.Append(rec, tail);
  return *this;
}

MetafileBuilder& MetafileBuilder::SetMapMode(std::uint32_t mode) {
  return Put(EMRSETMAPMODE{{EMR_SETMAPMODE, 0}, mode});
}
MetafileBuilder& MetafileBuilder::SetWindowOrg(int x, int y) {
  return Put(EMRSETWINDOWORGEX{{EMR_SETWINDOWORGEX, 0}, {x, y}});
}
MetafileBuilder& MetafileBuilder::SetWindowExt(int cx, int cy) {
  return Put(EMRSETWINDOWEXTEX{{EMR_SETWINDOWEXTEX, 0}, {cx, cy}});
}
MetafileBuilder& MetafileBuilder::SetViewportOrg(int x, int y) {
  return Put(EMRSETVIEWPORTORGEX{{EMR_SETVIEWPORTORGEX, 0}, {x, y}});
}
MetafileBuilder& MetafileBuilder::SetViewportExt(int cx, int cy) {
  return Put(EMRSETVIEWPORTEXTEX{{EMR_SETVIEWPORTEXTEX, 0}, {cx, cy}});
}
MetafileBuilder& MetafileBuilder::SetWorldTransform(const XFORM& xf) {
  return Put(EMRSETWORLDTRANSFORM{{EMR_SETWORLDTRANSFORM, 0}, xf});
}
MetafileBuilder& MetafileBuilder::ModifyWorldTransform(const XFORM& xf, std::uint32_t mode) {
  return Put(EMRMODIFYWORLDTRANSFORM{{EMR_MODIFYWORLDTRANSFORM, 0}, xf, mode});
}
MetafileBuilder& MetafileBuilder::SaveDC() { return Put(EMRSAVEDC{{EMR_SAVEDC, 0}}); }
MetafileBuilder& MetafileBuilder::RestoreDC(int relative) { return Put(EMRRESTOREDC{{EMR_RESTOREDC, 0}, relative}); }
MetafileBuilder& MetafileBuilder::SetTextColor(COLORREF c) { return Put(EMRSETTEXTCOLOR{{EMR_SETTEXTCOLOR, 0}, c}); }
MetafileBuilder& MetafileBuilder::SetBkColor(COLORREF c) { return Put(EMRSETBKCOLOR{{EMR_SETBKCOLOR, 0}, c}); }
MetafileBuilder& MetafileBuilder::SetBkMode(std::uint32_t mode) { return Put(EMRSETBKMODE{{EMR_SETBKMODE, 0}, mode}); }
MetafileBuilder& MetafileBuilder::SetTextAlign(std::uint32_t align) {
  return Put(EMRSETTEXTALIGN{{EMR_SETTEXTALIGN, 0}, align});
}
MetafileBuilder& MetafileBuilder::SetROP2(std::uint32_t rop2) { return Put(EMRSETROP2{{EMR_SETROP2, 0}, rop2}); }
MetafileBuilder& MetafileBuilder::SetPolyFillMode(std::uint32_t mode) {
  return Put(EMRSETPOLYFILLMODE{{EMR_SETPOLYFILLMODE, 0}, mode});
}

MetafileBuilder& MetafileBuilder::CreatePen(std::uint32_t ih, std::uint32_t style, int width, COLORREF c) {
  return Put(EMRCREATEPEN{{EMR_CREATEPEN, 0}, ih, LOGPEN{style, {width, 0}, c}});
}
MetafileBuilder& MetafileBuilder::CreateBrush(std::uint32_t ih, std::uint32_t style, COLORREF c, std::uint32_t hatch) {
  return Put(EMRCREATEBRUSHINDIRECT{{EMR_CREATEBRUSHINDIRECT, 0}, ih, LOGBRUSH32{style, c, hatch}});
}
MetafileBuilder& MetafileBuilder::CreateFont(std::uint32_t ih, const LOGFONTW& lf) {
  EMREXTCREATEFONTINDIRECTW rec{};
  rec.emr.iType = EMR_EXTCREATEFONTINDIRECTW;
  rec.ihFont = ih;
  rec.elfw.elfLogFont = lf;
  return Put(rec);
}
MetafileBuilder& MetafileBuilder::SelectObject(std::uint32_t ih) {
  return Put(EMRSELECTOBJECT{{EMR_SELECTOBJECT, 0}, ih});
}
MetafileBuilder& MetafileBuilder::DeleteObject(std::uint32_t ih) {
  return Put(EMRDELETEOBJECT{{EMR_DELETEOBJECT, 0}, ih});
}

MetafileBuilder& MetafileBuilder::MoveTo(int x, int y) { return Put(EMRMOVETOEX{{EMR_MOVETOEX, 0}, {x, y}}); }
MetafileBuilder& MetafileBuilder::LineTo(int x, int y) {
  writer_.AddBounds({x, y, x, y});
  return Put(EMRLINETO{{EMR_LINETO, 0}, {x, y}});
}
MetafileBuilder& MetafileBuilder::Rectangle(int left, int top, int right, int bottom) {
  writer_.AddBounds({left, top, right - 1, bottom - 1});
  return Put(EMRRECTANGLE{{EMR_RECTANGLE, 0}, {left, top, right, bottom}});
}
MetafileBuilder& MetafileBuilder::Ellipse(int left, int top, int right, int bottom) {
  writer_.AddBounds({left, top, right - 1, bottom - 1});
  return Put(EMRELLIPSE{{EMR_ELLIPSE, 0}, {left, top, right, bottom}});
}

MetafileBuilder& MetafileBuilder::Poly(std::uint32_t type, std::span<const POINTL> pts) {
  const bool small = type >= EMR_POLYBEZIER16 && type <= EMR_POLYLINETO16;
  EMRPOLYLINE_HEAD h{{type, 0}, BoundsOf(pts), std::uint32_t(pts.size())};
  std::vector<std::uint8_t> tail;
  for (const auto& p : pts) {
    if (small) {
      PutBytes(tail, POINTS{SHORT(p.x), SHORT(p.y)});
    } else {
      PutBytes(tail, p);
    }
  }
  return Put(h, tail);
}

MetafileBuilder& MetafileBuilder::PolyPolygon(std::span<const POINTL> pts, std::span<const DWORD> counts) {
  EMRPOLYPOLYLINE_HEAD h{{EMR_POLYPOLYGON, 0}, BoundsOf(pts), std::uint32_t(counts.size()), std::uint32_t(pts.size())};
  std::vector<std::uint8_t> tail;
  for (DWORD c : counts) PutBytes(tail, c);
  for (const auto& p : pts) PutBytes(tail, p);
  return Put(h, tail);
}

MetafileBuilder& MetafileBuilder::ExtSelectClipRgn(std::uint32_t mode, std::span<const RECTL> rects) {
  EMREXTSELECTCLIPRGN_HEAD h{{EMR_EXTSELECTCLIPRGN, 0}, 0, mode};
  std::vector<std::uint8_t> tail;
  if (!rects.empty()) {
    RGNDATAHEADER rh{sizeof(RGNDATAHEADER), RDH_RECTANGLES, std::uint32_t(rects.size()),
                     std::uint32_t(rects.size() * sizeof(RECTL)), rects[0]};
    for (const auto& r : rects) {
      rh.rcBound.left = std::min(rh.rcBound.left, r.left);
      rh.rcBound.top = std::min(rh.rcBound.top, r.top);
      rh.rcBound.right = std::max(rh.rcBound.right, r.right);
      rh.rcBound.bottom = std::max(rh.rcBound.bottom, r.bottom);
    }
    PutBytes(tail, rh);
    for (const auto& r : rects) PutBytes(tail, r);
    h.cbRgnData = std::uint32_t(tail.size());
  }
  return Put(h, tail);
}

MetafileBuilder& MetafileBuilder::IntersectClipRect(int left, int top, int right, int bottom) {
  return Put(EMRINTERSECTCLIPRECT{{EMR_INTERSECTCLIPRECT, 0}, {left, top, right, bottom}});
}

MetafileBuilder& MetafileBuilder::ExtTextOutW(int x, int y, std::u16string_view text, std::uint32_t options,
                                              const RECTL* rect, std::span<const LONG> dx) {
  writer_.Append(TextRecord<char16_t>(EMR_EXTTEXTOUTW, x, y, text, options, rect, dx));
  return *this;
}
MetafileBuilder& MetafileBuilder::ExtTextOutA(int x, int y, std::string_view text, std::uint32_t options,
                                              const RECTL* rect, std::span<const LONG> dx) {
  writer_.Append(TextRecord<char>(EMR_EXTTEXTOUTA, x, y, text, options, rect, dx));
  return *this;
}

MetafileBuilder& MetafileBuilder::StretchDIBits(int x, int y, int cx, int cy, std::span<const std::uint8_t> info,
                                                std::span<const std::uint8_t> bits, std::uint32_t rop) {
  EMRSTRETCHDIBITS h{};
  h.emr.iType = EMR_STRETCHDIBITS;
  h.rclBounds = {x, y, x + cx - 1, y + cy - 1};
  h.xDest = x;
  h.yDest = y;
  BITMAPINFOHEADER bih{};
  if (info.size() >= sizeof(bih)) std::memcpy(&bih, info.data(), sizeof(bih));
  h.cxSrc = bih.biWidth;
  h.cySrc = bih.biHeight < 0 ? -bih.biHeight : bih.biHeight;
  const std::size_t info_padded = (info.size() + 3) & ~std::size_t(3);
  h.offBmiSrc = sizeof(h);
  h.cbBmiSrc = std::uint32_t(info.size());
  h.offBitsSrc = std::uint32_t(sizeof(h) + info_padded);
  h.cbBitsSrc = std::uint32_t(bits.size());
  h.iUsageSrc = DIB_RGB_COLORS;
  h.dwRop = rop;
  h.cxDest = cx;
  h.cyDest = cy;
  std::vector<std::uint8_t> tail(info.begin(), info.end());
  tail.resize(info_padded, 0);
  tail.insert(tail.end(), bits.begin(), bits.end());
  return Put(h, tail);
}

MetafileBuilder& MetafileBuilder::PatBlt(int x, int y, int cx, int cy, std::uint32_t rop) {
  EMRBITBLT h{};
  h.emr.iType = EMR_BITBLT;
  h.rclBounds = {x, y, x + cx - 1, y + cy - 1};
  h.xDest = x;
  h.yDest = y;
  h.cxDest = cx;
  h.cyDest = cy;
  h.dwRop = rop;
  h.xformSrc = XFORM{1, 0, 0, 1, 0, 0};
  return Put(h);
}

MetafileBuilder& MetafileBuilder::Comment(std::span<const std::uint8_t> data) {
  return CommentField(std::uint32_t(data.size()), data);
}

MetafileBuilder& MetafileBuilder::CommentField(std::uint32_t field, std::span<const std::uint8_t> payload) {
  return Put(EMRGDICOMMENT_HEAD{{EMR_GDICOMMENT, 0}, field}, payload);
}

MetafileBuilder& MetafileBuilder::Raw(std::uint32_t type, std::span<const std::uint8_t> body) {
  return Put(EMR{type, 0}, body);
}

MetafileBuilder& MetafileBuilder::RawBytes(std::span<const std::uint8_t> bytes) {
  // The writer needs a well-formed prefix; the caller's bytes are put back after Close.
  std::vector<std::uint8_t> stand_in(std::max<std::size_t>(bytes.size(), sizeof(EMR)), 0);
  const std::uint32_t filler_type = EMR_GDICOMMENT;
  std::memcpy(stand_in.data(), &filler_type, 4);
  const std::size_t at = writer_.body_size();
  if (writer_.Append(std::span<const std::uint8_t>(stand_in))) {
    raw_.push_back({at, std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
  }
  return *this;
}

std::vector<std::uint8_t> MetafileBuilder::Build() {
  const std::size_t header = writer_.header_size();
  auto out = writer_.Close();
  if (!out.ok()) return {};
  for (const auto& patch : raw_) {
    std::memcpy(out->data() + header + patch.body_offset, patch.bytes.data(), patch.bytes.size());
  }
  return std::move(*out);
}

TestDib MakeTestDib(int width, int height, int bits) {
  TestDib d;
  BITMAPINFOHEADER h{};
  h.biSize = sizeof(h);
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = WORD(bits);
  h.biCompression = BI_RGB;
  PutBytes(d.info, h);
  if (bits <= 8) {
    const int n = 1 << bits;
    for (int i = 0; i < n; ++i) {
      const BYTE v = BYTE(n == 1 ? 0 : i * 255 / (n - 1));
      PutBytes(d.info, RGBQUAD{v, v, v, 0});
    }
  }
  const std::size_t stride = ((std::size_t(width) * bits + 31) / 32) * 4;
  d.bits.assign(stride * std::size_t(height < 0 ? -height : height), 0);
  return d;
}

}  // namespace zv::emf
