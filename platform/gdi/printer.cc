// The printer surface: a page is collected as a list of drawing calls while a state-only
// device context answers the queries; at the end of the page the list is replayed on the page
// of a cairo PDF surface as vectors. Raster operations that read the destination's pixels need
// pixels: the areas they touch are replayed on image surfaces at the printer's resolution and
// placed over the vector drawing as pictures; a page whose raster work covers most of it, or
// cannot be bounded, is replayed band by band as pixels (bounded memory) instead.
//
// The sheets of a job are drawn in parallel: each recorded page is handed to a crew of
// workers, one per core, each drawing its sheets into a PDF file of its own (its pictures
// compressed there, its band memory kept from sheet to sheet, the fonts of its sheets written
// once); when the job closes, the sheets are copied in order, streams as they are, into the
// job's file.
#include <cairo-pdf.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <numeric>

#include "platform/gdi/internal/cairo_dc.h"
#include "platform/gdi/internal/sheet_merge.h"
#include "platform/gdi/surfaces.h"
#include "platform/workers/workers.h"

namespace zv::gdi {

namespace {

using Op = std::function<void(DeviceContext&)>;

// A recorded call and, for calls that only draw, the device pixels it can reach when known.
struct Call {
  Op op;
  std::optional<RECT> reach;
};

// Replays the calls on `dc`, leaving out drawing known to fall outside `area` (device pixels).
void Replay(const std::vector<Call>& calls, DeviceContext& dc, const RECT& area) {
  for (const Call& c : calls) {
    if (c.reach && (c.reach->right <= area.left || c.reach->left >= area.right || c.reach->bottom <= area.top ||
                    c.reach->top >= area.bottom)) {
      continue;
    }
    c.op(dc);
  }
}

std::shared_ptr<const Dib> Keep(const DibRef& d) { return std::make_shared<Dib>(Dib::Copy(d)); }
std::optional<RECT> Keep(const RECT* r) { return r ? std::optional<RECT>(*r) : std::nullopt; }

// Forwards every call to the state-only context (which answers queries) and keeps the calls
// that draw or change state for the replay.
class PageRecorder final : public DeviceContext {
 public:
  PageRecorder(int width, int height, double dpi) {
    probe_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
    detail::DeviceInfo info{width, height, dpi, dpi, win::DT_RASPRINTER, 24};
    state_ = std::make_unique<detail::CairoDC>(probe_, info);
    state_->set_draw_enabled(false);
  }
  ~PageRecorder() override {
    state_.reset();
    cairo_surface_destroy(probe_);
  }
  const std::vector<Call>& calls() const { return calls_; }
  // The areas (page pixels, within the clip) whose pixels raster operations read: the
  // destination rectangles of blits other than copies, inversions of regions.
  const std::vector<RECT>& raster_areas() const { return areas_; }
  // True when raster work was done whose area is not known (binary raster operations of the
  // pen and brush reach whatever is drawn after them): the whole page needs pixels.
  bool whole_page_raster() const { return whole_page_; }

  int GetDeviceCaps(int i) const override { return state_->GetDeviceCaps(i); }
  int SaveDC() override {
    Add([](DeviceContext& d) { d.SaveDC(); });
    return state_->SaveDC();
  }
  bool RestoreDC(int l) override {
    Add([=](DeviceContext& d) { d.RestoreDC(l); });
    return state_->RestoreDC(l);
  }
  int SetMapMode(int m) override {
    Add([=](DeviceContext& d) { d.SetMapMode(m); });
    return state_->SetMapMode(m);
  }
  int GetMapMode() const override { return state_->GetMapMode(); }
  bool SetWindowOrgEx(int x, int y, POINT* o) override {
    Add([=](DeviceContext& d) { d.SetWindowOrgEx(x, y); });
    return state_->SetWindowOrgEx(x, y, o);
  }
  bool SetWindowExtEx(int x, int y, SIZE* o) override {
    Add([=](DeviceContext& d) { d.SetWindowExtEx(x, y); });
    return state_->SetWindowExtEx(x, y, o);
  }
  bool SetViewportOrgEx(int x, int y, POINT* o) override {
    Add([=](DeviceContext& d) { d.SetViewportOrgEx(x, y); });
    return state_->SetViewportOrgEx(x, y, o);
  }
  bool SetViewportExtEx(int x, int y, SIZE* o) override {
    Add([=](DeviceContext& d) { d.SetViewportExtEx(x, y); });
    return state_->SetViewportExtEx(x, y, o);
  }
  bool OffsetWindowOrgEx(int x, int y, POINT* o) override {
    Add([=](DeviceContext& d) { d.OffsetWindowOrgEx(x, y); });
    return state_->OffsetWindowOrgEx(x, y, o);
  }
  bool OffsetViewportOrgEx(int x, int y, POINT* o) override {
    Add([=](DeviceContext& d) { d.OffsetViewportOrgEx(x, y); });
    return state_->OffsetViewportOrgEx(x, y, o);
  }
  bool ScaleWindowExtEx(int a, int b, int c, int e, SIZE* o) override {
    Add([=](DeviceContext& d) { d.ScaleWindowExtEx(a, b, c, e); });
    return state_->ScaleWindowExtEx(a, b, c, e, o);
  }
  bool ScaleViewportExtEx(int a, int b, int c, int e, SIZE* o) override {
    Add([=](DeviceContext& d) { d.ScaleViewportExtEx(a, b, c, e); });
    return state_->ScaleViewportExtEx(a, b, c, e, o);
  }
  POINT GetWindowOrgEx() const override { return state_->GetWindowOrgEx(); }
  SIZE GetWindowExtEx() const override { return state_->GetWindowExtEx(); }
  POINT GetViewportOrgEx() const override { return state_->GetViewportOrgEx(); }
  SIZE GetViewportExtEx() const override { return state_->GetViewportExtEx(); }
  bool SetWorldTransform(const XFORM& x) override {
    Add([=](DeviceContext& d) { d.SetWorldTransform(x); });
    return state_->SetWorldTransform(x);
  }
  bool ModifyWorldTransform(const XFORM& x, win::DWORD m) override {
    Add([=](DeviceContext& d) { d.ModifyWorldTransform(x, m); });
    return state_->ModifyWorldTransform(x, m);
  }
  XFORM GetWorldTransform() const override { return state_->GetWorldTransform(); }
  void LPtoDP(std::span<POINT> p) const override { state_->LPtoDP(p); }
  void DPtoLP(std::span<POINT> p) const override { state_->DPtoLP(p); }

#define ZV_SET(Type, Name, GetName)            \
  Type Name(Type v) override {                 \
    Add([=](DeviceContext& d) { d.Name(v); }); \
    return state_->Name(v);                    \
  }                                            \
  Type GetName() const override { return state_->GetName(); }
  ZV_SET(COLORREF, SetTextColor, GetTextColor)
  ZV_SET(COLORREF, SetBkColor, GetBkColor)
  ZV_SET(int, SetBkMode, GetBkMode)
  ZV_SET(win::UINT, SetTextAlign, GetTextAlign)
  int SetROP2(int v) override {
    if (v != win::R2_COPYPEN) whole_page_ = true;
    Add([=](DeviceContext& d) { d.SetROP2(v); });
    return state_->SetROP2(v);
  }
  int GetROP2() const override { return state_->GetROP2(); }
  ZV_SET(int, SetPolyFillMode, GetPolyFillMode)
  ZV_SET(int, SetStretchBltMode, GetStretchBltMode)
  ZV_SET(int, SetArcDirection, GetArcDirection)
  ZV_SET(int, SetGraphicsMode, GetGraphicsMode)
#undef ZV_SET
  bool SetMiterLimit(float l, float* o) override {
    Add([=](DeviceContext& d) { d.SetMiterLimit(l); });
    return state_->SetMiterLimit(l, o);
  }
  bool SetBrushOrgEx(int x, int y, POINT* o) override {
    Add([=](DeviceContext& d) { d.SetBrushOrgEx(x, y); });
    return state_->SetBrushOrgEx(x, y, o);
  }
  win::DWORD SetMapperFlags(win::DWORD f) override {
    Add([=](DeviceContext& d) { d.SetMapperFlags(f); });
    return state_->SetMapperFlags(f);
  }
  bool SetTextJustification(int e, int b) override {
    Add([=](DeviceContext& d) { d.SetTextJustification(e, b); });
    return state_->SetTextJustification(e, b);
  }
  Pen SelectPen(const Pen& p) override {
    Add([=](DeviceContext& d) { d.SelectPen(p); });
    return state_->SelectPen(p);
  }
  Brush SelectBrush(const Brush& b) override {
    Add([=](DeviceContext& d) { d.SelectBrush(b); });
    return state_->SelectBrush(b);
  }
  Font SelectFont(const Font& f) override {
    Add([=](DeviceContext& d) { d.SelectFont(f); });
    return state_->SelectFont(f);
  }
  bool SelectStockObject(int i) override {
    Add([=](DeviceContext& d) { d.SelectStockObject(i); });
    return state_->SelectStockObject(i);
  }
  Pen GetCurrentPen() const override { return state_->GetCurrentPen(); }
  Brush GetCurrentBrush() const override { return state_->GetCurrentBrush(); }
  Font GetCurrentFont() const override { return state_->GetCurrentFont(); }
  bool MoveToEx(int x, int y, POINT* o) override {
    Add([=](DeviceContext& d) { d.MoveToEx(x, y); });
    return state_->MoveToEx(x, y, o);
  }
  POINT GetCurrentPositionEx() const override { return state_->GetCurrentPositionEx(); }
  bool LineTo(int x, int y) override {
    Add([=](DeviceContext& d) { d.LineTo(x, y); });
    return state_->LineTo(x, y);
  }

#define ZV_PTS(Name)                                                                    \
  bool Name(std::span<const POINT> p) override {                                        \
    Add([v = std::vector<POINT>(p.begin(), p.end())](DeviceContext& d) { d.Name(v); }); \
    return state_->Name(p);                                                             \
  }
  ZV_PTS(Polyline)
  ZV_PTS(PolylineTo)
  ZV_PTS(Polygon)
  ZV_PTS(PolyBezier)
  ZV_PTS(PolyBezierTo)
#undef ZV_PTS
  bool PolyPolygon(std::span<const POINT> p, std::span<const win::DWORD> c) override {
    Add([v = std::vector<POINT>(p.begin(), p.end()),
         n = std::vector<win::DWORD>(c.begin(), c.end())](DeviceContext& d) { d.PolyPolygon(v, n); });
    return state_->PolyPolygon(p, c);
  }
  bool PolyPolyline(std::span<const POINT> p, std::span<const win::DWORD> c) override {
    Add([v = std::vector<POINT>(p.begin(), p.end()),
         n = std::vector<win::DWORD>(c.begin(), c.end())](DeviceContext& d) { d.PolyPolyline(v, n); });
    return state_->PolyPolyline(p, c);
  }
  bool PolyDraw(std::span<const POINT> p, std::span<const win::BYTE> t) override {
    Add([v = std::vector<POINT>(p.begin(), p.end()), n = std::vector<win::BYTE>(t.begin(), t.end())](DeviceContext& d) {
      d.PolyDraw(v, n);
    });
    return state_->PolyDraw(p, t);
  }
  bool Rectangle(int l, int t, int r, int b) override {
    Add([=](DeviceContext& d) { d.Rectangle(l, t, r, b); });
    return state_->Rectangle(l, t, r, b);
  }
  bool RoundRect(int l, int t, int r, int b, int cx, int cy) override {
    Add([=](DeviceContext& d) { d.RoundRect(l, t, r, b, cx, cy); });
    return state_->RoundRect(l, t, r, b, cx, cy);
  }
  bool Ellipse(int l, int t, int r, int b) override {
    Add([=](DeviceContext& d) { d.Ellipse(l, t, r, b); });
    return state_->Ellipse(l, t, r, b);
  }
#define ZV_ARC(Name)                                                    \
  bool Name(const RECT& box, int xs, int ys, int xe, int ye) override { \
    Add([=](DeviceContext& d) { d.Name(box, xs, ys, xe, ye); });        \
    return state_->Name(box, xs, ys, xe, ye);                           \
  }
  ZV_ARC(Arc)
  ZV_ARC(ArcTo)
  ZV_ARC(Chord)
  ZV_ARC(Pie)
#undef ZV_ARC
  bool AngleArc(int x, int y, win::DWORD r, float a, float s) override {
    Add([=](DeviceContext& d) { d.AngleArc(x, y, r, a, s); });
    return state_->AngleArc(x, y, r, a, s);
  }
  bool SetPixelV(int x, int y, COLORREF c) override {
    Add([=](DeviceContext& d) { d.SetPixelV(x, y, c); });
    return state_->SetPixelV(x, y, c);
  }
  // Until the page ends it is only a list of calls: there are no pixels to read back, as on a
  // real printer's context.
  COLORREF GetPixel(int, int) const override { return win::CLR_INVALID; }
  bool FillRgn(const Region& r, const Brush& b) override {
    Add([=](DeviceContext& d) { d.FillRgn(r, b); });
    return state_->FillRgn(r, b);
  }
  bool FrameRgn(const Region& r, const Brush& b, int w, int h) override {
    Add([=](DeviceContext& d) { d.FrameRgn(r, b, w, h); });
    return state_->FrameRgn(r, b, w, h);
  }
  bool InvertRgn(const Region& r) override {
    TouchDevice(r.Box());
    Add([=](DeviceContext& d) { d.InvertRgn(r); });
    return state_->InvertRgn(r);
  }
  bool PaintRgn(const Region& r) override {
    Add([=](DeviceContext& d) { d.PaintRgn(r); });
    return state_->PaintRgn(r);
  }
#define ZV_NOARG(Name)                       \
  bool Name() override {                     \
    Add([](DeviceContext& d) { d.Name(); }); \
    return state_->Name();                   \
  }
  ZV_NOARG(BeginPath)
  ZV_NOARG(EndPath)
  ZV_NOARG(AbortPath)
  ZV_NOARG(CloseFigure)
  ZV_NOARG(FillPath)
  ZV_NOARG(StrokePath)
  ZV_NOARG(StrokeAndFillPath)
  ZV_NOARG(FlattenPath)
  ZV_NOARG(WidenPath)
#undef ZV_NOARG
  bool SelectClipPath(int m) override {
    Add([=](DeviceContext& d) { d.SelectClipPath(m); });
    return state_->SelectClipPath(m);
  }
  int ExtSelectClipRgn(const Region* r, int m) override {
    Add([k = r ? std::optional<Region>(*r) : std::nullopt, m](DeviceContext& d) {
      d.ExtSelectClipRgn(k ? &*k : nullptr, m);
    });
    return state_->ExtSelectClipRgn(r, m);
  }
  int IntersectClipRect(int l, int t, int r, int b) override {
    Add([=](DeviceContext& d) { d.IntersectClipRect(l, t, r, b); });
    return state_->IntersectClipRect(l, t, r, b);
  }
  int ExcludeClipRect(int l, int t, int r, int b) override {
    Add([=](DeviceContext& d) { d.ExcludeClipRect(l, t, r, b); });
    return state_->ExcludeClipRect(l, t, r, b);
  }
  int OffsetClipRgn(int x, int y) override {
    Add([=](DeviceContext& d) { d.OffsetClipRgn(x, y); });
    return state_->OffsetClipRgn(x, y);
  }
  int SetMetaRgn() override {
    Add([](DeviceContext& d) { d.SetMetaRgn(); });
    return state_->SetMetaRgn();
  }
  int GetClipBox(RECT* b) const override { return state_->GetClipBox(b); }
  std::optional<Region> GetClipRgn() const override { return state_->GetClipRgn(); }
  // Text is laid out on the state context anyway: what it can reach comes with it.
  bool ExtTextOutW(int x, int y, win::UINT o, const RECT* r, std::u16string_view t, std::span<const int> dx) override {
    const bool ok = state_->ExtTextOutW(x, y, o, r, t, dx);
    Add([=, k = Keep(r), s = std::u16string(t), v = std::vector<int>(dx.begin(), dx.end())](
            DeviceContext& d) { d.ExtTextOutW(x, y, o, k ? &*k : nullptr, s, v); },
        state_->last_text_bounds());
    return ok;
  }
  bool ExtTextOutA(int x, int y, win::UINT o, const RECT* r, std::string_view t, std::span<const int> dx) override {
    const bool ok = state_->ExtTextOutA(x, y, o, r, t, dx);
    Add([=, k = Keep(r), s = std::string(t), v = std::vector<int>(dx.begin(), dx.end())](
            DeviceContext& d) { d.ExtTextOutA(x, y, o, k ? &*k : nullptr, s, v); },
        state_->last_text_bounds());
    return ok;
  }
  bool InvisibleTextOutA(int x, int y, win::UINT o, const RECT* r, std::string_view t,
                         std::span<const int> dx) override {
    const bool ok = state_->InvisibleTextOutA(x, y, o, r, t, dx);
    Add([=, k = Keep(r), s = std::string(t), v = std::vector<int>(dx.begin(), dx.end())](
            DeviceContext& d) { d.InvisibleTextOutA(x, y, o, k ? &*k : nullptr, s, v); },
        state_->last_text_bounds());
    return ok;
  }
  bool InvisibleTextOutW(int x, int y, win::UINT o, const RECT* r, std::u16string_view t,
                         std::span<const int> dx) override {
    const bool ok = state_->InvisibleTextOutW(x, y, o, r, t, dx);
    Add([=, k = Keep(r), s = std::u16string(t), v = std::vector<int>(dx.begin(), dx.end())](
            DeviceContext& d) { d.InvisibleTextOutW(x, y, o, k ? &*k : nullptr, s, v); },
        state_->last_text_bounds());
    return ok;
  }
  bool GetTextMetricsW(win::TEXTMETRICW* tm) const override { return state_->GetTextMetricsW(tm); }
  bool GetTextExtentPoint32W(std::u16string_view t, SIZE* s) const override {
    return state_->GetTextExtentPoint32W(t, s);
  }
  bool GetTextExtentPoint32A(std::string_view t, SIZE* s) const override { return state_->GetTextExtentPoint32A(t, s); }
  std::string GetTextFace() const override { return state_->GetTextFace(); }
  bool PatBlt(int x, int y, int cx, int cy, win::DWORD rop) override {
    Rop(rop, x, y, cx, cy);
    Add([=](DeviceContext& d) { d.PatBlt(x, y, cx, cy, rop); });
    return state_->PatBlt(x, y, cx, cy, rop);
  }
  // Blits from another context take its pixels now, as a bitmap.
  bool BitBlt(int x, int y, int cx, int cy, const DeviceContext* src, int xs, int ys, win::DWORD rop) override {
    return StretchBlt(x, y, cx, cy, src, xs, ys, cx, cy, rop);
  }
  bool StretchBlt(int x, int y, int cx, int cy, const DeviceContext* src, int xs, int ys, int cxs, int cys,
                  win::DWORD rop) override {
    if (!src) return PatBlt(x, y, cx, cy, rop);
    Rop(rop, x, y, cx, cy);
    auto dib = Capture(src, xs, ys, cxs, cys);
    if (!dib) return false;
    Add(
        [=](DeviceContext& d) {
          DibRef r = dib->ref();
          d.DibBlt(x, y, cx, cy, &r, 0, 0, DibWidth(*dib), DibHeight(*dib), rop);
        },
        Reach(x, y, cx, cy));
    return true;
  }
  bool StretchDIBits(int x, int y, int cx, int cy, int xs, int ys, int cxs, int cys, const DibRef& dib,
                     win::DWORD rop) override {
    Rop(rop, x, y, cx, cy);
    Add([=, k = Keep(dib)](DeviceContext& d) { d.StretchDIBits(x, y, cx, cy, xs, ys, cxs, cys, k->ref(), rop); },
        Reach(x, y, cx, cy));
    return true;
  }
  bool SetDIBitsToDevice(int x, int y, int cx, int cy, int xs, int ys, win::UINT st, win::UINT n,
                         const DibRef& dib) override {
    Add([=, k = Keep(dib)](DeviceContext& d) { d.SetDIBitsToDevice(x, y, cx, cy, xs, ys, st, n, k->ref()); },
        Reach(x, y, cx, cy));
    return true;
  }
  bool MaskBlt(int x, int y, int cx, int cy, const DeviceContext* src, int xs, int ys, const DibRef* mask, int xm,
               int ym, win::DWORD rop4) override {
    TouchLogical(x, y, cx, cy);
    std::shared_ptr<const Dib> s = src ? Capture(src, xs, ys, cx, cy) : nullptr;
    std::shared_ptr<const Dib> m = mask ? Keep(*mask) : nullptr;
    Add(
        [=](DeviceContext& d) {
          std::optional<DibRef> sr, mr;
          if (s) sr = s->ref();
          if (m) mr = m->ref();
          d.DibMaskBlt(x, y, cx, cy, sr ? &*sr : nullptr, 0, 0, mr ? &*mr : nullptr, xm, ym, rop4);
        },
        Reach(x, y, cx, cy));
    return true;
  }
  bool AlphaBlend(int x, int y, int cx, int cy, const DeviceContext* src, int xs, int ys, int cxs, int cys,
                  win::BLENDFUNCTION bf) override {
    auto dib = src ? Capture(src, xs, ys, cxs, cys) : nullptr;
    if (!dib) return false;
    Add([=](DeviceContext& d) { d.DibAlphaBlend(x, y, cx, cy, dib->ref(), 0, 0, DibWidth(*dib), DibHeight(*dib), bf); },
        Reach(x, y, cx, cy));
    return true;
  }
  bool DibBlt(int x, int y, int cx, int cy, const DibRef* src, int xs, int ys, int cxs, int cys,
              win::DWORD rop) override {
    Rop(rop, x, y, cx, cy);
    std::shared_ptr<const Dib> s = src ? Keep(*src) : nullptr;
    Add(
        [=](DeviceContext& d) {
          std::optional<DibRef> r;
          if (s) r = s->ref();
          d.DibBlt(x, y, cx, cy, r ? &*r : nullptr, xs, ys, cxs, cys, rop);
        },
        Reach(x, y, cx, cy));
    return true;
  }
  bool DibMaskBlt(int x, int y, int cx, int cy, const DibRef* src, int xs, int ys, const DibRef* mask, int xm, int ym,
                  win::DWORD rop4) override {
    TouchLogical(x, y, cx, cy);
    std::shared_ptr<const Dib> s = src ? Keep(*src) : nullptr;
    std::shared_ptr<const Dib> m = mask ? Keep(*mask) : nullptr;
    Add(
        [=](DeviceContext& d) {
          std::optional<DibRef> sr, mr;
          if (s) sr = s->ref();
          if (m) mr = m->ref();
          d.DibMaskBlt(x, y, cx, cy, sr ? &*sr : nullptr, xs, ys, mr ? &*mr : nullptr, xm, ym, rop4);
        },
        Reach(x, y, cx, cy));
    return true;
  }
  bool DibAlphaBlend(int x, int y, int cx, int cy, const DibRef& src, int xs, int ys, int cxs, int cys,
                     win::BLENDFUNCTION bf) override {
    Add([=, k = Keep(src)](DeviceContext& d) { d.DibAlphaBlend(x, y, cx, cy, k->ref(), xs, ys, cxs, cys, bf); },
        Reach(x, y, cx, cy));
    return true;
  }
  std::optional<Dib> ReadPixels(const RECT&) const override { return std::nullopt; }
  bool GdiComment(std::span<const std::uint8_t>) override { return true; }
  void SetBaseTransform(const XFORM& x) override {
    Add([=](DeviceContext& d) { d.SetBaseTransform(x); });
    state_->SetBaseTransform(x);
  }
  XFORM GetBaseTransform() const override { return state_->GetBaseTransform(); }
  void SetReferenceDevice(SIZE px, SIZE mm) override {
    Add([=](DeviceContext& d) { d.SetReferenceDevice(px, mm); });
    state_->SetReferenceDevice(px, mm);
  }

 private:
  void Add(Op op, std::optional<RECT> reach = std::nullopt) { calls_.push_back({std::move(op), reach}); }
  // Copies of the source or the pattern, black and white need no destination pixels; any
  // other operation reads the pixels of its destination rectangle (logical units).
  void Rop(win::DWORD rop, int x, int y, int cx, int cy) {
    unsigned code = (rop >> 16) & 0xFF;
    if (code != 0x00 && code != 0xFF && code != 0xCC && code != 0xF0) TouchLogical(x, y, cx, cy);
  }
  // The device pixels a rectangle in logical units covers, through the transforms now.
  RECT DeviceBox(int x, int y, int cx, int cy) const {
    auto at = [](std::int64_t v) { return int(std::clamp<std::int64_t>(v, INT32_MIN / 2, INT32_MAX / 2)); };
    POINT p[4] = {{x, y},
                  {at(std::int64_t(x) + cx), y},
                  {x, at(std::int64_t(y) + cy)},
                  {at(std::int64_t(x) + cx), at(std::int64_t(y) + cy)}};
    state_->LPtoDP(p);
    RECT r{p[0].x, p[0].y, p[0].x, p[0].y};
    for (const POINT& q : p) {
      r.left = std::min(r.left, q.x);
      r.top = std::min(r.top, q.y);
      r.right = std::max(r.right, q.x);
      r.bottom = std::max(r.bottom, q.y);
    }
    return r;
  }
  void TouchLogical(int x, int y, int cx, int cy) { TouchDevice(DeviceBox(x, y, cx, cy)); }
  // The device pixels a bitmap drawn to a destination rectangle (logical units) can reach:
  // its box grown by a pixel each way for the rounding of its edges, cut to the clip. A band
  // or picture the bitmap does not reach leaves it out without decoding it.
  std::optional<RECT> Reach(int x, int y, int cx, int cy) const {
    const RECT b = DeviceBox(x, y, cx, cy), clip = state_->DeviceClipBox();
    return RECT{std::max(b.left - 1, clip.left), std::max(b.top - 1, clip.top), std::min(b.right + 1, clip.right),
                std::min(b.bottom + 1, clip.bottom)};
  }
  // Keeps a device rectangle, grown by a pixel each way for the rounding of its edges and cut
  // to the clip.
  void TouchDevice(RECT r) {
    if (whole_page_) return;  // the page is one picture already
    const RECT clip = state_->DeviceClipBox();
    r = {std::max(r.left - 1, clip.left), std::max(r.top - 1, clip.top), std::min(r.right + 1, clip.right),
         std::min(r.bottom + 1, clip.bottom)};
    if (r.left < r.right && r.top < r.bottom) areas_.push_back(r);
    // A page of very many raster operations becomes one picture anyway; stop collecting
    // before merging the areas costs more than drawing the whole page.
    if (areas_.size() > kMostAreas) {
      whole_page_ = true;
      areas_.clear();
    }
  }
  static int DibWidth(const Dib& d) {
    auto h = win::LoadRecord<win::BITMAPINFOHEADER>(d.info);
    return h ? h->biWidth : 0;
  }
  static int DibHeight(const Dib& d) {
    auto h = win::LoadRecord<win::BITMAPINFOHEADER>(d.info);
    return h ? std::abs(h->biHeight) : 0;
  }
  std::shared_ptr<const Dib> Capture(const DeviceContext* src, int xs, int ys, int cxs, int cys) const {
    POINT pts[2] = {{xs, ys}, {xs + cxs, ys + cys}};
    src->LPtoDP(pts);
    RECT r{std::min(pts[0].x, pts[1].x), std::min(pts[0].y, pts[1].y), std::max(pts[0].x, pts[1].x),
           std::max(pts[0].y, pts[1].y)};
    auto d = src->ReadPixels(r);
    if (!d) return nullptr;
    return std::make_shared<Dib>(std::move(*d));
  }

  cairo_surface_t* probe_;
  std::unique_ptr<detail::CairoDC> state_;
  std::vector<Call> calls_;
  static constexpr size_t kMostAreas = 256;
  std::vector<RECT> areas_;
  bool whole_page_ = false;
};

// Paints `image` (a picture of `area`, page pixels) onto a page scaled by `pt` points per
// pixel, as an image placed on the page's own pixel grid. The pixels cover the drawing beneath
// them, white included. (A grey picture painted as a coverage mask would take less memory
// until the page ends, but cairo writes a mask as a soft-masked group whose box is rounded to
// whole points, which readers draw with hairline gaps between neighbours and rasterise many
// times slower.)
void PlaceImage(cairo_t* cr, cairo_surface_t* image, RECT area, double pt) {
  const int w = area.right - area.left, h = area.bottom - area.top;
  // The picture covers its area but for a thousandth of a pixel along each edge; a clip around
  // it would be written to the PDF rounded and leave hairline gaps between neighbouring
  // pictures. Readers that paint the pixels whose centres an image covers paint the same
  // pixels either way; poppler paints an image to one pixel past the pixel its edge falls in,
  // so an image whose edges fall exactly on pixel edges is stretched by a row and a column and
  // resampled (its edges and every edge inside it smeared over two rows), where this one is
  // painted pixel for pixel.
  constexpr double kInset = 1.0 / 1024;
  cairo_save(cr);
  cairo_scale(cr, pt, pt);
  cairo_translate(cr, area.left + kInset, area.top + kInset);
  cairo_scale(cr, (w - 2 * kInset) / w, (h - 2 * kInset) / h);
  cairo_set_source_surface(cr, image, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
  cairo_paint(cr);
  cairo_restore(cr);
}

// The pixels of `area` (page pixels) of an image surface whose first pixel is page pixel
// (ox, oy): their first pixel and the pixels from one row to the next.
struct AreaPixels {
  const std::uint32_t* first;
  int stride;
};
AreaPixels PixelsOf(cairo_surface_t* image, int ox, int oy, RECT area) {
  const int stride = cairo_image_surface_get_stride(image) / 4;
  const auto* px = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(image));
  return {px + size_t(area.top - oy) * size_t(stride) + size_t(area.left - ox), stride};
}

// Paints the pixels of `area` of an image surface whose first pixel is page pixel (ox, oy), as
// PlaceImage does.
void PaintPixels(cairo_t* cr, cairo_surface_t* image, int ox, int oy, RECT area, double pt) {
  const AreaPixels src = PixelsOf(image, ox, oy, area);
  const int w = area.right - area.left, h = area.bottom - area.top;
  cairo_surface_t* tile = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  cairo_surface_flush(tile);
  unsigned char* tdata = cairo_image_surface_get_data(tile);
  const int tstride = cairo_image_surface_get_stride(tile);
  for (int y = 0; y < h; ++y) {
    std::memcpy(tdata + size_t(y) * tstride, src.first + size_t(y) * size_t(src.stride), size_t(w) * 4);
  }
  cairo_surface_mark_dirty(tile);
  PlaceImage(cr, tile, area, pt);
  cairo_surface_destroy(tile);
}

// Paints, in the place of a picture of `area` compressed already (the file's picture
// `index`), a placeholder the PDF surface writes as it is: an image of the picture's size,
// never read, with the stand-in JPEG data that names it. `pixels` is memory of the image's
// size (the picture's own); the image is kept in `keep` until the page is shown.
void PaintPlaceholder(cairo_t* cr, const AreaPixels& pixels, RECT area, double pt, std::uint32_t index,
                      std::vector<cairo_surface_t*>& keep) {
  const int w = area.right - area.left, h = area.bottom - area.top;
  cairo_surface_t* image =
      cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(pixels.first)),
                                          CAIRO_FORMAT_RGB24, w, h, pixels.stride * 4);
  auto* jpeg = new std::string(PicturePlaceholder(index, w, h));
  cairo_surface_set_mime_data(
      image, CAIRO_MIME_TYPE_JPEG, reinterpret_cast<const unsigned char*>(jpeg->data()), jpeg->size(),
      [](void* p) { delete static_cast<std::string*>(p); }, jpeg);
  PlaceImage(cr, image, area, pt);
  keep.push_back(image);
}

// The tiles of a band (band pixels, `tile` wide) that hold ink (anything not white), each cut
// to the rows its ink spans. The PDF surface keeps every image painted on a page until the
// page ends, so only these are painted: a mostly white sheet costs little memory however
// large it is.
std::vector<RECT> InkedTiles(cairo_surface_t* band, int rows, int tile) {
  cairo_surface_flush(band);
  const int w = cairo_image_surface_get_width(band);
  const int stride = cairo_image_surface_get_stride(band) / 4;
  const auto* px = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(band));
  std::vector<RECT> tiles;
  for (int x0 = 0; x0 < w; x0 += tile) {
    const int tw = std::min(tile, w - x0);
    int top = rows, bottom = -1;
    for (int y = 0; y < rows; ++y) {
      const std::uint32_t* row = px + size_t(y) * stride + x0;
      for (int x = 0; x < tw; ++x) {
        if ((row[x] & 0xFFFFFF) != 0xFFFFFF) {
          top = std::min(top, y);
          bottom = y;
          break;
        }
      }
    }
    if (bottom >= 0) tiles.push_back(RECT{x0, top, x0 + tw, bottom + 1});
  }
  return tiles;
}

// The step of the page's pixels that fall on whole points (25 pixels at 300 or 600 dpi): a
// picture placed there is placed by a reader on whole pixels and not resampled (poppler places
// an image whose edge falls a rounding error short of a pixel a row or column off, and
// stretches it by one). Too coarse a step to follow at odd resolutions gives 0.
int WholePointStep(int dpi) {
  const int step = dpi / std::gcd(dpi, 72);
  return step <= 50 ? step : 0;
}

// The areas raster operations read, as pictures to place over the vector drawing: grown to
// the pixels on whole points, and joined where they overlap or lie close (one picture is
// cheaper than two neighbours).
std::vector<RECT> PictureAreas(std::vector<RECT> areas, int dpi, int page_w, int page_h) {
  if (const int grid = WholePointStep(dpi); grid > 0) {
    auto down = [&](int v) { return v / grid * grid; };
    auto up = [&](int v, int most) { return std::min(most, (v + grid - 1) / grid * grid); };
    for (RECT& r : areas) r = {down(r.left), down(r.top), up(r.right, page_w), up(r.bottom, page_h)};
  }
  constexpr int kNear = 16;
  auto near = [](const RECT& a, const RECT& b) {
    return a.left <= b.right + kNear && b.left <= a.right + kNear && a.top <= b.bottom + kNear &&
           b.top <= a.bottom + kNear;
  };
  for (bool joined = true; joined;) {
    joined = false;
    for (size_t i = 0; i < areas.size(); ++i) {
      for (size_t j = i + 1; j < areas.size(); ++j) {
        if (!near(areas[i], areas[j])) continue;
        RECT& a = areas[i];
        const RECT& b = areas[j];
        a = {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
             std::max(a.bottom, b.bottom)};
        areas.erase(areas.begin() + std::ptrdiff_t(j));
        joined = true;
        --j;
      }
    }
  }
  return areas;
}

// A sheet's size in pixels, the size of the job's first sheet, and whether a sheet of another
// size than the first came in the job up to this one.
struct SheetSize {
  int w = 0, h = 0;
  int first_w = 0, first_h = 0;
  bool resized = false;
};

// One PDF file that sheets are drawn into: a cairo PDF surface writing to a file, with the
// bands a sheet drawn as pixels is rendered in, kept from sheet to sheet. A worker's file is
// held in memory until it grows past a bound (a small job's sheets are assembled without
// files of their own), then written on to its path.
struct SheetFile {
  std::string path;
  FILE* file = nullptr;
  bool on_disk = false;       // the file at `path` was made
  std::size_t most_held = 0;  // bytes held in memory before the file is made
  std::string held;
  cairo_surface_t* pdf = nullptr;
  double sheet_w = 0, sheet_h = 0;  // the PDF surface's page size now (points)
  bool resized = false;             // cairo_pdf_surface_set_size was called
  int pages = 0;                    // pages written
  std::vector<cairo_surface_t*> bands;
  int band_w = 0, band_rows = 0;
  // Pictures are compressed on the workers that drew them and written in the place of their
  // placeholders when the job is assembled (not in a file that is the job as it is).
  bool defer = false;
  std::vector<DeflatedPicture> pictures;

  SheetFile() = default;
  SheetFile(const SheetFile&) = delete;
  SheetFile& operator=(const SheetFile&) = delete;
  ~SheetFile() {
    DropBands();
    if (pdf) cairo_surface_destroy(pdf);
    if (file) std::fclose(file);
    if (on_disk && !path.empty()) std::remove(path.c_str());
  }
  // Takes the path and the bytes to hold in memory before making the file (0: made now).
  Status Open(const std::string& p, std::size_t hold = 0) {
    path = p;
    most_held = hold;
    if (hold == 0 && !MakeFile()) return Status::IOError("cannot create " + p);
    return Status::Ok();
  }
  bool MakeFile() {
    file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    on_disk = true;
    const bool ok = std::fwrite(held.data(), 1, held.size(), file) == held.size();
    std::string().swap(held);
    return ok;
  }
  static cairo_status_t Write(void* closure, const unsigned char* data, unsigned int length) {
    SheetFile& f = *static_cast<SheetFile*>(closure);
    if (!f.file && f.held.size() + length <= f.most_held) {
      f.held.append(reinterpret_cast<const char*>(data), length);
      return CAIRO_STATUS_SUCCESS;
    }
    if (!f.file && !f.MakeFile()) return CAIRO_STATUS_WRITE_ERROR;
    return std::fwrite(data, 1, length, f.file) == length ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
  }
  void DropBands() {
    for (cairo_surface_t* b : bands) cairo_surface_destroy(b);
    bands.clear();
  }
  // Gives `count` bands of width x rows pixels, reusing those of the sheet before when they
  // have that size; false when they cannot be allocated.
  bool Bands(size_t count, int width, int rows) {
    if (band_w != width || band_rows != rows) DropBands();
    band_w = width;
    band_rows = rows;
    while (bands.size() < count) {
      cairo_surface_t* b = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, rows);
      if (cairo_surface_status(b) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(b);
        return false;
      }
      bands.push_back(b);
    }
    return true;
  }
  // Makes the PDF surface or gives it the sheet's size; takes the size and points per pixel.
  Status SizeSheet(const SheetSize& size, double pt);
  // Finishes the PDF surface and the file; the file stays (Keep() lets it stay afterwards).
  Status Finish();
  void Keep() { on_disk = false; }
  // Writes what is held in memory to `to`.
  Status WriteHeld(const std::string& to) const {
    FILE* f = std::fopen(to.c_str(), "wb");
    bool ok = f && std::fwrite(held.data(), 1, held.size(), f) == held.size();
    if (f) ok = std::fclose(f) == 0 && ok;
    return ok ? Status::Ok() : Status::IOError("writing " + to + " failed");
  }
};

// cairo (1.16) keeps the area a page may be drawn in as whole points: rounded up when the
// surface is made, but cut down once cairo_pdf_surface_set_size has changed the size, which
// clips away the last fraction of a point along the right and bottom edges (a white strip
// under a picture that fills the sheet). So the surface is made at the job's first sheet's
// size and resized only once a sheet of another size came in the job: every file a sheet is
// drawn into clips it as the job's one surface would.
Status SheetFile::SizeSheet(const SheetSize& size, double pt) {
  const double w = size.w * pt, h = size.h * pt;
  if (!pdf) {
    pdf = cairo_pdf_surface_create_for_stream(Write, this, size.first_w * pt, size.first_h * pt);
    if (cairo_surface_status(pdf) != CAIRO_STATUS_SUCCESS) return Status::IOError("cannot start the PDF file");
    sheet_w = size.first_w * pt;
    sheet_h = size.first_h * pt;
  }
  if (size.resized && (!resized || w != sheet_w || h != sheet_h)) {
    cairo_pdf_surface_set_size(pdf, w, h);
    resized = true;
  }
  sheet_w = w;
  sheet_h = h;
  return Status::Ok();
}

Status SheetFile::Finish() {
  DropBands();
  bool ok = true;
  if (pdf) {
    cairo_surface_finish(pdf);
    ok = cairo_surface_status(pdf) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(pdf);
    pdf = nullptr;
  }
  if (file) {
    ok = std::fclose(file) == 0 && ok;
    file = nullptr;
  }
  return ok ? Status::Ok() : Status::IOError("writing " + path + " failed");
}

// Draws a recorded page of the sheet's size at `dpi` as the next page of `out`. `threads` is the
// number of workers its bands and pictures are spread over (0: all cores; 1: the calling
// thread alone). Bands are as many rows as fit in 32 MiB shared by one band per core however
// many workers draw them (`band_rows` when not 0), so a page is cut into the same bands and
// tiles by every road.
Status DrawSheet(SheetFile& out, const PageRecorder& page, const SheetSize& size, int dpi, int band_rows,
                 unsigned threads) {
  const double pt = 72.0 / dpi;
  if (Status s = out.SizeSheet(size, pt); !s.ok()) return s;
  const int w = size.w, h = size.h;
  const detail::DeviceInfo info{w, h, double(dpi), double(dpi), win::DT_RASPRINTER, 24};
  const std::vector<Call>& calls = page.calls();
  std::vector<RECT> pictures = PictureAreas(page.raster_areas(), dpi, w, h);
  double covered = 0;
  for (const RECT& r : pictures) covered += double(r.right - r.left) * (r.bottom - r.top);
  // Pictures over half the page, or very many of them (each replays the whole page), cost
  // more than the page as pixels.
  constexpr size_t kMostPictures = 16;
  const bool whole = page.whole_page_raster() || covered * 2 >= double(w) * h || pictures.size() > kMostPictures;
  Status result;
  if (!whole) {
    // The pictures are drawn on the other workers while one draws the vectors: each is the
    // whole page replayed on an image of its area, so it holds what lies beneath the raster
    // operations and what is drawn over them afterwards.
    // Part 0 is the vector drawing, the others the pictures; any worker takes any part, so
    // the page is drawn whole even when no thread could be started.
    std::vector<cairo_surface_t*> images(pictures.size(), nullptr);
    workers::ForEachPart(
        pictures.size() + 1,
        [&](size_t part) {
          if (part == 0) {
            // Nothing else needs the page's pixels: the vectors, text as text.
            cairo_surface_set_device_scale(out.pdf, pt, pt);
            {
              detail::CairoDC dc(out.pdf, info);
              for (const Call& c : calls) c.op(dc);
            }
            cairo_surface_set_device_scale(out.pdf, 1, 1);
            return;
          }
          const RECT& r = pictures[part - 1];
          cairo_surface_t* img = cairo_image_surface_create(CAIRO_FORMAT_RGB24, r.right - r.left, r.bottom - r.top);
          if (cairo_surface_status(img) == CAIRO_STATUS_SUCCESS) {
            cairo_surface_flush(img);
            std::memset(cairo_image_surface_get_data(img), 0xFF,
                        size_t(cairo_image_surface_get_stride(img)) * (r.bottom - r.top));
            cairo_surface_mark_dirty(img);
            detail::CairoDC dc(img, info, r.left, r.top);
            Replay(calls, dc, r);
          }
          cairo_surface_flush(img);
          images[part - 1] = img;
        },
        threads);
    // Compressed where they were drawn when the file defers its pictures, on as many cores.
    std::vector<DeflatedPicture> deflated(out.defer ? pictures.size() : 0);
    workers::ForEachPart(deflated.size(), [&](size_t i) {
      if (cairo_surface_status(images[i]) != CAIRO_STATUS_SUCCESS) return;
      const RECT& r = pictures[i];
      const AreaPixels px = PixelsOf(images[i], r.left, r.top, r);
      deflated[i] = DeflatePixels(px.first, px.stride, r.right - r.left, r.bottom - r.top);
    });
    std::vector<cairo_surface_t*> keep;
    cairo_t* cr = cairo_create(out.pdf);
    for (size_t i = 0; i < pictures.size(); ++i) {
      const RECT& r = pictures[i];
      if (cairo_surface_status(images[i]) != CAIRO_STATUS_SUCCESS) {
        result = Status::IOError("cannot allocate a picture of the page");
      } else if (!out.defer) {
        PaintPixels(cr, images[i], r.left, r.top, r, pt);
      } else if (deflated[i].data.empty()) {
        result = Status::IOError("cannot compress a picture of the page");
      } else {
        out.pictures.push_back(std::move(deflated[i]));
        PaintPlaceholder(cr, PixelsOf(images[i], r.left, r.top, r), r, pt, std::uint32_t(out.pictures.size() - 1),
                         keep);
      }
    }
    cairo_show_page(cr);
    cairo_destroy(cr);
    for (cairo_surface_t* k : keep) cairo_surface_destroy(k);
    for (cairo_surface_t* img : images) cairo_surface_destroy(img);
  } else {
    std::vector<cairo_surface_t*> keep;  // placeholders, until the page is shown
    cairo_t* cr = cairo_create(out.pdf);
    // Bands of about 32 MiB together, one per core drawn at the same time: a whole page at
    // 600 dpi would take far more, and the bands are reused for every group of strips.
    const unsigned cores = workers::UsableCores();
    // Bands and their tiles start on whole points, so that no reader resamples them.
    const int step = WholePointStep(dpi);
    int rows = band_rows > 0 ? band_rows : std::max(1, int((32u << 20) / (4u * unsigned(w) * cores)));
    if (band_rows <= 0 && step > 0) rows = std::max(step, rows / step * step);
    const int tile = step > 0 ? 256 / step * step : 256;
    rows = std::min(rows, h);
    const int bands = (h + rows - 1) / rows;
    const size_t strips = std::min<size_t>(threads == 0 ? cores : threads, size_t(bands));
    if (!out.Bands(strips, w, rows)) result = Status::IOError("cannot allocate a band of the page");
    for (int first = 0; result.ok() && first < bands; first += int(strips)) {
      const size_t n = std::min(strips, size_t(bands - first));
      workers::ForEachPart(
          n,
          [&](size_t i) {
            cairo_surface_t* band = out.bands[i];
            const int y0 = (first + int(i)) * rows, bh = std::min(rows, h - y0);
            cairo_surface_flush(band);
            std::memset(cairo_image_surface_get_data(band), 0xFF, size_t(cairo_image_surface_get_stride(band)) * rows);
            cairo_surface_mark_dirty(band);
            {
              detail::CairoDC dc(band, info, 0, y0);
              Replay(calls, dc, RECT{0, y0, w, y0 + bh});
            }
            cairo_surface_flush(band);
          },
          threads);
      // The inked tiles of the bands, in order; compressed on as many cores when the file
      // defers its pictures (the PDF surface would compress them one after another).
      struct Tile {
        size_t band;
        int y0;
        RECT area;  // page pixels
      };
      std::vector<Tile> tiles;
      for (size_t i = 0; i < n; ++i) {
        const int y0 = (first + int(i)) * rows;
        for (const RECT& t : InkedTiles(out.bands[i], std::min(rows, h - y0), tile)) {
          tiles.push_back(Tile{i, y0, RECT{t.left, y0 + t.top, t.right, y0 + t.bottom}});
        }
      }
      if (!out.defer) {
        for (const Tile& t : tiles) PaintPixels(cr, out.bands[t.band], 0, t.y0, t.area, pt);
        continue;
      }
      std::vector<DeflatedPicture> deflated(tiles.size());
      workers::ForEachPart(tiles.size(), [&](size_t j) {
        const Tile& t = tiles[j];
        const AreaPixels px = PixelsOf(out.bands[t.band], 0, t.y0, t.area);
        deflated[j] = DeflatePixels(px.first, px.stride, t.area.right - t.area.left, t.area.bottom - t.area.top);
      });
      for (size_t j = 0; j < tiles.size(); ++j) {
        if (deflated[j].data.empty()) {
          result = Status::IOError("cannot compress a picture of the page");
          break;
        }
        out.pictures.push_back(std::move(deflated[j]));
        const Tile& t = tiles[j];
        PaintPlaceholder(cr, PixelsOf(out.bands[t.band], 0, t.y0, t.area), t.area, pt,
                         std::uint32_t(out.pictures.size() - 1), keep);
      }
    }
    // The sheet's text over its pictures, without ink: readers of the PDF find it still.
    cairo_surface_flush(out.pdf);
    cairo_surface_set_device_scale(out.pdf, pt, pt);
    {
      detail::CairoDC dc(out.pdf, info);
      dc.set_text_only(true);
      for (const Call& c : calls) c.op(dc);
    }
    cairo_surface_flush(out.pdf);
    cairo_surface_set_device_scale(out.pdf, 1, 1);
    cairo_show_page(cr);
    cairo_destroy(cr);
    for (cairo_surface_t* k : keep) cairo_surface_destroy(k);
  }
  ++out.pages;
  if (result.ok() && cairo_surface_status(out.pdf) != CAIRO_STATUS_SUCCESS) {
    result = Status::IOError("writing the PDF page failed");
  }
  return result;
}

// Where a sheet of the job was drawn: the file (a worker's seat) and its page there.
struct Placement {
  int file = -1;
  int page = -1;
};

// Writes the sheets, taken in order from the files they were drawn into, as one PDF at `out`
// (sheet_merge.h).
Status MergeSheets(const std::vector<std::unique_ptr<SheetFile>>& files, const std::vector<Placement>& sheets,
                   const std::string& out) {
  std::vector<SheetSource> sources(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    if (!files[i]) continue;
    sources[i] = SheetSource{files[i]->path, files[i]->on_disk, &files[i]->held, files[i]->pages,
                             files[i]->pictures.empty() ? nullptr : &files[i]->pictures};
  }
  std::vector<SheetPlace> places;
  places.reserve(sheets.size());
  for (const Placement& p : sheets) places.push_back(SheetPlace{p.file, p.page});
  return AssembleSheets(sources, places, out);
}

}  // namespace

// The bytes of a worker's file held in memory before it is written to disk.
constexpr std::size_t kMostHeld = 4u << 20;

struct PrinterSurface::Impl {
  std::string path, temp_path;
  int dpi = 600;
  bool open = false;
  bool serial = false;
  std::unique_ptr<PageRecorder> page;
  int page_w = 0, page_h = 0;
  SheetSize first;  // the first sheet's size; `resized` once a sheet of another size came
  // The serial road: every sheet drawn on the calling thread into this file (temp_path).
  std::unique_ptr<SheetFile> one;
  // Sheets in parallel: one file per worker seat, created with the seat's first sheet.
  std::unique_ptr<workers::Crew> crew;
  std::vector<std::unique_ptr<SheetFile>> files;
  std::mutex mu;  // guards `sheets` and `error` while the crew draws
  std::vector<Placement> sheets;
  Status error;  // the first failure of a sheet

  ~Impl() {
    // Sheets still being drawn finish before their files go.
    if (crew) crew->Finish();
    page.reset();
    if (!temp_path.empty()) std::remove(temp_path.c_str());
  }
  std::string SeatPath(unsigned seat) const { return temp_path + "." + std::to_string(seat); }
  void Fail(const Status& s) {
    std::lock_guard<std::mutex> lock(mu);
    if (error.ok()) error = s;
  }
};

namespace {

// A job's sheets copy and free bitmaps, pictures and bands of megabytes on many threads at
// once. Each such block malloc maps afresh and unmaps again, or returns to the system when it
// is freed, costs page faults and, in a process of many threads, a flush of every core's
// address cache: recording a page of large bitmaps took 40 times as long beside seven workers.
// Blocks up to 32 MiB are kept in the heap instead, and up to 256 MiB of free heap is kept.
void KeepLargeBlocks() {
  static std::once_flag once;
  std::call_once(once, [] {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
  });
}

}  // namespace

Result<std::unique_ptr<PrinterSurface>> PrinterSurface::Create(const std::string& pdf_path, int dpi) {
  if (dpi < 10 || dpi > 4800) return Status::InvalidArgument("printer resolution out of range");
  KeepLargeBlocks();
  std::unique_ptr<PrinterSurface> p(new PrinterSurface());
  p->impl_ = std::make_unique<Impl>();
  Impl& m = *p->impl_;
  m.path = pdf_path;
  m.dpi = dpi;
  // The job's file is made now, so that a folder that takes no file fails here.
  m.one = std::make_unique<SheetFile>();
  if (Status s = m.one->Open(pdf_path + ".tmp"); !s.ok()) return Status::IOError("cannot create " + pdf_path);
  m.temp_path = m.one->path;
  m.open = true;
  return p;
}

PrinterSurface::~PrinterSurface() = default;

void PrinterSurface::set_serial(bool serial) {
  if (pages_ == 0) impl_->serial = serial;
}

Result<DeviceContext*> PrinterSurface::StartPage(int width, int height) {
  Impl& m = *impl_;
  if (!m.open) return Status::InvalidArgument("the printer is closed");
  if (m.page) {
    if (Status s = EndPage(); !s.ok()) return s;
  }
  if (width <= 0 || height <= 0 || width > 200000 || height > 200000) {
    return Status::InvalidArgument("page size out of range");
  }
  m.page = std::make_unique<PageRecorder>(width, height, double(m.dpi));
  m.page_w = width;
  m.page_h = height;
  return static_cast<DeviceContext*>(m.page.get());
}

Status PrinterSurface::EndPage() {
  Impl& m = *impl_;
  if (!m.page) return Status::InvalidArgument("no page is open");
  std::shared_ptr<const PageRecorder> page = std::move(m.page);
  if (pages_++ == 0) m.first = SheetSize{m.page_w, m.page_h, m.page_w, m.page_h, false};
  if (m.page_w != m.first.w || m.page_h != m.first.h) m.first.resized = true;
  const SheetSize size{m.page_w, m.page_h, m.first.w, m.first.h, m.first.resized};
  if (m.serial) {
    Status s = DrawSheet(*m.one, *page, size, m.dpi, band_rows_, 0);
    if (!s.ok()) m.Fail(s);
    return s;
  }
  if (!m.crew) {
    // One seat per core; the sheets waiting are bounded (each holds its recorded calls).
    const unsigned cores = workers::UsableCores();
    m.crew = std::make_unique<workers::Crew>(cores, 2 * size_t(cores));
    m.files.resize(m.crew->seats());
  }
  size_t index;
  {
    std::lock_guard<std::mutex> lock(m.mu);
    index = m.sheets.size();
    m.sheets.emplace_back();
  }
  m.crew->Submit([&m, page, index, size, rows = band_rows_](unsigned seat) {
    // Each seat draws text in fonts of its own.
    detail::UseFontSlot(seat);
    std::unique_ptr<SheetFile>& file = m.files[seat];
    if (!file) {
      file = std::make_unique<SheetFile>();
      if (Status s = file->Open(m.SeatPath(seat), kMostHeld); !s.ok()) {
        file.reset();
        m.Fail(s);
        return;
      }
      // With one seat the seat's file is the job as it is: its pictures are compressed there.
      file->defer = m.crew->seats() > 1;
    }
    const int at = file->pages;
    Status s = DrawSheet(*file, *page, size, m.dpi, rows, 1);
    std::lock_guard<std::mutex> lock(m.mu);
    if (file->pages > at) m.sheets[index] = Placement{int(seat), at};
    if (!s.ok() && m.error.ok()) m.error = s;
  });
  std::lock_guard<std::mutex> lock(m.mu);
  return m.error;
}

Result<int> PrinterSurface::Close() {
  Impl& m = *impl_;
  if (!m.open) return Status::InvalidArgument("the printer is closed");
  if (m.page) (void)EndPage();  // its failure is kept in m.error
  m.open = false;
  Status s;
  if (m.crew) {
    m.crew->Finish();
    // The files finish (fonts are written then) on as many cores.
    std::vector<Status> finished(m.files.size());
    workers::ForEachPart(m.files.size(), [&](size_t i) {
      if (m.files[i]) finished[i] = m.files[i]->Finish();
    });
    s = m.error;
    for (const Status& f : finished) {
      if (s.ok() && !f.ok()) s = f;
    }
    if (s.ok()) s = m.one->Finish();
    // Sheets drawn all into one file, in order, are the job as they are.
    size_t used = 0, last = 0;
    for (size_t i = 0; i < m.files.size(); ++i) {
      if (m.files[i] && m.files[i]->pages > 0) ++used, last = i;
    }
    // (A file whose pictures wait for their placeholders is assembled all the same.)
    if (used == 1 && !m.files[last]->pictures.empty()) used = 0;
    if (s.ok() && used == 1 && !m.files[last]->on_disk) {
      s = m.files[last]->WriteHeld(m.temp_path);
    } else if (s.ok() && used == 1) {
      std::error_code ec;
      std::filesystem::rename(m.files[last]->path, m.temp_path, ec);
      if (ec) s = Status::IOError("cannot rename the PDF into place: " + ec.message());
      if (s.ok()) m.files[last]->Keep();
    } else if (s.ok()) {
      s = MergeSheets(m.files, m.sheets, m.temp_path);
    }
    m.files.clear();
  } else {
    s = m.error;
    // No page was printed: an empty document of the placeholder size.
    if (!m.one->pdf) {
      if (Status made = m.one->SizeSheet(SheetSize{595, 842, 595, 842, false}, 1); !made.ok() && s.ok()) s = made;
    }
    if (Status f = m.one->Finish(); s.ok()) s = f;
  }
  m.one->Keep();  // temp_path is removed by the Impl unless renamed below
  if (!s.ok()) return s;
  std::error_code ec;
  std::filesystem::rename(m.temp_path, m.path, ec);
  if (ec) return Status::IOError("cannot rename the PDF into place: " + ec.message());
  m.temp_path.clear();
  return pages_;
}

}  // namespace zv::gdi
