// An event that threads and waits can watch: set once, it stays set until Reset (a
// manual-reset event). Stands in for the stop events that end the worker loops; any wait
// that polls file descriptors can include fd() (readable while the event is set).
// The synchronisation layer's type, kept header-only here in base, below every other platform
// library, so that the waits of any of them (the file layer's folder watch among them) take it
// without depending on the synchronisation layer, which itself builds on the file layer.
#pragma once

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>

namespace zv::sync {

class Event {
 public:
  // Makes an event that is not set. Throws std::runtime_error when the system has no
  // descriptor left (as constructing any other resource would fail).
  Event() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (fd_ < 0) throw std::runtime_error("eventfd failed");
  }
  ~Event() { ::close(fd_); }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // Sets the event: every present and later wait on it ends until Reset.
  void Set() {
    uint64_t one = 1;
    while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }
  // Clears the event.
  void Reset() {
    uint64_t v;
    while (::read(fd_, &v, sizeof v) < 0 && errno == EINTR) {
    }
  }
  // True while the event is set.
  bool IsSet() const { return Wait(0); }
  // Waits until the event is set or timeout_ms passed (-1: no limit); true when set.
  bool Wait(int timeout_ms) const {
    pollfd p{fd_, POLLIN, 0};
    for (;;) {
      int r = ::poll(&p, 1, timeout_ms);
      if (r < 0 && errno == EINTR) continue;
      return r > 0;
    }
  }
  // The descriptor, readable while the event is set. Owned by the event: do not read it.
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace zv::sync
