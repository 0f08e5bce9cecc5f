// The engine's whole road for 1-page jobs with the folder printer: a request renamed into
// its slot until its answer file is there. Gives the latency per request and the requests
// per minute (requests are sent one after the other, as one client would).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "engine/hevrasto/main_frame.h"
#include "engine/hevrasto/server_setup.h"
#include "platform/process/process.h"
#include "platform/testing/temp_root.h"
#include "platform/winmsg/winmsg.h"

namespace {
namespace fsys = std::filesystem;
using namespace zv::engine;

void BM_RequestSlotToAnswer(benchmark::State& state) {
  zv::testing::TempRoot root;
  auto folders = SetUpServer(ServerSetupOptions{});
  if (!folders.ok()) {
    state.SkipWithError(folders.status().ToString().c_str());
    return;
  }
  const char* bin = std::getenv("ZELVORA_BENCH_BIN_DIR");
  // The engine program lies beside the benchmark unless told otherwise.
  std::string dir = bin ? bin : fsys::canonical("/proc/self/exe").parent_path().string();
  zv::process::StartOptions o;
  o.argv = {dir + "/hevrasto", "-ZelvoraPrintService"};
  o.ready_signal = true;
  o.output_file = root.str() + "/hevrasto.out";
  auto engine = zv::process::Start(o);
  if (!engine.ok() || !engine->WaitReady(20000).ok()) {
    state.SkipWithError("engine did not start");
    return;
  }
  int n = 0;
  double total_seconds = 0;
  for (auto _ : state) {
    std::string job = "b" + std::to_string(n) + ".prc";
    std::string machine = "pc" + std::to_string(n++);
    WriteSampleJob(folders->jobs + "/" + job, 1);
    std::string text = RequestText(RequestSpec{"alice", machine, job, {{"Bench", 1}}});
    std::string answer = folders->result + "/alice-" + machine + ".ans";
    auto start = std::chrono::steady_clock::now();
    auto slot = SubmitRequest(folders->print_info, text);
    if (!slot.ok()) {
      state.SkipWithError("no free slot");
      break;
    }
    std::string an2 = folders->result + "/" + *slot + "-alice-" + machine + ".an2";
    while (!(fsys::exists(answer) && fsys::exists(an2))) std::this_thread::sleep_for(std::chrono::microseconds(200));
    auto end = std::chrono::steady_clock::now();
    double seconds = std::chrono::duration<double>(end - start).count();
    total_seconds += seconds;
    state.SetIterationTime(seconds);
  }
  if (total_seconds > 0) state.counters["requests_per_min"] = static_cast<double>(state.iterations()) * 60 / total_seconds;
  zv::winmsg::PostMessage(zv::winmsg::FindWindow(kEngineWindowClass, nullptr), zv::winmsg::WM_CLOSE, 0, 0);
  if (!engine->Wait(30000).ok()) engine->Kill(9);
}
BENCHMARK(BM_RequestSlotToAnswer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(100);

}  // namespace

BENCHMARK_MAIN();
