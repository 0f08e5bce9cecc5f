// The document and printer property sheets around the paper page: the sheet data for the
// printer, the permission, and what each sheet does with the outcome (the document sheet
// writes the edited device mode to the caller's output; the printer sheet saves the
// printer-data record). The page itself is shown by a function given in, so the flow runs
// the same with the Qt page and in tests.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

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

// Takes the host, the printer, the resources and the page; writes the printer data
// "Permission" = 1 (when it cannot, the page shows without permission); gives whether the
// page's result was not zero. On OK with permission the printer-data record is saved.
bool RunPrinterSheet(dromu::Host host, PrinterHandle printer, const gastrelo::Resources& res,
                     const ShowPage& show);

}  // namespace zv::driver::sheets
