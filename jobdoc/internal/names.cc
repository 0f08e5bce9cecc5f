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

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace zv::jobdoc::internal
