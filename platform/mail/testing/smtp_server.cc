#include "platform/mail/testing/smtp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/fs/files.h"
#include "platform/process/process.h"
#include "platform/testing/free_port.h"

namespace zv::mail::testing {
namespace fsys = std::filesystem;

struct SmtpServer::Impl {
  process::Process proc;
};

int FreeLocalPort() { return zv::testing::FreeLocalPort(); }

namespace {
bool Accepts(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}
}  // namespace

Result<std::unique_ptr<SmtpServer>> SmtpServer::Start(const std::string& folder) {
  Status made = fs::MakeDirs(folder);
  if (!made.ok()) return made;
  for (int attempt = 0; attempt < 3; ++attempt) {
    int port = FreeLocalPort();
    if (port == 0) return Status::IOError("no free port");
    std::unique_ptr<SmtpServer> s(new SmtpServer());
    s->impl_ = std::make_unique<Impl>();
    s->port_ = port;
    s->maildir_ = folder + "/maildir";
    process::StartOptions o;
    o.argv = {
        "/usr/bin/python3",          "-m",       "aiosmtpd", "-n", "-l", "127.0.0.1:" + std::to_string(port), "-c",
        "aiosmtpd.handlers.Mailbox", s->maildir_};
    o.output_file = folder + "/smtpd.out";
    auto p = process::Start(o);
    if (!p.ok()) return p.status();
    s->impl_->proc = std::move(*p);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      if (Accepts(port)) return s;
      if (!s->impl_->proc.Running()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  return Status::IOError("the SMTP server did not start (see " + folder + "/smtpd.out)");
}

SmtpServer::~SmtpServer() {
  if (impl_) {
    // A server that ignores SIGTERM is killed. A destructor has no one to report to; the
    // test's own checks have run by now.
    (void)impl_->proc.Kill(15);
    if (!impl_->proc.Wait(3000).ok()) {
      (void)impl_->proc.Kill(9);
      (void)impl_->proc.Wait(-1);
    }
  }
}

std::vector<std::string> SmtpServer::Mails() const {
  std::vector<std::pair<fsys::file_time_type, std::string>> files;
  std::error_code ec;
  for (const auto& e : fsys::directory_iterator(maildir_ + "/new", ec)) {
    files.emplace_back(e.last_write_time(ec), e.path().string());
  }
  std::sort(files.begin(), files.end());
  std::vector<std::string> out;
  for (const auto& f : files) {
    auto text = fs::ReadFile(f.second);
    if (text.ok()) out.push_back(*text);
  }
  return out;
}

std::vector<std::string> SmtpServer::WaitForMails(size_t count, int timeout_ms) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    auto m = Mails();
    if (m.size() >= count || std::chrono::steady_clock::now() >= deadline) return m;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void SmtpServer::Clear() const {
  std::error_code ec;
  for (const auto& e : fsys::directory_iterator(maildir_ + "/new", ec)) fsys::remove(e.path(), ec);
}

}  // namespace zv::mail::testing
