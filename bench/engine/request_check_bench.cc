// The request check against a print log of 1,000,000 rows (ZELVORA_BENCH_ROWS sets another
// count, e.g. 10000000) for 1,000 users on the embedded SQLite database: user, group and
// printer look-ups, the period sum of the printer's kind and the duplicate search per
// check; and the period sums of both kinds of an answer (one statement).
//
// On PostgreSQL: ZELVORA_BENCH_DSN names a database made by SetupDatabase and filled the same
// way, e.g. for 10,000,000 rows (then VACUUM ANALYZE, as autovacuum would, so that the sums
// read the index alone):
//   INSERT INTO Groups SELECT x,'group'||x,5000,2000,1 FROM generate_series(1,10) x;
//   INSERT INTO Printers VALUES (1,'Mono A',0,1),(2,'Mono B',0,1),(3,'Color A',1,1),(4,'Color B',1,1);
//   INSERT INTO Main SELECT x,'user'||x,'User '||x,(x%10)+1,(x%4),3000,1000,'user'||x||'@example.com',1
//     FROM generate_series(1,1000) x;
//   INSERT INTO PrintLog SELECT x+1, x/10000+1, (x%4)+1, DATE '2025-05-01' + ((x%10000)*365/10000),
//     make_time(x%24, x%60, (x*7)%60), 'job'||x, 'spool'||x, (x%7)+1, CASE WHEN x%4>=2 THEN 1 ELSE 0 END,
//     0, 9, (x%7)+1 FROM generate_series(0, 9999999) x;
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "engine/core/request_check.h"
#include "engine/core/settings_store.h"
#include "engine/db/schema.h"
#include "engine/db/zvm_database.h"
#include "platform/odbc/odbc.h"
#include "platform/registry/registry.h"
#include "platform/testing/temp_root.h"

namespace zv::engine {
namespace {

constexpr int kUsers = 1000;

int64_t RowCount() {
  static const int64_t rows = [] {
    const char* v = std::getenv("ZELVORA_BENCH_ROWS");
    long long n = v ? std::atoll(v) : 0;
    return n >= kUsers ? static_cast<int64_t>(n) : int64_t{1000000};
  }();
  return rows;
}

struct World {
  zv::testing::TempRoot root;
  EngineSettings settings;
  std::vector<CRequestInfo> requests;
  bool ok = false;
};

// One request per user, to the four printers in turn.
void AddRequests(World* w) {
  static const char* const kPrinters[] = {"Mono A", "Color A", "mono b", "COLOR B"};
  for (int u = 1; u <= kUsers; ++u) {
    CRequestInfo r;
    r.ParseRequestText("[RequestInfo]\nAccountName=USER" + std::to_string(u) +
                       "\nMachineName=PC01\nJobFileName=j.prc\nJobName=new job\nJobPages=3\nDeviceName=" +
                       kPrinters[u % 4] + "\nPaperSize=9\n");
    w->requests.push_back(r);
  }
  w->ok = true;
}

World* Setup() {
  static World* world = [] {
    auto* w = new World();
    auto key = registry::Key::Create(registry::RootKey::kLocalMachine, kZelvoraKey);
    if (!key.ok()) return w;
    (void)key->SetString("AppPath", w->root.str() + "/app");
    (void)key->SetString("ShareDir", "share");
    (void)key->SetDword("LimitAction", 4);
    (void)key->SetDword("LimitDate", 20260430);
    // ZELVORA_BENCH_DSN: a connection string of a database already filled the same way
    // (e.g. a PostgreSQL one); the embedded database is made and filled otherwise.
    const char* given = std::getenv("ZELVORA_BENCH_DSN");
    auto dsn = given && *given ? Result<std::string>(std::string(given)) : SetupEmbeddedDatabase();
    if (!dsn.ok()) return w;
    (void)key->SetString("DSN", *dsn);
    auto c = odbc::Connection::Open(*dsn, "", "");
    if (!c.ok()) return w;
    auto& conn = **c;
    auto t0 = std::chrono::steady_clock::now();
    if (given && *given) {
      if (!LoadSettings(&w->settings, 20260415).ok()) return w;
      AddRequests(w);
      return w;
    }
    auto run = [&](const std::string& sql) {
      auto r = conn.Execute(sql);
      if (!r.ok()) std::fprintf(stderr, "%s: %s\n", sql.c_str(), r.status().ToString().c_str());
      return r.ok();
    };
    bool fine = run("INSERT INTO Groups (GID,GroupName,MaxPages,MaxPages_Color,Used) WITH RECURSIVE g(x) AS "
                    "(SELECT 1 UNION ALL SELECT x+1 FROM g WHERE x<10) SELECT x,'group'||x,5000,2000,1 FROM g") &&
                run("INSERT INTO Printers (PID,PrinterName,Ptype,Used) VALUES (1,'Mono A',0,1),(2,'Mono B',0,1),"
                    "(3,'Color A',1,1),(4,'Color B',1,1)") &&
                run("INSERT INTO Main (UID,Account,UserName,GID,CountShubetsu,MaxPages,MaxPages_Color,Mail,Used) "
                    "WITH RECURSIVE u(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM u WHERE x<" +
                    std::to_string(kUsers) +
                    ") SELECT x,'user'||x,'User '||x,(x%10)+1,(x%4),3000,1000,'user'||x||'@example.com',1 FROM u") &&
                // Rows in the order of the user index (user, then date), as a year of printing would
                // leave them: 1,000 rows a user over the year up to the end of April 2026.
                run("INSERT INTO PrintLog (ID,UID,PID,PDate,PTime,JobName,SpoolName,Pages,Ptype,ThumbnailCount,"
                    "PaperSize,JobPages) WITH RECURSIVE c(x) AS (SELECT 0 UNION ALL SELECT x+1 FROM c WHERE x<" +
                    std::to_string(RowCount() - 1) + ") SELECT x+1, x/" + std::to_string(RowCount() / kUsers) +
                    "+1, (x%4)+1,"
                    " date('2025-05-01','+'||((x%" + std::to_string(RowCount() / kUsers) + ")*365/" +
                    std::to_string(RowCount() / kUsers) + ")||' days'),"
                    " printf('%02d:%02d:%02d',x%24,x%60,(x*7)%60), 'job'||x, 'spool'||x, (x%7)+1,"
                    " CASE WHEN x%4>=2 THEN 1 ELSE 0 END, 0, 9, (x%7)+1 FROM c") &&
                run("ANALYZE");
    if (!fine) return w;
    std::fprintf(stderr, "print log of %lld rows made in %.1f s\n", static_cast<long long>(RowCount()),
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    if (!LoadSettings(&w->settings, 20260415).ok()) return w;
    AddRequests(w);
    return w;
  }();
  return world;
}

void BM_RequestCheck(benchmark::State& state) {
  World* w = Setup();
  if (!w->ok) {
    state.SkipWithError("setup failed");
    return;
  }
  EngineSettings settings = w->settings;
  settings.PeriodIndex = static_cast<int32_t>(state.range(0));
  size_t i = 0;
  int64_t refused = 0;
  for (auto _ : state) {
    CRequestInfo request = w->requests[i++ % w->requests.size()];
    CRequestResult result;
    result.Init();
    RequestCheck check(settings, nullptr);
    CheckStep r = check.Run(request, result);
    if (result.ResultCode == kResultDatabaseError) {
      state.SkipWithError("database error");
      return;
    }
    refused += r == CheckStep::kRefused;
    benchmark::DoNotOptimize(result);
  }
  state.counters["checks/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["refused"] = static_cast<double>(refused);
}
// Period index 3 (one month) and 0 (everything up to the end: the whole year of each user).
BENCHMARK(BM_RequestCheck)->Arg(3)->Arg(0)->Unit(benchmark::kMicrosecond);

void BM_AnswerTotals(benchmark::State& state) {
  World* w = Setup();
  if (!w->ok) {
    state.SkipWithError("setup failed");
    return;
  }
  CZvmDatbase db(w->settings.DSN, w->settings.UID, w->settings.PWD);
  size_t i = 0;
  for (auto _ : state) {
    const std::string& account = w->requests[i++ % w->requests.size()].AccountName;
    int64_t mono = 0, color = 0;
    if (!GetPeriodPageTotals(db, 3, 0, 20260430, account, &mono, &color)) {
      state.SkipWithError("sum failed");
      return;
    }
    benchmark::DoNotOptimize(mono + color);
  }
  state.counters["answers/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AnswerTotals)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace zv::engine

BENCHMARK_MAIN();
