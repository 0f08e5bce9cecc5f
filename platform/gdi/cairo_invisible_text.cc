// Text that draws no ink: laid out and drawn as ExtTextOutA or ExtTextOutW draws it, into a
// group that is painted through a mask of no coverage. An image shows nothing of it; a PDF
// keeps the glyphs (the text a reader extracts or searches) inside the masked group, and no
// viewer or printer renders them.
#include <cstring>

#include "platform/gdi/internal/cairo_dc.h"

namespace zv::gdi::detail {

template <typename Draw>
bool CairoDC::Invisibly(Draw draw) {
  cairo_surface_t* none = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
  if (cairo_surface_status(none) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(none);
    return false;
  }
  // Written as pixels (not left as a new surface) so the mask is not taken for an empty one
  // and the text dropped with it.
  cairo_surface_flush(none);
  std::memset(cairo_image_surface_get_data(none), 0, std::size_t(cairo_image_surface_get_stride(none)));
  cairo_surface_mark_dirty(none);
  // The text draws in the group with the page's transparent background mode.
  const int bk = s_.bk_mode;
  s_.bk_mode = win::TRANSPARENT;
  cairo_push_group(cr_);
  const bool ok = draw();
  cairo_pattern_t* group = cairo_pop_group(cr_);
  s_.bk_mode = bk;
  cairo_pattern_t* mask = cairo_pattern_create_for_surface(none);
  cairo_pattern_set_extend(mask, CAIRO_EXTEND_PAD);
  cairo_save(cr_);
  cairo_set_source(cr_, group);
  cairo_mask(cr_, mask);
  cairo_restore(cr_);
  cairo_pattern_destroy(mask);
  cairo_pattern_destroy(group);
  cairo_surface_destroy(none);
  return ok;
}

// A context that draws only text draws every text call as an invisible one.
template <typename Draw>
bool CairoDC::TextOnly(Draw draw) {
  text_only_ = false;
  draw_ = true;
  const bool ok = draw();
  text_only_ = true;
  draw_ = false;
  return ok;
}

bool CairoDC::InvisibleTextOutA(int x, int y, win::UINT options, const RECT* rect, std::string_view text,
                                std::span<const int> dx) {
  if (text_only_) return TextOnly([&] { return InvisibleTextOutA(x, y, options, rect, text, dx); });
  // Only the text: no opaque box of its own.
  options &= ~win::ETO_OPAQUE;
  if (!draw_) return ExtTextOutA(x, y, options, rect, text, dx);
  return Invisibly([&] { return ExtTextOutA(x, y, options, rect, text, dx); });
}

bool CairoDC::InvisibleTextOutW(int x, int y, win::UINT options, const RECT* rect, std::u16string_view text,
                                std::span<const int> dx) {
  if (text_only_) return TextOnly([&] { return InvisibleTextOutW(x, y, options, rect, text, dx); });
  options &= ~win::ETO_OPAQUE;
  if (!draw_) return ExtTextOutW(x, y, options, rect, text, dx);
  return Invisibly([&] { return ExtTextOutW(x, y, options, rect, text, dx); });
}

}  // namespace zv::gdi::detail
