#include "app/station_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "app/clock_texts.h"

namespace {

constexpr size_t kRecentLines = 20;
constexpr int kKeptLogs = 3;

}  // namespace

StationLog::StationLog(std::string path, uint64_t limit_bytes) : path_(std::move(path)), limit_bytes_(limit_bytes) {}

QString StationLog::Add(const QString& text, const QDateTime& when) {
  const QString line = IsoLocalTime(when) + QLatin1Char(' ') + text;
  recent_.push_back(line);
  if (recent_.size() > kRecentLines) recent_.pop_front();

  const QByteArray bytes = line.toUtf8() + '\n';
  struct stat info {};
  if (stat(path_.c_str(), &info) == 0 && static_cast<uint64_t>(info.st_size) + bytes.size() > limit_bytes_) Rotate();
  // O_NONBLOCK: a FIFO put in the log's place must not stop the station.
  const int fd = open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd >= 0) {
    [[maybe_unused]] const ssize_t written = write(fd, bytes.constData(), static_cast<size_t>(bytes.size()));
    close(fd);
  }
  return line;
}

QStringList StationLog::Recent() const { return QStringList(recent_.begin(), recent_.end()); }

void StationLog::Rotate() {
  for (int i = kKeptLogs - 1; i >= 1; --i)
    std::rename((path_ + "." + std::to_string(i)).c_str(), (path_ + "." + std::to_string(i + 1)).c_str());
  std::rename(path_.c_str(), (path_ + ".1").c_str());
}
