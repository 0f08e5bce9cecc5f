// Messages between processes: each process with windows listens on one Unix domain socket;
// a sender connects, writes one frame and reads the reply frame.
#include "platform/winmsg/winmsg_internal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/fs/files.h"

namespace zv::winmsg {
namespace internal {

// ---- sockets -----------------------------------------------------------------------------

bool PeerIsSameUser(int fd, pid_t* pid_out) {
  struct ucred cred {};
  socklen_t len = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
  if (pid_out) *pid_out = cred.pid;
  return cred.uid == ::geteuid();
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size, Clock::time_point deadline) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::send(fd, data + done, size - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      struct pollfd p {
        fd, POLLOUT, 0
      };
      int ms = RemainingMs(deadline);
      if (ms == 0 || ::poll(&p, 1, ms) <= 0) return false;
      continue;
    }
    return false;
  }
  return true;
}

void SendReply(int fd, ReplyCode code, LRESULT result) {
  Frame f;
  f.type = FrameType::kReply;
  f.code = code;
  f.result = result;
  auto bytes = wire::EncodeFrame(f, 0);
  if (bytes.ok()) WriteAll(fd, bytes->data(), bytes->size(), Clock::now() + std::chrono::seconds(1));
  ::close(fd);
}

// ---- Runtime -------------------------------------------------------------------------

Status Runtime::StartListener(const std::string& dir) {
  std::string path = SocketPath(dir, me_);
  struct sockaddr_un addr {};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    return Status::IOError("the runtime root is too long for a socket path: " + path);
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return Status::IOError(fs::ErrnoText("socket", errno));
  ::unlink(path.c_str());  // left by an earlier runtime of this very process
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::chmod(path.c_str(), 0600) != 0 ||
      ::listen(fd, 128) != 0) {
    Status s = Status::IOError(fs::ErrnoText("cannot listen on " + path, errno));
    ::close(fd);
    ::unlink(path.c_str());
    return s;
  }
  int stop = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (stop < 0) {
    ::close(fd);
    ::unlink(path.c_str());
    return Status::IOError(fs::ErrnoText("eventfd", errno));
  }
  listen_fd_ = fd;
  stop_fd_ = stop;
  socket_path_ = path;
  receiver_ = std::thread([this, fd, stop] { ReceiverLoop(fd, stop); });
  return Status::Ok();
}

void Runtime::StopListener(std::unique_lock<std::mutex>& lock) {
  if (listen_fd_ < 0) return;
  int fd = listen_fd_, stop = stop_fd_;
  std::string path = socket_path_;
  std::thread t = std::move(receiver_);
  listen_fd_ = stop_fd_ = -1;
  socket_path_.clear();
  // The name goes before the lock is let go: a window created meanwhile starts a new
  // listener on the same path, which must not lose its name to this one.
  ::unlink(path.c_str());
  // The receiver may be in Deliver, which takes m_ (through Find): let m_ go while it ends.
  lock.unlock();
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(stop, &one, sizeof one);
  if (t.joinable()) t.join();
  ::close(fd);
  ::close(stop);
  lock.lock();
}

void Runtime::ReceiverLoop(int listen_fd, int stop_fd) {
  struct Conn {
    int fd;
    std::vector<std::uint8_t> buf;
    std::size_t need;
    Clock::time_point deadline;
  };
  std::vector<Conn> conns;
  std::vector<pollfd> fds;
  for (;;) {
    fds.clear();
    fds.push_back({stop_fd, POLLIN, 0});
    fds.push_back({listen_fd, POLLIN, 0});
    Clock::time_point soonest = Clock::time_point::max();
    for (const auto& c : conns) {
      fds.push_back({c.fd, POLLIN, 0});
      soonest = std::min(soonest, c.deadline);
    }
    int timeout = conns.empty() ? -1 : RemainingMs(soonest);
    int n = ::poll(fds.data(), fds.size(), timeout);
    if (n < 0 && errno != EINTR) break;
    if (fds[0].revents) break;
    // Half-read connections first (their indices match fds from 2 on).
    std::vector<Conn> keep;
    for (std::size_t i = 0; i < conns.size(); ++i) {
      Conn& c = conns[i];
      bool drop = false;
      if (fds[i + 2].revents & (POLLIN | POLLHUP | POLLERR)) {
        std::size_t old = c.buf.size();
        c.buf.resize(c.need);
        ssize_t got = ::read(c.fd, c.buf.data() + old, c.need - old);
        if (got <= 0) {
          c.buf.resize(old);
          drop = !(got < 0 && (errno == EAGAIN || errno == EINTR));
        } else {
          c.buf.resize(old + static_cast<std::size_t>(got));
          if (c.buf.size() == wire::kFrameHeaderSize && c.need == wire::kFrameHeaderSize) {
            auto len = wire::FrameLength(c.buf, kMaxCopyDataBytes);
            if (!len.ok()) {
              drop = true;
            } else {
              c.need = *len;
            }
          }
          if (!drop && c.buf.size() == c.need && c.need > wire::kFrameHeaderSize) {
            auto frame = wire::DecodeFrame(c.buf, kMaxCopyDataBytes);
            if (frame.ok()) {
              Deliver(std::move(*frame), c.fd);
            } else {
              SendReply(c.fd, ReplyCode::kRefused, 0);
            }
            continue;  // the descriptor went with the frame
          }
        }
      }
      if (!drop && Clock::now() >= c.deadline) drop = true;
      if (drop) {
        ::close(c.fd);
      } else {
        keep.push_back(std::move(c));
      }
    }
    conns.swap(keep);
    if (fds[1].revents & POLLIN) {
      for (;;) {
        int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) break;
        if (!PeerIsSameUser(fd, nullptr) || conns.size() >= kMaxPendingConnections) {
          ::close(fd);
          continue;
        }
        conns.push_back(Conn{fd, {}, wire::kFrameHeaderSize, Clock::now() + kFrameReadLimit});
      }
    }
  }
  for (auto& c : conns) ::close(c.fd);
}

void Runtime::Deliver(Frame frame, int fd) {
  if (frame.type != FrameType::kSend && frame.type != FrameType::kPost) {
    SendReply(fd, ReplyCode::kRefused, 0);
    return;
  }
  auto e = Find(frame.hwnd);
  if (!e) {
    SendReply(fd, ReplyCode::kNoWindow, 0);
    return;
  }
  const bool copy = frame.message == WM_COPYDATA;
  if (copy != frame.has_copydata) {  // WM_COPYDATA without bytes, or bytes on another message
    SendReply(fd, ReplyCode::kRefused, 0);
    return;
  }
  std::unique_lock<std::mutex> ql(e->owner->m);
  if (!e->owner->alive) {
    ql.unlock();
    SendReply(fd, ReplyCode::kNoWindow, 0);
    return;
  }
  if (frame.type == FrameType::kPost) {
    if (copy) {
      ql.unlock();
      SendReply(fd, ReplyCode::kRefused, 0);
      return;
    }
    e->owner->posted.push_back(MSG{frame.hwnd, frame.message, frame.wparam, frame.lparam});
    e->owner->Wake();
    ql.unlock();
    SendReply(fd, ReplyCode::kOk, 0);
    return;
  }
  SentItem item;
  item.hwnd = frame.hwnd;
  item.message = frame.message;
  item.wparam = frame.wparam;
  item.lparam = frame.lparam;
  item.has_copy = frame.has_copydata;
  item.copy_number = frame.copy_number;
  item.copy_bytes = std::move(frame.copy_bytes);
  item.reply_fd = fd;
  e->owner->sent.push_back(std::move(item));
  e->owner->Wake();
}

// Sends one frame to the process that owns `rec` and waits for its reply, running the
// caller's own sent messages meanwhile.
Result<LRESULT> Exchange(const wire::WindowRecord& rec, const Frame& frame, Clock::time_point deadline) {
  auto bytes = wire::EncodeFrame(frame, kMaxCopyDataBytes);
  if (!bytes.ok()) return bytes.status();
  struct sockaddr_un addr {};
  addr.sun_family = AF_UNIX;
  if (rec.socket.empty() || rec.socket.size() >= sizeof addr.sun_path) {
    return Status::IOError("window record has no usable socket");
  }
  std::memcpy(addr.sun_path, rec.socket.c_str(), rec.socket.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return Status::IOError(fs::ErrnoText("socket", errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  for (;;) {
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) break;
    if (errno == EINTR) continue;
    if (errno == EAGAIN && Clock::now() < deadline) {  // the peer's backlog is full
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    if (errno == EAGAIN) return Status::Timeout("the window's process accepts no messages");
    return Status::IOError(fs::ErrnoText("cannot reach the window's process", errno));
  }
  pid_t peer = 0;
  if (!PeerIsSameUser(fd, &peer) || static_cast<std::uint32_t>(peer) != rec.pid) {
    return Status::IOError("the window's socket belongs to another user or process; refused");
  }
  if (!WriteAll(fd, bytes->data(), bytes->size(), deadline)) {
    return Clock::now() >= deadline ? Status::Timeout("the window's process took no message")
                                    : Status::IOError("the window's process ended");
  }
  const auto& self = CurrentQueue();
  std::vector<std::uint8_t> reply;
  reply.reserve(wire::kFrameHeaderSize + wire::kReplyBodySize);
  const std::size_t reply_size = wire::kFrameHeaderSize + wire::kReplyBodySize;
  for (;;) {
    struct pollfd p[2] = {{fd, POLLIN, 0}, {self->efd, POLLIN, 0}};
    int ms = RemainingMs(deadline);
    if (ms == 0) {
      RewakeIfPending(self);
      return Status::Timeout("the window did not answer in time");
    }
    int n = ::poll(p, 2, ms);
    if (n < 0 && errno != EINTR) return Status::IOError(fs::ErrnoText("poll", errno));
    if (p[1].revents & POLLIN) {
      self->Drain();
      RunAllSent(self);
      RewakeIfPending(self);
    }
    if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      std::uint8_t buf[64];
      ssize_t got = ::read(fd, buf, std::min(sizeof buf, reply_size - reply.size()));
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (got <= 0) return Status::IOError("the window's process ended before answering");
      reply.insert(reply.end(), buf, buf + got);
      if (reply.size() == reply_size) break;
    }
  }
  auto answer = wire::DecodeFrame(reply, 0);
  if (!answer.ok() || answer->type != FrameType::kReply) {
    return Status::IOError("the window's process sent a malformed reply");
  }
  switch (answer->code) {
    case ReplyCode::kOk:
      return answer->result;
    case ReplyCode::kNoWindow:
      return Status::NotFound("no such window");
    case ReplyCode::kRefused:
      return Status::InvalidArgument("the window's process refused the message");
    default:
      return Status::IOError("the window went away before it ran the message");
  }
}

}  // namespace internal

}  // namespace zv::winmsg
