// The printer surface: pages of changing size, vector pages with text as text, and raster
// pages rendered band by band; checked by rendering the PDF back with poppler's tools.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/fs/files.h"
#include "platform/gdi/surfaces.h"
#include "platform/testing/artifacts.h"
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
  // The page is printed as pictures; its text still reaches readers of the PDF, without ink
  // of its own.
  (*dc)->SelectFont(Font{MakeLogFont("Arial", -30)});
  (*dc)->SetTextColor(win::RGB(0, 0, 255));
  (*dc)->TextOutW(120, 1050, u"Picture sheet M\u00fcller");
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
  EXPECT_NE(RunCommand("pdftotext -enc UTF-8 -f 1 -l 1 '" + pdf + "' - 2>&1").find("Picture sheet Müller"),
            std::string::npos);

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

// An office page at 300 dpi: a coloured title band, lines of Japanese and Latin text and a
// grid, with `finish` drawing the raster work over it.
void DrawOfficePage(DeviceContext& dc, const std::function<void(DeviceContext&)>& finish) {
  dc.SetBkMode(win::TRANSPARENT);
  dc.SelectBrush(Brush::Solid(win::RGB(200, 220, 255)));
  dc.Rectangle(150, 150, 2330, 330);
  const Font fonts[] = {Font{MakeLogFont("IPAMincho", -42, win::FW_NORMAL, false, win::SHIFTJIS_CHARSET)},
                        Font{MakeLogFont("Liberation Sans", -38)}};
  const std::u16string lines[] = {u"見積書 下記の通りお見積り申し上げます。納期：受注後二週間以内",
                                  u"Item 0042  Office print control licence, 25 seats   12,500 JPY"};
  for (int line = 0; line < 60; ++line) {
    dc.SelectFont(fonts[line % 2]);
    dc.TextOutW(150, 400 + line * 50, lines[line % 2]);
  }
  Pen pen;
  pen.width = 2;
  dc.SelectPen(pen);
  for (int i = 0; i < 20; ++i) {
    dc.MoveToEx(150, 400 + i * 150);
    dc.LineTo(2330, 400 + i * 150);
  }
  finish(dc);
}

struct Raster {
  int w = 0, h = 0;
  std::vector<unsigned char> rgb;
  const unsigned char* at(int x, int y) const { return &rgb[(size_t(y) * w + x) * 3]; }
};

// Prints one page (in bands of `band_rows` when drawn as pixels, unless 0); gives the PDF's
// size and, when asked, its page rasterised by poppler.
std::uintmax_t PrintPage(const std::filesystem::path& dir, const std::string& name, int dpi, int w, int h,
                         const std::function<void(DeviceContext&)>& draw, Raster* out = nullptr, int band_rows = 0) {
  const std::string pdf = (dir / (name + ".pdf")).string();
  auto printer = PrinterSurface::Create(pdf, dpi);
  EXPECT_TRUE(printer.ok());
  if (!printer.ok()) return 0;
  if (band_rows > 0) (*printer)->set_band_rows(band_rows);
  auto dc = (*printer)->StartPage(w, h);
  EXPECT_TRUE(dc.ok());
  if (!dc.ok()) return 0;
  draw(**dc);
  EXPECT_TRUE((*printer)->Close().ok());
  if (out) {
    const std::string base = (dir / name).string();
    RunCommand("pdftoppm -r " + std::to_string(dpi) + " -singlefile '" + pdf + "' '" + base + "' 2>&1");
    EXPECT_TRUE(ReadPpm(base + ".ppm", &out->w, &out->h, &out->rgb)) << base;
  }
  return std::filesystem::file_size(pdf);
}

TEST(PrinterTest, RasterOperationsBecomePicturesOfTheAreasTheyTouch) {
  testing::TempRoot root;
  struct Work {
    const char* name;
    std::function<void(DeviceContext&)> draw;
    std::vector<RECT> areas;  // device pixels the raster operations change
  };
  const Work works[] = {
      // An inverted title band: text and lines beneath become white on dark; and a thin
      // band over the tops of a line's letters, whose baseline lies below it.
      {"title",
       [](DeviceContext& dc) {
         dc.PatBlt(150, 150, 1000, 180, win::DSTINVERT);
         dc.PatBlt(150, 500, 1000, 18, win::DSTINVERT);
       },
       {{150, 150, 1150, 330}, {150, 500, 1150, 518}}},
      // Inverted lines of text, a pattern inverted over text with a red box drawn into it
      // afterwards, and a region inverted across the grid and a line of text running upwards.
      {"spots",
       [](DeviceContext& dc) {
         Font up{MakeLogFont("Liberation Sans", -38)};
         up.lf.lfEscapement = up.lf.lfOrientation = 900;
         dc.SelectFont(up);
         dc.TextOutW(750, 2780, u"Upwards through the inverted box");
         dc.PatBlt(140, 390, 1200, 110, win::DSTINVERT);
         dc.SelectBrush(Brush::Solid(win::RGB(255, 0, 0)));
         dc.PatBlt(1800, 1600, 400, 300, win::PATINVERT);
         dc.SelectStockObject(win::NULL_PEN);
         dc.Rectangle(1900, 1700, 2100, 2000);
         dc.InvertRgn(Region(RECT{600, 2500, 900, 2800}));
       },
       {{140, 390, 1340, 500}, {1800, 1600, 2200, 1900}, {600, 2500, 900, 2800}}},
  };
  constexpr int kW = 2480, kH = 3508;  // A4 at 300 dpi
  for (const Work& work : works) {
    SCOPED_TRACE(work.name);
    // The page as pixels, as a page with a binary raster operation of the pen selected is
    // printed (one picture of the whole page).
    auto pixels = MemoryBitmap::Create(kW, kH, 24, 300);
    ASSERT_TRUE(pixels.ok());
    DrawOfficePage((*pixels)->dc(), work.draw);
    // The whole page as a picture in bands of 32 MiB, as it was printed before raster areas
    // became pictures of their own, gives the size to compare with.
    Raster whole, parts;
    const std::uintmax_t whole_size = PrintPage(
        root.path(), std::string(work.name) + "-whole", 300, kW, kH,
        [&](DeviceContext& dc) {
          dc.SetROP2(win::R2_NOT);
          dc.SetROP2(win::R2_COPYPEN);
          DrawOfficePage(dc, work.draw);
        },
        &whole, (32 << 20) / (4 * kW));
    const std::uintmax_t parts_size = PrintPage(
        root.path(), std::string(work.name) + "-parts", 300, kW, kH,
        [&](DeviceContext& dc) { DrawOfficePage(dc, work.draw); }, &parts);
    EXPECT_LE(parts_size * 5, whole_size) << parts_size << " against " << whole_size;
    Raster want{kW, kH, {}};
    want.rgb.resize(size_t(kW) * kH * 3);
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        const std::uint32_t v = (*pixels)->Pixel(x, y);
        unsigned char* q = &want.rgb[(size_t(y) * kW + x) * 3];
        q[0] = (v >> 16) & 0xFF, q[1] = (v >> 8) & 0xFF, q[2] = v & 0xFF;
      }
    }
    // Both printed pages are the page's pixels within anti-aliasing: each pixel of either
    // rendering lies within the colours of the other's pixels around it (a pixel each way, and
    // a little more).
    auto within = [&](const Raster& a, const Raster& b, int x, int y) {
      constexpr int kSlack = 24;
      for (int c = 0; c < 3; ++c) {
        int lo = 255, hi = 0;
        for (int ny = std::max(0, y - 1); ny <= std::min(kH - 1, y + 1); ++ny) {
          for (int nx = std::max(0, x - 1); nx <= std::min(kW - 1, x + 1); ++nx) {
            lo = std::min<int>(lo, b.at(nx, ny)[c]);
            hi = std::max<int>(hi, b.at(nx, ny)[c]);
          }
        }
        if (a.at(x, y)[c] < lo - kSlack || a.at(x, y)[c] > hi + kSlack) return false;
      }
      return true;
    };
    // The area a pixel lies in, or -1.
    auto area_of = [&](int x, int y) {
      for (size_t i = 0; i < work.areas.size(); ++i) {
        const RECT& r = work.areas[i];
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return int(i);
      }
      return -1;
    };
    for (const Raster* printed : {&whole, &parts}) {
      SCOPED_TRACE(printed == &whole ? "whole page as a picture" : "pictures of the raster areas");
      ASSERT_EQ(printed->w, kW);
      ASSERT_EQ(printed->h, kH);
      std::vector<long> misses_inside(work.areas.size(), 0);
      long misses_outside = 0, inked = 0;
      for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
          const bool miss = !within(*printed, want, x, y) || !within(want, *printed, x, y);
          if (const int a = area_of(x, y); a >= 0) {
            misses_inside[size_t(a)] += miss;
          } else {
            misses_outside += miss;
            inked += want.at(x, y)[0] != 0xFF;
          }
        }
      }
      // The reader resamples a grey picture by a fraction of a pixel and draws vector text
      // with hinting of its own: a few edge pixels stray further (about 1% of the pictures'
      // pixels, 2% of the ink elsewhere); a picture placed wrong, missing or without the
      // drawing beneath it misses most of its pixels.
      for (size_t i = 0; i < work.areas.size(); ++i) {
        const RECT& r = work.areas[i];
        const long pixels_in = long(r.right - r.left) * (r.bottom - r.top);
        EXPECT_LT(misses_inside[i] * 40, pixels_in) << "area " << i << ": " << misses_inside[i] << " of " << pixels_in;
      }
      EXPECT_LT(misses_outside * 20, inked) << misses_outside << " of " << inked;
    }
    // The raster work shows: the inverted band is dark where it was light blue.
    const RECT first = work.areas.front();
    const unsigned char* p = parts.at(first.left + 5, first.bottom - 5);
    EXPECT_LT(int(p[0]) + p[1] + p[2], 3 * 128);
  }
}

// A dark sheet printed as one picture, by either road to it (a binary raster operation of the
// pen, or more raster areas than pictures are worth), with inverted bars of odd heights across
// it: read back at the printer's resolution every pixel is the dark or the inverted colour, so
// no white row, column or hairline shows at the joins of bands or tiles nor along the sheet's
// edges, and every row of each bar, its first and last included, is inverted whole.
TEST(PrinterTest, WholeSheetPicturesHaveNoSeams) {
  testing::TempRoot root;
  constexpr int kDark = 40;
  struct Road {
    const char* name;
    bool pen_rop;
    int bars;
  };
  const Road roads[] = {{"binary raster operation", true, 3}, {"many areas", false, 20}};
  for (const int dpi : {300, 600}) {
    const int w = 2480 * dpi / 300, h = 3508 * dpi / 300;  // A4
    for (const Road& road : roads) {
      SCOPED_TRACE(std::string(road.name) + " at " + std::to_string(dpi) + " dpi");
      // Bars far enough apart to stay pictures of their own, each of a height that is no
      // multiple of anything, the last one at the sheet's bottom edge.
      std::vector<RECT> bars;
      for (int i = 0; i < road.bars; ++i) {
        const int top = (i + 1) * (h - 200) / (road.bars + 1), left = (i % 4) * (w / 4) + 37;
        bars.push_back(RECT{left, top, left + w / 5, top + 37 + i * 3});
      }
      bars.push_back(RECT{w / 2, h - 53, w / 2 + 301, h});
      Raster printed;
      PrintPage(
          root.path(), "dark-" + std::to_string(dpi) + (road.pen_rop ? "-rop" : "-areas"), dpi, w, h,
          [&](DeviceContext& dc) {
            if (road.pen_rop) {
              dc.SetROP2(win::R2_NOT);
              dc.SetROP2(win::R2_COPYPEN);
            }
            dc.SelectBrush(Brush::Solid(win::RGB(kDark, kDark, kDark)));
            dc.PatBlt(0, 0, w, h, win::PATCOPY);
            for (const RECT& b : bars) dc.PatBlt(b.left, b.top, b.right - b.left, b.bottom - b.top, win::DSTINVERT);
          },
          &printed);
      ASSERT_EQ(printed.w, w);
      ASSERT_EQ(printed.h, h);
      std::vector<int> bad_rows(size_t(h), 0), bad_cols(size_t(w), 0);
      long bad = 0;
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          // The pictures are painted pixel for pixel: every row and column of a bar, its first
          // and last among them, is inverted whole, and nothing beside it.
          const bool in_bar = std::any_of(bars.begin(), bars.end(), [&](const RECT& b) {
            return x >= b.left && x < b.right && y >= b.top && y < b.bottom;
          });
          const int want = in_bar ? 255 - kDark : kDark;
          const unsigned char* p = printed.at(x, y);
          if (std::any_of(p, p + 3, [&](int c) { return c < want - 24 || c > want + 24; })) {
            ++bad, ++bad_rows[size_t(y)], ++bad_cols[size_t(x)];
          }
        }
      }
      std::string rows, cols;
      for (int y = 0; y < h && rows.size() < 200; ++y) {
        if (bad_rows[size_t(y)]) rows += " " + std::to_string(y) + "(" + std::to_string(bad_rows[size_t(y)]) + ")";
      }
      for (int x = 0; x < w && cols.size() < 200; ++x) {
        if (bad_cols[size_t(x)] > 1) cols += " " + std::to_string(x) + "(" + std::to_string(bad_cols[size_t(x)]) + ")";
      }
      EXPECT_EQ(bad, 0) << "rows:" << rows << " columns:" << cols;
    }
  }
}

// Characters the chosen faces lack are printed from faces that have them, as text: pdftotext
// reads every one back, upright and turned lines alike.
TEST(PrinterTest, CharactersTheFaceLacksArePrintedAsText) {
  testing::TempRoot root;
  const std::string pdf = (root.path() / "chars.pdf").string();
  auto printer = PrinterSurface::Create(pdf, 100);
  ASSERT_TRUE(printer.ok()) << printer.status().ToString();
  auto dc = (*printer)->StartPage(827, 1169);
  ASSERT_TRUE(dc.ok());
  struct Line {
    const char* face;
    std::u16string text;
    const char* utf8;
    int escapement = 0;
  };
  const Line lines[] = {
      {"Liberation Mono", u"Жизнь カタカナ", "Жизнь カタカナ"},
      {"Courier New", u"Ωμέγα №→✓", "Ωμέγα №→✓"},
      {"Times New Roman", u"𝐀𝐁 漢字", "𝐀𝐁 漢字"},
      {"Arial", u"縦書きテスト", "縦書きテスト", 900},
  };
  int y = 100;
  for (const Line& l : lines) {
    LOGFONTW lf = MakeLogFont(l.face, -40);
    lf.lfEscapement = lf.lfOrientation = l.escapement;
    (*dc)->SelectFont(Font{lf});
    ASSERT_TRUE((*dc)->TextOutW(l.escapement ? 700 : 100, l.escapement ? 1000 : y, l.text));
    y += 80;
  }
  ASSERT_TRUE((*printer)->Close().ok());
  // The printed page, for a person to look at.
  RunCommand("pdftoppm -r 50 -png -singlefile '" + pdf + "' '" + zv::testing::ArtifactsDir() +
             "/gdi_printed_fallback_characters' 2>&1");
  std::string text = RunCommand("pdftotext -enc UTF-8 '" + pdf + "' - 2>&1");
  text.erase(std::remove_if(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c); }), text.end());
  for (const Line& l : lines) {
    std::string want = l.utf8;
    want.erase(std::remove(want.begin(), want.end(), ' '), want.end());
    EXPECT_NE(text.find(want), std::string::npos) << want << " in " << text;
  }
}

// A job of the sheets above (vector office pages, raster areas as pictures, whole sheets as
// pixels, turned text, a smaller sheet, characters from other faces) printed with its sheets
// rendered in parallel gives, sheet by sheet and in order, exactly the pixels (pdftoppm at 300
// dpi) and the text of the same job rendered one sheet after another into one PDF surface; the
// assembled file passes qpdf's check and is hardly larger.
TEST(PrinterTest, SheetsRenderedInParallelMatchTheSerialRoad) {
  testing::TempRoot root;
  constexpr int kW = 2480, kH = 3508;  // A4 at 300 dpi
  struct Sheet {
    int w, h;
    std::function<void(DeviceContext&)> draw;
  };
  const auto none = [](DeviceContext&) {};
  const auto title = [](DeviceContext& dc) {
    dc.PatBlt(150, 150, 1000, 180, win::DSTINVERT);
    dc.PatBlt(150, 500, 1000, 18, win::DSTINVERT);
  };
  // An office page with `finish` drawn over it, as pixels (a binary raster operation of the
  // pen selected first) when asked.
  const auto office = [](std::function<void(DeviceContext&)> finish, bool as_pixels = false) {
    return [=](DeviceContext& dc) {
      if (as_pixels) {
        dc.SetROP2(win::R2_NOT);
        dc.SetROP2(win::R2_COPYPEN);
      }
      DrawOfficePage(dc, finish);
    };
  };
  const std::vector<Sheet> sheets = {
      {kW, kH, office(none)},
      {kW, kH, office(title)},
      {kW, kH, office(title, true)},
      {kH, kW,
       [](DeviceContext& dc) {
         Font up{MakeLogFont("Liberation Sans", -60)};
         up.lf.lfEscapement = up.lf.lfOrientation = 900;
         dc.SelectFont(up);
         dc.TextOutW(300, 2000, u"Turned sheet 横向き");
         dc.SelectFont(Font{MakeLogFont("Liberation Mono", -50)});
         dc.TextOutW(600, 300, u"Жизнь カタカナ Ωμέγα №→✓");
         Dib green = EncodeDib(1, 1, std::vector<std::uint32_t>{0x00FF00}, 24);
         dc.StretchDIBits(1800, 900, 300, 300, 0, 0, 1, 1, green.ref(), win::SRCCOPY);
       }},
      {1748, 2480, office([](DeviceContext& d) {
         d.InvertRgn(Region(RECT{600, 900, 900, 1200}));
       })},
      {kW, kH, office(none)},
      {kW, kH, office(none, true)},
      {kW, kH, office(title)},
  };
  auto print = [&](const std::string& name, bool serial) {
    const std::string pdf = (root.path() / (name + ".pdf")).string();
    auto printer = PrinterSurface::Create(pdf, 300);
    EXPECT_TRUE(printer.ok());
    if (!printer.ok()) return pdf;
    (*printer)->set_serial(serial);
    for (const Sheet& sheet : sheets) {
      auto dc = (*printer)->StartPage(sheet.w, sheet.h);
      EXPECT_TRUE(dc.ok());
      if (!dc.ok()) return pdf;
      sheet.draw(**dc);
      EXPECT_TRUE((*printer)->EndPage().ok());
    }
    auto pages = (*printer)->Close();
    EXPECT_TRUE(pages.ok());
    EXPECT_EQ(pages.ok() ? *pages : 0, int(sheets.size()));
    EXPECT_FALSE(std::filesystem::exists(pdf + ".tmp"));
    return pdf;
  };
  const std::string serial = print("serial", true), parallel = print("parallel", false);
  const std::string check = RunCommand("qpdf --check '" + parallel + "' 2>&1");
  EXPECT_NE(check.find("No syntax or stream encoding errors found"), std::string::npos) << check;
  EXPECT_EQ(check.find("WARNING"), std::string::npos) << check;
  EXPECT_LE(std::filesystem::file_size(parallel) * 10, std::filesystem::file_size(serial) * 11)
      << std::filesystem::file_size(parallel) << " against " << std::filesystem::file_size(serial);
  EXPECT_EQ(RunCommand("pdftotext -enc UTF-8 '" + parallel + "' - 2>&1"),
            RunCommand("pdftotext -enc UTF-8 '" + serial + "' - 2>&1"));
  for (size_t i = 1; i <= sheets.size(); ++i) {
    SCOPED_TRACE("sheet " + std::to_string(i));
    std::string ppm[2];
    for (int road = 0; road < 2; ++road) {
      const std::string base = (root.path() / (road ? "p" : "s")).string();
      RunCommand("pdftoppm -r 300 -f " + std::to_string(i) + " -l " + std::to_string(i) + " -singlefile '" +
                 (road ? parallel : serial) + "' '" + base + "' 2>&1");
      auto bytes = fs::ReadFile(base + ".ppm");
      ppm[road] = bytes.ok() ? *bytes : std::string();
      std::filesystem::remove(base + ".ppm");
    }
    ASSERT_GT(ppm[0].size(), 1000u);
    EXPECT_TRUE(ppm[0] == ppm[1]) << "the sheet's pixels differ";
  }
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
