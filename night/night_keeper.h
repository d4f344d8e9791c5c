// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The night's one owner beside the live cycle (--night): it keeps each cycle's picture, has the
// products of a night made when it ends (and every N pictures for a rolling night), publishes
// them, and prunes old nights. Nothing of this lives only in memory: at the first cycle after a
// start it looks through the night folders and finishes what an earlier run left, oldest night
// first: a night that ended while the station was down, or whose review was stopped, is reviewed;
// a reviewed night not yet on the server is published.

#include <optional>
#include <string>
#include <vector>

#include <QDateTime>
#include <QImage>

#include "night/night_publisher.h"
#include "night/night_recorder.h"
#include "night/night_review.h"

class NightKeeper {
 public:
  explicit NightKeeper(std::string root = "nights") : root_(root), recorder_(root), publisher_(root) {}

  void SetOptions(const NightOptions& options, uint64_t floor_mb);
  bool enabled() const { return recorder_.enabled(); }
  /// The folder of the night being kept, if one is.
  std::optional<std::string> current_folder() const { return recorder_.current_folder(); }

  /// A cycle at `now`: the first after a start finishes what earlier runs left, the first after a
  /// noon reviews a night that ended without its station. Lines for the log.
  std::vector<std::string> Begin(const QDateTime& now);
  /// Keeps the cycle's published JPEG `published` (and `plain`, its picture unlettered). Lines for
  /// the log.
  std::vector<std::string> Keep(const QDateTime& now, const std::string& published, const QImage& plain,
                                std::optional<double> background, const std::string& sky_line = {});
  /// True when products wait to be uploaded.
  bool HasUploads();
  /// Uploads what is due (see NightPublisher). Lines for the log.
  std::vector<std::string> Publish(const NightPublisher::Peer& peer);
  /// Publishing stops: the night being kept ends and is reviewed; the next start looks again.
  std::vector<std::string> Stop();


 private:
  std::string Ended(const std::string& folder);

  std::string root_;
  NightRecorder recorder_;
  NightReviewer reviewer_;
  NightPublisher publisher_;
  int every_ = 0;
  int kept_since_review_ = 0;
  bool begun_ = false;
  QDate begun_night_;  // the night of the last cycle that looked
};
