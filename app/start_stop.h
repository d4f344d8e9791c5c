#pragma once
// The Start and Stop buttons: they open and close the FTP session and switch the live cycle on
// and off. Plain C++: the window supplies what they reach through StationControls.

#include <cstdint>
#include <functional>
#include <string>

#include "fits/frame_store.h"
#include "publish/ftp_client.h"

/// The remote directory that Start changes to and every cycle uploads into.
inline constexpr const char* kRemoteDirectory = "/homepage";

/// What Start and Stop reach of the window. Texts are in the system's 8-bit encoding.
class StationControls {
 public:
  virtual ~StationControls() = default;
  virtual std::string StatusText() const = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  virtual std::string LivePathText() const = 0;  // Text1
  virtual std::string ServerText() const = 0;    // Text4
  virtual std::string AccountText() const = 0;   // Text5
  virtual std::string PasswordText() const = 0;  // Text6
  virtual int16_t FrameCounter() const = 0;
  virtual void SetFrameCounter(int16_t value) = 0;
  /// Runs one live cycle now and returns when it has ended.
  virtual void RunLiveCycle() = 0;
  virtual void SetTimerEnabled(bool enabled) = 0;
  /// A line for the log only (an SFTP host recorded, say); the status line does not change.
  virtual void NoteText(const std::string& text) = 0;
  /// Runs `job`, which may wait long on the server, and returns when it has ended; a window
  /// keeps repainting meanwhile.
  virtual void Await(const std::function<void()>& job) { job(); }
};

/// The status text that ends every cycle and begins Start: "Live start   " and the counter.
std::string LiveStartText(int16_t frame_counter);

/// Start: status, live file path, connect, change to /homepage, one cycle, timer on. The connect
/// and the change of directory share the bound of one call.
void Command1_Click(StationControls& window, FtpClient& ftp, FrameStore& store);
/// Stop: status, timer off, counter 0, disconnect.
void Command2_Click(StationControls& window, FtpClient& ftp);
