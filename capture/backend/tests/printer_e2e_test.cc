// End to end on a private cupsd: a PDF printed to the "Zelvora" queue goes through the
// backend, the user's spool folder, the resident program and the feeder, and arrives at a
// client window as a capture file; a job printed under another user's name is refused. A PDF
// printed to the "Zelvora-Raster" queue goes through the kelvad filter and the olviport
// backend as a page raster stream and arrives the same way through SetDIB.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "capture/backend/testing/virtual_printer.h"
#include "capture/common/blocks.h"
#include "capture/common/log.h"
#include "driver/kelvad/stream.h"
#include "jobdoc/image.h"
#include "platform/fs/files.h"
#include "platform/gdi/player.h"
#include "platform/gdi/surfaces.h"
#include "platform/gdi/testing/box_pdf.h"
#include "platform/gdi/testing/hand_pdf.h"
#include "platform/process/process.h"
#include "platform/registry/registry.h"
#include "platform/testing/bin_dir.h"
#include "platform/testing/temp_root.h"
#include "platform/winmsg/winmsg.h"

namespace zv::capture {
namespace {

namespace sfs = std::filesystem;
using namespace std::chrono_literals;

// Two A4 pages made with cairo: portrait with a black box, landscape with a blue box.
void MakePdf(const std::string& path) {
  zv::testing::WriteBoxPdf(
      path, {{595.28, 841.89, 50, 50, 200, 100, 0, 0, 0}, {841.89, 595.28, 100, 100, 200, 100, 0.2, 0.4, 0.8}});
}

class PrinterEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::VirtualPrinter::Available()) GTEST_SKIP() << "needs root, cupsd and runuser";
    capture_template_ = root_.str() + "/cap%h";
    capture_root_ = root_.str() + "/cap/root";
    sfs::create_directories(capture_root_);
    setenv("ZELVORA_ROOT", capture_root_.c_str(), 1);
    std::string error;
    printer_ = testing::VirtualPrinter::Start(root_.str(), capture_template_, ZELVORA_SOURCE_DIR, &error);
    ASSERT_NE(printer_, nullptr) << error;
    cups_ = printer_->dir();
    programs_ = printer_->programs();
    struct stat st {};
    ASSERT_EQ(::stat((cups_ + "/serverbin/backend/zelvora").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_TRUE(sfs::exists(root_.str() + "/autostart/ulmerith.desktop"));
    ASSERT_EQ(::stat((cups_ + "/serverbin/backend/olviport").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    StartResident();
  }

  // Starts the resident program as installed (the feeder and library beside it) and makes
  // the test's window its client (unless told not to).
  void StartResident(bool with_client = true) {
    process::StartOptions o;
    o.argv = {programs_ + "/ulmerith"};  // as installed: the feeder and library beside it
    o.ready_signal = true;
    o.env = {"ZELVORA_ROOT=" + capture_root_, "ZELVORA_CAPTURE_ROOT=" + capture_template_, "HOME=/root"};
    o.output_file = root_.str() + "/ulmerith.out";
    auto r = process::Start(o);
    ASSERT_TRUE(r.ok());
    resident_ = std::move(*r);
    ASSERT_TRUE(resident_->WaitReady(10000).ok());
    if (with_client) MakeClient();
  }

  // Makes the test's window, which records every job it is handed, the client.
  void MakeClient() {
    auto w = winmsg::Window::Create(
        "ClientFrame", "client",
        [this](winmsg::HWND h, winmsg::UINT m, winmsg::WPARAM wp, winmsg::LPARAM lp) -> winmsg::LRESULT {
          if (m == winmsg::WM_COPYDATA) {
            auto* cds = reinterpret_cast<const winmsg::COPYDATASTRUCT*>(lp);
            received_.emplace_back(static_cast<const char*>(cds->lpData),
                                   strnlen(static_cast<const char*>(cds->lpData), cds->cbData));
            return 1;
          }
          return winmsg::DefWindowProc(h, m, wp, lp);
        });
    ASSERT_TRUE(w.ok());
    client_ = std::move(*w);
    winmsg::SetProp(client_.hwnd(), kClientProperty, 1);
    winmsg::SendMessage(winmsg::FindWindow(nullptr, kResidentWindowText), WM_PERM_SETCLIENTWND, client_.hwnd(), 0);
  }

  void StopResident() {
    client_.Reset();
    if (resident_) {
      (void)resident_->Kill(SIGTERM);
      (void)resident_->Wait(10000);
      resident_.reset();
    }
  }

  void TearDown() override {
    StopResident();
    printer_.reset();
  }

  // Runs a CUPS client against the private cupsd; gives its exit code.
  int Run(std::vector<std::string> argv, const std::string& as_user = "") {
    return printer_->Run(std::move(argv), as_user);
  }

  // Pumps the client window's messages until `done` or the limit.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      winmsg::PumpMessages();
      if (done()) return true;
      std::this_thread::sleep_for(20ms);
    }
    return done();
  }

  std::string Logs() {
    auto b = fs::ReadFile(capture_root_ + "/log/capture.log");
    return printer_->Logs() + "\n--\n" + (b.ok() ? *b : std::string());
  }

  zv::testing::TempRoot root_;
  std::string cups_, capture_template_, capture_root_, programs_;
  std::unique_ptr<testing::VirtualPrinter> printer_;
  std::optional<process::Process> resident_;
  winmsg::Window client_;
  std::vector<std::string> received_;
};

TEST_F(PrinterEndToEnd, PrintedPdfArrivesAsACaptureFile) {
  const std::string pdf = cups_ + "/report.pdf";
  MakePdf(pdf);
  ::chmod(pdf.c_str(), 0644);
  ASSERT_EQ(Run({"lp", "-d", "Zelvora", "-t", "Microsoft Word - report.DOC", pdf}), 0);
  ASSERT_TRUE(PumpUntil([&] { return !received_.empty(); }, 60s)) << Logs();
  const std::string text = received_[0];
  const std::string path = text.substr(0, text.find(" /n "));
  EXPECT_EQ(text, path + " /n \"report\" ");
  auto doc = jobdoc::ReadDocumentImageFile(path);
  ASSERT_TRUE(doc.ok()) << doc.status().ToString();
  ASSERT_EQ(doc->pages.size(), 2u);
  ASSERT_TRUE(doc->pages[0].trailer && doc->pages[1].trailer);
  EXPECT_EQ(doc->pages[0].trailer->orientation, 1u);
  EXPECT_EQ(doc->pages[1].trailer->orientation, 2u);
  EXPECT_EQ(doc->pages[0].trailer->paper_code, 9u);
  const std::uint16_t paper_width = doc->format.paper_width;  // out of the packed record
  EXPECT_EQ(paper_width, 2100);

  // Pixels: each page drawn at a quarter of 200 dpi.
  struct Probe {
    int page;
    double x_pt, y_pt;
    std::uint32_t colour;
  } probes[] = {{0, 150, 100, 0x000000}, {0, 400, 600, 0xFFFFFF}, {1, 200, 150, 0x3366CC}, {1, 600, 400, 0xFFFFFF}};
  for (const Probe& p : probes) {
    auto mf = emf::Metafile::Parse(doc->pages[p.page].metafile);
    ASSERT_TRUE(mf.ok());
    const int w = mf->header().device.cx / 4, h = mf->header().device.cy / 4;
    auto bmp = gdi::MemoryBitmap::Create(w, h, 24);
    ASSERT_TRUE(bmp.ok());
    win::RECT rect{0, 0, w, h};
    ASSERT_TRUE(gdi::PlayMetafile((*bmp)->dc(), doc->pages[p.page].metafile, &rect).ok());
    const std::uint32_t got =
        (*bmp)->Pixel(static_cast<int>(p.x_pt * 200 / 72 / 4), static_cast<int>(p.y_pt * 200 / 72 / 4));
    for (int shift : {0, 8, 16}) {
      EXPECT_NEAR(static_cast<int>((got >> shift) & 0xFF), static_cast<int>((p.colour >> shift) & 0xFF), 6)
          << "page " << p.page << " at " << p.x_pt << "," << p.y_pt;
    }
  }
  // The spool folder empties once the resident program has seen the feeder end, which may be
  // after the capture file arrived.
  EXPECT_TRUE(PumpUntil([&] { return sfs::is_empty(capture_root_ + "/spool"); }, 30s)) << Logs();
  EXPECT_EQ(sfs::status(capture_root_ + "/spool").permissions() & sfs::perms::all, sfs::perms::owner_all);

  // Nobody prints as someone else.
  EXPECT_NE(Run({"lp", "-U", "root", "-d", "Zelvora", "-t", "forged", pdf}, "nobody"), 0);
  PumpUntil([&] { return received_.size() > 1; }, 3s);
  EXPECT_EQ(received_.size(), 1u);
  EXPECT_TRUE(sfs::is_empty(capture_root_ + "/spool"));
}

// Two A4 portrait pages with a one-inch box one inch from the top left: black, then red.
void MakePortraitPdf(const std::string& path) {
  zv::testing::WriteBoxPdf(path,
                           {{595.28, 841.89, 72, 72, 72, 72, 0, 0, 0}, {595.28, 841.89, 72, 72, 72, 72, 1, 0, 0}});
}

TEST_F(PrinterEndToEnd, RasterQueueArrivesThroughTheStream) {
  const std::string pdf = cups_ + "/raster.pdf";
  MakePortraitPdf(pdf);
  ::chmod(pdf.c_str(), 0644);
  // Without the resident program the stream stays in the spool folder to be looked at.
  StopResident();
  const std::string spool = capture_root_ + "/spool";
  ASSERT_EQ(Run({"lp", "-d", "Zelvora-Raster", "-o", "Resolution=600dpi", "-t", "raster.pdf", pdf}), 0);
  std::string job_file;
  const auto end = std::chrono::steady_clock::now() + 60s;
  while (job_file.empty() && std::chrono::steady_clock::now() < end) {
    if (sfs::exists(spool))
      for (const auto& e : sfs::directory_iterator(spool))
        if (e.path().extension() == ".job") job_file = e.path().string();
    if (job_file.empty()) std::this_thread::sleep_for(50ms);
  }
  ASSERT_FALSE(job_file.empty()) << Logs();
  const std::string stream = job_file.substr(0, job_file.size() - 4) + ".zvr";
  {
    std::ifstream in(stream, std::ios::binary);
    ASSERT_TRUE(in) << Logs();
    driver::PageStreamReader reader([&](std::span<std::uint8_t> b) -> std::optional<std::size_t> {
      in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
      return static_cast<std::size_t>(in.gcount());
    });
    // 600 dpi, 5 mm margins (118 pixels): the box spans 600 to 1200 of the paper.
    const int inside = 900 - 118, outside = 300 - 118;
    for (std::uint8_t red : {0, 255}) {
      auto page = reader.NextPage();
      ASSERT_TRUE(page.ok()) << page.status().ToString();
      ASSERT_TRUE(page->has_value());
      const driver::PageInfo& p = **page;
      EXPECT_EQ(p.mode.dm.dmPrintQuality, 600);
      EXPECT_EQ(p.mode.dm.dmYResolution, 600);
      EXPECT_EQ(p.width, 4724u);
      EXPECT_EQ(p.height, 6780u);
      std::vector<std::uint8_t> row(p.bytes_per_row);
      for (std::uint32_t y = 0; y < p.height; ++y) {
        ASSERT_TRUE(reader.ReadRow(row).ok());
        if (static_cast<int>(y) == inside) {
          EXPECT_EQ(row[3 * inside], red);
          EXPECT_EQ(row[3 * inside + 1], 0);
          EXPECT_EQ(row[3 * outside + 1], 255);
        }
      }
    }
    auto more = reader.NextPage();
    ASSERT_TRUE(more.ok());
    EXPECT_FALSE(more->has_value());
  }

  // The resident program feeds it through SetDIB into a two-page capture file.
  StartResident();
  ASSERT_TRUE(PumpUntil([&] { return !received_.empty(); }, 120s)) << Logs();
  const std::string text = received_[0];
  const std::string path = text.substr(0, text.find(" /n "));
  auto doc = jobdoc::ReadDocumentImageFile(path);
  ASSERT_TRUE(doc.ok()) << doc.status().ToString();
  ASSERT_EQ(doc->pages.size(), 2u);
  struct Probe {
    int page;
    double x_in, y_in;
    std::uint32_t colour;
  } probes[] = {{0, 1.5, 1.5, 0x000000}, {0, 0.5, 0.5, 0xFFFFFF}, {1, 1.5, 1.5, 0xFF0000}, {1, 4, 6, 0xFFFFFF}};
  for (const Probe& p : probes) {
    auto mf = emf::Metafile::Parse(doc->pages[p.page].metafile);
    ASSERT_TRUE(mf.ok());
    // Played at 50 dpi: the device size is the paper's at 600 dpi.
    const int w = mf->header().device.cx / 12, h = mf->header().device.cy / 12;
    auto bmp = gdi::MemoryBitmap::Create(w, h, 24);
    ASSERT_TRUE(bmp.ok());
    win::RECT rect{0, 0, w, h};
    ASSERT_TRUE(gdi::PlayMetafile((*bmp)->dc(), doc->pages[p.page].metafile, &rect).ok());
    const std::uint32_t got = (*bmp)->Pixel(static_cast<int>(p.x_in * 50), static_cast<int>(p.y_in * 50));
    for (int shift : {0, 8, 16}) {
      EXPECT_NEAR(static_cast<int>((got >> shift) & 0xFF), static_cast<int>((p.colour >> shift) & 0xFF), 6)
          << "page " << p.page << " at " << p.x_in << "," << p.y_in;
    }
  }
  EXPECT_TRUE(PumpUntil([&] { return sfs::is_empty(spool); }, 10s)) << Logs();
}

// The capture files in a folder.
std::vector<std::string> CaptureFiles(const std::string& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : sfs::directory_iterator(folder, ec))
    if (const std::string n = e.path().filename().string(); n.rfind("WXQ", 0) == 0 && e.path().extension() == ".tmp")
      out.push_back(n);
  return out;
}

// The feeder the resident program runs, found among its children.
pid_t RunningFeeder(pid_t resident) {
  std::error_code ec;
  for (const auto& task : sfs::directory_iterator("/proc/" + std::to_string(resident) + "/task", ec)) {
    std::ifstream children(task.path() / "children");
    for (pid_t child; children >> child;) {
      std::ifstream cmd("/proc/" + std::to_string(child) + "/cmdline");
      std::string line;
      std::getline(cmd, line);
      if (line.find("zelvora-feeder") != std::string::npos) return child;
    }
  }
  return 0;
}

// Every job reaches the client once, or fails alone: a client that ends before it takes the
// job (here one that fails at once, as a client without its settings does) leaves the job
// kept until the next client window, which gets the kept jobs in the order they came; a PDF
// of fanning-out forms passes its page limit and lands in failed/ while the good job behind
// it goes on; a feeder killed in mid-job leaves its job in failed/ and nothing in tmp/.
TEST_F(PrinterEndToEnd, EveryJobReachesTheClientOnceOrFailsAlone) {
  StopResident();
  const std::string stubs = root_.str() + "/stubs";
  sfs::create_directories(stubs);
  {
    std::ofstream(stubs + "/ostrane") << "#!/bin/sh\nexit 1\n";
  }
  sfs::permissions(stubs + "/ostrane", sfs::perms::owner_all);
  auto key = registry::Key::Create(registry::RootKey::kLocalMachine, "SOFTWARE\\Orbelin\\Zelvora\\1.0");
  ASSERT_TRUE(key.ok());
  ASSERT_TRUE(key->SetString("AppPath", stubs).ok());
  StartResident(/*with_client=*/false);

  const std::string two = cups_ + "/two.pdf", one = cups_ + "/one.pdf", fan = cups_ + "/fan.pdf";
  MakePdf(two);
  zv::testing::WriteBoxPdf(one, {{595.28, 841.89, 50, 50, 100, 100, 0, 0, 0}});
  zv::testing::WriteFanOutPdf(fan);
  for (const std::string* f : {&two, &one, &fan}) ::chmod(f->c_str(), 0644);
  const std::string tmp = capture_root_ + "/tmp", kept = capture_root_ + "/kept";
  const std::string spool = capture_root_ + "/spool";
  auto log_has = [&](const std::string& text) {
    auto b = fs::ReadFile(capture_root_ + "/log/capture.log");
    return b.ok() && b->find(text) != std::string::npos;
  };

  ASSERT_EQ(Run({"lp", "-d", "Zelvora", "-t", "two", two}), 0);
  ASSERT_TRUE(PumpUntil([&] { return log_has("the client ended without taking it"); }, 60s)) << Logs();
  EXPECT_EQ(CaptureFiles(kept).size(), 1u) << Logs();
  EXPECT_FALSE(log_has("Timeout")) << Logs();

  // A bad job, a good one behind it.
  ASSERT_EQ(Run({"lp", "-d", "Zelvora", "-t", "fan", fan}), 0);
  const auto bad_sent = std::chrono::steady_clock::now();
  ASSERT_EQ(Run({"lp", "-d", "Zelvora", "-t", "one", one}), 0);
  ASSERT_TRUE(PumpUntil([&] { return CaptureFiles(kept).size() == 2 && sfs::exists(spool + "/failed/2.pdf") &&
                                     !sfs::exists(spool + "/2.job") && !sfs::exists(spool + "/3.job"); },
                        120s))
      << Logs();
  const double good_after =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - bad_sent).count();
  std::printf("the good job behind the bad one was kept %.1f s after the bad one was printed\n", good_after);
  EXPECT_TRUE(log_has("passed its limit")) << Logs();
  EXPECT_TRUE(CaptureFiles(tmp).empty()) << Logs();

  // The next client start takes the kept jobs, the first printed first.
  MakeClient();
  ASSERT_TRUE(PumpUntil([&] { return received_.size() == 2; }, 60s)) << Logs();
  std::vector<std::size_t> pages;
  for (const std::string& text : received_) {
    auto doc = jobdoc::ReadDocumentImageFile(text.substr(0, text.find(" /n ")));
    ASSERT_TRUE(doc.ok()) << doc.status().ToString();
    pages.push_back(doc->pages.size());
  }
  EXPECT_EQ(pages, (std::vector<std::size_t>{2, 1}));
  EXPECT_NE(received_[0].find("\"two\""), std::string::npos);
  EXPECT_TRUE(CaptureFiles(kept).empty());
  for (const std::string& text : received_) sfs::remove(text.substr(0, text.find(" /n ")));  // read, as a client does

  // A feeder killed in mid-job.
  ASSERT_EQ(Run({"lp", "-d", "Zelvora", "-t", "fan", fan}), 0);
  pid_t feeder = 0;
  ASSERT_TRUE(PumpUntil([&] { return (feeder = RunningFeeder(resident_->pid())) != 0 && !CaptureFiles(tmp).empty(); },
                        60s))
      << Logs();
  ASSERT_EQ(::kill(feeder, SIGKILL), 0);
  ASSERT_TRUE(PumpUntil([&] { return log_has("ended by signal 9"); }, 60s)) << Logs();
  EXPECT_TRUE(CaptureFiles(tmp).empty()) << Logs();
  EXPECT_EQ(received_.size(), 2u);
  EXPECT_TRUE(sfs::exists(spool + "/failed/4.pdf")) << Logs();
}

}  // namespace
}  // namespace zv::capture
