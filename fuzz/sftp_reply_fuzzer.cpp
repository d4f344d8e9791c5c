// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: any bytes as what an SFTP server sends back, through a whole upload's
// requests. Nothing may crash, hang, read out of bounds or trip a sanitizer.

#include <cstdint>
#include <string>

#include "publish/sftp_wire.h"

namespace {

class FuzzedChannel : public ByteChannel {
 public:
  FuzzedChannel(const uint8_t* data, size_t size) : bytes_(reinterpret_cast<const char*>(data), size) {}
  Outcome Write(const char*, size_t, Clock::time_point) override { return Outcome::Success(); }
  Outcome Read(char* out, size_t size, Clock::time_point) override {
    if (size > bytes_.size() - at_) return Outcome::Lost(56, "the connection ended");
    bytes_.copy(out, size, at_);
    at_ += size;
    return Outcome::Success();
  }

 private:
  std::string bytes_;
  size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedChannel channel(data, size);
  SftpWire wire(channel);
  const auto soon = SftpWire::Clock::now() + std::chrono::seconds(1);
  if (!wire.Start(soon).ok) return 0;
  std::string text, handle;
  SftpWire::Attributes attributes;
  wire.RealPath(".", soon, text);
  wire.Stat("/homepage", soon, attributes);
  wire.Remove("/homepage/.live2.jpg.part", soon);
  wire.OpenForWriting("/homepage/.live2.jpg.part", soon, handle);
  wire.Write(handle, 0, "picture", 7, soon);
  wire.Close(handle, soon);
  if (wire.Offers("posix-rename@openssh.com")) wire.PosixRename("a", "b", soon);
  else wire.Rename("a", "b", soon);
  wire.Stat("/homepage/live2.jpg", soon, attributes);
  return 0;
}
