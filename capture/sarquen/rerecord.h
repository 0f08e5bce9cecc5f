// Re-recording a captured page: every record of the page is looked at in order, played into a
// state-keeping device context where its effect matters for later text, and written to the
// captured page, except that text becomes private text records (character lists of up to 255
// items, text runs) where CP932 holds it, stays wide text (EMR_EXTTEXTOUTW, which every reader
// plays) where it does not, and becomes pixels only for user-defined characters; control comments go to the caller and
// are never written, record types the document format does not carry are dropped, and rectangles that touch the
// previous one are widened by one unit so no hairline gap shows.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "platform/base/status.h"

namespace zv::capture {

struct RerecordOptions {
  // The page's text height (the argument of the font-scale record written after the header).
  std::uint16_t text_height = 28;
  // Drop the frame polygons a browser prints around pages.
  bool frame_filter = false;
  // Gets every comment record (type 70) of the page; may be null.
  std::function<void(std::span<const std::uint8_t> record)> on_comment;
};

struct RerecordedPage {
  std::vector<std::uint8_t> bytes;  // a whole metafile, nBytes and nRecords patched
  std::uint32_t records = 0;
};

// Takes the bytes of one metafile page and the options; gives the re-recorded page.
// Corruption when the page's header or a record is damaged.
Result<RerecordedPage> RerecordPage(std::span<const std::uint8_t> page, const RerecordOptions& options);

// Takes a print quality (dots per inch); gives the text height of the font-scale record.
std::uint16_t TextHeightForQuality(int print_quality);

}  // namespace zv::capture
