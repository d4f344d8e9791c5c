#pragma once
// When the camera last sent a new frame. A file rewritten with the same data is not a new frame,
// so frames are told apart by a digest of their data, not by the file's time. How long ago that
// was is measured on the monotonic clock: a wall clock set back (by hand, by NTP after a bad
// start) must not hide an old frame for as long as it was set back.

#include <chrono>
#include <cstdint>
#include <optional>

#include <QDateTime>

class FrameFreshness {
 public:
  using Monotonic = std::chrono::steady_clock::time_point;

  /// An accepted frame: `digest` of its data, `modified` the file's time, `now` and `monotonic`
  /// the cycle's. A frame that differs from the last one (or the first seen) arrived at its file
  /// time, or now where the file claims a later time.
  void Observe(uint64_t digest, const QDateTime& modified, const QDateTime& now, Monotonic monotonic);
  /// When the last new frame arrived, by the wall clock (for people); nothing before the first.
  std::optional<QDateTime> last_change() const { return changed_; }
  /// True when no new frame has arrived for `after` or longer, by the monotonic clock.
  bool Stale(Monotonic monotonic, std::chrono::seconds after) const;

 private:
  std::optional<uint64_t> digest_;
  std::optional<QDateTime> changed_;
  Monotonic changed_monotonic_{};
};
