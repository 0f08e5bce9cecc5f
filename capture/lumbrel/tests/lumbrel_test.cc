// The conversion library through its export: the converters GetConvInf hands out, driven
// with pages built in code, their files read back by independent readers (libpng, libtiff,
// libjpeg, the BMP header by hand, qpdf and poppler for PDF).
#include <dlfcn.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "capture/common/blocks.h"
#include "capture/lumbrel/convert.h"
#include "capture/lumbrel/lumbrel.h"
#include "capture/lumbrel/tests/pages.h"
#include "capture/sarquen/rerecord.h"
#include "pdfwriter/tests/pdf_test_util.h"
#include "platform/gdi/emf/builder.h"
#include "platform/gdi/surfaces.h"
#include "platform/shm/shm.h"
#include "platform/testing/bin_dir.h"
#include "platform/testing/temp_root.h"

namespace zv::lumbrel {
namespace {

namespace fs = std::filesystem;
using pdf::testing::Quote;
using pdf::testing::ReadFile;
using pdf::testing::RunCommand;
using testing::Bytes;
using testing::TestPage;

// ---- Independent readers -------------------------------------------------------------

struct Image {
  int width = 0;
  int height = 0;
  int bits = 0;                       // bits per pixel as stored (1 or 24; 8 for grey JPEG)
  std::vector<std::uint32_t> pixels;  // 0xRRGGBB, top row first

  std::uint32_t At(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
};

bool Dark(std::uint32_t c) { return ((c >> 16) & 0xFF) + ((c >> 8) & 0xFF) + (c & 0xFF) < 150; }
bool White(std::uint32_t c) { return ((c >> 16) & 0xFF) + ((c >> 8) & 0xFF) + (c & 0xFF) > 700; }
bool Red(std::uint32_t c) { return ((c >> 16) & 0xFF) > 200 && ((c >> 8) & 0xFF) < 60 && (c & 0xFF) < 60; }

std::uint32_t U32(const std::string& s, std::size_t off) {
  std::uint32_t v;
  std::memcpy(&v, s.data() + off, 4);
  return v;
}

std::optional<Image> ReadBmp(const fs::path& path) {
  const std::string f = ReadFile(path);
  if (f.size() < 54 || f.compare(0, 2, "BM") != 0 || U32(f, 2) != f.size()) return std::nullopt;
  Image img;
  img.width = int(U32(f, 18));
  img.height = int(U32(f, 22));
  std::uint16_t bits;
  std::memcpy(&bits, f.data() + 28, 2);
  img.bits = bits;
  const std::size_t offset = U32(f, 10);
  const std::size_t stride = (std::size_t(img.width) * bits + 31) / 32 * 4;
  if (offset + stride * img.height > f.size()) return std::nullopt;
  for (int y = 0; y < img.height; ++y) {
    const auto* row = reinterpret_cast<const std::uint8_t*>(f.data() + offset + stride * (img.height - 1 - y));
    for (int x = 0; x < img.width; ++x) {
      if (bits == 1) {
        const int index = (row[x >> 3] >> (7 - (x & 7))) & 1;
        const auto* pal = reinterpret_cast<const std::uint8_t*>(f.data() + 54 + 4 * index);
        img.pixels.push_back(std::uint32_t(pal[2]) << 16 | pal[1] << 8 | pal[0]);
      } else {
        img.pixels.push_back(std::uint32_t(row[3 * x + 2]) << 16 | row[3 * x + 1] << 8 | row[3 * x]);
      }
    }
  }
  return img;
}

std::optional<Image> ReadPng(const fs::path& path) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) return std::nullopt;
  Image img;
  img.width = int(png.width);
  img.height = int(png.height);
  img.bits = (png.format & PNG_FORMAT_FLAG_COLOR) ? 24 : 1;
  {
    // Grey images: the stored bit depth, read from the image header itself.
    const std::string f = ReadFile(path);
    if (f.size() > 25 && f[25] == 0) img.bits = f[24];
  }
  png.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, rgb.data(), 0, nullptr)) return std::nullopt;
  for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) {
    img.pixels.push_back(std::uint32_t(rgb[i]) << 16 | rgb[i + 1] << 8 | rgb[i + 2]);
  }
  return img;
}

std::optional<Image> ReadJpeg(const fs::path& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return std::nullopt;
  jpeg_decompress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_decompress(&c);
  jpeg_stdio_src(&c, f);
  jpeg_read_header(&c, TRUE);
  Image img;
  img.bits = c.num_components * 8;
  c.out_color_space = JCS_RGB;
  jpeg_start_decompress(&c);
  img.width = int(c.output_width);
  img.height = int(c.output_height);
  std::vector<std::uint8_t> row(std::size_t(img.width) * 3);
  while (c.output_scanline < c.output_height) {
    JSAMPROW r = row.data();
    jpeg_read_scanlines(&c, &r, 1);
    for (int x = 0; x < img.width; ++x) {
      img.pixels.push_back(std::uint32_t(row[3 * x]) << 16 | row[3 * x + 1] << 8 | row[3 * x + 2]);
    }
  }
  jpeg_finish_decompress(&c);
  jpeg_destroy_decompress(&c);
  std::fclose(f);
  return img;
}

// Every page (directory) of a TIFF file.
std::vector<Image> ReadTiff(const fs::path& path) {
  std::vector<Image> pages;
  TIFF* t = TIFFOpen(path.c_str(), "r");
  if (!t) return pages;
  do {
    Image img;
    std::uint32_t w = 0, h = 0;
    std::uint16_t bps = 0, spp = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    img.width = int(w);
    img.height = int(h);
    img.bits = bps * spp;
    std::vector<std::uint32_t> rgba(std::size_t(w) * h);
    if (!TIFFReadRGBAImageOriented(t, w, h, rgba.data(), ORIENTATION_TOPLEFT, 0)) break;
    for (std::uint32_t p : rgba) {
      img.pixels.push_back(TIFFGetR(p) << 16 | TIFFGetG(p) << 8 | TIFFGetB(p));
    }
    pages.push_back(std::move(img));
  } while (TIFFReadDirectory(t));
  TIFFClose(t);
  return pages;
}

// ---- The library as callers bind it ---------------------------------------------------

class Library {
 public:
  // Loaded once and kept: the library's fonts and caches live as long as the process, as in
  // the programs that load it.
  Library() {
    const std::string path = zv::testing::BinDir() + "/../lib/liblumbrel.so";
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle) get_ = reinterpret_cast<decltype(get_)>(::dlsym(handle, "GetConvInf"));
  }
  bool ok() const { return get_ != nullptr; }
  std::int32_t GetConvInf(std::uint32_t type, char* filter, ZvConverter* converter) const {
    return get_(type, filter, converter);
  }
  // Converts `pages` with the converter of `type`; gives its result.
  int Convert(std::uint32_t type, const std::string& output, const std::vector<TestPage>& pages) const {
    ZvConverter fn = nullptr;
    if (!get_(type, nullptr, &fn) || !fn) return -1;
    std::vector<const void*> ptrs;
    std::vector<std::uint32_t> sizes;
    for (const TestPage& p : pages) {
      ptrs.push_back(p.metafile.data());
      sizes.push_back(p.width);
      sizes.push_back(p.height);
    }
    return fn(0, output.c_str(), ptrs.data(), sizes.data(), std::uint32_t(pages.size()), "doc", nullptr);
  }

 private:
  std::int32_t (*get_)(std::uint32_t, char*, ZvConverter*) = nullptr;
};

// Stores the 12-byte image-options record of `slot` in its shared block with the resident
// program's own record builder, so the writer's layout and the converter's reading agree.
shm::SharedBlock StoreImageOptions(int slot, bool mono, int box_w, int box_h, int naming) {
  auto block = shm::SharedBlock::Create(capture::SlotBlockName(slot, 2), 12);
  EXPECT_TRUE(block.ok());
  const std::vector<std::byte> rec = capture::BuildImageOptionsRecord(slot, mono ? 1 : 0, std::uint16_t(box_w),
                                                                      std::uint16_t(box_h), std::uint8_t(naming));
  std::memcpy(block->mutable_bytes().data(), rec.data(), rec.size());
  return std::move(*block);
}

std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A converter value that GetConvInf must leave alone.
std::int32_t Untouched(std::uint32_t, const char*, const void* const*, const std::uint32_t*, std::uint32_t, const char*,
                       const void*) {
  return 0;
}

class LumbrelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lib_.ok()) << ::dlerror();
    out_ = root_.path() / "out";
    fs::create_directories(out_);
  }
  // The two-page document: a portrait page with a black rectangle and a text run, and a
  // landscape page with a red rectangle.
  static std::vector<TestPage> TwoPages() {
    return {testing::RectanglePage(false, 0x000000, "Hello"), testing::RectanglePage(true, 0x0000FF)};
  }
  // Checks the rectangles (and the text) of TwoPages drawn at `w` x `h` pixels.
  static void CheckPortrait(const Image& img, int w, int h) {
    ASSERT_EQ(img.width, w);
    ASSERT_EQ(img.height, h);
    EXPECT_TRUE(Dark(img.At(w * 3 / 10, h / 4))) << std::hex << img.At(w * 3 / 10, h / 4);
    EXPECT_TRUE(White(img.At(w / 10, h / 10)));
    EXPECT_TRUE(White(img.At(w * 3 / 10, h * 2 / 5)));
    // The text run starts at the centre and is about 100/3508 of the page high.
    int dark = 0;
    for (int y = h / 2; y < h / 2 + h * 100 / 3508; ++y) {
      for (int x = w / 2; x < w / 2 + w / 10; ++x) dark += Dark(img.At(x, y)) ? 1 : 0;
    }
    EXPECT_GT(dark, 20) << "no text drawn";
  }
  static void CheckLandscape(const Image& img, int w, int h, bool colour = true) {
    ASSERT_EQ(img.width, w);
    ASSERT_EQ(img.height, h);
    const std::uint32_t c = img.At(w * 3 / 10, h / 4);
    EXPECT_TRUE(colour ? Red(c) : Dark(c)) << std::hex << c;
    EXPECT_TRUE(White(img.At(w / 10, h / 10)));
  }

  zv::testing::TempRoot root_;
  Library lib_;
  fs::path out_;
};

TEST_F(LumbrelTest, GetConvInfHandsOutTheConvertersOfItsTypes) {
  struct Case {
    std::uint32_t type;
    const char* filter;  // null: no converter
  } cases[] = {
      {0, "ビットマップファイル(*.bmp)|*.bmp|"},
      {1, "PNGファイル(*.png)|*.png|"},
      {4, "TIFFファイル(*.tif)|*.tif|"},
      {5, "JPEGファイル(*.jpg)|*.jpg|"},
      {100, "PDF"},
      {2, nullptr},
      {3, nullptr},
      {6, nullptr},
      {0xFFFFFFFF, nullptr},
  };
  for (const Case& c : cases) {
    char filter[ZV_CONV_FILTER_SIZE] = "untouched";
    ZvConverter fn = &Untouched;
    const ZvConverter before = fn;
    const std::int32_t r = lib_.GetConvInf(c.type, filter, &fn);
    if (c.filter) {
      EXPECT_NE(r, 0) << c.type;
      EXPECT_STREQ(filter, c.filter);
      EXPECT_NE(fn, before);
    } else {
      EXPECT_EQ(r, 0) << c.type;
      EXPECT_STREQ(filter, "untouched");
      EXPECT_EQ(fn, before);
    }
  }
  EXPECT_EQ(lib_.GetConvInf(0, nullptr, nullptr), 0);
  // Without a filter buffer the converter is still handed out.
  ZvConverter fn = nullptr;
  EXPECT_NE(lib_.GetConvInf(100, nullptr, &fn), 0);
  EXPECT_NE(fn, nullptr);
}

TEST_F(LumbrelTest, RasterFormatsFollowTheExtensionWithoutRegardToCase) {
  struct Case {
    std::uint32_t type;
    std::string output;  // relative to out_, prefix first
    std::vector<std::string> files;
    int dpi;
  } cases[] = {
      // A path without a resolution prefix is drawn at 200 dots per inch.
      {0, "doc.bmp", {"doc_1.bmp", "doc_2.bmp"}, 200},
      {4, "doc.tif", {"doc.tif"}, 200},
      {5, "doc.jpg", {"doc_1.jpg", "doc_2.jpg"}, 200},
      {0, "060|doc.BMP", {"doc_1.BMP", "doc_2.BMP"}, 60},
      {0, "060|doc.png", {"doc_1.bmp", "doc_2.bmp"}, 60},  // any other extension: BMP
      {4, "060|doc.TIF", {"doc.TIF"}, 60},
      {5, "060|doc.JPG", {"doc_1.JPG", "doc_2.JPG"}, 60},
      {0, "120|doc.bmp", {"doc_1.bmp", "doc_2.bmp"}, 120},
      {4, "015|doc.tif", {"doc.tif"}, 15},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    fs::remove_all(out_);
    fs::create_directories(out_);
    const std::size_t bar = c.output.find('|');
    const std::string output = bar == std::string::npos
                                   ? (out_ / c.output).string()
                                   : c.output.substr(0, bar) + (out_ / c.output.substr(bar + 1)).string();
    ASSERT_EQ(lib_.Convert(c.type, output, TwoPages()), 1);
    EXPECT_EQ(Names(out_), c.files);
    // A4 at r dots per inch: 238110 x r / 28800 by 336756 x r / 28800 (1653 x 2338 at 200).
    const int w = int(std::int64_t(testing::kA4Short) * c.dpi / 28800);
    const int h = int(std::int64_t(testing::kA4Long) * c.dpi / 28800);
    std::vector<Image> images;
    if (c.files.size() == 1) {
      images = ReadTiff(out_ / c.files[0]);
    } else {
      for (const std::string& f : c.files) {
        auto img = c.type == 5 ? ReadJpeg(out_ / f) : ReadBmp(out_ / f);
        ASSERT_TRUE(img) << f;
        images.push_back(*img);
      }
    }
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].bits, 24);
    if (c.dpi >= 60) {
      CheckPortrait(images[0], w, h);
      CheckLandscape(images[1], h, w);
    } else {
      EXPECT_EQ(images[0].width, w);
      EXPECT_EQ(images[1].height, w);
    }
  }
  EXPECT_EQ(1653, int(std::int64_t(testing::kA4Short) * 200 / 28800));
  EXPECT_EQ(2338, int(std::int64_t(testing::kA4Long) * 200 / 28800));
}

TEST_F(LumbrelTest, SlotThreeGivesMonochromeAndNaming) {
  struct Case {
    std::uint32_t type;
    std::string name;
    bool mono;
    int box_h;
    int naming;
    std::vector<std::string> files;
    int bits;
  } cases[] = {
      {0, "m.bmp", true, 1, 0x05, {"m.bmp", "m_02.bmp"}, 1},
      {0, "m.bmp", true, 0, 0x05, {"m_1.bmp", "m_2.bmp"}, 24},  // box height 0: block unused
      {5, "m.jpg", false, 1, 0x06, {"m_001.jpg", "m_002.jpg"}, 24},
      {5, "m.jpg", true, 1, 0x00, {"m_1.jpg", "m_2.jpg"}, 8},
      {4, "m.tif", true, 1, 0x01, {"m.tif"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + " naming " + std::to_string(c.naming));
    fs::remove_all(out_);
    fs::create_directories(out_);
    shm::SharedBlock block = StoreImageOptions(3, c.mono, 800, c.box_h, c.naming);
    ASSERT_EQ(lib_.Convert(c.type, "060" + (out_ / c.name).string(), TwoPages()), 1);
    ASSERT_EQ(Names(out_), c.files);
    std::vector<Image> images;
    if (c.type == 4) {
      images = ReadTiff(out_ / c.files[0]);
    } else {
      for (const std::string& f : c.files) images.push_back(*(c.type == 5 ? ReadJpeg(out_ / f) : ReadBmp(out_ / f)));
    }
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].bits, c.bits);
    CheckPortrait(images[0], 496, 701);
    // In black and white the red rectangle becomes black.
    CheckLandscape(images[1], 701, 496, /*colour=*/!c.mono || c.box_h == 0);
  }
}

TEST_F(LumbrelTest, PngFitsTheSlotFourBox) {
  struct Case {
    bool block;
    bool mono;
    int box_w, box_h;
    int w, h;  // the portrait page; the landscape page is h x w
    int bits;
    std::vector<std::string> files;
  } cases[] = {
      {false, false, 0, 0, 1653, 2338, 24, {"p_1.png", "p_2.png"}},
      {true, false, 800, 800, 565, 800, 24, {"p_1.png", "p_2.png"}},
      {true, true, 800, 800, 565, 800, 1, {"p_1.png", "p_2.png"}},
      {true, true, 0, 800, 1653, 2338, 24, {"p_1.png", "p_2.png"}},  // no box: 200 dpi, colour
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.box_w) + "x" + std::to_string(c.box_h));
    fs::remove_all(out_);
    fs::create_directories(out_);
    std::optional<shm::SharedBlock> block;
    if (c.block) block = StoreImageOptions(4, c.mono, c.box_w, c.box_h, 0);
    ASSERT_EQ(lib_.Convert(1, (out_ / "p.png").string(), TwoPages()), 1);
    ASSERT_EQ(Names(out_), c.files);
    auto first = ReadPng(out_ / c.files[0]);
    auto second = ReadPng(out_ / c.files[1]);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->bits, c.bits);
    CheckPortrait(*first, c.w, c.h);
    CheckLandscape(*second, c.h, c.w, !c.mono || c.box_w == 0);
  }
}

TEST_F(LumbrelTest, PdfHoldsEachPageAsPictureAndText) {
  const fs::path pdf = out_ / "doc.pdf";
  ASSERT_EQ(lib_.Convert(100, pdf.string(), TwoPages()), 1);
  EXPECT_EQ(RunCommand("qpdf --check " + Quote(pdf)).status, 0);
  const std::string info = RunCommand("pdfinfo " + Quote(pdf)).out;
  EXPECT_THAT(info, ::testing::HasSubstr("Pages:           2"));
  EXPECT_THAT(info, ::testing::HasSubstr("1653 x 2338 pts"));
  const std::string text = RunCommand("pdftotext " + Quote(pdf) + " -").out;
  EXPECT_THAT(text, ::testing::HasSubstr("Hello"));
  // One unit a pixel: at 72 dpi the pages render at their pixel size.
  const fs::path png = out_ / "r";
  ASSERT_EQ(RunCommand("pdftoppm -r 72 -png " + Quote(pdf) + " " + Quote(png)).status, 0);
  auto first = ReadPng(out_ / "r-1.png");
  auto second = ReadPng(out_ / "r-2.png");
  ASSERT_TRUE(first && second);
  CheckPortrait(*first, 1653, 2338);
  CheckLandscape(*second, 2338, 1653);
  // The picture carries no text: the text is there once, as PDF text.
  const std::string bytes = ReadFile(pdf);
  EXPECT_NE(bytes.find("(Hello)Tj"), std::string::npos);
  // The page pictures were removed after the file was closed.
  EXPECT_TRUE(fs::is_empty(root_.path() / "tmp"));
}

// The text operations of a PDF file: each "x y TD ... (text)Tj".
struct TextOp {
  int x, y;
  std::string text;
};
std::vector<TextOp> TextOps(const std::string& pdf) {
  std::vector<TextOp> ops;
  static const std::regex op(R"((-?\d+) (-?\d+) TD\r\n[^(]*\(([^)]*)\)Tj)");
  for (auto it = std::sregex_iterator(pdf.begin(), pdf.end(), op); it != std::sregex_iterator(); ++it) {
    ops.push_back(TextOp{std::stoi((*it)[1]), std::stoi((*it)[2]), (*it)[3]});
  }
  return ops;
}

// The width of `text` in Arial 100 units high, in logical units.
int ArialWidth(const std::string& text) {
  auto bitmap = gdi::MemoryBitmap::Create(10, 10);
  (*bitmap)->dc().SelectFont(gdi::Font{gdi::MakeLogFont("Arial", -100)});
  win::SIZE size{};
  (*bitmap)->dc().GetTextExtentPoint32A(text, &size);
  return size.cx;
}

TEST_F(LumbrelTest, PdfTextJoinsNeighbouringCharactersAndFollowsAlignment) {
  const int wa = ArialWidth("A");
  ASSERT_GT(wa, 0);
  const double scale = 1653.0 / 2480;
  struct Case {
    const char* name;
    std::vector<jobdoc::CharListItem> items;
    std::vector<std::string> runs;
    std::string face = "Arial";
    std::string base_font = "/BaseFont /Arial";
  } cases[] = {
      {"adjacent", {{1000, 1000, 'A', 0, 0}, {1000 + wa, 1000, 'B', 0, 0}}, {"AB"}},
      // A gap of a word space on the line is a space in the text; a far one ends the run.
      {"a word apart", {{1000, 1000, 'A', 0, 0}, {1000 + wa + 60, 1000, 'B', 0, 0}}, {"A B"}},
      {"far apart", {{1000, 1000, 'A', 0, 0}, {1000 + wa + 400, 1000, 'B', 0, 0}}, {"A ", "B"}},
      {"overlapping", {{1000, 1000, 'A', 0, 0}, {1000 + wa - 20, 1000, 'B', 0, 0}}, {"A", "B"}},
      {"other line", {{1000, 1000, 'A', 0, 0}, {1000 + wa, 1100, 'B', 0, 0}}, {"A", "B"}},
      // A face the writer does not know is written in its "System" font (a Type0 font).
      {"unknown face", {{1000, 1000, 'A', 0, 0}}, {"A"}, "NoSuchFace", "/Subtype /Type0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TestPage page = testing::CharListPage(c.items, c.face);
    const fs::path pdf = out_ / (std::string(c.name) + ".pdf");
    ASSERT_EQ(lib_.Convert(100, pdf.string(), {page}), 1);
    const std::string bytes = ReadFile(pdf);
    std::vector<std::string> runs;
    for (const TextOp& op : TextOps(bytes)) runs.push_back(op.text);
    EXPECT_EQ(runs, c.runs);
    EXPECT_NE(bytes.find(c.base_font), std::string::npos) << c.base_font;
    EXPECT_EQ(bytes.find("NoSuchFace"), std::string::npos);
  }
  // Right-aligned text ends at its reference point (the page's centre).
  const fs::path pdf = out_ / "right.pdf";
  ASSERT_EQ(lib_.Convert(100, pdf.string(), {testing::RectanglePage(false, 0, "Hello", win::TA_RIGHT)}), 1);
  const std::vector<TextOp> ops = TextOps(ReadFile(pdf));
  ASSERT_EQ(ops.size(), 1u);
  EXPECT_NEAR(ops[0].x + ArialWidth("Hello") * scale, 1240 * scale, 3);
}

TEST_F(LumbrelTest, CapturedTextWithAdvancesKeepsItsWordsApartInThePdf) {
  // A line as an application draws it with its own advances, captured (re-recorded) and
  // saved as PDF. Liberation Serif and IPAGothic are not among the writer's fonts, whose
  // stand-in is wider than they are.
  struct Case {
    const char* name;
    const char* face;
    std::u16string text;
    bool gaps_only;  // no space glyphs: the words are apart by their advances alone
  } cases[] = {
      {"space glyphs", "Liberation Serif", u"This letter was printed", false},
      {"gaps only", "Liberation Serif", u"Thisletterwasprinted", true},
      {"gaps only, Japanese face", "IPAGothic", u"Thisletterwasprinted", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const win::LOGFONTW lf = gdi::MakeLogFont(c.face, -50);
    auto measure = gdi::MemoryBitmap::Create(10, 10, 24, 300);
    ASSERT_TRUE(measure.ok());
    (*measure)->dc().SelectFont(gdi::Font{lf});
    auto width = [&](std::u16string_view s) {
      win::SIZE size{};
      (*measure)->dc().GetTextExtentPoint32W(s, &size);
      return size.cx;
    };
    // Each advance a unit wider than the face's own, as a document's layout gives them.
    std::vector<win::LONG> dx;
    for (char16_t ch : c.text) dx.push_back(width(std::u16string(1, ch)) + 1);
    if (c.gaps_only) {
      for (std::size_t end : {3, 9, 12}) dx[end] += width(u" ");  // after "This", "letter", "was"
    }
    emf::Writer::Options o;
    o.device = {2480, 3508};
    o.millimeters = {210, 297};
    o.frame = win::RECTL{0, 0, 21000, 29700};
    emf::MetafileBuilder b(o);
    b.CreateFont(1, lf).SelectObject(1).SetBkMode(win::TRANSPARENT).ExtTextOutW(200, 400, c.text, 0, nullptr, dx);
    auto captured = capture::RerecordPage(b.Build(), capture::RerecordOptions{});
    ASSERT_TRUE(captured.ok()) << captured.status().ToString();
    const fs::path pdf = out_ / "words.pdf";
    ASSERT_EQ(lib_.Convert(100, pdf.string(), {TestPage{captured->bytes, testing::kA4Short, testing::kA4Long}}), 1);
    EXPECT_THAT(RunCommand("pdftotext " + Quote(pdf) + " -").out, ::testing::HasSubstr("This letter was printed"));
  }
}

// Text CP932 cannot hold stays wide text in the captured page: the saved PDF draws it in its
// picture and carries its characters, for readers of the PDF, whole words where the page has
// them, the text of glyphs drawn otherwise (a run clipped to nothing) too.
TEST_F(LumbrelTest, WideTextReachesTheSavedPdfAsCharacters) {
  struct Case {
    const char* name;
    const char* face;
    int charset;
    std::u16string text;
    bool hidden;
    const char* want;
  } cases[] = {
      {"European names", "Liberation Serif", 0, u"Gr\u00fc\u00dfe aus K\u00f6ln, J\u00fcrgen M\u00fcller", false,
       "Grüße aus Köln, Jürgen Müller"},
      {"symbols in a Latin face", "Liberation Sans", 0, u"1.250 \u20ac \u2212 5 \u2264 3 \u00d7 4", false,
       "1.250 € − 5 ≤ 3 × 4"},
      {"Korean", "IPAGothic", 1, u"\uc11c\uc6b8 \u5317\u4eac", false, "서울 北京"},
      {"glyphs drawn otherwise", "Liberation Serif", 0, u"na\u00efve caf\u00e9", true, "naïve café"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    win::LOGFONTW lf = gdi::MakeLogFont(c.face, -50, win::FW_NORMAL, false, static_cast<win::BYTE>(c.charset));
    emf::Writer::Options o;
    o.device = {2480, 3508};
    o.millimeters = {210, 297};
    o.frame = win::RECTL{0, 0, 21000, 29700};
    emf::MetafileBuilder b(o);
    const win::RECTL nowhere{200, 400, 200, 400};
    b.CreateFont(1, lf).SelectObject(1).SetBkMode(win::TRANSPARENT);
    b.ExtTextOutW(200, 400, c.text, c.hidden ? win::ETO_CLIPPED : 0, c.hidden ? &nowhere : nullptr);
    auto captured = capture::RerecordPage(b.Build(), capture::RerecordOptions{});
    ASSERT_TRUE(captured.ok()) << captured.status().ToString();
    const fs::path pdf = out_ / "wide.pdf";
    ASSERT_EQ(lib_.Convert(100, pdf.string(), {TestPage{captured->bytes, testing::kA4Short, testing::kA4Long}}), 1);
    EXPECT_THAT(RunCommand("pdftotext " + Quote(pdf) + " -").out, ::testing::HasSubstr(c.want));
  }
}

TEST_F(LumbrelTest, FailuresLeaveNothingBehind) {
  TestPage bad = testing::RectanglePage(false, 0);
  bad.metafile[40] ^= 0xFF;  // the header's signature
  TestPage empty = testing::RectanglePage(false, 0);
  empty.width = 0;
  TestPage huge = testing::RectanglePage(false, 0);
  huge.width = huge.height = 0xFFFFFFFF;  // 4 billion units at 200 dpi: over the pixel cap
  const TestPage good = testing::RectanglePage(false, 0);
  struct Case {
    const char* name;
    std::uint32_t type;
    std::string output;
    std::vector<TestPage> pages;
    std::vector<std::string> left;  // files in out_ afterwards
  } cases[] = {
      {"bad second page, BMP", 0, "f.bmp", {good, bad}, {"f_1.bmp"}},
      {"bad second page, TIFF", 4, "f.tif", {good, bad}, {}},
      {"page of size 0, JPEG", 5, "f.jpg", {empty}, {}},
      {"page over the cap, PNG", 1, "f.png", {huge}, {}},
      {"bad second page, PDF", 100, "f.pdf", {good, bad}, {}},
      {"page of size 0, PDF", 100, "f.pdf", {empty}, {}},
      {"missing folder, BMP", 0, "no/such/f.bmp", {good}, {}},
      {"missing folder, TIFF", 4, "no/such/f.tif", {good}, {}},
      {"missing folder, PDF", 100, "no/such/f.pdf", {good}, {}},
      {"no pages, PDF", 100, "f.pdf", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(out_);
    fs::create_directories(out_);
    EXPECT_EQ(lib_.Convert(c.type, (out_ / c.output).string(), c.pages), 0);
    EXPECT_EQ(Names(out_), c.left);
    EXPECT_TRUE(!fs::exists(root_.path() / "tmp") || fs::is_empty(root_.path() / "tmp"));
  }
  // A failed PDF conversion keeps the file that was there, and the next one succeeds.
  const fs::path pdf = out_ / "keep.pdf";
  pdf::testing::WriteFile(pdf, "old");
  EXPECT_EQ(lib_.Convert(100, pdf.string(), {good, bad}), 0);
  EXPECT_EQ(ReadFile(pdf), "old");
  EXPECT_EQ(lib_.Convert(100, pdf.string(), {good}), 1);
  EXPECT_EQ(RunCommand("qpdf --check " + Quote(pdf)).status, 0);
}

TEST(LumbrelSizes, PixelSizesAndTheirLimits) {
  struct Case {
    std::uint32_t w, h;
    int dpi, box_w, box_h;  // box 0: at dpi
    int pw, ph;             // 0: refused
  } cases[] = {
      {testing::kA4Short, testing::kA4Long, 200, 0, 0, 1653, 2338},
      {testing::kA4Short, testing::kA4Long, 120, 0, 0, 992, 1403},
      {testing::kA4Short, testing::kA4Long, 0, 800, 800, 565, 800},
      {testing::kA4Long, testing::kA4Short, 0, 800, 800, 800, 565},
      {testing::kA4Short, testing::kA4Long, 0, 800, 2000, 800, 1131},
      {0, testing::kA4Long, 200, 0, 0, 0, 0},
      {testing::kA4Short, testing::kA4Long, 0, 0, 800, 0, 0},
      {0xFFFFFFFF, 0xFFFFFFFF, 200, 0, 0, 0, 0},
      {100, 0xFFFFFFFF, 0, 800, 800, 0, 0},  // a sliver: the fitted width rounds to 0
  };
  for (const Case& c : cases) {
    Result<PixelSize> s =
        c.box_w || c.box_h ? SizeInBox(c.w, c.h, c.box_w, c.box_h) : SizeAtResolution(c.w, c.h, c.dpi);
    if (c.pw == 0) {
      EXPECT_FALSE(s.ok()) << c.w << "x" << c.h;
    } else {
      ASSERT_TRUE(s.ok()) << s.status().ToString();
      EXPECT_EQ(s->width, c.pw);
      EXPECT_EQ(s->height, c.ph);
    }
  }
}

}  // namespace
}  // namespace zv::lumbrel
