// Image file writers for rendered pages: BMP by hand, PNG through libpng, JPEG through
// libjpeg and multi-page TIFF through libtiff. Each takes a bitmap as the drawing layer gives
// it (BITMAPINFOHEADER, palette for 1 bit, rows bottom-up and padded to 4 bytes) with 24 or 1
// bits per pixel; a 1-bit bitmap's palette is black (index 0) and white (index 1).
#pragma once

#include <cstdio>
#include <string>

#include "platform/base/status.h"
#include "platform/gdi/dib.h"

typedef struct tiff TIFF;

namespace zv::lumbrel {

// Takes a path and a bitmap; writes a BMP file: "BM", the file size, the offset of the bits,
// the bitmap header, the palette and the rows as the bitmap holds them.
Status WriteBmp(const std::string& path, const gdi::Dib& dib);

// Takes a path, a bitmap and its resolution; writes a PNG file: 1-bit grey for a 1-bit
// bitmap, 8-bit RGB otherwise, no interlace, the resolution as pixels per metre.
Status WritePng(const std::string& path, const gdi::Dib& dib, int dpi);

// Takes a path, a bitmap, its resolution and a quality (1 to 100); writes a baseline JPEG
// file: grey for a 1-bit bitmap, RGB otherwise, the resolution in the JFIF header.
Status WriteJpeg(const std::string& path, const gdi::Dib& dib, int dpi, int quality);

// A TIFF file that gathers one page (directory) per AddPage: RGB with LZW compression for
// 24-bit bitmaps, bilevel with CCITT group 4 compression for 1-bit ones.
class TiffWriter {
 public:
  // Takes a path; creates the file (an existing one is replaced). IOError when it cannot.
  static Result<TiffWriter> Create(const std::string& path);
  TiffWriter(TiffWriter&& other) noexcept : tiff_(other.tiff_) { other.tiff_ = nullptr; }
  TiffWriter& operator=(TiffWriter&&) = delete;
  // Closes the file if it is still open (what was written stays, possibly incomplete).
  ~TiffWriter();

  // Takes a bitmap and its resolution; appends it as the next page.
  Status AddPage(const gdi::Dib& dib, int dpi);
  // Finishes the file. IOError when the last writes failed.
  Status Close();

 private:
  explicit TiffWriter(TIFF* tiff) : tiff_(tiff) {}
  TIFF* tiff_ = nullptr;
};

}  // namespace zv::lumbrel
