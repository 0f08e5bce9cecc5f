// The converter's text: each glyph the interpreter shows goes into a run of ExtTextOutW text
// in the installed face that draws the document's font (its own, its design's twin, or the
// face of its kind), one record a word whatever its characters; glyphs no installed face
// draws, and the glyphs of scripts the application shaped (Arabic, the Indic scripts), are
// drawn from the document's own font program as outlines, their text still kept in a run
// that draws nothing; vertical writing goes down the page in the face's "@" form; text as
// clip gathers its outlines into the clip path. Part of the one output device
// (records_device.h).
#include <GfxFont.h>
#include <GfxState.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "capture/pdfrecords/coverage.h"
#include "capture/pdfrecords/font_twins.h"
#include "capture/pdfrecords/records_device.h"
#include "platform/codepage/codepage.h"
#include "platform/gdi/fonts.h"

namespace zv::capture::pdfrecords {
namespace {

bool IsJapanese(char32_t c) {
  return (c >= 0x3000 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFF00 && c <= 0xFFEF);
}

// Characters of the scripts whose glyphs the application shapes (joining forms, ligatures,
// marks placed on their bases): Arabic and Syriac, Thaana, N'Ko, the Indic scripts, Myanmar,
// Khmer, and Arabic's presentation forms. Their glyphs as placed are the writing; drawn
// character by character they fall apart.
bool ShapedScript(const Unicode* u, int n) {
  for (int i = 0; i < n; ++i) {
    const Unicode c = u[i];
    if ((c >= 0x0600 && c <= 0x07FF) || (c >= 0x0860 && c <= 0x0DFF) || (c >= 0x1000 && c <= 0x109F) ||
        (c >= 0x1780 && c <= 0x17FF) || (c >= 0xFB50 && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFF))
      return true;
  }
  return false;
}

// A glyph whose code reaches no usable Unicode: none at all, the replacement character, a
// control character or the private use area (what a subset font without a ToUnicode map gives).
bool NoUnicode(const Unicode* u, int n) {
  if (n <= 0 || u == nullptr) return true;
  const Unicode c = u[0];
  return c == 0xFFFD || c < 0x20 || (c >= 0x7F && c < 0xA0) || (c >= 0xE000 && c <= 0xF8FF) || c > 0x10FFFF;
}

void AppendUtf16(std::u16string& out, Unicode c) {
  if (c >= 0x10000) {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(c));
  }
}

// A character as the text keeps it: the Latin ligatures (U+FB00 to U+FB06) as their letters,
// which every face draws and every reader of the text finds.
void AppendLetters(std::u16string& out, Unicode c) {
  static const char16_t* const kLigatures[] = {u"ff", u"fi", u"fl", u"ffi", u"ffl", u"st", u"st"};
  if (c >= 0xFB00 && c <= 0xFB06) {
    out += kLigatures[c - 0xFB00];
    return;
  }
  AppendUtf16(out, c);
}

}  // namespace

void RecordsDev::endTextObject(GfxState*) {
  Flush();
  if (clip_glyphs_) {
    // Text drawn as clip (render modes 4 to 7): the glyph outlines gathered in the text
    // object become the clip path.
    clip_glyphs_ = false;
    if (!clip_path_.empty()) {
      rec_.BeginPath();
      EmitPoints(clip_path_, clip_types_);
      rec_.EndPath();
      SetFillMode(win::WINDING);
      rec_.SelectClipPath(win::RGN_AND);
    } else {
      // Nothing visible may show through a clip of no glyphs.
      rec_.IntersectClipRect(0, 0, 0, 0);
    }
    clip_path_.clear();
    clip_types_.clear();
  }
}

void RecordsDev::drawChar(GfxState* state, double x, double y, double dx, double dy, double originX, double originY,
                          CharCode code, int nBytes, const Unicode* u, int uLen) {
  (void)nBytes;
  neutralised_ = false;
  if (Hidden()) {
    // The glyph's box: an em and a half about its origin, its advance included.
    double tx = 0, ty = 0, ex = 0, ey = 0;
    state->transform(x - originX, y - originY, &tx, &ty);
    state->transform(x - originX + dx, y - originY + dy, &ex, &ey);
    const double em = 1.5 * FontEmPixels(state) + 2;
    return Ink(state, win::RECT{Clamp32(std::min(tx, ex) - em), Clamp32(std::min(ty, ey) - em),
                                Clamp32(std::max(tx, ex) + em), Clamp32(std::max(ty, ey) + em)});
  }
  const int render = state->getRender() & 7;
  const std::shared_ptr<GfxFont>& font = state->getFont();
  if (!font) return;
  // The page holds every font it meets, so the work kept by the font's address never
  // meets a freed font or another font at a freed one's address.
  fonts_.Meet(font);
  if (render >= 4) clip_glyphs_ = true;
  if (render == 3 || render == 7) {
    if (render == 7) AddClipGlyph(state, x - originX, y - originY, code);
    return;  // invisible text (over scans) draws nothing
  }
  if (render >= 4) AddClipGlyph(state, x - originX, y - originY, code);
  Unicode from_program = 0;
  if (CodesAreGlyphs(font.get())) {
    GlyphOutlines* outlines = OutlinesOf(font.get());
    const bool found = outlines && outlines->UnicodeOf(code, &from_program);
    u = found ? &from_program : nullptr;
    uLen = found ? 1 : 0;
  }
  const bool vertical = font->getWMode() == 1;
  if (NeedsPicture(state, state->getFillOpacity())) {
    Flush();
    double x0, y0;
    state->transform(x - originX, y - originY, &x0, &y0);
    const double em = FontEmPixels(state);
    Picture(state, win::RECT{Clamp32(x0 - em), Clamp32(y0 - em), Clamp32(x0 + 2 * em), Clamp32(y0 + em)});
    return;
  }
  if (NoUnicode(u, uLen)) {
    // No text to carry: the glyph is drawn from the document's font program, or counted.
    Flush();
    if (!DrawGlyphOutline(state, x - originX, y - originY, code)) Lost(u, uLen, code);
    return;
  }
  // A font no installed face draws, or characters no installed face has, are drawn from the
  // document's outlines; their text still goes into a run, one that draws nothing, so
  // whoever reads the page's text finds it. A glyph its program does not hold (or a program
  // FreeType cannot read) is drawn as text in a face of the same kind where one has its
  // characters, and counted as lost where none has.
  // Shaped scripts keep the application's shaping: their glyphs are drawn as placed, from
  // the document's font program, their characters kept in a run that draws nothing.
  bool hidden = false;
  if (ForceOutline(font.get()) || !Drawable(u, uLen) || ShapedScript(u, uLen)) {
    hidden = DrawGlyphOutline(state, x - originX, y - originY, code);
    if (!hidden && !Drawable(u, uLen)) {
      Flush();
      Lost(u, uLen, code);
      return;
    }
  }
  AddGlyph(state, x - originX, y - originY, dx, dy, u, uLen, vertical, hidden, render);
}

void RecordsDev::AddGlyph(GfxState* state, double x, double y, double dx, double dy, const Unicode* u, int uLen,
                          bool vertical, bool hidden, int render) {
  const std::shared_ptr<GfxFont>& font = state->getFont();
  double m11, m12, m21, m22;
  state->getFontTransMat(&m11, &m12, &m21, &m22);
  const double hs = state->getHorizScaling();
  m11 *= hs;
  m12 *= hs;
  double gx, gy, ax, ay;
  state->transform(x, y, &gx, &gy);
  state->transformDelta(dx, dy, &ax, &ay);
  const win::COLORREF colour = FillColour(state);

  // A glyph continues the run when the font, its matrix and colour are the same and it lies
  // on the run's baseline; vertical text is drawn glyph by glyph.
  // Filled and stroked glyphs (render mode 2, as office suites make a bold of a face that
  // has none) are drawn in the face's bold.
  const bool emboldened = render == 2 && state->getTransformedLineWidth() > 0.01 * FontEmPixels(state);
  bool continues = !run_.glyphs.empty() && !vertical && run_.font == font.get() && run_.colour == colour &&
                   run_.hidden == hidden &&
                   run_.emboldened == emboldened &&
                   std::abs(run_.m[0] - m11) < 1e-6 && std::abs(run_.m[1] - m12) < 1e-6 &&
                   std::abs(run_.m[2] - m21) < 1e-6 && std::abs(run_.m[3] - m22) < 1e-6;
  double s = 0, t = 0;
  if (continues) {
    TextSpace(gx - run_.ox, gy - run_.oy, &s, &t);
    continues = std::abs(t) < 0.02 && s > run_.glyphs.back().s - 0.01;
  }
  // Wide characters set upright one below the other, as office suites lay vertical writing
  // out glyph by glyph in a horizontal font, are vertical writing: the glyph above and this
  // one are drawn in the face's vertical forms (the full stop in the cell's top right, the
  // brackets and the long vowel mark turned), as their document's glyphs were.
  bool below = false;
  if (!continues && !vertical && run_.glyphs.size() == 1 && run_.wide && run_.font == font.get() &&
      std::abs(run_.m[0] - m11) < 1e-6 && std::abs(run_.m[1] - m12) < 1e-6 && std::abs(run_.m[2] - m21) < 1e-6 &&
      std::abs(run_.m[3] - m22) < 1e-6 && std::any_of(u, u + uLen, [](Unicode c) { return c > 0xFF; })) {
    double bs = 0, bt = 0;
    TextSpace(gx - run_.ox, gy - run_.oy, &bs, &bt);
    below = std::abs(bs) < 0.15 && bt < -0.8 && bt > -1.6;
    if (below) run_.vertical = true;
  }
  if (!continues) {
    Flush();
    run_ = Run{};
    run_.font = font.get();
    run_.colour = colour;
    run_.m[0] = m11;
    run_.m[1] = m12;
    run_.m[2] = m21;
    run_.m[3] = m22;
    run_.ox = gx;
    run_.oy = gy;
    run_.vertical = vertical || below;
    run_.hidden = hidden;
    run_.emboldened = emboldened;
    s = t = 0;
  }
  Glyph g;
  g.s = s;
  TextSpace(ax, ay, &g.advance, &t);
  for (int i = 0; i < uLen; ++i) AppendLetters(g.text, u[i]);
  for (int i = 0; i < uLen; ++i)
    if (IsJapanese(u[i])) run_.japanese = true;
  for (int i = 0; i < uLen; ++i)
    if (u[i] > 0xFF) run_.wide = true;
  run_.glyphs.push_back(std::move(g));
  if (vertical) Flush();
}

bool RecordsDev::beginType3Char(GfxState* state, double x, double y, double dx, double dy, CharCode, const Unicode* u,
                                int uLen) {
  Flush();
  if (Hidden() || !state->getFont() || NoUnicode(u, uLen)) return false;
  const int render = state->getRender() & 7;
  if (render == 3 || render == 7) return false;
  fonts_.Meet(state->getFont());
  AddGlyph(state, x, y, dx, dy, u, uLen, state->getFont()->getWMode() == 1, true, render);
  Flush();
  return false;
}

double RecordsDev::FontEmPixels(GfxState* state) {
  double m11, m12, m21, m22;
  state->getFontTransMat(&m11, &m12, &m21, &m22);
  return std::max(1.0, std::hypot(m21, m22));
}

void RecordsDev::TextSpace(double ddx, double ddy, double* s, double* t) const {
  const double* m = run_.m;
  const double det = m[0] * m[3] - m[1] * m[2];
  if (std::abs(det) < 1e-12) {
    *s = *t = 0;
    return;
  }
  *s = (ddx * m[3] - ddy * m[2]) / det;
  *t = (m[0] * ddy - m[1] * ddx) / det;
}

bool RecordsDev::ForceOutline(GfxFont* font) {
  // An embedded font that no installed face draws draws from its own outlines.
  Ref id;
  return font->getEmbeddedFontID(&id) && InstalledFaceOf(font).empty();
}

const std::string& RecordsDev::InstalledFaceOf(GfxFont* font) {
  static const std::string kNone;
  FontWork* work = fonts_.Find(font);
  if (!work) return kNone;
  if (work->installed_face) return *work->installed_face;
  std::string face = NamedFace(font);
  // A name no installed face carries, or one only a bitmap face answers (Courier), draws in
  // the installed clone or metric twin of its design.
  if (!InstalledFace(face) || gdi::ChooseFont(gdi::MakeLogFont(face, 0)).raster) {
    std::string twin = InstalledTwinFace(NameOf(font));
    if (!twin.empty()) face = std::move(twin);
  }
  if (!InstalledFace(face)) {
    GlyphOutlines* outlines = OutlinesOf(font);  // none for a font that is not embedded
    const std::string family = outlines ? outlines->Family() : std::string();
    face = InstalledFace(family) ? family : InstalledTwinFace(family);
  }
  return work->installed_face.emplace(std::move(face));
}

std::string RecordsDev::NamedFace(GfxFont* font) {
  std::string face = FaceFromFontName(NameOf(font)).face;
  if (std::any_of(face.begin(), face.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
    auto u8 = codepage::Cp932ToUtf8(face);
    face = u8.ok() ? *u8 : std::string();
  }
  return face;
}

bool RecordsDev::CodesAreGlyphs(GfxFont* font) {
  if (!font->isCIDFont() || font->hasToUnicodeCMap()) return false;
  const GooString* coll = static_cast<GfxCIDFont*>(font)->getCollection();
  return coll && coll->toStr() == "Adobe-Identity";
}

std::string RecordsDev::NameOf(GfxFont* font) {
  if (font->getName()) return *font->getName();
  if (font->getFamily()) return font->getFamily()->toStr();
  return {};
}

GlyphOutlines* RecordsDev::OutlinesOf(GfxState* state) {
  if (!state->getFont()) return nullptr;
  return OutlinesOf(fonts_.Meet(state->getFont()));
}

GlyphOutlines* RecordsDev::OutlinesOf(GfxFont* font) {
  FontWork* work = fonts_.Find(font);
  return work ? OutlinesOf(*work) : nullptr;
}

GlyphOutlines* RecordsDev::OutlinesOf(FontWork& work) {
  if (!work.outlines_loaded) {
    work.outlines = GlyphOutlines::Load(work.font.get(), fonts_.xref());
    work.outlines_loaded = true;
  }
  return work.outlines.get();
}

bool RecordsDev::GlyphPath(GfxState* state, double x, double y, CharCode code, std::vector<win::POINT>* pts,
                           std::vector<win::BYTE>* types, int sub) {
  GlyphOutlines* outlines = OutlinesOf(state);
  if (!outlines) return false;
  double m11, m12, m21, m22;
  state->getFontTransMat(&m11, &m12, &m21, &m22);
  const double hs = state->getHorizScaling();
  m11 *= hs;
  m12 *= hs;
  double ox, oy;
  state->transform(x, y, &ox, &oy);
  return outlines->Append(
      code,
      [&](double tx, double ty, win::POINT* out) {
        *out = win::POINT{Clamp32((ox + tx * m11 + ty * m21) * sub), Clamp32((oy + tx * m12 + ty * m22) * sub)};
      },
      pts, types);
}

bool RecordsDev::Drawable(const Unicode* u, int n) {
  for (int i = 0; i < n; ++i)
    if (!InstalledFacesCover(static_cast<char32_t>(u[i]))) return false;
  return true;
}

void RecordsDev::Lost(const Unicode* u, int n, CharCode code) {
  ++stats_.lost_chars;
  // Each lost character named once, by itself and its code point; a glyph that stands for no
  // character by its code in the font.
  std::string name;
  char buf[32];
  if (NoUnicode(u, n)) {
    std::snprintf(buf, sizeof buf, "code 0x%X", static_cast<unsigned>(code));
    name = buf;
  } else {
    for (int i = 0; i < n; ++i) {
      std::u16string one;
      AppendUtf16(one, u[i]);
      auto u8 = codepage::Utf16ToUtf8(one, codepage::OnError::kSubstitute);
      std::snprintf(buf, sizeof buf, " U+%04X", static_cast<unsigned>(u[i]));
      if (!name.empty()) name += ' ';
      name += (u8.ok() ? *u8 : std::string()) + buf;
    }
  }
  if (stats_.lost_names >= 16 || stats_.lost_text.find(name) != std::string::npos) return;
  if (!stats_.lost_text.empty()) stats_.lost_text += ", ";
  stats_.lost_text += name;
  ++stats_.lost_names;
}

bool RecordsDev::DrawGlyphOutline(GfxState* state, double x, double y, CharCode code) {
  std::vector<win::POINT> pts;
  std::vector<win::BYTE> types;
  // Outlines in sixteenths of a pixel (through the world transform): small glyphs keep
  // their shape.
  if (!GlyphPath(state, x, y, code, &pts, &types, kSub)) return false;
  if (pts.empty()) return true;
  rec_.SaveDC();
  rec_.SetGraphicsMode(win::GM_ADVANCED);
  rec_.SetWorldTransform(win::XFORM{1.0f / kSub, 0, 0, 1.0f / kSub, 0, 0});
  rec_.BeginPath();
  EmitPoints(pts, types);
  rec_.EndPath();
  SelectFillBrush(state);
  SetFillMode(win::WINDING);
  rec_.FillPath();
  rec_.RestoreDC(-1);
  ForgetObjects();
  ++stats_.outline_glyphs;
  Spend(pts.size() * 5 + 80);
  return true;
}

void RecordsDev::AddClipGlyph(GfxState* state, double x, double y, CharCode code) {
  const std::size_t before = clip_path_.size();
  GlyphPath(state, x, y, code, &clip_path_, &clip_types_);
  // Clipping text becomes records too: a page of it counts against the page's byte limit.
  Spend((clip_path_.size() - before) * 5);
}

void RecordsDev::SelectRunFont(double em_logical, int escapement, bool slanted) {
  GfxFont* font = run_.font;
  const FaceOfName named = FaceFromFontName(NameOf(font));
  std::string face = InstalledFaceOf(font);
  win::BYTE charset = win::ANSI_CHARSET;
  bool japanese_font = false;
  if (font->isCIDFont()) {
    const GooString* coll = static_cast<GfxCIDFont*>(font)->getCollection();
    japanese_font = coll && coll->toStr().find("Japan") != std::string::npos;
  }
  if (run_.japanese || japanese_font) {
    charset = win::SHIFTJIS_CHARSET;
  } else if (run_.wide) {
    charset = win::DEFAULT_CHARSET;
  }
  // No installed face of the font's own: one of the same kind (InstalledFaceOf keeps the
  // fontconfig answer per font, so this costs no look-up).
  if (face.empty()) face = FallbackFace(font, charset == win::SHIFTJIS_CHARSET);
  // Vertical writing names the face's vertical form, as applications do (drawn down the page,
  // each glyph at its own place).
  if (run_.vertical) face = "@" + face;
  const TwinStyle style = StyleOfName(NameOf(font));
  const bool bold =
      named.bold || style.bold || font->isBold() || font->getWeight() >= GfxFont::W600 || run_.emboldened;
  const bool italic = named.italic || style.italic || font->isItalic() || slanted;
  win::LOGFONTW lf = gdi::MakeLogFont(face, -std::max<win::LONG>(1, Clamp32(em_logical)),
                                      bold ? win::FW_BOLD : win::FW_NORMAL, italic, charset);
  lf.lfEscapement = lf.lfOrientation = escapement;
  lf.lfPitchAndFamily = static_cast<win::BYTE>((font->isFixedWidth() ? win::FIXED_PITCH : win::VARIABLE_PITCH) |
                                               (font->isFixedWidth() ? win::FF_MODERN
                                                : font->isSerif()    ? win::FF_ROMAN
                                                                     : win::FF_SWISS));
  gdi::Font f{lf};
  if (!(current_.font && *current_.font == f)) {
    rec_.SelectFont(f);
    current_.font = f;
  }
  if (current_.text_colour != run_.colour) {
    rec_.SetTextColor(run_.colour);
    current_.text_colour = run_.colour;
  }
}

std::string RecordsDev::FallbackFace(GfxFont* font, bool japanese) {
  FontWork* work = fonts_.Find(font);
  if (!work) return ChooseFallbackFace(font, japanese, NamedFace(font));
  std::optional<std::string>& known = work->fallback_face[japanese ? 1 : 0];
  if (!known) known = ChooseFallbackFace(font, japanese, NamedFace(font));
  return *known;
}

std::string RecordsDev::ChooseFallbackFace(GfxFont* font, bool japanese, const std::string& face) {
  win::LOGFONTW lf =
      gdi::MakeLogFont(face, 0, win::FW_NORMAL, false, japanese ? win::SHIFTJIS_CHARSET : win::ANSI_CHARSET);
  lf.lfPitchAndFamily = static_cast<win::BYTE>((font->isFixedWidth() ? win::FIXED_PITCH : win::VARIABLE_PITCH) |
                                               (font->isSerif() ? win::FF_ROMAN : win::FF_DONTCARE));
  return gdi::ChooseFont(lf).family;
}

void RecordsDev::SpreadOverLetters(const std::u16string& text, int advance, std::vector<int>* dx) {
  std::size_t letters = 0;
  for (char16_t c : text) letters += !(c >= 0xDC00 && c < 0xE000);
  if (letters == 0) letters = 1;
  int given = 0;
  std::size_t letter = 0;
  for (char16_t c : text) {
    if (c >= 0xDC00 && c < 0xE000) {
      dx->push_back(0);
      continue;
    }
    ++letter;
    const int upto = static_cast<int>(std::lround(static_cast<double>(advance) * letter / letters));
    dx->push_back(upto - given);
    given = upto;
  }
}

void RecordsDev::Flush() {
  if (run_.glyphs.empty()) return;
  const double* m = run_.m;
  // Upright text (the baseline along +x, glyphs upright, square ems) is drawn in device
  // pixels; anything else through a world transform from the run's own text space.
  const double em = std::hypot(m[2], m[3]);
  const bool upright = std::abs(m[1]) < 1e-3 * em && std::abs(m[2]) < 1e-3 * em && m[0] > 0 && m[3] < 0 &&
                       std::abs(m[0] + m[3]) < 0.01 * em;
  // A turned run (square ems, not mirrored, as on pages with /Rotate) is drawn in device
  // pixels with the font's escapement, as applications draw turned text, so that every
  // reader of the records (the re-recorded page, the saved PDF) places its glyphs along
  // the turned baseline.
  // A slanted one (an italic made by slanting the upright face, as office suites print
  // it) is drawn turned in the face's italic.
  const double b2 = m[0] * m[0] + m[1] * m[1];
  const double square = b2 > 0 ? (m[2] * m[1] - m[3] * m[0]) / b2 : 0;  // the ems' share across the baseline
  const double slant = b2 > 0 ? (m[2] * m[0] + m[3] * m[1]) / b2 : 0;   // their lean along it
  const double angle = std::atan2(-m[1], m[0]);
  int escapement = static_cast<int>(std::lround(angle * 1800 / M_PI));
  escapement = ((escapement % 3600) + 3600) % 3600;
  const bool turned = !upright && std::abs(square - 1) < 0.01 &&
                      (std::abs(slant) < 0.01 || (escapement != 0 && std::abs(slant) < 0.4));
  if (turned) {
    const double along = std::sqrt(b2);
    const double cs = std::cos(angle), sn = std::sin(angle);
    std::u16string text;
    std::vector<int> dx;
    int prev = 0;
    for (std::size_t i = 0; i < run_.glyphs.size(); ++i) {
      const Glyph& g = run_.glyphs[i];
      const double next_s = i + 1 < run_.glyphs.size() ? run_.glyphs[i + 1].s : g.s + g.advance;
      const int next = Clamp32(next_s * along);
      text += g.text;
      SpreadOverLetters(g.text, next - prev, &dx);
      prev = next;
    }
    double rx = run_.ox, ry = run_.oy;
    if (run_.vertical) {
      // Down the turned line (see below): the reference point on the cell's top edge.
      SelectRunFont(along, (escapement + 2700) % 3600, std::abs(slant) >= 0.01);
      win::TEXTMETRICW tm{};
      if (rec_.GetTextMetricsW(&tm)) {
        rx += tm.tmDescent * cs - tm.tmAscent * sn;
        ry += -tm.tmDescent * sn - tm.tmAscent * cs;
      }
    } else {
      SelectRunFont(along, escapement, std::abs(slant) >= 0.01);
    }
    EmitWords(Clamp32(rx), Clamp32(ry), text, dx, along, run_.hidden, cs, -sn);
    run_ = Run{};
    return;
  }
  std::u16string text;
  std::vector<int> dx;
  std::vector<std::pair<std::size_t, std::size_t>> shared;  // glyphs of several characters
  double em_logical;
  int x0, y0;
  if (upright) {
    em_logical = -m[3];
    x0 = Clamp32(run_.ox);
    y0 = Clamp32(run_.oy);
    int prev = x0;
    for (std::size_t i = 0; i < run_.glyphs.size(); ++i) {
      const Glyph& g = run_.glyphs[i];
      const double next_s = i + 1 < run_.glyphs.size() ? run_.glyphs[i + 1].s : g.s + g.advance;
      const int next = Clamp32(run_.ox + next_s * m[0]);
      if (g.text.size() > 1) shared.emplace_back(text.size(), g.text.size());
      text += g.text;
      SpreadOverLetters(g.text, next - prev, &dx);
      prev = next;
    }
  } else {
    // Logical units of 1/64 em: the transform scales them back to the run's em.
    const double unit = 64;
    em_logical = unit;
    x0 = y0 = 0;
    int prev = 0;
    for (std::size_t i = 0; i < run_.glyphs.size(); ++i) {
      const Glyph& g = run_.glyphs[i];
      const double next_s = i + 1 < run_.glyphs.size() ? run_.glyphs[i + 1].s : g.s + g.advance;
      const int next = Clamp32(next_s * unit);
      if (g.text.size() > 1) shared.emplace_back(text.size(), g.text.size());
      text += g.text;
      SpreadOverLetters(g.text, next - prev, &dx);
      prev = next;
    }
    rec_.SaveDC();
    rec_.SetGraphicsMode(win::GM_ADVANCED);
    win::XFORM xf{static_cast<float>(m[0] / unit),  static_cast<float>(m[1] / unit), static_cast<float>(-m[2] / unit),
                  static_cast<float>(-m[3] / unit), static_cast<float>(run_.ox),     static_cast<float>(run_.oy)};
    rec_.SetWorldTransform(xf);
  }
  if (run_.vertical) {
    // Vertical writing as applications write it: the "@" face down the page (escapement
    // 2700), which stands its double-byte glyphs upright, the line's reference point on the
    // cell's top edge, the descent's width right of the glyph's left side.
    SelectRunFont(em_logical, 2700);
    win::TEXTMETRICW tm{};
    if (rec_.GetTextMetricsW(&tm)) {
      x0 += tm.tmDescent;
      y0 -= tm.tmAscent;
    }
  } else {
    SelectRunFont(em_logical);
  }
  ShareByWidths(text, shared, &dx);
  EmitWords(x0, y0, text, dx, em_logical, run_.hidden);
  if (!upright) {
    rec_.RestoreDC(-1);
    // The saved state restored the font and colour selected before the run.
    ForgetObjects();
  }
  run_ = Run{};
}

void RecordsDev::ShareByWidths(const std::u16string& text,
                               const std::vector<std::pair<std::size_t, std::size_t>>& shared, std::vector<int>* dx) {
  for (const auto& [at, n] : shared) {
    if (at + n > text.size() || at + n > dx->size()) continue;
    long total = 0, widths = 0;
    std::vector<int> w(n);
    for (std::size_t k = 0; k < n; ++k) {
      total += (*dx)[at + k];
      w[k] = NaturalAdvance(text[at + k]);
      if (w[k] < 0) widths = -1;
      if (widths >= 0) widths += w[k];
    }
    if (widths <= 0) continue;
    long given = 0, upto = 0;
    for (std::size_t k = 0; k < n; ++k) {
      upto += w[k];
      const long next = std::lround(static_cast<double>(total) * upto / widths);
      (*dx)[at + k] = static_cast<int>(next - given);
      given = next;
    }
  }
}

bool RecordsDev::NaturalAdvances(const std::u16string& text, const std::vector<int>& dx, std::size_t i, std::size_t j,
                                 double em) {
  const double tolerance = std::max(1.0, em / 100);
  long want = 0, have = 0;
  for (std::size_t k = i; k < j; ++k) {
    const int w = NaturalAdvance(text[k]);
    if (w < 0) return false;
    want += dx[k];
    have += w;
    if (std::abs(want - have) > tolerance) return false;
  }
  return true;
}

bool RecordsDev::KeptAsText(char16_t c) {
  if (c < 0x80) return true;
  if (c >= 0xD800 && c < 0xE000) return false;
  return fonts_.KeptAsText(c, [c] {
    bool kept = false;
    auto u8 = codepage::Utf16ToUtf8(std::u16string_view(&c, 1));
    auto cp = u8.ok() ? codepage::Utf8ToCp932(*u8) : Result<std::string>(u8.status());
    if (cp.ok()) {
      auto back = codepage::Cp932ToUtf8(*cp);
      kept = back.ok() && *back == *u8;
    }
    return kept;
  });
}

void RecordsDev::EmitWords(int x0, int y0, const std::u16string& text, const std::vector<int>& dx, double em,
                           bool hidden, double ux, double uy) {
  const win::RECT nowhere{x0, y0, x0, y0};
  const win::UINT options = hidden ? win::ETO_CLIPPED : 0;
  const win::RECT* clip = hidden ? &nowhere : nullptr;
  const bool all_kept = std::all_of(text.begin(), text.end(), [&](char16_t c) { return KeptAsText(c); });
  if (all_kept && NaturalAdvances(text, dx, 0, text.size(), em)) {
    rec_.ExtTextOutW(x0, y0, options, clip, text);
    ++stats_.text_runs;
    Spend(text.size() * 2 + 90);
    return;
  }
  std::size_t i = 0;
  long along = 0;  // pixels along the baseline from (x0, y0)
  while (i < text.size()) {
    if (text[i] == u' ') {
      along += dx[i];
      ++i;
      continue;
    }
    // A word is one record whatever its characters: the capture keeps a word CP932 cannot
    // hold as wide text, whole, so that no reader cuts it at the characters CP932 lacks.
    std::size_t j = i;
    while (j < text.size() && text[j] != u' ') ++j;
    const std::u16string word = text.substr(i, j - i);
    std::vector<int> advances(dx.begin() + static_cast<std::ptrdiff_t>(i),
                              dx.begin() + static_cast<std::ptrdiff_t>(j));
    const bool natural = NaturalAdvances(text, dx, i, j, em);
    rec_.ExtTextOutW(Clamp32(x0 + along * ux), Clamp32(y0 + along * uy), options, clip, word,
                     natural ? std::span<const int>() : std::span<const int>(advances));
    ++stats_.text_runs;
    Spend(word.size() * 6 + 90);
    for (int a : advances) along += a;
    i = j;
  }
}

int RecordsDev::NaturalAdvance(char16_t c) {
  if (c >= 0xD800 && c < 0xE000) return -1;
  // The table of the selected font, looked up again only when the font changes.
  if (!widths_ || std::memcmp(&widths_font_, &current_.font->lf, sizeof widths_font_) != 0) {
    widths_font_ = current_.font->lf;
    widths_ = &fonts_.WidthsOf(widths_font_);
  }
  auto it = widths_->find(c);
  if (it != widths_->end()) return it->second;
  win::SIZE size{};
  const int w = rec_.GetTextExtentPoint32W(std::u16string_view(&c, 1), &size) ? size.cx : -1;
  widths_->emplace(c, w);
  return w;
}

bool RecordsDev::InstalledFace(const std::string& face) { return !face.empty() && gdi::FaceKnown(face); }

}  // namespace zv::capture::pdfrecords
