// Named shared memory blocks, standing in for paging-file-backed file mappings
// (CreateFileMapping / OpenFileMapping / MapViewOfFile).
//
// A block has a name ("ZvPermanent", "ZvPerm3_2", "ZELVORA_MONITOR", ...) and a fixed size
// in bytes. Names are scoped to the user and to the runtime root ($ZELVORA_ROOT): two roots
// never see each other's blocks, and any text is a safe name ("/" and ".." are plain
// characters here, not paths). Blocks are POSIX shared memory objects of mode 0600 whose
// names other users cannot tell (see ObjectName); an object under a block's name that
// belongs to another user is never used, and never stops Create.
//
// Lifetime: a block made by Create lives until the handle that created it is closed (or its
// process ends), like a mapping that only its creator keeps open. Handles opened later keep
// their view after that, but the name is gone. A block created with Lifetime::kPersistent
// keeps its name until RemoveBlock. A block whose creating process died without closing it
// is found stale and removed by the next Create or Open of that name.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/base/status.h"

namespace zv::shm {

enum class Access { kRead, kReadWrite };
enum class Lifetime {
  kOwner,       // the name goes when the creating handle is closed or its process ends
  kPersistent,  // the name stays until RemoveBlock
};

inline constexpr std::size_t kMaxBlockSize = std::size_t{1} << 30;
inline constexpr std::size_t kMaxNameLength = 260;

class SharedBlock {
 public:
  SharedBlock() = default;
  ~SharedBlock();
  SharedBlock(SharedBlock&& other) noexcept;
  SharedBlock& operator=(SharedBlock&& other) noexcept;
  SharedBlock(const SharedBlock&) = delete;
  SharedBlock& operator=(const SharedBlock&) = delete;

  // Takes a block name, a size in bytes (1 to kMaxBlockSize) and a lifetime; gives a
  // read-write handle. A new block is zero-filled. When a live block of that name already
  // exists, gives a read-write handle to it instead, with ITS size (which may differ from
  // `size`; check size()) and existed() true; its lifetime stays that of its creator.
  // InvalidArgument for a bad name or size, IOError when the system refuses.
  static Result<SharedBlock> Create(std::string_view name, std::size_t size, Lifetime lifetime = Lifetime::kOwner);

  // Takes a block name and the access wanted; gives a handle mapping the whole block and no
  // more. NotFound when no live block has that name; Corruption when the object under that
  // name is not a well-formed block; IOError when it belongs to another user.
  static Result<SharedBlock> Open(std::string_view name, Access access);

  // True for a handle that maps a block.
  bool valid() const { return base_ != nullptr; }
  // True when Create found the block already there.
  bool existed() const { return existed_; }
  // True for handles that may write (Create, or Open with kReadWrite).
  bool writable() const { return writable_; }
  // Gives the size of the block in bytes (0 for an empty handle).
  std::size_t size() const { return size_; }
  // Gives the block's bytes for reading.
  std::span<const std::byte> bytes() const;
  // Gives the block's bytes for writing; empty for a read-only handle.
  std::span<std::byte> mutable_bytes();
  // Gives the name the block was opened by.
  const std::string& name() const { return name_; }

  // Unmaps the block; the creating handle of an owner-lifetime block also removes its name.
  void Close();

 private:
  friend struct BlockAccess;
  void Reset() noexcept;
  std::byte* base_ = nullptr;  // start of the mapping (the private header comes first)
  std::size_t map_length_ = 0;
  std::size_t size_ = 0;
  bool writable_ = false;
  bool existed_ = false;
  bool owner_ = false;  // this handle removes the name on close
  std::string name_;
  std::string object_;  // the POSIX object name
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

// Takes a block name; removes the name (mappings already made keep working). NotFound when
// no block has that name.
Status RemoveBlock(std::string_view name);

// Takes a block name; gives the POSIX shared memory object name that stands for it in this
// user's runtime root (for diagnostics and tests). InvalidArgument for a bad name.
// The object's name holds a keyed hash of the root and the name under the user's key
// ("run/shm.key" under the root, made at the first use, mode 0600): every program of the
// user finds the same objects, and no other user can tell them beforehand. Each name has
// kNameCandidates objects, tried in order: one held by another user is passed over.
inline constexpr int kNameCandidates = 8;
Result<std::string> ObjectName(std::string_view name);
Result<std::string> ObjectName(std::string_view name, int candidate);

}  // namespace zv::shm
