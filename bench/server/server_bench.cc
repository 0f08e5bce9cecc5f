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
// BM_OneClient and BM_FileSystemCalls run with the roots on the disk (tmpfs:0) and on tmpfs
// (tmpfs:1, under /dev/shm), so the file system's part of the cost shows beside the engine's.
// BM_FileSystemCalls sends ZELVORA_BENCH_REQUESTS (100) requests one after the other with
// `strace -f -c` attached to every thread of the engine (after three requests to warm up),
// and gives the engine's file-system calls per request by kind ("fs_open": open, openat;
// "fs_stat": stat, lstat, fstat, newfstatat, statx, access, faccessat; "fs_readlink";
// "fs_rename"; "fs_unlink": unlink, unlinkat, rmdir; "fs_fsync": fsync, fdatasync; "fs_chmod";
// "fs_chown"), in all ("fs_calls"), and split into those on the folder printer's own files
// ("fs_printer": the spooler's part, which a scheduler does over IPP as deployed) and the
// rest ("fs_engine"); it is skipped where strace is missing. Its times are strace's, not
// the engine's.
// With "--engines 1,2,4" (taken out of the arguments before the benchmark library reads
// them), BM_Engines/<count> runs that many engines side by side, in the order given, on one
// database of a private PostgreSQL server on 127.0.0.1, each engine with its own root and
// share and 4 clients: requests per second, the ratio to one engine, the percentiles, and
// the quota overshoot of a user printing through all of them at once (see Engines below).
// A count may come again ("--engines 1,2,4,1,2,4": rounds, each against its own one-engine
// run), which on a machine whose load changes gives ratios of runs close in time.
// Without PostgreSQL (or root, which the server needs) it says so and is skipped.
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
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "engine/db/schema.h"
#include "engine/hevrasto/main_frame.h"
#include "engine/hevrasto/server_setup.h"
#include "engine/rules/settings.h"
#include "platform/fs/watch.h"
#include "platform/odbc/odbc.h"
#include "platform/odbc/testing/postgres_server.h"
#include "platform/process/process.h"
#include "platform/testing/temp_root.h"

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

// How a benchmark's server is set up and run.
struct ServerOptions {
  ServerSetupOptions setup;  // the embedded database unless `setup.dsn` names another
  bool stamps = true;        // the engine writes its step stamps (ZELVORA_ENGINE_PHASE_LOG)
};

// A set-up server (its own root, which is $ZELVORA_ROOT while it is set up, and its own
// share) with a running engine.
class Server {
 public:
  explicit Server(benchmark::State& state, const ServerOptions& options = {}) {
    auto folders = SetUpServer(options.setup);
    if (!folders.ok()) {
      state.SkipWithError(folders.status().ToString().c_str());
      return;
    }
    folders_ = *folders;
    // No limit for alice: the benchmark prints far more than her quota. A server on a
    // database another one seeded leaves it to that one.
    if (options.setup.seed) {
      const std::string source = options.setup.dsn.empty() ? std::string(kEmbeddedDataSource) : options.setup.dsn;
      auto c = zv::odbc::Connection::Open(source, "", "");
      if (!c.ok() || !(*c)->Execute("UPDATE Main SET MaxPages=0 WHERE Account='alice'").ok()) {
        state.SkipWithError("database not set up");
        return;
      }
    }
    const char* bin = std::getenv("ZELVORA_BENCH_BIN_DIR");
    // The engine program lies beside the benchmark unless told otherwise.
    std::string dir = bin ? bin : fsys::canonical("/proc/self/exe").parent_path().string();
    phase_log_ = root_.str() + "/phases.log";
    zv::process::StartOptions o;
    o.argv = {dir + "/hevrasto", "-ZelvoraPrintService"};
    // Its own root, whatever root a server made later sets for this process.
    o.env = {"ZELVORA_ROOT=" + root_.str()};
    // As deployed, the accounts that print are users of the machine: through nss_wrapper the
    // engine knows alice (and root), so it looks her up as it would a real user instead of
    // probing every account source for a name nobody has.
    const std::string nss = "/usr/lib/x86_64-linux-gnu/libnss_wrapper.so";
    if (::access(nss.c_str(), R_OK) == 0) {
      const std::string passwd = root_.str() + "/bench-passwd", group = root_.str() + "/bench-group";
      std::ofstream(passwd) << "root:x:0:0:root:/root:/bin/sh\nalice:x:2001:2001:Alice:/nonexistent:/bin/sh\n";
      std::ofstream(group) << "root:x:0:\nalice:x:2001:\n";
      o.env.push_back("LD_PRELOAD=" + nss);
      o.env.push_back("NSS_WRAPPER_PASSWD=" + passwd);
      o.env.push_back("NSS_WRAPPER_GROUP=" + group);
    }
    if (options.stamps) o.env.push_back("ZELVORA_ENGINE_PHASE_LOG=" + phase_log_);
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
    // SIGTERM ends the engine as its window's close does; with several engines running, a
    // window looked up by class could be another engine's.
    if (!engine_->Kill(SIGTERM).ok() || !engine_->Wait(30000).ok()) (void)engine_->Kill(9);  // ended either way
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

  // Places one request of `machine` (for `account`) and waits for its answer; takes the answer away as the
  // client does. Gives the seconds from the rename to the answer, or -1 (with *why) when it
  // failed; *renamed gets the moment of the rename.
  double Request(const std::string& machine, int n, int64_t* renamed, std::string* why,
                 const std::string& account = "alice") {
    std::string job = machine + "-" + std::to_string(n) + ".prc";
    if (!WriteSampleJob(folders_.jobs + "/" + job, 1).ok()) {
      *why = "job not written";
      return -1;
    }
    std::string text = RequestText(RequestSpec{account, machine, job, {{"Bench", 1}}});
    std::string answer = folders_.result + "/" + account + "-" + machine + ".ans";
    // Woken by the answer's arrival rather than polling, so that many clients leave the
    // CPUs to the engines. Armed before the request goes in, so no answer is missed.
    auto watch = zv::fs::FolderWatch::Start(folders_.result);
    if (!watch.ok()) {
      *why = "answer folder not watched: " + watch.status().ToString();
      return -1;
    }
    auto start = std::chrono::steady_clock::now();
    *renamed = MonotonicNs();
    auto slot = SubmitRequest(folders_.print_info, text);
    if (!slot.ok()) {
      *why = "no free slot";
      return -1;
    }
    std::string an2 = folders_.result + "/" + *slot + "-" + account + "-" + machine + ".an2";
    auto deadline = start + std::chrono::seconds(60);
    std::error_code ec;
    while (!(fsys::exists(answer, ec) && fsys::exists(an2, ec))) {
      if (std::chrono::steady_clock::now() > deadline) {
        *why = "no answer for " + machine;
        return -1;
      }
      // The limit makes up for an event lost to a full queue.
      if (!watch->Wait(nullptr, 100).ok()) {
        *why = "answer folder gone";
        return -1;
      }
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

// Puts the roots made while it lives on the disk (the default temporary folder) or, for
// a range argument of 1, on tmpfs (/dev/shm): the same work with the file system's own
// costs taken out, to tell the engine's part from the file system's.
class RootsOn {
 public:
  explicit RootsOn(const benchmark::State& state) {
    if (const char* t = std::getenv("TMPDIR")) old_ = t;
    if (state.range(0) == 1) setenv("TMPDIR", "/dev/shm", 1);
  }
  ~RootsOn() {
    if (old_) setenv("TMPDIR", old_->c_str(), 1);
    else unsetenv("TMPDIR");
  }

 private:
  std::optional<std::string> old_;
};

void BM_OneClient(benchmark::State& state) {
  RootsOn on(state);
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
BENCHMARK(BM_OneClient)
    ->ArgName("tmpfs")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(200);

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
  RootsOn on(state);
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
    // ZELVORA_BENCH_STRACE_KEEP names a file that takes the whole trace, to see which calls
    // a request makes and on what.
    if (const char* keep = std::getenv("ZELVORA_BENCH_STRACE_KEEP"))
      fsys::copy_file(summary, keep, fsys::copy_options::overwrite_existing, ec);
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
BENCHMARK(BM_FileSystemCalls)
    ->ArgName("tmpfs")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The requests per second of one engine, from the latest BM_Engines run of this process with
// one engine (so "--engines 1,2,4,1,2,4" compares each round with its own one-engine run);
// 0 before.
double one_engine_per_second = 0;

// Gives the first column of the first row of `sql` as a number, or -1.
double QueryNumber(zv::odbc::Connection& c, const std::string& sql) {
  auto rows = c.Query(sql);
  if (!rows.ok()) return -1;
  auto next = (*rows)->Next();
  if (!next.ok() || !*next || !(*rows)->Get(0)) return -1;
  return std::stod(*(*rows)->Get(0));
}

// `engines` engines, each with its own root and share, on one fresh PostgreSQL database
// (on a private server on 127.0.0.1), 4 clients per engine. Each client sends
// kEach one-page requests of alice (no limit), one after the other; gives the requests per
// second of all engines ("requests_per_s"), its ratio to one engine's ("ratio_to_one", when
// a one-engine run came before), the percentiles and the engines' CPU per request. Then
// every client sends kBobEach one-page requests of bob (limit 3 pages) at once:
// "overshoot_pages" is what was charged to him beyond his limit, which may be one job per
// other engine ("overshoot_bound", engines - 1 pages). Beyond the bound, or with a request
// of alice lost or printed twice, the run fails.
void Engines(benchmark::State& state, int engines) {
  constexpr int kClients = 4, kEach = 50, kBobEach = 3;
  zv::Status why;
  auto* pg = zv::testing::SharedPostgresServer(&why);
  if (!pg) {
    state.SkipWithError(("skipped, PostgreSQL is not available: " + why.ToString()).c_str());
    return;
  }
  if (zv::Status s = pg->CreateDatabase("zvbench"); !s.ok()) {
    state.SkipWithError(("database not created: " + s.ToString()).c_str());
    return;
  }
  const std::string dsn = pg->ConnectionString("zvbench");
  // Made one after the other (each root is $ZELVORA_ROOT while its server is set up) and
  // ended in the reverse order, so $ZELVORA_ROOT is put back.
  std::vector<std::unique_ptr<Server>> servers;
  auto end_all = [&] {
    while (!servers.empty()) servers.pop_back();
  };
  for (int e = 0; e < engines; ++e) {
    ServerOptions o;
    o.setup.dsn = dsn;
    o.setup.seed = e == 0;
    o.stamps = false;
    servers.push_back(std::make_unique<Server>(state, o));
    if (!servers.back()->ok()) return end_all();
  }
  auto db = zv::odbc::Connection::Open(dsn, "", "");
  if (!db.ok()) {
    state.SkipWithError("database not reachable");
    return end_all();
  }
  std::vector<int> n(static_cast<size_t>(engines), 0);
  for (int e = 0; e < engines; ++e)
    if (!WarmUp(state, *servers[static_cast<size_t>(e)], &n[static_cast<size_t>(e)], nullptr)) return end_all();
  double cpu_start = 0;
  for (auto& s : servers) cpu_start += s->CpuSeconds();

  // Runs kClients clients on every engine, each calling `client(engine, machine, &why)`;
  // gives the first failure, or "".
  auto run_clients = [&](const std::function<bool(Server&, const std::string&, std::string*)>& client) {
    std::string first_failure;
    std::mutex failure_mutex;
    std::vector<std::thread> threads;
    for (int e = 0; e < engines; ++e)
      for (int c = 0; c < kClients; ++c)
        threads.emplace_back([&, e, c] {
          std::string failure;
          if (client(*servers[static_cast<size_t>(e)], "pc" + std::to_string(c), &failure)) return;
          std::lock_guard<std::mutex> l(failure_mutex);
          if (first_failure.empty()) first_failure = failure;
        });
    for (auto& t : threads) t.join();
    return first_failure;
  };

  std::mutex latency_mutex;
  std::vector<double> latencies;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    std::string failure = run_clients([&](Server& server, const std::string& machine, std::string* failed) {
      std::vector<double> own;
      for (int i = 0; i < kEach; ++i) {
        int64_t at = 0;
        double seconds = server.Request(machine, i, &at, failed);
        if (seconds < 0) return false;
        own.push_back(seconds);
      }
      std::lock_guard<std::mutex> l(latency_mutex);
      latencies.insert(latencies.end(), own.begin(), own.end());
      return true;
    });
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(wall);
    if (!failure.empty()) {
      state.SkipWithError(failure.c_str());
      return end_all();
    }
    double cpu = 0;
    for (auto& s : servers) cpu += s->CpuSeconds();
    const double per_second = static_cast<double>(latencies.size()) / wall;
    state.counters["requests_per_s"] = per_second;
    state.counters["cpu_ms"] = (cpu - cpu_start) * 1000 / static_cast<double>(latencies.size());
    if (engines == 1) one_engine_per_second = per_second;
    if (one_engine_per_second > 0) state.counters["ratio_to_one"] = per_second / one_engine_per_second;
    Report(state, latencies);
  }

  // bob through every engine at once: answered or refused, each request has its answer.
  std::string failure = run_clients([&](Server& server, const std::string& machine, std::string* failed) {
    for (int i = 0; i < kBobEach; ++i) {
      int64_t at = 0;
      if (server.Request("bob" + machine, i, &at, failed, "bob") < 0) return false;
    }
    return true;
  });
  if (!failure.empty()) {
    state.SkipWithError(failure.c_str());
    return end_all();
  }
  const double limit = QueryNumber(**db, "SELECT MaxPages FROM Main WHERE Account='bob'");
  const double charged = QueryNumber(
      **db, "SELECT COALESCE(SUM(Pages),0) FROM PrintLog WHERE UID=(SELECT UID FROM Main WHERE Account='bob')");
  const double overshoot = std::max(0.0, charged - limit);
  state.counters["overshoot_pages"] = overshoot;
  state.counters["overshoot_bound"] = engines - 1;
  // Every request of alice printed once, as one row of its own number.
  const double expected = static_cast<double>(engines) * (3 + kClients * kEach);
  const double rows = QueryNumber(
      **db, "SELECT COUNT(*) FROM PrintLog WHERE UID=(SELECT UID FROM Main WHERE Account='alice')");
  if (limit < 0 || charged < limit || overshoot > engines - 1) {
    state.SkipWithError(("bob charged " + std::to_string(charged) + " pages, limit " + std::to_string(limit)).c_str());
  } else if (rows != expected) {
    state.SkipWithError(("print log holds " + std::to_string(rows) + " rows of alice, " +
                         std::to_string(expected) + " requests printed")
                            .c_str());
  }
  db->reset();
  end_all();
}

// Gives the engine counts of "--engines 1,2,4" (or "--engines=1,2,4"), taking the option out
// of argv; empty when the option is absent; nullopt (after saying why) when it is malformed.
std::optional<std::vector<int>> TakeEngineCounts(int* argc, char** argv) {
  std::vector<int> counts;
  int out = 1;
  for (int i = 1; i < *argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    if (arg == "--engines") {
      if (i + 1 >= *argc) {
        std::fprintf(stderr, "--engines needs engine counts, such as --engines 1,2,4\n");
        return std::nullopt;
      }
      value = argv[++i];
    } else if (arg.rfind("--engines=", 0) == 0) {
      value = arg.substr(10);
    } else {
      argv[out++] = argv[i];
      continue;
    }
    std::istringstream list(value);
    std::string item;
    while (std::getline(list, item, ',')) {
      char* end = nullptr;
      long count = std::strtol(item.c_str(), &end, 10);
      if (item.empty() || *end != '\0' || count < 1 || count > 16) {
        std::fprintf(stderr, "--engines: \"%s\" is not an engine count from 1 to 16\n", item.c_str());
        return std::nullopt;
      }
      counts.push_back(static_cast<int>(count));
    }
  }
  *argc = out;
  argv[out] = nullptr;
  return counts;
}

}  // namespace

// The benchmarks above, and with "--engines 1,2,4" one BM_Engines/<count> run per count in
// that order (only with the option: they need a private PostgreSQL server and root).
int main(int argc, char** argv) {
  auto counts = TakeEngineCounts(&argc, argv);
  if (!counts) return 2;
  for (int count : *counts)
    benchmark::RegisterBenchmark(("BM_Engines/" + std::to_string(count)).c_str(),
                                 [count](benchmark::State& state) { Engines(state, count); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
