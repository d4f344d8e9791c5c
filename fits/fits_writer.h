#pragma once
// Writes the frame store as an archive FITS file at store.ArchiveFilePath.

#include "fits/frame_store.h"
#include "base/outcome.h"

/// Archives the frame: the live header with BITPIX, BZERO and BSCALE rewritten (BZERO 0, BSCALE 1)
/// and any NAXIS3 and higher set to 1, blank cards up to whole 36-card blocks, then the pixels
/// clamped to the sample width, zero-filled up to the next multiple of 2880 bytes. The file appears at its path only when
/// complete (written under a temporary name, then renamed over any earlier file). Writes no file
/// when the store holds no archivable frame. Like the writer it mends, it clamps the frame's pixels
/// in the store and leaves the BZERO and BSCALE cards replaced.
Outcome WriteArchiveFrame(FrameStore& store);
