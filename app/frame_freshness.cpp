#include "app/frame_freshness.h"

void FrameFreshness::Observe(uint64_t digest, const QDateTime& modified, const QDateTime& now, Monotonic monotonic) {
  if (digest_ && *digest_ == digest) return;
  digest_ = digest;
  changed_ = modified.isValid() && modified < now ? modified : now;
  changed_monotonic_ = monotonic - std::chrono::milliseconds(changed_->msecsTo(now));
}

bool FrameFreshness::Stale(Monotonic monotonic, std::chrono::seconds after) const {
  return changed_ && monotonic - changed_monotonic_ >= after;
}
