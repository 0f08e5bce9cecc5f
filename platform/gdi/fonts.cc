#include "platform/gdi/fonts.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "platform/gdi/dc.h"

namespace zv::gdi {

namespace {

constexpr const char* kSans = "Liberation Sans";
constexpr const char* kSerif = "Liberation Serif";
constexpr const char* kMono = "Liberation Mono";
constexpr const char* kGothic = "IPAGothic";
constexpr const char* kPGothic = "IPAPGothic";
constexpr const char* kMincho = "IPAMincho";
constexpr const char* kPMincho = "IPAPMincho";

struct Entry {
  // Compared with the face name after FoldFace. Without "*" the whole name: the family is the
  // face's stand-in. With "*" (any run of characters) a pattern of the kind a name says: the
  // family is a face of that kind.
  const char* pattern;
  const char* family;
  bool raster = false;
  const char* design = nullptr;  // an installed family of the same design, taken before `family`
};

// The one table of face names, read from the top: the first entry that matches draws the face.
constexpr Entry kTable[] = {
    // Japanese faces. ＭＳ ゴシック / ＭＳ 明朝 are fixed pitch, the "P" faces proportional.
    {"ＭＳ ゴシック", kGothic},
    {"MS Gothic", kGothic},
    {"ＭＳ Ｐゴシック", kPGothic},
    {"MS PGothic", kPGothic},
    {"MS UI Gothic", kPGothic},
    {"ＭＳ 明朝", kMincho},
    {"MS Mincho", kMincho},
    {"ＭＳ Ｐ明朝", kPMincho},
    {"MS PMincho", kPMincho},
    {"IPAGothic", kGothic},
    {"IPAPGothic", kPGothic},
    {"IPAMincho", kMincho},
    {"IPAPMincho", kPMincho},
    {"IPAexGothic", kPGothic},
    {"IPAexMincho", kPMincho},
    {"System", kGothic, true},
    {"FixedSys", kGothic, true},
    {"Terminal", kGothic, true},
    // Latin faces and their metric twins; PostScript names ("Times-Roman", "Helvetica-Bold",
    // "ArialMT") are looked up by their family part, the style comes from weight and slant.
    {"Arial", kSans},
    {"Helvetica", kSans},
    {"Arimo", kSans},
    {"Nimbus Sans", kSans},
    {"Nimbus Sans L", kSans, false, "Nimbus Sans"},
    {"NimbusSanL", kSans, false, "Nimbus Sans"},
    {"Nimbus Sans Narrow", kSans},
    {"Helvetica Narrow", kSans, false, "Nimbus Sans Narrow"},
    {"TeX Gyre Heros", kSans, false, "Nimbus Sans"},
    {"MS Sans Serif", kSans, true},
    {"Microsoft Sans Serif", kSans},
    {"Tahoma", kSans},
    {"Verdana", kSans},
    {"Segoe UI", kSans},
    {"Small Fonts", kSans, true},
    {"AvantGarde", kSans, false, "URW Gothic"},
    {"ITC Avant Garde Gothic", kSans, false, "URW Gothic"},
    {"URW Gothic", kSans},
    {"URW Gothic L", kSans, false, "URW Gothic"},
    {"URWGothicL", kSans, false, "URW Gothic"},
    {"Times New Roman", kSerif},
    {"Times", kSerif},
    {"Tinos", kSerif},
    {"Nimbus Roman", kSerif},
    {"Nimbus Roman No9 L", kSerif, false, "Nimbus Roman"},
    {"NimbusRomNo9L", kSerif, false, "Nimbus Roman"},
    {"TeX Gyre Termes", kSerif, false, "Nimbus Roman"},
    {"MS Serif", kSerif, true},
    {"Century", kSerif},
    {"Palatino", kSerif, false, "P052"},
    {"Palatino Linotype", kSerif, false, "P052"},
    {"Book Antiqua", kSerif, false, "P052"},
    {"URW Palladio L", kSerif, false, "P052"},
    {"URWPalladioL", kSerif, false, "P052"},
    {"P052", kSerif},
    {"New Century Schoolbook", kSerif, false, "C059"},
    {"NewCenturySchlbk", kSerif, false, "C059"},
    {"Century Schoolbook", kSerif, false, "C059"},
    {"Century Schoolbook L", kSerif, false, "C059"},
    {"CenturySchL", kSerif, false, "C059"},
    {"C059", kSerif},
    {"Bookman", kSerif, false, "URW Bookman"},
    {"Bookman Old Style", kSerif, false, "URW Bookman"},
    {"ITC Bookman", kSerif, false, "URW Bookman"},
    {"URW Bookman", kSerif},
    {"URW Bookman L", kSerif, false, "URW Bookman"},
    {"URWBookmanL", kSerif, false, "URW Bookman"},
    {"ZapfChancery", kSerif, false, "Z003"},
    {"URW Chancery L", kSerif, false, "Z003"},
    {"URWChanceryL", kSerif, false, "Z003"},
    {"Z003", kSerif},
    {"Courier New", kMono},
    {"Courier", kMono, true},
    {"Cousine", kMono},
    {"Nimbus Mono PS", kMono},
    {"Nimbus Mono", kMono, false, "Nimbus Mono PS"},
    {"Nimbus Mono L", kMono, false, "Nimbus Mono PS"},
    {"NimbusMonL", kMono, false, "Nimbus Mono PS"},
    {"TeX Gyre Cursor", kMono, false, "Nimbus Mono PS"},
    {"Lucida Console", kMono},
    {"Symbol", "DejaVu Sans", false, "Standard Symbols PS"},
    {"ZapfDingbats", "DejaVu Sans", false, "D050000L"},
    {"Dingbats", "DejaVu Sans", false, "D050000L"},

    // Faces of a kind, by what their names say. Japanese names first: "Gothic" alone names a
    // Latin sans face (Century Gothic, Franklin Gothic); a Japanese family's name says it is one.
    // Fixed-pitch Japanese families are those without "P" (or "S", semi-proportional) of the
    // makers that give both; every other Japanese face is proportional.
    {"hg*楷書*pro", kPMincho},
    {"hg*pro", kPGothic},
    {"hgp*明朝*", kPMincho},
    {"hgp*mincho*", kPMincho},
    {"hgs*明朝*", kPMincho},
    {"hgs*mincho*", kPMincho},
    {"hgp*", kPGothic},
    {"hgs*", kPGothic},
    {"hg*明朝*", kMincho},
    {"hg*mincho*", kMincho},
    {"hg*教科書*", kMincho},
    {"hg*楷書*", kMincho},
    {"hg*行書*", kMincho},
    {"hg*kyokasho*", kMincho},
    {"hg*kaisho*", kMincho},
    {"hg*gyosho*", kMincho},
    {"hg*", kGothic},
    {"bizudp*明朝*", kPMincho},
    {"bizudp*mincho*", kPMincho},
    {"bizudp*", kPGothic},
    {"bizud*明朝*", kMincho},
    {"bizud*mincho*", kMincho},
    {"bizud*", kGothic},
    {"takaop*mincho*", kPMincho},
    {"takaop*", kPGothic},
    {"takao*mincho*", kMincho},
    {"takao*", kGothic},
    {"vlp*", kPGothic},
    {"vlgothic*", kGothic},
    {"ipaex*mincho*", kPMincho},
    {"ipaex*", kPGothic},
    {"*等幅*", kGothic},
    {"*monocjk*", kGothic},
    {"*明朝*", kPMincho},
    {"*mincho*", kPMincho},
    {"*教科書*", kPMincho},
    {"*kyokasho*", kPMincho},
    {"*楷書*", kPMincho},
    {"*kaisho*", kPMincho},
    {"*行書*", kPMincho},
    {"*gyosho*", kPMincho},
    {"*ryumin*", kPMincho},
    {"*リュウミン*", kPMincho},
    {"*serifcjk*", kPMincho},
    {"*serifjp*", kPMincho},
    {"*hanserif*", kPMincho},
    {"*ゴシック*", kPGothic},
    {"*ｺﾞｼｯｸ*", kPGothic},
    {"*meiryo*", kPGothic},
    {"*メイリオ*", kPGothic},
    {"yugothic*", kPGothic},
    {"游*", kPGothic},
    {"*hiragino*", kPGothic},
    {"*ヒラギノ*", kPGothic},
    {"kozuka*", kPGothic},
    {"小塚*", kPGothic},
    {"*sanscjk*", kPGothic},
    {"*sansjp*", kPGothic},
    {"*hansans*", kPGothic},
    {"源ノ角*", kPGothic},
    {"osaka*", kPGothic},
    {"kochi*", kPGothic},
    // Chinese and Korean faces: their Han characters from the Japanese face of their kind.
    {"simsun*", kPMincho},
    {"nsimsun*", kMincho},
    {"pmingliu*", kPMincho},
    {"*mingliu*", kMincho},
    {"batang*", kPMincho},
    {"gungsuh*", kMincho},
    {"simhei*", kPGothic},
    {"*yahei*", kPGothic},
    {"*jhenghei*", kPGothic},
    {"malgun*", kPGothic},
    {"gulim*", kPGothic},
    {"dotum*", kPGothic},
    // Latin names: fixed pitch, then sans (before serif: "Century Gothic", "PT Sans Serif"),
    // then serif. TeX's Computer Modern names (cmr10, cmss10, cmtt10) by their prefixes.
    {"monotype*", kSerif},
    {"*lettergothic*", kMono},
    {"*mono*", kMono},
    {"*courier*", kMono},
    {"*consol*", kMono},
    {"*typewriter*", kMono},
    {"*andale*", kMono},
    {"*menlo*", kMono},
    {"ocr*", kMono},
    {"cmtt*", kMono},
    {"sftt*", kMono},
    {"*lucidabright*", kSerif},
    {"*sans*", kSans},
    {"*lucida*", kSans},
    {"*gothic*", kSans},
    {"*grotesk*", kSans},
    {"*grotesque*", kSans},
    {"*arial*", kSans},
    {"*helvetica*", kSans},
    {"*calibri*", kSans},
    {"*verdana*", kSans},
    {"*tahoma*", kSans},
    {"*segoe*", kSans},
    {"*trebuchet*", kSans},
    {"*futura*", kSans},
    {"*frutiger*", kSans},
    {"*univers*", kSans},
    {"*myriad*", kSans},
    {"*candara*", kSans},
    {"*corbel*", kSans},
    {"*franklin*", kSans},
    {"*avant*", kSans},
    {"*optima*", kSans},
    {"*roboto*", kSans},
    {"*comic*", kSans},
    {"*impact*", kSans},
    {"cmss*", kSans},
    {"sfss*", kSans},
    {"*serif*", kSerif},
    {"*roman*", kSerif},
    {"*times*", kSerif},
    {"*georgia*", kSerif},
    {"*garamond*", kSerif},
    {"*cambria*", kSerif},
    {"*century*", kSerif},
    {"*bookman*", kSerif},
    {"*antiqua*", kSerif},
    {"*palatino*", kSerif},
    {"*baskerville*", kSerif},
    {"*bodoni*", kSerif},
    {"*caslon*", kSerif},
    {"*didot*", kSerif},
    {"*minion*", kSerif},
    {"*schoolbook*", kSerif},
    {"*constantia*", kSerif},
    {"*goudy*", kSerif},
    {"*rockwell*", kSerif},
    {"*charter*", kSerif},
    {"*perpetua*", kSerif},
    {"sitka*", kSerif},
    {"cm*", kSerif},
    {"sfrm*", kSerif},
};

bool IsJapaneseFamily(std::string_view family) { return family.substr(0, 3) == "IPA"; }
bool IsSerifFamily(std::string_view family) {
  return family == kSerif || family == kMincho || family == kPMincho;
}

// A face name as compared with installed family names and the table: ASCII letters in lower
// case, full-width ASCII (Ｐ, ＭＳ) as ASCII, blanks (ASCII and ideographic spaces) dropped, so
// "Liberation Serif" and "LiberationSerif", "ＭＳ Ｐ明朝" and "MS P明朝" meet.
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
    if (c == 0xEF && i + 2 < face.size()) {
      // U+FF01..U+FF5E, full-width forms of ASCII: EF BC 81..BF and EF BD 80..9E.
      const unsigned char b1 = static_cast<unsigned char>(face[i + 1]), b2 = static_cast<unsigned char>(face[i + 2]);
      int code = -1;
      if (b1 == 0xBC && b2 >= 0x81 && b2 <= 0xBF) code = 0x21 + (b2 - 0x81);
      if (b1 == 0xBD && b2 >= 0x80 && b2 <= 0x9E) code = 0x60 + (b2 - 0x80);
      if (code >= 0) {
        out.push_back(static_cast<char>(std::tolower(code)));
        i += 2;
        continue;
      }
    }
    out.push_back(static_cast<char>(std::tolower(c)));
  }
  return out;
}

// Whether folded `name` matches folded `pattern`, in which "*" stands for any run of bytes.
bool Matches(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() && pattern[p] == name[n]) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool IsPattern(const Entry& e) { return std::strchr(e.pattern, '*') != nullptr; }

// The entries folded once.
const std::vector<std::string>& FoldedPatterns() {
  static const std::vector<std::string>* folded = [] {
    auto* v = new std::vector<std::string>;
    for (const Entry& e : kTable) v->push_back(FoldFace(e.pattern));
    return v;
  }();
  return *folded;
}

// The first entry for folded `name`: stand-ins only, or patterns too.
const Entry* Lookup(const std::string& name, bool patterns) {
  if (name.empty()) return nullptr;
  const std::vector<std::string>& folded = FoldedPatterns();
  for (size_t i = 0; i < std::size(kTable); ++i) {
    const bool pattern = IsPattern(kTable[i]);
    if (pattern && !patterns) continue;
    if (pattern ? Matches(folded[i], name) : folded[i] == name) return &kTable[i];
  }
  return nullptr;
}

// The family part of a PostScript font name: without a subset prefix ("ABCDEF+"), the style
// after "-" or "," and a maker's suffix ("MT", "PS", "PSMT"); empty when it is the name itself.
std::string PostScriptFamily(std::string_view name) {
  std::string n(name);
  if (n.size() > 7 && n[6] == '+' && std::all_of(n.begin(), n.begin() + 6, [](char c) { return c >= 'A' && c <= 'Z'; })) {
    n.erase(0, 7);
  }
  const size_t cut = n.find_first_of("-,");
  if (cut != std::string::npos && cut > 0) n.erase(cut);
  for (const char* suffix : {"PSMT", "PS", "MT"}) {
    const size_t len = std::strlen(suffix);
    if (n.size() > len + 2 && n.compare(n.size() - len, len, suffix) == 0) {
      n.erase(n.size() - len);
      break;
    }
  }
  return n == name ? std::string() : n;
}

// LyX's TeX fonts (cmr10, cmmi10, msbm10, ...) put their glyphs at TeX's own codes rather than
// at the characters they stand for: a character drawn in one of them draws another glyph.
// They are no face to draw text with.
bool CodesNotCharacters(FcPattern* font) {
  FcChar8* style = nullptr;
  return FcPatternGetString(font, FC_STYLE, 0, &style) == FcResultMatch &&
         std::string_view(reinterpret_cast<const char*>(style)) == "LyX";
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
  if (CodesNotCharacters(match)) {
    FcPatternDestroy(match);
    return std::nullopt;
  }
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

// The choice an entry gives: its installed design twin, else its family.
FontChoice FromEntry(const Entry& e) {
  FontChoice c{e.family, e.raster, IsJapaneseFamily(e.family), IsSerifFamily(e.family)};
  if (e.design) {
    if (auto twin = InstalledFamily(e.design)) c.family = twin->family;
  }
  return c;
}

// A stand-in or installed family for `face` or its PostScript family part.
std::optional<FontChoice> KnownFamily(const std::string& face) {
  for (const std::string& name : {face, PostScriptFamily(face)}) {
    if (name.empty()) continue;
    if (auto installed = InstalledFamily(name)) return installed;
    if (const Entry* e = Lookup(FoldFace(name), false)) return FromEntry(*e);
  }
  return std::nullopt;
}

FontChoice ChooseUncached(const win::LOGFONTW& lf) {
  std::string face = FaceName(lf);
  // A leading "@" asks Windows for the face's vertical-writing form; the face itself is the same.
  if (!face.empty() && face[0] == '@') face.erase(0, 1);
  const bool fixed = (lf.lfPitchAndFamily & 0x3) == win::FIXED_PITCH;
  const int family = lf.lfPitchAndFamily & 0xF0;
  if (auto known = KnownFamily(face)) {
    FontChoice c = std::move(*known);
    // An installed face's kind, for the faces its missing characters come from: what its
    // name says, else its family bits.
    if (IsSerifFamily(c.family)) {
      c.serif = true;
    } else if (!c.raster) {
      const Entry* kind = Lookup(FoldFace(c.family), true);
      c.serif = kind ? IsSerifFamily(kind->family) : family == win::FF_ROMAN;
    }
    return c;
  }
  if (const Entry* e = Lookup(FoldFace(face), true)) return FromEntry(*e);
  // Unknown face: Japanese when its name is written in Japanese, when the character set says so,
  // or when nothing says otherwise (the system's default language is Japanese).
  const bool japanese_name = std::any_of(face.begin(), face.end(), [](char ch) { return (ch & 0x80) != 0; });
  const bool japanese = japanese_name || lf.lfCharSet == win::SHIFTJIS_CHARSET ||
                        lf.lfCharSet == win::DEFAULT_CHARSET || lf.lfCharSet == win::OEM_CHARSET;
  if (japanese) {
    if (family == win::FF_ROMAN) return FontChoice{fixed ? kMincho : kPMincho, false, true, true};
    return FontChoice{fixed || family == win::FF_MODERN ? kGothic : kPGothic, false, true, false};
  }
  if (fixed || family == win::FF_MODERN) return FontChoice{kMono, false, false, false};
  if (family == win::FF_ROMAN) return FontChoice{kSerif, false, false, true};
  return FontChoice{kSans, false, false, false};
}

// Answers by face name, character set and pitch-and-family (all ChooseFont reads). A damaged
// file can name many faces, so the cache is emptied when it grows large.
using ChoiceKey = std::tuple<std::u16string, win::BYTE, win::BYTE>;
std::mutex g_choices_mu;
std::map<ChoiceKey, FontChoice>* g_choices = new std::map<ChoiceKey, FontChoice>;
constexpr size_t kMaxChoices = 4096;
// FaceKnown's answers by face name, under the same lock and bound.
std::map<std::string, bool>* g_known = new std::map<std::string, bool>;

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
  {
    std::lock_guard<std::mutex> lock(g_choices_mu);
    auto it = g_known->find(face);
    if (it != g_known->end()) return it->second;
  }
  // Asked outside the lock, as ChooseFont does.
  const bool known = KnownFamily(face).has_value();
  std::lock_guard<std::mutex> lock(g_choices_mu);
  if (g_known->size() >= kMaxChoices) g_known->clear();
  g_known->emplace(face, known);
  return known;
}

FcPattern* FamilyRequest(const std::string& family, int weight, bool italic, const char* japanese_first) {
  FcPattern* pat = FcPatternCreate();
  if (japanese_first) {
    FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(japanese_first));
    FcPatternAddString(pat, FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
  }
  FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pat, FC_WEIGHT, weight >= 600 ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  return pat;
}

// ---- per-character fallback ----

namespace {

// Characters drawn from a Japanese face when the chosen one lacks them: kana, kanji, CJK
// punctuation and symbols, full-width forms.
bool IsJapaneseChar(char32_t c) {
  return (c >= 0x2E80 && c <= 0x2FDF) || (c >= 0x3000 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
         (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
         (c >= 0xFF00 && c <= 0xFFEF) || (c >= 0x20000 && c <= 0x3FFFF);
}

bool IsPrivateUse(char32_t c) { return (c >= 0xE000 && c <= 0xF8FF) || c >= 0xF0000; }

}  // namespace

struct FallbackFaces::Impl {
  struct Sorted {
    std::vector<Face> face;
    std::vector<FcCharSet*> cover;
  };

  std::string family;
  int weight;
  bool italic, serif, fixed;
  std::mutex mu;
  std::unique_ptr<Sorted> latin, japanese;
  // Per block of 256 characters (and whether it is a Japanese character): the indexes of the
  // sorted faces that have any character of the block.
  std::unordered_map<std::uint32_t, std::vector<std::uint16_t>> blocks;

  // Every installed face in fontconfig's order for the family (and for Japanese characters a
  // Japanese face of its kind before it), weight and slant, without faces that add no
  // character to those before them. The family's own other files stay: a character its
  // regular face lacks may be in its bold one.
  const Sorted& SortedFor(bool for_japanese) {
    std::unique_ptr<Sorted>& slot = for_japanese ? japanese : latin;
    if (slot) return *slot;
    slot = std::make_unique<Sorted>();
    const char* ja = serif ? (fixed ? kMincho : kPMincho) : (fixed ? kGothic : kPGothic);
    FcPattern* pat = FamilyRequest(family, weight, italic, for_japanese ? ja : nullptr);
    FcResult res;
    FcFontSet* set = FcFontSort(nullptr, pat, FcTrue, nullptr, &res);
    if (!set) {
      FcPatternDestroy(pat);
      return *slot;
    }
    for (int i = 0; i < set->nfont && slot->face.size() < 0xFFFF; ++i) {
      FcChar8* name = nullptr;
      FcCharSet* cs = nullptr;
      if (FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &name) != FcResultMatch ||
          FcPatternGetCharSet(set->fonts[i], FC_CHARSET, 0, &cs) != FcResultMatch) {
        continue;
      }
      if (CodesNotCharacters(set->fonts[i])) continue;
      std::string f(reinterpret_cast<const char*>(name));
      // Drawn from this very file: another file of the family may lack the character (DejaVu
      // Serif has its mathematical letters in the bold file only).
      FcPattern* ready = FcFontRenderPrepare(nullptr, pat, set->fonts[i]);
      if (!ready) continue;
      slot->face.push_back(Face{std::move(f), ready});
      slot->cover.push_back(FcCharSetCopy(cs));
    }
    FcFontSetDestroy(set);
    FcPatternDestroy(pat);
    return *slot;
  }

  const std::vector<std::uint16_t>& BlockFor(char32_t c) {
    const bool for_japanese = IsJapaneseChar(c);
    const std::uint32_t key = (std::uint32_t(c) >> 8) << 1 | (for_japanese ? 1 : 0);
    auto it = blocks.find(key);
    if (it != blocks.end()) return it->second;
    const Sorted& sorted = SortedFor(for_japanese);
    FcCharSet* block = FcCharSetCreate();
    const char32_t first = c & ~char32_t(0xFF);
    for (char32_t k = first; k < first + 0x100; ++k) FcCharSetAddChar(block, k);
    std::vector<std::uint16_t> faces;
    for (size_t i = 0; i < sorted.cover.size(); ++i) {
      if (FcCharSetIntersectCount(sorted.cover[i], block) > 0) faces.push_back(std::uint16_t(i));
    }
    FcCharSetDestroy(block);
    return blocks.emplace(key, std::move(faces)).first->second;
  }
};

FallbackFaces::FallbackFaces(const FontChoice& choice, int weight, bool italic, bool fixed)
    : impl_(std::make_unique<Impl>()) {
  impl_->family = choice.family;
  impl_->weight = weight;
  impl_->italic = italic;
  impl_->serif = choice.serif;
  impl_->fixed = fixed;
}

FallbackFaces::~FallbackFaces() {
  for (auto* sorted : {impl_->latin.get(), impl_->japanese.get()}) {
    if (!sorted) continue;
    for (FcCharSet* cs : sorted->cover) FcCharSetDestroy(cs);
    for (Face& f : sorted->face) FcPatternDestroy(f.pattern);
  }
}

const FallbackFaces::Face* FallbackFaces::FaceFor(char32_t c, int skip) const {
  if (c < 0x20 || IsPrivateUse(c) || c > 0x10FFFF) return nullptr;
  std::lock_guard<std::mutex> lock(impl_->mu);
  const std::vector<std::uint16_t>& faces = impl_->BlockFor(c);
  const Impl::Sorted& sorted = *(IsJapaneseChar(c) ? impl_->japanese : impl_->latin);
  for (std::uint16_t i : faces) {
    if (FcCharSetHasChar(sorted.cover[i], c) && skip-- == 0) return &sorted.face[i];
  }
  return nullptr;
}

const FallbackFaces& FallbackFacesFor(const FontChoice& choice, int weight, bool italic, bool fixed) {
  // Families come from the table or from the installed ones, so the set stays small; entries
  // are kept for the process because callers hold on to the family names they give.
  using Key = std::tuple<std::string, bool, bool, bool, bool>;
  static std::mutex mu;
  static auto* all = new std::map<Key, std::unique_ptr<FallbackFaces>>;
  Key key{choice.family, weight >= 600, italic, choice.serif, fixed};
  std::lock_guard<std::mutex> lock(mu);
  auto it = all->find(key);
  if (it == all->end()) it = all->emplace(key, std::make_unique<FallbackFaces>(choice, weight, italic, fixed)).first;
  return *it->second;
}

}  // namespace zv::gdi
