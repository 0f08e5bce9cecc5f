// The converters of the conversion library as C++ functions over checked pages: the raster
// converter (BMP, TIFF, JPEG by the output path's extension), the PNG converter and the PDF
// converter. The exported converter functions (lumbrel.h) wrap them.
//
// Pages are drawn at a chosen size into a bitmap through the repairing page playback that the
// viewer uses, then written out. Sizes are worked out in 64 bits; a page whose size is 0 or
// whose bitmap would exceed kMaxPixels fails cleanly.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "capture/lumbrel/image_options.h"
#include "platform/base/status.h"
#include "platform/gdi/surfaces.h"

namespace zv::lumbrel {

// One page: its metafile's bytes and its size in 1/28800 inch.
struct Page {
  std::span<const std::uint8_t> metafile;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

inline constexpr std::int64_t kMaxPixels = 200'000'000;
inline constexpr int kDefaultDpi = 200;
inline constexpr int kUnitsPerInch = 28800;
inline constexpr int kJpegQuality = 100;

enum class RasterFormat { kBmp, kTiff, kJpeg };

// An output text split into its resolution and its path.
struct RasterOutput {
  int dpi = kDefaultDpi;
  std::string path;
};

// Takes the output text of the raster converter; gives the resolution of a leading
// three-digit prefix ("120", "060", "015") and the path after it, or kDefaultDpi and the
// whole text when it does not start with three digits.
RasterOutput SplitResolution(std::string_view text);

// Takes a path; gives the format its extension names: ".tif" TIFF, ".jpg" JPEG, compared
// without regard to case; anything else BMP.
RasterFormat FormatOf(std::string_view path);

struct PixelSize {
  int width = 0;
  int height = 0;
};

// Takes a page size (1/28800 inch) and a resolution; gives size x dpi / 28800 each way.
// InvalidArgument when either side is 0 or the bitmap exceeds kMaxPixels.
Result<PixelSize> SizeAtResolution(std::uint32_t width, std::uint32_t height, int dpi);

// Takes a page size and a box in pixels; gives the largest size of the page's proportions
// that fits the box (one side fills it). InvalidArgument as above.
Result<PixelSize> SizeInBox(std::uint32_t width, std::uint32_t height, int box_width, int box_height);

// Takes the naming flags and a page index (0 first); gives what follows the base name of
// that page's file: "" for the first page when bit 0 is set, else "_" and the page number in
// the width that bits 1 and 2 choose.
std::string PageSuffix(std::uint8_t naming, int index);

// Takes a page's metafile, the bitmap size, the bit count (24 or 1: black and white) and the
// resolution the page is drawn at; gives the page drawn on a white bitmap through the
// repairing playback. Corruption when the bytes are no metafile; InvalidArgument for a bad
// size; IOError when the bitmap cannot be allocated.
Result<std::unique_ptr<gdi::MemoryBitmap>> RenderPage(std::span<const std::uint8_t> metafile, PixelSize size, int bits,
                                                      int dpi);

// The raster converter. Takes the output text (see SplitResolution), the pages and the
// options of slot 3's block (none when the slot has no block). Writes one BMP or JPEG file
// per page, "<base>_<n><ext>" by the naming flags, or one TIFF file with a page each; the
// options give the monochrome and naming flags when their box height is not 0. Each file is
// written under the working name "<name>.$$$" and renamed into place when complete. Stops at
// the first page that fails and gives its error; the working file is removed, files of
// earlier pages stay, a TIFF file is not made.
Status ConvertToRaster(std::string_view output, std::span<const Page> pages,
                       const std::optional<ImageOptions>& options);

// The PNG converter. Takes the output path, the pages and the options of slot 4's block.
// With options whose box width and height are both set, each page is fitted into that box
// with the options' monochrome and naming flags; otherwise pages are drawn at 200 dots per
// inch, 24 bits, numbered from 1. Files and failures as ConvertToRaster.
Status ConvertToPng(std::string_view output, std::span<const Page> pages, const std::optional<ImageOptions>& options);

// The PDF converter. Takes the output path and the pages; writes one PDF file through the
// PDF writer (libquorvel), each page at 200 dots per inch as a JPEG picture of everything
// but its text, with the text of the page's private text records above it as PDF text in the
// writer's built-in fonts, clipped as the page clips it. Temporary JPEG files live in a
// private folder under the runtime root's temporary folder and are removed in every case.
// Any failing page fails the whole conversion and leaves no file; an existing file of that
// path is replaced only by a complete document.
Status ConvertToPdf(std::string_view output, std::span<const Page> pages);

}  // namespace zv::lumbrel
