// Change notification on one folder (FindFirstChangeNotification / FindNextChangeNotification
// with a wait on the notification and a stop event), backed by inotify.
//
// The watch is armed when it is made: make it first, then scan the folder, then Wait. A file
// that arrives during the scan is not missed, because its event is already queued and the
// next Wait returns at once. Each Wait takes every queued event (that is the re-arming).
// Events that count as a change: a file created (IN_CREATE), a file written and closed
// (IN_CLOSE_WRITE) and a file renamed into the folder (IN_MOVED_TO), with kArrivalsAndRemovals
// also a file removed (IN_DELETE) or renamed out (IN_MOVED_FROM); also a queue overflow,
// after which the caller rescans anyway. Wait with no time (0) only asks whether anything
// changed since the last Wait, without blocking.
// inotify sees only changes made through this machine's kernel: on a network mount, files
// written by other machines raise no event. Callers therefore wait with a time limit and
// rescan when it passes (the periodic rescan), instead of waiting without limit.
#pragma once

#include <cstdint>
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

  // Which events count as a change: files that arrive (the default: made, written and
  // closed, renamed in), or also files that go (removed, renamed out), for a caller that
  // keeps what it read from the folder and must hear of any change to it.
  enum class Events { kArrivals, kArrivalsAndRemovals };

  // Takes a folder path; gives an armed watch on it (the folder alone, not its subfolders).
  // NotFound when the folder does not exist; IOError when inotify refuses.
  static Result<FolderWatch> Start(const std::string& folder, Events events = Events::kArrivals);

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
  uint32_t mask_ = 0;
  std::string folder_;
  std::vector<std::string> names_;
};

// Tells a reader that keeps what it read from a folder whether that still holds, without a
// call on the folder's files: the watch is one on the folder's arrivals and removals.
class FolderChanges {
 public:
  // Takes the folder. Gives true while the watch armed at an earlier call has seen no change
  // in it; false when something changed, when it is another folder than last time, or when
  // the folder cannot be watched (missing, inotify refused, or on a network file system,
  // where other machines' changes raise no event: then every call gives false and the reader
  // reads afresh each time). After a false the watch is armed again: what the
  // caller reads now is what the next true vouches for.
  bool Unchanged(const std::string& folder);

 private:
  FolderWatch watch_;
  bool armed_ = false;
};

}  // namespace zv::fs
