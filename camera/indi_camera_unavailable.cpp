// SPDX-License-Identifier: GPL-3.0-or-later
// A build without INDI (Windows): --camera is refused at start with IndiCameraAvailable(), so
// none of this is reached; it is here so that the station links the same everywhere.
#include "camera/indi_camera.h"

class IndiCamera::Session {};

bool IndiCameraAvailable() { return false; }

IndiCamera::IndiCamera(const CameraSettings& settings, Listener listener)
    : settings_(settings), listener_(std::move(listener)) {}
IndiCamera::~IndiCamera() = default;
void IndiCamera::Begin() {}
bool IndiCamera::Expose(const CameraTarget&) {
  Say(CameraReport::Kind::kFailure, "this build has no INDI client");
  return false;
}
bool IndiCamera::Away() const { return true; }
void IndiCamera::End() {}
void IndiCamera::Say(CameraReport::Kind kind, std::string text, double exposure) {
  CameraReport report;
  report.kind = kind;
  report.text = std::move(text);
  report.exposure = exposure;
  listener_(report);
}
