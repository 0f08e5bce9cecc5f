// The cairo device context's clipping: the clip and meta regions, and paths as regions.
#include "platform/gdi/internal/cairo_dc.h"
#include "platform/gdi/internal/round.h"

#include <algorithm>
#include <cmath>

namespace zv::gdi::detail {

// ---- clipping ----

Region CairoDC::SurfaceRegion() const {
  return Region(RECT{origin_x_, origin_y_, origin_x_ + surf_w_, origin_y_ + surf_h_});
}

Region CairoDC::EffectiveClip() const {
  Region r(RECT{0, 0, info_.width, info_.height});
  if (s_.clip) r.Combine(*s_.clip, win::RGN_AND);
  if (s_.meta) r.Combine(*s_.meta, win::RGN_AND);
  return r;
}

Region CairoDC::DeviceRect(int l, int t, int r, int b) const {
  if (AxisAligned()) {
    double x0, y0, x1, y1;
    Xf(l, t, &x0, &y0);
    Xf(r, b, &x1, &y1);
    return Region(
        RECT{RoundI(std::min(x0, x1)), RoundI(std::min(y0, y1)), RoundI(std::max(x0, x1)), RoundI(std::max(y0, y1))});
  }
  Path p;
  AddRectPath(p, l, t, r, b);
  return PathRegion(p, win::WINDING);
}

int CairoDC::ExtSelectClipRgn(const Region* rgn, int mode) {
  if (mode < win::RGN_AND || mode > win::RGN_COPY) return win::RGN_ERROR;
  if (!rgn) {
    if (mode != win::RGN_COPY) return win::RGN_ERROR;
    s_.clip.reset();
    return win::SIMPLEREGION;
  }
  if (mode == win::RGN_COPY) {
    s_.clip = *rgn;
  } else {
    Region cur = s_.clip ? *s_.clip : Region(RECT{0, 0, info_.width, info_.height});
    cur.Combine(*rgn, mode);
    s_.clip = std::move(cur);
  }
  return s_.clip->Kind();
}

int CairoDC::IntersectClipRect(int left, int top, int right, int bottom) {
  Region r = DeviceRect(left, top, right, bottom);
  return ExtSelectClipRgn(&r, win::RGN_AND);
}

int CairoDC::ExcludeClipRect(int left, int top, int right, int bottom) {
  Region r = DeviceRect(left, top, right, bottom);
  return ExtSelectClipRgn(&r, win::RGN_DIFF);
}

int CairoDC::OffsetClipRgn(int dx, int dy) {
  if (!s_.clip) return win::SIMPLEREGION;
  XFORM m = Total();
  s_.clip->Offset(RoundI(dx * m.eM11 + dy * m.eM21), RoundI(dx * m.eM12 + dy * m.eM22));
  return s_.clip->Kind();
}

int CairoDC::SetMetaRgn() {
  if (s_.clip) {
    if (s_.meta) {
      s_.meta->Combine(*s_.clip, win::RGN_AND);
    } else {
      s_.meta = *s_.clip;
    }
    s_.clip.reset();
  }
  return s_.meta ? s_.meta->Kind() : win::SIMPLEREGION;
}

RECT CairoDC::DeviceClipBox() const { return EffectiveClip().Box(); }

int CairoDC::GetClipBox(RECT* box) const {
  Region r = EffectiveClip();
  RECT b = r.Box();
  POINT pts[2] = {{b.left, b.top}, {b.right, b.bottom}};
  DPtoLP(pts);
  *box = {std::min(pts[0].x, pts[1].x), std::min(pts[0].y, pts[1].y), std::max(pts[0].x, pts[1].x),
          std::max(pts[0].y, pts[1].y)};
  return r.Kind();
}

void CairoDC::ApplyClip(cairo_t* cr, const Region* extra) const {
  Region r = EffectiveClip();
  if (extra) r.Combine(*extra, win::RGN_AND);
  r.Combine(SurfaceRegion(), win::RGN_AND);
  if (r.Kind() == win::SIMPLEREGION) {
    RECT b = r.Box();
    if (b.left == origin_x_ && b.top == origin_y_ && b.right == origin_x_ + surf_w_ &&
        b.bottom == origin_y_ + surf_h_) {
      return;  // the whole surface: no clip needed
    }
  }
  cairo_new_path(cr);
  for (const RECT& q : r.Rects()) {
    cairo_rectangle(cr, q.left - origin_x_, q.top - origin_y_, q.right - q.left, q.bottom - q.top);
  }
  cairo_clip(cr);
}

Region CairoDC::PathRegion(const Path& p, int fill_mode) const {
  // Rasterise the path into an 8-bit mask over its extents and collect the covered runs.
  cairo_surface_t* probe = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
  cairo_t* c = cairo_create(probe);
  AppendPath(c, p);
  double x0, y0, x1, y1;
  cairo_fill_extents(c, &x0, &y0, &x1, &y1);
  cairo_destroy(c);
  cairo_surface_destroy(probe);
  // Clamped before the conversion to int, which is undefined for extents beyond its range.
  int l = int(std::floor(std::max(x0, -1e6))), t = int(std::floor(std::max(y0, -1e6)));
  int r = int(std::ceil(std::min(x1, 1e6))), b = int(std::ceil(std::min(y1, 1e6)));
  // Nothing outside the device can matter.
  l = std::max(l, -1);
  t = std::max(t, -1);
  r = std::min(r, info_.width + 1);
  b = std::min(b, info_.height + 1);
  if (r <= l || b <= t) return Region();
  cairo_surface_t* m = cairo_image_surface_create(CAIRO_FORMAT_A8, r - l, b - t);
  if (cairo_surface_status(m) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(m);
    return Region(RECT{l, t, r, b});
  }
  c = cairo_create(m);
  cairo_set_antialias(c, CAIRO_ANTIALIAS_NONE);
  cairo_translate(c, -l, -t);
  AppendPath(c, p);
  cairo_set_fill_rule(c, fill_mode == win::WINDING ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
  cairo_fill(c);
  cairo_destroy(c);
  cairo_surface_flush(m);
  const unsigned char* data = cairo_image_surface_get_data(m);
  int stride = cairo_image_surface_get_stride(m);
  std::vector<RECT> runs;
  for (int y = 0; y < b - t; ++y) {
    const unsigned char* row = data + size_t(y) * stride;
    int x = 0;
    while (x < r - l) {
      while (x < r - l && row[x] < 128) ++x;
      int s = x;
      while (x < r - l && row[x] >= 128) ++x;
      if (x > s) runs.push_back({l + s, t + y, l + x, t + y + 1});
    }
  }
  cairo_surface_destroy(m);
  return Region(runs);
}

}  // namespace zv::gdi::detail
