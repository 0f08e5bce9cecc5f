// libFuzzer target: any bytes as a metafile, played onto a small bitmap through the reader.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/gdi/player.h"
#include "platform/gdi/surfaces.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto bitmap = zv::gdi::MemoryBitmap::Create(64, 64);
  zv::gdi::RECT dest{0, 0, 64, 64};
  zv::gdi::PlayMetafile((*bitmap)->dc(), std::span<const std::uint8_t>(data, size), &dest);
  zv::gdi::PlayMetafile((*bitmap)->dc(), std::span<const std::uint8_t>(data, size), nullptr);
  return 0;
}
