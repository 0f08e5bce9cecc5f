// Small text helpers of the engine's file formats: trimming, ASCII case, leading numbers,
// list splitting and joining.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/ascii.h"

namespace zv::engine {

// Gives `s` without blanks (space, tab, CR, LF, VT, FF) on both sides.
std::string Trim(std::string_view s);

// Gives `s` with ASCII letters upper-cased (other bytes, UTF-8 included, unchanged).
std::string UpperAscii(std::string_view s);

using zv::EqualsNoCase;

// Gives the leading decimal number of `s` after optional blanks and a sign; 0 when there is
// none. Values beyond the int32 range are clamped to it.
int32_t LeadingInt(std::string_view s);

// True when `s` is a whole number as a request writes it: an optional "+" or "-" and one or
// more decimal digits, nothing before or after (no blanks).
bool IsWholeNumber(std::string_view s);

// Splits `text` at `sep`: the whole text is trimmed, each item is trimmed, and empty items
// are dropped unless `keep_empty`.
std::vector<std::string> SplitList(std::string_view text, char sep, bool keep_empty = false);

// Joins `items` with `sep` between them; empty items are left out unless `keep_empty`.
std::string JoinList(const std::vector<std::string>& items, std::string_view sep, bool keep_empty = false);

}  // namespace zv::engine
