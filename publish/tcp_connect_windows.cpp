// SPDX-License-Identifier: GPL-3.0-or-later
// The TCP connection on Windows: Winsock's non-blocking connect, waited on with WSAPoll in
// pieces of at most a second so that the deadline holds.
#include "publish/tcp_connect.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "base/windows_system.h"

namespace {

using Clock = std::chrono::steady_clock;

// Winsock is started once for the process (libcurl and libssh start it too; starts are counted).
bool WinsockStarted() {
  static const bool started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

// One address: 0 connected, else the Winsock error (WSAETIMEDOUT when the deadline came first).
int ConnectOne(const addrinfo& address, Clock::time_point deadline, SOCKET& socket) {
  socket = WSASocketW(address.ai_family, address.ai_socktype, address.ai_protocol, nullptr, 0,
                      WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (socket == INVALID_SOCKET) return WSAGetLastError();
  u_long non_blocking = 1;
  ioctlsocket(socket, FIONBIO, &non_blocking);
  int error = 0;
  if (connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
    error = WSAGetLastError();
    while (error == WSAEWOULDBLOCK) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        error = WSAETIMEDOUT;
        break;
      }
      WSAPOLLFD watch{socket, POLLWRNORM, 0};
      const int ready = WSAPoll(&watch, 1, static_cast<int>(std::min<int64_t>(left, 1000)));
      if (ready < 0) {
        error = WSAGetLastError();
      } else if (ready > 0) {
        int size = sizeof error;
        if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) error = WSAGetLastError();
        // A refusal shows as an error event with no error recorded yet on some stacks.
        if (error == 0 && (watch.revents & (POLLERR | POLLHUP))) error = WSAECONNREFUSED;
      }
    }
  }
  if (error != 0) {
    closesocket(socket);
    socket = INVALID_SOCKET;
    return error;
  }
  non_blocking = 0;
  ioctlsocket(socket, FIONBIO, &non_blocking);
  const BOOL yes = TRUE;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof yes);
  return 0;
}

}  // namespace

Outcome ConnectTcp(const std::string& host, int port, Clock::time_point deadline, TcpSocket& socket) {
  socket = INVALID_SOCKET;
  if (!WinsockStarted()) return Outcome::Lost(7, "cannot start Windows sockets");
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* addresses = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses) != 0)
    return Outcome::Lost(6, "cannot resolve " + host + ": " + WindowsMessage(WSAGetLastError()));
  int error = WSAECONNREFUSED;
  SOCKET connected = INVALID_SOCKET;
  for (const addrinfo* address = addresses; address; address = address->ai_next) {
    error = ConnectOne(*address, deadline, connected);
    if (error == 0 || error == WSAETIMEDOUT) break;
  }
  freeaddrinfo(addresses);
  if (error == 0) {
    socket = connected;
    return Outcome::Success();
  }
  if (error == WSAETIMEDOUT) return Outcome::Lost(28, "no answer from " + host + " in time");
  return Outcome::Lost(7, "cannot connect to " + host + ": " + WindowsMessage(static_cast<unsigned long>(error)));
}
