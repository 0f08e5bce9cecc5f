#include "engine/core/request_check.h"

#include <gtest/gtest.h>

#include <ctime>
#include <functional>

#include "engine/rules/event_table.h"
#include "engine/tests/engine_fixture.h"

namespace zv::engine {
namespace {

std::chrono::system_clock::time_point Local(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

class FakeQueue : public JobQueueProbe {
 public:
  Result<std::vector<QueuedJob>> QueuedJobs(const std::string& printer) override {
    asked.push_back(printer);
    if (fail) return Status::IOError("printer cannot be opened");
    return jobs;
  }
  std::vector<QueuedJob> jobs;
  std::vector<std::string> asked;
  bool fail = false;
};

class RequestCheckTest : public EngineFixture {
 public:
  void SetUp() override {
    EngineFixture::SetUp();
    ASSERT_TRUE(key_->SetDword("LimitAction", 4).ok());
    ASSERT_TRUE(key_->SetDword("LimitDate", 20260430).ok());
    Sql("INSERT INTO Main (UID,Account,GID,CountShubetsu,MaxPages,MaxPages_Color,Used) VALUES"
        " (1,'tanaka',0,1,0,0,1),(2,'sato',10,2,0,0,1),(3,'kato',99,2,0,0,1),(4,'free',0,0,0,0,1),"
        " (5,'own',0,3,10,5,1),(6,'gone',0,1,0,0,0)");
    Sql("INSERT INTO Groups (GID,GroupName,MaxPages,MaxPages_Color,Used) VALUES (10,'g',100,30,1)");
    Sql("INSERT INTO Printers (PID,PrinterName,Ptype,Used) VALUES (1,'Mono',0,1),(2,'Color',1,1)");
  }

  // A request of `pages` pages of job "doc1" on `device` by `account`.
  CRequestInfo Request(const std::string& account, const std::string& device, int pages) {
    CRequestInfo r;
    EXPECT_TRUE(r.ParseRequestText("[RequestInfo]\nAccountName=" + account +
                                   "\nMachineName=PC01\n"
                                   "JobFileName=job.prc\nJobName=doc1\nJobPages=" +
                                   std::to_string(pages) + "\nDeviceName=" + device + "\nPaperSize=9\n"));
    return r;
  }

  void LogPages(int uid, int pages, int ptype, int date = 20260410, int time = 120000, int pid = 1,
                const std::string& spool = "other") {
    static int id = 0;
    Sql("INSERT INTO PrintLog (ID,UID,PID,PDate,PTime,SpoolName,Pages,Ptype) VALUES (?,?,?,?,?,?,?,?)",
        {int64_t{++id}, int64_t{uid}, int64_t{pid}, odbc::Date{date / 10000, date / 100 % 100, date % 100},
         odbc::Time{time / 10000, time / 100 % 100, time % 100}, spool, int64_t{pages}, int64_t{ptype}});
  }

  CheckStep Check(CRequestInfo& request, CRequestResult& result) {
    Load(20260415);
    RequestCheck check(settings_, &queue_);
    result.Init();
    CheckStep r = check.Run(request, result, Local(2026, 4, 15, 10, 0, 0));
    user_ = check.user();
    return r;
  }

  FakeQueue queue_;
  UserRecord user_;
};

TEST_F(RequestCheckTest, EveryOutcome) {
  struct Case {
    const char* name;
    std::function<void(RequestCheckTest&)> setup;
    std::string account, device;
    int pages;
    int code;   // 0: passed
    int event;  // -1: none
  };
  const std::vector<Case> cases = {
      {"printed", nullptr, "tanaka", "Mono", 10, 0, -1},
      {"incomplete", nullptr, "tanaka", "", 10, kResultIncomplete, kEvBadRequest},
      {"name leaving the folder", nullptr, "../x", "Mono", 10, kResultIncomplete, kEvBadRequest},
      {"unknown user", nullptr, "nobody", "Mono", 10, kResultUnknownUser, kEvUnknownUser},
      {"deleted user", nullptr, "gone", "Mono", 10, kResultUnknownUser, kEvUnknownUser},
      {"unmanaged printer", nullptr, "tanaka", "Elsewhere", 10, kResultUnmanagedPrinter, kEvUnmanagedPrinter},
      {"account and printer in any case", nullptr, "TANAKA", "mono", 10, 0, -1},
      {"mono limit of the defaults", [](RequestCheckTest& t) { t.LogPages(1, 45, 0); }, "tanaka", "Mono", 6,
       kResultMonoLimit, -1},
      {"colour pages do not count for mono", [](RequestCheckTest& t) { t.LogPages(1, 45, 1); }, "tanaka", "Mono", 6, 0,
       -1},
      {"colour limit", [](RequestCheckTest& t) { t.LogPages(1, 15, 1); }, "tanaka", "Color", 6, kResultColorLimit, -1},
      {"last month does not count", [](RequestCheckTest& t) { t.LogPages(1, 45, 0, 20260331); }, "tanaka", "Mono", 6, 0,
       -1},
      {"group limits", [](RequestCheckTest& t) { t.LogPages(2, 95, 0); }, "sato", "Mono", 6, kResultMonoLimit, -1},
      {"group limits allow", [](RequestCheckTest& t) { t.LogPages(2, 60, 0); }, "sato", "Mono", 6, 0, -1},
      {"missing group: defaults", [](RequestCheckTest& t) { t.LogPages(3, 45, 0); }, "kato", "Mono", 6,
       kResultMonoLimit, -1},
      {"kind 0 is never refused", [](RequestCheckTest& t) { t.LogPages(4, 5000, 0); }, "free", "Mono", 600, 0, -1},
      {"own limits", [](RequestCheckTest& t) { t.LogPages(5, 3, 1); }, "own", "Color", 3, kResultColorLimit, -1},
      {"refuse flag clear",
       [](RequestCheckTest& t) {
         t.LogPages(1, 500, 0);
         ASSERT_TRUE(t.key_->SetDword("LimitAction", 3).ok());
       },
       "tanaka", "Mono", 6, 0, -1},
      {"crossing allowed once",
       [](RequestCheckTest& t) {
         t.LogPages(1, 45, 0);
         ASSERT_TRUE(t.key_->SetDword("LimitOverAction", 0).ok());
       },
       "tanaka", "Mono", 6, 0, -1},
      {"layout forced by the settings",
       [](RequestCheckTest& t) {
         t.LogPages(1, 45, 0);
         ASSERT_TRUE(t.key_->SetDword("ThumbnailCount", 1).ok());  // 2-up: 6 pages are 3 sheets
       },
       "tanaka", "Mono", 6, 0, -1},
      {"duplicate of a queued job",
       [](RequestCheckTest& t) {
         t.LogPages(1, 1, 0, 20260415, 93000, 2, "DOC1");
         t.queue_.jobs = {{"doc1", 0, Local(2026, 4, 15, 9, 30, 0)}, {"doc1", 0, Local(2026, 4, 15, 9, 0, 0)}};
       },
       "tanaka", "Mono", 1, kResultDuplicate, -1},
      {"duplicate no longer queued",
       [](RequestCheckTest& t) {
         t.LogPages(1, 1, 0, 20260415, 93000, 2, "doc1");
         t.queue_.jobs = {{"doc1", kJobStatusDeleting, Local(2026, 4, 15, 9, 30, 0)}};
       },
       "tanaka", "Mono", 1, 0, -1},
      {"queue cannot be asked",
       [](RequestCheckTest& t) {
         t.LogPages(1, 1, 0, 20260415, 93000, 2, "doc1");
         t.queue_.fail = true;
       },
       "tanaka", "Mono", 1, 0, -1},
      {"last print older than an hour",
       [](RequestCheckTest& t) {
         t.LogPages(1, 1, 0, 20260415, 85959, 2, "doc1");
         t.queue_.jobs = {{"doc1", 0, Local(2026, 4, 15, 8, 59, 59)}};
       },
       "tanaka", "Mono", 1, 0, -1},
      {"duplicate check off",
       [](RequestCheckTest& t) {
         t.LogPages(1, 1, 0, 20260415, 93000, 2, "doc1");
         t.queue_.jobs = {{"doc1", 0, Local(2026, 4, 15, 9, 30, 0)}};
         ASSERT_TRUE(t.key_->SetDword("DupCheck", 0).ok());
       },
       "tanaka", "Mono", 1, 0, -1},
      {"database error", [](RequestCheckTest& t) { ASSERT_TRUE(t.key_->SetString("DSN", "NoSuchSource").ok()); },
       "tanaka", "Mono", 1, kResultDatabaseError, kEvDatabaseError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Sql("DELETE FROM PrintLog");
    for (const char* v : {"LimitOverAction", "ThumbnailCount", "DupCheck"}) (void)key_->DeleteValue(v);
    ASSERT_TRUE(key_->SetDword("LimitAction", 4).ok());
    ASSERT_TRUE(key_->SetString("DSN", kEmbeddedDataSource).ok());
    queue_ = FakeQueue();
    if (c.setup) c.setup(*this);
    size_t events_before = Events().size();
    CRequestInfo request = Request(c.account, c.device, c.pages);
    CRequestResult result;
    CheckStep r = Check(request, result);
    EXPECT_EQ(r, c.code == 0 ? CheckStep::kPassed : CheckStep::kRefused);
    EXPECT_EQ(result.ResultCode, c.code);
    auto events = Events();
    if (c.event < 0) {
      EXPECT_EQ(events.size(), events_before);
    } else {
      ASSERT_EQ(events.size(), events_before + 1);
      EXPECT_EQ(events.back().strings[0], FindEvent(c.event)->text);
      ASSERT_EQ(events.back().strings.size(), 2u);
      EXPECT_NE(events.back().strings[1].find("\r\n[RequestInfo]\r\nAccountName="), std::string::npos);
    }
  }
}

TEST_F(RequestCheckTest, ResultCarriesThePeriodAndMessages) {
  LogPages(2, 40, 0);
  LogPages(2, 7, 1);
  CRequestInfo request = Request("sato", "Mono", 3);
  CRequestResult result;
  ASSERT_EQ(Check(request, result), CheckStep::kPassed);
  EXPECT_EQ(result.CheckRange, 3);
  EXPECT_EQ(result.LimitDate, 20260430);
  EXPECT_EQ(result.MaxPages, 100);
  EXPECT_EQ(result.MaxPages_Color, 30);
  EXPECT_EQ(result.PageCount, 40);
  EXPECT_EQ(result.PageCount_Color, -1);  // only the printer's kind is summed here
  EXPECT_EQ(user_.UID, 2);

  request = Request("nobody", "Mono", 3);
  Check(request, result);
  EXPECT_EQ(result.Messages,
            (std::vector<std::string>{"ユーザ登録されていないため印刷の権限がありません。", "nobody"}));

  ASSERT_TRUE(key_->SetString("DSN", "NoSuchSource").ok());
  request = Request("sato", "Mono", 3);
  Check(request, result);
  EXPECT_EQ(result.Messages, DatabaseErrorLines());
  auto events = Events();
  ASSERT_FALSE(events.empty());
  EXPECT_NE(events.back().strings[1].find("CZvmDatbase::ConnectDB error"), std::string::npos);
}

}  // namespace
}  // namespace zv::engine
