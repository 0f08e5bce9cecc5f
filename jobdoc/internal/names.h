// Name helpers private to the job document library.
#pragma once

#include <string>
#include <string_view>

#include "platform/base/ascii.h"

namespace zv::jobdoc::internal {

// Gives the last component of a path (after the last '/' or '\').
std::string BaseName(std::string_view path);
// Gives the extension of a base name with its dot (".prc"), or "" when there is none.
std::string Extension(std::string_view base_name);
using zv::EqualsNoCase;

}  // namespace zv::jobdoc::internal
