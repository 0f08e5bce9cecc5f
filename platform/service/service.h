// The service table: what stands in for the Service Control Manager.
//
// Manager side (OpenSCManager, CreateService, DeleteService, StartService, ControlService,
// QueryServiceStatus): services are installed into $ZELVORA_ROOT/services/ as
// <name>.svc (name, display name, program, arguments); their state lives in <name>.state,
// written by the service itself as it reports (SetServiceStatus) and by the manager when
// it starts or stops one. <name> is the service name made safe by paths::SafeFileName, so
// any name stays in that folder. When systemd runs on the machine (or a unit folder is
// given), install also writes a unit file "zelvora-<name>.service" that runs the same
// program with the same root, and remove deletes it. Where systemd runs and the unit lies in
// its own folder /etc/systemd/system, start goes through systemctl (systemd then owns the
// process); a unit in any other folder is only written.
//
// Service side (StartServiceCtrlDispatcher, RegisterServiceCtrlHandler, SetServiceStatus):
// RunService runs the service's main function on a thread of its own and hands stop
// requests (SIGTERM or SIGINT, which the manager's stop sends) to the control handler on
// the calling thread.
//
// A started service runs detached from the starter (its own session; output to
// $ZELVORA_ROOT/log/<name>.out). Its state is what it last reported, except that a service
// whose process has ended counts as stopped whatever it reported (exit code 1067, "the
// process ended unexpectedly", when it had not reported stopped itself).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/status.h"

namespace zv::service {

// Service states, numbered as Windows numbers them.
enum class State : uint32_t {
  kStopped = 1,
  kStartPending = 2,
  kStopPending = 3,
  kRunning = 4,
};

// Gives "stopped", "start pending", "stop pending" or "running".
const char* StateName(State s);

enum class Control {
  kStop,      // SIGTERM or SIGINT
  kShutdown,  // SIGPWR (the machine goes down)
};

// Exit code of a service whose process ended without reporting itself stopped.
inline constexpr int kExitProcessAborted = 1067;

struct ServiceConfig {
  std::string name;               // 1 to 256 bytes, no control characters
  std::string display_name;       // no line ends
  std::string program;            // absolute path of the program
  std::vector<std::string> args;  // arguments after the program (no line ends)
};

struct ServiceStatus {
  State state = State::kStopped;
  uint32_t check_point = 0;
  uint32_t wait_hint_ms = 0;
  int exit_code = 0;
  pid_t pid = 0;  // 0 when no process runs
};

class Manager {
 public:
  struct Options {
    // Folder for systemd unit files. Empty: $ZELVORA_SYSTEMD_UNIT_DIR when set, else
    // /etc/systemd/system for root and ~/.config/systemd/user for others.
    std::string unit_dir;
    // Write unit files: by default only when systemd runs (/run/systemd/system exists)
    // or ZELVORA_SYSTEMD_UNIT_DIR is set.
    std::optional<bool> write_units;
  };

  // OpenSCManager: the service table of the current $ZELVORA_ROOT.
  Manager() : Manager(Options{}) {}
  explicit Manager(Options options);

  // CreateService: takes the configuration; records it (and writes the unit file).
  // InvalidArgument for a bad name, program or argument, or when a service of that name is
  // installed already; IOError when the files cannot be written.
  Status Install(const ServiceConfig& config);

  // DeleteService: removes the service's files. NotFound when not installed; Busy while
  // its process runs.
  Status Remove(std::string_view name);

  // Gives an installed service's configuration; NotFound when not installed, Corruption
  // when its file is damaged.
  Result<ServiceConfig> Config(std::string_view name) const;

  // Gives the names of the installed services, sorted.
  Result<std::vector<std::string>> List() const;

  // StartService: starts the program with its arguments and any extra ones, detached, and
  // records it as start pending. Busy when it runs already; NotFound when not installed
  // or the program cannot be started.
  Status Start(std::string_view name, const std::vector<std::string>& extra_args = {});

  // ControlService(stop): asks the service to end (SIGTERM) and records stop pending
  // unless the service reported its own state since. InvalidArgument when it does not run.
  Status RequestStop(std::string_view name);

  // Asks the service to end and waits up to timeout_ms for its process to end; gives the
  // final status. Ok at once when it is stopped already; Timeout when it still runs.
  Result<ServiceStatus> Stop(std::string_view name, int timeout_ms);

  // QueryServiceStatus. NotFound when not installed.
  Result<ServiceStatus> Query(std::string_view name) const;

  // Gives the unit file path that install writes for a service name (whether or not unit
  // files are written).
  std::string UnitPath(std::string_view name) const;

 private:
  std::string unit_dir_;
  bool write_units_;
};

// What the service's own code holds while it runs under RunService.
class ServiceContext {
 public:
  ServiceContext(std::string name, std::vector<std::string> args) : name_(std::move(name)), args_(std::move(args)) {}
  const std::string& name() const { return name_; }
  // The arguments after the program name.
  const std::vector<std::string>& args() const { return args_; }
  // SetServiceStatus: records the state with this process as the service's process.
  Status ReportStatus(State state, uint32_t check_point = 0, uint32_t wait_hint_ms = 0, int exit_code = 0);
  // The state last reported by this process.
  State last_state() const { return last_; }

 private:
  std::string name_;
  std::vector<std::string> args_;
  State last_ = State::kStartPending;
};

using ServiceMain = std::function<void(ServiceContext&)>;
using ControlHandler = std::function<void(ServiceContext&, Control)>;

// Gives the service name this process was started under by Manager::Start (from
// ZELVORA_SERVICE_NAME), or nothing when it was started otherwise.
std::optional<std::string> StartedAsService();

// StartServiceCtrlDispatcher: takes the service name, its main function and its control
// handler. Runs main on a new thread and, until main returns, delivers stop requests to the
// handler on the calling thread; when main returns without having reported kStopped, reports
// kStopped with exit code 0. NotSupported when this process was not started as that service
// (e.g. run from a terminal). Call it from the main thread before other threads start:
// it blocks SIGTERM, SIGINT and SIGPWR so that they arrive as controls.
Status RunService(std::string_view name, int argc, char** argv, const ServiceMain& main, const ControlHandler& handler);

}  // namespace zv::service
