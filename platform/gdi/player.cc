#include "platform/gdi/player.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/gdi/emf/records.h"
#include "platform/gdi/internal/round.h"

namespace zv::gdi {

namespace {

using emf::Record;

std::vector<POINT> ToPoints(const emf::Points& pts) { return pts.ToVector(); }

DibRef RefOf(const emf::Dib& d) { return DibRef{d.info, d.bits, d.usage}; }

std::shared_ptr<const Dib> OwnedOf(const emf::Dib& d) { return std::make_shared<Dib>(Dib::Copy(RefOf(d))); }

using detail::RoundI;

// A text record's graphics mode; anything but GM_ADVANCED is taken as GM_COMPATIBLE.
int GraphicsModeOf(const emf::Text& t) {
  return t.graphics_mode == win::GM_ADVANCED ? int(win::GM_ADVANCED) : int(win::GM_COMPATIBLE);
}

}  // namespace

Result<Player> Player::Open(std::span<const std::uint8_t> bytes) {
  auto mf = emf::Metafile::Parse(bytes);
  if (!mf.ok()) return mf.status();
  return Player(std::move(*mf));
}

bool Player::IsPlayedType(std::uint32_t t) {
  switch (t) {
    case win::EMR_HEADER:
    case win::EMR_EOF:
    case win::EMR_GDICOMMENT:
    case win::EMR_POLYBEZIER:
    case win::EMR_POLYGON:
    case win::EMR_POLYLINE:
    case win::EMR_POLYBEZIERTO:
    case win::EMR_POLYLINETO:
    case win::EMR_POLYPOLYLINE:
    case win::EMR_POLYPOLYGON:
    case win::EMR_POLYBEZIER16:
    case win::EMR_POLYGON16:
    case win::EMR_POLYLINE16:
    case win::EMR_POLYBEZIERTO16:
    case win::EMR_POLYLINETO16:
    case win::EMR_POLYPOLYLINE16:
    case win::EMR_POLYPOLYGON16:
    case win::EMR_POLYDRAW:
    case win::EMR_POLYDRAW16:
    case win::EMR_SETWINDOWEXTEX:
    case win::EMR_SETWINDOWORGEX:
    case win::EMR_SETVIEWPORTEXTEX:
    case win::EMR_SETVIEWPORTORGEX:
    case win::EMR_SETBRUSHORGEX:
    case win::EMR_SETPIXELV:
    case win::EMR_SETMAPPERFLAGS:
    case win::EMR_SETMAPMODE:
    case win::EMR_SETBKMODE:
    case win::EMR_SETPOLYFILLMODE:
    case win::EMR_SETROP2:
    case win::EMR_SETSTRETCHBLTMODE:
    case win::EMR_SETTEXTALIGN:
    case win::EMR_SETTEXTCOLOR:
    case win::EMR_SETBKCOLOR:
    case win::EMR_OFFSETCLIPRGN:
    case win::EMR_MOVETOEX:
    case win::EMR_SETMETARGN:
    case win::EMR_EXCLUDECLIPRECT:
    case win::EMR_INTERSECTCLIPRECT:
    case win::EMR_SCALEVIEWPORTEXTEX:
    case win::EMR_SCALEWINDOWEXTEX:
    case win::EMR_SAVEDC:
    case win::EMR_RESTOREDC:
    case win::EMR_SETWORLDTRANSFORM:
    case win::EMR_MODIFYWORLDTRANSFORM:
    case win::EMR_SELECTOBJECT:
    case win::EMR_CREATEPEN:
    case win::EMR_CREATEBRUSHINDIRECT:
    case win::EMR_DELETEOBJECT:
    case win::EMR_ANGLEARC:
    case win::EMR_ELLIPSE:
    case win::EMR_RECTANGLE:
    case win::EMR_ROUNDRECT:
    case win::EMR_ARC:
    case win::EMR_CHORD:
    case win::EMR_PIE:
    case win::EMR_LINETO:
    case win::EMR_ARCTO:
    case win::EMR_SETARCDIRECTION:
    case win::EMR_SETMITERLIMIT:
    case win::EMR_BEGINPATH:
    case win::EMR_ENDPATH:
    case win::EMR_CLOSEFIGURE:
    case win::EMR_FILLPATH:
    case win::EMR_STROKEANDFILLPATH:
    case win::EMR_STROKEPATH:
    case win::EMR_FLATTENPATH:
    case win::EMR_WIDENPATH:
    case win::EMR_SELECTCLIPPATH:
    case win::EMR_ABORTPATH:
    case win::EMR_FILLRGN:
    case win::EMR_FRAMERGN:
    case win::EMR_INVERTRGN:
    case win::EMR_PAINTRGN:
    case win::EMR_EXTSELECTCLIPRGN:
    case win::EMR_BITBLT:
    case win::EMR_STRETCHBLT:
    case win::EMR_MASKBLT:
    case win::EMR_SETDIBITSTODEVICE:
    case win::EMR_STRETCHDIBITS:
    case win::EMR_EXTCREATEFONTINDIRECTW:
    case win::EMR_EXTTEXTOUTA:
    case win::EMR_EXTTEXTOUTW:
    case win::EMR_CREATEMONOBRUSH:
    case win::EMR_CREATEDIBPATTERNBRUSHPT:
    case win::EMR_EXTCREATEPEN:
    case win::EMR_POLYTEXTOUTA:
    case win::EMR_POLYTEXTOUTW:
    case win::EMR_SMALLTEXTOUT:
    case win::EMR_ALPHABLEND:
    case win::EMR_SETTEXTJUSTIFICATION:
    case win::EMR_SETLAYOUT:
    case win::EMR_GRADIENTFILL:
    case win::EMR_TRANSPARENTBLT:
      return true;
    default:
      return false;
  }
}

Status Player::Play(DeviceContext& dc, const RECT* dest, const PlayHook& hook) {
  const emf::Header& h = header();
  dc_ = &dc;
  stats_ = PlayStats{};
  handles_.assign(std::max<std::size_t>(h.handles, 1), std::monostate{});
  saves_ = 0;
  // Map the picture frame (0.01 mm) onto the destination, through the reference device.
  base_ = IdentityXform();
  if (dest) {
    double px_per_x = double(h.device.cx) / (double(h.millimeters.cx) * 100.0);
    double px_per_y = double(h.device.cy) / (double(h.millimeters.cy) * 100.0);
    double fl = h.frame.left * px_per_x, ft = h.frame.top * px_per_y;
    double fw = (double(h.frame.right) - h.frame.left) * px_per_x;
    double fh = (double(h.frame.bottom) - h.frame.top) * px_per_y;
    // Some writers leave the frame empty; the bounds (inclusive, hence the +1) come next, then
    // the reference device's whole surface.
    if (!(fw > 0) || !(fh > 0)) {
      fl = h.bounds.left;
      ft = h.bounds.top;
      fw = double(h.bounds.right) - h.bounds.left + 1;
      fh = double(h.bounds.bottom) - h.bounds.top + 1;
    }
    if (!(fw > 0) || !(fh > 0)) {
      fl = ft = 0;
      fw = h.device.cx;
      fh = h.device.cy;
    }
    POINT corners[2] = {{dest->left, dest->top}, {dest->right, dest->bottom}};
    dc.LPtoDP(corners);
    double sx = (corners[1].x - corners[0].x) / fw, sy = (corners[1].y - corners[0].y) / fh;
    base_ = XFORM{float(sx), 0, 0, float(sy), float(corners[0].x - fl * sx), float(corners[0].y - ft * sy)};
  } else {
    base_ = dc.GetBaseTransform();
  }
  const int level = dc.SaveDC();
  // The playback starts from the default state, inside the caller's clip (the meta region).
  dc.SetMetaRgn();
  dc.SetBaseTransform(base_);
  // Fixed map modes measure against the device the metafile was recorded for.
  dc.SetReferenceDevice(SIZE{h.device.cx, h.device.cy}, SIZE{h.millimeters.cx, h.millimeters.cy});
  dc.SetMapMode(win::MM_TEXT);
  dc.SetWindowOrgEx(0, 0);
  dc.SetViewportOrgEx(0, 0);
  dc.ModifyWorldTransform(IdentityXform(), win::MWT_IDENTITY);
  dc.SelectStockObject(win::BLACK_PEN);
  dc.SelectStockObject(win::WHITE_BRUSH);
  dc.SelectStockObject(win::SYSTEM_FONT);
  dc.SetTextColor(0);
  dc.SetBkColor(0xFFFFFF);
  dc.SetBkMode(win::OPAQUE);
  dc.SetTextAlign(0);
  dc.SetROP2(win::R2_COPYPEN);
  dc.SetPolyFillMode(win::ALTERNATE);
  dc.SetStretchBltMode(win::BLACKONWHITE);
  dc.SetGraphicsMode(int(win::GM_COMPATIBLE));
  dc.MoveToEx(0, 0);

  Status result;
  emf::RecordReader reader = metafile_->records();
  emf::Record rec;
  while (reader.Next(&rec)) {
    ++stats_.records;
    Status s = hook ? hook(*this, rec) : PlayRecord(rec);
    if (!s.ok()) {
      result = s;
      break;
    }
  }
  if (result.ok() && !reader.status().ok()) result = reader.status();
  if (level > 0) dc.RestoreDC(level);
  dc_ = nullptr;
  return result;
}

Status Player::PlayBytes(std::span<const std::uint8_t> bytes) {
  auto r = emf::MakeRecord(bytes, header().handles);
  if (!r.ok()) return r.status();
  return PlayRecord(*r);
}

namespace {

// Takes a record; gives whether it is a comment carrying drawing of its own that the player
// does not draw (EMF+ records, with their transparency), so it counts as skipped, not played.
bool IsUndrawnDrawingComment(const emf::Record& r) {
  if (r.type != win::EMR_GDICOMMENT) return false;
  auto c = emf::ReadComment(r);
  if (!c.ok() || !c->data || c->data->size() < 4) return false;
  static constexpr std::uint8_t kEmfPlus[4] = {'E', 'M', 'F', '+'};
  return std::equal(std::begin(kEmfPlus), std::end(kEmfPlus), c->data->begin());
}

}  // namespace

Status Player::PlayRecord(const emf::Record& r) {
  if (!dc_) return Status::InvalidArgument("no playback in progress");
  if (!IsPlayedType(r.type) || IsUndrawnDrawingComment(r)) {
    ++stats_.skipped;
    ++stats_.skipped_by_type[r.type];
    return Status::Ok();
  }
  Status s = Dispatch(r);
  if (s.ok()) ++stats_.played;
  return s;
}

const Player::Object* Player::Lookup(win::DWORD ih) const {
  if (ih >= handles_.size()) return nullptr;
  return &handles_[ih];
}

std::optional<Brush> Player::BrushOf(win::DWORD ih) const {
  if (ih & win::ENHMETA_STOCK_OBJECT) return StockBrush(int(ih & ~win::ENHMETA_STOCK_OBJECT));
  const Object* o = Lookup(ih);
  if (o && std::holds_alternative<Brush>(*o)) return std::get<Brush>(*o);
  return std::nullopt;
}

Region Player::ToDeviceRegion(const emf::Region& rgn) const {
  std::vector<RECT> rects;
  rects.reserve(rgn.rects.size());
  // Region records are in the recording device's pixels: only the base mapping applies, never
  // the world transform or map mode in force at the time.
  for (win::RECTL q : rgn.rects) {
    double x0 = base_.eM11 * q.left + base_.eM21 * q.top + base_.eDx;
    double y0 = base_.eM12 * q.left + base_.eM22 * q.top + base_.eDy;
    double x1 = base_.eM11 * q.right + base_.eM21 * q.bottom + base_.eDx;
    double y1 = base_.eM12 * q.right + base_.eM22 * q.bottom + base_.eDy;
    rects.push_back(
        {RoundI(std::min(x0, x1)), RoundI(std::min(y0, y1)), RoundI(std::max(x0, x1)), RoundI(std::max(y0, y1))});
  }
  return Region(rects);
}

#define ZV_READ(var, expr) \
  auto var = (expr);       \
  if (!var.ok()) return var.status();

Status Player::Dispatch(const emf::Record& r) {
  DeviceContext& dc = *dc_;
  switch (r.type) {
    case win::EMR_HEADER:
    case win::EMR_EOF:
    case win::EMR_GDICOMMENT: {
      Status s = emf::Validate(r);
      return s;
    }

    // ---- shapes ----
    case win::EMR_POLYBEZIER:
    case win::EMR_POLYBEZIER16:
    case win::EMR_POLYGON:
    case win::EMR_POLYGON16:
    case win::EMR_POLYLINE:
    case win::EMR_POLYLINE16:
    case win::EMR_POLYBEZIERTO:
    case win::EMR_POLYBEZIERTO16:
    case win::EMR_POLYLINETO:
    case win::EMR_POLYLINETO16: {
      ZV_READ(p, emf::ReadPoly(r));
      std::vector<POINT> pts = ToPoints(p->points);
      switch (r.type) {
        case win::EMR_POLYBEZIER:
        case win::EMR_POLYBEZIER16:
          dc.PolyBezier(pts);
          break;
        case win::EMR_POLYGON:
        case win::EMR_POLYGON16:
          dc.Polygon(pts);
          break;
        case win::EMR_POLYLINE:
        case win::EMR_POLYLINE16:
          dc.Polyline(pts);
          break;
        case win::EMR_POLYBEZIERTO:
        case win::EMR_POLYBEZIERTO16:
          dc.PolyBezierTo(pts);
          break;
        default:
          dc.PolylineTo(pts);
          break;
      }
      return Status::Ok();
    }
    case win::EMR_POLYPOLYLINE:
    case win::EMR_POLYPOLYLINE16:
    case win::EMR_POLYPOLYGON:
    case win::EMR_POLYPOLYGON16: {
      ZV_READ(p, emf::ReadPolyPoly(r));
      std::vector<POINT> pts = ToPoints(p->points);
      std::vector<win::DWORD> counts(p->counts.begin(), p->counts.end());
      if (r.type == win::EMR_POLYPOLYLINE || r.type == win::EMR_POLYPOLYLINE16) dc.PolyPolyline(pts, counts);
      else dc.PolyPolygon(pts, counts);
      return Status::Ok();
    }
    case win::EMR_POLYDRAW:
    case win::EMR_POLYDRAW16: {
      ZV_READ(p, emf::ReadPolyDraw(r));
      std::vector<POINT> pts = ToPoints(p->points);
      std::vector<win::BYTE> types(p->types.begin(), p->types.end());
      dc.PolyDraw(pts, types);
      return Status::Ok();
    }
    case win::EMR_LINETO:
    case win::EMR_MOVETOEX: {
      ZV_READ(m, emf::ReadFixed<win::EMRMOVETOEX>(r));
      if (r.type == win::EMR_LINETO) dc.LineTo(m->ptl.x, m->ptl.y);
      else dc.MoveToEx(m->ptl.x, m->ptl.y);
      return Status::Ok();
    }
    case win::EMR_RECTANGLE:
    case win::EMR_ELLIPSE: {
      ZV_READ(e, emf::ReadFixed<win::EMRELLIPSE>(r));
      const RECT& b = e->rclBox;
      if (r.type == win::EMR_RECTANGLE) dc.Rectangle(b.left, b.top, b.right, b.bottom);
      else dc.Ellipse(b.left, b.top, b.right, b.bottom);
      return Status::Ok();
    }
    case win::EMR_ROUNDRECT: {
      ZV_READ(e, emf::ReadFixed<win::EMRROUNDRECT>(r));
      dc.RoundRect(e->rclBox.left, e->rclBox.top, e->rclBox.right, e->rclBox.bottom, e->szlCorner.cx, e->szlCorner.cy);
      return Status::Ok();
    }
    case win::EMR_ARC:
    case win::EMR_ARCTO:
    case win::EMR_CHORD:
    case win::EMR_PIE: {
      ZV_READ(a, emf::ReadFixed<win::EMRARC>(r));
      const auto& x = *a;
      if (r.type == win::EMR_ARC) dc.Arc(x.rclBox, x.ptlStart.x, x.ptlStart.y, x.ptlEnd.x, x.ptlEnd.y);
      else if (r.type == win::EMR_ARCTO) dc.ArcTo(x.rclBox, x.ptlStart.x, x.ptlStart.y, x.ptlEnd.x, x.ptlEnd.y);
      else if (r.type == win::EMR_CHORD) dc.Chord(x.rclBox, x.ptlStart.x, x.ptlStart.y, x.ptlEnd.x, x.ptlEnd.y);
      else dc.Pie(x.rclBox, x.ptlStart.x, x.ptlStart.y, x.ptlEnd.x, x.ptlEnd.y);
      return Status::Ok();
    }
    case win::EMR_ANGLEARC: {
      ZV_READ(a, emf::ReadFixed<win::EMRANGLEARC>(r));
      dc.AngleArc(a->ptlCenter.x, a->ptlCenter.y, a->nRadius, a->eStartAngle, a->eSweepAngle);
      return Status::Ok();
    }
    case win::EMR_SETPIXELV: {
      ZV_READ(p, emf::ReadFixed<win::EMRSETPIXELV>(r));
      dc.SetPixelV(p->ptlPixel.x, p->ptlPixel.y, p->crColor);
      return Status::Ok();
    }

    // ---- coordinates ----
    case win::EMR_SETMAPMODE:
    case win::EMR_SETBKMODE:
    case win::EMR_SETPOLYFILLMODE:
    case win::EMR_SETROP2:
    case win::EMR_SETSTRETCHBLTMODE:
    case win::EMR_SETTEXTALIGN:
    case win::EMR_SETARCDIRECTION:
    case win::EMR_SELECTCLIPPATH:
    case win::EMR_SETLAYOUT: {
      ZV_READ(m, emf::ReadFixed<win::EMRSETMAPMODE>(r));
      int v = int(m->iMode);
      switch (r.type) {
        case win::EMR_SETMAPMODE:
          dc.SetMapMode(v);
          break;
        case win::EMR_SETBKMODE:
          dc.SetBkMode(v);
          break;
        case win::EMR_SETPOLYFILLMODE:
          dc.SetPolyFillMode(v);
          break;
        case win::EMR_SETROP2:
          dc.SetROP2(v);
          break;
        case win::EMR_SETSTRETCHBLTMODE:
          dc.SetStretchBltMode(v);
          break;
        case win::EMR_SETTEXTALIGN:
          dc.SetTextAlign(m->iMode);
          break;
        case win::EMR_SETARCDIRECTION:
          dc.SetArcDirection(v);
          break;
        case win::EMR_SELECTCLIPPATH:
          dc.SelectClipPath(v);
          break;
        default:
          if (v != 0) {  // right-to-left layout is not drawn
            ++stats_.skipped;
            ++stats_.skipped_by_type[r.type];
            --stats_.played;
          }
          break;
      }
      return Status::Ok();
    }
    case win::EMR_SETWINDOWEXTEX:
    case win::EMR_SETVIEWPORTEXTEX: {
      ZV_READ(e, emf::ReadFixed<win::EMRSETVIEWPORTEXTEX>(r));
      if (r.type == win::EMR_SETWINDOWEXTEX) dc.SetWindowExtEx(e->szlExtent.cx, e->szlExtent.cy);
      else dc.SetViewportExtEx(e->szlExtent.cx, e->szlExtent.cy);
      return Status::Ok();
    }
    case win::EMR_SETWINDOWORGEX:
    case win::EMR_SETVIEWPORTORGEX:
    case win::EMR_SETBRUSHORGEX: {
      ZV_READ(o, emf::ReadFixed<win::EMRSETVIEWPORTORGEX>(r));
      if (r.type == win::EMR_SETWINDOWORGEX) dc.SetWindowOrgEx(o->ptlOrigin.x, o->ptlOrigin.y);
      else if (r.type == win::EMR_SETVIEWPORTORGEX) dc.SetViewportOrgEx(o->ptlOrigin.x, o->ptlOrigin.y);
      else dc.SetBrushOrgEx(o->ptlOrigin.x, o->ptlOrigin.y);
      return Status::Ok();
    }
    case win::EMR_SCALEWINDOWEXTEX:
    case win::EMR_SCALEVIEWPORTEXTEX: {
      ZV_READ(s, emf::ReadFixed<win::EMRSCALEVIEWPORTEXTEX>(r));
      if (r.type == win::EMR_SCALEWINDOWEXTEX) dc.ScaleWindowExtEx(s->xNum, s->xDenom, s->yNum, s->yDenom);
      else dc.ScaleViewportExtEx(s->xNum, s->xDenom, s->yNum, s->yDenom);
      return Status::Ok();
    }
    case win::EMR_SETWORLDTRANSFORM: {
      ZV_READ(x, emf::ReadFixed<win::EMRSETWORLDTRANSFORM>(r));
      dc.SetWorldTransform(x->xform);
      return Status::Ok();
    }
    case win::EMR_MODIFYWORLDTRANSFORM: {
      ZV_READ(x, emf::ReadFixed<win::EMRMODIFYWORLDTRANSFORM>(r));
      dc.ModifyWorldTransform(x->xform, x->iMode);
      return Status::Ok();
    }
    case win::EMR_SAVEDC: {
      if (dc.SaveDC() > 0) ++saves_;
      return emf::Validate(r);
    }
    case win::EMR_RESTOREDC: {
      ZV_READ(x, emf::ReadFixed<win::EMRRESTOREDC>(r));
      // Only the metafile's own saves can be restored: never the player's.
      int rel = x->iRelative;
      if (rel < 0 && -rel <= saves_) {
        if (dc.RestoreDC(rel)) saves_ += rel;
        // A positive number names a saved state by its depth; it becomes the relative pop that ends there.
      } else if (rel > 0 && rel <= saves_) {
        int pop = saves_ - rel + 1;
        if (dc.RestoreDC(-pop)) saves_ -= pop;
      }
      return Status::Ok();
    }

    // ---- attributes ----
    case win::EMR_SETTEXTCOLOR:
    case win::EMR_SETBKCOLOR: {
      ZV_READ(c, emf::ReadFixed<win::EMRSETTEXTCOLOR>(r));
      if (r.type == win::EMR_SETTEXTCOLOR) dc.SetTextColor(c->crColor);
      else dc.SetBkColor(c->crColor);
      return Status::Ok();
    }
    case win::EMR_SETMITERLIMIT: {
      ZV_READ(m, emf::ReadFixed<win::EMRSETMITERLIMIT>(r));
      dc.SetMiterLimit(m->eMiterLimit);
      return Status::Ok();
    }
    case win::EMR_SETMAPPERFLAGS: {
      ZV_READ(m, emf::ReadFixed<win::EMRSETMAPPERFLAGS>(r));
      dc.SetMapperFlags(m->dwFlags);
      return Status::Ok();
    }
    case win::EMR_SETTEXTJUSTIFICATION: {
      ZV_READ(j, emf::ReadFixed<win::EMRSETTEXTJUSTIFICATION>(r));
      dc.SetTextJustification(j->nBreakExtra, j->nBreakCount);
      return Status::Ok();
    }

    // ---- objects ----
    case win::EMR_CREATEPEN: {
      ZV_READ(p, emf::ReadCreatePen(r));
      if (p->ihPen >= handles_.size()) return Status::Corruption("pen handle out of range");
      handles_[p->ihPen] = Pen{p->lopn.lopnStyle, p->lopn.lopnWidth.x, p->lopn.lopnColor & 0xFFFFFF};
      return Status::Ok();
    }
    case win::EMR_EXTCREATEPEN: {
      ZV_READ(p, emf::ReadExtCreatePen(r));
      if (p->handle >= handles_.size()) return Status::Corruption("pen handle out of range");
      // The record's width is unsigned, a pen's is signed: clamp rather than wrap to a negative width.
      Pen pen{p->elp.elpPenStyle,
              win::LONG(std::min<win::DWORD>(p->elp.elpWidth, 0x7FFFFFFF)),
              p->elp.elpColor & 0xFFFFFF,
              true,
              p->elp.elpBrushStyle,
              p->elp.elpHatch,
              {},
              nullptr};
      pen.style_entries.assign(p->style_entries.begin(), p->style_entries.end());
      if (p->pattern) pen.pattern = OwnedOf(*p->pattern);
      handles_[p->handle] = std::move(pen);
      return Status::Ok();
    }
    case win::EMR_CREATEBRUSHINDIRECT: {
      ZV_READ(b, emf::ReadCreateBrush(r));
      if (b->ihBrush >= handles_.size()) return Status::Corruption("brush handle out of range");
      handles_[b->ihBrush] = Brush{b->lb.lbStyle, b->lb.lbColor & 0xFFFFFF, b->lb.lbHatch, nullptr};
      return Status::Ok();
    }
    case win::EMR_CREATEDIBPATTERNBRUSHPT:
    case win::EMR_CREATEMONOBRUSH: {
      ZV_READ(b, emf::ReadPatternBrush(r));
      if (b->handle >= handles_.size()) return Status::Corruption("brush handle out of range");
      handles_[b->handle] = Brush{win::BS_DIBPATTERNPT, 0, 0, OwnedOf(b->pattern)};
      return Status::Ok();
    }
    case win::EMR_EXTCREATEFONTINDIRECTW: {
      ZV_READ(f, emf::ReadCreateFont(r));
      if (f->handle >= handles_.size()) return Status::Corruption("font handle out of range");
      handles_[f->handle] = Font{f->font};
      return Status::Ok();
    }
    case win::EMR_SELECTOBJECT: {
      ZV_READ(ih, emf::ReadObjectIndex(r));
      if (*ih & win::ENHMETA_STOCK_OBJECT) {
        dc.SelectStockObject(int(*ih & ~win::ENHMETA_STOCK_OBJECT));
        return Status::Ok();
      }
      const Object* o = Lookup(*ih);
      if (!o) return Status::Corruption("object handle out of range");
      if (const Pen* p = std::get_if<Pen>(o)) dc.SelectPen(*p);
      else if (const Brush* b = std::get_if<Brush>(o)) dc.SelectBrush(*b);
      else if (const Font* f = std::get_if<Font>(o)) dc.SelectFont(*f);
      return Status::Ok();
    }
    case win::EMR_DELETEOBJECT: {
      ZV_READ(ih, emf::ReadObjectIndex(r));
      if (!(*ih & win::ENHMETA_STOCK_OBJECT) && *ih < handles_.size()) handles_[*ih] = std::monostate{};
      return Status::Ok();
    }

    // ---- paths ----
    case win::EMR_BEGINPATH:
      dc.BeginPath();
      return emf::Validate(r);
    case win::EMR_ENDPATH:
      dc.EndPath();
      return emf::Validate(r);
    case win::EMR_CLOSEFIGURE:
      dc.CloseFigure();
      return emf::Validate(r);
    case win::EMR_ABORTPATH:
      dc.AbortPath();
      return emf::Validate(r);
    case win::EMR_FLATTENPATH:
      dc.FlattenPath();
      return emf::Validate(r);
    case win::EMR_WIDENPATH:
      dc.WidenPath();
      return emf::Validate(r);
    case win::EMR_FILLPATH:
      dc.FillPath();
      return emf::Validate(r);
    case win::EMR_STROKEPATH:
      dc.StrokePath();
      return emf::Validate(r);
    case win::EMR_STROKEANDFILLPATH:
      dc.StrokeAndFillPath();
      return emf::Validate(r);

    // ---- clipping ----
    case win::EMR_EXTSELECTCLIPRGN: {
      ZV_READ(c, emf::ReadExtSelectClipRgn(r));
      if (!c->region) {
        dc.ExtSelectClipRgn(nullptr, int(c->mode));
      } else {
        Region rgn = ToDeviceRegion(*c->region);
        dc.ExtSelectClipRgn(&rgn, int(c->mode));
      }
      return Status::Ok();
    }
    case win::EMR_INTERSECTCLIPRECT:
    case win::EMR_EXCLUDECLIPRECT: {
      ZV_READ(c, emf::ReadFixed<win::EMREXCLUDECLIPRECT>(r));
      const RECT& b = c->rclClip;
      if (r.type == win::EMR_INTERSECTCLIPRECT) dc.IntersectClipRect(b.left, b.top, b.right, b.bottom);
      else dc.ExcludeClipRect(b.left, b.top, b.right, b.bottom);
      return Status::Ok();
    }
    case win::EMR_OFFSETCLIPRGN: {
      ZV_READ(o, emf::ReadFixed<win::EMROFFSETCLIPRGN>(r));
      dc.OffsetClipRgn(o->ptlOffset.x, o->ptlOffset.y);
      return Status::Ok();
    }
    case win::EMR_SETMETARGN:
      dc.SetMetaRgn();
      return emf::Validate(r);

    // ---- regions ----
    case win::EMR_FILLRGN:
    case win::EMR_FRAMERGN:
    case win::EMR_INVERTRGN:
    case win::EMR_PAINTRGN: {
      ZV_READ(p, emf::ReadRegionPaint(r));
      Region rgn = ToDeviceRegion(p->region);
      if (r.type == win::EMR_INVERTRGN) {
        dc.InvertRgn(rgn);
      } else if (r.type == win::EMR_PAINTRGN) {
        dc.PaintRgn(rgn);
      } else {
        std::optional<Brush> b = p->brush ? BrushOf(*p->brush) : std::nullopt;
        if (!b) return Status::Ok();
        if (r.type == win::EMR_FILLRGN) dc.FillRgn(rgn, *b);
        else dc.FrameRgn(rgn, *b, p->stroke.cx, p->stroke.cy);
      }
      return Status::Ok();
    }

    // ---- text ----
    case win::EMR_EXTTEXTOUTA:
    case win::EMR_EXTTEXTOUTW:
    case win::EMR_SMALLTEXTOUT: {
      ZV_READ(t, emf::ReadText(r));
      std::vector<int> dx(t->dx.begin(), t->dx.end());
      win::UINT opts = t->options & ~(win::ETO_NO_RECT | win::ETO_SMALL_CHARS);
      const RECT* rect = t->rect ? &*t->rect : nullptr;
      if (opts & win::ETO_GLYPH_INDEX) {
        // Glyph numbers of a font we do not have: only the opaque rectangle is drawn, the
        // text is skipped rather than drawn as wrong glyphs.
        if (rect && (opts & win::ETO_OPAQUE)) {
          dc.ExtTextOutW(t->reference.x, t->reference.y, opts & ~win::ETO_GLYPH_INDEX, rect, u"");
        }
        if (t->count > 0) {
          ++stats_.skipped;
          ++stats_.skipped_by_type[r.type];
          --stats_.played;
        }
        return Status::Ok();
      }
      // Each text record carries the graphics mode it was recorded in.
      const int mode = dc.SetGraphicsMode(GraphicsModeOf(*t));
      // Wide text clipped to an empty rectangle draws nothing: the text of glyphs the page
      // draws otherwise (as outlines, or shaped), kept for readers of the device's output.
      const bool hidden = rect && (opts & win::ETO_CLIPPED) && (rect->right <= rect->left || rect->bottom <= rect->top);
      if (t->wide && hidden && t->count > 0)
        dc.InvisibleTextOutW(t->reference.x, t->reference.y, opts & ~(win::ETO_CLIPPED | win::ETO_OPAQUE), nullptr,
                             t->Utf16(), dx);
      else if (t->wide)
        dc.ExtTextOutW(t->reference.x, t->reference.y, opts, rect, t->chars.empty() ? std::u16string() : t->Utf16(),
                       dx);
      else dc.ExtTextOutA(t->reference.x, t->reference.y, opts, rect, t->Bytes(), dx);
      if (mode) dc.SetGraphicsMode(mode);
      return Status::Ok();
    }
    case win::EMR_POLYTEXTOUTA:
    case win::EMR_POLYTEXTOUTW: {
      ZV_READ(list, emf::ReadPolyText(r));
      for (const emf::Text& t : *list) {
        std::vector<int> dx(t.dx.begin(), t.dx.end());
        win::UINT opts = t.options & ~win::ETO_NO_RECT;
        const RECT* rect = t.rect ? &*t.rect : nullptr;
        const int mode = dc.SetGraphicsMode(GraphicsModeOf(t));
        if (t.wide)
          dc.ExtTextOutW(t.reference.x, t.reference.y, opts, rect, t.chars.empty() ? std::u16string() : t.Utf16(), dx);
        else dc.ExtTextOutA(t.reference.x, t.reference.y, opts, rect, t.Bytes(), dx);
        if (mode) dc.SetGraphicsMode(mode);
      }
      return Status::Ok();
    }

    // ---- bitmaps ----
    case win::EMR_BITBLT:
    case win::EMR_STRETCHBLT:
    case win::EMR_ALPHABLEND:
    case win::EMR_TRANSPARENTBLT: {
      ZV_READ(b, emf::ReadBlt(r));
      const win::EMRSTRETCHBLT& x = b->rec;
      if (!b->source) {
        if (r.type == win::EMR_ALPHABLEND || r.type == win::EMR_TRANSPARENTBLT) return Status::Ok();
        dc.PatBlt(x.xDest, x.yDest, x.cxDest, x.cyDest, x.dwRop);
        return Status::Ok();
      }
      const emf::Dib& d = *b->source;
      // The source rectangle in bitmap pixels, through the source transform.
      const XFORM& sx = x.xformSrc;
      bool plain = std::isfinite(sx.eM11) && std::isfinite(sx.eM22) && std::isfinite(sx.eDx) && std::isfinite(sx.eDy);
      int cxs = r.type == win::EMR_BITBLT ? x.cxDest : x.cxSrc;
      int cys = r.type == win::EMR_BITBLT ? x.cyDest : x.cySrc;
      int xs = x.xSrc, ys = x.ySrc;
      if (plain) {
        xs = RoundI(sx.eM11 * x.xSrc + sx.eM21 * x.ySrc + sx.eDx);
        ys = RoundI(sx.eM12 * x.xSrc + sx.eM22 * x.ySrc + sx.eDy);
        cxs = RoundI(cxs * double(sx.eM11));
        cys = RoundI(cys * double(sx.eM22));
      }
      // Writers that store only the source rectangle's pixels keep its origin anyway.
      if ((xs < 0 || ys < 0 || xs + std::int64_t(std::abs(cxs)) > d.width ||
           ys + std::int64_t(std::abs(cys)) > d.height) &&
          std::uint32_t(std::abs(cxs)) == d.width && std::uint32_t(std::abs(cys)) == d.height) {
        xs = ys = 0;
      }
      DibRef ref = RefOf(d);
      if (r.type == win::EMR_TRANSPARENTBLT) {
        // The source with the transparent colour made fully transparent, blended over.
        auto dec = DecodeDib(ref);
        if (!dec.ok()) return Status::Ok();
        // The record keeps the key as a COLORREF (0x00BBGGRR); decoded pixels are 0xRRGGBB.
        const std::uint32_t key = ((x.dwRop & 0xFF) << 16) | (x.dwRop & 0xFF00) | ((x.dwRop >> 16) & 0xFF);
        for (std::uint32_t& v : dec->pixels) v = (v & 0xFFFFFF) == key ? 0u : (v | 0xFF000000u);
        Dib keyed = EncodeDib(dec->width, dec->height, dec->pixels, 32);
        dc.DibAlphaBlend(x.xDest, x.yDest, x.cxDest, x.cyDest, keyed.ref(), xs, ys, cxs, cys,
                         win::BLENDFUNCTION{win::AC_SRC_OVER, 0, 255, win::AC_SRC_ALPHA});
        return Status::Ok();
      }
      if (r.type == win::EMR_ALPHABLEND) {
        win::BLENDFUNCTION bf;
        // An alpha blend record carries its blend function in the raster-operation field.
        std::memcpy(&bf, &x.dwRop, 4);
        dc.DibAlphaBlend(x.xDest, x.yDest, x.cxDest, x.cyDest, ref, xs, ys, cxs, cys, bf);
      } else {
        dc.DibBlt(x.xDest, x.yDest, x.cxDest, x.cyDest, &ref, xs, ys, cxs, cys, x.dwRop);
      }
      return Status::Ok();
    }
    case win::EMR_MASKBLT: {
      ZV_READ(b, emf::ReadMaskBlt(r));
      const win::EMRMASKBLT& x = b->rec;
      std::optional<DibRef> src, mask;
      if (b->source) src = RefOf(*b->source);
      if (b->mask) mask = RefOf(*b->mask);
      dc.DibMaskBlt(x.xDest, x.yDest, x.cxDest, x.cyDest, src ? &*src : nullptr, x.xSrc, x.ySrc,
                    mask ? &*mask : nullptr, x.xMask, x.yMask, x.dwRop);
      return Status::Ok();
    }
    case win::EMR_STRETCHDIBITS: {
      ZV_READ(b, emf::ReadStretchDib(r));
      const win::EMRSTRETCHDIBITS& x = b->rec;
      if (!b->source) {
        dc.PatBlt(x.xDest, x.yDest, x.cxDest, x.cyDest, x.dwRop);
        return Status::Ok();
      }
      dc.StretchDIBits(x.xDest, x.yDest, x.cxDest, x.cyDest, x.xSrc, x.ySrc, x.cxSrc, x.cySrc, RefOf(*b->source),
                       x.dwRop);
      return Status::Ok();
    }
    case win::EMR_SETDIBITSTODEVICE: {
      ZV_READ(b, emf::ReadDibToDevice(r));
      const win::EMRSETDIBITSTODEVICE& x = b->rec;
      if (!b->source) return Status::Ok();
      dc.SetDIBitsToDevice(x.xDest, x.yDest, x.cxSrc, x.cySrc, x.xSrc, x.ySrc, x.iStartScan, x.cScans,
                           RefOf(*b->source));
      return Status::Ok();
    }
    case win::EMR_GRADIENTFILL: {
      ZV_READ(g, emf::ReadGradientFill(r));
      if (g->mode != win::GRADIENT_FILL_RECT_H && g->mode != win::GRADIENT_FILL_RECT_V) {
        // Triangles are not drawn.
        ++stats_.skipped;
        ++stats_.skipped_by_type[r.type];
        --stats_.played;
        return Status::Ok();
      }
      // Each rectangle as solid strips from the first vertex's colour to the second's.
      const bool horizontal = g->mode == win::GRADIENT_FILL_RECT_H;
      const Brush saved = dc.GetCurrentBrush();
      for (std::size_t i = 0; i + 1 < g->indices.size(); i += 2) {
        const win::TRIVERTEX a = g->vertices[g->indices[i]], b = g->vertices[g->indices[i + 1]];
        const std::int64_t x0 = std::min(a.x, b.x), x1 = std::max(a.x, b.x);
        const std::int64_t y0 = std::min(a.y, b.y), y1 = std::max(a.y, b.y);
        const std::int64_t len = horizontal ? x1 - x0 : y1 - y0;
        if (len <= 0 || x1 == x0 || y1 == y0) continue;
        // 256 strips are as many distinct steps as an 8-bit channel has; more would only cost time.
        const std::int64_t strips = std::min<std::int64_t>(len, 256);
        const win::TRIVERTEX& first = horizontal ? (a.x <= b.x ? a : b) : (a.y <= b.y ? a : b);
        const win::TRIVERTEX& last = &first == &a ? b : a;
        for (std::int64_t k = 0; k < strips; ++k) {
          const double f = strips == 1 ? 0.0 : double(k) / double(strips - 1);
          auto mix = [&](win::WORD p, win::WORD q) { return win::BYTE((p + (q - p) * f) / 256.0); };
          dc.SelectBrush(Brush::Solid(
              win::RGB(mix(first.Red, last.Red), mix(first.Green, last.Green), mix(first.Blue, last.Blue))));
          const std::int64_t s0 = len * k / strips, s1 = len * (k + 1) / strips;
          if (horizontal) dc.PatBlt(int(x0 + s0), int(y0), int(s1 - s0), int(y1 - y0), win::PATCOPY);
          else dc.PatBlt(int(x0), int(y0 + s0), int(x1 - x0), int(s1 - s0), win::PATCOPY);
        }
      }
      dc.SelectBrush(saved);
      return Status::Ok();
    }
    default:
      return Status::Ok();
  }
}

#undef ZV_READ

Status PlayMetafile(DeviceContext& dc, std::span<const std::uint8_t> bytes, const RECT* dest, const PlayHook& hook,
                    PlayStats* stats) {
  auto p = Player::Open(bytes);
  if (!p.ok()) return p.status();
  Status s = p->Play(dc, dest, hook);
  if (stats) *stats = p->stats();
  return s;
}

}  // namespace zv::gdi
