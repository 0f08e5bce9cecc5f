// Name helpers private to the job document library.
#pragma once

#include <string>
#include <string_view>

namespace zv::jobdoc::internal {

// Gives the last component of a path (after the last '/' or '\').
std::string BaseName(std::string_view path);
// Gives the extension of a base name with its dot (".prc"), or "" when there is none.
std::string Extension(std::string_view base_name);
// Compares two ASCII texts without regard to case.
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace zv::jobdoc::internal
