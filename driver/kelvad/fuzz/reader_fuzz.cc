// Reads arbitrary bytes as a page raster stream, in uneven chunks.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "driver/kelvad/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t at = 0, step = 1;
  zv::driver::PageStreamReader reader([&](std::span<std::uint8_t> b) -> std::optional<std::size_t> {
    std::size_t n = std::min({b.size(), size - at, step});
    std::memcpy(b.data(), data + at, n);
    at += n;
    step = step * 7 % 4093 + 1;
    return n;
  });
  for (int pages = 0; pages < 4; ++pages) {
    auto page = reader.NextPage();
    if (!page.ok() || !page->has_value()) break;
    std::vector<std::uint8_t> row((*page)->bytes_per_row);
    for (std::uint32_t y = 0; y < (*page)->height; ++y)
      if (!reader.ReadRow(row).ok()) return 0;
  }
  return 0;
}
