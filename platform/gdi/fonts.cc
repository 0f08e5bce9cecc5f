#include "platform/gdi/fonts.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <optional>
#include <tuple>

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

// A face name as compared with installed family names: ASCII letters in lower case, blanks
// (ASCII and ideographic spaces) dropped, so "Liberation Serif" and "LiberationSerif" meet.
std::string FoldFace(std::string_view face) {
  std::string out;
  out.reserve(face.size());
  for (size_t i = 0; i < face.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(face[i]);
    if (c == ' ' || c == '\t') continue;
    if (c == 0xE3 && i + 2 < face.size() && static_cast<unsigned char>(face[i + 1]) == 0x80 &&
        static_cast<unsigned char>(face[i + 2]) == 0x80) {
      i += 2;  // U+3000 IDEOGRAPHIC SPACE
      continue;
    }
    out.push_back(static_cast<char>(std::tolower(c)));
  }
  return out;
}

// The installed family that `face` names: fontconfig's best match for the name, taken only
// when one of the match's own family names is the face (so aliases such as "Helvetica",
// which fontconfig answers with a stand-in, are left to the table).
std::optional<FontChoice> InstalledFamily(const std::string& face) {
  const std::string folded = FoldFace(face);
  if (folded.empty()) return std::nullopt;
  FcPattern* pat = FcPatternCreate();
  FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(face.c_str()));
  FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult res;
  FcPattern* match = FcFontMatch(nullptr, pat, &res);
  FcPatternDestroy(pat);
  if (!match) return std::nullopt;
  std::optional<FontChoice> found;
  FcChar8* name = nullptr;
  for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch; ++i) {
    const std::string family(reinterpret_cast<const char*>(name));
    if (FoldFace(family) != folded) continue;
    // Draw with the name that matched: a family such as "DejaVu Sans Condensed" also
    // carries its parent's name, which would draw the parent's regular width.
    FontChoice c;
    c.family = family;
    FcLangSet* langs = nullptr;
    c.japanese = FcPatternGetLangSet(match, FC_LANG, 0, &langs) == FcResultMatch &&
                 FcLangSetHasLang(langs, reinterpret_cast<const FcChar8*>("ja")) == FcLangEqual;
    found = std::move(c);
    break;
  }
  FcPatternDestroy(match);
  return found;
}

// Takes a face name that is neither installed nor in the table; gives the Japanese face of
// the same kind when the name says it is a Japanese gothic (ゴシック, Gothic, Meiryo, メイリオ)
// or mincho (明朝, Mincho) face, proportional when the name carries a "P" (ASCII or full
// width) as in "ＭＳ Ｐ明朝"; none for other names.
std::optional<FontChoice> JapaneseFaceByName(std::string_view face) {
  const std::string folded = FoldFace(face);
  auto has = [&](std::string_view word) { return folded.find(word) != std::string::npos; };
  const bool proportional =
      face.find('P') != std::string_view::npos || face.find("\xEF\xBC\xB0") != std::string_view::npos;  // Ｐ
  if (has("ゴシック") || has("gothic") || has("meiryo") || has("メイリオ")) {
    return FontChoice{proportional ? "IPAPGothic" : "IPAGothic", false, true};
  }
  if (has("明朝") || has("mincho")) return FontChoice{proportional ? "IPAPMincho" : "IPAMincho", false, true};
  return std::nullopt;
}

FontChoice ChooseUncached(const win::LOGFONTW& lf) {
  std::string face = FaceName(lf);
  // A leading "@" asks Windows for the face's vertical-writing form; the face itself is the same.
  if (!face.empty() && face[0] == '@') face.erase(0, 1);
  if (auto installed = InstalledFamily(face)) return *installed;
  for (const Entry& e : kTable) {
    if (SameFace(face, e.face)) return FontChoice{e.family, e.raster, e.japanese};
  }
  if (auto named = JapaneseFaceByName(face)) return *named;
  const bool fixed = (lf.lfPitchAndFamily & 0x3) == win::FIXED_PITCH;
  const int family = lf.lfPitchAndFamily & 0xF0;
  // Unknown face: Japanese when the character set says so, or when nothing says otherwise
  // (the system's default language is Japanese).
  const bool japanese =
      lf.lfCharSet == win::SHIFTJIS_CHARSET || lf.lfCharSet == win::DEFAULT_CHARSET || lf.lfCharSet == win::OEM_CHARSET;
  if (japanese) {
    if (family == win::FF_ROMAN) return FontChoice{fixed ? "IPAMincho" : "IPAPMincho", false, true};
    return FontChoice{fixed || family == win::FF_MODERN ? "IPAGothic" : "IPAPGothic", false, true};
  }
  if (fixed || family == win::FF_MODERN) return FontChoice{"Liberation Mono", false, false};
  if (family == win::FF_ROMAN) return FontChoice{"Liberation Serif", false, false};
  return FontChoice{"Liberation Sans", false, false};
}

// Answers by face name, character set and pitch-and-family (all ChooseFont reads). A damaged
// file can name many faces, so the cache is emptied when it grows large.
using ChoiceKey = std::tuple<std::u16string, win::BYTE, win::BYTE>;
std::mutex g_choices_mu;
std::map<ChoiceKey, FontChoice>* g_choices = new std::map<ChoiceKey, FontChoice>;
constexpr size_t kMaxChoices = 4096;

}  // namespace

FontChoice ChooseFont(const win::LOGFONTW& lf) {
  size_t len = 0;
  while (len < std::size(lf.lfFaceName) && lf.lfFaceName[len] != 0) ++len;
  ChoiceKey key{std::u16string(lf.lfFaceName, len), lf.lfCharSet, lf.lfPitchAndFamily};
  {
    std::lock_guard<std::mutex> lock(g_choices_mu);
    auto it = g_choices->find(key);
    if (it != g_choices->end()) return it->second;
  }
  // Looked up outside the lock: asking fontconfig can take long, and two threads choosing the
  // same face at once only do the work twice.
  FontChoice c = ChooseUncached(lf);
  std::lock_guard<std::mutex> lock(g_choices_mu);
  if (g_choices->size() >= kMaxChoices) g_choices->clear();
  g_choices->emplace(std::move(key), c);
  return c;
}

bool FaceKnown(const std::string& face) {
  if (InstalledFamily(face)) return true;
  for (const Entry& e : kTable) {
    if (SameFace(face, e.face)) return true;
  }
  return false;
}

const char* JapaneseFallbackFamily(bool proportional) { return proportional ? "IPAPGothic" : "IPAGothic"; }
const char* UnicodeFallbackFamily() { return "DejaVu Sans"; }

}  // namespace zv::gdi
