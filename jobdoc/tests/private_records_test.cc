#include "jobdoc/private_records.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jobdoc/internal/le.h"

namespace zv::jobdoc {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = PrivateRecord::Kind;

Bytes Comment(std::uint32_t size, std::uint16_t marker, std::uint16_t arg) {
  Bytes r;
  internal::Append32(r, 70);
  internal::Append32(r, size);
  internal::Append16(r, marker);
  internal::Append16(r, arg);
  r.resize(std::max<std::size_t>(size, 12), 0);
  return r;
}

TEST(PrivateRecords, BuiltRecordsHaveTheirLayoutAndReadBack) {
  std::vector<CharListItem> chars = {{10, 20, 0x82A0, 1, 0}, {-5, 7, 'A', 0, 0}};
  Bytes list = *BuildCharListRecord(chars);
  EXPECT_EQ(list.size(), 12u + 24u);
  EXPECT_EQ(internal::Load16(list.data() + 8), 100);
  EXPECT_EQ(internal::Load16(list.data() + 10), 2);
  Result<PrivateRecord> r = ParsePrivateRecord(list);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->kind, Kind::kCharList);
  EXPECT_EQ(r->chars, chars);

  // Without extension: text, NUL and the 20 bytes before it, rounded up to 4.
  for (std::string text : {"", "abc", "abcd", "\x93\xfa\x96\x7b"}) {
    SCOPED_TRACE(text);
    TextRun run{120, -3, 44, text, std::nullopt};
    Bytes rec = *BuildTextRunRecord(run);
    EXPECT_EQ(rec.size(), (20 + text.size() + 1 + 3) / 4 * 4);
    r = ParsePrivateRecord(rec);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->kind, Kind::kTextRun);
    EXPECT_EQ(r->run, run);

    run.extension = TextRunExtension{{1, 2, 3, 4}, 6, 1, 0};
    rec = *BuildTextRunRecord(run);
    EXPECT_EQ(rec.size(), (20 + text.size() + 1 + 20 + 3) / 4 * 4);
    r = ParsePrivateRecord(rec);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->run, run);

    // A hidden run is laid out as a text run under its own marker.
    Bytes hidden = *BuildHiddenTextRunRecord(run);
    EXPECT_EQ(hidden.size(), rec.size());
    EXPECT_EQ(internal::Load16(hidden.data() + 8), 103);
    r = ParsePrivateRecord(hidden);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->kind, Kind::kHiddenTextRun);
    EXPECT_EQ(r->run, run);
  }

  Bytes scale = BuildFontScaleRecord(96);
  EXPECT_EQ(scale, (Bytes{70, 0, 0, 0, 12, 0, 0, 0, 102, 0, 96, 0}));
  r = ParsePrivateRecord(scale);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->kind, Kind::kFontScale);
  EXPECT_EQ(r->text_height, 96);

  EXPECT_FALSE(BuildCharListRecord(std::vector<CharListItem>(256)).ok());
  EXPECT_TRUE(BuildCharListRecord(std::vector<CharListItem>(255)).ok());
  EXPECT_FALSE(BuildTextRunRecord({0, 0, 0, std::string("a\0b", 3), std::nullopt}).ok());
}

TEST(PrivateRecords, OnlyRecordsConsistentWithTheirMarkerArePrivate) {
  Bytes run = *BuildTextRunRecord({0, 1, 2, "abcdefgh", std::nullopt});  // 32 bytes
  Bytes run_no_nul = run;
  for (std::size_t i = 20; i < run_no_nul.size(); ++i) run_no_nul[i] = 'x';
  Bytes run_short_ext = run;  // longer than text + 25 but too short for the extension
  run_short_ext.resize(36, 0);
  internal::Store32(run_short_ext.data() + 4, 36);
  // An ordinary comment whose data size happens to read as marker 100 with count 1.
  const std::uint32_t data_size = 100u | (1u << 16);
  Bytes ordinary = Comment(12 + data_size, 100, 1);
  Bytes oversized = Comment(12, 102, 5);
  internal::Store32(oversized.data() + 4, 400);

  struct Case {
    std::string name;
    Bytes record;
    Kind kind;
    bool error;
  };
  const std::vector<Case> cases = {
      {"not a comment", {14, 0, 0, 0, 8, 0, 0, 0}, Kind::kNotPrivate, false},
      {"ordinary comment", Comment(16, 4, 0), Kind::kNotPrivate, false},
      {"ordinary comment that looks like a list", ordinary, Kind::kNotPrivate, false},
      {"list count does not fit", Comment(12 + 12 * 3, 100, 2), Kind::kNotPrivate, true},
      {"list of 256 items", Comment(12 + 12 * 256, 100, 256), Kind::kNotPrivate, true},
      {"empty list", Comment(12, 100, 0), Kind::kCharList, false},
      {"font scale with data", Comment(16, 102, 5), Kind::kNotPrivate, true},
      {"text run without NUL", run_no_nul, Kind::kNotPrivate, true},
      {"text run with a cut extension", run_short_ext, Kind::kNotPrivate, true},
      {"size past the bytes", oversized, Kind::kNotPrivate, true},
      {"comment shorter than its head", {70, 0, 0, 0, 8, 0, 0, 0}, Kind::kNotPrivate, true},
      {"fewer than 8 bytes", {70, 0, 0}, Kind::kNotPrivate, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result<PrivateRecord> r = ParsePrivateRecord(c.record);
    EXPECT_EQ(!r.ok(), c.error) << r.status().ToString();
    if (r.ok()) {
      EXPECT_EQ(r->kind, c.kind);
    }
  }
}

}  // namespace
}  // namespace zv::jobdoc
