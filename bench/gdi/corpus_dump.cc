// Writes what the drawing layer makes of the EMF corpus (emf_corpus.h), to compare the pixels
// of two builds: each page played into a 200 dpi bitmap as a binary PPM ("NN-name.ppm"), and the
// corpus printed at 300 dpi through the printer surface as it comes ("print.pdf") and with
// every page as pixels ("print-pixels.pdf"). Usage: gdi_corpus_dump FOLDER
#include <cstdio>
#include <string>

#include "bench/gdi/emf_corpus.h"
#include "platform/gdi/player.h"
#include "platform/gdi/surfaces.h"

namespace zv::gdi {
namespace {

bool WritePpm(const MemoryBitmap& bmp, int w, int h, const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fprintf(f, "P6\n%d %d\n255\n", w, h);
  std::string row(size_t(w) * 3, '\0');
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const std::uint32_t v = bmp.Pixel(x, y);
      row[size_t(x) * 3] = char((v >> 16) & 0xFF);
      row[size_t(x) * 3 + 1] = char((v >> 8) & 0xFF);
      row[size_t(x) * 3 + 2] = char(v & 0xFF);
    }
    std::fwrite(row.data(), 1, row.size(), f);
  }
  return std::fclose(f) == 0;
}

int Dump(const std::string& dir) {
  constexpr int kW200 = 1654, kH200 = 2339, kW300 = 2480, kH300 = 3508;
  for (const corpus::CorpusPage& page : corpus::Pages()) {
    auto bmp = MemoryBitmap::Create(kW200, kH200, 24, 200);
    if (!bmp.ok()) return 1;
    RECT dest{0, 0, kW200, kH200};
    if (!PlayMetafile((*bmp)->dc(), page.bytes, &dest).ok())
      std::fprintf(stderr, "%s: playback failed\n", page.name.c_str());
    if (!WritePpm(**bmp, kW200, kH200, dir + "/" + page.name + ".ppm")) return 1;
  }
  for (const bool pixels : {false, true}) {
    auto printer = PrinterSurface::Create(dir + (pixels ? "/print-pixels.pdf" : "/print.pdf"), 300);
    if (!printer.ok()) return 1;
    for (const corpus::CorpusPage& page : corpus::Pages()) {
      auto dc = (*printer)->StartPage(kW300, kH300);
      if (!dc.ok()) return 1;
      if (pixels) {
        (*dc)->SetROP2(win::R2_NOT);
        (*dc)->SetROP2(win::R2_COPYPEN);
      }
      RECT dest{0, 0, kW300, kH300};
      (void)PlayMetafile(**dc, page.bytes, &dest);
      if (!(*printer)->EndPage().ok()) return 1;
    }
    if (!(*printer)->Close().ok()) return 1;
  }
  return 0;
}

}  // namespace
}  // namespace zv::gdi

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: gdi_corpus_dump FOLDER\n");
    return 2;
  }
  return zv::gdi::Dump(argv[1]);
}
