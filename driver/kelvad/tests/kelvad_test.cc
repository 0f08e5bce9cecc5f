#include "driver/kelvad/device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/lasterror/last_error.h"

namespace zv::driver {
namespace {

constexpr char kPrinter[] = "Zelvora-Raster";

struct Job {
  std::int16_t paper = 9, quality = 200, orientation = 1;
  std::uint16_t left = 50, right = 50, top = 50, bottom = 50;
};

// A caller's device mode for the setup.
PRIVDEVMODE CallerMode(MemoryPlatform& ops, const Job& s) {
  PRIVDEVMODE m = BuildDefaultDevmode(ops, kPrinter);
  m.dm.dmPaperSize = s.paper;
  m.dm.dmPrintQuality = m.dm.dmYResolution = s.quality;
  m.dm.dmOrientation = s.orientation;
  m.priv.margin_left = s.left;
  m.priv.margin_right = s.right;
  m.priv.margin_top = s.top;
  m.priv.margin_bottom = s.bottom;
  return m;
}

// The port: every write kept, or refused from the write numbered `fail_at` on.
struct Port {
  std::vector<std::uint8_t> bytes;
  int writes = 0;
  int fail_at = -1;
  WriteFn Fn() {
    return [this](std::span<const std::uint8_t> b) {
      if (fail_at >= 0 && writes >= fail_at) return false;
      ++writes;
      bytes.insert(bytes.end(), b.begin(), b.end());
      return true;
    };
  }
};

std::unique_ptr<KelvadDevice> Device(MemoryPlatform& ops, const Job& s, Port& port) {
  PRIVDEVMODE m = CallerMode(ops, s);
  auto d = KelvadDevice::Enable(ops, kPrinter, Bytes(m), port.Fn());
  EXPECT_TRUE(d->EnableSurface().ok());
  return d;
}

MemoryPlatform Platform() {
  MemoryPlatform p;
  p.printers[kPrinter];
  return p;
}

TEST(KelvadLayout, BandSplits) {
  struct Case {
    Job setup;
    std::uint32_t width, height, stride;
    std::uint64_t budget;
    std::uint32_t band_height, bands, last;
  } cases[] = {
      {{9, 200}, 1576, 2260, 4728, 10779840, 2260, 1, 2260},
      {{9, 300}, 2362, 3390, 7088, 8060928, 1137, 3, 1116},
      {{9, 600}, 4724, 6780, 14172, 10747904, 758, 9, 716},
      {{9, 200, 2, 50, 50, 100, 100}, 2182, 1576, 6548, 10447416, 1576, 1, 1576},
  };
  MemoryPlatform ops = Platform();
  for (const auto& c : cases) {
    PRIVDEVMODE m = CallerMode(ops, c.setup);
    auto l = ComputePageLayout(m);
    ASSERT_TRUE(l.ok());
    SCOPED_TRACE(testing::Message() << c.setup.quality << " dpi orientation " << c.setup.orientation);
    EXPECT_EQ(l->image_width, c.width);
    EXPECT_EQ(l->image_height, c.height);
    EXPECT_EQ(l->stride, c.stride);
    EXPECT_EQ(l->budget, c.budget);
    EXPECT_EQ(l->band_height, c.band_height);
    EXPECT_EQ(l->band_count, c.bands);
    EXPECT_EQ(l->last_band_height, c.last);
    EXPECT_LE(std::uint64_t{l->band_height} * l->stride, std::max<std::uint64_t>(l->budget, kBandBudget));
  }
  // A mode that bypassed the merge: monochrome, or a resolution without rows.
  PRIVDEVMODE mono = CallerMode(ops, {});
  mono.dm.dmColor = 1;
  EXPECT_FALSE(ComputePageLayout(mono).ok());
  PRIVDEVMODE odd = CallerMode(ops, {});
  odd.dm.dmPrintQuality = 250;
  EXPECT_FALSE(ComputePageLayout(odd).ok());
}

// Prints one page band by band, marking the top-left and bottom-right pixels red.
void PrintPage(KelvadDevice& d) {
  ASSERT_TRUE(d.StartPage());
  BandOrigin o;
  ASSERT_TRUE(d.StartBanding(&o));
  const auto& l = d.layout();
  while (o.y >= 0) {
    auto s = d.surface();
    if (o.y == 0) s[0] = 0x10;
    const std::uint32_t rows = std::min(l.band_height, l.page_height - static_cast<std::uint32_t>(o.y));
    if (static_cast<std::uint32_t>(o.y) + rows == l.page_height)
      s[std::size_t{rows - 1} * l.stride + (l.page_width - 1) * 3] = 0x20;
    ASSERT_TRUE(d.NextBand(&o));
  }
}

TEST(KelvadStream, PagesRoundTripThroughTheReader) {
  struct Case {
    Job setup;
    std::uint32_t bands;
  } cases[] = {{{43, 600}, 2}, {{9, 200, 2, 50, 50, 100, 100}, 1}, {{259, 75}, 1}};
  for (const auto& c : cases) {
    MemoryPlatform ops = Platform();
    Port port;
    auto d = Device(ops, c.setup, port);
    ASSERT_EQ(d->layout().band_count, c.bands);
    ASSERT_TRUE(d->StartDoc());
    PrintPage(*d);
    PrintPage(*d);
    ASSERT_TRUE(d->EndDoc());
    EXPECT_EQ(d->page_count(), 2u);
    const auto& l = d->layout();
    // One header per page, whatever the bands.
    EXPECT_EQ(port.bytes.size(), 2 * (652 + std::size_t{l.image_width} * 3 * l.image_height));
    EXPECT_EQ(port.writes, static_cast<int>(2 * (1 + l.image_height)));

    std::size_t at = 0;
    PageStreamReader reader([&](std::span<std::uint8_t> b) -> std::optional<std::size_t> {
      std::size_t n = std::min(b.size(), port.bytes.size() - at);
      std::memcpy(b.data(), port.bytes.data() + at, n);
      at += n;
      return n;
    });
    for (int page = 0; page < 2; ++page) {
      auto info = reader.NextPage();
      ASSERT_TRUE(info.ok()) << info.status().ToString();
      ASSERT_TRUE(info->has_value());
      const PageInfo& p = **info;
      EXPECT_EQ(p.width, l.image_width);
      EXPECT_EQ(p.height, l.image_height);
      EXPECT_EQ(p.mode.dm.dmPrintQuality, c.setup.quality);
      EXPECT_EQ(std::memcmp(&p.mode, &d->mode(), sizeof p.mode), 0);
      std::vector<std::uint8_t> row(p.bytes_per_row);
      std::size_t not_white = 0;
      for (std::uint32_t y = 0; y < p.height; ++y) {
        ASSERT_TRUE(reader.ReadRow(row).ok());
        if (y == 0) {
          EXPECT_EQ(row[0], 0x10);
        }
        if (y + 1 == p.height) {
          EXPECT_EQ(row[row.size() - 3], 0x20);
        }
        not_white += row.size() - static_cast<std::size_t>(std::count(row.begin(), row.end(), 0xFF));
      }
      EXPECT_EQ(not_white, 2u);  // everything else stayed white
    }
    auto end = reader.NextPage();
    ASSERT_TRUE(end.ok());
    EXPECT_FALSE(end->has_value());
  }
}

TEST(KelvadStream, HeaderBytes) {
  MemoryPlatform ops = Platform();
  Port port;
  auto d = Device(ops, {}, port);
  ASSERT_TRUE(d->StartDoc());
  ASSERT_TRUE(d->StartPage());
  ASSERT_TRUE(d->SendPage());
  ASSERT_GE(port.bytes.size(), 652u);
  const std::uint8_t* h = port.bytes.data();
  EXPECT_EQ(std::memcmp(h, "INFO-MKSPDD-HEAD\0", 17), 0);
  EXPECT_TRUE(std::all_of(h + 17, h + 48, [](std::uint8_t b) { return b == 0; }));
  std::uint32_t v[5];
  std::memcpy(v, h + 48, sizeof v);
  EXPECT_EQ(v[0], 652u | (1u << 16));
  EXPECT_EQ(v[1], 10685280u);
  EXPECT_EQ(v[2], 1576u);
  EXPECT_EQ(v[3], 2260u);
  EXPECT_EQ(v[4], 4728u);
  EXPECT_EQ(std::memcmp(h + 80, &d->mode(), 564), 0);
  EXPECT_TRUE(std::all_of(h + 644, h + 652, [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(FieldText(d->mode().dm.dmFormName, 32), "A4");
}

TEST(KelvadStream, FailedWriteStopsTheJob) {
  // Fail on the header, on a row of the first band, on a row of a later band.
  for (int fail_at : {0, 5, 900}) {
    MemoryPlatform ops = Platform();
    Port port;
    port.fail_at = fail_at;
    auto d = Device(ops, {9, 600}, port);
    ASSERT_TRUE(d->StartDoc());
    ASSERT_TRUE(d->StartPage());
    BandOrigin o;
    ASSERT_TRUE(d->StartBanding(&o));
    bool ok = true;
    while (ok && o.y >= 0) ok = d->NextBand(&o);
    EXPECT_FALSE(ok) << fail_at;
    EXPECT_EQ(port.writes, fail_at);
    const std::size_t written = port.bytes.size();
    port.fail_at = -1;  // the port would take more now; nothing more may reach it
    EXPECT_FALSE(d->NextBand(&o));
    EXPECT_FALSE(d->SendPage());
    EXPECT_FALSE(d->StartPage());
    EXPECT_EQ(port.bytes.size(), written);
  }
}

TEST(KelvadStream, AbortStopsBanding) {
  MemoryPlatform ops = Platform();
  Port port;
  bool abort = false;
  PRIVDEVMODE m = CallerMode(ops, {9, 600});
  auto d = KelvadDevice::Enable(ops, kPrinter, Bytes(m), port.Fn(), [&] { return abort; });
  ASSERT_TRUE(d->EnableSurface().ok());
  ASSERT_TRUE(d->StartDoc());
  ASSERT_TRUE(d->StartPage());
  BandOrigin o;
  ASSERT_TRUE(d->StartBanding(&o));
  ASSERT_TRUE(d->NextBand(&o));
  EXPECT_EQ(o.y, 758);
  const int writes = port.writes;
  abort = true;
  EXPECT_FALSE(d->NextBand(&o));
  EXPECT_EQ(port.writes, writes);
}

TEST(KelvadStream, ReaderRefusesBadStreams) {
  MemoryPlatform ops = Platform();
  Port port;
  auto d = Device(ops, {9, 75}, port);
  ASSERT_TRUE(d->StartDoc());
  ASSERT_TRUE(d->StartPage());
  ASSERT_TRUE(d->SendPage());
  const std::vector<std::uint8_t> good = port.bytes;
  struct Case {
    const char* what;
    std::size_t offset;
    std::uint8_t value;
    std::size_t cut;  // bytes left off the end
  } cases[] = {
      {"magic", 3, 'x', 0},         {"magic NUL", 16, 'D', 0},
      {"header size", 48, 0x8D, 0}, {"version", 50, 2, 0},
      {"image size", 52, 0x01, 0},  {"width", 56, 0x00, 0},
      {"height", 60, 0x01, 0},      {"bytes per row", 64, 0x01, 0},
      {"dmSize", 80 + 68, 0xDB, 0}, {"private tag", 80 + 220, 'X', 0},
      {"paper", 80 + 78, 8, 0},     {"resolution", 80 + 90, 0x96, 0},
      {"last row cut", 0, 0, 1},    {"header cut", 0, 0, good.size() - 100},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> bytes = good;
    if (c.cut == 0) bytes[c.offset] = c.value;
    bytes.resize(bytes.size() - c.cut);
    std::size_t at = 0;
    PageStreamReader reader([&](std::span<std::uint8_t> b) -> std::optional<std::size_t> {
      std::size_t n = std::min(b.size(), bytes.size() - at);
      std::memcpy(b.data(), bytes.data() + at, n);
      at += n;
      return n;
    });
    Status failure;
    auto page = reader.NextPage();
    if (!page.ok()) {
      failure = page.status();
    } else if (page->has_value()) {
      std::vector<std::uint8_t> row((*page)->bytes_per_row);
      for (std::uint32_t y = 0; y < (*page)->height && failure.ok(); ++y) failure = reader.ReadRow(row);
    }
    EXPECT_FALSE(failure.ok()) << c.what;
  }
}

TEST(KelvadDevice, InformationAndReset) {
  ZvSetLastError(0);
  EXPECT_FALSE(EnableDriver(0x10000, 12));
  EXPECT_EQ(ZvGetLastError(), 119u);
  EXPECT_TRUE(EnableDriver(0x20000, 12));

  MemoryPlatform ops = Platform();
  Port port;
  auto portrait = Device(ops, {9, 300}, port);
  EXPECT_EQ(portrait->gdi_info().horz_res, 2362u);
  EXPECT_EQ(portrait->gdi_info().horz_size, -200000);
  EXPECT_EQ(portrait->gdi_info().aspect_xy, 424u);
  EXPECT_EQ(portrait->dev_info().font_height, -42);
  EXPECT_EQ(portrait->dev_info().font_charset, 128);
  auto landscape = Device(ops, {9, 300, 2, 50, 50, 100, 100}, port);
  EXPECT_EQ(landscape->gdi_info().horz_res, 3272u);
  EXPECT_EQ(landscape->gdi_info().offset_x, 118u);
  EXPECT_EQ(landscape->gdi_info().offset_y, 59u);
  EXPECT_EQ(landscape->gdi_info().physical_cx, 3508u);

  ASSERT_TRUE(portrait->StartDoc());
  PrintPage(*portrait);
  ASSERT_TRUE(landscape->ResetFrom(*portrait));
  EXPECT_EQ(landscape->page_count(), 1u);
  EXPECT_TRUE(landscape->flags() & kCreatedByReset);
  EXPECT_TRUE(landscape->flags() & kPaperUnchanged);
  ASSERT_TRUE(landscape->StartDoc());
  EXPECT_EQ(landscape->page_count(), 1u);
}

}  // namespace
}  // namespace zv::driver
