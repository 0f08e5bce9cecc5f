// The thread queues and the message loop: sent and posted messages, timers, the quit request,
// and the functions that wait on them.
#include "platform/winmsg/winmsg_internal.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <algorithm>

namespace zv::winmsg {
namespace internal {

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 1000000 ? 1000000 : static_cast<int>(left) + 1;
}

// ---- queues ------------------------------------------------------------------------------

void Finish(SentItem& item, ReplyCode code, LRESULT result) {
  if (item.completion) {
    {
      std::lock_guard<std::mutex> lock(item.completion->m);
      item.completion->done = true;
      item.completion->code = code;
      item.completion->result = result;
    }
    if (item.waiter) item.waiter->Wake();
  }
  if (item.reply_fd >= 0) {
    SendReply(item.reply_fd, code, result);
    item.reply_fd = -1;
  }
}

// ---- thread queues -------------------------------------------------------------------

namespace {

// Ends the thread's windows when the thread ends (thread_local destruction).
struct QueueHolder {
  std::shared_ptr<ThreadQueue> q;
  ~QueueHolder() {
    if (q && q->pid == ::getpid()) Runtime::Get().ThreadEnded(q);
  }
};
thread_local QueueHolder tls_queue;

}  // namespace

const std::shared_ptr<ThreadQueue>& CurrentQueue() {
  if (!tls_queue.q || tls_queue.q->pid != ::getpid()) tls_queue.q = std::make_shared<ThreadQueue>();
  return tls_queue.q;
}

std::shared_ptr<ThreadQueue> ExistingQueue() { return tls_queue.q; }

// Runs one sent message on the owning thread and answers its sender.
void RunSent(SentItem& item, const std::shared_ptr<ThreadQueue>& self) {
  auto e = Runtime::Get().Find(item.hwnd);
  if (!e || e->owner != self) {
    Finish(item, ReplyCode::kFailed, 0);
    return;
  }
  LPARAM l = item.lparam;
  COPYDATASTRUCT cds;
  if (item.has_copy) {
    cds.dwData = item.copy_number;
    cds.cbData = static_cast<std::uint32_t>(item.copy_bytes.size());
    cds.lpData = item.copy_bytes.empty() ? nullptr : item.copy_bytes.data();
    l = static_cast<LPARAM>(reinterpret_cast<std::uintptr_t>(&cds));
  }
  LRESULT r = e->proc(item.hwnd, item.message, item.wparam, l);
  Finish(item, ReplyCode::kOk, r);
}

// Runs every sent message waiting for this thread's windows; gives how many ran.
int RunAllSent(const std::shared_ptr<ThreadQueue>& q) {
  int count = 0;
  for (;;) {
    SentItem item;
    {
      std::lock_guard<std::mutex> lock(q->m);
      if (q->sent.empty()) return count;
      item = std::move(q->sent.front());
      q->sent.pop_front();
    }
    RunSent(item, q);
    ++count;
  }
}

// A wait drained the wake descriptor; when posted work remains, set it again so an event
// loop watching it does not miss that work.
void RewakeIfPending(const std::shared_ptr<ThreadQueue>& q) {
  std::lock_guard<std::mutex> lock(q->m);
  if (!q->posted.empty() || q->quit || !q->sent.empty() ||
      std::any_of(q->timers.begin(), q->timers.end(), [](const TimerEntry& t) { return t.due <= Clock::now(); })) {
    q->Wake();
  }
}

// Takes the next posted message or due timer (posted first). kQuit when only the quit is
// left, kNone when nothing is due.
Next TakeNext(const std::shared_ptr<ThreadQueue>& q, MSG* msg, bool take_quit) {
  std::lock_guard<std::mutex> lock(q->m);
  if (!q->posted.empty()) {
    *msg = q->posted.front();
    q->posted.pop_front();
    return Next::kMessage;
  }
  if (q->quit) {
    if (take_quit) {
      q->quit = false;
      *msg = MSG{0, WM_QUIT, static_cast<WPARAM>(q->quit_code), 0};
    }
    return Next::kQuit;
  }
  auto now = Clock::now();
  TimerEntry* first = nullptr;
  for (auto& t : q->timers) {
    if (t.due <= now && (!first || t.due < first->due)) first = &t;
  }
  if (first) {
    *msg = MSG{first->hwnd, WM_TIMER, first->id, 0};
    first->due = now + std::chrono::milliseconds(first->ms);
    return Next::kMessage;
  }
  return Next::kNone;
}

int WaitMsUntilTimer(const std::shared_ptr<ThreadQueue>& q) {
  std::lock_guard<std::mutex> lock(q->m);
  if (q->timers.empty()) return -1;
  auto due = std::min_element(q->timers.begin(), q->timers.end(), [](const TimerEntry& a, const TimerEntry& b) {
               return a.due < b.due;
             })->due;
  return RemainingMs(due);
}

Result<LRESULT> SendLocal(const std::shared_ptr<WindowEntry>& e, UINT message, WPARAM w, LPARAM l,
                          std::optional<Clock::time_point> deadline) {
  const auto& self = CurrentQueue();
  if (e->owner == self) return e->proc(e->hwnd, message, w, l);
  SentItem item;
  item.hwnd = e->hwnd;
  item.message = message;
  item.wparam = w;
  item.lparam = l;
  if (message == WM_COPYDATA && l != 0) {
    // The bytes are copied, so the receiver never reads the sender's memory after a
    // sender that gave up has returned.
    const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(static_cast<std::uintptr_t>(l));
    item.has_copy = true;
    item.copy_number = static_cast<std::uint32_t>(cds->dwData);
    const auto* p = static_cast<const std::uint8_t*>(cds->lpData);
    if (cds->cbData) item.copy_bytes.assign(p, p + cds->cbData);
  }
  auto done = std::make_shared<Completion>();
  item.completion = done;
  item.waiter = self;
  {
    std::lock_guard<std::mutex> lock(e->owner->m);
    if (!e->owner->alive) return Status::NotFound("the window's thread has ended");
    e->owner->sent.push_back(std::move(item));
    e->owner->Wake();
  }
  for (;;) {
    self->Drain();
    RunAllSent(self);
    {
      std::lock_guard<std::mutex> lock(done->m);
      if (done->done) {
        RewakeIfPending(self);
        if (done->code == ReplyCode::kOk) return done->result;
        return Status::NotFound("the window went away before it ran the message");
      }
    }
    int ms = deadline ? RemainingMs(*deadline) : -1;
    if (ms == 0) {
      RewakeIfPending(self);
      return Status::Timeout("the window did not answer in time");
    }
    struct pollfd p {
      self->efd, POLLIN, 0
    };
    ::poll(&p, 1, ms);
  }
}

Status CheckCopyData(UINT message, LPARAM l, Frame* frame) {
  if (message != WM_COPYDATA) return Status::Ok();
  if (l == 0) return Status::InvalidArgument("WM_COPYDATA without its COPYDATASTRUCT");
  const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(static_cast<std::uintptr_t>(l));
  if (cds->cbData > kMaxCopyDataBytes) {
    return Status::InvalidArgument("WM_COPYDATA of " + std::to_string(cds->cbData) + " bytes exceeds the limit of " +
                                   std::to_string(kMaxCopyDataBytes));
  }
  if (cds->cbData > 0 && cds->lpData == nullptr) {
    return Status::InvalidArgument("WM_COPYDATA names bytes but gives none");
  }
  if (frame) {
    if (cds->dwData > 0xFFFFFFFFu) {
      return Status::InvalidArgument("WM_COPYDATA number does not fit in 32 bits");
    }
    frame->has_copydata = true;
    frame->copy_number = static_cast<std::uint32_t>(cds->dwData);
    const auto* p = static_cast<const std::uint8_t*>(cds->lpData);
    if (cds->cbData) frame->copy_bytes.assign(p, p + cds->cbData);
  }
  return Status::Ok();
}

Result<LRESULT> Send(HWND hwnd, UINT message, WPARAM w, LPARAM l, std::optional<std::chrono::milliseconds> local_limit,
                     std::chrono::milliseconds remote_limit) {
  if (auto e = Runtime::Get().Find(hwnd)) {
    Status s = CheckCopyData(message, l, nullptr);
    if (!s.ok()) return s;
    std::optional<Clock::time_point> deadline;
    if (local_limit) deadline = Clock::now() + *local_limit;
    return SendLocal(e, message, w, l, deadline);
  }
  auto rec = LookUp(hwnd);
  if (!rec.ok()) return rec.status();
  Frame f;
  f.type = FrameType::kSend;
  f.hwnd = hwnd;
  f.message = message;
  f.wparam = w;
  f.lparam = l;
  Status s = CheckCopyData(message, l, &f);
  if (!s.ok()) return s;
  if (message == WM_COPYDATA) f.lparam = 0;  // an address means nothing over there
  return Exchange(*rec, f, Clock::now() + remote_limit);
}

}  // namespace internal

LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto r = Send(hwnd, message, wParam, lParam, std::nullopt, kDefaultSendTimeout);
  return r.ok() ? *r : Fail(r.status(), LRESULT{0});
}

Result<LRESULT> SendMessageTimeout(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                   std::chrono::milliseconds timeout) {
  return Send(hwnd, message, wParam, lParam, timeout, timeout);
}

bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    return Fail(Status::InvalidArgument("WM_COPYDATA can only be sent, not posted"), false);
  }
  if (auto e = Runtime::Get().Find(hwnd)) {
    std::lock_guard<std::mutex> lock(e->owner->m);
    if (!e->owner->alive) return Fail(Status::NotFound("the window's thread has ended"), false);
    e->owner->posted.push_back(MSG{hwnd, message, wParam, lParam});
    e->owner->Wake();
    return true;
  }
  auto rec = LookUp(hwnd);
  if (!rec.ok()) return Fail(rec.status(), false);
  Frame f;
  f.type = FrameType::kPost;
  f.hwnd = hwnd;
  f.message = message;
  f.wparam = wParam;
  f.lparam = lParam;
  auto r = Exchange(*rec, f, Clock::now() + kPostAckLimit);
  return r.ok() ? true : Fail(r.status(), false);
}

bool SetTimer(HWND hwnd, std::uintptr_t id, std::uint32_t interval_ms) {
  auto e = Runtime::Get().Find(hwnd);
  if (!e) return Fail(Status::InvalidArgument("not a window of this process"), false);
  std::uint32_t ms = std::max(interval_ms, kMinTimerMs);
  std::lock_guard<std::mutex> lock(e->owner->m);
  auto due = Clock::now() + std::chrono::milliseconds(ms);
  for (auto& t : e->owner->timers) {
    if (t.hwnd == hwnd && t.id == id) {
      t.ms = ms;
      t.due = due;
      e->owner->Wake();
      return true;
    }
  }
  e->owner->timers.push_back(TimerEntry{hwnd, id, ms, due});
  e->owner->Wake();
  return true;
}

bool KillTimer(HWND hwnd, std::uintptr_t id) {
  auto e = Runtime::Get().Find(hwnd);
  if (!e) return Fail(Status::InvalidArgument("not a window of this process"), false);
  std::lock_guard<std::mutex> lock(e->owner->m);
  auto& t = e->owner->timers;
  auto it = std::find_if(t.begin(), t.end(), [&](const TimerEntry& x) { return x.hwnd == hwnd && x.id == id; });
  if (it == t.end()) return Fail(Status::NotFound("no such timer"), false);
  t.erase(it);
  return true;
}

bool GetMessage(MSG* msg) {
  const auto& q = CurrentQueue();
  for (;;) {
    q->Drain();
    RunAllSent(q);
    switch (TakeNext(q, msg, true)) {
      case Next::kMessage:
        return true;
      case Next::kQuit:
        return false;
      case Next::kNone:
        break;
    }
    struct pollfd p {
      q->efd, POLLIN, 0
    };
    ::poll(&p, 1, WaitMsUntilTimer(q));
  }
}

bool PeekMessage(MSG* msg) {
  const auto& q = CurrentQueue();
  RunAllSent(q);
  return TakeNext(q, msg, false) == Next::kMessage;
}

LRESULT DispatchMessage(const MSG& msg) {
  auto e = Runtime::Get().Find(msg.hwnd);
  if (!e) return 0;
  return e->proc(msg.hwnd, msg.message, msg.wParam, msg.lParam);
}

void PostQuitMessage(int exit_code) {
  const auto& q = CurrentQueue();
  std::lock_guard<std::mutex> lock(q->m);
  q->quit = true;
  q->quit_code = exit_code;
  q->Wake();
}

int RunMessageLoop() {
  MSG msg;
  while (GetMessage(&msg)) DispatchMessage(msg);
  return static_cast<int>(msg.wParam);
}

bool PumpMessages(int* exit_code) {
  const auto& q = CurrentQueue();
  q->Drain();
  for (;;) {
    RunAllSent(q);
    MSG msg;
    switch (TakeNext(q, &msg, true)) {
      case Next::kMessage:
        DispatchMessage(msg);
        continue;
      case Next::kQuit:
        if (exit_code) *exit_code = static_cast<int>(msg.wParam);
        RewakeIfPending(q);
        return false;
      case Next::kNone:
        RewakeIfPending(q);
        return true;
    }
  }
}

int WakeDescriptor() { return CurrentQueue()->efd; }

std::optional<std::chrono::steady_clock::time_point> NextTimerDue() {
  const auto& q = CurrentQueue();
  std::lock_guard<std::mutex> lock(q->m);
  if (q->timers.empty()) return std::nullopt;
  return std::min_element(q->timers.begin(), q->timers.end(),
                          [](const TimerEntry& a, const TimerEntry& b) { return a.due < b.due; })
      ->due;
}

}  // namespace zv::winmsg
