// The duplicate check's view of a printer's queue, through the spooler layer.
#pragma once

#include "engine/core/job_queue.h"
#include "platform/spool/spool.h"

namespace zv::engine {

class SpoolerQueueProbe : public JobQueueProbe {
 public:
  // Takes the spooler (kept by the caller).
  explicit SpoolerQueueProbe(spool::Spooler& spooler) : spooler_(spooler) {}
  // Gives the jobs still in the printer's queue, oldest first.
  Result<std::vector<QueuedJob>> QueuedJobs(const std::string& printer) override;

 private:
  spool::Spooler& spooler_;
};

}  // namespace zv::engine
