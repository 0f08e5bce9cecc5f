#include "capture/spool/placement.h"

#include <algorithm>
#include <cmath>

namespace zv::capture {
namespace {

int ToPixels(int tenth_mm, int dpi) { return static_cast<int>(std::lround(tenth_mm * dpi / 254.0)); }

}  // namespace

LaidPaper LayPaper(const VirtualPaper& paper, int orientation) {
  if (orientation == 2) return {paper.length, paper.width};
  return {paper.width, paper.length};
}

PagePlacement PlacePage(const VirtualPaper& paper, int resolution, double width_pt, double height_pt,
                        int sheet_orientation) {
  PagePlacement out;
  out.orientation =
      sheet_orientation == 1 || sheet_orientation == 2 ? sheet_orientation : (width_pt > height_pt ? 2 : 1);
  out.paper = LayPaper(paper, out.orientation);
  out.width = ToPixels(out.paper.width, resolution);
  out.height = ToPixels(out.paper.length, resolution);
  out.scale = std::min(out.width / width_pt, out.height / height_pt);
  return out;
}

}  // namespace zv::capture
