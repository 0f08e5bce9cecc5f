// The EMF corpus of the drawing layer's benchmarks: thirteen A4 pages recorded at 300 dpi, of
// the kinds office programs print (text in Latin and Japanese faces, pictures, letters, charts,
// tables, clipped catalogues, turned text, forms) and of the kinds a printer must print as
// pixels (raster operations over parts of a page, a binary raster operation of the pen, many
// raster areas). bench/gdi plays them into bitmaps and prints them through the printer
// surface; the same pages serve the comparison of rendered pixels before and after a change.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zv::gdi::corpus {

struct CorpusPage {
  std::string name;                 // "01-latin-text" ... "13-form"
  std::vector<std::uint8_t> bytes;  // the enhanced metafile
};

// Gives the thirteen pages in their order, recorded once for the process.
const std::vector<CorpusPage>& Pages();

// Gives the page of that name; nullptr when there is none.
const CorpusPage* Page(std::string_view name);

}  // namespace zv::gdi::corpus
