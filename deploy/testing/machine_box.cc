#include "deploy/testing/machine_box.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "deploy/testing/deployed_machine.h"
#include "platform/fs/files.h"

namespace zv::deploy::testing {
namespace {

using namespace std::chrono_literals;

}  // namespace

std::string MachineBox::Missing() {
  if (::geteuid() != 0) return "needs root";
  for (const char* p : {"/usr/bin/unshare", "/usr/bin/nsenter", "/usr/sbin/ip", "/usr/bin/cp"})
    if (::access(p, X_OK) != 0) return std::string("needs ") + p;
  return "";
}

std::unique_ptr<MachineBox> MachineBox::Start(const std::string& dir, const std::string& hostname, bool user_fuse,
                                              std::string* error) {
  std::unique_ptr<MachineBox> box(new MachineBox());
  box->dir_ = dir;
  box->hostname_ = hostname;
  if (Status st = fs::MakeDirs(dir + "/log", 0755); !st.ok()) {
    *error = st.ToString();
    return nullptr;
  }
  ::chmod(dir.c_str(), 0755);
  process::StartOptions copy;
  copy.argv = {"/usr/bin/cp", "-a", "/etc", box->etc()};
  copy.output_file = dir + "/log/copy-etc.out";
  auto cp = process::Start(copy);
  auto copied = cp.ok() ? cp->Wait(60000) : Result<int>(cp.status());
  if (!copied.ok() || *copied != 0) {
    *error = "cannot copy /etc for " + hostname + ": " + FileTail(copy.output_file);
    return nullptr;
  }
  // /run of its own too: what runs inside keeps its state there (sshd's folder, the mount
  // table of FUSE mounts), never in the host's.
  std::string script = "set -e; hostname " + hostname + "; mount --bind " + box->etc() +
                       " /etc; mount -t tmpfs -o mode=0755 tmpfs /run; ";
  if (user_fuse) {
    // /dev/fuse is root's alone here: the box's users mount through a node of their own.
    const std::string node = dir + "/fuse";
    struct stat st {};
    if (::stat("/dev/fuse", &st) != 0 || ::mknod(node.c_str(), S_IFCHR | 0666, st.st_rdev) != 0 ||
        ::chmod(node.c_str(), 0666) != 0) {
      *error = "cannot make a FUSE node for " + hostname;
      return nullptr;
    }
    script += "mount --bind " + node + " /dev/fuse; ";
  }
  const std::string ready = dir + "/ready";
  script += "ip link set lo up; : > " + ready + "; exec sleep infinity";
  process::StartOptions o;
  o.argv = {"/usr/bin/unshare", "--net", "--mount", "--uts", "--propagation", "private", "--", "/bin/sh", "-c", script};
  o.output_file = dir + "/log/holder.out";
  auto holder = process::Start(o);
  if (!holder.ok()) {
    *error = holder.status().ToString();
    return nullptr;
  }
  box->holder_ = std::move(*holder);
  const auto end = std::chrono::steady_clock::now() + 30s;
  while (::access(ready.c_str(), F_OK) != 0) {
    if (!box->holder_.Running() || std::chrono::steady_clock::now() > end) {
      *error = "the box " + hostname + " did not start: " + FileTail(o.output_file);
      return nullptr;
    }
    std::this_thread::sleep_for(10ms);
  }
  return box;
}

MachineBox::~MachineBox() {
  if (holder_.pid() > 0) {
    (void)holder_.Kill();
    (void)holder_.Wait(10000);
  }
}

std::vector<std::string> MachineBox::Enter() const {
  return {"/usr/bin/nsenter", "-t", std::to_string(pid()), "-n", "-m", "-u", "--"};
}

int MachineBox::Run(const std::vector<std::string>& argv, std::string* output, int timeout_ms) const {
  process::StartOptions o;
  o.argv = Enter();
  o.argv.insert(o.argv.end(), argv.begin(), argv.end());
  o.output_file = dir_ + "/log/run-" + std::to_string(++runs_) + ".out";
  return RunToEnd(o, timeout_ms, output);
}

Result<process::Process> MachineBox::Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                                           const std::string& log_file) const {
  process::StartOptions o;
  o.argv = Enter();
  o.argv.insert(o.argv.end(), argv.begin(), argv.end());
  o.env = env;
  o.output_file = log_file;
  return process::Start(o);
}

Status MachineBox::AddAccounts(const std::string& passwd, const std::string& group) const {
  for (const auto& [file, lines] : {std::pair{etc() + "/passwd", passwd}, std::pair{etc() + "/group", group}}) {
    std::ofstream out(file, std::ios::app);
    out << lines;
    if (!out) return Status::IOError("cannot add accounts to " + file);
  }
  return Status::Ok();
}

Status MachineBox::Connect(const MachineBox& other, const std::string& here_if, const std::string& here_addr,
                           const std::string& there_if, const std::string& there_addr) const {
  std::string out;
  if (Run({"/usr/sbin/ip", "link", "add", here_if, "type", "veth", "peer", "name", there_if, "netns",
           std::to_string(other.pid())},
          &out) != 0)
    return Status::IOError("veth " + here_if + ": " + out);
  if (Run({"/usr/sbin/ip", "addr", "add", here_addr, "dev", here_if}, &out) != 0 ||
      other.Run({"/usr/sbin/ip", "addr", "add", there_addr, "dev", there_if}, &out) != 0)
    return Status::IOError("addresses of " + here_if + ": " + out);
  if (Status st = other.SetLink(there_if, true); !st.ok()) return st;
  return SetLink(here_if, true);
}

Status MachineBox::SetLink(const std::string& interface, bool up) const {
  std::string out;
  if (Run({"/usr/sbin/ip", "link", "set", interface, up ? "up" : "down"}, &out) != 0)
    return Status::IOError("ip link set " + interface + ": " + out);
  return Status::Ok();
}

}  // namespace zv::deploy::testing
