#include "platform/shm/owner.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zv::shm {

std::uint64_t ProcessStartTime(pid_t pid) {
  if (pid <= 0) return 0;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char buf[1024];
  ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (n <= 0) return 0;
  buf[n] = '\0';
  // The command name (field 2) is in parentheses and may itself hold spaces or ')': the
  // fields after it start behind the last ')'.
  const char* p = std::strrchr(buf, ')');
  if (!p || p[1] != ' ') return 0;
  p += 2;
  // Field 3 is the state; a zombie or dead process counts as gone.
  if (*p == 'Z' || *p == 'X' || *p == 'x') return 0;
  // Field 22 is the start time: skip fields 3..21 (19 fields).
  for (int field = 3; field < 22; ++field) {
    p = std::strchr(p, ' ');
    if (!p) return 0;
    ++p;
  }
  char* end = nullptr;
  unsigned long long t = std::strtoull(p, &end, 10);
  if (end == p) return 0;
  return t == 0 ? 1 : t;  // 0 means "gone"; a real start at tick 0 is reported as 1
}

ProcessIdentity SelfIdentity() {
  ProcessIdentity me;
  me.pid = static_cast<std::uint32_t>(::getpid());
  me.start_time = ProcessStartTime(::getpid());
  return me;
}

bool IsAlive(const ProcessIdentity& who) {
  if (who.pid == 0 || who.pid > 0x7fffffffu) return false;
  std::uint64_t t = ProcessStartTime(static_cast<pid_t>(who.pid));
  return t != 0 && t == who.start_time;
}

}  // namespace zv::shm
