// Arithmetic of the page view: zoom, the sheet grid, scroll ranges, where rows lie, which
// row a scroll position shows, page-pick hit tests, the magnifier lens and the selection
// rectangle. Pure integer code on plain values (no windows, no drawing), so the window code
// only draws and forwards input. Page sizes are in page units of 1/28800 inch; a length L
// shows as L x resolution / 28800 pixels. Every division is guarded: a zero size gives an
// empty or unchanged result, never a fault.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/wintypes/wintypes.h"
#include "viewer/sheet_layout.h"

namespace zv::viewer::view {

using win::POINT;
using win::RECT;

inline constexpr int kPageUnitsPerInch = 28800;
inline constexpr int kRowGap = 4;  // pixels between page rows and round the column
inline constexpr int kMinPercent = 10;
inline constexpr int kMaxPercent = 200;

// Zoom modes of the view.
enum ZoomMode : int { kWholePage = 0, kPageWidth = 1, kMaximum = 2, kFree = 3 };

// A page or paper size in page units.
struct UnitSize {
  std::int64_t w = 0, h = 0;
  friend bool operator==(const UnitSize&, const UnitSize&) = default;
};

// What a zoom request comes to.
struct ZoomResult {
  bool needs_dialog = false;  // the free-zoom dialog decides (nothing else is set)
  int mode = kPageWidth;
  int percent = 0;
  int resolution = 0;  // pixels per inch the pages are drawn at
  friend bool operator==(const ZoomResult&, const ZoomResult&) = default;
};

// Takes the requested zoom (0 whole page, 1 page width, 2 maximum, 10..200 a free
// percentage, anything else the dialog), the page area's size, the reference size (page
// units) and the screen resolution; gives the mode, percentage and display resolution.
// Percentages below 10 become 10 at screen / 10; whole page and page width have no upper
// bound. An empty area or reference size gives screen / 10 for whole page and page width.
ZoomResult ComputeZoom(int request, int area_w, int area_h, UnitSize reference, int screen_res);

// Takes the pages' sizes (page units) and the paper size (w or h 0: no paper record);
// gives the reference size the zoom divides by: without paper the largest width and the
// largest height; with paper its size, exchanged when every page is landscape (wider than
// high) and its height both ways when pages of both orientations occur.
UnitSize ReferenceSize(const std::vector<UnitSize>& pages, UnitSize paper);

// The grid of a sheet row and the size of one row slot.
struct SheetGrid {
  std::uint32_t columns = 1, rows = 1;
  std::int32_t orientation = 1;  // sheet orientation code
  UnitSize slot;                 // the row slot in page units
  friend bool operator==(const SheetGrid&, const SheetGrid&) = default;
};

// Takes the pages per sheet, page 0's size (or the paper turned to page 0's orientation)
// and the reference size; gives the grid: 2 pages 1 x 2 (landscape, code 1) or 2 x 1
// (code 2) with the slot exchanged; 4 pages 2 x 2 (code 2 for landscape pages, else 1);
// 8 pages 2 x 4 (landscape, code 1) or 4 x 2 (code 2), exchanged; others 1 x 1, code 1.
SheetGrid ComputeSheetGrid(std::uint32_t pages_per_sheet, UnitSize page0, UnitSize reference);

// Gives a length in page units as pixels at a resolution.
inline int UnitsToPixels(std::int64_t units, int resolution) { return int(units * resolution / kPageUnitsPerInch); }

// One scroll axis: enabled with positions 0..max, or disabled.
struct ScrollAxis {
  bool enabled = false;
  int max = 0;
  friend bool operator==(const ScrollAxis&, const ScrollAxis&) = default;
};

// The view's scrolling for a page count.
struct ScrollLayout {
  int rows = 0;            // sheet rows
  int content_height = 0;  // rows x (page height + 4) + 4
  ScrollAxis vertical, horizontal;
  friend bool operator==(const ScrollLayout&, const ScrollLayout&) = default;
};

// Takes the page count, pages per sheet, the slot's size in pixels and the area's size;
// gives the rows, content height and both scroll axes.
ScrollLayout ComputeScrollLayout(int page_count, std::uint32_t pages_per_sheet, int page_w, int page_h, int area_w,
                                 int area_h);

// Takes a scroll position (vertical), the layout, the slot height, the area height, the
// page count and pages per sheet; gives the current row: position / (height + 4), or the
// next row when the position is inside a row and the row a third of the area further down
// differs; 0 at the start of the range and the last row at its end.
int CurrentRow(int position, const ScrollLayout& layout, int page_h, int area_h, int page_count,
               std::uint32_t pages_per_sheet);

// Takes a scroll position and an axis; gives the position clamped to 0..max (0 when the
// axis is disabled).
int ClampPosition(int position, const ScrollAxis& axis);

// Gives the scroll position that puts a row at the top (clamped to the axis).
int RowPosition(int row, int page_h, const ScrollAxis& axis);

// Takes the row, the area, the slot size, the scroll positions and the layout; gives the
// row's slot rectangle in client coordinates: centred horizontally while the horizontal
// axis is disabled, else 4 pixels in from the left less the position; row n at
// n x (height + 4) + 4 below the top less the position, or the rows centred vertically
// while the vertical axis is disabled.
RECT RowRect(int row, const RECT& area, int page_w, int page_h, int hpos, int vpos, const ScrollLayout& layout);

// Takes a client rectangle and the same values; gives the rows that meet it (first, last
// inclusive; last < first when none).
struct RowSpan {
  int first = 0, last = -1;
  friend bool operator==(const RowSpan&, const RowSpan&) = default;
};
RowSpan VisibleRows(const RECT& rect, const RECT& area, int page_w, int page_h, int hpos, int vpos,
                    const ScrollLayout& layout);

// Takes a point in client coordinates and the same values; gives the row under it, or -1.
int RowAt(POINT p, const RECT& area, int page_w, int page_h, int hpos, int vpos, const ScrollLayout& layout);

// Navigation rules (the vertical axis and the page count decide).
bool CanGoPrevious(int page_count, const ScrollAxis& v, int position);
bool CanChoosePage(int page_count, const ScrollAxis& v);
bool CanGoNext(int page_count, const ScrollAxis& v, int position);

// Takes a sheet's drawn rectangle inside its row slot, the layout and a point; gives the
// slot index under the point (column by column for order 1, row by row otherwise), or -1
// outside the sheet.
int SlotAt(const RECT& sheet, const SheetLayout& layout, POINT p);
// Takes the sheet rectangle, the layout and a slot; gives the slot's cell rectangle.
RECT SlotRect(const RECT& sheet, const SheetLayout& layout, int slot);

// Takes the slot rectangle, the page box (page units) and the drawing resolution; gives
// the sheet rectangle that the sheet drawing fits into the slot (box proportions, centred).
RECT SheetRectInSlot(const RECT& slot, UnitSize box);

// The magnifier lens.
inline constexpr int kLensWidth = 400;
inline constexpr int kLensHeight = 300;
inline constexpr int kLensCorner = 100;  // corner ellipse width and height

// Gives the lens rectangle centred on a point.
RECT LensRect(POINT centre);

// Takes the cursor, the page's rectangle on screen, the display resolution and the screen
// resolution; gives the top-left corner of the page magnified at twice the screen
// resolution relative to the cursor, so that the page point under the cursor stays under
// it. A cursor beyond the page edge is clamped to it and the remainder added.
POINT LensPlacement(POINT cursor, const RECT& page, int display_res, int screen_res);

// Gives a rectangle with left <= right and top <= bottom.
RECT Normalised(const RECT& r);
// Gives true when the rectangle has no area.
bool IsEmpty(const RECT& r);
// Gives the smallest rectangle holding both (an empty one counts for nothing).
RECT Union(const RECT& a, const RECT& b);
// Gives the intersection (empty when they do not meet).
RECT Intersect(const RECT& a, const RECT& b);

// Corner handles of the selection: 0 none, 1 top-left, 2 top-right, 3 bottom-left,
// 4 bottom-right (6 x 6 pixels each, drawn inside the corners, only when the rectangle is
// larger than 6 pixels both ways).
inline constexpr int kHandleSize = 6;
int HandleAt(const RECT& selection, POINT p);
// Takes the selection, the handle being dragged and the cursor; gives the new rectangle
// (not normalised while dragging).
RECT DragHandle(const RECT& selection, int handle, POINT p);

// Auto-scroll step from a hand drag: (start y - release y) / 10, at most +-20; 0 keeps +-1
// in the direction of the current step.
int AutoScrollStep(int start_y, int release_y, int current_step);

// Middle-button scrolling: the cursor's distance from the origin less 14 where it exceeds
// 14 (each axis).
POINT MiddleScroll(POINT origin, POINT cursor);

// Scroll toward a cursor outside the area: half the distance from the area's edge on each
// axis where it is outside, 0 inside.
POINT EdgeScroll(const RECT& area, POINT cursor);

}  // namespace zv::viewer::view
