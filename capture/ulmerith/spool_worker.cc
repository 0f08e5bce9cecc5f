#include "capture/ulmerith/spool_worker.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "capture/common/kept.h"
#include "capture/common/log.h"
#include "capture/spool/spool.h"
#include "platform/fs/files.h"

namespace zv::capture {

Result<std::unique_ptr<SpoolWorker>> SpoolWorker::Start(Options options) {
  std::unique_ptr<SpoolWorker> w(new SpoolWorker);
  w->options_ = std::move(options);
  // The same check the backend makes before it writes: a link or another user's folder would
  // feed this user's session with jobs that are not theirs, or change the mode of what the
  // link names.
  if (Status ready = PrepareSpoolFolder(w->options_.folder); !ready.ok()) return ready;
  auto watch = fs::FolderWatch::Start(w->options_.folder);
  if (!watch.ok()) return watch.status();
  w->watch_ = std::move(*watch);
  return w;
}

void SpoolWorker::Finish(bool success, const std::string& why) {
  const std::string base = options_.folder + "/" + running_id_;
  if (success) {
    for (const char* ext : {".pdf", ".zvr", ".job"}) ::unlink((base + ext).c_str());
  } else {
    const std::string failed = options_.folder + "/failed";
    bool moved = fs::MakeDirs(failed, 0700).ok();
    for (const char* ext : {".pdf", ".zvr", ".job"}) {
      if (::rename((base + ext).c_str(), (failed + "/" + running_id_ + ext).c_str()) != 0 && errno != ENOENT)
        moved = false;
    }
    if (!moved) given_up_.insert(running_id_);
    AppendCaptureLog("print job " + running_id_ + " failed (" + why + "); its files are in " + failed);
    SweepAfterFeeder();
  }
  running_.reset();
  running_id_.clear();
  dirty_ = true;
}

void SpoolWorker::SweepAfterFeeder() {
  // A failed job hands nothing over: the capture file its feeder began is removed, never
  // left half written.
  if (options_.capture_folder.empty()) return;
  for (const std::string& name : SweepCaptureFolder(options_.capture_folder, captures_before_, false))
    AppendCaptureLog("the unfinished capture file " + name + " of print job " + running_id_ + " was removed");
}

void SpoolWorker::Tick() {
  const auto now = std::chrono::steady_clock::now();
  if (running_) {
    auto code = running_->Wait(0);
    if (code.ok()) {
      // A code above 128 is a feeder ended by a signal: a document that crashed the PDF
      // interpreter, or one that passed the feeder's memory or time limit.
      Finish(*code == 0, *code > 128 ? "the feeder was ended by signal " + std::to_string(*code - 128)
                                     : "the feeder ended with " + std::to_string(*code));
    } else if (now - started_ > std::chrono::seconds(options_.seconds + 5)) {
      (void)running_->Kill();
      (void)running_->Wait(5000);
      Finish(false, "the feeder passed its time limit");
    }
    return;
  }
  if (auto w = watch_.Wait(nullptr, 0); w.ok() && *w == fs::FolderWatch::WaitResult::kChanged) dirty_ = true;
  if (scanned_.Due(now, std::chrono::milliseconds(options_.rescan_ms))) dirty_ = true;
  if (!dirty_) return;
  dirty_ = false;
  scanned_.Ran(now);
  for (const std::string& id : ListSpoolJobs(options_.folder)) {
    if (given_up_.count(id) != 0) continue;
    const std::string job = options_.folder + "/" + id + ".job";
    // The document: a PDF of the Zelvora queue or a page raster stream of the raster queue.
    if (::access((options_.folder + "/" + id + ".pdf").c_str(), F_OK) != 0 &&
        ::access((options_.folder + "/" + id + ".zvr").c_str(), F_OK) != 0)
      continue;
    process::StartOptions o;
    o.argv = {options_.feeder,
              "--job",
              job,
              "--memory-mb",
              std::to_string(options_.memory_mb),
              "--seconds",
              std::to_string(options_.seconds)};
    if (!options_.capture_folder.empty()) captures_before_ = CaptureNames(options_.capture_folder);
    auto p = process::Start(o);
    running_id_ = id;
    if (!p.ok()) {
      running_.emplace();
      Finish(false, "the feeder could not be started: " + p.status().ToString());
      continue;
    }
    running_ = std::move(*p);
    started_ = now;
    return;
  }
}

}  // namespace zv::capture
