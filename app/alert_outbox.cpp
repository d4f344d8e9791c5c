// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/alert_outbox.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimeZone>

#include "base/atomic_file.h"
#include "base/regular_file.h"
#include "base/utf8_path.h"

namespace {

constexpr size_t kLargestItem = size_t{1} << 20;

QByteArray ItemJson(const OutboxItem& item) {
  QJsonObject object;
  object[QStringLiteral("message")] = item.message;
  QJsonArray owed;
  for (const std::string& channel : item.owed) owed.append(QString::fromStdString(channel));
  object[QStringLiteral("owed")] = owed;
  object[QStringLiteral("tries")] = item.tries;
  object[QStringLiteral("queued")] = static_cast<double>(item.queued);
  object[QStringLiteral("next_try")] = static_cast<double>(item.next_try);
  if (!item.picture.empty()) object[QStringLiteral("picture")] = QString::fromStdString(item.picture);
  return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

bool ItemFrom(const std::string& bytes, OutboxItem& item) {
  QJsonParseError error{};
  const QJsonObject object =
      QJsonDocument::fromJson(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())), &error).object();
  if (error.error != QJsonParseError::NoError || !object[QStringLiteral("message")].isObject()) return false;
  item.message = object[QStringLiteral("message")].toObject();
  for (const QJsonValue& channel : object[QStringLiteral("owed")].toArray()) item.owed.push_back(channel.toString().toStdString());
  item.tries = object[QStringLiteral("tries")].toInt();
  item.queued = static_cast<int64_t>(object[QStringLiteral("queued")].toDouble());
  item.next_try = static_cast<int64_t>(object[QStringLiteral("next_try")].toDouble());
  item.picture = object[QStringLiteral("picture")].toString().toStdString();
  // A picture name is the item's own, never a path elsewhere.
  return item.picture.empty() || item.picture == item.id + ".jpg";
}

}  // namespace

AlertOutbox::AlertOutbox(std::string folder, std::string undelivered)
    : folder_(std::move(folder)), undelivered_(std::move(undelivered)) {}

std::string AlertOutbox::Path(const std::string& id, const char* extension) const {
  return folder_ + "/" + id + extension;
}

int64_t AlertOutbox::PauseAfter(int tries) {
  int64_t pause = 30;
  for (int i = 1; i < tries && pause < 3600; ++i) pause *= 2;
  return std::min<int64_t>(pause, 3600);
}

Outcome AlertOutbox::Put(const QJsonObject& message, const std::vector<std::string>& channels,
                         const QByteArray& picture, int64_t now) {
  std::error_code error;
  std::filesystem::create_directories(Utf8Path(folder_), error);
  if (error) return Outcome::Failure("alerts: " + folder_ + " cannot be made: " + error.message(), Outcome::Code::kSystem);
  OutboxItem item;
  // Sorted by name is sorted by age: the time, then a sequence within the second.
  const QString stamp = QDateTime::fromSecsSinceEpoch(now, Qt::UTC).toString(QStringLiteral("yyyyMMdd-HHmmss"));
  char sequence[16];
  std::snprintf(sequence, sizeof sequence, "-%04u", static_cast<unsigned>(sequence_++ % 10000));
  item.id = stamp.toStdString() + sequence + "-" + TemporarySuffix();
  item.message = message;
  item.owed = channels;
  item.queued = item.next_try = now;
  if (!picture.isEmpty()) {
    item.picture = item.id + ".jpg";
    const Outcome kept = WriteFileAtomically(Path(item.id, ".jpg"), picture.constData(), static_cast<size_t>(picture.size()));
    if (!kept.ok) item.picture.clear();  // the alert goes without its picture rather than not at all
  }
  const QByteArray json = ItemJson(item);
  return WriteFileAtomically(Path(item.id, ".json"), json.constData(), static_cast<size_t>(json.size()));
}

std::vector<OutboxItem> AlertOutbox::Waiting(std::vector<std::string>& notes) const {
  std::vector<OutboxItem> items;
  std::error_code error;
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(Utf8Path(folder_), error)) {
    const std::string name = Utf8Text(entry.path().filename());
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    OutboxItem item;
    item.id = name.substr(0, name.size() - 5);
    std::string bytes;
    const Outcome read = ReadRegularFile(folder_ + "/" + name, kLargestItem, bytes);
    if (read.not_found()) continue;  // delivered meanwhile
    if (!read.ok || !ItemFrom(bytes, item)) {
      std::error_code renamed;
      std::filesystem::rename(Utf8Path(folder_ + "/" + name), Utf8Path(folder_ + "/" + name + ".damaged"), renamed);
      notes.push_back("Alert NG:" + folder_ + "/" + name + " is damaged" + (read.ok ? "" : ": " + read.reason) +
                      "; kept as " + name + ".damaged");
      continue;
    }
    items.push_back(std::move(item));
  }
  return items;
}

Outcome AlertOutbox::Settle(OutboxItem& item, bool failed, int64_t now) {
  if (item.owed.empty()) {
    std::error_code error;
    if (!item.picture.empty()) std::filesystem::remove(Utf8Path(Path(item.id, ".jpg")), error);
    std::filesystem::remove(Utf8Path(Path(item.id, ".json")), error);
    return error ? Outcome::Failure("alerts: " + item.id + " not removed: " + error.message(), Outcome::Code::kSystem)
                 : Outcome::Success();
  }
  if (failed) {
    ++item.tries;
    item.next_try = now + PauseAfter(item.tries);
  }
  const QByteArray json = ItemJson(item);
  return WriteFileAtomically(Path(item.id, ".json"), json.constData(), static_cast<size_t>(json.size()));
}

Outcome AlertOutbox::GiveUp(const OutboxItem& item) {
  std::error_code error;
  std::filesystem::create_directories(Utf8Path(undelivered_), error);
  if (!item.picture.empty())
    std::filesystem::rename(Utf8Path(Path(item.id, ".jpg")), Utf8Path(undelivered_ + "/" + item.id + ".jpg"), error);
  std::filesystem::rename(Utf8Path(Path(item.id, ".json")), Utf8Path(undelivered_ + "/" + item.id + ".json"), error);
  return error ? Outcome::Failure("alerts: " + item.id + " not moved: " + error.message(), Outcome::Code::kSystem)
               : Outcome::Success();
}
