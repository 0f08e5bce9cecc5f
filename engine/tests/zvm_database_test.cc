#include "engine/db/zvm_database.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/db/schema.h"
#include "engine/rules/quota_period.h"
#include "platform/odbc/testing/postgres_server.h"
#include "platform/testing/temp_root.h"

namespace zv::engine {
namespace {

// Runs every case on the embedded SQLite database and on a PostgreSQL server.
class DatabaseTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "sqlite") {
      auto dsn = SetupEmbeddedDatabase();
      ASSERT_TRUE(dsn.ok()) << dsn.status().ToString();
      source_ = *dsn;
    } else {
      Status why;
      auto* pg = zv::testing::SharedPostgresServer(&why);
      if (!pg) GTEST_SKIP() << why.ToString();
      static int n = 0;
      std::string name = "zvdb" + std::to_string(++n);
      ASSERT_TRUE(pg->CreateDatabase(name).ok());
      source_ = pg->ConnectionString(name);
      Status s = SetupDatabase(source_, "", "");
      ASSERT_TRUE(s.ok()) << s.ToString();
    }
    auto c = odbc::Connection::Open(source_, "", "");
    ASSERT_TRUE(c.ok());
    conn_ = std::move(*c);
  }

  void Sql(const std::string& sql, const std::vector<odbc::Value>& params = {}) {
    auto r = conn_->Execute(sql, params);
    ASSERT_TRUE(r.ok()) << sql << ": " << r.status().ToString();
  }
  void User(int uid, const std::string& account, int gid, int kind, int mono, int color, int used = 1) {
    Sql("INSERT INTO Main (UID,Account,UserName,GID,CountShubetsu,MaxPages,MaxPages_Color,Mail,Used)"
        " VALUES (?,?,?,?,?,?,?,?,?)",
        {int64_t{uid}, account, "name " + account, int64_t{gid}, int64_t{kind}, int64_t{mono}, int64_t{color},
         account + "@example.com", int64_t{used}});
  }
  void Log(int id, int uid, int date, int time, const std::string& spool, int pages, int ptype) {
    Sql("INSERT INTO PrintLog (ID,UID,PID,PDate,PTime,JobName,SpoolName,Pages,Ptype) VALUES (?,?,?,?,?,?,?,?,?)",
        {int64_t{id}, int64_t{uid}, int64_t{1}, odbc::Date{date / 10000, date / 100 % 100, date % 100},
         odbc::Time{time / 10000, time / 100 % 100, time % 100}, spool, spool, int64_t{pages}, int64_t{ptype}});
  }
  CZvmDatbase Db() { return CZvmDatbase(source_, "", ""); }

  zv::testing::TempRoot root_;
  std::string source_;
  std::unique_ptr<odbc::Connection> conn_;
};

TEST_P(DatabaseTest, SingleRowLookups) {
  User(1, "Tanaka", 10, 2, 0, 0);
  User(2, "gone", 10, 1, 0, 0, 0);
  Sql("INSERT INTO Groups (GID,GroupName,MaxPages,MaxPages_Color,Used) VALUES (10,'営業',100,30,1),(11,'old',1,1,0)");
  Sql("INSERT INTO Printers (PID,PrinterName,Ptype,Used) VALUES (1,'Office Color',1,1),(2,'Old',0,0)");
  CZvmDatbase db = Db();
  UserRecord u;
  bool found = false;
  ASSERT_TRUE(db.GetUserInfo("TANAKA", &u, &found));
  ASSERT_TRUE(found);
  EXPECT_EQ(u.UID, 1);
  EXPECT_EQ(u.Account, "Tanaka");
  EXPECT_EQ(u.CountShubetsu, 2);
  EXPECT_EQ(u.Mail, "Tanaka@example.com");
  EXPECT_EQ(u.Used, 1);
  ASSERT_TRUE(db.GetUserInfo("gone", &u, &found));
  EXPECT_FALSE(found);
  EXPECT_EQ(u.UID, 0);
  ASSERT_TRUE(db.GetUserInfo("x' OR '1'='1", &u, &found));
  EXPECT_FALSE(found);

  GroupRecord g;
  ASSERT_TRUE(db.GetGroupInfo(10, &g, &found));
  ASSERT_TRUE(found);
  EXPECT_EQ(g.GroupName, "営業");
  EXPECT_EQ(g.MaxPages_Color, 30);
  ASSERT_TRUE(db.GetGroupInfo(11, &g, &found));
  EXPECT_FALSE(found);

  PrinterRecord p;
  ASSERT_TRUE(db.GetPrinterInfo("office color", &p, &found));
  ASSERT_TRUE(found);
  EXPECT_EQ(p.PID, 1);
  EXPECT_EQ(p.Ptype, 1);
  ASSERT_TRUE(db.GetPrinterInfo("Old", &p, &found));
  EXPECT_FALSE(found);
  EXPECT_EQ(p.PID, 0);  // by name: emptied
  p.PID = 77;
  ASSERT_TRUE(db.GetPrinterInfo(2, &p, &found));
  EXPECT_FALSE(found);
  EXPECT_EQ(p.PID, 77);  // by PID: left as it was
  EXPECT_TRUE(db.ErrorLines.empty());
}

// The rows of a request read in one statement are those the three look-ups give one by
// one, whichever of them is missing.
TEST_P(DatabaseTest, RequestRowsAreTheLookUpsRows) {
  User(1, "Tanaka", 10, 2, 7, 3);
  User(2, "Sato", 11, 2, 0, 0);
  User(3, "Kato", 12, 3, 40, 20);
  User(4, "gone", 10, 1, 0, 0, 0);
  User(5, "O'Neil", 10, 2, 0, 0);
  Sql("INSERT INTO Groups (GID,GroupName,MaxPages,MaxPages_Color,Used) VALUES (10,'営業',100,30,1),(11,'old',1,1,0)");
  Sql("INSERT INTO Printers (PID,PrinterName,Ptype,Used) VALUES (1,'Office Color',1,1),(2,'Old',0,0),"
      "(3,'Mono',0,1)");
  auto text = [](const UserRecord& u, const GroupRecord& g, const PrinterRecord& p) {
    return std::to_string(u.UID) + "|" + u.Account + "|" + u.UserName + "|" + std::to_string(u.GID) + "|" +
           std::to_string(u.CountShubetsu) + "|" + std::to_string(u.MaxPages) + "|" + std::to_string(u.MaxPages_Color) +
           "|" + u.Mail + "|" + std::to_string(u.Used) + " / " + std::to_string(g.GID) + "|" + g.GroupName + "|" +
           std::to_string(g.MaxPages) + "|" + std::to_string(g.MaxPages_Color) + "|" + std::to_string(g.Used) + " / " +
           std::to_string(p.PID) + "|" + p.PrinterName + "|" + std::to_string(p.Ptype) + "|" + std::to_string(p.Used);
  };
  CZvmDatbase db = Db();
  for (const char* account : {"tanaka", "Sato", "KATO", "gone", "nobody", "o'neil"}) {
    for (const char* printer : {"office COLOR", "Mono", "Old", "none"}) {
      SCOPED_TRACE(std::string(account) + " on " + printer);
      UserRecord u;
      GroupRecord g;
      PrinterRecord p;
      bool user_found = false, group_found = false, printer_found = false;
      ASSERT_TRUE(db.GetUserInfo(account, &u, &user_found));
      if (user_found) {
        ASSERT_TRUE(db.GetGroupInfo(u.GID, &g, &group_found));
      }
      ASSERT_TRUE(db.GetPrinterInfo(printer, &p, &printer_found));
      RequestRows rows;
      rows.user_found = rows.group_found = rows.printer_found = true;  // to be set again
      ASSERT_TRUE(db.GetRequestRows(account, printer, &rows)) << db.ErrorLines.back();
      EXPECT_EQ(rows.user_found, user_found);
      EXPECT_EQ(rows.group_found, group_found);
      EXPECT_EQ(rows.printer_found, printer_found);
      EXPECT_EQ(text(rows.user, rows.group, rows.printer), text(u, g, p));
    }
  }
}

TEST_P(DatabaseTest, Lists) {
  User(3, "c", 0, 1, 0, 0);
  User(1, "a", 0, 1, 0, 0);
  User(2, "b", 0, 1, 0, 0, 0);
  Sql("INSERT INTO Groups (GID,GroupName,Used) VALUES (5,'g',0)");
  CZvmDatbase db = Db();
  std::vector<UserRecord> users;
  ASSERT_TRUE(db.GetUserInfo(&users, 0, 1));
  ASSERT_EQ(users.size(), 2u);
  EXPECT_EQ(users[0].UID, 1);
  EXPECT_EQ(users[1].UID, 3);
  ASSERT_TRUE(db.GetUserInfo(&users, 0, -1));
  EXPECT_EQ(users.size(), 3u);
  ASSERT_TRUE(db.GetUserInfo(&users, 2, -1));
  ASSERT_EQ(users.size(), 1u);
  EXPECT_EQ(users[0].Account, "b");
  std::vector<GroupRecord> groups = {GroupRecord()};
  ASSERT_TRUE(db.GetGroupInfo(&groups, 5, 1));
  EXPECT_TRUE(groups.empty());
  ASSERT_TRUE(db.GetGroupInfo(&groups, 5, -1));
  EXPECT_EQ(groups.size(), 1u);
}

TEST_P(DatabaseTest, PageSumsByKindAndPeriod) {
  User(1, "tanaka", 0, 1, 0, 0);
  User(9, "TANAKA", 0, 1, 0, 0, 0);  // a deleted row of the same account still counts
  User(2, "suzuki", 0, 1, 0, 0);
  Log(1, 1, 20260331, 120000, "a", 5, 0);  // before the month
  Log(2, 1, 20260401, 80000, "b", 7, 0);   // first day of the month
  Log(3, 1, 20260415, 90000, "c", 11, 1);
  Log(4, 9, 20260430, 235959, "d", 13, 0);  // last day, deleted user row
  Log(5, 2, 20260410, 90000, "e", 100, 0);  // another user
  Log(6, 1, 20260501, 0, "f", 17, 0);       // after the month
  CZvmDatbase db = Db();
  int64_t pages = -1;
  struct Case {
    int32_t index, days, end;
    int kind;
    int64_t want;
  };
  const Case cases[] = {
      {kPeriodMonth, 0, 20260430, kMonoPages, 20},
      {kPeriodMonth, 0, 20260430, kColorPages, 11},
      {kPeriodMonth, 0, 20260430, kAllPages, 31},
      {kPeriodWeek, 0, 20260430, kAllPages, 13},   // 24th to 30th
      {kPeriodDays, 15, 20260415, kAllPages, 18},  // 1st to 15th
      {kPeriodDays, 0, 20260401, kAllPages, 7},    // N below 1 counts as 1
      {kPeriodDay, 0, 20260415, kAllPages, 11},
      {kPeriodNone, 0, 20260430, kMonoPages, 25},  // everything up to the end
      {kPeriodMonth, 0, 20260228, kAllPages, 0},   // no rows: 0
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.index) + "/" + std::to_string(c.end) + "/" + std::to_string(c.kind));
    pages = -1;
    ASSERT_TRUE(GetPeriodPageTotal(db, c.index, c.days, c.end, "Tanaka", c.kind, &pages));
    EXPECT_EQ(pages, c.want);
    // Both kinds of one statement give the same figures.
    int64_t mono = -1, color = -1;
    ASSERT_TRUE(GetPeriodPageTotals(db, c.index, c.days, c.end, "Tanaka", &mono, &color));
    EXPECT_EQ(c.kind == kMonoPages ? mono : c.kind == kColorPages ? color : mono + color, c.want);
  }
}

// Several writers at once (engines sharing one database, each with its own connection)
// store every row: one-row inserts, which take their number without a lock, and lists,
// which take theirs under the lock, mixed. The numbers are 1..N without a gap, and a
// list's rows follow each other.
TEST_P(DatabaseTest, ConcurrentPrintLogWritersAllSucceed) {
  constexpr int kThreads = 4, kJobs = 20;
  std::atomic<int> failures{0};
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      CZvmDatbase db = Db();
      for (int j = 0; j < kJobs; ++j) {
        PrintLogRecord r;
        r.UID = 1;
        r.PID = 1;
        r.PDate = 20261210;
        r.PTime = 120000;
        r.JobName = r.SpoolName = "t" + std::to_string(t) + "-" + std::to_string(j);
        r.Pages = 1;
        // Every third job of a writer is a list of two rows.
        std::vector<PrintLogRecord> rows(j % 3 == 2 ? 2 : 1, r);
        if (!db.InsertPrintLog(rows)) ++failures;
      }
    });
  }
  for (auto& w : writers) w.join();
  EXPECT_EQ(failures.load(), 0);
  const int rows = kThreads * (kJobs + kJobs / 3);
  EXPECT_EQ(Db().GetPringLogMaxID(), rows);
  CZvmDatbase db = Db();
  int64_t count = 0, apart = -1;
  ASSERT_TRUE(db.SumPages("SELECT COUNT(*) FROM PrintLog", {}, &count));
  EXPECT_EQ(count, rows);
  // The rows of one list: their numbers differ by one.
  ASSERT_TRUE(
      db.SumPages("SELECT COUNT(*) FROM PrintLog a JOIN PrintLog b ON a.JobName=b.JobName AND a.ID<b.ID"
                  " WHERE b.ID<>a.ID+1",
                  {}, &apart));
  EXPECT_EQ(apart, 0);
}

TEST_P(DatabaseTest, InsertNumbersRowsInOneTransaction) {
  CZvmDatbase db = Db();
  EXPECT_EQ(db.GetPringLogMaxID(), 0);
  PrintLogRecord r;
  r.UID = 1;
  r.PID = 2;
  r.PDate = 20040404;
  r.PTime = 90507;
  r.JobName = "O'Brien の見積";
  r.SpoolName = "spool'1";
  r.Pages = 3;
  r.Ptype = 1;
  r.ThumbnailCount = 2;
  r.PaperSize = 9;
  r.JobPages = 6;
  ASSERT_TRUE(db.InsertPrintLog({r, r, r})) << (db.ErrorLines.empty() ? "" : db.ErrorLines[0]);
  EXPECT_EQ(db.GetPringLogMaxID(), 3);
  Sql("UPDATE PrintLog SET ID=41 WHERE ID=3");
  ASSERT_TRUE(db.InsertPrintLog({r, r, r, r}));
  EXPECT_EQ(db.GetPringLogMaxID(), 45);
  ASSERT_TRUE(db.InsertPrintLog({}));

  // A bad row in the middle stores nothing of the list.
  PrintLogRecord bad = r;
  bad.PTime = 256000;
  EXPECT_FALSE(db.InsertPrintLog({r, bad}));
  ASSERT_FALSE(db.ErrorLines.empty());
  EXPECT_EQ(db.ErrorLines[0], "CZvmDatbase::InsertPrintLog error");
  EXPECT_EQ(db.GetPringLogMaxID(), 45);

  PrintLogRecord got;
  bool found = false;
  ASSERT_TRUE(db.DupCheckPrintLog(1, "SPOOL'1", {20040404, 90000}, {20040404, 100000}, &got, &found));
  ASSERT_TRUE(found);
  EXPECT_EQ(got.ID, 45);  // the newest of the matching rows
  EXPECT_EQ(got.PDate, 20040404);
  EXPECT_EQ(got.PTime, 90507);
  EXPECT_EQ(got.JobName, "O'Brien の見積");
  EXPECT_EQ(got.Pages, 3);
  EXPECT_EQ(got.JobPages, 6);
}

TEST_P(DatabaseTest, RowsOfAKeptFileAreStoredOnceUnderItsIdentity) {
  // A database set up before the table of identities existed gets it at the first insert.
  Sql("DROP TABLE PrintLogKept");
  CZvmDatbase db = Db();
  PrintLogRecord r;
  r.UID = 1;
  r.PID = 2;
  r.PDate = 20260415;
  r.PTime = 101500;
  r.Pages = 3;
  struct Step {
    const char* id;
    std::vector<std::string> forget;
    bool already;
    int32_t max_id;
  } steps[] = {
      {"a1", {}, false, 2},      // stored: two rows
      {"a1", {}, true, 2},       // found again after its commit: nothing
      {"b2", {"a1"}, false, 4},  // a1's file is gone: its identity goes with b2's rows
      {"b2", {"b2"}, true, 4},   // an identity is never forgotten by its own store
      {"a1", {}, false, 6},      // forgotten: a file of that identity would be new rows
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.id);
    bool already = !s.already;
    ASSERT_TRUE(db.InsertKeptPrintLog({r, r}, s.id, s.forget, &already))
        << (db.ErrorLines.empty() ? "" : db.ErrorLines.back());
    EXPECT_EQ(already, s.already);
    EXPECT_EQ(db.GetPringLogMaxID(), s.max_id);
  }
  bool already = false;
  EXPECT_FALSE(db.InsertKeptPrintLog({r}, "", {}, &already));
  EXPECT_FALSE(db.InsertKeptPrintLog({r}, std::string(101, 'x'), {}, &already));
}

TEST_P(DatabaseTest, DuplicateWindow) {
  Log(1, 1, 20260101, 233500, "job", 1, 0);
  Log(2, 1, 20260102, 2500, "job", 1, 0);
  Log(3, 1, 20260102, 3500, "job", 1, 0);  // after the window
  Log(4, 2, 20260102, 1000, "job", 1, 0);  // another user
  CZvmDatbase db = Db();
  PrintLogRecord got;
  bool found = false;
  struct Case {
    DateTimeValue from, to;
    bool found;
    int id;
  };
  const Case cases[] = {
      {{20260101, 233000}, {20260102, 3000}, true, 2},  // across midnight
      {{20260101, 233000}, {20260101, 235959}, true, 1}, {{20260101, 233600}, {20260102, 2000}, false, 0},
      {{20251231, 0}, {20260103, 0}, true, 3},  // the days between count too
      {{20260102, 3600}, {20260102, 4600}, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.from.time);
    got = PrintLogRecord();
    ASSERT_TRUE(db.DupCheckPrintLog(1, "JOB", c.from, c.to, &got, &found));
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(got.ID, c.id);
    // The search beside a period sum in one statement finds the same row, and the sum is
    // the sum alone (the user's kind-0 pages up to 2 January: rows 1 to 3).
    User(1, "Tanaka", 0, 0, 0, 0);
    PrintLogRecord beside;
    bool beside_found = !c.found;
    int64_t pages = -1;
    ASSERT_TRUE(db.SumPagesAndDupCheck(kMonoPages, &pages, "tanaka", PeriodDays::kUpTo, 0, 20260102,
                                       DuplicateSearch{1, "JOB", c.from, c.to}, &beside, &beside_found));
    EXPECT_EQ(beside_found, c.found);
    EXPECT_EQ(beside.ID, c.id);
    EXPECT_EQ(beside.PTime, got.PTime);
    EXPECT_EQ(pages, 3);
    Sql("DELETE FROM Main");
  }
}

TEST_P(DatabaseTest, ErrorLines) {
  CZvmDatbase none("", "", "");
  UserRecord u;
  bool found = true;
  EXPECT_FALSE(none.GetUserInfo("a", &u, &found));
  EXPECT_FALSE(found);
  EXPECT_EQ(none.ErrorLines,
            (std::vector<std::string>{"CZvmDatbase::ConnectDB error",
                                      " 「データソース名」「アカウント」「パスワード」の取得に失敗ました。",
                                      " Unknown Error Handle:0"}));

  CZvmDatbase db = Db();
  std::unique_ptr<odbc::Rows> rows;
  EXPECT_FALSE(db.ExecuteQuery("SELECT 1", {}, &rows, nullptr));
  EXPECT_EQ(db.ErrorLines,
            (std::vector<std::string>{"CZvmDatbase::ExecuteQuery error", " INVALID PARAM", " Unknown Error Handle:0"}));
  bool empty = false;
  EXPECT_FALSE(db.ExecuteQuery("SELECT * FROM NoSuchTable", {}, &rows, &empty));
  ASSERT_GE(db.ErrorLines.size(), 3u);
  EXPECT_EQ(db.ErrorLines[1], " SELECT * FROM NoSuchTable");
  ASSERT_TRUE(db.ExecuteQuery("SELECT * FROM Main", {}, &rows, &empty));
  EXPECT_TRUE(empty);
  EXPECT_TRUE(db.ErrorLines.empty());

  CZvmDatbase missing("NoSuchSource", "", "");
  EXPECT_EQ(missing.GetPringLogMaxID(), 0);
  ASSERT_GE(missing.ErrorLines.size(), 2u);
  EXPECT_EQ(missing.ErrorLines[0], "CZvmDatbase::ConnectDB error");

  std::string quoted = "it's ''";
  CZvmDatbase::EscapeSqlQuotes(quoted);
  EXPECT_EQ(quoted, "it''s ''''");
}

TEST_P(DatabaseTest, SetupKeepsDataAndSumsUseTheIndex) {
  User(1, "a", 0, 1, 0, 0);
  ASSERT_TRUE(CreateSchema(*conn_).ok());
  CZvmDatbase db = Db();
  std::vector<UserRecord> users;
  ASSERT_TRUE(db.GetUserInfo(&users, 0, -1));
  EXPECT_EQ(users.size(), 1u);
  if (GetParam() != "sqlite") return;
  // The period sums of the check and the answer and the duplicate search must not read the
  // whole print log; the sums read their index alone.
  const odbc::Date first{2026, 1, 1}, last{2026, 1, 31};
  const std::string uids = " AND UID IN (SELECT UID FROM Main WHERE LOWER(Account)=LOWER(?))";
  const struct {
    std::string sql;
    std::vector<odbc::Value> params;
    const char* index;
  } cases[] = {
      {"SELECT SUM(Pages) FROM PrintLog WHERE PDate>=? AND PDate<=?" + uids + " AND Ptype=0",
       {first, last, std::string("a")},
       "COVERING INDEX IX_PrintLog_Kind"},
      {"SELECT (SELECT SUM(Pages) FROM PrintLog WHERE PDate>=? AND PDate<=?" + uids +
           " AND Ptype=0), (SELECT SUM(Pages) FROM PrintLog WHERE PDate>=? AND PDate<=?" + uids + " AND Ptype=1)",
       {first, last, std::string("a"), first, last, std::string("a")},
       "COVERING INDEX IX_PrintLog_Kind"},
      {"SELECT * FROM PrintLog WHERE (UID=? AND LOWER(SpoolName)=LOWER(?) AND (PDate=? AND (PTime>=? AND "
       "PTime<=?))) ORDER BY ID DESC",
       {int64_t{1}, std::string("a"), first, odbc::Time{}, odbc::Time{}},
       "INDEX IX_PrintLog_User"},
  };
  for (const auto& c : cases) {
    auto plan = conn_->Query("EXPLAIN QUERY PLAN " + c.sql, c.params);
    ASSERT_TRUE(plan.ok()) << plan.status().ToString();
    std::string text;
    while (*(*plan)->Next()) text += (*plan)->Get("detail").value_or("") + "\n";
    SCOPED_TRACE(text);
    EXPECT_EQ(text.find("SCAN PrintLog"), std::string::npos);
    EXPECT_EQ(text.find("SCAN Main"), std::string::npos);
    EXPECT_NE(text.find(c.index), std::string::npos);
  }
}

TEST_P(DatabaseTest, IdleConnectionClosedByTheServerIsReplaced) {
  if (GetParam() != "postgres") GTEST_SKIP() << "only a server closes connections";
  User(1, "a", 0, 1, 0, 0);
  odbc::ClearConnectionPool();
  {
    CZvmDatbase warm = Db();
    EXPECT_EQ(warm.GetPringLogMaxID(), 0);
  }  // leaves an idle connection
  Sql("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE pid <> pg_backend_pid() AND datname = "
      "current_database()");
  CZvmDatbase db = Db();
  UserRecord u;
  bool found = false;
  ASSERT_TRUE(db.GetUserInfo("a", &u, &found)) << (db.ErrorLines.empty() ? "" : db.ErrorLines.back());
  EXPECT_TRUE(found);
}

INSTANTIATE_TEST_SUITE_P(Backends, DatabaseTest, ::testing::Values("sqlite", "postgres"));

}  // namespace
}  // namespace zv::engine
