// Test measures of what a reader sees of a page: ink recall and ink precision of a drawn page
// against a reference rendering, and character recall of a document's text against the text
// of its source.
//
// Ink is a pixel of luma below 160. A reference ink pixel is recalled when the drawn page has
// ink within 2 pixels of it (either way, diagonals included); a drawn ink pixel is precise
// when the reference has ink within 2 pixels of it. Both images are anchored at their top-left
// corners; outside an image is white.
//
// Characters are compared as multisets: both texts are brought to NFKC (which also spells
// ligatures such as U+FB01 as their letters), whitespace is dropped, order does not count.
#pragma once

#include <glib.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "capture/pdfrecords/tests/page_compare.h"

namespace zv::capture::pdfrecords::testing {

inline constexpr int kInkLuma = 160;
inline constexpr int kInkReach = 2;

struct InkScore {
  double recall = 1;     // share of the reference's ink that the drawn page covers
  double precision = 1;  // share of the drawn page's ink that the reference covers
  std::size_t reference_ink = 0, drawn_ink = 0;
};

// The ink mask of an image, grown by `reach` pixels each way, over a w x h area.
inline std::vector<std::uint8_t> GrownInk(const Image& img, int w, int h, int reach) {
  std::vector<std::uint8_t> ink(static_cast<std::size_t>(w) * h, 0), rows(ink.size(), 0), out(ink.size(), 0);
  for (int y = 0; y < std::min(h, img.height); ++y)
    for (int x = 0; x < std::min(w, img.width); ++x)
      ink[static_cast<std::size_t>(y) * w + x] = Luma(img.px[static_cast<std::size_t>(y) * img.width + x]) < kInkLuma;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      bool any = false;
      for (int d = std::max(0, x - reach); d <= std::min(w - 1, x + reach) && !any; ++d)
        any = ink[static_cast<std::size_t>(y) * w + d] != 0;
      rows[static_cast<std::size_t>(y) * w + x] = any;
    }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      bool any = false;
      for (int d = std::max(0, y - reach); d <= std::min(h - 1, y + reach) && !any; ++d)
        any = rows[static_cast<std::size_t>(d) * w + x] != 0;
      out[static_cast<std::size_t>(y) * w + x] = any;
    }
  return out;
}

inline InkScore InkMatch(const Image& drawn, const Image& reference) {
  const int w = std::max(drawn.width, reference.width), h = std::max(drawn.height, reference.height);
  const std::vector<std::uint8_t> drawn_near = GrownInk(drawn, w, h, kInkReach);
  const std::vector<std::uint8_t> reference_near = GrownInk(reference, w, h, kInkReach);
  InkScore s;
  std::size_t recalled = 0, precise = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::size_t at = static_cast<std::size_t>(y) * w + x;
      if (y < reference.height && x < reference.width &&
          Luma(reference.px[static_cast<std::size_t>(y) * reference.width + x]) < kInkLuma) {
        ++s.reference_ink;
        recalled += drawn_near[at];
      }
      if (y < drawn.height && x < drawn.width &&
          Luma(drawn.px[static_cast<std::size_t>(y) * drawn.width + x]) < kInkLuma) {
        ++s.drawn_ink;
        precise += reference_near[at];
      }
    }
  if (s.reference_ink) s.recall = static_cast<double>(recalled) / s.reference_ink;
  if (s.drawn_ink) s.precision = static_cast<double>(precise) / s.drawn_ink;
  return s;
}

// The characters of a UTF-8 text after NFKC, whitespace dropped, with their counts.
inline std::map<gunichar, std::size_t> CharacterCounts(const std::string& utf8) {
  std::map<gunichar, std::size_t> out;
  gchar* valid = g_utf8_make_valid(utf8.data(), static_cast<gssize>(utf8.size()));
  gchar* nfkc = g_utf8_normalize(valid, -1, G_NORMALIZE_NFKC);
  g_free(valid);
  if (!nfkc) return out;
  for (const gchar* p = nfkc; *p; p = g_utf8_next_char(p)) {
    const gunichar c = g_utf8_get_char(p);
    if (!g_unichar_isspace(c) && c != 0x200B && c != 0xFEFF) ++out[c];
  }
  g_free(nfkc);
  return out;
}

struct CharScore {
  double recall = 1;
  std::size_t reference = 0;  // characters of the reference text
  std::string missing;        // the reference's characters the text lacks (each as often as it lacks it)
};

inline CharScore CharRecall(const std::string& reference, const std::string& text) {
  const auto want = CharacterCounts(reference);
  const auto have = CharacterCounts(text);
  CharScore s;
  std::size_t found = 0;
  for (const auto& [c, n] : want) {
    s.reference += n;
    auto it = have.find(c);
    const std::size_t got = it == have.end() ? 0 : std::min(n, it->second);
    found += got;
    for (std::size_t k = got; k < n && s.missing.size() < 400; ++k) {
      gchar buf[8];
      s.missing.append(buf, static_cast<std::size_t>(g_unichar_to_utf8(c, buf)));
    }
  }
  if (s.reference) s.recall = static_cast<double>(found) / s.reference;
  return s;
}

}  // namespace zv::capture::pdfrecords::testing
