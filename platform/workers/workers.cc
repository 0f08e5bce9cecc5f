// The worker runner (workers.h).
#include "platform/workers/workers.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

namespace zv::workers {

unsigned UsableCores() {
  // The affinity mask holds only CPUs that are online, and asking for it touches no file
  // (the count of online CPUs is read from /sys on each call).
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return static_cast<unsigned>(CPU_COUNT(&set));
  return std::max(1u, std::thread::hardware_concurrency());
}

unsigned ThreadCount(std::size_t parts, unsigned requested, std::size_t parts_per_worker) {
  std::size_t n = requested != 0 ? requested : parts / std::max<std::size_t>(parts_per_worker, 1);
  n = std::min({n, static_cast<std::size_t>(UsableCores()), parts});
  return static_cast<unsigned>(std::max<std::size_t>(n, 1));
}

void RunWorkers(unsigned threads, const std::function<void(unsigned)>& work) {
  std::vector<std::thread> pool;
  pool.reserve(threads > 0 ? threads - 1 : 0);
  for (unsigned i = 1; i < threads; ++i) {
    try {
      pool.emplace_back([&work, i] { work(i); });
    } catch (const std::system_error&) {
      break;
    }
  }
  work(0);
  for (std::thread& t : pool) t.join();
}

void ForEachPart(std::size_t n, const std::function<void(std::size_t)>& job, unsigned threads) {
  if (n == 0) return;
  std::atomic<std::size_t> next{0};
  RunWorkers(ThreadCount(n, threads), [&](unsigned) {
    for (std::size_t i; (i = next.fetch_add(1)) < n;) job(i);
  });
}

}  // namespace zv::workers

namespace zv::workers {

Crew::Crew(unsigned seats, std::size_t most_waiting)
    : seats_(std::max(1u, seats)), most_waiting_(std::max<std::size_t>(1, most_waiting)) {
  threads_.reserve(seats_ - 1);
}

Crew::~Crew() { Finish(); }

void Crew::Serve(unsigned seat) {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    ++idle_;
    wake_.wait(lock, [&] { return stopping_ || !waiting_.empty(); });
    --idle_;
    if (waiting_.empty()) return;
    std::function<void(unsigned)> part = std::move(waiting_.front());
    waiting_.pop_front();
    lock.unlock();
    part(seat);
    lock.lock();
  }
}

void Crew::Submit(std::function<void(unsigned seat)> part) {
  std::function<void(unsigned)> mine;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (stopping_) {
      mine = std::move(part);
    } else {
      waiting_.push_back(std::move(part));
      // A seat more when the parts waiting are more than the free seats take: the first at
      // once, the others once two parts wait unclaimed (a part taken a moment later by a
      // seat just freed needs no thread of its own).
      const std::size_t unclaimed = waiting_.size() > idle_ ? waiting_.size() - idle_ : 0;
      if (!no_more_threads_ && threads_.size() + 1 < seats_ && unclaimed > (threads_.empty() ? 0u : 1u)) {
        try {
          const unsigned seat = unsigned(threads_.size()) + 1;
          threads_.emplace_back([this, seat] { Serve(seat); });
        } catch (const std::system_error&) {
          no_more_threads_ = true;
        }
      }
      if (threads_.empty() || waiting_.size() > most_waiting_) {
        mine = std::move(waiting_.front());
        waiting_.pop_front();
      }
    }
  }
  wake_.notify_one();
  if (mine) mine(0);
}

void Crew::Finish() {
  for (;;) {
    std::function<void(unsigned)> part;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (waiting_.empty()) {
        stopping_ = true;
        break;
      }
      part = std::move(waiting_.front());
      waiting_.pop_front();
    }
    part(0);
  }
  wake_.notify_all();
  for (std::thread& t : threads_) t.join();
  threads_.clear();
}

}  // namespace zv::workers
