// The engine document: opening job files, and the status check after a print, against a
// folder printer whose reported job state the test chooses.
#include "engine/hevrasto/engine_doc.h"

#include <gtest/gtest.h>

#include <optional>

#include "engine/hevrasto/server_setup.h"
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
      {std::nullopt, 0, ""},                                   // still queued
      {std::optional<spool::JobState>(), 0, ""},               // left the queue
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
