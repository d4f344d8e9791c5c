// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the station knows of a file it reads in place: its size, its times and which file it is,
// as the system keeps them (a POSIX stat, or what a Windows handle tells of its file).

#include <cstdint>

/// An instant as a file system keeps it: seconds since 1970 and the nanoseconds after them.
struct FileTime {
  int64_t seconds = 0;
  int64_t nanoseconds = 0;
  bool operator==(const FileTime&) const = default;
};

/// The wall clock now, in the same terms.
FileTime FileClockNow();
/// The tick of the clock that file systems with fine times stamp files with (at least 1 ms).
int64_t FileClockTickNanoseconds();

struct FileState {
  uint64_t size = 0;
  FileTime modified;  // the last write of its data
  FileTime changed;   // the last change of its data or of what is kept about it
  uint64_t volume = 0;  // which file: its device and inode, or its volume and file index
  uint64_t id = 0;
  uint64_t id_high = 0;  // the upper half of a 128-bit file id (ReFS); 0 elsewhere
  /// The same file, by its volume and its id.
  bool SameFileAs(const FileState& other) const {
    return volume == other.volume && id == other.id && id_high == other.id_high;
  }
};
