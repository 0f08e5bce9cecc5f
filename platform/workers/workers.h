// The worker runner: one job's parts (a document's blocks, a printed page's bands and
// pictures) spread over the cores this process may run on, the calling thread among the
// workers, so that a thread that cannot be started only leaves its share to the others.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

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

// A crew for a job whose parts come one at a time while the caller prepares the next (a
// printed job's sheets): the parts handed over are done on threads started here, in the order
// given, each on one worker seat. A seat's thread is started only when parts wait that no
// started seat is free to take (the first at once), so a job whose parts are drawn as fast as
// they come keeps to few seats. Seat 0 is the calling thread's: it does a part itself when the
// parts waiting reach the bound (which bounds the memory they hold) and when no thread could
// be started, so the job is done whatever threads there are. A seat is used by one thread at a
// time, so a part may keep what it needs in its seat's own state.
class Crew {
 public:
  // Takes the most seats (workers, the caller among them; at least 1) and how many
  // handed-over parts may wait (at least 1).
  Crew(unsigned seats, std::size_t most_waiting);
  // Does what was handed over, as Finish().
  ~Crew();
  Crew(const Crew&) = delete;
  Crew& operator=(const Crew&) = delete;

  // The most seats: parts are called with 0 .. seats() - 1.
  unsigned seats() const { return seats_; }
  // Takes a part; hands it to the next free worker, starting a seat when more parts wait
  // than free seats can take. With the bound reached, the caller first does the oldest
  // waiting part on seat 0.
  void Submit(std::function<void(unsigned seat)> part);
  // Does the parts still waiting (the caller among the workers), waits for those being done
  // and stops the threads. Parts handed over afterwards are done on the calling thread.
  void Finish();

 private:
  void Serve(unsigned seat);
  unsigned seats_;
  std::size_t most_waiting_;
  std::mutex mu_;
  std::condition_variable wake_;
  std::deque<std::function<void(unsigned)>> waiting_;
  std::size_t idle_ = 0;  // started seats waiting for a part
  bool stopping_ = false;
  bool no_more_threads_ = false;  // a thread could not be started
  std::vector<std::thread> threads_;
};

}  // namespace zv::workers
