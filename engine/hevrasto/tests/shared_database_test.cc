// Two engine processes, each with its own root and share, on one PostgreSQL database: rows
// of both are numbered without clashes, and a user's limit holds up to the jobs in flight
// on the other engine (the quota check and the insert are separate steps).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>

#include "engine/hevrasto/tests/engine_harness.h"
#include "platform/odbc/testing/postgres_server.h"

namespace zv::engine::testing {
namespace {
namespace fsys = std::filesystem;

struct Engine {
  std::unique_ptr<zv::testing::TempRoot> root;
  std::unique_ptr<EngineHarness> h;
};

void StopBoth(Engine* engines) {
  for (int i = 1; i >= 0; --i) {
    ASSERT_TRUE(engines[i].h->engine().Kill(15).ok());
    auto code = engines[i].h->engine().Wait(30000);
    EXPECT_TRUE(code.ok() && *code == 0);
  }
}

TEST(SharedDatabase, TwoEnginesNumberRowsApartAndKeepTheLimitBound) {
  Status why;
  auto* pg = zv::testing::SharedPostgresServer(&why);
  if (!pg) GTEST_SKIP() << why.ToString();
  ASSERT_TRUE(pg->CreateDatabase("zvshared").ok());
  const std::string dsn = pg->ConnectionString("zvshared");

  Engine engines[2];
  for (int i = 0; i < 2; ++i) {
    // Each root is made (and becomes $ZELVORA_ROOT) before its engine starts.
    engines[i].root = std::make_unique<zv::testing::TempRoot>();
    ServerSetupOptions o;
    o.dsn = dsn;
    o.seed = i == 0;
    engines[i].h = std::make_unique<EngineHarness>(*engines[i].root, 0, o);
    engines[i].h->StartEngine();
  }

  // Requests of a user far from the limit, fed to both engines at once: every one prints,
  // and each row is stored at once under its own number.
  struct Placed {
    int engine;
    std::string account, machine, slot;
  };
  std::vector<Placed> placed;
  constexpr int kEach = 10;
  for (int n = 0; n < kEach; ++n) {
    for (int i = 0; i < 2; ++i) {
      std::string machine = "e" + std::to_string(i) + "m" + std::to_string(n);
      std::string job = machine + ".prc";
      engines[i].h->WriteJob(job, 1);
      placed.push_back(
          {i, "alice", machine,
           engines[i].h->Submit(EngineHarness::RequestText(RequestSpec{"alice", machine, job, {{"J", 1}}}))});
    }
  }
  for (const auto& p : placed)
    EXPECT_EQ(EngineHarness::ResultCode(engines[p.engine].h->WaitForAnswer(p.account, p.machine, p.slot)), 0);
  auto rows = engines[0].h->PrintLog();
  EXPECT_EQ(rows.size(), 2u * kEach);
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].ID, static_cast<int32_t>(i + 1));
  for (auto& e : engines) {
    std::error_code ec;
    for (const auto& f : fsys::directory_iterator(e.root->str() + "/engine/pending-printlog", ec))
      ADD_FAILURE() << "kept: " << f.path();
  }

  // bob may print 3 pages. One-page jobs on both engines at once: at least his limit is
  // printed, and at most one more page (the job in flight on the other engine).
  placed.clear();
  for (int n = 0; n < 3; ++n) {
    for (int i = 0; i < 2; ++i) {
      std::string machine = "b" + std::to_string(i) + "m" + std::to_string(n);
      std::string job = machine + ".prc";
      engines[i].h->WriteJob(job, 1);
      placed.push_back(
          {i, "bob", machine,
           engines[i].h->Submit(EngineHarness::RequestText(RequestSpec{"bob", machine, job, {{"B", 1}}}))});
    }
  }
  int printed = 0;
  for (const auto& p : placed) {
    int code = EngineHarness::ResultCode(engines[p.engine].h->WaitForAnswer(p.account, p.machine, p.slot));
    EXPECT_TRUE(code == 0 || code == 4) << code;
    printed += code == 0;
  }
  int64_t bob_pages = 0;
  for (const auto& r : engines[0].h->PrintLog())
    if (r.UID == 2) bob_pages += r.Pages;
  EXPECT_EQ(bob_pages, printed);
  EXPECT_GE(bob_pages, 3);
  EXPECT_LE(bob_pages, 3 + 1);
  StopBoth(engines);
  // The roots go in the reverse order of their making, so $ZELVORA_ROOT is put back.
  for (int i = 1; i >= 0; --i) {
    engines[i].h.reset();
    engines[i].root.reset();
  }
}

// One engine stops right after committing a row while the other stores rows of its own:
// after its restart every job is charged once, on the one database.
TEST(SharedDatabase, AnEngineStoppedAfterItsCommitChargesOnceBesideAnother) {
  Status why;
  auto* pg = zv::testing::SharedPostgresServer(&why);
  if (!pg) GTEST_SKIP() << why.ToString();
  ASSERT_TRUE(pg->CreateDatabase("zvsharedkept").ok());
  const std::string dsn = pg->ConnectionString("zvsharedkept");
  Engine engines[2];
  for (int i = 0; i < 2; ++i) {
    engines[i].root = std::make_unique<zv::testing::TempRoot>();
    ServerSetupOptions o;
    o.dsn = dsn;
    o.seed = i == 0;
    engines[i].h = std::make_unique<EngineHarness>(*engines[i].root, 0, o);
    engines[i].h->StartEngine(i == 1 ? std::vector<std::string>{"ZELVORA_ENGINE_CRASH_AT=log-committed"}
                                     : std::vector<std::string>{});
  }
  struct Placed {
    int engine;
    std::string machine, slot;
  };
  std::vector<Placed> placed;
  for (int n = 0; n < 6; ++n) {
    const int i = n == 0 ? 1 : 0;
    std::string machine = "s" + std::to_string(n), job = machine + ".prc";
    engines[i].h->WriteJob(job, 1);
    placed.push_back(
        {i, machine,
         engines[i].h->Submit(EngineHarness::RequestText(RequestSpec{"alice", machine, job, {{machine, 1}}}))});
  }
  auto stopped = engines[1].h->engine().Wait(30000);
  ASSERT_TRUE(stopped.ok() && *stopped == 86);
  engines[1].h->StartEngine();
  for (const auto& p : placed)
    EXPECT_EQ(EngineHarness::ResultCode(engines[p.engine].h->WaitForAnswer("alice", p.machine, p.slot)), 0);
  std::map<std::string, int> rows;
  for (const auto& r : engines[0].h->PrintLog()) rows[r.JobName] += 1;
  EXPECT_EQ(rows.size(), placed.size());
  for (const auto& p : placed) EXPECT_EQ(rows[p.machine], 1) << p.machine;
  StopBoth(engines);
  for (int i = 1; i >= 0; --i) {
    engines[i].h.reset();
    engines[i].root.reset();
  }
}

}  // namespace
}  // namespace zv::engine::testing
