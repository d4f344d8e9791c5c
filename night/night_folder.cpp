// SPDX-License-Identifier: GPL-3.0-or-later
#include "night/night_folder.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <tuple>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTime>

#include "base/regular_file.h"
#include "base/utf8_path.h"

namespace {

namespace fs = std::filesystem;

bool Digits(const std::string& text, size_t from, size_t count) {
  if (from + count > text.size()) return false;
  return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from), text.begin() + static_cast<std::ptrdiff_t>(from + count),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

struct PictureName {
  QTime time;
  bool second_pass = false;
  int taken = 1;  // the N of "_N"; 1 without it
};

std::optional<PictureName> ParsePictureName(const std::string& name) {
  if (name.size() < 10 || name.compare(name.size() - 4, 4, ".jpg") != 0 || !Digits(name, 0, 6)) return std::nullopt;
  PictureName parsed;
  parsed.time = QTime(std::stoi(name.substr(0, 2)), std::stoi(name.substr(2, 2)), std::stoi(name.substr(4, 2)));
  if (!parsed.time.isValid()) return std::nullopt;
  std::string rest = name.substr(6, name.size() - 10);
  if (!rest.empty() && rest[0] == 'b') {
    parsed.second_pass = true;
    rest.erase(0, 1);
  }
  if (!rest.empty()) {
    if (rest.size() < 2 || rest.size() > 4 || rest[0] != '_' || rest[1] == '0' || !Digits(rest, 1, rest.size() - 1))
      return std::nullopt;
    parsed.taken = std::stoi(rest.substr(1));
    if (parsed.taken < 2) return std::nullopt;
  }
  return parsed;
}

int OffsetAt(int64_t instant) { return QDateTime::fromSecsSinceEpoch(instant).offsetFromUtc(); }

}  // namespace

QDate NightOf(const QDateTime& local) {
  return local.time() < QTime(12, 0) ? local.date().addDays(-1) : local.date();
}

bool IsNightName(const std::string& name) {
  if (name.size() != 10 || name[4] != '-' || name[7] != '-') return false;
  if (!Digits(name, 0, 4) || !Digits(name, 5, 2) || !Digits(name, 8, 2)) return false;
  return QDate::fromString(QString::fromStdString(name), QStringLiteral("yyyy-MM-dd")).isValid();
}

bool IsPictureName(const std::string& name) { return ParsePictureName(name).has_value(); }

std::string PictureStem(const QDateTime& local) {
  std::string stem = local.toString(QStringLiteral("HHmmss")).toStdString();
  // The second pass of a repeated hour: the same wall time was shown once already, at an
  // instant when the clocks were further ahead.
  const int now = local.offsetFromUtc(), before = local.addSecs(-3 * 3600).offsetFromUtc();
  if (before > now) {
    const QDateTime first = local.addSecs(-(before - now));
    if (first.offsetFromUtc() == before && first.date() == local.date() && first.time() == local.time()) stem += 'b';
  }
  return stem;
}

int64_t PictureInstant(const QDate& night, const std::string& name) {
  const std::optional<PictureName> parsed = ParsePictureName(name);
  if (!parsed) return 0;
  const QDate date = parsed->time < QTime(12, 0) ? night.addDays(1) : night;
  const int64_t wall = QDateTime(date, parsed->time, Qt::UTC).toSecsSinceEpoch();
  // The instants whose local time reads `wall`: one, or two in a repeated hour.
  std::vector<int64_t> instants;
  for (const int64_t probe : {wall - 86400, wall + 86400}) {
    const int offset = OffsetAt(probe);
    if (OffsetAt(wall - offset) == offset) instants.push_back(wall - offset);
  }
  std::sort(instants.begin(), instants.end());
  if (instants.empty()) return wall - OffsetAt(wall);  // a time the clocks skipped
  return parsed->second_pass ? instants.back() : instants.front();
}

std::vector<std::string> NightPictures(const std::string& folder) {
  const std::string folder_name = Utf8Text(Utf8Path(folder).filename());
  // Outside a night's folder (never the station's own) the evening's hours still come first.
  const QDate night = IsNightName(folder_name)
                          ? QDate::fromString(QString::fromStdString(folder_name), QStringLiteral("yyyy-MM-dd"))
                          : QDate(2000, 1, 3);
  std::vector<std::tuple<int64_t, int, std::string>> pictures;
  std::error_code error;
  for (fs::directory_iterator it(Utf8Path(folder), error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (!IsPictureName(name) || it->is_symlink() || !it->is_regular_file()) continue;
    pictures.emplace_back(PictureInstant(night, name), ParsePictureName(name)->taken, name);
  }
  std::sort(pictures.begin(), pictures.end());
  std::vector<std::string> names;
  for (auto& picture : pictures) names.push_back(std::move(std::get<2>(picture)));
  return names;
}

bool HasMarker(const std::string& folder, const char* marker) {
  return KindAt(folder + "/" + marker) == PathKind::kRegular;
}

std::vector<std::string> NightFolders(const std::string& root) {
  std::vector<std::string> nights;
  std::error_code error;
  for (fs::directory_iterator it(Utf8Path(root), error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (!IsNightName(name) || KindAt(Utf8Text(it->path())) == PathKind::kLink || !it->is_directory()) continue;
    if (HasMarker(it->path().string(), kNightMarker)) nights.push_back(name);
  }
  std::sort(nights.begin(), nights.end());
  return nights;
}

namespace {

QJsonObject NightJson(const std::string& folder) {
  std::string text;
  if (!ReadRegularFile(folder + "/night.json", size_t{1} << 20, text).ok) return {};
  return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

}  // namespace

bool IsReviewed(const std::string& folder) {
  const QJsonObject night = NightJson(folder);
  const QJsonValue pictures = night[QStringLiteral("pictures")];
  if (night[QStringLiteral("short_of_space")].toBool() && night[QStringLiteral("reviews")].toInt() < kReviewsShortOfSpace)
    return false;
  return pictures.isDouble() && pictures.toInt(-1) == static_cast<int>(NightPictures(folder).size());
}

int ReviewsOf(const std::string& folder) { return NightJson(folder)[QStringLiteral("reviews")].toInt(); }

bool IsSettled(const std::string& folder) {
  return IsReviewed(folder) && (HasMarker(folder, kPublishedMarker) || HasMarker(folder, kGivenUpMarker));
}
