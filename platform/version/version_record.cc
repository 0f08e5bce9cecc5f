// The version record of the module this object is linked into: the mark and the project's
// version as four 16-bit little-endian numbers, in a section of its own that ReadFileVersion
// finds by name. Kept even when nothing refers to it.
#include <cstdint>

#include "platform/version/file_version.h"

namespace {

struct Record {
  char mark[8];
  std::uint16_t numbers[4];
};
static_assert(sizeof(Record) == 16);

__attribute__((used, retain, section("zv_version"))) constexpr Record kRecord = {
    {'Z', 'V', 'F', 'I', 'L', 'E', 'V', '1'}, {ZV_VERSION_NUMBERS}};

}  // namespace
