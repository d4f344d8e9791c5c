#pragma once
// A frame that a camera sent as bytes: checked as the live file's reader would take it before
// it may become the live file, and its background measured for the next exposure.

#include <cstddef>
#include <cstdint>

#include "base/outcome.h"

struct FitsBlob {
  Outcome check;  // why the bytes are no frame to publish; success where they are
  int width = 0;
  int height = 0;
  double background_level = -1;  // the median sample's share of full scale, 0 to 1
};

/// A primary FITS header of whole cards up to END within the reader's 500 cards, a BITPIX the
/// reader takes, two axes (a third of three colour planes) within `side_limit` a side and
/// `pixel_limit` pixels, and all the data its header claims.
FitsBlob CheckFitsBlob(const uint8_t* data, size_t size, int side_limit, int64_t pixel_limit);
