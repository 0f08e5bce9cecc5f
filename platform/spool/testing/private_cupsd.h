// A private CUPS scheduler for tests: cupsd started as root on a socket in its own
// temporary folder, with queues whose PDF filter is a capture script that copies each job's
// PDF and its arguments (id, user, title, copies, options) to an output folder.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace zv::spool::testing {

// One queue: its name and its device URI (the port the spooler reports).
struct CupsQueue {
  std::string name;
  std::string device_uri = "file:///dev/null";
};

// Takes the capture filter's path; gives the text of a PPD with three papers (A4 and JIS B5
// with 12 pt margins, Letter with 18 pt), duplex, colour and two resolutions.
std::string TestPpd(const std::filesystem::path& filter);

// Takes a folder for a scheduler's programs (ServerBin); fills it from the system's
// /usr/lib/cups: "backend" and "filter" become folders of their own holding links to each
// system program there but the virtual printer's own (zelvora, olviport, kelvad), which a
// test installs itself; the other folders (daemon, notifier, ...) are links to the system's.
// A test may add or replace files in "backend" and "filter" (remove a name before writing
// it, never write through a link), and must never write below the linked folders.
void LinkSystemServerBin(const std::filesystem::path& serverbin);

class PrivateCupsd {
 public:
  // Takes the queues; starts the scheduler and adds them (each with TestPpd), and points
  // CUPS_SERVER of this process at it. Never null: check ok() and error(). Without root the
  // scheduler is not started (skipped() is true).
  static std::unique_ptr<PrivateCupsd> Start(const std::vector<CupsQueue>& queues);
  // The same with a program folder of the scheduler's own (serverbin()): "backend" and
  // "filter" hold links to the system's programs and take the test's own, the other folders
  // are the system's.
  static std::unique_ptr<PrivateCupsd> StartWithOwnServerBin(const std::vector<CupsQueue>& queues);
  ~PrivateCupsd();
  PrivateCupsd(const PrivateCupsd&) = delete;
  PrivateCupsd& operator=(const PrivateCupsd&) = delete;

  bool ok() const { return pid_ > 0 && error_.empty(); }
  // Only a run without root may go without the scheduler; anything else is a failure.
  static bool skipped();
  const std::string& error() const { return error_; }
  std::string socket() const { return (dir_ / "cups.sock").string(); }
  std::filesystem::path out() const { return dir_ / "out"; }
  // The scheduler's program folder when it has its own (empty otherwise).
  std::filesystem::path serverbin() const { return own_serverbin_ ? dir_ / "serverbin" : std::filesystem::path(); }
  // Takes a program and its arguments (e.g. /usr/sbin/cupsdisable Q); runs it against this
  // scheduler; gives its exit code (-1 when it could not run).
  static int Run(const std::vector<std::string>& args);
  // Stops the scheduler (SIGTERM, waited for) and removes its folder.
  void Stop();

 private:
  PrivateCupsd() = default;
  void Launch(const std::vector<CupsQueue>& queues);
  std::filesystem::path dir_;
  pid_t pid_ = -1;
  std::string error_;
  bool own_serverbin_ = false;
};

}  // namespace zv::spool::testing
