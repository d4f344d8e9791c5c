// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The night in review, made from a night folder's pictures: the keogram (the middle column of
// every picture, left to right in time order, with the hours under it) and the star trails (the
// dark pictures stacked by their brightest value per pixel). Both from the pictures before
// lettering where the folder has them (.hhmmss.plain.jpg), so the caption and time stamp do not
// streak through; from the published picture otherwise.

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include <QDate>
#include <QImage>
#include <QSize>

#include "fits/frame_store.h"

/// One picture of a night: its file name (hhmmss.jpg) and what is known of its raw frame.
struct NightPicture {
  std::string name;
  std::optional<double> background;  // the raw frame's background (.hhmmss.sky), where recorded
};

/// True when `bytes` are a whole JPEG: its start and its end-of-image marker. A file cut short by
/// a full disk or a crash decodes without an error (the rest grey), so decoding cannot tell.
bool IsWholeJpeg(const std::string& bytes);

/// A picture file as 32-bit RGB, read without blocking from a regular file only and only when it
/// is a whole JPEG; scaled to `size` where one is given and the picture has another; null
/// otherwise; with `keep_aspect`, scaled to fit within `size` instead. A large picture is scaled
/// while it is decoded, so it never takes its whole size in memory.
QImage LoadPicture(const std::string& path, QSize size = {}, bool keep_aspect = false);
/// The size of a whole JPEG picture file, from its header; empty where it is not one.
QSize WholePictureSize(const std::string& path);

/// The picture of `name` to take pixels from, at `size`: the unlettered one where there is a
/// whole one, the published one otherwise; null where neither can be read.
QImage LoadPlainPicture(const std::string& folder, const std::string& name, QSize size);

/// The keogram of `pictures` (in time order) of the night of `night`, at the pictures' `size`:
/// each picture's middle column, repeated so that the keogram is at least as wide as a picture,
/// over a band with a tick and the hour ("21", "22" ...) at every whole hour and the night's date.
/// Null without pictures, or where `cancel` is set.
QImage MakeKeogram(const std::string& folder, const std::vector<NightPicture>& pictures, const QDate& night,
                   QSize size, const std::atomic<bool>* cancel = nullptr);

/// Which pictures the star trails leave out, and why: those whose raw background is well above
/// the night's darkest (twilight, moonlight, clouds). A picture is dark when its background is at
/// most the darkest plus the larger of 15 % of the darkest and three times the spread (1.4826 x
/// the median absolute deviation) of the darker half of the night. Pictures without a recorded
/// background are kept. Returns the names left out with their reasons.
std::vector<std::pair<std::string, std::string>> BrightPictures(const std::vector<NightPicture>& pictures);

/// The star trails: the brightest value of each pixel over the pictures not left out. A picture
/// that is washed out (its median grey 160 or more: a stretch that failed, a frame of daylight
/// without a recorded background) is left out too, and added to `left_out`. Where all are left
/// out, the darkest picture alone (`only_darkest` then says so). Pictures of another size than
/// `size` are scaled to it. Null without pictures, or where `cancel` is set.
QImage MakeStarTrails(const std::string& folder, const std::vector<NightPicture>& pictures,
                      std::vector<std::pair<std::string, std::string>>& left_out, bool& only_darkest, QSize size,
                      const std::atomic<bool>* cancel = nullptr);

/// The size of a night's video: the pictures' `size` scaled to fit within `bound` (never up),
/// with even sides for 4:2:0; empty where that leaves less than 2 x 2.
QSize TimelapseSize(QSize size, QSize bound);

/// The raw frame's sky background: the median of every 16th pixel of every 16th row.
double RawBackground(const FrameStore& store);
