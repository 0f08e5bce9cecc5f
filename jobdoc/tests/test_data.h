// Deterministic byte patterns for the job document tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zv::jobdoc::testdata {

// Gives `n` bytes of English-like text (words, spaces, line ends) from a fixed seed.
std::vector<std::uint8_t> TextLike(std::size_t n, std::uint32_t seed = 1);
// Gives `n` bytes that do not compress (a fixed pseudo-random stream).
std::vector<std::uint8_t> Random(std::size_t n, std::uint32_t seed = 7);

// One block of a packed document file, as its header describes it.
struct BlockInfo {
  bool stored;
  std::size_t payload;
};
// Gives the blocks of a packed document file (after its 5-byte head).
std::vector<BlockInfo> Blocks(const std::vector<std::uint8_t>& file);

}  // namespace zv::jobdoc::testdata
