#include "printing/sheet_math.h"

#include <algorithm>
#include <cstdio>

#include "printing/print_rules.h"

namespace zv::printing {

int TenthsToPixels(int tenths, int dpi) {
  // value x 0.1 x dpi / 25.4 = value x dpi / 254, truncated toward zero (C++ division).
  return static_cast<int>(static_cast<long long>(tenths) * dpi / 254);
}

int RightMargin(const spool::PageGeometry& g) { return g.physical_width - g.offset_x - g.horzres; }

int BottomMargin(const spool::PageGeometry& g) { return g.physical_height - g.offset_y - g.vertres; }

std::optional<Grid> GridFor(int mode, const spool::PageGeometry& g) {
  const bool wide = g.horzres > g.vertres;
  switch (mode) {
    case kModeTwoUp:
      return wide ? Grid{2, 1, true} : Grid{1, 2, true};
    case kModeFourByColumn:
      return Grid{2, 2, true};
    case kModeFourByRow:
      return Grid{2, 2, false};
    case kModeEightByColumn:
      return wide ? Grid{4, 2, true} : Grid{2, 4, true};
    case kModeEightByRow:
      return wide ? Grid{4, 2, false} : Grid{2, 4, false};
    default:
      return std::nullopt;
  }
}

namespace {

int ResolutionFor(int mode, int dpi) {
  switch (mode) {
    case kModeTwoUp:
    case kModeHalves:
      return dpi / 2;
    case kModeFourByColumn:
    case kModeFourByRow:
      return dpi / 4;
    case kModeEightByColumn:
    case kModeEightByRow:
      return dpi / 8;
    default:
      return dpi;
  }
}

void Shift(win::RECT& r, int dx, int dy) {
  r.left += dx;
  r.right += dx;
  r.top += dy;
  r.bottom += dy;
}

void AddLine(std::vector<SeparatorLine>& lines, win::POINT a, win::POINT b) {
  SeparatorLine l{a, b};
  if (std::find(lines.begin(), lines.end(), l) == lines.end()) lines.push_back(l);
}

}  // namespace

SidePlan PlanSide(int mode, const spool::PageGeometry& g, const SheetSettings& s, int header_height, int footer_height,
                  int first, int end) {
  SidePlan plan;
  if (first < 0 || first >= end) return plan;
  const int dx = TenthsToPixels(s.offset_x, g.logpixels_x);
  const int dy = TenthsToPixels(s.offset_y, g.logpixels_y);
  const int H = g.horzres, V = g.vertres;
  const int res = ResolutionFor(mode, g.logpixels_x);
  auto reduce = [&](int length) { return static_cast<int>(static_cast<long long>(length) * s.reduction / 1000); };

  if (mode == kModeOneUp) {
    win::RECT r{0, 0, reduce(H), reduce(V)};
    r.top += header_height;
    r.bottom -= footer_height;
    Shift(r, dx, dy);
    plan.cells.push_back({first, r, res});
    return plan;
  }

  if (mode == kModeHalves) {
    win::RECT a, b;
    if (H > V) {
      a = {H / 2, 0, H, V};
      b = {0, 0, H / 2, V};
    } else {
      a = {0, V / 2, H, V};
      b = {0, 0, H, V / 2};
    }
    plan.cells.push_back({first, a, res});
    if (first + 1 < end) plan.cells.push_back({first + 1, b, res});
    return plan;
  }

  const auto grid = GridFor(mode, g);
  if (!grid) return plan;
  const int cols = grid->columns, rows = grid->rows;
  const int right = RightMargin(g), bottom = BottomMargin(g);
  // Between cells lie both margins: each cell stands for a small sheet with the printer's own
  // unprintable edges on every side.
  const int col_gap = g.offset_x + right;
  const int row_gap = g.offset_y + bottom;
  const int cw = (H - col_gap * (cols - 1)) / cols;
  const int ch = (V - row_gap * (rows - 1)) / rows;
  const bool has_header = header_height > 0, has_footer = footer_height > 0;
  const bool separators_cols = s.separators == 0 || s.separators == 1;
  const bool separators_rows = s.separators == 0 || s.separators == 2;

  for (int slot = 0; slot < cols * rows && first + slot < end; ++slot) {
    const int c = grid->by_column ? slot / rows : slot % cols;
    const int r = grid->by_column ? slot % rows : slot / cols;
    const int left = c * (cw + col_gap), top = r * (ch + row_gap);
    win::RECT cell{left, top, left + cw, top + ch};

    if (r == 0) {
      cell.top += header_height;
    } else if (has_header && !has_footer) {
      cell.top += header_height / 2;
    } else if (has_footer && !has_header) {
      cell.top -= footer_height / 2;
    }
    cell.right = cell.left + reduce(cell.right - cell.left);
    cell.bottom = cell.top + reduce(cell.bottom - cell.top);
    if (r == rows - 1) {
      cell.bottom -= footer_height;
    } else if (has_header && !has_footer) {
      cell.bottom += header_height / 2;
    } else if (has_footer && !has_header) {
      cell.bottom -= footer_height / 2;
    }
    if (has_header && has_footer && rows == 4) {
      if (r == 3) cell.top -= header_height;
      if (r == 0) cell.bottom += footer_height;
    }
    Shift(cell, dx, dy);
    plan.cells.push_back({first + slot, cell, res});

    // The virtual smaller sheet this cell stands on: its edges, less the header and footer
    // room at the top and bottom of the side.
    const int vl = c == 0 ? 0 : left - g.offset_x;
    const int vr = c == cols - 1 ? left + cw : left + cw + right;
    const int vt = r == 0 ? header_height : top - g.offset_y;
    const int vb = r == rows - 1 ? top + ch - footer_height : top + ch + bottom;
    if (separators_cols && cols > 1) {
      AddLine(plan.lines, {vl, vt}, {vl, vb});
      AddLine(plan.lines, {vr, vt}, {vr, vb});
    }
    if (separators_rows && rows > 1) {
      AddLine(plan.lines, {vl, vt}, {vr, vt});
      AddLine(plan.lines, {vl, vb}, {vr, vb});
    }
  }
  return plan;
}

int TextX(int slot, int text_width, int horzres) {
  switch (slot % 3) {
    case 0:
      return 0;
    case 1:
      return horzres / 2 - text_width / 2;
    default:
      return horzres - text_width;
  }
}

HeaderFooterPlacement PlaceHeaderFooter(int horzres, int vertres,
                                        const std::array<std::optional<win::SIZE>, 6>& extents) {
  HeaderFooterPlacement p;
  for (int i = 0; i < 3; ++i) {
    const int w = extents[i] ? extents[i]->cx : 0;
    p.at[i] = {TextX(i, w, horzres), 0};
    if (extents[i]) p.header_height = extents[i]->cy;
  }
  int footer_y = 0;
  for (int i = 3; i < 6; ++i) {
    if (extents[i]) {
      p.footer_height = extents[i]->cy;
      footer_y = vertres - p.footer_height;
      break;
    }
  }
  for (int i = 3; i < 6; ++i) {
    const int w = extents[i] ? extents[i]->cx : 0;
    p.at[i] = {TextX(i, w, horzres), footer_y};
  }
  return p;
}

int PageNumberShown(int mode, int rule, int anchor, int sides_printed, int page_index, int numbering_base) {
  if (mode == kModeOneUp && rule == 1 && anchor == -1) return page_index + 1 - numbering_base;
  return sides_printed + 1;
}

bool HeaderFooterOnSide(int rule, int shown, int first_page, int numbering_base) {
  if (rule == 1) return true;
  if (rule == 0) return shown == first_page - numbering_base;
  return false;
}

int ProgressPosition(int total, int shown) {
  if (total <= 0) return 0;
  return (100 / total) * shown;
}

std::string PageLabel(int shown, int total) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%3d/%3d ページ", shown, total);
  return buf;
}

}  // namespace zv::printing
