// The viewer's print document printed through the drawing layer's printer surface onto a
// folder printer: the sheets checked in the job's PDF.
#include <gtest/gtest.h>

#include "platform/gdi/recorder/recorder.h"
#include "platform/spool/folder_spooler.h"
#include "platform/testing/temp_root.h"
#include "printing/print_job.h"
#include "printing/tests/fixtures.h"
#include "printing/viewer_document.h"
#include "viewer/viewer_doc.h"

namespace zv::printing {
namespace {

using testing::NearColour;
using testing::PdfPageSizes;
using testing::PdfPixel;

// An A4 page (300 dpi reference) filled edge to edge with one colour (0xRRGGBB).
std::vector<std::uint8_t> FilledPage(std::uint32_t rgb) {
  gdi::MetafileRecorder rec(gdi::MetafileRecorder::Options{});
  rec.SelectBrush(gdi::Brush::Solid(win::RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF)));
  rec.SelectStockObject(win::NULL_PEN);
  rec.Rectangle(0, 0, 2481, 3509);
  auto bytes = rec.Close();
  EXPECT_TRUE(bytes.ok());
  return bytes.ok() ? *bytes : std::vector<std::uint8_t>{};
}

TEST(ViewerPrint, FourUpSheetsOfViewerPagesInThePdf) {
  zv::testing::TempRoot root;
  spool::FolderSpooler spooler;
  spool::FolderPrinter printer = spool::StandardFolderPrinter("Office");
  printer.caps.resolutions = {{72, 72}};
  printer.caps.default_resolution = {72, 72};
  ASSERT_TRUE(spooler.AddPrinter(printer).ok());

  viewer::CViewerDoc vdoc;
  vdoc.SetDocName("quarterly");
  const std::uint32_t colours[] = {0xFF0000, 0x00A000, 0x0000FF, 0xC0C000, 0xC000C0};
  for (std::uint32_t c : colours) {
    ASSERT_EQ(vdoc.AppendData(0x8000, 9, 2100, 2970, FilledPage(c), 0, 0), 1);
  }
  win::LOGFONTA font{};
  std::snprintf(font.lfFaceName, sizeof font.lfFaceName, "%s", "IPAGothic");
  vdoc.SetHeaderFooterFont(font, 10);
  vdoc.SetHeaderFooter(0, "", "<ページ>/<総ページ>", "", 1);
  ViewerPrintDocument doc(vdoc);

  PrintJobSpec order;
  order.printer = "Office";
  order.document_name = doc.name();
  order.layout_mode = kModeFourByRow;
  order.sheet.separators = 0;
  PrintOutcome out = RunPrintJob(spooler, doc, order, PrinterSurfaces(), nullptr);
  ASSERT_EQ(out.code, kPrintOk) << out.detail;
  EXPECT_EQ(out.sides, 2);
  EXPECT_GT(doc.run().header_height, 0);

  auto job = spooler.GetJob("Office", out.job_id);
  ASSERT_TRUE(job.ok());
  EXPECT_EQ(job->document, "quarterly");
  auto pdf = spooler.JobDocumentPath("Office", out.job_id);
  ASSERT_TRUE(pdf.ok());
  EXPECT_EQ(PdfPageSizes(pdf->string()), (std::vector<std::string>{"595x841", "595x841"}));

  const auto g = spool::GeometryFor(job->options);
  const auto plan = PlanSide(kModeFourByRow, g, order.sheet, doc.run().header_height, 0, 0, 4);
  for (int i = 0; i < 4; ++i) {
    const auto& r = plan.cells[i].rect;
    const int x = g.offset_x + (r.left + r.right) / 2, y = g.offset_y + (r.top + r.bottom) / 2;
    EXPECT_TRUE(NearColour(PdfPixel(pdf->string(), 1, x, y), colours[i])) << "page " << i;
  }
  const auto& r4 = plan.cells[0].rect;
  EXPECT_TRUE(NearColour(
      PdfPixel(pdf->string(), 2, g.offset_x + (r4.left + r4.right) / 2, g.offset_y + (r4.top + r4.bottom) / 2),
      colours[4]));
  // The second sheet's second cell stays empty; the margin stays white.
  const auto& r1 = plan.cells[1].rect;
  EXPECT_TRUE(NearColour(
      PdfPixel(pdf->string(), 2, g.offset_x + (r1.left + r1.right) / 2, g.offset_y + (r1.top + r1.bottom) / 2),
      0xFFFFFF));
  EXPECT_TRUE(NearColour(PdfPixel(pdf->string(), 1, 2, 2), 0xFFFFFF));
  // The header "1/2" and "2/2" stands centred above the cells of each sheet.
  const win::RECT header{g.offset_x + g.horzres / 2 - 40, g.offset_y, g.offset_x + g.horzres / 2 + 40,
                         g.offset_y + doc.run().header_height};
  EXPECT_GT(testing::PdfDarkPixels(pdf->string(), 1, header), 0);
  EXPECT_GT(testing::PdfDarkPixels(pdf->string(), 2, header), 0);
  EXPECT_EQ(testing::PdfDarkPixels(pdf->string(), 1, {0, 0, g.offset_x, g.offset_y}), 0);
}

}  // namespace
}  // namespace zv::printing
