#include "platform/paths/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/base/root.h"
#include "platform/fs/files.h"
#include "platform/paths/install_layout.h"

namespace zv::paths {

std::string ToSlashes(std::string_view path) {
  std::string s(path);
  for (char& c : s) {
    if (c == '\\') c = '/';
  }
  return s;
}

bool IsPlainFileName(std::string_view name, size_t max_len) {
  if (name.empty() || name.size() > max_len) return false;
  if (name == "." || name == "..") return false;
  if (name.find("..") != std::string_view::npos) return false;
  for (unsigned char c : name) {
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7f) return false;
  }
  return true;
}

namespace {

// Splits on "/" and drops empty parts and ".".
std::vector<std::string> SplitParts(std::string_view s) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= s.size()) {
    size_t j = s.find('/', i);
    if (j == std::string_view::npos) j = s.size();
    std::string_view part = s.substr(i, j - i);
    if (!part.empty() && part != ".") parts.emplace_back(part);
    i = j + 1;
  }
  return parts;
}

}  // namespace

Result<std::string> ToLocalPath(std::string_view path) {
  if (path.empty()) return Status::InvalidArgument("empty path");
  std::string s = ToSlashes(path);
  if (s.size() < 2 || s[0] != '/' || s[1] != '/') return s;
  // UNC: //SERVER/SHARE/rest
  std::vector<std::string> parts = SplitParts(std::string_view(s).substr(2));
  if (parts.size() < 2) return Status::InvalidArgument("network path without server and share: " + std::string(path));
  if (!IsPlainFileName(parts[0]) || !IsPlainFileName(parts[1])) {
    return Status::InvalidArgument("bad server or share name in: " + std::string(path));
  }
  std::vector<std::string> rest;
  for (size_t i = 2; i < parts.size(); ++i) {
    if (parts[i] == "..") {
      if (rest.empty()) return Status::InvalidArgument("path climbs above its share: " + std::string(path));
      rest.pop_back();
    } else {
      for (unsigned char c : parts[i]) {
        if (c < 0x20 || c == 0x7f) return Status::InvalidArgument("control character in path: " + std::string(path));
      }
      rest.push_back(parts[i]);
    }
  }
  // Network paths from Windows settings land in one folder of the runtime root where the shares
  // are mounted; ".." was resolved above, so the result never leaves its share.
  std::string out = RuntimeRoot() + "/net/" + parts[0] + "/" + parts[1];
  struct stat st {};
  if (::lstat(out.c_str(), &st) != 0) {
    // Not mapped in this root: the machine-wide mapping the installer made, if any.
    if (std::string sys = SystemConfigFolder(); !sys.empty()) {
      std::string shared = sys + "/net/" + parts[0] + "/" + parts[1];
      if (::lstat(shared.c_str(), &st) == 0) out = std::move(shared);
    }
  }
  for (const auto& r : rest) out += "/" + r;
  if (s.back() == '/' && !rest.empty()) out += "/";
  return out;
}

std::string SafeFileName(std::string_view name) {
  static const char* hex = "0123456789ABCDEF";
  if (name.empty()) return "%";
  std::string out;
  for (unsigned char c : name) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  if (out.size() > 160) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : name) h = (h ^ c) * 1099511628211ull;
    char tail[20];
    std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(h));
    out = out.substr(0, 64) + tail;
  }
  return out;
}

Result<std::string> JoinInside(std::string_view folder, std::string_view name) {
  if (!IsPlainFileName(name)) return Status::InvalidArgument("not a plain file name: " + std::string(name));
  std::string out(folder);
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  if (out.empty()) return Status::InvalidArgument("empty folder");
  if (out != "/") out += "/";
  out += name;
  return out;
}

Result<std::string> RootFolder(std::string_view sub, mode_t mode) {
  std::string path = RuntimeRoot();
  if (!sub.empty()) {
    size_t i = 0;
    while (i <= sub.size()) {
      size_t j = sub.find('/', i);
      if (j == std::string_view::npos) j = sub.size();
      std::string_view part = sub.substr(i, j - i);
      if (!IsPlainFileName(part)) return Status::InvalidArgument("bad runtime folder: " + std::string(sub));
      path += "/";
      path += part;
      i = j + 1;
    }
  }
  Status st = fs::MakeDirs(path, mode);
  if (!st.ok()) return st;
  return path;
}

Result<std::string> ProgramPath() {
  // Read once: the program's path is where it was started from (a later upgrade that
  // replaces the file would make the link name a deleted file), and the folders of the
  // installation are derived from it at every look at the settings.
  static const Result<std::string> path = []() -> Result<std::string> {
    std::string buf(4096, '\0');
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return Status::IOError(fs::ErrnoText("readlink /proc/self/exe", errno));
    if (static_cast<size_t>(n) >= buf.size()) return Status::IOError("program path too long");
    buf.resize(static_cast<size_t>(n));
    return buf;
  }();
  return path;
}

Result<std::string> ProgramFolder() {
  auto p = ProgramPath();
  if (!p.ok()) return p.status();
  auto slash = p->rfind('/');
  if (slash == std::string::npos) return Status::IOError("program path has no folder: " + *p);
  return slash == 0 ? std::string("/") : p->substr(0, slash);
}

Result<std::string> InstallPrefix() {
  auto folder = ProgramFolder();
  if (!folder.ok()) return folder.status();
  auto slash = folder->rfind('/');
  if (slash == std::string::npos || slash == 0) return std::string("/");
  return folder->substr(0, slash);
}

std::string SystemConfigFolder() {
  if (const char* c = std::getenv("ZELVORA_SYSTEM_CONFIG"); c && *c) return c;
  auto prefix = InstallPrefix();
  return prefix.ok() ? PrefixFolder(*prefix, kSystemConfigFolder) : std::string();
}

Result<std::string> TempFolder() { return RootFolder("tmp", 0700); }

namespace {

bool IsPlainPart(std::string_view s) {
  for (unsigned char c : s) {
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7f) return false;
  }
  return s.find("..") == std::string_view::npos;
}

uint32_t NextRandom() {
  static std::atomic<uint64_t> counter{0};
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t x = (static_cast<uint64_t>(ts.tv_sec) * 1000000007ull) ^ static_cast<uint64_t>(ts.tv_nsec) ^
               (static_cast<uint64_t>(::getpid()) << 32) ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
  // splitmix64 finaliser
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  x ^= x >> 31;
  return static_cast<uint32_t>(x);
}

}  // namespace

Result<std::string> CreateTempFile(std::string_view folder, std::string_view prefix, std::string_view extension) {
  if (folder.empty()) return Status::InvalidArgument("empty temporary folder");
  if (!IsPlainPart(prefix) || !IsPlainPart(extension) || prefix.size() + extension.size() > 200) {
    return Status::InvalidArgument("bad temporary file prefix or extension");
  }
  std::string dir(folder);
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", NextRandom());
    std::string path = dir + "/" + std::string(prefix) + hex + std::string(extension);
    // O_EXCL makes the name ours even in a folder others write to; a clash only means another try.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST) return Status::IOError(fs::ErrnoText("create " + path, errno));
  }
  return Status::IOError("no free temporary file name in " + dir);
}

}  // namespace zv::paths
