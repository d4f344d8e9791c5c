#include "publish/ftp_client.h"

#include <algorithm>
#include <utility>
#include <vector>


#include "base/regular_file.h"
#include "publish/ftp_address.h"
#include "publish/ftp_errors.h"
#include "publish/ftp_session.h"
#include "publish/sftp_session.h"

namespace {

using Clock = std::chrono::steady_clock;

// A picture is some tens of kilobytes; anything near this is not one.
constexpr size_t kLargestUpload = size_t{256} << 20;

}  // namespace

namespace {

// "/homepage/x" -> {"/", "homepage", "x"}; "a/b" on top of the current directory.
std::vector<std::string> ResolveDirectory(const std::vector<std::string>& current, const std::string& text) {
  std::vector<std::string> result;
  if (!text.empty() && text.front() == '/') result.push_back("/");
  else result = current;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = std::min(text.find('/', start), text.size());
    const std::string segment = text.substr(start, end - start);
    if (!segment.empty() && segment != ".") result.push_back(segment);
    start = end + 1;
  }
  return result;
}

}  // namespace

FtpClient::FtpClient(FtpTimeouts timeouts) : timeouts_(timeouts) {}

FtpClient::~FtpClient() = default;

int16_t FtpClient::Fail(int32_t error) {
  last_error_ = error;
  last_failure_ = Outcome::Code::kInvalid;
  return 0;
}

int16_t FtpClient::Fail(const Outcome& failure) {
  last_error_ = failure.number;
  last_failure_ = failure.code;
  return 0;
}

Clock::time_point FtpClient::Deadline() const { return std::min(limit_, Clock::now() + timeouts_.operation); }

bool FtpClient::ConnectionFailed() const { return last_failure_ == Outcome::Code::kConnection; }

bool FtpClient::Usable() {
  if (session_ || sftp_) return true;
  Fail(connect_error_ != 0 ? connect_error_ : ftp_error::kNotConnected);
  return false;
}

int16_t FtpClient::FtpConnect(const std::string& server, const std::string& account, const std::string& password) {
  session_.reset();
  sftp_.reset();
  const auto failed = [this](const auto& failure) {
    const int16_t result = Fail(failure);
    connect_error_ = last_error_;
    return result;
  };
  if (HasUnsafeCharacters(server) || HasUnsafeCharacters(account) || HasUnsafeCharacters(password))
    return failed(ftp_error::kUnsafeText);
  const auto address = ParseFtpAddress(server);
  if (!address) return failed(ftp_error::kBadServerText);
  if (address->security == FtpSecurity::kSftp) {
    auto sftp = std::make_unique<SftpSession>(*address, account, password, timeouts_, SshFiles{known_hosts_, ssh_dir_});
    const Outcome opened = sftp->Open(Deadline());
    sftp_ = std::move(sftp);  // kept for its notes; usable only when opened
    if (!opened.ok) {
      notes_ = sftp_->TakeNotes();
      sftp_.reset();
      return failed(opened);
    }
    connect_error_ = 0;
    return -1;
  }

  auto session = std::make_unique<FtpSession>(*address, account, password, timeouts_, ca_file_);
  if (!session->ok()) return failed(ftp_error::kNoHandle);
  if (const Outcome visited = session->Visit({}, Deadline()); !visited.ok) return failed(visited);
  session_ = std::move(session);
  connect_error_ = 0;
  return -1;
}

int16_t FtpClient::FtpSetCD(const std::string& directory) {
  if (HasUnsafeCharacters(directory)) return Fail(ftp_error::kUnsafeText);
  if (!Usable()) return 0;
  if (sftp_) {
    const Outcome changed = sftp_->ChangeDirectory(directory, Deadline());
    return changed.ok ? -1 : Fail(changed);
  }
  std::vector<std::string> target = ResolveDirectory(session_->directory(), directory);
  if (const Outcome visited = session_->Visit(target, Deadline()); !visited.ok) return Fail(visited);
  session_->set_directory(std::move(target));
  return -1;
}

int16_t FtpClient::FtpPutBin(const std::string& local, const std::string& remote) {
  if (HasUnsafeCharacters(local) || HasUnsafeCharacters(remote) || remote.empty() ||
      remote.find('/') != std::string::npos)
    return Fail(ftp_error::kUnsafeText);
  return Put("", local, remote);
}

int16_t FtpClient::FtpPutBinInto(const std::string& directory, const std::string& local, const std::string& remote) {
  if (HasUnsafeCharacters(directory) || directory.empty() || directory.front() != '/' || HasUnsafeCharacters(local) ||
      HasUnsafeCharacters(remote) || remote.empty() || remote.find('/') != std::string::npos)
    return Fail(ftp_error::kUnsafeText);
  return Put(directory, local, remote);
}

int16_t FtpClient::FtpDeleteIn(const std::string& directory, const std::string& remote) {
  if (HasUnsafeCharacters(directory) || directory.empty() || directory.front() != '/' || HasUnsafeCharacters(remote) ||
      remote.empty() || remote.find('/') != std::string::npos)
    return Fail(ftp_error::kUnsafeText);
  if (!Usable()) return 0;
  const std::string path = directory + (directory.back() == '/' ? "" : "/") + remote;
  const Outcome deleted = sftp_ ? sftp_->Delete(path, Deadline()) : session_->Delete(path, Deadline());
  return deleted.ok ? -1 : Fail(deleted);
}

int16_t FtpClient::Put(const std::string& directory, const std::string& local, const std::string& remote) {
  left_unfinished_ = false;
  if (!Usable()) return 0;
  RegularFile file;
  // The live picture and the report have a bound; a night's products are as large as the night
  // (a winter night's video passes 256 MB) and are streamed, within each call's time.
  if (!file.Open(local).ok || (directory.empty() && file.info().size > kLargestUpload)) return Fail(ftp_error::kLocalFile);
  // The same upload as the one whose time ran out last: the same file, unchanged, to the same place.
  const FileState& info = file.info();
  const Unfinished upload{directory + "/" + remote, info.volume, info.id, info.id_high, info.size, info.modified};
  // Other uploads in between (the live picture) leave it waiting.
  const bool go_on = unfinished_ == upload;
  if (unfinished_ && unfinished_->target == upload.target) unfinished_.reset();
  const auto deadline = Deadline();
  Outcome uploaded;
  if (sftp_)
    uploaded = directory.empty() ? sftp_->Upload(file, remote, deadline, go_on)
                                 : sftp_->UploadInto(directory, file, remote, deadline, go_on);
  else
    uploaded = directory.empty() ? session_->Publish(file, remote, deadline, go_on)
                                 : session_->PublishInto(ResolveDirectory({}, directory), file, remote, deadline, go_on);
  if (uploaded.ok) return -1;
  // Out of time with the connection alive until then: the part sent stays on the server, and the
  // next call of the same upload goes on from it.
  if (uploaded.code == Outcome::Code::kConnection && Clock::now() >= deadline - std::chrono::milliseconds(50)) {
    unfinished_ = upload;
    left_unfinished_ = true;
  }
  return Fail(uploaded);
}

int16_t FtpClient::FtpDisconnect() {
  session_.reset();
  sftp_.reset();
  connect_error_ = 0;
  unfinished_.reset();
  return -1;
}

std::vector<std::string> FtpClient::TakeNotes() {
  std::vector<std::string> notes = std::exchange(notes_, {});
  if (sftp_) {
    std::vector<std::string> more = sftp_->TakeNotes();
    notes.insert(notes.end(), more.begin(), more.end());
  }
  return notes;
}
