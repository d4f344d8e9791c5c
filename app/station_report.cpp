#include "app/station_report.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include "display/clock_texts.h"

namespace {

// Header bytes are ASCII in a file that keeps the standard; some software writes UTF-8, which is
// taken as such where it is valid; Latin-1 keeps any other byte as some character.
QString HeaderText(const std::string& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8);
  const QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  return utf8.hasError() ? QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size())) : text;
}

}  // namespace

QByteArray StationReportJson(const StationReport& report) {
  QJsonObject json;
  json[QStringLiteral("updated")] = IsoLocalTime(report.updated);
  json[QStringLiteral("frame_changed")] =
      report.frame_changed ? QJsonValue(IsoLocalTime(*report.frame_changed)) : QJsonValue(QJsonValue::Null);
  json[QStringLiteral("stale")] = report.stale;
  json[QStringLiteral("status")] = report.status;
  json[QStringLiteral("interval")] = report.interval;
  json[QStringLiteral("frame_time")] =
      report.frame_time ? QJsonValue(HeaderText(*report.frame_time)) : QJsonValue(QJsonValue::Null);
  return QJsonDocument(json).toJson(QJsonDocument::Compact) + '\n';
}
