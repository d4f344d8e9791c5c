// Runs FITS frames through one frame store in order, as the station does (read, display range,
// rendering), and prints one JSON line per file. See the README for the options.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "display/display_range.h"
#include "display/frame_render.h"
#include "display/picture_surface.h"
#include "fits/fits_reader.h"
#include "fits/text_numbers.h"
#include "fits/fits_writer.h"
#include "tools/json_line.h"

namespace {

// The station shows header errors in a box; the tool puts them into the JSON line instead.
class SilentSink : public HeaderErrorSink {
 public:
  void ShowHeaderError(const std::string&) override {}
};

const char* ResultName(ReadStatus status) {
  switch (status) {
    case ReadStatus::kOk: return "ok";
    case ReadStatus::kHeaderError: return "header error";
    case ReadStatus::kFileError: return "file error";
  }
  return "?";
}

int Usage() {
  std::fprintf(stderr,
               "usage: frametool FILE... [--range R] [--background B] [--picture OUT.bmp]"
               " [--archive OUT.fts]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  std::string archive, picture_path, range_text = "10", background_text = "1.5";
  for (int i = 1; i < argc; ++i) {
    std::string* option = nullptr;
    if (std::strcmp(argv[i], "--archive") == 0) option = &archive;
    if (std::strcmp(argv[i], "--picture") == 0) option = &picture_path;
    if (std::strcmp(argv[i], "--range") == 0) option = &range_text;
    if (std::strcmp(argv[i], "--background") == 0) option = &background_text;
    if (option) {
      if (++i == argc) return Usage();
      *option = argv[i];
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.empty()) return Usage();

  static FrameStore store;  // 9.4 MB: not on the stack
  FrameReader reader;
  SilentSink sink;
  PictureSurface picture;
  store.RangeFactor = NumericValueOfText(range_text);
  store.BackgroundFactor = NumericValueOfText(background_text);
  for (const std::string& file : files) {
    store.LiveFilePath = file;
    const ReadResult result = reader.ReadLiveFrame(store, sink);
    // The station goes on after a header error with what the store holds; a file error ends its
    // cycle, and so it ends this file's run here.
    const bool draws = result.status != ReadStatus::kFileError;
    int32_t range_low = store.DisplayLow, range_span = store.DisplaySpan;
    if (draws) {
      ComputeDisplayRange(store);
      range_low = store.DisplayLow;
      range_span = store.DisplaySpan;
      RenderFrame(store, picture);
    }
    JsonLine line;
    line.Text("file", file)
        .Text("result", ResultName(result.status))
        .Text("message", result.message)
        .Number("BitPix", store.BitPix)
        .Number("Naxis1", store.Naxis1)
        .Number("Naxis2", store.Naxis2)
        .Number("BZero", store.BZero)
        .Number("BScale", store.BScale)
        .Number("HeaderCardCount", store.HeaderCardCount)
        .Number("PixelMin", store.PixelMin)
        .Number("PixelMax", store.PixelMax)
        .Number("DisplayLowAfterRange", range_low)
        .Number("DisplaySpanAfterRange", range_span)
        .Number("DisplayLowAfterRescale", store.DisplayLow)
        .Number("DisplaySpanAfterRescale", store.DisplaySpan);
    std::printf("%s\n", line.Finish().c_str());
  }
  if (!picture_path.empty() && !picture.SavePicture(picture_path)) {
    std::fprintf(stderr, "frametool: cannot write %s\n", picture_path.c_str());
    return 1;
  }
  if (!archive.empty()) {
    store.ArchiveFilePath = archive;
    const Outcome written = WriteArchiveFrame(store);
    if (!written.ok) {
      std::fprintf(stderr, "frametool: archive not written: %s\n", written.reason.c_str());
      return 1;
    }
  }
  return 0;
}
