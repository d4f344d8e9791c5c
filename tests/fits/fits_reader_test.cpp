#include "fits/fits_reader.h"
#include "fits/file_settling.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>
#include <sstream>

#include <gtest/gtest.h>

#include "base/regular_file.h"
#include "fits/fits_format.h"
#include "tests/support/files.h"
#include "tests/support/fits_builder.h"
#include "tests/support/recording_sink.h"
#include "fits/text_numbers.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int32_t kIntMax = 2147483647;

class FitsReaderTest : public ::testing::Test {
 protected:
  ReadResult Read(const FitsBuilder& file, bool pad = true) {
    file.Write(path_, pad);
    return ReadPath(path_);
  }
  ReadResult ReadPath(const std::string& path) {
    store_.LiveFilePath = path;
    return reader_.ReadLiveFrame(store_, sink_);
  }
  // Fills the store with a recognisable previous frame.
  void PreviousFrame(int value) {
    for (auto& cell : store_.FramePixels) cell = value;
  }

  TempDir dir_;
  std::string path_ = dir_.File("live.fts");
  static inline FrameStore store_;
  FrameReader reader_;
  RecordingSink sink_;
};

TEST_F(FitsReaderTest, SixteenBitSamplesAreUnsignedWordsAndSixtyThousandNeverTheMaximum) {
  ASSERT_EQ(Read(FitsBuilder::Frame(16, 4, 1).Samples({0x0005, 0x7FFF, 0xEA60, 0xFFFF}, 2)).status,
            ReadStatus::kOk);
  EXPECT_EQ(store_.Pixel(0, 0), 5);
  EXPECT_EQ(store_.Pixel(1, 0), 32767);
  EXPECT_EQ(store_.Pixel(2, 0), 60000);
  EXPECT_EQ(store_.Pixel(3, 0), 65535);
  EXPECT_EQ(store_.PixelMax, 32767);
  EXPECT_EQ(store_.PixelMin, 5);

  ASSERT_EQ(Read(FitsBuilder::Frame(16, 2, 1).Samples({60000, 61000}, 2)).status, ReadStatus::kOk);
  EXPECT_EQ(store_.PixelMax, -1);
  EXPECT_EQ(store_.PixelMin, 60000);
}

TEST_F(FitsReaderTest, BscaleRoundsHalvesToEven) {
  ASSERT_EQ(Read(FitsBuilder::Frame(8, 2, 1, {ValueCard("BSCALE", "2.5")}).Samples({1, 3}, 1)).status,
            ReadStatus::kOk);
  EXPECT_EQ(store_.Pixel(0, 0), 2);
  EXPECT_EQ(store_.Pixel(1, 0), 8);
}

TEST_F(FitsReaderTest, EndCardPositionSetsCountAndDataOffset) {
  // END as card 5, 36, 37 and 500 (the last the store holds): data at 2880, 2880, 5760, 40320.
  for (int end_card : {5, 36, 37, 500}) {
    FitsBuilder file = FitsBuilder::Frame(8, 1, 1);
    file.cards.pop_back();
    file.cards.erase(file.cards.begin() + 2);  // no NAXIS card: END can be card 5
    while (static_cast<int>(file.cards.size()) < end_card - 1) file.cards.push_back(RawCard("COMMENT"));
    file.cards.push_back(RawCard("END"));
    file.Samples({77}, 1);
    ASSERT_EQ(Read(file).status, ReadStatus::kOk) << end_card;
    EXPECT_EQ(store_.HeaderCardCount, end_card);
    EXPECT_EQ(store_.Pixel(0, 0), 77) << end_card;
    EXPECT_EQ(ReadBytes(path_).size(), (fits_format::RoundedCardCount(end_card) + 36) * 80);
  }
  // A longer keyword that begins with END also ends the header.
  FitsBuilder file = FitsBuilder::Frame(8, 1, 1);
  file.cards.back() = RawCard("ENDING  = 1");
  file.Samples({9}, 1);
  ASSERT_EQ(Read(file).status, ReadStatus::kOk);
  EXPECT_EQ(store_.HeaderCardCount, 6);
  EXPECT_EQ(store_.Pixel(0, 0), 9);
}

TEST_F(FitsReaderTest, KeywordAndValueColumns) {
  // Later cards win; lower case and "=" in column 8 are not recognised; inner blanks are skipped;
  // a value after column 30 reads as 0; NAXIS3 planes after the first are ignored.
  FitsBuilder file = FitsBuilder::Frame(16, 3, 1, {
      ValueCard("NAXIS1", "2"),                // doubled: the later value wins
      RawCard("bscale  =                  5"),  // lower case: not BSCALE
      RawCard("BZERO  =                 100"),  // "=" in column 8: the keyword is "BZERO  ="
      ValueCard("NAXIS3", "2"),
  });
  file.Samples({1, 2, 3, 4}, 2);
  ASSERT_EQ(Read(file).status, ReadStatus::kOk);
  EXPECT_EQ(store_.Naxis1, 2);
  EXPECT_EQ(store_.BScale, 1);
  EXPECT_EQ(store_.BZero, 0);
  EXPECT_EQ(store_.Pixel(0, 0), 1);
  EXPECT_EQ(store_.Pixel(1, 0), 2);

  FitsBuilder spaced = FitsBuilder::Frame(8, 1, 1, {RawCard("BSCALE  =                 1 6")});
  spaced.Samples({2}, 1);
  ASSERT_EQ(Read(spaced).status, ReadStatus::kOk);
  EXPECT_EQ(store_.BScale, 16);
  EXPECT_EQ(store_.Pixel(0, 0), 32);

  FitsBuilder late = FitsBuilder::Frame(8, 1, 1, {RawCard("BSCALE  =                              3")});
  late.Samples({2}, 1);
  ASSERT_EQ(Read(late).status, ReadStatus::kOk);
  EXPECT_EQ(store_.BScale, 0);
  EXPECT_EQ(store_.Pixel(0, 0), 0);
}

TEST_F(FitsReaderTest, HeaderErrorsReportPathAndTextAndKeepPreviousPixels) {
  const struct {
    std::vector<std::string> cards;
    std::string text;
  } cases[] = {
      {{ValueCard("SIMPLE", "T"), ValueCard("NAXIS1", "1"), ValueCard("NAXIS2", "1")}, "BITPIX error"},
      {{ValueCard("BITPIX", "64"), ValueCard("NAXIS1", "1"), ValueCard("NAXIS2", "1")},
       "BITPIX error : BITPIX = 64"},
      {{ValueCard("BITPIX", "-64")}, "BITPIX error : BITPIX = 64"},
      {{ValueCard("BITPIX", "-1")}, "BITPIX error : BITPIX = 1"},
      {{ValueCard("BITPIX", "7.5")}, "BITPIX error : BITPIX = 7.5"},
      {{ValueCard("BITPIX", "T")}, "BITPIX error : BITPIX = 0"},
      {{ValueCard("BITPIX", "16"), ValueCard("NAXIS2", "1")}, "NAXIS1 error"},
      {{ValueCard("BITPIX", "16"), ValueCard("NAXIS1", "-1"), ValueCard("NAXIS2", "1")}, "NAXIS1 error"},
      {{ValueCard("BITPIX", "16"), ValueCard("NAXIS1", "1")}, "NAXIS2 error"},
  };
  for (const auto& c : cases) {
    PreviousFrame(42);
    sink_.messages.clear();
    FitsBuilder file;
    file.cards = c.cards;
    file.cards.push_back(RawCard("END"));
    file.data.assign(2880, 1);
    const ReadResult result = Read(file);
    EXPECT_EQ(result.status, ReadStatus::kHeaderError) << c.text;
    ASSERT_EQ(sink_.messages.size(), 1u) << c.text;
    EXPECT_EQ(sink_.messages[0], path_ + c.text);
    EXPECT_EQ(store_.PixelMax, -1);
    EXPECT_EQ(store_.PixelMin, kIntMax);
    EXPECT_EQ(store_.Pixel(0, 0), 42);
    EXPECT_EQ(store_.HeaderCardCount, static_cast<int>(file.cards.size()));
  }
}

TEST_F(FitsReaderTest, EmptyAxesGiveNoPixelsAndNoMessage) {
  PreviousFrame(42);
  for (const char* naxis1 : {"0", "-5"}) {
    FitsBuilder file = FitsBuilder::Frame(16, 1, 1);
    file.cards[3] = ValueCard("NAXIS1", naxis1);
    ASSERT_EQ(Read(file).status, ReadStatus::kOk);
    EXPECT_TRUE(sink_.messages.empty());
    EXPECT_EQ(store_.PixelMax, -1);
    EXPECT_EQ(store_.PixelMin, kIntMax);
    EXPECT_EQ(store_.Pixel(0, 0), 42);
  }
}

TEST_F(FitsReaderTest, SmallerFrameLeavesOuterCellsOfTheLargerOne) {
  std::vector<int64_t> big(200 * 200, 7), small(100 * 80, 3);
  ASSERT_EQ(Read(FitsBuilder::Frame(8, 200, 200).Samples(big, 1)).status, ReadStatus::kOk);
  ASSERT_EQ(Read(FitsBuilder::Frame(8, 100, 80).Samples(small, 1)).status, ReadStatus::kOk);
  EXPECT_EQ(store_.Pixel(99, 79), 3);
  EXPECT_EQ(store_.Pixel(100, 0), 7);
  EXPECT_EQ(store_.Pixel(0, 80), 7);
  EXPECT_EQ(store_.PixelMax, 3);
}

TEST_F(FitsReaderTest, FileFaultsLeaveTheStoreAsAfterARejectedHeader) {
  const auto with_cards = [](int count) {
    FitsBuilder file;
    for (int i = 0; i < count; ++i) file.cards.push_back(RawCard("COMMENT"));
    return file;
  };
  FitsBuilder oversized = FitsBuilder::Frame(16, 1538, 1);
  FitsBuilder fractional = FitsBuilder::Frame(16, 1, 1);
  fractional.cards[4] = ValueCard("NAXIS2", "2.5");
  FitsBuilder late_end = with_cards(500);
  late_end.cards.push_back(RawCard("END"));
  FitsBuilder short_data = FitsBuilder::Frame(16, 100, 100).Samples(std::vector<int64_t>(5000, 1), 2);
  FitsBuilder top_bit = FitsBuilder::Frame(32, 2, 1).Samples({1, 0x80000000LL}, 4);
  std::vector<int64_t> wide(100 * 100, 1);
  wide[17] = 0x80000000LL;  // the second half of a word inside the wide check, not in its short tail
  FitsBuilder top_bit_wide = FitsBuilder::Frame(32, 100, 100).Samples(wide, 4);
  const struct {
    std::vector<uint8_t> bytes;
    const char* reason;
  } cases[] = {
      {{}, "the file is empty"},
      {with_cards(3).Bytes(), "the header has no END card"},
      {late_end.Bytes(), "no END card within the first 500 cards"},
      {oversized.Bytes(), "NAXIS1 of 1538 cannot be read"},
      {fractional.Bytes(), "NAXIS2 of 2.5 cannot be read"},
      {short_data.Bytes(false), "the file is shorter than its header promises"},
      {top_bit.Bytes(), "a 32-bit sample has its top bit set"},
      {top_bit_wide.Bytes(), "a 32-bit sample has its top bit set"},
  };
  for (const auto& c : cases) {
    PreviousFrame(42);
    WriteBytes(path_, c.bytes);
    const ReadResult result = ReadPath(path_);
    EXPECT_EQ(result.status, ReadStatus::kFileError) << c.reason;
    EXPECT_NE(result.message.find(c.reason), std::string::npos) << result.message;
    EXPECT_TRUE(sink_.messages.empty());
    EXPECT_EQ(store_.PixelMax, -1);
    EXPECT_EQ(store_.PixelMin, kIntMax);
    EXPECT_EQ(store_.Pixel(0, 0), 42);
    EXPECT_EQ(store_.Pixel(1, 0), 42);
  }
  const ReadResult missing = ReadPath(dir_.File("absent.fts"));
  EXPECT_EQ(missing.status, ReadStatus::kFileError);
  EXPECT_EQ(missing.message.rfind("cannot open the file: ", 0), 0u) << missing.message;
  EXPECT_EQ(ReadPath(dir_.path().string()).status, ReadStatus::kFileError);
}

// Frames beyond 1537 x 1537 only with --large-frames, and then only within its limits; a header
// that claims a huge frame gets no room before the file is known to hold it.
TEST_F(FitsReaderTest, LargeFramesAreTakenWhenAskedWithinTheirLimitsAndNoRoomIsMadeForClaims) {
  std::vector<int64_t> samples(16384 * 3);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int64_t>(i % 50000);
  const FitsBuilder widest = FitsBuilder::Frame(16, 16384, 3).Samples(samples, 2);
  ReadResult refused = Read(widest);
  EXPECT_EQ(refused.message,
            "NAXIS1 of 16384 cannot be read (whole numbers up to 1537 only; --large-frames takes up to 16384)");

  store_.LargeFrames = true;
  ASSERT_EQ(Read(widest).status, ReadStatus::kOk);
  EXPECT_EQ(store_.Pixel(16383, 2), (16384 * 2 + 16383) % 50000);
  EXPECT_EQ(store_.Pixel(0, 1), 16384);
  const size_t room = store_.FramePixels.size();
  const struct {
    FitsBuilder file;
    const char* message;
  } claims[] = {
      {FitsBuilder::Frame(16, 16385, 1), "NAXIS1 of 16385 cannot be read (whole numbers up to 16384 only)"},
      {FitsBuilder::Frame(8, 100000, 1), "NAXIS1 of 100000 cannot be read (whole numbers up to 16384 only)"},
      {FitsBuilder::Frame(16, 16384, 9766), "NAXIS1 x NAXIS2 of 16384 x 9766 cannot be read (up to 160000000 pixels only)"},
      {FitsBuilder::Frame(16, 12000, 12000).Samples(samples, 2),
       "the file is shorter than its header promises (103680 of 288002880 bytes)"},
  };
  for (const auto& claim : claims) EXPECT_EQ(Read(claim.file).message, claim.message);
  EXPECT_EQ(store_.FramePixels.size(), room) << "room was made for a frame the file does not hold";
  store_.LargeFrames = false;
}

// A live file deep in folders, its path longer than Windows' old 260 characters, is read as any;
// on Windows a device's reserved name in its place, and a file held unshared, are refused at once.
TEST_F(FitsReaderTest, AnyPathLengthIsReadAndADeviceNameRefused) {
  std::filesystem::path deep = dir_.path();
  while (deep.string().size() < 300) deep /= std::string(40, 'd');
  std::filesystem::create_directories(deep);
  FitsBuilder::Frame(16, 2, 1).Samples({258, 7}, 2).Write((deep / "live.fts").string());
  ASSERT_EQ(ReadPath((deep / "live.fts").string()).status, ReadStatus::kOk);
  EXPECT_EQ(store_.Pixel(0, 0), 258);
#ifdef _WIN32
  EXPECT_EQ(ReadPath("NUL").message, "not a regular file");
  EXPECT_EQ(ReadPath(dir_.File("COM1")).message, "not a regular file");
  // A capture program that holds the file without sharing it: a refusal at once, never a wait.
  const HANDLE held = CreateFileW((deep / "live.fts").wstring().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const ReadResult locked = ReadPath((deep / "live.fts").string());
  CloseHandle(held);
  EXPECT_EQ(locked.status, ReadStatus::kFileError);
  EXPECT_EQ(locked.message.rfind("cannot open the file: ", 0), 0u) << locked.message;
#endif
}

TEST_F(FitsReaderTest, AFifoIsRefusedAtOnceInsteadOfWaitingForAWriter) {
#ifdef _WIN32
  // Windows' FIFO is a named pipe: opened with no one writing, it too must not hold the read.
  const std::string fifo = "\\\\.\\pipe\\qor-test-live-" + std::to_string(GetCurrentProcessId());
  const HANDLE server = CreateNamedPipeA(fifo.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
#else
  const std::string fifo = dir_.File("live-fifo.fts");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
#endif
  // On a thread of its own, so that a reader that blocks fails this test instead of hanging it.
  auto read = std::make_shared<std::promise<ReadResult>>();
  std::future<ReadResult> done = read->get_future();
  std::thread([read, fifo] {
    static FrameStore store;
    store.LiveFilePath = fifo;
    RecordingSink sink;
    read->set_value(FrameReader().ReadLiveFrame(store, sink));
  }).detach();
  ASSERT_EQ(done.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "blocked on the FIFO";
  const ReadResult result = done.get();
  EXPECT_EQ(result.status, ReadStatus::kFileError);
  EXPECT_EQ(result.message, "not a regular file");
#ifdef _WIN32
  CloseHandle(server);
#endif
}

// A capture program that rewrites the live file in place, or truncates it and writes it again,
// while the station reads: every frame accepted is whole (the header's frame number matches every
// pixel), and every refusal gives a real reason.
TEST_F(FitsReaderTest, AFileRewrittenWhileReadIsNeverAcceptedTorn) {
  constexpr int kSide = 512;
  const auto frame = [](int number) {
    return FitsBuilder::Frame(16, kSide, kSide, {ValueCard("FRAMENO", std::to_string(number))})
        .Samples(std::vector<int64_t>(kSide * kSide, number), 2)
        .Bytes();
  };
  const std::vector<uint8_t> frames[] = {frame(1000), frame(2000)};
  WriteBytes(path_, frames[0]);
  std::atomic<bool> stop = false;
  // Declared after `stop`, so that a failed assertion still stops and joins it.
  struct StopOnExit {
    std::atomic<bool>& stop;
    ~StopOnExit() { stop = true; }
  };
  std::jthread camera([&] {
    for (int n = 0; !stop; ++n) {
      std::fstream file(path_, std::ios::binary | std::ios::out | (n % 3 == 2 ? std::ios::trunc : std::ios::in));
      // One write a frame: a writer that stops for long in the middle of a frame leaves nothing
      // that a reader could tell from a whole file.
      const std::vector<uint8_t>& bytes = frames[n % 2];
      if (!file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())).flush())
        ADD_FAILURE() << "write";
      std::this_thread::sleep_for(std::chrono::milliseconds(n % 5));
    }
  });
  StopOnExit stopper{stop};
  store_.LiveFilePath = path_;
  int whole = 0;
  for (int i = 0; i < 400; ++i) {
    const ReadResult result = reader_.ReadLiveFrame(store_, sink_);
    if (result.status == ReadStatus::kOk) {
      const int number = static_cast<int>(NumericValueOfText(store_.HeaderCards[6].substr(9, 21)));
      ASSERT_EQ(store_.PixelMin, number) << "read " << i;
      ASSERT_EQ(store_.PixelMax, number) << "read " << i;
      ++whole;
    } else {
      ASSERT_EQ(result.status, ReadStatus::kFileError) << result.message;
      ASSERT_EQ(result.message.find("Success"), std::string::npos) << result.message;
    }
  }
  stop = true;
  camera.join();
  EXPECT_TRUE(sink_.messages.empty());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(reader_.ReadLiveFrame(store_, sink_).status, ReadStatus::kOk);
  RecordProperty("whole", whole);
}

// The digest tells frames apart for the stale check: the same data rewritten keeps it, a change
// of one sample anywhere (in the first piece, across the 128 KB pieces, in the half read on the
// other core, in the last bytes, which fill no whole stripe) or two rows swapped gives another.
// 401 x 400 16-bit: 320800 data bytes, read in two halves.
TEST_F(FitsReaderTest, TheDigestChangesWithAnySampleAndOnlyWithTheData) {
  std::vector<int64_t> samples(401 * 400);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = 1000 + static_cast<int64_t>(i * 7919 % 500);
  const auto digest = [&](const std::vector<int64_t>& data) {
    const ReadResult read = Read(FitsBuilder::Frame(16, 401, 400).Samples(data, 2));
    EXPECT_EQ(read.status, ReadStatus::kOk);
    return read.data_digest;
  };
  const uint64_t original = digest(samples);
  EXPECT_EQ(digest(samples), original);
  std::vector<uint64_t> seen = {original};
  for (size_t at : {size_t{0}, size_t{65535}, size_t{65536}, size_t{100000}, samples.size() - 1}) {
    std::vector<int64_t> changed = samples;
    ++changed[at];
    seen.push_back(digest(changed));
  }
  std::vector<int64_t> swapped = samples;
  std::swap_ranges(swapped.begin(), swapped.begin() + 401, swapped.begin() + 401);
  seen.push_back(digest(swapped));
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
}

// Floats round halves to even and saturate; NaN and the infinities are 0 (NaN must not reach an
// integer conversion; an infinity as an extreme would whiten the picture).
// The first eight hold no NaN and nothing beyond 32 bits, so that they are converted as a group.
TEST_F(FitsReaderTest, FloatEdgesRoundAndSaturate) {
  const struct {
    uint32_t bits;
    int32_t value;
  } cases[] = {{0x3FC00000, 2},           {0x40200000, 2},          {0xBFC00000, -2},
               {0x3F000000, 0},           {0xC0200000, -2},         {0x4B000001, 8388609},
               {0x4A800001, 4194304},     {0x4EFFFFFF, 2147483520},
               {0x7FC00000, 0},           {0xFFFFFFFF, 0},          {0x7F800000, 0},
               {0xFF800000, 0}, {0x4F000000, kIntMax},     {0x4EFFFFFF, 2147483520},
               {0xCF000000, -kIntMax - 1}, {0x3F000000, 0},           {0xC0200000, -2},
               {0x4B000001, 8388609},      {0x4A800001, 4194304}};  // 2^23 + 1; 2^22 + 0.5 to even
  std::vector<int64_t> samples;
  for (const auto& c : cases) samples.push_back(c.bits);
  ASSERT_EQ(Read(FitsBuilder::Frame(-32, static_cast<int>(samples.size()), 1).Samples(samples, 4)).status,
            ReadStatus::kOk);
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(store_.Pixel(static_cast<int>(i), 0), cases[i].value) << i;
}

TEST_F(FitsReaderTest, DataMayEndWithoutPaddingToTheBlock) {
  // Only the samples themselves must be present; a reader that demands whole blocks would refuse.
  ASSERT_EQ(Read(FitsBuilder::Frame(16, 3, 1).Samples({1, 2, 3}, 2), false).status, ReadStatus::kOk);
  EXPECT_EQ(store_.Pixel(2, 0), 3);
}

TEST_F(FitsReaderTest, OffsetSamplesAreSignedAndScaledValuesSaturate) {
  ASSERT_EQ(Read(FitsBuilder::Frame(16, 3, 1, {ValueCard("BZERO", "32768")})
                     .Samples({0x8000, 0x0000, 0x7FFF}, 2)).status, ReadStatus::kOk);
  EXPECT_EQ(store_.Pixel(0, 0), 0);
  EXPECT_EQ(store_.Pixel(1, 0), 32768);
  EXPECT_EQ(store_.Pixel(2, 0), 65535);

  // Unsigned 32-bit data: the values from 2^31 on saturate.
  ASSERT_EQ(Read(FitsBuilder::Frame(32, 4, 1, {ValueCard("BZERO", "2147483648")})
                     .Samples({0x80000005LL, 0xFFFFFFFFLL, 0x00000000, 0x7FFFFFFF}, 4)).status, ReadStatus::kOk);
  EXPECT_EQ(store_.Pixel(0, 0), 5);
  EXPECT_EQ(store_.Pixel(1, 0), kIntMax);
  EXPECT_EQ(store_.Pixel(2, 0), kIntMax);
  EXPECT_EQ(store_.Pixel(3, 0), kIntMax);
  EXPECT_EQ(store_.PixelMin, 5);

  ASSERT_EQ(Read(FitsBuilder::Frame(32, 2, 1, {ValueCard("BSCALE", "1000")})
                     .Samples({3000000, 5}, 4)).status, ReadStatus::kOk);
  EXPECT_EQ(store_.Pixel(0, 0), kIntMax);
  EXPECT_EQ(store_.Pixel(1, 0), 5000);
  EXPECT_EQ(store_.PixelMax, kIntMax);
}

// Frames written by astropy at every sample type: every stored pixel and both extremes.
TEST_F(FitsReaderTest, FramesWrittenByAstropyReadPixelForPixel) {
  std::string listing;
  ASSERT_EQ(RunCommand(std::string(kPython) + " " + TestScript("fits_peer.py") + " make " +
                       ShellQuote(dir_.path().string()), &listing), 0);
  std::istringstream lines(listing);
  std::string name;
  int width, height, low, high, frames = 0;
  while (lines >> name >> width >> height >> low >> high) {
    ++frames;
    ASSERT_EQ(ReadPath(dir_.File(name + ".fits")).status, ReadStatus::kOk) << name;
    ASSERT_EQ(store_.Naxis1, width) << name;
    ASSERT_EQ(store_.Naxis2, height) << name;
    const std::vector<uint8_t> expected = ReadBytes(dir_.File(name + ".expected"));
    ASSERT_EQ(expected.size(), static_cast<size_t>(width) * height * 4);
    int wrong = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        int32_t want;
        std::memcpy(&want, &expected[(static_cast<size_t>(y) * width + x) * 4], 4);
        if (store_.Pixel(x, y) != want && wrong++ < 3)
          ADD_FAILURE() << name << " at " << x << "," << y << ": " << store_.Pixel(x, y) << " != " << want;
      }
    EXPECT_EQ(wrong, 0) << name;
    EXPECT_EQ(store_.PixelMin, low) << name;
    EXPECT_EQ(store_.PixelMax, high) << name;
  }
  EXPECT_GE(frames, 12);
}

}  // namespace

namespace {

// The rule that keeps torn frames out on file systems whose clocks are coarse: a file modified
// within a tick of that clock of the read's start may have been written to during the read.
TEST(FileSettling, AFrameWrittenWholeByTheStationsCameraIsReadWithoutWaiting) {
  struct CountingSink : RecordingSink {
    void Pause(std::chrono::nanoseconds) override { ++pauses; }
    int pauses = 0;
  };
  TempDir dir;
  FrameStore store;
  store.LiveFilePath = dir.File("live.fts");
  // Read just after it was written: a reader that trusts nothing waits for the moment in which
  // the write might not show yet (a slow machine, qemu, may be past it by the read: written again).
  FrameReader reader;
  int waits = 0;
  for (int attempt = 0; attempt < 20 && waits == 0; ++attempt) {
    FitsBuilder::Frame(16, 3, 1).Samples({1, 2, 3}, 2).Write(store.LiveFilePath);
    CountingSink waited;
    reader.ReadLiveFrame(store, waited);
    waits = waited.pauses;
  }
  EXPECT_GE(waits, 1);
  RegularFile file;
  ASSERT_TRUE(file.Open(store.LiveFilePath).ok);
  reader.TrustWhole(file.info());
  CountingSink trusted;
  ASSERT_EQ(reader.ReadLiveFrame(store, trusted).status, ReadStatus::kOk);
  EXPECT_EQ(trusted.pauses, 0);
}

TEST(FileSettling, AFileOfWholeSecondsIsSettledOnlyOnceItsSecondHasPassed) {
  const auto file = [](FileTime modified) {
    FileState info;
    info.id = 7;
    info.size = 2880;
    info.modified = info.changed = modified;
    return info;
  };
  const FileState fine = file({1000, 123456789});
  EXPECT_TRUE(MaybeWrittenDuringRead(fine, {1000, 124000000}, fine));
  EXPECT_FALSE(MaybeWrittenDuringRead(fine, {1000, 400000000}, fine));
  const FileState coarse = file({1000, 0});  // ext4 with small inodes, SMB, FAT
  EXPECT_TRUE(MaybeWrittenDuringRead(coarse, {1000, 500000000}, coarse)) << "written in the same second";
  EXPECT_TRUE(MaybeWrittenDuringRead(coarse, {1001, 500000000}, coarse)) << "FAT keeps two seconds";
  EXPECT_FALSE(MaybeWrittenDuringRead(coarse, {1003, 0}, coarse));
  EXPECT_FALSE(MaybeWrittenDuringRead(coarse, {900, 0}, coarse)) << "a time far in the future says nothing";
  FileState grown = fine;
  grown.size += 2880;
  EXPECT_TRUE(MaybeWrittenDuringRead(fine, {2000, 0}, grown));
  // The pause lasts until the file's clock has moved past it, and no longer.
  EXPECT_GE(SettlePause(coarse, {1000, 500000000}), std::chrono::milliseconds(1500));
  EXPECT_LE(SettlePause(coarse, {1000, 500000000}), std::chrono::milliseconds(2100));
  // Two ticks of the file clock and 10 ms: 12 ms on Linux, 41 ms where the tick is 15.6 ms (Windows).
  EXPECT_LE(SettlePause(fine, {1000, 124000000}),
            2 * std::chrono::nanoseconds(FileClockTickNanoseconds()) + std::chrono::milliseconds(10));
}

}  // namespace
