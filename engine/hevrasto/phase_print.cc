// Printing: the user-interface thread prints the open document, and its print-log rows are
// charged (the held rows by one rename, or kept and stored later). A job an engine stopped
// while printing is settled from its taken mark: charged and answered as printed when it
// reached the printer, cancelled and answered as failed when it did not.
#include "engine/hevrasto/phase_obj.h"

#include <chrono>

#include "engine/core/pending_log.h"
#include "engine/core/request_check.h"
#include "engine/hevrasto/engine_doc.h"
#include "engine/hevrasto/phase_common.h"
#include "engine/rules/event_table.h"
#include "printing/print_job.h"

namespace zv::engine {
using phase_internal::Event;
using phase_internal::JoinLines;

namespace {
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
}  // namespace

std::vector<std::string> InterruptedPrintLines() {
  return {"前回の印刷中に実行部が停止しました。", "印刷されている可能性があります。プリンタを確認してください。"};
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

}  // namespace zv::engine
