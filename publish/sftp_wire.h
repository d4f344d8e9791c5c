#pragma once
// The SFTP protocol (version 3, as OpenSSH speaks it) over one byte channel, one request at a
// time. Written here rather than taken from libssh's SFTP client, whose rename cannot use
// OpenSSH's posix-rename extension: the only way OpenSSH replaces a file in one step.
//
// Every call returns an Outcome: a server's refusal is Refused with an FTP-like reply code (550,
// 451 ...), a broken, silent or garbled peer is Lost with libcurl's code for it (28, 56).

#include <chrono>
#include <cstdint>
#include <set>
#include <string>

#include "base/outcome.h"
#include "publish/byte_channel.h"

class SftpWire {
 public:
  using Clock = std::chrono::steady_clock;

  /// What STAT or LSTAT tells of a file.
  struct Attributes {
    uint64_t size = 0;
    bool is_directory = false;
    bool is_regular = false;  // a plain file (by LSTAT: not a link); false where the server did not say
  };

  explicit SftpWire(ByteChannel& channel) : channel_(channel) {}
  SftpWire(const SftpWire&) = delete;
  SftpWire& operator=(const SftpWire&) = delete;

  /// Exchanges versions; every wait ends by `deadline`.
  Outcome Start(Clock::time_point deadline);
  bool Offers(const std::string& extension) const { return extensions_.count(extension) > 0; }

  Outcome RealPath(const std::string& path, Clock::time_point deadline, std::string& resolved);
  Outcome Stat(const std::string& path, Clock::time_point deadline, Attributes& attributes);
  /// The same of `path` itself, a link included, rather than of what it points to.
  Outcome Lstat(const std::string& path, Clock::time_point deadline, Attributes& attributes);
  Outcome OpenForReading(const std::string& path, Clock::time_point deadline, std::string& handle);
  /// Up to `size` bytes from `offset`; fewer (or none, refused with 0 at the end) as the server gives.
  Outcome Read(const std::string& handle, uint64_t offset, uint32_t size, Clock::time_point deadline, std::string& data);
  /// Makes `path` anew: fails where anything (a file, a link) is there already.
  Outcome OpenForWriting(const std::string& path, Clock::time_point deadline, std::string& handle);
  /// Opens the existing file `path` for writing more into it, as it is.
  Outcome OpenToAddTo(const std::string& path, Clock::time_point deadline, std::string& handle);
  Outcome Write(const std::string& handle, uint64_t offset, const char* data, size_t size, Clock::time_point deadline);
  Outcome Close(const std::string& handle, Clock::time_point deadline);
  Outcome Remove(const std::string& path, Clock::time_point deadline);
  Outcome MakeDirectory(const std::string& path, Clock::time_point deadline);
  /// The standard rename, which OpenSSH refuses onto an existing name.
  Outcome Rename(const std::string& from, const std::string& to, Clock::time_point deadline);
  /// OpenSSH's posix-rename: replaces `to` in one step.
  Outcome PosixRename(const std::string& from, const std::string& to, Clock::time_point deadline);

 private:
  struct Reply {
    uint8_t type = 0;
    std::string body;  // after the request id
  };
  Outcome Open(const std::string& path, uint32_t flags, Clock::time_point deadline, std::string& handle);
  Outcome AttributesBy(uint8_t type, const std::string& path, Clock::time_point deadline, Attributes& attributes);
  Outcome Call(uint8_t type, const std::string& arguments, Clock::time_point deadline, Reply& reply);
  Outcome Status(uint8_t type, const std::string& arguments, Clock::time_point deadline);
  Outcome Send(const std::string& packet, Clock::time_point deadline);
  Outcome Receive(std::string& packet, Clock::time_point deadline);

  ByteChannel& channel_;
  uint32_t next_id_ = 1;
  Outcome broken_ = Outcome::Success();  // the failure that put the session out of step
  std::set<std::string> extensions_;
};
