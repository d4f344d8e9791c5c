// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A TCP connection made by the station, so that its failures are told apart by their codes:
// libssh says what went wrong only in words.

#include <chrono>
#include <string>

#include <libssh/libssh.h>

#include "base/outcome.h"

/// A socket as the system names it, as libssh takes it: a descriptor, or a Windows SOCKET.
using TcpSocket = socket_t;

/// Connects to `host`:`port` (every address the name has, in turn) by `deadline`. On success
/// `socket` is connected, blocking, without Nagle's delay (every request of the station waits for
/// its reply), for the caller to own. Failures are Outcome::Lost with libcurl's codes: 6 the name
/// does not resolve, 7 nothing accepts, 28 no answer in time.
Outcome ConnectTcp(const std::string& host, int port, std::chrono::steady_clock::time_point deadline,
                   TcpSocket& socket);
