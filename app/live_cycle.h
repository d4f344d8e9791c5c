#pragma once
// One live cycle: read the live frame, stretch and draw it, letter it, export it, upload it, and
// every ninth cycle archive the raw frame. The window drives it from its timer and from Start.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

#include <QDateTime>
#include <QImage>
#include <QStringList>
#include <QString>

#include "app/frame_freshness.h"
#include "app/sky_station.h"
#include "app/event_station.h"
#include "app/station_alerts.h"
#include "camera/camera_settings.h"
#include "night/night_keeper.h"
#include "display/picture_painter.h"
#include "display/picture_surface.h"
#include "fits/fits_reader.h"
#include "fits/frame_store.h"
#include "base/outcome.h"
#include "publish/picture_publisher.h"

/// What the cycle reaches of the window.
class LiveCycleHost : public HeaderErrorSink {
 public:
  /// Lets the window handle all its pending events (clicks, edits, repaints).
  virtual void Yield() = 0;
  /// Lets the window repaint and take its timers and signals, but leaves clicks and keys for the
  /// next yield: between the steps that the design runs without a break, so that the window
  /// never freezes for long while a click still takes effect where it always did.
  virtual void Breathe() { Yield(); }
  virtual void SetStatus(const QString& text) = 0;
  /// A line for the log only: the status line does not change.
  virtual void Note(const QString& text) = 0;
  virtual QString SiteCaption() const = 0;       // Text3, read when the picture is lettered
  virtual std::string LiveFileText() const = 0;  // Text1's bytes, read when an archive is named
  virtual QDateTime Now() const = 0;
  /// The reader's wait before it reads a file that was being written again: breathing.
  void Pause(std::chrono::nanoseconds duration) override {
    const auto until = std::chrono::steady_clock::now() + duration;
    for (auto now = std::chrono::steady_clock::now(); now < until; now = std::chrono::steady_clock::now()) {
      Breathe();
      std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(until - now, std::chrono::milliseconds(4)));
    }
  }
  /// A read attempt runs beside the window, which breathes meanwhile.
  void RunAttempt(const std::function<void()>& attempt) override;
  /// The sky's analysis of the frame, in one line for a tooltip (empty without --sky).
  virtual void SkyAnalysed(const QString& summary) { (void)summary; }
  /// The last lines of the station's log, for an alert about the station.
  virtual QStringList RecentLog() const { return {}; }
  /// The monotonic clock, for "how long since": it never steps when the wall clock is set.
  virtual std::chrono::steady_clock::time_point Monotonic() const { return std::chrono::steady_clock::now(); }
};

/// The choices an observer can make on the command line. Without them the cycle does what it was
/// designed to do: the stale line and the archive floor change its picture and its archives, so
/// they are only there when asked for.
struct CycleOptions {
  std::chrono::seconds interval{60};    // between cycles; reported in live2.json
  std::chrono::seconds stale_after{0};  // no new frame for this long: the picture says so; 0: never
  uint64_t archive_floor_mb = 0;        // no archive below this much free space; 0: no check
  int archive_every = 9;                // --archive-every N: cycles between archives; 0: never
  bool large_frames = false;            // --large-frames: frames up to 16384 a side are read
  std::chrono::seconds upload_budget{90};  // all of a cycle's uploads end within this
  PictureChoices picture{};                // --picture, --colour, --white-balance
  std::string overlay{};                   // --overlay: a third line with the frame's {KEY}s
  NightOptions night{};                    // --night, --site, --sun-altitude, --keep-nights
  SkySettings sky{};                       // --sky, --dark, --hot-pixels and the sky's numbers
  AlertSettings alerts{};                  // --alert, --notify and the channels' login
  EventSettings events{};                  // --events, --event-sigma, --event-length
  CameraSettings camera{};                 // --camera and its exposure: the station's own camera
};

class LiveCycle {
 public:
  static constexpr int16_t kArchiveEvery = 9;  // the design's cycles between archives

  LiveCycle(FrameStore& store, PictureSurface& picture, PicturePublisher& publisher, LiveCycleHost& host)
      : store_(store), picture_(picture), publisher_(publisher), host_(host) {}

  /// Runs one cycle (Timer1_Timer). A call made while a cycle runs, from a handler at one of its
  /// yields or while the reader's message box waits, is skipped: it returns false at once.
  bool Run();
  bool running() const { return running_; }

  int16_t frame_counter() const { return frame_counter_; }
  void set_frame_counter(int16_t value) { frame_counter_ = value; }
  /// Takes the options; lines for the log where the sky's part has something to say. The dark was
  /// checked at start: one that cannot be read now leaves the frames as they are (said in `notes`).
  void set_options(const CycleOptions& options, std::vector<std::string>* notes = nullptr) {
    options_ = options;
    std::vector<std::string> said;
    if (const Outcome configured = sky_.Configure(options.sky, said); !configured.ok)
      said.push_back("Sky NG:" + configured.reason);
    if (notes) *notes = std::move(said);
    painter_.SetChoices(options.picture);
    reader_.set_colour_planes(options.picture.colour);
    store_.LargeFrames = options.large_frames;
    NightOptions night = options.night;
    night.sky = options.sky.enabled;
    night_.SetOptions(night, options.archive_floor_mb);
    alerts_.Configure(options.alerts);
    events_.Configure(options.events);
  }
  /// The live file as the station's own camera wrote it whole: read without a settling wait.
  void TrustWhole(const FileState& written) { reader_.TrustWhole(written); }
  /// Publishing stops: the night being kept ends.
  void EndNight();
  const CycleOptions& options() const { return options_; }
  const SkyStation& sky() const { return sky_; }

 private:
  void Steps();
  void Archive();
  /// Writes live2.json and uploads it unless the connection has just failed (another upload
  /// would only wait as long again); a failure is noted in the log only.
  void Report(const QDateTime& when, const QString& status, bool connection_failed = false);
  void Status(const QString& text);
  /// Keeps the cycle's published picture for the night (where it was saved), with `plain`, its
  /// picture unlettered.
  void KeepForTheNight(const QDateTime& now, const QImage& plain, bool saved);
  /// The sky's analysis of a frame just read, once its picture is out; the frame is then the
  /// camera's again, for the archive.
  void AnalyseTheSky(const ReadResult& read, const QDateTime& now);
  /// The overlay's {KEY}s that the station itself knows: the sky's and the night's meteors.
  std::map<std::string, std::string> StationValues() const;
  /// Uploads the reviewed nights' products that are due, in what is left of the cycle's interval:
  /// they never hold back the next live picture.
  void PublishNights(bool connection_failed);
  void Notes(const std::vector<std::string>& notes);
  /// The cycle's conditions to the alerts, and the station's state to MQTT.
  void Alert(const QDateTime& when, const QByteArray& report);
  /// The archive's free bytes where a floor is set and they are below it.
  std::optional<uint64_t> SpaceBelowFloor() const;
  /// True when the stale line is asked for and no new frame has come for that long.
  bool Stale() const;

  FrameStore& store_;
  PictureSurface& picture_;
  PicturePublisher& publisher_;
  LiveCycleHost& host_;
  FrameReader reader_;
  PicturePainter painter_;
  NightKeeper night_;
  SkyStation sky_;
  StationAlerts alerts_;
  EventStation events_;
  int uploads_failed_in_row_ = 0;
  std::chrono::steady_clock::time_point started_{};  // this cycle's start
  bool first_since_start_ = true;  // the cycle that Start runs before it starts the timer
  FrameFreshness freshness_;
  CycleOptions options_;
  QString last_status_;
  QImage last_good_;          // the last picture drawn from a frame that was read, unlettered
  QDateTime last_good_time_;  // when it was drawn
  bool frame_refused_ = false;  // this cycle's header was refused: its picture is the last good one
  int16_t frame_counter_ = 0;
  bool running_ = false;
};
