#include "platform/testing/char_counts.h"

#include <glib.h>

namespace zv::testing {

std::map<char32_t, int> CharacterCounts(std::string_view utf8) {
  std::map<char32_t, int> counts;
  gchar* normal = g_utf8_normalize(utf8.data(), static_cast<gssize>(utf8.size()), G_NORMALIZE_NFKC);
  if (normal == nullptr) return counts;
  for (const gchar* p = normal; *p; p = g_utf8_next_char(p)) {
    const gunichar c = g_utf8_get_char(p);
    if (!g_unichar_isspace(c) && g_unichar_type(c) != G_UNICODE_SPACE_SEPARATOR) ++counts[c];
  }
  g_free(normal);
  return counts;
}

std::string MissingCharacters(std::string_view source, std::string_view read_back) {
  const auto want = CharacterCounts(source);
  const auto got = CharacterCounts(read_back);
  std::string missing;
  for (const auto& [c, n] : want) {
    const auto it = got.find(c);
    for (int k = it == got.end() ? n : n - it->second; k > 0; --k) {
      char buf[8];
      missing.append(buf, static_cast<std::size_t>(g_unichar_to_utf8(c, buf)));
    }
  }
  return missing;
}

}  // namespace zv::testing
