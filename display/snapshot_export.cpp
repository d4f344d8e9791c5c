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

}  // namespace

Outcome SavetoJPEG(const std::string& bmp_path, const std::string& jpeg_path, uint8_t quality,
                   int32_t progressive) {
  int width = 0, height = 0, format = TJPF_UNKNOWN;
  std::unique_ptr<unsigned char, TjBufferFree> pixels(
      tjLoadImage(bmp_path.c_str(), &width, 1, &height, &format, 0));
  if (!pixels) return Outcome::Failure("cannot read " + bmp_path + ": " + TjReason(nullptr));

  std::unique_ptr<void, TjHandleCloser> encoder(tjInitCompress());
  if (!encoder) return Outcome::Failure("cannot start the JPEG encoder");
  unsigned char* jpeg = nullptr;
  unsigned long jpeg_size = 0;
  const int flags = progressive != 0 ? TJFLAG_PROGRESSIVE : 0;
  const int status = tjCompress2(encoder.get(), pixels.get(), width, 0, height, format, &jpeg,
                                 &jpeg_size, TJSAMP_444, quality, flags);
  std::unique_ptr<unsigned char, TjBufferFree> owned_jpeg(jpeg);
  if (status != 0) return Outcome::Failure("cannot encode the JPEG: " + TjReason(encoder.get()));

  const Outcome written = WriteFileAtomically(jpeg_path, jpeg, jpeg_size, 0644);
  if (!written.ok) return Outcome::Failure(jpeg_path + ": " + written.reason);
  return written;
}

Outcome ExportSnapshot(const PictureSurface& picture, const std::string& directory) {
  const std::string prefix = directory.empty() ? "" : directory + "/";
  const std::string bmp = prefix + kSnapshotBmp;
  if (!picture.SavePicture(bmp)) return Outcome::Failure("cannot write " + bmp);
  return SavetoJPEG(bmp, prefix + kSnapshotJpeg, 50, 0);
}
