#include "engine/hevrasto/share_files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <random>
#include <thread>

#include "engine/hevrasto/request_slots.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"

namespace zv::share {

int FileOps::Open(const std::string& path, int flags, mode_t mode) { return ::open(path.c_str(), flags, mode); }
ssize_t FileOps::Write(int fd, const void* data, size_t size) { return ::write(fd, data, size); }
int FileOps::Close(int fd) { return ::close(fd); }
int FileOps::RenameNoReplace(const std::string& from, const std::string& to) {
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
}
int FileOps::Link(const std::string& from, const std::string& to) { return ::link(from.c_str(), to.c_str()); }
int FileOps::Unlink(const std::string& path) { return ::unlink(path.c_str()); }
int FileOps::Lstat(const std::string& path, struct stat* st) { return ::lstat(path.c_str(), st); }

FileOps& DefaultFileOps() {
  static FileOps ops;
  return ops;
}

int NetworkMountOps::Open(const std::string& path, int flags, mode_t mode) {
  if ((flags & O_CREAT) && (flags & O_EXCL)) {
    if (before_create) before_create(path);
    if (busy_ > 0) {
      --busy_;
      errno = EBUSY;
      return -1;
    }
  }
  int fd = below_.Open(path, flags, mode);
  if (fd < 0 && errno == EEXIST && kind_ == MountKind::kSshfs) errno = EPERM;
  if (fd >= 0 && (flags & O_CREAT)) misses_.erase(path);
  return fd;
}

int NetworkMountOps::Unlink(const std::string& path) {
  int r = below_.Unlink(path);
  if (r == 0 && cache_misses_) misses_.insert(path);
  return r;
}

int NetworkMountOps::Lstat(const std::string& path, struct stat* st) {
  if (misses_.count(path) != 0) {
    errno = ENOENT;
    return -1;
  }
  int r = below_.Lstat(path, st);
  if (r != 0 && errno == ENOENT && cache_misses_) misses_.insert(path);
  return r;
}

int NetworkMountOps::RenameNoReplace(const std::string&, const std::string&) {
  errno = EINVAL;
  return -1;
}

int NetworkMountOps::Link(const std::string& from, const std::string& to) {
  if (kind_ == MountKind::kSmbnetfs) {
    errno = EPERM;
    return -1;
  }
  int r = below_.Link(from, to);
  if (r != 0 && errno == EEXIST) errno = EPERM;
  return r;
}

namespace {

// Runs a call that may fail with a transient EBUSY (a network mount gives one now and then)
// up to five times, 20 ms apart.
template <typename Call>
auto RetryBusy(Call call) {
  for (int attempt = 0;; ++attempt) {
    auto r = call();
    if (r >= 0 || errno != EBUSY || attempt >= 4) return r;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// Takes the table, an open descriptor and bytes; writes every byte. Gives whether it did.
bool WriteWhole(FileOps& ops, int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = RetryBusy([&] { return ops.Write(fd, bytes.data(), bytes.size()); });
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Takes the table and a path; gives whether something lies there (a file, a folder, a link).
bool Exists(FileOps& ops, const std::string& path) {
  struct stat st {};
  return ops.Lstat(path, &st) == 0;
}

// Takes what was being done and the errno it failed with; gives NoSpace where the file
// system or the writer's quota is full (the caller tells the user so), else IOError.
Status WriteFailure(const std::string& what, int error) {
  const std::string text = fs::ErrnoText(what, error);
  return error == ENOSPC || error == EDQUOT ? Status::NoSpace(text) : Status::IOError(text);
}

// How often an exclusive create refused for a name that is not there is tried.
constexpr int kCreateAttempts = 3;

// What an exclusive create came to.
enum class Created { kOk, kTaken, kFailed };

// Creates `path` exclusively with `mode` and writes `bytes` into it. A name that exists,
// whatever error the mount gives for it, is kTaken; on kFailed nothing is left and errno
// says why.
Created CreateAndWrite(FileOps& ops, const std::string& path, std::string_view bytes, mode_t mode) {
  int fd = -1;
  for (int attempt = 1;; ++attempt) {
    fd = RetryBusy([&] { return ops.Open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode); });
    if (fd >= 0) break;
    const int error = errno;
    if (error == EEXIST || Exists(ops, path)) return Created::kTaken;
    // Samba refuses a name that holds another user's file with "access denied" (EACCES),
    // and the engine may have taken that file away before the look above: a name refused
    // so is tried again, and only a refusal that stays is a failure.
    if (attempt >= kCreateAttempts) {
      errno = error;
      return Created::kFailed;
    }
  }
  bool written = WriteWhole(ops, fd, bytes);
  int error = errno;
  if (RetryBusy([&] { return ops.Close(fd); }) != 0 && written) {
    written = false;
    error = errno;
  }
  if (!written) {
    ops.Unlink(path);
    errno = error;
    return Created::kFailed;
  }
  return Created::kOk;
}

std::string TempRequestName() {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  char buf[64];
  std::snprintf(buf, sizeof buf, "zvreq-%d-%016llx.tmp", static_cast<int>(::getpid()),
                static_cast<unsigned long long>(rng()));
  return buf;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view s, std::string_view p) {
  if (s.size() < p.size()) return false;
  for (size_t i = 0; i < p.size(); ++i)
    if (Lower(s[i]) != Lower(p[i])) return false;
  return true;
}

constexpr std::string_view kSection = "[RequestInfo]\n";

// The head every sealed request starts with.
std::string SealedHead() { return std::string(kSection) + kRequestIdKey + "="; }

}  // namespace

std::string NewRequestId() {
  unsigned char raw[12];
  size_t got = 0;
  while (got < sizeof raw) {
    ssize_t n = ::getrandom(raw + got, sizeof raw - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < sizeof raw) {
    // No random source: std::random_device (itself the system's source where it has one).
    std::random_device rd;
    for (unsigned char& c : raw) c = static_cast<unsigned char>(rd());
  }
  static const char kHex[] = "0123456789abcdef";
  std::string id;
  for (unsigned char c : raw) {
    id += kHex[c >> 4];
    id += kHex[c & 15];
  }
  return id;
}

bool IsRequestId(std::string_view text) {
  if (text.size() < 16 || text.size() > 64) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

std::string SealRequestText(std::string_view text, std::string_view id) {
  std::string out(kSection);
  out += std::string(kRequestIdKey) + "=" + std::string(id) + "\n";
  std::string_view rest = text;
  if (StartsWithNoCase(rest, "[RequestInfo]")) {
    size_t nl = rest.find('\n');
    rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
  }
  out += rest;
  if (!out.empty() && out.back() != '\n') out += '\n';
  out += std::string(kRequestEndKey) + "=" + std::string(id) + "\n";
  return out;
}

std::string RequestIdOf(std::string_view text) {
  bool in_first = false;
  const std::string key = std::string(kRequestIdKey) + "=";
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty()) continue;
    if (line.front() == '[') {
      if (in_first) break;
      in_first = true;
      continue;
    }
    if (in_first && StartsWithNoCase(line, key)) {
      std::string_view value = line.substr(key.size());
      return IsRequestId(value) ? std::string(value) : std::string();
    }
  }
  return {};
}

RequestTextState ClassifyRequestText(std::string_view text) {
  const std::string head = SealedHead();
  if (text.size() < head.size()) {
    // Empty, or a start that a sealed request may still grow from.
    return head.compare(0, text.size(), text) == 0 ? RequestTextState::kPartial : RequestTextState::kWhole;
  }
  if (text.compare(0, head.size(), head) != 0) return RequestTextState::kWhole;  // an unsealed request
  std::string_view rest = text.substr(head.size());
  size_t nl = rest.find('\n');
  if (nl == std::string_view::npos) return RequestTextState::kPartial;
  std::string_view id = rest.substr(0, nl);
  const std::string end = std::string(kRequestEndKey) + "=" + std::string(id) + "\n";
  if (text.size() >= end.size() + head.size() && text.substr(text.size() - end.size()) == end &&
      (text.size() == end.size() || text[text.size() - end.size() - 1] == '\n'))
    return RequestTextState::kWhole;
  return RequestTextState::kPartial;
}

bool AnswerBelongs(std::string_view sent, std::string_view carried, bool accept_keyless) {
  if (sent.empty()) return true;  // nothing to compare: a request without a key
  if (carried.empty()) return accept_keyless;
  return carried == sent;
}

namespace {
std::int64_t MtimeNs(const struct stat& st) {
  return std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
}
}  // namespace

bool AnswerCopyAwaited(const std::string& copy_path, std::string_view key, uid_t owner,
                       std::chrono::system_clock::time_point now) {
  int fd = ::open(copy_path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;  // taken (or never written)
  struct stat st {};
  bool awaited = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_uid == owner || st.st_uid == 0);
  if (awaited) {
    const auto written = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::nanoseconds(MtimeNs(st))));
    const auto age = now - written;
    // A clock set back makes a copy look written later: too far either way is old.
    awaited = age < std::chrono::milliseconds(kAwaitedCopyHoldMs) && age > -std::chrono::milliseconds(kAwaitedCopyHoldMs);
  }
  std::string text;
  if (awaited) {
    // The key is in the answer's first section: its head is enough.
    char buf[4096];
    ssize_t n;
    while (text.size() < 16384 && ((n = ::read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)))
      if (n > 0) text.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  if (!awaited) return false;
  const std::string carried = RequestIdOf(text);
  return !carried.empty() && carried != key;
}

bool AwaitedCopyHolds::Hold(int slot, const std::string& request_path, const std::string& copy_path,
                            std::string_view key, uid_t owner, std::chrono::system_clock::time_point now) {
  struct stat st {};
  if (::lstat(request_path.c_str(), &st) != 0 || !AnswerCopyAwaited(copy_path, key, owner, now)) {
    held_.erase(slot);
    return false;
  }
  held_[slot] = Held{request_path, copy_path, std::string(key), owner, st.st_ino, MtimeNs(st)};
  return true;
}

int AwaitedCopyHolds::PassOver(std::span<bool> present, int wait_ms, std::chrono::system_clock::time_point now) {
  for (auto it = held_.begin(); it != held_.end();) {
    const auto slot = static_cast<std::size_t>(it->first);
    const Held& h = it->second;
    struct stat st {};
    if (slot >= present.size() || !present[slot] || ::lstat(h.request_path.c_str(), &st) != 0 ||
        st.st_ino != h.ino || MtimeNs(st) != h.mtime_ns || !AnswerCopyAwaited(h.copy_path, h.key, h.owner, now)) {
      it = held_.erase(it);
      continue;
    }
    present[slot] = false;
    wait_ms = std::min(wait_ms, kAwaitedCopyPollMs);
    ++it;
  }
  return wait_ms;
}

Result<int> PlaceRequestText(FileOps& ops, const std::string& folder, const std::string& text, int start,
                             const std::function<bool(int slot)>& slot_allowed) {
  if (start < 0 || start >= engine::kSlotCount) start = 0;
  // First a whole copy under a temporary name, renamed onto the slot where the mount can do
  // that without replacing; a mount that cannot has the slot claimed and written in place.
  const std::string tmp = folder + "/" + TempRequestName();
  bool renaming = true;
  switch (CreateAndWrite(ops, tmp, text, kRequestMode)) {
    case Created::kOk:
      break;
    case Created::kTaken:  // a random name: never met in practice; claimed in place then
      renaming = false;
      break;
    case Created::kFailed:
      return WriteFailure("write " + tmp, errno);
  }
  struct Remove {
    FileOps& ops;
    const std::string& path;
    bool armed;
    ~Remove() {
      if (armed) ops.Unlink(path);
    }
  } remove_tmp{ops, tmp, renaming};

  for (int i = 0; i < engine::kSlotCount; ++i) {
    const int slot = (start + i) % engine::kSlotCount;
    const std::string path = folder + "/" + engine::SlotFileName(slot);
    if (Exists(ops, path)) continue;
    if (slot_allowed && !slot_allowed(slot)) continue;
    if (renaming) {
      if (RetryBusy([&] { return ops.RenameNoReplace(tmp, path); }) == 0) {
        remove_tmp.armed = false;
        return slot;
      }
      const int error = errno;
      if (error == EEXIST || Exists(ops, path)) continue;  // taken meanwhile
      if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP && error != ENOTSUP && error != EPERM)
        return Status::IOError(fs::ErrnoText("rename onto " + path, error));
      // The mount cannot rename without replacing (nor, then, be trusted with links): the
      // slots are claimed from here on.
      renaming = false;
      ops.Unlink(tmp);
      remove_tmp.armed = false;
    }
    switch (CreateAndWrite(ops, path, text, kRequestMode)) {
      case Created::kOk:
        return slot;
      case Created::kTaken:
        continue;
      case Created::kFailed:
        return WriteFailure("claim " + path, errno);
    }
  }
  return Status::Busy("all request slots are taken");
}

Result<std::string> WriteJobFile(FileOps& ops, const std::string& folder, const std::string& machine,
                                 std::span<const std::uint8_t> bytes) {
  if (!paths::IsPlainFileName(machine, 100)) return Status::InvalidArgument("machine name is not a plain name");
  const std::string_view content(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  for (int n = 0; n <= kMaxJobFileNumber; ++n) {
    std::string name = machine + std::to_string(n) + ".prc";
    std::string path = folder + "/" + name;
    switch (CreateAndWrite(ops, path, content, kJobMode)) {
      case Created::kOk:
        return name;
      case Created::kTaken:
        continue;
      case Created::kFailed:
        return WriteFailure("write " + path, errno);
    }
  }
  return Status::Busy("no free job file name in " + folder);
}

ShareCheck CheckRequestFolder(FileOps& ops, const std::string& folder) {
  ShareCheck c;
  struct stat st {};
  if (ops.Lstat(folder, &st) != 0) {
    c.error = errno;
    c.state = (c.error == EACCES || c.error == EPERM) ? ShareCheck::kUnreadable : ShareCheck::kUnreachable;
    return c;
  }
  if (!S_ISDIR(st.st_mode)) {
    c.error = ENOTDIR;
    c.state = ShareCheck::kUnreachable;
    return c;
  }
  if (ops.Lstat(folder + "/Wakeup.inf", &st) == 0) {
    c.state = ShareCheck::kRunning;
    return c;
  }
  c.error = errno;
  if (c.error == ENOENT) {
    c.state = ShareCheck::kNotRunning;
    c.error = 0;
  } else {
    c.state = (c.error == EACCES || c.error == EPERM) ? ShareCheck::kUnreadable : ShareCheck::kUnreachable;
  }
  return c;
}

}  // namespace zv::share
