// The recording device context: drawing calls become enhanced-metafile records (the
// CreateEnhMetaFile / CloseEnhMetaFile model). Pages are re-recorded with it, blank pages made
// with it, and tests everywhere build their fixtures with it.
//
// Objects: the device-context interface passes pens, brushes and fonts by value, so the
// recorder gives each distinct object a handle index the first time it is selected (one
// EMR_CREATEPEN / EMR_EXTCREATEPEN / EMR_CREATEBRUSHINDIRECT / EMR_CREATEDIBPATTERNBRUSHPT /
// EMR_EXTCREATEFONTINDIRECTW) and emits EMR_SELECTOBJECT with that index. Values equal to a
// stock object (and SelectStockObject) select the stock object (ENHMETA_STOCK_OBJECT bit)
// instead. Objects no longer selected, nor held by a saved state, are kept for reuse and
// deleted (EMR_DELETEOBJECT) once more than a few of a kind pile up; the player frees the rest
// with its handle table at the end.
//
// State: the recorder keeps the drawing state that the records set (map mode, window and
// viewport, world transform, colours, modes, current position, clip box, selected objects,
// SaveDC levels) to answer the Get... queries and to compute each record's device bounds,
// which make up the header's rclBounds. Text metrics and extents are answered by a reference
// device context when one is given (the fonts live there); without one they fail.
//
// Pixels: a recorder has none: GetPixel gives CLR_INVALID and ReadPixels gives none. Blits
// from another device context embed that context's pixels (ReadPixels) as the source bitmap.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/status.h"
#include "platform/gdi/dc.h"
#include "platform/gdi/emf/writer.h"

namespace zv::gdi {

class MetafileRecorder final : public DeviceContext {
 public:
  struct Options {
    win::SIZEL device{2480, 3508};     // reference device in pixels (A4 at 300 dpi)
    win::SIZEL millimeters{210, 297};  // reference device in millimetres
    // The picture frame in 0.01 mm; computed from the drawing's bounds when none.
    std::optional<win::RECTL> frame;
    std::u16string description;
    // Answers text metrics and extents (the recorder selects its current font into it before
    // asking); not owned, may be null.
    DeviceContext* reference = nullptr;
  };

  // CreateEnhMetaFile: takes the reference device, frame and description; gives a recorder
  // with the default state (MM_TEXT, black pen, white brush, system font).
  explicit MetafileRecorder(const Options& options);
  ~MetafileRecorder() override;

  // CloseEnhMetaFile: writes EMR_EOF and the header and gives the metafile's bytes (or the
  // writer's error). Drawing afterwards fails.
  Result<std::vector<std::uint8_t>> Close();

  // Appends a record the caller already holds (a record of another metafile passed through
  // unchanged, as re-recording does) after checking its envelope; its device bounds count,
  // and handle indices it creates are kept out of the recorder's own allocation until an
  // appended EMR_DELETEOBJECT frees them. The recorder's drawing state does not follow it.
  Status AppendRecord(std::span<const std::uint8_t> record);

  // Records appended so far (without header and EOF).
  std::size_t RecordCount() const;

  // ---- DeviceContext ----
  int GetDeviceCaps(int index) const override;
  int SaveDC() override;
  bool RestoreDC(int level) override;
  int SetMapMode(int mode) override;
  int GetMapMode() const override;
  bool SetWindowOrgEx(int x, int y, POINT* old = nullptr) override;
  bool SetWindowExtEx(int cx, int cy, SIZE* old = nullptr) override;
  bool SetViewportOrgEx(int x, int y, POINT* old = nullptr) override;
  bool SetViewportExtEx(int cx, int cy, SIZE* old = nullptr) override;
  bool OffsetWindowOrgEx(int dx, int dy, POINT* old = nullptr) override;
  bool OffsetViewportOrgEx(int dx, int dy, POINT* old = nullptr) override;
  bool ScaleWindowExtEx(int xn, int xd, int yn, int yd, SIZE* old = nullptr) override;
  bool ScaleViewportExtEx(int xn, int xd, int yn, int yd, SIZE* old = nullptr) override;
  POINT GetWindowOrgEx() const override;
  SIZE GetWindowExtEx() const override;
  POINT GetViewportOrgEx() const override;
  SIZE GetViewportExtEx() const override;
  bool SetWorldTransform(const XFORM& xf) override;
  bool ModifyWorldTransform(const XFORM& xf, win::DWORD mode) override;
  XFORM GetWorldTransform() const override;
  void LPtoDP(std::span<POINT> pts) const override;
  void DPtoLP(std::span<POINT> pts) const override;

  COLORREF SetTextColor(COLORREF c) override;
  COLORREF GetTextColor() const override;
  COLORREF SetBkColor(COLORREF c) override;
  COLORREF GetBkColor() const override;
  int SetBkMode(int mode) override;
  int GetBkMode() const override;
  win::UINT SetTextAlign(win::UINT align) override;
  win::UINT GetTextAlign() const override;
  int SetROP2(int rop2) override;
  int GetROP2() const override;
  int SetPolyFillMode(int mode) override;
  int GetPolyFillMode() const override;
  int SetStretchBltMode(int mode) override;
  int GetStretchBltMode() const override;
  // Kept for the text records (each records the mode it is drawn in).
  int SetGraphicsMode(int mode) override;
  int GetGraphicsMode() const override;
  int SetArcDirection(int dir) override;
  int GetArcDirection() const override;
  bool SetMiterLimit(float limit, float* old = nullptr) override;
  bool SetBrushOrgEx(int x, int y, POINT* old = nullptr) override;
  win::DWORD SetMapperFlags(win::DWORD flags) override;
  bool SetTextJustification(int extra, int breaks) override;

  Pen SelectPen(const Pen& pen) override;
  Brush SelectBrush(const Brush& brush) override;
  Font SelectFont(const Font& font) override;
  bool SelectStockObject(int index) override;
  Pen GetCurrentPen() const override;
  Brush GetCurrentBrush() const override;
  Font GetCurrentFont() const override;

  bool MoveToEx(int x, int y, POINT* old = nullptr) override;
  POINT GetCurrentPositionEx() const override;

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
  std::optional<Region> GetClipRgn() const override;

  bool ExtTextOutW(int x, int y, win::UINT options, const RECT* rect, std::u16string_view text,
                   std::span<const int> dx = {}) override;
  bool ExtTextOutA(int x, int y, win::UINT options, const RECT* rect, std::string_view text,
                   std::span<const int> dx = {}) override;
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

  bool GdiComment(std::span<const std::uint8_t> data) override;
  void SetBaseTransform(const XFORM& xf) override;
  XFORM GetBaseTransform() const override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Records an empty page (header and EOF only) for the given reference device; what a blank
// page of a document holds.
Result<std::vector<std::uint8_t>> RecordBlankPage(win::SIZEL device, win::SIZEL millimeters);

}  // namespace zv::gdi
