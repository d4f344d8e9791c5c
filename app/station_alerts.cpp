// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/station_alerts.h"

#include <QJsonArray>

#include "app/alert_delivery.h"
#include "base/plain_numbers.h"

namespace {

std::string Percent(double share) { return PlainFixed(share * 100, 0) + " %"; }

std::string Minutes(std::chrono::minutes minutes) {
  return minutes.count() == 0 ? std::string() : " for " + std::to_string(minutes.count()) + " min";
}

}  // namespace

std::string AlertChangeText(const AlertChange& change, const std::string& stale_since) {
  const AlertRule& rule = change.rule;
  switch (rule.kind) {
    case AlertRule::Kind::kStale:
      return change.start ? "No new frame since " + (stale_since.empty() ? std::string("the start") : stale_since)
                          : "New frames again";
    case AlertRule::Kind::kUploadsFailing:
      return change.start ? "The picture's upload failed " + std::to_string(rule.cycles) + " cycles in a row"
                          : "The picture is uploaded again";
    case AlertRule::Kind::kDiskLow:
      return change.start ? "The archive's disk is below its floor: no archives are written"
                          : "The archive's disk has room again";
    case AlertRule::Kind::kClear:
      return change.start ? "The sky is clear: at least " + Percent(rule.share) + Minutes(rule.lasting)
                          : "The sky is no longer clear: below " + Percent(rule.share) + Minutes(rule.lasting);
    case AlertRule::Kind::kCloudy:
      return change.start ? "The sky is cloudy: at most " + Percent(rule.share) + " clear" + Minutes(rule.lasting)
                          : "The sky is no longer cloudy: above " + Percent(rule.share) + " clear" + Minutes(rule.lasting);
    case AlertRule::Kind::kMeteor:
      return change.meteors == 1 ? std::string("A meteor") : std::to_string(change.meteors) + " meteors";
  }
  return rule.name;
}

StationAlerts::StationAlerts() = default;
StationAlerts::~StationAlerts() { Stop(); }

void StationAlerts::Configure(const AlertSettings& settings) {
  Stop();
  settings_ = settings;
  rules_ = AlertRules(settings.rules, settings.quiet);
  if (settings.notify.empty()) return;
  std::vector<std::unique_ptr<AlertChannel>> channels;
  for (const NotifyAddress& address : settings.notify) channels.push_back(MakeAlertChannel(address, settings.channels));
  const std::string folder = settings.outbox;
  const std::string undelivered = folder.substr(0, folder.find_last_of('/') + 1) + "undelivered";
  delivery_ = std::make_unique<AlertDelivery>(AlertOutbox(folder, undelivered), std::move(channels));
}

void StationAlerts::Stop() {
  if (!delivery_) return;
  delivery_->Stop();
  for (std::string& note : delivery_->TakeNotes()) notes_.push_back(std::move(note));
  delivery_.reset();
}

QJsonObject StationAlerts::Message(const AlertChange& change, const AlertMoment& moment) const {
  QJsonObject message;
  message[QStringLiteral("kind")] = QStringLiteral("alert");
  message[QStringLiteral("rule")] = QString::fromStdString(change.rule.name);
  message[QStringLiteral("state")] = change.start ? QStringLiteral("start") : QStringLiteral("end");
  message[QStringLiteral("time")] = QString::fromStdString(moment.time);
  message[QStringLiteral("station")] = QString::fromStdString(moment.station);
  message[QStringLiteral("text")] = QString::fromStdString(AlertChangeText(change, moment.stale_since));
  if (change.rule.kind == AlertRule::Kind::kMeteor) message[QStringLiteral("meteors")] = change.meteors;
  if (!change.rule.of_the_sky()) message[QStringLiteral("log")] = QJsonArray::fromStringList(moment.log);
  return message;
}

void StationAlerts::Observe(const AlertMoment& moment) {
  for (const AlertChange& change : rules_.Observe(moment.conditions)) {
    const QJsonObject message = Message(change, moment);
    const std::string text = message[QStringLiteral("text")].toString().toStdString();
    notes_.push_back("Alert:" + change.rule.name + (change.start ? " start: " : " end: ") + text);
    if (!delivery_) continue;
    const Outcome queued = delivery_->Queue(message, change.rule.of_the_sky() && moment.picture ? moment.picture() : QByteArray());
    if (!queued.ok) notes_.push_back("Alert NG:" + queued.reason);
  }
}

void StationAlerts::State(const QByteArray& json) {
  // The report's fields, and that the station is there: its last will says otherwise.
  if (delivery_ && json.startsWith('{')) delivery_->State("{\"online\":true," + json.mid(1).toStdString());
}

void StationAlerts::Event(const QJsonObject& event, const QByteArray& picture) {
  if (!delivery_) return;
  const Outcome queued = delivery_->Queue(event, picture);
  if (!queued.ok) notes_.push_back("Event NG:" + queued.reason);
}

std::vector<std::string> StationAlerts::TakeNotes() {
  std::vector<std::string> notes = std::exchange(notes_, {});
  if (delivery_)
    for (std::string& note : delivery_->TakeNotes()) notes.push_back(std::move(note));
  return notes;
}
