#include "service/service_host.h"

#include <strings.h>

#include <cerrno>
#include <optional>

#include "engine/core/event_writer.h"
#include "engine/hevrasto/main_frame.h"
#include "engine/rules/event_table.h"
#include "platform/paths/paths.h"
#include "platform/process/process.h"
#include "platform/process/usage.h"
#include "platform/service/service.h"
#include "platform/sync/event.h"
#include "platform/winmsg/winmsg.h"

namespace zv::service_host {
namespace {

using engine::kServiceEventSource;

void Event(int number, const char* text = nullptr, int code = 0) {
  std::string extra = text ? text : "";
  // A refused entry still reaches syslog (eventlog::Report sends it there too).
  (void)engine::WriteEventLog(kServiceEventSource, number, text ? &extra : nullptr, &code);
}

winmsg::HWND EngineWindow() { return winmsg::FindWindow(engine::kEngineWindowClass, nullptr); }

void CloseEngineWindow() {
  if (winmsg::HWND w = EngineWindow()) winmsg::PostMessage(w, winmsg::WM_CLOSE, 0, 0);
}

struct Host {
  sync::Event stop;
  std::optional<process::Process> engine;
};
Host* g_host = nullptr;

void ReportOrLog(service::ServiceContext& ctx, service::State s, uint32_t cp, uint32_t hint, int code = 0,
                 bool* ok = nullptr) {
  Status st = ctx.ReportStatus(s, cp, hint, code);
  if (!st.ok()) Event(engine::kEvServiceStatusFailed, "[SetServiceStatus() failed]", errno);
  if (ok) *ok = st.ok();
}

void StopWithCode(service::ServiceContext& ctx, Host& host, int code) {
  CloseEngineWindow();
  // The engine finishes the job in hand first; it gets a limited time for that.
  if (host.engine && host.engine->Running()) {
    if (!host.engine->Wait(kEngineStopLimitMs).ok()) {
      Event(engine::kEvServiceStopFailed, "[engine did not end]");
      // SIGKILL cannot be refused; the wait only reaps it, and the service reports stopped
      // whatever it gives (a stop that could not finish is in the event log above).
      (void)host.engine->Kill(9);
      (void)host.engine->Wait(5000);
    }
  }
  ReportOrLog(ctx, service::State::kStopped, 0, 0, code);
  Event(engine::kEvServiceStopped);
}

void ServiceMain(service::ServiceContext& ctx) {
  Host& host = *g_host;
  ReportOrLog(ctx, service::State::kStartPending, 1, 2000);
  host.stop.Reset();
  ReportOrLog(ctx, service::State::kStartPending, 2, 5000);
  if (EngineWindow() == 0) {
    auto folder = paths::ProgramFolder();
    process::StartOptions o;
    o.argv = {(folder.ok() ? *folder : std::string(".")) + "/" + kEngineProgram, engine::kEngineArgument};
    o.ready_signal = true;
    auto p = process::Start(o);
    if (!p.ok()) {
      Event(engine::kEvServiceStartFailed, ("[" + p.status().ToString() + "]").c_str(), ENOENT);
      StopWithCode(ctx, host, ENOENT);
      return;
    }
    host.engine = std::move(*p);
    for (uint32_t cp = 3; cp <= 11; ++cp) {
      Status ready = host.engine->WaitReady(5000);
      if (ready.code() != Status::Code::kTimeout) break;
      bool ok = false;
      ReportOrLog(ctx, service::State::kStartPending, cp, 5000, 0, &ok);
      if (!ok) break;
    }
  }
  bool running = false;
  if (EngineWindow() != 0) ReportOrLog(ctx, service::State::kRunning, 0, 0, 0, &running);
  if (!running) {
    StopWithCode(ctx, host, errno ? errno : 1);
    return;
  }
  Event(engine::kEvServiceStarted);
  host.stop.Wait(-1);
  StopWithCode(ctx, host, 0);
}

void Control(service::ServiceContext& ctx, service::Control) {
  ReportOrLog(ctx, service::State::kStopPending, 1, 30000);
  CloseEngineWindow();
  g_host->stop.Set();
}

}  // namespace

Command ParseCommandLine(const std::vector<std::string>& args) {
  if (args.empty() || args[0].empty() || (args[0][0] != '-' && args[0][0] != '/')) return Command::kRunService;
  if (args[0] == "--help") return Command::kHelp;
  if (args[0].starts_with("--")) return Command::kUnknownOption;
  if (args.size() != 1) return Command::kNothing;
  const char* word = args[0].c_str() + 1;
  if (strcasecmp(word, "install") == 0) return Command::kInstall;
  if (strcasecmp(word, "remove") == 0) return Command::kRemove;
  return Command::kNothing;
}

int ShowUsage(const std::vector<std::string>& args) {
  static constexpr process::Usage kUsage{
      "inkarrow",
      "Usage: inkarrow [-install | -remove]\n"
      "The service host: installs the service \"Zelvora Service\" and runs the print engine as it.\n"
      "\n"
      "Arguments (each with \"-\" or \"/\", any letter case):\n"
      "  -install   install the service for this program and start it\n"
      "  -remove    stop the service when it runs and remove it\n"
      "  (none)     run as the service, as the service table starts it: start the engine\n"
      "             hevrasto from this program's folder and close it when the service stops\n"
      "  --help     show this text\n"
      "Any other switch does nothing.\n"
      "\n"
      "Environment:\n" ZV_USAGE_ROOT_ENVIRONMENT
      "  ZELVORA_SYSTEMD_UNIT_DIR  where the service's systemd unit is written (default\n"
      "                         /etc/systemd/system when systemd runs)\n"};
  if (!args.empty() && args[0] == "--help") return kUsage.Help();
  return kUsage.Error("unknown option " + (args.empty() ? std::string() : args[0]));
}

int Install() {
  auto program = paths::ProgramPath();
  if (!program.ok()) {
    Event(engine::kEvServiceInstallFailed, "[GetModuleFileName() failed]", errno);
    return 1;
  }
  service::Manager manager;
  Status made = manager.Install(service::ServiceConfig{kServiceName, kServiceName, *program, {}});
  if (!made.ok()) {
    Event(engine::kEvServiceCreateFailed, ("[CreateService() failed]\r\n" + made.ToString()).c_str(), errno);
    return 1;
  }
  Event(engine::kEvServiceInstalled);
  Status started = manager.Start(kServiceName);
  if (!started.ok()) {
    Event(engine::kEvServiceStartFailed, ("[StartService() failed]\r\n" + started.ToString()).c_str(), errno);
    return 1;
  }
  return 0;
}

int Remove() {
  service::Manager manager;
  auto status = manager.Query(kServiceName);
  if (!status.ok()) {
    Event(engine::kEvServiceRemoveFailed, "[OpenService() failed]", errno);
    return 1;
  }
  if (status->state != service::State::kStopped) {
    auto stopped = manager.Stop(kServiceName, kEngineStopLimitMs + 30000);
    if (!stopped.ok() || stopped->state != service::State::kStopped) Event(engine::kEvServiceStopFailed);
  }
  Status removed = manager.Remove(kServiceName);
  if (!removed.ok()) {
    Event(engine::kEvServiceRemoveFailed, ("[DeleteService() failed]\r\n" + removed.ToString()).c_str(), errno);
    return 1;
  }
  Event(engine::kEvServiceRemoved);
  return 0;
}

int RunAsService(int argc, char** argv) {
  Host host;
  g_host = &host;
  Status st = service::RunService(kServiceName, argc, argv, ServiceMain, Control);
  g_host = nullptr;
  if (!st.ok()) {
    int zero = 0;
    std::string extra = st.ToString();
    (void)engine::WriteEventLogText(kServiceEventSource, "Called SCM:StartServiceCtrlDispatcher failed", &extra, &zero);
    return 1;
  }
  return 0;
}

}  // namespace zv::service_host
