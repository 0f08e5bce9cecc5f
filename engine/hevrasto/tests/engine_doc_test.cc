// The engine document: opening job files, and the status check after a print, against a
// folder printer whose reported job state the test chooses.
#include "engine/hevrasto/engine_doc.h"

#include <gtest/gtest.h>

#include <optional>

#include "engine/hevrasto/server_setup.h"
#include "platform/codepage/codepage.h"
#include "platform/fs/files.h"
#include "platform/spool/folder_spooler.h"
#include "platform/testing/temp_root.h"

namespace zv::engine {
namespace {

// A folder spooler whose GetJob reports a chosen state (or that the job is unknown).
class StateSpooler : public spool::FolderSpooler {
 public:
  using FolderSpooler::FolderSpooler;
  Result<spool::JobInfo> GetJob(const std::string& printer, std::uint32_t id) override {
    auto job = FolderSpooler::GetJob(printer, id);
    if (!forced || !job.ok()) return job;
    if (!*forced) return Status::NotFound("job left the queue");
    job->state = **forced;
    job->status = spool::StatusBitsFor(**forced);
    return job;
  }
  // Unset: as stored; nullopt inside: unknown; a state: that state.
  std::optional<std::optional<spool::JobState>> forced;
};

class EngineDocTest : public ::testing::Test {
 public:
  void SetUp() override {
    auto f = SetUpServer(ServerSetupOptions{});
    ASSERT_TRUE(f.ok()) << f.status().ToString();
    folders_ = *f;
    spooler_.emplace(folders_.printers);
    request_.Init();
    request_.AccountName = "alice";
    request_.MachineName = "pc";
    request_.JobFileName = "a.prc";
    request_.Jobs = {{"Doc", 2}};
    request_.DeviceName = "Office";
    request_.PaperSize = 9;
  }
  zv::testing::TempRoot root_;
  ServerFolders folders_;
  std::optional<StateSpooler> spooler_;
  CRequestInfo request_;
};

TEST_F(EngineDocTest, OpensJobDocumentsAndRefusesOtherFiles) {
  CHevrastoDoc doc(*spooler_);
  ASSERT_TRUE(WriteSampleJob(folders_.jobs + "/a.PRC", 2).ok());
  CRequestResult r;
  r.Init();
  EXPECT_TRUE(doc.OnOpenDocument(folders_.jobs + "/a.PRC", r));
  EXPECT_EQ(doc.page_count(), 2);
  EXPECT_EQ(r.ResultCode, 0);
  ASSERT_TRUE(WriteSampleJob(folders_.jobs + "/a.tmp", 2).ok());
  ASSERT_TRUE(fs::WriteFileAtomic(folders_.jobs + "/junk.prc", std::string("\x02\xff\xff\xff\x7f junk", 10)).ok());
  for (const char* bad : {"a.tmp", "junk.prc", "missing.prc"}) {
    r.Init();
    EXPECT_FALSE(doc.OnOpenDocument(folders_.jobs + "/" + bad, r)) << bad;
    EXPECT_EQ(r.ResultCode, kResultJobNotOpened) << bad;
    EXPECT_FALSE(doc.is_open());
  }
}

TEST_F(EngineDocTest, OnlyErrorStatesAfterPrintingFailTheJob) {
  ASSERT_TRUE(WriteSampleJob(folders_.jobs + "/a.prc", 2).ok());
  struct Case {
    std::optional<std::optional<spool::JobState>> forced;
    int code;
    std::string line;
  } cases[] = {
      {std::nullopt, 0, ""},                      // still queued
      {std::optional<spool::JobState>(), 0, ""},  // left the queue
      {spool::JobState::kCompleted, 0, ""},
      {spool::JobState::kPrinting, 0, ""},
      {spool::JobState::kError, 6, "「プリンタを確認してください」"},
      {spool::JobState::kOffline, 6, "「オフラインエラーが発生しました プリンタを確認してください」"},
  };
  for (const Case& c : cases) {
    spooler_->forced = c.forced;
    CHevrastoDoc doc(*spooler_);
    CRequestResult r;
    r.Init();
    ASSERT_TRUE(doc.OnOpenDocument(folders_.jobs + "/a.prc", r));
    std::vector<PrintLogRecord> log;
    EXPECT_EQ(doc.PrintRequest(request_, r, UserRecord{}, PrinterRecord{1, "Office", 0, 1}, &log), c.code);
    EXPECT_EQ(r.ResultCode, c.code);
    ASSERT_EQ(log.size(), 1u);  // it printed either way
    EXPECT_EQ(log[0].Pages, 2);
    win::SYSTEMTIME t{};
    EXPECT_GT(doc.FindSpooledJob(&t), 0u);
    EXPECT_GT(t.wYear, 2000);
    if (c.code != 0) {
      ASSERT_EQ(r.Messages.size(), 2u);
      EXPECT_EQ(r.Messages[0], "プリンタ[Office]でエラーが発生しました");
      EXPECT_EQ(r.Messages[1], c.line);
    }
  }
}

TEST_F(EngineDocTest, TwoUpPrintsFoldTheirPrintLogRows) {
  ASSERT_TRUE(WriteSampleJob(folders_.jobs + "/a.prc", 5).ok());
  CHevrastoDoc doc(*spooler_);
  CRequestResult r;
  r.Init();
  ASSERT_TRUE(doc.OnOpenDocument(folders_.jobs + "/a.prc", r));
  request_.Jobs = {{"A", 3}, {"B", 2}};
  request_.ThumbnailCount = 1;
  request_.Copies = 2;
  std::vector<PrintLogRecord> log;
  ASSERT_EQ(doc.PrintRequest(request_, r, UserRecord{}, PrinterRecord{1, "Office", 0, 1}, &log), 0);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].JobName, "...");
  EXPECT_EQ(log[0].Pages, 6);  // three sheets of two pages, two copies
  EXPECT_EQ(log[0].JobPages, 3);
  auto jobs = spooler_->EnumJobs("Office");
  ASSERT_TRUE(jobs.ok());
  ASSERT_EQ(jobs->size(), 1u);
  EXPECT_EQ(jobs->front().document, "A");
}

TEST_F(EngineDocTest, AnUnknownPrinterIsNotSelected) {
  ASSERT_TRUE(WriteSampleJob(folders_.jobs + "/a.prc", 1).ok());
  CHevrastoDoc doc(*spooler_);
  CRequestResult r;
  r.Init();
  ASSERT_TRUE(doc.OnOpenDocument(folders_.jobs + "/a.prc", r));
  request_.DeviceName = "Nowhere";
  std::vector<PrintLogRecord> log;
  EXPECT_EQ(doc.PrintRequest(request_, r, UserRecord{}, PrinterRecord{}, &log), 6);
  EXPECT_EQ(r.Messages, PrinterNotSelectedLines("Nowhere"));
  EXPECT_TRUE(log.empty());
}

}  // namespace
}  // namespace zv::engine

namespace zv::engine {
namespace {

TEST(ApplyRequest, HeaderFooterAndFontFromTheRequest) {
  viewer::CViewerDoc doc;
  CRequestInfo r;
  r.Init();
  r.H_Left = "左";
  r.F_Right = "<ページ>/<総ページ>";
  r.FontPoint = 9;
  r.LogFont = "-20,0,0,0,700,0,0,0,128,0,0,0,0,ＭＳ 明朝";
  ApplyRequest(doc, r);
  win::LOGFONTA lf{};
  doc.GetHeaderFooterFont(&lf);
  EXPECT_EQ(lf.lfHeight, -20);
  EXPECT_EQ(lf.lfWeight, 700);
  EXPECT_EQ(lf.lfCharSet, 128);
  auto face = codepage::Cp932ToUtf8(lf.lfFaceName);
  ASSERT_TRUE(face.ok());
  EXPECT_EQ(*face, "ＭＳ 明朝");
  // Empty items keep their members; only the weight changes.
  r.LogFont = ",,,,400";
  ApplyRequest(doc, r);
  doc.GetHeaderFooterFont(&lf);
  EXPECT_EQ(lf.lfHeight, -20);
  EXPECT_EQ(lf.lfWeight, 400);
  EXPECT_EQ(*codepage::Cp932ToUtf8(lf.lfFaceName), "ＭＳ 明朝");
  // A face longer than the field is cut on a character boundary.
  r.LogFont = ",,,,,,,,,,,,," + std::string(20, 'x') + "明明明明明明";
  ApplyRequest(doc, r);
  doc.GetHeaderFooterFont(&lf);
  EXPECT_EQ(std::string(lf.lfFaceName).size(), 30u);
  std::string out;
  EXPECT_TRUE(doc.ReplacePagePlaceholders("<ページ>/<総ページ>", 2, &out, 5));
  EXPECT_EQ(out, "2/5");
}

}  // namespace
}  // namespace zv::engine
