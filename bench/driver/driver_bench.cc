// The raster driver's page output: one A4 page at 200, 300 and 600 dpi written band by band to
// a port that only counts, and read back row by row with the checked reader. The surface size
// is reported beside the time (it stays near 11 MB whatever the resolution).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "driver/kelvad/device.h"

namespace {

using namespace zv::driver;

std::unique_ptr<KelvadDevice> Device(MemoryPlatform& ops, int dpi, WriteFn write) {
  PRIVDEVMODE m = BuildDefaultDevmode(ops, "Zelvora-Raster");
  m.dm.dmPrintQuality = m.dm.dmYResolution = static_cast<short>(dpi);
  auto d = KelvadDevice::Enable(ops, "Zelvora-Raster", Bytes(m), std::move(write));
  if (!d->EnableSurface().ok()) std::abort();
  return d;
}

void BM_WritePage(benchmark::State& state) {
  MemoryPlatform ops;
  ops.printers["Zelvora-Raster"];
  std::size_t bytes = 0;
  auto d = Device(ops, static_cast<int>(state.range(0)), [&](std::span<const std::uint8_t> b) {
    bytes += b.size();
    return true;
  });
  d->StartDoc();
  for (auto _ : state) {
    d->StartPage();
    BandOrigin o;
    d->StartBanding(&o);
    while (o.y >= 0) d->NextBand(&o);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  state.counters["surface_MB"] = static_cast<double>(d->surface().size()) / (1 << 20);
  state.counters["bands"] = d->layout().band_count;
}
BENCHMARK(BM_WritePage)->Arg(200)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);

void BM_ReadPage(benchmark::State& state) {
  MemoryPlatform ops;
  ops.printers["Zelvora-Raster"];
  std::vector<std::uint8_t> stream;
  auto d = Device(ops, static_cast<int>(state.range(0)), [&](std::span<const std::uint8_t> b) {
    stream.insert(stream.end(), b.begin(), b.end());
    return true;
  });
  d->StartDoc();
  d->StartPage();
  d->SendPage();
  if (d->layout().band_count != 1) {
    // A banded page: write it band by band instead.
    stream.clear();
    d->StartPage();
    BandOrigin o;
    d->StartBanding(&o);
    while (o.y >= 0) d->NextBand(&o);
  }
  for (auto _ : state) {
    std::size_t at = 0;
    PageStreamReader reader([&](std::span<std::uint8_t> b) -> std::optional<std::size_t> {
      std::size_t n = std::min(b.size(), stream.size() - at);
      std::memcpy(b.data(), stream.data() + at, n);
      at += n;
      return n;
    });
    auto page = reader.NextPage();
    if (!page.ok() || !page->has_value()) std::abort();
    std::vector<std::uint8_t> row((*page)->bytes_per_row);
    for (std::uint32_t y = 0; y < (*page)->height; ++y)
      if (!reader.ReadRow(row).ok()) std::abort();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_ReadPage)->Arg(200)->Arg(600)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
