// SPDX-License-Identifier: GPL-3.0-or-later
#include "fits/file_settling.h"

#include <algorithm>

namespace {

std::chrono::nanoseconds Since(const FileTime& then, const FileTime& now) {
  return std::chrono::seconds(now.seconds - then.seconds) + std::chrono::nanoseconds(now.nanoseconds - then.nanoseconds);
}

// The tick of the clock that fine-grained file systems stamp files with.
std::chrono::nanoseconds KernelTick() {
  static const std::chrono::nanoseconds tick(FileClockTickNanoseconds());
  return tick;
}

// Within this of the read's start, a write may have left the times as they were. Two of the
// kernel's ticks on a fine file system; a coarse one's whole resolution and two ticks more.
std::chrono::nanoseconds Window(const FileState& info) {
  const std::chrono::nanoseconds resolution = TimestampResolution(info);
  return resolution > KernelTick() ? resolution + 2 * KernelTick() : 2 * KernelTick();
}

}  // namespace

std::chrono::nanoseconds TimestampResolution(const FileState& info) {
  if (info.modified.nanoseconds == 0 && info.changed.nanoseconds == 0) return std::chrono::seconds(2);
  return KernelTick();
}

bool MaybeWrittenDuringRead(const FileState& before, const FileTime& opened_at, const FileState& after) {
  if (!before.SameFileAs(after) || before.size != after.size ||
      before.modified != after.modified || before.changed != after.changed)
    return true;
  // A time well in the future (a file server with another clock) says nothing about this read.
  const auto age = Since(after.modified, opened_at);
  return age < Window(after) && age > -Window(after);
}

std::chrono::nanoseconds SettlePause(const FileState& after, const FileTime& now) {
  const std::chrono::nanoseconds floor = std::max<std::chrono::nanoseconds>(2 * KernelTick(), std::chrono::milliseconds(10));
  const std::chrono::nanoseconds until_past = Window(after) - Since(after.modified, now) + std::chrono::milliseconds(10);
  return std::clamp(until_past, floor, Window(after) + std::chrono::milliseconds(10));
}
