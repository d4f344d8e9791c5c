// SPDX-License-Identifier: GPL-3.0-or-later
#include "night/night_keeper.h"

#include "night/night_folder.h"

void NightKeeper::SetOptions(const NightOptions& options, uint64_t floor_mb) {
  recorder_.SetOptions(options, floor_mb);
  reviewer_.set_fps(options.timelapse_fps);
  reviewer_.set_timelapse_bound(options.timelapse_width, options.timelapse_height);
  every_ = options.every;
  publisher_.set_sky_products(options.sky);
}

std::vector<std::string> NightKeeper::Begin(const QDateTime& now) {
  std::vector<std::string> notes;
  if (!enabled()) return notes;
  const QDate tonight = NightOf(now);
  // The first cycle after a start, and the first after each noon: a night cut short by a crash or
  // a power cut, the station started again after sunrise, ends at noon while the station runs on.
  if (begun_ && tonight == begun_night_) return notes;
  const bool start = !begun_;
  begun_ = true;
  begun_night_ = tonight;
  const std::string current = tonight.toString(QStringLiteral("yyyy-MM-dd")).toStdString();
  const std::optional<std::string> kept = recorder_.current_folder();
  for (const std::string& night : NightFolders(root_)) {
    if (night == current) continue;  // goes on tonight; reviewed when it ends
    const std::string folder = root_ + "/" + night;
    if (kept && *kept == folder) continue;  // the night being kept: reviewed as it ends
    const std::string earlier = start ? ": left unreviewed by an earlier run" : ": cut short, ended at noon";
    if (!IsReviewed(folder)) {
      reviewer_.Ask(folder);
      notes.push_back("Night " + night + earlier + ", reviewed now");
    } else if (start && !HasMarker(folder, kPublishedMarker) && !HasMarker(folder, kGivenUpMarker)) {
      publisher_.Add(folder);
      notes.push_back("Night " + night + ": left unpublished by an earlier run, published now");
    }
  }
  if (!start) return notes;
  for (const std::string& gone : recorder_.Prune(tonight)) {
    publisher_.Forget(gone);
    notes.push_back("Night: an old night was deleted: " + gone);
  }
  return notes;
}

std::vector<std::string> NightKeeper::Keep(const QDateTime& now, const std::string& published, const QImage& plain,
                                           std::optional<double> background, const std::string& sky_line) {
  if (!enabled()) return {};
  NightRecorder::Result kept = recorder_.Record(now, published, plain, background, sky_line);
  std::vector<std::string> notes = std::move(kept.notes);
  for (const std::string& gone : kept.pruned) publisher_.Forget(gone);
  if (kept.ended) notes.push_back(Ended(*kept.ended));
  // A rolling night for the page: the products remade every N pictures, but not while the last
  // ones still go up: a video remade under an upload on a slow server would start it again from
  // its first byte, and might never arrive.
  const std::optional<std::string> folder = recorder_.current_folder();
  if (folder && every_ > 0 && ++kept_since_review_ >= every_ && !publisher_.Sending(*folder)) {
    kept_since_review_ = 0;
    reviewer_.Ask(*folder);
  }
  for (std::string& note : reviewer_.TakeNotes()) notes.push_back(std::move(note));
  return notes;
}

bool NightKeeper::HasUploads() {
  for (const std::string& folder : reviewer_.TakeFinished()) publisher_.Add(folder);
  return publisher_.waiting();
}

std::vector<std::string> NightKeeper::Publish(const NightPublisher::Peer& peer) {
  if (!HasUploads()) return {};
  return publisher_.Publish(peer);
}

std::vector<std::string> NightKeeper::Stop() {
  begun_ = false;
  std::vector<std::string> notes;
  if (const std::optional<std::string> ended = recorder_.Stop()) notes.push_back(Ended(*ended));
  return notes;
}

std::string NightKeeper::Ended(const std::string& folder) {
  reviewer_.Ask(folder);  // the night's products, beside the window
  return "Night ended: " + folder + " (" + std::to_string(NightPictures(folder).size()) + " pictures)";
}
