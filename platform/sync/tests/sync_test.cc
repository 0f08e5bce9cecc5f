#include "platform/sync/guard.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "platform/sync/event.h"
#include "platform/testing/temp_root.h"

namespace zv::sync {
namespace {

constexpr const char* kEngine = "Hevrasto.exeMultiplexStartingPrevention";

TEST(NamedGuard, OneHolderAtATimeWithinAProcess) {
  zv::testing::TempRoot root;
  auto first = NamedGuard::TryAcquire(kEngine);
  ASSERT_TRUE(first.ok()) << first.status().ToString();
  EXPECT_EQ(NamedGuard::TryAcquire(kEngine).status().code(), Status::Code::kBusy);
  EXPECT_EQ(NamedGuard::Acquire(kEngine, 20).status().code(), Status::Code::kTimeout);
  EXPECT_TRUE(NamedGuard::IsHeld(kEngine).value());
  // Names are case-sensitive, as mutex names are.
  EXPECT_TRUE(NamedGuard::TryAcquire("hevrasto.exemultiplexstartingprevention").ok());
  first->Release();
  EXPECT_FALSE(NamedGuard::IsHeld(kEngine).value());
  EXPECT_TRUE(NamedGuard::TryAcquire(kEngine).ok());
}

TEST(NamedGuard, ReleasedWhenTheHoldingProcessIsKilled) {
  zv::testing::TempRoot root;
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  if (child == 0) {
    auto g = NamedGuard::TryAcquire("Ostrane");
    char c = g.ok() ? 'y' : 'n';
    (void)!write(ready[1], &c, 1);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  EXPECT_EQ(NamedGuard::TryAcquire("Ostrane").status().code(), Status::Code::kBusy);
  // A waiter with a limit gets the guard once the holder dies.
  std::thread killer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    kill(child, SIGKILL);
  });
  auto g = NamedGuard::Acquire("Ostrane", 5000);
  killer.join();
  waitpid(child, nullptr, 0);
  EXPECT_TRUE(g.ok()) << g.status().ToString();
  close(ready[0]);
  close(ready[1]);
}

TEST(NamedGuard, NamesNeverLeaveTheRunFolder) {
  zv::testing::TempRoot root;
  for (const char* name : {"../../escape", "a/b", "..", "Zelvora ExplorerMultiplexStartingPrevention", "C:\\x"}) {
    auto g = NamedGuard::TryAcquire(name);
    ASSERT_TRUE(g.ok()) << name;
    auto path = NamedGuard::LockPath(name).value();
    EXPECT_EQ(std::filesystem::path(path).parent_path(), root.path() / "run") << name;
  }
  int files = 0;
  for (auto& e : std::filesystem::recursive_directory_iterator(root.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 5);
}

TEST(Event, SetStaysUntilReset) {
  Event e;
  EXPECT_FALSE(e.IsSet());
  EXPECT_FALSE(e.Wait(10));
  std::thread t([&] { e.Set(); });
  EXPECT_TRUE(e.Wait(5000));
  t.join();
  EXPECT_TRUE(e.IsSet());
  e.Set();
  e.Reset();
  EXPECT_FALSE(e.IsSet());
}

}  // namespace
}  // namespace zv::sync
