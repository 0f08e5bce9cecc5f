#include "client/quota_cache.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/fs/files.h"
#include "platform/testing/temp_root.h"

namespace zv::client {
namespace {

namespace fsys = std::filesystem;

class QuotaCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    result_ = root_.str() + "/net/SRV/share/Result";
    ASSERT_TRUE(fs::MakeDirs(result_).ok());
    config_.server_name = "\\\\SRV";
    config_.share_name = "share";
    config_.account = "tan";
    config_.machine = "ka-PC1";
  }
  // Writes a file of the result folder with a modification time `age` seconds in the past.
  void Put(const std::string& name, const std::string& text, int age) {
    std::string path = result_ + "/" + name;
    ASSERT_TRUE(fs::WriteFileAtomic(path, text).ok());
    struct timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= age;
    times[1] = times[0];
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }
  static std::string Limit(int max, int count) {
    return "[PrintLimit]\r\nCheckRange=3\r\nLimitDate=20260430\r\nMaxPages=" + std::to_string(max) +
           "\r\nPageCount=" + std::to_string(count) + "\r\nMaxPages_Color=5\r\nPageCount_Color=1\r\n";
  }
  zv::testing::TempRoot root_;
  std::string result_;
  ClientConfig config_;
};

TEST_F(QuotaCacheTest, CandidatesAreExactlyThreeNames) {
  EXPECT_EQ(QuotaFileCandidates("tan", "ka-PC1"), (std::vector<std::string>{"tan-.ans", "tan-ka-PC1.ans", "tan.ans"}));
  EXPECT_TRUE(QuotaFileCandidates("../x", "pc").empty());
}

TEST_F(QuotaCacheTest, NewestOfTheAccountsOwnFilesWinsAndNothingIsDeleted) {
  Put("tan-.ans", Limit(100, 10), 30);
  Put("tan-ka-PC1.ans", Limit(100, 20), 20);
  Put("tan.ans", Limit(100, 0), 40);
  // Longer accounts sharing the prefix, and another machine's answer of this account.
  Put("tan-ka-PC1-.ans", Limit(7, 7), 1);
  Put("tan-ka-.ans", Limit(8, 8), 1);
  Put("tan-PC2.ans", Limit(9, 9), 1);
  QuotaState q;
  RefreshQuotaCache(config_, q);
  EXPECT_EQ(q.max_pages, 100);
  EXPECT_EQ(q.page_count, 20);
  EXPECT_EQ(q.max_color, 5);
  EXPECT_EQ(q.count_color, 1);
  EXPECT_EQ(q.limit_date, 20260430);
  int files = 0;
  for (auto& e : fsys::directory_iterator(result_)) (void)e, ++files;
  EXPECT_EQ(files, 6);

  Put("tan-.ans", Limit(60, 30), 0);  // the console rewrote the quota file
  RefreshQuotaCache(config_, q);
  EXPECT_EQ(q.max_pages, 60);
  EXPECT_EQ(q.page_count, 30);

  // A newer file that another member put in one of the names is passed over, and so is
  // another member's period file.
  if (::geteuid() != 0) return;
  Put("tan.ans", Limit(999, 0), -60);
  ASSERT_EQ(::chown((result_ + "/tan.ans").c_str(), 4242, 4242), 0);
  ASSERT_TRUE(fs::WriteFileAtomic(result_ + "/Aperiod.prd", "[PrintLimit]\r\nCheckRange=1\r\n").ok());
  ASSERT_EQ(::chown((result_ + "/Aperiod.prd").c_str(), 4242, 4242), 0);
  RefreshQuotaCache(config_, q);
  EXPECT_EQ(q.max_pages, 60);
  EXPECT_EQ(q.kind, kKindMonth);
}

TEST_F(QuotaCacheTest, StoreRulesAndThePeriodFile) {
  QuotaState q{kKindMonth, 0, 0, 10, 11, 12, 13};
  StoreQuotaKey(0, "9", q);
  EXPECT_EQ(q.kind, kKindMonth);  // an unknown number leaves the kind
  StoreQuotaKey(0, "2", q);
  EXPECT_EQ(q.kind, kKindWeek);
  StoreQuotaKey(3, "", q);
  StoreQuotaKey(2, "", q);
  EXPECT_EQ(q.page_count, 11);  // an empty count keeps the old one
  EXPECT_EQ(q.max_pages, 0);    // an empty limit reads 0

  // An answer that leaves exactly three keys empty ends the cached quota.
  Put("tan-ka-PC1.ans", "[PrintLimit]\r\nCheckRange=1\r\nLimitDate=20260415\r\nMaxPages=3\r\n", 0);
  Put("Aperiod.prd", "[PrintLimit]\r\nCheckRange=4\r\nLimitDate=20260420\r\nLimitDays=10\r\n", 0);
  RefreshQuotaCache(config_, q);
  EXPECT_EQ(q, (QuotaState{kKindDays, 10, 20260420, -1, -1, -1, -1}));

  ClientConfig local = config_;
  local.server_name.clear();
  QuotaState untouched{kKindMonth, 0, 1, 2, 3, 4, 5};
  RefreshQuotaCache(local, untouched);
  EXPECT_EQ(untouched, (QuotaState{kKindMonth, 0, 1, 2, 3, 4, 5}));
}

}  // namespace
}  // namespace zv::client
