// Text encodings at the edge: CP932 (the Japanese ANSI code page of the job documents,
// capture files, shared-memory records and metafile records) and UTF-16LE (the "wide"
// text of Windows records) to and from UTF-8, the encoding used inside the program.
// Backed by glibc iconv.
#pragma once

#include <iconv.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/base/status.h"

namespace zv::codepage {

// What to do with a character that the target encoding lacks, or with bytes that are not
// valid in the source encoding.
enum class OnError {
  kFail,        // give InvalidArgument naming the byte offset in the input
  kSubstitute,  // put a substitute in its place ("?" for CP932 output, U+FFFD for UTF-8
                // output, U+FFFD for UTF-16 output) and go on
};

// Takes iconv's names of a target and a source encoding; gives the calling thread's converter
// between them, opened on first use and kept for the thread's life (a descriptor is used by one
// thread at a time), reset to its initial state; null when the system has no such converter.
// The caller never closes it.
iconv_t ThreadConverter(const char* to, const char* from);

// Takes CP932 bytes; gives UTF-8 text.
Result<std::string> Cp932ToUtf8(std::string_view cp932, OnError on_error = OnError::kFail);

// Takes UTF-8 text; gives CP932 bytes.
Result<std::string> Utf8ToCp932(std::string_view utf8, OnError on_error = OnError::kFail);

// Takes UTF-8 text (a title, a name); gives it as CP932 with every character CP932 holds,
// each character it cannot hold (or that does not come back from CP932 as itself) and each
// byte that is not UTF-8 written as the full-width question mark "？".
std::string Utf8ToCp932Marking(std::string_view utf8);

// True for a byte that opens a CP932 double-byte character (0x81-0x9F, 0xE0-0xFC).
inline bool IsCp932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Takes CP932 bytes; gives them split into characters, each a view into `text`: a lead byte
// takes the byte after it, a lead byte at the very end stands alone.
std::vector<std::string_view> Cp932Chars(std::string_view text);

// Takes CP932 bytes and a byte count; gives the length of the longest start of the bytes
// that fits into the count without splitting a double-byte character (for fixed fields
// such as a face name).
size_t Cp932FitLength(std::string_view cp932, size_t max_bytes);

// Takes UTF-16LE text as 16-bit units; gives UTF-8 text. Unpaired surrogates are errors.
Result<std::string> Utf16ToUtf8(std::u16string_view utf16, OnError on_error = OnError::kFail);

// Takes UTF-16LE text as raw bytes (an odd count is an error); gives UTF-8 text.
Result<std::string> Utf16LeBytesToUtf8(std::string_view bytes, OnError on_error = OnError::kFail);

// Takes UTF-8 text; gives UTF-16 units (no byte order mark).
Result<std::u16string> Utf8ToUtf16(std::string_view utf8, OnError on_error = OnError::kFail);

// Takes UTF-8 text; gives UTF-16LE bytes (no byte order mark).
Result<std::string> Utf8ToUtf16LeBytes(std::string_view utf8, OnError on_error = OnError::kFail);

}  // namespace zv::codepage
