// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/station_core.h"

#include "app/beside.h"
#include "app/platform/settings_path.h"
#include "fits/text_numbers.h"

namespace {

const QString kStoppingText = QStringLiteral("Stopping after the upload\u2026");

}  // namespace

StationCore::StationCore(FrameStore& store, FtpClient& ftp, StationFace& face)
    : store_(store),
      ftp_(ftp),
      face_(face),
      cycle_(store, picture_, ftp, *this),
      camera_({[this](const std::string& text) { SetStatus(QString::fromUtf8(text)); },
               [this](const std::string& text) { Note(QString::fromUtf8(text)); },
               [this] { RunCycleForCamera(); },
               [this](const FileState& written) { cycle_.TrustWhole(written); },
               [this] {
                 CameraTarget target;
                 target.live_path = LivePath();
                 target.side_limit = store_.SideLimit();
                 target.pixel_limit = store_.LargeFrames ? FrameStore::kLargePixels
                                                         : int64_t{FrameStore::kSide} * FrameStore::kSide;
                 return target;
               }}) {
  timer_.setObjectName(QStringLiteral("Timer1"));
  timer_.setInterval(60000);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
}

SettingsBytes StationCore::ReadSettings() {
  SettingsBytes file = LoadSettingsBytes(kSettingsFileName);
  if (!file.read.ok)
    Note(QStringLiteral("Settings NG:") + QString::fromUtf8(file.read.reason) + QStringLiteral(" (the defaults are used)"));
  return file;
}

void StationCore::Reset(const std::string& range_text, const std::string& background_text) {
  store_.RangeFactor = NumericValueOfText(range_text);
  store_.BackgroundFactor = NumericValueOfText(background_text);
  cycle_.set_frame_counter(0);
}

void StationCore::SetCycleOptions(const CycleOptions& options) {
  timer_.setInterval(std::chrono::duration_cast<std::chrono::milliseconds>(options.interval));
  std::vector<std::string> notes;
  cycle_.set_options(options, &notes);
  camera_.Configure(options.camera, options.interval);
  for (const std::string& note : notes) Note(QString::fromUtf8(note));
}

void StationCore::Start() {
  if (starting_) return;
  starting_ = true;
  ::Command1_Click(*this, ftp_, store_);
  starting_ = false;
  AfterWork();
}

void StationCore::Stop() {
  ::Command2_Click(*this, ftp_);
  cycle_.EndNight();
}

std::string StationCore::LivePath() const {
  const std::string bytes = face_.SettingBytes(0);
  if (std::optional<std::string> path = FilePathFromSettings(bytes)) return *path;
  face_.ShowNote(log_.Add(QStringLiteral("Settings NG:the live file's path is not text of this system's code page")));
  return bytes;
}

void StationCore::Tick() {
  if (starting_) return;  // Start runs the first cycle itself
  if (camera_.enabled()) camera_.Tick();  // the cycle follows the exposure
  else RunCycle();
}

void StationCore::RunCycleForCamera() {
  if (busy()) {
    camera_cycle_waiting_ = true;  // AfterWork runs it: a frame is never left unpublished
    return;
  }
  RunCycle();
}

void StationCore::RunCycle() {
  if (cycle_.running()) return;  // a tick while a cycle runs is skipped: that cycle carries on
  if (shutdown_pending_) return;  // no cycle begins once a stop has been asked for
  face_.CycleStarting();
  cycle_.Run();
  face_.CycleEnded();
  if (!starting_) AfterWork();  // else once Start has ended
}

void StationCore::RequestShutdown() {
  shutdown_pending_ = true;
  face_.StopRequested();
  if (!busy()) FinishShutdown();
  else SayStopping();
}

bool StationCore::MayCloseNow() {
  if (!busy()) return true;
  close_pending_ = true;
  SayStopping();
  return false;
}

// A stop waits for the running cycle, whose upload may take a while: the observer is told so.
void StationCore::SayStopping() {
  if (stopping_said_) return;
  stopping_said_ = true;
  face_.ShowNote(log_.Add(kStoppingText));
  face_.ShowWaitingToStop(kStoppingText);
}

void StationCore::AfterWork() {
  if (busy()) return;
  if (camera_cycle_waiting_ && !shutdown_pending_ && !close_pending_ && timer_.isActive()) {
    camera_cycle_waiting_ = false;
    QTimer::singleShot(0, &timer_, [this] { RunCycleForCamera(); });
  }
  if (shutdown_pending_) {
    FinishShutdown();
  } else if (close_pending_) {
    close_pending_ = false;
    finished_ = true;
    face_.Finish();
  }
}

void StationCore::FinishShutdown() {
  shutdown_pending_ = false;
  Stop();
  finished_ = true;
  face_.Finish();
}

void StationCore::SetStatus(const QString& text) {
  status_ = text;
  face_.ShowStatus(text, log_.Add(text));
}

void StationCore::Note(const QString& text) { face_.ShowNote(log_.Add(text)); }

void StationCore::ShowHeaderError(const std::string& message) {
  const QString text = QString::fromUtf8(message);
  face_.ShowHeaderError(text, log_.Add(text));
}

void StationCore::SetTimerEnabled(bool enabled) {
  if (!enabled) {
    timer_.stop();
    camera_.End();
    camera_cycle_waiting_ = false;
  } else if (!timer_.isActive()) {
    timer_.start();  // a second Start keeps the running timer
    camera_.Begin();
  }
}

void StationCore::Await(const std::function<void()>& job) { Beside(*this, job); }
