#include "viewer/sheet_layout.h"

#include <algorithm>
#include <cmath>

namespace zv::viewer {

POINT FitPageBox(std::int64_t ex, std::int64_t ey, std::int64_t cx, std::int64_t cy) {
  if (cx <= 0 || cy <= 0) return POINT{std::int32_t(ex), std::int32_t(ey)};
  if (ex < ey * cx / cy) return POINT{std::int32_t(ex), std::int32_t(ex * cy / cx)};
  return POINT{std::int32_t(ey * cx / cy), std::int32_t(ey)};
}

RECT FitCentred(const RECT& rect, std::int64_t box_w, std::int64_t box_h) {
  RECT r = rect;
  const std::int64_t w = Width(rect), h = Height(rect);
  if (box_w <= 0 || box_h <= 0 || w <= 0 || h <= 0) {
    return RECT{rect.left, rect.top, rect.left, rect.top};
  }
  const std::int64_t t = h * box_w / box_h;
  if (t > w) {
    r.bottom = std::int32_t(rect.top + w * box_h / box_w);
  } else {
    r.right = std::int32_t(rect.left + t);
  }
  const std::int32_t dx = std::int32_t((w - Width(r)) / 2), dy = std::int32_t((h - Height(r)) / 2);
  r.left += dx;
  r.right += dx;
  r.top += dy;
  r.bottom += dy;
  return r;
}

int OffsetSlotRect(RECT* rect, int dx, int dy, const SheetLayout& layout, int slot) {
  if (!rect) return 1;
  const std::uint32_t e = layout.columns, f = layout.rows;
  const int d = layout.orientation;
  const int g = rect->top, h = rect->bottom;
  const int l = g + dx, k = h - dy, m = (dx - dy) / 2;
  auto upper = [&] {
    rect->top = l;
    rect->bottom = h + m;
  };
  auto lower = [&] {
    rect->top = g + m;
    rect->bottom = k;
  };
  if ((e == 1 && f == 1) || (e == 2 && f == 1)) {
    if (dx > 0) rect->top = l;
    if (dy > 0) rect->bottom = k;
  } else if (e == 1 && f == 2) {
    (slot % 2 == 0) ? upper() : lower();
  } else if ((e == 2 && f == 2) || (e == 4 && f == 2)) {
    const int first_row_slots = (e == 2) ? 2 : 4;
    if (d == 1) {
      (slot % 2 != 0) ? lower() : upper();
    } else if (d == 2) {
      (slot < first_row_slots) ? upper() : lower();
    }
  } else if (e == 2 && f == 4) {
    if (d == 1) {
      const int r = slot % 4;
      if (r == 0) {
        upper();
      } else {
        rect->top = g + m;
        rect->bottom = (r == 3) ? k : h + m;
      }
    } else if (d == 2) {
      if (slot < 2) {
        upper();
      } else if (slot < 6) {
        rect->top = g + m;
        rect->bottom = h + m;
      } else {
        lower();
      }
    }
  }
  return 1;
}

int GetSlotOffset(int direction, int header_height, int footer_height, const SheetLayout& layout, int slot) {
  if (direction != 1 && direction != 16) return 0;
  const bool ccw = direction == 16;
  const int hh = header_height > 0 ? header_height / 2 : 0;
  const int hf = footer_height > 0 ? footer_height / 2 : 0;
  const int h1 = header_height > 0 ? 1 : 0, f1 = footer_height > 0 ? 1 : 0;
  const int whole = header_height > 0 ? header_height : 0;
  const std::uint32_t cols = layout.columns, rows = layout.rows;
  switch (layout.pages) {
    case 2:
      if (cols == 1 && rows == 2) {
        if (slot == 0) return hh + hf;
        if (slot == 1) return -(hh + hf);
      }
      return 0;
    case 4:
      if (layout.order == 1) {
        if (slot % 2 == 0) return hh + hf;
        return ccw ? -(hh + h1 + hf + f1) : -(hh + hf);
      }
      if (layout.order == 2) {
        if (slot == 0) return hh + hf;
        if (slot == 1) return -h1;
        if (slot == 2) return ccw ? -(hh + h1 + hf + f1) : -(hh + hf);
      }
      return 0;
    case 8:
      if (cols == 2 && rows == 4) {
        if (layout.order == 1) {
          if (slot == 0 || slot == 4) return hh + h1 + hf;
          if (slot == 1 || slot == 5) return -(hh + h1 + hf);
        } else if (layout.order == 2) {
          if (slot == 0) return whole + hf;
          if (slot == 2) return -(hh + h1 + hf);
        }
        return 0;
      }
      if (cols == 4 && rows == 2) {
        if (layout.order == 1) {
          if (slot % 2 == 0) return ccw ? hh + hf : hh + h1 + hf;
          return ccw ? -(hh + h1 + hf + f1) : -(hh + h1 + hf);
        }
        if (layout.order == 2) {
          if (slot == 0) return hh + hf;
          if (!ccw) return slot == 4 ? -(hh + h1 + hf) : 0;
          if (slot >= 1 && slot <= 3) return -h1;
          if (slot == 4) return -(hh + h1 + hf + f1);
          if (slot >= 5 && slot <= 7) return -f1;
        }
      }
      return 0;
    default:
      return 0;
  }
}

POINT NextSlotOrigin(POINT origin, const RECT& first_cell, int slot, const SheetLayout& layout) {
  const int cw = Width(first_cell), ch = Height(first_cell);
  const std::int64_t next = std::int64_t(slot) + 1;
  if (layout.order == 1) {
    const std::int64_t rows = layout.rows ? layout.rows : 1;
    if (next % rows == 0) return POINT{origin.x + cw, first_cell.top};
    return POINT{origin.x, origin.y + ch};
  }
  if (layout.order == 2) {
    const std::int64_t cols = layout.columns ? layout.columns : 1;
    if (next % cols == 0) return POINT{first_cell.left, origin.y + ch};
    return POINT{origin.x + cw, origin.y};
  }
  if (layout.columns == 2) return POINT{origin.x + cw, first_cell.top};
  if (layout.rows == 2) return POINT{first_cell.left, origin.y + ch};
  return origin;
}

namespace {

struct Extension {
  int u = 0, v = 0;
};

Extension VerticalExtension(const SheetLayout& L, int i, int hh, int ff, int m) {
  const std::uint32_t c = L.columns, r = L.rows;
  if (c == 2 && r == 1) return {hh > 0 ? hh : 0, ff > 0 ? -ff : 0};
  if ((c == 2 && r == 2) || (c == 4 && r == 2)) {
    bool second_row = false;
    if (L.order == 1) second_row = (i % 2) != 0;
    if (L.order == 2) second_row = (c == 2) ? (i == 2 || i == 3) : (i >= 4 && i <= 7);
    return second_row ? Extension{0, -ff} : Extension{hh, 0};
  }
  if (c == 2 && r == 4) {
    if (L.order == 1) {
      if (i == 0 && hh > 0) return {hh, m};
      if (i == 3 && ff > 0) return {0, -ff};
    } else if (L.order == 2) {
      if (i == 0 && hh > 0) return {hh, 0};
      if (i == 6 && ff > 0) return {0, -ff};
    }
    return {};
  }
  if (c == 1 && r == 2) return {hh, -(ff / 2)};
  return {};
}

}  // namespace

std::vector<LineSegment> SlotSeparatorLines(POINT origin, const RECT& first_cell, const RECT& area,
                                            const SheetLayout& L, int header_height, int footer_height,
                                            bool header_room) {
  std::vector<LineSegment> lines;
  if (L.separators == 0 || L.order == 0) return lines;
  const int hh = header_room ? header_height : 0;
  const int ff = header_room ? footer_height : 0;
  const int m = (hh - ff) / 2;
  const bool rows_lines = L.separators == 2 || L.separators == 3;
  const bool col_lines = L.separators == 1 || L.separators == 3;
  const std::int64_t cols = L.columns, rows = L.rows;
  const int cw = Width(first_cell), ch = Height(first_cell);
  auto clampx = [&](int x) { return std::clamp(x, std::min(area.left, area.right), std::max(area.left, area.right)); };
  auto clampy = [&](int y) { return std::clamp(y, std::min(area.top, area.bottom), std::max(area.top, area.bottom)); };
  for (std::uint32_t i = 0; i < L.pages; ++i) {
    RECT c{clampx(origin.x), clampy(origin.y), clampx(origin.x + cw - 1), clampy(origin.y + ch - 1)};
    const std::int64_t j = std::int64_t(i) + 1;
    bool last_row = false, last_col = false;
    if (L.order == 1) {
      last_row = rows == 1 || (rows != 0 && j % rows == 0);
      last_col = cols == 1 || ((cols - 1) * rows < j && j <= cols * rows);
    } else if (L.order == 2) {
      last_col = cols == 1 || (cols != 0 && j % cols == 0);
      last_row = rows == 1 || ((rows - 1) * cols < j && j <= rows * cols);
    }
    const Extension ext = VerticalExtension(L, int(i), hh, ff, m);
    if (rows_lines && !last_row) {
      lines.push_back({{c.left, c.bottom + m}, {c.right + 1, c.bottom + m}});
    }
    if (col_lines && !last_col) {
      lines.push_back({{c.right, c.top + ext.u}, {c.right, c.bottom + ext.v + 1}});
    }
    origin = NextSlotOrigin(origin, first_cell, int(i), L);
  }
  if (rows_lines) {
    lines.push_back({{area.left, area.top + hh}, {area.right, area.top + hh}});
    lines.push_back({{area.left, area.bottom - ff}, {area.right, area.bottom - ff}});
  }
  if (col_lines) {
    lines.push_back({{area.left, area.top + hh}, {area.left, area.bottom - ff}});
    lines.push_back({{area.right, area.top + hh}, {area.right, area.bottom - ff}});
  }
  return lines;
}

std::vector<LineSegment> PrintableFrameLines(const RECT& a, int hh, int ff) {
  return {
      {{a.left, a.top + hh}, {a.right, a.top + hh}},
      {{a.left, a.bottom - ff}, {a.right, a.bottom - ff}},
      {{a.left, a.top + hh}, {a.left, a.bottom - ff}},
      {{a.right, a.top + hh}, {a.right, a.bottom - ff + 1}},
  };
}

int SheetNumber(int next_page, std::uint32_t pages_per_sheet) {
  if (pages_per_sheet <= 1) return next_page;
  const std::int64_t p = pages_per_sheet;
  if (next_page < p) return 1;
  return int((next_page + p - 1) / p);
}

int SheetTotal(int page_count, std::uint32_t pages_per_sheet) {
  if (pages_per_sheet <= 1) return page_count;
  const std::int64_t p = pages_per_sheet;
  return int((std::int64_t(page_count) + p - 1) / p);
}

bool HeaderRoomApplies(int numbering_rule, bool first_sheet) {
  return numbering_rule == 1 || (numbering_rule == 0 && first_sheet);
}

SheetMargins MarginsInPixels(int sheet_w, int sheet_h, int paper_w, int paper_h, const PaperMargins& pm,
                             bool landscape) {
  SheetMargins m;
  if (paper_w > 0) {
    m.left = int(std::int64_t(sheet_w) * pm.left / paper_w);
    m.right = int(std::int64_t(sheet_w) * pm.right / paper_w);
  }
  if (paper_h > 0) {
    m.top = int(std::int64_t(sheet_h) * pm.top / paper_h);
    m.bottom = int(std::int64_t(sheet_h) * pm.bottom / paper_h);
  }
  if (landscape) {
    const SheetMargins o = m;
    m.left = o.bottom;
    m.top = o.left;
    m.right = o.top;
    m.bottom = o.right;
  }
  return m;
}

PaperMargins ChooseMargins(const std::vector<PaperMargins>& list, bool own_paper, int first_page_paper) {
  if (list.empty()) return PaperMargins{};
  if (own_paper && list.size() > 1) {
    for (std::size_t i = 1; i < list.size(); ++i) {
      if (list[i].paper_code == first_page_paper) return list[i];
    }
  }
  return list.front();
}

POINT FitPageInCell(int width, int length, bool portrait, int usable_w, int usable_h) {
  const std::int64_t across = portrait ? width : length;
  const std::int64_t down = portrait ? length : width;
  if (across <= 0 || down <= 0 || usable_w <= 0 || usable_h <= 0) return POINT{0, 0};
  std::int64_t w = usable_w;
  std::int64_t h = usable_w * down / across;
  if (h > usable_h) {
    h = usable_h;
    w = usable_h * across / down;
  }
  return POINT{std::int32_t(w), std::int32_t(h)};
}

int HeaderFontHeight(int points, int logpixels_y, int screen_width, int sheet_width) {
  if (screen_width <= 0 || sheet_width <= 0) return 0;
  const std::int64_t muldiv = (std::int64_t(points) * logpixels_y + 36) / 72;
  const double scale = double(screen_width) / double(sheet_width);
  const int height = int(std::trunc(double(muldiv) / scale));
  // A height of 0 asks the font mapper for its default size: on a small sheet the header
  // would be drawn at full size, wider than the sheet. One pixel keeps it to scale.
  return height == 0 && muldiv > 0 ? -1 : -height;
}

int OffsetInPixels(float offset_mm, int sheet_size, int paper_size) {
  if (paper_size <= 0 || !std::isfinite(offset_mm)) return 0;
  const double tenths = std::trunc(double(offset_mm) * 10.0);
  if (std::fabs(tenths) > 1e7) return 0;
  return int(std::int64_t(tenths) * sheet_size / paper_size);
}

}  // namespace zv::viewer
