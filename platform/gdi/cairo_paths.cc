// Region fills and the path bracket (BeginPath ... EndPath and the calls that use the path)
// on the cairo device context.
#include "platform/gdi/internal/cairo_dc.h"
#include "platform/gdi/internal/round.h"

#include <algorithm>
#include <cmath>

namespace zv::gdi::detail {

// ---- regions ----

bool CairoDC::FillRgn(const Region& rgn, const Brush& brush) {
  Path p;
  for (const RECT& r : rgn.Rects()) {
    p.push_back({PathOp::kMove, {double(r.left)}, {double(r.top)}});
    p.push_back({PathOp::kLine, {double(r.right)}, {double(r.top)}});
    p.push_back({PathOp::kLine, {double(r.right)}, {double(r.bottom)}});
    p.push_back({PathOp::kLine, {double(r.left)}, {double(r.bottom)}});
    p.push_back({PathOp::kClose, {}, {}});
  }
  int fm = std::exchange(s_.fill_mode, win::WINDING);
  Render(p, true, &brush, nullptr);
  s_.fill_mode = fm;
  return true;
}

bool CairoDC::FrameRgn(const Region& rgn, const Brush& brush, int w, int h) {
  if (w <= 0 || h <= 0) return false;
  XFORM m = Total();
  int dw = std::max(1, RoundI(w * std::fabs(m.eM11))), dh = std::max(1, RoundI(h * std::fabs(m.eM22)));
  // The frame is the region minus the region shrunk by the frame width.
  Region inner = rgn;
  Region shifted = rgn;
  for (int dx : {-dw, dw}) {
    shifted = rgn;
    shifted.Offset(dx, 0);
    inner.Combine(shifted, win::RGN_AND);
  }
  for (int dy : {-dh, dh}) {
    shifted = rgn;
    shifted.Offset(0, dy);
    inner.Combine(shifted, win::RGN_AND);
  }
  Region frame = rgn;
  frame.Combine(inner, win::RGN_DIFF);
  return FillRgn(frame, brush);
}

bool CairoDC::InvertRgn(const Region& rgn) {
  if (!draw_ || vector_) return true;
  Region r = rgn;
  r.Combine(EffectiveClip(), win::RGN_AND);
  r.Combine(SurfaceRegion(), win::RGN_AND);
  Flush();
  std::uint32_t* px = Pixels();
  int stride = Stride();
  for (const RECT& q : r.Rects()) {
    for (int y = q.top; y < q.bottom; ++y) {
      for (int x = q.left; x < q.right; ++x) {
        std::uint32_t& d = px[size_t(y - origin_y_) * stride + (x - origin_x_)];
        d = 0xFF000000u | (~d & 0xFFFFFF);
      }
    }
    MarkDirty(q);
  }
  return true;
}

bool CairoDC::PaintRgn(const Region& rgn) { return FillRgn(rgn, s_.brush); }

// ---- paths ----

bool CairoDC::BeginPath() {
  s_.path.clear();
  s_.path_open = true;
  s_.path_done = false;
  return true;
}

bool CairoDC::EndPath() {
  if (!s_.path_open) return false;
  s_.path_open = false;
  s_.path_done = true;
  return true;
}

bool CairoDC::AbortPath() {
  s_.path.clear();
  s_.path_open = false;
  s_.path_done = false;
  return true;
}

bool CairoDC::CloseFigure() {
  if (!s_.path_open) return false;
  if (!s_.path.empty()) s_.path.push_back({PathOp::kClose, {}, {}});
  return true;
}

bool CairoDC::FillPath() {
  if (!s_.path_done) return false;
  Path p = std::move(s_.path);
  AbortPath();
  Render(p, true, &s_.brush, nullptr);
  return true;
}

bool CairoDC::StrokePath() {
  if (!s_.path_done) return false;
  Path p = std::move(s_.path);
  AbortPath();
  Render(p, false, nullptr, &s_.pen);
  return true;
}

bool CairoDC::StrokeAndFillPath() {
  if (!s_.path_done) return false;
  Path p = std::move(s_.path);
  AbortPath();
  Render(p, true, &s_.brush, nullptr);
  Render(p, false, nullptr, &s_.pen);
  return true;
}

bool CairoDC::FlattenPath() {
  if (!s_.path_done) return false;
  cairo_surface_t* probe = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
  cairo_t* c = cairo_create(probe);
  AppendPath(c, s_.path);
  cairo_path_t* flat = cairo_copy_path_flat(c);
  Path out;
  for (int i = 0; i < flat->num_data; i += flat->data[i].header.length) {
    const cairo_path_data_t* d = &flat->data[i];
    switch (d->header.type) {
      case CAIRO_PATH_MOVE_TO:
        out.push_back({PathOp::kMove, {d[1].point.x}, {d[1].point.y}});
        break;
      case CAIRO_PATH_LINE_TO:
        out.push_back({PathOp::kLine, {d[1].point.x}, {d[1].point.y}});
        break;
      case CAIRO_PATH_CLOSE_PATH:
        out.push_back({PathOp::kClose, {}, {}});
        break;
      default:
        break;
    }
  }
  cairo_path_destroy(flat);
  cairo_destroy(c);
  cairo_surface_destroy(probe);
  s_.path = std::move(out);
  return true;
}

bool CairoDC::WidenPath() {
  // The widened outline is approximated by the flattened path itself: filling a widened path
  // is rare in pages, stroking it draws the same outline.
  return FlattenPath();
}

bool CairoDC::SelectClipPath(int mode) {
  if (!s_.path_done) return false;
  Region r = PathRegion(s_.path, s_.fill_mode);
  AbortPath();
  return ExtSelectClipRgn(&r, mode) != win::RGN_ERROR;
}

}  // namespace zv::gdi::detail
