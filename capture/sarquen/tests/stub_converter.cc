// A converter module for the tests of the conversion run: type 100 writes a text file
// describing what it was given; type 101 reports failure.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "capture/sarquen/sarquen.h"

namespace {

std::int32_t Describe(std::uint32_t, const char* output_path, const void* const* page_ptrs, const std::uint32_t* sizes,
                      std::uint32_t count, const char* name, const void* document_ptr) {
  const auto* const* pages = reinterpret_cast<const std::uint8_t* const*>(page_ptrs);
  const auto* document = static_cast<const std::uint8_t*>(document_ptr);
  std::FILE* f = std::fopen(output_path, "w");
  if (f == nullptr) return 0;
  std::fprintf(f, "pages=%u name=%s\n", count, name);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t type, bytes;
    std::memcpy(&type, pages[i], 4);
    std::memcpy(&bytes, pages[i] + 48, 4);
    std::fprintf(f, "page %u offset=%ld type=%u bytes=%u size=%ux%u\n", i, static_cast<long>(pages[i] - document), type,
                 bytes, sizes[2 * i], sizes[2 * i + 1]);
  }
  std::fclose(f);
  return 1;
}

std::int32_t Fail(std::uint32_t, const char*, const void* const*, const std::uint32_t*, std::uint32_t, const char*,
                  const void*) {
  return 0;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) std::int32_t GetConvInf(std::uint32_t type, char* filter,
                                                                          ZvConverter* converter) {
  if (converter == nullptr) return 0;
  if (type == 100) {
    if (filter) std::strcpy(filter, "Text");
    *converter = &Describe;
    return 1;
  }
  if (type == 101) {
    *converter = &Fail;
    return 1;
  }
  return 0;
}
