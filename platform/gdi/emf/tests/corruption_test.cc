// Deterministic corruption: bytes of a valid metafile are changed one way at a time and the
// reader must give an error (never crash or read outside the bytes; the sanitizer run checks
// the latter).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/gdi/emf/reader.h"
#include "platform/gdi/emf/records.h"
#include "platform/gdi/emf/tests/fixture.h"

namespace zv::emf {
namespace {

using namespace win;
using Bytes = std::vector<std::uint8_t>;

// Parses, steps through and validates every record; gives the first error.
Status ReadEverything(std::span<const std::uint8_t> bytes) {
  auto mf = Metafile::Parse(bytes);
  if (!mf.ok()) return mf.status();
  return ValidateAll(*mf);
}

// Offsets of the first record of each type in the valid fixture.
std::map<std::uint32_t, std::size_t> FirstOffsets(const Bytes& bytes) {
  std::map<std::uint32_t, std::size_t> at;
  auto mf = Metafile::Parse(bytes);
  RecordReader rd = mf->records();
  Record r;
  while (rd.Next(&r)) at.emplace(r.type, r.offset);
  return at;
}

void Put32(Bytes& b, std::size_t off, std::uint32_t v) { std::memcpy(b.data() + off, &v, 4); }
std::uint32_t Get32(const Bytes& b, std::size_t off) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + off, 4);
  return v;
}

TEST(EmfCorruption, EveryChangedFieldGivesAnError) {
  const Bytes valid = testing::RichMetafile();
  ASSERT_TRUE(ReadEverything(valid).ok());
  auto at = FirstOffsets(valid);
  const std::size_t rect = at[EMR_RECTANGLE], sel = at[EMR_SELECTOBJECT], pen = at[EMR_CREATEPEN];
  const std::size_t poly = at[EMR_POLYGON], poly16 = at[EMR_POLYLINE16], pp = at[EMR_POLYPOLYGON];
  const std::size_t text = at[EMR_EXTTEXTOUTW], small = at[EMR_SMALLTEXTOUT];
  const std::size_t sdib = at[EMR_STRETCHDIBITS], todev = at[EMR_SETDIBITSTODEVICE];
  const std::size_t clip = at[EMR_EXTSELECTCLIPRGN], fill = at[EMR_FILLRGN];
  const std::size_t xpen = at[EMR_EXTCREATEPEN], pat = at[EMR_CREATEDIBPATTERNBRUSHPT];
  const std::size_t font = at[EMR_EXTCREATEFONTINDIRECTW], draw = at[EMR_POLYDRAW];
  const std::size_t bmi = sdib + 80;  // the fixture's bitmap header follows the fixed part

  struct Case {
    const char* name;
    std::function<void(Bytes&)> change;
  };
  const Case cases[] = {
      // Header.
      {"signature", [](Bytes& b) { Put32(b, 40, 0x12345678); }},
      {"first record not a header", [](Bytes& b) { Put32(b, 0, EMR_RECTANGLE); }},
      {"header nSize 0", [](Bytes& b) { Put32(b, 4, 0); }},
      {"header nSize odd", [](Bytes& b) { Put32(b, 4, 109); }},
      {"header nSize past nBytes", [&](Bytes& b) { Put32(b, 4, Get32(b, 48) + 4); }},
      {"nBytes past the bytes", [&](Bytes& b) { Put32(b, 48, Get32(b, 48) + 4); }},
      {"nBytes huge", [](Bytes& b) { Put32(b, 48, 0xFFFFFFFC); }},
      {"nBytes odd", [&](Bytes& b) { Put32(b, 48, Get32(b, 48) - 2); }},
      {"no reference device", [](Bytes& b) { Put32(b, 72, 0); }},
      {"negative millimetres", [](Bytes& b) { Put32(b, 84, std::uint32_t(-5)); }},
      {"description outside the header",
       [](Bytes& b) {
         Put32(b, 60, 100);
         Put32(b, 64, 88);
       }},
      {"description offset huge",
       [](Bytes& b) {
         Put32(b, 60, 2);
         Put32(b, 64, 0xFFFFFFF0);
       }},
      // Record envelopes.
      {"record nSize 0", [&](Bytes& b) { Put32(b, rect + 4, 0); }},
      {"record nSize 4", [&](Bytes& b) { Put32(b, rect + 4, 4); }},
      {"record nSize odd", [&](Bytes& b) { Put32(b, rect + 4, 25); }},
      {"record nSize past the end", [&](Bytes& b) { Put32(b, rect + 4, 0x7FFFFFF0); }},
      {"record nSize wraps", [&](Bytes& b) { Put32(b, rect + 4, 0xFFFFFFFC); }},
      {"second header", [&](Bytes& b) { Put32(b, rect, EMR_HEADER); }},
      {"fixed record too short", [&](Bytes& b) { Put32(b, rect, EMR_ROUNDRECT); }},
      // Handles.
      {"select handle at the table size", [&](Bytes& b) { Put32(b, sel + 8, 6); }},
      {"select handle 0", [&](Bytes& b) { Put32(b, sel + 8, 0); }},
      {"select unknown stock object", [&](Bytes& b) { Put32(b, sel + 8, ENHMETA_STOCK_OBJECT | 9); }},
      {"select stock object past the last", [&](Bytes& b) { Put32(b, sel + 8, ENHMETA_STOCK_OBJECT | 40); }},
      {"create pen in slot 0", [&](Bytes& b) { Put32(b, pen + 8, 0); }},
      {"create pen past the table", [&](Bytes& b) { Put32(b, pen + 8, 0xFFFF); }},
      {"create pen as stock object", [&](Bytes& b) { Put32(b, pen + 8, ENHMETA_STOCK_OBJECT | 7); }},
      {"create font past the table", [&](Bytes& b) { Put32(b, font + 8, 6); }},
      {"font record cut short", [&](Bytes& b) { Put32(b, rect, EMR_EXTCREATEFONTINDIRECTW); }},
      {"fill region brush past the table", [&](Bytes& b) { Put32(b, fill + 28, 9); }},
      // Points.
      {"poly count huge", [&](Bytes& b) { Put32(b, poly + 24, 0xFFFFFFFF); }},
      {"poly count one too many", [&](Bytes& b) { Put32(b, poly + 24, 4); }},
      {"16-bit poly count one too many", [&](Bytes& b) { Put32(b, poly16 + 24, 4); }},
      {"poly-poly polygon count huge", [&](Bytes& b) { Put32(b, pp + 24, 0x40000000); }},
      {"poly-poly counts do not add up", [&](Bytes& b) { Put32(b, pp + 32, 4); }},
      {"poly-poly counts overflow 32 bits",
       [&](Bytes& b) {
         Put32(b, pp + 32, 0xFFFFFFFF);
         Put32(b, pp + 36, 0xFFFFFFFF);
         Put32(b, pp + 28, 0xFFFFFFFE);
       }},
      {"poly-draw types past the end", [&](Bytes& b) { Put32(b, draw + 24, 4); }},
      {"extended pen style entries huge", [&](Bytes& b) { Put32(b, xpen + 28 + 20, 0x40000001); }},
      // Text.
      {"text count huge", [&](Bytes& b) { Put32(b, text + 36 + 8, 0x80000000); }},
      {"text offset past the end", [&](Bytes& b) { Put32(b, text + 36 + 12, 0xFFFFFFF0); }},
      {"text offset inside the fixed part", [&](Bytes& b) { Put32(b, text + 36 + 12, 8); }},
      {"advances past the end", [&](Bytes& b) { Put32(b, text + 36 + 36, 0xFFFFFFFC); }},
      {"advances doubled by ETO_PDY", [&](Bytes& b) { Put32(b, text + 36 + 16, Get32(b, text + 36 + 16) | ETO_PDY); }},
      {"small text count past the end", [&](Bytes& b) { Put32(b, small + 16, 7); }},
      {"small text wide instead of bytes",
       [&](Bytes& b) {
         Put32(b, small + 20, ETO_NO_RECT);
         Put32(b, small + 16, 3);
       }},
      // Bitmaps.
      {"bitmap width huge", [&](Bytes& b) { Put32(b, bmi + 4, 0x7FFFFFFF); }},
      {"bitmap height huge", [&](Bytes& b) { Put32(b, bmi + 8, 0x7FFFFFFF); }},
      {"bitmap height INT_MIN", [&](Bytes& b) { Put32(b, bmi + 8, 0x80000000); }},
      {"bitmap dims overflow",
       [&](Bytes& b) {
         Put32(b, bmi + 4, 0x10000);
         Put32(b, bmi + 8, 0x10001);
       }},
      {"bitmap width 0", [&](Bytes& b) { Put32(b, bmi + 4, 0); }},
      {"bitmap bits shorter than rows", [&](Bytes& b) { Put32(b, bmi + 8, 3); }},
      {"bitmap bit count 7", [&](Bytes& b) { b[bmi + 14] = 7; }},
      {"bitmap header size huge", [&](Bytes& b) { Put32(b, bmi, 0xFFFFFFF0); }},
      {"bitmap offset past the end", [&](Bytes& b) { Put32(b, sdib + 48, 0xFFFFFFF0); }},
      {"bitmap offset inside the fixed part", [&](Bytes& b) { Put32(b, sdib + 48, 12); }},
      {"bits size past the end", [&](Bytes& b) { Put32(b, sdib + 60, 0x7FFFFFFF); }},
      {"bits offset wraps",
       [&](Bytes& b) {
         Put32(b, sdib + 56, 0xFFFFFFFF);
         Put32(b, sdib + 60, 2);
       }},
      {"colour usage unknown", [&](Bytes& b) { Put32(b, sdib + 64, 7); }},
      {"scan lines past the bits", [&](Bytes& b) { Put32(b, todev + 72, 3); }},
      {"scan lines past the bitmap", [&](Bytes& b) { Put32(b, todev + 72, 5); }},
      {"colour table longer than its header",
       [&](Bytes& b) {
         Put32(b, todev + 76 + 32, 257);
         Put32(b, todev + 52, 1000);
       }},
      {"pattern brush bitmap cut",
       [&](Bytes& b) {
         Put32(b, pat + 20, 40);
         Put32(b, pat + 16, 32);
       }},
      // Regions.
      {"region rectangle count huge", [&](Bytes& b) { Put32(b, clip + 16 + 8, 0x10000000); }},
      {"region data size past the end", [&](Bytes& b) { Put32(b, clip + 8, 0x1000); }},
      {"region header size wrong", [&](Bytes& b) { Put32(b, clip + 16, 16); }},
      {"region mode unknown", [&](Bytes& b) { Put32(b, clip + 12, 9); }},
      {"fill region rectangles past data", [&](Bytes& b) { Put32(b, fill + 32 + 8, 3); }},
      // Comments.
      {"comment shorter than its count field",
       [&](Bytes& b) {
         Put32(b, rect, EMR_GDICOMMENT);
         Put32(b, rect + 4, 8);
       }},
  };
  for (const Case& c : cases) {
    Bytes b = valid;
    c.change(b);
    Status s = ReadEverything(b);
    EXPECT_FALSE(s.ok()) << c.name;
    EXPECT_EQ(s.code(), Status::Code::kCorruption) << c.name << ": " << s.ToString();
  }
}

TEST(EmfCorruption, TruncationsGiveAnErrorUnlessAtARecordBoundary) {
  const Bytes valid = testing::RichMetafile();
  std::vector<std::size_t> boundaries;
  {
    auto mf = Metafile::Parse(valid);
    RecordReader rd = mf->records();
    Record r;
    while (rd.Next(&r)) boundaries.push_back(r.offset + r.size());
  }
  for (std::size_t len = 0; len < valid.size(); len += 4) {
    Bytes cut(valid.begin(), valid.begin() + len);
    // As handed over: the header still claims the whole length.
    EXPECT_FALSE(ReadEverything(cut).ok()) << len;
    if (len < ENHMETAHEADER_BASE_SIZE + 20) continue;
    // With nBytes made to agree, a cut inside a record is still an error; a cut at a
    // record boundary is a shorter, valid metafile.
    Put32(cut, 48, std::uint32_t(len));
    const bool boundary = std::find(boundaries.begin(), boundaries.end(), len) != boundaries.end();
    Status s = ReadEverything(cut);
    EXPECT_EQ(s.ok(), boundary) << len << ": " << s.ToString();
  }
}

}  // namespace
}  // namespace zv::emf
