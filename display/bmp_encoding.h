// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A 32-bit RGB raster as a Windows BMP of 24 bits, byte for byte as Qt writes one, without Qt:
// the export encodes it on the second core, and a thread that has run Qt code is left with Qt's
// per-thread state, which Windows builds tear down after Qt itself when the program ends.

#include <cstdint>
#include <vector>

#include <QImage>

/// The BMP file of `image` (Format_RGB32): rows bottom-up, blue, green, red, each row padded to
/// four bytes, 96 dots per inch as Qt's default resolution. Only reads the raster's bytes.
std::vector<uint8_t> EncodeBmp24(const QImage& image);
