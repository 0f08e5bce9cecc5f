// Built-in font catalogue: ready-made PDF dictionary text for each Windows face.
#pragma once

#include <cstddef>

namespace zv::pdf {

// One row of the catalogue: key (CP932 face name, optionally followed by "+Bold"),
// kind ("Type0", "CIDFontType2", "TrueType" or "FontDescriptor") and the dictionary text
// written into the object unchanged.
struct FontTriple {
  const char* key;
  const char* kind;
  const char* text;
};

inline constexpr std::size_t kFontCatalogueSize = 216;

// The catalogue in its fixed order: each entry is a run of triples that begins with a
// "Type0" triple (followed by "CIDFontType2" and "FontDescriptor") or with a "TrueType"
// triple (followed by "FontDescriptor").
extern const FontTriple kFontCatalogue[kFontCatalogueSize];

}  // namespace zv::pdf
