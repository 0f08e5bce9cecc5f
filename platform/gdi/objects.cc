// GDI object values: comparisons, stock objects, LOGFONT helpers and transform arithmetic.
#include <cstring>

#include "platform/codepage/codepage.h"
#include "platform/gdi/dc.h"
#include "platform/gdi/internal/utf.h"

namespace zv::gdi {

namespace detail {

std::u16string Utf8To16(std::string_view s) {
  std::u16string out;
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = s[i];
    char32_t cp = 0xFFFD;
    size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0 && i + 1 < s.size()) {
      cp = ((c & 0x1F) << 6) | (s[i + 1] & 0x3F);
      len = 2;
    } else if ((c & 0xF0) == 0xE0 && i + 2 < s.size()) {
      cp = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
      len = 3;
    } else if ((c & 0xF8) == 0xF0 && i + 3 < s.size()) {
      cp = ((c & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) | (s[i + 3] & 0x3F);
      len = 4;
    }
    i += len;
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      cp -= 0x10000;
      out.push_back(char16_t(0xD800 + (cp >> 10)));
      out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(cp > 0x10FFFF ? u'\uFFFD' : char16_t(cp));
    }
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(char(cp));
  } else if (cp < 0x800) {
    out.push_back(char(0xC0 | (cp >> 6)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(char(0xE0 | (cp >> 12)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (cp >> 18)));
    out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  }
}

std::string Utf16To8(std::u16string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

}  // namespace detail

namespace {
bool SameDib(const std::shared_ptr<const Dib>& a, const std::shared_ptr<const Dib>& b) {
  if (a == b) return true;
  if (!a || !b) return false;
  return a->info == b->info && a->bits == b->bits && a->usage == b->usage;
}
}  // namespace

bool operator==(const Pen& a, const Pen& b) {
  return a.style == b.style && a.width == b.width && a.color == b.color && a.extended == b.extended &&
         a.brush_style == b.brush_style && a.hatch == b.hatch && a.style_entries == b.style_entries &&
         SameDib(a.pattern, b.pattern);
}

bool operator==(const Brush& a, const Brush& b) {
  return a.style == b.style && a.color == b.color && a.hatch == b.hatch && SameDib(a.pattern, b.pattern);
}

bool operator==(const Font& a, const Font& b) { return std::memcmp(&a.lf, &b.lf, sizeof(LOGFONTW)) == 0; }

LOGFONTW MakeLogFont(std::string_view face, win::LONG height, win::LONG weight, bool italic, win::BYTE charset) {
  LOGFONTW lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  lf.lfItalic = italic ? 1 : 0;
  lf.lfCharSet = charset;
  std::u16string w = detail::Utf8To16(face);
  size_t n = std::min<size_t>(w.size(), win::LF_FACESIZE - 1);
  for (size_t i = 0; i < n; ++i) lf.lfFaceName[i] = w[i];
  return lf;
}

std::optional<Font> FontFromLogFontA(const win::LOGFONTA& a, win::LONG height, bool substitute) {
  std::size_t n = 0;
  while (n < sizeof(a.lfFaceName) && a.lfFaceName[n] != '\0') ++n;
  auto face = codepage::Cp932ToUtf8(std::string_view(a.lfFaceName, n),
                                    substitute ? codepage::OnError::kSubstitute : codepage::OnError::kFail);
  if (!face.ok()) {
    if (!substitute) return std::nullopt;
    face = std::string();
  }
  LOGFONTW lf = MakeLogFont(*face, height, a.lfWeight, a.lfItalic != 0, a.lfCharSet);
  lf.lfWidth = a.lfWidth;
  lf.lfEscapement = a.lfEscapement;
  lf.lfOrientation = a.lfOrientation;
  lf.lfUnderline = a.lfUnderline;
  lf.lfStrikeOut = a.lfStrikeOut;
  lf.lfOutPrecision = a.lfOutPrecision;
  lf.lfClipPrecision = a.lfClipPrecision;
  lf.lfQuality = a.lfQuality;
  lf.lfPitchAndFamily = a.lfPitchAndFamily;
  return Font{lf};
}

std::string FaceName(const LOGFONTW& lf) {
  size_t n = 0;
  while (n < size_t(win::LF_FACESIZE) && lf.lfFaceName[n] != 0) ++n;
  return detail::Utf16To8(std::u16string_view(lf.lfFaceName, n));
}

std::optional<Pen> StockPen(int index) {
  switch (index) {
    case win::WHITE_PEN:
      return Pen{win::PS_SOLID, 0, win::RGB(255, 255, 255)};
    case win::BLACK_PEN:
    case win::DC_PEN:
      return Pen{win::PS_SOLID, 0, 0};
    case win::NULL_PEN:
      return Pen{win::PS_NULL, 0, 0};
    default:
      return std::nullopt;
  }
}

std::optional<Brush> StockBrush(int index) {
  switch (index) {
    case win::WHITE_BRUSH:
    case win::DC_BRUSH:
      return Brush::Solid(win::RGB(255, 255, 255));
    case win::LTGRAY_BRUSH:
      return Brush::Solid(win::RGB(192, 192, 192));
    case win::GRAY_BRUSH:
      return Brush::Solid(win::RGB(128, 128, 128));
    case win::DKGRAY_BRUSH:
      return Brush::Solid(win::RGB(64, 64, 64));
    case win::BLACK_BRUSH:
      return Brush::Solid(0);
    case win::NULL_BRUSH:
      return Brush::Null();
    default:
      return std::nullopt;
  }
}

std::optional<Font> StockFont(int index) {
  switch (index) {
    case win::SYSTEM_FONT:
      return Font{MakeLogFont("System", 16, win::FW_BOLD, false, win::SHIFTJIS_CHARSET)};
    case win::SYSTEM_FIXED_FONT:
      return Font{MakeLogFont("FixedSys", 16, win::FW_NORMAL, false, win::SHIFTJIS_CHARSET)};
    case win::OEM_FIXED_FONT:
      return Font{MakeLogFont("Terminal", 12, win::FW_NORMAL, false, win::OEM_CHARSET)};
    case win::ANSI_FIXED_FONT:
      return Font{MakeLogFont("Courier", 12, win::FW_NORMAL, false, win::ANSI_CHARSET)};
    case win::ANSI_VAR_FONT:
      return Font{MakeLogFont("MS Sans Serif", 12, win::FW_NORMAL, false, win::ANSI_CHARSET)};
    case win::DEVICE_DEFAULT_FONT:
      return Font{MakeLogFont("System", 16, win::FW_NORMAL, false, win::SHIFTJIS_CHARSET)};
    case win::DEFAULT_GUI_FONT:
      return Font{MakeLogFont("MS UI Gothic", -12, win::FW_NORMAL, false, win::SHIFTJIS_CHARSET)};
    default:
      return std::nullopt;
  }
}

XFORM IdentityXform() { return XFORM{1, 0, 0, 1, 0, 0}; }

XFORM CombineXform(const XFORM& a, const XFORM& b) {
  XFORM r;
  r.eM11 = a.eM11 * b.eM11 + a.eM12 * b.eM21;
  r.eM12 = a.eM11 * b.eM12 + a.eM12 * b.eM22;
  r.eM21 = a.eM21 * b.eM11 + a.eM22 * b.eM21;
  r.eM22 = a.eM21 * b.eM12 + a.eM22 * b.eM22;
  r.eDx = a.eDx * b.eM11 + a.eDy * b.eM21 + b.eDx;
  r.eDy = a.eDx * b.eM12 + a.eDy * b.eM22 + b.eDy;
  return r;
}

}  // namespace zv::gdi
