// The work the converter does on a PDF's fonts, kept for the whole document: each font's
// outlines (its embedded program read, a FreeType face made, its cmap walked), the installed
// face its text is drawn with and the fallback face of its kind (fontconfig's answers), and
// the glyph widths measured for its runs. A font is known by its object number, so the pages
// of a document that share a font (every page of most documents) share that work instead of
// redoing it page by page. A font without an object of its own (written straight into a
// page's resources) is kept for its page only, and once the font programs kept pass 64 MB
// the fonts the last page did not use are let go (a document whose every page brings fonts
// of its own keeps no more than that).
//
// One DrawPdf call owns one DocumentFonts and draws its pages one after another on its own
// thread: the cache takes no lock.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "capture/pdfrecords/glyph_outlines.h"
#include "platform/wintypes/gdi.h"

class GfxFont;
class XRef;

namespace zv::capture::pdfrecords {

// What is worked out once per font; every field is filled on first use.
struct FontWork {
  std::shared_ptr<GfxFont> font;  // the font the work was done for (its tables map codes to glyphs)
  bool outlines_loaded = false;
  std::unique_ptr<GlyphOutlines> outlines;  // null when the font is not embedded or unreadable
  std::optional<std::string> installed_face;
  std::optional<std::string> fallback_face[2];  // [0] of its own kind, [1] for Japanese text
  int last_page = 0;                            // the last page (counted from 0) that used it
};

class DocumentFonts {
 public:
  // Takes the document's cross-reference table (the embedded programs are read through it).
  explicit DocumentFonts(XRef* xref) : xref_(xref) {}

  XRef* xref() const { return xref_; }

  // Takes a font the current page draws with; gives its work, the same for every page that
  // uses the same font object. The page holds the font until EndPage, so no other font can
  // take its address meanwhile.
  FontWork& Meet(const std::shared_ptr<GfxFont>& font);

  // Takes a font met on the current page; gives its work, or null for a font not met.
  FontWork* Find(const GfxFont* font) const;

  // Ends the current page: forgets its fonts' addresses, drops the work on fonts that have
  // no object of their own, and, once the font programs kept pass their bound, the work on
  // fonts this page did not use.
  void EndPage();

  // Takes a selected font; gives the widths of its characters measured so far in this
  // document (UTF-16 unit to width, -1 where it cannot be measured), to look up and add to.
  // The table stays valid until the next call.
  std::unordered_map<char16_t, int>& WidthsOf(const win::LOGFONTW& lf);

  // Takes a character and the test; gives the answer worked out once per document.
  template <typename Test>
  bool KeptAsText(char16_t c, Test test) {
    auto it = kept_as_text_.find(c);
    if (it != kept_as_text_.end()) return it->second;
    return kept_as_text_.emplace(c, test()).first->second;
  }

 private:
  static constexpr std::size_t kMaxWidthTables = 4096;
  static constexpr std::size_t kMaxProgramBytes = 64u << 20;

  XRef* xref_;
  std::map<std::pair<int, int>, std::unique_ptr<FontWork>> by_object_;
  std::vector<std::unique_ptr<FontWork>> page_only_;
  int page_number_ = 0;
  std::map<const GfxFont*, FontWork*> page_;
  std::vector<std::shared_ptr<GfxFont>> page_held_;
  std::map<std::string, std::unordered_map<char16_t, int>> widths_;
  std::map<char16_t, bool> kept_as_text_;
};

}  // namespace zv::capture::pdfrecords
