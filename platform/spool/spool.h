// The print spooler: printers, their capabilities and device modes, print jobs and the
// printer's queue. One interface, two backends: folder printers under
// $ZELVORA_ROOT/printers/ (the embedded default, no daemon) and CUPS.
//
// A job is started (StartDoc gives the job id and the submission time at once, and the job
// is in the queue from then on), is handed its document as a PDF file of its sheets, and is
// ended (EndDoc submits it) or aborted. Every failure of start, write or end is reported.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/status.h"
#include "platform/spool/devmode.h"
#include "platform/wintypes/wintypes.h"

namespace zv::spool {

// Printer attribute bits (PRINTER_INFO_2 Attributes).
constexpr std::uint32_t PRINTER_ATTRIBUTE_QUEUED = 0x00000001;
constexpr std::uint32_t PRINTER_ATTRIBUTE_DIRECT = 0x00000002;
constexpr std::uint32_t PRINTER_ATTRIBUTE_DEFAULT = 0x00000004;
constexpr std::uint32_t PRINTER_ATTRIBUTE_SHARED = 0x00000008;
constexpr std::uint32_t PRINTER_ATTRIBUTE_NETWORK = 0x00000010;
constexpr std::uint32_t PRINTER_ATTRIBUTE_HIDDEN = 0x00000020;
constexpr std::uint32_t PRINTER_ATTRIBUTE_LOCAL = 0x00000040;
constexpr std::uint32_t PRINTER_ATTRIBUTE_WORK_OFFLINE = 0x00000400;

// Printer status bits (PRINTER_INFO_2 Status); 0 is ready.
constexpr std::uint32_t PRINTER_STATUS_PAUSED = 0x00000001;
constexpr std::uint32_t PRINTER_STATUS_ERROR = 0x00000002;
constexpr std::uint32_t PRINTER_STATUS_PENDING_DELETION = 0x00000004;
constexpr std::uint32_t PRINTER_STATUS_PAPER_JAM = 0x00000008;
constexpr std::uint32_t PRINTER_STATUS_PAPER_OUT = 0x00000010;
constexpr std::uint32_t PRINTER_STATUS_OFFLINE = 0x00000080;
constexpr std::uint32_t PRINTER_STATUS_BUSY = 0x00000200;
constexpr std::uint32_t PRINTER_STATUS_PRINTING = 0x00000400;
constexpr std::uint32_t PRINTER_STATUS_NOT_AVAILABLE = 0x00001000;

// Job status bits (JOB_INFO_1/2 Status); 0 is a job waiting in the queue.
constexpr std::uint32_t JOB_STATUS_PAUSED = 0x00000001;
constexpr std::uint32_t JOB_STATUS_ERROR = 0x00000002;
constexpr std::uint32_t JOB_STATUS_DELETING = 0x00000004;
constexpr std::uint32_t JOB_STATUS_SPOOLING = 0x00000008;
constexpr std::uint32_t JOB_STATUS_PRINTING = 0x00000010;
constexpr std::uint32_t JOB_STATUS_OFFLINE = 0x00000020;
constexpr std::uint32_t JOB_STATUS_PAPEROUT = 0x00000040;
constexpr std::uint32_t JOB_STATUS_PRINTED = 0x00000080;
constexpr std::uint32_t JOB_STATUS_DELETED = 0x00000100;
constexpr std::uint32_t JOB_STATUS_BLOCKED_DEVQ = 0x00000200;
constexpr std::uint32_t JOB_STATUS_COMPLETE = 0x00001000;

// What GetPrinter at level 2 tells of a printer.
struct PrinterInfo {
  std::string name;
  std::string port;    // port name, e.g. "IP_192.168.0.20" or a device URI
  std::string driver;  // driver (make and model) name
  std::string comment;
  std::string location;
  std::uint32_t attributes = PRINTER_ATTRIBUTE_LOCAL;  // PRINTER_ATTRIBUTE_*
  std::uint32_t status = 0;                            // PRINTER_STATUS_*
  std::uint32_t jobs = 0;                              // jobs in the queue
  bool is_default = false;
  bool accepting = true;  // takes new jobs (a disabled printer still may)
};

// A job's life as this layer sees it.
enum class JobState {
  kSpooling,  // started, document not yet handed over
  kQueued,    // waiting in the queue
  kPrinting,
  kPaused,
  kOffline,  // waits for an offline printer
  kError,
  kDeleting,
  kCompleted,  // printed; no longer in the queue
  kDeleted,    // cancelled, aborted or removed; no longer in the queue
};

// The status bits that Windows reports for a state.
std::uint32_t StatusBitsFor(JobState state);
// "spooling", "queued", ...; and back (none for an unknown word).
const char* JobStateName(JobState state);
std::optional<JobState> ParseJobState(const std::string& word);
// True for the states in which a job is still in the printer's queue.
bool InQueue(JobState state);

// What EnumJobs (level 1) and GetJob (level 2) tell of a job.
struct JobInfo {
  std::uint32_t id = 0;
  std::string printer;
  std::string machine;   // the submitting machine
  std::string owner;     // the submitting user
  std::string document;  // the job's document name
  std::string datatype = "application/pdf";
  JobState state = JobState::kQueued;
  std::uint32_t status = 0;       // JOB_STATUS_* bits
  std::uint32_t total_pages = 0;  // sheet sides of one copy; 0 when unknown (CUPS)
  std::uint32_t pages_printed = 0;
  std::uint64_t size = 0;       // bytes of the document
  win::SYSTEMTIME submitted{};  // UTC, as Windows gives it
  std::int64_t submitted_unix_ms = 0;
  JobOptions options;  // what the job was created with, as far as known
};

// The document name and the job options of StartDoc.
struct DocInfo {
  std::string document;  // job name in the queue
};

// One print job between StartDoc and EndDoc/AbortDoc. Destroying a job that was neither
// ended nor aborted aborts it.
class PrintJob {
 public:
  virtual ~PrintJob() = default;
  // The spooler's job id (never 0).
  virtual std::uint32_t id() const = 0;
  // The submission time, UTC.
  virtual const win::SYSTEMTIME& submitted() const = 0;
  // The options the job runs with (the device mode resolved against the printer).
  virtual const JobOptions& options() const = 0;
  // Takes the PDF file of the job's sheets and their number. The file must stay until End.
  // Fails on a missing or non-PDF file, a negative count or a job already ended.
  virtual Status WriteDocument(const std::filesystem::path& pdf, int pages) = 0;
  // Submits the job (EndDoc). A job without a document is removed from the queue and
  // this succeeds. Any failure to hand the document over is reported and the job removed.
  virtual Status End() = 0;
  // Removes the job (AbortDoc). Succeeds for a job already removed.
  virtual Status Abort() = 0;
};

// The spooler of one backend. Thread-safe.
class Spooler {
 public:
  virtual ~Spooler() = default;
  // "folder" or "cups".
  virtual std::string backend() const = 0;
  // All printers, by name order of the backend (EnumPrinters level 2).
  virtual Result<std::vector<PrinterInfo>> EnumPrinters() = 0;
  // The default printer's name; NotFound when none is set.
  virtual Result<std::string> DefaultPrinter() = 0;
  // One printer by exact name (OpenPrinter + GetPrinter level 2); NotFound when absent.
  virtual Result<PrinterInfo> GetPrinter(const std::string& name) = 0;
  // The printer's papers, resolutions, colour, duplex, copies (DeviceCapabilities).
  virtual Result<Capabilities> GetCapabilities(const std::string& name) = 0;
  // Starts a job on `printer` with the document name and the device mode (merged onto the
  // printer's default first). Gives the job with its id and submission time.
  virtual Result<std::unique_ptr<PrintJob>> StartDoc(const std::string& printer, const DocInfo& doc,
                                                     const DevMode& mode) = 0;
  // The jobs in the printer's queue, oldest first (EnumJobs level 1, all jobs).
  virtual Result<std::vector<JobInfo>> EnumJobs(const std::string& printer) = 0;
  // One job by id (GetJob level 2), also after it left the queue while the backend still
  // knows it (then in state completed or deleted); NotFound when unknown.
  virtual Result<JobInfo> GetJob(const std::string& printer, std::uint32_t id) = 0;
  // Removes a job from the queue (SetJob JOB_CONTROL_DELETE).
  virtual Status CancelJob(const std::string& printer, std::uint32_t id) = 0;

  // DocumentProperties with DM_OUT_BUFFER: the printer's default device mode.
  Result<DevMode> DefaultDevMode(const std::string& printer);
  // DocumentProperties with DM_IN_BUFFER | DM_OUT_BUFFER: the caller's fields merged onto
  // the default and checked against the printer's capabilities.
  Result<DevMode> MergeDevMode(const std::string& printer, const DevMode& in);
  // The DEVNAMES block of a printer: driver, printer name, port.
  Result<std::vector<std::uint8_t>> DevNames(const std::string& printer);
};

// The spooler that this machine's root is set up for: $ZELVORA_SPOOLER ("folder" or
// "cups") when set, else the first word of $ZELVORA_ROOT/printers/backend, else folder.
Result<std::unique_ptr<Spooler>> OpenSpooler();

// What to look for in a queue.
struct JobQuery {
  JobQuery() = default;
  JobQuery(std::string doc) : document(std::move(doc)) {}
  std::string document;              // compared without regard to ASCII case
  std::optional<std::string> owner;  // compared exactly when given
  // Submission time in local time as yyyymmdd and hhmmss, compared when given.
  std::optional<std::int32_t> local_date;
  std::optional<std::int32_t> local_time;
};
// Walks the printer's queue from the newest job to the oldest, skipping jobs being deleted,
// and gives the first that matches; none when no job matches. A printer that cannot be
// read counts as no match and gives its error.
Result<std::optional<JobInfo>> FindQueuedJob(Spooler& spooler, const std::string& printer, const JobQuery& query);

// SYSTEMTIME (UTC) of a Unix time in milliseconds.
win::SYSTEMTIME SystemTimeFromUnixMs(std::int64_t unix_ms);
// The local time, by this machine's time zone, of a UTC SYSTEMTIME (as
// SystemTimeToTzSpecificLocalTime does).
win::SYSTEMTIME ToLocalTime(const win::SYSTEMTIME& utc);
// ASCII case-insensitive equality of two texts (bytes above 0x7F compared exactly).
bool EqualsIgnoreAsciiCase(const std::string& a, const std::string& b);

}  // namespace zv::spool
