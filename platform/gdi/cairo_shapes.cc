// Lines, curves and shapes on the cairo device context: their geometry as device paths,
// and the calls that draw them.
#include "platform/gdi/internal/cairo_dc.h"
#include "platform/gdi/internal/round.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zv::gdi::detail {

namespace {

constexpr double kPi = std::numbers::pi;

}  // namespace

// ---- geometry ----

void CairoDC::AddPolyline(Path& p, std::span<const POINT> pts, bool close, bool move_first) const {
  bool first = true;
  for (const POINT& q : pts) {
    PathOp op{first && move_first ? PathOp::kMove : PathOp::kLine, {}, {}};
    Xf(q.x, q.y, &op.x[0], &op.y[0]);
    p.push_back(op);
    first = false;
  }
  if (close && !pts.empty()) p.push_back({PathOp::kClose, {}, {}});
}

void CairoDC::AddRectPath(Path& p, double l, double t, double r, double b) const {
  POINT q[4] = {{0, 0}, {0, 0}, {0, 0}, {0, 0}};
  (void)q;
  double xs[4] = {l, r, r, l}, ys[4] = {t, t, b, b};
  for (int i = 0; i < 4; ++i) {
    PathOp op{i == 0 ? PathOp::kMove : PathOp::kLine, {}, {}};
    Xf(xs[i], ys[i], &op.x[0], &op.y[0]);
    p.push_back(op);
  }
  p.push_back({PathOp::kClose, {}, {}});
}

// Appends an elliptic arc (centre, radii in logical units; angles in radians, counter-
// clockwise on a y-down page) as Béziers of at most 90 degrees.
void CairoDC::AddArcPoints(Path& p, double cx, double cy, double rx, double ry, double a0, double sweep,
                           bool line_to_start) const {
  auto pt = [&](double a, double* x, double* y) { Xf(cx + rx * std::cos(a), cy - ry * std::sin(a), x, y); };
  PathOp start{line_to_start ? PathOp::kLine : PathOp::kMove, {}, {}};
  pt(a0, &start.x[0], &start.y[0]);
  p.push_back(start);
  int n = std::max(1, int(std::ceil(std::fabs(sweep) / (kPi / 2) - 1e-9)));
  double step = sweep / n;
  // Pieces of at most 90 degrees keep each Bézier within about 0.03% of the radius of the
  // true arc; k is the control-point distance that fits a circular arc of that step.
  double k = 4.0 / 3.0 * std::tan(step / 4);
  for (int i = 0; i < n; ++i) {
    double a = a0 + step * i, b = a + step;
    double x0 = std::cos(a), y0 = std::sin(a), x1 = std::cos(b), y1 = std::sin(b);
    PathOp c{PathOp::kCurve, {}, {}};
    Xf(cx + rx * (x0 - k * y0), cy - ry * (y0 + k * x0), &c.x[0], &c.y[0]);
    Xf(cx + rx * (x1 + k * y1), cy - ry * (y1 - k * x1), &c.x[1], &c.y[1]);
    Xf(cx + rx * x1, cy - ry * y1, &c.x[2], &c.y[2]);
    p.push_back(c);
  }
}

void CairoDC::AddEllipsePath(Path& p, double l, double t, double r, double b) const {
  AddArcPoints(p, (l + r) / 2, (t + b) / 2, std::fabs(r - l) / 2, std::fabs(b - t) / 2, 0, 2 * kPi, false);
  p.push_back({PathOp::kClose, {}, {}});
}

void CairoDC::AddRoundRectPath(Path& p, double l, double t, double r, double b, double cx, double cy) const {
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
  double rx = std::min(std::fabs(cx) / 2, (r - l) / 2), ry = std::min(std::fabs(cy) / 2, (b - t) / 2);
  if (rx <= 0 || ry <= 0) {
    AddRectPath(p, l, t, r, b);
    return;
  }
  AddArcPoints(p, r - rx, t + ry, rx, ry, 0, kPi / 2, false);
  AddArcPoints(p, l + rx, t + ry, rx, ry, kPi / 2, kPi / 2, true);
  AddArcPoints(p, l + rx, b - ry, rx, ry, kPi, kPi / 2, true);
  AddArcPoints(p, r - rx, b - ry, rx, ry, 3 * kPi / 2, kPi / 2, true);
  p.push_back({PathOp::kClose, {}, {}});
}

bool CairoDC::ArcAngles(const RECT& box, int xs, int ys, int xe, int ye, double* a0, double* sweep) const {
  double cx = (double(box.left) + box.right) / 2.0, cy = (double(box.top) + box.bottom) / 2.0;
  double rx = std::fabs(double(box.right) - box.left) / 2.0, ry = std::fabs(double(box.bottom) - box.top) / 2.0;
  if (rx <= 0 || ry <= 0) return false;
  double s = std::atan2(-(ys - cy) / ry, (xs - cx) / rx);
  double e = std::atan2(-(ye - cy) / ry, (xe - cx) / rx);
  double d = e - s;
  if (s_.arc_dir == win::AD_COUNTERCLOCKWISE) {
    while (d <= 1e-12) d += 2 * kPi;
  } else {
    while (d >= -1e-12) d -= 2 * kPi;
  }
  *a0 = s;
  *sweep = d;
  return true;
}

// ---- lines ----

bool CairoDC::MoveToEx(int x, int y, POINT* old) {
  if (old) *old = s_.cp;
  s_.cp = {x, y};
  if (s_.path_open) {
    PathOp op{PathOp::kMove, {}, {}};
    Xf(x, y, &op.x[0], &op.y[0]);
    s_.path.push_back(op);
  }
  return true;
}

bool CairoDC::LineTo(int x, int y) {
  POINT pts[2] = {s_.cp, {x, y}};
  s_.cp = {x, y};
  Path p;
  if (ContinuesFigure()) AddPolyline(p, std::span<const POINT>(pts + 1, 1), false, false);
  else AddPolyline(p, pts, false, true);
  return DrawShape(p, p, false, true);
}

bool CairoDC::Polyline(std::span<const POINT> pts) {
  if (pts.size() < 2) return pts.empty() ? false : true;
  Path p;
  AddPolyline(p, pts, false, true);
  return DrawShape(p, p, false, true);
}

bool CairoDC::PolylineTo(std::span<const POINT> pts) {
  if (pts.empty()) return true;
  Path p;
  if (!ContinuesFigure()) AddPolyline(p, std::span<const POINT>(&s_.cp, 1), false, true);
  AddPolyline(p, pts, false, false);
  s_.cp = pts.back();
  return DrawShape(p, p, false, true);
}

bool CairoDC::Polygon(std::span<const POINT> pts) {
  if (pts.size() < 2) return false;
  Path p;
  AddPolyline(p, pts, true, true);
  return DrawShape(p, p, true, true);
}

bool CairoDC::PolyPolygon(std::span<const POINT> pts, std::span<const win::DWORD> counts) {
  Path p;
  size_t at = 0;
  for (win::DWORD n : counts) {
    if (n > pts.size() - at) return false;
    AddPolyline(p, pts.subspan(at, n), true, true);
    at += n;
  }
  return DrawShape(p, p, true, true);
}

bool CairoDC::PolyPolyline(std::span<const POINT> pts, std::span<const win::DWORD> counts) {
  Path p;
  size_t at = 0;
  for (win::DWORD n : counts) {
    if (n > pts.size() - at) return false;
    AddPolyline(p, pts.subspan(at, n), false, true);
    at += n;
  }
  return DrawShape(p, p, false, true);
}

bool CairoDC::PolyBezier(std::span<const POINT> pts) {
  if (pts.size() < 4 || (pts.size() - 1) % 3 != 0) return false;
  Path p;
  AddPolyline(p, pts.subspan(0, 1), false, true);
  for (size_t i = 1; i + 2 < pts.size(); i += 3) {
    PathOp c{PathOp::kCurve, {}, {}};
    for (int k = 0; k < 3; ++k) Xf(pts[i + k].x, pts[i + k].y, &c.x[k], &c.y[k]);
    p.push_back(c);
  }
  return DrawShape(p, p, false, true);
}

bool CairoDC::PolyBezierTo(std::span<const POINT> pts) {
  if (pts.size() % 3 != 0) return false;
  if (pts.empty()) return true;
  Path p;
  if (!ContinuesFigure()) AddPolyline(p, std::span<const POINT>(&s_.cp, 1), false, true);
  for (size_t i = 0; i + 2 < pts.size(); i += 3) {
    PathOp c{PathOp::kCurve, {}, {}};
    for (int k = 0; k < 3; ++k) Xf(pts[i + k].x, pts[i + k].y, &c.x[k], &c.y[k]);
    p.push_back(c);
  }
  s_.cp = pts.back();
  return DrawShape(p, p, false, true);
}

bool CairoDC::PolyDraw(std::span<const POINT> pts, std::span<const win::BYTE> types) {
  if (pts.size() != types.size()) return false;
  Path p;
  POINT cp = s_.cp;
  POINT figure_start = cp;
  AddPolyline(p, std::span<const POINT>(&cp, 1), false, true);
  for (size_t i = 0; i < pts.size(); ++i) {
    win::BYTE t = types[i] & ~win::PT_CLOSEFIGURE;
    if (t == win::PT_MOVETO) {
      AddPolyline(p, pts.subspan(i, 1), false, true);
      figure_start = pts[i];
    } else if (t == win::PT_LINETO) {
      AddPolyline(p, pts.subspan(i, 1), false, false);
    } else if (t == win::PT_BEZIERTO) {
      if (i + 2 >= pts.size()) return false;
      PathOp c{PathOp::kCurve, {}, {}};
      for (int k = 0; k < 3; ++k) Xf(pts[i + k].x, pts[i + k].y, &c.x[k], &c.y[k]);
      p.push_back(c);
      i += 2;
    } else {
      return false;
    }
    cp = pts[i];
    if (types[i] & win::PT_CLOSEFIGURE) {
      p.push_back({PathOp::kClose, {}, {}});
      cp = figure_start;
    }
  }
  s_.cp = cp;
  return DrawShape(p, p, false, true);
}

// ---- box shapes ----

namespace {
// The stroke of a box shape runs through the pixel centres of its outermost pixels: the box
// in device pixels without its right and bottom edges.
struct DevBox {
  double l, t, r, b;
};
}  // namespace

bool CairoDC::Rectangle(int left, int top, int right, int bottom) {
  Path fill, stroke;
  double l = left, t = top, r = right, b = bottom;
  const bool inside = InsideFrameBox(&l, &t, &r, &b);
  AddRectPath(fill, l, t, r, b);
  if (AxisAligned() && !s_.path_open) {
    double x0, y0, x1, y1;
    Xf(left, top, &x0, &y0);
    Xf(right, bottom, &x1, &y1);
    DevBox d{std::round(std::min(x0, x1)), std::round(std::min(y0, y1)), std::round(std::max(x0, x1)) - 1,
             std::round(std::max(y0, y1)) - 1};
    DevBox s = d;
    if (inside) {
      // The stroke runs through pixel centres (odd widths) or pixel edges (even widths):
      // move it in so that its outer pixels are the box's outer pixels.
      const int w = int(std::lround(PenDeviceWidth(s_.pen)));
      const double in_lt = w / 2, in_rb = (w - 1) / 2;
      s = {d.l + in_lt, d.t + in_lt, d.r - in_rb, d.b - in_rb};
      if (s.r < s.l) s.l = s.r = std::floor((d.l + d.r) / 2);
      if (s.b < s.t) s.t = s.b = std::floor((d.t + d.b) / 2);
    }
    // An inside-frame figure is shrunk as a whole: the fill ends under the outline's middle,
    // so nothing of the brush shows past a rounded or bevelled corner.
    const DevBox f = inside ? s : d;
    fill = {{PathOp::kMove, {f.l}, {f.t}},
            {PathOp::kLine, {f.r + 1}, {f.t}},
            {PathOp::kLine, {f.r + 1}, {f.b + 1}},
            {PathOp::kLine, {f.l}, {f.b + 1}},
            {PathOp::kClose, {}, {}}};
    stroke = {{PathOp::kMove, {s.l}, {s.t}},
              {PathOp::kLine, {s.r}, {s.t}},
              {PathOp::kLine, {s.r}, {s.b}},
              {PathOp::kLine, {s.l}, {s.b}},
              {PathOp::kClose, {}, {}}};
  } else {
    stroke = fill;
  }
  return DrawBoxShape(fill, stroke, true, true, inside, left, top, right, bottom);
}

bool CairoDC::RoundRect(int left, int top, int right, int bottom, int cx, int cy) {
  Path p;
  double l = left, t = top, r = right, b = bottom;
  const bool inside = InsideFrameBox(&l, &t, &r, &b);
  AddRoundRectPath(p, l, t, r, b, cx, cy);
  return DrawBoxShape(p, p, true, true, inside, left, top, right, bottom);
}

bool CairoDC::Ellipse(int left, int top, int right, int bottom) {
  Path p;
  double l = left, t = top, r = right, b = bottom;
  const bool inside = InsideFrameBox(&l, &t, &r, &b);
  AddEllipsePath(p, l, t, r, b);
  return DrawBoxShape(p, p, true, true, inside, left, top, right, bottom);
}

namespace {
// The centre and radii of a box shape's ellipse.
struct Oval {
  double cx, cy, rx, ry;
};
Oval OvalOf(double l, double t, double r, double b) {
  return {(l + r) / 2.0, (t + b) / 2.0, std::fabs(r - l) / 2.0, std::fabs(b - t) / 2.0};
}
}  // namespace

bool CairoDC::Arc(const RECT& box, int xs, int ys, int xe, int ye) {
  double a0, sw;
  if (!ArcAngles(box, xs, ys, xe, ye, &a0, &sw)) return false;
  double l = box.left, t = box.top, r = box.right, b = box.bottom;
  const bool inside = InsideFrameBox(&l, &t, &r, &b);
  const Oval o = OvalOf(l, t, r, b);
  Path p;
  AddArcPoints(p, o.cx, o.cy, o.rx, o.ry, a0, sw, false);
  return DrawBoxShape(p, p, false, true, inside, box.left, box.top, box.right, box.bottom);
}

bool CairoDC::ArcTo(const RECT& box, int xs, int ys, int xe, int ye) {
  double a0, sw;
  if (!ArcAngles(box, xs, ys, xe, ye, &a0, &sw)) return false;
  double l = box.left, t = box.top, r = box.right, b = box.bottom;
  const bool inside = InsideFrameBox(&l, &t, &r, &b);
  const Oval o = OvalOf(l, t, r, b);
  Path p;
  if (!ContinuesFigure()) AddPolyline(p, std::span<const POINT>(&s_.cp, 1), false, true);
  AddArcPoints(p, o.cx, o.cy, o.rx, o.ry, a0, sw, true);
  s_.cp = {RoundI(o.cx + o.rx * std::cos(a0 + sw)), RoundI(o.cy - o.ry * std::sin(a0 + sw))};
  return DrawBoxShape(p, p, false, true, inside, box.left, box.top, box.right, box.bottom);
}

bool CairoDC::Chord(const RECT& box, int xs, int ys, int xe, int ye) {
  double a0, sw;
  if (!ArcAngles(box, xs, ys, xe, ye, &a0, &sw)) return false;
  double l = box.left, t = box.top, r = box.right, b = box.bottom;
  const bool inside = InsideFrameBox(&l, &t, &r, &b);
  const Oval o = OvalOf(l, t, r, b);
  Path p;
  AddArcPoints(p, o.cx, o.cy, o.rx, o.ry, a0, sw, false);
  p.push_back({PathOp::kClose, {}, {}});
  return DrawBoxShape(p, p, true, true, inside, box.left, box.top, box.right, box.bottom);
}

bool CairoDC::Pie(const RECT& box, int xs, int ys, int xe, int ye) {
  double a0, sw;
  if (!ArcAngles(box, xs, ys, xe, ye, &a0, &sw)) return false;
  double l = box.left, t = box.top, r = box.right, b = box.bottom;
  const bool inside = InsideFrameBox(&l, &t, &r, &b);
  const Oval o = OvalOf(l, t, r, b);
  Path p;
  PathOp c{PathOp::kMove, {}, {}};
  Xf(o.cx, o.cy, &c.x[0], &c.y[0]);
  p.push_back(c);
  AddArcPoints(p, o.cx, o.cy, o.rx, o.ry, a0, sw, true);
  p.push_back({PathOp::kClose, {}, {}});
  return DrawBoxShape(p, p, true, true, inside, box.left, box.top, box.right, box.bottom);
}

bool CairoDC::AngleArc(int x, int y, win::DWORD radius, float start_deg, float sweep_deg) {
  if (radius > 0x7FFFFFFF || !std::isfinite(start_deg) || !std::isfinite(sweep_deg)) return false;
  double a0 = start_deg * kPi / 180, sw = std::clamp<double>(sweep_deg, -3600, 3600) * kPi / 180;
  Path p;
  if (!ContinuesFigure()) AddPolyline(p, std::span<const POINT>(&s_.cp, 1), false, true);
  AddArcPoints(p, x, y, radius, radius, a0, sw, true);
  s_.cp = {RoundI(x + radius * std::cos(a0 + sw)), RoundI(y - radius * std::sin(a0 + sw))};
  return DrawShape(p, p, false, true);
}

bool CairoDC::SetPixelV(int x, int y, COLORREF c) {
  double dx, dy;
  Xf(x, y, &dx, &dy);
  int px = RoundI(std::floor(dx)), py = RoundI(std::floor(dy));
  if (!draw_) return true;
  if (vector_) {
    Brush b = Brush::Solid(c);
    Path p = {{PathOp::kMove, {double(px)}, {double(py)}},
              {PathOp::kLine, {px + 1.0}, {double(py)}},
              {PathOp::kLine, {px + 1.0}, {py + 1.0}},
              {PathOp::kLine, {double(px)}, {py + 1.0}},
              {PathOp::kClose, {}, {}}};
    int rop2 = std::exchange(s_.rop2, win::R2_COPYPEN);
    Render(p, true, &b, nullptr);
    s_.rop2 = rop2;
    return true;
  }
  Region clip = EffectiveClip();
  clip.Combine(SurfaceRegion(), win::RGN_AND);
  if (!clip.Contains(px, py)) return true;
  Flush();
  Pixels()[size_t(py - origin_y_) * Stride() + (px - origin_x_)] = 0xFF000000u | ToRgb(c);
  MarkDirty({px, py, px + 1, py + 1});
  return true;
}

COLORREF CairoDC::GetPixel(int x, int y) const {
  if (!draw_ || vector_) return win::CLR_INVALID;
  double dx, dy;
  Xf(x, y, &dx, &dy);
  int px = RoundI(std::floor(dx)) - origin_x_, py = RoundI(std::floor(dy)) - origin_y_;
  if (px < 0 || py < 0 || px >= surf_w_ || py >= surf_h_) return win::CLR_INVALID;
  Flush();
  std::uint32_t v = Pixels()[size_t(py) * Stride() + px];
  return win::RGB(win::BYTE((v >> 16) & 0xFF), win::BYTE((v >> 8) & 0xFF), win::BYTE(v & 0xFF));
}

}  // namespace zv::gdi::detail
