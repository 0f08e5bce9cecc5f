// Answering: the answer and its copy are staged in the result folder, the request is marked
// as answered, and the staged files are put in place (kept and written later when the
// result folder fails). The marks of a request ("orderNN.taken", "orderNN.answered") are
// read, written and cleared here.
#include "engine/hevrasto/phase_obj.h"

#include <sys/stat.h>
#include <unistd.h>

#include "engine/core/answer.h"
#include "engine/hevrasto/phase_common.h"
#include "engine/rules/event_table.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"

namespace zv::engine {
using phase_internal::Event;

namespace {
// The quota notice goes out for a request that printed or that a page limit refused: the
// only outcomes that say something about the user's quota.
bool MailsQuotaNotice(int32_t code) {
  return code == kResultPrinted || code == kResultMonoLimit || code == kResultColorLimit;
}
}  // namespace

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

}  // namespace zv::engine
