#include "platform/gdi/dib_depth.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <vector>

namespace zv::gdi {
namespace {

// The colours of a bitmap, at most 256, in a small open-addressed table.
class Palette {
 public:
  Palette() { slots_.fill(-1); }
  // Gives the colour's index, adding it; -1 once a 257th colour is asked for.
  int Index(std::uint32_t colour) {
    std::uint32_t h = (colour * 2654435761u) >> 23;  // 9 bits: 512 slots
    for (;;) {
      if (slots_[h] < 0) {
        if (colours_.size() == 256) return -1;
        slots_[h] = static_cast<std::int16_t>(colours_.size());
        colours_.push_back(colour);
        return slots_[h];
      }
      if (colours_[static_cast<std::size_t>(slots_[h])] == colour) return slots_[h];
      h = (h + 1) & 511;
    }
  }
  const std::vector<std::uint32_t>& colours() const { return colours_; }

 private:
  std::array<std::int16_t, 512> slots_{};
  std::vector<std::uint32_t> colours_;
};

}  // namespace

std::optional<Dib> NarrowDib(const DibRef& dib) {
  if (dib.info.size() < sizeof(win::BITMAPINFOHEADER) || dib.usage != win::DIB_RGB_COLORS) return std::nullopt;
  win::BITMAPINFOHEADER h;
  std::memcpy(&h, dib.info.data(), sizeof h);
  if (h.biSize != sizeof h || h.biBitCount != 24 || h.biCompression != win::BI_RGB || h.biPlanes != 1 ||
      h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == std::numeric_limits<std::int32_t>::min())
    return std::nullopt;
  const std::size_t w = static_cast<std::size_t>(h.biWidth);
  const std::size_t rows = static_cast<std::size_t>(h.biHeight < 0 ? -static_cast<long long>(h.biHeight) : h.biHeight);
  const std::size_t stride = (w * 3 + 3) & ~std::size_t{3};
  if (w > (std::size_t{1} << 28) || rows > (std::size_t{1} << 28) || stride * rows > dib.bits.size())
    return std::nullopt;

  // One pass finds the colours and writes 8-bit indexes; a second packs them to 1 bit when
  // two colours are all there are.
  Palette palette;
  const std::size_t stride8 = (w + 3) & ~std::size_t{3};
  std::vector<std::uint8_t> indexes(stride8 * rows, 0);
  for (std::size_t y = 0; y < rows; ++y) {
    const std::uint8_t* src = dib.bits.data() + y * stride;
    std::uint8_t* dst = indexes.data() + y * stride8;
    std::uint32_t last = 0xFFFFFFFFu;
    int last_index = 0;
    for (std::size_t x = 0; x < w; ++x) {
      const std::uint32_t c = src[3 * x] | (std::uint32_t{src[3 * x + 1]} << 8) | (std::uint32_t{src[3 * x + 2]} << 16);
      if (c != last) {
        last_index = palette.Index(c);
        if (last_index < 0) return std::nullopt;
        last = c;
      }
      dst[x] = static_cast<std::uint8_t>(last_index);
    }
  }
  const auto& colours = palette.colours();
  const int bits = colours.size() <= 2 ? 1 : 8;
  Dib out;
  win::BITMAPINFOHEADER nh = h;
  nh.biBitCount = static_cast<win::WORD>(bits);
  nh.biClrUsed = static_cast<win::DWORD>(colours.size());
  nh.biClrImportant = 0;
  out.info.assign(sizeof nh + 4 * colours.size(), 0);
  for (std::size_t i = 0; i < colours.size(); ++i) {
    std::uint8_t* e = out.info.data() + sizeof nh + 4 * i;
    e[0] = static_cast<std::uint8_t>(colours[i]);
    e[1] = static_cast<std::uint8_t>(colours[i] >> 8);
    e[2] = static_cast<std::uint8_t>(colours[i] >> 16);
  }
  if (bits == 8) {
    nh.biSizeImage = static_cast<win::DWORD>(indexes.size());
    out.bits = std::move(indexes);
  } else {
    const std::size_t stride1 = ((w + 31) / 32) * 4;
    nh.biSizeImage = static_cast<win::DWORD>(stride1 * rows);
    out.bits.assign(stride1 * rows, 0);
    for (std::size_t y = 0; y < rows; ++y) {
      const std::uint8_t* src = indexes.data() + y * stride8;
      std::uint8_t* dst = out.bits.data() + y * stride1;
      for (std::size_t x = 0; x < w; ++x)
        if (src[x]) dst[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
    }
  }
  std::memcpy(out.info.data(), &nh, sizeof nh);
  return out;
}

}  // namespace zv::gdi
