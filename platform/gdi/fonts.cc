#include "platform/gdi/fonts.h"

#include <algorithm>
#include <cctype>

#include "platform/gdi/dc.h"

namespace zv::gdi {

namespace {

struct Entry {
  const char* face;  // UTF-8, compared without ASCII case
  const char* family;
  bool raster;
  bool japanese;
};

// The one table of face names.
constexpr Entry kTable[] = {
    {"ＭＳ ゴシック", "IPAGothic", false, true},
    {"MS Gothic", "IPAGothic", false, true},
    {"ＭＳ Ｐゴシック", "IPAPGothic", false, true},
    {"MS PGothic", "IPAPGothic", false, true},
    {"MS UI Gothic", "IPAPGothic", false, true},
    {"ＭＳ 明朝", "IPAMincho", false, true},
    {"MS Mincho", "IPAMincho", false, true},
    {"ＭＳ Ｐ明朝", "IPAPMincho", false, true},
    {"MS PMincho", "IPAPMincho", false, true},
    {"IPAGothic", "IPAGothic", false, true},
    {"IPAPGothic", "IPAPGothic", false, true},
    {"IPAMincho", "IPAMincho", false, true},
    {"IPAPMincho", "IPAPMincho", false, true},
    {"System", "IPAGothic", true, true},
    {"FixedSys", "IPAGothic", true, true},
    {"Terminal", "IPAGothic", true, true},
    {"Arial", "Liberation Sans", false, false},
    {"Helvetica", "Liberation Sans", false, false},
    {"MS Sans Serif", "Liberation Sans", true, false},
    {"Microsoft Sans Serif", "Liberation Sans", false, false},
    {"Tahoma", "Liberation Sans", false, false},
    {"Verdana", "Liberation Sans", false, false},
    {"Segoe UI", "Liberation Sans", false, false},
    {"Small Fonts", "Liberation Sans", true, false},
    {"Times New Roman", "Liberation Serif", false, false},
    {"Times", "Liberation Serif", false, false},
    {"MS Serif", "Liberation Serif", true, false},
    {"Century", "Liberation Serif", false, false},
    {"Courier New", "Liberation Mono", false, false},
    {"Courier", "Liberation Mono", true, false},
    {"Lucida Console", "Liberation Mono", false, false},
    {"Symbol", "DejaVu Sans", false, false},
};

bool SameFace(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

FontChoice ChooseFont(const win::LOGFONTW& lf) {
  std::string face = FaceName(lf);
  if (!face.empty() && face[0] == '@') face.erase(0, 1);
  for (const Entry& e : kTable) {
    if (SameFace(face, e.face)) return FontChoice{e.family, e.raster, e.japanese};
  }
  const bool fixed = (lf.lfPitchAndFamily & 0x3) == win::FIXED_PITCH;
  const int family = lf.lfPitchAndFamily & 0xF0;
  // Unknown face: Japanese when the character set says so, or when nothing says otherwise
  // (the system's default language is Japanese).
  const bool japanese = lf.lfCharSet == win::SHIFTJIS_CHARSET || lf.lfCharSet == win::DEFAULT_CHARSET ||
                        lf.lfCharSet == win::OEM_CHARSET;
  if (japanese) {
    if (family == win::FF_ROMAN) return FontChoice{fixed ? "IPAMincho" : "IPAPMincho", false, true};
    return FontChoice{fixed || family == win::FF_MODERN ? "IPAGothic" : "IPAPGothic", false, true};
  }
  if (fixed || family == win::FF_MODERN) return FontChoice{"Liberation Mono", false, false};
  if (family == win::FF_ROMAN) return FontChoice{"Liberation Serif", false, false};
  return FontChoice{"Liberation Sans", false, false};
}

const char* JapaneseFallbackFamily(bool proportional) { return proportional ? "IPAPGothic" : "IPAGothic"; }
const char* UnicodeFallbackFamily() { return "DejaVu Sans"; }

}  // namespace zv::gdi
