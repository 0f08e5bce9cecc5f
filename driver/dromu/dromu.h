// Dromu, the virtual printer's printer interface: the entry points the spooler and the
// applications call without a user interface (document properties, device-mode conversion,
// device capabilities, printer events, the upgrade and print-query hooks). All device-mode
// work is the settings library's; what the entry points need of the spooler comes through
// the PrinterQueries interface, so the same code runs over a CUPS server and in tests.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "driver/settings/devmode.h"
#include "driver/settings/platform.h"
#include "driver/settings/printer_data.h"

namespace zv::driver::dromu {

// The conversion version table: current driver 0x0101 with a 344-byte private part, the old
// (3.51) format 0x0350 with 112 bytes.
inline constexpr DevmodeVersions kVersionTable{0x0101, 344, 0x0350, 112};
// The print processor the virtual printer's queue runs its jobs through, and its file.
inline constexpr std::string_view kPrintProcessor = "Wexlan Printer PrintProcessor";
inline constexpr std::string_view kPrintProcessorFile = "Pallorin.DLL";
// The thread's last error when an output buffer is too small.
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;

// What GetPrinter at level 2 tells the entry points of a printer.
struct PrinterLevel2 {
  std::string printer_name;
  std::string driver_name;
  std::string print_processor;
  std::vector<std::uint8_t> devmode;  // the printer's own device mode (empty: none)
};

// What the entry points ask the spooler beyond the settings library's platform operations.
class PrinterQueries {
 public:
  virtual ~PrinterQueries() = default;
  // Takes an open printer; gives its level-2 information, or none.
  virtual std::optional<PrinterLevel2> GetPrinter(PrinterHandle printer) = 0;
  // Takes an open printer and a print processor name; gives whether the printer now uses it.
  virtual bool SetPrintProcessor(PrinterHandle printer, std::string_view processor) = 0;
  // Gives the installed print processors' names, or none when they cannot be read.
  virtual std::optional<std::vector<std::string>> EnumPrintProcessors() = 0;
  // Takes a print processor's name and file; gives whether it was added.
  virtual bool AddPrintProcessor(std::string_view name, std::string_view file) = 0;
  // Takes an open printer; gives the number of its forms, or -1 when they cannot be read.
  virtual int FormCount(PrinterHandle printer) = 0;
  // Gives the user's temporary folder, empty when unknown.
  virtual std::string TempPath() = 0;
};

// Everything in memory, over a MemoryPlatform's printers (for tests and the offscreen views).
class MemoryQueries : public PrinterQueries {
 public:
  explicit MemoryQueries(MemoryPlatform& platform) : platform_(platform) {}
  struct Printer {
    std::string driver_name = "Wexlan Printer";
    std::string print_processor = "WinPrint";
    std::vector<std::uint8_t> devmode;
    int forms = 12;
  };
  std::map<std::string, Printer, std::less<>> printers;  // by printer name
  std::optional<std::vector<std::string>> processors = std::vector<std::string>{"WinPrint"};
  int processor_adds = 0;
  std::string temp_path = "/tmp";

  std::optional<PrinterLevel2> GetPrinter(PrinterHandle printer) override;
  bool SetPrintProcessor(PrinterHandle printer, std::string_view processor) override;
  std::optional<std::vector<std::string>> EnumPrintProcessors() override;
  bool AddPrintProcessor(std::string_view name, std::string_view file) override;
  int FormCount(PrinterHandle printer) override;
  std::string TempPath() override { return temp_path; }

 private:
  Printer* Find(PrinterHandle printer);
  MemoryPlatform& platform_;
};

// The two services the entry points run over.
struct Host {
  PlatformOps& ops;
  PrinterQueries& queries;
};

// The data behind one document or printer property sheet: the printer's driver name (the
// name the settings library reads the defaults under), the work device mode and the
// printer-data record.
struct SheetData {
  PrinterHandle printer = 0;
  bool permission = true;
  std::string printer_name;
  PRIVDEVMODE mode{};
  PrinterDataRecord record{};
};

// Takes the host, an open printer and the caller's device mode (empty: none); gives the sheet
// data: the default for the driver name merged with the printer's own device mode and the
// caller's, its form name set, the printer-data record (version 0x0101, size 108); writes the
// printer data "TEMP_PATH". None when the printer or a device mode cannot be read.
std::optional<SheetData> BuildSheetData(Host host, PrinterHandle printer, std::span<const std::uint8_t> input);

// Document-property mode flags.
inline constexpr std::uint32_t kDmUpdate = 1, kDmCopy = 2, kDmPrompt = 4, kDmModify = 8, kDmAdvanced = 0x10,
                               kDmNoPermission = 0x20;

// Runs a property sheet for a document-property request; gives the sheet's result (1 OK, 0
// cancel, negative failure). Empty: no user interface is available.
using SheetRunner = std::function<long(Host host, PrinterHandle printer, std::span<std::uint8_t> output,
                                       std::span<const std::uint8_t> input, std::uint32_t flags)>;

// Takes the host, an open printer, the device name, the output and input device modes (empty:
// none), the mode flags and the sheet runner for prompts; gives 564 when the flags are 0 or
// there is no output, else 1 (OK) for success, 2 (cancel) for a sheet that gave 0, a negative
// result unchanged; -1 when the sheet data cannot be built or the output is too small (last
// error 122).
long DrvDocumentProperties(Host host, PrinterHandle printer, std::string_view device_name,
                           std::span<std::uint8_t> output, std::span<const std::uint8_t> input, std::uint32_t flags,
                           const SheetRunner& sheet = {});
// Takes the same without flags (prompt, copy and advanced are implied); gives 564 without an
// output, else 1 or 0.
long DrvAdvancedDocumentProperties(Host host, PrinterHandle printer, std::string_view device_name,
                                   std::span<std::uint8_t> output, std::span<const std::uint8_t> input,
                                   const SheetRunner& sheet = {});

// Takes the host, the printer name, the input device mode, the output buffer, the in-out size
// and the conversion mode (1 to current, 2 to 3.51, 4 driver default); gives whether the
// conversion was done. A buffer too small gives false with last error 122 and the size needed.
bool DrvConvertDevMode(Host host, std::string_view printer_name, std::span<const std::uint8_t> input,
                       std::span<std::uint8_t> output, std::uint32_t* size, int mode);

// Device capabilities (the platform's DC_ numbers).
enum : std::uint16_t {
  kDcFields = 1,
  kDcPapers = 2,
  kDcPaperSize = 3,
  kDcMinExtent = 4,
  kDcMaxExtent = 5,
  kDcBins = 6,
  kDcDuplex = 7,
  kDcSize = 8,
  kDcExtra = 9,
  kDcVersion = 10,
  kDcDriver = 11,
  kDcBinNames = 12,
  kDcEnumResolutions = 13,
  kDcFileDependencies = 14,
  kDcTrueType = 15,
  kDcPaperNames = 16,
  kDcOrientation = 17,
  kDcCopies = 18,
};
// The bytes a capability's output takes (0: it writes nothing).
std::size_t CapabilityOutputSize(std::uint16_t capability);
// Takes the host, an open printer, the device name, the capability, the output (empty: none)
// and the caller's device mode (empty: none); gives the capability's value, or -1 for an
// unknown capability, a device mode that cannot be merged, unreadable forms, or an output
// smaller than CapabilityOutputSize (last error 122, nothing written).
long DrvDeviceCapabilities(Host host, PrinterHandle printer, std::string_view device_name, std::uint16_t capability,
                           std::span<std::uint8_t> output, std::span<const std::uint8_t> devmode);

// Printer events.
enum : int {
  kEventAddConnection = 1,
  kEventDeleteConnection = 2,
  kEventInitialize = 3,
  kEventDelete = 4,
  kEventCacheRefresh = 5
};
// Takes the host, the printer name, the event and its flags; initialise and cache refresh
// register the print processor and give the printer to it; gives true (false only when the
// spooler's own services cannot be reached).
bool DrvPrinterEvent(Host host, std::string_view printer_name, int event, std::uint32_t flags);
// Takes the host and a printer name (empty: none); makes sure the print processor is
// installed and, for a printer, that the printer uses it. Gives up silently at the first
// failing step.
void RegisterPrintProcessor(Host host, std::string_view printer_name);
// Takes the host, the level and the printer named in the upgrade information (none: no
// information); gives false (last error 87 for a level other than 1 or no information).
bool DrvUpgradePrinter(Host host, std::uint32_t level, std::optional<std::string_view> printer_name);
// Takes nothing; gives true: every job may print.
inline bool DevQueryPrintEx() { return true; }

}  // namespace zv::driver::dromu
