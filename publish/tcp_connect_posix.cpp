// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/tcp_connect.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

// One address: 0 connected, else the errno (ETIMEDOUT when the deadline came first).
int ConnectOne(const addrinfo& address, Clock::time_point deadline, int& fd) {
  fd = socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, address.ai_protocol);
  if (fd < 0) return errno;
  int error = 0;
  if (connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
    error = errno;
    while (error == EINPROGRESS || error == EINTR) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        error = ETIMEDOUT;
        break;
      }
      pollfd watch{fd, POLLOUT, 0};
      const int ready = poll(&watch, 1, static_cast<int>(std::min<int64_t>(left, 1000)));
      if (ready < 0 && errno != EINTR) {
        error = errno;
      } else if (ready > 0) {
        socklen_t size = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
      }
    }
  }
  if (error != 0) {
    close(fd);
    fd = -1;
    return error;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  const int yes = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  return 0;
}

}  // namespace

Outcome ConnectTcp(const std::string& host, int port, Clock::time_point deadline, TcpSocket& fd) {
  fd = -1;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* addresses = nullptr;
  const int resolved = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses);
  if (resolved != 0) return Outcome::Lost(6, "cannot resolve " + host + ": " + gai_strerror(resolved));
  int error = ECONNREFUSED;
  for (const addrinfo* address = addresses; address; address = address->ai_next) {
    error = ConnectOne(*address, deadline, fd);
    if (error == 0 || error == ETIMEDOUT) break;
  }
  freeaddrinfo(addresses);
  if (error == 0) return Outcome::Success();
  if (error == ETIMEDOUT) return Outcome::Lost(28, "no answer from " + host + " in time");
  return Outcome::Lost(7, "cannot connect to " + host + ": " + std::strerror(error));
}
