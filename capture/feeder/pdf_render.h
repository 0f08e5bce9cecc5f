// The poppler rasteriser that the feeder and the raster driver's CUPS filter share: each PDF
// page rendered at a resolution onto a white sheet of a paper's size.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/spool/spool.h"
#include "platform/base/status.h"

namespace zv::capture {

// A rendered page: 0x00RRGGBB pixels, top row first.
struct RenderedPage {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
};

// Takes a PDF file and a page range; renders each page at `resolution` onto a white page of
// the paper's size (the page fitted into it, landscape pages on the turned paper). `each`
// gets every page in order with its orientation (2 = landscape); a non-OK status stops.
// `orientation` 1 or 2 puts every page on the paper turned that way (a page of the other
// shape is fitted into it); 0 takes each page's own shape. `only_page` (0-based) renders that
// page alone; -1 renders them all.
Status RenderPdf(const std::string& path, const VirtualPaper& paper, int resolution,
                 const std::function<Status(const RenderedPage&, int orientation)>& each, int orientation = 0,
                 int only_page = -1);

// A PDF opened once and rendered page by page on demand, as RenderPdf renders its pages: the
// feeder's pictures of the pages that cannot be drawn as records read the document once, not
// once a page.
class PdfPictures {
 public:
  // Takes a PDF file; gives it opened, or what keeps it from being read (NotFound, IOError,
  // InvalidArgument for no PDF or one without pages).
  static Result<std::unique_ptr<PdfPictures>> Open(const std::string& path);
  ~PdfPictures();

  int pages() const;

  // Takes a page (0-based) and renders it as RenderPdf does; gives InvalidArgument for a page
  // the document lacks or cannot draw, else the callback's status.
  Status Render(int index, const VirtualPaper& paper, int resolution,
                const std::function<Status(const RenderedPage&, int orientation)>& each, int orientation = 0) const;

 private:
  PdfPictures() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zv::capture
