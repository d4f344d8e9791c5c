// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The bytes under the SFTP requests: an SSH channel in the station, canned replies in the tests
// and the fuzzer, so the reply parser can be tried on every damage without a server.

#include <chrono>
#include <cstddef>

#include "base/outcome.h"

class ByteChannel {
 public:
  using Clock = std::chrono::steady_clock;
  virtual ~ByteChannel() = default;
  /// Sends all of `data` by `deadline`; a failure is Outcome::Lost (28 for the time-out).
  virtual Outcome Write(const char* data, size_t size, Clock::time_point deadline) = 0;
  /// Receives exactly `size` bytes by `deadline`; a failure is Outcome::Lost (28 for the
  /// time-out, 56 for a channel that ended).
  virtual Outcome Read(char* out, size_t size, Clock::time_point deadline) = 0;
};
