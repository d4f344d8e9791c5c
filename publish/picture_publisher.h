#pragma once
// What the live cycle needs of the publishing side: the upload of the picture and, after a
// failure, its error number. The FTP client is the station's one implementation.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class PicturePublisher {
 public:
  virtual ~PicturePublisher() = default;
  /// Uploads `local` as `remote`; -1 on success, any other value on failure.
  virtual int16_t FtpPutBin(const std::string& local, const std::string& remote) = 0;
  /// Uploads `local` as `remote` into the absolute `directory`, made where missing; -1 on success.
  virtual int16_t FtpPutBinInto(const std::string& directory, const std::string& local, const std::string& remote) = 0;
  /// Deletes `remote` in the absolute `directory`; -1 on success. A server that answers 550 (no
  /// such file, or not allowed) fails with 550 like any refusal.
  virtual int16_t FtpDeleteIn(const std::string& directory, const std::string& remote) = 0;
  /// The error number of the last failed call.
  virtual int32_t FtpGetLastError() const = 0;
  /// Every call from now on ends by `deadline` at the latest, whatever its own bound: the calls
  /// of one cycle (or of one Start) share one budget, so a stop request waits for one at most.
  virtual void LimitCallsTo(std::chrono::steady_clock::time_point deadline) = 0;
  /// True when the last failure was the connection's (no answer, a time-out, a dropped or refused
  /// connection) rather than a refusal by a live server: another call now would wait in vain.
  virtual bool ConnectionFailed() const = 0;
  /// True when the last failed upload ran out of time with part of its file sent: the next call
  /// that uploads the same file to the same place goes on from there instead of starting again.
  virtual bool LeftUnfinished() const { return false; }
  /// Lines for the log that the publishing side has gathered since the last call.
  virtual std::vector<std::string> TakeNotes() { return {}; }
};
