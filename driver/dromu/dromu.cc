#include "driver/dromu/dromu.h"

#include <strings.h>
#include <algorithm>
#include <cstring>

#include "platform/codepage/codepage.h"
#include "platform/lasterror/last_error.h"

namespace zv::driver::dromu {
namespace {

constexpr std::size_t kModeSize = sizeof(PRIVDEVMODE);
constexpr int kPaperSlots = 12;
constexpr std::size_t kNameSlot = 64;  // UTF-16 units per paper name

void Put32(std::span<std::uint8_t> out, std::size_t offset, std::int32_t v) { std::memcpy(out.data() + offset, &v, 4); }

// Takes nothing; gives the rows of the paper table at 200 dpi, in table order.
std::vector<PaperRow> RowsAt200() {
  std::vector<PaperRow> rows;
  for (int i = 0; i < kPaperRowCount; ++i) {
    PaperRow r = StaticPaperRow(i);
    if (r.dpi == 200) rows.push_back(r);
  }
  return rows;
}

// Takes the host, the device name and a caller's device mode; gives the work device mode
// (the default merged with the caller's), or none when the merge refuses it.
std::optional<PRIVDEVMODE> WorkMode(Host host, std::string_view device_name, std::span<const std::uint8_t> devmode) {
  PRIVDEVMODE mode = BuildDefaultDevmode(host.ops, device_name);
  if (!devmode.empty() && MergeDevmode(host.ops, device_name, mode, devmode) != 1) return std::nullopt;
  return mode;
}

}  // namespace

// ---- MemoryQueries ----

MemoryQueries::Printer* MemoryQueries::Find(PrinterHandle printer) {
  auto it = printers.find(platform_.PrinterName(printer));
  return it == printers.end() ? nullptr : &it->second;
}

std::optional<PrinterLevel2> MemoryQueries::GetPrinter(PrinterHandle printer) {
  Printer* p = Find(printer);
  if (!p) return std::nullopt;
  return PrinterLevel2{platform_.PrinterName(printer), p->driver_name, p->print_processor, p->devmode};
}

bool MemoryQueries::SetPrintProcessor(PrinterHandle printer, std::string_view processor) {
  Printer* p = Find(printer);
  if (!p) return false;
  p->print_processor = std::string(processor);
  return true;
}

std::optional<std::vector<std::string>> MemoryQueries::EnumPrintProcessors() { return processors; }

bool MemoryQueries::AddPrintProcessor(std::string_view name, std::string_view) {
  if (!processors) return false;
  processors->emplace_back(name);
  ++processor_adds;
  return true;
}

int MemoryQueries::FormCount(PrinterHandle printer) {
  Printer* p = Find(printer);
  return p ? p->forms : -1;
}

// ---- Sheet data ----

std::optional<SheetData> BuildSheetData(Host host, PrinterHandle printer, std::span<const std::uint8_t> input) {
  auto info = host.queries.GetPrinter(printer);
  if (!info) return std::nullopt;
  SheetData data;
  data.printer = printer;
  data.printer_name = info->driver_name;
  const std::string temp = host.queries.TempPath();
  PrinterValue tv{1 /* REG_SZ */, std::vector<std::uint8_t>(temp.begin(), temp.end())};
  tv.bytes.push_back(0);
  host.ops.SetPrinterData(printer, "TEMP_PATH", tv);
  data.mode = BuildDefaultDevmode(host.ops, data.printer_name);
  // Order matters: the printer's stored mode goes over the defaults, then the caller's over both.
  if (MergeDevmode(host.ops, data.printer_name, data.mode, info->devmode) != 1) return std::nullopt;
  if (MergeDevmode(host.ops, data.printer_name, data.mode, input) != 1) return std::nullopt;
  FormInfo form;
  GetFormInfo(data.mode, form);
  data.record = GetPrinterDataRecord(host.ops, printer);
  data.record.version = kDriverVersion;
  data.record.size = sizeof(PrinterDataRecord);
  return data;
}

// ---- Document properties ----

namespace {

long NoPromptProperties(Host host, PrinterHandle printer, std::span<std::uint8_t> output,
                        std::span<const std::uint8_t> input, std::uint32_t flags) {
  if (output.empty() || flags == 0) return static_cast<long>(kModeSize);
  auto data = BuildSheetData(host, printer, input);
  if (!data) return -1;
  if (flags & (kDmUpdate | kDmCopy)) {
    // The output must hold what is written: the work mode, or the template's layout.
    if (output.size() < kModeSize && input.empty()) {
      ZvSetLastError(kErrorInsufficientBuffer);
      return -1;
    }
    if (CopyOrConvertDevmode(Bytes(data->mode), input, output) != 1) {
      ZvSetLastError(kErrorInsufficientBuffer);
      return -1;
    }
  }
  return 1;
}

}  // namespace

long DrvDocumentProperties(Host host, PrinterHandle printer, std::string_view, std::span<std::uint8_t> output,
                           std::span<const std::uint8_t> input, std::uint32_t flags, const SheetRunner& sheet) {
  if (flags & kDmPrompt) {
    if (!sheet) {
      ZvSetLastError(50);  // not supported: no user interface here
      return -1;
    }
    const long r = sheet(host, printer, output, input, flags);
    if (r < 0) return r;
    // The sheet's "nothing chosen" becomes 2 (cancel) and anything else 1 (OK), the answers callers test for.
    return r == 0 ? 2 : 1;
  }
  const long r = NoPromptProperties(host, printer, output, input, flags);
  if (output.empty() || flags == 0) return r;
  if (r < 0) return r;
  return r == 0 ? 2 : 1;
}

long DrvAdvancedDocumentProperties(Host host, PrinterHandle printer, std::string_view device_name,
                                   std::span<std::uint8_t> output, std::span<const std::uint8_t> input,
                                   const SheetRunner& sheet) {
  if (output.empty()) return static_cast<long>(kModeSize);
  const long r =
      DrvDocumentProperties(host, printer, device_name, output, input, kDmPrompt | kDmCopy | kDmAdvanced, sheet);
  return r == 1 ? 1 : 0;
}

// ---- Conversion ----

bool DrvConvertDevMode(Host host, std::string_view printer_name, std::span<const std::uint8_t> input,
                       std::span<std::uint8_t> output, std::uint32_t* size, int mode) {
  int r = CommonConvertDevmode(input, output, size, mode, kVersionTable);
  if (r == 2 && mode == kConvertDriverDefault) {
    r = 0;
    PrinterHandle h = host.ops.OpenPrinter(printer_name);
    if (h != 0) {
      if (auto info = host.queries.GetPrinter(h)) {
        PRIVDEVMODE def = BuildDefaultDevmode(host.ops, info->driver_name);
        std::memcpy(output.data(), &def, kModeSize);  // CommonConvertDevmode checked the room
        *size = kModeSize;
        r = 1;
      }
      host.ops.ClosePrinter(h);
    }
  }
  return r == 1;
}

// ---- Capabilities ----

std::size_t CapabilityOutputSize(std::uint16_t capability) {
  switch (capability) {
    case kDcPapers:
      return kPaperSlots * 2;
    case kDcPaperSize:
      return kPaperSlots * 8;
    case kDcPaperNames:
      return kPaperSlots * kNameSlot * 2;
    case kDcEnumResolutions:
      return ResolutionTable().size() * 8;
    case kDcFileDependencies:
      return 2;
    default:
      return 0;
  }
}

long DrvDeviceCapabilities(Host host, PrinterHandle printer, std::string_view device_name, std::uint16_t capability,
                           std::span<std::uint8_t> output, std::span<const std::uint8_t> devmode) {
  auto mode = WorkMode(host, device_name, devmode);
  if (!mode) return -1;
  const std::size_t need = CapabilityOutputSize(capability);
  if (!output.empty() && output.size() < need) {
    ZvSetLastError(kErrorInsufficientBuffer);
    return -1;
  }
  switch (capability) {
    case kDcFields:
      return static_cast<long>(mode->dm.dmFields);
    case kDcBins:
    case kDcDuplex:
    case kDcBinNames:
      return 0;
    case kDcSize:
      return mode->dm.dmSize;
    case kDcExtra:
      return mode->dm.dmDriverExtra;
    case kDcVersion:
      return mode->dm.dmSpecVersion;
    case kDcDriver:
      return mode->dm.dmDriverVersion;
    case kDcTrueType:
    case kDcCopies:
      return 1;
    // Landscape is portrait turned 90 degrees counter-clockwise; the only other answer is 270.
    case kDcOrientation:
      return 90;
    case kDcEnumResolutions: {
      auto table = ResolutionTable();
      if (!output.empty())
        for (std::size_t i = 0; i < table.size(); ++i) {
          Put32(output, i * 8, table[i].dpi);
          Put32(output, i * 8 + 4, table[i].dpi);
        }
      return static_cast<long>(table.size());
    }
    case kDcFileDependencies:
      if (!output.empty()) output[0] = output[1] = 0;
      return 0;
    case kDcMinExtent:
    case kDcMaxExtent: {
      const bool max = capability == kDcMaxExtent;
      PaperRow first = StaticPaperRow(0);
      std::int16_t w = static_cast<std::int16_t>(first.printable_w_px);
      std::int16_t h = static_cast<std::int16_t>(first.printable_h_px);
      for (int i = 1; i < kPaperRowCount; ++i) {
        PaperRow r = StaticPaperRow(i);
        const auto rw = static_cast<std::int16_t>(r.printable_w_px);
        const auto rh = static_cast<std::int16_t>(r.printable_h_px);
        if (max ? rw > w : rw < w) w = rw;
        if (max ? rh > h : rh < h) h = rh;
      }
      // The answer packs the width in the low word and the height in the high word.
      return static_cast<long>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(w)) |
                               static_cast<std::uint32_t>(static_cast<std::uint16_t>(h)) << 16);
    }
    case kDcPapers:
    case kDcPaperSize:
    case kDcPaperNames: {
      if (host.queries.FormCount(printer) <= 0) return -1;
      if (auto info = host.queries.GetPrinter(printer); info && !info->devmode.empty())
        MergeDevmode(host.ops, device_name, *mode, info->devmode);
      if (output.empty()) return kPaperSlots;
      auto rows = RowsAt200();
      for (int i = 0; i < kPaperSlots && i < static_cast<int>(rows.size()); ++i) {
        const PaperRow& r = rows[i];
        if (capability == kDcPapers) {
          std::memcpy(output.data() + i * 2, &r.code, 2);
        } else if (capability == kDcPaperSize) {
          const bool user = r.code == kUserPaperCode;
          Put32(output, i * 8, user ? mode->priv.user_paper_width : r.width_mm10);
          Put32(output, i * 8 + 4, user ? mode->priv.user_paper_height : r.height_mm10);
        } else {
          const PaperInfo* p = PaperByCode(r.code);
          auto name = codepage::Utf8ToUtf16(p ? p->name : "", codepage::OnError::kSubstitute);
          char16_t slot[kNameSlot];
          CopyStringW(slot, name.ok() ? std::u16string_view(*name) : u"", kNameSlot);
          std::memcpy(output.data() + i * kNameSlot * 2, slot, sizeof slot);
        }
      }
      return kPaperSlots;
    }
    default:
      return -1;
  }
}

// ---- Events ----

void RegisterPrintProcessor(Host host, std::string_view printer_name) {
  auto list = host.queries.EnumPrintProcessors();
  if (!list) return;
  const bool present = std::any_of(list->begin(), list->end(), [](const std::string& n) {
    return n.size() == kPrintProcessor.size() && strncasecmp(n.data(), kPrintProcessor.data(), n.size()) == 0;
  });
  if (!present && !host.queries.AddPrintProcessor(kPrintProcessor, kPrintProcessorFile)) return;
  if (printer_name.empty()) return;
  PrinterHandle h = host.ops.OpenPrinter(printer_name);
  if (h == 0) return;
  if (host.queries.GetPrinter(h)) host.queries.SetPrintProcessor(h, kPrintProcessor);
  host.ops.ClosePrinter(h);
}

bool DrvPrinterEvent(Host host, std::string_view printer_name, int event, std::uint32_t) {
  if (event == kEventInitialize || event == kEventCacheRefresh) RegisterPrintProcessor(host, printer_name);
  return true;
}

bool DrvUpgradePrinter(Host host, std::uint32_t level, std::optional<std::string_view> printer_name) {
  if (level != 1 || !printer_name) {
    ZvSetLastError(87);
    return false;
  }
  if (PrinterHandle h = host.ops.OpenPrinter(*printer_name)) host.ops.ClosePrinter(h);
  return false;
}

}  // namespace zv::driver::dromu
