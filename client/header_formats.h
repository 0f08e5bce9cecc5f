// Header formats: named sets of the three header/footer texts kept in "Format.fmt" in the
// client's program folder, the list's rename, delete and save rules, and the expansion of
// the tokens that this side replaces (date, time, user, machine, printer; the page tokens
// are the viewer's).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "client/prompt.h"
#include "platform/base/status.h"

namespace zv::client {

inline constexpr char kFormatFileName[] = "Format.fmt";
inline constexpr char kHeaderEditTitle[] = "ヘッダ・フッタ編集";
inline constexpr size_t kMaxFormatName = 256;  // characters

struct HeaderFormatItem {
  std::string name, left, center, right;
  friend bool operator==(const HeaderFormatItem&, const HeaderFormatItem&) = default;
};

// Gives the file's text (CR LF line ends) for the items up to the first one without a name.
std::string ComposeFormatFile(const std::vector<HeaderFormatItem>& items);
// Reads the items of a file's text ("NO0", "NO1", ... until an empty one).
std::vector<HeaderFormatItem> ParseFormatFile(std::string_view text);

// The list of header formats. Index 0 is protected: it is neither renamed nor deleted.
class HeaderFormatList {
 public:
  // Loads "<folder>/Format.fmt"; a missing or unreadable file gives an empty list.
  void Load(const std::string& folder);
  // Writes "<folder>/Format.fmt" whole (through a temporary name). The old file stays when
  // it cannot be written.
  Status Save(const std::string& folder) const;

  const std::vector<HeaderFormatItem>& items() const { return items_; }
  int selection() const { return selection_; }
  void Select(int index) { selection_ = index >= 0 && index < static_cast<int>(items_.size()) ? index : -1; }

  // Gives whether the selected item may get a new name: not with none selected, nor item 0
  // (which says "項目[なし]の名前は変更できません。").
  bool RenameAllowed(Prompt* prompt) const;
  // Renames the selected item. Messages: item 0 as above, a name taken by another item
  // "その項目名は登録済みです。" (names that differ only in the case of ASCII letters count as
  // one, as the file reader matches sections so), a name longer than 256 characters (or
  // holding "]" or a line end) "入力値が適切ではありません。". An empty or unchanged name does
  // nothing. Gives whether the name changed.
  bool Rename(const std::string& name, Prompt* prompt);
  // Takes an index above 0 and three texts; keeps them as that item's texts. Gives whether
  // they changed (item 0 and indexes outside the list keep theirs).
  bool SetTexts(int index, const std::string& left, const std::string& center, const std::string& right);
  // Deletes the selected item after asking (Yes); item 0 is refused. The selection moves to
  // the same index, or the one before when the last was deleted, or none.
  bool DeleteSelected(Prompt* prompt);
  // Adds an item with the name and texts and selects it (the texts are not copied into the
  // item selected before). A taken or invalid name is refused as in Rename; an empty name
  // does nothing.
  bool Add(const std::string& name, const std::string& left, const std::string& center, const std::string& right,
           Prompt* prompt);

 private:
  bool NameAcceptable(const std::string& name, int except, Prompt* prompt) const;
  std::vector<HeaderFormatItem> items_;
  int selection_ = -1;
};

// What the tokens are replaced by.
struct TokenValues {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  bool ctrl_down = false;  // the date is written with "." instead of "/"
  std::string user, machine, printer;
};
// Takes a text; gives it with "<日付>", "<時刻>", "<ユーザ名>", "<マシン名>" and "<プリンタ名>"
// replaced ("<ページ>", "<総ページ>" and "<改行>" stay).
std::string ExpandHeaderTokens(std::string_view text, const TokenValues& values);

}  // namespace zv::client
