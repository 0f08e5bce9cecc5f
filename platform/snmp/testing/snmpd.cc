#include "platform/snmp/testing/snmpd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/process/process.h"
#include "platform/snmp/snmp.h"

namespace zv::snmp::testing {
namespace {

// The pass script: "-g OID" answers that object, "-n OID" the first one after it; each
// answer is three lines (identifier, type, value). Strings go out as hex octets so any
// byte can be served. Every call adds a line to requests.log.
constexpr char kScript[] = R"PY(#!/usr/bin/python3
import os, sys
here = os.path.dirname(os.path.abspath(__file__))
def key(o): return tuple(int(w) for w in o.strip('.').split('.') if w)
rows = []
with open(os.path.join(here, 'table.txt'), 'rb') as f:
    for line in f.read().split(b'\n'):
        if not line: continue
        oid, typ, val = line.split(b'\t', 2)
        rows.append((key(oid.decode()), oid.decode(), typ.decode(), bytes.fromhex(val.decode())))
rows.sort()
with open(os.path.join(here, 'requests.log'), 'a') as f: f.write(' '.join(sys.argv[1:]) + '\n')
if len(sys.argv) < 3: sys.exit(0)
want = key(sys.argv[2])
hit = None
for r in rows:
    if (sys.argv[1] == '-g' and r[0] == want) or (sys.argv[1] == '-n' and r[0] > want):
        hit = r; break
if hit is None: sys.exit(0)
_, oid, typ, val = hit
if typ == 'string':
    out = 'octet\n' + ' '.join('%02x' % b for b in val) if val else 'string\n'
else:
    out = typ + '\n' + val.decode()
sys.stdout.write('.' + oid.strip('.') + '\n' + out + '\n')
)PY";

std::string Hex(const std::string& s) {
  static const char* d = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

}  // namespace

struct Agent::Impl {
  process::Process daemon;
};

int FreeUdpPort() {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  if (fd >= 0) close(fd);
  return port;
}

Result<std::unique_ptr<Agent>> Agent::Start(const std::string& folder, const std::string& community) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(folder + "/persist", ec);
  std::unique_ptr<Agent> agent(new Agent);
  agent->impl_ = std::make_unique<Impl>();
  agent->folder_ = folder;
  {
    std::ofstream s(folder + "/pass.py");
    s << kScript;
  }
  fs::permissions(folder + "/pass.py", fs::perms::owner_all, ec);
  if (Status st = agent->Serve({}); !st.ok()) return st;
  for (int attempt = 0; attempt < 5; ++attempt) {
    int port = FreeUdpPort();
    if (port == 0) continue;
    {
      std::ofstream c(folder + "/snmpd.conf");
      c << "agentAddress udp:127.0.0.1:" << port << "\n"
        << "rocommunity " << community << " 127.0.0.1\n"
        << "pass .1.3.6.1.2.1.43 /usr/bin/python3 " << folder << "/pass.py\n";
    }
    process::StartOptions o;
    o.argv = {"/usr/sbin/snmpd",
              "-f",
              "-C",
              "-c",
              folder + "/snmpd.conf",
              "-Lf",
              folder + "/snmpd.log",
              "-I",
              "-smux,hr_system,hr_device,hr_print",
              "-p",
              folder + "/snmpd.pid"};
    o.env = {"MIBS=", "SNMP_PERSISTENT_DIR=" + folder + "/persist"};
    Result<process::Process> p = process::Start(o);
    if (!p.ok()) return p.status();
    agent->impl_->daemon = std::move(*p);
    agent->port_ = port;
    // Ready once a get-next under the printer tables comes back (any answer will do).
    Oid root = *ParseOid(".1.3.6.1.2.1.43");
    for (int i = 0; i < 100 && agent->impl_->daemon.Running(); ++i) {
      Result<Session> s = Session::Open(agent->address(), community, std::chrono::milliseconds(100), 0);
      if (s.ok() && s->GetNext(root).ok()) {
        std::filesystem::remove(folder + "/requests.log", ec);
        return agent;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    (void)agent->impl_->daemon.Kill();
    (void)agent->impl_->daemon.Wait(2000);
  }
  return Status::IOError("snmpd did not start (see " + folder + "/snmpd.log)");
}

Agent::~Agent() {
  if (impl_ && impl_->daemon.Running()) {
    (void)impl_->daemon.Kill(15);
    if (!impl_->daemon.Wait(3000).ok()) {
      (void)impl_->daemon.Kill();
      (void)impl_->daemon.Wait(2000);
    }
  }
}

std::string Agent::address() const { return "127.0.0.1:" + std::to_string(port_); }

Status Agent::Serve(const std::vector<Object>& objects) {
  std::string tmp = folder_ + "/table.tmp";
  {
    std::ofstream t(tmp, std::ios::binary | std::ios::trunc);
    for (const Object& o : objects) t << o.oid << '\t' << o.type << '\t' << Hex(o.value) << '\n';
    if (!t) return Status::IOError("cannot write the agent's table");
  }
  std::error_code ec;
  std::filesystem::rename(tmp, folder_ + "/table.txt", ec);
  return ec ? Status::IOError("cannot place the agent's table") : Status::Ok();
}

int Agent::Requests() const {
  std::ifstream f(folder_ + "/requests.log");
  int n = 0;
  for (std::string line; std::getline(f, line);) ++n;
  return n;
}

}  // namespace zv::snmp::testing
