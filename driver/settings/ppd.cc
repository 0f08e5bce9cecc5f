#include "driver/settings/ppd.h"

#include <cstdio>

#include "driver/settings/devmode.h"

namespace zv::driver {
namespace {

std::string Points(int mm10) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", mm10 * 72.0 / 254.0);
  std::string s = buf;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s;
}

constexpr int kMarginChoices[] = {0, 50, 100, 150, 200, 250, 300};

}  // namespace

std::vector<MarginOption> MarginOptions() {
  return {{"ZelvoraLeftMargin", "DefaultLeftMargin"},
          {"ZelvoraRightMargin", "DefaultRightMargin"},
          {"ZelvoraTopMargin", "DefaultTopMargin"},
          {"ZelvoraBottomMargin", "DefaultBottomMargin"}};
}

std::optional<std::uint16_t> ParseMarginChoice(std::string_view choice) {
  for (int m : kMarginChoices)
    if (choice == std::to_string(m / 10) + "mm") return static_cast<std::uint16_t>(m);
  return std::nullopt;
}

std::optional<int> ParseResolutionChoice(std::string_view choice) {
  for (const auto& r : ResolutionTable()) {
    const std::string d = std::to_string(r.dpi);
    if (choice == d + "dpi" || choice == d + "x" + d + "dpi") return r.dpi;
  }
  return std::nullopt;
}

std::optional<std::string> PpdDefault(std::string_view ppd, std::string_view keyword) {
  const std::string key = "*Default" + std::string(keyword) + ":";
  for (std::size_t at = 0; at < ppd.size();) {
    std::size_t end = ppd.find('\n', at);
    if (end == std::string_view::npos) end = ppd.size();
    std::string_view line = ppd.substr(at, end - at);
    if (line.substr(0, key.size()) == key) {
      line.remove_prefix(key.size());
      while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
      return std::string(line);
    }
    at = end + 1;
  }
  return std::nullopt;
}

std::string GeneratePpd(PpdQueue queue) {
  const bool raster = queue == PpdQueue::kRaster;
  const std::string model = raster ? "Zelvora Printer (raster)" : "Zelvora Printer";
  std::string s;
  auto line = [&](const std::string& l) { s += l + "\n"; };
  line("*PPD-Adobe: \"4.3\"");
  line(raster ? "*% The virtual printer of Zelvora, raster road: the kelvad filter renders each page into the"
              : "*% The virtual printer of Zelvora: the PDF passes to the backend untouched; papers,");
  line(raster ? "*% page raster stream for the olviport backend. Generated from the driver's tables."
              : "*% resolutions and margins are those of the driver's tables, from which this file is generated.");
  line("*FormatVersion: \"4.3\"");
  line("*FileVersion: \"1.1\"");
  line("*LanguageVersion: English");
  line("*LanguageEncoding: ISOLatin1");
  line(raster ? "*PCFileName: \"ZVRASTER.PPD\"" : "*PCFileName: \"ZELVORA.PPD\"");
  line("*Manufacturer: \"Orbelin\"");
  line(raster ? "*Product: \"(Zelvora Raster)\"" : "*Product: \"(Zelvora)\"");
  line("*ModelName: \"" + model + "\"");
  line("*ShortNickName: \"" + model + "\"");
  line("*NickName: \"" + model + "\"");
  line("*PSVersion: \"(3010.000) 0\"");
  line("*LanguageLevel: \"3\"");
  line("*ColorDevice: True");
  line("*DefaultColorSpace: RGB");
  line("*FileSystem: False");
  line("*Throughput: \"10\"");
  line("*LandscapeOrientation: Plus90");
  line("*TTRasterizer: Type42");
  line("*cupsVersion: 2.4");
  line(raster ? "*cupsFilter2: \"application/pdf application/vnd.zelvora-raster 0 kelvad\""
              : "*cupsFilter2: \"application/pdf application/vnd.cups-pdf 0 -\"");
  // Plain text is laid out by the queues' own text filter (in a Japanese face), not by the
  // distribution's text filter.
  line(raster ? "*cupsFilter2: \"text/plain application/vnd.zelvora-raster 0 zelvora-texttoraster\""
              : "*cupsFilter2: \"text/plain application/vnd.cups-pdf 0 zelvora-texttopdf\"");
  line("");

  // The papers of the table at 200 dpi; the user-defined paper is set through the device mode.
  std::vector<PaperRow> rows;
  for (int p = 0; p < kPaperCount; ++p) {
    PaperRow r = StaticPaperRow(4 * kPaperCount + p);
    if (r.code != kUserPaperCode) rows.push_back(r);
  }
  auto name_of = [](const PaperRow& r) { return std::string(PaperByCode(r.code)->ppd_name); };
  for (const char* ui : {"PageSize", "PageRegion"}) {
    line(std::string("*OpenUI *") + ui + "/Media Size: PickOne");
    line(std::string("*OrderDependency: 10 AnySetup *") + ui);
    line(std::string("*Default") + ui + ": A4");
    for (const auto& r : rows)
      line(std::string("*") + ui + " " + name_of(r) + "/" + name_of(r) + ": \"<</PageSize[" + Points(r.width_mm10) +
           " " + Points(r.height_mm10) + "]/ImagingBBox null>>setpagedevice\"");
    line(std::string("*CloseUI: *") + ui);
    line("");
  }
  line("*DefaultImageableArea: A4");
  for (const auto& r : rows)
    line("*ImageableArea " + name_of(r) + "/" + name_of(r) + ": \"" + Points(kDefaultMargin) + " " +
         Points(kDefaultMargin) + " " + Points(r.width_mm10 - kDefaultMargin) + " " +
         Points(r.height_mm10 - kDefaultMargin) + "\"");
  line("*DefaultPaperDimension: A4");
  for (const auto& r : rows)
    line("*PaperDimension " + name_of(r) + "/" + name_of(r) + ": \"" + Points(r.width_mm10) + " " +
         Points(r.height_mm10) + "\"");
  line("");

  line("*OpenUI *Resolution/Resolution: PickOne");
  line("*OrderDependency: 20 AnySetup *Resolution");
  line("*DefaultResolution: " + std::to_string(kDefaultResolution) + "dpi");
  for (const auto& r : ResolutionTable()) {
    const std::string d = std::to_string(r.dpi);
    line("*Resolution " + d + "dpi/" + d + " dpi: \"<</HWResolution[" + d + " " + d + "]>>setpagedevice\"");
  }
  line("*CloseUI: *Resolution");
  line("");

  const char* labels[] = {"Left margin", "Right margin", "Top margin", "Bottom margin"};
  int i = 0;
  for (const auto& m : MarginOptions()) {
    const std::string k = m.keyword;
    line("*OpenUI *" + k + "/" + labels[i++] + ": PickOne");
    line("*OrderDependency: 30 AnySetup *" + k);
    line("*Default" + k + ": " + std::to_string(kDefaultMargin / 10) + "mm");
    for (int c : kMarginChoices) {
      const std::string mm = std::to_string(c / 10);
      line("*" + k + " " + mm + "mm/" + mm + " mm: \"\"");
    }
    line("*CloseUI: *" + k);
    line("");
  }
  line("*DefaultFont: Courier");
  line("*Font Courier: Standard \"(002.004S)\" Standard ROM");
  line(raster ? "*% End of zelvora-raster.ppd" : "*% End of zelvora.ppd");
  return s;
}

}  // namespace zv::driver
