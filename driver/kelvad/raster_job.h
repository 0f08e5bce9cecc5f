// The raster queue's filter as a library: the queue's printer data from its PPD defaults, the
// device mode a CUPS job asks for, and the run that renders each PDF page with the capture
// road's poppler rasteriser at the job's resolution into the driver's bands and writes the
// page raster stream.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "driver/kelvad/stream.h"
#include "driver/settings/devmode.h"
#include "platform/base/status.h"

namespace zv::driver {

// The platform operations of a CUPS queue: its printer data are the PPD's defaults
// ("DefaultResolution" from *DefaultResolution, the default margins from the margin
// options); nothing is written back. Code page 932, the host's name as computer name.
class PpdQueuePlatform : public PlatformOps {
 public:
  // Takes the queue's name and its PPD text (empty: the tables' defaults).
  PpdQueuePlatform(std::string printer, std::string ppd);
  PrinterHandle OpenPrinter(std::string_view name) override;
  void ClosePrinter(PrinterHandle) override {}
  std::optional<PrinterValue> GetPrinterData(PrinterHandle handle, std::string_view name) override;
  bool SetPrinterData(PrinterHandle, std::string_view, const PrinterValue&) override { return false; }
  std::uint32_t AnsiCodePage() override { return 932; }
  std::string ComputerName() override;
  std::optional<std::string> CountryCode() override { return std::nullopt; }

 private:
  std::string printer_, ppd_;
};

// Takes the platform, the queue and the job's CUPS option text; gives the device mode the
// job asks for: the queue's default with the paper (PageSize or media), orientation
// (orientation-requested 4 or 5, landscape), Resolution and the margin options taken.
PRIVDEVMODE JobDevmode(PlatformOps& ops, std::string_view printer, std::string_view options);

// Takes a PDF file, the platform, the queue, the job's device mode and the port write;
// renders every page and writes the stream. `pages` gets the pages written. IOError when a
// write fails (nothing more is written), InvalidArgument for a PDF that cannot be read.
Status WriteRasterJob(const std::string& pdf_path, PlatformOps& ops, std::string_view printer,
                      const PRIVDEVMODE& job_mode, const WriteFn& write, int* pages = nullptr);

}  // namespace zv::driver
