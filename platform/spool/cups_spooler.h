// The CUPS backend of the spooler, through libcups and IPP.
//
// Printers are the server's queues; papers come from the printer's media attributes, mapped
// to DMPAPER codes through the media table (a medium the table lacks gets a code of its own
// from 257 on, stable in the printer's media order). A job is created at StartDoc with the
// options of its device mode (media, orientation-requested, sides, copies,
// multiple-document-handling, print-color-mode, printer-resolution) and gets its PDF at End.
#pragma once

#include <string>

#include "platform/spool/spool.h"

namespace zv::spool {

class CupsSpooler : public Spooler {
 public:
  // `server` is a socket path or "host[:port]"; empty means libcups' own choice
  // (CUPS_SERVER, client.conf, the local scheduler).
  explicit CupsSpooler(std::string server = {});

  std::string backend() const override { return "cups"; }
  Result<std::vector<PrinterInfo>> EnumPrinters() override;
  Result<std::string> DefaultPrinter() override;
  Result<PrinterInfo> GetPrinter(const std::string& name) override;
  Result<Capabilities> GetCapabilities(const std::string& name) override;
  Result<std::unique_ptr<PrintJob>> StartDoc(const std::string& printer, const DocInfo& doc,
                                             const DevMode& mode) override;
  Result<std::vector<JobInfo>> EnumJobs(const std::string& printer) override;
  Result<JobInfo> GetJob(const std::string& printer, std::uint32_t id) override;
  Status CancelJob(const std::string& printer, std::uint32_t id) override;

  const std::string& server() const { return server_; }

 private:
  std::string server_;
};

// The options a CUPS job is created with for these job options, as name=value pairs in a
// fixed order. `media` is the printer's own name of the paper (empty: made from the size).
std::vector<std::pair<std::string, std::string>> CupsJobOptions(const JobOptions& options, const std::string& media,
                                                                bool printer_has_color);

}  // namespace zv::spool
