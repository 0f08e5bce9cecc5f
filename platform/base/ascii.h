// ASCII text helpers shared by the file formats and the platform layer: the comparisons that
// Windows made without regard to case (names of keys, sections, windows, faces, files).
// Bytes outside A-Z/a-z, UTF-8 and CP932 included, compare as they are.
#pragma once

#include <string>
#include <string_view>

namespace zv {

// Gives `c` with A-Z lowered.
constexpr char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Gives `s` with A-Z lowered.
inline std::string ToLowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

// Gives whether `a` and `b` are equal without regard to ASCII case.
constexpr bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// Gives <0, 0 or >0 as `a` sorts before, with or after `b` without regard to ASCII case
// (bytes compared unsigned; a prefix sorts first).
constexpr int CompareNoCase(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(LowerAscii(a[i])), y = static_cast<unsigned char>(LowerAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// Gives whether `s` begins with `prefix`, without regard to ASCII case.
constexpr bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

// Gives whether `s` ends with `suffix`, without regard to ASCII case.
constexpr bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && EqualsNoCase(s.substr(s.size() - suffix.size()), suffix);
}

}  // namespace zv
