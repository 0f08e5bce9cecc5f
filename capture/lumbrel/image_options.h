// The save-as-image options the converters read: what the client main program stores in the
// 12-byte kind-2 slot block of slot 3 (raster converter) and slot 4 (PNG converter):
//
//   offset 0  u32 record size (12)   offset 6  u8  monochrome (not 0: 1 bit per pixel)
//   offset 4  u8  slot               offset 7  u16 box width in pixels
//   offset 5  u8  kind (2)           offset 9  u16 box height in pixels
//                                    offset 11 u8  naming flags
//
// Naming flags: bit 0 set = the first page's file gets no number; bits 1 and 2 choose the
// number's width: 1 "%01d", 2 "%02d", 3 "%03d", 0 "%d".
//
// The converters ask ReadImageOptions(slot); by default it maps the block "ZvPerm<slot>_2"
// and reads it with ParseImageOptions. A program that holds the slot blocks itself may
// install its own reader with SetImageOptionsReader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace zv::lumbrel {

struct ImageOptions {
  bool monochrome = false;
  std::uint16_t box_width = 0;
  std::uint16_t box_height = 0;
  std::uint8_t naming = 0;
};

// The slots whose blocks the converters read.
inline constexpr int kRasterOptionsSlot = 3;
inline constexpr int kPngOptionsSlot = 4;

// Takes the bytes of a kind-2 block; gives its options, or none when the bytes are shorter
// than the 12-byte record.
std::optional<ImageOptions> ParseImageOptions(std::span<const std::byte> block);

// A reader: takes a slot; gives the slot's options, or none when the slot has no block.
using ImageOptionsReader = std::optional<ImageOptions> (*)(int slot);

// Takes a slot; gives the options of its block through the installed reader.
std::optional<ImageOptions> ReadImageOptions(int slot);

// Takes a reader, or null for the default one (the shared block "ZvPerm<slot>_2" of this
// user and runtime root); installs it for every later conversion of the process.
void SetImageOptionsReader(ImageOptionsReader reader);

}  // namespace zv::lumbrel
