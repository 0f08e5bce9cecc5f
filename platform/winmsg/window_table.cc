// The window table: this process's windows, their records under $ZELVORA_ROOT/run/winmsg
// that other processes read, and the window functions.
#include "platform/winmsg/winmsg_internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/base/ascii.h"
#include "platform/base/root.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"

namespace zv::winmsg {
namespace internal {

namespace {
thread_local Status tls_error;
}  // namespace

void SetError(Status s) { tls_error = std::move(s); }

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

Runtime& Runtime::Get() {
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
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
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
    // Never 0, HWND_BROADCAST (0xFFFF) or a small number, and positive where a format keeps a
    // handle as a signed 32-bit value.
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
    t.erase(std::remove_if(t.begin(), t.end(), [h](const TimerEntry& x) { return x.hwnd == h; }), t.end());
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

// ---- the window table as other processes see it -------------------------------------

// Reads the record of a window of the current root; a record of an ended process is removed
// with its socket, and counts as no window.
Result<wire::WindowRecord> ReadLiveRecord(const std::string& dir, const std::string& file) {
  std::string path = dir + "/" + file;
  auto bytes = fs::ReadFile(path, wire::kMaxRecordSize);
  if (!bytes.ok()) return bytes.status();
  auto rec = wire::DecodeRecord(std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
  if (!rec.ok()) return rec.status();
  if (HandleName(rec->hwnd) != file) return Status::Corruption(path + " names another window");
  const auto& me = Runtime::Get().me();
  shm::ProcessIdentity who{rec->pid, rec->start_time};
  bool alive = (who.pid == me.pid && who.start_time == me.start_time) ? Runtime::Get().Find(rec->hwnd) != nullptr
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
    if (name.size() == 12 && name.compare(8, 4, ".win") == 0 && name.find_first_not_of("0123456789abcdef") == 8) {
      files.push_back(name);
    }
  }
  ::closedir(d);
  for (const auto& f : files) {
    auto rec = ReadLiveRecord(dir, f);
    if (rec.ok()) out.push_back(std::move(*rec));
  }
  // Newest first: FindWindow gives the most recently created match, the one on top on Windows.
  std::sort(out.begin(), out.end(),
            [](const wire::WindowRecord& a, const wire::WindowRecord& b) { return a.created > b.created; });
  return out;
}

}  // namespace internal

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
  if (auto q = ExistingQueue(); !q || !Runtime::Get().Destroy(hwnd, q)) {
    return Fail(Status::InvalidArgument("not a window of this thread"), false);
  }
  return true;
}

bool SetForegroundWindow(HWND hwnd) { return PostMessage(hwnd, WM_ACTIVATE, WA_ACTIVE, 0); }

LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM, LPARAM) {
  // WM_CLOSE left to the default destroys the window, as on Windows.
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

Status LastError() { return tls_error; }

}  // namespace zv::winmsg
