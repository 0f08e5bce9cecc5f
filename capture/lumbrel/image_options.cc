#include "capture/lumbrel/image_options.h"

#include <atomic>
#include <cstring>
#include <string>

#include "capture/common/blocks.h"
#include "platform/shm/shm.h"

namespace zv::lumbrel {

namespace {

std::optional<ImageOptions> ReadSharedBlock(int slot) {
  // The resident program's kind-2 block of the slot (capture/common names it).
  Result<shm::SharedBlock> block = shm::SharedBlock::Open(capture::SlotBlockName(slot, 2), shm::Access::kRead);
  if (!block.ok()) return std::nullopt;
  return ParseImageOptions(block->bytes());
}

std::atomic<ImageOptionsReader> g_reader{&ReadSharedBlock};

}  // namespace

std::optional<ImageOptions> ParseImageOptions(std::span<const std::byte> block) {
  if (block.size() < 12) return std::nullopt;
  const auto* b = reinterpret_cast<const std::uint8_t*>(block.data());
  ImageOptions o;
  o.monochrome = b[6] != 0;
  o.box_width = std::uint16_t(b[7] | (b[8] << 8));
  o.box_height = std::uint16_t(b[9] | (b[10] << 8));
  o.naming = b[11];
  return o;
}

std::optional<ImageOptions> ReadImageOptions(int slot) { return g_reader.load()(slot); }

void SetImageOptionsReader(ImageOptionsReader reader) { g_reader.store(reader ? reader : &ReadSharedBlock); }

}  // namespace zv::lumbrel
