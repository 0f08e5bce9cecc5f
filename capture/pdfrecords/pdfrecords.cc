// PDF pages as drawing records: DrawPdf opens the document once, keeps the work on its fonts
// and its rasteriser for the whole document, and has poppler's interpreter draw each page
// through the one output device (records_device.h) into a metafile recorder; this unit also
// holds that device's own state, saved and restored with the page's graphics state.
#include "capture/pdfrecords/pdfrecords.h"

#include <GlobalParams.h>
#include <PDFDoc.h>
#include <Page.h>
#include <goo/GooString.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>

#include "capture/pdfrecords/document_fonts.h"
#include "capture/pdfrecords/records_device.h"
#include "capture/spool/placement.h"
#include "platform/gdi/surfaces.h"

namespace zv::capture::pdfrecords {

void RecordsDev::saveState(GfxState*) {
  Flush();
  neutralised_ = false;
  rec_.SaveDC();
  saved_.push_back(current_);
}

void RecordsDev::restoreState(GfxState*) {
  Flush();
  if (saved_.empty()) return;
  rec_.RestoreDC(-1);
  current_ = saved_.back();
  saved_.pop_back();
}

void RecordsDev::ForgetObjects() {
  current_.pen.reset();
  current_.brush.reset();
  current_.fill_mode = 0;
  current_.font.reset();
  current_.text_colour.reset();
}

win::COLORREF RecordsDev::FillColour(GfxState* state) const {
  GfxRGB rgb;
  state->getFillRGB(&rgb);
  return Rgb(rgb);
}

namespace {

// poppler's global parameters live as long as the process: DrawPdf may run again at any time,
// and poppler's font caches refer to them.
void KeepPopplerParams() {
  static std::once_flag once;
  std::call_once(once, [] {
    static auto* initer = new GlobalParamsIniter([](ErrorCategory, Goffset, const char*) {});
    (void)initer;
  });
}

bool BudgetCheck(void* data) { return static_cast<Budget*>(data)->Exceeded(); }

bool AbortCheck(void* data) { return static_cast<RecordsDev*>(data)->Aborted(); }

}  // namespace

FaceOfName FaceFromFontName(const std::string& name) {
  FaceOfName out;
  std::string n = name;
  // Subset prefix: six capital letters and "+".
  if (n.size() > 7 && n[6] == '+' && std::all_of(n.begin(), n.begin() + 6, [](char c) { return c >= 'A' && c <= 'Z'; }))
    n = n.substr(7);
  std::string style;
  const std::size_t cut = n.find_first_of("-,");
  if (cut != std::string::npos) {
    style = n.substr(cut + 1);
    n = n.substr(0, cut);
  }
  // PostScript names of the usual office faces carry a maker's suffix.
  for (const char* suffix : {"PSMT", "PS", "MT"}) {
    const std::size_t len = std::strlen(suffix);
    if (n.size() > len + 2 && n.compare(n.size() - len, len, suffix) == 0) {
      n = n.substr(0, n.size() - len);
      break;
    }
  }
  std::string lower = style;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  out.bold = lower.find("bold") != std::string::npos || lower.find("black") != std::string::npos ||
             lower.find("heavy") != std::string::npos;
  out.italic = lower.find("italic") != std::string::npos || lower.find("oblique") != std::string::npos;
  out.face = n;
  return out;
}

Status DrawPdf(const std::string& path, const VirtualPaper& paper, int resolution, const PageCallback& each,
               const Limits& limits, int sheet_orientation) {
  KeepPopplerParams();
  if (resolution <= 0 || resolution > 2400) return Status::InvalidArgument("resolution out of range");
  auto doc = std::make_unique<PDFDoc>(std::make_unique<GooString>(path));
  if (!doc->isOk()) return Status::InvalidArgument("cannot open " + path + ": not a readable PDF file");
  const int pages = doc->getNumPages();
  if (pages <= 0) return Status::InvalidArgument(path + " has no pages");
  // A page tree that reaches no page (a loop, kids that are no pages) is no document.
  bool any = false;
  for (int i = 0; i < pages && !any; ++i) any = doc->getPage(i + 1) != nullptr;
  if (!any) return Status::InvalidArgument(path + " has no readable page");
  DocumentFonts fonts(doc->getXRef());
  DocumentPictures document_pictures(doc.get());
  for (int i = 0; i < pages; ++i) {
    Page* page = doc->getPage(i + 1);
    if (!page) {
      Status s = each(i, Status::Corruption("page " + std::to_string(i + 1) + " cannot be read"));
      if (!s.ok()) return s;
      continue;
    }
    const int rotate = ((doc->getPageRotate(i + 1) % 360) + 360) % 360;
    double wpt = doc->getPageCropWidth(i + 1), hpt = doc->getPageCropHeight(i + 1);
    if (rotate == 90 || rotate == 270) std::swap(wpt, hpt);
    if (!(wpt > 0) || !(hpt > 0) || wpt > 14400 * 4 || hpt > 14400 * 4) {
      Status s = each(i, Status::InvalidArgument("page " + std::to_string(i + 1) + " has no usable size"));
      if (!s.ok()) return s;
      continue;
    }
    const PagePlacement placed = PlacePage(paper, resolution, wpt, hpt, sheet_orientation);
    const int orientation = placed.orientation;
    const int pw = placed.paper.width, pl = placed.paper.length;
    const int width = placed.width, height = placed.height;
    const double scale = placed.scale;

    gdi::MetafileRecorder::Options o;
    o.device = {width, height};
    o.millimeters = {std::max(1, pw / 10), std::max(1, pl / 10)};
    o.frame = win::RECTL{0, 0, pw * 10, pl * 10};
    // Measures text in the faces the player draws with, at the page's resolution.
    auto reference = gdi::MemoryBitmap::Create(8, 8, 24, resolution);
    if (reference.ok()) o.reference = &(*reference)->dc();
    gdi::MetafileRecorder rec(o);
    PageRecords out;
    out.index = i;
    out.orientation = orientation;
    Budget budget{limits.max_bytes, std::chrono::steady_clock::now() + limits.max_time};
    AreaPictures pictures(document_pictures, i, scale, BudgetCheck, &budget);
    RecordsDev dev(rec, budget, pictures, out.stats, fonts);
    doc->displayPageSlice(&dev, i + 1, 72.0 * scale, 72.0 * scale, 0, false, true, true, -1, -1, -1, -1, AbortCheck,
                          &dev);
    fonts.EndPage();
    Result<PageRecords> result = Status::Ok();
    if (budget.Exceeded()) {
      result = budget.over_bytes ? Status::Busy("page " + std::to_string(i + 1) + " exceeds the record limit")
                                 : Status::Timeout("page " + std::to_string(i + 1) + " takes too long to draw");
    } else {
      auto bytes = rec.Close();
      if (!bytes.ok()) {
        result = bytes.status();
      } else if (bytes->size() > limits.max_bytes) {
        result = Status::Busy("page " + std::to_string(i + 1) + " exceeds the record limit");
      } else {
        out.stats.records = rec.RecordCount();
        out.emf = std::move(*bytes);
        result = std::move(out);
      }
    }
    Status s = each(i, std::move(result));
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

}  // namespace zv::capture::pdfrecords
