#include "jobdoc/tests/test_data.h"

#include <string>

namespace zv::jobdoc::testdata {
namespace {
std::uint32_t Next(std::uint32_t& s) {
  s ^= s << 13;
  s ^= s >> 17;
  s ^= s << 5;
  return s;
}
}  // namespace

std::vector<std::uint8_t> TextLike(std::size_t n, std::uint32_t seed) {
  static const char* const kWords[] = {
      "the",   "print", "job",    "page",  "of",     "document", "server", "quota",
      "user",  "group", "colour", "sheet", "layout", "and",      "a",      "to",
      "header", "footer", "copies", "range", "printer", "paper", "A4", "2026"};
  std::vector<std::uint8_t> out;
  out.reserve(n);
  std::uint32_t s = seed | 1;
  while (out.size() < n) {
    std::string w = kWords[Next(s) % (sizeof kWords / sizeof *kWords)];
    for (char c : w) out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(Next(s) % 11 == 0 ? '\n' : ' ');
  }
  out.resize(n);
  return out;
}

std::vector<std::uint8_t> Random(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> out(n);
  std::uint32_t s = seed | 1;
  for (auto& b : out) b = static_cast<std::uint8_t>(Next(s) >> 7);
  return out;
}

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
