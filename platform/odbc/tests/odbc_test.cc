#include "platform/odbc/odbc.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

#include "platform/odbc/odbc_config.h"
#include "platform/odbc/testing/postgres_server.h"
#include "platform/testing/temp_root.h"

namespace zv::odbc {
namespace {

class OdbcTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "sqlite") {
      ASSERT_TRUE(AddSqliteDataSource("ZvTest", root_.str() + "/t.db").ok());
      source_ = "ZvTest";
    } else {
      Status why;
      auto* pg = zv::testing::SharedPostgresServer(&why);
      if (!pg) GTEST_SKIP() << why.ToString();
      static int n = 0;
      std::string db = "odbc" + std::to_string(++n);
      ASSERT_TRUE(pg->CreateDatabase(db).ok());
      source_ = pg->ConnectionString(db);
    }
    auto c = Connection::Open(source_, "", "");
    ASSERT_TRUE(c.ok()) << c.status().ToString();
    conn_ = std::move(*c);
    ASSERT_TRUE(
        conn_->Execute("CREATE TABLE T (ID INTEGER PRIMARY KEY, PDate DATE, PTime TIME, Name VARCHAR(255), N INTEGER)")
            .ok());
  }
  zv::testing::TempRoot root_;
  std::string source_;
  std::unique_ptr<Connection> conn_;
};

TEST_P(OdbcTest, BoundValuesRoundTrip) {
  const std::string name = "田中's \"x\"; DROP TABLE T; --";
  auto n = conn_->Execute("INSERT INTO T (ID, PDate, PTime, Name, N) VALUES (?, ?, ?, ?, ?)",
                          {int64_t{1}, Date{2004, 4, 4}, Time{9, 5, 7}, name, Null{}});
  ASSERT_TRUE(n.ok()) << n.status().ToString();
  EXPECT_EQ(*n, 1);
  auto rows = conn_->Query("SELECT * FROM T WHERE PDate >= ? AND PDate <= ? AND Name = ?",
                           {Date{2004, 4, 1}, Date{2004, 4, 30}, name});
  ASSERT_TRUE(rows.ok()) << rows.status().ToString();
  auto more = (*rows)->Next();
  ASSERT_TRUE(more.ok() && *more);
  EXPECT_EQ((*rows)->Get("id").value_or("?"), "1");
  EXPECT_EQ((*rows)->Get("PDATE").value_or("?"), "2004-04-04");
  EXPECT_EQ((*rows)->Get("PTime").value_or("?"), "09:05:07");
  EXPECT_EQ((*rows)->Get("Name").value_or("?"), name);
  EXPECT_FALSE((*rows)->Get("N").has_value());
  EXPECT_FALSE((*rows)->Get("NoSuchColumn").has_value());
  more = (*rows)->Next();
  ASSERT_TRUE(more.ok());
  EXPECT_FALSE(*more);
}

TEST_P(OdbcTest, LongTextIsReadWhole) {
  std::string big(3000, 'x');
  big += "end";
  ASSERT_TRUE(conn_->Execute("CREATE TABLE L (V VARCHAR(5000))").ok());
  ASSERT_TRUE(conn_->Execute("INSERT INTO L (V) VALUES (?)", {big}).ok());
  auto rows = conn_->Query("SELECT V FROM L");
  ASSERT_TRUE(rows.ok());
  ASSERT_TRUE(*(*rows)->Next());
  EXPECT_EQ((*rows)->Get(0).value_or(""), big);
}

TEST_P(OdbcTest, RollbackDiscardsAndErrorsCarryDiagnostics) {
  ASSERT_TRUE(conn_->Begin().ok());
  ASSERT_TRUE(conn_->Execute("INSERT INTO T (ID, N) VALUES (?, ?)", {int64_t{7}, int64_t{1}}).ok());
  auto dup = conn_->Execute("INSERT INTO T (ID, N) VALUES (?, ?)", {int64_t{7}, int64_t{2}});
  EXPECT_FALSE(dup.ok());
  EXPECT_FALSE(conn_->Diagnostics().empty());
  ASSERT_TRUE(conn_->Rollback().ok());
  auto rows = conn_->Query("SELECT COUNT(*) FROM T");
  ASSERT_TRUE(rows.ok());
  ASSERT_TRUE(*(*rows)->Next());
  EXPECT_EQ((*rows)->Get(0).value_or(""), "0");
  rows = {Status::Ok()};  // close the result before the next statement

  auto bad = conn_->Query("SELECT * FROM NoSuchTable");
  EXPECT_FALSE(bad.ok());
  EXPECT_FALSE(conn_->Diagnostics().empty());
  EXPECT_TRUE(conn_->Execute("DELETE FROM T").ok());
  EXPECT_TRUE(conn_->Diagnostics().empty());
}

TEST_P(OdbcTest, KeptQueriesRunAgainWithTheirNewValues) {
  for (int id = 1; id <= 3; ++id)
    ASSERT_TRUE(conn_->Execute("INSERT INTO T (ID, N) VALUES (?, ?)", {int64_t{id}, int64_t{id * 10}}).ok());
  auto n_of = [&](int64_t id) {
    auto rows = conn_->Query("SELECT N FROM T WHERE ID>=? ORDER BY ID", {id});
    if (!rows.ok()) return std::string("error: ") + rows.status().ToString();
    auto more = (*rows)->Next();
    // Only the first row is read: the rest of the result is dropped with it.
    return more.ok() && *more ? (*rows)->Get(0).value_or("null") : std::string("none");
  };
  EXPECT_EQ(n_of(2), "20");
  EXPECT_EQ(n_of(1), "10");
  EXPECT_EQ(n_of(3), "30");
  EXPECT_EQ(n_of(4), "none");
  // Enough other statements to push it out of the kept ones, then it again.
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(conn_->Query("SELECT " + std::to_string(i) + " FROM T").ok());
  EXPECT_EQ(n_of(2), "20");
  // The table made anew under the same name: the kept statement reads the new one.
  ASSERT_TRUE(conn_->Execute("DROP TABLE T").ok());
  EXPECT_EQ(n_of(1).rfind("error: ", 0), 0u);
  ASSERT_TRUE(conn_->Execute("CREATE TABLE T (N INTEGER, ID INTEGER)").ok());
  ASSERT_TRUE(conn_->Execute("INSERT INTO T (N, ID) VALUES (?, ?)", {int64_t{77}, int64_t{5}}).ok());
  EXPECT_EQ(n_of(1), "77");
}

TEST_P(OdbcTest, PoolReusesIdleConnectionsOfTheSameTarget) {
  ClearConnectionPool();
  bool reused = true;
  auto a = AcquireConnection(source_, "", "", nullptr, &reused);
  ASSERT_TRUE(a.ok());
  EXPECT_FALSE(reused);
  Connection* first = a->get();
  ReleaseConnection(std::move(*a));
  auto b = AcquireConnection(source_, "", "", nullptr, &reused);
  ASSERT_TRUE(b.ok());
  EXPECT_TRUE(reused);
  EXPECT_EQ(b->get(), first);
  // A connection in the middle of a transaction is not kept.
  ASSERT_TRUE((*b)->Begin().ok());
  ReleaseConnection(std::move(*b));
  auto c = AcquireConnection(source_, "", "", nullptr, &reused);
  ASSERT_TRUE(c.ok());
  EXPECT_FALSE(reused);
  ReleaseConnection(std::move(*c));
  ClearConnectionPool();
  auto d = AcquireConnection(source_, "", "", nullptr, &reused);
  EXPECT_FALSE(reused);
}

INSTANTIATE_TEST_SUITE_P(Backends, OdbcTest, ::testing::Values("sqlite", "postgres"));

TEST(OdbcConfig, PrivateDataSourceAndMissingOne) {
  zv::testing::TempRoot root;
  ASSERT_TRUE(AddSqliteDataSource("First", root.str() + "/a.db").ok());
  ASSERT_TRUE(AddSqliteDataSource("Second", root.str() + "/b c.db").ok());
  ASSERT_TRUE(AddSqliteDataSource("first", root.str() + "/a2.db").ok());  // replaces, any case
  auto cs = DataSourceConnectionString("FIRST");
  ASSERT_TRUE(cs.has_value());
  EXPECT_NE(cs->find("a2.db"), std::string::npos);
  EXPECT_NE(cs->find("libsqlite3odbc.so"), std::string::npos);
  auto c = Connection::Open("Second", "", "");
  ASSERT_TRUE(c.ok()) << c.status().ToString();
  // A data source pointed at another file never gets a pooled connection to the old one.
  bool reused = true;
  auto p = AcquireConnection("First", "", "", nullptr, &reused);
  ASSERT_TRUE(p.ok());
  ReleaseConnection(std::move(*p));
  ASSERT_TRUE(AddSqliteDataSource("First", root.str() + "/moved.db").ok());
  p = AcquireConnection("First", "", "", nullptr, &reused);
  ASSERT_TRUE(p.ok());
  EXPECT_FALSE(reused);
  EXPECT_EQ((*c)->DbmsName(), "SQLite");
  EXPECT_TRUE(std::ifstream(root.str() + "/b c.db").good());
  // With the sources' file removed, no source is known any more.
  ASSERT_TRUE(DataSourceConnectionString("Second").has_value());
  ASSERT_EQ(::unlink((ConfigDir() + "/odbc.ini").c_str()), 0);
  EXPECT_FALSE(DataSourceConnectionString("Second").has_value());
  ASSERT_TRUE(AddSqliteDataSource("Second", root.str() + "/again.db").ok());
  cs = DataSourceConnectionString("Second");
  ASSERT_TRUE(cs.has_value());
  EXPECT_NE(cs->find("again.db"), std::string::npos);

  std::vector<std::string> diag;
  auto missing = Connection::Open("NoSuchSource", "", "", &diag);
  EXPECT_FALSE(missing.ok());
  EXPECT_FALSE(diag.empty());
  EXPECT_FALSE(Connection::Open("", "", "").ok());
  EXPECT_FALSE(AddDataSource("bad]name", "SQLite3", {}).ok());
  EXPECT_FALSE(AddSqliteDataSource("Third", root.str() + "/x;y.db").ok());
}

}  // namespace
}  // namespace zv::odbc
