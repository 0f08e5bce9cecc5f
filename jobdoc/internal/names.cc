#include "jobdoc/internal/names.h"

namespace zv::jobdoc::internal {

std::string BaseName(std::string_view path) {
  std::size_t cut = path.find_last_of("/\\");
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string Extension(std::string_view base_name) {
  std::size_t dot = base_name.rfind('.');
  return dot == std::string_view::npos ? std::string() : std::string(base_name.substr(dot));
}

}  // namespace zv::jobdoc::internal
