// The one output device of the PDF converter: poppler's content-stream interpreter calls it
// for every drawing operation of a page, and it draws each as metafile recorder calls.
// Coordinates are the recorder's device pixels (MM_TEXT), where poppler's transform already
// puts them. The device's work is kept in units of its own, all behind this one class:
//   pdfrecords.cc         the device's state (saved and restored with the page's graphics
//                         state) and DrawPdf, which drives it page by page;
//   records_paths.cc      paths and clips: strokes, fills, clip paths, pens and brushes;
//   records_text.cc       text: glyphs gathered into runs of ExtTextOutW, the faces they are
//                         drawn in, glyph outlines of the document's own fonts, text as clip;
//   records_images.cc     images: the document's bitmaps, masks and their alpha;
//   records_pictures.cc   pictures: transparency groups, soft masks and the areas drawn by
//                         poppler's own rasteriser where the records cannot express them.
// Internal to the converter (capture/pdfrecords); nothing outside it includes this.
#pragma once

#include <GfxState.h>
#include <OutputDev.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "capture/pdfrecords/document_fonts.h"
#include "capture/pdfrecords/glyph_outlines.h"
#include "capture/pdfrecords/pdfrecords.h"
#include "platform/gdi/dib.h"
#include "platform/gdi/recorder/recorder.h"

class PDFDoc;
class SplashBitmap;
class SplashOutputDev;

namespace zv::capture::pdfrecords {

// Takes a value; gives it rounded to an int within +-1e9 (0 for NaN).
inline int Clamp32(double v) {
  if (!(v == v)) return 0;
  return static_cast<int>(std::lround(std::clamp(v, -1.0e9, 1.0e9)));
}

// Takes poppler's colour; gives it as a COLORREF.
inline win::COLORREF Rgb(const GfxRGB& c) {
  const unsigned r = colToByte(c.r), g = colToByte(c.g), b = colToByte(c.b);
  return static_cast<win::COLORREF>(r | (g << 8) | (b << 16));
}

// What a page may spend: its records' bytes and its time. The interpreter asks through
// Exceeded (also its abort check) and stops the page once either is spent.
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

// poppler's own rasteriser for the document being drawn as records: one for the whole
// document, so the fonts and glyphs it makes serve every page, drawing from the same open
// document the records are drawn from.
class DocumentPictures {
 public:
  // Takes the open document (it outlives this).
  explicit DocumentPictures(PDFDoc* doc);
  ~DocumentPictures();

  // Takes a page (0-based), its resolution and the page's limits; gives the whole page drawn,
  // valid until the next call, or null.
  SplashBitmap* Render(int page, double dpi, bool (*abort)(void*), void* abort_data);

 private:
  PDFDoc* doc_;
  std::unique_ptr<SplashOutputDev> out_;
};

// The whole page drawn by poppler's own rasteriser, for areas the records cannot express;
// made the first time a page needs one, at no more than 300 dpi.
class AreaPictures {
 public:
  // Takes the document's rasteriser, the page (0-based), the recorded page's device pixels
  // per point and the page's abort check.
  AreaPictures(DocumentPictures& pictures, int page, double scale_to_device, bool (*abort)(void*), void* abort_data)
      : pictures_(pictures), page_(page), abort_(abort), abort_data_(abort_data) {
    // Device pixels per point of the recorded page; the picture at up to 300 dpi.
    device_per_point_ = scale_to_device;
    picture_per_point_ = std::min(scale_to_device, 300.0 / 72.0);
  }

  // Gives the picture's pixels of the device rectangle as a 24-bit DIB, or none.
  std::optional<gdi::Dib> Cut(const win::RECT& device, int* cut_w, int* cut_h);
  // The device rectangle the last cut covers (its pixels' edges).
  win::RECT LastCutDevice() const {
    return {Clamp32(origin_l_), Clamp32(origin_t_), Clamp32(extent_r_), Clamp32(extent_b_)};
  }

 private:
  bool Ensure();

  DocumentPictures& pictures_;
  int page_;
  double device_per_point_ = 1, picture_per_point_ = 1;
  SplashBitmap* bitmap_ = nullptr;
  bool failed_ = false;
  bool (*abort_)(void*) = nullptr;  // the page's limits apply to its pictures too
  void* abort_data_ = nullptr;
  double origin_l_ = 0, origin_t_ = 0, extent_r_ = 0, extent_b_ = 0;
};

// The interpreter's drawing operations as recorder calls, for one page.
class RecordsDev final : public OutputDev {
 public:
  // ---- the device and its state (pdfrecords.cc) ----
  // Takes the page's recorder, its budget, its area pictures, the statistics to fill and the
  // document's font work; all outlive the device.
  RecordsDev(gdi::MetafileRecorder& rec, Budget& budget, AreaPictures& pictures, PageStats& stats, DocumentFonts& fonts)
      : rec_(rec), budget_(budget), pictures_(pictures), stats_(stats), fonts_(fonts) {
    rec_.SetBkMode(win::TRANSPARENT);
    rec_.SetTextAlign(win::TA_BASELINE | win::TA_LEFT);
    rec_.SetMapperFlags(0);
  }
  // What the device asks of the interpreter: device space with y down, text glyph by
  // glyph, Type 3 glyphs interpreted, all drawing, patterns as fills.
  bool upsideDown() override { return true; }
  bool useDrawChar() override { return true; }
  bool interpretType3Chars() override { return true; }
  bool needNonText() override { return true; }
  bool useTilingPatternFill() override { return false; }
  // Take and give back the recorder's state with the page's graphics state.
  void saveState(GfxState*) override;
  void restoreState(GfxState*) override;
  // Ends the page: the last text run is drawn.
  void endPage() override { Flush(); }
  // True once the page has spent its bytes or its time.
  bool Aborted() { return budget_.Exceeded(); }

  // ---- paths and clips (records_paths.cc) ----
  // Take the state's current path; draw it stroked or filled (nonzero winding or even-odd),
  // or intersect the clip with it (or with its stroke's outline).
  void stroke(GfxState* state) override;
  void fill(GfxState* state) override { Fill(state, win::WINDING); }
  void eoFill(GfxState* state) override { Fill(state, win::ALTERNATE); }
  void clip(GfxState* state) override { Clip(state, win::WINDING); }
  void eoClip(GfxState* state) override { Clip(state, win::ALTERNATE); }
  void clipToStrokePath(GfxState* state) override;

  // ---- text (records_text.cc) ----
  // Text objects: text in a clip render mode gathers its glyphs' outlines into the clip
  // path the object ends with. A change of font ends the current run; a new text matrix
  // (which the interpreter also reports as a font update) ends it only where the next glyph
  // does not continue it, which AddGlyph decides.
  void beginTextObject(GfxState*) override { clip_glyphs_ = false; }
  void endTextObject(GfxState*) override;
  void updateFont(GfxState* state) override {
    if (!state->getFont() || state->getFont().get() != run_.font) Flush();
  }
  // Takes one glyph as the interpreter shows it (its place, advance, origin, code and
  // characters); adds it to a run of text, draws it from its outline, or counts it lost.
  void drawChar(GfxState* state, double x, double y, double dx, double dy, double originX, double originY,
                CharCode code, int nBytes, const Unicode* u, int uLen) override;
  // Takes a glyph's place (user space, origin applied), its advance, its characters and how
  // it is drawn; adds its text to the current run, or starts a new run for it.
  void AddGlyph(GfxState* state, double x, double y, double dx, double dy, const Unicode* u, int uLen, bool vertical,
                bool hidden, int render);
  // A Type 3 glyph is drawn by its own content, interpreted and recorded as drawing; its
  // characters go into a hidden run, so whoever reads the page's text finds them.
  bool beginType3Char(GfxState* state, double x, double y, double dx, double dy, CharCode, const Unicode* u,
                      int uLen) override;

  // ---- images (records_images.cc) ----
  // Take an image (a stencil mask in the fill colour, an image with or without colour-key
  // mask, an image with a stencil or soft mask of its own) in the unit square of the
  // current transform; draw it from its own pixels, or its area as a picture.
  void drawImageMask(GfxState* state, Object*, Stream* str, int width, int height, bool invert, bool,
                     bool inlineImg) override;
  void drawImage(GfxState* state, Object*, Stream* str, int width, int height, GfxImageColorMap* map, bool,
                 const int* maskColors, bool inlineImg) override;
  void drawMaskedImage(GfxState* state, Object*, Stream* str, int width, int height, GfxImageColorMap* map, bool,
                       Stream* maskStr, int maskWidth, int maskHeight, bool maskInvert, bool) override;
  void drawSoftMaskedImage(GfxState* state, Object*, Stream* str, int width, int height, GfxImageColorMap* map, bool,
                           Stream* maskStr, int maskWidth, int maskHeight, GfxImageColorMap* maskMap, bool) override;

  // ---- transparency and pictures (records_pictures.cc) ----
  // A group painted at full opacity in the normal blend mode without a soft mask draws the
  // same as its content drawn straight onto the page (the page group every cairo page has,
  // for one). Before any other group the interpreter resets the opacity, blend mode or soft
  // mask it is painted with: that reset marks a group whose area becomes a picture.
  void updateFillOpacity(GfxState* state) override { Neutralised(state->getFillOpacity() >= 0.999, &fill_alpha_); }
  void updateStrokeOpacity(GfxState* state) override;
  void updateBlendMode(GfxState* state) override { Neutralised(state->getBlendMode() == gfxBlendNormal, &blend_); }
  bool checkTransparencyGroup(GfxState*, bool) override { return true; }
  // Groups and soft masks: a group that needs a picture is hidden while its content is
  // interpreted and its area drawn as a picture once it is painted.
  void beginTransparencyGroup(GfxState* state, const double* bbox, GfxColorSpace*, bool, bool knockout,
                              bool forSoftMask) override;
  void endTransparencyGroup(GfxState*) override;
  void paintTransparencyGroup(GfxState* state, const double*) override;
  void setSoftMask(GfxState*, const double*, bool, Function*, GfxColor*) override { current_.soft_mask = true; }
  void clearSoftMask(GfxState*) override;

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

  // ---- the device's state (pdfrecords.cc) ----
  // After a RestoreDC of the recorder's own: the selected objects are those of before.
  void ForgetObjects();
  bool Hidden() const { return hidden_ > 0; }
  void Spend(std::size_t bytes) { budget_.bytes += bytes; }
  // The fill colour of the state, as a COLORREF.
  win::COLORREF FillColour(GfxState* state) const;

  // ---- paths and clips (records_paths.cc) ----
  std::optional<win::RECT> BoxOf(GfxState* state, double x0, double y0, double x1, double y1) const;
  win::RECT PathBox(GfxState* state, double grow) const;
  win::RECT StrokeBox(GfxState* state) const;
  void Fill(GfxState* state, int mode);
  void Clip(GfxState* state, int mode);
  void SetFillMode(int mode);
  // True when every figure of the path is thinner than a pixel one way or the other.
  bool ThinFigures(GfxState* state) const;
  void SelectFillBrush(GfxState* state);
  void SelectBrushNull();
  void SelectStrokePen(GfxState* state);
  // The state's path as the recorder's current path; false when it has no points.
  bool BuildPath(GfxState* state);
  void EmitPoints(const std::vector<win::POINT>& pts, const std::vector<win::BYTE>& types);

  // ---- text (records_text.cc) ----
  static double FontEmPixels(GfxState* state);
  // Text-space offset (ems along the baseline and across it) of a device offset.
  void TextSpace(double ddx, double ddy, double* s, double* t) const;
  // An embedded font that no installed face draws draws from its own outlines.
  bool ForceOutline(GfxFont* font);
  // The installed face a font's text is drawn with: the one its name gives or, for an
  // embedded font whose name is made up (as subsetting tools do), the one its program names
  // itself; empty when neither is installed.
  const std::string& InstalledFaceOf(GfxFont* font);
  // The face a font's name gives, without subset prefix and style; a name given in CP932
  // bytes (as Japanese applications write them) is read as such.
  static std::string NamedFace(GfxFont* font);
  // A CID font of the identity ordering without a ToUnicode map: its codes are glyph numbers,
  // which poppler passes on as if they were characters.
  static bool CodesAreGlyphs(GfxFont* font);
  static std::string NameOf(GfxFont* font);
  GlyphOutlines* OutlinesOf(GfxState* state);
  GlyphOutlines* OutlinesOf(GfxFont* font);
  GlyphOutlines* OutlinesOf(FontWork& work);
  // The glyph's outline in device pixels, appended to `pts`/`types`.
  static constexpr int kSub = 16;
  bool GlyphPath(GfxState* state, double x, double y, CharCode code, std::vector<win::POINT>* pts,
                 std::vector<win::BYTE>* types, int sub = 1);
  // Characters of a glyph that an installed face draws (as text, where fallback finds it).
  static bool Drawable(const Unicode* u, int n);
  // A glyph neither text nor outline draws: counted, its characters kept for the log.
  void Lost(const Unicode* u, int n, CharCode code);
  // Draws the glyph from the document's own font program; false when the program has no
  // outline for it (a blank glyph, such as a space, is drawn as nothing).
  bool DrawGlyphOutline(GfxState* state, double x, double y, CharCode code);
  void AddClipGlyph(GfxState* state, double x, double y, CharCode code);
  void SelectRunFont(double em_logical, int escapement = 0, bool slanted = false);
  // The face the font table gives a font of this name and kind (Japanese or not, serif,
  // fixed pitch) that no installed face draws; worked out once per font.
  std::string FallbackFace(GfxFont* font, bool japanese);
  static std::string ChooseFallbackFace(GfxFont* font, bool japanese, const std::string& face);
  // One glyph's advance as the advances of the characters it stands for: a ligature ("fi",
  // "ffl") gives each letter an equal share, so its letters stand side by side rather than
  // on top of each other; a surrogate pair is one character.
  static void SpreadOverLetters(const std::u16string& text, int advance, std::vector<int>* dx);
  void Flush();
  // A glyph of several characters (a ligature) shares its advance among them by their widths in
  // the run's face, so each letter stands about where the face would put it.
  void ShareByWidths(const std::u16string& text, const std::vector<std::pair<std::size_t, std::size_t>>& shared,
                     std::vector<int>* dx);
  // True when the face's own advances put every glyph of text[i, j) within a pixel (or a
  // hundredth of an em) of the place the document's advances give it: a kerning step of the
  // document (a fiftieth of an em is common) is kept, not rounded away.
  bool NaturalAdvances(const std::u16string& text, const std::vector<int>& dx, std::size_t i, std::size_t j, double em);
  // Characters the capture library keeps as page text (its text records hold CP932): a
  // word mixing them with others is split, so that only the others become pixels there and
  // the rest of the word stays text.
  bool KeptAsText(char16_t c);
  // The run as ExtTextOutW records that keep its words readable wherever the page's text is
  // read again (re-recorded text, a saved PDF): the whole run without advances when the
  // face's own advances place it (spaces stay in the text); otherwise word by word at the
  // document's places, each word without advances where its own glyphs allow, so the
  // spaces show as gaps between words rather than disappearing between glyphs.
  // (ux, uy): the baseline's direction in device pixels, for turned runs. A hidden run's
  // records are clipped to an empty rectangle: they draw nothing anywhere.
  void EmitWords(int x0, int y0, const std::u16string& text, const std::vector<int>& dx, double em, bool hidden,
                 double ux = 1, double uy = 0);
  // The advance of one UTF-16 unit in the selected font, as the reference device measures
  // it (-1 when it cannot; a surrogate half measures nothing on its own).
  int NaturalAdvance(char16_t c);
  static bool InstalledFace(const std::string& face);

  // ---- images (records_images.cc) ----
  win::RECT ImageBox(GfxState* state) const { return BoxOf(state, 0, 0, 1, 1).value_or(win::RECT{}); }
  // An image is drawn from its own pixels when they stay within reason (32 M pixels) and the
  // page's byte limit; otherwise its area becomes a picture at no more than 300 dpi.
  bool ImageFits(int w, int h) const;
  // An image of more than 256 M pixels and 256 MiB of samples (what only a damaged file
  // declares) is not drawn at all: even poppler's own rasteriser would read every one of its
  // pixels. A 1-bit image is bounded by its bits: an A1 drawing at 600 dpi is 35 MB of them.
  static bool Absurd(int w, int h, int comps = 1, int bits = 8) {
    const long long pixels = static_cast<long long>(w) * h;
    return pixels > (1LL << 28) && pixels / 8 * std::max(1, comps) * std::max(1, bits) > (1LL << 28);
  }
  // A 1-bit image too large for 32-bit pixels (ImageFits) whose bits fit the page's budget,
  // drawn without transparency: drawn as a 1-bit bitmap of the two colours given (index 0
  // for a sample of 0) with the raster operation given, its bits read straight into it.
  bool OneBitFits(GfxState* state, int w, int h) const;
  void DrawOneBit(GfxState* state, Stream* str, int width, int height, const std::uint32_t colours[2], win::DWORD rop);
  static std::size_t OneBitStride(int w) { return (static_cast<std::size_t>(w) + 31) / 32 * 4; }
  // The raster operation that selects the brush where the source is white and keeps the page
  // where it is black (a stencil of another colour than black).
  static constexpr win::DWORD kBrushWhereSource = 0x00E20746;
  bool DropAbsurd(Stream* str, int w, int h, int comps, int bits, bool inlineImg);
  // An image the records do not take: one of absurd size is dropped, one too large for the
  // records or drawn with transparency becomes a picture of its area (an inline image's
  // bytes read past either way). True when the image was dealt with so.
  bool NotAsRecords(GfxState* state, Stream* str, int width, int height, int comps, int bits, bool inlineImg);
  // An image with a mask of its own (a stencil mask or a soft mask, of any size): its pixels
  // drawn with the mask's values, resampled to the image's size, as their alpha; or its area
  // as a picture where the records cannot hold it. `read_mask` fills the mask's values
  // (maskWidth x maskHeight, top row first).
  void DrawMasked(GfxState* state, Stream* str, int width, int height, GfxImageColorMap* map, int maskWidth,
                  int maskHeight, const std::function<void(std::vector<std::uint8_t>& mask)>& read_mask);
  void SkipImage(Stream* str, int width, int height, int comps, int bits, bool inlineImg);
  static void ReadImage(Stream* str, int width, int height, GfxImageColorMap* map, const int* maskColors,
                        std::vector<std::uint32_t>* px, std::vector<std::uint8_t>* alpha);
  static std::vector<std::uint8_t> Resample(const std::vector<std::uint8_t>& a, int aw, int ah, int w, int h);
  static void ApplyAlpha(std::vector<std::uint32_t>& px, const std::vector<std::uint8_t>& alpha);
  // Places an image (top row first) on the unit square of the current transform: directly
  // when the square is an upright rectangle, else through a world transform.
  void DrawBitmap(GfxState* state, int width, int height, const std::vector<std::uint32_t>& px, bool alpha);
  // Calls `draw` with the device rectangle of the unit square, under a world transform when
  // the square is not an upright rectangle.
  void PlaceImage(GfxState* state, int width, int height,
                  const std::function<void(int x, int y, int cx, int cy)>& draw);

  // ---- pictures (records_pictures.cc) ----
  void Neutralised(bool neutral, bool* was_neutral);
  // Drawing that the records cannot express: constant alpha, blend modes, soft masks.
  bool NeedsPicture(GfxState* state, double opacity) const;
  // Takes a figure (device points, nonzero winding or even-odd), its colour space, colour and
  // opacity and its box; draws it as a blend of one pixel of the colour at that opacity
  // through the figure as clip. False where that cannot express it (blend modes, soft masks,
  // patterns): a picture then.
  bool Translucent(GfxState* state, GfxColorSpace* space, const GfxRGB& rgb, double opacity,
                   const std::vector<win::POINT>& pts, const std::vector<win::BYTE>& types, int mode, win::RECT box);
  // The outline of the state's stroke: a quadrilateral of its width per segment of the
  // flattened path, all turning the same way (their nonzero-winding union).
  void StrokeOutline(GfxState* state, std::vector<win::POINT>* pts, std::vector<win::BYTE>* types) const;
  // The state's path in device points, as PolyDraw takes them.
  void PathPoints(GfxState* state, std::vector<win::POINT>* pts, std::vector<win::BYTE>* types) const;
  // The area of the page as poppler's rasteriser draws it, placed over the records; the
  // recorder's clip (the page's clip path) still applies.
  void Picture(GfxState* state, win::RECT box);
  // Takes a device box; gives it cut to the state's clip box.
  static win::RECT WithinClip(GfxState* state, win::RECT box);
  // Takes the device box of drawing hidden inside a group drawn as a picture; the picture
  // covers the boxes of its content (within the clip), and a group that draws nothing is
  // no picture.
  void Ink(GfxState* state, win::RECT box);

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
  std::optional<win::RECT> group_ink_;  // what the group drawn as a picture draws
  std::vector<bool> soft_groups_;       // per open group: it is a soft mask's
  int soft_depth_ = 0;
  bool clip_glyphs_ = false;
  std::vector<win::POINT> clip_path_;
  std::vector<win::BYTE> clip_types_;
};

}  // namespace zv::capture::pdfrecords
