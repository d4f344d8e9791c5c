// SPDX-License-Identifier: GPL-3.0-or-later
// A synthetic night, fast: a sky turning around the pole, twilight at both ends and a cloudy hour,
// kept by the recorder and reviewed into a keogram, star trails, a timelapse and night.json.

#include "night/night_review.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "display/clock_texts.h"
#include "night/night_folder.h"
#include "night/night_keeper.h"
#include "night/night_publisher.h"
#include "night/night_recorder.h"
#include "night/sky_log.h"
#include "publish/ftp_client.h"
#include "publish/ftp_errors.h"
#include "tests/support/server_process.h"
#include "tests/support/ssh_server.h"
#include "display/snapshot_export.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 121, kHeight = 91;  // odd on purpose: the video crops a row and a column

// Picture i of the night: twilight for the first two and the last two, clouds for 10 to 13, a
// stretch that failed (white, on a dark sky) at 20, else a dark sky with stars turning about the
// centre.
QImage Sky(int i, int count, double& background) {
  const bool twilight = i < 2 || i >= count - 2, cloudy = i >= 10 && i < 14, washed_out = i == 20;
  background = twilight ? 6000 : cloudy ? 2600 : 1000 + (i % 3) * 5;
  const int grey = twilight ? 170 : cloudy ? 110 : washed_out ? 255 : 12;
  QImage sky(kWidth, kHeight, QImage::Format_RGB32);
  sky.fill(qRgb(grey, grey, grey + 4));
  if (!twilight && !cloudy)
    for (int star = 0; star < 6; ++star) {
      const double radius = 8 + 6 * star, angle = 0.05 * i + star;
      sky.setPixel(60 + static_cast<int>(radius * std::cos(angle)), 45 + static_cast<int>(radius * std::sin(angle)),
                   qRgb(255, 255, 255));
    }
  return sky;
}

// Keeps the pictures `skies` (indexes into Sky of a night of `count`) as the recorder does, the
// first at `first` and then every `step` seconds; returns the night's folder.
std::string KeepNight(const TempDir& dir, const std::vector<int>& skies, int count, const QDateTime& first, int step) {
  NightRecorder recorder(dir.File("nights"));
  NightOptions options;
  options.enabled = true;
  recorder.SetOptions(options, 0);
  for (size_t n = 0; n < skies.size(); ++n) {
    double background = 0;
    const QImage sky = Sky(skies[n], count, background);
    EXPECT_TRUE(SaveImageJpeg(sky, dir.File("live2.jpg"), 95).ok);
    recorder.Record(first.addSecs(static_cast<int>(n) * step), dir.File("live2.jpg"), sky, background);
  }
  return *recorder.Stop();
}

std::vector<int> Range(int first, int end) {
  std::vector<int> indexes;
  for (int i = first; i < end; ++i) indexes.push_back(i);
  return indexes;
}

std::string Text(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  return {bytes.begin(), bytes.end()};
}

TEST(NightReview, KeogramStarTrailsTimelapseAndNightJson) {
  TempDir dir;
  const int count = 30;
  const QDateTime dusk(QDate(2026, 12, 7), QTime(21, 30));  // the station's local time
  const std::string folder = KeepNight(dir, Range(0, count), count, dusk, 600);  // every 10 minutes
  const std::vector<std::string> notes = MakeNightProducts(folder, 25);
  ASSERT_FALSE(notes.empty());

  // The keogram: one column per picture, repeated to a picture's width, the hours under it.
  const QImage keogram(QString::fromStdString(folder + "/keogram.jpg"));
  ASSERT_FALSE(keogram.isNull());
  EXPECT_EQ(keogram.width(), count * 5);  // 30 pictures, each column 5 times: at least 121 wide
  EXPECT_GT(keogram.height(), kHeight);
  EXPECT_GT(qGray(keogram.pixel(0, kHeight / 3)), 120) << "twilight at the left";
  EXPECT_LT(qGray(keogram.pixel(count * 5 / 2, kHeight / 3)), 60) << "night in the middle";
  int ticks = 0;  // a tick is a white line at the top of the band where an hour begins
  for (int x = 0; x < keogram.width(); ++x) ticks += qGray(keogram.pixel(x, kHeight + 2)) > 128;
  EXPECT_GE(ticks, 4) << "22, 23, 00, 01 and 02 begin during the night";

  // The star trails leave out twilight and clouds, and are not washed out by them.
  const QJsonObject night = QJsonDocument::fromJson(QByteArray::fromStdString(Text(folder + "/night.json"))).object();
  const QJsonArray left_out = night[QStringLiteral("left_out")].toArray();
  EXPECT_EQ(left_out.size(), 9) << "twilight, clouds and a washed-out picture";
  for (const QJsonValue& entry : left_out) EXPECT_FALSE(entry.toObject()[QStringLiteral("reason")].toString().isEmpty());
  const QImage trails(QString::fromStdString(folder + "/startrails.jpg"));
  ASSERT_FALSE(trails.isNull());
  EXPECT_LT(qGray(trails.pixel(5, 5)), 40) << "a dark sky";
  int trail = 0;  // the arcs: bright pixels in the circle the stars turn in
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) trail += qGray(trails.pixel(x, y)) > 150;
  EXPECT_GT(trail, 40);

  EXPECT_EQ(night[QStringLiteral("date")].toString(), QStringLiteral("2026-12-07"));
  EXPECT_EQ(night[QStringLiteral("pictures")].toInt(), count);
  EXPECT_EQ(night[QStringLiteral("first")].toString(), IsoLocalTime(dusk));
  EXPECT_EQ(night[QStringLiteral("products")].toArray().size(), 3) << Text(folder + "/night.json");

  // The video: every picture a frame, 4:2:0 with even sides, H.264, the index first.
  std::string probe;
  ASSERT_EQ(RunCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                       "stream=codec_name,width,height,pix_fmt,nb_read_frames -of csv=p=0 " +
                           ShellQuote(folder + "/timelapse.mp4"),
                       &probe),
            0);
  EXPECT_EQ(probe, "h264,120,90,yuv420p,30\n");
  const std::string mp4 = Text(folder + "/timelapse.mp4");
  EXPECT_LT(mp4.find("moov"), mp4.find("mdat")) << "the index before the pictures";
  EXPECT_FALSE(std::filesystem::exists(folder + "/timelapse.mp4.part"));
}

// The products land in /homepage/night/ (made on the server), by FTP and by SFTP, with
// nights.json listing them; a server that refuses the first upload gets it at a later cycle.
TEST(NightReview, ProductsArePublishedAndARefusedUploadIsTriedAgain) {
  TempDir dir;
  const std::string folder = KeepNight(dir, Range(3, 7), 30, QDateTime(QDate(2026, 12, 7), QTime(22, 0)), 60);
  MakeNightProducts(folder, 25);

  fs::create_directories(dir.File("root/homepage"));
  PyFtpServer ftp_server(dir.File("root"), {false, false, "", "", {"--refuse", "STOR:1"}});
  OpenSshServer ssh_server(dir.path().string());
  fs::create_directories(dir.File("site/homepage"));
  struct Peer {
    std::string address, account, homepage;
  } peers[] = {{ftp_server.address(), "observer", dir.File("root/homepage")},
               {ssh_server.address(), OpenSshServer::User(), dir.File("site/homepage")}};
  for (const Peer& peer : peers) {
    FtpClient client;
    client.SetSshFilesForTesting(dir.File("known_hosts"), ssh_server.client_ssh_dir());
    ASSERT_EQ(client.FtpConnect(peer.address, peer.account, peer.account == "observer" ? "secret" : ""), -1)
        << client.FtpGetLastError();
    NightPublisher publisher(dir.File("nights"));
    publisher.Add(folder);
    const auto put = [&](const std::string& local, const std::string& remote, int32_t& error) {
      const std::string directory = peer.account == "observer" ? std::string(kNightDirectory) : ShellPath(peer.homepage) + "/night";
      if (client.FtpPutBinInto(directory, local, remote) == -1) return NightPublisher::Sent::kAll;
      error = client.FtpGetLastError();
      return NightPublisher::Sent::kFailed;
    };
    std::vector<std::string> notes = publisher.Publish({put});
    if (peer.account == "observer") {
      ASSERT_TRUE(publisher.waiting()) << "the first upload was refused";
      EXPECT_NE(notes[0].find("tried again in 1 cycles"), std::string::npos) << notes[0];
      EXPECT_EQ(notes[1], "Night upload OK: 2026-12-07-startrails.jpg") << "the others are not held back";
      notes = publisher.Publish({put});  // the next cycle
    }
    EXPECT_FALSE(publisher.waiting()) << notes.back();
    for (const char* product : {"keogram.jpg", "startrails.jpg", "timelapse.mp4"})
      EXPECT_EQ(ReadBytes(peer.homepage + "/night/2026-12-07-" + product), ReadBytes(folder + "/" + product)) << product;
    const QJsonObject nights = QJsonDocument::fromJson(QByteArray::fromStdString(Text(peer.homepage + "/night/nights.json"))).object();
    ASSERT_EQ(nights[QStringLiteral("nights")].toArray().size(), 1);
    const QJsonObject night = nights[QStringLiteral("nights")].toArray()[0].toObject();
    EXPECT_EQ(night[QStringLiteral("date")].toString(), QStringLiteral("2026-12-07"));
    EXPECT_EQ(night[QStringLiteral("pictures")].toInt(), 4);
    EXPECT_EQ(night[QStringLiteral("files")].toObject()[QStringLiteral("timelapse")].toString(),
              QStringLiteral("2026-12-07-timelapse.mp4"));
  }
}

// A product that cannot be sent from here (a refusal of the local file) is given up at once, not
// tried for days; the night is still listed in nights.json, with the products that are up.
TEST(NightReview, ANightWhoseVideoCannotBeSentIsListedWithWhatIsUp) {
  TempDir dir;
  const std::string folder = KeepNight(dir, Range(3, 7), 30, QDateTime(QDate(2026, 12, 7), QTime(22, 0)), 60);
  MakeNightProducts(folder, 25);
  NightPublisher publisher(dir.File("nights"));
  publisher.Add(folder);
  std::vector<std::string> sent;
  const auto put = [&](const std::string&, const std::string& remote, int32_t& error) {
    if (remote.find("timelapse") != std::string::npos) {
      error = ftp_error::kLocalFile;
      return NightPublisher::Sent::kFailed;
    }
    sent.push_back(remote);
    return NightPublisher::Sent::kAll;
  };
  publisher.Publish({put});
  EXPECT_FALSE(publisher.waiting());
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), "nights.json");
  const QJsonObject nights = QJsonDocument::fromJson(QByteArray::fromStdString(Text(dir.File("nights/nights.json")))).object();
  ASSERT_EQ(nights[QStringLiteral("nights")].toArray().size(), 1);
  const QJsonObject files = nights[QStringLiteral("nights")].toArray()[0].toObject()[QStringLiteral("files")].toObject();
  EXPECT_EQ(files.keys(), (QStringList{QStringLiteral("keogram"), QStringLiteral("startrails")}));
}

// A product lost to a full disk leaves the night to be reviewed again (when it is next looked at),
// a few times at most; the count of reviews is kept in night.json.
TEST(NightReview, ANightShortOfSpaceIsReviewedAgainAFewTimes) {
  TempDir dir;
  const std::string folder = KeepNight(dir, Range(3, 7), 30, QDateTime(QDate(2026, 12, 7), QTime(22, 0)), 60);
  MakeNightProducts(folder, 25);
  EXPECT_TRUE(IsReviewed(folder));
  EXPECT_EQ(ReviewsOf(folder), 1);
  QJsonObject night = QJsonDocument::fromJson(QByteArray::fromStdString(Text(folder + "/night.json"))).object();
  for (const int reviews : {1, kReviewsShortOfSpace}) {
    night[QStringLiteral("short_of_space")] = true;
    night[QStringLiteral("reviews")] = reviews;
    const QByteArray bytes = QJsonDocument(night).toJson();
    WriteBytes(folder + "/night.json", {bytes.begin(), bytes.end()});
    EXPECT_EQ(IsReviewed(folder), reviews == kReviewsShortOfSpace) << reviews;
  }
}

// A rolling night's products are not remade while the last ones still go up (a video cut by the
// cycle's time goes on at the next cycle): remade, it would start again from its first byte.
TEST(NightReview, ARollingNightIsNotRemadeUnderItsUnfinishedUpload) {
  TempDir dir;
  NightOptions options;
  options.enabled = true;
  options.every = 2;
  NightKeeper keeper(dir.File("nights"));
  keeper.SetOptions(options, 0);
  const QDateTime evening(QDate(2026, 12, 8), QTime(22, 0));
  keeper.Begin(evening);
  const auto keep = [&](int i) {
    double background = 0;
    const QImage sky = Sky(3 + i, 30, background);
    ASSERT_TRUE(SaveImageJpeg(sky, dir.File("live2.jpg"), 95).ok);
    keeper.Keep(evening.addSecs(60 * i), dir.File("live2.jpg"), sky, background);
  };
  bool video_done = false;
  const auto put = [&](const std::string&, const std::string& remote, int32_t& error) {
    if (remote.find("timelapse") == std::string::npos || video_done) return NightPublisher::Sent::kAll;
    error = 28;
    return NightPublisher::Sent::kPart;  // the cycle's time ran out in the middle
  };
  const std::string folder = dir.File("nights/2026-12-08");
  keep(0);
  keep(1);  // the first review, of two pictures: a video
  for (int i = 0; i < 600 && !keeper.HasUploads(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  keeper.Publish({put});
  const int reviews = ReviewsOf(folder);
  ASSERT_EQ(reviews, 1);
  for (int i = 2; i < 6; ++i) keep(i);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(ReviewsOf(folder), reviews) << "remade under its upload";
  video_done = true;
  keeper.Publish({put});
  keep(6);
  for (int i = 0; i < 600 && ReviewsOf(folder) == reviews; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GT(ReviewsOf(folder), reviews) << "remade once its upload is done";
}

TEST(NightReview, ANightOfOneWashedOutPictureHasStarTrailsButNoVideoAndSaysSo) {
  TempDir dir;
  // Picture 20 is washed out: no dark picture at all.
  const std::string folder = KeepNight(dir, {20}, 30, QDateTime(QDate(2026, 12, 7), QTime(22, 0)), 60);
  MakeNightProducts(folder, 25);
  EXPECT_TRUE(std::filesystem::exists(folder + "/startrails.jpg")) << "the darkest picture alone";
  const QJsonObject night = QJsonDocument::fromJson(QByteArray::fromStdString(Text(folder + "/night.json"))).object();
  ASSERT_EQ(night[QStringLiteral("not_made")].toArray().size(), 1);
  EXPECT_EQ(night[QStringLiteral("not_made")].toArray()[0].toObject()[QStringLiteral("product")].toString(),
            QStringLiteral("timelapse.mp4"));
  EXPECT_FALSE(std::filesystem::exists(folder + "/timelapse.mp4"));
  EXPECT_TRUE(night[QStringLiteral("only_darkest_in_startrails")].toBool());
}

// FIFOs in a night's folder, as a picture and as an unlettered sidecar: the review neither waits
// for a writer nor counts them, and makes its products from the rest.
TEST(NightReview, FifosInANightsFolderAreNeitherWaitedForNorCounted) {
  TempDir dir;
  const std::string folder = KeepNight(dir, Range(4, 7), 30, QDateTime(QDate(2026, 12, 7), QTime(22, 0)), 60);
  fs::remove(folder + "/.220100.plain.jpg");
  ASSERT_TRUE(MakeFifo(folder + "/.220100.plain.jpg"));
  ASSERT_TRUE(MakeFifo(folder + "/230000.jpg"));
  MakeNightProducts(folder, 25);
  const QJsonObject night = QJsonDocument::fromJson(QByteArray::fromStdString(Text(folder + "/night.json"))).object();
  EXPECT_EQ(night[QStringLiteral("pictures")].toInt(), 3);
  EXPECT_EQ(night[QStringLiteral("products")].toArray().size(), 3);
}

// What a full disk, a crash or a stranger leaves in a night's folder: an empty first picture, one
// cut short, one of another size, a name that is no time and a background that no frame has.
// The products leave the damaged out and say so, the video keeps the size most pictures have, and
// a review that is stopped leaves no night.json, so the night is reviewed again at the next start.
TEST(NightReview, DamagedAndForeignPicturesAreLeftOutAndAStoppedReviewIsNotTakenForDone) {
  TempDir dir;
  const std::string folder = KeepNight(dir, Range(4, 8), 30, QDateTime(QDate(2026, 12, 7), QTime(22, 0)), 60);
  WriteBytes(folder + "/215900.jpg", {});
  std::vector<uint8_t> cut = ReadBytes(folder + "/220100.jpg");
  cut.resize(cut.size() / 2);
  WriteBytes(folder + "/220100.jpg", cut);
  WriteBytes(folder + "/999999.jpg", ReadBytes(folder + "/220000.jpg"));
  WriteBytes(folder + "/.220200.sky", {'-', '1', 'e', '3', '0', '8'});
  double background = 0;
  ASSERT_TRUE(SaveImageJpeg(Sky(5, 30, background).scaled(2 * kWidth, 2 * kHeight), folder + "/220400.jpg", 95).ok);

  const std::atomic<bool> stop{true};
  MakeNightProducts(folder, 25, &stop);
  EXPECT_FALSE(fs::exists(folder + "/night.json"));
  EXPECT_FALSE(fs::exists(folder + "/keogram.jpg"));

  MakeNightProducts(folder, 25);
  const QJsonObject night = QJsonDocument::fromJson(QByteArray::fromStdString(Text(folder + "/night.json"))).object();
  EXPECT_EQ(night[QStringLiteral("pictures")].toInt(), 6);
  QStringList left_out;
  for (const QJsonValue& entry : night[QStringLiteral("left_out")].toArray())
    left_out << entry.toObject()[QStringLiteral("file")].toString();
  EXPECT_EQ(left_out, (QStringList{QStringLiteral("215900.jpg"), QStringLiteral("220100.jpg")}));
  EXPECT_EQ(night[QStringLiteral("products")].toArray().size(), 3);
  std::string size;
  RunCommand("ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0 " +
                 ShellQuote(folder + "/timelapse.mp4"),
             &size);
  EXPECT_EQ(size, "120,90\n");
}

// A night that ended while the station was down, or whose products were never uploaded: the next
// start reviews and publishes it, and the start after that finds nothing left to do; once the
// night is pruned, its files are deleted on the server as well.
TEST(NightReview, ANightLeftByAnEarlierRunIsReviewedAndPublishedAtTheNextStart) {
  TempDir dir;
  KeepNight(dir, Range(4, 7), 30, QDateTime(QDate(2026, 12, 7), QTime(22, 0)), 60);
  NightOptions options;
  options.enabled = true;
  const QDateTime evening(QDate(2026, 12, 8), QTime(20, 0));
  std::vector<std::string> uploads;
  const auto put = [&](const std::string&, const std::string& remote, int32_t&) {
    uploads.push_back(remote);
    return NightPublisher::Sent::kAll;
  };
  {
    NightKeeper keeper(dir.File("nights"));
    keeper.SetOptions(options, 0);
    const std::vector<std::string> notes = keeper.Begin(evening);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], "Night 2026-12-07: left unreviewed by an earlier run, reviewed now");
    for (int i = 0; i < 600 && !keeper.HasUploads(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    keeper.Publish({put});
  }
  EXPECT_EQ(uploads, (std::vector<std::string>{"2026-12-07-keogram.jpg", "2026-12-07-startrails.jpg",
                                               "2026-12-07-timelapse.mp4", "nights.json"}));
  NightKeeper again(dir.File("nights"));
  again.SetOptions(options, 0);
  EXPECT_TRUE(again.Begin(evening.addSecs(60)).empty());

  // Pruned here, it goes from the server too: first out of nights.json, then its files.
  options.keep_nights = 1;
  again.SetOptions(options, 0);
  uploads.clear();
  again.Keep(evening.addDays(1), dir.File("live2.jpg"), QImage(), std::nullopt);
  again.Publish({put, {}, [&](const std::string& remote, int32_t&) {
                   uploads.push_back("DELE " + remote);
                   return true;
                 }});
  EXPECT_EQ(uploads, (std::vector<std::string>{"nights.json", "DELE 2026-12-07-keogram.jpg",
                                               "DELE 2026-12-07-startrails.jpg", "DELE 2026-12-07-timelapse.mp4"}));
  EXPECT_TRUE(ReadBytes(dir.File("nights/.remote-deletions")).empty());

  // A night cut short (a power cut), the station started again after sunrise: at noon, while it
  // runs on, the night has ended and is reviewed.
  options.keep_nights = 14;
  TempDir other;
  KeepNight(other, Range(4, 7), 30, QDateTime(QDate(2026, 12, 10), QTime(22, 0)), 60);
  NightKeeper morning(other.File("nights"));
  morning.SetOptions(options, 0);
  EXPECT_TRUE(morning.Begin(QDateTime(QDate(2026, 12, 11), QTime(8, 0))).empty()) << "tonight's, until noon";
  EXPECT_EQ(morning.Begin(QDateTime(QDate(2026, 12, 11), QTime(12, 1))),
            (std::vector<std::string>{"Night 2026-12-10: cut short, ended at noon, reviewed now"}));
}

}  // namespace

namespace {

// With --sky each kept picture's values go into sky.csv, and the review draws them as chart.png,
// listed with the other products. Values that are missing (a frame that could not be analysed)
// leave a gap, not a zero.
TEST(NightReview, TheSkysValuesBecomeTheNightsChart) {
  TempDir dir;
  NightRecorder recorder(dir.File("nights"));
  NightOptions options;
  options.enabled = true;
  recorder.SetOptions(options, 0);
  const QDateTime dusk(QDate(2026, 12, 7), QTime(21, 30));
  for (int i = 0; i < 40; ++i) {
    double background = 0;
    const QImage sky = Sky(5, 30, background);
    ASSERT_TRUE(SaveImageJpeg(sky, dir.File("live2.jpg"), 95).ok);
    const QDateTime when = dusk.addSecs(i * 600);
    const std::string line = i == 7 ? IsoLocalTime(when).toStdString() + ",,,,,\n"
                                    : IsoLocalTime(when).toStdString() + "," + std::to_string(300 + 10 * i) +
                                          ",1000.00,33.3333,20.50," + (i >= 20 && i < 25 ? "0.250" : "1.000") + "\n";
    recorder.Record(when, dir.File("live2.jpg"), sky, background, line);
  }
  const std::string folder = *recorder.Stop();
  const std::string csv = Text(folder + "/sky.csv");
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 41) << "the header and one line a picture";
  ASSERT_EQ(ReadSkyLog(folder).size(), 40u);
  EXPECT_FALSE(ReadSkyLog(folder)[7].stars);
  MakeNightProducts(folder, 25);
  const QImage chart(QString::fromStdString(folder + "/chart.png"));
  ASSERT_FALSE(chart.isNull());
  EXPECT_NE(Text(folder + "/night.json").find("\"file\": \"chart.png\""), std::string::npos);
  // Each of the three panels has its line drawn.
  for (int panel = 0; panel < 3; ++panel) {
    int bright = 0;
    for (int y = panel * 194 + 24; y < panel * 194 + 184; ++y)
      for (int x = 80; x < chart.width() - 20; ++x) bright += qGray(chart.pixel(x, y)) > 120;
    EXPECT_GT(bright, 200) << "panel " << panel;
  }
}

}  // namespace

// The night's meteors go up with its products, the page's list names them, and once the night is
// deleted here its events go from the server too, though its folder is gone.
TEST(NightReview, TheNightsEventsArePublishedListedAndDeletedWithTheNight) {
  TempDir dir;
  const std::string folder = KeepNight(dir, Range(3, 7), 30, QDateTime(QDate(2026, 12, 7), QTime(22, 0)), 60);
  MakeNightProducts(folder, 25);
  fs::create_directories(folder + "/events");
  std::ofstream(folder + "/events/221500.jpg") << "jpeg";
  std::ofstream(folder + "/events/221500-2.jpg") << "jpeg";
  // A name the station never gives is not sent, wherever it points.
  std::ofstream(folder + "/events.json") << R"([{"class":"meteor","picture":"events/221500.jpg"},
    {"class":"meteor","picture":"events/221500-2.jpg"},{"class":"meteor","picture":"../../secret.txt"}])";
  NightPublisher publisher(dir.File("nights"));
  publisher.Add(folder);
  std::vector<std::string> sent, deleted;
  publisher.Publish({[&](const std::string&, const std::string& remote, int32_t&) {
    sent.push_back(remote);
    return NightPublisher::Sent::kAll;
  }});
  for (const char* remote : {"2026-12-07-events.json", "2026-12-07-events-221500.jpg", "2026-12-07-events-221500-2.jpg"})
    EXPECT_NE(std::find(sent.begin(), sent.end(), remote), sent.end()) << remote;
  EXPECT_EQ(sent.size(), 7u);  // keogram, star trails, timelapse, the events and nights.json
  const QJsonObject nights = QJsonDocument::fromJson(QByteArray::fromStdString(Text(dir.File("nights/nights.json")))).object();
  EXPECT_EQ(nights["nights"].toArray()[0].toObject()["files"].toObject()["events"].toString(), "2026-12-07-events.json");

  fs::remove_all(folder);
  publisher.Forget("2026-12-07");
  publisher.Publish({[](const std::string&, const std::string&, int32_t&) { return NightPublisher::Sent::kAll; }, {},
                     [&](const std::string& remote, int32_t&) {
                       deleted.push_back(remote);
                       return true;
                     }});
  for (const char* remote : {"2026-12-07-events.json", "2026-12-07-events-221500.jpg", "2026-12-07-events-221500-2.jpg"})
    EXPECT_NE(std::find(deleted.begin(), deleted.end(), remote), deleted.end()) << remote;
}
