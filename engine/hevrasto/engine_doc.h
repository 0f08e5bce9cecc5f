// CHevrastoDoc: the job in the engine's hands. It opens the packed job document of a
// request with the job document library into the viewer's print-document object, prints it
// on the requested printer through the shared print job (layout, paper, duplex, copies,
// header and footer as the request says),
// reads back the spooler's job id and submission time, builds the print-log rows and checks
// the printed job's status afterwards.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/db/zvm_database.h"
#include "engine/rules/request_info.h"
#include "engine/rules/request_result.h"
#include "jobdoc/image.h"
#include "platform/spool/spool.h"
#include "platform/wintypes/wintypes.h"
#include "viewer/viewer_doc.h"

namespace zv::engine {

class CHevrastoDoc {
 public:
  // Takes the spooler the jobs go to (kept by the caller).
  explicit CHevrastoDoc(spool::Spooler& spooler) : spooler_(spooler) {}

  // Empties the document (no job open, job id and time zeroed).
  void OnNewDocument();

  // Takes the path of a job document (".prc", any case); unpacks and reads it. On failure
  // sets result 5 in `result`, leaves the document empty and gives false. A document whose
  // page-format record names no page, or that holds no page, fails too.
  // A file larger than `max_bytes` is not read: not opened, with a line that says so.
  bool OnOpenDocument(const std::string& path, CRequestResult& result, uint64_t max_bytes = UINT64_MAX);

  // Prints the open document as `request` says on its printer; the outcome goes to
  // `result` (6 with the printer's name when it cannot be used or the print fails, 6 with
  // the status lines when the spooler reports the job in error or offline afterwards), the
  // print-log rows to `log`. Gives the result code.
  // The job goes to the printer by the name the managed-printer row holds (the request's
  // name matched it without regard to case); `started` (may be empty) hears the spooler's
  // job id as soon as the job exists.
  int PrintRequest(const CRequestInfo& request, CRequestResult& result, const UserRecord& user,
                   const PrinterRecord& printer, std::vector<PrintLogRecord>* log,
                   const std::function<void(std::uint32_t)>& started = {});

  // WM_USER+24: gives the spooler's id of the job last printed (0 when none) and writes its
  // submission time (local) to `out` when given.
  uint32_t FindSpooledJob(win::SYSTEMTIME* out) const;

  bool is_open() const { return document_.has_value(); }
  int page_count() const { return document_ ? static_cast<int>(document_->pages.size()) : 0; }
  const std::string& name() const { return name_; }
  // The printed job's PDF path once handed to the spooler (for logs and tests).
  const std::string& last_printer() const { return printer_; }

 private:
  void CheckPrintedJobStatus(CRequestResult& result);

  spool::Spooler& spooler_;
  std::optional<jobdoc::DocumentImage> document_;
  // The pages as the viewer's print-document object holds and draws them.
  std::unique_ptr<viewer::CViewerDoc> pages_;
  std::string name_;
  std::string printer_;
  uint32_t job_id_ = 0;
  win::SYSTEMTIME submitted_{};
};

// Takes the print-document object and the request; gives the object the request's header
// and footer texts, numbering rule and font (LogFont: up to 13 numbers, then the face; an
// empty item keeps its member).
void ApplyRequest(viewer::CViewerDocBase& doc, const CRequestInfo& request);

// Takes a request and the managed-printer row it matched; gives the printer's installed
// name to print to (the row's name; the request's when the row names none).
std::string PrintTarget(const CRequestInfo& request, const PrinterRecord& printer);

// The lines of a printer that cannot be selected (result 6).
std::vector<std::string> PrinterNotSelectedLines(const std::string& printer);

}  // namespace zv::engine
