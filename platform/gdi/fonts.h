// The font table: which installed family draws a Windows face name. Japanese faces map to the
// IPA fonts, Latin faces to metric-compatible Liberation fonts (or the installed face of the same
// design); a face the table does not name falls back by the kind its name says, then by language
// (character set) and family bits. Characters the chosen face lacks are drawn, one by one, by
// other installed faces that have them (FallbackFacesFor).
#pragma once

#include <fontconfig/fontconfig.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/wintypes/wintypes.h"

namespace zv::gdi {

struct FontChoice {
  std::string family;   // fontconfig family name that draws it
  bool raster = false;  // the Windows face is a raster (non-vector) font
  bool japanese = false;
  bool serif = false;  // a serif (mincho) design: its Japanese characters come from a mincho face
};

// Takes a LOGFONTW; gives the family that draws it (face name compared without case, blanks and
// full-width letters; "@" prefixes for vertical faces are dropped; a PostScript name such as
// "Times-Roman" or "ArialMT" is looked up by its family part).
FontChoice ChooseFont(const win::LOGFONTW& lf);

// True when `face` is drawn by a family of its own name or by the table's stand-in for it
// (not by a fallback of its kind, character set and family bits).
bool FaceKnown(const std::string& face);

// A fontconfig request for `family` in a weight (regular or bold) and slant, with the
// configuration's substitutions made; with `japanese_first`, that family and the Japanese
// language come before it. The caller destroys it.
FcPattern* FamilyRequest(const std::string& family, int weight, bool italic, const char* japanese_first = nullptr);

// The installed faces that draw the characters one family lacks, in fontconfig's order for
// that family, weight and slant (faces of the same kind first); for Japanese characters a
// Japanese face of the family's kind (mincho for serif designs, fixed pitch for fixed-pitch
// families) comes first. Which faces can draw a block of 256 characters is worked out once per
// block; a look-up is then a few coverage tests.
class FallbackFaces {
 public:
  FallbackFaces(const FontChoice& choice, int weight, bool italic, bool fixed);
  ~FallbackFaces();
  FallbackFaces(const FallbackFaces&) = delete;
  FallbackFaces& operator=(const FallbackFaces&) = delete;

  // An installed face that has characters the family lacks.
  struct Face {
    std::string family;
    // The face's own file in the requested weight and slant (made bold or slanted where the
    // file is not), ready to draw with; kept for the process.
    FcPattern* pattern = nullptr;
  };

  // The `skip`+1-th face that has `c`; nullptr when there is none, and for private-use
  // characters, whose meaning belongs to one font.
  const Face* FaceFor(char32_t c, int skip = 0) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The fallback faces of a family in a weight and slant; made once, kept for the process.
const FallbackFaces& FallbackFacesFor(const FontChoice& choice, int weight, bool italic, bool fixed);

}  // namespace zv::gdi
