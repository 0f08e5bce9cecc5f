// ulmerith: the resident program of the client. One instance per user and runtime root holds
// the settings blocks and the window "ZvPermanent" until it is told to end (SIGTERM, SIGINT
// or WM_CLOSE).
#include <pwd.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

#include "capture/common/log.h"
#include "capture/spool/spool.h"
#include "capture/ulmerith/resident.h"
#include "capture/ulmerith/spool_worker.h"
#include "platform/paths/paths.h"
#include "platform/process/process.h"
#include "platform/registry/registry.h"
#include "platform/sync/guard.h"

namespace {

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

}  // namespace

int main() {
  auto guard = zv::sync::NamedGuard::TryAcquire("Ulmerith");
  if (!guard.ok()) {
    zv::capture::AppendCaptureLog("a resident program already runs for this user; this one ends");
    std::fprintf(stderr, "ulmerith: already running\n");
    return 0;
  }
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
  if (!home.empty() && folder.ok()) {
    zv::capture::SpoolWorker::Options so;
    so.folder = zv::capture::SpoolFolder(zv::capture::CaptureRootFor(home, std::getenv("ZELVORA_CAPTURE_ROOT")));
    so.feeder = *folder + "/zelvora-feeder";
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
