// The engine's whole road for 1-page jobs with the folder printer: a request renamed into
// its slot until its answer file is there.
//
// BM_OneClient sends requests one after the other, as one client would, and gives the
// median, 95th and 99th percentile from the rename to the answer file.
// BM_TwentyClients runs 20 clients at once, 25 requests each, each waiting for its answer
// (and taking it away, as the client does) before its next request; it gives the requests
// per minute and the same percentiles, and fails when a request is not answered exactly
// once.
//
// Both give the median time of each step of the engine (counters "ms_<step>": from the
// previous step of the same request; for one client "ms_woke" runs from the rename), read
// from the time stamps the engine writes when ZELVORA_ENGINE_PHASE_LOG names a file. A CPU
// profile would miss the waits and the fsyncs these include.
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "engine/db/schema.h"
#include "engine/hevrasto/main_frame.h"
#include "engine/hevrasto/server_setup.h"
#include "engine/rules/settings.h"
#include "platform/odbc/odbc.h"
#include "platform/process/process.h"
#include "platform/testing/temp_root.h"
#include "platform/winmsg/winmsg.h"

namespace {
namespace fsys = std::filesystem;
using namespace zv::engine;

int64_t MonotonicNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

// A set-up server with a running engine that stamps its steps.
class Server {
 public:
  explicit Server(benchmark::State& state) {
    auto folders = SetUpServer(ServerSetupOptions{});
    if (!folders.ok()) {
      state.SkipWithError(folders.status().ToString().c_str());
      return;
    }
    folders_ = *folders;
    // No limit for alice: the benchmark prints far more than her quota.
    auto c = zv::odbc::Connection::Open(std::string(kEmbeddedDataSource), "", "");
    if (!c.ok() || !(*c)->Execute("UPDATE Main SET MaxPages=0 WHERE Account='alice'").ok()) {
      state.SkipWithError("database not set up");
      return;
    }
    const char* bin = std::getenv("ZELVORA_BENCH_BIN_DIR");
    // The engine program lies beside the benchmark unless told otherwise.
    std::string dir = bin ? bin : fsys::canonical("/proc/self/exe").parent_path().string();
    phase_log_ = root_.str() + "/phases.log";
    zv::process::StartOptions o;
    o.argv = {dir + "/hevrasto", "-ZelvoraPrintService"};
    o.env = {"ZELVORA_ENGINE_PHASE_LOG=" + phase_log_};
    o.ready_signal = true;
    o.output_file = root_.str() + "/hevrasto.out";
    auto engine = zv::process::Start(o);
    if (!engine.ok() || !engine->WaitReady(20000).ok()) {
      state.SkipWithError("engine did not start");
      return;
    }
    engine_ = std::move(*engine);
    ok_ = true;
  }
  ~Server() {
    if (!engine_) return;
    zv::winmsg::PostMessage(zv::winmsg::FindWindow(kEngineWindowClass, nullptr), zv::winmsg::WM_CLOSE, 0, 0);
    if (!engine_->Wait(30000).ok()) (void)engine_->Kill(9);  // ended either way
  }
  bool ok() const { return ok_; }
  const ServerFolders& folders() const { return folders_; }

  // Places one request of `machine` and waits for its answer; takes the answer away as the
  // client does. Gives the seconds from the rename to the answer, or -1 (with *why) when it
  // failed; *renamed gets the moment of the rename.
  double Request(const std::string& machine, int n, int64_t* renamed, std::string* why) {
    std::string job = machine + "-" + std::to_string(n) + ".prc";
    if (!WriteSampleJob(folders_.jobs + "/" + job, 1).ok()) {
      *why = "job not written";
      return -1;
    }
    std::string text = RequestText(RequestSpec{"alice", machine, job, {{"Bench", 1}}});
    std::string answer = folders_.result + "/alice-" + machine + ".ans";
    auto start = std::chrono::steady_clock::now();
    *renamed = MonotonicNs();
    auto slot = SubmitRequest(folders_.print_info, text);
    if (!slot.ok()) {
      *why = "no free slot";
      return -1;
    }
    std::string an2 = folders_.result + "/" + *slot + "-alice-" + machine + ".an2";
    auto deadline = start + std::chrono::seconds(60);
    std::error_code ec;
    while (!(fsys::exists(answer, ec) && fsys::exists(an2, ec))) {
      if (std::chrono::steady_clock::now() > deadline) {
        *why = "no answer for " + machine;
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    fsys::remove(answer, ec);
    fsys::remove(an2, ec);
    return seconds;
  }

  // Reads the engine's step stamps: per request (from "locked" to "cleaned"), the time of
  // each step since the step before. `renamed` (one client only) gives each request's
  // rename, from which "woke" counts.
  void PhaseCounters(benchmark::State& state, const std::vector<int64_t>* renamed) {
    std::ifstream in(phase_log_);
    std::string slot, step;
    int64_t ns = 0;
    std::map<std::string, std::vector<double>> steps;
    std::vector<std::string> order;
    int64_t previous = 0;
    size_t request = 0;
    while (in >> slot >> step >> ns) {
      if (step == "woke") {
        if (renamed && request < renamed->size()) {
          steps["woke"].push_back(static_cast<double>(ns - (*renamed)[request]) / 1e6);
          if (std::find(order.begin(), order.end(), "woke") == order.end()) order.push_back("woke");
        }
        previous = ns;
        continue;
      }
      if (previous != 0) steps[step].push_back(static_cast<double>(ns - previous) / 1e6);
      if (std::find(order.begin(), order.end(), step) == order.end()) order.push_back(step);
      previous = ns;
      if (step == "cleaned") ++request;
    }
    for (const auto& name : order) state.counters["ms_" + name] = Percentile(steps[name], 0.5);
  }

 private:
  zv::testing::TempRoot root_;
  ServerFolders folders_;
  std::string phase_log_;
  std::optional<zv::process::Process> engine_;
  bool ok_ = false;
};

void Report(benchmark::State& state, const std::vector<double>& latencies) {
  state.counters["p50_ms"] = Percentile(latencies, 0.50) * 1000;
  state.counters["p95_ms"] = Percentile(latencies, 0.95) * 1000;
  state.counters["p99_ms"] = Percentile(latencies, 0.99) * 1000;
}

void BM_OneClient(benchmark::State& state) {
  Server server(state);
  if (!server.ok()) return;
  std::vector<double> latencies;
  std::vector<int64_t> renamed;
  int n = 0;
  for (auto _ : state) {
    int64_t at = 0;
    std::string why;
    double seconds = server.Request("pc1", n++, &at, &why);
    if (seconds < 0) {
      state.SkipWithError(why.c_str());
      break;
    }
    latencies.push_back(seconds);
    renamed.push_back(at);
    state.SetIterationTime(seconds);
  }
  Report(state, latencies);
  double total = 0;
  for (double s : latencies) total += s;
  if (total > 0) state.counters["requests_per_min"] = static_cast<double>(latencies.size()) * 60 / total;
  server.PhaseCounters(state, &renamed);
}
BENCHMARK(BM_OneClient)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);

void BM_TwentyClients(benchmark::State& state) {
  constexpr int kClients = 20, kEach = 25;
  Server server(state);
  if (!server.ok()) return;
  for (auto _ : state) {
    std::vector<std::vector<double>> per_client(kClients);
    std::atomic<int> failures{0};
    std::string first_failure;
    std::mutex failure_mutex;
    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
      clients.emplace_back([&, c] {
        std::string machine = "pc" + std::to_string(c);
        for (int n = 0; n < kEach; ++n) {
          int64_t at = 0;
          std::string why;
          double seconds = server.Request(machine, n, &at, &why);
          if (seconds < 0) {
            if (failures++ == 0) {
              std::lock_guard<std::mutex> l(failure_mutex);
              first_failure = why;
            }
            return;
          }
          per_client[c].push_back(seconds);
        }
      });
    }
    for (auto& t : clients) t.join();
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(wall);
    if (failures > 0) {
      state.SkipWithError(first_failure.c_str());
      return;
    }
    // Answered exactly once: no client finds a second answer after it took its own.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::error_code ec;
    for (const auto& e : fsys::directory_iterator(server.folders().result, ec)) {
      // Answers are "alice-<machine>.ans"; "alice-.ans" is the account's quota file.
      if (e.path().extension() == ".ans" && e.path().filename().string().rfind("alice-pc", 0) == 0) {
        state.SkipWithError(("answered twice: " + e.path().filename().string()).c_str());
        return;
      }
    }
    std::vector<double> latencies;
    for (const auto& v : per_client) latencies.insert(latencies.end(), v.begin(), v.end());
    Report(state, latencies);
    state.counters["requests"] = static_cast<double>(latencies.size());
    state.counters["requests_per_min"] = static_cast<double>(latencies.size()) * 60 / wall;
  }
  server.PhaseCounters(state, nullptr);
}
BENCHMARK(BM_TwentyClients)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
