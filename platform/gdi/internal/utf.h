// Private: UTF-8 <-> UTF-16 for face names and text (no code page tables involved).
#pragma once

#include <string>
#include <string_view>

namespace zv::gdi::detail {

// Takes UTF-8 (invalid bytes become U+FFFD); gives UTF-16.
std::u16string Utf8To16(std::string_view s);
// Takes a code point below U+110000 that is no surrogate; appends its UTF-8 to `out`.
void AppendUtf8(std::string& out, char32_t cp);
// Takes UTF-16 (unpaired surrogates become U+FFFD); gives UTF-8.
std::string Utf16To8(std::u16string_view s);

}  // namespace zv::gdi::detail
