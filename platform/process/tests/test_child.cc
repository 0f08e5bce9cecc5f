// A small program that the process tests start. First argument: what to do.
//   exit N          end with code N
//   ready-then-wait signal readiness, then wait until killed (or SIGTERM)
//   wait-forever    never signal readiness, wait until killed
//   report PATH     write the working folder, the variables ZV_TEST_VAR and ZELVORA_READY_FD,
//                   the count of open descriptors and the blocked-signal state into PATH,
//                   then end
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/process/process.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string mode = argv[1];
  if (mode == "exit" && argc > 2) return std::atoi(argv[2]);
  if (mode == "ready-then-wait") {
    zv::process::SignalReady();
    zv::process::SignalReady();  // a second call does nothing
    for (;;) pause();
  }
  if (mode == "wait-forever") {
    for (;;) pause();
  }
  if (mode == "report" && argc > 2) {
    FILE* f = std::fopen(argv[2], "w");
    if (!f) return 3;
    char cwd[4096];
    std::fprintf(f, "cwd=%s\n", getcwd(cwd, sizeof cwd) ? cwd : "?");
    const char* v = std::getenv("ZV_TEST_VAR");
    std::fprintf(f, "var=%s\n", v ? v : "(none)");
    const char* ready = std::getenv("ZELVORA_READY_FD");
    std::fprintf(f, "ready=%s\n", ready ? ready : "(none)");
    int fds = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
      while (dirent* e = readdir(d)) fds += e->d_name[0] != '.';
      closedir(d);
      --fds;  // the descriptor of the listing itself
    }
    std::fprintf(f, "fds=%d\n", fds - 1);  // less the report file
    sigset_t blocked;
    sigprocmask(SIG_BLOCK, nullptr, &blocked);
    std::fprintf(f, "term_blocked=%d\n", sigismember(&blocked, SIGTERM));
    std::fprintf(f, "args=%d\n", argc);
    for (int i = 3; i < argc; ++i) std::fprintf(f, "arg=%s\n", argv[i]);
    std::fclose(f);
    std::printf("to stdout\n");
    return 0;
  }
  return 2;
}
