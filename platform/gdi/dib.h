// Device-independent bitmaps as the drawing calls take them: the bitmap info (a
// BITMAPINFOHEADER or a larger header, then bit-field masks and the colour table) and the
// pixel rows, as a view (DibRef) or an owned copy (Dib).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/base/status.h"
#include "platform/wintypes/gdi.h"

namespace zv::gdi {

// A view of a bitmap: `info` starts with the BITMAPINFOHEADER (biSize bytes) followed by the
// masks (BI_BITFIELDS) and the colour table; `bits` holds the rows, each padded to 4 bytes.
struct DibRef {
  std::span<const std::uint8_t> info;
  std::span<const std::uint8_t> bits;
  win::UINT usage = win::DIB_RGB_COLORS;
};

// An owned bitmap (pattern brushes, bitmaps read back from a device context).
struct Dib {
  std::vector<std::uint8_t> info;
  std::vector<std::uint8_t> bits;
  win::UINT usage = win::DIB_RGB_COLORS;

  DibRef ref() const { return DibRef{info, bits, usage}; }
  static Dib Copy(const DibRef& r) {
    return Dib{{r.info.begin(), r.info.end()}, {r.bits.begin(), r.bits.end()}, r.usage};
  }
};

// A bitmap decoded to 32-bit pixels 0xAARRGGBB (premultiplied alpha only when the source has
// alpha), top row first, `width` pixels a row.
struct DecodedDib {
  int width = 0;
  int height = 0;
  bool has_alpha = false;
  std::vector<std::uint32_t> pixels;
  // The 2-entry colour table of a 1-bit bitmap (raster operations with monochrome sources).
  bool monochrome = false;
};

// Checks a bitmap and decodes it: 1, 4, 8, 16, 24 and 32 bits per pixel, BI_RGB, BI_BITFIELDS,
// BI_RLE8 and BI_RLE4, bottom-up and top-down. Checks that the header, masks, colour table
// and rows fit in the given bytes and that width x height x bits does not overflow; gives
// InvalidArgument or NotSupported otherwise. DIB_PAL_COLORS tables are read as grey indexes.
Result<DecodedDib> DecodeDib(const DibRef& dib);

// A band of a bitmap's rows as a bitmap of its own: its header (the height the band's) with
// the masks and colour table, and a view of the band's rows in the same bits.
struct DibBand {
  std::vector<std::uint8_t> info;
  std::span<const std::uint8_t> bits;
  win::UINT usage = win::DIB_RGB_COLORS;

  DibRef ref() const { return DibRef{info, bits, usage}; }
};

// Takes a bitmap of uncompressed rows and a band of them (`first` counted from the top row,
// `rows` rows); gives the band, or InvalidArgument when the band lies outside the bitmap, its
// rows are short or run-length encoded. A large bitmap is decoded a band at a time so.
Result<DibBand> DibRows(const DibRef& dib, std::int64_t first, std::int64_t rows);

// Builds a 24-bit (or 32-bit when `bits` is 32) bottom-up BI_RGB bitmap from 0x00RRGGBB
// pixels, top row first.
Dib EncodeDib(int width, int height, std::span<const std::uint32_t> pixels, int bits = 24);

}  // namespace zv::gdi
