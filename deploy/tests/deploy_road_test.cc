// The system as it is deployed: installed with `cmake --install` into a prefix, set up for the
// server and client roles by the installed role set-up script against a scheduler configured
// as the distribution packages it, and used by two ordinary users (an account database of the
// test's own) whose sessions start the resident program from the autostart entry. Each user
// prints a PDF, a text file, a LibreOffice document and a raster job; each job reaches only its
// owner's client, the engine prints it on its folder printer, the answer reaches the owner and
// the print log counts it under the owner's account. Japanese printed from a text file,
// LibreOffice and a GTK program is read back whole from the engine's print, and no capture log
// tells of a lost character. A forged job owner is refused, a user
// over the page limit is refused, and nothing is written outside the test's folders. Each
// user's client is shown on its last job for a screenshot in the build's artifacts folder. On
// a second machine set up the same way, a hostile member tries every way in to another
// user's jobs, answers and quota, and is refused each time.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "client/handover.h"
#include "deploy/testing/deployed_machine.h"
#include "deploy/testing/road.h"
#include "deploy/testing/tree_state.h"
#include "engine/hevrasto/share_files.h"
#include "platform/fs/files.h"
#include "platform/odbc/odbc.h"
#include "platform/odbc/testing/postgres_server.h"
#include "platform/testing/artifacts.h"
#include "platform/testing/bin_dir.h"
#include "platform/testing/char_counts.h"

namespace zv::deploy {
namespace {

namespace sfs = std::filesystem;
using namespace std::chrono_literals;
using testing::Account;
using testing::DeployedMachine;
using testing::Page;
using testing::WaitUntil;
using testing::WritePdf;

// What poppler's tools say of a printed PDF.
struct PdfFacts {
  int pages = 0;
  std::vector<std::pair<double, double>> sizes;  // points
};

// Takes a program's output of `pdfinfo -f 1 -l 999`; gives the page count and sizes.
PdfFacts ParsePdfInfo(const std::string& info) {
  PdfFacts f;
  std::istringstream in(info);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Pages:", 0) == 0) f.pages = std::atoi(line.c_str() + 6);
    double w = 0, h = 0;
    int n = 0;
    if (std::sscanf(line.c_str(), "Page %d size: %lf x %lf", &n, &w, &h) == 3) f.sizes.push_back({w, h});
  }
  return f;
}

// One page of a document as the client saved it: its paper in 0.1 mm and its orientation.
struct SavedPage {
  int width = 0, height = 0;
  bool landscape = false;
};

// Takes the output of `jobdoc-tool info`; gives the pages of the client's saved document.
std::vector<SavedPage> ParseSavedInfo(const std::string& info) {
  std::vector<SavedPage> pages;
  std::istringstream in(info);
  for (std::string line; std::getline(in, line);) {
    const auto at = line.find("(0.1 mm), ");
    if (line.rfind("  page ", 0) != 0 || at == std::string::npos) continue;
    SavedPage p;
    const auto paper = line.rfind(", paper ", at);
    const auto dims = paper == std::string::npos ? std::string::npos : line.find(", ", paper + 8);
    if (dims == std::string::npos || std::sscanf(line.c_str() + dims + 2, "%d x %d", &p.width, &p.height) != 2)
      continue;
    p.landscape = line.compare(at + 10, 9, "landscape") == 0;
    pages.push_back(p);
  }
  return pages;
}

// Takes a binary PGM (P5) image's bytes and a rectangle in fractions of the image; gives the
// count of pixels darker than mid-grey inside it (-1 for an image it cannot read).
long DarkPixels(const std::string& pgm, double x0, double y0, double x1, double y1) {
  std::istringstream in(pgm);
  std::string magic;
  int w = 0, h = 0, max = 0;
  in >> magic >> w >> h >> max;
  in.get();
  if (magic != "P5" || w <= 0 || h <= 0 || max != 255) return -1;
  const std::size_t start = static_cast<std::size_t>(in.tellg());
  if (pgm.size() < start + static_cast<std::size_t>(w) * h) return -1;
  long dark = 0;
  for (int y = static_cast<int>(y0 * h); y < static_cast<int>(y1 * h); ++y)
    for (int x = static_cast<int>(x0 * w); x < static_cast<int>(x1 * w); ++x)
      if (static_cast<unsigned char>(pgm[start + static_cast<std::size_t>(y) * w + x]) < 128) ++dark;
  return dark;
}

// Takes a path and a fallback; gives the file's text, or the fallback when it cannot be read.
std::string ReadOr(const std::string& path, const std::string& fallback) {
  auto t = fs::ReadFile(path);
  return t.ok() ? *t : fallback;
}

std::string MachineName() {
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  return std::string(host).substr(0, 49);
}

// The phrase with which the capture log tells that characters of a page were lost (drawn by
// no face and by no outline of the document's font): a line holding it fails the test. The
// job's own line counts them too ("…, 0 characters lost") and is not such a line.
constexpr std::string_view kLostCharacterPhrases[] = {" characters lost: "};

// Takes capture log text; gives its lines that tell of lost characters (empty: none).
std::string LostCharacterLines(const std::string& log) {
  std::string lost;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);)
    for (std::string_view phrase : kLostCharacterPhrases)
      if (line.find(phrase) != std::string::npos) {
        lost += line + "\n";
        break;
      }
  return lost;
}

// Takes a user's home; gives the path of the capture log of that user's session.
std::string CaptureLog(const std::string& home) { return home + "/.local/state/zelvora/log/capture.log"; }

class DeployRoad : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    missing_ = DeployedMachine::Missing();
    if (!missing_.empty()) return;
    before_ = testing::TreeState(kWatched, kRewritten);
    std::string error;
    machine_ = DeployedMachine::Install(ZELVORA_BUILD_DIR, ZELVORA_SOURCE_DIR,
                                        {{"aiko", 2001, ""}, {"kenji", 2002, ""}}, &error)
                   .release();
    if (machine_ == nullptr) {
      failure_ = error;
      return;
    }
    failure_ = testing::SetUpOffice(*machine_, &dsn_);
  }
  static void TearDownTestSuite() {
    delete machine_;
    machine_ = nullptr;
  }
  void SetUp() override {
    if (!missing_.empty()) GTEST_SKIP() << "the deployment test " << missing_;
    ASSERT_NE(machine_, nullptr) << failure_;
    ASSERT_EQ(failure_, "") << machine_->Logs();
  }

  // Takes one SQL statement; runs it on the server's database; gives an error text.
  static std::string Sql(const std::string& sql) { return testing::Sql(dsn_, sql); }
  // Gives the print log as "account|job name|pages" rows, ascending.
  static std::vector<std::string> PrintLog() {
    std::vector<std::string> rows;
    auto c = odbc::Connection::Open(dsn_, "", "");
    if (!c.ok()) return rows;
    auto r = (*c)->Query(
        "SELECT Main.Account AS A, PrintLog.JobName AS J, PrintLog.Pages AS P FROM PrintLog "
        "JOIN Main ON PrintLog.UID = Main.UID ORDER BY PrintLog.ID",
        {});
    if (!r.ok()) return rows;
    for (auto more = (*r)->Next(); more.ok() && *more; more = (*r)->Next())
      rows.push_back((*r)->Get(std::string("A")).value_or("") + "|" + (*r)->Get(std::string("J")).value_or("") + "|" +
                     (*r)->Get(std::string("P")).value_or(""));
    return rows;
  }
  // Gives the PDFs the folder printer holds, sorted.
  static std::vector<std::string> Printed() {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : sfs::recursive_directory_iterator(machine_->printers(), ec))
      if (e.path().extension() == ".pdf") out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  static std::string AnswerPath(const Account& a) { return machine_->result() + "/" + a.name + "-" + MachineName() + ".ans"; }

  // A finished job as the test sees it: the answer's text and the printed PDF (empty when
  // none came).
  struct Outcome {
    std::string answer, printed, saved;
  };
  static std::map<std::string, long long> Saved(const Account& who) { return testing::SavedDocuments(who); }
  static std::string Changed(const std::map<std::string, long long>& before,
                             const std::map<std::string, long long>& after) {
    return testing::ChangedDocument(before, after);
  }
  // Takes the user and a command printing as that user; removes the user's last answer, runs
  // the command and waits for the new answer and, when `prints`, the printed PDF. Checks that
  // no other user's answer changed.
  Outcome PrintAs(const Account& who, const std::vector<std::string>& command, bool prints = true) {
    Outcome o;
    ::unlink(AnswerPath(who).c_str());
    std::map<std::string, std::string> others;
    std::map<std::string, std::map<std::string, long long>> saved;
    for (const auto& a : machine_->users()) {
      if (a.name != who.name) others[a.name] = ReadOr(AnswerPath(a), "");
      saved[a.name] = Saved(a);
    }
    const auto before = Printed();
    std::string out;
    EXPECT_EQ(machine_->Run(&who, command, &out), 0) << out;
    EXPECT_TRUE(WaitUntil([&] { return ReadOr(AnswerPath(who), "").find("Result=") != std::string::npos; }))
        << "no answer for " << who.name << "\n" << machine_->Logs();
    o.answer = ReadOr(AnswerPath(who), "");
    if (prints) {
      EXPECT_TRUE(WaitUntil([&] { return Printed().size() > before.size(); }, 60s)) << machine_->Logs();
      for (const auto& p : Printed())
        if (std::find(before.begin(), before.end(), p) == before.end()) o.printed = p;
    }
    for (const auto& [name, text] : others)
      EXPECT_EQ(ReadOr(AnswerPath(machine_->user(name)), ""), text) << "the answer of " << name << " changed";
    // The job went through its owner's client alone.
    for (const auto& a : machine_->users()) {
      const std::string changed = Changed(saved[a.name], Saved(a));
      if (a.name == who.name) {
        o.saved = changed;
      } else {
        EXPECT_EQ(changed, "") << "the client of " << a.name << " took a job of " << who.name;
      }
    }
    return o;
  }
  // Takes an answer's text; gives its Result value (-1 without one).
  static int ResultOf(const std::string& answer) {
    const auto at = answer.find("Result=");
    return at == std::string::npos ? -1 : std::atoi(answer.c_str() + at + 7);
  }
  // Takes the user and an answer's path; gives whether that user can read the answer.
  static bool UserReads(const Account& who) {
    std::string out;
    return machine_->Run(&who, {"/bin/cat", AnswerPath(who)}, &out, 30000) == 0 && out.find("Result=") != std::string::npos;
  }
  // Takes a printed PDF; gives its page count and sizes.
  static PdfFacts Facts(const std::string& pdf) {
    std::string out;
    machine_->Run(nullptr, {"pdfinfo", "-f", "1", "-l", "999", pdf}, &out, 60000);
    return ParsePdfInfo(out);
  }
  // Takes a document the client saved; gives its pages as the client holds them.
  static std::vector<SavedPage> SavedFacts(const std::string& prc) {
    std::string out;
    machine_->Run(nullptr, {machine_->prefix() + "/bin/jobdoc-tool", "info", prc}, &out, 60000);
    return ParseSavedInfo(out);
  }
  // Starts both users' sessions once, as their autostart entries say.
  static void StartSessions() {
    if (sessions_started_) return;
    sessions_started_ = true;
    for (const auto& a : machine_->users()) ASSERT_TRUE(machine_->StartSession(a).ok()) << machine_->Logs();
  }
  // Takes a printed PDF and a page; gives the page rendered as a grey image (PGM bytes).
  static std::string Render(const std::string& pdf, int page) {
    const std::string base = machine_->dir() + "/docs/probe";
    machine_->Run(nullptr,
                  {"pdftoppm", "-r", "36", "-gray", "-f", std::to_string(page), "-l", std::to_string(page), "-singlefile",
                   pdf, base},
                  nullptr, 60000);
    return ReadOr(base + ".pgm", "");
  }
  // Takes a user; gives the files of that user's spool folder.
  static std::vector<std::string> Spool(const Account& who) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : sfs::directory_iterator(who.home + "/.local/state/zelvora/spool", ec))
      out.push_back(e.path().filename().string());
    return out;
  }
  // Takes a document's name and pages; writes it in the test's documents folder; gives its path.
  static std::string Document(const std::string& name, const std::vector<Page>& pages) {
    const std::string path = machine_->dir() + "/docs/" + name;
    WritePdf(path, pages);
    return path;
  }

  static inline const std::vector<std::string> kWatched = {"/usr/lib/cups", "/etc/cups", "/opt/zelvora"};
  // Files a running system scheduler rewrites on its own.
  static inline const std::vector<std::string> kRewritten = {"printers.conf", "printers.conf.O", "classes.conf",
                                                              "classes.conf.O", "subscriptions.conf",
                                                              "subscriptions.conf.O"};
  static inline DeployedMachine* machine_ = nullptr;
  static inline std::string missing_, failure_, dsn_;
  static inline bool sessions_started_ = false;
  static inline std::map<std::string, std::string> before_;
};

// Without a session the backend, run as root by the scheduler, still puts the job into its
// owner's spool folder only, as the owner: the job files are the scheduler's (root-only), so
// it must have opened the document before it dropped to the user.
TEST_F(DeployRoad, AJobLandsInItsOwnersSpoolFolderOnly) {
  const Account& aiko = machine_->user("aiko");
  const Account& kenji = machine_->user("kenji");
  const std::string pdf = Document("landing.pdf", {{595.28, 841.89, "Landing"}});
  std::string out;
  ASSERT_EQ(machine_->Run(&aiko, {"lp", "-d", "Zelvora", "-t", "Landing", pdf}, &out), 0) << out;
  ASSERT_TRUE(WaitUntil([&] {
    for (const auto& f : Spool(aiko))
      if (f.size() > 4 && f.substr(f.size() - 4) == ".job") return true;
    return false;
  })) << machine_->Logs();
  std::string document;
  for (const auto& f : Spool(aiko))
    if (f.size() > 4 && f.substr(f.size() - 4) == ".pdf") document = aiko.home + "/.local/state/zelvora/spool/" + f;
  ASSERT_FALSE(document.empty());
  struct stat st {};
  ASSERT_EQ(::stat(document.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, aiko.uid);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(ReadOr(document, "x"), ReadOr(pdf, "y"));
  EXPECT_TRUE(Spool(kenji).empty());
  // The scheduler's copy stays its own.
  std::error_code ec;
  for (const auto& e : sfs::directory_iterator(machine_->scheduler().dir() + "/spool", ec)) {
    if (e.path().filename().string()[0] != 'd') continue;
    ASSERT_EQ(::stat(e.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u) << e.path();
    EXPECT_EQ(st.st_mode & 0007, 0u) << e.path();
  }
  // Taken away again before the sessions start, so the resident program does not print it.
  for (const auto& f : Spool(aiko)) ::unlink((aiko.home + "/.local/state/zelvora/spool/" + f).c_str());
}

// Each user's road: a PDF, a text file (the distribution's text filter), a LibreOffice
// document and a raster job at 600 dpi, each through that user's own client alone (its saved
// copy: pages, paper, orientation), sent on by AutoPrint, printed by the engine on the folder
// printer (pages, size, the text drawn), answered to that user and logged under that account.
TEST_F(DeployRoad, EachUsersJobsTravelThroughTheirOwnClientToTheEngineAndBack) {
  StartSessions();
  struct Case {
    std::string what, title;
    std::function<std::vector<std::string>(const Account&)> command;
    int pages;                      // 0: at least one
    std::vector<bool> landscape;    // per page as the client holds it; empty: all portrait
    double probe_bottom;            // the band (fraction of the page height) the text stands in
  };
  const std::vector<Case> cases = {
      {"pdf", "Report",
       [](const Account& a) {
         const std::string pdf = Document(a.name + "-report.pdf", {{595.28, 841.89, a.name + " page 1"},
                                                                  {595.28, 841.89, a.name + " page 2"},
                                                                  {841.89, 595.28, a.name + " landscape"}});
         return std::vector<std::string>{"lp", "-d", "Zelvora", "-t", "Report", pdf};
       },
       3, {false, false, true}, 0.3},
      {"text", "Notes",
       [](const Account& a) {
         const std::string text = machine_->dir() + "/docs/" + a.name + "-notes.txt";
         {
           std::ofstream t(text);
           for (int i = 1; i <= 80; ++i) t << "NOTES OF " << a.name << " LINE " << i << " WWWWWWWWWWWWWWWWWWWW\n";
         }
         ::chmod(text.c_str(), 0644);
         return std::vector<std::string>{"lp", "-d", "Zelvora", "-t", "Notes", text};
       },
       0, {}, 0.5},
      {"libreoffice", "",
       [](const Account& a) {
         const std::string text = machine_->dir() + "/docs/" + a.name + "-letter.txt";
         {
           std::ofstream t(text);
           t << "LETTER FROM " << a.name << "\n\nThis letter was printed by LibreOffice.\n";
         }
         ::chmod(text.c_str(), 0644);
         return std::vector<std::string>{"soffice", "--headless", "--norestore", "--pt", "Zelvora", text};
       },
       1, {}, 0.3},
      {"raster", "Raster",
       [](const Account& a) {
         const std::string pdf = Document(a.name + "-raster.pdf", {{595.28, 841.89, a.name + " raster"},
                                                                  {841.89, 595.28, a.name + " raster landscape"}});
         return std::vector<std::string>{"lp", "-d", "Zelvora-Raster", "-o", "Resolution=600dpi", "-t", "Raster", pdf};
       },
       2, {false, true}, 0.3},
  };
  for (const auto& a : machine_->users()) {
    for (const auto& c : cases) {
      SCOPED_TRACE(a.name + ": " + c.what);
      const auto log_before = PrintLog();
      const Outcome o = PrintAs(a, c.command(a));
      EXPECT_EQ(ResultOf(o.answer), 0) << o.answer;
      EXPECT_TRUE(UserReads(a));
      // The owner's client: pages, paper and orientation of its copy.
      ASSERT_FALSE(o.saved.empty() || o.saved == "several") << o.saved << "\n" << machine_->Logs();
      const auto saved = SavedFacts(o.saved);
      if (c.pages > 0) {
        EXPECT_EQ(static_cast<int>(saved.size()), c.pages);
      } else {
        EXPECT_GE(saved.size(), 1u);
      }
      for (std::size_t i = 0; i < saved.size(); ++i) {
        const bool landscape = i < c.landscape.size() && c.landscape[i];
        EXPECT_EQ(saved[i].landscape, landscape) << "page " << i + 1;
        EXPECT_EQ(std::min(saved[i].width, saved[i].height), 2100) << "A4, page " << i + 1;
        EXPECT_EQ(std::max(saved[i].width, saved[i].height), 2970) << "A4, page " << i + 1;
      }
      // The engine's print: as many pages, portrait first page, the text drawn.
      ASSERT_FALSE(o.printed.empty());
      const PdfFacts f = Facts(o.printed);
      EXPECT_EQ(f.pages, static_cast<int>(saved.size()));
      ASSERT_FALSE(f.sizes.empty());
      EXPECT_LT(f.sizes[0].first, f.sizes[0].second) << "the first page is portrait";
      for (int page = 1; page <= f.pages; ++page)
        EXPECT_GT(DarkPixels(Render(o.printed, page), 0.0, 0.0, 1.0, c.probe_bottom), 20) << "page " << page;
      // One row in the print log, under the owner's account.
      const auto log = PrintLog();
      ASSERT_EQ(log.size(), log_before.size() + 1);
      const std::string row = a.name + "|" + c.title;
      EXPECT_EQ(log.back().substr(0, row.size()), row) << log.back();
      EXPECT_EQ(log.back().substr(log.back().rfind('|') + 1), std::to_string(f.pages)) << log.back();
    }
  }
}

TEST_F(DeployRoad, EachUserGetsOnlyTheirOwnJobsAndNoOneCanPrintAsAnother) {
  StartSessions();
  const Account& aiko = machine_->user("aiko");
  const Account& kenji = machine_->user("kenji");
  const std::string pdf = Document("kenji-memo.pdf", {{595.28, 841.89, "Kenji memo 1"}, {595.28, 841.89, "Kenji memo 2"}});
  const Outcome o = PrintAs(kenji, {"lp", "-d", "Zelvora", "-t", "Kenji memo", pdf});
  EXPECT_EQ(ResultOf(o.answer), 0) << o.answer;
  EXPECT_TRUE(UserReads(kenji));
  EXPECT_EQ(Facts(o.printed).pages, 2);

  // Kenji names Aiko as the job's owner: the scheduler refuses it.
  const auto log_before = PrintLog();
  const std::string answer_before = ReadOr(AnswerPath(aiko), "");
  const auto aiko_saved = Saved(aiko);
  std::string out;
  EXPECT_NE(machine_->Run(&kenji, {"lp", "-U", "aiko", "-d", "Zelvora", "-t", "Forged", pdf}, &out), 0) << out;
  EXPECT_NE(out.find("Unauthorized"), std::string::npos) << out;
  // A job kenji prints after it is the only one that arrives.
  const Outcome next = PrintAs(kenji, {"lp", "-d", "Zelvora", "-t", "Kenji after", pdf});
  EXPECT_EQ(ResultOf(next.answer), 0) << next.answer;
  auto log = PrintLog();
  ASSERT_EQ(log.size(), log_before.size() + 1);
  EXPECT_EQ(log.back(), "kenji|Kenji after|2");
  EXPECT_EQ(ReadOr(AnswerPath(aiko), ""), answer_before);
  EXPECT_EQ(Changed(aiko_saved, Saved(aiko)), "") << "the forged job reached aiko's client";
  EXPECT_TRUE(Spool(aiko).empty());
  for (const auto& row : log) EXPECT_EQ(row.find("Forged"), std::string::npos) << row;
}

// Each user's client, opened on the last job it took, on a screen of the test's own (Xvfb on
// an abstract socket, no lock file): the screenshots go to the build's artifacts folder,
// deploy_ostrane_<user>.png. AutoPrint is off for the while, so the window shows.
TEST_F(DeployRoad, EachUsersClientShowsTheirLastJob) {
  if (::access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "needs Xvfb for the screenshots";
  const std::string number_file = machine_->dir() + "/log/display";
  process::StartOptions xo;
  xo.argv = {"/bin/sh", "-c",
             "exec /usr/bin/Xvfb -displayfd 3 -nolisten tcp -nolisten unix -nolock -ac -br -screen 0 1280x960x24 "
             "3>" + number_file};
  xo.output_file = machine_->dir() + "/log/xvfb.out";
  auto xvfb = process::Start(xo);
  ASSERT_TRUE(xvfb.ok()) << xvfb.status().ToString();
  struct Stop {
    process::Process& p;
    ~Stop() {
      (void)p.Kill(SIGTERM);
      if (!p.Wait(10000).ok()) (void)p.Kill();
      (void)p.Wait(5000);
    }
  } stop{*xvfb};
  ASSERT_TRUE(WaitUntil([&] { return ReadOr(number_file, "").find('\n') != std::string::npos; }, 30s))
      << ReadOr(machine_->dir() + "/log/xvfb.out", "");
  const std::string display = ":" + ReadOr(number_file, "").substr(0, ReadOr(number_file, "").find('\n'));
  const std::string grab_runtime = machine_->dir() + "/log/grab-runtime";  // the grabber's XDG_RUNTIME_DIR
  ASSERT_TRUE(fs::MakeDirs(grab_runtime, 0700).ok());
  for (const auto& a : machine_->users()) {
    SCOPED_TRACE(a.name);
    std::string last;
    long long newest = -1;
    for (const auto& [path, stamp] : Saved(a))
      if (stamp > newest) newest = stamp, last = path;
    ASSERT_FALSE(last.empty()) << "no job saved by " << a.name << "'s client";
    std::string out;
    ASSERT_EQ(machine_->Run(&a, {machine_->prefix() + "/bin/ostrane-send", "autoprint", "off"}, &out), 0) << out;
    auto client = machine_->StartAs(a, {machine_->prefix() + "/bin/ostrane", last},
                                    {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb"}, "ostrane-shown-" + a.name);
    ASSERT_TRUE(client.ok()) << client.status().ToString();
    const std::string png = zv::testing::ArtifactsDir() + "/deploy_ostrane_" + a.name + ".png";
    ::unlink(png.c_str());
    process::StartOptions go;
    go.argv = {zv::testing::BinPath("zv_screen_grab"), png, "60000"};
    go.env = {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb", "XDG_RUNTIME_DIR=" + grab_runtime};
    go.output_file = machine_->dir() + "/log/grab-" + a.name + ".out";
    auto grab = process::Start(go);
    ASSERT_TRUE(grab.ok()) << grab.status().ToString();
    auto code = grab->Wait(90000);
    EXPECT_TRUE(code.ok() && *code == 0) << ReadOr(go.output_file, "") << ReadOr(machine_->dir() + "/log/ostrane-shown-" + a.name + ".out", "");
    EXPECT_EQ(::access(png.c_str(), R_OK), 0) << png;
    (void)client->Kill(SIGTERM);
    if (!client->Wait(10000).ok()) (void)client->Kill();
    (void)client->Wait(5000);
    EXPECT_EQ(machine_->Run(&a, {machine_->prefix() + "/bin/ostrane-send", "autoprint", "on"}, &out), 0) << out;
  }
}

TEST_F(DeployRoad, AUserOverThePageLimitIsRefused) {
  StartSessions();
  const Account& kenji = machine_->user("kenji");
  ASSERT_EQ(Sql("UPDATE Main SET MaxPages=1 WHERE Account='kenji'"), "");
  const auto log_before = PrintLog();
  const std::string pdf = Document("kenji-long.pdf", {{595.28, 841.89, "Long 1"},
                                                     {595.28, 841.89, "Long 2"},
                                                     {595.28, 841.89, "Long 3"}});
  const Outcome o = PrintAs(kenji, {"lp", "-d", "Zelvora", "-t", "Too long", pdf}, false);
  EXPECT_EQ(ResultOf(o.answer), 4) << o.answer;
  EXPECT_TRUE(UserReads(kenji));
  EXPECT_EQ(PrintLog().size(), log_before.size());
}

// Japanese through the applications users print from: a text file (the queue's text filter),
// a LibreOffice document (a bold heading, a second page) and a GTK program (Gtk.PrintOperation),
// each with Japanese lines (and a European name, "€" and "−", which CP932 cannot hold). Every
// character of each source is read back (pdftotext) from what the engine printed, and the
// capture log tells of no lost character.
TEST_F(DeployRoad, JapaneseFromTextLibreOfficeAndGtkArrivesWhole) {
  StartSessions();
  const Account& aiko = machine_->user("aiko");
  const std::string docs = machine_->dir() + "/docs/";
  auto write = [&](const std::string& name, const std::string& content) {
    {
      std::ofstream(docs + name, std::ios::binary) << content;
    }
    ::chmod((docs + name).c_str(), 0644);
    return docs + name;
  };
  std::string long_line = "長い行：";
  for (int i = 0; i < 12; ++i) long_line += "日本語の文章 Sample 123 ";
  const std::string text_source =
      "日本語のメモ：文書の一行目です。\n"
      "Latin: The quick brown fox jumps over the lazy dog. 0123456789\n"
      "Кириллица: Съешь же ещё этих мягких французских булок.\n"
      "Europa: Herr Müller zahlt 1.250 € − 5 % Rabatt.\n"
      "\tタブ\t区切り\tTab\n" +
      long_line + "\n\f二ページ目。\n";
  const std::string heading = "報告文書 Report",
                    body = "本文の一行目です。カタカナとひらがな、漢字。Müller: 1.250 € − 5 %", second = "二ページ目。";
  const std::string odt =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
      "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
      "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" office:version=\"1.2\" "
      "office:mimetype=\"application/vnd.oasis.opendocument.text\">\n"
      "<office:automatic-styles>\n"
      "<style:style style:name=\"Heading\" style:family=\"paragraph\"><style:text-properties fo:font-size=\"20pt\" "
      "fo:font-weight=\"bold\" style:font-size-asian=\"20pt\" style:font-weight-asian=\"bold\"/></style:style>\n"
      "<style:style style:name=\"Second\" style:family=\"paragraph\"><style:paragraph-properties "
      "fo:break-before=\"page\"/></style:style>\n"
      "</office:automatic-styles>\n"
      "<office:body><office:text>\n"
      "<text:p text:style-name=\"Heading\">" + heading + "</text:p>\n"
      "<text:p>" + body + "</text:p>\n"
      "<text:p text:style-name=\"Second\">" + second + "</text:p>\n"
      "</office:text></office:body></office:document>\n";
  const std::string gtk_script = write("gtk_print.py", ReadOr(ZELVORA_SOURCE_DIR "/deploy/testing/gtk_print.py", ""));
  struct Case {
    std::string what, source;
    std::vector<std::string> command;
    int pages;
  };
  const std::vector<Case> cases = {
      {"gtk", "GTKページ 1", {"/usr/bin/python3", gtk_script, "Zelvora", "GTK", "GTKページ 1"}, 1},
      {"text", text_source,
       {"lp", "-d", "Zelvora", "-t", "日本語メモ", write("aiko-japanese.txt", text_source)}, 2},
      {"libreoffice", heading + body + second,
       {"soffice", "--headless", "--norestore", "--pt", "Zelvora", write("aiko-report.fodt", odt)}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string log_before = ReadOr(CaptureLog(aiko.home), "");
    const Outcome o = PrintAs(aiko, c.command);
    EXPECT_EQ(ResultOf(o.answer), 0) << o.answer;
    EXPECT_FALSE(o.printed.empty()) << machine_->Logs();
    if (o.printed.empty()) continue;  // the other applications' jobs are still tried
    EXPECT_EQ(Facts(o.printed).pages, c.pages);
    std::string text;
    machine_->Run(nullptr, {"pdftotext", "-enc", "UTF-8", o.printed, "-"}, &text, 60000);
    EXPECT_EQ(zv::testing::MissingCharacters(c.source, text), "") << "read back:\n" << text;
    const std::string log = ReadOr(CaptureLog(aiko.home), "");
    EXPECT_EQ(LostCharacterLines(log.substr(std::min(log_before.size(), log.size()))), "");
  }
}

// No job of any user lost a character on its way into the client, as the capture log says.
TEST_F(DeployRoad, NoCaptureLogTellsOfALostCharacter) {
  for (const auto& a : machine_->users())
    EXPECT_EQ(LostCharacterLines(ReadOr(CaptureLog(a.home), "")), "") << a.name;
}

// Runs last: everything stops, and the machine's own folders are as they were.
TEST_F(DeployRoad, StopsEverythingAndWritesNothingOutsideItsFolders) {
  EXPECT_EQ(machine_->Shutdown(), 0) << machine_->Logs();
  const auto after = testing::TreeState(kWatched, kRewritten);
  for (const auto& [path, state] : before_) {
    auto it = after.find(path);
    EXPECT_TRUE(it != after.end() && it->second == state) << path << " changed or vanished";
  }
  for (const auto& [path, state] : after) EXPECT_TRUE(before_.count(path)) << path << " appeared";
}

// One more member of "zelvora", hostile, on a machine of its own set up the same way: every
// way in to another user's jobs, answers and quota is tried while the victim's job waits
// (the result folder made immutable holds every request unprinted), and each is refused;
// the victim's job then prints once, on the victim's quota, and the victim's answer is the
// engine's.
class HostileMember : public DeployRoad {
 protected:
  static void SetUpTestSuite() { SetUpMachine(std::vector<std::string>{}); }
  // Takes the server role's extra options; sets up the machine with the victim and goro.
  static void SetUpMachine(const std::vector<std::string>& server_options) {
    testing::MachineOptions options;
    options.role_options = server_options;
    SetUpMachine(options);
  }
  // The same with every option of the machine given.
  static void SetUpMachine(const testing::MachineOptions& options) {
    missing_ = DeployedMachine::Missing();
    if (!missing_.empty()) return;
    std::string error;
    machine_ = DeployedMachine::Install(ZELVORA_BUILD_DIR, ZELVORA_SOURCE_DIR, {{"aiko", 2001, ""}, {"goro", 2003, ""}},
                                        &error, options)
                   .release();
    failure_ = machine_ == nullptr ? error : testing::SetUpOffice(*machine_, &dsn_);
  }
  // Tries everything; `unicode_folding`: the database folds names by Unicode rules.
  void Attack(bool unicode_folding);
  // Takes a user and a shell script; runs it as that user; gives its exit code.
  static int Sh(const Account& who, const std::string& script, std::string* out = nullptr) {
    return machine_->Run(&who, {"/bin/sh", "-c", script}, out, 120000);
  }
  // Gives the request files in the slots, each with its owner's uid.
  static std::map<std::string, uid_t> Slots() {
    std::map<std::string, uid_t> out;
    std::error_code ec;
    for (const auto& e : sfs::directory_iterator(machine_->share() + "/PrintInfo", ec)) {
      const std::string n = e.path().filename().string();
      struct stat st {};
      if (n.rfind("order", 0) == 0 && e.path().extension() == ".lst" && ::lstat(e.path().c_str(), &st) == 0)
        out[n] = st.st_uid;
    }
    return out;
  }
};

// The same on PostgreSQL (a cluster with a UTF-8 locale, which folds U+0130 to "i").
class HostileMemberOnPostgres : public HostileMember {
 protected:
  static void SetUpTestSuite() {
    Status why;
    auto* pg = zv::testing::SharedPostgresServer(&why);
    if (!pg) {
      missing_ = "needs PostgreSQL: " + why.ToString();
      return;
    }
    if (Status made = pg->CreateDatabase("zvhostile"); !made.ok()) {
      missing_ = "needs a PostgreSQL database: " + made.ToString();
      return;
    }
    SetUpMachine({"--dsn", pg->ConnectionString("zvhostile")});
  }
};

TEST_F(HostileMember, ReadsStealsForgesHidesAndBlocksNothingOfAnotherUsers) { Attack(false); }
TEST_F(HostileMemberOnPostgres, ReadsStealsForgesHidesAndBlocksNothingOfAnotherUsers) { Attack(true); }

void HostileMember::Attack(bool unicode_folding) {
  const Account& victim = machine_->user("aiko");
  const Account& goro = machine_->user("goro");
  const std::string share = machine_->share(), info = share + "/PrintInfo", jobs = share + "/Jobs",
                    result = share + "/Result", server = machine_->server_root(), host = MachineName();
  const std::string send = machine_->prefix() + "/bin/ostrane-send";
  const std::string doc = machine_->dir() + "/docs/hostile.prc";
  ASSERT_EQ(machine_->Run(nullptr, {machine_->prefix() + "/bin/jobdoc-tool", "sample", doc, "2"}), 0);
  ASSERT_EQ(::chmod(doc.c_str(), 0644), 0);
  ASSERT_EQ(Sql("INSERT INTO Main (UID,Account,UserName,GID,CountShubetsu,MaxPages,MaxPages_Color,Mail,Used) "
                "VALUES (50,'dbonly','dbonly',1,3,100,0,'',1)"),
            "");
  const auto log_before = PrintLog();

  // 6, 11: the print log, the data sources and the printed output are root's alone; 2, 3:
  // "Sequence.seq" is neither written nor linked into a slot.
  for (const std::string& probe :
       {"cat " + server + "/db/zelvora.db", "ls " + server + "/db", "cat " + server + "/odbc/odbc.ini",
        "ls " + server + "/printers/Office", "printf 02 > " + info + "/Sequence.seq",
        "ln " + info + "/Sequence.seq " + info + "/order77.lst"})
    EXPECT_NE(Sh(goro, probe), 0) << probe;
  EXPECT_FALSE(sfs::exists(info + "/order77.lst"));

  // 7, 8: a forged answer and a folder in every name of the answer's copy, put there first.
  ASSERT_EQ(Sh(goro, "cd " + result +
                         " && printf '[PrintResult]\\r\\nResult=0\\r\\n[NormalMessage]\\r\\n"
                         "Message=FORGED\\r\\n' > aiko-" +
                         host +
                         ".ans && for i in $(seq -w 0 99); do "
                         "mkdir -p order$i-aiko-" +
                         host + ".an2/pin; done"),
            0);
  // 9: the first job file names taken, and the lock on "Sequence.seq" held for good.
  ASSERT_EQ(Sh(goro, "cd " + jobs + " && for i in 0 1 2 3 4 5 6 7 8 9; do : > " + host + "$i.prc; done"), 0);
  auto holder = machine_->StartAs(goro, {"/usr/bin/flock", info + "/Sequence.seq", "/bin/sleep", "600"}, {}, "flock");
  ASSERT_TRUE(holder.ok()) << holder.status().ToString();
  struct Kill {
    process::Process& p;
    ~Kill() {
      (void)p.Kill();
      (void)p.Wait(10000);
    }
  } kill_holder{*holder};

  // 10: the result folder takes no file; the victim's job waits, unprinted.
  ASSERT_EQ(machine_->Run(nullptr, {"chattr", "+i", result}), 0);
  struct Release {
    std::string path;
    ~Release() { machine_->Run(nullptr, {"chattr", "-i", path}); }
  } release{result};
  std::string out;
  // 2: goro queues a request first and points it at the job name the victim will get next
  // (the first free one after goro's own): it is served first, ahead of the victim's.
  EXPECT_EQ(machine_->Run(&goro, {send, "send", "--printer", "Office", "--wait", "1", doc}, &out), 4) << out;
  std::string goro_slot;
  for (const auto& [name, uid] : Slots())
    if (uid == goro.uid) goro_slot = name;
  ASSERT_FALSE(goro_slot.empty()) << machine_->Logs();
  ASSERT_EQ(Sh(goro, "cd " + info + " && sed 's/^JobFileName=.*/JobFileName=" + host + "11.prc/' " + goro_slot +
                         " > s.tmp && mv s.tmp " + goro_slot),
            0);
  const auto started = std::chrono::steady_clock::now();
  // No answer can come yet (exit code 4), but the hand-over is not held by the lock.
  EXPECT_EQ(machine_->Run(&victim, {send, "send", "--printer", "Office", "--wait", "2", doc}, &out), 4) << out;
  EXPECT_LT(std::chrono::steady_clock::now() - started, 60s);
  std::string victim_slot;
  for (const auto& [name, uid] : Slots())
    if (uid == victim.uid) victim_slot = name;
  ASSERT_FALSE(victim_slot.empty()) << machine_->Logs();
  const std::string request = ReadOr(info + "/" + victim_slot, "");
  const auto at = request.find("JobFileName=");
  ASSERT_NE(at, std::string::npos) << request;
  const std::string job = request.substr(at + 12, request.find_first_of("\r\n", at) - at - 12);
  EXPECT_EQ(job, host + "11.prc");  // the names taken are passed over
  struct stat st {};
  ASSERT_EQ(::lstat((jobs + "/" + job).c_str(), &st), 0) << job;
  EXPECT_EQ(st.st_uid, victim.uid);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // 1: the queued job cannot be read.
  EXPECT_NE(Sh(goro, "cat " + jobs + "/" + job + " > /dev/null"), 0);
  // 5, 4: goro's own job on an account only the database knows, and on a name PostgreSQL
  // folds to the victim's.
  ASSERT_EQ(
      Sh(goro, "cd " + jobs + " && for f in goro-own goro-fold; do cp " + doc + " $f.prc && chmod 600 $f.prc; done"),
      0);
  const std::string forged_requests =
      "cd " + info +
      " && "
      "sed 's/^AccountName=.*/AccountName=dbonly/; s/^JobFileName=.*/JobFileName=goro-own.prc/' " +
      goro_slot +
      " > db.tmp && mv -n db.tmp order61.lst && "
      "sed 's/^AccountName=.*/AccountName=a\xC4\xB0ko/; s/^JobFileName=.*/JobFileName=goro-fold.prc/' " +
      goro_slot + " > fold.tmp && mv -n fold.tmp order62.lst";
  ASSERT_EQ(Sh(goro, forged_requests, &out), 0) << out;
  // 7: nobody renames or deletes another user's request.
  EXPECT_NE(Sh(goro, "rm -f " + info + "/" + victim_slot + " || exit 1; test ! -e " + info + "/" + victim_slot), 0);
  EXPECT_NE(Sh(goro, "mv " + info + "/" + victim_slot + " " + info + "/order63.lst"), 0);
  EXPECT_TRUE(sfs::exists(info + "/" + victim_slot));
  EXPECT_EQ(PrintLog(), log_before);
  EXPECT_TRUE(Printed().empty());

  // The folder works again: every request is served or set aside.
  ASSERT_EQ(machine_->Run(nullptr, {"chattr", "-i", result}), 0);
  EXPECT_TRUE(WaitUntil([&] { return Slots().empty(); })) << machine_->Logs();
  EXPECT_TRUE(WaitUntil([&] { return ResultOf(ReadOr(AnswerPath(victim), "")) == 0; }));
  // Printed once, on the victim's quota; nothing on goro's, dbonly's or anyone's else.
  auto log = PrintLog();
  ASSERT_EQ(log.size(), log_before.size() + 1) << machine_->Logs();
  EXPECT_EQ(log.back().rfind("aiko|", 0), 0u) << log.back();
  EXPECT_EQ(Printed().size(), 1u);
  // The answer and its copy are the engine's, handed to the victim: readable by the victim
  // alone, neither forged nor hidden, and goro deletes neither.
  const std::string answer = ReadOr(AnswerPath(victim), "");
  EXPECT_EQ(answer.find("FORGED"), std::string::npos) << answer;
  ASSERT_EQ(::lstat(AnswerPath(victim).c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, victim.uid);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::string copy = result + "/" + victim_slot.substr(0, 7) + "-aiko-" + host + ".an2";
  ASSERT_EQ(::lstat(copy.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_TRUE(UserReads(victim));
  EXPECT_NE(Sh(goro, "cat " + AnswerPath(victim)), 0);
  EXPECT_NE(Sh(goro, "rm -f " + AnswerPath(victim) + " " + copy + " || exit 1; test ! -e " + copy), 0);
  EXPECT_NE(Sh(goro, "cat " + result + "/aiko-.ans"), 0);
  // goro's requests were set aside, unprinted; the jobs they named are left alone.
  int aside = 0;
  std::error_code ec;
  for (const auto& e : sfs::directory_iterator(info + "/Rejected", ec)) (void)e, ++aside;
  // The steal, the database-only account, and the name PostgreSQL folds to aiko's (SQLite
  // knows no such user; neither does the machine, and only root may ask for such an account).
  EXPECT_EQ(aside, 3) << (unicode_folding ? "folding " : "") << ReadOr(server + "/log/events.log", "");
  EXPECT_TRUE(sfs::exists(jobs + "/goro-own.prc"));
  // Printed, then deleted by the engine (after its request).
  EXPECT_TRUE(WaitUntil([&] { return !sfs::exists(jobs + "/" + job); }));

  // 11: the account typed in capitals keeps one quota file.
  EXPECT_EQ(
      machine_->Run(&victim, {send, "send", "--account", "AIKO", "--printer", "Office", "--wait", "120", doc}, &out), 0)
      << out;
  EXPECT_TRUE(sfs::exists(result + "/aiko-.ans"));
  EXPECT_FALSE(sfs::exists(result + "/AIKO-.ans"));
  EXPECT_EQ(PrintLog().size(), log_before.size() + 2);
}

// The hostile member again, on a machine whose share has a small file system of its own
// (16 MiB): it takes every job file name, fills the share, floods the request slots, and
// takes beforehand the names of the resident program's shared memory. Each time the victim
// is told why within 10 s (or waits its turn in the flood) and loses nothing, and the job
// prints once when goro's files are gone.
class HostileMemberOnASmallShare : public HostileMember {
 protected:
  static void SetUpTestSuite() {
    testing::MachineOptions options;
    options.share_size = "16m";
    SetUpMachine(options);
  }
  // Takes a user; gives the names in /dev/shm that the user's programs of this machine hold
  // (mapped or open): only the machine's own, known by the user's home in their environment.
  static std::set<std::string> SharedMemoryOf(const Account& who) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : sfs::directory_iterator("/proc", ec)) {
      const std::string dir = e.path().string();
      struct stat st {};
      if (::stat(dir.c_str(), &st) != 0 || st.st_uid != who.uid) continue;
      const std::string env = ReadOr(dir + "/environ", "");
      if (env.find(std::string("HOME=") + who.home + '\0') == std::string::npos) continue;
      std::istringstream maps(ReadOr(dir + "/maps", ""));
      for (std::string line; std::getline(maps, line);)
        if (auto at = line.find("/dev/shm/"); at != std::string::npos) names.insert(line.substr(at + 9));
      for (const auto& fd : sfs::directory_iterator(dir + "/fd", ec)) {
        const std::string target = sfs::read_symlink(fd.path(), ec).string();
        if (target.rfind("/dev/shm/", 0) == 0) names.insert(target.substr(9));
      }
    }
    return names;
  }
};

TEST_F(HostileMemberOnASmallShare, NamesFullShareFloodAndSharedMemoryHoldTheVictimOnlyWhileTheyLast) {
  const Account& victim = machine_->user("aiko");
  const Account& goro = machine_->user("goro");
  const std::string share = machine_->share(), info = share + "/PrintInfo", jobs = share + "/Jobs",
                    host = MachineName(), send = machine_->prefix() + "/bin/ostrane-send",
                    doc = machine_->dir() + "/docs/small-share.prc", flood = machine_->dir() + "/docs/flood.lst";
  ASSERT_EQ(machine_->Run(nullptr, {machine_->prefix() + "/bin/jobdoc-tool", "sample", doc, "2"}), 0);
  ASSERT_EQ(::chmod(doc.c_str(), 0644), 0);
  // goro's flood: complete requests of goro's own naming a job that is not there (each is
  // answered at once), put in every free slot again and again for 20 s.
  client::RequestOrder order;
  order.account = "goro";
  order.machine = host;
  order.job_file = "goro-nothing.prc";
  order.request_id = share::NewRequestId();
  order.jobs = {{"flood", 1}};
  ASSERT_TRUE(fs::WriteFileAtomic(flood, client::ComposeRequestText(order), 0644).ok());
  const std::string victim_files = "find " + jobs + " " + info + " -user " + std::to_string(victim.uid);

  struct Case {
    const char* what;
    std::string attack;  // goro's script (a background one for the flood)
    bool background;
    int told_code;        // the victim's exit code while it lasts (-1: 0, printed, or 6, busy)
    std::string told;     // what the victim is told then
    std::string release;  // goro's script that takes it away
  } cases[] = {
      {"every job name taken",
       "cd " + jobs + " && i=0; while [ $i -le 4999 ]; do : > " + host + "$i.prc; i=$((i + 1)); done", false, 6,
       std::string(client::kBusyText) + "\n" + client::kJobNamesTakenText + "\nフォルダ: ",
       // goro cannot list the folder, only name its own files
       "cd " + jobs + " && i=0; set --; while [ $i -le 4999 ]; do set -- \"$@\" " + host +
           "$i.prc; i=$((i + 1)); done; rm -f \"$@\""},
      {"the share filled", "cat /dev/zero > " + jobs + "/goro-fill.prc; test $? != 0", false, 7,
       std::string(client::kShareFullText) + "\nフォルダ: ", "rm -f " + jobs + "/goro-fill.prc"},
      {"every slot flooded",
       "cd " + info +
           " && set -C && end=$(($(date +%s) + 20)); while [ $(date +%s) -lt $end ]; do "
           "for i in $(seq -w 0 99); do cat " +
           flood + " > order$i.lst 2>/dev/null; done; done; true",
       true, -1, std::string(client::kBusyText), ""},
  };
  for (const auto& c : cases) {
    const auto log_before = PrintLog();
    const auto printed_before = Printed().size();
    std::optional<process::Process> attacker;
    if (c.background) {
      auto p = machine_->StartAs(goro, {"/bin/sh", "-c", c.attack}, {}, "goro-attack");
      ASSERT_TRUE(p.ok()) << c.what << ": " << p.status().ToString();
      attacker.emplace(std::move(*p));
      ASSERT_TRUE(WaitUntil(
          [&] {
            for (const auto& [name, uid] : Slots())
              if (uid == goro.uid) return true;
            return false;
          },
          10s))
          << c.what;
    } else {
      ASSERT_EQ(Sh(goro, c.attack), 0) << c.what;
    }
    std::string out;
    const auto started = std::chrono::steady_clock::now();
    const int code =
        machine_->Run(&victim, {send, "send", "--printer", "Office", "--busy-wait", "3", "--wait", "120", doc}, &out);
    const auto took = std::chrono::steady_clock::now() - started;
    bool printed = code == 0;
    if (c.told_code >= 0) {
      // Told within 10 s, with the folder, and nothing of the job is left on the share.
      EXPECT_EQ(code, c.told_code) << c.what << ": " << out;
      EXPECT_LT(took, 10s) << c.what;
      // The folder as the victim's client reaches it (through its link to the share).
      EXPECT_NE(out.find(c.told + machine_->prefix() + "/etc/net/"), std::string::npos) << c.what << ": " << out;
      EXPECT_NE(out.find("/ZELVORA/Jobs\n"), std::string::npos) << c.what << ": " << out;
      std::string left;
      machine_->Run(nullptr, {"/bin/sh", "-c", victim_files}, &left, 60000);
      EXPECT_EQ(left, "") << c.what;
      EXPECT_EQ(PrintLog(), log_before) << c.what;
    } else {
      // The flood holds the victim only in its turn: printed (told it is busy when the
      // slots stay taken past 3 s), or told so and ended after the 120 s of its wait.
      EXPECT_TRUE(code == 0 || (code == 6 && out.find(c.told) != std::string::npos)) << c.what << ": " << code << out;
      EXPECT_LT(took, 130s) << c.what;
    }
    if (attacker) {
      auto ended = attacker->Wait(60000);
      EXPECT_TRUE(ended.ok() && *ended == 0) << c.what;
    } else {
      ASSERT_EQ(Sh(goro, c.release), 0) << c.what;
    }
    if (!printed) {
      // goro's files are gone: the same document, sent again, prints.
      EXPECT_EQ(machine_->Run(&victim, {send, "send", "--printer", "Office", "--wait", "120", doc}, &out), 0)
          << c.what << ": " << out << machine_->Logs();
    }
    // Printed once, on the victim's quota.
    EXPECT_TRUE(WaitUntil([&] { return Printed().size() > printed_before; }, 60s)) << c.what;
    const auto log = PrintLog();
    ASSERT_EQ(log.size(), log_before.size() + 1) << c.what << "\n" << machine_->Logs();
    EXPECT_EQ(log.back().rfind("aiko|", 0), 0u) << c.what << ": " << log.back();
    EXPECT_EQ(Printed().size(), printed_before + 1) << c.what;
    EXPECT_TRUE(WaitUntil([&] { return Slots().empty(); })) << c.what;
  }

  // The resident program's shared memory: goro sees in /dev/shm the names the victim's
  // session used and takes them (its own files, 0600) before the victim's next session. The
  // session starts all the same and the victim's job prints once.
  ASSERT_TRUE(machine_->StartSession(victim).ok()) << machine_->Logs();
  std::set<std::string> seen;
  ASSERT_TRUE(WaitUntil([&] { return !(seen = SharedMemoryOf(victim)).empty(); }, 60s)) << machine_->Logs();
  machine_->EndSessions();
  std::string taking;
  for (const auto& name : seen) {
    ::unlink(("/dev/shm/" + name).c_str());  // what the ended session left (the victim's own)
    taking += ": > '/dev/shm/" + name + "' && chmod 600 '/dev/shm/" + name + "' && ";
  }
  ASSERT_EQ(Sh(goro, taking + "true"), 0);
  struct Remove {
    std::set<std::string> names;
    ~Remove() {
      for (const auto& n : names) ::unlink(("/dev/shm/" + n).c_str());
    }
  } remove{seen};
  for (const auto& name : seen) {
    struct stat st {};
    ASSERT_EQ(::lstat(("/dev/shm/" + name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_uid, goro.uid) << name;
  }
  const auto log_before = PrintLog();
  ASSERT_TRUE(machine_->StartSession(victim).ok()) << machine_->Logs();
  const std::string pdf = Document("shm.pdf", {{595.28, 841.89, "Shared memory taken"}});
  const Outcome o = PrintAs(victim, {"lp", "-d", "Zelvora", "-t", "Shm taken", pdf});
  EXPECT_EQ(ResultOf(o.answer), 0) << o.answer << machine_->Logs();
  EXPECT_FALSE(o.printed.empty());
  EXPECT_EQ(PrintLog().size(), log_before.size() + 1);
  // The session holds other names than goro's.
  for (const auto& name : SharedMemoryOf(victim)) EXPECT_EQ(seen.count(name), 0u) << name;
  machine_->EndSessions();
}

}  // namespace
}  // namespace zv::deploy
