// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Alerts and events waiting to be delivered: one file each in alerts/outbox/, written whole or not
// at all, with the picture it carries beside it. An item says which channels it is still owed to;
// a failed delivery is tried again after a pause that doubles (30 s to an hour), and given up a
// day after it was queued (moved to alerts/undelivered/, nothing deleted). A restart finds what
// was waiting.

#include <cstdint>
#include <string>
#include <vector>

#include <QByteArray>
#include <QJsonObject>

#include "base/outcome.h"

struct OutboxItem {
  std::string id;                 // its file name without ".json"
  QJsonObject message;            // what is sent
  std::vector<std::string> owed;  // the channels (their --notify texts) not yet reached
  int tries = 0;                  // failed deliveries so far
  int64_t queued = 0;             // seconds since the epoch
  int64_t next_try = 0;
  std::string picture;            // the picture file beside it, or empty
};

inline constexpr int64_t kGiveUpAfterSeconds = 24 * 3600;

class AlertOutbox {
 public:
  explicit AlertOutbox(std::string folder = "alerts/outbox", std::string undelivered = "alerts/undelivered");

  /// Queues `message` for `channels`, with `picture` (JPEG bytes) where it has one.
  Outcome Put(const QJsonObject& message, const std::vector<std::string>& channels, const QByteArray& picture,
              int64_t now);
  /// Everything waiting, oldest first. A file that cannot be read as an item is renamed
  /// ".damaged" and said in `notes`.
  std::vector<OutboxItem> Waiting(std::vector<std::string>& notes) const;
  /// Writes the item back after a delivery: removed once nothing is owed.
  Outcome Settle(OutboxItem& item, bool failed, int64_t now);
  /// Moves the item to the undelivered folder.
  Outcome GiveUp(const OutboxItem& item);

  /// The pause before the next try after `tries` failed ones.
  static int64_t PauseAfter(int tries);
  const std::string& folder() const { return folder_; }

 private:
  std::string Path(const std::string& id, const char* extension) const;
  std::string folder_, undelivered_;
  uint32_t sequence_ = 0;
};
