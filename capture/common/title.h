// Job titles: the title shown to the user and used in file names and command lines, derived
// from the document name a job was printed with (CP932 bytes).
#pragma once

#include <string>
#include <string_view>

namespace zv::capture {

// The most bytes a title holds (the 260-byte buffers of the hand-over, less the NUL).
inline constexpr std::size_t kMaxTitleBytes = 259;

// Takes a document name (CP932); gives its title (CP932): known application prefixes and
// endings dropped ("Microsoft Word - " with ".DOC", "Microsoft PowerPoint - ",
// "Microsoft Outlook - ", "印刷（...）", ".xls"), characters that cannot stand in a file
// name or a quoted argument made full-width, a two-byte character with a trail byte below
// 0x40 made an ideographic space, control characters dropped. The result never passes
// kMaxTitleBytes, never splits a two-byte character and never reads past a lone lead byte
// (which is dropped).
std::string DeriveDocumentTitle(std::string_view name);

// Takes a title (CP932); gives it as UTF-8 for paths, messages and command lines (bytes that
// do not convert become substitutes).
std::string TitleToUtf8(std::string_view title);

}  // namespace zv::capture
