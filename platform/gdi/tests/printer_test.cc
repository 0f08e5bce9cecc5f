// The printer surface: pages of changing size, vector pages with text as text, and raster
// pages rendered band by band; checked by rendering the PDF back with poppler's tools.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/gdi/surfaces.h"
#include "platform/testing/temp_root.h"

namespace zv::gdi {
namespace {

std::string RunCommand(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// Reads a binary PPM (P6) and gives width, height and the RGB bytes.
bool ReadPpm(const std::string& path, int* w, int* h, std::vector<unsigned char>* rgb) {
  std::ifstream f(path, std::ios::binary);
  std::string magic;
  int maxv;
  if (!(f >> magic >> *w >> *h >> maxv) || magic != "P6") return false;
  f.get();
  rgb->resize(size_t(*w) * *h * 3);
  f.read(reinterpret_cast<char*>(rgb->data()), std::streamsize(rgb->size()));
  return bool(f);
}

TEST(PrinterTest, PagesOfTwoSizesVectorTextAndBandedRasterOperations) {
  testing::TempRoot root;
  const std::string pdf = (root.path() / "out.pdf").string();
  auto printer = PrinterSurface::Create(pdf, 100);
  ASSERT_TRUE(printer.ok()) << printer.status().ToString();
  (*printer)->set_band_rows(64);  // many bands on a small page
  // Page 1, A4 portrait at 100 dpi: a raster operation (inversion) needs the pixels.
  auto dc = (*printer)->StartPage(827, 1169);
  ASSERT_TRUE(dc.ok());
  EXPECT_EQ((*dc)->GetDeviceCaps(win::LOGPIXELSX), 100);
  EXPECT_EQ((*dc)->GetDeviceCaps(win::HORZRES), 827);
  (*dc)->SelectStockObject(win::NULL_PEN);
  (*dc)->SetROP2(win::R2_NOT);
  (*dc)->Rectangle(100, 100, 700, 1000);
  (*dc)->SetROP2(win::R2_COPYPEN);
  (*dc)->SelectBrush(Brush::Solid(win::RGB(255, 0, 0)));
  (*dc)->Rectangle(300, 300, 500, 500);
  ASSERT_TRUE((*printer)->EndPage().ok());
  // Page 2, landscape: text stays text.
  dc = (*printer)->StartPage(1169, 827);
  ASSERT_TRUE(dc.ok());
  (*dc)->SelectFont(Font{MakeLogFont("Arial", -40)});
  (*dc)->TextOutW(100, 100, u"Zelvora sheet");
  Dib green = EncodeDib(1, 1, std::vector<std::uint32_t>{0x00FF00}, 24);
  (*dc)->StretchDIBits(600, 400, 100, 100, 0, 0, 1, 1, green.ref(), win::SRCCOPY);
  auto pages = (*printer)->Close();
  ASSERT_TRUE(pages.ok());
  EXPECT_EQ(*pages, 2);
  ASSERT_TRUE(std::filesystem::exists(pdf));
  EXPECT_FALSE(std::filesystem::exists(pdf + ".tmp"));

  std::string info = RunCommand("pdfinfo -f 1 -l 2 '" + pdf + "' 2>&1");
  EXPECT_NE(info.find("Pages:           2"), std::string::npos) << info;
  EXPECT_NE(info.find("595.44 x 841.68"), std::string::npos) << info;
  EXPECT_NE(info.find("841.68 x 595.44"), std::string::npos) << info;
  EXPECT_NE(RunCommand("pdftotext -f 2 -l 2 '" + pdf + "' - 2>&1").find("Zelvora sheet"), std::string::npos);

  const std::string base = (root.path() / "p").string();
  RunCommand("pdftoppm -r 100 '" + pdf + "' '" + base + "' 2>&1");
  std::vector<std::string> ppms;
  for (const auto& e : std::filesystem::directory_iterator(root.path())) {
    if (e.path().extension() == ".ppm") ppms.push_back(e.path().string());
  }
  std::sort(ppms.begin(), ppms.end());
  ASSERT_EQ(ppms.size(), 2u);
  int w = 0, h = 0;
  std::vector<unsigned char> rgb;
  ASSERT_TRUE(ReadPpm(ppms[1], &w, &h, &rgb)) << ppms[1];
  EXPECT_EQ(w, 1169);
  {
    size_t i = (size_t(450) * w + 650) * 3;
    EXPECT_EQ(rgb[i], 0);
    EXPECT_EQ(rgb[i + 1], 255);  // the bitmap on the vector page
  }
  ASSERT_TRUE(ReadPpm(ppms[0], &w, &h, &rgb)) << ppms[0];
  auto at = [&](int x, int y) {
    size_t i = (size_t(y) * w + x) * 3;
    return (unsigned(rgb[i]) << 16) | (unsigned(rgb[i + 1]) << 8) | rgb[i + 2];
  };
  EXPECT_EQ(w, 827);
  EXPECT_EQ(at(150, 150), 0x000000u);  // inverted white
  EXPECT_EQ(at(400, 400), 0xFF0000u);  // drawn over it
  EXPECT_EQ(at(50, 50), 0xFFFFFFu);
  EXPECT_EQ(at(150, 1050), 0xFFFFFFu);
}

TEST(PrinterTest, RefusesBadArguments) {
  testing::TempRoot root;
  EXPECT_FALSE(PrinterSurface::Create((root.path() / "x.pdf").string(), 0).ok());
  EXPECT_FALSE(PrinterSurface::Create((root.path() / "no" / "such" / "x.pdf").string(), 300).ok());
  auto p = PrinterSurface::Create((root.path() / "y.pdf").string(), 300);
  ASSERT_TRUE(p.ok());
  EXPECT_FALSE((*p)->StartPage(0, 10).ok());
  EXPECT_FALSE((*p)->EndPage().ok());
}

}  // namespace
}  // namespace zv::gdi
