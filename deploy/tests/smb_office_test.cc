// The office as it is deployed across machines: a server machine and two client machines
// (each with its own network, mount and UTS namespaces and its own /etc), the server's share
// served by Samba with the section the installer wrote, and every user of a client machine
// mounting it with smbnetfs under a login of their own, with user numbers other than the
// server's. A user on each client machine prints with `lp` and the pages reach the server's
// printer while the answer reaches that user's client and monitor; two machines send fifty
// requests each at once and each is answered once, with its own answer, and charged to its
// own account; a member on the other machine forges answers and the victim sees only its
// own; a non-member reaches nothing; the link is cut and smbd restarted while jobs are on
// their way, and each ends printed once or refused with the truth. The same office runs on
// the embedded database and on a PostgreSQL of the server's own; a smaller road goes over
// sshfs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "deploy/testing/road.h"
#include "deploy/testing/smb_office.h"
#include "platform/fs/files.h"
#include "platform/odbc/odbc.h"
#include "platform/process/process.h"

namespace zv::deploy {
namespace {

namespace sfs = std::filesystem;
using namespace std::chrono_literals;
using testing::Account;
using testing::DeployedMachine;
using testing::SmbOffice;
using testing::WaitUntil;

constexpr int kVictimMachine = 0, kOtherMachine = 1;

std::string ReadOr(const std::string& path, const std::string& fallback = "") {
  auto t = fs::ReadFile(path);
  return t.ok() ? *t : fallback;
}

// Takes an answer's text; gives its Result value (-1 without one).
int ResultOf(const std::string& answer) {
  const auto at = answer.find("Result=");
  return at == std::string::npos ? -1 : std::atoi(answer.c_str() + at + 7);
}

// Takes text and a part; gives how often the part occurs.
int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// Takes a condition; polls it every millisecond for at most 20 s; gives whether it held.
bool WaitUntilFast(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(1ms);
  }
  return false;
}

// Takes a user; gives whether the user's job monitor has its window in the window table.
bool MonitorWindowUp(const Account& who) {
  std::error_code ec;
  for (const auto& e : sfs::directory_iterator(who.home + "/.local/state/zelvora/run/winmsg", ec))
    if (e.path().extension() == ".win" && ReadOr(e.path().string()).find("Welmoric") != std::string::npos) return true;
  return false;
}

testing::OfficeOptions Shape(bool postgres) {
  testing::OfficeOptions o;
  o.postgres = postgres;
  // Names with "-" in them: the attacker's account and the victim's machine spell the
  // same answer name ("aiko-kita" on "pc-1" and "aiko" on "kita-pc-1").
  o.clients = {
      {"kita-pc-1", {{"aiko", 6001, ""}}},
      {"minami-pc2", {{"kenji", 7002, ""}, {"aiko-kita", 7003, ""}, {"nomad", 7004, "", false}, {"emi", 7005, ""}}}};
  return o;
}

class SmbOfficeRoad : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartOffice(false); }
  static void StartOffice(bool postgres) {
    missing_ = SmbOffice::Missing();
    if (!missing_.empty()) return;
    const auto started = std::chrono::steady_clock::now();
    office_ = SmbOffice::Start(ZELVORA_BUILD_DIR, ZELVORA_SOURCE_DIR, Shape(postgres), &failure_).release();
    std::fprintf(stderr, "the office was up in %.1f s\n",
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  }
  static void TearDownTestSuite() {
    delete office_;
    office_ = nullptr;
  }
  void SetUp() override {
    if (!missing_.empty()) GTEST_SKIP() << "the office test " << missing_;
    ASSERT_NE(office_, nullptr) << failure_;
  }

  static DeployedMachine& Client(int i) { return office_->client(i); }
  static const Account& User(int i, const std::string& name) { return office_->client(i).user(name); }
  static std::string Send(int i) { return office_->client(i).prefix() + "/bin/ostrane-send"; }
  // Takes a machine, a user and a shell script; runs it there as that user.
  static int Sh(int i, const Account& who, const std::string& script, std::string* out = nullptr,
                int timeout_ms = 180000) {
    return Client(i).Run(&who, {"/bin/sh", "-c", script}, out, timeout_ms);
  }
  // Takes a machine; gives a job document of `pages` pages in its documents folder.
  static std::string JobDocument(int i, int pages = 1) {
    const std::string doc = Client(i).dir() + "/docs/sample-" + std::to_string(pages) + ".prc";
    if (::access(doc.c_str(), R_OK) != 0) {
      EXPECT_EQ(Client(i).Run(nullptr, {Client(i).prefix() + "/bin/jobdoc-tool", "sample", doc, std::to_string(pages)}),
                0);
      ::chmod(doc.c_str(), 0644);
    }
    return doc;
  }
  // Gives the print log as "account|job name|pages" rows, in the order printed.
  static std::vector<std::string> PrintLog() {
    std::vector<std::string> rows;
    auto c = odbc::Connection::Open(office_->dsn(), "", "");
    if (!c.ok()) return {"cannot open the database: " + c.status().ToString()};
    auto r = (*c)->Query(
        "SELECT Main.Account AS A, PrintLog.JobName AS J, PrintLog.Pages AS P FROM PrintLog "
        "JOIN Main ON PrintLog.UID = Main.UID ORDER BY PrintLog.ID",
        {});
    if (!r.ok()) return {"cannot read the print log: " + r.status().ToString()};
    for (auto more = (*r)->Next(); more.ok() && *more; more = (*r)->Next())
      rows.push_back((*r)->Get(std::string("A")).value_or("") + "|" + (*r)->Get(std::string("J")).value_or("") + "|" +
                     (*r)->Get(std::string("P")).value_or(""));
    return rows;
  }
  static std::string Sql(const std::string& sql) { return testing::Sql(office_->dsn(), sql); }

  // The cases both databases run.
  void ShareIsTheMembersWithALoginEach();
  void EachMachinesUserPrintsWithLp();
  void ManyRequestsAtOnce();
  void ForgeriesReachNoVictim();

  static inline SmbOffice* office_ = nullptr;
  static inline std::string missing_, failure_;
};

class SmbOfficeRoadOnPostgres : public SmbOfficeRoad {
 protected:
  static void SetUpTestSuite() { StartOffice(true); }
};

// The share as Samba serves it: the installer's section (members only, exact names, files
// 0600), a login of their own for each member (what a member writes is that member's on the
// server, whatever the client machine numbers them), nothing of it for another member.
void SmbOfficeRoad::ShareIsTheMembersWithALoginEach() {
  SmbOffice& office = *office_;
  const std::string conf = ReadOr(office.server_box().etc() + "/samba/smb.conf");
  for (const char* line : {"[ZELVORA]", "valid users = @zelvora", "case sensitive = yes", "create mask = 0600",
                           "force create mode = 0600", "path = "})
    EXPECT_NE(conf.find(line), std::string::npos) << line << " is not in the installer's section:\n" << conf;
  const Account& aiko = office.client(kVictimMachine).user("aiko");
  const Account& kenji = office.client(kOtherMachine).user("kenji");
  const std::string name = "probe-" + std::to_string(::getpid()) + ".prc";
  std::string out;
  ASSERT_EQ(office.client(kVictimMachine)
                .Run(&aiko,
                     {"/bin/sh", "-c",
                      "umask 022; echo private > " + office.ShareView(kVictimMachine, aiko) + "/Jobs/" + name},
                     &out),
            0)
      << out;
  struct stat st {};
  const std::string on_server = office.server().share() + "/Jobs/" + name;
  ASSERT_EQ(::lstat(on_server.c_str(), &st), 0) << office.Logs();
  EXPECT_EQ(st.st_uid, office.server().user("aiko").uid) << "the file is not its member's on the server";
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_NE(office.client(kOtherMachine)
                .Run(&kenji, {"/bin/cat", office.ShareView(kOtherMachine, kenji) + "/Jobs/" + name}, &out),
            0)
      << out;
  EXPECT_NE(
      office.client(kOtherMachine).Run(&kenji, {"/bin/ls", office.ShareView(kOtherMachine, kenji) + "/Jobs"}, &out), 0)
      << "a member lists Jobs: " << out;
  ::unlink(on_server.c_str());
}

TEST_F(SmbOfficeRoad, TheShareIsTheMembersOnlyWithALoginEach) { ShareIsTheMembersWithALoginEach(); }
TEST_F(SmbOfficeRoadOnPostgres, TheShareIsTheMembersOnlyWithALoginEach) { ShareIsTheMembersWithALoginEach(); }

// A non-member of the client machine, with a login of its own, mounts and reaches nothing
// of the share; nothing of it reaches the server.
TEST_F(SmbOfficeRoad, ANonMemberReachesNothing) {
  const Account& nomad = User(kOtherMachine, "nomad");
  const Status mounted = office_->Mount(kOtherMachine, nomad, 20s);
  EXPECT_FALSE(mounted.ok()) << "the share shows for a non-member";
  const std::string view = office_->ShareView(kOtherMachine, nomad);
  for (const std::string& probe :
       {"ls " + view, "ls " + view + "/PrintInfo", "cat " + view + "/PrintInfo/printers.lst",
        "echo x > " + view + "/Jobs/nomad.prc", "echo x > " + view + "/PrintInfo/order00.lst"})
    EXPECT_NE(Sh(kOtherMachine, nomad, probe, nullptr, 60000), 0) << probe;
  EXPECT_FALSE(sfs::exists(office_->server().share() + "/Jobs/nomad.prc"));
  EXPECT_FALSE(sfs::exists(office_->server().share() + "/PrintInfo/order00.lst"));
}

// A user on each client machine prints a PDF of two pages with `lp` to "Zelvora": the pages
// reach the server's printer, the print log counts them under that user, and the answer
// reaches the user's client (its message) and monitor (its popup).
void SmbOfficeRoad::EachMachinesUserPrintsWithLp() {
  SmbOffice& office = *office_;
  struct Who {
    int machine;
    std::string name;
  };
  for (const Who& w : {Who{kVictimMachine, "aiko"}, Who{kOtherMachine, "kenji"}}) {
    SCOPED_TRACE(w.name + " on " + office.client_box(w.machine).hostname());
    DeployedMachine& m = office.client(w.machine);
    const Account& who = m.user(w.name);
    // The monitor first, as a desktop session has it: the client tells it each request.
    auto monitor = m.StartAs(who, {m.prefix() + "/bin/welmoric"}, {}, "welmoric-" + who.name);
    ASSERT_TRUE(monitor.ok()) << monitor.status().ToString();
    EXPECT_TRUE(WaitUntil([&] { return MonitorWindowUp(who); }, 60s)) << "the monitor shows no window";
    ASSERT_TRUE(m.StartSession(who).ok()) << office.Logs();
    const std::string monitor_log = m.dir() + "/log/welmoric-" + who.name + ".out";
    const std::string pdf = m.dir() + "/docs/" + who.name + "-letter.pdf";
    testing::WritePdf(pdf, {{595.28, 841.89, who.name + " page 1"}, {595.28, 841.89, who.name + " page 2"}});
    const std::string answer = office.AnswerOnServer(w.machine, who);
    ::unlink(answer.c_str());
    const auto printed_before = office.Printed();
    const std::string title = "Letter of " + who.name;
    std::string out;
    ASSERT_EQ(m.Run(&who, {"lp", "-d", "Zelvora", "-t", title, pdf}, &out), 0) << out;
    EXPECT_TRUE(WaitUntil([&] { return office.Printed().size() > printed_before.size(); }, 240s))
        << "nothing reached the server's printer\n"
        << office.Logs();
    std::string printed;
    for (const auto& p : office.Printed())
      if (std::find(printed_before.begin(), printed_before.end(), p) == printed_before.end()) printed = p;
    if (!printed.empty()) {
      m.Run(nullptr, {"pdfinfo", printed}, &out, 60000);
      const auto at = out.find("Pages:");
      EXPECT_EQ(at == std::string::npos ? -1 : std::atoi(out.c_str() + at + 6), 2) << out;
    }
    EXPECT_TRUE(WaitUntil([&] { return ResultOf(ReadOr(answer)) == 0; }, 60s)) << ReadOr(answer) << office.Logs();
    // The answer reaches the user's machine (read through the user's own mount, as the
    // client's quota display reads it), and the monitor, told of the request by the client,
    // shows it.
    const std::string seen = office.ShareView(w.machine, who) + "/Result/" + who.name + "-" +
                             office.client_box(w.machine).hostname() + ".ans";
    EXPECT_EQ(m.Run(&who, {"/bin/grep", "-q", "印刷が完了しました", seen}, &out), 0) << out;
    EXPECT_TRUE(WaitUntil([&] { return ReadOr(monitor_log).find("印刷が完了しました") != std::string::npos; }, 60s))
        << ReadOr(monitor_log);
    (void)monitor->Kill(SIGTERM);
    (void)monitor->Wait(10000);
    const auto log = PrintLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), who.name + "|" + title + "|2"), 1) << ::testing::PrintToString(log);
  }
}

TEST_F(SmbOfficeRoad, AUserOnEachMachinePrintsWithLpAndTheAnswerComesBack) { EachMachinesUserPrintsWithLp(); }
TEST_F(SmbOfficeRoadOnPostgres, AUserOnEachMachinePrintsWithLpAndTheAnswerComesBack) { EachMachinesUserPrintsWithLp(); }

// Two machines send fifty requests each, all at once (five senders of ten on each): every
// request is answered once, with its own answer, and printed once on its own account.
void SmbOfficeRoad::ManyRequestsAtOnce() {
  ASSERT_EQ(Sql("UPDATE Main SET MaxPages=100000"), "");
  const auto log_before = PrintLog();
  std::vector<testing::Sender> senders;
  const std::vector<std::pair<int, std::string>> who = {{kVictimMachine, "aiko"}, {kOtherMachine, "kenji"}};
  for (const auto& [machine, name] : who)
    for (int n = 0; n < 5; ++n)
      senders.push_back(
          {&Client(machine), User(machine, name), name + "-many" + std::to_string(n), 10, JobDocument(machine)});
  double seconds = 0;
  const auto sent = testing::SendAtOnce(senders, &seconds);
  std::fprintf(stderr, "2 machines x 50 requests answered in %.1f s\n", seconds);
  // A sender of a user who sends from several processes of one machine may take a slot
  // freed a moment before, its mount still showing no answer copy there: the engine holds
  // such a request until the earlier answer's copy is taken (the event log says each time).
  std::fprintf(stderr, "requests held for an answer copy not taken yet: %d\n",
               Count(ReadOr(office_->server().server_root() + "/log/events.log"), "] held: its answer would replace "));
  for (std::size_t i = 0; i < senders.size(); ++i) {
    SCOPED_TRACE(senders[i].tag);
    EXPECT_EQ(sent[i].exit_code, 0) << sent[i].output << office_->Logs();
    EXPECT_EQ(Count(sent[i].output, " result=0 "), 10) << sent[i].output;
    for (int n = 0; n < 10; ++n)
      EXPECT_EQ(Count(sent[i].output, " " + senders[i].tag + "-" + std::to_string(n) + " result=0 "), 1)
          << sent[i].output;
  }
  // Once each, on its sender's account, nothing else.
  const auto log = PrintLog();
  ASSERT_GE(log.size(), log_before.size());
  std::map<std::string, int> rows;
  for (std::size_t i = log_before.size(); i < log.size(); ++i) ++rows[log[i]];
  EXPECT_EQ(log.size() - log_before.size(), 100u) << ::testing::PrintToString(rows);
  for (const auto& s : senders)
    for (int n = 0; n < 10; ++n) {
      const std::string row = s.who.name + "|" + s.tag + "-" + std::to_string(n) + "|1";
      EXPECT_EQ(rows[row], 1) << row;
    }
}

TEST_F(SmbOfficeRoad, TwoMachinesOfFiftyRequestsAtOnceAreEachAnsweredAndChargedOnce) { ManyRequestsAtOnce(); }
TEST_F(SmbOfficeRoadOnPostgres, TwoMachinesOfFiftyRequestsAtOnceAreEachAnsweredAndChargedOnce) { ManyRequestsAtOnce(); }

// A member on the other machine whose account and claimed machine spell the victim's answer
// name ("aiko-kita" on "pc-1" against "aiko" on "kita-pc-1") sends his own job as from
// "pc-1" and one for an account nobody has ("aiko-kita-pc" on "1"): the victim's answer
// stays the victim's, no answer is written for the unknown account, nothing is charged to
// either, and the victim's next job prints with its own answer. He then plants a forged
// answer copy in every free slot's name: the victim is never shown it (its job prints with
// its own answer, or is set aside unprinted and uncharged, the event log naming both).
void SmbOfficeRoad::ForgeriesReachNoVictim() {
  const int v = kVictimMachine, o = kOtherMachine;
  const Account& victim = User(v, "aiko");
  const Account& attacker = User(o, "aiko-kita");
  const std::string host = office_->client_box(v).hostname();
  const std::string answer = office_->AnswerOnServer(v, victim);
  ASSERT_EQ(Sql("UPDATE Main SET MaxPages=100000 WHERE Account='aiko'"), "");
  ASSERT_EQ(Sql("UPDATE Main SET MaxPages=1 WHERE Account='aiko-kita'"), "");  // his own jobs are refused
  std::string out;
  const auto victim_sends = [&](const std::string& tag, int wait_s) {
    return Client(v).Run(
        &victim,
        {Send(v), "send", "--printer", "Office", "--tag", tag, "--wait", std::to_string(wait_s), JobDocument(v)}, &out);
  };
  const auto queue_empty = [&] {
    return WaitUntil(
        [&] {
          std::error_code ec;
          for (const auto& e : sfs::directory_iterator(office_->server().share() + "/PrintInfo", ec))
            if (e.path().filename().string().rfind("order", 0) == 0) return false;
          return true;
        },
        120s);
  };
  ASSERT_EQ(victim_sends("before", 120), 0) << out << office_->Logs();
  const std::string victims_answer = ReadOr(answer);
  ASSERT_EQ(ResultOf(victims_answer), 0) << victims_answer;
  auto log_before = PrintLog();

  // The look-alike name and the unknown account.
  Client(o).Run(&attacker,
                {Send(o), "send", "--machine", "pc-1", "--printer", "Office", "--tag", "lookalike", "--wait", "20",
                 JobDocument(o, 3)},
                &out);
  Client(o).Run(&attacker,
                {Send(o), "send", "--account", "aiko-kita-pc", "--machine", "1", "--printer", "Office", "--tag",
                 "unknown", "--wait", "20", JobDocument(o)},
                &out);
  EXPECT_TRUE(queue_empty());
  struct stat st {};
  ASSERT_EQ(::lstat(answer.c_str(), &st), 0) << "the victim's answer was deleted\n" << office_->Logs();
  EXPECT_EQ(st.st_uid, office_->server().user("aiko").uid);
  EXPECT_EQ(ReadOr(answer), victims_answer);
  EXPECT_EQ(PrintLog(), log_before);
  ASSERT_EQ(victim_sends("between", 120), 0) << out << office_->Logs();
  EXPECT_NE(out.find(" between-0 result=0 "), std::string::npos) << out;
  log_before = PrintLog();

  // A forged copy in every free slot's name (the victim's own copies stay the victim's).
  const std::string result = office_->ShareView(o, attacker) + "/Result";
  const std::string forged =
      "[PrintResult]\\r\\nResult=0\\r\\n[NormalMessage]\\r\\nTitle=FORGED\\r\\nMessage=FORGED\\r\\n";
  Sh(o, attacker,
     "cd " + result + " && for i in $(seq -w 0 99); do printf '" + forged + "' > order$i-aiko-" + host +
         ".an2; done 2>/dev/null; true",
     &out);
  int planted = 0;
  for (int n = 0; n < 100; ++n) {
    char name[64];
    std::snprintf(name, sizeof name, "/order%02d-aiko-", n);
    if (::lstat((office_->server().result() + name + host + ".an2").c_str(), &st) == 0 &&
        st.st_uid == office_->server().user("aiko-kita").uid)
      ++planted;
  }
  EXPECT_GE(planted, 90) << out;
  const int code = victim_sends("after", 30);
  EXPECT_EQ(out.find("FORGED"), std::string::npos) << out;
  EXPECT_TRUE(queue_empty());
  const auto log = PrintLog();
  if (code == 0) {
    EXPECT_NE(out.find(" after-0 result=0 "), std::string::npos) << out;
    ASSERT_EQ(log.size(), log_before.size() + 1) << ::testing::PrintToString(log);
    EXPECT_EQ(log.back(), "aiko|after-0|1");
  } else {
    EXPECT_EQ(log, log_before) << "set aside, yet printed";
    EXPECT_NE(ReadOr(office_->server().server_root() + "/log/events.log").find("a file of aiko-kita"),
              std::string::npos);
  }
  std::fprintf(stderr, "the victim's job among planted copies: %s\n", code == 0 ? "printed" : "set aside");
  for (const auto& row : log) EXPECT_EQ(row.rfind("aiko-kita", 0), std::string::npos) << row;
  // The attacker's files go, so that the victim's later jobs are not held by them.
  std::error_code ec;
  for (const auto& e : sfs::directory_iterator(office_->server().result(), ec))
    if (::lstat(e.path().c_str(), &st) == 0 && st.st_uid == office_->server().user("aiko-kita").uid)
      ::unlink(e.path().c_str());
}

TEST_F(SmbOfficeRoad, AMembersForgedAnswersReachNoVictim) { ForgeriesReachNoVictim(); }
TEST_F(SmbOfficeRoadOnPostgres, AMembersForgedAnswersReachNoVictim) { ForgeriesReachNoVictim(); }

// A job on its way while the link to its machine is cut for 30 s, for 90 s, or while smbd
// restarts ends printed once (and its sender says so) or refused with the truth (never
// "the server is not running": it runs); the share is used again afterwards without
// restarting anything on the client machine. Once per run: it takes minutes.
TEST_F(SmbOfficeRoad, AJobOnItsWayWhenTheLinkIsCutOrSmbdRestartsEndsPrintedOnceOrRefusedWithTheTruth) {
  const int v = kVictimMachine;
  const Account& aiko = User(v, "aiko");
  ASSERT_EQ(Sql("UPDATE Main SET MaxPages=100000"), "");
  struct Disruption {
    std::string what;
    std::string when;  // "job": once the job file is being written; "request": once it is queued
    std::function<void()> run;
  };
  const std::vector<Disruption> cases = {
      {"cut30", "job",
       [&] {
         ASSERT_TRUE(office_->SetLink(v, false).ok());
         std::this_thread::sleep_for(30s);
         ASSERT_TRUE(office_->SetLink(v, true).ok());
       }},
      {"cut90", "request",
       [&] {
         ASSERT_TRUE(office_->SetLink(v, false).ok());
         std::this_thread::sleep_for(90s);
         ASSERT_TRUE(office_->SetLink(v, true).ok());
       }},
      {"smbd", "request", [&] { ASSERT_TRUE(office_->RestartSmbd().ok()) << office_->Logs(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto log_before = PrintLog();
    auto p = Client(v).StartAs(
        aiko, {Send(v), "send", "--printer", "Office", "--tag", c.what, "--wait", "300", JobDocument(v, 30)}, {},
        "disrupted-" + c.what);
    ASSERT_TRUE(p.ok()) << p.status().ToString();
    // On its way: its job file being written, or its request queued (the engine takes a
    // request within milliseconds, so this waits on the server's own disk).
    const std::string folder = office_->server().share() + (c.when == "job" ? "/Jobs" : "/PrintInfo");
    WaitUntilFast([&] {
      std::error_code ec;
      for (const auto& e : sfs::directory_iterator(folder, ec)) {
        const std::string n = e.path().filename().string();
        if (c.when == "job" ? n.rfind(office_->client_box(v).hostname(), 0) == 0 : n.rfind("order", 0) == 0)
          return true;
      }
      return false;
    });
    c.run();
    auto code = p->Wait(600000);
    if (!code.ok()) {
      (void)p->Kill();
      (void)p->Wait(10000);
    }
    const std::string out = ReadOr(Client(v).dir() + "/log/disrupted-" + c.what + ".out");
    // The engine is done with whatever reached it.
    EXPECT_TRUE(WaitUntil(
        [&] {
          std::error_code ec;
          for (const auto& e : sfs::directory_iterator(office_->server().share() + "/PrintInfo", ec))
            if (e.path().filename().string().rfind("order", 0) == 0) return false;
          return true;
        },
        120s));
    const auto log = PrintLog();
    const int printed = static_cast<int>(
        std::count(log.begin() + static_cast<long>(log_before.size()), log.end(), "aiko|" + c.what + "-0|30"));
    EXPECT_LE(printed, 1) << "printed twice";
    ASSERT_TRUE(code.ok()) << "the sender did not end\n" << out;
    if (*code == 0) {
      EXPECT_EQ(printed, 1) << out;
      EXPECT_NE(out.find(" " + c.what + "-0 result=0 "), std::string::npos) << out;
    } else {
      EXPECT_EQ(out.find("サーバのサービスが起動していません"), std::string::npos)
          << "the engine runs, but the sender says it does not:\n"
          << out;
    }
    std::fprintf(stderr, "%s: exit %d, printed %d\n", c.what.c_str(), *code, printed);
    // Once the mount sees the share again, the same client uses it, nothing restarted.
    EXPECT_TRUE(WaitUntil(
        [&] {
          return Client(v).Run(&aiko, {"/usr/bin/test", "-d", office_->ShareView(v, aiko) + "/PrintInfo"}, nullptr,
                               60000) == 0;
        },
        180s));
    std::string again;
    EXPECT_EQ(Client(v).Run(
                  &aiko,
                  {Send(v), "send", "--printer", "Office", "--tag", c.what + "-again", "--wait", "120", JobDocument(v)},
                  &again),
              0)
        << again << office_->Logs();
  }
}

// The second road a share takes: a user's sshfs mount (every file the login's, links and
// renames as sshfs has them). Three senders of five at once: each request answered once and
// charged once to its sender.
TEST_F(SmbOfficeRoad, OverSshfsRequestsAtOnceAreEachAnsweredAndChargedOnce) {
  const int o = kOtherMachine;
  const Account& emi = User(o, "emi");
  auto point = office_->MountSshfs(o, emi);
  ASSERT_TRUE(point.ok()) << point.status().ToString() << office_->Logs();
  std::string out;
  ASSERT_EQ(Client(o).Run(&emi, {Send(o), "join", *point, "--server", office_->server_name()}, &out), 0) << out;
  ASSERT_EQ(Sql("UPDATE Main SET MaxPages=100000 WHERE Account='emi'"), "");
  const auto log_before = PrintLog();
  std::vector<testing::Sender> senders;
  for (int n = 0; n < 3; ++n) senders.push_back({&Client(o), emi, "sshfs" + std::to_string(n), 5, JobDocument(o)});
  const auto sent = testing::SendAtOnce(senders);
  for (std::size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(sent[i].exit_code, 0) << sent[i].output << office_->Logs();
    EXPECT_EQ(Count(sent[i].output, " result=0 "), 5) << sent[i].output;
  }
  const auto log = PrintLog();
  std::map<std::string, int> rows;
  for (std::size_t i = log_before.size(); i < log.size(); ++i) ++rows[log[i]];
  EXPECT_EQ(log.size() - log_before.size(), 15u) << ::testing::PrintToString(rows);
  for (const auto& s : senders)
    for (int n = 0; n < 5; ++n) EXPECT_EQ(rows["emi|" + s.tag + "-" + std::to_string(n) + "|1"], 1) << s.tag << n;
}

}  // namespace
}  // namespace zv::deploy
