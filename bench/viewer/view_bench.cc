// The page view over a 500-page document: attaching a view (the pages are not drawn up
// front) and scrolling row by row with a paint at each step, measured on the window
// thread only (rows are drawn by the page worker meanwhile); and the worker's time to
// draw one row at page-width zoom.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QWidget>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "jobdoc/sample/sample_document.h"
#include "viewer/qt/viewer_view.h"
#include "viewer/view/page_worker.h"
#include "viewer/viewer_doc.h"

namespace {

constexpr int kPages = 500;

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

const std::vector<std::uint8_t>& Image() {
  static const std::vector<std::uint8_t> image = [] {
    auto doc = zv::jobdoc::sample::MakeDocument(kPages, 40, false);
    auto bytes = zv::jobdoc::BuildDocumentImage(doc, false);
    return bytes.ok() ? *bytes : std::vector<std::uint8_t>{};
  }();
  return image;
}

// Loading the document and attaching a view to an 800 x 600 window.
void BM_OpenView500(benchmark::State& state) {
  BenchRoot root;
  for (auto _ : state) {
    zv::viewer::CViewerDoc doc;
    doc.LoadFromBuffer(Image(), kPages);
    QWidget host;
    host.resize(800, 600);
    zv::viewer::CViewerView view;
    view.SetDocument(&doc);
    view.AttachWindow(&host, 1, 0);
    benchmark::DoNotOptimize(view.GetPageCount());
  }
  state.counters["pages"] = kPages;
}
BENCHMARK(BM_OpenView500)->Unit(benchmark::kMillisecond);

// Scrolling through all 500 rows, painting each step on the window thread.
void BM_ScrollThrough500(benchmark::State& state) {
  BenchRoot root;
  zv::viewer::CViewerDoc doc;
  doc.LoadFromBuffer(Image(), kPages);
  QWidget host;
  host.resize(800, 600);
  host.show();
  zv::viewer::CViewerView view;
  view.SetDocument(&doc);
  view.AttachWindow(&host, 1, 0);
  QImage target(host.size(), QImage::Format_RGB32);
  for (auto _ : state) {
    for (int row = 0; row < kPages; ++row) {
      view.GoToPage(std::uint16_t(row));
      host.render(&target);
    }
  }
  state.counters["rows/s"] =
      benchmark::Counter(double(kPages) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ScrollThrough500)->Unit(benchmark::kMillisecond);

// The worker drawing one row (an A4 page at 70 dpi, page width in an 800-pixel window).
void BM_DrawRow(benchmark::State& state) {
  BenchRoot root;
  zv::viewer::CViewerDoc doc;
  doc.LoadFromBuffer(Image(), kPages);
  zv::viewer::view::RenderRequest rq;
  rq.width = 576;
  rq.height = 815;
  rq.resolution = 70;
  rq.turned = state.range(0) != 0;
  auto surface = zv::gdi::ScreenSurface::Create(rq.width, rq.height, 96);
  int row = 0;
  for (auto _ : state) {
    rq.first_page = rq.turned ? 3 + 4 * (row++ % 100) : row++ % kPages;
    zv::viewer::view::DrawRow(doc, rq, **surface);
  }
  state.counters["rows/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DrawRow)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int qargc = 1;
  static char name[] = "view_bench";
  static char* qargv[] = {name, nullptr};
  QApplication app(qargc, qargv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
