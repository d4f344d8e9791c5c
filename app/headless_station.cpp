#include "app/headless_station.h"

#include <QCoreApplication>

#include "fits/text_numbers.h"

HeadlessStation::HeadlessStation(FrameStore& store, FtpClient& ftp, const CycleOptions& options, std::FILE* out)
    : store_(store), ftp_(ftp), out_(out), cycle_(store, picture_, ftp, *this) {
  timer_.setInterval(std::chrono::duration_cast<std::chrono::milliseconds>(options.interval));
  cycle_.set_options(options);
  QObject::connect(&timer_, &QTimer::timeout, [this] { RunCycle(); });
  for (int i = 0; i < kSettingsLines; ++i) texts_[i] = kDefaultSettingsTexts[i];
}

void HeadlessStation::Start() {
  const SettingsBytes file = LoadSettingsBytes(kSettingsFileName);
  if (!file.read.ok)
    Print(QStringLiteral("Settings NG:") + QString::fromUtf8(file.read.reason) + QStringLiteral(" (the defaults are used)"));
  for (int i = 0; i < kSettingsLines; ++i)
    if (file.lines[i]) texts_[i] = *file.lines[i];
  store_.RangeFactor = NumericValueOfText(texts_[5]);
  store_.BackgroundFactor = NumericValueOfText(texts_[6]);
  cycle_.set_frame_counter(0);
  Command1_Click(*this, ftp_, store_);
}

void HeadlessStation::RequestShutdown() {
  shutdown_pending_ = true;
  if (!cycle_.running()) FinishShutdown();  // else once the cycle has ended
}

void HeadlessStation::FinishShutdown() {
  shutdown_pending_ = false;
  Command2_Click(*this, ftp_);
  QCoreApplication::exit(0);
}

void HeadlessStation::Yield() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void HeadlessStation::SetStatus(const QString& text) {
  status_ = text;
  Print(text);
}

void HeadlessStation::ShowHeaderError(const std::string& message) { Print(QString::fromUtf8(message)); }

void HeadlessStation::SetTimerEnabled(bool enabled) {
  if (!enabled) timer_.stop();
  else if (!timer_.isActive()) timer_.start();
}

void HeadlessStation::RunCycle() {
  cycle_.Run();
  if (shutdown_pending_ && !cycle_.running()) FinishShutdown();
}

void HeadlessStation::Print(const QString& line) {
  const QByteArray text = log_.Add(line).toUtf8();
  std::fprintf(out_, "%s\n", text.constData());
  std::fflush(out_);
}
