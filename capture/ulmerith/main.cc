// ulmerith: the resident program of the client. One instance per user and runtime root holds
// the settings blocks and the window "ZvPermanent" until it is told to end (SIGTERM, SIGINT
// or WM_CLOSE).
#include <pwd.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "capture/common/kept.h"
#include "capture/common/log.h"
#include "capture/spool/spool.h"
#include "capture/ulmerith/resident.h"
#include "capture/ulmerith/spool_worker.h"
#include "platform/paths/paths.h"
#include "platform/process/process.h"
#include "platform/process/usage.h"
#include "platform/registry/registry.h"
#include "platform/sync/guard.h"

namespace {

constexpr zv::process::Usage kUsage{
    "ulmerith",
    "Usage: ulmerith\n"
    "The client's resident program: holds the capture settings and feeds this user's print jobs.\n"
    "\n"
    "It takes no arguments (--help shows this text). One runs per user and runtime root, started\n"
    "with the desktop session; it ends on SIGTERM, SIGINT or WM_CLOSE. It watches the user's\n"
    "spool folder ~/.local/state/zelvora/spool (root's: spool/ in its runtime root) for the\n"
    "printer queues' jobs, hands each to zelvora-feeder, and starts the job monitor welmoric\n"
    "when the machine names a print server.\n"
    "\n"
    "Environment:\n" ZV_USAGE_ROOT_ENVIRONMENT
    "  ZELVORA_CAPTURE_ROOT   the folder whose spool/ the queues write, %h standing for the\n"
    "                         home folder (default %h/.local/state/zelvora)\n"
    "  ZELVORA_SYSTEM_CONFIG  the machine-wide settings folder (default PREFIX/etc)\n"};

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

// Starts the job monitor when the machine is attached to a print server.
void StartJobMonitor() {
  auto key = zv::registry::Key::Open(zv::registry::RootKey::kLocalMachine, "SOFTWARE\\Orbelin\\Zelvora\\1.0");
  if (!key.ok()) return;
  auto server = key->GetString("ServerName");
  if (!server.ok() || server->empty()) return;
  auto folder = zv::paths::ProgramFolder();
  if (!folder.ok()) return;
  zv::process::StartOptions o;
  o.argv = {*folder + "/welmoric"};
  o.detached = true;
  auto p = zv::process::Start(o);
  if (!p.ok()) zv::capture::AppendCaptureLog("job monitor not started: " + p.status().ToString());
}

// What earlier sessions left in the temporary folder: capture files of feeders that were
// ended and the page files of a client that was. Nothing is touched while a client runs (its
// page files are in use, and a job it was handed may still wait there to be read).
void SweepTemporaryFolder() {
  auto tmp = zv::capture::ResidentTempFolder();
  if (!tmp.ok()) return;
  auto client = zv::sync::NamedGuard::TryAcquire("Ostrane");
  if (!client.ok()) return;
  for (const std::string& name : zv::capture::SweepCaptureFolder(*tmp, {}, true))
    zv::capture::AppendCaptureLog("left over from an earlier session and removed: " + *tmp + "/" + name);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (auto done = zv::process::CheckOptions(args, {}, kUsage)) return *done;
  if (!args.empty()) return kUsage.Error("takes no arguments");
  auto guard = zv::sync::NamedGuard::TryAcquire("Ulmerith");
  if (!guard.ok()) {
    zv::capture::AppendCaptureLog("a resident program already runs for this user; this one ends");
    std::fprintf(stderr, "ulmerith: already running\n");
    return 0;
  }
  SweepTemporaryFolder();
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);
  zv::capture::Resident::Options options;
  options.quit_on_destroy = true;
  auto resident = zv::capture::Resident::Create(std::move(options));
  if (!resident.ok()) {
    zv::capture::AppendCaptureLog("resident program not started: " + resident.status().ToString());
    std::fprintf(stderr, "ulmerith: %s\n", resident.status().ToString().c_str());
    return 1;
  }
  // The user's spool folder, by the same rule the backend writes it.
  std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  if (home.empty()) {
    if (passwd* pw = ::getpwuid(::getuid())) home = pw->pw_dir;
  }
  std::unique_ptr<zv::capture::SpoolWorker> spool;
  auto folder = zv::paths::ProgramFolder();
  if ((!home.empty() || ::geteuid() == 0) && folder.ok()) {
    zv::capture::SpoolWorker::Options so;
    so.folder = zv::capture::SpoolFolder(zv::capture::OwnCaptureRoot(home, std::getenv("ZELVORA_CAPTURE_ROOT")));
    so.feeder = *folder + "/zelvora-feeder";
    if (auto tmp = zv::capture::ResidentTempFolder(); tmp.ok()) so.capture_folder = *tmp;
    auto worker = zv::capture::SpoolWorker::Start(so);
    if (worker.ok()) {
      spool = std::move(*worker);
    } else {
      zv::capture::AppendCaptureLog("the spool folder is not watched: " + worker.status().ToString());
    }
  }
  (*resident)->SetTickHandler([&spool] {
    if (g_stop) zv::winmsg::PostQuitMessage(0);
    if (spool) spool->Tick();
  });
  StartJobMonitor();
  zv::process::SignalReady();
  int code = zv::winmsg::RunMessageLoop();
  resident->reset();
  return code;
}
