#include "console/core/registry_config.h"

#include <cstdlib>

#include "engine/rules/settings.h"
#include "engine/rules/text_util.h"

namespace zv::console {
namespace {

using registry::RootKey;

constexpr char kSettingsKey[] = "Software\\Orbelin\\Zelvora\\1.0\\Settings";
constexpr char kGraphKey[] = "Software\\Orbelin\\Zelvora\\1.0\\Graph";

std::string Dword(uint32_t v) {
  std::string b(4, '\0');
  for (int i = 0; i < 4; ++i) b[static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return b;
}

std::optional<uint32_t> ReadDword(const char* key, std::string_view name) {
  auto b = CRegistryConfig::ReadValue(RootKey::kLocalMachine, key, name, registry::kRegDword);
  if (!b || b->size() != 4) return std::nullopt;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>((*b)[static_cast<size_t>(i)]);
  return v;
}

std::optional<std::string> ReadText(const char* key, std::string_view name, uint32_t type) {
  auto b = CRegistryConfig::ReadValue(RootKey::kLocalMachine, key, name, type);
  if (!b) return std::nullopt;
  size_t zero = b->find('\0');
  if (zero == std::string::npos) return std::nullopt;  // a text must end with its zero byte
  b->resize(zero);
  return b;
}

}  // namespace

bool CRegistryConfig::WriteValue(RootKey root, std::string_view path, std::string_view name, uint32_t type,
                                 std::string_view bytes) {
  auto key = registry::Key::Open(root, path);
  return key.ok() && key->SetValue(name, type, bytes).ok();
}

std::optional<std::string> CRegistryConfig::ReadValue(RootKey root, std::string_view path, std::string_view name,
                                                      uint32_t type) {
  auto key = registry::Key::Open(root, path);
  if (!key.ok()) return std::nullopt;
  auto v = key->GetValue(name);
  if (!v.ok() || v->type != type) return std::nullopt;
  return v->data;
}

bool CRegistryConfig::Text(std::string_view name, std::string* out) {
  out->clear();
  auto v = ReadText(engine::kZelvoraKey, name, registry::kRegSz);
  if (!v) return false;
  *out = std::move(*v);
  return true;
}

bool CRegistryConfig::SetText(std::string_view name, const std::string& v) {
  std::string bytes = v.substr(0, v.find('\0'));
  bytes.push_back('\0');
  return WriteValue(RootKey::kLocalMachine, engine::kZelvoraKey, name, registry::kRegSz, bytes);
}

bool CRegistryConfig::Number(std::string_view name, int32_t* out) {
  *out = 0;
  auto v = ReadDword(engine::kZelvoraKey, name);
  if (!v) return false;
  *out = static_cast<int32_t>(*v);
  return true;
}

bool CRegistryConfig::SetNumber(std::string_view name, int32_t v) {
  return WriteValue(RootKey::kLocalMachine, engine::kZelvoraKey, name, registry::kRegDword,
                    Dword(static_cast<uint32_t>(v)));
}

bool CRegistryConfig::GetCheckRange(int32_t* kind, int32_t* days) {
  *kind = 0;
  *days = 0;
  auto v = ReadDword(engine::kZelvoraKey, "CheckRange");
  if (!v) return false;
  *kind = static_cast<int32_t>(*v >> 28);
  if (*kind & 8) *days = static_cast<int32_t>(*v & 0x0FFFFFFFu);
  return true;
}

bool CRegistryConfig::SetCheckRange(int32_t kind, int32_t days) {
  uint32_t v = (static_cast<uint32_t>(kind) << 28) | (static_cast<uint32_t>(days) & 0x0FFFFFFFu);
  return SetNumber("CheckRange", static_cast<int32_t>(v));
}

bool CRegistryConfig::GetLimitAction(int32_t* mail_user, int32_t* mail_admin, int32_t* refuse) {
  *mail_user = *mail_admin = *refuse = 0;
  int32_t v = 0;
  if (!Number("LimitAction", &v)) return false;
  *mail_user = (v & 1) ? 1 : 0;
  *mail_admin = (v & 2) ? 1 : 0;
  *refuse = (v & 4) ? 1 : 0;
  return true;
}

bool CRegistryConfig::SetLimitAction(int32_t mail_user, int32_t mail_admin, int32_t refuse) {
  return SetNumber("LimitAction", (mail_user == 1 ? 1 : 0) | (mail_admin == 1 ? 2 : 0) | (refuse == 1 ? 4 : 0));
}

bool CRegistryConfig::GetDispMessage(int32_t* on_completion, int32_t* on_error) {
  *on_completion = *on_error = 0;
  int32_t v = 0;
  if (!Number("DispMessage", &v)) return false;
  *on_completion = (v & 1) ? 1 : 0;
  *on_error = (v & 2) ? 1 : 0;
  return true;
}

bool CRegistryConfig::SetDispMessage(int32_t on_completion, int32_t on_error) {
  return SetNumber("DispMessage", (on_completion == 1 ? 1 : 0) | (on_error == 1 ? 2 : 0));
}

bool CRegistryConfig::GetLimitOverAction(int32_t* v) {
  bool ok = Number("LimitOverAction", v);
  if (!ok) *v = -1;
  return ok;
}

bool CRegistryConfig::GetLogEnv1(int32_t* locked) {
  *locked = 1;
  int32_t v = 0;
  if (!Number("LogEnv1", &v)) return false;
  if (v != 0) *locked = 0;
  return true;
}

bool CRegistryConfig::SetLogEnv1(int32_t locked) { return SetNumber("LogEnv1", locked == 1 ? 0 : 1); }

bool CRegistryConfig::GetLogEnv2(std::string* scrambled) {
  scrambled->clear();
  auto v = ReadText(engine::kZelvoraKey, "LogEnv2", registry::kRegBinary);
  if (!v) return false;
  *scrambled = std::move(*v);
  return true;
}

bool CRegistryConfig::SetLogEnv2(const std::string& scrambled) {
  std::string bytes = scrambled;
  bytes.push_back('\0');
  return WriteValue(RootKey::kLocalMachine, engine::kZelvoraKey, "LogEnv2", registry::kRegBinary, bytes);
}

std::string ScrambleLockPassword(std::string_view bytes) {
  std::string out(bytes);
  for (char& c : out) {
    auto b = static_cast<unsigned char>(c);
    unsigned char r = 0;
    for (int i = 0; i < 8; ++i) r = static_cast<unsigned char>(r | (((b >> i) & 1) << (7 - i)));
    c = static_cast<char>(static_cast<unsigned char>(~r));
  }
  return out;
}

// ---- CConsoleSettings ----

bool CConsoleSettings::WriteValue(RootKey root, std::string_view path, std::string_view name, uint32_t type,
                                  std::string_view bytes) {
  auto key = registry::Key::Create(root, path);
  return key.ok() && key->SetValue(name, type, bytes).ok();
}

bool CConsoleSettings::GetCheckRange(int32_t* index, int32_t* days) {
  int32_t code = 0, stored_days = 0;
  engine::EngineSettings decoded;  // the engine's reading, defaults included
  bool ok = CRegistryConfig::GetCheckRange(&code, &stored_days);
  if (ok) decoded.ApplyCheckRange((static_cast<uint32_t>(code) << 28) | static_cast<uint32_t>(stored_days));
  *index = decoded.PeriodIndex;
  *days = ok ? stored_days : 0;
  return ok;
}

bool CConsoleSettings::SetCheckRange(int32_t index, int32_t days) {
  static const int32_t kCodes[] = {0, 1, 2, 4, 8};
  return CRegistryConfig::SetCheckRange(index >= 0 && index <= 4 ? kCodes[index] : 0, days);
}

int32_t CConsoleSettings::Kept(int32_t* kept, const char* name, int32_t preset) {
  if (*kept == -1) {
    auto v = ReadDword(kSettingsKey, name);
    *kept = v ? static_cast<int32_t>(*v) : preset;
  }
  return *kept;
}

CConsoleSettings::Rect CConsoleSettings::ReadRect(const char* key, Rect* kept) {
  if (*kept == Rect{}) {
    *kept = Rect{0, 0, 0, 0};
    auto l = ReadDword(key, "Left"), t = ReadDword(key, "Top"), w = ReadDword(key, "Width"),
         h = ReadDword(key, "Height");
    if (l && t && w && h) {
      auto L = static_cast<int32_t>(*l), T = static_cast<int32_t>(*t);
      *kept = Rect{L, T, L + static_cast<int32_t>(*w), T + static_cast<int32_t>(*h)};
    }
  }
  return *kept;
}

CConsoleSettings::Rect CConsoleSettings::GetMainRect() { return ReadRect(kSettingsKey, &main_); }
int32_t CConsoleSettings::GetToolBar() { return Kept(&tool_bar_, "ToolBar", 1); }
int32_t CConsoleSettings::GetStatusBar() { return Kept(&status_bar_, "StatusBar", 1); }
int32_t CConsoleSettings::GetTreeWidth() { return Kept(&tree_width_, "TreeWidth", 0); }

CConsoleSettings::DisplaySpan CConsoleSettings::GetDisplaySpan() {
  return {Kept(&span_kind_, "DispSpan", 0), Kept(&span_sel_, "SpanSel", 0), Kept(&before_, "Before", 1),
          Kept(&sdate_, "sDate", 0), Kept(&edate_, "eDate", 0)};
}

void CConsoleSettings::SetDisplaySpan(int32_t kind, int32_t selector, int32_t before) {
  span_kind_ = kind;
  span_sel_ = selector;
  before_ = before;
  sdate_ = edate_ = 0;
}

void CConsoleSettings::SetDisplaySpanDates(int32_t kind, int32_t selector, int32_t start, int32_t end) {
  span_kind_ = kind;
  span_sel_ = selector;
  before_ = 1;
  sdate_ = start;
  edate_ = end;
}

std::string CConsoleSettings::GetRootName() {
  if (root_name_.empty()) {
    auto v = ReadText(kSettingsKey, "RootName", registry::kRegSz);
    root_name_ = v && !v->empty() ? *v : "Zelvora";
  }
  return root_name_;
}

std::vector<int> CConsoleSettings::GetColumnWidths() {
  if (widths_.empty()) {
    auto v = ReadText(kSettingsKey, "ListColumnWidth", registry::kRegSz);
    if (v && !v->empty()) {
      for (const auto& part : engine::SplitList(*v, ',')) widths_.push_back(std::atoi(part.c_str()));
    }
  }
  return widths_;
}

void CConsoleSettings::GetListOrder(int32_t* column, int32_t* direction) {
  if (sort_column_ == -1 || sort_direction_ == -1) {
    sort_column_ = sort_direction_ = 0;
    if (auto v = ReadDword(kSettingsKey, "ListOrder")) {
      sort_column_ = static_cast<int32_t>(*v & 0x0FFFFFFFu);
      sort_direction_ = (*v >> 28) != 0 ? 1 : 0;
    }
  }
  *column = sort_column_;
  *direction = sort_direction_;
}

CConsoleSettings::Rect CConsoleSettings::GetGraphRect() { return ReadRect(kGraphKey, &graph_); }

int32_t CConsoleSettings::GetGraphType() {
  if (graph_type_ == -1) {
    auto v = ReadDword(kGraphKey, "GraphType");
    graph_type_ = v ? static_cast<int32_t>(*v) : 0;
  }
  return graph_type_;
}

bool CConsoleSettings::Save() {
  bool ok = true;
  auto put = [&](const char* key, const char* name, int32_t v) {
    ok &= WriteValue(RootKey::kLocalMachine, key, name, registry::kRegDword, Dword(static_cast<uint32_t>(v)));
  };
  auto put_rect = [&](const char* key, const Rect& r) {
    if (r == Rect{}) return;
    put(key, "Left", r.left);
    put(key, "Top", r.top);
    put(key, "Width", r.right - r.left);
    put(key, "Height", r.bottom - r.top);
  };
  put_rect(kSettingsKey, main_);
  const std::pair<const char*, int32_t> numbers[] = {
      {"ToolBar", tool_bar_}, {"StatusBar", status_bar_}, {"DispSpan", span_kind_}, {"SpanSel", span_sel_},
      {"Before", before_},    {"sDate", sdate_},          {"eDate", edate_},        {"TreeWidth", tree_width_}};
  for (const auto& [name, v] : numbers) {
    if (v != -1) put(kSettingsKey, name, v);
  }
  if (!root_name_.empty()) {
    ok &= WriteValue(RootKey::kLocalMachine, kSettingsKey, "RootName", registry::kRegSz,
                     root_name_ + std::string(1, '\0'));
  }
  if (!widths_.empty()) {
    std::vector<std::string> parts;
    for (int w : widths_) parts.push_back(std::to_string(w));
    ok &= WriteValue(RootKey::kLocalMachine, kSettingsKey, "ListColumnWidth", registry::kRegSz,
                     engine::JoinList(parts, ",", false) + std::string(1, '\0'));
  }
  if (sort_column_ != -1 && sort_direction_ != -1) {
    uint32_t v = (static_cast<uint32_t>(sort_direction_) << 28) | (static_cast<uint32_t>(sort_column_) & 0x0FFFFFFFu);
    put(kSettingsKey, "ListOrder", static_cast<int32_t>(v));
  }
  put_rect(kGraphKey, graph_);
  if (graph_type_ != -1) put(kGraphKey, "GraphType", graph_type_);
  return ok;
}

}  // namespace zv::console
