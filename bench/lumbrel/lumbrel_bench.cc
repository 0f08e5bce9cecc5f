// Converting one page at 200 dpi to each format, for a page of 60 text lines and a page
// filled by a picture; results carry a pages-per-second counter. BM_Pdftoppm renders a PDF of
// the same page, written as an A4 PDF by the printer surface, with `pdftoppm -r 200 -png`
// (poppler) for comparison.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

#include "capture/lumbrel/convert.h"
#include "capture/lumbrel/tests/pages.h"
#include "platform/gdi/surfaces.h"
#include "viewer/playback/playback.h"

namespace {

namespace fs = std::filesystem;
using zv::lumbrel::testing::TestPage;

// A private runtime root and output folder, removed at exit.
struct BenchRoot {
  BenchRoot() {
    std::string pattern = (fs::temp_directory_path() / "zelvora-bench.XXXXXX").string();
    if (mkdtemp(pattern.data())) {
      path = pattern;
      setenv("ZELVORA_ROOT", path.c_str(), 1);
    }
  }
  ~BenchRoot() {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
  }
  std::string path;
};

BenchRoot& Root() {
  static BenchRoot root;
  return root;
}

// The page of a kind, as a one-page document (kept for the whole run).
const std::vector<TestPage>& PagesOf(int kind) {
  static const std::vector<TestPage> text{zv::lumbrel::testing::TextPage()};
  static const std::vector<TestPage> photo{zv::lumbrel::testing::PhotoPage()};
  return kind == 0 ? text : photo;
}

// Writes the page as an A4 PDF through the printer surface (vectors and text, as a printed
// document would be), so that pdftoppm renders it at the same pixel size as the converters.
bool WriteA4Pdf(const std::string& path, const TestPage& page) {
  auto printer = zv::gdi::PrinterSurface::Create(path, zv::lumbrel::kDefaultDpi);
  if (!printer.ok()) return false;
  const int w = int(std::int64_t(page.width) * zv::lumbrel::kDefaultDpi / 28800);
  const int h = int(std::int64_t(page.height) * zv::lumbrel::kDefaultDpi / 28800);
  auto dc = (*printer)->StartPage(w, h);
  if (!dc.ok()) return false;
  zv::playback::PlaybackState state;
  state.resolution = zv::lumbrel::kDefaultDpi;
  state.text_scale = std::int64_t(w) * 1536 / zv::lumbrel::kDefaultDpi;
  {
    std::lock_guard<std::recursive_mutex> lock(zv::playback::DrawingLock());
    if (!zv::playback::PlayRepaired(page.metafile, **dc, zv::win::RECT{0, 0, w, h}, state)) return false;
  }
  return (*printer)->EndPage().ok() && (*printer)->Close().ok();
}

const char* KindName(int kind) { return kind == 0 ? "text" : "photo"; }

// Converts one page per iteration to `extension` (".bmp", ".tif", ".jpg", ".png", ".pdf").
void BM_Convert(benchmark::State& state, const std::string& extension) {
  const int kind = int(state.range(0));
  const std::vector<zv::lumbrel::Page> pages = zv::lumbrel::testing::View(PagesOf(kind));
  const std::string out = Root().path + "/out" + extension;
  for (auto _ : state) {
    zv::Status s = extension == ".pdf"   ? zv::lumbrel::ConvertToPdf(out, pages)
                   : extension == ".png" ? zv::lumbrel::ConvertToPng(out, pages, std::nullopt)
                                         : zv::lumbrel::ConvertToRaster(out, pages, std::nullopt);
    if (!s.ok()) {
      state.SkipWithError(s.ToString().c_str());
      break;
    }
  }
  state.SetLabel(KindName(kind));
  state.counters["pages/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

// Renders an A4 PDF of the same page with pdftoppm at 200 dpi to PNG, one run per iteration.
void BM_Pdftoppm(benchmark::State& state) {
  const int kind = int(state.range(0));
  const std::string pdf = Root().path + "/poppler-" + KindName(kind) + ".pdf";
  if (!WriteA4Pdf(pdf, PagesOf(kind)[0])) {
    state.SkipWithError("no PDF to render");
    return;
  }
  const std::string command = "pdftoppm -r 200 -png '" + pdf + "' '" + Root().path + "/poppler' 2>/dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("pdftoppm failed");
      break;
    }
  }
  state.SetLabel(KindName(kind));
  state.counters["pages/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(BM_Convert, bmp, std::string(".bmp"))->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Convert, tiff, std::string(".tif"))->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Convert, jpeg, std::string(".jpg"))->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Convert, png, std::string(".png"))->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Convert, pdf, std::string(".pdf"))->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Pdftoppm)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
