// Test fixtures of the printing tests: a print document whose pages are coloured boxes, a
// printer device over memory bitmaps, and a sheet surface that rasterises each sheet into a
// PDF page of the physical sheet's size.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gdi/surfaces.h"
#include "printing/print_document.h"
#include "printing/printer_dc.h"

namespace zv::printing::testing {

// A page drawn: which, at what resolution, where.
struct DrawnPage {
  int index = 0;
  int resolution = 0;
  win::RECT rect{};
};

// The colour page i fills its rectangle with.
std::uint32_t PageColour(int index);

// A document of `pages` pages; page i fills its rectangle with PageColour(i).
class BoxDocument : public PrintDocument {
 public:
  explicit BoxDocument(int pages, PageFacts facts = PageFacts{9, false, false, 2100, 2970});
  std::string name() const override { return name_; }
  int page_count() const override { return static_cast<int>(pages_.size()); }
  PageFacts page(int index) const override { return pages_.at(index); }
  void RenderPage(gdi::DeviceContext& dc, int resolution, int index, const win::RECT& rect) override;
  HeaderFooter header_footer() const override { return hf_; }
  bool ReplacePagePlaceholders(std::string_view text, int page, int total, std::string* out) const override;
  RunState& run() override { return run_; }

  std::string name_ = "box document";
  std::vector<PageFacts> pages_;
  HeaderFooter hf_;
  RunState run_;
  std::vector<DrawnPage> drawn;
};

// Sides drawn on memory bitmaps of the printable area's size.
class BitmapDevice : public PrinterDevice {
 public:
  explicit BitmapDevice(spool::PageGeometry g) : g_(g) {}
  const spool::PageGeometry& geometry() const override { return g_; }
  Result<gdi::DeviceContext*> StartPage() override;
  Status EndPage() override;

  spool::PageGeometry g_;
  std::vector<std::unique_ptr<gdi::MemoryBitmap>> sides;
  int fail_start_at = -1;  // StartPage of this side (0-based) fails
};

// A small device for drawing tests: 50 dpi, 400 x 560 sheet, margins 10/15/20/25.
spool::PageGeometry SmallDevice();

// Counts the pixels of `rect` (clamped to the bitmap) that are not white.
int InkIn(const gdi::MemoryBitmap& bmp, const win::RECT& rect);

// A sheet surface that draws each sheet on a memory bitmap and writes it as an image on a PDF
// page of the physical size (cairo's PDF surface).
SheetSurfaceFactory RasterPdfSurfaces();

// "WxH" of each page of a PDF in points (rounded), as pdfinfo reports them.
std::vector<std::string> PdfPageSizes(const std::string& pdf);
// The colour (0xRRGGBB) of pixel (x, y) of a PDF page (1-based) rendered by pdftoppm at
// 72 dpi; -1 when it cannot be rendered.
long PdfPixel(const std::string& pdf, int page, int x, int y);
// The number of dark pixels (every channel below 128) in a region of a PDF page (1-based)
// rendered by pdftoppm at 72 dpi; -1 when it cannot be rendered.
long PdfDarkPixels(const std::string& pdf, int page, const win::RECT& region);
// True when each channel of `a` is within 24 of `b`'s.
bool NearColour(long a, std::uint32_t b);

}  // namespace zv::printing::testing
