// Opening: the user-interface thread opens the job file as the document; its page count is
// made the request's (checked again when it changed), and the request is marked as taken,
// with its print-log rows held, before anything is printed.
#include "engine/hevrasto/phase_obj.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>

#include "engine/core/clock.h"
#include "engine/core/pending_log.h"
#include "engine/core/request_check.h"
#include "engine/hevrasto/phase_common.h"
#include "engine/hevrasto/print_records.h"
#include "engine/rules/event_table.h"
#include "platform/paths/paths.h"
#include "printing/print_rules.h"

namespace zv::engine {
using phase_internal::Event;

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

}  // namespace zv::engine
