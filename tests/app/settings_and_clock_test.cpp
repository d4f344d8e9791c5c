#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "display/clock_texts.h"
#include "app/options_file.h"
#include "app/settings_file.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(SettingsFile, LineEndsBlanksAndMissingLines) {
  TempDir dir;
  const std::string path = dir.File("qor_live.ini");
  const struct {
    std::string file;
    std::vector<const char*> lines;  // nullptr: not read
  } cases[] = {
      {"a\r\n b \r\n\r\nd\r\ne\r\nf\r\ng\r\nextra\r\n", {"a", " b ", "", "d", "e", "f", "g"}},
      {"a\rb\rc\rd\re\rf\rg", {"a", "b", "c", "d", "e", "f", "g"}},
      {"a\nb\r\nc\rd\n\ne\nf", {"a", "b", "c", "d", "", "e", "f"}},
      {"only one", {"only one", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}},
      {"a\r\nb\r\n", {"a", "b", nullptr, nullptr, nullptr, nullptr, nullptr}},
      {"", {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}},
  };
  for (const auto& c : cases) {
    WriteBytes(path, Bytes(c.file));
    const SettingsLines lines = LoadSettingsFile(path);
    for (int i = 0; i < kSettingsLines; ++i) {
      if (c.lines[i] == nullptr) {
        EXPECT_FALSE(lines[i].has_value()) << c.file << " line " << i;
      } else {
        ASSERT_TRUE(lines[i].has_value()) << c.file << " line " << i;
        EXPECT_EQ(lines[i]->toStdString(), c.lines[i]) << c.file << " line " << i;
      }
    }
  }
  const SettingsLines missing = LoadSettingsFile(dir.File("absent.ini"));
  for (const auto& line : missing) EXPECT_FALSE(line.has_value());
}

TEST(SettingsFile, SavesSevenCrLfLinesPrivatelyAndWhole) {
  TempDir dir;
  const std::string path = dir.File("qor_live.ini");
  WriteBytes(path, std::vector<uint8_t>(5000, 'x'));
#ifndef _WIN32  // Windows keeps no mode bits: a profile's folder is its owner's alone
  chmod(path.c_str(), 0644);
#endif
  const Outcome saved = SaveSettingsFile(path, {QStringLiteral("/data/live.fts"), QString::fromUtf8("国立天文台 "),
                                                QStringLiteral("ftp.example.net"), QStringLiteral(""),
                                                QStringLiteral("p w"), QStringLiteral("10"), QStringLiteral("1.5")});
  ASSERT_TRUE(saved.ok) << saved.reason;
  EXPECT_EQ(ReadBytes(path), Bytes("/data/live.fts\r\n\xE5\x9B\xBD\xE7\xAB\x8B\xE5\xA4\xA9\xE6\x96\x87\xE5\x8F\xB0 \r\n"
                                   "ftp.example.net\r\n\r\np w\r\n10\r\n1.5\r\n"));
#ifndef _WIN32
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "the file holds the password";
#endif
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

  const Outcome unwritable = SaveSettingsFile(dir.File("no-dir/qor_live.ini"), {});
  EXPECT_FALSE(unwritable.ok);
}

TEST(ClockTexts, StampArchiveNameAndDirectory) {
  const QDateTime when(QDate(2007, 2, 14), QTime(21, 5, 9));
  EXPECT_EQ(DateTimeStamp(when).toStdString(), "02-14-2007 21:05:09");
  EXPECT_EQ(ArchiveFileName(when).toStdString(), "02142007_210509.fts");
  EXPECT_EQ(DateTimeStamp(QDateTime(QDate(2026, 12, 7), QTime(3, 4, 5))).toStdString(), "12-07-2026 03:04:05");

  EXPECT_EQ(ArchiveDirectory("C:\\QOR_Images\\live.fts", u'\\').toStdString(), "C:\\QOR_Images\\");
  EXPECT_EQ(ArchiveDirectory("/data/qor/live.fts", u'/').toStdString(), "/data/qor/");
  EXPECT_EQ(ArchiveDirectory("live.fts", u'/').toStdString(), "");
  EXPECT_EQ(ArchiveDirectory("/data/qor/", u'/').toStdString(), "/data/qor/");
  EXPECT_EQ(ArchiveDirectory("", u'/').toStdString(), "");
}

}  // namespace

namespace {

// qor_live.conf as Windows editors and accidents leave it: a byte-order mark and CR line ends are
// read as lines; a NUL, a link to nothing and a sun at no altitude are refused with a whole reason.
TEST(OptionsFileTest, ByteOrderMarkCrLinesNulDanglingLinkAndNan) {
  TempDir dir;
  const std::string path = dir.File("qor_live.conf");
  const auto conf = [&](const std::string& text) {
    WriteBytes(path, {text.begin(), text.end()});
    return ReadOptionsFile(path);
  };
  EXPECT_EQ(conf("\xEF\xBB\xBFinterval = 10\rcolour = yes\r").arguments,
            (std::vector<std::string>{"--interval", "10", "--colour"}));
  EXPECT_EQ(conf(std::string("interval = 10\nsite = 1\0002,3\n", 27)).error, path + ":2: site = 1...: a NUL byte in the line");
  EXPECT_EQ(conf("sun-altitude = nan\n").error, path + ":1: sun-altitude = nan: --sun-altitude takes degrees from -90 to 90, not \"nan\"");
#ifndef _WIN32  // Wine shows no link whose target is gone (Windows' own links are reparse points)
  std::filesystem::remove(path);
  ASSERT_TRUE(MakeLink(dir.File("gone.conf"), path));
  EXPECT_EQ(ReadOptionsFile(path).error, path + ": a link to a file that is not there");
#endif
}

}  // namespace
