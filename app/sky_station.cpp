// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/sky_station.h"

#include <cmath>

#include "app/sky_reference_file.h"
#include "base/plain_numbers.h"
#include "display/clock_texts.h"

namespace {

std::string Fixed(std::optional<double> value, int decimals) {
  return value && std::isfinite(*value) ? PlainFixed(*value, decimals) : std::string();
}

}  // namespace

std::string EveningDate(const QDateTime& when) {
  return when.addSecs(-12 * 3600).date().toString(QStringLiteral("yyyy-MM-dd")).toStdString();
}

Outcome SkyStation::Configure(const SkySettings& settings, std::vector<std::string>& notes) {
  const Outcome configured = analyser_.Configure(settings);
  if (!configured.ok || !settings.enabled) return configured;
  const Outcome loaded = LoadSkyReference(reference_path_, analyser_.reference());
  if (!loaded.ok)
    notes.push_back("Sky NG:" + reference_path_ + " is damaged (" + loaded.reason + "); put aside as " +
                    reference_path_ + ".damaged, the clear sky is learned afresh");
  return configured;
}

std::vector<std::string> SkyStation::Prepare(FrameStore& store) {
  return active() ? analyser_.Prepare(store) : std::vector<std::string>{};
}

std::vector<std::string> SkyStation::Analyse(FrameStore& store, uint64_t digest, const QDateTime& now) {
  std::vector<std::string> notes;
  if (!enabled()) {
    // Hot pixels to remove are learned from every frame, the sky analysed or not.
    if (analyser_.settings().remove_hot_pixels) analyser_.LearnHotPixels(store, digest);
    return notes;
  }
  reading_ = analyser_.Analyse(store, digest, EveningDate(now));
  if (!reading_.measured() && reading_.failure != last_failure_) notes.push_back("Sky NG:" + reading_.failure);
  if (reading_.measured() && !last_failure_.empty()) notes.push_back("Sky OK:the frame is analysed again");
  last_failure_ = reading_.failure;
  if (analyser_.reference_changed()) {
    const Outcome saved = SaveSkyReference(reference_path_, analyser_.reference());
    if (!saved.ok) notes.push_back("Sky NG:" + reference_path_ + ": " + saved.reason);
  }
  return notes;
}

void SkyStation::NoFrame(const std::string& why) {
  reading_ = SkyReading{};
  reading_.failure = why;
}

std::optional<SkyReading> SkyStation::Reading() const {
  if (!enabled()) return std::nullopt;
  return reading_;
}

std::map<std::string, std::string> SkyStation::OverlayValues() const {
  if (!enabled()) return {};
  const bool measured = reading_.measured();
  const std::string clear = measured && reading_.clear ? Fixed(*reading_.clear * 100, 0) + "%" : std::string();
  return {{"STARS", measured ? std::to_string(reading_.stars) : "-"},
          {"SQM", measured && reading_.sqm ? Fixed(reading_.sqm, 1) : "-"},
          {"CLEAR", clear.empty() ? "-" : clear}};
}

std::string SkyStation::CsvLine(const QDateTime& when) const {
  if (!enabled()) return {};
  const SkyReading& r = reading_;
  if (!r.measured()) return IsoLocalTime(when).toStdString() + ",,,,,\n";
  return IsoLocalTime(when).toStdString() + "," + std::to_string(r.stars) + "," + Fixed(r.background, 2) + "," +
         Fixed(r.background_per_s, 4) + "," + Fixed(r.sqm, 2) + "," + Fixed(r.clear, 3) + "\n";
}

QString SkyStation::Summary() const {
  if (!enabled()) return {};
  const SkyReading& r = reading_;
  if (!r.measured()) return QStringLiteral("Sky: no values (%1)").arg(QString::fromStdString(r.failure));
  QString text = QStringLiteral("Sky: %1 stars, background %2").arg(r.stars).arg(QString::fromStdString(Fixed(r.background, 1)));
  if (r.sqm) text += QStringLiteral(", %1 mag/arcsec\u00B2").arg(QString::fromStdString(Fixed(r.sqm, 2)));
  text += r.clear ? QStringLiteral(", clear %1%").arg(QString::fromStdString(Fixed(*r.clear * 100, 0)))
                  : QStringLiteral(", clear share still being learned");
  if (r.hot_pixels > 0) text += QStringLiteral(", %1 hot pixels").arg(r.hot_pixels);
  return text;
}
