// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/night_review.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "app/clock_texts.h"
#include "app/night_recorder.h"
#include "display/snapshot_export.h"
#include "display/timelapse.h"
#include "base/atomic_file.h"
#include "base/regular_file.h"
#include "fits/text_numbers.h"

namespace {

namespace fs = std::filesystem;

// The local time of a picture of the night that began on `night`: the evening's hours on that
// date, the morning's on the next.
QDateTime PictureTime(const QDate& night, const std::string& name) {
  const QTime time(std::stoi(name.substr(0, 2)), std::stoi(name.substr(2, 2)), std::stoi(name.substr(4, 2)));
  return QDateTime(time.hour() < 12 ? night.addDays(1) : night, time);
}

QJsonObject Entry(const char* key, const std::string& name, const char* other, const std::string& value) {
  QJsonObject entry;
  entry[QString::fromLatin1(key)] = QString::fromStdString(name);
  entry[QString::fromLatin1(other)] = QString::fromStdString(value);
  return entry;
}

}  // namespace

std::vector<NightPicture> ReadNightPictures(const std::string& folder) {
  std::vector<NightPicture> pictures;
  for (const std::string& name : NightPictures(folder)) {
    NightPicture picture{name, std::nullopt};
    std::string text;
    if (ReadRegularFile(folder + "/." + name.substr(0, 6) + ".sky", 64, text).ok && !text.empty())
      picture.background = NumericValueOfText(text);
    pictures.push_back(std::move(picture));
  }
  return pictures;
}

std::vector<std::string> MakeNightProducts(const std::string& folder, int fps, const std::atomic<bool>* cancel) {
  std::vector<std::string> notes;
  const QDate night = QDate::fromString(QString::fromStdString(fs::path(folder).filename().string()),
                                        QStringLiteral("yyyy-MM-dd"));
  const std::vector<NightPicture> pictures = ReadNightPictures(folder);
  QJsonArray products, left_out, not_made;
  const auto made = [&](const std::string& file) {
    std::error_code error;
    const auto size = fs::file_size(folder + "/" + file, error);
    QJsonObject product;
    product[QStringLiteral("file")] = QString::fromStdString(file);
    product[QStringLiteral("size")] = static_cast<double>(error ? 0 : size);
    products.append(product);
  };
  const auto failed = [&](const std::string& file, const std::string& why) {
    not_made.append(Entry("product", file, "why", why));
    notes.push_back("Night " + night.toString(QStringLiteral("yyyy-MM-dd")).toStdString() + ": no " + file + ": " + why);
  };

  const QImage keogram = MakeKeogram(folder, pictures, night);
  if (keogram.isNull()) failed("keogram.jpg", "no picture could be read");
  else if (const Outcome saved = SaveImageJpeg(keogram, folder + "/keogram.jpg", 90); !saved.ok) failed("keogram.jpg", saved.reason);
  else made("keogram.jpg");

  auto bright = BrightPictures(pictures);
  bool only_darkest = false;
  const QImage trails = MakeStarTrails(folder, pictures, bright, only_darkest);
  for (const auto& [name, reason] : bright) left_out.append(Entry("file", name, "reason", reason));
  if (trails.isNull()) {
    failed("startrails.jpg", "no picture could be read");
  } else if (const Outcome saved = SaveImageJpeg(trails, folder + "/startrails.jpg", 92); !saved.ok) {
    failed("startrails.jpg", saved.reason);
  } else {
    made("startrails.jpg");
    if (only_darkest) notes.push_back("Night: no dark picture; startrails.jpg is the darkest picture alone");
  }

  std::vector<std::string> published;
  for (const NightPicture& picture : pictures) published.push_back(folder + "/" + picture.name);
  const Outcome video = MakeTimelapse(published, folder + "/timelapse.mp4", fps, cancel);
  if (video.ok) made("timelapse.mp4");
  else failed("timelapse.mp4", video.reason);
  if (cancel && cancel->load()) return notes;

  QJsonObject json;
  json[QStringLiteral("date")] = night.toString(QStringLiteral("yyyy-MM-dd"));
  json[QStringLiteral("pictures")] = static_cast<int>(pictures.size());
  json[QStringLiteral("first")] = pictures.empty() ? QJsonValue() : QJsonValue(IsoLocalTime(PictureTime(night, pictures.front().name)));
  json[QStringLiteral("last")] = pictures.empty() ? QJsonValue() : QJsonValue(IsoLocalTime(PictureTime(night, pictures.back().name)));
  json[QStringLiteral("products")] = products;
  json[QStringLiteral("left_out")] = left_out;
  json[QStringLiteral("not_made")] = not_made;
  json[QStringLiteral("only_darkest_in_startrails")] = only_darkest;
  const QByteArray bytes = QJsonDocument(json).toJson(QJsonDocument::Indented);
  if (const Outcome written = WriteFileAtomically(folder + "/night.json", bytes.constData(), static_cast<size_t>(bytes.size()), 0644);
      !written.ok)
    notes.push_back("Night NG:night.json: " + written.reason);
  notes.push_back("Night " + json[QStringLiteral("date")].toString().toStdString() + ": " +
                  std::to_string(products.size()) + " products of " + std::to_string(pictures.size()) + " pictures");
  return notes;
}

NightReviewer::~NightReviewer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (!worker_.joinable()) return;
  // What was asked for is finished, for a minute at most: a stop must not wait for ever.
  std::unique_lock<std::mutex> lock(mutex_);
  if (!changed_.wait_for(lock, std::chrono::seconds(60), [this] { return waiting_.empty() && !busy_; })) {
    cancel_ = true;
    waiting_.clear();
  }
  lock.unlock();
  worker_.join();
}

void NightReviewer::Ask(const std::string& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (std::find(waiting_.begin(), waiting_.end(), folder) == waiting_.end()) waiting_.push_back(folder);
  if (!worker_.joinable()) worker_ = std::thread([this] { Work(); });
  changed_.notify_all();
}

std::vector<std::string> NightReviewer::TakeNotes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(notes_, {});
}

std::vector<std::string> NightReviewer::TakeFinished() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(finished_, {});
}

void NightReviewer::WaitIdle() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return waiting_.empty() && !busy_; });
}

void NightReviewer::Work() {
  // Below the window's priority: encoding a night takes seconds of both cores.
  setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !waiting_.empty() || stopping_; });
    if (waiting_.empty()) return;  // stopping, and nothing left
    const std::string folder = waiting_.front();
    waiting_.pop_front();
    busy_ = true;
    lock.unlock();
    std::vector<std::string> made = MakeNightProducts(folder, fps_, &cancel_);
    lock.lock();
    busy_ = false;
    notes_.insert(notes_.end(), made.begin(), made.end());
    if (!cancel_) finished_.push_back(folder);
    changed_.notify_all();
  }
}
