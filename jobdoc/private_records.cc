#include "jobdoc/private_records.h"

#include <cstring>

#include "jobdoc/internal/le.h"
#include "platform/wintypes/emf.h"

namespace zv::jobdoc {

using internal::Append16;
using internal::Append32;
using internal::Load16;
using internal::Load32;

namespace {
constexpr std::size_t kHeadSize = sizeof(PrivateRecordHead);
constexpr std::size_t kRunFixed = 20;  // head, x, y
constexpr std::size_t kExtensionSize = sizeof(TextRunExtension);

std::size_t RoundUp4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

// Fills `out` when the record is a consistent text run.
bool ParseTextRun(std::span<const std::uint8_t> rec, std::uint16_t width, TextRun& out) {
  const std::size_t size = rec.size();
  if (size % 4 != 0 || size < RoundUp4(kRunFixed + 1)) return false;
  const std::uint8_t* text = rec.data() + kRunFixed;
  const void* nul = std::memchr(text, 0, size - kRunFixed);
  if (!nul) return false;
  const std::size_t n = static_cast<const std::uint8_t*>(nul) - text;
  out.width = width;
  out.x = static_cast<std::int32_t>(Load32(rec.data() + 12));
  out.y = static_cast<std::int32_t>(Load32(rec.data() + 16));
  out.text.assign(reinterpret_cast<const char*>(text), n);
  out.extension.reset();
  if (size > n + 25) {
    // The extension follows the NUL directly; it must lie inside the record.
    if (size < kRunFixed + n + 1 + kExtensionSize) return false;
    TextRunExtension ext;
    std::memcpy(&ext, text + n + 1, sizeof ext);
    out.extension = ext;
  }
  return true;
}
}  // namespace

Result<PrivateRecord> ParsePrivateRecord(std::span<const std::uint8_t> record) {
  PrivateRecord out;
  if (record.size() < 8) return Status::Corruption("a metafile record needs 8 bytes");
  const std::uint32_t type = Load32(record.data());
  const std::uint32_t size = Load32(record.data() + 4);
  if (size > record.size()) {
    return Status::Corruption("metafile record size " + std::to_string(size) + " passes the " +
                              std::to_string(record.size()) + " bytes given");
  }
  if (type != win::EMR_GDICOMMENT) return out;
  if (size < kHeadSize) return Status::Corruption("a comment record needs 12 bytes");
  std::span<const std::uint8_t> rec = record.first(size);
  const std::uint16_t marker = Load16(rec.data() + 8);
  const std::uint16_t arg = Load16(rec.data() + 10);
  switch (marker) {
    case kMarkerCharList:
      if (arg <= kMaxCharListItems && size == kHeadSize + sizeof(CharListItem) * arg) {
        out.kind = PrivateRecord::Kind::kCharList;
        out.chars.resize(arg);
        if (arg) std::memcpy(out.chars.data(), rec.data() + kHeadSize, sizeof(CharListItem) * arg);
        return out;
      }
      break;
    case kMarkerTextRun:
    case kMarkerHiddenTextRun:
      if (ParseTextRun(rec, arg, out.run)) {
        out.kind = marker == kMarkerTextRun ? PrivateRecord::Kind::kTextRun : PrivateRecord::Kind::kHiddenTextRun;
        return out;
      }
      out.run = TextRun{};
      break;
    case kMarkerFontScale:
      if (size == kHeadSize) {
        out.kind = PrivateRecord::Kind::kFontScale;
        out.text_height = arg;
        return out;
      }
      break;
    default:
      break;
  }
  // Not private: fine as long as it is a sound ordinary comment.
  const std::uint32_t data_size = Load32(rec.data() + 8);
  if (size - kHeadSize >= data_size) return out;
  return Status::Corruption("comment record of size " + std::to_string(size) + " with marker " +
                            std::to_string(marker) + " and argument " + std::to_string(arg) +
                            " fits neither a private record nor a comment");
}

Result<std::vector<std::uint8_t>> BuildCharListRecord(std::span<const CharListItem> items) {
  if (items.size() > kMaxCharListItems) {
    return Status::InvalidArgument("a character list holds at most 255 items");
  }
  std::vector<std::uint8_t> out;
  Append32(out, win::EMR_GDICOMMENT);
  Append32(out, static_cast<std::uint32_t>(kHeadSize + sizeof(CharListItem) * items.size()));
  Append16(out, kMarkerCharList);
  Append16(out, static_cast<std::uint32_t>(items.size()));
  const auto* b = reinterpret_cast<const std::uint8_t*>(items.data());
  out.insert(out.end(), b, b + sizeof(CharListItem) * items.size());
  return out;
}

namespace {
Result<std::vector<std::uint8_t>> BuildRun(const TextRun& run, std::uint16_t marker) {
  if (run.text.find('\0') != std::string::npos) {
    return Status::InvalidArgument("a text run holds a NUL character");
  }
  std::size_t used = kRunFixed + run.text.size() + 1 + (run.extension ? kExtensionSize : 0);
  std::vector<std::uint8_t> out;
  out.reserve(RoundUp4(used));
  Append32(out, win::EMR_GDICOMMENT);
  Append32(out, static_cast<std::uint32_t>(RoundUp4(used)));
  Append16(out, marker);
  Append16(out, run.width);
  Append32(out, static_cast<std::uint32_t>(run.x));
  Append32(out, static_cast<std::uint32_t>(run.y));
  out.insert(out.end(), run.text.begin(), run.text.end());
  out.push_back(0);
  if (run.extension) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(&*run.extension);
    out.insert(out.end(), b, b + kExtensionSize);
  }
  out.resize(RoundUp4(used), 0);
  return out;
}
}  // namespace

Result<std::vector<std::uint8_t>> BuildTextRunRecord(const TextRun& run) { return BuildRun(run, kMarkerTextRun); }
Result<std::vector<std::uint8_t>> BuildHiddenTextRunRecord(const TextRun& run) {
  return BuildRun(run, kMarkerHiddenTextRun);
}

std::vector<std::uint8_t> BuildFontScaleRecord(std::uint16_t text_height) {
  std::vector<std::uint8_t> out;
  Append32(out, win::EMR_GDICOMMENT);
  Append32(out, kHeadSize);
  Append16(out, kMarkerFontScale);
  Append16(out, text_height);
  return out;
}

}  // namespace zv::jobdoc
