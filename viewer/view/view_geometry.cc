#include "viewer/view/view_geometry.h"

#include <algorithm>

namespace zv::viewer::view {

namespace {

int SmallZoom(int screen_res) { return std::max(screen_res / 10, 1); }

}  // namespace

ZoomResult ComputeZoom(int request, int area_w, int area_h, UnitSize ref, int screen_res) {
  ZoomResult z;
  if (screen_res <= 0) screen_res = 96;
  if (request == kWholePage || request == kPageWidth) {
    z.mode = request;
    const std::int64_t aw = std::int64_t(area_w) - 8, ah = std::int64_t(area_h) - 8;
    if (ref.w <= 0 || ref.h <= 0 || aw <= 0 || (request == kWholePage && ah <= 0)) {
      z.resolution = SmallZoom(screen_res);
    } else if (request == kPageWidth) {
      z.resolution = int(aw * kPageUnitsPerInch / ref.w);
    } else {
      // The area is relatively wider than the page when aw/ah > w/h: the height decides.
      const std::int64_t area_ratio = aw * 4096 / ah;
      const std::int64_t page_ratio = ref.w * 4096 / ref.h;
      z.resolution =
          area_ratio > page_ratio ? int(ah * kPageUnitsPerInch / ref.h) : int(aw * kPageUnitsPerInch / ref.w);
    }
    z.percent = int(std::int64_t(z.resolution) * 100 / screen_res);
  } else if (request == kMaximum) {
    z.mode = kMaximum;
    z.percent = kMaxPercent;
    z.resolution = 2 * screen_res;
  } else if (request >= kMinPercent && request <= kMaxPercent) {
    z.mode = kFree;
    z.percent = request;
    z.resolution = screen_res * request / 100;
  } else {
    z.needs_dialog = true;
    return z;
  }
  if (z.percent < kMinPercent) {
    z.percent = kMinPercent;
    z.resolution = SmallZoom(screen_res);
  }
  if (z.resolution <= 0) z.resolution = SmallZoom(screen_res);
  return z;
}

UnitSize ReferenceSize(const std::vector<UnitSize>& pages, UnitSize paper) {
  if (paper.w <= 0 || paper.h <= 0) {
    UnitSize r;
    for (const UnitSize& p : pages) {
      r.w = std::max(r.w, p.w);
      r.h = std::max(r.h, p.h);
    }
    return r;
  }
  bool any_landscape = false, any_portrait = false;
  for (const UnitSize& p : pages) (p.w > p.h ? any_landscape : any_portrait) = true;
  // Pages of both shapes: a square of the paper's long side holds either way round, so every
  // page is drawn at the same scale.
  if (any_landscape && any_portrait) return UnitSize{paper.h, paper.h};
  if (any_landscape) return UnitSize{paper.h, paper.w};
  return paper;
}

SheetGrid ComputeSheetGrid(std::uint32_t pages_per_sheet, UnitSize page0, UnitSize reference) {
  SheetGrid g;
  const bool landscape = page0.w > page0.h;
  const UnitSize exchanged{reference.h, reference.w};
  g.slot = reference;
  switch (pages_per_sheet) {
    case 2:
      g.columns = landscape ? 1 : 2;
      g.rows = landscape ? 2 : 1;
      g.orientation = landscape ? 1 : 2;
      g.slot = exchanged;
      break;
    case 4:
      g.columns = 2;
      g.rows = 2;
      g.orientation = landscape ? 2 : 1;
      break;
    case 8:
      g.columns = landscape ? 2 : 4;
      g.rows = landscape ? 4 : 2;
      g.orientation = landscape ? 1 : 2;
      g.slot = exchanged;
      break;
    default:
      break;
  }
  return g;
}

ScrollLayout ComputeScrollLayout(int page_count, std::uint32_t pages_per_sheet, int page_w, int page_h, int area_w,
                                 int area_h) {
  ScrollLayout s;
  if (page_count <= 0 || page_w <= 0 || page_h <= 0) return s;
  const std::uint32_t pps = std::max<std::uint32_t>(pages_per_sheet, 1);
  s.rows = int((std::uint32_t(page_count) + pps - 1) / pps);
  s.content_height = s.rows * (page_h + kRowGap) + kRowGap;
  if (area_h < s.content_height) s.vertical = ScrollAxis{true, s.content_height - area_h};
  if (area_w < page_w + 2 * kRowGap) s.horizontal = ScrollAxis{true, page_w + 2 * kRowGap - area_w};
  return s;
}

int ClampPosition(int position, const ScrollAxis& axis) {
  if (!axis.enabled) return 0;
  return std::clamp(position, 0, axis.max);
}

int CurrentRow(int position, const ScrollLayout& layout, int page_h, int area_h, int page_count,
               std::uint32_t pages_per_sheet) {
  if (page_count <= 0 || page_h <= 0 || layout.rows <= 0) return 0;
  const std::uint32_t pps = std::max<std::uint32_t>(pages_per_sheet, 1);
  const int last = int((std::uint32_t(page_count) - 1) / pps);
  if (!layout.vertical.enabled || position <= 0) return 0;
  if (position >= layout.vertical.max) return last;
  const int pitch = page_h + kRowGap;
  int row = position / pitch;
  if (position % pitch != 0 && (position + area_h / 3) / pitch != row) ++row;
  return std::min(row, last);
}

int RowPosition(int row, int page_h, const ScrollAxis& axis) {
  return ClampPosition(int(std::int64_t(std::max(row, 0)) * (page_h + kRowGap)), axis);
}

RECT RowRect(int row, const RECT& area, int page_w, int page_h, int hpos, int vpos, const ScrollLayout& layout) {
  RECT r;
  const int area_w = area.right - area.left, area_h = area.bottom - area.top;
  r.left = layout.horizontal.enabled ? area.left + kRowGap - hpos : area.left + (area_w - page_w) / 2;
  const int top0 = layout.vertical.enabled ? area.top - vpos : area.top + (area_h - layout.content_height) / 2;
  r.top = top0 + row * (page_h + kRowGap) + kRowGap;
  r.right = r.left + page_w;
  r.bottom = r.top + page_h;
  return r;
}

RowSpan VisibleRows(const RECT& rect, const RECT& area, int page_w, int page_h, int hpos, int vpos,
                    const ScrollLayout& layout) {
  RowSpan span;
  if (layout.rows <= 0 || page_h <= 0) return span;
  const RECT first = RowRect(0, area, page_w, page_h, hpos, vpos, layout);
  const int pitch = page_h + kRowGap;
  int from = (rect.top - first.top) / pitch;
  if (rect.top - first.top < 0) from = 0;
  int to = (rect.bottom - 1 - first.top) / pitch;
  from = std::clamp(from, 0, layout.rows - 1);
  if (rect.bottom - 1 < first.top) return span;
  to = std::min(to, layout.rows - 1);
  if (to < from) return span;
  span.first = from;
  span.last = to;
  return span;
}

int RowAt(POINT p, const RECT& area, int page_w, int page_h, int hpos, int vpos, const ScrollLayout& layout) {
  const RECT probe{p.x, p.y, p.x + 1, p.y + 1};
  const RowSpan span = VisibleRows(probe, area, page_w, page_h, hpos, vpos, layout);
  if (span.last < span.first) return -1;
  const RECT r = RowRect(span.first, area, page_w, page_h, hpos, vpos, layout);
  if (p.x < r.left || p.x >= r.right || p.y < r.top || p.y >= r.bottom) return -1;
  return span.first;
}

bool CanChoosePage(int page_count, const ScrollAxis& v) { return page_count >= 2 && v.enabled; }
bool CanGoPrevious(int page_count, const ScrollAxis& v, int position) {
  return CanChoosePage(page_count, v) && position > 3;
}
bool CanGoNext(int page_count, const ScrollAxis& v, int position) {
  return CanChoosePage(page_count, v) && position <= v.max - 5;
}

RECT SlotRect(const RECT& sheet, const SheetLayout& layout, int slot) {
  const int cols = int(std::max<std::uint32_t>(layout.columns, 1));
  const int rows = int(std::max<std::uint32_t>(layout.rows, 1));
  const int cw = (sheet.right - sheet.left) / cols, ch = (sheet.bottom - sheet.top) / rows;
  int c, r;
  if (layout.order == 1) {
    c = slot / rows;
    r = slot % rows;
  } else {
    r = slot / cols;
    c = slot % cols;
  }
  return RECT{sheet.left + c * cw, sheet.top + r * ch, sheet.left + (c + 1) * cw, sheet.top + (r + 1) * ch};
}

int SlotAt(const RECT& sheet, const SheetLayout& layout, POINT p) {
  if (p.x < sheet.left || p.x >= sheet.right || p.y < sheet.top || p.y >= sheet.bottom) return -1;
  const int cols = int(std::max<std::uint32_t>(layout.columns, 1));
  const int rows = int(std::max<std::uint32_t>(layout.rows, 1));
  const int cw = (sheet.right - sheet.left) / cols, ch = (sheet.bottom - sheet.top) / rows;
  if (cw <= 0 || ch <= 0) return -1;
  const int c = std::min((p.x - sheet.left) / cw, cols - 1);
  const int r = std::min((p.y - sheet.top) / ch, rows - 1);
  return layout.order == 1 ? c * rows + r : r * cols + c;
}

RECT SheetRectInSlot(const RECT& slot, UnitSize box) { return FitCentred(slot, box.w, box.h); }

RECT LensRect(POINT c) {
  return RECT{c.x - kLensWidth / 2, c.y - kLensHeight / 2, c.x + kLensWidth / 2, c.y + kLensHeight / 2};
}

POINT LensPlacement(POINT cursor, const RECT& page, int display_res, int screen_res) {
  if (display_res <= 0) return POINT{0, 0};
  const int cx = std::clamp<int>(cursor.x, page.left, std::max(page.left, page.right - 1));
  const int cy = std::clamp<int>(cursor.y, page.top, std::max(page.top, page.bottom - 1));
  // The point of the page under the (clamped) cursor, in page units.
  const std::int64_t ux = std::int64_t(cx - page.left) * kPageUnitsPerInch / display_res;
  const std::int64_t uy = std::int64_t(cy - page.top) * kPageUnitsPerInch / display_res;
  const int ox = int(-ux * screen_res / (kPageUnitsPerInch / 2));
  const int oy = int(-uy * screen_res / (kPageUnitsPerInch / 2));
  return POINT{ox + (cx - cursor.x), oy + (cy - cursor.y)};
}

RECT Normalised(const RECT& r) {
  return RECT{std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right),
              std::max(r.top, r.bottom)};
}

bool IsEmpty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

RECT Union(const RECT& a, const RECT& b) {
  if (IsEmpty(a)) return b;
  if (IsEmpty(b)) return a;
  return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
              std::max(a.bottom, b.bottom)};
}

RECT Intersect(const RECT& a, const RECT& b) {
  RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  if (IsEmpty(r)) return RECT{};
  return r;
}

int HandleAt(const RECT& sel, POINT p) {
  const RECT s = Normalised(sel);
  if (s.right - s.left <= kHandleSize || s.bottom - s.top <= kHandleSize) return 0;
  auto in = [&](int x, int y) { return p.x >= x && p.x < x + kHandleSize && p.y >= y && p.y < y + kHandleSize; };
  if (in(s.left, s.top)) return 1;
  if (in(s.right - kHandleSize, s.top)) return 2;
  if (in(s.left, s.bottom - kHandleSize)) return 3;
  if (in(s.right - kHandleSize, s.bottom - kHandleSize)) return 4;
  return 0;
}

RECT DragHandle(const RECT& sel, int handle, POINT p) {
  RECT r = Normalised(sel);
  switch (handle) {
    case 1:
      r.left = p.x;
      r.top = p.y;
      break;
    case 2:
      r.right = p.x;
      r.top = p.y;
      break;
    case 3:
      r.left = p.x;
      r.bottom = p.y;
      break;
    case 4:
      r.right = p.x;
      r.bottom = p.y;
      break;
    default:
      break;
  }
  return r;
}

int AutoScrollStep(int start_y, int release_y, int current_step) {
  const int step = std::clamp((start_y - release_y) / 10, -20, 20);
  if (step != 0) return step;
  return current_step < 0 ? -1 : 1;
}

POINT MiddleScroll(POINT origin, POINT cursor) {
  auto axis = [](int d) { return d > 14 ? d - 14 : d < -14 ? d + 14 : 0; };
  return POINT{axis(cursor.x - origin.x), axis(cursor.y - origin.y)};
}

POINT EdgeScroll(const RECT& area, POINT c) {
  POINT d{0, 0};
  if (c.x < area.left) d.x = (c.x - area.left) / 2;
  if (c.x >= area.right) d.x = (c.x - area.right + 1) / 2;
  if (c.y < area.top) d.y = (c.y - area.top) / 2;
  if (c.y >= area.bottom) d.y = (c.y - area.bottom + 1) / 2;
  return d;
}

}  // namespace zv::viewer::view
