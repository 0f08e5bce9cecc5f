// The console's registry store: one getter (and where the console changes it, one setter)
// per value of the machine key "Software\Orbelin\Zelvora\1.0", and the console's layout
// settings under its "Settings" and "Graph" subkeys. Values of another type or size than
// the store writes read as missing. Getters give true when the value was read and leave
// their preset otherwise; setters give true when the value was stored.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry.h"

namespace zv::console {

class CRegistryConfig {
 public:
  virtual ~CRegistryConfig() = default;

  // Takes a root, key path, value name, type and bytes; stores the value into an existing
  // key (a missing key fails). CConsoleSettings creates the key instead.
  virtual bool WriteValue(registry::RootKey root, std::string_view path, std::string_view name, uint32_t type,
                          std::string_view bytes);
  // Takes a root, key path, value name and expected type; gives the bytes, or nothing when
  // the key or value is missing or the value has another type.
  static std::optional<std::string> ReadValue(registry::RootKey root, std::string_view path, std::string_view name,
                                              uint32_t type);

  // Stored kind code (0, 1, 2, 4, 8) and, only for a code with bit 8, the days.
  virtual bool GetCheckRange(int32_t* kind, int32_t* days);
  // Takes a kind code and days; stores (kind << 28) | (days & 0x0FFFFFFF).
  virtual bool SetCheckRange(int32_t kind, int32_t days);

  bool GetAppPath(std::string* v) { return Text("AppPath", v); }
  bool GetShareDir(std::string* v) { return Text("ShareDir", v); }
  bool GetLogPath(std::string* v) { return Text("LogPath", v); }
  bool SetLogPath(const std::string& v) { return SetText("LogPath", v); }
  bool GetDSN(std::string* v) { return Text("DSN", v); }
  bool GetUID(std::string* v) { return Text("UID", v); }
  bool GetPWD(std::string* v) { return Text("PWD", v); }
  bool GetPrintInfoDir(std::string* v) { return Text("PrintInfoDir", v); }
  bool GetResultDir(std::string* v) { return Text("ResultDir", v); }
  bool GetThumbnailCount(int32_t* v) { return Number("ThumbnailCount", v); }
  bool SetThumbnailCount(int32_t v) { return SetNumber("ThumbnailCount", v); }
  bool GetMaxPages_Color(int32_t* v) { return Number("MaxPages_Color", v); }
  bool SetMaxPages_Color(int32_t v) { return SetNumber("MaxPages_Color", v); }
  bool GetMaxPages(int32_t* v) { return Number("MaxPages", v); }
  bool SetMaxPages(int32_t v) { return SetNumber("MaxPages", v); }
  bool GetLimitDate(int32_t* v) { return Number("LimitDate", v); }
  bool SetLimitDate(int32_t v) { return SetNumber("LimitDate", v); }
  bool GetSMTPServer(std::string* v) { return Text("SMTPServer", v); }
  bool SetSMTPServer(const std::string& v) { return SetText("SMTPServer", v); }
  bool GetSMTPPort(int32_t* v) { return Number("SMTPPort", v); }
  bool SetSMTPPort(int32_t v) { return SetNumber("SMTPPort", v); }
  bool GetAdminMailAddress(std::string* v) { return Text("AdminMailAddress", v); }
  bool SetAdminMailAddress(const std::string& v) { return SetText("AdminMailAddress", v); }
  bool GetSenderMailAddress(std::string* v) { return Text("SenderMailAddress", v); }
  bool SetSenderMailAddress(const std::string& v) { return SetText("SenderMailAddress", v); }
  bool GetWeekFlag(int32_t* v) { return Number("WeekFlag", v); }
  // Whether request owners are checked and answer files handed to their accounts.
  bool GetCheckRequestOwner(int32_t* v) { return Number("CheckRequestOwner", v); }

  // Three flags from bits 1, 2, 4 (mail the user, mail the administrator, refuse); a flag
  // is stored only when it is exactly 1.
  bool GetLimitAction(int32_t* mail_user, int32_t* mail_admin, int32_t* refuse);
  bool SetLimitAction(int32_t mail_user, int32_t mail_admin, int32_t refuse);
  // Two flags from bits 1, 2 (on completion, on error).
  bool GetDispMessage(int32_t* on_completion, int32_t* on_error);
  bool SetDispMessage(int32_t on_completion, int32_t on_error);
  // Preset -1: a missing value reads -1.
  bool GetLimitOverAction(int32_t* v);
  bool SetLimitOverAction(int32_t v) { return SetNumber("LimitOverAction", v); }
  // The settings lock, stored inverted: a missing value reads as locked (1); a stored
  // value other than 0 reads as unlocked. Setting 1 stores 0, anything else stores 1.
  bool GetLogEnv1(int32_t* locked);
  bool SetLogEnv1(int32_t locked);
  // The scrambled lock password (REG_BINARY with a terminating zero byte).
  bool GetLogEnv2(std::string* scrambled);
  bool SetLogEnv2(const std::string& scrambled);

 protected:
  bool Text(std::string_view name, std::string* out);
  bool SetText(std::string_view name, const std::string& v);
  bool Number(std::string_view name, int32_t* out);
  bool SetNumber(std::string_view name, int32_t v);
};

// Takes bytes; gives them with each byte's bits reversed and then complemented. Applying it
// twice gives the bytes back. The settings lock guards against mistakes, not people.
std::string ScrambleLockPassword(std::string_view bytes);

// The console's layout settings and its period kind index. Each layout value is read once,
// on first use; setters change the kept copy; Save writes the kept values back.
class CConsoleSettings : public CRegistryConfig {
 public:
  struct Rect {
    int32_t left = -1, top = -1, right = -1, bottom = -1;
    bool operator==(const Rect&) const = default;
    bool Empty() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
  };
  struct DisplaySpan {
    int32_t kind = 0, selector = 0, before = 1, start = 0, end = 0;
  };

  // Creates a missing key before storing.
  bool WriteValue(registry::RootKey root, std::string_view path, std::string_view name, uint32_t type,
                  std::string_view bytes) override;
  // Kind index 0..4 from the stored code as the engine reads it (a missing value is the
  // engine's default, one month: index 3, and gives false); days as stored.
  bool GetCheckRange(int32_t* index, int32_t* days) override;
  // Takes a kind index 0..4 (others: 0) and days; stores the code with the days.
  bool SetCheckRange(int32_t index, int32_t days) override;

  // Getters: the kept value, read on first use (defaults: empty rectangle, bars shown,
  // display span 0/0/1/0/0, tree width 0, root name "Zelvora", no widths, sort 0/0, graph
  // type 0).
  Rect GetMainRect();
  int32_t GetToolBar();
  int32_t GetStatusBar();
  DisplaySpan GetDisplaySpan();
  int32_t GetTreeWidth();
  std::string GetRootName();
  std::vector<int> GetColumnWidths();
  void GetListOrder(int32_t* column, int32_t* direction);
  Rect GetGraphRect();
  int32_t GetGraphType();

  void SetMainRect(const Rect& r) { main_ = r; }
  void SetToolBar(int32_t v) { tool_bar_ = v; }
  void SetStatusBar(int32_t v) { status_bar_ = v; }
  // With a count: both dates become 0. With dates: the count becomes 1.
  void SetDisplaySpan(int32_t kind, int32_t selector, int32_t before);
  void SetDisplaySpanDates(int32_t kind, int32_t selector, int32_t start, int32_t end);
  void SetTreeWidth(int32_t v) { tree_width_ = v; }
  void SetRootName(const std::string& v) { root_name_ = v; }
  void SetColumnWidths(const std::vector<int>& v) { widths_ = v; }
  void SetListOrder(int32_t column, int32_t direction) {
    sort_column_ = column;
    sort_direction_ = direction;
  }
  void SetGraphRect(const Rect& r) { graph_ = r; }
  void SetGraphType(int32_t v) { graph_type_ = v; }

  // Writes every kept value that was read or set; gives false when a store failed.
  bool Save();

 private:
  Rect ReadRect(const char* key, Rect* kept);
  int32_t Kept(int32_t* kept, const char* name, int32_t preset);

  Rect main_;
  int32_t tool_bar_ = -1, status_bar_ = -1;
  int32_t span_kind_ = -1, span_sel_ = -1, before_ = -1, sdate_ = -1, edate_ = -1;
  int32_t tree_width_ = -1;
  std::string root_name_;
  std::vector<int> widths_;
  int32_t sort_column_ = -1, sort_direction_ = -1;
  Rect graph_;
  int32_t graph_type_ = -1;
};

}  // namespace zv::console
