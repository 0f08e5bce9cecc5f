#include "platform/gdi/dib.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

namespace zv::gdi {

namespace {

constexpr std::uint64_t kMaxPixels = std::uint64_t(1) << 27;  // 134M pixels

std::uint32_t Rd32(std::span<const std::uint8_t> b, size_t off) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + off, 4);
  return v;
}

// Extracts a channel with a bit-field mask and scales it to 8 bits.
std::uint32_t Channel(std::uint32_t v, std::uint32_t mask) {
  if (mask == 0) return 0;
  int shift = std::countr_zero(mask);
  int bits = std::popcount(mask);
  std::uint32_t c = (v & mask) >> shift;
  if (bits >= 8) return c >> (bits - 8);
  // Replicate the high bits into the low ones so full scale maps to 255.
  std::uint32_t r = 0;
  int have = 0;
  while (have < 8) {
    r = (r << bits) | c;
    have += bits;
  }
  return r >> (have - 8);
}

void DecodeRle(std::span<const std::uint8_t> d, bool rle4, int w, int h, const std::vector<std::uint32_t>& pal,
               std::vector<std::uint32_t>& out) {
  // Rows are bottom-up; pixels not set stay 0 (black, as the background of RLE bitmaps).
  int x = 0, y = 0;
  size_t i = 0;
  auto put = [&](int idx) {
    if (x < w && y < h) {
      std::uint32_t c = idx < int(pal.size()) ? pal[idx] : 0xFF000000u;
      out[size_t(h - 1 - y) * w + x] = c;
    }
    ++x;
  };
  while (i + 1 < d.size() && y < h) {
    int n = d[i], v = d[i + 1];
    i += 2;
    if (n > 0) {
      for (int k = 0; k < n && x < w; ++k) put(rle4 ? ((k & 1) ? (v & 0xF) : (v >> 4)) : v);
      continue;
    }
    if (v == 0) {
      x = 0;
      ++y;
    } else if (v == 1) {
      break;
    } else if (v == 2) {
      if (i + 1 >= d.size()) break;
      x += d[i];
      y += d[i + 1];
      i += 2;
    } else {
      int count = v;
      size_t bytes = rle4 ? (size_t(count) + 1) / 2 : size_t(count);
      if (i + bytes > d.size()) break;
      for (int k = 0; k < count; ++k) {
        int idx = rle4 ? ((k & 1) ? (d[i + k / 2] & 0xF) : (d[i + k / 2] >> 4)) : d[i + k];
        put(idx);
      }
      // An absolute run is padded to a 16-bit boundary.
      i += (bytes + 1) & ~size_t(1);
    }
  }
}

}  // namespace

Result<DibBand> DibRows(const DibRef& dib, std::int64_t first, std::int64_t rows) {
  auto hdr = win::LoadRecord<win::BITMAPINFOHEADER>(dib.info);
  if (!hdr || hdr->biSize < sizeof(win::BITMAPINFOHEADER) || hdr->biSize > dib.info.size())
    return Status::InvalidArgument("bitmap header out of range");
  if (hdr->biCompression != win::BI_RGB && hdr->biCompression != win::BI_BITFIELDS)
    return Status::InvalidArgument("a band of a compressed bitmap");
  if (hdr->biWidth <= 0 || hdr->biHeight == 0 || hdr->biHeight == INT32_MIN || hdr->biBitCount == 0)
    return Status::InvalidArgument("bitmap size out of range");
  const std::int64_t h = std::abs(std::int64_t(hdr->biHeight));
  if (first < 0 || rows <= 0 || first + rows > h) return Status::InvalidArgument("band outside the bitmap");
  const std::uint64_t stride = ((std::uint64_t(hdr->biWidth) * hdr->biBitCount + 31) / 32) * 4;
  // Rows are stored bottom-up unless the height is negative.
  const std::int64_t stored = hdr->biHeight < 0 ? first : h - first - rows;
  const std::uint64_t at = stride * std::uint64_t(stored), size = stride * std::uint64_t(rows);
  if (at > dib.bits.size()) return Status::InvalidArgument("bitmap bits shorter than its rows");
  DibBand band;
  band.info.assign(dib.info.begin(), dib.info.end());
  win::BITMAPINFOHEADER h2 = *hdr;
  h2.biHeight = hdr->biHeight < 0 ? -win::LONG(rows) : win::LONG(rows);
  h2.biSizeImage = 0;
  std::memcpy(band.info.data(), &h2, sizeof(h2));
  band.bits = dib.bits.subspan(at, std::min<std::uint64_t>(size, dib.bits.size() - at));
  band.usage = dib.usage;
  return band;
}

Result<DecodedDib> DecodeDib(const DibRef& dib) {
  auto hdr = win::LoadRecord<win::BITMAPINFOHEADER>(dib.info);
  if (!hdr) return Status::InvalidArgument("bitmap info shorter than its header");
  if (hdr->biSize < sizeof(win::BITMAPINFOHEADER) || hdr->biSize > dib.info.size()) {
    return Status::InvalidArgument("bitmap header size out of range");
  }
  const int bpp = hdr->biBitCount;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
    return Status::NotSupported("bitmap bit count " + std::to_string(bpp));
  }
  if (hdr->biWidth <= 0 || hdr->biHeight == 0 || hdr->biHeight == INT32_MIN) {
    return Status::InvalidArgument("bitmap size out of range");
  }
  const std::uint64_t w = std::uint64_t(hdr->biWidth);
  const bool top_down = hdr->biHeight < 0;
  const std::uint64_t h = top_down ? std::uint64_t(-std::int64_t(hdr->biHeight)) : std::uint64_t(hdr->biHeight);
  if (w * h > kMaxPixels) return Status::InvalidArgument("bitmap too large");
  const win::DWORD comp = hdr->biCompression;
  const bool rle = comp == win::BI_RLE8 || comp == win::BI_RLE4;
  if (rle && ((comp == win::BI_RLE8 && bpp != 8) || (comp == win::BI_RLE4 && bpp != 4) || top_down)) {
    return Status::InvalidArgument("run-length bitmap with a wrong bit count");
  }
  if (comp != win::BI_RGB && comp != win::BI_BITFIELDS && !rle) {
    return Status::NotSupported("bitmap compression " + std::to_string(comp));
  }
  if (comp == win::BI_BITFIELDS && bpp != 16 && bpp != 32) {
    return Status::InvalidArgument("bit fields need 16 or 32 bits per pixel");
  }
  size_t off = hdr->biSize;
  std::uint32_t rmask = 0, gmask = 0, bmask = 0;
  if (comp == win::BI_BITFIELDS) {
    if (hdr->biSize >= 52) {
      rmask = Rd32(dib.info, 40);
      gmask = Rd32(dib.info, 44);
      bmask = Rd32(dib.info, 48);
    } else {
      if (dib.info.size() < off + 12) return Status::InvalidArgument("bitmap masks missing");
      rmask = Rd32(dib.info, off);
      gmask = Rd32(dib.info, off + 4);
      bmask = Rd32(dib.info, off + 8);
      off += 12;
    }
  } else if (bpp == 16) {
    // Without masks a 16-bit bitmap is 5-5-5, the top bit unused.
    rmask = 0x7C00, gmask = 0x03E0, bmask = 0x001F;
  }
  std::vector<std::uint32_t> pal;
  if (bpp <= 8) {
    std::uint32_t n = hdr->biClrUsed ? hdr->biClrUsed : (1u << bpp);
    if (n > (1u << bpp)) n = 1u << bpp;
    const size_t entry = dib.usage == win::DIB_PAL_COLORS ? 2 : 4;
    if (dib.info.size() < off || (dib.info.size() - off) / entry < n) {
      return Status::InvalidArgument("bitmap colour table missing");
    }
    pal.resize(1u << bpp, 0xFF000000u);
    for (std::uint32_t k = 0; k < n; ++k) {
      const std::uint8_t* p = dib.info.data() + off + k * entry;
      if (entry == 4) {
        pal[k] = 0xFF000000u | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
      } else {
        // Palette indices name entries of a palette that is not kept here: an index is shown as the
        // grey of its low byte.
        std::uint32_t g = (std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8)) & 0xFF;
        pal[k] = 0xFF000000u | (g << 16) | (g << 8) | g;
      }
    }
  }
  DecodedDib out;
  out.width = int(w);
  out.height = int(h);
  out.has_alpha = bpp == 32 && comp == win::BI_RGB;
  out.monochrome = bpp == 1;
  if (rle) {
    out.pixels.assign(w * h, 0xFF000000u);
    DecodeRle(dib.bits, comp == win::BI_RLE4, int(w), int(h), pal, out.pixels);
    return out;
  }
  // Every pixel is written below: the array is only sized (a memset, not a fill by value).
  out.pixels.resize(w * h);
  const std::uint64_t stride = ((w * bpp + 31) / 32) * 4;
  // The last row need not be padded.
  const std::uint64_t need = stride * (h - 1) + (w * bpp + 7) / 8;
  if (dib.bits.size() < need) return Status::InvalidArgument("bitmap bits shorter than its rows");
  for (std::uint64_t row = 0; row < h; ++row) {
    const std::uint8_t* src = dib.bits.data() + stride * row;
    std::uint32_t* dst = out.pixels.data() + (top_down ? row : h - 1 - row) * w;
    switch (bpp) {
      case 1:
        for (std::uint64_t x = 0; x < w; ++x) dst[x] = pal[(src[x >> 3] >> (7 - (x & 7))) & 1];
        break;
      case 4:
        for (std::uint64_t x = 0; x < w; ++x) dst[x] = pal[(x & 1) ? (src[x >> 1] & 0xF) : (src[x >> 1] >> 4)];
        break;
      case 8:
        for (std::uint64_t x = 0; x < w; ++x) dst[x] = pal[src[x]];
        break;
      case 16:
        for (std::uint64_t x = 0; x < w; ++x) {
          std::uint32_t v = src[2 * x] | (std::uint32_t(src[2 * x + 1]) << 8);
          dst[x] = 0xFF000000u | (Channel(v, rmask) << 16) | (Channel(v, gmask) << 8) | Channel(v, bmask);
        }
        break;
      case 24: {
        // Blue, green, red: four bytes read at once give 0x..RRGGBB on a little-endian machine;
        // the row's last pixel is read byte by byte, as the row need not be padded.
        std::uint64_t x = 0;
        if constexpr (std::endian::native == std::endian::little) {
          for (; x + 1 < w; ++x) {
            std::uint32_t v;
            std::memcpy(&v, src + 3 * x, 4);
            dst[x] = 0xFF000000u | (v & 0xFFFFFFu);
          }
        }
        for (; x < w; ++x) {
          const std::uint8_t* p = src + 3 * x;
          dst[x] = 0xFF000000u | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
        }
        break;
      }
      case 32:
        if (comp == win::BI_BITFIELDS) {
          for (std::uint64_t x = 0; x < w; ++x) {
            std::uint32_t v;
            std::memcpy(&v, src + 4 * x, 4);
            dst[x] = 0xFF000000u | (Channel(v, rmask) << 16) | (Channel(v, gmask) << 8) | Channel(v, bmask);
          }
        } else {
          std::memcpy(dst, src, w * 4);
        }
        break;
    }
  }
  return out;
}

Dib EncodeDib(int width, int height, std::span<const std::uint32_t> pixels, int bits) {
  Dib d;
  win::BITMAPINFOHEADER h{};
  h.biSize = sizeof(h);
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = win::WORD(bits == 32 ? 32 : 24);
  h.biCompression = win::BI_RGB;
  const size_t stride = ((size_t(width) * h.biBitCount + 31) / 32) * 4;
  h.biSizeImage = win::DWORD(stride * height);
  h.biXPelsPerMeter = h.biYPelsPerMeter = 7874;
  d.info.resize(sizeof(h));
  std::memcpy(d.info.data(), &h, sizeof(h));
  d.bits.assign(stride * height, 0);
  for (int y = 0; y < height; ++y) {
    const std::uint32_t* src = pixels.data() + size_t(height - 1 - y) * width;
    std::uint8_t* dst = d.bits.data() + stride * y;
    for (int x = 0; x < width; ++x) {
      std::uint32_t p = src[x];
      if (h.biBitCount == 32) {
        std::memcpy(dst + 4 * x, &p, 4);
      } else {
        dst[3 * x] = std::uint8_t(p);
        dst[3 * x + 1] = std::uint8_t(p >> 8);
        dst[3 * x + 2] = std::uint8_t(p >> 16);
      }
    }
  }
  return d;
}

}  // namespace zv::gdi
