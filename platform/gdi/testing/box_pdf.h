// Test helper: small PDF files made with cairo, one filled box per page, for the tests that
// print, spool, rasterise or feed PDF documents.
#pragma once

#include <cairo-pdf.h>
#include <cairo.h>

#include <string>
#include <vector>

namespace zv::testing {

// One page: its size in points and a box filled in an RGB colour (none when w or h is 0).
struct PdfPage {
  double width = 595.28, height = 841.89;  // A4 portrait
  double x = 0, y = 0, w = 0, h = 0;
  double r = 0, g = 0, b = 0;
};

// Takes a path and the pages; writes the PDF (an empty list gives one blank A4 page).
inline void WriteBoxPdf(const std::string& path, std::vector<PdfPage> pages) {
  if (pages.empty()) pages.push_back(PdfPage{});
  cairo_surface_t* s = cairo_pdf_surface_create(path.c_str(), pages[0].width, pages[0].height);
  cairo_t* cr = cairo_create(s);
  for (const PdfPage& p : pages) {
    cairo_pdf_surface_set_size(s, p.width, p.height);
    if (p.w > 0 && p.h > 0) {
      cairo_set_source_rgb(cr, p.r, p.g, p.b);
      cairo_rectangle(cr, p.x, p.y, p.w, p.h);
      cairo_fill(cr);
    }
    cairo_show_page(cr);
  }
  cairo_destroy(cr);
  cairo_surface_destroy(s);
}

}  // namespace zv::testing
