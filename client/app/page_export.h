// Saving the document's pages as images or as one PDF file through the conversion library
// (liblumbrel, bound by name from the install's library folder <prefix>/lib), with the image options the save
// dialog keeps and the shared block of slot 3 the raster converter reads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "client/client_doc.h"
#include "platform/base/status.h"

namespace zv::client::app {

// The image save choices as the job list page remembers them: five digits (size, format,
// no number on the first image, fixed digits, digits choice) followed by the folder.
struct ImageSaveChoice {
  int size = 0;    // 0 large (120 dpi), 1 small (60), 2 thumbnail (15)
  int format = 0;  // 0 TIFF, 1 BMP, 2 JPEG
  bool no_number_first = false;
  bool fixed_digits = false;
  int digits = 0;  // 0, 1, 2 for 1, 2, 3 digits
  std::string folder;
};
// Takes the remembered text; gives the choices (digits out of range read as 0).
ImageSaveChoice ParseImageSaveText(std::string_view text);
std::string ComposeImageSaveText(const ImageSaveChoice& c);

// Gives the dots per inch of a size choice (120, 60, 15).
int SizeChoiceDpi(int size);
// Takes a page size in 1/28800 inch and a size choice; gives the image's pixels (truncated).
struct Pixels {
  int width = 0, height = 0;
};
Pixels ImagePixels(std::uint32_t width, std::uint32_t height, int size);

// Takes the choices and the document title; gives the converter's output text: the
// three-digit resolution, the folder, "/", the title made safe for a file name and the
// format's extension. The name never leaves the folder.
std::string ImageOutputText(const ImageSaveChoice& c, std::string_view title);

// Gives the 12-byte image options block of slot 3 for the choices and the first page's pixels.
std::string ImageOptionsBlock(const ImageSaveChoice& c, Pixels first_page);

// Takes the document, a converter type of the conversion library (0 BMP, 4 TIFF, 5 JPEG,
// 100 PDF) and the output text; hands every page's metafile and size to the converter.
// NotFound when the library or the converter cannot be had; IOError when it reports failure;
// InvalidArgument for a document without pages.
Status ExportPages(COstraneDoc& doc, std::uint32_t type, const std::string& output);

// Gives the first page's size in 1/28800 inch (0 x 0 without pages).
void FirstPageSize(COstraneDoc& doc, std::uint32_t* width, std::uint32_t* height);

}  // namespace zv::client::app
