// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The SSH channel that carries SFTP: libssh's "sftp" subsystem as a ByteChannel.

#include <libssh/libssh.h>

#include "publish/byte_channel.h"

class SshChannel : public ByteChannel {
 public:
  explicit SshChannel(ssh_session ssh) : ssh_(ssh) {}
  ~SshChannel() override;
  SshChannel(const SshChannel&) = delete;
  SshChannel& operator=(const SshChannel&) = delete;

  /// Opens a session channel and starts the "sftp" subsystem on it.
  Outcome Open();
  Outcome Write(const char* data, size_t size, Clock::time_point deadline) override;
  Outcome Read(char* out, size_t size, Clock::time_point deadline) override;

 private:
  ssh_session ssh_;
  ssh_channel channel_ = nullptr;
};
