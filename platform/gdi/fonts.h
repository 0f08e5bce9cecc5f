// The font table: which installed family draws a Windows face name. Japanese faces map to the
// IPA fonts, Latin faces to metric-compatible Liberation fonts; unknown faces fall back by
// language (character set) and family bits, never to a font without the needed glyphs.
#pragma once

#include <string>
#include <string_view>

#include "platform/wintypes/wintypes.h"

namespace zv::gdi {

struct FontChoice {
  std::string family;   // fontconfig family name that draws it
  bool raster = false;  // the Windows face is a raster (non-vector) font
  bool japanese = false;
};

// Takes a LOGFONTW; gives the family that draws it (face name compared without case; "@"
// prefixes for vertical faces are dropped).
FontChoice ChooseFont(const win::LOGFONTW& lf);

// True when `face` is drawn by a family of its own name or by the table's stand-in for it
// (not by a fallback of its character set and kind).
bool FaceKnown(const std::string& face);

// The family used for characters the chosen family lacks: Japanese first, then a wide
// Unicode family.
const char* JapaneseFallbackFamily(bool proportional);
const char* UnicodeFallbackFamily();

}  // namespace zv::gdi
