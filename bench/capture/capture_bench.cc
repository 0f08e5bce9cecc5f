// PDF pages per second from a spooled job to a finished capture file, at 200 and 600 dpi, for
// a text page, a grey page, a colour photo page, a 10-page text document and a 10-page
// document whose translucent boxes become pictures of their areas, by both roads: drawing records (the
// page interpreted by poppler into the metafile recorder) and the picture road (render with
// poppler, record the one-bitmap page); either way the page passes through the capture
// exports and is re-recorded and written. The counter "MB/page" is the capture file's size
// per page. BM_PdfToRecords is the converter alone (DrawPdf, the records dropped) on the same
// documents. BM_Pdftoppm is poppler's own rasteriser writing the page at 200 dpi, for scale.
// BM_PrintCapturedFourUp prints a 10-page text document captured at 600 dpi by either road,
// opened as the client opens a capture file, four pages a sheet on a 600 dpi folder printer
// through the engine's print path; "printed_MB" is the size of the printed PDF.
#include <benchmark/benchmark.h>
#include <cairo-pdf.h>
#include <cairo.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "capture/common/blocks.h"
#include "capture/feeder/feeder.h"
#include "capture/pdfrecords/pdfrecords.h"
#include "client/client_doc.h"
#include "platform/paths/paths.h"
#include "platform/shm/shm.h"
#include "platform/spool/folder_spooler.h"
#include "platform/testing/temp_root.h"
#include "printing/print_job.h"
#include "printing/viewer_document.h"

namespace {

namespace sfs = std::filesystem;
constexpr double kA4W = 595.28, kA4H = 841.89;

void TextPage(cairo_t* cr) {
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_select_font_face(cr, "DejaVu Serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, 10);
  for (int line = 0; line < 60; ++line) {
    cairo_move_to(cr, 50, 60 + line * 12.5);
    cairo_show_text(cr, "The quarterly report lists every print job by department, printer and page count.");
  }
}

void GreyPage(cairo_t* cr) {
  for (int i = 0; i < 16; ++i) {
    cairo_set_source_rgb(cr, i / 16.0, i / 16.0, i / 16.0);
    cairo_rectangle(cr, 40, 40 + i * 45, 515, 40);
    cairo_fill(cr);
  }
}

void PhotoPage(cairo_t* cr) {
  const int w = 600, h = 800;
  cairo_surface_t* img = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  unsigned char* d = cairo_image_surface_get_data(img);
  const int stride = cairo_image_surface_get_stride(img);
  for (int y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(d + y * stride);
    for (int x = 0; x < w; ++x) {
      unsigned r = static_cast<unsigned>(127 + 127 * std::sin(x * 0.031 + y * 0.007));
      unsigned g = static_cast<unsigned>(127 + 127 * std::sin(y * 0.023 + 1.0));
      unsigned b = static_cast<unsigned>((x * 7 + y * 13 + (x * y) % 97) & 0xFF);
      row[x] = (r << 16) | (g << 8) | b;
    }
  }
  cairo_surface_mark_dirty(img);
  cairo_scale(cr, kA4W / w, kA4H / h);
  cairo_set_source_surface(cr, img, 0, 0);
  cairo_paint(cr);
  cairo_surface_destroy(img);
}

// Text under translucent boxes: each box's area becomes a picture on the records road.
void ShadedPage(cairo_t* cr) {
  TextPage(cr);
  for (int i = 0; i < 4; ++i) {
    cairo_set_source_rgba(cr, 0.2 * i, 0.4, 0.8, 0.4);
    cairo_rectangle(cr, 60 + i * 110, 100 + i * 150, 160, 90);
    cairo_fill(cr);
  }
}

std::string MakePdf(const std::string& folder, const char* name, void (*draw)(cairo_t*), int pages = 1) {
  const std::string path = folder + "/" + name + ".pdf";
  cairo_surface_t* s = cairo_pdf_surface_create(path.c_str(), kA4W, kA4H);
  cairo_t* cr = cairo_create(s);
  for (int i = 0; i < pages; ++i) {
    draw(cr);
    cairo_show_page(cr);
  }
  cairo_destroy(cr);
  cairo_surface_destroy(s);
  return path;
}

struct Setup {
  zv::testing::TempRoot root;
  zv::shm::SharedBlock temp_path;
  std::string text, grey, photo, letter, shaded;
  Setup() {
    zv::capture::PrepareFeederProcess();  // as the feeder program does
    // The block the resident program publishes: where capture files go.
    auto folder = zv::paths::TempFolder();
    auto block = zv::shm::SharedBlock::Create(zv::capture::kTempPathBlock, zv::capture::kTempPathBlockSize);
    temp_path = std::move(*block);
    std::memcpy(temp_path.mutable_bytes().data(), folder->data(), folder->size());
    const std::string work = root.str();
    text = MakePdf(work, "text", TextPage);
    grey = MakePdf(work, "grey", GreyPage);
    photo = MakePdf(work, "photo", PhotoPage);
    letter = MakePdf(work, "letter", TextPage, 10);
    shaded = MakePdf(work, "shaded", ShadedPage, 10);
  }
  // Kinds: 0 text page, 1 grey page, 2 photo page, 3 ten text pages, 4 ten shaded pages.
  const std::string& Pdf(int kind) const {
    const std::string* all[] = {&text, &grey, &photo, &letter, &shaded};
    return *all[kind];
  }
  static int Pages(int kind) { return kind >= 3 ? 10 : 1; }
};

Setup& TheSetup() {
  static Setup* s = new Setup;
  // The setup lives as long as the benchmarks; its folder (documents and every capture the
  // runs left) goes when the program ends.
  static const bool removed_at_exit = [] {
    return std::atexit([] {
      std::error_code ec;
      sfs::remove_all(s->root.path(), ec);
    }) == 0;
  }();
  (void)removed_at_exit;
  return *s;
}

void BM_PdfToCapture(benchmark::State& state, int kind) {
  Setup& s = TheSetup();
  const auto road = state.range(1) == 0 ? zv::capture::PdfRoad::kRecords : zv::capture::PdfRoad::kPictures;
  const std::string& pdf = s.Pdf(kind);
  zv::capture::SpoolJob job;
  job.title = "bench";
  job.resolution = static_cast<int>(state.range(0));
  double bytes = 0;
  for (auto _ : state) {
    zv::Status st = zv::capture::FeedJob(job, pdf, road);
    if (!st.ok()) state.SkipWithError(st.ToString().c_str());
    state.PauseTiming();
    // With no resident program to take it, the capture file is kept for the next client
    // start: it is counted and removed wherever it lies.
    for (const char* folder : {"/tmp", "/kept"}) {
      std::error_code ec;
      for (auto& e : sfs::directory_iterator(s.root.str() + folder, ec)) {
        bytes += static_cast<double>(sfs::file_size(e.path()));
        sfs::remove(e.path());
      }
    }
    state.ResumeTiming();
  }
  const double pages = static_cast<double>(state.iterations()) * Setup::Pages(kind);
  state.counters["pages/s"] = benchmark::Counter(pages, benchmark::Counter::kIsRate);
  state.counters["MB/page"] = bytes / 1e6 / pages;
}

// Arguments: dots per inch, road (0 records, 1 pictures).
BENCHMARK_CAPTURE(BM_PdfToCapture, text, 0)
    ->ArgsProduct({{200, 600}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_PdfToCapture, grey, 1)
    ->ArgsProduct({{200, 600}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_PdfToCapture, photo, 2)
    ->ArgsProduct({{200, 600}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_PdfToCapture, letter, 3)->Args({200, 0})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_PdfToCapture, shaded, 4)->Args({200, 0})->Unit(benchmark::kMillisecond)->UseRealTime();

// The converter alone: every page drawn as records and dropped. Argument: dots per inch.
void BM_PdfToRecords(benchmark::State& state, int kind) {
  Setup& s = TheSetup();
  const zv::capture::VirtualPaper a4 = zv::capture::FindPaper("A4").value();
  std::size_t areas = 0;
  for (auto _ : state) {
    zv::Status st = zv::capture::pdfrecords::DrawPdf(
        s.Pdf(kind), a4, static_cast<int>(state.range(0)),
        [&](int, zv::Result<zv::capture::pdfrecords::PageRecords> page) {
          if (!page.ok()) return page.status();
          areas += page->stats.area_pictures;
          benchmark::DoNotOptimize(page->emf.data());
          return zv::Status::Ok();
        });
    if (!st.ok()) state.SkipWithError(st.ToString().c_str());
  }
  const double pages = static_cast<double>(state.iterations()) * Setup::Pages(kind);
  state.counters["pages/s"] = benchmark::Counter(pages, benchmark::Counter::kIsRate);
  state.counters["areas/page"] = static_cast<double>(areas) / pages;
}
BENCHMARK_CAPTURE(BM_PdfToRecords, text, 0)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_PdfToRecords, letter, 3)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_PdfToRecords, shaded, 4)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Pdftoppm(benchmark::State& state, int kind) {
  Setup& s = TheSetup();
  const std::string& pdf = s.Pdf(kind);
  const std::string out = s.root.str() + "/ppm";
  const std::string cmd = "pdftoppm -r 200 -singlefile '" + pdf + "' '" + out + "'";
  for (auto _ : state) {
    if (std::system(cmd.c_str()) != 0) state.SkipWithError("pdftoppm failed");
  }
  state.counters["pages/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BM_Pdftoppm, text, 0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Pdftoppm, photo, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Argument: road (0 records, 1 pictures).
void BM_PrintCapturedFourUp(benchmark::State& state) {
  Setup& s = TheSetup();
  const auto road = state.range(0) == 0 ? zv::capture::PdfRoad::kRecords : zv::capture::PdfRoad::kPictures;
  zv::capture::SpoolJob job;
  job.title = "bench";
  job.resolution = 600;
  const std::string tmp = s.root.str() + "/tmp", kept = s.root.str() + "/kept";
  for (const std::string& folder : {tmp, kept}) {
    std::error_code ec;
    for (auto& e : sfs::directory_iterator(folder, ec)) sfs::remove_all(e.path());
  }
  zv::Status st = zv::capture::FeedJob(job, s.letter, road);
  if (!st.ok()) {
    state.SkipWithError(st.ToString().c_str());
    return;
  }
  // The capture file (in the temporary folder, or kept when no resident program took it),
  // opened as the client opens it (and removes it).
  std::string capture;
  for (const std::string& folder : {tmp, kept}) {
    std::error_code ec;
    for (auto& e : sfs::directory_iterator(folder, ec)) {
      if (zv::client::IsCaptureFileName(e.path().string())) capture = e.path().string();
    }
  }
  if (capture.empty()) {
    state.SkipWithError("no capture file");
    return;
  }
  const double capture_mb = static_cast<double>(sfs::file_size(capture)) / 1e6;
  zv::client::COstraneDoc doc;
  if (!doc.OnOpenDocument(capture, "bench", nullptr) || doc.GetAllPage() != 10) {
    state.SkipWithError("the capture file did not open with its 10 pages");
    return;
  }

  zv::spool::FolderSpooler spooler;
  zv::spool::FolderPrinter printer = zv::spool::StandardFolderPrinter("Office600");
  printer.caps.default_resolution = {600, 600};
  if (!spooler.AddPrinter(printer).ok()) {
    state.SkipWithError("no printer");
    return;
  }
  zv::printing::ViewerPrintDocument print_doc(doc.viewer());
  zv::printing::PrintJobSpec order;
  order.printer = "Office600";
  order.document_name = "bench";
  order.layout_mode = zv::printing::kModeFourByColumn;
  order.sheet.separators = 0;
  double printed = 0;
  std::int64_t sides = 0;
  for (auto _ : state) {
    zv::printing::PrintOutcome out =
        zv::printing::RunPrintJob(spooler, print_doc, order, zv::printing::PrinterSurfaces(), nullptr);
    if (out.code != zv::printing::kPrintOk) {
      state.SkipWithError(out.detail.c_str());
      return;
    }
    sides += out.sides;
    state.PauseTiming();
    auto pdf = spooler.JobDocumentPath("Office600", out.job_id);
    if (pdf.ok()) printed += static_cast<double>(sfs::file_size(*pdf));
    if (!spooler.CancelJob("Office600", out.job_id).ok()) {
      state.SkipWithError("the printed job could not be cancelled");
      return;
    }
    state.ResumeTiming();
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["capture_MB"] = capture_mb;
  state.counters["printed_MB"] = printed / 1e6 / n;
  state.counters["sheets"] = static_cast<double>(sides) / n;
}
BENCHMARK(BM_PrintCapturedFourUp)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
