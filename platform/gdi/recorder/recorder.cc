#include "platform/gdi/recorder/recorder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "platform/gdi/emf/reader.h"
#include "platform/gdi/emf/records.h"

namespace zv::gdi {
namespace {

using namespace win;
using Bytes = std::vector<std::uint8_t>;

constexpr RECTL kEmpty{0, 0, -1, -1};
// Unselected objects of one kind kept for reuse before they are deleted.
constexpr int kKeepUnused = 8;

template <typename T>
void PutBytes(Bytes& out, const T& v) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&v);
  out.insert(out.end(), p, p + sizeof(T));
}

void PutSpan(Bytes& out, std::span<const std::uint8_t> s) {
  out.insert(out.end(), s.begin(), s.end());
}

void Pad4(Bytes& out) { out.resize((out.size() + 3) & ~std::size_t(3), 0); }

bool IsIdentity(const XFORM& x) {
  return x.eM11 == 1 && x.eM12 == 0 && x.eM21 == 0 && x.eM22 == 1 && x.eDx == 0 && x.eDy == 0;
}

bool RopUsesSource(DWORD rop) { return (((rop >> 2) ^ rop) & 0x00330000) != 0; }

RECTL Union(const RECTL& a, const RECTL& b) {
  if (a.right < a.left || a.bottom < a.top) return b;
  if (b.right < b.left || b.bottom < b.top) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
          std::max(a.bottom, b.bottom)};
}

LONG Clamp(double v) {
  if (!(v > -2147483000.0)) return -2147483000;  // also NaN
  if (v > 2147483000.0) return 2147483000;
  return LONG(v);
}

bool FitsShort(std::span<const POINT> pts) {
  return std::all_of(pts.begin(), pts.end(), [](const POINT& p) {
    return p.x >= -32768 && p.x <= 32767 && p.y >= -32768 && p.y <= 32767;
  });
}

void PutPoints(Bytes& out, std::span<const POINT> pts, bool small) {
  for (const auto& p : pts) {
    if (small) {
      PutBytes(out, POINTS{SHORT(p.x), SHORT(p.y)});
    } else {
      PutBytes(out, p);
    }
  }
}

// The 16-bit form of a poly record type.
DWORD SmallForm(DWORD type) {
  switch (type) {
    case EMR_POLYBEZIER: return EMR_POLYBEZIER16;
    case EMR_POLYGON: return EMR_POLYGON16;
    case EMR_POLYLINE: return EMR_POLYLINE16;
    case EMR_POLYBEZIERTO: return EMR_POLYBEZIERTO16;
    case EMR_POLYLINETO: return EMR_POLYLINETO16;
    case EMR_POLYPOLYLINE: return EMR_POLYPOLYLINE16;
    case EMR_POLYPOLYGON: return EMR_POLYPOLYGON16;
    case EMR_POLYDRAW: return EMR_POLYDRAW16;
    default: return type;
  }
}

struct Mapping {
  int mode = MM_TEXT;
  POINT wo{0, 0}, vo{0, 0};
  SIZE we{1, 1}, ve{1, 1};
  XFORM world = IdentityXform();
};

enum class Kind { kNone, kPen, kBrush, kFont, kForeign };

struct State {
  Mapping map;
  COLORREF text = 0, bk = RGB(255, 255, 255);
  int bk_mode = OPAQUE;
  UINT align = TA_NOUPDATECP | TA_LEFT | TA_TOP;
  int rop2 = R2_COPYPEN, fill_mode = ALTERNATE, stretch_mode = BLACKONWHITE;
  int arc_dir = AD_COUNTERCLOCKWISE;
  int graphics_mode = int(GM_COMPATIBLE);
  float miter = 10.0f;
  POINT brush_org{0, 0};
  DWORD mapper = 0;
  POINT cur{0, 0};
  Pen pen = *StockPen(BLACK_PEN);
  Brush brush = *StockBrush(WHITE_BRUSH);
  Font font = *StockFont(SYSTEM_FONT);
  DWORD pen_ih = ENHMETA_STOCK_OBJECT | BLACK_PEN;
  DWORD brush_ih = ENHMETA_STOCK_OBJECT | WHITE_BRUSH;
  DWORD font_ih = ENHMETA_STOCK_OBJECT | SYSTEM_FONT;
  std::optional<Region> clip, meta;
};

struct Slot {
  Kind kind = Kind::kNone;
  Pen pen;
  Brush brush;
  Font font;
};

}  // namespace

struct MetafileRecorder::Impl {
  explicit Impl(const Options& o)
      : opt(o), writer(emf::Writer::Options{o.device, o.millimeters, o.frame, o.description}) {}

  Options opt;
  emf::Writer writer;
  State st;
  std::vector<State> saved;
  std::vector<Slot> slots = std::vector<Slot>(1);  // index 0 is reserved
  bool closed = false;
  bool in_path = false, path_ready = false;
  RECTL path_box = kEmpty;
  XFORM base = IdentityXform();

  // ---- Coordinates ----
  void ToDevice(double x, double y, double* dx, double* dy) const {
    const Mapping& m = st.map;
    const XFORM& w = m.world;
    const double px = x * w.eM11 + y * w.eM21 + w.eDx;
    const double py = x * w.eM12 + y * w.eM22 + w.eDy;
    *dx = (px - m.wo.x) * m.ve.cx / m.we.cx + m.vo.x;
    *dy = (py - m.wo.y) * m.ve.cy / m.we.cy + m.vo.y;
  }
  bool ToLogical(double dx, double dy, double* x, double* y) const {
    const Mapping& m = st.map;
    const double px = (dx - m.vo.x) * m.we.cx / m.ve.cx + m.wo.x;
    const double py = (dy - m.vo.y) * m.we.cy / m.ve.cy + m.wo.y;
    const XFORM& w = m.world;
    const double det = double(w.eM11) * w.eM22 - double(w.eM12) * w.eM21;
    if (det == 0) return false;
    const double tx = px - w.eDx, ty = py - w.eDy;
    *x = (tx * w.eM22 - ty * w.eM21) / det;
    *y = (ty * w.eM11 - tx * w.eM12) / det;
    return true;
  }
  // Device pixels per logical unit along x and y (magnitudes, for widths).
  double ScaleX() const {
    const Mapping& m = st.map;
    return std::hypot(m.world.eM11, m.world.eM12) * std::abs(double(m.ve.cx) / m.we.cx);
  }
  double ScaleY() const {
    const Mapping& m = st.map;
    return std::hypot(m.world.eM21, m.world.eM22) * std::abs(double(m.ve.cy) / m.we.cy);
  }
  // True when logical y grows upwards on the device.
  bool YUp() const {
    const Mapping& m = st.map;
    return (m.world.eM22 * double(m.ve.cy) / m.we.cy) < 0;
  }

  // The device box (inclusive) of logical points, widened by `pad` device pixels.
  RECTL Box(std::span<const POINT> pts, double pad = 0) const {
    if (pts.empty()) return kEmpty;
    double l = 0, t = 0, r = 0, b = 0;
    for (std::size_t i = 0; i < pts.size(); ++i) {
      double x, y;
      ToDevice(pts[i].x, pts[i].y, &x, &y);
      if (i == 0 || x < l) l = x;
      if (i == 0 || x > r) r = x;
      if (i == 0 || y < t) t = y;
      if (i == 0 || y > b) b = y;
    }
    return {Clamp(std::floor(l - pad)), Clamp(std::floor(t - pad)), Clamp(std::ceil(r + pad)),
            Clamp(std::ceil(b + pad))};
  }
  RECTL BoxOfRect(int l, int t, int r, int b, double pad = 0) const {
    const POINT c[4] = {{l, t}, {r, t}, {l, b}, {r, b}};
    return Box(c, pad);
  }
  // A filled shape covers up to, not including, its right and bottom edges.
  static RECTL Inclusive(RECTL b) {
    if (b.right > b.left) --b.right;
    if (b.bottom > b.top) --b.bottom;
    return b;
  }
  double PenPad() const {
    if ((st.pen.style & PS_STYLE_MASK) == PS_NULL) return 0;
    return std::max(1.0, st.pen.width * std::max(ScaleX(), ScaleY()) / 2 + 1);
  }

  // Drawing outside a path bracket adds to the header's bounds; inside, to the path's.
  void Draws(const RECTL& box) {
    if (in_path) {
      path_box = Union(path_box, box);
    } else {
      writer.AddBounds(box);
    }
  }

  // ---- Records ----
  // Sets nSize, checks the record with the reader's checks, appends it.
  bool Emit(Bytes rec) {
    if (closed || rec.size() < sizeof(EMR)) return false;
    Pad4(rec);
    const std::uint32_t size = std::uint32_t(rec.size());
    std::memcpy(rec.data() + 4, &size, 4);
    auto r = emf::MakeRecord(rec, 0xFFFF);
    if (!r.ok() || !emf::Validate(*r).ok()) return false;
    return writer.Append(std::span<const std::uint8_t>(rec));
  }
  template <typename T>
  bool EmitFixed(const T& v, std::span<const std::uint8_t> tail = {}) {
    Bytes rec;
    PutBytes(rec, v);
    PutSpan(rec, tail);
    return Emit(std::move(rec));
  }
  bool EmitType(DWORD type) { return EmitFixed(EMR{type, 0}); }
  bool EmitMode(DWORD type, DWORD value) { return EmitFixed(EMRSETMAPMODE{{type, 0}, value}); }
  bool EmitPoint(DWORD type, POINT p) { return EmitFixed(EMRMOVETOEX{{type, 0}, p}); }

  // A poly record in the 16-bit form when every point fits.
  bool EmitPoly(DWORD type, std::span<const POINT> pts, const RECTL& bounds) {
    const bool small = FitsShort(pts);
    Bytes rec;
    PutBytes(rec, EMRPOLYLINE_HEAD{{small ? SmallForm(type) : type, 0}, bounds, DWORD(pts.size())});
    PutPoints(rec, pts, small);
    return Emit(std::move(rec));
  }

  // ---- Objects ----
  bool Live(DWORD ih) const { return ih < slots.size() && slots[ih].kind != Kind::kNone; }
  bool Held(DWORD ih) const {
    if (st.pen_ih == ih || st.brush_ih == ih || st.font_ih == ih) return true;
    return std::any_of(saved.begin(), saved.end(), [ih](const State& s) {
      return s.pen_ih == ih || s.brush_ih == ih || s.font_ih == ih;
    });
  }
  DWORD FreeSlot() {
    for (DWORD i = 1; i < slots.size(); ++i) {
      if (slots[i].kind == Kind::kNone) return i;
    }
    if (slots.size() >= 0xFFFF) return 0;
    slots.emplace_back();
    return DWORD(slots.size() - 1);
  }

  Bytes DibBytes(const Dib& d, std::size_t* info_size) const {
    Bytes out(d.info.begin(), d.info.end());
    *info_size = out.size();
    Pad4(out);
    PutSpan(out, d.bits);
    return out;
  }

  // Writes the record that creates the object in slot ih.
  bool CreateRecord(DWORD ih, const Slot& s) {
    if (s.kind == Kind::kPen) {
      const Pen& p = s.pen;
      if (!p.extended) return EmitFixed(EMRCREATEPEN{{EMR_CREATEPEN, 0}, ih, LOGPEN{p.style, {p.width, 0}, p.color}});
      EMREXTCREATEPEN_HEAD h{};
      h.emr.iType = EMR_EXTCREATEPEN;
      h.ihPen = ih;
      h.elp = EXTLOGPEN32{p.style, DWORD(p.width), p.brush_style, p.color, p.hatch,
                          DWORD(p.style_entries.size())};
      Bytes tail;
      for (DWORD e : p.style_entries) PutBytes(tail, e);
      if (p.pattern) {
        std::size_t info = 0;
        Bytes dib = DibBytes(*p.pattern, &info);
        h.offBmi = DWORD(sizeof(h) + tail.size());
        h.cbBmi = DWORD(info);
        h.offBits = h.offBmi + DWORD((info + 3) & ~std::size_t(3));
        h.cbBits = DWORD(p.pattern->bits.size());
        PutSpan(tail, dib);
      }
      return EmitFixed(h, tail);
    }
    if (s.kind == Kind::kBrush) {
      const Brush& b = s.brush;
      if ((b.style == BS_DIBPATTERN || b.style == BS_DIBPATTERNPT || b.style == BS_PATTERN) && b.pattern) {
        EMRCREATEDIBPATTERNBRUSHPT h{};
        h.emr.iType = EMR_CREATEDIBPATTERNBRUSHPT;
        h.ihBrush = ih;
        h.iUsage = b.pattern->usage;
        std::size_t info = 0;
        Bytes dib = DibBytes(*b.pattern, &info);
        h.offBmi = sizeof(h);
        h.cbBmi = DWORD(info);
        h.offBits = DWORD(sizeof(h) + ((info + 3) & ~std::size_t(3)));
        h.cbBits = DWORD(b.pattern->bits.size());
        return EmitFixed(h, dib);
      }
      return EmitFixed(EMRCREATEBRUSHINDIRECT{{EMR_CREATEBRUSHINDIRECT, 0}, ih, LOGBRUSH32{b.style, b.color, b.hatch}});
    }
    EMREXTCREATEFONTINDIRECTW f{};
    f.emr.iType = EMR_EXTCREATEFONTINDIRECTW;
    f.ihFont = ih;
    f.elfw.elfLogFont = s.font.lf;
    return EmitFixed(f);
  }

  static bool Same(const Slot& s, Kind kind, const Pen* p, const Brush* b, const Font* f) {
    if (s.kind != kind) return false;
    if (kind == Kind::kPen) return s.pen == *p;
    if (kind == Kind::kBrush) return s.brush == *b;
    return s.font == *f;
  }

  // The handle of an object of that value: a stock object, a live slot, or a new slot whose
  // create record is written now. 0 when the table is full or the record was refused.
  DWORD Obtain(Kind kind, const Pen* p, const Brush* b, const Font* f) {
    if (kind == Kind::kPen) {
      for (int i : {BLACK_PEN, WHITE_PEN, NULL_PEN}) {
        if (*StockPen(i) == *p) return ENHMETA_STOCK_OBJECT | DWORD(i);
      }
    } else if (kind == Kind::kBrush) {
      for (int i = WHITE_BRUSH; i <= NULL_BRUSH; ++i) {
        if (*StockBrush(i) == *b) return ENHMETA_STOCK_OBJECT | DWORD(i);
      }
    } else {
      for (int i : {SYSTEM_FONT, DEFAULT_GUI_FONT, DEVICE_DEFAULT_FONT, SYSTEM_FIXED_FONT,
                    OEM_FIXED_FONT, ANSI_FIXED_FONT, ANSI_VAR_FONT}) {
        if (*StockFont(i) == *f) return ENHMETA_STOCK_OBJECT | DWORD(i);
      }
    }
    for (DWORD i = 1; i < slots.size(); ++i) {
      if (Same(slots[i], kind, p, b, f)) return i;
    }
    const DWORD ih = FreeSlot();
    if (ih == 0) return 0;
    Slot s;
    s.kind = kind;
    if (p) s.pen = *p;
    if (b) s.brush = *b;
    if (f) s.font = *f;
    if (!CreateRecord(ih, s)) return 0;
    slots[ih] = std::move(s);
    return ih;
  }

  // Deletes the unused objects of a kind once more than kKeepUnused pile up.
  void Collect(Kind kind) {
    std::vector<DWORD> unused;
    for (DWORD i = 1; i < slots.size(); ++i) {
      if (slots[i].kind == kind && !Held(i)) unused.push_back(i);
    }
    if (unused.size() <= std::size_t(kKeepUnused)) return;
    for (DWORD i : unused) {
      if (EmitFixed(EMRDELETEOBJECT{{EMR_DELETEOBJECT, 0}, i})) slots[i] = Slot{};
    }
  }

  bool Select(DWORD ih) { return EmitFixed(EMRSELECTOBJECT{{EMR_SELECTOBJECT, 0}, ih}); }

  // ---- Map modes ----
  void ModeExtents(int mode) {
    Mapping& m = st.map;
    const SIZEL& d = opt.device;
    const SIZEL& mm = opt.millimeters;
    auto metric = [&](double per_mm) {
      m.we = {LONG(std::lround(mm.cx * per_mm)), LONG(std::lround(mm.cy * per_mm))};
      m.ve = {d.cx, -d.cy};
    };
    switch (mode) {
      case MM_TEXT: m.we = {1, 1}; m.ve = {1, 1}; break;
      case MM_LOMETRIC: case MM_ISOTROPIC: metric(10); break;
      case MM_HIMETRIC: metric(100); break;
      case MM_LOENGLISH: metric(100 / 25.4); break;
      case MM_HIENGLISH: metric(1000 / 25.4); break;
      case MM_TWIPS: metric(1440 / 25.4); break;
      default: break;  // MM_ANISOTROPIC keeps the extents it had
    }
  }
  // In MM_ISOTROPIC one logical unit is as long on the device in x as in y.
  void Isotropic() {
    Mapping& m = st.map;
    if (m.mode != MM_ISOTROPIC) return;
    const double px_per_mm_x = double(opt.device.cx) / opt.millimeters.cx;
    const double px_per_mm_y = double(opt.device.cy) / opt.millimeters.cy;
    const double sx = std::abs(double(m.ve.cx) / m.we.cx) / px_per_mm_x;
    const double sy = std::abs(double(m.ve.cy) / m.we.cy) / px_per_mm_y;
    if (sx > sy) {
      const LONG v = LONG(std::lround(std::abs(double(m.we.cx)) * sy * px_per_mm_x));
      m.ve.cx = m.ve.cx < 0 ? -std::max<LONG>(v, 1) : std::max<LONG>(v, 1);
    } else if (sy > sx) {
      const LONG v = LONG(std::lround(std::abs(double(m.we.cy)) * sx * px_per_mm_y));
      m.ve.cy = m.ve.cy < 0 ? -std::max<LONG>(v, 1) : std::max<LONG>(v, 1);
    }
  }
  bool Scalable() const { return st.map.mode == MM_ISOTROPIC || st.map.mode == MM_ANISOTROPIC; }

  // ---- Clipping ----
  Region Surface() const { return Region(RECT{0, 0, opt.device.cx, opt.device.cy}); }
  int Combine(const Region& r, int mode) {
    if (mode == RGN_COPY) {
      st.clip = r;
    } else {
      Region base = st.clip ? *st.clip : Surface();
      base.Combine(r, mode);
      st.clip = std::move(base);
    }
    return st.clip->Kind();
  }
  Region Effective() const {
    Region r = st.clip ? *st.clip : Surface();
    if (st.meta) r.Combine(*st.meta, RGN_AND);
    return r;
  }

  // ---- Text ----
  // Text extent in logical units: the advances when given (x advances, every other one with
  // ETO_PDY), else from the reference device context, else estimated from the font height.
  // `ansi` is the 8-bit text of EXTTEXTOUTA (measured as such), empty for UTF-16 text.
  SIZE Extent(std::u16string_view text, std::string_view ansi, std::size_t count,
              std::span<const int> dx, bool pdy) const {
    SIZE measured{};
    bool have = false;
    if (opt.reference) {
      opt.reference->SelectFont(st.font);
      have = ansi.empty() ? opt.reference->GetTextExtentPoint32W(text, &measured)
                          : opt.reference->GetTextExtentPoint32A(ansi, &measured);
    }
    if (!dx.empty()) {
      long long w = 0;
      for (std::size_t i = 0; i < count; ++i) w += dx[pdy ? 2 * i : i];
      return SIZE{LONG(std::clamp<long long>(w, -(1 << 30), 1 << 30)), have ? measured.cy : FontHeight()};
    }
    if (have) return measured;
    return SIZE{LONG(std::min<std::size_t>(count, 1 << 24)) * FontHeight() / 2, FontHeight()};
  }
  LONG FontHeight() const {
    const LONG h = std::abs(st.font.lf.lfHeight);
    return h == 0 ? 16 : h;
  }

  RECTL TextBox(POINT at, SIZE ext) const {
    const UINT a = st.align;
    LONG x0 = at.x;
    if ((a & TA_CENTER) == TA_CENTER) {
      x0 = at.x - ext.cx / 2;
    } else if (a & TA_RIGHT) {
      x0 = at.x - ext.cx;
    }
    const LONG down = YUp() ? -1 : 1;
    LONG y0 = at.y, y1 = at.y + down * ext.cy;
    if ((a & TA_BASELINE) == TA_BASELINE) {
      y0 = at.y - down * (ext.cy * 4 / 5);
      y1 = at.y + down * (ext.cy - ext.cy * 4 / 5);
    } else if (a & TA_BOTTOM) {
      y0 = at.y - down * ext.cy;
      y1 = at.y;
    }
    return BoxOfRect(x0, y0, x0 + ext.cx, y1);
  }

  bool Text(DWORD type, int x, int y, UINT options, const RECT* rect,
            std::span<const std::uint8_t> chars, std::size_t count, std::u16string_view text16,
            std::string_view ansi, std::span<const int> dx) {
    if (closed) return false;
    const bool update_cp = st.align & TA_UPDATECP;
    const POINT at = update_cp ? st.cur : POINT{x, y};
    const bool pdy = options & ETO_PDY;
    const std::size_t need = count * (pdy ? 2 : 1);
    if (!dx.empty() && dx.size() < need) return false;
    const SIZE ext = Extent(text16, ansi, count, dx, pdy);
    RECTL bounds = count ? TextBox(at, ext) : kEmpty;
    if (rect && (options & (ETO_OPAQUE | ETO_CLIPPED))) {
      const RECTL rb = BoxOfRect(rect->left, rect->top, rect->right, rect->bottom);
      bounds = (options & ETO_OPAQUE) ? Union(bounds, rb) : bounds;
      if ((options & ETO_CLIPPED) && bounds.right >= bounds.left) {
        bounds = {std::max(bounds.left, rb.left), std::max(bounds.top, rb.top),
                  std::min(bounds.right, rb.right), std::min(bounds.bottom, rb.bottom)};
      }
    }
    if (in_path) {
      path_box = Union(path_box, bounds);
      bounds = kEmpty;
    }
    EMREXTTEXTOUTW h{};
    h.emr.iType = type;
    h.rclBounds = bounds;
    // Text is recorded in GM_ADVANCED when the caller chose it or a world transform is set.
    const bool compatible = st.graphics_mode != int(GM_ADVANCED) && IsIdentity(st.map.world);
    h.iGraphicsMode = compatible ? GM_COMPATIBLE : GM_ADVANCED;
    if (compatible) {
      h.exScale = float(opt.millimeters.cx * 100.0 / opt.device.cx);
      h.eyScale = float(opt.millimeters.cy * 100.0 / opt.device.cy);
    }
    h.emrtext.ptlReference = {x, y};
    h.emrtext.nChars = DWORD(count);
    h.emrtext.fOptions = options & ~UINT(ETO_NO_RECT);
    if (rect) h.emrtext.rcl = *rect;
    h.emrtext.offString = sizeof(h);
    Bytes tail(chars.begin(), chars.end());
    Pad4(tail);
    if (!dx.empty()) {
      h.emrtext.offDx = DWORD(sizeof(h) + tail.size());
      for (std::size_t i = 0; i < need; ++i) PutBytes(tail, LONG(dx[i]));
    }
    if (!EmitFixed(h, tail)) return false;  // the writer takes the bounds from the record
    if (update_cp) {
      const bool rtl = (st.align & TA_RIGHT) && !((st.align & TA_CENTER) == TA_CENTER);
      st.cur.x += rtl ? -ext.cx : ext.cx;
    }
    return true;
  }

  // ---- Bitmaps ----
  bool Blit(DWORD type, int x, int y, int cx, int cy, const std::optional<Dib>& src, int xs, int ys,
            int cxs, int cys, DWORD rop) {
    if (closed) return false;
    const RECTL bounds = BoxOfRect(x, y, x + cx, y + cy);
    EMRSTRETCHBLT h{};
    h.emr.iType = type;
    h.rclBounds = in_path ? kEmpty : RECTL{bounds.left, bounds.top, bounds.right - 1, bounds.bottom - 1};
    h.xDest = x;
    h.yDest = y;
    h.cxDest = cx;
    h.cyDest = cy;
    h.dwRop = rop;
    h.xSrc = xs;
    h.ySrc = ys;
    h.xformSrc = IdentityXform();
    h.crBkColorSrc = st.bk;
    h.iUsageSrc = DIB_RGB_COLORS;
    h.cxSrc = cxs;
    h.cySrc = cys;
    const std::size_t head = type == EMR_BITBLT ? sizeof(EMRBITBLT) : sizeof(EMRSTRETCHBLT);
    Bytes tail;
    if (src) {
      std::size_t info = 0;
      tail = DibBytes(*src, &info);
      h.iUsageSrc = src->usage;
      h.offBmiSrc = DWORD(head);
      h.cbBmiSrc = DWORD(info);
      h.offBitsSrc = DWORD(head + ((info + 3) & ~std::size_t(3)));
      h.cbBitsSrc = DWORD(src->bits.size());
    }
    Bytes rec(head);
    std::memcpy(rec.data(), &h, head);
    PutSpan(rec, tail);
    if (!Emit(std::move(rec))) return false;
    if (in_path) path_box = Union(path_box, bounds);
    return true;
  }

  // The pixels of a source device context under its logical rectangle, and their size.
  std::optional<Dib> ReadSource(const DeviceContext* src, int xs, int ys, int cxs, int cys) const {
    if (!src) return std::nullopt;
    POINT c[2] = {{xs, ys}, {xs + cxs, ys + cys}};
    src->LPtoDP(c);
    const RECT r{std::min(c[0].x, c[1].x), std::min(c[0].y, c[1].y), std::max(c[0].x, c[1].x),
                 std::max(c[0].y, c[1].y)};
    if (r.right <= r.left || r.bottom <= r.top) return std::nullopt;
    return src->ReadPixels(r);
  }
  static int DibWidth(const Dib& d) {
    BITMAPINFOHEADER h{};
    if (d.info.size() >= sizeof(h)) std::memcpy(&h, d.info.data(), sizeof(h));
    return h.biWidth;
  }
  static int DibHeight(const Dib& d) {
    BITMAPINFOHEADER h{};
    if (d.info.size() >= sizeof(h)) std::memcpy(&h, d.info.data(), sizeof(h));
    return h.biHeight < 0 ? -h.biHeight : h.biHeight;
  }

  bool Mask(int x, int y, int cx, int cy, const std::optional<Dib>& src, int xs, int ys,
            const DibRef* mask, int xm, int ym, DWORD rop4) {
    if (closed) return false;
    const RECTL bounds = BoxOfRect(x, y, x + cx, y + cy);
    EMRMASKBLT h{};
    h.emr.iType = EMR_MASKBLT;
    h.rclBounds = in_path ? kEmpty : RECTL{bounds.left, bounds.top, bounds.right - 1, bounds.bottom - 1};
    h.xDest = x;
    h.yDest = y;
    h.cxDest = cx;
    h.cyDest = cy;
    h.dwRop = rop4;
    h.xSrc = xs;
    h.ySrc = ys;
    h.xformSrc = IdentityXform();
    h.crBkColorSrc = st.bk;
    h.xMask = xm;
    h.yMask = ym;
    Bytes tail;
    if (src) {
      std::size_t info = 0;
      Bytes d = DibBytes(*src, &info);
      h.iUsageSrc = src->usage;
      h.offBmiSrc = DWORD(sizeof(h));
      h.cbBmiSrc = DWORD(info);
      h.offBitsSrc = DWORD(sizeof(h) + ((info + 3) & ~std::size_t(3)));
      h.cbBitsSrc = DWORD(src->bits.size());
      PutSpan(tail, d);
    }
    if (mask) {
      std::size_t info = 0;
      Bytes d = DibBytes(Dib::Copy(*mask), &info);
      h.iUsageMask = mask->usage;
      h.offBmiMask = DWORD(sizeof(h) + tail.size());
      h.cbBmiMask = DWORD(info);
      h.offBitsMask = h.offBmiMask + DWORD((info + 3) & ~std::size_t(3));
      h.cbBitsMask = DWORD(mask->bits.size());
      PutSpan(tail, d);
    }
    if (!EmitFixed(h, tail)) return false;
    if (in_path) path_box = Union(path_box, bounds);
    return true;
  }

  Bytes RegionData(const Region& rgn) const {
    const auto rects = rgn.Rects();
    Bytes out;
    PutBytes(out, RGNDATAHEADER{sizeof(RGNDATAHEADER), RDH_RECTANGLES, DWORD(rects.size()),
                                DWORD(rects.size() * sizeof(RECT)), rgn.Box()});
    for (const auto& r : rects) PutBytes(out, r);
    return out;
  }
  RECTL RegionBounds(const Region& rgn) const {
    if (rgn.IsEmpty()) return kEmpty;
    const RECT b = rgn.Box();
    return {b.left, b.top, b.right - 1, b.bottom - 1};
  }


  bool ArcRecord(DWORD type, const RECT& box, int xs, int ys, int xe, int ye) {
    if (!EmitFixed(EMRARC{{type, 0}, box, {xs, ys}, {xe, ye}})) return false;
    RECTL b = BoxOfRect(box.left, box.top, box.right, box.bottom, PenPad());
    if (type == EMR_ARCTO) {
      const POINT cur[1] = {st.cur};
      b = Union(b, Box(cur, PenPad()));
    }
    Draws(b);
    return true;
  }

  Region RectRegion(int l, int t, int r, int b) const {
    const RECTL d = BoxOfRect(l, t, r, b);
    return Region(RECT{d.left, d.top, d.right, d.bottom});
  }

  bool PathRecord(DWORD type, bool stroke) {
    if (closed || in_path || !path_ready) return false;
    RECTL b = path_box;
    if (stroke && b.right >= b.left) {
      const LONG pad = LONG(std::ceil(PenPad()));
      b = {b.left - pad, b.top - pad, b.right + pad, b.bottom + pad};
    }
    if (!EmitFixed(EMRFILLPATH{{type, 0}, b})) return false;
    path_ready = false;
    path_box = kEmpty;
    return true;
  }
};

MetafileRecorder::MetafileRecorder(const Options& options) : impl_(std::make_unique<Impl>(options)) {
  auto& o = impl_->opt;
  if (o.device.cx <= 0 || o.device.cy <= 0) o.device = {2480, 3508};
  if (o.millimeters.cx <= 0 || o.millimeters.cy <= 0) o.millimeters = {210, 297};
  impl_->writer = emf::Writer(emf::Writer::Options{o.device, o.millimeters, o.frame, o.description});
}

MetafileRecorder::~MetafileRecorder() = default;

Result<std::vector<std::uint8_t>> MetafileRecorder::Close() {
  if (impl_->closed) return Status::InvalidArgument("metafile already closed");
  impl_->closed = true;
  return impl_->writer.Close();
}

Status MetafileRecorder::AppendRecord(std::span<const std::uint8_t> record) {
  Impl& m = *impl_;
  if (m.closed) return Status::InvalidArgument("metafile already closed");
  auto r = emf::MakeRecord(record, 0xFFFF);
  if (!r.ok()) return r.status();
  Status s = emf::Validate(*r);
  if (!s.ok()) return s;
  if (r->type == EMR_HEADER || r->type == EMR_EOF) {
    return Status::InvalidArgument("the recorder writes the header and EOF itself");
  }
  const bool creates = r->type == EMR_CREATEPEN || r->type == EMR_CREATEBRUSHINDIRECT ||
                       r->type == EMR_EXTCREATEFONTINDIRECTW || r->type == EMR_EXTCREATEPEN ||
                       r->type == EMR_CREATEDIBPATTERNBRUSHPT || r->type == EMR_CREATEMONOBRUSH ||
                       r->type == EMR_CREATEPALETTE;
  DWORD ih = 0;
  if (creates || r->type == EMR_DELETEOBJECT) std::memcpy(&ih, r->bytes.data() + 8, 4);
  if (creates && m.Live(ih) && m.slots[ih].kind != Kind::kForeign) {
    return Status::InvalidArgument("handle index " + std::to_string(ih) + " is in use by the recorder");
  }
  if (!m.writer.Append(r->bytes)) return m.writer.status();
  if (creates) {
    if (m.slots.size() <= ih) m.slots.resize(ih + 1);
    m.slots[ih].kind = Kind::kForeign;
  } else if (r->type == EMR_DELETEOBJECT && ih < m.slots.size() && m.slots[ih].kind == Kind::kForeign) {
    m.slots[ih] = Slot{};
  }
  return Status::Ok();
}

std::size_t MetafileRecorder::RecordCount() const { return impl_->writer.records(); }

// ---- Device queries and state ----

int MetafileRecorder::GetDeviceCaps(int index) const {
  const auto& o = impl_->opt;
  switch (index) {
    case HORZRES: case PHYSICALWIDTH: return o.device.cx;
    case VERTRES: case PHYSICALHEIGHT: return o.device.cy;
    case HORZSIZE: return o.millimeters.cx;
    case VERTSIZE: return o.millimeters.cy;
    case LOGPIXELSX: return int(std::lround(o.device.cx * 25.4 / o.millimeters.cx));
    case LOGPIXELSY: return int(std::lround(o.device.cy * 25.4 / o.millimeters.cy));
    case PHYSICALOFFSETX: case PHYSICALOFFSETY: return 0;
    case BITSPIXEL: return 24;
    case PLANES: return 1;
    case NUMCOLORS: return -1;
    case TECHNOLOGY: return o.reference ? o.reference->GetDeviceCaps(TECHNOLOGY) : DT_RASPRINTER;
    case RASTERCAPS: return RC_BITBLT | RC_STRETCHBLT | RC_DI_BITMAP | RC_STRETCHDIB;
    default: return o.reference ? o.reference->GetDeviceCaps(index) : 0;
  }
}

int MetafileRecorder::SaveDC() {
  Impl& m = *impl_;
  if (!m.EmitType(EMR_SAVEDC)) return 0;
  m.saved.push_back(m.st);
  return int(m.saved.size());
}

bool MetafileRecorder::RestoreDC(int level) {
  Impl& m = *impl_;
  const int depth = int(m.saved.size());
  const int target = level < 0 ? depth + level + 1 : level;  // the SaveDC level to restore
  if (target < 1 || target > depth) return false;
  if (!m.EmitFixed(EMRRESTOREDC{{EMR_RESTOREDC, 0}, LONG(target - depth - 1)})) return false;
  m.st = m.saved[target - 1];
  m.saved.resize(target - 1);
  return true;
}

int MetafileRecorder::SetMapMode(int mode) {
  Impl& m = *impl_;
  if (mode < MM_TEXT || mode > MM_ANISOTROPIC) return 0;
  if (!m.EmitMode(EMR_SETMAPMODE, DWORD(mode))) return 0;
  const int old = m.st.map.mode;
  m.st.map.mode = mode;
  m.ModeExtents(mode);
  m.Isotropic();
  return old;
}
int MetafileRecorder::GetMapMode() const { return impl_->st.map.mode; }

bool MetafileRecorder::SetWindowOrgEx(int x, int y, POINT* old) {
  Impl& m = *impl_;
  if (!m.EmitPoint(EMR_SETWINDOWORGEX, {x, y})) return false;
  if (old) *old = m.st.map.wo;
  m.st.map.wo = {x, y};
  return true;
}
bool MetafileRecorder::SetViewportOrgEx(int x, int y, POINT* old) {
  Impl& m = *impl_;
  if (!m.EmitPoint(EMR_SETVIEWPORTORGEX, {x, y})) return false;
  if (old) *old = m.st.map.vo;
  m.st.map.vo = {x, y};
  return true;
}
bool MetafileRecorder::OffsetWindowOrgEx(int dx, int dy, POINT* old) {
  const POINT o = impl_->st.map.wo;
  return SetWindowOrgEx(o.x + dx, o.y + dy, old);
}
bool MetafileRecorder::OffsetViewportOrgEx(int dx, int dy, POINT* old) {
  const POINT o = impl_->st.map.vo;
  return SetViewportOrgEx(o.x + dx, o.y + dy, old);
}

bool MetafileRecorder::SetWindowExtEx(int cx, int cy, SIZE* old) {
  Impl& m = *impl_;
  if (cx == 0 || cy == 0) return false;
  if (!m.EmitFixed(EMRSETWINDOWEXTEX{{EMR_SETWINDOWEXTEX, 0}, {cx, cy}})) return false;
  if (old) *old = m.st.map.we;
  if (m.Scalable()) {
    m.st.map.we = {cx, cy};
    m.Isotropic();
  }
  return true;
}
bool MetafileRecorder::SetViewportExtEx(int cx, int cy, SIZE* old) {
  Impl& m = *impl_;
  if (cx == 0 || cy == 0) return false;
  if (!m.EmitFixed(EMRSETVIEWPORTEXTEX{{EMR_SETVIEWPORTEXTEX, 0}, {cx, cy}})) return false;
  if (old) *old = m.st.map.ve;
  if (m.Scalable()) {
    m.st.map.ve = {cx, cy};
    m.Isotropic();
  }
  return true;
}

namespace {
bool ScaleExtent(SIZE* e, int xn, int xd, int yn, int yd) {
  const long long cx = (long long)e->cx * xn / xd, cy = (long long)e->cy * yn / yd;
  if (cx == 0 || cy == 0 || std::llabs(cx) > INT32_MAX || std::llabs(cy) > INT32_MAX) return false;
  *e = {LONG(cx), LONG(cy)};
  return true;
}
}  // namespace

bool MetafileRecorder::ScaleWindowExtEx(int xn, int xd, int yn, int yd, SIZE* old) {
  Impl& m = *impl_;
  if (xd == 0 || yd == 0) return false;
  SIZE e = m.st.map.we;
  if (m.Scalable() && !ScaleExtent(&e, xn, xd, yn, yd)) return false;
  if (!m.EmitFixed(EMRSCALEWINDOWEXTEX{{EMR_SCALEWINDOWEXTEX, 0}, xn, xd, yn, yd})) return false;
  if (old) *old = m.st.map.we;
  m.st.map.we = e;
  m.Isotropic();
  return true;
}
bool MetafileRecorder::ScaleViewportExtEx(int xn, int xd, int yn, int yd, SIZE* old) {
  Impl& m = *impl_;
  if (xd == 0 || yd == 0) return false;
  SIZE e = m.st.map.ve;
  if (m.Scalable() && !ScaleExtent(&e, xn, xd, yn, yd)) return false;
  if (!m.EmitFixed(EMRSCALEVIEWPORTEXTEX{{EMR_SCALEVIEWPORTEXTEX, 0}, xn, xd, yn, yd})) return false;
  if (old) *old = m.st.map.ve;
  m.st.map.ve = e;
  m.Isotropic();
  return true;
}

POINT MetafileRecorder::GetWindowOrgEx() const { return impl_->st.map.wo; }
SIZE MetafileRecorder::GetWindowExtEx() const { return impl_->st.map.we; }
POINT MetafileRecorder::GetViewportOrgEx() const { return impl_->st.map.vo; }
SIZE MetafileRecorder::GetViewportExtEx() const { return impl_->st.map.ve; }

bool MetafileRecorder::SetWorldTransform(const XFORM& xf) {
  Impl& m = *impl_;
  if (double(xf.eM11) * xf.eM22 - double(xf.eM12) * xf.eM21 == 0) return false;
  if (!m.EmitFixed(EMRSETWORLDTRANSFORM{{EMR_SETWORLDTRANSFORM, 0}, xf})) return false;
  m.st.map.world = xf;
  return true;
}

bool MetafileRecorder::ModifyWorldTransform(const XFORM& xf, DWORD mode) {
  Impl& m = *impl_;
  XFORM w;
  switch (mode) {
    case MWT_IDENTITY: w = IdentityXform(); break;
    case MWT_LEFTMULTIPLY: w = CombineXform(xf, m.st.map.world); break;
    case MWT_RIGHTMULTIPLY: w = CombineXform(m.st.map.world, xf); break;
    default: return false;
  }
  if (double(w.eM11) * w.eM22 - double(w.eM12) * w.eM21 == 0) return false;
  if (!m.EmitFixed(EMRMODIFYWORLDTRANSFORM{{EMR_MODIFYWORLDTRANSFORM, 0}, xf, mode})) return false;
  m.st.map.world = w;
  return true;
}
XFORM MetafileRecorder::GetWorldTransform() const { return impl_->st.map.world; }

void MetafileRecorder::LPtoDP(std::span<POINT> pts) const {
  for (auto& p : pts) {
    double x, y;
    impl_->ToDevice(p.x, p.y, &x, &y);
    p = {Clamp(std::lround(x)), Clamp(std::lround(y))};
  }
}
void MetafileRecorder::DPtoLP(std::span<POINT> pts) const {
  for (auto& p : pts) {
    double x, y;
    if (impl_->ToLogical(p.x, p.y, &x, &y)) p = {Clamp(std::lround(x)), Clamp(std::lround(y))};
  }
}

// ---- Attributes ----

COLORREF MetafileRecorder::SetTextColor(COLORREF c) {
  Impl& m = *impl_;
  if (!m.EmitMode(EMR_SETTEXTCOLOR, c)) return CLR_INVALID;
  return std::exchange(m.st.text, c);
}
COLORREF MetafileRecorder::GetTextColor() const { return impl_->st.text; }
COLORREF MetafileRecorder::SetBkColor(COLORREF c) {
  Impl& m = *impl_;
  if (!m.EmitMode(EMR_SETBKCOLOR, c)) return CLR_INVALID;
  return std::exchange(m.st.bk, c);
}
COLORREF MetafileRecorder::GetBkColor() const { return impl_->st.bk; }
int MetafileRecorder::SetBkMode(int mode) {
  Impl& m = *impl_;
  if ((mode != TRANSPARENT && mode != OPAQUE) || !m.EmitMode(EMR_SETBKMODE, DWORD(mode))) return 0;
  return std::exchange(m.st.bk_mode, mode);
}
int MetafileRecorder::GetBkMode() const { return impl_->st.bk_mode; }
UINT MetafileRecorder::SetTextAlign(UINT align) {
  Impl& m = *impl_;
  if (!m.EmitMode(EMR_SETTEXTALIGN, align)) return 0xFFFFFFFF;  // GDI_ERROR
  return std::exchange(m.st.align, align);
}
UINT MetafileRecorder::GetTextAlign() const { return impl_->st.align; }
int MetafileRecorder::SetROP2(int rop2) {
  Impl& m = *impl_;
  if (rop2 < R2_BLACK || rop2 > R2_WHITE || !m.EmitMode(EMR_SETROP2, DWORD(rop2))) return 0;
  return std::exchange(m.st.rop2, rop2);
}
int MetafileRecorder::GetROP2() const { return impl_->st.rop2; }
int MetafileRecorder::SetPolyFillMode(int mode) {
  Impl& m = *impl_;
  if ((mode != ALTERNATE && mode != WINDING) || !m.EmitMode(EMR_SETPOLYFILLMODE, DWORD(mode))) return 0;
  return std::exchange(m.st.fill_mode, mode);
}
int MetafileRecorder::GetPolyFillMode() const { return impl_->st.fill_mode; }
int MetafileRecorder::SetStretchBltMode(int mode) {
  Impl& m = *impl_;
  if (mode < BLACKONWHITE || mode > HALFTONE || !m.EmitMode(EMR_SETSTRETCHBLTMODE, DWORD(mode))) return 0;
  return std::exchange(m.st.stretch_mode, mode);
}
int MetafileRecorder::GetStretchBltMode() const { return impl_->st.stretch_mode; }
int MetafileRecorder::SetGraphicsMode(int mode) {
  // Metafiles keep the graphics mode in each text record, not in a record of its own.
  if (mode != int(GM_COMPATIBLE) && mode != int(GM_ADVANCED)) return 0;
  return std::exchange(impl_->st.graphics_mode, mode);
}
int MetafileRecorder::GetGraphicsMode() const { return impl_->st.graphics_mode; }
int MetafileRecorder::SetArcDirection(int dir) {
  Impl& m = *impl_;
  if ((dir != AD_COUNTERCLOCKWISE && dir != AD_CLOCKWISE) || !m.EmitMode(EMR_SETARCDIRECTION, DWORD(dir))) return 0;
  return std::exchange(m.st.arc_dir, dir);
}
int MetafileRecorder::GetArcDirection() const { return impl_->st.arc_dir; }
bool MetafileRecorder::SetMiterLimit(float limit, float* old) {
  Impl& m = *impl_;
  if (!(limit >= 1.0f) || !m.EmitFixed(EMRSETMITERLIMIT{{EMR_SETMITERLIMIT, 0}, limit})) return false;
  if (old) *old = m.st.miter;
  m.st.miter = limit;
  return true;
}
bool MetafileRecorder::SetBrushOrgEx(int x, int y, POINT* old) {
  Impl& m = *impl_;
  if (!m.EmitPoint(EMR_SETBRUSHORGEX, {x, y})) return false;
  if (old) *old = m.st.brush_org;
  m.st.brush_org = {x, y};
  return true;
}
DWORD MetafileRecorder::SetMapperFlags(DWORD flags) {
  Impl& m = *impl_;
  if (!m.EmitMode(EMR_SETMAPPERFLAGS, flags)) return 0xFFFFFFFF;
  return std::exchange(m.st.mapper, flags);
}
bool MetafileRecorder::SetTextJustification(int extra, int breaks) {
  return impl_->EmitFixed(EMRSETTEXTJUSTIFICATION{{EMR_SETTEXTJUSTIFICATION, 0}, extra, breaks});
}

// ---- Objects ----

Pen MetafileRecorder::SelectPen(const Pen& pen) {
  Impl& m = *impl_;
  const DWORD ih = m.Obtain(Kind::kPen, &pen, nullptr, nullptr);
  if (ih == 0 || !m.Select(ih)) return m.st.pen;
  Pen old = std::exchange(m.st.pen, pen);
  m.st.pen_ih = ih;
  m.Collect(Kind::kPen);
  return old;
}
Brush MetafileRecorder::SelectBrush(const Brush& brush) {
  Impl& m = *impl_;
  const DWORD ih = m.Obtain(Kind::kBrush, nullptr, &brush, nullptr);
  if (ih == 0 || !m.Select(ih)) return m.st.brush;
  Brush old = std::exchange(m.st.brush, brush);
  m.st.brush_ih = ih;
  m.Collect(Kind::kBrush);
  return old;
}
Font MetafileRecorder::SelectFont(const Font& font) {
  Impl& m = *impl_;
  const DWORD ih = m.Obtain(Kind::kFont, nullptr, nullptr, &font);
  if (ih == 0 || !m.Select(ih)) return m.st.font;
  Font old = std::exchange(m.st.font, font);
  m.st.font_ih = ih;
  m.Collect(Kind::kFont);
  return old;
}
bool MetafileRecorder::SelectStockObject(int index) {
  Impl& m = *impl_;
  const DWORD ih = ENHMETA_STOCK_OBJECT | DWORD(index);
  if (auto p = StockPen(index)) {
    if (!m.Select(ih)) return false;
    m.st.pen = *p;
    m.st.pen_ih = ih;
  } else if (auto b = StockBrush(index)) {
    if (!m.Select(ih)) return false;
    m.st.brush = *b;
    m.st.brush_ih = ih;
  } else if (auto f = StockFont(index)) {
    if (!m.Select(ih)) return false;
    m.st.font = *f;
    m.st.font_ih = ih;
  } else {
    return false;
  }
  return true;
}
Pen MetafileRecorder::GetCurrentPen() const { return impl_->st.pen; }
Brush MetafileRecorder::GetCurrentBrush() const { return impl_->st.brush; }
Font MetafileRecorder::GetCurrentFont() const { return impl_->st.font; }

// ---- Lines and shapes ----

bool MetafileRecorder::MoveToEx(int x, int y, POINT* old) {
  Impl& m = *impl_;
  if (!m.EmitPoint(EMR_MOVETOEX, {x, y})) return false;
  if (old) *old = m.st.cur;
  m.st.cur = {x, y};
  return true;
}
POINT MetafileRecorder::GetCurrentPositionEx() const { return impl_->st.cur; }

bool MetafileRecorder::LineTo(int x, int y) {
  Impl& m = *impl_;
  if (!m.EmitPoint(EMR_LINETO, {x, y})) return false;
  const POINT seg[2] = {m.st.cur, {x, y}};
  m.Draws(m.Box(seg, m.PenPad()));
  m.st.cur = {x, y};
  return true;
}

bool MetafileRecorder::Polyline(std::span<const POINT> pts) {
  Impl& m = *impl_;
  if (pts.size() < 2) return false;
  const RECTL b = m.Box(pts, m.PenPad());
  if (!m.EmitPoly(EMR_POLYLINE, pts, m.in_path ? kEmpty : b)) return false;
  if (m.in_path) m.Draws(b);
  return true;
}

bool MetafileRecorder::PolylineTo(std::span<const POINT> pts) {
  Impl& m = *impl_;
  if (pts.empty()) return false;
  std::vector<POINT> all{m.st.cur};
  all.insert(all.end(), pts.begin(), pts.end());
  const RECTL b = m.Box(all, m.PenPad());
  if (!m.EmitPoly(EMR_POLYLINETO, pts, m.in_path ? kEmpty : b)) return false;
  if (m.in_path) m.Draws(b);
  m.st.cur = pts.back();
  return true;
}

bool MetafileRecorder::Polygon(std::span<const POINT> pts) {
  Impl& m = *impl_;
  if (pts.size() < 2) return false;
  const RECTL b = m.Box(pts, m.PenPad());
  if (!m.EmitPoly(EMR_POLYGON, pts, m.in_path ? kEmpty : b)) return false;
  if (m.in_path) m.Draws(b);
  return true;
}

namespace {
bool CountsMatch(std::span<const POINT> pts, std::span<const DWORD> counts) {
  unsigned long long sum = 0;
  for (DWORD c : counts) sum += c;
  return !counts.empty() && sum == pts.size();
}
}  // namespace

bool MetafileRecorder::PolyPolygon(std::span<const POINT> pts, std::span<const DWORD> counts) {
  Impl& m = *impl_;
  if (!CountsMatch(pts, counts)) return false;
  const RECTL b = m.Box(pts, m.PenPad());
  const bool small = FitsShort(pts);
  Bytes rec;
  PutBytes(rec, EMRPOLYPOLYLINE_HEAD{{small ? EMR_POLYPOLYGON16 : EMR_POLYPOLYGON, 0},
                                     m.in_path ? kEmpty : b, DWORD(counts.size()), DWORD(pts.size())});
  for (DWORD c : counts) PutBytes(rec, c);
  PutPoints(rec, pts, small);
  if (!m.Emit(std::move(rec))) return false;
  if (m.in_path) m.Draws(b);
  return true;
}

bool MetafileRecorder::PolyPolyline(std::span<const POINT> pts, std::span<const DWORD> counts) {
  Impl& m = *impl_;
  if (!CountsMatch(pts, counts)) return false;
  const RECTL b = m.Box(pts, m.PenPad());
  const bool small = FitsShort(pts);
  Bytes rec;
  PutBytes(rec, EMRPOLYPOLYLINE_HEAD{{small ? EMR_POLYPOLYLINE16 : EMR_POLYPOLYLINE, 0},
                                     m.in_path ? kEmpty : b, DWORD(counts.size()), DWORD(pts.size())});
  for (DWORD c : counts) PutBytes(rec, c);
  PutPoints(rec, pts, small);
  if (!m.Emit(std::move(rec))) return false;
  if (m.in_path) m.Draws(b);
  return true;
}

bool MetafileRecorder::PolyBezier(std::span<const POINT> pts) {
  Impl& m = *impl_;
  if (pts.size() < 4 || (pts.size() - 1) % 3 != 0) return false;
  const RECTL b = m.Box(pts, m.PenPad());
  if (!m.EmitPoly(EMR_POLYBEZIER, pts, m.in_path ? kEmpty : b)) return false;
  if (m.in_path) m.Draws(b);
  return true;
}

bool MetafileRecorder::PolyBezierTo(std::span<const POINT> pts) {
  Impl& m = *impl_;
  if (pts.empty() || pts.size() % 3 != 0) return false;
  std::vector<POINT> all{m.st.cur};
  all.insert(all.end(), pts.begin(), pts.end());
  const RECTL b = m.Box(all, m.PenPad());
  if (!m.EmitPoly(EMR_POLYBEZIERTO, pts, m.in_path ? kEmpty : b)) return false;
  if (m.in_path) m.Draws(b);
  m.st.cur = pts.back();
  return true;
}

bool MetafileRecorder::PolyDraw(std::span<const POINT> pts, std::span<const BYTE> types) {
  Impl& m = *impl_;
  if (pts.empty() || pts.size() != types.size()) return false;
  std::vector<POINT> all{m.st.cur};
  all.insert(all.end(), pts.begin(), pts.end());
  const RECTL b = m.Box(all, m.PenPad());
  const bool small = FitsShort(pts);
  Bytes rec;
  PutBytes(rec, EMRPOLYDRAW_HEAD{{small ? EMR_POLYDRAW16 : EMR_POLYDRAW, 0}, m.in_path ? kEmpty : b,
                                 DWORD(pts.size())});
  PutPoints(rec, pts, small);
  PutSpan(rec, types);
  if (!m.Emit(std::move(rec))) return false;
  if (m.in_path) m.Draws(b);
  m.st.cur = pts.back();
  return true;
}

bool MetafileRecorder::Rectangle(int left, int top, int right, int bottom) {
  Impl& m = *impl_;
  if (!m.EmitFixed(EMRRECTANGLE{{EMR_RECTANGLE, 0}, {left, top, right, bottom}})) return false;
  m.Draws(Impl::Inclusive(m.BoxOfRect(left, top, right, bottom, m.PenPad())));
  return true;
}
bool MetafileRecorder::RoundRect(int left, int top, int right, int bottom, int cx, int cy) {
  Impl& m = *impl_;
  if (!m.EmitFixed(EMRROUNDRECT{{EMR_ROUNDRECT, 0}, {left, top, right, bottom}, {cx, cy}})) return false;
  m.Draws(Impl::Inclusive(m.BoxOfRect(left, top, right, bottom, m.PenPad())));
  return true;
}
bool MetafileRecorder::Ellipse(int left, int top, int right, int bottom) {
  Impl& m = *impl_;
  if (!m.EmitFixed(EMRELLIPSE{{EMR_ELLIPSE, 0}, {left, top, right, bottom}})) return false;
  m.Draws(Impl::Inclusive(m.BoxOfRect(left, top, right, bottom, m.PenPad())));
  return true;
}

bool MetafileRecorder::Arc(const RECT& box, int xs, int ys, int xe, int ye) {
  return impl_->ArcRecord(EMR_ARC, box, xs, ys, xe, ye);
}
bool MetafileRecorder::ArcTo(const RECT& box, int xs, int ys, int xe, int ye) {
  Impl& m = *impl_;
  if (!m.ArcRecord(EMR_ARCTO, box, xs, ys, xe, ye)) return false;
  // The current position moves to where the arc ends: on the ellipse, along the radial to
  // the end point.
  const double cx = (box.left + box.right) / 2.0, cy = (box.top + box.bottom) / 2.0;
  const double rx = (box.right - box.left) / 2.0, ry = (box.bottom - box.top) / 2.0;
  const double a = std::atan2((ye - cy) * (rx == 0 ? 1 : rx), (xe - cx) * (ry == 0 ? 1 : ry));
  m.st.cur = {Clamp(std::lround(cx + rx * std::cos(a))), Clamp(std::lround(cy + ry * std::sin(a)))};
  return true;
}
bool MetafileRecorder::Chord(const RECT& box, int xs, int ys, int xe, int ye) {
  return impl_->ArcRecord(EMR_CHORD, box, xs, ys, xe, ye);
}
bool MetafileRecorder::Pie(const RECT& box, int xs, int ys, int xe, int ye) {
  return impl_->ArcRecord(EMR_PIE, box, xs, ys, xe, ye);
}
bool MetafileRecorder::AngleArc(int x, int y, DWORD radius, float start_deg, float sweep_deg) {
  Impl& m = *impl_;
  if (radius > 0x7FFFFFFF) return false;
  if (!m.EmitFixed(EMRANGLEARC{{EMR_ANGLEARC, 0}, {x, y}, radius, start_deg, sweep_deg})) return false;
  const LONG r = LONG(radius);
  const POINT pts[3] = {{x - r, y - r}, {x + r, y + r}, m.st.cur};
  m.Draws(m.Box(pts, m.PenPad()));
  const double end = (start_deg + sweep_deg) * 3.14159265358979323846 / 180.0;
  m.st.cur = {Clamp(std::lround(x + r * std::cos(end))), Clamp(std::lround(y - r * std::sin(end)))};
  return true;
}

bool MetafileRecorder::SetPixelV(int x, int y, COLORREF c) {
  Impl& m = *impl_;
  if (!m.EmitFixed(EMRSETPIXELV{{EMR_SETPIXELV, 0}, {x, y}, c})) return false;
  const POINT p[1] = {{x, y}};
  m.Draws(m.Box(p));
  return true;
}
COLORREF MetafileRecorder::GetPixel(int, int) const { return CLR_INVALID; }

// ---- Regions ----

bool MetafileRecorder::FillRgn(const Region& rgn, const Brush& brush) {
  Impl& m = *impl_;
  if (m.closed) return false;
  const DWORD ih = m.Obtain(Kind::kBrush, nullptr, &brush, nullptr);
  if (ih == 0) return false;
  const Bytes data = m.RegionData(rgn);
  if (!m.EmitFixed(EMRFILLRGN_HEAD{{EMR_FILLRGN, 0}, m.RegionBounds(rgn), DWORD(data.size()), ih}, data)) return false;
  m.Collect(Kind::kBrush);
  return true;
}
bool MetafileRecorder::FrameRgn(const Region& rgn, const Brush& brush, int w, int h) {
  Impl& m = *impl_;
  if (m.closed) return false;
  const DWORD ih = m.Obtain(Kind::kBrush, nullptr, &brush, nullptr);
  if (ih == 0) return false;
  const Bytes data = m.RegionData(rgn);
  if (!m.EmitFixed(EMRFRAMERGN_HEAD{{EMR_FRAMERGN, 0}, m.RegionBounds(rgn), DWORD(data.size()), ih, {w, h}}, data)) return false;
  m.Collect(Kind::kBrush);
  return true;
}
bool MetafileRecorder::InvertRgn(const Region& rgn) {
  Impl& m = *impl_;
  const Bytes data = m.RegionData(rgn);
  return m.EmitFixed(EMRINVERTRGN_HEAD{{EMR_INVERTRGN, 0}, m.RegionBounds(rgn), DWORD(data.size())}, data);
}
bool MetafileRecorder::PaintRgn(const Region& rgn) {
  Impl& m = *impl_;
  const Bytes data = m.RegionData(rgn);
  return m.EmitFixed(EMRPAINTRGN_HEAD{{EMR_PAINTRGN, 0}, m.RegionBounds(rgn), DWORD(data.size())}, data);
}

// ---- Paths ----

bool MetafileRecorder::BeginPath() {
  Impl& m = *impl_;
  if (!m.EmitType(EMR_BEGINPATH)) return false;
  m.in_path = true;
  m.path_ready = false;
  m.path_box = kEmpty;
  return true;
}
bool MetafileRecorder::EndPath() {
  Impl& m = *impl_;
  if (!m.in_path || !m.EmitType(EMR_ENDPATH)) return false;
  m.in_path = false;
  m.path_ready = true;
  return true;
}
bool MetafileRecorder::AbortPath() {
  Impl& m = *impl_;
  if (!m.EmitType(EMR_ABORTPATH)) return false;
  m.in_path = m.path_ready = false;
  m.path_box = kEmpty;
  return true;
}
bool MetafileRecorder::CloseFigure() {
  Impl& m = *impl_;
  return m.in_path && m.EmitType(EMR_CLOSEFIGURE);
}
bool MetafileRecorder::FillPath() { return impl_->PathRecord(EMR_FILLPATH, false); }
bool MetafileRecorder::StrokePath() { return impl_->PathRecord(EMR_STROKEPATH, true); }
bool MetafileRecorder::StrokeAndFillPath() { return impl_->PathRecord(EMR_STROKEANDFILLPATH, true); }
bool MetafileRecorder::FlattenPath() {
  Impl& m = *impl_;
  return m.path_ready && !m.in_path && m.EmitType(EMR_FLATTENPATH);
}
bool MetafileRecorder::WidenPath() {
  Impl& m = *impl_;
  if (!m.path_ready || m.in_path || !m.EmitType(EMR_WIDENPATH)) return false;
  const LONG pad = LONG(std::ceil(m.PenPad()));
  if (m.path_box.right >= m.path_box.left) {
    m.path_box = {m.path_box.left - pad, m.path_box.top - pad, m.path_box.right + pad, m.path_box.bottom + pad};
  }
  return true;
}
bool MetafileRecorder::SelectClipPath(int mode) {
  Impl& m = *impl_;
  if (mode < RGN_AND || mode > RGN_COPY || !m.path_ready || m.in_path) return false;
  if (!m.EmitMode(EMR_SELECTCLIPPATH, DWORD(mode))) return false;
  // The clip follows the path's box: the recorder keeps no path geometry.
  const RECTL b = m.path_box;
  m.Combine(b.right >= b.left ? Region(RECT{b.left, b.top, b.right + 1, b.bottom + 1}) : Region(), mode);
  m.path_ready = false;
  m.path_box = kEmpty;
  return true;
}

// ---- Clipping ----

int MetafileRecorder::ExtSelectClipRgn(const Region* rgn, int mode) {
  Impl& m = *impl_;
  if (mode < RGN_AND || mode > RGN_COPY || (!rgn && mode != RGN_COPY)) return RGN_ERROR;
  Bytes data;
  if (rgn) data = m.RegionData(*rgn);
  if (!m.EmitFixed(EMREXTSELECTCLIPRGN_HEAD{{EMR_EXTSELECTCLIPRGN, 0}, DWORD(data.size()), DWORD(mode)}, data)) {
    return RGN_ERROR;
  }
  if (!rgn) {
    m.st.clip.reset();
    return m.Effective().Kind();
  }
  return m.Combine(*rgn, mode);
}

int MetafileRecorder::IntersectClipRect(int left, int top, int right, int bottom) {
  Impl& m = *impl_;
  if (!m.EmitFixed(EMRINTERSECTCLIPRECT{{EMR_INTERSECTCLIPRECT, 0}, {left, top, right, bottom}})) return RGN_ERROR;
  return m.Combine(m.RectRegion(left, top, right, bottom), RGN_AND);
}
int MetafileRecorder::ExcludeClipRect(int left, int top, int right, int bottom) {
  Impl& m = *impl_;
  if (!m.EmitFixed(EMREXCLUDECLIPRECT{{EMR_EXCLUDECLIPRECT, 0}, {left, top, right, bottom}})) return RGN_ERROR;
  return m.Combine(m.RectRegion(left, top, right, bottom), RGN_DIFF);
}
int MetafileRecorder::OffsetClipRgn(int dx, int dy) {
  Impl& m = *impl_;
  if (!m.EmitPoint(EMR_OFFSETCLIPRGN, {dx, dy})) return RGN_ERROR;
  if (m.st.clip) {
    double x0, y0, x1, y1;
    m.ToDevice(0, 0, &x0, &y0);
    m.ToDevice(dx, dy, &x1, &y1);
    m.st.clip->Offset(int(std::lround(x1 - x0)), int(std::lround(y1 - y0)));
  }
  return m.Effective().Kind();
}
int MetafileRecorder::SetMetaRgn() {
  Impl& m = *impl_;
  if (!m.EmitType(EMR_SETMETARGN)) return RGN_ERROR;
  if (m.st.clip) {
    if (m.st.meta) {
      m.st.meta->Combine(*m.st.clip, RGN_AND);
    } else {
      m.st.meta = m.st.clip;
    }
    m.st.clip.reset();
  }
  return m.Effective().Kind();
}
int MetafileRecorder::GetClipBox(RECT* box) const {
  const Region r = impl_->Effective();
  const RECT b = r.Box();
  POINT c[2] = {{b.left, b.top}, {b.right, b.bottom}};
  DPtoLP(c);
  if (box) {
    *box = {std::min(c[0].x, c[1].x), std::min(c[0].y, c[1].y), std::max(c[0].x, c[1].x),
            std::max(c[0].y, c[1].y)};
  }
  return r.Kind();
}
std::optional<Region> MetafileRecorder::GetClipRgn() const { return impl_->st.clip; }

// ---- Text ----

bool MetafileRecorder::ExtTextOutW(int x, int y, UINT options, const RECT* rect,
                                   std::u16string_view text, std::span<const int> dx) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  return impl_->Text(EMR_EXTTEXTOUTW, x, y, options, rect, {p, text.size() * 2}, text.size(),
                     text, {}, dx);
}
bool MetafileRecorder::ExtTextOutA(int x, int y, UINT options, const RECT* rect,
                                   std::string_view text, std::span<const int> dx) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  return impl_->Text(EMR_EXTTEXTOUTA, x, y, options, rect, {p, text.size()}, text.size(), {},
                     text, dx);
}
bool MetafileRecorder::GetTextMetricsW(win::TEXTMETRICW* tm) const {
  auto* ref = impl_->opt.reference;
  if (!ref) return false;
  ref->SelectFont(impl_->st.font);
  return ref->GetTextMetricsW(tm);
}
bool MetafileRecorder::GetTextExtentPoint32W(std::u16string_view text, SIZE* size) const {
  auto* ref = impl_->opt.reference;
  if (!ref) return false;
  ref->SelectFont(impl_->st.font);
  return ref->GetTextExtentPoint32W(text, size);
}
bool MetafileRecorder::GetTextExtentPoint32A(std::string_view text, SIZE* size) const {
  auto* ref = impl_->opt.reference;
  if (!ref) return false;
  ref->SelectFont(impl_->st.font);
  return ref->GetTextExtentPoint32A(text, size);
}
std::string MetafileRecorder::GetTextFace() const {
  auto* ref = impl_->opt.reference;
  if (!ref) return FaceName(impl_->st.font.lf);
  ref->SelectFont(impl_->st.font);
  return ref->GetTextFace();
}

// ---- Bitmaps ----

bool MetafileRecorder::PatBlt(int x, int y, int cx, int cy, DWORD rop) {
  if (RopUsesSource(rop)) return false;
  return impl_->Blit(EMR_BITBLT, x, y, cx, cy, std::nullopt, 0, 0, cx, cy, rop);
}

bool MetafileRecorder::BitBlt(int x, int y, int cx, int cy, const DeviceContext* src, int xs,
                              int ys, DWORD rop) {
  return StretchBlt(x, y, cx, cy, src, xs, ys, cx, cy, rop);
}

bool MetafileRecorder::StretchBlt(int x, int y, int cx, int cy, const DeviceContext* src, int xs,
                                  int ys, int cxs, int cys, DWORD rop) {
  Impl& m = *impl_;
  if (!RopUsesSource(rop)) return m.Blit(EMR_BITBLT, x, y, cx, cy, std::nullopt, 0, 0, cx, cy, rop);
  auto pixels = m.ReadSource(src, xs, ys, cxs, cys);
  if (!pixels) return false;
  const int w = Impl::DibWidth(*pixels), h = Impl::DibHeight(*pixels);
  const bool same = w == cx && h == cy;
  return m.Blit(same ? EMR_BITBLT : EMR_STRETCHBLT, x, y, cx, cy, pixels, 0, 0, w, h, rop);
}

bool MetafileRecorder::StretchDIBits(int x, int y, int cx, int cy, int xs, int ys, int cxs,
                                     int cys, const DibRef& dib, DWORD rop) {
  Impl& m = *impl_;
  if (m.closed) return false;
  EMRSTRETCHDIBITS h{};
  h.emr.iType = EMR_STRETCHDIBITS;
  const RECTL b = m.BoxOfRect(x, y, x + cx, y + cy);
  h.rclBounds = m.in_path ? kEmpty : RECTL{b.left, b.top, b.right - 1, b.bottom - 1};
  h.xDest = x;
  h.yDest = y;
  h.xSrc = xs;
  h.ySrc = ys;
  h.cxSrc = cxs;
  h.cySrc = cys;
  h.iUsageSrc = dib.usage;
  h.dwRop = rop;
  h.cxDest = cx;
  h.cyDest = cy;
  Bytes tail;
  if (RopUsesSource(rop)) {
    std::size_t info = 0;
    tail = m.DibBytes(Dib::Copy(dib), &info);
    h.offBmiSrc = sizeof(h);
    h.cbBmiSrc = DWORD(info);
    h.offBitsSrc = DWORD(sizeof(h) + ((info + 3) & ~std::size_t(3)));
    h.cbBitsSrc = DWORD(dib.bits.size());
  }
  if (!m.EmitFixed(h, tail)) return false;
  if (m.in_path) m.path_box = Union(m.path_box, b);
  return true;
}

bool MetafileRecorder::SetDIBitsToDevice(int x, int y, int cx, int cy, int xs, int ys, UINT start,
                                         UINT lines, const DibRef& dib) {
  Impl& m = *impl_;
  if (m.closed) return false;
  EMRSETDIBITSTODEVICE h{};
  h.emr.iType = EMR_SETDIBITSTODEVICE;
  const RECTL b = m.BoxOfRect(x, y, x + cx, y + cy);
  h.rclBounds = m.in_path ? kEmpty : RECTL{b.left, b.top, b.right - 1, b.bottom - 1};
  h.xDest = x;
  h.yDest = y;
  h.xSrc = xs;
  h.ySrc = ys;
  h.cxSrc = cx;
  h.cySrc = cy;
  h.iUsageSrc = dib.usage;
  h.iStartScan = start;
  h.cScans = lines;
  std::size_t info = 0;
  const Bytes tail = m.DibBytes(Dib::Copy(dib), &info);
  h.offBmiSrc = sizeof(h);
  h.cbBmiSrc = DWORD(info);
  h.offBitsSrc = DWORD(sizeof(h) + ((info + 3) & ~std::size_t(3)));
  h.cbBitsSrc = DWORD(dib.bits.size());
  if (!m.EmitFixed(h, tail)) return false;
  if (m.in_path) m.path_box = Union(m.path_box, b);
  return true;
}

bool MetafileRecorder::MaskBlt(int x, int y, int cx, int cy, const DeviceContext* src, int xs,
                               int ys, const DibRef* mask, int xm, int ym, DWORD rop4) {
  Impl& m = *impl_;
  std::optional<Dib> pixels;
  if (RopUsesSource(rop4) || RopUsesSource(rop4 >> 8)) {
    pixels = m.ReadSource(src, xs, ys, cx, cy);
    if (!pixels) return false;
    xs = ys = 0;
  }
  return m.Mask(x, y, cx, cy, pixels, xs, ys, mask, xm, ym, rop4);
}

bool MetafileRecorder::AlphaBlend(int x, int y, int cx, int cy, const DeviceContext* src, int xs,
                                  int ys, int cxs, int cys, win::BLENDFUNCTION blend) {
  Impl& m = *impl_;
  auto pixels = m.ReadSource(src, xs, ys, cxs, cys);
  if (!pixels) return false;
  return DibAlphaBlend(x, y, cx, cy, pixels->ref(), 0, 0, Impl::DibWidth(*pixels),
                       Impl::DibHeight(*pixels), blend);
}

bool MetafileRecorder::DibBlt(int x, int y, int cx, int cy, const DibRef* src, int xs, int ys,
                              int cxs, int cys, DWORD rop) {
  Impl& m = *impl_;
  std::optional<Dib> pixels;
  if (RopUsesSource(rop)) {
    if (!src) return false;
    pixels = Dib::Copy(*src);
  }
  const bool same = cxs == cx && cys == cy;
  return m.Blit(same ? EMR_BITBLT : EMR_STRETCHBLT, x, y, cx, cy, pixels, xs, ys, cxs, cys, rop);
}

bool MetafileRecorder::DibMaskBlt(int x, int y, int cx, int cy, const DibRef* src, int xs, int ys,
                                  const DibRef* mask, int xm, int ym, DWORD rop4) {
  std::optional<Dib> pixels;
  if (src) pixels = Dib::Copy(*src);
  return impl_->Mask(x, y, cx, cy, pixels, xs, ys, mask, xm, ym, rop4);
}

bool MetafileRecorder::DibAlphaBlend(int x, int y, int cx, int cy, const DibRef& src, int xs,
                                     int ys, int cxs, int cys, win::BLENDFUNCTION blend) {
  DWORD packed = 0;
  std::memcpy(&packed, &blend, sizeof(packed));
  return impl_->Blit(EMR_ALPHABLEND, x, y, cx, cy, Dib::Copy(src), xs, ys, cxs, cys, packed);
}

std::optional<Dib> MetafileRecorder::ReadPixels(const RECT&) const { return std::nullopt; }

// ---- Metafile-only calls ----

bool MetafileRecorder::GdiComment(std::span<const std::uint8_t> data) {
  return impl_->EmitFixed(EMRGDICOMMENT_HEAD{{EMR_GDICOMMENT, 0}, DWORD(data.size())}, data);
}
void MetafileRecorder::SetBaseTransform(const XFORM& xf) { impl_->base = xf; }
XFORM MetafileRecorder::GetBaseTransform() const { return impl_->base; }

Result<std::vector<std::uint8_t>> RecordBlankPage(SIZEL device, SIZEL millimeters) {
  MetafileRecorder::Options o;
  o.device = device;
  o.millimeters = millimeters;
  MetafileRecorder rec(o);
  return rec.Close();
}

}  // namespace zv::gdi
