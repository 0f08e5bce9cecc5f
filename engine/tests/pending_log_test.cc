#include "engine/core/pending_log.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/tests/engine_fixture.h"
#include "platform/fs/files.h"

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

// Kept files with an identity and those an older engine wrote without one are both
// stored; a damaged identity line makes a damaged file, set aside.
TEST_F(PendingLogTest, KeptFilesOfBothFormatsAreStoredAndDamagedOnesSetAside) {
  Load();
  CZvmDatbase db(settings_.DSN, settings_.UID, settings_.PWD);
  PrintLogRecord r;
  r.UID = 5;
  r.PID = 1;
  r.PDate = 20260415;
  r.PTime = 101500;
  r.JobName = "j";
  r.Pages = 2;
  const std::string dir = root_.str() + "/engine/pending-printlog";
  std::filesystem::create_directories(dir);
  ASSERT_TRUE(fs::WriteFileAtomic(dir + "/1-1-0.tsv", FormatKeptFile({NewKeptId(), {r}}), 0600).ok());
  ASSERT_TRUE(fs::WriteFileAtomic(dir + "/2-1-0.tsv", FormatPendingRows({r, r}), 0600).ok());
  ASSERT_TRUE(fs::WriteFileAtomic(dir + "/3-1-0.tsv", "#kept\tno/such\n", 0600).ok());
  std::vector<std::string> errors;
  EXPECT_EQ(StorePendingRows(db, &errors), 2);
  EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors[0]);
  EXPECT_FALSE(HasPendingRows());
  EXPECT_TRUE(std::filesystem::exists(dir + "/3-1-0.bad"));
  int64_t pages = 0;
  ASSERT_TRUE(db.SumPages("SELECT SUM(Pages) FROM PrintLog", {}, &pages));
  EXPECT_EQ(pages, 6);
  auto back = ParseKeptFile(FormatKeptFile({"abc123", {r}}));
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(back->id, "abc123");
  EXPECT_EQ(back->rows.size(), 1u);
}

}  // namespace
}  // namespace zv::engine
