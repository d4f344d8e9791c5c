#pragma once
// Date and time texts of the station: the lettered stamp and the archive file name.

#include <filesystem>
#include <string>

#include <QDateTime>
#include <QString>

/// "MM-DD-YYYY hh:mm:ss" on the 24-hour clock, e.g. "02-14-2007 21:05:09".
QString DateTimeStamp(const QDateTime& when);

/// ISO 8601 local time with its offset from UTC, e.g. "2026-12-07T21:05:09+01:00".
QString IsoLocalTime(const QDateTime& when);

/// "MMDDYYYY_hhmmss.fts", e.g. "02142007_210509.fts".
QString ArchiveFileName(const QDateTime& when);

/// The directory part of a live file path: everything up to and including its last `separator`,
/// or empty when there is none.
QString ArchiveDirectory(const QString& live_file_text, QChar separator);
/// The same on the path's bytes, whatever their encoding.
std::string ArchiveDirectoryBytes(const std::string& live_file_bytes, char separator);

/// The separator of this platform's paths: archives go beside the live file up to its last one.
inline constexpr char16_t kPathSeparator = std::filesystem::path::preferred_separator;
