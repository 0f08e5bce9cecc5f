#include "capture/pdfrecords/font_twins.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "platform/gdi/fonts.h"

namespace zv::capture::pdfrecords {
namespace {

// A design and the installed families that draw it: the design's own clone first, then its
// metric twins.
struct Design {
  std::string_view prefixes[10];  // folded names beginning so
  std::string_view families[4];
};

// Narrow and typewriter variants come before the plain names they begin with.
constexpr Design kDesigns[] = {
    {{"helveticanarrow", "arialnarrow", "nimbussansnarrow", "nimbussanlcond", "nimbussansn"},
     {"Nimbus Sans Narrow", "Liberation Sans Narrow"}},
    // Arial, Times New Roman and Courier New are drawn first by their metric twins, the
    // older designs by their own clones.
    {{"arial", "liberationsans", "arimo"}, {"Liberation Sans", "Nimbus Sans"}},
    {{"helvetica", "nimbussans", "nimbussanl", "texgyreheros", "freesans"}, {"Nimbus Sans", "Liberation Sans"}},
    {{"timesnewroman", "liberationserif", "tinos"}, {"Liberation Serif", "Nimbus Roman"}},
    {{"times", "nimbusrom", "texgyretermes", "freeserif"}, {"Nimbus Roman", "Liberation Serif"}},
    {{"couriernew", "liberationmono", "cousine"}, {"Liberation Mono", "Nimbus Mono PS"}},
    {{"courier", "nimbusmono", "nimbusmonl", "texgyrecursor", "freemono"}, {"Nimbus Mono PS", "Liberation Mono"}},
    {{"palatino", "urwpalladio", "p052", "texgyrepagella", "bookantiqua"}, {"P052"}},
    {{"bookman", "urwbookman", "texgyrebonum"}, {"URW Bookman"}},
    {{"avantgarde", "itcavantgarde", "urwgothic", "texgyreadventor"}, {"URW Gothic"}},
    {{"newcenturyschlbk", "centuryschoolbook", "centuryschl", "c059", "texgyreschola"}, {"C059"}},
    {{"zapfchancery", "urwchancery", "z003", "texgyrechorus"}, {"Z003"}},
    {{"zapfdingbats", "dingbats", "d050000l"}, {"D050000L"}},
    {{"symbol", "standardsymbols", "standardsyml"}, {"Standard Symbols PS"}},
    // TeX's faces: Computer Modern by its font names (CMR10, CMBX12, SFRM1000 of cm-super)
    // and Latin Modern, drawn where one of their families is installed.
    {{"cmtt", "sftt", "lmmono", "lmtypewriter", "cmutypewriter"}, {"Latin Modern Mono", "CMU Typewriter Text"}},
    {{"cmss", "sfss", "lmsans", "cmusans"}, {"Latin Modern Sans", "CMU Sans Serif"}},
    {{"cmr", "cmbx", "cmti", "cmsl", "cmcsc", "sfrm", "sfbx", "sfti", "lmroman", "cmuserif"},
     {"Latin Modern Roman", "CMU Serif"}},
    // Math italic is the roman's italic; the math symbols (CMSY, CMEX) are Latin Modern Math's.
    {{"cmmi", "lmmathitalic"}, {"Latin Modern Roman", "CMU Serif"}},
    {{"cmsy", "cmex", "lmmathsymbols", "lmmathextension", "latinmodernmath"}, {"Latin Modern Math"}},
};

// The name without its subset prefix, folded: ASCII letters in lower case and digits, nothing
// else ("ABCDEF+Nimbus Roman" and "NimbusRoman" meet).
std::string Fold(std::string_view name) {
  if (name.size() > 7 && name[6] == '+' &&
      std::all_of(name.begin(), name.begin() + 6, [](char c) { return c >= 'A' && c <= 'Z'; }))
    name.remove_prefix(7);
  std::string out;
  for (char ch : name) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (std::isalnum(c)) out.push_back(static_cast<char>(std::tolower(c)));
  }
  return out;
}

}  // namespace

std::string InstalledTwinFace(const std::string& name) {
  const std::string folded = Fold(name);
  if (folded.size() < 3) return {};
  for (const Design& d : kDesigns) {
    bool named = false;
    for (std::string_view p : d.prefixes)
      if (!p.empty() && folded.compare(0, p.size(), p) == 0) named = true;
    if (!named) continue;
    for (std::string_view f : d.families)
      if (!f.empty() && gdi::FaceKnown(std::string(f))) return std::string(f);
    return {};
  }
  return {};
}

TwinStyle StyleOfName(const std::string& name) {
  const std::string folded = Fold(name);
  auto has = [&](std::string_view w) { return folded.find(w) != std::string::npos; };
  auto starts = [&](std::string_view w) { return folded.compare(0, w.size(), w) == 0; };
  TwinStyle s;
  s.bold = has("bold") || has("medi") || has("demi") || has("black") || has("heavy") || starts("cmbx") ||
           starts("cmb") || starts("sfbx");
  s.italic = has("ital") || has("obli") || has("slant") || starts("cmti") || starts("cmsl") || starts("sfti") ||
             starts("sfsl") || starts("cmmi") || starts("lmmathitalic");
  return s;
}

}  // namespace zv::capture::pdfrecords
