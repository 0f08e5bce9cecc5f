// The PPD files of the virtual printer's two CUPS queues, generated from the paper and
// resolution tables: "Zelvora" passes the PDF through to the zelvora backend, "Zelvora-Raster"
// runs it through the raster driver's filter to the olviport backend. Page sizes, imageable
// areas (the default 5 mm margins), the seven resolutions 75 to 600 dpi and the four margin
// options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zv::driver {

enum class PpdQueue { kPassThrough, kRaster };

// Takes the queue kind; gives the PPD text.
std::string GeneratePpd(PpdQueue queue);

// The margin options of the PPD, their names and the printer-data values they stand for.
struct MarginOption {
  const char* keyword;    // PPD main keyword, e.g. "ZelvoraLeftMargin"
  const char* data_name;  // printer-data value, e.g. "DefaultLeftMargin"
};
std::vector<MarginOption> MarginOptions();

// Takes a margin choice ("0mm" to "30mm"); gives it in 0.1 mm, or none.
std::optional<std::uint16_t> ParseMarginChoice(std::string_view choice);
// Takes a resolution choice ("600dpi" or "600x600dpi"); gives the dots per inch, or none.
std::optional<int> ParseResolutionChoice(std::string_view choice);
// Takes a PPD's text and a main keyword; gives the value of its "*Default<keyword>:" line.
std::optional<std::string> PpdDefault(std::string_view ppd, std::string_view keyword);

}  // namespace zv::driver
