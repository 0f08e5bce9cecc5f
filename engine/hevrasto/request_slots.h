// The request folder's slots, shared by the engine and the client: the 100 request files
// "order00.lst" to "order99.lst", taken in ring order from the number in "Sequence.seq".
//
// "Sequence.seq" is the engine's: only it writes the number (in place, never by replacing
// the file); clients open it read-only. A client places a request by renaming a file it
// wrote whole onto a free slot without replacing one (so a slot never holds a half-written
// request, and never a request with two names); the advisory lock (flock) on the file only
// keeps the two sides in step: the engine tries for it exclusively, a client shared, each
// for a bounded time, and each goes on without it, so that a member who holds it stops
// nobody.
#pragma once

#include <array>
#include <chrono>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/status.h"
#include "platform/sync/event.h"

namespace zv::engine {

inline constexpr int kSlotCount = 100;
inline constexpr char kSequenceFileName[] = "Sequence.seq";

// Gives "order%02d.lst" of a slot 0..99.
std::string SlotFileName(int slot);
// Gives "order%02d" of a slot 0..99 (the slot's base name in answer names).
std::string SlotBaseName(int slot);
// Gives the slot of a name "orderNN.lst" (two digits, any letter case of the rest), or -1
// for any other name.
int ParseSlotFileName(std::string_view name);
// Gives whether a name matches "order*.lst" (letter case ignored), as the request search does.
bool MatchesRequestPattern(std::string_view name);
// Gives the start slot a "Sequence.seq" text names: its leading decimal number, 0 when it
// has none or the number is outside 0..99.
int ParseSequence(std::string_view text);
// Takes which slots hold a file and the start slot; gives the first slot from the start on,
// in ring order, that holds one, or -1.
int PickSlot(const std::array<bool, kSlotCount>& present, int start);

// What the request folder holds that matches "order*.lst".
struct RequestFolderScan {
  std::array<bool, kSlotCount> present{};  // numbered slots with a file
  std::vector<std::string> strays;         // other names matching "order*.lst", and slot
                                           // names that are no regular file
  std::array<bool, kSlotCount> marked{};   // slots with an "orderNN.taken" or ".answered" mark
  bool any() const;
};
// Lists the request folder. IOError when it cannot be read.
Result<RequestFolderScan> ScanRequestFolder(const std::string& folder);

// A process holding a lock that /proc/locks lists.
struct LockHolder {
  int pid = 0;
  std::string kind;  // "FLOCK WRITE", "POSIX READ", ...
};
// Takes the text of /proc/locks and a file's device (major, minor) and inode; gives the
// processes that hold a lock on that file (waiters left out).
std::vector<LockHolder> ParseLockHolders(std::string_view proc_locks, uint64_t dev_major, uint64_t dev_minor,
                                         uint64_t ino);

// A file of the jobs folder and when it was last written.
struct JobFileAge {
  std::string name;
  std::chrono::system_clock::time_point written;
};
// Takes the jobs folder's files, the job file names that requests in the slots name, the
// time now and the age past which a job nobody names is litter; gives the names to remove:
// those no request names that were written longer ago than `max_age`.
std::vector<std::string> StaleJobFiles(const std::vector<JobFileAge>& files, const std::set<std::string>& named,
                                       std::chrono::system_clock::time_point now, std::chrono::seconds max_age);

// "Sequence.seq" held under its lock.
class SequenceFile {
 public:
  SequenceFile() = default;
  ~SequenceFile();
  SequenceFile(SequenceFile&& o) noexcept;
  SequenceFile& operator=(SequenceFile&& o) noexcept;
  SequenceFile(const SequenceFile&) = delete;
  SequenceFile& operator=(const SequenceFile&) = delete;

  // The engine's side. Takes the request folder; opens "Sequence.seq" for writing without
  // a lock (created 0640 holding "00" when missing; never through a link; write bits of the
  // group and others dropped where it is the caller's). IOError when it cannot be opened or
  // is no regular file.
  static Result<SequenceFile> OpenOwn(const std::string& folder);
  // As OpenOwn, and takes the exclusive lock, trying again after 1 ms, doubling to 20 ms,
  // below 0: no limit). Busy when the stop event (may be null) is set first, Timeout when
  // the time limit passes first.
  static Result<SequenceFile> Lock(const std::string& folder, const sync::Event* stop, int timeout_ms);
  // The clients' side. Takes the request folder and a time limit; opens "Sequence.seq"
  // read-only (never through a link) and tries for a shared lock until the limit;
  // `locked` says whether it was had (a file whose lock someone holds is still given, so
  // that nobody who holds it stops others). NotFound when it is missing, IOError when it
  // cannot be opened or is no regular file.
  static Result<SequenceFile> OpenShared(const std::string& folder, int timeout_ms, bool* locked);
  int fd() const { return fd_; }

  // Gives the start slot the file names (ParseSequence of its first line).
  Result<int> ReadStart();
  // Writes the next slot after `taken` ("%02d", 99 followed by 00) over the file's start.
  Status WriteNext(int taken);
  // Drops the lock and closes the file.
  void Close();

 private:
  explicit SequenceFile(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace zv::engine
