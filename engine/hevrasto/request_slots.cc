#include "engine/hevrasto/request_slots.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/fs/files.h"

namespace zv::engine {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view s, std::string_view p) {
  if (s.size() < p.size()) return false;
  for (size_t i = 0; i < p.size(); ++i)
    if (Lower(s[i]) != p[i]) return false;
  return true;
}
bool EndsWithNoCase(std::string_view s, std::string_view p) {
  return s.size() >= p.size() && StartsWithNoCase(s.substr(s.size() - p.size()), p);
}

}  // namespace

std::string SlotFileName(int slot) { return SlotBaseName(slot) + ".lst"; }

std::string SlotBaseName(int slot) {
  char b[16];
  snprintf(b, sizeof b, "order%02d", slot);
  return b;
}

int ParseSlotFileName(std::string_view name) {
  if (name.size() != 11 || !StartsWithNoCase(name, "order") || !EndsWithNoCase(name, ".lst")) return -1;
  char a = name[5], b = name[6];
  if (a < '0' || a > '9' || b < '0' || b > '9') return -1;
  return (a - '0') * 10 + (b - '0');
}

bool MatchesRequestPattern(std::string_view name) {
  return name.size() >= 9 && StartsWithNoCase(name, "order") && EndsWithNoCase(name, ".lst");
}

int ParseSequence(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  int v = 0;
  size_t digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
    v = v * 10 + (text[i] - '0');
    ++i;
    ++digits;
  }
  return (digits == 0 || v >= kSlotCount) ? 0 : v;
}

int PickSlot(const std::array<bool, kSlotCount>& present, int start) {
  if (start < 0 || start >= kSlotCount) start = 0;
  for (int i = 0; i < kSlotCount; ++i) {
    int s = (start + i) % kSlotCount;
    if (present[s]) return s;
  }
  return -1;
}

bool RequestFolderScan::any() const {
  if (!strays.empty()) return true;
  for (bool p : present)
    if (p) return true;
  return false;
}

Result<RequestFolderScan> ScanRequestFolder(const std::string& folder) {
  DIR* d = opendir(folder.c_str());
  if (!d) return Status::IOError(fs::ErrnoText("opendir " + folder, errno));
  RequestFolderScan scan;
  while (dirent* e = readdir(d)) {
    std::string_view name = e->d_name;
    for (std::string_view suffix : {std::string_view(".taken"), std::string_view(".answered")}) {
      if (name.size() == 7 + suffix.size() && name.substr(7) == suffix) {
        int slot = ParseSlotFileName(std::string(name.substr(0, 7)) + ".lst");
        if (slot >= 0 && SlotBaseName(slot) == name.substr(0, 7)) scan.marked[slot] = true;
      }
    }
    if (!MatchesRequestPattern(name)) continue;
    // Only a regular file is a request; anything else named like one (a link, a folder, a
    // FIFO) is a stray, so that it is moved aside instead of blocking its slot.
    bool regular = e->d_type == DT_REG;
    if (e->d_type == DT_UNKNOWN) {
      struct stat st {};
      regular = fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
    }
    int slot = ParseSlotFileName(name);
    if (regular && slot >= 0 && std::string_view(SlotFileName(slot)) == name) {
      scan.present[slot] = true;
    } else {
      scan.strays.emplace_back(name);
    }
  }
  closedir(d);
  return scan;
}

SequenceFile::~SequenceFile() { Close(); }
SequenceFile::SequenceFile(SequenceFile&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
SequenceFile& SequenceFile::operator=(SequenceFile&& o) noexcept {
  if (this != &o) {
    Close();
    fd_ = o.fd_;
    o.fd_ = -1;
  }
  return *this;
}

void SequenceFile::Close() {
  if (fd_ >= 0) {
    flock(fd_, LOCK_UN);
    ::close(fd_);
  }
  fd_ = -1;
}

namespace {

// Takes the lock on an open "Sequence.seq" (`how` LOCK_EX or LOCK_SH), trying again after
// 1 ms, doubling to 20 ms, looking at the stop event each time. Busy when the stop event
// is set first, Timeout when the limit (below 0: none) passes first.
Status TakeLock(int fd, int how, const std::string& path, const sync::Event* stop, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int pause_ms = 1;
  for (;;) {
    if (flock(fd, how | LOCK_NB) == 0) return Status::Ok();
    if (errno != EWOULDBLOCK && errno != EINTR) return Status::IOError(fs::ErrnoText("flock " + path, errno));
    if (timeout_ms >= 0 && std::chrono::steady_clock::now() >= deadline) return Status::Timeout(path + " stays locked");
    if (stop ? stop->Wait(pause_ms) : (usleep(static_cast<useconds_t>(pause_ms) * 1000), false))
      return Status::Busy("stopped while waiting for " + path);
    pause_ms = std::min(pause_ms * 2, 20);
  }
}

}  // namespace

Result<SequenceFile> SequenceFile::OpenOwn(const std::string& folder) {
  std::string path = folder + "/" + kSequenceFileName;
  // Never through a link (the number would be written wherever it points) and never
  // anything but a regular file. Members only read it: whoever could write it could put a
  // request's text in it and link it into a slot.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0640);
  if (fd < 0) return Status::IOError(fs::ErrnoText("open " + path, errno));
  SequenceFile f(fd);
  struct stat kind {};
  if (fstat(fd, &kind) != 0 || !S_ISREG(kind.st_mode)) return Status::IOError(path + " is not a regular file");
  if ((kind.st_mode & 0022) != 0 && kind.st_uid == ::geteuid()) (void)fchmod(fd, kind.st_mode & 07755);
  if (kind.st_size == 0) {
    // A missing (or emptied) sequence file starts the ring at slot 00.
    if (pwrite(fd, "00", 2, 0) != 2) return Status::IOError(fs::ErrnoText("write " + path, errno));
  }
  return f;
}

Result<SequenceFile> SequenceFile::Lock(const std::string& folder, const sync::Event* stop, int timeout_ms) {
  auto f = OpenOwn(folder);
  if (!f.ok()) return f;
  Status locked = TakeLock(f->fd_, LOCK_EX, folder + "/" + kSequenceFileName, stop, timeout_ms);
  if (!locked.ok()) return locked;
  return f;
}

Result<SequenceFile> SequenceFile::OpenShared(const std::string& folder, int timeout_ms, bool* locked) {
  *locked = false;
  std::string path = folder + "/" + kSequenceFileName;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return Status::NotFound(path + " is missing");
    return Status::IOError(fs::ErrnoText("open " + path, errno));
  }
  SequenceFile f(fd);
  struct stat kind {};
  if (fstat(fd, &kind) != 0 || !S_ISREG(kind.st_mode)) return Status::IOError(path + " is not a regular file");
  Status taken = TakeLock(fd, LOCK_SH, path, nullptr, timeout_ms);
  if (!taken.ok() && taken.code() != Status::Code::kTimeout) return taken;
  *locked = taken.ok();
  return f;
}

std::vector<std::string> StaleJobFiles(const std::vector<JobFileAge>& files, const std::set<std::string>& named,
                                       std::chrono::system_clock::time_point now, std::chrono::seconds max_age) {
  std::vector<std::string> out;
  for (const JobFileAge& f : files)
    if (!named.count(f.name) && now - f.written > max_age) out.push_back(f.name);
  return out;
}

std::vector<LockHolder> ParseLockHolders(std::string_view proc_locks, uint64_t dev_major, uint64_t dev_minor,
                                         uint64_t ino) {
  std::vector<LockHolder> out;
  size_t pos = 0;
  while (pos < proc_locks.size()) {
    size_t eol = proc_locks.find('\n', pos);
    std::string line(proc_locks.substr(pos, eol == std::string_view::npos ? std::string_view::npos : eol - pos));
    pos = eol == std::string_view::npos ? proc_locks.size() : eol + 1;
    // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; a waiter's line has "->" after
    // its number and holds nothing.
    if (line.find("->") != std::string::npos) continue;
    char kind[16] = {}, mode[16] = {}, access[16] = {};
    long pid = 0;
    unsigned long long maj = 0, min = 0, node = 0;
    if (std::sscanf(line.c_str(), "%*d: %15s %15s %15s %ld %llx:%llx:%llu", kind, mode, access, &pid, &maj, &min,
                    &node) != 7)
      continue;
    if (maj == dev_major && min == dev_minor && node == ino && pid > 0)
      out.push_back(LockHolder{static_cast<int>(pid), std::string(kind) + " " + access});
  }
  return out;
}

Result<int> SequenceFile::ReadStart() {
  char buf[64];
  ssize_t n = pread(fd_, buf, sizeof buf, 0);
  if (n < 0) return Status::IOError(fs::ErrnoText("read Sequence.seq", errno));
  std::string_view text(buf, static_cast<size_t>(n));
  size_t eol = text.find_first_of("\r\n");
  return ParseSequence(text.substr(0, eol));
}

Status SequenceFile::WriteNext(int taken) {
  char b[8];
  snprintf(b, sizeof b, "%02d", (taken + 1) % kSlotCount);
  if (pwrite(fd_, b, 2, 0) != 2) return Status::IOError(fs::ErrnoText("write Sequence.seq", errno));
  return Status::Ok();
}

}  // namespace zv::engine
