// The live cycle's rules on their own: a fake window and a fake publisher, real frames and files.

#include "app/live_cycle.h"


#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include <QFile>

#include <gtest/gtest.h>

#include "display/clock_texts.h"
#include "display/overlay_text.h"
#include "night/night_folder.h"
#include "tests/support/star_field.h"
#include "tests/support/files.h"
#include "tests/support/fits_builder.h"
#include "tests/support/temp_dir.h"

namespace {

// The file's write time, to the whole second of `when`.
bool SetWriteTime(const char* path, const QDateTime& when) {
  QFile file(QString::fromUtf8(path));
  return file.open(QIODevice::ReadWrite) &&
         file.setFileTime(QDateTime::fromSecsSinceEpoch(when.toSecsSinceEpoch()), QFileDevice::FileModificationTime);
}

namespace fs = std::filesystem;

class FakeHost : public LiveCycleHost {
 public:
  void Yield() override {
    if (throw_at_yield) throw std::runtime_error(std::exchange(throw_at_yield, false) ? "yield" : "");
  }
  void Breathe() override { ++breaths; }
  void SetStatus(const QString& text) override { statuses.push_back(text.toStdString()); }
  void Note(const QString& text) override { notes.push_back(text.toStdString()); }
  QString SiteCaption() const override { return caption; }
  std::string LiveFileText() const override { return live_file_text; }
  QDateTime Now() const override { return now; }
  // Follows the wall clock of the test unless the test sets that back.
  std::chrono::steady_clock::time_point Monotonic() const override {
    return std::chrono::steady_clock::time_point(std::chrono::milliseconds(now.toMSecsSinceEpoch())) + set_back;
  }
  void ShowHeaderError(const std::string& message) override { header_errors.push_back(message); }

  QString caption = QStringLiteral("Kiso");
  std::string live_file_text;
  QDateTime now = QDateTime(QDate(2007, 2, 14), QTime(21, 5, 9));
  std::vector<std::string> statuses;
  std::vector<std::string> notes;
  std::vector<std::string> header_errors;
  int breaths = 0;
  bool throw_at_yield = false;
  std::chrono::milliseconds set_back{0};
};

class FakePublisher : public PicturePublisher {
 public:
  int16_t FtpPutBin(const std::string& local, const std::string& remote) override {
    uploads.push_back(local + " " + remote);
    std::this_thread::sleep_for(delay);
    return error == 0 ? -1 : 0;
  }
  int32_t FtpGetLastError() const override { return error; }
  int16_t FtpPutBinInto(const std::string& directory, const std::string& local, const std::string& remote) override {
    return FtpPutBin(local, directory + "/" + remote);
  }
  int16_t FtpDeleteIn(const std::string& directory, const std::string& remote) override {
    uploads.push_back("DELE " + directory + "/" + remote);
    return error == 0 ? -1 : 0;
  }
  void LimitCallsTo(std::chrono::steady_clock::time_point deadline) override { limits.push_back(deadline); }
  bool ConnectionFailed() const override { return error == 28; }

  int32_t error = 0;
  std::chrono::milliseconds delay{0};
  std::vector<std::string> uploads;
  std::vector<std::chrono::steady_clock::time_point> limits;
};

class LiveCycleTest : public ::testing::Test {
 protected:
  LiveCycleTest() {
    fs::create_directories("camera");
    FitsBuilder::Frame(16, 64, 48).Samples(std::vector<int64_t>(64 * 48, 1000), 2).Write("camera/live.fts");
    store_.LiveFilePath = NativePath("camera/live.fts");  // as Start copied it
    host_.live_file_text = store_.LiveFilePath;
    store_.RangeFactor = 10;
    store_.BackgroundFactor = 1.5;
    cycle_.set_options({std::chrono::seconds(60), std::chrono::seconds(600), 0});
  }
  // Red pixels in a band of the picture.
  int RedIn(int top, int bottom) const {
    int red = 0;
    for (int y = top; y < bottom; ++y)
      for (int x = 0; x < 150; ++x) red += picture_.Image().pixel(x, y) == qRgb(255, 0, 0);
    return red;
  }
  static std::string Report() {
    const std::vector<uint8_t> bytes = ReadBytes("live2.json");
    return {bytes.begin(), bytes.end()};
  }
  std::vector<std::string> TakeStatuses() { return std::exchange(host_.statuses, {}); }
  void RollingNightUploads(std::chrono::seconds interval);

  TempDir dir_;
  ScopedWorkingDirectory working_directory_{dir_.path()};
  static inline FrameStore store_;
  PictureSurface picture_;
  FakeHost host_;
  FakePublisher publisher_;
  LiveCycle cycle_{store_, picture_, publisher_, host_};
};

TEST_F(LiveCycleTest, TheCaptionIsLetteredOnTheFreshFrameAndThePictureUploaded) {
  ASSERT_TRUE(cycle_.Run());
  EXPECT_GT(RedIn(0, 30), 20) << "the caption sits at the top left, over the rendered frame";
  EXPECT_EQ(publisher_.uploads, (std::vector<std::string>{"live2.jpg live2.jpg", "live2.json live2.json"}));
  EXPECT_TRUE(fs::exists("live2.bmp") && fs::exists("live2.jpg"));
  EXPECT_EQ(TakeStatuses(), (std::vector<std::string>{"FTP Live picture", "Put bin OK", "Live start    1"}));
}

// The ninth cycle archives even after a failed upload, into the directory of the live file box as
// it reads then, while the reader keeps the path that Start copied.
TEST_F(LiveCycleTest, TheNinthCycleArchivesAfterAFailedUploadWhereTheEditedBoxSays) {
  fs::create_directories("elsewhere");
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(cycle_.Run());
  host_.live_file_text = NativePath("elsewhere/other.fts");  // edited after Start
  publisher_.error = 530;
  TakeStatuses();
  ASSERT_TRUE(cycle_.Run());
  EXPECT_EQ(TakeStatuses(), (std::vector<std::string>{"FTP Live picture", "Put bin NG:530", "Picture saving",
                                                      "Live start    0"}));
  EXPECT_TRUE(fs::exists("elsewhere/02142007_210509.fts"));
  EXPECT_EQ(store_.LiveFilePath, NativePath("camera/live.fts"));
  EXPECT_EQ(cycle_.frame_counter(), 0);

  // An archive that cannot be written says so, and the counter starts again all the same.
  host_.live_file_text = NativePath("missing-directory/live.fts");
  for (int i = 0; i < 9; ++i) ASSERT_TRUE(cycle_.Run());
  const std::vector<std::string> statuses = TakeStatuses();
  ASSERT_GE(statuses.size(), 2u);
  EXPECT_EQ(statuses[statuses.size() - 2].rfind("Picture saving NG:", 0), 0u) << statuses[statuses.size() - 2];
  EXPECT_EQ(statuses.back(), "Live start    0");
}

// --archive-every: an archive every N cycles, or none; the counter runs to N.
TEST_F(LiveCycleTest, ArchivesComeEveryNCyclesOrNever) {
  CycleOptions options = cycle_.options();
  options.archive_every = 2;
  cycle_.set_options(options);
  ASSERT_TRUE(cycle_.Run());
  ASSERT_TRUE(cycle_.Run());
  EXPECT_TRUE(fs::exists("camera/02142007_210509.fts"));
  fs::remove("camera/02142007_210509.fts");
  options.archive_every = 0;
  cycle_.set_options(options);
  TakeStatuses();
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(cycle_.Run());
  const std::vector<std::string> statuses = TakeStatuses();
  EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "Picture saving"), 0);
  EXPECT_EQ(statuses.back(), "Live start    2");
  EXPECT_FALSE(fs::exists("camera/02142007_210509.fts"));
}

// A large camera's colour mosaic, with checksums, through the whole cycle with --large-frames: drawn
// in colour at the size asked for, lettered, published, and archived whole with checksums that fit.
TEST_F(LiveCycleTest, ALargeColourFrameIsDrawnPublishedAndArchivedWhole) {
  const int width = 6248, height = 4176;
  std::vector<uint8_t> file = FitsBuilder::Frame(16, width, height, {ValueCard("BZERO", "32768"),
                                                                     ValueCard("BAYERPAT", "'RGGB'"),
                                                                     RawCard("CHECKSUM= '0000000000000000'"),
                                                                     RawCard("DATASUM = '0'"), RawCard("END")})
                                  .Bytes();
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      // A red sky (its red sites twice as bright as the others) over darker cells, with a star at
      // every 500th pixel.
      const int sky = ((x | y) & 1 ? 1000 : 2000) + (x + 3 * y) % 97 - ((x / 2 + y / 2) % 13 == 0 ? 600 : 0);
      const int value = sky + (x % 500 == 0 && y % 500 == 0 ? 60000 : 0);
      const int stored = std::min(value, 65535) - 32768;
      file.push_back(static_cast<uint8_t>(static_cast<uint16_t>(stored) >> 8));
      file.push_back(static_cast<uint8_t>(stored));
    }
  file.resize((file.size() + 2879) / 2880 * 2880, 0);
  WriteBytes("camera/live.fts", file);
  CycleOptions options = cycle_.options();
  options.large_frames = true;
  options.archive_every = 1;
  options.picture.size = *PictureSize::Parse("1920x1280");
  options.picture.colour = true;
  options.picture.white_balance = std::array<double, 3>{1, 1, 1};  // the sky's cast kept
  cycle_.set_options(options);
  store_.RangeFactor = store_.BackgroundFactor = 1;

  ASSERT_TRUE(cycle_.Run());
  EXPECT_EQ(TakeStatuses(), (std::vector<std::string>{"FTP Live picture", "Put bin OK", "Picture saving",
                                                      "Live start    0"}));
  EXPECT_EQ(picture_.width(), 1915);
  EXPECT_EQ(picture_.height(), 1280);
  const QRgb sky = picture_.Image().pixel(960, 640);
  EXPECT_GT(qRed(sky), qBlue(sky)) << "the sky's red cast is in the picture";
  EXPECT_GT(RedIn(0, 100), 20) << "the caption is lettered";
  const std::string archive = "camera/02142007_210509.fts";
  std::string report;
  RunCommand("fitsverify " + ShellQuote(archive) + " 2>&1", &report);
  EXPECT_NE(report.find("0 error(s)"), std::string::npos) << report;
  EXPECT_EQ(RunCommand(std::string(kPython) + " " + TestScript("fits_peer.py") + " same " + ShellQuote(archive) +
                       " camera/live.fts 2>&1", &report), 0) << report;
}

// The camera stops sending new frames: once --stale-after has passed, the picture says since when
// and live2.json says stale; the next new frame clears both. A rewrite with the same data is no
// new frame.
TEST_F(LiveCycleTest, AnOldFrameIsMarkedAsOldUntilANewOneArrives) {
  // Without the option the picture stays as designed, however old the frame.
  LiveCycle without_option(store_, picture_, publisher_, host_);
  host_.now = QDateTime::currentDateTime().addDays(1);
  ASSERT_TRUE(without_option.Run());
  EXPECT_EQ(RedIn(35, 60), 0);
  EXPECT_NE(Report().find("\"stale\":false"), std::string::npos) << Report();

  cycle_.set_options({std::chrono::seconds(60), std::chrono::seconds(300), 0});
  // Written now, as far as the station knows: in this very second of the test's clock (the file
  // system's own clock may still be in the second before).
  host_.now = QDateTime::currentDateTime();
  ASSERT_TRUE(SetWriteTime("camera/live.fts", host_.now));
  ASSERT_TRUE(cycle_.Run());
  EXPECT_EQ(RedIn(35, 60), 0) << "no second line on a fresh frame";
  EXPECT_NE(Report().find("\"stale\":false"), std::string::npos) << Report();

  const QDateTime arrived = host_.now;
  host_.now = arrived.addSecs(301);
  FitsBuilder::Frame(16, 64, 48).Samples(std::vector<int64_t>(64 * 48, 1000), 2).Write("camera/live.fts");
  ASSERT_TRUE(cycle_.Run());
  EXPECT_GT(RedIn(35, 60), 20) << "NO NEW FRAME SINCE under the caption";
  EXPECT_NE(Report().find("\"stale\":true"), std::string::npos) << Report();
  EXPECT_NE(Report().find("\"frame_changed\":\"" + IsoLocalTime(arrived).toStdString() + "\""), std::string::npos)
      << Report();
  EXPECT_NE(Report().find("\"status\":\"Put bin OK\""), std::string::npos) << Report();

  // Written in UTF-8 by some software: it reaches the page as the text it is.
  FitsBuilder::Frame(16, 64, 48, {RawCard("DATE-OBS= '2007-02-14T21:09:00 \xE6\x97\xA5'")})
      .Samples(std::vector<int64_t>(64 * 48, 1200), 2)
      .Write("camera/live.fts");
  ASSERT_TRUE(SetWriteTime("camera/live.fts", host_.now));  // a new frame, on the test's clock
  ASSERT_TRUE(cycle_.Run());
  EXPECT_EQ(RedIn(35, 60), 0);
  EXPECT_NE(Report().find("\"stale\":false"), std::string::npos) << Report();
  EXPECT_NE(Report().find("\"frame_time\":\"2007-02-14T21:09:00 \xE6\x97\xA5\""), std::string::npos) << Report();

  // The wall clock set back an hour: 301 s later by the monotonic clock, the frame is old all the same.
  host_.now = host_.now.addSecs(-3600);
  host_.set_back = std::chrono::seconds(3600 + 301);
  ASSERT_TRUE(cycle_.Run());
  EXPECT_NE(Report().find("\"stale\":true"), std::string::npos) << Report();
}

// A header the station cannot read leaves no frame to draw: the last good picture is published
// again, marked as old, rather than a black or white one drawn from nothing as a new picture.
TEST_F(LiveCycleTest, ARefusedHeaderRepublishesTheLastPictureMarkedAsOld) {
  std::vector<int64_t> gradient;
  for (int i = 0; i < 64 * 48; ++i) gradient.push_back(1000 + (i % 64) * 3);
  FitsBuilder::Frame(16, 64, 48).Samples(gradient, 2).Write("camera/live.fts");
  ASSERT_TRUE(cycle_.Run());
  const QImage good = picture_.Image().copy(0, 60, 64, 240);
  for (const int bitpix : {12, 16}) {
    FitsBuilder refused = FitsBuilder::Frame(bitpix, 64, 48).Samples(gradient, 2);
    if (bitpix == 16) refused.cards[4] = RawCard("COMMENT NAXIS2 left out");
    refused.Write("camera/live.fts");
    TakeStatuses();
    ASSERT_TRUE(cycle_.Run());
    EXPECT_EQ(host_.header_errors.size(), bitpix == 12 ? 1u : 2u);
    EXPECT_TRUE(picture_.Image().copy(0, 60, 64, 240) == good) << bitpix;
    EXPECT_GT(RedIn(35, 60), 20) << "NO NEW FRAME SINCE under the caption";
    EXPECT_NE(Report().find("\"stale\":true"), std::string::npos) << Report();
    EXPECT_EQ(TakeStatuses(), (std::vector<std::string>{"FTP Live picture", "Put bin OK", "Live start    " +
                                                        std::to_string(bitpix == 12 ? 2 : 3)}));
  }
}

// Below the archive floor no archive is written, and the status says how much room is left.
TEST_F(LiveCycleTest, NoArchiveBelowTheFloorOfFreeSpace) {
  cycle_.set_options({std::chrono::seconds(60), std::chrono::seconds(600), uint64_t{1} << 40});
  for (int i = 0; i < 9; ++i) ASSERT_TRUE(cycle_.Run());
  const std::vector<std::string> statuses = TakeStatuses();
  ASSERT_GE(statuses.size(), 2u);
  EXPECT_EQ(statuses[statuses.size() - 2].rfind("Picture saving NG:only ", 0), 0u) << statuses[statuses.size() - 2];
  EXPECT_NE(statuses[statuses.size() - 2].find(" MB free"), std::string::npos);
  for (const auto& entry : fs::directory_iterator("camera")) EXPECT_EQ(entry.path().extension(), ".fts") << entry.path();
  EXPECT_EQ(std::distance(fs::directory_iterator("camera"), {}), 1) << "only the live file";
}

// A slow server must not freeze the window: while an upload waits, the window keeps breathing.
TEST_F(LiveCycleTest, TheWindowBreathesWhileASlowUploadWaits) {
  publisher_.delay = std::chrono::milliseconds(200);
  cycle_.Run();
  EXPECT_EQ(TakeStatuses().back(), "Live start    1");
  EXPECT_EQ(publisher_.uploads.size(), 2u);
  EXPECT_GE(host_.breaths, 40) << "two uploads of 200 ms, a breath every few milliseconds";
}

TEST_F(LiveCycleTest, APictureThatCannotBeSavedIsNotUploaded) {
  fs::create_directories("live2.bmp");  // the working directory cannot take the picture
  ASSERT_TRUE(cycle_.Run());
  const std::vector<std::string> statuses = TakeStatuses();
  ASSERT_EQ(statuses.size(), 2u);
  EXPECT_EQ(statuses[0].rfind("Save picture NG:", 0), 0u) << statuses[0];
  EXPECT_EQ(statuses[1], "Live start    1");
  EXPECT_EQ(publisher_.uploads, (std::vector<std::string>{"live2.json live2.json"})) << "only the report";
}

// A cycle that ends by an exception (from a handler run at a yield, say) is over all the same:
// the next tick runs a cycle instead of being skipped for good.
TEST_F(LiveCycleTest, ACycleEndedByAnExceptionDoesNotStayRunning) {
  host_.throw_at_yield = true;
  EXPECT_THROW(cycle_.Run(), std::runtime_error);
  EXPECT_FALSE(cycle_.running());
  EXPECT_TRUE(cycle_.Run());
}

// All of a cycle's uploads share one deadline, and after the picture's upload lost the
// connection the report is not uploaded: a stop never waits for two time-outs.
TEST_F(LiveCycleTest, AfterALostConnectionTheReportIsNotUploaded) {
  publisher_.error = 28;
  const auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(cycle_.Run());
  EXPECT_EQ(publisher_.uploads, std::vector<std::string>{"live2.jpg live2.jpg"});
  ASSERT_EQ(publisher_.limits.size(), 1u);
  EXPECT_LE(publisher_.limits[0], std::chrono::steady_clock::now() + cycle_.options().upload_budget);
  EXPECT_GE(publisher_.limits[0], before + cycle_.options().upload_budget);
  publisher_.error = 550;  // a refusal by a live server: the report still goes
  ASSERT_TRUE(cycle_.Run());
  EXPECT_EQ(publisher_.uploads.size(), 3u);
}

// With --night the published picture is kept for the night as it was uploaded, and beside it the
// picture before its lettering (no red in it).
TEST_F(LiveCycleTest, TheNightKeepsThePublishedPictureAndItsUnletteredOne) {
  CycleOptions options = cycle_.options();
  options.night.enabled = true;
  cycle_.set_options(options);
  ASSERT_TRUE(cycle_.Run());
  const std::string folder = "nights/" + NightOf(host_.now).toString(QStringLiteral("yyyy-MM-dd")).toStdString();
  const std::string name = host_.now.toString(QStringLiteral("HHmmss")).toStdString();
  EXPECT_EQ(ReadBytes(folder + "/" + name + ".jpg"), ReadBytes("live2.jpg"));
  const QImage plain(QString::fromStdString(folder + "/." + name + ".plain.jpg"));
  ASSERT_FALSE(plain.isNull());
  int red = 0;
  for (int y = 0; y < plain.height(); ++y)
    for (int x = 0; x < plain.width(); ++x) red += qRed(plain.pixel(x, y)) > 200 && qGreen(plain.pixel(x, y)) < 60;
  EXPECT_EQ(red, 0);
  cycle_.EndNight();
  EXPECT_NE(host_.notes.back().find("Night ended: " + folder + " (1 pictures)"), std::string::npos);
}

// A rolling night (--night-every): the products are made beside the cycle and uploaded into
// /homepage/night/ at a later cycle, nights.json last.
TEST_F(LiveCycleTest, ARollingNightsProductsAreUploadedAtALaterCycle) { RollingNightUploads(std::chrono::seconds(60)); }

// The time left for them is counted finer than in whole seconds, of which 1 s leaves none.
TEST_F(LiveCycleTest, AtAOneSecondIntervalTheNightsProductsAreUploadedToo) { RollingNightUploads(std::chrono::seconds(1)); }

void LiveCycleTest::RollingNightUploads(std::chrono::seconds interval) {
  CycleOptions options = cycle_.options();
  options.interval = interval;
  options.night.enabled = true;
  options.night.every = 2;
  cycle_.set_options(options);
  for (int i = 0; i < 2; ++i) {
    host_.now = host_.now.addSecs(60);
    ASSERT_TRUE(cycle_.Run());
  }
  const auto uploaded = [&](const std::string& name) {
    return std::find(publisher_.uploads.begin(), publisher_.uploads.end(), "nights/" +
                     NightOf(host_.now).toString(QStringLiteral("yyyy-MM-dd")).toStdString() + "/" + name + " " +
                     kNightDirectory + "/" + NightOf(host_.now).toString(QStringLiteral("yyyy-MM-dd")).toStdString() +
                     "-" + name) != publisher_.uploads.end();
  };
  for (int i = 0; i < 100 && !uploaded("timelapse.mp4"); ++i) {  // the products take a moment
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    host_.now = host_.now.addSecs(60);
    ASSERT_TRUE(cycle_.Run());
  }
  EXPECT_TRUE(uploaded("keogram.jpg"));
  EXPECT_TRUE(uploaded("timelapse.mp4"));
  EXPECT_EQ(publisher_.uploads.back(), "nights/nights.json " + std::string(kNightDirectory) + "/nights.json");
}

}  // namespace

#ifdef QOR_STAR_EXTRACTION  // the Windows build has no SEP (README)
namespace {

// --sky with a master dark and hot pixels removed: the picture and the analysis see the cleaned
// frame, the archive keeps the camera's; live2.json, the overlay's keys and the night's sky.csv
// carry the values; a damaged reference is put aside and learned afresh.
TEST_F(LiveCycleTest, TheSkysValuesGoOutAndTheArchiveStaysTheCamerasFrame) {
  StarFieldOptions stars;
  stars.width = stars.height = 300;
  stars.stars = 120;
  StarFieldTruth truth;
  std::vector<int64_t> samples;
  for (const uint16_t value : MakeStarField(stars, truth)) samples.push_back(int64_t{value} - 32768);
  FitsBuilder::Frame(16, 300, 300, {ValueCard("BZERO", "32768"), ValueCard("EXPTIME", "30.")}).Samples(samples, 2).Write("camera/live.fts");
  FitsBuilder::Frame(16, 300, 300, {ValueCard("EXPTIME", "15.")}).Samples(std::vector<int64_t>(300 * 300, 40), 2).Write("dark.fits");
  WriteBytes("sky-reference.json", {'{', 'x'});
  CycleOptions options = cycle_.options();
  options.sky.enabled = true;
  options.sky.dark_path = "dark.fits";
  options.sky.remove_hot_pixels = true;
  options.archive_every = 1;
  options.night.enabled = true;
  std::vector<std::string> notes;
  cycle_.set_options(options, &notes);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].rfind("Sky NG:sky-reference.json is damaged (", 0), 0u) << notes[0];
  EXPECT_TRUE(fs::exists("sky-reference.json.damaged"));

  EXPECT_EQ(OverlayText("{STARS} {SQM} {CLEAR}", store_, cycle_.sky().OverlayValues()), QStringLiteral("- - -"))
      << "nothing analysed yet";
  ASSERT_TRUE(cycle_.Run());
  const std::string report = Report();
  const size_t sky = report.find("\"sky\":{");
  ASSERT_NE(sky, std::string::npos) << report;
  const int found = std::atoi(report.c_str() + report.find("\"stars\":", sky) + 8);
  EXPECT_GT(found, 60) << report;
  EXPECT_NE(report.find("\"sqm\":null", sky), std::string::npos) << "no zero point given";
  EXPECT_NE(report.find("\"clear\":null", sky), std::string::npos) << "not before 50 frames";
  EXPECT_NE(report.find("\"background_per_s\":"), std::string::npos);
  EXPECT_EQ(OverlayText("{STARS} stars {SQM} {CLEAR} {EXPTIME}", store_, cycle_.sky().OverlayValues()),
            QString::number(found) + QStringLiteral(" stars - - 30."));
  EXPECT_TRUE(fs::exists("sky-reference.json") && !fs::is_empty("sky-reference.json"));
  const std::string night = "nights/" + NightOf(host_.now).toString(QStringLiteral("yyyy-MM-dd")).toStdString();
  const std::vector<uint8_t> csv = ReadBytes(night + "/sky.csv");
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 2);

  std::string peer;
  EXPECT_EQ(RunCommand(std::string(kPython) + " " + TestScript("fits_peer.py") + " same camera/02142007_210509.fts camera/live.fts 2>&1",
                       &peer),
            0)
      << peer;
}

}  // namespace
#endif

#if defined(QOR_STAR_EXTRACTION) && !defined(_WIN32)  // a POSIX locale built with localedef
namespace {

// Qt takes the system's locale for the C library's numbers: in a German one, "12.5" would read as
// 12 and 1000.5 be written "1000,5", a field too many in sky.csv.
TEST(SkyStationLocale, NumbersAreReadAndWrittenWithAPointInAGermanLocale) {
  TempDir locales;
  ScopedWorkingDirectory working_directory(locales.path());  // for its sky-reference.json
  ASSERT_EQ(RunCommand("localedef -i de_DE -f UTF-8 " + ShellQuote(locales.File("de_DE.UTF-8")) + " 2>&1"), 0);
  setenv("LOCPATH", locales.path().c_str(), 1);
  const std::string before = setlocale(LC_NUMERIC, nullptr);
  ASSERT_NE(setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr);
  StarFieldOptions stars;
  stars.width = stars.height = 300;
  StarFieldTruth truth;
  FrameStore store;
  store.MakeRoom(300, 300, false);
  const std::vector<uint16_t> frame = MakeStarField(stars, truth);
  store.Naxis1 = store.Naxis2 = 300;
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 300; ++x) store.Pixel(x, y) = frame[static_cast<size_t>(x + 300 * y)];
  store.HeaderCards[1] = ValueCard("EXPTIME", "12.5");
  store.HeaderCards[2] = RawCard("END");
  store.HeaderCardCount = 2;
  SkySettings settings;
  settings.enabled = true;
  SkyStation sky;
  std::vector<std::string> notes;
  ASSERT_TRUE(sky.Configure(settings, notes).ok);
  sky.Analyse(store, 1, QDateTime(QDate(2026, 12, 8), QTime(22, 0)));
  const std::string line = sky.CsvLine(QDateTime(QDate(2026, 12, 8), QTime(22, 0)));
  setlocale(LC_NUMERIC, before.c_str());
  ASSERT_TRUE(sky.Reading() && sky.Reading()->background && sky.Reading()->background_per_s);
  EXPECT_NEAR(*sky.Reading()->background_per_s, *sky.Reading()->background / 12.5, 1e-9);
  EXPECT_EQ(std::count(line.begin(), line.end(), ','), 5) << line;
  EXPECT_NE(line.find('.'), std::string::npos) << line;
}

}  // namespace
#endif
