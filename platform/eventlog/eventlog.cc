#include "platform/eventlog/eventlog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <mutex>

#include "platform/base/root.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"

namespace zv::eventlog {
namespace {

const char* TypeName(EventType t) {
  switch (t) {
    case EventType::kError:
      return "error";
    case EventType::kWarning:
      return "warning";
    case EventType::kInformation:
      return "information";
  }
  return "information";
}

bool TypeFromName(std::string_view s, EventType* t) {
  for (EventType c : {EventType::kError, EventType::kWarning, EventType::kInformation}) {
    if (s == TypeName(c)) {
      *t = c;
      return true;
    }
  }
  return false;
}

std::string Escape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

bool Unescape(std::string_view s, std::string* out) {
  out->clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out->push_back(s[i]);
      continue;
    }
    if (++i >= s.size()) return false;
    switch (s[i]) {
      case '\\':
        out->push_back('\\');
        break;
      case 't':
        out->push_back('\t');
        break;
      case 'r':
        out->push_back('\r');
        break;
      case 'n':
        out->push_back('\n');
        break;
      default:
        return false;
    }
  }
  return true;
}

std::string NowUtc() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm t;
  gmtime_r(&ts.tv_sec, &t);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec, ts.tv_nsec / 1000000);
  return buf;
}

void SendToSyslog(const std::string& source, EventType type, uint32_t id, const std::vector<std::string>& strings) {
  static std::mutex mu;
  static std::string ident;  // openlog keeps the pointer, so it must outlive the call
  std::string msg = "[" + std::to_string(id) + "]";
  for (const auto& s : strings) msg += " " + Escape(s);
  int prio = type == EventType::kError ? LOG_ERR : type == EventType::kWarning ? LOG_WARNING : LOG_INFO;
  std::lock_guard<std::mutex> lock(mu);
  ident = source;
  // Opened per event under the lock: each event names its own source, and openlog's state is
  // process-wide.
  openlog(ident.c_str(), LOG_PID, LOG_DAEMON);
  syslog(prio, "%s", msg.c_str());
  closelog();
}

}  // namespace

std::string LogPath() { return RuntimeRoot() + "/log/events.log"; }

std::string FormatLine(const Event& e) {
  std::string line = e.time + "\t" + Escape(e.source) + "\t" + TypeName(e.type) + "\t" + std::to_string(e.id) + "\t" +
                     std::to_string(e.pid);
  for (const auto& s : e.strings) line += "\t" + Escape(s);
  return line;
}

Result<Event> ParseLine(std::string_view line) {
  std::vector<std::string_view> f;
  size_t pos = 0;
  for (;;) {
    size_t tab = line.find('\t', pos);
    f.push_back(line.substr(pos, tab == std::string_view::npos ? std::string_view::npos : tab - pos));
    if (tab == std::string_view::npos) break;
    pos = tab + 1;
  }
  Event e;
  auto bad = Status::Corruption("not an event-log line");
  if (f.size() < 5 || f[0].empty()) return bad;
  e.time = std::string(f[0]);
  if (!Unescape(f[1], &e.source) || e.source.empty() || !TypeFromName(f[2], &e.type)) return bad;
  auto r1 = std::from_chars(f[3].data(), f[3].data() + f[3].size(), e.id);
  auto r2 = std::from_chars(f[4].data(), f[4].data() + f[4].size(), e.pid);
  if (r1.ec != std::errc() || r1.ptr != f[3].data() + f[3].size() || r2.ec != std::errc() ||
      r2.ptr != f[4].data() + f[4].size()) {
    return bad;
  }
  for (size_t i = 5; i < f.size(); ++i) {
    std::string s;
    if (!Unescape(f[i], &s)) return bad;
    e.strings.push_back(std::move(s));
  }
  return e;
}

namespace {
std::atomic<uint64_t> max_bytes{kDefaultMaxBytes};
std::atomic<int> kept_files{kDefaultKeptFiles};

// Moves events.log to events.log.1, each older one a number up, and drops the oldest.
// Called under the lock of the current file.
void Rotate(const std::string& path) {
  const int keep = kept_files.load();
  std::string oldest = path + "." + std::to_string(keep);
  ::unlink(oldest.c_str());
  for (int i = keep - 1; i >= 1; --i)
    (void)::rename((path + "." + std::to_string(i)).c_str(), (path + "." + std::to_string(i + 1)).c_str());
  if (keep >= 1) (void)::rename(path.c_str(), (path + ".1").c_str());
  else ::unlink(path.c_str());
}

// Opens the log file and takes its lock; the file under the lock is the one at `path`
// (another writer may have rotated it away while this one waited).
int OpenLocked(const std::string& path, struct stat* st) {
  for (int tries = 0; tries < 16; ++tries) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    struct stat now;
    if (::fstat(fd, st) == 0 && ::stat(path.c_str(), &now) == 0 && now.st_ino == st->st_ino && now.st_dev == st->st_dev)
      return fd;
    ::close(fd);
  }
  errno = EAGAIN;
  return -1;
}
}  // namespace

void SetRotation(uint64_t bytes, int keep) {
  max_bytes = bytes == 0 ? kDefaultMaxBytes : bytes;
  kept_files = keep < 0 ? 0 : keep;
}

Status Report(std::string_view source, EventType type, uint32_t id, const std::vector<std::string>& strings) {
  if (source.empty()) return Status::InvalidArgument("event source is empty");
  Event e{NowUtc(), std::string(source), type, id, static_cast<long>(::getpid()), strings};
  std::string line = FormatLine(e) + "\n";
  auto dir = paths::RootFolder("log", 0700);
  if (!dir.ok()) return dir.status();
  std::string path = *dir + "/events.log";
  // O_APPEND alone keeps short lines whole, but a long line may be written in pieces; the lock
  // keeps another writer's line out of the middle, and lets a failed write be taken back.
  struct stat before {};
  int fd = OpenLocked(path, &before);
  if (fd < 0) return Status::IOError(fs::ErrnoText("open " + path, errno));
  // A full file is set aside before the line goes in, so the log never grows past its
  // bound by more than one line, and the old files are at most `kept_files`.
  if (before.st_size > 0 && static_cast<uint64_t>(before.st_size) + line.size() > max_bytes.load()) {
    Rotate(path);
    ::close(fd);
    fd = OpenLocked(path, &before);
    if (fd < 0) return Status::IOError(fs::ErrnoText("open " + path, errno));
  }
  Status st = Status::Ok();
  std::string_view rest = line;
  while (!rest.empty()) {
    ssize_t n = ::write(fd, rest.data(), rest.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      st = Status::IOError(fs::ErrnoText("write " + path, errno));
      // Take back the part written (a full disk, a size limit): a line left without its end
      // would swallow the next writer's line. Where it cannot be taken back, the line is
      // ended instead, so the next one still starts a line of its own.
      if (rest.size() != line.size() && ::ftruncate(fd, before.st_size) != 0) {
        const int e = errno;
        (void)!::write(fd, "\n", 1);
        st = Status::IOError(st.message() + "; " + fs::ErrnoText("the part written cannot be taken back", e));
      }
      break;
    }
    rest.remove_prefix(static_cast<size_t>(n));
  }
  ::close(fd);
  SendToSyslog(e.source, type, id, strings);
  return st;
}

Result<std::vector<Event>> ReadAll() {
  std::vector<Event> out;
  auto text = fs::ReadFile(LogPath(), 256u << 20);
  if (!text.ok()) {
    if (text.status().code() == Status::Code::kNotFound) return out;
    return text.status();
  }
  std::string_view t = *text;
  size_t pos = 0;
  while (pos < t.size()) {
    size_t nl = t.find('\n', pos);
    if (nl == std::string_view::npos) nl = t.size();
    auto e = ParseLine(t.substr(pos, nl - pos));
    if (e.ok()) out.push_back(std::move(*e));
    pos = nl + 1;
  }
  return out;
}

}  // namespace zv::eventlog
