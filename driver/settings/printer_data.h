// The driver's printer-data record (108 bytes, stored as "PrinterDataSize"/"PrinterData")
// and its companions "FreeMem" and "PrinterHT".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "driver/settings/platform.h"

namespace zv::driver {

struct PrinterDataRecord {
  std::uint16_t version;
  std::uint16_t size;
  std::uint32_t flags;        // 0x1 metric country, 0x2 halftoning on, 0x4 not 1252 nor CJK
  std::uint32_t free_memory;  // bytes
  std::uint8_t reserved[96];
};
static_assert(sizeof(PrinterDataRecord) == 108);
static_assert(offsetof(PrinterDataRecord, free_memory) == 8);

inline constexpr std::uint32_t kPdMetric = 0x1, kPdHalftone = 0x2, kPdOtherCodePage = 0x4;

// Takes a printer; gives the bytes of "PrinterData" when "PrinterDataSize" is above 0 and the
// value holds that many bytes, else none.
std::optional<std::vector<std::uint8_t>> ReadPrinterDataBlob(PlatformOps& ops, PrinterHandle printer);
// Takes a printer and bytes; writes "PrinterDataSize" then "PrinterData"; gives whether both
// were written.
bool WritePrinterDataBlob(PlatformOps& ops, PrinterHandle printer, std::span<const std::uint8_t> bytes);
// Takes a printer; gives the record built from its values. `metric` false leaves flag 0x1
// clear (the kernel build's rule).
PrinterDataRecord BuildDefaultPrinterDataRecord(PlatformOps& ops, PrinterHandle printer, bool metric = true);
// Takes a printer; gives the stored record when it is exactly 108 bytes with size 108, else
// the built default.
PrinterDataRecord GetPrinterDataRecord(PlatformOps& ops, PrinterHandle printer);
// Takes a printer and a record; writes "FreeMem", "PrinterHT" and the record; gives whether
// all were written.
bool SavePrinterDataRecord(PlatformOps& ops, PrinterHandle printer, const PrinterDataRecord& record);

}  // namespace zv::driver
