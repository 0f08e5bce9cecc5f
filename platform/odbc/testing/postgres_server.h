// Test helper: a throwaway PostgreSQL 15 server on 127.0.0.1 (a free port), in a temporary
// folder owned by the postgres account, reached through the "PostgreSQL Unicode" ODBC
// driver. Start it once per test executable; the destructor stops it and removes the folder.
// Needs root (the server runs as postgres through runuser).
#pragma once

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/base/status.h"
#include "platform/odbc/odbc.h"
#include "platform/odbc/odbc_config.h"
#include "platform/testing/free_port.h"

namespace zv::testing {

class PostgresServer {
 public:
  PostgresServer() = default;
  ~PostgresServer() { Stop(); }
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  // Makes the cluster and starts the server. Gives an error when PostgreSQL 15, the ODBC
  // driver or root rights are missing (the caller then skips its PostgreSQL cases).
  Status Start() {
    if (!dir_.empty()) return Status::Ok();
    if (geteuid() != 0) return Status::NotSupported("needs root to run the server as postgres");
    if (access((kBin + "/initdb").c_str(), X_OK) != 0) return Status::NotSupported("PostgreSQL 15 is not installed");
    if (odbc::FindDriverLibrary("psqlodbcw.so").empty()) return Status::NotSupported("psqlODBC is not installed");
    struct passwd* pw = getpwnam("postgres");
    if (!pw) return Status::NotSupported("no postgres account");
    std::string pattern = "/tmp/zelvora-pg.XXXXXX";
    if (!mkdtemp(pattern.data())) return Status::IOError("mkdtemp failed");
    dir_ = pattern;
    if (chown(dir_.c_str(), pw->pw_uid, pw->pw_gid) != 0) return Status::IOError("chown failed");
    port_ = FreePort();
    std::string init = "runuser -u postgres -- " + kBin + "/initdb -D " + dir_ + "/data -A trust -U test" +
                       " --no-sync -E UTF8 --locale=C.UTF-8 >" + dir_ + "/initdb.log 2>&1";
    if (std::system(init.c_str()) != 0) return Status::IOError("initdb failed, see " + dir_ + "/initdb.log");
    std::string start = "runuser -u postgres -- " + kBin + "/pg_ctl -D " + dir_ + "/data -l " + dir_ +
                        "/server.log -w -o \"-p " + std::to_string(port_) + " -k " + dir_ +
                        " -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off" +
                        " -c full_page_writes=off\" start >/dev/null 2>&1";
    if (std::system(start.c_str()) != 0) return Status::IOError("pg_ctl start failed, see " + dir_ + "/server.log");
    running_ = true;
    return Status::Ok();
  }

  // Stops the server (fast shutdown) and removes its folder.
  void Stop() {
    if (dir_.empty()) return;
    if (running_) {
      std::string stop =
          "runuser -u postgres -- " + kBin + "/pg_ctl -D " + dir_ + "/data -w -m fast stop >/dev/null 2>&1";
      (void)std::system(stop.c_str());
      running_ = false;
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    dir_.clear();
  }

  int port() const { return port_; }

  // Gives a connection string for database `db` of the server (user "test", no password).
  std::string ConnectionString(const std::string& db) const {
    return "Driver=" + odbc::FindDriverLibrary("psqlodbcw.so") + ";Server=127.0.0.1;Port=" + std::to_string(port_) +
           ";Database=" + db + ";Uid=test;CommLog=0;Debug=0";
  }

  // Creates a fresh, empty database named `db` (dropping one of that name first).
  Status CreateDatabase(const std::string& db) {
    auto c = odbc::Connection::Open(ConnectionString("postgres"), "", "");
    if (!c.ok()) return c.status();
    auto r = (*c)->Execute("DROP DATABASE IF EXISTS " + db);
    if (!r.ok()) return r.status();
    r = (*c)->Execute("CREATE DATABASE " + db);
    return r.ok() ? Status::Ok() : r.status();
  }

 private:
  // A free port, or a fixed one when no socket could be had (the start then reports it).
  static int FreePort() {
    const int port = zv::testing::FreeLocalPort();
    return port ? port : 55432;
  }

  inline static const std::string kBin = "/usr/lib/postgresql/15/bin";
  std::string dir_;
  int port_ = 0;
  bool running_ = false;
};

// Gives the one server of this test executable, started at the first call and stopped when
// the process exits; nullptr when it cannot run (then *why, when given, says why).
inline PostgresServer* SharedPostgresServer(Status* why = nullptr) {
  static PostgresServer server;
  static Status status = server.Start();
  if (why) *why = status;
  return status.ok() ? &server : nullptr;
}

}  // namespace zv::testing
