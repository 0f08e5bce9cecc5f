// File helpers private to the job document library.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/status.h"

namespace zv::jobdoc::internal {

// Gives the last component of a path (after the last '/' or '\').
std::string BaseName(std::string_view path);
// Gives the extension of a base name with its dot (".prc"), or "" when there is none.
std::string Extension(std::string_view base_name);
// Compares two ASCII texts without regard to case.
bool EqualsNoCase(std::string_view a, std::string_view b);

// Reads the whole file into `out`. NotFound when it does not exist, IOError otherwise.
Status ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out);
// Writes `bytes` to a temporary file beside `path` and renames it into place, so that a
// reader sees either the old file or the whole new one.
Status WriteWholeFileAtomic(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace zv::jobdoc::internal
