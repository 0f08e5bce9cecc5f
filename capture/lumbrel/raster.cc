// The raster and PNG converters: each page drawn into a bitmap and written as an image file.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "capture/lumbrel/convert.h"
#include "capture/lumbrel/image_files.h"
#include "platform/base/ascii.h"
#include "platform/gdi/emf/reader.h"
#include "viewer/playback/playback.h"

namespace zv::lumbrel {

namespace {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

constexpr std::string_view kWorkExtension = ".$$$";

// A path cut into the part before its extension and the extension (with its dot; empty
// when the last name has none).
struct PathParts {
  std::string base;
  std::string extension;
};

PathParts SplitExtension(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
    return {std::string(path), ""};
  }
  return {std::string(path.substr(0, dot)), std::string(path.substr(dot))};
}

Result<PixelSize> Checked(std::int64_t w, std::int64_t h) {
  if (w <= 0 || h <= 0) return Status::InvalidArgument("page of size 0");
  if (w > kMaxPixels || h > kMaxPixels || w * h > kMaxPixels) {
    return Status::InvalidArgument("page bitmap larger than " + std::to_string(kMaxPixels) + " pixels");
  }
  return PixelSize{int(w), int(h)};
}

// The resolution a bitmap of `pixels` across a page `units` wide has, at least 1.
int EffectiveDpi(int pixels, std::uint32_t units) {
  if (units == 0) return kDefaultDpi;
  const std::int64_t dpi = (std::int64_t(pixels) * kUnitsPerInch + units / 2) / units;
  return int(std::clamp<std::int64_t>(dpi, 1, 1 << 20));
}

// Removes a working file; what is left of a failed page never stays behind.
void Discard(const std::string& path) { ::unlink(path.c_str()); }

Status MoveIntoPlace(const std::string& work, const std::string& final_path) {
  if (std::rename(work.c_str(), final_path.c_str()) != 0) {
    Discard(work);
    return Status::IOError("cannot rename " + work + " to " + final_path);
  }
  return Status::Ok();
}

Status WriteRaster(RasterFormat format, const std::string& path, const gdi::Dib& dib, int dpi) {
  switch (format) {
    case RasterFormat::kJpeg:
      return WriteJpeg(path, dib, dpi, kJpegQuality);
    case RasterFormat::kBmp:
      return WriteBmp(path, dib);
    case RasterFormat::kTiff:
      break;
  }
  return Status::InvalidArgument("TIFF pages are gathered by TiffWriter");
}

}  // namespace

RasterOutput SplitResolution(std::string_view text) {
  if (text.size() >= 3 && IsDigit(text[0]) && IsDigit(text[1]) && IsDigit(text[2])) {
    return {(text[0] - '0') * 100 + (text[1] - '0') * 10 + (text[2] - '0'), std::string(text.substr(3))};
  }
  return {kDefaultDpi, std::string(text)};
}

RasterFormat FormatOf(std::string_view path) {
  const std::string ext = SplitExtension(path).extension;
  if (EqualsNoCase(ext, ".tif")) return RasterFormat::kTiff;
  if (EqualsNoCase(ext, ".jpg")) return RasterFormat::kJpeg;
  return RasterFormat::kBmp;
}

Result<PixelSize> SizeAtResolution(std::uint32_t width, std::uint32_t height, int dpi) {
  if (dpi <= 0) return Status::InvalidArgument("resolution of 0 dots per inch");
  return Checked(std::int64_t(width) * dpi / kUnitsPerInch, std::int64_t(height) * dpi / kUnitsPerInch);
}

Result<PixelSize> SizeInBox(std::uint32_t width, std::uint32_t height, int box_width, int box_height) {
  if (width == 0 || height == 0 || box_width <= 0 || box_height <= 0) {
    return Status::InvalidArgument("page or box of size 0");
  }
  std::int64_t w = box_width;
  std::int64_t h = std::int64_t(height) * box_width / width;
  if (h > box_height) {
    h = box_height;
    w = std::int64_t(width) * box_height / height;
  }
  return Checked(w, h);
}

std::string PageSuffix(std::uint8_t naming, int index) {
  if ((naming & 1) != 0 && index == 0) return "";
  const int digits = (naming >> 1) & 3;
  char buf[32];
  std::snprintf(buf, sizeof(buf), "_%0*d", digits == 0 ? 1 : digits, index + 1);
  return buf;
}

Result<std::unique_ptr<gdi::MemoryBitmap>> RenderPage(std::span<const std::uint8_t> metafile, PixelSize size, int bits,
                                                      int dpi) {
  if (!emf::Metafile::Parse(metafile).ok()) return Status::Corruption("page is no metafile");
  Result<PixelSize> checked = Checked(size.width, size.height);
  if (!checked.ok()) return checked.status();
  std::vector<win::RGBQUAD> palette;
  if (bits == 1) palette = {win::RGBQUAD{0, 0, 0, 0}, win::RGBQUAD{255, 255, 255, 0}};
  Result<std::unique_ptr<gdi::MemoryBitmap>> bitmap =
      gdi::MemoryBitmap::Create(size.width, size.height, bits, dpi, palette);
  if (!bitmap.ok()) return bitmap.status();
  playback::PlaybackState state;
  state.resolution = dpi;
  state.text_scale = std::int64_t(size.width) * 1536 / std::max(dpi, 1);
  const win::RECT rect{0, 0, size.width, size.height};
  std::lock_guard<std::recursive_mutex> lock(playback::DrawingLock());
  if (playback::PlayRepaired(metafile, (*bitmap)->dc(), rect, state) == 0) {
    return Status::Corruption("page is no metafile");
  }
  return bitmap;
}

Status ConvertToRaster(std::string_view output, std::span<const Page> pages,
                       const std::optional<ImageOptions>& options) {
  if (pages.empty()) return Status::InvalidArgument("no pages");
  const RasterOutput out = SplitResolution(output);
  const PathParts parts = SplitExtension(out.path);
  if (parts.base.empty() || parts.base.back() == '/') {
    return Status::InvalidArgument("output path without a file name");
  }
  const RasterFormat format = FormatOf(out.path);
  int bits = 24;
  std::uint8_t naming = 0;
  if (options && options->box_height != 0) {
    bits = options->monochrome ? 1 : 24;
    naming = options->naming;
  }

  if (format == RasterFormat::kTiff) {
    // All pages go into one file, made under the working name and moved into place whole.
    const std::string final_path = parts.base + parts.extension;
    const std::string work = parts.base + std::string(kWorkExtension);
    // The old file goes first, so a failed conversion cannot leave last time's pages looking like
    // this job's result.
    Discard(final_path);
    Result<TiffWriter> tiff = TiffWriter::Create(work);
    if (!tiff.ok()) return tiff.status();
    for (const Page& page : pages) {
      Result<PixelSize> size = SizeAtResolution(page.width, page.height, out.dpi);
      Result<std::unique_ptr<gdi::MemoryBitmap>> bitmap =
          size.ok() ? RenderPage(page.metafile, *size, bits, out.dpi)
                    : Result<std::unique_ptr<gdi::MemoryBitmap>>(size.status());
      Status s = bitmap.ok() ? tiff->AddPage((*bitmap)->ToDib(), out.dpi) : bitmap.status();
      if (!s.ok()) {
        (void)tiff->Close();
        Discard(work);
        return s;
      }
    }
    Status s = tiff->Close();
    if (!s.ok()) {
      Discard(work);
      return s;
    }
    return MoveIntoPlace(work, final_path);
  }

  const std::string extension =
      (format == RasterFormat::kBmp && !EqualsNoCase(parts.extension, ".bmp")) ? ".bmp" : parts.extension;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const Page& page = pages[i];
    const std::string name = parts.base + PageSuffix(naming, int(i));
    // Written under a working name and renamed: a program watching the output folder never picks
    // up half a picture.
    const std::string work = name + std::string(kWorkExtension);
    Result<PixelSize> size = SizeAtResolution(page.width, page.height, out.dpi);
    if (!size.ok()) return size.status();
    Result<std::unique_ptr<gdi::MemoryBitmap>> bitmap = RenderPage(page.metafile, *size, bits, out.dpi);
    if (!bitmap.ok()) return bitmap.status();
    Status s = WriteRaster(format, work, (*bitmap)->ToDib(), out.dpi);
    if (!s.ok()) {
      Discard(work);
      return s;
    }
    s = MoveIntoPlace(work, name + extension);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

Status ConvertToPng(std::string_view output, std::span<const Page> pages, const std::optional<ImageOptions>& options) {
  if (pages.empty()) return Status::InvalidArgument("no pages");
  PathParts parts = SplitExtension(output);
  if (parts.base.empty() || parts.base.back() == '/') {
    return Status::InvalidArgument("output path without a file name");
  }
  if (parts.extension.empty()) parts.extension = ".png";
  const bool fit = options && options->box_width != 0 && options->box_height != 0;
  const int bits = fit && options->monochrome ? 1 : 24;
  const std::uint8_t naming = fit ? options->naming : 0;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const Page& page = pages[i];
    Result<PixelSize> size = fit ? SizeInBox(page.width, page.height, options->box_width, options->box_height)
                                 : SizeAtResolution(page.width, page.height, kDefaultDpi);
    if (!size.ok()) return size.status();
    const int dpi = fit ? EffectiveDpi(size->width, page.width) : kDefaultDpi;
    Result<std::unique_ptr<gdi::MemoryBitmap>> bitmap = RenderPage(page.metafile, *size, bits, dpi);
    if (!bitmap.ok()) return bitmap.status();
    const std::string name = parts.base + PageSuffix(naming, int(i));
    const std::string work = name + std::string(kWorkExtension);
    Status s = WritePng(work, (*bitmap)->ToDib(), dpi);
    if (!s.ok()) {
      Discard(work);
      return s;
    }
    s = MoveIntoPlace(work, name + parts.extension);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

}  // namespace zv::lumbrel
