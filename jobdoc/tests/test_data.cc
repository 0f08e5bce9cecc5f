#include "jobdoc/tests/test_data.h"

namespace zv::jobdoc::testdata {

std::vector<BlockInfo> Blocks(const std::vector<std::uint8_t>& file) {
  std::vector<BlockInfo> out;
  for (std::size_t at = 5; at + 2 <= file.size();) {
    unsigned h = (unsigned(file[at]) << 8) | file[at + 1];
    std::size_t len = (h & 0x7FFF) ? (h & 0x7FFF) : 32768;
    out.push_back({(h & 0x8000) != 0, len});
    at += 2 + len;
  }
  return out;
}

}  // namespace zv::jobdoc::testdata
