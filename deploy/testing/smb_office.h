// An office of several machines on this one: a server machine and client machines, each a
// MachineBox (network, mount and UTS namespaces, its own /etc) joined to the server by a
// link of its own. The server runs the installed server role (the engine under its service
// host, printing on the folder printer "Office"), its database (the embedded one, or a
// PostgreSQL of its own listening on the server's address only) and Samba's smbd, which
// serves the share on the server's addresses only with the section the installer wrote.
// Each client machine has the installed client role on a scheduler of its own and users
// whose numbers differ from the server's; each user mounts the share with smbnetfs under a
// Samba login of their own and joins the client to it, as the README says. Accounts exist
// on the server under the same names; a non-member has a login but is not in "zelvora".
//
// Everything lives in one temporary folder (and the machines' own ones); the office stops
// what it started by process id, and its namespaces end with their holders.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "deploy/testing/deployed_machine.h"
#include "deploy/testing/machine_box.h"
#include "platform/base/status.h"
#include "platform/process/process.h"

namespace zv::deploy::testing {

// One client machine: its host name and its users (their numbers are this machine's).
struct ClientMachineSpec {
  std::string hostname;
  std::vector<Account> users;
};

struct OfficeOptions {
  std::string server_name = "zvsrv";
  std::vector<ClientMachineSpec> clients;
  // The database: a PostgreSQL of the server's own instead of the embedded SQLite.
  bool postgres = false;
  // First number of the server's accounts (one a name, in the order the clients name them).
  uid_t server_uid_base = 5100;
};

class SmbOffice {
 public:
  // Gives what this machine lacks to run an office (empty when it can).
  static std::string Missing();
  // Takes the build folder, the source tree and the office's shape; sets it all up, every
  // user mounted, joined and with AutoPrint on, every member in the database (a page limit
  // of 100) and the printer "Office" managed. Gives null with `error` set (and the logs).
  static std::unique_ptr<SmbOffice> Start(const std::string& build_dir, const std::string& source_dir,
                                          const OfficeOptions& options, std::string* error);
  // Stops everything it started (sessions, mounts, roles, smbd, the database, the boxes)
  // and removes its folders unless ZELVORA_KEEP_TEST_ROOT is set.
  ~SmbOffice();
  SmbOffice(const SmbOffice&) = delete;
  SmbOffice& operator=(const SmbOffice&) = delete;

  DeployedMachine& server() { return *server_; }
  const MachineBox& server_box() const { return *server_box_; }
  int client_count() const { return static_cast<int>(clients_.size()); }
  DeployedMachine& client(int i) { return *clients_[i]; }
  const MachineBox& client_box(int i) const { return *client_boxes_[i]; }
  const std::string& server_name() const { return options_.server_name; }
  // The data source the test reaches the server's database through (for PostgreSQL its
  // socket folder, as the test stands outside the server's network).
  const std::string& dsn() const { return dsn_; }
  // The server's address on the link to client machine i.
  std::string ServerAddress(int i) const;
  // The share as a user of client machine i sees it through that user's mount.
  std::string ShareView(int i, const Account& who) const;
  // The user's answer file as the server holds it: <account>-<machine>.ans in Result.
  std::string AnswerOnServer(int i, const Account& who) const;
  // Takes a client machine and a user; mounts the share for that user (smbnetfs, the user's
  // own login) and waits, up to `limit`, until it shows the share's folders, or gives an error.
  Status Mount(int i, const Account& who, std::chrono::seconds limit = std::chrono::seconds(60));
  // Takes a client machine and a user; mounts the share for that user with sshfs (sshd on the
  // server's addresses, a key of the user's own, the login's number shown as the user's) at ~/sshfs, the second road a
  // share can take, and waits until it shows the share's folders. Gives the mount point, or an error.
  Result<std::string> MountSshfs(int i, const Account& who);
  // Takes a client machine; cuts its link to the server or mends it.
  Status SetLink(int i, bool up);
  // Stops smbd (by its id) and starts it again; gives once it listens again.
  Status RestartSmbd();
  // Gives the printed PDFs of the server's folder printers, sorted.
  std::vector<std::string> Printed() const;
  // Gives the end of every machine's logs, smbd's and the mounts'.
  std::string Logs() const;

 private:
  SmbOffice() = default;
  Status StartSmbd();
  Status StartPostgres(std::string* engine_dsn);
  Status StartSshd();
  // Takes a client machine, the user, the mount program, its log's name, the folder the
  // share shows as and a limit; starts the mount as the user and waits for the share.
  Status StartMount(int i, const Account& who, const std::vector<std::string>& argv, const std::string& log,
                    const std::string& view, std::chrono::seconds limit);
  void Stop();
  OfficeOptions options_;
  std::string dir_, dsn_;
  std::unique_ptr<MachineBox> server_box_;
  std::vector<std::unique_ptr<MachineBox>> client_boxes_;
  std::unique_ptr<DeployedMachine> server_;
  std::vector<std::unique_ptr<DeployedMachine>> clients_;
  process::Process smbd_, postgres_, sshd_;
  std::vector<process::Process> mounts_;
};

}  // namespace zv::deploy::testing
