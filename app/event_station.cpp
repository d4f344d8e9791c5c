// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/event_station.h"

#include <cmath>
#include <filesystem>

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>

#include "app/sky_station.h"
#include "app/station_alerts.h"
#include "base/atomic_file.h"
#include "base/regular_file.h"
#include "base/utf8_path.h"
#include "display/clock_texts.h"

namespace {

double Rounded(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::round(value * scale) / scale;
}

QByteArray Jpeg(const QImage& picture) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  picture.save(&buffer, "JPEG", 90);
  return bytes;
}

// The night's events.json as it stands; an unreadable one is begun anew, said in `notes`.
QJsonArray ReadEvents(const std::string& path, std::vector<std::string>& notes) {
  std::string bytes;
  const Outcome read = ReadRegularFile(path, size_t{16} << 20, bytes);
  if (read.not_found()) return {};
  QJsonParseError error{};
  const QJsonDocument document = read.ok ? QJsonDocument::fromJson(QByteArray::fromStdString(bytes), &error) : QJsonDocument();
  if (read.ok && error.error == QJsonParseError::NoError && document.isArray()) return document.array();
  std::error_code renamed;
  std::filesystem::rename(Utf8Path(path), Utf8Path(path + ".damaged"), renamed);
  notes.push_back("Events NG:" + path + " is damaged; kept as " + path + ".damaged");
  return {};
}

}  // namespace

QImage EventPicture(const QImage& picture, const Streak& streak, double scale) {
  QImage boxed = picture.convertToFormat(QImage::Format_RGB32);
  const double margin = 6;
  const QRectF box(QPointF(std::min(streak.x1, streak.x2) * scale - margin, std::min(streak.y1, streak.y2) * scale - margin),
                   QPointF(std::max(streak.x1, streak.x2) * scale + margin, std::max(streak.y1, streak.y2) * scale + margin));
  QPainter painter(&boxed);
  painter.setPen(QPen(QColor(255, 210, 0), 1));
  painter.drawRect(box);
  return boxed;
}

std::string EventStation::OverlayValue() const { return std::to_string(meteors_tonight_); }

std::vector<std::string> EventStation::NoFrame(StationAlerts* alerts) {
  new_meteors_ = 0;
  if (!enabled()) return {};
  finder_.Forget();
  last_digest_.reset();
  return Keep(classifier_.Break(), alerts);
}

std::vector<std::string> EventStation::Frame(const EventFrame& frame, StationAlerts* alerts) {
  new_meteors_ = 0;
  if (!enabled()) return {};
  if (!frame.signal || frame.signal->pixels.empty()) return NoFrame(alerts);
  if (last_digest_ == frame.digest) return {};  // the same frame again: nothing new in it
  last_digest_ = frame.digest;
  const std::string tonight = EveningDate(frame.when);
  if (tonight != tonight_) {
    tonight_ = tonight;
    meteors_tonight_ = 0;
    if (frame.night_folder) {  // a restart in mid-night goes on counting
      std::vector<std::string> unused;
      for (const QJsonValue& event : ReadEvents(*frame.night_folder + "/" + kEventsFile, unused))
        meteors_tonight_ += event.toObject()[QStringLiteral("class")].toString() == QStringLiteral("meteor");
    }
  }
  std::vector<Streak> streaks = finder_.Find(*frame.signal, settings_.sigma, settings_.length);
  const uint64_t number = ++number_;
  std::vector<TrailEvent> decided =
      classifier_.Next(number, streaks, [this](const Streak& streak) { return finder_.LevelAlong(streak); });
  std::vector<std::string> notes = Keep(decided, alerts);
  waiting_.clear();
  if (!streaks.empty()) waiting_.push_back({number, frame.picture, frame.picture_scale, frame.when, frame.night_folder});
  return notes;
}

QJsonObject EventStation::EventJson(const TrailEvent& event, const Waiting& frame) const {
  const Streak& s = event.streak;
  QJsonObject json;
  json[QStringLiteral("kind")] = QStringLiteral("event");
  json[QStringLiteral("time")] = IsoLocalTime(frame.when);
  json[QStringLiteral("class")] = QString::fromLatin1(TrailClassName(event.kind));
  json[QStringLiteral("x1")] = Rounded(s.x1, 1);
  json[QStringLiteral("y1")] = Rounded(s.y1, 1);
  json[QStringLiteral("x2")] = Rounded(s.x2, 1);
  json[QStringLiteral("y2")] = Rounded(s.y2, 1);
  json[QStringLiteral("length")] = Rounded(s.length, 1);
  json[QStringLiteral("peak_sigma")] = Rounded(s.peak, 1);
  return json;
}

std::vector<std::string> EventStation::Keep(const std::vector<TrailEvent>& events, StationAlerts* alerts) {
  std::vector<std::string> notes;
  for (const TrailEvent& event : events) {
    const auto frame = std::find_if(waiting_.begin(), waiting_.end(), [&](const Waiting& w) { return w.number == event.frame; });
    if (frame == waiting_.end()) continue;
    const bool meteor = event.kind == TrailClass::kMeteor;
    if (meteor) {
      ++new_meteors_;
      if (EveningDate(frame->when) == tonight_) ++meteors_tonight_;
    }
    QJsonObject json = EventJson(event, *frame);
    notes.push_back(std::string("Event:") + TrailClassName(event.kind) + " " + std::to_string(std::lround(event.streak.length)) +
                    " px, " + std::to_string(std::lround(event.streak.peak)) + " sigma");
    if (!meteor && !settings_.all) continue;
    const QByteArray picture = frame->picture.isNull() ? QByteArray() : Jpeg(EventPicture(frame->picture, event.streak, frame->picture_scale));
    if (frame->night_folder) {
      const std::string folder = *frame->night_folder + "/" + kEventsFolder;
      std::error_code error;
      std::filesystem::create_directories(Utf8Path(folder), error);
      // Two events of one frame, or two frames in one second, each keep their own picture.
      std::string name = frame->when.toString(QStringLiteral("HHmmss")).toStdString();
      for (int n = 2; std::filesystem::exists(Utf8Path(folder + "/" + name + ".jpg"), error); ++n)
        name = frame->when.toString(QStringLiteral("HHmmss")).toStdString() + "-" + std::to_string(n);
      const Outcome kept = WriteFileAtomically(folder + "/" + name + ".jpg", picture.constData(), static_cast<size_t>(picture.size()));
      if (kept.ok) json[QStringLiteral("picture")] = QString::fromStdString(std::string(kEventsFolder) + "/" + name + ".jpg");
      const std::string list = *frame->night_folder + "/" + kEventsFile;
      QJsonArray all = ReadEvents(list, notes);
      all.append(json);
      const QByteArray bytes = QJsonDocument(all).toJson(QJsonDocument::Indented);
      const Outcome listed = WriteFileAtomically(list, bytes.constData(), static_cast<size_t>(bytes.size()));
      if (!kept.ok || !listed.ok) notes.push_back("Events NG:" + (kept.ok ? listed.reason : kept.reason));
    }
    if (alerts) alerts->Event(json, picture);
  }
  return notes;
}
