// The CUPS backend end to end against a private scheduler: cupsd is started once for this
// executable on a socket in its own temporary folder, with queues whose filter is a capture
// script that copies each job's PDF and its options to an output folder.
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
#include "platform/spool/testing/private_cupsd.h"
#include "platform/spool/tests/tiny_pdf.h"
#include "platform/testing/temp_root.h"

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

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

// The private scheduler, shared by every test of this executable: "Office", "Paused"
// (disabled) and "Closed" (rejecting jobs), "Office" the default.
class Cupsd {
 public:
  static testing::PrivateCupsd& Get() {
    static std::unique_ptr<testing::PrivateCupsd> instance = [] {
      auto d = testing::PrivateCupsd::Start({{"Office"}, {"Paused"}, {"Closed"}});
      if (d->ok()) {
        EXPECT_EQ(testing::PrivateCupsd::Run({"/usr/sbin/cupsdisable", "Paused"}), 0);
        EXPECT_EQ(testing::PrivateCupsd::Run({"/usr/sbin/cupsreject", "Closed"}), 0);
        EXPECT_EQ(testing::PrivateCupsd::Run({"/usr/sbin/lpadmin", "-d", "Office"}), 0);
      }
      return d;
    }();
    return *instance;
  }
};

class CupsEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { Cupsd::Get().Stop(); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new CupsEnvironment);

class CupsSpoolerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testing::PrivateCupsd::skipped()) GTEST_SKIP() << Cupsd::Get().error();
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
