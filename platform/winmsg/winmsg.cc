#include "platform/base/ascii.h"
#include "platform/winmsg/winmsg.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <unordered_map>

#include "platform/base/root.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"
#include "platform/shm/owner.h"
#include "platform/winmsg/wire.h"

namespace zv::winmsg {
namespace {

using Clock = std::chrono::steady_clock;
using wire::Frame;
using wire::FrameType;
using wire::ReplyCode;

// How long a connecting peer has to deliver its whole frame, how many may be half-read at
// once, and how long a PostMessage waits for the receiver to acknowledge the queueing.
constexpr auto kFrameReadLimit = std::chrono::seconds(5);
constexpr std::size_t kMaxPendingConnections = 64;
constexpr auto kPostAckLimit = std::chrono::seconds(5);
constexpr std::uint32_t kMinTimerMs = 10;

thread_local Status tls_error;

template <typename T>
T Fail(Status s, T value) {
  tls_error = std::move(s);
  return value;
}


int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 1000000 ? 1000000 : static_cast<int>(left) + 1;
}

// ---- folders and files -------------------------------------------------------------------

std::string TableDir() { return RuntimeRoot() + "/run/winmsg"; }

Status EnsureTableDir() {
  auto dir = paths::RootFolder("run/winmsg", 0700);
  if (!dir.ok()) return dir.status();
  ::chmod(dir->c_str(), 0700);
  return Status::Ok();
}

std::string HandleName(HWND h) {
  char b[16];
  std::snprintf(b, sizeof b, "%08x.win", h);
  return b;
}

std::string SocketPath(const std::string& dir, const shm::ProcessIdentity& who) {
  return dir + "/" + std::to_string(who.pid) + "-" + std::to_string(who.start_time) + ".sock";
}

// Writes `content` to a fresh temporary file in `dir`; gives its path.
Result<std::string> WriteTemp(const std::string& dir, const std::string& content) {
  std::string tmp = dir + "/.tmp-XXXXXX";
  int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return Status::IOError(fs::ErrnoText("cannot write in " + dir, errno));
  ::fchmod(fd, 0600);
  std::size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int e = errno;
      ::close(fd);
      ::unlink(tmp.c_str());
      return Status::IOError(fs::ErrnoText("cannot write " + tmp, e));
    }
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return tmp;
}

// ---- sockets -----------------------------------------------------------------------------

bool PeerIsSameUser(int fd, pid_t* pid_out) {
  struct ucred cred {};
  socklen_t len = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
  if (pid_out) *pid_out = cred.pid;
  return cred.uid == ::geteuid();
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size, Clock::time_point deadline) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::send(fd, data + done, size - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      struct pollfd p {fd, POLLOUT, 0};
      int ms = RemainingMs(deadline);
      if (ms == 0 || ::poll(&p, 1, ms) <= 0) return false;
      continue;
    }
    return false;
  }
  return true;
}

void SendReply(int fd, ReplyCode code, LRESULT result) {
  Frame f;
  f.type = FrameType::kReply;
  f.code = code;
  f.result = result;
  auto bytes = wire::EncodeFrame(f, 0);
  if (bytes.ok()) WriteAll(fd, bytes->data(), bytes->size(), Clock::now() + std::chrono::seconds(1));
  ::close(fd);
}

// ---- queues ------------------------------------------------------------------------------

struct ThreadQueue;

struct Completion {
  std::mutex m;
  bool done = false;
  ReplyCode code = ReplyCode::kOk;
  LRESULT result = 0;
};

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
  void Wake() {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(efd, &one, sizeof one);
  }
  void Drain() {
    std::uint64_t v;
    [[maybe_unused]] ssize_t n = ::read(efd, &v, sizeof v);
  }
};

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

// ---- the process's windows and its message receiver -------------------------------------

class Runtime {
 public:
  // The runtime of this process; a child made by fork starts with a fresh one (the
  // parent's windows and receiver thread are not its own).
  static Runtime& Get() {
    static std::atomic<Runtime*> current{nullptr};
    static std::mutex make;
    Runtime* r = current.load(std::memory_order_acquire);
    if (r && r->pid_ == ::getpid()) return *r;
    std::lock_guard<std::mutex> lock(make);
    r = current.load(std::memory_order_acquire);
    if (!r || r->pid_ != ::getpid()) {
      r = new Runtime();  // never freed: the receiver thread may outlive static destruction
      current.store(r, std::memory_order_release);
    }
    return *r;
  }

  std::shared_ptr<WindowEntry> Find(HWND h) {
    std::lock_guard<std::mutex> lock(m_);
    auto it = windows_.find(h);
    return it == windows_.end() ? nullptr : it->second;
  }

  Result<HWND> Create(std::string_view cls, std::string_view text, WindowProc proc,
                      std::shared_ptr<ThreadQueue> owner);
  bool Destroy(HWND h, const std::shared_ptr<ThreadQueue>& caller);
  void ThreadEnded(const std::shared_ptr<ThreadQueue>& q);
  Status WriteRecord(const std::shared_ptr<WindowEntry>& e);
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
  Status StartListener(const std::string& dir);
  void StopListener(std::unique_lock<std::mutex>& lock);
  void ReceiverLoop(int listen_fd, int stop_fd);
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

// ---- thread queues -------------------------------------------------------------------

struct QueueHolder {
  std::shared_ptr<ThreadQueue> q;
  ~QueueHolder() {
    if (q && q->pid == ::getpid()) Runtime::Get().ThreadEnded(q);
  }
};
thread_local QueueHolder tls_queue;

const std::shared_ptr<ThreadQueue>& CurrentQueue() {
  if (!tls_queue.q || tls_queue.q->pid != ::getpid()) tls_queue.q = std::make_shared<ThreadQueue>();
  return tls_queue.q;
}

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
      std::any_of(q->timers.begin(), q->timers.end(),
                  [](const TimerEntry& t) { return t.due <= Clock::now(); })) {
    q->Wake();
  }
}

// Takes the next posted message or due timer (posted first). kQuit when only the quit is
// left, kNone when nothing is due.
enum class Next { kMessage, kQuit, kNone };
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
  auto due = std::min_element(q->timers.begin(), q->timers.end(),
                              [](const TimerEntry& a, const TimerEntry& b) { return a.due < b.due; })
                 ->due;
  return RemainingMs(due);
}

// ---- Runtime -------------------------------------------------------------------------

Status Runtime::StartListener(const std::string& dir) {
  std::string path = SocketPath(dir, me_);
  struct sockaddr_un addr {};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    return Status::IOError("the runtime root is too long for a socket path: " + path);
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return Status::IOError(fs::ErrnoText("socket", errno));
  ::unlink(path.c_str());  // left by an earlier runtime of this very process
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::chmod(path.c_str(), 0600) != 0 || ::listen(fd, 128) != 0) {
    Status s = Status::IOError(fs::ErrnoText("cannot listen on " + path, errno));
    ::close(fd);
    ::unlink(path.c_str());
    return s;
  }
  int stop = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (stop < 0) {
    ::close(fd);
    ::unlink(path.c_str());
    return Status::IOError(fs::ErrnoText("eventfd", errno));
  }
  listen_fd_ = fd;
  stop_fd_ = stop;
  socket_path_ = path;
  receiver_ = std::thread([this, fd, stop] { ReceiverLoop(fd, stop); });
  return Status::Ok();
}

void Runtime::StopListener(std::unique_lock<std::mutex>& lock) {
  if (listen_fd_ < 0) return;
  int fd = listen_fd_, stop = stop_fd_;
  std::string path = socket_path_;
  std::thread t = std::move(receiver_);
  listen_fd_ = stop_fd_ = -1;
  socket_path_.clear();
  // The name goes before the lock is let go: a window created meanwhile starts a new
  // listener on the same path, which must not lose its name to this one.
  ::unlink(path.c_str());
  lock.unlock();
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(stop, &one, sizeof one);
  if (t.joinable()) t.join();
  ::close(fd);
  ::close(stop);
  lock.lock();
}

Result<HWND> Runtime::Create(std::string_view cls, std::string_view text, WindowProc proc,
                             std::shared_ptr<ThreadQueue> owner) {
  Status dir_ok = EnsureTableDir();
  if (!dir_ok.ok()) return dir_ok;
  const std::string dir = TableDir();
  auto e = std::make_shared<WindowEntry>();
  e->class_name = cls;
  e->text = text;
  e->proc = std::move(proc);
  e->owner = std::move(owner);
  e->created = static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(
          std::chrono::system_clock::now().time_since_epoch())
          .count());

  std::unique_lock<std::mutex> lock(m_);
  if (listen_fd_ < 0) {
    Status s = StartListener(dir);
    if (!s.ok()) return s;
  }
  e->socket_path = socket_path_;
  // Claim a handle: link() of the finished record onto the handle's name fails when another
  // window, in any process, already has it.
  for (int tries = 0; tries < 64; ++tries) {
    HWND h = std::uniform_int_distribution<HWND>(0x00010000u, 0x7FFFFFFFu)(rng_);
    if (windows_.count(h)) continue;
    Result<std::string> tmp = WriteTemp(dir, wire::EncodeRecord(RecordOf(*e, h)));
    if (!tmp.ok()) {
      if (windows_.empty()) StopListener(lock);
      return tmp.status();
    }
    std::string path = dir + "/" + HandleName(h);
    int rc = ::link(tmp->c_str(), path.c_str());
    int err = errno;
    ::unlink(tmp->c_str());
    if (rc == 0) {
      e->hwnd = h;
      e->record_path = path;
      windows_[h] = e;
      return h;
    }
    if (err != EEXIST) {
      if (windows_.empty()) StopListener(lock);
      return Status::IOError(fs::ErrnoText("cannot list the window in " + dir, err));
    }
  }
  if (windows_.empty()) StopListener(lock);
  return Status::Busy("no free window handle");
}

bool Runtime::Destroy(HWND h, const std::shared_ptr<ThreadQueue>& caller) {
  std::shared_ptr<WindowEntry> e;
  {
    std::lock_guard<std::mutex> lock(m_);
    auto it = windows_.find(h);
    if (it == windows_.end() || it->second->owner != caller) return false;
    e = it->second;
  }
  e->proc(h, WM_DESTROY, 0, 0);
  std::unique_lock<std::mutex> lock(m_);
  auto it = windows_.find(h);
  if (it == windows_.end() || it->second != e) return true;  // destroyed from its WM_DESTROY
  windows_.erase(it);
  {
    std::lock_guard<std::mutex> ql(e->owner->m);
    auto& t = e->owner->timers;
    t.erase(std::remove_if(t.begin(), t.end(), [h](const TimerEntry& x) { return x.hwnd == h; }),
            t.end());
  }
  if (windows_.empty()) StopListener(lock);
  lock.unlock();
  // record_m_ is never taken while holding m_ (WriteRecord takes them the other way round).
  std::lock_guard<std::mutex> rl(record_m_);
  ::unlink(e->record_path.c_str());
  return true;
}

void Runtime::ThreadEnded(const std::shared_ptr<ThreadQueue>& q) {
  std::deque<SentItem> pending;
  {
    std::lock_guard<std::mutex> lock(q->m);
    q->alive = false;
    pending.swap(q->sent);
    q->posted.clear();
    q->timers.clear();
  }
  for (auto& item : pending) Finish(item, ReplyCode::kFailed, 0);
  std::vector<std::string> records;
  std::unique_lock<std::mutex> lock(m_);
  for (auto it = windows_.begin(); it != windows_.end();) {
    if (it->second->owner == q) {
      records.push_back(it->second->record_path);
      it = windows_.erase(it);
    } else {
      ++it;
    }
  }
  if (windows_.empty()) StopListener(lock);
  lock.unlock();
  std::lock_guard<std::mutex> rl(record_m_);
  for (const auto& r : records) ::unlink(r.c_str());
}

Status Runtime::WriteRecord(const std::shared_ptr<WindowEntry>& e) {
  std::lock_guard<std::mutex> rl(record_m_);
  wire::WindowRecord rec;
  {
    std::lock_guard<std::mutex> lock(m_);
    if (!windows_.count(e->hwnd)) return Status::NotFound("window was destroyed");
    rec = RecordOf(*e, e->hwnd);
  }
  std::string dir = e->record_path.substr(0, e->record_path.rfind('/'));
  Result<std::string> tmp = WriteTemp(dir, wire::EncodeRecord(rec));
  if (!tmp.ok()) return tmp.status();
  if (::rename(tmp->c_str(), e->record_path.c_str()) != 0) {
    int err = errno;
    ::unlink(tmp->c_str());
    return Status::IOError(fs::ErrnoText("cannot update " + e->record_path, err));
  }
  return Status::Ok();
}

// Applies `change` to a window of this process under the lock, then rewrites its record.
template <typename F>
bool Runtime::Update(HWND h, F&& change) {
  std::shared_ptr<WindowEntry> e;
  {
    std::lock_guard<std::mutex> lock(m_);
    auto it = windows_.find(h);
    if (it == windows_.end()) {
      return Fail(Status::InvalidArgument("not a window of this process"), false);
    }
    e = it->second;
    change(*e);
  }
  Status s = WriteRecord(e);
  if (!s.ok()) return Fail(s, false);
  return true;
}

void Runtime::ReceiverLoop(int listen_fd, int stop_fd) {
  struct Conn {
    int fd;
    std::vector<std::uint8_t> buf;
    std::size_t need;
    Clock::time_point deadline;
  };
  std::vector<Conn> conns;
  std::vector<pollfd> fds;
  for (;;) {
    fds.clear();
    fds.push_back({stop_fd, POLLIN, 0});
    fds.push_back({listen_fd, POLLIN, 0});
    Clock::time_point soonest = Clock::time_point::max();
    for (const auto& c : conns) {
      fds.push_back({c.fd, POLLIN, 0});
      soonest = std::min(soonest, c.deadline);
    }
    int timeout = conns.empty() ? -1 : RemainingMs(soonest);
    int n = ::poll(fds.data(), fds.size(), timeout);
    if (n < 0 && errno != EINTR) break;
    if (fds[0].revents) break;
    // Half-read connections first (their indices match fds from 2 on).
    std::vector<Conn> keep;
    for (std::size_t i = 0; i < conns.size(); ++i) {
      Conn& c = conns[i];
      bool drop = false;
      if (fds[i + 2].revents & (POLLIN | POLLHUP | POLLERR)) {
        std::size_t old = c.buf.size();
        c.buf.resize(c.need);
        ssize_t got = ::read(c.fd, c.buf.data() + old, c.need - old);
        if (got <= 0) {
          c.buf.resize(old);
          drop = !(got < 0 && (errno == EAGAIN || errno == EINTR));
        } else {
          c.buf.resize(old + static_cast<std::size_t>(got));
          if (c.buf.size() == wire::kFrameHeaderSize && c.need == wire::kFrameHeaderSize) {
            auto len = wire::FrameLength(c.buf, kMaxCopyDataBytes);
            if (!len.ok()) {
              drop = true;
            } else {
              c.need = *len;
            }
          }
          if (!drop && c.buf.size() == c.need && c.need > wire::kFrameHeaderSize) {
            auto frame = wire::DecodeFrame(c.buf, kMaxCopyDataBytes);
            if (frame.ok()) {
              Deliver(std::move(*frame), c.fd);
            } else {
              SendReply(c.fd, ReplyCode::kRefused, 0);
            }
            continue;  // the descriptor went with the frame
          }
        }
      }
      if (!drop && Clock::now() >= c.deadline) drop = true;
      if (drop) {
        ::close(c.fd);
      } else {
        keep.push_back(std::move(c));
      }
    }
    conns.swap(keep);
    if (fds[1].revents & POLLIN) {
      for (;;) {
        int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) break;
        if (!PeerIsSameUser(fd, nullptr) || conns.size() >= kMaxPendingConnections) {
          ::close(fd);
          continue;
        }
        conns.push_back(Conn{fd, {}, wire::kFrameHeaderSize, Clock::now() + kFrameReadLimit});
      }
    }
  }
  for (auto& c : conns) ::close(c.fd);
}

void Runtime::Deliver(Frame frame, int fd) {
  if (frame.type != FrameType::kSend && frame.type != FrameType::kPost) {
    SendReply(fd, ReplyCode::kRefused, 0);
    return;
  }
  auto e = Find(frame.hwnd);
  if (!e) {
    SendReply(fd, ReplyCode::kNoWindow, 0);
    return;
  }
  const bool copy = frame.message == WM_COPYDATA;
  if (copy != frame.has_copydata) {  // WM_COPYDATA without bytes, or bytes on another message
    SendReply(fd, ReplyCode::kRefused, 0);
    return;
  }
  std::unique_lock<std::mutex> ql(e->owner->m);
  if (!e->owner->alive) {
    ql.unlock();
    SendReply(fd, ReplyCode::kNoWindow, 0);
    return;
  }
  if (frame.type == FrameType::kPost) {
    if (copy) {
      ql.unlock();
      SendReply(fd, ReplyCode::kRefused, 0);
      return;
    }
    e->owner->posted.push_back(MSG{frame.hwnd, frame.message, frame.wparam, frame.lparam});
    e->owner->Wake();
    ql.unlock();
    SendReply(fd, ReplyCode::kOk, 0);
    return;
  }
  SentItem item;
  item.hwnd = frame.hwnd;
  item.message = frame.message;
  item.wparam = frame.wparam;
  item.lparam = frame.lparam;
  item.has_copy = frame.has_copydata;
  item.copy_number = frame.copy_number;
  item.copy_bytes = std::move(frame.copy_bytes);
  item.reply_fd = fd;
  e->owner->sent.push_back(std::move(item));
  e->owner->Wake();
}

// ---- the window table as other processes see it -------------------------------------

// Reads the record of a window of the current root; a record of an ended process is removed
// with its socket, and counts as no window.
Result<wire::WindowRecord> ReadLiveRecord(const std::string& dir, const std::string& file) {
  std::string path = dir + "/" + file;
  auto bytes = fs::ReadFile(path, wire::kMaxRecordSize);
  if (!bytes.ok()) return bytes.status();
  auto rec = wire::DecodeRecord(
      std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
  if (!rec.ok()) return rec.status();
  if (HandleName(rec->hwnd) != file) return Status::Corruption(path + " names another window");
  const auto& me = Runtime::Get().me();
  shm::ProcessIdentity who{rec->pid, rec->start_time};
  bool alive = (who.pid == me.pid && who.start_time == me.start_time)
                   ? Runtime::Get().Find(rec->hwnd) != nullptr
                   : shm::IsAlive(who);
  if (!alive) {
    ::unlink(path.c_str());
    if (who.pid != me.pid) ::unlink(SocketPath(dir, who).c_str());
    return Status::NotFound("the window's process has ended");
  }
  return rec;
}

Result<wire::WindowRecord> LookUp(HWND h) {
  if (h == 0 || h == 0xFFFFFFFFu) return Status::NotFound("no window");
  auto rec = ReadLiveRecord(TableDir(), HandleName(h));
  if (!rec.ok() && rec.status().code() != Status::Code::kNotFound) {
    return Status::NotFound("no usable window record: " + rec.status().message());
  }
  return rec;
}

std::vector<wire::WindowRecord> AllLiveRecords() {
  std::vector<wire::WindowRecord> out;
  std::string dir = TableDir();
  DIR* d = ::opendir(dir.c_str());
  if (!d) return out;
  std::vector<std::string> files;
  while (dirent* ent = ::readdir(d)) {
    std::string name = ent->d_name;
    if (name.size() == 12 && name.compare(8, 4, ".win") == 0 &&
        name.find_first_not_of("0123456789abcdef") == 8) {
      files.push_back(name);
    }
  }
  ::closedir(d);
  for (const auto& f : files) {
    auto rec = ReadLiveRecord(dir, f);
    if (rec.ok()) out.push_back(std::move(*rec));
  }
  std::sort(out.begin(), out.end(),
            [](const wire::WindowRecord& a, const wire::WindowRecord& b) { return a.created > b.created; });
  return out;
}

// Sends one frame to the process that owns `rec` and waits for its reply, running the
// caller's own sent messages meanwhile.
Result<LRESULT> Exchange(const wire::WindowRecord& rec, const Frame& frame, Clock::time_point deadline) {
  auto bytes = wire::EncodeFrame(frame, kMaxCopyDataBytes);
  if (!bytes.ok()) return bytes.status();
  struct sockaddr_un addr {};
  addr.sun_family = AF_UNIX;
  if (rec.socket.empty() || rec.socket.size() >= sizeof addr.sun_path) {
    return Status::IOError("window record has no usable socket");
  }
  std::memcpy(addr.sun_path, rec.socket.c_str(), rec.socket.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return Status::IOError(fs::ErrnoText("socket", errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  for (;;) {
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) break;
    if (errno == EINTR) continue;
    if (errno == EAGAIN && Clock::now() < deadline) {  // the peer's backlog is full
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    if (errno == EAGAIN) return Status::Timeout("the window's process accepts no messages");
    return Status::IOError(fs::ErrnoText("cannot reach the window's process", errno));
  }
  pid_t peer = 0;
  if (!PeerIsSameUser(fd, &peer) || static_cast<std::uint32_t>(peer) != rec.pid) {
    return Status::IOError("the window's socket belongs to another user or process; refused");
  }
  if (!WriteAll(fd, bytes->data(), bytes->size(), deadline)) {
    return Clock::now() >= deadline ? Status::Timeout("the window's process took no message")
                                    : Status::IOError("the window's process ended");
  }
  const auto& self = CurrentQueue();
  std::vector<std::uint8_t> reply;
  reply.reserve(wire::kFrameHeaderSize + wire::kReplyBodySize);
  const std::size_t reply_size = wire::kFrameHeaderSize + wire::kReplyBodySize;
  for (;;) {
    struct pollfd p[2] = {{fd, POLLIN, 0}, {self->efd, POLLIN, 0}};
    int ms = RemainingMs(deadline);
    if (ms == 0) {
      RewakeIfPending(self);
      return Status::Timeout("the window did not answer in time");
    }
    int n = ::poll(p, 2, ms);
    if (n < 0 && errno != EINTR) return Status::IOError(fs::ErrnoText("poll", errno));
    if (p[1].revents & POLLIN) {
      self->Drain();
      RunAllSent(self);
      RewakeIfPending(self);
    }
    if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      std::uint8_t buf[64];
      ssize_t got = ::read(fd, buf, std::min(sizeof buf, reply_size - reply.size()));
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (got <= 0) return Status::IOError("the window's process ended before answering");
      reply.insert(reply.end(), buf, buf + got);
      if (reply.size() == reply_size) break;
    }
  }
  auto answer = wire::DecodeFrame(reply, 0);
  if (!answer.ok() || answer->type != FrameType::kReply) {
    return Status::IOError("the window's process sent a malformed reply");
  }
  switch (answer->code) {
    case ReplyCode::kOk:
      return answer->result;
    case ReplyCode::kNoWindow:
      return Status::NotFound("no such window");
    case ReplyCode::kRefused:
      return Status::InvalidArgument("the window's process refused the message");
    default:
      return Status::IOError("the window went away before it ran the message");
  }
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
    struct pollfd p {self->efd, POLLIN, 0};
    ::poll(&p, 1, ms);
  }
}

Status CheckCopyData(UINT message, LPARAM l, Frame* frame) {
  if (message != WM_COPYDATA) return Status::Ok();
  if (l == 0) return Status::InvalidArgument("WM_COPYDATA without its COPYDATASTRUCT");
  const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(static_cast<std::uintptr_t>(l));
  if (cds->cbData > kMaxCopyDataBytes) {
    return Status::InvalidArgument("WM_COPYDATA of " + std::to_string(cds->cbData) +
                                   " bytes exceeds the limit of " +
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

Result<LRESULT> Send(HWND hwnd, UINT message, WPARAM w, LPARAM l,
                     std::optional<std::chrono::milliseconds> local_limit,
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

}  // namespace

// ---- public functions -----------------------------------------------------------------

Result<HWND> CreateWindow(std::string_view class_name, std::string_view text, WindowProc proc) {
  if (class_name.empty() || class_name.size() > kMaxClassNameLength) {
    return Status::InvalidArgument("window class name must have 1 to 256 bytes");
  }
  if (text.size() > kMaxWindowTextLength) return Status::InvalidArgument("window text is too long");
  if (!proc) return Status::InvalidArgument("window has no procedure");
  return Runtime::Get().Create(class_name, text, std::move(proc), CurrentQueue());
}

bool DestroyWindow(HWND hwnd) {
  if (!tls_queue.q || !Runtime::Get().Destroy(hwnd, tls_queue.q)) {
    return Fail(Status::InvalidArgument("not a window of this thread"), false);
  }
  return true;
}

bool SetForegroundWindow(HWND hwnd) {
  return PostMessage(hwnd, WM_ACTIVATE, WA_ACTIVE, 0);
}

LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM, LPARAM) {
  if (message == WM_CLOSE) DestroyWindow(hwnd);
  return 0;
}

HWND FindWindow(const char* class_name, const char* text) {
  for (const auto& rec : AllLiveRecords()) {
    if (class_name && !EqualsNoCase(rec.class_name, class_name)) continue;
    if (text && !EqualsNoCase(rec.text, text)) continue;
    return rec.hwnd;
  }
  return Fail(Status::NotFound("no matching window"), HWND{0});
}

std::vector<HWND> EnumWindows() {
  std::vector<HWND> out;
  for (const auto& rec : AllLiveRecords()) out.push_back(rec.hwnd);
  return out;
}

bool IsWindow(HWND hwnd) { return Runtime::Get().Find(hwnd) != nullptr || LookUp(hwnd).ok(); }

std::string GetWindowText(HWND hwnd) {
  std::string text;
  if (Runtime::Get().Read(hwnd, [&](const WindowEntry& e) { text = e.text; })) return text;
  auto rec = LookUp(hwnd);
  return rec.ok() ? rec->text : Fail(rec.status(), std::string());
}

std::string GetClassName(HWND hwnd) {
  if (auto e = Runtime::Get().Find(hwnd)) return e->class_name;
  auto rec = LookUp(hwnd);
  return rec.ok() ? rec->class_name : Fail(rec.status(), std::string());
}

std::uint32_t GetWindowProcessId(HWND hwnd) {
  if (Runtime::Get().Find(hwnd)) return Runtime::Get().me().pid;
  auto rec = LookUp(hwnd);
  return rec.ok() ? rec->pid : Fail(rec.status(), std::uint32_t{0});
}

bool SetWindowText(HWND hwnd, std::string_view text) {
  if (text.size() > kMaxWindowTextLength) {
    return Fail(Status::InvalidArgument("window text is too long"), false);
  }
  return Runtime::Get().Update(hwnd, [&](WindowEntry& e) { e.text = text; });
}

bool IsWindowEnabled(HWND hwnd) {
  bool enabled = false;
  if (Runtime::Get().Read(hwnd, [&](const WindowEntry& e) { enabled = e.enabled; })) return enabled;
  auto rec = LookUp(hwnd);
  return rec.ok() ? rec->enabled : Fail(rec.status(), false);
}

bool EnableWindow(HWND hwnd, bool enable) {
  bool was_disabled = false;
  Runtime::Get().Update(hwnd, [&](WindowEntry& e) {
    was_disabled = !e.enabled;
    e.enabled = enable;
  });
  return was_disabled;
}

bool SetProp(HWND hwnd, std::string_view name, std::int64_t value) {
  if (name.empty() || name.size() > kMaxClassNameLength) {
    return Fail(Status::InvalidArgument("property name must have 1 to 256 bytes"), false);
  }
  // The table record holds at most wire::kMaxRecordProps properties; one more would make
  // the record unreadable and hide the window from every other process.
  bool full = false;
  bool ok = Runtime::Get().Update(hwnd, [&](WindowEntry& e) {
    for (auto& [n, v] : e.props) {
      if (EqualsNoCase(n, name)) {
        v = value;
        return;
      }
    }
    if (e.props.size() >= wire::kMaxRecordProps) {
      full = true;
      return;
    }
    e.props.emplace_back(std::string(name), value);
  });
  if (full) return Fail(Status::InvalidArgument("window has too many properties"), false);
  return ok;
}

std::int64_t GetProp(HWND hwnd, std::string_view name) {
  std::vector<std::pair<std::string, std::int64_t>> props;
  if (!Runtime::Get().Read(hwnd, [&](const WindowEntry& e) { props = e.props; })) {
    auto rec = LookUp(hwnd);
    if (!rec.ok()) return Fail(rec.status(), std::int64_t{0});
    props = std::move(rec->props);
  }
  for (const auto& [n, v] : props) {
    if (EqualsNoCase(n, name)) return v;
  }
  return 0;
}

std::int64_t RemoveProp(HWND hwnd, std::string_view name) {
  std::int64_t old = 0;
  Runtime::Get().Update(hwnd, [&](WindowEntry& e) {
    for (auto it = e.props.begin(); it != e.props.end(); ++it) {
      if (EqualsNoCase(it->first, name)) {
        old = it->second;
        e.props.erase(it);
        return;
      }
    }
  });
  return old;
}

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
  auto it = std::find_if(t.begin(), t.end(),
                         [&](const TimerEntry& x) { return x.hwnd == hwnd && x.id == id; });
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
    struct pollfd p {q->efd, POLLIN, 0};
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

Status LastError() { return tls_error; }

}  // namespace zv::winmsg
