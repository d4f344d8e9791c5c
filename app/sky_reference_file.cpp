// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/sky_reference_file.h"

#include <filesystem>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "base/atomic_file.h"
#include "base/regular_file.h"
#include "base/utf8_path.h"

namespace {

constexpr size_t kLargestFile = size_t{16} << 20;

// The night's part of the file, or nothing where any of it is not as written.
std::optional<ClearReference::Night> NightFrom(const QJsonValue& value) {
  const QJsonObject object = value.toObject();
  const QJsonArray sectors = object[QStringLiteral("sectors")].toArray();
  const std::string date = object[QStringLiteral("date")].toString().toStdString();
  const double frames = object[QStringLiteral("frames")].toDouble(-1);
  if (!DayNumber(date) || !(frames >= 0 && frames <= 1e9) || sectors.size() != kSkySectors) return std::nullopt;
  ClearReference::Night night{date, static_cast<uint32_t>(frames), {}};
  for (int sector = 0; sector < kSkySectors; ++sector) {
    const QJsonObject bins = sectors[sector].toObject();
    uint64_t total = 0;
    for (auto it = bins.begin(); it != bins.end(); ++it) {
      bool whole = false;
      const int bin = it.key().toInt(&whole);
      const double count = it.value().toDouble(-1);
      if (!whole || bin < 0 || bin > 1000 || !(count >= 1 && count <= 1e9)) return std::nullopt;
      night.counts[static_cast<size_t>(sector)][bin] = static_cast<uint32_t>(count);
      total += static_cast<uint64_t>(count);
    }
    if (total != night.frames) return std::nullopt;  // each frame is in each sector's histogram once
  }
  return night;
}

}  // namespace

Outcome LoadSkyReference(const std::string& path, ClearReference& reference) {
  reference = {};
  std::string bytes;
  const Outcome read = ReadRegularFile(path, kLargestFile, bytes);
  if (read.not_found()) return Outcome::Success();
  std::string why = read.reason;
  if (read.ok) {
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())), &error);
    why = error.error != QJsonParseError::NoError ? error.errorString().toStdString() : "not the station's reference";
    if (error.error == QJsonParseError::NoError && document.object()[QStringLiteral("version")].toInt() == 1) {
      ClearReference loaded;
      bool whole = true;
      for (const QJsonValue& value : document.object()[QStringLiteral("nights")].toArray()) {
        std::optional<ClearReference::Night> night = NightFrom(value);
        if (!night) whole = false;
        else loaded.nights().push_back(std::move(*night));
      }
      if (whole) {
        std::sort(loaded.nights().begin(), loaded.nights().end(),
                  [](const auto& a, const auto& b) { return a.date < b.date; });
        reference = std::move(loaded);
        return Outcome::Success();
      }
      why = "a night in it is not as the station writes one";
    }
  }
  std::error_code ignored;
  std::filesystem::rename(Utf8Path(path), Utf8Path(path + ".damaged"), ignored);
  return Outcome::Failure(why);
}

Outcome SaveSkyReference(const std::string& path, const ClearReference& reference) {
  QJsonArray nights;
  for (const ClearReference::Night& night : reference.nights()) {
    QJsonArray sectors;
    for (const auto& histogram : night.counts) {
      QJsonObject bins;
      for (const auto& [bin, count] : histogram) bins[QString::number(bin)] = static_cast<double>(count);
      sectors.append(bins);
    }
    nights.append(QJsonObject{{QStringLiteral("date"), QString::fromStdString(night.date)},
                              {QStringLiteral("frames"), static_cast<double>(night.frames)},
                              {QStringLiteral("sectors"), sectors}});
  }
  const QByteArray json =
      QJsonDocument(QJsonObject{{QStringLiteral("version"), 1}, {QStringLiteral("nights"), nights}}).toJson(QJsonDocument::Compact);
  return WriteFileAtomically(path, json.constData(), static_cast<size_t>(json.size()), 0644, Durability::kReplaceOnly);
}
