// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The night's timelapse: its pictures as published, in time order, as H.264 (libx264 through
// FFmpeg's libraries) in MP4, 4:2:0 with even sides (an odd side loses its last row or column),
// the level that libx264 chooses for the size and rate, and the index at the front of the file so
// that a browser can start playing before the download ends. One picture in memory at a time.

#include <atomic>
#include <string>
#include <vector>

#include "base/outcome.h"

/// Encodes the pictures at `paths` (JPEG or any format Qt reads; all of the first one's size, others
/// scaled to it) at `fps` frames a second into `path`, written under a temporary name and renamed.
/// Fewer than two pictures make no video. Stops early, writing nothing, where `cancel` is set.
Outcome MakeTimelapse(const std::vector<std::string>& paths, const std::string& path, int fps,
                      const std::atomic<bool>* cancel = nullptr);
