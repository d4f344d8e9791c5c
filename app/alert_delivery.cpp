// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/alert_delivery.h"

#include <chrono>
#include <ctime>
#include <set>

#include <QFile>

namespace {

int64_t WallSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

}  // namespace

AlertDelivery::AlertDelivery(AlertOutbox outbox, std::vector<std::unique_ptr<AlertChannel>> channels)
    : outbox_(std::move(outbox)), channels_(std::move(channels)) {
  thread_ = std::thread([this] { Run(); });
}

AlertDelivery::~AlertDelivery() { Stop(); }

void AlertDelivery::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

Outcome AlertDelivery::Queue(const QJsonObject& message, const QByteArray& picture) {
  const bool event = message[QStringLiteral("kind")].toString() == QStringLiteral("event");
  std::vector<std::string> names;
  for (const auto& channel : channels_)
    if (!event || channel->TakesEvents()) names.push_back(channel->name());
  if (names.empty()) return Outcome::Success();
  const Outcome put = outbox_.Put(message, names, picture, WallSeconds());
  {
    std::lock_guard lock(mutex_);
    queued_ = true;
  }
  wake_.notify_all();
  return put;
}

void AlertDelivery::State(std::string json) {
  {
    std::lock_guard lock(mutex_);
    state_ = std::move(json);
  }
  wake_.notify_all();
}

std::vector<std::string> AlertDelivery::TakeNotes() {
  std::lock_guard lock(mutex_);
  return std::exchange(notes_, {});
}

void AlertDelivery::Note(std::string line) {
  std::lock_guard lock(mutex_);
  notes_.push_back(std::move(line));
}

AlertChannel* AlertDelivery::Channel(const std::string& name) {
  for (const auto& channel : channels_)
    if (channel->name() == name) return channel.get();
  return nullptr;
}

void AlertDelivery::Run() {
  while (true) {
    std::optional<std::string> state;
    {
      std::unique_lock lock(mutex_);
      wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_ || queued_ || state_; });
      if (stop_) break;
      queued_ = false;
      state.swap(state_);
    }
    DeliverDue();
    if (state) {
      for (const auto& channel : channels_) {
        const Outcome published = channel->PublishState(*state);
        // Said once while it fails, not every cycle; said again once it has worked.
        std::string& said = state_failures_[channel->name()];
        if (!published.ok && published.reason != said) Note("State NG:" + published.reason);
        said = published.ok ? std::string() : published.reason;
      }
    }
    for (const auto& channel : channels_) channel->Keep();
  }
  for (const auto& channel : channels_) channel->Close();
}

void AlertDelivery::DeliverDue() {
  std::vector<std::string> notes;
  std::vector<OutboxItem> items = outbox_.Waiting(notes);
  for (std::string& note : notes) Note(std::move(note));
  std::set<std::string> failed_now;  // a channel that failed is not tried again in this pass
  for (OutboxItem& item : items) {
    const int64_t now = WallSeconds();
    if (now - item.queued >= kGiveUpAfterSeconds) {
      const Outcome moved = outbox_.GiveUp(item);
      Note("Alert NG:" + item.id + " not delivered in a day; given up" +
           (moved.ok ? ", kept in alerts/undelivered" : ": " + moved.reason));
      continue;
    }
    if (item.next_try > now) continue;
    QByteArray picture;
    if (!item.picture.empty()) {
      QFile file(QString::fromStdString(outbox_.folder() + "/" + item.picture));
      if (file.open(QIODevice::ReadOnly)) picture = file.read(8 << 20);
    }
    bool failed = false;
    std::vector<std::string> still_owed;
    for (const std::string& name : item.owed) {
      AlertChannel* channel = Channel(name);
      if (!channel) {
        Note("Alert NG:" + item.id + ": " + name + " is no longer a channel; not sent there");
        continue;
      }
      if (failed_now.count(name)) {
        still_owed.push_back(name);
        continue;
      }
      const Outcome delivered = channel->Deliver(item.message, picture);
      if (delivered.ok) continue;
      failed = true;
      failed_now.insert(name);
      still_owed.push_back(name);
      Note("Alert NG:" + delivered.reason + "; tried again in " + std::to_string(AlertOutbox::PauseAfter(item.tries + 1)) + " s");
    }
    item.owed = still_owed;
    const Outcome settled = outbox_.Settle(item, failed, WallSeconds());
    if (!settled.ok) Note("Alert NG:" + settled.reason);
    if (item.owed.empty() && item.message[QStringLiteral("kind")].toString() != QStringLiteral("event"))
      Note("Alert OK:" + item.message[QStringLiteral("text")].toString().toStdString());
  }
}
