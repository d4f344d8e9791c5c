// The station's own camera: its address, the frames it may take as the live file, the exposure
// it chooses, and the INDI client against Debian's indiserver with its CCD simulator and against
// a server of the tests' own that sends what no camera should.

#include <condition_variable>
#include <csignal>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "camera/exposure_control.h"
#include "camera/fits_blob.h"
#include "camera/indi_address.h"
#include "camera/indi_camera.h"
#include "tests/support/files.h"
#include "tests/support/fits_builder.h"
#include "tests/support/indi_simulator.h"
#include "tests/support/server_process.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using Kind = CameraReport::Kind;

TEST(CameraParts, AddressesFramesAndTheExposureTheyLeadTo) {
  std::string why;
  std::optional<IndiAddress> address = ParseIndiAddress("indi://127.0.0.1:7625/CCD%20Simulator", why);
  ASSERT_TRUE(address) << why;
  EXPECT_EQ(address->host, "127.0.0.1");
  EXPECT_EQ(address->port, 7625);
  EXPECT_EQ(address->device, "CCD Simulator");
  address = ParseIndiAddress("indi://pi.local/ZWO CCD ASI120MM", why);
  ASSERT_TRUE(address) << why;
  EXPECT_EQ(address->port, 7624);
  EXPECT_EQ(address->device, "ZWO CCD ASI120MM");
  for (const char* bad : {"indi://host:0/CCD", "indi://host:/CCD", "indi://host/", "indi://host/CCD%2", "indi://host/a%0Ab",
                          "http://host/CCD", "indi:///CCD"})
    EXPECT_FALSE(ParseIndiAddress(bad, why)) << bad;

  std::vector<int64_t> sky(64 * 48, 16384);  // a quarter of full scale, BZERO 32768
  const std::vector<uint8_t> frame = FitsBuilder::Frame(16, 64, 48, {ValueCard("BZERO", "32768")}).Samples(sky, 2).Bytes();
  const FitsBlob good = CheckFitsBlob(frame.data(), frame.size(), 1537, 1537 * 1537);
  ASSERT_TRUE(good.check.ok) << good.check.reason;
  EXPECT_NEAR(good.background_level, (16384 + 32768) / 65535.0, 1e-4);
  EXPECT_FALSE(CheckFitsBlob(frame.data(), frame.size() - 3000, 1537, 1537 * 1537).check.ok) << "truncated";
  EXPECT_FALSE(CheckFitsBlob(frame.data(), frame.size(), 60, 1537 * 1537).check.ok) << "beyond the side limit";
  const std::string page = "<html>" + std::string(4000, ' ');
  EXPECT_FALSE(CheckFitsBlob(reinterpret_cast<const uint8_t*>(page.data()), page.size(), 1537, 1537 * 1537).check.ok);

  ExposureSettings automatic;
  automatic.automatic = true;
  automatic.longest = 30;
  EXPECT_DOUBLE_EQ(NextExposure(1, 0.5, automatic), 0.5);         // twice the target: half as long
  EXPECT_DOUBLE_EQ(NextExposure(1, 1.0, automatic), 1 / 16.0);    // saturated: only the way is known
  EXPECT_DOUBLE_EQ(NextExposure(10, 0.0, automatic), 30);         // black: up, within the bound
  EXPECT_DOUBLE_EQ(NextExposure(2, 0.26, automatic), 2);          // near enough: it holds
  EXPECT_DOUBLE_EQ(NextExposure(2, 0.01, ExposureSettings{}), 1);  // a fixed exposure stays
}

// The camera's reports, waited for one at a time.
class Reports {
 public:
  IndiCamera::Listener Listener() {
    return [this](const CameraReport& report) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (report.kind != Kind::kNote) reports_.push_back(report);
      arrived_.notify_all();
    };
  }
  // The next frame or failure, within `seconds`.
  std::optional<CameraReport> Next(double seconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!arrived_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return !reports_.empty(); }))
      return std::nullopt;
    CameraReport report = reports_.front();
    reports_.pop_front();
    return report;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<CameraReport> reports_;
};

CameraSettings CameraAt(int port, const std::string& device) {
  CameraSettings settings;
  std::string why;
  settings.text = "indi://127.0.0.1:" + std::to_string(port) + "/" + device;
  settings.address = *ParseIndiAddress(settings.text, why);
  return settings;
}

TEST(IndiCameraTest, WhatNoCameraShouldSendNeverBecomesTheLiveFileAndALostExposureReconnects) {
  TempDir dir;
  const int port = FreePort();
  ChildProcess server({kPython, std::string(QOR_TEST_SCRIPTS) + "/fake_indi_server.py", std::to_string(port),
                       "notfits,truncated,huge,never,good"});
  ASSERT_TRUE(WaitForListener(port, 20));
  const std::string live = dir.File("live.fts");
  WriteBytes(live, {'o', 'l', 'd'});
  Reports reports;
  IndiCamera camera(CameraAt(port, "Fake%20CCD"), reports.Listener());
  camera.set_margin(milliseconds(1500));
  camera.set_first_pause(milliseconds(200));
  camera.Begin();
  CameraTarget target;
  target.live_path = live;
  const auto expose = [&] {
    bool taken = camera.Expose(target);
    for (int i = 0; i < 250 && !taken; ++i) {  // the last one's report comes just before it ends
      std::this_thread::sleep_for(milliseconds(20));
      taken = camera.Expose(target);
    }
    ASSERT_TRUE(taken);
    EXPECT_FALSE(camera.Expose(target)) << "a second exposure never stacks on the first";
  };
  for (const char* expected : {"not a FITS file", "truncated", "beyond the station's limit", "did not come back"}) {
    expose();
    const std::optional<CameraReport> report = reports.Next(20);
    ASSERT_TRUE(report) << expected;
    EXPECT_EQ(report->kind, Kind::kFailure) << report->text;
    EXPECT_NE(report->text.find(expected), std::string::npos) << report->text;
    EXPECT_EQ(ReadBytes(live), (std::vector<uint8_t>{'o', 'l', 'd'})) << "the live file is left as it was";
  }
  expose();
  // The exposure asked for last comes after the reconnection, whole.
  const std::optional<CameraReport> frame = reports.Next(20);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->kind, Kind::kFrame) << frame->text;
  EXPECT_EQ(ReadBytes(live).size(), 2880u * 4);
  camera.End();
  int files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1) << "no temporary file is left beside the live file";
}

TEST(IndiCameraTest, TheSimulatorsFramesFindTheirExposureAndOutliveARestartedServer) {
  // libindi writes to a server that has gone without asking the system to spare the process: the
  // station ignores broken pipes from its start, and so does this test.
  std::signal(SIGPIPE, SIG_IGN);
  TempDir dir;
  IndiSimulator server;
  Reports reports;
  CameraSettings settings = CameraAt(server.port(), "CCD%20Simulator");
  settings.exposure.automatic = true;
  settings.exposure.seconds = 1;  // far too long for this sky
  settings.exposure.longest = 2;
  IndiCamera camera(settings, reports.Listener());
  camera.set_margin(milliseconds(10000));
  camera.set_first_pause(milliseconds(300));
  camera.Begin();
  CameraTarget target;
  target.live_path = dir.File("live.fts");
  // Auto exposure comes down from the saturated first frame to the background asked for.
  std::vector<double> levels, exposures;
  for (int frame = 0; frame < 6 && (levels.empty() || std::abs(levels.back() - 0.25) > 0.05); ++frame) {
    while (!camera.Expose(target)) std::this_thread::sleep_for(milliseconds(20));
    const std::optional<CameraReport> report = reports.Next(30);
    ASSERT_TRUE(report);
    ASSERT_EQ(report->kind, Kind::kFrame) << report->text;
    levels.push_back(report->background_level);
    exposures.push_back(report->exposure);
  }
  ASSERT_GE(levels.size(), 2u);
  EXPECT_GT(levels.front(), 0.9) << "the first frame is saturated";
  EXPECT_NEAR(levels.back(), 0.25, 0.05) << "within " << levels.size() << " frames";
  EXPECT_LT(exposures.back(), 0.5);
  ASSERT_TRUE(fs::exists(target.live_path));

  // The server killed: said, then the camera comes back by itself once it is there again.
  server.Kill();
  const std::optional<CameraReport> lost = reports.Next(30);
  ASSERT_TRUE(lost);
  EXPECT_EQ(lost->kind, Kind::kFailure);
  server.Start();
  std::optional<CameraReport> back;
  for (int i = 0; i < 20 && !(back && back->kind == Kind::kFrame); ++i) {
    camera.Expose(target);  // waits while the server is away; taken once it is back
    back = reports.Next(30);
    ASSERT_TRUE(back);
  }
  EXPECT_EQ(back->kind, Kind::kFrame) << back->text;
  camera.End();
}

}  // namespace
