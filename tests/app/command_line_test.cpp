// The qor_live program as an observer's service manager runs it: headless, with --start, with a
// chosen interval, and stopped by SIGTERM.

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/fits_builder.h"
#include "tests/support/indi_simulator.h"
#include "tests/support/star_field.h"
#include "tests/support/server_process.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

class StationProgramTest : public ::testing::Test {
 protected:
  StationProgramTest() {
    fs::create_directories(dir_.File("root/homepage"));
    fs::create_directories(dir_.File("camera"));
    WriteFrame(16);
  }
  void WriteFrame(int bitpix) {
    std::vector<int64_t> sky(64 * 48);
    for (size_t i = 0; i < sky.size(); ++i) sky[i] = 1000 + static_cast<int64_t>((i * 7919) % 200);
    FitsBuilder::Frame(bitpix, 64, 48).Samples(sky, 2).Write(dir_.File("camera/live.fts"));
  }
  std::string WriteSettings(const PyFtpServer& server) {
    const std::string text = "camera/live.fts\r\nKiso\r\n" + server.address() + "\r\nobserver\r\nsecret\r\n10\r\n1.5\r\n";
    WriteBytes(dir_.File("qor_live.ini"), {text.begin(), text.end()});
    return text;
  }
  // Runs qor_live in the test's directory with no display at all.
  ChildProcess Launch(const std::string& arguments, const char* platform = "") {
    const std::string command = std::string("unset DISPLAY WAYLAND_DISPLAY; ") + platform + "cd " +
                                ShellQuote(dir_.path().string()) + " && exec " + QOR_LIVE + " " + arguments;
    return ChildProcess({"/bin/sh", "-c", command}, dir_.File("output.txt"));
  }
  std::string Output() const {
    if (!fs::exists(dir_.File("output.txt"))) return {};
    const std::vector<uint8_t> bytes = ReadBytes(dir_.File("output.txt"));
    return {bytes.begin(), bytes.end()};
  }
  int Count(const std::string& text) const {
    const std::string output = Output();
    int count = 0;
    for (size_t at = 0; (at = output.find(text, at)) != std::string::npos; at += text.size()) ++count;
    return count;
  }
  // Waits until `done` holds, 20 s at most.
  static bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return done();
  }

  TempDir dir_;
};

TEST_F(StationProgramTest, HeadlessRunPublishesLogsToStandardOutputAndStopsCleanlyOnSigterm) {
  PyFtpServer server(dir_.File("root"), {false, false, "", "", {"--slow-store", "0.5"}});
  const std::string settings = WriteSettings(server);
  ChildProcess station = Launch("--headless --interval 1 --stale-after 2");
  ASSERT_TRUE(WaitFor([&] { return Count("Put bin OK") >= 1; })) << Output();
  {  // a second station in the same folder (a service and an autostart) refuses to start
    ChildProcess second({"/bin/sh", "-c", "cd " + ShellQuote(dir_.path().string()) + " && exec " + QOR_LIVE + " --headless"},
                        dir_.File("second.txt"));
    EXPECT_EQ(second.WaitForExit(20), 2);
    const std::vector<uint8_t> said = ReadBytes(dir_.File("second.txt"));
    EXPECT_NE(std::string(said.begin(), said.end()).find("another station runs in this folder"), std::string::npos);
  }
  WriteFrame(64);  // a header error in the middle of the night
  ASSERT_TRUE(WaitFor([&] { return Count("BITPIX error") >= 1; })) << Output();
  WriteFrame(16);
  ASSERT_TRUE(WaitFor([&] { return Count("Put bin OK") >= 3; })) << Output();
  // SIGTERM while a cycle uploads: that upload finishes, then Stop.
  ASSERT_TRUE(WaitFor([&] { return Output().size() > 17 && Output().rfind("FTP Live picture\n") == Output().size() - 17; }));
  station.Signal(SIGTERM);
  EXPECT_EQ(station.WaitForExit(20), 0) << Output();

  const std::string output = Output();
  const size_t last_upload = output.rfind("FTP Live picture");
  EXPECT_NE(output.find("Put bin OK", last_upload), std::string::npos) << output;
  EXPECT_NE(output.find("Live stop", last_upload), std::string::npos) << output;
  EXPECT_NE(output.find("FTP close OK", last_upload), std::string::npos) << output;
  EXPECT_GE(server.Count("STORED .live2.jpg.part"), 4);
  EXPECT_EQ(server.Count("CMD QUIT"), 1);
  const std::regex stamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d .+)");
  std::istringstream lines(output);
  int status_lines = 0;
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    ++status_lines;
  }
  EXPECT_GT(status_lines, 12);
  // The same frame rewritten is no new frame: the page has been told it is stale.
  const std::vector<uint8_t> report = ReadBytes(dir_.File("root/homepage/live2.json"));
  EXPECT_NE(std::string(report.begin(), report.end()).find("\"stale\":true"), std::string::npos);
  // The log holds what standard output showed, line for line.
  const std::vector<uint8_t> log = ReadBytes(dir_.File("qor_live.log"));
  std::string printed;
  std::istringstream again(output);
  for (std::string line; std::getline(again, line);) printed += line + "\n";
  EXPECT_EQ(std::string(log.begin(), log.end()), printed);
  const std::vector<uint8_t> after = ReadBytes(dir_.File("qor_live.ini"));
  EXPECT_EQ(std::string(after.begin(), after.end()), settings) << "a headless run never writes the settings";
}

TEST_F(StationProgramTest, StartOptionRunsTheFirstCycleWithoutAClickAndBadOptionsAreRefused) {
  PyFtpServer server(dir_.File("root"));
  WriteSettings(server);
  ChildProcess station = Launch("--start --interval 1", "export QT_QPA_PLATFORM=offscreen; ");
  ASSERT_TRUE(WaitFor([&] { return server.Count("STORED .live2.jpg.part") >= 2; })) << Output() << server.log();
  station.Signal(SIGTERM);
  EXPECT_EQ(station.WaitForExit(20), 0) << Output();
  EXPECT_EQ(server.Count("CMD QUIT"), 1);

  for (const char* bad : {"--interval 0", "--interval 1.5", "--interval", "--bogus", "--start=yes", "--help=x"}) {
    ChildProcess refused = Launch(bad);
    EXPECT_EQ(refused.WaitForExit(10), 2) << bad;
    EXPECT_NE(Output().find("usage: qor_live"), std::string::npos) << bad;
  }
  ChildProcess version = Launch("--version");
  EXPECT_EQ(version.WaitForExit(10), 0);
  EXPECT_EQ(Output().rfind("qor_live ", 0), 0u) << Output();
}

// The first run in a German locale, stopped by SIGHUP as a closing terminal does: the settings
// file is still made (a missing one is known by its error code, not by English words), and the
// station ends as it does for SIGTERM.
TEST_F(StationProgramTest, FirstRunInAGermanLocaleSavesItsSettingsAndSighupStopsCleanly) {
  ChildProcess station = Launch("", "export QT_QPA_PLATFORM=offscreen LANGUAGE=de LANG=C.UTF-8; ");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the window has loaded
  station.Signal(SIGHUP);
  EXPECT_EQ(station.WaitForExit(20), 0) << Output();
  EXPECT_TRUE(fs::exists(dir_.File("qor_live.ini"))) << Output();
}

// A reader of standard output that goes away (a pipe into head, a log reader that quits) must
// not end the headless station: it goes on publishing and stops cleanly when asked.
TEST_F(StationProgramTest, HeadlessStationOutlivesTheReaderOfItsOutput) {
  PyFtpServer server(dir_.File("root"));
  WriteSettings(server);
  ChildProcess pipeline({"/bin/bash", "-c",
                         "set -o pipefail; cd " + ShellQuote(dir_.path().string()) + " && " + QOR_LIVE +
                             " --headless --interval 1 | head -n 2"},
                        dir_.File("output.txt"));
  ASSERT_TRUE(WaitFor([&] { return server.Count("STORED .live2.jpg.part") >= 4; })) << Output();
  pipeline.SignalDescendants(SIGTERM);
  EXPECT_EQ(pipeline.WaitForExit(20), 0) << Output();
}

// qor_live.conf holds the options; the command line wins over it; a line it cannot take stops
// the station before anything starts, naming the file, the line's number and the line.
TEST_F(StationProgramTest, OptionsFileIsReadTheCommandLineWinsAndABadLineStopsTheStart) {
  PyFtpServer server(dir_.File("root"));
  WriteSettings(server);
  const auto conf = [&](const std::string& text) { WriteBytes(dir_.File("qor_live.conf"), {text.begin(), text.end()}); };
  conf("# the station of the dome\r\n  headless = yes\ninterval=3600\npicture = fit\noverlay = {NAXIS1} px\n");
  ChildProcess station = Launch("--interval 1");
  ASSERT_TRUE(WaitFor([&] { return server.Count("STORED .live2.jpg.part") >= 2; })) << Output();
  station.Signal(SIGTERM);
  EXPECT_EQ(station.WaitForExit(20), 0) << Output();

  // A line that needs another (the meteor alert needs the events) is not refused for standing first.
  conf("alert = meteor\nevents = all\ninterval = 1\ncolour = maybe\n");
  ChildProcess refused = Launch("--headless");
  EXPECT_EQ(refused.WaitForExit(10), 2);
  EXPECT_NE(Output().find("qor_live.conf:4: colour = maybe: colour takes yes or no"), std::string::npos) << Output();
}

TEST_F(StationProgramTest, ItsOwnCameraTakesEachFrameThatIsThenPublishedAndAnExposureMustFitTheInterval) {
  PyFtpServer server(dir_.File("root"));
  WriteSettings(server);
  fs::remove(dir_.File("camera/live.fts"));  // a fresh station: the camera makes the first frame
  IndiSimulator indi;
  // The device's name with its plain space, as an observer writes it in the file.
  const std::string conf =
      "camera = indi://127.0.0.1:" + std::to_string(indi.port()) + "/CCD Simulator\nexposure = 0.05\nbinning = 2\n";
  WriteBytes(dir_.File("qor_live.conf"), {conf.begin(), conf.end()});
  ChildProcess station = Launch("--headless --interval 2");
  ASSERT_TRUE(WaitFor([&] { return Count("Camera OK 640 x 512, 0.05 s") >= 2 && Count("Put bin OK") >= 2; })) << Output();
  station.Signal(SIGTERM);
  EXPECT_EQ(station.WaitForExit(20), 0) << Output();
  const std::vector<uint8_t> frame = ReadBytes(dir_.File("camera/live.fts"));
  EXPECT_NE(std::string(frame.begin(), frame.end()).find("INSTRUME= 'CCD Simulator'"), std::string::npos);
  EXPECT_EQ(ReadBytes(dir_.File("root/homepage/live2.jpg")), ReadBytes(dir_.File("live2.jpg")));

  ChildProcess refused = Launch("--headless --interval 2 --exposure 2");
  EXPECT_EQ(refused.WaitForExit(10), 2);
  EXPECT_NE(Output().find("--exposure 2 is not shorter than the interval (2 s)"), std::string::npos) << Output();
}

}  // namespace

namespace {

// The station's state stands on the broker while it runs; a frame that stops changing starts the
// stale alert; a station that vanishes (killed, no goodbye) is marked offline by its last will.
TEST_F(StationProgramTest, TheBrokerHasTheStateTheStaleAlertAndTheWillOfAStationThatVanished) {
  PyFtpServer server(dir_.File("root"));
  WriteSettings(server);
  const int port = FreePort();
  ASSERT_EQ(RunCommand("mosquitto_passwd -b -c " + ShellQuote(dir_.File("passwords")) + " observer s3cret"), 0);
  std::ofstream(dir_.File("mosquitto.conf")) << "allow_anonymous false\npassword_file " << dir_.File("passwords")
                                            << "\nlistener " << port << " 127.0.0.1\npersistence false\nuser root\n";
  ChildProcess broker({"/usr/sbin/mosquitto", "-c", dir_.File("mosquitto.conf")});
  ASSERT_TRUE(WaitForListener(port, 20));
  ChildProcess subscriber({"/usr/bin/mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(port), "-u", "observer", "-P",
                           "s3cret", "-t", "kiso/#", "-v"}, dir_.File("received.txt"));
  const auto received = [&] {
    if (!fs::exists(dir_.File("received.txt"))) return std::string();
    const std::vector<uint8_t> bytes = ReadBytes(dir_.File("received.txt"));
    return std::string(bytes.begin(), bytes.end());
  };
  ChildProcess station = Launch("--headless --interval 1 --stale-after 2 --alert stale --notify-user observer "
                                "--notify-password s3cret --notify mqtt://127.0.0.1:" + std::to_string(port) + "/kiso");
  EXPECT_TRUE(WaitFor([&] { return received().find("kiso/state {\"online\":true,") != std::string::npos; })) << Output();
  EXPECT_TRUE(WaitFor([&] { return received().find("\"rule\":\"stale\",\"state\":\"start\"") != std::string::npos; }))
      << received() << Output();
  station.Signal(SIGKILL);
  EXPECT_TRUE(WaitFor([&] { return received().find("kiso/state {\"online\":false}") != std::string::npos; })) << received();
}

// A dark that is no dark stops the start with the reason; --sqm-calibrate reads the live frame
// once and prints the zero point that makes it read the meter's figure (sky 1000 in 10 s on
// 100" pixels: 2.5 log10(1000 / 10 / 100^2) = -5, so a reading of 21 gives 16).
TEST_F(StationProgramTest, ABadDarkStopsTheStartAndTheMeterCalibratesTheZeroPoint) {
  FitsBuilder::Frame(16, 64, 48, {ValueCard("NAXIS3", "3")}).Write(dir_.File("colour.fits"));
  FitsBuilder::Frame(16, 32, 32).Samples(std::vector<int64_t>(32 * 32, 100), 2).Write(dir_.File("small.fits"));
  WriteBytes(dir_.File("qor_live.ini"), {'c', 'a', 'm', 'e', 'r', 'a', '/', 'l', 'i', 'v', 'e', '.', 'f', 't', 's', '\n'});
  for (const char* dark : {"--dark missing.fits", "--dark colour.fits", "--dark camera", "--dark small.fits"}) {
    ChildProcess refused = Launch(std::string("--headless --sky ") + dark);
    EXPECT_EQ(refused.WaitForExit(10), 2) << dark;
    EXPECT_NE(Output().find("qor_live: --dark "), std::string::npos) << dark << Output();
  }
  EXPECT_NE(Output().find("the dark is 32 x 32, the live frame 64 x 48"), std::string::npos) << Output();
  StarFieldOptions stars;
  stars.width = stars.height = 400;
  stars.stars = 200;
  stars.gradient = 0;
  StarFieldTruth truth;
  std::vector<int64_t> samples;
  for (const uint16_t value : MakeStarField(stars, truth)) samples.push_back(int64_t{value} - 32768);
  FitsBuilder::Frame(16, 400, 400, {ValueCard("BZERO", "32768"), ValueCard("EXPTIME", "10.0")})
      .Samples(samples, 2)
      .Write(dir_.File("camera/live.fts"));
  ChildProcess calibration = Launch("--sqm-calibrate 21 --pixel-scale 100");
  ASSERT_EQ(calibration.WaitForExit(20), 0) << Output();
  double zero = 0;
  ASSERT_EQ(std::sscanf(Output().c_str(), "sqm-zero-point = %lf", &zero), 1) << Output();
  EXPECT_NEAR(zero, 16.0, 0.01) << Output();
  ChildProcess unscaled = Launch("--sqm-calibrate 21");
  EXPECT_EQ(unscaled.WaitForExit(10), 2) << Output();
}

}  // namespace
