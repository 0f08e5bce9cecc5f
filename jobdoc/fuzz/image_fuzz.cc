// Fuzzes the document image walker directly: the first byte chooses whether pages carry
// trailers, the rest is the image.
#include <cstddef>
#include <cstdint>

#include "jobdoc/image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool trailers = (data[0] & 1) != 0;
  std::span<const std::uint8_t> image(data + 1, size - 1);
  zv::jobdoc::ImageWalker walker(image, trailers);
  for (std::size_t steps = 0; steps <= image.size() + 1; ++steps) {
    auto item = walker.Next();
    if (!item.ok() || item->kind == zv::jobdoc::ImageItem::Kind::kEnd) return 0;
  }
  __builtin_trap();  // the walk must end within one step per byte
}
