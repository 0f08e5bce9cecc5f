#include "platform/gdi/emf/writer.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace zv::emf {
namespace {

std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

bool CreatesObject(std::uint32_t type) {
  using namespace win;
  switch (type) {
    case EMR_CREATEPEN:
    case EMR_CREATEBRUSHINDIRECT:
    case EMR_CREATEPALETTE:
    case EMR_EXTCREATEFONTINDIRECTW:
    case EMR_CREATEMONOBRUSH:
    case EMR_CREATEDIBPATTERNBRUSHPT:
    case EMR_EXTCREATEPEN:
    case EMR_CREATECOLORSPACE:
    case EMR_CREATECOLORSPACEW:
      return true;
    default:
      return false;
  }
}

win::LONG Scale(win::LONG v, win::LONG num, win::LONG den) { return win::LONG(std::int64_t(v) * num / den); }

}  // namespace

bool HasBoundsField(std::uint32_t type) {
  using namespace win;
  return (type >= EMR_POLYBEZIER && type <= EMR_POLYPOLYGON) || (type >= EMR_POLYBEZIER16 && type <= EMR_POLYDRAW16) ||
         type == EMR_POLYDRAW || (type >= EMR_FILLPATH && type <= EMR_STROKEPATH) ||
         (type >= EMR_FILLRGN && type <= EMR_PAINTRGN) || (type >= EMR_BITBLT && type <= EMR_STRETCHDIBITS) ||
         type == EMR_EXTTEXTOUTA || type == EMR_EXTTEXTOUTW || type == EMR_POLYTEXTOUTA || type == EMR_POLYTEXTOUTW ||
         type == EMR_ALPHABLEND || type == EMR_TRANSPARENTBLT || type == EMR_GRADIENTFILL;
}

Writer::Writer(const Options& options) : options_(options) {}

bool Writer::Append(std::span<const std::uint8_t> record) {
  if (!status_.ok()) return false;
  if (closed_) {
    status_ = Status::InvalidArgument("metafile writer already closed");
    return false;
  }
  if (record.size() < sizeof(win::EMR)) {
    status_ = Status::InvalidArgument("metafile record shorter than 8 bytes");
    return false;
  }
  const std::uint32_t type = Load32(record.data());
  if (type == win::EMR_HEADER || type == win::EMR_EOF) {
    status_ = Status::InvalidArgument("the writer writes the header and EOF records itself");
    return false;
  }
  const std::size_t padded = (record.size() + 3) & ~std::size_t(3);
  // Header (up to 108 bytes plus the description) and EOF must still fit in 32 bits.
  const std::size_t reserve = 1024 + options_.description.size() * 2;
  if (padded > std::numeric_limits<std::uint32_t>::max() - reserve - body_.size()) {
    status_ = Status::InvalidArgument("metafile would exceed 4 GB");
    return false;
  }
  const std::size_t at = body_.size();
  body_.insert(body_.end(), record.begin(), record.end());
  body_.resize(at + padded, 0);
  const std::uint32_t size32 = std::uint32_t(padded);
  std::memcpy(body_.data() + at + 4, &size32, 4);
  ++records_;
  if (HasBoundsField(type) && record.size() >= 24) {
    win::RECTL b;
    std::memcpy(&b, record.data() + 8, sizeof(b));
    AddBounds(b);
  }
  if (CreatesObject(type) && record.size() >= 12) NoteHandle(Load32(record.data() + 8));
  return true;
}

void Writer::AddBounds(const win::RECTL& r) {
  if (r.right < r.left || r.bottom < r.top) return;
  if (!has_bounds_) {
    bounds_ = r;
    has_bounds_ = true;
    return;
  }
  bounds_.left = std::min(bounds_.left, r.left);
  bounds_.top = std::min(bounds_.top, r.top);
  bounds_.right = std::max(bounds_.right, r.right);
  bounds_.bottom = std::max(bounds_.bottom, r.bottom);
}

void Writer::NoteHandle(std::uint32_t ih) {
  if (ih & win::ENHMETA_STOCK_OBJECT) return;
  // The header counts handles in 16 bits; slot 0 is never used, so the count is the highest
  // slot plus one.
  if (ih < 0xFFFF) handles_ = std::max(handles_, ih + 1);
}

Result<std::vector<std::uint8_t>> Writer::Close() {
  if (!status_.ok()) return status_;
  if (closed_) return Status::InvalidArgument("metafile writer already closed");
  closed_ = true;
  if (options_.device.cx <= 0 || options_.device.cy <= 0 || options_.millimeters.cx <= 0 ||
      options_.millimeters.cy <= 0) {
    return Status::InvalidArgument("a metafile needs a reference device of positive size");
  }

  const std::size_t desc_bytes = options_.description.size() * 2;
  const std::size_t header_size = this->header_size();
  const std::size_t total = header_size + body_.size() + sizeof(win::EMREOF);

  win::ENHMETAHEADER h{};
  h.iType = win::EMR_HEADER;
  h.nSize = std::uint32_t(header_size);
  h.rclBounds = bounds_;
  if (options_.frame) {
    h.rclFrame = *options_.frame;
  } else if (has_bounds_) {
    // Device units to 0.01 mm through the reference device.
    const auto& d = options_.device;
    const auto& mm = options_.millimeters;
    h.rclFrame = {Scale(bounds_.left, mm.cx * 100, d.cx), Scale(bounds_.top, mm.cy * 100, d.cy),
                  Scale(bounds_.right, mm.cx * 100, d.cx), Scale(bounds_.bottom, mm.cy * 100, d.cy)};
  } else {
    // An empty picture: a frame with right below left reads as "no frame" to players.
    h.rclFrame = {0, 0, -1, -1};
  }
  h.dSignature = win::ENHMETA_SIGNATURE;
  h.nVersion = 0x10000;
  h.nBytes = std::uint32_t(total);
  h.nRecords = std::uint32_t(records_ + 2);
  h.nHandles = win::WORD(handles_);
  h.nDescription = std::uint32_t(options_.description.size());
  h.offDescription = desc_bytes ? std::uint32_t(sizeof(win::ENHMETAHEADER)) : 0;
  h.nPalEntries = 0;
  h.szlDevice = options_.device;
  h.szlMillimeters = options_.millimeters;
  h.szlMicrometers = {options_.millimeters.cx * 1000, options_.millimeters.cy * 1000};

  std::vector<std::uint8_t> out(total, 0);
  std::memcpy(out.data(), &h, sizeof(h));
  if (desc_bytes) std::memcpy(out.data() + sizeof(h), options_.description.data(), desc_bytes);
  if (!body_.empty()) std::memcpy(out.data() + header_size, body_.data(), body_.size());
  win::EMREOF eof{};
  eof.emr = {win::EMR_EOF, sizeof(win::EMREOF)};
  eof.nPalEntries = 0;
  // No palette: the offset still points just past the fixed fields, where one would start.
  eof.offPalEntries = 16;
  eof.nSizeLast = sizeof(win::EMREOF);
  std::memcpy(out.data() + header_size + body_.size(), &eof, sizeof(eof));
  body_.clear();
  body_.shrink_to_fit();
  return out;
}

}  // namespace zv::emf
