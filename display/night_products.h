// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The night in review, made from a night folder's pictures: the keogram (the middle column of
// every picture, left to right in time order, with the hours under it) and the star trails (the
// dark pictures stacked by their brightest value per pixel). Both from the pictures before
// lettering where the folder has them (.hhmmss.plain.jpg), so the caption and time stamp do not
// streak through; from the published picture otherwise.

#include <optional>
#include <string>
#include <vector>

#include <QDate>
#include <QImage>

#include "fits/frame_store.h"

/// One picture of a night: its file name (hhmmss.jpg) and what is known of its raw frame.
struct NightPicture {
  std::string name;
  std::optional<double> background;  // the raw frame's background (.hhmmss.sky), where recorded
};

/// A picture file as 32-bit RGB, read without blocking from a regular file only; null otherwise.
QImage LoadPicture(const std::string& path);

/// The picture to take pixels from: the unlettered one where there is one.
std::string PlainPicturePath(const std::string& folder, const std::string& name);

/// The keogram of `pictures` (in time order) of the night of `night`: each picture's middle
/// column, repeated so that the keogram is at least as wide as a picture, over a band with a tick
/// and the hour ("21", "22" ...) at every whole hour and the night's date. Null without pictures.
QImage MakeKeogram(const std::string& folder, const std::vector<NightPicture>& pictures, const QDate& night);

/// Which pictures the star trails leave out, and why: those whose raw background is well above
/// the night's darkest (twilight, moonlight, clouds). A picture is dark when its background is at
/// most the darkest plus the larger of 15 % of the darkest and three times the spread (1.4826 x
/// the median absolute deviation) of the darker half of the night. Pictures without a recorded
/// background are kept. Returns the names left out with their reasons.
std::vector<std::pair<std::string, std::string>> BrightPictures(const std::vector<NightPicture>& pictures);

/// The star trails: the brightest value of each pixel over the pictures not left out. A picture
/// that is washed out (its median grey 160 or more: a stretch that failed, a frame of daylight
/// without a recorded background) is left out too, and added to `left_out`. Where all are left
/// out, the darkest picture alone (`only_darkest` then says so). Null without pictures.
QImage MakeStarTrails(const std::string& folder, const std::vector<NightPicture>& pictures,
                      std::vector<std::pair<std::string, std::string>>& left_out, bool& only_darkest);

/// The raw frame's sky background: the median of every 16th pixel of every 16th row.
double RawBackground(const FrameStore& store);
