// Packing and unpacking throughput of whole job documents on three fixed data sets:
//   a1  metafile pages recorded with the recording device context (text, tables, shapes),
//       at least 8 MB of document image;
//   a2  page bitmaps as the capture feeder hands them over: two 1-bit pages and one 8-bit
//       grey page (A4 at 300 dpi), each a metafile that draws the bitmap at its own size;
//   a3  one page holding a 24-bit photograph.
// Each is measured with the codec at 1, 2, 4 and 8 threads, with the coder as it was before
// it was tuned (one thread, "today"), and with zlib at levels 1 and 6 on the same bytes.
// Counters: MB, shown per second, is the throughput in uncompressed megabytes (10^6 bytes)
// of wall-clock time; ratio = uncompressed / packed size; load1 is the machine's one-minute
// load average when the benchmark ended; cpu_ms is the CPU time of all threads per
// document; others is how many cores other processes kept busy meanwhile (the figures
// mean little on a busy machine, and these say how busy it was).
// Run with --benchmark_repetitions=3 for the closing table.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <sys/resource.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "jobdoc/container.h"
#include "jobdoc/image.h"
#include "jobdoc/tests/reference_codec.h"
#include "platform/gdi/emf/builder.h"
#include "platform/gdi/recorder/recorder.h"
#include "platform/gdi/surfaces.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace jd = zv::jobdoc;
namespace gdi = zv::gdi;
namespace win = zv::win;

struct DataSet {
  std::string name;
  Bytes bytes;
};

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "data set: %s\n", what.c_str());
  std::exit(1);
}

// A small deterministic generator for the pages' words and numbers.
struct Lcg {
  std::uint32_t s;
  std::uint32_t Next(std::uint32_t n) {
    s = s * 1103515245u + 12345u;
    return (s >> 8) % n;
  }
};

std::u16string Words(Lcg& rng, int count) {
  static const char* const kWords[] = {
      "quota",  "printer", "sheet",   "colour", "layout", "copies", "the",    "of",      "and",     "report", "monthly",
      "budget", "office",  "account", "to",     "in",     "page",   "duplex", "toner",   "network", "a",      "is",
      "for",    "with",    "review",  "total",  "limit",  "user",   "group",  "section", "figure",  "table"};
  std::u16string s;
  for (int i = 0; i < count; ++i) {
    if (i) s += u' ';
    for (const char* c = kWords[rng.Next(32)]; *c; ++c) s += static_cast<char16_t>(*c);
  }
  return s;
}

std::u16string Number(Lcg& rng) {
  std::string n = std::to_string(rng.Next(100000)) + "." + std::to_string(10 + rng.Next(90));
  return std::u16string(n.begin(), n.end());
}

// Draws one page of an office document at `dpi` (A4): a heading, paragraphs, a table with
// a shaded header row, and a few shapes.
void DrawPage(gdi::DeviceContext& dc, int page, int dpi) {
  auto u = [dpi](int v) { return v * dpi / 300; };  // 1/300 inch to device units
  Lcg rng{static_cast<std::uint32_t>(page * 7919 + 1)};
  dc.SetBkMode(win::TRANSPARENT);
  dc.SelectFont(gdi::Font{gdi::MakeLogFont("Liberation Sans", -u(60), win::FW_BOLD)});
  dc.TextOutW(u(200), u(180), u"Section " + std::u16string(1, u'0' + page % 10) + u" " + Words(rng, 4));
  dc.SelectFont(gdi::Font{gdi::MakeLogFont("Liberation Serif", -u(38))});
  int y = u(320);
  for (int line = 0; line < 34; ++line, y += u(50)) {
    dc.TextOutW(u(200), y, Words(rng, 9 + static_cast<int>(rng.Next(5))));
  }
  // The table: 14 rows of 5 columns.
  const int left = u(200), top = y + u(40), row = u(56), col = u(410);
  dc.SelectStockObject(win::NULL_PEN);
  dc.SelectBrush(gdi::Brush::Solid(win::RGB(200, 200, 200)));
  dc.Rectangle(left, top, left + 5 * col + 1, top + row + 1);
  gdi::Pen rule;
  rule.width = u(3);
  dc.SelectPen(rule);
  for (int r = 0; r <= 14; ++r) {
    dc.MoveToEx(left, top + r * row);
    dc.LineTo(left + 5 * col, top + r * row);
  }
  for (int c = 0; c <= 5; ++c) {
    dc.MoveToEx(left + c * col, top);
    dc.LineTo(left + c * col, top + 14 * row);
  }
  for (int r = 0; r < 14; ++r) {
    for (int c = 0; c < 5; ++c) {
      dc.TextOutW(left + c * col + u(12), top + r * row + u(8),
                  r == 0   ? Words(rng, 1)
                  : c == 0 ? Words(rng, 2)
                           : Number(rng));
    }
  }
  // Shapes below the table.
  const int shapes = top + 14 * row + u(80);
  dc.SelectBrush(gdi::Brush::Solid(win::RGB(120, 120, 120)));
  dc.Ellipse(u(200), shapes, u(700), shapes + u(400));
  dc.SelectBrush(gdi::Brush::Solid(win::RGB(60, 60, 60)));
  dc.RoundRect(u(800), shapes, u(1400), shapes + u(400), u(60), u(60));
  const win::POINT tri[] = {{u(1500), shapes + u(400)}, {u(1800), shapes}, {u(2100), shapes + u(400)}};
  dc.SelectBrush(gdi::Brush::Solid(win::RGB(160, 160, 160)));
  dc.Polygon(tri);
  dc.SelectFont(gdi::Font{gdi::MakeLogFont("Liberation Sans", -u(30))});
  dc.TextOutW(u(1100), u(3380), u"- " + std::u16string(1, u'0' + page % 10) + u" -");
}

jd::DocumentImage Document(std::vector<Bytes> pages) {
  jd::DocumentImage doc;
  doc.format = jd::DefaultPageFormatRecord();
  doc.name = "Benchmark";
  for (Bytes& p : pages) {
    jd::DocumentPage page;
    page.metafile = std::move(p);
    page.attributes = {9, 2100, 2970};
    doc.pages.push_back(std::move(page));
  }
  doc.format.page_count = static_cast<std::uint16_t>(doc.pages.size());
  return doc;
}

Bytes Image(const jd::DocumentImage& doc) {
  auto image = jd::BuildDocumentImage(doc, false);
  if (!image.ok()) Die(image.status().ToString());
  return std::move(*image);
}

// a1: recorded pages until the image holds at least 8 MB.
Bytes RecordedPages() {
  auto reference = gdi::MemoryBitmap::Create(64, 64, 24, 600);
  if (!reference.ok()) Die(reference.status().ToString());
  std::vector<Bytes> pages;
  std::size_t total = 0;
  for (int page = 1; total < 8'400'000; ++page) {
    gdi::MetafileRecorder::Options o;
    o.device = {4960, 7016};
    o.millimeters = {210, 297};
    o.frame = win::RECTL{0, 0, 21000, 29700};
    o.reference = &(*reference)->dc();
    gdi::MetafileRecorder rec(o);
    DrawPage(rec, page, 600);
    auto bytes = rec.Close();
    if (!bytes.ok()) Die(bytes.status().ToString());
    total += bytes->size();
    pages.push_back(std::move(*bytes));
  }
  return Image(Document(std::move(pages)));
}

void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A bottom-up BITMAPINFOHEADER with a grey colour table of 2^bits entries (none for 24).
Bytes BitmapInfo(int width, int height, int bits) {
  const int colours = bits <= 8 ? 1 << bits : 0;
  Bytes info(40 + 4 * colours, 0);
  Put32(info, 0, 40);
  Put32(info, 4, static_cast<std::uint32_t>(width));
  Put32(info, 8, static_cast<std::uint32_t>(height));
  Put16(info, 12, 1);
  Put16(info, 14, static_cast<std::uint32_t>(bits));
  Put32(info, 24, 11811);  // 300 dpi
  Put32(info, 28, 11811);
  for (int i = 0; i < colours; ++i) {
    std::uint8_t v = static_cast<std::uint8_t>(i * 255 / (colours - 1));
    info[40 + 4 * i] = info[41 + 4 * i] = info[42 + 4 * i] = v;
  }
  return info;
}

// A page as the capture library makes it from a bitmap: the paper as the reference
// rectangle, the bitmap drawn at (0, 0) at its own size.
Bytes BitmapPage(const Bytes& info, const Bytes& bits, int width, int height) {
  zv::emf::Writer::Options o;
  o.device = {width, height};
  o.millimeters = {210, 297};
  o.frame = win::RECTL{0, 0, 21000, 29700};
  zv::emf::MetafileBuilder mf(o);
  mf.StretchDIBits(0, 0, width, height, info, bits);
  return mf.Build();
}

// a2: two 1-bit pages and one 8-bit grey page of A4 at 300 dpi.
Bytes PageBitmaps() {
  constexpr int kWidth = 2480, kHeight = 3508;
  std::vector<Bytes> pages;
  for (int page = 1; page <= 2; ++page) {
    auto bitmap = gdi::MemoryBitmap::Create(kWidth, kHeight, 1, 300);
    if (!bitmap.ok()) Die(bitmap.status().ToString());
    DrawPage((*bitmap)->dc(), page, 300);
    gdi::Dib dib = (*bitmap)->ToDib();
    pages.push_back(BitmapPage(dib.info, dib.bits, kWidth, kHeight));
  }
  auto colour = gdi::MemoryBitmap::Create(kWidth, kHeight, 24, 300);
  if (!colour.ok()) Die(colour.status().ToString());
  DrawPage((*colour)->dc(), 3, 300);
  gdi::Dib dib = (*colour)->ToDib();  // bottom-up rows of B, G, R padded to 4 bytes
  const std::size_t in_stride = (kWidth * 3 + 3) & ~std::size_t{3};
  const std::size_t stride = (kWidth + 3) & ~std::size_t{3};
  Bytes grey(stride * kHeight, 0);
  for (int y = 0; y < kHeight; ++y) {
    const std::uint8_t* in = dib.bits.data() + y * in_stride;
    for (int x = 0; x < kWidth; ++x) {
      grey[y * stride + x] =
          static_cast<std::uint8_t>((in[3 * x] * 29 + in[3 * x + 1] * 150 + in[3 * x + 2] * 77) >> 8);
    }
  }
  pages.push_back(BitmapPage(BitmapInfo(kWidth, kHeight, 8), grey, kWidth, kHeight));
  return Image(Document(std::move(pages)));
}

// a3: one page with a 24-bit photograph of 1800 x 1200 pixels: smooth light and colour
// with fine texture and sensor noise, which hardly compresses.
Bytes PhotoPage() {
  constexpr int kWidth = 1800, kHeight = 1200;
  const std::size_t stride = (kWidth * 3 + 3) & ~std::size_t{3};
  Bytes bits(stride * kHeight, 0);
  std::uint32_t noise = 12345;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const double fx = x / double(kWidth), fy = y / double(kHeight);
      const double light = 0.55 + 0.35 * std::sin(3.1 * fx + 1.3) * std::cos(2.3 * fy - 0.4);
      const double texture =
          0.08 * std::sin(x * 0.21 + std::sin(y * 0.05) * 4) * std::cos(y * 0.17 + std::cos(x * 0.03) * 3);
      for (int c = 0; c < 3; ++c) {
        noise = noise * 1664525u + 1013904223u;
        const double tint = 0.85 + 0.15 * std::sin(fx * (2 + c) + fy * (3 - c) + c);
        double v = 255 * (light + texture) * tint + static_cast<int>(noise >> 28) - 8;
        bits[y * stride + 3 * x + c] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
      }
    }
  }
  return Image(Document({BitmapPage(BitmapInfo(kWidth, kHeight, 24), bits, kWidth, kHeight)}));
}

// The CPU time of the whole process (every thread) so far, in seconds.
double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The CPU time all processes of the machine spent busy so far, in seconds (/proc/stat).
double MachineBusySeconds() {
  std::FILE* f = std::fopen("/proc/stat", "r");
  if (!f) return 0;
  unsigned long long v[8] = {};
  int n = std::fscanf(f, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6],
                      &v[7]);
  std::fclose(f);
  if (n < 5) return 0;
  unsigned long long busy = 0;
  for (int i = 0; i < 8; ++i) busy += (i == 3 || i == 4) ? 0 : v[i];  // all but idle, iowait
  return static_cast<double>(busy) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Where a benchmark loop began: process CPU, machine busy time, wall clock.
struct Start {
  double cpu = ProcessCpuSeconds();
  double busy = MachineBusySeconds();
  std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
};

// cpu_ms is the CPU time of all threads per document: beside one thread's it shows the
// work the pool adds. others is the number of cores that other processes kept busy on
// average meanwhile: a pool of n threads can go at most min(n, cores - others) times as
// fast as one thread.
void SetCounters(benchmark::State& state, std::size_t raw, std::size_t packed, const Start& start) {
  state.counters["MB"] = benchmark::Counter(static_cast<double>(raw) / 1e6 * static_cast<double>(state.iterations()),
                                            benchmark::Counter::kIsRate);
  const double cpu = ProcessCpuSeconds() - start.cpu;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start.wall).count();
  state.counters["cpu_ms"] = cpu * 1e3 / static_cast<double>(state.iterations());
  // /proc/stat counts in clock ticks of all cores: over a short run, or when it cannot be
  // read, the figure means nothing and is left out.
  const double others = (MachineBusySeconds() - start.busy - cpu) / wall;
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  if (wall >= 0.2 && others > -0.5 && others < static_cast<double>(cores) + 0.5) {
    state.counters["others"] = others;
  }
  state.counters["ratio"] = static_cast<double>(raw) / static_cast<double>(packed);
  double load[1] = {0};
  if (getloadavg(load, 1) == 1) state.counters["load1"] = load[0];
}

void CodecPack(benchmark::State& state, const Bytes& data, unsigned threads) {
  auto codec = jd::NewCodecState();
  Bytes out;
  const Start start;
  for (auto _ : state) {
    if (!jd::PackDocumentImage(data, out, *codec, threads).ok()) state.SkipWithError("pack failed");
    benchmark::DoNotOptimize(out.data());
  }
  SetCounters(state, data.size(), out.size(), start);
}

void CodecUnpack(benchmark::State& state, const Bytes& data, unsigned threads) {
  auto codec = jd::NewCodecState();
  Bytes file;
  (void)jd::PackDocumentImage(data, file, *codec);
  const Start start;
  for (auto _ : state) {
    jd::UnpackResult r = jd::UnpackDocumentBytes(file, *codec, threads);
    if (!r.ok() || r.document->size != data.size()) state.SkipWithError("unpack failed");
    benchmark::DoNotOptimize(r.document->buffer.data());
  }
  SetCounters(state, data.size(), file.size(), start);
}

void TodayPack(benchmark::State& state, const Bytes& data) {
  auto codec = std::make_unique<jd::reference::State>();
  jd::reference::InitTables(*codec);
  Bytes out;
  const Start start;
  for (auto _ : state) {
    out = jd::reference::PackImage(data, *codec);
    benchmark::DoNotOptimize(out.data());
  }
  SetCounters(state, data.size(), out.size(), start);
}

void TodayUnpack(benchmark::State& state, const Bytes& data) {
  auto codec = std::make_unique<jd::reference::State>();
  jd::reference::InitTables(*codec);
  Bytes file = jd::reference::PackImage(data, *codec), image;
  const Start start;
  for (auto _ : state) {
    if (!jd::reference::UnpackImage(file, image, *codec)) state.SkipWithError("unpack failed");
    benchmark::DoNotOptimize(image.data());
  }
  SetCounters(state, data.size(), file.size(), start);
}

void ZlibPack(benchmark::State& state, const Bytes& data, int level) {
  Bytes out(compressBound(data.size()));
  uLongf n = 0;
  const Start start;
  for (auto _ : state) {
    n = out.size();
    if (compress2(out.data(), &n, data.data(), data.size(), level) != Z_OK) {
      state.SkipWithError("compress2 failed");
    }
    benchmark::DoNotOptimize(out.data());
  }
  SetCounters(state, data.size(), n, start);
}

void ZlibUnpack(benchmark::State& state, const Bytes& data, int level) {
  Bytes packed(compressBound(data.size()));
  uLongf n = packed.size();
  compress2(packed.data(), &n, data.data(), data.size(), level);
  Bytes out(data.size());
  const Start start;
  for (auto _ : state) {
    uLongf m = out.size();
    if (uncompress(out.data(), &m, packed.data(), n) != Z_OK || m != data.size()) {
      state.SkipWithError("uncompress failed");
    }
    benchmark::DoNotOptimize(out.data());
  }
  SetCounters(state, data.size(), n, start);
}

}  // namespace

int main(int argc, char** argv) {
  static const std::vector<DataSet> sets = {
      {"a1-metafile", RecordedPages()}, {"a2-bitmaps", PageBitmaps()}, {"a3-photo", PhotoPage()}};
  for (const DataSet& set : sets) {
    std::fprintf(stderr, "%s: %zu bytes\n", set.name.c_str(), set.bytes.size());
  }
  auto add = [](const std::string& name, auto fn) {
    benchmark::RegisterBenchmark(name.c_str(), fn)->UseRealTime()->Unit(benchmark::kMillisecond);
  };
  for (const DataSet& set : sets) {
    const Bytes* d = &set.bytes;
    add("pack/today/" + set.name, [d](benchmark::State& s) { TodayPack(s, *d); });
    for (unsigned t : {1u, 2u, 4u, 8u}) {
      add("pack/jobcodec/" + set.name + "/threads:" + std::to_string(t),
          [d, t](benchmark::State& s) { CodecPack(s, *d, t); });
    }
    for (int level : {1, 6}) {
      add("pack/zlib" + std::to_string(level) + "/" + set.name,
          [d, level](benchmark::State& s) { ZlibPack(s, *d, level); });
    }
    add("unpack/today/" + set.name, [d](benchmark::State& s) { TodayUnpack(s, *d); });
    for (unsigned t : {1u, 2u, 4u, 8u}) {
      add("unpack/jobcodec/" + set.name + "/threads:" + std::to_string(t),
          [d, t](benchmark::State& s) { CodecUnpack(s, *d, t); });
    }
    for (int level : {1, 6}) {
      add("unpack/zlib" + std::to_string(level) + "/" + set.name,
          [d, level](benchmark::State& s) { ZlibUnpack(s, *d, level); });
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
