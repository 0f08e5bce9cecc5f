// The client's local printing: one print document printed on the printer of the client's
// print settings without a dialog, through the shared print job.
#pragma once

#include <string>
#include <vector>

#include "platform/spool/spool.h"
#include "printing/print_job.h"

namespace zv::printing {

// The client's print settings (the main frame's record).
struct LocalPrintSettings {
  int page_order = 1;       // 1 column by column, other row by row
  int pages_per_sheet = 0;  // 0 one, 1 two, 2 four, 3 eight
  int separators = -1;      // 0 columns and rows, 1 columns, 2 rows, other none
  int offset_x = 0;         // 0.1 mm
  int offset_y = 0;
  int reduction = 1000;  // thousandths
  std::string printer;
  int paper = -1;  // DMPAPER code, -1: the paper of the document's pages
  bool all_pages = true;
  int first_page = 1;
  int last_page = 1;
  int copies = 1;
  bool collate = false;
};

// What the client shows around a local print.
class LocalPrintHost : public PrintJobObserver {
 public:
  // The result-message table: code 6 with the message lines of a failure.
  virtual void SetResultMessage(int code, const std::vector<std::string>& lines) {}
};

// Takes the document, the settings, the spooler, the surface maker and the host (may be
// null); prints the document and gives the job's outcome (a failure also goes to the host's
// result-message table with code 6).
PrintOutcome PrintDocumentLocally(PrintDocument& doc, const LocalPrintSettings& settings, spool::Spooler& spooler,
                                  SheetSurfaceFactory surfaces, LocalPrintHost* host);

// Takes the client's settings and the document's name; gives the shared job's order.
PrintJobSpec LocalJobSpec(const LocalPrintSettings& settings, const std::string& document_name);

}  // namespace zv::printing
