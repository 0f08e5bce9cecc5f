#include "client/handover.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include "engine/hevrasto/request_slots.h"
#include "platform/fs/files.h"
#include "platform/shm/shm.h"
#include "platform/testing/small_fs.h"
#include "platform/testing/temp_root.h"
#include "platform/winmsg/winmsg.h"

namespace zv::client {
namespace {

namespace fsys = std::filesystem;
using namespace std::chrono_literals;

// A server share reached as \\SRV\share through this root's net folder.
class HandOverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    share_ = root_.str() + "/net/SRV/share";
    for (const char* d : {"/PrintInfo", "/Jobs", "/Result"}) ASSERT_TRUE(fs::MakeDirs(share_ + d).ok());
    ASSERT_TRUE(fs::WriteFileAtomic(share_ + "/PrintInfo/Wakeup.inf", "").ok());
    config_.server_name = "\\\\SRV";
    config_.share_name = "share";
    config_.account = "tanaka";
    config_.machine = "PC01";
  }
  std::string Req(const std::string& name) const { return share_ + "/PrintInfo/" + name; }
  // Writes a small file (plainly: the test makes thousands).
  void Put(const std::string& path, const std::string& text = "x") {
    std::ofstream out(path, std::ios::binary);
    out << text;
    ASSERT_TRUE(out.good()) << path;
  }
  int FilesIn(const std::string& dir) const {
    int n = 0;
    for (auto& e : fsys::directory_iterator(dir)) (void)e, ++n;
    return n;
  }
  RequestOrder Order() const {
    RequestOrder o;
    o.jobs = {{"report", 1}};
    o.device = "Office";
    return o;
  }
  zv::testing::TempRoot root_;
  std::string share_;
  ClientConfig config_;
};

TEST_F(HandOverTest, JobFileNamesAreCreatedExclusively) {
  const std::string jobs = share_ + "/Jobs";
  const std::vector<uint8_t> bytes = {5};
  Put(jobs + "/PC010.prc");
  Put(jobs + "/PC011.prc");
  EXPECT_EQ(*WriteJobFile(jobs, "PC01", bytes), "PC012.prc");
  EXPECT_EQ(*WriteJobFile(jobs, "PC01", bytes), "PC013.prc");  // the one just made counts as taken
  for (int n = 4; n <= share::kMaxJobFileNumber; ++n) Put(jobs + "/PC01" + std::to_string(n) + ".prc", "");
  EXPECT_EQ(WriteJobFile(jobs, "PC01", bytes).status().code(), Status::Code::kBusy);
  EXPECT_EQ(WriteJobFile(jobs, "../x", bytes).status().code(), Status::Code::kInvalidArgument);
}

TEST_F(HandOverTest, SlotSearchTable) {
  const std::string folder = share_ + "/PrintInfo";
  struct Case {
    const char* what;
    std::string sequence;  // "-" for no file
    std::vector<int> taken;
    int want;  // -1: busy
  } cases[] = {
      {"start at the sequence", "07", {}, 7},
      {"empty sequence starts at 0", "", {0}, 1},
      {"98 with 98 and 99 taken wraps to 0", "98", {98, 99}, 0},
      {"missing sequence starts at 0", "-", {}, 0},
  };
  for (const auto& c : cases) {
    for (auto& e : fsys::directory_iterator(folder)) fsys::remove(e.path());
    if (c.sequence != "-") Put(folder + "/Sequence.seq", c.sequence);
    for (int t : c.taken) Put(folder + "/" + engine::SlotFileName(t), "earlier");
    std::vector<int> asked;
    auto slot = PlaceRequest(folder, "[RequestInfo]\n", 1000ms, [&](int s) {
      asked.push_back(s);
      return true;
    });
    ASSERT_TRUE(slot.ok()) << c.what << ": " << slot.status().ToString();
    EXPECT_EQ(*slot, c.want) << c.what;
    EXPECT_EQ(asked, std::vector<int>{c.want}) << c.what;
    EXPECT_EQ(*fs::ReadFile(folder + "/" + engine::SlotFileName(*slot)), "[RequestInfo]\n") << c.what;
    for (int t : c.taken) EXPECT_EQ(*fs::ReadFile(folder + "/" + engine::SlotFileName(t)), "earlier") << c.what;
    // Only slot files and Sequence.seq remain: no temporary name is left behind.
    for (auto& e : fsys::directory_iterator(folder)) {
      std::string n = e.path().filename().string();
      EXPECT_TRUE(n == "Sequence.seq" || n == "Wakeup.inf" || engine::ParseSlotFileName(n) >= 0) << c.what << ": " << n;
    }
  }
}

TEST_F(HandOverTest, AllSlotsTakenIsBusyAndTheJobCopyGoes) {
  for (int s = 0; s < engine::kSlotCount; ++s) Put(Req(engine::SlotFileName(s)));
  RecordingPrompt prompt;
  HandOverResult r = SendRequest(config_, {1, 2, 3}, Order(), &prompt);
  EXPECT_EQ(r.outcome, HandOverResult::kBusy);
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, kBusyText);
  EXPECT_EQ(prompt.shown[0].title, "Zelvora");
  EXPECT_EQ(FilesIn(share_ + "/Jobs"), 0);
}

// A share that cannot take the job now: every job file name of this machine taken (by
// files another member put there), or no room for the job or for its request. The user is
// told why with the folder to look at, nothing of the job is left holding a name, and the
// same job goes through once the cause is gone.
TEST_F(HandOverTest, NoJobNameOrNoRoomIsToldWithTheFolderAndTheJobGoesOnceFreed) {
  class Full : public share::FileOps {
   public:
    std::string prefix;  // writes to paths starting so fail
    int error = 0;
    std::set<int> fds;
    int Open(const std::string& p, int flags, mode_t mode) override {
      int fd = share::FileOps::Open(p, flags, mode);
      if (fd >= 0 && error != 0 && p.rfind(prefix, 0) == 0) fds.insert(fd);
      return fd;
    }
    ssize_t Write(int fd, const void* data, size_t n) override {
      if (fds.count(fd)) {
        errno = error;
        return -1;
      }
      return share::FileOps::Write(fd, data, n);
    }
    int Close(int fd) override {
      fds.erase(fd);
      return share::FileOps::Close(fd);
    }
  } ops;
  const std::string jobs = share_ + "/Jobs", info = share_ + "/PrintInfo";
  HandOverOptions options;
  options.ops = &ops;
  struct Case {
    const char* what;
    std::function<void()> block, unblock;
    HandOverResult::Outcome outcome;
    std::string text, title;
  } cases[] = {
      {"every job name taken",
       [&] {
         for (int n = 0; n <= share::kMaxJobFileNumber; ++n) Put(jobs + "/PC01" + std::to_string(n) + ".prc", "");
       },
       [&] { fsys::remove(jobs + "/PC014321.prc"); }, HandOverResult::kNamesTaken,
       std::string(kBusyText) + "\n" + kJobNamesTakenText + "\nフォルダ: " + jobs, kBusyTitle},
      {"no room for the job",
       [&] {
         ops.prefix = jobs + "/";
         ops.error = ENOSPC;
       },
       [&] { ops.error = 0; }, HandOverResult::kShareFull, std::string(kShareFullText) + "\nフォルダ: " + jobs,
       kPrintErrorTitle},
      {"the quota full at the request",
       [&] {
         ops.prefix = info + "/";
         ops.error = EDQUOT;
       },
       [&] { ops.error = 0; }, HandOverResult::kShareFull, std::string(kShareFullText) + "\nフォルダ: " + info,
       kPrintErrorTitle},
  };
  for (const auto& c : cases) {
    for (auto& e : fsys::directory_iterator(jobs)) fsys::remove(e.path());
    for (auto& e : fsys::directory_iterator(info))
      if (e.path().filename() != "Wakeup.inf") fsys::remove(e.path());
    c.block();
    const int jobs_before = FilesIn(jobs);
    RecordingPrompt prompt;
    HandOverResult r = SendRequest(config_, {1, 2, 3}, Order(), &prompt, options);
    EXPECT_EQ(r.outcome, c.outcome) << c.what << ": " << r.error;
    EXPECT_EQ(r.message, c.text) << c.what;
    ASSERT_EQ(prompt.shown.size(), 1u) << c.what;
    EXPECT_EQ(prompt.shown[0].text, c.text) << c.what;
    EXPECT_EQ(prompt.shown[0].title, c.title) << c.what;
    EXPECT_EQ(FilesIn(jobs), jobs_before) << c.what;
    EXPECT_EQ(FilesIn(info), 1) << c.what;  // "Wakeup.inf" alone: no request, no temporary file
    c.unblock();
    r = SendRequest(config_, {1, 2, 3}, Order(), &prompt, options);
    EXPECT_EQ(r.outcome, HandOverResult::kHandedOver) << c.what << ": " << r.error;
    EXPECT_EQ(prompt.shown.size(), 1u) << c.what;
  }
}

// The same on a real file system that is full: a small tmpfs under the share, filled by
// another member's file. Nothing half-written is left, and the job goes once it is removed.
TEST_F(HandOverTest, AFullShareIsToldAndLeavesNothingHalfWritten) {
  zv::testing::SmallFileSystem small;
  if (std::string why = small.Mount(share_); !why.empty()) GTEST_SKIP() << why;
  const std::string jobs = share_ + "/Jobs", filler = jobs + "/filler.prc";
  ASSERT_TRUE(zv::testing::SmallFileSystem::Fill(filler));
  const std::vector<uint8_t> job(64 * 1024, 7);  // more than the last partial block left
  RecordingPrompt prompt;
  HandOverResult r = SendRequest(config_, job, Order(), &prompt);
  EXPECT_EQ(r.outcome, HandOverResult::kShareFull) << r.error;
  EXPECT_EQ(r.message, std::string(kShareFullText) + "\nフォルダ: " + jobs);
  EXPECT_EQ(FilesIn(jobs), 1);  // the filler alone
  fsys::remove(filler);
  r = SendRequest(config_, job, Order(), &prompt);
  ASSERT_EQ(r.outcome, HandOverResult::kHandedOver) << r.error;
  EXPECT_EQ(fsys::file_size(jobs + "/" + r.job_file), job.size());
}

TEST_F(HandOverTest, ALockHeldElsewhereHoldsTheHandOverOnlyUpToItsLimit) {
  // Anyone who may read "Sequence.seq" may lock it; the request goes in all the same.
  auto held = engine::SequenceFile::Lock(share_ + "/PrintInfo", nullptr, 1000);
  ASSERT_TRUE(held.ok());
  RecordingPrompt prompt;
  HandOverOptions options;
  options.lock_limit = 300ms;
  HandOverResult r = SendRequest(config_, {1, 2, 3}, Order(), &prompt, options);
  EXPECT_EQ(r.outcome, HandOverResult::kHandedOver) << r.error;
  EXPECT_TRUE(prompt.shown.empty());
  EXPECT_TRUE(fsys::exists(Req(engine::SlotFileName(0))));
}

TEST_F(HandOverTest, ThousandRequestsPlacedAtOnceNeverShowTwoNames) {
  // Eight senders against a taker that reads each slot as the engine does: every request
  // arrives whole, once, with one name.
  const std::string folder = share_ + "/PrintInfo";
  constexpr int kSenders = 8, kEach = 125;
  std::atomic<int> placed{0}, failed{0}, seen{0}, two_names{0};
  std::atomic<bool> done{false};
  std::thread taker([&] {
    while (!done.load() || seen.load() < placed.load()) {
      auto scan = engine::ScanRequestFolder(folder);
      if (!scan.ok()) continue;
      for (int i = 0; i < engine::kSlotCount; ++i) {
        if (!scan->present[i]) continue;
        const std::string path = folder + "/" + engine::SlotFileName(i);
        struct stat st {};
        auto text = fs::ReadFile(path, 1 << 16, &st);
        if (!text.ok()) continue;
        if (st.st_nlink != 1) ++two_names;
        if (text->rfind("[RequestInfo]\n", 0) == 0 && ::unlink(path.c_str()) == 0) ++seen;
      }
    }
  });
  std::vector<std::thread> senders;
  for (int t = 0; t < kSenders; ++t)
    senders.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        std::string text = "[RequestInfo]\nJobFileName=s" + std::to_string(t) + "-" + std::to_string(i) + "\n";
        // All slots may be full for a moment: the sender tries again, as a user would.
        for (int attempt = 0;; ++attempt) {
          auto slot = PlaceRequest(folder, text, 1000ms);
          if (slot.ok()) {
            ++placed;
            break;
          }
          if (slot.status().code() != Status::Code::kBusy || attempt > 100000) {
            ++failed;
            break;
          }
          std::this_thread::yield();
        }
      }
    });
  for (auto& t : senders) t.join();
  done = true;
  taker.join();
  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(placed.load(), kSenders * kEach);
  EXPECT_EQ(seen.load(), kSenders * kEach);
  EXPECT_EQ(two_names.load(), 0);
}

TEST_F(HandOverTest, HandsOverTheJobAndTheRequest) {
  Put(share_ + "/Result/tanaka-PC01.ans", "[PrintResult]\r\nResult=0\r\n");  // an earlier answer
  // Slot 00's copy was written just now: another sender of this user here may still wait for
  // it, so the slot is passed over and the copy left alone. Slot 01's copy is an hour old,
  // taken by nobody: its slot is taken, and the copy is still left to the engine to replace.
  Put(share_ + "/Result/order00-tanaka-PC01.an2", "awaited");
  Put(share_ + "/Result/order01-tanaka-PC01.an2", "stale");
  const auto hour_ago = fsys::file_time_type::clock::now() - std::chrono::hours(1);
  fsys::last_write_time(share_ + "/Result/order01-tanaka-PC01.an2", hour_ago);
  Put(share_ + "/Jobs/PC010.prc");
  RecordingPrompt prompt;
  HandOverResult r = SendRequest(config_, {7, 8, 9}, Order(), &prompt);
  ASSERT_EQ(r.outcome, HandOverResult::kHandedOver) << r.error;
  EXPECT_TRUE(prompt.shown.empty());
  EXPECT_EQ(r.slot_base, "order01");
  EXPECT_EQ(r.answer_copy, "order01-tanaka-PC01.an2");
  EXPECT_FALSE(fsys::exists(Req("order00.lst")));
  EXPECT_EQ(*fs::ReadFile(share_ + "/Result/order00-tanaka-PC01.an2"), "awaited");
  EXPECT_EQ(*fs::ReadFile(share_ + "/Result/order01-tanaka-PC01.an2"), "stale");
  EXPECT_EQ(r.job_file, "PC011.prc");
  struct stat job {};
  ASSERT_EQ(::lstat((share_ + "/Jobs/PC011.prc").c_str(), &job), 0);
  EXPECT_EQ(job.st_mode & 0777, 0600u);  // the job's pages are its owner's alone
  EXPECT_EQ(*fs::ReadFile(share_ + "/Jobs/PC011.prc"), std::string("\x07\x08\x09"));
  EXPECT_FALSE(fsys::exists(share_ + "/Result/tanaka-PC01.ans"));
  struct stat queued {};
  auto request = fs::ReadFile(Req("order01.lst"), 1 << 16, &queued);
  ASSERT_TRUE(request.ok());
  EXPECT_NE(request->find("\nJobFileName=PC011.prc\n"), std::string::npos);
  EXPECT_NE(request->find("\nAccountName=tanaka\n"), std::string::npos);
  // The queued request and its key are its writer's alone; the key is the one handed back.
  EXPECT_EQ(queued.st_mode & 0777, 0600u);
  EXPECT_TRUE(share::IsRequestId(r.request_id));
  EXPECT_EQ(share::RequestIdOf(*request), r.request_id);
  EXPECT_EQ(share::ClassifyRequestText(*request), share::RequestTextState::kWhole);

  fsys::remove(Req("Wakeup.inf"));
  r = SendRequest(config_, {1}, Order(), &prompt);
  EXPECT_EQ(r.outcome, HandOverResult::kNotRunning);
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, kServerNotRunningText);
}

TEST_F(HandOverTest, HandsOverThroughMountsWithoutLinksOrRenameWithoutReplace) {
  // smbnetfs refuses links and RENAME_NOREPLACE; sshfs says EPERM for a name that exists.
  for (share::MountKind kind : {share::MountKind::kSmbnetfs, share::MountKind::kSshfs}) {
    SCOPED_TRACE(kind == share::MountKind::kSmbnetfs ? "smbnetfs" : "sshfs");
    for (auto& e : fsys::directory_iterator(share_ + "/PrintInfo"))
      if (e.path().filename() != "Wakeup.inf") fsys::remove(e.path());
    Put(Req("order00.lst"), "earlier");
    share::NetworkMountOps mount(share::DefaultFileOps(), kind);
    mount.FailNextCreates(1);
    // Another client takes slot 01 just before this one claims it.
    mount.before_create = [&](const std::string& path) {
      if (path == Req("order01.lst")) Put(path, "theirs");
    };
    RecordingPrompt prompt;
    HandOverOptions options;
    options.ops = &mount;
    HandOverResult r = SendRequest(config_, {7, 8, 9}, Order(), &prompt, options);
    ASSERT_EQ(r.outcome, HandOverResult::kHandedOver) << r.error;
    EXPECT_TRUE(prompt.shown.empty());
    EXPECT_EQ(r.slot_base, "order02");
    auto request = fs::ReadFile(Req("order02.lst"));
    ASSERT_TRUE(request.ok());
    EXPECT_EQ(share::ClassifyRequestText(*request), share::RequestTextState::kWhole);
    EXPECT_EQ(share::RequestIdOf(*request), r.request_id);
    EXPECT_EQ(*fs::ReadFile(share_ + "/Jobs/" + r.job_file), std::string("\x07\x08\x09"));
    EXPECT_EQ(*fs::ReadFile(Req("order01.lst")), "theirs");
  }
}

TEST_F(HandOverTest, AShareThatCannotBeReachedOrReadIsToldAsSuchAndUsedAgainOnceBack) {
  class Refusing : public share::FileOps {
   public:
    std::string path;
    int error = 0;
    int Lstat(const std::string& p, struct stat* st) override {
      if (error != 0 && p == path) {
        errno = error;
        return -1;
      }
      return share::FileOps::Lstat(p, st);
    }
  } ops;
  ops.path = Req("");
  ops.path.pop_back();
  HandOverOptions options;
  options.ops = &ops;
  struct Case {
    int error;
    HandOverResult::Outcome outcome;
    std::string text;
  } cases[] = {
      {EACCES, HandOverResult::kNoShare,
       std::string(kShareUnreadableText) + "\nフォルダ: " + ops.path + "\n理由: アクセスが拒否されました。"},
      {ENOTCONN, HandOverResult::kNoShare,
       std::string(kShareUnreachableText) + "\nフォルダ: " + ops.path + "\n理由: サーバとの接続が切れています。"},
      {ETIMEDOUT, HandOverResult::kNoShare,
       std::string(kShareUnreachableText) + "\nフォルダ: " + ops.path + "\n理由: サーバから応答がありません。"},
  };
  for (const auto& c : cases) {
    ops.error = c.error;
    RecordingPrompt prompt;
    HandOverResult r = SendRequest(config_, {1}, Order(), &prompt, options);
    EXPECT_EQ(r.outcome, c.outcome) << c.error;
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(prompt.shown[0].text, c.text);
    EXPECT_EQ(prompt.shown[0].title, kPrintErrorTitle);
    EXPECT_EQ(CheckServer(config_, ops).text, c.text);
    EXPECT_EQ(FilesIn(share_ + "/Jobs"), 0);
  }
  // The share is back: the next print goes through, without a new start.
  ops.error = 0;
  RecordingPrompt prompt;
  EXPECT_EQ(SendRequest(config_, {1}, Order(), &prompt, options).outcome, HandOverResult::kHandedOver);
  EXPECT_TRUE(prompt.shown.empty());
  EXPECT_TRUE(ServerEngineRunning(config_));
  // A readable folder without "Wakeup.inf" is an engine that does not run.
  fsys::remove(Req("Wakeup.inf"));
  EXPECT_EQ(CheckServer(config_).state, share::ShareCheck::kNotRunning);
  EXPECT_EQ(CheckServer(config_).text, kServerNotRunningText);
  EXPECT_FALSE(ServerEngineRunning(config_));
}

TEST_F(HandOverTest, MonitorReadsTheNameBeforeTheBlockCloses) {
  RecordingPrompt prompt;
  EXPECT_EQ(NotifyMonitor("order01-a-b.an2", &prompt).code(), Status::Code::kNotFound);
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, kNoMonitorText);
  EXPECT_EQ(prompt.shown[0].title, "Zelvora2");

  std::atomic<winmsg::HWND> hwnd{0};
  std::string got, got_key;
  std::thread monitor([&] {
    auto w = winmsg::CreateWindow(
        kMonitorClass, "monitor",
        [&](winmsg::HWND h, winmsg::UINT m, winmsg::WPARAM wp, winmsg::LPARAM lp) -> winmsg::LRESULT {
          if (m == kMonitorAddResult) {
            auto block = shm::SharedBlock::Open(kMonitorBlock, shm::Access::kRead);
            if (block.ok()) {
              got = reinterpret_cast<const char*>(block->bytes().data());
              got_key = reinterpret_cast<const char*>(block->bytes().data()) + got.size() + 1;
            }
            winmsg::PostQuitMessage(0);
            return 1;
          }
          return winmsg::DefWindowProc(h, m, wp, lp);
        });
    if (!w.ok()) return;
    hwnd = *w;
    winmsg::RunMessageLoop();
    winmsg::DestroyWindow(*w);
  });
  for (int i = 0; i < 200 && hwnd == 0; ++i) std::this_thread::sleep_for(10ms);
  ASSERT_NE(hwnd.load(), 0u);
  EXPECT_TRUE(NotifyMonitor("order01-tanaka-PC01.an2", &prompt, 5000ms, "0123456789abcdef01234567").ok());
  monitor.join();
  EXPECT_EQ(got, "order01-tanaka-PC01.an2");
  EXPECT_EQ(got_key, "0123456789abcdef01234567");
  EXPECT_EQ(shm::SharedBlock::Open(kMonitorBlock, shm::Access::kRead).status().code(), Status::Code::kNotFound);
}

}  // namespace
}  // namespace zv::client
