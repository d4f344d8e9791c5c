#include "display/snapshot_export.h"

#include <memory>
#include <mutex>
#include <vector>

#include <turbojpeg.h>

#include "base/second_core.h"
#include "display/bmp_encoding.h"
#include "base/atomic_file.h"

namespace {

// Encoders kept for reuse (starting one allocates its tables every time), handed to whichever
// thread encodes. They are not kept per thread: one destroyed as its thread ended crashed the
// Windows build, and none is destroyed at all, since the process's end frees them.
class EncoderShelf {
 public:
  void* Take() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!idle_.empty()) {
        void* encoder = idle_.back();
        idle_.pop_back();
        return encoder;
      }
    }
    return tjInitCompress();
  }
  void Return(void* encoder) {
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.push_back(encoder);
  }

 private:
  std::mutex mutex_;
  std::vector<void*> idle_;
};

EncoderShelf& Encoders() {
  static EncoderShelf* shelf = new EncoderShelf;
  return *shelf;
}

// An encoder of the shelf for one encoding.
class BorrowedEncoder {
 public:
  BorrowedEncoder() : handle_(Encoders().Take()) {}
  ~BorrowedEncoder() {
    if (handle_) Encoders().Return(handle_);
  }
  BorrowedEncoder(const BorrowedEncoder&) = delete;
  BorrowedEncoder& operator=(const BorrowedEncoder&) = delete;
  void* get() const { return handle_; }

 private:
  void* handle_;
};

struct TjBufferFree {
  void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

std::string TjReason(void* handle) { return tjGetErrorStr2(handle); }

using JpegBytes = std::unique_ptr<unsigned char, TjBufferFree>;

// Encodes `height` rows of packed pixels; `size` is set to the JPEG's length.
Outcome EncodeJpeg(const unsigned char* pixels, int width, int pitch, int height, int format, uint8_t quality,
                   int32_t progressive, JpegBytes& jpeg, unsigned long& size) {
  const BorrowedEncoder encoder;
  if (!encoder.get()) return Outcome::Failure("cannot start the JPEG encoder");
  unsigned char* bytes = nullptr;
  size = 0;
  const int flags = progressive != 0 ? TJFLAG_PROGRESSIVE : 0;
  const int status = tjCompress2(encoder.get(), pixels, width, pitch, height, format, &bytes, &size, TJSAMP_444,
                                 quality, flags);
  jpeg.reset(bytes);
  if (status != 0) return Outcome::Failure("cannot encode the JPEG: " + TjReason(encoder.get()));
  return Outcome::Success();
}

// Writes the JPEG so that it appears whole or not at all. It is not flushed to the disk: it is
// read back at once for the upload and made anew every cycle, and a flush would cost the cycle
// milliseconds on a slow card.
Outcome WriteJpeg(const JpegBytes& jpeg, unsigned long size, const std::string& jpeg_path) {
  const Outcome written = WriteFileAtomically(jpeg_path, jpeg.get(), size, 0644, Durability::kReplaceOnly);
  if (!written.ok) return Outcome::Failure(jpeg_path + ": " + written.reason);
  return written;
}

}  // namespace

namespace {

Outcome EncodeImage(const QImage& image, uint8_t quality, JpegBytes& jpeg, unsigned long& size) {
  if (image.format() != QImage::Format_RGB32) return Outcome::Failure("the picture is not a 32-bit RGB raster");
  return EncodeJpeg(image.constBits(), image.width(), static_cast<int>(image.bytesPerLine()), image.height(),
                    TJPF_BGRX, quality, 0, jpeg, size);
}

}  // namespace

Outcome SaveImageJpeg(const QImage& image, const std::string& path, uint8_t quality) {
  JpegBytes jpeg;
  unsigned long size = 0;
  if (Outcome encoded = EncodeImage(image, quality, jpeg, size); !encoded.ok) return encoded;
  return WriteJpeg(jpeg, size, path);
}

Outcome SavetoJPEG(const std::string& bmp_path, const std::string& jpeg_path, uint8_t quality,
                   int32_t progressive) {
  int width = 0, height = 0, format = TJPF_UNKNOWN;
  std::unique_ptr<unsigned char, TjBufferFree> pixels(
      tjLoadImage(bmp_path.c_str(), &width, 1, &height, &format, 0));
  if (!pixels) return Outcome::Failure("cannot read " + bmp_path + ": " + TjReason(nullptr));
  JpegBytes jpeg;
  unsigned long size = 0;
  const Outcome encoded = EncodeJpeg(pixels.get(), width, 0, height, format, quality, progressive, jpeg, size);
  return encoded.ok ? WriteJpeg(jpeg, size, jpeg_path) : encoded;
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
  // The BMP is encoded and written on a second core while this one encodes the JPEG; both only
  // read the picture, and the thread has its own reference to it. It is written over the earlier file, as
  // before, but without first cutting that to nothing: ext4 starts writing back a file that is
  // truncated and written again when it is closed, which cost more than the rest of the export.
  const auto save_bmp = [image, bmp] {
    const std::vector<uint8_t> bytes = EncodeBmp24(image);
    const Outcome written = OverwriteFile(bmp, bytes.data(), bytes.size());
    return written.ok ? written : Outcome::Failure("cannot write " + bmp + ": " + written.reason);
  };
  Outcome bmp_written = Outcome::Failure("cannot write " + bmp);
  SecondCoreTask bmp_task([&] { bmp_written = save_bmp(); });
  JpegBytes jpeg;
  unsigned long size = 0;
  const Outcome encoded = EncodeJpeg(image.constBits(), image.width(), static_cast<int>(image.bytesPerLine()),
                                     image.height(), TJPF_BGRX, 50, 0, jpeg, size);
  // As before, no new JPEG without its BMP.
  bmp_task.Join();
  if (!bmp_written.ok) return bmp_written;
  return encoded.ok ? WriteJpeg(jpeg, size, prefix + kSnapshotJpeg) : encoded;
}
