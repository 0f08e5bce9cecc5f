// Small, valid sample documents built in code: enhanced-metafile pages with the private
// text records that captured pages carry, and whole documents with texts, changing page
// attributes and an attachment. Used by the tests, the benchmarks and the demo tool.
#pragma once

#include <cstdint>
#include <vector>

#include "jobdoc/image.h"

namespace zv::jobdoc::sample {

// Gives an A4 page at 600 dpi: the text height record, `lines` text runs ("Page N, line M
// ..."), a character list and a rectangle every eighth line, and a rule at the top.
// About 60 bytes per line.
std::vector<std::uint8_t> MakePage(int page_number, int lines);

// Gives a document of `pages` pages (A4 portrait, with A4 landscape and a rotated B5 page
// among them when there are enough pages), a name, both texts, a record that names the
// first page's paper and, when asked, one attachment of `attachment_bytes` pseudo-random
// bytes.
DocumentImage MakeDocument(int pages, int lines_per_page, bool attachment, std::size_t attachment_bytes = 3000);

// Gives `n` bytes of English-like text (words, spaces, line ends) from a fixed seed.
std::vector<std::uint8_t> TextLike(std::size_t n, std::uint32_t seed = 1);
// Gives `n` bytes that do not compress (a fixed pseudo-random stream).
std::vector<std::uint8_t> Random(std::size_t n, std::uint32_t seed = 7);

}  // namespace zv::jobdoc::sample
