// The worker's frame: its settings, the loop that runs the phases in turn (Run), and what
// every phase uses: the check that a folder is the share's own, setting a request file aside
// into "Rejected", and the steps marked for the benchmark and the tests.
#include "engine/hevrasto/phase_obj.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <set>

#include "engine/core/clock.h"
#include "engine/core/event_writer.h"
#include "engine/core/settings_store.h"
#include "engine/hevrasto/phase_common.h"
#include "engine/rules/event_table.h"
#include "platform/fs/files.h"
#include "platform/fs/watch.h"

namespace zv::engine {
using phase_internal::Event;

namespace phase_internal {

void Event(int number, const std::string& extra, int code) {
  (void)WriteEventLog(kEngineEventSource, number, &extra, &code);
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) {
    if (!s.empty()) s += "\r\n";
    s += l;
  }
  return s;
}

}  // namespace phase_internal

namespace {
constexpr char kRejectedFolder[] = "Rejected";
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

void CPhaseObj::Reached(const char* step) {
  PhaseStamp(step, slot_base_);
  HoldPoint(step);
  CrashPoint(step);
}

// Drops what the worker held of the request in hand (its sections, result, user, rows and
// printer), so that the next request starts from nothing.
void CPhaseObj::ForgetRequestInHand() {
  request_.Init();
  result_.Init();
  user_ = UserRecord{};
  user_row_.reset();
  request_rows_.reset();
  printer_ = PrinterRecord{};
  answered_ = false;
}

}  // namespace zv::engine
