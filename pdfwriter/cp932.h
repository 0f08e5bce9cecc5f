// Conversion of face names to CP932, the encoding of the font catalogue's keys.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zv::pdf {

// Takes UTF-8 text; gives its CP932 bytes, or nothing when it is not valid UTF-8 or holds a
// character CP932 lacks.
std::optional<std::string> Utf8ToCp932(std::string_view utf8);

// Takes UTF-16 text (native byte order); gives its CP932 bytes, or nothing on failure.
std::optional<std::string> Utf16ToCp932(std::u16string_view utf16);

}  // namespace zv::pdf
