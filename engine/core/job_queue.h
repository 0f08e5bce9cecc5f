// What the duplicate check asks of the spooler: the jobs still waiting in a printer's
// queue. The spooler layer supplies the real probe; tests use a double.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/db/zvm_database.h"
#include "platform/base/status.h"

namespace zv::engine {

// JOB_STATUS_DELETING: a job being removed from the queue.
inline constexpr uint32_t kJobStatusDeleting = 0x00000004;

// One job of a printer's queue.
struct QueuedJob {
  std::string document;  // the job's document name
  uint32_t status = 0;   // JOB_STATUS_* bits
  std::chrono::system_clock::time_point submitted;
};

class JobQueueProbe {
 public:
  virtual ~JobQueueProbe() = default;
  // Takes a printer name; gives the jobs of its queue, oldest first, or an error when the
  // printer cannot be opened or its jobs cannot be listed.
  virtual Result<std::vector<QueuedJob>> QueuedJobs(const std::string& printer) = 0;
};

// Gives whether `jobs` hold the job of a print-log row: walked from the last to the first,
// skipping jobs whose status is exactly "deleting"; a job matches when its document name
// equals the row's SpoolName without regard to case and its submission time, in local
// time, gives the row's PDate and PTime.
bool QueueHoldsJob(const std::vector<QueuedJob>& jobs, const PrintLogRecord& row);

// Asks `probe` for the queue of `printer` and gives QueueHoldsJob; a printer that cannot be
// asked counts as holding no match.
bool PrinterQueueHoldsJob(JobQueueProbe& probe, const std::string& printer, const PrintLogRecord& row);

}  // namespace zv::engine
