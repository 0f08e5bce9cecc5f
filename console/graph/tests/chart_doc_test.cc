#include "console/graph/chart_doc.h"

#include <gtest/gtest.h>

#include "console/core/registry_config.h"
#include "console/db/console_database.h"
#include "engine/db/schema.h"
#include "engine/rules/quota_period.h"
#include "platform/odbc/testing/postgres_server.h"
#include "platform/testing/temp_root.h"

namespace zv::console {
namespace {

constexpr int32_t kToday = 20260415;  // a Wednesday

class RecordingSink : public MessageSink {
 public:
  int Show(const std::string& text, uint32_t) override {
    shown.push_back(text);
    return kIdOk;
  }
  std::vector<std::string> shown;
};

// Counts the grouped queries and can be told to fail.
class CountingSource : public GraphSource {
 public:
  explicit CountingSource(GraphSource& inner) : inner_(inner) {}
  bool SumByUserDay(const std::vector<int32_t>& uids, int32_t first, int32_t last,
                    std::map<std::pair<int32_t, int32_t>, int64_t>* out) override {
    ++sums;
    return !fail && inner_.SumByUserDay(uids, first, last, out);
  }
  bool EarliestDay(const std::vector<int32_t>& uids, int32_t* day) override {
    return !fail && inner_.EarliestDay(uids, day);
  }
  int sums = 0;
  bool fail = false;

 private:
  GraphSource& inner_;
};

engine::UserRecord User(int32_t uid) {
  engine::UserRecord u;
  u.UID = uid;
  u.Account = "user" + std::to_string(uid);
  return u;
}

// "label:v1,v2,... label:..." of a graph, oldest point first.
std::string Render(const ChartData& d) {
  std::string s;
  for (int p = 0; p < d.point_count; ++p) {
    if (p) s += ' ';
    s += d.labels[p] + ':';
    for (int i = 0; i < d.series_count; ++i) s += (i ? "," : "") + std::to_string(static_cast<int>(d.values[i][p]));
  }
  return s;
}

// Runs every case on the embedded SQLite database and on a PostgreSQL server.
class ChartDocTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "sqlite") {
      auto dsn = engine::SetupEmbeddedDatabase();
      ASSERT_TRUE(dsn.ok()) << dsn.status().ToString();
      dsn_ = *dsn;
    } else {
      Status why;
      auto* pg = zv::testing::SharedPostgresServer(&why);
      if (!pg) GTEST_SKIP() << why.ToString();
      static int n = 0;
      std::string name = "zvgraph" + std::to_string(++n);
      ASSERT_TRUE(pg->CreateDatabase(name).ok());
      dsn_ = pg->ConnectionString(name);
      Status s = engine::SetupDatabase(dsn_, "", "");
      ASSERT_TRUE(s.ok()) << s.ToString();
    }
    // user1: 5 pages today (3 monochrome, 2 colour), 4 on 04/13, 7 on 04/02, 1 on 03/30;
    // user2: 6 colour pages on 04/14, 10 on 03/01; user3 has no print log.
    const int rows[][4] = {{1, 20260415, 3, 0}, {1, 20260415, 2, 1}, {1, 20260413, 4, 0}, {1, 20260402, 7, 0},
                           {1, 20260330, 1, 0}, {2, 20260414, 6, 1}, {2, 20260301, 10, 0}};
    CConsoleDatabase db(dsn_, "", "");
    int id = 0;
    for (const auto& r : rows) {
      ASSERT_TRUE(db.ExecuteQuery(
          "INSERT INTO PrintLog (ID,UID,PID,PDate,PTime,Pages,Ptype) VALUES (?,?,?,?,?,?,?)",
          {int64_t{++id}, int64_t{r[0]}, int64_t{1}, odbc::Date{r[1] / 10000, r[1] / 100 % 100, r[1] % 100},
           odbc::Time{10, 0, 0}, int64_t{r[2]}, int64_t{r[3]}},
          nullptr, nullptr))
          << db.ErrorLines.front();
    }
  }
  zv::testing::TempRoot root_;
  std::string dsn_;
};

TEST_P(ChartDocTest, BuildersGiveLabelsValuesAndTexts) {
  struct Case {
    const char* name;
    ChartPeriod period;
    int32_t check_index, check_days;
    std::optional<int32_t> limit_date;
    const char* title;
    const char* period_text;
    const char* unit;
    const char* points;
  };
  const Case cases[] = {
      {"this week",
       {2},
       3,
       0,
       {},
       "印刷枚数 (今週)",
       "2026/04/12(日)～2026/04/18(土)",
       "（日）",
       "04/12:0,0,0 04/13:4,0,0 04/14:0,6,0 04/15:5,0,0 04/16:0,0,0 04/17:0,0,0 04/18:0,0,0"},
      {"this month",
       {1},
       3,
       0,
       {},
       "印刷枚数 (今月)",
       "2026年04月",
       "（週）",
       "04/04:7,0,0 04/11:0,0,0 04/18:9,6,0 04/25:0,0,0 04/30:0,0,0"},
      {"standard one month",
       {0},
       3,
       0,
       {},
       "印刷枚数（標準：1ヶ月)",
       "2026年04月",
       "（週）",
       "04/04:7,0,0 04/11:0,0,0 04/18:9,6,0 04/25:0,0,0 04/30:0,0,0"},
      {"standard reads a stored 3 as 0", {3}, 1, 0, {}, "印刷枚数（標準：1日)", "2026/04/15", "（日）", "04/15:5,0,0"},
      {"standard week",
       {0},
       2,
       0,
       {},
       "印刷枚数（標準：1週間)",
       "2026/04/12(日)～2026/04/18(土)",
       "（日）",
       "04/12:0,0,0 04/13:4,0,0 04/14:0,6,0 04/15:5,0,0 04/16:0,0,0 04/17:0,0,0 04/18:0,0,0"},
      {"standard N days to LimitDate",
       {0},
       4,
       5,
       20260416,
       "印刷枚数 (標準：5日間)",
       "2026/04/12～2026/04/16",
       "（日）",
       "04/12:0,0,0 04/13:4,0,0 04/14:0,6,0 04/15:5,0,0 04/16:0,0,0"},
      {"standard without limit",
       {0},
       0,
       0,
       {},
       "印刷枚数（標準：無期限)",
       "2026年03月～2026年04月",
       "（週）",
       "03/07:0,10,0 03/14:0,0,0 03/21:0,0,0 03/28:0,0,0 04/04:8,0,0 04/11:0,0,0 04/15:9,6,0"},
      {"past 3 days",
       {4, 1, 3},
       3,
       0,
       {},
       "印刷枚数 (期間指定：過去3日間)",
       "2026/04/13～2026/04/15",
       "（日）",
       "04/13:4,0,0 04/14:0,6,0 04/15:5,0,0"},
      {"date range",
       {4, 2, 1, 20260329, 20260402},
       3,
       0,
       {},
       "印刷枚数 (期間指定：日付指定)",
       "2026/03/29～2026/04/02",
       "（日）",
       "03/29:0,0,0 03/30:1,0,0 03/31:0,0,0 04/01:0,0,0 04/02:7,0,0"},
      {"date range given backwards",
       {4, 2, 1, 20260402, 20260329},
       3,
       0,
       {},
       "印刷枚数 (期間指定：日付指定)",
       "2026/03/29～2026/04/02",
       "（日）",
       "03/29:0,0,0 03/30:1,0,0 03/31:0,0,0 04/01:0,0,0 04/02:7,0,0"},
      {"past 1 month",
       {4, 0, 1},
       3,
       0,
       {},
       "印刷枚数 (期間指定：過去1ヶ月間)",
       "2026年03月～2026年04月",
       "（週）",
       "03/21:0,0,0 03/28:0,0,0 04/04:8,0,0 04/11:0,0,0 04/15:9,6,0"},
  };
  DatabaseGraphSource db_source(dsn_, "", "");
  CountingSource source(db_source);
  CConsoleDatabase db(dsn_, "", "");
  const std::vector<engine::UserRecord> users = {User(1), User(2), User(3)};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GraphEnvironment env{kToday, 0, c.check_index, c.check_days, c.limit_date};
    ChartData d;
    bool limited = true;
    source.sums = 0;
    ASSERT_TRUE(BuildChartData(c.period, users, env, source, &d, &limited));
    EXPECT_FALSE(limited);
    EXPECT_EQ(source.sums, 1);
    EXPECT_EQ(d.title, c.title);
    EXPECT_EQ(d.period_text, c.period_text);
    EXPECT_EQ(d.unit_text, c.unit);
    EXPECT_EQ(Render(d), c.points);
    EXPECT_EQ(d.names, (std::vector<std::string>{"user1", "user2", "user3"}));
    // The grouped query gives what one page-sum query per point gives.
    for (int p = 0; p < d.point_count; ++p) {
      std::vector<UserPageRow> rows(3);
      for (int i = 0; i < 3; ++i) rows[i].UID = users[i].UID;
      ASSERT_TRUE(db.SumUserPagesOnly(&rows, d.point_days[p].first, d.point_days[p].second));
      for (int i = 0; i < 3; ++i) EXPECT_EQ(d.values[i][p], rows[i].MonoPages + rows[i].ColorPages) << p;
    }
  }
}

TEST_P(ChartDocTest, WeeksStartOnMondayWithWeekFlag) {
  DatabaseGraphSource source(dsn_, "", "");
  GraphEnvironment env{kToday, 1, 3, 0, {}};
  ChartData d;
  bool limited = false;
  ASSERT_TRUE(BuildChartData({2}, {User(1)}, env, source, &d, &limited));
  EXPECT_EQ(d.period_text, "2026/04/13(月)～2026/04/19(日)");
  EXPECT_EQ(Render(d), "04/13:4 04/14:0 04/15:5 04/16:0 04/17:0 04/18:0 04/19:0");
}

TEST_P(ChartDocTest, StandardWithoutLimitAndNoLogIsTheCurrentWeek) {
  DatabaseGraphSource source(dsn_, "", "");
  ChartData d;
  bool limited = false;
  ASSERT_TRUE(BuildChartData({0}, {User(3)}, {kToday, 0, 0, 0, {}}, source, &d, &limited));
  EXPECT_EQ(Render(d), "04/15:0");
  EXPECT_EQ(d.period_text, "2026年04月");
  // No users at all: still the labels, no series.
  ASSERT_TRUE(BuildChartData({4, 1, 2}, {}, {kToday, 0, 3, 0, {}}, source, &d, &limited));
  EXPECT_EQ(d.series_count, 0);
  EXPECT_EQ(d.labels, (std::vector<std::string>{"04/14", "04/15"}));
}

TEST_P(ChartDocTest, LongRangesStopAtThePointLimit) {
  DatabaseGraphSource db_source(dsn_, "", "");
  CountingSource source(db_source);
  RecordingSink sink;
  CChartDoc doc(source, sink, [] { return GraphEnvironment{kToday, 0, 3, 0, {}}; });
  const int32_t first_shown = engine::AddDays(kToday, -999);
  doc.SetPeriodRange(4, 2, engine::AddDays(kToday, -1199), kToday);
  ASSERT_TRUE(doc.SetItems({User(1)}));
  const ChartData& d = doc.Data();
  EXPECT_EQ(d.point_count, 1000);
  EXPECT_EQ(d.labels.front(), "07/21");
  EXPECT_EQ(first_shown, 20230721);
  EXPECT_EQ(d.labels.back(), "04/15");
  EXPECT_EQ(d.period_text, "2023/07/21～2026/04/15");
  EXPECT_EQ(d.values[0].back(), 5);
  EXPECT_EQ(source.sums, 1);
  ASSERT_EQ(sink.shown.size(), 1u);
  EXPECT_EQ(sink.shown[0], GetAppMessage(22, nullptr));

  // 999 past days stay under the limit: no second message.
  doc.SetPeriod(4, 1, 999);
  ASSERT_TRUE(doc.Recalculate());
  EXPECT_EQ(doc.Data().point_count, 999);
  EXPECT_EQ(sink.shown.size(), 1u);
}

TEST_P(ChartDocTest, SeventeenUsersGiveSixteenSeriesAndFailureKeepsTheData) {
  DatabaseGraphSource db_source(dsn_, "", "");
  CountingSource source(db_source);
  RecordingSink sink;
  CChartDoc doc(source, sink, [] { return GraphEnvironment{kToday, 0, 3, 0, {}}; });
  int updates = 0;
  doc.SetUpdateHook([&] { ++updates; });
  std::vector<engine::UserRecord> users;
  for (int i = 1; i <= 17; ++i) users.push_back(User(i));
  doc.SetPeriod(2, 0, 1);
  ASSERT_TRUE(doc.SetItems(users));
  EXPECT_EQ(doc.Items().size(), 16u);
  EXPECT_EQ(doc.Data().series_count, 16);
  EXPECT_EQ(doc.Data().names.back(), "user16");
  EXPECT_EQ(updates, 1);

  source.fail = true;
  doc.SetPeriod(1, 0, 1);
  EXPECT_FALSE(doc.Recalculate());
  EXPECT_EQ(doc.Data().title, "印刷枚数 (今週)");
  EXPECT_EQ(updates, 1);
  EXPECT_TRUE(sink.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(Databases, ChartDocTest, ::testing::Values("sqlite", "postgres"));

TEST(GraphEnvironment, ReadsTheRegistryWithTheEngineDefault) {
  zv::testing::TempRoot root;
  CConsoleSettings settings;
  GraphEnvironment env = ReadGraphEnvironment(settings, kToday);
  EXPECT_EQ(env.today, kToday);
  EXPECT_EQ(env.check_index, 3);  // no "CheckRange": one month
  EXPECT_EQ(env.week_flag, 0);
  EXPECT_FALSE(env.limit_date);
  ASSERT_TRUE(settings.SetCheckRange(4, 10));
  ASSERT_TRUE(settings.SetLimitDate(20260420));
  env = ReadGraphEnvironment(settings, kToday);
  EXPECT_EQ(env.check_index, 4);
  EXPECT_EQ(env.check_days, 10);
  EXPECT_EQ(env.limit_date, 20260420);
}

TEST(ChartTypeCode, FollowsTheGraphType) {
  EXPECT_EQ(ChartTypeCode(kGraphLine), 9);
  EXPECT_EQ(ChartTypeCode(kGraphLine3D), 12);
  EXPECT_EQ(ChartTypeCode(kGraphBar), 1);
  EXPECT_EQ(ChartTypeCode(kGraphBar3D), 5);
}

}  // namespace
}  // namespace zv::console
