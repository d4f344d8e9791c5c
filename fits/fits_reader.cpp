#include "fits/fits_reader.h"

#include "fits/file_settling.h"
#include "fits/header_text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

#include <chrono>
#include <thread>

#include "fits/fits_format.h"
#include "fits/frame_digest.h"
#include "base/regular_file.h"
#include "fits/sample_decoder.h"
#include "base/second_core.h"
#include "fits/text_numbers.h"

namespace {

using namespace fits_format;

ReadResult FileError(std::string reason) { return {ReadStatus::kFileError, std::move(reason)}; }
std::nullopt_t Changed() { return std::nullopt; }

// The data are read and decoded a piece at a time, so that each piece is decoded while it is
// still in the processor's cache; a multiple of every sample width and of the digest's 64 bytes.
constexpr size_t kPieceBytes = 128 * 1024;
// From this size on the data are read in parts that two cores share.
constexpr size_t kSplitBytes = 2 * kPieceBytes;
constexpr size_t kPartBytes = 4 * kPieceBytes;  // a part that the two threads share out

double CardValue(std::string_view card) {
  return NumericValueOfText(card.substr(kValueStart, kValueLength));
}

void ScanKeywords(FrameStore& store, bool& bitpix_negative) {
  store.BitPix = -1;
  store.Naxis1 = -1;
  store.Naxis2 = -1;
  store.BZero = 0;
  store.BScale = 1;
  bitpix_negative = false;
  for (int i = 1; i <= store.HeaderCardCount; ++i) {
    std::string_view card = store.HeaderCards[i];
    std::string_view keyword = card.substr(0, kKeywordLength);
    if (keyword == kBitPix) {
      const double value = CardValue(card);
      store.BitPix = std::fabs(value);
      bitpix_negative = value < 0;
    } else if (keyword == kNaxis1) {
      store.Naxis1 = CardValue(card);
    } else if (keyword == kNaxis2) {
      store.Naxis2 = CardValue(card);
    } else if (keyword == kBZero) {
      store.BZero = CardValue(card);
    } else if (keyword == kBScale) {
      store.BScale = CardValue(card);
    }
  }
}

// The header checks in their fixed order; an empty text means the header is accepted.
std::string HeaderFault(const FrameStore& store) {
  if (store.BitPix == -1) return "BITPIX error";
  if (store.BitPix != 8 && store.BitPix != 16 && store.BitPix != 32)
    return "BITPIX error : BITPIX =" + NumberAsText(store.BitPix);
  if (store.Naxis1 == -1) return "NAXIS1 error";
  if (store.Naxis2 == -1) return "NAXIS2 error";
  return {};
}

// What became of one run of the data.
struct DataPart {
  Outcome read = Outcome::Success();
  bool top_bit = false;  // an unsigned 32-bit sample of 2^31 or more, where decoding stopped
  bool Whole() const { return read.ok && !top_bit; }
};

// Reads the data bytes [from, to) a piece at a time into `buffer` (at least a piece long, or the
// whole run) and decodes each piece while it is in the cache.
DataPart ReadData(const RegularFile& file, uint64_t data_offset, size_t from, size_t to,
                  std::vector<uint8_t>& buffer, SampleDecoder& decoder, FrameDigest& digest) {
  DataPart part;
  for (size_t done = from; done < to; done += kPieceBytes) {
    const size_t piece = std::min(kPieceBytes, to - done);
    part.read = file.ReadAt(data_offset + done, buffer.data(), piece);
    if (!part.read.ok) break;
    // The digest's pass also gathers the bits that the decoder checks before it decodes.
    part.top_bit = !decoder.Feed(buffer.data(), piece, digest.Update(buffer.data(), piece));
    if (part.top_bit) break;
  }
  return part;
}

}  // namespace

namespace {

bool HasThreeColourPlanes(const FrameStore& store) {
  const auto number = [&](const char* keyword) {
    const std::optional<std::string> text = HeaderValueText(store, keyword);
    return text ? NumericValueOfText(*text) : 0.0;
  };
  return number("NAXIS") == 3 && number("NAXIS3") == 3;
}

}  // namespace

ReadResult FrameReader::ReadLiveFrame(FrameStore& store, HeaderErrorSink& sink) {
  std::optional<ReadResult> attempt;
  sink.RunAttempt([&] { attempt = ReadOnce(store); });
  if (!attempt) {
    sink.Pause(SettlePause(last_seen_, FileClockNow()));
    sink.RunAttempt([&] { attempt = ReadOnce(store); });
  }
  const ReadResult result = attempt ? *attempt : FileError("the file changed while it was read");
  // The box is shown only for a header that held still while it was read.
  if (result.status == ReadStatus::kHeaderError) sink.ShowHeaderError(result.message);
  return result;
}

namespace {

// One attempt's end: a verdict, or nothing where the file changed while it was read.
using Attempt = std::optional<ReadResult>;

// Header pass: whole cards only, up to the END card, never past the store's 500 cards; then the
// keywords and the header checks. False, with `ended` set, where the read ends here.
template <typename Settled>
bool ReadHeader(const RegularFile& file, FrameStore& store, std::vector<uint8_t>& buffer, const Settled& settled,
                int& end_card, bool& bitpix_negative, Attempt& ended) {
  const uint64_t file_size = file.info().size;
  const size_t header_bytes = static_cast<size_t>(
      std::min<uint64_t>(file_size / kCardLength, kMaxHeaderCards) * kCardLength);
  buffer.resize(std::max(buffer.size(), header_bytes));
  if (const Outcome read = file.ReadAt(0, buffer.data(), header_bytes); !read.ok) {
    ended = settled() ? Attempt(FileError("cannot read the header: " + read.reason)) : Changed();
    return false;
  }
  end_card = 0;
  const int records = static_cast<int>(header_bytes / kCardLength);
  for (int i = 1; i <= records && end_card == 0; ++i) {
    const char* card = reinterpret_cast<const char*>(buffer.data()) + (i - 1) * kCardLength;
    store.HeaderCards[i].assign(card, kCardLength);
    if (IsEndCard(store.HeaderCards[i])) end_card = i;
  }
  store.HeaderCardCount = end_card;
  ScanKeywords(store, bitpix_negative);
  if (end_card == 0) {
    if (!settled()) ended = Changed();
    else if (file_size == 0) ended = FileError("the file is empty");
    else if (file_size / kCardLength > kMaxHeaderCards) ended = FileError("no END card within the first 500 cards");
    else ended = FileError("the header has no END card");
    return false;
  }
  if (std::string fault = HeaderFault(store); !fault.empty()) {
    ended = settled() ? Attempt(ReadResult{ReadStatus::kHeaderError, store.LiveFilePath + fault}) : Changed();
    return false;
  }
  return true;
}

// Where the data of an accepted header lie and how they are read.
struct DataLayout {
  SampleRule rule;
  int width = 0, height = 0;
  uint64_t offset = 0;  // of the first sample in the file
  size_t bytes = 0;     // of one plane
};

// The frame's size and the data's place; false, with `ended` set, where the frame is one that
// cannot be read or has no pixels, or the file is too short for it.
// The refusal of an axis that no stage may walk, saying how far the station could go.
std::string AxisRefusal(const char* name, double naxis, bool large_frames) {
  std::string limit = large_frames ? "whole numbers up to " + std::to_string(FrameStore::kLargeSide) + " only"
                                   : "whole numbers up to " + std::to_string(FrameStore::kSide) + " only";
  if (!large_frames && naxis > FrameStore::kSide)
    limit += "; --large-frames takes up to " + std::to_string(FrameStore::kLargeSide);
  return std::string(name) + " of " + ShortestDecimal(naxis) + " cannot be read (" + limit + ")";
}

bool PlaceData(FrameStore& store, const RegularFile& file, int end_card, bool bitpix_negative, bool planes,
               DataLayout& layout, Attempt& ended) {
  const auto width = WalkableAxis(store.Naxis1, store.SideLimit());
  const auto height = WalkableAxis(store.Naxis2, store.SideLimit());
  if (!width) ended = FileError(AxisRefusal("NAXIS1", store.Naxis1, store.LargeFrames));
  else if (!height) ended = FileError(AxisRefusal("NAXIS2", store.Naxis2, store.LargeFrames));
  if (!width || !height) return false;
  if (*width == 0 || *height == 0) {
    ReadResult empty;
    empty.modified = file.info().modified.seconds;
    ended = empty;
    return false;
  }
  if (int64_t{*width} * *height > FrameStore::kLargePixels) {
    ended = FileError("NAXIS1 x NAXIS2 of " + std::to_string(*width) + " x " + std::to_string(*height) +
                      " cannot be read (up to " + std::to_string(FrameStore::kLargePixels) + " pixels only)");
    return false;
  }
  layout = {RuleFor(store, bitpix_negative), *width, *height,
            RoundedCardCount(static_cast<size_t>(end_card)) * kCardLength, 0};
  layout.bytes = static_cast<size_t>(*width) * *height * layout.rule.bytes;
  const uint64_t file_size = file.info().size;
  if (file_size < layout.offset + layout.bytes) {
    ended = FileError("the file is shorter than its header promises (" + std::to_string(file_size) + " of " +
                      std::to_string(layout.offset + layout.bytes) + " bytes)");
    return false;
  }
  if (planes && file_size < layout.offset + 3 * layout.bytes) {
    ended = FileError("the file is shorter than its three colour planes (" + std::to_string(file_size) + " of " +
                      std::to_string(layout.offset + 3 * layout.bytes) + " bytes)");
    return false;
  }
  // Only now that the file holds the frame is room made for it.
  if (!store.MakeRoom(*width, *height, planes)) {
    ended = FileError("not enough memory for a frame of " + std::to_string(*width) + " x " + std::to_string(*height));
    return false;
  }
  return true;
}

// What the data pass found: each run's fate, and the extremes of what was decoded.
struct DataRead {
  std::vector<DataPart> parts;
  int32_t min = INT32_MAX, max = INT32_MIN;
  bool Whole() const {
    return std::all_of(parts.begin(), parts.end(), [](const DataPart& part) { return part.Whole(); });
  }
};

// The first plane. A large frame is read in parts that this thread and the helper take in turn:
// decoding is most of the reading, and this thread begins at once however long the helper takes
// to wake. The parts end at whole 64-byte stripes so that their digests add up in order; the bytes
// after the last whole stripe are read last.
DataRead ReadFirstPlane(const RegularFile& file, FrameStore& store, const DataLayout& layout,
                        std::vector<uint8_t>& buffer, std::vector<uint8_t>& second_buffer, FrameDigest& digest) {
  const size_t data_bytes = layout.bytes;
  const bool split = data_bytes >= kSplitBytes;
  const size_t whole_stripes = split ? data_bytes / 64 * 64 : data_bytes;
  const int parts = split ? static_cast<int>(std::clamp<size_t>(whole_stripes / kPartBytes, 2, 16)) : 1;
  const auto part_start = [&](int i) { return i == parts ? whole_stripes : whole_stripes * i / parts / 64 * 64; };
  buffer.resize(std::max(buffer.size(), std::min(kPieceBytes, data_bytes)));
  if (split) second_buffer.resize(std::max(second_buffer.size(), kPieceBytes));
  struct Part {
    DataPart data;
    FrameDigest digest = FrameDigest::PartFrom(0);
    int32_t min = INT32_MAX, max = INT32_MIN;
  };
  std::vector<Part> read_parts(static_cast<size_t>(parts));
  ShareParts(parts, [&](int worker, int i) {
    Part& part = read_parts[static_cast<size_t>(i)];
    const size_t from = part_start(i);
    part.digest = FrameDigest::PartFrom(from);
    SampleDecoder decoder(layout.rule, layout.width, store, from / layout.rule.bytes);
    part.data = ReadData(file, layout.offset, from, part_start(i + 1), worker == 0 ? buffer : second_buffer, decoder,
                         i == 0 ? digest : part.digest);
    part.min = decoder.min();
    part.max = decoder.max();
  });
  DataRead read;
  for (int i = 0; i < parts; ++i) {
    const Part& part = read_parts[static_cast<size_t>(i)];
    if (i > 0) digest.Append(part.digest);
    read.parts.push_back(part.data);
    read.min = std::min(read.min, part.min);
    read.max = std::max(read.max, part.max);
  }
  if (!read.Whole()) return read;
  SampleDecoder last(layout.rule, layout.width, store, whole_stripes / layout.rule.bytes);
  read.parts.push_back(ReadData(file, layout.offset, whole_stripes, data_bytes, buffer, last, digest));
  read.min = std::min(read.min, last.min());
  read.max = std::max(read.max, last.max());
  return read;
}

// A three-plane frame's green and blue planes: after the red one, in order, into the same digest.
void ReadOtherPlanes(const RegularFile& file, FrameStore& store, const DataLayout& layout, std::vector<uint8_t>& buffer,
                     FrameDigest& digest, DataRead& read) {
  for (int plane = 1; plane <= 2 && read.Whole(); ++plane) {
    SampleDecoder decoder(layout.rule, layout.width, store, 0, plane);
    read.parts.push_back(
        ReadData(file, layout.offset, plane * layout.bytes, (plane + 1) * layout.bytes, buffer, decoder, digest));
  }
}

// The verdict on data that held still while they were read.
ReadResult DataVerdict(const DataRead& read) {
  for (const DataPart& part : read.parts) {
    if (!part.read.ok) return FileError("cannot read the data: " + part.read.reason);
    // Unsigned 32-bit samples of 2^31 and more have no signed 32-bit value.
    if (part.top_bit) return FileError("a 32-bit sample has its top bit set");
  }
  return {};
}

}  // namespace

// A file refused anywhere (a top-bit sample, a short or changing file) may have left the rows
// decoded before the fault in the store; its extremes say that no frame was read.
std::optional<ReadResult> FrameReader::ReadOnce(FrameStore& store) {
  store.PixelMax = -1;
  store.PixelMin = std::numeric_limits<int32_t>::max();

  RegularFile file;
  if (const Outcome opened = file.Open(store.LiveFilePath); !opened.ok) return FileError(opened.reason);
  const FileTime opened_at = FileClockNow();
  const FileState& before = file.info();
  const auto unchanged = [](const FileState& a, const FileState& b) {
    return a.SameFileAs(b) && a.size == b.size && a.modified == b.modified && a.changed == b.changed;
  };
  const bool trusted = trusted_ && unchanged(*trusted_, before);
  const auto settled = [&]() {
    last_seen_ = before;
    if (!file.Stat(last_seen_).ok) return false;
    return trusted ? unchanged(before, last_seen_) : !MaybeWrittenDuringRead(before, opened_at, last_seen_);
  };

  Attempt ended;
  int end_card = 0;
  bool bitpix_negative = false;
  if (!ReadHeader(file, store, buffer_, settled, end_card, bitpix_negative, ended)) return ended;
  store.ColourPlaneCount = 0;  // the planes in the store are no longer the earlier frame's
  const bool planes = colour_planes_ && HasThreeColourPlanes(store);
  DataLayout layout;
  if (!PlaceData(store, file, end_card, bitpix_negative, planes, layout, ended)) return ended;

  FrameDigest digest(static_cast<uint64_t>(layout.width) << 32 | static_cast<uint64_t>(layout.height));
  DataRead read = ReadFirstPlane(file, store, layout, buffer_, second_buffer_, digest);
  if (planes) ReadOtherPlanes(file, store, layout, buffer_, digest, read);
  if (!settled()) return Changed();
  ReadResult verdict = DataVerdict(read);
  if (verdict.status != ReadStatus::kOk) return verdict;

  if (planes) store.ColourPlaneCount = 2;
  store.PixelMax = read.max;
  store.PixelMin = read.min;
  verdict.data_digest = digest.Finish();
  verdict.modified = before.modified.seconds;
  return verdict;
}
