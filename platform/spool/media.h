// The one table between DMPAPER codes and PWG media names, with each paper's name and
// portrait size in 0.1 mm. Pure data and look-ups.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace zv::spool {

struct MediaEntry {
  std::int16_t code;    // DMPAPER_* value
  const char* pwg;      // PWG 5101.1 self-describing media name
  const char* name;     // form name shown to users
  std::int32_t width;   // portrait width, 0.1 mm
  std::int32_t length;  // portrait length, 0.1 mm
};

// All entries, by code.
std::span<const MediaEntry> MediaTable();
// The entry of a DMPAPER code, or null.
const MediaEntry* MediaByCode(std::int16_t code);
// The entry of a PWG media name (exact), or null.
const MediaEntry* MediaByPwg(std::string_view pwg);
// The first entry whose portrait size is within `tolerance` (0.1 mm) of width × length, or
// null. Entries are tried in table order, so the common code of a size wins.
const MediaEntry* MediaBySize(std::int32_t width, std::int32_t length, std::int32_t tolerance = 10);

}  // namespace zv::spool
