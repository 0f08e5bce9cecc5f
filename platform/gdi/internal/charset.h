// Private: ANSI text of a font's character set to UTF-16, keeping track of which bytes make
// each character (advances of ExtTextOutA come one per byte).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zv::gdi::detail {

// The code page text of the character set uses (932 for SHIFTJIS_CHARSET, 1252 for
// ANSI_CHARSET, the system code page 932 for DEFAULT_CHARSET and OEM_CHARSET, ...).
int CodePageOfCharset(int charset);

struct DecodedText {
  std::u16string text;
  std::vector<int> bytes_per_char;  // one entry per UTF-16 unit: how many source bytes it took
};

// Converts bytes of the code page to UTF-16; invalid sequences become U+FFFD (one per byte),
// never an error. SYMBOL_CHARSET maps byte b to U+F000 + b.
DecodedText DecodeAnsi(std::string_view bytes, int charset);

// Converts UTF-16 to the code page (for GetTextExtentPoint32A's callers that measure ANSI).
std::string EncodeAnsi(std::u16string_view text, int charset);

}  // namespace zv::gdi::detail
