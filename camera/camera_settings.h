#pragma once
// What the observer chose for a camera the station drives itself (--camera and its options).

#include <optional>
#include <string>

#include "camera/exposure_control.h"
#include "camera/indi_address.h"

struct CameraSettings {
  std::string text;       // --camera as given; empty: the capture software writes the live file
  IndiAddress address{};  // what the text names
  ExposureSettings exposure{};
  std::optional<double> gain;    // --gain, where the device has one
  std::optional<int> binning;    // --binning N (N x N), where the device has it
  bool enabled() const { return !text.empty(); }
};
