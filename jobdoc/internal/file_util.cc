#include "jobdoc/internal/file_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace zv::jobdoc::internal {

std::string BaseName(std::string_view path) {
  std::size_t cut = path.find_last_of("/\\");
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string Extension(std::string_view base_name) {
  std::size_t dot = base_name.rfind('.');
  return dot == std::string_view::npos ? std::string() : std::string(base_name.substr(dot));
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

namespace {
std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }
}  // namespace

Status ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return Status::NotFound(path + " does not exist");
    return Status::IOError(Errno("open " + path));
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return Status::IOError(path + " is not a regular file");
  }
  out.clear();
  // Read until the end rather than trusting the size seen at open: the file may change.
  out.reserve(static_cast<std::size_t>(st.st_size));
  std::uint8_t chunk[65536];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      Status s = Status::IOError(Errno("read " + path));
      ::close(fd);
      return s;
    }
    if (n == 0) break;
    out.insert(out.end(), chunk, chunk + n);
  }
  ::close(fd);
  return Status::Ok();
}

Status WriteWholeFileAtomic(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::string tmp = path + ".tmpXXXXXX";
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) return Status::IOError(Errno("create a temporary file beside " + path));
  ::fchmod(fd, 0644);
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      Status s = Status::IOError(Errno("write " + tmp));
      ::close(fd);
      ::unlink(tmp.c_str());
      return s;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    Status s = Status::IOError(Errno("flush " + tmp));
    ::unlink(tmp.c_str());
    return s;
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    Status s = Status::IOError(Errno("rename " + tmp + " to " + path));
    ::unlink(tmp.c_str());
    return s;
  }
  return Status::Ok();
}

}  // namespace zv::jobdoc::internal
