// The spooler administration the installer works through: list the printers with their
// drivers, add a printer with its port and PPD, delete a printer. Two back-ends: folder
// printers (the embedded spooler's printers folder; the PPD is kept beside the description as
// "printer.ppd") and a CUPS server through IPP.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/status.h"

namespace zv::driver::yorvane {

// A printer as the administration lists it.
struct AdminPrinter {
  std::string name;
  std::string driver;  // the driver's name (CUPS: printer-make-and-model)
  std::string port;    // the port (CUPS: device-uri)
};

// A printer to add.
struct NewPrinter {
  std::string name;
  std::string info;    // description shown to users
  std::string port;    // the port (CUPS: device-uri)
  std::string driver;  // the driver's name; CUPS takes it from the PPD's NickName
  std::string ppd;     // the PPD text
};

class SpoolerAdmin {
 public:
  virtual ~SpoolerAdmin() = default;
  // Gives every printer, or an error when the list cannot be read.
  virtual Result<std::vector<AdminPrinter>> EnumPrinters() = 0;
  // Takes a printer; adds it. An error when the spooler refuses.
  virtual Status AddPrinter(const NewPrinter& printer) = 0;
  // Takes a printer's name; deletes it. An error when it is missing or the spooler refuses.
  virtual Status DeletePrinter(const std::string& name) = 0;
};

// Takes the printers folder (empty: $ZELVORA_ROOT/printers); gives the folder-printer back-end.
std::unique_ptr<SpoolerAdmin> FolderAdmin(std::filesystem::path root = {});
// Gives the back-end of the CUPS server this process talks to (CUPS_SERVER, else the
// system's).
std::unique_ptr<SpoolerAdmin> CupsAdmin();

}  // namespace zv::driver::yorvane
