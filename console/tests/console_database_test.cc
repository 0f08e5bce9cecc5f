#include "console/db/console_database.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "engine/db/schema.h"
#include "platform/odbc/testing/postgres_server.h"
#include "platform/testing/temp_root.h"

namespace zv::console {
namespace {

// Runs every case on the embedded SQLite database and on a PostgreSQL server.
class ConsoleDatabaseTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "sqlite") {
      auto dsn = engine::SetupEmbeddedDatabase();
      ASSERT_TRUE(dsn.ok()) << dsn.status().ToString();
      source_ = *dsn;
    } else {
      Status why;
      auto* pg = zv::testing::SharedPostgresServer(&why);
      if (!pg) GTEST_SKIP() << why.ToString();
      static int n = 0;
      std::string name = "zvconsole" + std::to_string(++n);
      ASSERT_TRUE(pg->CreateDatabase(name).ok());
      source_ = pg->ConnectionString(name);
      Status s = engine::SetupDatabase(source_, "", "");
      ASSERT_TRUE(s.ok()) << s.ToString();
    }
  }
  CConsoleDatabase Db() { return CConsoleDatabase(source_, "", ""); }
  void Log(int id, int uid, int pid, int date, int pages, int ptype) {
    auto db = Db();
    ASSERT_TRUE(db.ExecuteQuery(
        "INSERT INTO PrintLog (ID,UID,PID,PDate,PTime,Pages,Ptype) VALUES (?,?,?,?,?,?,?)",
        {int64_t{id}, int64_t{uid}, pid ? odbc::Value{int64_t{pid}} : odbc::Value{odbc::Null{}},
         odbc::Date{date / 10000, date / 100 % 100, date % 100}, odbc::Time{10, 0, 0}, int64_t{pages}, int64_t{ptype}},
        nullptr, nullptr))
        << db.ErrorLines.front();
  }
  UserRecord NewUser(const std::string& account, int gid = 1) {
    UserRecord u;
    u.Account = account;
    u.UserName = "name " + account;
    u.GID = gid;
    u.CountShubetsu = 3;
    u.MaxPages = 10;
    u.MaxPages_Color = 5;
    return u;
  }
  zv::testing::TempRoot root_;
  std::string source_;
};

TEST_P(ConsoleDatabaseTest, AddDeleteAndTakeOverIds) {
  auto db = Db();
  GroupRecord g1{0, "Sales", 50, 20, 0}, g2{0, "Dev", 60, 30, 0};
  ASSERT_TRUE(db.AddGroup(&g1));
  ASSERT_TRUE(db.AddGroup(&g2));
  EXPECT_EQ(g1.GID, 1);
  EXPECT_EQ(g2.GID, 2);
  bool dup = false;
  GroupRecord same{0, "sALES", 1, 1, 0};
  EXPECT_FALSE(db.AddGroup(&same, &dup));
  EXPECT_TRUE(dup);

  UserRecord a = NewUser("tanaka", g2.GID), b = NewUser("sato", g2.GID);
  ASSERT_TRUE(db.AddUser(&a));
  ASSERT_TRUE(db.AddUser(&b));
  EXPECT_EQ(a.UID, 1);
  EXPECT_EQ(b.UID, 2);
  UserRecord again = NewUser("TANAKA");
  EXPECT_FALSE(db.AddUser(&again, &dup));
  EXPECT_TRUE(dup);

  // A deleted group is taken over once no live user names it.
  ASSERT_TRUE(db.DeleteGroup(&g1));
  ASSERT_TRUE(db.DeleteGroup(&g2));
  GroupRecord g3{0, "Ops", 5, 5, 0};
  ASSERT_TRUE(db.AddGroup(&g3));
  EXPECT_EQ(g3.GID, 1);  // group 2 still has live users
  GroupRecord g4{0, "Ops2", 5, 5, 0};
  ASSERT_TRUE(db.AddGroup(&g4));
  EXPECT_EQ(g4.GID, 3);

  // A deleted user with print-log rows keeps its id and rows; one without rows is reused.
  Log(1, a.UID, 0, 20260401, 3, 0);
  ASSERT_TRUE(db.DeleteUser(&a));
  ASSERT_TRUE(db.DeleteUser(&b));
  UserRecord c = NewUser("kato");
  ASSERT_TRUE(db.AddUser(&c));
  EXPECT_EQ(c.UID, 2);
  UserRecord d = NewUser("ito");
  ASSERT_TRUE(db.AddUser(&d));
  EXPECT_EQ(d.UID, 3);
  std::vector<UserRecord> all;
  ASSERT_TRUE(db.GetUserInfo(&all, 1, -1));
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].Account, "tanaka");
  EXPECT_EQ(all[0].Used, 0);

  // Limits are stored only for users with limits of their own.
  c.CountShubetsu = 2;
  c.MaxPages = 50;
  c.MaxPages_Color = 10;
  ASSERT_TRUE(db.UpdateUser(c));
  ASSERT_TRUE(db.GetUserInfo(&all, c.UID, -1));
  EXPECT_EQ(all.at(0).MaxPages, 0);
  EXPECT_EQ(all.at(0).MaxPages_Color, 0);
  c.Account = "ITO";
  EXPECT_FALSE(db.UpdateUser(c, &dup));
  EXPECT_TRUE(dup);
}

TEST_P(ConsoleDatabaseTest, PrintersReviveAndPurge) {
  auto db = Db();
  PrinterRecord p1{0, "LaserA", 0, 0}, p2{0, "ColorB", 1, 0}, p3{0, "Old", 0, 0};
  ASSERT_TRUE(db.AddPrinter(&p1));
  ASSERT_TRUE(db.AddPrinter(&p2));
  ASSERT_TRUE(db.AddPrinter(&p3));
  EXPECT_EQ(p1.PID, 1);
  bool dup = false;
  PrinterRecord twin{0, "lasera", 0, 0};
  EXPECT_FALSE(db.AddPrinter(&twin, &dup));
  EXPECT_TRUE(dup);

  Log(1, 1, p1.PID, 20260401, 2, 0);
  Log(2, 1, 0, 20260401, 2, 0);  // a row without a printer must not keep others
  ASSERT_TRUE(db.RemovePrinter(&p1));
  ASSERT_TRUE(db.RemovePrinter(&p3));
  ASSERT_TRUE(db.PurgeRemovedPrinters());
  std::vector<PrinterRecord> rows;
  ASSERT_TRUE(db.GetPrinterInfo(&rows, 0, -1));
  ASSERT_EQ(rows.size(), 3u);  // by name: ColorB, LaserA, Old
  EXPECT_EQ(rows[1].Used, 2);  // still named by the log
  EXPECT_EQ(rows[2].Used, 0);  // freed

  PrinterRecord back{0, "LASERA", 0, 0};
  ASSERT_TRUE(db.AddPrinter(&back));
  EXPECT_EQ(back.PID, p1.PID);
  ASSERT_TRUE(db.GetPrinterInfo(&rows, p1.PID, 1));
  EXPECT_EQ(rows.at(0).PrinterName, "LASERA");
  PrinterRecord fresh{0, "New", 0, 0};
  ASSERT_TRUE(db.AddPrinter(&fresh));
  EXPECT_EQ(fresh.PID, p3.PID);  // the free row
}

TEST_P(ConsoleDatabaseTest, NamesRoundTripAndPrintLog) {
  auto db = Db();
  for (const std::string name : {"o'brien", "a--b", "100%", "back\\slash", "山田'; DROP TABLE Main; --"}) {
    UserRecord u = NewUser(name);
    ASSERT_TRUE(db.AddUser(&u)) << name;
    bool found = false;
    UserRecord got;
    ASSERT_TRUE(db.GetUserInfo(name, &got, &found));
    EXPECT_TRUE(found) << name;
    EXPECT_EQ(got.Account, name);
  }
  std::vector<UserPageRow> group;
  ASSERT_TRUE(db.GetGroupUser(&group, 1));
  ASSERT_EQ(group.size(), 5u);

  Log(1, 1, 1, 20260331, 4, 0);
  Log(2, 1, 1, 20260401, 3, 0);
  Log(3, 1, 2, 20260402, 2, 1);
  Log(4, 2, 2, 20260430, 5, 1);
  Log(5, 2, 1, 20260501, 7, 0);
  PrinterRecord pa{0, "A", 0, 0}, pb{0, "B", 1, 0};
  ASSERT_TRUE(db.AddPrinter(&pa));
  ASSERT_TRUE(db.AddPrinter(&pb));

  std::vector<UserPageRow> rows(group.begin(), group.begin() + 2);
  ASSERT_TRUE(db.SumUserPages(&rows, 20260401, 20260430));
  EXPECT_EQ(rows[0].MonoPages, 3);
  EXPECT_EQ(rows[0].ColorPages, 2);
  EXPECT_EQ(rows[0].JobCount, 2);
  EXPECT_EQ(rows[0].PrinterSums, (std::vector<PrinterPageSum>{{1, 3, 1, 0}, {2, 2, 1, 1}}));
  EXPECT_EQ(rows[1].PrinterSums, (std::vector<PrinterPageSum>{{2, 5, 1, 1}}));
  std::vector<PrinterRecord> printers;
  ASSERT_TRUE(db.GetLogPrinters(&printers, {rows[1]}, 20260401, 20260430));
  ASSERT_EQ(printers.size(), 1u);
  EXPECT_EQ(printers[0].PrinterName, "B");

  // The engine's date-bound sums see the same rows.
  int64_t pages = 0;
  ASSERT_TRUE(db.SumPages(engine::kAllPages, &pages, "o'brien", 20260401, 20260430));
  EXPECT_EQ(pages, 5);

  // The day conditions: a single day is an upper bound whichever argument holds it; two
  // days select the days between them in either order. The first user's rows lie on
  // 03/31, 04/01 and 04/02.
  struct Days {
    int32_t first, last;
    int32_t jobs;
  } days[] = {{0, 0, 3},
              {20260401, 0, 2},
              {0, 20260401, 2},
              {0, 20260331, 1},
              {20260401, 20260401, 1},
              {20260402, 20260331, 3},
              {20260331, 20260402, 3},
              {20260501, 20260430, 0}};
  for (const auto& d : days) {
    std::vector<UserPageRow> one(group.begin(), group.begin() + 1);
    ASSERT_TRUE(db.SumUserPages(&one, d.first, d.last));
    EXPECT_EQ(one[0].JobCount, d.jobs) << d.first << "-" << d.last;
    std::vector<UserPageRow> only(group.begin(), group.begin() + 1);
    ASSERT_TRUE(db.SumUserPagesOnly(&only, d.first, d.last));
    EXPECT_EQ(only[0].JobCount, d.jobs) << d.first << "-" << d.last;
  }

  // Totals without the breakdown; a user without rows keeps what the row held.
  std::vector<UserPageRow> totals(group.begin(), group.begin() + 3);
  totals[2].MonoPages = 9;
  ASSERT_TRUE(db.SumUserPagesOnly(&totals, 20260401, 20260430));
  EXPECT_EQ(totals[0].MonoPages, 3);
  EXPECT_EQ(totals[0].ColorPages, 2);
  EXPECT_EQ(totals[0].JobCount, 2);
  EXPECT_TRUE(totals[0].PrinterSums.empty());
  EXPECT_EQ(totals[1].ColorPages, 5);
  EXPECT_EQ(totals[2].MonoPages, 9);
  // A second breakdown call adds to the first.
  ASSERT_TRUE(db.SumUserPages(&rows, 20260401, 20260430));
  EXPECT_EQ(rows[0].MonoPages, 6);
  EXPECT_EQ(rows[0].JobCount, 4);

  // Users with print-log rows (of a group, or of all groups); their earliest day.
  std::vector<UserRecord> having;
  ASSERT_TRUE(db.GetLogHavingUser(&having, 0));
  ASSERT_EQ(having.size(), 2u);
  EXPECT_EQ(having[0].UID, 1);
  EXPECT_EQ(having[1].UID, 2);
  ASSERT_TRUE(db.GetLogHavingUser(&having, 99));
  EXPECT_TRUE(having.empty());
  int32_t day = -1;
  ASSERT_TRUE(db.GetLogMinDate(&day, nullptr));
  EXPECT_EQ(day, 20260331);
  const std::vector<int32_t> second{2}, nobody{}, unknown{42};
  ASSERT_TRUE(db.GetLogMinDate(&day, &second));
  EXPECT_EQ(day, 20260430);
  ASSERT_TRUE(db.GetLogMinDate(&day, &nobody));
  EXPECT_EQ(day, 20260430);  // an empty list leaves the day alone
  ASSERT_TRUE(db.GetLogMinDate(&day, &unknown));
  EXPECT_EQ(day, 0);  // no matching row: no day

  ASSERT_TRUE(db.DeletePrintLog({}));  // an empty list deletes nothing
  int32_t max = 0;
  ASSERT_TRUE(db.GetRecordMaxID("ID", "PrintLog", &max));
  EXPECT_EQ(max, 5);
  ASSERT_TRUE(db.DeletePrintLog({1}));
  std::vector<UserPageRow> again(group.begin(), group.begin() + 2);
  ASSERT_TRUE(db.SumUserPages(&again, 0, 0));
  EXPECT_EQ(again[0].JobCount, 0);
  EXPECT_EQ(again[1].JobCount, 2);
  EXPECT_FALSE(db.GetRecordMaxID("ID; DROP TABLE Main", "PrintLog", &max));
}

// Deleting users is all or nothing: a user that is no longer live (here one a second
// console deleted first) rolls back the print-log removal and the other users' marks.
TEST_P(ConsoleDatabaseTest, DeleteUsersIsOneTransaction) {
  auto db = Db();
  UserRecord a = NewUser("aoki"), b = NewUser("baba"), c = NewUser("chiba");
  ASSERT_TRUE(db.AddUser(&a) && db.AddUser(&b) && db.AddUser(&c));
  Log(1, a.UID, 0, 20240105, 3, 0);
  Log(2, b.UID, 0, 20240105, 4, 1);
  Log(3, c.UID, 0, 20240105, 5, 0);
  ASSERT_TRUE(db.DeleteUser(&b));
  auto state = [&] {
    std::vector<UserRecord> live;
    EXPECT_TRUE(db.GetUserInfo(&live, 0, 1));
    int64_t logs = 0;
    EXPECT_TRUE(db.SumPages("SELECT COUNT(*) FROM PrintLog", {}, &logs));
    return std::make_pair(live.size(), logs);
  };
  EXPECT_FALSE(db.DeleteUsers({a.UID, b.UID}));
  EXPECT_FALSE(db.ErrorLines.empty());
  EXPECT_EQ(state(), std::make_pair(size_t{2}, int64_t{3}));
  EXPECT_FALSE(db.DeleteUsers({a.UID, 999}));
  EXPECT_EQ(state(), std::make_pair(size_t{2}, int64_t{3}));

  ASSERT_TRUE(db.DeleteUsers({a.UID, c.UID})) << db.ErrorLines.front();
  EXPECT_EQ(state(), std::make_pair(size_t{0}, int64_t{1}));  // b's rows stay with the deleted b
  EXPECT_TRUE(db.DeleteUsers({}));
}

TEST_P(ConsoleDatabaseTest, TwoWritersNeverShareARow) {
  auto add = [&](const std::string& prefix, int* failures) {
    CConsoleDatabase db(source_, "", "");
    for (int i = 0; i < 50; ++i) {
      UserRecord u = NewUser(prefix + std::to_string(i));
      if (!db.AddUser(&u)) ++*failures;
    }
  };
  int fa = 0, fb = 0;
  std::thread a(add, "a", &fa), b(add, "b", &fb);
  a.join();
  b.join();
  EXPECT_EQ(fa + fb, 0);
  auto db = Db();
  std::vector<UserRecord> all;
  ASSERT_TRUE(db.GetUserInfo(&all, 0, 1));
  std::set<int32_t> ids;
  for (const auto& u : all) ids.insert(u.UID);
  EXPECT_EQ(all.size(), 100u);
  EXPECT_EQ(ids.size(), 100u);
}

INSTANTIATE_TEST_SUITE_P(Backends, ConsoleDatabaseTest, ::testing::Values("sqlite", "postgres"));

}  // namespace
}  // namespace zv::console
