#include "app/headless_station.h"

#include <QCoreApplication>

#include "app/platform/console_lines.h"

HeadlessStation::HeadlessStation(FrameStore& store, FtpClient& ftp, const CycleOptions& options, std::FILE* out)
    : out_(out), core_(store, ftp, *this) {
  core_.SetCycleOptions(options);
  for (int i = 0; i < kSettingsLines; ++i) texts_[i] = kDefaultSettingsTexts[i];
}

void HeadlessStation::Start() {
  const SettingsBytes file = core_.ReadSettings();
  for (int i = 0; i < kSettingsLines; ++i)
    if (file.lines[i]) texts_[i] = *file.lines[i];
  core_.Reset(texts_[5], texts_[6]);
  core_.Start();
}

void HeadlessStation::Yield() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void HeadlessStation::Finish() { QCoreApplication::exit(0); }

void HeadlessStation::Print(const QString& line) { PrintLine(out_, line.toStdString()); }
