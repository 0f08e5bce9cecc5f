// Fuzzes the job log lookup: the first byte picks the job id, the rest is the log. Every
// input must end (the scan is bounded to one lap) without reading outside the log.
#include <cstddef>
#include <cstdint>

#include "jobresult/job_log.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  zv::jobresult::JobQuery q;
  q.document = "report.doc";
  q.job_id = data[0];
  zv::jobresult::MemoryLog log(std::span<const std::uint8_t>(data + 1, size - 1));
  (void)zv::jobresult::LookupJob(log, q);
  return 0;
}
