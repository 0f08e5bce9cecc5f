// Private to the message layer: what its three parts share. window_table.cc keeps the table
// of windows (this process's windows and the records other processes read), sockets.cc carries
// messages between processes, message_loop.cc holds the thread queues and the loop that runs
// them. The public interface is winmsg.h; nothing outside this folder includes this header.
//
// Locks: Runtime::record_m_ is taken before Runtime::m_ (never the other way round), and a
// thread queue's lock is taken inside Runtime::m_ or alone, never before it.
#pragma once

#include <sys/eventfd.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/base/status.h"
#include "platform/shm/owner.h"
#include "platform/winmsg/winmsg.h"
#include "platform/winmsg/wire.h"

namespace zv::winmsg {
namespace internal {

using Clock = std::chrono::steady_clock;
using wire::Frame;
using wire::FrameType;
using wire::ReplyCode;

// How long a connecting peer has to deliver its whole frame, how many may be half-read at
// once, and how long a PostMessage waits for the receiver to acknowledge the queueing.
constexpr auto kFrameReadLimit = std::chrono::seconds(5);
constexpr std::size_t kMaxPendingConnections = 64;
constexpr auto kPostAckLimit = std::chrono::seconds(5);
// SetTimer raises shorter intervals to this, as Windows does (its USER_TIMER_MINIMUM), so a
// zero interval cannot keep a thread busy.
constexpr std::uint32_t kMinTimerMs = 10;

// Sets this thread's last error (what LastError gives).
void SetError(Status s);

// Sets the last error and gives `value`, the failure value of the caller.
template <typename T>
T Fail(Status s, T value) {
  SetError(std::move(s));
  return value;
}

// Gives the milliseconds left until `deadline` for poll (0 when passed, rounded up so a wait
// never ends just before it).
int RemainingMs(Clock::time_point deadline);

// ---- folders and files (window_table.cc) ----

// Gives the folder of the window table and the sockets.
std::string TableDir();
// Makes the table's folder (mode 0700) when missing.
Status EnsureTableDir();
// Gives the record file name of a handle ("0001abcd.win").
std::string HandleName(HWND h);
// Takes the table folder and a process; gives the path of that process's socket.
std::string SocketPath(const std::string& dir, const shm::ProcessIdentity& who);
// Writes `content` to a fresh temporary file (mode 0600) in `dir`; gives its path.
Result<std::string> WriteTemp(const std::string& dir, const std::string& content);

// ---- sockets (sockets.cc) ----

// Takes a connected socket; true when its peer runs as this user (its pid in *pid_out).
bool PeerIsSameUser(int fd, pid_t* pid_out);
// Writes all bytes to a non-blocking socket before `deadline`; false when it could not.
bool WriteAll(int fd, const std::uint8_t* data, std::size_t size, Clock::time_point deadline);
// Sends a reply frame with the code and result on fd, then closes fd.
void SendReply(int fd, ReplyCode code, LRESULT result);

// ---- queues (message_loop.cc) ----

struct ThreadQueue;

// The answer a sender of this process waits for.
struct Completion {
  std::mutex m;
  bool done = false;
  ReplyCode code = ReplyCode::kOk;
  LRESULT result = 0;
};

// A sent message waiting for its window's thread.
struct SentItem {
  HWND hwnd = 0;
  UINT message = 0;
  WPARAM wparam = 0;
  LPARAM lparam = 0;
  bool has_copy = false;
  std::uint32_t copy_number = 0;
  std::vector<std::uint8_t> copy_bytes;
  // A sender of this process waits on `completion` and is woken through `waiter`;
  // a sender of another process waits for a reply frame on `reply_fd`.
  std::shared_ptr<Completion> completion;
  std::shared_ptr<ThreadQueue> waiter;
  int reply_fd = -1;
};

// A window's timer: WM_TIMER with `id` every `ms` milliseconds, next at `due`.
struct TimerEntry {
  HWND hwnd;
  std::uintptr_t id;
  std::uint32_t ms;
  Clock::time_point due;
};

// The message queue of one thread: sent messages waiting for their procedure, posted
// messages, timers and the quit request, plus an eventfd that wakes the thread.
struct ThreadQueue {
  std::mutex m;
  std::deque<SentItem> sent;
  std::deque<MSG> posted;
  std::vector<TimerEntry> timers;
  bool quit = false;
  int quit_code = 0;
  bool alive = true;
  int efd = -1;
  pid_t pid = ::getpid();

  ThreadQueue() { efd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }
  ~ThreadQueue() {
    if (efd >= 0) ::close(efd);
  }
  // Makes the thread's wait end (the eventfd readable).
  void Wake() {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(efd, &one, sizeof one);
  }
  // Clears the wake-up before the thread looks at its queue.
  void Drain() {
    std::uint64_t v;
    [[maybe_unused]] ssize_t n = ::read(efd, &v, sizeof v);
  }
};

// Takes a sent item and the answer; wakes a waiting sender of this process or sends the
// reply frame to one of another process.
void Finish(SentItem& item, ReplyCode code, LRESULT result);

// A window of this process: what its table record says, its procedure and owning thread.
struct WindowEntry {
  HWND hwnd = 0;
  std::string class_name;
  std::string text;
  std::vector<std::pair<std::string, std::int64_t>> props;
  bool enabled = true;
  WindowProc proc;
  std::shared_ptr<ThreadQueue> owner;
  std::uint64_t created = 0;
  std::string record_path;
  std::string socket_path;
};

// ---- the process's windows and its message receiver ----

class Runtime {
 public:
  // The runtime of this process; a child made by fork starts with a fresh one (the
  // parent's windows and receiver thread are not its own).
  static Runtime& Get();

  // Gives the window of this process with handle h, or null.
  std::shared_ptr<WindowEntry> Find(HWND h) {
    std::lock_guard<std::mutex> lock(m_);
    auto it = windows_.find(h);
    return it == windows_.end() ? nullptr : it->second;
  }

  // Lists a new window in the table under a free handle (starting this process's listener
  // with its first window); gives the handle. Busy when no free handle was found.
  Result<HWND> Create(std::string_view cls, std::string_view text, WindowProc proc, std::shared_ptr<ThreadQueue> owner);
  // Sends WM_DESTROY and removes a window of the calling thread (and its timers and record);
  // stops the listener with the last window. False when the window is not the caller's.
  bool Destroy(HWND h, const std::shared_ptr<ThreadQueue>& caller);
  // A thread ended: fails its waiting senders and removes its windows.
  void ThreadEnded(const std::shared_ptr<ThreadQueue>& q);
  // Rewrites a window's table record (temp + rename). NotFound when it was destroyed.
  Status WriteRecord(const std::shared_ptr<WindowEntry>& e);
  // Applies `change` to a window of this process under the lock, then rewrites its record
  // (defined in window_table.cc, its only user).
  template <typename F>
  bool Update(HWND h, F&& change);
  // Runs `look` on a window of this process under the lock; false when there is none.
  template <typename F>
  bool Read(HWND h, F&& look) {
    std::lock_guard<std::mutex> lock(m_);
    auto it = windows_.find(h);
    if (it == windows_.end()) return false;
    look(static_cast<const WindowEntry&>(*it->second));
    return true;
  }

  // This process as the table names it (pid and start time).
  const shm::ProcessIdentity& me() const { return me_; }
  // Gives the table record of a window of this process under the handle h.
  wire::WindowRecord RecordOf(const WindowEntry& e, HWND h) const {
    wire::WindowRecord rec;
    rec.hwnd = h;
    rec.pid = me_.pid;
    rec.start_time = me_.start_time;
    rec.created = e.created;
    rec.enabled = e.enabled;
    rec.socket = e.socket_path;
    rec.class_name = e.class_name;
    rec.text = e.text;
    rec.props = e.props;
    return rec;
  }

 private:
  Runtime() : pid_(::getpid()), me_(shm::SelfIdentity()), rng_(std::random_device{}()) {}
  // Listens on this process's socket in `dir` and starts the receiver thread (under m_).
  Status StartListener(const std::string& dir);
  // Removes the socket and ends the receiver thread; takes the held lock on m_, which it
  // lets go while the thread ends.
  void StopListener(std::unique_lock<std::mutex>& lock);
  // The receiver thread: accepts connections, reads each one frame (within kFrameReadLimit)
  // and delivers it.
  void ReceiverLoop(int listen_fd, int stop_fd);
  // Queues a received frame on its window's thread; a posted one is acknowledged at once,
  // a sent one is answered on fd when its procedure has run.
  void Deliver(Frame frame, int fd);

  pid_t pid_;
  shm::ProcessIdentity me_;
  std::mutex m_;
  std::mutex record_m_;  // serialises record file writes, so the newest state lands last
  std::unordered_map<HWND, std::shared_ptr<WindowEntry>> windows_;
  std::mt19937 rng_;
  int listen_fd_ = -1;
  int stop_fd_ = -1;
  std::string socket_path_;
  std::thread receiver_;
};

// ---- thread queues (message_loop.cc) ----

// Gives this thread's queue, making it on first use (and anew in a forked child).
const std::shared_ptr<ThreadQueue>& CurrentQueue();
// Gives this thread's queue when it has made one, else null (never makes one).
std::shared_ptr<ThreadQueue> ExistingQueue();
// Runs one sent message on the owning thread and answers its sender.
void RunSent(SentItem& item, const std::shared_ptr<ThreadQueue>& self);
// Runs every sent message waiting for this thread's windows; gives how many ran.
int RunAllSent(const std::shared_ptr<ThreadQueue>& q);
// A wait drained the wake descriptor; when posted work remains, set it again so an event
// loop watching it does not miss that work.
void RewakeIfPending(const std::shared_ptr<ThreadQueue>& q);
// Takes the next posted message or due timer (posted first). kQuit when only the quit is
// left, kNone when nothing is due. The order is Windows': WM_QUIT only once the posted
// messages are gone, and WM_TIMER only when nothing else waits.
enum class Next { kMessage, kQuit, kNone };
Next TakeNext(const std::shared_ptr<ThreadQueue>& q, MSG* msg, bool take_quit);
// Gives the milliseconds until this thread's next timer is due, -1 when it has none.
int WaitMsUntilTimer(const std::shared_ptr<ThreadQueue>& q);

// ---- the window table as other processes see it (window_table.cc) ----

// Reads the record of a window of the current root; a record of an ended process is removed
// with its socket, and counts as no window.
Result<wire::WindowRecord> ReadLiveRecord(const std::string& dir, const std::string& file);
// Gives the live record of a window of any process; NotFound when there is none.
Result<wire::WindowRecord> LookUp(HWND h);
// Gives the live records of every window, newest first.
std::vector<wire::WindowRecord> AllLiveRecords();

// ---- sending (sockets.cc and message_loop.cc) ----

// Sends one frame to the process that owns `rec` and waits for its reply, running the
// caller's own sent messages meanwhile.
Result<LRESULT> Exchange(const wire::WindowRecord& rec, const Frame& frame, Clock::time_point deadline);
// Sends a message to a window of this process: runs it at once on the owning thread, else
// queues it there and waits (running this thread's own sent messages) until `deadline`.
Result<LRESULT> SendLocal(const std::shared_ptr<WindowEntry>& e, UINT message, WPARAM w, LPARAM l,
                          std::optional<Clock::time_point> deadline);
// Checks a WM_COPYDATA's COPYDATASTRUCT; with a frame, copies its number and bytes into it.
Status CheckCopyData(UINT message, LPARAM l, Frame* frame);
// SendMessage to any window: local ones with local_limit (none: no limit), others through
// their process's socket with remote_limit.
Result<LRESULT> Send(HWND hwnd, UINT message, WPARAM w, LPARAM l, std::optional<std::chrono::milliseconds> local_limit,
                     std::chrono::milliseconds remote_limit);

}  // namespace internal

// The layer's files use these names as their own (they were one file's private names).
using namespace internal;

}  // namespace zv::winmsg
