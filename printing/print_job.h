// The print job that the client's local printing and the engine's printing share: the printer
// selection through the print dialog object, the device mode fitted to the document (paper,
// duplex, orientation, turned sheets, copies and collation), the document started, the run
// rendered once or once per collated copy (one-page-per-sheet runs page by page with each
// page's paper when no paper is chosen), and the document ended. Every failure of selecting
// the printer or of starting, writing or ending the job gives result code 6; nothing that
// failed is reported as printed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/spool/devmode.h"
#include "platform/spool/spool.h"
#include "printing/print_document.h"
#include "printing/printer_dc.h"
#include "printing/render_sheet.h"
#include "printing/sheet_math.h"

namespace zv::printing {

// Result codes of a print job.
inline constexpr int kPrintOk = 0;
inline constexpr int kPrintFailed = 6;
// The message lines of a failed print.
inline constexpr const char* kPrinterNotSelectableMessage = "指定されたプリンタを選択できませんでした。";
inline constexpr const char* kPrintFailedMessage = "印刷に失敗しました。";

// What to print.
struct PrintJobSpec {
  std::string printer;        // printer name
  std::string document_name;  // the job's name in the queue
  int layout_mode = kModeOneUp;
  int chosen_paper = -1;    // DMPAPER code; -1: the paper of the document's pages
  bool page_range = false;  // false: all pages
  int first_page = 1;       // 1-based, with page_range
  int last_page = 1;
  int copies = 1;
  bool collate = false;  // the job repeats the run per copy
  SheetSettings sheet;
  // The client's trace log for the print dialog object's lines; the engine leaves it empty.
  std::function<void(const std::string&)> trace;
};

// What became of the job.
struct PrintOutcome {
  int code = kPrintOk;             // kPrintOk or kPrintFailed
  std::vector<std::string> lines;  // the message lines of a failure (first the message)
  std::string detail;              // what failed, for logs
  std::uint32_t job_id = 0;        // the spooler's job id (0 when no job was started)
  win::SYSTEMTIME submitted{};     // its submission time (UTC)
  int sides = 0;                   // sheet sides printed over all passes
  int layout_mode = kModeOneUp;    // the mode printed (2 and 3 may have been exchanged)
  int device_copies = 1;           // dmCopies of the job
  int passes = 1;                  // runs printed
  int from = 1, to = 0;            // the run (1-based)
  spool::DevMode devmode;          // the device mode the job started with
};

// Where the print job reports to, besides the sheet renderer's notices.
class PrintJobObserver : public SheetObserver {
 public:
  // Once, right after the document started: the job id and the submission time (UTC).
  virtual void OnDocumentStarted(std::uint32_t job_id, const win::SYSTEMTIME& submitted) {}
  // Before the first side and after the last (the client's progress dialog).
  virtual void OnPrintingStarted() {}
  virtual void OnPrintingFinished() {}
};

// Takes the spooler, the document, what to print, the surface maker of the printer device
// context and an observer (may be null); prints the job and gives the outcome. Sets the
// document's run state (label total, numbering base, first page). A range outside the
// document is cut to its pages; a run without pages fails with code 6.
PrintOutcome RunPrintJob(spool::Spooler& spooler, PrintDocument& doc, const PrintJobSpec& order,
                         SheetSurfaceFactory surfaces, PrintJobObserver* observer);

}  // namespace zv::printing
