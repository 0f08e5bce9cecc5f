// Text as EMR_EXTTEXTOUTW / EMR_EXTTEXTOUTA records and the text queries.
#include "platform/gdi/recorder/recorder_internal.h"

namespace zv::gdi {

SIZE MetafileRecorder::Impl::Extent(std::u16string_view text, std::string_view ansi, std::size_t count,
                                    std::span<const int> dx, bool pdy) const {
  SIZE measured{};
  bool have = false;
  if (opt.reference) {
    opt.reference->SelectFont(st.font);
    // Given advances fix the width: only the font's height is asked for, which does not depend
    // on the characters.
    if (!dx.empty()) have = opt.reference->GetTextExtentPoint32W(std::u16string_view(), &measured);
    else have = ansi.empty() ? opt.reference->GetTextExtentPoint32W(text, &measured)
                             : opt.reference->GetTextExtentPoint32A(ansi, &measured);
  }
  if (!dx.empty()) {
    long long w = 0;
    for (std::size_t i = 0; i < count; ++i) w += dx[pdy ? 2 * i : i];
    // Kept well inside LONG: the width is added to positions afterwards.
    return SIZE{LONG(std::clamp<long long>(w, -(1 << 30), 1 << 30)), have ? measured.cy : FontHeight()};
  }
  if (have) return measured;
  // Half the height per character; the count is capped so the product fits a LONG.
  return SIZE{LONG(std::min<std::size_t>(count, 1 << 24)) * FontHeight() / 2, FontHeight()};
}

LONG MetafileRecorder::Impl::FontHeight() const {
  const LONG h = std::abs(st.font.lf.lfHeight);
  return h == 0 ? 16 : h;
}

RECTL MetafileRecorder::Impl::TextBox(POINT at, SIZE ext) const {
  const UINT a = st.align;
  LONG x0 = at.x;
  if ((a & TA_CENTER) == TA_CENTER) {
    x0 = at.x - ext.cx / 2;
  } else if (a & TA_RIGHT) {
    x0 = at.x - ext.cx;
  }
  const LONG down = YUp() ? -1 : 1;
  LONG y0 = at.y, y1 = at.y + down * ext.cy;
  // Without the font's own metrics the baseline is taken at four fifths of the height, a
  // typical ascent; the box only feeds the header's bounds.
  if ((a & TA_BASELINE) == TA_BASELINE) {
    y0 = at.y - down * (ext.cy * 4 / 5);
    y1 = at.y + down * (ext.cy - ext.cy * 4 / 5);
  } else if (a & TA_BOTTOM) {
    y0 = at.y - down * ext.cy;
    y1 = at.y;
  }
  return BoxOfRect(x0, y0, x0 + ext.cx, y1);
}

bool MetafileRecorder::Impl::Text(DWORD type, int x, int y, UINT options, const RECT* rect,
                                  std::span<const std::uint8_t> chars, std::size_t count, std::u16string_view text16,
                                  std::string_view ansi, std::span<const int> dx) {
  if (closed) return false;
  const bool update_cp = st.align & TA_UPDATECP;
  const POINT at = update_cp ? st.cur : POINT{x, y};
  const bool pdy = options & ETO_PDY;
  const std::size_t need = count * (pdy ? 2 : 1);
  if (!dx.empty() && dx.size() < need) return false;
  const SIZE ext = Extent(text16, ansi, count, dx, pdy);
  RECTL bounds = count ? TextBox(at, ext) : kEmpty;
  if (rect && (options & (ETO_OPAQUE | ETO_CLIPPED))) {
    const RECTL rb = BoxOfRect(rect->left, rect->top, rect->right, rect->bottom);
    bounds = (options & ETO_OPAQUE) ? Union(bounds, rb) : bounds;
    if ((options & ETO_CLIPPED) && bounds.right >= bounds.left) {
      bounds = {std::max(bounds.left, rb.left), std::max(bounds.top, rb.top), std::min(bounds.right, rb.right),
                std::min(bounds.bottom, rb.bottom)};
    }
  }
  if (in_path) {
    path_box = Union(path_box, bounds);
    bounds = kEmpty;
  }
  EMREXTTEXTOUTW h{};
  h.emr.iType = type;
  h.rclBounds = bounds;
  // Text is recorded in GM_ADVANCED when the caller chose it or a world transform is set.
  const bool compatible = st.graphics_mode != int(GM_ADVANCED) && IsIdentity(st.map.world);
  h.iGraphicsMode = compatible ? GM_COMPATIBLE : GM_ADVANCED;
  // In GM_COMPATIBLE the record carries the reference device's 0.01 mm per pixel, the values
  // Windows writes there.
  if (compatible) {
    h.exScale = float(opt.millimeters.cx * 100.0 / opt.device.cx);
    h.eyScale = float(opt.millimeters.cy * 100.0 / opt.device.cy);
  }
  h.emrtext.ptlReference = {x, y};
  h.emrtext.nChars = DWORD(count);
  h.emrtext.fOptions = options & ~UINT(ETO_NO_RECT);
  if (rect) h.emrtext.rcl = *rect;
  h.emrtext.offString = sizeof(h);
  Bytes tail(chars.begin(), chars.end());
  Pad4(tail);
  if (!dx.empty()) {
    h.emrtext.offDx = DWORD(sizeof(h) + tail.size());
    for (std::size_t i = 0; i < need; ++i) PutBytes(tail, LONG(dx[i]));
  }
  if (!EmitFixed(h, tail)) return false;  // the writer takes the bounds from the record
  if (update_cp) {
    const bool rtl = (st.align & TA_RIGHT) && !((st.align & TA_CENTER) == TA_CENTER);
    st.cur.x += rtl ? -ext.cx : ext.cx;
  }
  return true;
}

// ---- Text ----

bool MetafileRecorder::ExtTextOutW(int x, int y, UINT options, const RECT* rect, std::u16string_view text,
                                   std::span<const int> dx) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  return impl_->Text(EMR_EXTTEXTOUTW, x, y, options, rect, {p, text.size() * 2}, text.size(), text, {}, dx);
}
bool MetafileRecorder::ExtTextOutA(int x, int y, UINT options, const RECT* rect, std::string_view text,
                                   std::span<const int> dx) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  return impl_->Text(EMR_EXTTEXTOUTA, x, y, options, rect, {p, text.size()}, text.size(), {}, text, dx);
}
bool MetafileRecorder::GetTextMetricsW(win::TEXTMETRICW* tm) const {
  auto* ref = impl_->opt.reference;
  if (!ref) return false;
  ref->SelectFont(impl_->st.font);
  return ref->GetTextMetricsW(tm);
}
bool MetafileRecorder::GetTextExtentPoint32W(std::u16string_view text, SIZE* size) const {
  auto* ref = impl_->opt.reference;
  if (!ref) return false;
  ref->SelectFont(impl_->st.font);
  return ref->GetTextExtentPoint32W(text, size);
}
bool MetafileRecorder::GetTextExtentPoint32A(std::string_view text, SIZE* size) const {
  auto* ref = impl_->opt.reference;
  if (!ref) return false;
  ref->SelectFont(impl_->st.font);
  return ref->GetTextExtentPoint32A(text, size);
}
std::string MetafileRecorder::GetTextFace() const {
  auto* ref = impl_->opt.reference;
  if (!ref) return FaceName(impl_->st.font.lf);
  ref->SelectFont(impl_->st.font);
  return ref->GetTextFace();
}

}  // namespace zv::gdi
