// Checking a request: one whose answer cannot be written, whose file or job file is not its
// writer's, or whose writer may not ask for its account is set aside into "Rejected"; the
// others pass the request checks (completeness, user, printer, quota) on to opening or to
// the answer of their refusal.
#include "engine/hevrasto/phase_obj.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "engine/core/account_owner.h"
#include "engine/core/answer.h"
#include "engine/core/request_check.h"
#include "engine/hevrasto/phase_common.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"

namespace zv::engine {

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

void CPhaseObj::CheckRequest(const EngineSettings& s) {
  RequestCheck check(s, probe_);
  if (request_rows_) check.UseRequestRows(*request_rows_);
  CheckStep r = check.Run(request_, result_);
  user_ = check.user();
  printer_ = check.printer();
  Reached("checked");
  phase_ = r == CheckStep::kPassed ? WorkerPhase::kOpen : WorkerPhase::kAnswer;
}

}  // namespace zv::engine
