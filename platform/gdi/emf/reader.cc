#include "platform/gdi/emf/reader.h"

#include <string>

namespace zv::emf {
namespace {

std::uint32_t U32(std::span<const std::uint8_t> b, std::size_t off) {
  return *win::LoadRecord<std::uint32_t>(b, off);  // callers checked off + 4 <= size
}

Status Bad(std::size_t offset, const std::string& what) {
  return Status::Corruption("metafile record at offset " + std::to_string(offset) + ": " + what);
}

// Checks the envelope of the record at `offset` of `bytes`; gives its size.
Result<std::uint32_t> CheckEnvelope(std::span<const std::uint8_t> bytes, std::size_t offset) {
  if (bytes.size() - offset < sizeof(win::EMR)) return Bad(offset, "truncated record prefix");
  const std::uint32_t size = U32(bytes, offset + 4);
  if (size < sizeof(win::EMR)) return Bad(offset, "nSize " + std::to_string(size) + " below 8");
  // Records are 32-bit aligned; a size that is not would put every later record's fields off.
  if (size % 4 != 0) return Bad(offset, "nSize " + std::to_string(size) + " not a multiple of 4");
  if (size > bytes.size() - offset) {
    return Bad(offset, "nSize " + std::to_string(size) + " runs past the end of the metafile");
  }
  return size;
}

Result<Header> ParseHeader(std::span<const std::uint8_t> bytes) {
  auto fail = [](const std::string& what) { return Status::Corruption("metafile header: " + what); };
  if (bytes.size() < win::ENHMETAHEADER_BASE_SIZE) return fail("shorter than 88 bytes");
  win::ENHMETAHEADER h{};
  std::memcpy(&h, bytes.data(), win::ENHMETAHEADER_BASE_SIZE);
  if (h.iType != win::EMR_HEADER) return fail("first record is not EMR_HEADER");
  if (h.dSignature != win::ENHMETA_SIGNATURE) return fail("signature missing");
  if (h.nSize < win::ENHMETAHEADER_BASE_SIZE || h.nSize % 4 != 0) {
    return fail("bad nSize " + std::to_string(h.nSize));
  }
  if (h.nBytes % 4 != 0 || h.nBytes < h.nSize) return fail("bad nBytes " + std::to_string(h.nBytes));
  if (h.nBytes > bytes.size()) {
    return fail("nBytes " + std::to_string(h.nBytes) + " runs past the " + std::to_string(bytes.size()) +
                " bytes given");
  }
  if (h.szlDevice.cx <= 0 || h.szlDevice.cy <= 0 || h.szlMillimeters.cx <= 0 || h.szlMillimeters.cy <= 0) {
    return fail("no reference device size");
  }
  Header out;
  out.bounds = h.rclBounds;
  out.frame = h.rclFrame;
  out.device = h.szlDevice;
  out.millimeters = h.szlMillimeters;
  out.version = h.nVersion;
  out.bytes = h.nBytes;
  out.records = h.nRecords;
  out.handles = h.nHandles;
  out.pal_entries = h.nPalEntries;
  out.header_size = h.nSize;
  if (h.nDescription != 0) {
    const std::uint64_t end = std::uint64_t(h.offDescription) + 2ull * h.nDescription;
    if (h.offDescription < win::ENHMETAHEADER_BASE_SIZE || end > h.nSize) {
      return fail("description outside the header");
    }
    out.description.resize(h.nDescription);
    std::memcpy(out.description.data(), bytes.data() + h.offDescription, 2ull * h.nDescription);
    // The stored description is two NUL-terminated strings; keep them as stored.
  }
  // The second extension (micrometres) is there when the header is long enough and the
  // description does not start inside it.
  const std::uint32_t ext_end = offsetof(win::ENHMETAHEADER, szlMicrometers) + sizeof(win::SIZEL);
  if (h.nSize >= ext_end && (h.nDescription == 0 || h.offDescription >= ext_end)) {
    out.has_micrometers = true;
    std::memcpy(&out.micrometers, bytes.data() + offsetof(win::ENHMETAHEADER, szlMicrometers), sizeof(win::SIZEL));
  }
  return out;
}

}  // namespace

Result<Record> MakeRecord(std::span<const std::uint8_t> bytes, std::uint16_t handles) {
  auto size = CheckEnvelope(bytes, 0);
  if (!size.ok()) return size.status();
  Record r;
  r.type = U32(bytes, 0);
  r.bytes = bytes.first(*size);
  r.handles = handles;
  return r;
}

bool RecordReader::Next(Record* out) {
  if (done_ || !status_.ok()) return false;
  if (offset_ == bytes_.size()) {  // nBytes reached without EMR_EOF: the end all the same
    done_ = true;
    return false;
  }
  auto size = CheckEnvelope(bytes_, offset_);
  if (!size.ok()) {
    status_ = size.status();
    return false;
  }
  const std::uint32_t type = U32(bytes_, offset_);
  if ((type == win::EMR_HEADER) != (offset_ == 0)) {
    status_ = Bad(offset_, offset_ == 0 ? "first record is not the header" : "a second header");
    return false;
  }
  out->type = type;
  out->bytes = bytes_.subspan(offset_, *size);
  out->offset = offset_;
  out->handles = handles_;
  offset_ += *size;
  ++count_;
  if (type == win::EMR_EOF) done_ = true;
  return true;
}

Result<Metafile> Metafile::Parse(std::span<const std::uint8_t> bytes) {
  auto header = ParseHeader(bytes);
  if (!header.ok()) return header.status();
  Metafile mf;
  mf.header_ = std::move(*header);
  mf.bytes_ = bytes.first(mf.header_.bytes);
  return mf;
}

Result<std::uint32_t> MetafileLength(std::span<const std::uint8_t> bytes) {
  auto header = ParseHeader(bytes);
  if (!header.ok()) return header.status();
  return header->bytes;
}

Status ForEachRecord(const Metafile& mf, const std::function<Status(const Record&)>& hook) {
  RecordReader reader = mf.records();
  Record r;
  while (reader.Next(&r)) {
    Status s = hook(r);
    if (!s.ok()) return s;
  }
  return reader.status();
}

}  // namespace zv::emf
