#pragma once
// The station's own camera (--camera indi://...): each tick asks it for one exposure, and the
// cycle runs as soon as the frame is in the live file, so the picture follows the exposure at
// once. What the camera says comes back to the station's thread as status lines and notes.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <QObject>

#include "camera/indi_camera.h"

class CameraStation {
 public:
  /// What the camera's reports become on the station's thread.
  struct Host {
    std::function<void(const std::string&)> status;  // a failure: the status line
    std::function<void(const std::string&)> note;    // the log only
    std::function<void()> run_cycle;                  // a frame is in the live file, or none came
    std::function<void(const FileState&)> written;    // the live file as a frame left it
    std::function<CameraTarget()> target;             // the live file's path and the frame limits
  };
  explicit CameraStation(Host host) : host_(std::move(host)) {}
  ~CameraStation() { End(); }

  /// Takes the settings; the exposures must fit the interval between ticks.
  void Configure(const CameraSettings& settings, std::chrono::seconds interval);
  bool enabled() const { return settings_.enabled(); }

  /// Start: connects and takes the first exposure. Stop: ends it all.
  void Begin();
  void End();
  /// The tick: one exposure, or the cycle at once on the frame there is while the camera is away
  /// (so that a stopped camera is seen as one). An exposure still being taken is never stacked.
  void Tick();

  /// For the tests: how long an exposure may take beyond itself, and the first pause after a loss.
  void set_bounds(std::chrono::milliseconds margin, std::chrono::milliseconds first_pause) {
    margin_ = margin;
    first_pause_ = first_pause;
  }

 private:
  void Heard(const CameraReport& report);

  Host host_;
  CameraSettings settings_;
  std::chrono::milliseconds margin_{30000};
  std::chrono::milliseconds first_pause_{2000};
  QObject context_;  // the station thread's end of the camera's reports
  std::unique_ptr<IndiCamera> camera_;
  bool skipped_said_ = false;
  int generation_ = 0;  // which camera's reports are heard: the one begun last
};
