#pragma once
// The one error convention of the libraries: success, or failure with a code that decisions are
// taken on and a short lower-case reason for people. The reason may be translated (the C
// library's texts follow the locale); the code never is.

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>

struct Outcome {
  enum class Code {
    kOk,
    kNotFound,    // the file or directory is not there
    kNotRegular,  // a directory, FIFO or device where a regular file belongs
    kSystem,      // another failure of the system; `system_error` holds its errno
    kInvalid,     // the content or the request is not what it must be
    kRefused,     // a live peer said no (a server's reply code in `number`)
    kConnection,  // no answer in time, or the connection failed or was lost
  };

  bool ok = true;
  Code code = Code::kOk;
  int system_error = 0;  // the errno behind a kNotFound or kSystem failure
  std::string reason;
  int32_t number = 0;  // publishing: the error number the status line shows after "NG:"

  static Outcome Success() { return {}; }
  static Outcome Failure(std::string why, Code code = Code::kInvalid) { return {false, code, 0, std::move(why)}; }
  /// A peer's refusal, shown as `number` (an FTP-like reply code such as 550).
  static Outcome Refused(int32_t number, std::string why) { return {false, Code::kRefused, 0, std::move(why), number}; }
  /// A connection that failed, shown as `number` (libcurl's code for it: 6, 7, 28, 55, 56).
  static Outcome Lost(int32_t number, std::string why) { return {false, Code::kConnection, 0, std::move(why), number}; }
  /// A failed system call: `what` was being done, `error` is its errno.
  static Outcome FromErrno(const std::string& what, int error);

  bool not_found() const { return code == Code::kNotFound; }
};
