#include "capture/backend/testing/virtual_printer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/fs/files.h"
#include "platform/spool/testing/private_cupsd.h"
#include "platform/testing/bin_dir.h"
#include "platform/testing/free_port.h"

namespace zv::capture::testing {
namespace {

namespace sfs = std::filesystem;
using namespace std::chrono_literals;

int FreePort() { return zv::testing::FreeLocalPort(); }

void Write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

}  // namespace

bool VirtualPrinter::Available() {
  return ::geteuid() == 0 && ::access("/usr/sbin/cupsd", X_OK) == 0 && sfs::exists("/usr/sbin/runuser");
}

std::unique_ptr<VirtualPrinter> VirtualPrinter::StartScheduler(const SchedulerOptions& options, std::string* error) {
  std::unique_ptr<VirtualPrinter> p(new VirtualPrinter());
  std::string cups = options.dir;
  if (cups.empty()) {
    char dir[] = "/tmp/zv-cups.XXXXXX";
    if (::mkdtemp(dir) == nullptr) {
      *error = "mkdtemp failed";
      return nullptr;
    }
    cups = dir;
  } else if (!fs::MakeDirs(cups).ok()) {
    *error = "cannot make " + cups;
    return nullptr;
  }
  p->dir_ = cups;
  ::chmod(cups.c_str(), 0755);  // other users reach the socket
  std::error_code ec;
  for (const char* d : {"etc/ppd", "cache", "state", "log", "spool/tmp"})
    sfs::create_directories(cups + "/" + d, ec);
  // The spool folder as the distribution's package makes it: root:lp 0710, so that job files
  // are the scheduler's and its filters' alone.
  if (::chown((cups + "/spool").c_str(), 0, 7) != 0 || ::chown((cups + "/spool/tmp").c_str(), 0, 7) != 0) {
    *error = "chown of the spool folders failed";
    return nullptr;
  }
  ::chmod((cups + "/spool").c_str(), 0710);
  ::chmod((cups + "/spool/tmp").c_str(), 01770);
  // The backend and filter folders are the scheduler's own (the install script adds ours to
  // them), holding links to the system's other programs.
  spool::testing::LinkSystemServerBin(cups + "/serverbin");
  std::string preload;
  for (const auto& e : options.env)
    if (e.rfind("LD_PRELOAD=", 0) == 0) preload = e.substr(11);
  if (!preload.empty()) {
    // The scheduler drops LD_PRELOAD from what its filters and backends get (SetEnv too), so
    // the library (the test's account database) is put back by a wrapper around cups-exec,
    // which starts each of them. The daemon folder becomes the scheduler's own (the link to
    // the system's is removed, never written through), its other programs links.
    const std::string daemon = cups + "/serverbin/daemon";
    sfs::remove(daemon, ec);
    sfs::create_directories(daemon, ec);
    for (const auto& e : sfs::directory_iterator("/usr/lib/cups/daemon", ec))
      if (e.path().filename() != "cups-exec")
        sfs::create_symlink(e.path(), daemon + "/" + e.path().filename().string(), ec);
    Write(daemon + "/cups-exec", "#!/bin/sh\nLD_PRELOAD=" + preload + " exec /usr/lib/cups/daemon/cups-exec \"$@\"\n");
    ::chmod((daemon + "/cups-exec").c_str(), 0755);
  }

  std::string set_env;
  for (const auto& e : options.env) {
    const auto eq = e.find('=');
    if (eq != std::string::npos) set_env += "SetEnv " + e.substr(0, eq) + " " + e.substr(eq + 1) + "\n";
  }
  const std::string folders = "ServerRoot " + cups + "/etc\nRequestRoot " + cups + "/spool\nTempDir " + cups +
                              "/spool/tmp\nCacheDir " + cups + "/cache\nStateDir " + cups + "/state\nServerBin " +
                              cups + "/serverbin\nAccessLog " + cups + "/log/access_log\nErrorLog " + cups +
                              "/log/error_log\nPageLog " + cups + "/log/page_log\nPrintcap " + cups +
                              "/state/printcap\n";
  const std::string listen = "Listen " + cups + "/cups.sock\nListen 127.0.0.1:" + std::to_string(FreePort()) +
                             "\nBrowsing No\nWebInterface No\nLogLevel debug\nPreserveJobHistory Yes\n";
  if (options.packaged) {
    // The distribution's files, less what names the machine's own folders, listeners and
    // on-demand exit; everything else (policies, DefaultAuthType, SystemGroup, User and
    // Group as built in) stays as packaged.
    auto files = fs::ReadFile("/usr/share/cups/cups-files.conf.default");
    auto conf = fs::ReadFile("/usr/share/cups/cupsd.conf.default");
    if (!files.ok() || !conf.ok()) {
      *error = "the packaged CUPS configuration (/usr/share/cups/*.default) is missing";
      return nullptr;
    }
    auto keep = [](const std::string& text, std::initializer_list<const char*> drop) {
      std::string out, line;
      std::istringstream in(text);
      while (std::getline(in, line)) {
        std::string word = line.substr(0, line.find_first_of(" \t"));
        bool dropped = false;
        for (const char* d : drop) dropped = dropped || word == d;
        if (!dropped) out += line + "\n";
      }
      return out;
    };
    Write(cups + "/etc/cups-files.conf",
          folders + keep(*files, {"AccessLog", "ErrorLog", "PageLog", "LogFileGroup"}) + set_env);
    Write(cups + "/etc/cupsd.conf",
          listen + keep(*conf, {"Listen", "Port", "Browsing", "BrowseLocalProtocols", "WebInterface",
                                "IdleExitTimeout", "LogLevel", "PreserveJobHistory"}));
  } else {
    Write(cups + "/etc/cups-files.conf",
          folders + "FileDevice No\nUser lp\nGroup lp\nSystemGroup root\nPeerCred off\nSandboxing Relaxed\n" + set_env);
    Write(cups + "/etc/cupsd.conf",
          listen + "DefaultAuthType None\n<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                   "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n");
  }
  process::StartOptions o;
  o.argv = {"/usr/sbin/cupsd", "-f", "-c", cups + "/etc/cupsd.conf", "-s", cups + "/etc/cups-files.conf"};
  o.env = options.env;
  o.output_file = cups + "/log/cupsd.out";
  auto c = process::Start(o);
  if (!c.ok()) {
    *error = c.status().ToString();
    return nullptr;
  }
  p->cupsd_ = std::move(*c);
  bool up = false;
  for (int i = 0; i < 400 && !up; ++i) {
    up = p->Run({"lpstat", "-r"}) == 0;
    if (!up) std::this_thread::sleep_for(50ms);
  }
  if (!up) {
    *error = "cupsd did not come up\n" + p->Logs();
    return nullptr;
  }
  return p;
}

std::unique_ptr<VirtualPrinter> VirtualPrinter::Start(const std::string& base, const std::string& capture_template,
                                                      const std::string& source_dir, std::string* error) {
  SchedulerOptions options;
  options.env = {"ZELVORA_CAPTURE_ROOT=" + capture_template};
  auto p = StartScheduler(options, error);
  if (!p) return nullptr;
  // CUPS's own user runs the filter from the program folder inside the test's folder.
  ::chmod(base.c_str(), 0755);
  const std::string& cups = p->dir_;
  // The install script: backends, programs, owner authentication, queues, autostart entry.
  p->programs_ = base + "/programs";
  const int rc =
      p->Run({source_dir + "/scripts/install-printer", "--bin", zv::testing::BinDir(), "--program-dir", p->programs_,
              "--serverbin", cups + "/serverbin", "--cups-files", cups + "/etc/cups-files.conf", "--cupsd-conf",
              cups + "/etc/cupsd.conf", "--autostart-dir", base + "/autostart", "--cups-server", cups + "/cups.sock",
              "--restart-command", "kill -HUP " + std::to_string(p->cupsd_->pid())});
  if (rc != 0) {
    *error = "install-printer failed\n" + p->Logs();
    return nullptr;
  }
  return p;
}

VirtualPrinter::~VirtualPrinter() {
  if (cupsd_) {
    (void)cupsd_->Kill(SIGTERM);
    if (!cupsd_->Wait(10000).ok()) (void)cupsd_->Kill();
    (void)cupsd_->Wait(5000);
  }
  std::error_code ec;
  if (!dir_.empty() && std::getenv("ZELVORA_KEEP_TEST_ROOT") == nullptr) sfs::remove_all(dir_, ec);
}

int VirtualPrinter::Run(std::vector<std::string> argv, const std::string& as_user) const {
  if (!as_user.empty())
    argv.insert(argv.begin(), {"/usr/sbin/runuser", "-u", as_user, "--", "env", "CUPS_SERVER=" + dir_ + "/cups.sock"});
  process::StartOptions o;
  o.argv = argv;
  o.env = {"CUPS_SERVER=" + dir_ + "/cups.sock"};
  o.output_file = dir_ + "/log/clients.out";
  auto p = process::Start(o);
  if (!p.ok()) return -1;
  auto code = p->Wait(30000);
  return code.ok() ? *code : -1;
}

std::string VirtualPrinter::Logs() const {
  auto a = fs::ReadFile(dir_ + "/log/error_log");
  auto c = fs::ReadFile(dir_ + "/log/clients.out");
  return (a.ok() ? a->substr(a->size() > 3000 ? a->size() - 3000 : 0) : std::string()) + "\n--\n" +
         (c.ok() ? *c : std::string());
}

}  // namespace zv::capture::testing
