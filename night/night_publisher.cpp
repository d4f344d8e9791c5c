// SPDX-License-Identifier: GPL-3.0-or-later
#include "night/night_publisher.h"

#include <algorithm>
#include <filesystem>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "night/night_folder.h"
#include "base/atomic_file.h"
#include "base/regular_file.h"
#include "base/utf8_path.h"
#include "publish/ftp_errors.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kProducts[] = {"keogram.jpg", "startrails.jpg", "timelapse.mp4", "chart.png"};
// The chart is a product only with --sky: a night is deleted on the server without asking for
// one where the station never makes them.
constexpr size_t kProductsWithoutSky = 3;
// The dates of deleted nights whose products are still on the server, one a line.
constexpr const char* kForgotten = ".remote-deletions";
// Beside each product that is on the server: a night whose other products could not be sent is
// still listed, with what is up.
constexpr const char* kUpPrefix = ".up-";

// A product in the folder's events/ keeps its folder in its name on the server and in its marker.
std::string Flat(std::string product) {
  std::replace(product.begin(), product.end(), '/', '-');
  return product;
}

std::string UpMarker(const std::string& product) { return kUpPrefix + Flat(product); }

std::string DateOf(const std::string& folder) { return Utf8Text(Utf8Path(folder).filename()); }

std::string RemoteName(const std::string& folder, const std::string& product) { return DateOf(folder) + "-" + Flat(product); }

// The night's events (--events): events.json and the pictures it names, as the station wrote them.
std::vector<std::string> EventProducts(const std::string& folder) {
  std::vector<std::string> products;
  std::string text;
  if (!ReadRegularFile(folder + "/" + kEventsFile, size_t{16} << 20, text).ok) return products;
  products.push_back(kEventsFile);
  for (const QJsonValue& event : QJsonDocument::fromJson(QByteArray::fromStdString(text)).array()) {
    const std::string picture = event.toObject()[QStringLiteral("picture")].toString().toStdString();
    // Only a name the station gives: events/ and digits, a dash, ".jpg".
    const bool ours = picture.rfind(std::string(kEventsFolder) + "/", 0) == 0 && picture.size() > 11 &&
                      picture.compare(picture.size() - 4, 4, ".jpg") == 0 &&
                      std::all_of(picture.begin() + 7, picture.end() - 4, [](char c) { return (c >= '0' && c <= '9') || c == '-'; });
    std::error_code error;
    if (ours && fs::is_regular_file(Utf8Path(folder + "/" + picture), error)) products.push_back(picture);
  }
  return products;
}

// What of a night's events is on the server, kept beside the nights so that it can be deleted
// there once the night's folder is gone.
std::string EventsOnServer(const std::string& root, const std::string& date) { return root + "/.events-" + date; }

void Mark(const std::string& folder, const char* marker) {
  WriteFileAtomically(folder + "/" + marker, "", 0, 0644, Durability::kReplaceOnly);
}

}  // namespace

bool NightPublisher::Retry::Failed(int64_t round) {
  ++failures;
  due = round + (int64_t{1} << std::min(failures - 1, 20));
  return failures >= kTries;
}

void NightPublisher::Add(const std::string& folder) {
  // A night asked for again (a rolling night) replaces what of it still waits.
  waiting_.erase(std::remove_if(waiting_.begin(), waiting_.end(), [&](const Upload& u) { return u.folder == folder; }),
                 waiting_.end());
  std::error_code error;
  fs::remove(Utf8Path(folder + "/" + kPublishedMarker), error);
  fs::remove(Utf8Path(folder + "/" + kGivenUpMarker), error);
  bool any = false;
  for (const char* product : kProducts) fs::remove(Utf8Path(folder + "/" + UpMarker(product)), error);
  std::vector<std::string> products;
  for (const char* product : kProducts)
    if (fs::is_regular_file(Utf8Path(folder + "/" + product), error)) products.push_back(product);
  const std::vector<std::string> events = EventProducts(folder);
  if (!events.empty()) {
    std::string names;
    for (const std::string& event : events) names += RemoteName(folder, event) + "\n";
    WriteFileAtomically(EventsOnServer(root_, DateOf(folder)), names.data(), names.size(), 0644, Durability::kReplaceOnly);
  }
  products.insert(products.end(), events.begin(), events.end());
  for (const std::string& product : products) {
    fs::remove(Utf8Path(folder + "/" + UpMarker(product)), error);
    waiting_.push_back({folder, product, {}, false, false});
    any = true;
  }
  if (!any) {  // nothing to send: the night is complete on the server as it is
    Mark(folder, kPublishedMarker);
    list_.due = true;
  }
}

NightPublisher::Peer NightPublisher::Through(PicturePublisher& publisher) {
  return {[&publisher](const std::string& local, const std::string& remote, int32_t& error) {
            if (publisher.FtpPutBinInto(kNightDirectory, local, remote) == -1) return Sent::kAll;
            error = publisher.FtpGetLastError();
            return publisher.LeftUnfinished() ? Sent::kPart : Sent::kFailed;
          },
          [&publisher] { return publisher.ConnectionFailed(); },
          [&publisher](const std::string& remote, int32_t& error) {
            if (publisher.FtpDeleteIn(kNightDirectory, remote) == -1) return true;
            error = publisher.FtpGetLastError();
            return false;
          }};
}

std::vector<std::string> NightPublisher::Publish(const Peer& peer) {
  const Put& put = peer.put;
  const Lost& lost = peer.lost;
  const Remove& remove = peer.remove;
  ++round_;
  ForgottenWaiting();  // before nights.json is sent
  std::vector<std::string> notes;
  bool connection_lost = false;
  const auto send = [&](const std::string& local, const std::string& remote, Retry& retry) {
    int32_t error = 0;
    const Sent sent = put(local, remote, error);
    if (sent == Sent::kAll) {
      notes.push_back("Night upload OK: " + remote);
      return true;
    }
    connection_lost = lost && lost();
    if (sent == Sent::kPart && ++retry.parts < kParts) {
      // Not a failure: the cycle's time for the night is up, and the next round goes on.
      notes.push_back("Night upload: " + remote + " goes on at the next cycle");
      connection_lost = true;  // no time is left in this round
      return false;
    }
    // Sent in parts for too long, or a file here that cannot be read or sent as it is: trying it
    // again cannot help, so it is given up now.
    const bool refused_here = error == ftp_error::kLocalFile;
    if (sent == Sent::kPart || refused_here) retry.failures = kTries - 1;
    if (retry.Failed(round_))
      notes.push_back("Night upload NG:" + std::to_string(error) + " (" + remote +
                      (refused_here ? ", given up: the file here cannot be sent" : ", given up after " + std::to_string(kTries) + " tries") +
                      ")");
    else
      notes.push_back("Night upload NG:" + std::to_string(error) + " (" + remote + ", tried again in " +
                      std::to_string(retry.due - round_) + " cycles)");
    return false;
  };
  for (Upload& upload : waiting_) {
    if (connection_lost) break;
    if (upload.sent || upload.given_up || upload.retry.due > round_) continue;
    if (send(upload.folder + "/" + upload.product, RemoteName(upload.folder, upload.product), upload.retry)) {
      upload.sent = true;
      Mark(upload.folder, UpMarker(upload.product).c_str());
    } else
      upload.given_up = upload.retry.failures >= kTries;
  }
  Settle(notes);
  if (list_.due && !connection_lost && list_.retry.due <= round_) {
    // Made now, from what the folders say now: a list written earlier may be gone or stale.
    const std::string list = WriteNightsJson();
    if (list.empty()) {
      notes.push_back("Night NG:nights.json cannot be written (tried again next cycle)");
    } else if (send(list, "nights.json", list_.retry)) {
      list_ = {};
    } else if (list_.retry.failures >= kTries) {
      list_ = {};
    }
  }
  // Only once the page's list no longer names them: a visitor never follows a link to nothing.
  if (ForgottenWaiting() && !list_.due && !connection_lost && remove && deletions_.due <= round_)
    DeleteForgotten(remove, notes);
  return notes;
}

void NightPublisher::Forget(const std::string& date) {
  std::vector<std::string> dates = Forgotten();
  if (std::find(dates.begin(), dates.end(), date) == dates.end()) dates.push_back(date);
  WriteForgotten(dates);
}

bool NightPublisher::ForgottenWaiting() {
  // Read once a run: a list left by an earlier run also means that nights.json, which may still
  // name those nights, goes first.
  if (!forgotten_read_) {
    forgotten_read_ = true;
    forgotten_waiting_ = !Forgotten().empty();
    list_.due = list_.due || forgotten_waiting_;
  }
  return forgotten_waiting_;
}

void NightPublisher::WriteForgotten(const std::vector<std::string>& dates) {
  std::string text;
  for (const std::string& date : dates) text += date + "\n";
  WriteFileAtomically(root_ + "/" + kForgotten, text.data(), text.size(), 0644, Durability::kReplaceOnly);
  forgotten_read_ = true;
  forgotten_waiting_ = !dates.empty();
  if (forgotten_waiting_) list_.due = true;
}

std::vector<std::string> NightPublisher::Forgotten() const {
  std::string text;
  std::vector<std::string> dates;
  if (!ReadRegularFile(root_ + "/" + kForgotten, size_t{1} << 20, text).ok) return dates;
  for (size_t start = 0; start < text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size());
    const std::string date = text.substr(start, end - start);
    if (IsNightName(date)) dates.push_back(date);  // only names the station could have published
    start = end + 1;
  }
  return dates;
}

void NightPublisher::DeleteForgotten(const Remove& remove, std::vector<std::string>& notes) {
  std::vector<std::string> dates = Forgotten(), left;
  if (dates.empty()) return;
  bool failed = false;
  for (const std::string& date : dates) {
    bool gone = !failed;
    for (size_t i = 0; i < (sky_products_ ? std::size(kProducts) : kProductsWithoutSky); ++i) {
      const char* product = kProducts[i];
      if (failed) break;
      const std::string remote = date + "-" + product;
      int32_t error = 0;
      if (remove(remote, error)) continue;
      // 550: not there (never published, or deleted already), or not the station's to delete.
      if (error == 550) continue;
      notes.push_back("Night NG:" + std::to_string(error) + " (" + remote + " not deleted on the server)");
      failed = true;
      gone = false;
    }
    // The night's events, by the names it had on the server.
    std::string events;
    if (!failed && ReadRegularFile(EventsOnServer(root_, date), size_t{1} << 20, events).ok) {
      for (size_t start = 0; start < events.size() && !failed;) {
        const size_t end = std::min(events.find('\n', start), events.size());
        const std::string remote = events.substr(start, end - start);
        start = end + 1;
        int32_t error = 0;
        if (remote.rfind(date + "-events", 0) != 0 || remove(remote, error) || error == 550) continue;
        notes.push_back("Night NG:" + std::to_string(error) + " (" + remote + " not deleted on the server)");
        failed = true;
        gone = false;
      }
      std::error_code removed;
      if (gone) fs::remove(Utf8Path(EventsOnServer(root_, date)), removed);
    }
    if (gone) notes.push_back("Night " + date + ": deleted on the server");
    else left.push_back(date);
  }
  if (failed && deletions_.Failed(round_)) {
    notes.push_back("Night: deleting old nights on the server given up after " + std::to_string(kTries) + " tries");
    left.clear();
    deletions_ = {};
  } else if (!failed) {
    deletions_ = {};
  }
  if (left.size() == dates.size() && !left.empty()) return;
  const bool list_due = list_.due;
  WriteForgotten(left);
  list_.due = list_due;  // what is left was already taken out of nights.json
}

void NightPublisher::Settle(std::vector<std::string>& notes) {
  std::vector<std::string> settled;
  for (const Upload& upload : waiting_) {
    const std::string& folder = upload.folder;
    if (std::find(settled.begin(), settled.end(), folder) != settled.end()) continue;
    bool pending = false, given_up = false;
    for (const Upload& other : waiting_)
      if (other.folder == folder) {
        pending |= !other.sent && !other.given_up;
        given_up |= other.given_up;
      }
    if (pending) continue;
    if (given_up) {
      Mark(folder, kGivenUpMarker);
      notes.push_back("Night " + DateOf(folder) + ": not all products could be published, given up");
      list_.due = true;  // listed with those that are up
    } else {
      Mark(folder, kPublishedMarker);
      list_.due = true;
    }
    settled.push_back(folder);
  }
  waiting_.erase(std::remove_if(waiting_.begin(), waiting_.end(),
                                [&](const Upload& u) {
                                  return std::find(settled.begin(), settled.end(), u.folder) != settled.end();
                                }),
                 waiting_.end());
}
std::string NightPublisher::WriteNightsJson() const {
  std::vector<std::string> nights;
  // Only the station's own folders with real nights' names: a name is put into the page.
  for (const std::string& date : NightFolders(root_))
    if (HasMarker(root_ + "/" + date, kPublishedMarker) || HasMarker(root_ + "/" + date, kGivenUpMarker))
      nights.push_back(date);
  std::sort(nights.rbegin(), nights.rend());  // newest first
  QJsonArray list;
  for (const std::string& date : nights) {
    std::string text;
    if (!ReadRegularFile(root_ + "/" + date + "/night.json", size_t{1} << 20, text).ok) continue;
    const QJsonObject night = QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
    QJsonObject entry;
    entry[QStringLiteral("date")] = QString::fromStdString(date);
    for (const char* key : {"pictures", "first", "last", "updated"})
      entry[QString::fromLatin1(key)] = night[QString::fromLatin1(key)];
    // A published night's products are all up (nights published before the markers have none);
    // a night given up lists those that are.
    const std::string folder = root_ + "/" + date;
    const bool all_up = HasMarker(folder, kPublishedMarker);
    QJsonObject files;
    for (const QJsonValue& product : night[QStringLiteral("products")].toArray()) {
      const QString file = product.toObject()[QStringLiteral("file")].toString();
      for (const char* known : kProducts)
        if (file == QLatin1String(known) && (all_up || HasMarker(folder, UpMarker(known).c_str())))
          files[file.section(QLatin1Char('.'), 0, 0)] = QString::fromStdString(date) + QLatin1Char('-') + file;
    }
    std::error_code error;
    if (fs::is_regular_file(Utf8Path(folder + "/" + kEventsFile), error) && (all_up || HasMarker(folder, UpMarker(kEventsFile).c_str())))
      files[QStringLiteral("events")] = QString::fromStdString(RemoteName(folder, kEventsFile));
    if (files.isEmpty()) continue;  // nothing of it is up
    entry[QStringLiteral("files")] = files;
    list.append(entry);
  }
  QJsonObject json;
  json[QStringLiteral("nights")] = list;
  const QByteArray bytes = QJsonDocument(json).toJson(QJsonDocument::Compact);
  const std::string path = root_ + "/nights.json";
  if (!WriteFileAtomically(path, bytes.constData(), static_cast<size_t>(bytes.size()), 0644, Durability::kReplaceOnly).ok)
    return {};
  return path;
}
