#include "platform/sync/guard.h"

#include <time.h>

#include <chrono>
#include <thread>

#include "platform/paths/paths.h"

namespace zv::sync {

Result<std::string> NamedGuard::LockPath(std::string_view name) {
  auto run = paths::RootFolder("run", 0700);
  if (!run.ok()) return run.status();
  return *run + "/guard-" + paths::SafeFileName(name) + ".lock";
}

Result<NamedGuard> NamedGuard::TryAcquire(std::string_view name) {
  auto path = LockPath(name);
  if (!path.ok()) return path.status();
  auto lock = fs::FileLock::TryAcquire(*path);
  if (!lock.ok()) {
    if (lock.status().code() == Status::Code::kBusy) return Status::Busy("guard already held: " + std::string(name));
    return lock.status();
  }
  return NamedGuard(std::string(name), std::move(*lock));
}

Result<NamedGuard> NamedGuard::Acquire(std::string_view name, int timeout_ms) {
  if (timeout_ms < 0) {
    auto path = LockPath(name);
    if (!path.ok()) return path.status();
    auto lock = fs::FileLock::Acquire(*path);
    if (!lock.ok()) return lock.status();
    return NamedGuard(std::string(name), std::move(*lock));
  }
  // flock has no time limit: try again at short, growing intervals until the limit.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    auto g = TryAcquire(name);
    if (g.ok() || g.status().code() != Status::Code::kBusy) return g;
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return Status::Timeout("guard still held: " + std::string(name));
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

Result<bool> NamedGuard::IsHeld(std::string_view name) {
  auto g = TryAcquire(name);
  if (g.ok()) return false;
  if (g.status().code() == Status::Code::kBusy) return true;
  return g.status();
}

}  // namespace zv::sync
