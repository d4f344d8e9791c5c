#pragma once
// A camera that the station drives itself through an INDI server: it connects, takes one exposure
// when asked, checks the frame that comes back and writes it atomically as the live file. All of
// it runs on a thread of its own; what happens is told to a listener, from that thread.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "base/file_state.h"
#include "camera/camera_settings.h"

struct CameraReport {
  enum class Kind {
    kFrame,    // a frame was written to the live file
    kFailure,  // an exposure, a connection or a frame failed; the station goes on
    kNote,     // something to keep in the log (connected, a setting the device lacks)
  };
  Kind kind = Kind::kNote;
  std::string text;
  double exposure = 0;            // seconds, of the frame or the failed exposure
  double background_level = -1;   // of the frame
  double next_exposure = 0;       // what the next exposure will be
  std::chrono::steady_clock::time_point delivered{};  // when the frame came from the server
  std::optional<FileState> written;  // the live file as the frame left it
};

/// Where the next frame goes and what the station takes.
struct CameraTarget {
  std::string live_path;
  int side_limit = 1537;
  int64_t pixel_limit = 1537LL * 1537;
};

/// True where this build can talk to INDI (Linux, with libindi's client).
bool IndiCameraAvailable();

class IndiCamera {
 public:
  using Listener = std::function<void(const CameraReport&)>;
  IndiCamera(const CameraSettings& settings, Listener listener);
  ~IndiCamera();
  IndiCamera(const IndiCamera&) = delete;
  IndiCamera& operator=(const IndiCamera&) = delete;

  /// Starts the thread, which connects at once.
  void Begin();
  /// Asks for one exposure. False, and nothing asked, while an exposure is still being taken or
  /// one already waits: exposures never stack up.
  bool Expose(const CameraTarget& target);
  /// True while the server cannot be reached and the thread waits to try again.
  bool Away() const;
  /// Ends an exposure being taken, disconnects and ends the thread (within a few seconds).
  void End();

  /// What an exposure may take beyond its own length before it is given up (download included).
  void set_margin(std::chrono::milliseconds margin) { margin_ = margin; }
  /// The first pause before a lost server is tried again; it doubles up to a minute.
  void set_first_pause(std::chrono::milliseconds pause) { first_pause_ = pause; }

 private:
  class Session;
  void Run();
  bool Connect();
  void TakeExposure(const CameraTarget& target);
  void Say(CameraReport::Kind kind, std::string text, double exposure = 0);
  /// True once the server has gone. libindi 1.9.9 handles a write that fails on the writer's
  /// thread, and the same failure on its own at once, both on the same members: nothing is written
  /// to a server that is known to have gone.
  bool Gone() const;
  /// "the INDI server at HOST:PORT", as the reports name it.
  std::string ServerName() const;
  /// Disconnects and forgets the session; the next round connects anew.
  void DropSession();
  /// Waits `pause` or until End; false at End.
  bool Rest(std::chrono::milliseconds pause);

  CameraSettings settings_;
  Listener listener_;
  std::chrono::milliseconds margin_{30000};
  std::chrono::milliseconds first_pause_{2000};
  std::unique_ptr<Session> session_;  // the thread's own
  double next_exposure_ = 1;          // the thread's own
  bool range_said_ = false;           // the thread's own

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool ending_ = false;
  bool busy_ = false;       // an exposure is asked for or being taken
  bool requested_ = false;  // and not yet begun
  bool away_ = false;
  CameraTarget target_;
  std::thread thread_;
};
