// The pure parts of the engine program: slot names and the ring, the sequence text, the
// print-log rows and rotations of a print, the quota notice, and the kept print-log rows.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "engine/core/pending_log.h"
#include "engine/hevrasto/phase_obj.h"
#include "engine/hevrasto/print_records.h"
#include "engine/hevrasto/quota_mail.h"
#include "engine/hevrasto/request_marks.h"
#include "engine/hevrasto/request_slots.h"
#include "engine/hevrasto/result_sweep.h"
#include "platform/fs/files.h"
#include "platform/testing/temp_root.h"

namespace zv::engine {
namespace {

TEST(Slots, NamesAndRing) {
  EXPECT_EQ(SlotFileName(7), "order07.lst");
  EXPECT_EQ(ParseSlotFileName("order42.lst"), 42);
  EXPECT_EQ(ParseSlotFileName("ORDER42.LST"), 42);
  for (const char* bad : {"order.lst", "order1.lst", "order123.lst", "orderab.lst", "order42.ls", "x"})
    EXPECT_EQ(ParseSlotFileName(bad), -1) << bad;
  EXPECT_TRUE(MatchesRequestPattern("order.lst"));
  EXPECT_FALSE(MatchesRequestPattern("order07.lst.taken"));
  struct {
    const char* text;
    int start;
  } seq[] = {{"05", 5}, {"98\r\n", 98}, {"", 0}, {"x", 0}, {"100", 0}, {" 7", 7}};
  for (auto& c : seq) EXPECT_EQ(ParseSequence(c.text), c.start) << c.text;
  std::array<bool, kSlotCount> present{};
  EXPECT_EQ(PickSlot(present, 0), -1);
  present[2] = true;
  EXPECT_EQ(PickSlot(present, 98), 2);  // 98, 99, 00, 01 tested, 02 taken
  present[5] = true;
  EXPECT_EQ(PickSlot(present, 5), 5);
  EXPECT_EQ(PickSlot(present, 3), 5);
}

TEST(Slots, SequenceFileLockIsSharedBoundedAndStoppable) {
  zv::testing::TempRoot root;
  std::string dir = root.str();
  {
    auto seq = SequenceFile::Lock(dir, nullptr, 1000);
    ASSERT_TRUE(seq.ok());
    auto start = seq->ReadStart();
    ASSERT_TRUE(start.ok());
    EXPECT_EQ(*start, 0);  // a missing file starts at 00
    ASSERT_TRUE(seq->WriteNext(99).ok());
  }
  auto text = fs::ReadFile(dir + "/Sequence.seq");
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(*text, "00");  // 99 is followed by 00
  // Another holder (the client) keeps the lock: the wait ends at its limit, or at once when
  // the stop event is set.
  int fd = ::open((dir + "/Sequence.seq").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  auto timed = SequenceFile::Lock(dir, nullptr, 300);
  EXPECT_EQ(timed.status().code(), Status::Code::kTimeout);
  sync::Event stop;
  stop.Set();
  auto stopped = SequenceFile::Lock(dir, &stop, 60000);
  EXPECT_EQ(stopped.status().code(), Status::Code::kBusy);
  ::close(fd);
  EXPECT_TRUE(SequenceFile::Lock(dir, &stop, 0).ok());

  // Without a limit the wait lasts until the holder lets go, however long that is.
  fd = ::open((dir + "/Sequence.seq").c_str(), O_RDWR);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  std::thread holder([fd] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ::close(fd);
  });
  sync::Event running;
  EXPECT_TRUE(SequenceFile::Lock(dir, &running, -1).ok());
  holder.join();

  // A "Sequence.seq" that is a link is never opened (the number would land where it points).
  const std::string other = dir + "/other";
  ASSERT_TRUE(fs::MakeDirs(other).ok());
  ASSERT_TRUE(fs::WriteFileAtomic(dir + "/target", "42").ok());
  ASSERT_EQ(::symlink((dir + "/target").c_str(), (other + "/Sequence.seq").c_str()), 0);
  EXPECT_FALSE(SequenceFile::Lock(other, nullptr, 100).ok());
  EXPECT_EQ(fs::ReadFile(dir + "/target").value(), "42");
}

TEST(Slots, ClientsOpenTheSequenceReadOnlyAndNoHolderStopsThem) {
  zv::testing::TempRoot root;
  const std::string dir = root.str();
  bool locked = true;
  EXPECT_EQ(SequenceFile::OpenShared(dir, 100, &locked).status().code(), Status::Code::kNotFound);
  auto own = SequenceFile::OpenOwn(dir);  // the engine's: made 0640, "00"
  ASSERT_TRUE(own.ok());
  struct stat st {};
  ASSERT_EQ(::stat((dir + "/Sequence.seq").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  ASSERT_TRUE(own->WriteNext(6).ok());
  own->Close();
  // A client's shared lock is had beside another client's; the engine's exclusive one
  // waits for both, and a client facing an exclusive holder gets the file unlocked.
  auto a = SequenceFile::OpenShared(dir, 100, &locked);
  ASSERT_TRUE(a.ok());
  EXPECT_TRUE(locked);
  EXPECT_EQ(*a->ReadStart(), 7);
  EXPECT_EQ(::fcntl(a->fd(), F_GETFL) & O_ACCMODE, O_RDONLY);
  auto b = SequenceFile::OpenShared(dir, 100, &locked);
  ASSERT_TRUE(b.ok());
  EXPECT_TRUE(locked);
  EXPECT_EQ(SequenceFile::Lock(dir, nullptr, 50).status().code(), Status::Code::kTimeout);
  a->Close();
  b->Close();
  auto engine = SequenceFile::Lock(dir, nullptr, 50);
  ASSERT_TRUE(engine.ok());
  auto c = SequenceFile::OpenShared(dir, 50, &locked);
  ASSERT_TRUE(c.ok());
  EXPECT_FALSE(locked);
  EXPECT_EQ(*c->ReadStart(), 7);
}

TEST(Slots, LockHoldersFromProcLocks) {
  const std::string text =
      "1: FLOCK  ADVISORY  WRITE 4242 fd:01:1234 0 EOF\n"
      "1: -> FLOCK  ADVISORY  WRITE 77 fd:01:1234 0 EOF\n"
      "2: POSIX  ADVISORY  READ 99 fd:01:999 0 EOF\n"
      "3: FLOCK  ADVISORY  READ 500 00:2f:1234 0 EOF\n"
      "garbage\n";
  auto holders = ParseLockHolders(text, 0xfd, 0x01, 1234);
  ASSERT_EQ(holders.size(), 1u);  // the waiter (->) and other files are left out
  EXPECT_EQ(holders[0].pid, 4242);
  EXPECT_EQ(holders[0].kind, "FLOCK WRITE");
  // The live table names this very process as the holder of its own lock.
  zv::testing::TempRoot root;
  auto held = SequenceFile::Lock(root.str(), nullptr, 100);
  ASSERT_TRUE(held.ok());
  struct stat st {};
  ASSERT_EQ(::stat((root.str() + "/Sequence.seq").c_str(), &st), 0);
  auto live = fs::ReadFile("/proc/locks");
  ASSERT_TRUE(live.ok());
  auto mine = ParseLockHolders(*live, major(st.st_dev), minor(st.st_dev), st.st_ino);
  ASSERT_EQ(mine.size(), 1u);
  EXPECT_EQ(mine[0].pid, ::getpid());
  const std::string told = DescribeLockHolders(root.str() + "/Sequence.seq");
  EXPECT_NE(told.find("held by process " + std::to_string(::getpid()) + " ("), std::string::npos) << told;
  EXPECT_NE(told.find("(FLOCK WRITE)"), std::string::npos) << told;
}

TEST(Slots, JobFilesNobodyNamesGoAfterADay) {
  using namespace std::chrono;
  const system_clock::time_point now = system_clock::from_time_t(1'800'000'000);
  const std::vector<JobFileAge> files = {{"pc0.prc", now - hours(25)},
                                         {"pc1.prc", now - hours(25)},
                                         {"pc2.prc", now - hours(23)},
                                         {"pc3.prc", now - hours(24) - seconds(1)}};
  EXPECT_EQ(StaleJobFiles(files, {"pc1.prc"}, now, hours(24)), (std::vector<std::string>{"pc0.prc", "pc3.prc"}));
  EXPECT_TRUE(StaleJobFiles(files, {}, now - hours(2), hours(24)).empty());
}

TEST(ResultSweep, OnlyAnswerCopiesAndStagedAnswersADayOldAreRemoved) {
  using std::chrono::hours;
  const auto now = std::chrono::system_clock::now();
  const auto old = now - hours(25), fresh = now - hours(23);
  const std::vector<JobFileAge> files = {
      {"order07-alice-pc1.an2", old},
      {"order07-alice-pc2.an2", fresh},
      {".alice-pc1.ans.staged-order07", old},
      {"alice-pc1.ans", old},  // the answer, replaced by the next
      {"alice.ans", old},
      {"alice-.ans", old},  // quota files
      {"order-x.an2", old},
      {"orderly-a.an2", old},
      {"order3.an2", old},
  };
  EXPECT_EQ(StaleAnswerCopies(files, now, hours(24)),
            (std::vector<std::string>{"order07-alice-pc1.an2", ".alice-pc1.ans.staged-order07"}));
  // Through the folder: regular files only, never through a link.
  zv::testing::TempRoot root;
  const std::string dir = root.str() + "/Result";
  ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
  const std::string target = root.str() + "/keep.an2";
  ASSERT_TRUE(fs::WriteFileAtomic(target, "x").ok());
  for (const char* name : {"order01-a-b.an2", "a-.ans", "a.ans"})
    ASSERT_TRUE(fs::WriteFileAtomic(dir + "/" + name, "x").ok());
  ASSERT_EQ(::symlink(target.c_str(), (dir + "/order02-a-b.an2").c_str()), 0);
  EXPECT_EQ(SweepAnswerCopies(dir, now + hours(48)), 1);
  EXPECT_NE(::access((dir + "/order01-a-b.an2").c_str(), F_OK), 0);
  for (const char* name : {"a-.ans", "a.ans"}) EXPECT_EQ(::access((dir + "/" + name).c_str(), F_OK), 0) << name;
  EXPECT_EQ(::access(target.c_str(), F_OK), 0);
}

CRequestInfo TwoJobs(int pages_a, int pages_b) {
  CRequestInfo r;
  r.Init();
  r.Jobs = {{"A", pages_a}, {"B", pages_b}};
  r.ThumbnailCount = 0;
  r.PaperSize = 9;
  return r;
}

TEST(PrintRecords, RowsPerJobAndFoldedInMultiPageModes) {
  PrinterRecord printer{3, "P", 1, 1};
  CRequestInfo r = TwoJobs(3, 2);
  auto rows = BuildPrintLogRows(r, PageRange{1, 5}, 0, 2, 9, printer, 20260415, 101500);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].JobName, "A");
  EXPECT_EQ(rows[0].Pages, 6);
  EXPECT_EQ(rows[0].JobPages, 3);
  EXPECT_EQ(rows[1].Pages, 4);
  EXPECT_EQ(rows[1].JobPages, 2);
  EXPECT_EQ(rows[1].SpoolName, "A");
  EXPECT_EQ(rows[1].PID, 3);
  EXPECT_EQ(rows[1].Ptype, 1);
  EXPECT_EQ(rows[1].UID, 9);
  r.ThumbnailCount = 1;
  rows = BuildPrintLogRows(r, PageRange{1, 5}, 2, 2, 9, printer, 20260415, 101500);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].JobName, "...");
  EXPECT_EQ(rows[0].Pages, 6);  // three sheets of two pages, two copies
  EXPECT_EQ(rows[0].JobPages, 3);
  rows = BuildPrintLogRows(TwoJobs(3, 0), PageRange{1, 3}, 2, 1, 9, printer, 1, 1);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].JobName, "A");
  EXPECT_TRUE(BuildPrintLogRows(r, PageRange{3, 2}, 0, 1, 9, printer, 1, 1).empty());
  // A count the column cannot hold is stored at its largest, never wrapped below zero.
  CRequestInfo big = TwoJobs(3000000, 0);
  rows = BuildPrintLogRows(big, PageRange{1, 3000000}, 0, 999, 9, printer, 1, 1);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Pages, 2147483647);
}

TEST(PrintRecords, RangesAndRotations) {
  CRequestInfo r = TwoJobs(3, 2);
  r.AllPages = 0;
  r.FirstPage = 2;
  r.LastPage = 9;
  PageRange range = RequestRange(r, 5);
  EXPECT_EQ(range.first, 2);
  EXPECT_EQ(range.last, 5);
  EXPECT_EQ(RotationsForRange("1,7,16,", 3), (std::vector<uint16_t>{1, 1, 16}));
  EXPECT_EQ(RotationsForRange("1,0,16", 3), (std::vector<uint16_t>{1, 0, 16}));  // the client's form
  EXPECT_EQ(RotationsForRange("0,1", 3), (std::vector<uint16_t>{0, 1}));
  EXPECT_EQ(RotationsForRange("", 3), (std::vector<uint16_t>{}));
  EXPECT_EQ(RotationsForRange("16", 1), (std::vector<uint16_t>{16}));
  EXPECT_EQ(RotationsForRange("x,,99999999999,", 3), (std::vector<uint16_t>{0, 0, 0}));
}

TEST(QuotaNotice, WhenDueAndWhatItSays) {
  EngineSettings s;
  s.Init(20260315);
  s.MailUser = true;
  s.AdminMailAddress = "admin@example.org";
  CRequestResult r;
  r.Init();
  r.CheckRange = 4;
  r.LimitDays = 30;
  r.LimitDate = 20260315;
  r.MaxPages = 0;
  r.PageCount = 12;
  r.MaxPages_Color = 10;
  r.PageCount_Color = 10;
  UserRecord u;
  u.UserName = "山田";
  u.Mail = "yamada@example.org";
  QuotaNotice n = ComposeQuotaNotice(s, r, "yamada", u, MailClock{2026, 3, 15, 9, 5});
  ASSERT_TRUE(n.send);
  EXPECT_EQ(n.subject, "印刷枚数制限の通知 [2026/03/15 09:05]");
  std::string body;
  for (auto& l : n.body_lines) body += l + "\n";
  EXPECT_NE(body.find("◎カラー印刷可能枚数を超えています。"), std::string::npos);
  EXPECT_EQ(body.find("◎モノクロ"), std::string::npos);  // no monochrome limit
  EXPECT_NE(body.find("依頼者　　　　　　　　　　：yamada（山田）\n"), std::string::npos);
  EXPECT_NE(body.find("印刷可能枚数（カラー）　　：10 枚\n"), std::string::npos);
  EXPECT_NE(body.find("印刷制限の範囲　　　　　　：30日間（3月15日まで）\n"), std::string::npos);
  EXPECT_NE(body.find("E-Mail：admin@example.org\n"), std::string::npos);
  // The rule line: the longest of heading and signatures in ANSI bytes, plus 5.
  EXPECT_EQ(n.body_lines[0], std::string(std::string("E-Mail：admin@example.org").size() - 1 + 5, '-'));

  r.MaxPages = 10;
  n = ComposeQuotaNotice(s, r, "yamada", UserRecord{}, MailClock{2026, 3, 15, 9, 5});
  size_t color = 0, mono = 0;
  for (size_t i = 0; i < n.body_lines.size(); ++i) {
    if (n.body_lines[i].rfind("◎カラー", 0) == 0) color = i;
    if (n.body_lines[i].rfind("◎モノクロ", 0) == 0) mono = i;
  }
  EXPECT_TRUE(color > 0 && mono == color + 1);
  r.PageCount_Color = 9;
  r.PageCount = 9;
  EXPECT_FALSE(ComposeQuotaNotice(s, r, "y", u, MailClock{}).send);  // nothing reached
  r.PageCount = -1;
  r.MaxPages = 1;
  EXPECT_FALSE(ComposeQuotaNotice(s, r, "y", u, MailClock{}).send);  // not computed
  EXPECT_EQ(PeriodText(2, 0, 0, 1), "1週間（月曜～日曜）");
  EXPECT_EQ(PeriodText(2, 0, 0, 0), "1週間（日曜～土曜）");
  EXPECT_EQ(PeriodText(0, 0, 0, 0), "無期限");
}

TEST(PendingRows, RoundTripAndDamage) {
  PrintLogRecord a{0, 1, 2, 20260415, 101500, "job\twith\ttabs\\", "spool\nname", 3, 1, 0, 9, 3, "o'brien\t"};
  auto back = ParsePendingRows(FormatPendingRows({a, a}));
  ASSERT_TRUE(back.ok());
  ASSERT_EQ(back->size(), 2u);
  EXPECT_EQ((*back)[0].Account, a.Account);
  // rows kept before the account was recorded still read, without one
  auto old = ParsePendingRows("1\t2\t20260415\t101500\tj\ts\t3\t1\t0\t9\t3\n");
  ASSERT_TRUE(old.ok());
  EXPECT_EQ(old->at(0).Account, "");
  EXPECT_EQ((*back)[1].JobName, a.JobName);
  EXPECT_EQ((*back)[1].SpoolName, a.SpoolName);
  EXPECT_EQ((*back)[1].PTime, 101500);
  for (const char* bad : {"1\t2\n", "1\t2\t3\t4\ta\tb\tx\t1\t0\t9\t3\n", "1\t2\t3\t4\ta\\q\tb\t1\t1\t0\t9\t3\n",
                          "1\t2\t3\t4\ta\tb\t1\t1\t0\t9\t3"})
    EXPECT_FALSE(ParsePendingRows(bad).ok()) << bad;
}

TEST(RequestMarks, RoundTripAndWhatIsNoMark) {
  RequestMark m;
  m.request = "1234:1700000000.5";
  m.job = 17;
  m.printer = "Office";
  m.rows = "1-2-3.held";
  auto back = ParseMark(FormatMark(m));
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(back->request, m.request);
  EXPECT_EQ(back->job, 17u);
  EXPECT_EQ(back->printer, "Office");
  EXPECT_EQ(back->rows, "1-2-3.held");
  m.job_file = "WXQ1.prc";
  EXPECT_EQ(ParseMark(FormatMark(m))->job_file, "WXQ1.prc");
  // A mark of the old kind (the request text) or a damaged one is no mark of any request.
  for (const char* bad :
       {"[RequestInfo]\r\nAccountName=a\r\n", "", "job=5\n", "request=x\njob=-1\n", "request=x\njob=99999999999\n"})
    EXPECT_FALSE(ParseMark(bad).ok()) << bad;
}

TEST(RequestMarks, TheStartSweepsWhatAStoppedEngineLeftBesideRequestsAnsweredOrGone) {
  zv::testing::TempRoot root;
  const std::string info = root.str() + "/PrintInfo", jobs = root.str() + "/Jobs";
  ASSERT_TRUE(fs::MakeDirs(info).ok());
  ASSERT_TRUE(fs::MakeDirs(jobs).ok());
  auto put = [](const std::string& path, const std::string& text) { ASSERT_TRUE(fs::WriteFileAtomic(path, text).ok()); };
  auto request = [&](int slot, const std::string& job) {
    put(info + "/" + SlotFileName(slot), "[RequestInfo]\nAccountName=a\nJobFileName=" + job + "\n");
    return *RequestIdentity(info + "/" + SlotFileName(slot));
  };
  auto mark = [&](const std::string& name, const std::string& request, const std::string& job) {
    RequestMark m;
    m.request = request;
    m.job_file = job;
    put(info + "/" + name, FormatMark(m));
  };
  for (const char* j : {"j1.prc", "j2.prc", "j3.prc", "j3new.prc", "j5.prc", "loose.prc"}) put(jobs + "/" + j, "job");
  put(root.str() + "/outside.prc", "not the engine's");
  // order01: answered before the stop and still waiting: left for its serving.
  mark("order01.answered", request(1, "j1.prc"), "j1.prc");
  // order02: answered, the request removed, its job not yet.
  mark("order02.answered", "7:1.0", "j2.prc");
  // order03: a taken mark of an earlier request; a new request waits in the slot.
  mark("order03.taken", "8:1.0", "j3.prc");
  (void)request(3, "j3new.prc");
  // order04: a mark naming a job a waiting request names; order06: a name out of the folder.
  mark("order04.answered", "9:1.0", "j1.prc");
  mark("order06.answered", "10:1.0", "../outside.prc");
  // order05: a mark someone else wrote: neither settled nor trusted with a job.
  mark("order05.taken", "11:1.0", "j5.prc");
  const bool root_user = ::geteuid() == 0;
  if (root_user) {
    ASSERT_EQ(::chown((info + "/order05.taken").c_str(), 4242, 4242), 0);
  }

  std::vector<std::string> settled;
  auto swept = SweepLeftovers(info, jobs, [&](const RequestMark& m) { settled.push_back(m.job_file); });
  ASSERT_TRUE(swept.ok()) << swept.status().ToString();
  EXPECT_EQ(swept->marks, (std::vector<std::string>{"order02.answered", "order03.taken", "order04.answered",
                                                    "order05.taken", "order06.answered"}));
  EXPECT_EQ(swept->jobs, (std::vector<std::string>{"j2.prc", "j3.prc"}));
  const std::vector<std::string> settled_expected =
      root_user ? std::vector<std::string>{"j3.prc"} : std::vector<std::string>{"j3.prc", "j5.prc"};
  EXPECT_EQ(settled, settled_expected);
  for (const char* stays : {"PrintInfo/order01.answered", "PrintInfo/order01.lst", "PrintInfo/order03.lst",
                            "Jobs/j1.prc", "Jobs/j3new.prc", "Jobs/loose.prc", "outside.prc"})
    EXPECT_EQ(::access((root.str() + "/" + stays).c_str(), F_OK), 0) << stays;
  if (root_user) {
    EXPECT_EQ(::access((jobs + "/j5.prc").c_str(), F_OK), 0);
  }

  // A waiting request that cannot be read might name any job: marks go, no job does.
  mark("order07.answered", "12:1.0", "loose.prc");
  put(info + "/order08.lst", "no request");
  swept = SweepLeftovers(info, jobs, [&](const RequestMark&) {});
  ASSERT_TRUE(swept.ok());
  EXPECT_EQ(swept->marks, std::vector<std::string>{"order07.answered"});
  EXPECT_TRUE(swept->jobs.empty());
  EXPECT_EQ(::access((jobs + "/loose.prc").c_str(), F_OK), 0);
}

TEST(OwnFolder, AFolderSwappedAfterItWasFoundIsCheckedAgain) {
  zv::testing::TempRoot root;
  const std::string share = root.str() + "/share", result = share + "/Result", outside = root.str() + "/outside";
  ASSERT_TRUE(fs::MakeDirs(result).ok());
  ASSERT_TRUE(fs::MakeDirs(outside).ok());
  ASSERT_TRUE(CheckOwnFolder(result, share).ok());
  ASSERT_TRUE(CheckOwnFolder(result, share).ok());  // found before: vouched for by the watch
  // Each swap is made after the folder was found; the next check must see it.
  struct Swap {
    const char* what;
    std::function<void()> make;
    bool ok;
  } swaps[] = {
      {"a link to a folder outside the share",
       [&] {
         ASSERT_EQ(::rename(result.c_str(), (share + "/old").c_str()), 0);
         ASSERT_EQ(::symlink(outside.c_str(), result.c_str()), 0);
       },
       false},
      {"a real folder again",
       [&] {
         ASSERT_EQ(::unlink(result.c_str()), 0);
         ASSERT_TRUE(fs::MakeDirs(result).ok());
       },
       true},
      {"nothing", [&] { ASSERT_EQ(::rmdir(result.c_str()), 0); }, false},
      {"a plain file", [&] { ASSERT_TRUE(fs::WriteFileAtomic(result, "x").ok()); }, false},
  };
  for (const Swap& swap : swaps) {
    swap.make();
    EXPECT_EQ(CheckOwnFolder(result, share).ok(), swap.ok) << swap.what;
    EXPECT_EQ(CheckOwnFolder(result, share).ok(), swap.ok) << swap.what << ", asked again";
  }
}

}  // namespace
}  // namespace zv::engine
