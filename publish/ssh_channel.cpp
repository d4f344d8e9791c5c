// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/ssh_channel.h"

#include <algorithm>
#include <cstdint>

namespace {

int MillisecondsLeft(ByteChannel::Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - ByteChannel::Clock::now());
  return static_cast<int>(std::clamp<int64_t>(left.count(), 0, 60'000));
}

Outcome TimedOut() { return Outcome::Lost(28, "no reply in time"); }

}  // namespace

SshChannel::~SshChannel() {
  if (channel_) {
    ssh_channel_close(channel_);
    ssh_channel_free(channel_);
  }
}

Outcome SshChannel::Open() {
  channel_ = ssh_channel_new(ssh_);
  if (!channel_ || ssh_channel_open_session(channel_) != SSH_OK ||
      ssh_channel_request_subsystem(channel_, "sftp") != SSH_OK) {
    if (!ssh_is_connected(ssh_)) return Outcome::Lost(56, "the connection ended before SFTP started");
    return Outcome::Refused(451, "the server would not start SFTP");
  }
  return Outcome::Success();
}

Outcome SshChannel::Write(const char* data, size_t size, Clock::time_point deadline) {
  for (size_t at = 0; at < size;) {
    if (Clock::now() >= deadline) return TimedOut();
    const int written = ssh_channel_write(channel_, data + at, static_cast<uint32_t>(size - at));
    if (written < 0) return ssh_is_connected(ssh_) ? Outcome::Lost(55, "cannot send") : Outcome::Lost(56, "the connection ended");
    at += static_cast<size_t>(written);
  }
  return Outcome::Success();
}

Outcome SshChannel::Read(char* out, size_t size, Clock::time_point deadline) {
  while (size > 0) {
    const int left = MillisecondsLeft(deadline);
    if (left <= 0) return TimedOut();
    const int got = ssh_channel_read_timeout(channel_, out, static_cast<uint32_t>(size), 0, left);
    if (got < 0) return Outcome::Lost(56, "the connection ended");
    if (got == 0) {
      if (ssh_channel_is_eof(channel_) || !ssh_is_connected(ssh_)) return Outcome::Lost(56, "the connection ended");
      continue;  // no data within the wait: the deadline decides
    }
    out += got;
    size -= static_cast<size_t>(got);
  }
  return Outcome::Success();
}
