// The drawing state that the repairing page playback carries from record to record.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/wintypes/wintypes.h"

namespace zv::playback {

// The drawing state of the page being played: the resolution the page is drawn at, the text
// height that private font-scale records and repaired fonts use, the page origin, and the
// font the hook made (if any). One state belongs to one drawing at a time.
struct PlaybackState {
  int resolution = 0;
  std::int64_t text_scale = 0;
  win::POINT origin{};
  std::optional<win::LOGFONTW> made_font;
};

// Takes the resolution a page is drawn at, the width it is drawn in (pixels) and its origin;
// gives the state its drawing starts with: text height width x 1536 / resolution (0 without
// a resolution) and no font made yet.
inline PlaybackState StartState(int resolution, int width, win::POINT origin) {
  PlaybackState s;
  s.resolution = resolution;
  s.text_scale = resolution > 0 ? std::int64_t(width) * 1536 / resolution : 0;
  s.origin = origin;
  return s;
}

}  // namespace zv::playback
