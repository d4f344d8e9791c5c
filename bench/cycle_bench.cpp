// The whole live cycle as the station runs it, for the frame sizes and sample widths cameras
// deliver: read -> range -> render -> letter -> BMP -> JPEG -> upload to a loopback FTP server.
// usage: cycle_bench WIDTH HEIGHT BITPIX REPEATS   (prints the mean milliseconds per cycle)

#include <QGuiApplication>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/sample_frames.h"
#include "display/display_range.h"
#include "display/frame_render.h"
#include "display/lettering.h"
#include "display/snapshot_export.h"
#include "fits/fits_reader.h"
#include "publish/ftp_client.h"
#include "tests/support/server_process.h"
#include "tests/support/temp_dir.h"

namespace {

class NoSink : public HeaderErrorSink {
 public:
  void ShowHeaderError(const std::string&) override {}
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: cycle_bench WIDTH HEIGHT BITPIX REPEATS\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const int width = std::stoi(argv[1]), height = std::stoi(argv[2]), bitpix = std::stoi(argv[3]);
  const int repeats = std::stoi(argv[4]);

  TempDir dir;
  std::filesystem::create_directories(dir.File("root/homepage"));
  PyFtpServer server(dir.File("root"));
  static FrameStore store;
  store.LiveFilePath = WriteSkyFits(dir.File("live.fts"), width, height, bitpix);
  store.RangeFactor = 10;
  store.BackgroundFactor = 1.5;
  FrameReader reader;
  NoSink sink;
  PictureSurface picture;
  FtpClient ftp;
  if (ftp.FtpConnect(server.address(), "observer", "secret") != -1 || ftp.FtpSetCD("/homepage") != -1) {
    std::fprintf(stderr, "cycle_bench: cannot reach the loopback server\n");
    return 1;
  }
  const std::string jpeg = dir.File(kSnapshotJpeg);
  const auto cycle = [&] {
    reader.ReadLiveFrame(store, sink);
    ComputeDisplayRange(store);
    RenderFrame(store, picture);
    LetterPicture(picture, "Tamsel Observatory", "02-14-2007 21:05:09");
    ExportSnapshot(picture, dir.path().string());
    return ftp.FtpPutBin(jpeg, kSnapshotJpeg) == -1;
  };
  cycle();  // warm the page cache and the connection
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < repeats; ++i)
    if (!cycle()) {
      std::fprintf(stderr, "cycle_bench: upload failed: %d\n", ftp.FtpGetLastError());
      return 1;
    }
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.2f\n", ms / repeats);
  return 0;
}
