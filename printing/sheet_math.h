// The arithmetic of a printed sheet side: where the pages of each layout mode go in the
// printable area, the separator lines between them, where the header and footer texts stand,
// which page number a side shows and the progress notices. Pure functions of the device's page
// values and the print settings; device pixels throughout, origin at the printable area's
// top-left corner.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "platform/spool/devmode.h"
#include "platform/wintypes/wintypes.h"

namespace zv::printing {

// The print settings the sheet layout reads.
struct SheetSettings {
  int offset_x = 0;  // print offset, 0.1 mm
  int offset_y = 0;
  int reduction = 1000;  // thousandths; 1000 prints at full size
  // 0 lines along column and row boundaries, 1 columns only, 2 rows only, other none.
  int separators = -1;
};

// Takes a length in 0.1 mm and a resolution; gives device pixels (value x 0.1 x dpi / 25.4,
// truncated toward zero).
int TenthsToPixels(int tenths, int dpi);

// The unprintable right and bottom margins of the device (pixels).
int RightMargin(const spool::PageGeometry& g);
int BottomMargin(const spool::PageGeometry& g);

// One page placed on a side.
struct CellPlacement {
  int page = 0;        // zero-based page index
  win::RECT rect{};    // destination, device pixels
  int resolution = 0;  // dots per inch the page is drawn at
};

// A separator line between two device points.
struct SeparatorLine {
  win::POINT from{}, to{};
  bool operator==(const SeparatorLine& o) const {
    return from.x == o.from.x && from.y == o.from.y && to.x == o.to.x && to.y == o.to.y;
  }
};

// Everything drawn on one side apart from the header and footer texts.
struct SidePlan {
  std::vector<CellPlacement> cells;
  std::vector<SeparatorLine> lines;  // in the order collected, without repeats
};

// Takes the layout mode, the device's page values, the settings, the header and footer
// heights, the zero-based index of the side's first page and the end of the run (one past its
// last page index); gives the pages of that side with their rectangles and resolutions, and
// the separator lines. Only pages below `end` are placed.
SidePlan PlanSide(int mode, const spool::PageGeometry& g, const SheetSettings& s, int header_height, int footer_height,
                  int first, int end);

// The grid of a grid mode (2, 4, 8, 12, 13) on this device: columns, rows and whether cells
// are filled column by column. None for the other modes.
struct Grid {
  int columns = 1, rows = 1;
  bool by_column = true;
};
std::optional<Grid> GridFor(int mode, const spool::PageGeometry& g);

// Header and footer texts: indexes 0-2 header left, centre, right; 3-5 footer left, centre,
// right.
enum TextSlot { kHeaderLeft, kHeaderCentre, kHeaderRight, kFooterLeft, kFooterCentre, kFooterRight };

// Takes a slot, a text width and the printable width; gives the text's x (left 0, centre
// width/2 - text/2, right width - text).
int TextX(int slot, int text_width, int horzres);

// Where the six texts stand and the room they take.
struct HeaderFooterPlacement {
  std::array<win::POINT, 6> at{};
  int header_height = 0;
  int footer_height = 0;
};
// Takes the printable area and the measured extent of each text (none for an empty text);
// gives the positions: header texts at y 0, footer texts at y = vertres - height of the first
// non-empty footer text (y 0 and height 0 without footer text); the header height is that of
// the last non-empty header text.
HeaderFooterPlacement PlaceHeaderFooter(int horzres, int vertres,
                                        const std::array<std::optional<win::SIZE>, 6>& extents);

// Takes the mode, the header and footer rule, the page-number anchor, the number of sides
// already printed in this run call, the side's first page index (zero-based), the run's first
// page (1-based) and the numbering base; gives the page number the side shows. One page per
// side: rule 0 counts the sides of the call from 1, rule 1 without anchor gives the page's
// number within the job's run (page - numbering base); every other case counts the sides.
int PageNumberShown(int mode, int rule, int anchor, int sides_printed, int page_index, int numbering_base);

// Takes the rule, the page number shown, the call's first page and the numbering base; gives
// true when the side carries the header and footer (rule 1 always; rule 0 when the number
// shown equals first page - numbering base; other rules never).
bool HeaderFooterOnSide(int rule, int shown, int first_page, int numbering_base);

// Takes the label total and the page number shown; gives the progress position
// (100 / total, integer division, times the number; 0 when the total is not positive).
int ProgressPosition(int total, int shown);
// The page label "%3d/%3d ページ".
std::string PageLabel(int shown, int total);

}  // namespace zv::printing
