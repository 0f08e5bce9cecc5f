// The entry points' spooler queries over a CUPS server (CUPS_SERVER, else the system's): a
// printer's level-2 information from its attributes (driver: printer-make-and-model), and the
// stand-in for the print processor: it counts as installed when the zelvora backend is in the
// server's backend folder, and a printer "uses" it when its queue passes PDF through to that
// backend (device zelvora:/), which giving the printer to it arranges.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "driver/dromu/dromu.h"

namespace zv::driver::dromu {

inline constexpr std::string_view kPassThroughDevice = "zelvora:/";

class CupsQueries : public PrinterQueries {
 public:
  // Takes the resolver from the platform's printer handles to queue names and the server's
  // program folder (holding "backend").
  CupsQueries(std::function<std::string(PrinterHandle)> name_of, std::filesystem::path serverbin);
  std::optional<PrinterLevel2> GetPrinter(PrinterHandle printer) override;
  bool SetPrintProcessor(PrinterHandle printer, std::string_view processor) override;
  std::optional<std::vector<std::string>> EnumPrintProcessors() override;
  bool AddPrintProcessor(std::string_view name, std::string_view file) override;
  int FormCount(PrinterHandle printer) override;
  std::string TempPath() override;

 private:
  std::function<std::string(PrinterHandle)> name_of_;
  std::filesystem::path serverbin_;
};

}  // namespace zv::driver::dromu
