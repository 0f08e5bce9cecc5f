#include "printing/print_rules.h"

#include <algorithm>

namespace zv::printing {

namespace {

using spool::DevMode;

const spool::Paper* FindPaper(const std::vector<spool::Paper>& papers, int code) {
  for (const auto& p : papers) {
    if (p.code == code) return &p;
  }
  return nullptr;
}

// Takes a page's orientation and paper size into the mode. A device mode's paper width and
// length are those of the paper itself, whatever the orientation, and so are a page's stored
// width and length: they go across unchanged.
void PlacePageSize(DevMode& m, const PageFacts& page) {
  m.dm.dmOrientation = page.landscape ? win::DMORIENT_LANDSCAPE : win::DMORIENT_PORTRAIT;
  m.dm.dmPaperWidth = page.first_size;
  m.dm.dmPaperLength = page.second_size;
}

// The run fits on one side of a sheet, so duplex would only waste the back.
bool FitsOneSide(int mode, int run_pages) {
  switch (mode) {
    case kModeOneUp:
      return run_pages < 2;
    case kModeTwoUp:
    case kModeHalves:
      return run_pages < 3;
    case kModeFourByColumn:
    case kModeFourByRow:
      return run_pages < 5;
    default:
      return false;
  }
}

bool TurnsSheet(int mode) {
  return mode == kModeTwoUp || mode == kModeHalves || mode == kModeEightByColumn || mode == kModeEightByRow;
}

}  // namespace

bool IsLayoutMode(int mode) {
  switch (mode) {
    case 0:
    case 2:
    case 3:
    case 4:
    case 8:
    case 12:
    case 13:
      return true;
    default:
      return false;
  }
}

int LayoutModeFromSettings(int pages_per_sheet, int page_order) {
  const bool by_column = page_order == 1;
  switch (pages_per_sheet) {
    case 1:
      return kModeTwoUp;
    case 2:
      return by_column ? kModeFourByColumn : kModeFourByRow;
    case 3:
      return by_column ? kModeEightByColumn : kModeEightByRow;
    default:
      return kModeOneUp;
  }
}

int LayoutModeFromRequest(int thumbnail_count, int orientation) {
  const bool landscape = orientation == win::DMORIENT_LANDSCAPE;
  switch (thumbnail_count) {
    case 1:
      return kModeTwoUp;
    case 2:
      return landscape ? kModeFourByRow : kModeFourByColumn;
    case 3:
      return landscape ? kModeEightByRow : kModeEightByColumn;
    default:
      return kModeOneUp;
  }
}

int PagesPerSheet(int mode) {
  switch (mode) {
    case kModeTwoUp:
      return 2;
    case kModeFourByColumn:
    case kModeFourByRow:
      return 4;
    case kModeEightByColumn:
    case kModeEightByRow:
      return 8;
    default:
      return 1;
  }
}

int PagesPerSide(int mode) { return mode == kModeHalves ? 2 : PagesPerSheet(mode); }

int LabelTotal(int pages, int mode) {
  if (pages <= 0) return 0;
  const int n = PagesPerSide(mode);
  return (pages + n - 1) / n;
}

PageFacts PageFactsFromAttributes(std::uint16_t attributes, std::uint16_t first, std::uint16_t second) {
  PageFacts f;
  f.paper_code = attributes & 0x3FFF;
  f.rotated = (attributes & 0x4000) != 0;
  f.landscape = (attributes & 0x8000) != 0;
  f.first_size = static_cast<std::int16_t>(first);
  f.second_size = static_cast<std::int16_t>(second);
  return f;
}

bool IsPrivateDuplexModel(const DevMode& mode) {
  return mode.dm.dmSpecVersion == 0x400 && mode.DeviceName() == kPrivateDuplexModel;
}

int DecideCopies(std::int64_t asked) {
  if (asked < 1) return 1;
  return asked > kMaxCopies ? 0 : static_cast<int>(asked);
}

CopyPlan PlanCopies(int copies, bool collate, int printer_max_copies) {
  const int n = std::clamp(copies, 1, kMaxCopies);
  // Collated copies need the whole document again each time: the device's own count would
  // print each page n times in a row.
  if (collate) return CopyPlan{1, n};
  const int most = std::max(1, printer_max_copies);
  if (n <= most) return CopyPlan{n, 1};
  int device = most;
  // Every pass must print the same number, so the device count is the largest divisor of n the
  // printer allows; the document is sent n / device times.
  while (n % device != 0) --device;
  return CopyPlan{device, n / device};
}

FitResult FitDevMode(const DevMode& base, const std::vector<spool::Paper>& papers, const FitRequest& request) {
  FitResult r;
  r.mode = base;
  r.layout_mode = request.layout_mode;
  auto& dm = r.mode.dm;
  const PageFacts& page = request.first_page;

  // Copies.
  r.copies = PlanCopies(request.copies, request.collate, request.printer_max_copies);
  dm.dmCopies = static_cast<win::SHORT>(r.copies.device_copies);
  dm.dmFields |= win::DM_COPIES;

  // Paper: the chosen one, else the first page's; a paper the printer lacks gives way to the
  // printer's current paper, which then counts as chosen.
  r.paper_chosen = request.chosen_paper != -1;
  const int wanted = r.paper_chosen ? request.chosen_paper : page.paper_code;
  const spool::Paper* entry = FindPaper(papers, wanted);
  if (!entry) {
    entry = FindPaper(papers, dm.dmPaperSize);
    r.paper_chosen = true;
  }
  if (r.paper_chosen) {
    dm.dmPaperLength = 0;
    dm.dmPaperWidth = 0;
    if (entry) {
      dm.dmOrientation = win::DMORIENT_PORTRAIT;
      dm.dmPaperSize = entry->code;
      dm.dmPaperWidth = static_cast<win::SHORT>(entry->width);
      dm.dmPaperLength = static_cast<win::SHORT>(entry->length);
    }
  }

  // Duplex: the model's private switch, then simplex for a run that fits on one side.
  const bool model = IsPrivateDuplexModel(r.mode);
  std::uint8_t duplex_on = 0;
  const bool has_switch = model && r.mode.GetByte(kPrivateDuplexOnByte, duplex_on);
  if (model) {
    dm.dmDuplex = (has_switch && duplex_on == 1) ? win::DMDUP_HORIZONTAL : win::DMDUP_SIMPLEX;
  }
  if (dm.dmDuplex > win::DMDUP_SIMPLEX && FitsOneSide(request.layout_mode, request.run_pages)) {
    dm.dmDuplex = win::DMDUP_SIMPLEX;
  }

  // Orientation from the run's first page.
  if (!r.paper_chosen) {
    dm.dmPaperSize = static_cast<win::SHORT>(page.paper_code);
    PlacePageSize(r.mode, page);
  } else if (page.landscape) {
    dm.dmOrientation = dm.dmPaperWidth <= dm.dmPaperLength ? win::DMORIENT_LANDSCAPE : win::DMORIENT_PORTRAIT;
  } else {
    dm.dmOrientation = dm.dmPaperWidth > dm.dmPaperLength ? win::DMORIENT_LANDSCAPE : win::DMORIENT_PORTRAIT;
  }

  // Turned sheets: two or eight pages side by side turn the sheet and so its binding edge.
  if (TurnsSheet(r.layout_mode)) {
    if (model) {
      std::uint8_t binding = 0;
      if (duplex_on == 1 && r.mode.GetByte(kPrivateBindingByte, binding)) {
        r.mode.SetByte(kPrivateBindingByte, static_cast<std::uint8_t>(binding >= 2 ? binding - 2 : binding + 2));
      }
    } else if (dm.dmDuplex == win::DMDUP_HORIZONTAL) {
      dm.dmDuplex = win::DMDUP_VERTICAL;
    } else if (dm.dmDuplex == win::DMDUP_VERTICAL) {
      dm.dmDuplex = win::DMDUP_HORIZONTAL;
    }
    if (dm.dmOrientation == win::DMORIENT_PORTRAIT) {
      dm.dmOrientation = win::DMORIENT_LANDSCAPE;
    } else if (dm.dmOrientation == win::DMORIENT_LANDSCAPE) {
      dm.dmOrientation = win::DMORIENT_PORTRAIT;
      if (page.rotated) {
        if (r.layout_mode == kModeTwoUp) {
          r.layout_mode = kModeHalves;
        } else if (r.layout_mode == kModeHalves) {
          r.layout_mode = kModeTwoUp;
        }
      }
    }
  }

  dm.dmFields |= win::DM_ORIENTATION | win::DM_PAPERSIZE | win::DM_DUPLEX;
  // Width and length count only where they describe the paper (a chosen paper's entry or
  // the page's own size); zeroes leave the paper to its code.
  if (dm.dmPaperWidth > 0 && dm.dmPaperLength > 0) {
    dm.dmFields |= win::DM_PAPERWIDTH | win::DM_PAPERLENGTH;
  } else {
    dm.dmFields &= ~(win::DM_PAPERWIDTH | win::DM_PAPERLENGTH);
  }
  return r;
}

DevMode DevModeForPage(const DevMode& mode, const PageFacts& page) {
  DevMode m = mode;
  m.dm.dmPaperSize = static_cast<win::SHORT>(page.paper_code);
  PlacePageSize(m, page);
  m.dm.dmFields |= win::DM_ORIENTATION | win::DM_PAPERSIZE;
  if (m.dm.dmPaperWidth > 0 && m.dm.dmPaperLength > 0) {
    m.dm.dmFields |= win::DM_PAPERWIDTH | win::DM_PAPERLENGTH;
  }
  return m;
}

}  // namespace zv::printing
