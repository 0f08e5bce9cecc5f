// Glyph outlines of a PDF's embedded fonts, for glyphs that cannot be drawn as text: codes
// without Unicode, fonts no installed face draws, text used as a clip. The font program is read
// with FreeType; codes are mapped to glyphs as the font's kind says (CIDs through the
// CIDToGIDMap, simple fonts through their encoding's glyph names or their own cmap). The program
// also tells its own family name and the characters its glyphs stand for.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <CharTypes.h>

#include "platform/wintypes/gdi.h"
#include "platform/wintypes/wintypes.h"

class GfxFont;
class XRef;

namespace zv::capture::pdfrecords {

class GlyphOutlines {
 public:
  // Takes a font and the document's cross-reference table; gives its outlines, or null when
  // the font is not embedded or FreeType cannot read it.
  static std::unique_ptr<GlyphOutlines> Load(GfxFont* font, XRef* xref);
  ~GlyphOutlines();

  // Takes a character code and a mapping from em units (y up) to device points; appends the
  // glyph's contours as PolyDraw points and types. False when the code reaches no glyph.
  bool Append(CharCode code, const std::function<void(double x, double y, win::POINT* out)>& to_device,
              std::vector<win::POINT>* pts, std::vector<win::BYTE>* types);

  // The family name the font program gives itself (its name table), or empty.
  std::string Family() const;

  // Gives the size of the font program held for the outlines, in bytes.
  std::size_t ProgramBytes() const;

  // Takes a character code; gives the character the program's own Unicode cmap draws with the
  // code's glyph, for fonts whose codes carry no Unicode of their own. False when none does.
  bool UnicodeOf(CharCode code, Unicode* out);

 private:
  GlyphOutlines() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zv::capture::pdfrecords
