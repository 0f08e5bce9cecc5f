#include "driver/kelvad/stream.h"

#include <cstring>

#include "driver/kelvad/device.h"

namespace zv::driver {

SpoolPageHeader BuildPageHeader(const PRIVDEVMODE& mode, std::uint32_t width, std::uint32_t height) {
  SpoolPageHeader h;
  std::memset(&h, 0, sizeof h);
  std::memcpy(h.magic, kPageMagic, sizeof h.magic);
  h.header_size = kPageHeaderSize;
  h.header_version = kPageHeaderVersion;
  h.image_width = width;
  h.image_height = height;
  h.bytes_per_row = width * 3;
  h.image_size = height * h.bytes_per_row;
  // The whole mode, exactly its 564 bytes.
  std::memcpy(h.devmode, &mode, sizeof mode);
  return h;
}

bool PortWriter::Write(std::span<const std::uint8_t> bytes) {
  if (failed_) return false;
  if (bytes.empty()) return true;
  if (!write_ || !write_(bytes)) failed_ = true;
  return !failed_;
}

Result<PageInfo> CheckPageHeader(const SpoolPageHeader& h) {
  if (std::memcmp(h.magic, kPageMagic, sizeof h.magic) != 0) return Status::Corruption("not a page header");
  if (h.header_size != kPageHeaderSize || h.header_version != kPageHeaderVersion)
    return Status::Corruption("page header of another size or version");
  PageInfo p;
  std::memcpy(&p.mode, h.devmode, sizeof p.mode);
  if (p.mode.dm.dmSize != kStdDevmodeSize || p.mode.dm.dmDriverExtra != kPrivateSize ||
      std::memcmp(p.mode.priv.tag, "PRIV", 4) != 0)
    return Status::Corruption("the page's device mode is not the virtual printer's");
  SanitizePrivatePart(p.mode.priv);
  p.width = h.image_width;
  p.height = h.image_height;
  p.bytes_per_row = h.bytes_per_row;
  p.image_size = h.image_size;
  if (p.width == 0 || p.height == 0) return Status::Corruption("empty page");
  if (std::uint64_t{p.width} * 3 != p.bytes_per_row || std::uint64_t{p.height} * p.bytes_per_row != p.image_size)
    return Status::Corruption("page sizes disagree");
  // The image is the printable area of the page's mode, nothing larger.
  auto layout = ComputePageLayout(p.mode);
  if (!layout.ok() || layout->image_width != p.width || layout->image_height != p.height)
    return Status::Corruption("the page's size is not that of its device mode");
  return p;
}

Status PageStreamReader::ReadExactly(std::span<std::uint8_t> buffer, bool* clean_end) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    auto n = read_(buffer.subspan(done));
    if (!n) return Status::IOError("the page stream cannot be read");
    if (*n == 0) break;
    if (*n > buffer.size() - done) return Status::IOError("the page stream read too much");
    done += *n;
  }
  if (done == buffer.size()) return Status::Ok();
  if (done == 0 && clean_end != nullptr) {
    *clean_end = true;
    return Status::Ok();
  }
  return Status::Corruption("the page stream ends inside a page");
}

Result<std::optional<PageInfo>> PageStreamReader::NextPage() {
  if (rows_left_ != 0) return Status::Corruption("the page's rows were not all read");
  SpoolPageHeader h;
  bool end = false;
  Status s = ReadExactly({reinterpret_cast<std::uint8_t*>(&h), sizeof h}, &end);
  if (!s.ok()) return s;
  if (end) return std::optional<PageInfo>();
  auto page = CheckPageHeader(h);
  if (!page.ok()) return page.status();
  rows_left_ = page->height;
  row_bytes_ = page->bytes_per_row;
  return std::optional<PageInfo>(*page);
}

Status PageStreamReader::ReadRow(std::span<std::uint8_t> row) {
  if (rows_left_ == 0) return Status::Corruption("no row left in the page");
  if (row.size() != row_bytes_) return Status::InvalidArgument("row buffer of the wrong size");
  Status s = ReadExactly(row, nullptr);
  if (!s.ok()) return s;
  --rows_left_;
  return Status::Ok();
}

}  // namespace zv::driver
