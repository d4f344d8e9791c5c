// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/night_publisher.h"

#include <algorithm>
#include <filesystem>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "base/atomic_file.h"
#include "base/regular_file.h"

namespace {

namespace fs = std::filesystem;

// A night whose products are all on the server holds this file.
constexpr const char* kPublishedMarker = ".published";
constexpr const char* kProducts[] = {"keogram.jpg", "startrails.jpg", "timelapse.mp4"};

}  // namespace

void NightPublisher::Add(const std::string& folder) {
  const std::string date = fs::path(folder).filename().string();
  // A night asked for again (a rolling night) replaces what of it still waits.
  waiting_.erase(std::remove_if(waiting_.begin(), waiting_.end(), [&](const Upload& u) { return u.folder == folder; }),
                 waiting_.end());
  std::error_code error;
  fs::remove(folder + "/" + kPublishedMarker, error);
  for (const char* product : kProducts)
    if (fs::exists(folder + "/" + product)) waiting_.push_back({folder, folder + "/" + product, date + "-" + product});
  waiting_.push_back({folder, "", ""});  // the night is complete on the server
}

std::vector<std::string> NightPublisher::Publish(const Put& put) {
  std::vector<std::string> notes;
  while (!waiting_.empty()) {
    const Upload upload = waiting_.front();
    if (upload.local.empty()) {
      // All of the night is up: mark it, and publish the list of nights.
      if (!upload.folder.empty()) {
        WriteFileAtomically(upload.folder + "/" + kPublishedMarker, "", 0, 0644, Durability::kReplaceOnly);
        waiting_.pop_front();
        waiting_.push_front({"", WriteNightsJson(), "nights.json"});
        continue;
      }
      waiting_.pop_front();
      continue;
    }
    int32_t error = 0;
    if (!put(upload.local, upload.remote, error)) {
      notes.push_back("Night upload NG:" + std::to_string(error) + " (" + upload.remote + ", tried again next cycle)");
      break;
    }
    notes.push_back("Night upload OK: " + upload.remote);
    waiting_.pop_front();
  }
  return notes;
}

std::string NightPublisher::WriteNightsJson() const {
  std::vector<std::string> nights;
  std::error_code error;
  for (fs::directory_iterator it(root_, error), end; !error && it != end; it.increment(error))
    if (fs::exists(it->path() / kPublishedMarker)) nights.push_back(it->path().filename().string());
  std::sort(nights.rbegin(), nights.rend());  // newest first
  QJsonArray list;
  for (const std::string& date : nights) {
    std::string text;
    if (!ReadRegularFile(root_ + "/" + date + "/night.json", size_t{1} << 20, text).ok) continue;
    const QJsonObject night = QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
    QJsonObject entry;
    entry[QStringLiteral("date")] = QString::fromStdString(date);
    for (const char* key : {"pictures", "first", "last"}) entry[QString::fromLatin1(key)] = night[QString::fromLatin1(key)];
    QJsonObject files;
    for (const QJsonValue& product : night[QStringLiteral("products")].toArray()) {
      const QString file = product.toObject()[QStringLiteral("file")].toString();
      files[file.section(QLatin1Char('.'), 0, 0)] = QString::fromStdString(date) + QLatin1Char('-') + file;
    }
    entry[QStringLiteral("files")] = files;
    list.append(entry);
  }
  QJsonObject json;
  json[QStringLiteral("nights")] = list;
  const QByteArray bytes = QJsonDocument(json).toJson(QJsonDocument::Compact);
  const std::string path = root_ + "/nights.json";
  WriteFileAtomically(path, bytes.constData(), static_cast<size_t>(bytes.size()), 0644, Durability::kReplaceOnly);
  return path;
}
