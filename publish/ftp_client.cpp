#include "publish/ftp_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <utility>
#include <mutex>
#include <vector>

#include "fits/regular_file.h"
#include "publish/ftp_address.h"
#include "publish/ftp_errors.h"
#include "publish/sftp_session.h"

namespace {

using Clock = std::chrono::steady_clock;

// A picture is some tens of kilobytes; anything near this is not one.
constexpr size_t kLargestUpload = size_t{256} << 20;

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

struct UploadSource {
  const std::vector<char>* bytes;
  size_t offset = 0;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* user) {
  auto* source = static_cast<UploadSource*>(user);
  const size_t n = std::min(size * count, source->bytes->size() - source->offset);
  std::copy_n(source->bytes->data() + source->offset, n, buffer);
  source->offset += n;
  return n;
}

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

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

}  // namespace

// One logged-in connection, kept alive in the easy handle's connection cache between calls.
class FtpClient::Session {
 public:
  Session(FtpAddress address, std::string account, std::string password, const FtpTimeouts& timeouts,
          const std::string& ca_file)
      : address_(std::move(address)), account_(std::move(account)), password_(std::move(password)),
        timeouts_(timeouts), ca_file_(ca_file), multi_(curl_multi_init()), curl_(curl_easy_init()) {}
  ~Session() {
    if (curl_) curl_easy_cleanup(curl_);
    if (multi_) curl_multi_cleanup(multi_);  // closes the cached connection with QUIT
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

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

  Result Upload(const std::vector<char>& bytes, const std::string& temporary, const std::string& remote,
                Clock::time_point deadline) {
    const SList rename{"RNFR " + temporary, "RNTO " + remote};
    // A leftover of the temporary name goes first, whatever it is: a link planted there would
    // otherwise take the upload into the file it points to. "*": its absence is no failure.
    const SList clear{"*DELE " + PathOf(temporary)};
    UploadSource source{&bytes};
    StallWatch watch{timeouts_.stall};
    Prepare(deadline);
    curl_easy_setopt(curl_, CURLOPT_URL, Url(directory_, temporary).c_str());
    curl_easy_setopt(curl_, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl_, CURLOPT_READFUNCTION, ReadUpload);
    curl_easy_setopt(curl_, CURLOPT_READDATA, &source);
    curl_easy_setopt(curl_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bytes.size()));
    curl_easy_setopt(curl_, CURLOPT_PREQUOTE, clear.list);
    curl_easy_setopt(curl_, CURLOPT_POSTQUOTE, rename.list);
    curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, WatchProgress);
    curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, &watch);
    Result result = Perform(watch);
    if (!result.ok() && IsDroppedConnection(result.code, result.reply) && RetryFits(deadline)) {
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
  std::string entry_path_;  // where a login lands, as the server's PWD said
  std::vector<std::string> directory_;  // {"/", "homepage"} or relative {"sub"}; empty: login directory
};

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

FtpClient::FtpClient(FtpTimeouts timeouts) : timeouts_(timeouts) { InitialiseCurlOnce(); }

FtpClient::~FtpClient() = default;

int16_t FtpClient::Fail(int32_t error) {
  last_error_ = error;
  return 0;
}

Clock::time_point FtpClient::Deadline() const { return std::min(limit_, Clock::now() + timeouts_.operation); }

bool FtpClient::ConnectionFailed() const {
  switch (last_error_) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      return true;
    default:
      return false;
  }
}

bool FtpClient::Usable() {
  if (session_ || sftp_) return true;
  Fail(connect_error_ != 0 ? connect_error_ : ftp_error::kNotConnected);
  return false;
}

int16_t FtpClient::FtpConnect(const std::string& server, const std::string& account, const std::string& password) {
  session_.reset();
  sftp_.reset();
  const auto failed = [this](int32_t error) {
    connect_error_ = error;
    return Fail(error);
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
      return failed(opened.number);
    }
    connect_error_ = 0;
    return -1;
  }

  auto session = std::make_unique<Session>(*address, account, password, timeouts_, ca_file_);
  if (!session->ok()) return failed(ftp_error::kNoHandle);
  const Session::Result result = session->Visit({}, Deadline());
  if (!result.ok()) return failed(result.Error());
  session_ = std::move(session);
  connect_error_ = 0;
  return -1;
}

int16_t FtpClient::FtpSetCD(const std::string& directory) {
  if (HasUnsafeCharacters(directory)) return Fail(ftp_error::kUnsafeText);
  if (!Usable()) return 0;
  if (sftp_) {
    const Outcome changed = sftp_->ChangeDirectory(directory, Deadline());
    return changed.ok ? -1 : Fail(changed.number);
  }
  std::vector<std::string> target = ResolveDirectory(session_->directory(), directory);
  const Session::Result result = session_->Visit(target, Deadline());
  if (!result.ok()) return Fail(result.Error());
  session_->set_directory(std::move(target));
  return -1;
}

int16_t FtpClient::FtpPutBin(const std::string& local, const std::string& remote) {
  if (HasUnsafeCharacters(local) || HasUnsafeCharacters(remote) || remote.empty() ||
      remote.find('/') != std::string::npos)
    return Fail(ftp_error::kUnsafeText);
  if (!Usable()) return 0;
  std::string file;
  if (!ReadRegularFile(local, kLargestUpload, file).ok) return Fail(ftp_error::kLocalFile);
  const auto deadline = Deadline();
  if (sftp_) {
    const Outcome uploaded = sftp_->Upload(file, remote, deadline);
    return uploaded.ok ? -1 : Fail(uploaded.number);
  }
  const std::vector<char> bytes(file.begin(), file.end());

  // A name web visitors do not ask for; the rename makes the new picture appear whole at once.
  const std::string temporary = "." + remote + ".part";
  Session::Result result = session_->Upload(bytes, temporary, remote, deadline);
  const curl_off_t sent = session_->last_sent();
  if (result.code == CURLE_QUOTE_ERROR) result = session_->ReplaceAside(temporary, remote, deadline);
  if (!result.ok()) return Fail(result.Error());
  if (sent != static_cast<curl_off_t>(bytes.size())) return Fail(ftp_error::kSizeMismatch);

  curl_off_t size = -1;
  result = session_->RemoteSize(remote, size, deadline);
  if (!result.ok()) return Fail(result.Error());
  if (size >= 0 && size != static_cast<curl_off_t>(bytes.size())) return Fail(ftp_error::kSizeMismatch);
  return -1;
}

int16_t FtpClient::FtpDisconnect() {
  session_.reset();
  sftp_.reset();
  connect_error_ = 0;
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
