// The assembly of a printed job's PDF from the files its sheets were drawn into, one file per
// worker (platform/gdi/printer.cc draws them).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/status.h"

namespace zv::gdi {

// A picture of a sheet (a band's tile or a picture over vectors) compressed by the worker that
// drew it: its samples packed as the PDF surface packs an opaque image (RGB, grey when every
// pixel is grey, one bit a pixel when every pixel is black or white) and deflated. The PDF
// surface is given a placeholder in its place (PicturePlaceholder) and writes it as it is;
// the assembly puts these samples in the placeholder's stream.
struct DeflatedPicture {
  std::string data;   // a zlib stream of the samples
  bool grey = false;  // /DeviceGray, else /DeviceRGB
  int bits = 8;       // bits a sample: 8, or 1
};

// Takes the first pixel of an opaque picture (cairo's RGB24), the pixels from one row to the
// next, its width and height; gives its samples packed and deflated.
DeflatedPicture DeflatePixels(const std::uint32_t* px, int stride, int width, int height);

// Takes the index of a picture in its file's list, its width and height; gives the bytes of
// a stand-in JPEG header that names it. Given to cairo as the image's JPEG data, it is written
// as the image's stream without cairo compressing a pixel.
std::string PicturePlaceholder(std::uint32_t index, int width, int height);

// One worker's file of drawn sheets: on disk at `path`, or held in memory (`held`, with
// `path` as its name in messages).
struct SheetSource {
  std::string path;
  bool on_disk = false;
  const std::string* held = nullptr;
  int pages = 0;  // 0: the worker drew nothing
  // The pictures its placeholders stand for, by index (nullptr: none).
  const std::vector<DeflatedPicture>* pictures = nullptr;
};

// Where one sheet of the job lies: the index of its file and its page there.
struct SheetPlace {
  int file = -1;
  int page = -1;
};

// Takes the workers' files, the job's sheets in order and the output path; writes the sheets
// as one PDF there: page objects and their streams copied as they are (nothing decoded or
// compressed again), what pages of one file share (fonts, above all) copied once, and fonts
// equal in two files written once; placeholders replaced by the pictures they stand for. The
// files are read on as many cores. Gives IOError when a file cannot be read, a sheet or a
// picture is missing or the output cannot be written.
Status AssembleSheets(const std::vector<SheetSource>& files, const std::vector<SheetPlace>& sheets,
                      const std::string& out);

}  // namespace zv::gdi
