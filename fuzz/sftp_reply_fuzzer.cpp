// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: any bytes as what an SFTP server sends back, through a whole upload's
// requests. Nothing may crash, hang, read out of bounds or trip a sanitizer.

#include <cstdint>
#include <string>

#include "publish/sftp_wire.h"
#include "tests/support/canned_channel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CannedChannel channel(std::string(reinterpret_cast<const char*>(data), size));
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
