// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/ftp_session.h"

#include <curl/curl.h>

#include <algorithm>
#include <mutex>
#include <optional>
#include <utility>

#include "base/regular_file.h"
#include "publish/ftp_errors.h"
#include "publish/part_check.h"

namespace {

using Clock = FtpSession::Clock;

void InitialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}



struct SList {
  curl_slist* list = nullptr;
  SList(std::initializer_list<std::string> items) {
    for (const auto& item : items) list = curl_slist_append(list, item.c_str());
  }
  ~SList() { curl_slist_free_all(list); }
  SList(const SList&) = delete;
  SList& operator=(const SList&) = delete;
};

// The file is read a piece at a time as libcurl sends it: an upload of any size costs no memory.
struct UploadSource {
  const RegularFile* file;
  uint64_t size = 0;
  uint64_t offset = 0;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* user) {
  auto* source = static_cast<UploadSource*>(user);
  const size_t n = static_cast<size_t>(std::min<uint64_t>(size * count, source->size - source->offset));
  if (n > 0 && !source->file->ReadAt(source->offset, buffer, n).ok) return CURL_READFUNC_ABORT;
  source->offset += n;
  return n;
}

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

// A downloaded range, kept up to the length asked for.
struct Download {
  std::string bytes;
  size_t wanted = 0;
};

size_t Keep(char* data, size_t size, size_t count, void* user) {
  auto* download = static_cast<Download*>(user);
  const size_t n = size * count;
  download->bytes.append(data, std::min(n, download->wanted - std::min(download->wanted, download->bytes.size())));
  return n;
}

// libcurl's own low-speed check averages over a few seconds and so fires late; this one ends an
// upload whose bytes stop moving for the stall bound, to the second. Waits for replies before and
// after the data are the server-response bound's.
struct StallWatch {
  std::chrono::seconds stall;
  Clock::time_point last_progress = Clock::now();
  curl_off_t last_sent = -1;
  bool stalled = false;
};

int WatchProgress(void* user, curl_off_t, curl_off_t, curl_off_t total, curl_off_t sent) {
  auto* watch = static_cast<StallWatch*>(user);
  const Clock::time_point now = Clock::now();
  if (sent != watch->last_sent || sent == 0 || sent >= total) {
    watch->last_sent = sent;
    watch->last_progress = now;
    return 0;
  }
  watch->stalled = now - watch->last_progress >= watch->stall;
  return watch->stalled ? 1 : 0;
}

// A dead or dropped connection, as opposed to a refusal by a live server.
bool IsDroppedConnection(CURLcode code, long reply) {
  return code == CURLE_SEND_ERROR || code == CURLE_RECV_ERROR || code == CURLE_GOT_NOTHING ||
         code == CURLE_PARTIAL_FILE || code == CURLE_FTP_ACCEPT_FAILED ||
         code == CURLE_FTP_CANT_GET_HOST || code == CURLE_WEIRD_SERVER_REPLY || reply == 421;
}

// A libcurl result as the station reports it: a server's reply code where it sent one, else
// libcurl's own code, as a lost connection where nothing answered or the connection failed.
Outcome Reported(CURLcode code, long reply) {
  if (code == CURLE_OK) return Outcome::Success();
  if (reply >= 400) return Outcome::Refused(static_cast<int32_t>(reply), "the server replied " + std::to_string(reply));
  const std::string words = curl_easy_strerror(code);
  switch (code) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      return Outcome::Lost(code, words);
    default:
      return Outcome::Refused(code, words);
  }
}

Outcome SizeMismatch(curl_off_t held, uint64_t sent) {
  Outcome mismatch = Outcome::Failure("the server holds " + std::to_string(held) + " bytes, not " + std::to_string(sent));
  mismatch.number = ftp_error::kSizeMismatch;
  return mismatch;
}

}  // namespace

// One logged-in connection, kept alive in the easy handle's connection cache between calls.
class FtpSession::Impl {
 public:
  Impl(FtpAddress address, std::string account, std::string password, const FtpTimeouts& timeouts,
       const std::string& ca_file)
      : address_(std::move(address)), account_(std::move(account)), password_(std::move(password)),
        timeouts_(timeouts), ca_file_(ca_file), multi_(curl_multi_init()), curl_(curl_easy_init()) {}
  ~Impl() {
    if (curl_) curl_easy_cleanup(curl_);
    if (multi_) curl_multi_cleanup(multi_);  // closes the cached connection with QUIT
  }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  bool ok() const { return curl_ != nullptr && multi_ != nullptr; }

  struct Result {
    CURLcode code = CURLE_OK;
    long reply = 0;
    bool ok() const { return code == CURLE_OK; }
    int32_t Error() const { return reply >= 400 ? static_cast<int32_t>(reply) : static_cast<int32_t>(code); }
  };

  // Logs in and goes to `directory` (empty: the login directory), without a transfer.
  Result Visit(const std::vector<std::string>& directory, Clock::time_point deadline) {
    Prepare(deadline);
    curl_easy_setopt(curl_, CURLOPT_URL, Url(directory, "").c_str());
    curl_easy_setopt(curl_, CURLOPT_NOBODY, 1L);
    return PerformRetryingDropped(deadline);
  }

  // Uploads the file from `from` on: from 0 as a new temporary file, else appended to the part of
  // it that an earlier call left on the server.
  Result Upload(const RegularFile& file, uint64_t size, uint64_t from, const std::string& temporary,
                const std::string& remote, Clock::time_point deadline) {
    const SList rename{"RNFR " + temporary, "RNTO " + remote};
    // A leftover of the temporary name goes first, whatever it is: a link planted there would
    // otherwise take the upload into the file it points to. "*": its absence is no failure. A
    // part is only continued where this session began it.
    const SList clear{"*DELE " + PathOf(temporary)};
    UploadSource source{&file, size, from};
    StallWatch watch{timeouts_.stall};
    Prepare(deadline);
    curl_easy_setopt(curl_, CURLOPT_URL, Url(directory_, temporary).c_str());
    curl_easy_setopt(curl_, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl_, CURLOPT_READFUNCTION, ReadUpload);
    curl_easy_setopt(curl_, CURLOPT_READDATA, &source);
    curl_easy_setopt(curl_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size - from));
    if (from > 0) curl_easy_setopt(curl_, CURLOPT_APPEND, 1L);
    else curl_easy_setopt(curl_, CURLOPT_PREQUOTE, clear.list);
    if (create_directories_) curl_easy_setopt(curl_, CURLOPT_FTP_CREATE_MISSING_DIRS, static_cast<long>(CURLFTP_CREATE_DIR));
    curl_easy_setopt(curl_, CURLOPT_POSTQUOTE, rename.list);
    curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, WatchProgress);
    curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, &watch);
    Result result = Perform(watch);
    if (!result.ok() && IsDroppedConnection(result.code, result.reply) && from == 0 && RetryFits(deadline)) {
      source.offset = 0;
      watch = StallWatch{timeouts_.stall};
      result = Perform(watch);
    }
    curl_easy_getinfo(curl_, CURLINFO_SIZE_UPLOAD_T, &last_sent_);
    return result;
  }

  // Sends `commands` (FTP quote commands) on the session, without a transfer.
  Result Commands(std::initializer_list<std::string> commands, Clock::time_point deadline) {
    const SList list(commands);
    Prepare(deadline);
    curl_easy_setopt(curl_, CURLOPT_URL, Url(directory_, "").c_str());
    curl_easy_setopt(curl_, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl_, CURLOPT_QUOTE, list.list);
    return PerformRetryingDropped(deadline);
  }

  // The server refused to rename the upload over the published file. The published file is never
  // removed before its replacement is in place: it is set aside under another name, the upload is
  // renamed in, and only then is the old one deleted; if the upload cannot be renamed in, the old
  // picture is put back. A server that refuses every rename keeps its old picture and the error.
  // libcurl sends these commands before it changes directory on a connection it had to open
  // again, so they name the files by absolute paths.
  Result ReplaceAside(const std::string& temporary_name, const std::string& remote_name, Clock::time_point deadline) {
    const std::string temporary = PathOf(temporary_name);
    const std::string remote = PathOf(remote_name);
    const std::string aside = PathOf("." + remote_name + ".old");
    Result result = Commands({"*DELE " + aside, "RNFR " + remote, "RNTO " + aside}, deadline);
    if (!result.ok()) {
      Commands({"*DELE " + temporary}, deadline);
      return result;
    }
    result = Commands({"RNFR " + temporary, "RNTO " + remote}, deadline);
    if (!result.ok()) {
      Commands({"RNFR " + aside, "RNTO " + remote}, deadline);
      Commands({"*DELE " + temporary}, deadline);
      return result;
    }
    Commands({"*DELE " + aside}, deadline);
    return result;
  }

  // The absolute path of `name` in the current directory, where the login directory is known.
  std::string PathOf(const std::string& name) const {
    std::string path;
    size_t first = 0;
    if (!directory_.empty() && directory_[0] == "/") first = 1;
    else if (!entry_path_.empty()) path = entry_path_;
    else return name;  // the server did not say where a login lands: relative, as before
    if (path.empty() || path.back() != '/') path += '/';
    for (size_t i = first; i < directory_.size(); ++i) path += directory_[i] + "/";
    return path + name;
  }

  // The bytes of `remote` from `offset` on, `length` of them (REST and RETR, cut short).
  Result ReadRange(const std::string& remote, uint64_t offset, size_t length, std::string& bytes,
                   Clock::time_point deadline) {
    Download download{{}, length};
    Prepare(deadline);
    curl_easy_setopt(curl_, CURLOPT_URL, Url(directory_, remote).c_str());
    const std::string range = std::to_string(offset) + "-" + std::to_string(offset + length - 1);
    curl_easy_setopt(curl_, CURLOPT_RANGE, range.c_str());
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, Keep);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &download);
    const Result result = Perform();
    bytes = std::move(download.bytes);
    return result;
  }

  // The size the server reports for `remote` (SIZE), or -1 where it cannot tell.
  Result RemoteSize(const std::string& remote, curl_off_t& size, Clock::time_point deadline) {
    Prepare(deadline);
    curl_easy_setopt(curl_, CURLOPT_URL, Url(directory_, remote).c_str());
    curl_easy_setopt(curl_, CURLOPT_NOBODY, 1L);
    const Result result = PerformRetryingDropped(deadline);
    size = -1;
    if (result.ok()) curl_easy_getinfo(curl_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
    return result;
  }

  curl_off_t last_sent() const { return last_sent_; }
  void set_create_directories(bool create) { create_directories_ = create; }
  const std::vector<std::string>& directory() const { return directory_; }
  void set_directory(std::vector<std::string> directory) { directory_ = std::move(directory); }

 private:
  void Prepare(Clock::time_point deadline) {
    curl_easy_reset(curl_);
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_USERNAME, account_.c_str());
    curl_easy_setopt(curl_, CURLOPT_PASSWORD, password_.c_str());
    // libcurl counts the connect bound for the data connection from the start of the transfer, so
    // on an open session a reply that took up to the stall bound must still leave the connect
    // bound for the data connection. A fresh login (FRESH_CONNECT, below) has the connect bound.
    const auto connect = logged_in_ ? timeouts_.connect + timeouts_.stall : timeouts_.connect;
    curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT, static_cast<long>(connect.count()));
    curl_easy_setopt(curl_, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(timeouts_.stall.count()));
    SetTimeLeft(deadline);
    curl_easy_setopt(curl_, CURLOPT_FTP_USE_EPSV, 1L);
    curl_easy_setopt(curl_, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_MULTICWD));
    curl_easy_setopt(curl_, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, "ftp,ftps");
    if (address_.security == FtpSecurity::kExplicit)
      curl_easy_setopt(curl_, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    if (!ca_file_.empty()) curl_easy_setopt(curl_, CURLOPT_CAINFO, ca_file_.c_str());
    // The system's own trust: on Windows, where curl's OpenSSL has no bundle, its certificate store
    // (curl 7.88 takes the option there only).
    curl_easy_setopt(curl_, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NATIVE_CA));
  }

  // Drives the transfer through the multi interface instead of curl_easy_perform, which can
  // sleep a whole second before opening a passive data connection; waits here are 10 ms at most.
  // The multi handle keeps the logged-in connection between calls.
  Result Perform() {
    StallWatch unused{timeouts_.stall};
    return Perform(unused);
  }
  Result Perform(const StallWatch& watch) {
    Result result;
    curl_multi_add_handle(multi_, curl_);
    int running = 1;
    CURLMcode status = CURLM_OK;
    while (running > 0 && status == CURLM_OK) {
      status = curl_multi_perform(multi_, &running);
      if (running > 0 && status == CURLM_OK) status = curl_multi_poll(multi_, nullptr, 0, 10, nullptr);
    }
    result.code = CURLE_FAILED_INIT;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left))
      if (message->msg == CURLMSG_DONE && message->easy_handle == curl_) result.code = message->data.result;
    curl_multi_remove_handle(multi_, curl_);
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &result.reply);
    if (result.code == CURLE_ABORTED_BY_CALLBACK && watch.stalled) result.code = CURLE_OPERATION_TIMEDOUT;
    if (result.ok()) {
      logged_in_ = true;
      const char* entry = nullptr;
      if (curl_easy_getinfo(curl_, CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry && *entry == '/')
        entry_path_ = entry;
    }
    return result;
  }

  Result PerformRetryingDropped(Clock::time_point deadline) {
    Result result = Perform();
    if (!result.ok() && IsDroppedConnection(result.code, result.reply) && RetryFits(deadline)) result = Perform();
    return result;
  }

  void SetTimeLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, std::max<long>(1, static_cast<long>(left.count())));
  }

  // One deadline holds for a whole call, its retry included: a fresh connection is tried only
  // while the connect bound still fits, and only for what is left of the call's time.
  bool RetryFits(Clock::time_point deadline) {
    if (deadline - Clock::now() < timeouts_.connect) return false;
    curl_easy_setopt(curl_, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT, static_cast<long>(timeouts_.connect.count()));
    SetTimeLeft(deadline);
    return true;
  }

  std::string Url(const std::vector<std::string>& directory, const std::string& file) const {
    std::string url = address_.BaseUrl();
    for (const std::string& segment : directory) {
      // An absolute directory starts with the segment "/", sent as %2F so that it is not read
      // as a separator.
      if (segment == "/") {
        url += "%2F";
        continue;
      }
      char* escaped = curl_easy_escape(curl_, segment.c_str(), static_cast<int>(segment.size()));
      url += escaped;
      url += '/';
      curl_free(escaped);
    }
    if (url.size() >= 3 && url.compare(url.size() - 3, 3, "%2F") == 0) url += '/';
    char* escaped = curl_easy_escape(curl_, file.c_str(), static_cast<int>(file.size()));
    url += escaped;
    curl_free(escaped);
    return url;
  }

  FtpAddress address_;
  std::string account_;
  std::string password_;
  FtpTimeouts timeouts_;
  std::string ca_file_;
  CURLM* multi_;
  CURL* curl_;
  curl_off_t last_sent_ = -1;
  bool logged_in_ = false;  // a transfer has succeeded: the cached connection is logged in
  bool create_directories_ = false;  // an upload makes the directories it needs
  std::string entry_path_;  // where a login lands, as the server's PWD said
  std::vector<std::string> directory_;  // {"/", "homepage"} or relative {"sub"}; empty: login directory
};

FtpSession::FtpSession(FtpAddress address, std::string account, std::string password, const FtpTimeouts& timeouts,
                       const std::string& ca_file) {
  InitialiseCurlOnce();
  impl_ = std::make_unique<Impl>(std::move(address), std::move(account), std::move(password), timeouts, ca_file);
}

FtpSession::~FtpSession() = default;

bool FtpSession::ok() const { return impl_->ok(); }

Outcome FtpSession::Visit(const std::vector<std::string>& directory, Clock::time_point deadline) {
  const Impl::Result result = impl_->Visit(directory, deadline);
  return Reported(result.code, result.reply);
}

Outcome FtpSession::Publish(const RegularFile& file, const std::string& remote, Clock::time_point deadline,
                           bool go_on) {
  // A name web visitors do not ask for; the rename makes the new picture appear whole at once.
  const std::string temporary = "." + remote + ".part";
  const uint64_t size = file.info().size;
  // The part an earlier call of this session left is continued where it ends, if it is still what
  // was sent; else it is sent afresh.
  // Other uploads in between (the live picture) leave it waiting.
  const std::string place = PlaceOf(temporary);
  std::optional<LeftPart> left;
  if (left_part_ && left_part_->place == place) left = std::exchange(left_part_, std::nullopt);
  uint64_t from = 0;
  if (go_on && left) from = PartStillOurs(file, temporary, left->sent, deadline);
  if (from >= size) from = 0;
  Impl::Result result = impl_->Upload(file, size, from, temporary, remote, deadline);
  const curl_off_t sent = impl_->last_sent();
  if (!result.ok() && sent > 0) left_part_ = LeftPart{place, from + static_cast<uint64_t>(sent)};
  if (result.code == CURLE_QUOTE_ERROR) result = impl_->ReplaceAside(temporary, remote, deadline);
  if (!result.ok()) return Reported(result.code, result.reply);
  if (sent != static_cast<curl_off_t>(size - from)) return SizeMismatch(sent + static_cast<curl_off_t>(from), size);

  curl_off_t held = -1;
  result = impl_->RemoteSize(remote, held, deadline);
  if (!result.ok()) return Reported(result.code, result.reply);
  if (held >= 0 && held != static_cast<curl_off_t>(size)) return SizeMismatch(held, size);
  return Outcome::Success();
}

std::string FtpSession::PlaceOf(const std::string& name) const {
  std::string place;
  for (const std::string& segment : impl_->directory()) place += segment + "/";
  return place + name;
}

// FTP cannot tell a link from a file: the part's size must be one this session reached, and its
// bytes read back must be the file's; a link to another file, or a part changed on the server,
// differs there.
uint64_t FtpSession::PartStillOurs(const RegularFile& file, const std::string& temporary, uint64_t sent,
                                   Clock::time_point deadline) {
  curl_off_t held = -1;
  if (!impl_->RemoteSize(temporary, held, deadline).ok() || held <= 0 || static_cast<uint64_t>(held) > sent) return 0;
  const uint64_t size = static_cast<uint64_t>(held);
  const bool same = PartMatchesFile(file, size, [&](uint64_t at, size_t length, std::string& bytes) {
    return impl_->ReadRange(temporary, at, length, bytes, deadline).ok();
  });
  return same ? size : 0;
}

Outcome FtpSession::PublishInto(const std::vector<std::string>& directory, const RegularFile& file,
                                const std::string& remote, Clock::time_point deadline, bool go_on) {
  const std::vector<std::string> current = impl_->directory();
  impl_->set_directory(directory);
  impl_->set_create_directories(true);
  Outcome published = Publish(file, remote, deadline, go_on);
  impl_->set_create_directories(false);
  impl_->set_directory(current);
  return published;
}

Outcome FtpSession::Delete(const std::string& path, Clock::time_point deadline) {
  const Impl::Result result = impl_->Commands({"DELE " + path}, deadline);
  return Reported(result.code, result.reply);
}

const std::vector<std::string>& FtpSession::directory() const { return impl_->directory(); }
void FtpSession::set_directory(std::vector<std::string> directory) { impl_->set_directory(std::move(directory)); }
