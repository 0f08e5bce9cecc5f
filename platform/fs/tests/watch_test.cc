#include "platform/fs/watch.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "platform/fs/files.h"
#include "platform/testing/temp_root.h"

namespace zv::fs {
namespace {

using WaitResult = FolderWatch::WaitResult;

class WatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = root_.str() + "/PrintInfo";
    ASSERT_TRUE(MakeDirs(dir_).ok());
  }
  zv::testing::TempRoot root_;
  std::string dir_;
};

TEST_F(WatchTest, AnArrivalDuringTheScanIsNotMissed) {
  auto w = FolderWatch::Start(dir_);
  ASSERT_TRUE(w.ok()) << w.status().ToString();
  // The file arrives after the watch was armed but before the caller waits.
  ASSERT_TRUE(WriteFileAtomic(dir_ + "/order00.lst", "[RequestInfo]\r\n").ok());
  auto r = w->Wait(nullptr, 0);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(*r, WaitResult::kChanged);
  EXPECT_NE(std::find(w->changed_names().begin(), w->changed_names().end(), "order00.lst"), w->changed_names().end());
  // The events were taken: the next wait times out.
  EXPECT_EQ(w->Wait(nullptr, 10).value(), WaitResult::kTimeout);
  // A deletion alone is not an arrival.
  std::filesystem::remove(dir_ + "/order00.lst");
  EXPECT_EQ(w->Wait(nullptr, 10).value(), WaitResult::kTimeout);
}

TEST_F(WatchTest, FilesWrittenByAnotherProcessWakeTheWaiter) {
  auto w = FolderWatch::Start(dir_);
  ASSERT_TRUE(w.ok());
  pid_t child = fork();
  if (child == 0) {
    FILE* f = std::fopen((dir_ + "/Sequence.seq").c_str(), "w");
    if (!f) _exit(1);
    std::fputs("5", f);
    std::fclose(f);
    _exit(0);
  }
  auto r = w->Wait(nullptr, 10000);
  waitpid(child, nullptr, 0);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(*r, WaitResult::kChanged);
  // A rename into the folder (IN_MOVED_TO) counts too.
  ASSERT_TRUE(WriteFileAtomic(root_.str() + "/staged", "x").ok());
  ASSERT_EQ(std::rename((root_.str() + "/staged").c_str(), (dir_ + "/order01.lst").c_str()), 0);
  EXPECT_EQ(w->Wait(nullptr, 10000).value(), WaitResult::kChanged);
}

TEST_F(WatchTest, TheStopEventEndsTheWaitAndComesFirst) {
  auto w = FolderWatch::Start(dir_);
  ASSERT_TRUE(w.ok());
  sync::Event stop;
  std::thread t([&] { stop.Set(); });
  EXPECT_EQ(w->Wait(&stop, -1).value(), WaitResult::kStopped);
  t.join();
  ASSERT_TRUE(WriteFileAtomic(dir_ + "/order02.lst", "x").ok());
  EXPECT_EQ(w->Wait(&stop, -1).value(), WaitResult::kStopped);
  stop.Reset();
  EXPECT_EQ(w->Wait(&stop, -1).value(), WaitResult::kChanged);
}

TEST_F(WatchTest, MissingOrRemovedFolder) {
  EXPECT_EQ(FolderWatch::Start(root_.str() + "/none").status().code(), Status::Code::kNotFound);
  auto w = FolderWatch::Start(dir_);
  ASSERT_TRUE(w.ok());
  std::filesystem::remove_all(dir_);
  auto r = w->Wait(nullptr, 10000);
  EXPECT_EQ(r.status().code(), Status::Code::kIOError);
  FolderWatch empty;
  EXPECT_FALSE(empty.Wait(nullptr, 0).ok());
}

TEST_F(WatchTest, FolderEventsNameEveryChangeAndTheFolderGoing) {
  auto events = FolderEvents::Open();
  ASSERT_TRUE(events.ok()) << events.status().ToString();
  EXPECT_EQ((*events)->Add(root_.str() + "/none").status().code(), Status::Code::kNotFound);
  auto id = (*events)->Add(dir_);
  ASSERT_TRUE(id.ok()) << id.status().ToString();
  EXPECT_EQ((*events)->Add(dir_ + "/.").value(), *id);  // the same folder, the same id
  ASSERT_TRUE(WriteFileAtomic(dir_ + "/a", "1").ok());
  std::filesystem::rename(dir_ + "/a", dir_ + "/b");
  std::filesystem::remove(dir_ + "/b");
  auto batch = (*events)->Take();
  ASSERT_TRUE(batch.ok());
  // What each name went through: appeared (+), went (-), changed in place (~).
  std::map<std::string, std::string> seen;
  for (const auto& c : batch->changes) {
    EXPECT_EQ(c.folder, *id);
    seen[c.name.rfind(".a.tmp", 0) == 0 ? "tmp" : c.name] += c.appeared ? "+" : c.went ? "-" : "~";
  }
  EXPECT_EQ(seen["a"], "+-");
  EXPECT_EQ(seen["b"], "+-");
  EXPECT_EQ(seen["tmp"].front(), '+');
  EXPECT_EQ(seen["tmp"].back(), '-');
  EXPECT_TRUE(batch->gone.empty());
  EXPECT_TRUE((*events)->Take()->changes.empty());
  std::filesystem::remove_all(dir_);
  batch = (*events)->Take();
  ASSERT_TRUE(batch.ok());
  EXPECT_NE(std::find(batch->gone.begin(), batch->gone.end(), *id), batch->gone.end());
}

// A missing folder is vouched for as missing until something changes on the way to it:
// a reader looks for it once per change, not at every read.
TEST_F(WatchTest, AMissingFolderIsLookedForAgainOnlyAfterAChangeOnItsWay) {
  const std::string top = root_.str() + "/tree";
  std::filesystem::create_directories(top);
  const std::string folder = top + "/etc/zelvora";
  FolderChanges changes;
  EXPECT_FALSE(changes.Unchanged(folder));
  EXPECT_TRUE(changes.Unchanged(folder));
  EXPECT_TRUE(changes.Unchanged(folder));
  std::filesystem::create_directories(top + "/etc");  // on the way
  EXPECT_FALSE(changes.Unchanged(folder));
  EXPECT_TRUE(changes.Unchanged(folder));
  std::filesystem::create_directories(folder);
  EXPECT_FALSE(changes.Unchanged(folder));
  EXPECT_TRUE(changes.Unchanged(folder));
  ASSERT_TRUE(WriteFileAtomic(folder + "/machine.reg", "x").ok());  // now the folder itself is watched
  EXPECT_FALSE(changes.Unchanged(folder));
  EXPECT_TRUE(changes.Unchanged(folder));
  std::filesystem::remove_all(top + "/etc");
  EXPECT_FALSE(changes.Unchanged(folder));
  EXPECT_TRUE(changes.Unchanged(folder));
}

}  // namespace
}  // namespace zv::fs
