// The rules of a print job that the client's local printing and the engine's printing share:
// the layout mode, pages per sheet and the label total, copies and collation, and the fitting
// of the printer's device mode to the document (paper, duplex, orientation, turned sheets, the
// per-page paper of one-page-per-sheet printing). Pure logic over device-mode records: no
// spooler, no drawing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/spool/devmode.h"

namespace zv::printing {

// Layout modes of a sheet side.
inline constexpr int kModeOneUp = 0;         // one page per side
inline constexpr int kModeTwoUp = 2;         // two pages in a grid
inline constexpr int kModeHalves = 3;        // two pages in the halves of the side
inline constexpr int kModeFourByColumn = 4;  // four pages, column by column
inline constexpr int kModeFourByRow = 8;     // four pages, row by row
inline constexpr int kModeEightByColumn = 12;
inline constexpr int kModeEightByRow = 13;

// Takes a layout mode; gives true for 0, 2, 3, 4, 8, 12 and 13.
bool IsLayoutMode(int mode);

// Takes the client's pages-per-sheet setting (0 one, 1 two, 2 four, 3 eight) and page order
// (1 column by column, other row by row); gives the layout mode (0, 2, 4/8, 12/13). Unknown
// pages-per-sheet values give mode 0.
int LayoutModeFromSettings(int pages_per_sheet, int page_order);

// Takes a request's thumbnail count (0 one, 1 two, 2 four, 3 eight pages per sheet) and
// orientation (2 landscape, other portrait); gives the layout mode (0, 2, 4/8, 12/13).
// Unknown thumbnail counts give mode 0.
int LayoutModeFromRequest(int thumbnail_count, int orientation);

// Takes a layout mode; gives the pages one sheet side holds for counting sheets: 2 for mode 2,
// 4 for modes 4 and 8, 8 for modes 12 and 13, 1 for every other mode (mode 3 included).
int PagesPerSheet(int mode);

// Takes a layout mode; gives the pages one side really holds: as PagesPerSheet, but 2 for the
// halves of mode 3.
int PagesPerSide(int mode);

// Takes the number of pages of a run and the layout mode; gives the number of sheet sides the
// run prints on (pages / pages per side, rounded up; 0 for no pages).
int LabelTotal(int pages, int mode);

// The facts of one document page that the device-mode rules read.
struct PageFacts {
  std::uint16_t paper_code = 0;  // DMPAPER value (low 14 bits of the attribute word)
  bool landscape = false;
  bool rotated = false;
  std::int16_t first_size = 0;   // the page's first size value: paper width (0.1 mm)
  std::int16_t second_size = 0;  // the page's second size value: paper length (0.1 mm)
};
// Takes a page attribute word (low 14 bits paper, bit 14 rotated, bit 15 landscape) and the
// two size values; gives the page facts.
PageFacts PageFactsFromAttributes(std::uint16_t attributes, std::uint16_t first, std::uint16_t second);

// The printer model whose driver keeps its duplex switch and binding edge in private bytes.
inline constexpr const char* kPrivateDuplexModel = "KANDREL Morvaith QX-410";
inline constexpr std::size_t kPrivateDuplexOnByte = 0x104;  // 1: duplex on for this job
inline constexpr std::size_t kPrivateBindingByte = 0x106;   // binding edge, 0 to 3
// Takes a device mode; gives true when it is that model's (device name equal, letter case
// counting, and dmSpecVersion 0x400).
bool IsPrivateDuplexModel(const spool::DevMode& mode);

// The most copies one print may ask for (the client's own limit). A request for more is
// not printed at all: it is invalid.
inline constexpr int kMaxCopies = 999;

// Takes the copies a request or a print dialog asks for (any width); gives the copies to
// print: below 1 counts as 1, and 0 for more than kMaxCopies (the print is refused). Every
// other place takes its copies from here.
int DecideCopies(std::int64_t asked);

// Copies: how many copies the device makes and how many times the job repeats the run.
struct CopyPlan {
  int device_copies = 1;  // dmCopies
  int passes = 1;         // runs printed in the job
  // Copies that the plan prints: device copies times passes.
  int total() const { return device_copies * passes; }
};
// Takes the copies (as DecideCopies gives them), the collate flag and the most copies the
// printer makes of itself (below 1 counts as 1); gives the plan, which always prints
// exactly the copies asked for. With collate the job repeats the run (dmCopies 1); without
// it the printer makes the copies, and where it makes fewer the job repeats the run with
// the largest device copy count that divides the copies.
CopyPlan PlanCopies(int copies, bool collate, int printer_max_copies = kMaxCopies);

// What the job asks of the device mode.
struct FitRequest {
  int layout_mode = kModeOneUp;
  int chosen_paper = -1;  // DMPAPER code, -1: the paper of the run's first page
  int run_pages = 1;      // pages in the run
  int copies = 1;
  bool collate = false;
  PageFacts first_page;                 // the run's first page
  int printer_max_copies = kMaxCopies;  // copies the printer makes of itself
};

// What the fitting decided besides the device mode.
struct FitResult {
  spool::DevMode mode;
  int layout_mode = kModeOneUp;  // mode 2 and 3 may be exchanged by a turned sheet
  bool paper_chosen = false;     // false: one-page-per-sheet runs follow each page's paper
  CopyPlan copies;
};

// Takes the printer's default device mode, its papers and the request; gives the fitted mode:
// copies; the paper (the chosen code, else the first page's; a paper the printer lacks is
// replaced by its current paper and then counts as chosen); the private duplex switch of the
// model above; simplex when the run fits on one side; the orientation from the first page; the
// turned sheet of modes 2, 3, 12 and 13 (duplex binding edge exchanged, orientation turned,
// modes 2 and 3 exchanged for a rotated first page). The fields it sets are flagged in
// dmFields so that the spooler's merge takes them.
FitResult FitDevMode(const spool::DevMode& base, const std::vector<spool::Paper>& papers, const FitRequest& request);

// Takes the device mode of a one-page-per-sheet run that follows each page's paper and the
// page about to print; gives the mode for that page: its paper code and orientation (2 for a
// landscape page, else 1) with its own paper width and length.
spool::DevMode DevModeForPage(const spool::DevMode& mode, const PageFacts& page);

}  // namespace zv::printing
