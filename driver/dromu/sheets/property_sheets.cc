#include "driver/dromu/sheets/property_sheets.h"

#include <cstring>

#include "platform/lasterror/last_error.h"

namespace zv::driver::sheets {
namespace {

constexpr std::size_t kFieldsOffset = 72, kFormNameOffset = 102, kFormNameBytes = 64;

void ClearFormName(std::span<std::uint8_t> mode) {
  if (mode.size() < kFormNameOffset + kFormNameBytes) return;
  std::uint32_t fields;
  std::memcpy(&fields, mode.data() + kFieldsOffset, 4);
  fields &= ~win::DM_FORMNAME;
  std::memcpy(mode.data() + kFieldsOffset, &fields, 4);
  std::memset(mode.data() + kFormNameOffset, 0, kFormNameBytes);
}

}  // namespace

std::vector<std::string> PaperNames(const gastrelo::Resources& res) {
  std::vector<std::string> names;
  for (const auto& p : Papers()) {
    auto s = res.String(p.name_id);
    if (!s) return {};
    names.push_back(*s);
  }
  return names;
}

long RunDocumentSheet(dromu::Host host, PrinterHandle printer, std::span<std::uint8_t> output,
                      std::span<const std::uint8_t> input, std::uint32_t flags, const gastrelo::Resources& res,
                      const ShowPage& show) {
  auto data = dromu::BuildSheetData(host, printer, input);
  auto names = PaperNames(res);
  if (!data || names.empty()) return -1;
  PaperPageModel model(data->mode, host.ops, data->printer_name, std::move(names), !(flags & dromu::kDmNoPermission));
  const long result = show(model);
  if (result == 1 && (flags & (dromu::kDmUpdate | dromu::kDmCopy)) && !output.empty()) {
    ClearFormName(MutableBytes(data->mode));
    if (CopyOrConvertDevmode(Bytes(data->mode), input, output) != 1) {
      ZvSetLastError(dromu::kErrorInsufficientBuffer);
      return -1;
    }
    ClearFormName(output);
  }
  return result;
}

long RunDeviceSheet(dromu::Host host, PrinterHandle printer, bool permission, const gastrelo::Resources& res,
                    const ShowPage& show) {
  auto data = dromu::BuildSheetData(host, printer, {});
  auto names = PaperNames(res);
  if (!data || names.empty()) return -1;
  PaperPageModel model(data->mode, host.ops, data->printer_name, std::move(names), permission);
  const long result = show(model);
  if (result == 1 && permission) SavePrinterDataRecord(host.ops, printer, data->record);
  return result;
}

bool RunPrinterSheet(dromu::Host host, PrinterHandle printer, const gastrelo::Resources& res, const ShowPage& show) {
  const bool permission = host.ops.SetPrinterData(printer, "Permission", DwordValue(1));
  return RunDeviceSheet(host, printer, permission, res, show) > 0;
}

long DrvDocumentPropertySheets(dromu::Host host, const SheetInfo* sheet, const DocumentPropertyHeader& h) {
  if (sheet) return RunDocumentSheet(host, h.printer, h.output, h.input, h.flags, sheet->res, sheet->show);
  const std::uint32_t flags = h.flags & ~dromu::kDmPrompt;
  const long r = dromu::DrvDocumentProperties(host, h.printer, h.device_name, h.output, h.input, flags);
  // Only an output that was written loses its form name; a size query leaves the buffer alone.
  if (r == 1 && (flags & (dromu::kDmUpdate | dromu::kDmCopy))) ClearFormName(h.output);
  return r;
}

long DrvDevicePropertySheets(dromu::Host host, const SheetInfo* sheet, const DevicePropertyHeader& h) {
  if (!sheet) return -1;
  return RunDeviceSheet(host, h.printer, !(h.flags & kDeviceNoPermission), sheet->res, sheet->show);
}

bool PrinterProperties(dromu::Host host, PrinterHandle printer, const SheetInfo& sheet) {
  return RunPrinterSheet(host, printer, sheet.res, sheet.show);
}

}  // namespace zv::driver::sheets
