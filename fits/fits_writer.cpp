#include "fits/fits_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "fits/fits_checksum.h"
#include "fits/fits_format.h"

namespace {

using namespace fits_format;

std::string FixedCard(std::string_view keyword, std::string_view value) {
  // Keyword in columns 1-8, "=" in column 9, the value ending in column 30, blanks to column 80.
  std::string card(kCardLength, ' ');
  card.replace(0, keyword.size(), keyword);
  card[8] = '=';
  card.replace(30 - value.size(), value.size(), value);
  return card;
}

// "NAXIS3" to "NAXIS999": the axes beyond the frame's two.
bool IsHigherAxisKeyword(std::string_view keyword) {
  const std::string_view name = keyword.substr(0, keyword.find_last_not_of(' ') + 1);
  if (name.size() < 6 || name.substr(0, 5) != "NAXIS") return false;
  const std::string_view digits = name.substr(5);
  if (digits.find_first_not_of("0123456789") != std::string_view::npos || digits[0] == '0') return false;
  return digits.size() > 1 || digits[0] >= '3';
}

int32_t Clamp(int32_t value, int bytes) {
  if (value < 0) return 0;
  if (bytes == 1 && value > 255) return 255;
  if (bytes == 2 && value > 65535) return 65535;
  return value;
}

// The data unit, written a piece at a time after the header's place in the new file: a large
// frame's archive is never held in memory whole. Its sum is kept for the header's checksums.
class DataUnitWriter {
 public:
  DataUnitWriter(AtomicFileWriter& file, uint64_t offset) : file_(file), offset_(offset) { piece_.reserve(kPieceBytes + 4 * FrameStore::kLargeSide); }

  /// Room for the next `size` bytes of the data unit.
  uint8_t* Next(size_t size) {
    piece_.resize(piece_.size() + size);
    return piece_.data() + piece_.size() - size;
  }
  /// Writes what whole 32-bit words are gathered once a piece is full, or all at the end.
  Outcome Flush(bool last) {
    if (!last && piece_.size() < kPieceBytes) return Outcome::Success();
    const size_t bytes = last ? piece_.size() : piece_.size() / 4 * 4;
    sum_ = fits_checksum::Add(sum_, fits_checksum::Sum(piece_.data(), bytes));
    const Outcome written = file_.WriteAt(offset_, piece_.data(), bytes);
    offset_ += bytes;
    piece_.erase(piece_.begin(), piece_.begin() + static_cast<std::ptrdiff_t>(bytes));
    return written;
  }
  uint32_t sum() const { return sum_; }

 private:
  static constexpr size_t kPieceBytes = 1 << 20;
  AtomicFileWriter& file_;
  uint64_t offset_;
  std::vector<uint8_t> piece_;
  uint32_t sum_ = 0;
};

}  // namespace

Outcome WriteArchiveFrame(FrameStore& store) {
  if (store.BitPix != 8 && store.BitPix != 16 && store.BitPix != 32)
    return Outcome::Failure("no archivable frame: BITPIX is not 8, 16 or 32");
  const FrameExtent extent = WalkableExtent(store);
  if (extent.width < 1 || extent.height < 1)
    return Outcome::Failure("no archivable frame: NAXIS1 and NAXIS2 must be 1 to " + std::to_string(store.SideLimit()));
  if (store.HeaderCardCount < 1 || store.HeaderCardCount > kMaxHeaderCards)
    return Outcome::Failure("no archivable frame: no header was read");

  const int bytes = static_cast<int>(store.BitPix) / 8;
  const int cards = store.HeaderCardCount;
  const size_t header_cards = RoundedCardCount(static_cast<size_t>(cards));
  // A three-plane colour frame keeps its three planes; any other cube keeps its first.
  const int planes = store.ColourPlaneCount == 2 ? 3 : 1;
  const size_t sample_bytes = static_cast<size_t>(extent.width) * extent.height * bytes * planes;
  // The header is whole 2880-byte blocks already; the data are followed by zeros up to the next
  // 2880 bytes and nothing more, or FITS readers report bytes after the last unit.
  const size_t header_bytes = header_cards * kCardLength;
  const size_t data_bytes = (sample_bytes + kHeaderBlockBytes - 1) / kHeaderBlockBytes * kHeaderBlockBytes;

  // Blank cards after the last one.
  std::vector<uint8_t> header(header_bytes, ' ');
  const std::string bitpix_value = (bytes == 1 ? " 8" : bytes == 2 ? "16" : "32");
  for (int i = 1; i <= cards; ++i) {
    std::string& card = store.HeaderCards[i];
    card.resize(kCardLength, ' ');
    const std::string_view keyword = std::string_view(card).substr(0, kKeywordLength);
    std::string text = card;
    if (keyword == kBZero) {
      card = text = FixedCard(kBZero, "0");
    } else if (keyword == kBScale) {
      card = text = FixedCard(kBScale, "1");
    } else if (keyword == kBitPix) {
      text = FixedCard(kBitPix, bitpix_value);  // the store keeps the live file's BITPIX card
    } else if (IsHigherAxisKeyword(keyword) && !(planes == 3 && keyword == "NAXIS3  ")) {
      // The archive holds one plane (or the three colour planes): a cube's further axes are
      // declared 1 long, in place.
      text = FixedCard(keyword, "1");
    }
    std::memcpy(header.data() + (i - 1) * kCardLength, text.data(), kCardLength);
  }

  AtomicFileWriter file(store.ArchiveFilePath);
  const auto failed = [&](const Outcome& outcome) {
    return Outcome::Failure("archive " + store.ArchiveFilePath + ": " + outcome.reason, outcome.code);
  };
  DataUnitWriter data(file, header_bytes);
  for (int plane = 0; plane < planes; ++plane) {
    for (int y = 0; y < extent.height; ++y) {
      int32_t* row = store.Plane(plane) + static_cast<size_t>(store.Stride) * y;
      uint8_t* out = data.Next(static_cast<size_t>(extent.width) * bytes);
      for (int x = 0; x < extent.width; ++x) {
        const int32_t v = row[x] = Clamp(row[x], bytes);
        const uint32_t u = static_cast<uint32_t>(v);
        if (bytes == 1) {
          *out++ = static_cast<uint8_t>(u);
        } else if (bytes == 2) {
          *out++ = static_cast<uint8_t>(u >> 8);
          *out++ = static_cast<uint8_t>(u);
        } else {
          *out++ = static_cast<uint8_t>(u >> 24);
          *out++ = static_cast<uint8_t>(u >> 16);
          *out++ = static_cast<uint8_t>(u >> 8);
          *out++ = static_cast<uint8_t>(u);
        }
      }
      if (const Outcome written = data.Flush(false); !written.ok) return failed(written);
    }
  }
  // Zeros up to the end of the data unit's last block; they add nothing to its sum.
  std::memset(data.Next(data_bytes - sample_bytes), 0, data_bytes - sample_bytes);
  if (const Outcome written = data.Flush(true); !written.ok) return failed(written);

  // Checksums copied from the live file no longer fit the rewritten cards and samples.
  fits_checksum::UpdateWithDataSum(header.data(), header_bytes, data.sum());
  if (const Outcome written = file.WriteAt(0, header.data(), header_bytes); !written.ok) return failed(written);
  if (const Outcome committed = file.Commit(); !committed.ok) return failed(committed);
  return Outcome::Success();
}
