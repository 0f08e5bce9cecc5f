// The recorder's core: coordinates and bounds, the record writer, records passed through
// unchanged, and closing the metafile.
#include "platform/gdi/recorder/recorder_internal.h"

#include "platform/gdi/emf/reader.h"

namespace zv::gdi {

void MetafileRecorder::Impl::ToDevice(double x, double y, double* dx, double* dy) const {
  const Mapping& m = st.map;
  const XFORM& w = m.world;
  const double px = x * w.eM11 + y * w.eM21 + w.eDx;
  const double py = x * w.eM12 + y * w.eM22 + w.eDy;
  *dx = (px - m.wo.x) * m.ve.cx / m.we.cx + m.vo.x;
  *dy = (py - m.wo.y) * m.ve.cy / m.we.cy + m.vo.y;
}

bool MetafileRecorder::Impl::ToLogical(double dx, double dy, double* x, double* y) const {
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

double MetafileRecorder::Impl::ScaleX() const {
  const Mapping& m = st.map;
  return std::hypot(m.world.eM11, m.world.eM12) * std::abs(double(m.ve.cx) / m.we.cx);
}

double MetafileRecorder::Impl::ScaleY() const {
  const Mapping& m = st.map;
  return std::hypot(m.world.eM21, m.world.eM22) * std::abs(double(m.ve.cy) / m.we.cy);
}

bool MetafileRecorder::Impl::YUp() const {
  const Mapping& m = st.map;
  return (m.world.eM22 * double(m.ve.cy) / m.we.cy) < 0;
}

RECTL MetafileRecorder::Impl::Box(std::span<const POINT> pts, double pad) const {
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
  return {Clamp(std::floor(l - pad)), Clamp(std::floor(t - pad)), Clamp(std::ceil(r + pad)), Clamp(std::ceil(b + pad))};
}

RECTL MetafileRecorder::Impl::BoxOfRect(int l, int t, int r, int b, double pad) const {
  const POINT c[4] = {{l, t}, {r, t}, {l, b}, {r, b}};
  return Box(c, pad);
}

RECTL MetafileRecorder::Impl::Inclusive(RECTL b) {
  if (b.right > b.left) --b.right;
  if (b.bottom > b.top) --b.bottom;
  return b;
}

double MetafileRecorder::Impl::PenPad() const {
  if ((st.pen.style & PS_STYLE_MASK) == PS_NULL) return 0;
  return std::max(1.0, st.pen.width * std::max(ScaleX(), ScaleY()) / 2 + 1);
}

void MetafileRecorder::Impl::Draws(const RECTL& box) {
  if (in_path) {
    path_box = Union(path_box, box);
  } else {
    writer.AddBounds(box);
  }
}

bool MetafileRecorder::Impl::Emit(Bytes rec) {
  if (closed || rec.size() < sizeof(EMR)) return false;
  Pad4(rec);
  const std::uint32_t size = std::uint32_t(rec.size());
  std::memcpy(rec.data() + 4, &size, 4);
  // Checked against the widest handle table: the real nHandles is known only at Close.
  auto r = emf::MakeRecord(rec, 0xFFFF);
  if (!r.ok() || !emf::Validate(*r).ok()) return false;
  return writer.Append(std::span<const std::uint8_t>(rec));
}

bool MetafileRecorder::Impl::EmitPoly(DWORD type, std::span<const POINT> pts, const RECTL& bounds) {
  const bool small = FitsShort(pts);
  Bytes rec;
  PutBytes(rec, EMRPOLYLINE_HEAD{{small ? SmallForm(type) : type, 0}, bounds, DWORD(pts.size())});
  PutPoints(rec, pts, small);
  return Emit(std::move(rec));
}

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
