// Page rendering of the viewer: a page's metafile is played record by record through a hook
// that repairs what would otherwise print badly (raster and system fonts, degenerate
// rectangles, zero-size pattern blits, empty or hairline clip regions) and draws the
// private text records of captured pages. RenderPage (a CViewerDoc operation) fits a page
// into a rectangle; PlayPage plays one into a rectangle as it stands, for sheet drawing.
#pragma once

#include <mutex>
#include <optional>

#include "platform/gdi/dc.h"
#include "viewer/viewer_doc.h"

namespace zv::viewer {

// The one lock that serialises all page drawing of the library, for every document.
std::recursive_mutex& DrawingLock();

enum class FixFontMode {
  kPlain,    // raster, system and unusable fonts become "ＭＳ ゴシック"
  kCharset,  // the Japanese character set for fonts of another set
};

// Takes a device context, the font selected in it, the font the hook made so far, a text
// height (logical units) and the mode; when the font needs repair, selects the repaired font
// into the device context and remembers it in `made`. Gives true when it changed the font.
bool FixFont(gdi::DeviceContext& dc, const gdi::Font& font, std::optional<win::LOGFONTW>* made,
             int height, FixFontMode mode);

// Takes a document, a device context, a rectangle and a page index; plays the page into the
// rectangle through the repairing hook without fitting, clipping, rotation or the lock (the
// caller holds it). Gives 0 when the page's bytes are no valid metafile (or the index is
// outside the pages), else 1.
int PlayPage(CViewerDocBase& doc, gdi::DeviceContext& dc, const RECT& rect, int page_index);

// Takes a device context and a rectangle in its logical units; fills it white.
void FillWhite(gdi::DeviceContext& dc, const RECT& rect);

// Takes the upright image's pixels (0x00RRGGBB, top row first, w x h) and a rotation value
// (1 clockwise, 16 counter-clockwise); gives the turned pixels (h x w). Every source pixel
// lands inside the turned image.
std::vector<std::uint32_t> TurnPixels(const std::vector<std::uint32_t>& upright, int w, int h,
                                      int rotation);

}  // namespace zv::viewer
