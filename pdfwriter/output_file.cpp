#include "pdfwriter/output_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

namespace zv::pdf {

namespace {

constexpr size_t kBufferSize = 256 * 1024;

bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

}  // namespace

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Open(const std::string& path) {
  Discard();
  dest_ = path;
  written_ = 0;
  buf_.clear();
  good_ = false;
  if (path.empty() || path.back() == '/') return;
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // Written in a private folder beside the target and renamed at the end: the rename stays on one
  // file system, and no half-written file ever shows in the target folder.
  std::string pattern = folder + "/.quorvel-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return;
  dir_ = pattern;
  temp_ = dir_ + "/" + name;
  fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    ::rmdir(dir_.c_str());
    dir_.clear();
    temp_.clear();
    return;
  }
  buf_.reserve(kBufferSize);
  good_ = true;
}

void OutputFile::Write(const char* data, size_t n) {
  if (!good_) return;
  if (buf_.size() + n > kBufferSize) {
    if (!Flush()) return;
    if (n >= kBufferSize) {
      if (!WriteAll(fd_, data, n)) {
        good_ = false;
        return;
      }
      written_ += n;
      return;
    }
  }
  buf_.append(data, n);
}

void OutputFile::Int(long long v) {
  char tmp[24];
  auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
  Write(tmp, static_cast<size_t>(r.ptr - tmp));
}

uint64_t OutputFile::CopyFrom(int fd) {
  if (!good_ || !Flush()) return 0;
  uint64_t copied = 0;
  char chunk[64 * 1024];
  off_t at = 0;
  for (;;) {
    ssize_t n = ::pread(fd, chunk, sizeof chunk, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (!WriteAll(fd_, chunk, static_cast<size_t>(n))) {
      good_ = false;
      break;
    }
    at += n;
    written_ += static_cast<uint64_t>(n);
    copied += static_cast<uint64_t>(n);
  }
  return copied;
}

bool OutputFile::Flush() {
  if (!good_) return false;
  if (!buf_.empty()) {
    if (!WriteAll(fd_, buf_.data(), buf_.size())) {
      good_ = false;
      return false;
    }
    written_ += buf_.size();
    buf_.clear();
  }
  return true;
}

bool OutputFile::Commit() {
  bool ok = Flush();
  if (fd_ >= 0) {
    if (::close(fd_) != 0) ok = false;
    fd_ = -1;
  }
  if (ok && !temp_.empty() && ::rename(temp_.c_str(), dest_.c_str()) == 0) {
    temp_.clear();
  } else {
    ok = false;
  }
  Discard();
  return ok;
}

void OutputFile::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  if (!dir_.empty()) ::rmdir(dir_.c_str());
  temp_.clear();
  dir_.clear();
  good_ = false;
  buf_.clear();
  buf_.shrink_to_fit();
}

}  // namespace zv::pdf
