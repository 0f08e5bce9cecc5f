#include "jobdoc/container.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <optional>

#include "jobdoc/internal/names.h"
#include "platform/fs/files.h"
#include "platform/workers/workers.h"

namespace zv::jobdoc {

using internal::BaseName;
using internal::EqualsNoCase;
using internal::Extension;

bool IsSupportedDocumentVersion(std::uint8_t version) { return version <= 3 || version == 0x4D; }

const char* UnpackErrorName(UnpackError error) {
  switch (error) {
    case UnpackError::kNone:
      return "no error";
    case UnpackError::kWrongExtension:
      return "not a .prc file";
    case UnpackError::kNotFound:
      return "file not found";
    case UnpackError::kUnreadable:
      return "file unreadable";
    case UnpackError::kEmpty:
      return "empty file";
    case UnpackError::kUnsupportedVersion:
      return "unsupported version";
    case UnpackError::kBadSize:
      return "bad unpacked size";
    case UnpackError::kTruncated:
      return "truncated block";
    case UnpackError::kBadBlock:
      return "damaged block";
  }
  return "unknown error";
}

Status UnpackResult::status() const {
  if (ok()) return Status::Ok();
  std::string text = std::string(UnpackErrorName(error)) + (message.empty() ? "" : ": " + message);
  switch (error) {
    case UnpackError::kNone:
      return Status::Ok();
    case UnpackError::kNotFound:
      return Status::NotFound(text);
    case UnpackError::kUnreadable:
      return Status::IOError(text);
    case UnpackError::kWrongExtension:
      return Status::InvalidArgument(text);
    case UnpackError::kUnsupportedVersion:
      return Status::NotSupported(text);
    default:
      return Status::Corruption(text);
  }
}

namespace {

UnpackResult Fail(UnpackError error, std::string message, std::optional<std::uint8_t> version = std::nullopt) {
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

// Left to choose, the codec starts a worker for every few blocks: starting a thread costs
// about as much as coding a small fraction of a block.
constexpr std::size_t kBlocksPerWorker = 4;
// Blocks in flight per worker: coded but not yet placed in file order.
constexpr std::size_t kSlotsPerWorker = 4;

// Gives a codec state for a worker thread, or null when there is no memory for it (the
// other workers, the calling thread among them, do the work without it). Made on the
// worker's own thread, so that the pages it touches are faulted in there.
std::unique_ptr<JobCodecState> NewWorkerState() {
  try {
    return NewCodecState();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

UnpackResult UnpackDocumentBytes(std::span<const std::uint8_t> file, JobCodecState& state, unsigned threads) {
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
    std::uint32_t u = std::uint32_t(file[1]) | (std::uint32_t(file[2]) << 8) | (std::uint32_t(file[3]) << 16) |
                      (std::uint32_t(file[4]) << 24);
    std::memcpy(&stated, &u, sizeof stated);
  }
  if (stated < 0) {
    return Fail(UnpackError::kBadSize, "negative unpacked size " + std::to_string(stated), version);
  }
  const std::size_t size = static_cast<std::size_t>(stated);

  // Before allocating, make sure the blocks in the file can produce the stated size: a
  // stored block gives exactly its payload, a packed one at most 32,768 bytes.
  std::size_t blocks = 0;
  {
    std::size_t at = kDocumentHeadSize, bound = 0;
    while (bound < size && file.size() - at >= kCodecHeaderSize) {
      BlockHeader b = ReadBlockHeader(file.data() + at);
      if (file.size() - at - kCodecHeaderSize < b.payload) break;
      bound += b.stored ? b.payload : kCodecBlockSize;
      at += kCodecHeaderSize + b.payload;
      ++blocks;
    }
    if (bound < size) {
      // Say which fault it is: blocks that stop short, or a size beyond them.
      if (at < file.size()) {
        return Fail(UnpackError::kTruncated, "block at offset " + std::to_string(at) + " runs past the end of the file",
                    version);
      }
      return Fail(UnpackError::kBadSize, "unpacked size " + std::to_string(size) + " is more than the blocks can hold",
                  version);
    }
  }

  UnpackedDocument doc;
  doc.version = version;
  doc.size = static_cast<std::uint32_t>(size);

  // The blocks are claimed in file order (the claim reads the block's header) and
  // expanded by any worker into a slot of a small ring of scratch blocks. Whichever worker
  // finds the first block not yet placed expanded places it and the expanded ones behind
  // it in file order: a block's place in the image is known only once the blocks before
  // it are placed, so the checks against the stated size are made there. The placed
  // blocks are then copied into the image outside the lock, and their slots freed. The
  // calling thread clears the image buffer while the other workers expand the first
  // blocks.
  const unsigned workers = CodecThreadCount(blocks, threads);
  const std::size_t ring = workers * kSlotsPerWorker;
  std::unique_ptr<std::uint8_t[]> scratch(new std::uint8_t[ring * kCodecBlockSize]);
  enum class Stage { kFree, kExpanding, kExpanded, kCopying };
  struct Slot {
    Stage stage = Stage::kFree;
    std::size_t at = 0;  // the offset of the block's header in the file
    int rc = kCodecOk;
    std::uint16_t produced = 0;
    std::size_t place = 0;  // where the block goes in the image
  };
  std::vector<Slot> slots(ring);

  std::mutex mu;
  std::condition_variable changed;
  std::size_t claimed = 0, placed = 0, freed = 0;  // blocks claimed, placed, freed (in order)
  std::size_t next_at = kDocumentHeadSize;
  std::size_t total = 0;      // bytes of the image placed so far
  bool ended = false;         // no block header follows the last one claimed
  bool buffer_ready = false;  // the image buffer is allocated and cleared
  bool abandoned = false;     // the image buffer could not be allocated
  std::optional<UnpackResult> failure;
  auto finished = [&] { return abandoned || failure || total >= size; };

  // With `mu` held: claims the next block when the ring has room and the file holds it
  // whole; gives its number, or nothing.
  auto claim = [&]() -> std::optional<std::size_t> {
    if (ended || claimed >= freed + ring) return std::nullopt;
    if (file.size() - next_at < kCodecHeaderSize ||
        file.size() - next_at - kCodecHeaderSize < ReadBlockHeader(file.data() + next_at).payload) {
      ended = true;
      return std::nullopt;
    }
    Slot& slot = slots[claimed % ring];
    slot.stage = Stage::kExpanding;
    slot.at = next_at;
    next_at += kCodecHeaderSize + ReadBlockHeader(file.data() + next_at).payload;
    return claimed++;
  };
  // Takes `lock` (held): places the expanded blocks at the front in file order, setting
  // `failure` at the first bad one; copies them into the image without the lock; frees
  // their slots. Gives `lock` back held.
  auto place = [&](std::unique_lock<std::mutex>& lock) {
    if (!buffer_ready) return;
    const std::size_t first = placed;
    while (!finished() && placed < claimed && slots[placed % ring].stage == Stage::kExpanded) {
      Slot& slot = slots[placed % ring];
      if (slot.rc != kCodecOk) {
        failure = Fail(UnpackError::kBadBlock, "the block at offset " + std::to_string(slot.at) + " does not expand",
                       version);
      } else if (slot.produced > size - total) {
        failure = Fail(
            UnpackError::kBadBlock,
            "the block at offset " + std::to_string(slot.at) + " expands past the stated size " + std::to_string(size),
            version);
      } else {
        slot.stage = Stage::kCopying;
        slot.place = total;
        total += slot.produced;
        ++placed;
      }
    }
    if (!finished() && ended && placed == claimed) {
      // Packed blocks may produce less than the pre-scan allowed for.
      failure =
          Fail(UnpackError::kTruncated,
               "the blocks end after " + std::to_string(total) + " of " + std::to_string(size) + " bytes", version);
    }
    const std::size_t last = placed;
    if (first == last) return;
    lock.unlock();
    for (std::size_t n = first; n < last; ++n) {
      const Slot& slot = slots[n % ring];
      std::memcpy(doc.buffer.data() + slot.place, scratch.get() + (n % ring) * kCodecBlockSize, slot.produced);
    }
    lock.lock();
    for (std::size_t n = first; n < last; ++n) slots[n % ring].stage = Stage::kFree;
    while (freed < placed && slots[freed % ring].stage == Stage::kFree) ++freed;
    changed.notify_all();  // room in the ring
  };

  std::vector<std::unique_ptr<JobCodecState>> states(workers);
  auto work = [&](unsigned worker) {
    if (worker == 0) {
      bool ok = true;
      try {
        doc.buffer.assign(std::max(size, kMinDocumentBuffer), 0);
      } catch (const std::bad_alloc&) {
        ok = false;
      }
      std::lock_guard guard(mu);
      (ok ? buffer_ready : abandoned) = true;
      changed.notify_all();
      if (!ok) return;
    } else if (!(states[worker] = NewWorkerState())) {
      return;
    }
    JobCodecState& codec = worker == 0 ? state : *states[worker];
    std::unique_lock lock(mu);
    for (;;) {
      place(lock);
      if (finished()) break;
      if (std::optional<std::size_t> n = claim()) {
        const std::size_t at = slots[*n % ring].at;
        lock.unlock();
        BlockHeader b = ReadBlockHeader(file.data() + at);
        std::uint16_t produced = 0;
        int rc = ExpandJobData(file.data() + at + kCodecHeaderSize, scratch.get() + (*n % ring) * kCodecBlockSize,
                               static_cast<std::uint16_t>(b.payload), produced, b.stored, codec);
        lock.lock();
        Slot& slot = slots[*n % ring];
        slot.rc = rc;
        slot.produced = produced;
        slot.stage = Stage::kExpanded;
        if (*n == placed) changed.notify_all();  // the block the others may wait for
        continue;
      }
      place(lock);  // the claim may have found the end of the blocks
      if (finished()) break;
      changed.wait(lock);  // for the first block not placed, or for room in the ring
    }
    changed.notify_all();
  };
  zv::workers::RunWorkers(workers, work);
  if (abandoned) throw std::bad_alloc();
  if (failure) return std::move(*failure);

  UnpackResult r;
  r.version = version;
  r.document = std::move(doc);
  return r;
}

unsigned CodecThreadCount(std::size_t blocks, unsigned requested) {
  return zv::workers::ThreadCount(blocks, requested, kBlocksPerWorker);
}

UnpackResult UnpackDocumentFile(const std::string& path, unsigned threads) {
  std::string base = BaseName(path);
  std::string ext = Extension(base);
  if (!EqualsNoCase(ext, ".prc")) {
    return Fail(UnpackError::kWrongExtension, path + " does not end in .prc");
  }
  // A packed image of up to 2^31-1 bytes takes a little more than 2 GiB of blocks.
  Result<std::string> bytes = fs::ReadFile(path, std::size_t{3} << 30);
  if (!bytes.ok()) {
    return Fail(bytes.status().code() == Status::Code::kNotFound ? UnpackError::kNotFound : UnpackError::kUnreadable,
                bytes.status().message());
  }
  std::unique_ptr<JobCodecState> state = NewCodecState();
  UnpackResult r =
      UnpackDocumentBytes({reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()}, *state, threads);
  if (r.ok()) r.document->job_name = base.substr(0, base.size() - ext.size());
  else if (!r.message.empty()) r.message = path + ": " + r.message;
  return r;
}

Status PackDocumentImage(std::span<const std::uint8_t> image, std::vector<std::uint8_t>& out, JobCodecState& state,
                         unsigned threads) {
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

  // The blocks are claimed in file order and packed by any worker into a slot of a small
  // ring; whichever worker finishes the first block not yet written appends it, and the
  // finished ones after it, to the file. A worker waits while the ring is full.
  const unsigned workers = CodecThreadCount(blocks, threads);
  const std::size_t ring = workers * kSlotsPerWorker;
  std::unique_ptr<std::uint8_t[]> scratch(new std::uint8_t[ring * kCodecOutputSize]);
  struct Slot {
    std::uint16_t written = 0;
    bool refused = false;
    bool done = false;
  };
  std::vector<Slot> slots(ring);
  std::vector<std::unique_ptr<JobCodecState>> states(workers);

  std::mutex mu;
  std::condition_variable room;
  std::size_t claimed = 0, appended = 0;
  std::optional<std::size_t> refused;  // the first block the codec refused, in file order
  auto work = [&](unsigned worker) {
    if (worker != 0 && !(states[worker] = NewWorkerState())) return;
    JobCodecState& codec = worker == 0 ? state : *states[worker];
    std::unique_lock lock(mu);
    for (;;) {
      while (!refused && claimed < blocks && claimed >= appended + ring) room.wait(lock);
      if (refused || claimed >= blocks) return;
      const std::size_t b = claimed++;
      lock.unlock();
      const std::size_t at = b * kCodecBlockSize;
      const std::size_t len = std::min(kCodecBlockSize, image.size() - at);
      std::uint16_t written = 0;
      const int rc = CompressJobData(image.data() + at, scratch.get() + (b % ring) * kCodecOutputSize,
                                     static_cast<std::uint16_t>(len), written, codec);
      lock.lock();
      slots[b % ring] = {written, rc != kCodecOk, true};
      bool freed = false;
      while (appended < claimed && slots[appended % ring].done && !refused) {
        Slot& slot = slots[appended % ring];
        if (slot.refused) {
          refused = appended;
        } else {
          const std::uint8_t* p = scratch.get() + (appended % ring) * kCodecOutputSize;
          out.insert(out.end(), p, p + slot.written);  // within the reserved capacity
          slot.done = false;
          ++appended;
        }
        freed = true;
      }
      if (freed) room.notify_all();
    }
  };
  zv::workers::RunWorkers(workers, work);
  if (refused) {
    out.clear();
    return Status::Corruption("the codec refused the block at offset " + std::to_string(*refused * kCodecBlockSize));
  }
  return Status::Ok();
}

std::unique_ptr<JobCodecState> NewCodecState() {
  // Not zeroed: every block sets up what it uses, so untouched trees cost no memory.
  std::unique_ptr<JobCodecState> state(new JobCodecState);
  InitCodecTables(*state);
  return state;
}

}  // namespace zv::jobdoc
