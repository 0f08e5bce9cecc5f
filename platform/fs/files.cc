#include "platform/fs/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace zv::fs {

namespace {
// Removes `name` inside the open folder `dir`; `depth` bounds the walk.
Status RemoveAt(int dir, const std::string& name, const std::string& shown, int depth) {
  if (::unlinkat(dir, name.c_str(), 0) == 0 || errno == ENOENT) return Status::Ok();
  if (errno != EISDIR && errno != EPERM) return Status::IOError(ErrnoText("unlink " + shown, errno));
  if (depth > 64) return Status::IOError(shown + ": folders nested too deep");
  int sub = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (sub < 0) return Status::IOError(ErrnoText("open " + shown, errno));
  DIR* d = ::fdopendir(sub);
  if (!d) {
    ::close(sub);
    return Status::IOError(ErrnoText("opendir " + shown, errno));
  }
  std::vector<std::string> names;
  while (dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  Status st = Status::Ok();
  for (const std::string& n : names) {
    st = RemoveAt(::dirfd(d), n, shown + "/" + n, depth + 1);
    if (!st.ok()) break;
  }
  ::closedir(d);
  if (!st.ok()) return st;
  if (::unlinkat(dir, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
    return Status::IOError(ErrnoText("rmdir " + shown, errno));
  return Status::Ok();
}
}  // namespace

bool TrustedForCaller(const struct stat& st) {
  return S_ISREG(st.st_mode) && (st.st_uid == 0 || st.st_uid == ::geteuid());
}

Result<std::string> ReadTrustedFile(const std::string& path, size_t max_bytes, struct stat* info) {
  struct stat st {};
  auto text = ReadFile(path, max_bytes, &st);
  if (!text.ok()) return text;
  if (!TrustedForCaller(st))
    return Status::InvalidArgument(path + " belongs to uid " + std::to_string(st.st_uid) + ": not read");
  if (info) *info = st;
  return text;
}

Status RemoveNoFollow(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Status::IOError(ErrnoText("open " + dir, errno));
  Status st = RemoveAt(fd, name, path, 0);
  ::close(fd);
  return st;
}

std::string ErrnoText(const std::string& what, int e) { return what + ": " + std::strerror(e); }

Result<std::string> ReadToEnd(int fd, size_t max_bytes) {
  std::string out;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Status::IOError(ErrnoText("read", errno));
    if (n == 0) return out;
    if (out.size() + static_cast<size_t>(n) > max_bytes) return Status::InvalidArgument("input too large");
    out.append(buf, static_cast<size_t>(n));
  }
}

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

Result<std::string> ReadFile(const std::string& path, size_t max_bytes, struct stat* info) {
  // Without blocking (a FIFO would wait for a writer) and without following a link in the
  // last component; only a regular file is read.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
  if (fd < 0) {
    int e = errno;
    if (e == ENOENT || e == ENOTDIR) return Status::NotFound(ErrnoText("open " + path, e));
    if (e == ELOOP) return Status::InvalidArgument("not a regular file (a link): " + path);
    return Status::IOError(ErrnoText("open " + path, e));
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int e = errno;
    ::close(fd);
    return Status::IOError(ErrnoText("stat " + path, e));
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return Status::InvalidArgument("not a regular file: " + path);
  }
  if (static_cast<unsigned long long>(st.st_size) > max_bytes) {
    ::close(fd);
    return Status::InvalidArgument("file too large: " + path);
  }
  if (info) *info = st;
  std::string out;
  out.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      int e = errno;
      ::close(fd);
      return Status::IOError(ErrnoText("read " + path, e));
    }
    if (n == 0) break;
    if (out.size() + static_cast<size_t>(n) > max_bytes) {
      ::close(fd);
      return Status::InvalidArgument("file too large: " + path);
    }
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return out;
}

namespace {

// True when a file created with mode 0600 gets exactly that: the process's umask takes
// neither of the owner's read and write bits. The umask is read once, from /proc (asking
// umask() for it would set it meanwhile under the other threads); nothing in these
// programs changes it later.
bool CreatedOwnerOnly() {
  static const bool owner_only = [] {
    int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[4096];
    ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0) return false;
    buf[n] = 0;
    const char* at = std::strstr(buf, "\nUmask:");
    if (!at) return false;
    const unsigned long mask = std::strtoul(at + 7, nullptr, 8);
    return (mask & 0600) == 0;
  }();
  return owner_only;
}

Status WriteAll(int fd, std::string_view data, const std::string& path) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::IOError(ErrnoText("write " + path, errno));
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return Status::Ok();
}

}  // namespace

Status WriteFileAtomic(const std::string& path, std::string_view content, mode_t mode, Durability durability,
                       const Ownership* owned) {
  auto slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty()) return Status::InvalidArgument("no file name in path: " + path);
  // The temporary file sits in the target's folder so the rename stays on one file system and
  // replaces the file in one step; the leading dot keeps it out of folder scans meanwhile.
  std::string tmp = (slash == std::string::npos ? std::string() : dir) + "." + base + ".tmpXXXXXX";
  int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return Status::IOError(ErrnoText("create temporary file for " + path, errno));
  Status st = Status::Ok();
  // mkostemp makes the file 0600 less the umask; the owner and the wanted mode are set
  // before any data lands (a file that is 0600 already is left so).
  if (owned && ::fchown(fd, owned->uid, owned->gid) == 0) mode = owned->mode;
  if ((mode != 0600 || !CreatedOwnerOnly()) && ::fchmod(fd, mode) != 0)
    st = Status::IOError(ErrnoText("chmod " + tmp, errno));
  if (st.ok()) st = WriteAll(fd, content, tmp);
  if (st.ok() && durability == Durability::kSynced && ::fsync(fd) != 0)
    st = Status::IOError(ErrnoText("fsync " + tmp, errno));
  if (::close(fd) != 0 && st.ok()) st = Status::IOError(ErrnoText("close " + tmp, errno));
  if (st.ok() && ::rename(tmp.c_str(), path.c_str()) != 0) {
    st = Status::IOError(ErrnoText("rename " + tmp + " to " + path, errno));
  }
  if (!st.ok()) ::unlink(tmp.c_str());
  return st;
}

Status MakeDirs(const std::string& path, mode_t mode) {
  if (path.empty()) return Status::InvalidArgument("empty folder path");
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    return S_ISDIR(st.st_mode) ? Status::Ok() : Status::IOError("not a folder: " + path);
  }
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  auto slash = p.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    Status s = MakeDirs(p.substr(0, slash), mode);
    if (!s.ok()) return s;
  }
  if (::mkdir(p.c_str(), mode) != 0 && errno != EEXIST) {
    return Status::IOError(ErrnoText("mkdir " + p, errno));
  }
  if (::stat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return Status::IOError("not a folder: " + p);
  return Status::Ok();
}

FileLock::~FileLock() { Release(); }

FileLock::FileLock(FileLock&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }

FileLock& FileLock::operator=(FileLock&& o) noexcept {
  if (this != &o) {
    Release();
    fd_ = o.fd_;
    o.fd_ = -1;
  }
  return *this;
}

void FileLock::Release() {
  if (fd_ >= 0) {
    ::close(fd_);  // closing the only descriptor drops the flock
    fd_ = -1;
  }
}

Result<FileLock> FileLock::Take(const std::string& path, bool wait) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return Status::IOError(ErrnoText("open lock " + path, errno));
  for (;;) {
    if (::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) == 0) return FileLock(fd);
    int e = errno;
    if (e == EINTR) continue;
    ::close(fd);
    if (e == EWOULDBLOCK) return Status::Busy("lock held by another: " + path);
    return Status::IOError(ErrnoText("flock " + path, e));
  }
}

Result<FileLock> FileLock::Acquire(const std::string& path) { return Take(path, true); }
Result<FileLock> FileLock::TryAcquire(const std::string& path) { return Take(path, false); }

}  // namespace zv::fs
