#include "engine/hevrasto/request_marks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

#include "platform/fs/files.h"

namespace zv::engine {

std::string FormatMark(const RequestMark& m) {
  std::string t = "request=" + m.request + "\n";
  if (m.job) t += "job=" + std::to_string(m.job) + "\n";
  if (!m.printer.empty()) t += "printer=" + m.printer + "\n";
  if (!m.rows.empty()) t += "rows=" + m.rows + "\n";
  if (!m.answer.empty()) t += "answer=" + m.answer + "\n";
  if (!m.copy.empty()) t += "copy=" + m.copy + "\n";
  return t;
}

Result<RequestMark> ParseMark(const std::string& text) {
  RequestMark m;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    size_t eq = line.find('=');
    if (eq == std::string::npos) return Status::Corruption("not a mark line: " + line.substr(0, 40));
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "request") {
      m.request = value;
    } else if (key == "job") {
      char* end = nullptr;
      unsigned long v = value.size() <= 10 ? strtoul(value.c_str(), &end, 10) : 0;
      if (!end || *end || v == 0 || v > UINT32_MAX) return Status::Corruption("bad job id in mark");
      m.job = static_cast<std::uint32_t>(v);
    } else if (key == "printer") {
      m.printer = value;
    } else if (key == "rows") {
      m.rows = value;
    } else if (key == "answer") {
      m.answer = value;
    } else if (key == "copy") {
      m.copy = value;
    }  // other keys are passed over, so a mark with more to say still reads
  }
  if (m.request.empty()) return Status::Corruption("mark names no request");
  return m;
}

Result<std::string> RequestIdentity(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    int e = errno;
    if (e == ENOENT || e == ENOTDIR) return Status::NotFound(fs::ErrnoText("lstat " + path, e));
    return Status::IOError(fs::ErrnoText("lstat " + path, e));
  }
  // A request placed again in the slot is a new file (renamed in): a new inode, or a reused
  // one with a later change time, so the marks of the one before never pass for it.
  return std::to_string(st.st_ino) + ":" + std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec);
}

std::string StagedName(const std::string& name, const std::string& slot_base) {
  // The slot is part of it: the monitor copy's name already holds it, and two requests of
  // one account and machine never share a staged answer.
  return "." + name + ".staged-" + slot_base;
}

void PhaseStamp(const char* step, const std::string& slot) {
  static const int fd = [] {
    const char* path = std::getenv("ZELVORA_ENGINE_PHASE_LOG");
    return path ? ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600) : -1;
  }();
  if (fd < 0) return;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  std::string line = (slot.empty() ? std::string("-") : slot) + " " + step + " " +
                     std::to_string(static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec) + "\n";
  (void)!::write(fd, line.data(), line.size());
}

void CrashPoint(const char* step) {
  static const char* at = std::getenv("ZELVORA_ENGINE_CRASH_AT");
  // _exit, not exit: no destructor or buffered write may tidy up after the step, just as
  // after a kill; 86 tells the test the stop was this one.
  if (at && std::strcmp(at, step) == 0) ::_exit(86);
}

void HoldPoint(const char* step) {
  static const char* at = std::getenv("ZELVORA_ENGINE_HOLD_AT");
  static const char* file = std::getenv("ZELVORA_ENGINE_HOLD_FILE");
  if (!at || !file) return;
  bool named = false;
  for (std::string_view list = at; !named && !list.empty();) {
    size_t comma = list.find(',');
    named = list.substr(0, comma) == step;
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
  }
  if (!named) return;
  if (!fs::WriteFileAtomic(file, step).ok()) return;
  struct stat st {};
  while (::lstat(file, &st) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace zv::engine
