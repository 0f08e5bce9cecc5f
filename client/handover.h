// Handing a job over to the server: the job document into the server's jobs folder under a
// name created exclusively, the request placed onto a free request slot under the lock of
// "Sequence.seq" that the engine also takes, and the job monitor told which answer copy to
// wait for.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "client/config.h"
#include "client/prompt.h"
#include "client/request_file.h"
#include "platform/base/status.h"

namespace zv::client {

// Texts shown around the hand-over.
inline constexpr char kServerNotRunningText[] =
    "Zelvoraサーバのサービスが起動していません。\nサービスを確認して下さい。";
inline constexpr char kPrintErrorTitle[] = "印刷実行エラー";
inline constexpr char kBusyText[] = "印刷が大変混み合っています。\nしばらくしてから、もう一度印刷を行なってください。";
inline constexpr char kBusyTitle[] = "Zelvora";
inline constexpr char kInternalErrorText[] = "内部処理で異常が発生しました。";
inline constexpr char kNoMonitorText[] =
    "印刷ジョブ監視ツールが起動されていません。\n印刷は行われますが印刷結果を確認することはできません。";
inline constexpr char kNoMonitorTitle[] = "Zelvora2";
// The job monitor's window class, its message and its shared block.
inline constexpr char kMonitorClass[] = "Welmoric";
inline constexpr unsigned kMonitorAddResult = 0xBD3;
inline constexpr char kMonitorBlock[] = "ZELVORA_MONITOR";
inline constexpr size_t kMonitorBlockSize = 128;
// Job file numbers tried: machine name followed by 0 .. 4999 and ".prc".
inline constexpr int kMaxJobFileNumber = 4999;

// Takes the jobs folder and the machine name; creates the first free "<machine><n>.prc"
// (n from 0 to 4999) exclusively, empty and readable by its owner alone, and gives its
// name (names taken by anyone else are passed over). Busy when none is free;
// InvalidArgument when the machine name is not plain; IOError for other failures.
Result<std::string> CreateJobFile(const std::string& jobs_folder, const std::string& machine);

// Takes the request folder, the request text and the most time to wait for the shared lock
// on "Sequence.seq" (opened read-only; past the limit the request is placed without it);
// writes the text whole to a temporary name (never matching "order*.lst"), then renames it
// onto the first free slot from the start slot on (ring order), never replacing a slot
// file; before that it deletes `stale_copy_for` (a function giving the answer copy of a
// slot that must not be left from an earlier request, may be empty). Gives the slot taken;
// Busy when every slot is taken; IOError when the request could not be written.
Result<int> PlaceRequest(const std::string& request_folder, const std::string& text,
                         std::chrono::milliseconds lock_limit,
                         const std::function<void(int slot)>& stale_copy_for = {});

// What a hand-over came to.
struct HandOverResult {
  enum Outcome { kHandedOver, kNotRunning, kBusy, kFailed } outcome = kFailed;
  std::string slot_base;    // "order07" when handed over
  std::string answer_copy;  // "order07-<account>-<machine>.an2"
  std::string job_file;     // the job's name in the jobs folder
  std::string error;        // why it failed (for logs; the user sees the fixed text)
};

struct HandOverOptions {
  std::chrono::milliseconds lock_limit{2000};
};

// Takes the client configuration (with a server); gives true when the server's engine runs:
// "Wakeup.inf" lies in its request folder. False when the folder cannot be named either.
bool ServerEngineRunning(const ClientConfig& config);

// Hands a packed job document (its bytes) and the request over to the server of `config`:
// checks "Wakeup.inf" (kNotRunning with its message), creates the job file name, writes the
// document there, deletes the earlier answer "<account>-<machine>.ans", composes the
// request with the job file name and places it. Busy: the busy message, and the job copy is
// removed; any failure: the internal-error message, and the job copy is removed. Every
// message goes through `prompt` (may be null).
HandOverResult SendRequest(const ClientConfig& config, const std::vector<uint8_t>& packed_document, RequestOrder order,
                           Prompt* prompt, const HandOverOptions& options = {});

// Tells the job monitor of this root which answer copy to wait for: puts the name into the
// 128-byte block "ZELVORA_MONITOR" and sends the monitor's window message 0xBD3, waiting at
// most `limit` for it to be handled, then closes the block. Without a monitor window shows
// kNoMonitorText through `prompt` and gives NotFound; a monitor that does not answer in
// time gives Timeout.
Status NotifyMonitor(const std::string& answer_copy, Prompt* prompt,
                     std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

}  // namespace zv::client
