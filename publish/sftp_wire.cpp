#include "publish/sftp_wire.h"

namespace {

// Packet types and flags of SFTP version 3.
constexpr uint8_t kInit = 1, kVersion = 2, kOpen = 3, kClose = 4, kRead = 5, kWrite = 6, kLstat = 7, kRemove = 13,
                  kMkdir = 14, kRealPath = 16, kStat = 17, kRename = 18, kStatus = 101, kHandle = 102, kData = 103,
                  kName = 104, kAttrs = 105, kExtended = 200;
constexpr uint32_t kOpenRead = 0x01, kOpenWrite = 0x02, kOpenCreate = 0x08, kOpenExclusive = 0x20;
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
    if (bad_ || size > body_.size() - at_) return Bad(), std::string();
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

Outcome Malformed() { return Outcome::Lost(56, "a malformed reply"); }
Outcome Unexpected(uint8_t type) { return Outcome::Lost(56, "an unexpected reply of type " + std::to_string(type)); }

// A server refusal as the FTP side would report it.
Outcome StatusError(uint32_t code) {
  switch (code) {
    case 2:
      return Outcome::Refused(550, "no such file");
    case 3:
      return Outcome::Refused(550, "permission denied");
    case 10:
      return Outcome::Refused(550, "no such path");
    case 12:
      return Outcome::Refused(550, "write protected");
    case 6:
      return Outcome::Lost(56, "no connection");
    case 7:
      return Outcome::Lost(56, "connection lost");
    case 14:
      return Outcome::Refused(452, "no space on the server");
    case 15:
      return Outcome::Refused(552, "quota exceeded");
    default:  // failure, unsupported and the rest
      return Outcome::Refused(451, "the server refused: status " + std::to_string(code));
  }
}

}  // namespace

Outcome SftpWire::Send(const std::string& packet, Clock::time_point deadline) {
  std::string framed;
  PutU32(framed, static_cast<uint32_t>(packet.size()));
  framed += packet;
  return channel_.Write(framed.data(), framed.size(), deadline);
}

Outcome SftpWire::Receive(std::string& packet, Clock::time_point deadline) {
  char length_bytes[4];
  if (Outcome read = channel_.Read(length_bytes, 4, deadline); !read.ok) return read;
  uint32_t length = 0;
  for (char byte : length_bytes) length = (length << 8) | static_cast<uint8_t>(byte);
  if (length == 0) return Outcome::Lost(56, "a reply of length 0");
  if (length > kLongestPacket) return Outcome::Lost(56, "a reply longer than " + std::to_string(kLongestPacket) + " bytes");
  packet.resize(length);
  return channel_.Read(packet.data(), length, deadline);
}

Outcome SftpWire::Start(Clock::time_point deadline) {
  std::string init(1, static_cast<char>(kInit));
  PutU32(init, 3);
  if (Outcome sent = Send(init, deadline); !sent.ok) return broken_ = sent;
  std::string packet;
  if (Outcome received = Receive(packet, deadline); !received.ok) return broken_ = received;
  if (static_cast<uint8_t>(packet[0]) != kVersion) return broken_ = Unexpected(static_cast<uint8_t>(packet[0]));
  const std::string body = packet.substr(1);
  Fields fields(body);
  const uint32_t version = fields.U32();
  if (fields.bad()) return broken_ = Malformed();
  if (version < 3) return broken_ = Outcome::Refused(451, "SFTP version " + std::to_string(version) + " is too old");
  // Extensions are only ever asked about by name: a malformed list ends the list, not the session.
  while (!fields.done() && !fields.bad()) {
    std::string name = fields.String();
    fields.String();  // the extension's version
    if (!fields.bad()) extensions_.insert(name);
  }
  return Outcome::Success();
}

Outcome SftpWire::Call(uint8_t type, const std::string& arguments, Clock::time_point deadline, Reply& reply) {
  // A request that timed out or got a reply it cannot match leaves the session out of step with
  // the server: every later request fails at once instead of waiting for the stall bound again.
  if (!broken_.ok) return broken_;
  const uint32_t id = next_id_++;
  std::string packet(1, static_cast<char>(type));
  PutU32(packet, id);
  packet += arguments;
  if (Outcome sent = Send(packet, deadline); !sent.ok) return broken_ = sent;
  // One request is outstanding at a time, so the next reply is its answer.
  std::string answer;
  if (Outcome received = Receive(answer, deadline); !received.ok) return broken_ = received;
  const std::string after_type = answer.substr(1);
  Fields fields(after_type);
  const uint32_t answered = fields.U32();
  if (fields.bad()) return broken_ = Malformed();
  if (answered != id) return broken_ = Outcome::Lost(56, "a reply to another request");
  reply.type = static_cast<uint8_t>(answer[0]);
  reply.body = answer.substr(5);
  if (reply.type == kStatus) {
    Fields status(reply.body);
    const uint32_t code = status.U32();
    if (status.bad()) return broken_ = Malformed();
    if (code != 0) return StatusError(code);
  }
  return Outcome::Success();
}

Outcome SftpWire::Status(uint8_t type, const std::string& arguments, Clock::time_point deadline) {
  Reply reply;
  Outcome result = Call(type, arguments, deadline, reply);
  if (result.ok && reply.type != kStatus) return broken_ = Unexpected(reply.type);
  return result;
}

Outcome SftpWire::RealPath(const std::string& path, Clock::time_point deadline, std::string& resolved) {
  std::string arguments;
  PutString(arguments, path);
  Reply reply;
  if (Outcome result = Call(kRealPath, arguments, deadline, reply); !result.ok) return result;
  if (reply.type != kName) return broken_ = Unexpected(reply.type);
  Fields fields(reply.body);
  const uint32_t count = fields.U32();
  resolved = fields.String();
  if (fields.bad() || count < 1) return broken_ = Malformed();
  return Outcome::Success();
}

Outcome SftpWire::Stat(const std::string& path, Clock::time_point deadline, Attributes& attributes) {
  return AttributesBy(kStat, path, deadline, attributes);
}

Outcome SftpWire::Lstat(const std::string& path, Clock::time_point deadline, Attributes& attributes) {
  return AttributesBy(kLstat, path, deadline, attributes);
}

Outcome SftpWire::AttributesBy(uint8_t type, const std::string& path, Clock::time_point deadline,
                                 Attributes& attributes) {
  std::string arguments;
  PutString(arguments, path);
  Reply reply;
  if (Outcome result = Call(type, arguments, deadline, reply); !result.ok) return result;
  if (reply.type != kAttrs) return broken_ = Unexpected(reply.type);
  Fields fields(reply.body);
  const uint32_t flags = fields.U32();
  attributes = {};
  if (flags & kAttrSize) attributes.size = fields.U64();
  if (flags & kAttrUidGid) fields.U64();
  if (flags & kAttrPermissions) {
    const uint32_t kind = fields.U32() & 0170000;
    attributes.is_directory = kind == 0040000;
    attributes.is_regular = kind == 0100000;
  }
  if (flags & kAttrTimes) fields.U64();
  if (fields.bad()) return broken_ = Malformed();
  return Outcome::Success();
}

Outcome SftpWire::OpenForWriting(const std::string& path, Clock::time_point deadline, std::string& handle) {
  return Open(path, kOpenWrite | kOpenCreate | kOpenExclusive, deadline, handle);
}

Outcome SftpWire::OpenForReading(const std::string& path, Clock::time_point deadline, std::string& handle) {
  return Open(path, kOpenRead, deadline, handle);
}

Outcome SftpWire::Read(const std::string& handle, uint64_t offset, uint32_t size, Clock::time_point deadline,
                       std::string& data) {
  std::string arguments;
  PutString(arguments, handle);
  PutU64(arguments, offset);
  PutU32(arguments, size);
  Reply reply;
  data.clear();
  if (Outcome result = Call(kRead, arguments, deadline, reply); !result.ok) return result;
  if (reply.type != kData) return broken_ = Unexpected(reply.type);
  Fields fields(reply.body);
  data = fields.String();
  if (fields.bad() || data.size() > size) return broken_ = Malformed();
  return Outcome::Success();
}

Outcome SftpWire::OpenToAddTo(const std::string& path, Clock::time_point deadline, std::string& handle) {
  return Open(path, kOpenWrite, deadline, handle);
}

Outcome SftpWire::Open(const std::string& path, uint32_t flags, Clock::time_point deadline, std::string& handle) {
  std::string arguments;
  PutString(arguments, path);
  PutU32(arguments, flags);
  PutU32(arguments, kAttrPermissions);
  PutU32(arguments, 0644);
  Reply reply;
  if (Outcome result = Call(kOpen, arguments, deadline, reply); !result.ok) return result;
  if (reply.type != kHandle) return broken_ = Unexpected(reply.type);
  Fields fields(reply.body);
  handle = fields.String();
  if (fields.bad()) return broken_ = Malformed();
  return Outcome::Success();
}

Outcome SftpWire::Write(const std::string& handle, uint64_t offset, const char* data, size_t size,
                        Clock::time_point deadline) {
  std::string arguments;
  PutString(arguments, handle);
  PutU64(arguments, offset);
  PutString(arguments, std::string(data, size));
  return Status(kWrite, arguments, deadline);
}

Outcome SftpWire::Close(const std::string& handle, Clock::time_point deadline) {
  std::string arguments;
  PutString(arguments, handle);
  return Status(kClose, arguments, deadline);
}

Outcome SftpWire::Remove(const std::string& path, Clock::time_point deadline) {
  std::string arguments;
  PutString(arguments, path);
  return Status(kRemove, arguments, deadline);
}

Outcome SftpWire::MakeDirectory(const std::string& path, Clock::time_point deadline) {
  std::string arguments;
  PutString(arguments, path);
  PutU32(arguments, kAttrPermissions);
  PutU32(arguments, 0755);
  return Status(kMkdir, arguments, deadline);
}

Outcome SftpWire::Rename(const std::string& from, const std::string& to, Clock::time_point deadline) {
  std::string arguments;
  PutString(arguments, from);
  PutString(arguments, to);
  return Status(kRename, arguments, deadline);
}

Outcome SftpWire::PosixRename(const std::string& from, const std::string& to, Clock::time_point deadline) {
  std::string arguments;
  PutString(arguments, "posix-rename@openssh.com");
  PutString(arguments, from);
  PutString(arguments, to);
  return Status(kExtended, arguments, deadline);
}
