#include "capture/pdfrecords/glyph_outlines.h"

#include <GfxFont.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <map>
#include <optional>

namespace zv::capture::pdfrecords {

struct GlyphOutlines::Impl {
  FT_Library lib = nullptr;
  FT_Face face = nullptr;
  std::vector<unsigned char> data;  // FreeType reads the font from here for the face's life
  GfxFont* font = nullptr;
  std::optional<std::map<FT_UInt, Unicode>> unicode_of_glyph;  // read on first use
  ~Impl() {
    if (face) FT_Done_Face(face);
    if (lib) FT_Done_FreeType(lib);
  }

  FT_UInt GlyphOf(CharCode code) const {
    if (font->isCIDFont()) {
      auto* cid = static_cast<GfxCIDFont*>(font);
      const int* map = cid->getCIDToGID();
      if (map) return code < cid->getCIDToGIDLen() ? static_cast<FT_UInt>(map[code]) : 0;
      // CID-keyed CFF: FreeType's glyph index is the CID; Identity TrueType: the same.
      return static_cast<FT_UInt>(code);
    }
    auto* simple = static_cast<Gfx8BitFont*>(font);
    if (code < 256) {
      char** enc = simple->getEncoding();
      if (enc && enc[code] && FT_HAS_GLYPH_NAMES(face)) {
        FT_UInt g = FT_Get_Name_Index(face, enc[code]);
        if (g) return g;
      }
    }
    // The font's own cmap: symbolic TrueType fonts put their codes at 0xF000 and up.
    for (int i = 0; i < face->num_charmaps; ++i) {
      FT_Set_Charmap(face, face->charmaps[i]);
      if (FT_UInt g = FT_Get_Char_Index(face, code)) return g;
      if (FT_UInt g = FT_Get_Char_Index(face, 0xF000 + code)) return g;
    }
    return 0;
  }
};

GlyphOutlines::~GlyphOutlines() = default;

std::unique_ptr<GlyphOutlines> GlyphOutlines::Load(GfxFont* font, XRef* xref) {
  if (!font || !xref || font->getType() == fontType3) return nullptr;
  Ref id;
  if (!font->getEmbeddedFontID(&id)) return nullptr;
  std::optional<std::vector<unsigned char>> bytes = font->readEmbFontFile(xref);
  if (!bytes || bytes->empty()) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->data = std::move(*bytes);
  impl->font = font;
  if (FT_Init_FreeType(&impl->lib) != 0) return nullptr;
  if (FT_New_Memory_Face(impl->lib, impl->data.data(), static_cast<FT_Long>(impl->data.size()), 0, &impl->face) != 0)
    return nullptr;
  std::unique_ptr<GlyphOutlines> out(new GlyphOutlines);
  out->impl_ = std::move(impl);
  return out;
}

namespace {

struct Walk {
  const std::function<void(double, double, win::POINT*)>* to_device;
  double scale;
  std::vector<win::POINT>* pts;
  std::vector<win::BYTE>* types;
  bool open = false;
  double cx = 0, cy = 0;  // the current point, em units
  void Add(double x, double y, win::BYTE type) {
    win::POINT p{};
    (*to_device)(x, y, &p);
    pts->push_back(p);
    types->push_back(type);
  }
  void Close() {
    if (open && !types->empty()) types->back() |= win::PT_CLOSEFIGURE;
    open = false;
  }
};

int MoveTo(const FT_Vector* to, void* user) {
  auto* w = static_cast<Walk*>(user);
  w->Close();
  w->cx = to->x * w->scale;
  w->cy = to->y * w->scale;
  w->Add(w->cx, w->cy, win::PT_MOVETO);
  w->open = true;
  return 0;
}
int LineTo(const FT_Vector* to, void* user) {
  auto* w = static_cast<Walk*>(user);
  w->cx = to->x * w->scale;
  w->cy = to->y * w->scale;
  w->Add(w->cx, w->cy, win::PT_LINETO);
  return 0;
}
int ConicTo(const FT_Vector* c, const FT_Vector* to, void* user) {
  auto* w = static_cast<Walk*>(user);
  // The quadratic curve as the cubic that draws it.
  const double qx = c->x * w->scale, qy = c->y * w->scale, ex = to->x * w->scale, ey = to->y * w->scale;
  w->Add(w->cx + 2.0 / 3 * (qx - w->cx), w->cy + 2.0 / 3 * (qy - w->cy), win::PT_BEZIERTO);
  w->Add(ex + 2.0 / 3 * (qx - ex), ey + 2.0 / 3 * (qy - ey), win::PT_BEZIERTO);
  w->Add(ex, ey, win::PT_BEZIERTO);
  w->cx = ex;
  w->cy = ey;
  return 0;
}
int CubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
  auto* w = static_cast<Walk*>(user);
  w->Add(c1->x * w->scale, c1->y * w->scale, win::PT_BEZIERTO);
  w->Add(c2->x * w->scale, c2->y * w->scale, win::PT_BEZIERTO);
  w->cx = to->x * w->scale;
  w->cy = to->y * w->scale;
  w->Add(w->cx, w->cy, win::PT_BEZIERTO);
  return 0;
}

}  // namespace

bool GlyphOutlines::Append(CharCode code, const std::function<void(double, double, win::POINT*)>& to_device,
                           std::vector<win::POINT>* pts, std::vector<win::BYTE>* types) {
  FT_Face face = impl_->face;
  const FT_UInt glyph = impl_->GlyphOf(code);
  if (glyph == 0 || glyph >= static_cast<FT_UInt>(face->num_glyphs)) return false;
  if (FT_Load_Glyph(face, glyph, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0) return false;
  if (face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) return false;
  FT_Outline_Funcs funcs{};
  funcs.move_to = MoveTo;
  funcs.line_to = LineTo;
  funcs.conic_to = ConicTo;
  funcs.cubic_to = CubicTo;
  const double units = face->units_per_EM > 0 ? face->units_per_EM : 1000;
  Walk w{&to_device, 1.0 / units, pts, types};
  if (FT_Outline_Decompose(&face->glyph->outline, &funcs, &w) != 0) return false;
  w.Close();
  return true;
}

std::string GlyphOutlines::Family() const {
  const char* name = impl_->face->family_name;
  return name ? std::string(name) : std::string();
}

std::size_t GlyphOutlines::ProgramBytes() const { return impl_->data.size(); }

bool GlyphOutlines::UnicodeOf(CharCode code, Unicode* out) {
  Impl& im = *impl_;
  if (!im.unicode_of_glyph) {
    im.unicode_of_glyph.emplace();
    if (FT_Select_Charmap(im.face, FT_ENCODING_UNICODE) == 0) {
      // The lowest character of a glyph several characters share (a space and a no-break
      // space, say) stands for it.
      FT_UInt glyph = 0;
      for (FT_ULong c = FT_Get_First_Char(im.face, &glyph); glyph != 0; c = FT_Get_Next_Char(im.face, c, &glyph))
        im.unicode_of_glyph->emplace(glyph, static_cast<Unicode>(c));
    }
  }
  const FT_UInt glyph = im.GlyphOf(code);
  auto it = im.unicode_of_glyph->find(glyph);
  if (glyph == 0 || it == im.unicode_of_glyph->end()) return false;
  *out = it->second;
  return true;
}

}  // namespace zv::capture::pdfrecords
