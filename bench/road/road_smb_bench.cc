// road_smb_bench [--runs N] [--no-smb]: times the hand-over as a client machine sees it, on
// the installed system, on one machine (the deployment test's fixture: the share a local
// folder) and across machines (the office test's: a client machine mounting the server's
// share with smbnetfs, smbd serving it):
//   send -> answer: from the client's handing a request over to its reading the engine's
//           answer (ostrane-send, N requests one after the other, each timed between two
//           answers read; the first, which includes the program's start, is left out);
//           the job monitor's own poll (every 3 s) comes on top and is not counted;
//   2 x 50 at once: two senders' machines (one machine: two users) of five senders of ten
//           requests each, all at once, until the last answer is read.
// Prints p50 and p95 in milliseconds and the seconds of the burst. Needs root, cupsd,
// nss_wrapper, and for the office Samba and smbnetfs.
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/road/percentile.h"
#include "deploy/testing/deployed_machine.h"
#include "deploy/testing/road.h"
#include "deploy/testing/smb_office.h"
#include "platform/fs/files.h"

namespace {

namespace dt = zv::deploy::testing;
using Clock = std::chrono::steady_clock;

using zv::bench::Percentile;

// Takes a machine and a user; makes a one-page job document readable by everyone; gives it.
std::string Document(const dt::DeployedMachine& m) {
  const std::string doc = m.dir() + "/docs/bench.prc";
  m.Run(nullptr, {m.prefix() + "/bin/jobdoc-tool", "sample", doc, "1"});
  ::chmod(doc.c_str(), 0644);
  return doc;
}

// Takes the machine, the user and the count; sends that many requests one after the other
// and gives the milliseconds between each answer read and the next (the sender prints a line,
// line-buffered, as it reads each answer; its output file is watched every millisecond).
std::vector<double> AnswerTimes(const dt::DeployedMachine& m, const dt::Account& who, int runs) {
  const std::string tag = "latency-" + who.name;
  const std::string out = m.dir() + "/log/" + tag + ".out";
  auto p = m.StartAs(who,
                     {"/usr/bin/stdbuf", "-oL", m.prefix() + "/bin/ostrane-send", "send", "--printer", "Office",
                      "--count", std::to_string(runs + 1), "--tag", tag, "--wait", "120", Document(m)},
                     {}, tag);
  if (!p.ok()) {
    std::fprintf(stderr, "road_smb_bench: %s\n", p.status().ToString().c_str());
    return {};
  }
  std::vector<Clock::time_point> stamps;
  std::size_t lines = 0;
  while (p->Running() || lines < static_cast<std::size_t>(runs + 1)) {
    auto text = zv::fs::ReadFile(out);
    const std::size_t now = text.ok() ? static_cast<std::size_t>(std::count(text->begin(), text->end(), '\n')) : 0;
    const auto at = Clock::now();
    for (; lines < now; ++lines) stamps.push_back(at);
    if (!p->Running() && lines == now) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  (void)p->Wait(10000);
  std::vector<double> ms;
  // The answers' lines come first, then the quota's two lines.
  for (std::size_t i = 1; i < stamps.size() && i <= static_cast<std::size_t>(runs); ++i)
    ms.push_back(std::chrono::duration<double, std::milli>(stamps[i] - stamps[i - 1]).count());
  if (static_cast<int>(ms.size()) < runs) std::fprintf(stderr, "road_smb_bench: only %zu answers\n", ms.size());
  return ms;
}

// Takes the senders' machines with their users; sends 5 x 10 requests from each at once;
// gives the seconds until the last answer, or -1 when one failed.
double Burst(const std::vector<std::pair<const dt::DeployedMachine*, dt::Account>>& from) {
  std::vector<dt::Sender> senders;
  for (const auto& [m, who] : from)
    for (int n = 0; n < 5; ++n) senders.push_back({m, who, who.name + "-burst" + std::to_string(n), 10, Document(*m)});
  double seconds = 0;
  for (const auto& s : dt::SendAtOnce(senders, &seconds))
    if (s.exit_code != 0) {
      std::fprintf(stderr, "road_smb_bench: a sender failed: %s\n", s.output.c_str());
      return -1;
    }
  return seconds;
}

void Report(const char* name, const std::vector<double>& ms, double burst) {
  std::printf("%-12s send->answer runs %3zu p50 %6.0f ms p95 %6.0f ms   2 x 50 at once %5.1f s\n", name, ms.size(),
              Percentile(ms, 0.5), Percentile(ms, 0.95), burst);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 40;
  bool smb = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--no-smb") == 0) {
      smb = false;
    } else {
      std::fprintf(stderr, "usage: road_smb_bench [--runs N] [--no-smb]\n");
      return 2;
    }
  }
  if (std::string missing = dt::DeployedMachine::Missing(); !missing.empty()) {
    std::fprintf(stderr, "road_smb_bench %s\n", missing.c_str());
    return 2;
  }
  {
    std::string error, dsn;
    auto m = dt::DeployedMachine::Install(ZELVORA_BUILD_DIR, ZELVORA_SOURCE_DIR,
                                          {{"aiko", 2501, ""}, {"kenji", 2502, ""}}, &error);
    if (!m || !(error = dt::SetUpOffice(*m, &dsn)).empty() ||
        !(error = dt::Sql(dsn, "UPDATE Main SET MaxPages=100000")).empty()) {
      std::fprintf(stderr, "road_smb_bench: %s\n", error.c_str());
      return 1;
    }
    const auto times = AnswerTimes(*m, m->user("aiko"), runs);
    Report("one machine", times, Burst({{m.get(), m->user("aiko")}, {m.get(), m->user("kenji")}}));
  }
  if (!smb) return 0;
  if (std::string missing = dt::SmbOffice::Missing(); !missing.empty()) {
    std::fprintf(stderr, "road_smb_bench: the office %s\n", missing.c_str());
    return 2;
  }
  dt::OfficeOptions o;
  o.clients = {{"pc-1", {{"aiko", 6501, ""}}}, {"pc-2", {{"kenji", 7502, ""}}}};
  o.server_uid_base = 5600;  // numbers of its own: the office test may run meanwhile
  std::string error;
  auto office = dt::SmbOffice::Start(ZELVORA_BUILD_DIR, ZELVORA_SOURCE_DIR, o, &error);
  if (!office || !(error = dt::Sql(office->dsn(), "UPDATE Main SET MaxPages=100000")).empty()) {
    std::fprintf(stderr, "road_smb_bench: %s\n", error.c_str());
    return 1;
  }
  const auto times = AnswerTimes(office->client(0), office->client(0).user("aiko"), runs);
  Report("smb", times,
         Burst({{&office->client(0), office->client(0).user("aiko")},
                {&office->client(1), office->client(1).user("kenji")}}));
  return 0;
}
