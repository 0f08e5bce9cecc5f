// Opening a 200-page document and drawing its pages. Results are given per document with
// a pages-per-second counter; opening only reads the pages (drawing happens on demand).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "jobdoc/sample/sample_document.h"
#include "platform/gdi/surfaces.h"
#include "viewer/viewer_doc.h"

namespace {

constexpr int kPages = 200;

// A private runtime root for the temporary page files, removed at exit.
struct BenchRoot {
  BenchRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zelvora-bench.XXXXXX").string();
    if (mkdtemp(pattern.data())) {
      path = pattern;
      setenv("ZELVORA_ROOT", path.c_str(), 1);
    }
  }
  ~BenchRoot() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
  std::string path;
};

// The document: 40 lines a page (about 3 KB, kept in memory) or 400 (about 24 KB, above the
// in-memory limit, so each page goes to a temporary file).
std::vector<std::uint8_t> MakeImage(int lines) {
  auto doc = zv::jobdoc::sample::MakeDocument(kPages, lines, /*attachment=*/false);
  auto bytes = zv::jobdoc::BuildDocumentImage(doc, /*page_trailers=*/false);
  return bytes.ok() ? *bytes : std::vector<std::uint8_t>{};
}

const std::vector<std::uint8_t>& Image(int lines = 40) {
  static BenchRoot root;
  static const std::vector<std::uint8_t> small = MakeImage(40);
  static const std::vector<std::uint8_t> large = MakeImage(400);
  return lines == 40 ? small : large;
}

void BM_OpenDocument(benchmark::State& state) {
  const auto& image = Image(int(state.range(0)));
  for (auto _ : state) {
    zv::viewer::CViewerDoc doc;
    if (doc.LoadFromBuffer(image, kPages) != 1 || doc.page_count() != kPages) {
      state.SkipWithError("the document did not load");
      break;
    }
    benchmark::DoNotOptimize(doc.page_count());
  }
  state.SetItemsProcessed(state.iterations() * kPages);
  state.counters["pages_per_s"] = benchmark::Counter(double(state.iterations()) * kPages, benchmark::Counter::kIsRate);
  state.counters["image_MB"] = double(image.size()) / 1e6;
}

void BM_RenderEachPage(benchmark::State& state) {
  const int dpi = int(state.range(0));
  zv::viewer::CViewerDoc doc;
  if (doc.LoadFromBuffer(Image(), kPages) != 1) {
    state.SkipWithError("the document did not load");
    return;
  }
  // An A4 page at the resolution.
  const int w = 210 * dpi * 10 / 254, h = 297 * dpi * 10 / 254;
  auto bmp = zv::gdi::MemoryBitmap::Create(w, h, 24, dpi);
  if (!bmp.ok()) {
    state.SkipWithError("no bitmap");
    return;
  }
  const zv::win::RECT r{0, 0, w, h};
  for (auto _ : state) {
    for (int i = 0; i < kPages; ++i) doc.RenderPage((*bmp)->dc(), dpi, 0, std::int16_t(i), &r);
  }
  state.SetItemsProcessed(state.iterations() * kPages);
  state.counters["pages_per_s"] = benchmark::Counter(double(state.iterations()) * kPages, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_OpenDocument)->ArgName("lines")->Arg(40)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderEachPage)->Arg(96)->Arg(200)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
