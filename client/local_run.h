// A print run without a server: the request is written to the local spool folder and read
// back with the engine's request reader, the document is printed on the chosen printer
// through the shared local printing, and the answer is written beside it with the engine's
// answer writer and the client's result table. Also: what the frame does when a run ends,
// and the automatic-save numbering.
#pragma once

#include <string>

#include "client/client_doc.h"
#include "client/config.h"
#include "client/request_file.h"
#include "platform/base/status.h"
#include "platform/spool/spool.h"
#include "printing/print_job.h"
#include "printing/printer_dc.h"

namespace zv::client {

// Runs the job locally. `order`'s job file is the local copy's name. Gives the local answer
// file's path ("<spool>/<account>-<machine>.ans"); the print's own failure is in the answer
// (code 6 with its lines), not in the status. IOError when the request or the answer
// cannot be written or read back. `progress` (may be null) hears the start and end of the
// printing and each side's page label and bar position, on the calling thread.
Result<std::string> RunLocally(const ClientConfig& config, COstraneDoc& doc, RequestOrder order,
                               spool::Spooler& spooler, printing::SheetSurfaceFactory surfaces,
                               printing::PrintJobObserver* progress = nullptr);

// The duplicate-print check of a run without a server: takes the spooler, the chosen
// printer and the top job's name; true when a job of that document name is still in the
// printer's queue (jobs that have ended do not count). A queue that cannot be read holds
// no duplicate.
bool IsDuplicatePrint(spool::Spooler& spooler, const std::string& printer, const std::string& document);

// What the frame does when the answer of a run has been read.
struct RunEnd {
  bool remove_jobs = false;  // the jobs listed when the run started leave the list
  bool close = false;        // the program ends
};
// Takes the result code, whether jobs arrived during the run and whether the job list's
// modal step is on. Codes 0 and 8 remove the run's jobs; only a printed run (code 0) closes,
// and only when no newer jobs wait and no modal step runs; every failure keeps its message
// on screen and its jobs.
RunEnd DecideRunEnd(int code, bool newer_jobs, bool modal);

// Gives "<folder>/AutoSave%03d.prc" of the number, and the next number (wrapping to 0 at
// `slots`; slots below 1 count as 1).
std::string AutoSavePath(const std::string& folder, int number);
int NextAutoSaveNumber(int number, int slots);

}  // namespace zv::client
