// Rendering a device path on the cairo device context: pens, brushes, the pixels, and the
// raster operations. Shapes are drawn without anti-aliasing (as the Windows drawing layer
// does) so that their pixels are exact; binary raster operations other than copy are done on
// the pixels.
#include "platform/gdi/internal/cairo_dc.h"
#include "platform/gdi/internal/round.h"

#include <algorithm>
#include <cmath>

namespace zv::gdi::detail {

void AppendPath(cairo_t* cr, const Path& p) {
  for (const PathOp& op : p) {
    switch (op.kind) {
      case PathOp::kMove:
        cairo_move_to(cr, op.x[0], op.y[0]);
        break;
      case PathOp::kLine:
        cairo_line_to(cr, op.x[0], op.y[0]);
        break;
      case PathOp::kCurve:
        cairo_curve_to(cr, op.x[0], op.y[0], op.x[1], op.y[1], op.x[2], op.y[2]);
        break;
      case PathOp::kClose:
        cairo_close_path(cr);
        break;
    }
  }
}

// ---- rendering ----

bool CairoDC::PenIsCosmetic(const Pen& p) const {
  return !p.extended ? p.width <= 1 : (p.style & win::PS_TYPE_MASK) == win::PS_COSMETIC;
}

bool CairoDC::PenInsideFrame(const Pen& p) const {
  return (p.style & win::PS_STYLE_MASK) == win::PS_INSIDEFRAME && !PenIsCosmetic(p) && PenDeviceWidth(p) > 1.0;
}

bool CairoDC::InsideFrameBox(double* l, double* t, double* r, double* b) const {
  if (!PenInsideFrame(s_.pen)) return false;
  // Half the width in logical units along each axis, from the device width.
  XFORM m = Total();
  const double w = PenDeviceWidth(s_.pen);
  const double ux = std::hypot(m.eM11, m.eM12), uy = std::hypot(m.eM21, m.eM22);
  if (!(ux > 0) || !(uy > 0)) return false;
  const double hx = w / 2 / ux, hy = w / 2 / uy;
  if (*l > *r) std::swap(*l, *r);
  if (*t > *b) std::swap(*t, *b);
  const double cx = (*l + *r) / 2, cy = (*t + *b) / 2;
  *l = std::min(*l + hx, cx);
  *r = std::max(*r - hx, cx);
  *t = std::min(*t + hy, cy);
  *b = std::max(*b - hy, cy);
  return true;
}

bool CairoDC::DrawBoxShape(const Path& fill, const Path& stroke, bool do_fill, bool do_stroke, bool inside, int l,
                           int t, int r, int b) {
  if (!inside || s_.path_open) return DrawShape(fill, stroke, do_fill, do_stroke);
  // The outline's outer edge lies on the box: what rounding puts beyond it is cut off.
  Region box = DeviceRect(l, t, r, b);
  if (do_fill) Render(fill, true, &s_.brush, nullptr, &box);
  if (do_stroke) Render(stroke, false, nullptr, &s_.pen, &box);
  return true;
}

double CairoDC::PenDeviceWidth(const Pen& p) const {
  if (PenIsCosmetic(p)) return 1.0;
  XFORM m = Total();
  double scale = std::sqrt(std::fabs(double(m.eM11) * m.eM22 - double(m.eM12) * m.eM21));
  return std::clamp(p.width * scale, 1.0, 16384.0);
}

void CairoDC::SetPenStyle(cairo_t* cr, const Pen& p) const {
  double w = PenDeviceWidth(p);
  cairo_set_line_width(cr, w);
  const bool cosmetic = PenIsCosmetic(p);
  if (cosmetic) {
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
  } else {
    switch (p.style & win::PS_ENDCAP_MASK) {
      case win::PS_ENDCAP_SQUARE:
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
        break;
      case win::PS_ENDCAP_FLAT:
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
        break;
      default:
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        break;
    }
    switch (p.style & win::PS_JOIN_MASK) {
      case win::PS_JOIN_BEVEL:
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_BEVEL);
        break;
      case win::PS_JOIN_MITER:
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
        break;
      default:
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        break;
    }
  }
  cairo_set_miter_limit(cr, s_.miter);
  std::vector<double> dash;
  double unit = cosmetic ? 1.0 : w;
  // The stock dash patterns in device pixels for a cosmetic pen; a geometric pen's are the
  // same counted in thirds of its width (below).
  switch (p.style & win::PS_STYLE_MASK) {
    case win::PS_DASH:
      dash = {18, 6};
      break;
    case win::PS_DOT:
      dash = {3, 3};
      break;
    case win::PS_DASHDOT:
      dash = {9, 6, 3, 6};
      break;
    case win::PS_DASHDOTDOT:
      dash = {9, 3, 3, 3, 3, 3};
      break;
    case win::PS_ALTERNATE:
      dash = {1, 1};
      break;
    case win::PS_USERSTYLE: {
      // Dash and gap lengths: device pixels for a cosmetic pen, logical units (scaled as the
      // width is) for a geometric one.
      double scale = 1.0;
      if (!cosmetic) {
        XFORM m = Total();
        scale = std::sqrt(std::fabs(double(m.eM11) * m.eM22 - double(m.eM12) * m.eM21));
        if (!std::isfinite(scale)) scale = 1.0;
      }
      for (win::DWORD e : p.style_entries) dash.push_back(std::min(double(e) * scale, 1e6));
      break;
    }
    default:
      break;
  }
  if (!cosmetic && (p.style & win::PS_STYLE_MASK) != win::PS_USERSTYLE) {
    for (double& d : dash) d = d / 3 * unit;  // geometric dashes scale with the width
  }
  bool any = false;
  for (double d : dash) any = any || d > 0;
  if (any) cairo_set_dash(cr, dash.data(), int(dash.size()), 0);
  else cairo_set_dash(cr, nullptr, 0, 0);
}

void CairoDC::SetBrushSource(cairo_t* cr, const Brush& b, double ox, double oy) const {
  std::uint32_t c = ToRgb(b.color);
  auto rgb = [&](std::uint32_t v) {
    cairo_set_source_rgb(cr, ((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0, (v & 0xFF) / 255.0);
  };
  if (b.style == win::BS_SOLID || (b.style != win::BS_HATCHED && !b.pattern)) {
    rgb(c);
    return;
  }
  // Hatched and pattern brushes: a tile in device pixels from the brush origin.
  int tw = 8, th = 8;
  std::optional<DecodedDib> pat;
  if (b.style != win::BS_HATCHED && b.pattern) {
    auto d = DecodeDib(b.pattern->ref());
    if (!d.ok() || d->width > 4096 || d->height > 4096) {
      rgb(c);
      return;
    }
    pat = std::move(*d);
    tw = pat->width;
    th = pat->height;
  }
  cairo_surface_t* tile = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, tw, th);
  cairo_surface_flush(tile);
  auto* px = reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(tile));
  int stride = cairo_image_surface_get_stride(tile) / 4;
  for (int y = 0; y < th; ++y) {
    for (int x = 0; x < tw; ++x) {
      std::uint32_t v;
      if (pat) {
        v = 0xFF000000u | pat->pixels[size_t(y) * tw + x];
      } else {
        v = BrushPixel(b, x + s_.brush_org.x, y + s_.brush_org.y);
        bool fg = v == c;
        v = fg ? (0xFF000000u | c) : (s_.bk_mode == win::OPAQUE ? (0xFF000000u | ToRgb(s_.bk_color)) : 0u);
      }
      px[size_t(y) * stride + x] = v;
    }
  }
  cairo_surface_mark_dirty(tile);
  cairo_pattern_t* pt = cairo_pattern_create_for_surface(tile);
  cairo_pattern_set_extend(pt, CAIRO_EXTEND_REPEAT);
  cairo_pattern_set_filter(pt, CAIRO_FILTER_NEAREST);
  cairo_matrix_t m;
  // Pattern space = device space shifted by the brush origin (and the band origin).
  cairo_matrix_init_translate(&m, ox - s_.brush_org.x, oy - s_.brush_org.y);
  cairo_pattern_set_matrix(pt, &m);
  cairo_set_source(cr, pt);
  cairo_pattern_destroy(pt);
  cairo_surface_destroy(tile);
}

std::uint32_t* CairoDC::Pixels() const {
  return reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(surface_));
}
int CairoDC::Stride() const { return cairo_image_surface_get_stride(surface_) / 4; }
void CairoDC::Flush() const { cairo_surface_flush(surface_); }
void CairoDC::MarkDirty(const RECT& d) const {
  cairo_surface_mark_dirty_rectangle(surface_, d.left - origin_x_, d.top - origin_y_, d.right - d.left,
                                     d.bottom - d.top);
}

void CairoDC::Render(const Path& path, bool fill, const Brush* brush, const Pen* pen, const Region* extra_clip) {
  if (!draw_ || path.empty()) return;
  if (fill && (!brush || brush->style == win::BS_NULL)) return;
  if (!fill && (!pen || (pen->style & win::PS_STYLE_MASK) == win::PS_NULL)) return;
  int rop2 = s_.rop2;
  if (rop2 == win::R2_NOP) return;
  Brush fixed;
  Pen fixed_pen;
  if (vector_ && rop2 != win::R2_COPYPEN) {
    // No destination pixels to combine with: black, white or the colour itself.
    if (rop2 == win::R2_BLACK || rop2 == win::R2_WHITE) {
      COLORREF c = rop2 == win::R2_BLACK ? 0 : 0xFFFFFF;
      if (fill) {
        fixed = Brush::Solid(c);
        brush = &fixed;
      } else {
        fixed_pen = *pen;
        fixed_pen.color = c;
        pen = &fixed_pen;
      }
    }
    rop2 = win::R2_COPYPEN;
  }
  auto build = [&](cairo_t* cr, double ox, double oy) {
    cairo_identity_matrix(cr);
    cairo_translate(cr, -ox, -oy);
    if (!fill) {
      double w = PenDeviceWidth(*pen);
      // An odd-width line on pixel centres covers whole pixels; without anti-aliasing, one on
      // pixel edges would be rounded to one side.
      if (int(std::lround(w)) % 2 == 1) cairo_translate(cr, 0.5, 0.5);
    }
    cairo_new_path(cr);
    AppendPath(cr, path);
    cairo_identity_matrix(cr);
  };
  auto paint = [&](cairo_t* cr) {
    if (fill) {
      cairo_set_fill_rule(cr, s_.fill_mode == win::WINDING ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
      cairo_fill(cr);
    } else {
      SetPenStyle(cr, *pen);
      cairo_stroke(cr);
    }
  };
  auto source = [&](cairo_t* cr, double ox, double oy) {
    if (fill) {
      SetBrushSource(cr, *brush, ox, oy);
    } else {
      std::uint32_t c = ToRgb(pen->color);
      cairo_set_source_rgb(cr, ((c >> 16) & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, (c & 0xFF) / 255.0);
    }
  };
  cairo_save(cr_);
  cairo_identity_matrix(cr_);
  ApplyClip(cr_, extra_clip);
  if (rop2 == win::R2_COPYPEN) {
    source(cr_, origin_x_, origin_y_);
    build(cr_, origin_x_, origin_y_);
    paint(cr_);
    cairo_restore(cr_);
    return;
  }
  // Other binary raster operations: render the shape's colour and coverage apart, then
  // combine them with the destination pixel by pixel.
  build(cr_, origin_x_, origin_y_);
  double x0, y0, x1, y1;
  if (fill) {
    cairo_fill_extents(cr_, &x0, &y0, &x1, &y1);
  } else {
    SetPenStyle(cr_, *pen);
    cairo_stroke_extents(cr_, &x0, &y0, &x1, &y1);
  }
  double cx0, cy0, cx1, cy1;
  cairo_clip_extents(cr_, &cx0, &cy0, &cx1, &cy1);
  cairo_new_path(cr_);
  cairo_restore(cr_);
  int l = std::max(int(std::floor(std::max(x0, cx0))), 0), t = std::max(int(std::floor(std::max(y0, cy0))), 0);
  int r = std::min(int(std::ceil(std::min(x1, cx1))), surf_w_),
      b = std::min(int(std::ceil(std::min(y1, cy1))), surf_h_);
  if (r <= l || b <= t) return;
  cairo_surface_t* col = cairo_image_surface_create(CAIRO_FORMAT_RGB24, r - l, b - t);
  cairo_surface_t* cov = cairo_image_surface_create(CAIRO_FORMAT_A8, r - l, b - t);
  for (cairo_surface_t* s : {col, cov}) {
    cairo_t* c = cairo_create(s);
    cairo_set_antialias(c, CAIRO_ANTIALIAS_NONE);
    cairo_translate(c, -l, -t);
    ApplyClip(c, extra_clip);
    if (s == col) source(c, origin_x_ + l, origin_y_ + t);
    else cairo_set_source_rgb(c, 1, 1, 1);
    build(c, origin_x_ + l, origin_y_ + t);
    paint(c);
    cairo_destroy(c);
    cairo_surface_flush(s);
  }
  Flush();
  const auto* cp = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(col));
  const int cstride = cairo_image_surface_get_stride(col) / 4;
  const unsigned char* mp = cairo_image_surface_get_data(cov);
  const int mstride = cairo_image_surface_get_stride(cov);
  std::uint32_t* dst = Pixels();
  const int stride = Stride();
  const unsigned table = unsigned(rop2 - 1);
  for (int y = t; y < b; ++y) {
    for (int x = l; x < r; ++x) {
      if (mp[size_t(y - t) * mstride + (x - l)] < 128) continue;
      std::uint32_t P = cp[size_t(y - t) * cstride + (x - l)] & 0xFFFFFF;
      std::uint32_t& D = dst[size_t(y) * stride + x];
      std::uint32_t d = D & 0xFFFFFF, res = 0;
      if (table & 1) res |= ~P & ~d;
      if (table & 2) res |= ~P & d;
      if (table & 4) res |= P & ~d;
      if (table & 8) res |= P & d;
      D = 0xFF000000u | (res & 0xFFFFFF);
    }
  }
  cairo_surface_mark_dirty_rectangle(surface_, l, t, r - l, b - t);
  cairo_surface_destroy(col);
  cairo_surface_destroy(cov);
}

bool CairoDC::DrawShape(const Path& fill, const Path& stroke, bool do_fill, bool do_stroke) {
  if (s_.path_open) {
    const Path& add = do_fill ? fill : stroke;
    s_.path.insert(s_.path.end(), add.begin(), add.end());
    return true;
  }
  if (do_fill) Render(fill, true, &s_.brush, nullptr);
  if (do_stroke) Render(stroke, false, nullptr, &s_.pen);
  return true;
}

}  // namespace zv::gdi::detail
