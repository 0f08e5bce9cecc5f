// One machine set up as it is deployed, inside a test's folder: the system installed with
// `cmake --install` into a prefix there, a scheduler on the distribution's packaged
// configuration (job files root-only, backends run as root), an account database of the
// test's own through nss_wrapper (root, lp, the group "zelvora" and client users with homes
// they own), and the role set-up script run for the server and client roles with every path
// pointed into the folder. Users' programs run as those users with a clean environment.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/backend/testing/virtual_printer.h"
#include "platform/base/status.h"
#include "platform/process/process.h"
#include "platform/testing/small_fs.h"

namespace zv::deploy::testing {

// A client user of the test's account database.
struct Account {
  std::string name;
  uid_t uid = 0;
  std::string home;  // filled in by the machine: <dir>/home/<name>
  bool member = true;  // of the group "zelvora"
};

// Where and as what a machine is set up: the roles' options (the installer's), and the
// command prefix that runs its programs inside a machine box of its own (empty: on this
// machine).
struct MachineOptions {
  std::vector<std::string> roles = {"--server", "--client"};
  std::vector<std::string> role_options;
  std::vector<std::string> enter;
  // When set ("8m"), the share lies on a tmpfs of that size of its own, mounted before the
  // set-up in a mount namespace of the test process (made then: every program of the
  // machine starts inside it, and the machine's own mounts stay as they are). Root only.
  std::string share_size;
};

// Takes a path and a limit; gives the last `limit` bytes of the file (empty when unreadable).
std::string FileTail(const std::string& path, std::size_t limit = 4000);

// Takes start options whose output goes to a file, and a time limit; runs the program to its
// end (killed when it outlasts the limit). Gives its exit code (-1 when it did not start or
// end in time) and in `output`, when given, the end of its output (at most 1 MiB) or why it
// did not start.
int RunToEnd(const process::StartOptions& options, int timeout_ms, std::string* output);

class DeployedMachine {
 public:
  // Gives what this machine lacks to run one (empty when it can): root, cupsd, nss_wrapper,
  // setpriv.
  static std::string Missing();
  // Takes the build folder, the source tree, the client users and extra options of the
  // server role (`--dsn DSN`, say); installs and sets up the roles. Gives null with `error`
  // set (and the logs) on failure; what was started is stopped. The engine prints on the
  // test's folder printers unless the options name a spooler (`--spooler cups`: the
  // scheduler's queues, the set-up's own default).
  static std::unique_ptr<DeployedMachine> Install(const std::string& build_dir, const std::string& source_dir,
                                                  std::vector<Account> users, std::string* error,
                                                  std::vector<std::string> server_options = {});
  // The same with the roles, their options and the box given (see MachineOptions).
  static std::unique_ptr<DeployedMachine> Install(const std::string& build_dir, const std::string& source_dir,
                                                  std::vector<Account> users, std::string* error,
                                                  const MachineOptions& options);
  // Stops everything (Shutdown) and removes the folder unless ZELVORA_KEEP_TEST_ROOT is set.
  ~DeployedMachine();
  DeployedMachine(const DeployedMachine&) = delete;
  DeployedMachine& operator=(const DeployedMachine&) = delete;

  // Ends the users' sessions (every process of their ids), removes the roles (which stops
  // the engine's service) and stops the scheduler. Gives the role removal's exit code.
  int Shutdown();
  // How the system is taken off the machine.
  enum class Removal {
    kScript,   // the source tree's set-up script, as an administrator removes a system
               // installed from the sources: --remove, or --remove --purge
    kPackage,  // as the package manager removes the package: the installed set-up script's
               // --remove (the package's prerm); purged, then the package's files deleted and
               // its postrm run for "remove" and "purge", written as the package build writes it
  };
  // Takes the road, whether to purge (the runtime root, the installed tree and the
  // scheduler's job-owner block go too) and where to put the output; removes the roles while
  // the users' sessions still run, so the removal itself must end their programs. The
  // scheduler keeps running. Gives the first failing step's exit code (0 when all passed).
  int Remove(Removal road, bool purge, std::string* output);
  // Remove(kScript, purge) followed by the end of whatever of the users' sessions is left.
  int Purge(std::string* output);

  const std::string& dir() const { return dir_; }
  std::string prefix() const { return dir_ + "/prefix"; }
  std::string server_root() const { return dir_ + "/server"; }
  std::string share() const { return server_root() + "/app/share"; }
  std::string result() const { return share() + "/Result"; }
  std::string autostart() const { return dir_ + "/autostart"; }
  std::string printers() const { return server_root() + "/printers"; }
  const capture::testing::VirtualPrinter& scheduler() const { return *cupsd_; }
  const std::vector<Account>& users() const { return users_; }
  const Account& user(const std::string& name) const;

  // The environment the account database needs (LD_PRELOAD and NSS_WRAPPER_*).
  std::vector<std::string> AccountEnv() const;
  // Takes a user; gives the clean environment of that user's programs: HOME, USER, the
  // account database, XDG_RUNTIME_DIR in the home, QT_QPA_PLATFORM offscreen, CUPS_SERVER.
  std::vector<std::string> UserEnv(const Account& who) const;
  // Takes a user (null: root with the account database), a program with its arguments, a
  // time limit; runs it, as that user through setpriv with only UserEnv, and gives its exit
  // code (-1 when it did not run or end in time) with its output in `output` when given.
  int Run(const Account* who, const std::vector<std::string>& argv, std::string* output = nullptr,
          int timeout_ms = 180000) const;
  // Takes a user; starts the user's session as the autostart entry says (its Exec line, as
  // that user). Gives an error when the entry is missing or the program does not start.
  Status StartSession(const Account& who);
  // Takes a user, a program with its arguments and extra "NAME=value" entries of its
  // environment; starts it as that user with UserEnv and the extras (they win), its output
  // in log/<log_name>.out. The caller waits for it or stops it.
  Result<process::Process> StartAs(const Account& who, const std::vector<std::string>& argv,
                                   const std::vector<std::string>& extra_env, const std::string& log_name) const;
  // Ends every process of the client users (sessions and what they started).
  void EndSessions();

  // Gives the end of the scheduler's, the installer's and the sessions' logs, for failure texts.
  std::string Logs() const;
  // Gives the account database's lines (passwd(5), group(5)), for a box's own /etc.
  std::string PasswdLines() const;
  std::string GroupLines() const;

 private:
  DeployedMachine() = default;
  // Writes the account database and makes the users' homes.
  Status WriteAccounts();
  // Gives the role set-up script: the installed one, else the source tree's.
  std::string Installer() const;
  // Takes the roles' options (--server --client, --remove); gives the script's command line
  // with every path pointed into the test's folder.
  std::vector<std::string> InstallCommand(const std::vector<std::string>& roles) const;
  std::vector<std::string> InstallCommand(const std::string& installer, const std::vector<std::string>& roles) const;
  std::string dir_;
  std::string build_dir_, source_dir_;
  std::vector<Account> users_;
  std::vector<std::string> enter_, roles_given_;
  std::unique_ptr<capture::testing::VirtualPrinter> cupsd_;
  zv::testing::SmallFileSystem share_fs_;  // the share's own file system (MachineOptions::share_size)
  std::vector<process::Process> sessions_;
  bool roles_ = false;
  mutable int runs_ = 0;
};

}  // namespace zv::deploy::testing
