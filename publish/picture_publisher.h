#pragma once
// What the live cycle needs of the publishing side: the upload of the picture and, after a
// failure, its error number. The FTP client is the station's one implementation.

#include <cstdint>
#include <string>
#include <vector>

class PicturePublisher {
 public:
  virtual ~PicturePublisher() = default;
  /// Uploads `local` as `remote`; -1 on success, any other value on failure.
  virtual int16_t FtpPutBin(const std::string& local, const std::string& remote) = 0;
  /// The error number of the last failed call.
  virtual int32_t FtpGetLastError() const = 0;
  /// Lines for the log that the publishing side has gathered since the last call.
  virtual std::vector<std::string> TakeNotes() { return {}; }
};
