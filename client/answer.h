// Answers and quota status: reading the answer file of a run, the client's own result
// table for local runs, the period and pages texts of the status bar, and the frame's four
// timers as a state machine that the frame drives.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/base/status.h"

namespace zv::client {

// Quota period kinds as the frame keeps them (top four bits of "CheckRange").
enum PeriodKind : uint32_t {
  kKindNone = 0,
  kKindDay = 0x10000000,
  kKindWeek = 0x20000000,
  kKindMonth = 0x40000000,
  kKindDays = 0x80000000,
};

// The frame's cached quota state; -1 where unknown.
struct QuotaState {
  uint32_t kind = kKindMonth;
  int32_t days = 0;
  int32_t limit_date = 0;  // yyyymmdd
  int32_t max_pages = -1, page_count = -1, max_color = -1, count_color = -1;
  friend bool operator==(const QuotaState&, const QuotaState&) = default;
};

// Gives the frame's period kind for an answer's period code: 0 none, 1 one day, 2 one
// week, 4 a given number of days, any other one month.
uint32_t KindFromAnswerCode(int code);

// What an answer file says.
struct AnswerInfo {
  bool complete = false;  // "[PrintResult]" "Result" was there
  int code = 0;
  std::string title;
  std::string message;  // lines joined by "\n"
  QuotaState quota;     // the "[PrintLimit]" values stored over the given state
  std::string request_id;  // the request's key the engine echoed ("[PrintResult]" "RequestID")
};

// Takes the answer text and the frame's quota state; gives what it says. Without "Result"
// the answer is not complete and nothing else is read. "CheckRange" is the period digit,
// then for a given number of days one separator character and the days.
AnswerInfo ParseAnswer(std::string_view text, const QuotaState& before);
// Reads the answer file at `path` (NotFound when it is missing).
Result<AnswerInfo> ReadAnswerFile(const std::string& path, const QuotaState& before);
// Reads the answer file at `path` as the answer of the request whose key is `sent`; gives
// it only when it is complete and that request's (share::AnswerBelongs: its key, or none
// where `accept_keyless`); nothing while it is missing, incomplete or another request's (a
// copy left from before the slots wrapped, one another member put there).
std::optional<AnswerInfo> ReadAnswerOf(const std::string& path, const QuotaState& before, std::string_view sent,
                                       bool accept_keyless);

// Told once while a request waits for its answer, when the engine took the request from its
// slot and no answer came within the grace: the likely cause is that the engine set the
// request aside (its event log says why), as it does for every request of a share whose
// files all belong to one login while it checks who wrote them.
inline constexpr char kNoAnswerText[] =
    "印刷依頼はサーバに受け取られましたが、印刷結果が届きません。\n"
    "共有フォルダのファイルがすべて1つのログオン名のものになっていると、サーバは依頼した人を確かめられず、"
    "依頼を保留します。\n利用者ごとのログオン名で共有フォルダに接続し、サーバのイベントログを確認して下さい。";
inline constexpr char kNoAnswerTitle[] = "Zelvora";
inline constexpr std::chrono::milliseconds kNoAnswerGrace{10000};

// Takes the request folder, a slot's base name ("order07") and the request's key; gives
// whether that request still waits in its slot (the slot's file is there and carries the
// key, or cannot be read whole yet).
bool RequestWaitsInSlot(const std::string& request_folder, const std::string& slot_base, std::string_view key);

// When to tell kNoAnswerText during one wait.
class NoAnswerNotice {
 public:
  explicit NoAnswerNotice(std::chrono::milliseconds grace = kNoAnswerGrace) : grace_(grace) {}
  // Takes whether the request still waits in its slot and the time now; gives true once:
  // when the request has been gone from its slot for the grace with no answer read.
  bool Due(bool waiting_in_slot, std::chrono::steady_clock::time_point now);

 private:
  std::chrono::milliseconds grace_;
  std::optional<std::chrono::steady_clock::time_point> gone_since_;
  bool told_ = false;
};

// The client's result table for local runs: the title "印刷実行" and the code's lines, then
// the caller's extra lines.
struct ResultMessage {
  int code = 0;
  std::string title;
  std::vector<std::string> lines;
};
ResultMessage ClientResultMessage(int code, const std::vector<std::string>& extra = {});

// Takes the quota state (LimitDate, counts rolled on when the period has ended: every
// ended period is passed until the current one holds today) and today (yyyymmdd); gives
// the period pane's text.
std::string PeriodStatusText(QuotaState& state, int32_t today);
// Gives the pages pane's text of a quota state.
std::string PagesStatusText(const QuotaState& state);

// The printer and range check before a run. Gives an empty text when printing may go on,
// else the message, its title and which field gets the focus (0 none, 1022 first page,
// 1025 last page) and the tab to show.
struct RangeCheck {
  std::string text, title;
  int focus = 0;
  int tab = -1;
  bool ok() const { return text.empty(); }
};
RangeCheck CheckPrinterAndRange(bool have_printer, bool range_chosen, int from, int to, int total);

// The frame's timers: 1 answer polling (2,000 ms), 2 quota refresh (15,000 ms), 3 request
// start (200 ms), 4 printer status (5,000 ms). The frame arms and kills real timers as the
// machine says and feeds their ticks back.
enum FrameTimer { kTimerAnswer = 1, kTimerQuota = 2, kTimerStart = 3, kTimerPrinter = 4 };
int TimerInterval(FrameTimer id);

class FrameTimers {
 public:
  // What a tick asks the frame to do.
  enum class Action { kNone, kPostPrintExecute, kQueryPrinter, kRefreshQuota, kPollAnswer };

  // The frame was created: quota refresh and printer status run from now on.
  void Created();
  // The print button was pressed: a run starts, the request starts at the next tick of 3.
  void PrintPressed();
  // The request was handed over locally (no server): the answer is polled.
  void LocalRunStarted();
  // The answer was read (or the run was given up): polling stops, the run ends.
  void RunEnded();
  // The user declined to quit during a run: polling starts again.
  void CloseDeclined();
  // The frame closes: every timer stops.
  void Closing();

  // Takes a tick of a timer; gives what to do (the quota refresh follows every tick when a
  // server is configured: `server` set adds it after the main action).
  std::vector<Action> Tick(int id, bool server);

  bool armed(FrameTimer id) const { return armed_.count(id) != 0; }
  bool run_active() const { return run_active_; }

 private:
  std::set<int> armed_;
  bool run_active_ = false;
};

}  // namespace zv::client
