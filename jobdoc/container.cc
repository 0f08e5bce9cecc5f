#include "jobdoc/container.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <limits>

#include "jobdoc/internal/names.h"
#include "platform/fs/files.h"

namespace zv::jobdoc {

using internal::BaseName;
using internal::EqualsNoCase;
using internal::Extension;

bool IsSupportedDocumentVersion(std::uint8_t version) {
  return version <= 3 || version == 0x4D;
}

const char* UnpackErrorName(UnpackError error) {
  switch (error) {
    case UnpackError::kNone: return "no error";
    case UnpackError::kWrongExtension: return "not a .prc file";
    case UnpackError::kNotFound: return "file not found";
    case UnpackError::kUnreadable: return "file unreadable";
    case UnpackError::kEmpty: return "empty file";
    case UnpackError::kUnsupportedVersion: return "unsupported version";
    case UnpackError::kBadSize: return "bad unpacked size";
    case UnpackError::kTruncated: return "truncated block";
    case UnpackError::kBadBlock: return "damaged block";
  }
  return "unknown error";
}

Status UnpackResult::status() const {
  if (ok()) return Status::Ok();
  std::string text = std::string(UnpackErrorName(error)) + (message.empty() ? "" : ": " + message);
  switch (error) {
    case UnpackError::kNone: return Status::Ok();
    case UnpackError::kNotFound: return Status::NotFound(text);
    case UnpackError::kUnreadable: return Status::IOError(text);
    case UnpackError::kWrongExtension: return Status::InvalidArgument(text);
    case UnpackError::kUnsupportedVersion: return Status::NotSupported(text);
    default: return Status::Corruption(text);
  }
}

namespace {

UnpackResult Fail(UnpackError error, std::string message,
                  std::optional<std::uint8_t> version = std::nullopt) {
  UnpackResult r;
  r.error = error;
  r.message = std::move(message);
  r.version = version;
  return r;
}

struct BlockHeader {
  std::size_t payload;  // 1 to 32,768
  bool stored;
};

inline BlockHeader ReadBlockHeader(const std::uint8_t* p) {
  unsigned h = (unsigned(p[0]) << 8) | p[1];
  std::size_t len = h & 0x7FFFu;
  return {len == 0 ? kCodecBlockSize : len, (h & kStoredBlockFlag) != 0};
}

}  // namespace

UnpackResult UnpackDocumentBytes(std::span<const std::uint8_t> file, JobCodecState& state) {
  if (file.empty()) return Fail(UnpackError::kEmpty, "the file is empty");
  const std::uint8_t version = file[0];
  if (!IsSupportedDocumentVersion(version)) {
    return Fail(UnpackError::kUnsupportedVersion,
                "version byte " + std::to_string(version) + " is not 0, 1, 2, 3 or 77", version);
  }
  if (file.size() < kDocumentHeadSize) {
    return Fail(UnpackError::kBadSize, "the file ends inside its size field", version);
  }
  std::int32_t stated;
  {
    std::uint32_t u = std::uint32_t(file[1]) | (std::uint32_t(file[2]) << 8) |
                      (std::uint32_t(file[3]) << 16) | (std::uint32_t(file[4]) << 24);
    std::memcpy(&stated, &u, sizeof stated);
  }
  if (stated < 0) {
    return Fail(UnpackError::kBadSize, "negative unpacked size " + std::to_string(stated), version);
  }
  const std::size_t size = static_cast<std::size_t>(stated);

  // Before allocating, make sure the blocks in the file can produce the stated size: a
  // stored block gives exactly its payload, a packed one at most 32,768 bytes.
  {
    std::size_t at = kDocumentHeadSize, bound = 0;
    while (bound < size && file.size() - at >= kCodecHeaderSize) {
      BlockHeader b = ReadBlockHeader(file.data() + at);
      if (file.size() - at - kCodecHeaderSize < b.payload) break;
      bound += b.stored ? b.payload : kCodecBlockSize;
      at += kCodecHeaderSize + b.payload;
    }
    if (bound < size) {
      // Say which fault it is: blocks that stop short, or a size beyond them.
      if (at < file.size()) {
        return Fail(UnpackError::kTruncated,
                    "block at offset " + std::to_string(at) + " runs past the end of the file",
                    version);
      }
      return Fail(UnpackError::kBadSize,
                  "unpacked size " + std::to_string(size) + " is more than the blocks can hold",
                  version);
    }
  }

  UnpackedDocument doc;
  doc.version = version;
  doc.size = static_cast<std::uint32_t>(size);
  doc.buffer.assign(std::max(size, kMinDocumentBuffer), 0);

  std::array<std::uint8_t, kCodecBlockSize> scratch;
  std::size_t at = kDocumentHeadSize, total = 0;
  while (total < size) {
    // Packed blocks may produce less than the pre-scan allowed for: check again.
    if (file.size() - at < kCodecHeaderSize ||
        file.size() - at - kCodecHeaderSize < ReadBlockHeader(file.data() + at).payload) {
      return Fail(UnpackError::kTruncated,
                  "the blocks end after " + std::to_string(total) + " of " +
                      std::to_string(size) + " bytes",
                  version);
    }
    BlockHeader b = ReadBlockHeader(file.data() + at);
    std::uint16_t produced = 0;
    int rc = ExpandJobData(file.data() + at + kCodecHeaderSize, scratch.data(),
                           static_cast<std::uint16_t>(b.payload), produced, b.stored, state);
    if (rc != kCodecOk) {
      return Fail(UnpackError::kBadBlock,
                  "the block at offset " + std::to_string(at) + " does not expand", version);
    }
    if (produced > size - total) {
      return Fail(UnpackError::kBadBlock,
                  "the block at offset " + std::to_string(at) +
                      " expands past the stated size " + std::to_string(size),
                  version);
    }
    std::memcpy(doc.buffer.data() + total, scratch.data(), produced);
    total += produced;
    at += kCodecHeaderSize + b.payload;
  }
  UnpackResult r;
  r.version = version;
  r.document = std::move(doc);
  return r;
}

UnpackResult UnpackDocumentFile(const std::string& path) {
  std::string base = BaseName(path);
  std::string ext = Extension(base);
  if (!EqualsNoCase(ext, ".prc")) {
    return Fail(UnpackError::kWrongExtension, path + " does not end in .prc");
  }
  // A packed image of up to 2^31-1 bytes takes a little more than 2 GiB of blocks.
  Result<std::string> bytes = fs::ReadFile(path, std::size_t{3} << 30);
  if (!bytes.ok()) {
    return Fail(bytes.status().code() == Status::Code::kNotFound ? UnpackError::kNotFound
                                                                 : UnpackError::kUnreadable,
                bytes.status().message());
  }
  std::unique_ptr<JobCodecState> state = NewCodecState();
  UnpackResult r = UnpackDocumentBytes(
      {reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()}, *state);
  if (r.ok()) r.document->job_name = base.substr(0, base.size() - ext.size());
  else if (!r.message.empty()) r.message = path + ": " + r.message;
  return r;
}

Status PackDocumentImage(std::span<const std::uint8_t> image, std::vector<std::uint8_t>& out,
                         JobCodecState& state) {
  if (image.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return Status::InvalidArgument("a document image is limited to 2 GiB");
  }
  const std::size_t blocks = (image.size() + kCodecBlockSize - 1) / kCodecBlockSize;
  out.clear();
  // Each block needs at most 32,770 bytes; reserve the worst case once.
  out.reserve(kDocumentHeadSize + blocks * kCodecOutputSize);
  std::uint32_t n = static_cast<std::uint32_t>(image.size());
  out.push_back(kDocumentVersion);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
  for (std::size_t at = 0; at < image.size(); at += kCodecBlockSize) {
    std::size_t len = std::min(kCodecBlockSize, image.size() - at);
    std::size_t base = out.size();
    out.resize(base + kCodecOutputSize);  // within the reserved capacity
    std::uint16_t written = 0;
    int rc = CompressJobData(image.data() + at, out.data() + base, static_cast<std::uint16_t>(len),
                             written, state);
    if (rc != kCodecOk) {
      out.clear();
      return Status::Corruption("the codec refused the block at offset " + std::to_string(at));
    }
    out.resize(base + written);
  }
  return Status::Ok();
}

std::unique_ptr<JobCodecState> NewCodecState() {
  auto state = std::make_unique<JobCodecState>();
  InitCodecTables(*state);
  return state;
}

}  // namespace zv::jobdoc
