// The poppler rasteriser that the feeder and the raster driver's CUPS filter share: each PDF
// page rendered at a resolution onto a white sheet of a paper's size.
#pragma once

#include <cstdint>
#include <functional>
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

}  // namespace zv::capture
