// SPDX-License-Identifier: GPL-3.0-or-later
#include "camera/indi_camera.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <libindi/baseclient.h>
#include <libindi/basedevice.h>
#include <libindi/indiproperty.h>

#include "base/atomic_file.h"
#include "base/regular_file.h"
#include "camera/fits_blob.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kDeviceWait{10000};   // for the server to say what devices it has
constexpr milliseconds kConnectWait{20000};  // for the device to connect (a USB camera takes a while)
constexpr milliseconds kLongestPause{60000};
constexpr milliseconds kQuiet{300};         // a device that has said nothing for this long has said all
constexpr milliseconds kSettleLimit{3000};  // and one that keeps talking is not waited for longer

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, seconds < 0.01 ? "%.4g" : "%.3g", seconds);
  return text;
}

}  // namespace

bool IndiCameraAvailable() { return true; }

// One connection to the server, as libindi's client: what it has heard of the device, kept under
// the camera's lock and woken on, for the camera's thread to wait on with a bound.
class IndiCamera::Session : public INDI::BaseClient {
 public:
  Session(const std::string& device, std::mutex& mutex, std::condition_variable& changed)
      : device_(device), mutex_(mutex), changed_(changed) {}

  // All of these under the camera's lock.
  bool device_seen = false;
  bool has_connection = false;
  bool connected = false;
  bool can_expose = false;
  bool has_gain = false;
  bool has_binning = false;
  bool has_upload_mode = false;
  bool has_compression = false;
  bool has_frames = false;  // the frame's BLOB is defined, and asked for
  double shortest = 0, longest = 0;  // the device's range of exposures, where it says one
  bool lost = false;
  bool exposing = false;
  bool exposure_failed = false;
  bool frame_arrived = false;
  Clock::time_point last_heard{};  // the device's last property, defined or updated
  std::vector<uint8_t> frame;
  std::string frame_format;
  Clock::time_point frame_time{};

 protected:
  void newDevice(INDI::BaseDevice device) override {
    if (device.getDeviceName() != device_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    device_seen = true;
    changed_.notify_all();
  }
  void newProperty(INDI::Property property) override { Heard(property, false); }
  void updateProperty(INDI::Property property) override { Heard(property, true); }
  void serverDisconnected(int) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lost = true;
    changed_.notify_all();
  }

 private:
  void Heard(INDI::Property property, bool update) {
    if (!property.isValid() || device_ != property.getDeviceName()) return;
    const std::string name = property.getName();
    if (name == "CCD1" && !update) {
      // Asked for here, on libindi's own thread: its list of BLOB choices is read by that thread
      // for every message, and changed by this call, which must not meet it from another thread.
      setBLOBMode(B_ALSO, device_.c_str(), "CCD1");
      std::lock_guard<std::mutex> lock(mutex_);
      has_frames = true;
      last_heard = Clock::now();
      changed_.notify_all();
      return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    device_seen = true;
    last_heard = Clock::now();
    if (name == "CONNECTION") {
      has_connection = true;
      if (INDI::PropertyView<ISwitch>* view = property.getSwitch())
        if (auto* on = view->findWidgetByName("CONNECT")) connected = on->getState() == ISS_ON;
    } else if (name == "CCD_EXPOSURE") {
      can_expose = true;
      if (INDI::PropertyView<INumber>* view = property.getNumber())
        if (auto* value = view->findWidgetByName("CCD_EXPOSURE_VALUE"); value && value->getMax() > value->getMin()) {
          shortest = value->getMin();
          longest = value->getMax();
        }
      if (update && exposing && property.getState() == IPS_ALERT) exposure_failed = true;
    } else if (name == "CCD_GAIN") {
      has_gain = true;
    } else if (name == "CCD_BINNING") {
      has_binning = true;
    } else if (name == "UPLOAD_MODE") {
      has_upload_mode = true;
    } else if (name == "CCD_COMPRESSION") {
      has_compression = true;
    } else if (name == "CCD1" && update && exposing) {
      INDI::PropertyView<IBLOB>* view = property.getBLOB();
      if (!view || view->count() < 1) return;
      auto* element = view->at(0);
      const auto* bytes = static_cast<const uint8_t*>(element->getBlob());
      const int length = element->getBlobLen();
      if (!bytes || length <= 0) return;
      frame.assign(bytes, bytes + length);
      frame_format = element->getFormat() ? element->getFormat() : "";
      // libindi keeps the last frame it decoded (it reallocates the buffer for the next), and
      // Debian's 1.9.9 never frees a device it has dropped: given back now, the frame is held once,
      // and a lost connection leaves behind its properties, not a frame.
      std::free(element->getBlob());
      element->setBlob(nullptr);
      element->setBlobLen(0);
      element->setSize(0);
      frame_time = Clock::now();
      frame_arrived = true;
    } else {
      return;
    }
    changed_.notify_all();
  }

  const std::string device_;
  std::mutex& mutex_;
  std::condition_variable& changed_;
};

IndiCamera::IndiCamera(const CameraSettings& settings, Listener listener)
    : settings_(settings), listener_(std::move(listener)), next_exposure_(settings.exposure.seconds) {}

IndiCamera::~IndiCamera() { End(); }

void IndiCamera::Begin() {
  if (thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = false;
  }
  thread_ = std::thread([this] { Run(); });
}

bool IndiCamera::Expose(const CameraTarget& target) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (busy_ || ending_) return false;
  busy_ = requested_ = true;
  target_ = target;
  wake_.notify_all();
  return true;
}

bool IndiCamera::Away() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return away_;
}

void IndiCamera::End() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
    wake_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  busy_ = requested_ = away_ = false;
}

void IndiCamera::Say(CameraReport::Kind kind, std::string text, double exposure) {
  CameraReport report;
  report.kind = kind;
  report.text = std::move(text);
  report.exposure = exposure;
  report.next_exposure = next_exposure_;
  listener_(report);
}

bool IndiCamera::Gone() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return session_->lost;
}

bool IndiCamera::Rest(milliseconds pause) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, pause, [this] { return ending_; });
}

void IndiCamera::Run() {
  milliseconds pause = first_pause_;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (ending_) break;
    }
    if (!session_) {
      if (!Connect()) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          away_ = true;
        }
        if (!Rest(pause)) break;
        pause = std::min(pause * 2, kLongestPause);
        continue;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      away_ = false;
      pause = first_pause_;
    }
    CameraTarget target;
    bool lost = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return ending_ || requested_ || session_->lost; });
      if (ending_) break;
      lost = session_->lost;
      if (!lost) {
        requested_ = false;
        target = target_;
      }
    }
    if (lost) {
      Say(CameraReport::Kind::kFailure, ServerName() + " went away");
      DropSession();
      continue;
    }
    TakeExposure(target);
    std::lock_guard<std::mutex> lock(mutex_);
    busy_ = false;
  }
  if (session_) DropSession();
}

std::string IndiCamera::ServerName() const { return "the INDI server at " + settings_.address.HostAndPort(); }

void IndiCamera::DropSession() {
  session_->disconnectServer();
  session_.reset();
}

bool IndiCamera::Connect() {
  const std::string& device = settings_.address.device;
  const std::string server = ServerName();
  auto session = std::make_unique<Session>(device, mutex_, wake_);
  session->setServer(settings_.address.host.c_str(), static_cast<unsigned>(settings_.address.port));
  session->setConnectionTimeout(3, 0);
  session->watchDevice(device.c_str());
  if (!session->connectServer()) {
    Say(CameraReport::Kind::kFailure, "cannot reach " + server);
    return false;
  }
  // Waits for what the server says, up to `bound`; false where it went away, the bound passed or
  // the station ends.
  const auto heard = [&](milliseconds bound, const auto& what) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, bound, [&] { return ending_ || session->lost || what(); });
    return !ending_ && !session->lost && what();
  };
  const auto give_up = [&](const std::string& why) {
    bool ending = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ending = ending_;
    }
    if (!ending) Say(CameraReport::Kind::kFailure, why);  // a stop cut the wait short: nothing failed
    session->disconnectServer();
    return false;
  };
  // A device defines its properties one after another, and INDI marks no end to them. libindi's
  // own thread files them in lists that a call from here looks things up in: nothing is asked of
  // the device until it has been quiet a while (bounded), so that the two never meet in a list that
  // grows. Its gain or binning, which may come after its exposure, are also known by then.
  const auto quiet = [&] {
    std::unique_lock<std::mutex> lock(mutex_);
    const Clock::time_point latest = Clock::now() + kSettleLimit;
    while (!ending_ && !session->lost && Clock::now() < latest && Clock::now() - session->last_heard < kQuiet)
      wake_.wait_for(lock, kQuiet / 4);
  };
  if (!heard(kDeviceWait, [&] { return session->device_seen && session->has_connection; }))
    return give_up(session->lost ? server + " went away" : server + " has no device \"" + device + "\"");
  quiet();
  session->connectDevice(device.c_str());
  if (!heard(kConnectWait, [&] { return session->connected && session->can_expose && session->has_frames; }))
    return give_up(session->lost ? server + " went away" : "the device \"" + device + "\" did not connect");
  quiet();

  bool gain = false, binning = false, upload = false, compression = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    gain = session->has_gain;
    binning = session->has_binning;
    upload = session->has_upload_mode;
    compression = session->has_compression;
  }
  // The frame comes to the station, whole and plain.
  if (upload) session->sendNewSwitch(device.c_str(), "UPLOAD_MODE", "UPLOAD_CLIENT");
  if (compression) session->sendNewSwitch(device.c_str(), "CCD_COMPRESSION", "INDI_DISABLED");
  if (settings_.gain) {
    if (gain) session->sendNewNumber(device.c_str(), "CCD_GAIN", "GAIN", *settings_.gain);
    else Say(CameraReport::Kind::kNote, "the device \"" + device + "\" has no gain: --gain is not used");
  }
  if (settings_.binning) {
    if (binning) {
      INDI::PropertyNumber bin = session->getDevice(device.c_str()).getNumber("CCD_BINNING");
      if (bin.isValid()) {
        for (auto& axis : bin) axis.setValue(*settings_.binning);
        session->sendNewNumber(bin);
      }
    } else {
      Say(CameraReport::Kind::kNote, "the device \"" + device + "\" has no binning: --binning is not used");
    }
  }
  session_ = std::move(session);
  Say(CameraReport::Kind::kNote, "connected to \"" + device + "\" at " + settings_.address.HostAndPort());
  return true;
}

void IndiCamera::TakeExposure(const CameraTarget& target) {
  const std::string& device = settings_.address.device;
  std::string range_note;
  double seconds = next_exposure_;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Within the device's own range: one that refuses an exposure would refuse it every time.
    if (session_->longest > session_->shortest) {
      const double asked = seconds;
      seconds = std::clamp(seconds, session_->shortest, session_->longest);
      if (seconds != asked && !range_said_) {
        range_said_ = true;
        range_note = "the device takes exposures from " + Seconds(session_->shortest) + " to " +
                     Seconds(session_->longest) + " s: " + Seconds(asked) + " s is taken as " + Seconds(seconds) + " s";
      }
    }
    session_->exposing = true;
    session_->exposure_failed = session_->frame_arrived = false;
  }
  if (!range_note.empty()) Say(CameraReport::Kind::kNote, range_note);
  if (!Gone()) session_->sendNewNumber(device.c_str(), "CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", seconds);
  const auto bound = std::chrono::duration_cast<milliseconds>(std::chrono::duration<double>(seconds)) + margin_;
  std::vector<uint8_t> frame;
  std::string format;
  Clock::time_point arrived{};
  bool lost = false, failed = false, ending = false;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, bound, [this] {
      return ending_ || session_->lost || session_->frame_arrived || session_->exposure_failed;
    });
    session_->exposing = false;
    lost = session_->lost;
    failed = session_->exposure_failed;
    ending = ending_;
    if (session_->frame_arrived) {
      frame.swap(session_->frame);
      format = session_->frame_format;
      arrived = session_->frame_time;
    }
  }
  if (frame.empty()) {
    if (ending) {
      if (!Gone()) session_->sendNewSwitch(device.c_str(), "CCD_ABORT_EXPOSURE", "ABORT");
    } else if (lost) {
      Say(CameraReport::Kind::kFailure, ServerName() + " went away during the exposure", seconds);
      DropSession();
    } else if (failed) {
      Say(CameraReport::Kind::kFailure, "the device \"" + device + "\" says the exposure of " + Seconds(seconds) + " s failed", seconds);
    } else {
      // A camera that keeps an exposure forever is taken anew: the connection starts again.
      if (!Gone()) session_->sendNewSwitch(device.c_str(), "CCD_ABORT_EXPOSURE", "ABORT");
      Say(CameraReport::Kind::kFailure, "the exposure of " + Seconds(seconds) + " s did not come back within " +
                                            Seconds(std::chrono::duration<double>(bound).count()) + " s", seconds);
      DropSession();
    }
    return;
  }
  if (format.find(".fits") != 0 || format.size() != 5) {
    Say(CameraReport::Kind::kFailure, "the device sent a frame as \"" + format + "\", not as plain FITS", seconds);
    return;
  }
  const FitsBlob blob = CheckFitsBlob(frame.data(), frame.size(), target.side_limit, target.pixel_limit);
  if (!blob.check.ok) {
    Say(CameraReport::Kind::kFailure, "the frame that came back is refused: " + blob.check.reason, seconds);
    return;
  }
  if (const Outcome written = WriteFileAtomically(target.live_path, frame.data(), frame.size(), 0666, Durability::kReplaceOnly);
      !written.ok) {
    Say(CameraReport::Kind::kFailure, "the frame cannot be written to " + target.live_path + ": " + written.reason, seconds);
    return;
  }
  next_exposure_ = NextExposure(seconds, blob.background_level, settings_.exposure);
  CameraReport report;
  report.kind = CameraReport::Kind::kFrame;
  report.exposure = seconds;
  report.background_level = blob.background_level;
  report.next_exposure = next_exposure_;
  report.delivered = arrived;
  if (RegularFile file; file.Open(target.live_path).ok) report.written = file.info();
  report.text = std::to_string(blob.width) + " x " + std::to_string(blob.height) + ", " + Seconds(seconds) + " s";
  listener_(report);
}
