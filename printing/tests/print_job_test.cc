#include "printing/print_job.h"

#include <gtest/gtest.h>

#include "platform/spool/folder_spooler.h"
#include "platform/testing/temp_root.h"
#include "printing/print_locally.h"
#include "printing/tests/fixtures.h"

namespace zv::printing {
namespace {

using testing::BoxDocument;
using testing::PageColour;
using testing::RasterPdfSurfaces;
using PageSizesFn = std::vector<std::string> (*)(const std::string&);
const PageSizesFn PageSizes = testing::PdfPageSizes;
const auto PixelAt = testing::PdfPixel;
const auto Near = testing::NearColour;

class PrintJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    spool::FolderPrinter p = spool::StandardFolderPrinter("Office");
    p.caps.resolutions = {{72, 72}};
    p.caps.default_resolution = {72, 72};
    p.caps.default_duplex = win::DMDUP_VERTICAL;
    ASSERT_TRUE(spooler.AddPrinter(p).ok());
  }

  PrintJobSpec Spec(int mode) {
    PrintJobSpec order;
    order.printer = "Office";
    order.document_name = "report";
    order.layout_mode = mode;
    return order;
  }

  spool::JobInfo Job(std::uint32_t id) {
    auto job = spooler.GetJob("Office", id);
    EXPECT_TRUE(job.ok()) << job.status().ToString();
    return job.ok() ? *job : spool::JobInfo{};
  }

  std::string Pdf(std::uint32_t id) {
    auto path = spooler.JobDocumentPath("Office", id);
    EXPECT_TRUE(path.ok()) << path.status().ToString();
    return path.ok() ? path->string() : std::string();
  }

  zv::testing::TempRoot root;
  spool::FolderSpooler spooler;
};

TEST_F(PrintJobTest, FourUpSheetsLandInThePdf) {
  BoxDocument doc(6);
  auto out = RunPrintJob(spooler, doc, Spec(kModeFourByColumn), RasterPdfSurfaces(), nullptr);
  ASSERT_EQ(out.code, kPrintOk) << out.detail;
  EXPECT_EQ(out.sides, 2);
  EXPECT_EQ(doc.run_.label_total, 2);
  EXPECT_EQ(doc.run_.first_page, 1);
  EXPECT_EQ(doc.run_.numbering_base, 0);
  const auto job = Job(out.job_id);
  EXPECT_EQ(job.document, "report");
  EXPECT_EQ(job.total_pages, 2u);
  EXPECT_EQ(job.options.duplex, win::DMDUP_VERTICAL);
  const std::string pdf = Pdf(out.job_id);
  EXPECT_EQ(PageSizes(pdf), (std::vector<std::string>{"595x841", "595x841"}));
  // A4 at 72 dpi (sizes truncated to whole pixels): the cells of 4-up in the printable area.
  const auto g = spool::GeometryFor(job.options);
  const auto plan = PlanSide(kModeFourByColumn, g, {}, 0, 0, 0, 4);
  for (int i = 0; i < 4; ++i) {
    const auto& r = plan.cells[i].rect;
    const int x = g.offset_x + (r.left + r.right) / 2, y = g.offset_y + (r.top + r.bottom) / 2;
    EXPECT_TRUE(Near(PixelAt(pdf, 1, x, y), PageColour(i))) << "page " << i;
  }
  // Nothing is drawn in the unprintable margin.
  EXPECT_TRUE(Near(PixelAt(pdf, 1, 3, 3), 0xFFFFFF));
  EXPECT_TRUE(Near(PixelAt(pdf, 2, g.offset_x + plan.cells[1].rect.left + 20, g.offset_y + plan.cells[1].rect.top + 20),
                   PageColour(5)));
}

TEST_F(PrintJobTest, CopiesAndCollation) {
  BoxDocument doc(2);
  auto order = Spec(kModeOneUp);
  order.copies = 3;
  order.collate = true;
  auto collated = RunPrintJob(spooler, doc, order, RasterPdfSurfaces(), nullptr);
  ASSERT_EQ(collated.code, kPrintOk) << collated.detail;
  EXPECT_EQ(collated.passes, 3);
  EXPECT_EQ(Job(collated.job_id).options.copies, 1);
  EXPECT_EQ(PageSizes(Pdf(collated.job_id)).size(), 6u);
  EXPECT_TRUE(Near(PixelAt(Pdf(collated.job_id), 3, 300, 400), PageColour(0)));

  order.collate = false;
  auto plain = RunPrintJob(spooler, doc, order, RasterPdfSurfaces(), nullptr);
  ASSERT_EQ(plain.code, kPrintOk) << plain.detail;
  EXPECT_EQ(plain.passes, 1);
  EXPECT_EQ(Job(plain.job_id).options.copies, 3);
  EXPECT_EQ(PageSizes(Pdf(plain.job_id)).size(), 2u);

  // More copies than the printer makes: the run is repeated, the total stays exact.
  spool::FolderPrinter few = spool::StandardFolderPrinter("Few");
  few.caps.resolutions = {{72, 72}};
  few.caps.default_resolution = {72, 72};
  few.caps.max_copies = 5;
  ASSERT_TRUE(spooler.AddPrinter(few).ok());
  order.printer = "Few";
  order.copies = 12;
  auto repeated = RunPrintJob(spooler, doc, order, RasterPdfSurfaces(), nullptr);
  ASSERT_EQ(repeated.code, kPrintOk) << repeated.detail;
  EXPECT_EQ(repeated.device_copies * repeated.passes, 12);
  EXPECT_LE(repeated.device_copies, 5);
  auto job = spooler.GetJob("Few", repeated.job_id);
  ASSERT_TRUE(job.ok());
  EXPECT_EQ(job->options.copies, repeated.device_copies);
  auto pdf = spooler.JobDocumentPath("Few", repeated.job_id);
  ASSERT_TRUE(pdf.ok());
  EXPECT_EQ(PageSizes(pdf->string()).size(), 2u * repeated.passes);

  // More than anyone may ask for is not printed at all.
  order.copies = 1000;
  auto refused = RunPrintJob(spooler, doc, order, RasterPdfSurfaces(), nullptr);
  EXPECT_EQ(refused.code, kPrintFailed);
  EXPECT_EQ(refused.job_id, 0u);
}

TEST_F(PrintJobTest, EachPageKeepsItsOwnPaperAndOrientation) {
  BoxDocument doc(4);
  doc.pages_[1] = PageFacts{9, true, false, 2100, 2970};   // A4 landscape
  doc.pages_[2] = PageFacts{8, false, false, 2970, 4200};  // A3 portrait
  auto order = Spec(kModeOneUp);
  order.copies = 2;
  order.collate = true;
  auto out = RunPrintJob(spooler, doc, order, RasterPdfSurfaces(), nullptr);
  ASSERT_EQ(out.code, kPrintOk) << out.detail;
  const std::vector<std::string> pass{"595x841", "841x595", "841x1190", "595x841"};
  std::vector<std::string> both = pass;
  both.insert(both.end(), pass.begin(), pass.end());
  EXPECT_EQ(PageSizes(Pdf(out.job_id)), both);

  // A chosen paper puts every page on it.
  order.chosen_paper = 8;
  order.copies = 1;
  auto chosen = RunPrintJob(spooler, doc, order, RasterPdfSurfaces(), nullptr);
  ASSERT_EQ(chosen.code, kPrintOk) << chosen.detail;
  EXPECT_EQ(PageSizes(Pdf(chosen.job_id)), (std::vector<std::string>{"841x1190", "841x1190", "841x1190", "841x1190"}));
}

TEST_F(PrintJobTest, TwoUpTurnsTheSheetAndItsBindingEdge) {
  BoxDocument doc(5);
  auto out = RunPrintJob(spooler, doc, Spec(kModeTwoUp), RasterPdfSurfaces(), nullptr);
  ASSERT_EQ(out.code, kPrintOk) << out.detail;
  EXPECT_EQ(out.sides, 3);
  const auto job = Job(out.job_id);
  EXPECT_EQ(job.options.orientation, win::DMORIENT_LANDSCAPE);
  EXPECT_EQ(job.options.duplex, win::DMDUP_HORIZONTAL);
  EXPECT_EQ(PageSizes(Pdf(out.job_id)), (std::vector<std::string>{"841x595", "841x595", "841x595"}));

  // Two pages fit on one side: simplex.
  auto order = Spec(kModeTwoUp);
  order.page_range = true;
  order.first_page = 2;
  order.last_page = 3;
  auto short_run = RunPrintJob(spooler, doc, order, RasterPdfSurfaces(), nullptr);
  ASSERT_EQ(short_run.code, kPrintOk) << short_run.detail;
  EXPECT_EQ(Job(short_run.job_id).options.duplex, win::DMDUP_SIMPLEX);
  EXPECT_EQ(doc.run_.first_page, 2);
  EXPECT_EQ(doc.run_.numbering_base, 1);
}

TEST_F(PrintJobTest, FailuresGiveCodeSix) {
  BoxDocument doc(3);
  class Host : public LocalPrintHost {
   public:
    void SetResultMessage(int code, const std::vector<std::string>& lines) override {
      codes.push_back(code);
      last = lines;
    }
    std::vector<int> codes;
    std::vector<std::string> last;
  } host;

  LocalPrintSettings settings;
  settings.printer = "Nowhere";
  auto unknown = PrintDocumentLocally(doc, settings, spooler, RasterPdfSurfaces(), &host);
  EXPECT_EQ(unknown.code, kPrintFailed);
  EXPECT_EQ(host.last, (std::vector<std::string>{kPrinterNotSelectableMessage, "Nowhere"}));

  // A range outside the document prints nothing and fails.
  settings.printer = "Office";
  settings.all_pages = false;
  settings.first_page = 5;
  settings.last_page = 9;
  EXPECT_EQ(PrintDocumentLocally(doc, settings, spooler, RasterPdfSurfaces(), &host).code, kPrintFailed);

  // A surface that cannot be made: the job is removed, not submitted.
  auto broken = [](const std::string&, int) -> Result<std::unique_ptr<SheetSurface>> {
    return Status::IOError("disk full");
  };
  auto no_surface = RunPrintJob(spooler, doc, Spec(kModeOneUp), broken, nullptr);
  EXPECT_EQ(no_surface.code, kPrintFailed);
  EXPECT_EQ(no_surface.lines, (std::vector<std::string>{kPrintFailedMessage, "Office"}));
  ASSERT_NE(no_surface.job_id, 0u);
  EXPECT_EQ(Job(no_surface.job_id).state, spool::JobState::kDeleted);

  // A printer that takes no jobs.
  auto desc = spooler.ReadPrinter("Office");
  ASSERT_TRUE(desc.ok());
  desc->info.accepting = false;
  ASSERT_TRUE(spooler.AddPrinter(*desc).ok());
  auto refused = RunPrintJob(spooler, doc, Spec(kModeOneUp), RasterPdfSurfaces(), nullptr);
  EXPECT_EQ(refused.code, kPrintFailed);
  EXPECT_EQ(refused.job_id, 0u);
  EXPECT_EQ(host.codes, (std::vector<int>{kPrintFailed, kPrintFailed}));
}

// A surface whose page rendering fails from the given page on (0-based).
SheetSurfaceFactory FailingSurfaces(int fail_from) {
  class Failing : public SheetSurface {
   public:
    Failing(std::unique_ptr<SheetSurface> inner, int fail_from) : inner_(std::move(inner)), fail_from_(fail_from) {}
    Result<gdi::DeviceContext*> StartPage(const spool::PageGeometry& g) override { return inner_->StartPage(g); }
    Status EndPage() override {
      Status s = inner_->EndPage();
      return pages_++ >= fail_from_ ? Status::IOError("disk full") : s;
    }
    Result<int> Close() override { return inner_->Close(); }

   private:
    std::unique_ptr<SheetSurface> inner_;
    int fail_from_;
    int pages_ = 0;
  };
  return [fail_from](const std::string& path, int dpi) -> Result<std::unique_ptr<SheetSurface>> {
    auto inner = RasterPdfSurfaces()(path, dpi);
    if (!inner.ok()) return inner.status();
    return std::unique_ptr<SheetSurface>(new Failing(std::move(*inner), fail_from));
  };
}

TEST_F(PrintJobTest, APageThatCannotBeWrittenFailsTheJob) {
  BoxDocument doc(3);
  auto out = RunPrintJob(spooler, doc, Spec(kModeOneUp), FailingSurfaces(1), nullptr);
  EXPECT_EQ(out.code, kPrintFailed);
  EXPECT_NE(out.detail.find("disk full"), std::string::npos) << out.detail;
  ASSERT_NE(out.job_id, 0u);
  EXPECT_EQ(Job(out.job_id).state, spool::JobState::kDeleted);
}

TEST_F(PrintJobTest, DeviceContextPageValuesAndReset) {
  auto base = spooler.DefaultDevMode("Office");
  ASSERT_TRUE(base.ok());
  auto dc = PrinterDC::Create(spooler, "Office", *base, RasterPdfSurfaces());
  ASSERT_TRUE(dc.ok()) << dc.status().ToString();
  // A4 at 72 dpi with 4.2 mm margins on every side.
  const spool::PageGeometry g = (*dc)->geometry();
  EXPECT_EQ(g.physical_width, 595);
  EXPECT_EQ(g.offset_x, 11);
  EXPECT_EQ(g.horzres, 595 - 2 * 11);
  EXPECT_FALSE((*dc)->StartPage().ok());  // no document yet
  ASSERT_TRUE((*dc)->StartDoc("values").ok());
  auto page = (*dc)->StartPage();
  ASSERT_TRUE(page.ok());
  spool::DevMode turned = *base;
  turned.dm.dmOrientation = win::DMORIENT_LANDSCAPE;
  turned.dm.dmFields |= win::DM_ORIENTATION;
  EXPECT_FALSE((*dc)->ResetDC(turned).ok());  // not inside a page
  // Drawing at the origin lands at the printable area's corner, nothing in the margin.
  (*page)->SelectBrush(gdi::Brush::Solid(0));
  (*page)->SelectStockObject(win::NULL_PEN);
  (*page)->Rectangle(-50, -50, 20, 20);
  ASSERT_TRUE((*dc)->EndPage().ok());
  ASSERT_TRUE((*dc)->ResetDC(turned).ok());
  EXPECT_EQ((*dc)->geometry().physical_width, g.physical_height);
  ASSERT_TRUE((*dc)->StartPage().ok());
  ASSERT_TRUE((*dc)->EndPage().ok());
  const std::uint32_t id = (*dc)->job_id();
  ASSERT_TRUE((*dc)->EndDoc().ok());
  const std::string pdf = Pdf(id);
  EXPECT_EQ(PageSizes(pdf), (std::vector<std::string>{"595x841", "841x595"}));
  EXPECT_TRUE(Near(PixelAt(pdf, 1, 5, 5), 0xFFFFFF));
  EXPECT_TRUE(Near(PixelAt(pdf, 1, 15, 15), 0x000000));
  EXPECT_TRUE(Near(PixelAt(pdf, 1, 35, 35), 0xFFFFFF));
}

TEST_F(PrintJobTest, ARangeIsCutToTheDocument) {
  BoxDocument doc(3);
  auto order = Spec(kModeOneUp);
  order.page_range = true;
  order.first_page = 2;
  order.last_page = 70;
  std::vector<std::string> trace;
  order.trace = [&trace](const std::string& line) { trace.push_back(line); };
  auto out = RunPrintJob(spooler, doc, order, RasterPdfSurfaces(), nullptr);
  ASSERT_EQ(out.code, kPrintOk) << out.detail;
  EXPECT_EQ(out.from, 2);
  EXPECT_EQ(out.to, 3);
  EXPECT_EQ(PageSizes(Pdf(out.job_id)).size(), 2u);
  std::vector<int> drawn;
  for (const auto& d : doc.drawn) drawn.push_back(d.index);
  EXPECT_EQ(drawn, (std::vector<int>{1, 2}));
  EXPECT_EQ(trace, (std::vector<std::string>{"CPageDat::CRpqcprtd IN", "CPageDat::CRpqcprtd OUT",
                                             "CPageDat::~CRpqcprtd IN", "CPageDat::~CRpqcprtd OUT"}));
}

}  // namespace
}  // namespace zv::printing
