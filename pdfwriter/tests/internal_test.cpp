// The JPEG marker scanner on well-formed and malformed files, and the font catalogue.
#include <gtest/gtest.h>

#include <cstring>

#include "pdfwriter/font_catalogue.h"
#include "pdfwriter/jpeg_header.h"
#include "pdfwriter/pdf_objects.h"
#include "pdfwriter/tests/pdf_test_util.h"
#include "platform/codepage/codepage.h"
#include "platform/testing/temp_root.h"

namespace zv::pdf::testing {
namespace {

std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

const std::string kSoi = B({0xFF, 0xD8});
const std::string kApp0 = B({0xFF, 0xE0, 0x00, 0x06, 'J', 'F', 'I', 'F'});
// SOF0, 8 bits, 48 x 64, 3 components.
const std::string kSof0 = B({0xFF, 0xC0, 0x00, 0x11, 8, 0, 48, 0, 64, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1});
const std::string kSos = B({0xFF, 0xDA, 0x00, 0x0C, 3, 1, 0, 2, 0x11, 3, 0x11, 0, 63, 0, 0x12, 0x34});

struct ScanCase {
  const char* name;
  std::string bytes;
  bool opens;
  bool ok;
  int width, height, components;
};

TEST(JpegHeaderReaderTest, ScansWellFormedAndRejectsMalformedFiles) {
  zv::testing::TempRoot root;
  const std::string progressive_sof = B({0xFF, 0xC2, 0x00, 0x0B, 8, 1, 0, 2, 0, 1, 1, 0x11, 0});
  const std::string thumbnail_app1 = B({0xFF, 0xE1, 0x00, 0x0D, 0xFF, 0xC0, 0x00, 0x0B, 8, 0, 9, 0, 9, 1, 1});
  const ScanCase cases[] = {
      {"baseline", kSoi + kApp0 + kSof0 + kSos, true, true, 64, 48, 3},
      {"progressive grey", kSoi + progressive_sof + kSos, true, true, 512, 256, 1},
      {"later frame wins", kSoi + progressive_sof + kSof0 + kSos, true, true, 64, 48, 3},
      {"thumbnail skipped", kSoi + thumbnail_app1 + kSof0 + kSos, true, true, 64, 48, 3},
      {"fill bytes", kSoi + B({0xFF, 0xFF, 0xFF}) + kSof0.substr(1) + kSos, true, true, 64, 48, 3},
      {"restart marker before frame", kSoi + B({0xFF, 0xD0}) + kSof0 + kSos, true, true, 64, 48, 3},
      {"segment length 0", kSoi + B({0xFF, 0xE0, 0x00, 0x00}) + kSof0 + kSos, true, false, 0, 0, 0},
      {"segment length 1", kSoi + B({0xFF, 0xE0, 0x00, 0x01}) + kSof0 + kSos, true, false, 0, 0, 0},
      {"scan length 1", kSoi + kSof0 + B({0xFF, 0xDA, 0x00, 0x01}), true, false, 64, 48, 3},
      {"ends inside a segment", kSoi + B({0xFF, 0xE0, 0x01, 0x00, 1, 2, 3}), true, false, 0, 0, 0},
      {"segment runs to the end", kSoi + B({0xFF, 0xE0, 0x00, 0x06, 1, 2, 3, 4}), true, false, 0, 0, 0},
      {"ends inside a length", kSoi + B({0xFF, 0xE0, 0x00}), true, false, 0, 0, 0},
      {"ends after a marker", kSoi + B({0xFF, 0xFF}), true, false, 0, 0, 0},
      {"ends inside a frame", kSoi + kSof0.substr(0, 7), true, false, 0, 0, 0},
      {"frame too short", kSoi + B({0xFF, 0xC0, 0x00, 0x07, 8, 0, 1, 0, 1}) + kSos, true, false, 0, 0, 0},
      {"frame shorter than its components", kSoi + B({0xFF, 0xC0, 0x00, 0x0B, 8, 0, 1, 0, 1, 3, 1, 0x11, 0}) + kSos,
       true, false, 1, 1, 3},
      {"end of image before scan", kSoi + kSof0 + B({0xFF, 0xD9}), true, false, 64, 48, 3},
      {"no frame before scan", kSoi + kApp0 + kSos, true, false, 0, 0, 0},
      {"no markers at all", kSoi + std::string(100, 'x'), true, false, 0, 0, 0},
      {"only the start marker", kSoi, true, false, 0, 0, 0},
      {"text file", "this is not a JPEG", false, false, 0, 0, 0},
      {"one byte", B({0xFF}), false, false, 0, 0, 0},
      {"empty", "", false, false, 0, 0, 0},
  };
  for (const ScanCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = root.path() / "case.jpg";
    WriteFile(path, c.bytes);
    JpegHeaderReader r;
    ASSERT_EQ(r.Open(path.string()), c.opens);
    if (!c.opens) continue;
    EXPECT_EQ(r.ReadFrameHeader().ok(), c.ok);
    EXPECT_EQ(r.width(), c.width);
    EXPECT_EQ(r.height(), c.height);
    EXPECT_EQ(r.components(), c.components);
  }
  JpegHeaderReader r;
  EXPECT_FALSE(r.Open((root.path() / "missing.jpg").string()));
  EXPECT_FALSE(r.Open(root.path().string()));  // a folder
  EXPECT_FALSE(r.ReadFrameHeader().ok());
}

TEST(JpegHeaderReaderTest, EveryTruncationOfARealFileFailsCleanly) {
  zv::testing::TempRoot root;
  JpegParams params;
  params.width = 33;
  params.height = 17;
  const std::string jpeg = MakeJpeg(params);
  const size_t sos = jpeg.find("\xFF\xDA");
  ASSERT_NE(sos, std::string::npos);
  const auto path = root.path() / "cut.jpg";
  for (size_t n = 0; n <= sos + 4; ++n) {
    WriteFile(path, jpeg.substr(0, n));
    JpegHeaderReader r;
    if (!r.Open(path.string())) {
      EXPECT_LT(n, 2u);
      continue;
    }
    // The scan is reached only once its marker and length are in the file.
    EXPECT_EQ(r.ReadFrameHeader().ok(), n >= sos + 4) << n;
  }
  JpegHeaderReader r;
  ASSERT_TRUE(r.Open(path.string()));
  ASSERT_TRUE(r.ReadFrameHeader().ok());
  EXPECT_EQ(r.width(), 33);
  EXPECT_EQ(r.height(), 17);
  EXPECT_EQ(r.precision(), 8);
}

// ---- font catalogue ----------------------------------------------------------------------

const char* const kFaces[] = {"@FixedSys",
                              "@ＭＳ Ｐゴシック",
                              "@ＭＳ Ｐ明朝",
                              "@MS UI Gothic",
                              "@ＭＳ ゴシック",
                              "@ＭＳ 明朝",
                              "@NSimSun",
                              "@SimHei",
                              "@SimSun",
                              "@Small Fonts",
                              "@System",
                              "@Terminal",
                              "Arial",
                              "Arial Black",
                              "Comic Sans MS",
                              "Courier",
                              "Courier New",
                              "FixedSys",
                              "Georgia",
                              "Impact",
                              "Kingsoft Phonetic Plain",
                              "Lucida Console",
                              "Lucida Sans Unicode",
                              "Marlett",
                              "Microsoft Sans Serif",
                              "ＭＳ Ｐ明朝",
                              "MS Sans Serif",
                              "MS Serif",
                              "MS UI Gothic",
                              "ＭＳ ゴシック",
                              "ＭＳ 明朝",
                              "NSimSun",
                              "Palatino Linotype",
                              "SimHei",
                              "SimSun",
                              "Small Fonts",
                              "Symbol",
                              "System",
                              "Tahoma",
                              "Terminal",
                              "Times New Roman",
                              "Trebuchet MS",
                              "Verdana",
                              "Webdings",
                              "Century"};

int FlagsOf(const std::string& descriptor) { return std::atoi(descriptor.c_str() + descriptor.find("/Flags ") + 7); }

TEST(FontCatalogueTest, EntriesFollowTheFixedOrderAndForms) {
  size_t i = 0;
  int entries = 0;
  for (const char* face : kFaces) {
    const std::string key = *codepage::Utf8ToCp932(face);
    int regular_flags = 0;
    for (int bold = 0; bold < 2; ++bold) {
      ASSERT_LT(i, kFontCatalogueSize);
      const std::string k = key + (bold ? "+Bold" : "");
      SCOPED_TRACE(face + std::string(bold ? "+Bold" : ""));
      EXPECT_EQ(kFontCatalogue[i].key, k);
      const std::string kind = kFontCatalogue[i].kind;
      std::string descriptor;
      if (kind == "Type0") {
        EXPECT_EQ(std::string(kFontCatalogue[i + 1].kind), "CIDFontType2");
        EXPECT_EQ(std::string(kFontCatalogue[i + 2].kind), "FontDescriptor");
        EXPECT_NE(std::strstr(kFontCatalogue[i + 2].text, "/Style"), nullptr);
        descriptor = kFontCatalogue[i + 2].text;
        i += 3;
      } else {
        ASSERT_EQ(kind, "TrueType");
        EXPECT_EQ(std::string(kFontCatalogue[i + 1].kind), "FontDescriptor");
        const std::string widths = kFontCatalogue[i].text;
        // One width per code from the first character to 255.
        const int first = std::atoi(widths.c_str() + std::strlen("/FirstChar "));
        const size_t open = widths.find('['), close = widths.find(']');
        std::istringstream list(widths.substr(open + 1, close - open - 1));
        int count = 0, w;
        while (list >> w) ++count;
        EXPECT_EQ(count, 256 - first);
        descriptor = kFontCatalogue[i + 1].text;
        i += 2;
      }
      if (bold) {
        EXPECT_EQ(FlagsOf(descriptor), regular_flags + 16384);
      } else {
        regular_flags = FlagsOf(descriptor);
      }
      ++entries;
    }
  }
  EXPECT_EQ(i, kFontCatalogueSize);
  EXPECT_EQ(entries, 90);
}

const FontTriple* Find(const std::string& key, const char* kind) {
  for (const FontTriple& t : kFontCatalogue) {
    if (t.key == key && std::strcmp(t.kind, kind) == 0) return &t;
  }
  return nullptr;
}

TEST(FontCatalogueTest, KindsEncodingsAndFixedRows) {
  struct Row {
    const char* face;
    const char* kind;
    const char* start;
  };
  const Row rows[] = {
      {"ＭＳ ゴシック", "Type0", "/Encoding /90ms-RKSJ-H"},
      {"Terminal", "Type0", "/Encoding /90ms-RKSJ-H"},
      {"MS UI Gothic", "Type0", "/Encoding /90msp-RKSJ-H"},
      {"@SimHei", "Type0", "/Encoding /GBK-EUC-H"},
      {"SimHei", "CIDFontType2",
       "/WinCharSet 128  \r\n\t/CIDSystemInfo  \r\n\t<<  \r\n\t/Registry(Adobe)  \r\n\t/Ordering(GB1)  \r\n\t"
       "/Supplement 2  \r\n\t>>  \r\n\t/DW 500  \r\n\t/W [  \r\n\t814 907 500 \r\n\t7716 7716 500  \r\n\t]"},
      {"Symbol", "TrueType", "/FirstChar 30  \r\n\t/LastChar 255  \r\n\t/Widths [ "},
      {"Marlett", "TrueType", "/FirstChar 30  "},
      {"Century", "TrueType", "/FirstChar 0  "},
      {"Verdana", "TrueType", "/FirstChar 32  "},
      {"Times New Roman", "TrueType", "/FirstChar 32  "},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.face);
    const FontTriple* t = Find(*codepage::Utf8ToCp932(r.face), r.kind);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(std::string(t->text).rfind(r.start, 0), 0u);
  }
  for (const char* face : {"Symbol", "Webdings"}) {
    EXPECT_EQ(std::strstr(Find(face, "TrueType")->text, "/Encoding"), nullptr) << face;
  }
  for (const char* face : {"Kingsoft Phonetic Plain", "Marlett", "Century", "Arial"}) {
    EXPECT_NE(std::strstr(Find(face, "TrueType")->text, "/Encoding /WinAnsiEncoding"), nullptr) << face;
  }
  const std::string system_w = Find("System", "CIDFontType2")->text;
  EXPECT_NE(system_w.find("/W [  \r\n\t1 [ "), std::string::npos);
  EXPECT_NE(system_w.find("326 [ "), std::string::npos);
  EXPECT_NE(system_w.find("631 631 414"), std::string::npos);
  const std::string system_d = Find("System", "FontDescriptor")->text;
  EXPECT_NE(system_d.find("/MissingWidth 418  "), std::string::npos);
  EXPECT_NE(system_d.find("/AvgWidth 418  "), std::string::npos);
}

TEST(FontCatalogueTest, BaseFontNames) {
  struct Case {
    std::string face;
    const char* name;
  };
  const Case cases[] = {
      {"System", "#82l#82r#82o#83S#83V#83b#83N"},
      {*codepage::Utf8ToCp932("ＭＳ 明朝"), "#82l#82r#96#BE#92#A9"},
      {"Times New Roman", "TimesNewRoman"},
      {"@FixedSys", "@FixedSys"},
      {"A\x7F", "A#7F"},
  };
  for (const Case& c : cases) EXPECT_EQ(MakeBaseFontName(c.face), c.name);
}

}  // namespace
}  // namespace zv::pdf::testing
