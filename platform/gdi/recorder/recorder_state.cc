// The recorder's drawing state: device queries, SaveDC levels, map modes and transforms,
// attributes and clipping.
#include "platform/gdi/recorder/recorder_internal.h"

namespace zv::gdi {

void MetafileRecorder::Impl::ModeExtents(int mode) {
  Mapping& m = st.map;
  const SIZEL& d = opt.device;
  const SIZEL& mm = opt.millimeters;
  auto metric = [&](double per_mm) {
    m.we = {LONG(std::lround(mm.cx * per_mm)), LONG(std::lround(mm.cy * per_mm))};
    m.ve = {d.cx, -d.cy};
  };
  switch (mode) {
    case MM_TEXT:
      m.we = {1, 1};
      m.ve = {1, 1};
      break;
    case MM_LOMETRIC:
    case MM_ISOTROPIC:
      metric(10);
      break;
    case MM_HIMETRIC:
      metric(100);
      break;
    case MM_LOENGLISH:
      metric(100 / 25.4);
      break;
    case MM_HIENGLISH:
      metric(1000 / 25.4);
      break;
    case MM_TWIPS:
      metric(1440 / 25.4);
      break;
    default:
      break;  // MM_ANISOTROPIC keeps the extents it had
  }
}

void MetafileRecorder::Impl::Isotropic() {
  Mapping& m = st.map;
  if (m.mode != MM_ISOTROPIC) return;
  const double px_per_mm_x = double(opt.device.cx) / opt.millimeters.cx;
  const double px_per_mm_y = double(opt.device.cy) / opt.millimeters.cy;
  const double sx = std::abs(double(m.ve.cx) / m.we.cx) / px_per_mm_x;
  const double sy = std::abs(double(m.ve.cy) / m.we.cy) / px_per_mm_y;
  if (sx > sy) {
    const LONG v = LONG(std::lround(std::abs(double(m.we.cx)) * sy * px_per_mm_x));
    m.ve.cx = m.ve.cx < 0 ? -std::max<LONG>(v, 1) : std::max<LONG>(v, 1);
  } else if (sy > sx) {
    const LONG v = LONG(std::lround(std::abs(double(m.we.cy)) * sx * px_per_mm_y));
    m.ve.cy = m.ve.cy < 0 ? -std::max<LONG>(v, 1) : std::max<LONG>(v, 1);
  }
}

int MetafileRecorder::Impl::Combine(const Region& r, int mode) {
  if (mode == RGN_COPY) {
    st.clip = r;
  } else {
    Region base = st.clip ? *st.clip : Surface();
    base.Combine(r, mode);
    st.clip = std::move(base);
  }
  return st.clip->Kind();
}

Region MetafileRecorder::Impl::Effective() const {
  Region r = st.clip ? *st.clip : Surface();
  if (st.meta) r.Combine(*st.meta, RGN_AND);
  return r;
}

// ---- Device queries and state ----

int MetafileRecorder::GetDeviceCaps(int index) const {
  const auto& o = impl_->opt;
  switch (index) {
    case HORZRES:
    case PHYSICALWIDTH:
      return o.device.cx;
    case VERTRES:
    case PHYSICALHEIGHT:
      return o.device.cy;
    case HORZSIZE:
      return o.millimeters.cx;
    case VERTSIZE:
      return o.millimeters.cy;
    case LOGPIXELSX:
      return int(std::lround(o.device.cx * 25.4 / o.millimeters.cx));
    case LOGPIXELSY:
      return int(std::lround(o.device.cy * 25.4 / o.millimeters.cy));
    case PHYSICALOFFSETX:
    case PHYSICALOFFSETY:
      return 0;
    case BITSPIXEL:
      return 24;
    case PLANES:
      return 1;
    case NUMCOLORS:
      return -1;
    case TECHNOLOGY:
      return o.reference ? o.reference->GetDeviceCaps(TECHNOLOGY) : DT_RASPRINTER;
    case RASTERCAPS:
      return RC_BITBLT | RC_STRETCHBLT | RC_DI_BITMAP | RC_STRETCHDIB;
    default:
      return o.reference ? o.reference->GetDeviceCaps(index) : 0;
  }
}

int MetafileRecorder::SaveDC() {
  Impl& m = *impl_;
  if (!m.EmitType(EMR_SAVEDC)) return 0;
  m.saved.push_back(m.st);
  return int(m.saved.size());
}

bool MetafileRecorder::RestoreDC(int level) {
  Impl& m = *impl_;
  const int depth = int(m.saved.size());
  const int target = level < 0 ? depth + level + 1 : level;  // the SaveDC level to restore
  if (target < 1 || target > depth) return false;
  // Recorded relative to the current level (negative), so it means the same on a player whose
  // device context already holds saves of its own.
  if (!m.EmitFixed(EMRRESTOREDC{{EMR_RESTOREDC, 0}, LONG(target - depth - 1)})) return false;
  m.st = m.saved[target - 1];
  m.saved.resize(target - 1);
  return true;
}

int MetafileRecorder::SetMapMode(int mode) {
  Impl& m = *impl_;
  if (mode < MM_TEXT || mode > MM_ANISOTROPIC) return 0;
  if (!m.EmitMode(EMR_SETMAPMODE, DWORD(mode))) return 0;
  const int old = m.st.map.mode;
  m.st.map.mode = mode;
  m.ModeExtents(mode);
  m.Isotropic();
  return old;
}
int MetafileRecorder::GetMapMode() const { return impl_->st.map.mode; }

bool MetafileRecorder::SetWindowOrgEx(int x, int y, POINT* old) {
  Impl& m = *impl_;
  if (!m.EmitPoint(EMR_SETWINDOWORGEX, {x, y})) return false;
  if (old) *old = m.st.map.wo;
  m.st.map.wo = {x, y};
  return true;
}
bool MetafileRecorder::SetViewportOrgEx(int x, int y, POINT* old) {
  Impl& m = *impl_;
  if (!m.EmitPoint(EMR_SETVIEWPORTORGEX, {x, y})) return false;
  if (old) *old = m.st.map.vo;
  m.st.map.vo = {x, y};
  return true;
}
bool MetafileRecorder::OffsetWindowOrgEx(int dx, int dy, POINT* old) {
  const POINT o = impl_->st.map.wo;
  return SetWindowOrgEx(o.x + dx, o.y + dy, old);
}
bool MetafileRecorder::OffsetViewportOrgEx(int dx, int dy, POINT* old) {
  const POINT o = impl_->st.map.vo;
  return SetViewportOrgEx(o.x + dx, o.y + dy, old);
}

bool MetafileRecorder::SetWindowExtEx(int cx, int cy, SIZE* old) {
  Impl& m = *impl_;
  if (cx == 0 || cy == 0) return false;
  if (!m.EmitFixed(EMRSETWINDOWEXTEX{{EMR_SETWINDOWEXTEX, 0}, {cx, cy}})) return false;
  if (old) *old = m.st.map.we;
  if (m.Scalable()) {
    m.st.map.we = {cx, cy};
    m.Isotropic();
  }
  return true;
}
bool MetafileRecorder::SetViewportExtEx(int cx, int cy, SIZE* old) {
  Impl& m = *impl_;
  if (cx == 0 || cy == 0) return false;
  if (!m.EmitFixed(EMRSETVIEWPORTEXTEX{{EMR_SETVIEWPORTEXTEX, 0}, {cx, cy}})) return false;
  if (old) *old = m.st.map.ve;
  if (m.Scalable()) {
    m.st.map.ve = {cx, cy};
    m.Isotropic();
  }
  return true;
}

namespace {
bool ScaleExtent(SIZE* e, int xn, int xd, int yn, int yd) {
  const long long cx = (long long)e->cx * xn / xd, cy = (long long)e->cy * yn / yd;
  if (cx == 0 || cy == 0 || std::llabs(cx) > INT32_MAX || std::llabs(cy) > INT32_MAX) return false;
  *e = {LONG(cx), LONG(cy)};
  return true;
}
}  // namespace

bool MetafileRecorder::ScaleWindowExtEx(int xn, int xd, int yn, int yd, SIZE* old) {
  Impl& m = *impl_;
  if (xd == 0 || yd == 0) return false;
  SIZE e = m.st.map.we;
  if (m.Scalable() && !ScaleExtent(&e, xn, xd, yn, yd)) return false;
  if (!m.EmitFixed(EMRSCALEWINDOWEXTEX{{EMR_SCALEWINDOWEXTEX, 0}, xn, xd, yn, yd})) return false;
  if (old) *old = m.st.map.we;
  m.st.map.we = e;
  m.Isotropic();
  return true;
}
bool MetafileRecorder::ScaleViewportExtEx(int xn, int xd, int yn, int yd, SIZE* old) {
  Impl& m = *impl_;
  if (xd == 0 || yd == 0) return false;
  SIZE e = m.st.map.ve;
  if (m.Scalable() && !ScaleExtent(&e, xn, xd, yn, yd)) return false;
  if (!m.EmitFixed(EMRSCALEVIEWPORTEXTEX{{EMR_SCALEVIEWPORTEXTEX, 0}, xn, xd, yn, yd})) return false;
  if (old) *old = m.st.map.ve;
  m.st.map.ve = e;
  m.Isotropic();
  return true;
}

POINT MetafileRecorder::GetWindowOrgEx() const { return impl_->st.map.wo; }
SIZE MetafileRecorder::GetWindowExtEx() const { return impl_->st.map.we; }
POINT MetafileRecorder::GetViewportOrgEx() const { return impl_->st.map.vo; }
SIZE MetafileRecorder::GetViewportExtEx() const { return impl_->st.map.ve; }

bool MetafileRecorder::SetWorldTransform(const XFORM& xf) {
  Impl& m = *impl_;
  if (double(xf.eM11) * xf.eM22 - double(xf.eM12) * xf.eM21 == 0) return false;
  if (!m.EmitFixed(EMRSETWORLDTRANSFORM{{EMR_SETWORLDTRANSFORM, 0}, xf})) return false;
  m.st.map.world = xf;
  return true;
}

bool MetafileRecorder::ModifyWorldTransform(const XFORM& xf, DWORD mode) {
  Impl& m = *impl_;
  XFORM w;
  switch (mode) {
    case MWT_IDENTITY:
      w = IdentityXform();
      break;
    case MWT_LEFTMULTIPLY:
      w = CombineXform(xf, m.st.map.world);
      break;
    case MWT_RIGHTMULTIPLY:
      w = CombineXform(m.st.map.world, xf);
      break;
    default:
      return false;
  }
  if (double(w.eM11) * w.eM22 - double(w.eM12) * w.eM21 == 0) return false;
  if (!m.EmitFixed(EMRMODIFYWORLDTRANSFORM{{EMR_MODIFYWORLDTRANSFORM, 0}, xf, mode})) return false;
  m.st.map.world = w;
  return true;
}
XFORM MetafileRecorder::GetWorldTransform() const { return impl_->st.map.world; }

void MetafileRecorder::LPtoDP(std::span<POINT> pts) const {
  for (auto& p : pts) {
    double x, y;
    impl_->ToDevice(p.x, p.y, &x, &y);
    p = {Clamp(std::lround(x)), Clamp(std::lround(y))};
  }
}
void MetafileRecorder::DPtoLP(std::span<POINT> pts) const {
  for (auto& p : pts) {
    double x, y;
    if (impl_->ToLogical(p.x, p.y, &x, &y)) p = {Clamp(std::lround(x)), Clamp(std::lround(y))};
  }
}

// ---- Attributes ----

COLORREF MetafileRecorder::SetTextColor(COLORREF c) {
  Impl& m = *impl_;
  if (!m.EmitMode(EMR_SETTEXTCOLOR, c)) return CLR_INVALID;
  return std::exchange(m.st.text, c);
}
COLORREF MetafileRecorder::GetTextColor() const { return impl_->st.text; }
COLORREF MetafileRecorder::SetBkColor(COLORREF c) {
  Impl& m = *impl_;
  if (!m.EmitMode(EMR_SETBKCOLOR, c)) return CLR_INVALID;
  return std::exchange(m.st.bk, c);
}
COLORREF MetafileRecorder::GetBkColor() const { return impl_->st.bk; }
int MetafileRecorder::SetBkMode(int mode) {
  Impl& m = *impl_;
  if ((mode != TRANSPARENT && mode != OPAQUE) || !m.EmitMode(EMR_SETBKMODE, DWORD(mode))) return 0;
  return std::exchange(m.st.bk_mode, mode);
}
int MetafileRecorder::GetBkMode() const { return impl_->st.bk_mode; }
UINT MetafileRecorder::SetTextAlign(UINT align) {
  Impl& m = *impl_;
  if (!m.EmitMode(EMR_SETTEXTALIGN, align)) return 0xFFFFFFFF;  // GDI_ERROR
  return std::exchange(m.st.align, align);
}
UINT MetafileRecorder::GetTextAlign() const { return impl_->st.align; }
int MetafileRecorder::SetROP2(int rop2) {
  Impl& m = *impl_;
  if (rop2 < R2_BLACK || rop2 > R2_WHITE || !m.EmitMode(EMR_SETROP2, DWORD(rop2))) return 0;
  return std::exchange(m.st.rop2, rop2);
}
int MetafileRecorder::GetROP2() const { return impl_->st.rop2; }
int MetafileRecorder::SetPolyFillMode(int mode) {
  Impl& m = *impl_;
  if ((mode != ALTERNATE && mode != WINDING) || !m.EmitMode(EMR_SETPOLYFILLMODE, DWORD(mode))) return 0;
  return std::exchange(m.st.fill_mode, mode);
}
int MetafileRecorder::GetPolyFillMode() const { return impl_->st.fill_mode; }
int MetafileRecorder::SetStretchBltMode(int mode) {
  Impl& m = *impl_;
  if (mode < BLACKONWHITE || mode > HALFTONE || !m.EmitMode(EMR_SETSTRETCHBLTMODE, DWORD(mode))) return 0;
  return std::exchange(m.st.stretch_mode, mode);
}
int MetafileRecorder::GetStretchBltMode() const { return impl_->st.stretch_mode; }
int MetafileRecorder::SetGraphicsMode(int mode) {
  // Metafiles keep the graphics mode in each text record, not in a record of its own.
  if (mode != int(GM_COMPATIBLE) && mode != int(GM_ADVANCED)) return 0;
  return std::exchange(impl_->st.graphics_mode, mode);
}
int MetafileRecorder::GetGraphicsMode() const { return impl_->st.graphics_mode; }
int MetafileRecorder::SetArcDirection(int dir) {
  Impl& m = *impl_;
  if ((dir != AD_COUNTERCLOCKWISE && dir != AD_CLOCKWISE) || !m.EmitMode(EMR_SETARCDIRECTION, DWORD(dir))) return 0;
  return std::exchange(m.st.arc_dir, dir);
}
int MetafileRecorder::GetArcDirection() const { return impl_->st.arc_dir; }
bool MetafileRecorder::SetMiterLimit(float limit, float* old) {
  Impl& m = *impl_;
  if (!(limit >= 1.0f) || !m.EmitFixed(EMRSETMITERLIMIT{{EMR_SETMITERLIMIT, 0}, limit})) return false;
  if (old) *old = m.st.miter;
  m.st.miter = limit;
  return true;
}
bool MetafileRecorder::SetBrushOrgEx(int x, int y, POINT* old) {
  Impl& m = *impl_;
  if (!m.EmitPoint(EMR_SETBRUSHORGEX, {x, y})) return false;
  if (old) *old = m.st.brush_org;
  m.st.brush_org = {x, y};
  return true;
}
DWORD MetafileRecorder::SetMapperFlags(DWORD flags) {
  Impl& m = *impl_;
  if (!m.EmitMode(EMR_SETMAPPERFLAGS, flags)) return 0xFFFFFFFF;
  return std::exchange(m.st.mapper, flags);
}
bool MetafileRecorder::SetTextJustification(int extra, int breaks) {
  return impl_->EmitFixed(EMRSETTEXTJUSTIFICATION{{EMR_SETTEXTJUSTIFICATION, 0}, extra, breaks});
}

// ---- Clipping ----

int MetafileRecorder::ExtSelectClipRgn(const Region* rgn, int mode) {
  Impl& m = *impl_;
  if (mode < RGN_AND || mode > RGN_COPY || (!rgn && mode != RGN_COPY)) return RGN_ERROR;
  Bytes data;
  if (rgn) data = m.RegionData(*rgn);
  if (!m.EmitFixed(EMREXTSELECTCLIPRGN_HEAD{{EMR_EXTSELECTCLIPRGN, 0}, DWORD(data.size()), DWORD(mode)}, data)) {
    return RGN_ERROR;
  }
  if (!rgn) {
    m.st.clip.reset();
    return m.Effective().Kind();
  }
  return m.Combine(*rgn, mode);
}

int MetafileRecorder::IntersectClipRect(int left, int top, int right, int bottom) {
  Impl& m = *impl_;
  if (!m.EmitFixed(EMRINTERSECTCLIPRECT{{EMR_INTERSECTCLIPRECT, 0}, {left, top, right, bottom}})) return RGN_ERROR;
  return m.Combine(m.RectRegion(left, top, right, bottom), RGN_AND);
}
int MetafileRecorder::ExcludeClipRect(int left, int top, int right, int bottom) {
  Impl& m = *impl_;
  if (!m.EmitFixed(EMREXCLUDECLIPRECT{{EMR_EXCLUDECLIPRECT, 0}, {left, top, right, bottom}})) return RGN_ERROR;
  return m.Combine(m.RectRegion(left, top, right, bottom), RGN_DIFF);
}
int MetafileRecorder::OffsetClipRgn(int dx, int dy) {
  Impl& m = *impl_;
  if (!m.EmitPoint(EMR_OFFSETCLIPRGN, {dx, dy})) return RGN_ERROR;
  if (m.st.clip) {
    double x0, y0, x1, y1;
    m.ToDevice(0, 0, &x0, &y0);
    m.ToDevice(dx, dy, &x1, &y1);
    m.st.clip->Offset(int(std::lround(x1 - x0)), int(std::lround(y1 - y0)));
  }
  return m.Effective().Kind();
}
int MetafileRecorder::SetMetaRgn() {
  Impl& m = *impl_;
  if (!m.EmitType(EMR_SETMETARGN)) return RGN_ERROR;
  if (m.st.clip) {
    if (m.st.meta) {
      m.st.meta->Combine(*m.st.clip, RGN_AND);
    } else {
      m.st.meta = m.st.clip;
    }
    m.st.clip.reset();
  }
  return m.Effective().Kind();
}
int MetafileRecorder::GetClipBox(RECT* box) const {
  const Region r = impl_->Effective();
  const RECT b = r.Box();
  POINT c[2] = {{b.left, b.top}, {b.right, b.bottom}};
  DPtoLP(c);
  if (box) {
    *box = {std::min(c[0].x, c[1].x), std::min(c[0].y, c[1].y), std::max(c[0].x, c[1].x), std::max(c[0].y, c[1].y)};
  }
  return r.Kind();
}
std::optional<Region> MetafileRecorder::GetClipRgn() const { return impl_->st.clip; }

}  // namespace zv::gdi
