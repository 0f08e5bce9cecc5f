#include "engine/rules/text_util.h"

#include <limits>

namespace zv::engine {
namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
char Up(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Up(c);
  return out;
}

int32_t LeadingInt(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  int64_t v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    if (v <= int64_t{1} << 32) v = v * 10 + (s[i] - '0');
    ++i;
  }
  if (neg) v = -v;
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

std::vector<std::string> SplitList(std::string_view text, char sep, bool keep_empty) {
  std::vector<std::string> out;
  std::string whole = Trim(text);
  std::string_view rest = whole;
  for (;;) {
    size_t p = rest.find(sep);
    std::string item = Trim(rest.substr(0, p));
    if (keep_empty || !item.empty()) out.push_back(std::move(item));
    if (p == std::string_view::npos) break;
    rest.remove_prefix(p + 1);
  }
  if (whole.empty() && keep_empty) out.clear();
  return out;
}

std::string JoinList(const std::vector<std::string>& items, std::string_view sep, bool keep_empty) {
  std::string out;
  bool first = true;
  for (const auto& s : items) {
    if (s.empty() && !keep_empty) continue;
    if (!first) out += sep;
    out += s;
    first = false;
  }
  return out;
}

bool IsWholeNumber(std::string_view s) {
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) s.remove_prefix(1);
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace zv::engine
