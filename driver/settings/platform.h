// The five platform operations the settings library needs, behind one interface: open and
// close a printer by name, read and write a named printer-data value, the ANSI code page and
// the computer name (and the user's country code for the metric test). MemoryPlatform keeps
// everything in memory for tests; CupsQueuePlatform (cups_platform.h) serves a CUPS queue.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zv::driver {

inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegBinary = 3;

struct PrinterValue {
  std::uint32_t type = kRegDword;
  std::vector<std::uint8_t> bytes;
};

using PrinterHandle = std::uintptr_t;  // 0: none

class PlatformOps {
 public:
  virtual ~PlatformOps() = default;
  // Takes a printer name; gives a handle, or 0 when it cannot be opened.
  virtual PrinterHandle OpenPrinter(std::string_view name) = 0;
  // Takes a handle from OpenPrinter; closes it.
  virtual void ClosePrinter(PrinterHandle handle) = 0;
  // Takes a handle and a value name; gives the value, or none.
  virtual std::optional<PrinterValue> GetPrinterData(PrinterHandle handle, std::string_view name) = 0;
  // Takes a handle, a value name and the value; gives whether it was stored.
  virtual bool SetPrinterData(PrinterHandle handle, std::string_view name, const PrinterValue& value) = 0;
  // Gives the ANSI code page.
  virtual std::uint32_t AnsiCodePage() = 0;
  // Gives the computer name (UTF-8), empty when unknown.
  virtual std::string ComputerName() = 0;
  // Gives the user's country code (LOCALE_ICOUNTRY) as text, or none.
  virtual std::optional<std::string> CountryCode() = 0;
};

// Takes a handle and a value name; gives the value as a REG_DWORD (4 bytes), or none.
std::optional<std::uint32_t> GetPrinterDword(PlatformOps& ops, PrinterHandle handle, std::string_view name);
// Takes a 32-bit number; gives it as a REG_DWORD value.
PrinterValue DwordValue(std::uint32_t value);

// Every operation in memory: printers by name with their values.
class MemoryPlatform : public PlatformOps {
 public:
  std::map<std::string, std::map<std::string, PrinterValue, std::less<>>, std::less<>> printers;
  std::uint32_t code_page = 932;
  std::string computer_name = "OFFICE-PC";
  std::optional<std::string> country = "81";
  int open_count = 0;  // printers open now

  PrinterHandle OpenPrinter(std::string_view name) override;
  void ClosePrinter(PrinterHandle handle) override;
  std::optional<PrinterValue> GetPrinterData(PrinterHandle handle, std::string_view name) override;
  bool SetPrinterData(PrinterHandle handle, std::string_view name, const PrinterValue& value) override;
  std::uint32_t AnsiCodePage() override { return code_page; }
  std::string ComputerName() override { return computer_name; }
  std::optional<std::string> CountryCode() override { return country; }
  // Takes a handle; gives the name of the printer it has open, empty when none.
  std::string PrinterName(PrinterHandle handle) const;

 private:
  std::vector<std::string> open_;  // handle - 1 -> printer name
};

}  // namespace zv::driver
