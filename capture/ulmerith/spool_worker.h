// The resident program's spool worker: watches the user's spool folder (the watch armed
// before the first scan, plus a periodic rescan) and runs the feeder for each job in turn as
// a child process with a memory and time limit. A finished job's files are removed; a failed
// one moves to "failed/" beside them and is reported in the capture log. Driven by the
// resident window's timer; never blocks.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/base/every.h"
#include "platform/base/status.h"
#include "platform/fs/watch.h"
#include "platform/process/process.h"

namespace zv::capture {

class SpoolWorker {
 public:
  struct Options {
    std::string folder;    // the spool folder (made mode 0700 when missing)
    std::string feeder;    // the feeder program
    int memory_mb = 2048;  // address-space limit of a feeder
    int seconds = 600;     // time limit of a feeder
    int rescan_ms = 2000;  // periodic rescan
    // The temporary folder the feeder's capture files are made in: what a feeder that
    // failed or was ended leaves there unlocked is removed. Empty: none is looked at.
    std::string capture_folder;
  };
  // Takes the options; makes the folder, arms the watch and schedules the first scan.
  static Result<std::unique_ptr<SpoolWorker>> Start(Options options);
  // Looks at the running feeder and the folder; starts the next job when none runs.
  void Tick();
  // True while a feeder runs.
  bool busy() const { return running_.has_value(); }

 private:
  SpoolWorker() = default;
  void Finish(bool success, const std::string& why);
  void SweepAfterFeeder();
  Options options_;
  fs::FolderWatch watch_;
  bool dirty_ = true;
  Every scanned_;  // the spool folder is listed at the start, then every rescan_ms at least
  std::optional<process::Process> running_;
  std::string running_id_;
  std::chrono::steady_clock::time_point started_;  // the running feeder's start
  std::set<std::string> given_up_;  // ids whose files could not be moved away
  std::set<std::string> captures_before_;  // capture files there before the running feeder
};

}  // namespace zv::capture
