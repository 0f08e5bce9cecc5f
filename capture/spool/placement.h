// Where a PDF page lies on the job's paper: the one rule that the records road
// (capture/pdfrecords), the picture road (capture/feeder's rasteriser) and the feeder's
// pictures of pages share. A page takes the paper turned its own way (landscape when it is
// wider than high) unless the job turns every page one way, and is fitted into the paper
// without distortion at the job's resolution. Pure arithmetic.
#pragma once

#include "capture/spool/spool.h"

namespace zv::capture {

// The paper as it lies for a page: its width and length in 0.1 mm.
struct LaidPaper {
  int width = 0;
  int length = 0;
};

// Takes a paper and an orientation (2 landscape, anything else portrait); gives the paper
// turned that way.
LaidPaper LayPaper(const VirtualPaper& paper, int orientation);

struct PagePlacement {
  int orientation = 1;  // 1 portrait, 2 landscape
  LaidPaper paper;      // the paper as the page lies on it
  int width = 0;        // the sheet in device pixels at the resolution
  int height = 0;
  double scale = 0;  // device pixels per point: the page fitted into the sheet
};

// Takes the job's paper, the resolution (dots per inch), the page's size in points as it is
// shown (after its own rotation) and the orientation asked for every page (1 or 2; 0 takes
// each page's shape); gives where the page lies. The page's size must be positive.
PagePlacement PlacePage(const VirtualPaper& paper, int resolution, double width_pt, double height_pt,
                        int sheet_orientation);

}  // namespace zv::capture
