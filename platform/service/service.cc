#include "platform/service/service.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/base/root.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"
#include "platform/process/process.h"
#include "platform/profile/profile.h"
#include "platform/shm/owner.h"
#include "platform/sync/event.h"

namespace zv::service {
namespace {

constexpr const char* kNameEnv = "ZELVORA_SERVICE_NAME";

Status CheckText(std::string_view what, std::string_view s, bool allow_empty) {
  if (!allow_empty && s.empty()) return Status::InvalidArgument(std::string(what) + " is empty");
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7f) return Status::InvalidArgument(std::string(what) + " holds a control character");
  }
  return Status::Ok();
}

Status CheckName(std::string_view name) {
  if (name.size() > 256) return Status::InvalidArgument("service name longer than 256 bytes");
  return CheckText("service name", name, false);
}

Result<std::string> ServicesFolder() { return paths::RootFolder("services", 0700); }

Result<std::string> FilePath(std::string_view name, const char* ext) {
  if (Status s = CheckName(name); !s.ok()) return s;
  auto dir = ServicesFolder();
  if (!dir.ok()) return dir.status();
  return *dir + "/" + paths::SafeFileName(name) + ext;
}

Result<fs::FileLock> LockService(std::string_view name) {
  auto p = FilePath(name, ".lock");
  if (!p.ok()) return p.status();
  return fs::FileLock::Acquire(*p);
}

uint64_t ToU64(const std::optional<std::string>& s) {
  uint64_t v = 0;
  if (s) std::from_chars(s->data(), s->data() + s->size(), v);
  return v;
}

struct StateRecord {
  ServiceStatus status;
  uint64_t start_time = 0;
};

// The service's lock, held, with its state file and the state read under the lock.
struct LockedState {
  fs::FileLock lock;
  std::string path;
  StateRecord rec;
};
StateRecord ReadState(const std::string& path) {
  StateRecord r;
  auto doc = profile::Load(path);
  if (!doc.ok()) return r;  // no state yet: stopped
  uint64_t st = ToU64(doc->Get("Status", "State"));
  if (st >= 1 && st <= 4) r.status.state = static_cast<State>(st);
  r.status.check_point = static_cast<uint32_t>(ToU64(doc->Get("Status", "CheckPoint")));
  r.status.wait_hint_ms = static_cast<uint32_t>(ToU64(doc->Get("Status", "WaitHint")));
  auto code = doc->Get("Status", "ExitCode");
  if (code) std::from_chars(code->data(), code->data() + code->size(), r.status.exit_code);
  r.status.pid = static_cast<pid_t>(ToU64(doc->Get("Status", "Pid")));
  r.start_time = ToU64(doc->Get("Status", "StartTime"));
  return r;
}

Status WriteState(const std::string& path, const StateRecord& r) {
  profile::IniDocument doc;
  Status s = doc.ReplaceSection("Status", {{"State", std::to_string(static_cast<uint32_t>(r.status.state))},
                                           {"StateName", StateName(r.status.state)},
                                           {"CheckPoint", std::to_string(r.status.check_point)},
                                           {"WaitHint", std::to_string(r.status.wait_hint_ms)},
                                           {"ExitCode", std::to_string(r.status.exit_code)},
                                           {"Pid", std::to_string(r.status.pid)},
                                           {"StartTime", std::to_string(r.start_time)}});
  if (!s.ok()) return s;
  return fs::WriteFileAtomic(path, doc.Serialize(profile::LineEnd::kLf), 0600);
}

Result<LockedState> LockState(std::string_view name) {
  auto lock = LockService(name);
  if (!lock.ok()) return lock.status();
  auto path = FilePath(name, ".state");
  if (!path.ok()) return path.status();
  StateRecord rec = ReadState(*path);
  return LockedState{std::move(*lock), *path, rec};
}

// The start time is checked with the pid: a pid reused by another process after the service
// died must not make it look alive.
bool Alive(const StateRecord& r) {
  return r.status.pid > 0 && shm::IsAlive({static_cast<uint32_t>(r.status.pid), r.start_time});
}

// The state as the manager reports it: a service whose process is gone is stopped.
ServiceStatus Effective(const StateRecord& r) {
  ServiceStatus s = r.status;
  if (!Alive(r)) {
    if (s.state != State::kStopped) s.exit_code = kExitProcessAborted;
    s.state = State::kStopped;
    s.check_point = s.wait_hint_ms = 0;
    s.pid = 0;
  }
  return s;
}

// Systemd's escaping of unit names: [A-Za-z0-9:_.] stay (a leading "." does not), all
// else becomes \xNN.
std::string UnitName(std::string_view name) {
  static const char* hex = "0123456789abcdef";
  std::string out = "zelvora-";
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ':' || c == '_' ||
                (c == '.' && i > 0);
    if (keep) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out + ".service";
}

// One word of a unit file command line or assignment, quoted for systemd.
std::string UnitQuote(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    // systemd expands "$" and "%" inside unit values; doubled, they stay literal.
    if (c == '$') out += '$';
    if (c == '%') out += '%';
    out += c;
  }
  return out + "\"";
}

std::string UnitText(const ServiceConfig& c) {
  std::string exec = UnitQuote(c.program);
  for (const auto& a : c.args) exec += " " + UnitQuote(a);
  std::string desc;
  for (char ch : c.display_name.empty() ? c.name : c.display_name) {
    if (ch == '%') desc += '%';
    desc += ch;
  }
  return "[Unit]\nDescription=" + desc +
         "\n\n[Service]\nType=simple\n"
         "Environment=" +
         UnitQuote("ZELVORA_ROOT=" + RuntimeRoot()) + "\n" +
         "Environment=" + UnitQuote(std::string(kNameEnv) + "=" + c.name) + "\n" + "ExecStart=" + exec +
         "\nKillMode=mixed\nTimeoutStopSec=30\n\n[Install]\nWantedBy=multi-user.target\n";
}

std::string DefaultUnitDir() {
  if (const char* d = std::getenv("ZELVORA_SYSTEMD_UNIT_DIR"); d && *d) return d;
  if (::geteuid() == 0) return "/etc/systemd/system";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.config/systemd/user";
}

// True when systemd runs as the machine's init (it makes /run/systemd/system).
bool SystemdRuns() {
  struct stat st;
  return ::stat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

bool DefaultWriteUnits() {
  if (const char* d = std::getenv("ZELVORA_SYSTEMD_UNIT_DIR"); d && *d) return true;
  return SystemdRuns();
}

// The folder of unit files that systemd itself loads for the administrator; units written
// anywhere else (a test's folder) are never started through systemd.
constexpr const char* kSystemUnitDir = "/etc/systemd/system";

// Takes systemctl's arguments and a file for its output; runs it and gives its output, or
// IOError when it cannot run or fails.
Result<std::string> Systemctl(const std::vector<std::string>& args, const std::string& out_file) {
  process::StartOptions o;
  o.argv = {"systemctl"};
  o.argv.insert(o.argv.end(), args.begin(), args.end());
  o.output_file = out_file;
  ::unlink(out_file.c_str());
  auto p = process::Start(o);
  if (!p.ok()) return p.status();
  auto code = p->Wait(120000);
  auto out = fs::ReadFile(out_file, 1 << 20);
  ::unlink(out_file.c_str());
  if (!code.ok()) return code.status();
  if (*code != 0) return Status::IOError("systemctl " + args[0] + " failed: " + (out.ok() ? *out : std::string()));
  return out.ok() ? *out : std::string();
}

}  // namespace

const char* StateName(State s) {
  switch (s) {
    case State::kStopped:
      return "stopped";
    case State::kStartPending:
      return "start pending";
    case State::kStopPending:
      return "stop pending";
    case State::kRunning:
      return "running";
  }
  return "stopped";
}

Manager::Manager(Options options)
    : unit_dir_(options.unit_dir.empty() ? DefaultUnitDir() : options.unit_dir),
      write_units_(options.write_units.value_or(!options.unit_dir.empty() || DefaultWriteUnits())) {}

std::string Manager::UnitPath(std::string_view name) const { return unit_dir_ + "/" + UnitName(name); }

Status Manager::Install(const ServiceConfig& c) {
  if (Status s = CheckName(c.name); !s.ok()) return s;
  if (Status s = CheckText("display name", c.display_name, true); !s.ok()) return s;
  if (Status s = CheckText("program", c.program, false); !s.ok()) return s;
  if (c.program[0] != '/') return Status::InvalidArgument("service program is not an absolute path: " + c.program);
  for (const auto& a : c.args) {
    if (Status s = CheckText("service argument", a, true); !s.ok()) return s;
  }
  auto lock = LockService(c.name);
  if (!lock.ok()) return lock.status();
  auto path = FilePath(c.name, ".svc");
  if (!path.ok()) return path.status();
  if (std::filesystem::exists(*path)) return Status::InvalidArgument("service already installed: " + c.name);
  // Values are written in quotes, so that blanks at their ends survive the INI reading.
  profile::KeyValues kv = {{"Name", "\"" + c.name + "\""},
                           {"DisplayName", "\"" + c.display_name + "\""},
                           {"Program", "\"" + c.program + "\""},
                           {"ArgCount", std::to_string(c.args.size())}};
  for (size_t i = 0; i < c.args.size(); ++i) kv.emplace_back("Arg" + std::to_string(i), "\"" + c.args[i] + "\"");
  profile::IniDocument doc;
  if (Status s = doc.ReplaceSection("Service", kv); !s.ok()) return s;
  if (write_units_) {
    if (Status s = fs::MakeDirs(unit_dir_); !s.ok()) return s;
    if (Status s = fs::WriteFileAtomic(UnitPath(c.name), UnitText(c), 0644); !s.ok()) return s;
  }
  return fs::WriteFileAtomic(*path, doc.Serialize(profile::LineEnd::kLf), 0600);
}

Result<ServiceConfig> Manager::Config(std::string_view name) const {
  auto path = FilePath(name, ".svc");
  if (!path.ok()) return path.status();
  auto doc = profile::Load(*path);
  if (!doc.ok()) {
    if (doc.status().code() == Status::Code::kNotFound)
      return Status::NotFound("service not installed: " + std::string(name));
    return doc.status();
  }
  ServiceConfig c;
  auto n = doc->Get("Service", "Name");
  auto prog = doc->Get("Service", "Program");
  auto count = doc->Get("Service", "ArgCount");
  if (!n || !prog || !count) return Status::Corruption("damaged service record: " + *path);
  c.name = *n;
  c.display_name = doc->Get("Service", "DisplayName").value_or("");
  c.program = *prog;
  uint64_t argc = ToU64(count);
  if (argc > 4096) return Status::Corruption("damaged service record: " + *path);
  for (uint64_t i = 0; i < argc; ++i) {
    auto a = doc->Get("Service", "Arg" + std::to_string(i));
    if (!a) return Status::Corruption("damaged service record: " + *path);
    c.args.push_back(*a);
  }
  return c;
}

Result<std::vector<std::string>> Manager::List() const {
  auto dir = ServicesFolder();
  if (!dir.ok()) return dir.status();
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(*dir, ec)) {
    if (e.path().extension() != ".svc") continue;
    auto doc = profile::Load(e.path().string());
    if (!doc.ok()) continue;
    if (auto n = doc->Get("Service", "Name")) out.push_back(*n);
  }
  if (ec) return Status::IOError("list services: " + ec.message());
  std::sort(out.begin(), out.end());
  return out;
}

Status Manager::Remove(std::string_view name) {
  auto lock = LockService(name);
  if (!lock.ok()) return lock.status();
  auto svc = FilePath(name, ".svc");
  auto state = FilePath(name, ".state");
  if (!svc.ok()) return svc.status();
  if (!std::filesystem::exists(*svc)) return Status::NotFound("service not installed: " + std::string(name));
  if (Alive(ReadState(*state))) return Status::Busy("service still runs: " + std::string(name));
  std::error_code ec;
  std::filesystem::remove(*state, ec);
  std::filesystem::remove(UnitPath(name), ec);
  if (!std::filesystem::remove(*svc, ec) || ec) return Status::IOError("remove " + *svc);
  return Status::Ok();
}

Status Manager::Start(std::string_view name, const std::vector<std::string>& extra_args) {
  auto config = Config(name);
  if (!config.ok()) return config.status();
  auto locked = LockState(name);
  if (!locked.ok()) return locked.status();
  const std::string& state_path = locked->path;
  if (Alive(locked->rec)) return Status::Busy("service already runs: " + std::string(name));
  auto log_dir = paths::RootFolder("log", 0700);
  if (!log_dir.ok()) return log_dir.status();
  // Where systemd runs and loads the service's unit, systemd starts it (and so stops it at
  // shutdown and restarts it at boot); the service reports its own states as it would here.
  std::error_code exists_ec;
  if (write_units_ && SystemdRuns() && unit_dir_ == kSystemUnitDir &&
      std::filesystem::exists(UnitPath(name), exists_ec)) {
    std::string unit = UnitPath(name).substr(unit_dir_.size() + 1);
    std::string out = *log_dir + "/" + paths::SafeFileName(name) + ".systemctl";
    if (auto r = Systemctl({"daemon-reload"}, out); !r.ok()) return r.status();
    if (auto r = Systemctl({"start", unit}, out); !r.ok()) return r.status();
    auto pid = Systemctl({"show", "--property=MainPID", "--value", unit}, out);
    StateRecord started;
    started.status.state = State::kStartPending;
    started.status.wait_hint_ms = 30000;
    started.status.pid = pid.ok() ? static_cast<pid_t>(std::atoi(pid->c_str())) : 0;
    if (started.status.pid > 0) started.start_time = shm::ProcessStartTime(started.status.pid);
    return WriteState(state_path, started);
  }
  process::StartOptions o;
  o.argv.push_back(config->program);
  o.argv.insert(o.argv.end(), config->args.begin(), config->args.end());
  o.argv.insert(o.argv.end(), extra_args.begin(), extra_args.end());
  o.env = {std::string(kNameEnv) + "=" + config->name, "ZELVORA_ROOT=" + RuntimeRoot()};
  o.detached = true;
  o.output_file = *log_dir + "/" + paths::SafeFileName(name) + ".out";
  auto p = process::Start(o);
  if (!p.ok()) return p.status();
  StateRecord started;
  started.status.state = State::kStartPending;
  started.status.wait_hint_ms = 30000;
  started.status.pid = p->pid();
  started.start_time = shm::ProcessStartTime(p->pid());
  // The service's own first report waits for our lock, so it never comes before this one.
  return WriteState(state_path, started);
}

Status Manager::RequestStop(std::string_view name) {
  if (auto config = Config(name); !config.ok()) return config.status();
  auto locked = LockState(name);
  if (!locked.ok()) return locked.status();
  const std::string& state_path = locked->path;
  StateRecord& rec = locked->rec;
  if (!Alive(rec)) return Status::InvalidArgument("service does not run: " + std::string(name));
  if (::kill(rec.status.pid, SIGTERM) != 0 && errno != ESRCH) {
    return Status::IOError(fs::ErrnoText("stop service " + std::string(name), errno));
  }
  if (rec.status.state == State::kRunning || rec.status.state == State::kStartPending) {
    rec.status.state = State::kStopPending;
    rec.status.check_point = 0;
    rec.status.wait_hint_ms = 30000;
    return WriteState(state_path, rec);
  }
  return Status::Ok();
}

Result<ServiceStatus> Manager::Stop(std::string_view name, int timeout_ms) {
  auto before = Query(name);
  if (!before.ok()) return before.status();
  if (before->state == State::kStopped) return *before;
  pid_t pid = before->pid;
  // Watch the process before asking it to end, so that its end cannot be missed.
  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  Status s = RequestStop(name);
  if (!s.ok() && s.code() != Status::Code::kInvalidArgument) {
    if (pidfd >= 0) ::close(pidfd);
    return s;
  }
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    int r;
    do {
      r = ::poll(&p, 1, timeout_ms);
    } while (r < 0 && errno == EINTR);
    ::close(pidfd);
  }
  auto after = Query(name);
  if (!after.ok()) return after.status();
  if (after->state != State::kStopped) return Status::Timeout("service still runs: " + std::string(name));
  return *after;
}

Result<ServiceStatus> Manager::Query(std::string_view name) const {
  auto svc = FilePath(name, ".svc");
  if (!svc.ok()) return svc.status();
  if (!std::filesystem::exists(*svc)) return Status::NotFound("service not installed: " + std::string(name));
  return Effective(ReadState(FilePath(name, ".state").value()));
}

Status ServiceContext::ReportStatus(State state, uint32_t check_point, uint32_t wait_hint_ms, int exit_code) {
  auto lock = LockService(name_);
  if (!lock.ok()) return lock.status();
  auto path = FilePath(name_, ".state");
  if (!path.ok()) return path.status();
  StateRecord r;
  r.status = {state, check_point, wait_hint_ms, exit_code, ::getpid()};
  r.start_time = shm::ProcessStartTime(::getpid());
  Status s = WriteState(*path, r);
  if (s.ok()) last_ = state;
  return s;
}

std::optional<std::string> StartedAsService() {
  const char* n = std::getenv(kNameEnv);
  if (!n || !*n) return std::nullopt;
  return std::string(n);
}

Status RunService(std::string_view name, int argc, char** argv, const ServiceMain& main,
                  const ControlHandler& handler) {
  auto started = StartedAsService();
  if (!started || *started != name) {
    return Status::NotSupported("not started by the service manager as " + std::string(name));
  }
  sigset_t controls, old;
  sigemptyset(&controls);
  sigaddset(&controls, SIGTERM);
  sigaddset(&controls, SIGINT);
  sigaddset(&controls, SIGPWR);
  // Blocked before the worker starts, so it inherits the mask and the controls reach only the
  // signalfd below, never a thread that would take the default action.
  pthread_sigmask(SIG_BLOCK, &controls, &old);
  int sfd = ::signalfd(-1, &controls, SFD_CLOEXEC | SFD_NONBLOCK);
  if (sfd < 0) {
    int e = errno;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return Status::IOError(fs::ErrnoText("signalfd", e));
  }
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  ServiceContext ctx{std::string(name), std::move(args)};
  sync::Event done;
  std::thread worker([&] {
    main(ctx);
    done.Set();
  });
  for (;;) {
    pollfd p[2] = {{sfd, POLLIN, 0}, {done.fd(), POLLIN, 0}};
    int r = ::poll(p, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (done.IsSet()) break;
    signalfd_siginfo si;
    while (::read(sfd, &si, sizeof si) == static_cast<ssize_t>(sizeof si)) {
      // SIGPWR is what an init system sends when the machine goes down: a shutdown, not a stop.
      handler(ctx, si.ssi_signo == SIGPWR ? Control::kShutdown : Control::kStop);
    }
  }
  worker.join();
  ::close(sfd);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (ctx.last_state() != State::kStopped) return ctx.ReportStatus(State::kStopped);
  return Status::Ok();
}

}  // namespace zv::service
