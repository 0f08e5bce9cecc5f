// Waiting: the worker watches the request folder (backed by a periodic rescan) until a
// request is there, and meanwhile stores kept print-log rows, delivers kept answers and
// runs the sweeps when they are due.
#include "engine/hevrasto/phase_obj.h"

#include <chrono>

#include "engine/core/answer.h"
#include "engine/core/pending_log.h"
#include "engine/hevrasto/phase_common.h"
#include "engine/rules/event_table.h"
#include "platform/fs/watch.h"

namespace zv::engine {
using phase_internal::Event;
using phase_internal::JoinLines;

void CPhaseObj::PhaseWait() {
  {
    // The request folder holds the marks and "Rejected": it must be a folder of the share.
    EngineSettings s = settings();
    Status own = CheckOwnFolder(folder_, s.ShareRoot);
    if (!own.ok() && !folder_.empty() && fsys::exists(folder_)) {
      if (!folder_failing_) Event(kEvWorkerError, "[" + folder_ + "] " + own.ToString());
      folder_failing_ = true;
      watching_ = false;
      if (!ReloadSettings()) {
        stop_.Wait(options_.settings_retry_ms);
        return;
      }
      stop_.Wait(options_.rescan_ms);
      return;
    }
    folder_failing_ = false;
  }
  if (!watching_ || watch_.folder() != folder_) {
    auto w = fs::FolderWatch::Start(folder_);
    if (!w.ok()) {
      // No folder to watch (yet): look again after the rescan pause.
      if (!ReloadSettings() || folder_.empty()) {
        stop_.Wait(options_.settings_retry_ms);
        return;
      }
      w = fs::FolderWatch::Start(folder_);
      if (!w.ok()) {
        if (!watch_failing_) Event(kEvWorkerError, "[" + folder_ + "] " + w.status().ToString());
        watch_failing_ = true;
        stop_.Wait(options_.rescan_ms);
        return;
      }
    }
    watch_ = std::move(*w);
    watching_ = true;
    watch_failing_ = false;
  }
  // The watch is armed: whatever arrives from now on wakes the wait below.
  // Kept print-log rows are stored before the next print's rows in any case; while idle they
  // are tried now and then only, so that a database that refuses them is not pressed.
  auto now = std::chrono::steady_clock::now();
  const auto retry = std::chrono::milliseconds(options_.pending_retry_ms);
  if (pending_tried_.Due(now, retry) && HasPendingRows()) {
    pending_tried_.Ran(now);
    EngineSettings s = settings();
    CZvmDatbase db(s.DSN, s.UID, s.PWD);
    std::vector<std::string> dropped;
    StorePendingRows(db, nullptr, &dropped);
    if (!dropped.empty())
      Event(kEvDatabaseError, "kept print-log rows of a user who is gone were dropped:\n" + JoinLines(dropped));
  }
  if (kept_tried_.Due(now, retry) && HasKeptResults()) {
    kept_tried_.Ran(now);
    EngineSettings s = settings();
    if (CheckOwnFolder(s.ResultPath, s.ShareRoot).ok()) DeliverKeptResults(s.ResultPath);
  }
  if (swept_.Take(now, std::chrono::milliseconds(options_.job_sweep_ms))) {
    SweepJobFiles(settings(), std::chrono::system_clock::now());
    SweepResultFolder(settings(), std::chrono::system_clock::now());
  }
  if (!leftovers_swept_) SweepLeftoversOnce();
  auto scan = ScanRequestFolder(folder_);
  int wait_ms = options_.rescan_ms;
  if (scan.ok()) {
    TidyScan(&*scan);
    wait_ms = PassOverClaims(&*scan, wait_ms);
    wait_ms = answer_holds_.PassOver(scan->present, wait_ms, std::chrono::system_clock::now());
  }
  if (scan.ok() && scan->any()) {
    Reached("woke");
    if (ReloadSettings()) {
      phase_ = WorkerPhase::kTake;
    } else {
      stop_.Wait(options_.settings_retry_ms);
    }
    return;
  }
  auto r = watch_.Wait(&stop_, wait_ms);
  if (!r.ok()) {
    watching_ = false;
    stop_.Wait(options_.rescan_ms);
  }
}

}  // namespace zv::engine
