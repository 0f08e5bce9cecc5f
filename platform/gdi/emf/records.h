// Typed views of metafile records, each given only after the record's content was checked:
// handle indices below the handle-table size (or a stock object), point and polygon counts
// that fit the record, bitmap headers, colour tables and bits inside the record with
// width x height x bits that does not overflow, text offsets and counts inside the record,
// region data inside the record. A failed check is a Corruption status naming the record; the
// caller stops that page. Views point into the record's bytes (keep them alive) and read
// through memcpy, so records need no alignment.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/base/status.h"
#include "platform/gdi/emf/reader.h"
#include "platform/wintypes/emf.h"

namespace zv::emf {

// An array of `T` packed in record bytes. Entries are copied out on access.
template <typename T>
class Packed {
 public:
  Packed() = default;
  Packed(const std::uint8_t* data, std::size_t count) : data_(data), count_(count) {}

  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  // Entry i (i < size()).
  T operator[](std::size_t i) const {
    T v;
    std::memcpy(&v, data_ + i * sizeof(T), sizeof(T));
    return v;
  }
  // The raw bytes of the entries.
  std::span<const std::uint8_t> bytes() const { return {data_, count_ * sizeof(T)}; }

  class iterator {
   public:
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    iterator() = default;
    iterator(const Packed* p, std::size_t i) : p_(p), i_(i) {}
    T operator*() const { return (*p_)[i_]; }
    iterator& operator++() {
      ++i_;
      return *this;
    }
    iterator operator++(int) {
      iterator t = *this;
      ++i_;
      return t;
    }
    bool operator==(const iterator& o) const { return i_ == o.i_; }

   private:
    const Packed* p_ = nullptr;
    std::size_t i_ = 0;
  };
  iterator begin() const { return iterator(this, 0); }
  iterator end() const { return iterator(this, count_); }

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t count_ = 0;
};

// The points of a shape record as 32-bit points, whether it stores POINTL or 16-bit POINTS.
class Points {
 public:
  Points() = default;
  Points(const std::uint8_t* data, std::size_t count, bool small) : data_(data), count_(count), small_(small) {}
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  bool is16() const { return small_; }
  // Point i (i < size()).
  win::POINTL operator[](std::size_t i) const;
  // All points (a copy).
  std::vector<win::POINTL> ToVector() const;

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t count_ = 0;
  bool small_ = false;
};

// True when `ih` names a stock object (the stock bit and a known stock number).
bool IsStockObject(std::uint32_t ih);

// Runs the checks of the view that matches the record's type (and the minimum size of the
// fixed records); record types without a view pass on their envelope alone.
Status Validate(const Record& r);

// Steps through every record of the metafile and validates each; gives the first error.
Status ValidateAll(const Metafile& mf);

// A fixed-size record copied out after Validate() and a size check against sizeof(T).
template <typename T>
Result<T> ReadFixed(const Record& r) {
  Status s = Validate(r);
  if (!s.ok()) return s;
  auto v = win::LoadRecord<T>(r.bytes);
  if (!v) return Status::Corruption("metafile record type " + std::to_string(r.type) + " too short");
  return *v;
}

// EMR_POLYBEZIER, EMR_POLYGON, EMR_POLYLINE, EMR_POLYBEZIERTO, EMR_POLYLINETO and their
// 16-bit forms.
struct Poly {
  win::RECTL bounds{};
  Points points;
};
Result<Poly> ReadPoly(const Record& r);

// EMR_POLYPOLYLINE, EMR_POLYPOLYGON and their 16-bit forms. The counts add up to the number
// of points.
struct PolyPoly {
  win::RECTL bounds{};
  Packed<win::DWORD> counts;
  Points points;
};
Result<PolyPoly> ReadPolyPoly(const Record& r);

// EMR_POLYDRAW, EMR_POLYDRAW16: one PT_* type per point.
struct PolyDraw {
  win::RECTL bounds{};
  Points points;
  Packed<win::BYTE> types;
};
Result<PolyDraw> ReadPolyDraw(const Record& r);

// Region data: its header (dwSize 32, RDH_RECTANGLES) and its rectangles (device units).
struct Region {
  win::RGNDATAHEADER header{};
  Packed<win::RECTL> rects;
};

// EMR_EXTSELECTCLIPRGN: an RGN_* mode and a region; no region with RGN_COPY resets the clip.
struct ClipRegion {
  win::DWORD mode = 0;
  std::optional<Region> region;
};
Result<ClipRegion> ReadExtSelectClipRgn(const Record& r);

// EMR_FILLRGN, EMR_FRAMERGN, EMR_INVERTRGN, EMR_PAINTRGN.
struct RegionPaint {
  win::RECTL bounds{};
  std::optional<win::DWORD> brush;  // FILLRGN and FRAMERGN: a handle index or stock object
  win::SIZEL stroke{};              // FRAMERGN only
  Region region;
};
Result<RegionPaint> ReadRegionPaint(const Record& r);

// Largest bitmap a record may describe (pixels); larger ones are refused as corrupt so that
// no player sizes a surface from an absurd header.
constexpr std::uint64_t kMaxBitmapPixels = std::uint64_t(1) << 30;

// A bitmap inside a record: its header, masks, colour table and rows, all checked to lie in
// the record. For uncompressed bitmaps (BI_RGB, BI_BITFIELDS) `rows` rows of `stride` bytes
// lie in `bits`; compressed ones (RLE, JPEG, PNG) give only `bits`.
struct Dib {
  win::BITMAPINFOHEADER header{};
  std::span<const std::uint8_t> info;  // the whole bitmap info (header, masks, colour table)
  std::span<const std::uint8_t> bits;
  win::DWORD usage = win::DIB_RGB_COLORS;
  std::array<win::DWORD, 3> masks{};  // red, green, blue masks for BI_BITFIELDS
  Packed<win::RGBQUAD> colors;        // DIB_RGB_COLORS colour table
  Packed<win::WORD> palette_indices;  // DIB_PAL_COLORS colour table
  std::uint32_t width = 0;
  std::uint32_t height = 0;  // absolute
  bool top_down = false;     // negative biHeight
  bool compressed = false;
  std::uint64_t stride = 0;  // bytes per row (uncompressed)
  std::uint32_t rows = 0;    // rows present in `bits` (uncompressed)

  // Stored row i (i < rows) in the order the bits hold them; empty when out of range or
  // compressed.
  std::span<const std::uint8_t> StoredRow(std::uint32_t i) const;
};

// EMR_BITBLT, EMR_STRETCHBLT, EMR_ALPHABLEND, EMR_TRANSPARENTBLT in the stretch layout (a
// BITBLT's source size is its destination size). No source when the record carries no
// bitmap (a raster operation without source, such as PATCOPY).
struct Blt {
  win::EMRSTRETCHBLT rec{};
  std::optional<Dib> source;
};
Result<Blt> ReadBlt(const Record& r);

// EMR_MASKBLT.
struct MaskBlt {
  win::EMRMASKBLT rec{};
  std::optional<Dib> source;
  std::optional<Dib> mask;
};
Result<MaskBlt> ReadMaskBlt(const Record& r);

// EMR_PLGBLT.
struct PlgBlt {
  win::EMRPLGBLT rec{};
  std::optional<Dib> source;
  std::optional<Dib> mask;
};
Result<PlgBlt> ReadPlgBlt(const Record& r);

// EMR_STRETCHDIBITS.
struct StretchDib {
  win::EMRSTRETCHDIBITS rec{};
  std::optional<Dib> source;
};
Result<StretchDib> ReadStretchDib(const Record& r);

// EMR_SETDIBITSTODEVICE: the source holds cScans rows.
struct DibToDevice {
  win::EMRSETDIBITSTODEVICE rec{};
  std::optional<Dib> source;
};
Result<DibToDevice> ReadDibToDevice(const Record& r);

// EMR_CREATEDIBPATTERNBRUSHPT, EMR_CREATEMONOBRUSH.
struct PatternBrush {
  win::DWORD handle = 0;
  win::DWORD usage = 0;
  Dib pattern;
};
Result<PatternBrush> ReadPatternBrush(const Record& r);

// EMR_CREATEPEN.
Result<win::EMRCREATEPEN> ReadCreatePen(const Record& r);

// EMR_EXTCREATEPEN: style entries and, for pattern pens, the bitmap.
struct ExtPen {
  win::DWORD handle = 0;
  win::EXTLOGPEN32 elp{};
  Packed<win::DWORD> style_entries;
  std::optional<Dib> pattern;
};
Result<ExtPen> ReadExtCreatePen(const Record& r);

// EMR_CREATEBRUSHINDIRECT.
Result<win::EMRCREATEBRUSHINDIRECT> ReadCreateBrush(const Record& r);

// EMR_EXTCREATEFONTINDIRECTW: the handle and the LOGFONTW every form begins with.
struct FontCreate {
  win::DWORD handle = 0;
  win::LOGFONTW font{};
};
Result<FontCreate> ReadCreateFont(const Record& r);

// EMR_SELECTOBJECT, EMR_DELETEOBJECT, EMR_SELECTPALETTE: the handle index or stock object
// (deleting a stock object is allowed and does nothing).
Result<win::DWORD> ReadObjectIndex(const Record& r);

// Text of EMR_EXTTEXTOUTA/W, EMR_SMALLTEXTOUT and each string of EMR_POLYTEXTOUTA/W.
struct Text {
  win::RECTL bounds{};  // device units; SMALLTEXTOUT carries none (zeros)
  win::DWORD graphics_mode = 0;
  float ex_scale = 0, ey_scale = 0;
  win::POINTL reference{};
  win::DWORD options = 0;
  std::optional<win::RECTL> rect;  // none with ETO_NO_RECT
  bool wide = false;               // UTF-16 characters, else 8-bit
  std::uint32_t count = 0;         // characters (bytes for 8-bit text)
  std::span<const std::uint8_t> chars;
  Packed<win::LONG> dx;  // count advances (2 x count with ETO_PDY), or none

  // The characters as UTF-16 (wide) or as stored bytes (8-bit).
  std::u16string Utf16() const;
  std::string_view Bytes() const { return {reinterpret_cast<const char*>(chars.data()), chars.size()}; }
};
Result<Text> ReadText(const Record& r);  // EXTTEXTOUTA/W and SMALLTEXTOUT
Result<std::vector<Text>> ReadPolyText(const Record& r);

// EMR_GDICOMMENT: the 32-bit field at offset 8 and the bytes after it. Ordinary comments
// hold their byte count there and `data` is those bytes; private records that put something
// else in the field have no `data` and are read from `payload` (bytes 12 to nSize).
struct Comment {
  win::DWORD field = 0;
  std::span<const std::uint8_t> payload;
  std::optional<std::span<const std::uint8_t>> data;
};
Result<Comment> ReadComment(const Record& r);

// EMR_GRADIENTFILL: vertices and the vertex indices (3 per triangle or 2 per rectangle), all
// below the vertex count.
struct GradientFill {
  win::RECTL bounds{};
  win::DWORD mode = 0;
  Packed<win::TRIVERTEX> vertices;
  Packed<win::DWORD> indices;
};
Result<GradientFill> ReadGradientFill(const Record& r);

// EMR_CREATEPALETTE: the handle and its entries (PALETTEENTRY as 4 bytes each).
struct PaletteCreate {
  win::DWORD handle = 0;
  Packed<win::DWORD> entries;
};
Result<PaletteCreate> ReadCreatePalette(const Record& r);

}  // namespace zv::emf
