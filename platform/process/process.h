// Starting programs (CreateProcess, WinExec) with an argument vector, never through a
// shell, and waiting for them: until they are ready (WaitForInputIdle), until they end,
// or killing them.
//
// Readiness: a program started with StartOptions::ready_signal finds the environment
// variable ZELVORA_READY_FD and calls SignalReady() once it can take requests (for a
// window program: once its main window exists). A program that never calls it is simply
// never "ready"; one that ends first makes WaitReady fail at once.
//
// The child gets no descriptor of the parent except standard input, output and error
// (and the ready descriptor when asked), a cleared signal mask and default signal actions.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/base/status.h"

namespace zv::process {

struct StartOptions {
  // argv[0] is the program: a path, or a bare name looked up in PATH. Not empty.
  std::vector<std::string> argv;
  // Folder to start in; empty: the caller's.
  std::string working_dir;
  // "NAME=value" entries added to (or replacing in) the caller's environment.
  std::vector<std::string> env;
  // Give the child the ready descriptor (see above).
  bool ready_signal = false;
  // Start the program outside the caller's process tree (a new session, re-parented to
  // init): it outlives the caller, and the caller does not reap it. Such a process has no
  // exit code for the caller (Wait gives -1 once it has ended). Use this for programs that
  // are started and forgotten: a child that is never waited for stays a zombie until the
  // caller ends.
  bool detached = false;
  // When not empty, standard output and error go to this file (created or appended, mode
  // 0600) instead of the caller's.
  std::string output_file;
};

class Process {
 public:
  Process() = default;
  ~Process();
  Process(Process&& o) noexcept;
  Process& operator=(Process&& o) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  bool detached() const { return detached_; }

  // Waits until the program has called SignalReady (Ok), timeout_ms passed (Timeout; the
  // program keeps running), or it ended or closed the descriptor first (IOError).
  // NotSupported when it was started without ready_signal.
  Status WaitReady(int timeout_ms);

  // Waits until the program ends or timeout_ms passes (-1: no limit). Gives its exit code,
  // or 128 + the signal number when a signal ended it, or -1 for a detached program;
  // Timeout when it still runs. Later calls give the same code again.
  Result<int> Wait(int timeout_ms);

  // True while the program runs.
  bool Running();

  // Sends a signal (default SIGKILL) to the program. Ok when it has already ended.
  Status Kill(int signal_number = 9);

 private:
  friend Result<Process> Start(const StartOptions& options);
  void CloseAll();
  pid_t pid_ = -1;
  int pidfd_ = -1;
  int ready_fd_ = -1;
  bool detached_ = false;
  bool ended_ = false;
  int exit_code_ = -1;
};

// Takes a bare program name; gives the path under which PATH finds it (as the shell would),
// or empty when it is not installed there.
std::string FindProgram(const std::string& name);

// Takes the start options; starts the program and gives its handle once exec has
// succeeded. InvalidArgument for an empty argv, NotFound when the program cannot be
// found or run (with the reason), IOError when the system refuses.
Result<Process> Start(const StartOptions& options);

// Called by a started program: tells the starter waiting in WaitReady that it is ready.
// Does nothing when the program was not started with ready_signal, or after the first call.
void SignalReady();

}  // namespace zv::process
