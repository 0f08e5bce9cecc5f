// Small, valid sample documents built in code: enhanced-metafile pages with the private
// text records that captured pages carry, and whole documents with texts, changing page
// attributes and an attachment. Used by the tests, the benchmarks and the demo tool.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "jobdoc/image.h"

namespace zv::jobdoc::sample {

// Builds one enhanced metafile: the header first, then the records added, then EMR_EOF.
class MetafileBuilder {
 public:
  // Takes the page size in 0.01 mm (the header's frame).
  explicit MetafileBuilder(std::int32_t width_hmm = 21000, std::int32_t height_hmm = 29700);
  // Appends a whole record (its own type and size fields included).
  void Add(std::span<const std::uint8_t> record);
  // Appends a record of `type` with the given payload (after the 8-byte type and size),
  // padded to a multiple of 4.
  void AddRecord(std::uint32_t type, std::span<const std::uint8_t> payload);
  // Appends EMR_EOF and gives the metafile with nBytes and nRecords filled in.
  std::vector<std::uint8_t> Finish();

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint32_t records_ = 1;
};

// Gives a page: the text height record, `lines` text runs ("Page N, line M ..."), a
// character list, a few rectangles and lines. About 60 bytes per line.
std::vector<std::uint8_t> MakePage(int page_number, int lines);

// Gives a document of `pages` pages (A4 portrait, with A4 landscape and a rotated B5 page
// among them when there are enough pages), a name, both texts and, when asked, one
// attachment of `attachment_bytes` pseudo-random bytes.
DocumentImage MakeDocument(int pages, int lines_per_page, bool attachment,
                           std::size_t attachment_bytes = 3000);

}  // namespace zv::jobdoc::sample
