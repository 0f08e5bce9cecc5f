// Small private helpers of the folder spooler: key=value text files and numbers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/status.h"

namespace zv::spool::internal {

struct KvLine {
  std::string key;
  std::string value;  // unescaped
  int line = 0;
};

// Reads "key=value" lines; blank lines and lines starting with '#' or ';' are skipped,
// spaces around keys and values trimmed, values unescaped. Fails on a line without '=',
// a file larger than `max_bytes`, or a file that cannot be read.
Result<std::vector<KvLine>> ReadKvFile(const std::filesystem::path& path, std::uintmax_t max_bytes = 1 << 20);
// The same for text already read; `path` names it in errors.
Result<std::vector<KvLine>> ParseKvText(const std::string& text, const std::filesystem::path& path);

// Escapes '%', CR, LF and tabs in a value so it stays on one line and keeps its spaces.
std::string EscapeValue(const std::string& value);
std::string UnescapeValue(const std::string& value);

// Parses a decimal or 0x-prefixed integer that fits in [lo, hi].
std::optional<std::int64_t> ParseInt(const std::string& text, std::int64_t lo, std::int64_t hi);

}  // namespace zv::spool::internal
