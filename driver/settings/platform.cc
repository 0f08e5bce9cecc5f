#include "driver/settings/platform.h"

#include <cstring>

namespace zv::driver {

std::optional<std::uint32_t> GetPrinterDword(PlatformOps& ops, PrinterHandle handle, std::string_view name) {
  auto v = ops.GetPrinterData(handle, name);
  if (!v || v->bytes.size() != 4) return std::nullopt;
  std::uint32_t out;
  std::memcpy(&out, v->bytes.data(), 4);
  return out;
}

PrinterValue DwordValue(std::uint32_t value) {
  PrinterValue v{kRegDword, std::vector<std::uint8_t>(4)};
  std::memcpy(v.bytes.data(), &value, 4);
  return v;
}

PrinterHandle MemoryPlatform::OpenPrinter(std::string_view name) {
  if (printers.find(name) == printers.end()) return 0;
  open_.emplace_back(name);
  ++open_count;
  return open_.size();
}

void MemoryPlatform::ClosePrinter(PrinterHandle handle) {
  if (handle == 0 || handle > open_.size() || open_[handle - 1].empty()) return;
  open_[handle - 1].clear();
  --open_count;
}

std::string MemoryPlatform::PrinterName(PrinterHandle handle) const {
  if (handle == 0 || handle > open_.size()) return {};
  return open_[handle - 1];
}

std::optional<PrinterValue> MemoryPlatform::GetPrinterData(PrinterHandle handle, std::string_view name) {
  if (handle == 0 || handle > open_.size() || open_[handle - 1].empty()) return std::nullopt;
  auto& values = printers[open_[handle - 1]];
  auto it = values.find(name);
  if (it == values.end()) return std::nullopt;
  return it->second;
}

bool MemoryPlatform::SetPrinterData(PrinterHandle handle, std::string_view name, const PrinterValue& value) {
  if (handle == 0 || handle > open_.size() || open_[handle - 1].empty()) return false;
  printers[open_[handle - 1]][std::string(name)] = value;
  return true;
}

}  // namespace zv::driver
