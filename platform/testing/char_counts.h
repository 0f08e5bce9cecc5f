// Test helper: whether every character of a source text came back in text read out of a
// printed or saved document (pdftotext). Both sides are compared as multisets of characters
// after NFKC (so ligatures count as their letters and full-width forms as their plain ones),
// whitespace and order aside.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace zv::testing {

// Takes UTF-8 text; gives how often each character occurs in it after NFKC, whitespace left
// out (invalid UTF-8 gives an empty map).
std::map<char32_t, int> CharacterCounts(std::string_view utf8);

// Takes the source text and the text read back; gives the source's characters that are
// missing from what was read, each as often as it is missing, in code point order (UTF-8;
// empty when every character arrived).
std::string MissingCharacters(std::string_view source, std::string_view read_back);

}  // namespace zv::testing
