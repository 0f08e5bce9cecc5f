// The print-count graph at its largest: 16 users, a print-log row per user and day over
// 1,200 days, a date range cut to the 1,000-point limit, read by the one grouped query.
#include <benchmark/benchmark.h>

#include "console/db/console_database.h"
#include "console/graph/chart_doc.h"
#include "engine/db/schema.h"
#include "engine/rules/quota_period.h"
#include "platform/testing/temp_root.h"

namespace zv::console {
namespace {

void BM_GraphOfSixteenUsersOverThePointLimit(benchmark::State& state) {
  zv::testing::TempRoot root;
  auto dsn = engine::SetupEmbeddedDatabase();
  if (!dsn.ok()) {
    state.SkipWithError("no database");
    return;
  }
  constexpr int32_t kToday = 20260415;
  {
    CConsoleDatabase db(*dsn, "", "");
    db.ExecuteQuery("BEGIN", {}, nullptr, nullptr);
    int id = 0;
    for (int uid = 1; uid <= 16; ++uid) {
      for (int back = 0; back < 1200; ++back) {
        const int32_t d = engine::AddDays(kToday, -back);
        db.ExecuteQuery("INSERT INTO PrintLog (ID,UID,PID,PDate,PTime,Pages,Ptype) VALUES (?,?,?,?,?,?,?)",
                        {int64_t{++id}, int64_t{uid}, int64_t{1}, odbc::Date{d / 10000, d / 100 % 100, d % 100},
                         odbc::Time{9, 0, 0}, int64_t{back % 7 + 1}, int64_t{back % 2}},
                        nullptr, nullptr);
      }
    }
    db.ExecuteQuery("COMMIT", {}, nullptr, nullptr);
  }
  std::vector<engine::UserRecord> users(16);
  for (int i = 0; i < 16; ++i) users[i].UID = i + 1;
  DatabaseGraphSource source(*dsn, "", "");
  const ChartPeriod period{4, 2, 1, engine::AddDays(kToday, -1199), kToday};
  for (auto _ : state) {
    ChartData data;
    bool limited = false;
    if (!BuildChartData(period, users, {kToday, 0, 3, 0, {}}, source, &data, &limited) || !limited) {
      state.SkipWithError("build failed");
      return;
    }
    benchmark::DoNotOptimize(data);
  }
}
BENCHMARK(BM_GraphOfSixteenUsersOverThePointLimit)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zv::console

BENCHMARK_MAIN();
