// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The night in review: a night folder's products, keogram.jpg, startrails.jpg, timelapse.mp4 and
// night.json, each written under a temporary name and renamed, so that a crash or a full disk
// never leaves half a file. They are made on a thread of their own at a lower priority, so that
// the window never waits and the next cycle starts on time while a night is encoded.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QSize>

#include "display/night_products.h"

/// The pictures of a night folder in time order, with the raw backgrounds recorded beside them.
std::vector<NightPicture> ReadNightPictures(const std::string& folder);

/// Makes the products of the night in `folder` (named YYYY-MM-DD), from its whole pictures at the
/// size most of them have, the video within `timelapse_bound`; lines for the log. Pictures left
/// out are listed in night.json with the reason. Stops early, leaving night.json as it was (so the
/// night still counts as not reviewed), where `cancel` is set.
std::vector<std::string> MakeNightProducts(const std::string& folder, int fps, const std::atomic<bool>* cancel = nullptr,
                                           QSize timelapse_bound = QSize(1920, 1080));

class NightReviewer {
 public:
  explicit NightReviewer(int fps = 25) : fps_(fps) {}
  /// Finishes what was asked for, for a minute at most, then stops what is left unmade.
  ~NightReviewer();
  NightReviewer(const NightReviewer&) = delete;
  NightReviewer& operator=(const NightReviewer&) = delete;

  void set_fps(int fps) { fps_ = fps; }
  void set_timelapse_bound(int width, int height) {
    timelapse_width_ = width;
    timelapse_height_ = height;
  }
  /// Makes the products of `folder` soon; a folder already waiting is not asked for twice.
  void Ask(const std::string& folder);
  /// Lines for the log since the last call.
  std::vector<std::string> TakeNotes();
  /// The folders whose products were made since the last call.
  std::vector<std::string> TakeFinished();
  /// Waits until nothing is left to make (tests).
  void WaitIdle();

 private:
  void Work();

  std::atomic<int> fps_;
  std::atomic<int> timelapse_width_{1920}, timelapse_height_{1080};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> waiting_;
  std::vector<std::string> notes_;
  std::vector<std::string> finished_;
  bool busy_ = false;
  bool stopping_ = false;
  std::atomic<bool> cancel_{false};
  std::thread worker_;
};
