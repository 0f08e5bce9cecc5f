// Repairing page playback: a page's metafile is played record by record through a hook that
// repairs what would otherwise draw badly (raster and system fonts, degenerate rectangles,
// zero-size pattern blits, empty or hairline clip regions) and draws the private text
// records of captured pages. The viewer's page and sheet drawing, the capture library's
// re-recording and the conversion library all play pages through this one hook.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>

#include "platform/base/status.h"
#include "platform/gdi/dc.h"
#include "platform/gdi/player.h"
#include "viewer/playback/state.h"

namespace zv::playback {

// The one lock that serialises all page drawing of a process, for every document: the
// repairs select fonts and change device-context state that the hook reads back.
std::recursive_mutex& DrawingLock();

enum class FixFontMode {
  kPlain,    // raster, system and unusable fonts become "ＭＳ ゴシック"
  kCharset,  // the Japanese character set for fonts of another set
};

// Takes a device context, the font selected in it, the font the hook made so far, a text
// height (logical units) and the mode; when the font needs repair, selects the repaired font
// into the device context and remembers it in `made`. Gives true when it changed the font.
bool FixFont(gdi::DeviceContext& dc, const gdi::Font& font, std::optional<win::LOGFONTW>* made, int height,
             FixFontMode mode);

// Takes an opened player, a device context, the destination rectangle (logical units of
// `dc`, or null for the picture frame as it stands) and the drawing state; plays every
// record through the repairing hook. Gives the player's status. The caller holds
// DrawingLock().
Status HookPlayer(gdi::Player& player, gdi::DeviceContext& dc, const win::RECT* rect, PlaybackState& state);

// Takes a page's metafile bytes, a device context, a rectangle and the drawing state; plays
// the page into the rectangle through the repairing hook, without fitting, clipping or
// rotation, and forgets the made font afterwards. Gives 0 when the bytes are no valid
// metafile, else 1. The caller holds DrawingLock().
int PlayRepaired(std::span<const std::uint8_t> metafile, gdi::DeviceContext& dc, const win::RECT& rect,
                 PlaybackState& state);

}  // namespace zv::playback
