// The exported entry GetConvInf and the converter functions it hands out: they check the
// caller's page pointers and call the converters of convert.h.
#include <cstring>
#include <vector>

#include "capture/lumbrel/convert.h"
#include "capture/lumbrel/lumbrel.h"

namespace zv::lumbrel {

namespace {

constexpr std::uint32_t kMaxMetafileBytes = std::uint32_t{1} << 30;

// Takes the caller's page pointers and sizes; gives the pages with each metafile's length
// read from its header (nBytes), or an error for a null pointer, a record that is no
// EMR_HEADER or a length out of range.
Result<std::vector<Page>> Pages(const void* const* pages, const std::uint32_t* sizes, std::uint32_t count) {
  if (!pages || !sizes || count == 0) return Status::InvalidArgument("no pages");
  std::vector<Page> out;
  out.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto* p = static_cast<const std::uint8_t*>(pages[i]);
    if (!p) return Status::InvalidArgument("page without metafile");
    std::uint32_t type, size, bytes;
    std::memcpy(&type, p, 4);
    std::memcpy(&size, p + 4, 4);
    if (type != 1 || size < 88) return Status::Corruption("page does not start with a header");
    std::memcpy(&bytes, p + 48, 4);
    if (bytes < size || bytes > kMaxMetafileBytes) return Status::Corruption("bad page length");
    out.push_back(Page{{p, bytes}, sizes[2 * std::size_t(i)], sizes[2 * std::size_t(i) + 1]});
  }
  return out;
}

int32_t ConvertToRasterExport(uint32_t, const char* output, const void* const* pages, const uint32_t* sizes,
                              uint32_t count, const char*, const void*) {
  if (!output) return 0;
  Result<std::vector<Page>> p = Pages(pages, sizes, count);
  if (!p.ok()) return 0;
  return ConvertToRaster(output, *p, ReadImageOptions(kRasterOptionsSlot)).ok() ? 1 : 0;
}

int32_t ConvertToPngExport(uint32_t, const char* output, const void* const* pages, const uint32_t* sizes,
                           uint32_t count, const char*, const void*) {
  if (!output) return 0;
  Result<std::vector<Page>> p = Pages(pages, sizes, count);
  if (!p.ok()) return 0;
  return ConvertToPng(output, *p, ReadImageOptions(kPngOptionsSlot)).ok() ? 1 : 0;
}

int32_t ConvertToPdfExport(uint32_t, const char* output, const void* const* pages, const uint32_t* sizes,
                           uint32_t count, const char*, const void*) {
  if (!output) return 0;
  Result<std::vector<Page>> p = Pages(pages, sizes, count);
  if (!p.ok()) return 0;
  return ConvertToPdf(output, *p).ok() ? 1 : 0;
}

struct ConverterEntry {
  std::uint32_t type;
  const char* filter;
  ZvConverter converter;
};

constexpr ConverterEntry kConverters[] = {
    {kZvConvBmp, "ビットマップファイル(*.bmp)|*.bmp|", &ConvertToRasterExport},
    {kZvConvPng, "PNGファイル(*.png)|*.png|", &ConvertToPngExport},
    {kZvConvTiff, "TIFFファイル(*.tif)|*.tif|", &ConvertToRasterExport},
    {kZvConvJpeg, "JPEGファイル(*.jpg)|*.jpg|", &ConvertToRasterExport},
    {kZvConvPdf, "PDF", &ConvertToPdfExport},
};

static_assert(sizeof("ビットマップファイル(*.bmp)|*.bmp|") <= ZV_CONV_FILTER_SIZE);

}  // namespace

}  // namespace zv::lumbrel

extern "C" int32_t GetConvInf(uint32_t type, char* filter, ZvConverter* converter) {
  if (!converter) return 0;
  for (const auto& entry : zv::lumbrel::kConverters) {
    if (entry.type != type) continue;
    if (filter) std::memcpy(filter, entry.filter, std::strlen(entry.filter) + 1);
    *converter = entry.converter;
    return 1;
  }
  return 0;
}
