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

}  // namespace zv::jobdoc::testdata
