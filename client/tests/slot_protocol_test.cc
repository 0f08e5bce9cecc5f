// The hand-over against the real engine: a client root joined to the engine's share through
// net/SERVER/SHARE, many ostrane-send processes placing requests at once. Every request is
// answered exactly once, none is set aside, and no slot ever holds two requests (a lost
// request would be missing from the print log).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <unistd.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "client/answer.h"
#include "client/handover.h"
#include "engine/hevrasto/server_setup.h"
#include "engine/hevrasto/share_files.h"
#include "engine/hevrasto/tests/engine_harness.h"
#include "platform/fs/files.h"
#include "platform/process/process.h"
#include "platform/testing/bin_dir.h"
#include "platform/testing/temp_root.h"

namespace zv::client {
namespace {

namespace fsys = std::filesystem;
using engine::testing::EngineHarness;

// A client's own runtime root, made without touching this process's ZELVORA_ROOT (which is
// the engine's).
struct ClientRoot {
  ClientRoot() {
    std::string pattern = (fsys::temp_directory_path() / "zelvora-client.XXXXXX").string();
    if (mkdtemp(pattern.data())) path = pattern;
  }
  ~ClientRoot() {
    std::error_code ec;
    fsys::remove_all(path, ec);
  }
  std::string path;
};

int RunTool(const std::vector<std::string>& argv, const std::string& root) {
  process::StartOptions o;
  o.argv = argv;
  o.env = {"ZELVORA_ROOT=" + root};
  auto p = process::Start(o);
  if (!p.ok()) return -1;
  auto rc = p->Wait(120000);
  return rc.ok() ? *rc : -1;
}

TEST(SlotProtocol, ManyClientsAgainstTheEngine) {
  // 20 clients x 5 requests, all at once: each request is answered before its client sends
  // the next, so the test's time is the engine's, which serves one request after the other
  // and prints each (about 20 ms on a quiet machine, far more on a busy one); 20 x 50 takes
  // a minute or more and tells nothing more about the slots.
  constexpr int kClients = 20;
  constexpr int kRequests = 5;
  zv::testing::TempRoot root;
  EngineHarness h(root, 0);
  h.Sql("UPDATE Main SET MaxPages=0, MaxPages_Color=0 WHERE Account='alice'");  // no limit
  ClientRoot client;
  ASSERT_FALSE(client.path.empty());
  const std::string tool = zv::testing::BinPath("ostrane-send");
  ASSERT_EQ(RunTool({tool, "join", h.share()}, client.path), 0);
  const std::string job = client.path + "/job.prc";
  ASSERT_TRUE(engine::WriteSampleJob(job, 1).ok());
  h.StartEngine();

  std::vector<process::Process> running;
  for (int c = 0; c < kClients; ++c) {
    process::StartOptions o;
    o.argv = {tool,        "send",
              "--account", "alice",
              "--machine", "pc" + std::to_string(c),
              "--printer", "Office",
              "--count",   std::to_string(kRequests),
              "--tag",     "c" + std::to_string(c),
              "--wait",    "100",
              job};
    o.env = {"ZELVORA_ROOT=" + client.path};
    o.output_file = client.path + "/out" + std::to_string(c) + ".txt";
    auto p = process::Start(o);
    ASSERT_TRUE(p.ok()) << p.status().ToString();
    running.push_back(std::move(*p));
  }
  for (int c = 0; c < kClients; ++c) {
    auto rc = running[c].Wait(170000);
    ASSERT_TRUE(rc.ok());
    EXPECT_EQ(*rc, 0) << *fs::ReadFile(client.path + "/out" + std::to_string(c) + ".txt");
  }

  // Each client read one answer per request, and every answer says printed.
  for (int c = 0; c < kClients; ++c) {
    auto out = fs::ReadFile(client.path + "/out" + std::to_string(c) + ".txt");
    ASSERT_TRUE(out.ok());
    std::istringstream lines(*out);
    std::string line;
    int answers = 0;
    while (std::getline(lines, line)) {
      if (line.rfind("order", 0) != 0) continue;
      ++answers;
      EXPECT_NE(line.find(" result=0 "), std::string::npos) << line;
    }
    EXPECT_EQ(answers, kRequests) << *out;
  }
  // The print log holds every request exactly once.
  std::map<std::string, int> printed;
  for (const auto& row : h.PrintLog()) ++printed[row.JobName];
  EXPECT_EQ(printed.size(), static_cast<size_t>(kClients * kRequests));
  for (int c = 0; c < kClients; ++c)
    for (int r = 0; r < kRequests; ++r)
      EXPECT_EQ(printed["c" + std::to_string(c) + "-" + std::to_string(r)], 1) << c << "/" << r;
  std::error_code ec;
  EXPECT_FALSE(fsys::exists(h.print_info() + "/Rejected", ec) && !fsys::is_empty(h.print_info() + "/Rejected", ec));
  EXPECT_EQ(h.StopEngine(), 0);
}

// smbnetfs as the client sees it, and slow: each request slot is claimed and written in
// small pieces, so that the engine meets claims still being written.
class SlowSmb : public share::NetworkMountOps {
 public:
  explicit SlowSmb(std::string request_folder)
      : share::NetworkMountOps(share::DefaultFileOps(), share::MountKind::kSmbnetfs),
        folder_(std::move(request_folder)) {}
  int Open(const std::string& path, int flags, mode_t mode) override {
    int fd = share::NetworkMountOps::Open(path, flags, mode);
    if (fd >= 0 && path.rfind(folder_ + "/order", 0) == 0) slow_.insert(fd);
    return fd;
  }
  ssize_t Write(int fd, const void* data, size_t size) override {
    if (!slow_.count(fd)) return share::NetworkMountOps::Write(fd, data, size);
    ::usleep(300);
    return share::NetworkMountOps::Write(fd, data, std::min<size_t>(size, 40));
  }
  int Close(int fd) override {
    slow_.erase(fd);
    return share::NetworkMountOps::Close(fd);
  }

 private:
  std::string folder_;
  std::set<int> slow_;
};

TEST(SlotProtocol, ClaimsWrittenInPiecesOverAMountWithoutRenameAreEachServedOnce) {
  // 8 clients x 5 requests through a mount that can neither rename without replacing nor
  // link: every slot is claimed and written in place, in pieces. The engine takes each
  // request once it is whole, serves it once, and each client reads the answer carrying
  // its own request's key.
  constexpr int kClients = 8;
  constexpr int kRequests = 5;
  zv::testing::TempRoot root;
  EngineHarness h(root, 0);
  h.Sql("UPDATE Main SET MaxPages=0, MaxPages_Color=0 WHERE Account='alice'");  // no limit
  ASSERT_TRUE(fs::MakeDirs(root.str() + "/net/SRV").ok());
  ASSERT_EQ(::symlink(h.share().c_str(), (root.str() + "/net/SRV/share").c_str()), 0);
  const std::string job = root.str() + "/job.prc";
  ASSERT_TRUE(engine::WriteSampleJob(job, 1).ok());
  auto bytes = fs::ReadFile(job);
  ASSERT_TRUE(bytes.ok());
  const std::vector<uint8_t> packed(bytes->begin(), bytes->end());
  h.StartEngine();

  std::mutex m;
  std::vector<std::string> failures;
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c)
    clients.emplace_back([&, c] {
      ClientConfig config;
      config.server_name = "\\\\SRV";
      config.share_name = "share";
      config.account = "alice";
      config.machine = "pc" + std::to_string(c);
      SlowSmb mount(*config.RequestFolder());
      HandOverOptions options;
      options.ops = &mount;
      auto fail = [&](const std::string& why) {
        std::lock_guard<std::mutex> l(m);
        failures.push_back(config.machine + ": " + why);
      };
      for (int r = 0; r < kRequests; ++r) {
        RequestOrder order;
        order.jobs = {{"c" + std::to_string(c) + "-" + std::to_string(r), 1}};
        order.device = "Office";
        order.paper = -1;  // the document's own paper
        HandOverResult sent;
        for (int attempt = 0; attempt < 2000; ++attempt) {
          sent = SendRequest(config, packed, order, nullptr, options);
          if (sent.outcome != HandOverResult::kBusy) break;
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (sent.outcome != HandOverResult::kHandedOver) return fail("not handed over: " + sent.error);
        const std::string copy = *config.ResultFolder() + "/" + sent.answer_copy;
        std::optional<AnswerInfo> answer;
        for (int i = 0; i < 12000 && !answer; ++i) {
          answer = ReadAnswerOf(copy, QuotaState{}, sent.request_id, false);
          if (!answer) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!answer) return fail("no answer for " + sent.slot_base);
        if (answer->code != 0)
          fail("result " + std::to_string(answer->code) + " for " + sent.slot_base + ": " + answer->message);
        ::unlink(copy.c_str());
      }
    });
  for (auto& t : clients) t.join();
  EXPECT_TRUE(failures.empty()) << failures.front();

  std::map<std::string, int> printed;
  for (const auto& row : h.PrintLog()) ++printed[row.JobName];
  EXPECT_EQ(printed.size(), static_cast<size_t>(kClients * kRequests));
  for (const auto& [name, times] : printed) EXPECT_EQ(times, 1) << name;
  std::error_code ec;
  EXPECT_FALSE(fsys::exists(h.print_info() + "/Rejected", ec) && !fsys::is_empty(h.print_info() + "/Rejected", ec));
  EXPECT_EQ(h.StopEngine(), 0);
}

}  // namespace
}  // namespace zv::client
