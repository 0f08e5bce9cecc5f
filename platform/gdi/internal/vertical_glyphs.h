// The glyphs a face draws in vertical writing instead of its horizontal ones: the single
// substitutions of the "vert" and "vrt2" features of its OpenType GSUB table (the ideographic
// full stop and comma moved to the cell's top right, brackets and the long vowel mark
// turned). Applications writing vertically name a face "@face", and Windows draws it so.
#pragma once

#include <cstdint>
#include <span>
#include <unordered_map>

namespace zv::gdi {

// Most steps (glyphs of coverage tables, records) one table's reading takes: a table whose
// lookups and subtables repeat one another (a few dozen kilobytes can name billions of
// substitutions) is read as far as this goes, in a few milliseconds, and no further.
inline constexpr std::size_t kMostGsubSteps = 1 << 20;

// Takes the bytes of a GSUB table and the face's glyph count; gives each glyph of those
// features' single substitution lookups (also when wrapped in extension lookups) with the
// glyph that replaces it, leaving out replacements past the glyph count (the horizontal glyph
// is drawn then). A table that is damaged or cut short gives what its sound parts say, never
// reading past its end; a subtable named twice is read once; the whole reading takes at
// most kMostGsubSteps steps.
std::unordered_map<std::uint16_t, std::uint16_t> VerticalSubstitutions(std::span<const std::uint8_t> gsub,
                                                                       std::size_t glyph_count = 65536);

}  // namespace zv::gdi
