// The runtime root: every file the system keeps lives below it.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace zv {

// Gives $ZELVORA_ROOT when set and not empty, else ~/.local/state/zelvora, or the system
// root /var/lib/zelvora when there is no home folder or the program runs as root (root's
// programs are the machine's: the server and the installer, never a user's session). No
// trailing slash.
inline std::string RuntimeRoot() {
  if (const char* r = std::getenv("ZELVORA_ROOT"); r && *r) {
    std::string s = r;
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
  }
  if (const char* home = std::getenv("HOME"); home && *home && ::geteuid() != 0) {
    return std::string(home) + "/.local/state/zelvora";
  }
  return "/var/lib/zelvora";
}

}  // namespace zv
