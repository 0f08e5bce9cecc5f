#include "capture/feeder/feeder.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <gtest/gtest.h>

#include <cstring>

#include "capture/common/blocks.h"
#include "capture/common/log.h"
#include "platform/fs/files.h"
#include "platform/gdi/emf/reader.h"
#include "platform/gdi/player.h"
#include "platform/gdi/surfaces.h"
#include "platform/paths/paths.h"
#include "platform/shm/shm.h"
#include "platform/testing/temp_root.h"

namespace zv::capture {
namespace {

// A page of two colours is a 1-bit bitmap with those two in its table, one of up to 256 an
// 8-bit one with its colours (grey shades, a palette image), any other stays 24-bit.
TEST(Feeder, PagesKeepTheirPixelsInTheSmallestBitmap) {
  struct Case {
    const char* name;
    std::uint32_t ink, second;  // second: the lower half's ink; 0xFFFFFFFF: a colour ramp there
    int bits;
  } cases[] = {{"black and white", 0x000000, 0x000000, 1},
               {"one colour on white", 0x2060C0, 0x2060C0, 1},
               {"grey shades", 0x808080, 0x404040, 8},
               {"many colours", 0x2060C0, 0xFFFFFFFF, 24}};
  for (const Case& c : cases) {
    RenderedPage page;
    page.width = 41;  // rows that need padding
    page.height = 23;
    page.pixels.assign(41 * 23, 0xFFFFFF);
    for (int y = 5; y < 15; ++y)
      for (int x = 3; x < 30; ++x) page.pixels[y * 41 + x] = c.ink;
    for (int y = 16; y < 23; ++y)
      for (int x = 0; x < 30; ++x)
        page.pixels[y * 41 + x] = c.second == 0xFFFFFFFF ? static_cast<std::uint32_t>(y * 41 + x) * 0x010305 : c.second;
    if (c.second == 0xFFFFFFFF)  // more than 256 colours in all
      for (int i = 0; i < 5 * 41; ++i) page.pixels[i] = static_cast<std::uint32_t>(i) * 0x030201;
    int bits = 0;
    auto bytes = RecordBitmapPage(page, 2100, 2970, &bits);
    ASSERT_TRUE(bytes.ok()) << c.name;
    EXPECT_EQ(bits, c.bits) << c.name;
    auto mf = emf::Metafile::Parse(*bytes);
    ASSERT_TRUE(mf.ok());
    EXPECT_EQ(mf->header().device.cx, 41);
    EXPECT_EQ(mf->header().frame.right, 21000);
    EXPECT_EQ(mf->header().millimeters.cy, 297);
    auto bmp = gdi::MemoryBitmap::Create(41, 23, 24);
    ASSERT_TRUE(bmp.ok());
    ASSERT_TRUE(gdi::PlayMetafile((*bmp)->dc(), *bytes, nullptr).ok());
    EXPECT_EQ((*bmp)->Pixel(10, 10) & 0xFFFFFF, c.ink) << c.name;
    EXPECT_EQ((*bmp)->Pixel(35, 20) & 0xFFFFFF, 0xFFFFFFu) << c.name;
    EXPECT_EQ((*bmp)->Pixel(3, 5) & 0xFFFFFF, c.ink) << c.name;  // top-left corner of the ink: rows not flipped
  }
  RenderedPage bad;
  bad.width = 4;
  bad.height = 4;
  EXPECT_FALSE(RecordBitmapPage(bad, 2100, 2970).ok());
}

TEST(Feeder, DeviceModeFromTheJob) {
  SpoolJob job = JobFromOptions("1", "t", 3, "PageSize=B4 orientation-requested=4 Resolution=600dpi");
  win::DEVMODEA dm = DevmodeForJob(job);
  EXPECT_EQ(dm.dmSize, 156);
  EXPECT_EQ(dm.dmPaperSize, 12);
  EXPECT_EQ(dm.dmPaperWidth, 2570);
  EXPECT_EQ(dm.dmPaperLength, 3640);
  EXPECT_EQ(dm.dmOrientation, 2);
  EXPECT_EQ(dm.dmPrintQuality, 600);
  EXPECT_EQ(dm.dmCopies, 3);
}

// Pages the records cannot take (here pages larger than any paper a record describes) are
// rendered as pictures of the whole page, each from the document opened once for them, and
// the job goes through with every page.
TEST(Feeder, PagesThatCannotBeRecordsBecomePictures) {
  zv::testing::TempRoot root;
  // The block the resident program publishes: where capture files go.
  auto folder = paths::TempFolder();
  ASSERT_TRUE(folder.ok());
  auto block = shm::SharedBlock::Create(kTempPathBlock, kTempPathBlockSize);
  ASSERT_TRUE(block.ok());
  std::memcpy(block->mutable_bytes().data(), folder->data(), folder->size());

  const std::string pdf = root.str() + "/mixed.pdf";
  cairo_surface_t* s = cairo_pdf_surface_create(pdf.c_str(), 595, 842);
  cairo_t* cr = cairo_create(s);
  for (int page = 0; page < 3; ++page) {
    const double side = page == 1 ? 595 : 60000;  // the first and last page have no usable size
    cairo_pdf_surface_set_size(s, side, page == 1 ? 842 : side);
    cairo_rectangle(cr, side / 4, side / 4, side / 2, side / 2);
    cairo_fill(cr);
    cairo_show_page(cr);
  }
  cairo_destroy(cr);
  cairo_surface_destroy(s);

  SpoolJob job;
  job.id = "7";
  job.title = "mixed";
  job.resolution = 100;
  ASSERT_TRUE(FeedJob(job, pdf).ok());
  auto log = fs::ReadFile(CaptureLogPath());
  ASSERT_TRUE(log.ok());
  EXPECT_NE(log->find("print job 7, page 1 drawn as a picture"), std::string::npos) << *log;
  EXPECT_NE(log->find("print job 7, page 3 drawn as a picture"), std::string::npos) << *log;
  const std::size_t summary = log->find("feeder: 7: 1 pages as records (");
  ASSERT_NE(summary, std::string::npos) << *log;
  EXPECT_NE(log->find("areas as pictures), 2 pages as pictures", summary), std::string::npos) << *log;
}

}  // namespace
}  // namespace zv::capture
