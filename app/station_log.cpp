#include "app/station_log.h"

#include <filesystem>

#include "display/clock_texts.h"
#include "base/append_file.h"
#include "base/regular_file.h"
#include "base/utf8_path.h"

namespace {

constexpr size_t kRecentLines = 20;
constexpr int kKeptLogs = 3;

// Only the station's own logs move: anything else under one of their names (a directory, a link)
// is the user's and stays where it is.
bool MoveLog(const std::string& from, const std::string& to) {
  if (KindAt(from) != PathKind::kRegular) return false;
  const PathKind target = KindAt(to);
  if (target != PathKind::kMissing && target != PathKind::kRegular) return false;
  std::error_code error;
  std::filesystem::rename(Utf8Path(from), Utf8Path(to), error);
  return !error;
}

}  // namespace

StationLog::StationLog(std::string path, uint64_t limit_bytes) : path_(std::move(path)), limit_bytes_(limit_bytes) {}

QString StationLog::Add(const QString& text, const QDateTime& when) {
  const QString line = IsoLocalTime(when) + QLatin1Char(' ') + text;
  recent_.push_back(line);
  if (recent_.size() > kRecentLines) recent_.pop_front();

  const std::string bytes = line.toStdString() + '\n';
  // A link put in the log's place must not take the log (and the station's writes) elsewhere; a
  // FIFO there must not stop the station.
  AppendOptions options;
  options.follow_link = false;
  std::error_code error;
  const bool regular = KindAt(path_) == PathKind::kRegular;
  const auto size = regular ? std::filesystem::file_size(Utf8Path(path_), error) : 0;
  if (regular && !error && size + bytes.size() > limit_bytes_ && !Rotate())
    options.start_anew = true;  // the older logs cannot move on: this one starts anew rather than grow for good
  AppendToFile(path_, bytes, options);
  return line;
}

QStringList StationLog::Recent() const { return QStringList(recent_.begin(), recent_.end()); }

bool StationLog::Rotate() {
  for (int i = kKeptLogs - 1; i >= 1; --i)
    MoveLog(path_ + "." + std::to_string(i), path_ + "." + std::to_string(i + 1));
  return MoveLog(path_, path_ + ".1");
}
