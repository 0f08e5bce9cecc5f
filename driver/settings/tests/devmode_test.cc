#include "driver/settings/devmode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "driver/settings/printer_data.h"
#include "platform/lasterror/last_error.h"

namespace zv::driver {
namespace {

constexpr char kPrinter[] = "Zelvora-Raster";

MemoryPlatform Platform() {
  MemoryPlatform p;
  p.printers[kPrinter];
  return p;
}

template <typename T>
void Put(std::vector<std::uint8_t>& b, std::size_t off, T v) {
  std::memcpy(b.data() + off, &v, sizeof v);
}

std::vector<std::uint8_t> ToVector(const PRIVDEVMODE& m) { return {Bytes(m).begin(), Bytes(m).end()}; }

TEST(DriverDevmode, DefaultIsByteForByte) {
  MemoryPlatform ops = Platform();
  PRIVDEVMODE mode = BuildDefaultDevmode(ops, kPrinter);
  std::vector<std::uint8_t> want(564, 0);
  const char16_t name[] = u"Zelvora-Raster";
  std::memcpy(want.data(), name, sizeof name - 2);
  Put<std::uint16_t>(want, 64, 0x0401);
  Put<std::uint16_t>(want, 66, 0x0101);
  Put<std::uint16_t>(want, 68, 220);
  Put<std::uint16_t>(want, 70, 344);
  Put<std::uint32_t>(want, 72, 0x6D0F);
  const std::int16_t fields[] = {1, 9, 2970, 2100, 100, 1, 0, 200, 2, 1, 200, 1, 0};
  for (std::size_t i = 0; i < std::size(fields); ++i) Put<std::int16_t>(want, 76 + 2 * i, fields[i]);
  std::memcpy(want.data() + 220, "PRIV", 4);
  Put<std::uint32_t>(want, 224, 0x10A0);
  const std::uint16_t adjust[] = {24, 0, 0, 10000, 10000, 10000, 0, 10000};
  std::memcpy(want.data() + 220 + 88, adjust, sizeof adjust);
  std::memcpy(want.data() + 220 + 180, "OFFICE-PC", 9);
  Put<std::uint16_t>(want, 220 + 212, 2100);
  Put<std::uint16_t>(want, 220 + 214, 2970);
  for (int i = 0; i < 4; ++i) Put<std::uint16_t>(want, 220 + 232 + 2 * i, 50);
  EXPECT_EQ(ToVector(mode), want);
  EXPECT_EQ(ops.open_count, 0);
}

TEST(DriverDevmode, PrinterDefaultsAreCheckedBeforeUse) {
  struct Case {
    const char* value;
    std::uint32_t number;
    int resolution;
    std::uint16_t left;
  } cases[] = {
      {"DefaultResolution", 600, 600, 50},
      {"DefaultResolution", 800, 200, 50},
      {"DefaultLeftMargin", 300, 200, 300},
      {"DefaultLeftMargin", 301, 200, 50},
  };
  for (const auto& c : cases) {
    MemoryPlatform ops = Platform();
    ops.printers[kPrinter][c.value] = DwordValue(c.number);
    PRIVDEVMODE mode = BuildDefaultDevmode(ops, kPrinter);
    EXPECT_EQ(mode.dm.dmPrintQuality, c.resolution) << c.value << c.number;
    EXPECT_EQ(mode.dm.dmYResolution, c.resolution) << c.value << c.number;
    EXPECT_EQ(mode.priv.margin_left, c.left) << c.value << c.number;
  }
  // Another code page: only flag 0x1000; an unknown printer keeps the built defaults.
  MemoryPlatform latin;
  latin.code_page = 1250;
  PRIVDEVMODE mode = BuildDefaultDevmode(latin, "missing");
  EXPECT_EQ(mode.priv.flags, 0x1000u);
  EXPECT_EQ(mode.dm.dmPrintQuality, 200);
}

// A caller's device mode: the default with fields changed, as bytes.
struct Caller {
  std::uint32_t fields;
  std::int16_t orientation, paper, copies, color, quality, yres;
};

TEST(DriverDevmode, MergeTable) {
  struct Case {
    Caller in;
    std::int16_t orientation, paper, width, length, copies, color, quality, yres;
  } cases[] = {
      // Unknown paper 70 at 300 dpi: A4 at 300.
      {{0x402, 1, 70, 1, 2, 300, 0}, 1, 9, 2100, 2970, 1, 2, 300, 300},
      {{0x2402, 1, 11, 1, 2, 250, 600}, 1, 11, 1490, 2100, 1, 2, 600, 600},
      {{0x2400, 1, 9, 1, 2, 300, 250}, 1, 9, 2100, 2970, 1, 2, 300, 300},
      {{0x2400, 1, 9, 1, 2, 250, 250}, 1, 9, 2100, 2970, 1, 2, 200, 200},
      {{0x0400, 1, 9, 1, 2, 600, 75}, 1, 9, 2100, 2970, 1, 2, 600, 600},
      {{0x2000, 1, 9, 1, 2, 75, 150}, 1, 9, 2100, 2970, 1, 2, 150, 150},
      {{0x0901, 3, 9, 5, 1, 200, 200}, 1, 9, 2100, 2970, 1, 2, 200, 200},
      {{0x0001, 2, 9, 1, 2, 200, 200}, 2, 9, 2100, 2970, 1, 2, 200, 200},
      // A5 at 150 dpi is the narrower row; fields without their bit are not taken.
      {{0x0402, 1, 11, 1, 2, 150, 0}, 1, 11, 1470, 2100, 1, 2, 150, 150},
      {{0x0000, 2, 8, 7, 1, 600, 600}, 1, 9, 2100, 2970, 1, 2, 200, 200},
  };
  for (const auto& c : cases) {
    MemoryPlatform ops = Platform();
    PRIVDEVMODE src = BuildDefaultDevmode(ops, kPrinter);
    src.dm.dmFields = c.in.fields | 0x10000;
    src.dm.dmOrientation = c.in.orientation;
    src.dm.dmPaperSize = c.in.paper;
    src.dm.dmCopies = c.in.copies;
    src.dm.dmColor = c.in.color;
    src.dm.dmPrintQuality = c.in.quality;
    src.dm.dmYResolution = c.in.yres;
    PRIVDEVMODE target = BuildDefaultDevmode(ops, kPrinter);
    ASSERT_EQ(MergeDevmode(ops, kPrinter, target, Bytes(src)), 1);
    const auto& d = target.dm;
    SCOPED_TRACE(testing::Message() << "fields " << std::hex << c.in.fields << std::dec << " paper " << c.in.paper
                                    << " quality " << c.in.quality);
    EXPECT_EQ(d.dmOrientation, c.orientation);
    EXPECT_EQ(d.dmPaperSize, c.paper);
    EXPECT_EQ(d.dmPaperWidth, c.width);
    EXPECT_EQ(d.dmPaperLength, c.length);
    EXPECT_EQ(d.dmCopies, c.copies);
    EXPECT_EQ(d.dmColor, c.color);
    EXPECT_EQ(d.dmPrintQuality, c.quality);
    EXPECT_EQ(d.dmYResolution, c.yres);
    EXPECT_EQ(d.dmFields & 0x10000, 0u);
  }
}

TEST(DriverDevmode, MergeTakesOnlyOurPrivatePart) {
  MemoryPlatform ops = Platform();
  PRIVDEVMODE src = BuildDefaultDevmode(ops, kPrinter);
  src.priv.margin_left = 120;
  src.priv.user_may_change = 1;
  PRIVDEVMODE target = BuildDefaultDevmode(ops, kPrinter);
  ASSERT_EQ(MergeDevmode(ops, kPrinter, target, Bytes(src)), 1);
  EXPECT_EQ(target.priv.margin_left, 120);
  EXPECT_EQ(target.priv.user_may_change, 1);

  std::memcpy(src.priv.tag, "PRIX", 4);
  target = BuildDefaultDevmode(ops, kPrinter);
  ASSERT_EQ(MergeDevmode(ops, kPrinter, target, Bytes(src)), 1);
  EXPECT_EQ(target.priv.margin_left, 50);
  EXPECT_EQ(target.priv.user_may_change, 0);
}

TEST(DriverDevmode, MergeRefusesBytesThatDoNotHoldTheMode) {
  MemoryPlatform ops = Platform();
  const PRIVDEVMODE defaults = BuildDefaultDevmode(ops, kPrinter);
  std::vector<std::uint8_t> whole = ToVector(defaults);
  struct Case {
    const char* what;
    std::size_t length;
    std::uint16_t size, extra;
  } cases[] = {
      {"private part cut", 563, 220, 344},
      {"header cut", 70, 220, 344},
      {"dmSize short of dmFields", 564, 60, 344},
      {"extra beyond the bytes", 564, 220, 400},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> src = whole;
    Put<std::uint16_t>(src, 68, c.size);
    Put<std::uint16_t>(src, 70, c.extra);
    PRIVDEVMODE target = defaults;
    ZvSetLastError(0);
    EXPECT_EQ(MergeDevmode(ops, kPrinter, target, std::span(src).first(c.length)), 0) << c.what;
    EXPECT_EQ(ZvGetLastError(), win::kErrorInvalidParameter) << c.what;
    EXPECT_EQ(ToVector(target), whole) << c.what;
  }
  PRIVDEVMODE target = defaults;
  EXPECT_EQ(MergeDevmode(ops, kPrinter, target, {}), 1);
  EXPECT_EQ(ToVector(target), whole);
}

TEST(DriverDevmode, HostilePrivatePartsGivePositiveAreas) {
  MemoryPlatform ops = Platform();
  const std::uint16_t hostile[] = {0, 1, 299, 300, 301, 999, 8401, 0xFFFF};
  for (std::uint16_t v : hostile) {
    PRIVDEVMODE src = BuildDefaultDevmode(ops, kPrinter);
    src.priv.margin_left = src.priv.margin_right = src.priv.margin_top = src.priv.margin_bottom = v;
    src.priv.user_paper_width = src.priv.user_paper_height = v;
    std::memset(src.priv.computer_name, 'X', sizeof src.priv.computer_name);
    PRIVDEVMODE target = BuildDefaultDevmode(ops, kPrinter);
    ASSERT_EQ(MergeDevmode(ops, kPrinter, target, Bytes(src)), 1);
    EXPECT_LE(target.priv.margin_left, kMaxMargin);
    EXPECT_GE(target.priv.user_paper_width, kMinUserPaper);
    EXPECT_EQ(target.priv.computer_name[15], '\0');
    for (int row = 0; row < kPaperRowCount; ++row) {
      for (bool landscape : {false, true}) {
        // Also a mode that never went through the merge.
        for (const PRIVDEVMODE* m : {&target, &src}) {
          PaperRow p = ComputePaperRow(row, *m, landscape);
          ASSERT_GT(p.printable_w_px, 0) << v << " row " << row;
          ASSERT_GT(p.printable_h_px, 0) << v << " row " << row;
          ASSERT_LE(p.printable_w_px, p.width_px);
          ASSERT_LE(p.printable_h_px, p.height_px);
          ASSERT_GT(p.printable_w_mm10, 0);
          ASSERT_GT(p.printable_h_mm10, 0);
        }
      }
    }
  }
}

TEST(DriverDevmode, PaperRows) {
  MemoryPlatform ops = Platform();
  PRIVDEVMODE mode = BuildDefaultDevmode(ops, kPrinter);
  ASSERT_EQ(FindPaperRow(mode, ops, kPrinter), 51);
  PaperRow a4 = ComputePaperRow(51, mode);
  EXPECT_EQ(a4.code, 9);
  EXPECT_EQ(a4.printable_w_px, 1576);
  EXPECT_EQ(a4.printable_h_px, 2260);
  EXPECT_EQ(a4.left_px, 39);
  EXPECT_EQ(a4.top_px, 39);
  EXPECT_EQ(a4.printable_w_mm10, 2000);
  EXPECT_EQ(a4.printable_h_mm10, 2870);
  // The static rows stay as they were.
  EXPECT_EQ(StaticPaperRow(51).printable_w_px, 1654);

  mode.priv.margin_top = mode.priv.margin_bottom = 100;
  PaperRow land = ComputePaperRow(51, mode, true);
  EXPECT_EQ(land.printable_w_px, 2182);
  EXPECT_EQ(land.printable_h_px, 1576);
  EXPECT_EQ(land.left_px, 78);  // the bottom margin
  EXPECT_EQ(land.top_px, 39);   // the left margin
  EXPECT_EQ(land.width_px, 2338);

  mode.dm.dmPaperSize = 259;
  mode.dm.dmPrintQuality = 300;
  mode.priv.user_paper_width = 1000;
  mode.priv.user_paper_height = 1480;
  const int row = FindPaperRowExact(mode);
  ASSERT_EQ(row, 5 * 12 + 11);
  PaperRow user = ComputePaperRow(row, mode);
  EXPECT_EQ(user.width_px, 1181);
  EXPECT_EQ(user.height_px, 1747);
  EXPECT_EQ(user.width_mm10, 1000);

  struct Px {
    std::uint32_t dpi, len, want;
  } px[] = {{200, 2100, 1652}, {200, 50, 39}, {300, 1000, 1181}, {600, 50, 118}, {75, 2970, 876}};
  for (auto c : px) EXPECT_EQ(TenthMmToPixels(c.dpi, c.len), c.want) << c.dpi << " " << c.len;

  mode.dm.dmPrintQuality = 250;
  EXPECT_EQ(FindPaperRowExact(mode), -1);
  EXPECT_EQ(FindPaperRow(mode, ops, kPrinter), 4 * 12 + 11);  // the fallback 200 dpi
  ops.printers[kPrinter]["DefaultResolution"] = DwordValue(600);
  EXPECT_EQ(FindPaperRow(mode, ops, kPrinter), 6 * 12 + 11);
}

TEST(DriverDevmode, FormInfoFollowsThePrintableArea) {
  MemoryPlatform ops = Platform();
  PRIVDEVMODE mode = BuildDefaultDevmode(ops, kPrinter);
  mode.dm.dmPaperSize = 43;
  FormInfo form;
  ASSERT_EQ(GetFormInfo(mode, form), 0);
  EXPECT_EQ(form.name, "はがき");
  EXPECT_EQ(form.cx, 900 * 100);
  EXPECT_EQ(form.cy, 1380 * 100);
  EXPECT_EQ(form.right, form.cx);
  EXPECT_EQ(FieldText(mode.dm.dmFormName, 32), "はがき");
  mode.dm.dmPrintQuality = 800;
  EXPECT_EQ(GetFormInfo(mode, form), 2);
}

TEST(DriverDevmode, ConversionsWithShortBuffers) {
  MemoryPlatform ops = Platform();
  const PRIVDEVMODE mode = BuildDefaultDevmode(ops, kPrinter);
  const DevmodeVersions versions{0x0101, 344, 0x0100, 344};
  std::vector<std::uint8_t> out(564 + 8, 0xEE);
  std::uint32_t size = 0;

  size = 188 + 344 - 1;
  ZvSetLastError(0);
  EXPECT_EQ(CommonConvertDevmode(Bytes(mode), out, &size, kConvertTo351, versions), 0);
  EXPECT_EQ(size, 188u + 344);
  EXPECT_EQ(ZvGetLastError(), 122u);
  // The size claimed is right but the buffer is shorter: refused the same way.
  size = 188 + 344;
  EXPECT_EQ(CommonConvertDevmode(Bytes(mode), std::span(out).first(500), &size, kConvertTo351, versions), 0);
  size = 188 + 344;
  ASSERT_EQ(CommonConvertDevmode(Bytes(mode), out, &size, kConvertTo351, versions), 1);
  EXPECT_EQ(GetDevmodeVersion(out), 0x0320);
  EXPECT_EQ(std::memcmp(out.data() + 188, "PRIV", 4), 0);
  EXPECT_EQ(out[188 + 344], 0xEE);  // nothing written past it

  // Back to the current form.
  PRIVDEVMODE back = BuildDefaultDevmode(ops, kPrinter);
  size = 564;
  ASSERT_EQ(
      CommonConvertDevmode(std::span(out).first(188 + 344), MutableBytes(back), &size, kConvertToCurrent, versions), 1);
  EXPECT_EQ(size, 564u);
  EXPECT_EQ(back.dm.dmSize, 220);
  EXPECT_EQ(std::memcmp(back.priv.tag, "PRIV", 4), 0);
  size = 563;
  EXPECT_EQ(CommonConvertDevmode(Bytes(mode), MutableBytes(back), &size, kConvertToCurrent, versions), 0);

  size = 100;
  EXPECT_EQ(CommonConvertDevmode(Bytes(mode), out, &size, kConvertDriverDefault, versions), 0);
  EXPECT_EQ(size, 564u);
  EXPECT_EQ(CommonConvertDevmode(Bytes(mode), out, &size, kConvertDriverDefault, versions), 2);
  EXPECT_EQ(CommonConvertDevmode(Bytes(mode), out, &size, 3, versions), 2);
  ZvSetLastError(0);
  EXPECT_EQ(CommonConvertDevmode(Bytes(mode), out, nullptr, kConvertToCurrent, versions), 0);
  EXPECT_EQ(ZvGetLastError(), 87u);

  // Versions by size; spans too short for the header have none.
  std::vector<std::uint8_t> v = ToVector(mode);
  struct {
    std::uint16_t size;
    std::uint16_t version;
  } sizes[] = {{188, 0x320}, {212, 0x400}, {220, 0x401}, {200, 0x401}};
  for (auto c : sizes) {
    Put<std::uint16_t>(v, 68, c.size);
    EXPECT_EQ(GetDevmodeVersion(v), c.version);
  }
  EXPECT_EQ(GetDevmodeVersion(std::span(v).first(69)), 0);
  EXPECT_EQ(ConvertDevmode(std::span(v).first(300), out), -1);

  // Copy without a template needs room for the whole mode.
  std::vector<std::uint8_t> small(400);
  EXPECT_EQ(CopyOrConvertDevmode(Bytes(mode), {}, small), 0);
  std::vector<std::uint8_t> copy(564);
  EXPECT_EQ(CopyOrConvertDevmode(Bytes(mode), {}, copy), 1);
  EXPECT_EQ(copy, ToVector(mode));
  // With a template of the 3.51 form the destination takes the smaller header.
  std::vector<std::uint8_t> templ(out.begin(), out.begin() + 188 + 344);
  std::vector<std::uint8_t> dest(564, 0);
  EXPECT_EQ(CopyOrConvertDevmode(Bytes(mode), templ, dest), 1);
  EXPECT_EQ(GetDevmodeVersion(dest), 0x0320);
}

TEST(DriverDevmode, TextHelpers) {
  char16_t buf[5];
  std::fill(std::begin(buf), std::end(buf), u'x');
  CopyStringW(buf, u"abcdefg", 5);
  EXPECT_EQ(std::u16string(buf, 5), std::u16string(u"abcd\0", 5));
  CopyStringW(buf, u"ab", 5);
  EXPECT_EQ(std::u16string(buf, 5), std::u16string(u"ab\0\0\0", 5));
  EXPECT_EQ(WideToAnsi("PC-é", 1252), "PC-?");
  EXPECT_EQ(WideToAnsi("端末", 932), "\x92\x5B\x96\x96");
  struct {
    const char* country;
    bool metric;
  } countries[] = {{"1", false}, {"2", false}, {"52", false}, {"505", false}, {"81", true}, {"44", true}};
  for (auto c : countries) {
    MemoryPlatform ops;
    ops.country = c.country;
    EXPECT_EQ(IsMetricCountry(ops), c.metric) << c.country;
  }
  // A computer name cut to 15 bytes never ends in half a double-byte character.
  MemoryPlatform ops = Platform();
  ops.computer_name = "ABCDEFGHIJKLMN端末";
  PRIVDEVMODE mode = BuildDefaultDevmode(ops, kPrinter);
  EXPECT_STREQ(mode.priv.computer_name, "ABCDEFGHIJKLMN");
}

TEST(DriverPrinterData, RecordRoundTripAndDefaults) {
  MemoryPlatform ops = Platform();
  PrinterHandle h = ops.OpenPrinter(kPrinter);
  ASSERT_NE(h, 0u);
  ops.printers[kPrinter]["FreeMem"] = DwordValue(10);
  ops.printers[kPrinter]["PrinterHT"] = DwordValue(1);
  PrinterDataRecord r = GetPrinterDataRecord(ops, h);
  EXPECT_EQ(r.version, 0x0101);
  EXPECT_EQ(r.size, 108);
  EXPECT_EQ(r.free_memory, 102400u);  // raised to the floor
  EXPECT_EQ(r.flags, kPdHalftone | kPdMetric);
  EXPECT_EQ(BuildDefaultPrinterDataRecord(ops, h, false).flags, kPdHalftone);

  r.free_memory = 4u << 20;
  r.flags = kPdOtherCodePage;
  ASSERT_TRUE(SavePrinterDataRecord(ops, h, r));
  EXPECT_EQ(GetPrinterDword(ops, h, "FreeMem"), 4096u);
  EXPECT_EQ(GetPrinterDword(ops, h, "PrinterHT"), 0u);
  PrinterDataRecord again = GetPrinterDataRecord(ops, h);
  EXPECT_EQ(std::memcmp(&again, &r, sizeof r), 0);
  // A stored size that disagrees with the bytes gives the built default.
  ops.printers[kPrinter]["PrinterDataSize"] = DwordValue(200);
  EXPECT_EQ(GetPrinterDataRecord(ops, h).free_memory, 4096u * 1024);
  ops.ClosePrinter(h);
  EXPECT_EQ(ops.open_count, 0);
}

}  // namespace
}  // namespace zv::driver
