#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include "platform/spool/folder_spooler.h"
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

void WriteText(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

class FolderSpoolerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // An administrator's hand-written description, with table papers and a paper of its own.
    WriteText(root_.path() / "printers" / "office" / "printer.ini",
              "# office printer\n"
              "name = Office 2F\n"
              "port = IP_192.168.0.20\n"
              "driver = KANDREL Morvaith QX-410\n"
              "comment = second floor\n"
              "color = 1\n"
              "duplex = 1\n"
              "collate = 1\n"
              "copies = 99\n"
              "resolutions = 300x300, 600x600\n"
              "default_paper = 9\n"
              "devmode_version = 0x400\n"
              "driver_extra = " +
                  std::string(2 * 112, '0') +
                  "\n"
                  "paper = 9, 2100, 2970, 42, 42, 42, 42, A4\n"
                  "paper = 8\n"
                  "paper = 300, 1000, 2000, 0, 0, 0, 0, Banner, long\n");
    ASSERT_TRUE(spooler_.SetDefaultPrinter("Office 2F").ok());
  }

  // Queues a one-page job "Doc" on the office printer; gives its id (0 when that failed).
  std::uint32_t QueueOneJob() {
    auto job = spooler_.StartDoc("Office 2F", {"Doc"}, *spooler_.DefaultDevMode("Office 2F"));
    if (!job.ok() || !(*job)->WriteDocument(WriteTinyPdf(root_.path() / "a.pdf", 1), 1).ok()) return 0;
    return (*job)->End().ok() ? (*job)->id() : 0;
  }

  zv::testing::TempRoot root_;
  FolderSpooler spooler_;
};

TEST_F(FolderSpoolerTest, PrintersAreDescribedByTheirFiles) {
  auto printers = spooler_.EnumPrinters();
  ASSERT_TRUE(printers.ok()) << printers.status().ToString();
  ASSERT_EQ(printers->size(), 1u);
  const PrinterInfo& p = (*printers)[0];
  EXPECT_EQ(p.name, "Office 2F");
  EXPECT_EQ(p.port, "IP_192.168.0.20");
  EXPECT_EQ(p.driver, "KANDREL Morvaith QX-410");
  EXPECT_EQ(p.comment, "second floor");
  EXPECT_TRUE(p.is_default);
  EXPECT_EQ(p.attributes, PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_DEFAULT);
  EXPECT_EQ(*spooler_.DefaultPrinter(), "Office 2F");

  auto caps = spooler_.GetCapabilities("Office 2F");
  ASSERT_TRUE(caps.ok()) << caps.status().ToString();
  ASSERT_EQ(caps->papers.size(), 3u);
  EXPECT_EQ(caps->papers[0].left, 42);
  EXPECT_EQ(caps->papers[1].name, "A3");  // size and name from the media table
  EXPECT_EQ(caps->papers[1].length, 4200);
  EXPECT_EQ(caps->papers[2].name, "Banner, long");
  EXPECT_EQ(caps->default_resolution, (Resolution{600, 600}));  // the last one offered
  EXPECT_TRUE(caps->duplex);
  EXPECT_EQ(caps->max_copies, 99);

  auto mode = spooler_.DefaultDevMode("Office 2F");
  ASSERT_TRUE(mode.ok());
  EXPECT_EQ(mode->DeviceName(), "Office 2F");
  EXPECT_EQ(mode->dm.dmSpecVersion, 0x400);
  EXPECT_EQ(mode->extra.size(), 112u);

  auto names = spooler_.DevNames("Office 2F");
  ASSERT_TRUE(names.ok());
  auto parsed = ParseDevNames(*names);
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ(parsed->driver, "KANDREL Morvaith QX-410");
  EXPECT_EQ(parsed->device, "Office 2F");
  EXPECT_EQ(parsed->output, "IP_192.168.0.20");

  for (const char* missing : {"office", "Office 2F ", ""}) {
    EXPECT_FALSE(spooler_.GetPrinter(missing).ok()) << missing;
    EXPECT_FALSE(spooler_.DevNames(missing).ok()) << missing;
    EXPECT_FALSE(spooler_.DefaultDevMode(missing).ok()) << missing;
  }
}

TEST_F(FolderSpoolerTest, BrokenDescriptionsAreReportedAndHideOnlyThemselves) {
  const char* bad[] = {
      "name=X\ncopies=many\n",
      "name=X\npaper=9,A4\n",
      "name=X\npaper=999\n",                       // unknown code without a size
      "name=X\npaper=9,2100,2970,2000,0,200,0\n",  // margins wider than the sheet
      "name=X\npaper=9\npaper=9\n",
      "name=X\ndriver_extra=abc\n",
      "name=X\nno equals sign\n",
      "port=nameless\n",
  };
  for (const char* text : bad) {
    WriteText(root_.path() / "printers" / "broken" / "printer.ini", text);
    EXPECT_FALSE(ParseFolderPrinter(root_.path() / "printers" / "broken" / "printer.ini").ok()) << text;
    auto printers = spooler_.EnumPrinters();
    ASSERT_TRUE(printers.ok());
    EXPECT_EQ(printers->size(), 1u) << text;
  }
}

TEST_F(FolderSpoolerTest, AddedPrinterRoundTripsAndNamesStayInTheirFolder) {
  FolderPrinter p = StandardFolderPrinter("..\\..\\evil/../x");
  p.info.driver = "Generic";
  ASSERT_TRUE(spooler_.AddPrinter(p).ok());
  for (const auto& e : fs::directory_iterator(root_.path() / "printers")) {
    EXPECT_EQ(e.path().parent_path(), root_.path() / "printers");
  }
  auto back = spooler_.ReadPrinter(p.info.name);
  ASSERT_TRUE(back.ok()) << back.status().ToString();
  EXPECT_EQ(back->info.driver, "Generic");
  ASSERT_EQ(back->caps.papers.size(), p.caps.papers.size());
  EXPECT_EQ(back->caps.papers[3].name, p.caps.papers[3].name);
  EXPECT_EQ(back->caps.papers[3].bottom, 42);
  EXPECT_EQ(back->caps.resolutions, p.caps.resolutions);
  EXPECT_EQ(back->caps.default_resolution, p.caps.default_resolution);
  EXPECT_EQ(back->caps.max_copies, 999);
  EXPECT_EQ(spooler_.EnumPrinters()->size(), 2u);
  ASSERT_TRUE(spooler_.RemovePrinter(p.info.name).ok());
  EXPECT_EQ(spooler_.EnumPrinters()->size(), 1u);
}

TEST_F(FolderSpoolerTest, JobLandsAsPdfAndRecord) {
  DevMode mode = *spooler_.DefaultDevMode("Office 2F");
  mode.dm.dmPaperSize = 8;
  mode.dm.dmOrientation = 2;
  mode.dm.dmCopies = 2;
  mode.dm.dmCollate = 1;
  mode.dm.dmDuplex = 3;
  auto job = spooler_.StartDoc("Office 2F", {"\tReport 報告書=1 %41.pdf "}, mode);
  ASSERT_TRUE(job.ok()) << job.status().ToString();
  const std::uint32_t id = (*job)->id();
  EXPECT_GT(id, 0u);
  EXPECT_GE((*job)->submitted().wYear, 2024);

  // From StartDoc on the job is in the queue, spooling, with its submission time.
  auto queued = spooler_.EnumJobs("Office 2F");
  ASSERT_TRUE(queued.ok());
  ASSERT_EQ(queued->size(), 1u);
  EXPECT_EQ((*queued)[0].id, id);
  EXPECT_EQ((*queued)[0].status, JOB_STATUS_SPOOLING);
  EXPECT_EQ((*queued)[0].document, "\tReport 報告書=1 %41.pdf ");
  EXPECT_EQ(std::memcmp(&(*queued)[0].submitted, &(*job)->submitted(), sizeof(win::SYSTEMTIME)), 0);
  EXPECT_EQ(spooler_.GetPrinter("Office 2F")->jobs, 1u);

  fs::path pdf = WriteTinyPdf(root_.path() / "sheets.pdf", 3, 1191, 842);
  const fs::perms pdf_mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(pdf, pdf_mode);
  ASSERT_TRUE((*job)->WriteDocument(pdf, 3).ok());
  ASSERT_TRUE((*job)->End().ok());
  EXPECT_FALSE((*job)->End().ok());

  auto info = spooler_.GetJob("Office 2F", id);
  ASSERT_TRUE(info.ok()) << info.status().ToString();
  EXPECT_EQ(info->state, JobState::kQueued);
  EXPECT_EQ(info->status, 0u);
  EXPECT_EQ(info->total_pages, 3u);
  EXPECT_FALSE(info->owner.empty());
  EXPECT_EQ(info->options.paper, 8);
  EXPECT_EQ(info->options.paper_length, 4200);
  EXPECT_EQ(info->options.orientation, 2);
  EXPECT_EQ(info->options.copies, 2);
  EXPECT_TRUE(info->options.collate);
  EXPECT_EQ(info->options.duplex, 3);
  EXPECT_EQ(info->options.resolution, (Resolution{600, 600}));
  auto stored = spooler_.JobDocumentPath("Office 2F", id);
  ASSERT_TRUE(stored.ok());
  EXPECT_EQ(Slurp(*stored), TinyPdf(3, 1191, 842));
  EXPECT_EQ(fs::status(*stored).permissions(), pdf_mode);  // the copy keeps the source's mode
  EXPECT_EQ(info->size, TinyPdf(3, 1191, 842).size());
}

TEST_F(FolderSpoolerTest, StatesDrivenByTestsShowInQueueAndJob) {
  const std::uint32_t id = QueueOneJob();
  ASSERT_NE(id, 0u);
  struct Case {
    JobState state;
    std::uint32_t status;
    bool listed;
  } cases[] = {
      {JobState::kPrinting, JOB_STATUS_PRINTING, true},  {JobState::kError, JOB_STATUS_ERROR, true},
      {JobState::kOffline, JOB_STATUS_OFFLINE, true},    {JobState::kQueued, 0, true},
      {JobState::kCompleted, JOB_STATUS_PRINTED, false}, {JobState::kDeleted, JOB_STATUS_DELETED, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(JobStateName(c.state));
    ASSERT_TRUE(spooler_.SetJobState("Office 2F", id, c.state).ok());
    auto info = spooler_.GetJob("Office 2F", id);
    ASSERT_TRUE(info.ok());
    EXPECT_EQ(info->status, c.status);
    EXPECT_EQ(spooler_.EnumJobs("Office 2F")->size(), c.listed ? 1u : 0u);
  }
  EXPECT_FALSE(spooler_.SetJobState("Office 2F", id + 100, JobState::kError).ok());
  EXPECT_FALSE(spooler_.GetJob("Office 2F", 0).ok());
}

// Runs a change in another process, as the console or a device would make it.
void InAnotherProcess(const std::function<void()>& change) {
  pid_t child = ::fork();
  if (child == 0) {
    change();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Replaces `from` by `to` in a file, in place (the same inode).
void EditInPlace(const fs::path& file, const std::string& from, const std::string& to) {
  std::string text = Slurp(file);
  ASSERT_NE(text.find(from), std::string::npos) << file;
  text.replace(text.find(from), from.size(), to);
  std::fstream(file, std::ios::in | std::ios::out | std::ios::binary) << text;
}

TEST_F(FolderSpoolerTest, ChangesByAnotherProcessShowThroughTheCache) {
  auto changes_show = [&](FolderSpooler& spooler) {
    // A spooler keeps what it read while the file stays the same; files only moments old are
    // always read afresh, so the files are let age before the first read that may be kept.
    const std::uint32_t id = QueueOneJob();
    ASSERT_NE(id, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    FolderSpooler other(spooler_.root());
    ASSERT_EQ(spooler.GetPrinter("Office 2F")->status, 0u);
    ASSERT_EQ(spooler.GetCapabilities("Office 2F")->max_copies, 99);
    ASSERT_EQ(spooler.GetJob("Office 2F", id)->state, JobState::kQueued);
    ASSERT_EQ(spooler.GetPrinter("Office 2F")->jobs, 1u);

    // Each change keeps the file's size: edited in place (same inode), then rewritten through
    // a rename by another spooler.
    const fs::path dir = root_.path() / "printers" / "office";
    EditInPlace(dir / "printer.ini", "copies = 99", "copies = 98");
    EditInPlace(dir / "jobs" / (std::to_string(id) + ".job"), "state=queued", "state=paused");
    EXPECT_EQ(spooler.GetCapabilities("Office 2F")->max_copies, 98);
    EXPECT_EQ(spooler.GetJob("Office 2F", id)->state, JobState::kPaused);
    ASSERT_TRUE(other.SetPrinterStatus("Office 2F", PRINTER_STATUS_PAUSED).ok());
    ASSERT_TRUE(other.SetJobState("Office 2F", id, JobState::kQueued).ok());
    EXPECT_EQ(spooler.GetPrinter("Office 2F")->status, std::uint32_t(PRINTER_STATUS_PAUSED));
    EXPECT_EQ(spooler.GetJob("Office 2F", id)->state, JobState::kQueued);
    ASSERT_TRUE(other.CancelJob("Office 2F", id).ok());
    EXPECT_EQ(spooler.GetPrinter("Office 2F")->jobs, 0u);
    EXPECT_EQ(spooler.GetJob("Office 2F", id)->state, JobState::kDeleted);
    fs::remove(dir / "jobs" / (std::to_string(id) + ".job"));
    EXPECT_FALSE(spooler.GetJob("Office 2F", id).ok());
    ASSERT_TRUE(other.RemovePrinter("Office 2F").ok());
    EXPECT_FALSE(spooler.GetPrinter("Office 2F").ok());
    EXPECT_FALSE(spooler.DefaultPrinter().ok());
  };
  for (auto check : {FolderSpooler::ChangeCheck::kWatch, FolderSpooler::ChangeCheck::kStamp}) {
    SCOPED_TRACE(check == FolderSpooler::ChangeCheck::kWatch ? "watched" : "by stamp");
    fs::remove_all(root_.path() / "printers");
    SetUp();
    FolderSpooler spooler(spooler_.root(), check);
    changes_show(spooler);
  }
}

TEST_F(FolderSpoolerTest, ChangesBetweenTwoReadsShowAtOnce) {
  // Fresh files, read again right after each change: nothing may wait for files to age.
  const std::uint32_t id = QueueOneJob();
  ASSERT_NE(id, 0u);
  const fs::path dir = root_.path() / "printers" / "office";
  const fs::path record = dir / "jobs" / (std::to_string(id) + ".job");
  const fs::path other = dir / "jobs" / "4000.job";
  auto state = [&](std::uint32_t job) {
    auto j = spooler_.GetJob("Office 2F", job);
    return j.ok() ? std::string(JobStateName(j->state)) : "none";
  };
  auto queued = [&] {
    std::string ids;
    auto jobs = spooler_.EnumJobs("Office 2F");
    for (const auto& j : *jobs) ids += std::to_string(j.id) + " ";
    return ids;
  };
  const std::string mine = std::to_string(id) + " ";
  struct Step {
    const char* what;
    std::function<void()> change;
    std::function<void()> check;
  };
  const Step steps[] = {
      {"a record edited in place, its size kept", [&] { EditInPlace(record, "state=queued", "state=paused"); },
       [&] {
         EXPECT_EQ(state(id), "paused");
         EXPECT_EQ(queued(), mine);
       }},
      {"a record replaced through a rename",
       [&] {
         std::string text = Slurp(record);
         text.replace(text.find("state=paused"), 12, "state=error");
         WriteText(dir / "jobs" / "new.tmp", text);
         fs::rename(dir / "jobs" / "new.tmp", record);
       },
       [&] { EXPECT_EQ(state(id), "error"); }},
      {"a record added", [&] { WriteText(other, "id=4000\nprinter=Office 2F\ndocument=x\nstate=queued\n"); },
       [&] {
         EXPECT_EQ(queued(), mine + "4000 ");
         EXPECT_EQ(state(4000), "queued");
       }},
      {"a record removed", [&] { fs::remove(other); },
       [&] {
         EXPECT_EQ(queued(), mine);
         EXPECT_EQ(state(4000), "none");
       }},
      {"the description edited in place", [&] { EditInPlace(dir / "printer.ini", "copies = 99", "copies = 98"); },
       [&] { EXPECT_EQ(spooler_.GetCapabilities("Office 2F")->max_copies, 98); }},
      {"the default removed", [&] { fs::remove(root_.path() / "printers" / "default"); },
       [&] { EXPECT_FALSE(spooler_.DefaultPrinter().ok()); }},
      {"the printer's folder moved away and another put in its place",
       [&] {
         fs::rename(dir, root_.path() / "printers" / "old");
         WriteText(dir / "printer.ini", "name = Office 2F\ncopies = 7\n");
         fs::create_directory(dir / "jobs");
       },
       [&] {
         EXPECT_EQ(spooler_.GetCapabilities("Office 2F")->max_copies, 7);
         EXPECT_EQ(queued(), "");
         EXPECT_EQ(state(id), "none");
       }},
      {"a record added to the new folder",
       [&] { WriteText(dir / "jobs" / "4001.job", "id=4001\nprinter=Office 2F\nstate=queued\n"); },
       [&] { EXPECT_EQ(queued(), "4001 "); }},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    // Everything read once before the change, so a stale copy would be at hand.
    (void)queued();
    (void)state(id);
    (void)spooler_.GetCapabilities("Office 2F");
    (void)spooler_.DefaultPrinter();
    InAnotherProcess(step.change);
    step.check();
  }
}

TEST_F(FolderSpoolerTest, ChangesLostInAFloodOfEventsStillShow) {
  // More changes than the kernel queues for a watcher: the events after the limit are lost,
  // the edit of the record among them.
  long limit = 0;
  std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> limit;
  if (limit <= 0 || limit > 1'000'000) GTEST_SKIP() << "inotify queue limit " << limit;
  const std::uint32_t id = QueueOneJob();
  ASSERT_NE(id, 0u);
  const fs::path jobs = root_.path() / "printers" / "office" / "jobs";
  const fs::path record = jobs / (std::to_string(id) + ".job");
  ASSERT_EQ(spooler_.EnumJobs("Office 2F")->size(), 1u);
  ASSERT_EQ(spooler_.GetJob("Office 2F", id)->state, JobState::kQueued);
  WriteText(jobs / "a", "");
  WriteText(jobs / "b", "");
  // Two files in turn, so that no two events in a row are alike (the kernel merges those).
  for (long i = 0; i <= limit / 2 + 1; ++i) {
    fs::permissions(jobs / "a", fs::perms::owner_all);
    fs::permissions(jobs / "b", fs::perms::owner_all);
  }
  EditInPlace(record, "state=queued", "state=paused");
  WriteText(jobs / "4000.job", "id=4000\nprinter=Office 2F\nstate=queued\n");
  EXPECT_EQ(spooler_.GetJob("Office 2F", id)->state, JobState::kPaused);
  EXPECT_EQ(spooler_.EnumJobs("Office 2F")->size(), 2u);
  // And the changes after the flood are seen as before.
  fs::remove(jobs / "4000.job");
  EditInPlace(record, "state=paused", "state=queued");
  EXPECT_EQ(spooler_.EnumJobs("Office 2F")->size(), 1u);
  EXPECT_EQ(spooler_.GetJob("Office 2F", id)->state, JobState::kQueued);
}

TEST_F(FolderSpoolerTest, FailuresOfStartWriteAndEndAreReported) {
  DevMode mode = *spooler_.DefaultDevMode("Office 2F");
  EXPECT_EQ(spooler_.StartDoc("Nobody", {"Doc"}, mode).status().code(), Status::Code::kNotFound);

  auto job = spooler_.StartDoc("Office 2F", {"Doc"}, mode);
  ASSERT_TRUE(job.ok());
  EXPECT_FALSE((*job)->WriteDocument(root_.path() / "missing.pdf", 1).ok());
  WriteText(root_.path() / "not.pdf", "hello");
  EXPECT_FALSE((*job)->WriteDocument(root_.path() / "not.pdf", 1).ok());
  EXPECT_FALSE((*job)->WriteDocument(WriteTinyPdf(root_.path() / "a.pdf", 1), -1).ok());
  // The document vanishes between write and end: End fails and the job leaves the queue.
  ASSERT_TRUE((*job)->WriteDocument(root_.path() / "a.pdf", 1).ok());
  fs::remove(root_.path() / "a.pdf");
  EXPECT_FALSE((*job)->End().ok());
  EXPECT_EQ(spooler_.GetJob("Office 2F", (*job)->id())->state, JobState::kDeleted);
  EXPECT_TRUE(spooler_.EnumJobs("Office 2F")->empty());

  // A printer that refuses jobs.
  auto desc = *spooler_.ReadPrinter("Office 2F");
  desc.info.accepting = false;
  ASSERT_TRUE(spooler_.AddPrinter(desc).ok());
  EXPECT_EQ(spooler_.StartDoc("Office 2F", {"Doc"}, mode).status().code(), Status::Code::kBusy);
}

TEST_F(FolderSpoolerTest, AbortAndEmptyJobsLeaveTheQueue) {
  DevMode mode = *spooler_.DefaultDevMode("Office 2F");
  std::uint32_t aborted = 0, empty = 0, dropped = 0;
  {
    auto job = std::move(*spooler_.StartDoc("Office 2F", {"A"}, mode));
    aborted = job->id();
    ASSERT_TRUE(job->WriteDocument(WriteTinyPdf(root_.path() / "a.pdf", 1), 1).ok());
    ASSERT_TRUE(job->Abort().ok());
    EXPECT_TRUE(job->Abort().ok());
  }
  {
    auto job = std::move(*spooler_.StartDoc("Office 2F", {"B"}, mode));
    empty = job->id();
    ASSERT_TRUE(job->End().ok());
  }
  {
    auto job = std::move(*spooler_.StartDoc("Office 2F", {"C"}, mode));
    dropped = job->id();
  }  // destroyed without End
  EXPECT_TRUE(spooler_.EnumJobs("Office 2F")->empty());
  for (auto id : {aborted, empty, dropped}) {
    EXPECT_EQ(spooler_.GetJob("Office 2F", id)->state, JobState::kDeleted) << id;
  }
  EXPECT_FALSE(spooler_.JobDocumentPath("Office 2F", aborted).ok());
  EXPECT_NE(aborted, empty);
  EXPECT_NE(empty, dropped);
}

TEST_F(FolderSpoolerTest, DisabledPrinterIsReportedAndStillQueues) {
  ASSERT_TRUE(spooler_.SetPrinterStatus("Office 2F", PRINTER_STATUS_PAUSED).ok());
  EXPECT_EQ(spooler_.GetPrinter("Office 2F")->status, PRINTER_STATUS_PAUSED);
  auto job = spooler_.StartDoc("Office 2F", {"Doc"}, *spooler_.DefaultDevMode("Office 2F"));
  ASSERT_TRUE(job.ok());
  ASSERT_TRUE((*job)->WriteDocument(WriteTinyPdf(root_.path() / "a.pdf", 1), 1).ok());
  ASSERT_TRUE((*job)->End().ok());
  EXPECT_EQ(spooler_.EnumJobs("Office 2F")->size(), 1u);
}

TEST_F(FolderSpoolerTest, QueuedJobQueryForDuplicates) {
  DevMode mode = *spooler_.DefaultDevMode("Office 2F");
  std::vector<std::uint32_t> ids;
  for (const char* name : {"Weekly.xls", "weekly.XLS", "Other"}) {
    auto job = std::move(*spooler_.StartDoc("Office 2F", {name}, mode));
    ASSERT_TRUE(job->WriteDocument(WriteTinyPdf(root_.path() / "a.pdf", 1), 1).ok());
    ASSERT_TRUE(job->End().ok());
    ids.push_back(job->id());
  }
  // The newest match wins; case does not count; deleting and finished jobs are skipped.
  auto found = FindQueuedJob(spooler_, "Office 2F", {"WEEKLY.xls"});
  ASSERT_TRUE(found.ok());
  ASSERT_TRUE(found->has_value());
  EXPECT_EQ((*found)->id, ids[1]);
  ASSERT_TRUE(spooler_.SetJobState("Office 2F", ids[1], JobState::kDeleting).ok());
  EXPECT_EQ((*FindQueuedJob(spooler_, "Office 2F", {"weekly.xls"}))->id, ids[0]);
  ASSERT_TRUE(spooler_.SetJobState("Office 2F", ids[0], JobState::kCompleted).ok());
  EXPECT_FALSE(FindQueuedJob(spooler_, "Office 2F", {"weekly.xls"})->has_value());

  // By owner and by the local submission time to the second.
  auto other = *spooler_.GetJob("Office 2F", ids[2]);
  win::SYSTEMTIME local = ToLocalTime(other.submitted);
  JobQuery q("other");
  q.owner = other.owner;
  q.local_date = local.wYear * 10000 + local.wMonth * 100 + local.wDay;
  q.local_time = local.wHour * 10000 + local.wMinute * 100 + local.wSecond;
  EXPECT_TRUE(FindQueuedJob(spooler_, "Office 2F", q)->has_value());
  q.owner = other.owner + "x";
  EXPECT_FALSE(FindQueuedJob(spooler_, "Office 2F", q)->has_value());
  q.owner.reset();
  q.local_time = (*q.local_time + 1) % 240000;
  EXPECT_FALSE(FindQueuedJob(spooler_, "Office 2F", q)->has_value());
  EXPECT_FALSE(FindQueuedJob(spooler_, "Nobody", {"x"}).ok());
}

TEST_F(FolderSpoolerTest, JobIdsStayUniqueAcrossThreads) {
  DevMode mode = *spooler_.DefaultDevMode("Office 2F");
  std::vector<std::uint32_t> ids(24);
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      FolderSpooler own;  // as another process would; the last two threads share one spooler
      FolderSpooler& spooler = t < 4 ? own : spooler_;
      for (int i = 0; i < 4; ++i) {
        auto job = spooler.StartDoc("Office 2F", {"T"}, mode);
        ids[t * 4 + i] = job.ok() ? (*job)->id() : 0;
        if (job.ok()) {
          EXPECT_TRUE((*job)->Abort().ok());
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  std::set<std::uint32_t> unique(ids.begin(), ids.end());
  EXPECT_EQ(unique.size(), ids.size());
  EXPECT_FALSE(unique.count(0));
}

TEST_F(FolderSpoolerTest, NewJobsPassOverIdsAlreadyInTheJobsFolder) {
  // A queued job whose id the counter does not know (no counter file yet).
  const fs::path jobs = root_.path() / "printers" / "office" / "jobs";
  WriteText(jobs / "1.job", "id=1\nprinter=Office 2F\ndocument=old\nstate=queued\n");
  WriteText(jobs / "2.pdf", TinyPdf(1, 595, 842));
  DevMode mode = *spooler_.DefaultDevMode("Office 2F");
  auto job = spooler_.StartDoc("Office 2F", {"new"}, mode);
  ASSERT_TRUE(job.ok()) << job.status().ToString();
  EXPECT_EQ((*job)->id(), 3u);
  EXPECT_TRUE((*job)->Abort().ok());
  auto old = spooler_.GetJob("Office 2F", 1);
  ASSERT_TRUE(old.ok()) << old.status().ToString();
  EXPECT_EQ(old->document, "old");
  EXPECT_EQ(old->state, JobState::kQueued);
  EXPECT_EQ(Slurp(jobs / "2.pdf"), TinyPdf(1, 595, 842));
}

TEST(FolderSpoolerEmpty, NoPrintersNoDefault) {
  zv::testing::TempRoot root;
  FolderSpooler spooler;
  EXPECT_TRUE(spooler.EnumPrinters()->empty());
  EXPECT_EQ(spooler.DefaultPrinter().status().code(), Status::Code::kNotFound);
  setenv("ZELVORA_SPOOLER", "folder", 1);
  auto s = OpenSpooler();
  ASSERT_TRUE(s.ok());
  EXPECT_EQ((*s)->backend(), "folder");
  setenv("ZELVORA_SPOOLER", "nonsense", 1);
  EXPECT_FALSE(OpenSpooler().ok());
  unsetenv("ZELVORA_SPOOLER");
  // Without the variable the root's printers/backend file chooses.
  fs::create_directories(root.path() / "printers");
  std::ofstream(root.path() / "printers" / "backend") << "cups\n";
  EXPECT_EQ((*OpenSpooler())->backend(), "cups");
}

}  // namespace
}  // namespace zv::spool
