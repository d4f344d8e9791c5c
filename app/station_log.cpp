#include "app/station_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "app/clock_texts.h"

namespace {

constexpr size_t kRecentLines = 20;
constexpr int kKeptLogs = 3;

// Only the station's own logs move: anything else under one of their names (a directory, a link)
// is the user's and stays where it is.
bool MoveLog(const std::string& from, const std::string& to) {
  struct stat source {}, target {};
  if (lstat(from.c_str(), &source) != 0 || !S_ISREG(source.st_mode)) return false;
  if (lstat(to.c_str(), &target) == 0 && !S_ISREG(target.st_mode)) return false;
  return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

StationLog::StationLog(std::string path, uint64_t limit_bytes) : path_(std::move(path)), limit_bytes_(limit_bytes) {}

QString StationLog::Add(const QString& text, const QDateTime& when) {
  const QString line = IsoLocalTime(when) + QLatin1Char(' ') + text;
  recent_.push_back(line);
  if (recent_.size() > kRecentLines) recent_.pop_front();

  const QByteArray bytes = line.toUtf8() + '\n';
  struct stat info {};
  int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW;
  if (lstat(path_.c_str(), &info) == 0 && static_cast<uint64_t>(info.st_size) + bytes.size() > limit_bytes_ &&
      !Rotate())
    flags |= O_TRUNC;  // the older logs cannot move on: this one starts anew rather than grow for good
  // O_NONBLOCK: a FIFO put in the log's place must not stop the station. O_NOFOLLOW: a link put
  // there must not take the log (and the station's writes) to a file elsewhere.
  const int fd = open(path_.c_str(), flags, 0644);
  if (fd >= 0) {
    [[maybe_unused]] const ssize_t written = write(fd, bytes.constData(), static_cast<size_t>(bytes.size()));
    close(fd);
  }
  return line;
}

QStringList StationLog::Recent() const { return QStringList(recent_.begin(), recent_.end()); }

bool StationLog::Rotate() {
  for (int i = kKeptLogs - 1; i >= 1; --i)
    MoveLog(path_ + "." + std::to_string(i), path_ + "." + std::to_string(i + 1));
  return MoveLog(path_, path_ + ".1");
}
