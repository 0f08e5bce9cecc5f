#include "capture/pdfrecords/pdfrecords.h"

#include <GfxFont.h>
#include <GfxState.h>
#include <GlobalParams.h>
#include <OutputDev.h>
#include <PDFDoc.h>
#include <Page.h>
#include <SplashOutputDev.h>
#include <Stream.h>
#include <goo/GooString.h>
#include <splash/SplashBitmap.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "capture/pdfrecords/font_twins.h"
#include "capture/pdfrecords/coverage.h"
#include "capture/pdfrecords/document_fonts.h"
#include "capture/pdfrecords/glyph_outlines.h"
#include "capture/spool/placement.h"
#include "platform/codepage/codepage.h"
#include "platform/gdi/dib.h"
#include "platform/gdi/fonts.h"
#include "platform/gdi/recorder/recorder.h"
#include "platform/gdi/surfaces.h"

namespace zv::capture::pdfrecords {
namespace {

// poppler's global parameters live as long as the process: DrawPdf may run again at any time,
// and poppler's font caches refer to them.
void KeepPopplerParams() {
  static std::once_flag once;
  std::call_once(once, [] {
    static auto* initer = new GlobalParamsIniter([](ErrorCategory, Goffset, const char*) {});
    (void)initer;
  });
}

int Clamp32(double v) {
  if (!(v == v)) return 0;
  return static_cast<int>(std::lround(std::clamp(v, -1.0e9, 1.0e9)));
}

win::COLORREF Rgb(const GfxRGB& c) {
  const unsigned r = colToByte(c.r), g = colToByte(c.g), b = colToByte(c.b);
  return static_cast<win::COLORREF>(r | (g << 8) | (b << 16));
}

bool IsJapanese(char32_t c) {
  return (c >= 0x3000 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFF00 && c <= 0xFFEF);
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

// poppler's own rasteriser for the document being drawn as records: one for the whole
// document, so the fonts and glyphs it makes serve every page, drawing from the same open
// document the records are drawn from.
class DocumentPictures {
 public:
  explicit DocumentPictures(PDFDoc* doc) : doc_(doc) {}

  // Takes a page (0-based), its resolution and the page's limits; gives the whole page drawn,
  // valid until the next call, or null.
  SplashBitmap* Render(int page, double dpi, bool (*abort)(void*), void* abort_data) {
    if (!out_) {
      SplashColor white = {255, 255, 255};
      out_ = std::make_unique<SplashOutputDev>(splashModeRGB8, 1, false, white);
      out_->startDoc(doc_);
    }
    doc_->displayPage(out_.get(), page + 1, dpi, dpi, 0, false, true, true, abort, abort_data);
    return out_->getBitmap();
  }

 private:
  PDFDoc* doc_;
  std::unique_ptr<SplashOutputDev> out_;
};

// The whole page drawn by poppler's own rasteriser, for areas the records cannot express;
// made the first time a page needs one, at no more than 300 dpi.
class AreaPictures {
 public:
  AreaPictures(DocumentPictures& pictures, int page, double scale_to_device, bool (*abort)(void*), void* abort_data)
      : pictures_(pictures), page_(page), abort_(abort), abort_data_(abort_data) {
    // Device pixels per point of the recorded page; the picture at up to 300 dpi.
    device_per_point_ = scale_to_device;
    picture_per_point_ = std::min(scale_to_device, 300.0 / 72.0);
  }

  // Gives the picture's pixels of the device rectangle as a 24-bit DIB, or none.
  std::optional<gdi::Dib> Cut(const win::RECT& device, int* cut_w, int* cut_h) {
    if (!Ensure()) return std::nullopt;
    const double k = picture_per_point_ / device_per_point_;
    const int w = bitmap_->getWidth(), h = bitmap_->getHeight();
    const int l = std::clamp(static_cast<int>(std::floor(device.left * k)), 0, w);
    const int t = std::clamp(static_cast<int>(std::floor(device.top * k)), 0, h);
    const int r = std::clamp(static_cast<int>(std::ceil(device.right * k)), 0, w);
    const int b = std::clamp(static_cast<int>(std::ceil(device.bottom * k)), 0, h);
    if (r <= l || b <= t) return std::nullopt;
    std::vector<std::uint32_t> px(static_cast<std::size_t>(r - l) * (b - t));
    const SplashColorPtr data = bitmap_->getDataPtr();
    const int row = bitmap_->getRowSize();
    for (int y = t; y < b; ++y) {
      const unsigned char* p = data + static_cast<std::ptrdiff_t>(y) * row + 3 * l;
      for (int x = l; x < r; ++x, p += 3)
        px[static_cast<std::size_t>(y - t) * (r - l) + (x - l)] = (std::uint32_t{p[0]} << 16) | (p[1] << 8) | p[2];
    }
    *cut_w = r - l;
    *cut_h = b - t;
    origin_l_ = l / k;
    origin_t_ = t / k;
    extent_r_ = r / k;
    extent_b_ = b / k;
    return gdi::EncodeDib(r - l, b - t, px);
  }
  // The device rectangle the last cut covers (its pixels' edges).
  win::RECT LastCutDevice() const {
    return {Clamp32(origin_l_), Clamp32(origin_t_), Clamp32(extent_r_), Clamp32(extent_b_)};
  }

 private:
  bool Ensure() {
    if (bitmap_ || failed_) return bitmap_ != nullptr;
    failed_ = true;
    bitmap_ = pictures_.Render(page_, 72.0 * picture_per_point_, abort_, abort_data_);
    failed_ = bitmap_ == nullptr;
    return bitmap_ != nullptr;
  }

  DocumentPictures& pictures_;
  int page_;
  double device_per_point_ = 1, picture_per_point_ = 1;
  SplashBitmap* bitmap_ = nullptr;
  bool failed_ = false;
  bool (*abort_)(void*) = nullptr;  // the page's limits apply to its pictures too
  void* abort_data_ = nullptr;
  double origin_l_ = 0, origin_t_ = 0, extent_r_ = 0, extent_b_ = 0;
};

struct Budget {
  std::size_t max_bytes;
  std::chrono::steady_clock::time_point deadline;
  std::size_t bytes = 0;
  bool over_bytes = false;
  bool over_time = false;
  bool Exceeded() {
    if (bytes > max_bytes) over_bytes = true;
    if (std::chrono::steady_clock::now() > deadline) over_time = true;
    return over_bytes || over_time;
  }
};

bool BudgetCheck(void* data) { return static_cast<Budget*>(data)->Exceeded(); }

// The interpreter's drawing operations as recorder calls. Coordinates are the recorder's
// device pixels (MM_TEXT), where poppler's transform already puts them.
class RecordsDev final : public OutputDev {
 public:
  RecordsDev(gdi::MetafileRecorder& rec, Budget& budget, AreaPictures& pictures, PageStats& stats,
             DocumentFonts& fonts)
      : rec_(rec), budget_(budget), pictures_(pictures), stats_(stats), fonts_(fonts) {
    rec_.SetBkMode(win::TRANSPARENT);
    rec_.SetTextAlign(win::TA_BASELINE | win::TA_LEFT);
    rec_.SetMapperFlags(0);
  }

  bool upsideDown() override { return true; }
  bool useDrawChar() override { return true; }
  bool interpretType3Chars() override { return true; }
  bool needNonText() override { return true; }
  bool useTilingPatternFill() override { return false; }

  void saveState(GfxState*) override {
    Flush();
    neutralised_ = false;
    rec_.SaveDC();
    saved_.push_back(current_);
  }
  void restoreState(GfxState*) override {
    Flush();
    if (saved_.empty()) return;
    rec_.RestoreDC(-1);
    current_ = saved_.back();
    saved_.pop_back();
  }

  void stroke(GfxState* state) override {
    neutralised_ = false;
    if (Hidden()) return;
    Flush();
    if (NeedsPicture(state, state->getStrokeOpacity())) return Picture(state, StrokeBox(state));
    if (!BuildPath(state)) return;
    SelectStrokePen(state);
    SelectBrushNull();
    rec_.StrokePath();
    Spend(64);
  }
  void fill(GfxState* state) override { Fill(state, win::WINDING); }
  void eoFill(GfxState* state) override { Fill(state, win::ALTERNATE); }

  void clip(GfxState* state) override { Clip(state, win::WINDING); }
  void eoClip(GfxState* state) override { Clip(state, win::ALTERNATE); }
  void clipToStrokePath(GfxState* state) override {
    // The stroke's outline as the clip: the widened stroke path.
    Flush();
    if (!BuildPath(state)) return;
    SelectStrokePen(state);
    rec_.WidenPath();
    rec_.SelectClipPath(win::RGN_AND);
    Spend(64);
  }

  // ---- text ----
  void beginTextObject(GfxState*) override { clip_glyphs_ = false; }
  void endTextObject(GfxState*) override {
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

  void updateFont(GfxState*) override { Flush(); }

  void drawChar(GfxState* state, double x, double y, double dx, double dy, double originX, double originY,
                CharCode code, int nBytes, const Unicode* u, int uLen) override {
    (void)nBytes;
    neutralised_ = false;
    if (Hidden()) return;
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
      if (!DrawGlyphOutline(state, x - originX, y - originY, code)) Lost(u, uLen);
      return;
    }
    // A font no installed face draws, or characters no installed face has, are drawn from the
    // document's outlines; their text still goes into a run, one that draws nothing, so
    // whoever reads the page's text finds it. A glyph its program does not hold (or a program
    // FreeType cannot read) is drawn as text in a face of the same kind where one has its
    // characters, and counted as lost where none has.
    bool hidden = false;
    if (ForceOutline(font.get()) || !Drawable(u, uLen)) {
      hidden = DrawGlyphOutline(state, x - originX, y - originY, code);
      if (!hidden && !Drawable(u, uLen)) {
        Flush();
        Lost(u, uLen);
        return;
      }
    }
    AddGlyph(state, x - originX, y - originY, dx, dy, u, uLen, vertical, hidden, render);
  }

  // Takes a glyph's place (user space, origin applied), its advance, its characters and how
  // it is drawn; adds its text to the current run, or starts a new run for it.
  void AddGlyph(GfxState* state, double x, double y, double dx, double dy, const Unicode* u, int uLen, bool vertical,
                bool hidden, int render) {
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
      run_.vertical = vertical;
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

  // A Type 3 glyph is drawn by its own content, interpreted and recorded as drawing; its
  // characters go into a hidden run, so whoever reads the page's text finds them.
  bool beginType3Char(GfxState* state, double x, double y, double dx, double dy, CharCode, const Unicode* u,
                      int uLen) override {
    Flush();
    if (Hidden() || !state->getFont() || NoUnicode(u, uLen)) return false;
    const int render = state->getRender() & 7;
    if (render == 3 || render == 7) return false;
    fonts_.Meet(state->getFont());
    AddGlyph(state, x, y, dx, dy, u, uLen, state->getFont()->getWMode() == 1, true, render);
    Flush();
    return false;
  }

  // ---- images ----
  void drawImageMask(GfxState* state, Object*, Stream* str, int width, int height, bool invert, bool,
                     bool inlineImg) override {
    if (Hidden()) return SkipImage(str, width, height, 1, 1, inlineImg);
    Flush();
    if (DropAbsurd(str, width, height, 1, 1, inlineImg)) return;
    if (!ImageFits(width, height)) {
      SkipImage(str, width, height, 1, 1, inlineImg);
      return Picture(state, ImageBox(state));
    }
    if (NeedsPicture(state, state->getFillOpacity())) {
      SkipImage(str, width, height, 1, 1, inlineImg);
      return Picture(state, ImageBox(state));
    }
    GfxRGB rgb;
    state->getFillRGB(&rgb);
    const std::uint32_t r = colToByte(rgb.r), g = colToByte(rgb.g), b = colToByte(rgb.b);
    std::vector<std::uint32_t> px(static_cast<std::size_t>(width) * height);
    ImageStream img(str, width, 1, 1);
    img.reset();
    for (int y = 0; y < height; ++y) {
      const unsigned char* line = img.getLine();
      for (int x = 0; x < width; ++x) {
        const bool paint = line ? ((line[x] != 0) == invert) : false;
        // Premultiplied: the fill colour where the stencil paints, nothing elsewhere.
        px[static_cast<std::size_t>(y) * width + x] = paint ? (0xFF000000u | (r << 16) | (g << 8) | b) : 0;
      }
    }
    img.close();
    DrawBitmap(state, width, height, px, true);
  }

  void drawImage(GfxState* state, Object*, Stream* str, int width, int height, GfxImageColorMap* map, bool,
                 const int* maskColors, bool inlineImg) override {
    if (Hidden() || !map || !map->isOk())
      return SkipImage(str, width, height, map ? map->getNumPixelComps() : 1, map ? map->getBits() : 8, inlineImg);
    Flush();
    if (DropAbsurd(str, width, height, map->getNumPixelComps(), map->getBits(), inlineImg)) return;
    if (!ImageFits(width, height)) {
      SkipImage(str, width, height, map->getNumPixelComps(), map->getBits(), inlineImg);
      return Picture(state, ImageBox(state));
    }
    if (NeedsPicture(state, state->getFillOpacity())) {
      SkipImage(str, width, height, map->getNumPixelComps(), map->getBits(), inlineImg);
      return Picture(state, ImageBox(state));
    }
    std::vector<std::uint32_t> px;
    std::vector<std::uint8_t> alpha;
    ReadImage(str, width, height, map, maskColors, &px, maskColors ? &alpha : nullptr);
    if (maskColors) {
      ApplyAlpha(px, alpha);
      DrawBitmap(state, width, height, px, true);
    } else {
      DrawBitmap(state, width, height, px, false);
    }
  }

  void drawMaskedImage(GfxState* state, Object*, Stream* str, int width, int height, GfxImageColorMap* map, bool,
                       Stream* maskStr, int maskWidth, int maskHeight, bool maskInvert, bool) override {
    if (Hidden() || !map || !map->isOk()) return;
    Flush();
    if (DropAbsurd(str, width, height, 1, 1, false) || Absurd(maskWidth, maskHeight)) return;
    if (!ImageFits(width, height) || !ImageFits(maskWidth, maskHeight)) return Picture(state, ImageBox(state));
    if (NeedsPicture(state, state->getFillOpacity())) return Picture(state, ImageBox(state));
    std::vector<std::uint32_t> px;
    ReadImage(str, width, height, map, nullptr, &px, nullptr);
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(maskWidth) * maskHeight);
    ImageStream m(maskStr, maskWidth, 1, 1);
    m.reset();
    for (int y = 0; y < maskHeight; ++y) {
      const unsigned char* line = m.getLine();
      for (int x = 0; x < maskWidth; ++x)
        mask[static_cast<std::size_t>(y) * maskWidth + x] = line && ((line[x] != 0) != maskInvert) ? 255 : 0;
    }
    m.close();
    ApplyAlpha(px, Resample(mask, maskWidth, maskHeight, width, height));
    DrawBitmap(state, width, height, px, true);
  }

  void drawSoftMaskedImage(GfxState* state, Object*, Stream* str, int width, int height, GfxImageColorMap* map, bool,
                           Stream* maskStr, int maskWidth, int maskHeight, GfxImageColorMap* maskMap, bool) override {
    if (Hidden() || !map || !map->isOk() || !maskMap || !maskMap->isOk()) return;
    Flush();
    if (DropAbsurd(str, width, height, 1, 1, false) || Absurd(maskWidth, maskHeight)) return;
    if (!ImageFits(width, height) || !ImageFits(maskWidth, maskHeight)) return Picture(state, ImageBox(state));
    if (NeedsPicture(state, state->getFillOpacity())) return Picture(state, ImageBox(state));
    std::vector<std::uint32_t> px;
    ReadImage(str, width, height, map, nullptr, &px, nullptr);
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(maskWidth) * maskHeight);
    ImageStream m(maskStr, maskWidth, maskMap->getNumPixelComps(), maskMap->getBits());
    m.reset();
    for (int y = 0; y < maskHeight; ++y) {
      unsigned char* line = m.getLine();
      for (int x = 0; x < maskWidth; ++x) {
        GfxGray grey = 0;
        if (line) maskMap->getGray(line + x * maskMap->getNumPixelComps(), &grey);
        mask[static_cast<std::size_t>(y) * maskWidth + x] = colToByte(grey);
      }
    }
    m.close();
    ApplyAlpha(px, Resample(mask, maskWidth, maskHeight, width, height));
    DrawBitmap(state, width, height, px, true);
  }

  // ---- transparency ----
  // A group painted at full opacity in the normal blend mode without a soft mask draws the
  // same as its content drawn straight onto the page (the page group every cairo page has,
  // for one). Before any other group the interpreter resets the opacity, blend mode or soft
  // mask it is painted with: that reset marks a group whose area becomes a picture.
  void updateFillOpacity(GfxState* state) override { Neutralised(state->getFillOpacity() >= 0.999, &fill_alpha_); }
  void updateStrokeOpacity(GfxState* state) override {
    Neutralised(state->getStrokeOpacity() >= 0.999, &stroke_alpha_);
  }
  void updateBlendMode(GfxState* state) override { Neutralised(state->getBlendMode() == gfxBlendNormal, &blend_); }

  bool checkTransparencyGroup(GfxState*, bool) override { return true; }
  void beginTransparencyGroup(GfxState* state, const double* bbox, GfxColorSpace*, bool, bool knockout,
                              bool forSoftMask) override {
    Flush();
    const bool picture = !forSoftMask && (neutralised_ || knockout);
    neutralised_ = false;
    // A soft mask's group is no drawing at all; a group that needs a picture is drawn as
    // one once it is painted; any other group's content is drawn as it comes.
    groups_.push_back(forSoftMask || picture || hidden_ > 0);
    if (groups_.back()) {
      if (hidden_ == 0 && picture) group_box_ = BoxOf(state, bbox[0], bbox[1], bbox[2], bbox[3]);
      ++hidden_;
    }
  }
  void endTransparencyGroup(GfxState*) override {
    if (groups_.empty()) return;
    if (groups_.back() && hidden_ > 0) --hidden_;
    groups_.pop_back();
  }
  void paintTransparencyGroup(GfxState* state, const double*) override {
    if (hidden_ == 0 && group_box_) {
      const win::RECT box = *group_box_;
      group_box_.reset();
      Picture(state, box);
    }
  }
  void setSoftMask(GfxState*, const double*, bool, Function*, GfxColor*) override { current_.soft_mask = true; }
  void clearSoftMask(GfxState*) override {
    if (current_.soft_mask) neutralised_ = true;
    current_.soft_mask = false;
  }

  void endPage() override { Flush(); }

  bool Aborted() { return budget_.Exceeded(); }

 private:
  struct Glyph {
    double s = 0;        // place along the baseline from the run's origin, in ems
    double advance = 0;  // in ems
    std::u16string text;
  };
  struct Run {
    GfxFont* font = nullptr;
    win::COLORREF colour = 0;
    double m[4] = {1, 0, 0, -1};  // text space (ems) to device pixels
    double ox = 0, oy = 0;
    bool japanese = false;
    bool wide = false;
    bool vertical = false;
    bool hidden = false;  // the glyphs are drawn as outlines: the run carries only their text
    bool emboldened = false;
    std::vector<Glyph> glyphs;
  };
  struct Current {
    std::optional<gdi::Pen> pen;
    std::optional<gdi::Brush> brush;
    int fill_mode = 0;
    // The text font and colour are the DC's state too: a RestoreDC takes them back.
    std::optional<gdi::Font> font;
    std::optional<win::COLORREF> text_colour;
    bool soft_mask = false;  // drawing is under a soft mask (kept with the saved states, as poppler's own devices do)
  };

  // After a RestoreDC of the recorder's own: the selected objects are those of before.
  void ForgetObjects() {
    current_.pen.reset();
    current_.brush.reset();
    current_.fill_mode = 0;
    current_.font.reset();
    current_.text_colour.reset();
  }

  void Neutralised(bool neutral, bool* was_neutral) {
    if (neutral && !*was_neutral) neutralised_ = true;
    *was_neutral = neutral;
  }

  bool Hidden() const { return hidden_ > 0; }
  void Spend(std::size_t bytes) { budget_.bytes += bytes; }

  // Drawing that the records cannot express: constant alpha, blend modes, soft masks.
  bool NeedsPicture(GfxState* state, double opacity) const {
    return opacity < 0.999 || state->getBlendMode() != gfxBlendNormal || current_.soft_mask;
  }

  static double FontEmPixels(GfxState* state) {
    double m11, m12, m21, m22;
    state->getFontTransMat(&m11, &m12, &m21, &m22);
    return std::max(1.0, std::hypot(m21, m22));
  }

  win::COLORREF FillColour(GfxState* state) const {
    GfxRGB rgb;
    state->getFillRGB(&rgb);
    return Rgb(rgb);
  }

  // Text-space offset (ems along the baseline and across it) of a device offset.
  void TextSpace(double ddx, double ddy, double* s, double* t) const {
    const double* m = run_.m;
    const double det = m[0] * m[3] - m[1] * m[2];
    if (std::abs(det) < 1e-12) {
      *s = *t = 0;
      return;
    }
    *s = (ddx * m[3] - ddy * m[2]) / det;
    *t = (m[0] * ddy - m[1] * ddx) / det;
  }

  std::optional<win::RECT> BoxOf(GfxState* state, double x0, double y0, double x1, double y1) const {
    double xs[4], ys[4];
    state->transform(x0, y0, &xs[0], &ys[0]);
    state->transform(x1, y0, &xs[1], &ys[1]);
    state->transform(x0, y1, &xs[2], &ys[2]);
    state->transform(x1, y1, &xs[3], &ys[3]);
    return win::RECT{
        Clamp32(std::floor(*std::min_element(xs, xs + 4))), Clamp32(std::floor(*std::min_element(ys, ys + 4))),
        Clamp32(std::ceil(*std::max_element(xs, xs + 4))), Clamp32(std::ceil(*std::max_element(ys, ys + 4)))};
  }

  win::RECT PathBox(GfxState* state, double grow) const {
    const GfxPath* path = state->getPath();
    double l = 1e300, t = 1e300, r = -1e300, b = -1e300;
    for (int i = 0; path && i < path->getNumSubpaths(); ++i) {
      const GfxSubpath* sp = path->getSubpath(i);
      for (int j = 0; j < sp->getNumPoints(); ++j) {
        double x, y;
        state->transform(sp->getX(j), sp->getY(j), &x, &y);
        l = std::min(l, x);
        t = std::min(t, y);
        r = std::max(r, x);
        b = std::max(b, y);
      }
    }
    if (l > r) return win::RECT{0, 0, 0, 0};
    return win::RECT{Clamp32(std::floor(l - grow)), Clamp32(std::floor(t - grow)), Clamp32(std::ceil(r + grow)),
                     Clamp32(std::ceil(b + grow))};
  }
  win::RECT StrokeBox(GfxState* state) const {
    return PathBox(state, state->getTransformedLineWidth() * std::max(1.0, state->getMiterLimit()) / 2 + 1);
  }
  win::RECT ImageBox(GfxState* state) const { return BoxOf(state, 0, 0, 1, 1).value_or(win::RECT{}); }

  // The area of the page as poppler's rasteriser draws it, placed over the records; the
  // recorder's clip (the page's clip path) still applies.
  void Picture(GfxState* state, win::RECT box) {
    double cl, ct, cr, cb;
    state->getClipBBox(&cl, &ct, &cr, &cb);
    box.left = std::max(box.left, Clamp32(std::floor(cl)));
    box.top = std::max(box.top, Clamp32(std::floor(ct)));
    box.right = std::min(box.right, Clamp32(std::ceil(cr)));
    box.bottom = std::min(box.bottom, Clamp32(std::ceil(cb)));
    if (box.right <= box.left || box.bottom <= box.top) return;
    int w = 0, h = 0;
    auto dib = pictures_.Cut(box, &w, &h);
    if (!dib) return;
    const win::RECT at = pictures_.LastCutDevice();
    rec_.StretchDIBits(at.left, at.top, at.right - at.left, at.bottom - at.top, 0, 0, w, h, dib->ref(), win::SRCCOPY);
    ++stats_.area_pictures;
    Spend(dib->bits.size() + 120);
  }

  void Fill(GfxState* state, int mode) {
    neutralised_ = false;
    if (Hidden()) return;
    Flush();
    if (NeedsPicture(state, state->getFillOpacity())) return Picture(state, PathBox(state, 1));
    // Figures thinner than a pixel (the dots of a fine dotted rule) would each fill a whole
    // pixel, far darker than they are: their area is drawn as the rasteriser shows it.
    if (ThinFigures(state)) return Picture(state, PathBox(state, 1));
    if (!BuildPath(state)) return;
    SelectFillBrush(state);
    SetFillMode(mode);
    rec_.FillPath();
    Spend(64);
  }

  void Clip(GfxState* state, int mode) {
    Flush();
    if (!BuildPath(state)) {
      rec_.IntersectClipRect(0, 0, 0, 0);
      return;
    }
    SetFillMode(mode);
    rec_.SelectClipPath(win::RGN_AND);
    Spend(64);
  }

  void SetFillMode(int mode) {
    if (current_.fill_mode != mode) {
      rec_.SetPolyFillMode(mode);
      current_.fill_mode = mode;
    }
  }

  // True when every figure of the path is thinner than a pixel one way or the other.
  bool ThinFigures(GfxState* state) const {
    const GfxPath* path = state->getPath();
    if (!path || path->getNumSubpaths() == 0) return false;
    bool any = false;
    for (int i = 0; i < path->getNumSubpaths(); ++i) {
      const GfxSubpath* sp = path->getSubpath(i);
      if (sp->getNumPoints() == 0) continue;
      double l = 1e300, t = 1e300, r = -1e300, b = -1e300;
      for (int j = 0; j < sp->getNumPoints(); ++j) {
        double x, y;
        state->transform(sp->getX(j), sp->getY(j), &x, &y);
        l = std::min(l, x);
        t = std::min(t, y);
        r = std::max(r, x);
        b = std::max(b, y);
      }
      if (std::min(r - l, b - t) >= 1) return false;
      // A figure with no area (a line given as a fill) draws nothing either way.
      any = any || (r - l > 0 && b - t > 0);
    }
    return any;
  }

  void SelectFillBrush(GfxState* state) {
    gdi::Brush b = gdi::Brush::Solid(FillColour(state));
    if (!current_.brush || !(*current_.brush == b)) {
      rec_.SelectBrush(b);
      current_.brush = b;
    }
    // Fills draw no outline.
    gdi::Pen none;
    none.style = win::PS_NULL;
    if (!current_.pen || !(*current_.pen == none)) {
      rec_.SelectPen(none);
      current_.pen = none;
    }
  }
  void SelectBrushNull() {
    gdi::Brush b = gdi::Brush::Null();
    if (!current_.brush || !(*current_.brush == b)) {
      rec_.SelectBrush(b);
      current_.brush = b;
    }
  }

  void SelectStrokePen(GfxState* state) {
    GfxRGB rgb;
    state->getStrokeRGB(&rgb);
    gdi::Pen p;
    p.extended = true;
    p.color = Rgb(rgb);
    p.brush_style = win::BS_SOLID;
    const double w = state->getTransformedLineWidth();
    p.width = std::max<win::LONG>(1, Clamp32(w));
    win::UINT style = win::PS_GEOMETRIC;
    switch (state->getLineCap()) {
      case 1:
        style |= win::PS_ENDCAP_ROUND;
        break;
      case 2:
        style |= win::PS_ENDCAP_SQUARE;
        break;
      default:
        style |= win::PS_ENDCAP_FLAT;
        break;
    }
    switch (state->getLineJoin()) {
      case 1:
        style |= win::PS_JOIN_ROUND;
        break;
      case 2:
        style |= win::PS_JOIN_BEVEL;
        break;
      default:
        style |= win::PS_JOIN_MITER;
        break;
    }
    double start = 0;
    const std::vector<double>& dash = state->getLineDash(&start);
    bool any = false;
    for (double d : dash) any = any || d > 0;
    if (any && dash.size() <= 16) {
      // Dash lengths in device pixels (the user-space lengths scaled as the width is).
      const double scale = state->getLineWidth() > 0 ? w / state->getLineWidth() : state->transformWidth(1);
      std::vector<win::DWORD> entries;
      for (std::size_t i = 0; i < (dash.size() % 2 ? 2 : 1); ++i)
        for (double d : dash) entries.push_back(static_cast<win::DWORD>(std::max<long>(1, std::lround(d * scale))));
      p.style_entries = std::move(entries);
      style |= win::PS_USERSTYLE;
    } else {
      style |= win::PS_SOLID;
    }
    p.style = style;
    if (!current_.pen || !(*current_.pen == p)) {
      rec_.SelectPen(p);
      current_.pen = p;
    }
    rec_.SetMiterLimit(static_cast<float>(std::max(1.0, state->getMiterLimit())));
  }

  // The state's path as the recorder's current path; false when it has no points.
  bool BuildPath(GfxState* state) {
    const GfxPath* path = state->getPath();
    if (!path || path->getNumSubpaths() == 0) return false;
    std::vector<win::POINT> pts;
    std::vector<win::BYTE> types;
    for (int i = 0; i < path->getNumSubpaths(); ++i) {
      const GfxSubpath* sp = path->getSubpath(i);
      const int n = sp->getNumPoints();
      if (n <= 0) continue;
      auto at = [&](int j) {
        double x, y;
        state->transform(sp->getX(j), sp->getY(j), &x, &y);
        return win::POINT{Clamp32(x), Clamp32(y)};
      };
      pts.push_back(at(0));
      types.push_back(win::PT_MOVETO);
      for (int j = 1; j < n;) {
        if (sp->getCurve(j) && j + 2 < n) {
          for (int k = 0; k < 3; ++k) {
            pts.push_back(at(j + k));
            types.push_back(win::PT_BEZIERTO);
          }
          j += 3;
        } else {
          pts.push_back(at(j));
          types.push_back(win::PT_LINETO);
          ++j;
        }
      }
      if (sp->isClosed()) types.back() |= win::PT_CLOSEFIGURE;
    }
    if (pts.empty()) return false;
    rec_.BeginPath();
    EmitPoints(pts, types);
    rec_.EndPath();
    Spend(pts.size() * 5 + 40);
    return true;
  }

  void EmitPoints(const std::vector<win::POINT>& pts, const std::vector<win::BYTE>& types) {
    // One PolyDraw per figure keeps each record small and the path exact.
    std::size_t i = 0;
    while (i < pts.size()) {
      std::size_t j = i + 1;
      while (j < pts.size() && (types[j] & ~win::PT_CLOSEFIGURE) != win::PT_MOVETO) ++j;
      rec_.PolyDraw(std::span<const win::POINT>(pts.data() + i, j - i),
                    std::span<const win::BYTE>(types.data() + i, j - i));
      i = j;
    }
  }

  // ---- glyph outlines ----
  bool ForceOutline(GfxFont* font) {
    // An embedded font that no installed face draws draws from its own outlines.
    Ref id;
    return font->getEmbeddedFontID(&id) && InstalledFaceOf(font).empty();
  }

  // The installed face a font's text is drawn with: the one its name gives or, for an
  // embedded font whose name is made up (as subsetting tools do), the one its program names
  // itself; empty when neither is installed.
  const std::string& InstalledFaceOf(GfxFont* font) {
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

  // The face a font's name gives, without subset prefix and style; a name given in CP932
  // bytes (as Japanese applications write them) is read as such.
  static std::string NamedFace(GfxFont* font) {
    std::string face = FaceFromFontName(NameOf(font)).face;
    if (std::any_of(face.begin(), face.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
      auto u8 = codepage::Cp932ToUtf8(face);
      face = u8.ok() ? *u8 : std::string();
    }
    return face;
  }

  // A CID font of the identity ordering without a ToUnicode map: its codes are glyph numbers,
  // which poppler passes on as if they were characters.
  static bool CodesAreGlyphs(GfxFont* font) {
    if (!font->isCIDFont() || font->hasToUnicodeCMap()) return false;
    const GooString* coll = static_cast<GfxCIDFont*>(font)->getCollection();
    return coll && coll->toStr() == "Adobe-Identity";
  }

  static std::string NameOf(GfxFont* font) {
    if (font->getName()) return *font->getName();
    if (font->getFamily()) return font->getFamily()->toStr();
    return {};
  }

  GlyphOutlines* OutlinesOf(GfxState* state) {
    if (!state->getFont()) return nullptr;
    return OutlinesOf(fonts_.Meet(state->getFont()));
  }
  GlyphOutlines* OutlinesOf(GfxFont* font) {
    FontWork* work = fonts_.Find(font);
    return work ? OutlinesOf(*work) : nullptr;
  }
  GlyphOutlines* OutlinesOf(FontWork& work) {
    if (!work.outlines_loaded) {
      work.outlines = GlyphOutlines::Load(work.font.get(), fonts_.xref());
      work.outlines_loaded = true;
    }
    return work.outlines.get();
  }

  // The glyph's outline in device pixels, appended to `pts`/`types`.
  static constexpr int kSub = 16;

  bool GlyphPath(GfxState* state, double x, double y, CharCode code, std::vector<win::POINT>* pts,
                 std::vector<win::BYTE>* types, int sub = 1) {
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

  // Characters of a glyph that an installed face draws (as text, where fallback finds it).
  static bool Drawable(const Unicode* u, int n) {
    for (int i = 0; i < n; ++i)
      if (!InstalledFacesCover(static_cast<char32_t>(u[i]))) return false;
    return true;
  }

  // A glyph neither text nor outline draws: counted, its characters kept for the log.
  void Lost(const Unicode* u, int n) {
    ++stats_.lost_chars;
    if (stats_.lost_text.size() >= 32) return;
    if (NoUnicode(u, n)) {
      stats_.lost_text.push_back(u'\uFFFD');
    } else {
      for (int i = 0; i < n; ++i) AppendUtf16(stats_.lost_text, u[i]);
    }
  }

  // Draws the glyph from the document's own font program; false when the program has no
  // outline for it (a blank glyph, such as a space, is drawn as nothing).
  bool DrawGlyphOutline(GfxState* state, double x, double y, CharCode code) {
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

  void AddClipGlyph(GfxState* state, double x, double y, CharCode code) {
    const std::size_t before = clip_path_.size();
    GlyphPath(state, x, y, code, &clip_path_, &clip_types_);
    // Clipping text becomes records too: a page of it counts against the page's byte limit.
    Spend((clip_path_.size() - before) * 5);
  }

  // ---- text runs ----
  void SelectRunFont(double em_logical, int escapement = 0, bool slanted = false) {
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
    // Vertical writing names the face's vertical form, as applications do; each glyph is
    // drawn upright at its own place, so the player need not turn glyphs for it.
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

  // The face the font table gives a font of this name and kind (Japanese or not, serif,
  // fixed pitch) that no installed face draws; worked out once per font.
  std::string FallbackFace(GfxFont* font, bool japanese) {
    FontWork* work = fonts_.Find(font);
    if (!work) return ChooseFallbackFace(font, japanese, NamedFace(font));
    std::optional<std::string>& known = work->fallback_face[japanese ? 1 : 0];
    if (!known) known = ChooseFallbackFace(font, japanese, NamedFace(font));
    return *known;
  }
  static std::string ChooseFallbackFace(GfxFont* font, bool japanese, const std::string& face) {
    win::LOGFONTW lf =
        gdi::MakeLogFont(face, 0, win::FW_NORMAL, false, japanese ? win::SHIFTJIS_CHARSET : win::ANSI_CHARSET);
    lf.lfPitchAndFamily = static_cast<win::BYTE>((font->isFixedWidth() ? win::FIXED_PITCH : win::VARIABLE_PITCH) |
                                                 (font->isSerif() ? win::FF_ROMAN : win::FF_DONTCARE));
    return gdi::ChooseFont(lf).family;
  }

  static bool InstalledFace(const std::string& face);

  // One glyph's advance as the advances of the characters it stands for: a ligature ("fi",
  // "ffl") gives each letter an equal share, so its letters stand side by side rather than
  // on top of each other; a surrogate pair is one character.
  static void SpreadOverLetters(const std::u16string& text, int advance, std::vector<int>* dx) {
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

  void Flush() {
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
      SelectRunFont(along, escapement, std::abs(slant) >= 0.01);
      EmitWords(Clamp32(run_.ox), Clamp32(run_.oy), text, dx, along, run_.hidden, cs, -sn);
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
    SelectRunFont(em_logical);
    ShareByWidths(text, shared, &dx);
    EmitWords(x0, y0, text, dx, em_logical, run_.hidden);
    if (!upright) {
      rec_.RestoreDC(-1);
      // The saved state restored the font and colour selected before the run.
      ForgetObjects();
    }
    run_ = Run{};
  }

  // A glyph of several characters (a ligature) shares its advance among them by their widths in
  // the run's face, so each letter stands about where the face would put it.
  void ShareByWidths(const std::u16string& text, const std::vector<std::pair<std::size_t, std::size_t>>& shared,
                     std::vector<int>* dx) {
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

  // True when the face's own advances put every glyph of text[i, j) within a pixel (or a
  // hundredth of an em) of the place the document's advances give it: a kerning step of the
  // document (a fiftieth of an em is common) is kept, not rounded away.
  bool NaturalAdvances(const std::u16string& text, const std::vector<int>& dx, std::size_t i, std::size_t j,
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

  // The run as ExtTextOutW records that keep its words readable wherever the page's text is
  // read again (re-recorded text, a saved PDF): the whole run without advances when the
  // face's own advances place it (spaces stay in the text); otherwise word by word at the
  // document's places, each word without advances where its own glyphs allow, so the
  // spaces show as gaps between words rather than disappearing between glyphs.
  // Characters the capture library keeps as page text (its text records hold CP932): a
  // word mixing them with others is split, so that only the others become pixels there and
  // the rest of the word stays text.
  bool KeptAsText(char16_t c) {
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

  // (ux, uy): the baseline's direction in device pixels, for turned runs. A hidden run's
  // records are clipped to an empty rectangle: they draw nothing anywhere.
  void EmitWords(int x0, int y0, const std::u16string& text, const std::vector<int>& dx, double em, bool hidden,
                 double ux = 1, double uy = 0) {
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
      std::size_t j = i;
      const bool kept = KeptAsText(text[i]);
      while (j < text.size() && text[j] != u' ' && KeptAsText(text[j]) == kept) ++j;
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

  // The advance of one UTF-16 unit in the selected font, as the reference device measures
  // it (-1 when it cannot; a surrogate half measures nothing on its own).
  int NaturalAdvance(char16_t c) {
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

  // ---- bitmaps ----
  // An image is drawn from its own pixels when they stay within reason (32 M pixels) and the
  // page's byte limit; otherwise its area becomes a picture at no more than 300 dpi.
  bool ImageFits(int w, int h) const {
    if (w <= 0 || h <= 0 || w > 20000 || h > 20000) return false;
    const std::size_t pixels = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    return pixels <= (std::size_t{1} << 25) && budget_.bytes + 4 * pixels <= budget_.max_bytes;
  }
  // An image of more than 256 M pixels (what only a damaged file declares) is not drawn at
  // all: even poppler's own rasteriser would read every one of its pixels.
  static bool Absurd(int w, int h) { return static_cast<long long>(w) * h > (1LL << 28); }
  bool DropAbsurd(Stream* str, int w, int h, int comps, int bits, bool inlineImg) {
    if (!Absurd(w, h)) return false;
    SkipImage(str, w, h, comps, bits, inlineImg);
    ++stats_.dropped_images;
    return true;
  }

  void SkipImage(Stream* str, int width, int height, int comps, int bits, bool inlineImg) {
    // An inline image's bytes must be read past so the content stream goes on after them.
    if (!inlineImg || !str || width <= 0 || height <= 0) return;
    const long long bytes = (static_cast<long long>(width) * comps * bits + 7) / 8 * height;
    str->reset();
    for (long long i = 0; i < bytes && str->getChar() != EOF; ++i) {
    }
    str->close();
  }

  static void ReadImage(Stream* str, int width, int height, GfxImageColorMap* map, const int* maskColors,
                        std::vector<std::uint32_t>* px, std::vector<std::uint8_t>* alpha) {
    const int comps = map->getNumPixelComps();
    px->assign(static_cast<std::size_t>(width) * height, 0xFFFFFF);
    if (alpha) alpha->assign(px->size(), 255);
    ImageStream img(str, width, comps, map->getBits());
    img.reset();
    std::vector<unsigned int> line_rgb(width);
    for (int y = 0; y < height; ++y) {
      unsigned char* line = img.getLine();
      if (!line) break;
      std::uint32_t* row = px->data() + static_cast<std::size_t>(y) * width;
      map->getRGBLine(line, line_rgb.data(), width);
      for (int x = 0; x < width; ++x) row[x] = line_rgb[x] & 0xFFFFFF;
      if (alpha) {
        for (int x = 0; x < width; ++x) {
          bool keyed = true;
          for (int c = 0; c < comps; ++c) {
            const int v = line[x * comps + c];
            if (v < maskColors[2 * c] || v > maskColors[2 * c + 1]) keyed = false;
          }
          if (keyed) (*alpha)[static_cast<std::size_t>(y) * width + x] = 0;
        }
      }
    }
    img.close();
  }

  static std::vector<std::uint8_t> Resample(const std::vector<std::uint8_t>& a, int aw, int ah, int w, int h) {
    if (aw == w && ah == h) return a;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
      const int sy = static_cast<int>(static_cast<long long>(y) * ah / h);
      for (int x = 0; x < w; ++x) {
        const int sx = static_cast<int>(static_cast<long long>(x) * aw / w);
        out[static_cast<std::size_t>(y) * w + x] = a[static_cast<std::size_t>(sy) * aw + sx];
      }
    }
    return out;
  }

  static void ApplyAlpha(std::vector<std::uint32_t>& px, const std::vector<std::uint8_t>& alpha) {
    for (std::size_t i = 0; i < px.size() && i < alpha.size(); ++i) {
      const std::uint32_t a = alpha[i], p = px[i];
      const std::uint32_t r = ((p >> 16) & 0xFF) * a / 255, g = ((p >> 8) & 0xFF) * a / 255, b = (p & 0xFF) * a / 255;
      px[i] = (a << 24) | (r << 16) | (g << 8) | b;  // premultiplied, as AlphaBlend takes it
    }
  }

  // Places an image (top row first) on the unit square of the current transform: directly
  // when the square is an upright rectangle, else through a world transform.
  void DrawBitmap(GfxState* state, int width, int height, const std::vector<std::uint32_t>& px, bool alpha) {
    neutralised_ = false;
    const double* c = state->getCTM();
    const double w = width, h = height;
    // Image pixel (u, v), v down from the top row, to device: user (u/w, 1 - v/h).
    double e11 = c[0] / w, e12 = c[1] / w, e21 = -c[2] / h, e22 = -c[3] / h, edx = c[2] + c[4], edy = c[3] + c[5];
    const bool axis = std::abs(e12) < 1e-9 && std::abs(e21) < 1e-9 && e11 > 0 && e22 > 0;
    gdi::Dib dib = gdi::EncodeDib(width, height, px, alpha ? 32 : 24);
    ++stats_.images;
    Spend(dib.bits.size() + 120);
    int x = 0, y = 0, cx = width, cy = height;
    if (axis) {
      x = Clamp32(edx);
      y = Clamp32(edy);
      cx = Clamp32(edx + e11 * w) - x;
      cy = Clamp32(edy + e22 * h) - y;
      if (cx <= 0) cx = 1;
      if (cy <= 0) cy = 1;
    } else {
      rec_.SaveDC();
      rec_.SetGraphicsMode(win::GM_ADVANCED);
      rec_.SetWorldTransform(win::XFORM{static_cast<float>(e11), static_cast<float>(e12), static_cast<float>(e21),
                                        static_cast<float>(e22), static_cast<float>(edx), static_cast<float>(edy)});
    }
    if (alpha) {
      rec_.DibAlphaBlend(x, y, cx, cy, dib.ref(), 0, 0, width, height,
                         win::BLENDFUNCTION{win::AC_SRC_OVER, 0, 255, win::AC_SRC_ALPHA});
    } else {
      rec_.SetStretchBltMode(win::HALFTONE);
      rec_.StretchDIBits(x, y, cx, cy, 0, 0, width, height, dib.ref(), win::SRCCOPY);
    }
    if (!axis) {
      rec_.RestoreDC(-1);
      ForgetObjects();
    }
  }

 private:
  gdi::MetafileRecorder& rec_;
  Budget& budget_;
  AreaPictures& pictures_;
  PageStats& stats_;
  DocumentFonts& fonts_;
  std::unordered_map<char16_t, int>* widths_ = nullptr;  // of widths_font_
  win::LOGFONTW widths_font_{};
  Run run_;
  Current current_;
  std::vector<Current> saved_;
  int hidden_ = 0;
  std::vector<bool> groups_;  // per open group: its content is not drawn as records
  bool neutralised_ = false;
  bool fill_alpha_ = true, stroke_alpha_ = true, blend_ = true;
  std::optional<win::RECT> group_box_;
  bool clip_glyphs_ = false;
  std::vector<win::POINT> clip_path_;
  std::vector<win::BYTE> clip_types_;
};

bool RecordsDev::InstalledFace(const std::string& face) { return !face.empty() && gdi::FaceKnown(face); }

bool AbortCheck(void* data) { return static_cast<RecordsDev*>(data)->Aborted(); }

}  // namespace

FaceOfName FaceFromFontName(const std::string& name) {
  FaceOfName out;
  std::string n = name;
  // Subset prefix: six capital letters and "+".
  if (n.size() > 7 && n[6] == '+' && std::all_of(n.begin(), n.begin() + 6, [](char c) { return c >= 'A' && c <= 'Z'; }))
    n = n.substr(7);
  std::string style;
  const std::size_t cut = n.find_first_of("-,");
  if (cut != std::string::npos) {
    style = n.substr(cut + 1);
    n = n.substr(0, cut);
  }
  // PostScript names of the usual office faces carry a maker's suffix.
  for (const char* suffix : {"PSMT", "PS", "MT"}) {
    const std::size_t len = std::strlen(suffix);
    if (n.size() > len + 2 && n.compare(n.size() - len, len, suffix) == 0) {
      n = n.substr(0, n.size() - len);
      break;
    }
  }
  std::string lower = style;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  out.bold = lower.find("bold") != std::string::npos || lower.find("black") != std::string::npos ||
             lower.find("heavy") != std::string::npos;
  out.italic = lower.find("italic") != std::string::npos || lower.find("oblique") != std::string::npos;
  out.face = n;
  return out;
}

Status DrawPdf(const std::string& path, const VirtualPaper& paper, int resolution, const PageCallback& each,
               const Limits& limits, int sheet_orientation) {
  KeepPopplerParams();
  if (resolution <= 0 || resolution > 2400) return Status::InvalidArgument("resolution out of range");
  auto doc = std::make_unique<PDFDoc>(std::make_unique<GooString>(path));
  if (!doc->isOk()) return Status::InvalidArgument("cannot open " + path + ": not a readable PDF file");
  const int pages = doc->getNumPages();
  if (pages <= 0) return Status::InvalidArgument(path + " has no pages");
  // A page tree that reaches no page (a loop, kids that are no pages) is no document.
  bool any = false;
  for (int i = 0; i < pages && !any; ++i) any = doc->getPage(i + 1) != nullptr;
  if (!any) return Status::InvalidArgument(path + " has no readable page");
  DocumentFonts fonts(doc->getXRef());
  DocumentPictures document_pictures(doc.get());
  for (int i = 0; i < pages; ++i) {
    Page* page = doc->getPage(i + 1);
    if (!page) {
      Status s = each(i, Status::Corruption("page " + std::to_string(i + 1) + " cannot be read"));
      if (!s.ok()) return s;
      continue;
    }
    const int rotate = ((doc->getPageRotate(i + 1) % 360) + 360) % 360;
    double wpt = doc->getPageCropWidth(i + 1), hpt = doc->getPageCropHeight(i + 1);
    if (rotate == 90 || rotate == 270) std::swap(wpt, hpt);
    if (!(wpt > 0) || !(hpt > 0) || wpt > 14400 * 4 || hpt > 14400 * 4) {
      Status s = each(i, Status::InvalidArgument("page " + std::to_string(i + 1) + " has no usable size"));
      if (!s.ok()) return s;
      continue;
    }
    const PagePlacement placed = PlacePage(paper, resolution, wpt, hpt, sheet_orientation);
    const int orientation = placed.orientation;
    const int pw = placed.paper.width, pl = placed.paper.length;
    const int width = placed.width, height = placed.height;
    const double scale = placed.scale;

    gdi::MetafileRecorder::Options o;
    o.device = {width, height};
    o.millimeters = {std::max(1, pw / 10), std::max(1, pl / 10)};
    o.frame = win::RECTL{0, 0, pw * 10, pl * 10};
    // Measures text in the faces the player draws with, at the page's resolution.
    auto reference = gdi::MemoryBitmap::Create(8, 8, 24, resolution);
    if (reference.ok()) o.reference = &(*reference)->dc();
    gdi::MetafileRecorder rec(o);
    PageRecords out;
    out.index = i;
    out.orientation = orientation;
    Budget budget{limits.max_bytes, std::chrono::steady_clock::now() + limits.max_time};
    AreaPictures pictures(document_pictures, i, scale, BudgetCheck, &budget);
    RecordsDev dev(rec, budget, pictures, out.stats, fonts);
    doc->displayPageSlice(&dev, i + 1, 72.0 * scale, 72.0 * scale, 0, false, true, true, -1, -1, -1, -1, AbortCheck,
                          &dev);
    fonts.EndPage();
    Result<PageRecords> result = Status::Ok();
    if (budget.Exceeded()) {
      result = budget.over_bytes ? Status::Busy("page " + std::to_string(i + 1) + " exceeds the record limit")
                                 : Status::Timeout("page " + std::to_string(i + 1) + " takes too long to draw");
    } else {
      auto bytes = rec.Close();
      if (!bytes.ok()) {
        result = bytes.status();
      } else if (bytes->size() > limits.max_bytes) {
        result = Status::Busy("page " + std::to_string(i + 1) + " exceeds the record limit");
      } else {
        out.stats.records = rec.RecordCount();
        out.emf = std::move(*bytes);
        result = std::move(out);
      }
    }
    Status s = each(i, std::move(result));
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

}  // namespace zv::capture::pdfrecords
