#include "deploy/testing/deployed_machine.h"

#include <algorithm>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/fs/files.h"

namespace zv::deploy::testing {
namespace {

namespace sfs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kNssWrapper[] = "/usr/lib/x86_64-linux-gnu/libnss_wrapper.so";
constexpr gid_t kZelvoraGid = 2100;

// Takes a process id; gives its real user id, or -1 when it is gone or a zombie.
long RealUid(const std::string& pid) {
  std::ifstream in("/proc/" + pid + "/status");
  std::string line;
  long uid = -1;
  bool zombie = false;
  while (std::getline(in, line)) {
    if (line.rfind("State:", 0) == 0) zombie = line.find('Z') != std::string::npos;
    if (line.rfind("Uid:", 0) == 0) uid = std::atol(line.c_str() + 4);
  }
  return zombie ? -1 : uid;
}

}  // namespace

std::string FileTail(const std::string& path, std::size_t limit) {
  auto t = fs::ReadFile(path);
  if (!t.ok()) return "";
  return t->size() > limit ? t->substr(t->size() - limit) : *t;
}

int RunToEnd(const process::StartOptions& options, int timeout_ms, std::string* output) {
  auto p = process::Start(options);
  if (!p.ok()) {
    if (output) *output = p.status().ToString();
    return -1;
  }
  auto code = p->Wait(timeout_ms);
  if (!code.ok()) {
    (void)p->Kill();
    (void)p->Wait(10000);
  }
  if (output) *output = FileTail(options.output_file, 1 << 20);
  return code.ok() ? *code : -1;
}

std::string DeployedMachine::Missing() {
  if (::geteuid() != 0) return "needs root";
  for (const char* p : {"/usr/sbin/cupsd", "/usr/sbin/lpadmin", "/usr/bin/lp", "/usr/bin/setpriv", kNssWrapper,
                        "/usr/share/cups/cupsd.conf.default"})
    if (::access(p, X_OK) != 0 && ::access(p, R_OK) != 0) return std::string("needs ") + p;
  return "";
}

const Account& DeployedMachine::user(const std::string& name) const {
  for (const auto& a : users_)
    if (a.name == name) return a;
  return users_.front();
}

std::vector<std::string> DeployedMachine::AccountEnv() const {
  return {std::string("LD_PRELOAD=") + kNssWrapper, "NSS_WRAPPER_PASSWD=" + dir_ + "/accounts/passwd",
          "NSS_WRAPPER_GROUP=" + dir_ + "/accounts/group"};
}

std::vector<std::string> DeployedMachine::UserEnv(const Account& who) const {
  std::vector<std::string> env = AccountEnv();
  for (std::string e : {"HOME=" + who.home, "USER=" + who.name, "LOGNAME=" + who.name,
                        std::string("PATH=/usr/local/bin:/usr/bin:/bin"), "XDG_RUNTIME_DIR=" + who.home + "/.run",
                        std::string("QT_QPA_PLATFORM=offscreen"), std::string("LANG=C.UTF-8"),
                        "CUPS_SERVER=" + cupsd_->socket()})
    env.push_back(e);
  return env;
}

std::string DeployedMachine::PasswdLines() const {
  std::string passwd;
  for (const auto& a : users_)
    passwd += a.name + ":x:" + std::to_string(a.uid) + ":" + std::to_string(a.uid) + ":" + a.name + ":" + a.home +
              ":/bin/sh\n";
  return passwd;
}

std::string DeployedMachine::GroupLines() const {
  std::string group, members;
  for (const auto& a : users_) {
    group += a.name + ":x:" + std::to_string(a.uid) + ":\n";
    if (a.member) members += (members.empty() ? "" : ",") + a.name;
  }
  return group + "zelvora:x:" + std::to_string(kZelvoraGid) + ":" + members + "\n";
}

Status DeployedMachine::WriteAccounts() {
  for (auto& a : users_) a.home = dir_ + "/home/" + a.name;
  const std::string passwd = "root:x:0:0:root:" + dir_ +
                             "/roothome:/bin/sh\nlp:x:7:7:lp:/var/spool/lpd:/usr/sbin/nologin\n"
                             "nobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin\n" +
                             PasswdLines();
  const std::string group = "root:x:0:\nlp:x:7:\nlpadmin:x:105:\nnogroup:x:65534:\n" + GroupLines();
  for (const char* d : {"accounts", "home", "roothome", "log", "docs"})
    if (Status st = fs::MakeDirs(dir_ + "/" + d, 0755); !st.ok()) return st;
  if (Status st = fs::WriteFileAtomic(dir_ + "/accounts/passwd", passwd, 0644); !st.ok()) return st;
  if (Status st = fs::WriteFileAtomic(dir_ + "/accounts/group", group, 0644); !st.ok()) return st;
  for (const auto& a : users_) {
    if (Status st = fs::MakeDirs(a.home + "/.run", 0700); !st.ok()) return st;
    if (::chown(a.home.c_str(), a.uid, a.uid) != 0 || ::chown((a.home + "/.run").c_str(), a.uid, a.uid) != 0 ||
        ::chmod(a.home.c_str(), 0700) != 0)
      return Status::IOError("cannot give " + a.home + " to " + a.name);
  }
  return Status::Ok();
}

int DeployedMachine::Run(const Account* who, const std::vector<std::string>& argv, std::string* output,
                         int timeout_ms) const {
  std::vector<std::string> full;
  std::vector<std::string> env;
  if (who != nullptr) {
    full = {"/usr/bin/setpriv", "--reuid=" + std::to_string(who->uid), "--regid=" + std::to_string(who->uid),
            "--init-groups", "/usr/bin/env", "-i"};
    env = UserEnv(*who);
  } else {
    full = {"/usr/bin/env", "-i"};
    env = AccountEnv();
    env.push_back("PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin");
    env.push_back("HOME=" + dir_ + "/roothome");
    env.push_back("LANG=C.UTF-8");
    if (cupsd_) env.push_back("CUPS_SERVER=" + cupsd_->socket());
  }
  full.insert(full.end(), env.begin(), env.end());
  full.insert(full.end(), argv.begin(), argv.end());
  full.insert(full.begin(), enter_.begin(), enter_.end());
  const std::string out = dir_ + "/log/run-" + std::to_string(++runs_) + ".out";
  {
    std::ofstream(dir_ + "/log/runs.log", std::ios::app)
        << runs_ << " " << (who ? who->name : "root") << ": " << argv.front() << (argv.size() > 1 ? " " + argv[1] : "")
        << "\n";
  }
  process::StartOptions o;
  o.argv = full;
  o.env = AccountEnv();  // setpriv looks the user's groups up in the test's account database
  o.output_file = out;
  return RunToEnd(o, timeout_ms, output);
}

std::unique_ptr<DeployedMachine> DeployedMachine::Install(const std::string& build_dir, const std::string& source_dir,
                                                          std::vector<Account> users, std::string* error,
                                                          std::vector<std::string> server_options) {
  MachineOptions options;
  options.role_options = std::move(server_options);
  return Install(build_dir, source_dir, std::move(users), error, options);
}

std::unique_ptr<DeployedMachine> DeployedMachine::Install(const std::string& build_dir, const std::string& source_dir,
                                                          std::vector<Account> users, std::string* error,
                                                          const MachineOptions& options) {
  const std::vector<std::string>& server_options = options.role_options;
  std::unique_ptr<DeployedMachine> m(new DeployedMachine());
  m->enter_ = options.enter;
  m->roles_given_ = options.roles;
  char pattern[] = "/tmp/zelvora-deploy.XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    *error = "mkdtemp failed";
    return nullptr;
  }
  m->dir_ = pattern;
  ::chmod(pattern, 0755);  // the users and CUPS's own user pass through it
  m->build_dir_ = build_dir;
  m->source_dir_ = source_dir;
  m->users_ = std::move(users);
  if (Status st = m->WriteAccounts(); !st.ok()) {
    *error = st.ToString();
    return nullptr;
  }
  std::string out;
  if (m->Run(nullptr, {"cmake", "--install", build_dir, "--prefix", m->prefix()}, &out) != 0) {
    *error = "cmake --install failed:\n" + out;
    return nullptr;
  }
  if (!options.share_size.empty()) {
    std::error_code ec;
    sfs::create_directories(m->share(), ec);
    if (std::string why = m->share_fs_.Mount(m->share(), options.share_size); !why.empty()) {
      *error = "the share's own file system: " + why;
      return nullptr;
    }
  }
  capture::testing::SchedulerOptions so;
  so.dir = m->dir_ + "/cups";
  so.env = m->AccountEnv();
  so.packaged = true;
  m->cupsd_ = capture::testing::VirtualPrinter::StartScheduler(so, error);
  if (!m->cupsd_) return nullptr;

  std::vector<std::string> roles = options.roles;
  roles.push_back("--no-build");
  roles.insert(roles.end(), server_options.begin(), server_options.end());
  if (std::find(server_options.begin(), server_options.end(), "--spooler") == server_options.end())
    roles.insert(roles.end(), {"--spooler", "folder"});
  if (m->Run(nullptr, m->InstallCommand(roles), &out) != 0) {
    *error = "the role set-up failed:\n" + out + "\n" + m->Logs();
    m->roles_ = true;  // undo what it did set up
    return nullptr;
  }
  m->roles_ = true;
  return m;
}

std::string DeployedMachine::Installer() const {
  const std::string installed = prefix() + "/share/zelvora/install";
  if (::access(installed.c_str(), X_OK) == 0) return installed;
  return source_dir_ + "/scripts/install";
}

std::vector<std::string> DeployedMachine::InstallCommand(const std::vector<std::string>& roles) const {
  return InstallCommand(Installer(), roles);
}

std::vector<std::string> DeployedMachine::InstallCommand(const std::string& installer,
                                                         const std::vector<std::string>& roles) const {
  std::vector<std::string> argv = {installer};
  argv.insert(argv.end(), roles.begin(), roles.end());
  if (installer != prefix() + "/share/zelvora/install") {
    argv.push_back("--prefix");
    argv.push_back(prefix());
  }
  for (std::string a : {std::string("--root"), server_root(), std::string("--cups-files"), cupsd_->cups_files(),
                        std::string("--cupsd-conf"), cupsd_->cupsd_conf(), std::string("--serverbin"),
                        cupsd_->serverbin(), std::string("--cups-server"), cupsd_->socket(),
                        std::string("--restart-command"), "kill -HUP " + std::to_string(cupsd_->pid()),
                        std::string("--autostart-dir"), autostart(), std::string("--systemd-dir"), dir_ + "/systemd"})
    argv.push_back(a);
  // On this machine Samba's settings are the machine's own: the share's section goes into a
  // folder of the test's that is never made (so the installer prints it). A box has an /etc
  // of its own, where the installer's default is the box's.
  if (enter_.empty()) argv.insert(argv.end(), {"--samba-conf", dir_ + "/samba/smb.conf"});
  return argv;
}

Status DeployedMachine::StartSession(const Account& who) {
  std::string exec;
  std::error_code ec;
  for (const auto& e : sfs::directory_iterator(autostart(), ec)) {
    if (e.path().extension() != ".desktop") continue;
    auto text = fs::ReadFile(e.path().string());
    if (!text.ok()) continue;
    std::istringstream in(*text);
    for (std::string line; std::getline(in, line);)
      if (line.rfind("Exec=", 0) == 0) exec = line.substr(5);
  }
  if (exec.empty()) return Status::NotFound("no autostart entry with an Exec line in " + autostart());
  std::vector<std::string> argv;
  std::istringstream words(exec);
  for (std::string w; words >> w;)
    if (w.size() != 2 || w[0] != '%') argv.push_back(w);  // field codes (%U ...) stand for nothing here
  auto p = StartAs(who, argv, {}, "session-" + who.name);
  if (!p.ok()) return p.status();
  sessions_.push_back(std::move(*p));
  return Status::Ok();
}

Result<process::Process> DeployedMachine::StartAs(const Account& who, const std::vector<std::string>& argv,
                                                  const std::vector<std::string>& extra_env,
                                                  const std::string& log_name) const {
  std::vector<std::string> full = {"/usr/bin/setpriv", "--reuid=" + std::to_string(who.uid),
                                   "--regid=" + std::to_string(who.uid), "--init-groups", "/usr/bin/env", "-i"};
  for (const auto& e : UserEnv(who)) full.push_back(e);
  for (const auto& e : extra_env) full.push_back(e);  // env(1) keeps the last of a name
  full.insert(full.end(), argv.begin(), argv.end());
  full.insert(full.begin(), enter_.begin(), enter_.end());
  process::StartOptions o;
  o.argv = full;
  o.env = AccountEnv();
  o.output_file = dir_ + "/log/" + log_name + ".out";
  return process::Start(o);
}

void DeployedMachine::EndSessions() {
  auto remaining = [&](int signal_number) {
    int left = 0;
    std::error_code ec;
    for (const auto& e : sfs::directory_iterator("/proc", ec)) {
      const std::string pid = e.path().filename().string();
      if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
      const long uid = RealUid(pid);
      for (const auto& a : users_)
        if (uid == static_cast<long>(a.uid)) {
          ++left;
          if (signal_number != 0) ::kill(std::atoi(pid.c_str()), signal_number);
        }
    }
    return left;
  };
  remaining(SIGTERM);
  for (int i = 0; i < 500 && remaining(0) > 0; ++i) std::this_thread::sleep_for(20ms);
  remaining(SIGKILL);
  for (int i = 0; i < 250 && remaining(0) > 0; ++i) std::this_thread::sleep_for(20ms);
  for (auto& s : sessions_) (void)s.Wait(5000);
  sessions_.clear();
}

int DeployedMachine::Shutdown() {
  EndSessions();
  int rc = 0;
  if (roles_ && cupsd_) {
    std::string out;
    std::vector<std::string> remove = {"--remove"};
    remove.insert(remove.end(), roles_given_.begin(), roles_given_.end());
    rc = Run(nullptr, InstallCommand(remove), &out);
    if (rc != 0) std::ofstream(dir_ + "/log/remove.out") << out;
  }
  roles_ = false;
  cupsd_.reset();
  return rc;
}

int DeployedMachine::Remove(Removal road, bool purge, std::string* output) {
  if (!cupsd_) return -1;
  std::string out;
  int rc = 0;
  if (road == Removal::kScript) {
    std::vector<std::string> what = {"--remove"};
    if (purge) what.push_back("--purge");
    rc = Run(nullptr, InstallCommand(source_dir_ + "/scripts/install", what), &out);
    if (output) *output = out;
    if (rc == 0) roles_ = false;
    return rc;
  }
  // The prerm: the installed set-up script undoes the roles (once; a purge after a removal
  // finds it done, as dpkg runs no prerm for a package that is only configured away).
  const std::string installed = prefix() + "/share/zelvora/install";
  if (::access(installed.c_str(), X_OK) == 0 && roles_) {
    rc = Run(nullptr, InstallCommand(installed, {"--remove", "--no-build"}), &out);
    if (output) *output = out;
    if (rc != 0) return rc;
    roles_ = false;
  }
  if (!purge) return 0;
  // dpkg deletes the package's files: the installed tree but for what the roles wrote (etc/).
  std::error_code ec;
  for (const auto& e : sfs::directory_iterator(prefix(), ec))
    if (e.path().filename() != "etc") sfs::remove_all(e.path(), ec);
  // The postrm as the package build writes it, with this machine's prefix, cupsd.conf and
  // scheduler restart in place of the system's.
  auto text = fs::ReadFile(source_dir_ + "/cmake/package/postrm.in");
  auto functions = fs::ReadFile(source_dir_ + "/scripts/removal.sh");
  if (!text.ok() || !functions.ok()) {
    if (output) *output = "the package's postrm or the removal steps cannot be read";
    return -1;
  }
  std::string script = *text;
  const std::pair<std::string, std::string> fills[] = {
      {"@ZELVORA_REMOVAL_FUNCTIONS@", *functions},
      {"@ZELVORA_PACKAGE_PREFIX@", prefix()},
      {"cupsd_conf=/etc/cups/cupsd.conf", "cupsd_conf=" + cupsd_->cupsd_conf()},
      {"invoke-rc.d --quiet cups try-restart || true", "kill -HUP " + std::to_string(cupsd_->pid())},
  };
  for (const auto& [from, to] : fills) {
    const auto at = script.find(from);
    if (at == std::string::npos) {
      if (output) *output = "the package's postrm has no \"" + from + "\" to fill in";
      return -1;
    }
    script.replace(at, from.size(), to);
  }
  const std::string postrm = dir_ + "/postrm";
  if (Status st = fs::WriteFileAtomic(postrm, script, 0755); !st.ok()) {
    if (output) *output = st.ToString();
    return -1;
  }
  for (const char* step : {"remove", "purge"}) {
    rc = Run(nullptr, {"/bin/sh", postrm, step}, &out);
    if (output) *output += "--- postrm " + std::string(step) + "\n" + out;
    if (rc != 0) return rc;
  }
  return 0;
}

int DeployedMachine::Purge(std::string* output) {
  const int rc = Remove(Removal::kScript, true, output);
  EndSessions();
  return rc;
}

DeployedMachine::~DeployedMachine() {
  (void)Shutdown();
  share_fs_.Unmount();
  std::error_code ec;
  if (!dir_.empty() && std::getenv("ZELVORA_KEEP_TEST_ROOT") == nullptr) sfs::remove_all(dir_, ec);
}

std::string DeployedMachine::Logs() const {
  std::string text = cupsd_ ? "--- scheduler\n" + cupsd_->Logs() + "\n" : "";
  std::error_code ec;
  std::vector<std::string> files = {dir_ + "/log/runs.log", server_root() + "/log/events.log"};
  for (const auto& a : users_) {
    files.push_back(dir_ + "/log/session-" + a.name + ".out");
    files.push_back(a.home + "/.local/state/zelvora/log/capture.log");
    files.push_back(a.home + "/.local/state/zelvora/log/events.log");
  }
  for (const auto& f : files)
    if (std::string t = FileTail(f, 3000); !t.empty()) text += "--- " + f + "\n" + t + "\n";
  return text;
}

}  // namespace zv::deploy::testing
