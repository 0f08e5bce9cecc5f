#include "platform/shm/shm.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/random.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
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

// SipHash-2-4 of `data` under a 128-bit key: a name made with it tells nothing of the key,
// nor of the names of other blocks or other candidates.
std::uint64_t SipHash(const std::uint64_t key[2], std::string_view data) {
  auto rotl = [](std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); };
  std::uint64_t v0 = 0x736f6d6570736575ull ^ key[0], v1 = 0x646f72616e646f6dull ^ key[1];
  std::uint64_t v2 = 0x6c7967656e657261ull ^ key[0], v3 = 0x7465646279746573ull ^ key[1];
  auto round = [&] {
    v0 += v1;
    v1 = rotl(v1, 13);
    v1 ^= v0;
    v0 = rotl(v0, 32);
    v2 += v3;
    v3 = rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotl(v1, 17);
    v1 ^= v2;
    v2 = rotl(v2, 32);
  };
  const std::size_t n = data.size();
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t m = 0;
    for (int b = 0; b < 8; ++b) m |= static_cast<std::uint64_t>(static_cast<unsigned char>(data[i + b])) << (8 * b);
    v3 ^= m;
    round();
    round();
    v0 ^= m;
  }
  std::uint64_t last = static_cast<std::uint64_t>(n & 0xff) << 56;
  for (int b = 0; i + b < n; ++b)
    last |= static_cast<std::uint64_t>(static_cast<unsigned char>(data[i + b])) << (8 * b);
  v3 ^= last;
  round();
  round();
  v0 ^= last;
  v2 ^= 0xff;
  for (int r = 0; r < 4; ++r) round();
  return v0 ^ v1 ^ v2 ^ v3;
}

// The key of this user's blocks in one runtime root: 32 hexadecimal digits of random in
// "run/shm.key" under the root, readable by this user alone. Every program of the user
// that uses the root reads the same key, so they all find the same objects; another user
// cannot read it, so cannot tell, let alone take beforehand, the objects' names.
struct NameKey {
  std::uint64_t words[2] = {0, 0};
};

bool ParseKey(const std::string& text, NameKey* key) {
  if (text.size() != 32) return false;
  for (int w = 0; w < 2; ++w) {
    std::uint64_t v = 0;
    for (int i = 0; i < 16; ++i) {
      char c = text[w * 16 + i];
      int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (d < 0) return false;
      v = v << 4 | static_cast<std::uint64_t>(d);
    }
    key->words[w] = v;
  }
  return true;
}

// Reads the key file: only a regular file of this user, private to it, holding a key.
bool ReadKeyFile(const std::string& path, NameKey* key, dev_t* dev, ino_t* ino) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  char buf[33] = {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0 &&
            st.st_size == 32 && ::read(fd, buf, 32) == 32 && ParseKey(std::string(buf, 32), key);
  ::close(fd);
  if (ok) {
    *dev = st.st_dev;
    *ino = st.st_ino;
  }
  return ok;
}

Result<NameKey> LoadNameKey() {
  static std::mutex mu;
  static std::string cached_root;
  static NameKey cached;
  static dev_t cached_dev = 0;
  static ino_t cached_ino = 0;
  std::lock_guard<std::mutex> hold(mu);
  const std::string root = RuntimeRoot();
  const std::string folder = root + "/run";
  const std::string path = folder + "/shm.key";
  struct stat st;
  // One stat per name: a key another program of the user replaced is read again.
  if (cached_root == root && ::lstat(path.c_str(), &st) == 0 && st.st_dev == cached_dev && st.st_ino == cached_ino)
    return cached;
  NameKey key;
  dev_t dev = 0;
  ino_t ino = 0;
  if (!ReadKeyFile(path, &key, &dev, &ino)) {
    if (Status made = fs::MakeDirs(folder, 0700); !made.ok()) return made;
    // A folder that others may write could hand us their key: refused.
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 022) != 0)
      return Status::IOError("the folder " + folder + " is not private to this user; shared memory refused");
    unsigned char bytes[16];
    std::size_t got = 0;
    while (got < sizeof bytes) {
      ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
      if (n > 0) got += static_cast<std::size_t>(n);
      else if (errno != EINTR)
        return Status::IOError(fs::ErrnoText("no random bytes for the shared memory key", errno));
    }
    std::string text;
    for (unsigned char b : bytes) text += Hex(b, 2);
    // Written to a name of its own and linked into place: of two programs making the key at
    // once, the second finds the first one's and uses it. A bad file in the way (another
    // owner, open to others, damaged) is replaced.
    const std::string tmp = path + "." + std::to_string(::getpid()) + ".tmp";
    ::unlink(tmp.c_str());
    if (Status w = fs::WriteFileAtomic(tmp, text, 0600, fs::Durability::kProcessSafe); !w.ok()) return w;
    if (::link(tmp.c_str(), path.c_str()) != 0) {
      int e = errno;
      if (e != EEXIST || !ReadKeyFile(path, &key, &dev, &ino)) {
        if (::rename(tmp.c_str(), path.c_str()) != 0) {
          e = errno;
          ::unlink(tmp.c_str());
          return Status::IOError(fs::ErrnoText("the shared memory key cannot be kept", e));
        }
      }
    }
    ::unlink(tmp.c_str());
    if (!ReadKeyFile(path, &key, &dev, &ino)) return Status::IOError("the shared memory key cannot be read: " + path);
  }
  cached_root = root;
  cached = key;
  cached_dev = dev;
  cached_ino = ino;
  return key;
}

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

Result<std::string> ObjectName(std::string_view name, int candidate) {
  if (name.empty()) return Status::InvalidArgument("shared memory name is empty");
  if (name.size() > kMaxNameLength) {
    return Status::InvalidArgument("shared memory name is longer than 260 bytes");
  }
  if (name.find('\0') != std::string_view::npos) {
    return Status::InvalidArgument("shared memory name holds a NUL byte");
  }
  if (candidate < 0 || candidate >= kNameCandidates) return Status::InvalidArgument("no such name candidate");
  auto key = LoadNameKey();
  if (!key.ok()) return key.status();
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
  // The user id, then a keyed hash of the root, the name and the candidate: two users, or
  // two roots on one machine, never meet in one object, and nobody without the key can tell
  // a block's object (the name stays readable at the end, for people looking at /dev/shm).
  std::string keyed = RuntimeRoot();
  keyed += '\0';
  keyed += name;
  keyed += '\0';
  keyed += std::to_string(candidate);
  return "/zv-" + std::to_string(::geteuid()) + "-" + Hex(SipHash(key->words, keyed), 16) + "-" + encoded;
}

Result<std::string> ObjectName(std::string_view name) { return ObjectName(name, 0); }

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
  enum Kind { kOpened, kMissing, kRemovedStale, kNotReady, kForeign, kFailed } kind = kFailed;
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
    } else if (errno == EACCES) {
      a.kind = Attempt::kForeign;  // another user's, closed to us
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
  if (st.st_uid != ::geteuid()) {
    // Another user's object under this name: never ours, whatever it holds.
    ::close(fd);
    a.kind = Attempt::kForeign;
    return a;
  }
  if ((st.st_mode & 077) != 0 || !S_ISREG(st.st_mode)) {
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

namespace {
// Creates (or opens, when it is this user's live block) the object `object` for `name`.
// *foreign tells that the object is another user's (and the result an error).
Result<SharedBlock> CreateObject(std::string_view name, const std::string& object, std::size_t size, Lifetime lifetime,
                                 bool* foreign) {
  *foreign = false;
  // Create and open race with other processes doing the same (and with removal of stale blocks);
  // a few rounds settle any honest race, and a bound keeps a pathological one from spinning forever.
  for (int tries = 0; tries < 8; ++tries) {
    int fd = ::shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd >= 0) {
      ::fchmod(fd, 0600);
      struct stat st;
      const std::size_t length = kHeaderSize + size;
      if (::fstat(fd, &st) != 0 || ::ftruncate(fd, static_cast<off_t>(length)) != 0) {
        Status s = Status::IOError(fs::ErrnoText("shared memory block cannot be sized", errno));
        ::shm_unlink(object.c_str());
        ::close(fd);
        return s;
      }
      void* map = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      int map_errno = errno;
      ::close(fd);
      if (map == MAP_FAILED) {
        ::shm_unlink(object.c_str());
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
      return BlockAccess::Make(base, length, size, true, false, lifetime == Lifetime::kOwner, std::string(name), object,
                               st.st_dev, st.st_ino);
    }
    if (errno == EACCES) {
      *foreign = true;
      return Status::IOError("another user's object");
    }
    if (errno != EEXIST) {
      return Status::IOError(fs::ErrnoText("shared memory block cannot be created", errno));
    }
    Attempt a = OpenExisting(name, object, Access::kReadWrite);
    if (a.kind == Attempt::kOpened) return std::move(a.block);
    if (a.kind == Attempt::kForeign) {
      *foreign = true;
      return Status::IOError("another user's object");
    }
    if (a.kind == Attempt::kFailed) return a.status;
    // Gone meanwhile, or stale and removed: try creating again.
  }
  return Status::Busy("shared memory block \"" + std::string(name) + "\" keeps changing");
}
}  // namespace

Result<SharedBlock> SharedBlock::Create(std::string_view name, std::size_t size, Lifetime lifetime) {
  if (Result<std::string> checked = ObjectName(name, 0); !checked.ok()) return checked.status();
  if (size == 0 || size > kMaxBlockSize) {
    return Status::InvalidArgument("shared memory size " + std::to_string(size) + " is outside 1 to 1 GiB");
  }
  // A name has a few candidate objects: one another user holds (which only someone who
  // knows this user's key could have made) is passed over for the next, so a taken name
  // never stops this user's programs. A live block of this user under any of them is the
  // block; else it is made under the first that is not another user's.
  for (int candidate = 1; candidate < kNameCandidates; ++candidate) {
    Result<std::string> object = ObjectName(name, candidate);
    if (!object.ok()) return object.status();
    Attempt a = OpenExisting(name, *object, Access::kReadWrite);
    if (a.kind == Attempt::kOpened) return std::move(a.block);
    if (a.kind == Attempt::kFailed) return a.status;
  }
  for (int candidate = 0; candidate < kNameCandidates; ++candidate) {
    Result<std::string> object = ObjectName(name, candidate);
    if (!object.ok()) return object.status();
    bool foreign = false;
    Result<SharedBlock> made = CreateObject(name, *object, size, lifetime, &foreign);
    if (!foreign) return made;
  }
  return Status::IOError("shared memory block \"" + std::string(name) + "\": every object for it is another user's");
}

Result<SharedBlock> SharedBlock::Open(std::string_view name, Access access) {
  // Every candidate is looked at: the block is under the first one that was not another
  // user's when it was made, and that user may have given its object up since.
  for (int candidate = 0; candidate < kNameCandidates; ++candidate) {
    Result<std::string> object = ObjectName(name, candidate);
    if (!object.ok()) return object.status();
    Attempt a = OpenExisting(name, *object, access);
    if (a.kind == Attempt::kOpened) {
      a.block.existed_ = false;
      return std::move(a.block);
    }
    if (a.kind == Attempt::kFailed) return a.status;
  }
  return Status::NotFound("no shared memory block \"" + std::string(name) + "\"");
}

Status RemoveBlock(std::string_view name) {
  bool removed = false;
  for (int candidate = 0; candidate < kNameCandidates; ++candidate) {
    Result<std::string> object = ObjectName(name, candidate);
    if (!object.ok()) return object.status();
    // Only this user's objects: another user's is left where it is.
    struct stat st;
    if (::stat(DevShmPath(*object).c_str(), &st) != 0 || st.st_uid != ::geteuid()) continue;
    if (::shm_unlink(object->c_str()) != 0) {
      if (errno == ENOENT) continue;
      return Status::IOError(fs::ErrnoText("shared memory block cannot be removed", errno));
    }
    removed = true;
  }
  if (!removed) return Status::NotFound("no shared memory block \"" + std::string(name) + "\"");
  return Status::Ok();
}

}  // namespace zv::shm
