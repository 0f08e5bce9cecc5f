// A 100-page document of text and images written with CQuorvel, and the same pages written
// with cairo's PDF surface (JPEG data attached so cairo embeds it unchanged as well).
// Reports MB/s of PDF written and pages/s.
#include <benchmark/benchmark.h>
#include <cairo-pdf.h>
#include <cairo.h>
#include <jpeglib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pdfwriter/quorvel.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPages = 100;
constexpr int kLines = 40;
constexpr int kImageWidth = 800;
constexpr int kImageHeight = 600;

// Shared fixture: a JPEG file with a gradient, its decoded pixels, and a work folder.
struct Fixture {
  fs::path dir;
  fs::path jpeg_path;
  std::string jpeg;                 // the file's bytes
  std::vector<unsigned char> argb;  // decoded, cairo's RGB24 layout
  std::vector<std::string> lines;

  Fixture() {
    char pattern[] = "/tmp/pdfwriter-bench.XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    dir = pattern;
    jpeg_path = dir / "page.jpg";
    std::vector<unsigned char> rgb(static_cast<size_t>(kImageWidth * kImageHeight * 3));
    for (int y = 0; y < kImageHeight; ++y) {
      for (int x = 0; x < kImageWidth; ++x) {
        unsigned char* p = &rgb[static_cast<size_t>((y * kImageWidth + x) * 3)];
        p[0] = static_cast<unsigned char>(x * 255 / kImageWidth);
        p[1] = static_cast<unsigned char>(y * 255 / kImageHeight);
        p[2] = static_cast<unsigned char>(((x / 40) + (y / 40)) % 2 ? 200 : 40);
      }
    }
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = kImageWidth;
    c.image_height = kImageHeight;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
      JSAMPROW row = &rgb[static_cast<size_t>(c.next_scanline) * kImageWidth * 3];
      jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    jpeg.assign(reinterpret_cast<char*>(mem), size);
    std::free(mem);
    std::ofstream(jpeg_path, std::ios::binary) << jpeg;

    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, kImageWidth);
    argb.resize(static_cast<size_t>(stride * kImageHeight));
    for (int y = 0; y < kImageHeight; ++y) {
      for (int x = 0; x < kImageWidth; ++x) {
        const unsigned char* s = &rgb[static_cast<size_t>((y * kImageWidth + x) * 3)];
        uint32_t v = 0xFF000000u | (uint32_t(s[0]) << 16) | (uint32_t(s[1]) << 8) | s[2];
        std::memcpy(&argb[static_cast<size_t>(y * stride + x * 4)], &v, 4);
      }
    }
    for (int i = 0; i < kLines; ++i) {
      lines.push_back("Line " + std::to_string(i) + ": The quick brown fox jumps over the lazy dog (0123456789).");
    }
  }
  ~Fixture() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

Fixture& F() {
  static Fixture f;
  return f;
}

void Report(benchmark::State& state, uint64_t bytes) {
  state.counters["MB/s"] = benchmark::Counter(
      static_cast<double>(bytes) * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
  state.counters["pages/s"] = benchmark::Counter(static_cast<double>(kPages) * static_cast<double>(state.iterations()),
                                                 benchmark::Counter::kIsRate);
  state.counters["file_MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_Quorvel100Pages(benchmark::State& state) {
  Fixture& f = F();
  const fs::path out = f.dir / "quorvel.pdf";
  for (auto _ : state) {
    zv::CQuorvel q;
    q.Open(out.c_str());
    const int font = q.FindFont("Arial", false, false);
    for (int p = 0; p < kPages; ++p) {
      const int image = q.OpenImageFile("jpeg", f.jpeg_path.c_str(), "", 1);
      q.BeginPage(595, 842);
      q.PlaceImage(image, 0, 242, 1);
      q.SetFont(font, 10);
      q.SetTextColor(0x202020);
      for (int i = 0; i < kLines; ++i) {
        q.SetTextPos(40, 230 - i * 5);
        q.ContinueText(f.lines[static_cast<size_t>(i)].c_str());
      }
      q.StrokeRect(20, 20, 555, 802);
      q.FillRect(30, 800, 100, 10, 0);
      q.StrokeLine(20, 240, 575, 240);
      q.EndPage();
    }
    q.Close();
  }
  Report(state, fs::file_size(out));
}
BENCHMARK(BM_Quorvel100Pages)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Cairo100Pages(benchmark::State& state) {
  Fixture& f = F();
  const fs::path out = f.dir / "cairo.pdf";
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, kImageWidth);
  for (auto _ : state) {
    cairo_surface_t* pdf = cairo_pdf_surface_create(out.c_str(), 595, 842);
    cairo_t* cr = cairo_create(pdf);
    cairo_select_font_face(cr, "Liberation Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 10);
    cairo_set_line_width(cr, 1);
    for (int p = 0; p < kPages; ++p) {
      // A new image surface per page, as the writer opens one JPEG per page; the attached
      // JPEG data is embedded unchanged.
      cairo_surface_t* img =
          cairo_image_surface_create_for_data(f.argb.data(), CAIRO_FORMAT_RGB24, kImageWidth, kImageHeight, stride);
      cairo_surface_set_mime_data(img, CAIRO_MIME_TYPE_JPEG, reinterpret_cast<const unsigned char*>(f.jpeg.data()),
                                  f.jpeg.size(), nullptr, nullptr);
      cairo_set_source_surface(cr, img, 0, 0);
      cairo_paint(cr);
      cairo_surface_destroy(img);
      cairo_set_source_rgb(cr, 0.125, 0.125, 0.125);
      for (int i = 0; i < kLines; ++i) {
        cairo_move_to(cr, 40, 842 - (230 - i * 5));
        cairo_show_text(cr, f.lines[static_cast<size_t>(i)].c_str());
      }
      cairo_rectangle(cr, 20, 20, 555, 802);
      cairo_stroke(cr);
      cairo_rectangle(cr, 30, 32, 100, 10);
      cairo_fill(cr);
      cairo_move_to(cr, 20, 602);
      cairo_line_to(cr, 575, 602);
      cairo_stroke(cr);
      cairo_show_page(cr);
    }
    cairo_destroy(cr);
    cairo_surface_finish(pdf);
    cairo_surface_destroy(pdf);
  }
  Report(state, fs::file_size(out));
}
BENCHMARK(BM_Cairo100Pages)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
