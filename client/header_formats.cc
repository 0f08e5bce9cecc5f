#include "client/header_formats.h"

#include <cstdio>

#include "platform/base/ascii.h"
#include "platform/fs/files.h"
#include "platform/profile/profile.h"

namespace zv::client {
namespace {

constexpr char kInvalidInput[] = "入力値が適切ではありません。";

std::string OneLine(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c == '\r' || c == '\n') c = ' ';
  return out;
}

size_t Characters(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

void ReplaceAll(std::string& text, std::string_view token, const std::string& value) {
  for (size_t pos = text.find(token); pos != std::string::npos; pos = text.find(token, pos + value.size()))
    text.replace(pos, token.size(), value);
}

}  // namespace

std::string ComposeFormatFile(const std::vector<HeaderFormatItem>& items) {
  std::string index = "[HEADERFORMAT]\r\n", blocks;
  size_t n = 0;
  for (; n < items.size() && !items[n].name.empty(); ++n) {
    const auto& it = items[n];
    index += "NO" + std::to_string(n) + "=" + OneLine(it.name) + "\r\n";
    blocks += "[" + OneLine(it.name) + "]\r\nFORMATLEFT=" + OneLine(it.left) +
              "\r\nFORMATCENTER=" + OneLine(it.center) + "\r\nFORMATRIGHT=" + OneLine(it.right) + "\r\n\r\n";
  }
  index += "NO" + std::to_string(n) + "=\r\n";
  return index + blocks;
}

std::vector<HeaderFormatItem> ParseFormatFile(std::string_view text) {
  profile::IniDocument doc = profile::IniDocument::Parse(text);
  std::vector<HeaderFormatItem> items;
  for (int i = 0;; ++i) {
    std::string name = doc.Get("HEADERFORMAT", "NO" + std::to_string(i)).value_or("");
    if (name.empty()) break;
    items.push_back({name, doc.Get(name, "FORMATLEFT").value_or(""), doc.Get(name, "FORMATCENTER").value_or(""),
                     doc.Get(name, "FORMATRIGHT").value_or("")});
  }
  return items;
}

void HeaderFormatList::Load(const std::string& folder) {
  items_.clear();
  selection_ = -1;
  auto text = fs::ReadFile(folder + "/" + kFormatFileName, 16u << 20);
  if (!text.ok()) return;
  items_ = ParseFormatFile(*text);
  if (!items_.empty()) selection_ = 0;
}

Status HeaderFormatList::Save(const std::string& folder) const {
  return fs::WriteFileAtomic(folder + "/" + kFormatFileName, ComposeFormatFile(items_));
}

bool HeaderFormatList::NameAcceptable(const std::string& name, int except, Prompt* prompt) const {
  // A name becomes a section of the file and a value of its list: one equal to the list's
  // section (compared without regard to case, as the file reader does), or holding a
  // bracket, "=" or a control character, would break the file.
  bool breaks_file = EqualsNoCase(name, "HEADERFORMAT");
  for (unsigned char c : name) breaks_file = breaks_file || c < 0x20 || c == 0x7F || c == '[' || c == ']' || c == '=';
  if (Characters(name) > kMaxFormatName || breaks_file) {
    if (prompt) prompt->Show(kInvalidInput, kHeaderEditTitle, PromptIcon::kExclamation);
    return false;
  }
  for (int i = 0; i < static_cast<int>(items_.size()); ++i) {
    if (i != except && EqualsNoCase(items_[i].name, name)) {
      if (prompt) prompt->Show("その項目名は登録済みです。", kHeaderEditTitle, PromptIcon::kExclamation);
      return false;
    }
  }
  return true;
}

bool HeaderFormatList::RenameAllowed(Prompt* prompt) const {
  if (selection_ < 0) return false;
  if (selection_ == 0) {
    if (prompt) prompt->Show("項目[なし]の名前は変更できません。", kHeaderEditTitle, PromptIcon::kExclamation);
    return false;
  }
  return true;
}

bool HeaderFormatList::Rename(const std::string& name, Prompt* prompt) {
  if (!RenameAllowed(prompt)) return false;
  if (name.empty() || name == items_[selection_].name) return false;
  if (!NameAcceptable(name, selection_, prompt)) return false;
  items_[selection_].name = name;
  return true;
}

bool HeaderFormatList::SetTexts(int index, const std::string& left, const std::string& center,
                                const std::string& right) {
  if (index <= 0 || index >= static_cast<int>(items_.size())) return false;
  HeaderFormatItem& it = items_[index];
  if (it.left == left && it.center == center && it.right == right) return false;
  it.left = left;
  it.center = center;
  it.right = right;
  return true;
}

bool HeaderFormatList::DeleteSelected(Prompt* prompt) {
  if (selection_ < 0) return false;
  if (selection_ == 0) {
    if (prompt) prompt->Show("項目[なし]は削除できません。", kHeaderEditTitle, PromptIcon::kExclamation);
    return false;
  }
  if (prompt && prompt->Show("選択した項目を削除してもよろしいですか？", kHeaderEditTitle, PromptIcon::kQuestion,
                             PromptButtons::kYesNoDefaultNo) != PromptAnswer::kYes)
    return false;
  items_.erase(items_.begin() + selection_);
  if (items_.empty()) {
    selection_ = -1;
  } else if (selection_ >= static_cast<int>(items_.size())) {
    selection_ = static_cast<int>(items_.size()) - 1;
  }
  return true;
}

bool HeaderFormatList::Add(const std::string& name, const std::string& left, const std::string& center,
                           const std::string& right, Prompt* prompt) {
  if (name.empty() || !NameAcceptable(name, -1, prompt)) return false;
  items_.push_back({name, left, center, right});
  selection_ = static_cast<int>(items_.size()) - 1;
  return true;
}

std::string ExpandHeaderTokens(std::string_view text, const TokenValues& v) {
  std::string out(text);
  if (out.empty()) return out;
  char buf[64];
  if (out.find("<日付>") != std::string::npos) {
    char sep = v.ctrl_down ? '.' : '/';
    std::snprintf(buf, sizeof buf, "%04d%c%02d%c%02d", v.year, sep, v.month, sep, v.day);
    ReplaceAll(out, "<日付>", buf);
  }
  if (out.find("<時刻>") != std::string::npos) {
    std::snprintf(buf, sizeof buf, "%02d:%02d", v.hour, v.minute);
    ReplaceAll(out, "<時刻>", buf);
  }
  ReplaceAll(out, "<ユーザ名>", v.user);
  ReplaceAll(out, "<マシン名>", v.machine);
  ReplaceAll(out, "<プリンタ名>", v.printer);
  return out;
}

}  // namespace zv::client
