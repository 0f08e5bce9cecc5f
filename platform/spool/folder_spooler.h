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
#include <memory>
#include <string>

#include "platform/spool/spool.h"

namespace zv::spool {
namespace internal {
class SpoolCache;
}

// A printer description as the folder backend keeps it.
struct FolderPrinter {
  PrinterInfo info;  // name, port, driver, comment, location, attributes, status, accepting
  Capabilities caps;
};

class FolderSpooler : public Spooler {
 public:
  // How the spooler learns that another process changed a printer's files it read before.
  enum class ChangeCheck {
    kWatch,  // inotify on the printers' folders: a read of an unchanged file costs nothing
             // (a folder on a network file system, or one past the watch limit, gets kStamp)
    kStamp,  // the file's stamp (inode, size, times) on every read
  };
  // `root` is the printers folder; empty means $ZELVORA_ROOT/printers.
  explicit FolderSpooler(std::filesystem::path root = {}, ChangeCheck check = ChangeCheck::kWatch);

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
  // A printer's folder with its description.
  struct Located {
    std::filesystem::path dir;
    FolderPrinter printer;
  };
  // Takes a printer's folder; gives its description (cached).
  Result<FolderPrinter> Description(const std::filesystem::path& dir);
  // Takes a printer's name; gives its folder and description.
  Result<Located> Locate(const std::string& name);
  Result<std::filesystem::path> FindPrinterDir(const std::string& name);
  // Gives the name in the "default" file, whether or not that printer exists.
  Result<std::string> DefaultName();
  // Takes a printer's folder; gives its jobs in the queue by id (records cached).
  std::vector<JobInfo> QueuedJobsIn(const std::filesystem::path& dir);
  // Takes the printer's folder; gives the next job id, passing over ids whose record or
  // document is already in that printer's jobs folder.
  Result<std::uint32_t> NextJobId(const std::filesystem::path& printer_dir);
  std::filesystem::path root_;
  // What was read of the printers' files, and how it is known to be still current; shared
  // with the jobs this spooler started, which may outlive it.
  std::shared_ptr<internal::SpoolCache> cache_;
};

// A typical office printer to start from: A4 (the default), A3, B4, B5, Letter and Legal
// with 4.2 mm margins, 300 and 600 dpi (600 the default), colour, duplex, collation and up to
// 999 copies, on a local port named "FILE:".
FolderPrinter StandardFolderPrinter(const std::string& name);

// The text of a description, and back. Parse errors name the line.
std::string FormatFolderPrinter(const FolderPrinter& printer);
Result<FolderPrinter> ParseFolderPrinter(const std::filesystem::path& file);

}  // namespace zv::spool
