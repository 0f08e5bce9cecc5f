// The engine program end to end: a real hevrasto process with a folder printer, the
// embedded database and a local SMTP server, fed by requests placed as the client places
// them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <thread>

#include "engine/core/clock.h"
#include "engine/hevrasto/phase_obj.h"
#include "engine/hevrasto/request_marks.h"
#include "engine/hevrasto/share_files.h"
#include "engine/hevrasto/tests/engine_harness.h"
#include "engine/rules/quota_period.h"
#include "platform/eventlog/eventlog.h"
#include "platform/fs/files.h"
#include "platform/odbc/testing/postgres_server.h"
#include "platform/spool/folder_spooler.h"
#include "platform/testing/bin_dir.h"
#include "platform/testing/small_fs.h"

namespace zv::engine::testing {
namespace {
namespace fsys = std::filesystem;

class EngineE2E : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    smtp_root_ = new zv::testing::TempRoot();
    auto s = mail::testing::SmtpServer::Start(smtp_root_->str() + "/smtp");
    ASSERT_TRUE(s.ok()) << s.status().ToString();
    server_ = s->release();
  }
  static void TearDownTestSuite() {
    delete server_;
    delete smtp_root_;
  }
  void SetUp() override {
    server_->Clear();
    h_ = std::make_unique<EngineHarness>(root_, server_->port());
    h_->smtp = server_;
  }
  void TearDown() override { h_.reset(); }

  std::vector<eventlog::Event> Events(uint32_t id_text_contains_min = 0) {
    (void)id_text_contains_min;
    auto all = eventlog::ReadAll();
    return all.ok() ? *all : std::vector<eventlog::Event>{};
  }
  // True once an event's text holds `text`. The engine writes an event after what it
  // reports is done (a file removed, an answer written), so this waits for it, up to 30 s.
  bool EventHas(const std::string& text) {
    for (int i = 0; i < 3000; ++i) {
      for (const auto& e : Events())
        for (const auto& s : e.strings)
          if (s.find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  static zv::testing::TempRoot* smtp_root_;
  static mail::testing::SmtpServer* server_;
  zv::testing::TempRoot root_;
  std::unique_ptr<EngineHarness> h_;
};
zv::testing::TempRoot* EngineE2E::smtp_root_ = nullptr;
mail::testing::SmtpServer* EngineE2E::server_ = nullptr;

TEST_F(EngineE2E, PrintsAnswersAndRefusesAsTheRequestsDeserve) {
  h_->StartEngine();
  // A printed job: answer 0, one print-log row, a PDF on the folder printer, files gone.
  h_->WriteJob("job1.prc", 2);
  RequestSpec ok;
  std::string slot = h_->Submit(EngineHarness::RequestText(ok));
  std::string answer = h_->WaitForAnswer("alice", "pc1", slot);
  EXPECT_EQ(EngineHarness::ResultCode(answer), 0) << answer;
  EXPECT_NE(answer.find("PageCount=2"), std::string::npos) << answer;
  EXPECT_TRUE(EngineHarness::WaitGone(h_->jobs() + "/job1.prc"));
  auto rows = h_->PrintLog();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].UID, 1);
  EXPECT_EQ(rows[0].PID, 1);
  EXPECT_EQ(rows[0].Pages, 2);
  EXPECT_EQ(rows[0].JobName, "Report");
  auto pdfs = h_->PrintedPdfs();
  ASSERT_EQ(pdfs.size(), 1u);
  auto pdf = fs::ReadFile(pdfs[0]);
  ASSERT_TRUE(pdf.ok());
  EXPECT_EQ(pdf->rfind("%PDF", 0), 0u);

  // An unknown user, an unmanaged printer, a job file that is not a document.
  struct Case {
    RequestSpec order;
    std::string job_bytes;
    int code;
  } cases[] = {
      {RequestSpec{"mallory", "pc9", "job2.prc"}, "", 2},
      {RequestSpec{"alice", "pc2", "job3.prc", {{"R", 1}}, "Nowhere"}, "", 3},
      {RequestSpec{"alice", "pc3", "job4.prc"}, "this is not a job document", 5},
      // More copies than may be asked for: invalid, nothing printed or charged.
      {RequestSpec{"alice", "pc6", "job5.prc", {{"R", 1}}, "Office", 1500}, "", 1},
      {RequestSpec{"alice", "pc7", "job6.prc", {{"R", 1}}, "Office", 2147483647}, "", 1},
  };
  for (auto& c : cases) {
    if (c.job_bytes.empty()) {
      h_->WriteJob(c.order.job_file, 1);
    } else {
      h_->WriteJobBytes(c.order.job_file, c.job_bytes);
    }
    std::string s = h_->Submit(EngineHarness::RequestText(c.order));
    std::string a = h_->WaitForAnswer(c.order.account, c.order.machine, s);
    EXPECT_EQ(EngineHarness::ResultCode(a), c.code) << a;
    EXPECT_TRUE(EngineHarness::WaitGone(h_->jobs() + "/" + c.order.job_file)) << c.order.job_file;
  }
  EXPECT_EQ(h_->PrintLog().size(), 1u);
  EXPECT_EQ(h_->PrintedPdfs().size(), 1u);

  // The same job again while the first is still in the printer's queue: a duplicate.
  h_->SetDword("DupCheck", 1);
  h_->WriteJob("job1.prc", 2);
  std::string dup = h_->Submit(EngineHarness::RequestText(ok));
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("alice", "pc1", dup)), 8);
  EXPECT_EQ(h_->PrintedPdfs().size(), 1u);

  // A request without account (incomplete): answered with 1 when it can be, otherwise
  // moved aside; a name that is no slot is moved aside and reported once.
  RequestSpec incomplete;
  incomplete.machine = "pc4";
  incomplete.jobs.clear();
  h_->WriteJob("job1.prc", 1);
  std::string s = h_->Submit(EngineHarness::RequestText(incomplete));
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("alice", "pc4", s)), 1);
  // An account that is no plain name cannot be answered: the request is kept aside and no
  // file is written outside the result folder.
  std::string evil = h_->Submit(EngineHarness::RequestText(RequestSpec{"../../evil", "pc5", "job1.prc"}));
  std::string kept = h_->print_info() + "/Rejected/" + evil + ".lst";
  for (int i = 0; i < 500 && !fsys::exists(kept); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(fsys::exists(kept));
  EXPECT_FALSE(fsys::exists(h_->share() + "/evil-pc5.ans"));
  EXPECT_FALSE(fsys::exists(h_->share() + "/../evil-pc5.ans"));
  h_->PlaceFile("order.lst", "garbage");
  h_->PlaceFile(slot + "x.lst", "[RequestInfo]\r\n");
  h_->PlaceFile("order77.lst", "no section here");
  for (int i = 0; i < 500 && !(fsys::exists(h_->print_info() + "/Rejected/order77.lst") &&
                               fsys::exists(h_->print_info() + "/Rejected/order.lst"));
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(fsys::exists(h_->print_info() + "/Rejected/order.lst"));
  EXPECT_TRUE(fsys::exists(h_->print_info() + "/Rejected/order77.lst"));
  EXPECT_TRUE(fsys::exists(h_->print_info() + "/Rejected/" + slot + "x.lst"));

  EXPECT_EQ(h_->StopEngine(), 0);
  EXPECT_FALSE(fsys::exists(h_->print_info() + "/Wakeup.inf"));
  int bad_request_events = 0;
  for (const auto& e : Events())
    for (const auto& str : e.strings)
      if (str.find("[order77.lst]") != std::string::npos) ++bad_request_events;
  EXPECT_EQ(bad_request_events, 1);
}

TEST_F(EngineE2E, AClaimedSlotIsTakenOnlyOnceWrittenWholeAndItsKeyIsEchoed) {
  h_->StartEngine();
  // A client on a mount without rename-without-replace claims order00 and is still writing
  // it; a whole request placed after it in order01 is served meanwhile.
  const std::string key = "00112233445566778899aabb";
  h_->WriteJob("claimed.prc", 1);
  const std::string sealed =
      share::SealRequestText(EngineHarness::RequestText(RequestSpec{"alice", "pcC", "claimed.prc"}), key);
  const std::string claim = h_->print_info() + "/order00.lst";
  const size_t cut = sealed.size() / 2;
  ASSERT_TRUE(fs::WriteFileAtomic(claim, sealed.substr(0, cut)).ok());
  h_->WriteJob("next.prc", 1);
  std::string next = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcN", "next.prc"}));
  ASSERT_EQ(next, "order01");
  const std::string unkeyed = h_->WaitForAnswer("alice", "pcN", next);
  EXPECT_EQ(EngineHarness::ResultCode(unkeyed), 0);
  EXPECT_EQ(unkeyed.find("RequestID="), std::string::npos) << unkeyed;  // a request without a key
  // The claim was neither read nor set aside.
  EXPECT_EQ(*fs::ReadFile(claim), sealed.substr(0, cut));
  EXPECT_FALSE(fsys::exists(h_->print_info() + "/Rejected/order00.lst"));
  EXPECT_EQ(h_->PrintLog().size(), 1u);
  // The rest arrives (in place, as the client writes it): served, its key in the answer and
  // in the copy, every section and key of the answer as before.
  {
    int fd = ::open(claim.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, sealed.data() + cut, sealed.size() - cut), static_cast<ssize_t>(sealed.size() - cut));
    ::close(fd);
  }
  const std::string answer = h_->WaitForAnswer("alice", "pcC", "order00");
  EXPECT_EQ(EngineHarness::ResultCode(answer), 0) << answer;
  EXPECT_NE(answer.find("[PrintResult]\r\nResult=0\r\nRequestID=" + key + "\r\n"), std::string::npos) << answer;
  EXPECT_NE(answer.find("[PrintLimit]\r\n"), std::string::npos) << answer;
  auto copy = fs::ReadFile(h_->result() + "/order00-alice-pcC.an2");
  ASSERT_TRUE(copy.ok());
  EXPECT_EQ(*copy, answer);
  EXPECT_EQ(h_->PrintLog().size(), 2u);
  EXPECT_EQ(h_->StopEngine(), 0);
}

TEST_F(EngineE2E, AClaimLeftUnwrittenIsSetAsideOnceAbandoned) {
  // Abandoned after 1 ms unchanged: the claim is set aside at the engine's second look.
  h_->StartEngine({"ZELVORA_ENGINE_CLAIM_MS=1"});
  for (const std::string& text : {std::string(), std::string("[RequestInfo]\nRequestID=0011")})
    h_->PlaceFile(text.empty() ? "order03.lst" : "order04.lst", text);
  for (const char* slot : {"order03.lst", "order04.lst"}) {
    EXPECT_TRUE(EventHas("[" + std::string(slot) + "] a claimed request slot was not written whole")) << slot;
    EXPECT_TRUE(fsys::exists(h_->print_info() + "/Rejected/" + slot)) << slot;
  }
  EXPECT_EQ(h_->PrintLog().size(), 0u);
  EXPECT_EQ(h_->StopEngine(), 0);
}

TEST_F(EngineE2E, QuotaRefusalMailsAndCountsTheDocumentsPages) {
  h_->StartEngine();
  // bob may print 3 pages; the client claims 1 page but the document holds 3: they count.
  h_->WriteJob("b1.prc", 3);
  RequestSpec first{"bob", "pc1", "b1.prc", {{"Memo", 1}}};
  std::string s1 = h_->Submit(EngineHarness::RequestText(first));
  std::string a1 = h_->WaitForAnswer("bob", "pc1", s1);
  EXPECT_EQ(EngineHarness::ResultCode(a1), 0) << a1;
  EXPECT_NE(a1.find("PageCount=3"), std::string::npos) << a1;
  auto rows = h_->PrintLog();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Pages, 3);
  // At the limit: the notice goes to bob and to the administrator.
  auto mails = server_->WaitForMails(2, 10000);
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_NE(mails[0].find("Content-Type: text/plain; charset=\"iso-2022-jp\""), std::string::npos);
  bool to_bob = false, to_admin = false;
  for (auto& m : mails) {
    to_bob |= m.find("To: bob@example.org") != std::string::npos;
    to_admin |= m.find("To: admin@example.org") != std::string::npos;
  }
  EXPECT_TRUE(to_bob && to_admin);

  // Over the limit: refused with 4, nothing printed.
  h_->WriteJob("b2.prc", 1);
  std::string s2 = h_->Submit(EngineHarness::RequestText(RequestSpec{"bob", "pc1", "b2.prc", {{"Memo2", 1}}}));
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("bob", "pc1", s2)), 4);
  EXPECT_EQ(h_->PrintLog().size(), 1u);
  EXPECT_EQ(h_->PrintedPdfs().size(), 1u);
  EXPECT_EQ(h_->StopEngine(), 0);
}

TEST_F(EngineE2E, TheFirstRequestAfterThePeriodEndedIsCheckedAgainstTheNewPeriod) {
  // bob (3 pages a month) used 5 pages last month, and the period still ends last month.
  int32_t today = TodayDate();
  int32_t last_month_end = AddDays(today / 100 * 100 + 1, -1);
  char pdate[16];
  snprintf(pdate, sizeof pdate, "%04d-%02d-%02d", last_month_end / 10000, last_month_end / 100 % 100,
           last_month_end % 100);
  h_->Sql(std::string("INSERT INTO PrintLog (ID,UID,PID,PDate,PTime,JobName,SpoolName,Pages,Ptype,ThumbnailCount,"
                      "PaperSize,JobPages) VALUES (1,2,1,'") +
          pdate + "','10:00:00','Old','Old',5,0,0,9,5)");
  h_->SetDword("LimitDate", static_cast<uint32_t>(last_month_end));
  h_->StartEngine();
  h_->WriteJob("m1.prc", 1);
  std::string s1 = h_->Submit(EngineHarness::RequestText(RequestSpec{"bob", "pcM", "m1.prc", {{"New", 1}}}));
  std::string a1 = h_->WaitForAnswer("bob", "pcM", s1);
  EXPECT_EQ(EngineHarness::ResultCode(a1), 0) << a1;
  EXPECT_NE(a1.find("LimitDate=" + std::to_string(LastDayOfMonth(today)) + "\r\n"), std::string::npos) << a1;
  EXPECT_EQ(h_->StopEngine(), 0);
}

TEST_F(EngineE2E, AKilledEngineNeitherLosesNorSilentlyRepeatsARequest) {
  // Requests placed while no engine runs are served after the start.
  h_->WriteJob("k1.prc", 1);
  std::string s1 = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcA", "k1.prc"}));
  // A stale "Wakeup.inf" of a killed engine is replaced.
  ASSERT_TRUE(fs::WriteFileAtomic(h_->print_info() + "/Wakeup.inf", "stale").ok());
  h_->StartEngine();
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("alice", "pcA", s1)), 0);
  EXPECT_EQ(h_->PrintedPdfs().size(), 1u);
  EXPECT_EQ(h_->PrintLog().size(), 1u);
  auto wake = fs::ReadFile(h_->print_info() + "/Wakeup.inf");
  ASSERT_TRUE(wake.ok());
  EXPECT_EQ(*wake, "");

  // Killed outright: the next start serves what was left.
  h_->KillEngine();
  h_->WriteJob("k3.prc", 1);
  std::string s3 = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcC", "k3.prc"}));
  h_->StartEngine();
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("alice", "pcC", s3)), 0);
  EXPECT_EQ(h_->PrintedPdfs().size(), 2u);

  // Killed at any moment of a long job: after the restart it is not printed again, and it is
  // charged exactly when it is answered as printed.
  h_->WriteJob("k4.prc", 60);
  std::string s4 = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcD", "k4.prc", {{"Long", 60}}}));
  std::string taken = h_->print_info() + "/" + s4 + ".taken";
  for (int i = 0; i < 20000 && !fsys::exists(taken); ++i) std::this_thread::sleep_for(std::chrono::microseconds(500));
  ASSERT_TRUE(fsys::exists(taken));
  h_->KillEngine();
  EXPECT_FALSE(fsys::exists(h_->result() + "/alice-pcD.ans"));
  size_t pdfs = h_->PrintedPdfs().size();
  h_->StartEngine();
  std::string a4 = h_->WaitForAnswer("alice", "pcD", s4);
  int code = EngineHarness::ResultCode(a4);
  EXPECT_TRUE(code == 0 || code == 6) << a4;
  EXPECT_EQ(h_->PrintLog().size(), code == 0 ? 3u : 2u) << a4;
  EXPECT_EQ(h_->PrintedPdfs().size(), pdfs);
  EXPECT_EQ(h_->StopEngine(), 0);
}

// Starts the engine to stop at `step` (ZELVORA_ENGINE_CRASH_AT), and waits until it did.
void StartToStopAt(EngineHarness& h, const std::string& step) { h.StartEngine({"ZELVORA_ENGINE_CRASH_AT=" + step}); }
bool WaitStopped(EngineHarness& h) {
  auto code = h.engine().Wait(30000);
  return code.ok() && *code == 86;
}

// The same engine on the embedded SQLite database and on a PostgreSQL server.
class EngineOnBothDatabases : public EngineE2E, public ::testing::WithParamInterface<std::string> {
 public:
  void SetUp() override {
    server_->Clear();
    ServerSetupOptions o;
    if (GetParam() == "postgres") {
      Status why;
      auto* pg = zv::testing::SharedPostgresServer(&why);
      if (!pg) GTEST_SKIP() << why.ToString();
      static int n = 0;
      std::string name = "zve2e" + std::to_string(++n);
      ASSERT_TRUE(pg->CreateDatabase(name).ok());
      o.dsn = pg->ConnectionString(name);
    }
    h_ = std::make_unique<EngineHarness>(root_, server_->port(), o);
    h_->smtp = server_;
  }
};
INSTANTIATE_TEST_SUITE_P(Backends, EngineOnBothDatabases, ::testing::Values("sqlite", "postgres"));

TEST_P(EngineOnBothDatabases, AnEngineStoppedAtAnyStepChargesAndAnswersEachRequestOnce) {
  // What the next start does with a request the engine stopped at each step of serving:
  // the answer it gives (-1: none, the first one stands), and whether the job is charged.
  struct Case {
    const char* step;
    int answer_after_restart;
    bool charged;
    bool answered_before_restart;  // the client may have taken (and deleted) that answer
  } cases[] = {
      {"taken", 6, false, false},         // nothing submitted yet
      {"job-started", 6, false, false},   // a submission that never completed: cancelled
      {"job-submitted", 0, true, false},  // in the queue: charged once, answered as printed
      {"charged", 0, true, false},
      // The print-log row's own road: before its insert, after its commit, before and after
      // its kept file is removed. Stored once whichever.
      {"log-inserting", 0, true, false},
      {"log-committed", 0, true, false},
      {"log-unlinking", 0, true, false},
      {"log-unlinked", 0, true, false},
      {"answer-staged", 0, true, false},  // staged but not marked: answered afresh
      {"answer-marked", 0, true, false},  // the staged answer is put in place
      {"answered", -1, true, true},       // answered: nothing new is written
      {"cleaning", -1, true, true},
  };
  size_t rows = 0;
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.step);
    std::string machine = "pc" + std::to_string(n), job = "c" + std::to_string(n++) + ".prc";
    std::string answer = h_->result() + "/alice-" + machine + ".ans";
    StartToStopAt(*h_, c.step);
    h_->WriteJob(job, 2);
    std::string slot = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", machine, job, {{"C", 2}}}));
    ASSERT_TRUE(WaitStopped(*h_));
    ASSERT_EQ(fsys::exists(answer), c.answered_before_restart);
    if (c.answered_before_restart) {
      ASSERT_TRUE(fsys::remove(answer));  // the client took it
    }
    h_->StartEngine();
    if (c.answer_after_restart >= 0) {
      std::string a = h_->WaitForAnswer("alice", machine, slot);
      EXPECT_EQ(EngineHarness::ResultCode(a), c.answer_after_restart) << a;
      // One message, said once.
      const std::string said = c.answer_after_restart == 0 ? "印刷が完了しました。" : "印刷に失敗しました。";
      size_t first = a.find(said);
      EXPECT_NE(first, std::string::npos) << a;
      EXPECT_EQ(a.find(said, first + 1), std::string::npos) << a;
    }
    EXPECT_TRUE(EngineHarness::WaitGone(h_->print_info() + "/" + slot + ".lst"));
    EXPECT_TRUE(EngineHarness::WaitGone(h_->print_info() + "/" + slot + ".taken"));
    EXPECT_TRUE(EngineHarness::WaitGone(h_->print_info() + "/" + slot + ".answered"));
    if (c.answer_after_restart < 0) {
      EXPECT_FALSE(fsys::exists(answer));
    }
    if (c.charged) ++rows;
    EXPECT_EQ(h_->PrintLog().size(), rows);
    EXPECT_EQ(h_->StopEngine(), 0);
  }
  // The submission that never completed was taken out of the queue.
  spool::FolderSpooler spooler(h_->printers());
  auto queued = spooler.EnumJobs("Office");
  ASSERT_TRUE(queued.ok());
  for (const auto& j : *queued) EXPECT_NE(j.state, spool::JobState::kSpooling) << j.id;
  // Nothing is left held or kept.
  std::error_code ec;
  for (const auto& e : fsys::directory_iterator(root_.str() + "/engine/pending-printlog", ec))
    ADD_FAILURE() << "left behind: " << e.path();
  // Nothing staged is left in the result folder.
  for (const auto& e : fsys::directory_iterator(h_->result()))
    EXPECT_EQ(e.path().filename().string().find(".staged-"), std::string::npos) << e.path();
}

TEST_F(EngineE2E, AJobFileOverTheSizeSettingIsRefusedUnread) {
  h_->SetDword("MaxJobFileMB", 1);
  h_->StartEngine();
  h_->WriteJobBytes("big.prc", std::string((1u << 20) + 1, 'b'));
  std::string s1 = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcB", "big.prc"}));
  std::string a1 = h_->WaitForAnswer("alice", "pcB", s1);
  EXPECT_EQ(EngineHarness::ResultCode(a1), 5) << a1;
  EXPECT_NE(a1.find("印刷ジョブファイルがオープンできませんでした。"), std::string::npos) << a1;
  EXPECT_TRUE(EventHas("[job file too large]"));
  EXPECT_TRUE(EngineHarness::WaitGone(h_->jobs() + "/big.prc"));
  EXPECT_TRUE(h_->PrintLog().empty());
  EXPECT_EQ(h_->StopEngine(), 0);
}

// The share on a file system of its own (a small tmpfs, in a mount namespace of this
// process alone) filled up by a member: the engine keeps its database and its event log,
// says what it cannot do, and prints the waiting job once, when space is freed.
TEST_F(EngineE2E, AFullShareStopsNeitherTheDatabaseNorTheEventLog) {
  zv::testing::SmallFileSystem small;
  if (std::string why = small.Mount(h_->share()); !why.empty()) GTEST_SKIP() << why;

  h_->WriteJob("f1.prc", 1);
  std::string s1 = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcF", "f1.prc", {{"Full", 1}}}));
  // A member's file takes every byte left.
  const std::string filler = h_->jobs() + "/filler.prc";
  ASSERT_TRUE(zv::testing::SmallFileSystem::Fill(filler));
  h_->StartEngine();
  // What cannot be done is said in the event log (which lies outside the share).
  EXPECT_TRUE(EventHas(std::strerror(ENOSPC)));
  ASSERT_TRUE(fsys::remove(filler));
  std::string a1 = h_->WaitForAnswer("alice", "pcF", s1);
  EXPECT_EQ(EngineHarness::ResultCode(a1), 0) << a1;
  EXPECT_EQ(h_->StopEngine(), 0);
  EXPECT_EQ(h_->PrintLog().size(), 1u);
  EXPECT_EQ(h_->PrintedPdfs().size(), 1u);
}

TEST_P(EngineOnBothDatabases, KeptRowsOfAnOlderEngineAreStoredOnceByThisOne) {
  // A kept file as engines before this one wrote it (rows only, no identity). This engine
  // stops right after committing its rows and before removing it, then starts again.
  const std::string dir = root_.str() + "/engine/pending-printlog";
  fsys::create_directories(dir);
  ASSERT_TRUE(
      fs::WriteFileAtomic(dir + "/1000-1-0.tsv", "1\t1\t20260415\t101500\tOld\tOld\t4\t0\t0\t9\t4\talice\n", 0600)
          .ok());
  StartToStopAt(*h_, "log-committed");
  h_->WriteJob("u1.prc", 1);
  std::string s1 = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcU", "u1.prc", {{"U1", 1}}}));
  ASSERT_TRUE(WaitStopped(*h_));
  ASSERT_EQ(h_->PrintLog().size(), 1u);  // the old file's row, committed
  h_->StartEngine();
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("alice", "pcU", s1)), 0);
  EXPECT_EQ(h_->StopEngine(), 0);
  std::map<std::string, int> rows;
  for (const auto& r : h_->PrintLog()) rows[r.JobName] += 1;
  EXPECT_EQ(rows["Old"], 1);
  EXPECT_EQ(rows["U1"], 1);
  std::error_code ec;
  for (const auto& e : fsys::directory_iterator(dir, ec)) ADD_FAILURE() << "left behind: " << e.path();
}

TEST_P(EngineOnBothDatabases, KeptPrintLogRowsCountInTheQuota) {
  // bob may print 3 pages; the database refuses his rows, so they are kept meanwhile.
  if (GetParam() == "postgres") {
    h_->Sql(
        "CREATE FUNCTION refuse_row() RETURNS trigger AS $$ BEGIN RAISE EXCEPTION 'refused'; END $$ LANGUAGE plpgsql");
    h_->Sql("CREATE TRIGGER refuse_log BEFORE INSERT ON PrintLog FOR EACH ROW EXECUTE FUNCTION refuse_row()");
  } else {
    h_->Sql("CREATE TRIGGER refuse_log BEFORE INSERT ON PrintLog BEGIN SELECT RAISE(ABORT, 'refused'); END");
  }
  h_->StartEngine();
  h_->WriteJob("q1.prc", 3);
  std::string s1 = h_->Submit(EngineHarness::RequestText(RequestSpec{"bob", "pcK", "q1.prc", {{"K", 3}}}));
  std::string a1 = h_->WaitForAnswer("bob", "pcK", s1);
  EXPECT_EQ(EngineHarness::ResultCode(a1), 0) << a1;
  EXPECT_NE(a1.find("PageCount=3"), std::string::npos) << a1;
  h_->WriteJob("q2.prc", 1);
  std::string s2 = h_->Submit(EngineHarness::RequestText(RequestSpec{"bob", "pcK", "q2.prc", {{"K2", 1}}}));
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("bob", "pcK", s2)), 4);
  EXPECT_EQ(h_->PrintedPdfs().size(), 1u);
  EXPECT_TRUE(h_->PrintLog().empty());
  EXPECT_EQ(h_->StopEngine(), 0);
}

TEST_F(EngineE2E, MarksLeftByAStoppedCleanUpDoNotApplyToTheNextRequestInTheSlot) {
  // The engine stops while cleaning up: the slot is empty but its marks stay. The client
  // places the very same request text into that slot again before the engine restarts.
  StartToStopAt(*h_, "cleaning");
  h_->WriteJob("m1.prc", 1);
  std::string text = EngineHarness::RequestText(RequestSpec{"alice", "pcM", "m1.prc", {{"Same", 1}}});
  std::string slot = h_->Submit(text);
  ASSERT_TRUE(WaitStopped(*h_));
  ASSERT_TRUE(fsys::exists(h_->print_info() + "/" + slot + ".answered"));
  ASSERT_TRUE(fsys::remove(h_->result() + "/alice-pcM.ans"));
  h_->WriteJob("m1.prc", 1);
  h_->PlaceFile(slot + ".lst", text);
  h_->StartEngine();
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("alice", "pcM", slot)), 0);
  EXPECT_TRUE(EngineHarness::WaitGone(h_->jobs() + "/m1.prc"));
  EXPECT_EQ(h_->PrintLog().size(), 2u);
  EXPECT_EQ(h_->PrintedPdfs().size(), 2u);
  EXPECT_EQ(h_->StopEngine(), 0);
}

TEST_F(EngineE2E, MarksAnotherMemberForgedAreNotTheEnginesOwn) {
  // Another member of the share forges an "answered" mark for a waiting request, with the
  // staged answer and copy it names, all of them their own files: taken for the engine's,
  // they would put the forger's answer in place and drop the request unprinted.
  if (::geteuid() != 0) GTEST_SKIP() << "files of another user can only be made as root (chown)";
  h_->WriteJob("f1.prc", 1);
  const std::string slot = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcF", "f1.prc", {{"F", 1}}}));
  auto identity = RequestIdentity(h_->print_info() + "/" + slot + ".lst");
  ASSERT_TRUE(identity.ok());
  RequestMark mark;
  mark.request = *identity;
  mark.answer = "alice-pcF.ans";
  mark.copy = slot + "-alice-pcF.an2";
  const fs::Ownership forger{2001, 2001, 0644};
  ASSERT_TRUE(fs::WriteFileAtomic(h_->print_info() + "/" + slot + ".answered", FormatMark(mark), 0644,
                                  fs::Durability::kProcessSafe, &forger)
                  .ok());
  for (const std::string& name : {mark.answer, mark.copy})
    ASSERT_TRUE(fs::WriteFileAtomic(h_->result() + "/" + StagedName(name, slot), "[Result]\r\nResult=0\r\n", 0644,
                                    fs::Durability::kProcessSafe, &forger)
                    .ok());
  h_->StartEngine();
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("alice", "pcF", slot)), 0);
  struct stat st {};
  ASSERT_EQ(::stat((h_->result() + "/alice-pcF.ans").c_str(), &st), 0);
  EXPECT_NE(st.st_uid, 2001u);
  EXPECT_EQ(h_->PrintLog().size(), 1u);
  EXPECT_EQ(h_->PrintedPdfs().size(), 1u);
  EXPECT_EQ(h_->StopEngine(), 0);
}

// Sets or clears the immutable flag of a file (which keeps even root from deleting it);
// false where the file system or the process's rights do not allow it.
bool SetImmutable(const std::string& path, bool on) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  ::close(fd);
  return ok;
}

TEST_F(EngineE2E, AnAnsweredRequestThatCannotBeDeletedIsNotServedAgain) {
  h_->WriteJob("u1.prc", 1);
  std::string s1 = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcU", "u1.prc"}));
  std::string slot1 = h_->print_info() + "/" + s1 + ".lst";
  if (!SetImmutable(slot1, true)) GTEST_SKIP() << "no immutable files here";
  struct Release {
    std::string path;
    ~Release() { SetImmutable(path, false); }
  } release{slot1};
  h_->StartEngine();
  std::string answer = h_->result() + "/alice-pcU.ans";
  for (int i = 0; i < 20000 && !fsys::exists(answer); ++i) std::this_thread::sleep_for(std::chrono::microseconds(500));
  ASSERT_TRUE(fsys::exists(answer));
  h_->WriteJob("u2.prc", 1);
  std::string s2 = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcV", "u2.prc"}));
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("alice", "pcV", s2)), 0);
  EXPECT_EQ(h_->PrintedPdfs().size(), 2u);
  EXPECT_EQ(h_->PrintLog().size(), 2u);
  // Not served again: its answer still says it printed (a second pass would find the job
  // file gone and answer 5 over it).
  auto first = fs::ReadFile(answer);
  ASSERT_TRUE(first.ok());
  EXPECT_EQ(EngineHarness::ResultCode(*first), 0) << *first;
  EXPECT_TRUE(fsys::exists(slot1));
  EXPECT_TRUE(fsys::exists(h_->print_info() + "/" + s1 + ".answered"));
  EXPECT_EQ(h_->StopEngine(), 0);
}

TEST_F(EngineE2E, APrintLogRowThatCannotBeStoredIsKeptAndStoredLater) {
  h_->Sql("CREATE TRIGGER refuse_log BEFORE INSERT ON PrintLog BEGIN SELECT RAISE(ABORT, 'refused'); END");
  h_->StartEngine();
  h_->WriteJob("p1.prc", 2);
  std::string s1 = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcP", "p1.prc", {{"Kept", 2}}}));
  std::string a1 = h_->WaitForAnswer("alice", "pcP", s1);
  EXPECT_EQ(EngineHarness::ResultCode(a1), 0) << a1;  // it printed
  EXPECT_TRUE(h_->PrintLog().empty());
  EXPECT_EQ(h_->PrintedPdfs().size(), 1u);
  h_->Sql("DROP TRIGGER refuse_log");
  h_->WriteJob("p2.prc", 1);
  std::string s2 = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcQ", "p2.prc", {{"Next", 1}}}));
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("alice", "pcQ", s2)), 0);
  auto rows = h_->PrintLog();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].JobName, "Kept");
  EXPECT_EQ(rows[0].Pages, 2);
  EXPECT_EQ(rows[1].JobName, "Next");
  EXPECT_EQ(h_->StopEngine(), 0);
}

TEST_F(EngineE2E, ANameThatCannotBeMovedAsideIsReportedOnceAndPassedOver) {
  // "Rejected" is a file, so nothing can be moved aside.
  ASSERT_TRUE(fs::WriteFileAtomic(h_->print_info() + "/Rejected", "in the way").ok());
  h_->PlaceFile("order.lst", "stray");
  h_->StartEngine();
  h_->WriteJob("n1.prc", 1);
  std::string s1 = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcN", "n1.prc"}));
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("alice", "pcN", s1)), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));  // two rescans
  EXPECT_EQ(h_->StopEngine(), 0);
  int reports = 0;
  for (const auto& e : Events())
    for (const auto& str : e.strings)
      if (str.find("[order.lst]") != std::string::npos) ++reports;
  EXPECT_EQ(reports, 1);
  EXPECT_TRUE(fsys::exists(h_->print_info() + "/order.lst"));
}

TEST_F(EngineE2E, APrinterNamedInAnotherCaseIsPrintedToByItsInstalledName) {
  h_->StartEngine();
  h_->WriteJob("o1.prc", 1);
  std::string s1 = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcO", "o1.prc", {{"O", 1}}, "office"}));
  std::string a1 = h_->WaitForAnswer("alice", "pcO", s1);
  EXPECT_EQ(EngineHarness::ResultCode(a1), 0) << a1;
  EXPECT_EQ(h_->PrintLog().size(), 1u);
  EXPECT_EQ(h_->PrintedPdfs().size(), 1u);
  EXPECT_EQ(h_->StopEngine(), 0);
}

TEST_F(EngineE2E, NothingInTheShareButPlainFilesAndFoldersIsTrusted) {
  const std::string outside = root_.str() + "/outside";
  ASSERT_TRUE(fs::MakeDirs(outside).ok());
  // "Rejected" replaced by a link to a folder outside the share.
  fsys::create_directory_symlink(outside, h_->print_info() + "/Rejected");
  h_->PlaceFile("order.lst", "stray");
  // Job files that are no plain file: a FIFO (open() would wait for a writer) and a link
  // to an endless device.
  ASSERT_EQ(::mkfifo((h_->jobs() + "/fifo.prc").c_str(), 0600), 0);
  fsys::create_symlink("/dev/zero", h_->jobs() + "/zero.prc");
  h_->StartEngine();
  for (const char* job : {"fifo.prc", "zero.prc"}) {
    std::string machine = std::string("pc-") + job;
    machine.resize(machine.size() - 4);
    std::string s = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", machine, job, {{"X", 1}}}));
    EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("alice", machine, s, 10000)), 5) << job;
  }
  // Special files named like slots are moved aside instead of blocking their slots.
  ASSERT_TRUE(fsys::remove(h_->print_info() + "/Rejected"));
  ASSERT_EQ(::mkfifo((h_->print_info() + "/order40.lst").c_str(), 0600), 0);
  // A plain mkdir: the engine may move the folder aside at once, which MakeDirs's own
  // check afterwards would take for a failure.
  ASSERT_EQ(::mkdir((h_->print_info() + "/order41.lst").c_str(), 0755), 0);
  fsys::create_symlink(h_->jobs(), h_->print_info() + "/order42.lst");
  for (const char* name : {"order40.lst", "order41.lst", "order42.lst"})
    EXPECT_TRUE(EngineHarness::WaitGone(h_->print_info() + "/" + name)) << name;
  for (const char* name : {"order40.lst", "order41.lst", "order42.lst"})
    EXPECT_TRUE(fsys::exists(fsys::symlink_status(h_->print_info() + "/Rejected/" + name))) << name;
  h_->WriteJob("f1.prc", 1);
  std::string s1 = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcF", "f1.prc"}));
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("alice", "pcF", s1)), 0);
  // A jobs folder replaced by a link to a folder outside: its jobs are neither printed nor
  // deleted.
  const std::string elsewhere = root_.str() + "/elsewhere";
  ASSERT_TRUE(fs::MakeDirs(elsewhere).ok());
  ASSERT_TRUE(WriteSampleJob(elsewhere + "/l1.prc", 1).ok());
  fsys::rename(h_->jobs(), h_->share() + "/Jobs.real");
  fsys::create_directory_symlink(elsewhere, h_->jobs());
  std::string s2 = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcL", "l1.prc", {{"L", 1}}}));
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("alice", "pcL", s2)), 5);
  EXPECT_TRUE(fsys::exists(elsewhere + "/l1.prc"));
  EXPECT_EQ(h_->StopEngine(), 0);
  // Nothing reached the folder outside; the stray stayed where it was, reported once.
  EXPECT_TRUE(fsys::is_empty(outside));
  int reports = 0;
  for (const auto& e : Events())
    for (const auto& str : e.strings)
      if (str.find("[order.lst]") != std::string::npos) ++reports;
  EXPECT_EQ(reports, 1);
}

// Waits until the engine started with ZELVORA_ENGINE_HOLD_FILE=`hold` is held at `step`.
bool WaitHeld(const std::string& hold, const std::string& step) {
  for (int i = 0; i < 6000; ++i) {
    auto text = fs::ReadFile(hold);
    if (text.ok() && *text == step) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// Replaces the result folder by a link to `real` (a folder of the share), or puts it back.
void LinkResultFolder(EngineHarness& h, const std::string& real, bool link) {
  if (link) {
    fsys::rename(h.result(), real);
    fsys::create_directory_symlink(real, h.result());
  } else {
    ASSERT_TRUE(fsys::remove(h.result()));
    fsys::rename(real, h.result());
  }
}

TEST_F(EngineE2E, ARequestWhoseAnswerTheResultFolderWouldRefuseIsSetAsideUnprinted) {
  const std::string real = h_->share() + "/Result.real";
  LinkResultFolder(*h_, real, true);
  h_->StartEngine();
  h_->WriteJob("r1.prc", 1);
  std::string s = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcR", "r1.prc", {{"R", 1}}}));
  const std::string aside = h_->print_info() + "/Rejected/" + s + ".lst";
  for (int i = 0; i < 1500 && !fsys::exists(aside); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(fsys::exists(aside));
  EXPECT_FALSE(fsys::exists(h_->print_info() + "/" + s + ".lst"));
  EXPECT_TRUE(h_->PrintedPdfs().empty());
  EXPECT_TRUE(h_->PrintLog().empty());
  EXPECT_TRUE(fsys::is_empty(real));
  EXPECT_TRUE(EventHas("[" + s + ".lst] the answer cannot be written"));
  // No answer is kept for it either: it was never served.
  std::error_code ec;
  EXPECT_TRUE(!fsys::exists(root_.str() + "/engine/pending-answers") ||
              fsys::is_empty(root_.str() + "/engine/pending-answers", ec));
  // The folder put back: the next request is served as ever.
  LinkResultFolder(*h_, real, false);
  h_->WriteJob("r2.prc", 1);
  std::string s2 = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcR", "r2.prc", {{"R2", 1}}}));
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("alice", "pcR", s2)), 0);
  EXPECT_EQ(h_->PrintLog().size(), 1u);
  EXPECT_EQ(h_->StopEngine(), 0);
}

TEST_F(EngineE2E, AnAnswerThatCannotBeWrittenIsKeptAndWrittenLater) {
  // The engine is held once each job has started and once each request is cleaned up. While
  // a job prints, the result folder is replaced by a link, which the answer does not write
  // into; it is put back only once the next request is placed, so the engine takes that one
  // (and checks the folder) without waiting idle in between.
  const std::string real = h_->share() + "/Result.real";
  const std::string hold = root_.str() + "/hold";
  h_->StartEngine({"ZELVORA_ENGINE_HOLD_AT=job-started,cleaned", "ZELVORA_ENGINE_HOLD_FILE=" + hold});
  struct Order {
    std::string account, machine, job;
  } orders[] = {
      {"alice", "pcX", "x1.prc"}, {"alice", "pcY", "y1.prc"}, {"alice", "pcX", "x2.prc"}, {"bob", "pcZ", "z1.prc"}};
  const size_t last = std::size(orders) - 1;
  std::string slot;
  for (size_t i = 0; i <= last; ++i) {
    const Order& o = orders[i];
    SCOPED_TRACE(o.job);
    h_->WriteJob(o.job, 1);
    slot = h_->Submit(EngineHarness::RequestText(RequestSpec{o.account, o.machine, o.job, {{o.job, 1}}}));
    if (i > 0) {
      LinkResultFolder(*h_, real, false);
      ASSERT_TRUE(fsys::remove(hold));  // held at "cleaned"
    }
    ASSERT_TRUE(WaitHeld(hold, "job-started"));
    if (i < last) LinkResultFolder(*h_, real, true);
    ASSERT_TRUE(fsys::remove(hold));
    ASSERT_TRUE(WaitHeld(hold, "cleaned"));
    if (i == last) break;
    // Served (printed, charged) and cleaned up: not moved aside, and nothing written
    // through the link.
    EXPECT_FALSE(fsys::exists(h_->print_info() + "/" + slot + ".lst"));
    EXPECT_FALSE(fsys::exists(h_->jobs() + "/" + o.job));
    EXPECT_TRUE(fsys::is_empty(real));
  }
  ASSERT_TRUE(fsys::remove(hold));
  EXPECT_FALSE(fsys::exists(h_->print_info() + "/Rejected"));
  EXPECT_EQ(h_->PrintLog().size(), 4u);
  // The folder works again: the last answer brought the kept ones along, except the one a
  // newer request of the same account and machine replaced.
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("bob", "pcZ", slot)), 0);
  for (const char* machine : {"pcX", "pcY"}) {
    auto a = fs::ReadFile(h_->result() + "/alice-" + std::string(machine) + ".ans");
    ASSERT_TRUE(a.ok()) << machine;
    EXPECT_EQ(EngineHarness::ResultCode(*a), 0);
  }
  int an2 = 0;
  for (const auto& e : fsys::directory_iterator(h_->result())) an2 += e.path().extension() == ".an2";
  EXPECT_EQ(an2, 3);  // pcY, the newer pcX and pcZ
  EXPECT_TRUE(EventHas("kept answer(s) dropped"));
  EXPECT_EQ(h_->StopEngine(), 0);
}

TEST_F(EngineE2E, NumbersThatAreNotWholeNumbersAndJobFilesWithSecondNamesAreRefused) {
  h_->StartEngine();
  // Numbers: an optional sign and digits, nothing else; anything else answers 1.
  struct Number {
    std::string from, to;
    int code;
  } numbers[] = {
      {"Copies=1\r\n", "Copies= 5\r\n", 1},
      {"Copies=1\r\n", "Copies=5x\r\n", 1},
      {"PaperSize=9\r\n", "PaperSize=9.0\r\n", 1},
      {"JobPages=1\r\n", "JobPages=1a\r\n", 1},
      {"PrintPages=0,0\r\n", "PrintPages=0,+1\r\n", 0},
  };
  int n = 0;
  for (const auto& c : numbers) {
    std::string machine = "pcN" + std::to_string(n), job = "n" + std::to_string(n++) + ".prc";
    h_->WriteJob(job, 1);
    std::string text = EngineHarness::RequestText(RequestSpec{"alice", machine, job, {{"N", 1}}});
    size_t at = text.find(c.from);
    ASSERT_NE(at, std::string::npos) << c.from;
    text.replace(at, c.from.size(), c.to);
    std::string slot = h_->Submit(text);
    EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("alice", machine, slot)), c.code) << c.to;
  }
  EXPECT_EQ(h_->PrintLog().size(), 1u);

  // A job file that is a hard link to a file outside the share: 5, nothing printed or
  // charged, and the file outside is left alone.
  const std::string outside = root_.str() + "/outside.prc";
  ASSERT_TRUE(WriteSampleJob(outside, 1).ok());
  ASSERT_EQ(::link(outside.c_str(), (h_->jobs() + "/hard.prc").c_str()), 0);
  std::string slot = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcH", "hard.prc", {{"H", 1}}}));
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("alice", "pcH", slot)), 5);
  EXPECT_TRUE(fsys::exists(outside));
  EXPECT_EQ(h_->PrintLog().size(), 1u);
  EXPECT_EQ(h_->PrintedPdfs().size(), 1u);
  EXPECT_EQ(h_->StopEngine(), 0);
}

TEST_F(EngineE2E, AJobCancelledAtTheNextStartLeavesNothingInThePrinter) {
  // The engine stops once the job exists; the test then leaves what an engine killed while
  // the document went in leaves: the whole PDF and a half-written job record.
  StartToStopAt(*h_, "job-started");
  h_->WriteJob("c1.prc", 2);
  std::string slot = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcC", "c1.prc", {{"C", 2}}}));
  ASSERT_TRUE(WaitStopped(*h_));
  spool::FolderSpooler spooler(h_->printers());
  auto queued = spooler.EnumJobs("Office");
  ASSERT_TRUE(queued.ok());
  ASSERT_EQ(queued->size(), 1u);
  const uint32_t id = (*queued)[0].id;
  auto dir = spooler.PrinterFolder("Office");
  ASSERT_TRUE(dir.ok());
  const std::string jobs = dir->string() + "/jobs/";
  const std::string pdf = jobs + std::to_string(id) + ".pdf";
  const std::string half = jobs + "." + std::to_string(id) + ".job.tmpAbC123";
  ASSERT_TRUE(fs::WriteFileAtomic(pdf, "%PDF-1.4\n%%EOF\n").ok());
  ASSERT_TRUE(fs::WriteFileAtomic(half, "id=").ok());
  h_->StartEngine();
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("alice", "pcC", slot)), 6);
  EXPECT_TRUE(h_->PrintLog().empty());
  EXPECT_FALSE(fsys::exists(pdf));
  EXPECT_FALSE(fsys::exists(half));
  EXPECT_TRUE(h_->PrintedPdfs().empty());
  EXPECT_EQ(h_->StopEngine(), 0);
}

// Gives the "key=value" lines of a quota file text, in order, and whether every line ends in
// CR LF.
std::vector<std::string> QuotaLines(const std::string& text, bool* crlf) {
  std::vector<std::string> out;
  *crlf = true;
  size_t at = 0;
  while (at < text.size()) {
    size_t nl = text.find('\n', at);
    if (nl == std::string::npos) nl = text.size();
    std::string line = text.substr(at, nl - at);
    if (line.empty() || line.back() != '\r') *crlf = false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
    at = nl + 1;
  }
  return out;
}

TEST_F(EngineE2E, TheSystemLimitsAndTheAccountQuotaFileAreOneForTheCheckTheRenewalAndTheAnswer) {
  // carol counts by the system's limits, which the machine key does not hold: 50 and 20.
  // The period ended long ago, so the renewal at start writes the quota files.
  h_->Sql("INSERT INTO Main (UID,Account,UserName,GID,CountShubetsu,MaxPages,MaxPages_Color,Mail,Used) VALUES "
          "(3,'carol','Carol',0,1,0,0,'',1)");
  ASSERT_TRUE(fs::WriteFileAtomic(h_->result() + "/Aperiod.prd",
                                  "[PrintLimit]\r\nCheckRange=3\r\nLimitDate=20000131\r\nLimitDays=0\r\n")
                  .ok());
  h_->StartEngine();
  const std::string quota = h_->result() + "/carol-.ans";
  for (int i = 0; i < 1000 && !fsys::exists(h_->result() + "/carol.ans"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  auto renewed = fs::ReadFile(quota);
  ASSERT_TRUE(renewed.ok());
  const int32_t end = LastDayOfMonth(TodayDate());
  const std::string date = "LimitDate=" + std::to_string(end);
  bool crlf = false;
  EXPECT_EQ(QuotaLines(*renewed, &crlf),
            (std::vector<std::string>{"[PrintLimit]", "CheckRange=3", date, "MaxPages=50", "PageCount=0",
                                      "MaxPages_Color=20", "PageCount_Color=0"}));
  EXPECT_TRUE(crlf);
  h_->WriteJob("s1.prc", 1);
  std::string slot = h_->Submit(EngineHarness::RequestText(RequestSpec{"carol", "pcS", "s1.prc", {{"S", 1}}}));
  std::string answer = h_->WaitForAnswer("carol", "pcS", slot);
  EXPECT_EQ(EngineHarness::ResultCode(answer), 0) << answer;
  EXPECT_NE(answer.find("MaxPages=50\r\nPageCount=1\r\nMaxPages_Color=20\r\n"), std::string::npos) << answer;
  auto after = fs::ReadFile(quota);
  ASSERT_TRUE(after.ok());
  EXPECT_EQ(QuotaLines(*after, &crlf),
            (std::vector<std::string>{"[PrintLimit]", "CheckRange=3", date, "MaxPages=50", "PageCount=1",
                                      "MaxPages_Color=20", "PageCount_Color=0"}));
  EXPECT_TRUE(crlf);
  EXPECT_EQ(h_->StopEngine(), 0);
}

TEST_P(EngineOnBothDatabases, NobodyPrintsOnAnotherUsersQuota) {
  // Two users of the machine (through nss_wrapper) who may both write the share.
  if (::geteuid() != 0) GTEST_SKIP() << "request files of other users can only be made as root (chown)";
  const std::string nss = "/usr/lib/x86_64-linux-gnu/libnss_wrapper.so";
  if (!fsys::exists(nss)) GTEST_SKIP() << "nss_wrapper is not installed";
  const std::string accounts = root_.str() + "/accounts";
  ASSERT_TRUE(fs::MakeDirs(accounts).ok());
  ASSERT_TRUE(fs::WriteFileAtomic(accounts + "/passwd",
                                  "root:x:0:0:root:/root:/bin/sh\n"
                                  "aiko:x:2001:2001:Aiko:/home/aiko:/bin/sh\n"
                                  "kenji:x:2002:2002:Kenji:/home/kenji:/bin/sh\n"
                                  "kenji-pc:x:2003:2003:Kenji PC:/home/kenji-pc:/bin/sh\n")
                  .ok());
  ASSERT_TRUE(
      fs::WriteFileAtomic(accounts + "/group", "root:x:0:\naiko:x:2001:\nkenji:x:2002:\nkenji-pc:x:2003:\n").ok());
  h_->Sql(
      "INSERT INTO Main (UID,Account,UserName,GID,CountShubetsu,MaxPages,MaxPages_Color,Mail,Used) VALUES "
      "(11,'aiko','Aiko',0,0,0,0,'',1)");
  h_->Sql(
      "INSERT INTO Main (UID,Account,UserName,GID,CountShubetsu,MaxPages,MaxPages_Color,Mail,Used) VALUES "
      "(12,'kenji','Kenji',0,0,0,0,'',1)");
  // The period ended long ago: the renewal at start writes the quota files.
  ASSERT_TRUE(fs::WriteFileAtomic(h_->result() + "/Aperiod.prd",
                                  "[PrintLimit]\r\nCheckRange=3\r\nLimitDate=20000131\r\nLimitDays=0\r\n")
                  .ok());
  h_->StartEngine(
      {"LD_PRELOAD=" + nss, "NSS_WRAPPER_PASSWD=" + accounts + "/passwd", "NSS_WRAPPER_GROUP=" + accounts + "/group"});
  const fs::Ownership aiko{2001, 2001, 0644}, kenji{2002, 2002, 0644};
  // Gives the owner and mode of a file of the result folder ("" when it is missing).
  auto owner_of = [&](const std::string& name) {
    struct stat st {};
    if (::lstat((h_->result() + "/" + name).c_str(), &st) != 0) return std::string();
    char text[32];
    snprintf(text, sizeof text, "%u %04o", static_cast<unsigned>(st.st_uid), static_cast<unsigned>(st.st_mode & 07777));
    return std::string(text);
  };
  // Writes a one-page job file of `who`, mode 0600 as the client makes it.
  auto job_of = [&](const std::string& name, const fs::Ownership& who) {
    h_->WriteJob(name, 1);
    ASSERT_EQ(::chown((h_->jobs() + "/" + name).c_str(), who.uid, who.gid), 0);
    ASSERT_EQ(::chmod((h_->jobs() + "/" + name).c_str(), 0600), 0);
  };
  auto wait_aside = [&](const std::string& slot) {
    const std::string aside = h_->print_info() + "/Rejected/" + slot + ".lst";
    for (int i = 0; i < 1500 && !fsys::exists(aside); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return fsys::exists(aside);
  };

  // kenji's requests on another's quota (aiko's in any case, an account only the database
  // knows, a name the database folds to aiko's by other rules), for a job of aiko's, or
  // through a second name: each is set aside with both owners named, nothing printed or
  // charged, and the jobs it names stay as they are.
  struct Case {
    std::string account, machine, job;
    const fs::Ownership* job_owner;
    bool second_name;
    std::string event;
  } cases[] = {
      {"aiko", "pcK", "k0.prc", &kenji, false, "written by kenji for the account aiko"},
      {"AIKO", "pcK1", "k1.prc", &kenji, false, "written by kenji for the account aiko"},
      {"bob", "pcB", "k2.prc", &kenji, false, "written by kenji for the account bob (no user of this machine"},
      {"kenji", "pcK3", "a0.prc", &aiko, false, "belongs to aiko, the request to kenji"},
      {"kenji", "pcK4", "k4.prc", &kenji, true, "has 2 names (written by kenji)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.account + " " + c.job);
    job_of(c.job, *c.job_owner);
    std::string text = EngineHarness::RequestText(RequestSpec{c.account, c.machine, c.job, {{"K", 1}}});
    std::string s;
    if (c.second_name) {
      // Its first name outside the request folder, the second in a free slot.
      const std::string first = root_.str() + "/second-name.lst";
      ASSERT_TRUE(fs::WriteFileAtomic(first, text, 0644, fs::Durability::kSynced, &kenji).ok());
      s = "order50";
      ASSERT_EQ(::link(first.c_str(), (h_->print_info() + "/order50.lst").c_str()), 0);
    } else {
      s = h_->Submit(text, &kenji);
    }
    ASSERT_TRUE(wait_aside(s));
    EXPECT_TRUE(EventHas("[" + s + ".lst] ")) << s;
    EXPECT_TRUE(EventHas(c.event));
    EXPECT_FALSE(fsys::exists(h_->result() + "/" + c.account + "-" + c.machine + ".ans"));
    EXPECT_TRUE(fsys::exists(h_->jobs() + "/" + c.job));
  }
  // A name PostgreSQL folds to kenji's (KELVIN SIGN for the K), written by aiko: set aside
  // where the database matched it, and as no user of the machine where it did not (no
  // root's answer is written for it); never printed.
  const std::string kelvin =
      "\xE2\x84\xAA"
      "enji";
  job_of("a1.prc", aiko);
  std::string sk = h_->Submit(EngineHarness::RequestText(RequestSpec{kelvin, "pcA1", "a1.prc", {{"K", 1}}}), &aiko);
  ASSERT_TRUE(wait_aside(sk));
  EXPECT_TRUE(EventHas(GetParam() == "postgres" ? "only by other case rules" : "(no user of this machine"));
  EXPECT_FALSE(fsys::exists(h_->result() + "/" + kelvin + "-pcA1.ans"));
  EXPECT_EQ(h_->PrintLog().size(), 0u);
  EXPECT_EQ(h_->PrintedPdfs().size(), 0u);
  // What was set aside is root's to read alone.
  struct stat rejected {};
  ASSERT_EQ(::lstat((h_->print_info() + "/Rejected").c_str(), &rejected), 0);
  EXPECT_EQ(rejected.st_mode & 0777, 0700u);
  // Root may ask for an account the machine does not know: its answer is root's alone.
  h_->WriteJob("r0.prc", 1);
  std::string sr = h_->Submit(EngineHarness::RequestText(RequestSpec{"zvg2-pc", "042", "r0.prc", {{"R", 1}}}));
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("zvg2-pc", "042", sr)), 2);
  EXPECT_EQ(owner_of("zvg2-pc-042.ans"), "0 0600");
  EXPECT_EQ(owner_of(sr + "-zvg2-pc-042.an2"), "0 0600");

  // Answer names join account and machine by "-": "kenji-pc-Z.ans" answers kenji on
  // "pc-Z" and kenji-pc on "Z". kenji's file in that name is never deleted for kenji-pc's
  // answer: kenji-pc's request is set aside, naming both.
  ASSERT_TRUE(
      fs::WriteFileAtomic(h_->result() + "/kenji-pc-Z.ans", "kenji's own answer", 0600, fs::Durability::kSynced, &kenji)
          .ok());
  const fs::Ownership kenji_pc{2003, 2003, 0644};
  job_of("q1.prc", kenji_pc);
  std::string sk2 =
      h_->Submit(EngineHarness::RequestText(RequestSpec{"kenji-pc", "Z", "q1.prc", {{"Q", 1}}}), &kenji_pc);
  ASSERT_TRUE(wait_aside(sk2));
  EXPECT_TRUE(
      EventHas("[kenji-pc-Z.ans] a file of kenji, whose own answer the name may be, stands in the name of an "
               "answer to kenji-pc"));
  EXPECT_EQ(*fs::ReadFile(h_->result() + "/kenji-pc-Z.ans"), "kenji's own answer");
  EXPECT_EQ(h_->PrintLog().size(), 0u);

  // aiko's own request goes through, even past a folder kenji put in its answer's name;
  // her answers and quota files are hers alone. Her name typed in capitals keeps one quota
  // file, under the stored spelling.
  ASSERT_TRUE(fs::MakeDirs(h_->result() + "/aiko-pcA.ans/pin").ok());
  ASSERT_EQ(::chown((h_->result() + "/aiko-pcA.ans").c_str(), kenji.uid, kenji.gid), 0);
  job_of("a2.prc", aiko);
  std::string s2 = h_->Submit(EngineHarness::RequestText(RequestSpec{"aiko", "pcA", "a2.prc", {{"A", 1}}}), &aiko);
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("aiko", "pcA", s2)), 0);
  EXPECT_TRUE(EventHas("[aiko-pcA.ans] a folder of kenji stood in an answer's name: removed"));
  EXPECT_TRUE(EngineHarness::WaitGone(h_->jobs() + "/a2.prc"));  // deleted after its request
  job_of("a3.prc", aiko);
  std::string s3 = h_->Submit(EngineHarness::RequestText(RequestSpec{"AIKO", "pcA3", "a3.prc", {{"A", 1}}}), &aiko);
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("AIKO", "pcA3", s3)), 0);
  EXPECT_FALSE(fsys::exists(h_->result() + "/AIKO-.ans"));
  for (int i = 0; i < 1000 && !fsys::exists(h_->result() + "/kenji.ans"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  for (const std::string& name : {std::string("aiko-pcA.ans"), s2 + "-aiko-pcA.an2", std::string("aiko-.ans"),
                                  std::string("aiko.ans"), std::string("AIKO-pcA3.ans")})
    EXPECT_EQ(owner_of(name), "2001 0600") << name;
  EXPECT_EQ(owner_of("kenji.ans"), "2002 0600");
  EXPECT_EQ(h_->PrintLog().size(), 2u);

  // With the check off (a share whose owners are not the users), kenji's request for aiko
  // goes through, and the answers are written as ever.
  h_->SetDword("CheckRequestOwner", 0);
  job_of("k5.prc", kenji);
  std::string s5 = h_->Submit(EngineHarness::RequestText(RequestSpec{"aiko", "pcK2", "k5.prc", {{"K2", 1}}}), &kenji);
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("aiko", "pcK2", s5)), 0);
  EXPECT_EQ(owner_of("aiko-pcK2.ans"), "0 0644");
  EXPECT_EQ(h_->PrintLog().size(), 3u);
  EXPECT_EQ(h_->PrintedPdfs().size(), 3u);
  EXPECT_EQ(h_->StopEngine(), 0);
}

TEST_F(EngineE2E, JobFilesNoRequestNamesGoAfterADay) {
  // Left by requests set aside or never placed: an old one goes, a fresh one and an old one
  // that a waiting request names stay.
  for (const char* name : {"old.prc", "fresh.prc", "named.prc"}) h_->WriteJob(name, 1);
  for (const char* name : {"old.prc", "named.prc"}) {
    struct timespec times[2] = {{::time(nullptr) - 2 * 86400, 0}, {::time(nullptr) - 2 * 86400, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (h_->jobs() + "/" + name).c_str(), times, 0), 0);
  }
  // Placed before the engine starts: its first look at the jobs folder finds it waiting.
  std::string s = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcJ", "named.prc", {{"J", 1}}}));
  h_->StartEngine();
  EXPECT_TRUE(EngineHarness::WaitGone(h_->jobs() + "/old.prc"));
  EXPECT_TRUE(EventHas("1 job file(s) that no request named for a day removed"));
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("alice", "pcJ", s)), 0);  // its job was still there
  EXPECT_TRUE(fsys::exists(h_->jobs() + "/fresh.prc"));
  EXPECT_EQ(h_->StopEngine(), 0);
}

TEST_F(EngineE2E, ARequestWaitsUnprintedWhileNoAnswerCanBeCreated) {
  // An immutable result folder is sound (no link) yet takes no file: nothing is printed or
  // charged until it does again.
  if (!SetImmutable(h_->result(), true)) GTEST_SKIP() << "no immutable folders here";
  struct Release {
    std::string path;
    ~Release() { SetImmutable(path, false); }
  } release{h_->result()};
  h_->StartEngine();
  h_->WriteJob("w1.prc", 1);
  std::string s = h_->Submit(EngineHarness::RequestText(RequestSpec{"alice", "pcW", "w1.prc", {{"W", 1}}}));
  ASSERT_TRUE(EventHas("requests wait unprinted until answers can be written"));
  EXPECT_TRUE(fsys::exists(h_->print_info() + "/" + s + ".lst"));
  EXPECT_TRUE(h_->PrintedPdfs().empty());
  EXPECT_TRUE(h_->PrintLog().empty());
  ASSERT_TRUE(SetImmutable(h_->result(), false));
  EXPECT_EQ(EngineHarness::ResultCode(h_->WaitForAnswer("alice", "pcW", s)), 0);
  EXPECT_EQ(h_->PrintLog().size(), 1u);
  EXPECT_EQ(h_->StopEngine(), 0);
}

TEST_F(EngineE2E, OneInstanceAndTheArgument) {
  const std::string bin = zv::testing::BinDir();
  for (std::vector<std::string> argv :
       {std::vector<std::string>{bin + "/hevrasto"}, std::vector<std::string>{bin + "/hevrasto", "-other"}}) {
    process::StartOptions o;
    o.argv = argv;
    auto p = process::Start(o);
    ASSERT_TRUE(p.ok());
    auto code = p->Wait(10000);
    ASSERT_TRUE(code.ok());
    EXPECT_EQ(*code, 1);
  }
  h_->StartEngine({});
  process::StartOptions o;
  o.argv = {bin + "/hevrasto", "-zelvoraprintservice"};
  auto second = process::Start(o);
  ASSERT_TRUE(second.ok());
  auto code = second->Wait(10000);
  ASSERT_TRUE(code.ok());
  EXPECT_EQ(*code, 1);
  // SIGTERM closes the engine as WM_CLOSE does.
  ASSERT_TRUE(h_->engine().Kill(15).ok());
  auto ended = h_->engine().Wait(20000);
  ASSERT_TRUE(ended.ok());
  EXPECT_EQ(*ended, 0);
  EXPECT_FALSE(fsys::exists(h_->print_info() + "/Wakeup.inf"));
}

}  // namespace
}  // namespace zv::engine::testing
