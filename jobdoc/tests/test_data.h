// Deterministic byte patterns for the job document tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "jobdoc/sample/sample_document.h"

namespace zv::jobdoc::testdata {

using sample::Random;
using sample::TextLike;

// One block of a packed document file, as its header describes it.
struct BlockInfo {
  bool stored;
  std::size_t payload;
};
// Gives the blocks of a packed document file (after its 5-byte head).
std::vector<BlockInfo> Blocks(const std::vector<std::uint8_t>& file);

}  // namespace zv::jobdoc::testdata
