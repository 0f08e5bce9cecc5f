// Device modes, printer capabilities and device names: the pure rules of the spooler layer
// (no file or daemon access). DocumentProperties' merge of a caller's mode, the job options
// a mode resolves to, the page geometry a printer device context reports, DEVNAMES blocks.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/base/status.h"
#include "platform/wintypes/wintypes.h"

namespace zv::spool {

constexpr win::WORD DM_SPECVERSION = 0x0401;
constexpr win::SHORT DMPAPER_USER = 256;
constexpr win::SHORT DMCOLLATE_FALSE = 0;
constexpr win::SHORT DMCOLLATE_TRUE = 1;
// Symbolic print qualities (negative dmPrintQuality values).
constexpr win::SHORT DMRES_DRAFT = -1;
constexpr win::SHORT DMRES_LOW = -2;
constexpr win::SHORT DMRES_MEDIUM = -3;
constexpr win::SHORT DMRES_HIGH = -4;

// One paper a printer offers (DC_PAPERS, DC_PAPERNAMES, DC_PAPERSIZE, and its margins).
struct Paper {
  win::SHORT code = 0;      // DMPAPER_* value (or a printer's own code from 256 on)
  std::string name;         // the form name shown to users
  std::int32_t width = 0;   // portrait width in 0.1 mm
  std::int32_t length = 0;  // portrait length in 0.1 mm
  // Unprintable margins of the portrait sheet in 0.1 mm.
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
};

struct Resolution {
  std::int32_t x = 0, y = 0;  // dots per inch
  bool operator==(const Resolution&) const = default;
};

// What DeviceCapabilities and the printer's defaults tell of a printer.
struct Capabilities {
  std::vector<Paper> papers;            // in the printer's order
  std::vector<Resolution> resolutions;  // DC_ENUMRESOLUTIONS
  bool color = false;                   // DC_COLORDEVICE
  bool duplex = false;                  // DC_DUPLEX
  bool collate = false;                 // DC_COLLATE
  int max_copies = 1;                   // DC_COPIES
  // Defaults of the printer's device mode.
  win::SHORT default_paper = 9;  // DMPAPER_A4
  win::SHORT default_orientation = win::DMORIENT_PORTRAIT;
  Resolution default_resolution{300, 300};
  bool default_color = false;
  win::SHORT default_duplex = win::DMDUP_SIMPLEX;
  win::WORD devmode_version = DM_SPECVERSION;
  win::WORD driver_version = 0;
  std::vector<std::uint8_t> default_extra;  // the driver's private part of the mode

  // The paper with `code`, or null.
  const Paper* FindPaper(win::SHORT code) const;
};

// A device mode: the public DEVMODEA record and the driver's private bytes behind it.
struct DevMode {
  win::DEVMODEA dm{};
  std::vector<std::uint8_t> extra;

  // The record as one block: dmSize (156) public bytes, then dmDriverExtra private bytes.
  std::vector<std::uint8_t> ToBytes() const;
  // Reads a block; a shorter public part (an older dmSize) is zero-filled. Fails when the
  // block is shorter than dmSize + dmDriverExtra or dmSize is too small to hold the fields.
  static Result<DevMode> FromBytes(std::span<const std::uint8_t> bytes);
  // A byte of the whole block at `offset` (public part first); false when outside.
  bool GetByte(std::size_t offset, std::uint8_t& out) const;
  bool SetByte(std::size_t offset, std::uint8_t value);
  // dmDeviceName and dmFormName as text (up to the first NUL).
  std::string DeviceName() const;
  std::string FormName() const;
};

// Copies `text` into a fixed char field, NUL-terminated, cut on a UTF-8 character boundary.
void CopyFixedText(const std::string& text, char* field, std::size_t field_size);

// The options a job runs with: a device mode resolved against a printer.
struct JobOptions {
  win::SHORT paper = 9;
  std::string paper_name;
  std::int32_t paper_width = 0;   // portrait, 0.1 mm
  std::int32_t paper_length = 0;  // portrait, 0.1 mm
  std::int32_t margin_left = 0, margin_top = 0, margin_right = 0, margin_bottom = 0;
  win::SHORT orientation = win::DMORIENT_PORTRAIT;
  int copies = 1;
  bool collate = false;
  win::SHORT duplex = win::DMDUP_SIMPLEX;
  bool color = false;
  Resolution resolution{300, 300};
};

// DocumentProperties(DM_OUT_BUFFER): the printer's default device mode.
DevMode MakeDefaultDevMode(const std::string& printer_name, const Capabilities& caps);

// DocumentProperties(DM_IN_BUFFER | DM_OUT_BUFFER): the fields flagged in `in.dm.dmFields`
// taken onto `base` where the printer supports them, then checked: a paper the printer
// offers sets its size; an unknown paper code with a positive width and length becomes a
// custom paper (DMPAPER_USER); copies are clamped to 1..max; duplex and colour fall back
// when unsupported; a resolution snaps to the nearest offered one. The driver's private part
// is taken when its size matches. The result keeps base's dmFields and device name.
DevMode MergeDevMode(const DevMode& base, const DevMode& in, const Capabilities& caps);

// The options a (merged) device mode gives on a printer.
JobOptions ResolveJobOptions(const DevMode& mode, const Capabilities& caps);

// What GetDeviceCaps tells of a printer device context with these options. Lengths in
// device pixels at the job's resolution (0.1 mm × dpi / 254, truncated); a landscape sheet
// is the portrait sheet turned 90 degrees counter-clockwise (its top is the portrait's right).
struct PageGeometry {
  int logpixels_x = 0, logpixels_y = 0;         // LOGPIXELSX/Y
  int physical_width = 0, physical_height = 0;  // PHYSICALWIDTH/HEIGHT
  int offset_x = 0, offset_y = 0;               // PHYSICALOFFSETX/Y
  int horzres = 0, vertres = 0;                 // HORZRES/VERTRES: the printable area
  int horzsize_mm = 0, vertsize_mm = 0;         // HORZSIZE/VERTSIZE
};
PageGeometry GeometryFor(const JobOptions& options);

// A DEVNAMES block: the record, then the driver, device and output names, each
// NUL-terminated (offsets in bytes from the block start). Fails when a name holds a NUL or
// the block would not fit the 16-bit offsets.
Result<std::vector<std::uint8_t>> MakeDevNames(const std::string& driver, const std::string& device,
                                               const std::string& output);
struct DevNames {
  std::string driver, device, output;
  win::WORD default_flag = 0;
};
// Reads a DEVNAMES block, checking every offset and terminator.
Result<DevNames> ParseDevNames(std::span<const std::uint8_t> bytes);

}  // namespace zv::spool
