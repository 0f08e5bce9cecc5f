// The worker runner: one job's parts (a document's blocks, a printed page's bands and
// pictures) spread over the cores this process may run on, the calling thread among the
// workers, so that a thread that cannot be started only leaves its share to the others.
#pragma once

#include <cstddef>
#include <functional>

namespace zv::workers {

// Takes nothing; gives the number of cores this process may run on: the machine's cores,
// limited by its CPU affinity (taskset, cgroup cpusets); at least 1.
unsigned UsableCores();

// Takes the number of parts of a job, the thread count a caller asked for (0: let the runner
// choose) and the parts one worker should have at least when the runner chooses; gives the
// number of workers: never more than the usable cores nor the parts, at least 1.
unsigned ThreadCount(std::size_t parts, unsigned requested = 0, std::size_t parts_per_worker = 1);

// Takes a worker count and the work of one worker; runs work(i) for the workers
// i = 0 .. threads-1: worker 0 on the calling thread, the others on threads started here and
// joined before returning. A thread that cannot be started is done without, so `work` must
// let any worker take any part: worker 0 alone finishes the job.
void RunWorkers(unsigned threads, const std::function<void(unsigned)>& work);

// Takes a number of parts, the work of one part and a thread count (0: ThreadCount's
// choice); runs job(0) .. job(n - 1), each once, each worker taking the next part no other
// worker took, and returns when all are done.
void ForEachPart(std::size_t n, const std::function<void(std::size_t)>& job, unsigned threads = 0);

}  // namespace zv::workers
