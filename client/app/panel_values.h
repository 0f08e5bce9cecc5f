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

// Takes the job rows' page counts in order and a page (from 0); gives the row that holds
// the page, the last row when none does, -1 when there are no rows.
int JobRowForPage(const std::vector<int>& page_counts, int page);

}  // namespace zv::client::app
