// The user's road with real processes: a server root with the engine and its folder printer
// "Office", a client root joined to the share with AutoPrint set and its resident program
// running. A PDF fed through the capture feeder becomes a capture file, the resident program
// starts ostrane with it, ostrane hands the job over and ends, and the engine prints it and
// writes the answer. A second run whose only printer is not managed gets the engine's
// refusal. The same road starts at the virtual printer of a private cupsd when this machine
// can run one. Without a server, ostrane prints on a folder printer itself and says so.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <regex>
#include <thread>

#include "capture/backend/testing/virtual_printer.h"
#include "client/config.h"
#include "client/handover.h"
#include "client/header_formats.h"
#include "engine/hevrasto/tests/engine_harness.h"
#include "jobdoc/container.h"
#include "jobdoc/sample/sample_document.h"
#include "platform/fs/files.h"
#include "platform/gdi/testing/box_pdf.h"
#include "platform/process/process.h"
#include "platform/registry/registry.h"
#include "platform/spool/folder_spooler.h"
#include "platform/sync/guard.h"
#include "platform/testing/bin_dir.h"
#include "platform/testing/temp_root.h"
#include "platform/winmsg/winmsg.h"

namespace zv::client {
namespace {

namespace fsys = std::filesystem;
using engine::testing::EngineHarness;
using namespace std::chrono_literals;

// Three A4 pages, each with a black box.
void MakePdf(const std::string& path, int pages) {
  std::vector<zv::testing::PdfPage> list;
  for (int i = 0; i < pages; ++i) list.push_back({595.28, 841.89, 50.0 + 20 * i, 50, 200, 100});
  zv::testing::WriteBoxPdf(path, list);
}

// Runs `fn` with ZELVORA_ROOT set to `root` (this process's own root is the engine's).
template <typename Fn>
auto InRoot(const std::string& root, Fn fn) {
  std::string old = std::getenv("ZELVORA_ROOT") ? std::getenv("ZELVORA_ROOT") : "";
  setenv("ZELVORA_ROOT", root.c_str(), 1);
  auto r = fn();
  setenv("ZELVORA_ROOT", old.c_str(), 1);
  return r;
}

class OstraneRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fsys::temp_directory_path() / "zelvora-client.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    client_ = pattern;
    harness_.emplace(root_, 0);
    account_ = CurrentUserName();
    machine_ = CurrentMachineName();
    // This process's user may print without a page limit.
    harness_->Sql(
        "INSERT INTO Main (UID,Account,UserName,GID,CountShubetsu,MaxPages,MaxPages_Color,Mail,Used) "
        "VALUES (9,'" +
        account_ + "','Tester',1,3,0,0,'',1)");
    ASSERT_EQ(Run({zv::testing::BinPath("ostrane-send"), "join", harness_->share()}), 0);
    ASSERT_TRUE(fs::MakeDirs(client_ + "/app").ok());
    fsys::create_symlink(zv::testing::BinPath("ostrane"), client_ + "/app/ostrane");
    Status st = InRoot(client_, [] {
      auto key = registry::Key::Open(registry::RootKey::kLocalMachine, kMachineKey);
      return key.ok() ? key->SetDword("AutoPrint", 1) : key.status();
    });
    ASSERT_TRUE(st.ok()) << st.ToString();
    harness_->StartEngine();
    process::StartOptions o;
    o.argv = {zv::testing::BinPath("ulmerith")};
    o.ready_signal = true;
    // Qt's runtime folder inside the client root, so nothing is left elsewhere.
    ASSERT_TRUE(fs::MakeDirs(client_ + "/xdg").ok());
    fsys::permissions(client_ + "/xdg", fsys::perms::owner_all);
    // The capture root is the client root itself, also for jobs of the virtual printer.
    o.env = {"ZELVORA_ROOT=" + client_, "HOME=" + client_, "QT_QPA_PLATFORM=offscreen",
             "XDG_RUNTIME_DIR=" + client_ + "/xdg", "ZELVORA_CAPTURE_ROOT=" + client_};
    o.output_file = client_ + "/ulmerith.out";
    auto r = process::Start(o);
    ASSERT_TRUE(r.ok()) << r.status().ToString();
    resident_ = std::move(*r);
    ASSERT_TRUE(resident_->WaitReady(10000).ok());
  }
  void TearDown() override {
    if (resident_) {
      (void)resident_->Kill(SIGTERM);
      (void)resident_->Wait(10000);
    }
    // The resident program starts the job monitor of a joined client: end it too.
    const std::uint32_t monitor = InRoot(client_, [] {
      winmsg::HWND h = winmsg::FindWindow(kMonitorClass, nullptr);
      return h != 0 ? winmsg::GetWindowProcessId(h) : 0u;
    });
    if (monitor != 0) {
      ::kill(static_cast<pid_t>(monitor), SIGTERM);
      for (int i = 0; i < 250 && ::kill(static_cast<pid_t>(monitor), 0) == 0; ++i) std::this_thread::sleep_for(20ms);
    }
    if (harness_) {
      EXPECT_EQ(harness_->StopEngine(), 0);
    }
    harness_.reset();
    std::error_code ec;
    if (!client_.empty() && std::getenv("ZELVORA_KEEP_TEST_ROOT") == nullptr) fsys::remove_all(client_, ec);
  }
  int Run(const std::vector<std::string>& argv) {
    process::StartOptions o;
    o.argv = argv;
    o.env = {"ZELVORA_ROOT=" + client_, "HOME=" + client_};
    o.output_file = client_ + "/tool.out";
    auto p = process::Start(o);
    if (!p.ok()) return -1;
    auto rc = p->Wait(120000);
    return rc.ok() ? *rc : -1;
  }
  // Feeds a PDF of `pages` pages titled `title` through the capture road.
  void Feed(const std::string& title, int pages) {
    const std::string pdf = client_ + "/" + title + ".pdf";
    MakePdf(pdf, pages);
    ASSERT_EQ(Run({zv::testing::BinPath("zelvora-feeder"), "--title", title, pdf}), 0) << Logs();
  }
  // Waits for the engine's answer to this client and gives its text.
  std::string WaitAnswer() {
    const std::string path = harness_->result() + "/" + account_ + "-" + machine_ + ".ans";
    for (int i = 0; i < 3000; ++i) {
      if (auto text = fs::ReadFile(path); text.ok() && text->find("Result=") != std::string::npos) return *text;
      std::this_thread::sleep_for(20ms);
    }
    return "";
  }
  // Waits until no ostrane runs in the client root.
  bool WaitClientEnded() {
    for (int i = 0; i < 1500; ++i) {
      auto held = InRoot(client_, [] { return sync::NamedGuard::IsHeld("Ostrane"); });
      if (held.ok() && !*held) return true;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }
  std::string Logs() {
    std::string out;
    for (const std::string& f : {client_ + "/tool.out", client_ + "/ulmerith.out", client_ + "/log/capture.log"})
      if (auto t = fs::ReadFile(f); t.ok()) out += "--- " + f + "\n" + *t;
    return out;
  }
  void ManagedPrinters(const std::string& name) {
    ASSERT_TRUE(fs::WriteFileAtomic(harness_->print_info() + "/printers.lst", "[PRINTERS]\r\n" + name + "=\r\n").ok());
  }

  zv::testing::TempRoot root_;
  std::optional<EngineHarness> harness_;
  std::optional<process::Process> resident_;
  std::string client_, account_, machine_;
};

TEST_F(OstraneRoad, AutoPrintHandsTheCapturedJobToTheEngine) {
  ManagedPrinters("Office");
  Feed("Quarterly report", 3);
  const std::string answer = WaitAnswer();
  ASSERT_FALSE(answer.empty()) << Logs();
  EXPECT_EQ(EngineHarness::ResultCode(answer), 0) << answer;
  EXPECT_TRUE(WaitClientEnded()) << "ostrane did not end after the hand-over";
  ASSERT_EQ(harness_->PrintedPdfs().size(), 1u);
  auto pdf = fs::ReadFile(harness_->PrintedPdfs()[0]);
  ASSERT_TRUE(pdf.ok());
  EXPECT_NE(pdf->find("/Count 3"), std::string::npos);
  auto log = harness_->PrintLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].JobName, "Quarterly report");
  // The capture file was taken from the capture folder.
  std::error_code ec;
  for (const auto& e : fsys::directory_iterator(client_ + "/tmp", ec))
    EXPECT_NE(e.path().filename().string().rfind("WXQ", 0), 0u) << e.path();

  // A printer the server does not manage: the engine refuses and says so in the answer.
  ManagedPrinters("Rogue");
  ::unlink((harness_->result() + "/" + account_ + "-" + machine_ + ".ans").c_str());
  Feed("Unmanaged", 1);
  const std::string refused = WaitAnswer();
  ASSERT_FALSE(refused.empty()) << Logs();
  EXPECT_NE(EngineHarness::ResultCode(refused), 0) << refused;
  EXPECT_TRUE(WaitClientEnded());
  EXPECT_EQ(harness_->PrintedPdfs().size(), 1u);
}

// Today's date as the header writes it.
std::string Today() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[16];
  std::strftime(buf, sizeof buf, "%Y/%m/%d", &tm);
  return buf;
}

TEST_F(OstraneRoad, HeaderWithEveryTokenReachesThePaperFilledIn) {
  ManagedPrinters("Office");
  // The format the client starts with holds all seven tokens.
  ASSERT_TRUE(fs::WriteFileAtomic(client_ + "/app/Format.fmt",
                                  ComposeFormatFile({{"なし", "<日付> <時刻>", "<ユーザ名>@<マシン名>",
                                                      "<プリンタ名> <ページ>/<総ページ>"}}))
                  .ok());
  const std::string before = Today();
  Feed("Header report", 2);
  const std::string answer = WaitAnswer();
  ASSERT_FALSE(answer.empty()) << Logs();
  EXPECT_EQ(EngineHarness::ResultCode(answer), 0) << answer;
  const std::string after = Today();
  EXPECT_TRUE(WaitClientEnded());
  ASSERT_EQ(harness_->PrintedPdfs().size(), 1u);
  const std::string text_file = client_ + "/printed.txt";
  ASSERT_EQ(Run({"pdftotext", harness_->PrintedPdfs()[0], text_file}), 0);
  auto text = fs::ReadFile(text_file);
  ASSERT_TRUE(text.ok());
  const std::regex stamp(R"((\d{4}/\d{2}/\d{2}) \d{2}:\d{2})");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(*text, m, stamp)) << *text;
  EXPECT_TRUE(m[1] == before || m[1] == after) << m[1];
  EXPECT_NE(text->find(account_ + "@" + machine_), std::string::npos) << *text;
  EXPECT_NE(text->find("Office 1/2"), std::string::npos) << *text;
  EXPECT_NE(text->find("Office 2/2"), std::string::npos) << *text;
  EXPECT_EQ(text->find("<"), std::string::npos) << *text;
}

TEST_F(OstraneRoad, PdfPrintedToTheVirtualPrinterIsPrintedByTheEngine) {
  if (!capture::testing::VirtualPrinter::Available()) GTEST_SKIP() << "needs root, cupsd and runuser";
  ManagedPrinters("Office");
  std::string error;
  auto printer = capture::testing::VirtualPrinter::Start(root_.str(), client_, ZELVORA_SOURCE_DIR, &error);
  ASSERT_NE(printer, nullptr) << error;
  const std::string pdf = printer->dir() + "/minutes.pdf";
  MakePdf(pdf, 2);
  ::chmod(pdf.c_str(), 0644);
  ASSERT_EQ(printer->Run({"lp", "-d", "Zelvora", "-t", "Board minutes", pdf}), 0) << printer->Logs();
  const std::string answer = WaitAnswer();
  ASSERT_FALSE(answer.empty()) << printer->Logs() << Logs();
  EXPECT_EQ(EngineHarness::ResultCode(answer), 0) << answer;
  EXPECT_TRUE(WaitClientEnded());
  ASSERT_EQ(harness_->PrintedPdfs().size(), 1u);
  auto printed = fs::ReadFile(harness_->PrintedPdfs()[0]);
  ASSERT_TRUE(printed.ok());
  EXPECT_NE(printed->find("/Count 2"), std::string::npos);
  auto log = harness_->PrintLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].JobName, "Board minutes");
}

// No server: ostrane started unattended with a capture file prints it on the folder printer
// "Office" of its own root and shows the client's result text (each message it shows also
// goes to its standard error).
TEST(OstraneLocalRun, PrintsOnAFolderPrinterAndShowsItsOwnResult) {
  zv::testing::TempRoot root;
  const std::string app = root.str() + "/app";
  ASSERT_TRUE(fs::MakeDirs(app).ok());
  ASSERT_TRUE(fs::MakeDirs(root.str() + "/xdg", 0700).ok());
  {
    auto key = registry::Key::Create(registry::RootKey::kLocalMachine, kMachineKey);
    ASSERT_TRUE(key.ok());
    ASSERT_TRUE(key->SetString("AppPath", app).ok());
    ASSERT_TRUE(key->SetDword("AutoPrint", 1).ok());
  }
  spool::FolderSpooler spooler;
  auto office = spool::StandardFolderPrinter("Office");
  office.caps.resolutions = {{100, 100}};
  office.caps.default_resolution = {100, 100};
  ASSERT_TRUE(spooler.AddPrinter(office).ok());
  ASSERT_TRUE(fs::WriteFileAtomic(app + "/printers.lst", "[PRINTERS]\r\nOffice=\r\n").ok());
  ASSERT_TRUE(fs::MakeDirs(root.str() + "/tmp", 0700).ok());
  const std::string job = root.str() + "/tmp/WXQlocal.tmp";
  ASSERT_TRUE(
      jobdoc::WriteDocumentData(jobdoc::sample::MakeDocument(3, 2, false), jobdoc::DocumentWriteMode::kUnpacked, job)
          .ok());

  process::StartOptions o;
  o.argv = {zv::testing::BinPath("ostrane"), job, "/n", "Local report"};
  o.env = {"ZELVORA_ROOT=" + root.str(), "HOME=" + root.str(), "QT_QPA_PLATFORM=offscreen",
           "XDG_RUNTIME_DIR=" + root.str() + "/xdg"};
  o.output_file = root.str() + "/ostrane.out";
  auto p = process::Start(o);
  ASSERT_TRUE(p.ok()) << p.status().ToString();
  std::string out;
  for (int i = 0; i < 1500 && out.find("印刷実行: ") == std::string::npos; ++i) {
    std::this_thread::sleep_for(20ms);
    if (auto t = fs::ReadFile(o.output_file); t.ok()) out = *t;
  }
  // The result box waits for a person; the test ends the program.
  (void)p->Kill(SIGTERM);
  (void)p->Wait(10000);
  EXPECT_NE(out.find("印刷実行: 印刷が完了しました。"), std::string::npos) << out;
  auto jobs = spooler.EnumJobs("Office");
  ASSERT_TRUE(jobs.ok());
  ASSERT_EQ(jobs->size(), 1u);
  EXPECT_EQ((*jobs)[0].document, "Local report");
  // The capture file was taken from the capture folder.
  EXPECT_FALSE(fsys::exists(job));
}

}  // namespace
}  // namespace zv::client
