#include "deploy/testing/smb_office.h"

#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "deploy/testing/road.h"
#include "platform/fs/files.h"
#include "platform/odbc/odbc.h"
#include "platform/odbc/odbc_config.h"

namespace zv::deploy::testing {
namespace {

namespace sfs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kPgBin[] = "/usr/lib/postgresql/15/bin";
constexpr int kPgPort = 5432;

std::string ReadOrEmpty(const std::string& path) { return FileTail(path, 1 << 20); }

// Takes a user's name; gives that user's Samba password (the test's own logins).
std::string Password(const std::string& name) { return "pw-" + name + "-7Q"; }

// Takes a process id and a TCP port; gives whether a socket of the process's network
// namespace listens on it (read from /proc, so from outside the namespace).
bool Listens(pid_t pid, int port) {
  char hex[8];
  std::snprintf(hex, sizeof hex, ":%04X", port);
  for (const char* table : {"/net/tcp", "/net/tcp6"}) {
    std::istringstream in(ReadOrEmpty("/proc/" + std::to_string(pid) + table));
    for (std::string line; std::getline(in, line);) {
      std::istringstream words(line);
      std::string slot, local, remote, state;
      words >> slot >> local >> remote >> state;
      if (state == "0A" && local.size() > 5 && local.compare(local.size() - 5, 5, hex) == 0) return true;
    }
  }
  return false;
}

// The [global] section of the server's smb.conf: the server's addresses only, no NetBIOS, no
// printers, SMB2 and later, every state folder inside the office's folder, logins checked
// against the server's own password database, nobody mapped to a guest.
std::string SambaGlobal(const std::string& state, const std::vector<std::string>& addresses) {
  std::string interfaces;
  for (const auto& a : addresses) interfaces += (interfaces.empty() ? "" : " ") + a + "/24";
  std::string conf = "[global]\n   server role = standalone server\n   interfaces = " + interfaces +
                     "\n   bind interfaces only = yes\n   disable netbios = yes\n   smb ports = 445\n"
                     "   load printers = no\n   printing = bsd\n   printcap name = /dev/null\n"
                     "   disable spoolss = yes\n   server min protocol = SMB2\n   passdb backend = tdbsam\n"
                     "   map to guest = never\n   log level = 1\n";
  for (const char* d :
       {"private dir", "lock directory", "state directory", "cache directory", "pid directory", "ncalrpc dir"})
    conf += std::string("   ") + d + " = " + state + "/" + std::string(d).substr(0, std::string(d).find(' ')) + "\n";
  conf += "   log file = " + state + "/log.%m\n";
  return conf;
}

}  // namespace

std::string SmbOffice::Missing() {
  if (std::string m = DeployedMachine::Missing(); !m.empty()) return m;
  if (std::string m = MachineBox::Missing(); !m.empty()) return m;
  for (const char* p : {"/usr/sbin/smbd", "/usr/bin/smbpasswd", "/usr/bin/smbnetfs", "/usr/bin/fusermount3"})
    if (::access(p, X_OK) != 0) return std::string("needs ") + p;
  if (::access("/dev/fuse", F_OK) != 0) return "needs /dev/fuse";
  return "";
}

std::string SmbOffice::ServerAddress(int i) const { return "10.77." + std::to_string(i + 1) + ".1"; }

std::string SmbOffice::ShareView(int i, const Account& who) const {
  return who.home + "/smb/" + ServerAddress(i) + "/ZELVORA";
}

std::string SmbOffice::AnswerOnServer(int i, const Account& who) const {
  return server_->result() + "/" + who.name + "-" + client_boxes_[i]->hostname() + ".ans";
}

std::unique_ptr<SmbOffice> SmbOffice::Start(const std::string& build_dir, const std::string& source_dir,
                                            const OfficeOptions& options, std::string* error) {
  std::unique_ptr<SmbOffice> o(new SmbOffice());
  o->options_ = options;
  char pattern[] = "/tmp/zelvora-office.XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    *error = "mkdtemp failed";
    return nullptr;
  }
  o->dir_ = pattern;
  ::chmod(pattern, 0755);
  auto fail = [&](const std::string& what) {
    *error = what + "\n" + o->Logs();
    return nullptr;
  };

  // The machines and their links: client machine i reaches the server at 10.77.<i+1>.1.
  o->server_box_ = MachineBox::Start(o->dir_ + "/server-box", options.server_name, false, error);
  if (!o->server_box_) return nullptr;
  for (std::size_t i = 0; i < options.clients.size(); ++i) {
    auto box =
        MachineBox::Start(o->dir_ + "/client-box-" + std::to_string(i), options.clients[i].hostname, true, error);
    if (!box) return nullptr;
    const std::string net = "10.77." + std::to_string(i + 1) + ".";
    if (Status st = o->server_box_->Connect(*box, "lan" + std::to_string(i), net + "1/24", "eth0", net + "2/24");
        !st.ok())
      return fail(st.ToString());
    o->client_boxes_.push_back(std::move(box));
  }

  // The server's accounts: every name the client machines know, numbered the server's way.
  std::vector<Account> server_users;
  std::vector<std::string> members;
  for (const auto& c : options.clients)
    for (const auto& a : c.users) {
      if (std::any_of(server_users.begin(), server_users.end(), [&](const Account& s) { return s.name == a.name; }))
        continue;
      Account s = a;
      s.uid = options.server_uid_base + static_cast<uid_t>(server_users.size());
      server_users.push_back(s);
      if (a.member) members.push_back(a.name);
    }

  // smbd's own settings come before the installer, which adds the share's section.
  std::vector<std::string> addresses;
  for (std::size_t i = 0; i < options.clients.size(); ++i) addresses.push_back(o->ServerAddress(static_cast<int>(i)));
  const std::string smb_state = o->dir_ + "/smb";
  for (const char* d : {"private", "lock", "state", "cache", "pid", "ncalrpc"})
    if (Status st = fs::MakeDirs(smb_state + "/" + d, 0755); !st.ok()) return fail(st.ToString());
  if (Status st = fs::WriteFileAtomic(o->server_box_->etc() + "/samba/smb.conf", SambaGlobal(smb_state, addresses));
      !st.ok())
    return fail(st.ToString());

  MachineOptions so;
  so.roles = {"--server"};
  so.role_options = {"--spooler", "folder", "--server-name", options.server_name};
  so.enter = o->server_box_->Enter();
  if (options.postgres) {
    std::string engine_dsn;
    if (Status st = o->StartPostgres(&engine_dsn); !st.ok()) return fail(st.ToString());
    so.role_options.insert(so.role_options.end(), {"--dsn", engine_dsn});
  }
  o->server_ = DeployedMachine::Install(build_dir, source_dir, server_users, error, so);
  if (!o->server_) return fail("the server machine: " + *error);
  if (Status st = o->server_box_->AddAccounts(o->server_->PasswdLines(), o->server_->GroupLines()); !st.ok())
    return fail(st.ToString());
  if (!options.postgres) {
    if (std::string e = ServerDsn(*o->server_, &o->dsn_); !e.empty()) return fail(e);
  }
  if (std::string e = AddUsers(o->dsn_, members); !e.empty()) return fail(e);
  if (std::string e = AddOfficePrinter(*o->server_, o->dsn_); !e.empty()) return fail(e);

  // Samba: a login of their own for every account, members and not.
  for (const auto& a : server_users) {
    std::string out;
    const std::string pw = Password(a.name);
    if (o->server_box_->Run(
            {"/bin/sh", "-c", "printf '%s\\n%s\\n' '" + pw + "' '" + pw + "' | /usr/bin/smbpasswd -s -a " + a.name},
            &out) != 0)
      return fail("smbpasswd -a " + a.name + ": " + out);
  }
  if (Status st = o->StartSmbd(); !st.ok()) return fail(st.ToString());

  // The client machines: the client role naming the server, then each user's mount and join.
  for (std::size_t i = 0; i < options.clients.size(); ++i) {
    MachineOptions co;
    co.roles = {"--client"};
    co.role_options = {"--server-name", options.server_name};
    co.enter = o->client_boxes_[i]->Enter();
    auto m = DeployedMachine::Install(build_dir, source_dir, options.clients[i].users, error, co);
    if (!m) return fail("client machine " + options.clients[i].hostname + ": " + *error);
    if (Status st = o->client_boxes_[i]->AddAccounts(m->PasswdLines(), m->GroupLines()); !st.ok())
      return fail(st.ToString());
    o->clients_.push_back(std::move(m));
  }
  for (std::size_t i = 0; i < options.clients.size(); ++i) {
    DeployedMachine& m = *o->clients_[i];
    for (const auto& a : m.users()) {
      if (!a.member) continue;
      if (Status st = o->Mount(static_cast<int>(i), a); !st.ok()) return fail(st.ToString());
      std::string out;
      if (m.Run(&a,
                {m.prefix() + "/bin/ostrane-send", "join", o->ShareView(static_cast<int>(i), a), "--server",
                 options.server_name},
                &out) != 0)
        return fail("ostrane-send join as " + a.name + ": " + out);
      if (m.Run(&a, {m.prefix() + "/bin/ostrane-send", "autoprint", "on"}, &out) != 0)
        return fail("ostrane-send autoprint on as " + a.name + ": " + out);
    }
  }
  return o;
}

Status SmbOffice::StartPostgres(std::string* engine_dsn) {
  struct passwd* pw = ::getpwnam("postgres");
  if (pw == nullptr || ::access((std::string(kPgBin) + "/initdb").c_str(), X_OK) != 0)
    return Status::NotSupported("PostgreSQL 15 is not installed");
  const std::string driver = odbc::FindDriverLibrary("psqlodbcw.so");
  if (driver.empty()) return Status::NotSupported("psqlODBC is not installed");
  const std::string pg = dir_ + "/pg";
  if (Status st = fs::MakeDirs(pg, 0700); !st.ok()) return st;
  if (::chown(pg.c_str(), pw->pw_uid, pw->pw_gid) != 0) return Status::IOError("chown " + pg);
  const std::vector<std::string> as_postgres = {"/usr/bin/setpriv", "--reuid=" + std::to_string(pw->pw_uid),
                                                "--regid=" + std::to_string(pw->pw_gid), "--clear-groups"};
  std::vector<std::string> init = as_postgres;
  for (std::string a : {std::string(kPgBin) + "/initdb", std::string("-D"), pg + "/data", std::string("-A"),
                        std::string("trust"), std::string("-U"), std::string("test"), std::string("--no-sync"),
                        std::string("-E"), std::string("UTF8"), std::string("--locale=C.UTF-8")})
    init.push_back(a);
  std::string out;
  if (server_box_->Run(init, &out, 120000) != 0) return Status::IOError("initdb: " + out);
  // The engine comes over the server's own address, not the loopback initdb lets in.
  {
    std::ofstream hba(pg + "/data/pg_hba.conf", std::ios::app);
    hba << "host all all 10.77.0.0/16 trust\n";
    if (!hba) return Status::IOError("cannot extend pg_hba.conf");
  }
  // The server's address only, and a socket folder in the office's folder for the test.
  std::vector<std::string> run = as_postgres;
  for (std::string a :
       {std::string(kPgBin) + "/postgres", std::string("-D"), pg + "/data", std::string("-p"), std::to_string(kPgPort),
        std::string("-k"), pg, std::string("-c"), "listen_addresses=" + ServerAddress(0), std::string("-c"),
        std::string("fsync=off"), std::string("-c"), std::string("synchronous_commit=off")})
    run.push_back(a);
  auto p = server_box_->Spawn(run, {}, pg + "/server.log");
  if (!p.ok()) return p.status();
  postgres_ = std::move(*p);
  const auto end = std::chrono::steady_clock::now() + 60s;
  while (!Listens(postgres_.pid(), kPgPort) || ::access((pg + "/.s.PGSQL." + std::to_string(kPgPort)).c_str(), F_OK)) {
    if (!postgres_.Running() || std::chrono::steady_clock::now() > end)
      return Status::IOError("PostgreSQL did not start: " + FileTail(pg + "/server.log"));
    std::this_thread::sleep_for(50ms);
  }
  const std::string common = "Driver=" + driver + ";Port=" + std::to_string(kPgPort) + ";Uid=test;CommLog=0;Debug=0";
  // The socket is there before the server takes connections: ask until it does.
  auto c = odbc::Connection::Open(common + ";Server=" + pg + ";Database=postgres", "", "");
  while (!c.ok() && postgres_.Running() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(100ms);
    c = odbc::Connection::Open(common + ";Server=" + pg + ";Database=postgres", "", "");
  }
  if (!c.ok()) return c.status();
  if (auto r = (*c)->Execute("CREATE DATABASE zvoffice"); !r.ok()) return r.status();
  dsn_ = common + ";Server=" + pg + ";Database=zvoffice";
  *engine_dsn = common + ";Server=" + ServerAddress(0) + ";Database=zvoffice";
  return Status::Ok();
}

Status SmbOffice::StartSmbd() {
  // A process group of its own: smbd ends by signalling its whole group.
  auto p = server_box_->Spawn({"/usr/sbin/smbd", "--foreground"}, {}, dir_ + "/smb/smbd.out");
  if (!p.ok()) return p.status();
  smbd_ = std::move(*p);
  const auto end = std::chrono::steady_clock::now() + 60s;
  while (!Listens(smbd_.pid(), 445)) {
    if (!smbd_.Running() || std::chrono::steady_clock::now() > end)
      return Status::IOError("smbd did not start: " + FileTail(dir_ + "/smb/smbd.out"));
    std::this_thread::sleep_for(20ms);
  }
  return Status::Ok();
}

Status SmbOffice::RestartSmbd() {
  (void)smbd_.Kill(SIGTERM);
  if (!smbd_.Wait(20000).ok()) {
    (void)smbd_.Kill();
    (void)smbd_.Wait(10000);
  }
  return StartSmbd();
}

Status SmbOffice::Mount(int i, const Account& who, std::chrono::seconds limit) {
  const std::string smb = who.home + "/.smb", point = who.home + "/smb";
  for (const auto& d : {smb, point}) {
    if (Status st = fs::MakeDirs(d, 0700); !st.ok()) return st;
    if (::chown(d.c_str(), who.uid, who.uid) != 0) return Status::IOError("chown " + d);
  }
  const std::vector<std::pair<std::string, std::string>> files = {
      {smb + "/smbnetfs.conf", "smb_query_browsers \"false\"\nauth \"" + ServerAddress(i) + "\" \"" + who.name +
                                   "\" \"" + Password(who.name) + "\"\n"},
      {smb + "/smb.conf", "[global]\n   client min protocol = SMB2\n"}};
  for (const auto& [path, text] : files) {
    if (Status st = fs::WriteFileAtomic(path, text, 0600); !st.ok()) return st;
    if (::chown(path.c_str(), who.uid, who.uid) != 0) return Status::IOError("chown " + path);
  }
  return StartMount(i, who, {"/usr/bin/smbnetfs", point, "-f"}, "smbnetfs-" + who.name, ShareView(i, who), limit);
}

Status SmbOffice::StartMount(int i, const Account& who, const std::vector<std::string>& argv, const std::string& log,
                             const std::string& view, std::chrono::seconds limit) {
  DeployedMachine& m = *clients_[i];
  auto p = m.StartAs(who, argv, {}, log);
  if (!p.ok()) return p.status();
  mounts_.push_back(std::move(*p));
  process::Process& mount = mounts_.back();
  const bool up = WaitUntil(
      [&] {
        return !mount.Running() || m.Run(&who, {"/usr/bin/test", "-d", view + "/PrintInfo"}, nullptr, 40000) == 0;
      },
      limit);
  if (!up || !mount.Running())
    return Status::IOError("the share did not show for " + who.name + " on " + client_boxes_[i]->hostname() + ": " +
                           FileTail(m.dir() + "/log/" + log + ".out"));
  return Status::Ok();
}

Status SmbOffice::StartSshd() {
  if (sshd_.pid() > 0) return Status::Ok();
  const std::string ssh = dir_ + "/ssh";
  if (Status st = fs::MakeDirs(ssh + "/keys", 0755); !st.ok()) return st;
  std::string out;
  if (server_box_->Run({"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", ssh + "/host_key"}, &out) != 0)
    return Status::IOError("ssh-keygen: " + out);
  std::string conf = "Port 22\nHostKey " + ssh + "/host_key\nAuthorizedKeysFile " + ssh +
                     "/keys/%u\nStrictModes no\nUsePAM no\nPasswordAuthentication no\n"
                     "KbdInteractiveAuthentication no\nPidFile none\nPrintMotd no\nSubsystem sftp internal-sftp\n";
  for (std::size_t i = 0; i < client_boxes_.size(); ++i)
    conf += "ListenAddress " + ServerAddress(static_cast<int>(i)) + "\n";
  if (Status st = fs::WriteFileAtomic(ssh + "/sshd_config", conf, 0644); !st.ok()) return st;
  // The privilege separation folder, in the server's own /run.
  if (server_box_->Run({"/usr/bin/install", "-d", "-m", "0755", "/run/sshd"}, &out) != 0)
    return Status::IOError("/run/sshd: " + out);
  auto p = server_box_->Spawn({"/usr/sbin/sshd", "-D", "-e", "-f", ssh + "/sshd_config"}, {}, ssh + "/sshd.out");
  if (!p.ok()) return p.status();
  sshd_ = std::move(*p);
  const auto end = std::chrono::steady_clock::now() + 30s;
  while (!Listens(sshd_.pid(), 22)) {
    if (!sshd_.Running() || std::chrono::steady_clock::now() > end)
      return Status::IOError("sshd did not start: " + FileTail(ssh + "/sshd.out"));
    std::this_thread::sleep_for(20ms);
  }
  return Status::Ok();
}

Result<std::string> SmbOffice::MountSshfs(int i, const Account& who) {
  if (Status st = StartSshd(); !st.ok()) return st;
  DeployedMachine& m = *clients_[i];
  const std::string dot = who.home + "/.ssh", point = who.home + "/sshfs", key = dot + "/id_ed25519";
  for (const auto& d : {dot, point}) {
    if (Status st = fs::MakeDirs(d, 0700); !st.ok()) return st;
    if (::chown(d.c_str(), who.uid, who.uid) != 0) return Status::IOError("chown " + d);
  }
  std::string out;
  if (m.Run(&who, {"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", key}, &out) != 0)
    return Status::IOError("ssh-keygen as " + who.name + ": " + out);
  if (Status st = fs::WriteFileAtomic(dir_ + "/ssh/keys/" + who.name, ReadOrEmpty(key + ".pub"), 0644); !st.ok())
    return st;
  const std::vector<std::string> argv = {
      "/usr/bin/sshfs",
      "-f",
      "-o",
      "IdentityFile=" + key +
          ",StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,BatchMode=yes,dir_cache=no,ServerAliveInterval=2,"
          "idmap=user",
      who.name + "@" + ServerAddress(i) + ":" + server_->share(),
      point};
  if (Status st = StartMount(i, who, argv, "sshfs-" + who.name, point, 60s); !st.ok())
    return Status::IOError(st.ToString() + FileTail(dir_ + "/ssh/sshd.out"));
  return point;
}

Status SmbOffice::SetLink(int i, bool up) { return server_box_->SetLink("lan" + std::to_string(i), up); }

std::vector<std::string> SmbOffice::Printed() const {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : sfs::recursive_directory_iterator(server_->printers(), ec))
    if (e.path().extension() == ".pdf") out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

std::string SmbOffice::Logs() const {
  std::string text;
  if (server_) text += "=== server " + options_.server_name + "\n" + server_->Logs();
  for (std::size_t i = 0; i < clients_.size(); ++i) {
    text += "=== client " + client_boxes_[i]->hostname() + "\n" + clients_[i]->Logs();
    for (const auto& a : clients_[i]->users())
      if (std::string t = FileTail(clients_[i]->dir() + "/log/smbnetfs-" + a.name + ".out", 1500); !t.empty())
        text += "--- smbnetfs " + a.name + "\n" + t + "\n";
  }
  if (std::string t = FileTail(dir_ + "/smb/smbd.out"); !t.empty()) text += "--- smbd\n" + t + "\n";
  return text;
}

void SmbOffice::Stop() {
  // Links up first, so that nothing waits on a cut one while it is stopped.
  for (std::size_t i = 0; server_box_ && i < client_boxes_.size(); ++i) (void)SetLink(static_cast<int>(i), true);
  // The clients' sessions and mounts (their users' processes), then their roles.
  clients_.clear();
  for (auto& m : mounts_) {
    (void)m.Kill(SIGTERM);
    if (!m.Wait(10000).ok()) (void)m.Kill();
    (void)m.Wait(5000);
  }
  mounts_.clear();
  server_.reset();  // removes the server role, which stops the engine's service
  for (process::Process* p : {&sshd_, &smbd_, &postgres_}) {
    if (p->pid() <= 0) continue;
    (void)p->Kill(p == &postgres_ ? SIGINT : SIGTERM);  // PostgreSQL: a fast shutdown
    if (!p->Wait(30000).ok()) (void)p->Kill();
    (void)p->Wait(10000);
  }
  client_boxes_.clear();
  server_box_.reset();
}

SmbOffice::~SmbOffice() {
  Stop();
  std::error_code ec;
  if (!dir_.empty() && std::getenv("ZELVORA_KEEP_TEST_ROOT") == nullptr) sfs::remove_all(dir_, ec);
}

}  // namespace zv::deploy::testing
