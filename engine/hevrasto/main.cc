// hevrasto: the server print engine. Started by the service host with the single argument
// "-ZelvoraPrintService"; one instance per runtime root.
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <thread>

#include "engine/core/event_writer.h"
#include "engine/hevrasto/main_frame.h"
#include "engine/rules/event_table.h"
#include "platform/process/usage.h"
#include "platform/spool/spool.h"
#include "platform/sync/guard.h"

namespace {

constexpr zv::process::Usage kUsage{
    "hevrasto",
    "Usage: hevrasto -ZelvoraPrintService\n"
    "The server print engine: prints the requests placed in the share and writes the answers.\n"
    "\n"
    "Arguments:\n"
    "  -ZelvoraPrintService   run as the print engine (any letter case), as the service host\n"
    "                         inkarrow starts it; one engine runs per runtime root. Any other\n"
    "                         argument, or none, writes the engine's end event and exits 1\n"
    "  --help                 show this text\n"
    "\n"
    "Environment:\n" ZV_USAGE_ROOT_ENVIRONMENT
    ZV_USAGE_SPOOLER_ENVIRONMENT
    "  ZELVORA_ENGINE_RESCAN_MS  how often the request folder is read again, in ms (default 5000)\n"
    "  ZELVORA_ENGINE_CLAIM_MS   how long a request slot claimed but not written whole waits\n"
    "                         before it is set aside as abandoned, in ms (default and most 60000)\n"};

void Event(int number, const std::string* extra = nullptr) {
  int zero = 0;
  // A refused entry still reaches syslog (eventlog::Report sends it there too).
  (void)zv::engine::WriteEventLog(zv::engine::kEngineEventSource, number, extra, &zero);
}
}  // namespace

int main(int argc, char** argv) {
  using namespace zv::engine;
  // "--help" and other two-dash options are this program's own; the service host's argument
  // and any other single-dash text keep their meaning below.
  if (argc >= 2 && std::string_view(argv[1]) == "--help") return kUsage.Help();
  if (argc >= 2 && std::string_view(argv[1]).starts_with("--"))
    return kUsage.Error(std::string("unknown option ") + argv[1]);
  // SIGTERM and SIGINT close the main window as the service host does, so that the job in
  // hand is finished and "Wakeup.inf" removed. Blocked here, before any thread starts.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  auto guard = zv::sync::NamedGuard::TryAcquire(kEngineMutexName);
  if (!guard.ok() || argc < 2 || strcasecmp(argv[1], kEngineArgument) != 0) {
    Event(kEvEngineEnded);
    return 1;
  }
  auto spooler = zv::spool::OpenSpooler();
  if (!spooler.ok()) {
    std::string extra = "[spooler] " + spooler.status().ToString();
    Event(kEvEngineStartFailed, &extra);
    Event(kEvEngineEnded);
    return 1;
  }
  CMainFrame::Options options;
  if (const char* t = getenv("ZELVORA_ENGINE_RESCAN_MS")) options.worker.rescan_ms = atoi(t) > 0 ? atoi(t) : 5000;
  if (const char* t = getenv("ZELVORA_ENGINE_CLAIM_MS"))
    options.worker.claim_abandon_ms =
        atoi(t) > 0 ? std::min(atoi(t), zv::share::kClaimAbandonMs) : zv::share::kClaimAbandonMs;
  CMainFrame frame(**spooler, options);
  if (!frame.Create().ok()) {
    Event(kEvEngineEnded);
    return 1;
  }
  zv::winmsg::HWND hwnd = frame.hwnd();
  std::thread([stop_signals, hwnd] {
    int sig = 0;
    if (sigwait(&stop_signals, &sig) == 0) zv::winmsg::PostMessage(hwnd, zv::winmsg::WM_CLOSE, 0, 0);
  }).detach();
  zv::winmsg::PostMessage(frame.hwnd(), WM_ENGINE_START, 0, 0);
  Event(kEvEngineStarted);
  int code = zv::winmsg::RunMessageLoop();
  Event(kEvEngineEnded);
  return code;
}
