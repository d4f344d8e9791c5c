#pragma once
// Byte layout shared by the frame reader and the archive writer.

#include <cstddef>
#include <string_view>

namespace fits_format {

inline constexpr size_t kCardLength = 80;
inline constexpr size_t kCardsPerBlock = 36;
inline constexpr size_t kHeaderBlockBytes = kCardLength * kCardsPerBlock;  // 2880
inline constexpr size_t kDataBlockBytes = 1024;
inline constexpr int kMaxHeaderCards = 500;

// A card: keyword in columns 1-8, "=" in column 9, value text in columns 10-30.
inline constexpr size_t kKeywordLength = 8;
inline constexpr size_t kValueStart = 9;  // 0-based column of the value text
inline constexpr size_t kValueLength = 21;

inline constexpr std::string_view kBitPix = "BITPIX  ";
inline constexpr std::string_view kNaxis1 = "NAXIS1  ";
inline constexpr std::string_view kNaxis2 = "NAXIS2  ";
inline constexpr std::string_view kBZero = "BZERO   ";
inline constexpr std::string_view kBScale = "BSCALE  ";

/// True for the card that closes a header: its first three characters are "END".
inline bool IsEndCard(std::string_view card) { return card.substr(0, 3) == "END"; }

/// Number of cards a header of `cards` cards occupies once filled up to whole 36-card blocks.
inline size_t RoundedCardCount(size_t cards) {
  return (cards + kCardsPerBlock - 1) / kCardsPerBlock * kCardsPerBlock;
}

}  // namespace fits_format
