#include "display/clock_texts.h"

#include <cstdlib>

QString DateTimeStamp(const QDateTime& when) {
  return when.toString(QStringLiteral("MM-dd-yyyy")) + QLatin1Char(' ') + when.toString(QStringLiteral("HH:mm:ss"));
}

QString IsoLocalTime(const QDateTime& when) {
  const int offset = when.offsetFromUtc();
  const int minutes = std::abs(offset) / 60;
  return when.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + QLatin1Char(offset < 0 ? '-' : '+') +
         QStringLiteral("%1:%2").arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString ArchiveFileName(const QDateTime& when) {
  // Built as the date, "_", the time and ".fts", then stripped of every "-" and ":".
  QString name = when.toString(QStringLiteral("MM-dd-yyyy")) + QLatin1Char('_') +
                 when.toString(QStringLiteral("HH:mm:ss")) + QStringLiteral(".fts");
  name.remove(QLatin1Char('-'));
  name.remove(QLatin1Char(':'));
  return name;
}

QString ArchiveDirectory(const QString& live_file_text, QChar separator) {
  const qsizetype last = live_file_text.lastIndexOf(separator);
  return last < 0 ? QString() : live_file_text.left(last + 1);
}

std::string ArchiveDirectoryBytes(const std::string& live_file_bytes, char separator) {
  const size_t last = live_file_bytes.rfind(separator);
  return last == std::string::npos ? std::string() : live_file_bytes.substr(0, last + 1);
}
