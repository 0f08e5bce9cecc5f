#include "platform/registry/hive.h"

#include <algorithm>
#include <charconv>

namespace zv::registry {

// Key and value names compare without regard to case, as the registry's do; only ASCII is
// folded, so names outside it must match exactly.
std::string FoldCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

namespace {

constexpr std::string_view kMagic = "zelvora-registry 1";

// Spaces are escaped too: a hive line is split on spaces, so no token may hold one.
bool NeedsEscape(unsigned char c) { return c < 0x21 || c == 0x7f || c == '%' || c == '"'; }

std::string Escape(std::string_view s) {
  static const char* hex = "0123456789ABCDEF";
  std::string out = "\"";
  for (unsigned char c : s) {
    if (NeedsEscape(c)) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted, percent-encoded token; false when malformed.
bool Unescape(std::string_view tok, std::string* out) {
  if (tok.size() < 2 || tok.front() != '"' || tok.back() != '"') return false;
  tok = tok.substr(1, tok.size() - 2);
  out->clear();
  for (size_t i = 0; i < tok.size(); ++i) {
    if (tok[i] == '"') return false;
    if (tok[i] != '%') {
      out->push_back(tok[i]);
      continue;
    }
    if (i + 2 >= tok.size()) return false;
    int hi = HexDigit(tok[i + 1]);
    int lo = HexDigit(tok[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  return true;
}

bool UnHex(std::string_view s, std::string* out) {
  if (s.size() % 2) return false;
  out->clear();
  for (size_t i = 0; i < s.size(); i += 2) {
    int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
  }
  return true;
}

struct TypeName {
  uint32_t type;
  const char* name;
};
constexpr TypeName kTypeNames[] = {{kRegNone, "none"},     {kRegSz, "sz"},       {kRegExpandSz, "expand_sz"},
                                   {kRegBinary, "binary"}, {kRegDword, "dword"}, {kRegMultiSz, "multi_sz"},
                                   {kRegQword, "qword"}};

std::string TypeToText(uint32_t t) {
  for (const auto& tn : kTypeNames) {
    if (tn.type == t) return tn.name;
  }
  return "type" + std::to_string(t);
}

bool TextToType(std::string_view s, uint32_t* t) {
  for (const auto& tn : kTypeNames) {
    if (s == tn.name) {
      *t = tn.type;
      return true;
    }
  }
  if (s.substr(0, 4) != "type") return false;
  s.remove_prefix(4);
  auto r = std::from_chars(s.data(), s.data() + s.size(), *t);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && !s.empty();
}

bool IsTextType(uint32_t t) { return t == kRegSz || t == kRegExpandSz || t == kRegMultiSz; }

std::vector<std::string_view> SplitSpaces(std::string_view line) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    size_t j = i;
    while (j < line.size() && line[j] != ' ') ++j;
    if (j > i) out.push_back(line.substr(i, j - i));
    i = j;
  }
  return out;
}

}  // namespace

HiveData::HiveData() { keys_.emplace("", KeyData{}); }

Result<std::string> HiveData::CanonicalPath(std::string_view path) {
  std::string out;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('\\', i);
    if (j == std::string_view::npos) j = path.size();
    std::string_view part = path.substr(i, j - i);
    if (!part.empty()) {
      if (part.size() > kMaxKeyNameLength) return Status::InvalidArgument("registry key name too long");
      if (!out.empty()) out += '\\';
      out += part;
    }
    i = j + 1;
  }
  return out;
}

HiveData::KeyData* HiveData::FindKey(std::string_view path) {
  auto canon = CanonicalPath(path);
  if (!canon.ok()) return nullptr;
  auto it = keys_.find(FoldCase(*canon));
  return it == keys_.end() ? nullptr : &it->second;
}

const HiveData::KeyData* HiveData::FindKey(std::string_view path) const {
  return const_cast<HiveData*>(this)->FindKey(path);
}

bool HiveData::HasKey(std::string_view path) const { return FindKey(path) != nullptr; }

Status HiveData::CreateKey(std::string_view path) {
  auto canon = CanonicalPath(path);
  if (!canon.ok()) return canon.status();
  if (canon->empty()) return Status::Ok();
  size_t pos = 0;
  for (;;) {
    size_t sep = canon->find('\\', pos);
    std::string prefix = sep == std::string::npos ? *canon : canon->substr(0, sep);
    std::string folded = FoldCase(prefix);
    if (!keys_.count(folded)) keys_.emplace(folded, KeyData{prefix, {}});
    if (sep == std::string::npos) break;
    pos = sep + 1;
  }
  return Status::Ok();
}

Status HiveData::DeleteKey(std::string_view path) {
  auto canon = CanonicalPath(path);
  if (!canon.ok()) return canon.status();
  if (canon->empty()) return Status::InvalidArgument("cannot delete the root key");
  std::string folded = FoldCase(*canon);
  auto it = keys_.find(folded);
  if (it == keys_.end()) return Status::NotFound("no registry key " + *canon);
  std::string child_prefix = folded + "\\";
  for (auto i = keys_.begin(); i != keys_.end();) {
    if (i->first == folded || i->first.compare(0, child_prefix.size(), child_prefix) == 0) {
      i = keys_.erase(i);
    } else {
      ++i;
    }
  }
  return Status::Ok();
}

const Value* HiveData::Find(std::string_view path, std::string_view name) const {
  const KeyData* k = FindKey(path);
  if (!k) return nullptr;
  std::string folded = FoldCase(name);
  for (const auto& [n, v] : k->values) {
    if (FoldCase(n) == folded) return &v;
  }
  return nullptr;
}

Status HiveData::Set(std::string_view path, std::string_view name, Value value) {
  if (name.size() > kMaxValueNameLength) return Status::InvalidArgument("registry value name too long");
  if (value.data.size() > kMaxValueSize) return Status::InvalidArgument("registry value too large");
  KeyData* k = FindKey(path);
  if (!k) return Status::NotFound("no registry key " + std::string(path));
  std::string folded = FoldCase(name);
  for (auto& [n, v] : k->values) {
    if (FoldCase(n) == folded) {
      v = std::move(value);
      return Status::Ok();
    }
  }
  k->values.emplace_back(std::string(name), std::move(value));
  return Status::Ok();
}

Status HiveData::DeleteValue(std::string_view path, std::string_view name) {
  KeyData* k = FindKey(path);
  if (!k) return Status::NotFound("no registry key " + std::string(path));
  std::string folded = FoldCase(name);
  for (auto it = k->values.begin(); it != k->values.end(); ++it) {
    if (FoldCase(it->first) == folded) {
      k->values.erase(it);
      return Status::Ok();
    }
  }
  return Status::NotFound("no registry value " + std::string(name));
}

Result<std::vector<std::string>> HiveData::SubKeyNames(std::string_view path) const {
  auto canon = CanonicalPath(path);
  if (!canon.ok()) return canon.status();
  std::string folded = FoldCase(*canon);
  if (!keys_.count(folded)) return Status::NotFound("no registry key " + *canon);
  std::string prefix = folded.empty() ? "" : folded + "\\";
  std::vector<std::string> out;
  for (const auto& [f, k] : keys_) {
    if (f.empty() || f.size() <= prefix.size() || f.compare(0, prefix.size(), prefix) != 0) continue;
    if (f.find('\\', prefix.size()) != std::string::npos) continue;
    out.push_back(k.path.substr(prefix.size()));
  }
  return out;  // map order is the lower-case order
}

Result<std::vector<std::string>> HiveData::ValueNames(std::string_view path) const {
  const KeyData* k = FindKey(path);
  if (!k) return Status::NotFound("no registry key " + std::string(path));
  std::vector<std::string> out;
  for (const auto& [n, v] : k->values) out.push_back(n);
  return out;
}

std::string HiveData::Serialize() const {
  static const char* hex = "0123456789abcdef";
  std::string out(kMagic);
  out += '\n';
  for (const auto& [folded, k] : keys_) {
    if (!folded.empty()) out += "key " + Escape(k.path) + "\n";
    for (const auto& [name, v] : k.values) {
      out += "value " + Escape(name) + " " + TypeToText(v.type) + " ";
      // A dword of any other length is kept as hex, so odd data written by a caller reads back
      // byte for byte.
      if (v.type == kRegDword && v.data.size() == 4) {
        uint32_t n = static_cast<unsigned char>(v.data[0]) | (static_cast<unsigned char>(v.data[1]) << 8) |
                     (static_cast<unsigned char>(v.data[2]) << 16) |
                     (static_cast<uint32_t>(static_cast<unsigned char>(v.data[3])) << 24);
        out += std::to_string(n);
      } else if (IsTextType(v.type)) {
        out += Escape(v.data);
      } else {
        out += "hex:";
        for (unsigned char c : v.data) {
          out += hex[c >> 4];
          out += hex[c & 15];
        }
      }
      out += '\n';
    }
  }
  return out;
}

Result<HiveData> HiveData::Parse(std::string_view text) {
  HiveData hive;
  if (text.empty()) return hive;
  size_t lineno = 0;
  std::string current;  // path of the key that values belong to
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineno;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    auto bad = [&](const char* why) {
      return Status::Corruption(std::string("registry hive line ") + std::to_string(lineno) + ": " + why);
    };
    if (lineno == 1) {
      if (line != kMagic) return bad("not a registry hive");
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    auto toks = SplitSpaces(line);
    if (toks.empty()) continue;
    if (toks[0] == "key") {
      std::string path;
      if (toks.size() != 2 || !Unescape(toks[1], &path)) return bad("malformed key line");
      auto canon = CanonicalPath(path);
      if (!canon.ok() || canon->empty()) return bad("bad key path");
      if (!hive.CreateKey(*canon).ok()) return bad("bad key path");
      current = *canon;
    } else if (toks[0] == "value") {
      std::string name;
      Value v;
      if (toks.size() != 4 || !Unescape(toks[1], &name) || !TextToType(toks[2], &v.type)) {
        return bad("malformed value line");
      }
      std::string_view data = toks[3];
      if (data.substr(0, 4) == "hex:") {
        if (!UnHex(data.substr(4), &v.data)) return bad("malformed hex data");
      } else if (!data.empty() && data[0] == '"') {
        if (!Unescape(data, &v.data)) return bad("malformed text data");
      } else {
        uint32_t n = 0;
        auto r = std::from_chars(data.data(), data.data() + data.size(), n);
        if (r.ec != std::errc() || r.ptr != data.data() + data.size()) return bad("malformed number");
        v.data = {static_cast<char>(n & 0xff), static_cast<char>((n >> 8) & 0xff), static_cast<char>((n >> 16) & 0xff),
                  static_cast<char>(n >> 24)};
      }
      if (!hive.Set(current, name, std::move(v)).ok()) return bad("value too large or name too long");
    } else {
      return bad("unknown line");
    }
  }
  return hive;
}

}  // namespace zv::registry
