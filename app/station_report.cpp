#include "app/station_report.h"

#include <cmath>

#include <QJsonArray>
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

QJsonValue NumberOrNull(std::optional<double> value) {
  return value && std::isfinite(*value) ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

// Without values (a frame that could not be analysed) every figure is null: a number from an
// earlier frame would be a wrong number presented as right.
QJsonObject SkyJson(const SkyReading& sky) {
  const bool measured = sky.measured();
  QJsonArray sectors;
  for (const std::optional<bool>& clear : sky.sectors)
    sectors.append(measured && clear ? QJsonValue(*clear) : QJsonValue(QJsonValue::Null));
  QJsonObject json;
  json[QStringLiteral("stars")] = measured ? QJsonValue(sky.stars) : QJsonValue(QJsonValue::Null);
  json[QStringLiteral("background")] = NumberOrNull(measured ? sky.background : std::nullopt);
  json[QStringLiteral("background_per_s")] = NumberOrNull(measured ? sky.background_per_s : std::nullopt);
  json[QStringLiteral("sqm")] = NumberOrNull(measured ? sky.sqm : std::nullopt);
  json[QStringLiteral("clear")] = NumberOrNull(measured ? sky.clear : std::nullopt);
  json[QStringLiteral("hot_pixels")] = sky.hot_pixels;
  json[QStringLiteral("sectors")] = sectors;
  return json;
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
  if (report.sky) json[QStringLiteral("sky")] = SkyJson(*report.sky);
  return QJsonDocument(json).toJson(QJsonDocument::Compact) + '\n';
}
