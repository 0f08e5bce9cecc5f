// Small file helpers shared by the platform layer: whole-file reads with a size limit,
// atomic replacement (temporary file + rename), folder creation and advisory file locks.
//
// Files that another process reads are always replaced through WriteFileAtomic, so a
// reader sees either the old or the new content, never a half-written file.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/base/status.h"

namespace zv::fs {

// Takes a path and a limit in bytes; gives the whole content of the file. Only a regular
// file is read: the last component is not followed when it is a link, and the file is
// opened without blocking (a FIFO never holds the caller). NotFound when the file does not
// exist, InvalidArgument when it is a link, a folder, a FIFO, a device or any other special
// file, or larger than max_bytes (refused before reading), IOError for other failures.
// `info`, when given, receives the status of the very file read (its owner, say).
Result<std::string> ReadFile(const std::string& path, size_t max_bytes = 64u << 20, struct stat* info = nullptr);

// Takes a file's status; gives whether the caller may trust it in a folder others write
// too: a regular file owned by root or by the caller (effective uid).
bool TrustedForCaller(const struct stat& st);
// As ReadFile, but gives PermissionDenied (as InvalidArgument) for a file that is not
// TrustedForCaller: what another member put there is never read.
Result<std::string> ReadTrustedFile(const std::string& path, size_t max_bytes = 64u << 20, struct stat* info = nullptr);

// Takes a descriptor (a pipe, say) and a limit in bytes; reads it to its end. InvalidArgument
// when it holds more than max_bytes, IOError when a read fails.
Result<std::string> ReadToEnd(int fd, size_t max_bytes = 64u << 20);

// Takes a descriptor and bytes; writes every byte (through short writes and interrupted
// calls); gives whether it did.
bool WriteAll(int fd, std::span<const std::uint8_t> bytes);

// How far WriteFileAtomic makes the new content last.
enum class Durability {
  kSynced,      // flushed to disk before the rename: survives a power loss
  kProcessSafe  // not flushed: readers never see a half-written file, and it survives the
                // writer's death, but a power loss may lose it (for files a process keeps
                // only to survive its own crash, where a flush would cost each time)
};

// An owner a written file is handed to, with the mode it gets then.
struct Ownership {
  uid_t uid = 0;
  gid_t gid = 0;
  mode_t mode = 0600;
};

// Takes a path, the new content, the file mode and the durability; writes the content to a
// temporary file in the same folder (created exclusively, with that mode), flushes it to
// disk (kSynced) and renames it over the path. On failure the old file is untouched and the
// temporary file removed. With `owned`, the temporary file is first handed to that owner
// (fchown) and given its mode instead; where the writer may not hand it over, it stays the
// writer's with `mode`, and the write goes on.
Status WriteFileAtomic(const std::string& path, std::string_view content, mode_t mode = 0644,
                       Durability durability = Durability::kSynced, const Ownership* owned = nullptr);

// Takes a folder path and a mode; creates the folder and any missing parents (each new one
// with that mode). Ok when the folder exists afterwards; IOError when a part is not a folder
// or cannot be made.
Status MakeDirs(const std::string& path, mode_t mode = 0755);

// An exclusive advisory lock (flock) on a lock file, held while the object lives. The
// kernel releases it when the process dies, so a crashed holder never blocks others.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(FileLock&& o) noexcept;
  FileLock& operator=(FileLock&& o) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Takes the lock file's path (created with mode 0600 when missing; its folder must
  // exist); blocks until the lock is had. IOError when the file cannot be opened.
  static Result<FileLock> Acquire(const std::string& path);
  // As Acquire, but gives Busy at once when another holder has the lock.
  static Result<FileLock> TryAcquire(const std::string& path);

  bool held() const { return fd_ >= 0; }
  // Releases the lock (also done by the destructor).
  void Release();

 private:
  explicit FileLock(int fd) : fd_(fd) {}
  static Result<FileLock> Take(const std::string& path, bool wait);
  int fd_ = -1;
};

// Takes a path; removes what lies there (a file, a link itself, a FIFO, or a folder with
// everything in it), never following a link, at any depth. Ok when nothing is left there
// (nothing there to begin with included); IOError naming what stayed.
Status RemoveNoFollow(const std::string& path);

// Gives strerror text for errno value e, prefixed by what, e.g. "open /x: No such file".
std::string ErrnoText(const std::string& what, int e);

}  // namespace zv::fs
