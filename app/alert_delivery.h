// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Delivers the outbox beside the live cycle, on a thread of its own: the picture is never held up
// by a server that stalls. Each item goes to every channel it is still owed to; a failure is said
// once in the log and tried again after the outbox's pause; what waits at a restart is delivered
// then. The newest station state goes to the channels that keep one.

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/alert_channels.h"
#include "app/alert_outbox.h"

class AlertDelivery {
 public:
  AlertDelivery(AlertOutbox outbox, std::vector<std::unique_ptr<AlertChannel>> channels);
  ~AlertDelivery();
  AlertDelivery(const AlertDelivery&) = delete;
  AlertDelivery& operator=(const AlertDelivery&) = delete;

  /// Queues `message` for every channel (events only where they are wanted) and wakes the thread.
  Outcome Queue(const QJsonObject& message, const QByteArray& picture);
  /// The station's state now; an older one not yet sent is dropped.
  void State(std::string json);
  /// Lines for the station's log since the last call.
  std::vector<std::string> TakeNotes();
  /// Ends the thread once its current delivery is over (each is bounded); says "offline" first.
  void Stop();

 private:
  void Run();
  void DeliverDue();
  void Note(std::string line);
  AlertChannel* Channel(const std::string& name);

  AlertOutbox outbox_;
  std::vector<std::unique_ptr<AlertChannel>> channels_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool queued_ = true;  // what waited at the start is looked at at once
  std::optional<std::string> state_;
  std::vector<std::string> notes_;
  std::map<std::string, std::string> state_failures_;  // the delivery thread's own
  std::thread thread_;
};
