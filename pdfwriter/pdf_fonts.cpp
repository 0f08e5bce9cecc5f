// Font objects from the built-in catalogue.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "pdfwriter/font_catalogue.h"
#include "pdfwriter/pdf_objects.h"

namespace zv::pdf {

namespace {

// Entry keys (first triple of each entry) to their first triple; the first entry of a key
// in table order wins.
const std::map<std::string, size_t>& EntryIndex() {
  static const std::map<std::string, size_t> index = [] {
    std::map<std::string, size_t> m;
    for (size_t i = 0; i < kFontCatalogueSize; ++i) {
      const FontTriple& t = kFontCatalogue[i];
      if (std::strcmp(t.kind, "Type0") == 0 || std::strcmp(t.kind, "TrueType") == 0) m.emplace(t.key, i);
    }
    return m;
  }();
  return index;
}

}  // namespace

std::string MakeBaseFontName(const std::string& face) {
  if (face == "System") return "#82l#82r#82o#83S#83V#83b#83N";
  std::string out;
  out.reserve(face.size() * 2);
  for (unsigned char c : face) {
    if (c == 0x20) continue;
    if (c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "#%X", c);
      out += hex;
    }
  }
  return out;
}

PdfFont* PdfFileWriter::FindFontEntry(const std::string& face, int style) {
  const bool bold = (style & 1) != 0;
  const bool italic = (style & 2) != 0;
  std::string base = MakeBaseFontName(face);
  if (style != 0) base += ",";
  std::string key = face;
  if (bold) {
    key += "+Bold";
    base += "Bold";
  }
  std::string cache_key = key;
  if (italic) {
    cache_key += "+Italic";
    base += "Italic";
  }
  auto cached = font_cache_.find(cache_key);
  if (cached != font_cache_.end()) return cached->second;

  const auto& index = EntryIndex();
  auto found = index.find(key);
  if (found == index.end()) return nullptr;
  const size_t i = found->second;
  PdfFont* font = nullptr;
  if (std::strcmp(kFontCatalogue[i].kind, "Type0") == 0 && i + 2 < kFontCatalogueSize) {
    auto* type0 = Make<PdfType0Font>(base, kFontCatalogue[i].text);
    auto* cid = Make<PdfCidFont>(base, kFontCatalogue[i + 1].text);
    auto* desc = Make<PdfFontDescriptor>(base, kFontCatalogue[i + 2].text, italic);
    type0->AddDescendant(cid);
    cid->SetDescriptor(desc);
    font = type0;
  } else if (i + 1 < kFontCatalogueSize) {
    font = Make<PdfFont>("TrueType", base, kFontCatalogue[i].text);
    font->SetDescriptor(Make<PdfFontDescriptor>(base, kFontCatalogue[i + 1].text, italic));
  } else {
    return nullptr;
  }
  font->set_selectable(true);
  font_cache_.emplace(cache_key, font);
  return font;
}

namespace {

// A ToUnicode map that reads each two-byte code as the UTF-16 code unit it is (the surrogate
// codes excepted, which stand for no character alone).
std::string IdentityToUnicode() {
  std::string ranges;
  int count = 0;
  std::string out =
      "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
      "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
      "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
      "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
  auto flush = [&] {
    if (count == 0) return;
    out += std::to_string(count) + " beginbfrange\n" + ranges + "endbfrange\n";
    ranges.clear();
    count = 0;
  };
  for (int high = 0; high < 256; ++high) {
    if (high >= 0xD8 && high <= 0xDF) continue;
    char line[40];
    std::snprintf(line, sizeof line, "<%02X00> <%02XFF> <%02X00>\n", high, high, high);
    ranges += line;
    if (++count == 100) flush();
  }
  flush();
  out += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
  return out;
}

}  // namespace

PdfFont* PdfFileWriter::UnicodeFont() {
  if (unicode_font_) return unicode_font_;
  const std::string base = "ZelvoraUnicode";
  auto* map = Make<PdfStream>(this);
  map->SetData(IdentityToUnicode());
  auto* type0 = Make<PdfType0Font>(base, "/Encoding /Identity-H\r\n/ToUnicode " + map->GetReference());
  auto* cid =
      Make<PdfCidFont>(base, "/CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>\r\n/DW 1000");
  auto* desc = Make<PdfFontDescriptor>(
      base, "/Flags 4\r\n/FontBBox [ 0 -200 1000 800 ]\r\n/Ascent 800\r\n/Descent -200\r\n/CapHeight 700\r\n/StemV 80",
      false);
  type0->AddDescendant(cid);
  cid->SetDescriptor(desc);
  type0->set_selectable(true);
  unicode_font_ = type0;
  return type0;
}

}  // namespace zv::pdf
