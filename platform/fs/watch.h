// Change notification on one folder (FindFirstChangeNotification / FindNextChangeNotification
// with a wait on the notification and a stop event), backed by inotify.
//
// The watch is armed when it is made: make it first, then scan the folder, then Wait. A file
// that arrives during the scan is not missed, because its event is already queued and the
// next Wait returns at once. Each Wait takes every queued event (that is the re-arming).
// Events that count as a change: a file created (IN_CREATE), a file written and closed
// (IN_CLOSE_WRITE) and a file renamed into the folder (IN_MOVED_TO); also a queue
// overflow, after which the caller rescans anyway.
// inotify sees only changes made through this machine's kernel: on a network mount, files
// written by other machines raise no event. Callers therefore wait with a time limit and
// rescan when it passes (the periodic rescan), instead of waiting without limit.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/event.h"
#include "platform/base/status.h"

namespace zv::fs {

class FolderWatch {
 public:
  enum class WaitResult { kChanged, kStopped, kTimeout };

  FolderWatch() = default;
  ~FolderWatch();
  FolderWatch(FolderWatch&& o) noexcept;
  FolderWatch& operator=(FolderWatch&& o) noexcept;
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Takes a folder path; gives an armed watch on it (the folder alone, not its subfolders).
  // NotFound when the folder does not exist; IOError when inotify refuses.
  static Result<FolderWatch> Start(const std::string& folder);

  // Waits until a change arrives, the stop event is set, or timeout_ms passes (-1: no
  // limit). The stop event (may be null) is checked first, so a set stop event ends the
  // wait even with changes queued. On kChanged the names of the entries that changed since
  // the last wait are in changed_names(). IOError when the folder itself was removed or
  // moved away, or the watch is not armed.
  Result<WaitResult> Wait(const sync::Event* stop, int timeout_ms);

  // Names (within the folder) reported by the last Wait that gave kChanged. After an
  // overflow of the event queue the list is incomplete: rescan everything.
  const std::vector<std::string>& changed_names() const { return names_; }
  const std::string& folder() const { return folder_; }

 private:
  // Reads every queued event; true when one of them was a change.
  Result<bool> Drain();
  int fd_ = -1;
  std::string folder_;
  std::vector<std::string> names_;
};

// Every change in several folders, taken without waiting: what a cache of files that other
// processes rewrite needs to know which of its entries went stale. One inotify instance;
// each folder added is watched (the folder alone) for files created, written, changed in
// their attributes, moved in or out and removed, and for the folder itself going.
// Add a folder before reading anything in it: a change after Add is then never missed.
// inotify sees only this machine's changes, so a folder on any file system but those of this
// machine's own disks and memory (a network file system above all) is refused (Add gives
// NotSupported): such a cache keeps checking the files themselves.
class FolderEvents {
 public:
  struct Change {
    int folder = -1;        // the id Add gave
    std::string name;       // the entry within that folder
    bool appeared = false;  // created or moved in
    bool went = false;      // removed or moved out
  };
  struct Batch {
    std::vector<Change> changes;
    std::vector<int> gone;  // folders no longer watched (removed, moved away, unmounted)
    bool overflow = false;  // events were lost: nothing said before can be trusted
  };

  FolderEvents() = default;
  ~FolderEvents();
  FolderEvents(const FolderEvents&) = delete;
  FolderEvents& operator=(const FolderEvents&) = delete;

  // Gives an instance with no folders yet; IOError when inotify refuses.
  static Result<std::unique_ptr<FolderEvents>> Open();
  // Takes a folder path; gives its id. The same folder (by inode) gives the same id again.
  // NotFound when it does not exist or is no folder, NotSupported when it lies on a network (or unknown)
  // file system, IOError when inotify refuses (out of watches, say).
  Result<int> Add(const std::string& folder);
  // Stops watching a folder (its later changes are not reported).
  void Remove(int folder);
  // Takes every queued change without waiting; IOError when reading the queue fails.
  Result<Batch> Take();

 private:
  int fd_ = -1;
};

// Tells a reader that keeps what it read from one folder whether that still holds, with no
// call on the folder's files (a FolderEvents on that folder alone).
class FolderChanges {
 public:
  // Takes the folder. Gives true while the watch armed at an earlier call has seen no change
  // in it; false when something changed, when it is another folder than last time, or when
  // the folder cannot be watched (missing, inotify refused, or where other machines' changes
  // raise no event: then every call gives false and the reader reads afresh each time).
  // After a false the watch is armed again: what the caller reads now is what the next true
  // vouches for.
  // A folder that does not exist is vouched for as still missing while its nearest
  // existing ancestor sees no change.
  bool Unchanged(const std::string& folder);

 private:
  std::unique_ptr<FolderEvents> events_;
  std::string folder_;
  bool on_ancestor_ = false;  // the folder was missing: its ancestor is watched
  pid_t armed_by_ = 0;        // the process that armed the watch
};

}  // namespace zv::fs
