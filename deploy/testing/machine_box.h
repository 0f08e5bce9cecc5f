// Another machine on this one: network, mount and UTS namespaces of their own, held open by a
// sleeping process, with a copy of this machine's /etc bound over /etc inside them (so the
// box's accounts, host name and service settings are its own: binding single files breaks
// when the host replaces them) and an empty /run of its own. Programs enter it with nsenter. Links between boxes are
// veth pairs made inside them, so nothing of the host's network changes; they can be cut and mended. Everything lives
// in a folder of the caller's; the box ends when its holder is killed (by its id) and the last process inside has gone.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/base/status.h"
#include "platform/process/process.h"

namespace zv::deploy::testing {

class MachineBox {
 public:
  // Gives what this machine lacks to run boxes (empty when it can): root, unshare, nsenter,
  // ip.
  static std::string Missing();
  // Takes the folder to keep the box's files in (made), its host name, and whether ordinary
  // users may make FUSE mounts inside (a 0666 node of /dev/fuse's device bound over it there);
  // starts the box. Gives null with `error` set on failure.
  static std::unique_ptr<MachineBox> Start(const std::string& dir, const std::string& hostname, bool user_fuse,
                                           std::string* error);
  // Kills the holder (by its id) and waits for it.
  ~MachineBox();
  MachineBox(const MachineBox&) = delete;
  MachineBox& operator=(const MachineBox&) = delete;

  pid_t pid() const { return holder_.pid(); }
  const std::string& hostname() const { return hostname_; }
  // The box's /etc as the host sees it (writable by root).
  std::string etc() const { return dir_ + "/etc"; }
  // The command prefix that runs a program inside the box.
  std::vector<std::string> Enter() const;
  // Takes a program with its arguments, a time limit and a log name; runs it as root inside
  // the box and gives its exit code (-1 when it did not run or end in time), its output in
  // `output` when given.
  int Run(const std::vector<std::string>& argv, std::string* output = nullptr, int timeout_ms = 60000) const;
  // Takes a program with its arguments, extra "NAME=value" entries and a log file; starts it
  // as root inside the box. The caller stops it.
  Result<process::Process> Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                                 const std::string& log_file) const;
  // Takes lines of passwd(5) and group(5); appends them to the box's own account files.
  Status AddAccounts(const std::string& passwd, const std::string& group) const;

  // Takes the other box, the interface names on both sides and the addresses (with their
  // prefix length, "10.77.1.1/24"); makes a veth pair between the two and brings it up.
  Status Connect(const MachineBox& other, const std::string& here_if, const std::string& here_addr,
                 const std::string& there_if, const std::string& there_addr) const;
  // Takes an interface of this box; takes it down (the link is cut) or up again.
  Status SetLink(const std::string& interface, bool up) const;

 private:
  MachineBox() = default;
  std::string dir_, hostname_;
  process::Process holder_;
  mutable int runs_ = 0;
};

}  // namespace zv::deploy::testing
