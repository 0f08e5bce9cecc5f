// Documents made here by real programs (LibreOffice Writer and Calc, cups-filters' text-to-PDF, cairo)
// and a scanned page and a page with transparency: every page drawn as records, played at
// 200 dpi, looks like poppler's own rendering; the text of a Writer letter survives
// re-recording into the private text records, the conversion to PDF and printing, Japanese
// included.
#include <cairo-pdf.h>
#include <cairo.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "capture/lumbrel/convert.h"
#include "capture/pdfrecords/pdfrecords.h"
#include "capture/pdfrecords/tests/capture_road.h"
#include "capture/pdfrecords/tests/page_compare.h"
#include "jobdoc/private_records.h"
#include "pdfwriter/tests/pdf_test_util.h"
#include "platform/testing/temp_root.h"

namespace zv::capture::pdfrecords {
namespace {

namespace fs = std::filesystem;
using pdf::testing::Quote;
using pdf::testing::RunCommand;
using pdf::testing::WriteFile;

constexpr double kA4W = 595.276, kA4H = 841.89;

void CairoPdf(const fs::path& path, int pages, const std::function<void(cairo_t*, int)>& draw) {
  cairo_surface_t* s = cairo_pdf_surface_create(path.c_str(), kA4W, kA4H);
  cairo_t* cr = cairo_create(s);
  for (int i = 0; i < pages; ++i) {
    draw(cr, i);
    cairo_show_page(cr);
  }
  cairo_destroy(cr);
  cairo_surface_finish(s);
  cairo_surface_destroy(s);
}

void WritePng(const fs::path& path) {
  cairo_surface_t* img = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 120, 80);
  cairo_t* cr = cairo_create(img);
  cairo_pattern_t* g = cairo_pattern_create_linear(0, 0, 120, 80);
  cairo_pattern_add_color_stop_rgb(g, 0, 0.9, 0.2, 0.1);
  cairo_pattern_add_color_stop_rgb(g, 1, 0.1, 0.2, 0.9);
  cairo_set_source(cr, g);
  cairo_paint(cr);
  cairo_pattern_destroy(g);
  cairo_destroy(cr);
  cairo_surface_write_to_png(img, path.c_str());
  cairo_surface_destroy(img);
}

class CorpusTest : public ::testing::Test {
 protected:
  zv::testing::TempRoot root_;
  fs::path dir_ = root_.path();

  // Every page of `pdf` drawn as records and compared with pdftoppm; gives the pages.
  std::vector<PageRecords> CheckDocument(const fs::path& pdf) {
    SCOPED_TRACE(pdf.filename().string());
    std::vector<PageRecords> pages = testing::CapturePages(pdf, 200);
    // The reference at the scale the page is fitted into A4 at 200 dpi (1654 x 2339 pixels),
    // for pages of other sizes (cups-filters makes Letter pages).
    const fs::path ref = dir_ / "ref";
    double w = 0, h = 0;
    const std::string info = RunCommand("pdfinfo " + Quote(pdf)).out;
    const std::size_t at = info.find("Page size:");
    if (at != std::string::npos) std::sscanf(info.c_str() + at, "Page size: %lf x %lf", &w, &h);
    EXPECT_GT(w, 0);
    const std::string scale =
        w / h > 1654.0 / 2339.0 ? "-scale-to-x 1654 -scale-to-y -1" : "-scale-to-x -1 -scale-to-y 2339";
    EXPECT_EQ(RunCommand("pdftoppm -cropbox " + scale + " " + Quote(pdf) + " " + Quote(ref)).status, 0);
    for (const PageRecords& p : pages) {
      SCOPED_TRACE("page " + std::to_string(p.index + 1));
      std::optional<testing::Image> want;
      for (const char* digits : {"%d", "%02d", "%03d"}) {
        char name[32];
        std::snprintf(name, sizeof name, digits, p.index + 1);
        want = testing::ReadPpm(ref.string() + "-" + name + ".ppm");
        if (want) break;
      }
      if (!want) {
        ADD_FAILURE() << "no reference rendering";
        continue;
      }
      auto got = testing::PlayPage(p.emf, 1654, 2339);
      if (!got) {
        ADD_FAILURE() << "the records do not play";
        continue;
      }
      EXPECT_LE(testing::DifferingShare(*got, *want), 0.01);
    }
    return pages;
  }
};

TEST_F(CorpusTest, RealDocumentsLookTheSameAsRecords) {
  // A letter from LibreOffice Writer: Latin and Japanese text, a table and an image.
  WritePng(dir_ / "img.png");
  WriteFile(dir_ / "letter.html",
            "<html><head><meta charset=\"utf-8\"></head><body>"
            "<h1 style=\"font-family:'Liberation Sans'\">Quarterly Report</h1>"
            "<p style=\"font-family:'Liberation Serif'\">Sales rose in every region this quarter.</p>"
            "<p style=\"font-family:'IPAMincho'\">今期の売上は全地域で増加しました。</p>"
            "<table border=\"1\"><tr><td>Region</td><td>東京</td></tr><tr><td>Sales</td><td>1200</td></tr></table>"
            "<p><img src=\"img.png\" width=\"240\" height=\"160\"></p></body></html>");
  ASSERT_EQ(RunCommand("cd " + Quote(dir_) + " && HOME=" + Quote(dir_) +
                       " soffice --headless --norestore -env:UserInstallation=file://" + (dir_ / "profile").string() +
                       " --convert-to pdf:writer_web_pdf_Export --outdir " + Quote(dir_) + " letter.html")
                .status,
            0);
  const std::vector<PageRecords> letter = CheckDocument(dir_ / "letter.pdf");
  ASSERT_FALSE(letter.empty());

  // Re-recorded as the capture library does, the words become private text records, and the
  // PDF the conversion library saves from them carries the words.
  const std::vector<std::vector<std::uint8_t>> rerecorded = testing::RerecordPages(letter, 200);
  ASSERT_EQ(rerecorded.size(), letter.size());
  std::size_t private_text = 0;
  for (const auto& bytes : rerecorded) {
    for (std::size_t at = 0; at + 8 <= bytes.size();) {
      std::uint32_t size;
      std::memcpy(&size, bytes.data() + at + 4, 4);
      if (size < 8 || at + size > bytes.size()) break;
      auto pr = jobdoc::ParsePrivateRecord(std::span<const std::uint8_t>(bytes.data() + at, size));
      if (pr.ok() && pr->kind != jobdoc::PrivateRecord::Kind::kNotPrivate &&
          pr->kind != jobdoc::PrivateRecord::Kind::kFontScale)
        ++private_text;
      at += size;
    }
  }
  EXPECT_GT(private_text, 0u);
  const fs::path saved = dir_ / "saved.pdf";
  ASSERT_TRUE(lumbrel::ConvertToPdf(saved.string(), testing::SavedPages(rerecorded, letter)).ok());
  const std::string words = RunCommand("pdftotext " + Quote(saved) + " -").out;
  EXPECT_THAT(words, ::testing::HasSubstr("Sales rose"));
  EXPECT_THAT(words, ::testing::HasSubstr("今期の売上"));
  EXPECT_THAT(words, ::testing::HasSubstr("東京"));

  // Printed at 600 dpi as the engine prints a job's pages (the repairing playback onto a
  // printer), the sheet carries real text: fonts in the PDF and the words in its text.
  {
    const fs::path printed = dir_ / "printed.pdf";
    ASSERT_TRUE(testing::PrintPages(rerecorded, letter, printed));
    EXPECT_THAT(RunCommand("pdffonts " + Quote(printed)).out, ::testing::HasSubstr("TrueType"));
    const std::string printed_words = RunCommand("pdftotext " + Quote(printed) + " -").out;
    EXPECT_THAT(printed_words, ::testing::HasSubstr("Sales rose"));
    EXPECT_THAT(printed_words, ::testing::HasSubstr("今期の売上"));
  }

  // A table from LibreOffice Calc, Latin and Japanese cells.
  WriteFile(dir_ / "sheet.csv", "Item,Count,Note\nPaper,120,印刷用紙\nToner,4,Black\nStaples,1000,ホチキス\n");
  ASSERT_EQ(
      RunCommand("cd " + Quote(dir_) + " && HOME=" + Quote(dir_) +
                 " soffice --headless --norestore -env:UserInstallation=file://" + (dir_ / "profile").string() +
                 " --infilter=CSV:44,34,76,1 --convert-to pdf:calc_pdf_Export --outdir " + Quote(dir_) + " sheet.csv")
          .status,
      0);
  const std::vector<PageRecords> sheet = CheckDocument(dir_ / "sheet.pdf");
  ASSERT_EQ(sheet.size(), 1u);
  std::u16string cells;
  for (const auto& t : testing::TextRecords(sheet[0].emf)) cells += t;
  EXPECT_NE(cells.find(u"印刷用紙"), std::u16string::npos);
  EXPECT_NE(cells.find(u"Staples"), std::u16string::npos);

  // cups-filters' text-to-PDF: its embedded fonts name no face and carry no Unicode map, yet
  // their programs name installed faces and hold their own Unicode tables, so they stay text.
  std::string text;
  for (int i = 0; i < 120; ++i) text += "Line " + std::to_string(i) + " of plain text 日本語の行\n";
  WriteFile(dir_ / "plain.txt", text);
  ASSERT_EQ(RunCommand("CHARSET=utf-8 /usr/lib/cups/filter/texttopdf 1 user plain 1 '' " + Quote(dir_ / "plain.txt") +
                       " > " + Quote(dir_ / "plain.pdf"))
                .status,
            0);
  const std::vector<PageRecords> plain = CheckDocument(dir_ / "plain.pdf");
  ASSERT_GE(plain.size(), 2u);
  EXPECT_GT(plain[0].stats.text_runs, 0u);

  // cairo vector art, a scanned page and transparency.
  CairoPdf(dir_ / "art.pdf", 2, [](cairo_t* cr, int page) {
    for (int i = 0; i < 40; ++i) {
      cairo_set_source_rgb(cr, (i % 5) / 5.0, (i % 7) / 7.0, page * 0.5);
      cairo_arc(cr, 100 + (i % 8) * 55, 100 + (i / 8) * 120, 20 + i % 15, 0, 2 * M_PI);
      cairo_set_line_width(cr, 1 + i % 6);
      if (i % 2) cairo_fill(cr);
      else cairo_stroke(cr);
    }
  });
  CheckDocument(dir_ / "art.pdf");

  CairoPdf(dir_ / "scan.pdf", 1, [](cairo_t* cr, int) {
    cairo_surface_t* img = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 620, 877);
    unsigned char* d = cairo_image_surface_get_data(img);
    for (int y = 0; y < 877; ++y)
      for (int x = 0; x < 620; ++x) {
        const bool ink = (y / 12) % 2 == 0 && (x / 7) % 3 != 0 && x > 40 && x < 580;
        const std::uint32_t v = ink ? 40 : 235 - (x + y) % 16;
        *(reinterpret_cast<std::uint32_t*>(d + y * cairo_image_surface_get_stride(img)) + x) = v * 0x010101u;
      }
    cairo_surface_mark_dirty(img);
    cairo_scale(cr, kA4W / 620, kA4H / 877);
    cairo_set_source_surface(cr, img, 0, 0);
    cairo_paint(cr);
    cairo_surface_destroy(img);
  });
  const std::vector<PageRecords> scan = CheckDocument(dir_ / "scan.pdf");
  ASSERT_EQ(scan.size(), 1u);
  EXPECT_EQ(scan[0].stats.images, 1u);

  CairoPdf(dir_ / "alpha.pdf", 1, [](cairo_t* cr, int) {
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_rectangle(cr, 100, 100, 400, 100);
    cairo_fill(cr);
    cairo_push_group(cr);
    cairo_set_source_rgb(cr, 1, 0, 0);
    cairo_rectangle(cr, 150, 50, 100, 300);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0, 0, 1);
    cairo_rectangle(cr, 200, 150, 200, 100);
    cairo_fill(cr);
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, 0.5);
    cairo_set_source_rgb(cr, 0, 0.4, 0);
    cairo_rectangle(cr, 100, 500, 300, 200);
    cairo_fill(cr);
  });
  const std::vector<PageRecords> alpha = CheckDocument(dir_ / "alpha.pdf");
  ASSERT_EQ(alpha.size(), 1u);
  EXPECT_GE(alpha[0].stats.area_pictures, 1u);
}

}  // namespace
}  // namespace zv::capture::pdfrecords
