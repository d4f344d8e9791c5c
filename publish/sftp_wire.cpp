#include "publish/sftp_wire.h"

#include <algorithm>

namespace {

// Packet types and flags of SFTP version 3.
constexpr uint8_t kInit = 1, kVersion = 2, kOpen = 3, kClose = 4, kWrite = 6, kRemove = 13, kRealPath = 16,
                  kStat = 17, kRename = 18, kStatus = 101, kHandle = 102, kName = 104, kAttrs = 105, kExtended = 200;
constexpr uint32_t kOpenWrite = 0x02, kOpenCreate = 0x08, kOpenExclusive = 0x20;
// Attribute flags; extended attributes, if any, come last and nothing here needs them.
constexpr uint32_t kAttrSize = 0x1, kAttrUidGid = 0x2, kAttrPermissions = 0x4, kAttrTimes = 0x8;
constexpr uint32_t kLongestPacket = 256 * 1024;

void PutU32(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}
void PutU64(std::string& out, uint64_t value) {
  PutU32(out, static_cast<uint32_t>(value >> 32));
  PutU32(out, static_cast<uint32_t>(value));
}
void PutString(std::string& out, const std::string& text) {
  PutU32(out, static_cast<uint32_t>(text.size()));
  out += text;
}

// Reads the fields of a reply; any read past the end marks the reply as malformed.
class Fields {
 public:
  explicit Fields(const std::string& body) : body_(body) {}
  uint32_t U32() {
    if (at_ + 4 > body_.size()) return Bad();
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = (value << 8) | static_cast<uint8_t>(body_[at_++]);
    return value;
  }
  uint64_t U64() {
    const uint64_t high = U32();  // two statements: the high half is the one that comes first
    const uint64_t low = U32();
    return (high << 32) | low;
  }
  std::string String() {
    const uint32_t size = U32();
    if (bad_ || at_ + size > body_.size()) return Bad(), std::string();
    std::string text = body_.substr(at_, size);
    at_ += size;
    return text;
  }
  bool bad() const { return bad_; }
  bool done() const { return at_ >= body_.size(); }

 private:
  uint32_t Bad() {
    bad_ = true;
    at_ = body_.size();
    return 0;
  }
  const std::string& body_;
  size_t at_ = 0;
  bool bad_ = false;
};

// A server refusal as the FTP side would report it.
int32_t StatusError(uint32_t code) {
  switch (code) {
    case 2:   // no such file
    case 3:   // permission denied
    case 10:  // no such path
    case 12:  // write protected
      return 550;
    case 6:  // no connection
    case 7:  // connection lost
      return 56;
    case 14:  // no space
      return 452;
    case 15:  // quota exceeded
      return 552;
    default:  // failure, unsupported and the rest
      return 451;
  }
}

SftpWire::Result Failed(int32_t error) {
  SftpWire::Result result;
  result.error = error;
  return result;
}

int MillisecondsLeft(SftpWire::Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SftpWire::Clock::now());
  return static_cast<int>(std::clamp<int64_t>(left.count(), 0, 60'000));
}

}  // namespace

SftpWire::~SftpWire() {
  if (channel_) {
    ssh_channel_close(channel_);
    ssh_channel_free(channel_);
  }
}

int32_t SftpWire::Send(const std::string& packet, Clock::time_point deadline) {
  std::string framed;
  PutU32(framed, static_cast<uint32_t>(packet.size()));
  framed += packet;
  for (size_t at = 0; at < framed.size();) {
    if (Clock::now() >= deadline) return 28;
    const int written = ssh_channel_write(channel_, framed.data() + at, static_cast<uint32_t>(framed.size() - at));
    if (written < 0) return ssh_is_connected(ssh_) ? 55 : 56;
    at += static_cast<size_t>(written);
  }
  return 0;
}

int32_t SftpWire::ReadExactly(char* out, size_t size, Clock::time_point deadline) {
  while (size > 0) {
    const int left = MillisecondsLeft(deadline);
    if (left <= 0) return 28;
    const int got = ssh_channel_read_timeout(channel_, out, static_cast<uint32_t>(size), 0, left);
    if (got < 0) return 56;
    if (got == 0) {
      if (ssh_channel_is_eof(channel_) || !ssh_is_connected(ssh_)) return 56;
      continue;  // no data within the wait: the deadline decides
    }
    out += got;
    size -= static_cast<size_t>(got);
  }
  return 0;
}

int32_t SftpWire::Receive(std::string& packet, Clock::time_point deadline) {
  char length_bytes[4];
  if (const int32_t error = ReadExactly(length_bytes, 4, deadline)) return error;
  uint32_t length = 0;
  for (char byte : length_bytes) length = (length << 8) | static_cast<uint8_t>(byte);
  if (length == 0 || length > kLongestPacket) return 56;  // not SFTP
  packet.resize(length);
  return ReadExactly(packet.data(), length, deadline);
}

SftpWire::Result SftpWire::Start(Clock::time_point deadline) {
  channel_ = ssh_channel_new(ssh_);
  if (!channel_ || ssh_channel_open_session(channel_) != SSH_OK ||
      ssh_channel_request_subsystem(channel_, "sftp") != SSH_OK)
    return Failed(ssh_is_connected(ssh_) ? 451 : 56);
  std::string init(1, static_cast<char>(kInit));
  PutU32(init, 3);
  if (const int32_t error = Send(init, deadline)) return Failed(error);
  std::string packet;
  if (const int32_t error = Receive(packet, deadline)) return Failed(error);
  if (static_cast<uint8_t>(packet[0]) != kVersion) return Failed(56);
  const std::string body = packet.substr(1);
  Fields fields(body);
  if (fields.U32() < 3) return Failed(451);
  while (!fields.done() && !fields.bad()) {
    std::string name = fields.String();
    fields.String();  // the extension's version
    if (!fields.bad()) extensions_.insert(name);
  }
  return {};
}

SftpWire::Result SftpWire::Call(uint8_t type, const std::string& arguments, Clock::time_point deadline, Reply& reply) {
  // A request that timed out or got a reply it cannot match leaves the session out of step with
  // the server: every later request fails at once instead of waiting for the stall bound again.
  if (broken_ != 0) return Failed(broken_);
  const uint32_t id = next_id_++;
  std::string packet(1, static_cast<char>(type));
  PutU32(packet, id);
  packet += arguments;
  if (const int32_t error = Send(packet, deadline)) return Failed(broken_ = error);
  // One request is outstanding at a time, so the next reply is its answer.
  std::string answer;
  if (const int32_t error = Receive(answer, deadline)) return Failed(broken_ = error);
  const std::string after_type = answer.substr(1);
  Fields fields(after_type);
  if (fields.U32() != id || fields.bad()) return Failed(broken_ = 56);
  reply.type = static_cast<uint8_t>(answer[0]);
  reply.body = answer.substr(5);
  if (reply.type == kStatus) {
    Fields status(reply.body);
    const uint32_t code = status.U32();
    if (status.bad()) return Failed(56);
    if (code != 0) return Failed(StatusError(code));
  }
  return {};
}

SftpWire::Result SftpWire::Status(uint8_t type, const std::string& arguments, Clock::time_point deadline) {
  Reply reply;
  Result result = Call(type, arguments, deadline, reply);
  if (result.ok() && reply.type != kStatus) result.error = 56;
  return result;
}

SftpWire::Result SftpWire::RealPath(const std::string& path, Clock::time_point deadline) {
  std::string arguments;
  PutString(arguments, path);
  Reply reply;
  Result result = Call(kRealPath, arguments, deadline, reply);
  if (!result.ok()) return result;
  Fields fields(reply.body);
  if (reply.type != kName || fields.U32() < 1) return Failed(56);
  result.path = fields.String();
  if (fields.bad()) return Failed(56);
  return result;
}

SftpWire::Result SftpWire::Stat(const std::string& path, Clock::time_point deadline) {
  std::string arguments;
  PutString(arguments, path);
  Reply reply;
  Result result = Call(kStat, arguments, deadline, reply);
  if (!result.ok()) return result;
  Fields fields(reply.body);
  const uint32_t flags = fields.U32();
  if (reply.type != kAttrs) return Failed(56);
  if (flags & kAttrSize) result.size = fields.U64();
  if (flags & kAttrUidGid) fields.U64();
  if (flags & kAttrPermissions) result.is_directory = (fields.U32() & 0170000) == 0040000;
  if (flags & kAttrTimes) fields.U64();
  if (fields.bad()) return Failed(56);
  return result;
}

SftpWire::Result SftpWire::OpenForWriting(const std::string& path, Clock::time_point deadline) {
  std::string arguments;
  PutString(arguments, path);
  PutU32(arguments, kOpenWrite | kOpenCreate | kOpenExclusive);
  PutU32(arguments, kAttrPermissions);
  PutU32(arguments, 0644);
  Reply reply;
  Result result = Call(kOpen, arguments, deadline, reply);
  if (!result.ok()) return result;
  Fields fields(reply.body);
  result.handle = fields.String();
  if (reply.type != kHandle || fields.bad()) return Failed(56);
  return result;
}

SftpWire::Result SftpWire::Write(const std::string& handle, uint64_t offset, const char* data, size_t size,
                                 Clock::time_point deadline) {
  std::string arguments;
  PutString(arguments, handle);
  PutU64(arguments, offset);
  PutString(arguments, std::string(data, size));
  return Status(kWrite, arguments, deadline);
}

SftpWire::Result SftpWire::Close(const std::string& handle, Clock::time_point deadline) {
  std::string arguments;
  PutString(arguments, handle);
  return Status(kClose, arguments, deadline);
}

SftpWire::Result SftpWire::Remove(const std::string& path, Clock::time_point deadline) {
  std::string arguments;
  PutString(arguments, path);
  return Status(kRemove, arguments, deadline);
}

SftpWire::Result SftpWire::Rename(const std::string& from, const std::string& to, Clock::time_point deadline) {
  std::string arguments;
  PutString(arguments, from);
  PutString(arguments, to);
  return Status(kRename, arguments, deadline);
}

SftpWire::Result SftpWire::PosixRename(const std::string& from, const std::string& to, Clock::time_point deadline) {
  std::string arguments;
  PutString(arguments, "posix-rename@openssh.com");
  PutString(arguments, from);
  PutString(arguments, to);
  return Status(kExtended, arguments, deadline);
}
