#pragma once
// Saves the picture as "live2.bmp" and converts it to "live2.jpg", the file the cycle uploads.

#include <cstdint>
#include <string>

#include <QImage>

#include "display/picture_surface.h"
#include "base/outcome.h"

/// Reads the BMP file `bmp_path` and writes it as a JPEG of the given quality (1 to 100) to
/// `jpeg_path`; `progressive` 0 selects a baseline file. Chroma is kept at full resolution (4:4:4)
/// so that thin red lettering stays legible. The JPEG appears whole or not at all.
Outcome SavetoJPEG(const std::string& bmp_path, const std::string& jpeg_path, uint8_t quality,
                   int32_t progressive);

/// Writes `directory`/live2.bmp from the surface and `directory`/live2.jpg from that file (the
/// working directory when `directory` is empty). Fails, saying why, if either file was not written.
Outcome ExportSnapshot(const PictureSurface& picture, const std::string& directory = "");

/// Writes `image` (32-bit RGB) as a JPEG of `quality` to `path`, whole or not at all, unflushed.
Outcome SaveImageJpeg(const QImage& image, const std::string& path, uint8_t quality = 90);

inline constexpr const char* kSnapshotBmp = "live2.bmp";
inline constexpr const char* kSnapshotJpeg = "live2.jpg";
