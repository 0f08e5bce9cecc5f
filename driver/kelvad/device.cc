#include "driver/kelvad/device.h"

#include <algorithm>
#include <cstring>

#include "platform/lasterror/last_error.h"

namespace zv::driver {
namespace {

constexpr std::uint32_t kErrorBadDriverLevel = 119;
constexpr std::uint64_t kBudgetGranule = 65536;

}  // namespace

Result<PageLayout> ComputePageLayout(const PRIVDEVMODE& mode) {
  if (mode.dm.dmColor != win::DMCOLOR_COLOR) return Status::InvalidArgument("the device mode is not colour");
  const int row = FindPaperRowExact(mode);
  if (row < 0) return Status::InvalidArgument("no paper row at the mode's resolution");
  PageLayout l;
  l.row = row;
  // One rule for the surface and the header: any orientation but portrait turns the page.
  l.landscape = mode.dm.dmOrientation != win::DMORIENT_PORTRAIT;
  l.paper = ComputePaperRow(row, mode, l.landscape);
  const std::uint32_t w = std::max<std::uint32_t>(l.paper.printable_w_px, 1);
  const std::uint32_t h = std::max<std::uint32_t>(l.paper.printable_h_px, 1);
  l.page_width = l.image_width = w;
  l.page_height = l.image_height = h;
  l.stride = static_cast<std::uint32_t>(((std::uint64_t{w} * 24 + 31) & ~std::uint64_t{31}) / 8);
  const std::uint64_t s = (std::uint64_t{h} + 20) * w * 3;
  if (s < kBandBudget) {
    l.budget = s;
  } else {
    const std::uint64_t n = (s + kBandBudget - 1) / kBandBudget;
    const std::uint64_t share = (s + n - 1) / n;
    l.budget = (share + kBudgetGranule - 1) / kBudgetGranule * kBudgetGranule;
  }
  if (std::uint64_t{h} * l.stride > l.budget) {
    l.band_height = static_cast<std::uint32_t>(std::max<std::uint64_t>(l.budget / l.stride, 1));
    l.band_count = (h + l.band_height - 1) / l.band_height;
    l.last_band_height = h - (l.band_count - 1) * l.band_height;
  } else {
    l.band_height = l.last_band_height = h;
    l.band_count = 1;
  }
  return l;
}

std::uint8_t CharsetForCodePage(std::uint32_t cp) {
  switch (cp) {
    case 1252:
      return 0;
    case 932:
      return 128;
    case 949:
      return 129;
    case 1361:
      return 130;
    case 936:
      return 134;
    case 950:
      return 136;
    case 1255:
      return 177;
    case 1256:
      return 178;
    case 1253:
      return 161;
    case 1254:
      return 162;
    case 1257:
      return 186;
    case 1250:
      return 238;
    case 1251:
      return 204;
    case 874:
      return 222;
    default:
      return 1;
  }
}

bool EnableDriver(std::uint32_t engine_version, std::uint32_t record_size) {
  if (engine_version >= 0x20000 && record_size >= 12) return true;
  ZvSetLastError(kErrorBadDriverLevel);
  return false;
}

std::unique_ptr<KelvadDevice> KelvadDevice::Enable(PlatformOps& ops, std::string_view printer,
                                                   std::span<const std::uint8_t> devmode, WriteFn write,
                                                   std::function<bool()> aborted) {
  std::unique_ptr<KelvadDevice> d(new KelvadDevice(std::move(write)));
  d->aborted_ = std::move(aborted);
  PrinterHandle h = ops.OpenPrinter(printer);
  d->printer_data_ = GetPrinterDataRecord(ops, h);
  d->mode_ = BuildDefaultDevmode(ops, printer);
  // A mode that cannot be taken leaves the printer's defaults, as the driver always did.
  MergeDevmode(ops, printer, d->mode_, devmode);
  FormInfo form;
  GetFormInfo(d->mode_, form);

  const auto& dm = d->mode_.dm;
  const std::uint32_t quality = static_cast<std::uint16_t>(dm.dmPrintQuality);
  const std::uint32_t logical = static_cast<std::uint32_t>(dm.dmScale) * quality / 100;
  const bool landscape = dm.dmOrientation == win::DMORIENT_LANDSCAPE;
  const PaperRow p = ComputePaperRow(FindPaperRow(d->mode_, ops, printer), d->mode_);
  GdiInfo& g = d->gdi_;
  // A negative size tells the graphics engine the value is in micrometres rather than millimetres.
  g.horz_size = -static_cast<std::int32_t>((landscape ? p.printable_h_mm10 : p.printable_w_mm10) * 100);
  g.vert_size = -static_cast<std::int32_t>((landscape ? p.printable_w_mm10 : p.printable_h_mm10) * 100);
  g.horz_res = landscape ? p.printable_h_px : p.printable_w_px;
  g.vert_res = landscape ? p.printable_w_px : p.printable_h_px;
  g.offset_x = landscape ? p.top_px : p.left_px;
  g.offset_y = landscape ? p.left_px : p.top_px;
  g.physical_cx = landscape ? p.height_px : p.width_px;
  g.physical_cy = landscape ? p.width_px : p.height_px;
  g.log_pixels_x = g.log_pixels_y = logical;
  g.aspect_x = g.aspect_y = quality;
  // The diagonal aspect of square pixels: the side times the square root of two.
  g.aspect_xy = quality * 1414 / 1000;
  g.style_denominator = quality / 25;
  if (auto ht = h ? ops.GetPrinterData(h, "CurDevHTInfo") : std::nullopt; ht && ht->bytes.size() == 132) {
    std::uint32_t v[3];
    std::memcpy(v, ht->bytes.data(), sizeof v);
    g.halftone_pattern_size = v[1];
    g.device_pels_per_inch = static_cast<std::uint32_t>(dm.dmScale) * v[2] / 100;
  }
  g.halftone_output_format = dm.dmColor == win::DMCOLOR_COLOR ? 2 : 0;
  // A 10-point default font: 10/72 inch at the device resolution, rounded.
  d->dev_.font_height = -static_cast<std::int32_t>((quality * 10 + 36) / 72);
  d->dev_.font_charset = CharsetForCodePage(ops.AnsiCodePage());
  if (h) ops.ClosePrinter(h);
  return d;
}

Status KelvadDevice::EnableSurface() {
  auto layout = ComputePageLayout(mode_);
  if (!layout.ok()) return layout.status();
  layout_ = *layout;
  surface_.assign(std::size_t{layout_.stride} * layout_.band_height, 0xFF);
  return Status::Ok();
}

void KelvadDevice::FillWhite() { std::fill(surface_.begin(), surface_.end(), 0xFF); }

bool KelvadDevice::StartDoc() {
  flags_ |= kDocStarted;
  if (!(flags_ & kCreatedByReset)) {
    page_count_ = 0;
    flags_ &= ~(kFirstPage | kPageOpen);
  }
  return true;
}

bool KelvadDevice::StartPage() {
  if (writer_.failed() || surface_.empty()) return false;
  if (!(flags_ & kPageOpen)) {
    if (page_count_ == 0) flags_ |= kFirstPage;
    flags_ |= kPageOpen;
    ++page_count_;
    FillWhite();
  }
  return true;
}

bool KelvadDevice::StartBanding(BandOrigin* origin) {
  if (Aborted() || surface_.empty()) return false;
  band_index_ = 0;
  if (origin) *origin = {0, 0};
  return true;
}

bool KelvadDevice::WritePageData(bool first, bool last) {
  if (first) {
    const SpoolPageHeader header = BuildPageHeader(mode_, layout_.image_width, layout_.image_height);
    if (!writer_.Write({reinterpret_cast<const std::uint8_t*>(&header), sizeof header})) return false;
  }
  const std::uint32_t rows = last ? layout_.last_band_height : layout_.band_height;
  const std::size_t row_bytes = std::size_t{layout_.page_width} * 3;
  for (std::uint32_t r = 0; r < rows; ++r)
    if (!writer_.Write(std::span(surface_).subspan(std::size_t{r} * layout_.stride, row_bytes))) return false;
  return true;
}

bool KelvadDevice::NextBand(BandOrigin* origin) {
  if (Aborted() || writer_.failed() || surface_.empty() || band_index_ >= layout_.band_count) return false;
  const bool last = band_index_ + 1 == layout_.band_count;
  if (!WritePageData(band_index_ == 0, last)) return false;
  ++band_index_;
  FillWhite();
  if (!last) {
    if (origin) *origin = {0, static_cast<int>(layout_.band_height * band_index_)};
  } else {
    if (origin) *origin = {-1, -1};
    // The page is complete: the next StartPage opens a fresh one.
    flags_ &= ~(kPageOpen | kFirstPage);
  }
  return true;
}

bool KelvadDevice::SendPage() {
  if (writer_.failed() || surface_.empty()) return false;
  if (!WritePageData(true, true)) return false;
  if (!(flags_ & kPageOpen)) ++page_count_;
  flags_ &= ~(kPageOpen | kFirstPage);
  return true;
}

bool KelvadDevice::EndDoc() {
  flags_ &= ~(kDocStarted | kFirstPage | kCreatedByReset);
  return true;
}

bool KelvadDevice::ResetFrom(const KelvadDevice& old) {
  // A reset inside a document carries the page count and page state over, so a change of paper
  // mid-document continues the same job.
  if (!(old.flags_ & kDocStarted)) return true;
  page_count_ = old.page_count_;
  flags_ |= kCreatedByReset | (old.flags_ & 0x1094104);
  const auto& a = old.mode_.dm;
  const auto& b = mode_.dm;
  bool same = false;
  if ((a.dmFields & b.dmFields & (win::DM_PAPERLENGTH | win::DM_PAPERWIDTH)) ==
      (win::DM_PAPERLENGTH | win::DM_PAPERWIDTH))
    same = a.dmPaperLength == b.dmPaperLength && a.dmPaperWidth == b.dmPaperWidth;
  else if (a.dmFields & b.dmFields & win::DM_PAPERSIZE) same = a.dmPaperSize == b.dmPaperSize;
  else if (a.dmFields & b.dmFields & win::DM_FORMNAME)
    same = FieldText(a.dmFormName, 32) == FieldText(b.dmFormName, 32);
  if (same) flags_ |= kPaperUnchanged;
  return true;
}

}  // namespace zv::driver
