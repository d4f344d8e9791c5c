#pragma once
// Form1, the station's one window: the settings boxes, Start and Stop, the status line and the
// picture. It wires events to the live cycle, the FTP layer and the settings file.

#include <array>
#include <chrono>
#include <string>

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "app/live_cycle.h"
#include "app/picture_view.h"
#include "app/settings_file.h"
#include "app/station_log.h"
#include "publish/start_stop.h"

inline constexpr const char* kWindowTitle = "Tamsel QOR Live Camera Ver 1.00";

class Form1 : public QWidget, public LiveCycleHost, public StationControls {
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
  void SetCycleOptions(const CycleOptions& options);
  /// A request to end (SIGTERM, SIGINT): a running cycle finishes, then Stop, the settings are
  /// saved as at a close (a failure goes to standard error, no box waits) and the window closes.
  void RequestShutdown();

  LiveCycle& cycle() { return cycle_; }
  PictureSurface& picture() { return picture_; }
  QTimer& timer() { return timer1_; }

  // LiveCycleHost
  void Yield() override;
  void Breathe() override;
  void SetStatus(const QString& text) override;
  void Note(const QString& text) override { log_.Add(text); }
  QString SiteCaption() const override { return text3_->text(); }
  std::string LiveFileText() const override { return LivePathText(); }
  QDateTime Now() const override { return QDateTime::currentDateTime(); }
  void ShowHeaderError(const std::string& message) override;

  // StationControls
  std::string StatusText() const override { return label2_->text().toUtf8().toStdString(); }
  void SetStatusText(const std::string& text) override { SetStatus(QString::fromUtf8(text)); }
  std::string LivePathText() const override { return BoxBytes(0); }
  std::string ServerText() const override { return BoxBytes(2); }
  std::string AccountText() const override { return BoxBytes(3); }
  std::string PasswordText() const override { return BoxBytes(4); }
  int16_t FrameCounter() const override { return cycle_.frame_counter(); }
  void SetFrameCounter(int16_t value) override { cycle_.set_frame_counter(value); }
  void RunLiveCycle() override { RunCycleThenPendingClose(); }
  void SetTimerEnabled(bool enabled) override;
  void NoteText(const std::string& text) override { Note(QString::fromUtf8(text)); }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Build();
  void RunCycleThenPendingClose();
  void FinishShutdown();
  /// The boxes in the order of their lines in the settings file.
  std::array<QLineEdit*, kSettingsLines> SettingsBoxes() const;
  /// What a box holds, as the bytes the settings file gave it where the user has not edited it.
  std::string BoxBytes(int line) const;

  FrameStore& store_;
  FtpClient& ftp_;
  PictureSurface picture_;
  LiveCycle cycle_;
  QTimer timer1_;
  bool close_pending_ = false;
  bool failure_in_cycle_ = false;  // an "NG" in the cycle that runs, or in the last one
  StationLog log_;
  bool shutdown_pending_ = false;
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
