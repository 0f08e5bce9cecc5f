// The virtual printer for end-to-end tests: a private cupsd (run as root) on a socket and a
// free port in its own temporary folder, with the "Zelvora" queues added by
// scripts/install-printer (backends, programs in a folder of the test, autostart entry).
// Jobs printed to it land in the capture root that the template names.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/process/process.h"

namespace zv::capture::testing {

// How a scheduler without queues is set up (StartScheduler).
struct SchedulerOptions {
  // The folder to make it in (created; empty: a fresh one under /tmp).
  std::string dir;
  // "NAME=value" entries for cupsd's own environment and, as SetEnv lines, for its filters
  // and backends (LD_PRELOAD, which the scheduler drops, through a wrapper around its
  // cups-exec).
  std::vector<std::string> env;
  // Start from the machine's packaged configuration (the distribution's cupsd.conf and
  // cups-files.conf: its policies, authentication and system group) with only the folders,
  // the listener and the logs moved into the test's folder; otherwise a minimal open one.
  bool packaged = false;
};

class VirtualPrinter {
 public:
  // Gives true when this machine can run one (root, cupsd and runuser present).
  static bool Available();
  // Takes the test's own folder (made readable to CUPS's user: the installed programs lie
  // in `base`/programs), the capture root template ("%h" the job owner's home) and the
  // source tree; starts cupsd and installs the queues. Gives null with `error` set on failure.
  static std::unique_ptr<VirtualPrinter> Start(const std::string& base, const std::string& capture_template,
                                               const std::string& source_dir, std::string* error);
  // Takes the options; starts a scheduler with no queues whose program folder's "backend"
  // and "filter" hold links to the system's programs (spool::testing::LinkSystemServerBin)
  // and take the test's own.
  // Gives null with `error` set on failure.
  static std::unique_ptr<VirtualPrinter> StartScheduler(const SchedulerOptions& options, std::string* error);
  ~VirtualPrinter();
  VirtualPrinter(const VirtualPrinter&) = delete;
  VirtualPrinter& operator=(const VirtualPrinter&) = delete;

  // The scheduler's folder (its socket is cups.sock, its logs under log/).
  const std::string& dir() const { return dir_; }
  // Where the install script put the resident program, the feeder and their library.
  const std::string& programs() const { return programs_; }
  pid_t pid() const { return cupsd_ ? cupsd_->pid() : -1; }
  // Takes a CUPS client's argument vector and, when given, the user to run it as; runs it
  // against this scheduler and gives its exit code (-1 when it could not run).
  int Run(std::vector<std::string> argv, const std::string& as_user = "") const;
  std::string socket() const { return dir_ + "/cups.sock"; }
  std::string cups_files() const { return dir_ + "/etc/cups-files.conf"; }
  std::string cupsd_conf() const { return dir_ + "/etc/cupsd.conf"; }
  std::string serverbin() const { return dir_ + "/serverbin"; }
  // Gives the end of the scheduler's error log and the clients' output, for failure texts.
  std::string Logs() const;

 private:
  VirtualPrinter() = default;
  std::string dir_, programs_;
  std::optional<process::Process> cupsd_;
};

}  // namespace zv::capture::testing
