#include "platform/gdi/internal/charset.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "platform/codepage/codepage.h"
#include "platform/gdi/internal/utf.h"

namespace zv::gdi::detail {

int CodePageOfCharset(int charset) {
  switch (charset) {
    case 0:
      return 1252;  // ANSI
    case 2:
      return 0;  // SYMBOL (handled apart)
    case 128:
      return 932;  // SHIFTJIS
    case 129:
      return 949;  // HANGUL
    case 134:
      return 936;  // GB2312
    case 136:
      return 950;  // CHINESEBIG5
    case 161:
      return 1253;  // GREEK
    case 162:
      return 1254;  // TURKISH
    case 163:
      return 1258;  // VIETNAMESE
    case 177:
      return 1255;  // HEBREW
    case 178:
      return 1256;  // ARABIC
    case 186:
      return 1257;  // BALTIC
    case 204:
      return 1251;  // RUSSIAN
    case 222:
      return 874;  // THAI
    case 238:
      return 1250;  // EASTEUROPE
    default:
      return 932;  // DEFAULT, OEM, MAC and the rest: the system's code page
  }
}

namespace {

bool IsLeadByte(int cp, unsigned char b) {
  switch (cp) {
    case 932:
      return codepage::IsCp932Lead(b);
    case 936:
    case 949:
    case 950:
      return b >= 0x81 && b <= 0xFE;
    default:
      return false;
  }
}

std::string IconvName(int cp) {
  if (cp == 932) return "CP932";
  if (cp == 874) return "CP874";
  return "CP" + std::to_string(cp);
}

// Converts one character's bytes; empty when iconv refuses them.
std::u16string ConvertOne(iconv_t cd, std::string_view in) {
  char16_t out[4];
  char* ip = const_cast<char*>(in.data());
  size_t il = in.size();
  char* op = reinterpret_cast<char*>(out);
  size_t ol = sizeof(out);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &ip, &il, &op, &ol) == size_t(-1) || il != 0) return {};
  return std::u16string(out, (sizeof(out) - ol) / 2);
}

}  // namespace

DecodedText DecodeAnsi(std::string_view bytes, int charset) {
  DecodedText r;
  if (charset == 2) {
    for (unsigned char b : bytes) {
      // Symbol fonts carry their glyphs at U+F000 plus the byte, as Windows maps symbol text.
      r.text.push_back(b < 0x20 ? char16_t(b) : char16_t(0xF000 + b));
      r.bytes_per_char.push_back(1);
    }
    return r;
  }
  int cp = CodePageOfCharset(charset);
  // The thread's converter, kept open: text calls decode a few characters each, and opening a
  // converter costs more than the conversion.
  iconv_t cd = codepage::ThreadConverter("UTF-16LE", IconvName(cp).c_str());
  size_t i = 0;
  while (i < bytes.size()) {
    unsigned char b = bytes[i];
    size_t len = (IsLeadByte(cp, b) && i + 1 < bytes.size()) ? 2 : 1;
    std::u16string u;
    if (b < 0x80) {
      u.push_back(char16_t(b));
    } else if (cd) {
      u = ConvertOne(cd, bytes.substr(i, len));
    }
    if (u.empty()) {
      u.assign(1, u'\uFFFD');  // one character: GCC 12 misreports assigning a literal as an overlapping copy
    }
    for (size_t k = 0; k < u.size(); ++k) {
      r.text.push_back(u[k]);
      r.bytes_per_char.push_back(k == 0 ? int(len) : 0);
    }
    i += len;
  }
  return r;
}

std::string EncodeAnsi(std::u16string_view text, int charset) {
  int cp = CodePageOfCharset(charset);
  if (charset == 2) {
    std::string out;
    for (char16_t c : text) out.push_back(char(c >= 0xF000 ? c - 0xF000 : c));
    return out;
  }
  iconv_t cd = codepage::ThreadConverter((IconvName(cp) + "//TRANSLIT").c_str(), "UTF-16LE");
  if (!cd) return Utf16To8(text);
  std::string out(text.size() * 4 + 4, '\0');
  char* ip = reinterpret_cast<char*>(const_cast<char16_t*>(text.data()));
  size_t il = text.size() * 2;
  char* op = out.data();
  size_t ol = out.size();
  while (il > 0) {
    if (iconv(cd, &ip, &il, &op, &ol) == size_t(-1)) {
      if (errno == EILSEQ || errno == EINVAL) {
        if (ol == 0) break;
        *op++ = '?';
        --ol;
        ip += 2;
        il = il >= 2 ? il - 2 : 0;
        continue;
      }
      break;
    }
  }
  out.resize(out.size() - ol);
  return out;
}

}  // namespace zv::gdi::detail
