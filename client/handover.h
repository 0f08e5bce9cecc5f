// Handing a job over to the server: the job document into the server's jobs folder under a
// name created exclusively, the request placed onto a free request slot under the lock of
// "Sequence.seq" that the engine also takes, and the job monitor told which answer copy to
// wait for.
#pragma once

#include <chrono>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "client/config.h"
#include "client/prompt.h"
#include "client/request_file.h"
#include "engine/hevrasto/share_files.h"
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
// Where the server's share cannot be reached or read: the first line, the folder, and the
// reason (ShareReasonText).
inline constexpr char kShareUnreachableText[] = "サーバの共有フォルダに接続できません。";
inline constexpr char kShareUnreadableText[] = "サーバの共有フォルダを読み取れません。";
inline constexpr char kShareFolderLabel[] = "フォルダ: ";
inline constexpr char kShareReasonLabel[] = "理由: ";
// Where every job file name of this machine in the jobs folder is taken (by earlier jobs,
// or by files another member put there): the busy text, this line and the folder.
inline constexpr char kJobNamesTakenText[] = "共有フォルダのジョブ用のファイル名がすべて使われています。";
// Where the share (or this user's quota on it) has no room for the job or its request: this
// text and the folder. Nothing is left behind; the job prints when it is sent again.
inline constexpr char kShareFullText[] =
    "サーバの共有フォルダがいっぱいで、印刷ジョブを置けません。\n空きができてから、もう一度印刷を行なってください。";

// Takes an errno of a share that cannot be reached or read; gives the reason in words.
std::string ShareReasonText(int error);

// Takes the jobs folder, the machine name and the job's bytes; writes the job into the
// first free "<machine><n>.prc" (n from 0 to 4999), created exclusively and readable by its
// owner alone (share::WriteJobFile), and gives its name. Busy when none is free;
// InvalidArgument when the machine name is not plain; NoSpace when the share is full;
// IOError for other failures.
Result<std::string> WriteJobFile(const std::string& jobs_folder, const std::string& machine,
                                 std::span<const uint8_t> bytes, share::FileOps& ops = share::DefaultFileOps());

// Takes the request folder, the request text and the most time to wait for the shared lock
// on "Sequence.seq" (opened read-only; past the limit the request is placed without it: the
// lock only keeps this side in step with an engine on this machine, and a network mount
// keeps it on the client); places the text on the first free slot from the start slot on
// (share::PlaceRequestText) that `slot_allowed` allows (may be empty: every free slot).
// Gives the slot taken; Busy when every slot is taken; NoSpace when the share is full;
// IOError when the request could not be written.
Result<int> PlaceRequest(const std::string& request_folder, const std::string& text,
                         std::chrono::milliseconds lock_limit, const std::function<bool(int slot)>& slot_allowed = {},
                         share::FileOps& ops = share::DefaultFileOps());

// What a hand-over came to.
struct HandOverResult {
  enum Outcome {
    kHandedOver,
    kNotRunning,
    kNoShare,
    kBusy,        // every request slot taken: kBusyText
    kNamesTaken,  // every job file name taken: the busy text naming the jobs folder
    kShareFull,   // no room on the share: kShareFullText naming the folder
    kFailed
  } outcome = kFailed;
  std::string slot_base;    // "order07" when handed over
  std::string answer_copy;  // "order07-<account>-<machine>.an2"
  std::string job_file;     // the job's name in the jobs folder
  std::string request_id;   // the request's key, which its answer carries
  std::string message;      // the text shown for kNoShare (the folder and the reason),
                            // kNamesTaken and kShareFull (the folder)
  std::string error;        // why it failed (for logs; the user sees the fixed text)
};

struct HandOverOptions {
  std::chrono::milliseconds lock_limit{2000};
  share::FileOps* ops = nullptr;  // the share's file operations (null: the system's own)
};

// What a look at the server's request folder found, and what the user is told.
struct ServerCheck {
  share::ShareCheck::State state = share::ShareCheck::kUnreachable;
  std::string folder;  // the request folder's local path ("" when it cannot be named)
  std::string text;    // the message for the user; "" while the engine runs
};
// Takes the client configuration (with a server); looks at the request folder anew each
// time (a share that comes back is used again at once): the engine runs where "Wakeup.inf"
// lies there; a readable folder without it is an engine that does not run
// (kServerNotRunningText); a folder that cannot be reached or read is told as such, naming
// the folder and the reason. A configuration whose folder cannot be named is unreachable.
ServerCheck CheckServer(const ClientConfig& config, share::FileOps& ops = share::DefaultFileOps());
// Gives whether the server's engine runs (CheckServer's kRunning).
bool ServerEngineRunning(const ClientConfig& config);

// Hands a packed job document (its bytes) and the request over to the server of `config`:
// checks the server (kNotRunning with its message, kNoShare with the share's), writes the
// job file, deletes the earlier answer "<account>-<machine>.ans", composes the request with
// the job file name and a fresh key and places it. Busy: the busy message, and the job copy
// is removed; every job name taken (kNamesTaken) or no room on the share (kShareFull): the
// message of HandOverResult::message, nothing left on the share; any failure: the
// internal-error message, and the job copy is removed. Every message goes through `prompt`
// (may be null). Each outcome but kHandedOver leaves the job to be sent again.
HandOverResult SendRequest(const ClientConfig& config, const std::vector<uint8_t>& packed_document, RequestOrder order,
                           Prompt* prompt, const HandOverOptions& options = {});

// Tells the job monitor of this root which answer copy to wait for: puts the name into the
// 128-byte block "ZELVORA_MONITOR", ended by a zero and followed by the request's key and
// its zero where both fit (the monitor then shows only an answer carrying it), and sends
// the monitor's window message 0xBD3, waiting at most `limit` for it to be handled, then
// closes the block. Without a monitor window shows kNoMonitorText through `prompt` and
// gives NotFound; a monitor that does not answer in time gives Timeout.
Status NotifyMonitor(const std::string& answer_copy, Prompt* prompt,
                     std::chrono::milliseconds limit = std::chrono::milliseconds(5000),
                     std::string_view request_id = {});

}  // namespace zv::client
