// The engine's whole road for 1-page jobs with the folder printer: a request renamed into
// its slot until its answer file is there.
//
// BM_OneClient sends requests one after the other, as one client would, and gives the
// median, 95th and 99th percentile from the rename to the answer file, the requests per
// minute, the engine's CPU time per request ("cpu_ms", user and system of all its threads,
// from /proc/<pid>/stat) and its database round trips per request ("db_round_trips":
// connections opened, statements executed, transactions ended, counted by platform/odbc).
// BM_TwentyClients runs 20 clients at once, 25 requests each, each waiting for its answer
// (and taking it away, as the client does) before its next request; it gives the requests
// per minute and the same percentiles, and fails when a request is not answered exactly
// once.
// BM_FileSystemCalls sends ZELVORA_BENCH_REQUESTS (100) requests one after the other with
// `strace -f -c` attached to every thread of the engine (after three requests to warm up),
// and gives the engine's file-system calls per request by kind ("fs_open": open, openat;
// "fs_stat": stat, lstat, fstat, newfstatat, statx, access, faccessat; "fs_readlink";
// "fs_rename"; "fs_unlink": unlink, unlinkat, rmdir; "fs_fsync": fsync, fdatasync; "fs_chmod";
// "fs_chown"), in all ("fs_calls"), and split into those on the folder printer's own files
// ("fs_printer": the spooler's part, which a scheduler does over IPP as deployed) and the
// rest ("fs_engine"); it is skipped where strace is missing. Its times are strace's, not
// the engine's.
//
// BM_OneClient and BM_TwentyClients give the median time of each step of the engine
// (counters "ms_<step>": from the previous step of the same request; for one client
// "ms_woke" runs from the rename), read from the time stamps the engine writes when
// ZELVORA_ENGINE_PHASE_LOG names a file. A CPU profile would miss the waits and the fsyncs
// these include.
#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

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
  pid_t pid() const { return engine_->pid(); }
  // The folder printers' root of the server.
  std::string printers_folder() const { return root_.str() + "/printers"; }

  // Gives the engine's CPU time so far (user and system, all threads), in seconds.
  double CpuSeconds() const {
    std::ifstream in("/proc/" + std::to_string(pid()) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Fields after the command's closing parenthesis: state is field 3, utime 14, stime 15.
    size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream rest(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int f = 3; f <= 15 && rest >> field; ++f)
      if (f >= 14) ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
  }

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
  // Also gives the database round trips per request (from one "cleaned" to the next, the
  // `skip` first requests left out), as their mean.
  void PhaseCounters(benchmark::State& state, const std::vector<int64_t>* renamed, size_t skip = 0) {
    std::ifstream in(phase_log_);
    std::string line, slot, step;
    int64_t ns = 0;
    uint64_t trips = 0, trips_from = 0, trips_to = 0;
    std::map<std::string, std::vector<double>> steps;
    std::vector<std::string> order;
    int64_t previous = 0;
    size_t request = 0;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      if (!(fields >> slot >> step >> ns)) continue;
      if (!(fields >> trips)) trips = 0;
      if (step == "cleaned") {
        if (request + 1 == skip) trips_from = trips;
        trips_to = trips;
      }
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
    if (request > skip)
      state.counters["db_round_trips"] = static_cast<double>(trips_to - trips_from) / static_cast<double>(request - skip);
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

// Sends three requests that count for nothing: the engine's first request opens its
// connections and reads what it keeps. Gives false (the state told why) when one failed.
bool WarmUp(benchmark::State& state, Server& server, int* n, std::vector<int64_t>* renamed) {
  for (int i = 0; i < 3; ++i) {
    int64_t at = 0;
    std::string why;
    if (server.Request("pc1", (*n)++, &at, &why) < 0) {
      state.SkipWithError(why.c_str());
      return false;
    }
    if (renamed) renamed->push_back(at);
  }
  return true;
}

void BM_OneClient(benchmark::State& state) {
  Server server(state);
  if (!server.ok()) return;
  std::vector<double> latencies;
  std::vector<int64_t> renamed;
  int n = 0;
  if (!WarmUp(state, server, &n, &renamed)) return;
  const double cpu_start = server.CpuSeconds();
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
  if (!latencies.empty())
    state.counters["cpu_ms"] = (server.CpuSeconds() - cpu_start) * 1000 / static_cast<double>(latencies.size());
  Report(state, latencies);
  double total = 0;
  for (double s : latencies) total += s;
  if (total > 0) state.counters["requests_per_min"] = static_cast<double>(latencies.size()) * 60 / total;
  server.PhaseCounters(state, &renamed, 3);
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

// The file-system calls counted, by kind.
const std::vector<std::pair<std::string, std::vector<std::string>>>& CallKinds() {
  static const std::vector<std::pair<std::string, std::vector<std::string>>> kinds = {
      {"fs_open", {"open", "openat", "openat2", "creat"}},
      {"fs_stat", {"stat", "lstat", "fstat", "newfstatat", "statx", "access", "faccessat", "faccessat2"}},
      {"fs_readlink", {"readlink", "readlinkat"}},
      {"fs_rename", {"rename", "renameat", "renameat2"}},
      {"fs_unlink", {"unlink", "unlinkat", "rmdir"}},
      {"fs_fsync", {"fsync", "fdatasync"}},
      {"fs_chmod", {"chmod", "fchmod", "fchmodat"}},
      {"fs_chown", {"chown", "fchown", "lchown", "fchownat"}},
  };
  return kinds;
}

// strace attached to every thread of a process, writing its file-system calls (with the
// paths of their descriptors) until Finish.
class CallCounter {
 public:
  // Takes the process and the summary file; gives false when strace could not attach.
  bool Attach(pid_t pid, const std::string& summary) {
    summary_ = summary;
    std::string names;
    for (const auto& kind : CallKinds())
      for (const auto& n : kind.second) names += (names.empty() ? "" : ",") + n;
    std::vector<std::string> argv = {"strace", "-f", "-y", "-qq", "-e", "trace=" + names, "-o", summary};
    std::vector<pid_t> threads;
    std::error_code ec;
    for (const auto& t : fsys::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
      threads.push_back(std::stoi(t.path().filename().string()));
      argv.push_back("-p");
      argv.push_back(t.path().filename().string());
    }
    zv::process::StartOptions o;
    o.argv = argv;
    o.output_file = summary + ".out";
    auto p = zv::process::Start(o);
    if (!p.ok()) return false;
    strace_ = std::move(*p);
    // Attached when every thread names a tracer.
    for (int i = 0; i < 1000; ++i) {
      bool all = true;
      for (pid_t t : threads) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/task/" + std::to_string(t) + "/status");
        std::string key;
        long tracer = 0;
        bool seen = false;
        while (status >> key)
          if (key == "TracerPid:") {
            status >> tracer;
            seen = true;
            break;
          }
        all = all && seen && tracer != 0;
      }
      if (all) return true;
      if (!strace_->Running()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // Detaches strace; gives its count of calls by name, and in *printer those of the calls
  // that name a path containing `printer_part` (the folder printer's own files).
  std::map<std::string, double> Finish(const std::string& printer_part, double* printer) {
    std::map<std::string, double> calls;
    *printer = 0;
    if (!strace_) return calls;
    ::kill(strace_->pid(), SIGINT);
    (void)strace_->Wait(30000);
    // "TID name(arguments) = result"; a call another thread interrupted goes on in a line
    // "TID <... name resumed> ...", which is not counted again.
    std::ifstream in(summary_);
    std::string line;
    while (std::getline(in, line)) {
      size_t name_at = line.find_first_not_of("0123456789 ");
      if (name_at == std::string::npos || line[name_at] == '<') continue;
      size_t open = line.find('(', name_at);
      if (open == std::string::npos) continue;
      calls[line.substr(name_at, open - name_at)] += 1;
      if (line.find(printer_part, open) != std::string::npos) *printer += 1;
    }
    return calls;
  }

 private:
  std::string summary_;
  std::optional<zv::process::Process> strace_;
};

bool HaveStrace() { return ::access("/usr/bin/strace", X_OK) == 0 || ::access("/bin/strace", X_OK) == 0; }

void BM_FileSystemCalls(benchmark::State& state) {
  if (!HaveStrace()) {
    state.SkipWithError("strace is not installed");
    return;
  }
  const char* count_env = std::getenv("ZELVORA_BENCH_REQUESTS");
  const int requests = count_env ? std::max(1, std::atoi(count_env)) : 100;
  Server server(state);
  if (!server.ok()) return;
  int n = 0;
  if (!WarmUp(state, server, &n, nullptr)) return;
  for (auto _ : state) {
    CallCounter counter;
    const std::string summary = fsys::temp_directory_path().string() + "/zelvora-strace-" + std::to_string(::getpid());
    if (!counter.Attach(server.pid(), summary)) {
      state.SkipWithError("strace could not attach to the engine");
      return;
    }
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < requests; ++i) {
      int64_t at = 0;
      std::string why;
      if (server.Request("pc1", n++, &at, &why) < 0) {
        double ignored = 0;
        (void)counter.Finish("", &ignored);
        state.SkipWithError(why.c_str());
        return;
      }
    }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    double printer = 0;
    std::map<std::string, double> calls = counter.Finish(server.printers_folder() + "/", &printer);
    std::error_code ec;
    fsys::remove(summary, ec);
    fsys::remove(summary + ".out", ec);
    double total = 0;
    for (const auto& [counter_name, names] : CallKinds()) {
      double sum = 0;
      for (const auto& name : names) sum += calls[name];
      state.counters[counter_name] = sum / requests;
      total += sum;
    }
    state.counters["fs_calls"] = total / requests;
    // The folder printer stands in for the print spooler (a scheduler over IPP as deployed):
    // its calls on its own files are the spooler's, not the engine's.
    state.counters["fs_printer"] = printer / requests;
    state.counters["fs_engine"] = (total - printer) / requests;
  }
}
BENCHMARK(BM_FileSystemCalls)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
