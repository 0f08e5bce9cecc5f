// Page rendering of the viewer: a page's metafile is played through the shared repairing
// playback (viewer/playback). RenderPage (a CViewerDoc operation) fits a page
// into a rectangle; PlayPage plays one into a rectangle as it stands, for sheet drawing.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/gdi/dc.h"
#include "viewer/playback/playback.h"
#include "viewer/viewer_doc.h"

namespace zv::viewer {

// The drawing lock and the font repair live in the shared playback library.
using playback::DrawingLock;
using playback::FixFont;
using playback::FixFontMode;

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
std::vector<std::uint32_t> TurnPixels(const std::vector<std::uint32_t>& upright, int w, int h, int rotation);

}  // namespace zv::viewer
