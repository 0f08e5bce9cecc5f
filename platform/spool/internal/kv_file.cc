#include "platform/spool/internal/kv_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>

namespace zv::spool::internal {

namespace fs = std::filesystem;

namespace {

std::string Trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  std::size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

}  // namespace

Result<std::vector<KvLine>> ReadKvFile(const fs::path& path, std::uintmax_t max_bytes) {
  std::error_code ec;
  auto size = fs::file_size(path, ec);
  if (ec) return Status::NotFound(path.string() + ": " + ec.message());
  if (size > max_bytes) return Status::Corruption(path.string() + ": file too large");
  std::ifstream in(path, std::ios::binary);
  if (!in) return Status::IOError(path.string() + ": cannot open");
  std::vector<KvLine> out;
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    ++n;
    std::string t = Trim(line);
    if (t.empty() || t[0] == '#' || t[0] == ';') continue;
    auto eq = t.find('=');
    if (eq == std::string::npos) {
      return Status::Corruption(path.string() + ":" + std::to_string(n) + ": line without '='");
    }
    out.push_back({Trim(t.substr(0, eq)), UnescapeValue(Trim(t.substr(eq + 1))), n});
  }
  if (in.bad()) return Status::IOError(path.string() + ": read failed");
  return out;
}

std::string EscapeValue(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '%': out += "%25"; break;
      case '\n': out += "%0A"; break;
      case '\r': out += "%0D"; break;
      default: out += c;
    }
  }
  // Leading and trailing spaces would be trimmed by the reader.
  if (!out.empty() && out.front() == ' ') out.replace(0, 1, "%20");
  if (!out.empty() && out.back() == ' ') out.replace(out.size() - 1, 1, "%20");
  return out;
}

std::string UnescapeValue(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size()) {
      int v = 0;
      auto r = std::from_chars(value.data() + i + 1, value.data() + i + 3, v, 16);
      if (r.ec == std::errc() && r.ptr == value.data() + i + 3) {
        out += static_cast<char>(v);
        i += 2;
        continue;
      }
    }
    out += value[i];
  }
  return out;
}

Status WriteFileAtomic(const fs::path& path, const std::string& content) {
  static std::atomic<unsigned> counter{0};
  fs::path tmp = path;
  tmp += ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Status::IOError(tmp.string() + ": " + std::strerror(errno));
  const char* p = content.data();
  std::size_t left = content.size();
  while (left > 0) {
    ssize_t w = ::write(fd, p, left);
    if (w < 0) {
      if (errno == EINTR) continue;
      int e = errno;
      ::close(fd);
      ::unlink(tmp.c_str());
      return Status::IOError(tmp.string() + ": " + std::strerror(e));
    }
    p += w;
    left -= static_cast<std::size_t>(w);
  }
  if (::close(fd) != 0) {
    ::unlink(tmp.c_str());
    return Status::IOError(tmp.string() + ": close failed");
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    int e = errno;
    ::unlink(tmp.c_str());
    return Status::IOError(path.string() + ": " + std::strerror(e));
  }
  return Status::Ok();
}

std::optional<std::int64_t> ParseInt(const std::string& text, std::int64_t lo, std::int64_t hi) {
  if (text.empty()) return std::nullopt;
  const char* b = text.data();
  const char* e = text.data() + text.size();
  bool neg = false;
  if (*b == '-') {
    neg = true;
    ++b;
  }
  int base = 10;
  if (e - b > 2 && b[0] == '0' && (b[1] == 'x' || b[1] == 'X')) {
    base = 16;
    b += 2;
  }
  std::uint64_t v = 0;
  auto r = std::from_chars(b, e, v, base);
  if (r.ec != std::errc() || r.ptr != e || v > std::uint64_t(INT64_MAX)) return std::nullopt;
  std::int64_t s = neg ? -std::int64_t(v) : std::int64_t(v);
  if (s < lo || s > hi) return std::nullopt;
  return s;
}

FileLock::FileLock(const fs::path& path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) return;
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
  }
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace zv::spool::internal
