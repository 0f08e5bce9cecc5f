#include "platform/gdi/emf/records.h"

#include <climits>
#include <string>

namespace zv::emf {
namespace {

using win::DWORD;

Status Bad(const Record& r, const std::string& what) {
  return Status::Corruption("metafile record type " + std::to_string(r.type) + " at offset " +
                            std::to_string(r.offset) + ": " + what);
}

template <typename T>
T Load(const Record& r, std::size_t off = 0) {
  T v;
  std::memcpy(&v, r.bytes.data() + off, sizeof(T));
  return v;
}

// True when [off, off + len) lies inside the record (64-bit arithmetic, no overflow).
bool Inside(const Record& r, std::uint64_t off, std::uint64_t len) { return off <= r.size() && len <= r.size() - off; }

Status NeedSize(const Record& r, std::size_t n) {
  if (r.size() < n) {
    return Bad(r, "nSize " + std::to_string(r.size()) + " below " + std::to_string(n));
  }
  return Status::Ok();
}

// A handle index of a slot in the handle table (create records): 1 .. handles - 1.
Status CheckSlot(const Record& r, DWORD ih) {
  if (ih == 0 || ih >= r.handles) {
    return Bad(r, "handle index " + std::to_string(ih) + " outside the table of " + std::to_string(r.handles));
  }
  return Status::Ok();
}

// A handle index that may also name a stock object.
Status CheckObject(const Record& r, DWORD ih) {
  if (ih & win::ENHMETA_STOCK_OBJECT) {
    if (IsStockObject(ih)) return Status::Ok();
    return Bad(r, "unknown stock object " + std::to_string(ih & ~win::ENHMETA_STOCK_OBJECT));
  }
  return CheckSlot(r, ih);
}

bool IsPoly(DWORD t) {
  return (t >= win::EMR_POLYBEZIER && t <= win::EMR_POLYLINETO) ||
         (t >= win::EMR_POLYBEZIER16 && t <= win::EMR_POLYLINETO16);
}
bool IsSmallPoints(DWORD t) { return t >= win::EMR_POLYBEZIER16 && t <= win::EMR_POLYDRAW16; }

// `count` points of the record's form starting at `off`.
Result<Points> TakePoints(const Record& r, std::uint64_t off, std::uint64_t count) {
  const bool small = IsSmallPoints(r.type);
  const std::uint64_t each = small ? sizeof(win::POINTS) : sizeof(win::POINTL);
  // The first test bounds the count before it is multiplied, so a huge count cannot wrap.
  if (count > r.size() || !Inside(r, off, count * each)) {
    return Bad(r, std::to_string(count) + " points do not fit the record");
  }
  return Points(r.bytes.data() + off, count, small);
}

Result<Region> TakeRegion(const Record& r, std::uint64_t off, std::uint64_t cb) {
  if (!Inside(r, off, cb)) return Bad(r, "region data runs past the record");
  if (cb < sizeof(win::RGNDATAHEADER)) return Bad(r, "region data shorter than its header");
  Region g;
  std::memcpy(&g.header, r.bytes.data() + off, sizeof(g.header));
  if (g.header.dwSize != sizeof(win::RGNDATAHEADER) || g.header.iType != win::RDH_RECTANGLES) {
    return Bad(r, "region data header is not a rectangle list");
  }
  const std::uint64_t n = g.header.nCount;
  if (n > cb / sizeof(win::RECTL) || n * sizeof(win::RECTL) > cb - sizeof(win::RGNDATAHEADER)) {
    return Bad(r, std::to_string(n) + " region rectangles do not fit the region data");
  }
  g.rects = Packed<win::RECTL>(r.bytes.data() + off + sizeof(win::RGNDATAHEADER), n);
  return g;
}

// The bitmap at (offBmi, cbBmi, offBits, cbBits) of the record. `scans`, when given, is the
// number of rows the bits hold (SETDIBITSTODEVICE); otherwise all rows of the bitmap.
Result<Dib> TakeDib(const Record& r, std::size_t head, DWORD usage, DWORD off_bmi, DWORD cb_bmi, DWORD off_bits,
                    DWORD cb_bits, std::optional<DWORD> scans = std::nullopt) {
  if (usage != win::DIB_RGB_COLORS && usage != win::DIB_PAL_COLORS) {
    return Bad(r, "unknown colour usage " + std::to_string(usage));
  }
  if (off_bmi < head || !Inside(r, off_bmi, cb_bmi)) return Bad(r, "bitmap header outside the record");
  if (off_bits < head || !Inside(r, off_bits, cb_bits)) return Bad(r, "bitmap bits outside the record");
  if (cb_bmi < sizeof(win::BITMAPINFOHEADER)) return Bad(r, "bitmap header too short");
  Dib d;
  d.usage = usage;
  d.info = r.bytes.subspan(off_bmi, cb_bmi);
  d.bits = r.bytes.subspan(off_bits, cb_bits);
  std::memcpy(&d.header, d.info.data(), sizeof(d.header));
  const auto& h = d.header;
  if (h.biSize < sizeof(win::BITMAPINFOHEADER) || h.biSize > cb_bmi) {
    return Bad(r, "bitmap header size " + std::to_string(h.biSize) + " does not fit");
  }
  // INT32_MIN has no positive counterpart: the top-down height below would overflow.
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) {
    return Bad(r, "bitmap of " + std::to_string(h.biWidth) + " x " + std::to_string(h.biHeight));
  }
  d.width = std::uint32_t(h.biWidth);
  d.top_down = h.biHeight < 0;
  d.height = std::uint32_t(h.biHeight < 0 ? -h.biHeight : h.biHeight);
  const DWORD bpp = h.biBitCount;
  const DWORD comp = h.biCompression;
  bool ok_format = false;
  switch (comp) {
    case win::BI_RGB:
      ok_format = bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
      break;
    case win::BI_BITFIELDS:
      ok_format = bpp == 16 || bpp == 32;
      break;
    // Run-length bitmaps are always stored bottom-up; the system refuses a top-down one.
    case win::BI_RLE8:
      ok_format = bpp == 8 && !d.top_down;
      break;
    case win::BI_RLE4:
      ok_format = bpp == 4 && !d.top_down;
      break;
    case win::BI_JPEG:
    case win::BI_PNG:
      ok_format = true;
      break;
    default:
      break;
  }
  if (!ok_format) {
    return Bad(r, "bitmap format " + std::to_string(bpp) + " bits, compression " + std::to_string(comp));
  }
  d.compressed = comp == win::BI_RLE8 || comp == win::BI_RLE4 || comp == win::BI_JPEG || comp == win::BI_PNG;
  std::uint64_t pixels = 0, total_bits = 0;
  if (__builtin_mul_overflow(std::uint64_t(d.width), std::uint64_t(d.height), &pixels) ||
      __builtin_mul_overflow(pixels, std::uint64_t(bpp == 0 ? 32 : bpp), &total_bits) || pixels > kMaxBitmapPixels) {
    return Bad(r, "bitmap of " + std::to_string(d.width) + " x " + std::to_string(d.height) + " x " +
                      std::to_string(bpp) + " bits is too large");
  }
  // Masks and colour table behind the header.
  std::uint64_t pos = h.biSize;
  if (comp == win::BI_BITFIELDS) {
    if (h.biSize >= 52) {  // the masks are part of a longer header
      std::memcpy(d.masks.data(), d.info.data() + 40, 12);
    } else {
      if (pos + 12 > cb_bmi) return Bad(r, "bitmap masks outside the bitmap header");
      std::memcpy(d.masks.data(), d.info.data() + pos, 12);
      pos += 12;
    }
  }
  std::uint64_t entries = h.biClrUsed;
  if (bpp >= 1 && bpp <= 8) {
    const std::uint64_t full = std::uint64_t(1) << bpp;
    if (entries == 0 || entries > full) entries = full;
  }
  const std::uint64_t entry_size = usage == win::DIB_RGB_COLORS ? 4 : 2;
  if (entries > cb_bmi || pos + entries * entry_size > cb_bmi) {
    // A colour table is needed for 8 bits and below; for more it is optional and a short
    // one is only a hint, so it is dropped.
    if (bpp <= 8 && bpp != 0) return Bad(r, "bitmap colour table outside the bitmap header");
    entries = 0;
  }
  if (usage == win::DIB_RGB_COLORS) {
    d.colors = Packed<win::RGBQUAD>(d.info.data() + pos, entries);
  } else {
    d.palette_indices = Packed<win::WORD>(d.info.data() + pos, entries);
  }
  if (!d.compressed) {
    // Each stored row is padded to a whole number of 32-bit words.
    d.stride = ((std::uint64_t(d.width) * bpp + 31) / 32) * 4;
    const std::uint64_t rows = scans ? std::uint64_t(*scans) : d.height;
    if (rows > d.height) return Bad(r, "more scan lines than the bitmap has");
    if (rows * d.stride > cb_bits) {
      return Bad(
          r, "bitmap bits (" + std::to_string(cb_bits) + " bytes) shorter than its " + std::to_string(rows) + " rows");
    }
    d.rows = std::uint32_t(rows);
  }
  return d;
}

// The optional source bitmap of a blit: none when both sizes are 0.
Result<std::optional<Dib>> TakeOptionalDib(const Record& r, std::size_t head, DWORD usage, DWORD off_bmi, DWORD cb_bmi,
                                           DWORD off_bits, DWORD cb_bits) {
  if (cb_bmi == 0 && cb_bits == 0) return std::optional<Dib>();
  auto d = TakeDib(r, head, usage, off_bmi, cb_bmi, off_bits, cb_bits);
  if (!d.ok()) return d.status();
  return std::optional<Dib>(std::move(*d));
}

// The text described by an EMRTEXT at `at`; `head` is the end of the fixed part of the record.
Result<Text> TakeEmrText(const Record& r, std::size_t at, std::size_t head, bool wide) {
  // With ETO_NO_RECT the rectangle is absent and offDx follows fOptions.
  if (!Inside(r, at, 20)) return Bad(r, "text description outside the record");
  Text t;
  t.wide = wide;
  t.reference = Load<win::POINTL>(r, at);
  t.count = Load<DWORD>(r, at + 8);
  const DWORD off_string = Load<DWORD>(r, at + 12);
  t.options = Load<DWORD>(r, at + 16);
  DWORD off_dx = 0;
  if (t.options & win::ETO_NO_RECT) {
    if (!Inside(r, at + 20, 4)) return Bad(r, "text description outside the record");
    off_dx = Load<DWORD>(r, at + 20);
  } else {
    if (!Inside(r, at + 20, 20)) return Bad(r, "text description outside the record");
    t.rect = Load<win::RECTL>(r, at + 20);
    off_dx = Load<DWORD>(r, at + 36);
  }
  const std::uint64_t char_bytes = std::uint64_t(t.count) * (wide ? 2 : 1);
  if (t.count != 0) {
    if (off_string < head || !Inside(r, off_string, char_bytes)) {
      return Bad(r,
                 std::to_string(t.count) + " characters at " + std::to_string(off_string) + " do not fit the record");
    }
    t.chars = r.bytes.subspan(off_string, char_bytes);
  }
  if (off_dx != 0 && t.count != 0) {
    const std::uint64_t n = std::uint64_t(t.count) * ((t.options & win::ETO_PDY) ? 2 : 1);
    if (off_dx < head || !Inside(r, off_dx, n * 4)) {
      return Bad(r, "character advances do not fit the record");
    }
    t.dx = Packed<win::LONG>(r.bytes.data() + off_dx, n);
  }
  return t;
}

// Minimum sizes of the fixed records; 0 for types checked by a view or without a layout.
std::size_t FixedSize(DWORD type) {
  using namespace win;
  switch (type) {
    case EMR_HEADER:
      return ENHMETAHEADER_BASE_SIZE;
    case EMR_SETWINDOWEXTEX:
    case EMR_SETWINDOWORGEX:
    case EMR_SETVIEWPORTEXTEX:
    case EMR_SETVIEWPORTORGEX:
    case EMR_SETBRUSHORGEX:
    case EMR_OFFSETCLIPRGN:
    case EMR_MOVETOEX:
    case EMR_LINETO:
    case EMR_SETTEXTJUSTIFICATION:
      return 16;
    case EMR_EOF:
    case EMR_SETPIXELV:
      return 20;
    case EMR_SETMAPPERFLAGS:
    case EMR_SETMAPMODE:
    case EMR_SETBKMODE:
    case EMR_SETPOLYFILLMODE:
    case EMR_SETROP2:
    case EMR_SETSTRETCHBLTMODE:
    case EMR_SETTEXTALIGN:
    case EMR_SETTEXTCOLOR:
    case EMR_SETBKCOLOR:
    case EMR_RESTOREDC:
    case EMR_SETARCDIRECTION:
    case EMR_SETMITERLIMIT:
    case EMR_SELECTCLIPPATH:
    case EMR_SETICMMODE:
    case EMR_SETLAYOUT:
      return 12;
    case EMR_EXCLUDECLIPRECT:
    case EMR_INTERSECTCLIPRECT:
    case EMR_SCALEVIEWPORTEXTEX:
    case EMR_SCALEWINDOWEXTEX:
    case EMR_ELLIPSE:
    case EMR_RECTANGLE:
    case EMR_EXTFLOODFILL:
    case EMR_FILLPATH:
    case EMR_STROKEANDFILLPATH:
    case EMR_STROKEPATH:
      return 24;
    case EMR_SETWORLDTRANSFORM:
    case EMR_ROUNDRECT:
      return 32;
    case EMR_MODIFYWORLDTRANSFORM:
      return 36;
    case EMR_ANGLEARC:
      return 28;
    case EMR_ARC:
    case EMR_CHORD:
    case EMR_PIE:
    case EMR_ARCTO:
      return 40;
    default:
      return 0;
  }
}

}  // namespace

win::POINTL Points::operator[](std::size_t i) const {
  if (small_) {
    win::POINTS p;
    std::memcpy(&p, data_ + i * sizeof(p), sizeof(p));
    return win::POINTL{p.x, p.y};
  }
  win::POINTL p;
  std::memcpy(&p, data_ + i * sizeof(p), sizeof(p));
  return p;
}

std::vector<win::POINTL> Points::ToVector() const {
  std::vector<win::POINTL> v(count_);
  for (std::size_t i = 0; i < count_; ++i) v[i] = (*this)[i];
  return v;
}

bool IsStockObject(std::uint32_t ih) {
  if (!(ih & win::ENHMETA_STOCK_OBJECT)) return false;
  const std::uint32_t n = ih & ~win::ENHMETA_STOCK_OBJECT;
  // Number 9 has never been a stock object (the numbering skips it), so naming it is an error.
  return n <= win::STOCK_LAST && n != 9;
}

std::span<const std::uint8_t> Dib::StoredRow(std::uint32_t i) const {
  if (compressed || i >= rows) return {};
  return bits.subspan(std::size_t(i * stride), std::size_t(stride));
}

Result<Poly> ReadPoly(const Record& r) {
  if (!IsPoly(r.type)) return Bad(r, "not a poly record");
  Status s = NeedSize(r, sizeof(win::EMRPOLYLINE_HEAD));
  if (!s.ok()) return s;
  Poly p;
  p.bounds = Load<win::RECTL>(r, 8);
  auto pts = TakePoints(r, sizeof(win::EMRPOLYLINE_HEAD), Load<DWORD>(r, 24));
  if (!pts.ok()) return pts.status();
  p.points = *pts;
  return p;
}

Result<PolyPoly> ReadPolyPoly(const Record& r) {
  using namespace win;
  if (r.type != EMR_POLYPOLYLINE && r.type != EMR_POLYPOLYGON && r.type != EMR_POLYPOLYLINE16 &&
      r.type != EMR_POLYPOLYGON16) {
    return Bad(r, "not a poly-poly record");
  }
  Status s = NeedSize(r, sizeof(EMRPOLYPOLYLINE_HEAD));
  if (!s.ok()) return s;
  PolyPoly p;
  p.bounds = Load<RECTL>(r, 8);
  const std::uint64_t n = Load<DWORD>(r, 24), cpt = Load<DWORD>(r, 28);
  const std::uint64_t head = sizeof(EMRPOLYPOLYLINE_HEAD);
  if (!Inside(r, head, n * 4)) return Bad(r, std::to_string(n) + " polygon counts do not fit");
  p.counts = Packed<DWORD>(r.bytes.data() + head, n);
  std::uint64_t sum = 0;
  for (DWORD c : p.counts) sum += c;  // at most 2^30 counts of 2^32: no overflow
  if (sum != cpt) return Bad(r, "polygon counts add up to " + std::to_string(sum) + ", not " + std::to_string(cpt));
  auto pts = TakePoints(r, head + n * 4, cpt);
  if (!pts.ok()) return pts.status();
  p.points = *pts;
  return p;
}

Result<PolyDraw> ReadPolyDraw(const Record& r) {
  if (r.type != win::EMR_POLYDRAW && r.type != win::EMR_POLYDRAW16) return Bad(r, "not a poly-draw record");
  Status s = NeedSize(r, sizeof(win::EMRPOLYDRAW_HEAD));
  if (!s.ok()) return s;
  PolyDraw p;
  p.bounds = Load<win::RECTL>(r, 8);
  const std::uint64_t n = Load<DWORD>(r, 24);
  auto pts = TakePoints(r, sizeof(win::EMRPOLYDRAW_HEAD), n);
  if (!pts.ok()) return pts.status();
  p.points = *pts;
  const std::uint64_t types_at = sizeof(win::EMRPOLYDRAW_HEAD) + n * (pts->is16() ? 4 : 8);
  if (!Inside(r, types_at, n)) return Bad(r, "point types do not fit the record");
  p.types = Packed<win::BYTE>(r.bytes.data() + types_at, n);
  return p;
}

Result<ClipRegion> ReadExtSelectClipRgn(const Record& r) {
  if (r.type != win::EMR_EXTSELECTCLIPRGN) return Bad(r, "not a clip region record");
  Status s = NeedSize(r, sizeof(win::EMREXTSELECTCLIPRGN_HEAD));
  if (!s.ok()) return s;
  ClipRegion c;
  const DWORD cb = Load<DWORD>(r, 8);
  c.mode = Load<DWORD>(r, 12);
  if (c.mode < win::RGN_AND || c.mode > win::RGN_COPY) return Bad(r, "unknown region mode " + std::to_string(c.mode));
  if (cb == 0) {
    if (c.mode != win::RGN_COPY) return Bad(r, "no region for a combining mode");
    return c;
  }
  auto g = TakeRegion(r, sizeof(win::EMREXTSELECTCLIPRGN_HEAD), cb);
  if (!g.ok()) return g.status();
  c.region = *g;
  return c;
}

Result<RegionPaint> ReadRegionPaint(const Record& r) {
  using namespace win;
  std::size_t head = 0;
  switch (r.type) {
    case EMR_FILLRGN:
      head = sizeof(EMRFILLRGN_HEAD);
      break;
    case EMR_FRAMERGN:
      head = sizeof(EMRFRAMERGN_HEAD);
      break;
    case EMR_INVERTRGN:
    case EMR_PAINTRGN:
      head = sizeof(EMRINVERTRGN_HEAD);
      break;
    default:
      return Bad(r, "not a region record");
  }
  Status s = NeedSize(r, head);
  if (!s.ok()) return s;
  RegionPaint p;
  p.bounds = Load<RECTL>(r, 8);
  const DWORD cb = Load<DWORD>(r, 24);
  if (r.type == EMR_FILLRGN || r.type == EMR_FRAMERGN) {
    p.brush = Load<DWORD>(r, 28);
    s = CheckObject(r, *p.brush);
    if (!s.ok()) return s;
  }
  if (r.type == EMR_FRAMERGN) p.stroke = Load<SIZEL>(r, 32);
  auto g = TakeRegion(r, head, cb);
  if (!g.ok()) return g.status();
  p.region = *g;
  return p;
}

Result<Blt> ReadBlt(const Record& r) {
  using namespace win;
  Blt b;
  if (r.type == EMR_BITBLT) {
    Status s = NeedSize(r, sizeof(EMRBITBLT));
    if (!s.ok()) return s;
    std::memcpy(&b.rec, r.bytes.data(), sizeof(EMRBITBLT));
    // A plain blit copies without scaling: its record has no source size, the destination's is it.
    b.rec.cxSrc = b.rec.cxDest;
    b.rec.cySrc = b.rec.cyDest;
  } else if (r.type == EMR_STRETCHBLT || r.type == EMR_ALPHABLEND || r.type == EMR_TRANSPARENTBLT) {
    Status s = NeedSize(r, sizeof(EMRSTRETCHBLT));
    if (!s.ok()) return s;
    b.rec = Load<EMRSTRETCHBLT>(r);
  } else {
    return Bad(r, "not a blit record");
  }
  const std::size_t head = r.type == EMR_BITBLT ? sizeof(EMRBITBLT) : sizeof(EMRSTRETCHBLT);
  auto src =
      TakeOptionalDib(r, head, b.rec.iUsageSrc, b.rec.offBmiSrc, b.rec.cbBmiSrc, b.rec.offBitsSrc, b.rec.cbBitsSrc);
  if (!src.ok()) return src.status();
  b.source = std::move(*src);
  if (r.type == EMR_ALPHABLEND && !b.source) return Bad(r, "alpha blend without a bitmap");
  return b;
}

Result<MaskBlt> ReadMaskBlt(const Record& r) {
  using namespace win;
  if (r.type != EMR_MASKBLT) return Bad(r, "not a mask blit record");
  Status s = NeedSize(r, sizeof(EMRMASKBLT));
  if (!s.ok()) return s;
  MaskBlt m;
  m.rec = Load<EMRMASKBLT>(r);
  auto src = TakeOptionalDib(r, sizeof(EMRMASKBLT), m.rec.iUsageSrc, m.rec.offBmiSrc, m.rec.cbBmiSrc, m.rec.offBitsSrc,
                             m.rec.cbBitsSrc);
  if (!src.ok()) return src.status();
  m.source = std::move(*src);
  auto mask = TakeOptionalDib(r, sizeof(EMRMASKBLT), m.rec.iUsageMask, m.rec.offBmiMask, m.rec.cbBmiMask,
                              m.rec.offBitsMask, m.rec.cbBitsMask);
  if (!mask.ok()) return mask.status();
  m.mask = std::move(*mask);
  if (m.mask && m.mask->header.biBitCount != 1) return Bad(r, "mask bitmap is not 1 bit deep");
  return m;
}

Result<PlgBlt> ReadPlgBlt(const Record& r) {
  using namespace win;
  if (r.type != EMR_PLGBLT) return Bad(r, "not a parallelogram blit record");
  Status s = NeedSize(r, sizeof(EMRPLGBLT));
  if (!s.ok()) return s;
  PlgBlt m;
  m.rec = Load<EMRPLGBLT>(r);
  auto src = TakeOptionalDib(r, sizeof(EMRPLGBLT), m.rec.iUsageSrc, m.rec.offBmiSrc, m.rec.cbBmiSrc, m.rec.offBitsSrc,
                             m.rec.cbBitsSrc);
  if (!src.ok()) return src.status();
  m.source = std::move(*src);
  auto mask = TakeOptionalDib(r, sizeof(EMRPLGBLT), m.rec.iUsageMask, m.rec.offBmiMask, m.rec.cbBmiMask,
                              m.rec.offBitsMask, m.rec.cbBitsMask);
  if (!mask.ok()) return mask.status();
  m.mask = std::move(*mask);
  if (m.mask && m.mask->header.biBitCount != 1) return Bad(r, "mask bitmap is not 1 bit deep");
  return m;
}

Result<StretchDib> ReadStretchDib(const Record& r) {
  using namespace win;
  if (r.type != EMR_STRETCHDIBITS) return Bad(r, "not a stretch-bits record");
  Status s = NeedSize(r, sizeof(EMRSTRETCHDIBITS));
  if (!s.ok()) return s;
  StretchDib d;
  d.rec = Load<EMRSTRETCHDIBITS>(r);
  auto src = TakeOptionalDib(r, sizeof(EMRSTRETCHDIBITS), d.rec.iUsageSrc, d.rec.offBmiSrc, d.rec.cbBmiSrc,
                             d.rec.offBitsSrc, d.rec.cbBitsSrc);
  if (!src.ok()) return src.status();
  d.source = std::move(*src);
  return d;
}

Result<DibToDevice> ReadDibToDevice(const Record& r) {
  using namespace win;
  if (r.type != EMR_SETDIBITSTODEVICE) return Bad(r, "not a set-bits record");
  Status s = NeedSize(r, sizeof(EMRSETDIBITSTODEVICE));
  if (!s.ok()) return s;
  DibToDevice d;
  d.rec = Load<EMRSETDIBITSTODEVICE>(r);
  if (d.rec.cbBmiSrc != 0 || d.rec.cbBitsSrc != 0) {
    auto src = TakeDib(r, sizeof(EMRSETDIBITSTODEVICE), d.rec.iUsageSrc, d.rec.offBmiSrc, d.rec.cbBmiSrc,
                       d.rec.offBitsSrc, d.rec.cbBitsSrc, d.rec.cScans);
    if (!src.ok()) return src.status();
    d.source = std::move(*src);
  }
  return d;
}

Result<PatternBrush> ReadPatternBrush(const Record& r) {
  using namespace win;
  if (r.type != EMR_CREATEDIBPATTERNBRUSHPT && r.type != EMR_CREATEMONOBRUSH) {
    return Bad(r, "not a pattern brush record");
  }
  Status s = NeedSize(r, sizeof(EMRCREATEDIBPATTERNBRUSHPT));
  if (!s.ok()) return s;
  auto rec = Load<EMRCREATEDIBPATTERNBRUSHPT>(r);
  s = CheckSlot(r, rec.ihBrush);
  if (!s.ok()) return s;
  // A monochrome brush's usage field says how its two colours are taken; its table is RGB.
  const DWORD usage = r.type == EMR_CREATEMONOBRUSH ? DIB_RGB_COLORS : rec.iUsage;
  auto dib = TakeDib(r, sizeof(rec), usage, rec.offBmi, rec.cbBmi, rec.offBits, rec.cbBits);
  if (!dib.ok()) return dib.status();
  if (r.type == EMR_CREATEMONOBRUSH && dib->header.biBitCount != 1) {
    return Bad(r, "monochrome brush bitmap is not 1 bit deep");
  }
  PatternBrush b;
  b.handle = rec.ihBrush;
  b.usage = rec.iUsage;
  b.pattern = std::move(*dib);
  return b;
}

Result<win::EMRCREATEPEN> ReadCreatePen(const Record& r) {
  if (r.type != win::EMR_CREATEPEN) return Bad(r, "not a pen record");
  Status s = NeedSize(r, sizeof(win::EMRCREATEPEN));
  if (!s.ok()) return s;
  auto rec = Load<win::EMRCREATEPEN>(r);
  s = CheckSlot(r, rec.ihPen);
  if (!s.ok()) return s;
  return rec;
}

Result<ExtPen> ReadExtCreatePen(const Record& r) {
  using namespace win;
  if (r.type != EMR_EXTCREATEPEN) return Bad(r, "not an extended pen record");
  const std::size_t head = sizeof(EMREXTCREATEPEN_HEAD);
  Status s = NeedSize(r, head);
  if (!s.ok()) return s;
  auto rec = Load<EMREXTCREATEPEN_HEAD>(r);
  s = CheckSlot(r, rec.ihPen);
  if (!s.ok()) return s;
  ExtPen p;
  p.handle = rec.ihPen;
  p.elp = rec.elp;
  const std::uint64_t n = rec.elp.elpNumEntries;
  if (!Inside(r, head, n * 4)) return Bad(r, std::to_string(n) + " style entries do not fit");
  p.style_entries = Packed<DWORD>(r.bytes.data() + head, n);
  if (rec.cbBmi != 0 || rec.cbBits != 0) {
    const DWORD usage = rec.elp.elpBrushStyle == BS_DIBPATTERN ? rec.elp.elpHatch : DIB_RGB_COLORS;
    auto dib = TakeDib(r, head, usage, rec.offBmi, rec.cbBmi, rec.offBits, rec.cbBits);
    if (!dib.ok()) return dib.status();
    p.pattern = std::move(*dib);
  }
  return p;
}

Result<win::EMRCREATEBRUSHINDIRECT> ReadCreateBrush(const Record& r) {
  if (r.type != win::EMR_CREATEBRUSHINDIRECT) return Bad(r, "not a brush record");
  Status s = NeedSize(r, sizeof(win::EMRCREATEBRUSHINDIRECT));
  if (!s.ok()) return s;
  auto rec = Load<win::EMRCREATEBRUSHINDIRECT>(r);
  s = CheckSlot(r, rec.ihBrush);
  if (!s.ok()) return s;
  return rec;
}

Result<FontCreate> ReadCreateFont(const Record& r) {
  if (r.type != win::EMR_EXTCREATEFONTINDIRECTW) return Bad(r, "not a font record");
  Status s = NeedSize(r, sizeof(win::EMREXTCREATEFONTINDIRECTW_HEAD));
  if (!s.ok()) return s;
  auto rec = Load<win::EMREXTCREATEFONTINDIRECTW_HEAD>(r);
  s = CheckSlot(r, rec.ihFont);
  if (!s.ok()) return s;
  FontCreate f;
  f.handle = rec.ihFont;
  f.font = rec.elfw;
  f.font.lfFaceName[win::LF_FACESIZE - 1] = 0;  // a face name always ends inside its field
  return f;
}

Result<win::DWORD> ReadObjectIndex(const Record& r) {
  if (r.type != win::EMR_SELECTOBJECT && r.type != win::EMR_DELETEOBJECT && r.type != win::EMR_SELECTPALETTE) {
    return Bad(r, "not an object selection record");
  }
  Status s = NeedSize(r, sizeof(win::EMRSELECTOBJECT));
  if (!s.ok()) return s;
  const DWORD ih = Load<DWORD>(r, 8);
  s = CheckObject(r, ih);
  if (!s.ok()) return s;
  return ih;
}

std::u16string Text::Utf16() const {
  if (!wide) {
    std::u16string s;
    for (std::uint8_t c : chars) s.push_back(char16_t(c));
    return s;
  }
  std::u16string s(chars.size() / 2, u'\0');
  if (!s.empty()) std::memcpy(s.data(), chars.data(), s.size() * 2);
  return s;
}

Result<Text> ReadText(const Record& r) {
  using namespace win;
  if (r.type == EMR_EXTTEXTOUTA || r.type == EMR_EXTTEXTOUTW) {
    // The fixed part ends after the EMRTEXT, which is 16 bytes shorter without a rectangle.
    Status s = NeedSize(r, sizeof(EMREXTTEXTOUTW) - sizeof(RECTL));
    if (!s.ok()) return s;
    const DWORD options = Load<DWORD>(r, offsetof(EMREXTTEXTOUTW, emrtext) + 16);
    const std::size_t head = (options & ETO_NO_RECT) ? sizeof(EMREXTTEXTOUTW) - sizeof(RECTL) : sizeof(EMREXTTEXTOUTW);
    s = NeedSize(r, head);
    if (!s.ok()) return s;
    auto t = TakeEmrText(r, offsetof(EMREXTTEXTOUTW, emrtext), head, r.type == EMR_EXTTEXTOUTW);
    if (!t.ok()) return t.status();
    t->bounds = Load<RECTL>(r, 8);
    t->graphics_mode = Load<DWORD>(r, 24);
    t->ex_scale = Load<float>(r, 28);
    t->ey_scale = Load<float>(r, 32);
    return t;
  }
  if (r.type == EMR_SMALLTEXTOUT) {
    Status s = NeedSize(r, sizeof(EMRSMALLTEXTOUT_HEAD));
    if (!s.ok()) return s;
    auto h = Load<EMRSMALLTEXTOUT_HEAD>(r);
    Text t;
    t.reference = POINTL{h.x, h.y};
    t.count = h.cChars;
    t.options = h.fuOptions;
    t.graphics_mode = h.iGraphicsMode;
    t.ex_scale = h.exScale;
    t.ey_scale = h.eyScale;
    t.wide = !(h.fuOptions & ETO_SMALL_CHARS);
    std::uint64_t pos = sizeof(h);
    if (!(h.fuOptions & ETO_NO_RECT)) {
      if (!Inside(r, pos, sizeof(RECTL))) return Bad(r, "clip rectangle outside the record");
      t.rect = Load<RECTL>(r, pos);
      pos += sizeof(RECTL);
    }
    const std::uint64_t n = std::uint64_t(h.cChars) * (t.wide ? 2 : 1);
    if (!Inside(r, pos, n)) return Bad(r, std::to_string(h.cChars) + " characters do not fit");
    t.chars = r.bytes.subspan(pos, n);
    return t;
  }
  return Bad(r, "not a text record");
}

Result<std::vector<Text>> ReadPolyText(const Record& r) {
  using namespace win;
  if (r.type != EMR_POLYTEXTOUTA && r.type != EMR_POLYTEXTOUTW) return Bad(r, "not a poly-text record");
  Status s = NeedSize(r, sizeof(EMRPOLYTEXTOUTW_HEAD));
  if (!s.ok()) return s;
  auto h = Load<EMRPOLYTEXTOUTW_HEAD>(r);
  if (h.cStrings < 0) return Bad(r, "negative string count");
  const std::uint64_t n = std::uint64_t(h.cStrings);
  const std::uint64_t head = sizeof(h) + n * sizeof(EMRTEXT);
  if (!Inside(r, sizeof(h), n * sizeof(EMRTEXT))) return Bad(r, std::to_string(n) + " strings do not fit");
  std::vector<Text> out;
  out.reserve(n);
  for (std::uint64_t i = 0; i < n; ++i) {
    const std::size_t at = sizeof(h) + i * sizeof(EMRTEXT);
    // The descriptions are packed at a fixed stride, so each must carry its rectangle; one without
    // it would shift every description after it.
    if (Load<DWORD>(r, at + 16) & ETO_NO_RECT) return Bad(r, "poly-text string without a rectangle");
    auto t = TakeEmrText(r, at, head, r.type == EMR_POLYTEXTOUTW);
    if (!t.ok()) return t.status();
    t->bounds = h.rclBounds;
    t->graphics_mode = h.iGraphicsMode;
    t->ex_scale = h.exScale;
    t->ey_scale = h.eyScale;
    out.push_back(*t);
  }
  return out;
}

Result<Comment> ReadComment(const Record& r) {
  if (r.type != win::EMR_GDICOMMENT) return Bad(r, "not a comment record");
  Status s = NeedSize(r, sizeof(win::EMRGDICOMMENT_HEAD));
  if (!s.ok()) return s;
  Comment c;
  c.field = Load<DWORD>(r, 8);
  c.payload = r.bytes.subspan(sizeof(win::EMRGDICOMMENT_HEAD));
  // The stated length may exceed what follows (writers pad or mis-state it); the comment is kept
  // and only the data that fits is offered.
  if (c.field <= c.payload.size()) c.data = c.payload.first(c.field);
  return c;
}

Result<GradientFill> ReadGradientFill(const Record& r) {
  using namespace win;
  if (r.type != EMR_GRADIENTFILL) return Bad(r, "not a gradient record");
  Status s = NeedSize(r, sizeof(EMRGRADIENTFILL_HEAD));
  if (!s.ok()) return s;
  auto h = Load<EMRGRADIENTFILL_HEAD>(r);
  GradientFill g;
  g.bounds = h.rclBounds;
  g.mode = h.ulMode;
  std::uint64_t per = 0;
  switch (h.ulMode) {
    case GRADIENT_FILL_RECT_H:
    case GRADIENT_FILL_RECT_V:
      per = 2;
      break;
    case GRADIENT_FILL_TRIANGLE:
      per = 3;
      break;
    default:
      return Bad(r, "unknown gradient mode " + std::to_string(h.ulMode));
  }
  const std::uint64_t nv = h.nVer, ni = std::uint64_t(h.nTri) * per;
  const std::uint64_t head = sizeof(h);
  if (!Inside(r, head, nv * sizeof(TRIVERTEX)) || !Inside(r, head + nv * sizeof(TRIVERTEX), ni * 4)) {
    return Bad(r, "gradient vertices or indices do not fit");
  }
  g.vertices = Packed<TRIVERTEX>(r.bytes.data() + head, nv);
  g.indices = Packed<DWORD>(r.bytes.data() + head + nv * sizeof(TRIVERTEX), ni);
  for (DWORD i : g.indices) {
    // Checked once here so the player can index the vertices without checking again.
    if (i >= nv) return Bad(r, "gradient vertex index " + std::to_string(i) + " out of range");
  }
  return g;
}

Result<PaletteCreate> ReadCreatePalette(const Record& r) {
  using namespace win;
  if (r.type != EMR_CREATEPALETTE) return Bad(r, "not a palette record");
  Status s = NeedSize(r, sizeof(EMRCREATEPALETTE_HEAD));
  if (!s.ok()) return s;
  auto h = Load<EMRCREATEPALETTE_HEAD>(r);
  s = CheckSlot(r, h.ihPal);
  if (!s.ok()) return s;
  const std::uint64_t n = h.palNumEntries;
  if (!Inside(r, sizeof(h), n * 4)) return Bad(r, "palette entries do not fit");
  PaletteCreate p;
  p.handle = h.ihPal;
  p.entries = Packed<DWORD>(r.bytes.data() + sizeof(h), n);
  return p;
}

Status Validate(const Record& r) {
  using namespace win;
  if (const std::size_t n = FixedSize(r.type)) return NeedSize(r, n);
  auto st = [](const auto& res) { return res.ok() ? Status::Ok() : res.status(); };
  switch (r.type) {
    case EMR_POLYBEZIER:
    case EMR_POLYGON:
    case EMR_POLYLINE:
    case EMR_POLYBEZIERTO:
    case EMR_POLYLINETO:
    case EMR_POLYBEZIER16:
    case EMR_POLYGON16:
    case EMR_POLYLINE16:
    case EMR_POLYBEZIERTO16:
    case EMR_POLYLINETO16:
      return st(ReadPoly(r));
    case EMR_POLYPOLYLINE:
    case EMR_POLYPOLYGON:
    case EMR_POLYPOLYLINE16:
    case EMR_POLYPOLYGON16:
      return st(ReadPolyPoly(r));
    case EMR_POLYDRAW:
    case EMR_POLYDRAW16:
      return st(ReadPolyDraw(r));
    case EMR_SELECTOBJECT:
    case EMR_DELETEOBJECT:
    case EMR_SELECTPALETTE:
      return st(ReadObjectIndex(r));
    case EMR_CREATEPEN:
      return st(ReadCreatePen(r));
    case EMR_EXTCREATEPEN:
      return st(ReadExtCreatePen(r));
    case EMR_CREATEBRUSHINDIRECT:
      return st(ReadCreateBrush(r));
    case EMR_CREATEDIBPATTERNBRUSHPT:
    case EMR_CREATEMONOBRUSH:
      return st(ReadPatternBrush(r));
    case EMR_EXTCREATEFONTINDIRECTW:
      return st(ReadCreateFont(r));
    case EMR_CREATEPALETTE:
      return st(ReadCreatePalette(r));
    case EMR_EXTSELECTCLIPRGN:
      return st(ReadExtSelectClipRgn(r));
    case EMR_FILLRGN:
    case EMR_FRAMERGN:
    case EMR_INVERTRGN:
    case EMR_PAINTRGN:
      return st(ReadRegionPaint(r));
    case EMR_BITBLT:
    case EMR_STRETCHBLT:
    case EMR_ALPHABLEND:
    case EMR_TRANSPARENTBLT:
      return st(ReadBlt(r));
    case EMR_MASKBLT:
      return st(ReadMaskBlt(r));
    case EMR_PLGBLT:
      return st(ReadPlgBlt(r));
    case EMR_STRETCHDIBITS:
      return st(ReadStretchDib(r));
    case EMR_SETDIBITSTODEVICE:
      return st(ReadDibToDevice(r));
    case EMR_EXTTEXTOUTA:
    case EMR_EXTTEXTOUTW:
    case EMR_SMALLTEXTOUT:
      return st(ReadText(r));
    case EMR_POLYTEXTOUTA:
    case EMR_POLYTEXTOUTW:
      return st(ReadPolyText(r));
    case EMR_GDICOMMENT:
      return st(ReadComment(r));
    case EMR_GRADIENTFILL:
      return st(ReadGradientFill(r));
    default:
      return Status::Ok();
  }
}

Status ValidateAll(const Metafile& mf) {
  return ForEachRecord(mf, [](const Record& r) { return Validate(r); });
}

}  // namespace zv::emf
