// Who owns a shared object: a process identified by its id and its start time, so that a
// recycled process id is never mistaken for the process that created the object.
#pragma once

#include <sys/types.h>

#include <cstdint>

namespace zv::shm {

struct ProcessIdentity {
  std::uint32_t pid = 0;
  std::uint64_t start_time = 0;  // clock ticks since boot, from /proc/<pid>/stat
};

// Takes a process id; gives its start time in clock ticks since boot, or 0 when the process
// does not exist, is a zombie, or /proc cannot be read.
std::uint64_t ProcessStartTime(pid_t pid);

// Gives the identity of the calling process.
ProcessIdentity SelfIdentity();

// Takes an identity; true while that very process still runs (not ended, not a zombie,
// and its id not taken by a newer process).
bool IsAlive(const ProcessIdentity& who);

}  // namespace zv::shm
