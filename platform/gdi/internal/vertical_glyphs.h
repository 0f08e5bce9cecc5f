// The glyphs a face draws in vertical writing instead of its horizontal ones: the single
// substitutions of the "vert" and "vrt2" features of its OpenType GSUB table (the ideographic
// full stop and comma moved to the cell's top right, brackets and the long vowel mark
// turned). Applications writing vertically name a face "@face", and Windows draws it so.
#pragma once

#include <cstdint>
#include <span>
#include <unordered_map>

namespace zv::gdi {

// Takes the bytes of a GSUB table; gives each glyph of those features' single substitution
// lookups (also when wrapped in extension lookups) with the glyph that replaces it. A table
// that is damaged or cut short gives what its sound parts say, never reading past its end.
std::unordered_map<std::uint16_t, std::uint16_t> VerticalSubstitutions(std::span<const std::uint8_t> gsub);

}  // namespace zv::gdi
