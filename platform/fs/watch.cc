#include "platform/fs/watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>

#include "platform/fs/files.h"

namespace zv::fs {
namespace {
// Close-after-write and moved-in rather than every modify: a file is reported once it is whole,
// which is also how files written temp-and-rename arrive.
constexpr uint32_t kChangeMask = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO;
constexpr uint32_t kGoneMask = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT;

// Takes an inotify descriptor (non-blocking), what to call it in errors and a function of one
// event and its name (empty for an event on the folder itself); hands it every queued event.
Status ReadEvents(int fd, const std::string& what, const std::function<void(const inotify_event&, std::string)>& each) {
  alignas(inotify_event) char buf[16384];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) break;
      return Status::IOError(ErrnoText("read " + what, errno));
    }
    if (n == 0) break;
    size_t off = 0;
    while (off + sizeof(inotify_event) <= static_cast<size_t>(n)) {
      inotify_event ev;
      std::memcpy(&ev, buf + off, sizeof ev);
      size_t total = sizeof(inotify_event) + ev.len;
      if (off + total > static_cast<size_t>(n)) break;  // never read past what came
      const char* name = buf + off + sizeof(inotify_event);
      each(ev, std::string(name, ev.len > 0 ? strnlen(name, ev.len) : 0));
      off += total;
    }
  }
  return Status::Ok();
}
}  // namespace

FolderWatch::~FolderWatch() {
  if (fd_ >= 0) ::close(fd_);
}

FolderWatch::FolderWatch(FolderWatch&& o) noexcept
    : fd_(o.fd_), folder_(std::move(o.folder_)), names_(std::move(o.names_)) {
  o.fd_ = -1;
}

FolderWatch& FolderWatch::operator=(FolderWatch&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = o.fd_;
    folder_ = std::move(o.folder_);
    names_ = std::move(o.names_);
    o.fd_ = -1;
  }
  return *this;
}

Result<FolderWatch> FolderWatch::Start(const std::string& folder) {
  int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return Status::IOError(ErrnoText("inotify_init1", errno));
  if (::inotify_add_watch(fd, folder.c_str(), kChangeMask | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR) < 0) {
    int e = errno;
    ::close(fd);
    if (e == ENOENT || e == ENOTDIR) return Status::NotFound(ErrnoText("watch " + folder, e));
    return Status::IOError(ErrnoText("watch " + folder, e));
  }
  FolderWatch w;
  w.fd_ = fd;
  w.folder_ = folder;
  return w;
}

Result<bool> FolderWatch::Drain() {
  bool changed = false;
  bool gone = false;
  Status st = ReadEvents(fd_, "inotify for " + folder_, [&](const inotify_event& ev, std::string name) {
    // Events were lost: report a change, so the caller rescans the folder instead of trusting names.
    if (ev.mask & IN_Q_OVERFLOW) {
      changed = true;
    } else if (ev.mask & kGoneMask) {
      gone = true;
    } else if (ev.mask & kChangeMask) {
      changed = true;
      if (!name.empty() && std::find(names_.begin(), names_.end(), name) == names_.end())
        names_.push_back(std::move(name));
    }
  });
  if (!st.ok()) return st;
  if (gone) return Status::IOError("watched folder was removed or moved: " + folder_);
  return changed;
}

Result<FolderWatch::WaitResult> FolderWatch::Wait(const sync::Event* stop, int timeout_ms) {
  if (fd_ < 0) return Status::IOError("folder watch is not armed");
  names_.clear();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  for (;;) {
    if (stop && stop->IsSet()) return WaitResult::kStopped;
    int wait_ms = -1;
    if (timeout_ms >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      wait_ms = left.count() < 0 ? 0 : static_cast<int>(left.count());
    }
    pollfd p[2] = {{fd_, POLLIN, 0}, {stop ? stop->fd() : -1, POLLIN, 0}};
    int r = ::poll(p, stop ? 2 : 1, wait_ms);
    if (r < 0) {
      if (errno == EINTR) continue;
      return Status::IOError(ErrnoText("poll", errno));
    }
    if (stop && stop->IsSet()) return WaitResult::kStopped;
    if (r > 0 && (p[0].revents & POLLIN)) {
      auto changed = Drain();
      if (!changed.ok()) return changed.status();
      if (*changed) return WaitResult::kChanged;
    }
    if (timeout_ms >= 0 && std::chrono::steady_clock::now() >= deadline) return WaitResult::kTimeout;
  }
}

namespace {
constexpr uint32_t kEveryChangeMask = IN_CREATE | IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_MOVED_TO | IN_MOVED_FROM |
                                      IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// File systems of this machine's own disks or memory, where every change goes through this
// kernel and so raises its event. Any other (a network file system, one served by a user
// program, one unknown here) may change behind a watch's back and is never vouched for.
bool LocalFileSystem(long type) {
  switch (static_cast<std::uint32_t>(type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0x858458F6:  // ramfs
    case 0xF2F52010:  // f2fs
    case 0x2FC12FC1:  // zfs
    case 0x794C7630:  // overlayfs
      return true;
    default:
      return false;
  }
}
}  // namespace

FolderEvents::~FolderEvents() {
  if (fd_ >= 0) ::close(fd_);
}

Result<std::unique_ptr<FolderEvents>> FolderEvents::Open() {
  int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return Status::IOError(ErrnoText("inotify_init1", errno));
  auto events = std::make_unique<FolderEvents>();
  events->fd_ = fd;
  return events;
}

Result<int> FolderEvents::Add(const std::string& folder) {
  struct statfs sf {};
  if (::statfs(folder.c_str(), &sf) != 0) {
    int e = errno;
    if (e == ENOENT || e == ENOTDIR) return Status::NotFound(ErrnoText("watch " + folder, e));
    return Status::IOError(ErrnoText("watch " + folder, e));
  }
  if (!LocalFileSystem(sf.f_type))
    return Status::NotSupported(folder + ": on a file system whose changes may not all be seen here");
  int wd = ::inotify_add_watch(fd_, folder.c_str(), kEveryChangeMask);
  if (wd < 0) {
    int e = errno;
    if (e == ENOENT || e == ENOTDIR) return Status::NotFound(ErrnoText("watch " + folder, e));
    return Status::IOError(ErrnoText("watch " + folder, e));
  }
  return wd;
}

void FolderEvents::Remove(int folder) { (void)::inotify_rm_watch(fd_, folder); }

Result<FolderEvents::Batch> FolderEvents::Take() {
  Batch batch;
  Status st = ReadEvents(fd_, "inotify", [&](const inotify_event& ev, std::string name) {
    if (ev.mask & IN_Q_OVERFLOW) {
      batch.overflow = true;
    } else if (ev.mask & kGoneMask) {
      batch.gone.push_back(ev.wd);
    } else if (!name.empty()) {
      Change c;
      c.folder = ev.wd;
      c.name = std::move(name);
      c.appeared = (ev.mask & (IN_CREATE | IN_MOVED_TO)) != 0;
      c.went = (ev.mask & (IN_DELETE | IN_MOVED_FROM)) != 0;
      batch.changes.push_back(std::move(c));
    }
  });
  if (!st.ok()) return st;
  return batch;
}

bool FolderChanges::Unchanged(const std::string& folder) {
  // A watch armed before a fork is shared with the other process: whichever reads its events
  // takes them from the other. A child arms its own.
  if (events_ && armed_by_ != ::getpid()) events_.reset();
  if (events_ && folder_ == folder) {
    auto batch = events_->Take();
    if (batch.ok() && batch->changes.empty() && batch->gone.empty() && !batch->overflow) return true;
    // Changed: the watch goes on and sees what comes after this; gone or failed: armed
    // afresh below. A watch on the folder's ancestor (the folder missing) is armed afresh
    // too: the change may be the folder appearing.
    if (batch.ok() && batch->gone.empty() && !on_ancestor_) return false;
  }
  events_.reset();
  folder_.clear();
  on_ancestor_ = false;
  auto events = FolderEvents::Open();
  if (!events.ok()) return false;
  for (int tries = 0; tries < 4; ++tries) {
    Result<int> added = (*events)->Add(folder);
    if (added.ok()) {
      events_ = std::move(*events);
      folder_ = folder;
      armed_by_ = ::getpid();
      return false;
    }
    if (added.status().code() != Status::Code::kNotFound) return false;
    // A missing folder: its nearest existing ancestor is watched instead, so that it is
    // looked for again only once something changes there (the folder, or a folder on the
    // way to it, made). Armed first, then the folder is looked for once more: one made
    // meanwhile is watched itself.
    std::string ancestor = folder;
    bool armed = false;
    while (!armed) {
      const size_t slash = ancestor.find_last_of('/');
      if (slash == std::string::npos || slash == 0) break;
      ancestor.resize(slash);
      Result<int> up = (*events)->Add(ancestor);
      if (up.ok()) armed = true;
      else if (up.status().code() != Status::Code::kNotFound) return false;
    }
    if (!armed) return false;
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0 && errno == ENOENT) {
      events_ = std::move(*events);
      folder_ = folder;
      on_ancestor_ = true;
      armed_by_ = ::getpid();
      return false;
    }
    auto fresh = FolderEvents::Open();  // it appeared meanwhile: watched itself next round
    if (!fresh.ok()) return false;
    events = std::move(fresh);
  }
  return false;
}

}  // namespace zv::fs
