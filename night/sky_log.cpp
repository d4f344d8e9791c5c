// SPDX-License-Identifier: GPL-3.0-or-later
#include "night/sky_log.h"

#include <cmath>

#include <QByteArray>
#include <QList>

#include "base/regular_file.h"

namespace {

constexpr size_t kLargestLog = size_t{64} << 20;

std::optional<double> Field(const QByteArray& text, bool& valid) {
  if (text.isEmpty()) return std::nullopt;
  bool number = false;
  const double value = text.toDouble(&number);  // the C locale's point, whatever the system's
  if (!number || !std::isfinite(value)) valid = false;
  return value;
}

}  // namespace

std::vector<SkyLogLine> ReadSkyLog(const std::string& folder) {
  std::vector<SkyLogLine> lines;
  std::string bytes;
  if (!ReadRegularFile(folder + "/" + kSkyLogName, kLargestLog, bytes).ok) return lines;
  const QList<QByteArray> rows = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())).split('\n');
  for (qsizetype i = 0; i + 1 < rows.size(); ++i) {  // the last piece follows the last newline
    const QList<QByteArray> fields = rows[i].trimmed().split(',');
    if (fields.size() != 6) continue;
    SkyLogLine line;
    line.time = QDateTime::fromString(QString::fromLatin1(fields[0]), Qt::ISODate);
    bool valid = line.time.isValid();
    line.stars = Field(fields[1], valid);
    line.background = Field(fields[2], valid);
    line.background_per_s = Field(fields[3], valid);
    line.sqm = Field(fields[4], valid);
    line.clear = Field(fields[5], valid);
    if (valid) lines.push_back(line);
  }
  return lines;
}
