// Private to the recording device context: the state its files share (the drawing state the
// records set, the object table, the record writer) and the small encoders they all use. The
// public interface is recorder.h; nothing outside this folder includes this header.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/gdi/emf/records.h"
#include "platform/gdi/recorder/recorder.h"

namespace zv::gdi {
namespace recorder_internal {

using namespace win;
using Bytes = std::vector<std::uint8_t>;

constexpr RECTL kEmpty{0, 0, -1, -1};
// Unselected objects of one kind kept for reuse before they are deleted: enough for drawing
// that alternates between a few pens or brushes, few enough to keep the player's table small.
constexpr int kKeepUnused = 8;

// Appends the bytes of a record structure (little-endian, as the formats are).
template <typename T>
void PutBytes(Bytes& out, const T& v) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&v);
  out.insert(out.end(), p, p + sizeof(T));
}

// Appends bytes as they are.
inline void PutSpan(Bytes& out, std::span<const std::uint8_t> s) { out.insert(out.end(), s.begin(), s.end()); }

// Pads to a multiple of four bytes with zeros (records and their parts are 4-aligned).
inline void Pad4(Bytes& out) { out.resize((out.size() + 3) & ~std::size_t(3), 0); }

// True when the transform changes nothing.
inline bool IsIdentity(const XFORM& x) {
  return x.eM11 == 1 && x.eM12 == 0 && x.eM21 == 0 && x.eM22 == 1 && x.eDx == 0 && x.eDy == 0;
}

// True when a ternary raster operation reads the source bitmap.
inline bool RopUsesSource(DWORD rop) { return (((rop >> 2) ^ rop) & 0x00330000) != 0; }

// Gives the smallest box holding both boxes (an empty box, right < left, counts as none).
inline RECTL Union(const RECTL& a, const RECTL& b) {
  if (a.right < a.left || a.bottom < a.top) return b;
  if (b.right < b.left || b.bottom < b.top) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

// Bounds stay a little inside LONG so that widening a box by a pen's pad cannot overflow.
inline LONG Clamp(double v) {
  if (!(v > -2147483000.0)) return -2147483000;  // also NaN
  if (v > 2147483000.0) return 2147483000;
  return LONG(v);
}

// True when every point fits the 16-bit record forms.
inline bool FitsShort(std::span<const POINT> pts) {
  return std::all_of(pts.begin(), pts.end(),
                     [](const POINT& p) { return p.x >= -32768 && p.x <= 32767 && p.y >= -32768 && p.y <= 32767; });
}

// Appends points as POINTS (small) or POINTL.
inline void PutPoints(Bytes& out, std::span<const POINT> pts, bool small) {
  for (const auto& p : pts) {
    if (small) {
      PutBytes(out, POINTS{SHORT(p.x), SHORT(p.y)});
    } else {
      PutBytes(out, p);
    }
  }
}

// The 16-bit form of a poly record type.
inline DWORD SmallForm(DWORD type) {
  switch (type) {
    case EMR_POLYBEZIER:
      return EMR_POLYBEZIER16;
    case EMR_POLYGON:
      return EMR_POLYGON16;
    case EMR_POLYLINE:
      return EMR_POLYLINE16;
    case EMR_POLYBEZIERTO:
      return EMR_POLYBEZIERTO16;
    case EMR_POLYLINETO:
      return EMR_POLYLINETO16;
    case EMR_POLYPOLYLINE:
      return EMR_POLYPOLYLINE16;
    case EMR_POLYPOLYGON:
      return EMR_POLYPOLYGON16;
    case EMR_POLYDRAW:
      return EMR_POLYDRAW16;
    default:
      return type;
  }
}

// Map mode, window, viewport and world transform: logical to device.
struct Mapping {
  int mode = MM_TEXT;
  POINT wo{0, 0}, vo{0, 0};
  SIZE we{1, 1}, ve{1, 1};
  XFORM world = IdentityXform();
};

// What a handle-table slot holds; kForeign: created by a record appended as it was.
enum class Kind { kNone, kPen, kBrush, kFont, kForeign };

// The drawing state the records set; SaveDC pushes a copy.
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

// One handle-table index and the object it stands for.
struct Slot {
  Kind kind = Kind::kNone;
  Pen pen;
  Brush brush;
  Font font;
};

}  // namespace recorder_internal

// The recorder's files use these names as their own (they were one file's private names).
using namespace recorder_internal;

struct MetafileRecorder::Impl {
  // The drawing state and the writer (recorder.cc holds the coordinates and the record writer;
  // each other group's members live in the file of that group).
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

  // Takes a logical point; gives its device position (world, then page transform).
  void ToDevice(double x, double y, double* dx, double* dy) const;
  // Takes a device point; gives its logical position. False when the world transform has no
  // inverse.
  bool ToLogical(double dx, double dy, double* x, double* y) const;
  // Device pixels per logical unit along x and y (magnitudes, for widths).
  double ScaleX() const;
  double ScaleY() const;
  // True when logical y grows upwards on the device.
  bool YUp() const;

  // The device box (inclusive) of logical points, widened by `pad` device pixels.
  RECTL Box(std::span<const POINT> pts, double pad = 0) const;
  // The device box of a logical rectangle's four corners.
  RECTL BoxOfRect(int l, int t, int r, int b, double pad = 0) const;
  // A filled shape covers up to, not including, its right and bottom edges.
  static RECTL Inclusive(RECTL b);
  // How far (device pixels) the current pen reaches beyond a figure's outline.
  double PenPad() const;

  // Drawing outside a path bracket adds to the header's bounds; inside, to the path's.
  void Draws(const RECTL& box);

  // Sets nSize, checks the record with the reader's checks, appends it.
  bool Emit(Bytes rec);
  // Emits a fixed record structure followed by `tail` (its variable part).
  template <typename T>
  bool EmitFixed(const T& v, std::span<const std::uint8_t> tail = {}) {
    Bytes rec;
    PutBytes(rec, v);
    PutSpan(rec, tail);
    return Emit(std::move(rec));
  }
  // Emits a record of the type alone, one with a single DWORD, one with a single point.
  bool EmitType(DWORD type) { return EmitFixed(EMR{type, 0}); }
  bool EmitMode(DWORD type, DWORD value) { return EmitFixed(EMRSETMAPMODE{{type, 0}, value}); }
  bool EmitPoint(DWORD type, POINT p) { return EmitFixed(EMRMOVETOEX{{type, 0}, p}); }

  // A poly record in the 16-bit form when every point fits.
  bool EmitPoly(DWORD type, std::span<const POINT> pts, const RECTL& bounds);

  // Object table (recorder_objects.cc).
  // True when slot ih holds an object.
  bool Live(DWORD ih) const { return ih < slots.size() && slots[ih].kind != Kind::kNone; }
  // True when the current or a saved state has slot ih selected.
  bool Held(DWORD ih) const;
  // Gives a free slot index, growing the table; 0 when the table is full.
  DWORD FreeSlot();

  // Takes a bitmap; gives its header and colours, padded to 4 bytes, then its bits, and the
  // header's size in *info_size.
  Bytes DibBytes(const Dib& d, std::size_t* info_size) const;

  // Writes the record that creates the object in slot ih.
  bool CreateRecord(DWORD ih, const Slot& s);

  // True when slot s holds an object of that kind and value.
  static bool Same(const Slot& s, Kind kind, const Pen* p, const Brush* b, const Font* f);

  // The handle of an object of that value: a stock object, a live slot, or a new slot whose
  // create record is written now. 0 when the table is full or the record was refused.
  DWORD Obtain(Kind kind, const Pen* p, const Brush* b, const Font* f);

  // Deletes the unused objects of a kind once more than kKeepUnused pile up.
  void Collect(Kind kind);

  // Emits EMR_SELECTOBJECT for handle ih.
  bool Select(DWORD ih) { return EmitFixed(EMRSELECTOBJECT{{EMR_SELECTOBJECT, 0}, ih}); }

  // Map modes and clipping (recorder_state.cc).
  // Sets the window and viewport extents a map mode implies for the reference device.
  void ModeExtents(int mode);
  // In MM_ISOTROPIC one logical unit is as long on the device in x as in y.
  void Isotropic();
  // True in the map modes whose extents the caller may set.
  bool Scalable() const { return st.map.mode == MM_ISOTROPIC || st.map.mode == MM_ANISOTROPIC; }

  // The whole device as a region (what no clip means).
  Region Surface() const { return Region(RECT{0, 0, opt.device.cx, opt.device.cy}); }
  // Combines a device region into the clip region (RGN_AND ... RGN_COPY); gives its kind.
  int Combine(const Region& r, int mode);
  // The clip region as drawing sees it: the clip region within the meta region.
  Region Effective() const;

  // Text (recorder_text.cc).
  // Text extent in logical units: the advances when given (x advances, every other one with
  // ETO_PDY), else from the reference device context, else estimated from the font height.
  // `ansi` is the 8-bit text of EXTTEXTOUTA (measured as such), empty for UTF-16 text.
  SIZE Extent(std::u16string_view text, std::string_view ansi, std::size_t count, std::span<const int> dx,
              bool pdy) const;
  // The current font's height in logical units (16 when it asks for the default).
  LONG FontHeight() const;

  // The device box of text of extent `ext` drawn at `at`, placed as the text alignment says.
  RECTL TextBox(POINT at, SIZE ext) const;

  // Emits an EMR_EXTTEXTOUTW or EMR_EXTTEXTOUTA record: `chars` are the record's string bytes
  // (count characters), text16/ansi the same text for measuring, dx the advances (may be
  // empty). Moves the current position when TA_UPDATECP is set.
  bool Text(DWORD type, int x, int y, UINT options, const RECT* rect, std::span<const std::uint8_t> chars,
            std::size_t count, std::u16string_view text16, std::string_view ansi, std::span<const int> dx);

  // Bitmaps (recorder_bitmaps.cc).
  // Emits an EMR_BITBLT or EMR_STRETCHBLT record with the source bitmap (none for PatBlt).
  bool Blit(DWORD type, int x, int y, int cx, int cy, const std::optional<Dib>& src, int xs, int ys, int cxs, int cys,
            DWORD rop);

  // The pixels of a source device context under its logical rectangle, and their size.
  std::optional<Dib> ReadSource(const DeviceContext* src, int xs, int ys, int cxs, int cys) const;
  // A bitmap's width and height in pixels (0 when its header is short).
  static int DibWidth(const Dib& d);
  static int DibHeight(const Dib& d);

  // Emits an EMR_MASKBLT record with the source and mask bitmaps.
  bool Mask(int x, int y, int cx, int cy, const std::optional<Dib>& src, int xs, int ys, const DibRef* mask, int xm,
            int ym, DWORD rop4);

  // Regions, arcs and paths (recorder_shapes.cc).
  // Takes a device region; gives it as RGNDATA (header and rectangles).
  Bytes RegionData(const Region& rgn) const;
  // The inclusive device bounds of a region (kEmpty for an empty one).
  RECTL RegionBounds(const Region& rgn) const;

  // Emits an arc-shaped record (EMR_ARC, EMR_ARCTO, EMR_CHORD, EMR_PIE) and counts its bounds.
  bool ArcRecord(DWORD type, const RECT& box, int xs, int ys, int xe, int ye);

  // A logical rectangle as a device region.
  Region RectRegion(int l, int t, int r, int b) const;

  // Emits a record that uses the finished path (fill, stroke or both) with the path's
  // bounds, widened by the pen when it strokes; the path is used up.
  bool PathRecord(DWORD type, bool stroke);
};

}  // namespace zv::gdi
