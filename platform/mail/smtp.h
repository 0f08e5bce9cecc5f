// An SMTP client session over libcurl, standing in for the mail control the engine drives:
// connect to a server, send messages through the open connection, ask its state, and
// disconnect. Results are integers as the control gives them: 0 for success, otherwise an
// error code (a libcurl code, or kNotConnected).
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/mail/mail.h"

namespace zv::mail {

// State and send result when no connection is open.
inline constexpr int kNotConnected = 1000;
// Send result for a message that cannot be composed (a line end in a header value).
inline constexpr int kBadMessage = 1001;

class SmtpClient {
 public:
  SmtpClient();
  ~SmtpClient();
  SmtpClient(const SmtpClient&) = delete;
  SmtpClient& operator=(const SmtpClient&) = delete;

  // Takes the time limits of connecting and of a whole exchange.
  void set_timeouts(std::chrono::milliseconds connect, std::chrono::milliseconds exchange) {
    connect_timeout_ = connect;
    exchange_timeout_ = exchange;
  }

  // Takes the server's host and port and the domain to announce (EHLO); opens the
  // connection and greets the server. Gives 0 when connected, otherwise the error (the
  // session is then not connected). A connected session is closed first.
  int Connect(const std::string& host, int port, const std::string& domain);

  // Gives 0 while a connection is open, kNotConnected otherwise.
  int State() const;

  // Takes a message; sends it through the open connection (reconnecting once when the
  // server has dropped it meanwhile). Gives 0 when the server accepted it, otherwise the
  // error; the message's text is what ComposeMessage gives with the current date.
  int Send(const MailMessage& message);

  // Closes the connection (QUIT) when one is open.
  void Disconnect();

  // The text of the last failure ("" after a success).
  const std::string& last_error() const { return last_error_; }

 private:
  int Perform(bool probe, const std::string* text, const MailMessage* message);
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string url_;
  bool connected_ = false;
  std::chrono::milliseconds connect_timeout_{10000};
  std::chrono::milliseconds exchange_timeout_{60000};
  std::string last_error_;
};

}  // namespace zv::mail
