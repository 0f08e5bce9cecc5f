#include "platform/process/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/fs/files.h"

extern char** environ;

namespace zv::process {

std::string FindProgram(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return {};
  const char* path = std::getenv("PATH");
  std::string p = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t i = 0;
  while (i <= p.size()) {
    size_t j = p.find(':', i);
    if (j == std::string::npos) j = p.size();
    std::string dir = p.substr(i, j - i);
    if (dir.empty()) dir = ".";
    std::string cand = dir + "/" + name;
    if (::access(cand.c_str(), X_OK) == 0) return cand;
    i = j + 1;
  }
  return {};
}

namespace {

constexpr int kErrFd = 3;    // in the child: reports an exec failure (close-on-exec)
constexpr int kReadyFd = 4;  // in the child: the ready descriptor
constexpr const char* kReadyEnv = "ZELVORA_READY_FD";

int PidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

// Finds a bare program name in PATH, as the shell would, but in the parent (before fork).
std::string Resolve(const std::string& prog) {
  if (prog.find('/') != std::string::npos) return prog;
  std::string found = FindProgram(prog);
  return found.empty() ? prog : found;  // exec then fails with ENOENT
}

void WriteInt(int fd, int v) {
  while (::write(fd, &v, sizeof v) < 0 && errno == EINTR) {
  }
}

// Reads one int; false on end of file.
bool ReadInt(int fd, int* v) {
  for (;;) {
    ssize_t n = ::read(fd, v, sizeof *v);
    if (n < 0 && errno == EINTR) continue;
    return n == static_cast<ssize_t>(sizeof *v);
  }
}

// Runs in the child after fork: only async-signal-safe calls from here on.
[[noreturn]] void ExecChild(const char* prog, char* const* argv, char* const* envp, const char* dir, int err_w,
                            int ready_w, int out_fd) {
  // exec keeps the signal mask and ignored signals: the parent's (a service blocks its controls)
  // must not leak into the program.
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  for (int s = 1; s < NSIG; ++s) sigaction(s, &dfl, nullptr);
  // Move the descriptors we keep out of the way, then into their fixed places.
  // Numbers 3 and 4 may hold the very descriptors being placed there; moving them high first
  // keeps one dup2 from closing another's source.
  int e = fcntl(err_w, F_DUPFD_CLOEXEC, 100);
  int r = ready_w >= 0 ? fcntl(ready_w, F_DUPFD_CLOEXEC, 100) : -1;
  int o = out_fd >= 0 ? fcntl(out_fd, F_DUPFD_CLOEXEC, 100) : -1;
  if (e < 0 || (ready_w >= 0 && r < 0) || (out_fd >= 0 && o < 0)) _exit(127);
  if (o >= 0 && (dup2(o, 1) < 0 || dup2(o, 2) < 0)) {
    WriteInt(e, errno);
    _exit(127);
  }
  dup2(e, kErrFd);
  fcntl(kErrFd, F_SETFD, FD_CLOEXEC);
  if (r >= 0) dup2(r, kReadyFd);  // dup2 clears close-on-exec: the program keeps it
  ::syscall(SYS_close_range, r >= 0 ? kReadyFd + 1 : kReadyFd, ~0u, 0);
  if (dir && chdir(dir) != 0) {
    WriteInt(kErrFd, errno);
    _exit(127);
  }
  execve(prog, argv, envp);
  WriteInt(kErrFd, errno);
  _exit(127);
}

}  // namespace

Process::~Process() { CloseAll(); }

void Process::CloseAll() {
  if (pidfd_ >= 0) ::close(pidfd_);
  if (ready_fd_ >= 0) ::close(ready_fd_);
  pidfd_ = ready_fd_ = -1;
}

Process::Process(Process&& o) noexcept { *this = std::move(o); }

Process& Process::operator=(Process&& o) noexcept {
  if (this != &o) {
    CloseAll();
    pid_ = o.pid_;
    pidfd_ = o.pidfd_;
    ready_fd_ = o.ready_fd_;
    detached_ = o.detached_;
    ended_ = o.ended_;
    exit_code_ = o.exit_code_;
    o.pid_ = o.pidfd_ = o.ready_fd_ = -1;
  }
  return *this;
}

Result<Process> Start(const StartOptions& options) {
  if (options.argv.empty() || options.argv[0].empty()) return Status::InvalidArgument("no program to start");
  // Everything the child needs is built before fork.
  std::string prog = Resolve(options.argv[0]);
  std::vector<std::string> env_strings;
  for (char** e = environ; e && *e; ++e) env_strings.emplace_back(*e);
  auto put = [&](const std::string& kv) {
    auto eq = kv.find('=');
    std::string name = kv.substr(0, eq);
    for (auto& s : env_strings) {
      if (s.compare(0, name.size() + 1, name + "=") == 0) {
        s = kv;
        return;
      }
    }
    env_strings.push_back(kv);
  };
  for (const auto& kv : options.env) {
    if (kv.find('=') == std::string::npos || kv[0] == '=')
      return Status::InvalidArgument("bad environment entry: " + kv);
    put(kv);
  }
  if (options.ready_signal) {
    put(std::string(kReadyEnv) + "=" + std::to_string(kReadyFd));
  } else {
    // A caller that was itself started with a ready descriptor must not hand its number on:
    // the child would take whatever pipe of its own lands on that number for it.
    std::erase_if(env_strings, [](const std::string& s) {
      return s.compare(0, std::strlen(kReadyEnv) + 1, std::string(kReadyEnv) + "=") == 0;
    });
  }
  std::vector<char*> argv, envp;
  for (const auto& a : options.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  const char* dir = options.working_dir.empty() ? nullptr : options.working_dir.c_str();

  int out_fd = -1;
  if (!options.output_file.empty()) {
    out_fd = ::open(options.output_file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (out_fd < 0) return Status::IOError(fs::ErrnoText("open " + options.output_file, errno));
  }
  int err_pipe[2], ready_pipe[2] = {-1, -1}, pid_pipe[2] = {-1, -1};
  auto close_fd = [](int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  };
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) {
    close_fd(out_fd);
    return Status::IOError(fs::ErrnoText("pipe", errno));
  }
  if ((options.ready_signal && ::pipe2(ready_pipe, O_CLOEXEC) != 0) ||
      (options.detached && ::pipe2(pid_pipe, O_CLOEXEC) != 0)) {
    int e = errno;
    for (int* fd : {&err_pipe[0], &err_pipe[1], &ready_pipe[0], &ready_pipe[1], &pid_pipe[0], &pid_pipe[1], &out_fd})
      close_fd(*fd);
    return Status::IOError(fs::ErrnoText("pipe", e));
  }

  pid_t child = ::fork();
  if (child < 0) {
    int e = errno;
    for (int* fd : {&err_pipe[0], &err_pipe[1], &ready_pipe[0], &ready_pipe[1], &pid_pipe[0], &pid_pipe[1], &out_fd})
      close_fd(*fd);
    return Status::IOError(fs::ErrnoText("fork", e));
  }
  if (child == 0) {
    if (options.detached) {
      // The grandchild is handed to init: no zombie is left for the caller to reap and no
      // controlling terminal ties it to the caller's session.
      ::setsid();
      pid_t grandchild = ::fork();
      if (grandchild < 0) _exit(127);
      if (grandchild > 0) {
        WriteInt(pid_pipe[1], grandchild);
        _exit(0);
      }
    }
    ExecChild(prog.c_str(), argv.data(), envp.data(), dir, err_pipe[1], ready_pipe[1], out_fd);
  }
  close_fd(err_pipe[1]);
  close_fd(ready_pipe[1]);
  close_fd(pid_pipe[1]);
  close_fd(out_fd);

  Process p;
  p.pid_ = child;
  p.detached_ = options.detached;
  if (options.detached) {
    int gc = -1;
    bool got = ReadInt(pid_pipe[0], &gc);
    close_fd(pid_pipe[0]);
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (!got) {
      close_fd(err_pipe[0]);
      close_fd(ready_pipe[0]);
      return Status::IOError("could not start the detached program " + options.argv[0]);
    }
    p.pid_ = gc;
  }
  // The grandchild (or child) may already be gone: open its pidfd before reading the
  // exec report, while its id cannot yet be reused (a child is not reaped; a detached one
  // is checked by the report below).
  p.pidfd_ = PidfdOpen(p.pid_);
  int exec_errno = 0;
  // The pipe is close-on-exec: a successful exec ends it empty, a failed one leaves its errno.
  bool failed = ReadInt(err_pipe[0], &exec_errno);
  close_fd(err_pipe[0]);
  p.ready_fd_ = ready_pipe[0];
  if (failed) {
    if (!options.detached) {
      while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
      }
      p.ended_ = true;
    }
    return Status::NotFound(fs::ErrnoText("start " + options.argv[0], exec_errno));
  }
  return p;
}

Status Process::WaitReady(int timeout_ms) {
  if (ready_fd_ < 0) return Status::NotSupported("program was started without a ready signal");
  pollfd p{ready_fd_, POLLIN, 0};
  for (;;) {
    int r = ::poll(&p, 1, timeout_ms);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return Status::IOError(fs::ErrnoText("poll", errno));
    if (r == 0) return Status::Timeout("program not ready yet");
    break;
  }
  char c = 0;
  ssize_t n;
  do {
    n = ::read(ready_fd_, &c, 1);
  } while (n < 0 && errno == EINTR);
  ::close(ready_fd_);
  ready_fd_ = -1;
  if (n == 1) return Status::Ok();
  return Status::IOError("program ended before it was ready");
}

Result<int> Process::Wait(int timeout_ms) {
  if (pid_ <= 0) return Status::InvalidArgument("no process");
  if (ended_) return exit_code_;
  if (pidfd_ >= 0) {
    pollfd p{pidfd_, POLLIN, 0};
    for (;;) {
      int r = ::poll(&p, 1, timeout_ms);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return Status::IOError(fs::ErrnoText("poll", errno));
      if (r == 0) return Status::Timeout("program still runs");
      break;
    }
  }
  if (detached_) {
    ended_ = true;
    exit_code_ = -1;
    return exit_code_;
  }
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &status, 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return Status::IOError(fs::ErrnoText("waitpid", errno));
  ended_ = true;
  exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
  return exit_code_;
}

bool Process::Running() {
  if (pid_ <= 0 || ended_) return false;
  auto r = Wait(0);
  return !r.ok() && r.status().code() == Status::Code::kTimeout;
}

Status Process::Kill(int signal_number) {
  if (pid_ <= 0) return Status::InvalidArgument("no process");
  if (ended_) return Status::Ok();
  int r = pidfd_ >= 0 ? static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd_, signal_number, nullptr, 0))
                      : ::kill(pid_, signal_number);
  if (r != 0 && errno != ESRCH) return Status::IOError(fs::ErrnoText("kill", errno));
  return Status::Ok();
}

void SignalReady() {
  const char* v = std::getenv(kReadyEnv);
  if (!v) return;
  int fd = std::atoi(v);
  ::unsetenv(kReadyEnv);
  if (fd < 3) return;
  // Only write to it when it is the pipe we were given (not some descriptor reused since).
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) return;
  char c = 'r';
  while (::write(fd, &c, 1) < 0 && errno == EINTR) {
  }
  ::close(fd);
}

}  // namespace zv::process
