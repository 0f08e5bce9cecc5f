#include "platform/fs/watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/fs/files.h"

namespace zv::fs {
namespace {
// Close-after-write and moved-in rather than every modify: a file is reported once it is whole,
// which is also how files written temp-and-rename arrive.
constexpr uint32_t kChangeMask = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO;
constexpr uint32_t kRemovalMask = IN_DELETE | IN_MOVED_FROM;
constexpr uint32_t kGoneMask = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT;
}  // namespace

FolderWatch::~FolderWatch() {
  if (fd_ >= 0) ::close(fd_);
}

FolderWatch::FolderWatch(FolderWatch&& o) noexcept
    : fd_(o.fd_), mask_(o.mask_), folder_(std::move(o.folder_)), names_(std::move(o.names_)) {
  o.fd_ = -1;
}

FolderWatch& FolderWatch::operator=(FolderWatch&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = o.fd_;
    mask_ = o.mask_;
    folder_ = std::move(o.folder_);
    names_ = std::move(o.names_);
    o.fd_ = -1;
  }
  return *this;
}

Result<FolderWatch> FolderWatch::Start(const std::string& folder, Events events) {
  const uint32_t mask = events == Events::kArrivalsAndRemovals ? kChangeMask | kRemovalMask : kChangeMask;
  int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return Status::IOError(ErrnoText("inotify_init1", errno));
  if (::inotify_add_watch(fd, folder.c_str(), mask | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR) < 0) {
    int e = errno;
    ::close(fd);
    if (e == ENOENT || e == ENOTDIR) return Status::NotFound(ErrnoText("watch " + folder, e));
    return Status::IOError(ErrnoText("watch " + folder, e));
  }
  FolderWatch w;
  w.fd_ = fd;
  w.mask_ = mask;
  w.folder_ = folder;
  return w;
}

Result<bool> FolderWatch::Drain() {
  alignas(inotify_event) char buf[16384];
  bool changed = false;
  bool gone = false;
  for (;;) {
    ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) break;
      return Status::IOError(ErrnoText("read inotify for " + folder_, errno));
    }
    if (n == 0) break;
    size_t off = 0;
    while (off + sizeof(inotify_event) <= static_cast<size_t>(n)) {
      inotify_event ev;
      std::memcpy(&ev, buf + off, sizeof ev);
      size_t total = sizeof(inotify_event) + ev.len;
      if (off + total > static_cast<size_t>(n)) break;  // never read past what came
      // Events were lost: report a change, so the caller rescans the folder instead of trusting names.
      if (ev.mask & IN_Q_OVERFLOW) {
        changed = true;
      } else if (ev.mask & kGoneMask) {
        gone = true;
      } else if (ev.mask & mask_) {
        changed = true;
        if (ev.len > 0) {
          const char* name = buf + off + sizeof(inotify_event);
          std::string s(name, strnlen(name, ev.len));
          bool seen = false;
          for (const auto& x : names_) seen = seen || x == s;
          if (!seen) names_.push_back(std::move(s));
        }
      }
      off += total;
    }
  }
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
// True when the folder lies on a file system of this machine's own disks or memory, where
// every change goes through this kernel and so raises its event. A network file system
// (or one served by a user program) changes behind the watch's back: never vouched for.
bool OnLocalFileSystem(const std::string& folder) {
  struct statfs fs {};
  if (::statfs(folder.c_str(), &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0xF2F52010:  // f2fs
    case 0x2FC12FC1:  // zfs
    case 0x794C7630:  // overlayfs
      return true;
    default:
      return false;
  }
}
}  // namespace

bool FolderChanges::Unchanged(const std::string& folder) {
  if (armed_ && watch_.folder() == folder) {
    auto r = watch_.Wait(nullptr, 0);
    if (r.ok() && *r == FolderWatch::WaitResult::kTimeout) return true;
    // Changed: the watch goes on and sees what comes after this; gone: armed afresh below.
    if (r.ok()) return false;
  }
  armed_ = false;
  if (!OnLocalFileSystem(folder)) return false;
  auto w = FolderWatch::Start(folder, FolderWatch::Events::kArrivalsAndRemovals);
  if (!w.ok()) return false;
  watch_ = std::move(*w);
  armed_ = true;
  return false;
}

}  // namespace zv::fs
