// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The night's timelapse: its pictures as published, in time order, as H.264 (libx264 through
// FFmpeg's libraries) in MP4, 4:2:0 at a size the caller chooses (TimelapseSize), the level that libx264 chooses for the size and rate, and the index at the front of the file so
// that a browser can start playing before the download ends. One picture in memory at a time.

#include <atomic>
#include <string>
#include <vector>

#include <QSize>

#include "base/outcome.h"

/// Encodes the whole JPEG pictures at `paths` at `fps` frames a second into `path` at `size` (even
/// sides), each scaled to fit and centred on black, never cropped; written under a temporary name,
/// flushed and renamed. A picture that cannot be read is left out; fewer than two pictures make no
/// video. Stops early, writing nothing, where `cancel` is set.
Outcome MakeTimelapse(const std::vector<std::string>& paths, const std::string& path, int fps, QSize size,
                      const std::atomic<bool>* cancel = nullptr);
