#include "client/local_run.h"

#include <unistd.h>

#include <cstdio>

#include "client/answer.h"
#include "engine/rules/request_info.h"
#include "engine/rules/request_result.h"
#include "platform/fs/files.h"
#include "printing/print_locally.h"
#include "printing/viewer_document.h"

namespace zv::client {
namespace {

// Records the shared print job's failure in the client's result table and passes the
// printing's progress on.
class ResultHost : public printing::LocalPrintHost {
 public:
  explicit ResultHost(printing::PrintJobObserver* progress) : progress_(progress) {}
  void SetResultMessage(int code, const std::vector<std::string>& lines) override {
    recorded = true;
    message = ClientResultMessage(code, lines);
  }
  void OnPrintingStarted() override {
    if (progress_) progress_->OnPrintingStarted();
  }
  void OnPrintingFinished() override {
    if (progress_) progress_->OnPrintingFinished();
  }
  void SetPageLabel(std::string_view text) override {
    if (progress_) progress_->SetPageLabel(text);
  }
  void SetProgress(int position) override {
    if (progress_) progress_->SetProgress(position);
  }
  bool recorded = false;
  ResultMessage message;

 private:
  printing::PrintJobObserver* progress_;
};

}  // namespace

Result<std::string> RunLocally(const ClientConfig& config, COstraneDoc& doc, RequestOrder order,
                               spool::Spooler& spooler, printing::SheetSurfaceFactory surfaces,
                               printing::PrintJobObserver* progress) {
  const std::string spool_folder = config.SpoolFolder();
  Status made = fs::MakeDirs(spool_folder);
  if (!made.ok()) return made;
  auto answer_name = engine::AnswerFileName(config.account, config.machine);
  if (!answer_name.ok()) return answer_name.status();
  order.account = config.account;
  order.machine = config.machine;
  const std::string request_path = spool_folder + "/order.lst";
  Status w = WriteRequestInfo(request_path, order);
  if (!w.ok()) return w;
  engine::CRequestInfo request;
  Status read = request.ReadTopRequest(request_path, 1, std::chrono::milliseconds(0));
  ::unlink(request_path.c_str());
  if (!read.ok()) return read;

  printing::LocalPrintSettings s;
  s.page_order = request.Orientation;
  s.pages_per_sheet = request.ThumbnailCount;
  s.separators = request.Separator;
  s.offset_x = request.OffsetX;
  s.offset_y = request.OffsetY;
  s.reduction = request.OffsetSize;
  s.printer = request.DeviceName;
  s.paper = request.PaperSize;
  s.all_pages = request.AllPages != 0;
  s.first_page = request.FirstPage;
  s.last_page = request.LastPage;
  s.copies = request.Copies;
  s.collate = request.Collate;
  printing::ViewerPrintDocument print_doc(doc.viewer());
  ResultHost host(progress);
  printing::PrintOutcome outcome = printing::PrintDocumentLocally(print_doc, s, spooler, surfaces, &host);
  ResultMessage message = host.recorded                        ? host.message
                          : outcome.code == printing::kPrintOk ? ClientResultMessage(0)
                                                               : ClientResultMessage(outcome.code, outcome.lines);

  engine::CRequestResult result;
  result.Init();
  result.ResultCode = message.code;
  result.Title = message.title;
  result.Messages = message.lines;
  const std::string answer_path = spool_folder + "/" + *answer_name;
  Status written = result.CreateResultFile(answer_path, true, true);
  if (!written.ok()) return written;
  return answer_path;
}

bool IsDuplicatePrint(spool::Spooler& spooler, const std::string& printer, const std::string& document) {
  auto jobs = spooler.EnumJobs(printer);
  if (!jobs.ok()) return false;
  for (const spool::JobInfo& j : *jobs)
    if (spool::InQueue(j.state) && j.document == document) return true;
  return false;
}

RunEnd DecideRunEnd(int code, bool newer_jobs, bool modal) {
  RunEnd e;
  e.remove_jobs = code == 0 || code == 8;
  e.close = code == 0 && !newer_jobs && !modal;
  return e;
}

std::string AutoSavePath(const std::string& folder, int number) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "/AutoSave%03d.prc", number);
  return folder + buf;
}

int NextAutoSaveNumber(int number, int slots) {
  if (slots < 1) slots = 1;
  int next = number + 1;
  return next >= slots ? 0 : next;
}

}  // namespace zv::client
