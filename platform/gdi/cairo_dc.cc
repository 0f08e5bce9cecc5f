// The cairo-backed device context: its making, device capabilities, the state stack,
// coordinate spaces and attributes. Clipping is in cairo_clip.cc, rendering in
// cairo_render.cc, shapes in cairo_shapes.cc, region fills and paths in cairo_paths.cc, text in
// text.cc and blits in blit.cc.
#include "platform/gdi/internal/cairo_dc.h"
#include "platform/gdi/internal/round.h"

#include <algorithm>
#include <cmath>

namespace zv::gdi::detail {

CairoDC::CairoDC(cairo_surface_t* surface, DeviceInfo info, int origin_x, int origin_y)
    : surface_(cairo_surface_reference(surface)),
      cr_(cairo_create(surface)),
      info_(info),
      origin_x_(origin_x),
      origin_y_(origin_y),
      surf_w_(info.width),
      surf_h_(info.height) {
  vector_ = cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE;
  if (!vector_) {
    surf_w_ = cairo_image_surface_get_width(surface);
    surf_h_ = cairo_image_surface_get_height(surface);
  }
  cairo_set_antialias(cr_, CAIRO_ANTIALIAS_NONE);
  s_.font = *StockFont(win::SYSTEM_FONT);
}

CairoDC::~CairoDC() {
  cairo_destroy(cr_);
  cairo_surface_destroy(surface_);
}

int CairoDC::GetDeviceCaps(int index) const {
  switch (index) {
    case win::DRIVERVERSION:
      return 0x400;
    case win::TECHNOLOGY:
      return info_.technology;
    case win::HORZSIZE:
      return RoundI(info_.width * 25.4 / info_.dpi_x);
    case win::VERTSIZE:
      return RoundI(info_.height * 25.4 / info_.dpi_y);
    case win::HORZRES:
    case win::PHYSICALWIDTH:
      return info_.width;
    case win::VERTRES:
    case win::PHYSICALHEIGHT:
      return info_.height;
    case win::LOGPIXELSX:
      return RoundI(info_.dpi_x);
    case win::LOGPIXELSY:
      return RoundI(info_.dpi_y);
    case win::BITSPIXEL:
      return info_.bits_pixel;
    case win::PLANES:
      return 1;
    case win::NUMCOLORS:
      return info_.bits_pixel <= 8 ? (1 << info_.bits_pixel) : -1;
    case win::RASTERCAPS:
      return win::RC_BITBLT | win::RC_STRETCHBLT | win::RC_DI_BITMAP | win::RC_STRETCHDIB;
    case win::PHYSICALOFFSETX:
    case win::PHYSICALOFFSETY:
      return 0;
    default:
      return 0;
  }
}

// ---- state stack ----

int CairoDC::SaveDC() {
  saved_.push_back(s_);
  return int(saved_.size());
}

bool CairoDC::RestoreDC(int level) {
  int depth = int(saved_.size());
  int target = level < 0 ? depth + level : level - 1;  // index of the state to restore
  if (level == 0 || target < 0 || target >= depth) return false;
  s_ = std::move(saved_[target]);
  saved_.resize(target);
  return true;
}

// ---- coordinate spaces ----

int CairoDC::SetMapMode(int mode) {
  if (mode < win::MM_TEXT || mode > win::MM_ANISOTROPIC) return 0;
  int old = s_.map_mode;
  s_.map_mode = mode;
  if (mode == win::MM_ISOTROPIC || mode == win::MM_ANISOTROPIC) {
    if (old != win::MM_ISOTROPIC && old != win::MM_ANISOTROPIC) {
      // Start from the current scale so that a mode change alone does not move anything.
      SIZE w = GetWindowExtEx(), v = GetViewportExtEx();
      s_.wnd_ext = w;
      s_.vp_ext = v;
    }
    if (mode == win::MM_ISOTROPIC) FixIsotropic();
  }
  return old;
}

void CairoDC::FixedModeDevice(double* px_w, double* px_h, double* mm_w, double* mm_h) const {
  if (s_.ref_pixels.cx > 0 && s_.ref_pixels.cy > 0 && s_.ref_millimeters.cx > 0 && s_.ref_millimeters.cy > 0) {
    *px_w = s_.ref_pixels.cx;
    *px_h = s_.ref_pixels.cy;
    *mm_w = s_.ref_millimeters.cx;
    *mm_h = s_.ref_millimeters.cy;
    return;
  }
  *px_w = info_.width;
  *px_h = info_.height;
  *mm_w = info_.width * 25.4 / info_.dpi_x;
  *mm_h = info_.height * 25.4 / info_.dpi_y;
}

SIZE CairoDC::GetWindowExtEx() const {
  double pw, ph, mw, mh;
  FixedModeDevice(&pw, &ph, &mw, &mh);
  switch (s_.map_mode) {
    case win::MM_ISOTROPIC:
    case win::MM_ANISOTROPIC:
      return s_.wnd_ext;
    case win::MM_LOMETRIC:
      return {RoundI(mw * 10), RoundI(mh * 10)};
    case win::MM_HIMETRIC:
      return {RoundI(mw * 100), RoundI(mh * 100)};
    case win::MM_LOENGLISH:
      return {RoundI(mw * 100 / 25.4), RoundI(mh * 100 / 25.4)};
    case win::MM_HIENGLISH:
      return {RoundI(mw * 1000 / 25.4), RoundI(mh * 1000 / 25.4)};
    case win::MM_TWIPS:
      return {RoundI(mw * 1440 / 25.4), RoundI(mh * 1440 / 25.4)};
    default:
      return {1, 1};
  }
}

SIZE CairoDC::GetViewportExtEx() const {
  switch (s_.map_mode) {
    case win::MM_ISOTROPIC:
    case win::MM_ANISOTROPIC:
      return s_.vp_ext;
    case win::MM_TEXT:
      return {1, 1};
    default: {
      double pw, ph, mw, mh;
      FixedModeDevice(&pw, &ph, &mw, &mh);
      return {RoundI(pw), -RoundI(ph)};
    }
  }
}

void CairoDC::SetReferenceDevice(SIZE pixels, SIZE millimeters) {
  const bool valid = pixels.cx > 0 && pixels.cy > 0 && millimeters.cx > 0 && millimeters.cy > 0;
  s_.ref_pixels = valid ? pixels : SIZE{0, 0};
  s_.ref_millimeters = valid ? millimeters : SIZE{0, 0};
}

int CairoDC::SetGraphicsMode(int mode) {
  if (mode != int(win::GM_COMPATIBLE) && mode != int(win::GM_ADVANCED)) return 0;
  return std::exchange(s_.graphics_mode, mode);
}

void CairoDC::FixIsotropic() {
  if (s_.wnd_ext.cx == 0 || s_.wnd_ext.cy == 0) return;
  double sx = double(s_.vp_ext.cx) / s_.wnd_ext.cx;
  double sy = double(s_.vp_ext.cy) / s_.wnd_ext.cy;
  if (std::fabs(sx) < std::fabs(sy)) {
    double v = std::fabs(sx) * s_.wnd_ext.cy;
    s_.vp_ext.cy = RoundI(sy < 0 ? -v : v);
  } else if (std::fabs(sy) < std::fabs(sx)) {
    double v = std::fabs(sy) * s_.wnd_ext.cx;
    s_.vp_ext.cx = RoundI(sx < 0 ? -v : v);
  }
  if (s_.vp_ext.cx == 0) s_.vp_ext.cx = 1;
  if (s_.vp_ext.cy == 0) s_.vp_ext.cy = 1;
}

bool CairoDC::SetWindowOrgEx(int x, int y, POINT* old) {
  if (old) *old = s_.wnd_org;
  s_.wnd_org = {x, y};
  return true;
}

bool CairoDC::SetViewportOrgEx(int x, int y, POINT* old) {
  if (old) *old = s_.vp_org;
  s_.vp_org = {x, y};
  return true;
}

bool CairoDC::OffsetWindowOrgEx(int dx, int dy, POINT* old) {
  return SetWindowOrgEx(s_.wnd_org.x + dx, s_.wnd_org.y + dy, old);
}

bool CairoDC::OffsetViewportOrgEx(int dx, int dy, POINT* old) {
  return SetViewportOrgEx(s_.vp_org.x + dx, s_.vp_org.y + dy, old);
}

bool CairoDC::SetWindowExtEx(int cx, int cy, SIZE* old) {
  if (old) *old = GetWindowExtEx();
  if (s_.map_mode != win::MM_ISOTROPIC && s_.map_mode != win::MM_ANISOTROPIC) return true;
  if (cx == 0 || cy == 0) return false;
  s_.wnd_ext = {cx, cy};
  if (s_.map_mode == win::MM_ISOTROPIC) FixIsotropic();
  return true;
}

bool CairoDC::SetViewportExtEx(int cx, int cy, SIZE* old) {
  if (old) *old = GetViewportExtEx();
  if (s_.map_mode != win::MM_ISOTROPIC && s_.map_mode != win::MM_ANISOTROPIC) return true;
  if (cx == 0 || cy == 0) return false;
  s_.vp_ext = {cx, cy};
  if (s_.map_mode == win::MM_ISOTROPIC) FixIsotropic();
  return true;
}

bool CairoDC::ScaleWindowExtEx(int xn, int xd, int yn, int yd, SIZE* old) {
  if (xd == 0 || yd == 0) return false;
  SIZE e = GetWindowExtEx();
  if (old) *old = e;
  if (s_.map_mode != win::MM_ISOTROPIC && s_.map_mode != win::MM_ANISOTROPIC) return true;
  long long cx = (long long)e.cx * xn / xd, cy = (long long)e.cy * yn / yd;
  if (cx == 0 || cy == 0 || std::llabs(cx) > INT32_MAX || std::llabs(cy) > INT32_MAX) return false;
  return SetWindowExtEx(int(cx), int(cy), nullptr);
}

bool CairoDC::ScaleViewportExtEx(int xn, int xd, int yn, int yd, SIZE* old) {
  if (xd == 0 || yd == 0) return false;
  SIZE e = GetViewportExtEx();
  if (old) *old = e;
  if (s_.map_mode != win::MM_ISOTROPIC && s_.map_mode != win::MM_ANISOTROPIC) return true;
  long long cx = (long long)e.cx * xn / xd, cy = (long long)e.cy * yn / yd;
  if (cx == 0 || cy == 0 || std::llabs(cx) > INT32_MAX || std::llabs(cy) > INT32_MAX) return false;
  return SetViewportExtEx(int(cx), int(cy), nullptr);
}

bool CairoDC::SetWorldTransform(const XFORM& xf) {
  if (!std::isfinite(xf.eM11) || !std::isfinite(xf.eM12) || !std::isfinite(xf.eM21) || !std::isfinite(xf.eM22) ||
      !std::isfinite(xf.eDx) || !std::isfinite(xf.eDy)) {
    return false;
  }
  double det = double(xf.eM11) * xf.eM22 - double(xf.eM12) * xf.eM21;
  if (det == 0) return false;
  s_.world = xf;
  return true;
}

bool CairoDC::ModifyWorldTransform(const XFORM& xf, win::DWORD mode) {
  switch (mode) {
    case win::MWT_IDENTITY:
      s_.world = IdentityXform();
      return true;
    case win::MWT_LEFTMULTIPLY:
      return SetWorldTransform(CombineXform(xf, s_.world));
    case win::MWT_RIGHTMULTIPLY:
      return SetWorldTransform(CombineXform(s_.world, xf));
    case win::MWT_SET:
      return SetWorldTransform(xf);
    default:
      return false;
  }
}

XFORM CairoDC::PageXform() const {
  SIZE we = GetWindowExtEx(), ve = GetViewportExtEx();
  double sx = we.cx ? double(ve.cx) / we.cx : 1.0;
  double sy = we.cy ? double(ve.cy) / we.cy : 1.0;
  XFORM p;
  p.eM11 = float(sx);
  p.eM12 = 0;
  p.eM21 = 0;
  p.eM22 = float(sy);
  p.eDx = float(s_.vp_org.x - s_.wnd_org.x * sx);
  p.eDy = float(s_.vp_org.y - s_.wnd_org.y * sy);
  return p;
}

XFORM CairoDC::Total() const { return CombineXform(CombineXform(s_.world, PageXform()), s_.base); }

void CairoDC::Xf(double x, double y, double* dx, double* dy) const {
  XFORM m = Total();
  *dx = m.eM11 * x + m.eM21 * y + m.eDx;
  *dy = m.eM12 * x + m.eM22 * y + m.eDy;
}

bool CairoDC::AxisAligned() const {
  XFORM m = Total();
  return m.eM12 == 0 && m.eM21 == 0;
}

void CairoDC::LPtoDP(std::span<POINT> pts) const {
  XFORM m = Total();
  for (POINT& p : pts) {
    double x = m.eM11 * p.x + m.eM21 * p.y + m.eDx;
    double y = m.eM12 * p.x + m.eM22 * p.y + m.eDy;
    p = {RoundI(x), RoundI(y)};
  }
}

void CairoDC::DPtoLP(std::span<POINT> pts) const {
  XFORM m = Total();
  double det = double(m.eM11) * m.eM22 - double(m.eM12) * m.eM21;
  if (det == 0) return;
  for (POINT& p : pts) {
    double x = p.x - m.eDx, y = p.y - m.eDy;
    double lx = (x * m.eM22 - y * m.eM21) / det;
    double ly = (y * m.eM11 - x * m.eM12) / det;
    p = {RoundI(lx), RoundI(ly)};
  }
}

// ---- attributes ----

int CairoDC::SetBkMode(int mode) {
  if (mode != win::TRANSPARENT && mode != win::OPAQUE) return 0;
  return std::exchange(s_.bk_mode, mode);
}

int CairoDC::SetROP2(int rop2) {
  if (rop2 < win::R2_BLACK || rop2 > win::R2_WHITE) return 0;
  return std::exchange(s_.rop2, rop2);
}

int CairoDC::SetPolyFillMode(int mode) {
  if (mode != win::ALTERNATE && mode != win::WINDING) return 0;
  return std::exchange(s_.fill_mode, mode);
}

int CairoDC::SetArcDirection(int dir) {
  if (dir != win::AD_COUNTERCLOCKWISE && dir != win::AD_CLOCKWISE) return 0;
  return std::exchange(s_.arc_dir, dir);
}

bool CairoDC::SetMiterLimit(float limit, float* old) {
  if (old) *old = s_.miter;
  if (!(limit >= 1.0f)) return false;  // Windows refuses limits below 1; NaN too
  s_.miter = limit;
  return true;
}

bool CairoDC::SetBrushOrgEx(int x, int y, POINT* old) {
  if (old) *old = s_.brush_org;
  s_.brush_org = {x, y};
  return true;
}

bool CairoDC::SetTextJustification(int extra, int breaks) {
  s_.just_extra = extra;
  s_.just_breaks = breaks;
  return true;
}

bool CairoDC::SelectStockObject(int index) {
  if (auto b = StockBrush(index)) {
    s_.brush = *b;
    return true;
  }
  if (auto p = StockPen(index)) {
    s_.pen = *p;
    return true;
  }
  if (auto f = StockFont(index)) {
    s_.font = *f;
    return true;
  }
  return index == win::DEFAULT_PALETTE;
}

}  // namespace zv::gdi::detail
