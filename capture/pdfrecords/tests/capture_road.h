// Test helper: a PDF's pages along the road a user's document takes: drawn as records on A4
// as the feeder draws them, re-recorded as the capture library keeps them, saved as PDF as
// the client saves a job, and printed as the engine prints a job's pages (the repairing
// playback onto a 600 dpi printer surface). Each step reports its failures as test failures
// and gives what it made, so a test measures the outcome the way a user meets it.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <vector>

#include "capture/lumbrel/convert.h"
#include "capture/pdfrecords/pdfrecords.h"
#include "capture/sarquen/rerecord.h"
#include "platform/gdi/surfaces.h"
#include "viewer/playback/playback.h"

namespace zv::capture::pdfrecords::testing {

// Takes a PDF and a resolution; gives its pages drawn as records on A4, in order. A page
// that cannot be drawn, or a document that cannot, is a test failure; the pages drawn are
// given all the same.
inline std::vector<PageRecords> CapturePages(const std::filesystem::path& pdf, int dpi) {
  std::vector<PageRecords> pages;
  Status s = DrawPdf(pdf.string(), FindPaper("A4").value(), dpi, [&](int index, Result<PageRecords> page) {
    EXPECT_TRUE(page.ok()) << "page " << index + 1 << ": " << page.status().ToString();
    if (page.ok()) pages.push_back(std::move(*page));
    return Status::Ok();
  });
  EXPECT_TRUE(s.ok()) << s.ToString();
  return pages;
}

// Takes captured pages and their resolution; gives each page re-recorded as the capture
// library keeps it (private text records). A page that fails is a test failure and missing
// from the result.
inline std::vector<std::vector<std::uint8_t>> RerecordPages(const std::vector<PageRecords>& pages, int dpi) {
  std::vector<std::vector<std::uint8_t>> out;
  for (const PageRecords& p : pages) {
    RerecordOptions o;
    o.text_height = TextHeightForQuality(dpi);
    auto r = RerecordPage(p.emf, o);
    EXPECT_TRUE(r.ok()) << r.status().ToString();
    if (r.ok()) out.push_back(std::move(r->bytes));
  }
  return out;
}

// Takes re-recorded pages and the captured pages they came from (for each page's
// orientation); gives the pages as the conversion library takes them: A4 in its units
// (1/28800 inch), turned for landscape pages.
inline std::vector<lumbrel::Page> SavedPages(const std::vector<std::vector<std::uint8_t>>& rerecorded,
                                             const std::vector<PageRecords>& pages) {
  const VirtualPaper a4 = FindPaper("A4").value();
  const auto units = [](int tenth_mm) { return static_cast<std::uint32_t>(std::lround(tenth_mm * 28800.0 / 254)); };
  std::vector<lumbrel::Page> out;
  for (std::size_t i = 0; i < rerecorded.size() && i < pages.size(); ++i) {
    const bool land = pages[i].orientation == 2;
    out.push_back(lumbrel::Page{rerecorded[i], units(land ? a4.length : a4.width), units(land ? a4.width : a4.length)});
  }
  return out;
}

// Takes re-recorded pages, the captured pages they came from and a file; prints the pages
// there as the engine prints a job's pages, A4 at 600 dpi turned for landscape pages. True
// when the printed PDF was written; every failure is a test failure.
inline bool PrintPages(const std::vector<std::vector<std::uint8_t>>& rerecorded, const std::vector<PageRecords>& pages,
                       const std::filesystem::path& printed) {
  auto printer = gdi::PrinterSurface::Create(printed.string(), 600);
  EXPECT_TRUE(printer.ok());
  if (!printer.ok()) return false;
  bool ok = true;
  std::lock_guard<std::recursive_mutex> lock(playback::DrawingLock());
  for (std::size_t i = 0; i < rerecorded.size() && i < pages.size(); ++i) {
    const bool land = pages[i].orientation == 2;
    const int w = land ? 7016 : 4961, h = land ? 4961 : 7016;
    auto dc = (*printer)->StartPage(w, h);
    EXPECT_TRUE(dc.ok());
    if (!dc.ok()) return false;
    playback::PlaybackState ps;
    EXPECT_EQ(playback::PlayRepaired(rerecorded[i], **dc, win::RECT{0, 0, w, h}, ps), 1);
    const bool ended = (*printer)->EndPage().ok();
    EXPECT_TRUE(ended);
    ok = ok && ended;
  }
  const bool closed = (*printer)->Close().ok();
  EXPECT_TRUE(closed);
  return ok && closed;
}

}  // namespace zv::capture::pdfrecords::testing
