#pragma once
// The station without a window or a display server: the settings come from qor_live.ini (which
// it never writes), Start is pressed at launch, and every status text and header error goes to
// standard output with its local time. The picture is rendered and lettered as in the window.

#include <array>
#include <cstdio>
#include <string>

#include "app/station_core.h"

class HeadlessStation : public StationFace {
 public:
  HeadlessStation(FrameStore& store, FtpClient& ftp, const CycleOptions& options, std::FILE* out);

  /// Reads the settings and presses Start.
  void Start();
  /// Lets a running cycle (or Start) finish, presses Stop and ends the event loop with status 0.
  void RequestShutdown() { core_.RequestShutdown(); }
  bool Stopped() const { return core_.finished(); }

  // StationFace
  std::string SettingBytes(int line) const override { return texts_[line]; }
  QString SiteCaption() const override { return DecodeSettingsText(texts_[1]); }
  void ShowStatus(const QString&, const QString& logged) override { Print(logged); }
  void ShowNote(const QString& logged) override { Print(logged); }
  /// Written out like a status; nobody is there to answer a box, so the cycle goes on at once.
  void ShowHeaderError(const QString&, const QString& logged) override { Print(logged); }
  void Yield() override;
  void Breathe() override { Yield(); }
  void Finish() override;

 private:
  void Print(const QString& line);

  std::FILE* out_;
  std::array<std::string, kSettingsLines> texts_;
  StationCore core_;
};
