// The office's road as the README orders it, on a machine deployed as the deployment test
// deploys it: the installer sets up the server and client roles (the engine printing through
// the scheduler's queues), an IPP Everywhere printer (the scheduler's own ippeveprinter on
// 127.0.0.1) is added as the README says with lpadmin, the users are members of the group
// "zelvora", the console offers the printer (and not the virtual printer's queues), writes the
// managed list from the scheduler's answers and registers the users, a user prints from
// LibreOffice, the printer receives the pages, the console's data counts them under that
// user, and the purge removes everything of the system but the users' own folders. Both
// roads of removal (the set-up script's and the package's) end the programs of users still
// logged in and leave the same nothing behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "console/core/environment.h"
#include "console/core/quota_files.h"
#include "deploy/testing/deployed_machine.h"
#include "deploy/testing/road.h"
#include "platform/fs/files.h"
#include "platform/process/process.h"
#include "platform/spool/cups_spooler.h"

namespace zv::deploy {
namespace {

namespace sfs = std::filesystem;
using namespace std::chrono_literals;
using testing::Account;
using testing::DeployedMachine;
using testing::WaitUntil;

class NoMessages : public console::MessageSink {
 public:
  int Show(const std::string& text, uint32_t) override {
    shown += text + "\n";
    return 1;
  }
  std::string shown;
};

// Takes the machine; gives a free TCP port of 127.0.0.1 (0 when none could be had).
int FreePort(const DeployedMachine& machine) {
  std::string out;
  machine.Run(nullptr,
              {"/usr/bin/python3", "-c",
               "import socket; s=socket.socket(); s.bind(('127.0.0.1',0)); print(s.getsockname()[1])"},
              &out, 30000);
  return std::atoi(out.c_str());
}

// Takes a path; gives the file's text, or an empty text when it cannot be read.
std::string ReadOr(const std::string& path) {
  auto t = fs::ReadFile(path);
  return t.ok() ? *t : std::string();
}

// Takes a folder; gives the documents the printer kept there (ippeveprinter -k).
std::vector<std::string> Received(const std::string& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : sfs::recursive_directory_iterator(dir, ec))
    if (e.is_regular_file() && e.path().extension() == ".pdf") out.push_back(e.path().string());
  return out;
}

// Takes an installed tree; gives the processes whose program is one of its programs (the
// kernel's record of each process's program, a deleted file's included), a "pid program"
// line each.
std::string ProgramsRunningFrom(const std::string& prefix) {
  std::string found;
  std::error_code ec;
  for (const auto& e : sfs::directory_iterator("/proc", ec)) {
    const std::string pid = e.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    char target[PATH_MAX];
    const ssize_t n = ::readlink((e.path() / "exe").c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    const std::string program(target, static_cast<std::size_t>(n));
    if (program.rfind(prefix + "/bin/", 0) == 0) found += pid + " " + program + "\n";
  }
  return found;
}

// Takes a machine purged while the user `who` was logged in; checks that nothing of the
// system is left but the user's own folder: no runtime root, installed tree, autostart entry,
// backend, filter, queue, job-owner block in cupsd.conf or program running on.
void ExpectNothingLeft(DeployedMachine& machine, const Account& who) {
  for (const std::string& gone :
       {machine.server_root(), machine.prefix(), machine.autostart() + "/ulmerith.desktop",
        machine.scheduler().dir() + "/serverbin/backend/zelvora", machine.scheduler().dir() + "/serverbin/backend/olviport",
        machine.scheduler().dir() + "/serverbin/filter/kelvad"}) {
    struct stat st {};
    EXPECT_NE(::lstat(gone.c_str(), &st), 0) << gone << " is left after the purge";
  }
  std::string out;
  EXPECT_NE(machine.Run(nullptr, {"lpstat", "-h", machine.scheduler().socket(), "-p", "Zelvora"}, &out), 0) << out;
  EXPECT_NE(machine.Run(nullptr, {"lpstat", "-h", machine.scheduler().socket(), "-p", "Zelvora-Raster"}, &out), 0)
      << out;
  EXPECT_EQ(ReadOr(machine.scheduler().dir() + "/etc/cupsd.conf").find("# zelvora"), std::string::npos);
  // Only this machine's programs count: other tests may run their own meanwhile.
  EXPECT_EQ(ProgramsRunningFrom(machine.prefix()), "");
  EXPECT_TRUE(sfs::exists(who.home + "/.local/state/zelvora")) << "the user's own folder is the user's";
}

TEST(OfficeRoad, AUsersLibreOfficeJobPrintsOnTheOfficesIppPrinterAndThePurgeLeavesNothing) {
  if (std::string missing = DeployedMachine::Missing(); !missing.empty()) GTEST_SKIP() << missing;
  ASSERT_EQ(::access("/usr/sbin/ippeveprinter", X_OK), 0) << "ippeveprinter (cups-ipp-utils) is not installed";
  std::string error;
  auto machine =
      DeployedMachine::Install(ZELVORA_BUILD_DIR, ZELVORA_SOURCE_DIR, {{"emi", 2011, ""}}, &error, {"--spooler", "cups"});
  ASSERT_NE(machine, nullptr) << error;
  const Account& emi = machine->user("emi");
  EXPECT_EQ(ReadOr(machine->printers() + "/backend"), "cups\n");

  // 2. The office printer: an IPP Everywhere printer, added as the README says.
  const std::string received = machine->dir() + "/ipp-printer";
  sfs::create_directories(received);
  const int port = FreePort(*machine);
  ASSERT_GT(port, 0);
  process::StartOptions po;
  // The printer listens on localhost (IPv4 and IPv6), keeps what it receives, advertises
  // nothing and needs no DNS-SD daemon (the preloaded stand-in).
  po.argv = {"/usr/bin/env", std::string("LD_PRELOAD=") + ZELVORA_NO_DNSSD, "/usr/sbin/ippeveprinter", "-k", "-d",
             received, "-p", std::to_string(port), "-n", "localhost", "-f", "application/pdf", "-r", "off", "Office"};
  po.output_file = machine->dir() + "/log/ippeveprinter.out";
  auto printer = process::Start(po);
  ASSERT_TRUE(printer.ok()) << printer.status().ToString();
  struct Stop {
    process::Process* p;
    ~Stop() {
      (void)p->Kill(SIGTERM);
      (void)p->Wait(10000);
    }
  } stop{&*printer};
  const std::string uri = "ipp://127.0.0.1:" + std::to_string(port) + "/ipp/print";
  std::string out;
  ASSERT_TRUE(WaitUntil(
      [&] { return machine->Run(nullptr, {"ipptool", "-q", uri, "get-printer-attributes.test"}, nullptr, 30000) == 0; },
      60s))
      << "the IPP printer did not answer";
  ASSERT_EQ(machine->Run(nullptr, {"lpadmin", "-h", machine->scheduler().socket(), "-p", "Office", "-E", "-v", uri,
                                   "-m", "everywhere"},
                         &out),
            0)
      << out;

  // 3. The users are members of "zelvora" (the test's account database makes them so).
  // 4. The console: the printer offered from the scheduler's queues (the virtual printer's own
  // are not), managed as a monochrome printer, the list written from the scheduler's
  // answers, and the users registered.
  std::string dsn;
  ASSERT_EQ(testing::SetUpUsers(*machine, &dsn), "");
  ::setenv("CUPS_SERVER", machine->scheduler().socket().c_str(), 1);
  spool::CupsSpooler cups(machine->scheduler().socket());
  const auto offered = console::ListCandidatePrinters(cups);
  EXPECT_EQ(offered, std::vector<std::string>{"Office"});
  ASSERT_EQ(testing::Sql(dsn, "INSERT INTO Printers (PID,PrinterName,Ptype,Used) VALUES (1,'Office',0,1)"), "");
  NoMessages sink;
  ASSERT_TRUE(console::WriteManagedPrinterList(cups, {{1, "Office", 0, 1}}, machine->share() + "/PrintInfo/printers.lst",
                                               sink))
      << sink.shown;
  EXPECT_NE(ReadOr(machine->share() + "/PrintInfo/printers.lst").find("Office"), std::string::npos);

  // 5, 6. The user's session; a LibreOffice document of two pages printed to "Zelvora".
  ASSERT_TRUE(machine->StartSession(emi).ok()) << machine->Logs();
  const std::string text = machine->dir() + "/docs/letter.txt";
  sfs::create_directories(machine->dir() + "/docs");
  {
    std::ofstream t(text);
    t << "A letter for the office printer.\n\fIts second page.\n";
  }
  ::chmod((machine->dir() + "/docs").c_str(), 0755);
  ::chmod(text.c_str(), 0644);
  ASSERT_EQ(machine->Run(&emi, {"soffice", "--headless", "--norestore", "--pt", "Zelvora", text}, &out), 0) << out;
  ASSERT_TRUE(WaitUntil([&] { return !Received(received).empty(); }, 240s))
      << "the office printer received nothing\n"
      << machine->Logs() << ReadOr(po.output_file);
  const std::string document = Received(received).front();
  ASSERT_EQ(machine->Run(nullptr, {"pdfinfo", document}, &out, 60000), 0) << out;
  const auto at = out.find("Pages:");
  ASSERT_NE(at, std::string::npos) << out;
  const int pages = std::atoi(out.c_str() + at + 6);
  EXPECT_GE(pages, 1) << out;

  // The console's data counts the printed pages under the user.
  ASSERT_TRUE(WaitUntil([&] {
    machine->Run(nullptr,
                 {"/usr/bin/env", "ZELVORA_ROOT=" + machine->server_root(), machine->prefix() + "/bin/tavolent-db",
                  "pages"},
                 &out, 60000);
    return out.find("emi") != std::string::npos;
  }, 60s)) << out;
  EXPECT_NE(out.find(std::to_string(pages)), std::string::npos) << out;

  // The set-up script's purge while the user is still logged in.
  ASSERT_EQ(machine->Purge(&out), 0) << out;
  ExpectNothingLeft(*machine, emi);
}

// The package's road of removal while a user is logged in, as the package manager takes it:
// the removal (the installed set-up script's --remove, which is also the script's own road)
// ends the user's resident program, which would otherwise run on from the removed files, and
// keeps the data and the scheduler's owner check; the purge ends a program started meanwhile,
// whose files are gone by then, and leaves the same nothing behind as the script's purge
// above.
TEST(OfficeRoad, ThePackagesRemovalEndsTheUsersProgramsAndItsPurgeLeavesTheSameNothing) {
  if (std::string missing = DeployedMachine::Missing(); !missing.empty()) GTEST_SKIP() << missing;
  std::string error, out;
  auto machine = DeployedMachine::Install(ZELVORA_BUILD_DIR, ZELVORA_SOURCE_DIR, {{"emi", 2011, ""}}, &error);
  ASSERT_NE(machine, nullptr) << error;
  const Account& emi = machine->user("emi");
  const std::string cupsd_conf = machine->scheduler().dir() + "/etc/cupsd.conf";
  auto resident_runs = [&] { return ProgramsRunningFrom(machine->prefix()).find("/ulmerith") != std::string::npos; };
  ASSERT_TRUE(machine->StartSession(emi).ok()) << machine->Logs();
  ASSERT_TRUE(WaitUntil(resident_runs, 30s)) << machine->Logs();

  ASSERT_EQ(machine->Remove(DeployedMachine::Removal::kPackage, false, &out), 0) << out;
  EXPECT_EQ(ProgramsRunningFrom(machine->prefix()), "") << "after the removal";
  EXPECT_NE(ReadOr(cupsd_conf).find("# zelvora: job owners"), std::string::npos)
      << "a removal keeps the scheduler's owner check";
  EXPECT_TRUE(sfs::exists(machine->server_root() + "/db")) << "a removal keeps the data";

  auto again = machine->StartAs(emi, {machine->prefix() + "/bin/ulmerith"}, {}, "again");
  ASSERT_TRUE(again.ok()) << again.status().ToString();
  ASSERT_TRUE(WaitUntil(resident_runs, 30s)) << machine->Logs();
  ASSERT_EQ(machine->Remove(DeployedMachine::Removal::kPackage, true, &out), 0) << out;
  (void)again->Wait(5000);
  EXPECT_NE(out.find("removed " + machine->server_root()), std::string::npos)
      << "the purge says what it removed, after removing it:\n"
      << out;
  ExpectNothingLeft(*machine, emi);
}

}  // namespace
}  // namespace zv::deploy
