// Test helper: a private snmpd on 127.0.0.1 and a free UDP port, serving a table of our own
// under .1.3.6.1.2.1.43 through a pass script (and nothing of the real machine). The table
// can be replaced while the agent runs. Stopped when the object goes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/base/status.h"

namespace zv::snmp::testing {

// One object of the table: a numeric identifier below .1.3.6.1.2.1.43, its type
// ("integer", "string", "objectid", ...) and its value. Strings are sent byte for byte.
struct Object {
  std::string oid;
  std::string type;
  std::string value;
};

class Agent {
 public:
  // Takes a folder (created when missing) for the agent's files and the community; starts
  // snmpd and waits until it answers. IOError when it cannot be started.
  static Result<std::unique_ptr<Agent>> Start(const std::string& folder, const std::string& community);
  ~Agent();

  // Gives "127.0.0.1:<port>".
  std::string address() const;
  int port() const { return port_; }
  // Replaces the table the agent serves (written whole, then renamed into place).
  Status Serve(const std::vector<Object>& objects);
  // Gives the number of requests the pass script has answered so far.
  int Requests() const;

 private:
  Agent() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int port_ = 0;
  std::string folder_;
};

// Gives a UDP port on 127.0.0.1 that was free a moment ago (nothing listens on it).
int FreeUdpPort();

}  // namespace zv::snmp::testing
