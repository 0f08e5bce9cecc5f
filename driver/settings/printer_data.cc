#include "driver/settings/printer_data.h"

#include <cstring>

#include "driver/settings/devmode.h"

namespace zv::driver {

std::optional<std::vector<std::uint8_t>> ReadPrinterDataBlob(PlatformOps& ops, PrinterHandle printer) {
  auto size = GetPrinterDword(ops, printer, "PrinterDataSize");
  if (!size || *size == 0) return std::nullopt;
  auto data = ops.GetPrinterData(printer, "PrinterData");
  if (!data || data->bytes.size() != *size) return std::nullopt;
  return std::move(data->bytes);
}

bool WritePrinterDataBlob(PlatformOps& ops, PrinterHandle printer, std::span<const std::uint8_t> bytes) {
  if (!ops.SetPrinterData(printer, "PrinterDataSize", DwordValue(static_cast<std::uint32_t>(bytes.size()))))
    return false;
  return ops.SetPrinterData(printer, "PrinterData", PrinterValue{kRegBinary, {bytes.begin(), bytes.end()}});
}

PrinterDataRecord BuildDefaultPrinterDataRecord(PlatformOps& ops, PrinterHandle printer, bool metric) {
  PrinterDataRecord r;
  std::memset(&r, 0, sizeof r);
  r.version = 0x0101;
  r.size = sizeof r;
  if (auto kb = GetPrinterDword(ops, printer, "FreeMem"))
    r.free_memory = static_cast<std::uint32_t>(std::max<std::uint64_t>(std::uint64_t{*kb} * 1024, 102400));
  if (auto ht = GetPrinterDword(ops, printer, "PrinterHT"); ht && *ht != 0) r.flags |= kPdHalftone;
  if (metric && IsMetricCountry(ops)) r.flags |= kPdMetric;
  const std::uint32_t cp = ops.AnsiCodePage();
  if (cp != 1252 && !IsCjkCodePage(cp)) r.flags |= kPdOtherCodePage;
  return r;
}

PrinterDataRecord GetPrinterDataRecord(PlatformOps& ops, PrinterHandle printer) {
  if (auto blob = ReadPrinterDataBlob(ops, printer); blob && blob->size() == sizeof(PrinterDataRecord)) {
    PrinterDataRecord r;
    std::memcpy(&r, blob->data(), sizeof r);
    if (r.size == sizeof r) return r;
  }
  return BuildDefaultPrinterDataRecord(ops, printer);
}

bool SavePrinterDataRecord(PlatformOps& ops, PrinterHandle printer, const PrinterDataRecord& record) {
  if (!ops.SetPrinterData(printer, "FreeMem", DwordValue(record.free_memory >> 10))) return false;
  PrinterValue ht = DwordValue((record.flags & kPdHalftone) ? 1 : 0);
  ht.type = kRegBinary;
  if (!ops.SetPrinterData(printer, "PrinterHT", ht)) return false;
  return WritePrinterDataBlob(ops, printer, {reinterpret_cast<const std::uint8_t*>(&record), sizeof record});
}

}  // namespace zv::driver
