// The device-context interface: the drawing calls of the Windows drawing layer as virtual
// functions. Implemented by the cairo-backed device contexts of this folder (memory bitmaps,
// the screen surface, the printer surface) and by the metafile recorder. GDI objects are
// plain values (Pen, Brush, Font) selected by value: no handles cross this interface, so a
// recorder assigns its own handle indices.
//
// Coordinates are logical units unless a comment says device pixels. Regions are always in
// device pixels. Calls return what their Windows counterparts return (a success flag, the
// previous value); a DeviceContext is used by one thread at a time, while different device
// contexts may draw at once on different threads.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gdi/dib.h"
#include "platform/gdi/region.h"
#include "platform/wintypes/emf.h"
#include "platform/wintypes/gdi.h"

namespace zv::gdi {

using win::COLORREF;
using win::LOGFONTW;
using win::POINT;
using win::RECT;
using win::SIZE;
using win::XFORM;

// A pen: a cosmetic pen (EMR_CREATEPEN) when `extended` is false, else an extended pen
// (EMR_EXTCREATEPEN) with its brush style, hatch, user style entries and pattern bitmap.
struct Pen {
  win::UINT style = win::PS_SOLID;  // PS_* style, end cap, join and type bits
  win::LONG width = 0;              // logical units; 0 = one pixel
  COLORREF color = 0;
  bool extended = false;
  win::UINT brush_style = win::BS_SOLID;
  win::DWORD hatch = 0;
  std::vector<win::DWORD> style_entries{};  // PS_USERSTYLE dash lengths
  std::shared_ptr<const Dib> pattern{};     // BS_DIBPATTERN(PT) pens

  friend bool operator==(const Pen& a, const Pen& b);
};

// A brush: solid, hollow, hatched or a DIB pattern (`pattern` holds the bitmap).
struct Brush {
  win::UINT style = win::BS_SOLID;
  COLORREF color = 0;
  win::DWORD hatch = 0;
  std::shared_ptr<const Dib> pattern;

  static Brush Solid(COLORREF c) { return Brush{win::BS_SOLID, c, 0, nullptr}; }
  static Brush Null() { return Brush{win::BS_NULL, 0, 0, nullptr}; }
  friend bool operator==(const Brush& a, const Brush& b);
};

// A font: the LOGFONTW that created it (face names in UTF-16).
struct Font {
  LOGFONTW lf{};

  friend bool operator==(const Font& a, const Font& b);
};

// Makes a LOGFONTW from the common fields; `face` is UTF-8 (cut to 31 UTF-16 units).
LOGFONTW MakeLogFont(std::string_view face, win::LONG height, win::LONG weight = win::FW_NORMAL, bool italic = false,
                     win::BYTE charset = win::DEFAULT_CHARSET);
// Makes the font of a stored ANSI LOGFONT (CP932 face name) at `height`, every other field
// kept. With `substitute`, face bytes that are not CP932 become substitutes; without it such
// a face gives none.
std::optional<Font> FontFromLogFontA(const win::LOGFONTA& a, win::LONG height, bool substitute);
// The face name of a LOGFONTW as UTF-8.
std::string FaceName(const LOGFONTW& lf);

// The stock objects' values (WHITE_BRUSH ... DC_PEN); none for indexes that are not stock
// objects of that kind.
std::optional<Pen> StockPen(int index);
std::optional<Brush> StockBrush(int index);
std::optional<Font> StockFont(int index);

// Helpers for transforms.
XFORM IdentityXform();
// a then b (a point is transformed by a first).
XFORM CombineXform(const XFORM& a, const XFORM& b);

class DeviceContext {
 public:
  virtual ~DeviceContext() = default;

  // ---- Device queries ----
  // GetDeviceCaps: HORZRES, VERTRES (pixels), HORZSIZE, VERTSIZE (mm), LOGPIXELSX/Y,
  // BITSPIXEL, PLANES, TECHNOLOGY, RASTERCAPS, PHYSICALWIDTH/HEIGHT/OFFSETX/Y, NUMCOLORS.
  virtual int GetDeviceCaps(int index) const = 0;

  // ---- State stack ----
  // Saves the whole drawing state; gives the new depth (>= 1) or 0 on failure.
  virtual int SaveDC() = 0;
  // Restores a saved state: a positive `level` is an absolute depth, a negative one is
  // relative (-1 = the last save). False when there is no such state.
  virtual bool RestoreDC(int level) = 0;

  // ---- Coordinate spaces ----
  // Sets the map mode (MM_*); gives the previous one, 0 for an unknown mode.
  virtual int SetMapMode(int mode) = 0;
  virtual int GetMapMode() const = 0;
  // Window and viewport: set (the previous value goes to `old` when given) and get. Extents
  // are ignored outside MM_ISOTROPIC/MM_ANISOTROPIC; a zero extent is refused (false).
  virtual bool SetWindowOrgEx(int x, int y, POINT* old = nullptr) = 0;
  virtual bool SetWindowExtEx(int cx, int cy, SIZE* old = nullptr) = 0;
  virtual bool SetViewportOrgEx(int x, int y, POINT* old = nullptr) = 0;
  virtual bool SetViewportExtEx(int cx, int cy, SIZE* old = nullptr) = 0;
  virtual bool OffsetWindowOrgEx(int dx, int dy, POINT* old = nullptr) = 0;
  virtual bool OffsetViewportOrgEx(int dx, int dy, POINT* old = nullptr) = 0;
  // Multiplies the extent by xn/xd and yn/yd.
  virtual bool ScaleWindowExtEx(int xn, int xd, int yn, int yd, SIZE* old = nullptr) = 0;
  virtual bool ScaleViewportExtEx(int xn, int xd, int yn, int yd, SIZE* old = nullptr) = 0;
  virtual POINT GetWindowOrgEx() const = 0;
  virtual SIZE GetWindowExtEx() const = 0;
  virtual POINT GetViewportOrgEx() const = 0;
  virtual SIZE GetViewportExtEx() const = 0;
  // World transform (always in effect for shapes, whatever the graphics mode).
  virtual bool SetWorldTransform(const XFORM& xf) = 0;
  // MWT_IDENTITY, MWT_LEFTMULTIPLY (xf then world), MWT_RIGHTMULTIPLY (world then xf).
  virtual bool ModifyWorldTransform(const XFORM& xf, win::DWORD mode) = 0;
  virtual XFORM GetWorldTransform() const = 0;
  // Converts points between logical units and device pixels.
  virtual void LPtoDP(std::span<POINT> pts) const = 0;
  virtual void DPtoLP(std::span<POINT> pts) const = 0;

  // Graphics mode for text: GM_COMPATIBLE (the default) never mirrors glyphs, so they stay
  // upright when the map mode turns y upwards; GM_ADVANCED draws glyphs through the whole
  // transform, mirrors included. Both slant glyphs under a shearing transform. Gives the
  // previous mode, 0 for an unknown one. Devices without text of their own keep the default.
  virtual int SetGraphicsMode(int mode) { return mode == int(win::GM_COMPATIBLE) ? int(win::GM_COMPATIBLE) : 0; }
  virtual int GetGraphicsMode() const { return int(win::GM_COMPATIBLE); }

  // ---- Attributes ----
  virtual COLORREF SetTextColor(COLORREF c) = 0;
  virtual COLORREF GetTextColor() const = 0;
  virtual COLORREF SetBkColor(COLORREF c) = 0;
  virtual COLORREF GetBkColor() const = 0;
  virtual int SetBkMode(int mode) = 0;  // TRANSPARENT, OPAQUE
  virtual int GetBkMode() const = 0;
  virtual win::UINT SetTextAlign(win::UINT align) = 0;  // TA_* bits
  virtual win::UINT GetTextAlign() const = 0;
  virtual int SetROP2(int rop2) = 0;  // R2_*
  virtual int GetROP2() const = 0;
  virtual int SetPolyFillMode(int mode) = 0;  // ALTERNATE, WINDING
  virtual int GetPolyFillMode() const = 0;
  virtual int SetStretchBltMode(int mode) = 0;
  virtual int GetStretchBltMode() const = 0;
  virtual int SetArcDirection(int dir) = 0;  // AD_COUNTERCLOCKWISE, AD_CLOCKWISE
  virtual int GetArcDirection() const = 0;
  virtual bool SetMiterLimit(float limit, float* old = nullptr) = 0;
  virtual bool SetBrushOrgEx(int x, int y, POINT* old = nullptr) = 0;  // device pixels
  virtual win::DWORD SetMapperFlags(win::DWORD flags) = 0;
  virtual bool SetTextJustification(int extra, int breaks) = 0;

  // ---- Objects (by value) ----
  // Selects a pen/brush/font; gives the previous one.
  virtual Pen SelectPen(const Pen& pen) = 0;
  virtual Brush SelectBrush(const Brush& brush) = 0;
  virtual Font SelectFont(const Font& font) = 0;
  // Selects a stock object (WHITE_BRUSH ... DC_PEN); false for an unknown index.
  virtual bool SelectStockObject(int index) = 0;
  virtual Pen GetCurrentPen() const = 0;
  virtual Brush GetCurrentBrush() const = 0;
  virtual Font GetCurrentFont() const = 0;

  // ---- Current position ----
  virtual bool MoveToEx(int x, int y, POINT* old = nullptr) = 0;
  virtual POINT GetCurrentPositionEx() const = 0;

  // ---- Lines and shapes (pen outlines, brush interiors) ----
  virtual bool LineTo(int x, int y) = 0;
  virtual bool Polyline(std::span<const POINT> pts) = 0;
  virtual bool PolylineTo(std::span<const POINT> pts) = 0;
  virtual bool Polygon(std::span<const POINT> pts) = 0;
  // `counts` gives the number of points of each polygon / polyline in turn.
  virtual bool PolyPolygon(std::span<const POINT> pts, std::span<const win::DWORD> counts) = 0;
  virtual bool PolyPolyline(std::span<const POINT> pts, std::span<const win::DWORD> counts) = 0;
  // Béziers: 1 + 3n points (PolyBezier), 3n points from the current position (PolyBezierTo).
  virtual bool PolyBezier(std::span<const POINT> pts) = 0;
  virtual bool PolyBezierTo(std::span<const POINT> pts) = 0;
  // PolyDraw: one PT_* type per point.
  virtual bool PolyDraw(std::span<const POINT> pts, std::span<const win::BYTE> types) = 0;
  virtual bool Rectangle(int left, int top, int right, int bottom) = 0;
  virtual bool RoundRect(int left, int top, int right, int bottom, int cx, int cy) = 0;
  virtual bool Ellipse(int left, int top, int right, int bottom) = 0;
  // Arc, ArcTo, Chord, Pie: the ellipse of the box, from the radial through (xs, ys) to the
  // radial through (xe, ye) in the arc direction.
  virtual bool Arc(const RECT& box, int xs, int ys, int xe, int ye) = 0;
  virtual bool ArcTo(const RECT& box, int xs, int ys, int xe, int ye) = 0;
  virtual bool Chord(const RECT& box, int xs, int ys, int xe, int ye) = 0;
  virtual bool Pie(const RECT& box, int xs, int ys, int xe, int ye) = 0;
  virtual bool AngleArc(int x, int y, win::DWORD radius, float start_deg, float sweep_deg) = 0;
  // Sets one pixel (logical point) to a colour.
  virtual bool SetPixelV(int x, int y, COLORREF c) = 0;
  // Gives the colour of a pixel (logical point), CLR_INVALID outside the surface or where
  // the device has no pixels.
  virtual COLORREF GetPixel(int x, int y) const = 0;

  // ---- Regions (device pixels) ----
  virtual bool FillRgn(const Region& rgn, const Brush& brush) = 0;
  virtual bool FrameRgn(const Region& rgn, const Brush& brush, int w, int h) = 0;
  virtual bool InvertRgn(const Region& rgn) = 0;
  virtual bool PaintRgn(const Region& rgn) = 0;  // with the current brush

  // ---- Paths ----
  virtual bool BeginPath() = 0;
  virtual bool EndPath() = 0;
  virtual bool AbortPath() = 0;
  virtual bool CloseFigure() = 0;
  virtual bool FillPath() = 0;
  virtual bool StrokePath() = 0;
  virtual bool StrokeAndFillPath() = 0;
  virtual bool FlattenPath() = 0;
  virtual bool WidenPath() = 0;
  // Combines the path with the clip region (RGN_* mode) and discards the path.
  virtual bool SelectClipPath(int mode) = 0;

  // ---- Clipping ----
  // Combines `rgn` (device pixels) with the clip region; a null `rgn` with RGN_COPY removes
  // the clip region. Gives the resulting region kind, RGN_ERROR on failure.
  virtual int ExtSelectClipRgn(const Region* rgn, int mode) = 0;
  virtual int IntersectClipRect(int left, int top, int right, int bottom) = 0;
  virtual int ExcludeClipRect(int left, int top, int right, int bottom) = 0;
  virtual int OffsetClipRgn(int dx, int dy) = 0;  // logical units
  // Folds the clip region into the meta region and clears the clip region.
  virtual int SetMetaRgn() = 0;
  // The bounding box of the effective clip (clip and meta region, else the surface) in
  // logical units; gives the region kind.
  virtual int GetClipBox(RECT* box) const = 0;
  // The clip region (device pixels); none when there is none.
  virtual std::optional<Region> GetClipRgn() const = 0;

  // ---- Text ----
  // Draws text at (x, y) (the current position with TA_UPDATECP) with ETO_* options,
  // an optional rectangle for ETO_OPAQUE/ETO_CLIPPED and optional advances (one per
  // character; pairs with ETO_PDY). A: bytes in the font's character set (CP932 for
  // SHIFTJIS_CHARSET); W: UTF-16.
  virtual bool ExtTextOutW(int x, int y, win::UINT options, const RECT* rect, std::u16string_view text,
                           std::span<const int> dx = {}) = 0;
  virtual bool ExtTextOutA(int x, int y, win::UINT options, const RECT* rect, std::string_view text,
                           std::span<const int> dx = {}) = 0;
  // ExtTextOutA's text laid out the same way, drawing nothing a reader of the page sees: a
  // device that keeps text for readers of its output (a PDF) keeps it there, without ink.
  // Devices without such output draw nothing.
  virtual bool InvisibleTextOutA(int x, int y, win::UINT options, const RECT* rect, std::string_view text,
                                 std::span<const int> dx = {}) {
    return true;
  }
  // The same for ExtTextOutW's text.
  virtual bool InvisibleTextOutW(int x, int y, win::UINT options, const RECT* rect, std::u16string_view text,
                                 std::span<const int> dx = {}) {
    return true;
  }
  bool TextOutW(int x, int y, std::u16string_view text) { return ExtTextOutW(x, y, 0, nullptr, text); }
  bool TextOutA(int x, int y, std::string_view text) { return ExtTextOutA(x, y, 0, nullptr, text); }
  // Metrics of the selected font in logical units; false when there is none.
  virtual bool GetTextMetricsW(win::TEXTMETRICW* tm) const = 0;
  // The extent of the text in logical units with the selected font.
  virtual bool GetTextExtentPoint32W(std::u16string_view text, SIZE* size) const = 0;
  virtual bool GetTextExtentPoint32A(std::string_view text, SIZE* size) const = 0;
  // The face name the selected font draws with (after substitution), UTF-8.
  virtual std::string GetTextFace() const = 0;

  // ---- Bitmaps ----
  // Raster operations: any ternary code (the low byte of the high word of `rop`) done exactly.
  // The source is another device context (null for operations without a source).
  virtual bool PatBlt(int x, int y, int cx, int cy, win::DWORD rop) = 0;
  virtual bool BitBlt(int x, int y, int cx, int cy, const DeviceContext* src, int xs, int ys, win::DWORD rop) = 0;
  virtual bool StretchBlt(int x, int y, int cx, int cy, const DeviceContext* src, int xs, int ys, int cxs, int cys,
                          win::DWORD rop) = 0;
  // Draws a bitmap stretched from (xs, ys, cxs, cys) of the bitmap (rows counted from the
  // top-left of the picture) to (x, y, cx, cy).
  virtual bool StretchDIBits(int x, int y, int cx, int cy, int xs, int ys, int cxs, int cys, const DibRef& dib,
                             win::DWORD rop) = 0;
  // Copies `lines` scan lines starting at scan line `start` (counted from the bottom of the
  // bitmap) to the device; (xs, ys) is counted from the bitmap's lower-left corner.
  virtual bool SetDIBitsToDevice(int x, int y, int cx, int cy, int xs, int ys, win::UINT start, win::UINT lines,
                                 const DibRef& dib) = 0;
  // Foreground raster operation where the 1-bit mask is 1, background one where it is 0
  // (rop4 = MAKEROP4(fore, back)).
  virtual bool MaskBlt(int x, int y, int cx, int cy, const DeviceContext* src, int xs, int ys, const DibRef* mask,
                       int xm, int ym, win::DWORD rop4) = 0;
  virtual bool AlphaBlend(int x, int y, int cx, int cy, const DeviceContext* src, int xs, int ys, int cxs, int cys,
                          win::BLENDFUNCTION blend) = 0;
  // The same operations with a bitmap as source (what metafiles carry).
  virtual bool DibBlt(int x, int y, int cx, int cy, const DibRef* src, int xs, int ys, int cxs, int cys,
                      win::DWORD rop) = 0;
  virtual bool DibMaskBlt(int x, int y, int cx, int cy, const DibRef* src, int xs, int ys, const DibRef* mask, int xm,
                          int ym, win::DWORD rop4) = 0;
  virtual bool DibAlphaBlend(int x, int y, int cx, int cy, const DibRef& src, int xs, int ys, int cxs, int cys,
                             win::BLENDFUNCTION blend) = 0;
  // Reads the device pixels of `rect` (device pixels) as a bitmap (24 bits, bottom-up), for
  // use as a blit source by another device context; none where there are no pixels.
  virtual std::optional<Dib> ReadPixels(const RECT& rect) const = 0;

  // ---- Metafile-only calls (a pixel device ignores them) ----
  virtual bool GdiComment(std::span<const std::uint8_t> data) = 0;
  // A base transform from this device's pixels to the real device pixels, applied after the
  // viewport and world transforms. The metafile player uses it to map the metafile's
  // reference device onto the destination rectangle; SaveDC/RestoreDC keep it.
  virtual void SetBaseTransform(const XFORM& xf) = 0;
  virtual XFORM GetBaseTransform() const = 0;
  // The device the fixed map modes (MM_LOMETRIC ... MM_TWIPS) measure against: `pixels`
  // covering `millimeters`, in the units the base transform starts from. The metafile player
  // sets the metafile's reference device so that a page recorded in millimetres is drawn at
  // the size it was recorded at wherever it is played; zero sizes go back to the device's own
  // resolution. SaveDC/RestoreDC keep it. Devices without map modes of their own ignore it.
  virtual void SetReferenceDevice(SIZE pixels, SIZE millimeters) {
    (void)pixels;
    (void)millimeters;
  }
};

}  // namespace zv::gdi
