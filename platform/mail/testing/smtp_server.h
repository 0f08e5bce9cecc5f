// Test helper: a real SMTP server (python3-aiosmtpd) on 127.0.0.1 and a free port, storing
// every mail it receives as a file in a maildir; stopped when the object goes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/base/status.h"

namespace zv::mail::testing {

class SmtpServer {
 public:
  // Takes a folder (created when missing) for the maildir and the server's output; starts
  // the server and waits until it accepts connections. IOError when it cannot be started.
  static Result<std::unique_ptr<SmtpServer>> Start(const std::string& folder);
  ~SmtpServer();

  int port() const { return port_; }
  // Gives the texts of the mails received so far, oldest first.
  std::vector<std::string> Mails() const;
  // Waits up to timeout_ms until at least `count` mails are there; gives them.
  std::vector<std::string> WaitForMails(size_t count, int timeout_ms) const;
  // Removes the mails received so far.
  void Clear() const;

 private:
  SmtpServer() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int port_ = 0;
  std::string maildir_;
};

// Gives a port on 127.0.0.1 that was free a moment ago.
int FreeLocalPort();

}  // namespace zv::mail::testing
