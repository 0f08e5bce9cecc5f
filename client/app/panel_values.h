// The settings panel's values without windows: the layout page's choices as the preview and
// the request number them, the copies clamp and the print range.
#pragma once

#include <string_view>
#include <vector>

namespace zv::client::app {

// The layout page's choices as the radios stand.
struct LayoutChoice {
  int pages_per_sheet = 1;  // 1, 2, 4, 8
  int direction = 1;        // 1 vertical order, 2 horizontal
  int separator = 3;        // as the request numbers them: 0 both, 1 vertical, 2 horizontal, 3 none
};

// Which radio groups the pages-per-sheet choice enables.
struct LayoutEnables {
  bool direction = false;
  bool separators = false;
};
// Takes pages per sheet; gives the groups enabled (1: none, 2: separators, 4 and 8: both).
LayoutEnables EnablesFor(int pages_per_sheet);

// What the preview is told: pages per sheet, direction and its own separator code.
struct PreviewSplit {
  int pages = 1, direction = 0, separator = 0;
};
// Takes the choice and the document's first page size (0 x 0 when there is none). One page
// per sheet has no direction and no separators; two pages follow the first page (portrait:
// 2, landscape: 1). The preview's separators: both 3, vertical 1, horizontal 2, none 0.
PreviewSplit ToPreviewSplit(const LayoutChoice& c, int first_width, int first_height);

// Gives the request's thumbnail code of pages per sheet (1 0, 2 1, 4 2, 8 3).
int ThumbnailCode(int pages_per_sheet);
// Gives the pages per sheet of a thumbnail code (out of range: 1).
int PagesPerSheet(int thumbnail_code);

// Takes the copies field's text; gives the copies within 1 to 100 (text that is no number
// reads as 0 and so becomes 1).
int ClampCopies(std::string_view text);

// One print-offset field of the layout page: its range and the value it takes when a stored
// value is out of range at start-up.
struct OffsetField {
  float min, max, fallback;
};
inline constexpr OffsetField kTopOffset{-50.0f, 50.0f, 0.0f};      // millimetres
inline constexpr OffsetField kLeftOffset{-50.0f, 50.0f, 0.0f};     // millimetres
inline constexpr OffsetField kScaleOffset{10.0f, 100.0f, 100.0f};  // percent

// Takes an offset field's text; gives whether it reads as a number: not empty, only digits,
// at most one "." and a "-" only in front ("-", "." and "-." pass and read as 0).
bool IsOffsetNumber(std::string_view text);
// Takes a text IsOffsetNumber accepted; gives its value.
float ReadOffset(std::string_view text);
// Takes a value in range and an up-down step (negative: up, positive: down, 0: none); gives
// the value 0.1 higher or lower, or unchanged at the bound it moves towards.
float StepOffset(float value, int step, const OffsetField& field);
// Takes a value; gives it in tenths truncated toward zero (as the request carries it).
int OffsetTenths(float value);

// Takes the job rows' page counts in order and a page (from 0); gives the row that holds
// the page, the last row when none does, -1 when there are no rows.
int JobRowForPage(const std::vector<int>& page_counts, int page);

// The help file's name.
inline constexpr char kHelpFileName[] = "ZvkHelp.html";

}  // namespace zv::client::app
