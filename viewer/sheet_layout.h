// Sheet layout arithmetic of the viewer: where the pages of a sheet go, how page boxes fit
// into rectangles and cells, where separator lines and header room lie. Pure integer
// arithmetic on rectangles; no drawing and no platform calls, so every rule is tested as a
// table. Every division is guarded: a zero size, column or row count gives an empty or
// unchanged result, never a fault.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/wintypes/wintypes.h"

namespace zv::viewer {

using win::POINT;
using win::RECT;
using win::SIZE;

// How one sheet is divided: six 32-bit values in the order callers pass them.
struct SheetLayout {
  std::uint32_t pages = 1;      // pages per sheet (1, 2, 4 or 8 in use)
  std::int32_t order = 0;       // 1 column by column, 2 row by row, 0 none
  std::int32_t separators = 0;  // 0 none, 1 between columns, 2 between rows, 3 both
  std::uint32_t columns = 1;
  std::uint32_t rows = 1;
  std::int32_t orientation = 0;  // sheet orientation code 1 or 2
};

// One paper's margins in 0.1 mm (a record of the paper margin list).
struct PaperMargins {
  std::int32_t paper_code = 0;
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// A line segment to draw from `from` to `to` (MoveTo / LineTo).
struct LineSegment {
  POINT from{};
  POINT to{};
  friend bool operator==(const LineSegment& a, const LineSegment& b) {
    return a.from.x == b.from.x && a.from.y == b.from.y && a.to.x == b.to.x && a.to.y == b.to.y;
  }
};

inline std::int32_t Width(const RECT& r) { return r.right - r.left; }
inline std::int32_t Height(const RECT& r) { return r.bottom - r.top; }

// Takes a page's extent (page units) and its metafile's reference device size; gives the
// page box fitted to the device's aspect: (ex, ex*cy/cx) when ex < ey*cx/cy, else
// (ey*cx/cy, ey), in 64-bit arithmetic. A zero or negative device size gives the extent.
POINT FitPageBox(std::int64_t extent_x, std::int64_t extent_y, std::int64_t device_cx, std::int64_t device_cy);

// Takes a rectangle and a box's width and height; gives the largest rectangle of the box's
// proportions inside the rectangle, centred in it. An empty box gives an empty rectangle at
// the rectangle's top-left corner.
RECT FitCentred(const RECT& rect, std::int64_t box_w, std::int64_t box_h);

// Moves a layout slot's rectangle by the header height `dx` and footer height `dy` (the
// header room of a sheet); left and right edges are kept. Gives 1.
int OffsetSlotRect(RECT* rect, int dx, int dy, const SheetLayout& layout, int slot);

// Takes a turned page's rotation value (1 or 16), the header and footer heights, the layout
// and the slot; gives the vertical offset of the turned image in its slot.
int GetSlotOffset(int direction, int header_height, int footer_height, const SheetLayout& layout, int slot);

// Takes a cell origin, the first cell, the slot just filled and the layout; gives the origin
// of the next cell.
POINT NextSlotOrigin(POINT origin, const RECT& first_cell, int slot, const SheetLayout& layout);

// Takes the first origin, the first cell, the printable area, the layout, the header and
// footer heights and whether the header room applies to this sheet; gives the blue separator
// lines of one sheet in drawing order (none when the separator setting or slot order is 0).
std::vector<LineSegment> SlotSeparatorLines(POINT origin, const RECT& first_cell, const RECT& area,
                                            const SheetLayout& layout, int header_height, int footer_height,
                                            bool header_room);

// Takes the printable area, the header and footer heights (0 when the header room does not
// apply); gives the four lines of the dotted frame round the printable area.
std::vector<LineSegment> PrintableFrameLines(const RECT& area, int header_height, int footer_height);

// Takes the page index after the last page drawn and the layout's pages per sheet; gives the
// sheet number shown in the header and footer.
int SheetNumber(int next_page, std::uint32_t pages_per_sheet);
// Takes the page count and pages per sheet; gives the total shown for "<総ページ>".
int SheetTotal(int page_count, std::uint32_t pages_per_sheet);

// True when the header and footer are shown on a sheet: rule 1, or rule 0 on the first sheet.
bool HeaderRoomApplies(int numbering_rule, bool first_sheet);

// Sheet margins in pixels of the sheet (left, top, right, bottom).
struct SheetMargins {
  int left = 0, top = 0, right = 0, bottom = 0;
};
// Takes the sheet's size in pixels, the paper's width and height in 0.1 mm (already turned
// for a landscape sheet), the margins in 0.1 mm and whether the sheet is landscape; gives the
// margins in sheet pixels, turned on a landscape sheet (left takes bottom, top takes left,
// right takes top, bottom takes right). A zero paper size gives zero margins.
SheetMargins MarginsInPixels(int sheet_w, int sheet_h, int paper_w, int paper_h, const PaperMargins& margins,
                             bool landscape);

// Takes the margin list, whether the paper code is -1 and the first page's paper code; gives
// the margins that apply (all zero for an empty list).
PaperMargins ChooseMargins(const std::vector<PaperMargins>& list, bool own_paper, int first_page_paper);

// Takes the page's width and length (0.1 mm), whether it is portrait (extent x <= extent y),
// the usable cell size (pixels); gives the fitted page box (width, height) in pixels.
POINT FitPageInCell(int width, int length, bool portrait, int usable_w, int usable_h);

// Takes the header font's point size, the device's vertical resolution, the screen width and
// the sheet width; gives the lfHeight that scales the header text with the sheet on screen
// (0 when a size is zero; at least one pixel high when the sheet is tiny).
int HeaderFontHeight(int points, int logpixels_y, int screen_width, int sheet_width);

// Takes the offset in millimetres (a float field), the sheet size in pixels and the paper
// size in 0.1 mm; gives the offset in sheet pixels (0 when the paper size is 0).
int OffsetInPixels(float offset_mm, int sheet_size, int paper_size);

}  // namespace zv::viewer
