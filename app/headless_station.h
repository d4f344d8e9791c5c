#pragma once
// The station without a window or a display server: the settings come from qor_live.ini (which
// it never writes), Start is pressed at launch, and every status text and header error goes to
// standard output with its local time. The picture is rendered and lettered as in the window.

#include <array>
#include <chrono>
#include <cstdio>
#include <string>

#include <QTimer>

#include "app/live_cycle.h"
#include "app/settings_file.h"
#include "app/station_log.h"
#include "publish/ftp_client.h"
#include "publish/start_stop.h"

class HeadlessStation : public LiveCycleHost, public StationControls {
 public:
  HeadlessStation(FrameStore& store, FtpClient& ftp, const CycleOptions& options, std::FILE* out);

  /// Reads the settings and presses Start.
  void Start();
  /// Lets a running cycle finish, presses Stop and ends the event loop with status 0.
  void RequestShutdown();

  // LiveCycleHost
  void Yield() override;
  void SetStatus(const QString& text) override;
  void Note(const QString& text) override { Print(text); }
  QString SiteCaption() const override { return DecodeSettingsText(texts_[1]); }
  std::string LiveFileText() const override { return texts_[0]; }
  QDateTime Now() const override { return QDateTime::currentDateTime(); }
  /// Written out like a status; nobody is there to answer a box, so the cycle goes on at once.
  void ShowHeaderError(const std::string& message) override;

  // StationControls
  std::string StatusText() const override { return status_.toUtf8().toStdString(); }
  void SetStatusText(const std::string& text) override { SetStatus(QString::fromUtf8(text)); }
  std::string LivePathText() const override { return texts_[0]; }
  std::string ServerText() const override { return texts_[2]; }
  std::string AccountText() const override { return texts_[3]; }
  std::string PasswordText() const override { return texts_[4]; }
  int16_t FrameCounter() const override { return cycle_.frame_counter(); }
  void SetFrameCounter(int16_t value) override { cycle_.set_frame_counter(value); }
  void RunLiveCycle() override { RunCycle(); }
  void SetTimerEnabled(bool enabled) override;
  void NoteText(const std::string& text) override { Note(QString::fromUtf8(text)); }

 private:
  void RunCycle();
  void Print(const QString& line);
  void FinishShutdown();

  FrameStore& store_;
  FtpClient& ftp_;
  std::FILE* out_;
  PictureSurface picture_;
  LiveCycle cycle_;
  QTimer timer_;
  std::array<std::string, kSettingsLines> texts_;
  QString status_;
  StationLog log_;
  bool shutdown_pending_ = false;
};
