// The vertical forms read from a face's GSUB table, on a small table made here.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/gdi/internal/vertical_glyphs.h"

namespace zv::gdi {
namespace {

// A GSUB table with a "liga" feature (lookup 0: glyph 10 by a delta) and a "vert" feature
// naming lookup 1 (glyphs 20-21, a range, to 200 and 201 by a list) and lookup 2 (an
// extension wrapping glyph 30 to 130 by a delta).
std::vector<std::uint8_t> SampleTable() {
  std::vector<std::uint8_t> t;
  auto u16 = [&](unsigned v) {
    t.push_back(static_cast<std::uint8_t>(v >> 8));
    t.push_back(static_cast<std::uint8_t>(v));
  };
  auto tag = [&](const char* s) { t.insert(t.end(), s, s + 4); };
  u16(1), u16(0), u16(10), u16(12), u16(40);  // version 1.0; script, feature and lookup lists
  u16(0);                                     // 10: no scripts
  u16(2), tag("liga"), u16(14), tag("vert"), u16(20);  // 12: two features
  u16(0), u16(1), u16(0);                              // 26: liga: lookup 0
  u16(0), u16(2), u16(1), u16(2);                      // 32: vert: lookups 1 and 2
  u16(3), u16(8), u16(28), u16(56);                    // 40: three lookups
  u16(1), u16(0), u16(1), u16(8);                      // 48: single substitution
  u16(1), u16(6), u16(5);                              // 56: glyphs + 5
  u16(1), u16(1), u16(10);                             // 62: glyph 10
  u16(1), u16(0), u16(1), u16(8);                      // 68: single substitution
  u16(2), u16(10), u16(2), u16(200), u16(201);         // 76: a list of two
  u16(2), u16(1), u16(20), u16(21), u16(0);            // 86: the range 20-21
  u16(7), u16(0), u16(1), u16(8);                      // 96: extension
  u16(1), u16(1), u16(0), u16(8);                      // 104: of a single substitution, 8 on
  u16(1), u16(6), u16(100);                            // 112: glyphs + 100
  u16(1), u16(1), u16(30);                             // 118: glyph 30
  return t;
}

TEST(VerticalGlyphs, OnlyTheVerticalFeaturesSingleSubstitutionsAreRead) {
  const auto forms = VerticalSubstitutions(SampleTable());
  const std::unordered_map<std::uint16_t, std::uint16_t> want{{20, 200}, {21, 201}, {30, 130}};
  EXPECT_EQ(forms, want);
}

TEST(VerticalGlyphs, FormsPastTheGlyphCountAreLeftOut) {
  // A face of 150 glyphs has no glyphs 200 and 201: those characters keep their horizontal
  // glyphs.
  const auto forms = VerticalSubstitutions(SampleTable(), 150);
  const std::unordered_map<std::uint16_t, std::uint16_t> want{{30, 130}};
  EXPECT_EQ(forms, want);
}

// A "vert" feature naming one lookup 300 times, the lookup of 3000 subtables, each its own
// (a delta of its own) over one coverage of every glyph: about 60 KB that would name two
// hundred billion substitutions.
TEST(VerticalGlyphs, ATableThatRepeatsItsLookupsIsReadInBoundedWork) {
  std::vector<std::uint8_t> t;
  auto u16 = [&](unsigned v) {
    t.push_back(static_cast<std::uint8_t>(v >> 8));
    t.push_back(static_cast<std::uint8_t>(v));
  };
  constexpr unsigned kRepeats = 300, kSubtables = 3000;
  const unsigned features = 10, feature = features + 8, lookups = feature + 4 + 2 * kRepeats;
  const unsigned lookup = lookups + 4, first_sub = lookup + 6 + 2 * kSubtables;
  const unsigned coverage = first_sub + 6 * kSubtables;
  u16(1), u16(0), u16(10), u16(features), u16(lookups);
  u16(1);  // one feature, at 18
  t.insert(t.end(), {'v', 'e', 'r', 't'});
  u16(8);
  u16(0), u16(kRepeats);
  for (unsigned i = 0; i < kRepeats; ++i) u16(0);  // lookup 0, again and again
  u16(1), u16(4);                                  // one lookup
  u16(1), u16(0), u16(kSubtables);
  for (unsigned i = 0; i < kSubtables; ++i) u16(first_sub + 6 * i - lookup);
  for (unsigned i = 0; i < kSubtables; ++i) {
    const unsigned at = first_sub + 6 * i;
    u16(1), u16(coverage - at), u16(i + 1);
  }
  u16(2), u16(1), u16(0), u16(0xFFFF), u16(0);  // every glyph
  ASSERT_LT(t.size(), 65536u);
  const auto forms = VerticalSubstitutions(t);
  // What the table says first: glyph g becomes g + 1.
  EXPECT_EQ(forms.size(), 65536u);
  EXPECT_EQ(forms.at(7), 8);
}

TEST(VerticalGlyphs, ADamagedTableGivesOnlyWhatItsSoundPartsSay) {
  const std::vector<std::uint8_t> whole = SampleTable();
  const auto all = VerticalSubstitutions(whole);
  auto within = [&](const std::unordered_map<std::uint16_t, std::uint16_t>& got) {
    for (const auto& [from, to] : got)
      if (auto it = all.find(from); it == all.end() || it->second != to) return false;
    return true;
  };
  // Cut short anywhere.
  for (std::size_t n = 0; n < whole.size(); ++n) {
    const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_TRUE(within(VerticalSubstitutions(cut))) << "cut to " << n;
  }
  // Any one byte set to 0xFF (offsets and counts pointing past the end): read without fault.
  for (std::size_t i = 0; i < whole.size(); ++i) {
    std::vector<std::uint8_t> bad = whole;
    bad[i] = 0xFF;
    (void)VerticalSubstitutions(bad);
  }
}

}  // namespace
}  // namespace zv::gdi
