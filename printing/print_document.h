// What a print job and the sheet renderer need of a print document: its name and pages, the
// drawing of one page into a rectangle, the header and footer texts and font with the page
// placeholders, and the fields of the current run that the job sets and the renderer reads.
// The client's and the engine's print documents are adapted to this interface.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/wintypes/wintypes.h"
#include "printing/print_rules.h"

namespace zv::gdi {
class DeviceContext;
}

namespace zv::printing {

// The header and footer of the printed sheets.
struct HeaderFooter {
  win::LOGFONTA font{};  // face and style; lfHeight is replaced by the point size
  int points = 10;       // font size in points
  // Header left, centre, right, then footer left, centre, right (UTF-8).
  std::string texts[6];
  // 1: on every side; 0: on the run's first side only; other: none.
  int rule = -1;
};

// The values of the current run, set by the print job before the sheets are rendered; the
// renderer writes the header and footer heights. They keep the values of the last job.
struct RunState {
  int label_total = 0;     // sheet sides of the run
  int numbering_base = 0;  // first page of the run - 1
  int anchor = -1;         // page-number anchor of one-page-per-sheet numbering, -1 none
  int first_page = 1;      // first page of the run (1-based)
  int header_height = 0;   // device pixels, 0 without header text
  int footer_height = 0;
};

class PrintDocument {
 public:
  virtual ~PrintDocument() = default;
  // The document's name (the job's document name in the queue).
  virtual std::string name() const = 0;
  // The number of pages.
  virtual int page_count() const = 0;
  // Takes a zero-based page index below page_count(); gives the page's paper, orientation
  // bits and size values.
  virtual PageFacts page(int index) const = 0;
  // Takes the device context, the resolution the page is drawn at (dots per inch), a
  // zero-based page index below page_count() and the destination rectangle in device pixels
  // of the printable area; draws the page fitted into it.
  virtual void RenderPage(gdi::DeviceContext& dc, int resolution, int index, const win::RECT& rect) = 0;
  // The header and footer texts, font and rule.
  virtual HeaderFooter header_footer() const = 0;
  // Takes a text, a page number and the total; writes the text with its page placeholders
  // replaced into *out and gives true when a placeholder was replaced (false leaves *out
  // unspecified).
  virtual bool ReplacePagePlaceholders(std::string_view text, int page, int total, std::string* out) const = 0;
  // The fields of the current run.
  virtual RunState& run() = 0;
};

}  // namespace zv::printing
