#include "fits/fits_writer.h"

#include <cstring>
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "fits/fits_reader.h"
#include "tests/support/files.h"
#include "tests/support/fits_builder.h"
#include "tests/support/recording_sink.h"
#include "tests/support/temp_dir.h"

namespace {

class FitsWriterTest : public ::testing::Test {
 protected:
  void ReadFrame(const FitsBuilder& file) {
    file.Write(live_);
    store_.LiveFilePath = live_;
    ASSERT_EQ(reader_.ReadLiveFrame(store_, sink_).status, ReadStatus::kOk);
  }
  std::vector<uint8_t> Archive() {
    store_.ArchiveFilePath = archive_;
    const Outcome written = WriteArchiveFrame(store_);
    EXPECT_TRUE(written.ok) << written.reason;
    return ReadBytes(archive_);
  }
  static std::string CardAt(const std::vector<uint8_t>& bytes, size_t index) {
    return std::string(bytes.begin() + 80 * index, bytes.begin() + 80 * (index + 1));
  }
  void ExpectFitsverifyClean() {
    std::string report;
    RunCommand("fitsverify " + ShellQuote(archive_) + " 2>&1", &report);
    EXPECT_NE(report.find("0 error(s)"), std::string::npos) << report;
  }

  TempDir dir_;
  std::string live_ = dir_.File("live.fts");
  std::string archive_ = dir_.File("12072026_210509.fts");
  static inline FrameStore store_;
  FrameReader reader_;
  RecordingSink sink_;
};

TEST_F(FitsWriterTest, HeaderBlocksAndFixedCards) {
  // END on card 21: 15 blank cards, data at 2880. BITPIX left-aligned and BZERO/BSCALE with other
  // values get the fixed layout; a lower-case card is copied as it is.
  FitsBuilder file = FitsBuilder::Frame(16, 2, 1, {RawCard("BZERO   = 0.0"), ValueCard("BSCALE", "1.0"),
                                                   RawCard("bzero   =                    5")});
  file.cards[1] = RawCard("BITPIX  = 16");
  while (file.cards.size() < 21) file.cards.insert(file.cards.end() - 1, RawCard("HISTORY x"));
  ReadFrame(file.Samples({258, 65535}, 2));
  const std::vector<uint8_t> bytes = Archive();
  EXPECT_EQ(CardAt(bytes, 1), "BITPIX  =                   16" + std::string(50, ' '));
  EXPECT_EQ(CardAt(bytes, 5), "BZERO   =                    0" + std::string(50, ' '));
  EXPECT_EQ(CardAt(bytes, 6), "BSCALE  =                    1" + std::string(50, ' '));
  EXPECT_EQ(CardAt(bytes, 7), RawCard("bzero   =                    5"));
  EXPECT_EQ(CardAt(bytes, 20), RawCard("END"));
  for (int i = 21; i < 36; ++i) EXPECT_EQ(CardAt(bytes, i), std::string(80, ' '));
  EXPECT_EQ(bytes[2880], 0x01);
  EXPECT_EQ(bytes[2881], 0x02);
  EXPECT_EQ(bytes.size(), 5760u);
  // The store keeps the live BITPIX card; BZERO and BSCALE stay replaced until the next read.
  EXPECT_EQ(store_.HeaderCards[2], RawCard("BITPIX  = 16"));
  EXPECT_EQ(store_.HeaderCards[6], CardAt(bytes, 5));
  // No fitsverify here: the lower-case keyword, copied as it is, is rightly an error to it.
}

TEST_F(FitsWriterTest, EndOnCard36And37) {
  for (size_t end_card : {36u, 37u}) {
    FitsBuilder file = FitsBuilder::Frame(8, 1, 1);
    while (file.cards.size() < end_card) file.cards.insert(file.cards.end() - 1, RawCard("COMMENT"));
    ReadFrame(file.Samples({200}, 1));
    const std::vector<uint8_t> bytes = Archive();
    const size_t data = end_card == 36 ? 2880 : 5760;
    EXPECT_EQ(CardAt(bytes, end_card - 1), RawCard("END"));
    EXPECT_EQ(bytes[data], 200);
    EXPECT_EQ(bytes.size(), data + 2880);
  }
}

TEST_F(FitsWriterTest, SamplesAreClampedToTheirWidth) {
  // The store is set directly: values no reader could give, as a rendering stage might leave.
  const struct {
    int bitpix;
    std::vector<int32_t> values;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {8, {-5, 0, 255, 256, 300}, {0x00, 0x00, 0xFF, 0xFF, 0xFF}},
      {16, {258, 65535, 70000, -1}, {0x01, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
      {32, {16909060, -7}, {0x01, 0x02, 0x03, 0x04, 0x00, 0x00, 0x00, 0x00}},
  };
  for (const auto& c : cases) {
    const int width = static_cast<int>(c.values.size());
    ReadFrame(FitsBuilder::Frame(c.bitpix, width, 1).Samples(std::vector<int64_t>(width, 0), c.bitpix / 8));
    for (int x = 0; x < width; ++x) store_.Pixel(x, 0) = c.values[x];
    const std::vector<uint8_t> bytes = Archive();
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 2880, bytes.begin() + 2880 + c.bytes.size()), c.bytes);
    EXPECT_EQ(store_.Pixel(width - 1, 0), c.bitpix == 8 ? 255 : 0) << "the store keeps the clamped values";
    ExpectFitsverifyClean();
  }
}

TEST_F(FitsWriterTest, LastBlockFillIsZeroAndFileEndsOnA2880Boundary) {
  // A taller earlier frame leaves values below the current one: they must not leak into the fill.
  ReadFrame(FitsBuilder::Frame(8, 100, 20).Samples(std::vector<int64_t>(2000, 99), 1));
  ReadFrame(FitsBuilder::Frame(8, 100, 3).Samples(std::vector<int64_t>(300, 5), 1));
  std::vector<uint8_t> bytes = Archive();
  ASSERT_EQ(bytes.size(), 5760u);
  for (size_t i = 2880; i < 3180; ++i) ASSERT_EQ(bytes[i], 5) << i;
  for (size_t i = 3180; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(store_.Pixel(0, 3), 99);

  // 640 x 480 x 16 bits: 600 whole blocks, padded to the next 2880.
  ReadFrame(FitsBuilder::Frame(16, 640, 480).Samples(std::vector<int64_t>(640 * 480, 1000), 2));
  bytes = Archive();
  EXPECT_EQ(bytes.size(), (2880 + 614400 + 2879) / 2880 * 2880);
  ExpectFitsverifyClean();
}

TEST_F(FitsWriterTest, ReplacesAnOlderLongerFileWholeAndLeavesNoTemporary) {
  WriteBytes(archive_, std::vector<uint8_t>(100000, 0xAB));
  ReadFrame(FitsBuilder::Frame(8, 2, 2).Samples({1, 2, 3, 4}, 1));
  EXPECT_EQ(Archive().size(), 5760u);
  size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) entries += !entry.is_directory();
  EXPECT_EQ(entries, 2u);  // live.fts and the archive
  struct stat info {};
  ASSERT_EQ(stat(archive_.c_str(), &info), 0);
  EXPECT_NE(info.st_mode & S_IRGRP, 0u) << "an archive is an ordinary readable file";
}

TEST_F(FitsWriterTest, WriteFailuresAndUnarchivableStoresWriteNothing) {
  ReadFrame(FitsBuilder::Frame(8, 2, 2).Samples({1, 2, 3, 4}, 1));
  store_.ArchiveFilePath = dir_.File("missing-dir/a.fts");
  Outcome result = WriteArchiveFrame(store_);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.reason.find("cannot create a file beside it"), std::string::npos) << result.reason;

  FitsBuilder bad = FitsBuilder::Frame(64, 2, 2);
  bad.Write(live_);
  reader_.ReadLiveFrame(store_, sink_);
  store_.ArchiveFilePath = archive_;
  result = WriteArchiveFrame(store_);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.reason.find("BITPIX"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(archive_));
  store_.BitPix = 16;
  store_.Naxis1 = 0;
  EXPECT_FALSE(WriteArchiveFrame(store_).ok);
  store_.Naxis1 = 2000;
  EXPECT_FALSE(WriteArchiveFrame(store_).ok);
  EXPECT_FALSE(std::filesystem::exists(archive_));
}

TEST_F(FitsWriterTest, FloatFramesArchiveAs32BitIntegers) {
  FitsBuilder file = FitsBuilder::Frame(-32, 3, 1);
  // 1.5, 2.5 and 1000.25 as IEEE singles.
  file.Samples({0x3FC00000, 0x40200000, 0x447A1000}, 4);
  ReadFrame(file);
  EXPECT_EQ(store_.Pixel(0, 0), 2);
  EXPECT_EQ(store_.Pixel(1, 0), 2);
  EXPECT_EQ(store_.Pixel(2, 0), 1000);
  const std::vector<uint8_t> bytes = Archive();
  EXPECT_EQ(CardAt(bytes, 1).substr(0, 30), "BITPIX  =                   32");
  ExpectFitsverifyClean();
}

// A three-plane colour frame read with its planes is archived with all three, clean for
// fitsverify, and reads back plane for plane; read without them it archives its first plane.
TEST_F(FitsWriterTest, ThreeColourPlanesAreArchivedWhole) {
  const int width = 5, height = 3;
  std::vector<int64_t> samples;
  for (int plane = 0; plane < 3; ++plane)
    for (int i = 0; i < width * height; ++i) samples.push_back(1000 * (plane + 1) + i);
  FitsBuilder cube = FitsBuilder::Frame(16, width, height, {ValueCard("NAXIS3", "3")}).Samples(samples, 2);
  cube.cards[2] = ValueCard("NAXIS", "3");
  reader_.set_colour_planes(true);
  ReadFrame(cube);
  ASSERT_EQ(store_.ColourPlaneCount, 2);
  const std::vector<uint8_t> archived = Archive();
  ExpectFitsverifyClean();
  EXPECT_EQ(archived.size(), 2880u + 2880u);
  EXPECT_EQ(CardAt(archived, 5).substr(0, 30), ValueCard("NAXIS3", "3").substr(0, 30));
  store_.LiveFilePath = archive_;
  ASSERT_EQ(reader_.ReadLiveFrame(store_, sink_).status, ReadStatus::kOk);
  ASSERT_EQ(store_.ColourPlaneCount, 2);
  for (int plane = 0; plane < 3; ++plane)
    for (int i = 0; i < width * height; ++i)
      EXPECT_EQ(store_.Plane(plane)[i % width + FrameStore::kSide * (i / width)], 1000 * (plane + 1) + i);

  reader_.set_colour_planes(false);
  ReadFrame(cube);
  EXPECT_EQ(store_.ColourPlaneCount, 0);
  EXPECT_EQ(CardAt(Archive(), 5).substr(0, 30), ValueCard("NAXIS3", "1").substr(0, 30));
}

// Every astropy-written frame: archived, read back by us, checked by fitsverify and by astropy.
TEST_F(FitsWriterTest, ArchivesOfAstropyFramesRoundTrip) {
  std::string listing;
  ASSERT_EQ(RunCommand(std::string(kPython) + " " + TestScript("fits_peer.py") + " make " +
                       ShellQuote(dir_.path().string()), &listing), 0);
  std::istringstream lines(listing);
  std::string name;
  int width, height, low, high, checked = 0;
  while (lines >> name >> width >> height >> low >> high) {
    store_.LiveFilePath = dir_.File(name + ".fits");
    ASSERT_EQ(reader_.ReadLiveFrame(store_, sink_).status, ReadStatus::kOk) << name;
    const int bitpix = static_cast<int>(store_.BitPix);
    archive_ = dir_.File(name + ".archive.fts");
    Archive();  // clamps the store in place: these are the values the archive must hold
    std::vector<uint8_t> clamped;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const int32_t v = store_.Pixel(x, y);
        const uint8_t* p = reinterpret_cast<const uint8_t*>(&v);
        clamped.insert(clamped.end(), p, p + 4);
      }
    WriteBytes(dir_.File(name + ".clamped"), clamped);
    ExpectFitsverifyClean();
    std::string complaint;
    EXPECT_EQ(RunCommand(std::string(kPython) + " " + TestScript("fits_peer.py") + " check " +
                         ShellQuote(archive_) + " " + ShellQuote(dir_.File(name + ".clamped")) + " " +
                         std::to_string(width) + " " + std::to_string(height) + " " +
                         std::to_string(bitpix) + " 2>&1", &complaint), 0) << name << ": " << complaint;

    FrameStore& back = store_;
    const std::vector<int32_t> before(clamped.size() / 4);
    back.LiveFilePath = archive_;
    ASSERT_EQ(reader_.ReadLiveFrame(back, sink_).status, ReadStatus::kOk) << name;
    EXPECT_EQ(back.BitPix, bitpix);
    EXPECT_EQ(back.BZero, 0);
    EXPECT_EQ(back.BScale, 1);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        int32_t want;
        std::memcpy(&want, &clamped[(static_cast<size_t>(y) * width + x) * 4], 4);
        ASSERT_EQ(back.Pixel(x, y), want) << name << " " << x << "," << y;
      }
    ++checked;
  }
  EXPECT_GE(checked, 12);
}

}  // namespace

namespace {

// Archives of many frame sizes in every width, a cube among them, through fitsverify and astropy:
// each must end right after its data's last 2880-byte block and declare what it holds.
TEST(FitsArchiveSweep, EveryArchiveIsCleanForFitsverifyAndAstropy) {
  TempDir dir;
  struct Size {
    int bitpix, width, height;
  };
  std::vector<Size> sizes = {{8, 60, 48}, {16, 40, 36}, {16, 765, 510}, {32, 765, 510}};
  for (int bitpix : {8, 16, 32})
    for (int width = 1; width <= 80; ++width)
      for (int height : {1, 7, 37}) sizes.push_back({bitpix, width, height});
  std::vector<std::string> lives;
  for (const Size& size : sizes) {
    const int count = size.width * size.height;
    std::vector<int64_t> samples(count);
    for (int i = 0; i < count; ++i) samples[i] = (i * 37) % 200;
    lives.push_back(dir.File(std::to_string(lives.size()) + ".live"));
    FitsBuilder::Frame(size.bitpix, size.width, size.height).Samples(samples, size.bitpix / 8).Write(lives.back());
  }
  FitsBuilder cube = FitsBuilder::Frame(16, 100, 100);
  cube.cards[2] = ValueCard("NAXIS", "3");
  cube.cards.insert(cube.cards.begin() + 5, ValueCard("NAXIS3", "3"));
  cube.Samples(std::vector<int64_t>(3 * 100 * 100, 7), 2).Write(dir.File("cube.live"));
  lives.push_back(dir.File("cube.live"));

  static FrameStore store;
  FrameReader reader;
  RecordingSink sink;
  std::string archives;
  for (size_t i = 0; i < lives.size(); ++i) {
    store.LiveFilePath = lives[i];
    ASSERT_EQ(reader.ReadLiveFrame(store, sink).status, ReadStatus::kOk) << lives[i];
    store.ArchiveFilePath = lives[i] + ".fts";
    ASSERT_TRUE(WriteArchiveFrame(store).ok) << lives[i];
    archives.append(" ").append(ShellQuote(store.ArchiveFilePath));
  }
  EXPECT_EQ(store.HeaderCards[6], ValueCard("NAXIS3", "3")) << "the store keeps the card as read";

  std::string report;
  RunCommand("fitsverify -q" + archives + " 2>&1", &report);
  size_t clean = 0;
  for (size_t at = 0; (at = report.find("verification OK", at)) != std::string::npos; ++at) ++clean;
  EXPECT_EQ(clean, lives.size()) << report.substr(0, 3000);
  std::string complaint;
  EXPECT_EQ(RunCommand(std::string(kPython) + " " + TestScript("fits_peer.py") + " verify" + archives + " 2>&1",
                       &complaint), 0) << complaint;
}

}  // namespace
