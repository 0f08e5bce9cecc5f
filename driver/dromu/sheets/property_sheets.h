// The document and printer property sheets around the paper page: the sheet data for the
// printer, the permission, and what each sheet does with the outcome (the document sheet
// writes the edited device mode to the caller's output; the printer sheet saves the
// printer-data record). The page itself is shown by a function given in, so the flow runs
// the same with the Qt page and in tests.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "driver/dromu/dromu.h"
#include "driver/dromu/sheets/paper_page_model.h"
#include "driver/gastrelo/gastrelo.h"

namespace zv::driver::sheets {

// Shows the page over the model; gives 1 for OK, 0 for cancel.
using ShowPage = std::function<long(PaperPageModel& model)>;

// Takes the resources; gives the twelve paper names by the rows' name ids (empty when one is
// missing).
std::vector<std::string> PaperNames(const gastrelo::Resources& res);

// Takes the host, the printer, the output and input device modes, the mode flags (0x20: no
// permission), the resources and the page; gives the page's result (1 OK, 0 cancel), or -1
// when the sheet data or names cannot be had or the output is too small (last error 122).
// On OK with the update or copy flag the work mode, without its form name, goes to the output.
long RunDocumentSheet(dromu::Host host, PrinterHandle printer, std::span<std::uint8_t> output,
                      std::span<const std::uint8_t> input, std::uint32_t flags, const gastrelo::Resources& res,
                      const ShowPage& show);

// Takes the host, the printer, whether the user may change settings, the resources and the
// page; gives the page's result (1 OK, 0 cancel), or -1 when the sheet data or names cannot be
// had. On OK with permission the printer-data record is saved (the device mode is not).
long RunDeviceSheet(dromu::Host host, PrinterHandle printer, bool permission, const gastrelo::Resources& res,
                    const ShowPage& show);

// Takes the host, the printer, the resources and the page; writes the printer data
// "Permission" = 1 (when it cannot, the page shows without permission); gives whether the
// page's result was not zero. On OK with permission the printer-data record is saved.
bool RunPrinterSheet(dromu::Host host, PrinterHandle printer, const gastrelo::Resources& res, const ShowPage& show);

// ---- The sheet entry points under their platform names ----

// What a sheet is shown with: the resources and the page (for example QtShowPage).
struct SheetInfo {
  const gastrelo::Resources& res;
  ShowPage show;
};

// A document-property request: the printer, its device name, the output and input device
// modes (empty: none) and the mode flags (kDm...).
struct DocumentPropertyHeader {
  PrinterHandle printer = 0;
  std::string device_name;
  std::span<std::uint8_t> output;
  std::span<const std::uint8_t> input;
  std::uint32_t flags = 0;
};

// A printer-property request: the printer and its flags (kDeviceNoPermission).
inline constexpr std::uint32_t kDeviceNoPermission = 1;
struct DevicePropertyHeader {
  PrinterHandle printer = 0;
  std::uint32_t flags = 0;
};

// Takes the host, the sheet (null: no user interface) and the request. With a sheet, runs the
// document sheet (RunDocumentSheet) and gives its result. Without one, runs the request
// without prompting (564 for flags 0 or no output, 1 done, -1 failure) and, when it wrote the
// output, clears the output's form name and its field bit.
long DrvDocumentPropertySheets(dromu::Host host, const SheetInfo* sheet, const DocumentPropertyHeader& header);
// Takes the host, the sheet and the request; runs the printer sheet with the permission the
// header's flags give (RunDeviceSheet). Gives 1 OK, 0 cancel, -1 without a sheet or when the
// sheet data cannot be had.
long DrvDevicePropertySheets(dromu::Host host, const SheetInfo* sheet, const DevicePropertyHeader& header);
// Takes the host, the printer and the sheet; runs the printer sheet as RunPrinterSheet does
// (permission from writing "Permission" = 1). Gives whether its result was not zero.
bool PrinterProperties(dromu::Host host, PrinterHandle printer, const SheetInfo& sheet);

}  // namespace zv::driver::sheets
