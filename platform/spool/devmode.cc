#include "platform/spool/devmode.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace zv::spool {

using win::DEVMODEA;

const Paper* Capabilities::FindPaper(win::SHORT code) const {
  for (const auto& p : papers) {
    if (p.code == code) return &p;
  }
  return nullptr;
}

void CopyFixedText(const std::string& text, char* field, std::size_t field_size) {
  std::memset(field, 0, field_size);
  if (field_size == 0) return;
  std::size_t n = std::min(text.size(), field_size - 1);
  // Step back over UTF-8 continuation bytes so that no character is cut in half.
  if (n < text.size()) {
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  }
  std::memcpy(field, text.data(), n);
}

namespace {

std::string FixedText(const char* field, std::size_t size) { return std::string(field, strnlen(field, size)); }

// Smallest public part that still holds every field up to dmFormName.
constexpr std::size_t kMinPublicSize = offsetof(DEVMODEA, dmLogPixels);

}  // namespace

std::vector<std::uint8_t> DevMode::ToBytes() const {
  DEVMODEA pub = dm;
  pub.dmSize = sizeof(DEVMODEA);
  pub.dmDriverExtra = static_cast<win::WORD>(extra.size());
  std::vector<std::uint8_t> out(sizeof(DEVMODEA) + extra.size());
  std::memcpy(out.data(), &pub, sizeof(DEVMODEA));
  if (!extra.empty()) std::memcpy(out.data() + sizeof(DEVMODEA), extra.data(), extra.size());
  return out;
}

Result<DevMode> DevMode::FromBytes(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < offsetof(DEVMODEA, dmFields) + sizeof(win::DWORD)) {
    return Status::InvalidArgument("device mode shorter than its header");
  }
  win::WORD size = 0, extra = 0;
  std::memcpy(&size, bytes.data() + offsetof(DEVMODEA, dmSize), sizeof size);
  std::memcpy(&extra, bytes.data() + offsetof(DEVMODEA, dmDriverExtra), sizeof extra);
  if (size < kMinPublicSize) return Status::InvalidArgument("device mode dmSize too small");
  if (std::size_t(size) + extra > bytes.size()) {
    return Status::InvalidArgument("device mode longer than its block");
  }
  DevMode mode;
  std::memcpy(&mode.dm, bytes.data(), std::min<std::size_t>(size, sizeof(DEVMODEA)));
  mode.dm.dmSize = sizeof(DEVMODEA);
  mode.dm.dmDriverExtra = extra;
  mode.extra.assign(bytes.begin() + size, bytes.begin() + size + extra);
  return mode;
}

bool DevMode::GetByte(std::size_t offset, std::uint8_t& out) const {
  if (offset < sizeof(DEVMODEA)) {
    out = reinterpret_cast<const std::uint8_t*>(&dm)[offset];
    return true;
  }
  offset -= sizeof(DEVMODEA);
  if (offset >= extra.size()) return false;
  out = extra[offset];
  return true;
}

bool DevMode::SetByte(std::size_t offset, std::uint8_t value) {
  if (offset < sizeof(DEVMODEA)) {
    reinterpret_cast<std::uint8_t*>(&dm)[offset] = value;
    return true;
  }
  offset -= sizeof(DEVMODEA);
  if (offset >= extra.size()) return false;
  extra[offset] = value;
  return true;
}

std::string DevMode::DeviceName() const { return FixedText(dm.dmDeviceName, sizeof dm.dmDeviceName); }
std::string DevMode::FormName() const { return FixedText(dm.dmFormName, sizeof dm.dmFormName); }

namespace {

const Paper& DefaultPaper(const Capabilities& caps) {
  static const Paper kA4{9, "A4", 2100, 2970, 0, 0, 0, 0};
  if (const Paper* p = caps.FindPaper(caps.default_paper)) return *p;
  if (!caps.papers.empty()) return caps.papers.front();
  return kA4;
}

Resolution SnapResolution(const Capabilities& caps, win::SHORT quality, win::SHORT yres) {
  if (caps.resolutions.empty()) return caps.default_resolution;
  auto by_x = [](const Resolution& a, const Resolution& b) { return a.x != b.x ? a.x < b.x : a.y < b.y; };
  std::vector<Resolution> sorted = caps.resolutions;
  std::sort(sorted.begin(), sorted.end(), by_x);
  if (quality < 0) {
    switch (quality) {
      case DMRES_HIGH:
        return sorted.back();
      case DMRES_MEDIUM:
        return sorted[sorted.size() / 2];
      case DMRES_LOW:
      case DMRES_DRAFT:
        return sorted.front();
      default:
        return caps.default_resolution;
    }
  }
  if (quality == 0) return caps.default_resolution;
  std::int32_t want_y = yres > 0 ? yres : quality;
  const Resolution* best = nullptr;
  long best_d = std::numeric_limits<long>::max();
  for (const auto& r : sorted) {
    // The print quality is the field every application sets; the y resolution only refines the
    // choice, so the x distance counts double.
    long d = std::labs(long(r.x) - quality) * 2 + std::labs(long(r.y) - want_y);
    if (d < best_d) {
      best_d = d;
      best = &r;
    }
  }
  return *best;
}

void SetPaper(DEVMODEA& dm, const Paper& p) {
  dm.dmPaperSize = p.code;
  dm.dmPaperWidth = static_cast<win::SHORT>(p.width);
  dm.dmPaperLength = static_cast<win::SHORT>(p.length);
  CopyFixedText(p.name, dm.dmFormName, sizeof dm.dmFormName);
}

bool ValidOrientation(win::SHORT o) { return o == win::DMORIENT_PORTRAIT || o == win::DMORIENT_LANDSCAPE; }

}  // namespace

DevMode MakeDefaultDevMode(const std::string& printer_name, const Capabilities& caps) {
  DevMode mode;
  DEVMODEA& dm = mode.dm;
  CopyFixedText(printer_name, dm.dmDeviceName, sizeof dm.dmDeviceName);
  dm.dmSpecVersion = caps.devmode_version;
  dm.dmDriverVersion = caps.driver_version;
  dm.dmSize = sizeof(DEVMODEA);
  mode.extra = caps.default_extra;
  dm.dmDriverExtra = static_cast<win::WORD>(mode.extra.size());
  dm.dmFields = win::DM_ORIENTATION | win::DM_PAPERSIZE | win::DM_PAPERLENGTH | win::DM_PAPERWIDTH | win::DM_SCALE |
                win::DM_COPIES | win::DM_PRINTQUALITY | win::DM_YRESOLUTION | win::DM_COLOR | win::DM_FORMNAME |
                win::DM_DEFAULTSOURCE;
  if (caps.duplex) dm.dmFields |= win::DM_DUPLEX;
  if (caps.collate) dm.dmFields |= win::DM_COLLATE;
  dm.dmOrientation = ValidOrientation(caps.default_orientation) ? caps.default_orientation : win::DMORIENT_PORTRAIT;
  SetPaper(dm, DefaultPaper(caps));
  dm.dmScale = 100;
  dm.dmCopies = 1;
  dm.dmDefaultSource = 7;  // DMBIN_AUTO
  dm.dmPrintQuality = static_cast<win::SHORT>(caps.default_resolution.x);
  dm.dmYResolution = static_cast<win::SHORT>(caps.default_resolution.y);
  dm.dmColor = (caps.color && caps.default_color) ? win::DMCOLOR_COLOR : win::DMCOLOR_MONOCHROME;
  dm.dmDuplex = caps.duplex ? caps.default_duplex : win::DMDUP_SIMPLEX;
  if (dm.dmDuplex < win::DMDUP_SIMPLEX || dm.dmDuplex > win::DMDUP_HORIZONTAL) {
    dm.dmDuplex = win::DMDUP_SIMPLEX;
  }
  dm.dmCollate = DMCOLLATE_FALSE;
  return mode;
}

DevMode MergeDevMode(const DevMode& base, const DevMode& in, const Capabilities& caps) {
  DevMode out = base;
  DEVMODEA& dm = out.dm;
  const DEVMODEA& src = in.dm;
  const win::DWORD f = src.dmFields;

  if ((f & win::DM_ORIENTATION) && ValidOrientation(src.dmOrientation)) {
    dm.dmOrientation = src.dmOrientation;
  }

  // Paper: a code the printer offers wins; otherwise a positive width and length make a
  // custom paper; otherwise a form name the printer knows; otherwise the base's paper stays.
  const bool has_code = f & win::DM_PAPERSIZE;
  const bool has_size =
      (f & win::DM_PAPERWIDTH) && (f & win::DM_PAPERLENGTH) && src.dmPaperWidth > 0 && src.dmPaperLength > 0;
  const Paper* paper = has_code ? caps.FindPaper(src.dmPaperSize) : nullptr;
  if (paper) {
    SetPaper(dm, *paper);
  } else if (has_size) {
    dm.dmPaperSize = DMPAPER_USER;
    dm.dmPaperWidth = src.dmPaperWidth;
    dm.dmPaperLength = src.dmPaperLength;
    CopyFixedText("Custom", dm.dmFormName, sizeof dm.dmFormName);
  } else if (f & win::DM_FORMNAME) {
    std::string form = in.FormName();
    for (const auto& p : caps.papers) {
      if (p.name == form) {
        SetPaper(dm, p);
        break;
      }
    }
  }

  if ((f & win::DM_SCALE) && src.dmScale > 0) dm.dmScale = src.dmScale;
  if (f & win::DM_COPIES) {
    int copies = std::clamp<int>(src.dmCopies, 1, std::max(1, caps.max_copies));
    dm.dmCopies = static_cast<win::SHORT>(copies);
  }
  if (f & win::DM_DEFAULTSOURCE) dm.dmDefaultSource = src.dmDefaultSource;
  if (f & win::DM_PRINTQUALITY) {
    Resolution r = SnapResolution(caps, src.dmPrintQuality, (f & win::DM_YRESOLUTION) ? src.dmYResolution : 0);
    dm.dmPrintQuality = static_cast<win::SHORT>(r.x);
    dm.dmYResolution = static_cast<win::SHORT>(r.y);
  }
  if (f & win::DM_COLOR) {
    dm.dmColor = (caps.color && src.dmColor == win::DMCOLOR_COLOR) ? win::DMCOLOR_COLOR : win::DMCOLOR_MONOCHROME;
  }
  if (f & win::DM_DUPLEX) {
    win::SHORT d = src.dmDuplex;
    if (!caps.duplex || d < win::DMDUP_SIMPLEX || d > win::DMDUP_HORIZONTAL) d = win::DMDUP_SIMPLEX;
    dm.dmDuplex = d;
  }
  if (f & win::DM_COLLATE) {
    dm.dmCollate = (caps.collate && src.dmCollate == DMCOLLATE_TRUE) ? DMCOLLATE_TRUE : DMCOLLATE_FALSE;
  }
  // Private bytes of another length come from another driver version; the driver would read
  // them with the wrong layout, so the base's are kept.
  if (in.extra.size() == out.extra.size()) out.extra = in.extra;
  dm.dmSize = sizeof(DEVMODEA);
  dm.dmDriverExtra = static_cast<win::WORD>(out.extra.size());
  return out;
}

JobOptions ResolveJobOptions(const DevMode& mode, const Capabilities& caps) {
  const DEVMODEA& dm = mode.dm;
  JobOptions o;
  const Paper* paper = caps.FindPaper(dm.dmPaperSize);
  if (paper) {
    o.paper = paper->code;
    o.paper_name = paper->name;
    o.paper_width = paper->width;
    o.paper_length = paper->length;
    o.margin_left = paper->left;
    o.margin_top = paper->top;
    o.margin_right = paper->right;
    o.margin_bottom = paper->bottom;
  } else if (dm.dmPaperWidth > 0 && dm.dmPaperLength > 0) {
    o.paper = DMPAPER_USER;
    o.paper_name = mode.FormName().empty() ? "Custom" : mode.FormName();
    o.paper_width = dm.dmPaperWidth;
    o.paper_length = dm.dmPaperLength;
    // A custom sheet takes the margins of the printer's default paper.
    const Paper& d = DefaultPaper(caps);
    o.margin_left = d.left;
    o.margin_top = d.top;
    o.margin_right = d.right;
    o.margin_bottom = d.bottom;
  } else {
    const Paper& d = DefaultPaper(caps);
    o.paper = d.code;
    o.paper_name = d.name;
    o.paper_width = d.width;
    o.paper_length = d.length;
    o.margin_left = d.left;
    o.margin_top = d.top;
    o.margin_right = d.right;
    o.margin_bottom = d.bottom;
  }
  o.orientation = ValidOrientation(dm.dmOrientation) ? dm.dmOrientation : win::DMORIENT_PORTRAIT;
  o.copies = std::clamp<int>(dm.dmCopies, 1, std::max(1, caps.max_copies));
  o.collate = caps.collate && dm.dmCollate == DMCOLLATE_TRUE;
  o.duplex = (caps.duplex && dm.dmDuplex >= win::DMDUP_SIMPLEX && dm.dmDuplex <= win::DMDUP_HORIZONTAL)
                 ? dm.dmDuplex
                 : win::DMDUP_SIMPLEX;
  o.color = caps.color && dm.dmColor == win::DMCOLOR_COLOR;
  o.resolution = SnapResolution(caps, dm.dmPrintQuality, dm.dmYResolution);
  return o;
}

PageGeometry GeometryFor(const JobOptions& o) {
  PageGeometry g;
  g.logpixels_x = o.resolution.x > 0 ? o.resolution.x : 300;
  g.logpixels_y = o.resolution.y > 0 ? o.resolution.y : g.logpixels_x;
  std::int32_t w = o.paper_width, h = o.paper_length;
  std::int32_t l = o.margin_left, t = o.margin_top, r = o.margin_right, b = o.margin_bottom;
  if (o.orientation == win::DMORIENT_LANDSCAPE) {
    std::swap(w, h);
    // Turned counter-clockwise: the portrait's right edge is on top.
    std::int32_t nl = t, nt = r, nr = b, nb = l;
    l = nl;
    t = nt;
    r = nr;
    b = nb;
  }
  auto px = [](std::int64_t tenth_mm, int dpi) { return static_cast<int>(tenth_mm * dpi / 254); };
  g.physical_width = px(w, g.logpixels_x);
  g.physical_height = px(h, g.logpixels_y);
  g.offset_x = px(l, g.logpixels_x);
  g.offset_y = px(t, g.logpixels_y);
  g.horzres = std::max(0, g.physical_width - g.offset_x - px(r, g.logpixels_x));
  g.vertres = std::max(0, g.physical_height - g.offset_y - px(b, g.logpixels_y));
  g.horzsize_mm = static_cast<int>(std::max(0, w - l - r) / 10);
  g.vertsize_mm = static_cast<int>(std::max(0, h - t - b) / 10);
  return g;
}

Result<std::vector<std::uint8_t>> MakeDevNames(const std::string& driver, const std::string& device,
                                               const std::string& output) {
  for (const std::string* s : {&driver, &device, &output}) {
    if (s->find('\0') != std::string::npos) return Status::InvalidArgument("name holds a NUL");
  }
  const std::size_t dev_off = sizeof(win::DEVNAMES) + driver.size() + 1;
  const std::size_t out_off = dev_off + device.size() + 1;
  const std::size_t total = out_off + output.size() + 1;
  // The block's offsets are 16-bit words.
  if (out_off > 0xFFFF) return Status::InvalidArgument("names too long for a DEVNAMES block");
  std::vector<std::uint8_t> block(total, 0);
  win::DEVNAMES head{static_cast<win::WORD>(sizeof(win::DEVNAMES)), static_cast<win::WORD>(dev_off),
                     static_cast<win::WORD>(out_off), 0};
  win::StoreRecord(std::span(block), 0, head);
  std::memcpy(block.data() + sizeof(win::DEVNAMES), driver.data(), driver.size());
  std::memcpy(block.data() + dev_off, device.data(), device.size());
  std::memcpy(block.data() + out_off, output.data(), output.size());
  return block;
}

Result<DevNames> ParseDevNames(std::span<const std::uint8_t> bytes) {
  auto head = win::LoadRecord<win::DEVNAMES>(bytes);
  if (!head) return Status::InvalidArgument("DEVNAMES block shorter than its record");
  auto text_at = [&](win::WORD off, std::string& out) -> bool {
    if (off < sizeof(win::DEVNAMES) || off >= bytes.size()) return false;
    const auto* begin = bytes.data() + off;
    const auto* end = static_cast<const std::uint8_t*>(std::memchr(begin, 0, bytes.size() - off));
    if (!end) return false;
    out.assign(reinterpret_cast<const char*>(begin), end - begin);
    return true;
  };
  DevNames n;
  if (!text_at(head->wDriverOffset, n.driver) || !text_at(head->wDeviceOffset, n.device) ||
      !text_at(head->wOutputOffset, n.output)) {
    return Status::InvalidArgument("DEVNAMES offset outside the block or name not terminated");
  }
  n.default_flag = head->wDefault;
  return n;
}

}  // namespace zv::spool
