// Sheets per second: a 50-page document printed four pages per sheet to a folder printer at
// 300 dpi through the printer device context (drawing layer printer surface, spooler job),
// with the peak resident memory of the process after the run (BM_FourUpThousandSheets: a job
// of 1,000 sheets) and the size of the job's PDF. Run each case alone (--benchmark_filter) to
// read its own peak.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>

#include "platform/gdi/recorder/recorder.h"
#include "platform/spool/folder_spooler.h"
#include "platform/testing/temp_root.h"
#include "printing/print_job.h"
#include "printing/viewer_document.h"
#include "viewer/viewer_doc.h"

namespace zv::printing {
namespace {

// An A4 page at 300 dpi: a title band, 60 lines of Japanese and Latin text and a table grid.
std::vector<std::uint8_t> OfficePage(int n, bool raster_op) {
  gdi::MetafileRecorder rec(gdi::MetafileRecorder::Options{});
  rec.SetBkMode(win::TRANSPARENT);
  rec.SelectBrush(gdi::Brush::Solid(win::RGB(200, 220, 255)));
  rec.Rectangle(150, 150, 2330, 330);
  const gdi::Font fonts[] = {
      gdi::Font{gdi::MakeLogFont("ＭＳ 明朝", -42, win::FW_NORMAL, false, win::SHIFTJIS_CHARSET)},
      gdi::Font{gdi::MakeLogFont("Arial", -38)}};
  const std::u16string lines[] = {u"見積書 下記の通りお見積り申し上げます。納期：受注後二週間以内",
                                  u"Item 0042  Office print control licence, 25 seats   12,500 JPY"};
  for (int line = 0; line < 60; ++line) {
    rec.SelectFont(fonts[line % 2]);
    rec.ExtTextOutW(150, 400 + line * 50, 0, nullptr, lines[(line + n) % 2]);
  }
  gdi::Pen pen;
  pen.width = 2;
  rec.SelectPen(pen);
  for (int i = 0; i < 20; ++i) {
    rec.MoveToEx(150, 400 + i * 150);
    rec.LineTo(2330, 400 + i * 150);
  }
  // An inverted highlight needs the destination's pixels: the sheet is rendered as raster.
  if (raster_op) rec.PatBlt(150, 150, 1000, 180, win::DSTINVERT);
  auto bytes = rec.Close();
  return bytes.ok() ? *bytes : std::vector<std::uint8_t>{};
}

// Prints `pages` office pages four to a sheet; argument 0: vector pages; 1: pages with a
// raster operation.
void PrintFourUp(benchmark::State& state, int pages) {
  zv::testing::TempRoot root;
  spool::FolderSpooler spooler;
  spool::FolderPrinter printer = spool::StandardFolderPrinter("Office");
  printer.caps.default_resolution = {300, 300};
  if (!spooler.AddPrinter(printer).ok()) {
    state.SkipWithError("no printer");
    return;
  }
  viewer::CViewerDoc vdoc;
  vdoc.SetDocName("bench");
  const std::vector<std::uint8_t> page[2] = {OfficePage(0, state.range(0) != 0), OfficePage(1, state.range(0) != 0)};
  for (int i = 0; i < pages; ++i) {
    if (vdoc.AppendData(0x8000, 9, 2100, 2970, page[i % 2], 0, 0) != 1) {
      state.SkipWithError("page not stored");
      return;
    }
  }
  ViewerPrintDocument doc(vdoc);
  PrintJobSpec order;
  order.printer = "Office";
  order.document_name = "bench";
  order.layout_mode = kModeFourByColumn;
  order.sheet.separators = 0;
  std::int64_t sides = 0;
  double pdf_bytes = 0;
  for (auto _ : state) {
    PrintOutcome out = RunPrintJob(spooler, doc, order, PrinterSurfaces(), nullptr);
    if (out.code != kPrintOk) {
      state.SkipWithError(out.detail.c_str());
      return;
    }
    sides += out.sides;
    state.PauseTiming();
    const std::string name = std::to_string(out.job_id) + ".pdf";
    for (const auto& e : std::filesystem::recursive_directory_iterator(root.path())) {
      if (e.path().filename() == name) pdf_bytes = double(e.file_size());
    }
    if (!spooler.CancelJob("Office", out.job_id).ok()) {
      state.SkipWithError("the printed job could not be cancelled");
      return;
    }
    state.ResumeTiming();
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["sheets_per_s"] = benchmark::Counter(double(sides), benchmark::Counter::kIsRate);
  state.counters["peak_rss_MB"] = double(usage.ru_maxrss) / 1024.0;
  state.counters["job_pdf_KB"] = pdf_bytes / 1024.0;
}
void BM_FourUpFiftyPages(benchmark::State& state) { PrintFourUp(state, 50); }
BENCHMARK(BM_FourUpFiftyPages)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// A job of 1,000 sheets (4,000 pages), for the peak memory of a large job: run alone.
void BM_FourUpThousandSheets(benchmark::State& state) { PrintFourUp(state, 4000); }
BENCHMARK(BM_FourUpThousandSheets)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace
}  // namespace zv::printing

BENCHMARK_MAIN();
