#include "pdfwriter/cp932.h"

#include <iconv.h>

#include <bit>

namespace zv::pdf {

namespace {

std::optional<std::string> Convert(const char* from, const char* data, size_t size) {
  iconv_t cd = ::iconv_open("CP932", from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(size * 2 + 8, '\0');
  char* in = const_cast<char*>(data);
  size_t in_left = size;
  char* o = out.data();
  size_t out_left = out.size();
  const size_t r = ::iconv(cd, &in, &in_left, &o, &out_left);
  ::iconv_close(cd);
  if (r == static_cast<size_t>(-1) || in_left != 0) return std::nullopt;
  out.resize(out.size() - out_left);
  return out;
}

}  // namespace

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
  return Convert("UTF-8", utf8.data(), utf8.size());
}

std::optional<std::string> Utf16ToCp932(std::u16string_view utf16) {
  return Convert(std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE", reinterpret_cast<const char*>(utf16.data()), utf16.size() * sizeof(char16_t));
}

}  // namespace zv::pdf
