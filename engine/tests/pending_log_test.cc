#include "engine/core/pending_log.h"

#include <gtest/gtest.h>

#include "engine/tests/engine_fixture.h"

namespace zv::engine {
namespace {

class PendingLogTest : public EngineFixture {};

// A kept row whose UID was given to another account meanwhile is dropped and described;
// rows of the same account (any case, deleted or not) and rows kept without an account are
// stored.
TEST_F(PendingLogTest, RowsOfAUidTakenOverAreDropped) {
  Sql("INSERT INTO Main (UID,Account,GID,CountShubetsu,Used) VALUES (1,'newcomer',0,1,1),(2,'Sato',0,1,0)");
  auto row = [](int32_t uid, const std::string& account, int32_t pages) {
    PrintLogRecord r;
    r.UID = uid;
    r.PID = 1;
    r.PDate = 20260415;
    r.PTime = 101500;
    r.JobName = "job";
    r.Pages = pages;
    r.Account = account;
    return r;
  };
  ASSERT_TRUE(SavePendingRows({row(1, "tanaka", 5), row(2, "sato", 7)}).ok());
  ASSERT_TRUE(SavePendingRows({row(1, "", 3), row(9, "nobody", 4)}).ok());
  Load();
  CZvmDatbase db(settings_.DSN, settings_.UID, settings_.PWD);
  std::vector<std::string> errors, dropped;
  EXPECT_EQ(StorePendingRows(db, &errors, &dropped), 2);
  EXPECT_TRUE(errors.empty());
  ASSERT_EQ(dropped.size(), 2u);
  EXPECT_NE(dropped[0].find("tanaka"), std::string::npos);
  EXPECT_NE(dropped[1].find("nobody"), std::string::npos);
  EXPECT_FALSE(HasPendingRows());
  int64_t pages = 0;
  ASSERT_TRUE(db.SumPages(kAllPages, &pages, "newcomer", 20260401, 20260430));
  EXPECT_EQ(pages, 3);
  ASSERT_TRUE(db.SumPages(kAllPages, &pages, "sato", 20260401, 20260430));
  EXPECT_EQ(pages, 7);
}

}  // namespace
}  // namespace zv::engine
