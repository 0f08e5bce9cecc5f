// A 1-bit drawing of A1 at 600 dpi (14000 x 20000 pixels, 35 MB of bits) along every road a
// page takes: captured as records, shown by the preview, saved as the client saves a job and
// printed as the engine prints. The PDF is made here, its image Flate-compressed row by row,
// so the test holds little more than the image's own bits. Each road's peak memory (the
// process's high-water mark once it has run) goes to the test's output.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "capture/pdfrecords/tests/capture_road.h"
#include "capture/pdfrecords/tests/page_compare.h"
#include "pdfwriter/tests/pdf_test_util.h"
#include "platform/testing/temp_root.h"

namespace zv::capture::pdfrecords {
namespace {

namespace fs = std::filesystem;
using pdf::testing::Quote;
using pdf::testing::RunCommand;

constexpr int kW = 14000, kH = 20000;

// Black where the drawing has a line: a frame 80 pixels wide and a grid every 2000 pixels,
// 24 pixels wide.
bool Line(int x, int y) {
  if (x < 80 || y < 80 || x >= kW - 80 || y >= kH - 80) return true;
  return x % 2000 < 24 || y % 2000 < 24;
}

// Writes a one-page PDF of A1 (1684 x 2384 points) whose whole page is the 1-bit drawing,
// as a DeviceGray image (`mask` false: a sample of 1 is white) or as a stencil mask painted
// in `colour` (a sample of 0 paints).
void WriteDrawing(const fs::path& path, bool mask, const char* colour = "0 0 0") {
  std::string z;
  z_stream s{};
  ASSERT_EQ(deflateInit(&s, 6), Z_OK);
  const int stride = (kW + 7) / 8;
  std::vector<unsigned char> row(stride), out(1 << 16);
  for (int y = 0; y < kH; ++y) {
    std::fill(row.begin(), row.end(), 0xFF);
    for (int x = 0; x < kW; ++x)
      if (Line(x, y)) row[x >> 3] &= static_cast<unsigned char>(~(0x80u >> (x & 7)));
    s.next_in = row.data();
    s.avail_in = static_cast<uInt>(row.size());
    const int flush = y + 1 == kH ? Z_FINISH : Z_NO_FLUSH;
    do {
      s.next_out = out.data();
      s.avail_out = static_cast<uInt>(out.size());
      deflate(&s, flush);
      z.append(reinterpret_cast<char*>(out.data()), out.size() - s.avail_out);
    } while (s.avail_out == 0);
  }
  deflateEnd(&s);
  const std::string content =
      mask ? std::string(colour) + " rg 1684 0 0 2384 0 0 cm /I Do" : "1684 0 0 2384 0 0 cm /I Do";
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 1684 2384] /Resources << /XObject << /I 5 0 R >> >> "
      "/Contents 4 0 R >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
      std::string("<< /Type /XObject /Subtype /Image /Width 14000 /Height 20000 ") +
          (mask ? "/ImageMask true" : "/ColorSpace /DeviceGray /BitsPerComponent 1") +
          " /Filter /FlateDecode /Length " + std::to_string(z.size()) + " >>\nstream\n" + z + "\nendstream"};
  std::string pdf = "%PDF-1.4\n";
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    at.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (std::size_t a : at) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", a);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  std::ofstream(path, std::ios::binary) << pdf;
}

// The process's peak resident memory so far, in MiB.
long PeakMiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6)) / 1024;
  return -1;
}

// The share of dark pixels (luma below 128) of an image, and whether the pixel at (x, y)
// (as a share of the width and height) is dark.
double DarkShare(const testing::Image& img) {
  std::size_t dark = 0;
  for (std::uint32_t p : img.px) dark += testing::Luma(p) < 128;
  return img.px.empty() ? 0 : double(dark) / double(img.px.size());
}
bool DarkAt(const testing::Image& img, double fx, double fy) {
  const int x = int(fx * img.width), y = int(fy * img.height);
  for (int dy = -2; dy <= 2; ++dy)
    for (int dx = -2; dx <= 2; ++dx) {
      const int px = std::clamp(x + dx, 0, img.width - 1), py = std::clamp(y + dy, 0, img.height - 1);
      if (testing::Luma(img.px[std::size_t(py) * img.width + px]) < 160) return true;
    }
  return false;
}

// The drawing's frame and a crossing of its grid, and the white middle of a grid cell.
void ExpectTheDrawing(const testing::Image& img, const std::string& road) {
  SCOPED_TRACE(road);
  // The frame's left edge, a grid crossing (2000, 2000), and the white inside of a cell.
  // The drawing (A1) is fitted into A4 at the same shape: fx and fy are shares of it.
  EXPECT_TRUE(DarkAt(img, 40.0 / kW, 0.5));
  EXPECT_TRUE(DarkAt(img, 2012.0 / kW, 2012.0 / kH));
  EXPECT_FALSE(DarkAt(img, 3000.0 / kW, 3000.0 / kH));
  const double share = DarkShare(img);
  EXPECT_GT(share, 0.01) << "the page is blank";
  EXPECT_LT(share, 0.5);
}

std::optional<testing::Image> Rendered(const fs::path& pdf, const fs::path& base) {
  if (RunCommand("pdftoppm -r 50 -singlefile " + Quote(pdf) + " " + Quote(base)).status != 0) return std::nullopt;
  return testing::ReadPpm(base.string() + ".ppm");
}

class LargeImageTest : public ::testing::TestWithParam<bool> {
 protected:
  zv::testing::TempRoot root_;
  fs::path dir_ = root_.path();
};

TEST_P(LargeImageTest, AnA1DrawingAt600DpiIsDrawnOnEveryRoad) {
  const bool mask = GetParam();
  const fs::path pdf = dir_ / "drawing.pdf";
  WriteDrawing(pdf, mask);
  std::printf("%s: source %ju bytes, peak %ld MiB before the capture\n", mask ? "stencil" : "image",
              std::uintmax_t(fs::file_size(pdf)), PeakMiB());

  // Captured as records: drawn, not refused, its bits as they are (1 bit a pixel).
  std::vector<PageRecords> pages = testing::CapturePages(pdf, 200);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].stats.dropped_images, 0u) << "refused as damaged";
  EXPECT_EQ(pages[0].stats.images, 1u);
  EXPECT_EQ(pages[0].stats.area_pictures, 0u);
  EXPECT_GT(pages[0].emf.size(), std::size_t(kW / 8) * kH);
  EXPECT_LT(pages[0].emf.size(), std::size_t(kW / 8) * kH * 11 / 10);
  std::printf("captured: %zu bytes of records, peak %ld MiB\n", pages[0].emf.size(), PeakMiB());

  const std::vector<std::vector<std::uint8_t>> rerecorded = testing::RerecordPages(pages, 200);
  ASSERT_EQ(rerecorded.size(), 1u);
  pages[0].emf.clear();
  pages[0].emf.shrink_to_fit();
  std::printf("re-recorded: peak %ld MiB\n", PeakMiB());

  // The preview.
  const int w = 1654, h = 2339;
  auto shown = lumbrel::RenderPage(rerecorded[0], lumbrel::PixelSize{w, h}, 24, 200);
  ASSERT_TRUE(shown.ok()) << shown.status().ToString();
  testing::Image img{w, h, std::vector<std::uint32_t>(std::size_t(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.px[std::size_t(y) * w + x] = (*shown)->Pixel(x, y) & 0xFFFFFF;
  shown->reset();
  ExpectTheDrawing(img, "preview");
  std::printf("preview: peak %ld MiB\n", PeakMiB());

  // The saved PDF and the printed one.
  const fs::path saved = dir_ / "saved.pdf", printed = dir_ / "printed.pdf";
  ASSERT_TRUE(lumbrel::ConvertToPdf(saved.string(), testing::SavedPages(rerecorded, pages)).ok());
  std::printf("saved: peak %ld MiB\n", PeakMiB());
  ASSERT_TRUE(testing::PrintPages(rerecorded, pages, printed));
  std::printf("printed: %ju bytes, peak %ld MiB\n", std::uintmax_t(fs::file_size(printed)), PeakMiB());
  for (const auto& [file, road] : {std::pair{saved, "saved"}, std::pair{printed, "printed"}}) {
    auto got = Rendered(file, dir_ / road);
    ASSERT_TRUE(got) << road;
    ExpectTheDrawing(*got, road);
  }
}

INSTANTIATE_TEST_SUITE_P(ImageAndStencil, LargeImageTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Stencil" : "Image"; });

}  // namespace
}  // namespace zv::capture::pdfrecords
