// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A byte channel that gives canned bytes as the peer's, for the SFTP parser's tests and fuzzer:
// what is sent goes nowhere; when the bytes run out, the channel has ended.

#include <string>

#include "publish/byte_channel.h"

class CannedChannel : public ByteChannel {
 public:
  explicit CannedChannel(std::string replies) : replies_(std::move(replies)) {}
  Outcome Write(const char*, size_t, Clock::time_point) override { return Outcome::Success(); }
  Outcome Read(char* out, size_t size, Clock::time_point) override {
    if (size > replies_.size() - at_) return Outcome::Lost(56, "the connection ended");
    replies_.copy(out, size, at_);
    at_ += size;
    return Outcome::Success();
  }

 private:
  std::string replies_;
  size_t at_ = 0;
};
