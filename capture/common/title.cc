#include "capture/common/title.h"

#include "platform/base/ascii.h"
#include "platform/codepage/codepage.h"

namespace zv::capture {
namespace {

bool StartsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

bool EndsWithNoCase(std::string_view s, std::string_view e) {
  return s.size() >= e.size() && EqualsNoCase(s.substr(s.size() - e.size()), e);
}

// The full-width stand-in (CP932) for a single-byte character, or null.
// The title becomes a file name and part of a command line: characters Windows forbids in file
// names, and the shell's own, are replaced by their full-width forms, which read the same.
const char* FullWidth(char c) {
  switch (c) {
    case '"':
      return "\x81\x68";  // ”
    case '#':
      return "\x81\x94";  // ＃
    case '%':
      return "\x81\x93";  // ％
    case '*':
      return "\x81\x96";  // ＊
    case '.':
      return "\x81\x44";  // ．
    case '/':
      return "\x81\x5E";  // ／
    case ':':
      return "\x81\x46";  // ：
    case ';':
      return "\x81\x47";  // ；
    case '<':
      return "\x81\x83";  // ＜
    case '>':
      return "\x81\x84";  // ＞
    case '?':
      return "\x81\x48";  // ？
    case '\\':
      return "\x81\x8F";  // ￥
    case '|':
      return "\x81\x62";  // ｜
    default:
      return nullptr;
  }
}

}  // namespace

std::string DeriveDocumentTitle(std::string_view name) {
  static const std::string_view kWord = "Microsoft Word - ";
  static const std::string_view kPowerPoint = "Microsoft PowerPoint - ";
  static const std::string_view kOutlook = "Microsoft Outlook - ";
  static const std::string_view kPrintOpen = "\x88\xF3\x8D\xFC\x81\x69";  // 印刷（
  static const std::string_view kPrintClose = "\x81\x6A";                 // ）
  std::string_view rest = name;
  if (StartsWith(rest, kWord)) {
    rest.remove_prefix(kWord.size());
    if (EndsWithNoCase(rest, ".DOC")) rest.remove_suffix(4);
  } else if (StartsWith(rest, kPowerPoint)) {
    rest.remove_prefix(kPowerPoint.size());
  } else if (StartsWith(rest, kOutlook)) {
    rest.remove_prefix(kOutlook.size());
  } else if (StartsWith(rest, kPrintOpen) && rest.size() >= kPrintOpen.size() + kPrintClose.size() &&
             rest.substr(rest.size() - 2) == kPrintClose) {
    rest = rest.substr(kPrintOpen.size(), rest.size() - kPrintOpen.size() - 2);
  } else if (EndsWithNoCase(rest, ".xls")) {
    rest.remove_suffix(4);
  }

  std::string out;
  for (std::size_t i = 0; i < rest.size();) {
    unsigned char c = static_cast<unsigned char>(rest[i]);
    std::string chunk;
    if (codepage::IsCp932Lead(c)) {
      if (i + 1 >= rest.size()) break;  // a lone lead byte at the end: dropped
      unsigned char t = static_cast<unsigned char>(rest[i + 1]);
      if (t == 0) break;
      if (c == 0x81 && t < 0x40) {
        // A trail byte below 0x40 is no CP932 character: a full-width space stands in for the pair.
        chunk = "\x81\x40";
      } else {
        chunk = std::string(rest.substr(i, 2));
      }
      i += 2;
    } else {
      ++i;
      if (c < 0x20 || c == 0x7F) continue;  // never into a file name or command line
      if (const char* fw = FullWidth(static_cast<char>(c))) {
        chunk = fw;
      } else {
        chunk = std::string(1, static_cast<char>(c));
      }
    }
    if (out.size() + chunk.size() > kMaxTitleBytes) break;
    out += chunk;
  }
  return out;
}

std::string TitleToUtf8(std::string_view title) {
  auto utf8 = codepage::Cp932ToUtf8(title, codepage::OnError::kSubstitute);
  std::string s = utf8.ok() ? *utf8 : std::string();
  std::string out;
  for (char c : s) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) continue;
    out += c;
  }
  return out;
}

}  // namespace zv::capture
