// PDF pages drawn as records: small PDFs made here (cairo, or written by hand), converted,
// played by our player at 200 dpi and compared with poppler's own rendering of the source.
#include "capture/pdfrecords/pdfrecords.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <set>

#include "capture/pdfrecords/tests/page_compare.h"
#include "pdfwriter/tests/pdf_test_util.h"
#include "platform/testing/temp_root.h"

namespace zv::capture::pdfrecords {
namespace {

namespace fs = std::filesystem;
using pdf::testing::Quote;
using pdf::testing::RunCommand;
using pdf::testing::WriteFile;
using testing::DifferingShare;
using testing::Image;

constexpr double kA4W = 595.276, kA4H = 841.89;

VirtualPaper A4() { return FindPaper("A4").value(); }

void MakeCairoPdf(const fs::path& path, const std::function<void(cairo_t*)>& draw, double w = kA4W, double h = kA4H) {
  cairo_surface_t* s = cairo_pdf_surface_create(path.c_str(), w, h);
  cairo_t* cr = cairo_create(s);
  draw(cr);
  cairo_show_page(cr);
  cairo_destroy(cr);
  cairo_surface_finish(s);
  cairo_surface_destroy(s);
}

void Text(cairo_t* cr, const char* face, double size, double x, double y, const char* utf8) {
  cairo_select_font_face(cr, face, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  cairo_move_to(cr, x, y);
  cairo_show_text(cr, utf8);
}

struct Converted {
  std::vector<PageRecords> pages;
  std::vector<Status> failures;
};

Converted Convert(const fs::path& pdf, const Limits& limits = {}) {
  Converted out;
  Status s = DrawPdf(
      pdf.string(), A4(), 200,
      [&](int, Result<PageRecords> page) {
        if (page.ok()) {
          out.pages.push_back(std::move(*page));
        } else {
          out.failures.push_back(page.status());
        }
        return Status::Ok();
      },
      limits);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return out;
}

// The share of differing pixels between the played records of each page and pdftoppm's
// rendering of the same page at 200 dpi.
std::vector<double> CompareWithPoppler(const fs::path& pdf, const Converted& c, const fs::path& dir) {
  std::vector<double> shares;
  for (const PageRecords& p : c.pages) {
    const fs::path base = dir / ("ref" + std::to_string(p.index));
    const int n = p.index + 1;
    EXPECT_EQ(RunCommand("pdftoppm -cropbox -r 200 -f " + std::to_string(n) + " -l " + std::to_string(n) +
                         " -singlefile " + Quote(pdf) + " " + Quote(base))
                  .status,
              0);
    auto ref = testing::ReadPpm(base.string() + ".ppm");
    if (!ref) {
      ADD_FAILURE() << "no reference rendering";
      continue;
    }
    auto played = testing::PlayPage(p.emf, ref->width, ref->height);
    if (!played) {
      ADD_FAILURE() << "page " << n << " does not play";
      continue;
    }
    shares.push_back(DifferingShare(*played, *ref));
  }
  return shares;
}

std::u16string AllText(const PageRecords& p) {
  std::u16string all;
  for (const auto& t : testing::TextRecords(p.emf)) all += t;
  return all;
}

// A PDF written by hand from its objects (numbered from 1, the catalog first), with a
// correct cross-reference table unless `xref` is false.
std::string HandPdf(const std::vector<std::string>& objects, bool xref = true) {
  std::string out = "%PDF-1.4\n";
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    at.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t start = out.size();
  if (xref) {
    out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t a : at) {
      char line[32];
      std::snprintf(line, sizeof line, "%010zu 00000 n \n", a);
      out += line;
    }
  }
  out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(start) + "\n%%EOF\n";
  return out;
}

std::string Stream(const std::string& dict, const std::string& data) {
  return "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

// The face and charset each ExtTextOutW record of a page is drawn in.
std::vector<std::pair<std::string, int>> TextFonts(const PageRecords& p) {
  std::vector<std::pair<std::string, int>> fonts;
  auto player = gdi::Player::Open(p.emf);
  auto bmp = gdi::MemoryBitmap::Create(8, 8, 24);
  if (!player.ok() || !bmp.ok()) return fonts;
  (void)player->Play((*bmp)->dc(), nullptr, [&](gdi::Player& pl, const emf::Record& r) -> Status {
    Status s = pl.PlayRecord(r);
    if (r.type == 84) {
      const gdi::Font f = pl.dc().GetCurrentFont();
      fonts.emplace_back(gdi::FaceName(f.lf), f.lf.lfCharSet);
    }
    return s;
  });
  return fonts;
}

class PdfRecordsTest : public ::testing::Test {
 protected:
  zv::testing::TempRoot root_;
  fs::path dir_ = root_.path();
};

struct DrawCase {
  const char* name;
  std::function<void(cairo_t*)> draw;
  std::u16string words;  // text the page's ExtTextOutW records must carry
};

TEST_F(PdfRecordsTest, PagesDrawnAsRecordsLookLikePopplersRendering) {
  const std::vector<DrawCase> cases = {
      {"latin text",
       [](cairo_t* cr) {
         Text(cr, "DejaVu Sans", 14, 72, 100, "Quarterly report: sales rose 12%");
         Text(cr, "Liberation Serif", 11, 72, 130, "The quick brown fox jumps over the lazy dog.");
         Text(cr, "Liberation Mono", 10, 72, 160, "mono 0123456789");
       },
       u"Quarterly"},
      {"japanese text",
       [](cairo_t* cr) {
         Text(cr, "IPAGothic", 16, 72, 120, "日本語の文書を印刷します");
         Text(cr, "IPAMincho", 12, 72, 160, "明朝体のテキスト、カタカナ");
       },
       u"日本語の文書を印刷します"},
      {"rotated and scaled text",
       [](cairo_t* cr) {
         cairo_save(cr);
         cairo_translate(cr, 300, 400);
         cairo_rotate(cr, -M_PI / 6);
         Text(cr, "DejaVu Sans", 24, 0, 0, "Rotated words");
         cairo_restore(cr);
         cairo_save(cr);
         cairo_scale(cr, 1.6, 1);
         Text(cr, "DejaVu Sans", 18, 40, 600, "Wide text");
         cairo_restore(cr);
       },
       u"Rotated"},
      {"fills with both rules",
       [](cairo_t* cr) {
         // A five-pointed star: its centre (some 3% of the page) is empty under even-odd and
         // filled under winding.
         for (int k = 0; k < 2; ++k) {
           const double cx = 300, cy = 220 + 400 * k, r = 200;
           for (int i = 0; i < 5; ++i) {
             const double a = -M_PI / 2 + i * 4 * M_PI / 5;
             if (i == 0) cairo_move_to(cr, cx + r * std::cos(a), cy + r * std::sin(a));
             else cairo_line_to(cr, cx + r * std::cos(a), cy + r * std::sin(a));
           }
           cairo_close_path(cr);
           cairo_set_fill_rule(cr, k == 0 ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
           cairo_set_source_rgb(cr, 0.1, 0.3, 0.8);
           cairo_fill(cr);
         }
       },
       u""},
      {"strokes with caps, joins and dashes",
       [](cairo_t* cr) {
         cairo_set_source_rgb(cr, 0, 0, 0);
         cairo_set_line_width(cr, 12);
         cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
         cairo_move_to(cr, 80, 400);
         cairo_line_to(cr, 500, 400);
         cairo_stroke(cr);
         cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
         cairo_set_line_join(cr, CAIRO_LINE_JOIN_BEVEL);
         const double dash[] = {20, 10};
         cairo_set_dash(cr, dash, 2, 0);
         cairo_set_line_width(cr, 4);
         cairo_rectangle(cr, 80, 450, 420, 150);
         cairo_stroke(cr);
         cairo_set_dash(cr, nullptr, 0, 0);
         cairo_set_source_rgb(cr, 0.8, 0.1, 0.1);
         cairo_arc(cr, 300, 700, 60, 0, 2 * M_PI);
         cairo_set_line_width(cr, 8);
         cairo_stroke(cr);
       },
       u""},
      {"nested clips",
       [](cairo_t* cr) {
         cairo_save(cr);
         cairo_rectangle(cr, 100, 100, 300, 300);
         cairo_clip(cr);
         cairo_save(cr);
         cairo_arc(cr, 250, 250, 120, 0, 2 * M_PI);
         cairo_clip(cr);
         cairo_set_source_rgb(cr, 0, 0.5, 0);
         cairo_paint(cr);
         cairo_restore(cr);
         cairo_set_source_rgb(cr, 0, 0, 0);
         cairo_rectangle(cr, 50, 380, 500, 60);  // only its part inside the first clip shows
         cairo_fill(cr);
         cairo_restore(cr);
         cairo_rectangle(cr, 100, 600, 100, 100);  // no clip any more
         cairo_fill(cr);
       },
       u""},
      {"images, masked images and a gradient",
       [](cairo_t* cr) {
         cairo_surface_t* img = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 64, 48);
         unsigned char* d = cairo_image_surface_get_data(img);
         for (int y = 0; y < 48; ++y)
           for (int x = 0; x < 64; ++x) {
             auto* p = reinterpret_cast<std::uint32_t*>(d + y * cairo_image_surface_get_stride(img)) + x;
             *p = (std::uint32_t(x * 4) << 16) | (std::uint32_t(y * 5) << 8) | ((x / 8 + y / 8) % 2 ? 0xFF : 0);
           }
         cairo_surface_mark_dirty(img);
         cairo_save(cr);
         cairo_translate(cr, 72, 72);
         cairo_scale(cr, 4, 4);
         cairo_set_source_surface(cr, img, 0, 0);
         cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
         cairo_paint(cr);
         cairo_restore(cr);
         cairo_surface_destroy(img);
         // An image with a soft mask over a black bar.
         cairo_rectangle(cr, 72, 330, 400, 30);
         cairo_fill(cr);
         cairo_surface_t* a = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 50, 50);
         unsigned char* ad = cairo_image_surface_get_data(a);
         for (int y = 0; y < 50; ++y)
           for (int x = 0; x < 50; ++x) {
             const bool in = (x - 25) * (x - 25) + (y - 25) * (y - 25) < 400;
             *(reinterpret_cast<std::uint32_t*>(ad + y * cairo_image_surface_get_stride(a)) + x) = in ? 0xFFFF8000u : 0;
           }
         cairo_surface_mark_dirty(a);
         cairo_save(cr);
         cairo_translate(cr, 72, 300);
         cairo_scale(cr, 2, 2);
         cairo_set_source_surface(cr, a, 0, 0);
         cairo_paint(cr);
         cairo_restore(cr);
         cairo_surface_destroy(a);
         cairo_pattern_t* g = cairo_pattern_create_linear(72, 0, 520, 0);
         cairo_pattern_add_color_stop_rgb(g, 0, 1, 0, 0);
         cairo_pattern_add_color_stop_rgb(g, 1, 0, 0, 1);
         cairo_set_source(cr, g);
         cairo_rectangle(cr, 72, 500, 448, 100);
         cairo_fill(cr);
         cairo_pattern_destroy(g);
       },
       u""},
      {"constant alpha",
       [](cairo_t* cr) {
         cairo_set_source_rgb(cr, 0, 0, 0);
         cairo_rectangle(cr, 100, 100, 300, 80);
         cairo_fill(cr);
         cairo_set_source_rgba(cr, 0, 0, 1, 0.5);
         cairo_rectangle(cr, 150, 60, 100, 300);
         cairo_fill(cr);
         cairo_set_source_rgb(cr, 0, 0, 0);
         Text(cr, "DejaVu Sans", 14, 100, 500, "Opaque words");
       },
       u"Opaque"},
  };
  for (const DrawCase& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path pdf = dir_ / "case.pdf";
    MakeCairoPdf(pdf, c.draw);
    Converted conv = Convert(pdf);
    ASSERT_EQ(conv.pages.size(), 1u);
    EXPECT_TRUE(conv.failures.empty());
    for (double share : CompareWithPoppler(pdf, conv, dir_)) EXPECT_LE(share, 0.01);
    if (!c.words.empty()) {
      EXPECT_NE(AllText(conv.pages[0]).find(c.words), std::u16string::npos);
    }
  }
}

TEST_F(PdfRecordsTest, TextRunsCarryTheDocumentsFaceAndCharset) {
  const fs::path pdf = dir_ / "t.pdf";
  MakeCairoPdf(pdf, [](cairo_t* cr) {
    Text(cr, "Liberation Serif", 12, 72, 100, "Serif words");
    Text(cr, "IPAGothic", 12, 72, 140, "日本語");
  });
  Converted conv = Convert(pdf);
  ASSERT_EQ(conv.pages.size(), 1u);
  const auto fonts = TextFonts(conv.pages[0]);
  using FontSet = std::set<std::pair<std::string, int>>;
  EXPECT_THAT(FontSet(fonts.begin(), fonts.end()),
              ::testing::ElementsAre(::testing::Pair("IPAGothic", 128), ::testing::Pair("LiberationSerif", 0)));
  EXPECT_GE(conv.pages[0].stats.text_runs, 2u);
}

// Pages written by hand: the CropBox and /Rotate, invisible text, a Type 3 font, and
// annotations that print or do not.
TEST_F(PdfRecordsTest, HandWrittenPagesFollowCropRotationAndPrinting) {
  const std::string square_glyph = Stream("", "1000 0 0 0 1000 1000 d1 0 0 1000 1000 re f");
  struct Case {
    const char* name;
    std::vector<std::string> objects;
    std::u16string words;   // must be in the text records
    std::u16string hidden;  // must not be in them
    std::string face = "";  // the face of every text record, when given
  } cases[] = {
      {"vertical Japanese text",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.276 841.89] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        Stream("", "BT /F1 40 Tf 300 700 Td <034B034D034F0351> Tj ET"),  // あいうえ, top to bottom
        "<< /Type /Font /Subtype /Type0 /BaseFont /IPAMincho /Encoding /Identity-V /DescendantFonts [6 0 R] >>",
        "<< /Type /Font /Subtype /CIDFontType0 /BaseFont /IPAMincho /CIDSystemInfo << /Registry (Adobe) "
        "/Ordering (Japan1) /Supplement 6 >> /FontDescriptor 7 0 R >>",
        "<< /Type /FontDescriptor /FontName /IPAMincho /Flags 6 /FontBBox [0 -141 1000 859] /ItalicAngle 0 "
        "/Ascent 859 /Descent -141 /CapHeight 700 /StemV 80 >>"},
       u"う",
       u"",
       "@IPAMincho"},
      {"crop box and rotation",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 1000 1000] /CropBox [100 50 942 645.276] /Rotate 90 "
        "/Contents 4 0 R >>",
        Stream("", "0 0 1 rg 100 50 200 100 re f 1 0 0 rg 700 400 242 245 re f 0 g 400 300 50 50 re f")},
       u"",
       u""},
      {"landscape page",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 841.89 595.276] /Contents 4 0 R >>",
        Stream("", "0 0 1 rg 0 0 300 100 re f 1 0 0 rg 600 400 241.89 195.276 re f")},
       u"",
       u""},
      {"invisible text over a picture of text",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.276 841.89] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        Stream("", "BT /F1 24 Tf 3 Tr 72 700 Td (Hidden) Tj ET BT /F1 24 Tf 0 Tr 72 600 Td (Shown) Tj ET"),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"},
       u"Shown",
       u"Hidden"},
      {"text inside and after a saved state",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.276 841.89] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        Stream("", "q 1 0 0 rg BT /F1 40 Tf 72 700 Td (Inside) Tj ET Q BT /F1 40 Tf 72 600 Td (Outside) Tj ET"),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>"},
       u"Outside",
       u""},
      {"type 3 glyphs",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.276 841.89] /Contents 4 0 R "
        "/Resources << /Font << /T3 5 0 R >> >> >>",
        Stream("", "BT /T3 40 Tf 100 500 Td (aaa) Tj ET"),
        "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1000 1000] /FontMatrix [0.001 0 0 0.001 0 0] "
        "/CharProcs << /sq 6 0 R >> /Encoding << /Type /Encoding /Differences [97 /sq] >> /FirstChar 97 "
        "/LastChar 97 /Widths [1200] >>",
        square_glyph},
       u"",
       u""},
      // Each line its own text object in a saved state, as office suites print them: the
      // font and colour the first line selects end with its state, the next line selects
      // them again.
      {"text objects in saved states",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.276 841.89] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        Stream("", "q 1 0 0 rg BT 40 700 Td /F1 90 Tf [(MMM) -20 (MMM)] TJ ET Q "
                   "q 1 0 0 rg BT 40 550 Td /F1 90 Tf [(MMM) -20 (MMM)] TJ ET Q "
                   "q 0 0 1 rg BT 40 400 Td /F1 90 Tf [(MMM) -20 (MMM)] TJ ET Q"),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"},
       u"MMM", u""},
      // Text on a page turned by /Rotate, upright and slanted as office suites make italics.
      {"turned and slanted text",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.276 841.89] /Rotate 90 /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        Stream("", "BT /F1 36 Tf 72 700 Td (Turned words) Tj ET BT /F1 36 Tf 1 0 0.2 1 72 600 Tm (Slanted words) Tj ET"),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"},
       u"Slanted", u""},
      // A ligature glyph (its Unicode U+FB01) stands in the text as its two letters.
      {"ligature glyphs",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.276 841.89] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        Stream("", "BT /F1 40 Tf 72 700 Td (xay) Tj ET"),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /ToUnicode 6 0 R >>",
        Stream("", "/CIDInit /ProcSet findresource begin 12 dict begin begincmap /CMapName /L def "
                   "1 begincodespacerange <00> <FF> endcodespacerange 3 beginbfchar <61> <FB01> <78> <0078> "
                   "<79> <0079> endbfchar endcmap CMapName currentdict /CMap defineresource pop end end")},
       u"xfiy", u"\uFB01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path pdf = dir_ / "hand.pdf";
    WriteFile(pdf, HandPdf(c.objects));
    Converted conv = Convert(pdf);
    ASSERT_EQ(conv.pages.size(), 1u);
    for (double share : CompareWithPoppler(pdf, conv, dir_)) EXPECT_LE(share, 0.01);
    const std::u16string text = AllText(conv.pages[0]);
    if (!c.words.empty()) {
      EXPECT_NE(text.find(c.words), std::u16string::npos);
    }
    if (!c.hidden.empty()) {
      EXPECT_EQ(text.find(c.hidden), std::u16string::npos);
    }
    if (!c.face.empty()) {
      for (const auto& f : TextFonts(conv.pages[0])) EXPECT_EQ(f.first, c.face);
    }
  }

  // Annotations as for printing: the one with the print flag is drawn, the other is not.
  const std::string ap = Stream("/Type /XObject /Subtype /Form /BBox [0 0 100 100]", "0 g 0 0 100 100 re f");
  WriteFile(
      dir_ / "annots.pdf",
      HandPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.276 841.89] /Contents 4 0 R "
               "/Annots [5 0 R 6 0 R] >>",
               Stream("", ""), "<< /Type /Annot /Subtype /Square /Rect [100 600 200 700] /F 4 /AP << /N 7 0 R >> >>",
               "<< /Type /Annot /Subtype /Square /Rect [300 600 400 700] /F 0 /AP << /N 7 0 R >> >>", ap}));
  Converted conv = Convert(dir_ / "annots.pdf");
  ASSERT_EQ(conv.pages.size(), 1u);
  auto played = testing::PlayPage(conv.pages[0].emf, 1654, 2339);
  ASSERT_TRUE(played);
  auto at = [&](double xpt, double ypt) {
    const int x = static_cast<int>(xpt * 200 / 72), y = static_cast<int>((841.89 - ypt) * 200 / 72);
    return played->px[static_cast<std::size_t>(y) * played->width + x];
  };
  EXPECT_EQ(at(150, 650), 0u);         // printed
  EXPECT_EQ(at(350, 650), 0xFFFFFFu);  // shown on screen only
}

// A character that no installed face has and whose font brings no program of its own is
// counted as lost and named once with its code point; the characters the faces have are not.
TEST_F(PdfRecordsTest, CharactersNoFaceDrawsAreCounted) {
  const std::string cmap =
      "/CIDInit /ProcSet findresource begin 12 dict begin begincmap /CMapName /Z def "
      "1 begincodespacerange <00> <FF> endcodespacerange "
      "2 beginbfchar <61> <D834DD1E> <62> <0042> endbfchar endcmap CMapName currentdict /CMap defineresource pop end "
      "end";
  WriteFile(dir_ / "lost.pdf",
            HandPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                     "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.276 841.89] /Contents 4 0 R "
                     "/Resources << /Font << /F1 5 0 R >> >> >>",
                     Stream("", "BT /F1 30 Tf 72 700 Td (abba) Tj ET"),
                     "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /ToUnicode 6 0 R >>", Stream("", cmap)}));
  Converted conv = Convert(dir_ / "lost.pdf");
  ASSERT_EQ(conv.pages.size(), 1u);
  EXPECT_EQ(conv.pages[0].stats.lost_chars, 2u);
  EXPECT_EQ(conv.pages[0].stats.lost_text, "\U0001D11E U+1D11E");
  EXPECT_NE(AllText(conv.pages[0]).find(u"B"), std::u16string::npos);
}

// Damaged documents end with a clear error or with pages drawn as far as they go, never a
// crash or a hang; pages that cannot be drawn are reported one by one.
TEST_F(PdfRecordsTest, MalformedDocumentsEndWithAClearError) {
  const std::string good_page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R >>";
  const std::string box = Stream("", "0 g 100 100 200 200 re f");
  const std::string whole =
      HandPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>", good_page, box});
  struct Case {
    const char* name;
    std::string bytes;
    bool document_error;  // DrawPdf itself fails
  } cases[] = {
      {"empty file", "", true},
      {"not a PDF", "hello, printer", true},
      {"truncated in the header", whole.substr(0, 20), true},
      {"page tree loop",
       HandPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [2 0 R 3 0 R] /Count 2 >>",
                "<< /Type /Pages /Parent 2 0 R /Kids [2 0 R] /Count 1 >>"}),
       true},
      {"huge page",
       HandPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 1e30 1e30] /Contents 4 0 R >>", box}),
       false},
      {"broken font program",
       HandPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R "
                "/Resources << /Font << /F1 5 0 R >> >> >>",
                Stream("", "BT /F1 12 Tf 72 700 Td <0102> Tj ET"),
                "<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+Broken /FirstChar 1 /LastChar 2 "
                "/Widths [500 500] /FontDescriptor 6 0 R >>",
                "<< /Type /FontDescriptor /FontName /ABCDEF+Broken /Flags 4 /FontBBox [0 0 1000 1000] "
                "/ItalicAngle 0 /Ascent 800 /Descent -200 /CapHeight 700 /StemV 80 /FontFile2 7 0 R >>",
                Stream("", std::string(300, '\x7f'))}),
       false},
      {"broken image",
       HandPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R "
                "/Resources << /XObject << /I1 5 0 R >> >> >>",
                Stream("", "q 300 0 0 300 100 100 cm /I1 Do Q"),
                Stream("/Type /XObject /Subtype /Image /Width 100000 /Height 100000 /ColorSpace /DeviceRGB "
                       "/BitsPerComponent 8 /Filter /FlateDecode",
                       "garbage")}),
       false},
      {"truncated content",
       HandPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>", good_page,
                "<< /Length 500 >>\nstream\n0 g 100 100 200 200 re"}),
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path pdf = dir_ / "bad.pdf";
    WriteFile(pdf, c.bytes);
    int outcomes = 0;
    Status s = DrawPdf(pdf.string(), A4(), 200, [&](int, Result<PageRecords> page) {
      ++outcomes;
      if (!page.ok()) {
        EXPECT_FALSE(page.status().ToString().empty());
      }
      return Status::Ok();
    });
    if (c.document_error) {
      EXPECT_FALSE(s.ok());
      EXPECT_FALSE(s.ToString().empty());
    } else {
      EXPECT_TRUE(s.ok()) << s.ToString();
      EXPECT_EQ(outcomes, 1);
    }
  }
}

// Mutated documents (bytes changed, cut or repeated at seeded places) end with an error or
// with records, never a crash, a hang or a fault of our own code (the test runs under the
// sanitizers too).
TEST_F(PdfRecordsTest, MutatedDocumentsNeverFault) {
  const fs::path seed = dir_ / "seed.pdf";
  MakeCairoPdf(seed, [](cairo_t* cr) {
    Text(cr, "DejaVu Sans", 12, 72, 100, "Seed words");
    Text(cr, "IPAGothic", 12, 72, 130, "日本");
    cairo_set_source_rgba(cr, 0, 0, 1, 0.5);
    cairo_rectangle(cr, 100, 200, 100, 100);
    cairo_fill(cr);
    cairo_surface_t* img = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 8, 8);
    cairo_set_source_surface(cr, img, 300, 300);
    cairo_paint(cr);
    cairo_surface_destroy(img);
  });
  const std::string original = pdf::testing::ReadFile(seed);
  std::uint32_t state = 12345;
  auto next = [&] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  const fs::path pdf = dir_ / "mutated.pdf";
  const VirtualPaper paper = A4();
  for (int round = 0; round < 2000; ++round) {
    std::string bytes = original;
    const int edits = 1 + static_cast<int>(next() % 4);
    for (int e = 0; e < edits && !bytes.empty(); ++e) {
      const std::size_t at = next() % bytes.size();
      switch (next() % 4) {
        case 0:
          bytes[at] = static_cast<char>(next());
          break;
        case 1:
          bytes.erase(at, 1 + next() % 64);
          break;
        case 2:
          bytes.insert(at, bytes.substr(at, std::min<std::size_t>(bytes.size() - at, 1 + next() % 64)));
          break;
        default:
          bytes[at] = "0123456789 /<>[]()"[next() % 18];
          break;
      }
    }
    WriteFile(pdf, bytes);
    (void)DrawPdf(pdf.string(), paper, 30, [](int, Result<PageRecords>) { return Status::Ok(); });
  }
}

// A page over the byte limit is reported as such (the feeder then draws it as a picture).
TEST_F(PdfRecordsTest, PageOverTheLimitIsReported) {
  const fs::path pdf = dir_ / "big.pdf";
  MakeCairoPdf(pdf, [](cairo_t* cr) {
    for (int i = 0; i < 200; ++i) Text(cr, "DejaVu Sans", 8, 20, 20 + 4 * i, "many words on many lines");
  });
  Limits small;
  small.max_bytes = 4096;
  Converted conv = Convert(pdf, small);
  EXPECT_TRUE(conv.pages.empty());
  ASSERT_EQ(conv.failures.size(), 1u);
  EXPECT_EQ(conv.failures[0].code(), Status::Code::kBusy);
}

// Translucent groups (an SVG's opacity, as cairo writes it: each group declares the whole
// page as its box) cost the area they draw, not the page each: eight small translucent
// circles are eight small pictures, well within the limit, and the page stays records with
// its text.
TEST_F(PdfRecordsTest, TranslucentGroupsCostTheAreaTheyDraw) {
  const fs::path pdf = dir_ / "groups.pdf";
  MakeCairoPdf(pdf, [](cairo_t* cr) {
    for (int i = 0; i < 8; ++i) {
      cairo_push_group(cr);
      cairo_set_source_rgb(cr, 0.2, 0.3 + 0.05 * i, 0.6);
      cairo_arc(cr, 100 + 55 * i, 200 + 60 * i, 60, 0, 2 * M_PI);
      cairo_fill(cr);
      cairo_pop_group_to_source(cr);
      cairo_paint_with_alpha(cr, 0.6);
      cairo_set_source_rgb(cr, 0, 0, 0);
      Text(cr, "DejaVu Sans", 14, 60, 300 + 50 * i, "a line of text over the circles");
    }
    // A group that draws nothing is no picture at all.
    cairo_push_group(cr);
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, 0.5);
  });
  Converted conv = Convert(pdf);
  ASSERT_TRUE(conv.failures.empty()) << conv.failures[0].ToString();
  ASSERT_EQ(conv.pages.size(), 1u);
  const PageRecords& page = conv.pages[0];
  EXPECT_EQ(page.stats.area_pictures, 8u);
  // A circle of 120 points is 334 pixels across at 200 dpi: 8 such pictures are 2.7 MB;
  // eight of the whole page would be 93 MB.
  EXPECT_LT(page.emf.size(), std::size_t(4) << 20);
  EXPECT_GE(page.stats.text_runs, 8u);
  const auto shares = CompareWithPoppler(pdf, conv, dir_);
  ASSERT_EQ(shares.size(), 1u);
  EXPECT_LT(shares[0], 0.02);
}

// Hairlines (a chart's frame and grid): a stroke of width 0, or of at most one device pixel,
// is drawn one device pixel wide; a wider one keeps its width.
TEST_F(PdfRecordsTest, HairlinesAreOneDevicePixel) {
  struct Case {
    double width;  // points; 0.36 is one pixel at 200 dpi
    int min_px, max_px;
  };
  const Case cases[] = {{0, 1, 1}, {0.05, 1, 1}, {0.36, 1, 2}, {1.8, 4, 6}};
  // Written by hand: cairo draws nothing for a width of 0, where PDF draws its thinnest line.
  std::string content = "0 G 1 0 0 -1 0 841.89 cm\n";
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    char line[96];
    std::snprintf(line, sizeof line, "%.2f w 72 %.1f m 500 %.1f l S\n", cases[i].width, 100.3 + 60 * i,
                  100.3 + 60 * i);
    content += line;
  }
  const fs::path pdf = dir_ / "hairlines.pdf";
  WriteFile(pdf, HandPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                          "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.276 841.89] /Contents 4 0 R >>",
                          Stream("", content)}));
  Converted conv = Convert(pdf);
  ASSERT_EQ(conv.pages.size(), 1u);
  auto played = testing::PlayPage(conv.pages[0].emf, 1654, 2339);
  ASSERT_TRUE(played);
  const double px_per_pt = 1654 / kA4W;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE("width " + std::to_string(cases[i].width));
    // The dark rows about the line, at the middle of its length.
    const int x = int(286 * px_per_pt), y0 = int((100.3 + 60 * i) * px_per_pt);
    int dark = 0;
    for (int y = y0 - 10; y <= y0 + 10; ++y) dark += testing::Luma(played->px[std::size_t(y) * 1654 + x]) < 160;
    EXPECT_GE(dark, cases[i].min_px);
    EXPECT_LE(dark, cases[i].max_px);
  }
}

// An embedded font that an installed face draws is drawn as text in that face, whether its
// name says so or only its program does (text filters give subsets made-up names and codes
// that are glyph numbers, with no ToUnicode map).
TEST_F(PdfRecordsTest, EmbeddedFontsOfAnInstalledFaceAreDrawnAsText) {
  const std::string file = RunCommand("fc-match -f '%{file}' 'DejaVu Sans Mono'").out;
  auto program = pdf::testing::ReadFile(file);
  if (file.find("DejaVuSansMono") == std::string::npos || program.empty())
    GTEST_SKIP() << "needs the DejaVu Sans Mono font";
  FT_Library lib = nullptr;
  FT_Face face = nullptr;
  ASSERT_EQ(FT_Init_FreeType(&lib), 0);
  ASSERT_EQ(FT_New_Face(lib, file.c_str(), 0, &face), 0);
  const std::string words = "NOTES 1 WWW";
  std::string glyph_codes;
  for (char c : words) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", FT_Get_Char_Index(face, static_cast<unsigned char>(c)));
    glyph_codes += hex;
  }
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
  std::string widths;
  for (int c = 32; c <= 126; ++c) widths += " 602";

  const std::string page =
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.276 841.89] /Contents 4 0 R "
      "/Resources << /Font << /F1 5 0 R >> >> >>";
  const std::string descriptor =
      "<< /Type /FontDescriptor /FontName /MXUFZ /Flags 5 /FontBBox [-558 -374 717 1028] /ItalicAngle 0 "
      "/Ascent 759 /Descent -240 /CapHeight 729 /StemV 87 /FontFile2 7 0 R >>";
  const std::string embedded = Stream("/Length1 " + std::to_string(program.size()), program);
  struct Case {
    const char* name;
    std::string content, font, descendant;
  } cases[] = {
      {"made-up name, glyph numbers as codes", "BT /F1 40 Tf 72 700 Td <" + glyph_codes + "> Tj ET",
       "<< /Type /Font /Subtype /Type0 /BaseFont /MXUFZ /Encoding /Identity-H /DescendantFonts [8 0 R] >>",
       "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /MXUFZ /CIDSystemInfo << /Registry (Adobe) "
       "/Ordering (Identity) /Supplement 0 >> /DW 602 /FontDescriptor 6 0 R >>"},
      {"subset of the face's own name", "BT /F1 40 Tf 72 700 Td (" + words + ") Tj ET",
       "<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+DejaVuSansMono /Encoding /WinAnsiEncoding "
       "/FirstChar 32 /LastChar 126 /Widths [" + widths + "] /FontDescriptor 6 0 R >>",
       "<< >>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path pdf = dir_ / "embedded.pdf";
    WriteFile(pdf, HandPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>", page,
                            Stream("", c.content), c.font, descriptor, embedded, c.descendant}));
    Converted conv = Convert(pdf);
    ASSERT_EQ(conv.pages.size(), 1u);
    EXPECT_EQ(conv.pages[0].stats.outline_glyphs, 0u);
    EXPECT_NE(AllText(conv.pages[0]).find(std::u16string(words.begin(), words.end())), std::u16string::npos);
    for (double share : CompareWithPoppler(pdf, conv, dir_)) EXPECT_LE(share, 0.01);
  }
}

TEST(FaceFromFontName, DropsSubsetPrefixAndStyle) {
  struct Case {
    const char* name;
    const char* face;
    bool bold, italic;
  } cases[] = {
      {"ABCDEF+DejaVuSans-Bold", "DejaVuSans", true, false},
      {"LiberationSerif-Italic", "LiberationSerif", false, true},
      {"Arial,BoldItalic", "Arial", true, true},
      {"TimesNewRomanPSMT", "TimesNewRoman", false, false},
      {"ArialMT", "Arial", false, false},
      {"ABCDE+Odd", "ABCDE+Odd", false, false},  // five letters: no subset prefix
      {"IPAGothic", "IPAGothic", false, false},
  };
  for (const Case& c : cases) {
    const FaceOfName f = FaceFromFontName(c.name);
    EXPECT_EQ(f.face, c.face) << c.name;
    EXPECT_EQ(f.bold, c.bold) << c.name;
    EXPECT_EQ(f.italic, c.italic) << c.name;
  }
}

}  // namespace
}  // namespace zv::capture::pdfrecords
