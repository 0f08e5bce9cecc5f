// Documents written through the public class: exact bytes of small documents, validity
// (qpdf, poppler), rendering, text extraction, and the writer's handling of bad calls.
#include "pdfwriter/quorvel.h"

#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>

#include <cmath>
#include <thread>

#include "pdfwriter/tests/pdf_test_util.h"
#include "platform/testing/temp_root.h"

namespace zv::pdf::testing {
namespace {

namespace fs = std::filesystem;

// The widths and descriptor texts of "Arial" and the three texts of "@FixedSys", as the
// catalogue holds them.
const char kArialWidths[] =
    "/FirstChar 32  \r\n\t/LastChar 255  \r\n\t/Widths [ 278 278 355 556 556 889 667 191 333 333 389 584 278 333 "
    "278 278   \r\n\t556 556 556 556 556 556 556 556 556 556 278 278 584 584 584 556   \r\n\t1015 667 667 722 722 "
    "667 611 778 722 278 500 667 556 833 722 778   \r\n\t667 778 722 667 611 722 667 944 667 667 611 278 278 278 "
    "469 556   \r\n\t333 556 556 500 556 556 278 556 556 222 222 500 222 833 556 556   \r\n\t556 556 333 500 278 "
    "556 500 722 500 500 500 334 260 334 584 750   \r\n\t556 750 222 556 333 1000 556 556 333 1000 667 333 1000 "
    "750 611 750   \r\n\t750 222 222 333 333 350 556 1000 333 1000 500 333 944 750 500 667   \r\n\t278 333 556 "
    "556 556 556 260 556 333 737 370 556 584 333 737 552   \r\n\t400 549 333 333 333 576 537 278 333 333 365 556 "
    "834 834 834 611   \r\n\t667 667 667 667 667 667 1000 722 667 667 667 667 278 278 278 278   \r\n\t722 722 778 "
    "778 778 778 778 584 778 722 722 722 722 667 667 611   \r\n\t556 556 556 556 556 556 889 500 556 556 556 556 "
    "278 278 278 278   \r\n\t556 556 556 556 556 556 556 549 611 556 556 556 556 500 556 500   \r\n\t]  \r\n\t/"
    "Encoding /WinAnsiEncoding";
const char kArialDescriptor[] =
    "/Flags 32  \r\n\t/FontBBox [ -250 -212 1213 1000 ]  \r\n\t/MissingWidth 277  \r\n\t/StemV 80  \r\n\t/StemH 80 "
    " \r\n\t/CapHeight 905  \r\n\t/XHeight 453  \r\n\t/Ascent 905  \r\n\t/Descent -212  \r\n\t/Leading 150  "
    "\r\n\t/MaxWidth 1011  \r\n\t/AvgWidth 441";
const char kFixedSysDescendant[] =
    "/WinCharSet 128  \r\n\t\t/CIDSystemInfo  \r\n\t\t<<  \r\n\t\t/Registry(Adobe)  \r\n\t\t/Ordering(Japan1)  "
    "\r\n\t\t/Supplement 2  \r\n\t\t>>  \r\n\t\t/DW 1000  \r\n\t\t/W [  \r\n\t\t231 389 500  \r\n\t\t631 631 500  "
    "\r\n\t\t]";
const char kFixedSysDescriptor[] =
    "/Flags 7  \r\n\t/FontBBox [ -100 -141 1100 1000 ]  \r\n\t/MissingWidth 500  \r\n\t/StemV 91  \r\n\t/StemH 91 "
    " \r\n\t/CapHeight 859  \r\n\t/XHeight 430  \r\n\t/Ascent 859  \r\n\t/Descent -141  \r\n\t/Leading 0  "
    "\r\n\t/MaxWidth 1000  \r\n\t/AvgWidth 500  \r\n\t/Style  \r\n\t<< /Panose <0000003F0000000000000000> >>";

// "ＭＳ 明朝" and "日本語テキスト" in CP932.
const char kMsMincho[] = "\x82\x6c\x82\x72\x20\x96\xbe\x92\xa9";
const char kJapaneseText[] = "\x93\xfa\x96\x7b\x8c\xea\x83\x65\x83\x4c\x83\x58\x83\x67";

const char kEmptyPage[] =
    "<</Type/Page\r\n/Parent 3 0 R\r\n/Resources 5 0 R\r\n/MediaBox[0 0 595 842]\r\n/Contents[\r\n]\r\n>>\r\n"
    "endobj\r\n";
const char kEmptyResources[] = "<</XObject<<\r\n>>\r\n>>\r\nendobj\r\n";

std::vector<std::string> g_hook;
void Hook(const char* m) { g_hook.emplace_back(m); }

class QuorvelTest : public ::testing::Test {
 protected:
  fs::path Path(const std::string& name) const { return root_.path() / name; }

  // qpdf finds no error and poppler reads the page count.
  static void ExpectValid(const fs::path& pdf, int pages) {
    RunResult check = RunCommand("qpdf --check " + Quote(pdf));
    EXPECT_EQ(check.status, 0) << check.out;
    RunResult info = RunCommand("pdfinfo " + Quote(pdf));
    ASSERT_EQ(info.status, 0);
    EXPECT_NE(info.out.find("Pages:           " + std::to_string(pages) + "\n"), std::string::npos) << info.out;
  }

  // Renders one page at 72 dpi (one pixel per unit) and gives its RGB pixels.
  struct Image {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
    // Pixel at PDF coordinates (x, y), origin lower left.
    const unsigned char* At(int x, int y) const {
      return &rgb[static_cast<size_t>(((height - 1 - y) * width + x) * 3)];
    }
  };
  Image Render(const fs::path& pdf, int page) const {
    Image img;
    const fs::path prefix = root_.path() / ("render" + std::to_string(page));
    RunResult r = RunCommand("pdftoppm -r 72 -png -f " + std::to_string(page) + " -l " + std::to_string(page) +
                             " -singlefile " + Quote(pdf) + " " + Quote(prefix));
    EXPECT_EQ(r.status, 0);
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    const std::string file = prefix.string() + ".png";
    if (!png_image_begin_read_from_file(&png, file.c_str())) return img;
    png.format = PNG_FORMAT_RGB;
    img.rgb.resize(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, img.rgb.data(), 0, nullptr)) return img;
    img.width = static_cast<int>(png.width);
    img.height = static_cast<int>(png.height);
    return img;
  }
  // Counts pixels darker than mid-grey in a rectangle (PDF coordinates).
  static int DarkPixels(const Image& img, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) {
        const unsigned char* p = img.At(x, y);
        if (p[0] + p[1] + p[2] < 3 * 128) ++n;
      }
    }
    return n;
  }

  zv::testing::TempRoot root_;
};

// ---- exact documents ---------------------------------------------------------------------

TEST_F(QuorvelTest, DocumentWithoutPagesGetsOneBlankPage) {
  const fs::path out = Path("empty.pdf");
  CQuorvel q;
  ASSERT_EQ(q.Open(out.c_str()), 0);
  q.Close();
  const std::string expected =
      Assemble({"<</Type/Catalog\r\n/Pages 3 0 R\r\n>>\r\nendobj\r\n", InfoBody("empty"),
                "<</Type/Pages\r\n/Count 1\r\n/Kids[4 0 R ]\r\n>>\r\nendobj\r\n", kEmptyPage, kEmptyResources});
  EXPECT_EQ(MaskDates(ReadFile(out)), expected);
  ExpectValid(out, 1);
}

TEST_F(QuorvelTest, TextPageIsWrittenExactlyAndRendersWherePlaced) {
  const fs::path out = Path("text.pdf");
  CQuorvel q;
  ASSERT_EQ(q.Open(out.c_str()), 0);
  ASSERT_EQ(q.FindFont("Arial", false, false), 4);
  q.BeginPage(595.9f, 842.2f);
  q.SetFont(4, 10.9f);
  q.SetTextPos(72, 700);
  q.SetTextColor(0x0000FF);
  q.ContinueText("A(1)");
  q.StrokeLine(0, 0, 100, 100);
  q.Save();
  q.Restore();
  q.ClipRect(10, 20, 30, 40, 2);
  q.SetFont(4, 72);
  q.SetTextColor(0);
  q.SetTextPos(300, 400);
  q.ContinueText("HH");
  q.EndPage();
  q.Close();

  const std::string data =
      "BT\r\n/F4 10 Tf\r\n72 700 TD\r\n1.0000 0.0000 0.0000  rg\r\n 0 Tc\r\n(A\\(1\\))Tj\r\nET\r\n\r\n"
      "0 0 m\r\n100 100 l\r\nS\r\n\r\n"
      "q\r\n\r\nQ\r\n\r\n"
      "10 20 30 40 re\r\n\r\n"
      "BT\r\n/F4 72 Tf\r\n300 400 TD\r\n0.0000 0.0000 0.0000  rg\r\n 0 Tc\r\n(HH)Tj\r\nET\r\n\r\n";
  const std::string expected = Assemble({
      "<</Type/Catalog\r\n/Pages 3 0 R\r\n>>\r\nendobj\r\n",
      InfoBody("text"),
      "<</Type/Pages\r\n/Count 1\r\n/Kids[6 0 R ]\r\n>>\r\nendobj\r\n",
      std::string("<</Type /Font\r\n/Subtype /TrueType\r\n/BaseFont /Arial\r\n") + kArialWidths +
          "\r\n/FontDescriptor 5 0 R\r\n>>\r\nendobj\r\n",
      std::string("<</Type /FontDescriptor\r\n/FontName /Arial\r\n") + kArialDescriptor +
          "\r\n/ItalicAngle 0\r\n>>\r\nendobj\r\n",
      "<</Type/Page\r\n/Parent 3 0 R\r\n/Resources 7 0 R\r\n/MediaBox[0 0 595 842]\r\n/Contents[\r\n8 0 R\r\n]\r\n"
      ">>\r\nendobj\r\n",
      "<</Font<<\r\n/F4   4 0 R\r\n>>\r\n/XObject<<\r\n>>\r\n>>\r\nendobj\r\n",
      "<</Length 9 0 R\r\n>>\r\nstream\r\n" + data + "\r\nendstream\r\nendobj\r\n",
      std::to_string(data.size()) + "\r\nendobj\r\n",
  });
  EXPECT_EQ(MaskDates(ReadFile(out)), expected);
  ExpectValid(out, 1);

  const Image img = Render(out, 1);
  ASSERT_EQ(img.width, 595);
  EXPECT_GT(DarkPixels(img, 300, 400, 400, 460), 300);  // "HH" at 72 units above (300, 400)
  EXPECT_EQ(DarkPixels(img, 300, 200, 400, 300), 0);
  RunResult text = RunCommand("pdftotext " + Quote(out) + " -");
  EXPECT_NE(text.out.find("HH"), std::string::npos);
}

TEST_F(QuorvelTest, JpegPageIsWrittenExactlyAndRendersWherePlaced) {
  const fs::path jpg = Path("red.jpg");
  JpegParams params;
  params.width = 64;
  params.height = 48;
  const std::string jpeg = MakeJpeg(params);
  WriteFile(jpg, jpeg);
  const fs::path out = Path("image.pdf");
  CQuorvel q;
  ASSERT_EQ(q.Open(out.c_str()), 0);
  ASSERT_EQ(q.OpenImageFile("jpeg", jpg.c_str(), "", 1), 4);
  q.BeginPage(300, 200);
  q.PlaceImage(4, 100, 50, 1);
  q.PlaceImage(4, 100, 50, 3.5f);  // same image again: one resource entry
  q.EndPage();
  q.Close();

  const std::string place = "q\r\n64 0 0 48 100 50 cm\r\n/SampleImage4 Do\r\nQ";
  auto placement = [&](int length) {
    return "<</Length " + std::to_string(length) + " 0 R\r\n>>\r\nstream\r\n" + place + "\r\nendstream\r\nendobj\r\n";
  };
  const std::string expected = Assemble({
      "<</Type/Catalog\r\n/Pages 3 0 R\r\n>>\r\nendobj\r\n",
      InfoBody("image"),
      "<</Type/Pages\r\n/Count 1\r\n/Kids[6 0 R ]\r\n>>\r\nendobj\r\n",
      "<</Type/XObject\r\n/Subtype/Image\r\n/Width 64\r\n/Height 48\r\n/ColorSpace/DeviceRGB\r\n"
      "/BitsPerComponent 8\r\n/Name /SampleImage4\r\n/Length 5 0 R\r\n/Filter[/DCTDecode]\r\n"
      "/DecodeParms[<<>>]\r\n>>\r\nstream\r\n" +
          jpeg + "\r\nendstream\r\nendobj\r\n",
      std::to_string(jpeg.size()) + "\r\nendobj\r\n",
      "<</Type/Page\r\n/Parent 3 0 R\r\n/Resources 7 0 R\r\n/MediaBox[0 0 300 200]\r\n/Contents[\r\n8 0 R\r\n"
      "10 0 R\r\n]\r\n>>\r\nendobj\r\n",
      "<</ProcSet[/PDF/ImageC  /Text ]\r\n/XObject<<\r\n/SampleImage4 4 0 R\r\n>>\r\n>>\r\nendobj\r\n",
      placement(9),
      std::to_string(place.size()) + "\r\nendobj\r\n",
      placement(11),
      std::to_string(place.size()) + "\r\nendobj\r\n",
  });
  EXPECT_EQ(MaskDates(ReadFile(out)), expected);
  ExpectValid(out, 1);

  const Image img = Render(out, 1);
  ASSERT_EQ(img.width, 300);
  const unsigned char* inside = img.At(132, 74);
  EXPECT_GT(inside[0], 200);
  EXPECT_LT(inside[1], 60);
  const unsigned char* outside = img.At(20, 20);
  EXPECT_GT(outside[1], 240);
}

TEST_F(QuorvelTest, JapaneseFontIsWrittenExactly) {
  const fs::path out = Path("fixedsys.pdf");
  CQuorvel q;
  ASSERT_EQ(q.Open(out.c_str()), 0);
  ASSERT_EQ(q.FindFont("@FixedSys", false, false), 4);
  q.Close();
  const std::string expected = Assemble({
      "<</Type/Catalog\r\n/Pages 3 0 R\r\n>>\r\nendobj\r\n",
      InfoBody("fixedsys"),
      "<</Type/Pages\r\n/Count 1\r\n/Kids[7 0 R ]\r\n>>\r\nendobj\r\n",
      "<</Type /Font\r\n/Subtype /Type0\r\n/BaseFont /@FixedSys\r\n/Encoding /90ms-RKSJ-H\t\t\r\n"
      "/DescendantFonts [ 5 0 R ]\r\n>>\r\nendobj\r\n",
      std::string("<</Type /Font\r\n/Subtype /CIDFontType2\r\n/BaseFont /@FixedSys\r\n") + kFixedSysDescendant +
          "\r\n/FontDescriptor 6 0 R\r\n>>\r\nendobj\r\n",
      std::string("<</Type /FontDescriptor\r\n/FontName /@FixedSys\r\n") + kFixedSysDescriptor +
          "\r\n/ItalicAngle 0\r\n>>\r\nendobj\r\n",
      "<</Type/Page\r\n/Parent 3 0 R\r\n/Resources 8 0 R\r\n/MediaBox[0 0 595 842]\r\n/Contents[\r\n]\r\n>>\r\n"
      "endobj\r\n",
      kEmptyResources,
  });
  EXPECT_EQ(MaskDates(ReadFile(out)), expected);
  ExpectValid(out, 1);
}

TEST_F(QuorvelTest, JapaneseTextIsExtractedAndRendered) {
  const fs::path out = Path("japanese.pdf");
  CQuorvel q;
  ASSERT_EQ(q.Open(out.c_str()), 0);
  const int font = q.FindFont(kMsMincho, false, false);
  ASSERT_EQ(font, 4);
  EXPECT_EQ(q.FindFont("ＭＳ 明朝", false, false), font);   // UTF-8 name
  EXPECT_EQ(q.FindFont(u"ＭＳ 明朝", false, false), font);  // UTF-16 name
  q.BeginPage(595, 842);
  q.SetFont(font, 40);
  q.SetTextPos(50, 600);
  q.ContinueText(kJapaneseText);
  q.EndPage();
  q.Close();
  ExpectValid(out, 1);
  const std::string pdf = ReadFile(out);
  EXPECT_NE(pdf.find("/BaseFont /#82l#82r#96#BE#92#A9\r\n/Encoding /90ms-RKSJ-H"), std::string::npos);
  RunResult text = RunCommand("pdftotext -enc UTF-8 " + Quote(out) + " -");
  EXPECT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("日本語テキスト"), std::string::npos) << text.out;
  const Image img = Render(out, 1);
  ASSERT_EQ(img.width, 595);
  EXPECT_GT(DarkPixels(img, 50, 595, 330, 645), 200);
}

// ---- fonts -------------------------------------------------------------------------------

TEST_F(QuorvelTest, FindFontLooksUpTheCatalogue) {
  const fs::path out = Path("fonts.pdf");
  CQuorvel q;
  ASSERT_EQ(q.Open(out.c_str()), 0);
  const int arial = q.FindFont("Arial", false, false);
  EXPECT_EQ(arial, 4);
  EXPECT_EQ(q.FindFont("Arial", false, false), arial);  // cached: no new objects
  const int bold_italic = q.FindFont("Arial", true, true);
  EXPECT_EQ(bold_italic, 6);  // a simple font takes two numbers
  const int italic = q.FindFont("Arial", false, true);
  EXPECT_EQ(italic, 8);
  const int system = q.FindFont("System", false, false);
  EXPECT_EQ(system, 10);
  EXPECT_EQ(q.FindFont("System", true, false), 13);  // a composite font takes three
  struct Missing {
    const char* face;
    bool bold;
  };
  for (const Missing& m : {Missing{"arial", false}, Missing{"Arial Narrow", false}, Missing{"", false},
                           Missing{"\x82\x6c\x82\x72\x20\x82\x6f\x83\x53\x83\x56\x83\x62\x83\x4e", false},
                           Missing{"ＭＳ Ｐゴシック", true}}) {
    EXPECT_EQ(q.FindFont(m.face, m.bold, false), -1) << m.face;
  }
  EXPECT_EQ(q.FindFont("@ＭＳ Ｐゴシック", false, false), 16);
  q.Close();
  const std::string pdf = ReadFile(out);
  for (const char* text : {"/BaseFont /Arial,BoldItalic\r\n", "/BaseFont /Arial,Italic\r\n", "/ItalicAngle -11\r\n",
                           "/BaseFont /#82l#82r#82o#83S#83V#83b#83N\r\n/Encoding /90msp-RKSJ-H",
                           "/BaseFont /#82l#82r#82o#83S#83V#83b#83N,Bold\r\n", "631 631 414",
                           "/BaseFont /@#82l#82r#82o#83S#83V#83b#83N\r\n"}) {
    EXPECT_NE(pdf.find(text), std::string::npos) << text;
  }
  EXPECT_EQ(pdf.find("/Subtype /TrueType\r\n/BaseFont /Arial,BoldItalic\r\n/FirstChar 32  \r\n\t/LastChar 255  "
                     "\r\n\t/Widths [ 278 278 355"),
            std::string::npos);  // the bold widths differ from the regular ones
  ExpectValid(out, 1);

  // A new document creates its fonts afresh.
  ASSERT_EQ(q.Open(Path("fonts2.pdf").c_str()), 0);
  EXPECT_EQ(q.FindFont("Arial", false, false), 4);
  q.Close();
}

// ---- calls the writer refuses or mends ---------------------------------------------------

TEST_F(QuorvelTest, PageSizesAreTruncatedAndClamped) {
  struct Case {
    float w, h;
    const char* box;
  };
  const Case cases[] = {
      {595.9f, 842.2f, "/MediaBox[0 0 595 842]"}, {100000.0f, -5.0f, "/MediaBox[0 0 59500 1]"},
      {0.5f, 84201.0f, "/MediaBox[0 0 1 84200]"}, {NAN, INFINITY, "/MediaBox[0 0 1 84200]"},
      {59500.0f, 1.0f, "/MediaBox[0 0 59500 1]"},
  };
  for (const Case& c : cases) {
    const fs::path out = Path("size.pdf");
    CQuorvel q;
    ASSERT_EQ(q.Open(out.c_str()), 0);
    q.BeginPage(c.w, c.h);
    q.EndPage();
    q.Close();
    EXPECT_NE(ReadFile(out).find(c.box), std::string::npos) << c.box;
    ExpectValid(out, 1);
  }
}

TEST_F(QuorvelTest, DrawingStreamWithoutEntriesIsAProperEmptyStream) {
  for (bool end_page : {true, false}) {
    const fs::path out = Path("emptystream.pdf");
    CQuorvel q;
    ASSERT_EQ(q.Open(out.c_str()), 0);
    const int font = q.FindFont("Courier New", false, false);
    q.BeginPage(200, 200);
    q.SetFont(font, 12);  // creates the drawing stream, adds no entry
    if (end_page) q.EndPage();
    q.Close();
    const std::string pdf = ReadFile(out);
    EXPECT_NE(pdf.find("8 0 obj\r\n<</Length 9 0 R\r\n>>\r\nstream\r\n\r\nendstream\r\nendobj\r\n"
                       "9 0 obj\r\n0\r\nendobj\r\n"),
              std::string::npos)
        << end_page;
    ExpectValid(out, 1);
  }
}

TEST_F(QuorvelTest, TextWithoutFontAndUnknownNumbersAreRefused) {
  const fs::path out = Path("refused.pdf");
  CQuorvel q;
  ASSERT_EQ(q.Open(out.c_str()), 0);
  q.ContinueText("before any page");
  q.BeginPage(200, 200);
  q.ContinueText("no stream yet");
  q.SetTextPos(10, 10);  // creates the stream
  q.ContinueText("no font yet");
  q.SetFont(-1, 10);
  q.SetFont(4, 10);  // the page, not a font
  q.SetFont(3, 10);  // the page tree
  q.ContinueText("still no font");
  q.PlaceImage(0, 0, 0, 1);
  q.PlaceImage(4, 0, 0, 1);
  q.PlaceImage(999, 0, 0, 1);
  q.EndPage();
  q.Close();
  const std::string pdf = ReadFile(out);
  EXPECT_EQ(pdf.find("BT"), std::string::npos);
  EXPECT_EQ(pdf.find("/F-1"), std::string::npos);
  EXPECT_EQ(pdf.find(" Do"), std::string::npos);
  ExpectValid(out, 1);
}

TEST_F(QuorvelTest, FailedImageLoadLeavesNoObject) {
  const fs::path text = Path("notes.jpg");
  WriteFile(text, "this is text, not a JPEG\n");
  std::string two_components = MakeJpeg({});
  // Patch the frame header's component count (3 -> 2) after the SOF0 marker's length,
  // precision, height and width.
  const size_t sof = two_components.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  std::string twelve_bit = two_components;
  two_components[sof + 9] = 2;
  twelve_bit[sof + 4] = 12;
  WriteFile(Path("two.jpg"), two_components);
  WriteFile(Path("twelve.jpg"), twelve_bit);
  WriteFile(Path("truncated.jpg"), MakeJpeg({}).substr(0, 30));

  const fs::path out = Path("failed.pdf");
  CQuorvel q;
  g_hook.clear();
  q.SetDebugHook(Hook);
  ASSERT_EQ(q.Open(out.c_str()), 0);
  for (const char* name : {"notes.jpg", "two.jpg", "twelve.jpg", "truncated.jpg", "missing.jpg"}) {
    EXPECT_EQ(q.OpenImageFile("jpeg", Path(name).c_str(), "", 1), 0) << name;
  }
  EXPECT_EQ(q.OpenImageFile("jpeg", nullptr, "", 1), 0);
  q.BeginPage(100, 100);
  q.EndPage();
  q.Close();
  EXPECT_NE(ReadFile(out).find("/Kids[4 0 R ]"), std::string::npos);  // nothing was numbered
  ExpectValid(out, 1);
  const std::vector<std::string> expected_hook = {"As your wish == Output Debug Information",
                                                  "Create Blank PDF File",
                                                  "Can't open the source file\r\nnow only support JPEG",
                                                  "Can't open the source file\r\nnow only support JPEG",
                                                  "Can't open the source file\r\nnow only support JPEG",
                                                  "Can't open the source file\r\nnow only support JPEG",
                                                  "Can't open the source file\r\nnow only support JPEG",
                                                  "Can't open the source file\r\nnow only support JPEG"};
  EXPECT_EQ(g_hook, expected_hook);
}

TEST_F(QuorvelTest, ImageKindsAndPlacementOrder) {
  JpegParams grey;
  grey.components = 1;
  grey.fill[0] = 128;
  JpegParams cmyk;
  cmyk.components = 4;
  JpegParams progressive;
  progressive.progressive = true;
  progressive.width = 640;
  progressive.height = 480;
  JpegParams thumbnail;  // an APP1 segment holding a frame header of its own
  thumbnail.app1 = std::string("Exif\0\0", 6) + std::string("\xFF\xD8\xFF\xC0\x00\x11\x08\x00\x10\x00\x10\x03", 12) +
                   std::string(40, 'x');
  WriteFile(Path("grey.jpg"), MakeJpeg(grey));
  WriteFile(Path("cmyk.jpg"), MakeJpeg(cmyk));
  WriteFile(Path("progressive.jpg"), MakeJpeg(progressive));
  WriteFile(Path("thumb.jpg"), MakeJpeg(thumbnail));

  const fs::path out = Path("kinds.pdf");
  CQuorvel q;
  ASSERT_EQ(q.Open(out.c_str()), 0);
  const int g = q.OpenImageFile("jpeg", Path("grey.jpg").c_str(), "", 1);
  const int c = q.OpenImageFile("jpeg", Path("cmyk.jpg").c_str(), "", 1);
  const int p = q.OpenImageFile("jpeg", Path("progressive.jpg").c_str(), "", 1);
  const int t = q.OpenImageFile("jpeg", Path("thumb.jpg").c_str(), "", 1);
  EXPECT_EQ(g, 4);
  EXPECT_EQ(c, 6);
  EXPECT_EQ(p, 8);
  EXPECT_EQ(t, 10);
  q.BeginPage(800, 600);       // 12, 13
  q.PlaceImage(g, 0, 0, 1);    // 14, 15
  q.Save();                    // drawing stream 16
  q.PlaceImage(c, 100, 0, 1);  // 17, 18
  q.EndPage();
  q.BeginPage(800, 600);
  q.PlaceImage(p, 0, 0, 1);
  q.PlaceImage(t, 0, 0, 1);
  q.PlaceImage(g, 0, 0, 1);  // the same image on a second page
  q.EndPage();
  q.Close();
  const std::string pdf = ReadFile(out);
  for (const char* text :
       {"/Width 64\r\n/Height 48\r\n/ColorSpace/DeviceGray\r\n", "/ColorSpace/DeviceCMYK\r\n",
        "/Width 640\r\n/Height 480\r\n/ColorSpace/DeviceRGB\r\n", "/Name /SampleImage10\r\n/Length 11 0 R",
        "/Contents[\r\n14 0 R\r\n16 0 R\r\n17 0 R\r\n]", "/ProcSet[/PDF/ImageB/ImageC  /Text ]\r\n",
        "/SampleImage4 4 0 R\r\n/SampleImage6 6 0 R\r\n"}) {
    EXPECT_NE(pdf.find(text), std::string::npos) << text;
  }
  EXPECT_EQ(pdf.find("/Width 16"), std::string::npos);               // the thumbnail's frame was skipped
  EXPECT_EQ(pdf.find("\n4 0 obj\r\n"), pdf.rfind("\n4 0 obj\r\n"));  // written once for two pages
  ExpectValid(out, 2);
}

TEST_F(QuorvelTest, ManyImagesDoNotExhaustFileDescriptors) {
  // Past a bounded number of open image files the writer opens each file again at Close,
  // and copies it only if it is still the file it read.
  const std::string jpeg = MakeJpeg({});
  WriteFile(Path("same.jpg"), jpeg);
  WriteFile(Path("changed.jpg"), jpeg);
  const fs::path out = Path("many.pdf");
  CQuorvel q;
  ASSERT_EQ(q.Open(out.c_str()), 0);
  constexpr int kImages = 260;
  for (int i = 0; i < kImages; ++i) {
    const int image = q.OpenImageFile("jpeg", Path("same.jpg").c_str(), "", 1);
    ASSERT_NE(image, 0) << i;
    q.BeginPage(64, 48);
    q.PlaceImage(image, 0, 0, 1);
    q.EndPage();
  }
  const int changed = q.OpenImageFile("jpeg", Path("changed.jpg").c_str(), "", 1);
  ASSERT_NE(changed, 0);
  WriteFile(Path("changed.jpg"), jpeg + "more");
  q.Close();
  const std::string pdf = ReadFile(out);
  size_t copies = 0;
  for (size_t at = pdf.find(jpeg); at != std::string::npos; at = pdf.find(jpeg, at + 1)) ++copies;
  EXPECT_EQ(copies, static_cast<size_t>(kImages));
  const std::string length_obj = "\n" + std::to_string(changed + 1) + " 0 obj\r\n0\r\nendobj";
  EXPECT_NE(pdf.find(length_obj), std::string::npos);
  ExpectValid(out, kImages);
}

TEST_F(QuorvelTest, WritersKeepTheirOwnDocuments) {
  // Interleaved on one thread: each file is numbered on its own.
  {
    CQuorvel a, b;
    ASSERT_EQ(a.Open(Path("a.pdf").c_str()), 0);
    ASSERT_EQ(b.Open(Path("b.pdf").c_str()), 0);
    EXPECT_EQ(a.FindFont("Arial", false, false), 4);
    EXPECT_EQ(b.FindFont("Tahoma", false, false), 4);
    a.BeginPage(100, 100);
    b.BeginPage(200, 200);
    a.Close();
    b.Close();
    EXPECT_NE(ReadFile(Path("a.pdf")).find("/Kids[6 0 R ]"), std::string::npos);
    EXPECT_NE(ReadFile(Path("b.pdf")).find("/MediaBox[0 0 200 200]"), std::string::npos);
    ExpectValid(Path("a.pdf"), 1);
    ExpectValid(Path("b.pdf"), 1);
  }
  // On two threads at once.
  auto write = [this](const std::string& name) {
    CQuorvel q;
    q.Open(Path(name).c_str());
    const int font = q.FindFont("Verdana", true, false);
    for (int i = 0; i < 50; ++i) {
      q.BeginPage(300, 300);
      q.SetFont(font, 12);
      q.SetTextPos(10, 10);
      q.ContinueText(name.c_str());
      q.EndPage();
    }
    q.Close();
  };
  std::thread t1(write, "t1.pdf");
  std::thread t2(write, "t2.pdf");
  t1.join();
  t2.join();
  ExpectValid(Path("t1.pdf"), 50);
  ExpectValid(Path("t2.pdf"), 50);
}

TEST_F(QuorvelTest, AbandonedWriterLeavesNothingBehind) {
  const fs::path out = Path("abandoned.pdf");
  {
    CQuorvel q;
    ASSERT_EQ(q.Open(out.c_str()), 0);
    q.FindFont("Arial", false, false);
    q.BeginPage(100, 100);
    // While the document is open its file lives in a private folder beside the target.
    int private_dirs = 0;
    for (const auto& e : fs::directory_iterator(root_.path())) {
      struct stat st;
      ASSERT_EQ(::stat(e.path().c_str(), &st), 0);
      if (S_ISDIR(st.st_mode)) {
        ++private_dirs;
        EXPECT_EQ(st.st_mode & 0777, 0700u);
      }
    }
    EXPECT_EQ(private_dirs, 1);
    EXPECT_EQ(q.Open(Path("second.pdf").c_str()), -1);  // one document at a time
  }
  EXPECT_TRUE(fs::is_empty(root_.path()));

  // The next document starts afresh.
  CQuorvel q;
  ASSERT_EQ(q.Open(out.c_str()), 0);
  q.BeginPage(100, 100);
  q.Close();
  EXPECT_NE(ReadFile(out).find("/Kids[4 0 R ]"), std::string::npos);
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(root_.path())) ++entries;
  EXPECT_EQ(entries, 1u);
}

TEST_F(QuorvelTest, CopiesShareOneDocument) {
  const fs::path out = Path("shared.pdf");
  CQuorvel a;
  ASSERT_EQ(a.Open(out.c_str()), 0);
  CQuorvel b;
  b = a;
  CQuorvel c(a);
  b.BeginPage(100, 100);
  b.StrokeLine(0, 0, 10, 10);
  b.EndPage();
  b.Close();
  ExpectValid(out, 1);
  a.BeginPage(100, 100);  // the document is closed: ignored
  a.Close();
  EXPECT_EQ(c.Open(Path("next.pdf").c_str()), 0);
  c.Close();
  ExpectValid(Path("next.pdf"), 1);
}

TEST_F(QuorvelTest, UnwritableOutputWritesNothing) {
  const fs::path out = Path("missing-folder") / "x.pdf";
  CQuorvel q;
  EXPECT_EQ(q.Open(out.c_str()), 0);
  q.BeginPage(100, 100);
  q.Close();
  EXPECT_FALSE(fs::exists(out));
  EXPECT_EQ(q.Open(nullptr), -1);
  const std::string jpg = Path("p.jpg").string();
  WriteFile(jpg, MakeJpeg({}));
  char* files[] = {const_cast<char*>(jpg.c_str())};
  EXPECT_FALSE(q.CreatePDFFromMultiJpg(files, 1, out.c_str(), false));
}

TEST_F(QuorvelTest, CreatePdfFromMultipleJpegs) {
  JpegParams small;
  small.width = 120;
  small.height = 80;
  JpegParams grey;
  grey.components = 1;
  grey.width = 30;
  grey.height = 90;
  WriteFile(Path("one.jpg"), MakeJpeg(small));
  WriteFile(Path("two.jpg"), MakeJpeg(grey));
  WriteFile(Path("bad.jpg"), "not a jpeg");
  std::string one = Path("one.jpg").string(), two = Path("two.jpg").string(), bad = Path("bad.jpg").string();

  CQuorvel q;
  char* good[] = {one.data(), two.data()};
  EXPECT_TRUE(q.CreatePDFFromMultiJpg(good, 2, Path("multi.pdf").c_str(), true));
  const std::string pdf = ReadFile(Path("multi.pdf"));
  EXPECT_NE(pdf.find("/MediaBox[0 0 120 80]"), std::string::npos);
  EXPECT_NE(pdf.find("/MediaBox[0 0 30 90]"), std::string::npos);
  EXPECT_NE(pdf.find("q\r\n120 0 0 80 0 0 cm\r\n/SampleImage6 Do\r\nQ"), std::string::npos);
  ExpectValid(Path("multi.pdf"), 2);
  const Image img = Render(Path("multi.pdf"), 1);
  ASSERT_EQ(img.width, 120);
  EXPECT_GT(img.At(60, 40)[0], 200);

  char* mixed[] = {bad.data(), one.data()};
  EXPECT_FALSE(q.CreatePDFFromMultiJpg(mixed, 2, Path("mixed.pdf").c_str(), true));
  ExpectValid(Path("mixed.pdf"), 1);

  EXPECT_TRUE(q.CreatePDFFromMultiJpg(nullptr, 0, Path("none.pdf").c_str(), true));
  ExpectValid(Path("none.pdf"), 1);
}

TEST_F(QuorvelTest, SmallOperations) {
  CQuorvel q;
  EXPECT_EQ(getVersion(), 0);
  EXPECT_EQ(q.Test(""), 0);
  EXPECT_EQ(q.Test("abc"), 3);
  EXPECT_EQ(q.Test(nullptr), 0);
  for (const char* name : {"compatibility", "openaction", "openmode", "transition"}) {
    EXPECT_EQ(q.SetParameter(name, "1"), 0);
  }
  g_hook.clear();
  q.SetDebugHook(nullptr);
  EXPECT_TRUE(g_hook.empty());
  // Calls outside a document are ignored.
  q.BeginPage(100, 100);
  q.FillRect(0, 0, 1, 1, 0);
  q.EndPage();
  q.Close();
  EXPECT_EQ(q.FindFont("Arial", false, false), -1);
  EXPECT_EQ(q.OpenImageFile("jpeg", "x.jpg", "", 1), 0);

  // The title comes from the file name, escaped; rectangle rules.
  const fs::path out = Path("My (1).pdf");
  ASSERT_EQ(q.Open(out.c_str()), 0);
  q.SetInfo("Title", "ignored");
  q.BeginPage(100, 100);
  q.FillRect(1, 2, 3, 4, 0);
  q.FillRect(1, 2, 3, 4, 1);
  q.FillStrokeRect(1, 2, 3, 4, 0);
  q.FillStrokeRect(1, 2, 3, 4, 1);
  q.ClipRect(1, 2, 3, 4, 0);
  q.ClipRect(1, 2, 3, 4, 1);
  q.StrokeRect(1, 2, 3, 4);
  q.FillRect(1, 2, 3, 4, 7);
  q.EndPage();
  q.Close();
  const std::string pdf = ReadFile(out);
  EXPECT_NE(pdf.find("/Title (My \\(1\\))\r\n"), std::string::npos);
  EXPECT_NE(pdf.find("stream\r\n1 2 3 4 re\r\nf\r\n\r\n1 2 3 4 re\r\nf*\r\n\r\n1 2 3 4 re\r\nB\r\n\r\n"
                     "1 2 3 4 re\r\nB*\r\n\r\n1 2 3 4 re\r\nW n\r\n\r\n1 2 3 4 re\r\nW* n\r\n\r\n"
                     "1 2 3 4 re\r\nS\r\n\r\n1 2 3 4 re\r\n\r\n\r\nendstream"),
            std::string::npos);
  ExpectValid(out, 1);
}

TEST_F(QuorvelTest, TextEscapesAndColours) {
  const fs::path out = Path("escapes.pdf");
  CQuorvel q;
  ASSERT_EQ(q.Open(out.c_str()), 0);
  const int font = q.FindFont(kMsMincho, false, false);
  q.BeginPage(200, 200);
  q.SetFont(font, 12);
  q.SetTextColor(0x80FF00);        // green 255, blue 128
  q.ContinueText("\x95\x5c(\\)");  // a Shift_JIS character whose second byte is 0x5C
  q.ContinueText("");
  q.EndPage();
  q.Close();
  const std::string pdf = ReadFile(out);
  EXPECT_NE(pdf.find("0.0000 1.0000 0.5020  rg\r\n 0 Tc\r\n(\x95"
                     "\\\\"
                     "\\("
                     "\\\\"
                     "\\))Tj"),
            std::string::npos);
  EXPECT_NE(pdf.find("()Tj"), std::string::npos);
  ExpectValid(out, 1);
}

}  // namespace
}  // namespace zv::pdf::testing
