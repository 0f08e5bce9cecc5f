// The CUPS backend end to end against a private scheduler: cupsd is started once for this
// executable on a socket in its own temporary folder, with two queues whose filter is a
// capture script that copies each job's PDF and its options to an output folder.
#include <grp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "platform/spool/cups_spooler.h"
#include "platform/spool/tests/tiny_pdf.h"
#include "platform/testing/temp_root.h"

extern char** environ;

namespace zv::spool {
namespace {

namespace fs = std::filesystem;
using zv::spool::testing::TinyPdf;
using zv::spool::testing::WriteTinyPdf;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteText(const fs::path& p, const std::string& text, mode_t mode = 0644) {
  std::ofstream(p, std::ios::binary) << text;
  ::chmod(p.c_str(), mode);
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

int Run(const std::vector<std::string>& args) {
  pid_t pid = Spawn(args);
  if (pid < 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A PPD with three papers (A4 and JIS B5 with 12 pt margins, Letter with 18 pt), duplex,
// colour and two resolutions, whose PDF filter is the capture script.
std::string Ppd(const fs::path& filter) {
  return R"PPD(*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "ZVTEST.PPD"
*Manufacturer: "Zelvora"
*Product: "(Test)"
*ModelName: "Zelvora Test"
*ShortNickName: "Zelvora Test"
*NickName: "Zelvora Test Printer"
*PSVersion: "(3010.000) 0"
*ColorDevice: True
*DefaultColorSpace: RGB
*cupsFilter2: "application/pdf application/vnd.cups-pdf 0 )PPD" +
         filter.string() + R"PPD("
*OpenUI *PageSize/Media Size: PickOne
*OrderDependency: 10 AnySetup *PageSize
*DefaultPageSize: A4
*PageSize A4/A4: "<</PageSize[595 842]>>setpagedevice"
*PageSize Letter/US Letter: "<</PageSize[612 792]>>setpagedevice"
*PageSize B5/JIS B5: "<</PageSize[516 729]>>setpagedevice"
*CloseUI: *PageSize
*OpenUI *PageRegion/Media Size: PickOne
*OrderDependency: 10 AnySetup *PageRegion
*DefaultPageRegion: A4
*PageRegion A4/A4: "<</PageSize[595 842]>>setpagedevice"
*PageRegion Letter/US Letter: "<</PageSize[612 792]>>setpagedevice"
*PageRegion B5/JIS B5: "<</PageSize[516 729]>>setpagedevice"
*CloseUI: *PageRegion
*DefaultImageableArea: A4
*ImageableArea A4/A4: "12 12 583 830"
*ImageableArea Letter/US Letter: "18 18 594 774"
*ImageableArea B5/JIS B5: "12 12 504 717"
*DefaultPaperDimension: A4
*PaperDimension A4/A4: "595 842"
*PaperDimension Letter/US Letter: "612 792"
*PaperDimension B5/JIS B5: "516 729"
*OpenUI *Duplex/2-Sided: PickOne
*OrderDependency: 20 AnySetup *Duplex
*DefaultDuplex: None
*Duplex None/Off: "<</Duplex false>>setpagedevice"
*Duplex DuplexNoTumble/Long Edge: "<</Duplex true/Tumble false>>setpagedevice"
*Duplex DuplexTumble/Short Edge: "<</Duplex true/Tumble true>>setpagedevice"
*CloseUI: *Duplex
*OpenUI *Resolution/Resolution: PickOne
*OrderDependency: 10 AnySetup *Resolution
*DefaultResolution: 600dpi
*Resolution 300dpi/300 dpi: "<</HWResolution[300 300]>>setpagedevice"
*Resolution 600dpi/600 dpi: "<</HWResolution[600 600]>>setpagedevice"
*CloseUI: *Resolution
)PPD";
}

// The private scheduler, shared by every test of this executable.
class Cupsd {
 public:
  static Cupsd& Get() {
    static Cupsd instance;
    return instance;
  }
  bool ok() const { return pid_ > 0 && error_.empty(); }
  // Only a run without root may go without the scheduler; anything else is a failure.
  bool skipped() const { return ::geteuid() != 0; }
  const std::string& error() const { return error_; }
  std::string socket() const { return (dir_ / "cups.sock").string(); }
  fs::path out() const { return dir_ / "out"; }

  void Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      pid_ = -1;
    }
    std::error_code ec;
    if (!dir_.empty() && std::getenv("ZELVORA_KEEP_TEST_ROOT") == nullptr) fs::remove_all(dir_, ec);
  }

 private:
  Cupsd() { Start(); }

  void Start() {
    if (::geteuid() != 0) {
      error_ = "the private scheduler needs root";
      return;
    }
    const group* lp = ::getgrnam("lp");
    if (!lp || !fs::exists("/usr/sbin/cupsd") || !fs::exists("/usr/sbin/lpadmin")) {
      error_ = "cupsd, lpadmin or the lp group is missing";
      return;
    }
    std::string pattern = (fs::temp_directory_path() / "zelvora-cupsd.XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      error_ = "mkdtemp failed";
      return;
    }
    dir_ = pattern;
    // The scheduler runs filters as lp: the folder must be passable, the output writable.
    ::chmod(dir_.c_str(), 0755);
    for (const char* d : {"spool", "spool/tmp", "cache", "state", "log", "out", "ppd"}) {
      fs::create_directories(dir_ / d);
    }
    ::chown((dir_ / "spool").c_str(), 0, lp->gr_gid);
    ::chmod((dir_ / "spool").c_str(), 0710);
    ::chown((dir_ / "spool/tmp").c_str(), 0, lp->gr_gid);
    ::chmod((dir_ / "spool/tmp").c_str(), 01770);
    ::chmod((dir_ / "out").c_str(), 0777);
    const std::string d = dir_.string();
    WriteText(dir_ / "cups-files.conf",
              "ServerRoot " + d + "\nRequestRoot " + d + "/spool\nTempDir " + d + "/spool/tmp\n"
              "CacheDir " + d + "/cache\nStateDir " + d + "/state\nAccessLog " + d + "/log/access_log\n"
              "ErrorLog " + d + "/log/error_log\nPageLog " + d + "/log/page_log\nFileDevice Yes\n"
              "User lp\nGroup lp\nSystemGroup root\nPeerCred off\nSandboxing Relaxed\n");
    WriteText(dir_ / "cupsd.conf",
              "Listen " + socket() + "\nBrowsing No\nWebInterface No\nDefaultAuthType None\n"
              "PreserveJobHistory Yes\nLogLevel warn\n"
              "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
              "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n");
    // The capture filter: job id, user, title, copies and options (argv 1-5), then the PDF.
    WriteText(dir_ / "capture.sh",
              "#!/bin/sh\numask 022\nout=" + out().string() + "\n"
              "printf '%s\\n' \"$1\" \"$2\" \"$3\" \"$4\" \"$5\" > \"$out/job-$1.args.tmp\"\n"
              "if [ -n \"$6\" ]; then cat \"$6\" > \"$out/job-$1.pdf.tmp\"; "
              "else cat > \"$out/job-$1.pdf.tmp\"; fi\n"
              "mv \"$out/job-$1.pdf.tmp\" \"$out/job-$1.pdf\"\n"
              "mv \"$out/job-$1.args.tmp\" \"$out/job-$1.args\"\n",
              0755);
    WriteText(dir_ / "test.ppd", Ppd(dir_ / "capture.sh"));

    pid_ = Spawn({"/usr/sbin/cupsd", "-f", "-c", d + "/cupsd.conf", "-s", d + "/cups-files.conf"});
    if (pid_ < 0) {
      error_ = "cannot start cupsd";
      return;
    }
    bool up = WaitFor([&] {
      int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un addr{};
      addr.sun_family = AF_UNIX;
      std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socket().c_str());
      bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
      ::close(fd);
      return ok;
    }, std::chrono::seconds(10));
    if (!up) {
      error_ = "cupsd did not come up; see " + d + "/log/error_log";
      return;
    }
    setenv("CUPS_SERVER", socket().c_str(), 1);
    for (const char* q : {"Office", "Paused", "Closed"}) {
      if (Run({"/usr/sbin/lpadmin", "-p", q, "-E", "-v", "file:///dev/null", "-P", d + "/test.ppd"}) != 0) {
        error_ = std::string("lpadmin failed for ") + q;
        return;
      }
    }
    if (Run({"/usr/sbin/cupsdisable", "Paused"}) != 0) error_ = "cupsdisable failed";
    if (Run({"/usr/sbin/cupsreject", "Closed"}) != 0) error_ = "cupsreject failed";
    if (Run({"/usr/sbin/lpadmin", "-d", "Office"}) != 0) error_ = "lpadmin -d failed";
  }

  fs::path dir_;
  pid_t pid_ = -1;
  std::string error_;
};

class CupsEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { Cupsd::Get().Stop(); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new CupsEnvironment);

class CupsSpoolerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Cupsd::Get().skipped()) GTEST_SKIP() << Cupsd::Get().error();
    ASSERT_TRUE(Cupsd::Get().ok()) << Cupsd::Get().error();
    spooler_ = std::make_unique<CupsSpooler>(Cupsd::Get().socket());
  }
  std::map<std::string, std::string> CapturedOptions(std::uint32_t id) {
    std::ifstream in(Cupsd::Get().out() / ("job-" + std::to_string(id) + ".args"));
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    std::map<std::string, std::string> out;
    if (lines.size() < 5) return out;
    out["#id"] = lines[0];
    out["#user"] = lines[1];
    out["#title"] = lines[2];
    out["#copies"] = lines[3];
    std::istringstream opts(lines[4]);
    for (std::string kv; opts >> kv;) {
      auto eq = kv.find('=');
      if (eq != std::string::npos) out[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    return out;
  }

  zv::testing::TempRoot root_;
  std::unique_ptr<CupsSpooler> spooler_;
};

TEST_F(CupsSpoolerTest, PrintersAndCapabilities) {
  auto printers = spooler_->EnumPrinters();
  ASSERT_TRUE(printers.ok()) << printers.status().ToString();
  ASSERT_EQ(printers->size(), 3u);
  EXPECT_EQ((*printers)[0].name, "Closed");
  EXPECT_EQ((*printers)[1].name, "Office");
  EXPECT_EQ((*printers)[2].name, "Paused");
  EXPECT_FALSE((*printers)[0].accepting);
  // The server's default, unless this user names another one of their own.
  if (!std::getenv("LPDEST") && !std::getenv("PRINTER") && !fs::exists("/etc/cups/lpoptions") &&
      !fs::exists(fs::path(std::getenv("HOME") ? std::getenv("HOME") : "/") / ".cups/lpoptions")) {
    auto def = spooler_->DefaultPrinter();
    ASSERT_TRUE(def.ok()) << def.status().ToString();
    EXPECT_EQ(*def, "Office");
    EXPECT_TRUE((*printers)[1].is_default);
    EXPECT_TRUE((*printers)[1].attributes & PRINTER_ATTRIBUTE_DEFAULT);
  }

  auto office = spooler_->GetPrinter("Office");
  ASSERT_TRUE(office.ok()) << office.status().ToString();
  EXPECT_EQ(office->driver, "Zelvora Test Printer");
  EXPECT_EQ(office->port, "file:///dev/null");
  EXPECT_TRUE(office->attributes & PRINTER_ATTRIBUTE_LOCAL);
  EXPECT_EQ(office->status & PRINTER_STATUS_PAUSED, 0u);
  EXPECT_EQ(spooler_->GetPrinter("Nobody").status().code(), Status::Code::kNotFound);
  EXPECT_EQ(spooler_->GetPrinter("bad/name").status().code(), Status::Code::kNotFound);

  auto caps = spooler_->GetCapabilities("Office");
  ASSERT_TRUE(caps.ok()) << caps.status().ToString();
  std::map<int, Paper> papers;
  for (const auto& p : caps->papers) papers[p.code] = p;
  ASSERT_TRUE(papers.count(9));
  ASSERT_TRUE(papers.count(1));
  ASSERT_TRUE(papers.count(13));
  EXPECT_EQ(papers[9].name, "A4");
  EXPECT_EQ(papers[9].width, 2100);
  EXPECT_EQ(papers[9].length, 2970);
  EXPECT_NEAR(papers[9].left, 42, 1);  // 12 pt
  EXPECT_NEAR(papers[1].top, 63, 1);   // 18 pt
  EXPECT_EQ(papers[13].length, 2570);
  EXPECT_EQ(caps->default_paper, 9);
  EXPECT_TRUE(caps->duplex);
  EXPECT_TRUE(caps->color);
  EXPECT_NE(std::find(caps->resolutions.begin(), caps->resolutions.end(), Resolution{300, 300}),
            caps->resolutions.end());
  EXPECT_EQ(caps->default_resolution, (Resolution{600, 600}));
}

TEST_F(CupsSpoolerTest, JobSubmittedWithItsOptions) {
  auto mode = spooler_->DefaultDevMode("Office");
  ASSERT_TRUE(mode.ok()) << mode.status().ToString();
  mode->dm.dmPaperSize = 13;
  mode->dm.dmOrientation = 2;
  mode->dm.dmDuplex = 2;
  mode->dm.dmCopies = 2;
  mode->dm.dmCollate = 1;
  auto job = spooler_->StartDoc("Office", {"Quarterly report"}, *mode);
  ASSERT_TRUE(job.ok()) << job.status().ToString();
  const std::uint32_t id = (*job)->id();
  EXPECT_GT(id, 0u);
  EXPECT_GE((*job)->submitted().wYear, 2024);

  // The job is in the queue from StartDoc on.
  auto found = FindQueuedJob(*spooler_, "Office", {"QUARTERLY REPORT"});
  ASSERT_TRUE(found.ok()) << found.status().ToString();
  ASSERT_TRUE(found->has_value());
  EXPECT_EQ((*found)->id, id);
  EXPECT_EQ((*found)->submitted_unix_ms / 1000 * 1000, (*found)->submitted_unix_ms);

  fs::path pdf = WriteTinyPdf(root_.path() / "sheets.pdf", 2, 729, 516);
  ASSERT_TRUE((*job)->WriteDocument(pdf, 2).ok());
  ASSERT_TRUE((*job)->End().ok());

  fs::path args = Cupsd::Get().out() / ("job-" + std::to_string(id) + ".args");
  ASSERT_TRUE(WaitFor([&] { return fs::exists(args); })) << "the filter never ran";
  auto seen = CapturedOptions(id);
  EXPECT_EQ(seen["#id"], std::to_string(id));
  EXPECT_EQ(seen["#title"], "Quarterly report");
  EXPECT_EQ(seen["#copies"], "2");
  EXPECT_EQ(seen["media"], "jis_b5_182x257mm");
  EXPECT_EQ(seen["sides"], "two-sided-long-edge");
  EXPECT_EQ(seen["orientation-requested"], "4");
  EXPECT_EQ(seen["multiple-document-handling"], "separate-documents-collated-copies");
  EXPECT_EQ(Slurp(Cupsd::Get().out() / ("job-" + std::to_string(id) + ".pdf")), TinyPdf(2, 729, 516));

  ASSERT_TRUE(WaitFor([&] {
    auto j = spooler_->GetJob("Office", id);
    return j.ok() && j->state == JobState::kCompleted;
  }));
  auto done = spooler_->GetJob("Office", id);
  EXPECT_EQ(done->status, JOB_STATUS_PRINTED);
  EXPECT_EQ(done->document, "Quarterly report");
  EXPECT_EQ(done->options.copies, 2);
  EXPECT_EQ(done->options.paper, 13);
  EXPECT_EQ(std::memcmp(&done->submitted, &(*job)->submitted(), sizeof(win::SYSTEMTIME)), 0);
  EXPECT_FALSE(FindQueuedJob(*spooler_, "Office", {"Quarterly report"})->has_value());
  EXPECT_EQ(spooler_->GetJob("Paused", id).status().code(), Status::Code::kNotFound);
}

TEST_F(CupsSpoolerTest, DisabledPrinterIsReportedAndHoldsItsJobs) {
  auto paused = spooler_->GetPrinter("Paused");
  ASSERT_TRUE(paused.ok()) << paused.status().ToString();
  EXPECT_TRUE(paused->status & PRINTER_STATUS_PAUSED);
  EXPECT_TRUE(paused->accepting);

  auto job = spooler_->StartDoc("Paused", {"Held"}, *spooler_->DefaultDevMode("Paused"));
  ASSERT_TRUE(job.ok()) << job.status().ToString();
  ASSERT_TRUE((*job)->WriteDocument(WriteTinyPdf(root_.path() / "a.pdf", 1), 1).ok());
  ASSERT_TRUE((*job)->End().ok());
  const std::uint32_t id = (*job)->id();
  auto jobs = spooler_->EnumJobs("Paused");
  ASSERT_TRUE(jobs.ok()) << jobs.status().ToString();
  ASSERT_EQ(jobs->size(), 1u);
  EXPECT_EQ((*jobs)[0].id, id);
  EXPECT_EQ((*jobs)[0].state, JobState::kQueued);
  EXPECT_EQ((*jobs)[0].status, 0u);
  EXPECT_EQ(spooler_->GetPrinter("Paused")->jobs, 1u);

  ASSERT_TRUE(spooler_->CancelJob("Paused", id).ok());
  EXPECT_EQ(spooler_->GetJob("Paused", id)->state, JobState::kDeleted);
  EXPECT_TRUE(spooler_->EnumJobs("Paused")->empty());
}

TEST_F(CupsSpoolerTest, FailuresAndAbort) {
  auto mode = *spooler_->DefaultDevMode("Office");
  EXPECT_EQ(spooler_->StartDoc("Nobody", {"x"}, mode).status().code(), Status::Code::kNotFound);
  EXPECT_EQ(spooler_->StartDoc("Closed", {"x"}, mode).status().code(), Status::Code::kBusy);

  auto job = spooler_->StartDoc("Paused", {"Aborted"}, mode);
  ASSERT_TRUE(job.ok()) << job.status().ToString();
  std::ofstream(root_.path() / "not.pdf") << "plain text";
  EXPECT_FALSE((*job)->WriteDocument(root_.path() / "not.pdf", 1).ok());
  EXPECT_FALSE((*job)->WriteDocument(root_.path() / "missing.pdf", 1).ok());
  ASSERT_TRUE((*job)->Abort().ok());
  EXPECT_EQ(spooler_->GetJob("Paused", (*job)->id())->state, JobState::kDeleted);

  // A server that is not there.
  CupsSpooler nowhere((root_.path() / "no.sock").string());
  EXPECT_FALSE(nowhere.EnumPrinters().ok());
  EXPECT_FALSE(nowhere.StartDoc("Office", {"x"}, mode).ok());
}

TEST(CupsJobOptions, FromJobOptions) {
  JobOptions o;
  o.paper_width = 1000;
  o.paper_length = 1500;
  o.copies = 3;
  o.duplex = 3;
  o.resolution = {600, 300};
  auto opts = CupsJobOptions(o, "", true);
  std::map<std::string, std::string> m(opts.begin(), opts.end());
  EXPECT_EQ(m["media"], "custom_100x150mm_100x150mm");
  EXPECT_EQ(m["orientation-requested"], "3");
  EXPECT_EQ(m["sides"], "two-sided-short-edge");
  EXPECT_EQ(m["copies"], "3");
  EXPECT_EQ(m["multiple-document-handling"], "separate-documents-uncollated-copies");
  EXPECT_EQ(m["print-color-mode"], "monochrome");
  EXPECT_EQ(m["printer-resolution"], "600x300dpi");
  auto mono = CupsJobOptions(o, "iso_a4_210x297mm", false);
  std::map<std::string, std::string> n(mono.begin(), mono.end());
  EXPECT_EQ(n["media"], "iso_a4_210x297mm");
  EXPECT_FALSE(n.count("print-color-mode"));
}

}  // namespace
}  // namespace zv::spool
