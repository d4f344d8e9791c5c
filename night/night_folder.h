// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a night folder holds and how its names are read. A night runs from local noon to local
// noon by the calendar, whatever the clocks do in between: nights/YYYY-MM-DD is named for the
// evening on which it began. Its pictures are hhmmss.jpg by local time; in the hour that summer
// time's end repeats, the pictures of the second pass are hhmmssb.jpg, and a name already taken
// (a restart within the same second) gets _2, _3 ... so that no picture overwrites another. They
// sort by their real time. Only what has such names counts: a foreign file is never a picture.

#include <cstdint>
#include <string>
#include <vector>

#include <QDate>
#include <QDateTime>

/// A folder the station made holds this file: a dated folder of the user's is never touched.
inline constexpr const char* kNightMarker = ".qor-night";
/// A night whose products are all on the server holds this file.
inline constexpr const char* kPublishedMarker = ".published";
/// A night whose products could not all be published after every try holds this file.
inline constexpr const char* kGivenUpMarker = ".given-up";
/// The night's meteors and other streaks (--events): their list, and the folder of their pictures.
inline constexpr const char* kEventsFile = "events.json";
inline constexpr const char* kEventsFolder = "events";

/// The night a local time belongs to: the date of the evening on which it began.
QDate NightOf(const QDateTime& local);

/// A real night's folder name: YYYY-MM-DD of a valid date.
bool IsNightName(const std::string& name);
/// A real picture's name: a valid time hhmmss, then "b" in a repeated hour and "_N" (2 to 999)
/// where the name was taken, then ".jpg".
bool IsPictureName(const std::string& name);
/// The name of a picture taken at `local`, without ".jpg" and without the "_N" that a taken name
/// adds.
std::string PictureStem(const QDateTime& local);
/// The real time of picture `name` of the night that began on `night`, in seconds since 1970.
int64_t PictureInstant(const QDate& night, const std::string& name);

/// The pictures of a night folder, in the order they were taken.
std::vector<std::string> NightPictures(const std::string& folder);
/// The station's own night folders under `root` (a real directory, named as a night, marked),
/// by their names, oldest first.
std::vector<std::string> NightFolders(const std::string& root);

/// A night whose products were lost to a full disk is reviewed again, up to this many reviews.
inline constexpr int kReviewsShortOfSpace = 3;
/// How many times the night's products were made (0: never, or before they were counted).
int ReviewsOf(const std::string& folder);

/// True when `folder` holds `marker` as a regular file.
bool HasMarker(const std::string& folder, const char* marker);
/// True when the night's products were made from all of the pictures it holds now, and none was
/// lost to a full disk (while reviews are left for it).
bool IsReviewed(const std::string& folder);
/// True when nothing of the night is left to do: reviewed, and published or given up.
bool IsSettled(const std::string& folder);
