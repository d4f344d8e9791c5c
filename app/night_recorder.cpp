// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/night_recorder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "display/snapshot_export.h"
#include "base/atomic_file.h"
#include "base/free_space.h"
#include "base/regular_file.h"

namespace {

namespace fs = std::filesystem;

// A folder the station made holds this file: a dated folder of the user's is never pruned.
constexpr const char* kMarker = ".qor-night";
constexpr size_t kLargestPicture = size_t{256} << 20;

bool IsNightName(const std::string& name) {
  if (name.size() != 10 || name[4] != '-' || name[7] != '-') return false;
  for (size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u})
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
  return QDate::fromString(QString::fromStdString(name), QStringLiteral("yyyy-MM-dd")).isValid();
}

bool IsPictureName(const std::string& name) {
  if (name.size() != 10 || name.compare(6, 4, ".jpg") != 0) return false;
  return std::all_of(name.begin(), name.begin() + 6, [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

}  // namespace

QDate NightOf(const QDateTime& local) { return local.addSecs(-12 * 3600).date(); }

std::string NightRecorder::FolderOf(const QDate& night) const {
  return root_ + "/" + night.toString(QStringLiteral("yyyy-MM-dd")).toStdString();
}

bool NightRecorder::IsDay(const QDateTime& when) const {
  return options_.site && SunAltitude(*options_.site, static_cast<double>(when.toSecsSinceEpoch())) > options_.sun_altitude;
}

NightRecorder::Result NightRecorder::Record(const QDateTime& now, const std::string& published, const QImage& plain,
                                            std::optional<double> background) {
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
    fs::create_directories(folder, error);
    if (error) {
      result.notes.push_back("Night NG:cannot make " + folder + ": " + error.message());
      return result;
    }
    const std::string marker = folder + "/" + kMarker;
    if (!fs::exists(marker)) WriteFileAtomically(marker, "", 0, 0644, Durability::kReplaceOnly);
    current_ = night;
    for (const std::string& gone : Prune()) result.notes.push_back("Night: an old night was deleted: " + gone);
  }
  // The archive's floor holds for the night's pictures too.
  if (floor_mb_ > 0) {
    const std::optional<uint64_t> free = FreeBytes(folder);
    if (free && *free < floor_mb_ * (uint64_t{1} << 20)) {
      result.notes.push_back("Night picture not kept: only " + std::to_string(*free >> 20) + " MB free");
      return result;
    }
  }
  const std::string name = now.toString(QStringLiteral("HHmmss")).toStdString();
  std::string bytes;
  Outcome kept = ReadRegularFile(published, kLargestPicture, bytes);
  // Written in place rather than renamed in: a new file each cycle, and a rename costs the cycle
  // a good part of a millisecond on some disks. A picture cut short by a crash is one that the
  // products cannot read, and they leave it out.
  if (kept.ok) kept = OverwriteFile(folder + "/" + name + ".jpg", bytes.data(), bytes.size(), 0644);
  if (kept.ok && !plain.isNull()) kept = WriteImageJpeg(plain, folder + "/." + name + ".plain.jpg", 90);
  if (kept.ok && background) {
    const std::string text = std::to_string(*background) + "\n";
    kept = OverwriteFile(folder + "/." + name + ".sky", text.data(), text.size(), 0644);
  }
  if (!kept.ok) result.notes.push_back("Night picture NG:" + kept.reason);
  return result;
}

std::optional<std::string> NightRecorder::Stop() {
  if (!current_) return std::nullopt;
  const std::string folder = FolderOf(*current_);
  current_.reset();
  return folder;
}

std::vector<std::string> NightRecorder::Prune() {
  std::vector<std::string> nights, deleted;
  std::error_code error;
  for (fs::directory_iterator it(root_, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    // Only the station's own folders: named as a night, a directory (not a link to one), marked.
    if (!IsNightName(name) || !it->is_directory() || it->is_symlink()) continue;
    struct stat marker {};
    if (lstat((it->path() / kMarker).c_str(), &marker) != 0 || !S_ISREG(marker.st_mode)) continue;
    nights.push_back(name);
  }
  std::sort(nights.begin(), nights.end());
  const size_t keep = static_cast<size_t>(std::max(options_.keep_nights, 1));
  for (size_t i = 0; i + keep < nights.size(); ++i) {
    fs::remove_all(root_ + "/" + nights[i], error);
    if (!error) deleted.push_back(nights[i]);
  }
  return deleted;
}

std::vector<std::string> NightPictures(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (IsPictureName(name) && it->is_regular_file()) names.push_back(name);
  }
  // Noon to noon: the evening's hours before the morning's.
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const bool a_morning = a < "120000", b_morning = b < "120000";
    return a_morning != b_morning ? b_morning : a < b;
  });
  return names;
}
