#include "engine/core/job_queue.h"

#include "engine/core/clock.h"
#include "engine/rules/text_util.h"

namespace zv::engine {

bool QueueHoldsJob(const std::vector<QueuedJob>& jobs, const PrintLogRecord& row) {
  for (auto it = jobs.rbegin(); it != jobs.rend(); ++it) {
    // A job being deleted is leaving the queue: nothing to wait for.
    if (it->status == kJobStatusDeleting) continue;
    if (!EqualsNoCase(it->document, row.SpoolName)) continue;
    DateTimeValue local = LocalDateTime(it->submitted);
    if (local.date == row.PDate && local.time == row.PTime) return true;
  }
  return false;
}

bool PrinterQueueHoldsJob(JobQueueProbe& probe, const std::string& printer, const PrintLogRecord& row) {
  auto jobs = probe.QueuedJobs(printer);
  return jobs.ok() && QueueHoldsJob(*jobs, row);
}

}  // namespace zv::engine
