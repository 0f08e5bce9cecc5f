// Lines, curves, shapes, regions and paths as records.
#include "platform/gdi/recorder/recorder_internal.h"

namespace zv::gdi {

Bytes MetafileRecorder::Impl::RegionData(const Region& rgn) const {
  const auto rects = rgn.Rects();
  Bytes out;
  PutBytes(out, RGNDATAHEADER{sizeof(RGNDATAHEADER), RDH_RECTANGLES, DWORD(rects.size()),
                              DWORD(rects.size() * sizeof(RECT)), rgn.Box()});
  for (const auto& r : rects) PutBytes(out, r);
  return out;
}

RECTL MetafileRecorder::Impl::RegionBounds(const Region& rgn) const {
  if (rgn.IsEmpty()) return kEmpty;
  const RECT b = rgn.Box();
  return {b.left, b.top, b.right - 1, b.bottom - 1};
}

bool MetafileRecorder::Impl::ArcRecord(DWORD type, const RECT& box, int xs, int ys, int xe, int ye) {
  if (!EmitFixed(EMRARC{{type, 0}, box, {xs, ys}, {xe, ye}})) return false;
  RECTL b = BoxOfRect(box.left, box.top, box.right, box.bottom, PenPad());
  if (type == EMR_ARCTO) {
    const POINT cur[1] = {st.cur};
    b = Union(b, Box(cur, PenPad()));
  }
  Draws(b);
  return true;
}

Region MetafileRecorder::Impl::RectRegion(int l, int t, int r, int b) const {
  const RECTL d = BoxOfRect(l, t, r, b);
  return Region(RECT{d.left, d.top, d.right, d.bottom});
}

bool MetafileRecorder::Impl::PathRecord(DWORD type, bool stroke) {
  if (closed || in_path || !path_ready) return false;
  RECTL b = path_box;
  if (stroke && b.right >= b.left) {
    const LONG pad = LONG(std::ceil(PenPad()));
    b = {b.left - pad, b.top - pad, b.right + pad, b.bottom + pad};
  }
  if (!EmitFixed(EMRFILLPATH{{type, 0}, b})) return false;
  path_ready = false;
  path_box = kEmpty;
  return true;
}

// ---- Lines and shapes ----

bool MetafileRecorder::MoveToEx(int x, int y, POINT* old) {
  Impl& m = *impl_;
  if (!m.EmitPoint(EMR_MOVETOEX, {x, y})) return false;
  if (old) *old = m.st.cur;
  m.st.cur = {x, y};
  return true;
}
POINT MetafileRecorder::GetCurrentPositionEx() const { return impl_->st.cur; }

bool MetafileRecorder::LineTo(int x, int y) {
  Impl& m = *impl_;
  if (!m.EmitPoint(EMR_LINETO, {x, y})) return false;
  const POINT seg[2] = {m.st.cur, {x, y}};
  m.Draws(m.Box(seg, m.PenPad()));
  m.st.cur = {x, y};
  return true;
}

bool MetafileRecorder::Polyline(std::span<const POINT> pts) {
  Impl& m = *impl_;
  if (pts.size() < 2) return false;
  const RECTL b = m.Box(pts, m.PenPad());
  if (!m.EmitPoly(EMR_POLYLINE, pts, m.in_path ? kEmpty : b)) return false;
  if (m.in_path) m.Draws(b);
  return true;
}

bool MetafileRecorder::PolylineTo(std::span<const POINT> pts) {
  Impl& m = *impl_;
  if (pts.empty()) return false;
  std::vector<POINT> all{m.st.cur};
  all.insert(all.end(), pts.begin(), pts.end());
  const RECTL b = m.Box(all, m.PenPad());
  if (!m.EmitPoly(EMR_POLYLINETO, pts, m.in_path ? kEmpty : b)) return false;
  if (m.in_path) m.Draws(b);
  m.st.cur = pts.back();
  return true;
}

bool MetafileRecorder::Polygon(std::span<const POINT> pts) {
  Impl& m = *impl_;
  if (pts.size() < 2) return false;
  const RECTL b = m.Box(pts, m.PenPad());
  if (!m.EmitPoly(EMR_POLYGON, pts, m.in_path ? kEmpty : b)) return false;
  if (m.in_path) m.Draws(b);
  return true;
}

namespace {
bool CountsMatch(std::span<const POINT> pts, std::span<const DWORD> counts) {
  unsigned long long sum = 0;
  for (DWORD c : counts) sum += c;
  return !counts.empty() && sum == pts.size();
}
}  // namespace

bool MetafileRecorder::PolyPolygon(std::span<const POINT> pts, std::span<const DWORD> counts) {
  Impl& m = *impl_;
  if (!CountsMatch(pts, counts)) return false;
  const RECTL b = m.Box(pts, m.PenPad());
  const bool small = FitsShort(pts);
  Bytes rec;
  PutBytes(rec, EMRPOLYPOLYLINE_HEAD{{small ? EMR_POLYPOLYGON16 : EMR_POLYPOLYGON, 0},
                                     m.in_path ? kEmpty : b,
                                     DWORD(counts.size()),
                                     DWORD(pts.size())});
  for (DWORD c : counts) PutBytes(rec, c);
  PutPoints(rec, pts, small);
  if (!m.Emit(std::move(rec))) return false;
  if (m.in_path) m.Draws(b);
  return true;
}

bool MetafileRecorder::PolyPolyline(std::span<const POINT> pts, std::span<const DWORD> counts) {
  Impl& m = *impl_;
  if (!CountsMatch(pts, counts)) return false;
  const RECTL b = m.Box(pts, m.PenPad());
  const bool small = FitsShort(pts);
  Bytes rec;
  PutBytes(rec, EMRPOLYPOLYLINE_HEAD{{small ? EMR_POLYPOLYLINE16 : EMR_POLYPOLYLINE, 0},
                                     m.in_path ? kEmpty : b,
                                     DWORD(counts.size()),
                                     DWORD(pts.size())});
  for (DWORD c : counts) PutBytes(rec, c);
  PutPoints(rec, pts, small);
  if (!m.Emit(std::move(rec))) return false;
  if (m.in_path) m.Draws(b);
  return true;
}

bool MetafileRecorder::PolyBezier(std::span<const POINT> pts) {
  Impl& m = *impl_;
  if (pts.size() < 4 || (pts.size() - 1) % 3 != 0) return false;
  const RECTL b = m.Box(pts, m.PenPad());
  if (!m.EmitPoly(EMR_POLYBEZIER, pts, m.in_path ? kEmpty : b)) return false;
  if (m.in_path) m.Draws(b);
  return true;
}

bool MetafileRecorder::PolyBezierTo(std::span<const POINT> pts) {
  Impl& m = *impl_;
  if (pts.empty() || pts.size() % 3 != 0) return false;
  std::vector<POINT> all{m.st.cur};
  all.insert(all.end(), pts.begin(), pts.end());
  const RECTL b = m.Box(all, m.PenPad());
  if (!m.EmitPoly(EMR_POLYBEZIERTO, pts, m.in_path ? kEmpty : b)) return false;
  if (m.in_path) m.Draws(b);
  m.st.cur = pts.back();
  return true;
}

bool MetafileRecorder::PolyDraw(std::span<const POINT> pts, std::span<const BYTE> types) {
  Impl& m = *impl_;
  if (pts.empty() || pts.size() != types.size()) return false;
  std::vector<POINT> all{m.st.cur};
  all.insert(all.end(), pts.begin(), pts.end());
  const RECTL b = m.Box(all, m.PenPad());
  const bool small = FitsShort(pts);
  Bytes rec;
  PutBytes(rec,
           EMRPOLYDRAW_HEAD{{small ? EMR_POLYDRAW16 : EMR_POLYDRAW, 0}, m.in_path ? kEmpty : b, DWORD(pts.size())});
  PutPoints(rec, pts, small);
  PutSpan(rec, types);
  if (!m.Emit(std::move(rec))) return false;
  if (m.in_path) m.Draws(b);
  m.st.cur = pts.back();
  return true;
}

bool MetafileRecorder::Rectangle(int left, int top, int right, int bottom) {
  Impl& m = *impl_;
  if (!m.EmitFixed(EMRRECTANGLE{{EMR_RECTANGLE, 0}, {left, top, right, bottom}})) return false;
  m.Draws(Impl::Inclusive(m.BoxOfRect(left, top, right, bottom, m.PenPad())));
  return true;
}
bool MetafileRecorder::RoundRect(int left, int top, int right, int bottom, int cx, int cy) {
  Impl& m = *impl_;
  if (!m.EmitFixed(EMRROUNDRECT{{EMR_ROUNDRECT, 0}, {left, top, right, bottom}, {cx, cy}})) return false;
  m.Draws(Impl::Inclusive(m.BoxOfRect(left, top, right, bottom, m.PenPad())));
  return true;
}
bool MetafileRecorder::Ellipse(int left, int top, int right, int bottom) {
  Impl& m = *impl_;
  if (!m.EmitFixed(EMRELLIPSE{{EMR_ELLIPSE, 0}, {left, top, right, bottom}})) return false;
  m.Draws(Impl::Inclusive(m.BoxOfRect(left, top, right, bottom, m.PenPad())));
  return true;
}

bool MetafileRecorder::Arc(const RECT& box, int xs, int ys, int xe, int ye) {
  return impl_->ArcRecord(EMR_ARC, box, xs, ys, xe, ye);
}
bool MetafileRecorder::ArcTo(const RECT& box, int xs, int ys, int xe, int ye) {
  Impl& m = *impl_;
  if (!m.ArcRecord(EMR_ARCTO, box, xs, ys, xe, ye)) return false;
  // The current position moves to where the arc ends: on the ellipse, along the radial to
  // the end point.
  const double cx = (box.left + box.right) / 2.0, cy = (box.top + box.bottom) / 2.0;
  const double rx = (box.right - box.left) / 2.0, ry = (box.bottom - box.top) / 2.0;
  const double a = std::atan2((ye - cy) * (rx == 0 ? 1 : rx), (xe - cx) * (ry == 0 ? 1 : ry));
  m.st.cur = {Clamp(std::lround(cx + rx * std::cos(a))), Clamp(std::lround(cy + ry * std::sin(a)))};
  return true;
}
bool MetafileRecorder::Chord(const RECT& box, int xs, int ys, int xe, int ye) {
  return impl_->ArcRecord(EMR_CHORD, box, xs, ys, xe, ye);
}
bool MetafileRecorder::Pie(const RECT& box, int xs, int ys, int xe, int ye) {
  return impl_->ArcRecord(EMR_PIE, box, xs, ys, xe, ye);
}
bool MetafileRecorder::AngleArc(int x, int y, DWORD radius, float start_deg, float sweep_deg) {
  Impl& m = *impl_;
  if (radius > 0x7FFFFFFF) return false;
  if (!m.EmitFixed(EMRANGLEARC{{EMR_ANGLEARC, 0}, {x, y}, radius, start_deg, sweep_deg})) return false;
  const LONG r = LONG(radius);
  const POINT pts[3] = {{x - r, y - r}, {x + r, y + r}, m.st.cur};
  m.Draws(m.Box(pts, m.PenPad()));
  const double end = (start_deg + sweep_deg) * 3.14159265358979323846 / 180.0;
  m.st.cur = {Clamp(std::lround(x + r * std::cos(end))), Clamp(std::lround(y - r * std::sin(end)))};
  return true;
}

bool MetafileRecorder::SetPixelV(int x, int y, COLORREF c) {
  Impl& m = *impl_;
  if (!m.EmitFixed(EMRSETPIXELV{{EMR_SETPIXELV, 0}, {x, y}, c})) return false;
  const POINT p[1] = {{x, y}};
  m.Draws(m.Box(p));
  return true;
}
COLORREF MetafileRecorder::GetPixel(int, int) const { return CLR_INVALID; }

// ---- Regions ----

bool MetafileRecorder::FillRgn(const Region& rgn, const Brush& brush) {
  Impl& m = *impl_;
  if (m.closed) return false;
  const DWORD ih = m.Obtain(Kind::kBrush, nullptr, &brush, nullptr);
  if (ih == 0) return false;
  const Bytes data = m.RegionData(rgn);
  if (!m.EmitFixed(EMRFILLRGN_HEAD{{EMR_FILLRGN, 0}, m.RegionBounds(rgn), DWORD(data.size()), ih}, data)) return false;
  m.Collect(Kind::kBrush);
  return true;
}
bool MetafileRecorder::FrameRgn(const Region& rgn, const Brush& brush, int w, int h) {
  Impl& m = *impl_;
  if (m.closed) return false;
  const DWORD ih = m.Obtain(Kind::kBrush, nullptr, &brush, nullptr);
  if (ih == 0) return false;
  const Bytes data = m.RegionData(rgn);
  if (!m.EmitFixed(EMRFRAMERGN_HEAD{{EMR_FRAMERGN, 0}, m.RegionBounds(rgn), DWORD(data.size()), ih, {w, h}}, data))
    return false;
  m.Collect(Kind::kBrush);
  return true;
}
bool MetafileRecorder::InvertRgn(const Region& rgn) {
  Impl& m = *impl_;
  const Bytes data = m.RegionData(rgn);
  return m.EmitFixed(EMRINVERTRGN_HEAD{{EMR_INVERTRGN, 0}, m.RegionBounds(rgn), DWORD(data.size())}, data);
}
bool MetafileRecorder::PaintRgn(const Region& rgn) {
  Impl& m = *impl_;
  const Bytes data = m.RegionData(rgn);
  return m.EmitFixed(EMRPAINTRGN_HEAD{{EMR_PAINTRGN, 0}, m.RegionBounds(rgn), DWORD(data.size())}, data);
}

// ---- Paths ----

bool MetafileRecorder::BeginPath() {
  Impl& m = *impl_;
  if (!m.EmitType(EMR_BEGINPATH)) return false;
  m.in_path = true;
  m.path_ready = false;
  m.path_box = kEmpty;
  return true;
}
bool MetafileRecorder::EndPath() {
  Impl& m = *impl_;
  if (!m.in_path || !m.EmitType(EMR_ENDPATH)) return false;
  m.in_path = false;
  m.path_ready = true;
  return true;
}
bool MetafileRecorder::AbortPath() {
  Impl& m = *impl_;
  if (!m.EmitType(EMR_ABORTPATH)) return false;
  m.in_path = m.path_ready = false;
  m.path_box = kEmpty;
  return true;
}
bool MetafileRecorder::CloseFigure() {
  Impl& m = *impl_;
  return m.in_path && m.EmitType(EMR_CLOSEFIGURE);
}
bool MetafileRecorder::FillPath() { return impl_->PathRecord(EMR_FILLPATH, false); }
bool MetafileRecorder::StrokePath() { return impl_->PathRecord(EMR_STROKEPATH, true); }
bool MetafileRecorder::StrokeAndFillPath() { return impl_->PathRecord(EMR_STROKEANDFILLPATH, true); }
bool MetafileRecorder::FlattenPath() {
  Impl& m = *impl_;
  return m.path_ready && !m.in_path && m.EmitType(EMR_FLATTENPATH);
}
bool MetafileRecorder::WidenPath() {
  Impl& m = *impl_;
  if (!m.path_ready || m.in_path || !m.EmitType(EMR_WIDENPATH)) return false;
  const LONG pad = LONG(std::ceil(m.PenPad()));
  if (m.path_box.right >= m.path_box.left) {
    m.path_box = {m.path_box.left - pad, m.path_box.top - pad, m.path_box.right + pad, m.path_box.bottom + pad};
  }
  return true;
}
bool MetafileRecorder::SelectClipPath(int mode) {
  Impl& m = *impl_;
  if (mode < RGN_AND || mode > RGN_COPY || !m.path_ready || m.in_path) return false;
  if (!m.EmitMode(EMR_SELECTCLIPPATH, DWORD(mode))) return false;
  // The clip follows the path's box: the recorder keeps no path geometry.
  const RECTL b = m.path_box;
  m.Combine(b.right >= b.left ? Region(RECT{b.left, b.top, b.right + 1, b.bottom + 1}) : Region(), mode);
  m.path_ready = false;
  m.path_box = kEmpty;
  return true;
}

}  // namespace zv::gdi
