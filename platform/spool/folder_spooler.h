// Folder printers: the embedded spooler that needs no daemon.
//
// Each printer is a folder under $ZELVORA_ROOT/printers/ holding "printer.ini", a small
// key=value description:
//   name=Office A4            (the printer's name; the folder name does not matter)
//   port=IP_192.168.0.20      driver=...  comment=...  location=...
//   attributes=0x40           status=0 (PRINTER_STATUS_* bits; 1 = paused/disabled)
//   accepting=1               (0: new jobs are refused)
//   color=1  duplex=1  collate=1  copies=999
//   resolutions=300x300,600x600   default_resolution=600x600
//   default_paper=9  default_orientation=1  default_color=1  default_duplex=1
//   devmode_version=0x401  driver_version=0  driver_extra=<hex bytes of the private part>
//   paper=CODE[,WIDTH,LENGTH[,LEFT,TOP,RIGHT,BOTTOM[,NAME]]]   (one line per paper; sizes and
//        margins in 0.1 mm; a known DMPAPER code takes its size and name from the media table)
// "default" in the printers folder names the default printer. Jobs live in the printer's
// "jobs" folder: "<id>.job" (the job record, key=value) and "<id>.pdf" (its sheets).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

#include "platform/spool/spool.h"

namespace zv::spool {

// A printer description as the folder backend keeps it.
struct FolderPrinter {
  PrinterInfo info;  // name, port, driver, comment, location, attributes, status, accepting
  Capabilities caps;
};

class FolderSpooler : public Spooler {
 public:
  // `root` is the printers folder; empty means $ZELVORA_ROOT/printers.
  explicit FolderSpooler(std::filesystem::path root = {});

  std::string backend() const override { return "folder"; }
  Result<std::vector<PrinterInfo>> EnumPrinters() override;
  Result<std::string> DefaultPrinter() override;
  Result<PrinterInfo> GetPrinter(const std::string& name) override;
  Result<Capabilities> GetCapabilities(const std::string& name) override;
  Result<std::unique_ptr<PrintJob>> StartDoc(const std::string& printer, const DocInfo& doc,
                                             const DevMode& mode) override;
  Result<std::vector<JobInfo>> EnumJobs(const std::string& printer) override;
  Result<JobInfo> GetJob(const std::string& printer, std::uint32_t id) override;
  Status CancelJob(const std::string& printer, std::uint32_t id) override;

  // Writes (or replaces) a printer's description; the folder is made from the name.
  Status AddPrinter(const FolderPrinter& printer);
  // Reads one printer's whole description.
  Result<FolderPrinter> ReadPrinter(const std::string& name);
  // Takes a printer's name; gives its folder (where other files of the printer may be kept).
  Result<std::filesystem::path> PrinterFolder(const std::string& name) { return FindPrinterDir(name); }
  // Removes a printer with its jobs.
  Status RemovePrinter(const std::string& name);
  // Names the default printer (which must exist).
  Status SetDefaultPrinter(const std::string& name);
  // Sets a printer's PRINTER_STATUS_* bits (PRINTER_STATUS_PAUSED disables it).
  Status SetPrinterStatus(const std::string& name, std::uint32_t status);
  // Drives a job to a state, as the device would (printing, completed, error, ...).
  Status SetJobState(const std::string& printer, std::uint32_t id, JobState state);
  // The job's PDF in the printer's folder (present once the job was ended).
  Result<std::filesystem::path> JobDocumentPath(const std::string& printer, std::uint32_t id);

  const std::filesystem::path& root() const { return root_; }

 private:
  friend class FolderJob;
  // What a file was like when it was read: a rewrite through a rename gives it a new inode, an
  // edit in place a new size or time.
  struct FileStamp {
    std::uint64_t dev = 0, ino = 0, size = 0;
    std::int64_t mtime_ns = 0, ctime_ns = 0;
    bool operator==(const FileStamp&) const = default;
  };
  template <typename T>
  struct Stamped {
    FileStamp stamp;
    T value;
  };
  // A printer's folder with its description.
  struct Located {
    std::filesystem::path dir;
    FolderPrinter printer;
  };
  // Takes a file, a cache and the file's reader; gives the file's value, read again only when
  // the file's stamp differs from the cached one. Other processes change these files, so the
  // stamp is checked on every call.
  template <typename T, typename Read>
  Result<T> ReadStamped(std::map<std::string, Stamped<T>>& cache, const std::filesystem::path& file, Read&& read);
  // Takes a printer's folder; gives its description (cached by stamp).
  Result<FolderPrinter> Description(const std::filesystem::path& dir);
  // Takes a printer's name; gives its folder and description.
  Result<Located> Locate(const std::string& name);
  Result<std::filesystem::path> FindPrinterDir(const std::string& name);
  // Gives the name in the "default" file, whether or not that printer exists.
  Result<std::string> DefaultName();
  // Takes a printer's folder; gives its jobs in the queue by id (records cached by stamp).
  std::vector<JobInfo> QueuedJobsIn(const std::filesystem::path& dir);
  // Takes the printer's folder; gives the next job id, passing over ids whose record or
  // document is already in that printer's jobs folder.
  Result<std::uint32_t> NextJobId(const std::filesystem::path& printer_dir);
  std::filesystem::path root_;
  std::mutex cache_mutex_;  // guards the three caches below
  std::map<std::string, Stamped<FolderPrinter>> descriptions_;
  std::map<std::string, Stamped<JobInfo>> job_records_;
  std::map<std::string, Stamped<std::string>> default_names_;
};

// A typical office printer to start from: A4 (the default), A3, B4, B5, Letter and Legal
// with 4.2 mm margins, 300 and 600 dpi (600 the default), colour, duplex, collation and up to
// 999 copies, on a local port named "FILE:".
FolderPrinter StandardFolderPrinter(const std::string& name);

// The text of a description, and back. Parse errors name the line.
std::string FormatFolderPrinter(const FolderPrinter& printer);
Result<FolderPrinter> ParseFolderPrinter(const std::filesystem::path& file);

}  // namespace zv::spool
