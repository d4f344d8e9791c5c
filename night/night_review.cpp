// SPDX-License-Identifier: GPL-3.0-or-later
#include "night/night_review.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <filesystem>

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "display/clock_texts.h"
#include "night/night_folder.h"
#include "night/sky_chart.h"
#include "night/thread_priority.h"
#include "display/snapshot_export.h"
#include "display/timelapse.h"
#include "base/atomic_file.h"
#include "base/free_space.h"
#include "base/regular_file.h"
#include "base/utf8_path.h"
#include "fits/text_numbers.h"

namespace {

namespace fs = std::filesystem;

// The local time of a picture of the night that began on `night`.
QDateTime PictureTime(const QDate& night, const std::string& name) {
  return QDateTime::fromSecsSinceEpoch(PictureInstant(night, name));
}

// Raw pixel values are 32-bit integers (scaled by BSCALE at most into this).
constexpr double kLargestBackground = 4294967296.0;

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
    if (ReadRegularFile(folder + "/." + name.substr(0, name.size() - 4) + ".sky", 64, text).ok && !text.empty()) {
      // A raw frame's background is a pixel value: anything else was not written by the station.
      const double value = NumericValueOfText(text);
      if (std::isfinite(value) && std::fabs(value) <= kLargestBackground) picture.background = value;
    }
    pictures.push_back(std::move(picture));
  }
  return pictures;
}

namespace {

// One review of a night: what it made, left out and could not make, and its lines for the log.
struct Review {
  std::string folder;
  QDate night;
  std::vector<std::string> notes;
  QJsonArray products, left_out, not_made;
  bool short_of_space = false;
  bool only_darkest = false;

  std::string Date() const { return night.toString(QStringLiteral("yyyy-MM-dd")).toStdString(); }

  // Only whole pictures go into the products; the size most of them have is the products' size.
  bool WholePictures(const std::vector<NightPicture>& all, const std::atomic<bool>* cancel,
                     std::vector<NightPicture>& pictures, QSize& size) {
    std::map<std::pair<int, int>, int> sizes;
    for (const NightPicture& picture : all) {
      if (cancel && cancel->load()) return false;
      const QSize whole = WholePictureSize(folder + "/" + picture.name);
      if (whole.isEmpty()) {
        left_out.append(Entry("file", picture.name, "reason", "not a whole JPEG (cut short or damaged)"));
        continue;
      }
      ++sizes[{whole.width(), whole.height()}];
      pictures.push_back(picture);
    }
    int most = 0;
    for (const auto& [dimensions, count] : sizes)
      if (count > most) most = count, size = QSize(dimensions.first, dimensions.second);
    return true;
  }

  void Made(const std::string& file) {
    std::error_code error;
    const auto bytes = fs::file_size(Utf8Path(folder + "/" + file), error);
    QJsonObject product;
    product[QStringLiteral("file")] = QString::fromStdString(file);
    product[QStringLiteral("size")] = static_cast<double>(error ? 0 : bytes);
    products.append(product);
  }

  // A product lost to a full disk is made again when the night is next looked at.
  void Failed(const std::string& file, const Outcome& why) {
    short_of_space |= IsOutOfSpace(why);
    not_made.append(Entry("product", file, "why", why.reason));
    notes.push_back("Night " + Date() + ": no " + file + ": " + why.reason);
  }

  // The sky's chart, where the night has a sky.csv (--sky).
  void Chart() {
    const std::vector<SkyLogLine> lines = ReadSkyLog(folder);
    if (lines.empty()) return;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    const QImage chart = MakeSkyChart(lines, night);
    const Outcome saved =
        chart.isNull() || !chart.save(&buffer, "PNG")
            ? Outcome::Failure("the chart could not be drawn")
            : WriteFileAtomically(folder + "/" + kSkyChartName, png.constData(), static_cast<size_t>(png.size()), 0644);
    if (saved.ok) Made(kSkyChartName);
    else Failed(kSkyChartName, saved);
  }

  // A picture product saved as `file`; true where it was made.
  bool Save(const QImage& image, const std::string& file, int quality) {
    const Outcome saved = image.isNull() ? Outcome::Failure("no picture could be read")
                                         : SaveImageJpeg(image, folder + "/" + file, quality);
    if (saved.ok) Made(file);
    else Failed(file, saved);
    return saved.ok;
  }

  void WriteNightJson(const std::vector<NightPicture>& all, size_t whole) {
    QJsonObject json;
    json[QStringLiteral("date")] = QString::fromStdString(Date());
    // Every picture of the folder, whole or not: the count tells whether the review is up to date.
    json[QStringLiteral("pictures")] = static_cast<int>(all.size());
    json[QStringLiteral("first")] = all.empty() ? QJsonValue() : QJsonValue(IsoLocalTime(PictureTime(night, all.front().name)));
    json[QStringLiteral("last")] = all.empty() ? QJsonValue() : QJsonValue(IsoLocalTime(PictureTime(night, all.back().name)));
    json[QStringLiteral("updated")] = IsoLocalTime(QDateTime::currentDateTime());
    json[QStringLiteral("products")] = products;
    json[QStringLiteral("left_out")] = left_out;
    json[QStringLiteral("not_made")] = not_made;
    json[QStringLiteral("only_darkest_in_startrails")] = only_darkest;
    json[QStringLiteral("short_of_space")] = short_of_space;
    json[QStringLiteral("reviews")] = ReviewsOf(folder) + 1;
    const QByteArray bytes = QJsonDocument(json).toJson(QJsonDocument::Indented);
    if (const Outcome written = WriteFileAtomically(folder + "/night.json", bytes.constData(), static_cast<size_t>(bytes.size()), 0644);
        !written.ok)
      notes.push_back("Night NG:night.json: " + written.reason);
    notes.push_back("Night " + Date() + ": " + std::to_string(products.size()) + " products of " +
                    std::to_string(whole) + " pictures");
  }
};

}  // namespace

std::vector<std::string> MakeNightProducts(const std::string& folder, int fps, const std::atomic<bool>* cancel,
                                           QSize timelapse_bound) {
  Review review;
  review.folder = folder;
  review.night = QDate::fromString(QString::fromStdString(Utf8Text(Utf8Path(folder).filename())), QStringLiteral("yyyy-MM-dd"));
  // The products are made anew: until they are published again, the server's are the old ones.
  std::error_code ignored;
  fs::remove(Utf8Path(folder + "/" + kPublishedMarker), ignored);
  fs::remove(Utf8Path(folder + "/" + kGivenUpMarker), ignored);
  const std::vector<NightPicture> all = ReadNightPictures(folder);
  std::vector<NightPicture> pictures;
  QSize size;
  if (!review.WholePictures(all, cancel, pictures, size)) return review.notes;
  const auto stopped = [&] { return cancel && cancel->load(); };

  const QImage keogram = MakeKeogram(folder, pictures, review.night, size, cancel);
  if (stopped()) return review.notes;
  review.Save(keogram, "keogram.jpg", 90);
  review.Chart();

  auto bright = BrightPictures(pictures);
  const QImage trails = MakeStarTrails(folder, pictures, bright, review.only_darkest, size, cancel);
  if (stopped()) return review.notes;
  for (const auto& [name, reason] : bright) review.left_out.append(Entry("file", name, "reason", reason));
  if (review.Save(trails, "startrails.jpg", 92) && review.only_darkest)
    review.notes.push_back("Night: no dark picture; startrails.jpg is the darkest picture alone");

  std::vector<std::string> published;
  for (const NightPicture& picture : pictures) published.push_back(folder + "/" + picture.name);
  const QSize video_size = TimelapseSize(size, timelapse_bound);
  const Outcome video = video_size.isEmpty() && published.size() >= 2
                            ? Outcome::Failure("the pictures are too small for a video")
                            : MakeTimelapse(published, folder + "/timelapse.mp4", fps, video_size, cancel);
  if (stopped()) return review.notes;
  if (video.ok) review.Made("timelapse.mp4");
  else review.Failed("timelapse.mp4", video);

  review.WriteNightJson(all, pictures.size());
  return review.notes;
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
  LowerThisThreadsPriority();
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !waiting_.empty() || stopping_; });
    if (waiting_.empty()) return;  // stopping, and nothing left
    const std::string folder = waiting_.front();
    waiting_.pop_front();
    busy_ = true;
    lock.unlock();
    std::vector<std::string> made =
        MakeNightProducts(folder, fps_, &cancel_, QSize(timelapse_width_.load(), timelapse_height_.load()));
    lock.lock();
    busy_ = false;
    notes_.insert(notes_.end(), made.begin(), made.end());
    if (!cancel_) finished_.push_back(folder);
    changed_.notify_all();
  }
}
