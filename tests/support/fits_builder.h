#pragma once
// Builds FITS files byte by byte for header and layout tests that no FITS library would write.

#include <cstdint>
#include <string>
#include <vector>

/// An 80-character card: `keyword` padded to 8 columns, "= ", and `value` right-justified to end
/// in column 30.
std::string ValueCard(const std::string& keyword, const std::string& value);
/// A card given as its raw text, padded with blanks to 80 characters.
std::string RawCard(const std::string& text);

struct FitsBuilder {
  std::vector<std::string> cards;  // END must be among them where a test wants one
  std::vector<uint8_t> data;       // written at the block boundary after the header

  /// The usual header: SIMPLE, BITPIX, NAXIS 2, NAXIS1, NAXIS2, then `extra`, then END.
  static FitsBuilder Frame(int bitpix, int width, int height, std::vector<std::string> extra = {});

  /// Appends samples of `bytes` bytes each, most significant byte first.
  FitsBuilder& Samples(const std::vector<int64_t>& values, int bytes);

  /// Header cards, blank cards up to whole 36-card blocks, then the data, padded to 2880 bytes
  /// unless `pad_data` is false.
  std::vector<uint8_t> Bytes(bool pad_data = true) const;
  void Write(const std::string& path, bool pad_data = true) const;
};
