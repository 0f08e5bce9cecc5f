// A small service program for the service tests. First argument: how it behaves.
//   normal       start pending, then running; on stop: stop pending, then end
//   hold-start   stays start pending (check point 2) until asked to stop
//   ignore-stop  running, and ignores stop requests (the test kills it)
//   crash        running, then ends without reporting stopped
// Every argument it got is written to $ZELVORA_ROOT/host-args.txt.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/base/root.h"
#include "platform/service/service.h"
#include "platform/sync/event.h"

using zv::service::Control;
using zv::service::ServiceContext;
using zv::service::State;

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  zv::sync::Event stop;
  // A report the manager refuses is printed; the test then sees the state it did not get.
  auto report = [](ServiceContext& ctx, State state, uint32_t check = 0, uint32_t wait_hint = 0) {
    zv::Status st = ctx.ReportStatus(state, check, wait_hint);
    if (!st.ok()) std::fprintf(stderr, "ReportStatus: %s\n", st.ToString().c_str());
  };
  auto main_fn = [&](ServiceContext& ctx) {
    if (FILE* f = std::fopen((zv::RuntimeRoot() + "/host-args.txt").c_str(), "w")) {
      for (const auto& a : ctx.args()) std::fprintf(f, "%s\n", a.c_str());
      std::fclose(f);
    }
    report(ctx, State::kStartPending, 1, 2000);
    if (mode == "hold-start") {
      report(ctx, State::kStartPending, 2, 5000);
      stop.Wait(-1);
      return;
    }
    report(ctx, State::kRunning);
    if (mode == "crash") std::_Exit(9);
    stop.Wait(-1);
    report(ctx, State::kStopPending, 1, 30000);
  };
  auto handler = [&](ServiceContext& ctx, Control c) {
    if (mode == "ignore-stop") return;
    stop.Set();
  };
  zv::Status s = zv::service::RunService("Zelvora Test Service", argc, argv, main_fn, handler);
  if (!s.ok()) {
    std::fprintf(stderr, "%s\n", s.ToString().c_str());
    return s.code() == zv::Status::Code::kNotSupported ? 3 : 4;
  }
  return 0;
}
