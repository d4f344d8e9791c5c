#include "app/station_report.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "app/clock_texts.h"

QByteArray StationReportJson(const StationReport& report) {
  QJsonObject json;
  json[QStringLiteral("updated")] = IsoLocalTime(report.updated);
  json[QStringLiteral("frame_changed")] =
      report.frame_changed ? QJsonValue(IsoLocalTime(*report.frame_changed)) : QJsonValue(QJsonValue::Null);
  json[QStringLiteral("stale")] = report.stale;
  json[QStringLiteral("status")] = report.status;
  json[QStringLiteral("interval")] = report.interval;
  // Header bytes are ASCII in any sane file; Latin-1 keeps any other byte as some character.
  json[QStringLiteral("frame_time")] = report.frame_time
                                           ? QJsonValue(QString::fromLatin1(*report.frame_time))
                                           : QJsonValue(QJsonValue::Null);
  return QJsonDocument(json).toJson(QJsonDocument::Compact) + '\n';
}
