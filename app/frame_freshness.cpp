#include "app/frame_freshness.h"

void FrameFreshness::Observe(uint64_t digest, const QDateTime& modified, const QDateTime& now) {
  if (digest_ && *digest_ == digest) return;
  digest_ = digest;
  changed_ = modified.isValid() && modified < now ? modified : now;
}

bool FrameFreshness::Stale(const QDateTime& now, std::chrono::seconds after) const {
  return changed_ && changed_->secsTo(now) >= after.count();
}
