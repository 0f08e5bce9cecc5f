// The cairo-backed device context: bitmaps and raster operations. Ternary raster operations
// are computed per pixel on the image surface (pattern, source, destination), exactly.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <utility>

#include "platform/gdi/internal/cairo_dc.h"
#include "platform/gdi/internal/round.h"

namespace zv::gdi::detail {

namespace {

// Applies a ternary raster operation (the operation index, bits P S D) to 24-bit values.
inline std::uint32_t Rop3(unsigned code, std::uint32_t P, std::uint32_t S, std::uint32_t D) {
  switch (code) {
    case 0x00:
      return 0;
    case 0xFF:
      return 0xFFFFFF;
    case 0xCC:
      return S;
    case 0xF0:
      return P;
    case 0x88:
      return S & D;
    case 0xEE:
      return S | D;
    case 0x66:
      return S ^ D;
    case 0x55:
      return ~D & 0xFFFFFF;
    case 0x5A:
      return P ^ D;
    case 0x33:
      return ~S & 0xFFFFFF;
    case 0xAA:
      return D;
    default:
      break;
  }
  std::uint32_t r = 0;
  for (unsigned i = 0; i < 8; ++i) {
    if (!((code >> i) & 1)) continue;
    r |= ((i & 4) ? P : ~P) & ((i & 2) ? S : ~S) & ((i & 1) ? D : ~D);
  }
  return r & 0xFFFFFF;
}

// An operation depends on S (or P) exactly when some pair of truth-table bits differing only in
// S (or P) differ: shift the table by that input's weight and compare.
bool UsesSource(unsigned code) { return ((code >> 2) ^ code) & 0x33; }
bool UsesPattern(unsigned code) { return ((code >> 4) ^ code) & 0x0F; }

// A bitmap of more pixels is drawn a band of rows at a time (64 MiB decoded), each band of
// 4 M pixels (16 MiB decoded).
constexpr std::int64_t kBandedPixels = std::int64_t(1) << 24;
constexpr std::int64_t kBandPixels = std::int64_t(1) << 22;

}  // namespace

// Saves the cairo state and sets it up for drawing into the logical rectangle (x, y, cx,
// cy): the device clip applied, the world transform in force, and the rectangle as a clip.
// The caller draws in logical units and ends with cairo_restore.
void CairoDC::BeginLogicalRect(int x, int y, int cx, int cy) {
  XFORM m = Total();
  cairo_save(cr_);
  cairo_identity_matrix(cr_);
  ApplyClip(cr_, nullptr);
  cairo_matrix_t cm;
  cairo_matrix_init(&cm, m.eM11, m.eM12, m.eM21, m.eM22, m.eDx - origin_x_, m.eDy - origin_y_);
  cairo_transform(cr_, &cm);
  cairo_rectangle(cr_, x, y, cx, cy);
  cairo_clip(cr_);
}

std::uint32_t CairoDC::BrushPixel(const Brush& b, int x, int y) const {
  const std::uint32_t fg = ToRgb(b.color);
  if (b.style == win::BS_SOLID) return fg;
  if (b.style == win::BS_HATCHED) {
    // Hatches are 8 x 8 cells of device pixels whatever the resolution, anchored at the brush
    // origin, so a hatch lines up across shapes as it does on Windows.
    int hx = (x - s_.brush_org.x) & 7, hy = (y - s_.brush_org.y) & 7;
    bool on = false;
    switch (b.hatch) {
      case win::HS_HORIZONTAL:
        on = hy == 7;
        break;
      case win::HS_VERTICAL:
        on = hx == 7;
        break;
      case win::HS_FDIAGONAL:
        on = hx == hy;
        break;
      case win::HS_BDIAGONAL:
        on = hx == 7 - hy;
        break;
      case win::HS_CROSS:
        on = hx == 7 || hy == 7;
        break;
      case win::HS_DIAGCROSS:
        on = hx == hy || hx == 7 - hy;
        break;
      default:
        break;
    }
    return on ? fg : ToRgb(s_.bk_color);
  }
  return fg;
}

std::optional<DecodedDib> CairoDC::SourceOf(const DeviceContext* src, int xs, int ys, int cxs, int cys, int* sx,
                                            int* sy) const {
  if (!src) return std::nullopt;
  POINT pts[2] = {{xs, ys}, {xs + cxs, ys + cys}};
  src->LPtoDP(pts);
  RECT r{std::min(pts[0].x, pts[1].x), std::min(pts[0].y, pts[1].y), std::max(pts[0].x, pts[1].x),
         std::max(pts[0].y, pts[1].y)};
  if (r.right - r.left <= 0 || r.bottom - r.top <= 0) return std::nullopt;
  std::optional<Dib> d = src->ReadPixels(r);
  if (!d) return std::nullopt;
  auto dec = DecodeDib(d->ref());
  if (!dec.ok()) return std::nullopt;
  *sx = pts[0].x <= pts[1].x ? 0 : r.right - r.left;
  *sy = pts[0].y <= pts[1].y ? 0 : r.bottom - r.top;
  return std::move(*dec);
}

std::optional<Dib> CairoDC::ReadPixels(const RECT& rect) const {
  if (!draw_ || vector_) return std::nullopt;
  int l = std::max(rect.left, origin_x_), t = std::max(rect.top, origin_y_);
  int r = std::min(rect.right, origin_x_ + surf_w_), b = std::min(rect.bottom, origin_y_ + surf_h_);
  int w = rect.right - rect.left, h = rect.bottom - rect.top;
  // At most 2^27 pixels (512 MiB decoded): a read-back this large is a damaged blit, not a picture.
  if (w <= 0 || h <= 0 || std::int64_t(w) * h > (std::int64_t(1) << 27)) return std::nullopt;
  std::vector<std::uint32_t> px(size_t(w) * h, 0);
  Flush();
  const std::uint32_t* src = Pixels();
  const int stride = Stride();
  for (int y = t; y < b; ++y) {
    for (int x = l; x < r; ++x) {
      px[size_t(y - rect.top) * w + (x - rect.left)] = src[size_t(y - origin_y_) * stride + (x - origin_x_)] & 0xFFFFFF;
    }
  }
  return EncodeDib(w, h, px, 24);
}

// The core of every blit: destination (x, y, cx, cy) in logical units; source rectangle in
// pixels of `src` (top row first); nearest-pixel stretching; mirror for negative extents.
bool CairoDC::Blit(int x, int y, int cx, int cy, const DecodedDib* src, int xs, int ys, int cxs, int cys,
                   win::DWORD rop, const DecodedDib* mask, int xm, int ym, win::DWORD rop_back) {
  const unsigned code = (rop >> 16) & 0xFF;
  const unsigned code_back = (rop_back >> 16) & 0xFF;
  const bool need_src = UsesSource(code) || (mask && UsesSource(code_back));
  const bool need_pat = UsesPattern(code) || (mask && UsesPattern(code_back));
  if (need_src && !src) return false;
  if (need_pat && s_.brush.style == win::BS_NULL) return true;  // nothing to paint with
  if (s_.path_open || !draw_) return true;
  if (cx == 0 || cy == 0) return true;
  if (need_src && (cxs == 0 || cys == 0)) return true;

  if (!AxisAligned() || vector_) {
    // Rotated or sheared destinations, and vector surfaces: the source (or the pattern) is
    // drawn through cairo, as a copy.
    Path p;
    AddRectPath(p, x, y, double(x) + cx, double(y) + cy);
    if (!need_src) {
      Brush b = s_.brush;
      if (code == 0x00) b = Brush::Solid(0);
      if (code == 0xFF) b = Brush::Solid(0xFFFFFF);
      int rop2 = std::exchange(s_.rop2, win::R2_COPYPEN);
      Render(p, true, &b, nullptr);
      s_.rop2 = rop2;
      return true;
    }
    PaintThroughCairo(*src, false, x, y, cx, cy, xs, ys, cxs, cys, 1.0);
    return true;
  }

  double d0x, d0y, d1x, d1y;
  Xf(x, y, &d0x, &d0y);
  Xf(double(x) + cx, double(y) + cy, &d1x, &d1y);
  int l = RoundI(std::min(d0x, d1x)), r = RoundI(std::max(d0x, d1x));
  int t = RoundI(std::min(d0y, d1y)), b = RoundI(std::max(d0y, d1y));
  if (r <= l || b <= t) return true;
  Region area(RECT{l, t, r, b});
  area.Combine(EffectiveClip(), win::RGN_AND);
  area.Combine(SurfaceRegion(), win::RGN_AND);
  if (area.IsEmpty()) return true;

  // Solid fills: one colour for every pixel, whatever the destination holds.
  if (!need_src && !mask && (code == 0x00 || code == 0xFF || (code == 0xF0 && s_.brush.style == win::BS_SOLID))) {
    FillSolid(area, code == 0x00 ? 0u : code == 0xFF ? 0xFFFFFFu : ToRgb(s_.brush.color));
    return true;
  }

  // Reductions: the eliminated pixels are combined first, as the stretch mode says; only
  // those of the visible part of the destination.
  const RECT vis = area.Box();
  std::optional<DecodedDib> reduced;
  if (need_src && !mask) {
    const SeenSpan seen_x{double(l), double(r), vis.left, vis.right, (d1x < d0x) != (cxs < 0)};
    const SeenSpan seen_y{double(t), double(b), vis.top, vis.bottom, (d1y < d0y) != (cys < 0)};
    reduced = Reduce(*src, xs, ys, cxs, cys, double(r) - l, double(b) - t, &seen_x, &seen_y);
    if (reduced) {
      src = &*reduced;
      xs = cxs < 0 ? reduced->width : 0;
      ys = cys < 0 ? reduced->height : 0;
      cxs = cxs < 0 ? -reduced->width : reduced->width;
      cys = cys < 0 ? -reduced->height : reduced->height;
    }
  }

  // Source column/row of each visible destination column/row (-1: outside the source).
  const bool mirror_x = (d1x < d0x) != (cxs < 0), mirror_y = (d1y < d0y) != (cys < 0);
  const std::int64_t acxs = std::llabs(std::int64_t(cxs)), acys = std::llabs(std::int64_t(cys));
  const std::int64_t sx0 = cxs < 0 ? std::int64_t(xs) + cxs : xs, sy0 = cys < 0 ? std::int64_t(ys) + cys : ys;
  std::vector<int> col(size_t(vis.right - vis.left), -1), row(size_t(vis.bottom - vis.top), -1);
  if (src) {
    for (int i = vis.left; i < vis.right; ++i) {
      double f = (double(i) - l + 0.5) / (double(r) - l);
      std::int64_t k = std::min(std::int64_t(f * double(acxs)), acxs - 1);
      std::int64_t sx = sx0 + (mirror_x ? acxs - 1 - k : k);
      col[i - vis.left] = (sx >= 0 && sx < src->width) ? int(sx) : -1;
    }
    for (int i = vis.top; i < vis.bottom; ++i) {
      double f = (double(i) - t + 0.5) / (double(b) - t);
      std::int64_t k = std::min(std::int64_t(f * double(acys)), acys - 1);
      std::int64_t sy = sy0 + (mirror_y ? acys - 1 - k : k);
      row[i - vis.top] = (sy >= 0 && sy < src->height) ? int(sy) : -1;
    }
  }
  Flush();
  std::uint32_t* dst = Pixels();
  const int stride = Stride();
  const bool solid = s_.brush.style == win::BS_SOLID;
  const std::uint32_t solid_p = ToRgb(s_.brush.color);
  std::optional<DecodedDib> pat;
  if (need_pat && s_.brush.pattern && s_.brush.style != win::BS_HATCHED && s_.brush.style != win::BS_SOLID) {
    auto d = DecodeDib(s_.brush.pattern->ref());
    if (d.ok()) pat = std::move(*d);
  }
  auto pattern_at = [&](int px, int py) -> std::uint32_t {
    if (solid) return solid_p;
    if (pat) {
      int u = ((px - s_.brush_org.x) % pat->width + pat->width) % pat->width;
      int v = ((py - s_.brush_org.y) % pat->height + pat->height) % pat->height;
      return pat->pixels[size_t(v) * pat->width + u] & 0xFFFFFF;
    }
    return BrushPixel(s_.brush, px, py);
  };
  // The copies and the AND, OR and XOR with the source that pictures are drawn with (a
  // transparent picture is its mask ANDed, then its pixels ORed): one tight loop per row.
  if (need_src && !need_pat && !mask && (code == 0xCC || code == 0x88 || code == 0xEE || code == 0x66)) {
    for (const RECT& q : area.Rects()) {
      for (int py = q.top; py < q.bottom; ++py) {
        const int sr = row[py - vis.top];
        if (sr < 0) continue;
        const std::uint32_t* srow = src->pixels.data() + size_t(sr) * src->width;
        std::uint32_t* drow = dst + size_t(py - origin_y_) * stride - origin_x_;
        const int* cols = col.data() - vis.left;
        auto each = [&](auto combine) {
          for (int px = q.left; px < q.right; ++px) {
            const int sc = cols[px];
            if (sc >= 0) drow[px] = 0xFF000000u | (combine(srow[sc], drow[px]) & 0xFFFFFF);
          }
        };
        switch (code) {
          case 0xCC:
            each([](std::uint32_t S, std::uint32_t) { return S; });
            break;
          case 0x88:
            each([](std::uint32_t S, std::uint32_t D) { return S & D; });
            break;
          case 0xEE:
            each([](std::uint32_t S, std::uint32_t D) { return S | D; });
            break;
          default:
            each([](std::uint32_t S, std::uint32_t D) { return S ^ D; });
            break;
        }
      }
      MarkDirty(q);
    }
    return true;
  }
  for (const RECT& q : area.Rects()) {
    for (int py = q.top; py < q.bottom; ++py) {
      int sr = src ? row[py - vis.top] : 0;
      if (need_src && sr < 0) continue;
      std::uint32_t* drow = dst + size_t(py - origin_y_) * stride;
      for (int px = q.left; px < q.right; ++px) {
        std::uint32_t S = 0;
        if (need_src) {
          int sc = col[px - vis.left];
          if (sc < 0) continue;
          S = src->pixels[size_t(sr) * src->width + sc] & 0xFFFFFF;
        }
        unsigned c = code;
        if (mask) {
          std::int64_t mx = std::int64_t(xm) + (px - l), my = std::int64_t(ym) + (py - t);
          bool fore = mx >= 0 && my >= 0 && mx < mask->width && my < mask->height &&
                      (mask->pixels[size_t(my) * mask->width + mx] & 0xFFFFFF) != 0;
          // A mask bit of 1 selects the foreground operation, 0 (or outside the mask) the background one.
          if (!fore) c = code_back;
        }
        std::uint32_t P = need_pat ? pattern_at(px, py) : 0;
        std::uint32_t& D = drow[px - origin_x_];
        D = 0xFF000000u | Rop3(c, P, S, D & 0xFFFFFF);
      }
    }
    MarkDirty(q);
  }
  return true;
}

void CairoDC::FillSolid(const Region& area, std::uint32_t rgb) {
  Flush();
  std::uint32_t* dst = Pixels();
  const int stride = Stride();
  const std::uint32_t v = 0xFF000000u | rgb;
  // White (and any colour whose four bytes agree) is a plain memset.
  const bool bytes_alike = (v & 0xFF) == ((v >> 8) & 0xFF) && (v & 0xFF) == ((v >> 16) & 0xFF) && (v & 0xFF) == 0xFF;
  for (const RECT& q : area.Rects()) {
    const size_t w = size_t(q.right - q.left);
    std::uint32_t* row = dst + size_t(q.top - origin_y_) * stride + (q.left - origin_x_);
    if (w == size_t(stride) && bytes_alike) {
      std::memset(row, 0xFF, w * 4 * size_t(q.bottom - q.top));
    } else if (bytes_alike) {
      for (int y = q.top; y < q.bottom; ++y, row += stride) std::memset(row, 0xFF, w * 4);
    } else {
      // The first row value by value, the others copied from it (memcpy runs at memset speed).
      const std::uint32_t* first = row;
      std::fill_n(row, w, v);
      row += stride;
      for (int y = q.top + 1; y < q.bottom; ++y, row += stride) std::memcpy(row, first, w * 4);
    }
    MarkDirty(q);
  }
}

std::optional<DecodedDib> CairoDC::Reduce(const DecodedDib& src, int xs, int ys, int cxs, int cys, double dw,
                                          double dh, const SeenSpan* seen_x, const SeenSpan* seen_y) const {
  const int mode = s_.stretch_mode;
  if (mode != win::BLACKONWHITE && mode != win::WHITEONBLACK && mode != win::HALFTONE) return std::nullopt;
  const std::int64_t acx = std::llabs(std::int64_t(cxs)), acy = std::llabs(std::int64_t(cys));
  const std::int64_t x0 = cxs < 0 ? std::int64_t(xs) + cxs : xs, y0 = cys < 0 ? std::int64_t(ys) + cys : ys;
  // Pixels outside the picture are not there to combine: such rectangles are sampled.
  if (acx == 0 || acy == 0 || x0 < 0 || y0 < 0 || x0 + acx > src.width || y0 + acy > src.height) return std::nullopt;
  dw = std::fabs(dw);
  dh = std::fabs(dh);
  const std::int64_t nw = dw < double(acx) ? std::max<std::int64_t>(1, std::llround(dw)) : acx;
  const std::int64_t nh = dh < double(acy) ? std::max<std::int64_t>(1, std::llround(dh)) : acy;
  if (nw >= acx && nh >= acy) return std::nullopt;
  // Source span [start[i], start[i + 1]) of each reduced column / row.
  auto spans = [](std::int64_t from, std::int64_t to) {
    std::vector<std::int64_t> start(size_t(to) + 1);
    for (std::int64_t i = 0; i <= to; ++i) start[size_t(i)] = i * from / to;
    return start;
  };
  const std::vector<std::int64_t> cs = spans(acx, nw), rs = spans(acy, nh);
  // The reduced columns [i0, i1) and rows [j0, j1) that the seen destination pixels sample,
  // found as the blit samples them.
  auto seen = [](const SeenSpan* s, std::int64_t n, std::int64_t* lo, std::int64_t* hi) {
    *lo = 0;
    *hi = n;
    if (!s || s->last <= s->first || !(s->to > s->from)) return;
    auto k = [&](int i) {
      const double f = (double(i) - s->from + 0.5) / (s->to - s->from);
      return std::clamp<std::int64_t>(std::int64_t(f * double(n)), 0, n - 1);
    };
    std::int64_t a = k(s->first), b = k(s->last - 1);
    if (s->mirror) {
      a = n - 1 - a;
      b = n - 1 - b;
    }
    *lo = std::min(a, b);
    *hi = std::max(a, b) + 1;
  };
  std::int64_t i0, i1, j0, j1;
  seen(seen_x, nw, &i0, &i1);
  seen(seen_y, nh, &j0, &j1);
  DecodedDib out;
  out.width = int(nw);
  out.height = int(nh);
  out.pixels.resize(size_t(nw * nh));
  // Each block of rows is first combined down the columns (a straight pass over the rows),
  // then each run of columns across.
  const size_t n = size_t(acx);
  // The source columns [c0, c1) that the seen reduced columns combine.
  const size_t c0 = size_t(cs[size_t(i0)]), c1 = size_t(cs[size_t(i1)]);
  if (mode == win::HALFTONE) {
    // Column sums of a block: red and blue packed in one 32-bit value (16 bits each, room for
    // 257 rows), green apart; taller blocks are summed in 64 bits per channel.
    std::vector<double> inv_w(static_cast<size_t>(nw));
    for (std::int64_t i = 0; i < nw; ++i) inv_w[size_t(i)] = 1.0 / double(cs[size_t(i) + 1] - cs[size_t(i)]);
    std::vector<std::uint32_t> rb(n), gs(n);
    std::vector<std::uint64_t> r(n), g(n), b(n);
    for (std::int64_t j = j0; j < j1; ++j) {
      const std::int64_t rows = rs[size_t(j) + 1] - rs[size_t(j)];
      const bool packed = rows <= 257;
      if (packed) {
        std::fill(rb.begin() + c0, rb.begin() + c1, 0u);
        std::fill(gs.begin() + c0, gs.begin() + c1, 0u);
      } else {
        std::fill(r.begin() + c0, r.begin() + c1, 0u);
        std::fill(g.begin() + c0, g.begin() + c1, 0u);
        std::fill(b.begin() + c0, b.begin() + c1, 0u);
      }
      for (std::int64_t y = rs[size_t(j)]; y < rs[size_t(j) + 1]; ++y) {
        const std::uint32_t* row = src.pixels.data() + size_t(y0 + y) * src.width + x0;
        if (packed) {
          std::uint32_t* prb = rb.data();
          std::uint32_t* pg = gs.data();
          for (size_t x = c0; x < c1; ++x) {
            prb[x] += row[x] & 0xFF00FFu;
            pg[x] += (row[x] >> 8) & 0xFFu;
          }
        } else {
          for (size_t x = c0; x < c1; ++x) {
            const std::uint32_t v = row[x];
            r[x] += (v >> 16) & 0xFF;
            g[x] += (v >> 8) & 0xFF;
            b[x] += v & 0xFF;
          }
        }
      }
      const double inv_h = 1.0 / double(rows);
      for (std::int64_t i = i0; i < i1; ++i) {
        std::uint64_t sr = 0, sg = 0, sb = 0;
        for (std::int64_t x = cs[size_t(i)]; x < cs[size_t(i) + 1]; ++x) {
          if (packed) {
            sr += rb[size_t(x)] >> 16;
            sb += rb[size_t(x)] & 0xFFFF;
            sg += gs[size_t(x)];
          } else {
            sr += r[size_t(x)];
            sg += g[size_t(x)];
            sb += b[size_t(x)];
          }
        }
        // A multiplication by the reciprocal: divisions per pixel would cost more than the
        // rest of the reduction.
        const double inv = inv_h * inv_w[size_t(i)];
        auto avg = [inv](std::uint64_t sum) {
          return std::min<std::uint32_t>(255, std::uint32_t(double(sum) * inv + 0.5));
        };
        out.pixels[size_t(j * nw + i)] = avg(sr) << 16 | avg(sg) << 8 | avg(sb);
      }
    }
    return out;
  }
  // Black-on-white keeps the dark pixels (AND), white-on-black the light ones (OR): a thin line
  // survives a reduction in the colour the mode favours.
  const bool use_and = mode == win::BLACKONWHITE;
  const std::uint32_t seed = use_and ? 0xFFFFFFu : 0u;
  std::vector<std::uint32_t> acc(n);
  for (std::int64_t j = j0; j < j1; ++j) {
    std::fill(acc.begin() + c0, acc.begin() + c1, seed);
    for (std::int64_t y = rs[size_t(j)]; y < rs[size_t(j) + 1]; ++y) {
      const std::uint32_t* row = src.pixels.data() + size_t(y0 + y) * src.width + x0;
      if (use_and) {
        for (size_t x = c0; x < c1; ++x) acc[x] &= row[x];
      } else {
        for (size_t x = c0; x < c1; ++x) acc[x] |= row[x];
      }
    }
    for (std::int64_t i = i0; i < i1; ++i) {
      std::uint32_t v = seed;
      for (std::int64_t x = cs[size_t(i)]; x < cs[size_t(i) + 1]; ++x)
        v = use_and ? (v & acc[size_t(x)]) : (v | acc[size_t(x)]);
      out.pixels[size_t(j * nw + i)] = v & 0xFFFFFF;
    }
  }
  return out;
}

void CairoDC::PaintThroughCairo(const DecodedDib& src_in, bool with_alpha, int x, int y, int cx, int cy, int xs, int ys,
                                int cxs, int cys, double alpha) {
  // A reduction on the device combines the eliminated pixels as the stretch mode says.
  std::optional<DecodedDib> reduced;
  if (!with_alpha) {
    const XFORM t = Total();
    reduced = Reduce(src_in, xs, ys, cxs, cys, std::fabs(double(cx)) * std::hypot(t.eM11, t.eM12),
                     std::fabs(double(cy)) * std::hypot(t.eM21, t.eM22));
    if (reduced) {
      xs = cxs < 0 ? reduced->width : 0;
      ys = cys < 0 ? reduced->height : 0;
      cxs = cxs < 0 ? -reduced->width : reduced->width;
      cys = cys < 0 ? -reduced->height : reduced->height;
    }
  }
  const DecodedDib& src = reduced ? *reduced : src_in;
  cairo_surface_t* img = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, src.width, src.height);
  cairo_surface_flush(img);
  auto* ip = reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(img));
  const int istride = cairo_image_surface_get_stride(img) / 4;
  for (int row = 0; row < src.height; ++row) {
    for (int col = 0; col < src.width; ++col) {
      std::uint32_t v = src.pixels[size_t(row) * src.width + col];
      ip[size_t(row) * istride + col] = with_alpha ? v : (v | 0xFF000000u);
    }
  }
  cairo_surface_mark_dirty(img);
  BeginLogicalRect(x, y, cx, cy);
  cairo_translate(cr_, x, y);
  cairo_scale(cr_, double(cx) / cxs, double(cy) / cys);
  cairo_set_source_surface(cr_, img, -xs, -ys);
  cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_NEAREST);
  cairo_paint_with_alpha(cr_, alpha);
  cairo_restore(cr_);
  cairo_surface_destroy(img);
}

bool CairoDC::Blend(int x, int y, int cx, int cy, const DecodedDib& src, int xs, int ys, int cxs, int cys,
                    win::BLENDFUNCTION blend) {
  if (s_.path_open || !draw_ || cx <= 0 || cy <= 0 || cxs <= 0 || cys <= 0) return cx >= 0 && cy >= 0;
  if (vector_) {
    // Through cairo: premultiplied source over the page, times the constant alpha.
    const bool per_pixel = (blend.AlphaFormat & win::AC_SRC_ALPHA) && src.has_alpha;
    PaintThroughCairo(src, per_pixel, x, y, cx, cy, xs, ys, cxs, cys, blend.SourceConstantAlpha / 255.0);
    return true;
  }
  double d0x, d0y, d1x, d1y;
  Xf(x, y, &d0x, &d0y);
  Xf(double(x) + cx, double(y) + cy, &d1x, &d1y);
  int l = RoundI(std::min(d0x, d1x)), r = RoundI(std::max(d0x, d1x));
  int t = RoundI(std::min(d0y, d1y)), b = RoundI(std::max(d0y, d1y));
  if (r <= l || b <= t) return true;
  Region area(RECT{l, t, r, b});
  area.Combine(EffectiveClip(), win::RGN_AND);
  area.Combine(SurfaceRegion(), win::RGN_AND);
  Flush();
  std::uint32_t* dst = Pixels();
  const int stride = Stride();
  const bool per_pixel = (blend.AlphaFormat & win::AC_SRC_ALPHA) && src.has_alpha;
  const unsigned ca = blend.SourceConstantAlpha;
  for (const RECT& q : area.Rects()) {
    for (int py = q.top; py < q.bottom; ++py) {
      std::int64_t sy =
          std::int64_t(ys) + std::min(std::int64_t((py - t + 0.5) / (b - t) * cys), std::int64_t(cys) - 1);
      if (sy < 0 || sy >= src.height) continue;
      for (int px = q.left; px < q.right; ++px) {
        std::int64_t sx =
            std::int64_t(xs) + std::min(std::int64_t((px - l + 0.5) / (r - l) * cxs), std::int64_t(cxs) - 1);
        if (sx < 0 || sx >= src.width) continue;
        std::uint32_t S = src.pixels[size_t(sy) * src.width + sx];
        std::uint32_t& D = dst[size_t(py - origin_y_) * stride + (px - origin_x_)];
        std::uint32_t out = 0;
        if (per_pixel) {
          // Premultiplied source: D = S * ca + D * (1 - Sa * ca).
          unsigned sa = ((S >> 24) * ca + 127) / 255;
          for (int sh = 0; sh <= 16; sh += 8) {
            unsigned s = (((S >> sh) & 0xFF) * ca + 127) / 255;
            unsigned d = (D >> sh) & 0xFF;
            unsigned v = std::min(255u, s + (d * (255 - sa) + 127) / 255);
            out |= v << sh;
          }
        } else {
          for (int sh = 0; sh <= 16; sh += 8) {
            unsigned s = (S >> sh) & 0xFF, d = (D >> sh) & 0xFF;
            out |= ((s * ca + d * (255 - ca) + 127) / 255) << sh;
          }
        }
        D = 0xFF000000u | out;
      }
    }
    MarkDirty(q);
  }
  return true;
}

bool CairoDC::PatBlt(int x, int y, int cx, int cy, win::DWORD rop) {
  if (UsesSource((rop >> 16) & 0xFF)) return false;
  return Blit(x, y, cx, cy, nullptr, 0, 0, 0, 0, rop, nullptr, 0, 0, 0);
}

bool CairoDC::BitBlt(int x, int y, int cx, int cy, const DeviceContext* src, int xs, int ys, win::DWORD rop) {
  return StretchBlt(x, y, cx, cy, src, xs, ys, cx, cy, rop);
}

bool CairoDC::StretchBlt(int x, int y, int cx, int cy, const DeviceContext* src, int xs, int ys, int cxs, int cys,
                         win::DWORD rop) {
  if (!UsesSource((rop >> 16) & 0xFF)) return PatBlt(x, y, cx, cy, rop);
  int sx = 0, sy = 0;
  auto s = SourceOf(src, xs, ys, cxs, cys, &sx, &sy);
  if (!s) return false;
  int w = s->width, h = s->height;
  return Blit(x, y, cx, cy, &*s, sx == 0 ? 0 : w, sy == 0 ? 0 : h, sx == 0 ? w : -w, sy == 0 ? h : -h, rop, nullptr, 0,
              0, 0);
}

bool CairoDC::StretchDIBits(int x, int y, int cx, int cy, int xs, int ys, int cxs, int cys, const DibRef& dib,
                            win::DWORD rop) {
  if (!UsesSource((rop >> 16) & 0xFF)) return PatBlt(x, y, cx, cy, rop);
  auto hdr = win::LoadRecord<win::BITMAPINFOHEADER>(dib.info);
  if (!hdr || hdr->biWidth <= 0 || hdr->biHeight == 0 || hdr->biHeight == INT32_MIN) return false;
  const std::int64_t full_h = std::abs(std::int64_t(hdr->biHeight));
  if (std::int64_t(hdr->biWidth) * full_h > kBandedPixels &&
      (hdr->biCompression == win::BI_RGB || hdr->biCompression == win::BI_BITFIELDS)) {
    const std::int64_t top = hdr->biHeight > 0 ? full_h - ys - cys : ys;
    return BandedStretch(x, y, cx, cy, xs, int(std::clamp<std::int64_t>(top, INT32_MIN, INT32_MAX)), cxs, cys, dib,
                         rop);
  }
  auto d = DecodeDib(dib);
  if (!d.ok()) return false;
  // For bottom-up bitmaps the source origin is the lower-left corner.
  int top =
      int(std::clamp<std::int64_t>(hdr->biHeight > 0 ? std::int64_t(d->height) - ys - cys : ys, INT32_MIN, INT32_MAX));
  return Blit(x, y, cx, cy, &*d, xs, top, cxs, cys, rop, nullptr, 0, 0, 0);
}

bool CairoDC::SetDIBitsToDevice(int x, int y, int cx, int cy, int xs, int ys, win::UINT start, win::UINT lines,
                                const DibRef& dib) {
  auto hdr = win::LoadRecord<win::BITMAPINFOHEADER>(dib.info);
  if (!hdr) return false;
  if (lines == 0 || cx <= 0 || cy <= 0) return true;
  if (hdr->biHeight == INT32_MIN) return false;
  const std::int64_t full = std::abs(std::int64_t(hdr->biHeight));
  if (start >= full) return true;
  lines = win::UINT(std::min<std::int64_t>(lines, full - start));
  // Decode only the scan lines given.
  std::vector<std::uint8_t> info(dib.info.begin(), dib.info.end());
  win::BITMAPINFOHEADER h2 = *hdr;
  h2.biHeight = hdr->biHeight > 0 ? win::LONG(lines) : -win::LONG(lines);
  h2.biSizeImage = 0;
  std::memcpy(info.data(), &h2, sizeof(h2));
  auto d = DecodeDib(DibRef{info, dib.bits, dib.usage});
  if (!d.ok()) return false;
  if (hdr->biHeight > 0) {
    // Bottom-up: scan line `start` is the bottom row of the part given.
    int top = int(std::clamp<std::int64_t>(std::int64_t(start) + lines - ys - cy, INT32_MIN, INT32_MAX));
    return Blit(x, y, cx, cy, &*d, xs, top, cx, cy, win::SRCCOPY, nullptr, 0, 0, 0);
  }
  return Blit(x, y, cx, cy, &*d, xs, int(std::clamp<std::int64_t>(ys - std::int64_t(start), INT32_MIN, INT32_MAX)), cx,
              cy, win::SRCCOPY, nullptr, 0, 0, 0);
}

bool CairoDC::MaskBlt(int x, int y, int cx, int cy, const DeviceContext* src, int xs, int ys, const DibRef* mask,
                      int xm, int ym, win::DWORD rop4) {
  std::optional<DecodedDib> s;
  int sx = 0, sy = 0;
  if (src) s = SourceOf(src, xs, ys, cx, cy, &sx, &sy);
  std::optional<DecodedDib> m;
  if (mask) {
    auto d = DecodeDib(*mask);
    if (!d.ok()) return false;
    m = std::move(*d);
  }
  // The top byte of the quaternary operation is the background code; shifted into the place the
  // operation index takes in a ternary code it becomes a raster operation like the foreground's.
  win::DWORD fore = rop4 & 0x00FFFFFF, back = ((rop4 >> 8) & 0x00FF0000);
  if (!m) back = fore;
  return Blit(x, y, cx, cy, s ? &*s : nullptr, 0, 0, cx, cy, fore, m ? &*m : nullptr, xm, ym, back);
}

bool CairoDC::AlphaBlend(int x, int y, int cx, int cy, const DeviceContext* src, int xs, int ys, int cxs, int cys,
                         win::BLENDFUNCTION blend) {
  int sx = 0, sy = 0;
  auto s = SourceOf(src, xs, ys, cxs, cys, &sx, &sy);
  if (!s) return false;
  return Blend(x, y, cx, cy, *s, 0, 0, s->width, s->height, blend);
}

bool CairoDC::DibBlt(int x, int y, int cx, int cy, const DibRef* src, int xs, int ys, int cxs, int cys,
                     win::DWORD rop) {
  if (!src || !UsesSource((rop >> 16) & 0xFF)) return PatBlt(x, y, cx, cy, rop);
  auto d = DecodeDib(*src);
  if (!d.ok()) return false;
  return Blit(x, y, cx, cy, &*d, xs, ys, cxs, cys, rop, nullptr, 0, 0, 0);
}

bool CairoDC::DibMaskBlt(int x, int y, int cx, int cy, const DibRef* src, int xs, int ys, const DibRef* mask, int xm,
                         int ym, win::DWORD rop4) {
  std::optional<DecodedDib> s, m;
  if (src) {
    auto d = DecodeDib(*src);
    if (!d.ok()) return false;
    s = std::move(*d);
  }
  if (mask) {
    auto d = DecodeDib(*mask);
    if (!d.ok()) return false;
    m = std::move(*d);
  }
  win::DWORD fore = rop4 & 0x00FFFFFF, back = ((rop4 >> 8) & 0x00FF0000);
  if (!m) back = fore;
  return Blit(x, y, cx, cy, s ? &*s : nullptr, xs, ys, cx, cy, fore, m ? &*m : nullptr, xm, ym, back);
}

bool CairoDC::DibAlphaBlend(int x, int y, int cx, int cy, const DibRef& src, int xs, int ys, int cxs, int cys,
                            win::BLENDFUNCTION blend) {
  auto d = DecodeDib(src);
  if (!d.ok()) return false;
  return Blend(x, y, cx, cy, *d, xs, ys, cxs, cys, blend);
}

}  // namespace zv::gdi::detail

namespace zv::gdi::detail {

bool CairoDC::BandedStretch(int x, int y, int cx, int cy, int xs, int top, int cxs, int cys, const DibRef& dib,
                            win::DWORD rop) {
  if (s_.path_open || !draw_ || cx == 0 || cy == 0 || cxs == 0 || cys == 0) return true;
  auto hdr = win::LoadRecord<win::BITMAPINFOHEADER>(dib.info);
  const std::int64_t w = hdr->biWidth, h = std::abs(std::int64_t(hdr->biHeight));
  const std::int64_t acx = std::llabs(std::int64_t(cxs)), acy = std::llabs(std::int64_t(cys));
  const std::int64_t x0 = cxs < 0 ? std::int64_t(xs) + cxs : xs, y0 = cys < 0 ? std::int64_t(top) + cys : top;
  // Only a source rectangle within the bitmap (what every writer records).
  if (x0 < 0 || y0 < 0 || x0 + acx > w || y0 + acy > h) return false;
  if (vector_ && hdr->biBitCount == 1 && dib.usage == win::DIB_RGB_COLORS)
    return PaintMonochrome(dib, x, y, cx, cy, xs, top, cxs, cys, rop);
  const XFORM t = Total();
  const double dw = std::fabs(double(cx)) * std::hypot(t.eM11, t.eM12);
  const double dh = std::fabs(double(cy)) * std::hypot(t.eM21, t.eM22);
  const std::int64_t nw = std::clamp<std::int64_t>(std::int64_t(std::ceil(dw)), 1, acx);
  const std::int64_t nh = std::clamp<std::int64_t>(std::int64_t(std::ceil(dh)), 1, acy);
  // What is kept is the destination's pixels; a destination this large is a damaged record.
  if (nw * nh > (std::int64_t(1) << 27)) return false;
  // On an image surface only the kept rows the visible part of the destination samples are
  // computed: a band of a page drawn picture by picture reads the bitmap's rows it shows.
  std::int64_t j0 = 0, j1 = nh;
  if (!vector_ && AxisAligned()) {
    double d0x, d0y, d1x, d1y;
    Xf(x, y, &d0x, &d0y);
    Xf(double(x) + cx, double(y) + cy, &d1x, &d1y);
    const double dt = std::min(d0y, d1y), db = std::max(d0y, d1y);
    Region area(RECT{RoundI(std::min(d0x, d1x)), RoundI(dt), RoundI(std::max(d0x, d1x)), RoundI(db)});
    area.Combine(EffectiveClip(), win::RGN_AND);
    area.Combine(SurfaceRegion(), win::RGN_AND);
    if (area.IsEmpty()) return true;
    const RECT vis = area.Box();
    if (db > dt) {
      std::int64_t a = std::int64_t(std::floor((vis.top - dt) / (db - dt) * double(nh))) - 1;
      std::int64_t z = std::int64_t(std::ceil((vis.bottom - dt) / (db - dt) * double(nh))) + 1;
      if ((d1y < d0y) != (cys < 0)) std::tie(a, z) = std::pair{nh - z, nh - a};
      j0 = std::clamp<std::int64_t>(a, 0, nh);
      j1 = std::clamp<std::int64_t>(z, j0, nh);
    }
  }
  std::optional<DecodedDib> reduced = ReduceBands(dib, x0, y0, acx, acy, nw, nh, j0, j1);
  if (!reduced) return false;
  // The kept rows [j0, j1) are those of the reduced picture from its row j0: the blit finds
  // the rows before and after outside its source, and leaves them.
  return Blit(x, y, cx, cy, &*reduced, cxs < 0 ? int(nw) : 0, int((cys < 0 ? nh : 0) - j0),
              cxs < 0 ? -int(nw) : int(nw), cys < 0 ? -int(nh) : int(nh), rop, nullptr, 0, 0, 0);
}

std::optional<DecodedDib> CairoDC::ReduceBands(const DibRef& dib, std::int64_t x0, std::int64_t y0, std::int64_t w,
                                               std::int64_t h, std::int64_t nw, std::int64_t nh, std::int64_t j0,
                                               std::int64_t j1) const {
  auto hdr = win::LoadRecord<win::BITMAPINFOHEADER>(dib.info);
  const std::int64_t width = hdr->biWidth, height = std::abs(std::int64_t(hdr->biHeight));
  const std::int64_t band_rows = std::max<std::int64_t>(1, kBandPixels / width);
  std::optional<DecodedDib> band;
  std::int64_t b0 = 0, b1 = 0;
  // The pixels of bitmap row `r` (top row first), decoding the band that starts there.
  auto row_at = [&](std::int64_t r) -> const std::uint32_t* {
    if (!band || r < b0 || r >= b1) {
      band.reset();
      const std::int64_t rows = std::min(band_rows, height - r);
      auto part = DibRows(dib, r, rows);
      if (!part.ok()) return nullptr;
      auto d = DecodeDib(part->ref());
      if (!d.ok()) return nullptr;
      band = std::move(*d);
      b0 = r;
      b1 = r + rows;
    }
    return band->pixels.data() + std::size_t(r - b0) * std::size_t(width);
  };
  DecodedDib out;
  out.width = int(nw);
  out.height = int(j1 - j0);
  out.pixels.assign(std::size_t(nw * (j1 - j0)), 0xFFFFFF);
  const int mode = s_.stretch_mode;
  const bool combine = mode == win::BLACKONWHITE || mode == win::WHITEONBLACK || mode == win::HALFTONE;
  // Source span [start[i], start[i + 1]) of each kept column / row (their middles sampled
  // where nothing is combined).
  auto spans = [](std::int64_t from, std::int64_t to) {
    std::vector<std::int64_t> start(std::size_t(to) + 1);
    for (std::int64_t i = 0; i <= to; ++i) start[std::size_t(i)] = i * from / to;
    return start;
  };
  const std::vector<std::int64_t> cs = spans(w, nw), rs = spans(h, nh);
  const std::size_t columns = std::size_t(w);
  std::vector<std::uint64_t> r(columns), g(columns), b(columns);
  std::vector<std::uint32_t> acc(columns);
  const bool use_and = mode == win::BLACKONWHITE;
  for (std::int64_t j = j0; j < j1; ++j) {
    std::uint32_t* orow = out.pixels.data() + std::size_t((j - j0) * nw);
    if (!combine) {
      const std::uint32_t* p = row_at(y0 + (rs[std::size_t(j)] + rs[std::size_t(j) + 1]) / 2);
      if (!p) return std::nullopt;
      for (std::int64_t i = 0; i < nw; ++i)
        orow[i] = p[x0 + (cs[std::size_t(i)] + cs[std::size_t(i) + 1]) / 2] & 0xFFFFFF;
      continue;
    }
    std::fill(r.begin(), r.end(), 0);
    std::fill(g.begin(), g.end(), 0);
    std::fill(b.begin(), b.end(), 0);
    std::fill(acc.begin(), acc.end(), use_and ? 0xFFFFFFu : 0u);
    for (std::int64_t y = rs[std::size_t(j)]; y < rs[std::size_t(j) + 1]; ++y) {
      const std::uint32_t* p = row_at(y0 + y);
      if (!p) return std::nullopt;
      p += x0;
      if (mode == win::HALFTONE) {
        for (std::int64_t x = 0; x < w; ++x) {
          r[std::size_t(x)] += (p[x] >> 16) & 0xFF;
          g[std::size_t(x)] += (p[x] >> 8) & 0xFF;
          b[std::size_t(x)] += p[x] & 0xFF;
        }
      } else if (use_and) {
        for (std::int64_t x = 0; x < w; ++x) acc[std::size_t(x)] &= p[x];
      } else {
        for (std::int64_t x = 0; x < w; ++x) acc[std::size_t(x)] |= p[x];
      }
    }
    const std::int64_t rows = rs[std::size_t(j) + 1] - rs[std::size_t(j)];
    for (std::int64_t i = 0; i < nw; ++i) {
      const std::int64_t c0 = cs[std::size_t(i)], c1 = cs[std::size_t(i) + 1];
      if (mode == win::HALFTONE) {
        std::uint64_t sr = 0, sg = 0, sb = 0;
        for (std::int64_t x = c0; x < c1; ++x) {
          sr += r[std::size_t(x)];
          sg += g[std::size_t(x)];
          sb += b[std::size_t(x)];
        }
        const std::uint64_t n = std::uint64_t(std::max<std::int64_t>(1, rows * (c1 - c0)));
        orow[i] = std::uint32_t((sr + n / 2) / n) << 16 | std::uint32_t((sg + n / 2) / n) << 8 |
                  std::uint32_t((sb + n / 2) / n);
      } else {
        std::uint32_t v = use_and ? 0xFFFFFFu : 0u;
        for (std::int64_t x = c0; x < c1; ++x) v = use_and ? (v & acc[std::size_t(x)]) : (v | acc[std::size_t(x)]);
        orow[i] = v & 0xFFFFFF;
      }
    }
  }
  return out;
}

bool CairoDC::PaintMonochrome(const DibRef& dib, int x, int y, int cx, int cy, int xs, int top, int cxs, int cys,
                              win::DWORD rop) {
  auto hdr = win::LoadRecord<win::BITMAPINFOHEADER>(dib.info);
  const std::int64_t width = hdr->biWidth, height = std::abs(std::int64_t(hdr->biHeight));
  const std::int64_t acx = std::llabs(std::int64_t(cxs)), acy = std::llabs(std::int64_t(cys));
  const std::int64_t x0 = cxs < 0 ? std::int64_t(xs) + cxs : xs, y0 = cys < 0 ? std::int64_t(top) + cys : top;
  // The two colours of the table (a missing second one is white, as a decode reads it).
  const std::size_t table = hdr->biSize;
  std::uint32_t colour[2] = {0, 0xFFFFFF};
  const std::uint32_t used = hdr->biClrUsed ? std::min<std::uint32_t>(hdr->biClrUsed, 2) : 2;
  for (std::uint32_t k = 0; k < used; ++k) {
    if (dib.info.size() < table + 4 * (k + 1)) return false;
    const std::uint8_t* p = dib.info.data() + table + 4 * k;
    colour[k] = (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
  }
  // What each colour of the bitmap paints: the copy paints both; AND keeps the page under
  // white and OR under black; selecting the brush where the source is white paints the
  // brush there and keeps the page under black. Other operations are drawn as copies, as
  // every raster operation on this surface is.
  bool paints[2] = {true, true};
  const unsigned code = (rop >> 16) & 0xFF;
  for (int k = 0; k < 2; ++k) {
    if (code == 0x88) paints[k] = colour[k] != 0xFFFFFF;
    if (code == 0xEE) paints[k] = colour[k] != 0;
    if (code == 0xE2) {
      paints[k] = colour[k] == 0xFFFFFF;
      if (paints[k]) colour[k] = ToRgb(s_.brush.color);
    }
  }
  if (!paints[0] && !paints[1]) return true;
  // The colour drawn through the mask: the second, over the first painted whole, or the one
  // that paints alone.
  const int through = paints[1] ? 1 : 0;
  const std::uint64_t stride = ((std::uint64_t(width) + 31) / 32) * 4;
  if (dib.bits.size() < stride * std::uint64_t(height - 1) + std::uint64_t(width + 7) / 8) return false;
  // The source rectangle as a 1-bit cairo mask: set where the pixel is of the colour drawn
  // through it.
  // cairo packs its first pixel in the low bit on this machine, the bitmap in the high bit.
  cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_A1, int(acx), int(acy));
  if (cairo_surface_status(mask) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(mask);
    return false;
  }
  cairo_surface_flush(mask);
  unsigned char* mp = cairo_image_surface_get_data(mask);
  const int mstride = cairo_image_surface_get_stride(mask);
  static const auto kReversed = [] {
    std::array<std::uint8_t, 256> t{};
    for (int v = 0; v < 256; ++v) {
      int o = 0;
      for (int k = 0; k < 8; ++k) o |= ((v >> k) & 1) << (7 - k);
      t[std::size_t(v)] = std::uint8_t(o);
    }
    return t;
  }();
  const bool little = std::endian::native == std::endian::little;
  for (std::int64_t row = 0; row < acy; ++row) {
    const std::int64_t r = y0 + row;
    const std::uint8_t* src = dib.bits.data() + stride * std::uint64_t(hdr->biHeight < 0 ? r : height - 1 - r);
    unsigned char* dst = mp + std::size_t(row) * std::size_t(mstride);
    std::memset(dst, 0, std::size_t(mstride));
    const std::uint8_t flip = through == 1 ? 0 : 0xFF;
    if (x0 % 8 == 0) {
      const std::uint8_t* from = src + x0 / 8;
      const std::size_t bytes = std::size_t((acx + 7) / 8);
      for (std::size_t k = 0; k < bytes; ++k) {
        const std::uint8_t v = from[k] ^ flip;
        dst[k] = little ? kReversed[v] : v;
      }
      // Bits past the rectangle's last column are not the picture's.
      if (acx % 8) dst[bytes - 1] &= little ? std::uint8_t((1u << (acx % 8)) - 1) : std::uint8_t(0xFF00u >> (acx % 8));
    } else {
      for (std::int64_t c = 0; c < acx; ++c) {
        const std::int64_t sx = x0 + c;
        if (((src[sx >> 3] >> (7 - (sx & 7))) & 1) == unsigned(through))
          dst[c >> 3] |= little ? (1u << (c & 7)) : (0x80u >> (c & 7));
      }
    }
  }
  cairo_surface_mark_dirty(mask);
  BeginLogicalRect(x, y, cx, cy);
  if (paints[0] && paints[1]) {
    cairo_set_source_rgb(cr_, ((colour[0] >> 16) & 0xFF) / 255.0, ((colour[0] >> 8) & 0xFF) / 255.0,
                         (colour[0] & 0xFF) / 255.0);
    cairo_paint(cr_);
  }
  cairo_translate(cr_, x, y);
  cairo_scale(cr_, double(cx) / cxs, double(cy) / cys);
  cairo_set_source_rgb(cr_, ((colour[through] >> 16) & 0xFF) / 255.0, ((colour[through] >> 8) & 0xFF) / 255.0,
                       (colour[through] & 0xFF) / 255.0);
  cairo_pattern_t* pattern = cairo_pattern_create_for_surface(mask);
  cairo_matrix_t pm;
  // The rectangle's origin in the pattern: its left (or right, when mirrored) column.
  cairo_matrix_init_translate(&pm, double(xs - x0), double(top - y0));
  cairo_pattern_set_matrix(pattern, &pm);
  cairo_pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
  cairo_mask(cr_, pattern);
  cairo_pattern_destroy(pattern);
  cairo_restore(cr_);
  cairo_surface_destroy(mask);
  return true;
}

}  // namespace zv::gdi::detail
