#include "app/station_log.h"

#include <filesystem>
#include <fstream>

#include <QTimeZone>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

std::string Text(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  return {bytes.begin(), bytes.end()};
}

// Lines carry their time; at the limit the log moves to .1, .1 to .2, .2 to .3, and .3 is dropped.
TEST(StationLog, StampsLinesAndKeepsThreeOlderLogs) {
  TempDir dir;
  const std::string path = dir.File("qor_live.log");
  StationLog log(path, 100);
  const QDateTime when(QDate(2026, 12, 7), QTime(21, 5, 9), QTimeZone(3600));
  EXPECT_EQ(log.Add(QStringLiteral("Put bin OK"), when).toStdString(), "2026-12-07T21:05:09+01:00 Put bin OK");
  for (int i = 0; i < 20; ++i) log.Add(QStringLiteral("line %1").arg(i, 2, 10, QLatin1Char('0')), when);
  EXPECT_LE(std::filesystem::file_size(path), 100u);
  EXPECT_NE(Text(path).find("line 19"), std::string::npos);
  for (const char* older : {".1", ".2", ".3"}) EXPECT_TRUE(std::filesystem::exists(path + older)) << older;
  EXPECT_FALSE(std::filesystem::exists(path + ".4"));
  EXPECT_EQ(Text(path + ".1").find("line 19"), std::string::npos);
  EXPECT_EQ(log.Recent().size(), 20);
  EXPECT_TRUE(log.Recent().back().endsWith(QStringLiteral("line 19")));

  StationLog unwritable(dir.File("missing-dir/qor_live.log"));
  EXPECT_TRUE(unwritable.Add(QStringLiteral("still fine")).endsWith(QStringLiteral("still fine")));
}

// A log that cannot move on (its .1 is a directory of the user's) stays within its limit all the
// same, and a link in the log's place is not written through to the file it points to.
TEST(StationLog, StaysBoundedWhenItCannotRotateAndNeverWritesThroughALink) {
  TempDir dir;
  const std::string path = dir.File("qor_live.log");
  std::filesystem::create_directories(path + ".1/kept");
  StationLog log(path, 100);
  for (int i = 0; i < 50; ++i) log.Add(QStringLiteral("line %1").arg(i));
  EXPECT_LE(std::filesystem::file_size(path), 100u);
  EXPECT_TRUE(std::filesystem::exists(path + ".1/kept"));

#ifndef _WIN32  // Wine shows a Linux link to a file as the file itself (Windows' own are reparse points)
  std::filesystem::remove(path);
  std::ofstream(dir.File("elsewhere.txt")) << "mine\n";
  ASSERT_TRUE(MakeLink(dir.File("elsewhere.txt"), path));
  log.Add(QStringLiteral("not there"));
  EXPECT_EQ(Text(dir.File("elsewhere.txt")), "mine\n");
#endif
}

}  // namespace
