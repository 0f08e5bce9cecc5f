#include "engine/hevrasto/queue_probe.h"

namespace zv::engine {

Result<std::vector<QueuedJob>> SpoolerQueueProbe::QueuedJobs(const std::string& printer) {
  auto jobs = spooler_.EnumJobs(printer);
  if (!jobs.ok()) return jobs.status();
  std::vector<QueuedJob> out;
  for (const spool::JobInfo& j : *jobs) {
    if (!spool::InQueue(j.state)) continue;
    QueuedJob q;
    q.document = j.document;
    q.status = j.status;
    q.submitted = std::chrono::system_clock::time_point(std::chrono::milliseconds(j.submitted_unix_ms));
    out.push_back(std::move(q));
  }
  return out;
}

}  // namespace zv::engine
