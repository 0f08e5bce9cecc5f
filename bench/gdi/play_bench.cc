// Pages per second: playing A4 pages (recorded at 300 dpi) into a 200 dpi memory bitmap, and
// printing them through the printer surface.
//
// BM_PlayCorpusPage plays each page of the EMF corpus (emf_corpus.h) on one thread;
// BM_PrintCorpus prints the whole corpus at 300 dpi on all cores (the cores the process may
// use: print_cores.py runs it under taskset on 1, 2, 4 and 8 cores, beside the printing
// bench's BM_FourUpFiftyPages, for two builds in turn).
//
// BM_PlayPage's pages, from the corpus: a text-heavy page, a bitmap-heavy page, two pages like those office programs
// print: a letter (text in several faces, a table, a logo of shapes) and a report recorded in MM_LOMETRIC (a chart with
// hatched and dashed shapes, a photograph reduced in HALFTONE mode, a table, text), and a clipping-heavy catalogue page
// of masked pictures. BM_PlayClippedPageSampled plays the catalogue with its pictures sampled instead of reduced.
// BM_PlayLinkedTextPage plays a text page whose Latin faces lack most of its characters (Japanese, Cyrillic, symbols),
// each drawn from another installed face. BM_PlayerVsPdftoppm plays the whole set and, in the same run, renders a PDF
// of the same pages made by the printer surface with `pdftoppm -r 200`, and reports both
// rates and their ratio. BM_ClearPage / BM_MemsetPage compare a whole-page solid fill with a
// memset of the page's bytes.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench/gdi/emf_corpus.h"
#include "platform/gdi/player.h"
#include "platform/gdi/surfaces.h"
#include "platform/testing/temp_root.h"

extern char** environ;

namespace zv::gdi {
namespace {

constexpr int kA4W200 = 1654, kA4H200 = 2339;

struct NamedPage {
  const char* name;
  std::vector<std::uint8_t> bytes;
};

const std::vector<NamedPage>& Pages() {
  static const std::vector<NamedPage> pages = {{"text", corpus::Page("02-quote-text")->bytes},
                                               {"bitmap", corpus::Page("04-bitmap")->bytes},
                                               {"letter", corpus::Page("05-letter")->bytes},
                                               {"report", corpus::Page("06-report")->bytes},
                                               {"clipped", corpus::Page("07-catalogue")->bytes}};
  return pages;
}

Status PlayOnto(MemoryBitmap& bmp, const std::vector<std::uint8_t>& page) {
  RECT dest{0, 0, kA4W200, kA4H200};
  bmp.dc().PatBlt(0, 0, kA4W200, kA4H200, win::WHITENESS);
  return PlayMetafile(bmp.dc(), page, &dest);
}

// Plays `page` in the benchmark's loop and reports pages per second.
void PlayRepeatedly(benchmark::State& state, const std::vector<std::uint8_t>& page) {
  auto bmp = MemoryBitmap::Create(kA4W200, kA4H200, 24, 200);
  if (page.empty() || !bmp.ok()) {
    state.SkipWithError("cannot build the page");
    return;
  }
  for (auto _ : state) {
    if (Status s = PlayOnto(**bmp, page); !s.ok()) {
      state.SkipWithError(s.ToString().c_str());
      return;
    }
  }
  state.counters["pages_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_PlayPage(benchmark::State& state) {
  const NamedPage& page = Pages()[size_t(state.range(0))];
  state.SetLabel(page.name);
  PlayRepeatedly(state, page.bytes);
  state.counters["page_bytes"] = double(page.bytes.size());
}
BENCHMARK(BM_PlayPage)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

// One page of the EMF corpus played on one thread.
void BM_PlayCorpusPage(benchmark::State& state) {
  const corpus::CorpusPage& page = corpus::Pages()[size_t(state.range(0))];
  state.SetLabel(page.name);
  PlayRepeatedly(state, page.bytes);
}
BENCHMARK(BM_PlayCorpusPage)->DenseRange(0, 12)->Unit(benchmark::kMillisecond);

// The thirteen corpus pages printed at 300 dpi through the printer surface, which draws the
// pages it prints as pixels on all cores (band by band, or a picture per raster area): pages
// per second of wall time. Argument 1 prints every page as pixels (a binary raster operation
// of the pen selected first, as drawing programs do), so that every page takes the road on
// all cores.
void BM_PrintCorpus(benchmark::State& state) {
  zv::testing::TempRoot root;
  const std::vector<corpus::CorpusPage>& corpus = corpus::Pages();  // recorded before the timing
  const bool all_pixels = state.range(0) != 0;
  constexpr int kW = 2480, kH = 3508;
  std::int64_t pages = 0;
  for (auto _ : state) {
    auto printer = PrinterSurface::Create((root.path() / "corpus.pdf").string(), 300);
    if (!printer.ok()) {
      state.SkipWithError("cannot create the PDF");
      break;
    }
    for (const corpus::CorpusPage& page : corpus) {
      auto dc = (*printer)->StartPage(kW, kH);
      if (!dc.ok()) {
        state.SkipWithError("cannot start a page");
        break;
      }
      if (all_pixels) {
        (*dc)->SetROP2(win::R2_NOT);
        (*dc)->SetROP2(win::R2_COPYPEN);
      }
      RECT dest{0, 0, kW, kH};
      (void)PlayMetafile(**dc, page.bytes, &dest);
      if (!(*printer)->EndPage().ok()) {
        state.SkipWithError("cannot print a page");
        break;
      }
      ++pages;
    }
    if (!(*printer)->Close().ok()) state.SkipWithError("cannot finish the PDF");
  }
  state.counters["pages_per_s"] = benchmark::Counter(double(pages), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PrintCorpus)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_PlayLinkedTextPage(benchmark::State& state) { PlayRepeatedly(state, corpus::Page("03-linked-text")->bytes); }
BENCHMARK(BM_PlayLinkedTextPage)->Unit(benchmark::kMillisecond);

// The clipped page with pictures sampled, not reduced by combining pixels.
void BM_PlayClippedPageSampled(benchmark::State& state) {
  PlayRepeatedly(state, corpus::Page("08-catalogue-sampled")->bytes);
}
BENCHMARK(BM_PlayClippedPageSampled)->Unit(benchmark::kMillisecond);

// Runs a program and waits for it; gives its exit status (-1 when it cannot start).
int Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int st = 0;
  if (waitpid(pid, &st, 0) != pid) return -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

void BM_PlayerVsPdftoppm(benchmark::State& state) {
  namespace fs = std::filesystem;
  char tmpl[] = "/tmp/zv_play_bench_XXXXXX";
  if (!mkdtemp(tmpl)) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const fs::path dir = tmpl;
  const std::string pdf = (dir / "pages.pdf").string();
  {
    auto printer = PrinterSurface::Create(pdf, 200);
    if (!printer.ok()) {
      state.SkipWithError("cannot create the PDF");
      return;
    }
    for (const NamedPage& page : Pages()) {
      auto dc = (*printer)->StartPage(kA4W200, kA4H200);
      if (!dc.ok()) break;
      RECT dest{0, 0, kA4W200, kA4H200};
      (void)PlayMetafile(**dc, page.bytes, &dest);
      (void)(*printer)->EndPage();
    }
    (void)(*printer)->Close();
  }
  auto bmp = MemoryBitmap::Create(kA4W200, kA4H200, 24, 200);
  if (!bmp.ok()) {
    state.SkipWithError("no bitmap");
    return;
  }
  using Clock = std::chrono::steady_clock;
  double player_s = 0, pdftoppm_s = 0;
  std::size_t pages = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    for (const NamedPage& page : Pages()) (void)PlayOnto(**bmp, page.bytes);
    auto t1 = Clock::now();
    const int rc = Run({"pdftoppm", "-r", "200", pdf, (dir / "out").string()});
    auto t2 = Clock::now();
    if (rc != 0) {
      state.SkipWithError("pdftoppm failed (is poppler-utils installed?)");
      break;
    }
    player_s += std::chrono::duration<double>(t1 - t0).count();
    pdftoppm_s += std::chrono::duration<double>(t2 - t1).count();
    pages += Pages().size();
    for (const auto& e : fs::directory_iterator(dir)) {
      if (e.path().extension() == ".ppm") fs::remove(e.path());
    }
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  if (pages == 0 || player_s <= 0 || pdftoppm_s <= 0) return;
  state.counters["player_pages_per_s"] = double(pages) / player_s;
  state.counters["pdftoppm_pages_per_s"] = double(pages) / pdftoppm_s;
  state.counters["player_over_pdftoppm"] = pdftoppm_s / player_s;
}
BENCHMARK(BM_PlayerVsPdftoppm)->Unit(benchmark::kMillisecond)->Iterations(5);

// A whole-page fill against a memset of the page's bytes.
void BM_ClearPage(benchmark::State& state) {
  auto bmp = MemoryBitmap::Create(kA4W200, kA4H200, 24, 200);
  if (!bmp.ok()) {
    state.SkipWithError("no bitmap");
    return;
  }
  DeviceContext& dc = (*bmp)->dc();
  const Brush grey = Brush::Solid(win::RGB(240, 240, 240));
  const Region page(RECT{0, 0, kA4W200, kA4H200});
  dc.SelectBrush(grey);
  dc.SelectStockObject(win::NULL_PEN);
  const char* labels[] = {"PatBlt WHITENESS", "PatBlt PATCOPY solid", "FillRgn solid", "Rectangle solid"};
  for (auto _ : state) {
    switch (state.range(0)) {
      case 0:
        dc.PatBlt(0, 0, kA4W200, kA4H200, win::WHITENESS);
        break;
      case 1:
        dc.PatBlt(0, 0, kA4W200, kA4H200, win::PATCOPY);
        break;
      case 2:
        dc.FillRgn(page, grey);
        break;
      default:
        dc.Rectangle(0, 0, kA4W200 + 1, kA4H200 + 1);
        break;
    }
  }
  state.SetLabel(labels[state.range(0)]);
}
BENCHMARK(BM_ClearPage)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

void BM_MemsetPage(benchmark::State& state) {
  std::vector<std::uint8_t> page(size_t(kA4W200) * kA4H200 * 4);
  for (auto _ : state) {
    std::memset(page.data(), 0xFF, page.size());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_MemsetPage)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zv::gdi

BENCHMARK_MAIN();
