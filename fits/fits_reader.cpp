#include "fits/fits_reader.h"

#include "fits/file_settling.h"
#include "fits/header_text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

#include <sys/stat.h>
#include <time.h>

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
  std::optional<ReadResult> attempt = ReadOnce(store);
  if (!attempt) {
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    sink.Pause(SettlePause(last_seen_, now));
    attempt = ReadOnce(store);
  }
  const ReadResult result = attempt ? *attempt : FileError("the file changed while it was read");
  // The box is shown only for a header that held still while it was read.
  if (result.status == ReadStatus::kHeaderError) sink.ShowHeaderError(result.message);
  return result;
}

std::optional<ReadResult> FrameReader::ReadOnce(FrameStore& store) {
  store.PixelMax = -1;
  store.PixelMin = std::numeric_limits<int32_t>::max();

  RegularFile file;
  if (const Outcome opened = file.Open(store.LiveFilePath); !opened.ok) return FileError(opened.reason);
  timespec opened_at {};
  clock_gettime(CLOCK_REALTIME, &opened_at);
  const struct stat& before = file.info();
  const uint64_t file_size = static_cast<uint64_t>(before.st_size);
  const auto settled = [&]() {
    last_seen_ = before;
    return file.Stat(last_seen_).ok && !MaybeWrittenDuringRead(before, opened_at, last_seen_);
  };

  // Header pass: whole cards only, up to the END card, never past the store's 500 cards.
  const size_t header_bytes = static_cast<size_t>(
      std::min<uint64_t>(file_size / kCardLength, kMaxHeaderCards) * kCardLength);
  buffer_.resize(std::max(buffer_.size(), header_bytes));
  if (const Outcome read = file.ReadAt(0, buffer_.data(), header_bytes); !read.ok)
    return settled() ? std::optional(FileError("cannot read the header: " + read.reason)) : Changed();

  int end_card = 0;
  const int records = static_cast<int>(header_bytes / kCardLength);
  for (int i = 1; i <= records && end_card == 0; ++i) {
    const char* card = reinterpret_cast<const char*>(buffer_.data()) + (i - 1) * kCardLength;
    store.HeaderCards[i].assign(card, kCardLength);
    if (IsEndCard(store.HeaderCards[i])) end_card = i;
  }
  bool bitpix_negative = false;
  if (end_card == 0) {
    store.HeaderCardCount = 0;
    ScanKeywords(store, bitpix_negative);
    if (!settled()) return Changed();
    if (file_size == 0) return FileError("the file is empty");
    if (file_size / kCardLength > kMaxHeaderCards)
      return FileError("no END card within the first 500 cards");
    return FileError("the header has no END card");
  }
  store.HeaderCardCount = end_card;
  ScanKeywords(store, bitpix_negative);

  if (std::string fault = HeaderFault(store); !fault.empty()) {
    if (!settled()) return Changed();
    return ReadResult{ReadStatus::kHeaderError, store.LiveFilePath + fault};
  }

  const auto width = WalkableAxis(store.Naxis1);
  if (!width) return FileError("NAXIS1 of " + ShortestDecimal(store.Naxis1) + " cannot be read (whole numbers up to 1537 only)");
  const auto height = WalkableAxis(store.Naxis2);
  if (!height) return FileError("NAXIS2 of " + ShortestDecimal(store.Naxis2) + " cannot be read (whole numbers up to 1537 only)");
  if (*width == 0 || *height == 0) {
    ReadResult empty;
    empty.modified = before.st_mtim.tv_sec;
    return empty;
  }

  const SampleRule rule = RuleFor(store, bitpix_negative);
  const uint64_t data_offset = RoundedCardCount(static_cast<size_t>(end_card)) * kCardLength;
  const size_t data_bytes = static_cast<size_t>(*width) * *height * rule.bytes;
  if (file_size < data_offset + data_bytes)
    return FileError("the file is shorter than its header promises (" + std::to_string(file_size) +
                     " of " + std::to_string(data_offset + data_bytes) + " bytes)");

  // A file refused here (a top-bit sample, a short or changing file) may have left the rows
  // decoded before the fault in the store; its extremes say that no frame was read.
  // A large frame is read in parts that this thread and the helper take in turn: decoding is most
  // of the reading, and this thread begins at once however long the helper takes to wake. The
  // parts end at whole 64-byte stripes so that their digests add up in order; the bytes after the
  // last whole stripe are read last.
  const bool split = data_bytes >= kSplitBytes;
  const size_t whole_stripes = split ? data_bytes / 64 * 64 : data_bytes;
  const int parts = split ? static_cast<int>(std::clamp<size_t>(whole_stripes / kPartBytes, 2, 16)) : 1;
  const auto part_start = [&](int i) { return i == parts ? whole_stripes : whole_stripes * i / parts / 64 * 64; };
  buffer_.resize(std::max(buffer_.size(), std::min(kPieceBytes, data_bytes)));
  if (split) second_buffer_.resize(std::max(second_buffer_.size(), kPieceBytes));
  FrameDigest digest(static_cast<uint64_t>(*width) << 32 | static_cast<uint64_t>(*height));
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
    SampleDecoder decoder(rule, *width, store, from / rule.bytes);
    part.data = ReadData(file, data_offset, from, part_start(i + 1), worker == 0 ? buffer_ : second_buffer_, decoder,
                         i == 0 ? digest : part.digest);
    part.min = decoder.min();
    part.max = decoder.max();
  });
  bool whole = true;
  int32_t low = INT32_MAX, high = INT32_MIN;
  for (int i = 0; i < parts; ++i) {
    const Part& part = read_parts[static_cast<size_t>(i)];
    if (i > 0) digest.Append(part.digest);
    whole = whole && part.data.Whole();
    low = std::min(low, part.min);
    high = std::max(high, part.max);
  }
  SampleDecoder last(rule, *width, store, whole_stripes / rule.bytes);
  DataPart last_part;
  if (whole) last_part = ReadData(file, data_offset, whole_stripes, data_bytes, buffer_, last, digest);
  // A three-plane frame's green and blue planes, where asked for: after the red one, in order,
  // into the same digest.
  store.ColourPlaneCount = 0;
  DataPart planes_part;
  const bool planes = colour_planes_ && whole && last_part.Whole() &&
                      HasThreeColourPlanes(store);
  if (planes) {
    if (file_size < data_offset + 3 * data_bytes)
      return FileError("the file is shorter than its three colour planes (" + std::to_string(file_size) + " of " +
                       std::to_string(data_offset + 3 * data_bytes) + " bytes)");
    if (store.ColourPlanes.empty()) store.ColourPlanes.resize(size_t{2} * FrameStore::kSide * FrameStore::kSide);
    for (int plane = 1; plane <= 2 && planes_part.Whole(); ++plane) {
      SampleDecoder decoder(rule, *width, store, 0, plane);
      planes_part = ReadData(file, data_offset, plane * data_bytes, (plane + 1) * data_bytes, buffer_, decoder, digest);
    }
  }
  if (!settled()) return Changed();
  std::vector<DataPart> data_parts;
  for (const Part& part : read_parts) data_parts.push_back(part.data);
  data_parts.push_back(last_part);
  data_parts.push_back(planes_part);
  for (const DataPart& part : data_parts) {
    if (!part.read.ok) return FileError("cannot read the data: " + part.read.reason);
    // Unsigned 32-bit samples of 2^31 and more have no signed 32-bit value.
    if (part.top_bit) return FileError("a 32-bit sample has its top bit set");
  }
  if (planes) store.ColourPlaneCount = 2;

  store.PixelMax = std::max(high, last.max());
  store.PixelMin = std::min(low, last.min());
  ReadResult accepted;
  accepted.data_digest = digest.Finish();
  accepted.modified = before.st_mtim.tv_sec;
  return accepted;
}
