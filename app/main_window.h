#pragma once
// Form1, the station's one window: the settings boxes, Start and Stop, the status line and the
// picture. It wires events to the live cycle, the FTP layer and the settings file.

#include <array>
#include <string>

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "app/picture_view.h"
#include "app/settings_file.h"
#include "app/station_core.h"

inline constexpr const char* kWindowTitle = "Tamsel QOR Live Camera Ver 1.00";

class Form1 : public QWidget, public StationFace {
 public:
  Form1(FrameStore& store, FtpClient& ftp);

  // The handlers, named as the events that run them.
  void Form_Load();
  void Form_Unload();
  void Text2_Change();
  void Text7_Change();
  void Command1_Click();
  void Command2_Click();
  void Timer1_Timer();

  /// The command line's choices: the time between cycles (the design's minute unless it says
  /// otherwise), the stale-frame delay, the archive floor.
  void SetCycleOptions(const CycleOptions& options) { core_.SetCycleOptions(options); }
  /// A request to end (SIGTERM, SIGINT, SIGHUP): a running cycle finishes, then Stop, the
  /// settings are saved as at a close (a failure goes to standard error, no box waits) and the
  /// window closes.
  void RequestShutdown() { core_.RequestShutdown(); }
  bool Stopped() const { return core_.finished(); }

  LiveCycle& cycle() { return core_.cycle(); }
  PictureSurface& picture() { return core_.picture(); }
  QTimer& timer() { return core_.timer(); }
  int16_t FrameCounter() const { return core_.FrameCounter(); }
  std::string PasswordText() const { return BoxBytes(4); }

  // StationFace
  std::string SettingBytes(int line) const override { return BoxBytes(line); }
  QString SiteCaption() const override { return text3_->text(); }
  void ShowStatus(const QString& text, const QString& logged) override;
  void ShowNote(const QString&) override {}
  /// The last analysis of the sky heads the status tooltip, above the log's last lines.
  void ShowSky(const QString& summary) override;
  void ShowWaitingToStop(const QString& text) override;
  void ShowHeaderError(const QString& text, const QString& logged) override;
  void Yield() override;
  void Breathe() override;
  void CycleStarting() override { failure_in_cycle_ = false; }
  void CycleEnded() override;
  void StopRequested() override;
  void Finish() override { close(); }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Build();
  void ShowToolTip();
  /// The boxes in the order of their lines in the settings file.
  std::array<QLineEdit*, kSettingsLines> SettingsBoxes() const;
  /// What a box holds, as the bytes the settings file gave it where the user has not edited it.
  std::string BoxBytes(int line) const;

  FrameStore& store_;
  StationCore core_;
  bool failure_in_cycle_ = false;  // an "NG" in the cycle that runs, or in the last one
  QString sky_summary_;            // the sky's last analysis, with --sky
  bool unattended_close_ = false;  // no box may wait for an answer
  QMessageBox* header_box_ = nullptr;  // while the header error waits for OK
  SettingsTexts settings_texts_;
  Outcome settings_read_;  // a settings file that was there but could not be read is not replaced

  PictureView* picture1_;
  QGroupBox* frame1_;
  QGroupBox* frame2_;
  QPushButton* command1_;
  QPushButton* command2_;
  QLabel* label1_;
  QLabel* label2_;
  QLabel* label3_;
  QLabel* label4_;
  QLabel* label5_;
  QLabel* label6_;
  QLabel* label7_;
  QLabel* label8_;
  QLabel* label9_;
  QLineEdit* text1_;
  QLineEdit* text2_;
  QLineEdit* text3_;
  QLineEdit* text4_;
  QLineEdit* text5_;
  QLineEdit* text6_;
  QLineEdit* text7_;
};
