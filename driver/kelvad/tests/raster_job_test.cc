#include "driver/kelvad/raster_job.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "driver/kelvad/device.h"
#include "platform/gdi/testing/box_pdf.h"
#include "platform/process/process.h"
#include "platform/testing/bin_dir.h"
#include "platform/testing/temp_root.h"

namespace zv::driver {
namespace {

constexpr char kQueue[] = "Zelvora-Raster";

// Two A4 pages, each with a one-inch square one inch from the top left: black, then red.
void MakePdf(const std::string& path) {
  zv::testing::WriteBoxPdf(path,
                           {{595.28, 841.89, 72, 72, 72, 72, 0, 0, 0}, {595.28, 841.89, 72, 72, 72, 72, 1, 0, 0}});
}

// The bytes a job sends to the port, kept to be read back as a page stream.
struct PortBytes {
  std::vector<std::uint8_t> bytes;
  std::size_t at = 0;
  // Gives the sink a job writes its bytes to.
  WriteFn Sink() {
    return [this](std::span<const std::uint8_t> b) {
      bytes.insert(bytes.end(), b.begin(), b.end());
      return true;
    };
  }
  // Gives a reader of the page stream in the bytes, from the first one not read yet.
  PageStreamReader Reader() {
    return PageStreamReader([this](std::span<std::uint8_t> b) -> std::optional<std::size_t> {
      std::size_t n = std::min(b.size(), bytes.size() - at);
      std::memcpy(b.data(), bytes.data() + at, n);
      at += n;
      return n;
    });
  }
};

TEST(KelvadRasterJob, JobOptionsMakeTheDeviceMode) {
  struct Case {
    const char* ppd;
    const char* options;
    std::int16_t paper, orientation, quality;
    std::uint16_t left, bottom;
  } cases[] = {
      {"", "", 9, 1, 200, 50, 50},
      {"", "PageSize=B5 Resolution=600dpi ZelvoraLeftMargin=20mm", 13, 1, 600, 200, 50},
      {"", "media=jpn_hagaki_100x148mm orientation-requested=4", 43, 2, 200, 50, 50},
      {"", "landscape Resolution=800dpi ZelvoraBottomMargin=31mm", 9, 2, 200, 50, 50},
      {"*DefaultResolution: 300dpi\n*DefaultZelvoraBottomMargin: 10mm\n", "", 9, 1, 300, 50, 100},
      {"*DefaultResolution: 300dpi\n", "Resolution=75x75dpi", 9, 1, 75, 50, 50},
  };
  for (const auto& c : cases) {
    PpdQueuePlatform ops(kQueue, c.ppd);
    PRIVDEVMODE caller = JobDevmode(ops, kQueue, c.options);
    PRIVDEVMODE mode = BuildDefaultDevmode(ops, kQueue);
    ASSERT_EQ(MergeDevmode(ops, kQueue, mode, Bytes(caller)), 1);
    SCOPED_TRACE(c.options);
    EXPECT_EQ(mode.dm.dmPaperSize, c.paper);
    EXPECT_EQ(mode.dm.dmOrientation, c.orientation);
    EXPECT_EQ(mode.dm.dmPrintQuality, c.quality);
    EXPECT_EQ(mode.dm.dmYResolution, c.quality);
    EXPECT_EQ(mode.priv.margin_left, c.left);
    EXPECT_EQ(mode.priv.margin_bottom, c.bottom);
  }
}

TEST(KelvadRasterJob, PdfPagesBecomeTheStream) {
  testing::TempRoot root;
  const std::string pdf = root.str() + "/two.pdf";
  MakePdf(pdf);
  PpdQueuePlatform ops(kQueue, "");
  for (int dpi : {200, 600}) {
    SCOPED_TRACE(dpi);
    PortBytes port;
    int pages = 0;
    const PRIVDEVMODE mode = JobDevmode(ops, kQueue, "Resolution=" + std::to_string(dpi) + "dpi");
    Status s = WriteRasterJob(pdf, ops, kQueue, mode, port.Sink(), &pages);
    ASSERT_TRUE(s.ok()) << s.ToString();
    EXPECT_EQ(pages, 2);
    PageStreamReader reader = port.Reader();
    // The square covers 1 to 2 inches of the paper; the stream starts at the 5 mm margin.
    const int margin = static_cast<int>(TenthMmToPixels(dpi, 50));
    const int inside = dpi * 3 / 2 - margin, outside = dpi / 2 - margin;
    for (std::uint8_t red : {0, 255}) {
      auto page = reader.NextPage();
      ASSERT_TRUE(page.ok() && page->has_value());
      const PageInfo& p = **page;
      EXPECT_EQ(p.mode.dm.dmPrintQuality, dpi);
      std::vector<std::uint8_t> row(p.bytes_per_row);
      for (std::uint32_t y = 0; y < p.height; ++y) {
        ASSERT_TRUE(reader.ReadRow(row).ok());
        if (static_cast<int>(y) == inside) {
          EXPECT_EQ(row[3 * inside], red);
          EXPECT_EQ(row[3 * inside + 1], 0);
          EXPECT_EQ(row[3 * outside + 1], 255);
          EXPECT_EQ(row[row.size() - 1], 255);
        }
        if (static_cast<int>(y) == outside) {
          EXPECT_EQ(row[3 * inside + 1], 255);
        }
      }
    }
    auto end = reader.NextPage();
    ASSERT_TRUE(end.ok());
    EXPECT_FALSE(end->has_value());
  }
}

TEST(KelvadRasterJob, PortraitPagesOnALandscapeJobAreFittedNotCut) {
  testing::TempRoot root;
  const std::string pdf = root.str() + "/two.pdf";
  MakePdf(pdf);
  PpdQueuePlatform ops(kQueue, "");
  PortBytes port;
  ASSERT_TRUE(WriteRasterJob(pdf, ops, kQueue, JobDevmode(ops, kQueue, "landscape"), port.Sink()).ok());
  PageStreamReader reader = port.Reader();
  auto page = reader.NextPage();
  ASSERT_TRUE(page.ok() && page->has_value());
  EXPECT_EQ((*page)->width, 2260u);
  EXPECT_EQ((*page)->height, 1576u);
  // The A4 page fitted into the turned sheet's height: one inch is 1654 / 841.89 * 72 = 141
  // pixels of the sheet, so the square spans 141 to 283 less the 39-pixel margins.
  std::vector<std::uint8_t> row((*page)->bytes_per_row);
  std::size_t black = 0;
  for (std::uint32_t y = 0; y < (*page)->height; ++y) {
    ASSERT_TRUE(reader.ReadRow(row).ok());
    if (y == 170) {
      EXPECT_EQ(row[3 * 170 + 1], 0);
      EXPECT_EQ(row[3 * 260 + 1], 255);
      EXPECT_EQ(row[3 * 80 + 1], 255);
    }
    for (std::size_t i = 1; i < row.size(); i += 3) black += row[i] == 0;
  }
  // The whole square is on the page: about 142 x 142 pixels.
  EXPECT_NEAR(static_cast<double>(black), 142.0 * 142.0, 142.0 * 6);
}

// A job that names no orientation keeps each page's own shape, as the PDF queue does: the
// landscape page goes on the turned sheet at full size (its device mode says landscape), not
// shrunk onto a portrait one.
TEST(KelvadRasterJob, EachPageKeepsItsOrientationWhenTheJobNamesNone) {
  testing::TempRoot root;
  const std::string pdf = root.str() + "/mixed.pdf";
  // A one-inch square one inch from the top left of a portrait page, then of a landscape one.
  zv::testing::WriteBoxPdf(pdf, {{595.28, 841.89, 72, 72, 72, 72, 0, 0, 0}, {841.89, 595.28, 72, 72, 72, 72, 0, 0, 0}});
  PpdQueuePlatform ops(kQueue, "");
  PortBytes port;
  ASSERT_TRUE(WriteRasterJob(pdf, ops, kQueue, JobDevmode(ops, kQueue, ""), port.Sink()).ok());
  PageStreamReader reader = port.Reader();
  for (int orientation : {1, 2}) {
    SCOPED_TRACE(orientation);
    auto page = reader.NextPage();
    ASSERT_TRUE(page.ok() && page->has_value());
    const PageInfo& p = **page;
    EXPECT_EQ(p.mode.dm.dmOrientation, orientation);
    EXPECT_EQ(p.width > p.height, orientation == 2);
    // The square keeps its size: 200 pixels at 200 dpi, whichever way the sheet is turned.
    std::vector<std::uint8_t> row(p.bytes_per_row);
    std::size_t black = 0;
    for (std::uint32_t y = 0; y < p.height; ++y) {
      ASSERT_TRUE(reader.ReadRow(row).ok());
      for (std::size_t i = 1; i < row.size(); i += 3) black += row[i] == 0;
    }
    EXPECT_NEAR(static_cast<double>(black), 200.0 * 200.0, 200.0 * 6);
  }
}

TEST(KelvadRasterJob, FailedWriteEndsTheJob) {
  testing::TempRoot root;
  const std::string pdf = root.str() + "/two.pdf";
  MakePdf(pdf);
  PpdQueuePlatform ops(kQueue, "");
  int writes = 0;
  int pages = 0;
  Status s = WriteRasterJob(
      pdf, ops, kQueue, JobDevmode(ops, kQueue, ""), [&](std::span<const std::uint8_t>) { return ++writes < 10; },
      &pages);
  EXPECT_EQ(s.code(), Status::Code::kIOError);
  EXPECT_EQ(writes, 10);
  EXPECT_EQ(pages, 0);
  EXPECT_EQ(WriteRasterJob(root.str() + "/missing.pdf", ops, kQueue, JobDevmode(ops, kQueue, ""),
                           [](std::span<const std::uint8_t>) { return true; })
                .code(),
            Status::Code::kNotFound);
}

// The filter run by hand, as a person trying it does: a path relative to the current folder
// is the file there, and a file that cannot be rendered is named with what is wrong with it.
TEST(KelvadRasterJob, TheFilterSaysWhatIsWrongWithItsFile) {
  testing::TempRoot root;
  const std::string dir = root.str();
  MakePdf(dir + "/two.pdf");
  std::filesystem::create_directories(dir + "/sub");
  std::ofstream(dir + "/notes.txt") << "hello, printer\n";
  std::ofstream(dir + "/empty.pdf");
  struct Case {
    std::string file;
    int code;
    std::string said;
  } cases[] = {
      {"two.pdf", 0, "INFO: 2 page(s) rendered at 200 dpi"},  {"sub/../two.pdf", 0, "INFO: 2 page(s)"},
      {"missing.pdf", 1, dir + "/missing.pdf: no such file"}, {"sub/missing.pdf/x", 1, "no such file"},
      {"sub", 1, dir + "/sub: not a regular file"},           {"notes.txt", 1, dir + "/notes.txt: not a PDF file"},
      {"empty.pdf", 1, dir + "/empty.pdf: not a PDF file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string out = dir + "/out-" + std::to_string(&c - cases) + ".log";
    process::StartOptions o;
    o.argv = {testing::BinPath("kelvad"), "1", "user", "title", "1", "", c.file};
    o.working_dir = dir;
    o.env = {"PPD=", "PRINTER="};
    o.output_file = out;
    auto p = process::Start(o);
    ASSERT_TRUE(p.ok()) << p.status().ToString();
    auto code = p->Wait(60000);
    ASSERT_TRUE(code.ok());
    EXPECT_EQ(*code, c.code);
    std::ifstream in(out, std::ios::binary);
    const std::string said(std::istreambuf_iterator<char>(in), {});
    EXPECT_NE(said.find(c.said), std::string::npos) << said.substr(said.size() > 300 ? said.size() - 300 : 0);
  }
}

}  // namespace
}  // namespace zv::driver
