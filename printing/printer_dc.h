// The printer device context: pages drawn at the printer's resolution on a sheet surface and
// handed to a spooler job as the PDF of the job's sheets. It follows the Windows model:
// created for a printer and a device mode (CreateDC), StartDoc, StartPage/EndPage per sheet
// side, ResetDC between pages to change paper and orientation, EndDoc or AbortDoc. The page
// values (printable area, sheet size, offsets, resolution) come from the spooler's geometry of
// the device mode; drawing starts at the printable area's top-left corner and is clipped to it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/base/status.h"
#include "platform/spool/devmode.h"
#include "platform/spool/spool.h"

namespace zv::gdi {
class DeviceContext;
}

namespace zv::printing {

// What the sheet renderer draws on: the page values and the page bracket.
class PrinterDevice {
 public:
  virtual ~PrinterDevice() = default;
  // The page values of the next page started.
  virtual const spool::PageGeometry& geometry() const = 0;
  // Starts a sheet side; gives the device context to draw it on (valid until EndPage), its
  // device pixels counted from the printable area's top-left corner.
  virtual Result<gdi::DeviceContext*> StartPage() = 0;
  // Ends the side.
  virtual Status EndPage() = 0;
};

// A surface that renders sheets into a PDF file, one page per sheet side.
class SheetSurface {
 public:
  virtual ~SheetSurface() = default;
  // Takes the page values; starts a page of the physical sheet's size and gives the device
  // context that draws it (device pixels of the whole sheet).
  virtual Result<gdi::DeviceContext*> StartPage(const spool::PageGeometry& g) = 0;
  // Renders the page into the file.
  virtual Status EndPage() = 0;
  // Finishes the file; gives the number of pages written.
  virtual Result<int> Close() = 0;
};
// Takes the PDF path and the resolution; gives the surface that writes it.
using SheetSurfaceFactory = std::function<Result<std::unique_ptr<SheetSurface>>(const std::string& pdf_path, int dpi)>;

// The sheet surfaces of the drawing layer: each sheet drawn at the printer's resolution and
// rendered band by band into a page of the physical sheet's size.
SheetSurfaceFactory PrinterSurfaces();

// The spooler-backed printer device context.
class PrinterDC : public PrinterDevice {
 public:
  // CreateDC: takes the spooler (which must outlive the context), the printer name, the
  // caller's device mode (merged onto the printer's default) and the surface maker; gives the
  // context, or the spooler's error for an unknown printer.
  static Result<std::unique_ptr<PrinterDC>> Create(spool::Spooler& spooler, const std::string& printer,
                                                   const spool::DevMode& mode, SheetSurfaceFactory surfaces);
  // Aborts a document that was started and not ended.
  ~PrinterDC() override;

  // The merged device mode and the options and page values it gives.
  const spool::DevMode& devmode() const { return mode_; }
  const spool::JobOptions& options() const { return options_; }
  const spool::PageGeometry& geometry() const override { return geometry_; }

  // ResetDC: takes a device mode for the pages that follow; refused inside a page.
  Status ResetDC(const spool::DevMode& mode);
  // StartDoc: takes the document name; starts the spooler job (its id and submission time are
  // known from now on) and the sheet surface. Refused when a document is open.
  Status StartDoc(const std::string& document_name);
  Result<gdi::DeviceContext*> StartPage() override;
  Status EndPage() override;
  // EndDoc: ends an open page, finishes the sheets and hands them to the job, which is
  // submitted. Any failure aborts the job and is given back.
  Status EndDoc();
  // AbortDoc: removes the job; succeeds when no document is open.
  Status AbortDoc();

  // The last started job's id and submission time (0 and zeros before StartDoc).
  std::uint32_t job_id() const { return job_id_; }
  const win::SYSTEMTIME& submitted() const { return submitted_; }
  // Sides started since StartDoc.
  int pages() const { return pages_; }
  // The first failure of a page call since StartDoc (OK when none); EndDoc gives it back.
  const Status& page_error() const { return page_error_; }

 private:
  PrinterDC() = default;
  void Cleanup();

  spool::Spooler* spooler_ = nullptr;
  std::string printer_;
  spool::Capabilities caps_;
  spool::DevMode mode_;
  spool::JobOptions options_;
  spool::PageGeometry geometry_;
  SheetSurfaceFactory surfaces_;
  std::unique_ptr<spool::PrintJob> job_;
  std::unique_ptr<SheetSurface> surface_;
  std::string pdf_path_;
  gdi::DeviceContext* page_dc_ = nullptr;
  int pages_ = 0;
  int doc_dpi_ = 0;
  Status page_error_;
  std::uint32_t job_id_ = 0;
  win::SYSTEMTIME submitted_{};
};

}  // namespace zv::printing
