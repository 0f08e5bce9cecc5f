// Yorvane, the virtual printer's installer: pddSystemInstall copies the backends and the
// raster filter from a source folder into the spooler's program folders and adds the
// printer's two queues (the named one passes PDF through to the zelvora backend, "<name>-Raster"
// runs the kelvad filter to the olviport port) with their PPDs, whose defaults carry the
// application name, the resolution and the margins; pddSystemUnInstall removes a printer of
// this driver and, with the last one, the files. Texts come in CP932, as the setup program
// passes them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "driver/yorvane/admin.h"

namespace zv::driver::yorvane {

// Result codes of both entry points.
inline constexpr std::uint32_t kDone = 0;
inline constexpr std::uint32_t kMissingArgument = 1;  // also a name or source folder refused
inline constexpr std::uint32_t kListUnreadable = 2;
inline constexpr std::uint32_t kPortFailed = 0x20000;
inline constexpr std::uint32_t kPrinterFailed = 0x30000;
inline constexpr std::uint32_t kRefused = 0x30001;

// The drivers' names the queues carry (their PPDs' NickName).
inline constexpr std::string_view kPassThroughDriver = "Zelvora Printer";
inline constexpr std::string_view kRasterDriver = "Zelvora Printer (raster)";
inline constexpr std::string_view kRasterSuffix = "-Raster";

// Where the files go: the spooler's program folder holding "backend" and "filter" (CUPS's
// server-bin); empty: no files are copied (folder printers).
// The port registry the raster queue's port "OLVIPORT :" is added to through the port user
// interface; empty: $ZELVORA_ROOT/ports/registry.
struct InstallLayout {
  std::filesystem::path serverbin;
  std::filesystem::path port_registry;
};

// Takes a printer name (UTF-8); gives whether the spooler may be given it: not empty, at most
// 127 bytes, no "/", "\" or control characters.
bool ValidPrinterName(std::string_view name);

// Takes the queue kind, the application name (UTF-8), the resolution and the margins (0.1 mm);
// gives the queue's PPD with those defaults: the resolution when it is one of the seven (else
// the table's default), each margin at the nearest choice at or below it (at most 30 mm), and
// the application name as "*ZelvoraAppName".
std::string PpdWithDefaults(bool raster, std::string_view app_name, std::uint16_t resolution, std::uint16_t top,
                            std::uint16_t bottom, std::uint16_t left, std::uint16_t right);

// Takes the administration, the layout, the owner window (unused), the printer name, the
// source folder and the application name (CP932), the margins and the resolution (low 16 bits
// taken); installs. Gives 0, 1 (an argument missing, a name or source folder refused), 2 (the
// printer list unreadable), 0x20000 (the port "OLVIPORT :" could not be added; a port there
// already counts as added) or 0x30000 (a queue could not be added). A queue of that name that
// exists is left untouched. Only the fixed file names are taken from the absolute source
// folder, regular files only; each is copied by a temporary name and renamed, root-owned,
// mode 0700 for the backends and 0755 for the filter. A file that cannot be copied does not
// stop the install.
std::uint32_t pddSystemInstall(SpoolerAdmin& admin, const InstallLayout& layout, std::uintptr_t window,
                               const char* printer_name, const char* source_folder, const char* app_name,
                               std::uint32_t top, std::uint32_t bottom, std::uint32_t left, std::uint32_t right,
                               std::uint32_t resolution);

// Takes the administration, the layout, the owner window (unused) and the printer name
// (CP932); removes the printer and its raster twin and, when no printer of the driver is left,
// the files and the port "OLVIPORT :" (a port that cannot be removed does not fail it). Gives 0, 1 (missing or refused
// name), 2 (list unreadable), 0x30001 (the printer uses another driver, or no printer uses this one) or 0x30000 (the
// spooler refused the deletion).
std::uint32_t pddSystemUnInstall(SpoolerAdmin& admin, const InstallLayout& layout, std::uintptr_t window,
                                 const char* printer_name);

}  // namespace zv::driver::yorvane
