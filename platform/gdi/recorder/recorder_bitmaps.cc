// Blits and device-independent bitmaps as records; a source device context's pixels are
// embedded as the record's bitmap.
#include "platform/gdi/recorder/recorder_internal.h"

namespace zv::gdi {

bool MetafileRecorder::Impl::Blit(DWORD type, int x, int y, int cx, int cy, const std::optional<Dib>& src, int xs,
                                  int ys, int cxs, int cys, DWORD rop) {
  if (closed) return false;
  const RECTL bounds = BoxOfRect(x, y, x + cx, y + cy);
  EMRSTRETCHBLT h{};
  h.emr.iType = type;
  // Blit bounds are inclusive: the destination covers up to, not including, x + cx.
  h.rclBounds = in_path ? kEmpty : RECTL{bounds.left, bounds.top, bounds.right - 1, bounds.bottom - 1};
  h.xDest = x;
  h.yDest = y;
  h.cxDest = cx;
  h.cyDest = cy;
  h.dwRop = rop;
  h.xSrc = xs;
  h.ySrc = ys;
  h.xformSrc = IdentityXform();
  h.crBkColorSrc = st.bk;
  h.iUsageSrc = DIB_RGB_COLORS;
  h.cxSrc = cxs;
  h.cySrc = cys;
  const std::size_t head = type == EMR_BITBLT ? sizeof(EMRBITBLT) : sizeof(EMRSTRETCHBLT);
  Bytes tail;
  if (src) {
    std::size_t info = 0;
    tail = DibBytes(*src, &info);
    h.iUsageSrc = src->usage;
    h.offBmiSrc = DWORD(head);
    h.cbBmiSrc = DWORD(info);
    h.offBitsSrc = DWORD(head + ((info + 3) & ~std::size_t(3)));
    h.cbBitsSrc = DWORD(src->bits.size());
  }
  Bytes rec(head);
  std::memcpy(rec.data(), &h, head);
  PutSpan(rec, tail);
  if (!Emit(std::move(rec))) return false;
  if (in_path) path_box = Union(path_box, bounds);
  return true;
}

std::optional<Dib> MetafileRecorder::Impl::ReadSource(const DeviceContext* src, int xs, int ys, int cxs,
                                                      int cys) const {
  if (!src) return std::nullopt;
  POINT c[2] = {{xs, ys}, {xs + cxs, ys + cys}};
  src->LPtoDP(c);
  const RECT r{std::min(c[0].x, c[1].x), std::min(c[0].y, c[1].y), std::max(c[0].x, c[1].x), std::max(c[0].y, c[1].y)};
  if (r.right <= r.left || r.bottom <= r.top) return std::nullopt;
  return src->ReadPixels(r);
}

int MetafileRecorder::Impl::DibWidth(const Dib& d) {
  BITMAPINFOHEADER h{};
  if (d.info.size() >= sizeof(h)) std::memcpy(&h, d.info.data(), sizeof(h));
  return h.biWidth;
}

int MetafileRecorder::Impl::DibHeight(const Dib& d) {
  BITMAPINFOHEADER h{};
  if (d.info.size() >= sizeof(h)) std::memcpy(&h, d.info.data(), sizeof(h));
  return h.biHeight < 0 ? -h.biHeight : h.biHeight;
}

bool MetafileRecorder::Impl::Mask(int x, int y, int cx, int cy, const std::optional<Dib>& src, int xs, int ys,
                                  const DibRef* mask, int xm, int ym, DWORD rop4) {
  if (closed) return false;
  const RECTL bounds = BoxOfRect(x, y, x + cx, y + cy);
  EMRMASKBLT h{};
  h.emr.iType = EMR_MASKBLT;
  h.rclBounds = in_path ? kEmpty : RECTL{bounds.left, bounds.top, bounds.right - 1, bounds.bottom - 1};
  h.xDest = x;
  h.yDest = y;
  h.cxDest = cx;
  h.cyDest = cy;
  h.dwRop = rop4;
  h.xSrc = xs;
  h.ySrc = ys;
  h.xformSrc = IdentityXform();
  h.crBkColorSrc = st.bk;
  h.xMask = xm;
  h.yMask = ym;
  Bytes tail;
  if (src) {
    std::size_t info = 0;
    Bytes d = DibBytes(*src, &info);
    h.iUsageSrc = src->usage;
    h.offBmiSrc = DWORD(sizeof(h));
    h.cbBmiSrc = DWORD(info);
    h.offBitsSrc = DWORD(sizeof(h) + ((info + 3) & ~std::size_t(3)));
    h.cbBitsSrc = DWORD(src->bits.size());
    PutSpan(tail, d);
  }
  if (mask) {
    std::size_t info = 0;
    Bytes d = DibBytes(Dib::Copy(*mask), &info);
    h.iUsageMask = mask->usage;
    h.offBmiMask = DWORD(sizeof(h) + tail.size());
    h.cbBmiMask = DWORD(info);
    h.offBitsMask = h.offBmiMask + DWORD((info + 3) & ~std::size_t(3));
    h.cbBitsMask = DWORD(mask->bits.size());
    PutSpan(tail, d);
  }
  if (!EmitFixed(h, tail)) return false;
  if (in_path) path_box = Union(path_box, bounds);
  return true;
}

// ---- Bitmaps ----

bool MetafileRecorder::PatBlt(int x, int y, int cx, int cy, DWORD rop) {
  if (RopUsesSource(rop)) return false;
  return impl_->Blit(EMR_BITBLT, x, y, cx, cy, std::nullopt, 0, 0, cx, cy, rop);
}

bool MetafileRecorder::BitBlt(int x, int y, int cx, int cy, const DeviceContext* src, int xs, int ys, DWORD rop) {
  return StretchBlt(x, y, cx, cy, src, xs, ys, cx, cy, rop);
}

bool MetafileRecorder::StretchBlt(int x, int y, int cx, int cy, const DeviceContext* src, int xs, int ys, int cxs,
                                  int cys, DWORD rop) {
  Impl& m = *impl_;
  if (!RopUsesSource(rop)) return m.Blit(EMR_BITBLT, x, y, cx, cy, std::nullopt, 0, 0, cx, cy, rop);
  auto pixels = m.ReadSource(src, xs, ys, cxs, cys);
  if (!pixels) return false;
  const int w = Impl::DibWidth(*pixels), h = Impl::DibHeight(*pixels);
  const bool same = w == cx && h == cy;
  return m.Blit(same ? EMR_BITBLT : EMR_STRETCHBLT, x, y, cx, cy, pixels, 0, 0, w, h, rop);
}

bool MetafileRecorder::StretchDIBits(int x, int y, int cx, int cy, int xs, int ys, int cxs, int cys, const DibRef& dib,
                                     DWORD rop) {
  Impl& m = *impl_;
  if (m.closed) return false;
  EMRSTRETCHDIBITS h{};
  h.emr.iType = EMR_STRETCHDIBITS;
  const RECTL b = m.BoxOfRect(x, y, x + cx, y + cy);
  h.rclBounds = m.in_path ? kEmpty : RECTL{b.left, b.top, b.right - 1, b.bottom - 1};
  h.xDest = x;
  h.yDest = y;
  h.xSrc = xs;
  h.ySrc = ys;
  h.cxSrc = cxs;
  h.cySrc = cys;
  h.iUsageSrc = dib.usage;
  h.dwRop = rop;
  h.cxDest = cx;
  h.cyDest = cy;
  Bytes tail;
  if (RopUsesSource(rop)) {
    std::size_t info = 0;
    tail = m.DibBytes(Dib::Copy(dib), &info);
    h.offBmiSrc = sizeof(h);
    h.cbBmiSrc = DWORD(info);
    h.offBitsSrc = DWORD(sizeof(h) + ((info + 3) & ~std::size_t(3)));
    h.cbBitsSrc = DWORD(dib.bits.size());
  }
  if (!m.EmitFixed(h, tail)) return false;
  if (m.in_path) m.path_box = Union(m.path_box, b);
  return true;
}

bool MetafileRecorder::SetDIBitsToDevice(int x, int y, int cx, int cy, int xs, int ys, UINT start, UINT lines,
                                         const DibRef& dib) {
  Impl& m = *impl_;
  if (m.closed) return false;
  EMRSETDIBITSTODEVICE h{};
  h.emr.iType = EMR_SETDIBITSTODEVICE;
  const RECTL b = m.BoxOfRect(x, y, x + cx, y + cy);
  h.rclBounds = m.in_path ? kEmpty : RECTL{b.left, b.top, b.right - 1, b.bottom - 1};
  h.xDest = x;
  h.yDest = y;
  h.xSrc = xs;
  h.ySrc = ys;
  h.cxSrc = cx;
  h.cySrc = cy;
  h.iUsageSrc = dib.usage;
  h.iStartScan = start;
  h.cScans = lines;
  std::size_t info = 0;
  const Bytes tail = m.DibBytes(Dib::Copy(dib), &info);
  h.offBmiSrc = sizeof(h);
  h.cbBmiSrc = DWORD(info);
  h.offBitsSrc = DWORD(sizeof(h) + ((info + 3) & ~std::size_t(3)));
  h.cbBitsSrc = DWORD(dib.bits.size());
  if (!m.EmitFixed(h, tail)) return false;
  if (m.in_path) m.path_box = Union(m.path_box, b);
  return true;
}

bool MetafileRecorder::MaskBlt(int x, int y, int cx, int cy, const DeviceContext* src, int xs, int ys,
                               const DibRef* mask, int xm, int ym, DWORD rop4) {
  Impl& m = *impl_;
  std::optional<Dib> pixels;
  if (RopUsesSource(rop4) || RopUsesSource(rop4 >> 8)) {
    pixels = m.ReadSource(src, xs, ys, cx, cy);
    if (!pixels) return false;
    xs = ys = 0;
  }
  return m.Mask(x, y, cx, cy, pixels, xs, ys, mask, xm, ym, rop4);
}

bool MetafileRecorder::AlphaBlend(int x, int y, int cx, int cy, const DeviceContext* src, int xs, int ys, int cxs,
                                  int cys, win::BLENDFUNCTION blend) {
  Impl& m = *impl_;
  auto pixels = m.ReadSource(src, xs, ys, cxs, cys);
  if (!pixels) return false;
  return DibAlphaBlend(x, y, cx, cy, pixels->ref(), 0, 0, Impl::DibWidth(*pixels), Impl::DibHeight(*pixels), blend);
}

bool MetafileRecorder::DibBlt(int x, int y, int cx, int cy, const DibRef* src, int xs, int ys, int cxs, int cys,
                              DWORD rop) {
  Impl& m = *impl_;
  std::optional<Dib> pixels;
  if (RopUsesSource(rop)) {
    if (!src) return false;
    pixels = Dib::Copy(*src);
  }
  const bool same = cxs == cx && cys == cy;
  return m.Blit(same ? EMR_BITBLT : EMR_STRETCHBLT, x, y, cx, cy, pixels, xs, ys, cxs, cys, rop);
}

bool MetafileRecorder::DibMaskBlt(int x, int y, int cx, int cy, const DibRef* src, int xs, int ys, const DibRef* mask,
                                  int xm, int ym, DWORD rop4) {
  std::optional<Dib> pixels;
  if (src) pixels = Dib::Copy(*src);
  return impl_->Mask(x, y, cx, cy, pixels, xs, ys, mask, xm, ym, rop4);
}

bool MetafileRecorder::DibAlphaBlend(int x, int y, int cx, int cy, const DibRef& src, int xs, int ys, int cxs, int cys,
                                     win::BLENDFUNCTION blend) {
  DWORD packed = 0;
  std::memcpy(&packed, &blend, sizeof(packed));
  return impl_->Blit(EMR_ALPHABLEND, x, y, cx, cy, Dib::Copy(src), xs, ys, cxs, cys, packed);
}

std::optional<Dib> MetafileRecorder::ReadPixels(const RECT&) const { return std::nullopt; }

}  // namespace zv::gdi
