#include "platform/codepage/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zv::codepage {
namespace {

// Length of the unit that failed at `p` in the source encoding, so substitution can skip it.
using SkipFn = size_t (*)(const unsigned char* p, size_t left);

size_t SkipCp932(const unsigned char* p, size_t left) {
  return (IsCp932Lead(p[0]) && left >= 2) ? 2 : 1;
}

// Takes bytes at an invalid UTF-8 sequence; gives the length of its maximal subpart (the
// longest start of a well-formed sequence, at least one byte), so that each such subpart
// costs one substitute, as Unicode recommends (Table 3-7), and the next character survives:
// "\xE0\x80\x80" is three subparts, a truncated "\xE3\x81" one.
size_t SkipUtf8(const unsigned char* p, size_t left) {
  const unsigned char c = p[0];
  const size_t n = (c >= 0xc2 && c <= 0xdf) ? 2 : (c >= 0xe0 && c <= 0xef) ? 3 : (c >= 0xf0 && c <= 0xf4) ? 4 : 1;
  if (n == 1 || left < 2) return 1;
  // The second byte's range depends on the lead (no overlong forms, surrogates or code
  // points past U+10FFFF); later ones are plain continuation bytes.
  const unsigned char low = c == 0xe0 ? 0xa0 : c == 0xf0 ? 0x90 : 0x80;
  const unsigned char high = c == 0xed ? 0x9f : c == 0xf4 ? 0x8f : 0xbf;
  if (p[1] < low || p[1] > high) return 1;
  size_t i = 2;
  while (i < n && i < left && (p[i] & 0xc0) == 0x80) ++i;
  return i;
}

size_t SkipUtf16Le(const unsigned char* p, size_t left) {
  if (left < 2) return left;
  unsigned u = p[0] | (p[1] << 8);
  if (u >= 0xd800 && u <= 0xdbff && left >= 4) {
    unsigned v = p[2] | (p[3] << 8);
    if (v >= 0xdc00 && v <= 0xdfff) return 4;
  }
  return 2;
}

Result<std::string> Convert(const char* to, const char* from, std::string_view in, OnError on_error, SkipFn skip,
                            std::string_view substitute) {
  iconv_t cd = ThreadConverter(to, from);
  if (!cd) return Status::NotSupported(std::string("no converter from ") + from + " to " + to);
  std::string out;
  out.resize(in.size() * 2 + 16);
  char* inp = const_cast<char*>(in.data());
  size_t inleft = in.size();
  size_t used = 0;
  for (;;) {
    char* outp = out.data() + used;
    size_t outleft = out.size() - used;
    size_t r = iconv(cd, inleft ? &inp : nullptr, &inleft, &outp, &outleft);
    used = out.size() - outleft;
    if (r != static_cast<size_t>(-1)) {
      if (inleft == 0) break;
      continue;
    }
    int e = errno;
    if (e == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    size_t offset = in.size() - inleft;
    if (on_error == OnError::kFail) {
      return Status::InvalidArgument(
          std::string(e == EILSEQ ? "unmappable or invalid character" : "incomplete character") + " at byte " +
          std::to_string(offset) + " (" + from + " to " + to + ")");
    }
    size_t n = skip(reinterpret_cast<const unsigned char*>(inp), inleft);
    if (n == 0) n = 1;
    if (n > inleft) n = inleft;
    inp += n;
    inleft -= n;
    out.resize(used);
    out.append(substitute);
    used = out.size();
    out.resize(used + inleft * 2 + 16);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // reset shift state
    if (inleft == 0) break;
  }
  out.resize(used);
  return out;
}

// Text conversions are asked for a few characters at a time; most text is plain ASCII, which
// CP932 and UTF-8 write alike, and Unicode's own forms convert without iconv. Input that is
// not plain (invalid or unusual sequences) goes through iconv, so what it gives stays iconv's.
bool AllAscii(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// UTF-16LE bytes of well-formed text (whole units, surrogates in pairs) as UTF-8; none for
// anything else.
std::optional<std::string> PlainUtf16LeToUtf8(std::string_view bytes) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size() / 2;
  for (size_t i = 0; i < n; ++i) {
    char32_t u = p[2 * i] | (p[2 * i + 1] << 8);
    if (u >= 0xD800 && u <= 0xDFFF) {
      if (u > 0xDBFF || i + 1 >= n) return std::nullopt;
      const char32_t v = p[2 * i + 2] | (p[2 * i + 3] << 8);
      if (v < 0xDC00 || v > 0xDFFF) return std::nullopt;
      u = 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00);
      ++i;
    }
    AppendUtf8(out, u);
  }
  return out;
}

// Well-formed UTF-8 (shortest forms, no surrogates, nothing past U+10FFFF) as UTF-16LE bytes;
// none for anything else.
std::optional<std::string> PlainUtf8ToUtf16Le(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() * 2);
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const size_t n = utf8.size();
  auto put = [&](char32_t u) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  };
  for (size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    char32_t cp;
    size_t len;
    if (c < 0x80) {
      cp = c, len = 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
      cp = c & 0x1F, len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      cp = c & 0x0F, len = 3;
    } else if (c >= 0xF0 && c <= 0xF4) {
      cp = c & 0x07, len = 4;
    } else {
      return std::nullopt;
    }
    if (i + len > n) return std::nullopt;
    for (size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
      return std::nullopt;
    }
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
    i += len;
  }
  return out;
}

}  // namespace

iconv_t ThreadConverter(const char* to, const char* from) {
  // A thread uses a handful of converters: they are found by comparing names, without making
  // strings, as text calls ask for one per few characters.
  struct Open {
    std::string to, from;
    iconv_t cd;
  };
  struct Cache {
    std::vector<Open> open;
    ~Cache() {
      for (Open& o : open) {
        if (o.cd != reinterpret_cast<iconv_t>(-1)) iconv_close(o.cd);
      }
    }
  };
  thread_local Cache cache;
  iconv_t cd = nullptr;
  bool found = false;
  for (const Open& o : cache.open) {
    if (std::strcmp(o.to.c_str(), to) == 0 && std::strcmp(o.from.c_str(), from) == 0) {
      cd = o.cd;
      found = true;
      break;
    }
  }
  if (!found) {
    cd = iconv_open(to, from);
    cache.open.push_back(Open{to, from, cd});
  }
  if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  return cd;
}

Result<std::string> Cp932ToUtf8(std::string_view cp932, OnError on_error) {
  if (AllAscii(cp932)) return std::string(cp932);
  return Convert("UTF-8", "CP932", cp932, on_error, SkipCp932, "\xEF\xBF\xBD");
}

Result<std::string> Utf8ToCp932(std::string_view utf8, OnError on_error) {
  if (AllAscii(utf8)) return std::string(utf8);
  return Convert("CP932", "UTF-8", utf8, on_error, SkipUtf8, "?");
}

std::vector<std::string_view> Cp932Chars(std::string_view text) {
  std::vector<std::string_view> out;
  for (size_t i = 0; i < text.size();) {
    const size_t n = (IsCp932Lead(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ? 2 : 1;
    out.push_back(text.substr(i, n));
    i += n;
  }
  return out;
}

size_t Cp932FitLength(std::string_view cp932, size_t max_bytes) {
  size_t n = 0;
  while (n < cp932.size()) {
    const unsigned char c = static_cast<unsigned char>(cp932[n]);
    const size_t w = IsCp932Lead(c) ? 2 : 1;
    if (n + w > max_bytes) break;
    n += w;
  }
  return n;
}

Result<std::string> Utf16LeBytesToUtf8(std::string_view bytes, OnError on_error) {
  if (bytes.size() % 2 != 0 && on_error == OnError::kFail) {
    return Status::InvalidArgument("UTF-16 text with an odd number of bytes");
  }
  if (auto plain = PlainUtf16LeToUtf8(bytes)) return std::move(*plain);
  return Convert("UTF-8", "UTF-16LE", bytes, on_error, SkipUtf16Le, "\xEF\xBF\xBD");
}

Result<std::string> Utf16ToUtf8(std::u16string_view utf16, OnError on_error) {
  std::string bytes;
  bytes.reserve(utf16.size() * 2);
  for (char16_t u : utf16) {
    bytes.push_back(static_cast<char>(u & 0xff));
    bytes.push_back(static_cast<char>(u >> 8));
  }
  return Utf16LeBytesToUtf8(bytes, on_error);
}

Result<std::string> Utf8ToUtf16LeBytes(std::string_view utf8, OnError on_error) {
  if (auto plain = PlainUtf8ToUtf16Le(utf8)) return std::move(*plain);
  return Convert("UTF-16LE", "UTF-8", utf8, on_error, SkipUtf8, std::string_view("\xFD\xFF", 2));
}

Result<std::u16string> Utf8ToUtf16(std::string_view utf8, OnError on_error) {
  auto bytes = Utf8ToUtf16LeBytes(utf8, on_error);
  if (!bytes.ok()) return bytes.status();
  std::u16string out;
  out.reserve(bytes->size() / 2);
  for (size_t i = 0; i + 1 < bytes->size(); i += 2) {
    out.push_back(static_cast<char16_t>(static_cast<unsigned char>((*bytes)[i]) |
                                        (static_cast<unsigned char>((*bytes)[i + 1]) << 8)));
  }
  return out;
}

}  // namespace zv::codepage
