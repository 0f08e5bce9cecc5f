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
  // A job that names an orientation lays every page on its sheet turned that way (a page of
  // the other shape is fitted into it); one that names none keeps each page's own shape, as
  // the PDF queue does: a landscape page goes on the turned sheet, with its own device mode.
  const bool own_shape = (job_mode.dm.dmFields & win::DM_ORIENTATION) == 0;
  std::unique_ptr<KelvadDevice> devices[2];  // portrait, landscape
  auto device_for = [&](int orientation) -> Result<KelvadDevice*> {
    std::unique_ptr<KelvadDevice>& d = devices[orientation == 2 ? 1 : 0];
    if (!d) {
      PRIVDEVMODE m = job_mode;
      if (own_shape) {
        m.dm.dmOrientation = static_cast<win::SHORT>(orientation == 2 ? 2 : 1);
        m.dm.dmFields |= win::DM_ORIENTATION;
      }
      d = KelvadDevice::Enable(ops, printer, Bytes(m), write);
      Status s = d->EnableSurface();
      if (!s.ok()) {
        d.reset();
        return s;
      }
      d->StartDoc();
    }
    return d.get();
  };
  auto first = device_for(1);
  if (!first.ok()) return first.status();
  const PageLayout& l0 = (*first)->layout();
  const PRIVDEVMODE& mode = (*first)->mode();
  const PaperRow portrait = ComputePaperRow(l0.row, mode);
  const PaperInfo* info = PaperByCode(portrait.code);
  const capture::VirtualPaper paper{info ? info->ppd_name : "A4", portrait.code, portrait.width_mm10,
                                    portrait.height_mm10};
  bool write_failed = false;
  Status s = capture::RenderPdf(
      pdf_path, paper, static_cast<std::uint16_t>(mode.dm.dmPrintQuality),
      [&](const capture::RenderedPage& page, int orientation) -> Status {
        auto chosen = device_for(own_shape ? orientation : 1);
        if (!chosen.ok()) return chosen.status();
        KelvadDevice* device = *chosen;
        const PageLayout& l = device->layout();
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
      own_shape ? 0 : (l0.landscape ? 2 : 1));
  for (auto& d : devices)
    if (d) d->EndDoc();
  if (write_failed) return Status::IOError("writing the page raster stream failed");
  return s;
}

}  // namespace zv::driver
