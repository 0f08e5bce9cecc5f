// pdf-metrics-gen: writes the built-in font catalogue of the PDF writer
// (pdfwriter/font_catalogue_data.cpp) from metric-compatible fonts.
//
// The writer never reads a font file at run time; it copies ready-made dictionary text for
// each Windows face. This program produces that text once: widths per Windows-ANSI code,
// descriptor metrics and CID width ranges, measured with FreeType from the Debian fonts
// fonts-liberation2 (Latin faces) and fonts-ipafont-* (Japanese faces). A few rows are
// fixed texts that callers and viewers already rely on; they are kept here verbatim.
//
// Usage: pdf-metrics-gen [FONT_DIR] > pdfwriter/font_catalogue_data.cpp
//   FONT_DIR defaults to /usr/share/fonts.

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include "platform/codepage/codepage.h"
#include "platform/process/usage.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr zv::process::Usage kUsage{
    "pdf-metrics-gen",
    "Usage: pdf-metrics-gen [FONT_DIR] > pdfwriter/font_catalogue_data.cpp\n"
    "Writes the PDF writer's built-in font catalogue, measured from the fonts, to standard output.\n"
    "\n"
    "Arguments:\n"
    "  FONT_DIR   the fonts folder holding fonts-liberation2 and fonts-ipafont-* (default\n"
    "             /usr/share/fonts)\n"
    "  --help     show this text\n"};

// Unicode of each Windows-1252 code 0x80..0x9F; 0 marks the five unassigned codes.
const unsigned kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                  0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

unsigned AnsiToUnicode(int code) {
  if (code < 0x20) return 0;
  if (code >= 0x80 && code < 0xA0) return kCp1252High[code - 0x80];
  return static_cast<unsigned>(code);
}

enum class Kind { kMs, kMsp, kGbk, kSimple };
enum class Enc { kAnsi, kNone };

struct Face {
  const char* name;  // UTF-8
  Kind kind;
  int first_char;       // simple faces only
  Enc enc;              // simple faces only
  const char* regular;  // font file under FONT_DIR
  const char* bold;
  bool serif;
  bool symbolic;
};

const char* kSans = "truetype/liberation2/LiberationSans-Regular.ttf";
const char* kSansB = "truetype/liberation2/LiberationSans-Bold.ttf";
const char* kSerif = "truetype/liberation2/LiberationSerif-Regular.ttf";
const char* kSerifB = "truetype/liberation2/LiberationSerif-Bold.ttf";
const char* kMono = "truetype/liberation2/LiberationMono-Regular.ttf";
const char* kMonoB = "truetype/liberation2/LiberationMono-Bold.ttf";
const char* kGothic = "opentype/ipafont-gothic/ipag.ttf";
const char* kPGothic = "opentype/ipafont-gothic/ipagp.ttf";
const char* kMincho = "opentype/ipafont-mincho/ipam.ttf";
const char* kPMincho = "opentype/ipafont-mincho/ipamp.ttf";

// The faces in catalogue order; each gives two entries, regular and "+Bold".
const Face kFaces[] = {
    {"@FixedSys", Kind::kMs, 0, Enc::kAnsi, kGothic, kGothic, false, true},
    {"@ＭＳ Ｐゴシック", Kind::kMsp, 0, Enc::kAnsi, kPGothic, kPGothic, false, true},
    {"@ＭＳ Ｐ明朝", Kind::kMsp, 0, Enc::kAnsi, kPMincho, kPMincho, true, true},
    {"@MS UI Gothic", Kind::kMsp, 0, Enc::kAnsi, kPGothic, kPGothic, false, true},
    {"@ＭＳ ゴシック", Kind::kMs, 0, Enc::kAnsi, kGothic, kGothic, false, true},
    {"@ＭＳ 明朝", Kind::kMs, 0, Enc::kAnsi, kMincho, kMincho, true, true},
    {"@NSimSun", Kind::kSimple, 32, Enc::kAnsi, kMincho, kMincho, true, false},
    {"@SimHei", Kind::kGbk, 0, Enc::kAnsi, kGothic, kGothic, false, true},
    {"@SimSun", Kind::kSimple, 32, Enc::kAnsi, kMincho, kMincho, true, false},
    {"@Small Fonts", Kind::kMs, 0, Enc::kAnsi, kGothic, kGothic, false, true},
    {"@System", Kind::kMsp, 0, Enc::kAnsi, kPGothic, kPGothic, false, true},
    {"@Terminal", Kind::kMs, 0, Enc::kAnsi, kGothic, kGothic, false, true},
    {"Arial", Kind::kSimple, 32, Enc::kAnsi, kSans, kSansB, false, false},
    {"Arial Black", Kind::kSimple, 32, Enc::kAnsi, kSansB, kSansB, false, false},
    {"Comic Sans MS", Kind::kSimple, 32, Enc::kAnsi, kSans, kSansB, false, false},
    {"Courier", Kind::kSimple, 32, Enc::kAnsi, kMono, kMonoB, true, false},
    {"Courier New", Kind::kSimple, 32, Enc::kAnsi, kMono, kMonoB, true, false},
    {"FixedSys", Kind::kMs, 0, Enc::kAnsi, kGothic, kGothic, false, true},
    {"Georgia", Kind::kSimple, 32, Enc::kAnsi, kSerif, kSerifB, true, false},
    {"Impact", Kind::kSimple, 32, Enc::kAnsi, kSansB, kSansB, false, false},
    {"Kingsoft Phonetic Plain", Kind::kSimple, 30, Enc::kAnsi, kSans, kSansB, false, false},
    {"Lucida Console", Kind::kSimple, 32, Enc::kAnsi, kMono, kMonoB, false, false},
    {"Lucida Sans Unicode", Kind::kSimple, 32, Enc::kAnsi, kSans, kSansB, false, false},
    {"Marlett", Kind::kSimple, 30, Enc::kAnsi, kSans, kSansB, false, true},
    {"Microsoft Sans Serif", Kind::kSimple, 32, Enc::kAnsi, kSans, kSansB, false, false},
    {"ＭＳ Ｐ明朝", Kind::kMsp, 0, Enc::kAnsi, kPMincho, kPMincho, true, true},
    {"MS Sans Serif", Kind::kSimple, 32, Enc::kAnsi, kSans, kSansB, false, false},
    {"MS Serif", Kind::kSimple, 32, Enc::kAnsi, kSerif, kSerifB, true, false},
    {"MS UI Gothic", Kind::kMsp, 0, Enc::kAnsi, kPGothic, kPGothic, false, true},
    {"ＭＳ ゴシック", Kind::kMs, 0, Enc::kAnsi, kGothic, kGothic, false, true},
    {"ＭＳ 明朝", Kind::kMs, 0, Enc::kAnsi, kMincho, kMincho, true, true},
    {"NSimSun", Kind::kSimple, 32, Enc::kAnsi, kMincho, kMincho, true, false},
    {"Palatino Linotype", Kind::kSimple, 32, Enc::kAnsi, kSerif, kSerifB, true, false},
    {"SimHei", Kind::kGbk, 0, Enc::kAnsi, kGothic, kGothic, false, true},
    {"SimSun", Kind::kSimple, 32, Enc::kAnsi, kMincho, kMincho, true, false},
    {"Small Fonts", Kind::kSimple, 32, Enc::kAnsi, kSans, kSansB, false, false},
    {"Symbol", Kind::kSimple, 30, Enc::kNone, kSerif, kSerifB, true, true},
    {"System", Kind::kMsp, 0, Enc::kAnsi, kPGothic, kPGothic, false, true},
    {"Tahoma", Kind::kSimple, 32, Enc::kAnsi, kSans, kSansB, false, false},
    {"Terminal", Kind::kMs, 0, Enc::kAnsi, kGothic, kGothic, false, true},
    {"Times New Roman", Kind::kSimple, 32, Enc::kAnsi, kSerif, kSerifB, true, false},
    {"Trebuchet MS", Kind::kSimple, 32, Enc::kAnsi, kSans, kSansB, false, false},
    {"Verdana", Kind::kSimple, 32, Enc::kAnsi, kSans, kSansB, false, false},
    {"Webdings", Kind::kSimple, 30, Enc::kNone, kSans, kSansB, false, true},
    {"Century", Kind::kSimple, 0, Enc::kAnsi, kSerif, kSerifB, true, false},
};

// Rows whose text is fixed.
const char* kArialWidths =
    "/FirstChar 32  \r\n\t/LastChar 255  \r\n\t/Widths [ 278 278 355 556 556 889 667 191 333 333 "
    "389 584 278 333 278 278   \r\n\t556 556 556 556 556 556 556 556 556 556 278 278 584 584 584 "
    "556   \r\n\t1015 667 667 722 722 667 611 778 722 278 500 667 556 833 722 778   \r\n\t667 778 "
    "722 667 611 722 667 944 667 667 611 278 278 278 469 556   \r\n\t333 556 556 500 556 556 278 "
    "556 556 222 222 500 222 833 556 556   \r\n\t556 556 333 500 278 556 500 722 500 500 500 334 "
    "260 334 584 750   \r\n\t556 750 222 556 333 1000 556 556 333 1000 667 333 1000 750 611 750   "
    "\r\n\t750 222 222 333 333 350 556 1000 333 1000 500 333 944 750 500 667   \r\n\t278 333 556 "
    "556 556 556 260 556 333 737 370 556 584 333 737 552   \r\n\t400 549 333 333 333 576 537 278 "
    "333 333 365 556 834 834 834 611   \r\n\t667 667 667 667 667 667 1000 722 667 667 667 667 278 "
    "278 278 278   \r\n\t722 722 778 778 778 778 778 584 778 722 722 722 722 667 667 611   \r\n\t556 "
    "556 556 556 556 556 889 500 556 556 556 556 278 278 278 278   \r\n\t556 556 556 556 556 556 556 "
    "549 611 556 556 556 556 500 556 500   \r\n\t]  \r\n\t/Encoding /WinAnsiEncoding";
const char* kArialDescriptor =
    "/Flags 32  \r\n\t/FontBBox [ -250 -212 1213 1000 ]  \r\n\t/MissingWidth 277  \r\n\t/StemV 80  "
    "\r\n\t/StemH 80  \r\n\t/CapHeight 905  \r\n\t/XHeight 453  \r\n\t/Ascent 905  \r\n\t/Descent -212 "
    " \r\n\t/Leading 150  \r\n\t/MaxWidth 1011  \r\n\t/AvgWidth 441";
const char* kFixedSysEncoding = "/Encoding /90ms-RKSJ-H\t\t";
const char* kFixedSysDescendant =
    "/WinCharSet 128  \r\n\t\t/CIDSystemInfo  \r\n\t\t<<  \r\n\t\t/Registry(Adobe)  \r\n\t\t/Ordering("
    "Japan1)  \r\n\t\t/Supplement 2  \r\n\t\t>>  \r\n\t\t/DW 1000  \r\n\t\t/W [  \r\n\t\t231 389 500  "
    "\r\n\t\t631 631 500  \r\n\t\t]";
const char* kFixedSysDescriptor =
    "/Flags 7  \r\n\t/FontBBox [ -100 -141 1100 1000 ]  \r\n\t/MissingWidth 500  \r\n\t/StemV 91  "
    "\r\n\t/StemH 91  \r\n\t/CapHeight 859  \r\n\t/XHeight 430  \r\n\t/Ascent 859  \r\n\t/Descent -141 "
    " \r\n\t/Leading 0  \r\n\t/MaxWidth 1000  \r\n\t/AvgWidth 500  \r\n\t/Style  \r\n\t<< /Panose "
    "<0000003F0000000000000000> >>";
const char* kSimHeiDescendant =
    "/WinCharSet 128  \r\n\t/CIDSystemInfo  \r\n\t<<  \r\n\t/Registry(Adobe)  \r\n\t/Ordering(GB1)  "
    "\r\n\t/Supplement 2  \r\n\t>>  \r\n\t/DW 500  \r\n\t/W [  \r\n\t814 907 500 \r\n\t7716 7716 500  "
    "\r\n\t]";

struct Metrics {
  FT_Face face = nullptr;
  double scale = 1.0;  // font units to 1/1000 em
};

std::map<std::string, Metrics> g_fonts;
FT_Library g_ft;
std::string g_dir;

Metrics& Font(const char* rel) {
  auto it = g_fonts.find(rel);
  if (it != g_fonts.end()) return it->second;
  Metrics m;
  std::string path = g_dir + "/" + rel;
  if (FT_New_Face(g_ft, path.c_str(), 0, &m.face) != 0) {
    std::fprintf(stderr, "pdf-metrics-gen: cannot open %s\n", path.c_str());
    std::exit(1);
  }
  m.scale = 1000.0 / m.face->units_per_EM;
  return g_fonts.emplace(rel, m).first->second;
}

long Units(const Metrics& m, long v) { return std::lround(v * m.scale); }

// Advance of the glyph for a Unicode code point in 1/1000 em; the .notdef advance when the
// font has no glyph for it (or cp is 0).
long Advance(const Metrics& m, unsigned cp) {
  FT_UInt gid = cp ? FT_Get_Char_Index(m.face, cp) : 0;
  if (FT_Load_Glyph(m.face, gid, FT_LOAD_NO_SCALE) != 0) return 0;
  return Units(m, m.face->glyph->metrics.horiAdvance);
}

std::string Num(long v) { return std::to_string(v); }

std::string WidthsText(const Face& f, const Metrics& m) {
  std::string s = "/FirstChar " + Num(f.first_char) + "  \r\n\t/LastChar 255  \r\n\t/Widths [ ";
  int col = 0;
  for (int c = f.first_char; c <= 255; ++c) {
    s += Num(Advance(m, AnsiToUnicode(c)));
    if (++col == 16 || c == 255) {
      s += "   \r\n\t";
      col = 0;
    } else {
      s += " ";
    }
  }
  s += "]";
  if (f.enc == Enc::kAnsi) s += "  \r\n\t/Encoding /WinAnsiEncoding";
  return s;
}

std::string DescriptorText(const Face& f, const Metrics& m, bool bold) {
  const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(m.face, FT_SFNT_OS2));
  const TT_HoriHeader* hhea = static_cast<const TT_HoriHeader*>(FT_Get_Sfnt_Table(m.face, FT_SFNT_HHEA));
  long ascent = os2 ? Units(m, os2->usWinAscent) : Units(m, m.face->ascender);
  long descent = os2 ? -Units(m, os2->usWinDescent) : Units(m, m.face->descender);
  long line = Units(m, hhea->Ascender - hhea->Descender + hhea->Line_Gap);
  long leading = line > 1000 ? line - 1000 : 0;
  long avg = os2 ? Units(m, os2->xAvgCharWidth) : 500;
  long max_width = Units(m, hhea->advance_Width_Max);
  bool fixed = FT_IS_FIXED_WIDTH(m.face) || f.kind == Kind::kMs;
  long space =
      static_cast<long>(std::floor((FT_Load_Glyph(m.face, FT_Get_Char_Index(m.face, 0x20), FT_LOAD_NO_SCALE) == 0
                                        ? m.face->glyph->metrics.horiAdvance
                                        : 0) *
                                   m.scale));
  int flags = (fixed ? 1 : 0) | (f.serif ? 2 : 0) | (f.symbolic ? 4 : 32);
  if (bold) flags += 16384;
  long stem = bold ? 140 : 80;
  std::string s = "/Flags " + Num(flags) + "  \r\n\t/FontBBox [ " + Num(Units(m, m.face->bbox.xMin)) + " " +
                  Num(Units(m, m.face->bbox.yMin)) + " " + Num(Units(m, m.face->bbox.xMax)) + " " +
                  Num(Units(m, m.face->bbox.yMax)) + " ]  \r\n\t/MissingWidth " + Num(space) + "  \r\n\t/StemV " +
                  Num(stem) + "  \r\n\t/StemH " + Num(stem) + "  \r\n\t/CapHeight " + Num(ascent) +
                  "  \r\n\t/XHeight " + Num(std::lround(ascent / 2.0)) + "  \r\n\t/Ascent " + Num(ascent) +
                  "  \r\n\t/Descent " + Num(descent) + "  \r\n\t/Leading " + Num(leading) + "  \r\n\t/MaxWidth " +
                  Num(max_width) + "  \r\n\t/AvgWidth " + Num(avg);
  if (f.kind != Kind::kSimple) {
    char panose[32] = "000000000000000000000000";
    if (os2) {
      unsigned cls = static_cast<unsigned short>(os2->sFamilyClass);
      int n = std::snprintf(panose, sizeof panose, "%04X", cls);
      for (int i = 0; i < 10; ++i) n += std::snprintf(panose + n, sizeof panose - n, "%02X", os2->panose[i]);
    }
    s += "  \r\n\t/Style  \r\n\t<< /Panose <" + std::string(panose) + "> >>";
  }
  return s;
}

std::string CidHeader(const char* ordering, int dw) {
  return std::string("/WinCharSet 128  \r\n\t/CIDSystemInfo  \r\n\t<<  \r\n\t/Registry(Adobe)  \r\n\t/Ordering(") +
         ordering + ")  \r\n\t/Supplement 2  \r\n\t>>  \r\n\t/DW " + Num(dw) + "  \r\n\t/W [  \r\n\t";
}

std::string WidthList(const Metrics& m, unsigned from, unsigned to, unsigned first_cp_offset) {
  std::string s = "[ ";
  for (unsigned c = from; c <= to; ++c) s += Num(Advance(m, c + first_cp_offset)) + " ";
  return s + "]";
}

std::string DescendantText(const Face& f, const Metrics& m) {
  if (f.kind == Kind::kMs) {
    long half = Advance(m, 'A');
    return CidHeader("Japan1", 1000) + "231 389 " + Num(half) + "  \r\n\t631 631 " + Num(half) + "  \r\n\t]";
  }
  // Proportional: CIDs 1-94 are the codes 0x20-0x7D, CIDs 326-389 the codes 0xA0-0xDF
  // (half-width katakana, U+FF61.. from 0xA1; 0xA0 takes the width of a space).
  std::string s =
      CidHeader("Japan1", 1000) + "1 " + WidthList(m, 0x20, 0x7D, 0) + "  \r\n\t326 [ " + Num(Advance(m, 0x20)) + " ";
  for (unsigned c = 0xA1; c <= 0xDF; ++c) s += Num(Advance(m, 0xFF61 + (c - 0xA1))) + " ";
  s += "]  \r\n\t631 631 " + Num(Advance(m, 0x7E)) + "  \r\n\t]";
  return s;
}

std::string Cp932(const std::string& utf8) {
  auto r = zv::codepage::Utf8ToCp932(utf8);
  if (!r.ok()) {
    std::fprintf(stderr, "pdf-metrics-gen: %s\n", r.status().ToString().c_str());
    std::exit(1);
  }
  return *r;
}

// A C++ string literal of arbitrary bytes: printable ASCII as is, the rest as three-digit
// octal escapes (which never absorb a following character).
std::string Literal(const std::string& bytes) {
  std::string s = "\"";
  for (unsigned char c : bytes) {
    if (c == '"' || c == '\\') {
      s += '\\';
      s += static_cast<char>(c);
    } else if (c == '\r') {
      s += "\\r";
    } else if (c == '\n') {
      s += "\\n";
    } else if (c == '\t') {
      s += "\\t";
    } else if (c >= 0x20 && c < 0x7F) {
      s += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", c);
      s += buf;
    }
  }
  return s + "\"";
}

void Emit(const std::string& key, const char* kind, const std::string& text) {
  std::printf("    {%s, \"%s\",\n     %s},\n", Literal(key).c_str(), kind, Literal(text).c_str());
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  size_t p = s.find(from);
  if (p != std::string::npos) s.replace(p, s.find("  ", p) - p, to);
  return s;
}

// Records the regular entry's flags, or gives a bold entry its regular entry's flags plus
// 16384.
std::string FixFlags(const std::string& desc, bool bold, int& regular_flags) {
  size_t p = desc.find("/Flags ") + 7;
  size_t e = desc.find(' ', p);
  if (!bold) {
    regular_flags = std::atoi(desc.substr(p, e - p).c_str());
    return desc;
  }
  return desc.substr(0, p) + Num(regular_flags + 16384) + desc.substr(e);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> operands;
  if (auto done = zv::process::CheckOptions({argv + 1, argv + argc}, {}, kUsage, &operands)) return *done;
  if (operands.size() > 1) return kUsage.Error("more than one font folder");
  g_dir = operands.empty() ? "/usr/share/fonts" : operands[0];
  if (FT_Init_FreeType(&g_ft) != 0) return 1;
  int triples = 0;
  int regular_flags = 0;  // a "+Bold" entry's flags are its regular entry's plus 16384
  std::printf(
      "// Built-in font catalogue of the PDF writer. Generated by tools/pdf-metrics-gen from\n"
      "// fonts-liberation2 and fonts-ipafont-*; do not edit by hand. Keys are CP932 bytes.\n"
      "// NOLINTBEGIN\n"
      "#include \"pdfwriter/font_catalogue.h\"\n\n"
      "namespace zv::pdf {\n\n"
      "const FontTriple kFontCatalogue[kFontCatalogueSize] = {\n");
  for (const Face& f : kFaces) {
    for (int bold = 0; bold < 2; ++bold) {
      std::string name = f.name;
      std::string key = Cp932(name) + (bold ? "+Bold" : "");
      Metrics& m = Font(bold ? f.bold : f.regular);
      std::printf("    // %s%s\n", f.name, bold ? "+Bold" : "");
      if (f.kind == Kind::kSimple) {
        std::string widths = WidthsText(f, m);
        std::string desc = DescriptorText(f, m, bold);
        if (name == "Arial" && !bold) {
          widths = kArialWidths;
          desc = kArialDescriptor;
        }
        desc = FixFlags(desc, bold, regular_flags);
        Emit(key, "TrueType", widths);
        Emit(key, "FontDescriptor", desc);
        triples += 2;
        continue;
      }
      std::string enc = f.kind == Kind::kMs    ? "/Encoding /90ms-RKSJ-H\t\t"
                        : f.kind == Kind::kMsp ? "/Encoding /90msp-RKSJ-H\t\t"
                                               : "/Encoding /GBK-EUC-H\t\t";
      std::string desc = DescriptorText(f, m, bold);
      std::string cid = f.kind == Kind::kGbk ? kSimHeiDescendant : DescendantText(f, m);
      if (name == "@FixedSys" && !bold) {
        enc = kFixedSysEncoding;
        cid = kFixedSysDescendant;
        desc = kFixedSysDescriptor;
      }
      if (name == "System") {
        size_t p = cid.find("631 631 ");
        cid = cid.substr(0, p) + "631 631 414  \r\n\t]";
        desc = Replace(desc, "/MissingWidth ", "/MissingWidth 418");
        desc = Replace(desc, "/AvgWidth ", "/AvgWidth 418");
      }
      desc = FixFlags(desc, bold, regular_flags);
      Emit(key, "Type0", enc);
      Emit(key, "CIDFontType2", cid);
      Emit(key, "FontDescriptor", desc);
      triples += 3;
    }
  }
  std::printf("};\n\n}  // namespace zv::pdf\n// NOLINTEND\n");
  if (triples != 216) {
    std::fprintf(stderr, "pdf-metrics-gen: %d triples, expected 216\n", triples);
    return 1;
  }
  return 0;
}
