#include "client/local_run.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "client/answer.h"
#include "jobdoc/sample/sample_document.h"
#include "platform/spool/folder_spooler.h"
#include "platform/testing/temp_root.h"

namespace zv::client {
namespace {

namespace fsys = std::filesystem;

TEST(LocalRun, PrintsAndAnswersWithTheClientsTable) {
  zv::testing::TempRoot root;
  spool::FolderSpooler spooler;
  auto printer = spool::StandardFolderPrinter("Office");
  printer.caps.resolutions = {{100, 100}};
  printer.caps.default_resolution = {100, 100};
  ASSERT_TRUE(spooler.AddPrinter(printer).ok());
  const std::string prc = root.str() + "/job.prc";
  ASSERT_TRUE(
      jobdoc::WriteDocumentData(jobdoc::sample::MakeDocument(2, 1, false), jobdoc::DocumentWriteMode::kPacked, prc)
          .ok());
  COstraneDoc doc;
  ASSERT_TRUE(doc.OnOpenDocument(prc, "", nullptr));
  ClientConfig config;
  config.app_path = root.str() + "/app";
  config.account = "tanaka";
  config.machine = "PC01";
  RequestOrder order;
  order.jobs = {{"report", 2}};
  order.device = "Office";
  order.paper = -1;

  auto answer = RunLocally(config, doc, order, spooler, printing::PrinterSurfaces());
  ASSERT_TRUE(answer.ok()) << answer.status().ToString();
  EXPECT_EQ(*answer, config.app_path + "/Spool/tanaka-PC01.ans");
  EXPECT_FALSE(fsys::exists(config.app_path + "/Spool/order.lst"));
  auto read = ReadAnswerFile(*answer, QuotaState{});
  ASSERT_TRUE(read.ok());
  EXPECT_TRUE(read->complete);
  EXPECT_EQ(read->code, 0);
  EXPECT_EQ(read->title, "印刷実行");
  EXPECT_EQ(read->message, "印刷が完了しました。");
  auto jobs = spooler.EnumJobs("Office");
  ASSERT_TRUE(jobs.ok());
  EXPECT_EQ(jobs->size(), 1u);

  order.device = "Nowhere";
  answer = RunLocally(config, doc, order, spooler, printing::PrinterSurfaces());
  ASSERT_TRUE(answer.ok());
  read = ReadAnswerFile(*answer, QuotaState{});
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read->code, 6);
  EXPECT_EQ(read->message, "指定されたプリンタを選択できませんでした。\nNowhere");
}

TEST(LocalRun, OnlyAPrintedRunCloses) {
  struct Case {
    int code;
    bool newer, modal;
    bool remove, close;
  } cases[] = {
      {0, false, false, true, true},  {0, true, false, true, false},   {0, false, true, true, false},
      {8, false, false, true, false}, {6, false, false, false, false}, {2, false, false, false, false},
  };
  for (const auto& c : cases) {
    RunEnd e = DecideRunEnd(c.code, c.newer, c.modal);
    EXPECT_EQ(e.remove_jobs, c.remove) << c.code;
    EXPECT_EQ(e.close, c.close) << c.code << c.newer << c.modal;
  }
}

TEST(LocalRun, AutoSaveNumbersWrap) {
  std::vector<std::string> names;
  int n = 0;
  for (int i = 0; i < 4; ++i) {
    names.push_back(AutoSavePath("/s", n));
    n = NextAutoSaveNumber(n, 3);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"/s/AutoSave000.prc", "/s/AutoSave001.prc", "/s/AutoSave002.prc",
                                             "/s/AutoSave000.prc"}));
}

}  // namespace
}  // namespace zv::client
