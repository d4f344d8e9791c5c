#include "display/snapshot_export.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>

#include <QFontInfo>

#include <gtest/gtest.h>

#include "display/frame_render.h"
#include "display/lettering.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

// A rendered gradient with a red caption and stamp, like every live picture.
void DrawLivePicture(PictureSurface& picture) {
  static FrameStore store;
  store.Naxis1 = 423;
  store.Naxis2 = 316;
  for (int y = 0; y < 316; ++y)
    for (int x = 0; x < 423; ++x) store.Pixel(x, y) = x + y;
  store.DisplayLow = 0;
  store.DisplaySpan = 740;
  store.RangeFactor = 1;
  store.BackgroundFactor = 1;
  RenderFrame(store, picture);
  LetterPicture(picture, QString::fromUtf8("国立天文台 Site"), "02-14-2007 21:05:09");
}

std::string Peer(const std::string& arguments) {
  std::string output;
  const int status = RunCommand(std::string(kPython) + " " + TestScript("image_peer.py") + " " + arguments + " 2>&1", &output);
  return status == 0 ? output : "FAILED: " + output;
}

TEST(SnapshotExport, BmpHoldsTheExactPixelsAndJpegDecodesClose) {
  TempDir dir;
  PictureSurface picture;
  DrawLivePicture(picture);
  // Earlier files are replaced.
  WriteBytes(dir.File("live2.bmp"), std::vector<uint8_t>(10, 1));
  WriteBytes(dir.File("live2.jpg"), std::vector<uint8_t>(10, 1));
  const Outcome exported = ExportSnapshot(picture, dir.path().string());
  ASSERT_TRUE(exported.ok) << exported.reason;

  // The surface as raw RGB for the peer to compare against.
  std::vector<uint8_t> rgb;
  for (int y = 0; y < PictureSurface::kHeight; ++y)
    for (int x = 0; x < PictureSurface::kWidth; ++x) {
      const QRgb p = picture.Image().pixel(x, y);
      rgb.insert(rgb.end(), {static_cast<uint8_t>(qRed(p)), static_cast<uint8_t>(qGreen(p)), static_cast<uint8_t>(qBlue(p))});
    }
  WriteBytes(dir.File("surface.rgb"), rgb);
  EXPECT_EQ(Peer("same " + ShellQuote(dir.File("live2.bmp")) + " " + ShellQuote(dir.File("surface.rgb")) + " 423 316"),
            "exact\n");
  const std::string jpeg =
      Peer("close " + ShellQuote(dir.File("live2.jpg")) + " " + ShellQuote(dir.File("surface.rgb")) + " 423 316");
  EXPECT_EQ(jpeg.rfind("close", 0), 0u) << jpeg;

  // djpeg, an independent decoder, reads it as a baseline JPEG of the same size.
  std::string header;
  ASSERT_EQ(RunCommand("djpeg -verbose -verbose -outfile /dev/null " + ShellQuote(dir.File("live2.jpg")) + " 2>&1", &header), 0);
  EXPECT_NE(header.find("Start Of Frame 0xc0: width=423, height=316, components=3"), std::string::npos)
      << "a baseline frame of the surface's size: " << header;
  EXPECT_NE(header.find("Component 1: 1hx1v"), std::string::npos) << "no chroma subsampling: " << header;

  // Encoded from memory, the JPEG is byte for byte the one converted from the BMP file.
  ASSERT_TRUE(SavetoJPEG(dir.File("live2.bmp"), dir.File("from-bmp.jpg"), 50, 0).ok);
  EXPECT_EQ(ReadBytes(dir.File("live2.jpg")), ReadBytes(dir.File("from-bmp.jpg")));
}

TEST(SnapshotExport, FailuresAreReportedAndLeaveNoHalfJpeg) {
  TempDir dir;
  PictureSurface picture;
  Outcome result = ExportSnapshot(picture, dir.File("missing"));
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.reason.find("live2.bmp"), std::string::npos);

  // A BMP that is not a picture: the conversion fails and an earlier JPEG stays whole.
  WriteBytes(dir.File("live2.bmp"), std::vector<uint8_t>(100, 7));
  WriteBytes(dir.File("live2.jpg"), std::vector<uint8_t>{1, 2, 3});
  result = SavetoJPEG(dir.File("live2.bmp"), dir.File("live2.jpg"), 50, 0);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(ReadBytes(dir.File("live2.jpg")), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);

  // No new JPEG without its BMP; a FIFO in the BMP's place is refused at once, not waited on.
  std::filesystem::remove(dir.File("live2.bmp"));
#ifdef _WIN32
  // Windows keeps no FIFO among files: a folder stands in the BMP's place.
  ASSERT_TRUE(std::filesystem::create_directory(dir.File("live2.bmp")));
#else
  ASSERT_EQ(mkfifo(dir.File("live2.bmp").c_str(), 0644), 0);
#endif
  EXPECT_FALSE(ExportSnapshot(picture, dir.path().string()).ok);
  EXPECT_EQ(ReadBytes(dir.File("live2.jpg")), (std::vector<uint8_t>{1, 2, 3}));
  std::filesystem::remove(dir.File("live2.bmp"));

  // An earlier JPEG is replaced without a trace of it or of the new one's temporary name; a
  // directory in its place is refused and stays.
  ASSERT_TRUE(ExportSnapshot(picture, dir.path().string()).ok);
  EXPECT_NE(ReadBytes(dir.File("live2.jpg")), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
#ifdef _WIN32
  // Windows refuses to replace a read-only file, and the refusal says so, at once.
  const std::vector<uint8_t> kept = ReadBytes(dir.File("live2.jpg"));
  std::filesystem::permissions(dir.File("live2.jpg"), std::filesystem::perms::owner_write, std::filesystem::perm_options::remove);
  result = ExportSnapshot(picture, dir.path().string());
  EXPECT_NE(result.reason.find("read-only"), std::string::npos) << result.reason;
  EXPECT_EQ(ReadBytes(dir.File("live2.jpg")), kept);
  std::filesystem::permissions(dir.File("live2.jpg"), std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
#endif
  std::filesystem::remove(dir.File("live2.jpg"));
  std::filesystem::create_directory(dir.File("live2.jpg"));
  result = ExportSnapshot(picture, dir.path().string());
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("live2.jpg")));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

TEST(Lettering, StampLiesInsideTheSurfaceInRed) {
  const QFontInfo resolved(PictureSurface::LetteringFont());
  EXPECT_TRUE(resolved.fixedPitch() || resolved.family().contains("Gothic")) << resolved.family().toStdString();

  PictureSurface picture;
  picture.Cls();
  LetterPicture(picture, "", "02-14-2007 21:05:09");
  const QImage& image = picture.Image();
  const uint32_t face = ToArgb(PictureSurface::kFaceColour);
  int left = 1000, top = 1000, right = -1, bottom = -1, red = 0, other = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QRgb p = image.pixel(x, y);
      if (p == face) continue;
      left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
      (qRed(p) > 200 && qGreen(p) < 120 && qBlue(p) < 120 ? red : other)++;
    }
  ASSERT_GT(red, 200) << "the stamp has ink";
  EXPECT_GE(left, 132);  // 200 user units across 640 of 423 pixels
  EXPECT_GE(top, 286);
  EXPECT_LT(right, PictureSurface::kWidth - 1) << "not cut at the right edge";
  EXPECT_LT(bottom, PictureSurface::kHeight - 1) << "not cut at the bottom edge";
  EXPECT_LT(other, red) << "ink is red, antialiased edges aside";
  // Nothing at the caption position for an empty caption.
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 100; ++x) ASSERT_EQ(image.pixel(x, y), face);
}

}  // namespace
