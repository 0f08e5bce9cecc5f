// Private: the device context that draws on a cairo image surface. Surfaces (surfaces.h) make
// one for their pixels; users see only the DeviceContext interface.
#pragma once

#include <cairo.h>

#include <memory>
#include <vector>

#include "platform/gdi/dc.h"

namespace zv::gdi::detail {

// A path in device pixels (after all transforms), as cairo takes it.
struct PathOp {
  enum Kind { kMove, kLine, kCurve, kClose } kind;
  double x[3], y[3];
};
using Path = std::vector<PathOp>;

// Takes a COLORREF (0x00BBGGRR); gives the pixel value 0x00RRGGBB.
inline std::uint32_t ToRgb(COLORREF c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }

// Appends a device path to cairo's current path.
void AppendPath(cairo_t* cr, const Path& p);

// Takes a slot number; the text the calling thread draws from now on uses the faces and font
// layouts of that slot (slots wrap around a small number), so that threads drawing much text
// at once, each in a slot of its own, do not take turns on shared fonts. Slot 0 is every
// thread's at first.
void UseFontSlot(unsigned slot);

// What the device looks like (for GetDeviceCaps).
struct DeviceInfo {
  int width = 0;  // pixels of the whole device (page)
  int height = 0;
  double dpi_x = 96;
  double dpi_y = 96;
  int technology = win::DT_RASDISPLAY;
  int bits_pixel = 32;
};

struct DcState {
  int map_mode = win::MM_TEXT;
  POINT wnd_org{0, 0};
  SIZE wnd_ext{1, 1};
  POINT vp_org{0, 0};
  SIZE vp_ext{1, 1};
  XFORM world{1, 0, 0, 1, 0, 0};
  XFORM base{1, 0, 0, 1, 0, 0};
  int graphics_mode = int(win::GM_COMPATIBLE);
  // The device the fixed map modes measure against; zero: this device itself.
  SIZE ref_pixels{0, 0};
  SIZE ref_millimeters{0, 0};
  COLORREF text_color = 0;
  COLORREF bk_color = 0xFFFFFF;
  int bk_mode = win::OPAQUE;
  win::UINT text_align = 0;
  int rop2 = win::R2_COPYPEN;
  int fill_mode = win::ALTERNATE;
  int stretch_mode = win::BLACKONWHITE;
  int arc_dir = win::AD_COUNTERCLOCKWISE;
  float miter = 10.0f;
  POINT brush_org{0, 0};
  win::DWORD mapper_flags = 0;
  int just_extra = 0, just_breaks = 0;
  Pen pen{win::PS_SOLID, 0, 0};
  Brush brush = Brush::Solid(0xFFFFFF);
  Font font;
  POINT cp{0, 0};
  std::optional<Region> clip;
  std::optional<Region> meta;
  // Path bracket: open between BeginPath and EndPath; `path_done` after EndPath.
  bool path_open = false;
  bool path_done = false;
  Path path;
};

class CairoDC final : public DeviceContext {
 public:
  // Draws on `surface` (an image surface, RGB24 or ARGB32, or a vector surface of
  // info.width x info.height units; a reference is taken). An image surface shows the device
  // pixels from (origin_x, origin_y) on: a band of a larger page.
  CairoDC(cairo_surface_t* surface, DeviceInfo info, int origin_x = 0, int origin_y = 0);
  ~CairoDC() override;

  // Turns drawing off (the state still changes and queries are answered).
  void set_draw_enabled(bool on) { draw_ = on; }
  // Draws only text, and that without ink (as the invisible text calls draw it): the text of
  // a page whose ink is drawn otherwise (as pictures), kept for readers of a PDF.
  void set_text_only(bool on) {
    text_only_ = on;
    draw_ = !on;
  }
  // The device pixels the last text call could have drawn on (its glyphs with room for their
  // overhangs, its opaque box), drawing on or off; none when not known (text that moves the
  // current position included). Lets a caller replaying calls skip text far from its pixels.
  const std::optional<RECT>& last_text_bounds() const { return text_bounds_; }
  cairo_surface_t* surface() const { return surface_; }
  const DeviceInfo& info() const { return info_; }
  // Moves the band this context draws on (for band-by-band replay).
  void SetOrigin(int x, int y) {
    origin_x_ = x;
    origin_y_ = y;
  }

  int GetDeviceCaps(int index) const override;
  int SaveDC() override;
  bool RestoreDC(int level) override;
  int SetMapMode(int mode) override;
  int GetMapMode() const override { return s_.map_mode; }
  bool SetWindowOrgEx(int x, int y, POINT* old) override;
  bool SetWindowExtEx(int cx, int cy, SIZE* old) override;
  bool SetViewportOrgEx(int x, int y, POINT* old) override;
  bool SetViewportExtEx(int cx, int cy, SIZE* old) override;
  bool OffsetWindowOrgEx(int dx, int dy, POINT* old) override;
  bool OffsetViewportOrgEx(int dx, int dy, POINT* old) override;
  bool ScaleWindowExtEx(int xn, int xd, int yn, int yd, SIZE* old) override;
  bool ScaleViewportExtEx(int xn, int xd, int yn, int yd, SIZE* old) override;
  POINT GetWindowOrgEx() const override { return s_.wnd_org; }
  SIZE GetWindowExtEx() const override;
  POINT GetViewportOrgEx() const override { return s_.vp_org; }
  SIZE GetViewportExtEx() const override;
  bool SetWorldTransform(const XFORM& xf) override;
  bool ModifyWorldTransform(const XFORM& xf, win::DWORD mode) override;
  XFORM GetWorldTransform() const override { return s_.world; }
  int SetGraphicsMode(int mode) override;
  int GetGraphicsMode() const override { return s_.graphics_mode; }
  void LPtoDP(std::span<POINT> pts) const override;
  void DPtoLP(std::span<POINT> pts) const override;

  COLORREF SetTextColor(COLORREF c) override { return std::exchange(s_.text_color, c & 0xFFFFFF); }
  COLORREF GetTextColor() const override { return s_.text_color; }
  COLORREF SetBkColor(COLORREF c) override { return std::exchange(s_.bk_color, c & 0xFFFFFF); }
  COLORREF GetBkColor() const override { return s_.bk_color; }
  int SetBkMode(int mode) override;
  int GetBkMode() const override { return s_.bk_mode; }
  win::UINT SetTextAlign(win::UINT align) override { return std::exchange(s_.text_align, align); }
  win::UINT GetTextAlign() const override { return s_.text_align; }
  int SetROP2(int rop2) override;
  int GetROP2() const override { return s_.rop2; }
  int SetPolyFillMode(int mode) override;
  int GetPolyFillMode() const override { return s_.fill_mode; }
  int SetStretchBltMode(int mode) override { return std::exchange(s_.stretch_mode, mode); }
  int GetStretchBltMode() const override { return s_.stretch_mode; }
  int SetArcDirection(int dir) override;
  int GetArcDirection() const override { return s_.arc_dir; }
  bool SetMiterLimit(float limit, float* old) override;
  bool SetBrushOrgEx(int x, int y, POINT* old) override;
  win::DWORD SetMapperFlags(win::DWORD flags) override { return std::exchange(s_.mapper_flags, flags); }
  bool SetTextJustification(int extra, int breaks) override;

  Pen SelectPen(const Pen& pen) override { return std::exchange(s_.pen, pen); }
  Brush SelectBrush(const Brush& brush) override { return std::exchange(s_.brush, brush); }
  Font SelectFont(const Font& font) override { return std::exchange(s_.font, font); }
  bool SelectStockObject(int index) override;
  Pen GetCurrentPen() const override { return s_.pen; }
  Brush GetCurrentBrush() const override { return s_.brush; }
  Font GetCurrentFont() const override { return s_.font; }

  bool MoveToEx(int x, int y, POINT* old) override;
  POINT GetCurrentPositionEx() const override { return s_.cp; }
  bool LineTo(int x, int y) override;
  bool Polyline(std::span<const POINT> pts) override;
  bool PolylineTo(std::span<const POINT> pts) override;
  bool Polygon(std::span<const POINT> pts) override;
  bool PolyPolygon(std::span<const POINT> pts, std::span<const win::DWORD> counts) override;
  bool PolyPolyline(std::span<const POINT> pts, std::span<const win::DWORD> counts) override;
  bool PolyBezier(std::span<const POINT> pts) override;
  bool PolyBezierTo(std::span<const POINT> pts) override;
  bool PolyDraw(std::span<const POINT> pts, std::span<const win::BYTE> types) override;
  bool Rectangle(int left, int top, int right, int bottom) override;
  bool RoundRect(int left, int top, int right, int bottom, int cx, int cy) override;
  bool Ellipse(int left, int top, int right, int bottom) override;
  bool Arc(const RECT& box, int xs, int ys, int xe, int ye) override;
  bool ArcTo(const RECT& box, int xs, int ys, int xe, int ye) override;
  bool Chord(const RECT& box, int xs, int ys, int xe, int ye) override;
  bool Pie(const RECT& box, int xs, int ys, int xe, int ye) override;
  bool AngleArc(int x, int y, win::DWORD radius, float start_deg, float sweep_deg) override;
  bool SetPixelV(int x, int y, COLORREF c) override;
  COLORREF GetPixel(int x, int y) const override;

  bool FillRgn(const Region& rgn, const Brush& brush) override;
  bool FrameRgn(const Region& rgn, const Brush& brush, int w, int h) override;
  bool InvertRgn(const Region& rgn) override;
  bool PaintRgn(const Region& rgn) override;

  bool BeginPath() override;
  bool EndPath() override;
  bool AbortPath() override;
  bool CloseFigure() override;
  bool FillPath() override;
  bool StrokePath() override;
  bool StrokeAndFillPath() override;
  bool FlattenPath() override;
  bool WidenPath() override;
  bool SelectClipPath(int mode) override;

  int ExtSelectClipRgn(const Region* rgn, int mode) override;
  int IntersectClipRect(int left, int top, int right, int bottom) override;
  int ExcludeClipRect(int left, int top, int right, int bottom) override;
  int OffsetClipRgn(int dx, int dy) override;
  int SetMetaRgn() override;
  int GetClipBox(RECT* box) const override;
  // The bounds of what drawing may reach: the clip and meta regions within the page, in
  // device pixels.
  RECT DeviceClipBox() const;
  std::optional<Region> GetClipRgn() const override { return s_.clip; }

  bool ExtTextOutW(int x, int y, win::UINT options, const RECT* rect, std::u16string_view text,
                   std::span<const int> dx) override;
  bool ExtTextOutA(int x, int y, win::UINT options, const RECT* rect, std::string_view text,
                   std::span<const int> dx) override;
  bool InvisibleTextOutA(int x, int y, win::UINT options, const RECT* rect, std::string_view text,
                         std::span<const int> dx) override;
  bool InvisibleTextOutW(int x, int y, win::UINT options, const RECT* rect, std::u16string_view text,
                         std::span<const int> dx) override;
  bool GetTextMetricsW(win::TEXTMETRICW* tm) const override;
  bool GetTextExtentPoint32W(std::u16string_view text, SIZE* size) const override;
  bool GetTextExtentPoint32A(std::string_view text, SIZE* size) const override;
  std::string GetTextFace() const override;

  bool PatBlt(int x, int y, int cx, int cy, win::DWORD rop) override;
  bool BitBlt(int x, int y, int cx, int cy, const DeviceContext* src, int xs, int ys, win::DWORD rop) override;
  bool StretchBlt(int x, int y, int cx, int cy, const DeviceContext* src, int xs, int ys, int cxs, int cys,
                  win::DWORD rop) override;
  bool StretchDIBits(int x, int y, int cx, int cy, int xs, int ys, int cxs, int cys, const DibRef& dib,
                     win::DWORD rop) override;
  bool SetDIBitsToDevice(int x, int y, int cx, int cy, int xs, int ys, win::UINT start, win::UINT lines,
                         const DibRef& dib) override;
  bool MaskBlt(int x, int y, int cx, int cy, const DeviceContext* src, int xs, int ys, const DibRef* mask, int xm,
               int ym, win::DWORD rop4) override;
  bool AlphaBlend(int x, int y, int cx, int cy, const DeviceContext* src, int xs, int ys, int cxs, int cys,
                  win::BLENDFUNCTION blend) override;
  bool DibBlt(int x, int y, int cx, int cy, const DibRef* src, int xs, int ys, int cxs, int cys,
              win::DWORD rop) override;
  bool DibMaskBlt(int x, int y, int cx, int cy, const DibRef* src, int xs, int ys, const DibRef* mask, int xm, int ym,
                  win::DWORD rop4) override;
  bool DibAlphaBlend(int x, int y, int cx, int cy, const DibRef& src, int xs, int ys, int cxs, int cys,
                     win::BLENDFUNCTION blend) override;
  std::optional<Dib> ReadPixels(const RECT& rect) const override;

  bool GdiComment(std::span<const std::uint8_t>) override { return true; }
  void SetBaseTransform(const XFORM& xf) override { s_.base = xf; }
  XFORM GetBaseTransform() const override { return s_.base; }
  void SetReferenceDevice(SIZE pixels, SIZE millimeters) override;

 private:
  struct Source;  // the pixels of a blit source, decoded
  struct TextLayout;
  // Runs `draw` (a text call) into a group painted through a mask of no coverage.
  template <typename Draw>
  bool Invisibly(Draw draw);
  // Runs `draw` (an invisible text call) with drawing on, in a context that draws only text.
  template <typename Draw>
  bool TextOnly(Draw draw);

  // Logical -> device transform (world, page, base).
  XFORM Total() const;
  XFORM PageXform() const;
  void Xf(double x, double y, double* dx, double* dy) const;
  void FixIsotropic();
  // The fixed map modes' device: its size in pixels and in millimetres.
  void FixedModeDevice(double* px_w, double* px_h, double* mm_w, double* mm_h) const;
  Region DeviceRect(int l, int t, int r, int b) const;  // a logical rectangle in device pixels
  Region SurfaceRegion() const;
  Region EffectiveClip() const;
  bool AxisAligned() const;
  // True when a path is being built and its last figure is open (no move needed).
  bool ContinuesFigure() const { return s_.path_open && !s_.path.empty() && s_.path.back().kind != PathOp::kClose; }

  // Geometry: appends figures (device pixels) to `p`.
  void AddPolyline(Path& p, std::span<const POINT> pts, bool close, bool move_first) const;
  void AddArcPoints(Path& p, double cx, double cy, double rx, double ry, double a0, double sweep,
                    bool line_to_start) const;
  bool ArcAngles(const RECT& box, int xs, int ys, int xe, int ye, double* a0, double* sweep) const;
  void AddRectPath(Path& p, double l, double t, double r, double b) const;  // logical
  void AddRoundRectPath(Path& p, double l, double t, double r, double b, double cx, double cy) const;
  void AddEllipsePath(Path& p, double l, double t, double r, double b) const;

  // Draws or collects a shape: `fill` (closed figures) and `stroke` (outline) paths.
  bool DrawShape(const Path& fill, const Path& stroke, bool do_fill, bool do_stroke);
  // Renders with the current ROP2 and clip.
  void Render(const Path& path, bool fill, const Brush* brush, const Pen* pen, const Region* extra_clip = nullptr);
  // (ox, oy): the device pixel at the cairo surface's origin.
  void SetBrushSource(cairo_t* cr, const Brush& b, double ox, double oy) const;
  void SetPenStyle(cairo_t* cr, const Pen& p) const;
  double PenDeviceWidth(const Pen& p) const;
  bool PenIsCosmetic(const Pen& p) const;
  // True for a PS_INSIDEFRAME pen that must be kept inside the box of a box shape: a
  // geometric pen wider than a pixel.
  bool PenInsideFrame(const Pen& p) const;
  // The box a box shape is drawn on: the given one, shrunk by half the pen's width for an
  // inside-frame pen (logical units). False when the pen is not such a pen.
  bool InsideFrameBox(double* l, double* t, double* r, double* b) const;
  // Draws a box shape's fill and outline, clipped to the logical box (l, t, r, b) when the
  // pen is an inside-frame pen.
  bool DrawBoxShape(const Path& fill, const Path& stroke, bool do_fill, bool do_stroke, bool inside, int l, int t,
                    int r, int b);
  void ApplyClip(cairo_t* cr, const Region* extra) const;
  // Saves the state and clips to the logical rectangle under the world transform.
  void BeginLogicalRect(int x, int y, int cx, int cy);
  Region PathRegion(const Path& p, int fill_mode) const;

  // Pixels.
  std::uint32_t* Pixels() const;
  int Stride() const;  // in pixels
  void Flush() const;
  void MarkDirty(const win::RECT& device) const;
  std::uint32_t BrushPixel(const Brush& b, int x, int y) const;  // device pixel
  bool Blit(int x, int y, int cx, int cy, const DecodedDib* src, int xs, int ys, int cxs, int cys, win::DWORD rop,
            const DecodedDib* mask, int xm, int ym, win::DWORD rop_back);
  bool Blend(int x, int y, int cx, int cy, const DecodedDib& src, int xs, int ys, int cxs, int cys,
             win::BLENDFUNCTION blend);
  // Fills the device rectangles of `area` with one colour (the fast path of solid fills).
  void FillSolid(const Region& area, std::uint32_t rgb);
  // For a picture of (cxs, cys) source pixels drawn on (dw, dh) device pixels: when either
  // way is a reduction and the source rectangle lies inside `src`, gives the source rectangle
  // reduced to the destination's pixels in that way, the eliminated pixels combined as the
  // stretch mode says (AND, OR, dropped, averaged). None when nothing is reduced. With `seen_x`
  // and `seen_y` only the reduced pixels that the seen part of the destination samples are
  // computed (the others are left black): a picture mostly clipped away costs what is seen.
  struct SeenSpan {
    double from, to;    // the destination's device span along the axis
    int first, last;    // the pixels [first, last) of it that are drawn
    bool mirror;        // the picture runs backwards along the axis
  };
  std::optional<DecodedDib> Reduce(const DecodedDib& src, int xs, int ys, int cxs, int cys, double dw, double dh,
                                   const SeenSpan* seen_x = nullptr, const SeenSpan* seen_y = nullptr) const;
  // Paints a bitmap through cairo (rotated destinations, vector surfaces): the source
  // rectangle (xs, ys, cxs, cys) onto the logical rectangle (x, y, cx, cy).
  void PaintThroughCairo(const DecodedDib& src, bool with_alpha, int x, int y, int cx, int cy, int xs, int ys, int cxs,
                         int cys, double alpha);
  // A bitmap too large to decode whole, drawn with its rows decoded a band at a time: reduced
  // to the destination's device pixels as the stretch mode says (the reduction is what is
  // kept, bounded by the destination), or on a vector surface a 1-bit bitmap kept 1-bit (a
  // stencil of its second colour over its first). `top` is the source rectangle's top row.
  bool BandedStretch(int x, int y, int cx, int cy, int xs, int top, int cxs, int cys, const DibRef& dib,
                     win::DWORD rop);
  // The source rectangle (x0, y0, w, h) reduced to nw x nh pixels, of which only the rows
  // [j0, j1) are made (the picture given starts at row j0).
  std::optional<DecodedDib> ReduceBands(const DibRef& dib, std::int64_t x0, std::int64_t y0, std::int64_t w,
                                        std::int64_t h, std::int64_t nw, std::int64_t nh, std::int64_t j0,
                                        std::int64_t j1) const;
  bool PaintMonochrome(const DibRef& dib, int x, int y, int cx, int cy, int xs, int top, int cxs, int cys,
                       win::DWORD rop);
  std::optional<DecodedDib> SourceOf(const DeviceContext* src, int xs, int ys, int cxs, int cys, int* sx,
                                     int* sy) const;

  // Text.
  bool DrawText(int x, int y, win::UINT options, const RECT* rect, std::u16string_view text,
                std::vector<double> adv_log);
  // Lays `text` out in the selected font through the current transform; the characters'
  // natural advances are measured only with `need_adv`. False when nothing can be laid out.
  bool Layout(std::u16string_view text, TextLayout* out, bool need_adv = true) const;

  cairo_surface_t* surface_;
  cairo_t* cr_;
  DeviceInfo info_;
  int origin_x_, origin_y_;
  int surf_w_, surf_h_;
  bool draw_ = true;
  bool text_only_ = false;
  std::optional<RECT> text_bounds_;
  // The surface is not an image (a PDF page): drawing goes through cairo only, raster
  // operations that need the destination's pixels are drawn as copies.
  bool vector_ = false;
  DcState s_;
  std::vector<DcState> saved_;
};

}  // namespace zv::gdi::detail
