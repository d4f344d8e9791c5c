// SPDX-License-Identifier: GPL-3.0-or-later
#include "night/night_recorder.h"

#include "base/append_file.h"
#include "night/sky_log.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "base/atomic_file.h"
#include "base/free_space.h"
#include "base/regular_file.h"
#include "base/utf8_path.h"
#include "display/snapshot_export.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kLargestPicture = size_t{256} << 20;

bool Exists(const std::string& path) {
  return KindAt(path) != PathKind::kMissing;
}

// The first name of `stem` that no file of the folder has: a restart within the same second
// must not overwrite the picture of the run before.
std::string FreeStem(const std::string& folder, const std::string& stem) {
  if (!Exists(folder + "/" + stem + ".jpg")) return stem;
  for (int n = 2; n <= 999; ++n) {
    const std::string taken = stem + "_" + std::to_string(n);
    if (!Exists(folder + "/" + taken + ".jpg")) return taken;
  }
  return {};
}

}  // namespace

std::string NightRecorder::FolderOf(const QDate& night) const {
  return root_ + "/" + night.toString(QStringLiteral("yyyy-MM-dd")).toStdString();
}

bool NightRecorder::IsDay(const QDateTime& when) const {
  return options_.site && SunAltitude(*options_.site, static_cast<double>(when.toSecsSinceEpoch())) > options_.sun_altitude;
}

NightRecorder::Result NightRecorder::Record(const QDateTime& now, const std::string& published, const QImage& plain,
                                            std::optional<double> background, const std::string& sky_line) {
  Result result;
  if (!options_.enabled) return result;
  const QDate night = NightOf(now);
  if (IsDay(now) || (current_ && *current_ != night)) {
    if (current_) result.ended = FolderOf(*current_);
    current_.reset();
    if (IsDay(now)) return result;  // the sun is up: published as always, not kept
  }
  const std::string folder = FolderOf(night);
  if (!current_) {
    // A night begins (or goes on after a restart, in the folder it had).
    std::error_code error;
    if (KindAt(folder) == PathKind::kLink) {
      result.notes.push_back("Night NG:" + folder + " is a link, not the station's folder");
      return result;
    }
    fs::create_directories(Utf8Path(folder), error);
    if (error) {
      result.notes.push_back("Night NG:cannot make " + folder + ": " + error.message());
      return result;
    }
    const std::string marker = folder + "/" + kNightMarker;
    if (!HasMarker(folder, kNightMarker)) WriteFileAtomically(marker, "", 0, 0644, Durability::kReplaceOnly);
    current_ = night;
    result.pruned = Prune(night);
    for (const std::string& gone : result.pruned) result.notes.push_back("Night: an old night was deleted: " + gone);
  }
  // The archive's floor holds for the night's pictures too.
  if (floor_mb_ > 0) {
    const std::optional<uint64_t> free = FreeBytes(folder);
    if (free && *free < floor_mb_ * (uint64_t{1} << 20)) {
      result.notes.push_back("Night picture not kept: only " + std::to_string(*free >> 20) + " MB free");
      return result;
    }
  }
  const std::string stem = FreeStem(folder, PictureStem(now));
  if (stem.empty()) {
    result.notes.push_back("Night picture NG:every name for " + PictureStem(now) + " is taken");
    return result;
  }
  std::string bytes;
  Outcome kept = ReadRegularFile(published, kLargestPicture, bytes);
  // The side files first and the picture last: a picture in the folder is always whole, and
  // what a failure leaves beside it is passed over without its picture.
  if (kept.ok && !plain.isNull()) kept = SaveImageJpeg(plain, folder + "/." + stem + ".plain.jpg", 90);
  if (kept.ok && background) {
    const std::string text = std::to_string(*background) + "\n";
    kept = WriteFileAtomically(folder + "/." + stem + ".sky", text.data(), text.size(), 0644, Durability::kReplaceOnly);
  }
  if (kept.ok)
    kept = WriteFileAtomically(folder + "/" + stem + ".jpg", bytes.data(), bytes.size(), 0644, Durability::kReplaceOnly);
  if (!kept.ok) result.notes.push_back("Night picture NG:" + kept.reason);
  if (kept.ok && !sky_line.empty()) {
    const std::string csv = folder + "/" + kSkyLogName;
    const bool fresh = KindAt(csv) == PathKind::kMissing;
    const Outcome logged = AppendToFile(csv, (fresh ? std::string(kSkyLogHeader) : std::string()) + sky_line,
                                        {.follow_link = false, .end_open_line = true});
    if (!logged.ok) result.notes.push_back("Night NG:" + csv + ": " + logged.reason);
  }
  return result;
}

std::optional<std::string> NightRecorder::Stop() {
  if (!current_) return std::nullopt;
  const std::string folder = FolderOf(*current_);
  current_.reset();
  return folder;
}

std::vector<std::string> NightRecorder::Prune(const QDate& tonight) {
  const std::string current = (current_ ? *current_ : tonight).toString(QStringLiteral("yyyy-MM-dd")).toStdString();
  std::vector<std::string> nights = NightFolders(root_);
  // Newest last, the current night the newest of all: a folder dated after it comes from a clock
  // that was wrong, and is no newer than tonight.
  std::stable_sort(nights.begin(), nights.end(), [&](const std::string& a, const std::string& b) {
    const auto rank = [&](const std::string& name) { return name == current ? 2 : name > current ? 1 : 0; };
    return rank(a) != rank(b) ? rank(a) < rank(b) : a < b;
  });
  const size_t keep = static_cast<size_t>(std::max(options_.keep_nights, 1));
  std::vector<std::string> deleted;
  size_t left = nights.size();
  for (const std::string& name : nights) {
    if (left <= keep) break;
    if (name == current || !IsSettled(root_ + "/" + name)) continue;  // still to be made or published
    std::error_code error;
    fs::remove_all(Utf8Path(root_ + "/" + name), error);
    if (!error) {
      deleted.push_back(name);
      --left;
    }
  }
  return deleted;
}
