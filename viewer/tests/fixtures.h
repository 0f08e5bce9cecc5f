// Fixtures for the viewer tests: metafile pages built with the metafile builder and whole
// document images built with the job document writer.
#pragma once

#include <cstdint>
#include <vector>

#include "jobdoc/image.h"

namespace zv::viewer::testing {

using Bytes = std::vector<std::uint8_t>;

// Gives an A4 page (reference device 2480 x 3508 at 300 dpi) with a rectangle; when `size`
// is given the page is padded with a comment to exactly that many bytes (a multiple of 4).
Bytes BlankA4Page(std::size_t size = 0);

// Gives the attributes of A4 portrait (paper 9, 2100 x 2970), optionally landscape.
jobdoc::PageAttributes A4(bool landscape = false);

// Gives a document of `pages` A4 pages named "doc"; page i holds i + 1 rectangles so pages
// can be told apart by their size.
jobdoc::DocumentImage MakeDocument(int pages);

// Gives the image of a document (no trailers).
Bytes ImageOf(const jobdoc::DocumentImage& doc);

}  // namespace zv::viewer::testing
