// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The sky's condition on each frame (--sky): stars, darkness and the clear share, with the frame
// cleaned of its dark and hot pixels. The live cycle calls it at three points: Prepare before the
// picture is drawn (the corrections the picture shows), Analyse once the picture is published
// (never delaying it), Restore before the frame is archived (the archive stays the camera's).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/outcome.h"
#include "fits/frame_store.h"
#include "sky/clear_reference.h"
#include "sky/dark_frame.h"
#include "sky/frame_corrections.h"
#include "sky/hot_pixel_map.h"
#include "sky/sky_circle.h"
#include "sky/sky_image.h"

struct SkySettings {
  bool enabled = false;              // --sky: stars, darkness and clear share on every frame
  double star_sigma = 5;             // --star-sigma S
  std::optional<SkyCircle> circle;   // --sky-circle CX,CY,R; nothing: the largest centred circle
  std::string dark_path;             // --dark FILE
  bool remove_hot_pixels = false;    // --hot-pixels remove
  std::optional<double> zero_point;  // --sqm-zero-point Z
  std::optional<double> pixel_scale; // --pixel-scale ARCSEC
  /// True when the station looks at its frames at all (the sky, a dark, or hot pixels removed).
  bool active() const { return enabled || !dark_path.empty() || remove_hot_pixels; }
};

struct SkyReading {
  std::string failure;                      // why there are no values; empty when there are
  int stars = 0;
  std::optional<double> background;         // the sky's median inside the circle, frame units
  std::optional<double> background_per_s;   // the same per second of EXPTIME
  std::optional<double> sqm;                // mag/arcsec^2, with a zero point and a pixel scale
  std::optional<double> clear;              // the clear sectors' share
  std::array<int, kSkySectors> sector_stars{};
  std::array<std::optional<bool>, kSkySectors> sectors{};
  int hot_pixels = 0;                       // hot pixels known in the frame
  bool measured() const { return failure.empty(); }
};

class SkyAnalyser {
 public:
  /// Takes the settings; reads the dark. Refused, with the reason, where the dark cannot be used.
  Outcome Configure(const SkySettings& settings);
  const SkySettings& settings() const { return settings_; }

  /// Before the picture: the dark subtracted and, where asked, the hot pixels replaced, in the
  /// store. Lines for the log (a dark that does not fit the frame).
  std::vector<std::string> Prepare(FrameStore& store);
  /// Once the picture is out: learns the hot pixels, analyses the frame and, for a frame not seen
  /// before (`digest`), adds its counts to the reference of the night `night` (YYYY-MM-DD). A
  /// frame seen before gives the same reading again without counting twice.
  const SkyReading& Analyse(FrameStore& store, uint64_t digest, const std::string& night);
  /// Learns the hot pixels from the frame alone (--hot-pixels remove without --sky). A frame seen
  /// before (`digest`) is not learned from twice.
  void LearnHotPixels(FrameStore& store, uint64_t digest);
  /// The frame back as the camera wrote it.
  void Restore(FrameStore& store) { corrections_.Restore(store); }

  const SkyReading& last() const { return last_; }
  /// The last measured frame's sky: its signal in units of the local noise, NaN outside the
  /// circle (for the streaks of the night's events).
  const SkyImage& signal() const { return image_; }
  ClearReference& reference() { return reference_; }
  /// True when the last Analyse added to the reference (it wants saving).
  bool reference_changed() const { return reference_changed_; }

 private:
  SkyReading Measure(FrameStore& store, bool count);

  SkySettings settings_;
  std::optional<DarkFrame> dark_;
  FrameCorrections corrections_;
  HotPixelMap hot_;
  SkyImage image_;
  ClearReference reference_;
  SkyReading last_;
  std::optional<uint64_t> last_digest_;
  bool reference_changed_ = false;
  bool dark_fits_ = true;  // the last Prepare subtracted the dark, or there is none
  int step_ = 1;  // 2 for a colour mosaic, whose pixels of one colour lie two apart
  std::string night_;
};
