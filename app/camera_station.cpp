// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/camera_station.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", seconds);
  return text;
}

}  // namespace

void CameraStation::Configure(const CameraSettings& settings, std::chrono::seconds interval) {
  End();
  settings_ = settings;
  if (!settings_.enabled()) return;
  // Auto exposure stays within the interval, with a tenth of it left for the download.
  const double room = 0.9 * static_cast<double>(interval.count());
  if (settings_.exposure.automatic && settings_.exposure.longest > room) {
    host_.note("Camera: the longest exposure is " + Seconds(room) + " s, nine tenths of the interval");
    settings_.exposure.longest = room;
    settings_.exposure.seconds = std::min(settings_.exposure.seconds, room);
  }
}

void CameraStation::Begin() {
  if (!enabled() || camera_) return;
  const int generation = ++generation_;
  camera_ = std::make_unique<IndiCamera>(settings_, [this, generation](const CameraReport& report) {
    // From the camera's thread: handled on the station's, unless the camera was stopped meanwhile
    // (a frame that comes after Stop is published by nobody).
    QMetaObject::invokeMethod(
        &context_, [this, generation, report] { if (camera_ && generation == generation_) Heard(report); },
        Qt::QueuedConnection);
  });
  camera_->set_margin(margin_);
  camera_->set_first_pause(first_pause_);
  camera_->Begin();
  camera_->Expose(host_.target());
}

void CameraStation::End() {
  if (!camera_) return;
  camera_->End();
  camera_.reset();
}

void CameraStation::Tick() {
  if (!camera_) return;
  if (camera_->Away()) {
    // The cycle runs on the frame there is; the exposure waits for the server's return.
    camera_->Expose(host_.target());
    host_.run_cycle();
    return;
  }
  if (camera_->Expose(host_.target())) {
    skipped_said_ = false;
  } else if (!skipped_said_) {
    skipped_said_ = true;
    host_.note("Camera: the last exposure has not come back yet; no other is asked for meanwhile");
  }
}

void CameraStation::Heard(const CameraReport& report) {
  switch (report.kind) {
    case CameraReport::Kind::kNote:
      host_.note("Camera: " + report.text);
      break;
    case CameraReport::Kind::kFailure:
      host_.status("Camera NG:" + report.text);
      // A failed exposure still makes a cycle: the picture then says how old its frame is.
      if (report.exposure > 0) host_.run_cycle();
      break;
    case CameraReport::Kind::kFrame: {
      std::string note = "Camera OK " + report.text;
      if (settings_.exposure.automatic)
        note += " (background " + Seconds(report.background_level) + ", next " + Seconds(report.next_exposure) + " s)";
      host_.note(note);
      if (report.written) host_.written(*report.written);
      host_.run_cycle();
      break;
    }
  }
}
