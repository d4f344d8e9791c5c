// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The colour picture of a frame that holds a colour camera's raw colour-filter mosaic (a BAYERPAT
// card), or red, green and blue planes (NAXIS3 = 3). Each picture pixel takes, for each colour,
// the mean of that colour's sites in its box of the frame (the box of the grey picture: one
// pixel, or many where the picture is scaled down); where its box holds no site of a colour, the
// sites of the box and its eight neighbours are taken, so that at full size this is bilinear
// demosaicing and a scaled picture is binned.
//
// The display range is the design's, computed from the frame's luminance (each 2 x 2 cell's
// balanced mean), and the same band stretches the three colours, so the colour picture is as
// bright as the grey one. White balance: fixed gains, or automatically the gains that make the
// median of each colour's sites (the sky's background, on a sky frame) equal to green's.

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "display/bilinear_demosaic.h"
#include "display/picture_scaler.h"
#include "display/picture_size.h"
#include "display/picture_surface.h"
#include "fits/frame_store.h"

/// The mosaic of the frame in `store` from its BAYERPAT (RGGB, BGGR, GRBG or GBRG), XBAYROFF and
/// YBAYROFF cards, with ROWORDER = 'BOTTOM-UP' read as the image's last row stored first; nothing
/// for a frame without a known pattern.
std::optional<MosaicLayout> MosaicOf(const FrameStore& store);

class ColourPath {
 public:
  /// The automatic gains stay within those a user may give.
  static constexpr double kSmallestGain = 0.01, kLargestGain = 100;

  ColourPath();
  ~ColourPath();

  /// Fixed gains for red, green and blue; nothing: automatic.
  void SetWhiteBalance(std::optional<std::array<double, 3>> gains) { fixed_gains_ = gains; }

  /// True when the frame read last holds a mosaic or three colour planes: the next two steps
  /// then apply.
  bool Applies(const FrameStore& store);
  /// The display range of the frame's luminance, left in the store as ComputeDisplayRange does.
  void ComputeRange(FrameStore& store);
  /// Rescales the range by the coefficients and draws the colour picture of `size`.
  void Render(FrameStore& store, PictureSurface& picture, const PictureSize& size);

  const std::array<double, 3>& gains() const { return gains_; }

 private:
  void Balance(const FrameStore& store);

  bool planes_ = false;  // three planes rather than a mosaic
  MosaicLayout layout_;
  std::optional<std::array<double, 3>> fixed_gains_;
  std::array<double, 3> gains_{1, 1, 1};
  std::unique_ptr<FrameStore> luminance_;  // made at the first colour frame: 9.4 MB
  PictureScaler scaler_;
};
