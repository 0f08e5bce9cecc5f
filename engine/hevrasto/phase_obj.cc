#include "engine/hevrasto/phase_obj.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "engine/core/account_owner.h"
#include "engine/core/answer.h"
#include "engine/core/clock.h"
#include "engine/core/event_writer.h"
#include "engine/core/pending_log.h"
#include "engine/core/request_check.h"
#include "engine/core/settings_store.h"
#include "engine/hevrasto/engine_doc.h"
#include "engine/hevrasto/print_records.h"
#include "engine/hevrasto/request_slots.h"
#include "engine/hevrasto/result_sweep.h"
#include "engine/rules/event_table.h"
#include "platform/fs/files.h"
#include "platform/fs/watch.h"
#include "platform/paths/paths.h"
#include "printing/print_job.h"
#include "printing/print_rules.h"

namespace zv::engine {
namespace fsys = std::filesystem;

namespace {
constexpr char kRejectedFolder[] = "Rejected";

// A job the spooler holds or has printed: it reached the printer and is charged. One in
// error counts while it stays in the queue; one the spooler gave up (aborted) does not.
bool ReachedPrinter(const spool::JobInfo& job) {
  switch (job.state) {
    case spool::JobState::kQueued:
    case spool::JobState::kPrinting:
    case spool::JobState::kPaused:
    case spool::JobState::kOffline:
    case spool::JobState::kCompleted:
      return true;
    case spool::JobState::kError:
      return (job.status & spool::JOB_STATUS_DELETED) == 0;
    default:
      return false;
  }
}

// A failed event write must not change what the engine does; the event log reports its
// own trouble.
void Event(int number, const std::string& extra, int code = 0) {
  (void)WriteEventLog(kEngineEventSource, number, &extra, &code);
}

// The quota notice goes out for a request that printed or that a page limit refused: the
// only outcomes that say something about the user's quota.
bool MailsQuotaNotice(int32_t code) {
  return code == kResultPrinted || code == kResultMonoLimit || code == kResultColorLimit;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) {
    if (!s.empty()) s += "\r\n";
    s += l;
  }
  return s;
}
}  // namespace

namespace {
// A folder found inside its share, by the files its path, its parent's and the share's
// path led to then.
struct FolderInShare {
  std::string folder, share;
  dev_t dev[3];
  ino_t ino[3];  // the folder, its parent, the share
};
std::mutex verified_mutex;
std::vector<FolderInShare> verified;  // a few folders: the share's own
// Folders one level below a share ("<folder>\n<share>") found inside it since the watch on the
// share's own entries was armed: while it sees none of them made, removed or renamed and the
// share itself not moved away, each is still the folder found there, with no call at all.
fs::FolderChanges share_changes;
std::set<std::string> vouched;

Status CheckOwnFolderByPath(const std::string& folder, const std::string& share);

// True when `folder` names an entry of `share` itself.
bool DirectlyBelow(const std::string& folder, const std::string& share) {
  std::string s = share;
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return folder.size() > s.size() + 1 && folder.compare(0, s.size(), s) == 0 && folder[s.size()] == '/' &&
         folder.find('/', s.size() + 1) == std::string::npos;
}
}  // namespace

Status CheckOwnFolder(const std::string& folder, const std::string& share) {
  const bool direct = !share.empty() && DirectlyBelow(folder, share);
  const std::string key = folder + "\n" + share;
  if (direct) {
    std::lock_guard<std::mutex> l(verified_mutex);
    // A false arms the watch before the check below, so a change made meanwhile is seen.
    if (share_changes.Unchanged(share)) {
      if (vouched.count(key)) return Status::Ok();
    } else {
      vouched.clear();
    }
  }
  Status checked = CheckOwnFolderByPath(folder, share);
  if (checked.ok() && direct) {
    std::lock_guard<std::mutex> l(verified_mutex);
    vouched.insert(key);
  }
  return checked;
}

namespace {
// CheckOwnFolder by the folder's path, link by link where the stamps kept of it differ.
Status CheckOwnFolderByPath(const std::string& folder, const std::string& share) {
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) return Status::IOError(fs::ErrnoText("lstat " + folder, errno));
  if (S_ISLNK(st.st_mode)) return Status::InvalidArgument(folder + " is a link");
  if (!S_ISDIR(st.st_mode)) return Status::InvalidArgument(folder + " is not a folder");
  if (share.empty()) return Status::Ok();
  // Resolving both paths link by link costs a call per part of each; while the folder, its
  // parent and the share are still the very folders found inside the share before, the
  // folder still lies there (a link put in any part's place leads to another folder).
  struct stat parent {}, root_st {};
  const bool known = ::stat((folder + "/..").c_str(), &parent) == 0 && ::stat(share.c_str(), &root_st) == 0;
  if (known) {
    std::lock_guard<std::mutex> l(verified_mutex);
    for (const FolderInShare& v : verified)
      if (v.folder == folder && v.share == share && v.dev[0] == st.st_dev && v.ino[0] == st.st_ino &&
          v.dev[1] == parent.st_dev && v.ino[1] == parent.st_ino && v.dev[2] == root_st.st_dev &&
          v.ino[2] == root_st.st_ino)
        return Status::Ok();
  }
  std::error_code ec;
  fsys::path real = fsys::canonical(folder, ec);
  if (ec) return Status::IOError(folder + ": " + ec.message());
  fsys::path root = fsys::canonical(share, ec);
  if (ec) return Status::IOError(share + ": " + ec.message());
  auto mismatch = std::mismatch(root.begin(), root.end(), real.begin(), real.end());
  if (mismatch.first != root.end()) return Status::InvalidArgument(folder + " lies outside the share " + share);
  if (known) {
    std::lock_guard<std::mutex> l(verified_mutex);
    std::erase_if(verified, [&](const FolderInShare& v) { return v.folder == folder && v.share == share; });
    if (verified.size() >= 16) verified.erase(verified.begin());
    verified.push_back(FolderInShare{folder,
                                     share,
                                     {st.st_dev, parent.st_dev, root_st.st_dev},
                                     {st.st_ino, parent.st_ino, root_st.st_ino}});
  }
  return Status::Ok();
}

}  // namespace

Status SingleNamedFile(const std::string& folder, const std::string& name) {
  auto path = paths::JoinInside(folder, name);
  if (!path.ok()) return path.status();
  struct stat st {};
  // A file that is missing is the opener's to report.
  if (::lstat(path->c_str(), &st) != 0) return Status::Ok();
  if (S_ISREG(st.st_mode) && st.st_nlink != 1)
    return Status::InvalidArgument(*path + " has " + std::to_string(st.st_nlink) + " names");
  return Status::Ok();
}

bool SameJobFile(const std::string& path, const JobFileId& id) {
  if (id.ino == 0) return false;
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == id.dev && st.st_ino == id.ino;
}

std::vector<std::string> InterruptedPrintLines() {
  return {"前回の印刷中に実行部が停止しました。", "印刷されている可能性があります。プリンタを確認してください。"};
}

CPhaseObj::CPhaseObj(FrameLink& frame, QuotaMailer* mailer, JobQueueProbe* probe, const EngineSettings& settings,
                     Options options)
    : frame_(frame), mailer_(mailer), probe_(probe), options_(options), settings_(settings) {
  request_.Init();
  result_.Init();
}

EngineSettings CPhaseObj::settings() const {
  std::lock_guard<std::mutex> l(settings_mutex_);
  return settings_;
}

int CPhaseObj::Run() {
  running_ = true;
  phase_ = WorkerPhase::kWait;
  {
    std::lock_guard<std::mutex> l(settings_mutex_);
    folder_ = settings_.PrintInfoPath;
  }
  for (;;) {
    WorkerPhase p = phase_.load();
    // A request from printing on is always finished first: its job may already be at the
    // printer, and stopping there would leave it charged but unanswered.
    if (p <= WorkerPhase::kOpen && stop_.IsSet()) break;
    switch (p) {
      case WorkerPhase::kWait:
        PhaseWait();
        break;
      case WorkerPhase::kTake:
        PhaseTake();
        break;
      case WorkerPhase::kOpen:
        PhaseOpen();
        break;
      case WorkerPhase::kPrint:
        PhasePrint();
        break;
      case WorkerPhase::kAnswer:
        PhaseAnswer();
        break;
      case WorkerPhase::kMail:
        PhaseMail();
        break;
      case WorkerPhase::kCleanUp:
        PhaseCleanUp();
        break;
    }
  }
  if (!slot_path_.empty() && phase_.load() == WorkerPhase::kOpen) frame_.OpenJob("", result_);
  watch_ = fs::FolderWatch();
  watching_ = false;
  running_ = false;
  return 0;
}

bool CPhaseObj::ReloadSettings() {
  EngineSettings fresh;
  Status st = LoadSettings(&fresh, TodayDate());
  if (!st.ok()) {
    if (!settings_failing_) Event(kEvRegistryReadFailed, st.message());
    settings_failing_ = true;
    return false;
  }
  settings_failing_ = false;
  // The registry is read outside the lock: the window thread's renewal timer, which reads
  // the settings too, waits only for the copy.
  std::lock_guard<std::mutex> l(settings_mutex_);
  settings_ = fresh;
  folder_ = settings_.PrintInfoPath;
  return true;
}

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

void CPhaseObj::MoveAside(const std::string& name, const std::string& why) {
  // The request folder and its "Rejected" subfolder are opened without following links,
  // so a link put in their place never sends a file out of the share.
  bool moved = false;
  int dir = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir >= 0) {
    // With the owner check on, what was set aside (other users' requests and their keys
    // among them) is root's to read alone.
    const bool private_rejected = settings().CheckRequestOwner != 0;
    if (::mkdirat(dir, kRejectedFolder, private_rejected ? 0700 : 0755) != 0 && errno != EEXIST) {
      // reported below as not moved
    }
    int rejected = ::openat(dir, kRejectedFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (rejected >= 0) {
      struct stat folder {};
      if (private_rejected && ::fstat(rejected, &folder) == 0 && folder.st_uid == ::geteuid() &&
          (folder.st_mode & 0077) != 0)
        (void)::fchmod(rejected, folder.st_mode & 07700);
      std::string target = name;
      struct stat st {};
      // A name already there gets a number; past a thousand the last is replaced rather
      // than the search going on.
      for (int n = 1; ::fstatat(rejected, target.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && n < 1000; ++n)
        target = name + "." + std::to_string(n);
      moved = ::renameat(dir, name.c_str(), rejected, target.c_str()) == 0;
      ::close(rejected);
    }
    ::close(dir);
  }
  if (!moved) {
    // Cannot be moved: left where it is and passed over from now on, so that it is not
    // met again and again.
    ignored_.insert(name);
  }
  Event(kEvBadRequest, "[" + name + "] " + why + (moved ? " -> " + std::string(kRejectedFolder) + "/" : ""));
}

void CPhaseObj::DropIgnored(RequestFolderScan* scan) {
  if (ignored_.empty()) return;
  std::set<std::string> still;
  std::vector<std::string> strays;
  for (auto& n : scan->strays) {
    if (ignored_.count(n)) {
      still.insert(n);
    } else {
      strays.push_back(n);
    }
  }
  scan->strays = std::move(strays);
  for (int i = 0; i < kSlotCount; ++i) {
    if (scan->present[i] && ignored_.count(SlotFileName(i))) {
      scan->present[i] = false;
      still.insert(SlotFileName(i));
    }
  }
  ignored_ = std::move(still);
}

Status ProbeFolder(const std::string& folder) {
  std::string probe = folder + "/.probe-XXXXXX";
  int fd = ::mkostemp(probe.data(), O_CLOEXEC);
  if (fd < 0) return Status::IOError(fs::ErrnoText("create a file in " + folder, errno));
  ::close(fd);
  if (::unlink(probe.c_str()) != 0) return Status::IOError(fs::ErrnoText("unlink " + probe, errno));
  return Status::Ok();
}

bool CPhaseObj::ResultFolderTakesFiles(const EngineSettings& s) {
  // A folder that is no folder of the share is SetAsideUnanswerable's to judge.
  if (!CheckOwnFolder(s.ResultPath, s.ShareRoot).ok()) return true;
  Status probe = ProbeFolder(s.ResultPath);
  if (probe.ok()) {
    result_failing_ = false;
    return true;
  }
  if (!result_failing_)
    Event(kEvWorkerError,
          "[" + s.ResultPath + "] requests wait unprinted until answers can be written: " + probe.ToString());
  result_failing_ = true;
  stop_.Wait(options_.rescan_ms);
  return false;
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
    Event(kEvWorkerError, "[" + s.JobsPath + "] job file(s) of requests answered or gone before the last stop removed: " +
                              names);
  }
}

void CPhaseObj::PhaseTake() {
  EngineSettings s = SettingsForToday();
  if (!ResultFolderTakesFiles(s)) {  // checked again after the rescan pause
    phase_ = WorkerPhase::kWait;
    return;
  }
  int slot = PickNextSlot();
  if (slot < 0) {  // nothing left to take, or the folder failed: back to waiting
    phase_ = WorkerPhase::kWait;
    return;
  }
  if (!ReadSlotRequest(slot)) {  // gone or moved aside: on to the next slot
    phase_ = WorkerPhase::kTake;
    return;
  }
  // A request an engine stopped serving passed the checks then: its job file is only
  // identified, so that the clean-up deletes that file alone.
  job_id_ = JobFileId{};
  if (s.CheckRequestOwner && picked_marked_)
    (void)CheckJobFile(s.JobsPath, request_.JobFileName, request_owner_, &job_id_);
  if (ResumeInterrupted(s)) return;
  if (HoldForAwaitedCopy(s, slot)) {
    phase_ = WorkerPhase::kTake;
    return;
  }
  if (SetAsideUnanswerable(s) || SetAsideForeign(s) || SetAsideUnknownAccount(s) || SetAsideForeignJob(s) ||
      SetAsideAnswerNameTaken(s)) {
    phase_ = WorkerPhase::kTake;
    return;
  }
  ForgetEarlierRequests();
  CheckRequest(s);
}

bool CPhaseObj::HoldForAwaitedCopy(const EngineSettings& s, int slot) {
  auto copy = MonitorCopyName(slot_base_, request_.AccountName, request_.MachineName);
  const std::optional<fs::Ownership> owner = AccountFilesOwner(s, request_.AccountName);
  if (!copy.ok() || !answer_holds_.Hold(slot, slot_path_, s.ResultPath + "/" + *copy, request_.RequestID,
                                        owner ? owner->uid : 0, std::chrono::system_clock::now()))
    return false;
  Event(kEvWorkerError, "[" + slot_base_ + "] held: its answer would replace " + *copy +
                            ", another request's answer not taken yet (served once it is taken, or " +
                            std::to_string(share::kAwaitedCopyHoldMs / 1000) + " s after it was written)");
  slot_path_.clear();
  slot_base_.clear();
  identity_.clear();
  return true;
}

bool CPhaseObj::SetAsideUnanswerable(const EngineSettings& s) {
  // A request whose answer the result folder would refuse is not served at all: printed and
  // charged without an answer, it would be printed (and charged) again by a user left
  // waiting. The answer makes the same check before it writes; a folder that fails only
  // after this point keeps the answer until it works again.
  Status folder = CheckOwnFolder(s.ResultPath, s.ShareRoot);
  if (folder.ok()) return false;
  SetAside("the answer cannot be written: " + folder.ToString());
  return true;
}

bool CPhaseObj::SetAsideForeign(const EngineSettings& s) {
  // A second name for a request file means someone linked a file that is not theirs (or
  // not a request) into a slot: a request the client places never has one.
  if (s.CheckRequestOwner && request_links_ != 1) {
    SetAside("the request file has " + std::to_string(request_links_) + " names (written by " +
             OwnerName(request_owner_) + ")");
    return true;
  }
  // The database row the request will be charged to decides who may ask for it. A request
  // for no user, or one the database cannot look up now, is answered by the check.
  CZvmDatbase db(s.DSN, s.UID, s.PWD);
  RequestRows rows;
  if (!db.GetRequestRows(request_.AccountName, request_.DeviceName, &rows)) return false;
  // The same rows serve the check and the charge of this request: looked up once.
  request_rows_ = rows;
  if (!rows.user_found) return false;
  user_row_ = rows.user;
  Status owner = DecideRequestOwner(s, request_.AccountName, rows.user.Account, request_owner_);
  if (owner.ok()) return false;
  SetAside(owner.message());
  return true;
}

bool CPhaseObj::SetAsideUnknownAccount(const EngineSettings& s) {
  if (!s.CheckRequestOwner || request_owner_ == 0) return false;
  auto known = FindMachineAccount(request_.AccountName);
  if (known.ok() || known.status().code() != Status::Code::kNotFound) return false;
  SetAside("written by " + OwnerName(request_owner_) + " for the account " + request_.AccountName +
           " (no user of this machine: only root may ask for it, and no answer is written for it)");
  return true;
}

bool CPhaseObj::SetAsideAnswerNameTaken(const EngineSettings& s) {
  auto answer = AnswerFileName(request_.AccountName, request_.MachineName);
  auto copy = MonitorCopyName(slot_base_, request_.AccountName, request_.MachineName);
  if (!answer.ok() || !copy.ok()) return false;  // the check refuses such names
  // The owner the answer will be handed to, as the answer itself finds it.
  const std::optional<fs::Ownership> owner = AccountFilesOwner(s, request_.AccountName);
  const uid_t to = owner ? owner->uid : 0;
  for (const std::string& name : {*answer, *copy}) {
    auto path = paths::JoinInside(s.ResultPath, name);
    if (!path.ok()) continue;
    Status theirs = CheckAnswerNameOwner(*path, to);
    if (theirs.ok()) continue;
    SetAside("the request of " + OwnerName(request_owner_) + " for the account " + request_.AccountName +
             " is not served: " + theirs.message());
    return true;
  }
  return false;
}

Status CheckJobFile(const std::string& folder, const std::string& name, uint32_t request_owner, JobFileId* id) {
  auto path = paths::JoinInside(folder, name);
  if (!path.ok()) return Status::Ok();  // not a plain name: the check refuses the request
  int fd = ::open(path->c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  // A missing job, or a link in its name, is the opener's to refuse (and answer): the
  // opener never follows a link.
  if (fd < 0) return Status::Ok();
  struct stat st {};
  const bool stated = ::fstat(fd, &st) == 0;
  ::close(fd);
  if (!stated) return Status::IOError(fs::ErrnoText("fstat " + *path, errno));
  if (request_owner != 0 && st.st_uid != request_owner)
    return Status::InvalidArgument(*path + " belongs to " + OwnerName(st.st_uid) + ", the request to " +
                                   OwnerName(request_owner));
  // The writer's own file that is no plain file (a FIFO, a second name) is refused by the
  // opener and answered; only a plain one is identified, and so ever deleted.
  if (S_ISREG(st.st_mode) && st.st_nlink == 1 && id) *id = JobFileId{st.st_dev, st.st_ino};
  return Status::Ok();
}

bool CPhaseObj::SetAsideForeignJob(const EngineSettings& s) {
  job_id_ = JobFileId{};
  if (!s.CheckRequestOwner) return false;
  // Only a job file of the request's own writer is read, and later deleted: another user's
  // job named in a request is left where it is, untouched.
  Status job = CheckJobFile(s.JobsPath, request_.JobFileName, request_owner_, &job_id_);
  if (job.ok()) return false;
  SetAside("job file " + request_.JobFileName + " not taken: " + job.message());
  return true;
}

void CPhaseObj::SetAside(const std::string& why) {
  MoveAside(fsys::path(slot_path_).filename().string(), why);
  slot_path_.clear();
  slot_base_.clear();
  identity_.clear();
}

EngineSettings CPhaseObj::SettingsForToday() {
  {
    // Under the lock: the roll-on moves the end of the period in the settings the window
    // thread reads, and no reader may see the old end once the registry has the new one.
    std::lock_guard<std::mutex> l(settings_mutex_);
    Status rolled = RollOnLimitDate(&settings_, TodayDate());
    if (!rolled.ok()) Event(kEvRegistryWriteFailed, rolled.message());
  }
  // Taken after the roll-on: the request is checked against the period that holds today.
  return settings();
}

void CPhaseObj::TidyScan(RequestFolderScan* scan) {
  // Marks whose request is gone (an engine stopped while cleaning up) are cleared.
  for (int i = 0; i < kSlotCount; ++i)
    if (scan->marked[i] && !scan->present[i]) ClearMarks(SlotBaseName(i));
  DropIgnored(scan);
}

int CPhaseObj::PickNextSlot() {
  // The lock of "Sequence.seq" only keeps the engine and the clients in step; every member
  // may take it, so the engine tries for it a short while and goes on without it (a slot is
  // always a whole request: clients rename complete files into place).
  auto seq = SequenceFile::Lock(folder_, &stop_, options_.sequence_lock_ms);
  if (!seq.ok() && seq.status().code() == Status::Code::kTimeout) {
    NoteSequenceHeld();
    seq = SequenceFile::OpenOwn(folder_);
  } else if (seq.ok()) {
    sequence_held_since_.reset();
  }
  if (!seq.ok()) {
    // Busy: Stop was asked for while waiting for the lock; no error to report then.
    if (seq.status().code() != Status::Code::kBusy) {
      Event(kEvWorkerError, "[Sequence.seq] " + seq.status().ToString());
      stop_.Wait(options_.rescan_ms);
    }
    return -1;
  }
  Reached("locked");
  auto start = seq->ReadStart();
  auto scan = ScanRequestFolder(folder_);
  if (!start.ok() || !scan.ok()) {
    seq->Close();
    Event(kEvWorkerError, start.ok() ? scan.status().ToString() : start.status().ToString());
    stop_.Wait(options_.rescan_ms);
    return -1;
  }
  TidyScan(&*scan);
  for (const std::string& stray : scan->strays) MoveAside(stray, "not a request slot");
  // A claim still being written is passed over: the next whole request in ring order is
  // taken, and the claim is looked at again when it changes.
  std::array<bool, kSlotCount> whole = scan->present;
  (void)answer_holds_.PassOver(whole, 0, std::chrono::system_clock::now());
  int slot = -1;
  for (int candidate; (candidate = PickSlot(whole, *start)) >= 0; whole[candidate] = false) {
    if (SlotRequestWhole(candidate)) {
      slot = candidate;
      break;
    }
  }
  picked_marked_ = slot < 0 || scan->marked[slot];
  // A start number that cannot be written back costs nothing but order: the next pick
  // starts at this slot again and goes on from there in ring order.
  if (slot >= 0) (void)seq->WriteNext(slot);
  seq->Close();
  return slot;
}

namespace {
int64_t MtimeNs(const struct stat& st) { return int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec; }
}  // namespace

bool CPhaseObj::SlotRequestWhole(int slot) {
  const std::string name = SlotFileName(slot);
  struct stat st {};
  auto text = fs::ReadFile(folder_ + "/" + name, kMaxRequestFileBytes, &st);
  if (!text.ok() || share::ClassifyRequestText(*text) == share::RequestTextState::kWhole) {
    partial_.erase(slot);
    return true;
  }
  const auto now = std::chrono::steady_clock::now();
  auto it = partial_.find(slot);
  if (it == partial_.end() || it->second.ino != st.st_ino || it->second.size != st.st_size ||
      it->second.mtime_ns != MtimeNs(st)) {
    partial_[slot] = PartialClaim{st.st_ino, st.st_size, MtimeNs(st), now};
    return false;
  }
  if (now - it->second.since < std::chrono::milliseconds(options_.claim_abandon_ms)) return false;
  partial_.erase(it);
  MoveAside(name, "a claimed request slot was not written whole within " +
                      std::to_string(options_.claim_abandon_ms / 1000) + " s (" + std::to_string(st.st_size) +
                      " bytes, written by " + OwnerName(st.st_uid) + "): abandoned");
  return false;
}

int CPhaseObj::PassOverClaims(RequestFolderScan* scan, int limit_ms) {
  const auto now = std::chrono::steady_clock::now();
  int wait_ms = limit_ms;
  for (auto it = partial_.begin(); it != partial_.end();) {
    const int slot = it->first;
    struct stat st {};
    if (!scan->present[slot] || ::lstat((folder_ + "/" + SlotFileName(slot)).c_str(), &st) != 0) {
      it = partial_.erase(it);
      continue;
    }
    const bool unchanged =
        st.st_ino == it->second.ino && st.st_size == it->second.size && MtimeNs(st) == it->second.mtime_ns;
    const auto due = it->second.since + std::chrono::milliseconds(options_.claim_abandon_ms);
    if (unchanged && now < due) {
      scan->present[slot] = false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count() + 1;
      if (left < wait_ms) wait_ms = static_cast<int>(left);
    }
    ++it;
  }
  return wait_ms;
}

void CPhaseObj::NoteSequenceHeld() {
  const auto now = std::chrono::steady_clock::now();
  if (!sequence_held_since_) {
    sequence_held_since_ = now;
    sequence_held_reported_ = false;
    return;
  }
  if (sequence_held_reported_ || now - *sequence_held_since_ < std::chrono::milliseconds(options_.sequence_held_ms))
    return;
  sequence_held_reported_ = true;
  Event(kEvWorkerError, "[Sequence.seq] " + DescribeLockHolders(folder_ + "/" + kSequenceFileName) +
                            ": the lock was held for over " + std::to_string(options_.sequence_held_ms / 1000) +
                            " s (requests are taken without it)");
}

std::string DescribeLockHolders(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "held by an unknown process";
  auto locks = fs::ReadFile("/proc/locks", 16u << 20);
  // /proc files report a size of 0: ReadFile reads them whole all the same.
  if (!locks.ok()) return "held by an unknown process (" + locks.status().ToString() + ")";
  std::string out;
  for (const LockHolder& h : ParseLockHolders(*locks, major(st.st_dev), minor(st.st_dev), st.st_ino)) {
    struct stat proc {};
    std::string user = "an unknown user";
    if (::stat(("/proc/" + std::to_string(h.pid)).c_str(), &proc) == 0) user = OwnerName(proc.st_uid);
    std::string comm;
    if (auto c = fs::ReadFile("/proc/" + std::to_string(h.pid) + "/comm", 256); c.ok()) {
      comm = *c;
      while (!comm.empty() && (comm.back() == '\n' || comm.back() == '\r')) comm.pop_back();
    }
    if (!out.empty()) out += ", ";
    out += "process " + std::to_string(h.pid) + (comm.empty() ? "" : " (" + comm + ")") + " of " + user + " (" +
           h.kind + ")";
  }
  return out.empty() ? "held by an unknown process" : "held by " + out;
}

bool CPhaseObj::ReadSlotRequest(int slot) {
  slot_base_ = SlotBaseName(slot);
  slot_path_ = folder_ + "/" + SlotFileName(slot);
  request_.Init();
  result_.Init();
  user_ = UserRecord{};
  user_row_.reset();
  request_rows_.reset();
  printer_ = PrinterRecord{};
  answered_ = false;

  std::error_code gone;
  if (!fsys::exists(slot_path_, gone)) {  // taken away meanwhile: nothing to serve
    slot_path_.clear();
    return false;
  }
  request_owner_ = 0;
  request_links_ = 1;
  Status read =
      request_.ReadTopRequest(slot_path_, options_.read_attempts, std::chrono::milliseconds(options_.read_retry_ms),
                              &request_owner_, &request_links_);
  if (!read.ok()) {
    std::error_code ec;
    if (fsys::exists(slot_path_, ec)) {
      MoveAside(SlotFileName(slot), "unreadable request: " + read.ToString());
    }
    slot_path_.clear();
    return false;
  }
  auto identity = RequestIdentity(slot_path_);
  identity_ = identity.ok() ? *identity : std::string();
  Reached("read");
  return true;
}

bool CPhaseObj::ResumeInterrupted(const EngineSettings& s) {
  if (!picked_marked_) return false;
  // Marks of this very request were left by an engine that stopped while serving it.
  auto answered = ReadMark(slot_base_ + kAnsweredSuffix);
  if (answered.ok() && answered->request == identity_) {
    // Answered before the stop: the staged answer is put in place, nothing new is written.
    PublishMarkedAnswer(*answered);
    answered_ = true;
    phase_ = WorkerPhase::kCleanUp;
    return true;
  }
  auto taken = ReadMark(slot_base_ + kTakenSuffix);
  if (taken.ok() && taken->request == identity_) {
    RecoverTaken(*taken, s);
    return true;
  }
  return false;
}

void CPhaseObj::ForgetEarlierRequests() {
  // Marks of an earlier request in this slot are cleared.
  if (picked_marked_) ClearMarks(slot_base_);
  // A newer request of the same account and machine was taken: its answer (of the same
  // name) replaces a kept one.
  if (auto answer_name = AnswerFileName(request_.AccountName, request_.MachineName); answer_name.ok()) {
    if (int dropped = DropKeptResults(*answer_name); dropped > 0)
      Event(kEvWorkerError, "[" + *answer_name + "] " + std::to_string(dropped) +
                                " kept answer(s) dropped: a newer request of the same account and machine was taken");
  }
}

void CPhaseObj::CheckRequest(const EngineSettings& s) {
  RequestCheck check(s, probe_);
  if (request_rows_) check.UseRequestRows(*request_rows_);
  CheckStep r = check.Run(request_, result_);
  user_ = check.user();
  printer_ = check.printer();
  Reached("checked");
  phase_ = r == CheckStep::kPassed ? WorkerPhase::kOpen : WorkerPhase::kAnswer;
}

bool CPhaseObj::AlignPagesWithDocument() {
  int pages = frame_.OpenPages();
  if (pages <= 0) return false;
  bool changed = false;
  int64_t claimed = request_.TotalJobPages();
  if (claimed != pages) {
    // The document decides: the jobs' counts are made to add up to its pages, the last
    // jobs giving up or taking the difference.
    if (request_.Jobs.empty()) request_.Jobs.push_back(RequestJob{request_.JobFileName, 0});
    int64_t diff = pages - claimed;
    for (size_t i = request_.Jobs.size(); i-- > 0 && diff != 0;) {
      int64_t v = request_.Jobs[i].pages + diff;
      if (v < 0 && i > 0) {
        diff = v;
        request_.Jobs[i].pages = 0;
      } else {
        request_.Jobs[i].pages = static_cast<int32_t>(std::max<int64_t>(v, 0));
        diff = 0;
      }
    }
    changed = true;
  }
  if (request_.LastPage > pages) {
    request_.LastPage = pages;
    changed = true;
  }
  if (request_.FirstPage > pages) {
    request_.FirstPage = pages;
    changed = true;
  }
  return changed;
}

void CPhaseObj::PhaseOpen() {
  // Jobs are read (and deleted after the answer) only in a jobs folder of the share itself.
  EngineSettings folders = settings();
  Status jobs_folder = CheckOwnFolder(folders.JobsPath, folders.ShareRoot);
  int rc = kResultJobNotOpened;
  // The client writes each job file itself, exclusively: a second name for it (a hard link
  // to a file outside the share, say) means it is not the client's, and it is not printed.
  Status single = jobs_folder.ok() ? SingleNamedFile(folders.JobsPath, request_.JobFileName) : Status::Ok();
  if (jobs_folder.ok() && !single.ok()) {
    Event(kEvWorkerError, "[" + request_.JobFileName + "] " + single.ToString());
  } else if (jobs_folder.ok()) {
    rc = frame_.OpenJob(request_.JobFileName, result_);
  } else {
    Event(kEvWorkerError, "[" + folders.JobsPath + "] " + jobs_folder.ToString());
  }
  if (rc != kJobOpened) {
    if (result_.ResultCode == kResultPrinted) result_.SetResultMessage(kResultJobNotOpened);
    Event(kEvJobOpenFailed, RequestEventText(result_.Messages, request_));
    phase_ = WorkerPhase::kAnswer;
    return;
  }
  Reached("opened");
  // The quota counts the pages that will print, not only those the client named.
  if (AlignPagesWithDocument()) {
    EngineSettings s = settings();
    RequestCheck check(s, probe_);
    if (request_rows_) check.UseRequestRows(*request_rows_);
    CheckStep step = check.Run(request_, result_);
    user_ = check.user();
    printer_ = check.printer();
    if (step != CheckStep::kPassed) {
      phase_ = WorkerPhase::kAnswer;
      return;
    }
  }
  // Marked as taken before anything is printed, with the print-log rows held for the job:
  // an engine that stops from here on settles the job at its next start.
  taken_ = RequestMark{};
  taken_.request = identity_;
  taken_.job_file = request_.JobFileName;
  DateTimeValue when = LocalDateTime(std::chrono::system_clock::now());
  std::vector<PrintLogRecord> planned =
      BuildPrintLogRows(request_, RequestRange(request_, frame_.OpenPages()),
                        printing::LayoutModeFromRequest(request_.ThumbnailCount, request_.Orientation),
                        printing::DecideCopies(request_.Copies), user_.UID, printer_, when.date, when.time);
  if (!planned.empty()) {
    auto held = HoldRows(planned);
    if (held.ok()) {
      taken_.rows = *held;
    } else {
      Event(kEvWorkerError, "[held print-log rows] " + held.status().ToString());
    }
  }
  WriteMark(slot_base_ + kTakenSuffix, taken_);
  Reached("taken");
  phase_ = WorkerPhase::kPrint;
}

void CPhaseObj::PhasePrint() {
  // The job's id goes into the taken mark as soon as the spooler gives it.
  auto started = [this](uint32_t id) {
    taken_.job = id;
    taken_.printer = PrintTarget(request_, printer_);
    WriteMark(slot_base_ + kTakenSuffix, taken_);
    Reached("job-started");
  };
  int rc = frame_.PrintJob(request_, result_, user_, printer_, started);
  Reached("job-submitted");
  if (rc != kResultPrinted) Event(kEvPrintFailed, RequestEventText(result_.Messages, request_));
  std::vector<PrintLogRecord> rows = frame_.TakePrintLog();
  if (!rows.empty()) {
    // The job reached the printer: its rows (with the spooler's time) are charged.
    Status charged = Status::NotFound("no held rows");
    if (!taken_.rows.empty()) {
      // The held rows were planned before the job started; they are replaced only where
      // the print's own rows differ (the spooler's submission time in another second).
      (void)RewriteHeldRows(taken_.rows, rows);
      charged = ChargeHeldRows(taken_.rows);
    }
    if (!charged.ok()) {
      Status kept = SavePendingRows(rows);
      if (!kept.ok()) Event(kEvDatabaseError, kept.ToString());
      if (!taken_.rows.empty()) DropHeldRows(taken_.rows);
    }
    Reached("charged");
    StoreKeptRows();
    Reached("stored");
  } else if (!taken_.rows.empty()) {
    DropHeldRows(taken_.rows);
  }
  taken_.rows.clear();
  phase_ = WorkerPhase::kAnswer;
}

void CPhaseObj::Reached(const char* step) {
  PhaseStamp(step, slot_base_);
  HoldPoint(step);
  CrashPoint(step);
}

void CPhaseObj::StoreKeptRows() {
  EngineSettings s = settings();
  CZvmDatbase db(s.DSN, s.UID, s.PWD);
  std::vector<std::string> errors, dropped;
  StorePendingRows(db, &errors, &dropped, user_row_ ? &*user_row_ : nullptr);
  // The rows stay kept and are stored later; the answer does not change.
  if (!errors.empty()) Event(kEvDatabaseError, JoinLines(errors));
  if (!dropped.empty())
    Event(kEvDatabaseError, "kept print-log rows of a user who is gone were dropped:\n" + JoinLines(dropped));
}

bool CPhaseObj::SettleHeldJob(const RequestMark& mark, bool* known) {
  *known = true;
  bool reached = false;
  if (mark.job != 0 && !mark.printer.empty()) {
    auto job = frame_.QueryJob(mark.printer, mark.job);
    if (job.ok()) {
      reached = ReachedPrinter(*job);
    } else if (job.status().code() != Status::Code::kNotFound) {
      *known = false;
      Event(kEvWorkerError, "[job " + std::to_string(mark.job) + "] " + job.status().ToString());
    }
    // A submission that never completed is taken back.
    if (*known && !reached) (void)frame_.CancelJob(mark.printer, mark.job);
  }
  if (!mark.rows.empty()) {
    if (reached) {
      Status charged = ChargeHeldRows(mark.rows);
      if (!charged.ok() && charged.code() != Status::Code::kNotFound)
        Event(kEvWorkerError, "[held print-log rows] " + charged.ToString());
      StoreKeptRows();
    } else {
      DropHeldRows(mark.rows);
    }
  }
  return reached;
}

void CPhaseObj::RecoverTaken(const RequestMark& mark, const EngineSettings& s) {
  // The first two steps only find the user whose quota the answer shows; the request was
  // checked before it was taken, so what they say of it now is dropped.
  RequestCheck check(s, probe_);
  const auto now = std::chrono::system_clock::now();
  (void)check.RunStep(CheckStage::kCompleteness, request_, result_, now);
  (void)check.RunStep(CheckStage::kUser, request_, result_, now);
  user_ = check.user();
  result_.Init();
  bool known = true;
  bool reached = SettleHeldJob(mark, &known);
  // A job that reached the printer before the engine stopped is charged and answered as
  // printed (the answer adds its completion line, as for any print).
  if (!reached) {
    const std::string printer = mark.printer.empty() ? request_.DeviceName : mark.printer;
    result_.SetResultMessage(kResultPrintFailed, known
                                                     ? std::vector<std::string>{printing::kPrintFailedMessage, printer}
                                                     : InterruptedPrintLines());
    Event(kEvPrintFailed, RequestEventText(result_.Messages, request_));
  }
  phase_ = WorkerPhase::kAnswer;
}

Result<RequestMark> CPhaseObj::ReadMark(const std::string& name) {
  // Marks are the engine's own: one that another member of the share put in the request
  // folder (or a second name of one) is never taken for a request's, or it could make the
  // engine publish that member's file as an answer or settle a job that never printed.
  struct stat st {};
  auto text = fs::ReadTrustedFile(folder_ + "/" + name, kMaxRequestFileBytes, &st);
  if (!text.ok()) return text.status();
  if (st.st_nlink != 1) return Status::InvalidArgument(name + " has more than one name");
  return ParseMark(*text);
}

void CPhaseObj::WriteMark(const std::string& name, const RequestMark& mark) {
  // Marks guard against the engine's own death; a flush to disk each time would cost more
  // than the request itself.
  Status marked = fs::WriteFileAtomic(folder_ + "/" + name, FormatMark(mark), 0644, fs::Durability::kProcessSafe);
  if (!marked.ok()) Event(kEvWorkerError, "[" + name + "] " + marked.ToString());
}

void CPhaseObj::ClearMarks(const std::string& base) {
  auto taken = ReadMark(base + kTakenSuffix);
  if (taken.ok()) {
    // A job of a request that is gone is still charged if it reached the printer.
    bool known = true;
    SettleHeldJob(*taken, &known);
  }
  for (const char* suffix : {kTakenSuffix, kAnsweredSuffix}) {
    std::string path = folder_ + "/" + base + suffix;
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) Event(kEvWorkerError, fs::ErrnoText("unlink " + path, errno));
  }
}

void CPhaseObj::PublishMarkedAnswer(const RequestMark& mark) {
  EngineSettings s = settings();
  StagedAnswer st;
  auto path = paths::JoinInside(s.ResultPath, mark.answer);
  auto copy = paths::JoinInside(s.ResultPath, mark.copy);
  auto tmp = paths::JoinInside(s.ResultPath, StagedName(mark.answer, slot_base_));
  auto copy_tmp = paths::JoinInside(s.ResultPath, StagedName(mark.copy, slot_base_));
  if (!path.ok() || !copy.ok() || !tmp.ok() || !copy_tmp.ok()) {
    Event(kEvWorkerError, "[" + slot_base_ + kAnsweredSuffix + "] names no answer");
    return;
  }
  st.answer_path = *path;
  st.copy_path = *copy;
  st.answer_tmp = *tmp;
  st.copy_tmp = *copy_tmp;
  (void)PublishStaged(st);
}

void CPhaseObj::PhaseAnswer() {
  EngineSettings s = settings();
  // Answers kept while the result folder failed go first, where it works again.
  Status folder = CheckOwnFolder(s.ResultPath, s.ShareRoot);
  if (folder.ok() && HasKeptResults()) DeliverKeptResults(s.ResultPath);
  // Staged first, then marked as answered, then put in place: an engine that stops in
  // between puts the staged files in place at its next start and writes nothing new.
  Result<StagedAnswer> staged = folder;
  if (folder.ok()) staged = StageResult(s, request_, result_, user_, slot_base_, &StagedName);
  answered_ = false;
  RequestMark mark;
  mark.request = identity_;
  mark.job_file = request_.JobFileName;
  if (staged.ok()) {
    Reached("answer-staged");
    mark.answer = staged->answer_name;
    mark.copy = staged->copy_name;
    WriteMark(slot_base_ + kAnsweredSuffix, mark);
    Reached("answer-marked");
    Status put = PublishStaged(*staged);
    answered_ = put.ok();
    if (!put.ok()) {
      ::unlink(staged->answer_tmp.c_str());
      ::unlink(staged->copy_tmp.c_str());
    }
    Reached("answered");
  }
  if (!answered_ && AnswerFileName(request_.AccountName, request_.MachineName).ok() &&
      MonitorCopyName(slot_base_, request_.AccountName, request_.MachineName).ok()) {
    // The result folder cannot be written: the answer is kept and written when it works
    // again, and the request counts as answered.
    Status kept = KeepResult(s, request_, result_, user_, slot_base_);
    if (kept.ok()) {
      WriteMark(slot_base_ + kAnsweredSuffix, mark);
      answered_ = true;
      Event(kEvWorkerError, "[" + slot_base_ + "] answer kept until the result folder can be written: " +
                                (folder.ok() ? staged.status().ToString() : folder.ToString()));
    } else {
      Event(kEvWorkerError, "[" + slot_base_ + "] answer not kept: " + kept.ToString());
    }
  }
  phase_ = (answered_ && MailsQuotaNotice(result_.ResultCode)) ? WorkerPhase::kMail : WorkerPhase::kCleanUp;
}

void CPhaseObj::PhaseMail() {
  if (mailer_) {
    EngineSettings s = settings();
    mailer_->SendQuotaMail(s, result_, request_.AccountName, user_);
  }
  Reached("mailed");
  phase_ = WorkerPhase::kCleanUp;
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
  request_.Init();
  result_.Init();
  user_ = UserRecord{};
  user_row_.reset();
  request_rows_.reset();
  printer_ = PrinterRecord{};
  identity_.clear();
  taken_ = RequestMark{};
  answered_ = false;
  phase_ = WorkerPhase::kTake;
}

}  // namespace zv::engine
