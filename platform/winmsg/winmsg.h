// Windows as message endpoints, standing in for the window functions the programs use to
// talk to each other: CreateWindow / DestroyWindow, FindWindow, window text, class and
// properties, SendMessage, PostMessage, WM_COPYDATA, WM_CLOSE, WM_TIMER and a message loop.
//
// A window is a class name, a text, a set of named integer properties and a procedure, owned
// by the thread that created it. Every window of the user's runtime root ($ZELVORA_ROOT) is
// listed in a window table under $ZELVORA_ROOT/run/ (folder mode 0700), so FindWindow,
// GetWindowText, GetProp and SendMessage reach windows of other processes. Messages between
// processes travel over Unix domain sockets in that folder; a peer of another user is refused.
//
// Handles are 32-bit numbers (records in shared memory carry them), never 0 or 0xFFFFFFFF.
// A window's procedure runs on its owning thread only: when that thread waits in
// GetMessage, PumpMessages or in a SendMessage of its own, or when a Qt program runs its
// event loop with the adapter (platform/winmsg/qt). SendMessage from another thread or
// process waits for the procedure's result; PostMessage only queues.
//
// Message parameters cross processes as plain 64-bit numbers (a pointer means nothing in the
// other process); only WM_COPYDATA carries bytes. Within one process a pointer may be passed,
// as the sender waits while the procedure runs.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/status.h"

namespace zv::winmsg {

using HWND = std::uint32_t;  // 0: no window
using UINT = std::uint32_t;
using WPARAM = std::uint64_t;
using LPARAM = std::int64_t;
using LRESULT = std::int64_t;

inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_ACTIVATE = 0x0006;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_COPYDATA = 0x004A;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_APP = 0x8000;
inline constexpr WPARAM WA_ACTIVE = 1;

// What WM_COPYDATA's lParam points to, in the receiving procedure as in the sender: the
// sender's number, the byte count and the bytes. Valid for the length of the call.
// Between processes dwData travels as 32 bits (the Windows 32-bit layout).
struct COPYDATASTRUCT {
  std::uintptr_t dwData = 0;
  std::uint32_t cbData = 0;
  const void* lpData = nullptr;
};
// The most bytes one WM_COPYDATA may carry; larger payloads are refused.
inline constexpr std::size_t kMaxCopyDataBytes = std::size_t{1} << 20;
inline constexpr std::size_t kMaxClassNameLength = 256;
inline constexpr std::size_t kMaxWindowTextLength = 32768;

// How long SendMessage waits for a window of another process before giving up.
inline constexpr std::chrono::milliseconds kDefaultSendTimeout{30000};

// A window procedure: takes the window, the message and its two parameters; gives the
// message's result. Call DefWindowProc for messages it does not handle.
using WindowProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

struct MSG {
  HWND hwnd = 0;
  UINT message = WM_NULL;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

// Takes a class name (1 to 256 bytes), a window text and a procedure; creates a window owned
// by the calling thread and lists it in the window table. Gives the handle, or
// InvalidArgument / IOError.
Result<HWND> CreateWindow(std::string_view class_name, std::string_view text, WindowProc proc);

// Takes a window of the calling thread; sends it WM_DESTROY, then removes it from the table
// (messages still queued for it are dropped; senders waiting for it get a failure). False
// for a handle that is not a window of the calling thread.
bool DestroyWindow(HWND hwnd);

// Takes a window of any process; asks it to come to the front by posting it WM_ACTIVATE
// (wParam WA_ACTIVE): a window program raises its frame on it. False when there is no such
// window.
bool SetForegroundWindow(HWND hwnd);

// The default handling: WM_CLOSE destroys the window; every other message gives 0.
LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Takes a class name and a window text, either of them nullptr for "any"; both compare
// without regard to ASCII case. Gives the most recently created matching window of this
// user and runtime root in any live process, or 0. Table entries of ended processes are
// removed on the way.
HWND FindWindow(const char* class_name, const char* text);

// Gives every window of the table whose process still runs, newest first.
std::vector<HWND> EnumWindows();

// True while the handle names a window of a running process.
bool IsWindow(HWND hwnd);

// Takes a window; gives its text, class name or owning process id ("" / 0 for no window).
std::string GetWindowText(HWND hwnd);
std::string GetClassName(HWND hwnd);
std::uint32_t GetWindowProcessId(HWND hwnd);

// Takes a window of this process and a new text; false for other windows or a text longer
// than kMaxWindowTextLength.
bool SetWindowText(HWND hwnd, std::string_view text);

// Enabled state: any window can be asked, a window of this process can be changed.
// EnableWindow gives the previous state as Windows does (true when it WAS disabled).
bool IsWindowEnabled(HWND hwnd);
bool EnableWindow(HWND hwnd, bool enable);

// Window properties (named integers; names compare without regard to ASCII case).
// SetProp takes a window of this process, a name (1 to 256 bytes) and a value; false
// otherwise. GetProp gives the value of any window's property, 0 when absent. RemoveProp
// takes a window of this process and gives the removed value (0 when absent).
bool SetProp(HWND hwnd, std::string_view name, std::int64_t value);
std::int64_t GetProp(HWND hwnd, std::string_view name);
std::int64_t RemoveProp(HWND hwnd, std::string_view name);

// Takes a window, a message and its parameters; runs the window's procedure on its owning
// thread and gives its result. 0 when the window does not exist, its owner ended, or a
// window of another process did not answer within kDefaultSendTimeout (LastError() tells
// which). A window of the calling thread is called directly. While waiting, the caller's
// own windows keep receiving sent messages, so two windows may send to each other.
// For WM_COPYDATA, lParam points to a COPYDATASTRUCT whose bytes are carried along.
LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// As SendMessage with a time limit for windows of other processes and other threads (a
// window of the calling thread is called directly). Gives the result, or NotFound (no such
// window), Timeout, InvalidArgument (an oversized WM_COPYDATA), IOError (the peer ended or
// refused the message).
Result<LRESULT> SendMessageTimeout(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                   std::chrono::milliseconds timeout);

// Takes a window, a message and its parameters; puts the message in the owning thread's
// queue and returns at once. False when there is no such window; WM_COPYDATA cannot be
// posted (its bytes would be gone) and is refused.
bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Takes a window of this process, a timer id and an interval in milliseconds (at least 10);
// from then on WM_TIMER (wParam the id) reaches the window about every interval, never more
// than one waiting at a time. Setting an existing id restarts it. False for other windows.
bool SetTimer(HWND hwnd, std::uintptr_t id, std::uint32_t interval_ms);
// Stops a timer; false when there was none.
bool KillTimer(HWND hwnd, std::uintptr_t id);

// Waits for the next posted message or timer of the calling thread's windows, running the
// procedures of sent messages as they come; fills msg and gives true, or false once
// PostQuitMessage was called (msg->wParam then holds the exit code).
bool GetMessage(MSG* msg);
// As GetMessage but does not wait: false when nothing is waiting (or a quit is pending;
// the quit stays for GetMessage).
bool PeekMessage(MSG* msg);
// Runs the procedure of the message's window (when it is a window of this process) and
// gives its result.
LRESULT DispatchMessage(const MSG& msg);
// Asks the calling thread's message loop to end with the given exit code.
void PostQuitMessage(int exit_code);
// Runs GetMessage / DispatchMessage until the quit; gives the exit code.
int RunMessageLoop();
// Runs every sent message, posted message and due timer that is waiting now, without
// waiting for more. Gives false when it met the quit (then taken, its code in *exit_code).
bool PumpMessages(int* exit_code = nullptr);

// For event-loop adapters: a descriptor of the calling thread's queue that becomes
// readable when something arrives for it (PumpMessages resets it), and the time the next
// timer is due (none without timers).
int WakeDescriptor();
std::optional<std::chrono::steady_clock::time_point> NextTimerDue();

// Why the last failed call of this thread failed.
Status LastError();

// Owns a window: destroys it when the object goes.
class Window {
 public:
  Window() = default;
  explicit Window(HWND hwnd) : hwnd_(hwnd) {}
  ~Window() { Reset(); }
  Window(Window&& o) noexcept : hwnd_(o.hwnd_) { o.hwnd_ = 0; }
  Window& operator=(Window&& o) noexcept {
    if (this != &o) {
      Reset();
      hwnd_ = o.hwnd_;
      o.hwnd_ = 0;
    }
    return *this;
  }
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Takes what CreateWindow takes; gives the owned window.
  static Result<Window> Create(std::string_view class_name, std::string_view text, WindowProc proc) {
    Result<HWND> h = CreateWindow(class_name, text, std::move(proc));
    if (!h.ok()) return h.status();
    return Window(*h);
  }
  HWND hwnd() const { return hwnd_; }
  // Destroys the window now (when it still exists).
  void Reset() {
    if (hwnd_ != 0) DestroyWindow(hwnd_);
    hwnd_ = 0;
  }

 private:
  HWND hwnd_ = 0;
};

}  // namespace zv::winmsg
