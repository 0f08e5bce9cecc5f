#include "driver/settings/devmode.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/codepage/codepage.h"
#include "platform/lasterror/last_error.h"

namespace zv::driver {
namespace {

constexpr ResolutionEntry kResolutions[] = {
    {75, 1300, "75x75"},    {100, 1301, "100x100"}, {120, 1302, "120x120"}, {150, 1303, "150x150"},
    {200, 1304, "200x200"}, {300, 1305, "300x300"}, {600, 1306, "600x600"},
};
constexpr int kResolutionCount = 7;

constexpr PaperInfo kPapers[kPaperCount] = {
    {258, 1202, "A1", "A1"},     {66, 1203, "A2", "A2"},           {8, 1204, "A3", "A3"},
    {9, 1205, "A4", "A4"},       {11, 1206, "A5", "A5"},           {12, 1207, "B4", "B4"},
    {13, 1208, "B5", "B5"},      {88, 1209, "B6", "B6"},           {1, 1200, "Letter", "Letter"},
    {5, 1201, "Legal", "Legal"}, {43, 1210, "はがき", "Postcard"}, {259, 1211, "ﾕｰｻﾞ定義", "User"},
};

// Paper sizes in 0.1 mm (A5 is narrower at 75 and 150 dpi).
constexpr std::uint16_t kSizes[kPaperCount][2] = {
    {5940, 8400}, {4200, 5940}, {2970, 4200}, {2100, 2970}, {1490, 2100}, {2570, 3640},
    {1820, 2570}, {1280, 1820}, {2160, 2790}, {2160, 3560}, {1000, 1480}, {2100, 2970},
};

// Paper sizes in pixels by resolution index, then paper.
constexpr std::uint16_t kPixels[kResolutionCount][kPaperCount][2] = {
    {{1754, 2480},
     {1240, 1753},
     {877, 1240},
     {620, 876},
     {438, 620},
     {758, 1074},
     {537, 758},
     {378, 537},
     {638, 825},
     {638, 1050},
     {294, 437},
     {620, 877}},
    {{2338, 3308},
     {1654, 2338},
     {1169, 1654},
     {826, 1170},
     {585, 827},
     {1010, 1432},
     {717, 1011},
     {504, 716},
     {850, 1100},
     {850, 1400},
     {394, 583},
     {827, 1169}},
    {{2806, 3968},
     {1984, 2806},
     {1403, 1984},
     {992, 1404},
     {702, 992},
     {1214, 1720},
     {860, 1214},
     {604, 860},
     {1020, 1320},
     {1020, 1680},
     {472, 699},
     {991, 1403}},
    {{3508, 4960},
     {2480, 3508},
     {1754, 2480},
     {1240, 1754},
     {877, 1240},
     {1518, 2150},
     {1075, 1518},
     {756, 1075},
     {1275, 1650},
     {1275, 2100},
     {591, 874},
     {1240, 1754}},
    {{4678, 6614},
     {3370, 4677},
     {2339, 3307},
     {1654, 2338},
     {1169, 1654},
     {2024, 2866},
     {1433, 2024},
     {1008, 1433},
     {1700, 2200},
     {1700, 2800},
     {787, 1165},
     {1654, 2339}},
    {{7016, 9922},
     {4961, 7016},
     {3508, 4961},
     {2480, 3508},
     {1754, 2480},
     {3034, 4300},
     {2150, 3035},
     {1512, 2150},
     {2550, 3300},
     {2550, 4200},
     {1181, 1748},
     {2480, 3508}},
    {{14032, 19842},
     {9921, 14031},
     {7016, 9921},
     {4960, 7016},
     {3508, 4961},
     {6070, 8598},
     {4299, 6081},
     {3024, 4299},
     {5100, 6600},
     {5100, 8400},
     {2362, 3496},
     {4961, 7016}},
};

template <typename T>
T Load(std::span<const std::uint8_t> bytes, std::size_t offset) {
  T v;
  std::memcpy(&v, bytes.data() + offset, sizeof v);
  return v;
}
template <typename T>
void Store(std::span<std::uint8_t> bytes, std::size_t offset, T v) {
  std::memcpy(bytes.data() + offset, &v, sizeof v);
}

constexpr std::size_t kOffSpecVersion = 64, kOffDriverVersion = 66, kOffSize = 68, kOffExtra = 70;

// The header of a device mode held in `bytes`, when the bytes hold it whole.
struct Header {
  std::uint16_t size = 0, extra = 0;
};
std::optional<Header> CheckedHeader(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kMinDevmodeSize) return std::nullopt;
  Header h{Load<std::uint16_t>(bytes, kOffSize), Load<std::uint16_t>(bytes, kOffExtra)};
  if (h.size < kMinDevmodeSize || std::size_t{h.size} + h.extra > bytes.size()) return std::nullopt;
  return h;
}

void FillComputerName(PrivatePart& priv, PlatformOps& ops) {
  std::memset(priv.computer_name, 0, sizeof priv.computer_name);
  std::string name = ops.ComputerName();
  if (name.size() > 128) name.resize(128);
  std::string ansi = WideToAnsi(name, ops.AnsiCodePage());
  std::size_t n = std::min(ansi.size(), sizeof priv.computer_name - 1);
  // Do not leave half of a double-byte character at the end.
  if (ops.AnsiCodePage() == 932) n = codepage::Cp932FitLength(ansi, n);
  std::memcpy(priv.computer_name, ansi.data(), n);
}

}  // namespace

std::span<const ResolutionEntry> ResolutionTable() { return kResolutions; }

int ResolutionIndex(int resolution, int fallback) {
  for (int i = 0; i < kResolutionCount; ++i)
    if (kResolutions[i].dpi == resolution) return i;
  for (int i = 0; i < kResolutionCount; ++i)
    if (kResolutions[i].dpi == fallback) return i;
  return kResolutionCount;
}

bool IsKnownResolution(int resolution) { return ResolutionIndex(resolution, -2) < kResolutionCount; }

std::span<const PaperInfo> Papers() { return kPapers; }

const PaperInfo* PaperByCode(std::uint16_t code) {
  for (const auto& p : kPapers)
    if (p.code == code) return &p;
  return nullptr;
}

const PaperInfo* PaperByPpdName(std::string_view name) {
  for (const auto& p : kPapers) {
    std::string_view n = p.ppd_name;
    if (n.size() == name.size() && std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        }))
      return &p;
  }
  return nullptr;
}

PaperRow StaticPaperRow(int row) {
  row = std::clamp(row, 0, kPaperRowCount - 1);
  const int r = row / kPaperCount, p = row % kPaperCount;
  PaperRow out{};
  out.code = kPapers[p].code;
  out.dpi = static_cast<std::uint16_t>(kResolutions[r].dpi);
  out.width_px = out.printable_w_px = kPixels[r][p][0];
  out.height_px = out.printable_h_px = kPixels[r][p][1];
  out.width_mm10 = out.printable_w_mm10 = kSizes[p][0];
  out.height_mm10 = out.printable_h_mm10 = kSizes[p][1];
  if (p == 4 && (kResolutions[r].dpi == 75 || kResolutions[r].dpi == 150))
    out.width_mm10 = out.printable_w_mm10 = kResolutions[r].dpi == 75 ? 1480 : 1470;
  out.name_id = static_cast<std::uint16_t>(kPapers[p].name_id);
  return out;
}

std::uint32_t TenthMmToPixels(std::uint32_t resolution, std::uint32_t length) {
  const std::uint32_t factor = resolution * 1000u / 254u;
  return static_cast<std::uint32_t>(std::uint64_t{length} * factor / 1000u);
}

PaperSettings EffectivePaperSettings(const PrivatePart& priv) {
  auto margin = [](std::uint16_t m) { return m > kMaxMargin ? kDefaultMargin : m; };
  auto side = [](std::uint16_t v, std::uint16_t def) { return (v < kMinUserPaper || v > kMaxUserPaper) ? def : v; };
  return {margin(priv.margin_left),   margin(priv.margin_right),         margin(priv.margin_top),
          margin(priv.margin_bottom), side(priv.user_paper_width, 2100), side(priv.user_paper_height, 2970)};
}

void SanitizePrivatePart(PrivatePart& priv) {
  PaperSettings s = EffectivePaperSettings(priv);
  priv.margin_left = s.left;
  priv.margin_right = s.right;
  priv.margin_top = s.top;
  priv.margin_bottom = s.bottom;
  priv.user_paper_width = s.user_width;
  priv.user_paper_height = s.user_height;
  priv.computer_name[sizeof priv.computer_name - 1] = '\0';
}

PaperRow ComputePaperRow(int row, const PRIVDEVMODE& mode, bool landscape) {
  PaperRow p = StaticPaperRow(row);
  const PaperSettings s = EffectivePaperSettings(mode.priv);
  auto px = [&](std::uint32_t v) { return static_cast<std::uint16_t>(TenthMmToPixels(p.dpi, v)); };
  if (p.code == kUserPaperCode) {
    p.width_px = px(s.user_width);
    p.height_px = px(s.user_height);
    p.width_mm10 = s.user_width;
    p.height_mm10 = s.user_height;
  }
  p.printable_w_px = static_cast<std::uint16_t>(p.width_px - px(s.left) - px(s.right));
  p.printable_h_px = static_cast<std::uint16_t>(p.height_px - px(s.top) - px(s.bottom));
  p.left_px = px(s.left);
  p.top_px = px(s.top);
  p.printable_w_mm10 = static_cast<std::uint16_t>(p.width_mm10 - s.left - s.right);
  p.printable_h_mm10 = static_cast<std::uint16_t>(p.height_mm10 - s.top - s.bottom);
  if (!landscape) return p;
  PaperRow q = p;
  std::swap(q.width_px, q.height_px);
  std::swap(q.width_mm10, q.height_mm10);
  q.printable_w_px = p.printable_h_px;
  q.printable_h_px = p.printable_w_px;
  q.left_px = px(s.bottom);
  q.top_px = px(s.left);
  q.printable_w_mm10 = p.printable_h_mm10;
  q.printable_h_mm10 = p.printable_w_mm10;
  return q;
}

int GetDefaultResolution(PlatformOps& ops, std::string_view printer) {
  int result = kDefaultResolution;
  if (printer.empty()) return result;
  PrinterHandle h = ops.OpenPrinter(printer);
  if (h == 0) return result;
  if (auto v = GetPrinterDword(ops, h, "DefaultResolution"); v && *v <= 600 && IsKnownResolution(static_cast<int>(*v)))
    result = static_cast<int>(*v);
  ops.ClosePrinter(h);
  return result;
}

int FindPaperRow(const PRIVDEVMODE& mode, PlatformOps& ops, std::string_view printer) {
  const int fallback = GetDefaultResolution(ops, printer);
  const int index = ResolutionIndex(mode.dm.dmPrintQuality, fallback);
  if (index >= kResolutionCount) return kA4At200Row;
  for (int p = 0; p < kPaperCount; ++p)
    if (kPapers[p].code == static_cast<std::uint16_t>(mode.dm.dmPaperSize)) return index * kPaperCount + p;
  return index * kPaperCount + 3;  // A4
}

int FindPaperRowExact(const PRIVDEVMODE& mode) {
  const int index = ResolutionIndex(mode.dm.dmPrintQuality, -2);
  if (index >= kResolutionCount) return -1;
  for (int p = 0; p < kPaperCount; ++p)
    if (kPapers[p].code == static_cast<std::uint16_t>(mode.dm.dmPaperSize)) return index * kPaperCount + p;
  return -1;
}

void InitDevmodeDefaults(PRIVDEVMODE& mode, PlatformOps& ops, std::string_view printer) {
  auto& dm = mode.dm;
  if (!printer.empty()) {
    auto wide = codepage::Utf8ToUtf16(printer, codepage::OnError::kSubstitute);
    std::u16string name = wide.ok() ? *wide : std::u16string();
    CopyStringW(dm.dmDeviceName, std::u16string_view(name).substr(0, 31), 32);
    dm.dmDriverVersion = kDriverVersion;
    dm.dmSpecVersion = 0x0401;
    dm.dmDriverExtra = kPrivateSize;
  }
  dm.dmSize = kStdDevmodeSize;
  dm.dmFields = kDefaultFields;
  dm.dmOrientation = win::DMORIENT_PORTRAIT;
  dm.dmPaperSize = 9;
  dm.dmPaperLength = 0;
  dm.dmPaperWidth = 0;
  dm.dmScale = 100;
  dm.dmCopies = 1;
  dm.dmDefaultSource = 0;
  dm.dmPrintQuality = kDefaultResolution;
  dm.dmColor = win::DMCOLOR_COLOR;
  dm.dmDuplex = win::DMDUP_SIMPLEX;
  dm.dmYResolution = kDefaultResolution;
  dm.dmTTOption = 1;
  dm.dmCollate = 0;
  std::memset(dm.dmFormName, 0, sizeof dm.dmFormName);
  auto* tail = reinterpret_cast<std::uint8_t*>(&dm) + offsetof(win::DEVMODEW, dmLogPixels);
  std::memset(tail, 0, sizeof(win::DEVMODEW) - offsetof(win::DEVMODEW, dmLogPixels));
  mode.priv.user_paper_width = 2100;
  mode.priv.user_paper_height = 2970;
  mode.priv.margin_left = mode.priv.margin_right = mode.priv.margin_top = mode.priv.margin_bottom = kDefaultMargin;
  PaperRow row = ComputePaperRow(FindPaperRow(mode, ops, printer), mode);
  dm.dmPaperWidth = static_cast<win::SHORT>(row.width_mm10);
  dm.dmPaperLength = static_cast<win::SHORT>(row.height_mm10);
  const int res = GetDefaultResolution(ops, printer);
  dm.dmPrintQuality = dm.dmYResolution = static_cast<win::SHORT>(res);
}

PRIVDEVMODE BuildDefaultDevmode(PlatformOps& ops, std::string_view printer) {
  PRIVDEVMODE mode;
  std::memset(&mode, 0, sizeof mode);
  mode.dm.dmSize = kStdDevmodeSize;
  std::memcpy(mode.priv.tag, "PRIV", 4);
  const std::uint32_t cp = ops.AnsiCodePage();
  mode.priv.flags = (cp == 1252 || IsCjkCodePage(cp)) ? 0xA0 : 0;
  mode.priv.flags |= 0x1000;
  // COLORADJUSTMENT: size 24, flags 0, illuminant 0, gammas 10000, black 0, white 10000.
  const std::uint16_t adjust[12] = {24, 0, 0, 10000, 10000, 10000, 0, 10000, 0, 0, 0, 0};
  std::memcpy(mode.priv.color_adjustment, adjust, sizeof adjust);
  InitDevmodeDefaults(mode, ops, printer);
  FillComputerName(mode.priv, ops);
  PrinterHandle h = printer.empty() ? 0 : ops.OpenPrinter(printer);
  if (h == 0) return mode;
  if (auto v = GetPrinterDword(ops, h, "DefaultResolution"); v && *v <= 600 && IsKnownResolution(static_cast<int>(*v)))
    mode.dm.dmPrintQuality = mode.dm.dmYResolution = static_cast<win::SHORT>(*v);
  const std::pair<const char*, std::uint16_t PrivatePart::*> margins[] = {
      {"DefaultLeftMargin", &PrivatePart::margin_left},
      {"DefaultRightMargin", &PrivatePart::margin_right},
      {"DefaultTopMargin", &PrivatePart::margin_top},
      {"DefaultBottomMargin", &PrivatePart::margin_bottom},
  };
  for (const auto& [name, field] : margins)
    if (auto v = GetPrinterDword(ops, h, name); v && *v < 301) mode.priv.*field = static_cast<std::uint16_t>(*v);
  ops.ClosePrinter(h);
  return mode;
}

int MergeDevmode(PlatformOps& ops, std::string_view printer, PRIVDEVMODE& target,
                 std::span<const std::uint8_t> source) {
  if (source.empty()) return 1;
  auto header = CheckedHeader(source);
  if (!header) {
    ZvSetLastError(win::kErrorInvalidParameter);
    return 0;
  }
  PRIVDEVMODE work = target;
  if (ConvertDevmode(source, MutableBytes(work)) <= 0) {
    ZvSetLastError(win::kErrorInvalidParameter);
    return 0;
  }
  const std::uint32_t fields = Load<std::uint32_t>(source, 72);
  auto& t = target.dm;
  if (fields & win::DM_ORIENTATION) {
    t.dmOrientation = (work.dm.dmOrientation == 1 || work.dm.dmOrientation == 2) ? work.dm.dmOrientation : 1;
    t.dmFields |= win::DM_ORIENTATION;
  }
  if (fields & win::DM_COLOR) {
    t.dmColor = win::DMCOLOR_COLOR;
    t.dmFields |= win::DM_COLOR;
  }
  if (fields & win::DM_PAPERSIZE) {
    // An unknown paper finds the A4 row, whose code then stands in the mode.
    const PaperRow row = ComputePaperRow(FindPaperRow(work, ops, printer), work);
    t.dmPaperSize = work.dm.dmPaperSize = static_cast<win::SHORT>(row.code);
    t.dmPaperWidth = work.dm.dmPaperWidth = static_cast<win::SHORT>(row.width_mm10);
    t.dmPaperLength = work.dm.dmPaperLength = static_cast<win::SHORT>(row.height_mm10);
    t.dmFields |= win::DM_PAPERSIZE;
  }
  t.dmFields &= ~win::DM_FORMNAME;
  if (fields & win::DM_COPIES) {
    t.dmCopies = 1;
    t.dmFields |= win::DM_COPIES;
  }
  int notes = 0;
  if (fields & win::DM_PRINTQUALITY) {
    const bool valid = IsKnownResolution(work.dm.dmPrintQuality);
    t.dmPrintQuality = valid ? work.dm.dmPrintQuality : static_cast<win::SHORT>(kDefaultResolution);
    notes += valid ? 2 : 1;
    t.dmFields |= win::DM_PRINTQUALITY;
  }
  if (fields & win::DM_YRESOLUTION) {
    const bool valid = IsKnownResolution(work.dm.dmYResolution);
    t.dmYResolution = valid ? work.dm.dmYResolution : static_cast<win::SHORT>(kDefaultResolution);
    notes += valid ? 32 : 16;
    t.dmFields |= win::DM_YRESOLUTION;
  }
  // Only square resolutions are printed: the two fields are made equal, the valid one winning,
  // and the print quality when both are valid.
  switch (notes) {
    case 1:
    case 2:
    case 18:
    case 34:
      t.dmYResolution = t.dmPrintQuality;
      break;
    case 16:
    case 32:
    case 33:
      t.dmPrintQuality = t.dmYResolution;
      break;
    default:
      break;
  }
  // The caller's private part as the conversion left it in the work copy (what the caller
  // did not bring is the default's), when it is one of ours; checked before anyone uses it.
  if (std::memcmp(work.priv.tag, "PRIV", 4) == 0) {
    target.priv = work.priv;
    SanitizePrivatePart(target.priv);
  }
  FillComputerName(target.priv, ops);
  return 1;
}

int GetFormInfo(PRIVDEVMODE& mode, FormInfo& out) {
  const int row = FindPaperRowExact(mode);
  if (row < 0) return 2;
  const PaperRow p = ComputePaperRow(row, mode);
  const PaperInfo* info = PaperByCode(p.code);
  out = FormInfo{};
  out.name = info ? info->name : "";
  out.cx = p.printable_w_mm10 * 100;
  out.cy = p.printable_h_mm10 * 100;
  out.right = out.cx;
  out.bottom = out.cy;
  auto wide = codepage::Utf8ToUtf16(out.name, codepage::OnError::kSubstitute);
  std::u16string name = wide.ok() ? *wide : std::u16string();
  CopyStringW(mode.dm.dmFormName, std::u16string_view(name).substr(0, 31), 32);
  return 0;
}

std::uint16_t GetDevmodeVersion(std::span<const std::uint8_t> mode) {
  if (mode.size() < kOffSize + 2) return 0;
  // The layout follows from the size: the three sizes a driver meets name their versions outright,
  // whatever the version field claims; only other sizes are taken at their word.
  switch (Load<std::uint16_t>(mode, kOffSize)) {
    case 188:
      return 0x0320;
    case 212:
      return 0x0400;
    case 220:
      return 0x0401;
    default:
      return Load<std::uint16_t>(mode, kOffSpecVersion);
  }
}

int ConvertDevmode(std::span<const std::uint8_t> source, std::span<std::uint8_t> destination) {
  auto sh = CheckedHeader(source);
  auto dh = CheckedHeader(destination);
  if (!sh || !dh) return -1;
  const std::uint16_t dversion = GetDevmodeVersion(destination);
  if (GetDevmodeVersion(source) == 0 || dversion == 0) return -1;
  // The destination keeps its own header: its owner reads it with its own layout, so only the
  // shared part of the public fields and of the private bytes is carried over.
  const std::uint16_t ddriver = Load<std::uint16_t>(destination, kOffDriverVersion);
  const std::size_t common = std::min(sh->size, dh->size);
  std::memmove(destination.data(), source.data(), common);
  Store<std::uint16_t>(destination, kOffSpecVersion, dversion);
  Store<std::uint16_t>(destination, kOffDriverVersion, ddriver);
  Store<std::uint16_t>(destination, kOffSize, dh->size);
  Store<std::uint16_t>(destination, kOffExtra, dh->extra);
  const std::size_t priv = std::min(sh->extra, dh->extra);
  std::memmove(destination.data() + dh->size, source.data() + sh->size, priv);
  return static_cast<int>(common + priv);
}

int CopyOrConvertDevmode(std::span<const std::uint8_t> source, std::span<const std::uint8_t> templ,
                         std::span<std::uint8_t> destination) {
  auto sh = CheckedHeader(source);
  if (!sh) {
    ZvSetLastError(win::kErrorInvalidParameter);
    return 0;
  }
  if (templ.empty()) {
    const std::size_t n = std::size_t{sh->size} + sh->extra;
    if (destination.size() < n) {
      ZvSetLastError(win::kErrorInvalidParameter);
      return 0;
    }
    std::memmove(destination.data(), source.data(), n);
    return 1;
  }
  auto th = CheckedHeader(templ);
  if (!th || destination.size() < kMinDevmodeSize) {
    ZvSetLastError(win::kErrorInvalidParameter);
    return 0;
  }
  auto by_size = th->size < sh->size ? templ : source;
  auto by_extra = th->extra < sh->extra ? templ : source;
  const std::uint16_t size = Load<std::uint16_t>(by_size, kOffSize);
  const std::uint16_t extra = Load<std::uint16_t>(by_extra, kOffExtra);
  if (std::size_t{size} + extra > destination.size()) {
    ZvSetLastError(win::kErrorInvalidParameter);
    return 0;
  }
  Store<std::uint16_t>(destination, kOffSpecVersion, Load<std::uint16_t>(by_size, kOffSpecVersion));
  Store<std::uint16_t>(destination, kOffSize, size);
  Store<std::uint16_t>(destination, kOffDriverVersion, Load<std::uint16_t>(by_extra, kOffDriverVersion));
  Store<std::uint16_t>(destination, kOffExtra, extra);
  return ConvertDevmode(source, destination) > 0 ? 1 : 0;
}

int CommonConvertDevmode(std::span<const std::uint8_t> in, std::span<std::uint8_t> out, std::uint32_t* size, int mode,
                         const DevmodeVersions& versions) {
  if (size == nullptr) {
    ZvSetLastError(win::kErrorInvalidParameter);
    return 0;
  }
  // The caller's size may not claim more than the buffer holds.
  const std::size_t room = std::min<std::size_t>(*size, out.size());
  switch (mode) {
    case kConvertToCurrent: {
      auto oh = CheckedHeader(out.first(std::min(room, out.size())));
      if (oh && ConvertDevmode(in, out.first(room)) > 0) {
        *size = std::uint32_t{oh->size} + oh->extra;
        return 1;
      }
      ZvSetLastError(win::kErrorInvalidParameter);
      return 0;
    }
    case kConvertTo351: {
      const std::uint32_t needed = 188u + versions.old_private;
      if (out.empty() || room < needed) {
        *size = needed;
        // 122 is "buffer too small": the caller is expected to ask again with *size bytes.
        ZvSetLastError(122);
        return 0;
      }
      std::memset(out.data(), 0, needed);
      Store<std::uint16_t>(out, kOffSpecVersion, 0x0320);
      Store<std::uint16_t>(out, kOffSize, 188);
      Store<std::uint16_t>(out, kOffDriverVersion, versions.old_driver);
      Store<std::uint16_t>(out, kOffExtra, versions.old_private);
      if (ConvertDevmode(in, out.first(needed)) > 0) {
        *size = needed;
        return 1;
      }
      ZvSetLastError(win::kErrorInvalidParameter);
      return 0;
    }
    case kConvertDriverDefault: {
      const std::uint32_t needed = 220u + versions.current_private;
      const bool fits = !out.empty() && room >= needed;
      *size = needed;
      if (fits) return 2;
      ZvSetLastError(122);
      return 0;
    }
    default:
      return 2;
  }
}

void CopyStringW(char16_t* destination, std::u16string_view source, std::size_t count) {
  if (count == 0) return;
  const std::size_t n = std::min(source.size(), count - 1);
  std::copy_n(source.data(), n, destination);
  std::fill(destination + n, destination + count, u'\0');
}

bool IsCjkCodePage(std::uint32_t cp) { return cp == 932 || cp == 936 || cp == 949 || cp == 950; }

std::string WideToAnsi(std::string_view utf8, std::uint32_t code_page) {
  if (code_page == 932) {
    auto r = codepage::Utf8ToCp932(utf8, codepage::OnError::kSubstitute);
    if (r.ok()) return *r;
  }
  std::string out;
  auto wide = codepage::Utf8ToUtf16(utf8, codepage::OnError::kSubstitute);
  if (!wide.ok()) return out;
  for (char16_t c : *wide) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

bool IsMetricCountry(PlatformOps& ops) {
  auto text = ops.CountryCode();
  if (!text) return false;
  int n = 0;
  for (char c : *text) {
    if (c < '0' || c > '9' || n > 100000) break;
    n = n * 10 + (c - '0');
  }
  // North America (1, 2) and the Latin American codes use Letter paper; everywhere else is metric.
  return !(n == 1 || n == 2 || (n >= 50 && n <= 59) || (n >= 500 && n <= 599));
}

std::string FieldText(const char16_t* field, std::size_t count) {
  std::size_t n = 0;
  while (n < count && field[n] != u'\0') ++n;
  auto r = codepage::Utf16ToUtf8(std::u16string_view(field, n), codepage::OnError::kSubstitute);
  return r.ok() ? *r : std::string();
}

}  // namespace zv::driver
