// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the window and the headless station share: the settings as read, the status and the log,
// Start and Stop, the timer, the live cycle, and the rules of a stop or a close asked for while a
// cycle runs or Start connects. Each of them is a face over this core.

#include <array>
#include <functional>
#include <string>

#include <QString>
#include <QTimer>

#include "app/camera_station.h"
#include "app/live_cycle.h"
#include "app/settings_file.h"
#include "app/station_log.h"
#include "publish/ftp_client.h"
#include "app/start_stop.h"

/// What differs between a window and no window.
class StationFace {
 public:
  virtual ~StationFace() = default;
  /// The bytes of settings line `line` (in the settings file's order) as they stand now.
  virtual std::string SettingBytes(int line) const = 0;
  /// The site caption as text.
  virtual QString SiteCaption() const = 0;
  /// A status text, already in the log as `logged`.
  virtual void ShowStatus(const QString& text, const QString& logged) = 0;
  /// A line for the log only, already in the log as `logged`.
  virtual void ShowNote(const QString& logged) = 0;
  /// A stop waits for the running cycle: `text` says so where a status line shows it, until the
  /// cycle's own next status (already in the log as a note).
  virtual void ShowWaitingToStop(const QString& text) { (void)text; }
  /// A header error, already in the log as `logged`; returns once it has been seen (or at once).
  virtual void ShowHeaderError(const QString& text, const QString& logged) = 0;
  virtual void Yield() = 0;
  virtual void Breathe() = 0;
  /// The sky's last analysis in one line (with --sky).
  virtual void ShowSky(const QString& summary) { (void)summary; }
  virtual void CycleStarting() {}
  virtual void CycleEnded() {}
  /// A stop was asked for by a signal: nobody is there to answer a box from now on.
  virtual void StopRequested() {}
  /// Ends the station once Stop has run (closes the window, ends the event loop).
  virtual void Finish() = 0;
};

class StationCore : public LiveCycleHost, public StationControls {
 public:
  StationCore(FrameStore& store, FtpClient& ftp, StationFace& face);

  /// Reads qor_live.ini; a file there that cannot be read is noted and the defaults stand.
  SettingsBytes ReadSettings();
  /// The two display coefficients from their texts; the counter back to 0.
  void Reset(const std::string& range_text, const std::string& background_text);
  void SetCycleOptions(const CycleOptions& options);

  /// Start, Stop and the timer's tick. A tick while a cycle runs or Start connects is skipped.
  void Start();
  void Stop();
  void Tick();
  /// A stop signal: a running cycle or Start finishes, then Stop, then the face finishes.
  void RequestShutdown();
  /// True when the face may close now; otherwise it is asked to finish once the work has ended.
  bool MayCloseNow();
  /// True once the station has stopped for good (a shutdown, or a close that waited).
  bool finished() const { return finished_; }
  bool busy() const { return cycle_.running() || starting_; }

  LiveCycle& cycle() { return cycle_; }
  CameraStation& camera() { return camera_; }
  PictureSurface& picture() { return picture_; }
  QTimer& timer() { return timer_; }
  StationLog& log() { return log_; }
  const QString& status() const { return status_; }

  // LiveCycleHost
  void Yield() override { face_.Yield(); }
  void Breathe() override { face_.Breathe(); }
  void SetStatus(const QString& text) override;
  void Note(const QString& text) override;
  QString SiteCaption() const override { return face_.SiteCaption(); }
  std::string LiveFileText() const override { return LivePath(); }
  QDateTime Now() const override { return QDateTime::currentDateTime(); }
  void ShowHeaderError(const std::string& message) override;
  void SkyAnalysed(const QString& summary) override { face_.ShowSky(summary); }
  QStringList RecentLog() const override { return log_.Recent(); }

  // StationControls
  std::string StatusText() const override { return status_.toUtf8().toStdString(); }
  void SetStatusText(const std::string& text) override { SetStatus(QString::fromUtf8(text)); }
  std::string LivePathText() const override { return LivePath(); }
  std::string ServerText() const override { return face_.SettingBytes(2); }
  std::string AccountText() const override { return face_.SettingBytes(3); }
  std::string PasswordText() const override { return face_.SettingBytes(4); }
  int16_t FrameCounter() const override { return cycle_.frame_counter(); }
  void SetFrameCounter(int16_t value) override { cycle_.set_frame_counter(value); }
  void RunLiveCycle() override { RunCycle(); }
  void SetTimerEnabled(bool enabled) override;
  void NoteText(const std::string& text) override { Note(QString::fromUtf8(text)); }
  void Await(const std::function<void()>& job) override;

 private:
  /// The live file's path from the settings, for the file calls; a path that is no text of the
  /// system's code page is said in the log and left as it is (its read then fails).
  std::string LivePath() const;
  void SayStopping();
  void RunCycle();
  /// A frame came from the station's own camera: its cycle runs now, or once the running one ends.
  void RunCycleForCamera();
  /// Carries out a stop or close asked for while the station was busy.
  void AfterWork();
  void FinishShutdown();

  FrameStore& store_;
  FtpClient& ftp_;
  StationFace& face_;
  PictureSurface picture_;
  LiveCycle cycle_;
  QTimer timer_;
  CameraStation camera_;
  bool camera_cycle_waiting_ = false;
  mutable StationLog log_;  // a line written from a const call (the settings read) is no change of state
  QString status_;
  bool starting_ = false;
  bool stopping_said_ = false;
  bool finished_ = false;  // the wait for a stop has been said
  bool shutdown_pending_ = false;
  bool close_pending_ = false;
};
