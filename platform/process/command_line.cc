#include "platform/process/command_line.h"

namespace zv::process {
namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view s) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  if (i == s.size()) return out;
  // The program: no backslash rules.
  std::string prog;
  if (s[i] == '"') {
    ++i;
    while (i < s.size() && s[i] != '"') prog += s[i++];
    if (i < s.size()) ++i;
  }
  while (i < s.size() && !IsBlank(s[i])) prog += s[i++];
  out.push_back(std::move(prog));

  for (;;) {
    while (i < s.size() && IsBlank(s[i])) ++i;
    if (i >= s.size()) break;
    std::string arg;
    bool quoted = false;
    while (i < s.size() && (quoted || !IsBlank(s[i]))) {
      if (s[i] == '\\') {
        size_t n = 0;
        while (i < s.size() && s[i] == '\\') ++n, ++i;
        if (i < s.size() && s[i] == '"') {
          arg.append(n / 2, '\\');
          if (n % 2) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(n, '\\');
        }
      } else if (s[i] == '"') {
        if (quoted && i + 1 < s.size() && s[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += s[i++];
      }
    }
    out.push_back(std::move(arg));
  }
  return out;
}

std::string JoinCommandLine(const std::vector<std::string>& args) {
  std::string out;
  for (size_t k = 0; k < args.size(); ++k) {
    const std::string& a = args[k];
    if (k > 0) out += ' ';
    if (k == 0) {
      // The program cannot hold a '"' (nothing could read it back); quote it when it has
      // blanks or is empty.
      bool q = a.empty() || a.find_first_of(" \t") != std::string::npos;
      out += q ? "\"" + a + "\"" : a;
      continue;
    }
    if (!a.empty() && a.find_first_of(" \t\"") == std::string::npos) {
      out += a;
      continue;
    }
    out += '"';
    size_t backslashes = 0;
    for (char c : a) {
      if (c == '\\') {
        ++backslashes;
        continue;
      }
      if (c == '"') {
        out.append(backslashes * 2 + 1, '\\');
      } else {
        out.append(backslashes, '\\');
      }
      backslashes = 0;
      out += c;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
  }
  return out;
}

}  // namespace zv::process
