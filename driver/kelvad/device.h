// Kelvad, the virtual printer's raster driver, as a library: a device instance made from the
// printer's defaults merged with a caller's device mode, the device and surface information it
// reports, the band arithmetic of its 24-bit surface, and the document and page steps that
// write each page to the port as the page raster stream (stream.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "driver/kelvad/stream.h"
#include "driver/settings/devmode.h"
#include "driver/settings/printer_data.h"
#include "platform/base/status.h"

namespace zv::driver {

inline constexpr std::uint64_t kBandBudget = 0xB00000;  // about 11 MB of surface

// Where a page's pixels lie and how the surface is cut into bands.
struct PageLayout {
  int row = 0;                    // paper table row
  bool landscape = false;         // dmOrientation other than 1
  PaperRow paper{};               // the row as the mode sees it, turned for landscape
  std::uint32_t page_width = 0;   // printable width, pixels
  std::uint32_t page_height = 0;  // printable height, pixels
  std::uint32_t stride = 0;       // surface row in bytes (4-byte aligned)
  std::uint64_t budget = 0;       // band budget in bytes
  std::uint32_t band_height = 0, band_count = 0, last_band_height = 0;
  std::uint32_t image_width = 0, image_height = 0;  // for the page header
};

// Takes a mode; gives its page layout. InvalidArgument when the mode is not colour or its
// paper has no row at exactly its resolution.
Result<PageLayout> ComputePageLayout(const PRIVDEVMODE& mode);

// The device information the driver reports (GDIINFO's fields that it sets).
struct GdiInfo {
  std::uint32_t version = 0x400, technology = 2;
  std::int32_t horz_size = 0, vert_size = 0;  // negative: micrometres
  std::uint32_t horz_res = 0, vert_res = 0;
  std::uint32_t offset_x = 0, offset_y = 0, physical_cx = 0, physical_cy = 0;
  std::uint32_t bits_per_pixel = 24, planes = 1, num_colors = 24, raster_flags = 0;
  std::uint32_t log_pixels_x = 0, log_pixels_y = 0;
  std::uint32_t text_caps = 0x19F7;
  std::uint32_t aspect_x = 0, aspect_y = 0, aspect_xy = 0;
  std::uint32_t style_step_x = 1, style_step_y = 1, style_denominator = 0;
  std::uint32_t device_pels_per_inch = 0, primary_order = 0, halftone_pattern_size = 0;
  std::uint32_t halftone_output_format = 0, halftone_flags = 2;
};

// The surface information the driver reports (DEVINFO's fields that it sets).
struct DevInfo {
  std::uint32_t graphics_caps = 0;
  std::int32_t font_height = 0;  // negative: 10 points at the resolution
  std::uint32_t font_weight = 400;
  std::uint8_t font_charset = 1;
  std::uint8_t font_pitch_family = 0x31;
  std::uint32_t dither_format_bpp = 24;
};

// Takes an ANSI code page; gives the character set of the default font.
std::uint8_t CharsetForCodePage(std::uint32_t code_page);

// Takes the graphics engine's version and the size of its enable record; gives whether the
// driver can serve it (last error 119 when not).
bool EnableDriver(std::uint32_t engine_version, std::uint32_t record_size);

// State flag word bits.
inline constexpr std::uint32_t kDocStarted = 0x4, kOutputFailed = 0x8, kFirstPage = 0x4000, kPageOpen = 0x8000,
                               kCreatedByReset = 0x100000, kPaperUnchanged = 0x800000;

struct BandOrigin {
  int x = 0, y = 0;  // (-1, -1): the page is done
};

class KelvadDevice {
 public:
  // Takes the platform, the printer, the caller's device mode (empty: none), the port write
  // and an abort check (empty: never aborted); gives the instance with the merged mode, its
  // form name, the printer-data record and the device information.
  static std::unique_ptr<KelvadDevice> Enable(PlatformOps& ops, std::string_view printer,
                                              std::span<const std::uint8_t> devmode, WriteFn write,
                                              std::function<bool()> aborted = {});

  const PRIVDEVMODE& mode() const { return mode_; }
  const GdiInfo& gdi_info() const { return gdi_; }
  const DevInfo& dev_info() const { return dev_; }
  const PrinterDataRecord& printer_data() const { return printer_data_; }
  std::uint32_t flags() const { return flags_; }
  std::uint32_t page_count() const { return page_count_; }

  // Makes the banding surface; InvalidArgument for a mode that is not colour or has no row
  // at its resolution.
  Status EnableSurface();
  const PageLayout& layout() const { return layout_; }
  // Gives the surface: layout().band_height rows of layout().stride bytes, each pixel red,
  // green, blue, top row first.
  std::span<std::uint8_t> surface() { return surface_; }
  // Gives the page row the surface's first row stands for in the current band.
  std::uint32_t band_top() const { return band_index_ * layout_.band_height; }

  bool StartDoc();
  bool StartPage();
  // Takes the origin to fill; gives false when aborted.
  bool StartBanding(BandOrigin* origin);
  // Writes the band and moves on; the origin becomes (-1, -1) after the last band.
  bool NextBand(BandOrigin* origin);
  // Writes the whole surface as one band.
  bool SendPage();
  bool EndDoc();
  // Takes the instance this one replaces in mid-document; moves the document state over.
  bool ResetFrom(const KelvadDevice& old);

 private:
  KelvadDevice(WriteFn write) : writer_(std::move(write)) {}
  bool Aborted() const { return aborted_ && aborted_(); }
  bool WritePageData(bool first, bool last);
  void FillWhite();

  PRIVDEVMODE mode_{};
  PrinterDataRecord printer_data_{};
  GdiInfo gdi_;
  DevInfo dev_;
  PageLayout layout_;
  std::vector<std::uint8_t> surface_;
  PortWriter writer_;
  std::function<bool()> aborted_;
  std::uint32_t flags_ = 0, page_count_ = 0, band_index_ = 0;
};

}  // namespace zv::driver
