// The job monitor without windows: the hand-over of answer names through the shared block,
// the queue of awaited answer copies and their polling, the result popup's text and layout,
// the list of waiting requests of the server's request folder with its eight columns, the
// monitoring state and the saved window placement and column widths.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "client/answer.h"
#include "platform/base/status.h"

namespace zv::monitor {

inline constexpr char kAppTitle[] = "Welmoric";
inline constexpr char kTrayTooltip[] = "Zelvora Spooler";
inline constexpr char kMonitoringText[] = "サーバ監視中";
inline constexpr char kPausedText[] = "サーバ監視停止中";
inline constexpr char kCountFormat[] = "キューに%d個のドキュメント";
inline constexpr char kNoTrayText[] = "トレイアイコンの作成は失敗した。";
inline constexpr char kRegistryMissingText[] = "レジストリ上にキー名称を取得失敗。";
inline constexpr char kLineBreakMarker[] = "##KAIGYOU_POS##";
inline constexpr char kTitlePrefix[] = "Zelvora Server - ";
inline constexpr char kSettingsKey[] = "Software\\Orbelin\\Zelvora\\1.0\\Settings";
// Menu and window commands.
inline constexpr int kCmdRefresh = 32771;
inline constexpr int kCmdClose = 32772;
inline constexpr int kCmdShowMonitor = 32773;
inline constexpr int kCmdTogglePause = 32774;
inline constexpr int kCmdHide = 32776;
inline constexpr char kMenuOpen[] = "スプーラを開く(&S)";
inline constexpr char kMenuHide[] = "スプーラを閉じる(&H)";
inline constexpr char kMenuPause[] = "監視を一時停止(&T)";
inline constexpr char kMenuClose[] = "閉じる(&C)";
inline constexpr char kMenuRefresh[] = "最新の情報に更新";
inline constexpr size_t kMaxAnswerName = 127;
inline constexpr size_t kMaxRequests = 100;
inline constexpr int kColumnCount = 8;
extern const char* const kColumnHeaders[kColumnCount];

// Takes the bytes of the shared block; gives the answer name it holds when it is a plain
// "*.an2" file name of at most 127 bytes ended by a zero inside the block; else nothing.
std::optional<std::string> AnswerNameFromBlock(std::span<const std::byte> block);

// Takes the bytes of the shared block; gives the request key that follows the answer
// name's zero (ended by its own zero inside the block), or "" when there is none.
std::string RequestKeyFromBlock(std::span<const std::byte> block);

// Gives "キューに%d個のドキュメント" with the count, and the window title for a server name.
std::string CountText(int count);
std::string WindowTitle(const std::string& server_name);

// An answer file's identity: deletion removes only the file that was read.
struct FileIdentity {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  int64_t mtime_ns = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// What the poll read from an answer copy.
struct MonitorAnswer {
  bool arrived = false;  // the file is there and "Result" is not empty
  std::string result, title, message;
  std::string request_id;  // the request's key the answer carries ("" for none)
  FileIdentity identity;
};

// Takes an answer copy's path; reads it once (at most 1 MiB): not arrived when it is missing
// or its "[PrintResult]" "Result" is empty; then "Title" and "Message" of "[NormalMessage]"
// for result "0", else of "[ErrorMessage]", each cut to 511 bytes.
MonitorAnswer ReadAnswer(const std::string& path);

// Takes a path and the identity that was read; deletes the file only when it is still that
// file (same size and modification time). Gives true when it was deleted.
bool DeleteIfUnchanged(const std::string& path, const FileIdentity& identity);

// The result popup's content: the title and the lines (the text split at each
// "##KAIGYOU_POS##"; for a result other than "0" the result in brackets ends the text).
struct ResultPopupText {
  std::string title;
  std::vector<std::string> lines;
};
ResultPopupText PopupTextFor(const MonitorAnswer& answer);

// The popup's geometry from the measured text and the measured "OK".
struct PopupLayout {
  int window_width = 0, window_height = 0;
  int text_x = 30, text_y = 20, text_width = 0, text_height = 0;
  int button_x = 0, button_y = 0, button_width = 0, button_height = 0;
};
PopupLayout LayoutResultPopup(int text_width, int text_height, int ok_width, int ok_height);

// The queue of awaited answer copies (full local paths, each with the key of its request),
// in hand-over order. An answer copy counts only when it is its request's
// (share::AnswerBelongs): a copy left from before the slots wrapped, or one another member
// put in its name, is passed over and the wait goes on.
class AnswerQueue {
 public:
  void Add(std::string path, std::string key = {}) {
    paths_.push_back(std::move(path));
    keys_.push_back(std::move(key));
  }
  size_t size() const { return paths_.size(); }
  const std::vector<std::string>& paths() const { return paths_; }
  // Whether answers without a key are read (an engine that echoes none).
  void set_accept_keyless(bool accept) { accept_keyless_ = accept; }
  // How long after the engine took a request without an answer coming the user is told
  // (client::kNoAnswerGrace unless set).
  void set_no_answer_grace(std::chrono::milliseconds grace) { grace_ = grace; }

  // The key of a queued path ("" where its request carried none or it is not queued).
  std::string key_of(const std::string& path) const;

  // What one poll found: answers to show and copies already deleted (empty messages).
  struct Arrival {
    std::string path;
    MonitorAnswer answer;
    // Whether the request still waits in its slot (RequestWaitsInSlot; true where unknown).
    bool request_waits = true;
  };
  // Reads every queued path in order; removes those that have arrived and gives the ones
  // with a message; an arrived answer without a message is deleted at once.
  std::vector<Arrival> Poll();
  // As Poll, over answers read elsewhere (by a worker): takes each path's answer.
  std::vector<Arrival> Take(const std::vector<Arrival>& read);
  // Takes what a poll read and the time now; gives the awaited copies whose request the
  // engine took from its slot without an answer coming within the grace (each once): the
  // user is told that no answer came and why that may be (client::kNoAnswerText).
  std::vector<std::string> Overdue(const std::vector<Arrival>& read, std::chrono::steady_clock::time_point now);

 private:
  std::vector<std::string> paths_;
  std::vector<std::string> keys_;  // beside paths_
  bool accept_keyless_ = false;
  std::map<std::string, client::NoAnswerNotice> notices_;
  std::chrono::milliseconds grace_ = client::kNoAnswerGrace;
};

// Takes the request folder and an awaited answer copy's path with its request's key; gives
// whether the request still waits in its slot (the slot named by the copy's "orderNN"
// prefix); true where there is no key to tell it by.
bool CopysRequestWaits(const std::string& request_folder, const std::string& copy_path, const std::string& key);

// The popup's content when no answer came (Overdue).
MonitorAnswer NoAnswerNoticeAnswer();

// The machine key's names the monitor uses.
struct ServerNames {
  bool key_found = false;
  std::optional<std::string> server, share, print_info_dir, result_dir;
  bool accept_keyless = false;  // "AcceptAnswersWithoutKey" (client::kAcceptKeylessValue)
};
// Reads the machine key's "ServerName", "ShareName", "PrintInfoDir", "ResultDir" and
// "AcceptAnswersWithoutKey".
ServerNames ReadServerNames();
// Takes the names and a folder name; gives the local path of that folder of the server's
// share; InvalidArgument when the server or share is missing or empty or a name is not plain.
Result<std::string> ShareFolder(const ServerNames& names, const std::string& folder);
// Gives the result folder (ResultDir, "Result" when missing or empty).
Result<std::string> ResultFolder(const ServerNames& names);

// One waiting request of the list.
struct RequestRecord {
  std::string path;
  std::string name;
  int64_t mtime = 0;  // seconds since the epoch
};

// Takes the request folder; gives the files named "order" + two characters + ".lst" (at
// most 100, name order), then sorted oldest first by their local time to the second (a pair
// is exchanged only when the earlier one is later). NotFound when the folder is missing.
Result<std::vector<RequestRecord>> ListRequests(const std::string& folder);
// Takes records in enumeration order; sorts them as ListRequests does.
void SortRecords(std::vector<RequestRecord>& records);

// Takes a paper number; gives its name ("" for an unknown one).
std::string PaperName(int number);
// Takes a pages-per-sheet choice; gives its text ("" for an unknown one).
std::string LayoutText(int choice);

// Takes a record; gives its eight cells (a request that cannot be read gives empty cells
// beside its time).
std::vector<std::string> RequestRow(const RequestRecord& record);

// The list's state: rows, the count text and the message to show once.
struct ListView {
  std::vector<std::vector<std::string>> rows;
  std::string count_text;
  std::string message;  // the registry message, given once until the values come back
};

class RequestList {
 public:
  // Takes whether monitoring runs; rebuilds the rows from the registry and the request
  // folder. Paused: no rows, count 0.
  ListView Refresh(bool monitoring);

 private:
  bool reported_missing_ = false;
};

// The monitor's settings in the user key.
struct Placement {
  int left = 240, top = 330, width = 550, height = 200;
  friend bool operator==(const Placement&, const Placement&) = default;
};
// Gives the period of the poll in milliseconds ("Monitor_Cycle" seconds, 3 s when missing
// or 0).
int PollPeriodMs();
// Gives the saved placement (the defaults when the key or any value is missing; a left or
// top above 32766 read unsigned becomes 240 or 330).
Placement ReadPlacement();
Status SavePlacement(const Placement& p);
// Gives the eight stored column widths (a value above 201093784 read unsigned becomes 100),
// or std::nullopt when any of them is missing (the user never closed the window with its
// list; the window then fits its columns to their texts).
std::optional<std::vector<int>> StoredColumnWidths();
Status SaveColumnWidths(const std::vector<int>& widths);

}  // namespace zv::monitor
