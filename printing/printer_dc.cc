#include "printing/printer_dc.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <system_error>

#include "platform/gdi/dc.h"
#include "platform/gdi/surfaces.h"
#include "platform/paths/paths.h"

namespace zv::printing {

namespace {

// A fresh path for the sheets of one document, in the runtime root's temporary folder.
Result<std::string> SheetFilePath(std::uint32_t job_id) {
  static std::atomic<unsigned> counter{0};
  auto dir = paths::TempFolder();
  if (!dir.ok()) return dir.status();
  return *dir + "/sheets-" + std::to_string(::getpid()) + "-" + std::to_string(job_id) + "-" +
         std::to_string(counter.fetch_add(1)) + ".pdf";
}

class GdiSheetSurface : public SheetSurface {
 public:
  explicit GdiSheetSurface(std::unique_ptr<gdi::PrinterSurface> s) : s_(std::move(s)) {}
  Result<gdi::DeviceContext*> StartPage(const spool::PageGeometry& g) override {
    return s_->StartPage(g.physical_width, g.physical_height);
  }
  Status EndPage() override { return s_->EndPage(); }
  Result<int> Close() override { return s_->Close(); }

 private:
  std::unique_ptr<gdi::PrinterSurface> s_;
};

}  // namespace

SheetSurfaceFactory PrinterSurfaces() {
  return [](const std::string& pdf_path, int dpi) -> Result<std::unique_ptr<SheetSurface>> {
    auto s = gdi::PrinterSurface::Create(pdf_path, dpi);
    if (!s.ok()) return s.status();
    return std::unique_ptr<SheetSurface>(new GdiSheetSurface(std::move(*s)));
  };
}

Result<std::unique_ptr<PrinterDC>> PrinterDC::Create(spool::Spooler& spooler, const std::string& printer,
                                                     const spool::DevMode& mode, SheetSurfaceFactory surfaces) {
  if (!surfaces) return Status::InvalidArgument("printer device context without a sheet surface");
  auto caps = spooler.GetCapabilities(printer);
  if (!caps.ok()) return caps.status();
  auto merged = spooler.MergeDevMode(printer, mode);
  if (!merged.ok()) return merged.status();
  std::unique_ptr<PrinterDC> dc(new PrinterDC());
  dc->spooler_ = &spooler;
  dc->printer_ = printer;
  dc->caps_ = std::move(*caps);
  dc->mode_ = std::move(*merged);
  dc->options_ = spool::ResolveJobOptions(dc->mode_, dc->caps_);
  dc->geometry_ = spool::GeometryFor(dc->options_);
  dc->surfaces_ = std::move(surfaces);
  return dc;
}

PrinterDC::~PrinterDC() {
  // A document never ended leaves the queue; a destructor has no one to tell of a failure.
  if (job_) (void)AbortDoc();
}

void PrinterDC::Cleanup() {
  page_dc_ = nullptr;
  surface_.reset();
  job_.reset();
  if (!pdf_path_.empty()) {
    std::error_code ec;
    std::filesystem::remove(pdf_path_, ec);
    pdf_path_.clear();
  }
}

Status PrinterDC::ResetDC(const spool::DevMode& mode) {
  if (page_dc_) return Status::InvalidArgument("ResetDC inside a page");
  auto merged = spooler_->MergeDevMode(printer_, mode);
  if (!merged.ok()) return merged.status();
  mode_ = std::move(*merged);
  options_ = spool::ResolveJobOptions(mode_, caps_);
  // The sheets of one document share the resolution it was started with.
  if (doc_dpi_ > 0) options_.resolution = spool::Resolution{doc_dpi_, doc_dpi_};
  geometry_ = spool::GeometryFor(options_);
  return Status::Ok();
}

Status PrinterDC::StartDoc(const std::string& document_name) {
  if (job_) return Status::InvalidArgument("StartDoc while a document is open");
  auto job = spooler_->StartDoc(printer_, spool::DocInfo{document_name}, mode_);
  if (!job.ok()) return job.status();
  job_ = std::move(*job);
  job_id_ = job_->id();
  page_error_ = Status::Ok();
  submitted_ = job_->submitted();
  pages_ = 0;
  // One resolution for every sheet: the surface renders at a single resolution.
  doc_dpi_ = options_.resolution.x > 0 ? options_.resolution.x : 300;
  options_.resolution = spool::Resolution{doc_dpi_, doc_dpi_};
  geometry_ = spool::GeometryFor(options_);
  auto path = SheetFilePath(job_->id());
  if (!path.ok()) {
    (void)job_->Abort();  // the path's error is the one returned
    Cleanup();
    return path.status();
  }
  pdf_path_ = *path;
  auto surface = surfaces_(pdf_path_, doc_dpi_);
  if (!surface.ok()) {
    (void)job_->Abort();  // the surface's error is the one returned
    Cleanup();
    return surface.status();
  }
  surface_ = std::move(*surface);
  return Status::Ok();
}

Result<gdi::DeviceContext*> PrinterDC::StartPage() {
  if (!job_) return Status::InvalidArgument("StartPage without a document");
  if (page_dc_) return Status::InvalidArgument("StartPage inside a page");
  auto dc = surface_->StartPage(geometry_);
  if (!dc.ok()) {
    if (page_error_.ok()) page_error_ = dc.status();
    return dc.status();
  }
  page_dc_ = *dc;
  // The printer's device pixels start at the printable area's top-left corner, and nothing
  // prints outside that area.
  page_dc_->SetBaseTransform(win::XFORM{1, 0, 0, 1, float(geometry_.offset_x), float(geometry_.offset_y)});
  page_dc_->IntersectClipRect(0, 0, geometry_.horzres, geometry_.vertres);
  ++pages_;
  return page_dc_;
}

Status PrinterDC::EndPage() {
  if (!page_dc_) return Status::InvalidArgument("EndPage without a page");
  page_dc_ = nullptr;
  Status s = surface_->EndPage();
  if (!s.ok() && page_error_.ok()) page_error_ = s;
  return s;
}

Status PrinterDC::EndDoc() {
  if (!job_) return Status::InvalidArgument("EndDoc without a document");
  // EndPage keeps its error in page_error_, which decides the result below.
  if (page_dc_) (void)EndPage();
  Status result = page_error_;
  int pages = 0;
  if (result.ok()) {
    auto closed = surface_->Close();
    if (closed.ok()) {
      pages = *closed;
    } else {
      result = closed.status();
    }
  }
  if (result.ok() && pages > 0) result = job_->WriteDocument(pdf_path_, pages);
  if (result.ok()) result = job_->End();
  // The first error is the one returned; a job the spooler will not abort either is left to
  // its queue (the caller reports the print as failed).
  if (!result.ok()) (void)job_->Abort();
  Cleanup();
  return result;
}

Status PrinterDC::AbortDoc() {
  if (!job_) return Status::Ok();
  Status s = job_->Abort();
  Cleanup();
  return s;
}

}  // namespace zv::printing
