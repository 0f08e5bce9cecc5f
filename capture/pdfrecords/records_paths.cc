// The converter's paths and clips: the state's path as PolyDraw figures, stroked with the
// state's pen, filled with its brush (fill figures thinner than a pixel as a picture of
// their area), or made the recorder's clip. Part of the one output device
// (records_device.h).
#include <GfxState.h>

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "capture/pdfrecords/records_device.h"

namespace zv::capture::pdfrecords {
namespace {

// Takes a subpath and bounds (device pixels); widens the bounds to its points.
void WidenByPoints(GfxState* state, const GfxSubpath* sp, double* l, double* t, double* r, double* b) {
  for (int j = 0; j < sp->getNumPoints(); ++j) {
    double x, y;
    state->transform(sp->getX(j), sp->getY(j), &x, &y);
    *l = std::min(*l, x);
    *t = std::min(*t, y);
    *r = std::max(*r, x);
    *b = std::max(*b, y);
  }
}

}  // namespace

void RecordsDev::stroke(GfxState* state) {
  neutralised_ = false;
  if (Hidden()) return Ink(state, StrokeBox(state));
  Flush();
  if (NeedsPicture(state, state->getStrokeOpacity())) {
    // A translucent stroke (grid lines, the edges of translucent areas): its outline as the
    // clip of a blend; a picture would be the whole area it surrounds.
    std::vector<win::POINT> pts;
    std::vector<win::BYTE> types;
    StrokeOutline(state, &pts, &types);
    GfxRGB rgb;
    state->getStrokeRGB(&rgb);
    if (Translucent(state, state->getStrokeColorSpace(), rgb, state->getStrokeOpacity(), pts, types, win::WINDING,
                    StrokeBox(state)))
      return;
    return Picture(state, StrokeBox(state));
  }
  if (!BuildPath(state)) return;
  SelectStrokePen(state);
  SelectBrushNull();
  rec_.StrokePath();
  Spend(64);
}

void RecordsDev::StrokeOutline(GfxState* state, std::vector<win::POINT>* pts, std::vector<win::BYTE>* types) const {
  // Each segment of the flattened path as a quadrilateral of the line's width, all turning
  // the same way, so that their nonzero-winding union is the stroke (joins and caps aside,
  // which a translucent line's width hardly shows).
  const GfxPath* path = state->getPath();
  if (!path) return;
  const double half = std::max(0.5, state->getTransformedLineWidth() / 2);
  auto quad = [&](double x0, double y0, double x1, double y1) {
    const double len = std::hypot(x1 - x0, y1 - y0);
    if (!(len > 1e-9) || pts->size() > (1u << 20)) return;
    double nx = -(y1 - y0) / len * half, ny = (x1 - x0) / len * half;
    const win::POINT c[4] = {{Clamp32(x0 + nx), Clamp32(y0 + ny)},
                             {Clamp32(x1 + nx), Clamp32(y1 + ny)},
                             {Clamp32(x1 - nx), Clamp32(y1 - ny)},
                             {Clamp32(x0 - nx), Clamp32(y0 - ny)}};
    // The same orientation for every quadrilateral (device y down: clockwise as seen).
    const double area = double(c[1].x - c[0].x) * (c[2].y - c[0].y) - double(c[2].x - c[0].x) * (c[1].y - c[0].y);
    const int order[4] = {0, 1, 2, 3}, reversed[4] = {0, 3, 2, 1};
    const int* o = area >= 0 ? order : reversed;
    for (int k = 0; k < 4; ++k) {
      pts->push_back(c[o[k]]);
      types->push_back(k == 0 ? win::PT_MOVETO : win::PT_LINETO);
    }
    types->back() |= win::PT_CLOSEFIGURE;
  };
  for (int i = 0; i < path->getNumSubpaths(); ++i) {
    const GfxSubpath* sp = path->getSubpath(i);
    const int n = sp->getNumPoints();
    if (n <= 0) continue;
    auto at = [&](int j, double* x, double* y) { state->transform(sp->getX(j), sp->getY(j), x, y); };
    double px, py;
    at(0, &px, &py);
    const double sx = px, sy = py;
    for (int j = 1; j < n;) {
      if (sp->getCurve(j) && j + 2 < n) {
        double x1, y1, x2, y2, x3, y3;
        at(j, &x1, &y1);
        at(j + 1, &x2, &y2);
        at(j + 2, &x3, &y3);
        // A curve as 16 lines.
        for (int k = 1; k <= 16; ++k) {
          const double t = k / 16.0, u = 1 - t;
          const double qx = u * u * u * px + 3 * u * u * t * x1 + 3 * u * t * t * x2 + t * t * t * x3;
          const double qy = u * u * u * py + 3 * u * u * t * y1 + 3 * u * t * t * y2 + t * t * t * y3;
          quad(px, py, qx, qy);
          px = qx, py = qy;
        }
        j += 3;
      } else {
        double x, y;
        at(j, &x, &y);
        quad(px, py, x, y);
        px = x, py = y;
        ++j;
      }
    }
    if (sp->isClosed()) quad(px, py, sx, sy);
  }
}

bool RecordsDev::Translucent(GfxState* state, GfxColorSpace* space, const GfxRGB& rgb, double opacity,
                             const std::vector<win::POINT>& pts, const std::vector<win::BYTE>& types, int mode,
                             win::RECT box) {
  // Only a plain colour at a constant opacity: blend modes, soft masks and patterns need the
  // rasteriser.
  if (state->getBlendMode() != gfxBlendNormal || current_.soft_mask) return false;
  if (!space || space->getMode() == csPattern) return false;
  box = WithinClip(state, box);
  if (box.right <= box.left || box.bottom <= box.top || pts.empty()) return true;  // nothing shows
  // The figure as the clip, and one pixel of its colour blended over its box at its
  // opacity: a few hundred bytes however large the figure.
  rec_.SaveDC();
  rec_.BeginPath();
  EmitPoints(pts, types);
  rec_.EndPath();
  SetFillMode(mode);
  rec_.SelectClipPath(win::RGN_AND);
  const std::uint32_t px =
      (std::uint32_t(colToByte(rgb.r)) << 16) | (std::uint32_t(colToByte(rgb.g)) << 8) | colToByte(rgb.b);
  const gdi::Dib one = gdi::EncodeDib(1, 1, std::vector<std::uint32_t>{px}, 24);
  win::BLENDFUNCTION bf{};
  bf.BlendOp = win::AC_SRC_OVER;
  bf.SourceConstantAlpha = static_cast<win::BYTE>(std::lround(std::clamp(opacity, 0.0, 1.0) * 255));
  rec_.DibAlphaBlend(box.left, box.top, box.right - box.left, box.bottom - box.top, one.ref(), 0, 0, 1, 1, bf);
  rec_.RestoreDC(-1);
  ForgetObjects();
  Spend(pts.size() * 5 + 400);
  return true;
}

void RecordsDev::clipToStrokePath(GfxState* state) {
  // The stroke's outline as the clip: the widened stroke path.
  Flush();
  if (!BuildPath(state)) return;
  SelectStrokePen(state);
  rec_.WidenPath();
  rec_.SelectClipPath(win::RGN_AND);
  Spend(64);
}

std::optional<win::RECT> RecordsDev::BoxOf(GfxState* state, double x0, double y0, double x1, double y1) const {
  double xs[4], ys[4];
  state->transform(x0, y0, &xs[0], &ys[0]);
  state->transform(x1, y0, &xs[1], &ys[1]);
  state->transform(x0, y1, &xs[2], &ys[2]);
  state->transform(x1, y1, &xs[3], &ys[3]);
  return win::RECT{
      Clamp32(std::floor(*std::min_element(xs, xs + 4))), Clamp32(std::floor(*std::min_element(ys, ys + 4))),
      Clamp32(std::ceil(*std::max_element(xs, xs + 4))), Clamp32(std::ceil(*std::max_element(ys, ys + 4)))};
}

win::RECT RecordsDev::PathBox(GfxState* state, double grow) const {
  const GfxPath* path = state->getPath();
  double l = 1e300, t = 1e300, r = -1e300, b = -1e300;
  for (int i = 0; path && i < path->getNumSubpaths(); ++i) {
    const GfxSubpath* sp = path->getSubpath(i);
    WidenByPoints(state, sp, &l, &t, &r, &b);
  }
  if (l > r) return win::RECT{0, 0, 0, 0};
  return win::RECT{Clamp32(std::floor(l - grow)), Clamp32(std::floor(t - grow)), Clamp32(std::ceil(r + grow)),
                   Clamp32(std::ceil(b + grow))};
}

win::RECT RecordsDev::StrokeBox(GfxState* state) const {
  return PathBox(state, state->getTransformedLineWidth() * std::max(1.0, state->getMiterLimit()) / 2 + 1);
}

void RecordsDev::Fill(GfxState* state, int mode) {
  neutralised_ = false;
  if (Hidden()) return Ink(state, PathBox(state, 1));
  Flush();
  if (NeedsPicture(state, state->getFillOpacity())) {
    std::vector<win::POINT> pts;
    std::vector<win::BYTE> types;
    PathPoints(state, &pts, &types);
    GfxRGB rgb;
    state->getFillRGB(&rgb);
    if (Translucent(state, state->getFillColorSpace(), rgb, state->getFillOpacity(), pts, types, mode,
                    PathBox(state, 1)))
      return;
    return Picture(state, PathBox(state, 1));
  }
  // Figures thinner than a pixel (the dots of a fine dotted rule) would each fill a whole
  // pixel, far darker than they are: their area is drawn as the rasteriser shows it.
  if (ThinFigures(state)) return Picture(state, PathBox(state, 1));
  if (!BuildPath(state)) return;
  SelectFillBrush(state);
  SetFillMode(mode);
  rec_.FillPath();
  Spend(64);
}

void RecordsDev::Clip(GfxState* state, int mode) {
  Flush();
  if (!BuildPath(state)) {
    rec_.IntersectClipRect(0, 0, 0, 0);
    return;
  }
  SetFillMode(mode);
  rec_.SelectClipPath(win::RGN_AND);
  Spend(64);
}

void RecordsDev::SetFillMode(int mode) {
  if (current_.fill_mode != mode) {
    rec_.SetPolyFillMode(mode);
    current_.fill_mode = mode;
  }
}

bool RecordsDev::ThinFigures(GfxState* state) const {
  const GfxPath* path = state->getPath();
  if (!path || path->getNumSubpaths() == 0) return false;
  bool any = false;
  for (int i = 0; i < path->getNumSubpaths(); ++i) {
    const GfxSubpath* sp = path->getSubpath(i);
    if (sp->getNumPoints() == 0) continue;
    double l = 1e300, t = 1e300, r = -1e300, b = -1e300;
    WidenByPoints(state, sp, &l, &t, &r, &b);
    if (std::min(r - l, b - t) >= 1) return false;
    // A figure with no area (a line given as a fill) draws nothing either way.
    any = any || (r - l > 0 && b - t > 0);
  }
  return any;
}

void RecordsDev::SelectFillBrush(GfxState* state) {
  gdi::Brush b = gdi::Brush::Solid(FillColour(state));
  if (!current_.brush || !(*current_.brush == b)) {
    rec_.SelectBrush(b);
    current_.brush = b;
  }
  // Fills draw no outline.
  gdi::Pen none;
  none.style = win::PS_NULL;
  if (!current_.pen || !(*current_.pen == none)) {
    rec_.SelectPen(none);
    current_.pen = none;
  }
}

void RecordsDev::SelectBrushNull() {
  gdi::Brush b = gdi::Brush::Null();
  if (!current_.brush || !(*current_.brush == b)) {
    rec_.SelectBrush(b);
    current_.brush = b;
  }
}

void RecordsDev::SelectStrokePen(GfxState* state) {
  GfxRGB rgb;
  state->getStrokeRGB(&rgb);
  gdi::Pen p;
  p.extended = true;
  p.color = Rgb(rgb);
  p.brush_style = win::BS_SOLID;
  const double w = state->getTransformedLineWidth();
  p.width = std::max<win::LONG>(1, Clamp32(w));
  // PDF's line caps (butt, round, square) and joins (miter, round, bevel) by their numbers;
  // any other number as the first.
  static constexpr win::UINT kCaps[] = {win::PS_ENDCAP_FLAT, win::PS_ENDCAP_ROUND, win::PS_ENDCAP_SQUARE};
  static constexpr win::UINT kJoins[] = {win::PS_JOIN_MITER, win::PS_JOIN_ROUND, win::PS_JOIN_BEVEL};
  const int cap = state->getLineCap(), join = state->getLineJoin();
  win::UINT style =
      win::PS_GEOMETRIC | kCaps[cap == 1 || cap == 2 ? cap : 0] | kJoins[join == 1 || join == 2 ? join : 0];
  double start = 0;
  const std::vector<double>& dash = state->getLineDash(&start);
  bool any = false;
  for (double d : dash) any = any || d > 0;
  if (any && dash.size() <= 16) {
    // Dash lengths in device pixels (the user-space lengths scaled as the width is).
    const double scale = state->getLineWidth() > 0 ? w / state->getLineWidth() : state->transformWidth(1);
    std::vector<win::DWORD> entries;
    for (std::size_t i = 0; i < (dash.size() % 2 ? 2 : 1); ++i)
      for (double d : dash) entries.push_back(static_cast<win::DWORD>(std::max<long>(1, std::lround(d * scale))));
    p.style_entries = std::move(entries);
    style |= win::PS_USERSTYLE;
  } else {
    style |= win::PS_SOLID;
  }
  p.style = style;
  if (!current_.pen || !(*current_.pen == p)) {
    rec_.SelectPen(p);
    current_.pen = p;
  }
  rec_.SetMiterLimit(static_cast<float>(std::max(1.0, state->getMiterLimit())));
}

void RecordsDev::PathPoints(GfxState* state, std::vector<win::POINT>* pts_out,
                            std::vector<win::BYTE>* types_out) const {
  const GfxPath* path = state->getPath();
  if (!path) return;
  std::vector<win::POINT>& pts = *pts_out;
  std::vector<win::BYTE>& types = *types_out;
  for (int i = 0; i < path->getNumSubpaths(); ++i) {
    const GfxSubpath* sp = path->getSubpath(i);
    const int n = sp->getNumPoints();
    if (n <= 0) continue;
    auto at = [&](int j) {
      double x, y;
      state->transform(sp->getX(j), sp->getY(j), &x, &y);
      return win::POINT{Clamp32(x), Clamp32(y)};
    };
    pts.push_back(at(0));
    types.push_back(win::PT_MOVETO);
    for (int j = 1; j < n;) {
      if (sp->getCurve(j) && j + 2 < n) {
        for (int k = 0; k < 3; ++k) {
          pts.push_back(at(j + k));
          types.push_back(win::PT_BEZIERTO);
        }
        j += 3;
      } else {
        pts.push_back(at(j));
        types.push_back(win::PT_LINETO);
        ++j;
      }
    }
    if (sp->isClosed()) types.back() |= win::PT_CLOSEFIGURE;
  }
}

bool RecordsDev::BuildPath(GfxState* state) {
  std::vector<win::POINT> pts;
  std::vector<win::BYTE> types;
  PathPoints(state, &pts, &types);
  if (pts.empty()) return false;
  rec_.BeginPath();
  EmitPoints(pts, types);
  rec_.EndPath();
  Spend(pts.size() * 5 + 40);
  return true;
}

void RecordsDev::EmitPoints(const std::vector<win::POINT>& pts, const std::vector<win::BYTE>& types) {
  // One PolyDraw per figure keeps each record small and the path exact.
  std::size_t i = 0;
  while (i < pts.size()) {
    std::size_t j = i + 1;
    while (j < pts.size() && (types[j] & ~win::PT_CLOSEFIGURE) != win::PT_MOVETO) ++j;
    rec_.PolyDraw(std::span<const win::POINT>(pts.data() + i, j - i),
                  std::span<const win::BYTE>(types.data() + i, j - i));
    i = j;
  }
}

}  // namespace zv::capture::pdfrecords
