// Surfaces that device contexts draw on: memory bitmaps (DIB sections of 1 or 24 bits), a
// screen surface whose pixels a Qt widget paints without copying, and a printer surface that
// renders each sheet at the printer's resolution, band by band, into a multi-page PDF file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/status.h"
#include "platform/gdi/dc.h"

namespace zv::gdi {

// A DIB section: width x height pixels with 1 or 24 bits per pixel as seen from outside
// (ToDib), drawn at full colour inside. `dpi` answers LOGPIXELSX/Y. A 1-bit bitmap maps each
// pixel to the nearer of its two palette colours (black and white unless given).
class MemoryBitmap {
 public:
  // Takes the size, the bit count (1 or 24), the resolution and, for 1 bit, two palette
  // colours; gives the bitmap filled with white, or InvalidArgument for a bad size or bit
  // count, or IOError when the pixels cannot be allocated.
  static Result<std::unique_ptr<MemoryBitmap>> Create(int width, int height, int bits = 24, double dpi = 96,
                                                      std::vector<win::RGBQUAD> palette = {});
  ~MemoryBitmap();

  // The device context that draws on this bitmap.
  DeviceContext& dc();
  int width() const { return width_; }
  int height() const { return height_; }
  int bits() const { return bits_; }
  // The colour of pixel (x, y) as 0x00RRGGBB (1-bit bitmaps: the palette colour it maps to).
  std::uint32_t Pixel(int x, int y) const;
  // The bitmap as a DIB: BITMAPINFOHEADER (bottom-up rows, 7874 pixels per metre unless the
  // resolution says otherwise), the palette for 1 bit, the rows padded to 4 bytes.
  Dib ToDib() const;

 private:
  MemoryBitmap() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int width_ = 0, height_ = 0, bits_ = 24;
  std::vector<win::RGBQUAD> palette_;
};

// A screen-sized surface: 32-bit pixels 0xFFRRGGBB in rows of stride() bytes, the layout of
// QImage::Format_RGB32, so a widget wraps data() in a QImage and paints it without a copy.
class ScreenSurface {
 public:
  // Takes the size and resolution; gives the surface filled with white.
  static Result<std::unique_ptr<ScreenSurface>> Create(int width, int height, double dpi = 96);
  ~ScreenSurface();

  DeviceContext& dc();
  // The pixels; call Flush() first after drawing.
  std::uint8_t* data();
  int stride() const;
  int width() const { return width_; }
  int height() const { return height_; }
  // Makes all drawing visible in data().
  void Flush();
  // Changes the size; the contents become white and the device context starts afresh.
  Status Resize(int width, int height);

 private:
  ScreenSurface() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int width_ = 0, height_ = 0;
  double dpi_ = 96;
};

// A printer: each page is drawn at the printer's resolution on a device context the size of
// the sheet, then rendered band by band (never one buffer for the whole sheet) into a page of
// a PDF file of the sheet's physical size. Page sizes may change from page to page. The pages
// are rendered on the cores the process may use while the caller draws the next ones, and
// the file holds them in the order they were drawn.
class PrinterSurface {
 public:
  // Takes the output PDF path and the resolution (dots per inch); gives the printer, or
  // IOError when the file cannot be created. The PDF is written to a temporary name and
  // renamed to `pdf_path` by Close().
  static Result<std::unique_ptr<PrinterSurface>> Create(const std::string& pdf_path, int dpi);
  ~PrinterSurface();

  // Starts a page of width x height printer pixels; gives the device context to draw it on
  // (valid until EndPage).
  Result<DeviceContext*> StartPage(int width, int height);
  // Hands the page over to be rendered into the PDF; gives the first failure of rendering a
  // page so far (Close gives it too), OK when none.
  Status EndPage();
  // Waits for the pages handed over, finishes the file (an open page is ended first); gives
  // the number of pages written, or the first failure of any page.
  Result<int> Close();
  int pages() const { return pages_; }
  // Rows per band (default: as many rows as fit in 32 MB of pixels).
  void set_band_rows(int rows) { band_rows_ = rows; }
  // Before the first page: renders each page as it ends, on the calling thread, into one PDF
  // surface (its bands and pictures spread over the cores): the road that rendering pages in
  // parallel is checked against.
  void set_serial(bool serial);

 private:
  PrinterSurface() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int pages_ = 0;
  int band_rows_ = 0;
};

}  // namespace zv::gdi
