// Named single-instance guards, standing in for the named mutexes and semaphores (of count
// one) that the programs create to keep a second instance from running, such as
// "Hevrasto.exeMultiplexStartingPrevention", "Ostrane" or "Welmoric".
//
// A guard is an exclusive flock on $ZELVORA_ROOT/run/guard-<name>.lock, where <name> is
// the guard name made safe by paths::SafeFileName (so any text is a valid name and none
// leaves the folder). At most one holder exists at a time among all processes (and all
// guard objects) of one runtime root; the kernel drops the lock when the holder's process
// ends, however it ends, so a crashed instance never blocks the next one.
#pragma once

#include <string>
#include <string_view>

#include "platform/base/status.h"
#include "platform/fs/files.h"

namespace zv::sync {

class NamedGuard {
 public:
  NamedGuard() = default;

  // CreateMutex(owned) / CreateSemaphore(1, 1) followed by a test for "already exists":
  // takes a guard name; gives the held guard, or Busy when another holder has it.
  // IOError when the lock file cannot be made.
  static Result<NamedGuard> TryAcquire(std::string_view name);

  // Takes a guard name and a time limit in milliseconds (-1: no limit); waits until the
  // guard is had. Timeout when the limit passes first.
  static Result<NamedGuard> Acquire(std::string_view name, int timeout_ms);

  // True when some holder has the guard now (taking and dropping it to find out).
  static Result<bool> IsHeld(std::string_view name);

  // Gives the lock file path that stands for a guard name.
  static Result<std::string> LockPath(std::string_view name);

  bool held() const { return lock_.held(); }
  const std::string& name() const { return name_; }
  // Releases the guard (also done by the destructor).
  void Release() { lock_.Release(); }

 private:
  NamedGuard(std::string name, fs::FileLock lock) : name_(std::move(name)), lock_(std::move(lock)) {}
  std::string name_;
  fs::FileLock lock_;
};

}  // namespace zv::sync
