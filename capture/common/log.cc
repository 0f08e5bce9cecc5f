#include "capture/common/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <ctime>

#include "platform/base/root.h"
#include "platform/paths/paths.h"

namespace zv::capture {

std::string CaptureLogPath() { return RuntimeRoot() + "/log/capture.log"; }

void AppendCaptureLog(std::string_view line) {
  if (!paths::RootFolder("log").ok()) return;
  int fd = ::open(CaptureLogPath().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  char stamp[32] = {};
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
  std::string text = std::string(stamp) + " [" + std::to_string(::getpid()) + "] ";
  for (char c : line) text += (c == '\n' || c == '\r') ? ' ' : c;
  text += '\n';
  ssize_t ignored = ::write(fd, text.data(), text.size());  // one write: lines stay whole
  (void)ignored;
  ::close(fd);
}

}  // namespace zv::capture
