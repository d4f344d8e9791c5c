#include "display/snapshot_export.h"

#include <memory>

#include <turbojpeg.h>

#include "fits/atomic_file.h"

namespace {

struct TjHandleCloser {
  void operator()(void* handle) const { tjDestroy(handle); }
};
struct TjBufferFree {
  void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

std::string TjReason(void* handle) { return tjGetErrorStr2(handle); }

// Encodes `height` rows of packed pixels and writes the JPEG so that it appears whole or not at
// all. It is not flushed to the disk: it is read back at once for the upload and made anew
// every cycle, and a flush would cost the cycle milliseconds on a slow card.
Outcome EncodeJpeg(const unsigned char* pixels, int width, int pitch, int height, int format,
                   const std::string& jpeg_path, uint8_t quality, int32_t progressive) {
  // One encoder for the thread's whole run: starting one allocates its tables every time.
  static thread_local std::unique_ptr<void, TjHandleCloser> encoder(tjInitCompress());
  if (!encoder) return Outcome::Failure("cannot start the JPEG encoder");
  unsigned char* jpeg = nullptr;
  unsigned long jpeg_size = 0;
  const int flags = progressive != 0 ? TJFLAG_PROGRESSIVE : 0;
  const int status = tjCompress2(encoder.get(), pixels, width, pitch, height, format, &jpeg, &jpeg_size,
                                 TJSAMP_444, quality, flags);
  std::unique_ptr<unsigned char, TjBufferFree> owned_jpeg(jpeg);
  if (status != 0) return Outcome::Failure("cannot encode the JPEG: " + TjReason(encoder.get()));

  const Outcome written = WriteFileAtomically(jpeg_path, jpeg, jpeg_size, 0644, Durability::kReplaceOnly);
  if (!written.ok) return Outcome::Failure(jpeg_path + ": " + written.reason);
  return written;
}

}  // namespace

Outcome SavetoJPEG(const std::string& bmp_path, const std::string& jpeg_path, uint8_t quality,
                   int32_t progressive) {
  int width = 0, height = 0, format = TJPF_UNKNOWN;
  std::unique_ptr<unsigned char, TjBufferFree> pixels(
      tjLoadImage(bmp_path.c_str(), &width, 1, &height, &format, 0));
  if (!pixels) return Outcome::Failure("cannot read " + bmp_path + ": " + TjReason(nullptr));
  return EncodeJpeg(pixels.get(), width, 0, height, format, jpeg_path, quality, progressive);
}

Outcome ExportSnapshot(const PictureSurface& picture, const std::string& directory) {
  const std::string prefix = directory.empty() ? "" : directory + "/";
  const std::string bmp = prefix + kSnapshotBmp;
  // The JPEG is encoded from the very pixels that the BMP holds, without reading the BMP back and
  // without a converted copy: the surface's 0xFFRRGGBB words are B, G, R, X in memory, and a
  // 24-bit BMP is what the surface's format is saved as.
  const QImage& image = picture.Image();
  static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "the surface's words are read as B, G, R, X bytes");
  if (image.format() != QImage::Format_RGB32) return Outcome::Failure("the picture is not a 32-bit RGB raster");
  if (!image.save(QString::fromStdString(bmp), "BMP")) return Outcome::Failure("cannot write " + bmp);
  return EncodeJpeg(image.constBits(), image.width(), static_cast<int>(image.bytesPerLine()), image.height(), TJPF_BGRX,
                    prefix + kSnapshotJpeg, 50, 0);
}
