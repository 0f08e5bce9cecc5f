// The client's configuration: the machine key's folder names and server, the user and
// machine names, and the paths formed from them (local spool folder, the server's request,
// jobs and result folders reached through the path mapping).
#pragma once

#include <string>

#include "platform/base/status.h"

namespace zv::client {

// The machine key the client reads and writes.
inline constexpr char kMachineKey[] = "Software\\Orbelin\\Zelvora\\1.0";
// The text the server field shows for local printing; wherever it is read it means "no server".
inline constexpr char kLocalPrintingText[] = "［ローカル印刷］";

// Takes a server name as typed or stored ("SRV", "\\SRV", "\\\\SRV\\", the local-printing
// text, blanks around); gives "\\SRV", or "" for no server.
std::string NormaliseServerName(std::string_view name);

struct ClientConfig {
  std::string app_path;             // the program folder (local path)
  std::string spool_dir = "Spool";  // below app_path
  std::string server_name;          // "\\SRV" or empty (local printing)
  std::string share_name;
  std::string print_info_dir = "PrintInfo";
  std::string jobs_dir = "Jobs";
  std::string result_dir = "Result";
  std::string account;  // the user name of the requests
  std::string machine;  // the computer name of the requests
  // "AcceptAnswersWithoutKey" of the machine key (REG_DWORD, default 0): set to 1 where the
  // server's engine is one that echoes no request key in its answers, so that the client
  // and the job monitor read an answer without one. An answer carrying another request's
  // key is never read.
  bool accept_keyless_answers = false;

  bool has_server() const { return !server_name.empty(); }
  // Gives the local spool folder (app_path/spool_dir).
  std::string SpoolFolder() const;
  // Gives the local path of a folder of the server's share (ServerName\ShareName\dir),
  // or InvalidArgument when there is no server or a name is not plain.
  Result<std::string> ServerFolder(const std::string& dir) const;
  Result<std::string> RequestFolder() const { return ServerFolder(print_info_dir); }
  Result<std::string> JobsFolder() const { return ServerFolder(jobs_dir); }
  Result<std::string> ResultFolder() const { return ServerFolder(result_dir); }
};

// Reads the machine key ("AppPath", "SpoolDir", "ServerName", "ShareName", "PrintInfoDir",
// "JobsDir", "ResultDir", "AcceptAnswersWithoutKey"; a missing or empty folder name keeps its default) and the user and
// machine names of this process (login name, host name). The machine key is the root's own
// laid over the machine-wide settings, so a user whose root holds nothing yet sees the
// server the installer joined. Without a stored "AppPath" the program folder is
// DefaultAppPath() (created when missing). NotFound when the key is missing.
Result<ClientConfig> LoadClientConfig();

// The machine key's value that lets answers without a request key be read.
inline constexpr char kAcceptKeylessValue[] = "AcceptAnswersWithoutKey";

// Gives the client's own data folder of this runtime root: $ZELVORA_ROOT/app, absolute.
std::string DefaultAppPath();

// Joins this client's root to a server: links $ZELVORA_ROOT/net/<server>/<share> to the
// server's share folder (a local path) and writes the machine key's "ServerName"
// ("\\<server>"), "ShareName", the three folder names and "AppPath" (the client's program
// folder, made absolute and created). InvalidArgument for names that are not plain; IOError
// when the link or the key cannot be made.
Status JoinServer(const std::string& share_folder, const std::string& server, const std::string& share,
                  const std::string& app_path);

// Joins every user of this machine to a server (the installer, as root): links
// <system folder>/net/<server>/<share> to the server's share folder (on a network, the mount
// point of the share) and writes "ServerName" ("\\<server>"), "ShareName" and the four
// folder names into the machine-wide hive; no "AppPath" (each user's is in the user's root).
// Each user's programs then find the server without a step of their own. InvalidArgument for
// names that are not plain or when no system folder is known; IOError when the link or the
// hive cannot be written.
Status JoinServerMachineWide(const std::string& share_folder, const std::string& server, const std::string& share);

// Gives the login name of this process (from the account database, else $USER) and the
// host name, each cut to 49 bytes.
std::string CurrentUserName();
std::string CurrentMachineName();

}  // namespace zv::client
