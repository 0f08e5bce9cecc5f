#include "driver/kelvad/raster_job.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>

#include "capture/feeder/pdf_render.h"
#include "capture/spool/spool.h"
#include "driver/kelvad/device.h"
#include "driver/settings/ppd.h"

namespace zv::driver {

PpdQueuePlatform::PpdQueuePlatform(std::string printer, std::string ppd)
    : printer_(std::move(printer)), ppd_(std::move(ppd)) {}

PrinterHandle PpdQueuePlatform::OpenPrinter(std::string_view name) { return name == printer_ ? 1 : 0; }

std::optional<PrinterValue> PpdQueuePlatform::GetPrinterData(PrinterHandle handle, std::string_view name) {
  if (handle != 1) return std::nullopt;
  if (name == "DefaultResolution") {
    auto v = PpdDefault(ppd_, "Resolution");
    auto dpi = v ? ParseResolutionChoice(*v) : std::nullopt;
    if (dpi) return DwordValue(static_cast<std::uint32_t>(*dpi));
    return std::nullopt;
  }
  for (const auto& m : MarginOptions()) {
    if (name != m.data_name) continue;
    auto v = PpdDefault(ppd_, m.keyword);
    auto mm10 = v ? ParseMarginChoice(*v) : std::nullopt;
    if (mm10) return DwordValue(*mm10);
  }
  return std::nullopt;
}

std::string PpdQueuePlatform::ComputerName() {
  char host[HOST_NAME_MAX + 1] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return {};
  return host;
}

PRIVDEVMODE JobDevmode(PlatformOps& ops, std::string_view printer, std::string_view options) {
  PRIVDEVMODE m = BuildDefaultDevmode(ops, printer);
  m.dm.dmFields = 0;
  const auto margins = MarginOptions();
  std::uint16_t PrivatePart::*fields[] = {&PrivatePart::margin_left, &PrivatePart::margin_right,
                                          &PrivatePart::margin_top, &PrivatePart::margin_bottom};
  auto same = [](std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
  };
  for (const auto& [name, value] : capture::SplitOptions(options)) {
    if (same(name, "PageSize") || same(name, "media")) {
      std::string v = value.substr(0, value.find(','));
      const PaperInfo* paper = PaperByPpdName(v);
      if (!paper) {
        if (auto vp = capture::FindPaper(v)) paper = PaperByCode(vp->code);
      }
      if (paper) {
        m.dm.dmPaperSize = static_cast<win::SHORT>(paper->code);
        m.dm.dmFields |= win::DM_PAPERSIZE;
      }
    } else if (same(name, "orientation-requested")) {
      m.dm.dmOrientation = (value == "4" || value == "5") ? 2 : 1;
      m.dm.dmFields |= win::DM_ORIENTATION;
    } else if (same(name, "landscape") && (value.empty() || same(value, "true"))) {
      m.dm.dmOrientation = 2;
      m.dm.dmFields |= win::DM_ORIENTATION;
    } else if (same(name, "Resolution")) {
      if (auto dpi = ParseResolutionChoice(value)) {
        m.dm.dmPrintQuality = m.dm.dmYResolution = static_cast<win::SHORT>(*dpi);
        m.dm.dmFields |= win::DM_PRINTQUALITY | win::DM_YRESOLUTION;
      }
    } else {
      for (std::size_t i = 0; i < margins.size(); ++i)
        if (same(name, margins[i].keyword))
          if (auto mm10 = ParseMarginChoice(value)) m.priv.*fields[i] = *mm10;
    }
  }
  return m;
}

Status WriteRasterJob(const std::string& pdf_path, PlatformOps& ops, std::string_view printer,
                      const PRIVDEVMODE& job_mode, const WriteFn& write, int* pages) {
  if (pages) *pages = 0;
  auto device = KelvadDevice::Enable(ops, printer, Bytes(job_mode), write);
  Status s = device->EnableSurface();
  if (!s.ok()) return s;
  const PageLayout& l = device->layout();
  const PRIVDEVMODE& mode = device->mode();
  // Every page lies on the job's sheet, turned as the job says (a page of the other shape is
  // fitted into it), so the printable area is cut from where the device mode puts it.
  const PaperRow portrait = ComputePaperRow(l.row, mode);
  const PaperInfo* info = PaperByCode(portrait.code);
  const capture::VirtualPaper paper{info ? info->ppd_name : "A4", portrait.code, portrait.width_mm10,
                                    portrait.height_mm10};
  device->StartDoc();
  bool write_failed = false;
  s = capture::RenderPdf(
      pdf_path, paper, static_cast<std::uint16_t>(mode.dm.dmPrintQuality),
      [&](const capture::RenderedPage& page, int) -> Status {
        if (!device->StartPage()) {
          write_failed = true;
          return Status::IOError("the port refused the page");
        }
        BandOrigin origin;
        if (!device->StartBanding(&origin)) return Status::IOError("the job was stopped");
        while (origin.y >= 0) {
          auto surface = device->surface();
          const std::uint32_t rows =
              std::min<std::uint32_t>(l.band_height, l.page_height - static_cast<std::uint32_t>(origin.y));
          for (std::uint32_t r = 0; r < rows; ++r) {
            // The printable area lies at the row's offsets on the rendered paper.
            const long long sy = static_cast<long long>(l.paper.top_px) + origin.y + r;
            if (sy < 0 || sy >= page.height) continue;
            std::uint8_t* out = surface.data() + std::size_t{r} * l.stride;
            const std::uint32_t* in = page.pixels.data() + static_cast<std::size_t>(sy) * page.width;
            const long long x0 = l.paper.left_px;
            const long long n = std::min<long long>(l.page_width, page.width - x0);
            for (long long x = 0; x < n; ++x) {
              const std::uint32_t p = in[x0 + x];
              out[3 * x] = static_cast<std::uint8_t>(p >> 16);
              out[3 * x + 1] = static_cast<std::uint8_t>(p >> 8);
              out[3 * x + 2] = static_cast<std::uint8_t>(p);
            }
          }
          if (!device->NextBand(&origin)) {
            write_failed = true;
            return Status::IOError("the port refused the page");
          }
        }
        if (pages) ++*pages;
        return Status::Ok();
      },
      l.landscape ? 2 : 1);
  device->EndDoc();
  if (write_failed) return Status::IOError("writing the page raster stream failed");
  return s;
}

}  // namespace zv::driver
