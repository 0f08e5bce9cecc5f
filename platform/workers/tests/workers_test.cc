// The worker runner: every part done once, workers limited to the cores the process may run
// on, and the job finished by the calling thread when threads cannot be started.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/workers/workers.h"

namespace zv::workers {
namespace {

// Runs `n` parts on `threads` workers; gives whether each was done once, and the number of
// threads that did them.
bool EachOnce(std::size_t n, unsigned threads, std::size_t* workers_seen) {
  std::vector<std::atomic<int>> done(n);
  std::mutex mu;
  std::set<std::thread::id> ids;
  ForEachPart(
      n,
      [&](std::size_t i) {
        done[i].fetch_add(1);
        std::lock_guard<std::mutex> lock(mu);
        ids.insert(std::this_thread::get_id());
      },
      threads);
  *workers_seen = ids.size();
  for (const auto& d : done) {
    if (d.load() != 1) return false;
  }
  return true;
}

// Held to one core (as taskset or a cpuset holds a process): gives 0 when one worker did
// every part however many were asked for.
int OnOneCore() {
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(sched_getcpu(), &one);
  if (sched_setaffinity(0, sizeof one, &one) != 0) return 3;
  std::size_t workers = 0;
  const bool ok = EachOnce(200, 8, &workers);
  return UsableCores() == 1 && ThreadCount(200, 8) == 1 && ok && workers == 1 ? 0 : 1;
}

// With no room for thread stacks (the address space limited to what the process maps now)
// most threads cannot be started: gives 0 when the calling thread and those that started did
// every part once.
int WithoutRoomForThreads() {
  long pages = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  if (pages <= 0) return 3;
  const rlim_t now = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE));
  const rlimit limit{now + (4u << 20), now + (4u << 20)};
  if (setrlimit(RLIMIT_AS, &limit) != 0) return 4;
  std::size_t workers = 0;
  const bool ok = EachOnce(5000, 64, &workers);
  return ok && workers >= 1 && workers < 64 ? 0 : 1;
}

TEST(WorkersTest, EveryPartOnceWithinTheUsableCores) {
  std::size_t seen = 0;
  EXPECT_TRUE(EachOnce(1000, 8, &seen));
  EXPECT_GE(seen, 1u);
  EXPECT_LE(seen, 8u);
  EXPECT_TRUE(EachOnce(0, 4, &seen));
  EXPECT_TRUE(EachOnce(3, 0, &seen));
  EXPECT_EQ(ThreadCount(0), 1u);
  EXPECT_EQ(ThreadCount(5, 64), std::min(5u, UsableCores()));
  EXPECT_EQ(ThreadCount(100, 0, 50), std::min(2u, UsableCores()));
  EXPECT_EXIT(std::_Exit(OnOneCore()), ::testing::ExitedWithCode(0), "");
}

// A thread that cannot be started leaves its share to the workers that run.
TEST(WorkersTest, AFailedThreadStartStillCompletesTheWork) {
  EXPECT_EXIT(std::_Exit(WithoutRoomForThreads()), ::testing::ExitedWithCode(0), "");
}

// A crew's parts: each done once, on a seat no other thread holds meanwhile; parts handed
// over beyond the bound are done by the caller on seat 0 (so no more than the bound wait);
// with one seat, every part is done at once on the calling thread.
TEST(WorkersTest, ACrewDoesEachPartOnceOnOneThreadPerSeat) {
  for (const unsigned seats : {1u, 4u}) {
    SCOPED_TRACE(seats);
    constexpr int kParts = 300;
    std::vector<std::atomic<int>> done(kParts);
    std::vector<std::atomic<int>> in_seat(seats);
    std::atomic<bool> shared_seat{false};
    std::atomic<int> on_caller{0};
    const std::thread::id caller = std::this_thread::get_id();
    {
      Crew crew(seats, 2);
      ASSERT_EQ(crew.seats(), seats);
      for (int i = 0; i < kParts; ++i) {
        crew.Submit([&, i](unsigned seat) {
          if (seat >= seats || in_seat[seat].fetch_add(1) != 0) shared_seat = true;
          if ((seat == 0) != (std::this_thread::get_id() == caller)) shared_seat = true;
          on_caller += seat == 0;
          done[size_t(i)].fetch_add(1);
          std::this_thread::yield();
          if (seat < seats) in_seat[seat].fetch_sub(1);
        });
        // One seat: done before Submit returns.
        if (seats == 1) {
          EXPECT_EQ(done[size_t(i)].load(), 1);
        }
      }
      crew.Finish();
      // Finished: what comes after is done at once, on the calling thread.
      std::atomic<int> late{0};
      crew.Submit([&](unsigned seat) { late = seat == 0 && std::this_thread::get_id() == caller ? 1 : 2; });
      EXPECT_EQ(late.load(), 1);
    }
    EXPECT_FALSE(shared_seat.load());
    for (const auto& d : done) EXPECT_EQ(d.load(), 1);
    if (seats == 1) {
      EXPECT_EQ(on_caller.load(), kParts);
    }
  }
}

}  // namespace
}  // namespace zv::workers
