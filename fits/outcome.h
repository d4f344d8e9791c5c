#pragma once
// The one error convention of the libraries: success, or failure with a code that decisions are
// taken on and a short lower-case reason for people. The reason may be translated (the C
// library's texts follow the locale); the code never is.

#include <cerrno>
#include <string>
#include <utility>

struct Outcome {
  enum class Code {
    kOk,
    kNotFound,    // the file or directory is not there
    kNotRegular,  // a directory, FIFO or device where a regular file belongs
    kSystem,      // another failure of the system; `system_error` holds its errno
    kInvalid,     // the content or the request is not what it must be
  };

  bool ok = true;
  Code code = Code::kOk;
  int system_error = 0;  // the errno behind a kNotFound or kSystem failure
  std::string reason;

  static Outcome Success() { return {}; }
  static Outcome Failure(std::string why, Code code = Code::kInvalid) { return {false, code, 0, std::move(why)}; }
  /// A failed system call: `what` was being done, `error` is its errno.
  static Outcome FromErrno(const std::string& what, int error);

  bool not_found() const { return code == Code::kNotFound; }
};
