#include "capture/lumbrel/image_files.h"

#include <csetjmp>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "platform/wintypes/gdi.h"

namespace zv::lumbrel {

namespace {

// The facts of a bitmap that the writers need, checked against its bytes.
struct DibView {
  int width = 0;
  int height = 0;
  int bits = 24;
  bool top_down = false;
  std::size_t stride = 0;
  const std::uint8_t* rows = nullptr;

  // Row y counted from the top of the picture.
  const std::uint8_t* Row(int y) const {
    const std::size_t r = top_down ? std::size_t(y) : std::size_t(height - 1 - y);
    return rows + r * stride;
  }
};

Result<DibView> View(const gdi::Dib& dib) {
  win::BITMAPINFOHEADER h{};
  if (dib.info.size() < sizeof(h)) return Status::InvalidArgument("bitmap header too short");
  std::memcpy(&h, dib.info.data(), sizeof(h));
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) {
    return Status::InvalidArgument("bitmap without pixels");
  }
  if ((h.biBitCount != 24 && h.biBitCount != 1) || h.biCompression != win::BI_RGB) {
    return Status::NotSupported("only 24-bit and 1-bit bitmaps are written");
  }
  DibView v;
  v.width = h.biWidth;
  v.top_down = h.biHeight < 0;
  v.height = v.top_down ? -h.biHeight : h.biHeight;
  v.bits = h.biBitCount;
  v.stride = ((std::size_t(v.width) * std::size_t(v.bits) + 31) / 32) * 4;
  if (dib.bits.size() / v.stride < std::size_t(v.height)) {
    return Status::InvalidArgument("bitmap rows shorter than its size");
  }
  v.rows = dib.bits.data();
  return v;
}

// Copies a 24-bit row (blue, green, red) as red, green, blue.
void BgrToRgb(const std::uint8_t* src, std::uint8_t* dst, int width) {
  for (int x = 0; x < width; ++x) {
    dst[3 * x] = src[3 * x + 2];
    dst[3 * x + 1] = src[3 * x + 1];
    dst[3 * x + 2] = src[3 * x];
  }
}

// Copies a 1-bit row as one grey byte a pixel (0 black, 255 white).
void BitsToGrey(const std::uint8_t* src, std::uint8_t* dst, int width) {
  for (int x = 0; x < width; ++x) dst[x] = (src[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
}

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

// The library's own error handler ends the process: this one jumps back to the writer, which
// reports the failure instead.
[[noreturn]] void OnJpegError(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1); }

// Its warnings would otherwise go to standard error of whatever process hosts the converter.
void QuietJpegMessage(j_common_ptr) {}

}  // namespace

Status WriteBmp(const std::string& path, const gdi::Dib& dib) {
  Result<DibView> v = View(dib);
  if (!v.ok()) return v.status();
  const std::uint64_t image = std::uint64_t(v->stride) * std::uint64_t(v->height);
  const std::uint64_t offset = 14 + dib.info.size();
  if (offset + image > UINT32_MAX) return Status::InvalidArgument("bitmap too large for a BMP file");
  std::uint8_t head[14] = {'B', 'M'};
  const std::uint32_t file_size = std::uint32_t(offset + image);
  const std::uint32_t bits_at = std::uint32_t(offset);
  std::memcpy(head + 2, &file_size, 4);
  std::memcpy(head + 10, &bits_at, 4);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return Status::IOError("cannot create " + path);
  bool ok = std::fwrite(head, 1, sizeof(head), f) == sizeof(head) &&
            std::fwrite(dib.info.data(), 1, dib.info.size(), f) == dib.info.size() &&
            std::fwrite(dib.bits.data(), 1, std::size_t(image), f) == std::size_t(image);
  ok = (std::fclose(f) == 0) && ok;
  return ok ? Status::Ok() : Status::IOError("cannot write " + path);
}

Status WritePng(const std::string& path, const gdi::Dib& dib, int dpi) {
  Result<DibView> v = View(dib);
  if (!v.ok()) return v.status();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return Status::IOError("cannot create " + path);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    std::fclose(f);
    return Status::IOError("cannot set up the PNG writer");
  }
  std::vector<std::uint8_t> row(v->bits == 1 ? 0 : std::size_t(v->width) * 3);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return Status::IOError("cannot write " + path);
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, png_uint_32(v->width), png_uint_32(v->height), v->bits == 1 ? 1 : 8,
               v->bits == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (dpi > 0) {
    const auto ppm = png_uint_32(dpi / 0.0254 + 0.5);
    png_set_pHYs(png, info, ppm, ppm, PNG_RESOLUTION_METER);
  }
  png_write_info(png, info);
  for (int y = 0; y < v->height; ++y) {
    if (v->bits == 1) {
      // PNG packs a 1-bit grey row as a bitmap row is packed, first pixel in the top bit, 1 white.
      png_write_row(png, v->Row(y));
    } else {
      BgrToRgb(v->Row(y), row.data(), v->width);
      png_write_row(png, row.data());
    }
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fclose(f) != 0) return Status::IOError("cannot write " + path);
  return Status::Ok();
}

Status WriteJpeg(const std::string& path, const gdi::Dib& dib, int dpi, int quality) {
  Result<DibView> v = View(dib);
  if (!v.ok()) return v.status();
  if (v->width > JPEG_MAX_DIMENSION || v->height > JPEG_MAX_DIMENSION) {
    return Status::InvalidArgument("bitmap too large for a JPEG file");
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return Status::IOError("cannot create " + path);
  jpeg_compress_struct cinfo{};
  JpegError err{};
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = OnJpegError;
  err.mgr.output_message = QuietJpegMessage;
  std::vector<std::uint8_t> row(std::size_t(v->width) * (v->bits == 1 ? 1 : 3));
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    std::fclose(f);
    return Status::IOError("cannot write " + path);
  }
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, f);
  cinfo.image_width = JDIMENSION(v->width);
  cinfo.image_height = JDIMENSION(v->height);
  cinfo.input_components = v->bits == 1 ? 1 : 3;
  cinfo.in_color_space = v->bits == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  if (dpi > 0 && dpi <= 65535) {
    cinfo.density_unit = 1;
    cinfo.X_density = cinfo.Y_density = UINT16(dpi);
  }
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    const int y = int(cinfo.next_scanline);
    if (v->bits == 1) {
      BitsToGrey(v->Row(y), row.data(), v->width);
    } else {
      BgrToRgb(v->Row(y), row.data(), v->width);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  if (std::fclose(f) != 0) return Status::IOError("cannot write " + path);
  return Status::Ok();
}

Result<TiffWriter> TiffWriter::Create(const std::string& path) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  if (!tiff) return Status::IOError("cannot create " + path);
  return TiffWriter(tiff);
}

TiffWriter::~TiffWriter() {
  if (tiff_) TIFFClose(tiff_);
}

Status TiffWriter::AddPage(const gdi::Dib& dib, int dpi) {
  if (!tiff_) return Status::InvalidArgument("TIFF file already closed");
  Result<DibView> v = View(dib);
  if (!v.ok()) return v.status();
  const bool mono = v->bits == 1;
  TIFFSetField(tiff_, TIFFTAG_IMAGEWIDTH, std::uint32_t(v->width));
  TIFFSetField(tiff_, TIFFTAG_IMAGELENGTH, std::uint32_t(v->height));
  TIFFSetField(tiff_, TIFFTAG_BITSPERSAMPLE, mono ? 1 : 8);
  TIFFSetField(tiff_, TIFFTAG_SAMPLESPERPIXEL, mono ? 1 : 3);
  TIFFSetField(tiff_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  // Min-is-black: a set bit is white, as in the bitmap's two-colour table.
  TIFFSetField(tiff_, TIFFTAG_PHOTOMETRIC, mono ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
  TIFFSetField(tiff_, TIFFTAG_COMPRESSION, mono ? COMPRESSION_CCITTFAX4 : COMPRESSION_LZW);
  TIFFSetField(tiff_, TIFFTAG_ROWSPERSTRIP, mono ? std::uint32_t(v->height) : TIFFDefaultStripSize(tiff_, 0));
  TIFFSetField(tiff_, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
  if (dpi > 0) {
    TIFFSetField(tiff_, TIFFTAG_XRESOLUTION, float(dpi));
    TIFFSetField(tiff_, TIFFTAG_YRESOLUTION, float(dpi));
    TIFFSetField(tiff_, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  }
  std::vector<std::uint8_t> row(mono ? v->stride : std::size_t(v->width) * 3);
  for (int y = 0; y < v->height; ++y) {
    if (mono) {
      std::memcpy(row.data(), v->Row(y), v->stride);
    } else {
      BgrToRgb(v->Row(y), row.data(), v->width);
    }
    if (TIFFWriteScanline(tiff_, row.data(), std::uint32_t(y), 0) < 0) {
      return Status::IOError("cannot write a TIFF row");
    }
  }
  if (!TIFFWriteDirectory(tiff_)) return Status::IOError("cannot write a TIFF page");
  return Status::Ok();
}

Status TiffWriter::Close() {
  if (!tiff_) return Status::Ok();
  // TIFFClose reports nothing; a final flush tells whether the last writes reached the file.
  const bool flushed = TIFFFlush(tiff_) != 0;
  TIFFClose(tiff_);
  tiff_ = nullptr;
  return flushed ? Status::Ok() : Status::IOError("cannot finish the TIFF file");
}

}  // namespace zv::lumbrel
