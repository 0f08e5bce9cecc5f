// Cleaning up: the job file and then the request of an answered request are deleted and its
// marks removed (one that cannot be answered is set aside with its job); the sweeps remove
// job files nobody names, answer copies nobody took and what an engine stopped before it
// could remove.
#include "engine/hevrasto/phase_obj.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

#include "engine/hevrasto/phase_common.h"
#include "engine/hevrasto/result_sweep.h"
#include "engine/rules/event_table.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"

namespace zv::engine {
using phase_internal::Event;

bool SameJobFile(const std::string& path, const JobFileId& id) {
  if (id.ino == 0) return false;
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == id.dev && st.st_ino == id.ino;
}

Status CPhaseObj::DeleteWithRetries(const std::string& path) {
  // Six tries 100 ms apart, kept on purpose: where a file still open elsewhere cannot be
  // deleted (the Windows rule, which a share served to Windows clients may apply), it is
  // usually let go within that time; more would hold up the next request.
  int error = 0;
  for (int attempt = 0; attempt < 6; ++attempt) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) return Status::Ok();
    error = errno;
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return Status::IOError(fs::ErrnoText("unlink " + path, error));
}

void CPhaseObj::SweepJobFiles(const EngineSettings& s, std::chrono::system_clock::time_point now) {
  if (!CheckOwnFolder(s.JobsPath, s.ShareRoot).ok() || folder_.empty()) return;
  auto scan = ScanRequestFolder(folder_);
  if (!scan.ok()) return;
  // A request that cannot be read now keeps every job: nothing is removed this time.
  auto waiting = WaitingJobNames(folder_, *scan);
  if (!waiting.ok()) return;
  const std::set<std::string>& named = *waiting;
  int dir = ::open(s.JobsPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return;
  std::vector<JobFileAge> files;
  if (DIR* d = ::fdopendir(::dup(dir))) {
    while (dirent* e = ::readdir(d)) {
      struct stat st {};
      if (::fstatat(dir, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
      files.push_back(JobFileAge{e->d_name, std::chrono::system_clock::from_time_t(st.st_mtime)});
    }
    ::closedir(d);
  }
  int removed = 0;
  for (const std::string& name : StaleJobFiles(files, named, now, std::chrono::hours(24)))
    removed += ::unlinkat(dir, name.c_str(), 0) == 0;
  ::close(dir);
  if (removed > 0)
    Event(kEvWorkerError,
          "[" + s.JobsPath + "] " + std::to_string(removed) + " job file(s) that no request named for a day removed");
}

void CPhaseObj::SweepResultFolder(const EngineSettings& s, std::chrono::system_clock::time_point now) {
  if (!CheckOwnFolder(s.ResultPath, s.ShareRoot).ok()) return;
  const int removed = SweepAnswerCopies(s.ResultPath, now);
  if (removed > 0)
    Event(kEvWorkerError,
          "[" + s.ResultPath + "] " + std::to_string(removed) + " answer copies that no reader took for a day removed");
}

void CPhaseObj::SweepLeftoversOnce() {
  EngineSettings s = settings();
  const std::string jobs = CheckOwnFolder(s.JobsPath, s.ShareRoot).ok() ? s.JobsPath : std::string();
  auto swept = SweepLeftovers(folder_, jobs, [this](const RequestMark& mark) {
    bool known = true;
    SettleHeldJob(mark, &known);
  });
  if (!swept.ok()) return;  // the folder is judged again at the next look
  leftovers_swept_ = true;
  if (!swept->jobs.empty()) {
    std::string names;
    for (const std::string& n : swept->jobs) names += (names.empty() ? "" : ", ") + n;
    Event(kEvWorkerError,
          "[" + s.JobsPath + "] job file(s) of requests answered or gone before the last stop removed: " + names);
  }
}

void CPhaseObj::PhaseCleanUp() {
  bool keep_answered_mark = false;
  if (!slot_path_.empty()) {
    if (answered_) {
      // The job file goes before the request: an engine that stops in between finds the
      // answered request at its next start and cleans up after it, whereas a job file whose
      // request is gone would be named by nothing and stay.
      EngineSettings s = settings();
      auto job = paths::JoinInside(s.JobsPath, request_.JobFileName);
      Status jobs_folder = CheckOwnFolder(s.JobsPath, s.ShareRoot);
      if (!jobs_folder.ok()) {
        Event(kEvWorkerError, "[" + request_.JobFileName + "] not deleted: " + jobs_folder.ToString());
      } else if (job.ok() && !request_.JobFileName.empty()) {
        // A job file that stays is only litter: its request is answered. With the owner
        // check on, only the very file that was checked is deleted.
        if (!s.CheckRequestOwner || SameJobFile(*job, job_id_)) (void)DeleteWithRetries(*job);
      }
      Reached("job-deleted");
      Status gone = DeleteWithRetries(slot_path_);
      if (!gone.ok()) {
        // An answered request that stays in its slot would be printed and answered again
        // and again: it is passed over from now on, and its answered mark is kept so that
        // it is not served after a restart either.
        std::string name = fsys::path(slot_path_).filename().string();
        ignored_.insert(name);
        keep_answered_mark = true;
        Event(kEvWorkerError, "[" + name + "] answered but not removed: " + gone.ToString());
      }
      Reached("cleaning");
    } else {
      // No answer could be written: the request is kept aside, with its job file.
      MoveAside(fsys::path(slot_path_).filename().string(), "the answer could not be written");
    }
    // The marks go last: an engine that stops before this point, or a mark that will not
    // go, leaves them beside a request that is gone, and a later scan clears them (its
    // held rows already charged or dropped, nothing is settled twice).
    (void)DeleteWithRetries(folder_ + "/" + slot_base_ + kTakenSuffix);
    if (!keep_answered_mark) (void)DeleteWithRetries(folder_ + "/" + slot_base_ + kAnsweredSuffix);
  }
  Reached("cleaned");
  slot_base_.clear();
  slot_path_.clear();
  CRequestResult scratch;
  frame_.OpenJob("", scratch);
  ForgetRequestInHand();
  identity_.clear();
  taken_ = RequestMark{};
  phase_ = WorkerPhase::kTake;
}

}  // namespace zv::engine
