// A free TCP port on 127.0.0.1 for a test's own server.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zv::testing {

// Gives a port the system had free on 127.0.0.1 a moment ago (bound to port 0, read back,
// released), or 0 when no socket could be had. Another process may take it meanwhile; the
// servers the tests start report a bind failure rather than share it.
inline int FreeLocalPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

}  // namespace zv::testing
