#include "publish/ftp_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include "publish/ftp_address.h"
#include "publish/ftp_errors.h"

namespace {

using Clock = std::chrono::steady_clock;

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
    UploadSource source{&bytes};
    Prepare(deadline);
    curl_easy_setopt(curl_, CURLOPT_URL, Url(directory_, temporary).c_str());
    curl_easy_setopt(curl_, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl_, CURLOPT_READFUNCTION, ReadUpload);
    curl_easy_setopt(curl_, CURLOPT_READDATA, &source);
    curl_easy_setopt(curl_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bytes.size()));
    curl_easy_setopt(curl_, CURLOPT_POSTQUOTE, rename.list);
    Result result = Perform();
    if (!result.ok() && IsDroppedConnection(result.code, result.reply)) {
      source.offset = 0;
      curl_easy_setopt(curl_, CURLOPT_FRESH_CONNECT, 1L);
      result = Perform();
    }
    curl_easy_getinfo(curl_, CURLINFO_SIZE_UPLOAD_T, &last_sent_);
    return result;
  }

  // Where a server refuses to rename onto an existing file: delete it, then rename.
  Result ReplaceByDeleting(const std::string& temporary, const std::string& remote, Clock::time_point deadline) {
    const SList commands{"*DELE " + remote, "RNFR " + temporary, "RNTO " + remote};
    Prepare(deadline);
    curl_easy_setopt(curl_, CURLOPT_URL, Url(directory_, "").c_str());
    curl_easy_setopt(curl_, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl_, CURLOPT_QUOTE, commands.list);
    return PerformRetryingDropped(deadline);
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
    curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT, static_cast<long>(timeouts_.connect.count()));
    curl_easy_setopt(curl_, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(timeouts_.stall.count()));
    curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, static_cast<long>(timeouts_.stall.count()));
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, std::max<long>(1, static_cast<long>(left.count())));
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
    return result;
  }

  Result PerformRetryingDropped(Clock::time_point deadline) {
    Result result = Perform();
    if (!result.ok() && IsDroppedConnection(result.code, result.reply) && Clock::now() < deadline) {
      curl_easy_setopt(curl_, CURLOPT_FRESH_CONNECT, 1L);
      result = Perform();
    }
    return result;
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

bool FtpClient::Usable() {
  if (session_) return true;
  Fail(connect_error_ != 0 ? connect_error_ : ftp_error::kNotConnected);
  return false;
}

int16_t FtpClient::FtpConnect(const std::string& server, const std::string& account, const std::string& password) {
  session_.reset();
  const auto failed = [this](int32_t error) {
    connect_error_ = error;
    return Fail(error);
  };
  if (HasUnsafeCharacters(server) || HasUnsafeCharacters(account) || HasUnsafeCharacters(password))
    return failed(ftp_error::kUnsafeText);
  const auto address = ParseFtpAddress(server);
  if (!address) return failed(ftp_error::kBadServerText);

  auto session = std::make_unique<Session>(*address, account, password, timeouts_, ca_file_);
  if (!session->ok()) return failed(ftp_error::kNoHandle);
  const Session::Result result = session->Visit({}, Clock::now() + timeouts_.operation);
  if (!result.ok()) return failed(result.Error());
  session_ = std::move(session);
  connect_error_ = 0;
  return -1;
}

int16_t FtpClient::FtpSetCD(const std::string& directory) {
  if (HasUnsafeCharacters(directory)) return Fail(ftp_error::kUnsafeText);
  if (!Usable()) return 0;
  std::vector<std::string> target = ResolveDirectory(session_->directory(), directory);
  const Session::Result result = session_->Visit(target, Clock::now() + timeouts_.operation);
  if (!result.ok()) return Fail(result.Error());
  session_->set_directory(std::move(target));
  return -1;
}

int16_t FtpClient::FtpPutBin(const std::string& local, const std::string& remote) {
  if (HasUnsafeCharacters(local) || HasUnsafeCharacters(remote) || remote.empty() ||
      remote.find('/') != std::string::npos)
    return Fail(ftp_error::kUnsafeText);
  if (!Usable()) return 0;
  std::ifstream in(local, std::ios::binary);
  if (!in) return Fail(ftp_error::kLocalFile);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return Fail(ftp_error::kLocalFile);

  const auto deadline = Clock::now() + timeouts_.operation;
  // A name web visitors do not ask for; the rename makes the new picture appear whole at once.
  const std::string temporary = "." + remote + ".part";
  Session::Result result = session_->Upload(bytes, temporary, remote, deadline);
  const curl_off_t sent = session_->last_sent();
  if (result.code == CURLE_QUOTE_ERROR) result = session_->ReplaceByDeleting(temporary, remote, deadline);
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
  connect_error_ = 0;
  return -1;
}
