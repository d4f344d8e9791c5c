#include "publish/sftp_session.h"

#include <algorithm>
#include <utility>

#include "publish/ftp_errors.h"
#include "publish/known_hosts.h"
#include "publish/part_check.h"
#include "publish/ssh_files.h"
#include "publish/sftp_wire.h"
#include "publish/ssh_channel.h"
#include "publish/tcp_connect.h"

namespace {

using Clock = SftpSession::Clock;

constexpr size_t kWriteChunk = 32 * 1024;

// A failure of the station's own, shown as one of ftp_errors.h.
Outcome StationError(int32_t number, std::string why) {
  Outcome failure = Outcome::Failure(std::move(why));
  failure.number = number;
  return failure;
}

// libssh says what went wrong only in words, and the connection is ours: a wait of libssh's that
// failed at its bound timed out (28), any other failure lost the connection (56).
Outcome SshFailure(ssh_session ssh, Clock::time_point bound) {
  const std::string words = ssh ? ssh_get_error(ssh) : "";
  if (Clock::now() >= bound - std::chrono::milliseconds(50)) return Outcome::Lost(28, "no answer in time: " + words);
  return Outcome::Lost(56, "the connection failed: " + words);
}

// The host key algorithms that ask for a key of one of `recorded`, those first, so that a host
// recorded with its ECDSA key is asked for that key even when it prefers ed25519; then the
// library's own choice.
std::string HostKeyPreference(const std::vector<std::string>& recorded) {
  std::vector<std::string> order;
  for (const std::string& type : recorded) {
    if (type == "ssh-rsa") order.insert(order.end(), {"rsa-sha2-512", "rsa-sha2-256"});
    else order.push_back(type);
  }
  for (const char* usual : {"ssh-ed25519", "ecdsa-sha2-nistp521", "ecdsa-sha2-nistp384", "ecdsa-sha2-nistp256",
                            "rsa-sha2-512", "rsa-sha2-256"})
    order.push_back(usual);
  std::string list;
  std::vector<std::string> seen;
  for (const std::string& name : order) {
    if (std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
    seen.push_back(name);
    list += (list.empty() ? "" : ",") + name;
  }
  return list;
}

// The server's key as the known_hosts file writes it.
HostKey ServerKey(ssh_session ssh) {
  ssh_key key = nullptr;
  if (ssh_get_server_publickey(ssh, &key) != SSH_OK) return {};
  char* base64 = nullptr;
  HostKey host_key;
  if (ssh_pki_export_pubkey_base64(key, &base64) == SSH_OK) host_key = HostKey::FromBase64(base64);
  ssh_string_free_char(base64);
  ssh_key_free(key);
  return host_key;
}

// The wait for one reply: the stall bound, and never past the call's deadline.
Clock::time_point ReplyBy(std::chrono::seconds stall, Clock::time_point deadline) {
  return std::min(deadline, Clock::now() + stall);
}

// A session left waiting for a reply, or cut, is out of step with the server.
bool SessionLost(const Outcome& outcome) { return outcome.code == Outcome::Code::kConnection; }

}  // namespace

class SftpSession::Connection {
 public:
  ~Connection() {
    wire.reset();
    channel.reset();
    if (ssh) {
      long brief = 2;  // saying goodbye to a dead server must not hold the station up
      ssh_options_set(ssh, SSH_OPTIONS_TIMEOUT, &brief);
      ssh_disconnect(ssh);
      ssh_free(ssh);  // closes the socket handed to it
    }
  }

  // libssh's own blocking waits (handshake, login) end at `limit`, and never past the deadline.
  // Returns when that is.
  Clock::time_point Bound(std::chrono::seconds limit, Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    const auto bound = std::max(std::chrono::microseconds(1000), std::min<std::chrono::microseconds>(limit, left));
    long seconds = static_cast<long>(bound.count() / 1000000);
    long micros = static_cast<long>(bound.count() % 1000000);
    ssh_options_set(ssh, SSH_OPTIONS_TIMEOUT, &seconds);
    ssh_options_set(ssh, SSH_OPTIONS_TIMEOUT_USEC, &micros);
    return Clock::now() + bound;
  }

  ssh_session ssh = nullptr;
  std::unique_ptr<SshChannel> channel;
  std::unique_ptr<SftpWire> wire;
};

SftpSession::SftpSession(FtpAddress address, std::string user, std::string password, const FtpTimeouts& timeouts,
                         SshFiles files)
    : address_(std::move(address)), user_(std::move(user)), password_(std::move(password)), timeouts_(timeouts),
      files_(std::move(files)) {}

SftpSession::~SftpSession() = default;

std::vector<std::string> SftpSession::TakeNotes() { return std::exchange(notes_, {}); }

std::string SftpSession::KnownHostsPath() const {
  if (!files_.known_hosts.empty()) return files_.known_hosts;
  if (!files_.ssh_dir.empty()) return files_.ssh_dir + "/known_hosts";
  return UserKnownHostsPath();
}

// The password, as a password login or, where the server asks for it at keyboard-interactive
// prompts only (hosts that log users in through PAM), as the answer to each prompt that hides
// what is typed. A server that asks for more than a password gets no answer it can use.
int SftpSession::PasswordLogin(ssh_session ssh) const {
  int auth = ssh_userauth_password(ssh, nullptr, password_.c_str());
  if (auth != SSH_AUTH_DENIED || !(ssh_userauth_list(ssh, nullptr) & SSH_AUTH_METHOD_INTERACTIVE)) return auth;
  auth = ssh_userauth_kbdint(ssh, nullptr, nullptr);
  for (int round = 0; auth == SSH_AUTH_INFO && round < 8; ++round) {
    const int prompts = ssh_userauth_kbdint_getnprompts(ssh);
    for (int i = 0; i < prompts; ++i) {
      char echo = 1;
      ssh_userauth_kbdint_getprompt(ssh, static_cast<unsigned int>(i), &echo);
      if (ssh_userauth_kbdint_setanswer(ssh, static_cast<unsigned int>(i), echo ? "" : password_.c_str()) < 0)
        return SSH_AUTH_ERROR;
    }
    auth = ssh_userauth_kbdint(ssh, nullptr, nullptr);
  }
  return auth == SSH_AUTH_INFO ? SSH_AUTH_DENIED : auth;
}

Outcome SftpSession::Open(Clock::time_point deadline) {
  connection_.reset();
  auto connection = std::make_unique<Connection>();
  ssh_session ssh = connection->ssh = ssh_new();
  if (!ssh) return StationError(ftp_error::kNoHandle, "cannot start an SSH session");
  const int port = address_.Port() == 0 ? 22 : address_.Port();
  if (port < 0 || address_.Host().empty()) return StationError(ftp_error::kBadServerText, "no host or port");
  const std::string host = address_.Host();

  // The host's key is checked here, against files read whole; the library must not read them
  // itself (it blocks on a FIFO and misses entries after a long line).
  const std::string shown = port == 22 ? host : "[" + host + "]:" + std::to_string(port);
  KnownHosts known, system_known;
  for (const auto& [file, path] : {std::pair{&known, KnownHostsPath()}, std::pair{&system_known, SystemKnownHostsPath()}}) {
    if (const Outcome loaded = file->Load(path); !loaded.ok) {
      notes_.push_back("SFTP: " + path + " cannot be used: " + loaded.reason);
      return StationError(ftp_error::kKnownHostsUnusable, path + ": " + loaded.reason);
    }
  }

  bool no = false;
  ssh_options_set(ssh, SSH_OPTIONS_HOST, host.c_str());
  ssh_options_set(ssh, SSH_OPTIONS_PORT, &port);
  ssh_options_set(ssh, SSH_OPTIONS_USER, user_.c_str());
  ssh_options_set(ssh, SSH_OPTIONS_PROCESS_CONFIG, &no);  // the settings of the window, nothing else
  ssh_options_set(ssh, SSH_OPTIONS_KNOWNHOSTS, kNoFile);
  ssh_options_set(ssh, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, kNoFile);
  if (!files_.ssh_dir.empty()) ssh_options_set(ssh, SSH_OPTIONS_SSH_DIR, files_.ssh_dir.c_str());
  std::vector<std::string> recorded = known.TypesFor(shown);
  for (const std::string& type : system_known.TypesFor(shown)) recorded.push_back(type);
  if (!recorded.empty()) ssh_options_set(ssh, SSH_OPTIONS_HOSTKEYS, HostKeyPreference(recorded).c_str());

  // The connection is made here, so that an unknown name, a refusal and silence are told apart.
  TcpSocket socket{};
  const Clock::time_point connect_by = std::min(deadline, Clock::now() + timeouts_.connect);
  if (Outcome connected = ConnectTcp(host, port, connect_by, socket); !connected.ok) return connected;
  ssh_options_set(ssh, SSH_OPTIONS_FD, &socket);
  Clock::time_point bound = connection->Bound(timeouts_.connect, deadline);
  if (ssh_connect(ssh) != SSH_OK) return SshFailure(ssh, bound);

  // The host's key, before any credential leaves the station.
  if (Outcome trusted = CheckHostKey(ssh, shown, known, system_known); !trusted.ok) return trusted;

  bound = connection->Bound(timeouts_.connect, deadline);
  const int auth = password_.empty() ? LogInWithUserKeys(ssh, files_.ssh_dir) : PasswordLogin(ssh);
  if (auth == SSH_AUTH_ERROR) return SshFailure(ssh, bound);
  if (auth != SSH_AUTH_SUCCESS) return Outcome::Refused(530, "the server refused the login");

  connection->channel = std::make_unique<SshChannel>(ssh);
  if (Outcome opened = connection->channel->Open(); !opened.ok) return opened;
  connection->wire = std::make_unique<SftpWire>(*connection->channel);
  if (Outcome started = connection->wire->Start(ReplyBy(timeouts_.stall, deadline)); !started.ok) return started;
  connection_ = std::move(connection);
  return Outcome::Success();
}

Outcome SftpSession::CheckHostKey(ssh_session ssh, const std::string& shown, const KnownHosts& known,
                                  const KnownHosts& system_known) {
  const HostKey key = ServerKey(ssh);
  if (key.blob.empty()) return StationError(ftp_error::kHostKeyChanged, "the server showed no host key");
  HostKeyVerdict verdict = known.Check(shown, key);
  if (verdict != HostKeyVerdict::kRevoked) {
    const HostKeyVerdict system = system_known.Check(shown, key);
    if (system == HostKeyVerdict::kRevoked || system == HostKeyVerdict::kKnown ||
        (verdict == HostKeyVerdict::kUnknown && system != HostKeyVerdict::kUnknown))
      verdict = system;
  }
  std::string refusal;
  int32_t number = ftp_error::kHostKeyChanged;
  switch (verdict) {
    case HostKeyVerdict::kKnown:
      return Outcome::Success();
    case HostKeyVerdict::kRevoked:
      refusal = "the host key of " + shown + " is marked revoked in known_hosts";
      number = ftp_error::kHostKeyRevoked;
      break;
    case HostKeyVerdict::kChanged:
      refusal = "the host key of " + shown + " differs from the one in known_hosts";
      break;
    case HostKeyVerdict::kOtherType:
      refusal = shown + " offers a key of another type than the recorded one (" + key.type + ")";
      break;
    case HostKeyVerdict::kUnknown: {
      // Trusted on first sight and recorded, as OpenSSH's StrictHostKeyChecking accept-new does.
      const std::string path = KnownHostsPath();
      if (const Outcome recorded = KnownHosts::Record(path, shown, key); !recorded.ok) {
        notes_.push_back("SFTP: " + shown + " could not be recorded in " + path + ": " + recorded.reason);
        return StationError(ftp_error::kKnownHostsUnusable, recorded.reason);
      }
      notes_.push_back("SFTP: " + shown + " seen for the first time; its host key was recorded in known_hosts");
      return Outcome::Success();
    }
  }
  notes_.push_back("SFTP: " + refusal + ": refused");
  return StationError(number, refusal);
}

Outcome SftpSession::ChangeDirectory(const std::string& directory, Clock::time_point deadline) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!connection_) {
      if (Outcome opened = Open(deadline); !opened.ok) return opened;
    }
    SftpWire& wire = *connection_->wire;
    std::string target = directory.empty() || directory.front() != '/' ? PathOf(directory) : directory;
    if (target.empty() || target.front() != '/') {
      // Relative to the login directory, as the server names it.
      std::string home;
      if (Outcome found = wire.RealPath(".", ReplyBy(timeouts_.stall, deadline), home); !found.ok) return found;
      target = home + (target.empty() ? "" : "/" + target);
    }
    SftpWire::Attributes attributes;
    const Outcome found = wire.Stat(target, ReplyBy(timeouts_.stall, deadline), attributes);
    if (found.number == 56 && attempt == 0 && deadline - Clock::now() >= timeouts_.connect) {
      connection_.reset();  // dropped while idle: once more on a fresh session
      continue;
    }
    if (!found.ok) return found;
    if (!attributes.is_directory) return Outcome::Refused(550, target + " is not a directory");
    directory_ = target;
    return Outcome::Success();
  }
  return Outcome::Lost(56, "the connection was lost again");
}

Outcome SftpSession::Upload(const RegularFile& file, const std::string& remote, Clock::time_point deadline,
                            bool go_on) {
  // A session that is gone (its time ran out in the middle of an upload) is opened again, within
  // the same deadline, as is one the server dropped while idle.
  if (!connection_ && go_on && deadline - Clock::now() >= timeouts_.connect) {
    if (Outcome opened = Open(deadline); !opened.ok) return opened;
  }
  Outcome result = connection_ ? UploadOnce(file, remote, deadline, go_on) : Outcome::Lost(56, "no session");
  if (result.number == 56 && deadline - Clock::now() >= timeouts_.connect) {
    result = Open(deadline);
    if (result.ok) result = UploadOnce(file, remote, deadline, go_on);
  }
  // A session left waiting for a reply is out of step with the server: the next call opens a new one.
  if (SessionLost(result)) connection_.reset();
  return result;
}

Outcome SftpSession::UploadInto(const std::string& directory, const RegularFile& file, const std::string& remote,
                                Clock::time_point deadline, bool go_on) {
  if (!connection_) {
    if (Outcome opened = Open(deadline); !opened.ok) return opened;
  }
  SftpWire::Attributes attributes;
  if (Outcome found = connection_->wire->Stat(directory, ReplyBy(timeouts_.stall, deadline), attributes); !found.ok) {
    if (found.code != Outcome::Code::kRefused) return found;
    if (Outcome made = connection_->wire->MakeDirectory(directory, ReplyBy(timeouts_.stall, deadline)); !made.ok) return made;
  }
  const std::string current = std::exchange(directory_, directory);
  Outcome uploaded = Upload(file, remote, deadline, go_on);
  directory_ = current;
  return uploaded;
}

Outcome SftpSession::Delete(const std::string& path, Clock::time_point deadline) {
  if (!connection_) {
    if (Outcome opened = Open(deadline); !opened.ok) return opened;
  }
  Outcome removed = connection_->wire->Remove(path, ReplyBy(timeouts_.stall, deadline));
  if (SessionLost(removed)) connection_.reset();
  return removed;
}

std::string SftpSession::PathOf(const std::string& name) const {
  if (directory_.empty()) return name;
  return directory_ + (directory_.back() == '/' ? "" : "/") + name;
}

Outcome SftpSession::UploadOnce(const RegularFile& file, const std::string& remote, Clock::time_point deadline,
                                bool go_on) {
  SftpWire& wire = *connection_->wire;
  const auto by = [&] { return ReplyBy(timeouts_.stall, deadline); };
  const std::string temporary = PathOf("." + remote + ".part");
  const uint64_t total = file.info().size;
  // The part an earlier call left (its time ran out) is continued, but only where it is still what
  // was sent: a link planted there, or bytes changed on the server, would be appended to.
  // Other uploads in between (the live picture) leave it waiting.
  std::optional<LeftPart> left;
  if (left_part_ && left_part_->path == temporary) left = std::exchange(left_part_, std::nullopt);
  uint64_t from = 0;
  std::string handle;
  const uint64_t held = go_on && left ? PartStillOurs(file, *left, deadline) : 0;
  if (held > 0 && held < total && wire.OpenToAddTo(temporary, by(), handle).ok) {
    from = held;
  } else {
    // A leftover of the temporary name goes first, and the file is then made anew, never opened
    // through whatever is there: a link planted there would take the upload where it points.
    wire.Remove(temporary, by());
    if (Outcome opened = wire.OpenForWriting(temporary, by(), handle); !opened.ok) return opened;
  }
  std::vector<char> chunk(kWriteChunk);  // the file is read a piece at a time as it is sent
  for (uint64_t at = from; at < total; at += kWriteChunk) {
    const size_t size = static_cast<size_t>(std::min<uint64_t>(kWriteChunk, total - at));
    Outcome written = file.ReadAt(at, chunk.data(), size);
    if (!written.ok) written = StationError(ftp_error::kLocalFile, written.reason);
    else written = wire.Write(handle, at, chunk.data(), size, by());
    if (!written.ok) {
      wire.Close(handle, by());  // at once where the session is out of step
      left_part_ = LeftPart{temporary, at, size};
      return written;
    }
  }
  if (Outcome closed = wire.Close(handle, by()); !closed.ok) return closed;

  if (Outcome replaced = Replace(temporary, PathOf(remote), deadline); !replaced.ok) return replaced;

  // Of the name itself: a link planted there since the rename would report another file's size.
  SftpWire::Attributes landed;
  if (Outcome found = wire.Lstat(PathOf(remote), by(), landed); !found.ok) return found;
  if (landed.size != total)
    return StationError(ftp_error::kSizeMismatch, "the server holds " + std::to_string(landed.size) + " bytes");
  return Outcome::Success();
}

uint64_t SftpSession::PartStillOurs(const RegularFile& file, const LeftPart& left, Clock::time_point deadline) {
  SftpWire& wire = *connection_->wire;
  const auto by = [&] { return ReplyBy(timeouts_.stall, deadline); };
  SftpWire::Attributes held;
  if (!wire.Lstat(left.path, by(), held).ok || !held.is_regular) return 0;
  const uint64_t size = held.size;
  if (size == 0 || (size != left.acknowledged && size != left.acknowledged + left.unanswered)) return 0;
  std::string handle;
  if (!wire.OpenForReading(left.path, by(), handle).ok) return 0;
  // Read in pieces as the server gives them: a reply may hold less than was asked for.
  const bool same = PartMatchesFile(file, size, [&](uint64_t at, size_t length, std::string& bytes) {
    bytes.clear();
    std::string piece;
    while (bytes.size() < length) {
      if (!wire.Read(handle, at + bytes.size(), static_cast<uint32_t>(length - bytes.size()), by(), piece).ok ||
          piece.empty())
        return false;
      bytes += piece;
    }
    return true;
  });
  wire.Close(handle, by());
  return same ? size : 0;
}

// OpenSSH's server refuses the standard rename onto an existing name; its posix-rename extension
// replaces the file in one step. Where no such extension is offered, the published picture is
// set aside first and put back if the upload cannot take its place, so the site is never left
// without one.
Outcome SftpSession::Replace(const std::string& temporary, const std::string& target, Clock::time_point deadline) {
  SftpWire& wire = *connection_->wire;
  const bool atomic = wire.Offers("posix-rename@openssh.com");
  if (!rename_way_noted_) {
    notes_.push_back(atomic ? "SFTP: the picture is replaced in one step (posix-rename)"
                            : "SFTP: the server offers no atomic rename; the old picture is set aside first");
    rename_way_noted_ = true;
  }
  const auto by = [&] { return ReplyBy(timeouts_.stall, deadline); };
  Outcome result = atomic ? wire.PosixRename(temporary, target, by()) : wire.Rename(temporary, target, by());
  if (result.ok) return result;
  if (atomic || SessionLost(result)) {
    wire.Remove(temporary, by());
    return result;
  }
  const size_t slash = target.rfind('/');
  const std::string aside = target.substr(0, slash + 1) + "." + target.substr(slash + 1) + ".old";
  wire.Remove(aside, by());
  result = wire.Rename(target, aside, by());
  if (!result.ok) {
    wire.Remove(temporary, by());
    return result;
  }
  result = wire.Rename(temporary, target, by());
  if (!result.ok) {
    wire.Rename(aside, target, by());
    wire.Remove(temporary, by());
    return result;
  }
  wire.Remove(aside, by());
  return Outcome::Success();
}
