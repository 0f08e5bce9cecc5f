// Private page records: enhanced-metafile comment records (EMR_GDICOMMENT) in which the
// field that normally holds the comment's data size holds a 16-bit marker and a 16-bit
// argument instead. Marker 100 is a list of positioned characters, 101 a positioned text
// run, 102 the page's text height, 103 a positioned text run that draws nothing (laid out as
// 101): the text of glyphs the page draws as outlines, kept for whoever reads the page's text
// (a saved PDF writes it as invisible text, a printed one keeps it without ink). Readers that
// do not know 103 pass over it as a damaged comment. Captured pages carry them; the viewer and the converter
// draw them. All values little-endian, records packed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/base/status.h"
#include "platform/wintypes/wintypes.h"

namespace zv::jobdoc {

constexpr std::uint16_t kMarkerCharList = 100;
constexpr std::uint16_t kMarkerTextRun = 101;
constexpr std::uint16_t kMarkerFontScale = 102;
constexpr std::uint16_t kMarkerHiddenTextRun = 103;
constexpr std::size_t kMaxCharListItems = 255;

#pragma pack(push, 1)
// The 12-byte head shared by the three records.
struct PrivateRecordHead {
  std::uint32_t type;      // 70 (EMR_GDICOMMENT)
  std::uint32_t size;      // whole record
  std::uint16_t marker;    // 100, 101 or 102
  std::uint16_t argument;  // item count, run width or text height
};
static_assert(sizeof(PrivateRecordHead) == 12);

// One item of a character list (marker 100).
struct CharListItem {
  std::int32_t x;  // logical units
  std::int32_t y;
  std::uint16_t code;  // a single byte, or lead byte × 256 + trail byte
  std::uint8_t flags;  // bit 0: draw with the Japanese character set
  std::uint8_t zero;
  friend bool operator==(const CharListItem&, const CharListItem&) = default;
};
static_assert(sizeof(CharListItem) == 12);

// The optional tail of a text run (marker 101).
struct TextRunExtension {
  win::RECT clip;         // all 0 when there is no clipping rectangle
  std::uint16_t options;  // ExtTextOut options
  std::uint8_t flags;     // bit 0: the text holds special-range characters (Japanese set)
  std::uint8_t zero;
  friend bool operator==(const TextRunExtension& a, const TextRunExtension& b) {
    return a.clip.left == b.clip.left && a.clip.top == b.clip.top && a.clip.right == b.clip.right &&
           a.clip.bottom == b.clip.bottom && a.options == b.options && a.flags == b.flags && a.zero == b.zero;
  }
};
static_assert(sizeof(TextRunExtension) == 20);
#pragma pack(pop)

// A positioned text run (marker 101).
struct TextRun {
  std::uint16_t width = 0;  // logical units; 0 = none given
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::string text;  // ANSI bytes (CP932), without the NUL
  std::optional<TextRunExtension> extension;
  friend bool operator==(const TextRun&, const TextRun&) = default;
};

// What a comment record turned out to be.
struct PrivateRecord {
  enum class Kind { kNotPrivate, kCharList, kTextRun, kFontScale, kHiddenTextRun };
  Kind kind = Kind::kNotPrivate;
  std::vector<CharListItem> chars;  // kCharList
  TextRun run;                      // kTextRun, kHiddenTextRun
  std::uint16_t text_height = 0;    // kFontScale
};

// Takes the bytes of one metafile record (at least its nSize bytes); tells whether it is a
// private record and gives its content. A record is private only when its type is 70 and
// its size agrees with its marker; any other record, including an ordinary comment whose
// data size merely looks like a marker, is kNotPrivate. Corruption when the record is a
// comment that is neither (e.g. a character list whose count does not fit its record), or
// when the bytes are shorter than the record's own size.
Result<PrivateRecord> ParsePrivateRecord(std::span<const std::uint8_t> record);

// Takes up to 255 items; gives a marker-100 record. InvalidArgument for more items.
Result<std::vector<std::uint8_t>> BuildCharListRecord(std::span<const CharListItem> items);
// Takes a run; gives a marker-101 record, its size rounded up to a multiple of 4.
// InvalidArgument when the text holds a NUL.
Result<std::vector<std::uint8_t>> BuildTextRunRecord(const TextRun& run);
// The same as a marker-103 record: a run that draws nothing.
Result<std::vector<std::uint8_t>> BuildHiddenTextRunRecord(const TextRun& run);
// Takes the text height; gives the 12-byte marker-102 record.
std::vector<std::uint8_t> BuildFontScaleRecord(std::uint16_t text_height);

}  // namespace zv::jobdoc
