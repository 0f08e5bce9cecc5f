// The cairo-backed device context: fonts and text. Faces come from the font table
// (fonts.h) through fontconfig and FreeType; a character the chosen face lacks is drawn,
// measured and printed with an installed face that has it (fontconfig's coverage, a face of
// the same kind first, a Japanese one for Japanese characters), never as an empty box.
#include <cairo-ft.h>
#include <fontconfig/fcfreetype.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include FT_TRUETYPE_TAGS_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <numbers>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/codepage/codepage.h"
#include "platform/gdi/fonts.h"
#include "platform/gdi/internal/cairo_dc.h"
#include "platform/gdi/internal/charset.h"
#include "platform/gdi/internal/utf.h"
#include "platform/gdi/internal/vertical_glyphs.h"

namespace zv::gdi::detail {

namespace {

constexpr double kPi = std::numbers::pi;

// A face and the metrics the Windows text calls need, per em. The face is released with the
// last holder.
struct FaceInfo {
  cairo_font_face_t* face = nullptr;
  double ascent = 0.88;  // winAscent / unitsPerEm
  double descent = 0.12;
  double avg_width = 0.5;
  bool fixed = false;
  // The glyphs vertical writing draws instead (an "@" face): the face's "vert" forms.
  std::unordered_map<std::uint16_t, std::uint16_t> vertical;
  // The pattern the face was made from (null for a toy face): a font slot's own face of it is
  // made from it, its metrics taken from this one.
  FcPattern* pattern = nullptr;
  FaceInfo() = default;
  FaceInfo(const FaceInfo&) = delete;
  FaceInfo& operator=(const FaceInfo&) = delete;
  ~FaceInfo() {
    if (face) cairo_font_face_destroy(face);
    if (pattern) FcPatternDestroy(pattern);
  }
};
using FaceRef = std::shared_ptr<const FaceInfo>;

// FreeType faces of our own, one per face drawn. The font backend opens only a few faces of
// font files at a time and closes an idle one whenever it opens another, so text in many
// faces had its font files mapped, read and unmapped again and again; and its test whether a
// face is idle is made without that face's lock, so a face another thread is about to use
// could be closed under it. A face made from a FreeType face of ours is never closed by the
// backend: the backend takes the face's own lock around every use of it (loading glyphs,
// cairo_ft_scaled_font_lock_face), so text of different device contexts is drawn on several
// threads at once, and only threads drawing in the same face take turns. The library is
// shared: FreeType asks for a lock around FT_New_Face and FT_Done_Face only.
std::mutex g_freetype_mu;
FT_Library g_freetype = nullptr;

void DoneFreeTypeFace(void* face) {
  std::lock_guard<std::mutex> lock(g_freetype_mu);
  FT_Done_Face(static_cast<FT_Face>(face));
}

// Takes a pattern ready to draw with (a file, its face index and the rendering options
// fontconfig gives for it); gives a face drawing it through a FreeType face of our own that
// lives as long as the cairo face, or the backend's own face of the pattern where the file
// cannot be opened here.
cairo_font_face_t* FaceForPattern(FcPattern* pattern) {
  FcChar8* file = nullptr;
  int index = 0;
  if (FcPatternGetString(pattern, FC_FILE, 0, &file) != FcResultMatch) {
    return cairo_ft_font_face_create_for_pattern(pattern);
  }
  if (FcPatternGetInteger(pattern, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
  FT_Face ft = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_freetype_mu);
    if (!g_freetype && FT_Init_FreeType(&g_freetype) != 0) g_freetype = nullptr;
    if (!g_freetype || FT_New_Face(g_freetype, reinterpret_cast<const char*>(file), index, &ft) != 0) ft = nullptr;
  }
  if (!ft) return cairo_ft_font_face_create_for_pattern(pattern);
  // The pattern's rendering options (hinting, anti-aliasing, synthetic bold) stay those of the
  // pattern: only where the face comes from changes.
  FcPattern* own = FcPatternDuplicate(pattern);
  FcPatternDel(own, FC_FT_FACE);
  FcPatternAddFTFace(own, FC_FT_FACE, ft);
  cairo_font_face_t* face = cairo_ft_font_face_create_for_pattern(own);
  FcPatternDestroy(own);
  static cairo_user_data_key_t owner;
  if (cairo_font_face_status(face) != CAIRO_STATUS_SUCCESS ||
      cairo_font_face_set_user_data(face, &owner, ft, DoneFreeTypeFace) != CAIRO_STATUS_SUCCESS) {
    cairo_font_face_destroy(face);
    DoneFreeTypeFace(ft);
    return cairo_ft_font_face_create_for_pattern(pattern);
  }
  return face;
}

// The metrics Windows uses, read from the face's tables.
FaceRef MakeFaceInfo(cairo_font_face_t* face, FcPattern* pattern = nullptr) {
  auto made = std::make_shared<FaceInfo>();
  FaceInfo& info = *made;
  info.face = face;
  info.pattern = pattern;
  cairo_matrix_t fm, ctm;
  cairo_matrix_init_scale(&fm, 1000, 1000);
  cairo_matrix_init_identity(&ctm);
  cairo_font_options_t* opt = cairo_font_options_create();
  cairo_scaled_font_t* sf = cairo_scaled_font_create(info.face, &fm, &ctm, opt);
  cairo_font_options_destroy(opt);
  if (cairo_scaled_font_status(sf) == CAIRO_STATUS_SUCCESS &&
      cairo_font_face_get_type(info.face) == CAIRO_FONT_TYPE_FT) {
    FT_Face ft = cairo_ft_scaled_font_lock_face(sf);
    if (ft && ft->units_per_EM > 0) {
      double upem = ft->units_per_EM;
      auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(ft, FT_SFNT_OS2));
      if (os2 && os2->usWinAscent > 0) {
        info.ascent = os2->usWinAscent / upem;
        info.descent = os2->usWinDescent / upem;
        if (os2->xAvgCharWidth > 0) info.avg_width = os2->xAvgCharWidth / upem;
      } else {
        info.ascent = ft->ascender / upem;
        info.descent = -ft->descender / upem;
      }
      info.fixed = FT_IS_FIXED_WIDTH(ft);
      FT_ULong length = 0;
      if (FT_Load_Sfnt_Table(ft, TTAG_GSUB, 0, nullptr, &length) == 0 && length > 0 && length <= (16u << 20)) {
        std::vector<std::uint8_t> gsub(length);
        if (FT_Load_Sfnt_Table(ft, TTAG_GSUB, 0, gsub.data(), &length) == 0)
          info.vertical = VerticalSubstitutions(gsub, std::size_t(ft->num_glyphs));
      }
    }
    cairo_ft_scaled_font_unlock_face(sf);
  }
  cairo_scaled_font_destroy(sf);
  return made;
}

// The most recently used entries first, those least recently used let go beyond `kMost` (an
// entry still in use stays with its holders until they end). Thread-safe.
template <typename Value, size_t kMost>
class LruCache {
 public:
  // Gives the value kept under `key`, or the one `make` gives, kept under it.
  template <typename Make>
  Value Get(const std::string& key, Make make) {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->first == key) {
        if (it != entries_.begin()) entries_.splice(entries_.begin(), entries_, it);
        return entries_.front().second;
      }
    }
    entries_.emplace_front(key, make());
    if (entries_.size() > kMost) entries_.pop_back();
    return entries_.front().second;
  }

 private:
  std::mutex mu_;
  std::list<std::pair<std::string, Value>> entries_;
};

// The faces in use: a document names only a few faces, but a process that prints many
// documents could name many, each holding a font file open.
using FaceCache = LruCache<FaceRef, 48>;

// Threads drawing text in one face at once take turns on its locks (the scaled fonts' glyph
// caches, cairo's lock of the FreeType face) and on these caches' own. A thread that draws much
// text beside others (a printer's worker) takes a font slot of its own (UseFontSlot): faces and
// layouts of the same font, made for its slot, are its own, and it draws them undisturbed.
constexpr unsigned kFontSlots = 16;
thread_local unsigned t_font_slot = 0;

FaceCache* g_face_slots = new FaceCache[kFontSlots];

// Takes a face's cache key and how to make it; gives the face of the calling thread's slot.
// Slot 0 makes faces; another slot makes its own face of slot 0's pattern, with its metrics.
template <typename Make>
FaceRef SlotFace(const std::string& key, Make make) {
  if (t_font_slot == 0) return g_face_slots[0].Get(key, make);
  FaceRef base = g_face_slots[0].Get(key, make);
  if (!base->pattern) return base;
  return g_face_slots[t_font_slot].Get(key, [&] {
    auto made = std::make_shared<FaceInfo>();
    made->face = FaceForPattern(base->pattern);
    FcPatternReference(base->pattern);
    made->pattern = base->pattern;
    made->ascent = base->ascent;
    made->descent = base->descent;
    made->avg_width = base->avg_width;
    made->fixed = base->fixed;
    made->vertical = base->vertical;
    return FaceRef(made);
  });
}

FaceRef GetFace(const std::string& family, int weight, bool italic) {
  // Only a regular and a bold face exist per family here, so weights are folded to those two
  // and share one cache entry.
  std::string key = family + "|" + std::to_string(weight >= 600 ? 700 : 400) + (italic ? "|i" : "|r");
  return SlotFace(key, [&] {
    FcPattern* pat = FamilyRequest(family, weight, italic);
    FcResult res;
    FcPattern* match = FcFontMatch(nullptr, pat, &res);
    FcPatternDestroy(pat);
    if (!match) {
      return MakeFaceInfo(
          cairo_toy_font_face_create(family.c_str(), italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                                     weight >= 600 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL));
    }
    return MakeFaceInfo(FaceForPattern(match), match);
  });
}

// The face of a fallback font (whose pattern is kept for the process, as the fallback faces are).
FaceRef GetFallbackFace(const FallbackFaces::Face& f) {
  return SlotFace("fallback|" + std::to_string(reinterpret_cast<std::uintptr_t>(f.pattern)), [&] {
    FcPatternReference(f.pattern);
    return MakeFaceInfo(FaceForPattern(f.pattern), f.pattern);
  });
}

unsigned long GlyphIndex(cairo_scaled_font_t* sf, char32_t c) {
  if (cairo_scaled_font_get_type(sf) != CAIRO_FONT_TYPE_FT) return 0;
  FT_Face ft = cairo_ft_scaled_font_lock_face(sf);
  unsigned long g = ft ? FT_Get_Char_Index(ft, c) : 0;
  cairo_ft_scaled_font_unlock_face(sf);
  return g;
}

// Format characters (joiners, direction marks, variation selectors, the byte-order mark) that
// take no room and draw nothing where the face has no glyph for them.
bool DefaultIgnorable(char32_t c) {
  return c == 0xAD || c == 0x34F || (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2060 && c <= 0x206F) || (c >= 0xFE00 && c <= 0xFE0F) || c == 0xFEFF || (c >= 0xE0000 && c <= 0xE0FFF);
}

// A character Windows draws turned a quarter to the left in an "@" face: a double-byte one
// (two bytes in CP932, or a wide character CP932 lacks), so that a line written down the page
// (escapement 2700) stands it upright.
bool TurnedInVerticalFace(char32_t c) {
  if (c < 0x80) return false;
  if ((c >= 0xFF61 && c <= 0xFFDC) || (c >= 0xFFE8 && c <= 0xFFEE)) return false;  // half-width forms
  if (c >= 0x3000) return true;
  std::string u8;
  detail::AppendUtf8(u8, c);
  Result<std::string> cp = codepage::Utf8ToCp932(u8);
  return cp.ok() && cp->size() == 2;
}

// The scaled fonts of one face at a text call's size.
struct ScaledFace {
  cairo_scaled_font_t* upright = nullptr;  // along the baseline, unrotated: advances
  cairo_scaled_font_t* drawn = nullptr;    // through the transform: drawing
  cairo_scaled_font_t* turned = nullptr;   // drawn turned a quarter to the left ("@" faces only)
  bool Usable() const {
    return cairo_scaled_font_status(upright) == CAIRO_STATUS_SUCCESS &&
           cairo_scaled_font_status(drawn) == CAIRO_STATUS_SUCCESS;
  }
};

// What laying text out derives from one font (its whole description) drawn through one
// transform: the chosen face, the size, the scaled fonts of the chosen face and of the fallback
// faces met so far, and each character met so far with the face drawing it, its glyph and its
// advance. Made once and kept in a bounded cache, so a text call only looks its characters up.
// The character table and the fallback faces grow under the exclusive lock; look-ups take the
// shared one.
struct FontLayout {
  bool usable = false;  // false: the font cannot be laid out through this transform
  FontChoice choice;
  FaceRef main;
  double ascent = 0, descent = 0, em = 0;
  double dir_x = 1, dir_y = 0, down_x = 0, down_y = 1, scale_x = 1, scale_y = 1;
  // The scaled fonts' matrices.
  double ex = 0, ey = 0, g11 = 1, g21 = 0, g12 = 0, g22 = 1;
  bool plain = true;
  bool vertical = false;  // an "@" face: characters take their vertical forms
  cairo_font_options_t* options = nullptr;

  struct Glyph {
    int face = 0;
    unsigned long glyph = 0;
    double adv = 0;  // natural advance in device pixels, when `measured`
    bool measured = false;
    bool turned = false;  // drawn turned a quarter to the left (an "@" face's double-byte character)
  };
  mutable std::shared_mutex mu;
  std::vector<ScaledFace> faces;  // 0: the chosen face, then fallback faces
  std::vector<FaceRef> face_refs;
  std::vector<const FallbackFaces::Face*> face_source;  // of faces[1...]
  const FallbackFaces* fallback = nullptr;
  std::unordered_map<char32_t, Glyph> glyphs;

  FontLayout() = default;
  FontLayout(const FontLayout&) = delete;
  FontLayout& operator=(const FontLayout&) = delete;
  ~FontLayout() {
    for (ScaledFace& f : faces) {
      if (f.upright) cairo_scaled_font_destroy(f.upright);
      if (f.drawn) cairo_scaled_font_destroy(f.drawn);
      if (f.turned) cairo_scaled_font_destroy(f.turned);
    }
    if (options) cairo_font_options_destroy(options);
  }

  ScaledFace Make(const FaceInfo& fi) const {
    ScaledFace f;
    cairo_matrix_t fm, identity;
    cairo_matrix_init_identity(&identity);
    cairo_matrix_init_scale(&fm, ex * scale_x, ey * scale_y);
    f.upright = cairo_scaled_font_create(fi.face, &fm, &identity, options);
    if (!plain) {
      cairo_matrix_t full;
      cairo_matrix_init(&full, g11 * ex, g21 * ex, g12 * ey, g22 * ey, 0, 0);
      f.drawn = cairo_scaled_font_create(fi.face, &full, &identity, options);
    } else {
      f.drawn = cairo_scaled_font_reference(f.upright);
    }
    if (vertical) {
      // A glyph point (x, y) drawn at (y, -x): a quarter turn to the left as seen.
      cairo_matrix_t turned;
      cairo_matrix_init(&turned, -g12 * ey, -g22 * ey, g11 * ex, g21 * ex, 0, 0);
      f.turned = cairo_scaled_font_create(fi.face, &turned, &identity, options);
    }
    return f;
  }

  // Under the exclusive lock: the face and glyph of `c` (a character the chosen face lacks
  // comes from the faces fontconfig gives for it), measured when `need_adv`.
  Glyph Resolve(char32_t c, const Glyph* known, bool need_adv, int weight, bool italic) {
    Glyph r;
    if (known) {
      r = *known;
    } else {
      unsigned long g = GlyphIndex(faces[0].upright, c);
      int fi = 0;
      if (g == 0 && c >= 0x20 && !DefaultIgnorable(c)) {
        if (!fallback) fallback = &FallbackFacesFor(choice, weight, italic, main->fixed);
        // A face that has the character by fontconfig's account but gives no glyph gives way
        // to the next one.
        for (int k = 0; k < 3 && g == 0; ++k) {
          const FallbackFaces::Face* source = fallback->FaceFor(c, k);
          if (!source) break;
          auto at = std::find(face_source.begin(), face_source.end(), source);
          const int idx = int(at - face_source.begin()) + 1;
          if (at == face_source.end()) {
            FaceRef ref = GetFallbackFace(*source);
            faces.push_back(Make(*ref));
            face_refs.push_back(std::move(ref));
            face_source.push_back(source);
          }
          if (!faces[size_t(idx)].Usable()) continue;
          const unsigned long g2 = GlyphIndex(faces[size_t(idx)].upright, c);
          if (g2 != 0) {
            g = g2;
            fi = idx;
          }
        }
      }
      // Vertical writing draws the face's vertical form of a glyph where it has one.
      if (vertical && g != 0) {
        const FaceInfo& drawing = *face_refs[size_t(fi)];
        if (auto form = drawing.vertical.find(static_cast<std::uint16_t>(g)); form != drawing.vertical.end())
          g = form->second;
      }
      r.face = fi;
      r.glyph = g;
      r.turned = vertical && TurnedInVerticalFace(c);
    }
    if (need_adv && !r.measured) {
      if (c < 0x20 || (r.glyph == 0 && DefaultIgnorable(c))) {
        r.adv = 0;
      } else {
        cairo_glyph_t gl{r.glyph, 0, 0};
        cairo_text_extents_t ext;
        cairo_scaled_font_glyph_extents(faces[size_t(r.face)].upright, &gl, 1, &ext);
        r.adv = ext.x_advance;
      }
      r.measured = true;
    }
    // A font that draws very many characters (a large CJK document) keeps only the first ones.
    if (known) {
      glyphs[c] = r;
    } else if (glyphs.size() < kMostGlyphs) {
      glyphs.emplace(c, r);
    }
    return r;
  }

  static constexpr size_t kMostGlyphs = 16384;
};
using FontLayoutRef = std::shared_ptr<FontLayout>;

// The font layouts in use: a page uses a few fonts at a few sizes; a bound keeps a long run of
// documents from holding every size it met.
LruCache<FontLayoutRef, 64>* g_layout_slots = new LruCache<FontLayoutRef, 64>[kFontSlots];

}  // namespace

void UseFontSlot(unsigned slot) { t_font_slot = slot % kFontSlots; }

// One text call laid out in device pixels.
struct CairoDC::TextLayout {
  using Face = ScaledFace;
  std::vector<Face> faces;  // 0: the chosen face, then the faces drawing characters it lacks
  std::vector<char32_t> chars;
  std::vector<int> units;  // UTF-16 units per character
  std::vector<int> face_of;
  std::vector<unsigned long> glyph;
  std::vector<char> turned;  // drawn turned a quarter to the left (an "@" face's double-byte character)
  std::vector<double> adv;  // natural advance of each character, device pixels (0 unless measured)
  double ascent = 0, descent = 0, em = 0;
  double dir_x = 1, dir_y = 0;    // baseline direction in device pixels (unit length)
  double down_x = 0, down_y = 1;  // the glyphs' downward direction in device pixels (unit length)
  double scale_x = 1;             // device pixels per logical unit along the baseline
  double scale_y = 1;             // device pixels per logical unit downwards
  bool underline = false, strike = false;
  FontLayoutRef font;

  ~TextLayout() {
    for (Face& f : faces) {
      if (f.upright) cairo_scaled_font_destroy(f.upright);
      if (f.drawn) cairo_scaled_font_destroy(f.drawn);
      if (f.turned) cairo_scaled_font_destroy(f.turned);
    }
  }
};

// Glyphs are drawn through the whole logical-to-device transform, so a shearing or
// unevenly scaled rotation slants them as it slants shapes. In GM_COMPATIBLE a transform that
// mirrors (a map mode with y upwards) is taken with y turned back first: the glyphs stay
// upright and unmirrored. In GM_ADVANCED they are mirrored like everything else.
bool CairoDC::Layout(std::u16string_view text, TextLayout* out, bool need_adv) const {
  const LOGFONTW& lf = s_.font.lf;
  XFORM m = Total();
  double det = double(m.eM11) * m.eM22 - double(m.eM12) * m.eM21;
  if (!std::isfinite(det) || det == 0) return false;
  // Logical -> device, columns: where a logical unit along x and along y goes.
  double g11 = m.eM11, g21 = m.eM12, g12 = m.eM21, g22 = m.eM22;
  if (det < 0 && s_.graphics_mode != int(win::GM_ADVANCED)) {
    g12 = -g12;
    g22 = -g22;
  }
  // The font is laid out once per description, transform and resolution.
  const int dpi_y = GetDeviceCaps(win::LOGPIXELSY);
  std::string key(reinterpret_cast<const char*>(&lf), sizeof lf);
  for (double v : {g11, g21, g12, g22}) key.append(reinterpret_cast<const char*>(&v), sizeof v);
  key.append(reinterpret_cast<const char*>(&dpi_y), sizeof dpi_y);
  FontLayoutRef font = g_layout_slots[t_font_slot].Get(key, [&] {
    auto made = std::make_shared<FontLayout>();
    FontLayout& f = *made;
    // The escapement turns the glyphs in logical space (counter-clockwise as seen).
    double esc = -double(lf.lfEscapement % 3600) / 10.0 * kPi / 180.0;
    if (esc != 0) {
      const double c = std::cos(esc), sn = std::sin(esc);
      const double n11 = g11 * c + g12 * sn, n12 = -g11 * sn + g12 * c;
      const double n21 = g21 * c + g22 * sn, n22 = -g21 * sn + g22 * c;
      g11 = n11, g12 = n12, g21 = n21, g22 = n22;
    }
    double sx = std::hypot(g11, g21), sy = std::hypot(g12, g22);
    if (sx <= 0 || sy <= 0 || !std::isfinite(sx) || !std::isfinite(sy)) return made;
    f.choice = ChooseFont(lf);
    f.vertical = lf.lfFaceName[0] == u'@';
    f.main = GetFace(f.choice.family, lf.lfWeight, lf.lfItalic);
    const FaceInfo& main = *f.main;
    double cell = main.ascent + main.descent;
    double em_log;
    // As on Windows: a negative height is the em size, a positive one the whole cell
    // (ascent plus descent), and 0 a default size.
    if (lf.lfHeight < 0) {
      em_log = -double(lf.lfHeight);
    } else if (lf.lfHeight > 0) {
      em_log = lf.lfHeight / (cell > 0 ? cell : 1.0);
    } else {
      em_log = 12.0 * dpi_y / 72.0 / sy;  // 12 points
    }
    double em_dev = std::min(em_log * sy, 1e4);  // FreeType refuses much larger sizes
    // Too small to see (or from a damaged record): nothing to lay out.
    if (!(em_dev >= 0.05)) return made;
    double wfac = 1.0;
    if (lf.lfWidth > 0 && em_log > 0) wfac = std::clamp(lf.lfWidth / (em_log * main.avg_width), 0.01, 100.0);
    if (!(wfac * sx / sy >= 1e-3) || !(em_dev * wfac * sx / sy <= 1e4)) return made;
    em_log = em_dev / sy;
    f.dir_x = g11 / sx;
    f.dir_y = g21 / sx;
    f.down_x = g12 / sy;
    f.down_y = g22 / sy;
    f.scale_x = sx;
    f.scale_y = sy;
    f.em = em_dev;
    f.ascent = main.ascent * em_dev;
    f.descent = main.descent * em_dev;
    f.options = cairo_font_options_create();
    // Unhinted metrics scale linearly: text measured at the screen's resolution keeps its width
    // at the printer's.
    cairo_font_options_set_hint_metrics(f.options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(f.options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_antialias(f.options, CAIRO_ANTIALIAS_GRAY);
    f.ex = em_log * wfac;
    f.ey = em_log;
    f.g11 = g11, f.g21 = g21, f.g12 = g12, f.g22 = g22;
    f.plain = g21 == 0 && g12 == 0 && g11 > 0 && g22 > 0;
    f.faces.push_back(f.Make(main));
    f.face_refs.push_back(f.main);
    f.usable = f.faces[0].Usable();
    return made;
  });
  if (!font->usable) return false;
  const FontLayout& f = *font;
  out->dir_x = f.dir_x;
  out->dir_y = f.dir_y;
  out->down_x = f.down_x;
  out->down_y = f.down_y;
  out->scale_x = f.scale_x;
  out->scale_y = f.scale_y;
  out->em = f.em;
  out->ascent = f.ascent;
  out->descent = f.descent;
  out->underline = lf.lfUnderline;
  out->strike = lf.lfStrikeOut;
  // Characters.
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    int units = 1;
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      units = 2;
      ++i;
    }
    out->chars.push_back(c);
    out->units.push_back(units);
  }
  const size_t n = out->chars.size();
  out->face_of.resize(n);
  out->glyph.resize(n);
  out->turned.resize(n);
  out->adv.resize(n);
  auto take = [&](size_t i, const FontLayout::Glyph& g) {
    out->face_of[i] = g.face;
    out->glyph[i] = g.glyph;
    out->turned[i] = g.turned;
    out->adv[i] = g.measured ? g.adv : 0.0;
  };
  auto take_faces = [&] {
    for (const ScaledFace& sf : f.faces) {
      out->faces.push_back({cairo_scaled_font_reference(sf.upright), cairo_scaled_font_reference(sf.drawn),
                            sf.turned ? cairo_scaled_font_reference(sf.turned) : nullptr});
    }
  };
  bool complete = true;
  {
    std::shared_lock<std::shared_mutex> lock(f.mu);
    for (size_t i = 0; i < n && complete; ++i) {
      auto it = f.glyphs.find(out->chars[i]);
      if (it == f.glyphs.end() || (need_adv && !it->second.measured)) complete = false;
      else take(i, it->second);
    }
    if (complete) take_faces();
  }
  if (!complete) {
    std::unique_lock<std::shared_mutex> lock(font->mu);
    for (size_t i = 0; i < n; ++i) {
      const char32_t c = out->chars[i];
      auto it = font->glyphs.find(c);
      if (it != font->glyphs.end() && (!need_adv || it->second.measured)) {
        take(i, it->second);
      } else {
        take(i, font->Resolve(c, it == font->glyphs.end() ? nullptr : &it->second, need_adv, lf.lfWeight, lf.lfItalic));
      }
    }
    take_faces();
  }
  out->font = std::move(font);
  return true;
}

bool CairoDC::ExtTextOutW(int x, int y, win::UINT options, const RECT* rect, std::u16string_view text,
                          std::span<const int> dx) {
  if (text_only_) return InvisibleTextOutW(x, y, options, rect, text, dx);
  text_bounds_.reset();
  std::vector<double> adv;
  if (!dx.empty()) {
    const bool pdy = options & win::ETO_PDY;
    size_t need = pdy ? text.size() * 2 : text.size();
    if (dx.size() < need) return false;
    for (size_t i = 0; i < text.size(); ++i) adv.push_back(dx[pdy ? 2 * i : i]);
  }
  return DrawText(x, y, options, rect, text, std::move(adv));
}

bool CairoDC::ExtTextOutA(int x, int y, win::UINT options, const RECT* rect, std::string_view text,
                          std::span<const int> dx) {
  if (text_only_) return InvisibleTextOutA(x, y, options, rect, text, dx);
  text_bounds_.reset();
  DecodedText d = DecodeAnsi(text, s_.font.lf.lfCharSet);
  std::vector<double> adv;
  if (!dx.empty()) {
    const bool pdy = options & win::ETO_PDY;
    size_t need = pdy ? text.size() * 2 : text.size();
    if (dx.size() < need) return false;
    size_t byte = 0;
    for (size_t i = 0; i < d.text.size(); ++i) {
      double a = 0;
      for (int k = 0; k < d.bytes_per_char[i]; ++k, ++byte) a += dx[pdy ? 2 * byte : byte];
      adv.push_back(a);
    }
  }
  return DrawText(x, y, options, rect, d.text, std::move(adv));
}

bool CairoDC::DrawText(int x, int y, win::UINT options, const RECT* rect, std::u16string_view text,
                       std::vector<double> adv_log) {
  text_bounds_.reset();
  if (s_.path_open) return true;  // text in paths is not kept
  const bool update_cp = s_.text_align & win::TA_UPDATECP;
  if (update_cp) {
    x = s_.cp.x;
    y = s_.cp.y;
  }
  std::optional<Region> opaque, clip_rect;
  if (rect && (options & (win::ETO_OPAQUE | win::ETO_CLIPPED))) {
    Region r = DeviceRect(rect->left, rect->top, rect->right, rect->bottom);
    if (options & win::ETO_OPAQUE) opaque = r;
    if (options & win::ETO_CLIPPED) clip_rect = r;
  }
  if (opaque && draw_) {
    int rop2 = std::exchange(s_.rop2, win::R2_COPYPEN);
    FillRgn(*opaque, Brush::Solid(s_.bk_color));
    s_.rop2 = rop2;
  }
  auto grow = [&](const RECT& r) {
    if (!text_bounds_) {
      text_bounds_ = r;
    } else {
      text_bounds_ = RECT{std::min(text_bounds_->left, r.left), std::min(text_bounds_->top, r.top),
                          std::max(text_bounds_->right, r.right), std::max(text_bounds_->bottom, r.bottom)};
    }
  };
  if (text.empty()) {
    if (opaque) text_bounds_ = opaque->Box();
    else text_bounds_ = RECT{0, 0, 0, 0};
    return true;
  }
  TextLayout lay;
  // Advances given by the call fix where every glyph goes: the glyphs' own are not measured.
  if (!Layout(text, &lay, adv_log.empty())) return false;
  // Advances along the baseline in device pixels, one per character.
  std::vector<double> adv(lay.chars.size());
  size_t unit = 0;
  for (size_t i = 0; i < lay.chars.size(); ++i) {
    if (!adv_log.empty()) {
      double a = 0;
      for (int k = 0; k < lay.units[i]; ++k) a += unit + k < adv_log.size() ? adv_log[unit + k] : 0;
      adv[i] = a * lay.scale_x;
    } else {
      adv[i] = lay.adv[i];
    }
    unit += lay.units[i];
  }
  double total = 0;
  for (double a : adv) total += a;
  double ox, oy;
  Xf(x, y, &ox, &oy);
  // Horizontal alignment along the baseline.
  const win::UINT h = s_.text_align & 6;
  double shift = h == win::TA_RIGHT ? -total : h == win::TA_CENTER ? -total / 2 : 0;
  // Vertical: move the reference point to the baseline.
  const win::UINT v = s_.text_align & 24;
  double down = v == win::TA_BASELINE ? 0 : v == win::TA_BOTTOM ? -lay.descent : lay.ascent;
  const double nx = lay.down_x, ny = lay.down_y;  // the glyphs' "down"
  double bx = ox + lay.dir_x * shift + nx * down, by = oy + lay.dir_y * shift + ny * down;
  if (!update_cp) {
    // Along the baseline from the leftmost to the rightmost glyph position, and across it, with
    // room of twice the em and the cell on every side for glyphs wider or taller than their
    // advances.
    double lo = 0, hi = 0, pos = 0;
    for (double a : adv) {
      pos += a;
      lo = std::min(lo, pos);
      hi = std::max(hi, pos);
    }
    const double room = 2 * (std::fabs(lay.em) + std::fabs(lay.ascent) + std::fabs(lay.descent)) + 2;
    double l = 1e300, t = 1e300, r = -1e300, b = -1e300;
    for (double along : {lo - room, hi + room}) {
      for (double across : {-room, room}) {
        const double px = bx + lay.dir_x * along + nx * across, py = by + lay.dir_y * along + ny * across;
        l = std::min(l, px);
        t = std::min(t, py);
        r = std::max(r, px);
        b = std::max(b, py);
      }
    }
    if (std::isfinite(l) && std::isfinite(t) && std::isfinite(r) && std::isfinite(b) && r - l < 1e9 && b - t < 1e9) {
      grow(RECT{int(std::clamp(std::floor(l), -1e9, 1e9)), int(std::clamp(std::floor(t), -1e9, 1e9)),
                int(std::clamp(std::ceil(r), -1e9, 1e9)), int(std::clamp(std::ceil(b), -1e9, 1e9))});
      if (opaque) grow(opaque->Box());
    }
  }
  if (draw_) {
    if (s_.bk_mode == win::OPAQUE && !(options & win::ETO_OPAQUE)) {
      Path cell;
      double ax = -nx * lay.ascent, ay = -ny * lay.ascent, dx2 = nx * lay.descent, dy2 = ny * lay.descent;
      double ex = lay.dir_x * total, ey = lay.dir_y * total;
      cell.push_back({PathOp::kMove, {bx + ax}, {by + ay}});
      cell.push_back({PathOp::kLine, {bx + ax + ex}, {by + ay + ey}});
      cell.push_back({PathOp::kLine, {bx + dx2 + ex}, {by + dy2 + ey}});
      cell.push_back({PathOp::kLine, {bx + dx2}, {by + dy2}});
      cell.push_back({PathOp::kClose, {}, {}});
      Brush bk = Brush::Solid(s_.bk_color);
      int rop2 = std::exchange(s_.rop2, win::R2_COPYPEN);
      Render(cell, true, &bk, nullptr, clip_rect ? &*clip_rect : nullptr);
      s_.rop2 = rop2;
    }
    cairo_save(cr_);
    cairo_identity_matrix(cr_);
    ApplyClip(cr_, clip_rect ? &*clip_rect : nullptr);
    cairo_set_antialias(cr_, CAIRO_ANTIALIAS_GRAY);
    std::uint32_t c = s_.text_color;
    cairo_set_source_rgb(cr_, (c & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, ((c >> 16) & 0xFF) / 255.0);
    double pos = 0;
    // Each glyph goes with its character, so that a PDF drawn here reads back as the text
    // even where the glyph is no character's own in the face (a vertical form).
    std::vector<cairo_glyph_t> run;
    std::string run_text;
    std::vector<cairo_text_cluster_t> clusters;
    int run_face = -1;
    bool run_turned = false;
    auto flush = [&] {
      if (!run.empty()) {
        const ScaledFace& sf = lay.faces[size_t(run_face)];
        cairo_set_scaled_font(cr_, run_turned && sf.turned ? sf.turned : sf.drawn);
        cairo_show_text_glyphs(cr_, run_text.data(), int(run_text.size()), run.data(), int(run.size()), clusters.data(),
                               int(clusters.size()), cairo_text_cluster_flags_t(0));
        run.clear();
        run_text.clear();
        clusters.clear();
      }
    };
    for (size_t i = 0; i < lay.chars.size(); ++i) {
      if (lay.chars[i] >= 0x20 && lay.glyph[i] != 0) {
        const bool turned = lay.turned[i] != 0;
        if (lay.face_of[i] != run_face || turned != run_turned) {
          flush();
          run_face = lay.face_of[i];
          run_turned = turned;
        }
        // A turned glyph stands in its cell with its top at the cell's start along the
        // baseline and its left side on the cell's descent side.
        const double along = turned ? pos + lay.ascent : pos, across = turned ? lay.descent : 0;
        run.push_back({lay.glyph[i], bx + lay.dir_x * along + nx * across - origin_x_,
                       by + lay.dir_y * along + ny * across - origin_y_});
        const size_t before = run_text.size();
        const char32_t ch = lay.chars[i];
        detail::AppendUtf8(run_text, ch > 0x10FFFF || (ch >= 0xD800 && ch < 0xE000) ? char32_t(0xFFFD) : ch);
        clusters.push_back({int(run_text.size() - before), 1});
      }
      pos += adv[i];
    }
    flush();
    if (lay.underline || lay.strike) {
      double th = std::max(1.0, lay.em / 14);
      for (int k = 0; k < 2; ++k) {
        if ((k == 0 && !lay.underline) || (k == 1 && !lay.strike)) continue;
        double off = k == 0 ? lay.descent / 2 : -lay.ascent / 3;
        double sx0 = bx + nx * off - origin_x_, sy0 = by + ny * off - origin_y_;
        cairo_set_line_width(cr_, th);
        cairo_move_to(cr_, sx0, sy0);
        cairo_line_to(cr_, sx0 + lay.dir_x * total, sy0 + lay.dir_y * total);
        cairo_stroke(cr_);
      }
    }
    cairo_restore(cr_);
  }
  if (update_cp) {
    double lt = total / lay.scale_x;
    double nx2 = h == win::TA_LEFT ? x + lt : h == win::TA_RIGHT ? x - lt : x;
    s_.cp.x = int(std::clamp(std::round(nx2), -2147483648.0, 2147483647.0));
  }
  return true;
}

bool CairoDC::GetTextMetricsW(win::TEXTMETRICW* tm) const {
  TextLayout lay;
  if (!Layout(u"x", &lay)) return false;
  const LOGFONTW& lf = s_.font.lf;
  const FontChoice& choice = lay.font->choice;
  const FaceInfo& fi = *lay.font->main;
  *tm = {};
  double sy = lay.scale_y, sx = lay.scale_x;
  tm->tmAscent = int(std::lround(lay.ascent / sy));
  tm->tmDescent = int(std::lround(lay.descent / sy));
  tm->tmHeight = tm->tmAscent + tm->tmDescent;
  tm->tmInternalLeading = std::max(0, tm->tmHeight - int(std::lround(lay.em / sy)));
  tm->tmExternalLeading = 0;
  cairo_font_extents_t fe;
  cairo_scaled_font_extents(lay.faces[0].upright, &fe);
  tm->tmAveCharWidth = std::max(1, int(std::lround(fi.avg_width * lay.em / sy * (lf.lfWidth > 0 ? 1.0 : 1.0))));
  if (lf.lfWidth > 0) tm->tmAveCharWidth = lf.lfWidth;
  tm->tmMaxCharWidth = std::max<int>(tm->tmAveCharWidth, int(std::lround(fe.max_x_advance / sx)));
  tm->tmWeight = lf.lfWeight ? lf.lfWeight : win::FW_NORMAL;
  tm->tmDigitizedAspectX = tm->tmDigitizedAspectY = GetDeviceCaps(win::LOGPIXELSX);
  tm->tmFirstChar = 0x20;
  tm->tmLastChar = 0xFFFC;
  tm->tmDefaultChar = 0x30FB;
  tm->tmBreakChar = 0x20;
  tm->tmItalic = lf.lfItalic;
  tm->tmUnderlined = lf.lfUnderline;
  tm->tmStruckOut = lf.lfStrikeOut;
  win::BYTE pf = choice.raster ? 0 : (win::TMPF_VECTOR | win::TMPF_TRUETYPE);
  if (!fi.fixed) pf |= win::TMPF_FIXED_PITCH;  // the bit means variable pitch
  tm->tmPitchAndFamily = win::BYTE(pf | (lf.lfPitchAndFamily & 0xF0));
  tm->tmCharSet = lf.lfCharSet == win::DEFAULT_CHARSET ? win::SHIFTJIS_CHARSET : lf.lfCharSet;
  return true;
}

bool CairoDC::GetTextExtentPoint32W(std::u16string_view text, SIZE* size) const {
  TextLayout lay;
  if (!Layout(text, &lay)) return false;
  double total = 0;
  for (double a : lay.adv) total += a;
  size->cx = int(std::clamp(std::round(total / lay.scale_x), 0.0, 2147483647.0));
  size->cy = int(std::lround(lay.ascent / lay.scale_y)) + int(std::lround(lay.descent / lay.scale_y));
  return true;
}

bool CairoDC::GetTextExtentPoint32A(std::string_view text, SIZE* size) const {
  DecodedText d = DecodeAnsi(text, s_.font.lf.lfCharSet);
  return GetTextExtentPoint32W(d.text, size);
}

std::string CairoDC::GetTextFace() const { return ChooseFont(s_.font.lf).family; }

}  // namespace zv::gdi::detail

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
// fontconfig keeps parts of its configuration unreachable after loading it once per process;
// that is not a leak of ours, so the leak checker of sanitizer builds is told to skip it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif
#endif
