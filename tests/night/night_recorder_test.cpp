// SPDX-License-Identifier: GPL-3.0-or-later
// The night's pictures: where the sun is, which folder a picture goes to, a restart in mid-night,
// day pictures with a site, and which old nights may be deleted.

#include "night/night_recorder.h"

#include <time.h>

#include <filesystem>

#include <QTimeZone>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

double AltitudeAt(const Site& site, const QDateTime& when) {
  return SunAltitude(site, static_cast<double>(when.toSecsSinceEpoch()));
}

TEST(SunAltitude, NoonsPolarNightAndMidnightSun) {
  const QTimeZone utc(0), jst(9 * 3600);
  // Greenwich at the March equinox's noon: 90 - 51.48 degrees.
  EXPECT_NEAR(AltitudeAt({51.4769, 0}, QDateTime(QDate(2026, 3, 20), QTime(12, 7), utc)), 38.5, 0.5);
  // Tokyo at noon in December: 90 - 35.68 - 22.7.
  EXPECT_NEAR(AltitudeAt({35.68, 139.77}, QDateTime(QDate(2026, 12, 8), QTime(11, 35), jst)), 31.6, 0.7);
  // Svalbard: the sun stays below -6 at noon in December, above the horizon at midnight in June.
  EXPECT_LT(AltitudeAt({78.22, 15.65}, QDateTime(QDate(2026, 12, 21), QTime(11, 0), utc)), -10);
  EXPECT_GT(AltitudeAt({78.22, 15.65}, QDateTime(QDate(2026, 6, 21), QTime(22, 0), utc)), 10);
  EXPECT_FALSE(Site::Parse("91,0"));
  EXPECT_FALSE(Site::Parse("35.68"));
  EXPECT_TRUE(Site::Parse("-33.9,18.4"));
}

class NightRecorderTest : public ::testing::Test {
 protected:
  NightRecorderTest() {
    WriteBytes(published_, {0xFF, 0xD8, 0xFF, 0xD9});
    plain_.fill(Qt::darkBlue);
  }
  NightRecorder::Result Keep(NightRecorder& recorder, int day, int hour, int minute = 0) {
    return recorder.Record(QDateTime(QDate(2026, 12, day), QTime(hour, minute), zone_), published_, plain_);
  }
  std::string Night(const char* date) const { return dir_.File("nights") + "/" + date; }  // as the station names it

  TempDir dir_;
  std::string published_ = dir_.File("live2.jpg");
  QImage plain_{8, 6, QImage::Format_RGB32};
  QTimeZone zone_{9 * 3600};
  NightOptions options_{true};
};

// A night is one folder from noon to noon; a station restarted in mid-night carries on in it and
// loses nothing; the next evening begins the next night and says that the last one ended.
TEST_F(NightRecorderTest, OneFolderFromNoonToNoonAcrossARestart) {
  {
    NightRecorder recorder(dir_.File("nights"));
    recorder.SetOptions(options_, 0);
    for (const auto& [day, hour] : {std::pair{7, 21}, {7, 23}, {8, 2}}) EXPECT_FALSE(Keep(recorder, day, hour).ended);
  }
  NightRecorder restarted(dir_.File("nights"));
  restarted.SetOptions(options_, 0);
  EXPECT_FALSE(Keep(restarted, 8, 3).ended);
  EXPECT_EQ(NightPictures(Night("2026-12-07")),
            (std::vector<std::string>{"210000.jpg", "230000.jpg", "020000.jpg", "030000.jpg"}));
  EXPECT_EQ(ReadBytes(Night("2026-12-07") + "/020000.jpg"), ReadBytes(published_)) << "the JPEG as uploaded";
  EXPECT_TRUE(fs::exists(Night("2026-12-07") + "/.020000.plain.jpg"));
  const NightRecorder::Result next = Keep(restarted, 8, 20);
  ASSERT_TRUE(next.ended);
  EXPECT_EQ(*next.ended, Night("2026-12-07"));
  EXPECT_EQ(NightPictures(Night("2026-12-08")), std::vector<std::string>{"200000.jpg"});
  EXPECT_EQ(restarted.Stop(), std::optional<std::string>(Night("2026-12-08")));
}

// With a site, pictures taken in daylight are not kept, and sunrise ends the night.
TEST_F(NightRecorderTest, DayPicturesAreNotKeptAndSunriseEndsTheNight) {
  options_.site = Site{35.68, 139.77};
  NightRecorder recorder(dir_.File("nights"));
  recorder.SetOptions(options_, 0);
  EXPECT_FALSE(Keep(recorder, 7, 15).ended);  // 15:00 in Tokyo: day
  EXPECT_FALSE(fs::exists(Night("2026-12-07")));
  Keep(recorder, 7, 22);
  Keep(recorder, 8, 4);
  const NightRecorder::Result morning = Keep(recorder, 8, 8);  // the sun is up
  ASSERT_TRUE(morning.ended);
  EXPECT_EQ(NightPictures(*morning.ended), (std::vector<std::string>{"220000.jpg", "040000.jpg"}));
}

// The archive's floor holds for the night's pictures: below it a picture is not kept, and the
// log says so.
TEST_F(NightRecorderTest, NoPictureIsKeptBelowTheDiskFloor) {
  NightRecorder recorder(dir_.File("nights"));
  recorder.SetOptions(options_, uint64_t{1} << 40);
  const NightRecorder::Result kept = Keep(recorder, 7, 22);
  ASSERT_EQ(kept.notes.size(), 1u);
  EXPECT_EQ(kept.notes[0].rfind("Night picture not kept: only ", 0), 0u) << kept.notes[0];
  EXPECT_TRUE(NightPictures(Night("2026-12-07")).empty());
}

// Only the station's own night folders are deleted, the oldest first, and only once their
// products are made and published; a dated folder of the user's, a file with a date for a name
// and a link are left alone. The night being kept is never deleted, even where a folder dated
// after it (a clock that was once a year ahead) would sort after it.
TEST_F(NightRecorderTest, KeepNightsDeletesOnlyTheStationsOwnSettledOldNights) {
  const auto settle = [&](const char* date) {
    const std::string folder = Night(date);
    const std::string json = "{\"pictures\": " + std::to_string(NightPictures(folder).size()) + "}";
    WriteBytes(folder + "/night.json", std::vector<uint8_t>(json.begin(), json.end()));
    WriteBytes(folder + "/" + kPublishedMarker, {});
  };
  options_.keep_nights = 2;
  NightRecorder recorder(dir_.File("nights"));
  recorder.SetOptions(options_, 0);
  for (int day = 1; day <= 3; ++day) Keep(recorder, day, 22);
  settle("2026-12-01");
  settle("2026-12-02");  // 2026-12-03 is not reviewed yet
  fs::create_directories(Night("2026-11-30"));  // the user's
  WriteBytes(Night("2026-11-30") + "/mine.txt", {'x'});
  WriteBytes(Night("2026-11-29"), {'x'});
  ASSERT_TRUE(MakeLink(Night("2026-12-01"), Night("2026-11-28")));
  Keep(recorder, 4, 22);
  EXPECT_FALSE(fs::exists(Night("2026-12-01")));
  EXPECT_FALSE(fs::exists(Night("2026-12-02")));
  EXPECT_TRUE(fs::exists(Night("2026-12-03"))) << "not reviewed and published";
  EXPECT_TRUE(fs::exists(Night("2026-12-04")));
  EXPECT_TRUE(fs::exists(Night("2026-11-30") + "/mine.txt"));
  EXPECT_TRUE(fs::exists(Night("2026-11-29")));
  // Asked of the shell: Wine shows no link whose target is gone.
  EXPECT_EQ(RunCommand("test -L " + ShellQuote(Night("2026-11-28"))), 0) << "the link stays";

  NightRecorder ahead(dir_.File("nights"));
  ahead.SetOptions(options_, 0);
  Keep(ahead, 31, 22);  // 2026-12-31: where the clock once stood
  ahead.Stop();
  settle("2026-12-31");
  options_.keep_nights = 1;
  NightRecorder recorder_now(dir_.File("nights"));
  recorder_now.SetOptions(options_, 0);
  Keep(recorder_now, 5, 22);
  EXPECT_TRUE(fs::exists(Night("2026-12-05") + "/220000.jpg")) << "tonight is the newest night";
  EXPECT_FALSE(fs::exists(Night("2026-12-31")));
}

// The night runs from noon to noon by the calendar, also on the days the clocks change; in the
// hour that summer time's end repeats, the pictures sort by their real time, and no picture ever
// takes another's name, not even after a restart within the same second.
#ifndef _WIN32  // Windows takes the time zone from the system only, never from TZ
TEST_F(NightRecorderTest, SummerTimeAndARestartWithinASecondLoseNoPicture) {
  const QByteArray zone = qgetenv("TZ");
  qputenv("TZ", "Europe/Berlin");
  tzset();
  const auto utc = [](int month, int day, int hour, int minute) {
    return QDateTime(QDate(2026, month, day), QTime(hour, minute), Qt::UTC).toLocalTime();
  };
  EXPECT_EQ(NightOf(utc(3, 29, 10, 30)), QDate(2026, 3, 29)) << "12:30 summer time, the day the clocks go forward";
  EXPECT_EQ(NightOf(utc(10, 25, 10, 30)), QDate(2026, 10, 24)) << "11:30 winter time, the day they go back";
  NightRecorder recorder(dir_.File("nights"));
  recorder.SetOptions(options_, 0);
  for (const QDateTime& when : {utc(10, 24, 20, 0), utc(10, 25, 0, 30), utc(10, 25, 1, 10), utc(10, 25, 1, 30),
                                utc(10, 25, 1, 30)})
    recorder.Record(when, published_, plain_);
  EXPECT_EQ(NightPictures(Night("2026-10-24")),
            (std::vector<std::string>{"220000.jpg", "023000.jpg", "021000b.jpg", "023000b.jpg", "023000b_2.jpg"}));
  zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
  tzset();
}
#endif

}  // namespace
