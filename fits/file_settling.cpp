// SPDX-License-Identifier: GPL-3.0-or-later
#include "fits/file_settling.h"

#include <algorithm>

namespace {

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

std::chrono::nanoseconds Since(const timespec& then, const timespec& now) {
  return std::chrono::seconds(now.tv_sec - then.tv_sec) + std::chrono::nanoseconds(now.tv_nsec - then.tv_nsec);
}

// The tick of the clock that fine-grained file systems stamp files with.
std::chrono::nanoseconds KernelTick() {
  static const std::chrono::nanoseconds tick = [] {
    timespec resolution {};
    clock_getres(CLOCK_REALTIME_COARSE, &resolution);
    return std::max<std::chrono::nanoseconds>(Since({0, 0}, resolution), std::chrono::milliseconds(1));
  }();
  return tick;
}

// Within this of the read's start, a write may have left the times as they were. Two of the
// kernel's ticks on a fine file system; a coarse one's whole resolution and two ticks more.
std::chrono::nanoseconds Window(const struct stat& info) {
  const std::chrono::nanoseconds resolution = TimestampResolution(info);
  return resolution > KernelTick() ? resolution + 2 * KernelTick() : 2 * KernelTick();
}

}  // namespace

std::chrono::nanoseconds TimestampResolution(const struct stat& info) {
  if (info.st_mtim.tv_nsec == 0 && info.st_ctim.tv_nsec == 0) return std::chrono::seconds(2);
  return KernelTick();
}

bool MaybeWrittenDuringRead(const struct stat& before, const timespec& opened_at, const struct stat& after) {
  if (before.st_ino != after.st_ino || before.st_size != after.st_size ||
      !SameTime(before.st_mtim, after.st_mtim) || !SameTime(before.st_ctim, after.st_ctim))
    return true;
  // A time well in the future (a file server with another clock) says nothing about this read.
  const auto age = Since(after.st_mtim, opened_at);
  return age < Window(after) && age > -Window(after);
}

std::chrono::nanoseconds SettlePause(const struct stat& after, const timespec& now) {
  const std::chrono::nanoseconds floor = std::max<std::chrono::nanoseconds>(2 * KernelTick(), std::chrono::milliseconds(10));
  const std::chrono::nanoseconds until_past = Window(after) - Since(after.st_mtim, now) + std::chrono::milliseconds(10);
  return std::clamp(until_past, floor, Window(after) + std::chrono::milliseconds(10));
}
