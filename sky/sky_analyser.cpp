// SPDX-License-Identifier: GPL-3.0-or-later
#include "sky/sky_analyser.h"

#include <cmath>

#include "fits/header_text.h"
#include "sky/sky_brightness.h"
#include "sky/star_extraction.h"

namespace {

// A colour camera's mosaic: one plane whose neighbouring pixels are of different colours.
bool IsMosaic(const FrameStore& store) {
  return store.ColourPlaneCount == 0 && store.HeaderCardCount > 0 && HeaderValueText(store, "BAYERPAT").has_value();
}

}  // namespace

Outcome SkyAnalyser::Configure(const SkySettings& settings) {
  settings_ = settings;
  dark_.reset();
  if (!settings.dark_path.empty()) {
    DarkFrame dark;
    const Outcome loaded = LoadDarkFrame(settings.dark_path, dark);
    if (!loaded.ok) return Outcome::Failure("the dark " + settings.dark_path + ": " + loaded.reason);
    dark_ = std::move(dark);
  }
  return Outcome::Success();
}

std::vector<std::string> SkyAnalyser::Prepare(FrameStore& store) {
  std::vector<std::string> notes;
  corrections_.Restore(store);  // a frame left corrected by a cycle cut short is put right first
  dark_fits_ = true;
  if (dark_) {
    const Outcome subtracted = corrections_.SubtractDark(store, *dark_);
    dark_fits_ = subtracted.ok;
    if (!subtracted.ok) notes.push_back("Sky NG:dark not subtracted: " + subtracted.reason);
  }
  step_ = IsMosaic(store) ? 2 : 1;
  if (settings_.remove_hot_pixels) corrections_.ReplaceHotPixels(store, hot_, step_);
  return notes;
}

const SkyReading& SkyAnalyser::Analyse(FrameStore& store, uint64_t digest, const std::string& night) {
  reference_changed_ = false;
  const bool seen = last_digest_ == digest && night == night_;
  last_digest_ = digest;
  night_ = night;
  if (seen && last_.measured()) return last_;
  last_ = Measure(store, true);
  return last_;
}

void SkyAnalyser::LearnHotPixels(FrameStore& store, uint64_t digest) {
  if (last_digest_ == digest) return;
  last_digest_ = digest;
  const FrameExtent extent = WalkableExtent(store);
  if (extent.width <= 0 || extent.height <= 0) return;
  step_ = IsMosaic(store) ? 2 : 1;
  corrections_.RestoreHotPixels(store);
  hot_.Learn(store, extent.width, extent.height, step_);
}

SkyReading SkyAnalyser::Measure(FrameStore& store, bool count) {
  SkyReading reading;
  const FrameExtent extent = WalkableExtent(store);
  if (extent.width <= 0 || extent.height <= 0) {
    reading.failure = "no frame";
    return reading;
  }
  // The hot pixels are learned from the frame as it came (the dark subtracted), and replaced for
  // the analysis whether or not the picture shows them: they are never stars.
  const bool mosaic = IsMosaic(store);
  step_ = mosaic ? 2 : 1;
  corrections_.RestoreHotPixels(store);
  hot_.Learn(store, extent.width, extent.height, step_);
  corrections_.ReplaceHotPixels(store, hot_, step_);
  reading.hot_pixels = static_cast<int>(hot_.hot().size());
  if (!dark_fits_) {
    reading.failure = "the dark does not fit the frame";
    return reading;
  }
  const SkyCircle circle = settings_.circle.value_or(LargestCentredCircle(extent.width, extent.height));
  if (!CentreInFrame(circle, extent.width, extent.height)) {
    reading.failure = "the sky circle's centre lies outside the " + std::to_string(extent.width) + " x " +
                      std::to_string(extent.height) + " frame";
    return reading;
  }
  Outcome made = MakeSkyImage(store, mosaic, image_);
  StarField field;
  if (made.ok) made = ExtractStars(image_, circle, settings_.star_sigma, field);
  if (!made.ok) {
    reading.failure = made.reason;
    return reading;
  }
  reading.stars = static_cast<int>(field.stars.size());
  for (const StarField::Star& star : field.stars) ++reading.sector_stars[static_cast<size_t>(SectorOf(circle, star.x, star.y))];
  reading.background = field.background;
  if (const std::optional<double> exposure = ExposureOf(store)) {
    reading.background_per_s = field.background / *exposure;
    if (settings_.zero_point && settings_.pixel_scale)
      reading.sqm = SkyMagnitude(field.background, *exposure, *settings_.zero_point, *settings_.pixel_scale);
  }
  if (count && DayNumber(night_)) {
    reference_.Add(night_, reading.sector_stars);
    reference_changed_ = true;
  }
  const ClearReference::Verdict verdict = reference_.Judge(reading.sector_stars);
  reading.clear = verdict.clear;
  reading.sectors = verdict.sectors;
  return reading;
}
