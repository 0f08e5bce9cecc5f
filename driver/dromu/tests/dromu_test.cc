#include "driver/dromu/dromu.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/lasterror/last_error.h"

namespace zv::driver::dromu {
namespace {

constexpr const char* kPrinter = "Zelvora";
constexpr const char* kDriver = "Wexlan Printer";

// One printer "Zelvora" of the driver, with an in-memory spooler.
struct Fixture {
  MemoryPlatform platform;
  MemoryQueries queries{platform};
  PrinterHandle handle = 0;
  Fixture() {
    platform.printers[kPrinter];
    platform.printers[kDriver];  // the driver's name carries the defaults
    queries.printers[kPrinter];
    handle = platform.OpenPrinter(kPrinter);
  }
  Host host() { return {platform, queries}; }
};

std::int32_t Get32(const std::vector<std::uint8_t>& b, std::size_t off) {
  std::int32_t v;
  std::memcpy(&v, b.data() + off, 4);
  return v;
}

TEST(DromuCapabilities, ScalarValues) {
  Fixture f;
  struct Case {
    std::uint16_t cap;
    long want;
  };
  const Case cases[] = {
      {kDcFields, static_cast<long>(kDefaultFields)},
      {kDcBins, 0},
      {kDcDuplex, 0},
      {kDcBinNames, 0},
      {kDcSize, 220},
      {kDcExtra, 344},
      {kDcVersion, 0x0401},
      {kDcDriver, 0x0101},
      {kDcEnumResolutions, 7},
      {kDcFileDependencies, 0},
      {kDcTrueType, 1},
      {kDcCopies, 1},
      {kDcOrientation, 90},
      {kDcPapers, 12},
      {kDcPaperSize, 12},
      {kDcPaperNames, 12},
      {19, -1},
      {0, -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DrvDeviceCapabilities(f.host(), f.handle, kDriver, c.cap, {}, {}), c.want) << c.cap;
}

TEST(DromuCapabilities, ExtentsPackWidthLowHeightHigh) {
  Fixture f;
  std::int16_t min_w = 32767, min_h = 32767, max_w = -32768, max_h = -32768;
  for (int i = 0; i < kPaperRowCount; ++i) {
    PaperRow r = StaticPaperRow(i);
    min_w = std::min<std::int16_t>(min_w, r.printable_w_px);
    min_h = std::min<std::int16_t>(min_h, r.printable_h_px);
    max_w = std::max<std::int16_t>(max_w, r.printable_w_px);
    max_h = std::max<std::int16_t>(max_h, r.printable_h_px);
  }
  const auto mn = static_cast<std::uint32_t>(DrvDeviceCapabilities(f.host(), f.handle, kDriver, kDcMinExtent, {}, {}));
  const auto mx = static_cast<std::uint32_t>(DrvDeviceCapabilities(f.host(), f.handle, kDriver, kDcMaxExtent, {}, {}));
  EXPECT_EQ(static_cast<std::int16_t>(mn & 0xFFFF), min_w);
  EXPECT_EQ(static_cast<std::int16_t>(mn >> 16), min_h);
  EXPECT_EQ(static_cast<std::int16_t>(mx & 0xFFFF), max_w);
  EXPECT_EQ(static_cast<std::int16_t>(mx >> 16), max_h);
  EXPECT_LT(min_w, max_w);
}

TEST(DromuCapabilities, OutputsAndBufferSizes) {
  Fixture f;
  // Resolutions: seven (x, y) pairs from 75 to 600.
  std::vector<std::uint8_t> res(CapabilityOutputSize(kDcEnumResolutions));
  ASSERT_EQ(DrvDeviceCapabilities(f.host(), f.handle, kDriver, kDcEnumResolutions, res, {}), 7);
  EXPECT_EQ(Get32(res, 0), 75);
  EXPECT_EQ(Get32(res, 4), 75);
  EXPECT_EQ(Get32(res, 48), 600);
  EXPECT_EQ(Get32(res, 52), 600);

  // Papers in table order, A4 the fourth; names in 64-unit slots.
  std::vector<std::uint8_t> papers(CapabilityOutputSize(kDcPapers));
  ASSERT_EQ(DrvDeviceCapabilities(f.host(), f.handle, kDriver, kDcPapers, papers, {}), 12);
  std::uint16_t fourth, last;
  std::memcpy(&fourth, papers.data() + 6, 2);
  std::memcpy(&last, papers.data() + 22, 2);
  EXPECT_EQ(fourth, 9);  // A4
  EXPECT_EQ(last, kUserPaperCode);
  std::vector<std::uint8_t> names(CapabilityOutputSize(kDcPaperNames));
  ASSERT_EQ(DrvDeviceCapabilities(f.host(), f.handle, kDriver, kDcPaperNames, names, {}), 12);
  char16_t a4[64];
  std::memcpy(a4, names.data() + 3 * 128, sizeof a4);
  EXPECT_EQ(std::u16string(a4), u"A4");
  EXPECT_EQ(a4[63], u'\0');

  // One byte short of any output: the buffer error, nothing written.
  for (std::uint16_t cap : {kDcPapers, kDcPaperSize, kDcPaperNames, kDcEnumResolutions, kDcFileDependencies}) {
    std::vector<std::uint8_t> small(CapabilityOutputSize(cap) - 1, 0xAB);
    ZvSetLastError(0);
    EXPECT_EQ(DrvDeviceCapabilities(f.host(), f.handle, kDriver, cap, small, {}), -1) << cap;
    EXPECT_EQ(ZvGetLastError(), kErrorInsufficientBuffer) << cap;
    EXPECT_EQ(small, std::vector<std::uint8_t>(small.size(), 0xAB)) << cap;
  }
}

TEST(DromuCapabilities, UserPaperSizeComesFromTheDeviceMode) {
  Fixture f;
  std::vector<std::uint8_t> sizes(CapabilityOutputSize(kDcPaperSize));
  ASSERT_EQ(DrvDeviceCapabilities(f.host(), f.handle, kDriver, kDcPaperSize, sizes, {}), 12);
  EXPECT_EQ(Get32(sizes, 88), 2100);
  EXPECT_EQ(Get32(sizes, 92), 2970);
  EXPECT_EQ(Get32(sizes, 24), 2100);  // A4's own row
  PRIVDEVMODE mode = BuildDefaultDevmode(f.platform, kDriver);
  mode.priv.user_paper_width = 1500;
  mode.priv.user_paper_height = 2000;
  ASSERT_EQ(DrvDeviceCapabilities(f.host(), f.handle, kDriver, kDcPaperSize, sizes, Bytes(mode)), 12);
  EXPECT_EQ(Get32(sizes, 88), 1500);
  EXPECT_EQ(Get32(sizes, 92), 2000);
}

TEST(DromuCapabilities, FailuresGiveMinusOne) {
  Fixture f;
  // Forms that cannot be read or are none: the paper capabilities fail.
  for (int forms : {-1, 0}) {
    f.queries.printers[kPrinter].forms = forms;
    EXPECT_EQ(DrvDeviceCapabilities(f.host(), f.handle, kDriver, kDcPapers, {}, {}), -1) << forms;
  }
  // A device mode that cannot be merged makes every capability fail.
  std::vector<std::uint8_t> junk(40, 0x11);
  EXPECT_EQ(DrvDeviceCapabilities(f.host(), f.handle, kDriver, kDcSize, {}, junk), -1);
}

TEST(DromuConvert, VersionTableAndSizes) {
  Fixture f;
  PRIVDEVMODE def = BuildDefaultDevmode(f.platform, kDriver);
  struct Case {
    int mode;
    std::size_t buffer;
    bool ok;
    std::uint32_t size_after;
  };
  const Case cases[] = {
      {kConvertDriverDefault, 564, true, 564}, {kConvertDriverDefault, 563, false, 564},
      {kConvertTo351, 188 + 112, true, 300},   {kConvertTo351, 188 + 111, false, 300},
      {kConvertToCurrent, 564, true, 564},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> out(c.buffer, 0);
    if (c.mode == kConvertToCurrent) std::memcpy(out.data(), &def, 564);
    std::uint32_t size = static_cast<std::uint32_t>(c.buffer);
    ZvSetLastError(0);
    EXPECT_EQ(DrvConvertDevMode(f.host(), kPrinter, Bytes(def), out, &size, c.mode), c.ok) << c.mode << " " << c.buffer;
    EXPECT_EQ(size, c.size_after) << c.mode << " " << c.buffer;
    if (!c.ok) {
      EXPECT_EQ(ZvGetLastError(), kErrorInsufficientBuffer);
    }
    if (c.ok && c.mode == kConvertDriverDefault) {
      EXPECT_EQ(0, std::memcmp(out.data(), &def, 564));
    }
    if (c.ok && c.mode == kConvertTo351) {
      std::uint16_t driver_version;
      std::memcpy(&driver_version, out.data() + 66, 2);
      EXPECT_EQ(driver_version, 0x0350);
    }
  }
  std::uint32_t size = 564;
  std::vector<std::uint8_t> out(564);
  EXPECT_FALSE(DrvConvertDevMode(f.host(), "no such printer", Bytes(def), out, &size, kConvertDriverDefault));
  EXPECT_FALSE(DrvConvertDevMode(f.host(), kPrinter, Bytes(def), out, nullptr, kConvertDriverDefault));
}

TEST(DromuDocumentProperties, FlagsAndOutputs) {
  Fixture f;
  std::vector<std::uint8_t> out(564, 0xCD);
  // Flags 0 or no output: the size, nothing written.
  EXPECT_EQ(DrvDocumentProperties(f.host(), f.handle, kPrinter, out, {}, 0), 564);
  EXPECT_EQ(out, std::vector<std::uint8_t>(564, 0xCD));
  EXPECT_EQ(DrvDocumentProperties(f.host(), f.handle, kPrinter, {}, {}, kDmCopy), 564);
  // Copy: the merged mode with the caller's paper and the form name set.
  PRIVDEVMODE in = BuildDefaultDevmode(f.platform, kDriver);
  in.dm.dmPaperSize = 8;  // A3
  EXPECT_EQ(DrvDocumentProperties(f.host(), f.handle, kPrinter, out, Bytes(in), kDmCopy), 1);
  PRIVDEVMODE got;
  std::memcpy(&got, out.data(), 564);
  EXPECT_EQ(got.dm.dmPaperSize, 8);
  EXPECT_EQ(FieldText(got.dm.dmFormName, 32), "A3");
  EXPECT_EQ(FieldText(got.dm.dmDeviceName, 32), kDriver);
  EXPECT_NE(f.platform.printers[kPrinter].find("TEMP_PATH"), f.platform.printers[kPrinter].end());
  // An output too small for the mode is refused, not overrun.
  std::vector<std::uint8_t> small(563);
  ZvSetLastError(0);
  EXPECT_EQ(DrvDocumentProperties(f.host(), f.handle, kPrinter, small, {}, kDmCopy), -1);
  EXPECT_EQ(ZvGetLastError(), kErrorInsufficientBuffer);
  // A printer that cannot be read: -1.
  EXPECT_EQ(DrvDocumentProperties(f.host(), 0, kPrinter, out, {}, kDmCopy), -1);
}

TEST(DromuDocumentProperties, PromptResultsMapToOkAndCancel) {
  Fixture f;
  std::vector<std::uint8_t> out(564);
  struct Case {
    long sheet;
    long want;
    long advanced;
  };
  const Case cases[] = {{1, 1, 1}, {0, 2, 0}, {5, 1, 1}, {-3, -3, 0}};
  for (const Case& c : cases) {
    SheetRunner sheet = [&](Host, PrinterHandle, std::span<std::uint8_t>, std::span<const std::uint8_t>,
                            std::uint32_t) { return c.sheet; };
    EXPECT_EQ(DrvDocumentProperties(f.host(), f.handle, kPrinter, out, {}, kDmPrompt | kDmCopy, sheet), c.want);
    EXPECT_EQ(DrvAdvancedDocumentProperties(f.host(), f.handle, kPrinter, out, {}, sheet), c.advanced);
  }
  EXPECT_EQ(DrvAdvancedDocumentProperties(f.host(), f.handle, kPrinter, {}, {}), 564);
  EXPECT_EQ(DrvDocumentProperties(f.host(), f.handle, kPrinter, out, {}, kDmPrompt), -1);
}

TEST(DromuPrinterEvent, InitialiseRegistersOnceAndAssigns) {
  Fixture f;
  struct Case {
    int event;
    bool registers;
  };
  const Case cases[] = {
      {kEventAddConnection, false}, {kEventDeleteConnection, false}, {kEventDelete, false}, {0, false}, {6, false},
      {kEventInitialize, true},     {kEventCacheRefresh, true}};
  for (const Case& c : cases) {
    Fixture g;
    EXPECT_TRUE(DrvPrinterEvent(g.host(), kPrinter, c.event, 0));
    EXPECT_EQ(g.queries.processor_adds, c.registers ? 1 : 0) << c.event;
    EXPECT_EQ(g.queries.printers[kPrinter].print_processor == kPrintProcessor, c.registers) << c.event;
  }
  EXPECT_TRUE(DrvPrinterEvent(f.host(), kPrinter, kEventInitialize, 0));
  EXPECT_TRUE(DrvPrinterEvent(f.host(), kPrinter, kEventInitialize, 0));
  EXPECT_EQ(f.queries.processor_adds, 1);
  // The list cannot be read: nothing changes, the printer keeps its processor.
  Fixture g;
  g.queries.processors.reset();
  EXPECT_TRUE(DrvPrinterEvent(g.host(), kPrinter, kEventInitialize, 0));
  EXPECT_EQ(g.queries.printers[kPrinter].print_processor, "WinPrint");
  EXPECT_EQ(g.platform.open_count, 1);  // only the fixture's own handle
}

TEST(DromuUpgrade, AlwaysFalse) {
  Fixture f;
  ZvSetLastError(0);
  EXPECT_FALSE(DrvUpgradePrinter(f.host(), 1, std::string_view(kPrinter)));
  EXPECT_EQ(ZvGetLastError(), 0u);
  EXPECT_EQ(f.platform.open_count, 1);
  EXPECT_FALSE(DrvUpgradePrinter(f.host(), 2, std::string_view(kPrinter)));
  EXPECT_EQ(ZvGetLastError(), 87u);
  EXPECT_FALSE(DrvUpgradePrinter(f.host(), 1, std::nullopt));
  EXPECT_TRUE(DevQueryPrintEx());
}

}  // namespace
}  // namespace zv::driver::dromu
