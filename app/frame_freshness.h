#pragma once
// When the camera last sent a new frame. A file rewritten with the same data is not a new frame,
// so frames are told apart by a digest of their data, not by the file's time.

#include <chrono>
#include <cstdint>
#include <optional>

#include <QDateTime>

class FrameFreshness {
 public:
  /// An accepted frame: `digest` of its data, `modified` the file's time, `now` the cycle's. A
  /// frame that differs from the last one (or the first seen) arrived at its file time, or now
  /// where the file claims a later time.
  void Observe(uint64_t digest, const QDateTime& modified, const QDateTime& now);
  /// When the last new frame arrived; nothing before the first.
  std::optional<QDateTime> last_change() const { return changed_; }
  /// True when no new frame has arrived for `after` or longer.
  bool Stale(const QDateTime& now, std::chrono::seconds after) const;

 private:
  std::optional<uint64_t> digest_;
  std::optional<QDateTime> changed_;
};
