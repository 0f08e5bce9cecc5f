// Feeds arbitrary bytes as a caller's device mode to the merge and the conversions; the
// printable area of the merged mode must stay positive.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "driver/settings/devmode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zv::driver;
  MemoryPlatform ops;
  ops.printers["Zelvora-Raster"];
  // A copy of exactly the input, so any read past it is caught.
  std::vector<std::uint8_t> in(data, data + size);
  PRIVDEVMODE target = BuildDefaultDevmode(ops, "Zelvora-Raster");
  if (MergeDevmode(ops, "Zelvora-Raster", target, in) == 1) {
    const int row = FindPaperRow(target, ops, "Zelvora-Raster");
    for (bool landscape : {false, true}) {
      PaperRow p = ComputePaperRow(row, target, landscape);
      if (p.printable_w_px == 0 || p.printable_h_px == 0 || p.printable_w_px > p.width_px) std::abort();
    }
  }
  std::vector<std::uint8_t> out(size / 2 + 1);
  std::uint32_t out_size = static_cast<std::uint32_t>(out.size());
  for (int mode : {kConvertToCurrent, kConvertTo351, kConvertDriverDefault}) {
    out_size = static_cast<std::uint32_t>(out.size());
    CommonConvertDevmode(in, out, &out_size, mode, {0x0101, 344, 0x0100, 344});
  }
  CopyOrConvertDevmode(in, Bytes(target), out);
  CopyOrConvertDevmode(Bytes(target), in, out);
  return 0;
}
