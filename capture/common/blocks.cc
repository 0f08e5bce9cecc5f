#include "capture/common/blocks.h"

#include <algorithm>
#include <cstring>

namespace zv::capture {
namespace {

void PutU32(std::vector<std::byte>& out, std::size_t at, std::uint32_t v) { std::memcpy(out.data() + at, &v, 4); }

std::vector<std::byte> Head(std::size_t size, int slot, int kind) {
  std::vector<std::byte> out(size);
  PutU32(out, 0, static_cast<std::uint32_t>(size));
  out[4] = static_cast<std::byte>(slot);
  out[5] = static_cast<std::byte>(kind);
  return out;
}

void PutText(std::vector<std::byte>& out, std::size_t at, std::string_view text) {
  std::memcpy(out.data() + at, text.data(), text.size());
}

}  // namespace

std::size_t SlotBlockSize(int slot, int kind) {
  if (slot < 0 || slot >= kSlotCount || kind < 0 || kind >= kKindCount) return 0;
  if ((kSlotsWithBlocks & (1u << slot)) == 0) return 0;
  switch (kind) {
    case 0:
      return 286;
    case 1:
      return 526;
    case 2:
      return (slot >= 2 && slot <= 4) ? 12 : 0;
    default:
      if (slot == 7) return 14;
      if (slot >= 9) return 10;
      return 0;
  }
}

std::string SlotBlockName(int slot, int kind) { return "ZvPerm" + std::to_string(slot) + "_" + std::to_string(kind); }

std::optional<RecordHeader> ReadRecordHeader(std::span<const std::byte> bytes) {
  if (bytes.size() < kRecordHeaderSize) return std::nullopt;
  RecordHeader h;
  std::memcpy(&h.size, bytes.data(), 4);
  h.slot = static_cast<int>(bytes[4]);
  h.kind = static_cast<int>(bytes[5]);
  return h;
}

Status CheckStorableRecord(std::span<const std::byte> bytes) {
  auto h = ReadRecordHeader(bytes);
  if (!h) return Status::InvalidArgument("slot record shorter than its head");
  if (h->size < kRecordHeaderSize) return Status::InvalidArgument("slot record size below 6");
  if (h->size > bytes.size()) return Status::InvalidArgument("slot record larger than its bytes");
  std::size_t block = SlotBlockSize(h->slot, h->kind);
  if (block == 0) return Status::InvalidArgument("no block for this slot and kind");
  // The record is copied into a fixed shared block: one longer than its block would overrun it.
  if (h->size > block) return Status::InvalidArgument("slot record larger than its block");
  return Status::Ok();
}

std::string CText(std::span<const std::byte> bytes) {
  const char* p = reinterpret_cast<const char*>(bytes.data());
  return std::string(p, strnlen(p, bytes.size()));
}

std::vector<std::byte> BuildConverterRecord(int slot, const ConverterRecord& r) {
  std::string module = r.module.substr(0, kMaxModuleName - 1);
  std::string ext = r.extension.substr(0, kExtensionField - 1);
  auto out = Head(27 + module.size(), slot, 0);
  PutU32(out, 6, r.type);
  PutText(out, 10, ext);
  PutText(out, 26, module);
  return out;
}

Result<ConverterRecord> ParseConverterRecord(std::span<const std::byte> bytes) {
  auto h = ReadRecordHeader(bytes);
  if (!h || h->size < 27 || h->size > bytes.size()) return Status::InvalidArgument("converter record too short");
  ConverterRecord r;
  std::memcpy(&r.type, bytes.data() + 6, 4);
  r.extension = CText(bytes.subspan(10, kExtensionField));
  r.module = CText(bytes.subspan(26, h->size - 26));
  return r;
}

std::vector<std::byte> BuildOutputRecord(int slot, const OutputRecord& r) {
  auto out = Head(8 + r.location.size() + r.notice.size(), slot, 1);
  PutText(out, 6, r.location);
  PutText(out, 7 + r.location.size(), r.notice);
  return out;
}

Result<OutputRecord> ParseOutputRecord(std::span<const std::byte> bytes) {
  auto h = ReadRecordHeader(bytes);
  if (!h || h->size < 8 || h->size > bytes.size()) return Status::InvalidArgument("output record too short");
  auto body = bytes.subspan(6, h->size - 6);
  OutputRecord r;
  r.location = CText(body);
  if (r.location.size() < body.size()) r.notice = CText(body.subspan(r.location.size() + 1));
  return r;
}

std::vector<std::byte> BuildStatusWindowRecord(std::uint32_t window, std::uint32_t value) {
  auto out = Head(14, 7, 3);
  PutU32(out, 6, window);
  PutU32(out, 10, value);
  return out;
}

std::vector<std::byte> BuildValueRecord(int slot, std::uint32_t value) {
  auto out = Head(10, slot, 3);
  PutU32(out, 6, value);
  return out;
}

std::vector<std::byte> BuildImageOptionsRecord(int slot, std::uint8_t a, std::uint16_t b, std::uint16_t c,
                                               std::uint8_t d) {
  auto out = Head(12, slot, 2);
  out[6] = std::byte{a};
  std::memcpy(out.data() + 7, &b, 2);
  std::memcpy(out.data() + 9, &c, 2);
  out[11] = std::byte{d};
  return out;
}

std::array<std::uint8_t, 35> DecodeInitFormat(std::optional<std::span<const std::uint8_t>> stored) {
  std::array<std::uint8_t, 35> rec{};
  rec[2] = 1;
  rec[4] = rec[5] = rec[6] = 1;
  if (stored && !stored->empty()) {
    // Settings written before keep every byte raised by 30; the first byte, once lowered, is the
    // record's length, which never counts beyond the 35 bytes read here.
    int n = static_cast<std::uint8_t>((*stored)[0] - 30);
    std::size_t take = std::min<std::size_t>({static_cast<std::size_t>(n), 35, stored->size()});
    for (std::size_t i = 0; i < take; ++i) rec[i] = static_cast<std::uint8_t>((*stored)[i] - 30);
  }
  rec[0] = 35;
  return rec;
}

}  // namespace zv::capture
