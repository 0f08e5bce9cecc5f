#include "platform/profile/profile.h"
#include "platform/base/ascii.h"

#include <sys/stat.h>

#include <charconv>
#include <filesystem>

#include "platform/fs/files.h"
#include "platform/paths/paths.h"

namespace zv::profile {
namespace {

constexpr size_t kMaxIniFile = 16u << 20;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string Unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return std::string(v);
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

Status CheckSection(std::string_view section) {
  section = Trim(section);
  if (section.empty() || HasLineBreak(section) || section.find(']') != std::string_view::npos) {
    return Status::InvalidArgument("bad profile section name: " + std::string(section));
  }
  return Status::Ok();
}

Status CheckKey(std::string_view key, std::string_view value) {
  std::string_view k = Trim(key);
  if (k.empty() || HasLineBreak(k) || k.find('=') != std::string_view::npos || k.front() == '[' || k.front() == ';') {
    return Status::InvalidArgument("bad profile key name: " + std::string(key));
  }
  if (HasLineBreak(value)) return Status::InvalidArgument("profile value with a line end for key " + std::string(k));
  return Status::Ok();
}

}  // namespace

IniDocument IniDocument::Parse(std::string_view text) {
  IniDocument doc;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    doc.bom_ = true;
    text.remove_prefix(3);
  }
  auto first_nl = text.find('\n');
  // A file with no line end yet is taken as CR LF, the convention of the Windows files these
  // profiles mirror.
  doc.found_ = (first_nl == std::string_view::npos || (first_nl > 0 && text[first_nl - 1] == '\r')) ? LineEnd::kCrLf
                                                                                                    : LineEnd::kLf;
  bool in_section = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(pos, end - pos);
    pos = end + 1;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    Line line;
    line.text = std::string(raw);
    std::string_view t = Trim(raw);
    if (!t.empty() && t.front() == '[') {
      auto close = t.find(']');
      line.kind = Kind::kSection;
      line.name = std::string(Trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
      in_section = true;
    } else if (in_section && !t.empty() && t.front() != ';' && t.find('=') != std::string_view::npos) {
      auto eq = t.find('=');
      line.kind = Kind::kKey;
      line.name = std::string(Trim(t.substr(0, eq)));
      line.value = std::string(Trim(t.substr(eq + 1)));
    }
    doc.lines_.push_back(std::move(line));
  }
  return doc;
}

std::string IniDocument::Serialize(LineEnd line_end) const {
  if (line_end == LineEnd::kKeep) line_end = found_;
  const char* eol = line_end == LineEnd::kLf ? "\n" : "\r\n";
  std::string out = bom_ ? "\xEF\xBB\xBF" : "";
  for (const auto& l : lines_) {
    out += l.text;
    out += eol;
  }
  return out;
}

IniDocument::Line IniDocument::HeaderLine(std::string_view section) {
  Line header;
  header.kind = Kind::kSection;
  header.name = std::string(Trim(section));
  header.text = "[" + header.name + "]";
  return header;
}

IniDocument::Line IniDocument::KeyLine(std::string_view key, std::string_view value) {
  Line line;
  line.kind = Kind::kKey;
  line.name = std::string(Trim(key));
  line.value = std::string(Trim(value));
  line.text = line.name + "=" + std::string(value);
  return line;
}

long IniDocument::FindSection(std::string_view section) const {
  std::string_view s = Trim(section);
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == Kind::kSection && EqualsNoCase(lines_[i].name, s)) return static_cast<long>(i);
  }
  return -1;
}

size_t IniDocument::SectionEnd(size_t h) const {
  size_t i = h + 1;
  while (i < lines_.size() && lines_[i].kind != Kind::kSection) ++i;
  return i;
}

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
  long h = FindSection(section);
  if (h < 0) return std::nullopt;
  std::string_view k = Trim(key);
  for (size_t i = h + 1, e = SectionEnd(h); i < e; ++i) {
    if (lines_[i].kind == Kind::kKey && EqualsNoCase(lines_[i].name, k)) return Unquote(lines_[i].value);
  }
  return std::nullopt;
}

bool IniDocument::HasSection(std::string_view section) const { return FindSection(section) >= 0; }

std::vector<std::string> IniDocument::SectionNames() const {
  std::vector<std::string> out;
  for (const auto& l : lines_) {
    if (l.kind != Kind::kSection) continue;
    bool seen = false;
    for (const auto& o : out) seen = seen || EqualsNoCase(o, l.name);
    if (!seen) out.push_back(l.name);
  }
  return out;
}

std::vector<std::string> IniDocument::KeyNames(std::string_view section) const {
  std::vector<std::string> out;
  for (const auto& [k, v] : Section(section)) {
    bool seen = false;
    for (const auto& o : out) seen = seen || EqualsNoCase(o, k);
    if (!seen) out.push_back(k);
  }
  return out;
}

KeyValues IniDocument::Section(std::string_view section) const {
  KeyValues out;
  long h = FindSection(section);
  if (h < 0) return out;
  for (size_t i = h + 1, e = SectionEnd(h); i < e; ++i) {
    if (lines_[i].kind == Kind::kKey) out.emplace_back(lines_[i].name, lines_[i].value);
  }
  return out;
}

Status IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  if (Status s = CheckSection(section); !s.ok()) return s;
  if (Status s = CheckKey(key, value); !s.ok()) return s;
  Line line = KeyLine(key, value);
  long h = FindSection(section);
  if (h < 0) {
    lines_.push_back(HeaderLine(section));
    lines_.push_back(std::move(line));
    return Status::Ok();
  }
  size_t end = SectionEnd(h);
  size_t insert_at = h + 1;
  for (size_t i = h + 1; i < end; ++i) {
    if (lines_[i].kind == Kind::kKey && EqualsNoCase(lines_[i].name, line.name)) {
      lines_[i] = std::move(line);
      return Status::Ok();
    }
    // A new key goes after the section's last non-blank line, before the blank lines that
    // separate it from the next section.
    if (!Trim(lines_[i].text).empty()) insert_at = i + 1;
  }
  lines_.insert(lines_.begin() + static_cast<long>(insert_at), std::move(line));
  return Status::Ok();
}

bool IniDocument::DeleteKey(std::string_view section, std::string_view key) {
  long h = FindSection(section);
  if (h < 0) return false;
  std::string_view k = Trim(key);
  bool any = false;
  size_t end = SectionEnd(h);
  for (size_t i = h + 1; i < end;) {
    if (lines_[i].kind == Kind::kKey && EqualsNoCase(lines_[i].name, k)) {
      lines_.erase(lines_.begin() + static_cast<long>(i));
      --end;
      any = true;
    } else {
      ++i;
    }
  }
  return any;
}

bool IniDocument::DeleteSection(std::string_view section) {
  bool any = false;
  for (long h; (h = FindSection(section)) >= 0;) {
    lines_.erase(lines_.begin() + h, lines_.begin() + static_cast<long>(SectionEnd(h)));
    any = true;
  }
  return any;
}

Status IniDocument::ReplaceSection(std::string_view section, const KeyValues& entries) {
  if (Status s = CheckSection(section); !s.ok()) return s;
  for (const auto& [k, v] : entries) {
    if (Status s = CheckKey(k, v); !s.ok()) return s;
  }
  long h = FindSection(section);
  size_t at;
  if (h < 0) {
    lines_.push_back(HeaderLine(section));
    at = lines_.size();
  } else {
    size_t end = SectionEnd(h);
    lines_.erase(lines_.begin() + h + 1, lines_.begin() + static_cast<long>(end));
    at = h + 1;
  }
  std::vector<Line> add;
  for (const auto& [k, v] : entries) {
    add.push_back(KeyLine(k, v));
  }
  lines_.insert(lines_.begin() + static_cast<long>(at), add.begin(), add.end());
  return Status::Ok();
}

Result<IniDocument> Load(const std::string& path) {
  auto text = fs::ReadFile(path, kMaxIniFile);
  if (!text.ok()) return text.status();
  return IniDocument::Parse(*text);
}

namespace {

std::optional<IniDocument> LoadOrNothing(const std::string& path) {
  auto doc = Load(path);
  if (!doc.ok()) return std::nullopt;
  return std::move(*doc);
}

}  // namespace

std::string GetString(const std::string& path, std::string_view section, std::string_view key, std::string_view def,
                      size_t buffer_size) {
  std::string out(def);
  if (auto doc = LoadOrNothing(path)) {
    if (auto v = doc->Get(section, key)) out = std::move(*v);
  }
  if (buffer_size > 0 && out.size() > buffer_size - 1) {
    out.resize(buffer_size - 1);
    // Never leave half a UTF-8 character at the cut.
    size_t lead = out.size();
    while (lead > 0 && out.size() - lead < 4 && (static_cast<unsigned char>(out[lead - 1]) & 0xC0) == 0x80) --lead;
    if (lead > 0) {
      unsigned char c = static_cast<unsigned char>(out[lead - 1]);
      size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      if (out.size() - (lead - 1) < need) out.resize(lead - 1);
    }
  }
  return out;
}

int GetInt(const std::string& path, std::string_view section, std::string_view key, int def) {
  auto doc = LoadOrNothing(path);
  if (!doc) return def;
  auto v = doc->Get(section, key);
  if (!v || v->empty()) return def;
  std::string_view s = *v;
  bool neg = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    neg = s[0] == '-';
    s.remove_prefix(1);
  }
  long long n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') break;
    n = n * 10 + (c - '0');
    if (n > 0xFFFFFFFFll) break;
  }
  // As the Windows call does: leading digits only, and the value wraps as an unsigned 32-bit number.
  return static_cast<int>(static_cast<unsigned>(neg ? -n : n));
}

std::vector<std::string> GetSectionNames(const std::string& path) {
  auto doc = LoadOrNothing(path);
  return doc ? doc->SectionNames() : std::vector<std::string>{};
}

std::vector<std::string> GetKeyNames(const std::string& path, std::string_view section, size_t buffer_size) {
  auto doc = LoadOrNothing(path);
  if (!doc) return {};
  std::vector<std::string> names = doc->KeyNames(section);
  if (buffer_size == 0) return names;
  // The Windows call fills "a\0b\0\0"; when that does not fit, it keeps the first
  // buffer_size - 2 bytes and ends them with two zero bytes.
  std::string joined;
  for (const auto& n : names) joined += n + '\0';
  if (joined.size() + 1 <= buffer_size) return names;
  joined.resize(buffer_size >= 2 ? buffer_size - 2 : 0);
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < joined.size()) {
    size_t z = joined.find('\0', pos);
    if (z == std::string::npos) z = joined.size();
    if (z > pos) out.push_back(joined.substr(pos, z - pos));
    pos = z + 1;
  }
  return out;
}

KeyValues GetSection(const std::string& path, std::string_view section) {
  auto doc = LoadOrNothing(path);
  return doc ? doc->Section(section) : KeyValues{};
}

Status Modify(const std::string& path, const std::function<Status(IniDocument&)>& fn, LineEnd line_end) {
  auto run = paths::RootFolder("run", 0700);
  if (!run.ok()) return run.status();
  // Writers of one file take one of 64 lock files, picked by a hash of the file's path
  // with its links resolved, so that every spelling of one file takes the same lock.
  std::error_code ec;
  std::string abs = std::filesystem::weakly_canonical(path, ec).string();
  if (ec) abs = std::filesystem::absolute(path).lexically_normal().string();
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : abs) h = (h ^ c) * 1099511628211ull;
  char name[32];
  std::snprintf(name, sizeof name, "/profile-%02u.lock", static_cast<unsigned>(h % 64));
  auto lock = fs::FileLock::Acquire(*run + name);
  if (!lock.ok()) return lock.status();

  IniDocument doc;
  mode_t mode = 0644;
  auto loaded = Load(path);
  if (loaded.ok()) {
    doc = std::move(*loaded);
    struct stat st;
    // The rewrite keeps the file's permissions: a private profile stays private.
    if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
  } else if (loaded.status().code() != Status::Code::kNotFound) {
    return loaded.status();
  }
  Status st = fn(doc);
  if (!st.ok()) return st;
  return fs::WriteFileAtomic(path, doc.Serialize(line_end), mode);
}

namespace {
Status OkIfNothingToDo(Status s) { return s.code() == Status::Code::kNotFound ? Status::Ok() : s; }
}  // namespace

Status WriteString(const std::string& path, std::string_view section, std::string_view key, std::string_view value,
                   LineEnd line_end) {
  return Modify(
      path, [&](IniDocument& d) { return d.Set(section, key, value); }, line_end);
}

Status DeleteKey(const std::string& path, std::string_view section, std::string_view key, LineEnd line_end) {
  return OkIfNothingToDo(Modify(
      path,
      [&](IniDocument& d) {
        // Nothing to delete: leave the file (or its absence) alone.
        return d.DeleteKey(section, key) ? Status::Ok() : Status::NotFound("");
      },
      line_end));
}

Status DeleteSection(const std::string& path, std::string_view section, LineEnd line_end) {
  return OkIfNothingToDo(Modify(
      path,
      [&](IniDocument& d) {
        // Nothing to delete: leave the file (or its absence) alone.
        return d.DeleteSection(section) ? Status::Ok() : Status::NotFound("");
      },
      line_end));
}

Status WriteSection(const std::string& path, std::string_view section, const KeyValues& entries, LineEnd line_end) {
  return Modify(
      path, [&](IniDocument& d) { return d.ReplaceSection(section, entries); }, line_end);
}

}  // namespace zv::profile
