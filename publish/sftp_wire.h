#pragma once
// The SFTP protocol (version 3, as OpenSSH speaks it) over one SSH channel, one request at a
// time. Written here rather than taken from libssh's SFTP client, whose rename cannot use
// OpenSSH's posix-rename extension: the only way OpenSSH replaces a file in one step.

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include <libssh/libssh.h>

class SftpWire {
 public:
  using Clock = std::chrono::steady_clock;

  /// The outcome of a request: 0, or the error number the station shows (a server refusal as
  /// an FTP-like reply code, a transport failure as libcurl's code for it).
  struct Result {
    int32_t error = 0;
    std::string handle;     // OPEN
    std::string path;       // REALPATH
    uint64_t size = 0;      // STAT
    bool is_directory = false;
    bool ok() const { return error == 0; }
  };

  explicit SftpWire(ssh_session ssh) : ssh_(ssh) {}
  ~SftpWire();
  SftpWire(const SftpWire&) = delete;
  SftpWire& operator=(const SftpWire&) = delete;

  /// Opens the "sftp" subsystem and exchanges versions; every wait ends by `deadline`.
  Result Start(Clock::time_point deadline);
  bool Offers(const std::string& extension) const { return extensions_.count(extension) > 0; }

  Result RealPath(const std::string& path, Clock::time_point deadline);
  Result Stat(const std::string& path, Clock::time_point deadline);
  /// Makes `path` anew: fails where anything (a file, a link) is there already.
  Result OpenForWriting(const std::string& path, Clock::time_point deadline);
  Result Write(const std::string& handle, uint64_t offset, const char* data, size_t size, Clock::time_point deadline);
  Result Close(const std::string& handle, Clock::time_point deadline);
  Result Remove(const std::string& path, Clock::time_point deadline);
  /// The standard rename, which OpenSSH refuses onto an existing name.
  Result Rename(const std::string& from, const std::string& to, Clock::time_point deadline);
  /// OpenSSH's posix-rename: replaces `to` in one step.
  Result PosixRename(const std::string& from, const std::string& to, Clock::time_point deadline);

 private:
  struct Reply {
    uint8_t type = 0;
    std::string body;  // after the request id
  };
  Result Call(uint8_t type, const std::string& arguments, Clock::time_point deadline, Reply& reply);
  Result Status(uint8_t type, const std::string& arguments, Clock::time_point deadline);
  int32_t Send(const std::string& packet, Clock::time_point deadline);
  int32_t Receive(std::string& packet, Clock::time_point deadline);
  int32_t ReadExactly(char* out, size_t size, Clock::time_point deadline);

  ssh_session ssh_;
  ssh_channel channel_ = nullptr;
  uint32_t next_id_ = 1;
  int32_t broken_ = 0;  // the transport error that put the session out of step; 0: in step
  std::set<std::string> extensions_;
};
