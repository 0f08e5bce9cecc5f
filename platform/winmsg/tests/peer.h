// Test helper: the window of another process, the winmsg_test_peer program (found in
// ZELVORA_TEST_BIN_DIR), started with one window of the given class and text and killed
// when the object goes.
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/testing/bin_dir.h"
#include "platform/winmsg/winmsg.h"

extern char** environ;

namespace zv::winmsg::testing {

// The window of another process: the test peer program, started with its own window.
class Peer {
 public:
  Peer(const char* cls, const char* text) {
    std::string path = zv::testing::BinPath("winmsg_test_peer");
    int fds[2];
    if (::pipe(fds) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    char* argv[] = {path.data(), const_cast<char*>(cls), const_cast<char*>(text), nullptr};
    if (posix_spawn(&pid_, path.c_str(), &fa, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(fds[1]);
    std::string line;
    char c;
    struct pollfd p {
      fds[0], POLLIN, 0
    };
    while (pid_ > 0 && ::poll(&p, 1, 10000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(fds[0]);
    unsigned h = 0;
    if (std::sscanf(line.c_str(), "ready %u", &h) == 1) hwnd_ = h;
  }
  ~Peer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  HWND hwnd() const { return hwnd_; }
  pid_t pid() const { return pid_; }
  // Waits for the peer to end; gives its exit code (-1 when it was killed).
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  HWND hwnd_ = 0;
};

}  // namespace zv::winmsg::testing
