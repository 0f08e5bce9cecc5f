// Pages for the conversion library's tests and benchmarks, built in code: metafiles with
// rectangles, private text records (as captured pages carry them) and pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/lumbrel/convert.h"
#include "jobdoc/private_records.h"

namespace zv::lumbrel::testing {

using Bytes = std::vector<std::uint8_t>;

// A4 in 1/28800 inch (2100 x 2970 tenths of a millimetre).
inline constexpr std::uint32_t kA4Short = 2100 * 28800 / 254;
inline constexpr std::uint32_t kA4Long = 2970 * 28800 / 254;

// A page's metafile with the size the caller passes for it.
struct TestPage {
  Bytes metafile;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Gives an A4 page at 300 dpi (2480 x 3508, or 3508 x 2480 landscape) with a filled rectangle
// from 20 % to 40 % of the width and 20 % to 30 % of the height in `colour` (COLORREF), and,
// unless `text` is empty, that text as one private run in Arial 100 units high at the page's
// centre with alignment `align`.
TestPage RectanglePage(bool landscape, std::uint32_t colour, const std::string& text = "", std::uint32_t align = 0);

// Gives a portrait A4 page whose only drawing is one private character list in `face`, 100
// units high.
TestPage CharListPage(const std::vector<jobdoc::CharListItem>& items, const std::string& face = "Arial");

// Gives an A4 page of 60 lines of private text runs.
TestPage TextPage();

// Gives an A4 page filled by one stretched 24-bit picture of 600 x 800 noisy pixels.
TestPage PhotoPage();

// Gives the converter's view of pages.
std::vector<Page> View(const std::vector<TestPage>& pages);

}  // namespace zv::lumbrel::testing
