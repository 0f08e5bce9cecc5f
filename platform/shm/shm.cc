#include "platform/shm/shm.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/base/root.h"
#include "platform/fs/files.h"
#include "platform/shm/owner.h"

namespace zv::shm {
namespace {

// Every block starts with this private header; the caller's bytes follow it. The magic is
// stored last (release), so an opener never trusts a header that is still being written.
struct BlockHeader {
  std::uint32_t magic;
  std::uint32_t version;
  std::uint64_t size;
  std::uint32_t owner_pid;
  std::uint32_t lifetime;
  std::uint64_t owner_start;
  std::uint8_t reserved[32];
};
static_assert(sizeof(BlockHeader) == 64);
constexpr std::size_t kHeaderSize = sizeof(BlockHeader);
constexpr std::uint32_t kMagic = 0x4D53565Au;  // "ZVSM"
constexpr std::uint32_t kVersion = 1;
// How long an opener waits for a creator that is still writing the header.
constexpr auto kInitWait = std::chrono::milliseconds(1000);
// Longest encoded name kept whole: with the "/zv-<uid>-<hash>-" prefix it stays below the 255-byte
// limit of a name under /dev/shm. Longer names are cut and given the hash of the whole name.
constexpr std::size_t kMaxEncodedName = 160;

std::uint64_t Fnv1a(std::string_view s) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : s) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

std::string Hex(std::uint64_t v, int digits) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s(digits, '0');
  for (int i = digits - 1; i >= 0; --i, v >>= 4) s[i] = kDigits[v & 15];
  return s;
}

std::string DevShmPath(const std::string& object) { return "/dev/shm" + object; }

std::uint32_t LoadMagic(const std::byte* base) {
  auto* word = reinterpret_cast<std::uint32_t*>(const_cast<std::byte*>(base));
  return std::atomic_ref<std::uint32_t>(*word).load(std::memory_order_acquire);
}

// Removes the object `object` only while it is still the one with inode `ino` (another
// process may already have replaced a stale block with a fresh one). `fd` is an open
// descriptor of the object, used as the lock that serialises removers.
void RemoveIfSame(const std::string& object, int fd, dev_t dev, ino_t ino) {
  ::flock(fd, LOCK_EX);
  struct stat st;
  if (::stat(DevShmPath(object).c_str(), &st) == 0 && st.st_dev == dev && st.st_ino == ino) {
    ::shm_unlink(object.c_str());
  }
  ::flock(fd, LOCK_UN);
}

}  // namespace

Result<std::string> ObjectName(std::string_view name) {
  if (name.empty()) return Status::InvalidArgument("shared memory name is empty");
  if (name.size() > kMaxNameLength) {
    return Status::InvalidArgument("shared memory name is longer than 260 bytes");
  }
  if (name.find('\0') != std::string_view::npos) {
    return Status::InvalidArgument("shared memory name holds a NUL byte");
  }
  // Letters, digits, "_" and "-" stand for themselves; every other byte (".", "/", "\",
  // "%", "#", non-ASCII) is written as %XX, so the object name never holds a path.
  std::string encoded;
  for (unsigned char c : name) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-') {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += Hex(c, 2);
    }
  }
  if (encoded.size() > kMaxEncodedName) {
    encoded = encoded.substr(0, 64) + "~" + Hex(Fnv1a(name), 16);
  }
  // The user id and a hash of the runtime root keep two users, or two test roots on one machine,
  // from ever meeting in the same block.
  return "/zv-" + std::to_string(::geteuid()) + "-" + Hex(Fnv1a(RuntimeRoot()), 16) + "-" + encoded;
}

SharedBlock::~SharedBlock() { Close(); }

SharedBlock::SharedBlock(SharedBlock&& o) noexcept { *this = std::move(o); }

SharedBlock& SharedBlock::operator=(SharedBlock&& o) noexcept {
  if (this != &o) {
    Close();
    base_ = o.base_;
    map_length_ = o.map_length_;
    size_ = o.size_;
    writable_ = o.writable_;
    existed_ = o.existed_;
    owner_ = o.owner_;
    name_ = std::move(o.name_);
    object_ = std::move(o.object_);
    dev_ = o.dev_;
    ino_ = o.ino_;
    o.Reset();
  }
  return *this;
}

void SharedBlock::Reset() noexcept {
  base_ = nullptr;
  map_length_ = 0;
  size_ = 0;
  writable_ = existed_ = owner_ = false;
  name_.clear();
  object_.clear();
  dev_ = 0;
  ino_ = 0;
}

std::span<const std::byte> SharedBlock::bytes() const {
  if (!base_) return {};
  return {base_ + kHeaderSize, size_};
}

std::span<std::byte> SharedBlock::mutable_bytes() {
  if (!base_ || !writable_) return {};
  return {base_ + kHeaderSize, size_};
}

void SharedBlock::Close() {
  if (!base_) return;
  if (owner_) {
    int fd = ::shm_open(object_.c_str(), O_RDONLY, 0);
    if (fd >= 0) {
      RemoveIfSame(object_, fd, dev_, ino_);
      ::close(fd);
    }
  }
  ::munmap(base_, map_length_);
  Reset();
}

// Fills a handle from inside this file.
struct BlockAccess {
  static SharedBlock Make(std::byte* base, std::size_t map_length, std::size_t size, bool writable, bool existed,
                          bool owner, std::string name, std::string object, dev_t dev, ino_t ino) {
    SharedBlock b;
    b.base_ = base;
    b.map_length_ = map_length;
    b.size_ = size;
    b.writable_ = writable;
    b.existed_ = existed;
    b.owner_ = owner;
    b.name_ = std::move(name);
    b.object_ = std::move(object);
    b.dev_ = dev;
    b.ino_ = ino;
    return b;
  }
};

namespace {

struct Attempt {
  enum Kind { kOpened, kMissing, kRemovedStale, kNotReady, kFailed } kind = kFailed;
  Status status;
  SharedBlock block;
};

// One try at opening the existing object `object` and checking its header.
Attempt TryOpenExisting(std::string_view name, const std::string& object, Access access) {
  Attempt a;
  const bool rw = access == Access::kReadWrite;
  int fd = ::shm_open(object.c_str(), rw ? O_RDWR : O_RDONLY, 0);
  if (fd < 0) {
    if (errno == ENOENT) {
      a.kind = Attempt::kMissing;
    } else {
      a.status = Status::IOError(fs::ErrnoText("shared memory block cannot be opened", errno));
    }
    return a;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    a.status = Status::IOError(fs::ErrnoText("shared memory block cannot be examined", errno));
    ::close(fd);
    return a;
  }
  if (st.st_uid != ::geteuid() || (st.st_mode & 077) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    a.status =
        Status::IOError("shared memory block \"" + std::string(name) + "\" is not private to this user; refused");
    return a;
  }
  // A creator between shm_open and ftruncate: the object exists but has no header yet.
  if (static_cast<std::uint64_t>(st.st_size) < kHeaderSize) {
    ::close(fd);
    a.kind = Attempt::kNotReady;
    return a;
  }
  void* head = ::mmap(nullptr, kHeaderSize, PROT_READ, MAP_SHARED, fd, 0);
  if (head == MAP_FAILED) {
    a.status = Status::IOError(fs::ErrnoText("shared memory header cannot be mapped", errno));
    ::close(fd);
    return a;
  }
  const auto* hb = static_cast<const std::byte*>(head);
  std::uint32_t magic = LoadMagic(hb);
  BlockHeader h;
  std::memcpy(&h, hb, sizeof h);
  ::munmap(head, kHeaderSize);
  if (magic == 0) {
    ::close(fd);
    a.kind = Attempt::kNotReady;
    return a;
  }
  if (magic != kMagic || h.version != kVersion || h.size == 0 || h.size > kMaxBlockSize ||
      h.size > static_cast<std::uint64_t>(st.st_size) - kHeaderSize || h.lifetime > 1) {
    ::close(fd);
    a.status = Status::Corruption("shared memory block \"" + std::string(name) + "\" has a bad header");
    return a;
  }
  if (h.lifetime == static_cast<std::uint32_t>(Lifetime::kOwner) &&
      !IsAlive(ProcessIdentity{h.owner_pid, h.owner_start})) {
    RemoveIfSame(object, fd, st.st_dev, st.st_ino);
    ::close(fd);
    a.kind = Attempt::kRemovedStale;
    return a;
  }
  const std::size_t length = kHeaderSize + static_cast<std::size_t>(h.size);
  void* map = ::mmap(nullptr, length, rw ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
  int map_errno = errno;
  ::close(fd);
  if (map == MAP_FAILED) {
    a.status = Status::IOError(fs::ErrnoText("shared memory block cannot be mapped", map_errno));
    return a;
  }
  a.kind = Attempt::kOpened;
  a.block = BlockAccess::Make(static_cast<std::byte*>(map), length, static_cast<std::size_t>(h.size), rw, true, false,
                              std::string(name), object, st.st_dev, st.st_ino);
  return a;
}

// Opens `object`, waiting a little for a creator still writing its header. A header that
// never appears belongs to a creator that died half-way: the object is removed.
Attempt OpenExisting(std::string_view name, const std::string& object, Access access) {
  const auto deadline = std::chrono::steady_clock::now() + kInitWait;
  for (;;) {
    Attempt a = TryOpenExisting(name, object, access);
    if (a.kind != Attempt::kNotReady) return a;
    if (std::chrono::steady_clock::now() >= deadline) {
      int fd = ::shm_open(object.c_str(), O_RDONLY, 0);
      if (fd >= 0) {
        struct stat st;
        if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid()) {
          RemoveIfSame(object, fd, st.st_dev, st.st_ino);
        }
        ::close(fd);
      }
      a.kind = Attempt::kRemovedStale;
      return a;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace

Result<SharedBlock> SharedBlock::Create(std::string_view name, std::size_t size, Lifetime lifetime) {
  Result<std::string> object = ObjectName(name);
  if (!object.ok()) return object.status();
  if (size == 0 || size > kMaxBlockSize) {
    return Status::InvalidArgument("shared memory size " + std::to_string(size) + " is outside 1 to 1 GiB");
  }
  // Create and open race with other processes doing the same (and with removal of stale blocks);
  // a few rounds settle any honest race, and a bound keeps a pathological one from spinning forever.
  for (int tries = 0; tries < 8; ++tries) {
    int fd = ::shm_open(object->c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd >= 0) {
      ::fchmod(fd, 0600);
      struct stat st;
      const std::size_t length = kHeaderSize + size;
      if (::fstat(fd, &st) != 0 || ::ftruncate(fd, static_cast<off_t>(length)) != 0) {
        Status s = Status::IOError(fs::ErrnoText("shared memory block cannot be sized", errno));
        ::shm_unlink(object->c_str());
        ::close(fd);
        return s;
      }
      void* map = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      int map_errno = errno;
      ::close(fd);
      if (map == MAP_FAILED) {
        ::shm_unlink(object->c_str());
        return Status::IOError(fs::ErrnoText("shared memory block cannot be mapped", map_errno));
      }
      auto* base = static_cast<std::byte*>(map);
      ProcessIdentity me = SelfIdentity();
      BlockHeader h{};
      h.version = kVersion;
      h.size = size;
      h.owner_pid = me.pid;
      h.owner_start = me.start_time;
      h.lifetime = static_cast<std::uint32_t>(lifetime);
      std::memcpy(base, &h, sizeof h);
      std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(base)).store(kMagic, std::memory_order_release);
      return BlockAccess::Make(base, length, size, true, false, lifetime == Lifetime::kOwner, std::string(name),
                               *object, st.st_dev, st.st_ino);
    }
    if (errno != EEXIST) {
      return Status::IOError(fs::ErrnoText("shared memory block cannot be created", errno));
    }
    Attempt a = OpenExisting(name, *object, Access::kReadWrite);
    if (a.kind == Attempt::kOpened) return std::move(a.block);
    if (a.kind == Attempt::kFailed) return a.status;
    // Gone meanwhile, or stale and removed: try creating again.
  }
  return Status::Busy("shared memory block \"" + std::string(name) + "\" keeps changing");
}

Result<SharedBlock> SharedBlock::Open(std::string_view name, Access access) {
  Result<std::string> object = ObjectName(name);
  if (!object.ok()) return object.status();
  Attempt a = OpenExisting(name, *object, access);
  if (a.kind == Attempt::kOpened) {
    a.block.existed_ = false;
    return std::move(a.block);
  }
  if (a.kind == Attempt::kFailed) return a.status;
  return Status::NotFound("no shared memory block \"" + std::string(name) + "\"");
}

Status RemoveBlock(std::string_view name) {
  Result<std::string> object = ObjectName(name);
  if (!object.ok()) return object.status();
  if (::shm_unlink(object->c_str()) != 0) {
    if (errno == ENOENT) return Status::NotFound("no shared memory block \"" + std::string(name) + "\"");
    return Status::IOError(fs::ErrnoText("shared memory block cannot be removed", errno));
  }
  return Status::Ok();
}

}  // namespace zv::shm
