#pragma once
// qor_live.log: one line for every status text, header error and settings warning, each after
// the local time in ISO 8601. At its size limit the log is renamed to qor_live.log.1 (keeping .1
// to .3) and a new one begun; where it cannot be renamed, it is begun anew in place. A log that
// cannot be written (or is a link) is skipped, never a reason to stop.

#include <cstdint>
#include <deque>
#include <string>

#include <QDateTime>
#include <QString>
#include <QStringList>

inline constexpr const char* kLogFileName = "qor_live.log";

class StationLog {
 public:
  explicit StationLog(std::string path = kLogFileName, uint64_t limit_bytes = uint64_t{1} << 20);

  /// Appends `text` stamped with `when`; returns the stamped line (without its line end).
  QString Add(const QString& text, const QDateTime& when = QDateTime::currentDateTime());
  /// The last lines added in this run, oldest first (at most 20).
  QStringList Recent() const;

 private:
  /// Moves the older logs on; false when the log itself could not be moved.
  bool Rotate();

  std::string path_;
  uint64_t limit_bytes_;
  std::deque<QString> recent_;
};
