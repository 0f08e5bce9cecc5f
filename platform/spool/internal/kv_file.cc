#include "platform/spool/internal/kv_file.h"

#include <charconv>
#include <sstream>

#include "platform/fs/files.h"

namespace zv::spool::internal {

namespace fs = std::filesystem;

namespace {

std::string Trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  std::size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

}  // namespace

Result<std::vector<KvLine>> ReadKvFile(const fs::path& path, std::uintmax_t max_bytes) {
  auto text = zv::fs::ReadFile(path.string(), static_cast<std::size_t>(max_bytes));
  if (!text.ok()) return text.status();
  return ParseKvText(*text, path);
}

Result<std::vector<KvLine>> ParseKvText(const std::string& text, const fs::path& path) {
  std::istringstream in(text);
  std::vector<KvLine> out;
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    ++n;
    std::string t = Trim(line);
    if (t.empty() || t[0] == '#' || t[0] == ';') continue;
    auto eq = t.find('=');
    if (eq == std::string::npos) {
      return Status::Corruption(path.string() + ":" + std::to_string(n) + ": line without '='");
    }
    out.push_back({Trim(t.substr(0, eq)), UnescapeValue(Trim(t.substr(eq + 1))), n});
  }
  return out;
}

std::string EscapeValue(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '%':
        out += "%25";
        break;
      case '\n':
        out += "%0A";
        break;
      case '\r':
        out += "%0D";
        break;
      case '\t':
        out += "%09";
        break;
      default:
        out += c;
    }
  }
  // Leading and trailing spaces would be trimmed by the reader.
  if (!out.empty() && out.front() == ' ') out.replace(0, 1, "%20");
  if (!out.empty() && out.back() == ' ') out.replace(out.size() - 1, 1, "%20");
  return out;
}

std::string UnescapeValue(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size()) {
      int v = 0;
      auto r = std::from_chars(value.data() + i + 1, value.data() + i + 3, v, 16);
      if (r.ec == std::errc() && r.ptr == value.data() + i + 3) {
        out += static_cast<char>(v);
        i += 2;
        continue;
      }
    }
    out += value[i];
  }
  return out;
}

std::optional<std::int64_t> ParseInt(const std::string& text, std::int64_t lo, std::int64_t hi) {
  if (text.empty()) return std::nullopt;
  const char* b = text.data();
  const char* e = text.data() + text.size();
  bool neg = false;
  if (*b == '-') {
    neg = true;
    ++b;
  }
  int base = 10;
  if (e - b > 2 && b[0] == '0' && (b[1] == 'x' || b[1] == 'X')) {
    base = 16;
    b += 2;
  }
  std::uint64_t v = 0;
  auto r = std::from_chars(b, e, v, base);
  if (r.ec != std::errc() || r.ptr != e || v > std::uint64_t(INT64_MAX)) return std::nullopt;
  std::int64_t s = neg ? -std::int64_t(v) : std::int64_t(v);
  if (s < lo || s > hi) return std::nullopt;
  return s;
}

}  // namespace zv::spool::internal
